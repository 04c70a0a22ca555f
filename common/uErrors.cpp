#include "uErrors.h"

EKvError::EKvError(const QString &Text) : std::runtime_error(Text.toStdString()) {}

void KvCheck(bool Cond, const char *Text) {
  if (!Cond)
    throw EKvAssert(Text);
}
