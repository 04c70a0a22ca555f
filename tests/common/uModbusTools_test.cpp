// Request records, the answer parser and the front's delivery, byte by byte.
#include "uTestLoop.h"
#include <gtest/gtest.h>

#include <QBuffer>

#include "uDateTime.h"
#include "uErrorOf.h"
#include "uErrors.h"
#include "uLogger.h"
#include "uModbusTools.h"

namespace {

// A front that keeps what is sent instead of queueing it to a worker.
class TCaptureFront : public TDeviceFront {
public:
  void SetDeviceAddr(uint8_t) override {}
  std::vector<QByteArray> Sent;

protected:
  void Queue(const uint8_t *Data, int Count) override {
    Sent.emplace_back(reinterpret_cast<const char *>(Data), Count);
  }
};

// An answer record: id, 12 zero bytes, command, tag, flag, status, payload.
QByteArray Answer(TReplyId Id, uint8_t Command, uint8_t Flag, uint8_t Status, const QByteArray &Payload) {
  QByteArray a(20, 0);
  a[0] = char(Id);
  a[1] = char(Id >> 8);
  a[2] = char(Id >> 16);
  a[3] = char(Id >> 24);
  a[16] = char(Command);
  a[18] = char(Flag);
  a[19] = char(Status);
  return a + Payload;
}

// A pane attached for a test's length: the lines of every record are made
// only while somebody listens.
struct TListening {
  TListening() { Logger().SetSink([](const QString &, int) {}); }
  ~TListening() { Logger().SetSink({}); }
};

bool LastLogLineEndsWith(const QString &Text) {
  const QStringList lines = Logger().Lines();
  return !lines.isEmpty() && lines.last().endsWith(Text);
}

} // namespace

TEST(ModbusTools, PollRecordForAddress5IsLaidOutByteForByte) {
  TListening pane;
  TCaptureFront front;
  TRequestBuilder &b = front.Builder();
  b.StartRecord(0x04030201, bcPoll, 0, {0x00, 0xFF, 0x00, 0xFF});
  b.PutByte(5);
  b.Send();
  ASSERT_EQ(front.Sent.size(), 1u);
  EXPECT_EQ(front.Sent[0], Bytes({0x17, 0x00, 0x01, 0x02, 0x03, 0x04, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                  0x07, 0x00, 0x00, 0xFF, 0x00, 0xFF, 0x05}));
  EXPECT_TRUE(LastLogLineEndsWith("Send array (25) 17 00 01 02 03 04 00 00 00 00 00 00 00 00 00 00 00 00 "
                                  "07 00 00 FF 00 FF 05 "));
}

TEST(ModbusTools, WriteRegistersRecordCarriesPairsLowByteFirst) {
  TCaptureFront front;
  TRequestBuilder &b = front.Builder();
  b.StartRecord(7, bcWriteRegisters, 0, {2});
  b.PutWord(0x0102);
  b.PutWord(0xA1B2);
  b.PutWord(0x0103);
  b.PutWord(0x0004);
  b.Send();
  const QByteArray r = front.Sent.at(0);
  ASSERT_EQ(r.size(), 29);
  EXPECT_EQ(r.left(2), Bytes({27, 0}));
  EXPECT_EQ(r.mid(18), Bytes({0x02, 0x00, 0x02, 0x02, 0x01, 0xB2, 0xA1, 0x03, 0x01, 0x04, 0x00}));
}

// The length byte counts at most 255 bytes; a record holds RequestRecordSize.
TEST(ModbusTools, RecordBoundsAreRangeErrorsAndLongLengthsAreStored) {
  TCaptureFront front;
  TRequestBuilder &b = front.Builder();
  std::vector<uint8_t> payload(237, 0x5A);
  b.StartRecord(1, bcNone, 0, payload);
  EXPECT_EQ(b.WriteIndex(), 257);
  payload.push_back(0);
  EXPECT_THROW(b.StartRecord(1, bcNone, 0, payload), EKvRange);

  b.StartRecord(1, bcNone, 0, {});
  b.PutDword(0x11223344);
  b.PutByteAt(0x99, 20);
  EXPECT_EQ(b.Record().mid(20), Bytes({0x99, 0x33, 0x22, 0x11}));
  EXPECT_THROW(b.PutByteAt(1, 24), EKvRange);
  EXPECT_TRUE(front.Sent.empty());

  b.StartRecord(1, bcWriteFileFrame, 0, {3, 0, 0});
  while (b.WriteIndex() < RequestRecordSize - 1)
    b.PutByte(0xEE);
  EXPECT_THROW(b.PutWord(1), EKvRange);
  EXPECT_THROW(b.PutDword(1), EKvRange);
  b.PutByte(0x11);
  EXPECT_THROW(b.PutByte(0x12), EKvRange);
  b.Send();
  const QByteArray r = front.Sent.at(0);
  ASSERT_EQ(r.size(), 2088);
  EXPECT_EQ(uint8_t(r[0]) | (uint8_t(r[1]) << 8), 2086);
  EXPECT_EQ(uint8_t(r[2087]), 0x11);
}

