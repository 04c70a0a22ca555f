#include "uDeviceContent.h"
#include "crc.h"
#include "ixml.h"
#include "uCharMap.h"
#include "uErrors.h"
#include "uTextCodec.h"

#include <algorithm>

namespace {

class TImageWriter {
public:
  TImageWriter(const TDeviceContent &C, TDeviceImage &Out)
      : FC(C), FOut(Out), FMap(C.CharMap.size() == 256 ? C.CharMap : BuiltInCharMap()) {
    FRegMap.assign(1024, C.FillWord);
  }

  void Write();

private:
  const TDeviceContent &FC;
  TDeviceImage &FOut;
  QByteArray FMap;
  QByteArray B;
  std::vector<uint16_t> FRegMap;

  int Pos() const { return int(B.size()); }
  void Byte(int V) { B.append(char(CheckedCast<uint8_t>(V))); }
  void Word(int V) {
    const uint16_t w = CheckedCast<uint16_t>(V);
    B.append(char(w & 0xFF));
    B.append(char(w >> 8));
  }
  uint16_t Addr(int Offset) const { return CheckedCast<uint16_t>(int(FC.BaseAddr) + Offset); }
  void Claim(int Reg, int Offset) {
    if (Reg < 0)
      return;
    if (Reg > 1023)
      throw EKvRange(QStringLiteral("Invalid Modbus register $%1").arg(Reg, 4, 16, QChar('0')).toUpper());
    FRegMap[size_t(Reg)] = Addr(Offset);
  }
  int Record(uint8_t Type) {
    const int at = Pos();
    FOut.Records.push_back({Type, at});
    Byte(Type);
    return at;
  }
  void Display(const QString &Text) {
    B.append(EncodeDisplayString(Text, FMap));
    B.append('\0');
  }
  void DisplayName(const QString &Short, const QString &Full) {
    Display(Short.isEmpty() ? Full.left(20) : Short);
  }
  void Plain(const QString &Text) {
    QByteArray t = ToWin1251(Text);
    t.replace('\0', ' ');
    B.append(t);
    B.append('\0');
  }
  void Count(qsizetype N) { Byte(CheckedCast<uint8_t>(N)); }
  // An enumerated parameter's or setpoint's texts: the count, the display
  // names (the item's first), then the plain texts; ValueFull decides the count.
  template <class TItem> void EnumTexts(const TItem &Item) {
    Count(Item.ValueFull.size());
    DisplayName(Item.Short, Item.Full);
    for (qsizetype i = 0; i < Item.ValueFull.size(); ++i)
      DisplayName(i < Item.ValueShort.size() ? Item.ValueShort[i] : QString(), Item.ValueFull[i]);
    Plain(Item.Full);
    for (const auto &v : Item.ValueFull)
      Plain(v);
  }
  void EndArea(TDcArea Area) {
    B.append(FC.Tail[Area]);
    Byte(0xAA);
  }
  void Extras(int Count, uint8_t Access, uint16_t Sram, uint16_t Eeprom, int Reg) {
    for (int i = 1; i <= Count; ++i) {
      const int at = Record(16);
      Byte(Access);
      Word(Sram == 0xFFFF ? 0xFFFF : (Sram + 2 * i) & 0xFFFF);
      Word(Eeprom == 0xFFFF ? 0xFFFF : (Eeprom + 2 * i) & 0xFFFF);
      if (Reg >= 0)
        Claim(Reg + i, at);
    }
  }
  const TDcBitGroup *GroupOfType(uint8_t Type) const {
    for (const auto &g : FC.BitGroups)
      if (g.Type == Type)
        return &g;
    return nullptr;
  }
  void BitRefs(const std::vector<TDcBitRef> &Refs, uint8_t Type) {
    for (const auto &r : Refs) {
      if (r.Type == 0) {
        Record(Type);
        Word(r.RawSram);
        continue;
      }
      const TDcBitGroup *g = GroupOfType(r.Type);
      if (!g)
        throw EKvError("Event Bitreg error");
      const int words = int((g->Full.size() + 15) / 16);
      for (int w = 0; w < words; ++w) {
        Record(Type);
        Word((g->Sram + 2 * w) & 0xFFFF);
      }
    }
  }
  uint16_t MeasureAddr(int Index) const {
    if (Index < 0 || size_t(Index) >= FOut.MeasureOffsets.size())
      return 0xFFFF;
    return Addr(FOut.MeasureOffsets[size_t(Index)]);
  }
  void Measures();
  void BitGroups();
  void Params();
  void Setpoints();
  void Events();
  void Header();
};

void TImageWriter::Measures() {
  for (const auto &m : FC.Measures) {
    const int at = Record(m.Type);
    FOut.MeasureOffsets.push_back(at);
    Claim(m.Reg, at);
    Byte(m.Access);
    Word(m.Sram);
    Word(m.MvpSram);
    Byte(m.MvpScale);
    Word(m.MvsSram);
    Byte(m.MvsScale);
    if (m.Type & 8)
      Word(m.Offset);
    DisplayName(m.Short, m.Full);
    Plain(m.Full);
  }
  EndArea(daMeasures);
  // The common parameter block the device reads after the measures.
  Word(FC.VarAddr);
  Word(FC.VarSize);
  Word(FC.BinAddr);
  Word(FC.BinSize);
  Word(FC.SetpointGroups.size() > 0 && FC.SetpointGroups[0].Reg >= 0 ? FC.SetpointGroups[0].Reg : 0xFFFF);
  Word(FC.SetpointGroups.size() > 1 && FC.SetpointGroups[1].Reg >= 0 ? FC.SetpointGroups[1].Reg : 0xFFFF);
}

void TImageWriter::BitGroups() {
  for (int area = daInputs; area <= daVirtOut; ++area) {
    FOut.AreaOffset[area + 1] = Pos();
    for (const auto &g : FC.BitGroups) {
      const int gArea = (g.Type >= 17 && g.Type <= 21) ? g.Type - 17 + daInputs : daInputs;
      if (gArea != area)
        continue;
      const int at = Record(g.Type);
      Claim(g.Reg, at);
      Byte(g.Access);
      Word(g.Sram);
      Count(g.Full.size());
      for (qsizetype i = 0; i < g.Full.size(); ++i)
        DisplayName(i < g.Short.size() ? g.Short[i] : QString(), g.Full[i]);
      for (const auto &t : g.Full)
        Plain(t);
      const int words = int((g.Full.size() + 15) / 16);
      Extras(g.ExtraRegs >= 0 ? g.ExtraRegs : std::min(words, 16) - 1, g.Access, g.Sram, g.Eeprom, g.Reg);
    }
    EndArea(TDcArea(area));
  }
}

void TImageWriter::Params() {
  for (const auto &p : FC.Params) {
    const int at = Record(p.Type);
    Claim(p.Reg, at);
    Byte(p.Access);
    Word(p.Sram);
    Word(p.Eeprom);
    switch (p.Type) {
    case 33:
      EnumTexts(p);
      break;
    case 34:
    case 38:
    case 39:
      Byte(p.Koef);
      Word(p.Min);
      Word(p.Max);
      DisplayName(p.Short, p.Full);
      Plain(p.Full);
      break;
    case 36:
      Byte(p.Length);
      Byte(p.PasswdChar);
      DisplayName(p.Short, p.Full);
      Plain(p.Full);
      Extras(p.ExtraRegs, p.Access, p.Sram, p.Eeprom, p.Reg);
      break;
    default: // date, status and anything else: the 6-byte head only
      Extras(p.ExtraRegs, p.Access, p.Sram, p.Eeprom, p.Reg);
      break;
    }
  }
  EndArea(daParams);
  Count(FC.SetpointLevels.size());
  for (const auto &t : FC.SetpointLevels)
    Plain(t);
}

void TImageWriter::Setpoints() {
  for (size_t g = 0; g < std::max<size_t>(FC.SetpointGroups.size(), 1); ++g) {
    const TDcSetpointGroup grp = g < FC.SetpointGroups.size() ? FC.SetpointGroups[g] : TDcSetpointGroup{};
    for (size_t i = 0; i < FC.Setpoints.size(); ++i) {
      const auto &s = FC.Setpoints[i];
      uint8_t type = s.Type;
      if (g > 0)
        type = s.Type == 49 ? 51 : s.Type == 50 ? 52 : s.Type == 53 ? 54 : uint8_t(s.Type + 2);
      const int at = Record(type);
      if (grp.Reg >= 0)
        Claim(grp.Reg + int(i), at);
      Byte(s.Access);
      Word((grp.Sram + 2 * int(i)) & 0xFFFF);
      Word((grp.Eeprom + 2 * int(i)) & 0xFFFF);
      if (g > 0)
        continue;
      if (s.Type == 49 || s.Type == 53) {
        EnumTexts(s);
      } else {
        Word(MeasureAddr(s.Measure));
        Word(s.Min);
        Word(s.Max);
        DisplayName(s.Short, s.Full);
        Plain(s.Full);
      }
      Byte(s.Level);
    }
  }
  EndArea(daSetpoints);
  Count(FC.EventLevels.size());
  for (const auto &t : FC.EventLevels)
    Plain(t);
}

void TImageWriter::Events() {
  FOut.AreaOffset[9] = Pos();
  for (int m : FC.EventMeasures) {
    Record(65);
    const bool has = m >= 0 && size_t(m) < FC.Measures.size();
    Word(has ? FC.Measures[size_t(m)].Sram : 0xFFFF);
    Word(has ? (MeasureAddr(m) + 10) & 0xFFFF : 0xFFFF);
  }
  BitRefs(FC.EventBits, 66);
  EndArea(daEventMeasures);

  FOut.AreaOffset[10] = Pos();
  for (const auto &e : FC.Events) {
    Record(e.Failure ? 68 : 67);
    Byte(e.Code);
    Byte(e.Level);
    Display(e.Text);
  }
  EndArea(daEvents);

  FOut.AreaOffset[11] = Pos();
  for (const auto &c : FC.OscChannels) {
    Record(81);
    if (c.Measure >= 0 && size_t(c.Measure) < FC.Measures.size()) {
      Byte(2);
      Word(MeasureAddr(c.Measure));
    } else {
      Byte(0xFF);
      Word(0xFFFF);
    }
  }
  BitRefs(FC.OscBits, 82);
  EndArea(daOsc);

  FOut.AreaOffset[12] = Pos();
  EndArea(daMenu);
  FOut.AreaOffset[13] = Pos();
  Byte(0xAA);
  FOut.AreaOffset[14] = Pos();
  Byte(0xAA);
  FOut.AreaOffset[15] = Pos();
  Byte(0xAA);
  Byte(0xAA);
  FOut.AreaOffset[17] = Pos();
  Byte(0); // no SPECIAL-EEPROM runs
}

void TImageWriter::Header() {
  auto put16 = [&](int Off, uint16_t V) {
    B[Off] = char(V & 0xFF);
    B[Off + 1] = char(V >> 8);
  };
  auto get16 = [&](int Off) { return uint16_t(uint8_t(B[Off]) | (uint8_t(B[Off + 1]) << 8)); };
  for (int r = 0; r < 1024; ++r)
    put16(48 + 2 * r, FRegMap[size_t(r)]);
  B.replace(2098, 4, PackBcdDate(FC.CoreDate));
  B.replace(2102, 4, PackBcdDate(FC.DescDate));
  for (int i = 0; i < 4; ++i)
    B[2106 + i] = char((FC.IdentCrc >> (8 * i)) & 0xFF);
  put16(2110, 0xFFFF);

  put16(2, 2);
  for (int i = 0; i <= 16; ++i)
    put16(4 + 2 * i, uint16_t(FOut.AreaOffset[i]));
  put16(38, uint16_t(FOut.AreaOffset[17]));
  for (int i = 0; i < 21; ++i) {
    const int off = 4 + 2 * i;
    const int sum = get16(off) + FC.BaseAddr;
    if (sum > 0xFFFF)
      throw EKvRange(QString::asprintf("header %d overflow: offset %4x base addr %4x", i, get16(off), FC.BaseAddr));
    put16(off, uint16_t(sum));
  }
  put16(42, FC.CalibrAddr);
  B.replace(44, 4, QByteArray(4, '\0'));
  // The stored checksum leaves the last byte out, as the program's builder
  // and the devices' own images always did.
  const uint32_t crc = Crc32(B.first(B.size() - 1));
  for (int i = 0; i < 4; ++i)
    B[44 + i] = char((crc >> (8 * i)) & 0xFF);
  put16(0, uint16_t(std::min<qsizetype>(B.size() / 2, 0xFFFF)));
}

void TImageWriter::Write() {
  FOut.Base = FC.BaseAddr;
  B = QByteArray(2116, '\0');
  FOut.AreaOffset[0] = 48;
  FOut.AreaOffset[1] = Pos();
  Measures();
  BitGroups();
  FOut.AreaOffset[7] = Pos();
  Params();
  FOut.AreaOffset[8] = Pos();
  Setpoints();
  Events();
  if (Pos() % 2)
    Byte(0xAA);
  while (Pos() % 512)
    Byte(0xFF);
  FOut.AreaOffset[16] = Pos();
  B.append(FC.Code);
  while (Pos() % 512)
    Byte(0xFF);
  // Area starts are 16-bit addresses: the image up to the code must fit.
  for (int off : FOut.AreaOffset)
    Addr(off);
  Header();
  FOut.Bytes = B;
}

} // namespace

