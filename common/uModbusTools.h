#pragma once
// Request and answer records between the IO chains (main thread) and the
// device worker, the cursor that walks an answer, and the worker with its
// front.
//
// Request record, little-endian, as laid out in memory:
//   0  u16  length of what follows this field (the worker's record boundary)
//   2  u32  id of the replying chain (a registered reply method of the front)
//   6  u32  a held record's connection: the number of the Modbus TCP
//           connection its chain's identity check ran on (TOI::Connection)
//   10 3    zero (room of the method pair; a pointer does not fit here on 64 bits)
//   13 u8   flags (RecordHoldsConnection)
//   14 u8   device address          15 u8 memory area (0: none, codes 03/06)
//   16 u16  frame size of a file-frame read or write
//   18 u8   batch command code      19 u8 tag (copied to the answer)
// The address, the area and the frame size are the record's own: the worker
// sets them up for each record and keeps none of them for the next, so no
// chain's setting reaches the records of another.
//   20 ...  payload of the command
// Answer record: request bytes 2..17, command, tag, error flag, status, payload;
// its bytes 4..7 hold the connection the request went over (0: none, the
// serial line, or no exchange), whatever the request held.
#include <QByteArray>
#include <QFile>
#include <QIODevice>
#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <deque>
#include <memory>
#include <thread>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <span>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "oi.h"
#include "uDateTime.h"
#include "uLogFile.h"

// Batch command codes: the program's own, not Modbus function codes.
enum TBatchCommand : uint8_t {
  bcNone = 0,            // 4 payload bytes, ignored
  bcReadRegisters = 1,   // N, N register words -> N, N (register, value) pairs
  bcWriteRegisters = 2,  // N, N (register, value) pairs -> N, N register words
  bcPoll = 7,            // guard, address -> guard, answering address, status byte
  bcScan = 8,            // guard, first, last -> guard, K, K (address, status byte)
  bcSetDeviceAddr = 9,   // address
  bcSelectArea = 15,     // area 1..4
  bcSetFrameSize = 16,   // size word
  bcReadFileFrame = 17,  // file, frame word -> file, frame word, frame data
  bcWriteFileFrame = 18, // file, frame word, frame data -> file, frame word
  bcReadClock = 33,      // -> 8-byte date-time
  bcWriteClock = 34,     // 8-byte date-time
  bcSpecialCommand = 35, // guard, command byte -> guard
};

// The request record's flag byte, and its flag: the exchange goes only over
// the Modbus TCP connection the record names at RecordConnectionAt
// (TOI::HoldConnection); gone or another, the record fails unsent.
constexpr int RecordFlagsAt = 13;
constexpr uint8_t RecordHoldsConnection = 0x01;
constexpr int RecordConnectionAt = 6;
// Where an answer record carries the connection its request went over.
constexpr int AnswerConnectionAt = 4;

// The guard of commands 7, 8 and 35: the two words 0xFF00, bytes 00 FF 00 FF.
constexpr uint16_t RecordGuardWord = 0xFF00;
// Answer status of a request whose guard words are wrong.
constexpr uint8_t StatusBadGuard = 0x40;
// Answer status of a held record not sent: the connection it was held to
// is gone, or another has been made since (its cause says which).
constexpr uint8_t StatusNotSent = 0x41;
// Error flag of an answer to a command code the worker does not know.
constexpr uint8_t ErrorFlagUnknownCommand = 0x80;

constexpr int RequestRecordSize = 2088;  // bytes, the length field included
constexpr int RequestHeadSize = 20;      // length, methods, command, tag
constexpr int AnswerHeadSize = 20;       // methods, command, tag, flag, status
constexpr int ResponseBufferSize = 2173; // the parser's buffer
// Where a request record carries its device address, memory area and frame size.
constexpr int RecordAddrAt = 14;
constexpr int RecordAreaAt = 15;
constexpr int RecordFrameSizeAt = 16;

