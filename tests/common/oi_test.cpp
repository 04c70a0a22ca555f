#include "linkResponder.h"
#include "oi.h"
#include "uErrors.h"
#include "uFiles.h"
#include "uLinkText.h"
#include "uLogger.h"

#include <QBuffer>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

using namespace linktest;

namespace {

QByteArray AnswerBytes(const TOI &OI) {
  return QByteArray(reinterpret_cast<const char *>(OI.GetAnswer()), OI.GetReceived());
}

QString ReadTrace(const QString &Path) { return QString::fromLatin1(LoadFileBytes(Path)); }

// A transport on the responder's pseudo-terminal or TCP port, tracing to Trace.
std::unique_ptr<TOI> RtuOI(const TPtyResponder &Peer, int TimeoutMs, const QString &Trace = QString()) {
  auto oi = std::make_unique<TOI>(Trace);
  oi->GetComPort().SetPortName(Peer.SlavePath());
  oi->SetTimeout(TimeoutMs);
  return oi;
}
std::unique_ptr<TOI> TcpOI(const TTcpResponder &Peer, int TimeoutMs, const QString &Trace = QString()) {
  auto oi = std::make_unique<TOI>(Trace);
  oi->SetProtocol(TOI::prModbusTcp);
  oi->SetHost(QStringLiteral("127.0.0.1"));
  oi->SetPort(Peer.Port());
  oi->SetTcpTimeout(TimeoutMs);
  return oi;
}

// One request answered with Reply on a fresh line, so late bytes of one case
// cannot reach the next: the status, and nothing in the answer buffer beyond
// what came in this exchange.
struct TAnswerCase {
  const char *Name;
  QByteArray Request;
  QByteArray Reply;
  int TimeoutMs;
  TOIStatus Status;
};
template <typename TPeer, typename TMake> void ExpectStatus(TMake Make, int RequestBytes, const TAnswerCase &C) {
  SCOPED_TRACE(C.Name);
  TPeer peer;
  const auto oi = Make(peer, C.TimeoutMs, QString());
  peer.Add({RequestBytes, C.Reply});
  const bool ok = oi->Request(C.Request, 11);
  ASSERT_TRUE(peer.WaitAnswered(1));
  EXPECT_EQ(ok, C.Status == oisReady);
  EXPECT_EQ(OIStatusName(oi->GetStatus()), OIStatusName(C.Status));
  for (int i = oi->GetReceived(); i < OI_BUFFER_SIZE; ++i)
    ASSERT_EQ(oi->GetAnswer()[i], 0) << i;
}

} // namespace

TEST(RtuTiming, LineTimeIsTenBitsPerByteRoundedHalfToEven) {
  struct Case {
    int Bytes, Baud, Ms;
  } cases[] = {
      {15, 38400, 4},   // 8 + 7 bytes: 3.906 ms
      {33, 38400, 9},   // read of 10 registers: 8.594 ms
      {1, 20000, 0},    // exactly 0.5: to even
      {3, 20000, 2},    // exactly 1.5: to even
      {5, 20000, 2},    // exactly 2.5: to even
      {7, 20000, 4},    // exactly 3.5: to even
      {25, 9600, 26},   // 26.04 ms
      {2553, 1200, 21275},
      {0, 38400, 0},
      {10, 0, 0},
  };
  for (const Case &c : cases)
    EXPECT_EQ(RtuLineTimeMs(c.Bytes, c.Baud), c.Ms) << c.Bytes << " bytes at " << c.Baud;
}

TEST(OIRequest, BufferBoundsAreRangeErrorsAndAShortStreamIsPaddedWithZeros) {
  TOI oi(QString{});
  const QByteArray fits(OI_BUFFER_SIZE - 2, '\x01');
  EXPECT_NO_THROW(oi.SetRequest(fits, OI_BUFFER_SIZE));
  EXPECT_THROW(oi.SetRequest(fits + '\x01', 5), EKvRange);
  EXPECT_THROW(oi.SetRequest(Hex("01 03"), OI_BUFFER_SIZE + 1), EKvRange);
  oi.SetRequest(Hex("01 1B 03 00 10"), 7);
  QBuffer big, data;
  big.setData(QByteArray(OI_BUFFER_SIZE, 'x'));
  big.open(QIODevice::ReadOnly);
  EXPECT_THROW(oi.AppendRequest(big, OI_BUFFER_SIZE - 6), EKvRange);
  EXPECT_EQ(oi.GetRequestLength(), 5);
  data.setData(Hex("AA BB CC DD"));
  data.open(QIODevice::ReadOnly);
  data.seek(1);
  oi.AppendRequest(data, 5);
  EXPECT_EQ(QByteArray(reinterpret_cast<const char *>(oi.GetRequest()), oi.GetRequestLength()),
            Hex("01 1B 03 00 10 BB CC DD 00 00"));
  EXPECT_EQ(data.pos(), 4);
}

