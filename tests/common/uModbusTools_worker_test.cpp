// The device worker and its front against the simulated device, over a
// pseudo-terminal (Modbus RTU) and loopback Modbus TCP. Waits poll for their
// condition with a generous deadline; nothing depends on the machine's speed.
#include "uTestLoop.h"
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "oi.h"
#include "uDateTime.h"
#include "uDevSimServer.h"
#include "uDeviceIO.h"
#include "uLinkText.h"
#include "uLogger.h"
#include "uModbusTools.h"
#include "uSimDevice.h"

namespace {

QCoreApplication &App() {
  static int argc = 1;
  static char name[] = "uModbusTools_worker_test";
  static char *argv[] = {name, nullptr};
  static QCoreApplication app(argc, argv);
  return app;
}

struct TGot {
  TAnswerHead Head;
  QByteArray Payload;
  std::vector<TForeignSign> Signs; // told before the reply
  QString Text;                     // the failure as delivered
};

enum class TLink { Rtu, Tcp };

class DeviceWorker : public ::testing::TestWithParam<TLink> {
protected:
  void SetUp() override {
    App();
    ASSERT_TRUE(Dir.isValid());
    Server.Start(TDevSimOptions{});
    Thread = std::make_unique<TDeviceThread>(Dir.filePath("debug.log"), Dir.filePath("link.trc"));
    TOI &oi = Thread->DeviceIO().GetOI();
    // Generous: a late answer on a loaded machine must not pass for silence.
    // Silence and exception answers (shorter than expected) cost this much.
    oi.SetTimeout(1000);
    oi.SetTcpTimeout(1000);
    if (GetParam() == TLink::Rtu) {
      oi.SetProtocol(TOI::prModbusRtu);
      oi.GetComPort().SetPortName(Server.PtyPath());
      oi.GetComPort().SetBaudRate(115200);
    } else {
      oi.SetProtocol(TOI::prModbusTcp);
      oi.SetHost("127.0.0.1");
      oi.SetPort(Server.TcpPort());
    }
    Tool = std::make_unique<TDeviceTool>(*Thread);
    Tool->SetDeviceAddr(1);
    Id = Tool->RegisterReply([this](TResponseParser &P, const TAnswerHead &H, std::span<const uint8_t>) {
      TGot g;
      g.Head = H;
      g.Payload = QByteArray(reinterpret_cast<const char *>(P.Data().data()) + P.Index(), P.Count() - P.Index());
      g.Text = Tool->DeliveryText();
      g.Signs = std::move(PendingSigns);
      PendingSigns.clear();
      Got.push_back(g);
    });
    Tool->setOnForeignSign([this](TForeignSign Sign) { PendingSigns.push_back(Sign); });
  }
  void TearDown() override {
    Tool.reset();
    Thread.reset();
    Server.Stop();
  }

  // As a chain does, the size of the last frame-size record goes with the
  // file-frame records that follow it.
  void Send(uint8_t Command, std::initializer_list<uint8_t> Payload, std::initializer_list<uint16_t> Words = {}) {
    if (Command == bcSetFrameSize && Payload.size() == 2)
      FrameSize = uint16_t(Payload.begin()[0] | Payload.begin()[1] << 8);
    TRequestBuilder &b = Tool->Builder();
    b.StartRecord(Id, Command, 0, Payload);
    b.SetFrameSize(FrameSize);
    for (uint16_t w : Words)
      b.PutWord(w);
    b.Send();
  }
  // A record held to connection Connection, as a chain's after its check.
  void SendHeld(uint32_t Connection, uint8_t Command, std::initializer_list<uint8_t> Payload,
                std::initializer_list<uint16_t> Words = {}) {
    TRequestBuilder &b = Tool->Builder();
    b.StartRecord(Id, Command, 0, Payload);
    b.SetFrameSize(FrameSize);
    b.HoldConnection(Connection);
    for (uint16_t w : Words)
      b.PutWord(w);
    b.Send();
  }
  // A clock write record: the day count as two little-endian dwords.
  void SendClock(double DayCount) {
    TRequestBuilder &b = Tool->Builder();
    b.StartRecord(Id, bcWriteClock, 0, {});
    uint64_t bits;
    std::memcpy(&bits, &DayCount, 8);
    b.PutDword(uint32_t(bits));
    b.PutDword(uint32_t(bits >> 32));
    b.Send();
  }
  // The device keeps silent once; the worker waits TimeoutMs for it.
  void SilenceNextRequest(int TimeoutMs) {
    Thread->DeviceIO().GetOI().SetTimeout(TimeoutMs);
    Thread->DeviceIO().GetOI().SetTcpTimeout(TimeoutMs);
    TSimFault silence;
    silence.Kind = TSimFaultKind::Silence;
    silence.Count = 1;
    Device.SetFault(silence);
  }
  const TGot &Answer(size_t Index) {
    EXPECT_TRUE(WaitFor([&] { return Got.size() > Index; })) << "no answer " << Index;
    static TGot none;
    return Got.size() > Index ? Got[Index] : none;
  }
  std::vector<QByteArray> Requests(uint8_t Function) const {
    std::vector<QByteArray> out;
    for (const QByteArray &pdu : Device.RequestLog())
      if (!pdu.isEmpty() && uint8_t(pdu[0]) == Function)
        out.push_back(pdu);
    return out;
  }
  static bool Logged(const QString &Text) {
    const QStringList lines = Logger().Lines();
    return std::any_of(lines.begin(), lines.end(), [&](const QString &L) { return L.endsWith(Text); });
  }