int TDeviceImage::FindRecord(uint8_t Type, int From) const {
  for (const auto &r : Records)
    if (r.Type == Type && r.Offset >= From)
      return r.Offset;
  return -1;
}

TDeviceImage BuildDeviceImage(const TDeviceContent &Content) {
  TDeviceImage out;
  TImageWriter(Content, out).Write();
  return out;
}

QByteArray EncodeDisplayString(const QString &Text, const QByteArray &Map) {
  const QByteArray src = ToWin1251(Text);
  auto code = [&](uint8_t c) { return uint8_t(Map.size() > c ? Map[c] : 0); };
  QByteArray r;
  for (qsizetype i = 0; i < src.size(); ++i) {
    const uint8_t c = uint8_t(src[i]);
    if (c == '|') {
      r.append('\x01');
    } else if (c == '\\') {
      if (i + 1 < src.size() && src[i + 1] == '\\') {
        r.append(char(code('\\')));
        ++i;
      } else if (i + 1 < src.size() && src[i + 1] >= '0' && src[i + 1] <= '9') {
        int v = 0;
        while (i + 1 < src.size() && src[i + 1] >= '0' && src[i + 1] <= '9') {
          v = v * 10 + (src[i + 1] - '0');
          if (v > 255)
            throw EKvRange(QStringLiteral("invalid special symbol in ") + Text);
          ++i;
        }
        r.append(char(v));
      } else {
        throw EKvError(QStringLiteral("invalid special symbol in ") + Text);
      }
    } else {
      const uint8_t d = code(c);
      r.append(char(d != 0 ? d : code(' ')));
    }
  }
  return r;
}