TEST(OITrace, FileStartsEmptyAndDefaultNameCountsInstancesAfterTheFirst) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("old.trc"));
  SaveFileBytes(path, "left from the previous run");
  TOI oi(path);
  EXPECT_EQ(QFileInfo(path).size(), 0);
  EXPECT_EQ(LoadFileBytes(path + ".1"), "left from the previous run") << "kept as an earlier generation";

  const QString a = TOI::DefaultTraceFileName();
  const QString b = TOI::DefaultTraceFileName();
  const QRegularExpression re(QStringLiteral("^oi_test\\.trc(\\d*)$"));
  const auto ma = re.match(a), mb = re.match(b);
  ASSERT_TRUE(ma.hasMatch()) << a.toStdString();
  ASSERT_TRUE(mb.hasMatch()) << b.toStdString();
  EXPECT_EQ(mb.captured(1).toInt(), ma.captured(1).toInt() + 1);
}

// A transport tracing to a file, on a responder of its own.
template <typename TPeer> class LinkOn : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(Dir.isValid());
    if constexpr (std::is_same_v<TPeer, TPtyResponder>)
      OI = RtuOI(Peer, 10000, TracePath());
    else
      OI = TcpOI(Peer, 10000, TracePath());
  }
  QString TracePath() const { return Dir.filePath(QStringLiteral("link.trc")); }

  QTemporaryDir Dir;
  TPeer Peer;
  std::unique_ptr<TOI> OI;
};
using RtuLink = LinkOn<TPtyResponder>;
using TcpLink = LinkOn<TTcpResponder>;

TEST_F(RtuLink, ReadRequestCarriesCrcLowByteFirstAndAnswerIsKept) {
  Peer.Add({8, Hex("01 03 06 00 0A 01 00 FF FF B9 38")});
  ASSERT_TRUE(OI->Request(Hex("01 03 00 64 00 03"), 11));
  EXPECT_EQ(OI->GetStatus(), oisReady);
  ASSERT_EQ(Peer.Requests().size(), 1);
  EXPECT_EQ(Spaced(Peer.Requests()[0]), QStringLiteral("01 03 00 64 00 03 44 14"));
  EXPECT_EQ(Spaced(AnswerBytes(*OI)), QStringLiteral("01 03 06 00 0A 01 00 FF FF B9 38"));
}

TEST(RtuAnswer, EveryMalformedAnswerEndsWithItsStatus) {
  const TAnswerCase cases[] = {
      {"exception", Hex("01 03 00 64 00 03"), Hex("01 83 02 C0 F1"), 10000, oisErrorFlag},
      {"silence", Hex("01 03 00 64 00 03"), {}, 200, oisBadCI},
      {"other address", Hex("05 03 00 64 00 03"), WithCrc(Hex("03 03 06 00 0A 01 00 FF FF")), 10000, oisProtocolError},
      {"any address for 0", Hex("00 03 00 64 00 03"), WithCrc(Hex("03 03 06 00 0A 01 00 FF FF")), 10000, oisReady},
      {"other function", Hex("01 03 00 64 00 03"), WithCrc(Hex("01 04 06 00 0A 01 00 FF FF")), 10000, oisProtocolError},
      {"bad crc", Hex("01 03 00 64 00 03"), Hex("01 03 06 00 0A 01 00 FF FF B9 39"), 10000, oisBadCRC},
      {"short", Hex("01 03 00 64 00 03"), Hex("01 03 06 00"), 200, oisBadCI},
      {"long", Hex("01 03 00 64 00 03"), WithCrc(Hex("01 03 08 00 0A 01 00 FF FF 00 00")), 10000, oisBadCRC},
      {"exception without crc", Hex("01 03 00 64 00 03"), Hex("01 83 02"), 200, oisBadCI},
      {"exception bad crc", Hex("01 03 00 64 00 03"), Hex("01 83 02 C0 F2"), 10000, oisBadCRC},
      {"exception other address", Hex("05 03 00 64 00 03"), WithCrc(Hex("03 83 02")), 10000, oisProtocolError},
  };
  for (const TAnswerCase &c : cases)
    ExpectStatus<TPtyResponder>(RtuOI, 8, c);
}

