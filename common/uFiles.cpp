#include "uFiles.h"

#include "uErrors.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The last failure of each file not saved since, by whole path, and whether
// it has been said. Saves run on any thread.
struct TSaveFailure {
  QString Text;
  bool Said = false;
};
struct TSaveFailures {
  std::mutex Lock;
  QHash<QString, TSaveFailure> ByPath;
};
TSaveFailures &SaveFailures() {
  static TSaveFailures f;
  return f;
}
// Far more files failing than a session saves: past that the record starts
// afresh (a failure is then said once more).
constexpr qsizetype SaveFailuresKept = 1024;

// The whole path names the folder, whatever folder the caller's name was relative to.
[[noreturn]] void SaveFailed(const QString &Path, const QString &Reason) {
  const QString path = QFileInfo(Path).absoluteFilePath();
  const QString text = QString::fromUtf8(FileTexts::CannotSave) + path + ": " + Reason;
  {
    TSaveFailures &f = SaveFailures();
    const std::lock_guard<std::mutex> g(f.Lock);
    if (f.ByPath.size() >= SaveFailuresKept && !f.ByPath.contains(path))
      f.ByPath.clear();
    TSaveFailure &failure = f.ByPath[path];
    if (failure.Text != text)
      failure = {text, false};
  }
  throw EKvError(text);
}

void Saved(const QString &Path) {
  TSaveFailures &f = SaveFailures();
  const std::lock_guard<std::mutex> g(f.Lock);
  f.ByPath.remove(QFileInfo(Path).absoluteFilePath());
}

QString SystemReason(int Err) { return QString::fromLocal8Bit(std::strerror(Err)); }

// A file without any write permission is the user's way to protect it.
bool IsReadOnlyFile(const QString &Path) {
  struct stat st;
  return ::stat(QFile::encodeName(Path).constData(), &st) == 0 && S_ISREG(st.st_mode) && !(st.st_mode & 0222);
}

// One file of a save on its way: its new content first lives in a file of no
// name in the target's folder (or, where the file system has no such files,
// under a temporary name), so a crash before it is put in place leaves
// nothing behind.
struct TNewFile {
  QString Path;      // as the caller named it, for messages
  QByteArray Target; // the file replaced: Path with its symbolic links followed
  QByteArray Folder; // the folder whose entry the save changes
  int Fd = -1;       // the unnamed new file, written and synced
  QByteArray Name;   // the new file's temporary name once it has one
  QByteArray Old;    // a second name of the replaced file while a set is put in place
};

// A symbolic link keeps pointing at the saved content: the file it leads to
// is the one replaced, as QSaveFile does.
void Resolve(TNewFile &F) {
  QFileInfo info(F.Path);
  for (int depth = 0; depth < 32 && info.isSymLink(); ++depth)
    info.setFile(info.symLinkTarget());
  if (info.isSymLink())
    info.setFile(F.Path);
  F.Target = QFile::encodeName(info.filePath());
  F.Folder = QFile::encodeName(info.absolutePath());
}

QByteArray TemporaryName(const QByteArray &Target) {
  static std::atomic<unsigned> counter{0};
  return Target + ".kv" + QByteArray::number(::getpid()) + "-" + QByteArray::number(counter++);
}

// Writes Bytes whole to the new file of F and syncs it: the one sync of its data.
void WriteNew(TNewFile &F, const QByteArray &Bytes) {
  // A file of no name is named later through /proc (linking it by its handle
  // alone takes a privilege).
  static const bool canName = ::access("/proc/self/fd", X_OK) == 0;
  int fd = canName ? ::open(F.Folder.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666) : -1;
  if (!canName || (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL))) {
    do {
      F.Name = TemporaryName(F.Target);
      fd = ::open(F.Name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EEXIST);
    if (fd < 0)
      F.Name.clear();
  }
  if (fd < 0)
    SaveFailed(F.Path, SystemReason(errno));
  // The new file keeps the mode of the one it replaces.
  struct stat st;
  if (::stat(F.Target.constData(), &st) == 0 && S_ISREG(st.st_mode))
    ::fchmod(fd, st.st_mode & 07777);
  qint64 done = 0;
  int err = 0;
  while (done < Bytes.size() && err == 0) {
    const ssize_t n = ::write(fd, Bytes.constData() + done, size_t(Bytes.size() - done));
    if (n > 0)
      done += n;
    else if (n < 0 && errno != EINTR)
      err = errno;
    else if (n == 0)
      err = EIO;
  }
  // A delayed-allocation failure (a full disk) shows up only here, so the sync
  // comes before anything is replaced.
  if (err == 0 && ::fsync(fd) != 0)
    err = errno;
  if (err != 0 || !F.Name.isEmpty())
    ::close(fd);
  else
    F.Fd = fd;
  if (err != 0) {
    if (!F.Name.isEmpty())
      ::unlink(F.Name.constData());
    F.Name.clear();
    SaveFailed(F.Path, SystemReason(err));
  }
}

// Puts the new file of F in place of the target; 0 or errno.
int Place(TNewFile &F) {
  if (F.Fd >= 0) {
    // The unnamed file gets a name only now, just before it replaces the old
    // one: rename is what replaces a file whole, and it needs a name.
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(F.Fd);
    int rc;
    do {
      F.Name = TemporaryName(F.Target);
      rc = ::linkat(AT_FDCWD, self.constData(), AT_FDCWD, F.Name.constData(), AT_SYMLINK_FOLLOW);
    } while (rc != 0 && errno == EEXIST);
    const int err = errno;
    ::close(F.Fd);
    F.Fd = -1;
    if (rc != 0) {
      F.Name.clear();
      return err;
    }
  }
  if (::rename(F.Name.constData(), F.Target.constData()) != 0)
    return errno;
  F.Name.clear();
  return 0;
}

