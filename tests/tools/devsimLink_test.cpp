// The program's link (TComPort, TOI, TDeviceIO) end to end against the devsim
// program, over a pseudo-terminal and over Modbus TCP on 127.0.0.1: poll and
// scan, every fault switch, answers streamed at the line rate (each device
// operation goes end to end through the chain tests). Each test starts devsim,
// waits for the lines that say where it listens, and stops it by its pid.
#include "uDevSimProcess.h"
#include "uDeviceIO.h"
#include "uFiles.h"

#include <QBuffer>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>

namespace {

constexpr int LongWaitMs = 10000;
// For answers that never complete (silence, short, very late): nothing more
// is coming, so the wait only decides how long the test takes.
constexpr int ShortWaitMs = 500;

QString Q(const char *Text) { return QString::fromLatin1(Text); }

// devsim with Args and a TDeviceIO on the chosen link, addressed to Address.
class TLinked {
public:
  TLinked(bool Tcp, const QStringList &Args, uint8_t Address, int TimeoutMs = LongWaitMs) {
    FDevsim.Start(TDevSimProcess::DevSimPath(), Args);
    const QString pty = FDevsim.WaitFor(Q("pty "));
    const uint16_t port = uint16_t(FDevsim.WaitFor(Q("tcp 127.0.0.1:")).toUInt());
    FIO = std::make_unique<TDeviceIO>(FDir.filePath(Q("link.trc")));
    TOI &oi = FIO->GetOI();
    oi.GetComPort().SetPortName(pty);
    oi.SetProtocol(Tcp ? TOI::prModbusTcp : TOI::prModbusRtu);
    oi.SetHost(Q("127.0.0.1"));
    oi.SetPort(port);
    oi.SetTimeout(TimeoutMs);
    oi.SetTcpTimeout(TimeoutMs);
    FIO->SetDeviceAddr(Address);
  }
  TDeviceIO &IO() { return *FIO; }
  TOIStatus Status() { return FIO->GetOI().GetStatus(); }
  TDevSimProcess &Devsim() { return FDevsim; }
  QString TempPath(const char *Name) const { return FDir.filePath(Q(Name)); }

private:
  QTemporaryDir FDir;
  TDevSimProcess FDevsim;
  std::unique_ptr<TDeviceIO> FIO;
};

class DevSimLink : public ::testing::TestWithParam<bool> {
protected:
  bool Tcp() const { return GetParam(); }
};

} // namespace

// The scan does not wait for answers: ask again until one is in.
static bool ScanUntilFound(TDeviceIO &IO, uint8_t &Addr, uint8_t &Status) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline)
    if (IO.ScanNext(Addr, Status))
      return true;
  return false;
}

TEST_P(DevSimLink, PollAndScanFindTheDeviceOnlyAtItsAddress) {
  TLinked link(Tcp(), {Q("--address"), Q("7"), Q("--status"), Q("0x42")}, 0);
  TDeviceIO &io = link.IO();
  uint8_t answered = 0, status = 0;
  ASSERT_TRUE(io.Poll(7, answered, status)) << OIStatusName(link.Status()).toStdString();
  EXPECT_EQ(answered, 7);
  EXPECT_EQ(status, 0x42);
  EXPECT_EQ(io.GetDeviceAddr(), 7);
  // Nobody at address 8: silence on the line; exception 0B from a TCP server.
  io.GetOI().SetTimeout(ShortWaitMs);
  io.GetOI().SetTcpTimeout(ShortWaitMs);
  EXPECT_FALSE(io.Poll(8, answered, status));
  EXPECT_EQ(link.Status(), Tcp() ? oisErrorFlag : oisBadCI);

  ASSERT_TRUE(io.ScanStart(6, 8, 2));
  ASSERT_TRUE(ScanUntilFound(io, answered, status));
  EXPECT_EQ(answered, 7);
  EXPECT_EQ(status, 0x42);
  EXPECT_FALSE(io.ScanNext(answered, status));
  EXPECT_EQ(link.Status(), oisBadCI);
  // The identification's default scan polls 255; the device answers with its
  // own address, on either link, and so does a poll of 255.
  ASSERT_TRUE(io.ScanStart(255, 255, 0));
  ASSERT_TRUE(ScanUntilFound(io, answered, status));
  EXPECT_EQ(answered, 7);
  io.SetDeviceAddr(0);
  ASSERT_TRUE(io.Poll(255, answered, status)) << OIStatusName(link.Status()).toStdString();
  EXPECT_EQ(answered, 7);
  EXPECT_EQ(io.GetDeviceAddr(), 7) << "the answering unit is the address of the requests that follow";
}