QByteArray PackBcdDate(const QDate &Date) {
  if (!Date.isValid())
    return QByteArray(4, char(0xFF));
  auto bcd = [](int v) { return char(((v / 10) << 4) | (v % 10)); };
  QByteArray r;
  r.append(bcd(Date.day()));
  r.append(bcd(Date.month()));
  r.append(bcd(Date.year() / 100 % 100));
  r.append(bcd(Date.year() % 100));
  return r;
}

TDeviceContent DemoDeviceContent() {
  TDeviceContent c;
  // Measures at registers 0..10; the currents are scaled by the CT ratio
  // parameters (primary at SRAM 0x0400, secondary at 0x0402).
  const struct {
    const char *Short, *Full;
    uint8_t Type;
    uint16_t Sram;
    bool Scaled;
    uint8_t MvsScale;
  } ms[] = {
      {"Ia", "Ток фазы A", 3, 0x0100, true, 0},      {"Ib", "Ток фазы B", 3, 0x0102, true, 0},
      {"Ic", "Ток фазы C", 3, 0x0104, true, 0},      {"3I0", "Ток нулевой последовательности", 3, 0x0106, true, 0},
      {"Ua", "Напряжение фазы A", 3, 0x0108, false, 1}, {"Ub", "Напряжение фазы B", 3, 0x010A, false, 1},
      {"Uc", "Напряжение фазы C", 3, 0x010C, false, 1}, {"3U0", "Напряжение нулевой последовательности", 3, 0x010E, false, 1},
      {"F", "Частота сети", 3, 0x0110, false, 2},     {"T", "Температура внутри терминала", 7, 0x0112, false, 0},
      {"", "Счетчик срабатываний выключателя", 11, 0x0114, false, 0},
  };
  int reg = 0;
  for (const auto &m : ms) {
    TDcMeasure x;
    x.Reg = reg++;
    x.Type = m.Type;
    x.Access = 1;
    x.Sram = m.Sram;
    x.Short = QString::fromUtf8(m.Short);
    x.Full = QString::fromUtf8(m.Full);
    if (m.Scaled) {
      x.MvpSram = 0x0400;
      x.MvsSram = 0x0402;
    }
    x.MvsScale = m.MvsScale;
    x.Offset = m.Type & 8 ? 1000 : 0;
    c.Measures.push_back(x);
  }

  auto bits = [](const char *Prefix, int N) {
    QStringList l;
    for (int i = 1; i <= N; ++i)
      l << QString::fromUtf8(Prefix) + QString::number(i);
    return l;
  };
  c.BitGroups.push_back({17, 20, 1, 0x0200, 0xFFFF, {}, bits("Дискретный вход ", 16), -1});
  c.BitGroups.push_back({18, 21, 1, 0x0202, 0xFFFF, {}, bits("Реле ", 8), -1});
  c.BitGroups.push_back({19, 22, 1, 0x0204, 0xFFFF, {}, bits("Светодиод ", 8), -1});
  c.BitGroups.push_back({20, 23, 3, 0x0206, 0xFFFF, {}, bits("Виртуальный вход ", 16), -1});
  c.BitGroups.push_back({21, 24, 1, 0x0208, 0xFFFF, {}, bits("Виртуальный выход ", 20), -1});

  // The parameters are read and written but not kept in EEPROM (access 3), so
  // they have no EEPROM address; the setpoint groups are (see SetpointGroups).
  // The order is the program's: plain parameters, then the primary-value and
  // secondary-value ones, then date and status.
  TDcParam mode;
  mode.Type = 33, mode.Reg = 30, mode.Sram = 0x0300;
  mode.Short = QStringLiteral("Режим"), mode.Full = QStringLiteral("Режим работы терминала");
  mode.ValueFull = {QStringLiteral("Выведен"), QStringLiteral("Введен")};
  TDcParam addr;
  addr.Type = 34, addr.Reg = 31, addr.Sram = 0x0302, addr.Min = 1, addr.Max = 247;
  addr.Full = QStringLiteral("Адрес Modbus");
  TDcParam prim;
  prim.Type = 38, prim.Reg = 32, prim.Sram = 0x0400, prim.Min = 1, prim.Max = 5000;
  prim.Full = QStringLiteral("Номинальный первичный ток ТТ");
  TDcParam sec;
  sec.Type = 39, sec.Reg = 33, sec.Sram = 0x0402, sec.Min = 1, sec.Max = 5;
  sec.Full = QStringLiteral("Номинальный вторичный ток ТТ");
  TDcParam name;
  name.Type = 36, name.Reg = 34, name.Sram = 0x0310, name.Length = 8, name.ExtraRegs = 7;
  name.Full = QStringLiteral("Наименование присоединения");
  TDcParam date;
  date.Type = 29, date.Reg = 44, date.Access = 3, date.Sram = 0x0330, date.ExtraRegs = 3;
  TDcParam status;
  status.Type = 30, status.Reg = 48, status.Access = 1, status.Sram = 0x0338;
  c.Params = {mode, addr, name, prim, sec, date, status};

  c.SetpointLevels = {QStringLiteral("Максимальная токовая защита"), QStringLiteral("Защита минимального напряжения")};
  // Group 2 follows group 1 in EEPROM, as the address generator lays them out.
  c.SetpointGroups = {{100, 0x0500, 0x0100}, {150, 0x0600, 0x0108}};
  TDcSetpoint s1;
  s1.Type = 50, s1.Measure = 0, s1.Min = 10, s1.Max = 20000, s1.Level = 1;
  s1.Short = QStringLiteral("I МТЗ-1"), s1.Full = QStringLiteral("Уставка МТЗ-1 по току");
  TDcSetpoint s2;
  s2.Type = 50, s2.Min = 0, s2.Max = 6000, s2.Level = 1;
  s2.Full = QStringLiteral("Выдержка времени МТЗ-1");
  TDcSetpoint s3;
  s3.Type = 49, s3.Level = 1;
  s3.Full = QStringLiteral("Направленность МТЗ-1");
  s3.ValueFull = {QStringLiteral("нет"), QStringLiteral("вперед"), QStringLiteral("назад")};
  TDcSetpoint s4;
  s4.Type = 50, s4.Measure = 4, s4.Min = 100, s4.Max = 12000, s4.Level = 2;
  s4.Full = QStringLiteral("Уставка ЗМН по напряжению");
  c.Setpoints = {s1, s2, s3, s4};

  c.EventLevels = {QStringLiteral("Аварии"), QStringLiteral("Предупреждения"), QStringLiteral("Сообщения")};
  c.EventMeasures = {0, 1, 2, 4};
  c.EventBits = {{17, 0}, {18, 0}};
  c.Events = {
      {false, 1, 1, QStringLiteral("Пуск МТЗ-1")},
      {false, 2, 1, QStringLiteral("Срабатывание МТЗ-1")},
      {false, 3, 2, QStringLiteral("Срабатывание ЗМН")},
      {true, 10, 2, QStringLiteral("Неисправность цепей напряжения")},
      {false, 20, 3, QStringLiteral("Изменение уставок")},
  };
  for (int m = 0; m < 8; ++m)
    c.OscChannels.push_back({m});
  c.OscBits = {{17, 0}};
  c.Code = QByteArray::fromHex("0c9400000895");
  return c;
}

