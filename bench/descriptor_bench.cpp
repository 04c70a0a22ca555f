// Decodes a full-size descriptor image (every register 0..1022 served by a
// record: 400 measures, five 32-bit groups, 313 parameters, 150 setpoints in
// two groups, 100 events) and then asks the result for the measure of every
// register the way the pages do. Prints milliseconds per run.
#include "uDeviceContent.h"
#include "uModbus.h"
#include "uSimpleDeviceDescriptor.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <cstdio>

namespace {

TDeviceContent FullSize() {
  TDeviceContent c;
  c.BaseAddr = 0x0800;
  int reg = 0;
  for (int i = 0; i < 400; ++i) {
    TDcMeasure m;
    m.Reg = reg++, m.Type = 3, m.Sram = uint16_t(0x1000 + 2 * i), m.MvpSram = 0x3000, m.MvsSram = 0x3002;
    m.MvpScale = 1, m.Short = QStringLiteral("M%1").arg(i), m.Full = QStringLiteral("Измерение номер %1").arg(i);
    c.Measures.push_back(m);
  }
  for (int g = 0; g < 5; ++g) {
    TDcBitGroup b;
    b.Type = uint8_t(17 + g), b.Reg = reg, b.Sram = uint16_t(0x2000 + 4 * g);
    for (int k = 0; k < 32; ++k)
      b.Full << QStringLiteral("Сигнал %1.%2").arg(g).arg(k);
    c.BitGroups.push_back(b);
    reg += 2;
  }
  for (int i = 0; i < 313; ++i) {
    TDcParam p;
    p.Type = i == 0 ? 38 : i == 1 ? 39 : 34;
    p.Reg = reg++, p.Sram = uint16_t(0x3000 + 2 * i), p.Eeprom = uint16_t(2 * i), p.Min = 0, p.Max = 1000;
    p.Full = QStringLiteral("Параметр %1").arg(i);
    c.Params.push_back(p);
  }
  c.SetpointLevels = {QStringLiteral("Защиты"), QStringLiteral("Автоматика")};
  c.SetpointGroups = {{reg, 0x4000, 0x0800}, {reg + 150, 0x4200, 0x0A00}};
  for (int i = 0; i < 150; ++i) {
    TDcSetpoint s;
    s.Type = i % 5 == 0 ? 49 : 50, s.Measure = i % 400, s.Max = 5000, s.Level = uint8_t(1 + i % 2);
    s.Full = QStringLiteral("Уставка %1").arg(i);
    if (s.Type == 49)
      s.ValueFull = {QStringLiteral("нет"), QStringLiteral("да")};
    c.Setpoints.push_back(s);
  }
  c.EventLevels = {QStringLiteral("Аварии"), QStringLiteral("Сообщения")};
  for (int i = 0; i < 50; ++i)
    c.EventMeasures.push_back(i);
  c.EventBits = {{17, 0}, {18, 0}};
  for (int i = 0; i < 100; ++i)
    c.Events.push_back({i % 7 == 0, uint8_t(i), uint8_t(1 + i % 2), QStringLiteral("Событие %1").arg(i)});
  for (int i = 0; i < 32; ++i)
    c.OscChannels.push_back({i});
  return c;
}

} // namespace

int main() {
  const TDeviceImage img = BuildDeviceImage(FullSize());
  int mapped = 0;
  for (int r = 0; r < 1024; ++r)
    mapped += uint8_t(img.Bytes[48 + 2 * r]) != 0xFF || uint8_t(img.Bytes[49 + 2 * r]) != 0xFF;
  TSimpleDeviceDescriptor d;
  const int runs = 20;
  QElapsedTimer t;
  t.start();
  for (int i = 0; i < runs; ++i) {
    QByteArray bytes = img.Bytes;
    QBuffer b(&bytes);
    b.open(QIODevice::ReadOnly);
    d.LoadFromStream(b);
  }
  const double decodeMs = double(t.nsecsElapsed()) / 1e6 / runs;

  // The lookups the pages run at every refresh, answered from the keyed index,
  // beside the same queries evaluated as plain XPath (the peer).
  auto lookups = [&](bool Indexed, const char *Query, int &Found) {
    SetXPathKeyIndex(Indexed);
    QElapsedTimer q;
    q.start();
    Found = 0;
    for (int r = 0; r < 1023; ++r)
      Found += d.Root->SelectSingleNode(QString::fromLatin1(Query).arg(r)) != nullptr;
    SetXPathKeyIndex(true);
    return double(q.nsecsElapsed()) / 1e6;
  };
  // A fresh decode drops every index: the first lookups pay for building it.
  {
    QByteArray bytes = img.Bytes;
    QBuffer b(&bytes);
    b.open(QIODevice::ReadOnly);
    d.LoadFromStream(b);
  }
  int found = 0, foundPlain = 0, anyFound = 0, anyPlain = 0;
  const double queryMs = lookups(true, "measure/measure-item[mreg=%1]", found);
  const double plainMs = lookups(false, "measure/measure-item[mreg=%1]", foundPlain);
  const double anyMs = lookups(true, "//*[mreg=%1]", anyFound);
  const double anyPlainMs = lookups(false, "//*[mreg=%1]", anyPlain);
  t.restart();
  TModbus m;
  m.LoadAccessMap(d.Root);
  const double accessMs = double(t.nsecsElapsed()) / 1e6;

  std::printf("image %lld bytes, %d registers mapped\n", static_cast<long long>(img.Bytes.size()), mapped);
  std::printf("decode: %.2f ms per image (mean of %d)\n", decodeMs, runs);
  std::printf("1023 measure-item[mreg=N] lookups: %.2f ms indexed, %.2f ms plain XPath (%d/%d found), ratio %.1f\n",
              queryMs, plainMs, found, foundPlain, plainMs / queryMs);
  std::printf("1023 //*[mreg=N] lookups: %.2f ms indexed, %.2f ms plain XPath (%d/%d found), ratio %.1f\n", anyMs,
              anyPlainMs, anyFound, anyPlain, anyPlainMs / anyMs);
  std::printf("decode + lookups: %.2f ms (target under 20 ms)\n", decodeMs + queryMs);
  std::printf("access map load: %.2f ms\n", accessMs);
  return 0;
}
