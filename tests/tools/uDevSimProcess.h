#pragma once
// Test helper: runs a program that announces where it listens on stdout
// ("pty PATH", "tcp 127.0.0.1:PORT" from devsim, or any line a peer server
// prints), waits for those lines with a deadline, and stops it by its pid.
#include <QString>
#include <QStringList>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <cstring>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

class TDevSimProcess {
public:
  // The devsim program built beside the tests.
  static QString DevSimPath() { return QStringLiteral(KV_BUILD_DIR "/bin/devsim"); }

  TDevSimProcess() = default;
  TDevSimProcess(const TDevSimProcess &) = delete;
  TDevSimProcess &operator=(const TDevSimProcess &) = delete;
  ~TDevSimProcess() { Stop(); }

  // Starts Program with Args, stdout to a pipe read by WaitLine.
  void Start(const QString &Program, const QStringList &Args) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
      throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    std::vector<std::string> strings{Program.toStdString()};
    for (const QString &a : Args)
      strings.push_back(a.toStdString());
    std::vector<char *> argv;
    for (std::string &s : strings)
      argv.push_back(s.data());
    argv.push_back(nullptr);
    const int rc = posix_spawn(&FPid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    FOut = fds[0];
    if (rc != 0) {
      FPid = -1;
      throw std::runtime_error("cannot start " + strings[0] + ": " + strerror(rc));
    }
  }

  // The next stdout line (without its end); throws when none comes in TimeoutMs
  // or the program ends first.
  QString WaitLine(int TimeoutMs = 30000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
    for (;;) {
      const size_t eol = FPending.find('\n');
      if (eol != std::string::npos) {
        const QString line = QString::fromStdString(FPending.substr(0, eol));
        FPending.erase(0, eol + 1);
        return line;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0)
        throw std::runtime_error("no line from the program in time");
      pollfd p{FOut, POLLIN, 0};
      if (::poll(&p, 1, int(left.count())) < 0 && errno != EINTR)
        throw std::runtime_error("poll failed");
      if (p.revents) {
        char buf[512];
        const ssize_t n = ::read(FOut, buf, sizeof buf);
        if (n <= 0)
          throw std::runtime_error("the program ended before its line: " + FPending);
        FPending.append(buf, size_t(n));
      }
    }
  }

  // Lines until one starts with Prefix; returns the rest of that line.
  QString WaitFor(const QString &Prefix, int TimeoutMs = 30000) {
    for (;;) {
      const QString line = WaitLine(TimeoutMs);
      if (line.startsWith(Prefix))
        return line.mid(Prefix.size());
    }
  }

  void Signal(int Sig) {
    if (FPid > 0)
      ::kill(FPid, Sig);
  }

  // SIGTERM to the pid, then waits for it; returns the exit status as waitpid gives it.
  int Stop() {
    int status = -1;
    if (FPid > 0) {
      ::kill(FPid, SIGTERM);
      while (::waitpid(FPid, &status, 0) < 0 && errno == EINTR) {
      }
      FPid = -1;
    }
    if (FOut >= 0)
      ::close(FOut);
    FOut = -1;
    return status;
  }

  pid_t Pid() const { return FPid; }

private:
  pid_t FPid = -1;
  int FOut = -1;
  std::string FPending;
};
