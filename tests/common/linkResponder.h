#pragma once
// A small scripted Modbus responder for the link tests: the master's side of a
// pseudo-terminal pair (the code under test opens the slave as its serial
// port) or a TCP listener on 127.0.0.1. Each script step waits for one whole
// request, records it and answers with the step's bytes (none = silence).
// All waits poll with generous deadlines; nothing depends on speed.
#include "crc.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace linktest {

constexpr int DeadlineMs = 20000;

// "01 03 00 64" -> bytes.
inline QByteArray Hex(const char *Text) { return QByteArray::fromHex(QByteArray(Text).replace(' ', "")); }
inline QString Spaced(const QByteArray &Bytes) { return QString::fromLatin1(Bytes.toHex(' ').toUpper()); }
// Frame with its CRC-16 appended, low byte first.
inline QByteArray WithCrc(const QByteArray &Frame) {
  const uint16_t crc = Crc16(Frame);
  QByteArray f = Frame;
  f.append(char(crc >> 8));
  f.append(char(crc & 0xFF));
  return f;
}
// A Modbus TCP answer: MBAP header (transaction 0, protocol 0, length) and the PDU with unit.
inline QByteArray Mbap(const QByteArray &Pdu, uint16_t Transaction = 0) {
  QByteArray f(6, '\0');
  f[0] = char(Transaction >> 8);
  f[1] = char(Transaction & 0xFF);
  f[4] = char(Pdu.size() >> 8);
  f[5] = char(Pdu.size() & 0xFF);
  return f + Pdu;
}

