#include "uDeviceDescriptor.h"

#include "DDMenuEditor.h"
#include "crc.h"
#include "uCharMap.h"
#include "uErrors.h"
#include "uFiles.h"
#include "uLogicTexts.h"
#include "uMessageSink.h"
#include "uTextCodec.h"

#include <QDir>
#include <QRegularExpression>
#include <cmath>

namespace {

const char *const UnitPath = " (src/custom/descriptor/uDeviceDescriptor)";

[[noreturn]] void Assert(const QString &Text) { throw EKvAssert(Text + QString::fromLatin1(UnitPath)); }

QString Hex4(int Value) { return QStringLiteral("%1").arg(Value, 4, 16, QChar('0')).toUpper(); }

// $FFFF ("none") stays none; anything else moves by Delta within 16 bits.
uint16_t Shifted(uint16_t Address, int Delta) {
  return Address == 0xFFFF ? uint16_t(0xFFFF) : CheckedCast<uint16_t>(int(Address) + Delta);
}

const char *const BitRegCaptions[5] = {"Дискретные входы", "Реле", "Светодиоды", "Виртуальные входы",
                                       "Виртуальные выходы"};

} // namespace

// ---- encoders

QByteArray EncodeDisplayString(const QString &Text, const uint8_t *Map) {
  const QByteArray src = ToWin1251(Text);
  auto invalid = [&]() { return EKvError(QStringLiteral("invalid special symbol in ") + Text); };
  QByteArray out;
  for (qsizetype i = 0; i < src.size(); ++i) {
    const uint8_t c = uint8_t(src[i]);
    if (c == '|') {
      out.append('\x01');
    } else if (c == '\\') {
      if (i + 1 >= src.size())
        throw invalid();
      const char next = src[i + 1];
      if (next == '\\') {
        out.append(char(Map[uint8_t('\\')]));
        ++i;
      } else if (next >= '0' && next <= '9') {
        int value = 0;
        while (i + 1 < src.size() && src[i + 1] >= '0' && src[i + 1] <= '9') {
          value = value * 10 + (src[i + 1] - '0');
          if (value > 255)
            throw EKvRange(QStringLiteral("invalid special symbol in ") + Text);
          ++i;
        }
        if (value == 0)
          throw invalid();
        out.append(char(value));
      } else {
        throw invalid();
      }
    } else {
      const uint8_t d = Map[c];
      out.append(char(d != 0 ? d : Map[uint8_t(' ')]));
    }
  }
  return out;
}

QByteArray EncodePlainString(const QString &Text) {
  QByteArray b = ToWin1251(Text);
  b.replace('\0', ' ');
  return b;
}

uint8_t ScaleCode(int Factor) {
  switch (Factor) {
  case 10: return 1;
  case 100: return 2;
  case 1000: return 3;
  default: return 0;
  }
}

uint32_t PackBcdDate(int Year, int Month, int Day) {
  auto bcd = [](int v) { return uint32_t(((v / 10 % 10) << 4) | (v % 10)); };
  return bcd(Day) | (bcd(Month) << 8) | (bcd(Year / 100) << 16) | (bcd(Year % 100) << 24);
}

QString IntToBinStr(int Value, int Bits) {
  QString s;
  for (int b = Bits - 1; b >= 0; --b) {
    s += (Value >> b) & 1 ? '1' : '0';
    if (b > 0 && b % 4 == 0)
      s += ' ';
  }
  return s;
}

int BinStrToInt(const QString &S) {
  // Counted before any shift: a longer text would shift past the word, and
  // cutting it would store another value than the one typed.
  if (S.count(u'0') + S.count(u'1') > MaxBinDigits)
    throw EKvRange(QStringLiteral("Двоичное значение длиннее 16 разрядов: ") + S.trimmed());
  uint32_t value = 0;
  int bit = 0;
  for (qsizetype i = S.size() - 1; i >= 0; --i) {
    if (S[i] == '1')
      value |= 1u << bit++;
    else if (S[i] == '0')
      ++bit;
  }
  return int(value);
}

QString FormatSignificant(double X, int Digits) {
  if (X == 0)
    return QStringLiteral("0");
  const int exponent = std::max(int(std::nearbyint(std::log10(std::fabs(X)) - Digits)), -37);
  const double unit = std::pow(10.0, exponent);
  return QString::number(std::nearbyint(X / unit) * unit, 'g', 15);
}

// ---- records

void TDDStringList::Assign(const QStringList &Strings, const QStringList &ShortStrings) {
  clear();
  for (qsizetype i = 0; i < Strings.size(); ++i)
    Add(int(i), Strings[i], i < ShortStrings.size() ? ShortStrings[i] : Strings[i]);
}

void TDDStringList::FillStrings(QStringList &Lines) const {
  Lines.clear();
  for (const TDDString &s : *this)
    Lines << s.Value1;
}

void TDDStringList::FillShortStrings(QStringList &Lines) const {
  Lines.clear();
  for (const TDDString &s : *this)
    Lines << s.Value2;
}

TDDParamBitReg::TDDParamBitReg(TDeviceDescriptor *AOwner, int Type) : TDDNamedObject(AOwner) {
  RecordType = Type;
  String = ShortString = QString::fromUtf8(BitRegCaptions[Type - 17]);
}

TDDParam::TDDParam(TDeviceDescriptor *AOwner, int AKind) : TDDNamedObject(AOwner), Kind(AKind) {
  static const int types[] = {33, 34, 36, 38, 39};
  if (Kind < 0 || Kind > 4)
    Assert(QStringLiteral("invalid param kind %1").arg(Kind));
  RecordType = types[Kind];
  FModbusObject.Acc = Kind <= pkChar ? 3 : 1;
}

TDDParamEnum &TDDParam::GetEnum() {
  if (Kind != pkEnum)
    throw EKvError("unable get enum param");
  return FEnum;
}

TDDParamNumeric &TDDParam::GetNumeric() {
  if (Kind != pkNumeric && Kind != pkNumericMvp && Kind != pkNumericMvs)
    throw EKvError("unable get numeric param");
  return FNumeric;
}

TDDParamChar &TDDParam::GetChar() {
  if (Kind != pkChar)
    Assert("unable get char param");
  return FChar;
}

TDDParamCommon::TDDParamCommon(TDeviceDescriptor *AOwner)
    : Owner(AOwner), Date(AOwner), Status(AOwner), Ustav1(AOwner), Ustav2(AOwner) {
  const struct {
    TDDNamedObject *Record;
    int Type;
    const char *Text;
  } records[] = {{&Date, 29, "Дата"}, {&Status, 30, "Статус"}, {&Ustav1, 27, "Уставки 1"}, {&Ustav2, 28, "Уставки 2"}};
  for (const auto &r : records) {
    r.Record->RecordType = r.Type;
    r.Record->String = r.Record->ShortString = QString::fromUtf8(r.Text);
  }
}

double TDDUstavNumeric::Divider() const { return Measure && Measure->SecValDiv != 0 ? Measure->SecValDiv : 1; }

uint16_t TDDUstavNumeric::FloatToValue(double X) const {
  const double v = std::nearbyint(X * Divider()); // the default rounding mode: halves to even
  if (!(v >= 0 && v <= 65535))
    throw EKvRange(QStringLiteral("range check error: ") + QString::number(X));
  return uint16_t(v);
}

uint16_t TDDUstavNumeric::StrToValue(const QString &S) const {
  double x = 0;
  if (!TryStrToFloat(S.trimmed(), x))
    throw EKvError("'" + S + "' is not a valid floating point value");
  return FloatToValue(x);
}

TDDUstav::TDDUstav(TDeviceDescriptor *AOwner, int AKind) : TDDNamedObject(AOwner), Kind(AKind) {
  RecordType = Kind == ukEnum ? 49 : 50;
  FModbusObject.Acc = 4;
}

TDDUstavEnum &TDDUstav::GetEnum() {
  if (Kind != ukEnum)
    throw EKvError("unable get enum ustav");
  return FEnum;
}

TDDUstavNumeric &TDDUstav::GetNumeric() {
  if (Kind != ukNumeric)
    throw EKvError("unable get numeric ustav");
  return FNumeric;
}

void TDDUstav::UpdateLevelMask() { LevelMask = ImageLevel(); }

uint8_t TDDUstav::ImageLevel() const {
  if (LevelIder < 0)
    return LevelMask;
  const TDDStringList &levels = Owner->FUstavLevels;
  for (size_t i = 0; i < levels.size(); ++i)
    if (levels[i].Ider == LevelIder)
      return uint8_t(std::min<size_t>(i + 1, 255));
  return LevelMask;
}