// After a failure the late answer of the failed request may come just after
// the next request went out; that request's own answer then follows it.
TEST(RtuAnswer, AnswerFollowedByAnotherAfterAFailureIsNotTaken) {
  TPtyResponder peer;
  const auto oi = RtuOI(peer, 500);
  const QByteArray late = WithCrc(Hex("01 03 06 11 11 22 22 33 33"));
  const QByteArray own = WithCrc(Hex("01 03 06 00 0A 01 00 FF FF"));
  QByteArray badCrc = own;
  badCrc[10] = char(badCrc[10] ^ 1);
  peer.Add({8, badCrc});
  peer.Add({8, late + own});
  peer.Add({8, own});
  EXPECT_FALSE(oi->Request(Hex("01 03 00 64 00 03"), 11));
  EXPECT_FALSE(oi->Request(Hex("01 03 00 64 00 03"), 11));
  EXPECT_EQ(oi->GetStatus(), oisProtocolError);
  ASSERT_TRUE(oi->Request(Hex("01 03 00 64 00 03"), 11));
  EXPECT_EQ(Spaced(AnswerBytes(*oi)), Spaced(own));
}

TEST_F(RtuLink, AnswerSplitAcrossReadsIsAssembled) {
  Peer.Add({8, WithCrc(Hex("01 03 06 00 0A 01 00 FF FF")), false, true});
  ASSERT_TRUE(OI->Request(Hex("01 03 00 64 00 03"), 11));
  EXPECT_EQ(Spaced(AnswerBytes(*OI)), QStringLiteral("01 03 06 00 0A 01 00 FF FF B9 38"));
}

TEST_F(RtuLink, StaleBytesBeforeTheRequestAreNotTakenForTheAnswer) {
  ASSERT_TRUE(OI->GetComPort().Open(false));
  Peer.Send(Hex("01 03 06 11 11 22 22 33 33"));
  ASSERT_TRUE(WaitFor([&] { return Peer.SlaveInputBytes() == 9; }));
  Peer.Add({8, WithCrc(Hex("01 03 06 00 0A 01 00 FF FF"))});
  ASSERT_TRUE(OI->Request(Hex("01 03 00 64 00 03"), 11));
  EXPECT_EQ(Spaced(AnswerBytes(*OI)), QStringLiteral("01 03 06 00 0A 01 00 FF FF B9 38"));
}

TEST_F(RtuLink, PortThatCannotOpenIsBadPort) {
  OI->GetComPort().SetPortName(Dir.filePath(QStringLiteral("no-such-tty")));
  EXPECT_FALSE(OI->Request(Hex("01 03 00 64 00 03"), 11));
  EXPECT_EQ(OI->GetStatus(), oisBadPort);
  EXPECT_FALSE(OI->IsPortOpen());
}

TEST_F(RtuLink, TraceRecordsRequestAndAnswerWithTimeAndTag) {
  Peer.Add({8, Hex("01 83 02 C0 F1")});
  EXPECT_FALSE(OI->Request(Hex("01 03 00 64 00 03"), 11));
  const QString trace = ReadTrace(TracePath());
  const QRegularExpression re(QStringLiteral("^\r\n\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d Q 01 03 00 64 00 03 44 14"
                                             "\r\n\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d A 01 83 02 C0 F1$"));
  EXPECT_TRUE(re.match(trace).hasMatch()) << trace.toStdString();
}

TEST_F(RtuLink, ScanWritesOneRequestPerAddressAndCollectsAnswersWithGoodCrc) {
  Peer.Add({4, WithCrc(Hex("01 07 00"))});
  Peer.Add({4, {}});
  Peer.Add({4, WithCrc(Hex("03 07 5A"))});
  QByteArray badCrc = WithCrc(Hex("04 07 00"));
  badCrc[4] = char(badCrc[4] ^ 1);
  Peer.Add({4, badCrc});
  ASSERT_TRUE(OI->SendScan(1, 4, 0));
  ASSERT_TRUE(Peer.WaitAnswered(4));
  ASSERT_TRUE(WaitFor([&] { return Peer.SlaveInputBytes() == 15; }));
  const QList<QByteArray> req = Peer.Requests();
  ASSERT_EQ(req.size(), 4);
  EXPECT_EQ(Spaced(req[0]), QStringLiteral("01 07 41 E2"));
  EXPECT_EQ(req[2], WithCrc(Hex("03 07")));

  ASSERT_TRUE(OI->ReceiveScanAnswer(5));
  EXPECT_EQ(Spaced(AnswerBytes(*OI)), Spaced(WithCrc(Hex("01 07 00"))));
  ASSERT_TRUE(OI->ReceiveScanAnswer(5));
  EXPECT_EQ(OI->GetAnswer()[0], 3);
  EXPECT_EQ(OI->GetAnswer()[2], 0x5A);
  EXPECT_FALSE(OI->ReceiveScanAnswer(5));
  EXPECT_EQ(OI->GetStatus(), oisBadCRC);
  EXPECT_FALSE(OI->ReceiveScanAnswer(5));
  EXPECT_EQ(OI->GetStatus(), oisBadCI);

  const QString trace = ReadTrace(TracePath());
  EXPECT_TRUE(trace.contains(QStringLiteral(" S 01 07 41 E2\r\n")));
  EXPECT_TRUE(trace.contains(QStringLiteral(" R 01 07 00 22 30")));
}