// ---- the design-time side

namespace {

struct TDcIdent {
  int Sram, Bytes;
  QString Name, Comment;
};

QString ParamIderName(const TDcParam &P, size_t Index) {
  switch (P.Type) {
  case 29: return QStringLiteral("DATE");
  case 30: return QStringLiteral("STAT");
  case 38: return QStringLiteral("XC%1").arg(Index);
  case 39: return QStringLiteral("XD%1").arg(Index);
  default: return QStringLiteral("P%1").arg(Index);
  }
}

QString BitGroupIderName(uint8_t Type) {
  static const char *const names[] = {"DI", "DO", "LE", "VI", "VO"};
  return Type >= 17 && Type <= 21 ? QString::fromLatin1(names[Type - 17]) : QStringLiteral("BG%1").arg(Type);
}

int BitGroupWords(const TDcBitGroup &G) {
  return G.ExtraRegs >= 0 ? G.ExtraRegs + 1 : std::max<int>(1, int((G.Full.size() + 15) / 16));
}

// A comment the listing reader takes as written: no field separator and no
// "(n)", which would open a group.
QString IderComment(const QString &Text) {
  QString t = Text;
  t.replace(';', ',').replace('(', '[').replace(')', ']');
  return t.isEmpty() ? QStringLiteral("-") : t;
}

std::vector<TDcIdent> Identifiers(const TDeviceContent &C) {
  std::vector<TDcIdent> ids;
  for (size_t i = 0; i < C.Measures.size(); ++i)
    ids.push_back({C.Measures[i].Sram, 2, QStringLiteral("M%1").arg(i + 1), IderComment(C.Measures[i].Full)});
  for (const auto &g : C.BitGroups)
    ids.push_back({g.Sram, 2 * BitGroupWords(g), BitGroupIderName(g.Type), IderComment(BitGroupIderName(g.Type))});
  for (size_t i = 0; i < C.Params.size(); ++i) {
    const TDcParam &p = C.Params[i];
    const int words = (p.Type == 29 || p.Type == 30 || p.Type == 36) ? p.ExtraRegs + 1 : 1;
    ids.push_back({p.Sram, 2 * words, ParamIderName(p, i), IderComment(p.Full.isEmpty() ? ParamIderName(p, i) : p.Full)});
  }
  for (size_t g = 0; g < C.SetpointGroups.size() && g < 2; ++g)
    ids.push_back({C.SetpointGroups[g].Sram, 2 * std::max<int>(1, int(C.Setpoints.size())),
                   QStringLiteral("UST%1").arg(g + 1), QStringLiteral("setpoints")});
  std::erase_if(ids, [](const TDcIdent &I) { return I.Sram == 0xFFFF; });
  std::sort(ids.begin(), ids.end(), [](const TDcIdent &A, const TDcIdent &B) { return A.Sram < B.Sram; });
  return ids;
}

QString Dollar(int V, int Digits = 4) { return "$" + QString::number(V, 16).toUpper().rightJustified(Digits, '0'); }

IXXMLNode Put(const IXXMLNode &Parent, const char *Name, const QString &Text) {
  IXXMLNode n = Parent->AddChild(QString::fromLatin1(Name));
  n->SetText(Text);
  return n;
}
IXXMLNode Put(const IXXMLNode &Parent, const char *Name, int Value) {
  return Put(Parent, Name, QString::number(Value));
}
int Factor(int Code) { return Code == 1 ? 10 : Code == 2 ? 100 : Code == 3 ? 1000 : 1; }

void Texts(const IXXMLNode &Parent, const QStringList &Full, const QStringList &Short, int FirstIder) {
  for (qsizetype i = 0; i < Full.size(); ++i) {
    const IXXMLNode s = Parent->AddChild("string");
    Put(s, "ider", int(FirstIder + i));
    Put(s, "value", Full[i]);
    Put(s, "value", i < Short.size() ? Short[i] : QString());
  }
}

void Binding(const IXXMLNode &N, int Ider, int Reg, int Access, const QString &IderName) {
  Put(N, "ider", Ider);
  if (Reg >= 0)
    Put(N, "modbus-reg", Reg);
  Put(N, "modbus-acc", Access);
  if (!IderName.isEmpty())
    Put(N, "modbus-id", IderName);
}

// Lists of measures, parameters and setpoints, an event list, an alarm and the date.
QString DemoMenu(const TDeviceContent &C) {
  const IXXMLDocument doc = NewXMLDocument();
  doc->LoadXML("<item-list/>");
  const IXXMLNode root = doc->GetDocumentElement();
  auto list = [&](const QString &Caption) {
    IXXMLNode l = root->AddChild("item-list");
    l->SetStrAttr("caption", Caption);
    return l;
  };
  auto item = [](const IXXMLNode &Parent, const char *Type, int Id) {
    IXXMLNode i = Parent->AddChild("item");
    i->SetStrAttr("desc-type", QString::fromLatin1(Type));
    if (Id >= 0)
      i->SetStrAttr("desc-id", QString::number(Id));
    return i;
  };
  const IXXMLNode measures = list(QStringLiteral("Измерения"));
  for (size_t i = 0; i < C.Measures.size() && i < 4; ++i)
    item(measures, "measure", int(i) + 1);
  const IXXMLNode params = list(QStringLiteral("Параметры"));
  for (size_t i = 0; i < C.Params.size(); ++i)
    if (C.Params[i].Type != 29 && C.Params[i].Type != 30)
      item(params, C.Params[i].Type == 38 ? "param-mvp" : C.Params[i].Type == 39 ? "param-mvs" : "param", int(i) + 1);
  if (!C.Setpoints.empty()) {
    const IXXMLNode group1 = list(QStringLiteral("Уставки"));
    group1->SetStrAttr("ustav-group", "1");
    for (size_t i = 0; i < C.Setpoints.size(); ++i)
      item(group1, "ustav", int(i) + 1);
    list(QStringLiteral("Уставки 2"))->SetStrAttr("ustav-group", "2");
  }
  if (!C.Events.empty() && !C.EventMeasures.empty()) {
    item(root, "event", -1)->SetStrAttr("caption", QStringLiteral("Журнал событий"));
    item(root, "alarm", -1)->SetStrAttr("caption", QStringLiteral("Авария"));
  }
  for (const auto &p : C.Params)
    if (p.Type == 29)
      item(root, "paramdate", -1);
  return root->GetXml();
}

} // namespace

