#include "uCloseRules.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <csignal>
#include <gtest/gtest.h>

namespace {
using TStep = TCloseRules::TStep;

// One event of a close's life: the program's close asked (by the engineer
// or a signal, with the write running then and a modal box open or not), a
// write's end (whole or short) or "Отменить закрытие".
struct TEvent {
  enum { Exit, Signal, End, Cancel } Kind;
  uint64_t Write = 0; // the running write (Exit, Signal) or the one ended (End)
  bool Flag = false;  // a modal box open (Exit, Signal); the write ended short (End)
};
TEvent Exit(uint64_t Write = 0, bool Modal = false) { return {TEvent::Exit, Write, Modal}; }
TEvent Signal(uint64_t Write = 0, bool Modal = false) { return {TEvent::Signal, Write, Modal}; }
TEvent Whole(uint64_t Write) { return {TEvent::End, Write, false}; }
TEvent Short(uint64_t Write) { return {TEvent::End, Write, true}; }
TEvent Cancel() { return {TEvent::Cancel}; }

TStep Apply(TCloseRules &R, const TEvent &E) {
  switch (E.Kind) {
  case TEvent::Exit:
    return R.Close(E.Write, E.Flag);
  case TEvent::Signal:
    R.SignalCame();
    return R.Close(E.Write, E.Flag);
  case TEvent::End:
    return R.WriteEnded(E.Write, E.Flag).Program;
  case TEvent::Cancel:
    return R.Cancel() ? TStep::Cancelled : TStep::None;
  }
  return TStep::None;
}
} // namespace

// State (reached by the events before the last) × the last event → what the
// window does, and what the close waits for afterwards.
TEST(CloseRules, StateAndEventDecideTheStep) {
  const struct {
    const char *Name;
    std::vector<TEvent> Before;
    TEvent Event;
    TStep Step;
    uint64_t WaitsAfter;
    bool SignalAfter;
  } rows[] = {
      {"idle: Выход asks", {}, Exit(), TStep::Ask, 0, false},
      {"idle: a signal closes without questions", {}, Signal(), TStep::Close, 0, true},
      {"idle: a modal box goes first", {}, Exit(0, true), TStep::RejectModal, 0, false},
      {"idle: a signal rejects a modal box too", {}, Signal(0, true), TStep::RejectModal, 0, true},
      {"idle: a write runs, Выход waits", {}, Exit(7), TStep::Wait, 7, false},
      {"idle: a write runs, a signal waits", {}, Signal(7), TStep::Wait, 7, true},
      {"waiting: Выход again brings the box forward", {Exit(7)}, Exit(7), TStep::WaitMore, 7, false},
      {"waiting: a signal makes the close a signal's", {Exit(7)}, Signal(7), TStep::WaitMore, 7, true},
      {"waiting: the write ends whole, the close goes on", {Exit(7)}, Whole(7), TStep::Resume, 0, false},
      {"waiting: the write ends short, Выход is given up", {Exit(7)}, Short(7), TStep::Cancelled, 0, false},
      {"waiting: the write ends short, a signal goes on", {Signal(7)}, Short(7), TStep::Resume, 0, true},
      {"waiting: Выход then a signal, short end goes on", {Exit(7), Signal(7)}, Short(7), TStep::Resume, 0, true},
      {"waiting: an earlier write's late end changes nothing", {Exit(8)}, Short(7), TStep::None, 8, false},
      {"waiting: Отменить закрытие", {Exit(7)}, Cancel(), TStep::Cancelled, 0, false},
      {"waiting for a signal: Отменить закрытие", {Signal(7)}, Cancel(), TStep::Cancelled, 0, false},
      {"idle: Отменить закрытие has nothing to give up", {}, Cancel(), TStep::None, 0, false},
      {"resumed: no write now, the questions", {Exit(7), Whole(7)}, Exit(), TStep::Ask, 0, false},
      {"resumed after a signal: closes", {Signal(7), Short(7)}, Exit(), TStep::Close, 0, true},
      {"resumed: a new write runs, the close waits for it", {Exit(7), Whole(7)}, Exit(9), TStep::Wait, 9, false},
      {"given up: the next Выход closes as usual", {Exit(7), Short(7)}, Exit(), TStep::Ask, 0, false},
      {"given up: the ended write's end told again changes nothing", {Exit(7), Short(7)}, Short(7), TStep::None, 0,
       false},
      {"given up: a later close waits for the next write", {Exit(7), Short(7)}, Exit(9), TStep::Wait, 9, false},
      {"later close: the given-up write's end does not give it up", {Exit(7), Short(7), Exit(9)}, Short(7),
       TStep::None, 9, false},
      {"cancelled: a signal's close is the engineer's no more", {Signal(7), Cancel()}, Exit(), TStep::Ask, 0, false},
  };
  for (const auto &r : rows) {
    TCloseRules rules;
    for (const TEvent &e : r.Before)
      Apply(rules, e);
    EXPECT_EQ(Apply(rules, r.Event), r.Step) << r.Name;
    EXPECT_EQ(rules.ProgramWaitsFor(), r.WaitsAfter) << r.Name;
    EXPECT_EQ(rules.IsSignalClose(), r.SignalAfter) << r.Name;
  }
}