TDDMeasureRef::TDDMeasureRef(TDeviceDescriptor *AOwner, int Type) : TDDObject(AOwner) {
  if (Type != 65 && Type != 81)
    Assert("TDDMeasureRef internal error");
  RecordType = Type;
}

TModbusObjectRef::TModbusObjectRef(TDeviceDescriptor *AOwner, int Type) : TDDObject(AOwner) {
  if (Type != 66 && Type != 82)
    Assert("TModbusObjectRef internal error");
  RecordType = Type;
}

int UstavGroup2Type(int Type) {
  switch (Type) {
  case 49: return 51;
  case 50: return 52;
  case 53: return 54;
  default: return -1;
  }
}

// ---- descriptor: life, lookups, calibration

TDeviceDescriptor::TDeviceDescriptor() : FParamCommon(this), FDeviceDescriptorBin(this) {
  for (int t = 17; t <= 21; ++t)
    FBitRegs[size_t(t - 17)] = std::make_unique<TDDParamBitReg>(this, t);
  if (const TModbusIderList *list = ModbusIderList())
    FDeviceDescriptorBin.CopyMemoryMap(*list);
}

TDeviceDescriptor::~TDeviceDescriptor() = default;

void TDeviceDescriptor::Clear() {
  FMeasures.clear();
  for (auto &b : FBitRegs)
    b->Bits.clear();
  FParams.clear();
  FParamsMvp.clear();
  FParamsMvs.clear();
  FUstavLevels.clear();
  FEventLevels.clear();
  FUstavs.clear();
  FEvents.clear();
  FEventMeasures.clear();
  FEventBitRegs.clear();
  FOscItems.clear();
  FOscBitRegs.clear();
}

void TDeviceDescriptor::ShowErrors() const {
  QString lines;
  for (const QString &e : FErrors)
    lines += "\r\n" + e;
  if (lines.size() > 1000)
    lines = lines.left(1000) + "...";
  // Each line in the interface's language, names and numbers kept.
  ShowMessageBox(TMsgKind::Error, LocalLogicText(QString::fromUtf8("Ошибки дескриптора") + lines));
}

TDDMeasure *TDeviceDescriptor::FindMeasureBySram(uint16_t Address) const {
  TDDMeasure *found = nullptr;
  for (const auto &m : FMeasures)
    if (m->FModbusObject.Sram == Address)
      found = m.get();
  return found;
}

TDDEvent *TDeviceDescriptor::FindEventByNumber(int Code) const {
  TDDEvent *found = nullptr;
  for (const auto &e : FEvents)
    if (e->Code == Code)
      found = e.get();
  return found;
}

TDDParamBitReg *TDeviceDescriptor::FindBitRegByIderName(const QString &Name) const {
  TDDParamBitReg *found = nullptr;
  for (const auto &b : FBitRegs)
    if (b->FModbusObject.Ider && b->FModbusObject.Ider->Name == Name)
      found = b.get();
  return found;
}

int TDeviceDescriptor::NewEventCode() const {
  int n = 1;
  while (FindEventByNumber(n))
    ++n;
  return CheckedCast<uint8_t>(n);
}

void TDeviceDescriptor::SetCalibrationTable(const uint16_t *Words, int Count) {
  if (Count < 0 || Count > int(FCalibration.size()))
    throw EKvRange(QStringLiteral("range check error: %1").arg(Count));
  FCalibrationCount = Count;
  for (int i = 0; i < Count; ++i)
    for (int w = 0; w < 4; ++w)
      FCalibration[size_t(i)][size_t(w)] = Words[4 * i + w];
  for (const auto &m : FMeasures) {
    m->CalibrAddr = 0xFFFF;
    for (int i = 0; i < Count; ++i)
      if (FCalibration[size_t(i)][0] == m->FModbusObject.Sram)
        m->CalibrAddr = FCalibration[size_t(i)][3];
  }
}

uint16_t TDeviceDescriptor::GetCalibrationAngleAddr(uint16_t Sram) const {
  uint16_t found = 0xFFFF;
  for (int i = 0; i < FCalibrationCount; ++i)
    if (FCalibration[size_t(i)][0] == Sram)
      found = FCalibration[size_t(i)][2];
  return found;
}

void TDeviceDescriptor::CopyCharMap(const uint8_t *Map) {
  std::copy(Map, Map + 256, FDeviceDescriptorBin.FCharMap.begin());
}

// ---- XML form

namespace {

const QString NoIderPath = QStringLiteral("[not(ider)]");

int ReadInt(const IXXMLNode &N, const char *Path, const QVariant &Default = QVariant()) {
  return N->GetIntNodeDef(QString::fromLatin1(Path), Default);
}
uint16_t ReadWord(const IXXMLNode &N, const char *Path, const QVariant &Default = QVariant()) {
  return CheckedCast<uint16_t>(ReadInt(N, Path, Default));
}
uint8_t ReadByte(const IXXMLNode &N, const char *Path, const QVariant &Default = QVariant()) {
  return CheckedCast<uint8_t>(ReadInt(N, Path, Default));
}
QString ReadText(const IXXMLNode &N, const char *Path) {
  return N->GetStrNodeDef(QString::fromLatin1(Path), QString());
}
// The record's own text: table entries of the same name carry an ider.
QString ReadOwnText(const IXXMLNode &N, const char *Name) {
  return N->GetStrNodeDef(QString::fromLatin1(Name) + NoIderPath, QString());
}
IXXMLNode Add(const IXXMLNode &Parent, const char *Name, const QString &Text) {
  IXXMLNode n = Parent->AddChild(QString::fromLatin1(Name));
  n->SetText(Text);
  return n;
}
IXXMLNode Add(const IXXMLNode &Parent, const char *Name, int Value) { return Add(Parent, Name, QString::number(Value)); }
IXXMLNode RequiredSection(const IXXMLNode &Node, const char *Name) {
  IXXMLNode n = Node->SelectSingleNode(QString::fromLatin1(Name));
  if (!n)
    throw EKvError(QStringLiteral("missing element ") + QString::fromLatin1(Name));
  return n;
}

// A text table: the entries "Name[ider]" with ider, value and a second value.
void ReadTable(const IXXMLNode &Parent, const char *Name, TDDStringList &Table) {
  Table.clear();
  if (!Parent)
    return;
  const IXXMLNodeList l = Parent->SelectNodes(QString::fromLatin1(Name) + "[ider]");
  for (int i = 0; i < l->GetCount(); ++i) {
    const IXXMLNode s = l->GetItem(i);
    Table.Add(ReadInt(s, "ider"), ReadText(s, "value[1]"), ReadText(s, "value[2]"));
  }
}
void WriteTable(const IXXMLNode &Parent, const char *Name, const TDDStringList &Table) {
  for (const TDDString &t : Table) {
    const IXXMLNode s = Parent->AddChild(QString::fromLatin1(Name));
    Add(s, "ider", t.Ider);
    Add(s, "value", t.Value1);
    Add(s, "value", t.Value2);
  }
}

} // namespace

// Reading and writing of one descriptor; the binding needs the descriptor's error list.
struct TDeviceDescriptor::TXmlIo {
  TDeviceDescriptor &D;

  void Bind(TDDObject &O, const QString &Name) {
    O.FModbusObject.Ider.reset();
    if (Name.isEmpty())
      return;
    const TModbusIderList *list = ModbusIderList();
    const TModbusIder *ider = list ? list->FindByName(Name) : nullptr;
    if (ider)
      O.FModbusObject.Ider = *ider;
    else
      D.FErrors << QString::fromUtf8("не найден идентификатор modbus ") + Name;
  }

  // The record type read, checked against the element's allowed types (0: none given).
  static int CheckedType(const IXXMLNode &N, std::initializer_list<int> Allowed, bool Required = false) {
    const int t = Required ? ReadByte(N, "record-type") : ReadByte(N, "record-type", 0);
    if (t == 0 || std::find(Allowed.begin(), Allowed.end(), t) != Allowed.end())
      return t;
    QStringList hex;
    for (int a : Allowed)
      hex << QStringLiteral("%1").arg(a, 2, 16, QChar('0'));
    throw EKvError(QString::asprintf("ddo recordtype expected %s read %x in ", qPrintable(hex.join(',')), t) +
                   N->GetXml());
  }

