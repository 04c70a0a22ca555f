// Seed inputs for the directory fuzz target: the demo's ring as the
// simulator serves it, a ring with a spoilt slot, a linear directory read
// from its last index and one cut short.
#include "uDevSimFiles.h"
#include "uFiles.h"
#include "uSimDevice.h"

#include <QDir>
#include <cstdio>

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: osc_directory_seeds FOLDER\n");
    return 2;
  }
  const QDir dir(QString::fromLocal8Bit(argv[1]));
  QDir().mkpath(dir.path());
  auto save = [&](const char *Name, char Layout, char Slots, const QByteArray &Bytes) {
    SaveFileBytes(dir.filePath(QString::fromLatin1(Name)), QByteArray(1, Layout) + QByteArray(1, Slots) + Bytes);
  };
  TSimDevice device;
  AddDemoFiles(device);
  save("demo.bin", 1, 32, device.FileBytes(SimFileOscDirectory));
  const QDateTime t(QDate(2024, 3, 5), QTime(10, 0), Qt::UTC);
  const std::vector<TSimOscEntry> four = {{t, 1, 1}, {t.addSecs(60), 3, 5}, {t.addSecs(120), 255, 255}, {t.addSecs(121), 0, 0}};
  save("spoilt.bin", 1, 4, BuildOscDirectory(four, {4, 2, 3, {1}}));
  save("linear.bin", 2, 32, BuildOscDirectory(four, {32, 1, 0, {}}));
  save("cut.bin", 0, 32, BuildOscDirectory(four, {32, 1, 0, {}}).left(40));
  return 0;
}
