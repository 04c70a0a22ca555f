// Load time and peak memory of COMTRADE pairs as the conversion of device
// records writes them: 32 analog channels and one 16-bit register of discrete
// channels at 1800 samples per second, 10 seconds and 10 minutes long.
//
//   comtrade_bench [folder]          builds the records, converts, saves, then
//                                    loads each pair in a fresh process
//   comtrade_bench load <file.cfg>   (internal) loads one pair and reports
//   comtrade_bench load-one-core <file.cfg>  (internal) the same on one core
#include "comtrade_records.h"
#include "uBenchKit.h"
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
#include <sys/resource.h>
#include <cstdio>

namespace {


constexpr int Runs = 7;

// User and system seconds of this process (all its threads) or of its
// waited-for children.
double CpuSeconds(int Who) {
  rusage U{};
  getrusage(Who, &U);
  return double(U.ru_utime.tv_sec + U.ru_stime.tv_sec) + double(U.ru_utime.tv_usec + U.ru_stime.tv_usec) / 1e6;
}

// Seconds of one load of the pair; Check gathers a figure of every channel so
// that nothing is left unread.
double LoadOnce(const QString &Cfg, int &Samples, double &SampleMb, double &Check) {
  QElapsedTimer T;
  T.start();
  TComtradeConfig Config;
  QString Warning;
  Config.LoadFromFile(Cfg, Warning);
  TComtradeData Data;
  Data.LoadFromFile(QFileInfo(Cfg).path() + "/" + QFileInfo(Cfg).completeBaseName() + ".dat", &Config);
  const double S = double(T.nsecsElapsed()) / 1e9;
  for (int c = 0; c < Config.AnalogCount(); ++c)
    Check += Data.GetFirstHarmonic(c, 0, 35);
  Samples = Data.SampleCount();
  // The samples' own size: raw analog words, digital bytes, numbers and stamps.
  SampleMb = double(Samples) * (4.0 * Config.AnalogCount() + Config.DigitalCount() + 8.0) / 1048576.0;
  return S;
}

// Loads the pair, alternating with its peer, counting the same file's lines
// with wc -l (the least any reader does); on one core when OneCore (wc
// inherits the core).
int Load(const QString &Cfg, bool OneCore) {
  if (OneCore) {
    const int Core = bench::QuietestCore();
    cpu_set_t Set;
    CPU_ZERO(&Set);
    CPU_SET(Core, &Set);
    sched_setaffinity(0, sizeof Set, &Set);
  }
  const long Before = StatusKb("VmRSS:");
  const QString Dat = QFileInfo(Cfg).path() + "/" + QFileInfo(Cfg).completeBaseName() + ".dat";
  std::vector<double> Loads, Wcs, LoadCpu, WcCpu;
  int Samples = 0;
  double SampleMb = 0, Check = 0;
  long Peak = 0;
  for (int R = 0; R < Runs; ++R) {
    const double Cpu0 = CpuSeconds(RUSAGE_SELF);
    Loads.push_back(LoadOnce(Cfg, Samples, SampleMb, Check));
    LoadCpu.push_back(CpuSeconds(RUSAGE_SELF) - Cpu0);
    if (R == 0)
      Peak = StatusKb("VmHWM:");
    QElapsedTimer W;
    W.start();
    const double Child0 = CpuSeconds(RUSAGE_CHILDREN);
    QProcess Wc;
    Wc.start("wc", {"-l", Dat});
    Wc.waitForFinished(-1);
    Wcs.push_back(std::max(double(W.nsecsElapsed()) / 1e9, 1e-4));
    WcCpu.push_back(std::max(CpuSeconds(RUSAGE_CHILDREN) - Child0, 1e-4));
  }
  const bench::TSpread L = bench::Spread(Loads), C = bench::Spread(Wcs);
  std::printf("%-6s %-9s load %s ms  wc -l %s ms  ratio %5.1f (target %s)  %s\n",
              qPrintable(QFileInfo(Cfg).completeBaseName()), OneCore ? "one core" : "all cores",
              bench::Text(L, 1e3, 1).c_str(), bench::Text(C, 1e3, 1).c_str(), L.Median / C.Median,
              OneCore ? "6" : "5", bench::Machine().c_str());
  const bench::TSpread LC = bench::Spread(LoadCpu), CC = bench::Spread(WcCpu);
  std::printf("       CPU time: load %s ms  wc -l %s ms  ratio %5.1f\n", bench::Text(LC, 1e3, 1).c_str(),
              bench::Text(CC, 1e3, 1).c_str(), LC.Median / CC.Median);
  if (!OneCore)
    std::printf("       samples %8d  %7.1f MB of samples, peak RSS %7.1f MB (%.1f MB before loading), "
                "%.2f of the samples (target 1.2)  [%g]\n",
                Samples, SampleMb, Peak / 1024.0, Before / 1024.0, (Peak - Before) / 1024.0 / SampleMb, Check);
  return 0;
}

} // namespace

int main(int argc, char **argv) {
  QCoreApplication App(argc, argv);
  const QStringList Args = App.arguments();
  try {
    if (Args.size() == 3 && (Args[1] == "load" || Args[1] == "load-one-core"))
      return Load(Args[2], Args[1] == "load-one-core");
    QTemporaryDir Temp;
    const QString Folder = Args.size() > 1 ? Args[1] : Temp.path();
    QDir().mkpath(Folder);
    const std::pair<const char *, int> Cases[] = {{"10s", 10}, {"10min", 600}};
    for (const auto &[Name, Seconds] : Cases)
      MakeBenchPair(Folder + "/" + Name, Seconds);
    std::fflush(stdout);
    for (const auto &[Name, Seconds] : Cases)
      for (const char *Mode : {"load", "load-one-core"}) {
        QProcess P;
        P.setProcessChannelMode(QProcess::ForwardedChannels);
        P.start(App.applicationFilePath(), {Mode, Folder + "/" + Name + ".cfg"});
        P.waitForFinished(-1);
      }
  } catch (const std::exception &E) {
    std::fprintf(stderr, "%s\n", E.what());
    return 1;
  }
  return 0;
}
