#include "uVersionInfo.h"

#include <QCoreApplication>
#include <QFileInfo>

#ifndef KV_VERSION_TEXT
#define KV_VERSION_TEXT "0.0.0.0"
#endif

QString GetVersionString() { return QStringLiteral(KV_VERSION_TEXT); }

QDateTime GetBuildTime(const QString &FilePath) {
  QString path = FilePath;
  if (path.isEmpty())
    path = QCoreApplication::instance() ? QCoreApplication::applicationFilePath() : QString();
  if (path.isEmpty())
    return {};
  const QFileInfo fi(path);
  if (!fi.exists())
    return {};
  return fi.lastModified();
}
