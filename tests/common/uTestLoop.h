#pragma once
// Small helpers shared by the tests that talk to the worker through the event loop.
#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <initializer_list>

// Runs the event loop until Done() holds; false when the deadline passes first.
template <typename F> bool WaitFor(F Done, int Ms = 30000) {
  QDeadlineTimer deadline(Ms);
  while (!Done()) {
    if (deadline.hasExpired())
      return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return true;
}

inline QByteArray Bytes(std::initializer_list<int> List) {
  QByteArray out;
  for (int b : List)
    out.append(char(b));
  return out;
}