  QTemporaryDir Dir;
  TSimDevice Device;
  TDevSimServer Server{Device};
  std::unique_ptr<TDeviceThread> Thread;
  std::unique_ptr<TDeviceTool> Tool;
  TReplyId Id = 0;
  uint16_t FrameSize = 0;
  std::vector<TGot> Got;
  std::vector<TForeignSign> PendingSigns;
};

} // namespace

TEST_P(DeviceWorker, RegisterRunsAreReadTogetherAndAnsweredInRequestOrder) {
  Device.SetRegisters(TSimArea::Holding, 10, {0x0A0A, 0x0B0B, 0x0C0C});
  Device.SetRegister(TSimArea::Holding, 40, 0x2828);
  Send(bcSelectArea, {1});
  Send(bcReadRegisters, {4}, {10, 11, 12, 40});
  Send(bcReadRegisters, {3}, {12, 10, 11});
  EXPECT_EQ(Answer(1).Head.Status, 0);
  EXPECT_EQ(Answer(1).Payload, Bytes({4, 10, 0, 0x0A, 0x0A, 11, 0, 0x0B, 0x0B, 12, 0, 0x0C, 0x0C, 40, 0, 0x28, 0x28}));
  EXPECT_EQ(Answer(2).Payload, Bytes({3, 12, 0, 0x0C, 0x0C, 10, 0, 0x0A, 0x0A, 11, 0, 0x0B, 0x0B}));
  const std::vector<QByteArray> reads = Requests(0x03);
  ASSERT_EQ(reads.size(), 4u);
  EXPECT_EQ(reads[0], Bytes({0x03, 0, 10, 0, 3}));
  EXPECT_EQ(reads[1], Bytes({0x03, 0, 40, 0, 1}));
  EXPECT_EQ(reads[2], Bytes({0x03, 0, 12, 0, 1}));
  EXPECT_EQ(reads[3], Bytes({0x03, 0, 10, 0, 2}));
}

TEST_P(DeviceWorker, AFailedRunGivesANonZeroStatusAndNoValueWhicheverRunFailed) {
  Device.SetRegisters(TSimArea::Holding, 10, {1, 2});
  Device.SetRegister(TSimArea::Holding, 40, 3);
  Send(bcSelectArea, {1});
  // First the earlier run fails, then the final one.
  Device.SetFault({TSimFaultKind::Exception, 2, 0x03, 0, 1});
  Send(bcReadRegisters, {3}, {10, 11, 40});
  EXPECT_EQ(Answer(1).Head.Status, 2);
  EXPECT_EQ(Answer(1).Payload, Bytes({3, 10, 0, 0, 0, 11, 0, 0, 0, 40, 0, 0, 0}));
  EXPECT_TRUE(Logged("ERROR device error exception-02 02 00 Ошибка устройства 02"));
  Device.SetFault({TSimFaultKind::Exception, 4, 0x03, 1, 1});
  Send(bcReadRegisters, {3}, {10, 11, 40});
  EXPECT_EQ(Answer(2).Head.Status, 4);
  EXPECT_EQ(Answer(2).Payload, Bytes({3, 10, 0, 0, 0, 11, 0, 0, 0, 40, 0, 0, 0}));
  EXPECT_TRUE(Logged("ERROR device error exception-04 04 00 Ошибка устройства 04")) << "exception 4 is not a link fault";
}

TEST_P(DeviceWorker, EveryFailureAnswersANonZeroStatus) {
  const uint8_t silence = GetParam() == TLink::Rtu ? oisBadCI : oisUnknown;
  struct TCase {
    TSimFault Fault;
    uint8_t Command;
    QByteArray Payload;
    uint8_t Status;
  };
  const TCase cases[] = {
      {{TSimFaultKind::Silence, 0, 0x06}, bcWriteRegisters, Bytes({1, 5, 0, 7, 0}), silence},
      {{TSimFaultKind::Exception, 3, 0x06}, bcWriteRegisters, Bytes({1, 5, 0, 7, 0}), 3},
      {{TSimFaultKind::Silence, 0, 0x07}, bcPoll, Bytes({0, 0xFF, 0, 0xFF, 1}), silence},
      {{TSimFaultKind::Exception, 1, 0x1D}, bcReadClock, {}, 1},
      {{TSimFaultKind::Silence, 0, 0x1F}, bcSpecialCommand, Bytes({0, 0xFF, 0, 0xFF, 0xF1}), silence},
      {{TSimFaultKind::OtherFunction, 0x04, 0x03}, bcReadRegisters, Bytes({1, 0, 0}), oisProtocolError},
      {{}, bcPoll, Bytes({0, 0xFE, 0, 0xFF, 1}), StatusBadGuard},
  };
  size_t n = 0;
  for (const TCase &c : cases) {
    Device.SetFault(c.Fault);
    Tool->Builder().StartRecord(Id, c.Command, 0,
                                std::span<const uint8_t>(reinterpret_cast<const uint8_t *>(c.Payload.constData()),
                                                         size_t(c.Payload.size())));
    Tool->Builder().Send();
    EXPECT_EQ(Answer(n).Head.Status, c.Status) << "command " << int(c.Command);
    ++n;
  }
  Device.SetFault({});
  Send(bcReadRegisters, {1}, {0});
  EXPECT_EQ(Answer(n).Head.Status, 0) << "the worker goes on after failures";
}

