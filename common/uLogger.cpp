#include "uLogger.h"

#include <QDateTime>
#include <QFile>
#include <fcntl.h>
#include <unistd.h>

namespace {
constexpr int MaxLines = 10000;
}

TLogger::TLogger() = default;

TLogger::~TLogger() {
  std::lock_guard g(FLock);
  if (FFd >= 0)
    ::close(FFd);
}

void TLogger::Open(const QString &FileName) {
  {
    std::lock_guard g(FLock);
    if (FFd >= 0)
      ::close(FFd);
    FFileName = FileName;
    FFd = ::open(QFile::encodeName(FileName).constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  }
  Info("Application started");
}

void TLogger::Close() {
  {
    std::lock_guard g(FLock);
    if (FFd < 0)
      return;
  }
  Info("Application stopped");
  std::lock_guard g(FLock);
  ::close(FFd);
  FFd = -1;
}

QString TLogger::LevelName(int Level) {
  switch (Level) {
  case lvError: return "ERROR";
  case lvDebug: return "DEBUG";
  default: return "INFO";
  }
}

void TLogger::Write(int Level, const QString &Text) {
  const QString line = QTime::currentTime().toString("hh.mm.ss.zzz") + " " + LevelName(Level) + " " + Text;
  TSink sink;
  {
    std::lock_guard g(FLock);
    if (FLines.size() > MaxLines)
      FLines.clear();
    FLines << line;
    if (FFd >= 0) {
      const QByteArray bytes = line.toUtf8() + '\n';
      // One write per line with O_APPEND keeps lines whole even if a crash follows.
      [[maybe_unused]] ssize_t n = ::write(FFd, bytes.constData(), size_t(bytes.size()));
    }
    sink = FSink;
  }
  if (sink)
    sink(line, Level);
}

void TLogger::SetSink(TSink Sink) {
  QStringList lines;
  {
    std::lock_guard g(FLock);
    FSink = Sink;
    lines = FLines;
  }
  if (Sink)
    for (const auto &l : lines)
      Sink(l, -1);
}

QStringList TLogger::Lines() const {
  std::lock_guard g(FLock);
  return FLines;
}

QString TLogger::FileName() const {
  std::lock_guard g(FLock);
  return FFileName;
}

TLogger &Logger() {
  static TLogger l;
  return l;
}
