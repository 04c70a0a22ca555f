#include "uModbusIderList.h"

#include "crc.h"
#include "uErrors.h"
#include "ixml.h"
#include "uFiles.h"
#include "uTextCodec.h"

#include <QRegularExpression>
#include <limits>

// The listing's line forms. "\w" and "\d" are spelt out as ASCII: the firmware
// build only ever had ASCII word characters, and QRegularExpression would also
// take Cyrillic letters and other digits for them. Unanchored forms match
// anywhere in the line, as the firmware's listings were always read.
namespace {
const QRegularExpression MeasureForm(R"(\s*OSC\s+([A-Za-z0-9_]+))");
const QRegularExpression CommentForm(R"(^\s*(\;+)(.*))");
const QRegularExpression ConstantForm(R"(\s*\.EQU\s+([A-Za-z0-9_]+)\s*=\s*(\$[A-Fa-f0-9]+))");
const QRegularExpression LabelForm(R"(^\s*([A-Za-z0-9_]+)\s*\:)");
const QRegularExpression GroupSizeForm(R"((.*?)\(\s*([0-9]+)\s*\)(.*))");
const QRegularExpression ByteFieldForm(R"(([A-Za-z0-9_]+)\s*\:\s*\.BYTE\s+([0-9]+)\s*\;(.*))");

std::unique_ptr<TModbusIderList> GList;

// Trim as the listing's comments were always trimmed: every character up to blank.
QString TrimControl(const QString &S) {
  int b = 0, e = int(S.size());
  while (b < e && S[b].unicode() <= ' ')
    ++b;
  while (e > b && S[e - 1].unicode() <= ' ')
    --e;
  return S.mid(b, e - b);
}

// Only blanks: a tab before a name stays part of it.
QString TrimBlanks(const QString &S) {
  int b = 0, e = int(S.size());
  while (b < e && S[b] == ' ')
    ++b;
  while (e > b && S[e - 1] == ' ')
    --e;
  return S.mid(b, e - b);
}

int DecimalCount(const QString &Text) {
  bool ok = false;
  const int v = Text.toInt(&ok);
  if (!ok)
    throw EKvFormat("'" + Text + "' is not a valid integer value");
  return v;
}

// Addresses and group sizes are summed in 64 bits and must stay integers.
int CheckedAddress(int64_t Value, const QString &Line) {
  if (Value > std::numeric_limits<int>::max())
    throw EKvRange("range check error: address " + QString::number(Value) + " of " + Line.trimmed());
  return int(Value);
}

QStringList LoadLines(const QString &FileName) {
  TXStringList l;
  l.LoadFromFile(FileName);
  return l.GetStrings();
}
} // namespace

TModbusIderList::TModbusIderList(const QString &FileName) : TModbusIderList(LoadLines(FileName)) {
  FSourceCrc = Crc32(LoadFileBytes(FileName));
}

TModbusIderList::TModbusIderList(const QStringList &Lines) : FLines(Lines) { Load(); }

void TModbusIderList::Load() {
  FFlashAddr = FSRAMAddr = FSRAMSize = FEEPROMAddr = FEEPROMSize = 0xFFFF;
  FWorkingUstavAddr = FWorkingUstavSize = FCoreDateAddr = FCoreDateSize = FCalibrAddr = 0xFFFF;
  FFlashSize = -1;
  FMeasures.clear();
  FItems.clear();
  int addressCounter = 0, groupBytesLeft = 0;
  bool inside = false;

  struct TWordField {
    const char *Name;
    uint16_t *Field;
  };
  const TWordField wordFields[] = {
      {"ADR_FLASH_B", &FFlashAddr}, {"ADR_SRAM", &FSRAMAddr},       {"DIM_SRAM", &FSRAMSize},
      {"ADR_EEPROM", &FEEPROMAddr}, {"DIM_EEPROM", &FEEPROMSize},   {"ADR_UST", &FWorkingUstavAddr},
      {"DIM_UST", &FWorkingUstavSize}, {"ADR_DATE", &FCoreDateAddr}, {"DIM_DATE", &FCoreDateSize},
      {"ADR_CALIBR", &FCalibrAddr}};

  for (const QString &line : std::as_const(FLines)) {
    QRegularExpressionMatch m = MeasureForm.match(line);
    if (m.hasMatch()) {
      FMeasures << m.captured(1);
      continue;
    }
    if (CommentForm.match(line).hasMatch())
      continue;
    m = ConstantForm.match(line);
    if (m.hasMatch()) {
      const QString name = m.captured(1), hex = m.captured(2);
      bool ok = false;
      const qulonglong value = hex.mid(1).toULongLong(&ok, 16);
      auto rangeError = [&]() { return EKvRange("range check error: " + name + " = " + hex); };
      if (name == "DIM_FLASH_B") {
        // A 32-bit constant above $7FFFFFFF reads as negative.
        if (!ok || value > 0x7FFFFFFFull)
          throw rangeError();
        FFlashSize = int32_t(value);
      }
      for (const TWordField &f : wordFields)
        if (name == QLatin1String(f.Name)) {
          if (!ok || value > 0xFFFFull)
            throw rangeError();
          *f.Field = uint16_t(value);
        }
      continue;
    }
    m = LabelForm.match(line);
    if (m.hasMatch()) {
      const QString label = m.captured(1);
      if (label == "MODBUSMASS")
        inside = true;
      else if (label == "END_MODBUS")
        break;
      else if (inside)
        ParseIder(line, addressCounter, groupBytesLeft);
    }
  }

  QString missing;
  const std::pair<const char *, bool> unset[] = {
      {"FFlashAddr", FFlashAddr == 0xFFFF},
      {"FFlashSize", FFlashSize == -1},
      {"FSRAMAddr", FSRAMAddr == 0xFFFF},
      {"FSRAMSize", FSRAMSize == 0xFFFF},
      {"FEEPROMAddr", FEEPROMAddr == 0xFFFF},
      {"FEEPROMSize", FEEPROMSize == 0xFFFF},
      {"FWorkingUstavAddr", FWorkingUstavAddr == 0xFFFF},
      {"FWorkingUstavSize", FWorkingUstavSize == 0xFFFF},
      {"FCoreDateAddr", FCoreDateAddr == 0xFFFF},
      {"FCoreDateSize", FCoreDateSize == 0xFFFF},
      {"FCalibrAddr", FCalibrAddr == 0xFFFF}};
  for (const auto &[name, isUnset] : unset)
    if (isUnset)
      missing += QString("\r\n") + name;
  if (!missing.isEmpty())
    throw EKvError(QString::fromUtf8("Не задан адрес") + missing);
}

