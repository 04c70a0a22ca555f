#include "linkResponder.h"
#include "uDeviceIO.h"
#include "uErrors.h"

#include <QBuffer>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

using namespace linktest;

namespace {

// Device 1 on the responder's line.
void Attach(TDeviceIO &Io, const TPtyResponder &Peer) {
  Io.GetOI().GetComPort().SetPortName(Peer.SlavePath());
  Io.GetOI().SetTimeout(10000);
  Io.SetDeviceAddr(1);
}

} // namespace

class DeviceRtu : public ::testing::Test {
protected:
  void SetUp() override {
    IO = std::make_unique<TDeviceIO>(QString{});
    Attach(*IO, Peer);
  }
  // The request the device saw last, without its CRC (which is checked here).
  QString LastRequest() {
    const QByteArray r = Peer.Requests().value(Peer.Requests().size() - 1);
    EXPECT_EQ(r, WithCrc(r.left(r.size() - 2))) << "CRC of the request";
    return Spaced(r.left(r.size() - 2));
  }
  TPtyResponder Peer;
  std::unique_ptr<TDeviceIO> IO;
};

TEST_F(DeviceRtu, EveryOperationSendsItsFrame) {
  const QDate today = QDate::currentDate();
  const int yy = today.year() % 100; // the clock frames carry the year of the century
  QBuffer readDest;
  readDest.open(QIODevice::WriteOnly);
  QBuffer writeSrc;
  writeSrc.setData(Hex("D1 D2 D3"));
  writeSrc.open(QIODevice::ReadOnly);
  uint16_t regs[3] = {};
  uint8_t answered = 0, status = 0;
  QDateTime clock;
  struct Case {
    const char *Name;
    QByteArray Request; // without CRC
    QByteArray Reply;   // without CRC
    std::function<bool()> Run;
  } cases[] = {
      {"read registers", Hex("01 03 00 64 00 03"), Hex("01 03 06 00 0A 01 00 FF FF"),
       [&] { return IO->ReadRegisters(100, regs, 3); }},
      {"write register", Hex("01 06 00 05 12 34"), Hex("01 06 00 05 12 34"),
       [&] { return IO->WriteRegister(5, 0x1234); }},
      {"poll", Hex("01 07"), Hex("01 07 00"), [&] { return IO->Poll(1, answered, status); }},
      {"read file frame", Hex("01 1C 02 01 02"), Hex("01 1C 02 01 02 AA BB CC DD"),
       [&] { return IO->ReadFileFrame(2, 0x0102, 4, readDest); }},
      {"write file frame, short data padded", Hex("01 1B 03 00 10 D1 D2 D3 00 00"), Hex("01 1B 03 00 10"),
       [&] { return IO->WriteFileFrame(3, 0x0010, writeSrc, 5); }},
      {"read clock", Hex("01 1D"), Hex("01 1D 00 18 00 02 00 1D 00 17 00 3B 00 3A"),
       [&] { return IO->ReadClock(clock); }},
      {"write clock", Hex("01 1A 00") + char(yy) + Hex("00 0C 00 06 00 11 00 05 00 09"),
       Hex("01 1A 00") + char(yy) + Hex("00 0C 00 06 00 11 00 05 00 09"),
       [&] {
         return IO->WriteClock(QDateTime(QDate(today.year(), 12, 6), QTime(17, 5, 9, 870)));
       }},
      {"special command", Hex("01 1F F1 00"), Hex("01 1F F1 00"), [&] { return IO->SpecialCommand(0x1F, 0xF1); }},
  };
  for (Case &c : cases) {
    SCOPED_TRACE(c.Name);
    Peer.Add({int(c.Request.size()) + 2, WithCrc(c.Reply)});
    EXPECT_TRUE(c.Run());
    EXPECT_EQ(IO->GetOI().GetStatus(), oisReady);
    EXPECT_EQ(LastRequest(), Spaced(c.Request));
  }
  EXPECT_EQ(std::vector<uint16_t>(regs, regs + 3), (std::vector<uint16_t>{10, 256, 65535}));
  EXPECT_EQ(Spaced(readDest.data()), QStringLiteral("AA BB CC DD"));
  EXPECT_EQ(clock, QDateTime(QDate(100 * (today.year() / 100) + 24, 2, 29), QTime(23, 59, 58)));
}

