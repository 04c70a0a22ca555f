#include "uPollTimer.h"

#include <limits>

TTimerAction DecideTimerAction(const TTimerInputs &In) {
  if (In.IsDestroying || !In.Poll || In.LinkBusy)
    return TTimerAction::None;
  // The automatic-poll state governs identification only: live values of an
  // identified device follow "Auto" after an abort, a port pick or a logic
  // project, which all set the state to 0.
  if (!In.IsReady)
    return In.AutoPoll == apNever && !In.IdentifyAgain ? TTimerAction::None : TTimerAction::Identify;
  if (In.IdentityUnconfirmed || In.IdentitySuspect)
    return TTimerAction::CheckIdentity;
  if (In.DashboardActive && In.AutoChecked)
    return TTimerAction::RefreshDashboard;
  return TTimerAction::None;
}

bool IsLoginStillValid(qint64 PeriodSeconds, const QDateTime &LoginTime, const QDateTime &Now) {
  qint64 elapsedMs = LoginTime.msecsTo(Now);
  if (elapsedMs < 0)
    elapsedMs = -elapsedMs;
  return PeriodSeconds > elapsedMs / 1000;
}

int EffectiveTimerIntervalMs(qint64 SettingMs) {
  if (SettingMs <= 0)
    return 2000;
  if (SettingMs > std::numeric_limits<int>::max())
    return std::numeric_limits<int>::max();
  return int(SettingMs);
}
