#include "uVersionInfo.h"


#ifndef KV_VERSION_TEXT
#define KV_VERSION_TEXT "0.0.0.0"
#endif

QString GetVersionString() { return QStringLiteral(KV_VERSION_TEXT); }

namespace {
QDateTime &BuildTime() {
  static QDateTime t;
  return t;
}
} // namespace

QDateTime GetBuildTime() { return BuildTime(); }

void SetBuildTime(const QDateTime &Time) { BuildTime() = Time; }