// Polls Cond until it holds or the deadline passes.
inline bool WaitFor(const std::function<bool()> &Cond, int TimeoutMs = DeadlineMs) {
  const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
  while (!Cond()) {
    if (std::chrono::steady_clock::now() > limit)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

struct TStep {
  int RequestBytes = 0; // serial only: the length of the request to wait for
  QByteArray Reply;     // empty: stay silent
  bool Hangup = false;  // TCP only: close the connection instead of answering
  bool SplitReply = false; // write the reply in two parts, a moment apart
};

// Common part: script queue, recorded requests, the thread.
class TResponderBase {
public:
  virtual ~TResponderBase() = default;

  void Add(const TStep &Step) {
    std::lock_guard g(FLock);
    FSteps.push_back(Step);
  }
  QList<QByteArray> Requests() const {
    std::lock_guard g(FLock);
    return FRequests;
  }
  bool WaitAnswered(int Count) {
    return WaitFor([&] { return FAnswered.load() >= Count; });
  }

protected:
  void Start() { FThread = std::thread([this] { Run(); }); }
  void Stop() {
    FStop = true;
    if (FThread.joinable())
      FThread.join();
  }
  virtual void Run() = 0;

  // Takes the next step for a request that arrived; false when none is scripted.
  bool NextStep(const QByteArray &Request, TStep &Step) {
    std::lock_guard g(FLock);
    FRequests << Request;
    if (FSteps.empty())
      return false;
    Step = FSteps.front();
    FSteps.pop_front();
    return true;
  }
  int PendingRequestBytes() const {
    std::lock_guard g(FLock);
    return FSteps.empty() ? 1 << 20 : FSteps.front().RequestBytes;
  }
  static void WriteAll(int Fd, const QByteArray &Data) {
    int done = 0;
    while (done < Data.size()) {
      const ssize_t n = ::write(Fd, Data.constData() + done, size_t(Data.size() - done));
      if (n > 0)
        done += int(n);
      else
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  static void Reply(int Fd, const TStep &Step) {
    if (!Step.SplitReply) {
      WriteAll(Fd, Step.Reply);
      return;
    }
    const qsizetype half = Step.Reply.size() / 2;
    WriteAll(Fd, Step.Reply.left(half));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    WriteAll(Fd, Step.Reply.mid(half));
  }

  std::atomic<bool> FStop{false};
  std::atomic<int> FAnswered{0};

private:
  mutable std::mutex FLock;
  std::deque<TStep> FSteps;
  QList<QByteArray> FRequests;
  std::thread FThread;
};

// The master side of a pseudo-terminal. The responder keeps a slave descriptor
// of its own, so the master never sees a hang-up between the port's opens and
// the test can look at the line settings.
class TPtyResponder : public TResponderBase {
public:
  TPtyResponder() {
    FMaster = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (FMaster < 0 || ::grantpt(FMaster) != 0 || ::unlockpt(FMaster) != 0)
      throw std::runtime_error("no pseudo-terminal");
    FSlavePath = QString::fromLocal8Bit(::ptsname(FMaster));
    FSlave = ::open(::ptsname(FMaster), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ::fcntl(FMaster, F_SETFL, ::fcntl(FMaster, F_GETFL) | O_NONBLOCK);
    Start();
  }
  ~TPtyResponder() override {
    Stop();
    ::close(FSlave);
    ::close(FMaster);
  }
  QString SlavePath() const { return FSlavePath; }
  int SlaveFd() const { return FSlave; }
  // Bytes waiting in the slave's input queue (sent by the responder, not yet read).
  int SlaveInputBytes() const {
    int n = 0;
    ::ioctl(FSlave, FIONREAD, &n);
    return n;
  }
  // Sends bytes towards the port outside any script step.
  void Send(const QByteArray &Data) { WriteAll(FMaster, Data); }
  // Bytes the port wrote that no step took as a request.
  QByteArray Unclaimed() const {
    std::lock_guard g(FPendingLock);
    return FPending;
  }

protected:
  void Run() override {
    char buf[4096];
    while (!FStop) {
      pollfd p{FMaster, POLLIN, 0};
      ::poll(&p, 1, 10);
      const ssize_t n = ::read(FMaster, buf, sizeof buf);
      std::unique_lock g(FPendingLock);
      if (n > 0)
        FPending.append(buf, n);
      const int need = PendingRequestBytes();
      if (FPending.size() < need)
        continue;
      const QByteArray req = FPending.left(need);
      FPending.remove(0, need);
      g.unlock();
      TStep step;
      if (NextStep(req, step))
        Reply(FMaster, step);
      ++FAnswered;
    }
  }

private:
  int FMaster = -1;
  int FSlave = -1;
  QString FSlavePath;
  mutable std::mutex FPendingLock;
  QByteArray FPending;
};

// A Modbus TCP server on 127.0.0.1 with a port chosen by the system; one client
// at a time, a new connection replaces the old one.
class TTcpResponder : public TResponderBase {
public:
  TTcpResponder() {
    FListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(FListen, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || ::listen(FListen, 4) != 0 ||
        ::getsockname(FListen, reinterpret_cast<sockaddr *>(&a), &len) != 0)
      throw std::runtime_error("no listening socket");
    FPort = ntohs(a.sin_port);
    Start();
  }
  ~TTcpResponder() override {
    Stop();
    if (FClient >= 0)
      ::close(FClient);
    ::close(FListen);
  }
  int Port() const { return FPort; }
  int Connections() const { return FConnections.load(); }

protected:
  void Run() override {
    QByteArray pending;
    char buf[4096];
    while (!FStop) {
      pollfd p[2] = {{FListen, POLLIN, 0}, {FClient, POLLIN, 0}};
      ::poll(p, FClient >= 0 ? 2 : 1, 10);
      if (p[0].revents & POLLIN) {
        const int c = ::accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
        if (c >= 0) {
          if (FClient >= 0)
            ::close(FClient);
          FClient = c;
          pending.clear();
          ++FConnections;
        }
        continue;
      }
      if (FClient < 0 || !(p[1].revents & (POLLIN | POLLHUP)))
        continue;
      const ssize_t n = ::recv(FClient, buf, sizeof buf, 0);
      if (n <= 0) {
        ::close(FClient);
        FClient = -1;
        continue;
      }
      pending.append(buf, n);
      while (pending.size() >= 6) {
        const int len = (uint8_t(pending[4]) << 8) | uint8_t(pending[5]);
        if (pending.size() < 6 + len)
          break;
        const QByteArray req = pending.left(6 + len);
        pending.remove(0, 6 + len);
        TStep step;
        if (NextStep(req, step)) {
          if (step.Hangup) {
            ::close(FClient);
            FClient = -1;
            pending.clear();
          } else {
            Reply(FClient, step);
          }
        }
        ++FAnswered;
        if (FClient < 0)
          break;
      }
    }
  }

private:
  int FListen = -1;
  int FClient = -1;
  int FPort = 0;
  std::atomic<int> FConnections{0};
};

// A port on 127.0.0.1 with nothing listening (taken from the system, then freed).
inline int ClosedTcpPort() {
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ::bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a);
  ::getsockname(s, reinterpret_cast<sockaddr *>(&a), &len);
  ::close(s);
  return ntohs(a.sin_port);
}

} // namespace linktest
