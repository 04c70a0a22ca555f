// Writes seed images for the descriptor fuzz target into the folder given as
// the only argument: an empty device, the demo relay, and images whose records
// sit near the interesting limits (bit groups over 16 bits, many setpoint
// groups, offsets, texts with escapes).
#include "uDeviceContent.h"
#include "uFiles.h"

#include <QDir>
#include <cstdio>

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: descriptor_seeds FOLDER\n");
    return 2;
  }
  const QDir dir(QString::fromLocal8Bit(argv[1]));
  QDir().mkpath(dir.path());
  auto save = [&](const char *Name, const TDeviceContent &C) {
    SaveFileBytes(dir.filePath(QString::fromLatin1(Name)), BuildDeviceImage(C).Bytes);
  };
  save("empty.bin", TDeviceContent());
  save("demo.bin", DemoDeviceContent());

  TDeviceContent groups = DemoDeviceContent();
  groups.SetpointGroups.clear();
  for (int g = 0; g < 8; ++g)
    groups.SetpointGroups.push_back({200 + 8 * g, uint16_t(0x0500 + 0x10 * g), uint16_t(0x0100 + 0x10 * g)});
  save("groups.bin", groups);

  TDeviceContent wide;
  TDcBitGroup g;
  g.Type = 17, g.Reg = 0, g.Sram = 0x0200;
  for (int i = 0; i < 40; ++i)
    g.Full << QStringLiteral("b%1").arg(i);
  wide.BitGroups = {g};
  wide.EventBits = {{17, 0}};
  wide.OscBits = {{17, 0}};
  TDcMeasure m;
  m.Type = 0x0F, m.Reg = 5, m.Short = QStringLiteral("a|b\\176"), m.Full = QStringLiteral("x");
  wide.Measures = {m};
  wide.OscChannels = {{0}};
  wide.EventMeasures = {0};
  save("wide.bin", wide);
  return 0;
}