// The log tells each kind of failure by a code of its own: the status byte
// alone reads a bad CRC (status 6) as exception 06.
TEST_P(DeviceWorker, EachFailureKindIsLoggedWithACodeOfItsOwn) {
  const bool rtu = GetParam() == TLink::Rtu;
  Thread->SetErrorLimit(1);
  Thread->DeviceIO().GetOI().SetTimeout(300);
  Thread->DeviceIO().GetOI().SetTcpTimeout(300);
  struct TCase {
    TSimFault Fault;
    const char *Line; // the end of the log line
  };
  std::vector<TCase> cases = {
      {{TSimFaultKind::Exception, 6, 0x03}, "device error exception-06 06 00 Ошибка устройства 06: устройство занято"},
      {{TSimFaultKind::Silence, 0, 0x03}, rtu ? "device error timeout 04 00 Нет ответа от устройства"
                                              : "device error timeout 01 00 Нет ответа от устройства"},
      {{TSimFaultKind::ShortAnswer, 2, 0x03}, "device error short-answer 04 00 Неполный ответ устройства"},
      {{TSimFaultKind::OtherAddress, 9, 0x03}, "device error wrong-address 05 00 Неверный ответ устройства"},
      {{TSimFaultKind::OtherFunction, 4, 0x03}, "device error wrong-function 05 00 Неверный ответ устройства"},
  };
  if (rtu)
    cases.push_back({{TSimFaultKind::BadCrc, 0, 0x03}, "device error bad-crc 06 00 Ошибка контрольной суммы ответа"});
  size_t n = 0;
  for (const TCase &c : cases) {
    SCOPED_TRACE(c.Line);
    TSimFault f = c.Fault;
    f.Count = 1;
    Device.SetFault(f);
    Send(bcReadRegisters, {1}, {7});
    EXPECT_NE(Answer(n++).Head.Status, 0);
    EXPECT_TRUE(Logged(QString::fromUtf8(c.Line)));
  }
}

TEST_P(DeviceWorker, TheQueueIsDrainedAfterAnErrorAndCommandsWithoutExchangeAnswerZero) {
  Device.SetFault({TSimFaultKind::Exception, 2, 0x03, 0, 1});
  // All queued before the worker is likely to run; each gets its own answer.
  Send(bcReadRegisters, {1}, {0});
  Send(bcSelectArea, {1});
  Send(bcNone, {1, 2, 3, 4});
  Send(bcSetDeviceAddr, {1});
  Send(bcSetFrameSize, {0x80, 0});
  Send(0x63, {});
  Send(bcReadRegisters, {1}, {0});
  const uint8_t statuses[] = {2, 0, 0, 0, 0, 0, 0};
  for (size_t i = 0; i < 7; ++i)
    EXPECT_EQ(Answer(i).Head.Status, statuses[i]) << i;
  EXPECT_EQ(Answer(5).Head.ErrorFlag, ErrorFlagUnknownCommand);
  EXPECT_EQ(Answer(5).Head.Command, 0x63);
  EXPECT_EQ(Answer(6).Head.ErrorFlag, 0);
}

TEST_P(DeviceWorker, AMalformedRecordDoesNotShiftTheRecordsBehindIt) {
  Device.SetRegister(TSimArea::Holding, 3, 0x0303);
  Send(bcPoll, {0x00, 0xFE, 0x00, 0xFF, 1});   // wrong guard: its address byte is never read
  Send(bcReadRegisters, {2}, {3});              // says two registers, carries one
  Send(bcReadRegisters, {1}, {3});
  EXPECT_EQ(Answer(0).Head.Status, StatusBadGuard);
  EXPECT_EQ(Answer(1).Head.Command, bcReadRegisters);
  EXPECT_EQ(Answer(1).Payload.left(5), Bytes({2, 3, 0, 3, 3}));
  EXPECT_EQ(Answer(2).Head.Status, 0);
  EXPECT_EQ(Answer(2).Payload, Bytes({1, 3, 0, 3, 3}));
  EXPECT_EQ(Got.size(), 3u);
}