  void ReadHead(const IXXMLNode &N, TDDObject &O, std::initializer_list<int> Allowed) {
    O.Ider = ReadWord(N, "ider");
    CheckedType(N, Allowed);
    O.FModbusObject.Reg = ReadWord(N, "modbus-reg", 0xFFFF);
    O.FModbusObject.Acc = ReadByte(N, "modbus-acc", 0);
    O.FModbusObject.Sram = ReadWord(N, "modbus-sram", 0xFFFF);
    O.FModbusObject.Eeprom = ReadWord(N, "modbus-eeprom", 0xFFFF);
    Bind(O, ReadText(N, "modbus-id"));
  }
  void ReadNamedHead(const IXXMLNode &N, TDDNamedObject &O, std::initializer_list<int> Allowed) {
    ReadHead(N, O, Allowed);
    O.String = ReadOwnText(N, "string");
    O.ShortString = ReadOwnText(N, "short-string");
  }
  static void WriteHead(const IXXMLNode &N, const TDDObject &O, bool WithType = true) {
    Add(N, "ider", O.Ider);
    if (WithType)
      Add(N, "record-type", O.RecordType);
    const TModbusObject &m = O.FModbusObject;
    if (m.Reg != 0xFFFF)
      Add(N, "modbus-reg", m.Reg);
    Add(N, "modbus-acc", m.Acc);
    if (m.Sram != 0xFFFF)
      Add(N, "modbus-sram", m.Sram);
    if (m.Eeprom != 0xFFFF)
      Add(N, "modbus-eeprom", m.Eeprom);
    if (m.Ider)
      Add(N, "modbus-id", m.Ider->Name);
  }
  static void WriteNamedHead(const IXXMLNode &N, const TDDNamedObject &O, bool WithType = true) {
    WriteHead(N, O, WithType);
    Add(N, "string", O.String);
    Add(N, "short-string", O.ShortString);
  }

  void ReadMeasures(const IXXMLNode &Root);
  void ReadParams(const IXXMLNode &Root);
  void ReadUstavs(const IXXMLNode &Root);
  void ReadEvents(const IXXMLNode &Root);
  void ReadOsc(const IXXMLNode &Root);
  void WriteMeasures(const IXXMLNode &Root) const;
  void WriteParams(const IXXMLNode &Root) const;
  void WriteUstavs(const IXXMLNode &Root) const;
  void WriteEvents(const IXXMLNode &Root) const;
  void WriteOsc(const IXXMLNode &Root) const;
};

namespace {
const std::initializer_list<int> MeasureTypes = {1, 3, 5, 7, 9, 11, 13, 15};
const std::initializer_list<int> ParamTypes = {27, 28, 29, 30, 33, 34, 36, 38, 39};
const std::initializer_list<int> BitRegTypes = {17, 18, 19, 20, 21};
const std::initializer_list<int> UstavTypes = {49, 50, 53};
const std::initializer_list<int> EventTypes = {67, 68};
} // namespace

void TDeviceDescriptor::TXmlIo::ReadMeasures(const IXXMLNode &Root) {
  const IXXMLNode section = Root->SelectSingleNode("measure");
  if (!section)
    return;
  const IXXMLNodeList l = section->SelectNodes("measure-item");
  for (int i = 0; i < l->GetCount(); ++i) {
    const IXXMLNode n = l->GetItem(i);
    auto m = std::make_unique<TDDMeasure>(&D);
    ReadNamedHead(n, *m, MeasureTypes);
    m->PrimValMult = ReadWord(n, "word-prim-val-mult");
    m->SecValDiv = ReadWord(n, "word-sec-val-div");
    m->MvpId = ReadText(n, "mvp-id");
    m->MvsId = ReadText(n, "mvs-id");
    m->Visible = ReadByte(n, "byte-visible", 1) != 0;
    m->Dopkod = ReadByte(n, "byte-dopkod", 0) != 0;
    m->OffsetFlag = ReadByte(n, "byte-offset-flag", 0) != 0;
    m->Offset = ReadWord(n, "byte-offset", 0);
    D.FMeasures.Add(std::move(m));
  }
}

void TDeviceDescriptor::TXmlIo::WriteMeasures(const IXXMLNode &Root) const {
  const IXXMLNode section = Root->AddChild("measure");
  for (const auto &m : D.FMeasures) {
    const IXXMLNode n = section->AddChild("measure-item");
    WriteNamedHead(n, *m);
    Add(n, "word-prim-val-mult", m->PrimValMult);
    Add(n, "word-sec-val-div", m->SecValDiv);
    if (m->Mvp && m->Mvp->FModbusObject.Ider)
      Add(n, "mvp-id", m->Mvp->FModbusObject.Ider->Name);
    if (m->Mvs && m->Mvs->FModbusObject.Ider)
      Add(n, "mvs-id", m->Mvs->FModbusObject.Ider->Name);
    Add(n, "byte-visible", m->Visible);
    Add(n, "byte-dopkod", m->Dopkod);
    Add(n, "byte-offset-flag", m->OffsetFlag);
    Add(n, "byte-offset", m->Offset);
  }
}

void TDeviceDescriptor::TXmlIo::ReadParams(const IXXMLNode &Root) {
  const IXXMLNode section = RequiredSection(Root, "param");
  TDDParamCommon &c = D.FParamCommon;
  c.VarAddr = ReadWord(section, "word-var-addr");
  c.VarSize = ReadWord(section, "word-var-size");
  c.BinAddr = ReadWord(section, "word-bin-addr");
  c.BinSize = ReadWord(section, "word-bin-size");
  c.ModbusAddr = ReadWord(section, "word-modbus-addr", 0);
  const struct {
    const char *Name;
    TDDNamedObject *Record;
  } common[] = {{"param-ddo-date", &c.Date},
                {"param-ddo-status", &c.Status},
                {"param-ddo-ustav1", &c.Ustav1},
                {"param-ddo-ustav2", &c.Ustav2}};
  for (const auto &r : common)
    if (const IXXMLNode n = section->SelectSingleNode(QString::fromLatin1(r.Name)))
      ReadHead(n, *r.Record, ParamTypes);

  if (const IXXMLNode io = section->SelectSingleNode("input-output")) {
    const IXXMLNodeList l = io->SelectNodes("param-bitreg");
    for (int i = 0; i < l->GetCount(); ++i) {
      const IXXMLNode n = l->GetItem(i);
      const int t = ReadByte(n, "record-type");
      if (t < 17 || t > 21)
        throw EKvError(QStringLiteral("unexpected record type ") + QString::number(t));
      TDDParamBitReg &b = *D.GetBitReg(t);
      ReadHead(n, b, BitRegTypes);
      ReadTable(n, "string", b.Bits);
    }
  }

  const IXXMLNodeList l = section->SelectNodes("*");
  for (int i = 0; i < l->GetCount(); ++i) {
    const IXXMLNode n = l->GetItem(i);
    const QString name = n->GetNodeName();
    int kind = -1;
    TDDList<TDDParam> *list = &D.FParams;
    if (name == "param-enum")
      kind = TDDParam::pkEnum;
    else if (name == "param-num")
      kind = TDDParam::pkNumeric;
    else if (name == "param-char")
      kind = TDDParam::pkChar;
    else if (name == "param-nummvp")
      kind = TDDParam::pkNumericMvp, list = &D.FParamsMvp;
    else if (name == "param-nummvs")
      kind = TDDParam::pkNumericMvs, list = &D.FParamsMvs;
    else
      continue;
    auto p = std::make_unique<TDDParam>(&D, kind);
    ReadNamedHead(n, *p, ParamTypes);
    if (kind == TDDParam::pkEnum) {
      p->Value = ReadWord(n, "word-value", 0);
      ReadTable(n, "string", p->GetEnum().Strings);
    } else if (kind == TDDParam::pkChar) {
      TDDParamChar &ch = p->GetChar();
      ch.StringValue = n->GetStrNodeDef("string-value");
      ch.Length = ReadByte(n, "byte-value");
      ch.PasswdChar = ReadByte(n, "byte-passwd-char");
    } else {
      p->Value = ReadWord(n, "word-value", 0);
      TDDParamNumeric &num = p->GetNumeric();
      num.Koef = ReadWord(n, "word-koef");
      num.Min = ReadWord(n, "word-min", 0);
      num.Max = ReadWord(n, "word-max", 0);
    }
    list->Add(std::move(p));
  }
}

