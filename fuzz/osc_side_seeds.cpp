// Seed side files for the side file target: settings as the viewer saves
// them (through the side file writer), and empty, cut and odd files.
#include "uFiles.h"
#include "uOscSideFile.h"

#include <QDir>
#include <QFile>
#include <cstdio>

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: osc_side_seeds DIR\n");
    return 2;
  }
  const QDir dir(QString::fromLocal8Bit(argv[1]));
  TOscViewSettings view;
  view.AnalogHeight = 55;
  TOscChannelSettings a, b, c;
  a.Color = 0x0000FF, a.Events = "10", b.Checked = false, b.BaseVector = true, c.PenWidth = 5;
  TOscEventList events;
  for (const char *moment : {"24.05.14 10:00:00.100", "24.05.14 10:00:00.900"}) {
    auto e = std::make_unique<TOscEvent>();
    e->MomentText = QString::fromLatin1(moment);
    events.push_back(std::move(e));
  }
  SaveOscSideFile(dir.filePath("saved.xml"), view, {&a, &b, &c}, events);
  QFile saved(dir.filePath("saved.xml"));
  QByteArray bytes;
  if (saved.open(QIODevice::ReadOnly))
    bytes = saved.readAll();
  SaveFileBytes(dir.filePath("cut.xml"), bytes.left(bytes.size() / 2));
  SaveFileBytes(dir.filePath("empty.xml"), "");
  SaveFileBytes(dir.filePath("odd.xml"),
        "<osc><common analog-height=\"-1\" phasor-panel-width=\"0\"/><event moment=\"99.99.99 99:99:99.999\"/>"
        "<channel events=\"1111111111\" color=\"4294967296\" width=\"2147483648\"/></osc>");
  return 0;
}