// Tabs wait for their own write: a whole end lets them go, a short one keeps
// them open; another write's end leaves them waiting.
TEST(CloseRules, TabsGoAfterTheirWriteUnlessItEndedShort) {
  int a = 0, b = 0, c = 0;
  TCloseRules rules;
  EXPECT_FALSE(rules.TabClose(&a, 0)) << "no write of its own: the tab closes now";
  EXPECT_TRUE(rules.TabClose(&a, 5));
  EXPECT_TRUE(rules.TabClose(&b, 5));
  EXPECT_TRUE(rules.TabClose(&c, 6));
  EXPECT_TRUE(rules.TabClose(&a, 5)) << "asked again: still one wait";
  EXPECT_EQ(rules.Close(5, false), TStep::Wait);

  TCloseRules::TWriteEnd end = rules.WriteEnded(4, true);
  EXPECT_EQ(end.Program, TStep::None);
  EXPECT_TRUE(end.TabsGo.isEmpty() && end.TabsStay.isEmpty());

  end = rules.WriteEnded(5, true);
  EXPECT_EQ(end.Program, TStep::Cancelled);
  EXPECT_TRUE(end.TabsGo.isEmpty());
  EXPECT_EQ(end.TabsStay, (QList<const void *>{&a, &b}));
  EXPECT_TRUE(rules.IsWaiting()) << "the third tab waits for its write";

  rules.Forget(&c);
  EXPECT_FALSE(rules.IsWaiting());
  EXPECT_TRUE(rules.TabClose(&c, 6));
  end = rules.WriteEnded(6, false);
  EXPECT_EQ(end.TabsGo, QList<const void *>{&c});
  EXPECT_FALSE(rules.IsWaiting());
}

TEST(CloseRules, LinesSayHowTheWriteEndedAndWhatWasDropped) {
  EXPECT_EQ(TCloseRules::UnsavedName("Функциональные панели", "/w/deviceFrame.xml"),
            "Функциональные панели (/w/deviceFrame.xml)");
  EXPECT_EQ(TCloseRules::UnsavedName("Внешняя логика", ""), "Внешняя логика");
  EXPECT_EQ(TCloseRules::WriteEndText("Наименование присоединения", ""),
            "Запись завершена: Наименование присоединения");
  EXPECT_EQ(TCloseRules::WriteEndText("Наименование присоединения", "Прервано"),
            "Запись не завершена: Наименование присоединения: Прервано");
}

// SIGTERM and SIGINT become calls on the event loop, each one; the handlers
// that were there come back when the catcher goes.
TEST(CloseRules, EndSignalsReachTheEventLoopOnce) {
  int argc = 1;
  char arg0[] = "shell_test";
  char *argv[] = {arg0, nullptr};
  std::unique_ptr<QCoreApplication> app;
  if (!QCoreApplication::instance())
    app = std::make_unique<QCoreApplication>(argc, argv);
  struct sigaction before {};
  ::sigaction(SIGTERM, nullptr, &before);
  int calls = 0;
  {
    TEndSignals catcher([&] { ++calls; });
    ASSERT_TRUE(catcher.IsInstalled());
    TEndSignals second([] {});
    EXPECT_FALSE(second.IsInstalled()) << "one catcher at a time";
    ::raise(SIGTERM);
    ::raise(SIGINT);
    EXPECT_EQ(calls, 0) << "never inside the handler";
    const QDeadlineTimer deadline(10000);
    while (calls < 2 && !deadline.hasExpired())
      QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_EQ(calls, 2);
  }
  struct sigaction after {};
  ::sigaction(SIGTERM, nullptr, &after);
  EXPECT_EQ(after.sa_handler, before.sa_handler);
}
