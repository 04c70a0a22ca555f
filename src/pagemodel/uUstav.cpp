#include "uUstav.h"

#include "uBitText.h"
#include "uDescriptorXml.h"
#include "uErrors.h"
#include "uModbus.h"
#include "uMultiLingual.h"
#include "uNumberFormat.h"
#include "uParamCodec.h"
#include "uTextCodec.h"
#include "uWriteGate.h"

#include <algorithm>

#include <cmath>

namespace {
int StrToInt16(const QString &Text) {
  int v = 0;
  if (!TryStrToInt(Text, v))
    throw EKvError(NotNumberText(Text));
  return CheckedCast<uint16_t>(v);
}
} // namespace

TUstav::TUstav(const IXXMLNode &Node) {
  switch (Node->GetIntNodeDef(DX_RECORD_TYPE, 0)) {
  case RT_USTAV_ENUM: RecordType = '1'; break;
  case RT_USTAV_NUM: RecordType = '2'; break;
  case RT_USTAV_ENUM2: RecordType = '5'; break;
  default: RecordType = 0;
  }
  LevelMask = Node->GetIntNodeDef(DX_BYTE_LEVEL_MASK, 0);
  Ider = Node->GetIntNodeDef(DX_IDER, 0);
  Name = Node->GetStrNodeDef(DXQ_NAME, QString());
  if (RecordType == '1' || RecordType == '5') {
    const IXXMLNodeList values = Node->SelectNodes(DXQ_VALUE_TEXTS);
    for (int i = 0; i < values->GetCount(); ++i)
      Strings << values->GetItem(i)->GetText();
    // As a bit register's: an empty name or one beginning with "-" keeps
    // its place free.
    if (RecordType == '5') {
      NamedBits = 0;
      for (qsizetype b = 0; b < std::min<qsizetype>(Strings.size(), 16); ++b)
        if (!Strings[b].isEmpty() && !Strings[b].startsWith('-'))
          NamedBits = uint16_t(NamedBits | (1u << b));
    }
  }
  Access = Node->GetIntNodeDef(DX_MODBUS_ACC, 0);
  const int measure = Node->GetIntNodeDef(DX_WORD_MEASURE_IDER, 65535);
  if (measure != 65535) {
    const IXXMLNode m = Node->SelectSingleNode(QString(DXQ_MEASURE_BY_FLASH_FROM_SETPOINT).arg(measure));
    if (!m)
      throw EKvError("invalid word-measure-ider");
    Mult = m->GetIntNodeDef(DX_MVP_MULT, 1);
    Divisor = m->GetIntNodeDef(DX_MVS_DIV, 1);
    MvpReg = m->GetIntNodeDef(DX_MVP_MREG, 65535);
    MvsReg = m->GetIntNodeDef(DX_MVS_MREG, 65535);
    Signed = m->GetIntNodeDef(DX_BYTE_DOPCODE, 0) == DX_DOPCODE_SIGNED;
  }
  if (Divisor == 0)
    Divisor = 1;
  Decimals = Divisor == 10 ? 1 : Divisor == 100 ? 2 : Divisor == 1000 ? 3 : 0;
  FMinVal = Node->GetIntNodeDef(DX_WORD_MIN, 0);
  FMaxVal = Node->GetIntNodeDef(DX_WORD_MAX, 65535);
  // A word-max of 0 leaves no range, except above a signed minimum below it
  // (-10..0 reads as such).
  if (FMaxVal == 0 && (!Signed || FMinVal == 0))
    throw EKvError("invalid FMaxVal");
  for (int g = 0; g < MaxGroups; ++g) {
    const int r = Node->GetIntNodeDef(QString(DXQ_MREG_N).arg(g + 1), -1);
    Regs[size_t(g)] = r >= 0 && r < TModbus::RegCount ? r : -1;
  }
}

