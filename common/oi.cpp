#include "oi.h"
#include "crc.h"
#include "uErrors.h"
#include "uLinkText.h"
#include "uLogger.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTime>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <map>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

qint64 NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void SleepMs(int Ms) {
  if (Ms > 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(Ms));
}

// The CRC travels low byte first; Crc16 returns it already swapped, so its high
// byte is the first on the wire.
void PutCrc(uint8_t *Frame, int Count) {
  const uint16_t crc = Crc16(Frame, Count);
  Frame[Count] = uint8_t(crc >> 8);
  Frame[Count + 1] = uint8_t(crc & 0xFF);
}

bool CrcMatches(const uint8_t *Frame, int Count) {
  const uint16_t crc = Crc16(Frame, Count);
  return Frame[Count] == uint8_t(crc >> 8) && Frame[Count + 1] == uint8_t(crc & 0xFF);
}

// After a failed exchange the line must stay silent for this many timeouts:
// an answer that missed the timeout may come later still, and a device (or a
// gateway) busy with it may take as long again before it starts sending.
constexpr int SettleTimeouts = 2;
// A line that keeps talking is waited on for at most this many timeouts; then
// it is purged and the next request goes out anyway.
constexpr int MaxSettleTimeouts = 6;
constexpr int MbapHeaderBytes = 6;

} // namespace

QString OIStatusName(int Status) {
  static const char *const names[] = {"oisReady",   "oisUnknown",       "oisBadPort", "oisBadCO",
                                      "oisBadCI",   "oisProtocolError", "oisBadCRC",  "oisErrorFlag"};
  if (Status >= 0 && Status <= 7)
    return QString::fromLatin1(names[Status]);
  return QStringLiteral("status %1").arg(Status);
}

int RtuLineTimeMs(int Bytes, int Baud) {
  if (Baud <= 0 || Bytes <= 0)
    return 0;
  // One division keeps exact halves exact, so ties really go to even.
  return int(std::nearbyint(double(Bytes) * 10000.0 / double(Baud)));
}

namespace {
// "hh:nn:ss." of a second.
void PutTraceHead(char (&Head)[16], time_t Second) {
  tm parts;
  localtime_r(&Second, &parts);
  std::snprintf(Head, sizeof Head, "%02d:%02d:%02d.", parts.tm_hour, parts.tm_min, parts.tm_sec);
}

// One trace record of Text, stamped now: CR LF, the time, a blank, Text.
QByteArray TraceRecord(const QByteArray &Text) {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  char head[16];
  PutTraceHead(head, now.tv_sec);
  char ms[8];
  std::snprintf(ms, sizeof ms, "%03d ", int(now.tv_nsec / 1000000));
  return "\r\n" + QByteArray(head, 9) + ms + Text;
}
} // namespace

QString TOI::DefaultTraceFileName() {
  static std::atomic<int> instances{0};
  const int n = instances++;
  QString program = QCoreApplication::instance() ? QCoreApplication::applicationFilePath()
                                                 : QString::fromLocal8Bit(program_invocation_short_name);
  QString name = QFileInfo(program).completeBaseName() + QStringLiteral(".trc");
  if (n > 0)
    name += QString::number(n);
  return name;
}

TOI::TOI(const QString &TraceFileName)
    : FTrace([](const QByteArray &Text) { return TraceRecord("*** " + Text); }),
      FTcp(std::make_unique<TTcpClient>([this](const QString &Text) { Trace(Text); })) {
  // A trace that cannot be written must not stop the link.
  if (!TraceFileName.isEmpty())
    if (const QString why = FTrace.Open(TraceFileName, true); !why.isEmpty())
      Logger().Error(why);
}

TOI::~TOI() {
  FTcp.reset();
  FComPort.Close();
}

void TOI::SetRequest(const uint8_t *Frame, int Count, int Expected) {
  if (Count < 0 || Count + 2 > OI_BUFFER_SIZE)
    throw EKvRange("range check error: " + std::to_string(Count));
  if (Expected < 0 || Expected > OI_BUFFER_SIZE)
    throw EKvRange("range check error: " + std::to_string(Expected));
  std::memset(FRequest, 0, sizeof FRequest);
  if (Count > 0)
    std::memcpy(FRequest, Frame, size_t(Count));
  FRequestLen = Count;
  FExpected = Expected;
}

void TOI::AppendRequest(QIODevice &AStream, int Count) {
  if (Count < 0 || FRequestLen + Count + 2 > OI_BUFFER_SIZE)
    throw EKvRange("range check error: " + std::to_string(FRequestLen + Count));
  const qint64 left = AStream.isSequential() ? AStream.bytesAvailable() : AStream.size() - AStream.pos();
  const qint64 take = qBound<qint64>(qint64(0), left, qint64(Count));
  if (take > 0)
    AStream.read(reinterpret_cast<char *>(FRequest + FRequestLen), take);
  FRequestLen += Count;
}

bool TOI::Request(const QByteArray &Frame, int Expected) {
  SetRequest(Frame, Expected);
  return Transact();
}