TEST_F(RtuLink, ScanAnswerCaughtHalfwayIsCompleted) {
  Peer.Add({4, {}});
  ASSERT_TRUE(OI->SendScan(6, 6, 0));
  ASSERT_TRUE(Peer.WaitAnswered(1));
  const QByteArray answer = WithCrc(Hex("06 07 01"));
  Peer.Send(answer.left(2));
  ASSERT_TRUE(WaitFor([&] { return Peer.SlaveInputBytes() == 2; }));
  // The rest follows only once the first two bytes have been taken.
  std::thread rest([&] {
    if (WaitFor([&] { return Peer.SlaveInputBytes() == 0; }))
      Peer.Send(answer.mid(2));
  });
  const bool ok = OI->ReceiveScanAnswer(5);
  rest.join();
  ASSERT_TRUE(ok);
  EXPECT_EQ(AnswerBytes(*OI), answer);
}

TEST_F(TcpLink, RequestTravelsBehindMbapHeaderWithoutCrc) {
  Peer.Add({0, Mbap(Hex("01 03 06 00 0A 01 00 FF FF"))});
  ASSERT_TRUE(OI->Request(Hex("01 03 00 64 00 03"), 11));
  ASSERT_EQ(Peer.Requests().size(), 1);
  EXPECT_EQ(Spaced(Peer.Requests()[0]), QStringLiteral("00 00 00 00 00 06 01 03 00 64 00 03"));
  EXPECT_EQ(Spaced(AnswerBytes(*OI)), QStringLiteral("01 03 06 00 0A 01 00 FF FF"));
  EXPECT_EQ(OI->GetStatus(), oisReady);
}

TEST(TcpAnswer, AnswersAreCheckedLikeSerialAnswers) {
  const TAnswerCase cases[] = {
      {"exception", Hex("01 03 00 64 00 03"), Mbap(Hex("01 83 02")), 10000, oisErrorFlag},
      {"other address", Hex("05 03 00 64 00 03"), Mbap(Hex("03 03 06 00 0A 01 00 FF FF")), 10000, oisProtocolError},
      {"any address for 0", Hex("00 03 00 64 00 03"), Mbap(Hex("03 03 06 00 0A 01 00 FF FF")), 10000, oisReady},
      {"other function", Hex("01 03 00 64 00 03"), Mbap(Hex("01 04 06 00 0A 01 00 FF FF")), 10000, oisProtocolError},
      {"short", Hex("01 03 00 64 00 03"), Mbap(Hex("01 03 06 00 0A")), 10000, oisBadCI},
      {"long", Hex("01 03 00 64 00 03"), Mbap(Hex("01 03 08 00 0A 01 00 FF FF 00 00")), 10000, oisProtocolError},
      {"exception too long", Hex("01 03 00 64 00 03"), Mbap(Hex("01 83 02 00")), 10000, oisProtocolError},
      {"length beyond buffer", Hex("01 03 00 64 00 03"), Hex("00 00 00 00 FF FF 01 03"), 10000, oisProtocolError},
      {"protocol id", Hex("01 03 00 64 00 03"), Hex("00 00 00 01 00 03 01 83 02"), 10000, oisProtocolError},
      {"transaction id", Hex("01 03 00 64 00 03"), Hex("00 07 00 00 00 03 01 83 02"), 10000, oisProtocolError},
      {"length promises more", Hex("01 03 00 64 00 03"), Hex("00 00 00 00 00 09 01 03 06"), 300, oisBadCI},
      {"silence", Hex("01 03 00 64 00 03"), {}, 300, oisUnknown},
  };
  for (const TAnswerCase &c : cases)
    ExpectStatus<TTcpResponder>(TcpOI, 0, c);
}

// Silence past the receive timeout, or the peer hanging up.
TEST(TcpAnswer, TimeoutOrHangupIsUnknownAndNextRequestReconnects) {
  for (const bool hangup : {false, true}) {
    SCOPED_TRACE(hangup ? "hangup" : "timeout");
    TTcpResponder peer;
    const auto oi = TcpOI(peer, 300);
    peer.Add({0, {}, hangup});
    EXPECT_FALSE(oi->Request(Hex("01 03 00 64 00 03"), 11));
    EXPECT_EQ(oi->GetStatus(), oisUnknown);
    // A loaded responder may not have read the given-up request yet; had the
    // second connection come first, it would drop the first unread and answer
    // the second request with the step meant for the first.
    ASSERT_TRUE(peer.WaitAnswered(1));
    oi->SetTcpTimeout(10000);
    peer.Add({0, Mbap(Hex("01 03 06 00 0A 01 00 FF FF"))});
    EXPECT_TRUE(oi->Request(Hex("01 03 00 64 00 03"), 11));
    EXPECT_EQ(peer.Connections(), 2);
  }
}

