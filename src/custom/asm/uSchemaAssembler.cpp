#include "uSchemaAssembler.h"

#include "uErrors.h"
#include "uFiles.h"
#include "uTextCodec.h"
#include "uLogger.h"
#include "ixml.h"

#include <QDir>
#include <QFile>
#include <QElapsedTimer>
#include <QTime>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

// ---------------------------------------------------------------- TLabelList

namespace {
// Blocks hold a few labels; a list this long is searched through an index.
constexpr size_t LinearLabelLimit = 16;

char LowerAscii(char C) { return C >= 'A' && C <= 'Z' ? char(C - 'A' + 'a') : C; }

bool SameName(std::string_view A, std::string_view B) {
  if (A.size() != B.size())
    return false;
  for (size_t i = 0; i < A.size(); ++i)
    if (LowerAscii(A[i]) != LowerAscii(B[i]))
      return false;
  return true;
}

std::string LowerKey(std::string_view Name) {
  std::string key(Name);
  for (char &c : key)
    c = LowerAscii(c);
  return key;
}

// Takes a stale output away at once, so that a failed run never leaves the
// last good code; the run then saves each output once. A write-protected
// output is refused, as saving over it is.
void DropOutput(const QString &Path) {
  const QByteArray name = QFile::encodeName(Path);
  struct stat st;
  if (::stat(name.constData(), &st) != 0)
    return;
  const int err = S_ISREG(st.st_mode) && !(st.st_mode & 0222) ? EACCES : ::unlink(name.constData()) != 0 ? errno : 0;
  if (err != 0 && err != ENOENT)
    throw EKvError(QString("cannot save %1: %2").arg(Path, QString::fromLocal8Bit(std::strerror(err))));
}
} // namespace

void TLabelList::Clear() {
  FItems.clear();
  FIndex.clear();
}

bool TLabelList::Add(std::string_view Name, int Offset) {
  if (Find(Name) >= 0)
    return false;
  FItems.push_back({Name, Offset});
  if (!FIndex.empty())
    FIndex.emplace(LowerKey(Name), int(FItems.size()) - 1);
  return true;
}

int TLabelList::Find(std::string_view Name) const {
  if (FItems.size() <= LinearLabelLimit) {
    for (const TItem &item : FItems)
      if (SameName(item.Name, Name))
        return item.Offset;
    return -1;
  }
  if (FIndex.size() != FItems.size()) {
    FIndex.clear();
    for (size_t i = 0; i < FItems.size(); ++i)
      FIndex.emplace(LowerKey(FItems[i].Name), int(i));
  }
  const auto it = FIndex.find(LowerKey(Name));
  return it == FIndex.end() ? -1 : FItems[size_t(it->second)].Offset;
}

// ---------------------------------------------------------------- helpers

static QString Hex4(uint32_t Value) { return QString("%1").arg(Value, 4, 16, QChar('0')).toUpper(); }

// The same digits (at least four, upper case) written at Out; returns their end.
static char *PutHex4(char *Out, uint32_t Value) {
  int n = 4;
  while (n < 8 && (Value >> (4 * n)) != 0)
    ++n;
  for (int i = n - 1; i >= 0; --i)
    *Out++ = "0123456789ABCDEF"[(Value >> (4 * i)) & 15];
  return Out;
}

static QString Now() { return QTime::currentTime().toString("hh:mm:ss.zzz"); }

static bool IsAsciiText(const QByteArray &Bytes) {
  return std::all_of(Bytes.cbegin(), Bytes.cend(), [](char C) { return uint8_t(C) < 0x80; });
}

// Adds the source line number to a failure of the line's parse or encoding.
[[noreturn]] static void RethrowAtLine(const EKvError &E, int LineNo) {
  if (dynamic_cast<const EKvFormat *>(&E))
    throw EKvFormat(QString("%1, line %2").arg(E.Text()).arg(LineNo));
  throw;
}

// ---------------------------------------------------------------- TSchemaAssembler

TSchemaAssembler::TSchemaAssembler(const TSchemaCode &Code) : FCode(Code) {}

QString TSchemaAssembler::OutPath(const QString &Name) const {
  const QString folder = WorkFolder.isEmpty() ? QDir::currentPath() : WorkFolder;
  if (QDir::isAbsolutePath(Name))
    return Name;
  return ResolveFileNameCI(folder, Name);
}

