// The oscillogram viewer on the ten-minute record of comtrade_bench (32
// analog and 16 discrete channels at 1800 samples per second), in a 1600 x 900
// frame with every channel shown:
//   osc_view_bench [folder]
//   osc_view_bench make BASE SECONDS    only writes the pair BASE.cfg/.dat
// Prints the load, the strip cache build, the first paint, and the redraw
// (median and worst of 5) at every doubling of the scale from the fit scale
// to 1024 px per sample, at the start, middle and end, with the strips apart
// and on one axis; the cache's and the samples' bytes; peak memory.
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

namespace {


double Ms(qint64 Ns) { return Ns / 1e6; }

} // namespace

int main(int argc, char **argv) {
  if (argc == 4 && QByteArray(argv[1]) == "make") {
    MakeBenchPair(QString::fromLocal8Bit(argv[2]), QByteArray(argv[3]).toInt());
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
  TkvOscFrame Frame;
  Frame.resize(1600 + 169 + 19, 900 + 29 + 17);
  Frame.show();
  Frame.Initialize();
  QElapsedTimer T;
  T.start();
  Frame.LoadComtradeFile(Base + ".dat");
  const qint64 LoadNs = T.nsecsElapsed();

  // The caches again on their own, for their share of the load.
  int64_t CacheBytes = 0;
  std::vector<TOscStripCache> Caches(Frame.Drawers().size());
  std::vector<TOscStripCache *> Analog, Digital;
  for (size_t i = 0; i < Caches.size(); ++i)
    (Frame.Drawers()[i]->IsAnalog() ? Analog : Digital).push_back(&Caches[i]);
  T.restart();
  TOscStripCache::BuildAll(Frame.Data(), Analog, Digital);
  const qint64 CacheNs = T.nsecsElapsed();
  for (const TOscStripCache &C : Caches)
    CacheBytes += C.Bytes();
  const int64_t SampleBytes = Frame.Data().AllocatedCells() * 4 + int64_t(Frame.Data().SampleCount()) * 8;

  TOscView &V = Frame.View();
  T.restart();
  Frame.PaintBoxPaint();
  const qint64 FirstPaintNs = T.nsecsElapsed();
  std::printf("plot %dx%d, %d samples, %zu channels\n", Frame.PaintBox->width(), Frame.PaintBox->height(),
              V.SampleCount(), Frame.Drawers().size());
  std::printf("load %.1f ms (cache build %.1f ms), first paint %.2f ms\n", Ms(LoadNs), Ms(CacheNs),
              Ms(FirstPaintNs));
  std::printf("cache %.1f MB, samples %.1f MB\n", CacheBytes / 1048576.0, SampleBytes / 1048576.0);

  double Worst = 0;
  for (bool Single : {false, true}) {
    Frame.cbSingleAxis->setChecked(Single);
    std::printf("%s\n%12s %8s %8s %8s %8s %8s %8s\n", Single ? "one axis" : "strips apart", "px/sample",
                "start", "worst", "middle", "worst", "end", "worst");
    for (double Scale = V.FitScale;; Scale = std::min(Scale * 2, 1024.0)) {
      V.TimeScale = Scale;
      Frame.Rebuild();
      std::printf("%12.5f", Scale);
      for (int Where : {0, 1, 2}) {
        V.SetScroll(Where == 0 ? 0 : Where == 1 ? V.MaxScroll() / 2 : V.MaxScroll());
        std::vector<double> Times;
        for (int k = 0; k < 5; ++k) {
          QElapsedTimer R;
          R.start();
          Frame.PaintBoxPaint();
          Times.push_back(Ms(R.nsecsElapsed()));
        }
        std::sort(Times.begin(), Times.end());
        std::printf(" %8.2f %8.2f", Times[2], Times.back());
        Worst = std::max(Worst, Times.back());
      }
      std::printf("\n");
      if (Scale >= 1024.0)
        break;
    }
  }
  std::printf("worst redraw %.2f ms; peak RSS %.1f MB\n", Worst, StatusKb("VmHWM:") / 1024.0);
  return 0;
}