void TDeviceDescriptor::TXmlIo::WriteParams(const IXXMLNode &Root) const {
  const IXXMLNode section = Root->AddChild("param");
  const TDDParamCommon &c = D.FParamCommon;
  Add(section, "word-var-addr", c.VarAddr);
  Add(section, "word-var-size", c.VarSize);
  Add(section, "word-bin-addr", c.BinAddr);
  Add(section, "word-bin-size", c.BinSize);
  Add(section, "word-modbus-addr", c.ModbusAddr);
  WriteHead(section->AddChild("param-ddo-date"), c.Date);
  WriteHead(section->AddChild("param-ddo-status"), c.Status);
  WriteHead(section->AddChild("param-ddo-ustav1"), c.Ustav1);
  WriteHead(section->AddChild("param-ddo-ustav2"), c.Ustav2);
  const IXXMLNode io = section->AddChild("input-output");
  for (const auto &b : D.FBitRegs) {
    const IXXMLNode n = io->AddChild("param-bitreg");
    WriteHead(n, *b);
    WriteTable(n, "string", b->Bits);
  }
  static const char *const names[] = {"param-enum", "param-num", "param-char", "param-nummvp", "param-nummvs"};
  for (const TDDList<TDDParam> *list : {&D.FParams, &D.FParamsMvp, &D.FParamsMvs})
    for (const auto &p : *list) {
      const IXXMLNode n = section->AddChild(QString::fromLatin1(names[p->Kind]));
      WriteNamedHead(n, *p);
      Add(n, "word-value", p->Value);
      if (p->Kind == TDDParam::pkEnum) {
        WriteTable(n, "string", p->GetEnum().Strings);
      } else if (p->Kind == TDDParam::pkChar) {
        Add(n, "string-value", p->GetChar().StringValue);
        Add(n, "byte-value", p->GetChar().Length);
        Add(n, "byte-passwd-char", p->GetChar().PasswdChar);
      } else {
        Add(n, "word-koef", p->GetNumeric().Koef);
        Add(n, "word-min", p->GetNumeric().Min);
        Add(n, "word-max", p->GetNumeric().Max);
      }
    }
}

void TDeviceDescriptor::TXmlIo::ReadUstavs(const IXXMLNode &Root) {
  const IXXMLNode section = RequiredSection(Root, "ustav");
  D.FUstavCommon.UstavAddr = ReadWord(section, "word-ustav-addr");
  D.FUstavCommon.UstavSize = ReadWord(section, "word-ustav-size");
  D.FUstavCommon.GroupCount = ReadByte(section, "word-ustav-groupc", 2);
  ReadTable(section->SelectSingleNode("ustav-level"), "string", D.FUstavLevels);
  const IXXMLNodeList l = section->SelectNodes("ustav-enum|ustav-num");
  for (int i = 0; i < l->GetCount(); ++i) {
    const IXXMLNode n = l->GetItem(i);
    const bool isEnum = n->GetNodeName() == "ustav-enum";
    auto u = std::make_unique<TDDUstav>(&D, isEnum ? TDDUstav::ukEnum : TDDUstav::ukNumeric);
    if (isEnum) {
      u->RecordType = CheckedType(n, UstavTypes, true);
      ReadNamedHead(n, *u, UstavTypes);
      if (u->RecordType == 50) {
        // An enumeration written as a numeric record would be misread by the device.
        u->RecordType = 49;
        D.FErrors << QStringLiteral("ustav-enum: record type 50 read as 49, ider ") + QString::number(u->Ider);
      }
    } else {
      ReadNamedHead(n, *u, UstavTypes);
    }
    u->LevelMask = ReadByte(n, "byte-level-mask");
    u->LevelIder = ReadInt(n, "level-ider", -1);
    if (isEnum) {
      ReadTable(n, "string", u->GetEnum().Strings);
      ReadTable(n, "short-string", u->GetEnum().ShortStrings);
    } else {
      TDDUstavNumeric &num = u->GetNumeric();
      num.MeasureIder = ReadInt(n, "word-measure-ider", -1);
      num.SecValMin = ReadWord(n, "word-sec-val-min");
      num.SecValMax = ReadWord(n, "word-sec-val-max");
    }
    u->Values[0] = ReadWord(n, "ustav-value1", 0);
    u->Values[1] = ReadWord(n, "ustav-value2", 0);
    u->Custom = n->GetIntAttr("custom", 0) != 0;
    D.FUstavs.Add(std::move(u));
  }
}

void TDeviceDescriptor::TXmlIo::WriteUstavs(const IXXMLNode &Root) const {
  const IXXMLNode section = Root->AddChild("ustav");
  Add(section, "word-ustav-addr", D.FUstavCommon.UstavAddr);
  Add(section, "word-ustav-size", D.FUstavCommon.UstavSize);
  Add(section, "word-ustav-groupc", D.FUstavCommon.GroupCount);
  WriteTable(section->AddChild("ustav-level"), "string", D.FUstavLevels);
  for (const auto &u : D.FUstavs) {
    const bool isEnum = u->Kind == TDDUstav::ukEnum;
    const IXXMLNode n = section->AddChild(isEnum ? "ustav-enum" : "ustav-num");
    WriteNamedHead(n, *u);
    Add(n, "byte-level-mask", u->LevelMask);
    if (u->LevelIder >= 0)
      Add(n, "level-ider", u->LevelIder);
    if (isEnum) {
      WriteTable(n, "string", u->GetEnum().Strings);
      WriteTable(n, "short-string", u->GetEnum().ShortStrings);
    } else {
      const TDDUstavNumeric &num = u->GetNumeric();
      if (num.Measure)
        Add(n, "word-measure-ider", num.Measure->Ider);
      Add(n, "word-sec-val-min", num.SecValMin);
      Add(n, "word-sec-val-max", num.SecValMax);
    }
    Add(n, "ustav-value1", u->Values[0]);
    Add(n, "ustav-value2", u->Values[1]);
    if (u->Custom)
      n->SetStrAttr("custom", "1");
  }
}

void TDeviceDescriptor::TXmlIo::ReadEvents(const IXXMLNode &Root) {
  const IXXMLNode section = RequiredSection(Root, "event");
  D.FEventCommon.CodeOffset = ReadByte(section, "byte-code-offset");
  D.FEventCommon.FrontOffset = ReadByte(section, "byte-front-offset");
  D.FEventCommon.TimeOffset = ReadByte(section, "byte-time-offset");
  ReadTable(section->SelectSingleNode("event-level"), "string", D.FEventLevels);
  const IXXMLNodeList l = section->SelectNodes("event-measure|event-bitreg|event-item");
  for (int i = 0; i < l->GetCount(); ++i) {
    const IXXMLNode n = l->GetItem(i);
    const QString name = n->GetNodeName();
    if (name == "event-measure") {
      auto m = std::make_unique<TDDMeasureRef>(&D, 65);
      m->MeasureIder = ReadInt(n, "word-measure-ider", -1);
      D.FEventMeasures.Add(std::move(m));
    } else if (name == "event-bitreg") {
      auto b = std::make_unique<TModbusObjectRef>(&D, 66);
      b->ModbusId = ReadText(n, "modbus-id");
      D.FEventBitRegs.Add(std::move(b));
    } else {
      auto e = std::make_unique<TDDEvent>(&D);
      ReadNamedHead(n, *e, EventTypes);
      e->RecordType = ReadByte(n, "failure-flag", 0) == 1 ? 68 : 67;
      e->Code = ReadByte(n, "byte-code");
      e->LevelMask = ReadByte(n, "byte-level-mask");
      D.FEvents.Add(std::move(e));
    }
  }
}

void TDeviceDescriptor::TXmlIo::WriteEvents(const IXXMLNode &Root) const {
  const IXXMLNode section = Root->AddChild("event");
  Add(section, "byte-code-offset", D.FEventCommon.CodeOffset);
  Add(section, "byte-front-offset", D.FEventCommon.FrontOffset);
  Add(section, "byte-time-offset", D.FEventCommon.TimeOffset);
  WriteTable(section->AddChild("event-level"), "string", D.FEventLevels);
  for (const auto &m : D.FEventMeasures) {
    const IXXMLNode n = section->AddChild("event-measure");
    if (m->MeasureIder != -1)
      Add(n, "word-measure-ider", m->MeasureIder);
  }
  for (const auto &b : D.FEventBitRegs)
    Add(section->AddChild("event-bitreg"), "modbus-id", b->ModbusId);
  for (const auto &e : D.FEvents) {
    if (e->RecordType != 67 && e->RecordType != 68)
      throw EKvError(QStringLiteral("invalid event record type ") + QString::number(e->RecordType, 16));
    const IXXMLNode n = section->AddChild("event-item");
    Add(n, "failure-flag", e->RecordType == 68);
    WriteNamedHead(n, *e);
    Add(n, "byte-code", e->Code);
    Add(n, "byte-level-mask", e->LevelMask);
  }
}