void TOI::ClearAnswer() {
  std::memset(FAnswer, 0, sizeof FAnswer);
  FReceived = 0;
}

bool TOI::Transact(bool AnyAddress) {
  const TConfig cfg = Config();
  ClearAnswer();
  FFailureText.clear();
  FCannotConnect = false;
  FNotSent = false;
  FAnyAddress = AnyAddress;
  const bool ok = cfg.Protocol == prModbusTcp ? TcpTransact(cfg, AnyAddress) : RtuTransact(cfg, AnyAddress);
  if (!ok)
    NoteAnswerSigns();
  return ok;
}

TForeignSigns TOI::TakeSigns() {
  const TForeignSigns signs = FSigns;
  FSigns = 0;
  return signs;
}

void TOI::NoteAnswerSigns() {
  const TOIStatus status = GetStatus();
  if (status == oisErrorFlag && FReceived >= 3) {
    // A gateway's own exceptions: the unit behind it cannot be reached, or
    // did not answer. Either way the gateway may forward to another next.
    if (FAnswer[2] == MB_EXCEPTION_GATEWAY_PATH)
      NoteSign(TForeignSign::GatewayPath);
    else if (FAnswer[2] == MB_EXCEPTION_GATEWAY_TARGET)
      NoteSign(TForeignSign::GatewayTarget);
  } else if (status == oisProtocolError && IsForeignAnswer()) {
    NoteSign(TForeignSign::WrongAnswer);
  }
}

bool TOI::IsForeignAnswer() const {
  // The answer is still in the buffer: which of its checks it failed.
  return AnswerFromOtherAddress() || AnswerWithOtherFunction();
}

bool TOI::AnswerFromOtherAddress() const {
  return FReceived >= 1 && (FAnswer[0] == 0 || (!FAnyAddress && FRequest[0] != 0 && FAnswer[0] != FRequest[0]));
}

bool TOI::AnswerWithOtherFunction() const { return FReceived >= 2 && (FAnswer[1] & 0x7F) != (FRequest[1] & 0x7F); }

void TOI::SetRepeats(int Tries, int PauseMs) {
  FRepeatTries = qMax(1, Tries);
  FRepeatPauseMs = qMax(0, PauseMs);
}

bool TOI::IsRepeatable(TRepeatRule Rule) const {
  const TOIStatus status = GetStatus();
  const bool serial = Config().Protocol != prModbusTcp;
  // A frame read on the serial line is tried again whatever failed: the
  // device's own file transfer expects it, and a wrong frame is a lost one.
  if (Rule == rrAnyFailure && serial)
    return status != oisReady;
  // Exception 06: the device is busy and asks to be asked again. Over
  // Modbus TCP too: a serial gateway passes its relay's 06 on.
  if (Rule != rrLostAnswer && status == oisErrorFlag && FReceived >= 3 && FAnswer[2] == MB_EXCEPTION_BUSY)
    return true;
  // The line lost or spoiled the answer: another try may well get through.
  // A device that answered (an exception, a wrong answer) would only answer
  // the same again, and a port or server that cannot be opened is not a
  // lost answer.
  switch (status) {
  case oisBadCI:
  case oisBadCRC:
    return true;
  case oisUnknown:
    return !FCannotConnect;
  default:
    return false;
  }
}

QString TOI::FailureText() const {
  if (!FFailureText.isEmpty())
    return FFailureText;
  switch (GetStatus()) {
  case oisReady:
    return QString();
  case oisBadCI:
    return QString::fromUtf8(FReceived > 0 ? LinkTexts::ShortAnswer : LinkTexts::NoAnswer);
  case oisBadCRC:
    return QString::fromUtf8(LinkTexts::BadCrc);
  case oisErrorFlag:
    return DeviceErrorText(FAnswer[2]);
  case oisProtocolError:
  case oisBadCO:
    return QString::fromUtf8(LinkTexts::BadAnswer);
  default:
    return QString::fromUtf8(LinkTexts::NoAnswer);
  }
}

QString TOI::FailureCode() const {
  const TOIStatus status = GetStatus();
  if (status == oisReady)
    return QString();
  const char *code = LinkCodes::Failed;
  if (FCannotConnect) {
    code = LinkCodes::NoConnection;
  } else if (status == oisBadPort) {
    code = LinkCodes::PortUnavailable;
  } else if (!FFailureText.isEmpty()) {
    code = LinkCodes::ConnectionLost;
  } else if (status == oisErrorFlag) {
    return DeviceErrorCode(FAnswer[2]);
  } else if (status == oisBadCI) {
    code = FReceived > 0 ? LinkCodes::ShortAnswer : LinkCodes::Timeout;
  } else if (status == oisUnknown) {
    code = LinkCodes::Timeout;
  } else if (status == oisBadCRC) {
    code = LinkCodes::BadCrc;
  } else if (status == oisProtocolError) {
    code = AnswerFromOtherAddress()    ? LinkCodes::WrongAddress
           : AnswerWithOtherFunction() ? LinkCodes::WrongFunction
                                       : LinkCodes::WrongAnswer;
  }
  return QString::fromLatin1(code);
}

