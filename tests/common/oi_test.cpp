#include "linkResponder.h"
#include "oi.h"
#include "uErrors.h"
#include "uFiles.h"

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
      {"length promises more", Hex("01 03 00 64 00 03"), Hex("00 00 00 00 00 09 01 03 06"), 300, oisUnknown},
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
