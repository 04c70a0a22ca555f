#pragma once
// What the benchmarks share: the spread of repeated runs, the machine's load,
// and running a second pass of the same program pinned to one core. On a
// shared machine a wake-up on another core costs more than the work; with
// every thread on one core (the children a pinned process starts inherit
// it) the figure is the work's own.
#include <QByteArray>
#include <QFile>
#include <QList>
#include <QThread>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <sched.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace bench {

struct TSpread {
  double Min = 0, Median = 0, Max = 0;
};

inline TSpread Spread(std::vector<double> Values) {
  if (Values.empty())
    return {};
  std::sort(Values.begin(), Values.end());
  return {Values.front(), Values[Values.size() / 2], Values.back()};
}

inline double Median(std::vector<double> Values) { return Spread(std::move(Values)).Median; }

// "min / median / max" with Scale applied (e.g. 1e3 for milliseconds).
inline std::string Text(const TSpread &S, double Scale = 1.0, int Decimals = 3) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "%.*f / %.*f / %.*f", Decimals, S.Min * Scale, Decimals, S.Median * Scale,
                Decimals, S.Max * Scale);
  return buf;
}

inline QByteArray LoadAverage() {
  QFile f("/proc/loadavg");
  return f.open(QIODevice::ReadOnly) ? f.readAll().split(' ').mid(0, 3).join(' ') : QByteArray("?");
}

// "8 cores, load 4.1 3.9 3.2" or "on core 5, load ..." for a pinned process.
inline std::string Machine() {
  cpu_set_t set;
  CPU_ZERO(&set);
  std::string where = std::to_string(QThread::idealThreadCount()) + " cores";
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) == 1)
    for (int c = 0; c < CPU_SETSIZE; ++c)
      if (CPU_ISSET(c, &set))
        where = "one core (" + std::to_string(c) + ")";
  return where + ", load " + LoadAverage().toStdString();
}

inline bool OnOneCore() {
  cpu_set_t set;
  CPU_ZERO(&set);
  return sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) == 1;
}

// The core that was idle longest over the next 200 ms (core 0 only when it is
// the only one: tests are told to pin there).
inline int QuietestCore() {
  auto idle = [] {
    std::vector<long long> out;
    QFile f("/proc/stat");
    if (!f.open(QIODevice::ReadOnly))
      return out;
    for (const QByteArray &line : f.readAll().split('\n')) {
      if (!line.startsWith("cpu") || line.startsWith("cpu "))
        continue;
      const QList<QByteArray> f = line.simplified().split(' ');
      out.push_back(f.size() > 5 ? f[4].toLongLong() + f[5].toLongLong() : 0);
    }
    return out;
  };
  const std::vector<long long> a = idle();
  usleep(200000);
  const std::vector<long long> b = idle();
  int best = 0;
  long long most = -1;
  for (size_t c = 0; c < std::min(a.size(), b.size()); ++c)
    if ((c > 0 || b.size() == 1) && b[c] - a[c] > most) {
      most = b[c] - a[c];
      best = int(c);
    }
  return best;
}

// Runs this program again with Args, pinned to the quietest core; its output
// goes where ours does. Returns its exit code.
inline int RunOnOneCore(const char *Self, std::vector<std::string> Args) {
  const int core = QuietestCore();
  std::fflush(stdout);
  std::fflush(stderr);
  const pid_t pid = fork();
  if (pid < 0)
    return 1;
  if (pid == 0) {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(core, &set);
    sched_setaffinity(0, sizeof set, &set);
    std::vector<char *> argv{const_cast<char *>(Self)};
    for (std::string &a : Args)
      argv.push_back(a.data());
    argv.push_back(nullptr);
    execv("/proc/self/exe", argv.data());
    _exit(127);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

} // namespace bench
