#include "uLogger.h"

#include "uErrors.h"
#include "uFiles.h"

#include <QAbstractEventDispatcher>
#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <utility>

namespace {
constexpr int MaxLines = 10000;

// The logger whose file writes this thread holds in a batch.
thread_local TLogger *BatchOf = nullptr;
// The logger whose pending lines this thread's event loop writes when it next waits.
thread_local TLogger *IdleFlushOf = nullptr;

const char *LevelText(int Level) {
  switch (Level) {
  case TLogger::lvError: return "ERROR";
  case TLogger::lvDebug: return "DEBUG";
  default: return "INFO";
  }
}

// "hh.nn.ss." of a second.
void PutStampHead(char (&Head)[16], time_t Second) {
  tm parts;
  localtime_r(&Second, &parts);
  std::snprintf(Head, sizeof Head, "%02d.%02d.%02d.", parts.tm_hour, parts.tm_min, parts.tm_sec);
}

// "hh.nn.ss." "zzz " LEVEL ' ' text CR LF from Out on; Out holds LineSize(...) bytes.
size_t LineSize(int Level, QByteArrayView Text) {
  return 9 + 4 + std::strlen(LevelText(Level)) + 1 + size_t(Text.size()) + 2;
}
void PutLine(char *Out, const char *Head, int Ms, int Level, QByteArrayView Text) {
  const char *level = LevelText(Level);
  const size_t levelSize = std::strlen(level);
  std::memcpy(Out, Head, 9);
  Out[9] = char('0' + Ms / 100);
  Out[10] = char('0' + Ms / 10 % 10);
  Out[11] = char('0' + Ms % 10);
  Out[12] = ' ';
  std::memcpy(Out + 13, level, levelSize);
  Out[13 + levelSize] = ' ';
  if (!Text.isEmpty())
    std::memcpy(Out + 14 + levelSize, Text.data(), size_t(Text.size()));
  Out[14 + levelSize + Text.size()] = '\r';
  Out[15 + levelSize + Text.size()] = '\n';
}
} // namespace

TLogger::TLogger() : FFile([](const QByteArray &Text) { return LineBytes(lvInfo, Text); }) {}

TLogger::~TLogger() {
  if (IdleFlushOf == this)
    IdleFlushOf = nullptr;
}

QByteArray TLogger::LineBytes(int Level, QByteArrayView Text) {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  char head[16];
  PutStampHead(head, now.tv_sec);
  QByteArray line(qsizetype(LineSize(Level, Text)), Qt::Uninitialized);
  PutLine(line.data(), head, int(now.tv_nsec / 1000000), Level, Text);
  return line;
}

QString TLogger::Open(const QString &FileName, bool NewGeneration) {
  QString failure;
  {
    std::lock_guard g(FLock);
    FFileName = FileName;
    FOpened = true;
    failure = FFile.Open(FileName, NewGeneration);
    FListened = FFile.IsOpen() || FSink;
  }
  Info("Application started");
  // What the settings of the logs' bound held that was not taken: said here,
  // where the engineer reads about the logs, once a run.
  for (const QString &note : TakeLogBoundNotes())
    Error(note);
  return failure;
}

QString TLogger::Close() {
  {
    std::lock_guard g(FLock);
    if (!FOpened)
      return QString();
  }
  Info("Application stopped");
  QString fileName;
  QStringList failures;
  {
    std::lock_guard g(FLock);
    if (const QString own = FFile.Close(); !own.isEmpty())
      failures << own;
    FOpened = false;
    FListened = bool(FSink);
    fileName = FFileName;
  }
  // The file already holds every line of the session: it is only closed, never
  // rewritten, so neither the 10000-line rule nor the pane's clear cuts it.
  // The rich copy of the pane goes to the current folder, as the pane's own save did.
  if (HasSink()) {
    try {
      SaveFileBytes(QDir::current().filePath(QFileInfo(fileName).fileName() + ".rtf"), RichText());
    } catch (const EKvError &e) {
      failures << e.Text();
    }
  }
  // The program's other logs (the worker's, the trace) end with it: what they
  // could not write is reported with this one's.
  for (const QString &other : TakeLogFailures())
    if (!failures.contains(other))
      failures << other;
  return failures.join(u'\n');
}

