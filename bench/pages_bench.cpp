// Builds the parameters and setpoints pages from a generated descriptor that
// puts a parameter or a setpoint at almost every register (700 parameters
// of every kind, 150 setpoints in two groups), as after an identification:
// SetDescriptor, then the values of a full register image shown. Prints
// milliseconds per page (offscreen).
#include "uDeviceContent.h"
#include "uModbus.h"
#include "uParamFrame.h"
#include "uSimpleDeviceDescriptor.h"
#include "uStringGrid.h"
#include "uUstavFrame.h"

#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <cstdio>

namespace {
TDeviceContent EveryRegister() {
  TDeviceContent c;
  c.BaseAddr = 0x0800;
  int reg = 1;
  for (int i = 0; i < 700; ++i) {
    TDcParam p;
    p.Type = i % 3 == 0 ? 33 : 34;
    p.Reg = reg++, p.Sram = uint16_t(0x3000 + 2 * i), p.Eeprom = uint16_t(2 * i), p.Koef = uint8_t(i % 4);
    p.Full = QStringLiteral("Параметр %1").arg(i);
    if (p.Type == 33)
      p.ValueFull = {QStringLiteral("Выведен"), QStringLiteral("Введен")};
    c.Params.push_back(p);
  }
  c.SetpointLevels = {QStringLiteral("Защиты"), QStringLiteral("Автоматика")};
  c.SetpointGroups = {{reg, 0x4000, 0x0800}, {reg + 150, 0x4200, 0x0A00}};
  for (int i = 0; i < 150; ++i) {
    TDcSetpoint s;
    s.Type = i % 5 == 0 ? 49 : 50, s.Max = 5000, s.Level = uint8_t(1 + i % 2);
    s.Full = QStringLiteral("Уставка %1").arg(i);
    if (s.Type == 49)
      s.ValueFull = {QStringLiteral("нет"), QStringLiteral("да")};
    c.Setpoints.push_back(s);
  }
  return c;
}

template <typename F> double Ms(int Runs, F &&Fn) {
  QElapsedTimer t;
  t.start();
  for (int i = 0; i < Runs; ++i)
    Fn();
  return double(t.nsecsElapsed()) / 1e6 / Runs;
}
} // namespace

int main(int argc, char **argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QByteArray bytes = BuildDeviceImage(EveryRegister()).Bytes;
  QBuffer b(&bytes);
  b.open(QIODevice::ReadOnly);
  TSimpleDeviceDescriptor d;
  d.LoadFromStream(b);
  for (int r = 0; r < TModbus::RegCount; ++r)
    Modbus().SetWord(r, uint16_t(r % 2));

  TkvParamFrame param;
  param.Init();
  TUstavFrame ustav;
  ustav.Init();
  const int runs = 5;
  const double paramMs = Ms(runs, [&] {
    param.Clear();
    param.SetDescriptor(d.Root);
    param.ShowValues();
  });
  const double ustavMs = Ms(runs, [&] {
    ustav.Clear();
    ustav.SetDescriptor(d.Root);
    ustav.ShowValues();
  });
  std::printf("parameters page: %d rows, %.1f ms\n", param.sgParam->rowCount() - 1, paramMs);
  std::printf("setpoints page:  %d rows, %.1f ms\n", ustav.sgUstav->rowCount() - 1, ustavMs);
  return 0;
}
