#include "uLogger.h"

#include "uErrors.h"
#include "uFiles.h"

#include <QAbstractEventDispatcher>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <iterator>
#include <utility>
#include <unistd.h>

namespace {
constexpr int MaxLines = 10000;
// Pending bytes past this are written at once, even inside a batch.
constexpr size_t PendingBytes = 64 * 1024;
// Loggers whose pending bytes the crash handler writes; one more than the
// program's own leaves room for tests.
constexpr int MaxLoggers = 16;
constexpr int FatalSignals[] = {SIGABRT, SIGSEGV, SIGBUS, SIGILL, SIGFPE};
struct sigaction OldActions[std::size(FatalSignals)];

// The logger whose file writes this thread holds in a batch.
thread_local TLogger *BatchOf = nullptr;
// The logger whose pending lines this thread's event loop writes when it next waits.
thread_local TLogger *IdleFlushOf = nullptr;
} // namespace

// A plain buffer the crash handler can write without a lock or an allocation.
// Bytes are added under the logger's lock; Size is published after they are
// in place, and whoever writes them out takes them by exchanging Size for 0.
struct TLogger::TPending {
  std::atomic<int> Fd{-1};
  std::atomic<size_t> Size{0};
  // The first errno of a write the file did not take, for Close to report.
  std::atomic<int> WriteError{0};
  char Data[PendingBytes];
};

namespace {
std::atomic<TLogger::TPending *> Registry[MaxLoggers];

// 0 or the errno of a write the file did not take.
int WriteAll(int Fd, const char *Bytes, size_t Size) {
  // A regular file takes a whole O_APPEND write at once; a signal may cut it short.
  while (Size > 0) {
    const ssize_t n = ::write(Fd, Bytes, Size);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return n < 0 ? errno : EIO;
    Bytes += n;
    Size -= size_t(n);
  }
  return 0;
}

void NoteWriteError(TLogger::TPending &P, int Err) {
  int none = 0;
  if (Err != 0)
    P.WriteError.compare_exchange_strong(none, Err);
}

void WritePending(TLogger::TPending &P) {
  const int fd = P.Fd.load(std::memory_order_acquire);
  if (const size_t n = P.Size.exchange(0, std::memory_order_acq_rel); n > 0 && fd >= 0)
    NoteWriteError(P, WriteAll(fd, P.Data, n));
}

// Async-signal-safe: atomics and write() only.
void OnFatalSignal(int Sig, siginfo_t *Info, void *) {
  const int savedErrno = errno;
  for (auto &slot : Registry)
    if (TLogger::TPending *p = slot.load(std::memory_order_acquire))
      WritePending(*p);
  // The handler found before ours takes over: a fault returns to its
  // instruction and faults again, a sent signal (abort, kill) is sent again.
  for (size_t i = 0; i < std::size(FatalSignals); ++i)
    if (FatalSignals[i] == Sig)
      sigaction(Sig, &OldActions[i], nullptr);
  if (Info->si_code <= 0)
    raise(Sig);
  errno = savedErrno;
}

void InstallFatalHandler() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction a {};
    a.sa_sigaction = OnFatalSignal;
    a.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&a.sa_mask);
    for (size_t i = 0; i < std::size(FatalSignals); ++i)
      sigaction(FatalSignals[i], &a, &OldActions[i]);
  });
}

QString CannotWrite(const QString &FileName, int Err) {
  return QStringLiteral("Не удалось записать %1: %2").arg(FileName, QString::fromLocal8Bit(std::strerror(Err)));
}

const char *LevelText(int Level) {
  switch (Level) {
  case TLogger::lvError: return "ERROR";
  case TLogger::lvDebug: return "DEBUG";
  default: return "INFO";
  }
}

} // namespace

TLogger::TLogger() : FPending(std::make_unique<TPending>()) {
  for (auto &slot : Registry) {
    TPending *empty = nullptr;
    if (slot.compare_exchange_strong(empty, FPending.get()))
      break;
  }
}

TLogger::~TLogger() {
  if (IdleFlushOf == this)
    IdleFlushOf = nullptr;
  for (auto &slot : Registry) {
    TPending *mine = FPending.get();
    if (slot.compare_exchange_strong(mine, nullptr))
      break;
  }
  std::lock_guard g(FLock);
  FlushLocked();
  if (const int fd = FPending->Fd.exchange(-1); fd >= 0)
    ::close(fd);
}

