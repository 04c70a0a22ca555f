#include "uFiles.h"

#include "uErrors.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

[[noreturn]] void SaveFailed(const QString &Path, const QString &Reason) {
  throw EKvError(QString("cannot save %1: %2").arg(Path, Reason));
}

// The rename inside QSaveFile::commit is durable only once the folder entry is
// on disk as well.
void SyncFolder(const QString &Path) {
  const QByteArray dir = QFile::encodeName(QFileInfo(Path).absolutePath());
  const int fd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0)
    SaveFailed(Path, QString::fromLocal8Bit(std::strerror(errno)));
  const int rc = ::fsync(fd);
  const int err = errno;
  ::close(fd);
  // Some file systems cannot sync a folder; the file itself is already synced.
  if (rc != 0 && err != EINVAL && err != EROFS)
    SaveFailed(Path, QString::fromLocal8Bit(std::strerror(err)));
}

// Qt's text for a failure it did not record is "Unknown error": the system's
// reason is told instead (Err: errno right after the failing call).
QString ReasonOf(const QFileDevice &File, int Err) {
  if (File.error() != QFileDevice::NoError && File.errorString() != QLatin1String("Unknown error"))
    return File.errorString();
  return QString::fromLocal8Bit(std::strerror(Err ? Err : EIO));
}

QString SystemReason(int Err) { return QString::fromLocal8Bit(std::strerror(Err)); }

// A file without any write permission is the user's way to protect it.
bool IsReadOnlyFile(const QString &Path) {
  struct stat st;
  return ::stat(QFile::encodeName(Path).constData(), &st) == 0 && S_ISREG(st.st_mode) && !(st.st_mode & 0222);
}

// Writes Bytes whole to a new file beside Path and syncs it; its name, or throws.
QByteArray WriteTemporary(const QString &Path, const QByteArray &Bytes) {
  const QByteArray base = QFile::encodeName(Path);
  static std::atomic<unsigned> counter{0};
  for (;;) {
    const QByteArray name = base + ".kv" + QByteArray::number(::getpid()) + "-" + QByteArray::number(counter++);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno == EEXIST)
      continue;
    if (fd < 0)
      SaveFailed(Path, SystemReason(errno));
    // The new file keeps the mode of the one it replaces, as QSaveFile does.
    struct stat st;
    if (::stat(base.constData(), &st) == 0 && S_ISREG(st.st_mode))
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
    if (err == 0 && ::fsync(fd) != 0)
      err = errno;
    ::close(fd);
    if (err != 0) {
      ::unlink(name.constData());
      SaveFailed(Path, SystemReason(err));
    }
    return name;
  }
}

} // namespace

void SaveFileBytes(const QString &Path, const QByteArray &Bytes) {
  if (Path.isEmpty())
    throw EKvError("file name is empty");
  // A file without any write permission is the user's way to protect it (the
  // read-only attribute); replacing it through a rename would ignore that.
  // The mode bits, not access(): root passes access() for every file.
  if (IsReadOnlyFile(Path))
    SaveFailed(Path, SystemReason(EACCES));
  QSaveFile f(Path);
  // Without the direct-write fallback a folder we cannot create the temporary
  // file in fails here instead of truncating the old file in place.
  f.setDirectWriteFallback(false);
  // Unbuffered: QSaveFile commits even when the flush of its own buffer fails
  // (a full disk would replace the old file by an empty one), so every write
  // must reach the file here, where its error is seen. The data is synced
  // before the rename for the same reason: a delayed-allocation failure shows
  // up only in fsync.
  if (!f.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
    SaveFailed(Path, ReasonOf(f, errno));
  if (f.write(Bytes) != Bytes.size()) {
    const QString reason = ReasonOf(f, errno);
    f.cancelWriting();
    SaveFailed(Path, reason);
  }
  if (::fsync(f.handle()) != 0) {
    const QString reason = QString::fromLocal8Bit(std::strerror(errno));
    f.cancelWriting();
    SaveFailed(Path, reason);
  }
  if (!f.commit())
    SaveFailed(Path, ReasonOf(f, errno));
  SyncFolder(Path);
}

void SaveFileSet(const std::vector<std::pair<QString, QByteArray>> &Files) {
  for (const auto &[path, bytes] : Files) {
    if (path.isEmpty())
      throw EKvError("file name is empty");
    if (IsReadOnlyFile(path))
      SaveFailed(path, SystemReason(EACCES));
  }
  std::vector<QByteArray> temps;
  auto dropTemps = [&] {
    for (const QByteArray &t : temps)
      ::unlink(t.constData());
  };
  try {
    for (const auto &[path, bytes] : Files)
      temps.push_back(WriteTemporary(path, bytes));
  } catch (...) {
    dropTemps();
    throw;
  }
  // The old files are kept under a second name until every new one is in
  // place, so that a rename failing half-way puts the old set back.
  std::vector<QByteArray> olds(Files.size());
  for (size_t i = 0; i < Files.size(); ++i) {
    const QByteArray target = QFile::encodeName(Files[i].first);
    if (QFile::exists(Files[i].first)) {
      olds[i] = temps[i] + ".old";
      if (::link(target.constData(), olds[i].constData()) != 0) {
        const int err = errno;
        for (size_t k = 0; k < i; ++k)
          if (!olds[k].isEmpty())
            ::unlink(olds[k].constData());
        dropTemps();
        SaveFailed(Files[i].first, SystemReason(err));
      }
    }
  }
  for (size_t i = 0; i < Files.size(); ++i) {
    const QByteArray target = QFile::encodeName(Files[i].first);
    if (::rename(temps[i].constData(), target.constData()) == 0)
      continue;
    const int err = errno;
    for (size_t k = 0; k < i; ++k) {
      const QByteArray done = QFile::encodeName(Files[k].first);
      if (olds[k].isEmpty())
        ::unlink(done.constData());
      else
        ::rename(olds[k].constData(), done.constData());
    }
    for (size_t k = i; k < Files.size(); ++k) {
      ::unlink(temps[k].constData());
      if (!olds[k].isEmpty())
        ::unlink(olds[k].constData());
    }
    SaveFailed(Files[i].first, SystemReason(err));
  }
  for (const QByteArray &o : olds)
    if (!o.isEmpty())
      ::unlink(o.constData());
  for (const auto &f : Files)
    SyncFolder(f.first);
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
