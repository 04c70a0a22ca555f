#include "linkResponder.h"
#include "uComPort.h"
#include "uErrorOf.h"
#include "uErrors.h"
#include "uFiles.h"
#include "uLogger.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <termios.h>

using namespace linktest;

TEST(ComPortPath, NameWithoutSlashIsLookedUpUnderDev) {
  for (const auto &[name, path] : {std::pair{"ttyUSB0", "/dev/ttyUSB0"}, std::pair{"COM12", "/dev/COM12"},
                                   std::pair{"/dev/pts/7", "/dev/pts/7"}, std::pair{"serial/by-id/x", "serial/by-id/x"}})
    EXPECT_EQ(TComPort::DevicePath(QString::fromLatin1(name)), QString::fromLatin1(path)) << name;
}

TEST(ComPort, OpenFailsOnMissingDeviceAndOnFileThatIsNoTty) {
  QTemporaryDir dir;
  TComPort port;
  port.SetPortName(dir.filePath(QStringLiteral("missing")));
  EXPECT_FALSE(port.Open(false));
  EXPECT_FALSE(port.IsOpen());
  // Setting the rate opens the port: one that cannot open keeps the chosen rate, no throw.
  EXPECT_NO_THROW(port.SetBaudRate(9600));
  EXPECT_EQ(port.GetBaudRate(), 9600);
  EXPECT_FALSE(port.IsOpen());
  SaveFileBytes(dir.filePath("plain"), "");
  port.SetPortName(dir.filePath("plain"));
  EXPECT_FALSE(port.Open(false));
  EXPECT_FALSE(port.IsOpen());
}

class ComPortPty : public ::testing::Test {
protected:
  void SetUp() override { Port.SetPortName(Peer.SlavePath()); }
  termios LineSettings() const {
    termios t{};
    ::tcgetattr(Peer.SlaveFd(), &t);
    return t;
  }
  TPtyResponder Peer;
  TComPort Port;
};

TEST_F(ComPortPty, OpenSetsRawEightNoneOneWithoutFlowControl) {
  ASSERT_TRUE(Port.Open(false));
  EXPECT_TRUE(Port.IsOpen());
  const termios t = LineSettings();
  EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS8));
  EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(cfgetospeed(&t), speed_t(B38400));
}

TEST_F(ComPortPty, SecondOpenOfTheSameLineFailsUntilTheFirstCloses) {
  ASSERT_TRUE(Port.Open(false));
  TComPort other;
  other.SetPortName(Peer.SlavePath());
  EXPECT_FALSE(other.Open(false));
  Port.Close();
  EXPECT_FALSE(Port.IsOpen());
  EXPECT_TRUE(other.Open(false));
}

TEST_F(ComPortPty, BytesTravelBothWaysUnchanged) {
  ASSERT_TRUE(Port.Open(false));
  // Every byte value, CR, LF, XON and XOFF included: the line is raw.
  QByteArray all;
  for (int i = 0; i < 256; ++i)
    all.append(char(i));
  Peer.Add({256, all});
  int done = 0;
  Port.Write(all.constData(), int(all.size()), done);
  EXPECT_EQ(done, 256);
  QByteArray got;
  ASSERT_TRUE(WaitFor([&] {
    char buf[300];
    int n = 0;
    Port.Read(buf, 300, n);
    got.append(buf, n);
    return got.size() >= 256;
  }));
  EXPECT_EQ(Peer.Requests().value(0), all);
  EXPECT_EQ(got, all);
}

TEST_F(ComPortPty, ReadReturnsAtOnceWithNothingAndPurgeDropsWhatWaits) {
  ASSERT_TRUE(Port.Open(false));
  char buf[8];
  int done = -1;
  Port.Read(buf, sizeof buf, done);
  EXPECT_EQ(done, 0);
  Peer.Send(Hex("01 02 03 04 05"));
  ASSERT_TRUE(WaitFor([&] { return Peer.SlaveInputBytes() == 5; }));
  Port.Purge();
  done = -1;
  Port.Read(buf, sizeof buf, done);
  EXPECT_EQ(done, 0);
}

TEST_F(ComPortPty, SetBaudRateOpensAClosedPortAppliesTheRateAndRefusesAnUnknownOne) {
  Port.SetBaudRate(38400);
  EXPECT_TRUE(Port.IsOpen());
  Port.SetBaudRate(9600);
  EXPECT_EQ(Port.GetBaudRate(), 9600);
  const termios t = LineSettings();
  EXPECT_EQ(cfgetospeed(&t), speed_t(B9600));
  EXPECT_EQ(cfgetispeed(&t), speed_t(B9600));
  Port.Close();
  ASSERT_TRUE(Port.Open(false));
  const termios again = LineSettings();
  EXPECT_EQ(cfgetospeed(&again), speed_t(B9600));
  EXPECT_EQ(ErrorOf([&] { Port.SetBaudRate(12345); }), QStringLiteral("invalid SetCommState BaudRate: 12345"));
  EXPECT_EQ(Port.GetBaudRate(), 9600);
}

TEST_F(ComPortPty, RateChosenWhileThePortCannotOpenIsUsedWhenItOpens) {
  QTemporaryDir dir;
  Port.SetPortName(dir.filePath(QStringLiteral("unplugged")));
  Port.SetBaudRate(19200);
  EXPECT_THROW(Port.SetBaudRate(12345), EKvError);
  EXPECT_EQ(Port.GetBaudRate(), 19200);
  Port.SetPortName(Peer.SlavePath());
  ASSERT_TRUE(Port.Open(false));
  const termios t = LineSettings();
  EXPECT_EQ(cfgetospeed(&t), speed_t(B19200));
}

TEST_F(ComPortPty, ModemLinesMissingOnAPseudoTerminalAreLoggedOnce) {
  int lines = TIOCM_DTR | TIOCM_RTS;
  const bool ptyHasNoModemLines = ::ioctl(Peer.SlaveFd(), TIOCMBIS, &lines) != 0;
  const qsizetype before = Logger().Lines().size();
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(Port.Open(false));
    Port.Close();
  }
  int count = 0;
  for (const QString &line : Logger().Lines().mid(before))
    if (line.contains(Peer.SlavePath()) && line.contains(QStringLiteral("DTR/RTS")))
      ++count;
  EXPECT_EQ(count, ptyHasNoModemLines ? 1 : 0);
}

// The main window renames the port and changes its rate while the worker
// exchanges bytes on it; under the sanitizers this must stay clean.
TEST_F(ComPortPty, RateAndNameChangeWhileAnotherThreadUsesThePort) {
  std::atomic<bool> stop{false};
  std::thread worker([&] {
    char buf[64];
    while (!stop) {
      if (!Port.IsOpen())
        Port.Open(false);
      int done = 0;
      Port.Write("\x01\x07", 2, done);
      Port.Read(buf, sizeof buf, done);
      Port.Purge();
      if (done % 3 == 0)
        Port.Close();
    }
  });
  for (int i = 0; i < 200; ++i) {
    Port.SetPortName(Peer.SlavePath());
    EXPECT_EQ(ErrorOf([&] { Port.SetBaudRate(i % 2 ? 9600 : 38400); }), "no error") << "a known rate was refused";
    (void)Port.IsOpen();
    (void)Port.GetPortName();
  }
  stop = true;
  worker.join();
  EXPECT_TRUE(Port.GetBaudRate() == 9600 || Port.GetBaudRate() == 38400);
}
