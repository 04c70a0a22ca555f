// Decodes a full-size descriptor image (every register 0..1022 served by a
// record: 400 measures, five 32-bit groups, 313 parameters, 150 setpoints in
// two groups, 100 events) and then asks the result for the measure of every
// register the way the pages do. Prints milliseconds per run.
#include "full_size_content.h"
#include "uModbus.h"
#include "uSimpleDeviceDescriptor.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <cstdio>


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

  t.restart();
  int found = 0;
  for (int r = 0; r < 1023; ++r)
    found += d.Root->SelectSingleNode(QStringLiteral("measure/measure-item[mreg=%1]").arg(r)) != nullptr;
  const double queryMs = double(t.nsecsElapsed()) / 1e6;

  t.restart();
  TModbus m;
  m.LoadAccessMap(d.Root);
  const double accessMs = double(t.nsecsElapsed()) / 1e6;

  std::printf("image %lld bytes, %d registers mapped\n", static_cast<long long>(img.Bytes.size()), mapped);
  std::printf("decode: %.2f ms per image (mean of %d)\n", decodeMs, runs);
  std::printf("1023 measure-item[mreg=N] queries: %.2f ms (%d found)\n", queryMs, found);
  std::printf("access map load: %.2f ms\n", accessMs);
  return 0;
}
