#pragma once
// The text of the program's exception a call throws, "no error" when it
// throws none: error paths compare exact texts with it.
#include "uErrors.h"

#include <QString>
#include <functional>

inline QString ErrorOf(const std::function<void()> &F) {
  try {
    F();
  } catch (const EKvError &e) {
    return e.Text();
  }
  return QStringLiteral("no error");
}
