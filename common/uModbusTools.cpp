#include "uModbusTools.h"

#include <QBuffer>
#include <QVarLengthArray>
#include <sys/eventfd.h>
#include <unistd.h>
#include <QDateTime>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "uDateTime.h"
#include "uDeviceIO.h"
#include "uErrors.h"
#include "uLinkText.h"
#include "uLogger.h"

// ---------------------------------------------------------------- builder

TRequestBuilder::TRequestBuilder(TDeviceFront &AOwner) : FOwner(AOwner) {}

void TRequestBuilder::StartRecord(TReplyId Reply, uint8_t Command, uint8_t Tag,
                                  std::span<const uint8_t> Payload) {
  // The length field is one byte wide in the records the chains build first;
  // Put may extend a record past it afterwards.
  const size_t afterLength = RequestHeadSize - 2 + Payload.size();
  if (afterLength > 255)
    throw EKvRange("range check error: record of " + std::to_string(afterLength) + " bytes");
  std::memset(FBuffer, 0, RequestHeadSize);
  FBuffer[2] = uint8_t(Reply);
  FBuffer[3] = uint8_t(Reply >> 8);
  FBuffer[4] = uint8_t(Reply >> 16);
  FBuffer[5] = uint8_t(Reply >> 24);
  FBuffer[RecordAddrAt] = FOwner.DeviceAddr();
  FBuffer[18] = Command;
  FBuffer[19] = Tag;
  if (!Payload.empty())
    std::memcpy(FBuffer + RequestHeadSize, Payload.data(), Payload.size());
  FIndex = RequestHeadSize + int(Payload.size());
}

void TRequestBuilder::StartRecord(TReplyId Reply, uint8_t Command, uint8_t Tag,
                                  std::initializer_list<uint8_t> Payload) {
  StartRecord(Reply, Command, Tag, std::span<const uint8_t>(Payload.begin(), Payload.size()));
}

void TRequestBuilder::Need(int Count) {
  if (FIndex + Count > RequestRecordSize)
    throw EKvRange("range check error: record index " + std::to_string(FIndex + Count - 1));
}

void TRequestBuilder::PutByte(uint8_t Value) {
  Need(1);
  FBuffer[FIndex++] = Value;
}

void TRequestBuilder::PutWord(uint16_t Value) {
  Need(2);
  FBuffer[FIndex++] = uint8_t(Value);
  FBuffer[FIndex++] = uint8_t(Value >> 8);
}

void TRequestBuilder::PutDword(uint32_t Value) {
  Need(4);
  for (int i = 0; i < 4; ++i)
    FBuffer[FIndex++] = uint8_t(Value >> (8 * i));
}

void TRequestBuilder::PutByteAt(uint8_t Value, int Index) {
  if (Index < 0 || Index >= FIndex)
    throw EKvRange("range check error: record index " + std::to_string(Index));
  FBuffer[Index] = Value;
}

void TRequestBuilder::PutStream(QIODevice &AStream, qint64 Count) {
  if (Count > AStream.size())
    Count = AStream.size();
  if (Count <= 0)
    return;
  Need(int(std::min<qint64>(Count, RequestRecordSize + 1)));
  const qint64 got = AStream.read(reinterpret_cast<char *>(FBuffer + FIndex), Count);
  if (got != Count)
    throw EKvError("Stream read error");
  FIndex += int(Count);
}

void TRequestBuilder::Send() {
  const int length = FIndex - 2;
  FBuffer[0] = uint8_t(length);
  FBuffer[1] = uint8_t(length >> 8);
  FOwner.SendArray(FBuffer, FIndex);
}

QByteArray TRequestBuilder::Record() const {
  return QByteArray(reinterpret_cast<const char *>(FBuffer), FIndex);
}

// ---------------------------------------------------------------- parser

TResponseParser::TResponseParser() : FBuffer(ResponseBufferSize, 0) {}

void TResponseParser::Fill(const QByteArray &Answer) {
  const size_t need = std::max<size_t>(ResponseBufferSize, size_t(Answer.size()) + 8);
  FBuffer.assign(need, 0);
  std::memcpy(FBuffer.data(), Answer.constData(), size_t(Answer.size()));
  FCount = int(Answer.size());
  FIndex = 0;
}

const uint8_t *TResponseParser::Take(int Size) {
  // Up to two bytes past the answer are tolerated: the reply code of old read
  // a trailing word that way. The buffer is zeroed there.
  if (FIndex < 0 || Size < 0 || qint64(FIndex) + Size > qint64(FCount) + 2 ||
      size_t(FIndex) + size_t(Size) > FBuffer.size())
    throw EKvProtocol("TResponseParser overflow");
  const uint8_t *p = FBuffer.data() + FIndex;
  FIndex += Size;
  return p;
}

uint8_t TResponseParser::ReadByte() { return *Take(1); }

uint16_t TResponseParser::ReadWord() {
  const uint8_t *p = Take(2);
  return uint16_t(p[0] | (p[1] << 8));
}

