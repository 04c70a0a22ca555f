// Writes seeds for the ".dat" differential fuzz target into the folder given
// as the only argument: data files our writer makes (as text, mode 1 or 3),
// and generator bytes of usual lines, missing values and faults (mode 0 or 2).
#include "comtrade_dat_config.h"
#include "uComtrade.h"
#include "uFiles.h"

#include <QDir>
#include <cstdio>

namespace {
// Samples of Analog and Digital channels as TComtradeData writes them.
QByteArray Written(int Analog, int Digital, int Samples) {
  TComtradeConfig Config;
  SmallDatConfig(Config, Analog, Digital, Samples - 1);
  TComtradeData Data;
  Data.SetConfig(&Config);
  TComtradeDataTool Fill;
  Fill.SetData(&Data);
  for (int s = 0; s < Samples; ++s) {
    Fill.AddSampleNumber(s + 1);
    Fill.AddTimeStamp(s * 556);
    for (int c = 0; c < Analog; ++c)
      Fill.AddRaw(s % 7 == 3 && c == 1 ? 99999 : (s * 1237 + c * 331) % 20001 - 10000);
    for (int c = 0; c < Digital; ++c)
      Fill.AddDigital((s + c) % 3 == 0);
  }
  return Data.ToBytes();
}

QByteArray Head(int Analog, int Digital, int Mode) {
  return QByteArray(1, char(Analog)) + char(Digital) + char(Mode);
}
} // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: comtrade_dat_seeds FOLDER\n");
    return 2;
  }
  const QDir dir(QString::fromLocal8Bit(argv[1]));
  QDir().mkpath(dir.path());
  // Generator lines: a control byte (line end, field count), then a byte per
  // field and a byte per digit.
  QByteArray Lines;
  for (int l = 0; l < 12; ++l) {
    Lines += char(0x04 + (l % 4) * 8); // whole lines, every line end
    for (int f = 0; f < 2 + 5 + 9; ++f) {
      Lines += char(0x30 + (l + f) % 5 * 0x10);
      Lines += QByteArray("1234567890").mid((l + f) % 5, 8);
    }
  }
  const std::pair<const char *, QByteArray> Seeds[] = {
      {"written_4a_16d.bin", Head(4, 16, 3) + Written(4, 16, 20)},
      {"written_10a_19d.bin", Head(10, 19, 1) + Written(10, 19, 12)},
      {"written_5a_0d.bin", Head(5, 0, 3) + Written(5, 0, 30)},
      {"written_0a_9d.bin", Head(0, 9, 2 + 1 + 4 + 8 * 10) + Written(0, 9, 16)},
      {"lines_5a_9d.bin", Head(5, 9, 2) + Lines},
      {"lines_5a_9d_short.bin", Head(5, 9, 0) + Lines},
  };
  for (const auto &[Name, Bytes] : Seeds)
    SaveFileBytes(dir.filePath(QString::fromLatin1(Name)), Bytes);
  return 0;
}
