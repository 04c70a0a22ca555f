// The oscillogram viewer on the ten-minute record of comtrade_bench (32
// analog and 16 discrete channels at 1800 samples per second), in a 1600 x 900
// frame with every channel shown:
//   osc_view_bench [folder]
//   osc_view_bench make BASE SECONDS    only writes the pair BASE.cfg/.dat
//   osc_view_bench build BASE TIMES     only loads BASE.dat and builds the
//                                       caches TIMES times (for a profiler)
// Prints the load, what the strip caches cost on top of it (made as the
// samples arrive, as the frame makes them, on every core and on one; and
// made again from memory), the first paint, and at every doubling of the
// scale from the fit scale to 1024 px per sample, at the start, middle and
// end, the first paint there and the redraw (median and
// worst of 5), with the strips apart and on one axis, the curves drawn
// directly and from bitmap strips (setting osc/bitmapFrames); the cache's
// and the samples' bytes; peak memory; each beside its target. Times are wall
// clock; the machine's load average is printed, and the worst paints also in
// CPU time of all the process's threads (a paint and the cache build run on
// every core), which a busy machine disturbs less.
#include "comtrade_records.h"
#include "uOscFrame.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>
#include <sched.h>
#include <tuple>

namespace {

double Ms(qint64 Ns) { return Ns / 1e6; }

double CpuMs() {
  timespec T{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &T);
  return T.tv_sec * 1e3 + T.tv_nsec / 1e6;
}

QByteArray LoadAverage() {
  QFile F(QStringLiteral("/proc/loadavg"));
  return F.open(QIODevice::ReadOnly) ? F.readAll().split(' ').mid(0, 3).join(' ') : QByteArray("?");
}

// One timed paint: wall and thread CPU milliseconds.
struct TTime {
  double Wall = 0, Cpu = 0;
};
TTime TimedPaint(TkvOscFrame &Frame) {
  QElapsedTimer R;
  const double C0 = CpuMs();
  R.start();
  Frame.PaintBoxPaint();
  return {Ms(R.nsecsElapsed()), CpuMs() - C0};
}

} // namespace