TEST_F(TcpLink, NothingListeningIsUnknownAndTraced) {
  const int port = ClosedTcpPort();
  OI->SetPort(port);
  EXPECT_FALSE(OI->Request(Hex("01 03 00 64 00 03"), 11));
  EXPECT_EQ(OI->GetStatus(), oisUnknown);
  const QString trace = ReadTrace(TracePath());
  // ECONNREFUSED is 111 on Linux.
  EXPECT_TRUE(trace.contains(QStringLiteral(" *** TDeviceClient Error 006f\r\n"))) << trace.toStdString();
  EXPECT_TRUE(trace.endsWith(QStringLiteral(" *** oiModbusTcp cannot connect to 127.0.0.1 port %1").arg(port)))
      << trace.toStdString();
}

TEST_F(TcpLink, ScanPollsEachAddressOverTcpOnOneConnection) {
  // Each scan request carries its own transaction identifier (1, 2, ...). Unit
  // 2 is absent (exception 0B), unit 3 answers late, after unit 4 was asked,
  // and unit 4 answers with the identifier of no request of this scan.
  Peer.Add({0, Mbap(Hex("09 07 00"), 1)});
  Peer.Add({0, Mbap(Hex("02 87 0B"), 2)});
  Peer.Add({0, QByteArray()});
  Peer.Add({0, Mbap(Hex("03 07 5A"), 3) + Mbap(Hex("04 07 00"), 7)});
  ASSERT_TRUE(OI->SendScan(1, 4, 0));
  const QList<QByteArray> req = Peer.Requests();
  ASSERT_EQ(req.size(), 4);
  EXPECT_EQ(Spaced(req[1]), QStringLiteral("00 02 00 00 00 02 02 07"));
  EXPECT_EQ(Peer.Connections(), 1);
  ASSERT_TRUE(OI->ReceiveScanAnswer(5));
  EXPECT_EQ(OI->GetAnswer()[0], 9) << "any answering unit is taken, as on the serial line";
  ASSERT_TRUE(OI->ReceiveScanAnswer(5));
  EXPECT_EQ(OI->GetAnswer()[0], 3);
  EXPECT_EQ(OI->GetAnswer()[2], 0x5A);
  EXPECT_FALSE(OI->ReceiveScanAnswer(5));
}

TEST_F(TcpLink, ChangedTargetIsConnectedAtTheNextRequest) {
  TTcpResponder second;
  Peer.Add({0, Mbap(Hex("01 07 11"))});
  second.Add({0, Mbap(Hex("01 07 22"))});
  ASSERT_TRUE(OI->Request(Hex("01 07"), 5));
  EXPECT_EQ(OI->GetAnswer()[2], 0x11);
  OI->SetPort(second.Port());
  ASSERT_TRUE(OI->Request(Hex("01 07"), 5));
  EXPECT_EQ(OI->GetAnswer()[2], 0x22);
  EXPECT_EQ(second.Connections(), 1);
  const QString trace = ReadTrace(TracePath());
  const QRegularExpression re(QStringLiteral("^\r\n\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d \\*\\*\\* TDeviceClient Connect"
                                             "\r\n\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d Q 01 07"
                                             "\r\n\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d A 01 07 11"
                                             "\r\n\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d \\*\\*\\* TDeviceClient Disconnect"
                                             "\r\n\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d \\*\\*\\* TDeviceClient Connect"
                                             "\r\n\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d Q 01 07"
                                             "\r\n\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d A 01 07 22$"));
  EXPECT_TRUE(re.match(trace).hasMatch()) << trace.toStdString();
}

