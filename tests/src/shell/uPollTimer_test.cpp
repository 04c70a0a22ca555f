#include "uPollTimer.h"

#include <gtest/gtest.h>

TEST(PollTimer, DecisionFollowsPollAutoPollIdleAndReady) {
  using A = TTimerAction;
  struct Row {
    bool Destroying, Poll;
    uint8_t AutoPoll;
    bool Idle, Ready, Dashboard, Auto;
    A Expected;
  };
  const Row rows[] = {
      {false, true, apAlways, true, false, false, false, A::Identify},
      {false, true, apOnce, true, false, true, true, A::Identify},
      {false, true, apNever, true, false, true, true, A::None},    // never identify again
      {false, false, apAlways, true, false, true, true, A::None},  // debug/poll off
      {false, true, apAlways, false, false, true, true, A::None},  // link busy
      {true, true, apAlways, true, false, true, true, A::None},    // window going away
      {false, true, apAlways, true, true, true, true, A::RefreshDashboard},
      {false, true, apOnce, true, true, true, true, A::RefreshDashboard},
      {false, true, apAlways, true, true, false, true, A::None},   // another page shown
      {false, true, apAlways, true, true, true, false, A::None},   // "Auto" unchecked
      {false, true, apNever, true, true, true, true, A::RefreshDashboard}, // after "Прервать"
      {false, true, apNever, true, true, true, false, A::None},
      {false, true, apNever, false, true, true, true, A::None},
  };
  for (const Row &r : rows) {
    TTimerInputs in;
    in.IsDestroying = r.Destroying;
    in.Poll = r.Poll;
    in.AutoPoll = r.AutoPoll;
    in.LinkBusy = !r.Idle;
    in.IsReady = r.Ready;
    in.DashboardActive = r.Dashboard;
    in.AutoChecked = r.Auto;
    EXPECT_EQ(DecideTimerAction(in), r.Expected) << &r - rows;
  }
}

TEST(PollTimer, AfterALinkFailureOrASignOfAnotherDeviceTheIdentityCheckComesFirstWhateverTheAutoPoll) {
  using A = TTimerAction;
  const struct {
    bool Idle, Ready, Unconfirmed, Suspect, Again, Dashboard;
    A Expected;
  } rows[] = {
      {true, true, true, false, false, true, A::CheckIdentity}, // before the panel's refresh, with "never"
      {false, true, true, false, false, true, A::None},
      {true, false, false, false, true, true, A::Identify},     // another device answered the check
      {true, true, false, true, false, true, A::CheckIdentity}, // a sign: before the panel's refresh
      {true, true, false, true, false, false, A::CheckIdentity}, // whatever page is shown
      {false, true, false, true, false, true, A::None},
      {true, false, false, true, false, true, A::None},         // nothing identified to check
  };
  for (const auto &r : rows) {
    TTimerInputs in;
    in.AutoPoll = apNever;
    in.LinkBusy = !r.Idle;
    in.IsReady = r.Ready;
    in.DashboardActive = r.Dashboard;
    in.AutoChecked = true;
    in.IdentityUnconfirmed = r.Unconfirmed;
    in.IdentitySuspect = r.Suspect;
    in.IdentifyAgain = r.Again;
    EXPECT_EQ(DecideTimerAction(in), r.Expected) << &r - rows;
  }
}

TEST(PollTimer, PasswordLapsesAtTheFirstTickAtOrAfterThePeriod) {
  const QDateTime t = QDateTime(QDate(2026, 3, 1), QTime(10, 0, 0));
  const struct {
    qint64 Period;
    qint64 ElapsedMs;
    bool Valid;
  } cases[] = {
      {300, 0, true},
      {300, 299'999, true},   // 299 whole seconds
      {300, 300'000, false},
      {300, 300'001, false},
      {300, 86'400'000, false},
      {0, 0, false},          // a zero period never keeps the rights
      {300, -299'000, true},  // clock turned back a little
      {300, -301'000, false}, // clock turned back further than the period
  };
  for (const auto &c : cases)
    EXPECT_EQ(IsLoginStillValid(c.Period, t, t.addMSecs(c.ElapsedMs)), c.Valid) << c.Period << " " << c.ElapsedMs;
}

TEST(PollTimer, NonPositiveIntervalFallsBackToTwoSeconds) {
  EXPECT_EQ(EffectiveTimerIntervalMs(-100), 2000);
  EXPECT_EQ(EffectiveTimerIntervalMs(0), 2000);
  EXPECT_EQ(EffectiveTimerIntervalMs(1), 1);
  EXPECT_EQ(EffectiveTimerIntervalMs(750), 750);
  EXPECT_EQ(EffectiveTimerIntervalMs(qint64(1) << 40), 2147483647);
}