// Command, tag, error flag and status of an answer (its bytes 16..19), and
// the connection its request went over (bytes 4..7; 0 when none).
struct TAnswerHead {
  uint8_t Command = 0;
  uint8_t Tag = 0;
  uint8_t ErrorFlag = 0;
  uint8_t Status = 0;
  uint32_t Connection = 0;
};

// Id of a registered reply method; 0 is never given out.
using TReplyId = uint32_t;

class TResponseParser;
// Called on the main thread with the parser standing at the first payload
// byte, the answer head and the parser's whole buffer.
using TReplyMethod =
    std::function<void(TResponseParser &Parser, const TAnswerHead &Head, std::span<const uint8_t> Data)>;

class TDeviceFront;

// Writes one request record at a time: StartRecord, Put..., Send.
class TRequestBuilder {
public:
  explicit TRequestBuilder(TDeviceFront &AOwner);

  // Starts a record. Throws EKvRange when the bytes after the length field
  // (18 + payload) would number more than 255.
  void StartRecord(TReplyId Reply, uint8_t Command, uint8_t Tag, std::span<const uint8_t> Payload);
  void StartRecord(TReplyId Reply, uint8_t Command, uint8_t Tag, std::initializer_list<uint8_t> Payload);
  // What the worker sets up for the record started last. StartRecord gives
  // it the owner's device address, no area and no frame size.
  void SetDeviceAddr(uint8_t Addr) { FBuffer[RecordAddrAt] = Addr; }
  void SetMemoryArea(uint8_t Area) { FBuffer[RecordAreaAt] = Area; }
  void SetFrameSize(uint16_t Size) {
    FBuffer[RecordFrameSizeAt] = uint8_t(Size);
    FBuffer[RecordFrameSizeAt + 1] = uint8_t(Size >> 8);
  }
  // Holds the record to connection Connection (TOI::Connection): it goes
  // over that one or not at all.
  void HoldConnection(uint32_t Connection) {
    FBuffer[RecordFlagsAt] |= RecordHoldsConnection;
    for (int i = 0; i < 4; ++i)
      FBuffer[RecordConnectionAt + i] = uint8_t(Connection >> (8 * i));
  }
  // Appends; each throws EKvRange beyond the record's 2088 bytes.
  void PutByte(uint8_t Value);
  void PutWord(uint16_t Value);   // low byte first
  void PutDword(uint32_t Value);  // lowest byte first
  // Overwrites one written byte (Index below the write index); throws EKvRange otherwise.
  void PutByteAt(uint8_t Value, int Index);
  // Appends Count bytes read from AStream's position; Count is first cut to
  // the stream's size. Throws EKvError "Stream read error" when fewer remain.
  void PutStream(QIODevice &AStream, qint64 Count);
  // Writes the length field and hands the record to the owner's SendArray.
  void Send();

  // The record written so far (for tests and the log).
  QByteArray Record() const;
  int WriteIndex() const { return FIndex; }

private:
  void Need(int Count);
  TDeviceFront &FOwner;
  uint8_t FBuffer[RequestRecordSize] = {};
  int FIndex = 0;
};

// The cursor over one answer. Reads ending at most two bytes past Count give
// what the buffer holds there (zero); further reads throw.
class TResponseParser {
public:
  TResponseParser();

  // Copies an answer into the buffer (Index 0); the buffer grows for answers
  // longer than its 2173 bytes so that no read leaves it.
  void Fill(const QByteArray &Answer);

  uint8_t ReadByte();
  uint16_t ReadWord();      // low byte first
  int32_t ReadInteger();    // lowest byte first
  uint32_t ReadDword();     // lowest byte first
  double ReadDouble();      // 8 bytes, IEEE little-endian
  // 7-byte device time; an empty or invalid record gives 2000-01-01 00:00.
  // All seven bytes are consumed either way.
  TDateTime ReadDate();
  void ReadBytes(void *Buffer, int Count);
  void ReadToStream(QIODevice &AStream, int Count);
  // Reads at Index (negative: the current one); Index is restored.
  int32_t ReadIntegerAt(int AIndex);
  TDateTime ReadDateAt(int AIndex);

