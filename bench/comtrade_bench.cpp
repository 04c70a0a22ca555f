// Load time and peak memory of COMTRADE pairs as the conversion of device
// records writes them: 32 analog channels and one 16-bit register of discrete
// channels at 1800 samples per second, 10 seconds and 10 minutes long.
//
//   comtrade_bench [folder]          builds the records, converts, saves, then
//                                    loads each pair in a fresh process
//   comtrade_bench load <file.cfg>   (internal) loads one pair and reports
#include "comtrade_records.h"
#include "uComtrade.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <cstdio>

namespace {


int Load(const QString &Cfg) {
  const long Before = StatusKb("VmRSS:");
  QElapsedTimer T;
  T.start();
  TComtradeConfig Config;
  QString Warning;
  Config.LoadFromFile(Cfg, Warning);
  TComtradeData Data;
  Data.LoadFromFile(QFileInfo(Cfg).path() + "/" + QFileInfo(Cfg).completeBaseName() + ".dat", &Config);
  const qint64 Ms = T.elapsed();
  const long Peak = StatusKb("VmHWM:");
  double Check = 0;
  for (int c = 0; c < Config.AnalogCount(); ++c)
    Check += Data.GetFirstHarmonic(c, 0, 35);
  // The samples' own size: raw analog words, digital bytes, numbers and stamps.
  const double SampleMb = double(Data.SampleCount()) *
                          (4.0 * Config.AnalogCount() + Config.DigitalCount() + 8.0) / 1048576.0;
  // The peer: counting the same file's lines with wc -l, the least any reader does.
  QElapsedTimer W;
  W.start();
  QProcess Wc;
  Wc.start("wc", {"-l", QFileInfo(Cfg).path() + "/" + QFileInfo(Cfg).completeBaseName() + ".dat"});
  Wc.waitForFinished(-1);
  const qint64 WcMs = std::max<qint64>(W.elapsed(), 1);
  std::printf("%-8s load %6lld ms  wc -l %5lld ms  ratio %5.1f (target 5)  samples %8d  %7.1f MB of samples, "
              "peak RSS %7.1f MB (%.1f MB before loading), %.2f of the samples (target 1.2)  [%g]\n",
              qPrintable(QFileInfo(Cfg).completeBaseName()), Ms, WcMs, double(Ms) / WcMs, Data.SampleCount(),
              SampleMb, Peak / 1024.0, Before / 1024.0, (Peak - Before) / 1024.0 / SampleMb, Check);
  return 0;
}

} // namespace

int main(int argc, char **argv) {
  QCoreApplication App(argc, argv);
  const QStringList Args = App.arguments();
  try {
    if (Args.size() == 3 && Args[1] == "load")
      return Load(Args[2]);
    QTemporaryDir Temp;
    const QString Folder = Args.size() > 1 ? Args[1] : Temp.path();
    QDir().mkpath(Folder);
    const std::pair<const char *, int> Cases[] = {{"10s", 10}, {"10min", 600}};
    for (const auto &[Name, Seconds] : Cases)
      MakeBenchPair(Folder + "/" + Name, Seconds);
    std::fflush(stdout);
    for (const auto &[Name, Seconds] : Cases) {
      QProcess P;
      P.setProcessChannelMode(QProcess::ForwardedChannels);
      P.start(App.applicationFilePath(), {"load", Folder + "/" + Name + ".cfg"});
      P.waitForFinished(-1);
    }
  } catch (const std::exception &E) {
    std::fprintf(stderr, "%s\n", E.what());
    return 1;
  }
  return 0;
}