TEST_P(DeviceWorker, FileFrameReadsAreRetriedOnBothLinks) {
  QByteArray file;
  for (int i = 0; i < 256; ++i)
    file.append(char(i));
  Device.SetFile(5, file, 128);
  Thread->SetErrorLimit(3);
  Thread->SetErrorSleep(10);
  Send(bcSetFrameSize, {128, 0});
  Device.SetFault({TSimFaultKind::Silence, 0, 0x1C, 0, 2});
  Send(bcReadFileFrame, {5, 1, 0});
  const TGot &a = Answer(1);
  EXPECT_EQ(a.Head.Status, 0);
  EXPECT_EQ(a.Payload, Bytes({5, 1, 0}) + file.mid(128));
  EXPECT_EQ(Requests(0x1C).size(), 3u);
}

// The device executes every request; the line loses the answer of the first
// (or of every one). A read is tried again and gets the device's values; a
// write is never sent twice, and its failure names the lost answer.
TEST_P(DeviceWorker, ALostReadAnswerIsRepeatedAndALostWriteAnswerIsNot) {
  Thread->SetErrorSleep(10);
  Thread->DeviceIO().GetOI().SetTimeout(300);
  Thread->DeviceIO().GetOI().SetTcpTimeout(300);
  Device.SetRegister(TSimArea::Holding, 7, 0x1234);
  Device.SetLossy({TSimFaultKind::Silence, 0, 1});
  // Every answer lost: a read tries three times, a write once.
  Send(bcReadRegisters, {1}, {7});
  EXPECT_NE(Answer(0).Head.Status, 0);
  EXPECT_EQ(Requests(0x03).size(), 3u);
  Send(bcWriteRegisters, {1}, {9, 0x0BB8});
  EXPECT_NE(Answer(1).Head.Status, 0);
  EXPECT_EQ(Requests(0x06).size(), 1u);
  EXPECT_EQ(Device.Register(TSimArea::Holding, 9), 0x0BB8) << "the device executed it; only its answer was lost";
  EXPECT_TRUE(Logged("Нет ответа от устройства"));
  // Only the first answer lost: the read succeeds on its repeat.
  Device.ClearLogs();
  Device.SetLossy({});
  Device.SetFault({TSimFaultKind::Silence, 0, 0x03, 0, 1});
  Send(bcReadRegisters, {1}, {7});
  EXPECT_EQ(Answer(2).Head.Status, 0);
  EXPECT_EQ(Answer(2).Payload, Bytes({1, 7, 0, 0x34, 0x12}));
  EXPECT_EQ(Requests(0x03).size(), 2u);
}

// A busy device (exception 06) is asked again for a read on both links (a
// gateway passes a busy relay's 06 on), never for a write, whose failure
// names the reason; a file frame is read again after any failed try on the
// serial line.
TEST_P(DeviceWorker, ABusyDeviceIsAskedAgainForAReadButNeverForAWrite) {
  const bool rtu = GetParam() == TLink::Rtu;
  Thread->SetErrorSleep(10);
  Device.SetRegister(TSimArea::Holding, 7, 0x1234);
  Device.SetFault({TSimFaultKind::Exception, 6, 0x03, 0, 1});
  Send(bcReadRegisters, {1}, {7});
  EXPECT_EQ(Answer(0).Head.Status, 0);
  EXPECT_EQ(Requests(0x03).size(), 2u);
  Device.SetFault({TSimFaultKind::Exception, 6, 0x06, 0, 1});
  Send(bcWriteRegisters, {1}, {9, 0x0BB8});
  EXPECT_EQ(Answer(1).Head.Status, 6);
  EXPECT_EQ(Answer(1).Text, "Ошибка устройства 06: устройство занято");
  EXPECT_EQ(Requests(0x06).size(), 1u);
  Device.SetFile(5, QByteArray(256, 'x'), 128);
  Send(bcSetFrameSize, {128, 0});
  Device.SetFault({TSimFaultKind::Exception, 6, 0x1C, 0, 1});
  Send(bcReadFileFrame, {5, 1, 0});
  EXPECT_EQ(Answer(3).Head.Status, 0);
  EXPECT_EQ(Requests(0x1C).size(), 2u);
  Device.SetFault({TSimFaultKind::Exception, 2, 0x1C, 0, 1});
  Send(bcReadFileFrame, {5, 1, 0});
  EXPECT_EQ(Answer(4).Head.Status, rtu ? 0 : 2);
  EXPECT_EQ(Requests(0x1C).size(), rtu ? 4u : 3u);
}

