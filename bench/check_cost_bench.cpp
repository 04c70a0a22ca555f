// What the identity checks cost the engineer's reads and writes: the main
// window against the demo terminal of devsim over Modbus TCP and over a
// pseudo-terminal at 115200, 38400 and 9600 baud (devsim paces its answers at
// the rate), with the custom logic read at identification (custom=0: the
// identity may hold the FLASH header) and not read (custom=-1). For each:
// "Обновить" on the setpoints page with the check before it, a one-setpoint
// write typed into the page (the password asked once, the write's check and
// read-back included, until the link is idle), and the check alone. Prints
// milliseconds, min / median / max of the runs, and the goals' verdicts.
//
// Only what the window offered before the checks were last changed is used,
// so that the same source builds against an earlier commit for comparison
// (check_cost_previous.sh). --table adds one tab-separated line per figure.
// Exits non-zero when a setting measured nothing.
#include "uBenchKit.h"
#include "uDemoSession.h"
#include "uIdentification.h"
#include "uMessageSink.h"
#include "uPasswdForm.h"
#include "uStringGrid.h"
#include "uStringGridEditor.h"
#include "uUstavFrame.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <string>

namespace {
// Runs of each figure: a figure over TCP is a few ms, and the machine's other
// work moves it most.
constexpr int SerialRuns = 7, TcpRuns = 15;
const char *const Setpoint = "Выдержка времени МТЗ-1";
constexpr int SetpointReg = 101;
const char *const Password = "1234";

// One link setting: Baud 0 is Modbus TCP.
struct TSetting {
  const char *Name;
  int Baud;
};
constexpr TSetting Settings[] = {{"TCP", 0}, {"115200", 115200}, {"38400", 38400}, {"9600", 9600}};

struct TFigures {
  bench::TSpread Refresh, Write, Check;
  size_t CheckRequests = 0; // the requests of one check alone
};

// Every chain has ended and the link is idle (within 30 s). The window's
// thread is never put to sleep meanwhile (as QTest's wait would, 10 ms at a
// time): a step it runs goes on at once, and the end is seen within 1 ms.
bool WaitIdle(TDemoSession &S) {
  const auto idle = [&S] { return S.Form->IOChain()->ChainCount() == 0 && !S.Form->IsLinkBusy(); };
  if (idle())
    return true;
  QEventLoop loop;
  QTimer look, deadline;
  QObject::connect(&look, &QTimer::timeout, &loop, [&] {
    if (idle())
      loop.quit();
  });
  QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
  look.setTimerType(Qt::PreciseTimer);
  look.start(1);
  deadline.setSingleShot(true);
  deadline.start(30000);
  loop.exec();
  return idle();
}

// Ms of Fn, run Runs times, each run waiting for the link to be idle again;
// false when a run did not end.
template <typename F> bool Time(TDemoSession &S, int Runs, bench::TSpread &Out, F &&Fn) {
  std::vector<double> ms;
  for (int i = 0; i < Runs; ++i) {
    QElapsedTimer t;
    t.start();
    Fn(i);
    if (!WaitIdle(S)) {
      std::printf("  (a run did not end within 30 s)\n");
      return false;
    }
    ms.push_back(double(t.nsecsElapsed()) / 1e6);
  }
  Out = bench::Spread(ms);
  return true;
}

int RowOf(TUstavFrame *F, const QString &Name) {
  for (int r = 1; r < F->sgUstav->rowCount(); ++r)
    if (F->sgUstav->Cells(1, r) == Name)
      return r;
  return -1;
}

// Types Text into the setpoint's group 1 cell and presses Enter: the page
// writes it at once (ustav/directEdit=1). False when no editor opened.
bool TypeSetpoint(TUstavFrame *F, const QString &Text) {
  F->sgUstav->setCurrentCell(RowOf(F, QString::fromUtf8(Setpoint)), 2);
  F->Editor()->StartEdit();
  if (!F->Editor()->Edit->isVisible())
    return false;
  F->Editor()->Edit->setText(Text);
  QTest::keyClick(F->Editor()->Edit, Qt::Key_Return);
  return true;
}

// Identified at the setting, the three figures; nothing when a figure could
// not be measured (the reason printed).
std::optional<TFigures> Measure(TDemoSession &S, const TSetting &Setting) {
  // A first poll on a port just reopened may meet what the line held before.
  QString status;
  for (int i = 0; i < 2 && status != "Готово"; ++i)
    status = S.Identify();
  if (status != "Готово") {
    std::printf("  %-6s not identified (%s)\n", Setting.Name, qPrintable(status));
    return std::nullopt;
  }
  S.Form->PageControl->setCurrentWidget(S.Form->TabSheetUstav);
  TUstavFrame *page = S.Form->UstavFrame;
  const int runs = Setting.Baud == 0 ? TcpRuns : SerialRuns;
  TFigures f;
  if (!Time(S, runs, f.Refresh, [&S](int) { S.Form->aMonitorRefresh->trigger(); }))
    return std::nullopt;

  std::vector<size_t> requests;
  if (!Time(S, runs, f.Check, [&S, &requests](int i) {
        if (i > 0)
          requests.push_back(S.Device.RequestLog().size());
        S.Device.ClearLogs();
        S.Form->Identification()->CheckIdentity();
      }))
    return std::nullopt;
  requests.push_back(S.Device.RequestLog().size());
  f.CheckRequests = *std::min_element(requests.begin(), requests.end());
  if (f.CheckRequests == 0) {
    std::printf("  %-6s the check alone sent nothing\n", Setting.Name);
    return std::nullopt;
  }

  // The first write asks for the password (its own reads): not timed.
  const auto value = [](int I) { return QString::number(600 + 10 * (I % 2)); };
  if (!TypeSetpoint(page, value(1)) || !WaitIdle(S)) {
    std::printf("  %-6s the setpoint could not be typed\n", Setting.Name);
    return std::nullopt;
  }
  bool typed = true;
  if (!Time(S, runs, f.Write, [&](int i) { typed = TypeSetpoint(page, value(i)) && typed; }))
    return std::nullopt;
  const int held = S.Device.Register(TSimArea::Holding, SetpointReg);
  if (!typed || held != value(runs - 1).toInt()) {
    std::printf("  %-6s the write did not reach the relay (it holds %d)\n", Setting.Name, held);
    return std::nullopt;
  }
  return f;
}

std::string Ms(const bench::TSpread &S) { return bench::Text(S, 1, 0); }

// The offscreen platform's word on every window shown says nothing here.
QtMessageHandler Said = nullptr;
void Quieter(QtMsgType Type, const QMessageLogContext &Context, const QString &Text) {
  if (!Text.contains("propagateSizeHints") && Said)
    Said(Type, Context, Text);
}
} // namespace

