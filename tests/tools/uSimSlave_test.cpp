#include "uSimDevice.h"
#include "uSimSlave.h"

#include "uErrors.h"

#include <gtest/gtest.h>


namespace {

QByteArray Hex(const char *Text) { return QByteArray::fromHex(QByteArray(Text).replace(' ', "")); }
std::string ToHex(const QByteArray &Bytes) { return Bytes.toHex(' ').toUpper().toStdString(); }

std::string Joined(const std::vector<TSimAnswer> &Answers) {
  std::string out;
  for (const TSimAnswer &a : Answers)
    out += (out.empty() ? "" : " | ") + ToHex(a.Bytes);
  return out;
}

std::vector<TSimAnswer> Feed(TSimRtuSlave &Slave, const QByteArray &Bytes) {
  return Slave.Feed(Bytes.constData(), size_t(Bytes.size()));
}
std::vector<TSimAnswer> Feed(TSimTcpSlave &Slave, const QByteArray &Bytes) {
  return Slave.Feed(Bytes.constData(), size_t(Bytes.size()));
}

struct TFaultCase {
  const char *Fault;
  const char *Rtu; // answer to 01 03 00 0A 00 01 (register 10 holds 1)
  const char *Tcp; // answer to the same read with transaction 0x1234, unit 1
  int DelayMs;
};

// Worked out by hand: CRC-16/MODBUS, low byte first.
const TFaultCase FaultCases[] = {
    {"none", "01 03 02 00 01 79 84", "12 34 00 00 00 05 01 03 02 00 01", 0},
    {"exception=4", "01 83 04 40 F3", "12 34 00 00 00 03 01 83 04", 0},
    {"silence", "", "", 0},
    {"bad-crc", "01 03 02 00 01 86 7B", "12 34 00 00 00 05 01 03 02 00 01", 0},
    {"other-address=2", "02 03 02 00 01 3D 84", "12 34 00 00 00 05 02 03 02 00 01", 0},
    {"other-function=4", "01 04 02 00 01 78 F0", "12 34 00 00 00 05 01 04 02 00 01", 0},
    {"short=2", "01 03 02 00 01", "12 34 00 00 00 03 01 03 02", 0},
    {"late=250", "01 03 02 00 01 79 84", "12 34 00 00 00 05 01 03 02 00 01", 250},
    {"lost-answer", "", "", 0},
};

} // namespace

TEST(SimSlave, AppliesEachFaultToTheAnswerOnBothLines) {
  for (const TFaultCase &c : FaultCases) {
    TSimDevice device;
    device.SetRegister(TSimArea::Holding, 10, 1);
    device.SetFault(ParseSimFault(QString::fromLatin1(c.Fault)));
    TSimRtuSlave rtu(device);
    TSimTcpSlave tcp(device);
    const auto answers = Feed(rtu, Hex("01 03 00 0A 00 01 A4 08"));
    EXPECT_EQ(device.RequestLog().size(), 1u) << c.Fault;
    for (const auto &[got, want] : {std::pair{answers, c.Rtu},
                                    std::pair{Feed(tcp, Hex("12 34 00 00 00 06 01 03 00 0A 00 01")), c.Tcp}}) {
      EXPECT_EQ(Joined(got), want) << c.Fault;
      if (!got.empty()) {
        EXPECT_EQ(got[0].DelayMs, c.DelayMs) << c.Fault;
      }
    }
  }
}

TEST(SimRtuSlave, AssemblesSplitAndBackToBackRequests) {
  TSimDevice device;
  device.SetRegister(TSimArea::Holding, 10, 1);
  TSimRtuSlave slave(device);
  const QByteArray request = Hex("01 03 00 0A 00 01 A4 08");
  for (int i = 0; i < request.size() - 1; ++i) {
    EXPECT_TRUE(Feed(slave, request.mid(i, 1)).empty()) << i;
    EXPECT_TRUE(slave.HasPending());
  }
  EXPECT_EQ(Joined(Feed(slave, request.right(1))), "01 03 02 00 01 79 84");
  EXPECT_FALSE(slave.HasPending());
  // Back-to-back requests in one read are answered in order.
  EXPECT_EQ(Joined(Feed(slave, Hex("01 07 41 E2") + request)), "01 07 00 22 30 | 01 03 02 00 01 79 84");
}

