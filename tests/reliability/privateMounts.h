#pragma once
// A mount namespace of the calling process's own, for tests that mount small
// tmpfs file systems: whatever they mount goes with the process.
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <unistd.h>

inline bool WriteProcText(const char *Path, const std::string &Text) {
  const int fd = ::open(Path, O_WRONLY | O_CLOEXEC);
  if (fd < 0)
    return false;
  const bool ok = ::write(fd, Text.data(), Text.size()) == ssize_t(Text.size());
  ::close(fd);
  return ok;
}

// A mount namespace (and a user namespace too when not privileged, which
// needs a process of one thread) whose mounts stay private. "" or why not.
inline std::string EnterPrivateMounts() {
  if (::unshare(CLONE_NEWNS) != 0) {
    const uid_t uid = ::getuid();
    const gid_t gid = ::getgid();
    if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
      return std::string("unshare: ") + std::strerror(errno);
    WriteProcText("/proc/self/setgroups", "deny");
    WriteProcText("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1");
    WriteProcText("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");
  }
  if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
    return std::string("private mounts: ") + std::strerror(errno);
  return std::string();
}