uint16_t TSchemaAssembler::ReadWord(int Delta) const {
  const qsizetype pos = CodeStream.size() + Delta;
  KvCheck(pos >= 0 && pos + 1 < CodeStream.size(), "src/custom/asm/uSchemaAssembler: ReadWord outside the code");
  return uint16_t(uint8_t(CodeStream[pos]) | (uint8_t(CodeStream[pos + 1]) << 8));
}

void TSchemaAssembler::LoadSource(const QString &FileName) {
  // A source is Windows-1251 text, or UTF-8 after a byte-order mark. The
  // assembler reads it as bytes in Windows-1251, the code page the listing
  // is written in; only a source with other than ASCII characters is
  // converted (what the listing cannot hold becomes "?", as in any text
  // written in that code page).
  FRaw = LoadFileBytes(FileName);
  const bool isUtf8 = FRaw.startsWith("\xEF\xBB\xBF");
  FSource = isUtf8 ? FRaw.mid(3) : FRaw;
  if (!IsAsciiText(FSource))
    FSource = ToWin1251(isUtf8 ? QString::fromUtf8(FSource) : FromWin1251(FSource));
  // Lines end in CR LF, LF or CR; a line end closing the text adds no line.
  FLines.clear();
  const char *p = FSource.constData();
  const qsizetype n = FSource.size();
  qsizetype start = 0;
  if (!std::memchr(p, '\r', size_t(n))) {
    FLines.reserve(size_t(std::count(p, p + n, '\n')) + 1);
    // LF alone, as the generator writes: the line ends are found a block at a time.
    for (const char *e; (e = static_cast<const char *>(std::memchr(p + start, '\n', size_t(n - start))));) {
      FLines.push_back({start, (e - p) - start});
      start = (e - p) + 1;
    }
    if (start < n)
      FLines.push_back({start, n - start});
    return;
  }
  FLines.reserve(size_t(n / 16));
  for (qsizetype i = 0; i < n; ++i) {
    if (p[i] != '\r' && p[i] != '\n')
      continue;
    FLines.push_back({start, i - start});
    if (p[i] == '\r' && i + 1 < n && p[i + 1] == '\n')
      ++i;
    start = i + 1;
  }
  if (start < n)
    FLines.push_back({start, n - start});
}

QString TSchemaAssembler::LineText(int Index) {
  // Messages quote the line as the text reader gives it, so it is decoded
  // (the whole source, once) only when one is needed.
  if (FLineTexts.isEmpty()) {
    TXStringList l;
    l.SetText(FRaw.startsWith("\xEF\xBB\xBF") ? QString::fromUtf8(FRaw.mid(3)) : FromWin1251(FRaw));
    FLineTexts = l.GetStrings();
  }
  return FLineTexts.value(Index);
}

void TSchemaAssembler::ListLine(std::string_view Text) { ListLine(std::string_view(), Text); }

void TSchemaAssembler::ListLine(std::string_view Head, std::string_view Text) {
  // One append a line: the listing grows by a line per source line.
  char line[256];
  const size_t n = Head.size() + Text.size() + 2;
  if (n > sizeof line) {
    Listing.append(QByteArrayView(Head.data(), qsizetype(Head.size())));
    Listing.append(QByteArrayView(Text.data(), qsizetype(Text.size())));
    Listing.append("\r\n", 2);
    return;
  }
  std::copy(Head.begin(), Head.end(), line);
  std::copy(Text.begin(), Text.end(), line + Head.size());
  std::memcpy(line + Head.size() + Text.size(), "\r\n", 2);
  Listing.append(line, qsizetype(n));
}

void TSchemaAssembler::ListLine(const QString &Text) {
  // Most lines are ASCII, which the code page keeps as it is; the code page's
  // converter is loaded only for a line that needs it.
  if (std::all_of(Text.cbegin(), Text.cend(), [](QChar C) { return C.unicode() < 0x80; }))
    Listing.append(Text.toLatin1());
  else
    Listing.append(ToWin1251(Text));
  Listing.append("\r\n", 2);
}

int TSchemaAssembler::ListLabels(int Offset) {
  // Labels come by offset and each offset is asked for once, in order.
  std::vector<std::string_view> names;
  while (FLabelCursor < FLabels.Count() && FLabels.Offset(FLabelCursor) <= Offset) {
    if (FLabels.Offset(FLabelCursor) == Offset)
      names.push_back(FLabels.Name(FLabelCursor));
    ++FLabelCursor;
  }
  if (names.size() > 1)
    std::sort(names.begin(), names.end(), [](std::string_view A, std::string_view B) {
      return LowerKey(A) < LowerKey(B);
    });
  for (std::string_view name : names) {
    Listing.append(16, ' ');
    Listing.append(name.data(), qsizetype(name.size()));
    Listing.append(":\r\n", 3);
  }
  return int(names.size());
}