// A relay busy on every fifth answer: what identification reads (the
// descriptor's frames, registers) all comes whole, each read's busy answers
// asked again.
TEST_P(DeviceWorker, ARelayBusyOnEveryFifthAnswerIsReadWhole) {
  Thread->SetErrorSleep(10);
  QByteArray file;
  for (int i = 0; i < 8 * 128; ++i)
    file.append(char(i * 7));
  Device.SetFile(FILE_DESCRIPTOR, file, 128);
  for (uint16_t r = 0; r < 40; ++r)
    Device.SetRegister(TSimArea::Holding, r, uint16_t(0x100 + r));
  Device.SetLossy({TSimFaultKind::Exception, MB_EXCEPTION_BUSY, 5});
  Send(bcSetFrameSize, {128, 0});
  for (uint16_t frame = 0; frame < 8; ++frame)
    Send(bcReadFileFrame, {FILE_DESCRIPTOR, uint8_t(frame), 0});
  for (uint16_t r = 0; r < 40; ++r)
    Send(bcReadRegisters, {1}, {r});
  QByteArray read;
  for (size_t i = 1; i <= 8; ++i) {
    EXPECT_EQ(Answer(i).Head.Status, 0) << "frame " << i - 1;
    read += Answer(i).Payload.mid(3);
  }
  EXPECT_EQ(read, file);
  for (uint16_t r = 0; r < 40; ++r) {
    EXPECT_EQ(Answer(9 + r).Head.Status, 0) << "register " << r;
    EXPECT_EQ(Answer(9 + r).Payload, Bytes({1, r, 0, r, 0x01}));
  }
  EXPECT_EQ(Device.RequestLog().size(), 59u) << "48 reads, and each of the 11 busy answers asked again";
}

TEST_P(DeviceWorker, PollScanClockAndSpecialCommandAnswers) {
  Device.SetAddress(2);
  Device.SetStatusByte(0x5A);
  Send(bcPoll, {0, 0xFF, 0, 0xFF, 2});
  EXPECT_EQ(Answer(0).Payload, Bytes({0, 0xFF, 0, 0xFF, 2, 0x5A}));
  // The records that follow carry the address found, as identification's do.
  Tool->SetDeviceAddr(2);
  const QDateTime moment(QDate(2024, 2, 29), QTime(13, 5, 59));
  Device.SetClock(moment, false);
  Send(bcReadClock, {});
  TResponseParser p;
  p.Fill(Answer(1).Payload);
  EXPECT_DOUBLE_EQ(p.ReadDouble(), QDateTimeToDateTime(moment));
  SendClock(QDateTimeToDateTime(QDateTime(QDate::currentDate(), QTime(7, 8, 9))));
  EXPECT_EQ(Answer(2).Head.Status, 0);
  EXPECT_EQ(Device.Clock().time(), QTime(7, 8, 9));
  Send(bcSpecialCommand, {0, 0xFF, 0, 0xFF, 0xF0});
  EXPECT_EQ(Answer(3).Payload, Bytes({0, 0xFF, 0, 0xFF}));
  EXPECT_EQ(Device.SpecialLog(), std::vector<uint8_t>{0xF0});
  Send(bcScan, {0, 0xFF, 0, 0xFF, 1, 3});
  EXPECT_EQ(Answer(4).Head.Status, 0);
  if (GetParam() == TLink::Tcp) {
    EXPECT_EQ(Answer(4).Payload, Bytes({0, 0xFF, 0, 0xFF, 1, 2, 0x5A}));
  } else {
    // The serial scan takes what has come in by the end of its pauses, so on a
    // loaded machine the answer may miss it; what is answered must be right.
    const QByteArray p4 = Answer(4).Payload;
    ASSERT_GE(p4.size(), 5);
    EXPECT_EQ(p4.size(), 5 + 2 * uint8_t(p4[4]));
    if (p4.size() == 7)
      EXPECT_EQ(p4.mid(5), Bytes({2, 0x5A}));
  }
}

TEST_P(DeviceWorker, AHandlerThatThrowsEndsOnlyItsCommand) {
  // A clock outside the current century cannot be written: the device
  // operations refuse it with a range error.
  SendClock(EncodeDateTime(1990, 1, 1));
  Send(bcReadRegisters, {1}, {0});
  EXPECT_EQ(Answer(0).Head.Status, oisUnknown);
  EXPECT_EQ(Answer(1).Head.Status, 0);
}

