#include "uLogger.h"

#include "uErrors.h"
#include "uFiles.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <fcntl.h>
#include <cstdio>
#include <ctime>
#include <optional>
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
    FListened = FFd >= 0 || FSink;
  }
  Info("Application started");
}

QString TLogger::Close() {
  {
    std::lock_guard g(FLock);
    if (FFd < 0)
      return QString();
  }
  Info("Application stopped");
  QByteArray plain;
  QByteArray rich;
  QString fileName;
  {
    std::lock_guard g(FLock);
    ::close(FFd);
    FFd = -1;
    FListened = bool(FSink);
    fileName = FFileName;
    for (const QString &l : FLines)
      plain += l.toUtf8() + "\r\n";
  }
  if (HasSink())
    rich = RichText();
  // Both saves are tried; the first failure is reported.
  std::optional<EKvError> failure;
  // The rich copy goes to the current folder, as the pane's own save did.
  if (!rich.isEmpty()) {
    try {
      SaveFileBytes(QDir::current().filePath(QFileInfo(fileName).fileName() + ".rtf"), rich);
    } catch (const EKvError &e) {
      failure = e;
    }
  }
  try {
    SaveFileBytes(fileName, plain);
  } catch (const EKvError &e) {
    if (!failure)
      failure = e;
  }
  return failure ? failure->Text() : QString();
}

QString TLogger::LevelName(int Level) {
  switch (Level) {
  case lvError: return "ERROR";
  case lvDebug: return "DEBUG";
  default: return "INFO";
  }
}

uint32_t TLogger::LevelColor(int Level) {
  switch (Level) {
  case lvError: return 0xFF0000;
  case lvDebug: return 0x008000;
  default: return 0x000080;
  }
}

QString TLogger::LogFileNameFor(const QString &ProgramFile) {
  const QFileInfo fi(ProgramFile);
  const QString name = fi.fileName();
  const qsizetype dot = name.lastIndexOf('.');
  return QDir(fi.absolutePath()).filePath((dot <= 0 ? name : name.left(dot)) + ".log");
}

void TLogger::Write(int Level, const QString &Text) {
  std::lock_guard order(FOrder);
  QString line;
  TSink sink;
  TClearSink clear;
  {
    std::lock_guard g(FLock);
    // The clock is read under the lock: the C library's time-zone set-up
    // behind it is not safe to enter from several threads at once.
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    tm parts;
    localtime_r(&now.tv_sec, &parts);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%02d.%02d.%02d.%03d ", parts.tm_hour, parts.tm_min, parts.tm_sec,
                  int(now.tv_nsec / 1000000));
    line = QLatin1StringView(stamp) + LevelName(Level) + u' ' + Text;
    if (FLines.size() >= MaxLines) {
      FLines.clear();
      FLevels.clear();
      clear = FClear;
    }
    FLines << line;
    FLevels << Level;
    if (FFd >= 0) {
      // CR LF as in the file Close writes, so a crash leaves the same form.
      const QByteArray bytes = line.toUtf8() + "\r\n";
      // One write per line with O_APPEND keeps lines whole even if a crash follows.
      [[maybe_unused]] ssize_t n = ::write(FFd, bytes.constData(), size_t(bytes.size()));
    }
    sink = FSink;
  }
  if (clear)
    clear();
  if (sink)
    sink(line, Level);
}

void TLogger::Clear() {
  std::lock_guard order(FOrder);
  TClearSink clear;
  {
    std::lock_guard g(FLock);
    FLines.clear();
    FLevels.clear();
    clear = FClear;
  }
  if (clear)
    clear();
}

void TLogger::SetSink(TSink Sink, TClearSink Clear) {
  std::lock_guard order(FOrder);
  QStringList lines;
  QList<int> levels;
  {
    std::lock_guard g(FLock);
    FSink = Sink;
    FClear = Sink ? Clear : nullptr;
    FListened = FFd >= 0 || FSink;
    lines = FLines;
    levels = FLevels;
  }
  if (Sink)
    for (qsizetype i = 0; i < lines.size(); ++i)
      Sink(lines[i], levels[i]);
}

bool TLogger::HasSink() const {
  std::lock_guard g(FLock);
  return bool(FSink);
}

QByteArray TLogger::RichText() const {
  QStringList lines;
  QList<int> levels;
  {
    std::lock_guard g(FLock);
    lines = FLines;
    levels = FLevels;
  }
  QByteArray out = "{\\rtf1\\ansi\\ansicpg1251\\deff0{\\fonttbl{\\f0\\fmodern Courier New;}}{\\colortbl ;";
  for (int level : {lvInfo, lvError, lvDebug}) {
    const uint32_t c = LevelColor(level);
    out += QString("\\red%1\\green%2\\blue%3;").arg(c >> 16).arg((c >> 8) & 0xFF).arg(c & 0xFF).toLatin1();
  }
  out += "}\r\n\\f0\\fs20\r\n";
  for (qsizetype i = 0; i < lines.size(); ++i) {
    out += "\\cf" + QByteArray::number(levels[i] == lvError ? 2 : levels[i] == lvDebug ? 3 : 1) + ' ';
    for (QChar c : lines[i]) {
      const char16_t u = c.unicode();
      if (u == '\\' || u == '{' || u == '}')
        out += '\\' + QByteArray(1, char(u));
      else if (u >= 0x20 && u < 0x80)
        out += char(u);
      else if (u >= 0x80)
        // RTF writes other characters as signed 16-bit numbers, "?" for old readers.
        out += "\\u" + QByteArray::number(int(int16_t(u))) + '?';
    }
    out += "\\par\r\n";
  }
  out += "}\r\n";
  return out;
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
