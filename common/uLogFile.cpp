#include "uLogFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <chrono>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {
// Waiting bytes past this are written at once.
constexpr size_t PendingBytes = 64 * 1024;
// Log files whose waiting bytes the crash handler writes: the program has
// three, tests make more.
constexpr int MaxLogFiles = 64;
constexpr int FatalSignals[] = {SIGABRT, SIGSEGV, SIGBUS, SIGILL, SIGFPE};
struct sigaction OldActions[std::size(FatalSignals)];

std::mutex BoundLock;
TLogBound Bound;
std::mutex SinkLock;
TLogFailureSink Sink;
// The first failure of each log file not yet taken for a report: (path, text).
std::mutex BookLock;
std::vector<std::pair<QString, QString>> FailureBook;

QString SystemReason(int Error) { return QString::fromLocal8Bit(std::strerror(Error)); }

// "process N started yyyy-mm-dd hh:nn:ss": the same for every log of a run,
// fixed when the first of them opens.
const QByteArray &SessionText() {
  static const QByteArray text = [] {
    const time_t now = time(nullptr);
    tm parts;
    localtime_r(&now, &parts);
    char buf[80];
    std::snprintf(buf, sizeof buf, "process %d started %04d-%02d-%02d %02d:%02d:%02d", int(getpid()),
                  parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
    return QByteArray(buf);
  }();
  return text;
}
} // namespace

// A plain buffer the crash handler can write without a lock or an allocation.
// Bytes are added under the file's lock; Size is published after they are in
// place, and whoever writes them out takes them by exchanging Size for 0.
struct TLogFile::TPending {
  std::atomic<int> Fd{-1};
  std::atomic<size_t> Size{0};
  // The first errno of a write the file did not take in the crash handler.
  std::atomic<int> WriteError{0};
  char Data[PendingBytes];
};