// Areas in sequence: 3 and 4 change only the read code, unknown areas nothing.
TEST_F(DeviceRtu, MemoryAreaSelectsTheFunctionCodesOnTheWire) {
  struct Case {
    int Area;
    const char *Read, *Write;
  } cases[] = {
      {2, "01 53 02 00 00 01", "01 56 00 05 12 34"}, {3, "01 54 02 00 00 01", "01 56 00 05 12 34"},
      {4, "01 55 02 00 00 01", "01 56 00 05 12 34"}, {1, "01 03 02 00 00 01", "01 06 00 05 12 34"},
      {7, "01 03 02 00 00 01", "01 06 00 05 12 34"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Area);
    IO->SetMemoryArea(uint8_t(c.Area));
    const QByteArray read = Hex(c.Read);
    Peer.Add({8, WithCrc(read.left(2) + Hex("02 12 34"))});
    uint16_t v = 0;
    EXPECT_TRUE(IO->ReadRegisters(0x0200, &v, 1));
    EXPECT_EQ(LastRequest(), Spaced(read));
    EXPECT_EQ(v, 0x1234);
    Peer.Add({8, WithCrc(Hex(c.Write))});
    EXPECT_TRUE(IO->WriteRegister(5, 0x1234));
    EXPECT_EQ(LastRequest(), QString::fromLatin1(c.Write));
  }
}

TEST_F(DeviceRtu, PollTakesTheAnsweringAddressForLaterFrames) {
  uint8_t answered = 0, status = 0;
  Peer.Add({4, WithCrc(Hex("07 07 42"))});
  ASSERT_TRUE(IO->Poll(7, answered, status));
  EXPECT_EQ(answered, 7);
  EXPECT_EQ(status, 0x42);
  EXPECT_EQ(IO->GetDeviceAddr(), 7);
  Peer.Add({4, WithCrc(Hex("09 07 00"))});
  ASSERT_TRUE(IO->Poll(0, answered, status));
  EXPECT_EQ(LastRequest(), QStringLiteral("00 07"));
  EXPECT_EQ(answered, 9);
  EXPECT_EQ(IO->GetDeviceAddr(), 9);
  Peer.Add({8, WithCrc(Hex("09 06 00 01 00 02"))});
  EXPECT_TRUE(IO->WriteRegister(1, 2));
  EXPECT_EQ(LastRequest(), QStringLiteral("09 06 00 01 00 02"));
}

// A failed read leaves the destination, and reports no exception code left
// over from an earlier answer. Each transport status has its own table in
// oi_test; here only what the device operation adds: the byte count check, the
// exception code, and a whole frame with a bad CRC whose values must not land.
TEST(DeviceAnswer, FailedReadsLeaveDestinationAndReportOnlyTheirOwnCode) {
  struct Case {
    const char *Name;
    QByteArray Reply;
    int TimeoutMs;
    TOIStatus Status;
    uint8_t Code;
  } cases[] = {
      {"exception", WithCrc(Hex("01 83 02")), 10000, oisErrorFlag, 2},
      {"exception 0B", WithCrc(Hex("01 83 0B")), 10000, oisErrorFlag, 0x0B},
      {"silence", {}, 200, oisBadCI, 0},
      {"bad crc", Hex("01 03 06 00 0A 01 00 FF FF B9 39"), 10000, oisBadCRC, 0},
      {"byte count", WithCrc(Hex("01 03 04 00 0A 01 00 FF FF")), 10000, oisProtocolError, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Name);
    TPtyResponder peer;
    TDeviceIO io(QString{});
    Attach(io, peer);
    // One try: what a repeat does is the transport's own test.
    io.GetOI().SetRepeats(1, 0);
    // First a good answer with an exception-looking byte 2, then the bad one.
    peer.Add({8, WithCrc(Hex("01 03 06 11 11 22 22 33 33"))});
    uint16_t regs[3] = {};
    ASSERT_TRUE(io.ReadRegisters(100, regs, 3));
    ASSERT_EQ(regs[2], 0x3333);
    io.GetOI().SetTimeout(c.TimeoutMs);
    peer.Add({8, c.Reply});
    EXPECT_FALSE(io.ReadRegisters(100, regs, 3));
    EXPECT_EQ(OIStatusName(io.GetOI().GetStatus()), OIStatusName(c.Status));
    EXPECT_EQ(io.GetStatus(), c.Code);
    EXPECT_EQ(std::vector<uint16_t>(regs, regs + 3), (std::vector<uint16_t>{0x1111, 0x2222, 0x3333}));
  }
}

