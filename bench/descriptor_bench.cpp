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
