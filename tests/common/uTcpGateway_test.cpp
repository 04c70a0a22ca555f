#include "uTcpGateway.h"

#include "uDevSimServer.h"
#include "uSimDevice.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

using TClock = std::chrono::steady_clock;
using TUp = TTcpGateway::TUpstream;

QByteArray Hex(const char *Text) { return QByteArray::fromHex(QByteArray(Text).replace(' ', "")); }

// Reads until Count bytes came or 20 s passed.
QByteArray ReadBytes(int Fd, int Count) {
  QByteArray out;
  const auto deadline = TClock::now() + std::chrono::seconds(20);
  while (out.size() < Count && TClock::now() < deadline) {
    pollfd p{Fd, POLLIN, 0};
    if (::poll(&p, 1, 100) == 1) {
      char buf[512];
      const ssize_t n = ::read(Fd, buf, size_t(Count - out.size()));
      if (n <= 0)
        break;
      out.append(buf, n);
    }
  }
  return out;
}

template <typename F> bool WaitFor(F Condition) {
  const auto deadline = TClock::now() + std::chrono::seconds(20);
  while (!Condition() && TClock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return Condition();
}

struct TUpstreamSim {
  explicit TUpstreamSim(uint16_t Holding0) : Server(Device) {
    Device.SetRegister(TSimArea::Holding, 0, Holding0);
    TDevSimOptions o;
    o.UsePty = false;
    Server.Start(o);
  }
  TSimDevice Device;
  TDevSimServer Server;
};

} // namespace

TEST(TcpGateway, MovesOneKeptConnectionBetweenUpstreamsRefusesAndStaysSilent) {
  TUpstreamSim a(0x0A0A), b(0x0B0B);
  TTcpGateway gateway(a.Server.TcpPort(), b.Server.TcpPort());
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(gateway.Port());
  ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
  const auto exchange = [fd](const char *Request, int AnswerBytes) {
    const QByteArray r = Hex(Request);
    EXPECT_EQ(::write(fd, r.constData(), size_t(r.size())), r.size());
    return ReadBytes(fd, AnswerBytes).toHex(' ');
  };

  EXPECT_EQ(exchange("0001 0000 0006 01 03 0000 0001", 11), "00 01 00 00 00 05 01 03 02 0a 0a");
  gateway.Target(TUp::B);
  EXPECT_EQ(exchange("0002 0000 0006 01 03 0000 0001", 11), "00 02 00 00 00 05 01 03 02 0b 0b");
  EXPECT_EQ(exchange("0003 0000 0006 01 06 0005 0007", 12), "00 03 00 00 00 06 01 06 00 05 00 07");

  gateway.Mode(TTcpGateway::TMode::Exception);
  EXPECT_EQ(exchange("0004 0000 0006 07 06 0005 0008", 9), "00 04 00 00 00 03 07 86 0b");
  // Silent: the answer that comes next is the one to the request after it.
  gateway.Mode(TTcpGateway::TMode::Silent);
  const QByteArray unanswered = Hex("0005 0000 0006 01 06 0005 0009");
  ASSERT_EQ(::write(fd, unanswered.constData(), size_t(unanswered.size())), unanswered.size());
  ASSERT_TRUE(WaitFor([&] { return gateway.Received() == 5; }));
  gateway.Mode(TTcpGateway::TMode::Forward);
  gateway.Target(TUp::A);
  EXPECT_EQ(exchange("0006 0000 0006 01 03 0000 0001", 11), "00 06 00 00 00 05 01 03 02 0a 0a");
  ::close(fd);

  EXPECT_EQ(gateway.Connections(), 1);
  EXPECT_EQ(gateway.Forwarded(TUp::A), 2);
  EXPECT_EQ(gateway.Forwarded(TUp::B), 2);
  EXPECT_EQ(gateway.Writes(TUp::A), 0);
  EXPECT_EQ(gateway.Writes(TUp::B), 1);
  EXPECT_EQ(a.Device.RequestLog().size(), 2u);
  EXPECT_EQ(b.Device.RequestLog().size(), 2u);
  EXPECT_EQ(b.Device.Register(TSimArea::Holding, 5), 7);
}

