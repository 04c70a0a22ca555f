#pragma once
// What a test's code syncs to disk: this header defines fsync and fdatasync
// for the whole test program, so include it in one source of the program
// only. While a TSyncLog lives, each call is recorded as "file" or as
// "folder <path>" (a new file may have no name yet when it is synced), then
// passed on to the system.
#include <QFile>
#include <QString>
#include <QStringList>
#include <mutex>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace synclog {
inline std::mutex Lock;
inline QStringList *Current = nullptr;

inline void Record(int Fd) {
  std::lock_guard<std::mutex> hold(Lock);
  if (!Current)
    return;
  struct stat st {};
  if (::fstat(Fd, &st) != 0 || !S_ISDIR(st.st_mode)) {
    Current->append(QStringLiteral("file"));
    return;
  }
  char path[4096];
  const QByteArray link = "/proc/self/fd/" + QByteArray::number(Fd);
  const ssize_t n = ::readlink(link.constData(), path, sizeof path);
  Current->append(QStringLiteral("folder ") + QFile::decodeName(QByteArray(path, n > 0 ? int(n) : 0)));
}
} // namespace synclog

extern "C" int fsync(int Fd) {
  synclog::Record(Fd);
  return int(::syscall(SYS_fsync, Fd));
}

extern "C" int fdatasync(int Fd) {
  synclog::Record(Fd);
  return int(::syscall(SYS_fdatasync, Fd));
}

// Records the syncs made while it lives.
class TSyncLog {
public:
  TSyncLog() {
    std::lock_guard<std::mutex> hold(synclog::Lock);
    synclog::Current = &FSynced;
  }
  ~TSyncLog() {
    std::lock_guard<std::mutex> hold(synclog::Lock);
    synclog::Current = nullptr;
  }
  QStringList Synced() const {
    std::lock_guard<std::mutex> hold(synclog::Lock);
    return FSynced;
  }

private:
  QStringList FSynced;
};
