#pragma once
// Small helpers shared by the tests that talk to the worker through the event loop.
#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>
#include <initializer_list>

// Runs the event loop until Done() holds; false when the deadline passes first.
template <typename F> bool WaitFor(F Done, int Ms = 30000) {
  QDeadlineTimer deadline(Ms);
  while (!Done()) {
    if (deadline.hasExpired())
      return false;
    // Sleeps until an event comes or a millisecond passes, instead of
    // spinning: a spinning test takes a core from the threads it waits for.
    QTimer::singleShot(1, QCoreApplication::instance(), [] {});
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  return true;
}

inline QByteArray Bytes(std::initializer_list<int> List) {
  QByteArray out;
  for (int b : List)
    out.append(char(b));
  return out;
}