TEST(SimRtuSlave, StaysSilentToOtherAddressesAndBroadcasts) {
  TSimDevice device;
  TSimRtuSlave slave(device);
  // A write to address 2, then a broadcast write of register 5.
  EXPECT_TRUE(Feed(slave, Hex("02 06 00 05 12 34 94 8F")).empty());
  EXPECT_EQ(device.Register(TSimArea::Holding, 5), 0);
  EXPECT_TRUE(Feed(slave, Hex("00 06 00 05 12 34 95 6D")).empty());
  EXPECT_EQ(device.Register(TSimArea::Holding, 5), 0x1234);
  EXPECT_FALSE(slave.HasPending());
}

TEST(SimRtuSlave, AnswersAPollOfTheScanAddressWithItsOwn) {
  TSimDevice device;
  device.SetAddress(5);
  device.SetStatusByte(0);
  TSimRtuSlave slave(device);
  EXPECT_EQ(Joined(Feed(slave, Hex("FF 07 01 82"))), "05 07 00 63 F1");
  // Only the poll: a read of address 255 is another device's.
  EXPECT_TRUE(Feed(slave, Hex("FF 03 00 0A 00 01 B1 D6")).empty());
}

TEST(SimRtuSlave, DropsAFrameWithABadCrcAtTheSilence) {
  TSimDevice device;
  TSimRtuSlave slave(device);
  EXPECT_TRUE(Feed(slave, Hex("01 03 00 0A 00 01 A4 09")).empty());
  EXPECT_TRUE(slave.HasPending());
  EXPECT_TRUE(slave.EndOfFrame().empty());
  EXPECT_FALSE(slave.HasPending());
  EXPECT_TRUE(device.RequestLog().empty());
}

TEST(SimRtuSlave, EndsAFileWriteByItsFrameSizeOrBySilence) {
  TSimDevice device;
  device.SetFile(5, QByteArray(), 4);
  TSimRtuSlave slave(device);
  EXPECT_EQ(Joined(Feed(slave, Hex("01 1B 05 00 00 AA BB CC DD D6 7B"))), "01 1B 05 00 00 0F 25");
  // A last frame shorter than the frame size has no length to go by.
  EXPECT_TRUE(Feed(slave, Hex("01 1B 05 00 01 EE E4 D8")).empty());
  EXPECT_EQ(Joined(slave.EndOfFrame()), "01 1B 05 00 01 CE E5");
  EXPECT_EQ(ToHex(device.FileBytes(5)), "AA BB CC DD EE");
}

TEST(SimRtuSlave, AnswersAnUnknownFunctionAfterTheSilence) {
  TSimDevice device;
  TSimRtuSlave slave(device);
  EXPECT_TRUE(Feed(slave, Hex("01 10 00 00 00 01 02 00 07 E7 92")).empty());
  EXPECT_EQ(Joined(slave.EndOfFrame()), "01 90 01 8D C0");
}

TEST(SimTcpSlave, AnswersItsOwnUnitAnd0And255AndAPollOf255FromItsAddress) {
  TSimDevice device;
  device.SetAddress(1);
  TSimTcpSlave slave(device);
  EXPECT_EQ(Joined(Feed(slave, Hex("00 01 00 00 00 02 00 07"))), "00 01 00 00 00 03 00 07 00");
  EXPECT_EQ(Joined(Feed(slave, Hex("00 02 00 00 00 02 FF 07"))), "00 02 00 00 00 03 01 07 00");
  EXPECT_EQ(Joined(Feed(slave, Hex("00 02 00 00 00 06 FF 03 00 00 00 01"))), "00 02 00 00 00 05 FF 03 02 00 00");
  EXPECT_EQ(Joined(Feed(slave, Hex("00 03 00 00 00 02 09 07"))), "00 03 00 00 00 03 09 87 0B");
  device.SetAbsentUnitsSilent(true); // as a gateway without such a device
  EXPECT_TRUE(Feed(slave, Hex("00 04 00 00 00 02 09 07")).empty());
}

TEST(SimTcpSlave, AssemblesSplitAndBackToBackRequests) {
  TSimDevice device;
  TSimTcpSlave slave(device);
  const QByteArray two = Hex("00 01 00 00 00 02 01 07 00 02 00 00 00 02 01 07");
  EXPECT_TRUE(Feed(slave, two.left(5)).empty());
  EXPECT_EQ(Joined(Feed(slave, two.mid(5, 6))), "00 01 00 00 00 03 01 07 00");
  EXPECT_EQ(Joined(Feed(slave, two.mid(11))), "00 02 00 00 00 03 01 07 00");
}

