#include "uDevSimServer.h"

#include "uErrors.h"
#include "uSimDevice.h"
#include "uSimSlave.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <list>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

using TClock = std::chrono::steady_clock;

// A peer that does not take our bytes for this long has gone: what is left of
// the answer is dropped, as a line nobody listens to drops it.
constexpr int WriteStallMs = 1000;

enum class TSendResult { Ok, Stopped, Failed };

QString SystemError(int Error) { return QString::fromLocal8Bit(strerror(Error)); }

void CloseFd(int &Fd) {
  if (Fd >= 0)
    ::close(Fd);
  Fd = -1;
}

struct TClient {
  int Fd;
  TSimTcpSlave Slave;
};

} // namespace

struct TDevSimServer::TState {
  explicit TState(TSimDevice &Device) : Rtu(Device) {}
  ~TState() {
    CloseFd(WakeFd);
    CloseFd(MasterFd);
    CloseFd(SlaveFd);
    CloseFd(ListenFd);
    for (TClient &c : Clients)
      CloseFd(c.Fd);
  }

  // Waits until Fd is ready for Events or Ms pass (-1: no limit). False when
  // Stop woke us. Ready reports whether Fd became ready.
  bool Wait(int Fd, short Events, std::chrono::nanoseconds Timeout, bool &Ready) {
    pollfd fds[2] = {{WakeFd, POLLIN, 0}, {Fd, Events, 0}};
    const timespec ts{time_t(Timeout.count() / 1000000000), long(Timeout.count() % 1000000000)};
    for (;;) {
      const int n = ppoll(fds, Fd >= 0 ? 2 : 1, &ts, nullptr);
      if (n < 0 && errno == EINTR)
        continue;
      Ready = n > 0 && Fd >= 0 && fds[1].revents != 0;
      return !(n > 0 && (fds[0].revents & POLLIN));
    }
  }

  TSendResult WriteAll(int Fd, const char *Data, size_t Count, bool IsSocket) {
    while (Count > 0) {
      const ssize_t n = IsSocket ? ::send(Fd, Data, Count, MSG_NOSIGNAL) : ::write(Fd, Data, Count);
      if (n > 0) {
        Data += n;
        Count -= size_t(n);
        continue;
      }
      if (n < 0 && errno == EINTR)
        continue;
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
        return TSendResult::Failed;
      bool ready = false;
      if (!Wait(Fd, POLLOUT, std::chrono::milliseconds(WriteStallMs), ready))
        return TSendResult::Stopped;
      if (!ready)
        return IsSocket ? TSendResult::Failed : TSendResult::Ok;
    }
    return TSendResult::Ok;
  }

  // Sends one answer, late if it asks to be, and paced at Baud when given:
  // byte i leaves when its tenth bit would have been on the line.
  TSendResult Send(int Fd, const TSimAnswer &Answer, int Baud, bool IsSocket) {
    bool ready = false;
    const qsizetype functionAt = IsSocket ? 7 : 1;
    const int function = Answer.Bytes.size() > functionAt ? uint8_t(Answer.Bytes[functionAt]) & 0x7F : -1;
    auto held = [&] { return Held->load() && (*HeldFunction < 0 || *HeldFunction == function); };
    while (held())
      if (!Wait(-1, 0, std::chrono::milliseconds(5), ready))
        return TSendResult::Stopped;
    if (Answer.DelayMs > 0 && !Wait(-1, 0, std::chrono::milliseconds(Answer.DelayMs), ready))
      return TSendResult::Stopped;
    const QByteArray &bytes = Answer.Bytes;
    if (Baud <= 0)
      return WriteAll(Fd, bytes.constData(), size_t(bytes.size()), IsSocket);
    const auto byteTime = std::chrono::nanoseconds(10'000'000'000LL / Baud);
    const auto start = TClock::now();
    qsizetype sent = 0;
    while (sent < bytes.size()) {
      const auto elapsed = TClock::now() - start;
      const qsizetype due = std::min<qsizetype>(bytes.size(), qsizetype(elapsed / byteTime));
      if (due > sent) {
        const TSendResult r = WriteAll(Fd, bytes.constData() + sent, size_t(due - sent), IsSocket);
        if (r != TSendResult::Ok)
          return r;
        sent = due;
        continue;
      }
      const auto next = byteTime * (sent + 1) - std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed);
      if (!Wait(-1, 0, next, ready))
        return TSendResult::Stopped;
    }
    return TSendResult::Ok;
  }

  int WakeFd = -1;
  int MasterFd = -1;
  int SlaveFd = -1;
  int ListenFd = -1;
  TSimRtuSlave Rtu;
  // The server's hold switch.
  const std::atomic<bool> *Held = nullptr;
  const std::atomic<int> *HeldFunction = nullptr;
  TClock::time_point LastRtuByte;
  std::list<TClient> Clients;
};

TDevSimServer::TDevSimServer(TSimDevice &Device) : FDevice(Device) {}

TDevSimServer::~TDevSimServer() { Stop(); }

