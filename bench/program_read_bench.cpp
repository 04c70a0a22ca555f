// The device descriptor and the event journal read as the engineer reads them:
// the main window (offscreen) against the demo terminal served in-process over
// Modbus TCP 127.0.0.1, the descriptor by "Опрос", the journal by "Обновить"
// on its page. Each read is timed from its status text to the progress bar
// going away and divided by the file frames the device answered meanwhile.
// Beside it the same frames through transfer_bench's road (chain, front,
// worker; no window). Rounds alternate; min / median / max a frame, the ratio
// of the medians (target 2 or less), then the same with the whole process
// (window, worker, the simulated device's thread) on one core.
//
//   program_read_bench [shots FOLDER]   also saves the window mid-journal and
//                                       after it as PNGs in FOLDER
#include "uBenchKit.h"
#include "uBenchRoad.h"
#include "uDemoSession.h"
#include "uEventFrame.h"

#include <QApplication>
#include <QEventLoop>
#include <QAction>
#include <QProgressBar>
#include <QStatusBar>
#include <QTimer>
#include <cstdio>

namespace {

constexpr int Rounds = 15;
constexpr uint8_t JournalFileNo = 128, DescriptorFileType = 1, RingFileType = 3;
constexpr int JournalRecords = 256;

// Times the window's reads: from the status text that opens a read to the
// progress bar's hiding at its end.
class TReadClock : public QObject {
public:
  explicit TReadClock(TMainForm &Form) {
    FClock.start();
    Form.ProgressBar->installEventFilter(this);
    connect(Form.StatusBar_, &QStatusBar::messageChanged, this, [this](const QString &Text) {
      if (Text == FOpening && FStart < 0)
        FStart = FClock.nsecsElapsed();
    });
  }
  // Starts a read by Command and sleeps in an event loop, as the program's
  // main thread does, until the bar goes (at most 60 s).
  void Run(const QString &Opening, QAction *Command) {
    FOpening = Opening;
    FStart = FEnd = -1;
    QTimer deadline;
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, &FLoop, &QEventLoop::quit);
    deadline.start(60000);
    Command->trigger();
    if (FEnd < 0)
      FLoop.exec();
  }
  // Seconds of the read, or -1 when it was not seen whole.
  double Seconds() const { return FStart >= 0 && FEnd > FStart ? double(FEnd - FStart) / 1e9 : -1.0; }

  bool eventFilter(QObject *, QEvent *Event) override {
    if (Event->type() == QEvent::Hide && FStart >= 0 && FEnd < 0) {
      FEnd = FClock.nsecsElapsed();
      FLoop.quit();
    }
    return false;
  }

private:
  QElapsedTimer FClock;
  QEventLoop FLoop;
  QString FOpening;
  qint64 FStart = -1, FEnd = -1;
};

// File frames of FileNo the device answered since its logs were cleared.
int FramesRead(const TSimDevice &Device, uint8_t FileNo) {
  int n = 0;
  for (const QByteArray &pdu : Device.RequestLog())
    n += pdu.size() == 4 && uint8_t(pdu[0]) == FN_READ_FILE_FRAME && uint8_t(pdu[1]) == FileNo;
  return n;
}

struct TFigures {
  std::vector<double> Window, Road; // seconds a frame of the file
  // Requests the device answered during one read: the window's "Опрос" reads
  // more than the descriptor (registers, the FLASH head, the first values).
  int Frames = 0, WindowRequests = 0, RoadRequests = 0;
};

void Print(const char *What, const TFigures &F) {
  const bench::TSpread w = bench::Spread(F.Window), r = bench::Spread(F.Road);
  std::printf("    %-10s %3d frames  window %s ms a frame   road %s ms a frame   ratio %.2f\n", What, F.Frames,
              bench::Text(w, 1e3).c_str(), bench::Text(r, 1e3).c_str(), w.Median / r.Median);
  // The same time a request: the window's read against the road's, each over
  // the requests it sent.
  const double perWindow = w.Median * F.Frames / F.WindowRequests, perRoad = r.Median * F.Frames / F.RoadRequests;
  std::printf("    %-10s %3d / %3d requests (window / road): %.3f / %.3f ms a request, ratio %.2f (target 2 or less)\n",
              "", F.WindowRequests, F.RoadRequests, 1e3 * perWindow, 1e3 * perRoad, perWindow / perRoad);
}