QString TUstav::ValueToText(int Value, bool Primary) const {
  switch (RecordType) {
  case '1':
    return Value < Strings.size() ? Strings[Value] : QStringLiteral("N/D");
  case '2':
    return NumberText(Value, Primary);
  case '5':
    return BitsToText(Value, int(Strings.size()));
  default:
    return QString();
  }
}

int TUstav::WordNumber(int Word) const { return Signed ? int(int16_t(uint16_t(Word))) : Word; }

QString TUstav::NumberText(int Value, bool Primary) const {
  const double v = WordNumber(Value);
  if (!Primary)
    return FormatFixed(Decimals, v / Divisor);
  return FormatValue(v * Mult / Divisor * MvpValue / MvsValue);
}

int TUstav::TextNumber(const QString &Text, bool Primary) const {
  QString t = Text;
  t.replace(u',', u'.');
  double v = 0;
  if (!TryStrToFloat(t.trimmed(), v))
    throw EKvError(NotNumberText(Text));
  const double w = std::nearbyint(Primary ? v / (double(Mult) / Divisor * MvpValue / MvsValue) : v * Divisor);
  const int lo = Signed ? -32768 : 0, hi = Signed ? 32767 : 65535;
  if (!(w >= lo && w <= hi))
    throw EKvRange(OutOfRangeText(Text, NumberText(lo, Primary), NumberText(hi, Primary)));
  return int(uint16_t(int(w)));
}

int TUstav::TextToValue(const QString &Text, bool Primary) const {
  switch (RecordType) {
  case '1': return StrToInt16(Text);
  case '2': return TextNumber(Text, Primary);
  case '5': return CheckedCast<uint16_t>(TextToBits(Text));
  default: return 0;
  }
}

QString TUstav::LimitLine(int V, bool Primary) const {
  return ::LimitLine(
      Name, {TWriteLimit::Range, FMinVal, FMaxVal, [this, Primary](int W) { return ValueToText(W, Primary); }, Signed}, V);
}

void TUstav::UpdateMeasureFactors(const TModbus &Image) {
  // A rated value of 0 (not set in the device) would divide by zero.
  if (MvpReg < TModbus::RegCount && Image.IsValid(MvpReg))
    MvpValue = std::max<int>(1, Image.GetWord(MvpReg));
  if (MvsReg < TModbus::RegCount && Image.IsValid(MvsReg))
    MvsValue = std::max<int>(1, Image.GetWord(MvsReg));
}

TUstavBit::TUstavBit(const TUstav &Owner, int ABit, const QString &BitName) : TUstav(Owner), Bit(ABit) {
  Name = Owner.Name + " / " + BitName;
  Strings = QStringList{MultiLingual().Translate(QStringLiteral("Нет")), MultiLingual().Translate(QStringLiteral("Да"))};
  FMinVal = 0;
  FMaxVal = 65535;
  Signed = false;
  Mult = Divisor = MvpValue = MvsValue = 1;
  MvpReg = MvsReg = 65535;
}

QString TUstavBit::ValueToText(int Value, bool) const { return Strings[(Value >> Bit) & 1]; }

int TUstavBit::TextToValue(const QString &Text, bool) const { return StrToInt16(Text); }

int TUstavBit::Apply(int Old, int Value) const { return Value ? Old | (1 << Bit) : Old & ~(1 << Bit); }

TUstavList BuildUstavList(const IXXMLNode &Root, bool ExpandBits) {
  TUstavList list;
  const IXXMLNodeList nodes = Root->SelectNodes(DXQ_USTAV_SETPOINTS);
  for (int i = 0; i < nodes->GetCount(); ++i) {
    const IXXMLNode n = nodes->GetItem(i);
    if (!(n->GetIntNodeDef(DX_MODBUS_ACC, 0) & 1))
      continue;
    auto u = std::make_unique<TUstav>(n);
    if (ExpandBits && u->RecordType == '5') {
      for (int b = 0; b < u->Strings.size() && b < 16; ++b)
        list.push_back(std::make_unique<TUstavBit>(*u, b, u->Strings[b]));
    } else {
      list.push_back(std::move(u));
    }
  }
  return list;
}