void TDevSimServer::Start(const TDevSimOptions &Options) {
  Stop();
  auto state = std::make_unique<TState>(FDevice);
  state->Held = &FHeld;
  state->HeldFunction = &FHeldFunction;
  state->WakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (state->WakeFd < 0)
    throw EKvError(QStringLiteral("cannot create event: ") + SystemError(errno));
  QString ptyPath;
  if (Options.UsePty) {
    state->MasterFd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128] = {};
    if (state->MasterFd < 0 || grantpt(state->MasterFd) != 0 || unlockpt(state->MasterFd) != 0 ||
        ptsname_r(state->MasterFd, name, sizeof name) != 0)
      throw EKvError(QStringLiteral("cannot open pseudo-terminal: ") + SystemError(errno));
    // Our own handle on the slave keeps the line's settings and spares the
    // master the hang-up error while no port has it open. The line starts in
    // cooked mode with echo, which would bounce our answers back to us.
    state->SlaveFd = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios tio{};
    if (state->SlaveFd < 0 || tcgetattr(state->SlaveFd, &tio) != 0)
      throw EKvError(QStringLiteral("cannot open pseudo-terminal: ") + SystemError(errno));
    cfmakeraw(&tio);
    if (tcsetattr(state->SlaveFd, TCSANOW, &tio) != 0 ||
        fcntl(state->MasterFd, F_SETFL, fcntl(state->MasterFd, F_GETFL) | O_NONBLOCK) != 0)
      throw EKvError(QStringLiteral("cannot open pseudo-terminal: ") + SystemError(errno));
    ptyPath = QString::fromLocal8Bit(name);
  }
  uint16_t port = 0;
  if (Options.UseTcp) {
    const QString where = QStringLiteral("cannot listen on 127.0.0.1:%1: ").arg(Options.TcpPort);
    state->ListenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (state->ListenFd < 0)
      throw EKvError(where + SystemError(errno));
    const int on = 1;
    setsockopt(state->ListenFd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(Options.TcpPort);
    socklen_t len = sizeof addr;
    if (::bind(state->ListenFd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
        ::listen(state->ListenFd, 8) != 0 ||
        ::getsockname(state->ListenFd, reinterpret_cast<sockaddr *>(&addr), &len) != 0)
      throw EKvError(where + SystemError(errno));
    port = ntohs(addr.sin_port);
  }
  FBaud = Options.Baud;
  FPtyPath = ptyPath;
  FTcpPort = port;
  FState = std::move(state);
  FThread = std::thread([this] { Run(); });
}

void TDevSimServer::Stop() {
  if (FThread.joinable()) {
    const uint64_t one = 1;
    // The event counter cannot overflow from one write; the result needs no check.
    [[maybe_unused]] const ssize_t n = ::write(FState->WakeFd, &one, sizeof one);
    FThread.join();
  }
  FState.reset();
  FPtyPath.clear();
  FTcpPort = 0;
}

void TDevSimServer::Run() {
  TState &s = *FState;
  std::vector<pollfd> fds;
  std::vector<TClient *> polled;
  char buf[4096];
  auto sendRtu = [&](const std::vector<TSimAnswer> &answers) {
    for (const TSimAnswer &a : answers)
      if (s.Send(s.MasterFd, a, FBaud, false) == TSendResult::Stopped)
        return false;
    return true;
  };
  for (;;) {
    fds.clear();
    polled.clear();
    fds.push_back({s.WakeFd, POLLIN, 0});
    fds.push_back({s.MasterFd, POLLIN, 0});
    fds.push_back({s.ListenFd, POLLIN, 0});
    for (TClient &c : s.Clients) {
      fds.push_back({c.Fd, POLLIN, 0});
      polled.push_back(&c);
    }
    int timeoutMs = -1;
    if (s.Rtu.HasPending()) {
      const auto quiet = std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now() - s.LastRtuByte);
      timeoutMs = std::max(0, s.Rtu.SilenceToEndMs() - int(quiet.count()) + 1);
    }
    const int n = ::poll(fds.data(), nfds_t(fds.size()), timeoutMs);
    if (n < 0 && errno != EINTR)
      return;
    if (fds[0].revents & POLLIN)
      return;
    // Reads what the line holds now; false when the server is to stop.
    auto readRtu = [&] {
      const ssize_t got = ::read(s.MasterFd, buf, sizeof buf);
      if (got > 0) {
        s.LastRtuByte = TClock::now();
        return sendRtu(s.Rtu.Feed(buf, size_t(got)));
      }
      return true;
    };
    if ((fds[1].revents & POLLIN) && !readRtu())
      return;
    if (s.Rtu.HasPending() &&
        TClock::now() - s.LastRtuByte >= std::chrono::milliseconds(s.Rtu.SilenceToEndMs())) {
      // This thread may have been held up past the silence: bytes already
      // waiting came before it ended and belong to the frame.
      pollfd waiting{s.MasterFd, POLLIN, 0};
      if (::poll(&waiting, 1, 0) == 1 && (waiting.revents & POLLIN)) {
        if (!readRtu())
          return;
      } else if (!sendRtu(s.Rtu.EndOfFrame())) {
        return;
      }
    }
    if (fds[2].revents & POLLIN) {
      const int fd = ::accept4(s.ListenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd >= 0) {
        const int on = 1;
        // Answers are single small writes: send each at once.
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        s.Clients.push_back(TClient{fd, TSimTcpSlave(FDevice)});
      }
    }
    for (size_t i = 0; i < polled.size(); ++i) {
      TClient &c = *polled[i];
      if (fds[3 + i].revents == 0)
        continue;
      const ssize_t got = ::recv(c.Fd, buf, sizeof buf, 0);
      bool drop = got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR);
      if (got > 0) {
        for (const TSimAnswer &a : c.Slave.Feed(buf, size_t(got))) {
          const TSendResult r = s.Send(c.Fd, a, 0, true);
          if (r == TSendResult::Stopped)
            return;
          drop = drop || r == TSendResult::Failed;
        }
        drop = drop || c.Slave.IsBroken();
      }
      if (drop) {
        CloseFd(c.Fd);
        s.Clients.remove_if([](const TClient &x) { return x.Fd < 0; });
        // The others keep what they have to read until the next poll.
        break;
      }
    }
  }
}