uint32_t TResponseParser::ReadDword() {
  const uint8_t *p = Take(4);
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

int32_t TResponseParser::ReadInteger() { return int32_t(ReadDword()); }

double TResponseParser::ReadDouble() {
  const uint8_t *p = Take(8);
  uint64_t bits = 0;
  for (int i = 7; i >= 0; --i)
    bits = (bits << 8) | p[i];
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

TDateTime TResponseParser::ReadDate() {
  const uint8_t *p = Take(7);
  TDateTime value = DeviceBaseDate;
  DecodeDeviceTime7(p, value);
  return value;
}

void TResponseParser::ReadBytes(void *Buffer, int Count) {
  const uint8_t *p = Take(Count);
  if (Count > 0)
    std::memcpy(Buffer, p, size_t(Count));
}

void TResponseParser::ReadToStream(QIODevice &AStream, int Count) {
  const uint8_t *p = Take(Count);
  if (Count > 0 && AStream.write(reinterpret_cast<const char *>(p), Count) != Count)
    throw EKvError("Stream write error");
}

int32_t TResponseParser::ReadIntegerAt(int AIndex) {
  const int saved = FIndex;
  if (AIndex >= 0)
    FIndex = AIndex;
  try {
    const int32_t value = ReadInteger();
    FIndex = saved;
    return value;
  } catch (...) {
    FIndex = saved;
    throw;
  }
}

TDateTime TResponseParser::ReadDateAt(int AIndex) {
  const int saved = FIndex;
  if (AIndex >= 0)
    FIndex = AIndex;
  try {
    const TDateTime value = ReadDate();
    FIndex = saved;
    return value;
  } catch (...) {
    FIndex = saved;
    throw;
  }
}

// ---------------------------------------------------------------- front

namespace {
// Each byte's two uppercase hexadecimal digits: the dumps of every record and
// answer pass through here, so no digit is worked out twice.
struct THexTable {
  char Pair[256][2];
  constexpr THexTable() : Pair() {
    const char digits[] = "0123456789ABCDEF";
    for (int i = 0; i < 256; ++i) {
      Pair[i][0] = digits[i >> 4];
      Pair[i][1] = digits[i & 15];
    }
  }
};
constexpr THexTable HexTable;

// Each byte as its two digits and a blank, padded in the same way.
struct THexBlankTable {
  char Quad[256][4];
  constexpr THexBlankTable() : Quad() {
    for (int i = 0; i < 256; ++i) {
      Quad[i][0] = HexTable.Pair[i][0];
      Quad[i][1] = HexTable.Pair[i][1];
      Quad[i][2] = ' ';
      Quad[i][3] = ' ';
    }
  }
};
constexpr THexBlankTable HexBlankTable;

// Writes "HH " for each byte from Out on (3 * Count characters).
template <typename C> void PutHexBlankAfter(C *Out, const uint8_t *Data, int Count) {
  for (int i = 0; i < Count; ++i) {
    *Out++ = C(HexTable.Pair[Data[i]][0]);
    *Out++ = C(HexTable.Pair[Data[i]][1]);
    *Out++ = C(' ');
  }
}
} // namespace

QString HexBytes(const uint8_t *Data, int Count) {
  if (Count <= 0)
    return QString();
  QString out(qsizetype(Count) * 3, Qt::Uninitialized);
  PutHexBlankAfter(out.data(), Data, Count);
  return out;
}

namespace {
// Logs "<Head> (<Count>) " and the bytes as HexBytes writes them. Made as
// bytes and handed over as UTF-8: every record logs two such lines.
void LogRecordBytes(int Level, const char *Head, const uint8_t *Data, int Count) {
  Count = std::max(Count, 0);
  const size_t headSize = std::strlen(Head);
  // The head, " (", ten digits at most, ") ", the bytes and one pad byte.
  QVarLengthArray<char, 1024> text(qsizetype(headSize + 14) + 3 * qsizetype(Count) + 1);
  char *p = text.data();
  std::memcpy(p, Head, headSize);
  p += headSize;
  *p++ = ' ';
  *p++ = '(';
  char digits[10];
  int n = 0;
  for (unsigned v = unsigned(Count); n == 0 || v != 0; v /= 10)
    digits[n++] = char('0' + v % 10);
  while (n > 0)
    *p++ = digits[--n];
  *p++ = ')';
  *p++ = ' ';
  for (int i = 0; i < Count; ++i, p += 3)
    std::memcpy(p, HexBlankTable.Quad[Data[i]], 4);
  Logger().WriteUtf8(Level, QByteArrayView(text.data(), p - text.data()));
}

void LogRecordBytes(int Level, const char *Head, const QByteArray &Data) {
  LogRecordBytes(Level, Head, reinterpret_cast<const uint8_t *>(Data.constData()), int(Data.size()));
}
} // namespace

TDeviceFront::TDeviceFront() : FBuilder(*this) {}

TDeviceFront::~TDeviceFront() = default;

void TDeviceFront::SendArray(const uint8_t *Data, int Count) {
  if (Count < 0 || Count > 65535)
    throw EKvAssert("SendArray invalid count");
  if (Logger().Listened()) {
    // The record is in progress until its answer comes: its line may wait
    // for the answer's lines, or for the main thread to sleep, and share
    // their write. Chains send several records in a row.
    TLogger::TBatch batch(Logger(), TLogger::TBatch::UntilIdle);
    LogRecordBytes(TLogger::lvDebug, "Send array", Data, Count);
  }
  // The worker answers every record it takes, whatever its command or outcome.
  // Counted first: a front may deliver from inside Queue.
  ++FOutstanding;
  try {
    Queue(Data, Count);
  } catch (...) {
    --FOutstanding;
    throw;
  }
}

TReplyId TDeviceFront::RegisterReply(TReplyMethod Method) {
  // Ids run upwards and wrap; one still in use is skipped, so an answer can
  // never reach a chain other than the one that sent its record.
  while (FNextId == 0 || FReplies.count(FNextId))
    ++FNextId;
  const TReplyId id = FNextId++;
  FReplies.emplace(id, std::move(Method));
  return id;
}

void TDeviceFront::UnregisterReply(TReplyId Id) {
  if (FReplies.erase(Id) != 0)
    Forget(Id);
}

void TDeviceFront::Deliver(const QByteArray &Answer, const QString &Cause, const QString &Code,
                           TForeignSigns Signs) {
  // An answer's lines and those of the record its reply sends next reach the
  // log file in one write.
  TLogger::TBatch batch(Logger());
  if (FOutstanding > 0)
    --FOutstanding;
  FDeliveryText.clear();
  FParser.Fill(Answer);
  TAnswerHead head;
  TReplyId id = 0;
  try {
    id = FParser.ReadDword();
    head.Connection = FParser.ReadDword();
    FParser.ReadDword();
    FParser.ReadDword();
    head.Command = FParser.ReadByte();
    head.Tag = FParser.ReadByte();
    head.ErrorFlag = FParser.ReadByte();
    head.Status = FParser.ReadByte();
  } catch (const EKvError &e) {
    Logger().Error(QString("answer dropped: ") + e.Text());
    return;
  }
  if (head.Connection != 0)
    FLastConnection = head.Connection;
  // Before the reply: what the chain does next (a write) may depend on
  // whether the device is still the one identified.
  if (Signs != 0 && FOnForeignSign) {
    // A copy: the handler may replace itself.
    const auto handler = FOnForeignSign;
    for (const TForeignSign sign : AllForeignSigns) {
      if (!(Signs & ForeignSignBit(sign)))
        continue;
      try {
        handler(sign);
      } catch (const std::exception &e) {
        Logger().Error(QString("sign handler failed: ") + QString::fromUtf8(e.what()));
      }
    }
  }
  auto call = [&] {
    auto it = FReplies.find(id);
    if (it == FReplies.end()) {
      Logger().Debug(QString::asprintf("answer dropped: chain %u has ended", id));
      return;
    }
    // A copy: the reply may end its chain and so unregister itself.
    TReplyMethod method = it->second;
    try {
      method(FParser, head, FParser.Data());
    } catch (const std::exception &e) {
      // Delivery runs from the event loop: nothing above it could catch.
      Logger().Error(QString("reply failed: ") + QString::fromUtf8(e.what()));
    }
  };

  // Every failure reaches the log with the text the engineer is shown.
  if (head.Status != 0) {
    FDeliveryText = LocalLinkText(LinkFailureText(head.Status, Cause));
    const QString code = Code.isEmpty() ? LinkFailureCode(head.Status, Cause) : Code;
    Logger().Error(QStringLiteral("device error ") + code +
                   QString::asprintf(" %2.2X %2.2X ", head.Status, head.ErrorFlag) + FDeliveryText);
  }
  // The success lines come with every record: worth no text while nobody listens.
  const bool traced = Logger().Listened();
  if (head.Command == bcScan) {
    if (traced)
      LogRecordBytes(TLogger::lvDebug, "Executed", Answer);
    call();
    if (traced)
      Logger().WriteUtf8(TLogger::lvDebug, "Executed ready");
  } else if (head.Status != 0) {
    call();
  } else if (head.ErrorFlag != 0) {
    // Delivered all the same, so that the chain ends instead of waiting for ever.
    LogRecordBytes(TLogger::lvError, "Executed protocol error", Answer);
    call();
  } else {
    if (traced)
      LogRecordBytes(TLogger::lvDebug, "Executed start", Answer);
    call();
    if (traced)
      Logger().WriteUtf8(TLogger::lvDebug, "Executed ready");
  }
}

// ---------------------------------------------------------------- worker

#if defined(__SANITIZE_THREAD__)
// The worker converts clock times and writes log lines while the main thread
// does the same; both end in the C library's tzset, which glibc guards with
// an internal lock that the race checker cannot see. Every program that runs
// the worker links this unit, so the checker learns it here.
extern "C" const char *__tsan_default_suppressions() { return "race:tzset_internal\n"; }
#endif

// Reads a record from the request stream. Each command consumes exactly the
// payload it needs; a read past the stream's end gives zero bytes.
class TDeviceThread::TReader {
public:
  explicit TReader(const QByteArray &AStream)
      : FData(reinterpret_cast<const uint8_t *>(AStream.constData())), FSize(AStream.size()) {}
  uint8_t Byte() {
    const uint8_t b = FPos < FSize ? FData[FPos] : 0;
    ++FPos;
    return b;
  }
  uint16_t Word() {
    const uint8_t lo = Byte();
    return uint16_t(lo | (Byte() << 8));
  }
  QByteArray Bytes(int Count) {
    QByteArray out;
    AppendTo(out, Count);
    return out;
  }
  // Appends the next Count bytes to Out (zero bytes past the stream's end).
  void AppendTo(QByteArray &Out, int Count) {
    Count = std::max(0, Count);
    const qsizetype at = Out.size();
    Out.resize(at + Count);
    auto *dest = reinterpret_cast<uint8_t *>(Out.data()) + at;
    const qsizetype have = std::clamp<qsizetype>(FSize - FPos, 0, Count);
    for (qsizetype i = 0; i < Count; ++i)
      dest[i] = i < have ? FData[FPos + i] : 0;
    FPos += Count;
  }
  int Consumed() const { return int(std::min<qsizetype>(FPos, FSize)); }

private:
  const uint8_t *FData;
  qsizetype FSize;
  qsizetype FPos = 0;
};

namespace {
void AppendWord(QByteArray &A, uint16_t Value) {
  A.append(char(Value & 0xFF));
  A.append(char(Value >> 8));
}
} // namespace

QString TDeviceThread::DefaultTraceFile() { return TOI::DefaultTraceFileName(); }

namespace {
// "yyyy-mm-dd hh:nn:ss" of a second.
void PutDebugStamp(char (&Stamp)[48], time_t Second) {
  // localtime_r straight from the C library: the local-time paths of
  // QDateTime reset the time zone on every call, which glibc guards with a
  // lock of its own that race checkers cannot see.
  tm parts;
  localtime_r(&Second, &parts);
  std::snprintf(Stamp, sizeof Stamp, "%04d-%02d-%02d %02d:%02d:%02d", parts.tm_year + 1900, parts.tm_mon + 1,
                parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
}

// One debug line of Text, stamped now.
QByteArray DebugLineBytes(const QByteArray &Text) {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  char stamp[48];
  PutDebugStamp(stamp, now.tv_sec);
  char ms[8];
  std::snprintf(ms, sizeof ms, ".%03d ", int(now.tv_nsec / 1000000));
  return QByteArray(stamp) + ms + Text + "\r\n";
}
} // namespace

TDeviceThread::TDeviceThread(const QString &DebugLogName, const QString &TraceFileName)
    : FIO(std::make_unique<TDeviceIO>(TraceFileName)), FDebug(DebugLineBytes) {
  // The previous run's exchanges stay as the file's generation 1.
  if (const QString why = FDebug.Open(DebugLogName, true); !why.isEmpty())
    Logger().Error(why);
  // The trace's records are written out with the debug lines.
  FIO->GetOI().HoldTrace(true);
  FNotifyFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (FNotifyFd < 0)
    throw EKvError(QString("cannot create the worker's answer event: ") + QString::fromLocal8Bit(strerror(errno)));
  FDebugFlusher = std::thread([this] { RunDebugFlusher(); });
  FThread = std::thread([this] { Execute(); });
}

TDeviceThread::~TDeviceThread() {
  Terminate();
  if (FThread.joinable())
    FThread.join();
  {
    std::lock_guard<std::mutex> lock(FDebugLock);
    FDebugFlusherStop = true;
  }
  FDebugFlusherWake.notify_all();
  if (FDebugFlusher.joinable())
    FDebugFlusher.join();
  if (FNotifyFd >= 0)
    ::close(FNotifyFd);
}

void TDeviceThread::Terminate() {
  {
    std::lock_guard<std::mutex> lock(FLock);
    FTerminated = true;
  }
  FIO->GetOI().CancelRepeats();
  FWake.notify_all();
}

void TDeviceThread::SetErrorLimit(int Value) {
  FErrorLimit = Value;
  FIO->GetOI().SetRepeats(FErrorLimit, FErrorSleep);
}

void TDeviceThread::SetErrorSleep(int Value) {
  FErrorSleep = Value;
  FIO->GetOI().SetRepeats(FErrorLimit, FErrorSleep);
}

void TDeviceThread::Queue(const uint8_t *Data, int Count) {
  {
    std::lock_guard<std::mutex> lock(FLock);
    FRequest.append(reinterpret_cast<const char *>(Data), Count);
  }
  FWake.notify_all();
}

void TDeviceThread::Post(TPosted Posted, bool Wake) {
  // The answer crosses threads under our own lock, not inside a posted event,
  // so the hand-over is the same whatever the event loop does meanwhile. Once
  // woken, the main thread takes every answer queued by then.
  bool notify = false;
  {
    std::lock_guard<std::mutex> lock(FAnswerLock);
    FAnswers.push_back(std::move(Posted));
    if ((Wake || ++FUnwoken >= WakeEvery) && !FWakePending) {
      FWakePending = true;
      notify = true;
    }
    if (notify || Wake)
      FUnwoken = 0;
  }
  if (notify) {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(FNotifyFd, &one, sizeof one);
  }
}

void TDeviceThread::AnswersWoken() {
  uint64_t count;
  std::lock_guard<std::mutex> lock(FAnswerLock);
  [[maybe_unused]] const ssize_t got = ::read(FNotifyFd, &count, sizeof count);
  FWakePending = false;
}

bool TDeviceThread::TakeAnswer(QByteArray &Answer, QString &Cause, QString &Code, TForeignSigns &Signs) {
  std::lock_guard<std::mutex> lock(FAnswerLock);
  if (FAnswers.empty())
    return false;
  Answer = std::move(FAnswers.front().Answer);
  Cause = std::move(FAnswers.front().Cause);
  Code = std::move(FAnswers.front().Code);
  Signs = FAnswers.front().Signs;
  FAnswers.pop_front();
  return true;
}

void TDeviceThread::DebugLine(const char *Head, const QByteArray &Data) {
  if (!FDebug.IsOpen())
    return;
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  if (now.tv_sec != FStampSecond) {
    PutDebugStamp(FStamp, now.tv_sec);
    FStampSecond = now.tv_sec;
  }
  const int ms = int(now.tv_nsec / 1000000);
  // Stamp, ".mmm ", head, then each byte as a blank and two uppercase
  // hexadecimal digits (" 17 00"), CR LF.
  const size_t stampLength = std::strlen(FStamp), headLength = std::strlen(Head);
  const qsizetype lineLength = qsizetype(stampLength + 5 + headLength) + 3 * Data.size() + 2;
  FDebugLine.resize(lineLength + 1); // room for the last byte's pad
  char *p = FDebugLine.data();
  std::memcpy(p, FStamp, stampLength);
  p += stampLength;
  *p++ = '.';
  *p++ = char('0' + ms / 100);
  *p++ = char('0' + ms / 10 % 10);
  *p++ = char('0' + ms % 10);
  *p++ = ' ';
  std::memcpy(p, Head, headLength);
  p += headLength;
  p = PutBlankHex(p, reinterpret_cast<const uint8_t *>(Data.constData()), size_t(Data.size()));
  *p++ = '\r';
  *p++ = '\n';
  FDebug.Append(FDebugLine.constData(), size_t(lineLength));
  // A hang or a kill loses at most the last 200 ms of the file; a crash
  // nothing (the crash handler writes the buffer).
  const int64_t nowMs = int64_t(now.tv_sec) * 1000 + ms;
  if (nowMs - FDebugFlushedMs >= DebugFlushMs || nowMs < FDebugFlushedMs)
    FlushDebug(nowMs);
}

void TDeviceThread::RunDebugFlusher() {
  std::unique_lock<std::mutex> lock(FDebugLock);
  while (!FDebugFlusherWake.wait_for(lock, std::chrono::milliseconds(DebugFlushMs),
                                     [this] { return FDebugFlusherStop; })) {
    FDebug.Flush();
    FIO->GetOI().FlushTrace();
  }
}

void TDeviceThread::FlushDebug(int64_t NowMs) {
  FDebug.Flush();
  FIO->GetOI().FlushTrace();
  if (NowMs < 0) {
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    NowMs = int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
  }
  FDebugFlushedMs = NowMs;
}

TDeviceThread::TStatus TDeviceThread::Failure() const {
  // One status byte carries either the device's exception code or the
  // transport status, so the cause travels beside it for the log.
  TStatus s;
  const TOIStatus transport = FIO->GetOI().GetStatus();
  if (transport == oisErrorFlag) {
    const uint8_t code = FIO->GetStatus();
    s.Status = code ? code : uint8_t(oisErrorFlag);
  } else {
    // A failed operation always answers a non-zero status.
    s.Status = transport == oisReady ? uint8_t(oisUnknown) : uint8_t(transport);
  }
  // Unsent for the connection it was held to: a status of its own, and not
  // the link's failure (whatever failed the link was told with its own record).
  if (FIO->GetOI().NotSent()) {
    s.Status = StatusNotSent;
    s.Cause = FIO->GetOI().FailureText();
    s.Code = QString::fromLatin1(LinkCodes::NotSent);
    return s;
  }
  // The engineer's text travels beside the status: the byte alone cannot
  // tell an exception code from a transport status.
  s.Cause = FIO->GetOI().FailureText();
  s.Code = FIO->GetOI().FailureCode();
  if (s.Cause.isEmpty()) {
    s.Cause = QString::fromUtf8(LinkTexts::NoAnswer);
    s.Code = QString::fromLatin1(LinkCodes::Timeout);
  }
  return s;
}

void TDeviceThread::Execute() {
  QByteArray stream; // records taken from the queue, not yet executed
  while (true) {
    {
      std::unique_lock<std::mutex> lock(FLock);
      if (FRequest.isEmpty() && !FTerminated) {
        // Dry: no record of an ended chain is left anywhere, and an ended
        // chain sends none.
        FForgotten.clear();
        // Idle: what the debug file holds so far goes to the disk now.
        lock.unlock();
        FlushDebug();
        lock.lock();
        const bool woke = FWake.wait_for(lock, std::chrono::milliseconds(1000),
                                         [this] { return FTerminated || !FRequest.isEmpty(); });
        if (!woke) {
          lock.unlock();
          // A second without requests: let the serial port go.
          FIO->GetOI().GetComPort().Close();
          continue;
        }
      }
      if (FTerminated)
        break;
      stream = std::move(FRequest);
      FRequest.clear();
    }
    // Every record taken is executed in this run, without going back to
    // the queue's lock but to see whether the thread is asked to stop.
    char head[48];
    std::snprintf(head, sizeof head, "modbusCmd Q (%3d) ", int(stream.size()));
    DebugLine(head, stream);
    qsizetype at = 0;
    // Records before this offset of the stream were queued before a link
    // failure: each is answered with it, unsent.
    qsizetype dropUntil = 0;
    TPosted linkFailure;
    while (at < stream.size()) {
      // One record is its length field and the bytes it counts. A command
      // that reads less (a wrong guard) or more (a short payload) than its
      // record holds must not shift the records queued behind it.
      const qsizetype left = stream.size() - at;
      const int length = left >= 2 ? uint8_t(stream[at]) | (uint8_t(stream[at + 1]) << 8) : 0;
      const int recordSize = int(std::min<qsizetype>(left, qsizetype(length) + 2));
      // A view into the taken stream, which outlives the record's run.
      const QByteArray record = QByteArray::fromRawData(stream.constData() + at, recordSize);
      const bool dropped = at < dropUntil;
      at += recordSize;
      TPosted posted;
      QByteArray &answer = posted.Answer;
      bool linkFailed = false;
      if (IsForgotten(record) || dropped) {
        // Its chain has ended, or it was meant for the device the link has
        // lost: the device is not asked.
        answer = QByteArray(record.constData() + 2, std::clamp<qsizetype>(record.size() - 2, 0, 18));
        answer.append(char(0)).append(char(0));
        // It went over no connection, whatever it was held to.
        PutConnection(answer, 0);
        if (!IsForgotten(record)) {
          answer = answer.leftJustified(AnswerHeadSize, '\0');
          answer[19] = linkFailure.Answer[19];
          posted.Cause = linkFailure.Cause;
          posted.Code = linkFailure.Code;
        }
      } else {
        int consumed = 0;
        TStatus result;
        TOI &oi = FIO->GetOI();
        const bool held =
            record.size() > RecordFlagsAt && (uint8_t(record[RecordFlagsAt]) & RecordHoldsConnection) != 0;
        oi.HoldConnection(held, held ? ConnectionAt(record, RecordConnectionAt) : 0);
        oi.TakeExchangeConnection();
        RunRecord(record, answer, result, consumed);
        PutConnection(answer, oi.TakeExchangeConnection());
        posted.Signs = FIO->GetOI().TakeSigns();
        linkFailed = IsLinkFailure(result);
        posted.Cause = std::move(result.Cause);
        posted.Code = std::move(result.Code);
        if (linkFailed)
          linkFailure = posted;
      }
      std::snprintf(head, sizeof head, "modbusCmd A (%3d)       ", int(answer.size()));
      DebugLine(head, answer);
      // The main thread is woken for the last answer before the worker runs
      // dry, for every eighth, and where the next record is another chain's:
      // a chain that keeps several records queued is fed while the worker
      // goes on. Records of the same chain queued during this run are the
      // worker's next run, so its end wakes nobody: on one core the main
      // thread would only be switched in to hear that the worker goes on.
      const TReplyId id = ReplyIdAt(record, 0);
      std::unique_lock<std::mutex> lock(FLock);
      const qsizetype taken = stream.size();
      if (linkFailed) {
        // Whatever is queued now was queued before the failure: it joins
        // this run, to be answered unsent. The record's view is stale now.
        stream.append(FRequest);
        FRequest.clear();
        dropUntil = stream.size();
      }
      const bool last = at >= stream.size();
      const bool wake = last ? FRequest.isEmpty() || ReplyIdAt(FRequest, 0) != id : ReplyIdAt(stream, at) != id;
      const bool stop = FTerminated;
      lock.unlock();
      if (stream.size() > taken) {
        std::snprintf(head, sizeof head, "modbusCmd Q (%3d) ", int(stream.size() - taken));
        DebugLine(head, stream.mid(taken));
      }
      Post(std::move(posted), wake || stop);
      if (stop)
        break;
    }
  }
  FlushDebug();
}

bool TDeviceThread::IsLinkFailure(const TStatus &Result) {
  if (Result.Status == 0)
    return false;
  for (const char *code : {LinkCodes::Timeout, LinkCodes::NoConnection, LinkCodes::ConnectionLost,
                           LinkCodes::PortUnavailable})
    if (Result.Code == QLatin1String(code))
      return true;
  return false;
}

uint32_t TDeviceThread::ConnectionAt(const QByteArray &Record, int At) {
  if (At + 4 > Record.size())
    return 0;
  const auto *b = reinterpret_cast<const uint8_t *>(Record.constData() + At);
  return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

void TDeviceThread::PutConnection(QByteArray &Answer, uint32_t Connection) {
  if (Answer.size() < AnswerConnectionAt + 4)
    return;
  for (int i = 0; i < 4; ++i)
    Answer[AnswerConnectionAt + i] = char(uint8_t(Connection >> (8 * i)));
}

TReplyId TDeviceThread::ReplyIdAt(const QByteArray &Stream, qsizetype At) {
  if (At + 6 > Stream.size())
    return 0;
  const auto *b = reinterpret_cast<const uint8_t *>(Stream.constData() + At);
  return TReplyId(b[2]) | TReplyId(b[3]) << 8 | TReplyId(b[4]) << 16 | TReplyId(b[5]) << 24;
}

bool TDeviceThread::IsForgotten(const QByteArray &Record) const {
  const TReplyId id = ReplyIdAt(Record, 0);
  if (id == 0)
    return false;
  std::lock_guard<std::mutex> lock(FLock);
  return FForgotten.count(id) != 0;
}

void TDeviceThread::Forget(TReplyId Id) {
  if (Id == 0)
    return;
  std::lock_guard<std::mutex> lock(FLock);
  FForgotten.insert(Id);
}

void TDeviceThread::RunRecord(const QByteArray &Stream, QByteArray &Answer, TStatus &Result, int &Consumed) {
  TReader r(Stream);
  r.Word(); // the length field: commands consume their own payload
  Answer.reserve(AnswerHeadSize + 1 + 4 * 255);
  r.AppendTo(Answer, 18);
  Answer.append(char(0)).append(char(0));
  const uint8_t command = uint8_t(Answer[16]);
  // The record's own device address, area and frame size: whatever the
  // record before it (another chain's, maybe) used is gone.
  auto headByte = [&Answer](int At) { return uint8_t(Answer[At - 2]); };
  FIO->SetDeviceAddr(headByte(RecordAddrAt));
  FIO->SetMemoryAreaAlone(headByte(RecordAreaAt));
  const int frameSize = headByte(RecordFrameSizeAt) | headByte(RecordFrameSizeAt + 1) << 8;
  uint8_t flag = 0;
  TStatus result;
  TOI &oi = FIO->GetOI();

  auto guard = [&]() {
    const uint16_t w1 = r.Word();
    AppendWord(Answer, w1);
    if (w1 != RecordGuardWord)
      return false;
    const uint16_t w2 = r.Word();
    AppendWord(Answer, w2);
    return w2 == RecordGuardWord;
  };
  auto badGuard = [&] {
    result.Status = StatusBadGuard;
    result.Cause = DeviceErrorText(StatusBadGuard);
    result.Code = QString::fromLatin1(LinkCodes::BadGuard);
  };

  try {
    switch (command) {
    case bcNone:
      r.Bytes(4);
      break;
    case bcReadRegisters: {
      const int n = r.Byte();
      uint16_t regs[256], values[256];
      for (int i = 0; i < n; ++i)
        regs[i] = r.Word();
      // Consecutive numbers are read as one run of at most 255 registers.
      int start = 0;
      while (start < n) {
        // Its chain ended during an earlier run (a tab closed): the relay is
        // asked nothing more for it, and the answer goes to nobody.
        if (start > 0 && IsForgotten(Stream)) {
          std::fill(values + start, values + n, uint16_t(0));
          break;
        }
        int len = 1;
        while (start + len < n && len < 256 && regs[start + len] == uint16_t(regs[start] + len))
          ++len;
        if (!FIO->ReadRegisters(regs[start], values + start, uint16_t(len)))
          result = Failure();
        start += len;
      }
      // The pairs are written in place: this runs for every record of a poll.
      const qsizetype at = Answer.size();
      Answer.resize(at + 1 + 4 * qsizetype(n));
      auto *p = reinterpret_cast<uint8_t *>(Answer.data() + at);
      *p++ = uint8_t(n);
      for (int i = 0; i < n; ++i) {
        const uint16_t value = result.Status ? 0 : values[i];
        *p++ = uint8_t(regs[i]);
        *p++ = uint8_t(regs[i] >> 8);
        *p++ = uint8_t(value);
        *p++ = uint8_t(value >> 8);
      }
      break;
    }
    case bcWriteRegisters: {
      const int n = r.Byte();
      Answer.append(char(n));
      for (int i = 0; i < n; ++i) {
        const uint16_t reg = r.Word();
        const uint16_t value = r.Word();
        if (!FIO->WriteRegister(reg, value))
          result = Failure();
        AppendWord(Answer, reg);
      }
      break;
    }
    case bcPoll: {
      if (!guard()) {
        badGuard();
        break;
      }
      const uint8_t addr = r.Byte();
      uint8_t answered = 0, devStatus = 0;
      if (FIO->Poll(addr, answered, devStatus)) {
        Answer.append(char(answered)).append(char(devStatus));
      } else {
        result = Failure();
      }
      break;
    }
    case bcScan: {
      if (!guard()) {
        badGuard();
        break;
      }
      const int first = r.Byte();
      const int last = r.Byte();
      const int countAt = int(Answer.size());
      Answer.append(char(0));
      int found = 0;
      // A port that cannot be opened or a server that cannot be reached is
      // a failure of the scan, not a scan that found nobody.
      if (!FIO->ScanStart(uint8_t(first), uint8_t(last), FPollPause)) {
        result = Failure();
        break;
      }
      TStatus spoiled; // the first answer that came but named no device
      for (int i = first; i <= last; ++i) {
        uint8_t addr = 0, devStatus = 0;
        if (FIO->ScanNext(addr, devStatus)) {
          Answer.append(char(addr)).append(char(devStatus));
          ++found;
        } else if (spoiled.Status == 0 && oi.GetReceived() > 0) {
          spoiled = Failure();
        }
      }
      Answer[countAt] = char(found);
      // Somebody answered, but nothing that names a device (a bad CRC, an
      // exception): the scan fails with what came back, as a poll of a
      // device address does, instead of passing for silence.
      if (found == 0)
        result = spoiled;
      break;
    }
    // Each record carries its address, area and frame size; these three
    // set nothing that outlasts them.
    case bcSetDeviceAddr:
    case bcSelectArea:
      r.Byte();
      break;
    case bcSetFrameSize:
      r.Word();
      break;
    case bcReadFileFrame: {
      const uint8_t file = r.Byte();
      const uint16_t frame = r.Word();
      Answer.append(char(file));
      AppendWord(Answer, frame);
      // A frame lost on the line is read again by the transport.
      QBuffer data;
      data.open(QIODevice::ReadWrite);
      if (FIO->ReadFileFrame(file, frame, frameSize, data))
        Answer.append(data.data());
      else
        result = Failure();
      break;
    }
    case bcWriteFileFrame: {
      const uint8_t file = r.Byte();
      const uint16_t frame = r.Word();
      Answer.append(char(file));
      AppendWord(Answer, frame);
      QByteArray bytes = r.Bytes(frameSize);
      QBuffer data(&bytes);
      data.open(QIODevice::ReadOnly);
      if (!FIO->WriteFileFrame(file, frame, data, frameSize))
        result = Failure();
      break;
    }
    case bcReadClock: {
      QDateTime dt;
      double value = 0.0;
      if (FIO->ReadClock(dt))
        value = QDateTimeToDateTime(dt);
      else
        result = Failure();
      uint64_t bits;
      std::memcpy(&bits, &value, sizeof bits);
      for (int i = 0; i < 8; ++i)
        Answer.append(char(bits >> (8 * i)));
      break;
    }
    case bcWriteClock: {
      const QByteArray bytes = r.Bytes(8);
      uint64_t bits = 0;
      for (int i = 7; i >= 0; --i)
        bits = (bits << 8) | uint8_t(bytes[i]);
      double value;
      std::memcpy(&value, &bits, sizeof value);
      if (!FIO->WriteClock(DateTimeToQDateTime(value)))
        result = Failure();
      break;
    }
    case bcSpecialCommand: {
      if (!guard()) {
        badGuard();
        break;
      }
      if (!FIO->SpecialCommand(FN_SPECIAL_COMMAND, r.Byte()))
        result = Failure();
      break;
    }
    default:
      flag = ErrorFlagUnknownCommand;
      break;
    }
  } catch (const std::exception &e) {
    // The command ends; the worker goes on with the next record.
    result.Status = oisUnknown;
    result.Cause = QString::fromUtf8(e.what());
    result.Code = QString::fromLatin1(LinkCodes::Failed);
  }
  if (command == bcScan || command == bcSetFrameSize)
    oi.ResetStatus();
  if (result.Status != 0)
    oi.GetComPort().Close();
  Answer[18] = char(flag);
  Answer[19] = char(result.Status);
  Result = std::move(result);
  Consumed = r.Consumed();
}

// ---------------------------------------------------------------- tool

TDeviceTool::TDeviceTool(TDeviceThread &AThread) : FThread(AThread) {}

TDeviceTool::~TDeviceTool() = default;

void TDeviceTool::Queue(const uint8_t *Data, int Count) {
  // Made with the first record rather than with the tool, so that the event
  // loop it needs is there by then.
  if (!FNotifier) {
    FNotifier = std::make_unique<QSocketNotifier>(FThread.NotifyHandle(), QSocketNotifier::Read);
    QObject::connect(FNotifier.get(), &QSocketNotifier::activated, FNotifier.get(), [this] { TakeAnswers(); });
  }
  FThread.Queue(Data, Count);
}

void TDeviceTool::Forget(TReplyId Id) { FThread.Forget(Id); }

void TDeviceTool::TakeAnswers() {
  FThread.AnswersWoken();
  // One at a time: a reply may run a nested event loop, which comes back here.
  QByteArray answer;
  QString cause, code;
  TForeignSigns signs = 0;
  // The answers of one wake-up and the records their replies send log in one write.
  TLogger::TBatch batch(Logger());
  while (FThread.TakeAnswer(answer, cause, code, signs))
    Deliver(answer, cause, code, signs);
}