int main(int argc, char **argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  Said = qInstallMessageHandler(Quieter);
  const bool table = argc > 1 && std::strcmp(argv[1], "--table") == 0;
  // Boxes are said, not shown: a modal box would stop the runs.
  QStringList boxes;
  SetMessageSink([&boxes](TMsgKind, const QString &Text) {
    boxes << Text;
    return TMsgResult::Ok;
  });

  std::printf("check cost: %s; ms, min / median / max of %d runs (%d over TCP)\n", bench::Machine().c_str(),
              SerialRuns, TcpRuns);
  constexpr int Customs[] = {0, -1};
  // [custom][setting name]
  std::map<int, std::map<std::string, TFigures>> all;
  bool missing = false;
  for (const int custom : Customs) {
    std::printf("custom=%d\n", custom);
    for (const bool tcp : {true, false}) {
      TDemoSession S;
      S.Serve(!tcp);
      QString link;
      if (tcp) {
        link = QString("protocol=modbustcp\n[modbustcp]\nhost=127.0.0.1\nport=%1\n[com]\nTimeout=5000\n")
                   .arg(S.Server->TcpPort());
      } else {
        RegWriteString("", KV_REG_COM_PORT, S.Server->PtyPath());
        link = "protocol=modbus\n[com]\nTimeout=500\nbaudratelist=115200,38400,9600\n";
      }
      const QString ini = QString("[setup]\ncustom=%1\npasswdExpirationPeriod=600\n").arg(custom) + link +
                          "[ustav]\ndirectEdit=1\n[device]\npollPause=1000\n[timer]\ninterval=3600000\n"
                          "[debug]\npoll=0\n";
      if (!S.Open(ini)) {
        std::printf("  the window did not start\n");
        missing = true;
        continue;
      }
      S.Form->show();
      // The password box, whenever a write asks for it.
      QTimer typist;
      QObject::connect(&typist, &QTimer::timeout, [&S] {
        TPasswdForm *dlg = S.Form->Forms().PasswdForm;
        if (dlg->isVisible() && !dlg->IsOkPending()) {
          dlg->Edit->setText(Password);
          dlg->BitBtn1->click();
        }
      });
      typist.start(20);
      for (const TSetting &setting : Settings) {
        if ((setting.Baud == 0) != tcp)
          continue;
        if (!tcp) {
          for (QAction *a : S.Form->NBaudrate->actions())
            if (a->text() == QString::number(setting.Baud))
              a->trigger();
          S.Server->SetBaud(setting.Baud);
        }
        const std::optional<TFigures> f = Measure(S, setting);
        if (!f) {
          missing = true;
          continue;
        }
        all[custom][setting.Name] = *f;
        std::printf("  %-6s \"Обновить\" %s | write %s | check alone %s (requests: %zu)\n", setting.Name,
                    Ms(f->Refresh).c_str(), Ms(f->Write).c_str(), Ms(f->Check).c_str(), f->CheckRequests);
        if (table)
          for (const auto &[what, s] : {std::pair{"refresh", f->Refresh}, {"write", f->Write}, {"check", f->Check}})
            std::printf("fig\t%s\t%d\t%s\t%.1f\t%.1f\t%.1f\n", setting.Name, custom, what, s.Min, s.Median, s.Max);
      }
    }
  }

  // The goals, on the medians.
  std::printf("goals (medians):\n");
  const auto verdict = [](bool Met) { return Met ? "met" : "NOT MET"; };
  for (const int custom : Customs) {
    const std::map<std::string, TFigures> &figs = all[custom];
    const auto at = [&figs](const char *Name) { return figs.count(Name) ? &figs.at(Name) : nullptr; };
    const TFigures *fast = at("115200"), *mid = at("38400"), *slow = at("9600");
    if (fast && mid) {
      std::printf("  custom=%d: \"Обновить\" at 115200 no slower than at 38400: %.0f vs %.0f ms, %s\n", custom,
                  fast->Refresh.Median, mid->Refresh.Median, verdict(fast->Refresh.Median <= mid->Refresh.Median));
      std::printf("  custom=%d: one-setpoint write at 115200 no slower than at 38400: %.0f vs %.0f ms, %s\n", custom,
                  fast->Write.Median, mid->Write.Median, verdict(fast->Write.Median <= mid->Write.Median));
    }
    if (mid)
      std::printf("  custom=%d: the check at 38400 at most 300 ms: %.0f ms, %s\n", custom, mid->Check.Median,
                  verdict(mid->Check.Median <= 300));
    if (slow)
      std::printf("  custom=%d: the check at 9600 at most 600 ms: %.0f ms, %s\n", custom, slow->Check.Median,
                  verdict(slow->Check.Median <= 600));
  }
  if (!boxes.isEmpty())
    std::printf("boxes said: %s\n", qPrintable(boxes.join(" | ")));
  if (missing)
    std::printf("a setting measured nothing\n");
  return missing ? 1 : 0;
}