  int Count() const { return FCount; }
  int Index() const { return FIndex; }
  void SetIndex(int Value) { FIndex = Value; }
  std::span<const uint8_t> Data() const { return {FBuffer.data(), FBuffer.size()}; }

private:
  const uint8_t *Take(int Size);
  std::vector<uint8_t> FBuffer;
  int FCount = 0;
  int FIndex = 0;
};

// Uppercase hexadecimal pairs, each followed by a blank: "17 00 01 ".
QString HexBytes(const uint8_t *Data, int Count);
inline QString HexBytes(const QByteArray &Data) {
  return HexBytes(reinterpret_cast<const uint8_t *>(Data.constData()), int(Data.size()));
}

// The main thread's side of the device link: request records go out through
// SendArray; answers come back through Deliver, which walks the head, logs the
// outcome and calls the reply method registered under the record's id. An
// answer whose id is no longer registered (its chain has ended) is dropped.
// Main thread only.
class TDeviceFront {
public:
  TDeviceFront();
  virtual ~TDeviceFront();
  TDeviceFront(const TDeviceFront &) = delete;
  TDeviceFront &operator=(const TDeviceFront &) = delete;

  // Queues one record. Throws EKvAssert "SendArray invalid count" for Count
  // above 65535.
  void SendArray(const uint8_t *Data, int Count);
  // Records sent whose answers have not been delivered yet: queued, under way
  // on the line (a Modbus TCP answer may take the whole TCP timeout) or
  // waiting for the main thread. The chain generator's IsBusy adds the
  // running chains to this; ask that one.
  bool HasOutstanding() const { return FOutstanding > 0; }
  // The device address of the chains that start from now on (each record
  // carries its chain's); a record started outside a chain gets it too.
  virtual void SetDeviceAddr(uint8_t Addr) { FDeviceAddr = Addr; }
  uint8_t DeviceAddr() const { return FDeviceAddr; }
  // The IO-error flag read by the ptIOError condition. Nothing sets it.
  uint8_t IOError() const { return FIOError; }

  TReplyId RegisterReply(TReplyMethod Method);
  void UnregisterReply(TReplyId Id);
  bool IsRegistered(TReplyId Id) const { return FReplies.count(Id) != 0; }

  TRequestBuilder &Builder() { return FBuilder; }
  TResponseParser &Parser() { return FParser; }
  // Expires when the front is destroyed, so that holders of a plain pointer
  // to it (chains, the generator) can tell.
  std::weak_ptr<const int> AliveToken() const { return FAlive; }

  // Hands one answer record to its reply method. Cause is the worker's
  // Russian text of a failure (uLinkText.h) and Code the log code of its
  // kind (LinkCodes); both empty on success. A failure is logged with its
  // code (found from the status and Cause when Code is empty) and its text
  // in the interface's language. Signs are those the record's exchange
  // saw; the sign handler hears each before the reply method runs.
  void Deliver(const QByteArray &Answer, const QString &Cause = QString(), const QString &Code = QString(),
               TForeignSigns Signs = 0);
  // Told on the main thread, inside Deliver and before the reply method runs,
  // of each sign the answer being delivered carries (a success too: a
  // reconnect that then worked), whether or not its chain still waits.
  void setOnForeignSign(std::function<void(TForeignSign Sign)> Handler) { FOnForeignSign = std::move(Handler); }
  // The failure of the answer being delivered as the engineer reads it, in
  // the interface's language (empty on success); valid inside a reply call.
  const QString &DeliveryText() const { return FDeliveryText; }
  // The connection the latest answer delivered that went over one came
  // over (0 before any). Set before the sign handler hears the answer's
  // signs. Answers come in the order the worker ran their records, so a
  // record held to another connection whose answer has not come yet was
  // not sent, and will not be.
  uint32_t LastConnection() const { return FLastConnection; }

protected:
  // Takes a copy of the record; called by SendArray.
  virtual void Queue(const uint8_t *Data, int Count) = 0;
  // Told when Id is unregistered: records of it not yet executed need not be.
  virtual void Forget(TReplyId) {}

private:
  TRequestBuilder FBuilder;
  TResponseParser FParser;
  std::unordered_map<TReplyId, TReplyMethod> FReplies;
  TReplyId FNextId = 1;
  uint8_t FIOError = 0;
  uint8_t FDeviceAddr = 0;
  int FOutstanding = 0;
  uint32_t FLastConnection = 0;
  QString FDeliveryText;
  std::function<void(TForeignSign)> FOnForeignSign;
  std::shared_ptr<const int> FAlive = std::make_shared<const int>(0);
};