void Drop(TNewFile &F) {
  if (F.Fd >= 0)
    ::close(F.Fd);
  F.Fd = -1;
  if (!F.Name.isEmpty())
    ::unlink(F.Name.constData());
  F.Name.clear();
}

// The renames are durable only once the folder entries are on disk as well:
// each folder is synced once, however many of the files lie in it.
void SyncFolders(const std::vector<TNewFile> &Files) {
  std::vector<QByteArray> done;
  for (const TNewFile &f : Files) {
    if (std::find(done.begin(), done.end(), f.Folder) != done.end())
      continue;
    done.push_back(f.Folder);
    const int fd = ::open(f.Folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
      SaveFailed(f.Path, SystemReason(errno));
    const int rc = ::fsync(fd);
    const int err = errno;
    ::close(fd);
    // Some file systems cannot sync a folder; the files themselves are synced.
    if (rc != 0 && err != EINVAL && err != EROFS)
      SaveFailed(f.Path, SystemReason(err));
  }
}

} // namespace

void SaveFileBytes(const QString &Path, const QByteArray &Bytes) { SaveFileSet({{Path, Bytes}}); }

void SaveFileSet(const std::vector<std::pair<QString, QByteArray>> &Files) {
  std::vector<TNewFile> files(Files.size());
  for (size_t i = 0; i < Files.size(); ++i) {
    const QString &path = Files[i].first;
    if (path.isEmpty())
      throw EKvError("file name is empty");
    // Replacing a write-protected file through a rename would ignore its
    // protection. The mode bits, not access(): root passes access() for every file.
    if (IsReadOnlyFile(path))
      SaveFailed(path, SystemReason(EACCES));
    files[i].Path = path;
    Resolve(files[i]);
  }
  auto dropAll = [&] {
    for (TNewFile &f : files)
      Drop(f);
  };
  try {
    for (size_t i = 0; i < files.size(); ++i)
      WriteNew(files[i], Files[i].second);
  } catch (...) {
    dropAll();
    throw;
  }
  // The old files but the last are kept under a second name until every new
  // one is in place, so that a rename failing half-way puts the old set back.
  // A single file needs none: its rename replaces it whole or not at all.
  for (size_t i = 0; i + 1 < files.size(); ++i) {
    TNewFile &f = files[i];
    if (::access(f.Target.constData(), F_OK) != 0)
      continue;
    f.Old = TemporaryName(f.Target) + ".old";
    if (::link(f.Target.constData(), f.Old.constData()) != 0) {
      const int err = errno;
      f.Old.clear();
      for (size_t k = 0; k < i; ++k)
        if (!files[k].Old.isEmpty())
          ::unlink(files[k].Old.constData());
      dropAll();
      SaveFailed(f.Path, SystemReason(err));
    }
  }
  for (size_t i = 0; i < files.size(); ++i) {
    const int err = Place(files[i]);
    if (err == 0)
      continue;
    for (size_t k = 0; k < i; ++k) {
      if (files[k].Old.isEmpty())
        ::unlink(files[k].Target.constData());
      else
        ::rename(files[k].Old.constData(), files[k].Target.constData());
    }
    for (size_t k = i; k < files.size(); ++k)
      if (!files[k].Old.isEmpty())
        ::unlink(files[k].Old.constData());
    dropAll();
    SaveFailed(files[i].Path, SystemReason(err));
  }
  for (const TNewFile &f : files)
    if (!f.Old.isEmpty())
      ::unlink(f.Old.constData());
  SyncFolders(files);
  for (const TNewFile &f : files)
    Saved(f.Path);
}

bool IsNewSaveFailure(const QString &Text) {
  TSaveFailures &f = SaveFailures();
  const std::lock_guard<std::mutex> g(f.Lock);
  for (TSaveFailure &failure : f.ByPath) {
    if (failure.Text == Text)
      return !std::exchange(failure.Said, true);
  }
  return true;
}

QString KeepPreviousGeneration(const QString &Path) {
  if (Path.isEmpty() || !QFileInfo(Path).isFile())
    return QString();
  const QByteArray from = QFile::encodeName(Path);
  const QByteArray to = from + ".1";
  if (::rename(from.constData(), to.constData()) != 0)
    return QStringLiteral("cannot keep %1 as %2: %3").arg(Path, QFile::decodeName(to), SystemReason(errno));
  return QString();
}

QByteArray LoadFileBytes(const QString &Path) {
  QFile f(Path);
  if (!f.open(QIODevice::ReadOnly))
    throw EKvError(QString("cannot open %1: %2").arg(Path, f.errorString()));
  QByteArray bytes = f.readAll();
  if (f.error() != QFileDevice::NoError)
    throw EKvError(QString("cannot open %1: %2").arg(Path, f.errorString()));
  return bytes;
}

QString ResolveFileNameCI(const QString &Folder, const QString &Name) {
  QString path = Folder;
  const QStringList parts = QDir::fromNativeSeparators(Name).split('/', Qt::SkipEmptyParts);
  for (const QString &part : parts) {
    QDir dir(path);
    QString found = part;
    if (part != "." && part != ".." && !dir.exists(part)) {
      QStringList entries = dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                          QDir::Name);
      for (const QString &e : entries)
        if (e.compare(part, Qt::CaseInsensitive) == 0) {
          found = e;
          break;
        }
    }
    path = path.isEmpty() ? found : QDir(path).filePath(found);
  }
  return path;
}

QString ProgramFilePath() {
  if (QCoreApplication::instance())
    return QCoreApplication::applicationFilePath();
  return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
}

QString ProgramFolder() { return QFileInfo(ProgramFilePath()).absolutePath(); }
