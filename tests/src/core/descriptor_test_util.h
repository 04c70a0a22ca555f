#pragma once
// Shared by the descriptor tests: decoding images made by the device-content
// library and a compact rendering of XML elements for comparisons.
#include "ixml.h"
#include "uDeviceContent.h"
#include "uSimpleDeviceDescriptor.h"

#include <QBuffer>
#include <QStringList>
#include <memory>
#include <ostream>

inline void PrintTo(const QString &S, std::ostream *Os) { *Os << '"' << S.toStdString() << '"'; }

// "name=text" per element child; an element with element children as name{...}.
inline QString Leaves(const IXXMLNode &Node) {
  QStringList parts;
  const IXXMLNodeList kids = Node->SelectNodes(QStringLiteral("*"));
  for (int i = 0; i < kids->GetCount(); ++i) {
    const IXXMLNode k = kids->GetItem(i);
    if (k->SelectNodes(QStringLiteral("*"))->GetCount() > 0)
      parts << k->GetNodeName() + QLatin1Char('{') + Leaves(k) + QLatin1Char('}');
    else
      parts << k->GetNodeName() + QLatin1Char('=') + k->GetText();
  }
  return parts.join(QLatin1Char(' '));
}

struct TDecodedImage {
  std::unique_ptr<TSimpleDeviceDescriptor> D = std::make_unique<TSimpleDeviceDescriptor>();
  TDeviceImage Img;
  QStringList Trace;
  QString Node(const QString &XPath) const {
    const IXXMLNode n = D->Root->SelectSingleNode(XPath);
    return n ? Leaves(n) : QStringLiteral("<none>");
  }
};

inline void DecodeBytes(TDecodedImage &R, QByteArray Bytes) {
  R.D->SetOnLog([&R](const QString &Line) { R.Trace << Line; });
  QBuffer b(&Bytes);
  b.open(QIODevice::ReadOnly);
  R.D->LoadFromStream(b);
}

// Builds and decodes; decoding errors pass to the caller.
inline std::unique_ptr<TDecodedImage> DecodeContent(const TDeviceContent &C) {
  auto r = std::make_unique<TDecodedImage>();
  r->Img = BuildDeviceImage(C);
  DecodeBytes(*r, r->Img.Bytes);
  return r;
}

inline void Put16(QByteArray &B, int Offset, int Value) {
  B[Offset] = char(Value & 0xFF);
  B[Offset + 1] = char((Value >> 8) & 0xFF);
}

inline QString U(const char *Utf8) { return QString::fromUtf8(Utf8); }

// Every record type of every zone, with two setpoint groups.
inline TDeviceContent FullContent() {
  TDeviceContent c; // base 0x2000
  // The parameter block words after the measures look like separators: the
  // decoder must skip them, not read them.
  c.VarAddr = 0xAAAA, c.VarSize = 0xAAAA;
  TDcMeasure m0;
  m0.Reg = 0, m0.Type = 0x03, m0.Access = 1, m0.Sram = 0x0100, m0.MvpSram = 0x0400, m0.MvpScale = 2;
  m0.MvsSram = 0x0402, m0.MvsScale = 0, m0.Short = U("Ток"), m0.Full = U("Ток фазы A");
  TDcMeasure m1;
  m1.Reg = 1, m1.Type = 0x0B, m1.Access = 0x11, m1.Sram = 0x0102, m1.Offset = 0x1234, m1.Full = U("Счетчик");
  TDcMeasure m2;
  m2.Type = 0x05, m2.Access = 0, m2.Sram = 0x0104, m2.MvpSram = 0x0999, m2.MvpScale = 12, m2.MvsScale = 3;
  m2.Full = U("Угол");
  c.Measures = {m0, m1, m2};
  QStringList inputs;
  for (int i = 1; i <= 17; ++i)
    inputs << U("Вход %1").arg(i);
  c.BitGroups = {{17, 20, 1, 0x0200, 0xFFFF, {}, inputs, -1},
                 {18, 22, 1, 0x0210, 0xFFFF, {}, {U("Реле 1"), U("Реле 2")}, -1},
                 {19, 23, 1, 0x0220, 0xFFFF, {}, {U("Св")}, -1},
                 {20, 24, 3, 0x0230, 0xFFFF, {}, {U("ВВ")}, -1},
                 {21, 25, 1, 0x0240, 0xFFFF, {}, {U("ВЫХ")}, -1}};
  TDcParam e;
  e.Type = 33, e.Reg = 30, e.Sram = 0x0300, e.Eeprom = 0x0010, e.Short = U("Реж"), e.Full = U("Режим");
  e.ValueFull = {U("Выведен"), U("Введен")};
  TDcParam n;
  n.Type = 34, n.Reg = 31, n.Sram = 0x0302, n.Eeprom = 0x0012, n.Koef = 1, n.Min = 1, n.Max = 247, n.Full = U("Адрес");
  TDcParam p;
  p.Type = 38, p.Reg = 32, p.Sram = 0x0400, p.Eeprom = 0x0014, p.Full = U("Iперв");
  TDcParam s;
  s.Type = 39, s.Reg = 33, s.Sram = 0x0402, s.Eeprom = 0x0016, s.Full = U("Iвтор");
  TDcParam ch;
  ch.Type = 36, ch.Reg = 34, ch.Sram = 0x0310, ch.Eeprom = 0x0020, ch.Length = 2, ch.PasswdChar = '*';
  ch.Full = U("Имя"), ch.ExtraRegs = 1;
  TDcParam date;
  date.Type = 29, date.Reg = 40, date.Sram = 0x0330;
  TDcParam status;
  status.Type = 30, status.Reg = 41, status.Access = 1, status.Sram = 0x0338;
  c.Params = {e, n, p, s, ch, date, status};
  c.SetpointLevels = {U("МТЗ"), U("ЗМН")};
  c.SetpointGroups = {{100, 0x0500, 0x0100}, {150, 0x0600, 0x0200}};
  TDcSetpoint un;
  un.Type = 50, un.Access = 3, un.Measure = 0, un.Min = 10, un.Max = 2000, un.Full = U("Уставка"), un.Level = 2;
  TDcSetpoint ue;
  ue.Type = 49, ue.Access = 3, ue.Full = U("Направление"), ue.ValueFull = {U("нет"), U("да")}, ue.Level = 1;
  TDcSetpoint ue2;
  ue2.Type = 53, ue2.Access = 7, ue2.Full = U("Режим2"), ue2.ValueFull = {U("один")}, ue2.Level = 1;
  c.Setpoints = {un, ue, ue2};
  c.EventLevels = {U("Авария"), U("Сообщение")};
  c.EventMeasures = {0, 2, -1};
  c.EventBits = {{17, 0}};
  c.Events = {{true, 5, 1, U("Авария")}, {false, 6, 2, U("Пуск")}};
  c.OscChannels = {{0}, {-1}};
  c.OscBits = {{18, 0}};
  return c;
}