class TDeviceIO;

// The device worker: one thread that owns the device operations (and through
// them the serial port or the socket) and executes the queued request records
// in order: every record queued when it wakes, as one run. Answers wait in a
// queue of their own until the main thread takes them (TDeviceTool, woken
// through NotifyHandle at the end of a run, every few answers and between
// chains, once for all the answers it has not yet taken); the
// worker never waits for that, so it cannot deadlock with a main thread that
// is stopping it. Every run is dumped to "debug.log"; it and the transport's
// trace are written through their buffers (TLogFile) when the worker goes
// idle, at least every 200 ms and at the end, and by the crash handler.
class TDeviceThread {
public:
  // Creates DebugLogName empty (a file already there kept as its generation
  // 1) and starts the thread at once. The transport traces to TraceFileName
  // ("" traces nothing).
  explicit TDeviceThread(const QString &DebugLogName = QStringLiteral("debug.log"),
                         const QString &TraceFileName = DefaultTraceFile());
  // Terminates and joins: waits at most for the exchange under way.
  ~TDeviceThread();
  TDeviceThread(const TDeviceThread &) = delete;
  TDeviceThread &operator=(const TDeviceThread &) = delete;

  static QString DefaultTraceFile();

  // Asks the thread to stop after the record under way; queued records are dropped.
  void Terminate();
  // Pause between scan requests in ms (command 8).
  void SetPollPause(int Value) { FPollPause = Value; }
  int PollPause() const { return FPollPause; }
  // Tries of one read lost on the line (register reads, polls of a known
  // address, file-frame reads), and ms between them: the transport's repeats.
  void SetErrorLimit(int Value);
  void SetErrorSleep(int Value);

  // The device operations. Their transport's setters are safe from the main
  // thread; exchanges belong to the worker.
  TDeviceIO &DeviceIO() { return *FIO; }