bool TOI::CannotConnect(const TConfig &Cfg) {
  Trace(QStringLiteral("*** oiModbusTcp cannot connect to %1 port %2").arg(Cfg.Host).arg(Cfg.Port));
  FFailureText = QString::fromUtf8(LinkTexts::CannotConnect).arg(Cfg.Host).arg(Cfg.Port);
  FCannotConnect = true;
  SetStatus(oisUnknown);
  return false;
}

bool TOI::CheckEcho(int From, int Count) {
  if (From < 0 || From + Count > OI_BUFFER_SIZE || From + Count > FReceived ||
      std::memcmp(FAnswer + From, FRequest + From, size_t(Count)) != 0) {
    SetStatus(oisProtocolError);
    return false;
  }
  return true;
}

// ---- Modbus RTU ---------------------------------------------------------

bool TOI::EnsurePortOpen() {
  if (FComPort.IsOpen())
    return true;
  if (!FComPort.Open(false)) {
    FFailureText = FComPort.LastOpenError();
    SetStatus(oisBadPort);
    return false;
  }
  FComPort.Purge();
  return true;
}

bool TOI::RtuTransact(const TConfig &Cfg, bool AnyAddress) {
  if (!EnsurePortOpen())
    return false;
  PutCrc(FRequest, FRequestLen);
  Trace(QStringLiteral("Q"), FRequest, FRequestLen + 2);
  const bool afterFailure = FLineUnsettled;
  const bool complete = SerialExchange(Cfg);
  Trace(QStringLiteral("A"), FAnswer, FReceived);
  bool ok = CheckRtuAnswer(complete, AnyAddress);
  // The serial line carries no transaction number: the late answer of the
  // failed request, coming after the settle, looks exactly like this one's.
  // The device answers in order, so then this request's own answer follows;
  // the first answer after a failure counts only if the line stays silent
  // for a timeout after it.
  if (ok && afterFailure && !LineStaysSilent(Cfg)) {
    SetStatus(oisProtocolError);
    ok = false;
  }
  // A whole frame with a valid CRC (an answer, an exception, or a frame that
  // does not belong to the request) leaves the line in step. Anything less may
  // be the front of an answer still on its way, or nothing yet of one that
  // comes after the timeout; the next request must not get it for its own.
  const TOIStatus st = GetStatus();
  if (!ok && (st == oisBadCI || st == oisBadCRC))
    FLineUnsettled = true;
  return ok;
}

bool TOI::LineStaysSilent(const TConfig &Cfg) {
  const qint64 start = NowMs();
  uint8_t more[256];
  for (;;) {
    const bool past = NowMs() - start > Cfg.Timeout;
    int done = 0;
    FComPort.Read(more, int(sizeof more), done);
    if (done > 0) {
      Trace(QStringLiteral("A"), more, done);
      FLineUnsettled = true;
      return false;
    }
    if (past)
      return true;
    SleepMs(qBound(1, Cfg.Timeout / 10, 5));
  }
}

// Waits until the line has been silent for SettleTimeouts timeouts, dropping
// what comes meanwhile. Silence is counted from now, not from the end of the failed
// exchange: a master delayed in between would otherwise shorten the wait for
// an answer just as late. The purge before the request cannot do this alone: a
// late answer may come after it.
void TOI::SettleLine(const TConfig &Cfg) {
  FLineUnsettled = false;
  const int timeout = qMax(1, Cfg.Timeout);
  const int settle = SettleTimeouts * timeout;
  const qint64 start = NowMs();
  qint64 quietSince = start;
  uint8_t junk[256];
  for (;;) {
    int done = 0;
    FComPort.Read(junk, int(sizeof junk), done);
    const qint64 now = NowMs();
    if (done > 0)
      quietSince = now;
    const qint64 quiet = now - quietSince;
    if (quiet >= settle || now - start >= qint64(MaxSettleTimeouts) * timeout)
      return;
    SleepMs(int(qBound(qint64(1), settle - quiet, qint64(5))));
  }
}

bool TOI::SerialExchange(const TConfig &Cfg) {
  SleepMs(Cfg.SleepBefore);
  if (FLineUnsettled)
    SettleLine(Cfg);
  // Bytes of a late or overlong earlier answer must not be taken for this one.
  FComPort.Purge();
  const int frameLen = FRequestLen + 2;
  FComPort.Write(FRequest, frameLen, FWritten);
  if (FWritten < frameLen)
    return false;
  const int baud = FComPort.GetBaudRate();
  // The request and its answer need this long on the line at the least.
  SleepMs(RtuLineTimeMs(frameLen + FExpected, baud));
  FReceived = 0;
  const qint64 start = NowMs();
  for (;;) {
    // Read before giving up: a master that slept past the timeout on a busy
    // machine still takes an answer that came in time, instead of leaving it
    // on the line as a late one.
    const bool pastTimeout = NowMs() - start > Cfg.Timeout;
    int done = 0;
    FComPort.Read(FAnswer + FReceived, FExpected - FReceived, done);
    FReceived += done;
    if (FReceived >= FExpected)
      return true;
    if (pastTimeout)
      return false;
    // An exception answer is five bytes whatever the request expected: waiting
    // on would only burn the timeout.
    if (FReceived >= 5 && (FAnswer[1] & 0x80))
      return false;
    SleepMs(qMax(1, RtuLineTimeMs(FExpected - FReceived, baud)));
  }
}

