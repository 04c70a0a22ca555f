// What the identity check costs a read the engineer asks for: "Обновить" on
// the setpoints page with the check before it and without it, the main window
// against the demo terminal of devsim over a pseudo-terminal at 38400 and 9600
// baud (devsim paces its answers at the rate). Also the check alone, and its
// share of the line while the title panel polls (one check in 10 s at most).
// Prints milliseconds, min / median / max of the runs.
#include "uBenchKit.h"
#include "uDemoSession.h"
#include "uIdentification.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QMenu>
#include <cstdio>

namespace {
constexpr int Runs = 5;

// Ms of Fn, run Runs times, each run waiting for the link to be idle again.
template <typename F> bench::TSpread Time(TDemoSession &S, F &&Fn) {
  std::vector<double> ms;
  for (int i = 0; i < Runs; ++i) {
    QElapsedTimer t;
    t.start();
    Fn();
    if (!S.WaitIdle())
      std::printf("  (a run did not end within 30 s)\n");
    ms.push_back(double(t.nsecsElapsed()) / 1e6);
  }
  return bench::Spread(ms);
}
} // namespace

int main(int argc, char **argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  TDemoSession S;
  S.Serve(true);
  RegWriteString("", KV_REG_COM_PORT, S.Server->PtyPath());
  if (!S.Open("[setup]\ncustom=0\nprotocol=modbus\n[device]\npollPause=1000\n[com]\nTimeout=500\n"
              "baudratelist=115200,38400,9600\n[timer]\ninterval=3600000\n[debug]\npoll=0\n")) {
    std::printf("the window did not start\n");
    return 1;
  }
  std::printf("read check: %s\n", bench::Machine().c_str());
  // A rate whose relay was not identified measured nothing: the bench fails.
  int unmeasured = 0;
  for (const int rate : {38400, 9600}) {
    for (QAction *a : S.Form->NBaudrate->actions())
      if (a->text() == QString::number(rate))
        a->trigger();
    S.Server->SetBaud(rate);
    if (S.Identify() != "Готово") {
      std::printf("%d baud: not identified (%s), nothing measured\n", rate, qPrintable(S.Status()));
      ++unmeasured;
      continue;
    }
    S.Form->PageControl->setCurrentWidget(S.Form->TabSheetUstav);
    const auto refresh = [&S] { S.Form->aMonitorRefresh->trigger(); };
    const bench::TSpread checked = Time(S, refresh);
    const bench::TSpread alone = Time(S, [&S] { S.Form->Identification()->CheckIdentity(); });
    S.Form->IOChain()->setReadGate({});
    const bench::TSpread plain = Time(S, refresh);
    S.Form->IOChain()->setReadGate([&S](TIOChainList3 &C) { S.Form->Identification()->GateRead(C); });
    std::printf("%5d baud: \"Обновить\" on the setpoints %s ms with the check, %s ms without; "
                "the check alone %s ms, %.1f %% of the line while the panel polls\n",
                rate, bench::Text(checked, 1, 0).c_str(), bench::Text(plain, 1, 0).c_str(),
                bench::Text(alone, 1, 0).c_str(), alone.Median / double(PollCheckMaxAgeMs) * 100.0);
  }
  return unmeasured == 0 ? 0 : 1;
}