QByteArray DesignIdentification(const TDeviceContent &C) {
  QStringList l = {QStringLiteral("; firmware identifiers of the simulated device"),
                   ".EQU ADR_FLASH_B = " + Dollar(C.BaseAddr),
                   ".EQU DIM_FLASH_B = $00080000",
                   ".EQU ADR_SRAM = " + Dollar(C.SramBase),
                   ".EQU DIM_SRAM = $1000",
                   ".EQU ADR_EEPROM = " + Dollar(C.EepromBase),
                   ".EQU DIM_EEPROM = " + Dollar(C.EepromSize),
                   ".EQU ADR_UST = $0800",
                   ".EQU DIM_UST = $0100",
                   ".EQU ADR_DATE = $0900",
                   ".EQU DIM_DATE = $0008",
                   ".EQU ADR_CALIBR = " + Dollar(C.CalibrAddr),
                   "MODBUSMASS:"};
  int at = C.SramBase, gap = 0;
  for (const TDcIdent &i : Identifiers(C)) {
    if (i.Sram < at)
      throw EKvError("identifiers overlap at " + Dollar(i.Sram) + " " + i.Name);
    if (i.Sram > at)
      l << QStringLiteral("GAP%1: .BYTE %2 ; unused").arg(++gap).arg(i.Sram - at);
    l << QStringLiteral("%1: .BYTE %2 ; %3").arg(i.Name).arg(i.Bytes).arg(i.Comment);
    at = i.Sram + i.Bytes;
  }
  // The firmware's own words the function library's code reads.
  l << "SysEvent: .BYTE 2 ; event request" << "SysTickMs: .BYTE 2 ; millisecond tick"
    << "SysFlags: .BYTE 2 ; system flags" << "END_MODBUS:";
  return ToWin1251(l.join("\r\n") + "\r\n");
}