  // Appends one record to the request stream and wakes the thread. When a
  // record fails for the link (no connection, the connection lost, no
  // answer, the port not available), every record queued before that
  // failure is answered at once with the same failure and never sent: it
  // was asked of the device the link has lost, which may not be the one
  // that answers next.
  void Queue(const uint8_t *Data, int Count);
  // Takes the oldest answer not yet taken, with the cause of a failure, the
  // code of its kind for the log and the signs of another device its
  // exchange saw; false when there is none.
  bool TakeAnswer(QByteArray &Answer, QString &Cause, QString &Code, TForeignSigns &Signs);
  // A descriptor that turns readable when an answer is queued after the
  // last AnswersWoken (an eventfd).
  int NotifyHandle() const { return FNotifyFd; }
  // Resets NotifyHandle; the caller then takes every queued answer.
  void AnswersWoken();
  // Records of Id that the worker has not begun yet are answered at once,
  // with no exchange and status 0: their chain has ended; a register read of
  // Id under way asks for no further run. Every id forgotten counts until the
  // worker runs dry, whatever other chains end meanwhile.
  void Forget(TReplyId Id);

private:
  struct TStatus {
    uint8_t Status = 0;
    QString Cause;
    QString Code;
  };
  // An answer waiting for the main thread, with its failure's text and code.
  struct TPosted {
    QByteArray Answer;
    QString Cause;
    QString Code;
    TForeignSigns Signs = 0;
  };
  // Whether a failure is one of the link's rather than the device's answer.
  static bool IsLinkFailure(const TStatus &Result);
  class TReader;
  void Execute();
  void RunRecord(const QByteArray &Stream, QByteArray &Answer, TStatus &Result, int &Consumed);
  bool IsForgotten(const QByteArray &Record) const;
  TStatus Failure() const;
  // One line of the debug file: stamp, Head, Data in hexadecimal.
  void DebugLine(const char *Head, const QByteArray &Data);
  // Writes the debug file's and the trace's waiting lines. NowMs: the
  // clock's ms already read, or -1.
  void FlushDebug(int64_t NowMs = -1);
  static constexpr int DebugFlushMs = 200;
  // Queues an answer; wakes the main thread when Wake is set or WakeEvery
  // answers have come without a wake-up.
  void Post(TPosted Posted, bool Wake);
  static constexpr int WakeEvery = 8;
  // The reply id of the record at At of Stream; 0 when it is cut short.
  static TReplyId ReplyIdAt(const QByteArray &Stream, qsizetype At);
  // The connection number at At of a record (0 when it is cut short), and
  // the one an answer carries.
  static uint32_t ConnectionAt(const QByteArray &Record, int At);
  static void PutConnection(QByteArray &Answer, uint32_t Connection);

  // Writes out what the worker and the transport buffered while the worker
  // waits on a slow exchange.
  void RunDebugFlusher();

  std::unique_ptr<TDeviceIO> FIO;
  // A timed-out exchange holds the worker for seconds, so a thread of its
  // own writes the lines out meanwhile. FDebugLock guards its stop flag.
  std::mutex FDebugLock;
  std::condition_variable FDebugFlusherWake;
  bool FDebugFlusherStop = false;
  std::thread FDebugFlusher;
  TLogFile FDebug;
  // The worker's alone: the line being made, and when the files were last written.
  QByteArray FDebugLine;
  int64_t FDebugFlushedMs = 0;
  // The worker's alone: the stamp's date and time part and the second it stands for.
  char FStamp[48] = {};
  time_t FStampSecond = -1;
  mutable std::mutex FLock;     // guards FRequest, FTerminated, FForgotten, the wake
  std::condition_variable FWake;
  QByteArray FRequest;          // records not yet taken by the worker
  bool FTerminated = false;
  std::atomic<int> FPollPause{10};
  std::atomic<int> FErrorLimit{3};
  std::atomic<int> FErrorSleep{50};
  std::mutex FAnswerLock;       // guards FAnswers, FWakePending
  std::deque<TPosted> FAnswers;
  bool FWakePending = false;    // NotifyHandle is readable
  int FUnwoken = 0;             // answers queued since the last wake-up
  // Ids of ended chains whose records may still be queued; guarded by
  // FLock, emptied when the worker runs dry (no record of theirs is left).
  std::unordered_set<TReplyId> FForgotten;
  int FNotifyFd = -1;
  std::thread FThread;
};

class TDeviceTool : public TDeviceFront {
public:
  // AThread must outlive the tool.
  explicit TDeviceTool(TDeviceThread &AThread);
  ~TDeviceTool() override;
  TDeviceThread &Thread() { return FThread; }

protected:
  void Queue(const uint8_t *Data, int Count) override;
  void Forget(TReplyId Id) override;

private:
  void TakeAnswers();
  TDeviceThread &FThread;
  std::unique_ptr<QSocketNotifier> FNotifier; // main thread: the worker's answers are ready
};