bool TOI::CheckRtuAnswer(bool Complete, bool AnyAddress) {
  if (FReceived >= 2 && (FAnswer[1] & 0x80)) {
    // Exception answer: address, function | 0x80, exception code, CRC.
    if (FReceived < 5) {
      SetStatus(oisBadCI);
      FComPort.Purge();
      return false;
    }
    if (!CrcMatches(FAnswer, 3)) {
      SetStatus(oisBadCRC);
      FComPort.Purge();
      return false;
    }
    if (FAnswer[0] == 0) {
      SetStatus(oisProtocolError);
      return false;
    }
    if (!CheckPdu(3, 3, AnyAddress))
      return false;
    SetStatus(oisErrorFlag);
    return false;
  }
  if (!Complete || FReceived < FExpected || FExpected < 4) {
    SetStatus(oisBadCI);
    FComPort.Purge();
    return false;
  }
  if (!CrcMatches(FAnswer, FExpected - 2)) {
    SetStatus(oisBadCRC);
    FComPort.Purge();
    return false;
  }
  // Address 0 is the broadcast, which nobody answers: no device answers from it.
  if (FAnswer[0] == 0) {
    SetStatus(oisProtocolError);
    return false;
  }
  return CheckPdu(FExpected - 2, FExpected - 2, AnyAddress);
}

// Shared by RTU and TCP: the answer (address onward, no CRC) of Length bytes
// against the request. A request to address 0 accepts any answering address.
bool TOI::CheckPdu(int Length, int Expected, bool AnyAddress) {
  if (Length < Expected) {
    SetStatus(oisBadCI);
    return false;
  }
  if (Length > Expected || Length < 2) {
    SetStatus(oisProtocolError);
    return false;
  }
  if (!AnyAddress && FRequest[0] != 0 && FAnswer[0] != FRequest[0]) {
    SetStatus(oisProtocolError);
    return false;
  }
  if ((FAnswer[1] & 0x7F) != (FRequest[1] & 0x7F)) {
    SetStatus(oisProtocolError);
    return false;
  }
  SetStatus(oisReady);
  return true;
}

// ---- Modbus TCP ---------------------------------------------------------

// A blocking client socket over POSIX: connect with a time limit, send all,
// receive a given count before a deadline. The socket itself is non-blocking
// so that every wait is bounded; events are reported as trace lines.
class TTcpClient {
public:
  using TTrace = std::function<void(const QString &)>;
  explicit TTcpClient(TTrace Trace) : FTrace(std::move(Trace)) {}
  ~TTcpClient() { Close(); }

  // Connects to Host:Port unless already connected there. On an existing
  // connection, bytes of a late answer are dropped and a peer that hung up
  // meanwhile is noticed, so the caller gets a fresh connection instead.
  // Made tells whether a new connection was made.
  // With MayConnect false only the connection open now is used.
  bool Connect(const QString &Host, int Port, int TimeoutMs, bool &Made, bool MayConnect = true) {
    Made = false;
    if (FSocket >= 0 && (FHost != Host || FPort != Port))
      Close();
    FLost = false;
    if (FSocket >= 0)
      DropStaleBytes();
    if (FSocket >= 0)
      return true;
    if (!MayConnect)
      return false;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *list = nullptr;
    const QByteArray host = Host.toUtf8();
    const QByteArray port = QByteArray::number(Port);
    if (::getaddrinfo(host.constData(), port.constData(), &hints, &list) != 0 || !list) {
      Error(EHOSTUNREACH);
      return false;
    }
    for (addrinfo *ai = list; ai && FSocket < 0; ai = ai->ai_next)
      TryAddress(*ai, TimeoutMs);
    ::freeaddrinfo(list);
    if (FSocket < 0)
      return false;
    FHost = Host;
    FPort = Port;
    Made = true;
    FTrace(QStringLiteral("*** TDeviceClient Connect"));
    return true;
  }

  void Close() {
    if (FSocket < 0)
      return;
    ::close(FSocket);
    FSocket = -1;
    FTrace(QStringLiteral("*** TDeviceClient Disconnect"));
  }