// The device's own functions answer with what they were asked (file and frame
// number, written values, byte count): an answer that does not match is a
// protocol error on either link, and a file frame read lands nowhere.
TEST(DeviceAnswer, AnswerThatDoesNotMatchItsRequestIsAProtocolError) {
  QBuffer dest;
  QBuffer src;
  src.setData(Hex("D1 D2 D3 D4 D5"));
  src.open(QIODevice::ReadOnly);
  uint16_t regs[2] = {};
  const QDateTime noon(QDate(QDate::currentDate().year(), 1, 2), QTime(12, 0));
  struct Case {
    const char *Name;
    QByteArray Reply; // without CRC or MBAP header
    std::function<bool(TDeviceIO &)> Run;
    int RequestBytes; // serial, CRC included
  } cases[] = {
      {"frame of another number", Hex("01 1C 02 01 03 AA BB CC DD"),
       [&](TDeviceIO &Io) { return Io.ReadFileFrame(2, 0x0102, 4, dest); }, 7},
      {"frame of another file", Hex("01 1C 03 01 02 AA BB CC DD"),
       [&](TDeviceIO &Io) { return Io.ReadFileFrame(2, 0x0102, 4, dest); }, 7},
      {"frame written elsewhere", Hex("01 1B 03 00 11"),
       [&](TDeviceIO &Io) { return src.seek(0) && Io.WriteFileFrame(3, 0x0010, src, 5); }, 12},
      {"register write echo", Hex("01 06 00 05 12 35"), [&](TDeviceIO &Io) { return Io.WriteRegister(5, 0x1234); }, 8},
      {"SRAM write echo", Hex("01 56 00 06 12 34"),
       [&](TDeviceIO &Io) {
         Io.SetMemoryArea(2);
         return Io.WriteRegister(5, 0x1234);
       }, 8},
      {"clock write echo", Hex("01 1A 00 00 00 00 00 00 00 00 00 00 00 00"),
       [&](TDeviceIO &Io) { return Io.WriteClock(noon); }, 16},
      {"special command echo", Hex("01 1F F0 00"), [&](TDeviceIO &Io) { return Io.SpecialCommand(0x1F, 0xF1); }, 6},
      {"FLASH read byte count", Hex("01 54 02 00 01 00 02"),
       [&](TDeviceIO &Io) {
         Io.SetMemoryArea(3);
         return Io.ReadRegisters(0, regs, 2);
       }, 8},
  };
  for (const bool tcp : {false, true}) {
    for (Case &c : cases) {
      SCOPED_TRACE(std::string(c.Name) + (tcp ? " over TCP" : " over RTU"));
      TPtyResponder pty;
      TTcpResponder server;
      TDeviceIO io(QString{});
      TOI &oi = io.GetOI();
      Attach(io, pty);
      oi.SetRepeats(1, 0); // one try: a serial frame read repeats any failure
      if (tcp) {
        oi.SetProtocol(TOI::prModbusTcp);
        oi.SetHost("127.0.0.1");
        oi.SetPort(server.Port());
        oi.SetTcpTimeout(10000);
        server.Add({0, Mbap(c.Reply)});
      } else {
        pty.Add({c.RequestBytes, WithCrc(c.Reply)});
      }
      dest.close();
      dest.setData("keep");
      dest.open(QIODevice::WriteOnly | QIODevice::Append);
      EXPECT_FALSE(c.Run(io));
      EXPECT_EQ(OIStatusName(oi.GetStatus()), OIStatusName(oisProtocolError));
      EXPECT_EQ(dest.data(), QByteArray("keep"));
    }
  }
}