TEST_P(DeviceWorker, DebugLogHoldsEachBatchAsQuestionAndAnswer) {
  Device.SetRegister(TSimArea::Holding, 7, 0x1234);
  Send(bcReadRegisters, {1}, {7});
  Answer(0);
  // Buffered, but written out once the worker has nothing left to do.
  QList<QByteArray> lines;
  EXPECT_TRUE(WaitFor([&] {
    QFile f(Dir.filePath("debug.log"));
    lines = f.open(QIODevice::ReadOnly) ? f.readAll().split('\n') : QList<QByteArray>();
    return lines.size() >= 3;
  }));
  ASSERT_GE(lines.size(), 3);
  const QString stamp = "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} ";
  // The record's device address (01) is its byte 14.
  const QString q = QString("modbusCmd Q ( 23)  15 00 %1 00 00 00 00 00 00 00 00 01 00 00 00 01 00 01 07 00\r")
                        .arg(QString::asprintf("%2.2X 00 00 00", Id));
  // Bytes 4..7 of the answer: the connection its request went over (the
  // first one on Modbus TCP, none on the serial line).
  const QString a = QString("modbusCmd A ( 25)        %1 %2 00 00 00 00 00 00 00 01 00 00 00 01 00 00 00 01 07 00 34 12\r")
                        .arg(QString::asprintf("%2.2X 00 00 00", Id), GetParam() == TLink::Tcp ? "01" : "00");
  EXPECT_TRUE(QRegularExpression("^" + stamp + QRegularExpression::escape(q) + "$").match(lines[0]).hasMatch())
      << lines[0].constData();
  EXPECT_TRUE(QRegularExpression("^" + stamp + QRegularExpression::escape(a) + "$").match(lines[1]).hasMatch())
      << lines[1].constData();
  // A read that meets a silent device holds the worker for its timeout: its
  // request line is on disk before that ends, not only with its answer.
  SilenceNextRequest(5000);
  Send(bcReadRegisters, {1}, {7});
  EXPECT_TRUE(WaitFor([&] {
    QFile f(Dir.filePath("debug.log"));
    const QByteArray text = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    return text.count("modbusCmd Q") == 2 && text.count("modbusCmd A") == 1;
  }));
  // So is the trace's record of its frame, which the worker holds with its own lines.
  EXPECT_TRUE(WaitFor([&] {
    QFile f(Dir.filePath("link.trc"));
    const QByteArray text = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    return text.count(" Q 01 03 00 07 00 01") == 2 && text.count(" A 01 03 02 12 34") == 1;
  }));
}

TEST_P(DeviceWorker, RecordsOfAnEndedChainAreAnsweredWithoutReachingTheDevice) {
  // The first read meets a silent device; while the worker waits for it, the
  // chain of the three ends: the two behind it are not sent.
  SilenceNextRequest(3000);
  for (uint16_t reg : {1, 2, 3})
    Send(bcReadRegisters, {1}, {reg});
  ASSERT_TRUE(WaitFor([&] { return !Requests(0x03).empty(); }));
  Tool->UnregisterReply(Id);
  EXPECT_TRUE(WaitFor([&] { return !Tool->HasOutstanding(); }));
  // The first read itself is tried again by the transport.
  for (const QByteArray &pdu : Requests(0x03))
    EXPECT_EQ(pdu, Bytes({0x03, 0, 1, 0, 1}));
  EXPECT_TRUE(Got.empty());
}

TEST_P(DeviceWorker, RecordsOfEveryEndedChainAreDroppedWhicheverEndsAfterIt) {
  // A silent device holds the worker on the first chain's read; two other
  // chains queue theirs and end in turn, the older one first: neither is sent.
  SilenceNextRequest(3000);
  Send(bcReadRegisters, {1}, {1});
  const TReplyId older = Tool->RegisterReply([](TResponseParser &, const TAnswerHead &, std::span<const uint8_t>) {});
  const TReplyId newer = Tool->RegisterReply([](TResponseParser &, const TAnswerHead &, std::span<const uint8_t>) {});
  for (const auto &[id, reg] : {std::pair{older, 2}, std::pair{newer, 3}}) {
    TRequestBuilder &b = Tool->Builder();
    b.StartRecord(id, bcReadRegisters, 0, {1});
    b.PutWord(uint16_t(reg));
    b.Send();
  }
  ASSERT_TRUE(WaitFor([&] { return !Requests(0x03).empty(); }));
  Tool->UnregisterReply(older);
  Tool->UnregisterReply(newer);
  EXPECT_TRUE(WaitFor([&] { return !Tool->HasOutstanding(); }));
  for (const QByteArray &pdu : Requests(0x03))
    EXPECT_EQ(pdu, Bytes({0x03, 0, 1, 0, 1})) << "only the first chain's read reaches the device";
  // A chain made afterwards is served as usual.
  Device.SetRegister(TSimArea::Holding, 4, 0x0404);
  Send(bcReadRegisters, {1}, {4});
  EXPECT_EQ(Answer(Got.size()).Head.Status, 0);
}