void TDeviceDescriptor::TXmlIo::ReadOsc(const IXXMLNode &Root) {
  const IXXMLNode section = Root->SelectSingleNode("osc");
  if (!section)
    return;
  const IXXMLNodeList l = section->SelectNodes("osc-item|osc-bitreg");
  for (int i = 0; i < l->GetCount(); ++i) {
    const IXXMLNode n = l->GetItem(i);
    if (n->GetNodeName() == "osc-item") {
      auto m = std::make_unique<TDDMeasureRef>(&D, 81);
      m->MeasureIder = ReadInt(n, "word-measure-ider", -1);
      m->SaveCyclicity = ReadWord(n, "osc-save-cyclicity", 1);
      D.FOscItems.Add(std::move(m));
    } else {
      auto b = std::make_unique<TModbusObjectRef>(&D, 82);
      b->ModbusId = ReadText(n, "modbus-id");
      D.FOscBitRegs.Add(std::move(b));
    }
  }
}

void TDeviceDescriptor::TXmlIo::WriteOsc(const IXXMLNode &Root) const {
  const IXXMLNode section = Root->AddChild("osc");
  for (const auto &m : D.FOscItems) {
    const IXXMLNode n = section->AddChild("osc-item");
    if (m->MeasureIder != -1)
      Add(n, "word-measure-ider", m->MeasureIder);
    Add(n, "osc-save-cyclicity", m->SaveCyclicity);
  }
  for (const auto &b : D.FOscBitRegs)
    Add(section->AddChild("osc-bitreg"), "modbus-id", b->ModbusId);
}

void TDeviceDescriptor::LoadFromFile(const QString &FileName) {
  FFileName = FileName;
  FDocument = NewXMLDocument();
  if (!FDocument->Load(FileName))
    throw EKvError(QStringLiteral("error loading ") + FileName + ": " + FDocument->GetParseError());
  LoadFromXML(FDocument->GetDocumentElement());
  FModified = false;
}

void TDeviceDescriptor::LoadFromXML(const IXXMLNode &Node) {
  Clear();
  FErrors.clear();
  TXmlIo io{*this};
  FVersion = ReadWord(Node, "version", 2);
  io.ReadMeasures(Node);
  io.ReadParams(Node);
  io.ReadEvents(Node);
  io.ReadOsc(Node);
  io.ReadUstavs(Node);
  SyncParams(FParamsMvp, QStringLiteral("XC"), TDDParam::pkNumericMvp);
  SyncParams(FParamsMvs, QStringLiteral("XD"), TDDParam::pkNumericMvs);
  for (const auto &u : FUstavs)
    if (u->Kind == TDDUstav::ukNumeric)
      u->GetNumeric().Measure = FindMeasureById(u->GetNumeric().MeasureIder);
  for (const auto &m : FMeasures) {
    m->Mvp = FindByIderName(FParamsMvp, m->MvpId);
    m->Mvs = FindByIderName(FParamsMvs, m->MvsId);
  }
  FIndicatorMenu = Node->GetStrNodeDef("indicator-menu", QStringLiteral("<item-list/>"));
  if (!FErrors.isEmpty())
    ShowErrors();
}

void TDeviceDescriptor::SyncParams(TDDList<TDDParam> &List, const QString &Prefix, int Kind) {
  const TModbusIderList *ids = ModbusIderList();
  std::erase_if(List, [&](const std::unique_ptr<TDDParam> &p) {
    return !p->FModbusObject.Ider || !ids || !ids->FindByName(p->FModbusObject.Ider->Name);
  });
  if (!ids)
    return;
  for (int i = 0; i < ids->Count(); ++i) {
    const TModbusIder &ider = ids->Item(i);
    if (!ider.Name.startsWith(Prefix) || FindByIderName(List, ider.Name))
      continue;
    int id = 1;
    while (List.FindById(id))
      ++id;
    auto p = std::make_unique<TDDParam>(this, Kind);
    p->Ider = id;
    p->FModbusObject.Ider = ider;
    p->String = ider.Comment;
    List.Add(std::move(p));
  }
}

void TDeviceDescriptor::SaveToXML(const IXXMLNode &Node) const {
  TXmlIo io{const_cast<TDeviceDescriptor &>(*this)};
  Add(Node, "version", FVersion);
  io.WriteMeasures(Node);
  io.WriteParams(Node);
  io.WriteUstavs(Node);
  io.WriteEvents(Node);
  io.WriteOsc(Node);
  Add(Node, "indicator-menu", FIndicatorMenu);
}

void TDeviceDescriptor::SaveMenuFile(const QString &FileName) const {
  SaveFileBytes(FileName, ToWin1251(QStringLiteral("<?xml version=\"1.0\" encoding=\"windows-1251\"?><document>") +
                                     FIndicatorMenu + "</document>"));
}

// ---- image builder state

TDeviceDescriptorBin::TDeviceDescriptorBin(TDeviceDescriptor *AOwner) : Owner(AOwner) {
  FRegMap.fill(0xFFFF);
  FHeader.fill(0xFFFF);
  // Until the caller installs the device's map: an all-zero table would end
  // every display string at its first character.
  const QByteArray builtIn = BuiltInCharMap();
  std::copy_n(reinterpret_cast<const uint8_t *>(builtIn.constData()), std::min<qsizetype>(256, builtIn.size()),
              FCharMap.begin());
}

void TDeviceDescriptorBin::CopyMemoryMap(const TModbusIderList &List) {
  FBaseAddr = List.FFlashAddr;
  FFlashSize = List.FFlashSize;
  FSRAMAddr = List.FSRAMAddr;
  FSRAMSize = List.FSRAMSize;
  FEEPROMAddr = List.FEEPROMAddr;
  FEEPROMSize = List.FEEPROMSize;
  FWorkingUstavAddr = List.FWorkingUstavAddr;
  FWorkingUstavSize = List.FWorkingUstavSize;
  FCoreDateAddr = List.FCoreDateAddr;
  FCoreDateSize = List.FCoreDateSize;
  FCalibrAddr = List.FCalibrAddr;
}

namespace {
void WriteAt(QIODevice &Stream, qint64 Offset, const QByteArray &Bytes) {
  const qint64 saved = Stream.pos();
  if (!Stream.seek(Offset) || Stream.write(Bytes) != Bytes.size() || !Stream.seek(saved))
    throw EKvError("stream write error");
}
QByteArray LeWord(uint16_t V) {
  const char b[2] = {char(V & 0xFF), char(V >> 8)};
  return QByteArray(b, 2);
}
QByteArray LeDWord(uint32_t V) { return LeWord(uint16_t(V & 0xFFFF)) + LeWord(uint16_t(V >> 16)); }
uint16_t ReadWordAt(QIODevice &Stream, qint64 Offset) {
  const qint64 saved = Stream.pos();
  char b[2];
  if (!Stream.seek(Offset) || Stream.read(b, 2) != 2 || !Stream.seek(saved))
    throw EKvError("stream read error");
  return uint16_t(uint8_t(b[0]) | (uint8_t(b[1]) << 8));
}
} // namespace

void TDeviceDescriptorBin::ResetRegMap() {
  FRegMap.fill(0xFFFF);
  FClaimed.fill(false);
}

uint16_t TDeviceDescriptorBin::Address(qint64 Position) const { return CheckedCast<uint16_t>(FBaseAddr + Position); }

void TDeviceDescriptorBin::AddAreaStart(QIODevice &Stream) {
  if (FHeaderCount > 20)
    Assert(QStringLiteral("invalid FHeaderCount %1").arg(FHeaderCount));
  WriteHeaderWord(Stream, FHeaderCount, CheckedCast<uint16_t>(Stream.pos()));
  ++FHeaderCount;
}

void TDeviceDescriptorBin::WriteHeaderWord(QIODevice &Stream, int Index, uint16_t Value) {
  if (Index < 0 || Index > 20)
    Assert(QStringLiteral("invalid header %1").arg(Index));
  WriteAt(Stream, 4 + 2 * Index, LeWord(Value));
}