// Each way an exchange can fail reads differently to the engineer; the
// device's exception keeps its code. Address 0 is the broadcast: no device
// answers from it.
TEST(LinkFailureTexts, EachFailureKindHasItsOwnText) {
  struct TCase {
    const char *Name;
    QByteArray Reply;
    int TimeoutMs;
    const char *Text;
  };
  const TCase cases[] = {
      {"bad crc", Hex("01 03 06 00 0A 01 00 FF FF B9 39"), 10000, "Ошибка контрольной суммы ответа"},
      {"short", Hex("01 03 06 00"), 200, "Неполный ответ устройства"},
      {"exception 04", WithCrc(Hex("01 83 04")), 10000, "Ошибка устройства 04"},
      {"exception 06", WithCrc(Hex("01 83 06")), 10000, "Ошибка устройства 06: устройство занято"},
      {"time-out", {}, 200, "Нет ответа от устройства"},
      {"from address 0", WithCrc(Hex("00 03 06 00 0A 01 00 FF FF")), 10000, "Неверный ответ устройства"},
      {"exception from address 0", WithCrc(Hex("00 83 06")), 10000, "Неверный ответ устройства"},
      {"other function", WithCrc(Hex("01 04 06 00 0A 01 00 FF FF")), 10000, "Неверный ответ устройства"},
  };
  for (const TCase &c : cases) {
    SCOPED_TRACE(c.Name);
    TPtyResponder peer;
    const auto oi = RtuOI(peer, c.TimeoutMs);
    peer.Add({8, c.Reply});
    EXPECT_FALSE(oi->Request(Hex("01 03 00 64 00 03"), 11));
    EXPECT_EQ(oi->FailureText(), QString::fromUtf8(c.Text));
    EXPECT_FALSE(OIStatusName(oi->GetStatus()).isEmpty());
  }
}

TEST(LinkFailureTexts, RtuPollAndScanAnswersFromAddressZeroAreRefused) {
  TPtyResponder peer;
  const auto oi = RtuOI(peer, 10000);
  peer.Add({4, WithCrc(Hex("00 07 00"))});
  const uint8_t poll[] = {0xFF, 0x07};
  oi->SetRequest(poll, 2, 5);
  EXPECT_FALSE(oi->Transact(true)) << "a poll of 255 takes any device address, never 0";
  EXPECT_EQ(oi->GetStatus(), oisProtocolError);
  peer.Add({4, WithCrc(Hex("00 07 00"))});
  ASSERT_TRUE(oi->SendScan(9, 9, 0));
  ASSERT_TRUE(peer.WaitAnswered(2));
  ASSERT_TRUE(WaitFor([&] { return peer.SlaveInputBytes() == 5; }));
  EXPECT_FALSE(oi->ReceiveScanAnswer(5));
  EXPECT_EQ(oi->GetStatus(), oisProtocolError);
}

// Unit 0 names the Modbus TCP server itself: an answer so named comes from
// the unit asked. 255 is a unit of its own and stays.
TEST(LinkFailureTexts, TcpAnswerNamingUnitZeroKeepsTheAskedUnit) {
  struct TCase {
    QByteArray Request;
    QByteArray Reply;
    bool Ok;
    uint8_t Unit;
  } cases[] = {
      {Hex("05 03 00 64 00 01"), Mbap(Hex("00 03 02 12 34")), true, 5},
      {Hex("05 07"), Mbap(Hex("00 07 5A")), true, 5},
      {Hex("FF 07"), Mbap(Hex("FF 07 5A")), true, 255},
      {Hex("05 03 00 64 00 01"), Mbap(Hex("00 83 02")), false, 5},
      {Hex("05 03 00 64 00 01"), Mbap(Hex("06 03 02 12 34")), false, 6},
  };
  for (const TCase &c : cases) {
    SCOPED_TRACE(Spaced(c.Reply).toStdString());
    TTcpResponder peer;
    const auto oi = TcpOI(peer, 10000);
    peer.Add({0, c.Reply});
    oi->SetRequest(c.Request, c.Request.size() == 2 ? 5 : 7);
    EXPECT_EQ(oi->Transact(), c.Ok);
    EXPECT_EQ(oi->GetAnswer()[0], c.Unit);
  }
  // A scan's answers name their units; unit 0 stands for the unit asked.
  TTcpResponder peer;
  const auto oi = TcpOI(peer, 10000);
  peer.Add({0, Mbap(Hex("00 07 11"), 1)});
  peer.Add({0, Mbap(Hex("07 07 22"), 2)});
  ASSERT_TRUE(oi->SendScan(6, 7, 0));
  ASSERT_TRUE(oi->ReceiveScanAnswer(5));
  EXPECT_EQ(oi->GetAnswer()[0], 6);
  ASSERT_TRUE(oi->ReceiveScanAnswer(5));
  EXPECT_EQ(oi->GetAnswer()[0], 7);
}

TEST(LinkFailureTexts, TcpLostConnectionAndNoServerNameTheTarget) {
  TTcpResponder peer;
  const auto oi = TcpOI(peer, 10000);
  peer.Add({0, {}, true});
  EXPECT_FALSE(oi->Request(Hex("01 03 00 64 00 03"), 11));
  EXPECT_EQ(oi->FailureText(), QStringLiteral("Связь с 127.0.0.1:%1 разорвана").arg(peer.Port()));
  const int closed = ClosedTcpPort();
  oi->SetPort(closed);
  EXPECT_FALSE(oi->Request(Hex("01 03 00 64 00 03"), 11));
  EXPECT_EQ(oi->FailureText(), QStringLiteral("Нет соединения с 127.0.0.1:%1").arg(closed));
}