// A record that fails for the link takes every record queued before the
// failure with it, unsent and with the same failure: they were meant for the
// device the link lost. What the device itself refused leaves them to go.
TEST_P(DeviceWorker, RecordsQueuedBeforeALinkFailureAreAnsweredWithItUnsent) {
  Thread->SetErrorLimit(2);
  Thread->SetErrorSleep(10);
  Thread->DeviceIO().GetOI().SetTimeout(300);
  Thread->DeviceIO().GetOI().SetTcpTimeout(300);
  struct TCase {
    TSimFault Fault; // on every read
    bool Drops;
  } cases[] = {
      {{TSimFaultKind::Silence, 0, 0x03}, true},
      {{TSimFaultKind::Exception, 4, 0x03}, false},
      {{TSimFaultKind::OtherFunction, 4, 0x03}, false},
  };
  size_t n = 0;
  for (const TCase &c : cases) {
    SCOPED_TRACE(SimFaultName(c.Fault.Kind).toStdString());
    Device.ClearLogs();
    Device.SetFault(c.Fault);
    const auto timeouts = [] { return Logger().Lines().join('\n').count("device error timeout"); };
    const auto before = timeouts();
    Send(bcReadRegisters, {1}, {7});
    Send(bcWriteRegisters, {1}, {9, uint16_t(n + 1)});
    ASSERT_TRUE(WaitFor([&] { return !Requests(0x03).empty(); }));
    Send(bcReadClock, {});
    const TGot failed = Answer(n), write = Answer(n + 1), clock = Answer(n + 2);
    EXPECT_NE(failed.Head.Status, 0);
    if (c.Drops) {
      for (const TGot &g : {write, clock}) {
        EXPECT_EQ(g.Head.Status, failed.Head.Status);
        EXPECT_EQ(g.Text, failed.Text);
      }
      EXPECT_EQ(timeouts() - before, 3) << "logged with the same code";
    } else {
      EXPECT_EQ(write.Head.Status, 0);
      EXPECT_EQ(clock.Head.Status, 0);
    }
    EXPECT_EQ(Requests(0x06).size(), c.Drops ? 0u : 1u);
    EXPECT_EQ(Requests(0x1D).size(), c.Drops ? 0u : 1u);
    EXPECT_EQ(Device.Register(TSimArea::Holding, 9), c.Drops ? 0 : n + 1);
    // Queued after the failure: sent.
    Device.SetFault({});
    Send(bcReadRegisters, {1}, {7});
    EXPECT_EQ(Answer(n + 3).Head.Status, 0);
    n += 4;
  }
}

// What may come from another device than the one identified is told with
// the answer, before its reply; a plain failure of the device is not.
TEST_P(DeviceWorker, EachAnswerCarriesTheSignsOfAnotherDeviceItsExchangeSaw) {
  using S = TForeignSign;
  Device.SetFile(5, QByteArray(256, 'x'), 128);
  Send(bcSetFrameSize, {128, 0});
  struct TCase {
    TSimFault Fault;
    uint8_t Command;
    std::vector<TForeignSign> Signs;
  } cases[] = {
      {{TSimFaultKind::Exception, 0x0A, 0x03}, bcReadRegisters, {S::GatewayPath}},
      {{TSimFaultKind::Exception, 0x0B, 0x06}, bcWriteRegisters, {S::GatewayTarget}},
      {{TSimFaultKind::OtherAddress, 9, 0x03}, bcReadRegisters, {S::WrongAnswer}},
      {{TSimFaultKind::OtherFunction, 4, 0x06}, bcWriteRegisters, {S::WrongAnswer}},
      {{TSimFaultKind::Exception, 2, 0x03}, bcReadRegisters, {S::IllegalAddress}},
      {{TSimFaultKind::Exception, 2, 0x06}, bcWriteRegisters, {S::IllegalAddress}},
      {{TSimFaultKind::Exception, 2, 0x1C}, bcReadFileFrame, {}},
      {{TSimFaultKind::Exception, 4, 0x03}, bcReadRegisters, {}},
      {{}, bcReadRegisters, {}},
  };
  size_t n = 1;
  for (const TCase &c : cases) {
    SCOPED_TRACE(n);
    TSimFault f = c.Fault;
    f.Count = 1;
    Device.SetFault(f);
    if (c.Command == bcReadRegisters)
      Send(bcReadRegisters, {1}, {7});
    else if (c.Command == bcWriteRegisters)
      Send(bcWriteRegisters, {1}, {9, 1});
    else
      Send(bcReadFileFrame, {5, 1, 0});
    EXPECT_EQ(Answer(n++).Signs, c.Signs);
  }
}

// A device replaced on the same host and port answers on a new connection
// of the same exchange; the first connect to a target just set is no sign.
TEST_P(DeviceWorker, AReconnectInsideAnExchangeIsASignAndTheFirstConnectToATargetIsNot) {
  if (GetParam() == TLink::Rtu)
    GTEST_SKIP() << "the serial line has no connection";
  using S = TForeignSign;
  Thread->SetErrorSleep(10);
  Send(bcReadRegisters, {1}, {7});
  EXPECT_EQ(Answer(0).Signs, std::vector<S>{});
  // The peer hangs up between two exchanges and is listening again.
  TDevSimOptions same;
  same.UsePty = false;
  same.TcpPort = Server.TcpPort();
  Server.Start(same);
  Send(bcReadRegisters, {1}, {7});
  EXPECT_EQ(Answer(1).Head.Status, 0);
  EXPECT_EQ(Answer(1).Signs, std::vector<S>{S::Reconnect});
  Send(bcReadRegisters, {1}, {7});
  EXPECT_EQ(Answer(2).Signs, std::vector<S>{});
  // A lost answer is asked again on a new connection.
  SilenceNextRequest(300);
  Send(bcReadRegisters, {1}, {7});
  EXPECT_EQ(Answer(3).Head.Status, 0);
  EXPECT_EQ(Answer(3).Signs, std::vector<S>{S::Reconnect});
  // Another port: its first connect is the link change's.
  same.TcpPort = 0;
  Server.Start(same);
  Thread->DeviceIO().GetOI().SetPort(Server.TcpPort());
  Send(bcReadRegisters, {1}, {7});
  EXPECT_EQ(Answer(4).Head.Status, 0);
  EXPECT_EQ(Answer(4).Signs, std::vector<S>{});
}

