#pragma once
// What one tick of the main window's poll timer does, and when a password
// entry lapses. Kept apart from the window so the rules are checked without one.
#include <QDateTime>
#include <cstdint>

// FAutoPoll: 2 after start (identify on every idle tick until a device is
// found), 1 after the user picked a port (identify once more), 0 never. It
// decides identification only; the title panel's refresh follows "Auto".
enum : uint8_t { apNever = 0, apOnce = 1, apAlways = 2 };

struct TTimerInputs {
  bool IsDestroying = false;   // the window is going away
  bool Poll = true;            // setting debug/poll
  uint8_t AutoPoll = apAlways; // FAutoPoll
  bool LinkBusy = false;       // a chain runs or a record is outstanding
  bool IsReady = false;        // a device is identified (descriptor Ready)
  bool DashboardActive = false; // the title panel is the active page
  bool AutoChecked = false;    // "Auto" box
  // The link failed since the identified device was last checked: its
  // identity is checked before anything else, whatever the automatic poll.
  bool IdentityUnconfirmed = false;
  // An answer carried a sign that another device may answer (a reconnect, a
  // gateway's exception, a wrong answer, an unknown register): the identity
  // is checked before anything else, whatever page is shown.
  bool IdentitySuspect = false;
  // Another device answered the check: it is identified whatever the automatic poll.
  bool IdentifyAgain = false;
};

enum class TTimerAction { None, Identify, RefreshDashboard, CheckIdentity };

TTimerAction DecideTimerAction(const TTimerInputs &In);

// The entry stays valid while fewer whole seconds than PeriodSeconds have
// passed since LoginTime. A clock turned back counts its distance as elapsed
// time too, so changing the PC clock never prolongs the rights.
bool IsLoginStillValid(qint64 PeriodSeconds, const QDateTime &LoginTime, const QDateTime &Now);

// The timer interval of setting timer/interval: zero or negative falls back to
// the default 2000 ms (a timer that never fires would stop all polling).
int EffectiveTimerIntervalMs(qint64 SettingMs);