  bool SendAll(const uint8_t *Data, int Count, qint64 DeadlineMs) {
    int sent = 0;
    while (sent < Count) {
      const ssize_t n = ::send(FSocket, Data + sent, size_t(Count - sent), MSG_NOSIGNAL);
      if (n > 0) {
        sent += int(n);
        continue;
      }
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        Error(errno);
        FLost = true;
        return false;
      }
      if (!Wait(POLLOUT, DeadlineMs))
        return false;
    }
    return true;
  }

  // Receives Count bytes unless the deadline passes or the peer hangs up;
  // returns the count received. Up to Extra bytes more are taken when they
  // have come with them. An answer is not there yet right after its request,
  // so WaitFirst waits for it before the first read instead of after.
  int Receive(uint8_t *Data, int Count, qint64 DeadlineMs, int Extra = 0, bool WaitFirst = false) {
    int got = 0;
    if (WaitFirst && Count > 0)
      Wait(POLLIN, DeadlineMs); // past the deadline the read below still takes what is there
    while (got < Count) {
      const ssize_t n = ::recv(FSocket, Data + got, size_t(Count + Extra - got), MSG_DONTWAIT);
      if (n > 0) {
        got += int(n);
        continue;
      }
      if (n == 0) {
        FLost = true;
        return got;
      }
      if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        Error(errno);
        FLost = true;
        return got;
      }
      if (!Wait(POLLIN, DeadlineMs))
        return got;
    }
    return got;
  }

  // The peer hung up or reset the connection in the last SendAll or Receive.
  bool Lost() const { return FLost; }
  bool IsOpen() const { return FSocket >= 0; }

private:
  void TryAddress(const addrinfo &Ai, int TimeoutMs) {
    const int fd = ::socket(Ai.ai_family, Ai.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, Ai.ai_protocol);
    if (fd < 0)
      return;
    int err = 0;
    if (::connect(fd, Ai.ai_addr, Ai.ai_addrlen) != 0) {
      err = errno;
      if (err == EINPROGRESS) {
        pollfd pfd{fd, POLLOUT, 0};
        if (::poll(&pfd, 1, TimeoutMs) == 1) {
          socklen_t len = sizeof err;
          ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
        } else {
          err = ETIMEDOUT;
        }
      }
    }
    if (err != 0) {
      Error(err);
      ::close(fd);
      return;
    }
    // Requests are small and answered one at a time: send each at once.
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    FSocket = fd;
  }

  void DropStaleBytes() {
    uint8_t junk[256];
    for (;;) {
      const ssize_t n = ::recv(FSocket, junk, sizeof junk, MSG_DONTWAIT);
      if (n > 0)
        continue;
      if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
        Close();
      return;
    }
  }

  bool Wait(short Events, qint64 DeadlineMs) {
    const qint64 left = DeadlineMs - NowMs();
    if (left <= 0)
      return false;
    pollfd pfd{FSocket, Events, 0};
    ::poll(&pfd, 1, int(left));
    return true;
  }

  void Error(int Code) { FTrace(QStringLiteral("*** TDeviceClient Error %1").arg(Code, 4, 16, QLatin1Char('0'))); }

  TTrace FTrace;
  int FSocket = -1;
  bool FLost = false;
  QString FHost;
  int FPort = 0;
};

uint32_t TOI::Connection() const {
  return Config().Protocol == prModbusTcp && FTcp->IsOpen() ? FOpenConnection : 0;
}

bool TOI::HeldNotSent(const QString &Text, const char *TraceText) {
  Trace(QString::fromLatin1(TraceText));
  FFailureText = Text;
  // Not tried again: a try would make a connection of its own.
  FCannotConnect = true;
  FNotSent = true;
  SetStatus(oisUnknown);
  return false;
}

bool TOI::ConnectionLost(const TConfig &Cfg, TOIStatus Status) {
  FFailureText = QString::fromUtf8(LinkTexts::ConnectionLost).arg(Cfg.Host).arg(Cfg.Port);
  FTcp->Close();
  SetStatus(Status);
  return false;
}

bool TOI::TransactRepeatable(bool AnyAddress, TRepeatRule Rule, const std::function<bool()> &Check) {
  const int tries = qMax(1, FRepeatTries.load());
  for (int t = 1;; ++t) {
    if (Transact(AnyAddress) && (!Check || Check()))
      return true;
    if (t >= tries || !IsRepeatable(Rule) || FRepeatsCancelled)
      return false;
    // Over Modbus TCP a repeat starts on a fresh connection, which a held
    // exchange may not make; a busy answer is asked again on the same one.
    if (FHeld && Config().Protocol == prModbusTcp && GetStatus() != oisErrorFlag)
      return false;
    const QString why = FailureText();
    Trace(QStringLiteral("*** repeat %1 of %2").arg(t + 1).arg(tries));
    Logger().Info(QStringLiteral("request repeated (try %1 of %2) after: %3").arg(t + 1).arg(tries).arg(why));
    // A late answer to the failed try must not be taken for the repeat's:
    // Modbus TCP starts afresh on a new connection, the serial line waits
    // for silence before the next request (SettleLine). A busy answer came
    // whole, and leaves the stream in step.
    if (Config().Protocol == prModbusTcp && GetStatus() != oisErrorFlag)
      FTcp->Close();
    SleepMs(FRepeatPauseMs);
  }
}

