// Seed inputs for the event record fuzz target: the demo device's journal ring
// as the simulator serves it, a short ring of the other layout, a ring cut in
// the middle of a record, and an empty file.
#include "uDevSimFiles.h"
#include "uFiles.h"
#include "uSimDevice.h"

#include <QDir>
#include <cstdio>

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: event_record_seeds FOLDER\n");
    return 2;
  }
  const QDir dir(QString::fromLocal8Bit(argv[1]));
  QDir().mkpath(dir.path());
  auto save = [&](const char *Name, char Layout, const QByteArray &Ring) {
    SaveFileBytes(dir.filePath(QString::fromLatin1(Name)), QByteArray(1, Layout) + Ring);
  };
  TSimDevice device;
  AddDemoFiles(device);
  const QByteArray demo = device.FileBytes(SimFileEventRing);
  save("demo.bin", 0, demo);
  save("demo-cut.bin", 0, demo.left(demo.size() / 2 + 3));
  const QDateTime t(QDate(2024, 2, 29), QTime(23, 59, 59, 990), Qt::UTC);
  save("mended.bin", 1,
       BuildEventRing({{t, 1, 1, {0x8001, 2, 3, 0xFFFF}}, {t.addSecs(1), 4, 0, {}}, {t.addSecs(2), 9, 1, {}}}, 19, 4, 3));
  save("empty.bin", 0, QByteArray());
  return 0;
}
