// Builds the binary image of a design-time descriptor that maps every register
// 0..1022 (900 measures, 123 numeric parameters) and prints milliseconds per build.
#include "uCharMap.h"
#include "uDeviceDescriptor.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdio>

int main() {
  SetCharMap(BuiltInCharMap());
  TDeviceDescriptor d;
  d.FDeviceDescriptorBin.FBaseAddr = 0x0800;
  d.FDeviceDescriptorBin.FCalibrAddr = 0x0720;
  d.CopyCharMap(CharMapToDevice);
  QTemporaryDir work;
  d.FWorkFolder = work.path();
  for (int r = 0; r < 900; ++r) {
    TDDMeasure *m = d.FMeasures.Add(std::make_unique<TDDMeasure>(&d));
    m->Ider = r + 1, m->FModbusObject.Reg = uint16_t(r), m->FModbusObject.Sram = uint16_t(0x1000 + 2 * r);
    m->Visible = true, m->PrimValMult = 10;
    m->String = QStringLiteral("Измерение номер %1").arg(r);
  }
  for (int r = 900; r < 1023; ++r) {
    TDDParam *p = d.FParams.Add(std::make_unique<TDDParam>(&d, TDDParam::pkNumeric));
    p->Ider = r, p->FModbusObject.Reg = uint16_t(r), p->FModbusObject.Sram = uint16_t(0x2000 + 2 * r);
    p->String = QStringLiteral("Параметр %1").arg(r);
  }
  const QByteArray code(4096, '\x11');
  const int runs = 50;
  qint64 size = 0;
  QElapsedTimer t;
  t.start();
  for (int i = 0; i < runs; ++i) {
    QByteArray image;
    QBuffer b(&image);
    b.open(QIODevice::ReadWrite);
    b.write(QByteArray(2, '\0'));
    d.BuildBin(b, code, uint16_t(code.size()), PackBcdDate(2021, 3, 5), PackBcdDate(2024, 1, 2), 0);
    size = image.size();
  }
  std::printf("descriptor image build, registers 0..1022, %lld bytes: %.3f ms\n", static_cast<long long>(size),
              double(t.nsecsElapsed()) / 1e6 / runs);
  return 0;
}
