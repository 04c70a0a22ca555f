#include "../common/uErrorOf.h"
#include "crc.h"
#include "uDevSimServer.h"
#include "uErrors.h"
#include "uSimDevice.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace {

using TClock = std::chrono::steady_clock;

QByteArray Hex(const char *Text) { return QByteArray::fromHex(QByteArray(Text).replace(' ', "")); }

// Reads until Count bytes came or 20 s passed.
QByteArray ReadBytes(int Fd, int Count) {
  QByteArray out;
  const auto deadline = TClock::now() + std::chrono::seconds(20);
  while (out.size() < Count && TClock::now() < deadline) {
    pollfd p{Fd, POLLIN, 0};
    if (::poll(&p, 1, 100) == 1) {
      char buf[512];
      const ssize_t n = ::read(Fd, buf, std::min<size_t>(sizeof buf, size_t(Count - out.size())));
      if (n <= 0)
        break;
      out.append(buf, n);
    }
  }
  return out;
}

int OpenPty(const QString &Path) {
  const int fd = ::open(Path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios tio{};
  tcgetattr(fd, &tio);
  cfmakeraw(&tio);
  tcsetattr(fd, TCSANOW, &tio);
  return fd;
}

int ConnectTcp(uint16_t Port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(Port);
  if (::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

void Write(int Fd, const QByteArray &Bytes) { ASSERT_EQ(::write(Fd, Bytes.constData(), size_t(Bytes.size())), Bytes.size()); }

} // namespace

TEST(DevSimServer, PacedAnswerTakesAtLeastItsLineTime) {
  TSimDevice device;
  TDevSimServer server(device);
  TDevSimOptions options;
  options.UseTcp = false;
  options.Baud = 9600;
  server.Start(options);
  const int fd = OpenPty(server.PtyPath());
  // 125 registers: 255 bytes, 10 bit times each at 9600 baud are 265.6 ms.
  const auto start = TClock::now();
  Write(fd, Hex("01 03 00 00 00 7D 85 EB"));
  const QByteArray answer = ReadBytes(fd, 255);
  const auto took = TClock::now() - start;
  ::close(fd);
  ASSERT_EQ(answer.size(), 255);
  EXPECT_EQ(answer.left(3).toHex().toStdString(), "0103fa");
  EXPECT_GE(took, std::chrono::microseconds(255 * 10 * 1000000LL / 9600));
}

// The pseudo-terminal hands a long write over in parts; on a loaded machine
// the second may come long after the first. Neither is a frame of its own.
TEST(DevSimServer, AFileFrameWriteInTwoPartsFiftyMsApartIsAnswered) {
  TSimDevice device;
  device.SetFile(150, QByteArray(), 2048);
  TDevSimServer server(device);
  TDevSimOptions options;
  options.UseTcp = false;
  server.Start(options);
  const int fd = OpenPty(server.PtyPath());
  QByteArray frame = Hex("01 1B 96 00 00") + QByteArray(2048, '\x5A');
  const uint16_t crc = Crc16(frame);
  frame.append(char(crc >> 8)).append(char(crc & 0xFF));
  Write(fd, frame.left(2048));
  std::this_thread::sleep_for(std::chrono::milliseconds(50)); // the pause under test, not a wait
  Write(fd, frame.mid(2048));
  const QByteArray answer = ReadBytes(fd, 7);
  ::close(fd);
  EXPECT_EQ(answer.left(5), frame.left(5));
  EXPECT_EQ(device.FileBytes(150), QByteArray(2048, '\x5A'));
}

TEST(DevSimServer, ServesSeveralTcpClientsAndOneThatLeaves) {
  TSimDevice device;
  device.SetRegister(TSimArea::Holding, 10, 1);
  TDevSimServer server(device);
  TDevSimOptions options;
  options.UsePty = false;
  server.Start(options);
  EXPECT_TRUE(server.PtyPath().isEmpty());
  const int a = ConnectTcp(server.TcpPort());
  const int b = ConnectTcp(server.TcpPort());
  ASSERT_GE(a, 0);
  ASSERT_GE(b, 0);
  const QByteArray request = Hex("00 05 00 00 00 06 01 03 00 0A 00 01");
  const QByteArray answer = Hex("00 05 00 00 00 05 01 03 02 00 01");
  Write(a, request);
  ::close(a);
  Write(b, request);
  EXPECT_EQ(ReadBytes(b, 11), answer);
  const int c = ConnectTcp(server.TcpPort());
  Write(c, request);
  EXPECT_EQ(ReadBytes(c, 11), answer);
  ::close(b);
  ::close(c);
}

TEST(DevSimServer, StopCutsOffALateAnswer) {
  TSimDevice device;
  device.SetFault(ParseSimFault(QStringLiteral("late=3600000")));
  TDevSimServer server(device);
  server.Start(TDevSimOptions());
  const int fd = ConnectTcp(server.TcpPort());
  Write(fd, Hex("00 01 00 00 00 02 01 07"));
  const auto deadline = TClock::now() + std::chrono::seconds(20);
  while (device.RequestLog().empty() && TClock::now() < deadline)
    std::this_thread::yield();
  ASSERT_EQ(device.RequestLog().size(), 1u);
  // Returns without the hour-long wait; a hang here is the failure.
  server.Stop();
  EXPECT_EQ(server.TcpPort(), 0);
  ::close(fd);
}

TEST(DevSimServer, RefusesAPortInUseWithTheReason) {
  TSimDevice device;
  TDevSimServer first(device);
  TDevSimOptions options;
  options.UsePty = false;
  first.Start(options);
  TDevSimServer second(device);
  options.TcpPort = first.TcpPort();
  EXPECT_EQ(ErrorOf([&] { second.Start(options); }),
            QStringLiteral("cannot listen on 127.0.0.1:%1: Address already in use").arg(options.TcpPort));
}
