#include "uFiles.h"

#include "uErrors.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
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

} // namespace

void SaveFileBytes(const QString &Path, const QByteArray &Bytes) {
  if (Path.isEmpty())
    throw EKvError("file name is empty");
  // A file without any write permission is the user's way to protect it (the
  // read-only attribute); replacing it through a rename would ignore that.
  // The mode bits, not access(): root passes access() for every file.
  struct stat st;
  if (::stat(QFile::encodeName(Path).constData(), &st) == 0 && S_ISREG(st.st_mode) && !(st.st_mode & 0222))
    SaveFailed(Path, QString::fromLocal8Bit(std::strerror(EACCES)));
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
    SaveFailed(Path, f.errorString());
  if (f.write(Bytes) != Bytes.size()) {
    const QString reason = f.errorString();
    f.cancelWriting();
    SaveFailed(Path, reason);
  }
  if (::fsync(f.handle()) != 0) {
    const QString reason = QString::fromLocal8Bit(std::strerror(errno));
    f.cancelWriting();
    SaveFailed(Path, reason);
  }
  if (!f.commit())
    SaveFailed(Path, f.errorString());
  SyncFolder(Path);
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