uint16_t TDeviceDescriptorBin::ReadHeaderWord(QIODevice &Stream, int Index) {
  if (Index < 0 || Index > 20)
    Assert(QStringLiteral("invalid header %1").arg(Index));
  return ReadWordAt(Stream, 4 + 2 * Index);
}

void TDeviceDescriptorBin::MakeHeaderAbsolute(QIODevice &Stream) {
  for (int i = 0; i <= 20; ++i) {
    const int offset = ReadHeaderWord(Stream, i);
    const int sum = offset + FBaseAddr;
    if (sum > 0xFFFF)
      throw EKvRange(QString::asprintf("header %d overflow: offset %4x base addr %4x", i, offset, FBaseAddr));
    WriteHeaderWord(Stream, i, uint16_t(sum));
    if (i <= 16)
      FHeader[size_t(i)] = uint16_t(sum);
  }
}

void TDeviceDescriptorBin::Claim(int Register, qint64 Position, const QString &Suffix) {
  if (Register < 0 || Register >= 1023)
    throw EKvError(QStringLiteral("Invalid Modbus register $") + Hex4(Register) + Suffix);
  if (FClaimed[size_t(Register)])
    throw EKvError(QStringLiteral("Duplicate Modbus register $") + Hex4(Register) + Suffix);
  FClaimed[size_t(Register)] = true;
  FRegMap[size_t(Register)] = Address(Position);
}

void TDeviceDescriptorBin::MapRegister(TDDNamedObject &Record, qint64 Position, int Offset) {
  if (FBaseAddr == 0xFFFF)
    throw EKvError(QString::fromUtf8("начало дескриптора не определено"));
  if (Offset == 0)
    Record.ImageAddr = Address(Position);
  if (Record.FModbusObject.Reg != 0xFFFF)
    Claim(Record.FModbusObject.Reg + Offset, Position, " " + Record.String);
}

void TDeviceDescriptorBin::MapRegisterAt(int Register, qint64 Position) {
  if (FBaseAddr == 0xFFFF)
    throw EKvError(QString::fromUtf8("начало дескриптора не определено"));
  Claim(Register, Position, QString());
}

void TDeviceDescriptorBin::WriteCalibrAddr(QIODevice &Stream) {
  if (FCalibrAddr == 0xFFFF)
    throw EKvError("no FCalibrAddr");
  WriteAt(Stream, 42, LeWord(FCalibrAddr));
}

void TDeviceDescriptorBin::WriteCrc(QIODevice &Stream) {
  WriteAt(Stream, 44, QByteArray(4, '\0'));
  // The stream checksum leaves the last byte out; devices compare with that.
  const uint32_t crc = StreamCrc32(Stream, -1);
  if (!Stream.seek(Stream.size()))
    throw EKvError("stream write error");
  WriteAt(Stream, 44, LeDWord(crc));
}

// ---- the build

struct TDeviceDescriptor::TBuilder {
  TDeviceDescriptor &D;
  TDeviceDescriptorBin &B;
  QIODevice &S;

  qint64 Pos() const { return S.pos(); }
  uint16_t Addr() const { return B.Address(Pos()); }
  void Bytes(const QByteArray &Data) {
    if (S.write(Data) != Data.size())
      throw EKvError("stream write error");
  }
  void Byte(int V) { Bytes(QByteArray(1, char(CheckedCast<uint8_t>(V)))); }
  void Word(int V) { Bytes(LeWord(CheckedCast<uint16_t>(V))); }
  void Count(size_t N) { Byte(CheckedCast<uint8_t>(N)); }
  void Display(const QString &Text) {
    Bytes(EncodeDisplayString(Text, B.FCharMap.data()));
    Byte(0);
  }
  void DisplayName(const QString &Short, const QString &Full) { Display(Short.isEmpty() ? Full.left(20) : Short); }
  void Plain(const QString &Text) {
    Bytes(EncodePlainString(Text));
    Byte(0);
  }
  void PlainTable(const TDDStringList &Table) {
    Count(Table.size());
    for (const TDDString &t : Table)
      Plain(t.Value1);
  }
  // Count, display name, value display names, plain name, plain values.
  void EnumTexts(const TDDNamedObject &R, const TDDStringList &Values) {
    Count(Values.size());
    DisplayName(R.ShortString, R.String);
    for (const TDDString &v : Values)
      DisplayName(v.Value2, v.Value1);
    Plain(R.String);
    for (const TDDString &v : Values)
      Plain(v.Value1);
  }
  void Head(const TDDObject &R) {
    Byte(R.RecordType);
    Byte(R.FModbusObject.Acc);
    Word(R.FModbusObject.Sram);
    Word(R.FModbusObject.Eeprom);
  }
  // One record per further register of a multi-register identifier (at most 15).
  void Extras(TDDNamedObject &R) {
    const int words = R.FModbusObject.Ider ? R.FModbusObject.Ider->Size : 0;
    for (int i = 1; i < std::min(words, 16); ++i) {
      B.MapRegister(R, Pos(), i);
      Byte(16);
      Byte(R.FModbusObject.Acc);
      Word(Shifted(R.FModbusObject.Sram, 2 * i));
      Word(Shifted(R.FModbusObject.Eeprom, 2 * i));
    }
  }
  void BitWords(const TDDList<TModbusObjectRef> &Refs) {
    for (const auto &r : Refs) {
      const TDDParamBitReg *g = D.FindBitRegByIderName(r->ModbusId);
      if (!g)
        throw EKvError("Event Bitreg error");
      for (size_t w = 0; w < (g->Bits.size() + 15) / 16; ++w) {
        Byte(r->RecordType);
        Word(Shifted(g->FModbusObject.Sram, 2 * int(w)));
      }
    }
  }

  void Measures();
  void BitGroups();
  void Params();
  void Ustavs();
  void EventsAndOsc();
  void SpecialEeprom();
  void Menu();
  void Run(const QByteArray &Code, uint16_t CodeSize, uint32_t LogicDate, uint32_t BuildDate, uint32_t IdentCrc);
};

void TDeviceDescriptor::TBuilder::Measures() {
  B.AddAreaStart(S);
  for (const auto &m : D.FMeasures) {
    B.MapRegister(*m, Pos());
    m->RecordType = 1 | (m->Visible ? 2 : 0) | (m->Dopkod ? 4 : 0) | (m->OffsetFlag ? 8 : 0);
    Byte(m->RecordType);
    Byte(m->FModbusObject.Acc);
    Word(m->FModbusObject.Sram);
    Word(m->Mvp ? m->Mvp->FModbusObject.Sram : 0xFFFF);
    Byte(ScaleCode(m->PrimValMult));
    Word(m->Mvs ? m->Mvs->FModbusObject.Sram : 0xFFFF);
    Byte(ScaleCode(m->SecValDiv));
    if (m->OffsetFlag)
      Word(m->Offset);
    DisplayName(m->ShortString, m->String);
    Plain(m->String);
  }
  for (const auto &m : D.FMeasures) {
    const uint16_t angle = D.GetCalibrationAngleAddr(m->FModbusObject.Sram);
    if (angle == 0xFFFF || D.FindMeasureBySram(angle))
      continue;
    m->RecordType = 1;
    Byte(1);
    Byte(0);
    Word(angle);
    Word(0xFFFF);
    Byte(0);
    Word(0xFFFF);
    Byte(0);
    Byte(0);
    Plain(m->String + QString::fromUtf8(" - угол"));
  }
  Byte(0xAA);
  const TDDParamCommon &c = D.FParamCommon;
  for (uint16_t w : {c.VarAddr, c.VarSize, c.BinAddr, c.BinSize, c.Ustav1.FModbusObject.Reg, c.Ustav2.FModbusObject.Reg})
    Word(w);
}

void TDeviceDescriptor::TBuilder::BitGroups() {
  for (const auto &g : D.FBitRegs) {
    B.AddAreaStart(S);
    B.MapRegister(*g, Pos());
    Byte(g->RecordType);
    Byte(g->FModbusObject.Acc);
    Word(g->FModbusObject.Sram);
    Count(g->Bits.size());
    for (const TDDString &b : g->Bits)
      DisplayName(b.Value2, b.Value1);
    for (const TDDString &b : g->Bits)
      Plain(b.Value1);
    Extras(*g);
    Byte(0xAA);
  }
}

