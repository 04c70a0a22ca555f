#include "uLocker.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {
QString SystemReason(int Error) { return QString::fromLocal8Bit(std::strerror(Error)); }
} // namespace

TLockFile::~TLockFile() { Release(); }

bool TLockFile::Take(const QString &Path, QString *Reason) {
  Release();
  FHeldElsewhere = false;
  const QByteArray name = QFile::encodeName(Path);
  const int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    if (Reason)
      *Reason = SystemReason(errno);
    return false;
  }
  int rc;
  do
    rc = ::flock(fd, LOCK_EX | LOCK_NB);
  while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    const int err = errno;
    ::close(fd);
    FHeldElsewhere = err == EWOULDBLOCK;
    if (Reason)
      *Reason = FHeldElsewhere ? QStringLiteral("held by another copy") : SystemReason(err);
    return false;
  }
  FFd = fd;
  return true;
}

void TLockFile::Release() {
  if (FFd < 0)
    return;
  ::flock(FFd, LOCK_UN);
  ::close(FFd);
  FFd = -1;
}

QString FolderProblem(const QString &Folder) {
  const QByteArray name = QFile::encodeName(Folder);
  struct stat st;
  if (::stat(name.constData(), &st) != 0)
    return SystemReason(errno);
  if (!S_ISDIR(st.st_mode))
    return SystemReason(ENOTDIR);
  // A folder where the program's files cannot be made is read-only to it,
  // whatever its mode bits say (root passes those, a read-only mount does not).
  QByteArray probe = name + "/.kv-probe-XXXXXX";
  const int fd = ::mkstemp(probe.data());
  if (fd < 0)
    return SystemReason(errno);
  // One byte reaches the disk only when a block is left for it.
  const char byte = 0;
  int err = 0;
  if (::write(fd, &byte, 1) != 1 || ::fsync(fd) != 0)
    err = errno;
  ::close(fd);
  ::unlink(probe.constData());
  struct statvfs vfs;
  if (err == 0 && ::statvfs(name.constData(), &vfs) == 0 && vfs.f_bavail == 0)
    err = ENOSPC;
  return err ? SystemReason(err) : QString();
}