bool TOI::ConnectTcp(const TConfig &Cfg, bool NoteReconnect) {
  // A link change closes what was connected before: the next connect is
  // the first to the target as it is now set.
  if (Cfg.Target != FSeenTarget) {
    FSeenTarget = Cfg.Target;
    FTargetConnected = false;
    FTcp->Close();
  }
  bool made = false;
  // A held exchange takes the connection open now or none: whoever would
  // answer a new one has not been checked.
  const bool held = FHeld && NoteReconnect;
  FHeldGone = false;
  if (!FTcp->Connect(Cfg.Host, Cfg.Port, Cfg.TcpTimeout, made, !held)) {
    FHeldGone = held;
    return false;
  }
  // Numbered so that an exchange held to the connection its check ran on
  // can tell this one from it; 0 means none.
  if (made && ++FConnections == 0)
    FConnections = 1;
  if (made)
    FOpenConnection = FConnections;
  // Any connection after the first to this target was made again: the peer
  // hung up, or an exchange failed and closed it. Whoever answers on it now
  // may be another device on the same host and port.
  if (made && FTargetConnected && NoteReconnect)
    NoteSign(TForeignSign::Reconnect);
  FTargetConnected = true;
  return true;
}

bool TOI::TcpTransact(const TConfig &Cfg, bool AnyAddress) {
  if (!ConnectTcp(Cfg, true)) {
    if (!FHeldGone)
      return CannotConnect(Cfg);
    // Told as the lost connection it is.
    return HeldNotSent(QString::fromUtf8(LinkTexts::ConnectionLost).arg(Cfg.Host).arg(Cfg.Port),
                       "*** the connection held is gone: request not sent");
  }
  // Another exchange (another chain's, a repeat) has made a connection
  // since the one held: whoever answers on it has not been checked.
  if (FHeld && FOpenConnection != FHeldConnection)
    return HeldNotSent(QString::fromUtf8(LinkTexts::NotSentReconnected),
                       "*** another connection than the one held: request not sent");
  FExchangeConnection = FOpenConnection;
  Trace(QStringLiteral("Q"), FRequest, FRequestLen);
  // MBAP: transaction 0, protocol 0, length of what follows (unit identifier,
  // which carries the device address, function code and data), high byte first.
  uint8_t frame[MbapHeaderBytes + OI_BUFFER_SIZE] = {};
  frame[4] = uint8_t(FRequestLen >> 8);
  frame[5] = uint8_t(FRequestLen & 0xFF);
  std::memcpy(frame + MbapHeaderBytes, FRequest, size_t(FRequestLen));
  const qint64 deadline = NowMs() + Cfg.TcpTimeout;
  if (!FTcp->SendAll(frame, MbapHeaderBytes + FRequestLen, deadline)) {
    if (FTcp->Lost())
      return ConnectionLost(Cfg, oisUnknown);
    FTcp->Close();
    SetStatus(oisUnknown);
    return false;
  }
  // The header and, when it has come with it, the answer of the expected
  // length in one read; an answer of another length is read on below.
  uint8_t reply[MbapHeaderBytes + OI_BUFFER_SIZE];
  uint8_t *const head = reply;
  const int replyBytes =
      FTcp->Receive(reply, MbapHeaderBytes, deadline, qBound(0, FExpected - 2, OI_BUFFER_SIZE), true);
  const int headBytes = qMin(replyBytes, MbapHeaderBytes);
  if (headBytes < MbapHeaderBytes) {
    // Silence or a hang-up: the stream can no longer be trusted to be in step,
    // so the next request starts on a fresh connection.
    Trace(QStringLiteral("A"), head, headBytes);
    if (FTcp->Lost())
      return ConnectionLost(Cfg, oisUnknown);
    FTcp->Close();
    FReceived = headBytes;
    SetStatus(headBytes > 0 ? oisBadCI : oisUnknown);
    return false;
  }
  const int length = (head[4] << 8) | head[5];
  if (head[0] != 0 || head[1] != 0 || head[2] != 0 || head[3] != 0 || length > OI_BUFFER_SIZE) {
    Trace(QStringLiteral("A"), head, MbapHeaderBytes);
    FTcp->Close();
    SetStatus(oisProtocolError);
    return false;
  }
  // Bytes past the header's length are dropped, as the next exchange's
  // Connect would drop them.
  const int early = qMin(replyBytes - MbapHeaderBytes, length);
  if (early > 0)
    std::memcpy(FAnswer, reply + MbapHeaderBytes, size_t(early));
  FReceived = early + FTcp->Receive(FAnswer + early, length - early, deadline);
  Trace(QStringLiteral("A"), FAnswer, FReceived);
  if (FReceived < length) {
    if (FTcp->Lost())
      return ConnectionLost(Cfg, oisBadCI);
    FTcp->Close();
    // The header at least came: the answer was cut short.
    FReceived = qMax(FReceived, 1);
    SetStatus(oisBadCI);
    return false;
  }
  // Unit 0 names the server itself in Modbus TCP: a server that answers for
  // the unit it was asked may name it so. Any other unit is checked as on
  // the serial line (255 stays 255: a gateway's own answer to a scan poll).
  if (FReceived >= 1 && FAnswer[0] == 0)
    FAnswer[0] = FRequest[0];
  if (FReceived >= 2 && (FAnswer[1] & 0x80)) {
    if (!CheckPdu(FReceived, 3, AnyAddress))
      return false;
    SetStatus(oisErrorFlag);
    return false;
  }
  return CheckPdu(FReceived, FExpected - 2, AnyAddress);
}