void TDeviceDescriptor::TBuilder::Params() {
  B.AddAreaStart(S);
  for (const TDDList<TDDParam> *list : {&D.FParams, &D.FParamsMvp, &D.FParamsMvs})
    for (const auto &p : *list) {
      B.MapRegister(*p, Pos());
      Head(*p);
      if (p->Kind == TDDParam::pkEnum) {
        EnumTexts(*p, p->GetEnum().Strings);
      } else if (p->Kind == TDDParam::pkChar) {
        Byte(p->GetChar().Length);
        Byte(p->GetChar().PasswdChar);
        DisplayName(p->ShortString, p->String);
        Plain(p->String);
        Extras(*p);
      } else {
        Byte(ScaleCode(p->GetNumeric().Koef));
        Word(p->GetNumeric().Min);
        Word(p->GetNumeric().Max);
        DisplayName(p->ShortString, p->String);
        Plain(p->String);
      }
    }
  for (TDDNamedObject *r : {&D.FParamCommon.Date, &D.FParamCommon.Status}) {
    B.MapRegister(*r, Pos());
    Head(*r);
    Extras(*r);
  }
  Byte(0xAA);
  PlainTable(D.FUstavLevels);
}

void TDeviceDescriptor::TBuilder::Ustavs() {
  B.AddAreaStart(S);
  const TModbusObject &g1 = D.FParamCommon.Ustav1.FModbusObject, &g2 = D.FParamCommon.Ustav2.FModbusObject;
  for (size_t i = 0; i < D.FUstavs.size(); ++i) {
    TDDUstav &u = *D.FUstavs[i];
    const int twice = 2 * int(i);
    u.ImageAddr = Addr();
    if (g1.Reg != 0xFFFF)
      B.MapRegisterAt(g1.Reg + int(i), Pos());
    if (u.LevelIder >= 0)
      u.UpdateLevelMask();
    Byte(u.RecordType);
    Byte(u.FModbusObject.Acc);
    Word(Shifted(g1.Sram, twice));
    Word(Shifted(g1.Eeprom, twice));
    if (u.Kind == TDDUstav::ukNumeric) {
      const TDDUstavNumeric &n = u.GetNumeric();
      Word(n.Measure ? n.Measure->ImageAddr : 0xFFFF);
      Word(n.SecValMin);
      Word(n.SecValMax);
      DisplayName(u.ShortString, u.String);
      Plain(u.String);
    } else {
      EnumTexts(u, u.GetEnum().Strings);
    }
    Byte(u.LevelMask);
  }
  for (size_t i = 0; i < D.FUstavs.size(); ++i) {
    const TDDUstav &u = *D.FUstavs[i];
    const int type = UstavGroup2Type(u.RecordType);
    if (type < 0)
      throw EKvError("invalid ustav record type");
    if (g2.Reg != 0xFFFF)
      B.MapRegisterAt(g2.Reg + int(i), Pos());
    Byte(type);
    Byte(u.FModbusObject.Acc);
    Word(Shifted(g2.Sram, 2 * int(i)));
    Word(Shifted(g2.Eeprom, 2 * int(i)));
  }
  Byte(0xAA);
  PlainTable(D.FEventLevels);
}

void TDeviceDescriptor::TBuilder::EventsAndOsc() {
  B.AddAreaStart(S);
  for (const auto &e : D.FEventMeasures) {
    e->ImageAddr = Addr();
    const TDDMeasure *m = D.FindMeasureById(e->MeasureIder);
    Byte(e->RecordType);
    Word(m ? m->FModbusObject.Sram : 0xFFFF);
    Word(m ? Shifted(m->ImageAddr, 10) : 0xFFFF);
  }
  BitWords(D.FEventBitRegs);
  Byte(0xAA);

  B.AddAreaStart(S);
  for (const auto &e : D.FEvents) {
    e->ImageAddr = Addr();
    Byte(e->RecordType);
    Byte(e->Code);
    Byte(e->LevelMask);
    Display(e->String);
  }
  Byte(0xAA);

  B.AddAreaStart(S);
  for (const auto &o : D.FOscItems) {
    o->ImageAddr = Addr();
    const TDDMeasure *m = D.FindMeasureById(o->MeasureIder);
    Byte(o->RecordType);
    if (m) {
      Byte(m->FModbusObject.Ider ? m->FModbusObject.Ider->GetByteSize() : 0);
      Word(m->ImageAddr);
    } else {
      Byte(0xFF);
      Word(0xFFFF);
    }
  }
  BitWords(D.FOscBitRegs);
  Byte(0xAA);
}

// The menu goes through an editor core of its own, as the program's hidden
// editor window would: its document is loaded from the descriptor's menu text.
void TDeviceDescriptor::TBuilder::Menu() {
  B.AddAreaStart(S);
  const qint64 menuAt = Pos();
  const QString folder = D.FWorkFolder.isEmpty() ? TSetupSurrogate::GetTempFolder() : D.FWorkFolder;
  const QString temp = ResolveFileNameCI(folder, "tempmenu.xml");
  D.SaveMenuFile(temp);
  TMenuEditorCore editor;
  editor.LoadFromFile(temp);
  editor.SetDescriptor(&D);
  editor.Menu().Build(S, B.FBaseAddr, 1);
  editor.Menu().WriteListing(S, B.FBaseAddr, menuAt, ResolveFileNameCI(folder, "menu.lst"));
  WriteAt(S, 2110, LeWord(editor.GetDateItemAddr()));
  Byte(0xAA);
}

void TDeviceDescriptor::TBuilder::SpecialEeprom() {
  static const QRegularExpression special(QStringLiteral("(#\\s*SPECIAL-EEPROM)"));
  const qint64 countAt = Pos();
  Byte(0);
  int count = 0, length = 0;
  uint16_t eeprom = 0, sram = 0;
  QString prefix;
  auto close = [&]() {
    if (length > 0) {
      Byte(length);
      Word(eeprom);
      Word(sram);
      ++count;
    }
    length = 0;
  };
  for (const auto &p : D.FParams) {
    const TModbusObject &m = p->FModbusObject;
    const QString name = m.IderName().left(2);
    if (name != prefix) {
      close();
      prefix = name;
    }
    if (m.Ider && special.match(m.Ider->Comment).hasMatch()) {
      if (length == 0)
        eeprom = m.Eeprom, sram = m.Sram;
      length += 2;
    } else {
      close();
    }
  }
  close();
  WriteAt(S, countAt, QByteArray(1, char(CheckedCast<uint8_t>(count))));
}

void TDeviceDescriptor::TBuilder::Run(const QByteArray &Code, uint16_t CodeSize, uint32_t LogicDate,
                                      uint32_t BuildDate, uint32_t IdentCrc) {
  Word(2);
  B.ResetHeaderCount();
  B.ResetRegMap();
  for (int i = 0; i < 22; ++i)
    Word(0);

  B.AddAreaStart(S);
  const qint64 mapAt = Pos();
  Bytes(QByteArray(2 * D.FParamCommon.RegCount, '\0'));
  Word(0);
  Bytes(LeDWord(LogicDate) + LeDWord(BuildDate) + LeDWord(IdentCrc));
  Word(0xFFFF); // the menu's date item, written when the menu is built
  Word(0);
  Word(0);

  Measures();
  BitGroups();
  Params();
  Ustavs();
  EventsAndOsc();
  Menu();
  for (int i = 13; i <= 15; ++i) {
    B.AddAreaStart(S);
    Byte(0xAA);
  }
  Byte(0xAA);
  B.AddAreaStart(S); // the code: its word is set below
  B.AddAreaStart(S);
  SpecialEeprom();
  if (B.FHeaderCount != 18)
    Assert(QStringLiteral("invalid FDeviceDescriptorBin.FHeaderCount %1").arg(B.FHeaderCount));

  QByteArray map;
  for (uint16_t w : B.FRegMap)
    map += LeWord(w);
  WriteAt(S, mapAt, map);

  if (Pos() % 2)
    Byte(0xAA);
  Bytes(QByteArray(int((512 - Pos() % 512) % 512), char(0xFF)));
  B.WriteHeaderWord(S, 16, CheckedCast<uint16_t>(Pos()));
  if (Code.size() < CodeSize)
    throw EKvRange(QStringLiteral("range check error: %1").arg(CodeSize));
  Bytes(Code.left(CodeSize));
  Bytes(QByteArray(int((512 - Pos() % 512) % 512), char(0xFF)));
  B.MakeHeaderAbsolute(S);
  B.WriteCalibrAddr(S);
  B.WriteCrc(S);
}

void TDeviceDescriptor::BuildBin(QIODevice &Stream, const QByteArray &Code, uint16_t CodeSize, uint32_t LogicDate,
                                 uint32_t BuildDate, uint32_t IdentCrc) {
  TBuilder{*this, FDeviceDescriptorBin, Stream}.Run(Code, CodeSize, LogicDate, BuildDate, IdentCrc);
}