QString TLogger::AppendLine(const QString &FileName, int Level, const QString &Text) {
  // Never a new generation: the running copy that owns the file does that.
  TLogFile file([](const QByteArray &) { return QByteArray(); });
  if (QString failure = file.Open(FileName, false, {INT64_MAX, 1}); !failure.isEmpty())
    return failure;
  file.Append(LineBytes(Level, Text.toUtf8()));
  return file.Close();
}

QString TLogger::LevelName(int Level) { return QString::fromLatin1(LevelText(Level)); }

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

void TLogger::Write(int Level, const QString &Text) { WriteUtf8(Level, Text.toUtf8()); }

void TLogger::WriteUtf8(int Level, QByteArrayView Text) {
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
    if (now.tv_sec != FStampSecond) {
      PutStampHead(FStampHead, now.tv_sec);
      FStampSecond = now.tv_sec;
    }
    if (FLines.size() >= MaxLines) {
      ClearLines();
      clear = FClear;
    }
    // Straight into the kept text.
    const size_t at = size_t(FText.size());
    const size_t size = LineSize(Level, Text);
    FText.resize(qsizetype(at + size));
    char *out = FText.data() + at;
    PutLine(out, FStampHead, int(now.tv_nsec / 1000000), Level, Text);
    FLines.push_back({at, size - 2, Level});
    if (FFile.IsOpen()) {
      FFile.Append(out, size);
      if (BatchOf != this)
        FFile.Flush();
    }
    sink = FSink;
    if (sink)
      line = QString::fromUtf8(out, qsizetype(size - 2));
  }
  if (clear)
    clear();
  if (sink)
    sink(line, Level);
}

namespace {
// Writes, when this thread's event loop is about to wait, the lines it holds
// for the loop going idle and those of a batch it waits inside. Hooked once
// on each thread's event dispatcher; false on a thread without one.
bool HookIdleFlush() {
  thread_local QPointer<QAbstractEventDispatcher> hooked;
  QAbstractEventDispatcher *d = QAbstractEventDispatcher::instance();
  if (!d)
    return false;
  if (hooked != d) {
    hooked = d;
    QObject::connect(d, &QAbstractEventDispatcher::aboutToBlock, d, [] {
      for (TLogger *log : {BatchOf, std::exchange(IdleFlushOf, nullptr)})
        if (log)
          log->Flush();
    });
  }
  return true;
}
} // namespace

TLogger::TBatch::TBatch(TLogger &Log, TUntil Until)
    : FLog(Log), FOuter(BatchOf), FHeldToIdle(HookIdleFlush() && Until == UntilIdle) {
  BatchOf = &Log;
}

TLogger::TBatch::~TBatch() {
  BatchOf = FOuter;
  if (FOuter == &FLog)
    return;
  if (FHeldToIdle) {
    if (IdleFlushOf && IdleFlushOf != &FLog)
      IdleFlushOf->Flush();
    IdleFlushOf = &FLog;
    return;
  }
  FLog.Flush();
}

void TLogger::Flush() { FFile.Flush(); }

void TLogger::Clear() {
  std::lock_guard order(FOrder);
  TClearSink clear;
  {
    std::lock_guard g(FLock);
    ClearLines();
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
    FListened = FFile.IsOpen() || FSink;
    lines = Texts();
    for (const TLineAt &l : FLines)
      levels << l.Level;
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
    lines = Texts();
    for (const TLineAt &l : FLines)
      levels << l.Level;
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
  return Texts();
}

QStringList TLogger::Texts() const {
  QStringList out;
  out.reserve(qsizetype(FLines.size()));
  for (const TLineAt &l : FLines)
    out << QString::fromUtf8(FText.constData() + l.At, qsizetype(l.Size));
  return out;
}

void TLogger::ClearLines() {
  // resize(0) keeps the capacity: the next 10000 lines fill the same memory.
  FText.resize(0);
  FLines.clear();
}

QString TLogger::FileName() const {
  std::lock_guard g(FLock);
  return FFileName;
}

TLogger &Logger() {
  static TLogger l;
  return l;
}