TEST(SimTcpSlave, GivesUpOnAHeaderNoPeerSends) {
  for (const char *header : {"00 01 00 01 00 02 01 07", "00 01 00 00 00 01 01", "00 01 00 00 FF FF 01 07"}) {
    TSimDevice device;
    TSimTcpSlave slave(device);
    EXPECT_TRUE(Feed(slave, Hex(header)).empty()) << header;
    EXPECT_TRUE(slave.IsBroken()) << header;
  }
}

// The lossy line spoils every Nth answer beside the fault switch: a lost or
// garbled answer belongs to a request the device executed, a refused one
// (an exception) to a request it did not.
TEST(SimSlave, LossyLineSpoilsEveryNthAnswerAsARealLineWould) {
  struct TCase {
    const char *Lossy;
    const char *Third; // answer to the third write 01 06 00 0A 00 03
    uint16_t Kept;     // register 10 after the three writes 1, 2, 3
  } cases[] = {
      {"silence/3", "", 3},
      {"bad-crc/3", "01 06 00 0A 00 03 16 36", 3},
      {"exception=6/3", "01 86 06 C2 62", 2},
  };
  for (const TCase &c : cases) {
    TSimDevice device;
    device.SetLossy(ParseSimLossy(QString::fromLatin1(c.Lossy)));
    TSimRtuSlave rtu(device);
    EXPECT_EQ(Joined(Feed(rtu, Hex("01 06 00 0A 00 01 68 08"))), "01 06 00 0A 00 01 68 08") << c.Lossy;
    EXPECT_EQ(Joined(Feed(rtu, Hex("01 06 00 0A 00 02 28 09"))), "01 06 00 0A 00 02 28 09") << c.Lossy;
    EXPECT_EQ(Joined(Feed(rtu, Hex("01 06 00 0A 00 03 E9 C9"))), c.Third) << c.Lossy;
    EXPECT_EQ(device.Register(TSimArea::Holding, 10), c.Kept) << c.Lossy;
    EXPECT_EQ(device.RequestLog().size(), 3u) << c.Lossy;
  }
  for (const char *bad : {"silence", "silence/0", "short=2/3", "bad-crc/x", "/3"})
    EXPECT_THROW(ParseSimLossy(QString::fromLatin1(bad)), EKvError) << bad;
}

// A relay that acknowledges a write it does not keep: the echo comes, the
// register stays; reads pass untouched and do not use up the fault's count.
TEST(SimSlave, AnUnkeptWriteIsEchoedAndLeavesTheRegister) {
  TSimDevice device;
  device.SetRegister(TSimArea::Holding, 10, 1);
  TSimFault f = ParseSimFault(QStringLiteral("unkept"));
  f.Count = 1;
  device.SetFault(f);
  TSimTcpSlave tcp(device);
  EXPECT_EQ(Joined(Feed(tcp, Hex("12 34 00 00 00 06 01 03 00 0A 00 01"))), "12 34 00 00 00 05 01 03 02 00 01");
  EXPECT_EQ(Joined(Feed(tcp, Hex("12 34 00 00 00 06 01 06 00 0A 00 07"))), "12 34 00 00 00 06 01 06 00 0A 00 07");
  EXPECT_EQ(device.Register(TSimArea::Holding, 10), 1);
  // Its one write spent, the next is done.
  EXPECT_EQ(Joined(Feed(tcp, Hex("12 34 00 00 00 06 01 06 00 0A 00 08"))), "12 34 00 00 00 06 01 06 00 0A 00 08");
  EXPECT_EQ(device.Register(TSimArea::Holding, 10), 8);
}

// A relay that keeps bits of its own: the write is done but for them, the
// echo is the request as sent, and a write to another register is left alone.
TEST(SimSlave, AHeldBitsWriteKeepsThoseBitsOfTheRegister) {
  TSimDevice device;
  device.SetRegisters(TSimArea::Holding, 10, {0x0041, 0x0041});
  TSimFault f = ParseSimFault(QStringLiteral("held-bits=0x0041"));
  f.Register = 10;
  device.SetFault(f);
  TSimTcpSlave tcp(device);
  EXPECT_EQ(Joined(Feed(tcp, Hex("12 34 00 00 00 06 01 06 00 0A 00 06"))), "12 34 00 00 00 06 01 06 00 0A 00 06");
  EXPECT_EQ(device.Register(TSimArea::Holding, 10), 0x0047);
  EXPECT_EQ(Joined(Feed(tcp, Hex("12 34 00 00 00 06 01 06 00 0B 00 06"))), "12 34 00 00 00 06 01 06 00 0B 00 06");
  EXPECT_EQ(device.Register(TSimArea::Holding, 11), 0x0006);
}