TEST_F(DeviceRtu, FailedFileFrameReadWritesNothing) {
  QBuffer dest;
  dest.open(QIODevice::WriteOnly);
  dest.write("keep");
  IO->GetOI().SetRepeats(1, 0);
  Peer.Add({7, WithCrc(Hex("01 9C 04"))});
  EXPECT_FALSE(IO->ReadFileFrame(1, 0, 4, dest));
  EXPECT_EQ(IO->GetStatus(), 4);
  EXPECT_EQ(dest.data(), QByteArray("keep"));
}

TEST_F(DeviceRtu, ClockRecordThatIsNoDateGivesTheFixedNoon) {
  struct Case {
    const char *Name;
    QByteArray Words;
  } cases[] = {
      {"month 13", Hex("00 18 00 0D 00 01 00 00 00 00 00 00")},
      {"30 February", Hex("00 18 00 02 00 1E 00 00 00 00 00 00")},
      {"hour 24", Hex("00 18 00 02 00 01 00 18 00 00 00 00")},
      {"second 60", Hex("00 18 00 02 00 01 00 00 00 00 00 3C")},
      {"day 0", Hex("00 18 00 02 00 00 00 00 00 00 00 00")},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Name);
    Peer.Add({4, WithCrc(Hex("01 1D") + c.Words)});
    QDateTime dt;
    ASSERT_TRUE(IO->ReadClock(dt));
    EXPECT_EQ(dt, QDateTime(QDate(2000, 1, 1), QTime(12, 30)));
  }
}

TEST_F(DeviceRtu, ClockOutsideTheCurrentCenturyIsARangeErrorAndSendsNothing) {
  const int century = 100 * (QDate::currentDate().year() / 100);
  EXPECT_THROW(IO->WriteClock(QDateTime(QDate(century - 1, 12, 31), QTime(23, 59))), EKvRange);
  EXPECT_THROW(IO->WriteClock(QDateTime(QDate(century + 100, 1, 1), QTime(0, 0))), EKvRange);
  EXPECT_TRUE(Peer.Requests().isEmpty());
  EXPECT_TRUE(Peer.Unclaimed().isEmpty());
}

TEST(ComPortList, CaptionsSortByPortNameOrdinallyAndGiveThePortBack) {
  QStringList list = {"USB Serial (COM2)", "Modem (COM10)",  "Bluetooth (COM1)",     "FT232R (ttyUSB1)",
                      "16550A (ttyS10)",   "16550A (ttyS2)", "Adapter (x) (ttyACM0)"};
  TDeviceIO::SortComPortList(list);
  EXPECT_EQ(list, QStringList({"Bluetooth (COM1)", "Modem (COM10)", "USB Serial (COM2)", "Adapter (x) (ttyACM0)",
                               "16550A (ttyS10)", "16550A (ttyS2)", "FT232R (ttyUSB1)"}));
  EXPECT_EQ(TDeviceIO::PortNameFromCaption("Adapter (x) (ttyACM0)"), "ttyACM0");
  EXPECT_EQ(TDeviceIO::PortNameFromCaption("(ttyS0)"), "ttyS0");
  EXPECT_EQ(TDeviceIO::PortNameFromCaption("no port"), QString());
}