int32_t TSchemaAssembler::OperandValue(TSpan Span) const {
  const std::string_view text = Bytes(Span);
  uint64_t value = 0;
  bool ok = !text.empty();
  for (char c : text) {
    if (c < '0' || c > '9' || (value = value * 10 + uint64_t(c - '0')) > uint64_t(INT32_MAX)) {
      ok = false;
      break;
    }
  }
  if (!ok)
    throw EKvFormat("'" + QString::fromLatin1(text.data(), qsizetype(text.size())) + "' is not a valid integer value");
  return int32_t(value);
}

void TSchemaAssembler::Emit(const TInstr &Instr, int32_t V1, int32_t V2) {
  const TCommand &c = *Instr.Command;
  for (int argNo : {1, 2}) {
    const bool has = argNo == 1 ? c.HasArg1() : c.HasArg2();
    const int32_t v = argNo == 1 ? V1 : V2;
    if (has && !c.Fits(argNo, v))
      Logger().Info(QString("warning: operand %1 does not fit its %2-bit field: %3")
                        .arg(v)
                        .arg(c.FieldWidth(argNo))
                        .arg(LineText(Instr.LineIndex)));
  }
  c.Emit(uint16_t(V1), uint16_t(V2), CodeStream);
}

void TSchemaAssembler::Assemble(int Alignment) {
  LoadSource(OutPath(AsmFileName));
  FLineTexts.clear();
  Listing.clear();
  CodeStream.clear();
  FInstrs.clear();
  FLabels.Clear();
  // Stale outputs vanish at once, so a failed run never leaves the last good code.
  const QString binPath = OutPath("generated.bin");
  const QString lstPath = OutPath("generated.lst");
  DropOutput(binPath);
  DropOutput(lstPath);
  try {
    if (Alignment <= 0)
      throw EKvError("invalid alignment");
    QElapsedTimer watch;
    watch.start();
    // The listing repeats each line behind 20 characters of address and code.
    Listing.reserve(FSource.size() + qsizetype(FLines.size()) * 24 + 256);
    CodeStream.reserve(qsizetype(FLines.size()) * 4 + Alignment);
    ListLine("started at " + Now());

    const int count = int(FLines.size());
    auto isBlockHead = [&](int Index) { return Bytes(FLines[size_t(Index)]).substr(0, 2) == ";;"; };
    int first = 0;
    while (first < count && !isBlockHead(first))
      ++first;
    int start = first + 1;
    Ip = 0;
    int reported = 0;
    while (start < count) {
      int next = start + 1;
      while (next < count && !isBlockHead(next))
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

    ListLine("duration, ms " + QString::number(watch.elapsed()));
    ListLine("finished at " + Now());
  } catch (const EKvError &) {
    try {
      SaveFileSet({{binPath, QByteArray()}, {lstPath, Listing}});
    } catch (const EKvError &e) {
      Logger().Error(e.Text());
    }
    throw;
  }
  // The code and its listing go together, each synced once, and the folder once.
  SaveFileSet({{binPath, CodeStream}, {lstPath, Listing}});
}

void TSchemaAssembler::AssembleBlock(int First, int Last) {
  FLabels.Clear();
  FInstrs.clear();
  FLabelCursor = 0;
  int offset = 0;
  const std::string_view header = First < int(FLines.size()) ? Bytes(FLines[size_t(First)]) : std::string_view();
  auto fail = [&](const EKvError &E, const QString &Where, int LineIndex) {
    // The listing ends with the failure, in either pass.
    Listing.append("error while compiling ");
    ListLine(header);
    ListLine(Where);
    RethrowAtLine(E, LineIndex + 1);
  };

  for (int i = First; i <= Last; ++i) {
    const TSpan line = FLines[size_t(i)];
    if (line.Length == 0)
      continue;
    const std::string_view text = Bytes(line);
    if (text.substr(0, 2) == ";;")
      ListLine(text);
    try {
      const TAsmLineParts p = ScanAsmLine(text.data(), line.Length);
      const TCommand *command = nullptr;
      if (p.OpLength > 0) {
        command = FCode.Commands.Find(text.data() + p.OpAt, p.OpLength);
        if (!command)
          throw EKvFormat("unknown oper " + QString::fromLatin1(text.data() + p.OpAt, p.OpLength));
      }
      if (!p.IsWhole)
        throw EKvFormat("invalid syntax: " + LineText(i));
      if (p.LabelLength > 0) {
        const std::string_view label = text.substr(size_t(p.LabelAt), size_t(p.LabelLength));
        if (!FLabels.Add(label, offset))
          throw EKvFormat("Duplicate label " + QString::fromLatin1(label.data(), qsizetype(label.size())));
      }
      if (command) {
        offset += command->ByteSize;
        FInstrs.push_back({command, i, {line.At + p.Arg1At, p.Arg1Length}, {line.At + p.Arg2At, p.Arg2Length}});
      }
    } catch (const EKvError &e) {
      fail(e, QString("line %1 %2: %3").arg(i + 1).arg(LineText(i), e.Text()), i);
    }
  }

  offset = 0;
  for (size_t n = 0; n < FInstrs.size(); ++n) {
    const TInstr &in = FInstrs[n];
    const TCommand &c = *in.Command;
    try {
      // A label operand stands for its distance or its word address.
      const int arg1Label = in.Arg1.Length > 0 ? FLabels.Find(Bytes(in.Arg1)) : -1;
      int32_t distance = 0;
      if (arg1Label >= 0) {
        // Words from the next instruction, as relative jumps and calls count.
        distance = (arg1Label - (offset + c.ByteSize)) / 2;
      }
      auto arg1 = [&] { return arg1Label >= 0 ? distance : OperandValue(in.Arg1); };
      if ((c.IsJump && !c.IsJmp) || c.IsRcall) {
        const int32_t value = arg1();
        const bool isLong = c.IsRjmp || c.IsRcall;
        const int low = isLong ? -2047 : -63, high = isLong ? 2047 : 62;
        if (value < low || value > high) {
          const std::string_view text = Bytes(in.Arg1);
          const QString shown = arg1Label >= 0 ? QString::number(distance)
                                               : QString::fromLatin1(text.data(), qsizetype(text.size()));
          throw EKvFormat(QString("Invalid relative addr: %1, cmd: %2, at ip: %3").arg(shown, c.Op, Hex4(offset)));
        }
      }
      const int arg2Label = in.Arg2.Length > 0 ? FLabels.Find(Bytes(in.Arg2)) : -1;
      bool arg2Given = false;
      int32_t arg2Value = 0;
      if (arg2Label >= 0) {
        const uint32_t wordAddress = (Ip - uint32_t(offset) + uint32_t(arg2Label)) / 2;
        if (c.IsLdil)
          arg2Value = int32_t(wordAddress & 0xFF);
        else if (c.IsLdih)
          arg2Value = int32_t((wordAddress >> 8) & 0xFF);
        else
          throw EKvFormat("invalid arg2");
        arg2Given = true;
      } else if (c.IsLdih) {
        arg2Value = int32_t((uint32_t(OperandValue(in.Arg2)) >> 8) & 0xFF);
        arg2Given = true;
      }
      const int32_t v1 = c.HasArg1() ? arg1() : 0;
      const int32_t v2 = c.HasArg2() ? (arg2Given ? arg2Value : OperandValue(in.Arg2)) : 0;
      Emit(in, v1, v2);
      ListLabels(offset);
      offset += c.ByteSize;
      Ip += c.ByteSize;
      const bool isLong = c.ByteSize == 4;
      const qsizetype words = CodeStream.size() / 2;
      char head[32];
      char *h = PutHex4(head, uint32_t(words - (isLong ? 2 : 1)));
      h = std::copy_n("   ", 3, h);
      h = PutHex4(h, ReadWord(isLong ? -4 : -2));
      if (isLong) {
        *h++ = ' ';
        h = PutHex4(h, ReadWord(-2));
      } else {
        h = std::copy_n("     ", 5, h);
      }
      ListLine(std::string_view(head, size_t(h - head)), Bytes(FLines[size_t(in.LineIndex)]));
      if (arg1Label >= 0 && !c.IsJump && !c.IsRcall) {
        const std::string_view text = Bytes(in.Arg1);
        const QString warning = QString("warning: label %1 taken as a word distance by %2: %3")
                                    .arg(QString::fromLatin1(text.data(), qsizetype(text.size())), c.Op,
                                         LineText(in.LineIndex));
        ListLine(warning);
        Logger().Info(warning);
      }
    } catch (const EKvError &e) {
      fail(e, QString("oper %1 %2").arg(n).arg(LineText(in.LineIndex)), in.LineIndex);
    }
  }
  if (ListLabels(offset) == 0)
    ListLine(std::string_view());
}