namespace {
std::atomic<TLogFile::TPending *> Registry[MaxLogFiles];

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

// Writes what P holds; the bytes taken in *Taken. 0 or the errno.
int WritePending(TLogFile::TPending &P, size_t *Taken = nullptr) {
  const int fd = P.Fd.load(std::memory_order_acquire);
  const size_t n = P.Size.exchange(0, std::memory_order_acq_rel);
  if (Taken)
    *Taken = n;
  return n > 0 && fd >= 0 ? WriteAll(fd, P.Data, n) : 0;
}

// Async-signal-safe: atomics and write() only.
void OnFatalSignal(int Sig, siginfo_t *Info, void *) {
  const int savedErrno = errno;
  for (auto &slot : Registry)
    if (TLogFile::TPending *p = slot.load(std::memory_order_acquire))
      if (const int err = WritePending(*p); err != 0)
        p->WriteError.store(err);
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

bool IsRegularFile(const QByteArray &Name, int64_t *Size = nullptr) {
  struct stat st;
  if (::stat(Name.constData(), &st) != 0 || !S_ISREG(st.st_mode))
    return false;
  if (Size)
    *Size = st.st_size;
  return true;
}

int OpenForAppend(const QString &Path) {
  return ::open(QFile::encodeName(Path).constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
}

// Whether Fd's file is the one named Path now.
bool IsNamed(int Fd, const QString &Path) {
  struct stat open, named;
  return ::fstat(Fd, &open) == 0 && ::stat(QFile::encodeName(Path).constData(), &named) == 0 &&
         open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

// A new empty file under Path, the file there and its earlier generations
// moved up one. The new file is made first, under a name of its own, and put
// in place by a rename, which needs no new inode: a folder where nothing can
// be made (out of inodes or descriptors) keeps the file at Path and its
// generations as they were. -1 and Why when not done; the file at Path then
// stays there, unless even the rename that puts it back failed.
int MakeNextGeneration(const QString &Path, int Generations, QString &Why) {
  const QByteArray name = QFile::encodeName(Path);
  const QByteArray fresh = name + ".new";
  // A ".new" left by a process killed between the two steps is empty.
  const int fd = ::open(fresh.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) {
    Why = CannotWriteText(Path + ".new", errno);
    return -1;
  }
  Why = ShiftLogGenerations(Path, Generations);
  if (Why.isEmpty()) {
    if (::rename(fresh.constData(), name.constData()) == 0)
      return fd;
    Why = CannotWriteText(Path, errno);
    ::rename(QFile::encodeName(Path + ".1").constData(), name.constData());
  }
  ::close(fd);
  ::unlink(fresh.constData());
  return -1;
}
} // namespace

namespace {
// Each byte as a blank and its two digits, padded to four bytes so that a
// dump writes one word a byte.
struct TBlankHexTable {
  char Quad[256][4];
  constexpr TBlankHexTable() : Quad() {
    const char digits[] = "0123456789ABCDEF";
    for (int i = 0; i < 256; ++i) {
      Quad[i][0] = ' ';
      Quad[i][1] = digits[i >> 4];
      Quad[i][2] = digits[i & 15];
      Quad[i][3] = ' ';
    }
  }
};
constexpr TBlankHexTable BlankHexTable;
} // namespace

char *PutBlankHex(char *Out, const uint8_t *Bytes, size_t Count) {
  for (size_t i = 0; i < Count; ++i, Out += 3)
    std::memcpy(Out, BlankHexTable.Quad[Bytes[i]], 4);
  return Out;
}

TLogBound LogBound() {
  std::lock_guard g(BoundLock);
  return Bound;
}

void SetLogBound(TLogBound B) {
  if (B.GenerationBytes < 1)
    B.GenerationBytes = TLogBound::DefaultGenerationBytes;
  B.GenerationBytes = std::min(B.GenerationBytes, TLogBound::MaxGenerationMB * TLogBound::MB);
  B.Generations = std::clamp(B.Generations, 1, TLogBound::MaxGenerations);
  std::lock_guard g(BoundLock);
  Bound = B;
}

QStringList TakeLogBoundNotes() {
  std::lock_guard g(BoundLock);
  return std::exchange(Bound.Notes, {});
}

QStringList TakeLogFailures() {
  std::lock_guard g(BookLock);
  QStringList texts;
  for (const auto &entry : std::exchange(FailureBook, {}))
    texts << entry.second;
  return texts;
}

void SetLogFailureSink(TLogFailureSink S) {
  std::lock_guard g(SinkLock);
  Sink = std::move(S);
}

void TellLogFailure(const QString &Text) {
  if (Text.isEmpty())
    return;
  // Called under the lock, so that a sink replaced is no longer called once
  // SetLogFailureSink returns (a window that goes away).
  std::lock_guard g(SinkLock);
  if (Sink)
    Sink(Text);
  else
    std::fprintf(stderr, "%s\n", Text.toLocal8Bit().constData());
}

QString CannotWriteText(const QString &Path, int Error) {
  return QStringLiteral("Не удалось записать %1: %2").arg(Path, SystemReason(Error));
}

QString ShiftLogGenerations(const QString &Path, int Generations) {
  Generations = std::clamp(Generations, 1, TLogBound::MaxGenerations);
  const QFileInfo fi(Path);
  const QString folder = fi.absolutePath();
  const QString name = fi.fileName();
  const auto nameOf = [&](int N) { return QFile::encodeName(folder + '/' + name + '.' + QString::number(N)); };
  // A listing that fails must stop the shift: without it ".1" would be renamed over.
  DIR *dir = ::opendir(QFile::encodeName(folder).constData());
  if (!dir)
    return CannotWriteText(Path, errno);
  const QByteArray prefix = QFile::encodeName(name) + '.';
  std::vector<int> kept, past;
  errno = 0;
  while (const dirent *e = ::readdir(dir)) {
    const QByteArrayView entry(e->d_name);
    if (!entry.startsWith(prefix))
      continue;
    // Only the names this shift makes: ".N" without leading zeros.
    const QByteArrayView digits = entry.sliced(prefix.size());
    if (digits.isEmpty() || digits.size() > 9 || digits[0] == '0' ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
      continue;
    const int n = digits.toByteArray().toInt();
    (n >= Generations ? past : kept).push_back(n);
  }
  const int listError = errno;
  ::closedir(dir);
  if (listError != 0)
    return CannotWriteText(Path, listError);
  // The oldest go first: past the count once each moves up one.
  for (const int n : past)
    if (::unlink(nameOf(n).constData()) != 0)
      return CannotWriteText(QFile::decodeName(nameOf(n)), errno);
  std::sort(kept.begin(), kept.end(), std::greater<int>());
  for (const int n : kept)
    if (::rename(nameOf(n).constData(), nameOf(n + 1).constData()) != 0)
      return CannotWriteText(QFile::decodeName(nameOf(n + 1)), errno);
  if (::rename(QFile::encodeName(folder + '/' + name).constData(), nameOf(1).constData()) != 0)
    return CannotWriteText(QFile::decodeName(nameOf(1)), errno);
  return QString();
}

TLogFile::TLogFile(TLineFormat Format) : FFormat(std::move(Format)) {}

TLogFile::~TLogFile() {
  CloseFile(false);
  if (!FPending)
    return;
  for (auto &slot : Registry) {
    TPending *mine = FPending.get();
    if (slot.compare_exchange_strong(mine, nullptr))
      break;
  }
}

namespace {
void TellAll(const QStringList &Texts) {
  for (const QString &t : Texts)
    TellLogFailure(t);
}
} // namespace

QString TLogFile::Open(const QString &Path, bool NewGeneration, TLogBound Bound) {
  InstallFatalHandler();
  SessionText();
  CloseFile(false);
  QString failure;
  QStringList untold;
  {
    std::lock_guard g(FLock);
    if (!FPending) {
      FPending = std::make_unique<TPending>();
      for (auto &slot : Registry) {
        TPending *empty = nullptr;
        if (slot.compare_exchange_strong(empty, FPending.get()))
          break;
      }
    }
    // The texts name the folder, and the current folder may change meanwhile.
    FPath = QFileInfo(Path).absoluteFilePath();
    FBound = Bound;
    FBound.Generations = std::clamp(FBound.Generations, 1, TLogBound::MaxGenerations);
    FBound.Notes.clear();
    FPart = 1;
    FNameChecked = std::chrono::steady_clock::now();
    FToldCauses.clear();
    FPending->WriteError.store(0);
    int64_t size = 0;
    int fd = -1;
    if (NewGeneration && IsRegularFile(QFile::encodeName(FPath), &size) && size > 0) {
      QString why;
      fd = MakeNextGeneration(FPath, FBound.Generations, why);
      // The previous run's file is appended to rather than lose this run's lines.
      if (fd < 0)
        NoteFailureLocked(why);
    }
    if (fd < 0)
      fd = OpenForAppend(FPath);
    struct stat st;
    if (fd < 0) {
      NoteFailureLocked(CannotWriteText(FPath, errno));
      failure = FFailure;
    } else if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
      // A file already there is appended to: it counts towards the bound.
      FRotates = true;
      FFileBytes = int64_t(st.st_size);
    } else {
      FRotates = false;
      FFileBytes = 0;
    }
    FPending->Fd.store(fd, std::memory_order_release);
    FOpen = fd >= 0;
    untold = std::exchange(FUntold, {});
  }
  TellAll(untold);
  return failure;
}

QString TLogFile::Path() const {
  std::lock_guard g(FLock);
  return FPath;
}

void TLogFile::Append(const char *Bytes, size_t Size) {
  if (!IsOpen())
    return;
  QStringList untold;
  {
    std::lock_guard g(FLock);
    if (!FPending || FPending->Fd.load(std::memory_order_relaxed) < 0)
      return;
    TPending &p = *FPending;
    size_t held = p.Size.load(std::memory_order_relaxed);
    // Whole lines to a generation: the one that would pass the bound begins the next.
    if (FRotates && FFileBytes + int64_t(held) > 0 && FFileBytes + int64_t(held + Size) > FBound.GenerationBytes) {
      FlushLocked();
      BeginGenerationLocked();
      held = p.Size.load(std::memory_order_relaxed);
    }
    if (held + Size > PendingBytes) {
      FlushLocked();
      held = 0;
    }
    if (Size > PendingBytes) {
      if (const int err = WriteAll(p.Fd.load(std::memory_order_relaxed), Bytes, Size); err != 0)
        NoteFailureLocked(CannotWriteText(FPath, err));
      FFileBytes += int64_t(Size);
    } else {
      std::memcpy(p.Data + held, Bytes, Size);
      p.Size.store(held + Size, std::memory_order_release);
    }
    untold = std::exchange(FUntold, {});
  }
  TellAll(untold);
}

void TLogFile::Flush() {
  QStringList untold;
  {
    std::lock_guard g(FLock);
    FollowNameLocked();
    FlushLocked();
    untold = std::exchange(FUntold, {});
  }
  TellAll(untold);
}

QString TLogFile::Close() { return CloseFile(true); }

QString TLogFile::CloseFile(bool Taken) {
  QStringList untold;
  QString failure, path;
  {
    std::lock_guard g(FLock);
    if (!FPending)
      return QString();
    FlushLocked();
    if (const int fd = FPending->Fd.exchange(-1); fd >= 0)
      ::close(fd);
    FOpen = false;
    if (const int err = FPending->WriteError.exchange(0); err != 0)
      NoteFailureLocked(CannotWriteText(FPath, err));
    untold = std::exchange(FUntold, {});
    failure = std::exchange(FFailure, QString());
    path = FPath;
  }
  // The book's lock is taken only after the file's (NoteFailureLocked), never before it.
  if (Taken && !failure.isEmpty()) {
    std::lock_guard g(BookLock);
    FailureBook.erase(std::remove_if(FailureBook.begin(), FailureBook.end(),
                                     [&](const auto &Entry) { return Entry.first == path; }),
                      FailureBook.end());
  }
  TellAll(untold);
  return failure;
}

void TLogFile::FlushLocked() {
  if (!FPending)
    return;
  size_t taken = 0;
  if (const int err = WritePending(*FPending, &taken); err != 0)
    NoteFailureLocked(CannotWriteText(FPath, err));
  FFileBytes += int64_t(taken);
}

void TLogFile::BeginGenerationLocked() {
  const int current = FPending->Fd.load(std::memory_order_relaxed);
  QString why;
  int fd;
  if (IsNamed(current, FPath)) {
    // Renamed while open: the lines already written stay in what is now ".1".
    fd = MakeNextGeneration(FPath, FBound.Generations, why);
  } else {
    // The file written is no longer under the log's name (moved away, or a
    // rename back that failed): a new one takes the name, and the one written
    // is left where it is, never shifted on or removed.
    fd = OpenForAppend(FPath);
    if (fd < 0)
      why = CannotWriteText(FPath, errno);
  }
  if (fd < 0) {
    // The file grows on rather than lose lines; the next try comes a
    // generation's size later.
    NoteFailureLocked(why);
    FFileBytes = 0;
    return;
  }
  ContinueInLocked(fd);
}

void TLogFile::FollowNameLocked() {
  const int current = FPending ? FPending->Fd.load(std::memory_order_relaxed) : -1;
  if (!FRotates || current < 0)
    return;
  // Two system calls a flush would be most of what a quiet log costs; a
  // second late is soon enough for a file removed by hand.
  const auto now = std::chrono::steady_clock::now();
  if (now - FNameChecked < std::chrono::seconds(1))
    return;
  FNameChecked = now;
  if (IsNamed(current, FPath))
    return;
  // Removed or moved away by hand: the lines waiting go into a new file under
  // the name, and a removed file is no longer held open.
  const int fd = OpenForAppend(FPath);
  if (fd < 0) {
    NoteFailureLocked(CannotWriteText(FPath, errno));
    return;
  }
  ContinueInLocked(fd);
}

void TLogFile::ContinueInLocked(int Fd) {
  struct stat st;
  // Whatever was put under the name meanwhile counts towards the bound.
  FFileBytes = ::fstat(Fd, &st) == 0 && S_ISREG(st.st_mode) ? int64_t(st.st_size) : 0;
  ::close(FPending->Fd.exchange(Fd, std::memory_order_acq_rel));
  // The log recovered: the same failure met again later is news.
  FToldCauses.clear();
  const QByteArray line =
      FFormat("continues the session of " + SessionText() + ", part " + QByteArray::number(++FPart));
  if (const int err = WriteAll(Fd, line.constData(), size_t(line.size())); err != 0)
    NoteFailureLocked(CannotWriteText(FPath, err));
  else
    FFileBytes += line.size();
}

void TLogFile::NoteFailureLocked(const QString &Text) {
  if (FFailure.isEmpty()) {
    FFailure = Text;
    std::lock_guard g(BookLock);
    const bool known = std::any_of(FailureBook.begin(), FailureBook.end(),
                                   [this](const auto &Entry) { return Entry.first == FPath; });
    if (!known)
      FailureBook.emplace_back(FPath, Text);
  }
  if (!FToldCauses.contains(Text)) {
    FToldCauses << Text;
    FUntold << Text;
  }
}