bool TOI::TcpScan(const TConfig &Cfg, uint8_t First, uint8_t Last) {
  FScanAnswers.clear();
  const int unitMs = First < Last ? qMin(Cfg.TcpTimeout, TcpScanUnitMs) : Cfg.TcpTimeout;
  // Answers to this scan's requests, late ones included, carry transaction
  // identifiers from firstId on; anything else on the stream is dropped.
  const uint16_t firstId = uint16_t(FScanTransaction + 1);
  std::map<uint16_t, uint8_t> unitOf; // transaction identifier -> unit asked
  for (int a = First; a <= Last; ++a) {
    // A scan looks for whoever answers: its connects are no sign.
    if (!ConnectTcp(Cfg, false))
      return CannotConnect(Cfg);
    FExchangeConnection = FOpenConnection;
    FScanTransaction = uint16_t(FScanTransaction + 1);
    if (FScanTransaction == 0)
      FScanTransaction = 1; // 0 belongs to the ordinary exchanges
    const uint16_t id = FScanTransaction;
    unitOf[id] = uint8_t(a);
    const uint8_t frame[MbapHeaderBytes + 2] = {uint8_t(id >> 8), uint8_t(id), 0, 0, 0, 2, uint8_t(a), 0x07};
    Trace(QStringLiteral("S"), frame + MbapHeaderBytes, 2);
    const qint64 deadline = NowMs() + unitMs;
    if (!FTcp->SendAll(frame, int(sizeof frame), deadline)) {
      FTcp->Close();
      continue;
    }
    for (;;) {
      uint8_t head[MbapHeaderBytes];
      const int got = FTcp->Receive(head, MbapHeaderBytes, deadline);
      if (got == 0)
        break; // a silent unit; a hang-up is noticed by the next Connect
      const int length = (head[4] << 8) | head[5];
      if (got < MbapHeaderBytes || head[2] != 0 || head[3] != 0 || length > OI_BUFFER_SIZE) {
        FTcp->Close(); // out of step: the next unit starts on a fresh connection
        break;
      }
      QByteArray body(length, '\0');
      // The rest of an answer that has begun is waited for as any answer is.
      if (FTcp->Receive(reinterpret_cast<uint8_t *>(body.data()), length, NowMs() + Cfg.TcpTimeout) < length) {
        FTcp->Close();
        break;
      }
      Trace(QStringLiteral("A"), reinterpret_cast<const uint8_t *>(body.constData()), length);
      const uint16_t answerId = uint16_t((head[0] << 8) | head[1]);
      const bool ours = uint16_t(answerId - firstId) <= uint16_t(id - firstId);
      // Unit 0 stands for the unit asked by the request of that transaction.
      if (ours && length >= 1 && body[0] == 0 && unitOf.count(answerId))
        body[0] = char(unitOf[answerId]);
      // Only a proper poll answer names a device; an exception (a gateway's
      // 0B for an absent unit) names none.
      if (ours && length == 3 && uint8_t(body[1]) == 0x07)
        FScanAnswers.push_back(body);
      if (answerId == id)
        break;
    }
  }
  SetStatus(oisReady);
  return true;
}

// ---- Scan ---------------------------------------------------------------

bool TOI::SendScan(uint8_t First, uint8_t Last, int PauseMs) {
  const TConfig cfg = Config();
  FFailureText.clear();
  FCannotConnect = false;
  FNotSent = false;
  FAnyAddress = true;
  if (cfg.Protocol == prModbusTcp)
    return TcpScan(cfg, First, Last);
  if (!EnsurePortOpen())
    return false;
  FComPort.Purge();
  bool whole = true;
  for (int a = First; a <= Last; ++a) {
    const uint8_t frame[2] = {uint8_t(a), 0x07};
    SetRequest(frame, 2, 5);
    PutCrc(FRequest, 2);
    Trace(QStringLiteral("S"), FRequest, 4);
    FComPort.Write(FRequest, 4, FWritten);
    whole = FWritten == 4;
    SleepMs(PauseMs);
  }
  return whole;
}

