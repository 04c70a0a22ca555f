#include "uLocker.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

TLockFile::~TLockFile() { Release(); }

bool TLockFile::Take(const QString &Path, QString *Reason) {
  Release();
  const QByteArray name = QFile::encodeName(Path);
  const int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    if (Reason)
      *Reason = QString::fromLocal8Bit(std::strerror(errno));
    return false;
  }
  int rc;
  do
    rc = ::flock(fd, LOCK_EX | LOCK_NB);
  while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    const int err = errno;
    ::close(fd);
    if (Reason)
      *Reason = err == EWOULDBLOCK ? QStringLiteral("held by another copy") : QString::fromLocal8Bit(std::strerror(err));
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