uint32_t DesignIdentificationCrc(const TDeviceContent &C) {
  const QByteArray b = DesignIdentification(C);
  return Crc32(b.first(b.size() - 1));
}

QByteArray DesignDescriptorXml(const TDeviceContent &C) {
  const IXXMLDocument doc = NewXMLDocument();
  doc->LoadXML("<device-descriptor/>");
  const IXXMLNode root = doc->GetDocumentElement();
  Put(root, "version", 2);

  auto paramIder = [&](uint16_t Sram, uint8_t Type) {
    for (size_t i = 0; i < C.Params.size(); ++i)
      if (C.Params[i].Sram == Sram && C.Params[i].Type == Type)
        return ParamIderName(C.Params[i], i);
    return QString();
  };
  const IXXMLNode measure = root->AddChild("measure");
  for (size_t i = 0; i < C.Measures.size(); ++i) {
    const TDcMeasure &m = C.Measures[i];
    const IXXMLNode n = measure->AddChild("measure-item");
    Binding(n, int(i) + 1, m.Reg, m.Access, QStringLiteral("M%1").arg(i + 1));
    Put(n, "string", m.Full);
    Put(n, "short-string", m.Short);
    Put(n, "word-prim-val-mult", Factor(m.MvpScale));
    Put(n, "word-sec-val-div", Factor(m.MvsScale));
    if (m.MvpSram != 0xFFFF)
      Put(n, "mvp-id", paramIder(m.MvpSram, 38));
    if (m.MvsSram != 0xFFFF)
      Put(n, "mvs-id", paramIder(m.MvsSram, 39));
    Put(n, "byte-visible", (m.Type & 2) ? 1 : 0);
    Put(n, "byte-dopkod", (m.Type & 4) ? 1 : 0);
    Put(n, "byte-offset-flag", (m.Type & 8) ? 1 : 0);
    Put(n, "byte-offset", m.Offset);
  }

  const IXXMLNode param = root->AddChild("param");
  Put(param, "word-var-addr", C.VarAddr);
  Put(param, "word-var-size", C.VarSize);
  Put(param, "word-bin-addr", C.BinAddr);
  Put(param, "word-bin-size", C.BinSize);
  for (size_t i = 0; i < C.Params.size(); ++i) {
    const TDcParam &p = C.Params[i];
    if (p.Type == 29 || p.Type == 30)
      Binding(param->AddChild(p.Type == 29 ? "param-ddo-date" : "param-ddo-status"), int(i) + 1, p.Reg, p.Access,
              ParamIderName(p, i));
  }
  for (size_t g = 0; g < C.SetpointGroups.size() && g < 2; ++g) {
    const TDcSetpointGroup &grp = C.SetpointGroups[g];
    // EEPROM-kept groups carry the access bit 4 the address generator asks for.
    Binding(param->AddChild(g == 0 ? "param-ddo-ustav1" : "param-ddo-ustav2"), int(g) + 1, grp.Reg,
            grp.Eeprom == 0xFFFF ? 3 : 7, QStringLiteral("UST%1").arg(g + 1));
  }
  const IXXMLNode io = param->AddChild("input-output");
  for (const auto &g : C.BitGroups) {
    const IXXMLNode n = io->AddChild("param-bitreg");
    Binding(n, g.Type - 16, g.Reg, g.Access, BitGroupIderName(g.Type));
    Put(n, "record-type", g.Type);
    Texts(n, g.Full, g.Short, 0);
  }
  for (size_t i = 0; i < C.Params.size(); ++i) {
    const TDcParam &p = C.Params[i];
    const char *name = p.Type == 33 ? "param-enum" : p.Type == 36 ? "param-char" : p.Type == 38 ? "param-nummvp"
                       : p.Type == 39 ? "param-nummvs" : p.Type == 34 ? "param-num" : nullptr;
    if (!name)
      continue;
    const IXXMLNode n = param->AddChild(QString::fromLatin1(name));
    Binding(n, int(i) + 1, p.Reg, p.Access, ParamIderName(p, i));
    Put(n, "string", p.Full);
    Put(n, "short-string", p.Short);
    Put(n, "word-value", 0);
    if (p.Type == 33) {
      Texts(n, p.ValueFull, p.ValueShort, 0);
    } else if (p.Type == 36) {
      Put(n, "string-value", QString());
      Put(n, "byte-value", p.Length);
      Put(n, "byte-passwd-char", p.PasswdChar);
    } else {
      Put(n, "word-koef", Factor(p.Koef));
      Put(n, "word-min", p.Min);
      Put(n, "word-max", p.Max);
    }
  }

  const IXXMLNode ustav = root->AddChild("ustav");
  Put(ustav, "word-ustav-addr", 0);
  Put(ustav, "word-ustav-size", 0);
  Put(ustav, "word-ustav-groupc", 2);
  Texts(ustav->AddChild("ustav-level"), C.SetpointLevels, {}, 1);
  for (size_t i = 0; i < C.Setpoints.size(); ++i) {
    const TDcSetpoint &s = C.Setpoints[i];
    const bool isEnum = s.Type == 49 || s.Type == 53;
    const IXXMLNode n = ustav->AddChild(isEnum ? "ustav-enum" : "ustav-num");
    if (isEnum)
      Put(n, "record-type", s.Type);
    Binding(n, int(i) + 1, -1, s.Access, QString());
    Put(n, "string", s.Full);
    Put(n, "short-string", s.Short);
    Put(n, "byte-level-mask", s.Level);
    if (isEnum) {
      Texts(n, s.ValueFull, s.ValueShort, 0);
    } else {
      if (s.Measure >= 0)
        Put(n, "word-measure-ider", s.Measure + 1);
      Put(n, "word-sec-val-min", s.Min);
      Put(n, "word-sec-val-max", s.Max);
      // The design tool stores a value inside the limits for both groups; a
      // logic written back sends them to the relay's setpoint registers.
      Put(n, "ustav-value1", s.Min);
      Put(n, "ustav-value2", s.Min);
    }
  }

  const IXXMLNode event = root->AddChild("event");
  for (const char *offset : {"byte-code-offset", "byte-front-offset", "byte-time-offset"})
    Put(event, offset, 0);
  Texts(event->AddChild("event-level"), C.EventLevels, {}, 1);
  for (int m : C.EventMeasures)
    Put(event->AddChild("event-measure"), "word-measure-ider", m + 1);
  for (const auto &b : C.EventBits)
    Put(event->AddChild("event-bitreg"), "modbus-id", BitGroupIderName(b.Type));
  for (size_t i = 0; i < C.Events.size(); ++i) {
    const TDcEvent &e = C.Events[i];
    const IXXMLNode n = event->AddChild("event-item");
    Put(n, "failure-flag", e.Failure ? 1 : 0);
    Put(n, "ider", int(i) + 1);
    Put(n, "string", e.Text);
    Put(n, "byte-code", e.Code);
    Put(n, "byte-level-mask", e.Level);
  }

  const IXXMLNode osc = root->AddChild("osc");
  for (const auto &ch : C.OscChannels)
    Put(osc->AddChild("osc-item"), "word-measure-ider", ch.Measure + 1);
  for (const auto &b : C.OscBits)
    Put(osc->AddChild("osc-bitreg"), "modbus-id", BitGroupIderName(b.Type));
  Put(root, "indicator-menu", DemoMenu(C));
  return FormatXMLDocument(doc);
}