// A held record goes over the connection it names or not at all: another
// made since by any record, or none open, fails it unsent with a status of
// its own, and the records behind it go on. Each answer names the
// connection its request went over. The serial line has no connection to
// hold: a port closed when idle and opened again is the same line.
TEST_P(DeviceWorker, AHeldRecordGoesOnlyOverTheConnectionItNamesWhoeverMadeAnother) {
  const bool tcp = GetParam() == TLink::Tcp;
  Thread->SetErrorSleep(10);
  Send(bcReadRegisters, {1}, {7});
  const uint32_t first = Answer(0).Head.Connection;
  EXPECT_EQ(first != 0, tcp);
  SendHeld(first, bcWriteRegisters, {1}, {9, 1});
  EXPECT_EQ(Answer(1).Head.Status, 0);
  EXPECT_EQ(Answer(1).Head.Connection, first);
  if (!tcp) {
    TOI &oi = Thread->DeviceIO().GetOI();
    EXPECT_TRUE(WaitFor([&] { return !oi.IsPortOpen(); }));
    SendHeld(first, bcWriteRegisters, {1}, {9, 2});
    EXPECT_EQ(Answer(2).Head.Status, 0);
    EXPECT_EQ(Device.Register(TSimArea::Holding, 9), 2);
    return;
  }
  // The peer hangs up; a record not held connects anew.
  TDevSimOptions same;
  same.UsePty = false;
  same.TcpPort = Server.TcpPort();
  Server.Start(same);
  Send(bcReadRegisters, {1}, {7});
  const uint32_t second = Answer(2).Head.Connection;
  EXPECT_NE(second, first);
  EXPECT_NE(second, 0u);
  Device.ClearLogs();
  SendHeld(first, bcWriteRegisters, {1}, {9, 3});
  Send(bcReadRegisters, {1}, {7});
  SendHeld(second, bcWriteRegisters, {1}, {9, 4});
  EXPECT_EQ(Answer(3).Head.Status, StatusNotSent);
  EXPECT_EQ(Answer(3).Text, QString::fromUtf8(LinkTexts::NotSentReconnected));
  EXPECT_EQ(Answer(3).Head.Connection, 0u) << "it went over none";
  EXPECT_EQ(Answer(4).Head.Status, 0) << "a record behind an unsent one is no link failure's";
  EXPECT_EQ(Answer(5).Head.Status, 0);
  EXPECT_EQ(Requests(0x06).size(), 1u);
  EXPECT_EQ(Device.Register(TSimArea::Holding, 9), 4);
  // A held read meets silence: the failed try closes its connection, and no
  // try of it opens another. The held write behind finds it gone.
  SilenceNextRequest(300);
  SendHeld(second, bcReadRegisters, {1}, {7});
  EXPECT_NE(Answer(6).Head.Status, 0);
  SendHeld(second, bcWriteRegisters, {1}, {9, 5});
  EXPECT_EQ(Answer(7).Head.Status, StatusNotSent);
  EXPECT_TRUE(Answer(7).Text.startsWith("Связь с 127.0.0.1")) << Answer(7).Text.toStdString();
  EXPECT_EQ(Requests(0x03).size(), 2u) << "the held read was tried once";
  EXPECT_EQ(Requests(0x06).size(), 1u);
  EXPECT_TRUE(Logged("device error not-sent 41 00 " + Answer(7).Text));
  Send(bcReadRegisters, {1}, {7});
  EXPECT_EQ(Answer(8).Head.Status, 0);
  EXPECT_GT(Answer(8).Head.Connection, second);
}

TEST_P(DeviceWorker, ShutdownWithRecordsQueuedAndAnswersUndeliveredEndsCleanly) {
  for (int i = 0; i < 50; ++i)
    Send(bcReadRegisters, {1}, {uint16_t(i)});
  // Nobody pumps the event loop: the worker must not wait for delivery.
  Tool.reset();
  Thread.reset();
  EXPECT_LT(Got.size(), 50u);
}

TEST_P(DeviceWorker, SerialPortIsClosedAfterASecondWithoutRequests) {
  if (GetParam() == TLink::Tcp)
    GTEST_SKIP() << "only the serial port is closed when idle";
  // Setting the rate opened the port; the worker closes it, then again after a
  // request (which opened it anew).
  TOI &oi = Thread->DeviceIO().GetOI();
  EXPECT_TRUE(WaitFor([&] { return !oi.IsPortOpen(); }));
  Send(bcReadRegisters, {1}, {0});
  EXPECT_EQ(Answer(0).Head.Status, 0);
  EXPECT_TRUE(WaitFor([&] { return !oi.IsPortOpen(); }));
}

INSTANTIATE_TEST_SUITE_P(Links, DeviceWorker, ::testing::Values(TLink::Rtu, TLink::Tcp),
                         [](const auto &Info) { return Info.param == TLink::Rtu ? "Rtu" : "Tcp"; });

