// Seed inputs for the file read fuzz target: a zlib container packed by the
// file transfer's own writer, a frame ring of stamped event records, a plain
// file and a descriptor image made by the device-content library. Input:
// type, frame size selector, ring frames, the device's file.
#include "uDeviceContent.h"
#include "uFiles.h"
#include "uIOChainFile.h"

#include <QDir>
#include <cstdio>

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: file_read_seeds FOLDER\n");
    return 2;
  }
  const QDir dir(QString::fromLocal8Bit(argv[1]));
  QDir().mkpath(dir.path());
  auto save = [&](const char *Name, int Type, int FrameSel, int Ring, const QByteArray &Device) {
    QByteArray in;
    in.append(char(Type)).append(char(FrameSel)).append(char(Ring));
    SaveFileBytes(dir.filePath(QString::fromLatin1(Name)), in + Device);
  };
  QByteArray text;
  for (int i = 0; i < 300; ++i)
    text += "event " + QByteArray::number(i) + "\r\n";
  // Frame size 21 + 43 = 64.
  save("container.bin", 2, 43, 0, PackBytes(DeflateBytes(text), 64));
  save("container-small.bin", 2, 11, 0, PackBytes(DeflateBytes("x"), 32));
  QByteArray ring;
  for (int f = 0; f < 8; ++f) {
    const char stamp[7] = {26, 5, char(4 + f), 12, 0, char(f), 0};
    QByteArray frame(stamp, 7);
    frame.append(QByteArray(25, char('a' + f)));
    ring += frame;
  }
  save("ring.bin", 3, 31, 8, ring);
  save("plain.bin", 0, 15, 0, QByteArray("plain device file"));
  save("descriptor.bin", 1, 63, 0, BuildDeviceImage(DemoDeviceContent()).Bytes);
  return 0;
}