std::map<uint16_t, std::pair<uint16_t, uint16_t>> DescribedWriteLimits(const TDeviceContent &Content) {
  std::map<uint16_t, std::pair<uint16_t, uint16_t>> limits;
  const auto enumLimit = [](const QStringList &Texts) { return std::pair<uint16_t, uint16_t>(0, uint16_t(std::max<qsizetype>(Texts.size(), 1) - 1)); };
  for (const TDcParam &p : Content.Params) {
    if (p.Reg < 0)
      continue;
    if (p.Type == 33)
      limits[uint16_t(p.Reg)] = enumLimit(p.ValueFull);
    else if ((p.Type == 34 || p.Type == 38 || p.Type == 39) && (p.Min != 0 || p.Max != 0))
      limits[uint16_t(p.Reg)] = {p.Min, p.Max};
  }
  for (const TDcSetpointGroup &g : Content.SetpointGroups)
    for (size_t i = 0; g.Reg >= 0 && i < Content.Setpoints.size(); ++i) {
      const TDcSetpoint &s = Content.Setpoints[i];
      const uint16_t reg = uint16_t(g.Reg + int(i));
      if (s.Type == 49)
        limits[reg] = enumLimit(s.ValueFull);
      else if (s.Type == 50)
        limits[reg] = {s.Min, s.Max};
    }
  return limits;
}
