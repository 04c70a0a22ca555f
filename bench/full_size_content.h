#pragma once
// The full-size descriptor content of the benchmarks: every register 0..1022
// served by a record (400 measures, five 32-bit groups, 313 parameters, 150
// setpoints in two groups, 100 events).
#include "uDeviceContent.h"

inline TDeviceContent FullSize() {
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
