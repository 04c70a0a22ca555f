#include "uDescriptorDecoder.h"
#include "uDescriptorXml.h"
#include "uCharMap.h"
#include "uErrors.h"
#include "uTextCodec.h"

#include <QDate>
#include <unordered_map>
#include <vector>

namespace {

const char *const DecodeErrorHead = "Ошибка при расшифровке ";

enum TSecReason { secOK, secInvalidPosition, secInvalidRecordType };
const char *const ReasonText[] = {"secOK", "sec Invalid Position", "sec Invalid Record Type"};

QString Hex(qint64 Value, int Digits) {
  return QStringLiteral("%1").arg(Value, Digits, 16, QChar('0')).toUpper();
}

bool Accepted(int Zone, uint8_t T) {
  switch (Zone) {
  case 0: return (T & 1) && T <= 0x0F;
  case 1: case 2: case 3: case 4: case 5: return T == 0x10 || T == 0x11 + (Zone - 1);
  case 6: return T == 0x10 || T == 0x1D || T == 0x1E || T == 0x21 || T == 0x22 || T == 0x24 || T == 0x26 || T == 0x27;
  case 7: return T >= 0x31 && T <= 0x36;
  case 8: return T == 0x41 || T == 0x42;
  case 9: return T == 0x43 || T == 0x44;
  case 10: return T == 0x51 || T == 0x52;
  default: return false;
  }
}

const char *ElementName(uint8_t T) {
  if (T <= 0x0F)
    return DX_MEASURE_ITEM;
  switch (T) {
  case 0x10: return "extra-register";
  case 0x33: case 0x36: return DX_USTAV_ENUM; // copies of group 2 and later
  case 0x34: return DX_USTAV_NUM;
  case 0x35: return DX_USTAV_ENUM;
  default: {
    const char *name = DescElementOfRecordType(T);
    return name ? name : "";
  }
  }
}

class TDecoder {
  using TNode = TXXMLBuilder::TElement;

public:
  TDecoder(const IXXMLNode &Root, const TDescriptorDecoder::TTrace &Trace, const QByteArray &Image)
      : FBuild(Root), FRoot(FBuild.Parent()), FTrace(Trace), FImage(Image), FSize(int(Image.size())) {}

  TDecodedHeader Run();

private:
  // Elements are made straight in the tree: a wrapper each would cost more
  // than the decoding.
  TXXMLBuilder FBuild;
  TNode FRoot;
  const TDescriptorDecoder::TTrace &FTrace;
  const QByteArray &FImage;
  const int FSize;
  int FPos = 0;
  uint8_t FType = 0; // type byte of the record being decoded
  int FBase = 0;
  TDecodedHeader FOut;
  // Device address -> first and last Modbus register serving it.
  std::vector<uint16_t> FFirstReg, FLastReg;
  int FFirstCount = 0, FTotalCount = 0;
  TNode FMeasure, FParam, FInputOutput, FUstav, FEvent, FOsc;

  // What the lookups of the later zones and of the register pass ask for,
  // kept as the elements are made: each answers as the first element in
  // document order would (elements are made in document order).
  struct TMapped {
    TNode Node;
    qint64 Flash;
    qint64 SecondFlash = -1; // a setpoint's first copy
    bool Setpoint = false;
  };
  std::vector<TMapped> FMapped; // every element with a modbus-flash
  struct TMeasureRef {
    TNode Node;
    int MvpAddr, MvsAddr;
  };
  std::vector<TMeasureRef> FMeasures;
  std::unordered_map<int, int> FMeasureIderBySram, FMeasureIderByFlash;
  std::unordered_map<int, qint64> FParamFlashBySram; // param/*[modbus-sram]
  struct TBitregRef {
    int RecordType, Bits;
  };
  std::unordered_map<int, TBitregRef> FBitregBySram;
  std::unordered_map<int, size_t> FSetpointByIder; // index into FMapped

