// Seed inputs of the two COMTRADE fuzz targets, made by our own writers: a
// configuration filled as the record conversion fills it (and cut short), and
// device oscillogram records of the fuzz target's layout (two analog channels,
// one 20-bit register) behind the byte that plans the length.
#include "uComtrade.h"
#include "uDateTime.h"
#include "uFiles.h"
#ifdef KV_SEED_OSC
#include "uOscContent.h"
#endif

#include <QDate>
#include <QDir>
#include <cstdio>

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: comtrade_seeds FOLDER\n");
    return 2;
  }
  const QDir dir(QString::fromLocal8Bit(argv[1]));
  QDir().mkpath(dir.path());
#ifdef KV_SEED_OSC
  TOscRecordPlan plan;
  plan.Analog = {TOscWave{1000.0, 50.0, 0.0, 0.0}, TOscWave{300.0, 50.0, 120.0, 5.0}};
  TOscBitRegister reg;
  reg.BitCount = 20;
  reg.Bits.resize(3);
  reg.Bits[1].SwitchAt = {40};
  reg.Bits[2].Initial = true;
  plan.BitRegisters = {reg};
  for (const int samples : {0, 18, 45, 180}) {
    plan.SampleCount = samples;
    const QByteArray record = BuildOscRecord(plan);
    SaveFileBytes(dir.filePath(QStringLiteral("record%1").arg(samples)), char(samples / 18) + record);
    SaveFileBytes(dir.filePath(QStringLiteral("record%1-long").arg(samples)), char(255) + record);
  }
#else
  TComtradeConfig config;
  TComtradeConfigTool tool;
  tool.SetConfig(&config);
  TComtradeAnalogChannel a;
  a.Id = QStringLiteral("Ia");
  a.Phase = QStringLiteral("A");
  a.Unit = QStringLiteral("A");
  a.A = 0.01;
  a.Min = -32768;
  a.Max = 32767;
  tool.AddAnalogChannel(a);
  a.Id = QStringLiteral("Ub");
  a.Unit = QStringLiteral("kV");
  tool.AddAnalogChannel(a);
  TComtradeDigitalChannel d;
  d.Id = QStringLiteral("Пуск МТЗ");
  tool.AddDigitalChannel(d);
  tool.SetRateCount(1);
  tool.SetRateSamples(0, 1800.0);
  tool.SetRateEndSample(0, 1799);
  tool.SetFirstTime(QDateTimeToDateTime(QDateTime(QDate(2024, 5, 14), QTime(10, 0, 0))));
  tool.SetTriggerTime(QDateTimeToDateTime(QDateTime(QDate(2024, 5, 14), QTime(10, 0, 1))));
  const QByteArray cfg = config.ToBytes();
  SaveFileBytes(dir.filePath("record.cfg"), cfg);
  SaveFileBytes(dir.filePath("cut.cfg"), cfg.left(cfg.size() / 2));
  tool.SetRateCount(0);
  SaveFileBytes(dir.filePath("norate.cfg"), config.ToBytes());
#endif
  return 0;
}