TEST(ModbusTools, PutStreamCutsCountToTheStreamSizeAndRefusesAShortRest) {
  TCaptureFront front;
  TRequestBuilder &b = front.Builder();
  QByteArray data = Bytes({1, 2, 3, 4, 5, 6});
  QBuffer stream(&data);
  stream.open(QIODevice::ReadOnly);
  b.StartRecord(1, bcWriteClock, 0, {});
  b.PutStream(stream, 100);
  EXPECT_EQ(b.Record().mid(20), data);
  stream.seek(2);
  b.StartRecord(1, bcWriteClock, 0, {});
  EXPECT_EQ(ErrorOf([&] { b.PutStream(stream, 6); }), "Stream read error");
}

TEST(ModbusTools, SendArrayRefusesMoreThan65535Bytes) {
  TCaptureFront front;
  std::vector<uint8_t> big(65536);
  EXPECT_THROW(front.SendArray(big.data(), int(big.size())), EKvAssert);
  EXPECT_EQ(ErrorOf([&] { front.SendArray(big.data(), int(big.size())); }), "SendArray invalid count");
  EXPECT_TRUE(front.Sent.empty());
}

TEST(ModbusTools, ParserReadsLittleEndianValues) {
  TResponseParser p;
  p.Fill(Bytes({0xAB, 0x34, 0x12, 0xFE, 0xFF, 0xFF, 0xFF, 0x78, 0x56, 0x34, 0x12,
                // 1.5 as an IEEE double, lowest byte first
                0, 0, 0, 0, 0, 0, 0xF8, 0x3F}));
  EXPECT_EQ(p.ReadByte(), 0xAB);
  EXPECT_EQ(p.ReadWord(), 0x1234);
  EXPECT_EQ(p.ReadInteger(), -2);
  EXPECT_EQ(p.ReadDword(), 0x12345678u);
  EXPECT_EQ(p.ReadDouble(), 1.5);
  EXPECT_EQ(p.Index(), 19);
}

TEST(ModbusTools, ParserToleratesTwoBytesPastTheAnswerAndNoMore) {
  struct TCase {
    int Index;
    int Size;
    bool Fits;
  };
  const TCase cases[] = {{20, 2, true}, {20, 4, false}, {21, 1, true}, {21, 2, false},
                         {22, 1, false}, {0, 22, true}, {0, 23, false}, {19, 3, true}};
  for (const TCase &c : cases) {
    TResponseParser p;
    p.Fill(QByteArray(20, 7));
    p.SetIndex(c.Index);
    std::vector<uint8_t> out(size_t(c.Size));
    if (c.Fits) {
      EXPECT_NO_THROW(p.ReadBytes(out.data(), c.Size)) << c.Index << "+" << c.Size;
      EXPECT_EQ(p.Index(), c.Index + c.Size);
    } else {
      EXPECT_EQ(ErrorOf([&] { p.ReadBytes(out.data(), c.Size); }), "TResponseParser overflow")
          << c.Index << "+" << c.Size;
    }
  }
  TResponseParser p;
  p.Fill(QByteArray(20, 7));
  p.SetIndex(20);
  EXPECT_EQ(p.ReadWord(), 0) << "bytes past the answer read as zero";
  p.SetIndex(20);
  EXPECT_THROW(p.ReadInteger(), EKvProtocol);
}

TEST(ModbusTools, ReadDateFallsBackToTheBaseDateAndAlwaysConsumesSevenBytes) {
  struct TCase {
    QByteArray Record;
    TDateTime Expected;
  };
  const TCase cases[] = {
      // Every invalid field is in the decoder's own table (uDateTime_test).
      {Bytes({0xFF, 1, 1, 0, 0, 0, 0}), EncodeDateTime(2000, 1, 1)},
      {Bytes({0x18, 2, 30, 0, 0, 0, 0}), EncodeDateTime(2000, 1, 1)}, // 30 February
      {Bytes({0x18, 2, 29, 13, 5, 59, 99}), EncodeDateTime(2024, 2, 29, 13, 5, 59, 990)},
  };
  for (const TCase &c : cases) {
    TResponseParser p;
    p.Fill(c.Record + Bytes({0x42}));
    EXPECT_DOUBLE_EQ(p.ReadDate(), c.Expected) << c.Record.toHex().constData();
    EXPECT_EQ(p.Index(), 7);
    EXPECT_EQ(p.ReadByte(), 0x42);
  }
}

TEST(ModbusTools, ReadAtRestoresTheIndexEvenWhenItFails) {
  TResponseParser p;
  p.Fill(Bytes({1, 0, 0, 0, 0x18, 2, 29, 0, 0, 0, 0}));
  p.SetIndex(3);
  EXPECT_EQ(p.ReadIntegerAt(0), 1);
  EXPECT_EQ(p.Index(), 3);
  EXPECT_DOUBLE_EQ(p.ReadDateAt(4), EncodeDateTime(2024, 2, 29));
  EXPECT_EQ(p.Index(), 3);
  EXPECT_EQ(p.ReadIntegerAt(-1), int32_t(0x1D021800));
  EXPECT_EQ(p.Index(), 3);
  EXPECT_THROW(p.ReadIntegerAt(10), EKvProtocol);
  EXPECT_EQ(p.Index(), 3);
}