  [[noreturn]] void Fail(TSecReason Reason, int Position, int Value) const {
    throw EKvFormat(QString::fromUtf8(DecodeErrorHead) + "\r\n" + ReasonText[Reason] + "\r\nPosition " +
                    Hex(Position, 4) + "\r\nValue " + Hex(Value, 2));
  }
  void Need(int Count) const {
    if (FPos < 0 || Count > FSize - FPos)
      Fail(secInvalidPosition, FPos, FType);
  }
  const uint8_t *At(int Offset) const { return reinterpret_cast<const uint8_t *>(FImage.constData()) + Offset; }
  int Byte() {
    Need(1);
    return *At(FPos++);
  }
  int Word() {
    Need(2);
    const uint8_t *p = At(FPos);
    FPos += 2;
    return p[0] | (p[1] << 8);
  }
  void Skip(int Count) {
    Need(Count);
    FPos += Count;
  }
  // Zero-terminated bytes; the terminator is consumed.
  QByteArrayView Zstring() {
    const int start = FPos;
    while (true) {
      Need(1);
      if (*At(FPos++) == 0)
        break;
    }
    return QByteArrayView(FImage.constData() + start, FPos - 1 - start);
  }
  QString PlainText() {
    QByteArray bytes;
    for (char b : Zstring())
      if (uint8_t(b) >= 0x20)
        bytes.append(b);
    return FromWin1251(bytes);
  }
  QString DeviceText() { return DeviceToProgram(Zstring()); }

  // Text() makes the line only when someone listens.
  template <class F> void Trace(F &&Text) const {
    if (FTrace)
      FTrace(Hex(FPos - 1, 4) + " " + Text());
  }
  TNode Add(TNode Parent, const char *Name) { return FBuild.Add(Parent, Name); }
  TNode Add(TNode Parent, const char *Name, const QString &Value) { return FBuild.Add(Parent, Name, Value); }
  TNode Add(TNode Parent, const char *Name, qint64 Value) { return FBuild.Add(Parent, Name, Value); }
  int FirstReg(qint64 Flash) const { return Flash >= 0 && Flash <= 0xFFFF ? FFirstReg[size_t(Flash)] : 65535; }
  int LastReg(qint64 Flash) const { return Flash >= 0 && Flash <= 0xFFFF ? FLastReg[size_t(Flash)] : 65535; }
  // No match: 65535, so that readers report the reference as not found.
  static int FindIder(const std::unordered_map<int, int> &Map, int Key) {
    const auto it = Map.find(Key);
    return it == Map.end() ? 65535 : it->second;
  }
  void Mapped(TNode Node, qint64 Flash, bool Setpoint = false) {
    FMapped.push_back({Node, Flash, -1, Setpoint});
  }
  void ParamMapped(TNode Node, qint64 Flash, int Sram) {
    Mapped(Node, Flash);
    FParamFlashBySram.try_emplace(Sram, Flash);
  }

  // The addresses that open every stored value record (parameter, setpoint).
  struct TStoredHead {
    int Type, Acc, Sram, Eeprom;
  };
  TStoredHead StoredHead() {
    TStoredHead h{FType, 0, 0, 0};
    h.Acc = Byte();
    h.Sram = Word();
    h.Eeprom = Word();
    return h;
  }
  // The element of a stored value record, opened by its flash and head fields.
  TNode AddStored(TNode Parent, const char *Name, int Flash, const TStoredHead &Head) {
    const TNode n = Add(Parent, Name);
    Add(n, DX_MODBUS_FLASH, Flash);
    Add(n, DX_RECORD_TYPE, Head.Type);
    Add(n, DX_MODBUS_ACC, Head.Acc);
    Add(n, DX_MODBUS_SRAM, Head.Sram);
    Add(n, DX_MODBUS_EEPROM, Head.Eeprom);
    return n;
  }
  // An enumeration's texts: the short device text and Count device texts,
  // then the name and Count plain texts.
  struct TEnumTexts {
    QString Short, Name;
    QStringList Device, Plain;
  };
  TEnumTexts EnumTexts(int Count);
  void AddEnumStrings(TNode Parent, const TEnumTexts &Texts, int FirstIder);
  void AddSetpointTail(TNode Node, const char *Name, int Counter, int Flash, int Level,
                       const TStoredHead &Head);