namespace {
int RepeatLines() { return int(Logger().Lines().filter(QStringLiteral("request repeated")).size()); }
} // namespace

// A read lost on the line is tried again inside the exchange, each repeat in
// the log; what the device answered (an exception, a wrong answer) and a
// server that cannot be reached are not.
TEST(LinkRepeats, LostReadsAreTriedAgainUpToTheLimitAndOthersAreNot) {
  const QByteArray good = WithCrc(Hex("01 03 02 12 34"));
  QByteArray badCrc = good;
  badCrc[6] = char(badCrc[6] ^ 1);
  struct TCase {
    const char *Name;
    std::vector<QByteArray> Replies;
    bool Ok;
    int Requests;
  } cases[] = {
      {"bad crc, then good", {badCrc, good}, true, 2},
      {"silent, then good", {{}, good}, true, 2},
      {"short, then good", {good.left(3), good}, true, 2},
      {"silent three times", {{}, {}, {}}, false, 3},
      {"exception", {WithCrc(Hex("01 83 06"))}, false, 1},
      {"other function", {WithCrc(Hex("01 04 02 12 34"))}, false, 1},
  };
  for (const TCase &c : cases) {
    SCOPED_TRACE(c.Name);
    TPtyResponder peer;
    const auto oi = RtuOI(peer, 200);
    oi->SetRepeats(3, 10);
    for (const QByteArray &r : c.Replies)
      peer.Add({8, r});
    const int before = RepeatLines();
    oi->SetRequest(Hex("01 03 00 64 00 01"), 7);
    EXPECT_EQ(oi->TransactRepeatable(), c.Ok);
    EXPECT_TRUE(peer.WaitAnswered(c.Requests));
    EXPECT_EQ(peer.Requests().size(), c.Requests);
    EXPECT_EQ(RepeatLines() - before, c.Requests - 1);
    if (c.Ok) {
      EXPECT_EQ(AnswerBytes(*oi), good);
    }
  }
}

TEST(LinkRepeats, TcpRepeatsOnAFreshConnectionAndAWriteIsSentOnce) {
  TTcpResponder peer;
  const auto oi = TcpOI(peer, 300);
  oi->SetRepeats(3, 10);
  peer.Add({0, {}});
  peer.Add({0, Mbap(Hex("01 03 02 12 34"))});
  oi->SetRequest(Hex("01 03 00 64 00 01"), 7);
  ASSERT_TRUE(oi->TransactRepeatable());
  EXPECT_EQ(peer.Connections(), 2) << "a late answer on the old connection cannot pass for the repeat's";
  EXPECT_EQ(AnswerBytes(*oi), Hex("01 03 02 12 34"));

  peer.Add({0, {}});
  oi->SetRequest(Hex("01 06 00 64 00 01"), 8);
  EXPECT_FALSE(oi->Transact());
  ASSERT_TRUE(peer.WaitAnswered(3));
  EXPECT_EQ(peer.Requests().size(), 3);

  const int before = RepeatLines();
  oi->SetPort(ClosedTcpPort());
  oi->SetRequest(Hex("01 03 00 64 00 01"), 7);
  EXPECT_FALSE(oi->TransactRepeatable());
  EXPECT_EQ(RepeatLines(), before) << "a server that cannot be reached is not asked again";
}

