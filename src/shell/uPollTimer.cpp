#include "uPollTimer.h"

#include <limits>

TTimerAction DecideTimerAction(const TTimerInputs &In) {
  if (In.IsDestroying || !In.Poll || In.AutoPoll == apNever || In.LinkBusy)
    return TTimerAction::None;
  if (!In.IsReady)
    return TTimerAction::Identify;
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