  void ReadHeader();
  void EnterZone(int Zone);
  void LevelTexts(TNode Parent, const char *Name);
  void Record(int Zone, int Counter);
  void Measure(int Counter, int Flash);
  void Bitreg(int Flash);
  void DateStatus(int Flash);
  void ParamEnum(int Flash);
  void ParamNum(int Flash);
  void ParamChar(int Flash);
  void UstavEnum(int Counter, int Flash);
  void UstavNum(int Counter, int Flash);
  void UstavCopy(int Flash);
  void FirstGroupStep(int Flash);
  void EventMeasure();
  void BitregRef(TNode Parent);
  void EventItem();
  void OscMeasure();
  void AssignRegisters();
  void HeaderValues();
};

void TDecoder::ReadHeader() {
  Word(); // image length: not used
  if (Word() != 2)
    throw EKvFormat("Invalid descriptor revision");
  const int word0 = Word();
  if (word0 - 48 < 0)
    throw EKvFormat(QString::fromUtf8(DecodeErrorHead) + "\r\nsec Invalid Modbus Zone");
  FBase = word0 - 48;
  const int zoneStart = Word();
  FPos = 48;
  FFirstReg.assign(65536, 65535);
  FLastReg.assign(65536, 65535);
  for (int i = 0; i < 1024; ++i) {
    const int a = Word();
    FOut.ModbusTable[size_t(i)] = uint16_t(a);
    if (FFirstReg[size_t(a)] == 65535)
      FFirstReg[size_t(a)] = uint16_t(i);
    FLastReg[size_t(a)] = uint16_t(i);
  }
  FPos = zoneStart - FBase;
  if (FPos < 0) {
    FPos = 6;
    Fail(secInvalidPosition, FPos, 0);
  }
}

void TDecoder::LevelTexts(TNode Parent, const char *Name) {
  const TNode level = Add(Parent, Name);
  const int n = Byte();
  for (int i = 1; i <= n; ++i) {
    const QString text = PlainText();
    const TNode s = Add(level, DX_STRING);
    Add(s, DX_IDER, i);
    Add(s, DX_VALUE, text);
    Add(s, DX_VALUE);
  }
}

void TDecoder::EnterZone(int Zone) {
  switch (Zone) {
  case 1:
    FParam = Add(FRoot, DX_PARAM);
    Skip(12); // the device's parameter block words
    FInputOutput = Add(FParam, DX_INPUT_OUTPUT);
    break;
  case 7:
    FUstav = Add(FRoot, DX_USTAV);
    LevelTexts(FUstav, DX_USTAV_LEVEL);
    break;
  case 8:
    FEvent = Add(FRoot, DX_EVENT);
    LevelTexts(FEvent, DX_EVENT_LEVEL);
    break;
  case 10:
    FOsc = Add(FRoot, DX_OSC);
    break;
  default:
    break;
  }
}

void TDecoder::Record(int Zone, int Counter) {
  const int flash = FBase + FPos - 1;
  const uint8_t t = FType;
  if (t != 0x31 && t != 0x35 && t != 0x33 && t != 0x34 && t != 0x36)
    Trace([&] { return QStringLiteral("rec %1  %2").arg(Hex(t, 2), QString::fromLatin1(ElementName(t))); });
  if (Zone == 0)
    return Measure(Counter, flash);
  switch (t) {
  case 0x10: Skip(5); break;
  case 0x11: case 0x12: case 0x13: case 0x14: case 0x15: Bitreg(flash); break;
  case 0x1D: case 0x1E: DateStatus(flash); break;
  case 0x21: ParamEnum(flash); break;
  case 0x22: case 0x26: case 0x27: ParamNum(flash); break;
  case 0x24: ParamChar(flash); break;
  case 0x31: case 0x35: UstavEnum(Counter, flash); break;
  case 0x32: UstavNum(Counter, flash); break;
  case 0x33: case 0x34: case 0x36: UstavCopy(flash); break;
  case 0x41: EventMeasure(); break;
  case 0x42: BitregRef(FEvent); break;
  case 0x52: BitregRef(FOsc); break;
  case 0x43: case 0x44: EventItem(); break;
  case 0x51: OscMeasure(); break;
  default: break;
  }
}

void TDecoder::Measure(int Counter, int Flash) {
  const int t = FType;
  const int acc = Byte(), sram = Word(), mvpAddr = Word(), mvpExp = Byte(), mvsAddr = Word(), mvsExp = Byte();
  const int offset = (t & 8) ? Word() : 0;
  const QString shortText = DeviceText();
  const QString text = PlainText();
  auto pow10 = [](int e) {
    qint64 v = 1;
    if (e <= 9)
      for (int i = 0; i < e; ++i)
        v *= 10;
    return v;
  };
  const TNode m = Add(FMeasure, DX_MEASURE_ITEM);
  Add(m, DX_MODBUS_FLASH, Flash);
  Add(m, DX_RECORD_TYPE, t & 1);
  Add(m, DX_MODBUS_ACC, acc);
  Add(m, DX_MODBUS_SRAM, sram);
  Add(m, DX_MVP_ADDR, mvpAddr);
  Add(m, DX_MVP_MULT, pow10(mvpExp));
  Add(m, DX_MVS_ADDR, mvsAddr);
  Add(m, DX_MVS_DIV, pow10(mvsExp));
  Add(m, DX_BYTE_VISIBLE, t & 2);
  Add(m, DX_BYTE_DOPCODE, t & 4);
  Add(m, DX_BYTE_OFFSET_FLAG, t & 8);
  if (t & 8)
    Add(m, DX_WORD_OFFSET, offset);
  Add(m, DX_SHORT_STRING, shortText);
  Add(m, DX_STRING, text);
  Add(m, DX_IDER, Counter);
  Add(m, DX_WORD_COUNT, 1);
  Mapped(m, Flash);
  FMeasures.push_back({m, mvpAddr, mvsAddr});
  FMeasureIderBySram.try_emplace(sram, Counter);
  FMeasureIderByFlash.try_emplace(Flash, Counter);
}

void TDecoder::Bitreg(int Flash) {
  const int t = FType;
  const int acc = Byte(), sram = Word();
  Trace([&] { return QStringLiteral("acc: %1 sram: %2").arg(Hex(acc, 2), Hex(sram, 4)); });
  const int n = Byte();
  for (int i = 0; i < n; ++i)
    Zstring(); // the display texts give way to the plain ones
  QStringList texts;
  for (int i = 0; i < n; ++i)
    texts << PlainText();
  const TNode b = Add(FInputOutput, DX_PARAM_BITREG);
  Add(b, DX_MODBUS_FLASH, Flash);
  Add(b, DX_CAPTION, BitRegCaption(t));
  Add(b, DX_RECORD_TYPE, t);
  Add(b, DX_MODBUS_ACC, acc);
  Add(b, DX_MODBUS_SRAM, sram);
  for (int i = 0; i < n; ++i) {
    const TNode s = Add(b, DX_STRING);
    Add(s, DX_IDER, i);
    Add(s, DX_VALUE, texts[i]);
  }
  Add(b, DX_WORD_COUNT, (n + 15) / 16);
  Mapped(b, Flash);
  FBitregBySram.try_emplace(sram, TBitregRef{t, n});
}

void TDecoder::DateStatus(int Flash) {
  const int t = FType;
  const int acc = Byte(), sram = Word();
  Skip(2);
  const TNode p = Add(FParam, ElementName(uint8_t(t)));
  Add(p, DX_MODBUS_FLASH, Flash);
  Add(p, DX_RECORD_TYPE, t);
  Add(p, DX_MODBUS_ACC, acc);
  Add(p, DX_MODBUS_SRAM, sram);
  Add(p, DX_WORD_COUNT, 1);
  ParamMapped(p, Flash, sram);
}

TDecoder::TEnumTexts TDecoder::EnumTexts(int Count) {
  TEnumTexts e;
  e.Short = DeviceText();
  for (int i = 0; i < Count; ++i)
    e.Device << DeviceText();
  e.Name = PlainText();
  for (int i = 0; i < Count; ++i)
    e.Plain << PlainText();
  return e;
}

// One <string> a value, numbered from FirstIder, between the short text and the name.
void TDecoder::AddEnumStrings(TNode Parent, const TEnumTexts &Texts, int FirstIder) {
  Add(Parent, DX_SHORT_STRING, Texts.Short);
  for (int i = 0; i < Texts.Device.size(); ++i) {
    const TNode s = Add(Parent, DX_STRING);
    Add(s, DX_IDER, FirstIder + i);
    Add(s, DX_VALUE, Texts.Device[i]);
    Add(s, DX_VALUE, Texts.Plain[i]);
  }
  Add(Parent, DX_STRING, Texts.Name);
}

void TDecoder::ParamEnum(int Flash) {
  const TStoredHead h = StoredHead();
  const int n = Byte();
  const TEnumTexts e = EnumTexts(n);
  const TNode p = AddStored(FParam, DX_PARAM_ENUM, Flash, h);
  AddEnumStrings(p, e, 1);
  Add(p, DX_WORD_COUNT, 1);
  ParamMapped(p, Flash, h.Sram);
}

void TDecoder::ParamNum(int Flash) {
  const TStoredHead h = StoredHead();
  const int koef = Byte(), min = Word(), max = Word();
  const QString shortText = DeviceText();
  const QString text = PlainText();
  const TNode p = AddStored(FParam, ElementName(uint8_t(h.Type)), Flash, h);
  Add(p, DX_WORD_KOEF, koef);
  Add(p, DX_WORD_MIN, min);
  Add(p, DX_WORD_MAX, max);
  Add(p, DX_SHORT_STRING, shortText);
  Add(p, DX_STRING, text);
  Add(p, DX_WORD_COUNT, 1);
  ParamMapped(p, Flash, h.Sram);
}

void TDecoder::ParamChar(int Flash) {
  const TStoredHead h = StoredHead();
  const int length = Byte(), passwd = Byte();
  const QString shortText = DeviceText();
  const QString text = PlainText();
  const TNode p = AddStored(FParam, DX_PARAM_CHAR, Flash, h);
  Add(p, DX_BYTE_VALUE, length);
  Add(p, DX_BYTE_PASSWD_CHAR, passwd);
  Add(p, DX_SHORT_STRING, shortText);
  Add(p, DX_STRING, text);
  Add(p, DX_WORD_COUNT, length);
  ParamMapped(p, Flash, h.Sram);
}

void TDecoder::FirstGroupStep(int Flash) {
  if (FTotalCount == 0)
    FOut.UstavGroupRegs[0] = uint16_t(FirstReg(Flash));
  ++FFirstCount;
  ++FTotalCount;
}

// The fields and lookups that close every first-group setpoint.
void TDecoder::AddSetpointTail(TNode Node, const char *Name, int Counter, int Flash, int Level,
                               const TStoredHead &Head) {
  Add(Node, DX_BYTE_LEVEL_MASK, Level);
  Add(Node, DX_IDER, Counter + 1);
  Add(Node, DX_WORD_COUNT, 1);
  FSetpointByIder.try_emplace(Counter + 1, FMapped.size());
  Mapped(Node, Flash, true);
  Trace([&] {
    return QStringLiteral("rec %1  %2  acc %3 sram %4 eeprom %5")
        .arg(Hex(Head.Type, 2), QString::fromLatin1(Name), Hex(Head.Acc, 2), Hex(Head.Sram, 4), Hex(Head.Eeprom, 4));
  });
  FirstGroupStep(Flash);
}

void TDecoder::UstavEnum(int Counter, int Flash) {
  const TStoredHead h = StoredHead();
  const int n = Byte();
  const TEnumTexts e = EnumTexts(n);
  const int level = Byte();
  const TNode u = AddStored(FUstav, DX_USTAV_ENUM, Flash, h);
  AddEnumStrings(u, e, 0);
  AddSetpointTail(u, DX_USTAV_ENUM, Counter, Flash, level, h);
}

void TDecoder::UstavNum(int Counter, int Flash) {
  const TStoredHead h = StoredHead();
  const int measure = Word(), min = Word(), max = Word();
  const QString shortText = DeviceText();
  const QString text = PlainText();
  const int level = Byte();
  const TNode u = AddStored(FUstav, DX_USTAV_NUM, Flash, h);
  Add(u, DX_WORD_MEASURE_IDER, measure);
  Add(u, DX_WORD_MIN, min);
  Add(u, DX_WORD_MAX, max);
  Add(u, DX_SHORT_STRING, shortText);
  Add(u, DX_STRING, text);
  AddSetpointTail(u, DX_USTAV_NUM, Counter, Flash, level, h);
}

void TDecoder::UstavCopy(int Flash) {
  const int t = FType;
  const int acc = Byte(), sram = Word(), eeprom = Word();
  Trace([&] {
    return QStringLiteral("rec %1  %2  acc2 %3 sram2 %4 eeprom2 %5")
        .arg(Hex(t, 2), QString::fromLatin1(ElementName(uint8_t(t))), Hex(acc, 2), Hex(sram, 4), Hex(eeprom, 4));
  });
  const uint16_t flash = CheckedCast<uint16_t>(Flash);
  if (FFirstCount == 0) {
    // A copy with no first group to belong to: nothing to attach it to.
    Trace([&] { return QStringLiteral("cannot find ustav1 for flash %1").arg(Hex(flash, 4)); });
    return;
  }
  const int k = FTotalCount % FFirstCount + 1;
  const auto found = FSetpointByIder.find(k);
  if (found != FSetpointByIder.end()) {
    TMapped &target = FMapped[found->second];
    TNode u = target.Node;
    if (target.SecondFlash < 0)
      target.SecondFlash = flash;
    Add(u, DX_MODBUS_ACC, acc);
    Add(u, DX_MODBUS_FLASH, flash);
    Add(u, DX_MODBUS_SRAM, sram);
    Add(u, DX_MODBUS_EEPROM, eeprom);
  } else {
    Trace([&] { return QStringLiteral("cannot find ustav1 for flash %1").arg(Hex(flash, 4)); });
  }
  if (FTotalCount % FFirstCount == 0) {
    const int group = FTotalCount / FFirstCount;
    if (group > 7)
      throw EKvRange(QStringLiteral("setpoint group %1 out of range 0..7").arg(group));
    FOut.UstavGroupRegs[size_t(group)] = uint16_t(FirstReg(flash));
  }
  ++FTotalCount;
}

void TDecoder::EventMeasure() {
  const int t = FType;
  const int sram = Word();
  Skip(2);
  const int ider = FindIder(FMeasureIderBySram, sram);
  const TNode e = Add(FEvent, DX_EVENT_MEASURE);
  Add(e, DX_RECORD_TYPE, t);
  Add(e, DX_MEASURE_IDER, ider);
  Add(e, DX_WORD_COUNT, 1);
}

void TDecoder::BitregRef(TNode Parent) {
  const int t = FType;
  const int sram = Word();
  const auto br = FBitregBySram.find(sram);
  if (br == FBitregBySram.end())
    return; // a bit register the image does not describe: dropped
  const TNode e = Add(Parent, ElementName(uint8_t(t)));
  Add(e, DX_RECORD_TYPE, t);
  Add(e, DX_BITREG_RECORD_TYPE, br->second.RecordType);
  Add(e, DX_WORD_COUNT, (br->second.Bits + 15) / 16);
}

void TDecoder::EventItem() {
  const int t = FType;
  const int code = Byte(), level = Byte();
  const QString text = DeviceText();
  const TNode e = Add(FEvent, DX_EVENT_ITEM);
  Add(e, DX_RECORD_TYPE, t);
  Add(e, DX_FAILURE_FLAG, t == 0x44 ? 1 : 0);
  Add(e, DX_BYTE_CODE, code);
  Add(e, DX_BYTE_LEVEL_MASK, level);
  Add(e, DX_STRING, text);
}

void TDecoder::OscMeasure() {
  const int t = FType;
  const int off = Byte(), ref = Word();
  const int ider = FindIder(FMeasureIderByFlash, ref);
  const TNode o = Add(FOsc, DX_OSC_MEASURE);
  Add(o, DX_RECORD_TYPE, t);
  Add(o, DX_MEASURE_OFF, off);
  Add(o, DX_MEASURE_SRAM, ref);
  Add(o, DX_MEASURE_IDER, ider);
  Add(o, DX_WORD_COUNT, 1);
}

void TDecoder::AssignRegisters() {
  for (const TMapped &m : FMapped) {
    Add(m.Node, DX_MREG, LastReg(m.Flash));
    if (m.Setpoint) // the register in the next group, from the first copy
      Add(m.Node, DX_MREG, m.SecondFlash >= 0 ? LastReg(m.SecondFlash) : 65535);
  }
  for (const TMeasureRef &m : FMeasures) {
    const struct { int Addr; const char *Reg; } pairs[] = {{m.MvpAddr, DX_MVP_MREG}, {m.MvsAddr, DX_MVS_MREG}};
    for (const auto &p : pairs) {
      if (p.Addr == 65535)
        continue;
      const auto param = FParamFlashBySram.find(p.Addr);
      if (param != FParamFlashBySram.end())
        Add(m.Node, p.Reg, LastReg(param->second));
    }
  }
}

void TDecoder::HeaderValues() {
  FType = 0;
  auto bytesAt = [&](int Offset, int Count) {
    FPos = Offset;
    Need(Count);
    return At(Offset);
  };
  FOut.CoreDate = TDescriptorDecoder::DecodeBcdDate(bytesAt(2098, 4));
  FOut.DescDate = TDescriptorDecoder::DecodeBcdDate(bytesAt(2102, 4));
  const uint8_t *c = bytesAt(42, 2);
  FOut.CalibrAddr = uint16_t(c[0] | (c[1] << 8));
  FOut.IdentHex = QByteArray(reinterpret_cast<const char *>(bytesAt(44, 4)), 4).toHex().toUpper();
  const uint8_t *k = bytesAt(2106, 4);
  FOut.IdentCache = uint32_t(k[0]) | (uint32_t(k[1]) << 8) | (uint32_t(k[2]) << 16) | (uint32_t(k[3]) << 24);

  const TNode internal = Add(FRoot, DX_INTERNAL);
  Add(internal, DX_CORE_DATE, QString::number(FOut.CoreDate, 'f', 0));
  Add(internal, DX_DESC_DATE, QString::number(FOut.DescDate, 'f', 0));
  Add(internal, DX_CALIBR_ADDR, FOut.CalibrAddr);
  Add(internal, DX_IDENT_CACHE, qint64(FOut.IdentCache));

  FOut.UstavGroupCount = FFirstCount == 0 ? 0 : FTotalCount / FFirstCount;
  for (int g = 0; g < FOut.UstavGroupCount; ++g)
    Add(FUstav, DX_GROUP_MREG, FOut.UstavGroupRegs[size_t(g)]);
}

TDecodedHeader TDecoder::Run() {
  FOut.UstavGroupRegs.fill(0);
  ReadHeader();
  FMeasure = Add(FRoot, DX_MEASURE);
  int zone = 0, counter = 0;
  while (true) {
    FType = 0;
    Need(1); // the end of the image where a record or a separator is due
    const uint8_t t = *At(FPos);
    if (t == 0xAA) {
      ++FPos;
      ++zone;
      Trace([&] { return QStringLiteral("Zone %1").arg(zone); });
      if (zone == 11)
        break;
      EnterZone(zone);
      counter = 0;
      continue;
    }
    if (!Accepted(zone, t))
      Fail(secInvalidRecordType, FPos, t);
    ++FPos;
    FType = t;
    Record(zone, counter);
    ++counter;
  }
  AssignRegisters();
  HeaderValues();
  return FOut;
}

} // namespace

TDecodedHeader TDescriptorDecoder::Decode(const QByteArray &Image) { return TDecoder(FRoot, FTrace, Image).Run(); }

TDateTime TDescriptorDecoder::DecodeBcdDate(const uint8_t *Bytes) {
  auto bcd = [](uint8_t b) { return (b >> 4) * 10 + (b & 0x0F); };
  const int day = bcd(Bytes[0]), month = bcd(Bytes[1]);
  const int year = (Bytes[2] >> 4) * 1000 + (Bytes[2] & 0x0F) * 100 + bcd(Bytes[3]);
  TDateTime out = 0;
  if (!TryEncodeDateTime(year, month, day, 0, 0, 0, 0, out))
    out = EncodeDateTime(2000, 1, 1);
  return out;
}
