#include "uSchemaCompile.h"

#include "uErrors.h"
#include "uFiles.h"
#include "uLogger.h"
#include "ixml.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTime>

// ---------------------------------------------------------------- TLabelList

void TLabelList::Clear() {
  FByKey.clear();
  FByOffset.clear();
}

bool TLabelList::Add(const QString &Name, int Offset) {
  if (!FByKey.emplace(Name.toLower(), std::make_pair(Name, Offset)).second)
    return false;
  FByOffset.emplace(Offset, Name);
  return true;
}

int TLabelList::Find(const QString &Name) const {
  const auto it = FByKey.find(Name.toLower());
  return it == FByKey.end() ? -1 : it->second.second;
}

QStringList TLabelList::At(int Offset) const {
  QStringList names;
  const auto range = FByOffset.equal_range(Offset);
  for (auto it = range.first; it != range.second; ++it)
    names << it->second;
  if (names.size() > 1)
    std::sort(names.begin(), names.end(),
              [](const QString &A, const QString &B) { return A.toLower() < B.toLower(); });
  return names;
}

// ---------------------------------------------------------------- helpers

static QString Hex4(uint32_t Value) { return QString("%1").arg(Value, 4, 16, QChar('0')).toUpper(); }

static QString Now() { return QTime::currentTime().toString("hh:mm:ss.zzz"); }

static QStringList LoadLines(const QString &FileName) {
  TXStringList l;
  l.LoadFromFile(FileName);
  return l.GetStrings();
}

static void SaveLines(const QString &FileName, const QStringList &Lines) {
  TXStringList l;
  l.GetStrings() = Lines;
  l.SaveToFile(FileName);
}

// Adds the source line number to a failure of the line's parse or encoding.
[[noreturn]] static void RethrowAtLine(const EKvError &E, int LineNo) {
  if (dynamic_cast<const EKvFormat *>(&E))
    throw EKvFormat(QString("%1, line %2").arg(E.Text()).arg(LineNo));
  throw;
}

// ---------------------------------------------------------------- TSchemaCompile

TSchemaCompile::TSchemaCompile(const TSchemaCode &Code) : FCode(Code) {}

QString TSchemaCompile::OutPath(const QString &Name) const {
  const QString folder = WorkFolder.isEmpty() ? QDir::currentPath() : WorkFolder;
  if (QDir::isAbsolutePath(Name))
    return Name;
  return ResolveFileNameCI(folder, Name);
}

uint16_t TSchemaCompile::ReadWord(int Delta) const {
  const qsizetype pos = CodeStream.size() + Delta;
  KvCheck(pos >= 0 && pos + 1 < CodeStream.size(), "src/custom/uSchemaCompile: ReadWord outside the code");
  return uint16_t(uint8_t(CodeStream[pos]) | (uint8_t(CodeStream[pos + 1]) << 8));
}

int TSchemaCompile::ListLabels(int Offset) {
  const QStringList names = Labels.At(Offset);
  for (const QString &name : names)
    Listing << QString(16, ' ') + name + ":";
  return int(names.size());
}

void TSchemaCompile::Assemble(int Alignment) {
  Lines = LoadLines(OutPath(AsmFileName));
  Listing.clear();
  CodeStream.clear();
  Opers.clear();
  Labels.Clear();
  // Stale outputs vanish at once, so a failed run never leaves the last good code.
  const QString binPath = OutPath("generated.bin");
  const QString lstPath = OutPath("generated.lst");
  SaveFileBytes(binPath, QByteArray());
  SaveFileBytes(lstPath, QByteArray());
  try {
    if (Alignment <= 0)
      throw EKvError("invalid alignment");
    QElapsedTimer watch;
    watch.start();
    Listing << "started at " + Now();

    const int count = int(Lines.size());
    int first = 0;
    while (first < count && !Lines[first].startsWith(QLatin1String(";;")))
      ++first;
    int start = first + 1;
    Ip = 0;
    int reported = 0;
    while (start < count) {
      int next = start + 1;
      while (next < count && !Lines[next].startsWith(QLatin1String(";;")))
        ++next;
      AssembleBlock(start, next - 1);
      start = next;
      if (start / 500 != reported) {
        if (OnProgress)
          OnProgress(start, count, 0xFFFFFF);
        reported = start / 500;
      }
    }
    // The device reads the code in whole blocks; the erased-FLASH value fills the rest.
    const qsizetype padded = (CodeStream.size() + Alignment - 1) / Alignment * Alignment;
    CodeStream.append(QByteArray(padded - CodeStream.size(), char(0xFF)));

    Listing << "duration, ms " + QString::number(watch.elapsed());
    Listing << "finished at " + Now();
  } catch (const EKvError &) {
    try {
      SaveLines(lstPath, Listing);
    } catch (const EKvError &e) {
      Logger().Error(e.Text());
    }
    throw;
  }
  SaveFileBytes(binPath, CodeStream);
  SaveLines(lstPath, Listing);
}