// A busy device (exception 06) is asked again for a read of a device
// address, on Modbus TCP on the same connection; on the serial line a file
// frame after any failed try, whatever its check found.
TEST(LinkRepeats, EachRuleRepeatsItsOwnFailures) {
  const QByteArray good = WithCrc(Hex("01 03 02 12 34"));
  const QByteArray busy = WithCrc(Hex("01 83 06"));
  struct TCase {
    const char *Name;
    bool Tcp;
    TOI::TRepeatRule Rule;
    std::vector<QByteArray> Replies; // serial answers; on TCP the same without the CRC
    int BadChecks;                   // so many first answers the caller's check refuses
    bool Ok;
    int Requests;
  } cases[] = {
      {"busy, read", false, TOI::rrBusy, {busy, good}, 0, true, 2},
      {"busy three times", false, TOI::rrBusy, {busy, busy, busy}, 0, false, 3},
      {"exception 02, read", false, TOI::rrBusy, {WithCrc(Hex("01 83 02"))}, 0, false, 1},
      {"busy, lost answers only", false, TOI::rrLostAnswer, {busy}, 0, false, 1},
      {"exception 02, frame", false, TOI::rrAnyFailure, {WithCrc(Hex("01 83 02")), good}, 0, true, 2},
      {"other function, frame", false, TOI::rrAnyFailure, {WithCrc(Hex("01 04 02 12 34")), good}, 0, true, 2},
      {"wrong echo, frame", false, TOI::rrAnyFailure, {good, good}, 1, true, 2},
      {"busy over TCP", true, TOI::rrBusy, {busy, good}, 0, true, 2},
      {"busy over TCP, lost answers only", true, TOI::rrLostAnswer, {busy}, 0, false, 1},
      {"busy over TCP, frame", true, TOI::rrAnyFailure, {busy, busy, busy}, 0, false, 3},
      {"exception 02 over TCP, frame", true, TOI::rrAnyFailure, {WithCrc(Hex("01 83 02"))}, 0, false, 1},
      {"wrong echo over TCP, frame", true, TOI::rrAnyFailure, {good}, 1, false, 1},
  };
  for (const TCase &c : cases) {
    SCOPED_TRACE(c.Name);
    TPtyResponder pty;
    TTcpResponder tcp;
    const auto oi = c.Tcp ? TcpOI(tcp, 300) : RtuOI(pty, 200);
    oi->SetRepeats(3, 10);
    for (const QByteArray &r : c.Replies) {
      if (c.Tcp)
        tcp.Add({0, Mbap(r.left(r.size() - 2))});
      else
        pty.Add({8, r});
    }
    int checks = 0;
    auto check = [&] {
      if (++checks > c.BadChecks)
        return true;
      oi->SetStatus(oisProtocolError);
      return false;
    };
    oi->SetRequest(Hex("01 03 00 64 00 01"), 7);
    EXPECT_EQ(oi->TransactRepeatable(false, c.Rule, check), c.Ok);
    if (c.Tcp) {
      EXPECT_TRUE(tcp.WaitAnswered(c.Requests));
      EXPECT_EQ(tcp.Requests().size(), c.Requests);
      EXPECT_EQ(tcp.Connections(), 1) << "a busy answer leaves the stream in step";
    } else {
      EXPECT_TRUE(pty.WaitAnswered(c.Requests));
      EXPECT_EQ(pty.Requests().size(), c.Requests);
    }
  }
}

// A held exchange goes over the connection it is held to or not at all:
// after the peer hung up it fails unsent, as a lost connection, and no try
// of it makes a new one (whoever answers there has not been checked); a
// busy answer is still asked again on the same connection. Another
// connection open since is not its own either.
TEST(LinkRepeats, AHeldExchangeNeverMakesANewConnection) {
  TTcpResponder peer;
  const auto oi = TcpOI(peer, 300);
  oi->SetRepeats(3, 10);
  const QByteArray read = Hex("01 03 00 64 00 01");
  peer.Add({0, Mbap(Hex("01 03 02 12 34"))});
  ASSERT_TRUE(oi->Request(read, 7));
  const uint32_t checked = oi->Connection();
  ASSERT_NE(checked, 0u);
  EXPECT_EQ(oi->TakeExchangeConnection(), checked);
  oi->HoldConnection(true, checked);
  peer.Add({0, Mbap(Hex("01 83 06"))});
  peer.Add({0, Mbap(Hex("01 03 02 12 35"))});
  oi->SetRequest(read, 7);
  EXPECT_TRUE(oi->TransactRepeatable(false, TOI::rrBusy));
  peer.Add({0, {}, true});
  oi->SetRequest(read, 7);
  EXPECT_FALSE(oi->TransactRepeatable());
  ASSERT_TRUE(peer.WaitAnswered(4));
  oi->SetRequest(read, 7);
  EXPECT_FALSE(oi->TransactRepeatable());
  EXPECT_TRUE(oi->FailureText().startsWith("Связь с 127.0.0.1")) << oi->FailureText().toStdString();
  EXPECT_EQ(peer.Requests().size(), 4) << "nothing sent after the hang-up";
  EXPECT_EQ(peer.Connections(), 1);

  EXPECT_TRUE(oi->NotSent());
  EXPECT_EQ(oi->TakeExchangeConnection(), checked) << "the last exchange sent";

  oi->HoldConnection(false);
  peer.Add({0, Mbap(Hex("01 03 02 12 36"))});
  EXPECT_TRUE(oi->Request(read, 7));
  EXPECT_EQ(peer.Connections(), 2);
  EXPECT_GT(oi->Connection(), checked);
  // Held to the connection of the check, another open now: not sent.
  oi->HoldConnection(true, checked);
  oi->SetRequest(read, 7);
  EXPECT_FALSE(oi->TransactRepeatable());
  EXPECT_TRUE(oi->NotSent());
  EXPECT_EQ(oi->FailureText(), QString::fromUtf8(LinkTexts::NotSentReconnected));
  EXPECT_EQ(peer.Requests().size(), 5) << "nothing sent over the new connection";
  EXPECT_EQ(peer.Connections(), 2);
}