void TDeviceDescriptor::WriteHeaderListing(QIODevice &Stream, const QString &FileName) {
  static const char *const labels[17] = {
      "MODBUS", "измерения", "Дискретный вход", "Реле", "Светодиод", "Виртульный вход", "Виртульный выход",
      "параметры", "уставки", "измерение событий", "события", "осциллограммы", "меню", "системные события",
      "активный modbus (прием)", "активный modbus (передача)", "исполняемый код"};
  const TDeviceDescriptorBin &b = FDeviceDescriptorBin;
  const int base = b.FBaseAddr;
  QString text = QString::fromUtf8("Заголовок дескриптора\r\n\r\n");
  text += QString::asprintf("     %4.4x ", base) + QString::fromUtf8("базовый адрес\r\n\r\n");
  const uint16_t length = ReadWordAt(Stream, 0);
  text += QString::asprintf("%4.4x %4.4x           ", 0, uint16_t((length >> 8) | (length << 8))) +
          QString::fromUtf8("длина\r\n");
  text += QString::asprintf("%4.4x %4.4x           ", 2, ReadWordAt(Stream, 2)) + QString::fromUtf8("версия\r\n");
  text += "offs addr offs leng area\r\n------------------------\r\n";
  for (int i = 0; i <= 16; ++i) {
    const int addr = ReadWordAt(Stream, 4 + 2 * i);
    const int next = i < 16 ? ReadWordAt(Stream, 6 + 2 * i) : int(Stream.size()) + base;
    text += QString::asprintf("%4.4x %4.4x %4.4x %4.4x ", 4 + 2 * i, addr, addr - base, next - addr) +
            QString::fromUtf8(labels[i]) + "\r\n";
  }
  SaveFileBytes(FileName, ToWin1251(text));
}

// ---- validation and addresses

void TDeviceDescriptor::Validate() {
  auto u8 = [](const char *S) { return QString::fromUtf8(S); };
  for (const auto &p : FParams)
    if (!p->FModbusObject.Ider)
      FErrors << u8("не привязан к modbus параметр ") + p->String;
  auto measures = [&](const TDDList<TDDMeasureRef> &List, const char *Unset, const char *Missing) {
    for (size_t i = 0; i < List.size(); ++i) {
      const QString number = QString::number(i + 1);
      if (List[i]->MeasureIder == 65535)
        FErrors << u8(Unset) + number;
      else if (!FindMeasureById(List[i]->MeasureIder))
        FErrors << u8(Missing) + number;
    }
  };
  auto bitRefs = [&](const TDDList<TModbusObjectRef> &List, const char *Text) {
    const TModbusIderList *ids = ModbusIderList();
    for (size_t i = 0; i < List.size(); ++i)
      if (!ids || !ids->FindByName(List[i]->ModbusId))
        FErrors << u8(Text) + QString::number(i + 1);
  };
  measures(FEventMeasures, "не задано измерение для событий ", "не найдено измерение для событий ");
  bitRefs(FEventBitRegs, "не задан регистр modbus для событий ");
  measures(FOscItems, "не задано измерение для осциллограммы ", "не найдено измерение для осциллограммы ");
  bitRefs(FOscBitRegs, "не задан регистр modbus для osc ");
  static const char *const groups[] = {"DI", "DO", "LE", "VI", "VO"};
  for (size_t i = 0; i < FBitRegs.size(); ++i)
    if (!FBitRegs[i]->FModbusObject.Ider)
      FErrors << u8("не привязан к modbus битовый регистр ") + groups[i];
  const std::pair<const TDDObject *, const char *> common[] = {
      {&FParamCommon.Date, "не привязана к modbus дата"},
      {&FParamCommon.Status, "не привязан к modbus статус"},
      {&FParamCommon.Ustav1, "не привязаны к modbus уставки 1"},
      {&FParamCommon.Ustav2, "не привязаны к modbus уставки 2"}};
  for (const auto &[record, text] : common)
    if (!record->FModbusObject.Ider)
      FErrors << u8(text);
}

void TDeviceDescriptor::GenerateAddresses(const QString &WorkFolder) {
  TDeviceDescriptorBin &b = FDeviceDescriptorBin;
  if (b.FSRAMAddr == 0xFFFF) {
    FErrors << "undefined SRAM";
    return;
  }
  if (b.FEEPROMAddr == 0xFFFF) {
    FErrors << "undefined EEPROM";
    return;
  }
  int next = b.FEEPROMAddr;
  QString text = QString::fromUtf8("Генератор адресов дескриптора\r\n\r\n");
  text += QString::asprintf("SRAM   %4.4x %4.4x\r\nEEPROM %4.4x %4.4x\r\n\r\n", b.FSRAMAddr, b.FSRAMSize,
                            b.FEEPROMAddr, b.FEEPROMSize);
  text += "tp ac modb sram eepr ider  size name\r\n------------------------------------\r\n";
  auto assign = [&](TDDNamedObject &R, int Flags) {
    TModbusObject &m = R.FModbusObject;
    if (!m.Ider) {
      FErrors << QStringLiteral("invalid ModbusIder for ") + R.String;
      return;
    }
    m.Sram = CheckedCast<uint16_t>(b.FSRAMAddr + m.Ider->Address);
    if ((Flags & 2) && (m.Acc & 4)) {
      m.Eeprom = CheckedCast<uint16_t>(next);
      next += m.Ider->GetByteSize();
    } else {
      m.Eeprom = 0xFFFF;
    }
    text += QString::asprintf("%2.2x %2.2x %4.4X %4.4X %4.4X %-6s %3d ", R.RecordType, m.Acc, m.Reg, m.Sram, m.Eeprom,
                              qPrintable(m.Ider->Name), m.Ider->GetByteSize()) +
            R.String + "\r\n";
  };
  try {
    for (auto &g : FBitRegs)
      assign(*g, 1);
    for (auto &m : FMeasures)
      assign(*m, 1);
    assign(FParamCommon.Date, 1);
    assign(FParamCommon.Status, 1);
    assign(FParamCommon.Ustav1, 3);
    assign(FParamCommon.Ustav2, 3);
    for (TDDList<TDDParam> *list : {&FParams, &FParamsMvp, &FParamsMvs})
      for (auto &p : *list)
        assign(*p, 3);
    for (size_t i = 0; i < FUstavs.size(); ++i)
      FUstavs[i]->FModbusObject.Sram = CheckedCast<uint16_t>(2 * i);

    text += QString::fromUtf8("\r\nУставки детально\r\n\r\n");
    text += "tp ac modb sram eepr tp ac modb sram eepr effe name\r\n"
            "---------------------------------------------------\r\n";
    const TModbusObject &g1 = FParamCommon.Ustav1.FModbusObject, &g2 = FParamCommon.Ustav2.FModbusObject;
    for (size_t i = 0; i < FUstavs.size(); ++i) {
      const TDDUstav &u = *FUstavs[i];
      const int k = int(i), type2 = UstavGroup2Type(u.RecordType);
      const int acc = u.FModbusObject.Acc;
      text += QString::asprintf("%2.2x %2.2x %4.4X %4.4X %4.4X %2.2x %2.2x %4.4X %4.4X %4.4X %4.4X ", u.RecordType,
                                acc, g1.Reg + k, Shifted(g1.Sram, 2 * k), Shifted(g1.Eeprom, 2 * k),
                                type2 < 0 ? 0xFF : type2, acc, g2.Reg + k, Shifted(g2.Sram, 2 * k),
                                Shifted(g2.Eeprom, 2 * k), Shifted(b.FWorkingUstavAddr, 2 * k)) +
              u.String + "\r\n";
    }
    text += QString::asprintf("\r\nEEPROM size %4.4x \r\n", next - b.FEEPROMAddr);
    b.FSRAMFree = CheckedCast<uint16_t>(b.FSRAMAddr + 2 * FParamCommon.RegCount);
    if (b.FEEPROMAddr + b.FEEPROMSize < next) {
      text += "\r\n*** EEPROM overflow ***\r\n";
      FErrors << "EEPROM overflow";
    }
  } catch (...) {
    SaveFileBytes(ResolveFileNameCI(WorkFolder, "memory.lst"), ToWin1251(text));
    throw;
  }
  SaveFileBytes(ResolveFileNameCI(WorkFolder, "memory.lst"), ToWin1251(text));
}