int main(int argc, char **argv) {
  if (argc == 4 && QByteArray(argv[1]) == "make") {
    MakeBenchPair(QString::fromLocal8Bit(argv[2]), QByteArray(argv[3]).toInt());
    return 0;
  }
  if (argc == 4 && QByteArray(argv[1]) == "build") {
    const QString Base = QString::fromLocal8Bit(argv[2]);
    TComtradeConfig Config;
    QString Warning;
    Config.LoadFromFile(Base + ".cfg", Warning);
    TComtradeData Data;
    Data.LoadFromFile(Base + ".dat", &Config);
    std::vector<TOscStripCache> Caches(size_t(Config.AnalogCount() + Config.DigitalCount()));
    std::vector<TOscStripCache *> Analog, Digital;
    for (size_t i = 0; i < Caches.size(); ++i)
      (int(i) < Config.AnalogCount() ? Analog : Digital).push_back(&Caches[i]);
    std::vector<double> Builds;
    for (int i = QByteArray(argv[3]).toInt(); i > 0; --i) {
      QElapsedTimer T;
      T.start();
      TOscStripCache::BuildAll(Data, Analog, Digital);
      Builds.push_back(Ms(T.nsecsElapsed()));
    }
    std::sort(Builds.begin(), Builds.end());
    if (!Builds.empty())
      std::printf("cache build %.1f ms, median %.1f, worst %.1f\n", Builds.front(), Builds[Builds.size() / 2],
                  Builds.back());
    return 0;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication App(argc, argv);
  QTemporaryDir Temp;
  const QString Folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : Temp.path();
  QDir().mkpath(Folder);
  const QString Base = Folder + "/10min";
  if (!QFile::exists(Base + ".dat"))
    MakeBenchPair(Base, 600);

  TkvOscFrame::SetupOpener = [](TkvOscFrame &Frame) {
    for (TOscDrawer *D : Frame.Drawers())
      D->SetChecked(true);
    return true;
  };
  // Three loads and five cache builds, each given as its fastest and its
  // median: a shared machine slows single runs at random.
  auto MinMedian = [](std::vector<double> T) {
    std::sort(T.begin(), T.end());
    return std::pair{T.front(), T[T.size() / 2]};
  };
  // The data alone and the data with the caches made as they arrive (as the
  // frame loads them), one after the other, while nothing else is held: what
  // the caches cost is the difference, best seen in each pair's (a machine
  // whose speed drifts moves both alike). On every core, then on one.
  struct TPairs {
    double PlainMin, PlainMedian, PlainCpu, WithMin, WithMedian, WithCpu, Difference;
  };
  auto LoadPairs = [&](int Count) {
    std::vector<double> Plain, With, PlainCpu, WithCpu, Differences;
    for (int i = 0; i < Count; ++i)
      for (bool Sink : {false, true}) {
        TComtradeConfig Config;
        QString Warning;
        Config.LoadFromFile(Base + ".cfg", Warning);
        TComtradeData Data;
        TOscStripBuild Build;
        QElapsedTimer T;
        const double C0 = CpuMs();
        T.start();
        Data.LoadFromFile(Base + ".dat", &Config, Sink ? &Build : nullptr);
        if (Sink)
          Build.Finish(Data);
        (Sink ? With : Plain).push_back(Ms(T.nsecsElapsed()));
        (Sink ? WithCpu : PlainCpu).push_back(CpuMs() - C0);
      }
    for (size_t i = 0; i < Plain.size(); ++i)
      Differences.push_back(With[i] - Plain[i]);
    TPairs R{};
    std::tie(R.PlainMin, R.PlainMedian) = MinMedian(Plain);
    std::tie(R.WithMin, R.WithMedian) = MinMedian(With);
    R.PlainCpu = MinMedian(PlainCpu).second;
    R.WithCpu = MinMedian(WithCpu).second;
    R.Difference = MinMedian(Differences).second;
    return R;
  };
  const TPairs Free = LoadPairs(25);
  cpu_set_t All, One;
  sched_getaffinity(0, sizeof All, &All);
  CPU_ZERO(&One);
  for (int c = 0; c < CPU_SETSIZE; ++c)
    if (CPU_ISSET(c, &All)) {
      CPU_SET(c, &One);
      break;
    }
  sched_setaffinity(0, sizeof One, &One);
  const TPairs OneCore = LoadPairs(9);
  sched_setaffinity(0, sizeof All, &All);
  std::unique_ptr<TkvOscFrame> Owner;
  std::vector<double> Loads;
  for (int i = 0; i < 3; ++i) {
    Owner = std::make_unique<TkvOscFrame>();
    Owner->resize(1600 + 169 + 19, 900 + 29 + 17);
    Owner->show();
    Owner->Initialize();
    QElapsedTimer T;
    T.start();
    Owner->LoadComtradeFile(Base + ".dat");
    Loads.push_back(Ms(T.nsecsElapsed()));
  }
  TkvOscFrame &Frame = *Owner;

  // The caches made again from the data in memory, for comparison: every
  // sample read from memory once more.
  std::vector<TOscStripCache> Caches(Frame.Drawers().size());
  std::vector<TOscStripCache *> Analog, Digital;
  for (size_t i = 0; i < Caches.size(); ++i)
    (Frame.Drawers()[i]->IsAnalog() ? Analog : Digital).push_back(&Caches[i]);
  std::vector<double> Builds, BuildsCpu;
  for (int i = 0; i < 5; ++i) {
    QElapsedTimer T;
    const double C0 = CpuMs();
    T.start();
    TOscStripCache::BuildAll(Frame.Data(), Analog, Digital);
    Builds.push_back(Ms(T.nsecsElapsed()));
    BuildsCpu.push_back(CpuMs() - C0);
  }
  int64_t CacheBytes = 0;
  for (const TOscStripCache &C : Caches)
    CacheBytes += C.Bytes();
  const int64_t SampleBytes = Frame.Data().AllocatedCells() * 4 + int64_t(Frame.Data().SampleCount()) * 8;
  const auto [LoadMin, LoadMedian] = MinMedian(Loads);
  const auto [CacheMin, CacheMedian] = MinMedian(Builds);
  const double CacheCpu = MinMedian(BuildsCpu).second;

  TOscView &V = Frame.View();
  Frame.SetBitmapFrames(false);
  QElapsedTimer T;
  T.start();
  Frame.PaintBoxPaint();
  const qint64 FirstPaintNs = T.nsecsElapsed();
  std::printf("load average %s (8 cores shared)\n", LoadAverage().constData());
  std::printf("plot %dx%d, %d samples, %zu channels\n", Frame.PaintBox->width(), Frame.PaintBox->height(),
              V.SampleCount(), Frame.Drawers().size());
  std::printf("load into the frame %.1f ms (median %.1f)\n", LoadMin, LoadMedian);
  for (const auto &[Name, P] : {std::pair{"every core", &Free}, {"one core", &OneCore}}) {
    std::printf("%s: the data alone %.1f ms (median %.1f, CPU %.1f), with the caches made as they arrive %.1f ms "
                "(median %.1f, CPU %.1f)\n",
                Name, P->PlainMin, P->PlainMedian, P->PlainCpu, P->WithMin, P->WithMedian, P->WithCpu);
    std::printf("%s: cache build (what the caches add, the median of the pairs' differences) %.1f ms, CPU %.1f: to "
                "the load %.3f (target under 0.1)\n",
                Name, P->Difference, P->WithCpu - P->PlainCpu, P->Difference / P->PlainMedian);
  }
  std::printf("the caches made again from the data in memory %.1f ms (median %.1f, CPU %.1f): to the load %.3f (of "
              "medians %.3f)\n",
              CacheMin, CacheMedian, CacheCpu, CacheMin / Free.PlainMin, CacheMedian / Free.PlainMedian);
  std::printf("first paint %.2f ms (target 16)\n", Ms(FirstPaintNs));
  std::printf("cache %.1f MB, samples %.1f MB: ratio %.2f (target 1 at most)\n", CacheBytes / 1048576.0,
              SampleBytes / 1048576.0, double(CacheBytes) / double(SampleBytes));

  for (bool Strips : {false, true}) {
    Frame.SetBitmapFrames(Strips);
    TTime WorstFirst, WorstRedraw;
    for (bool Single : {false, true}) {
      Frame.cbSingleAxis->setChecked(Single);
      std::printf("%s, %s: first paint after the change, then redraw median and worst (ms)\n",
                  Strips ? "bitmap strips" : "drawn directly", Single ? "one axis" : "strips apart");
      std::printf("%10s %26s %26s %26s\n", "px/sample", "start", "middle", "end");
      for (double Scale = V.FitScale;; Scale = std::min(Scale * 2, 1024.0)) {
        V.TimeScale = Scale;
        Frame.Rebuild();
        std::printf("%10.5f", Scale);
        for (int Where : {0, 1, 2}) {
          V.SetScroll(Where == 0 ? 0 : Where == 1 ? V.MaxScroll() / 2 : V.MaxScroll());
          const TTime First = TimedPaint(Frame);
          if (First.Wall > WorstFirst.Wall)
            WorstFirst = First;
          std::vector<double> Times;
          for (int k = 0; k < 5; ++k) {
            const TTime R = TimedPaint(Frame);
            Times.push_back(R.Wall);
            if (R.Wall > WorstRedraw.Wall)
              WorstRedraw = R;
          }
          std::sort(Times.begin(), Times.end());
          std::printf("   %7.2f %7.2f %7.2f", First.Wall, Times[2], Times.back());
        }
        std::printf("\n");
        if (Scale >= 1024.0)
          break;
      }
    }
    std::printf("%s: worst first paint %.2f ms (%.2f ms CPU), worst redraw %.2f ms (%.2f ms CPU of all threads); "
                "target 16\n",
                Strips ? "bitmap strips" : "drawn directly", WorstFirst.Wall, WorstFirst.Cpu, WorstRedraw.Wall,
                WorstRedraw.Cpu);
  }
  std::printf("peak RSS %.1f MB; load average %s\n", StatusKb("VmHWM:") / 1024.0, LoadAverage().constData());
  return 0;
}