void TModbusIderList::ParseIder(const QString &Line, int &AddressCounter, int &GroupBytesLeft) {
  // "(n)" on the line opens a group of n words; its byte fields that follow
  // are counted into the group instead of becoming identifiers.
  int wordCount = 0, byteCount = 0;
  QRegularExpressionMatch m = GroupSizeForm.match(Line);
  if (m.hasMatch())
    wordCount = DecimalCount(m.captured(2));
  if (wordCount == 0) {
    m = ByteFieldForm.match(Line);
    if (m.hasMatch())
      byteCount = DecimalCount(m.captured(2));
  }
  auto ider = std::make_unique<TModbusIder>();
  ider->Name = TrimBlanks(Line.left(Line.indexOf(':')));
  const int semi = int(Line.indexOf(';'));
  if (semi >= 0) {
    const QString comment = Line.mid(semi + 1, 999);
    const int second = int(comment.indexOf(';'));
    if (second >= 0) {
      ider->Comment = TrimControl(comment.left(second));
      ider->GroupComment = TrimControl(comment.mid(second + 1));
    } else {
      ider->Comment = ider->GroupComment = TrimControl(comment);
    }
  }
  ider->Address = AddressCounter;
  AddressCounter = CheckedAddress(int64_t(AddressCounter) + byteCount, Line);
  if (GroupBytesLeft > 0) {
    GroupBytesLeft -= byteCount;
    return;
  }
  GroupBytesLeft = CheckedAddress(2 * int64_t(wordCount), Line);
  ider->Size = wordCount != 0 ? wordCount : byteCount / 2;
  FItems.push_back(std::move(ider));
}

const TModbusIder *TModbusIderList::FindByName(const QString &Name) const {
  for (const auto &i : FItems)
    if (i->Name == Name)
      return i.get();
  return nullptr;
}

uint16_t TModbusIderList::GetAddress(const QString &Name) const {
  const TModbusIder *i = FindByName(Name);
  return i ? uint16_t(i->Address) : uint16_t(0xFFFF);
}

uint8_t TModbusIderList::IndexOfMeasure(const QString &Name) const {
  const qsizetype index = FMeasures.indexOf(Name);
  if (index < 0)
    throw EKvError(QString::fromUtf8("Недопустимый идентификатор измерения ") + Name);
  return CheckedCast<uint8_t>(index);
}

uint8_t TModbusIderList::GetMeasureOffset(const QString &Name) const {
  return CheckedCast<uint8_t>(2 * int(IndexOfMeasure(Name)));
}

void TModbusIderList::WriteListing(const QString &WorkFolder) const {
  QString text = "TModbusIderList\r\n";
  for (const auto &i : FItems)
    text += QString("%1 %2 %3 %4\r\n")
                .arg(QString("%1").arg(i->Address, 4, 16, QChar('0')).toUpper(),
                     QString("%1").arg(i->Size, 3), i->Name.leftJustified(8), i->Comment);
  SaveFileBytes(ResolveFileNameCI(WorkFolder, "ModbusIderList.lst"), ToWin1251(text));
}

TModbusIderList *ModbusIderList() { return GList.get(); }

TModbusIderList &EnsureModbusIderList(const QString &FileName) {
  if (!GList)
    GList = std::make_unique<TModbusIderList>(FileName);
  return *GList;
}

void ResetModbusIderList() { GList.reset(); }

std::unique_ptr<TModbusIderList> NewModbusIderListFor(const QString &FileName) {
  // The listing in place only serves on when it came from these very bytes:
  // another device's addresses must never reach a compile.
  if (GList && GList->FSourceCrc != 0 && GList->FSourceCrc == Crc32(LoadFileBytes(FileName)))
    return nullptr;
  return std::make_unique<TModbusIderList>(FileName);
}

std::unique_ptr<TModbusIderList> SwapModbusIderList(std::unique_ptr<TModbusIderList> List) {
  GList.swap(List);
  return List;
}