// Behind a gateway absent units stay silent: a scan over a range waits a short
// while for each, on the one connection, and still finds the device.
TEST(DevSimLinkTcp, ScanOverARangeBehindAGatewayFindsTheDeviceOnOneConnection) {
  TLinked link(true, {Q("--address"), Q("7"), Q("--gateway")}, 0);
  TDeviceIO &io = link.IO();
  uint8_t answered = 0, status = 0;
  io.GetOI().SetTcpTimeout(ShortWaitMs);
  EXPECT_FALSE(io.Poll(8, answered, status)) << "an absent unit is silent";
  EXPECT_EQ(link.Status(), oisUnknown);
  ASSERT_TRUE(io.ScanStart(1, 12, 0));
  ASSERT_TRUE(io.ScanNext(answered, status));
  EXPECT_EQ(answered, 7);
  EXPECT_FALSE(io.ScanNext(answered, status));
  const QByteArray text = LoadFileBytes(link.TempPath("link.trc"));
  EXPECT_EQ(text.count("S 0C 07"), 1) << "every unit asked once";
  // One connection for each of the three tries of the poll that went
  // silent (a poll of a device address is a read), one for the whole scan.
  EXPECT_EQ(text.count("TDeviceClient Connect"), 4) << text.constData();
  EXPECT_EQ(text.count("Q 08 07"), 3) << text.constData();
}

TEST_P(DevSimLink, EachFaultSwitchEndsWithItsStatus) {
  struct {
    const char *Fault;
    TOIStatus Rtu, Tcp;
    int TimeoutMs;
  } cases[] = {
      {"exception=2", oisErrorFlag, oisErrorFlag, LongWaitMs},
      {"silence", oisBadCI, oisUnknown, ShortWaitMs},
      {"bad-crc", oisBadCRC, oisReady, LongWaitMs}, // Modbus TCP carries no CRC
      {"other-address=9", oisProtocolError, oisProtocolError, LongWaitMs},
      {"other-function=4", oisProtocolError, oisProtocolError, LongWaitMs},
      {"short=1", oisBadCI, oisBadCI, ShortWaitMs},
      {"late=60000", oisBadCI, oisUnknown, ShortWaitMs},
      {"late=100", oisReady, oisReady, LongWaitMs},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Fault);
    TLinked link(Tcp(), {Q("--set"), Q("holding:10=0x0A0B"), Q("--fault"), Q(c.Fault)}, 1, c.TimeoutMs);
    uint16_t reg = 0;
    const bool ok = link.IO().ReadRegisters(10, &reg, 1);
    const TOIStatus expected = Tcp() ? c.Tcp : c.Rtu;
    EXPECT_EQ(OIStatusName(link.Status()).toStdString(), OIStatusName(expected).toStdString());
    EXPECT_EQ(ok, expected == oisReady);
    EXPECT_EQ(reg, ok ? 0x0A0B : 0);
    EXPECT_EQ(link.IO().GetStatus(), expected == oisErrorFlag ? 2 : 0);
  }
}

TEST(DevSimLinkRtu, ReadsAnswersStreamedAtTheLineRate) {
  // At 115200 baud the 2055-byte frame answer takes about 180 ms on the line,
  // so the transport collects it over many reads.
  TLinked link(false, {Q("--baud"), Q("115200"), Q("--file"), Q("140:2048"), Q("--set"), Q("holding:0=7")}, 1);
  link.IO().GetOI().GetComPort().SetBaudRate(115200);
  uint16_t regs[125] = {};
  ASSERT_TRUE(link.IO().ReadRegisters(0, regs, 125)) << OIStatusName(link.Status()).toStdString();
  EXPECT_EQ(regs[0], 7);
  QBuffer got;
  got.open(QIODevice::ReadWrite);
  ASSERT_TRUE(link.IO().ReadFileFrame(140, 0, 2048, got)) << OIStatusName(link.Status()).toStdString();
  EXPECT_EQ(got.size(), 2048);
}

TEST(DevSimLinkRtu, UserSignalSwapsTheDemoTerminalBehindTheKeptLineAndAddress) {
  TLinked link(false, {Q("--demo"), Q("--address"), Q("5")}, 5);
  QBuffer before, after;
  before.open(QIODevice::ReadWrite);
  after.open(QIODevice::ReadWrite);
  ASSERT_TRUE(link.IO().ReadFileFrame(129, 0, 128, before)) << OIStatusName(link.Status()).toStdString();
  link.Devsim().Signal(SIGUSR1);
  EXPECT_EQ(link.Devsim().WaitFor(Q("image ")), Q("2"));
  ASSERT_TRUE(link.IO().ReadFileFrame(129, 0, 128, after)) << OIStatusName(link.Status()).toStdString();
  EXPECT_NE(after.data(), before.data());
  uint16_t delay = 0; // group 2 of the second terminal
  ASSERT_TRUE(link.IO().ReadRegisters(171, &delay, 1));
  EXPECT_EQ(delay, 300);
}

INSTANTIATE_TEST_SUITE_P(Links, DevSimLink, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool> &Info) {
                           return std::string(Info.param ? "Tcp" : "Pty");
                         });