TEST(ModbusTools, RecordLinesAreWrittenOnlyWhileSomebodyListens) {
  TCaptureFront front;
  int calls = 0;
  const TReplyId id =
      front.RegisterReply([&](TResponseParser &, const TAnswerHead &, std::span<const uint8_t>) { ++calls; });
  auto exchange = [&] {
    const qsizetype before = Logger().Lines().size();
    front.Builder().StartRecord(id, bcReadRegisters, 0, {1, 0x0A, 0x00});
    front.Builder().Send();
    front.Deliver(Answer(id, bcReadRegisters, 0, 0, Bytes({1, 0x0A, 0x00, 0x34, 0x12})));
    front.Deliver(Answer(id, bcReadRegisters, 0, 4, Bytes({0})));
    QStringList since;
    for (const QString &line : Logger().Lines().mid(before))
      since << line.section(' ', 1); // without the time
    return since;
  };
  ASSERT_FALSE(Logger().Listened());
  EXPECT_EQ(exchange(), QStringList{"ERROR device error timeout 04 00 Нет ответа от устройства"})
      << "failures are logged all the same";
  TListening pane;
  const QStringList heard = exchange();
  ASSERT_EQ(heard.size(), 4);
  EXPECT_EQ(heard[0], "DEBUG Send array (23) 15 00 " + HexBytes(front.Sent.back().mid(2)));
  EXPECT_TRUE(heard[1].startsWith("DEBUG Executed start (25) "));
  EXPECT_EQ(heard[2], "DEBUG Executed ready");
  EXPECT_EQ(heard[3], "ERROR device error timeout 04 00 Нет ответа от устройства");
  EXPECT_EQ(calls, 4);
}

TEST(ModbusTools, RegisteredIdsAreNeverZeroNorShared) {
  TCaptureFront front;
  std::set<TReplyId> ids;
  for (int i = 0; i < 100; ++i)
    ids.insert(front.RegisterReply({}));
  EXPECT_EQ(ids.size(), 100u);
  EXPECT_EQ(ids.count(0), 0u);
}

TEST(ModbusTools, DeliveryCallsTheReplyOfTheRecordsIdAtThePayload) {
  TListening pane;
  TCaptureFront front;
  int calls = 0;
  TAnswerHead seen;
  int payloadByte = -1;
  front.RegisterReply([](TResponseParser &, const TAnswerHead &, std::span<const uint8_t>) {
    ADD_FAILURE() << "wrong chain";
  });
  const TReplyId id = front.RegisterReply([&](TResponseParser &p, const TAnswerHead &h, std::span<const uint8_t> d) {
    ++calls;
    seen = h;
    EXPECT_EQ(p.Index(), 20);
    EXPECT_GE(d.size(), size_t(ResponseBufferSize));
    payloadByte = p.ReadByte();
  });
  QByteArray a = Answer(id, bcReadRegisters, 0, 0, Bytes({0x01, 0x0A, 0x00, 0x34, 0x12}));
  a[17] = 1; // tag
  front.Deliver(a);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(seen.Command, bcReadRegisters);
  EXPECT_EQ(seen.Tag, 1);
  EXPECT_EQ(payloadByte, 1);
  EXPECT_TRUE(LastLogLineEndsWith("Executed ready"));
  front.UnregisterReply(id);
  front.Deliver(a);
  EXPECT_EQ(calls, 1) << "an answer of an ended chain is dropped";
}

TEST(ModbusTools, DeliveryLogsTheCauseOfAFailure) {
  TCaptureFront front;
  int calls = 0;
  const TReplyId id =
      front.RegisterReply([&](TResponseParser &, const TAnswerHead &, std::span<const uint8_t>) { ++calls; });
  front.Deliver(Answer(id, bcReadRegisters, 0, 4, Bytes({0})));
  EXPECT_TRUE(LastLogLineEndsWith("ERROR device error timeout 04 00 Нет ответа от устройства"));
  EXPECT_EQ(front.DeliveryText(), "Нет ответа от устройства");
  front.Deliver(Answer(id, bcReadRegisters, 0, 4, Bytes({0})), "Ошибка устройства 04");
  EXPECT_TRUE(LastLogLineEndsWith("ERROR device error exception-04 04 00 Ошибка устройства 04"));
  // A scan that could not start is a failure of its own, logged as one.
  front.Deliver(Answer(id, bcScan, 0, 1, Bytes({0, 0xFF, 0, 0xFF, 0})), "Нет соединения с 127.0.0.1:2001");
  const QStringList lines = Logger().Lines();
  EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const QString &L) {
    return L.endsWith("ERROR device error no-connection 01 00 Нет соединения с 127.0.0.1:2001");
  }));
  front.Deliver(Answer(id, 0x63, 0x80, 0, {}));
  EXPECT_TRUE(LastLogLineEndsWith(QString("Executed protocol error (20) ") + HexBytes(Answer(id, 0x63, 0x80, 0, {}))));
  EXPECT_EQ(calls, 4) << "failures and unknown commands reach the chain too";
}