bool TOI::ReceiveScanAnswer(int Expected) {
  const TConfig cfg = Config();
  ClearAnswer();
  if (cfg.Protocol == prModbusTcp) {
    if (FScanAnswers.empty()) {
      SetStatus(oisBadCI);
      return false;
    }
    const QByteArray a = FScanAnswers.front();
    FScanAnswers.pop_front();
    FReceived = int(qMin<qsizetype>(a.size(), OI_BUFFER_SIZE));
    std::memcpy(FAnswer, a.constData(), size_t(FReceived));
    Trace(QStringLiteral("R"), FAnswer, FReceived);
    SetStatus(oisReady);
    return true;
  }
  if (!EnsurePortOpen())
    return false;
  if (Expected < 0 || Expected > OI_BUFFER_SIZE)
    throw EKvRange("range check error: " + std::to_string(Expected));
  FExpected = Expected;
  int done = 0;
  FComPort.Read(FAnswer, Expected, done);
  FReceived = done;
  // Scan answers are read without waiting, but one caught halfway through its
  // transmission is completed, or the following answers would be misaligned.
  const qint64 start = NowMs();
  const int baud = FComPort.GetBaudRate();
  while (FReceived > 0 && FReceived < Expected && !(FReceived >= 5 && (FAnswer[1] & 0x80)) &&
         NowMs() - start <= cfg.Timeout) {
    SleepMs(qMax(1, RtuLineTimeMs(Expected - FReceived, baud)));
    FComPort.Read(FAnswer + FReceived, Expected - FReceived, done);
    FReceived += done;
  }
  Trace(QStringLiteral("R"), FAnswer, FReceived);
  // Scan answers are read without waiting: when one is missing or spoiled,
  // it may still come, and must not pass for the next request's answer.
  if (FReceived == 0) {
    SetStatus(oisBadCI);
    FLineUnsettled = true;
    return false;
  }
  const bool ok = CheckRtuAnswer(FReceived >= Expected, true);
  if (!ok)
    FLineUnsettled = true;
  return ok;
}

// ---- Settings -----------------------------------------------------------

TOI::TConfig TOI::Config() const {
  std::lock_guard g(FConfigLock);
  return FConfig;
}

void TOI::SetSleepBefore(int Value) {
  std::lock_guard g(FConfigLock);
  FConfig.SleepBefore = qMax(0, Value);
}

void TOI::SetTimeout(int Value) {
  std::lock_guard g(FConfigLock);
  FConfig.Timeout = qMax(0, Value);
}

void TOI::SetTcpTimeout(int Value) {
  std::lock_guard g(FConfigLock);
  FConfig.TcpTimeout = qMax(0, Value);
}

void TOI::SetProtocol(int Value) {
  std::lock_guard g(FConfigLock);
  const int protocol = Value == prModbusTcp ? prModbusTcp : prModbusRtu;
  FConfig.Target += protocol != FConfig.Protocol;
  FConfig.Protocol = protocol;
}

int TOI::GetProtocol() const {
  std::lock_guard g(FConfigLock);
  return FConfig.Protocol;
}

QString TOI::RouteText() const {
  std::lock_guard g(FConfigLock);
  if (FConfig.Protocol == prModbusTcp)
    return QStringLiteral("tcp:%1:%2").arg(FConfig.Host).arg(FConfig.Port);
  return QStringLiteral("rtu:") + FComPort.GetPortName();
}

void TOI::SetHost(const QString &Value) {
  std::lock_guard g(FConfigLock);
  FConfig.Target += Value != FConfig.Host;
  FConfig.Host = Value;
}

void TOI::SetPort(int Value) {
  std::lock_guard g(FConfigLock);
  FConfig.Target += Value != FConfig.Port;
  FConfig.Port = Value;
}

void TOI::SetLoopCount(int Value) { FLoopCount = Value; }
void TOI::SetFrameSizeCmd(bool Value) { FFrameSizeCmd = Value; }

// ---- Trace --------------------------------------------------------------

void TOI::Trace(const QString &Tag, const uint8_t *Data, int Count) {
  if (!FTrace.IsOpen())
    return;
  // Made in place, the calendar worked out once a second: every frame is traced.
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  if (now.tv_sec != FTraceSecond) {
    PutTraceHead(FTraceHead, now.tv_sec);
    FTraceSecond = now.tv_sec;
  }
  const int ms = int(now.tv_nsec / 1000000);
  Count = std::max(Count, 0);
  const qsizetype size = 2 + 13 + Tag.size() + 3 * qsizetype(Count);
  FTraceLine.resize(size + 1); // room for the last byte's pad
  char *p = FTraceLine.data();
  *p++ = '\r';
  *p++ = '\n';
  std::memcpy(p, FTraceHead, 9);
  p += 9;
  *p++ = char('0' + ms / 100);
  *p++ = char('0' + ms / 10 % 10);
  *p++ = char('0' + ms % 10);
  *p++ = ' ';
  for (QChar c : Tag)
    *p++ = char(c.unicode() < 0x100 ? c.unicode() : '?');
  PutBlankHex(p, Data, size_t(Count));
  FTrace.Append(FTraceLine.constData(), size_t(size));
  if (!FTraceHeld)
    FTrace.Flush();
}
