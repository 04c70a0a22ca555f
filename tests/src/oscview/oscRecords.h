#pragma once
// Records the oscillogram viewer's tests load, written by our COMTRADE writer,
// and a set-up dialog that answers at once with every channel checked.
#include "uOscFrame.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>
#include <memory>
#include <vector>

// A pair of one analog and one discrete channel, Raw the analog samples.
inline void WritePair(const QString &Base, const std::vector<int> &Raw) {
  TComtradeConfig C;
  TComtradeConfigTool T;
  T.SetConfig(&C);
  TComtradeAnalogChannel A;
  A.Id = "Ia", A.A = 1, A.Min = -100, A.Max = 100;
  T.AddAnalogChannel(A);
  TComtradeDigitalChannel D;
  D.Id = "Trip";
  T.AddDigitalChannel(D);
  T.SetRateCount(1);
  T.SetRateSamples(0, 1000);
  T.SetRateEndSample(0, int(Raw.size()) - 1);
  TComtradeData Data;
  Data.SetConfig(&C);
  TComtradeDataTool DT;
  DT.SetData(&Data);
  for (size_t s = 0; s < Raw.size(); ++s) {
    DT.AddSampleNumber(int(s) + 1);
    DT.AddTimeStamp(int(s) * 1000);
    DT.AddRaw(Raw[s]);
    DT.AddDigital(s >= Raw.size() / 2);
  }
  C.SaveToFile(Base + ".cfg");
  Data.SaveToFile(Base + ".dat");
}

struct TOpener {
  TOpener() {
    Saved = TkvOscFrame::SetupOpener;
    TkvOscFrame::SetupOpener = [this](TkvOscFrame &F) {
      ++Calls;
      for (TOscDrawer *D : F.Drawers())
        D->SetChecked(true);
      return true;
    };
  }
  ~TOpener() { TkvOscFrame::SetupOpener = Saved; }
  std::function<bool(TkvOscFrame &)> Saved;
  int Calls = 0;
};

// Drives the next modal dialog of class Form once it shows: Act presses its
// own buttons. Polls the event loop; a dialog that never comes is a failure.
template <class Form> void WhenModal(std::function<void(Form &)> Act) {
  auto *Timer = new QTimer;
  auto Since = std::make_shared<QElapsedTimer>();
  Since->start();
  QObject::connect(Timer, &QTimer::timeout, [Timer, Since, Act] {
    Form *Dialog = qobject_cast<Form *>(QApplication::activeModalWidget());
    if (!Dialog && Since->elapsed() < 20000)
      return;
    Timer->stop();
    Timer->deleteLater();
    if (Dialog)
      Act(*Dialog);
    else
      ADD_FAILURE() << "no modal " << Form::staticMetaObject.className();
  });
  Timer->start(5);
}

// A frame of Width x Height (shown when Show) with Dat loaded.
struct TFrameOf {
  explicit TFrameOf(const QString &Dat, int Width = 800, int Height = 500, bool Show = true) {
    F.resize(Width, Height);
    if (Show)
      F.show();
    F.Initialize();
    F.LoadComtradeFile(Dat);
  }
  TOpener Opener;
  TkvOscFrame F;
};

// Three sine channels U0..U2 (peaks 100, 50, 80; phases 0, -120, 120 degrees
// unless given: U1 lags U0, a positive-sequence set) at 1800 samples per
// second and 50 Hz: 36 samples and 10 degrees per sample.
inline void WriteThreePhase(const QString &Base, std::array<double, 3> Phases = {0, -120, 120}) {
  TComtradeConfig C;
  TComtradeConfigTool T;
  T.SetConfig(&C);
  const double Peaks[3] = {100, 50, 80};
  for (int i = 0; i < 3; ++i) {
    TComtradeAnalogChannel A;
    A.Id = QStringLiteral("U%1").arg(i), A.A = 1, A.Min = -100, A.Max = 100;
    T.AddAnalogChannel(A);
  }
  T.SetRateCount(1);
  T.SetRateSamples(0, 1800);
  T.SetRateEndSample(0, 1799);
  TComtradeData Data;
  Data.SetConfig(&C);
  TComtradeDataTool DT;
  DT.SetData(&Data);
  for (int s = 0; s < 1800; ++s) {
    DT.AddSampleNumber(s + 1);
    DT.AddTimeStamp(int(std::lround(s * 1e6 / 1800)));
    for (int i = 0; i < 3; ++i)
      DT.AddRaw(int(std::lround(Peaks[i] * std::sin(2 * M_PI * 50 * s / 1800 + Phases[i] * M_PI / 180 + 0.01))));
  }
  C.SaveToFile(Base + ".cfg");
  Data.SaveToFile(Base + ".dat");
}