QString TLogger::Open(const QString &FileName) {
  InstallFatalHandler();
  int openError = 0;
  {
    std::lock_guard g(FLock);
    FlushLocked();
    if (const int fd = FPending->Fd.exchange(-1); fd >= 0)
      ::close(fd);
    FFileName = FileName;
    const int fd = ::open(QFile::encodeName(FileName).constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
      openError = errno;
    FPending->WriteError.store(0);
    FPending->Fd.store(fd, std::memory_order_release);
    FListened = fd >= 0 || FSink;
  }
  Info("Application started");
  return openError == 0 ? QString() : CannotWrite(FileName, openError);
}

QString TLogger::Close() {
  {
    std::lock_guard g(FLock);
    if (FPending->Fd.load() < 0)
      return QString();
  }
  Info("Application stopped");
  QString fileName;
  int writeError;
  {
    std::lock_guard g(FLock);
    FlushLocked();
    ::close(FPending->Fd.exchange(-1));
    FListened = bool(FSink);
    fileName = FFileName;
    writeError = FPending->WriteError.exchange(0);
  }
  // The file already holds every line of the session: it is only closed, never
  // rewritten, so neither the 10000-line rule nor the pane's clear cuts it.
  QString failure;
  if (writeError != 0)
    failure = CannotWrite(fileName, writeError);
  // The rich copy of the pane goes to the current folder, as the pane's own save did.
  if (HasSink()) {
    try {
      SaveFileBytes(QDir::current().filePath(QFileInfo(fileName).fileName() + ".rtf"), RichText());
    } catch (const EKvError &e) {
      if (failure.isEmpty())
        failure = e.Text();
    }
  }
  return failure;
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
      tm parts;
      localtime_r(&now.tv_sec, &parts);
      std::snprintf(FStampHead, sizeof FStampHead, "%02d.%02d.%02d.", parts.tm_hour, parts.tm_min, parts.tm_sec);
      FStampSecond = now.tv_sec;
    }
    const int ms = int(now.tv_nsec / 1000000);
    const char *level = LevelText(Level);
    const size_t levelSize = std::strlen(level);
    if (FLines.size() >= MaxLines) {
      ClearLines();
      clear = FClear;
    }
    // "hh.nn.ss." "zzz " LEVEL ' ' text CR LF, straight into the kept text.
    const size_t at = size_t(FText.size());
    const size_t size = 9 + 4 + levelSize + 1 + size_t(Text.size());
    FText.resize(qsizetype(at + size + 2));
    char *out = FText.data() + at;
    std::memcpy(out, FStampHead, 9);
    out[9] = char('0' + ms / 100);
    out[10] = char('0' + ms / 10 % 10);
    out[11] = char('0' + ms % 10);
    out[12] = ' ';
    std::memcpy(out + 13, level, levelSize);
    out[13 + levelSize] = ' ';
    if (!Text.isEmpty())
      std::memcpy(out + 14 + levelSize, Text.data(), size_t(Text.size()));
    out[size] = '\r';
    out[size + 1] = '\n';
    FLines.push_back({at, size, Level});
    if (FPending->Fd.load(std::memory_order_relaxed) >= 0) {
      Pend(out, size + 2);
      if (BatchOf != this)
        FlushLocked();
    }
    sink = FSink;
    if (sink)
      line = QString::fromUtf8(out, qsizetype(size));
  }
  if (clear)
    clear();
  if (sink)
    sink(line, Level);
}

void TLogger::Pend(const char *Bytes, size_t Size) {
  TPending &p = *FPending;
  size_t held = p.Size.load(std::memory_order_relaxed);
  if (held + Size > PendingBytes) {
    FlushLocked();
    held = 0;
  }
  if (Size > PendingBytes) {
    NoteWriteError(p, WriteAll(p.Fd.load(std::memory_order_relaxed), Bytes, Size));
    return;
  }
  std::memcpy(p.Data + held, Bytes, Size);
  p.Size.store(held + Size, std::memory_order_release);
}

void TLogger::FlushLocked() { WritePending(*FPending); }

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

void TLogger::Flush() {
  std::lock_guard g(FLock);
  FlushLocked();
}

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
    FListened = FPending->Fd.load() >= 0 || FSink;
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