TEST(TcpGateway, TriggersSwitchHoldAndCloseAtTheRequestTheyName) {
  TUpstreamSim a(0x0A0A), b(0x0B0B);
  TTcpGateway gateway(a.Server.TcpPort(), b.Server.TcpPort());
  const auto connect = [&gateway] {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(gateway.Port());
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    return fd;
  };
  int fd = connect();
  const auto send = [&fd](const char *Request) {
    const QByteArray r = Hex(Request);
    EXPECT_EQ(::write(fd, r.constData(), size_t(r.size())), r.size());
  };
  const QByteArray fromA = "00 01 00 00 00 05 01 03 02 0a 0a", fromB = "00 01 00 00 00 05 01 03 02 0b 0b";
  const char *read = "0001 0000 0006 01 03 0000 0001";

  // The second read after a write goes to B, the write and the read before it to A.
  gateway.SwitchAt({0x03, 2, 0x06}, TUp::B);
  send("0001 0000 0006 01 06 0005 0007");
  EXPECT_EQ(ReadBytes(fd, 12).size(), 12);
  send(read);
  EXPECT_EQ(ReadBytes(fd, 11).toHex(' '), fromA);
  send(read);
  EXPECT_EQ(ReadBytes(fd, 11).toHex(' '), fromB);
  EXPECT_EQ(gateway.Armed(), 0);

  // A held answer comes only once released.
  gateway.HoldAt({0x03, 1, 0});
  send(read);
  ASSERT_TRUE(WaitFor([&] { return gateway.Holding() && b.Device.RequestLog().size() == 2; }));
  pollfd p{fd, POLLIN, 0};
  EXPECT_EQ(::poll(&p, 1, 200), 0);
  gateway.Release();
  EXPECT_EQ(ReadBytes(fd, 11).toHex(' '), fromB);

  // Closed at the request, which goes nowhere; the next connection is A's.
  gateway.CloseAt({0x03, 1, 0}, TUp::A);
  send(read);
  EXPECT_EQ(ReadBytes(fd, 1), QByteArray()) << "closed";
  ::close(fd);
  fd = connect();
  send(read);
  EXPECT_EQ(ReadBytes(fd, 11).toHex(' '), fromA);
  ::close(fd);
  EXPECT_EQ(gateway.Forwarded(TUp::B), 2);
  EXPECT_EQ(gateway.Forwarded(TUp::A), 3);
}

// After the chosen answer of a function (reads not counted): 0B to every
// request after it, or the program's connection hung up on right after it
// and 0B on the one made anew.
TEST(TcpGateway, FailsAfterTheChosenAnswer) {
  TUpstreamSim a(0x0A0A), b(0x0B0B);
  for (const TTcpGateway::TAfter after : {TTcpGateway::TAfter::Exception, TTcpGateway::TAfter::Close}) {
    SCOPED_TRACE(int(after));
    TTcpGateway gateway(a.Server.TcpPort(), b.Server.TcpPort());
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(gateway.Port());
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    const auto exchange = [&fd](const char *Request, int AnswerBytes) {
      const QByteArray r = Hex(Request);
      EXPECT_EQ(::write(fd, r.constData(), size_t(r.size())), r.size());
      return ReadBytes(fd, AnswerBytes).toHex(' ');
    };
    gateway.FailAfter(2, after, 0x06);
    EXPECT_EQ(exchange("0001 0000 0006 01 06 0005 0007", 12), "00 01 00 00 00 06 01 06 00 05 00 07");
    EXPECT_EQ(exchange("0002 0000 0006 01 03 0000 0001", 11), "00 02 00 00 00 05 01 03 02 0a 0a");
    EXPECT_EQ(exchange("0003 0000 0006 01 06 0006 0008", 12), "00 03 00 00 00 06 01 06 00 06 00 08");
    if (after == TTcpGateway::TAfter::Close) {
      char byte;
      EXPECT_EQ(::read(fd, &byte, 1), 0); // hung up
      ::close(fd);
      fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    }
    EXPECT_EQ(exchange("0004 0000 0006 01 03 0000 0001", 9), "00 04 00 00 00 03 01 83 0b");
    ::close(fd);
    EXPECT_EQ(gateway.Answered(), 3);
  }
}

// A line of two relays on one port: each request goes to the relay of its
// unit id whatever the target, the poll's unit 255 to the target, any other
// unit is refused as a gateway with no such device on its line does.
TEST(TcpGateway, ALineRoutesEachRequestByItsUnit) {
  TUpstreamSim a(0x0A0A), b(0x0B0B);
  b.Device.SetAddress(2);
  TTcpGateway gateway(a.Server.TcpPort(), b.Server.TcpPort());
  gateway.Line(1, 2);
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(gateway.Port());
  ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
  const auto exchange = [fd](const char *Request, int AnswerBytes) {
    const QByteArray r = Hex(Request);
    EXPECT_EQ(::write(fd, r.constData(), size_t(r.size())), r.size());
    return ReadBytes(fd, AnswerBytes).toHex(' ');
  };
  gateway.Target(TUp::B);
  EXPECT_EQ(exchange("0001 0000 0006 01 03 0000 0001", 11), "00 01 00 00 00 05 01 03 02 0a 0a");
  EXPECT_EQ(exchange("0002 0000 0006 02 03 0000 0001", 11), "00 02 00 00 00 05 02 03 02 0b 0b");
  EXPECT_EQ(exchange("0003 0000 0006 03 03 0000 0001", 9), "00 03 00 00 00 03 03 83 0b");
  gateway.Target(TUp::A);
  EXPECT_EQ(exchange("0004 0000 0006 02 06 0005 0007", 12), "00 04 00 00 00 06 02 06 00 05 00 07");
  ::close(fd);
  EXPECT_EQ(gateway.Forwarded(TUp::A), 1);
  EXPECT_EQ(gateway.Forwarded(TUp::B), 2);
  EXPECT_EQ(b.Device.Register(TSimArea::Holding, 5), 7);
  EXPECT_EQ(a.Device.Register(TSimArea::Holding, 5), 0);
}