int Measure(const QString &Shots) {
  TDemoSession s;
  if (!s.Start()) {
    std::fprintf(stderr, "the main window did not start\n");
    return 1;
  }
  s.Form->resize(1000, 680);
  s.Form->show();
  if (s.Identify() != "Готово") {
    std::fprintf(stderr, "identification ended with: %s\n", qPrintable(s.Status()));
    return 1;
  }
  TReadClock clock(*s.Form);
  bench::TRoad road(s.Dir.path(), true, {}, s.Server->TcpPort(), 0, s.Device.Address());
  const uint16_t recordBytes = s.Form->EventFrame->RecordLength();
  s.Form->PageControl->setCurrentWidget(s.Form->TabSheetEvent);

  // A descriptor met before is taken from the work folder's cache after its
  // first frame: every read here is a first meeting.
  auto forgetDescriptor = [&] { QDir(s.Dir.filePath("cache")).removeRecursively(); };
  // The command is on once the window has seen the link idle (its action
  // states follow with the idle timer).
  auto windowRead = [&](const char *Opening, uint8_t FileNo, QAction *Command, TFigures &Out) {
    if (!QTest::qWaitFor([Command] { return Command->isEnabled(); }, 10000))
      return false;
    s.Device.ClearLogs();
    forgetDescriptor();
    clock.Run(QString::fromUtf8(Opening), Command);
    if (!s.WaitIdle() || clock.Seconds() < 0 || s.Status() != "Готово") {
      std::fprintf(stderr, "%s: %s, %s\n", Opening, clock.Seconds() < 0 ? "not timed" : "timed",
                   qPrintable(s.Status()));
      return false;
    }
    Out.Frames = FramesRead(s.Device, FileNo);
    Out.WindowRequests = int(s.Device.RequestLog().size());
    Out.Window.push_back(clock.Seconds() / Out.Frames);
    return Out.Frames > 0;
  };
  auto roadRead = [&](uint8_t FileNo, TIOChainList3 &Chain, TFigures &Out) {
    s.Device.ClearLogs();
    forgetDescriptor();
    const double t = road.Run(Chain);
    if (t < 0 || FramesRead(s.Device, FileNo) != Out.Frames) {
      std::fprintf(stderr, "the road read %d frames of file %d, the window %d\n", FramesRead(s.Device, FileNo),
                   FileNo, Out.Frames);
      return false;
    }
    Out.Road.push_back(t / Out.Frames);
    Out.RoadRequests = int(s.Device.RequestLog().size());
    return true;
  };
  TFigures desc, journal;
  for (int r = 0; r < Rounds; ++r) {
    bool ok = windowRead("Чтение дескриптора", FILE_DESCRIPTOR, s.Form->aMonitorPoll, desc) &&
              roadRead(FILE_DESCRIPTOR,
                       road.New().setFrameSize(DESCRIPTOR_FRAME_BYTES).readFile(FILE_DESCRIPTOR, DescriptorFileType,
                                                                                 s.Dir.filePath("desc.bin")),
                       desc);
    ok = ok && windowRead("Чтение событий", JournalFileNo, s.Form->aMonitorRefresh, journal) &&
         roadRead(JournalFileNo,
                  road.New()
                      .setFrameSize(recordBytes)
                      .execNext([](TIOChain3 *Next,
                                   const QList<int> &) { CastIOChain3readFile(Next)->setFrameLimit(JournalRecords); },
                                {})
                      .readFile(JournalFileNo, RingFileType, s.Dir.filePath("events.bin")),
                  journal);
    if (!ok) {
      std::fprintf(stderr, "round %d failed: %s\n", r, qPrintable(s.Status()));
      return 1;
    }
  }
  std::printf("%s\n", bench::Machine().c_str());
  Print("descriptor", desc);
  Print("journal", journal);

  if (!Shots.isEmpty()) {
    // The bar half-way through a journal read (answers 5 ms late, so that a
    // person would see it), then the page after it.
    TSimFault late;
    late.Kind = TSimFaultKind::LateAnswer;
    late.Value = 5;
    late.Function = FN_READ_FILE_FRAME;
    s.Device.SetFault(late);
    QString saved;
    auto conn = QObject::connect(s.Form->ProgressBar, &QProgressBar::valueChanged, s.Form.get(), [&](int Value) {
      if (saved.isEmpty() && Value * 2 >= s.Form->ProgressBar->maximum()) {
        saved = Shots + "/progress-mid.png";
        QTimer::singleShot(0, s.Form.get(), [&] { s.Form->grab().save(saved); });
      }
    });
    s.Form->aMonitorRefresh->trigger();
    s.WaitIdle();
    QObject::disconnect(conn);
    s.Device.SetFault(TSimFault());
    QTest::qWait(300); // the last repaints, for a person to look at
    s.Form->grab().save(Shots + "/progress-after.png");
    std::printf("saved %s and %s/progress-after.png\n", qPrintable(saved), qPrintable(Shots));
  }
  return 0;
}

} // namespace

int main(int argc, char **argv) {
  QApplication app(argc, argv);
  const QStringList args = app.arguments();
  const bool oneCore = args.size() > 1 && args[1] == "one-core";
  const QString shots = args.size() > 2 && args[1] == "shots" ? args[2] : QString();
  if (!oneCore)
    std::printf("descriptor and journal read in the window against the road, over Modbus TCP 127.0.0.1, "
                "%d rounds, min / median / max\n",
                Rounds);
  if (const int rc = Measure(shots); rc != 0 || oneCore)
    return rc;
  return bench::RunOnOneCore(argv[0], {"one-core"});
}