void TSchemaCompile::AssembleBlock(int First, int Last) {
  Labels.Clear();
  Opers.clear();
  std::vector<int> operLines; // source line number (from 1) of each instruction
  int offset = 0;
  const QString header = Lines.value(First);

  for (int i = First; i <= Last; ++i) {
    const QString &line = Lines[i];
    if (line.isEmpty())
      continue;
    if (line.startsWith(QLatin1String(";;")))
      Listing << line;
    try {
      auto oper = ParseAsmLine(FCode, line);
      if (!oper->Label.isEmpty()) {
        if (!Labels.Add(oper->Label, offset))
          throw EKvFormat("Duplicate label " + oper->Label);
      }
      if (oper->Command) {
        offset += oper->Command->ByteSize;
        Opers.push_back(std::move(oper));
        operLines.push_back(i + 1);
      }
    } catch (const EKvError &e) {
      // The listing ends with the failure, as in the second pass.
      Listing << "error while compiling " + header;
      Listing << QString("line %1 %2: %3").arg(i + 1).arg(line, e.Text());
      RethrowAtLine(e, i + 1);
    }
  }

  offset = 0;
  for (size_t n = 0; n < Opers.size(); ++n) {
    TOper &o = *Opers[n];
    const TCommand &c = *o.Command;
    const QString up = c.Op.toUpper();
    try {
      QString distanceWarning;
      const int arg1Label = o.Arg1.isEmpty() ? -1 : Labels.Find(o.Arg1);
      if (arg1Label >= 0) {
        // Words from the next instruction, as relative jumps and calls count.
        const int distance = (arg1Label - (offset + c.ByteSize)) / 2;
        if (!IsJumpCommand(c) && c.Op != "RCALL")
          distanceWarning = QString("warning: label %1 taken as a word distance by %2: %3")
                                .arg(o.Arg1, c.Op, o.Line);
        o.Arg1 = QString::number(distance);
      }
      if ((IsJumpCommand(c) && c.Op != "JMP") || c.Op == "RCALL") {
        const int32_t value = AsmStrToInt(o.Arg1);
        const bool isLong = c.Op == "RJMP" || c.Op == "RCALL";
        const int low = isLong ? -2047 : -63, high = isLong ? 2047 : 62;
        if (value < low || value > high)
          throw EKvFormat(QString("Invalid relative addr: %1, cmd: %2, at ip: %3").arg(o.Arg1, c.Op, Hex4(offset)));
      }
      const int arg2Label = o.Arg2.isEmpty() ? -1 : Labels.Find(o.Arg2);
      if (arg2Label >= 0) {
        const uint32_t wordAddress = (Ip - offset + arg2Label) / 2;
        if (up == "LDIL")
          o.Arg2 = QString::number(wordAddress & 0xFF);
        else if (up == "LDIH")
          o.Arg2 = QString::number((wordAddress >> 8) & 0xFF);
        else
          throw EKvFormat("invalid arg2");
      } else if (up == "LDIH") {
        o.Arg2 = QString::number((uint32_t(AsmStrToInt(o.Arg2)) >> 8) & 0xFF);
      }
      o.Generate(CodeStream);
      ListLabels(offset);
      offset += c.ByteSize;
      Ip += c.ByteSize;
      const bool isLong = c.ByteSize == 4;
      const qsizetype words = CodeStream.size() / 2;
      QString listed = Hex4(uint32_t(words - (isLong ? 2 : 1))) + "   ";
      if (isLong)
        listed += Hex4(ReadWord(-4)) + " " + Hex4(ReadWord(-2));
      else
        listed += Hex4(ReadWord(-2)) + "     ";
      Listing << listed + o.Line;
      if (!distanceWarning.isEmpty()) {
        Listing << distanceWarning;
        Logger().Info(distanceWarning);
      }
    } catch (const EKvError &e) {
      Listing << "error while compiling " + header;
      Listing << QString("oper %1 %2").arg(n).arg(o.Line);
      RethrowAtLine(e, operLines[n]);
    }
  }
  if (ListLabels(offset) == 0)
    Listing << QString();
}
