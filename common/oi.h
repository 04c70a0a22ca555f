#pragma once
// The Modbus master's transport: one request frame out, one answer back, and a
// status telling what went wrong. Modbus RTU runs over the serial port with a
// CRC-16 (low byte first on the wire); Modbus TCP runs over a plain socket with
// the MBAP header in place of the address check sum. Every frame is traced to
// a ".trc" file.
//
// Thread affinity: exchanges run on the device worker thread only. The setters
// may be called from the main thread at any time (they take effect at the next
// exchange); GetStatus and IsPortOpen may be read from any thread.
#include "uComPort.h"
#include "uLogFile.h"

#include <QByteArray>
#include <QFile>
#include <QIODevice>
#include <QString>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>

// Status of the last exchange; the values travel in answer records, so they are fixed.
enum TOIStatus : uint8_t {
  oisReady = 0,         // exchange succeeded
  oisUnknown = 1,       // initial; Modbus TCP not connected, failed or timed out
  oisBadPort = 2,       // the serial port could not be opened
  oisBadCO = 3,         // set by no operation
  oisBadCI = 4,         // the answer did not arrive complete
  oisProtocolError = 5, // the answer does not belong to the request
  oisBadCRC = 6,        // the answer's CRC-16 is wrong
  oisErrorFlag = 7,     // the device answered with a Modbus exception
};

// "oisReady" ... "oisErrorFlag" for 0 to 7; other values (device exception codes
// above 7, guard failures) give "status " and the value in decimal.
QString OIStatusName(int Status);

class TTcpClient;

// The wait for each unit of a Modbus TCP scan over a range: a silent unit
// must not cost the whole TCP timeout (247 of them would block the link for
// minutes), while a device or gateway answers a poll well within it.
constexpr int TcpScanUnitMs = 300;

// Both frame buffers hold at most this many bytes (CRC included).
constexpr int OI_BUFFER_SIZE = 2551;

// The Modbus exception "slave device busy": the device asks to be asked again.
constexpr uint8_t MB_EXCEPTION_BUSY = 0x06;
// The Modbus exceptions "illegal data address" and the gateway's "path
// unavailable" and "target device failed to respond".
constexpr uint8_t MB_EXCEPTION_ILLEGAL_ADDRESS = 0x02;
constexpr uint8_t MB_EXCEPTION_GATEWAY_PATH = 0x0A;
constexpr uint8_t MB_EXCEPTION_GATEWAY_TARGET = 0x0B;

// Why another device than the one identified may be answering.
enum class TForeignSign : uint8_t {
  Reconnect,      // the TCP connection was made again inside an exchange (not the first connect
                  // after a link setting changed, not the connect after an explicit close by a
                  // link change)
  GatewayPath,    // exception 0A
  GatewayTarget,  // exception 0B
  WrongAnswer,    // an answer from another unit, or with another function code
  IllegalAddress, // exception 02 to a register read or write
};
// A set of TForeignSign, one bit each (ForeignSignBit).
using TForeignSigns = uint8_t;
constexpr TForeignSigns ForeignSignBit(TForeignSign Sign) { return TForeignSigns(1u << unsigned(Sign)); }
constexpr TForeignSign AllForeignSigns[] = {TForeignSign::Reconnect, TForeignSign::GatewayPath,
                                            TForeignSign::GatewayTarget, TForeignSign::WrongAnswer,
                                            TForeignSign::IllegalAddress};

// RTU pacing: the time Bytes need on the line at Baud, 10 bit times per byte, in
// ms taken to the nearest integer (ties to even). 8 + 7 bytes at 38400 give 4.
int RtuLineTimeMs(int Bytes, int Baud);

class TOI {
public:
  enum TProtocol { prModbusRtu = 0, prModbusTcp = 1 };

  // Creates the trace file TraceFileName empty, a file already there kept as
  // its generation 1 (TLogFile); an empty name traces nothing. Status oisUnknown.
  explicit TOI(const QString &TraceFileName = DefaultTraceFileName());
  ~TOI();
  TOI(const TOI &) = delete;
  TOI &operator=(const TOI &) = delete;

  // The program's name with ".trc" in the current folder; from the second call
  // in one run the call number (1, 2, ...) follows ".trc".
  static QString DefaultTraceFileName();

  // The request without its CRC, and the expected answer length in bytes with
  // the CRC (on Modbus TCP the answer is two bytes shorter). The rest of the
  // buffer is zeroed. Throws EKvRange when the frame with its CRC or the
  // expected answer would exceed OI_BUFFER_SIZE.
  void SetRequest(const uint8_t *Frame, int Count, int Expected);
  void SetRequest(const QByteArray &Frame, int Expected) {
    SetRequest(reinterpret_cast<const uint8_t *>(Frame.constData()), int(Frame.size()), Expected);
  }
  // Appends Count bytes from AStream's position; when the stream holds fewer,
  // the rest stays zero. Throws EKvRange past the buffer.
  void AppendRequest(QIODevice &AStream, int Count);
  // SetRequest, then Transact.
  bool Request(const QByteArray &Frame, int Expected);
  // One exchange on the current protocol. True on oisReady; else the status
  // says what failed. The answer buffer is cleared first, so nothing of an
  // earlier answer can be read after a failure. Never throws for a line or
  // device fault. AnyAddress accepts an answer from any address (unit), as a
  // poll does: a device polled at 255 answers from its own.
  bool Transact(bool AnyAddress = false);
  // What a repeatable exchange tries again after a failed try.
  enum TRepeatRule {
    // The line lost or spoiled the answer: a time-out, a short answer, a bad
    // CRC or a lost Modbus TCP connection.
    rrLostAnswer,
    // Those, and the device's exception 06 (busy: it asks to be asked
    // again), on both links: a gateway passes a busy relay's 06 on.
    rrBusy,
    // On the serial line every failed try, whatever failed (a file frame);
    // on Modbus TCP as rrBusy.
    rrAnyFailure,
  };
  // Transact for a read, which may be repeated by Rule, up to the tries of
  // SetRepeats with its pause between, each noted in the application log.
  // On Modbus TCP a lost answer is asked again on a fresh connection, a busy
  // one on the same (its stream is in step). Check, when given, judges an
  // answer that passed the transport's checks (an echo): false, with the
  // status it set, makes that try a failed one. Outside rrAnyFailure a
  // connection or port that cannot be opened, an exception other than busy
  // and a wrong answer are not repeated.
  bool TransactRepeatable(bool AnyAddress = false, TRepeatRule Rule = rrLostAnswer,
                          const std::function<bool()> &Check = {});
  // Tries of a repeatable exchange (at least 1) and ms between them. Any thread.
  void SetRepeats(int Tries, int PauseMs);
  // Held: the exchanges from now on go only over the Modbus TCP connection
  // numbered Connection (Connection(), as its check's answers came over it).
  // One that finds that connection gone (lost, or closed by a failed try)
  // fails unsent with the lost connection's text; one that finds another
  // open (made anew by any exchange since) fails unsent with
  // LinkTexts::NotSentReconnected. Neither is tried again (NotSent), so
  // that nothing of a write goes over a connection whose device has not
  // been checked on it, whoever made it. No effect on the serial line.
  // Worker thread.
  void HoldConnection(bool Held, uint32_t Connection = 0) {
    FHeld = Held;
    FHeldConnection = Connection;
  }
  // The number of the Modbus TCP connection open now: every connection the
  // transport makes is numbered anew, counting up from 1; 0 while none is
  // open and on the serial line (a serial port closed when idle and opened
  // again is the same line). Worker thread.
  uint32_t Connection() const;
  // The connection the exchanges since the last call went over (the last
  // one's, 0 when none was sent); reset to 0. Worker thread.
  uint32_t TakeExchangeConnection() { return std::exchange(FExchangeConnection, 0u); }
  // The last exchange failed without its request being sent: its held
  // connection was gone or another (HoldConnection). Worker thread.
  bool NotSent() const { return FNotSent; }
  // Repeatable exchanges make no further tries from now on (the worker is
  // stopping). Any thread.
  void CancelRepeats() { FRepeatsCancelled = true; }

  // Address scan. Serial: one "Read Exception Status" request (address, 0x07)
  // to each address from First to Last, PauseMs after each, no answer read;
  // false when a request could not be written whole. Modbus TCP: each address
  // is polled in turn on one connection, each waited for TcpScanUnitMs when
  // the scan covers a range (the TCP timeout for a single address), and the
  // answers are kept for ReceiveScanAnswer; false when nobody listens.
  bool SendScan(uint8_t First, uint8_t Last, int PauseMs);
  // Takes the next scan answer (Expected 5 on the serial line, CRC included)
  // into the answer buffer and checks it against the scan request, any address
  // accepted. False (oisBadCI) when no further answer is there.
  bool ReceiveScanAnswer(int Expected);

  // The answer of the last exchange; on RTU it ends with the CRC, on Modbus
  // TCP it starts at the unit identifier (the MBAP header is not kept).
  const uint8_t *GetAnswer() const { return FAnswer; }
  int GetReceived() const { return FReceived; }
  const uint8_t *GetRequest() const { return FRequest; }
  int GetRequestLength() const { return FRequestLen; }
  // Compares answer bytes From .. From + Count - 1 with the same request bytes
  // (a write's echo); on a difference the status becomes oisProtocolError.
  bool CheckEcho(int From, int Count);

  // The signs of another device seen by the exchanges since the last call
  // (the tries of a repeat included); the set is emptied. Worker thread.
  TForeignSigns TakeSigns();
  // Notes a sign the caller found in an answer (an exception 02 to a
  // register request). Worker thread.
  void NoteSign(TForeignSign Sign) { FSigns |= ForeignSignBit(Sign); }

  TOIStatus GetStatus() const { return FStatus.load(); }
  // The last failed exchange as the engineer reads it, in Russian (one of
  // the texts of uLinkText.h with its arguments); empty after a success.
  // Worker thread.
  QString FailureText() const;
  // The same failure's code of its kind for the log (LinkCodes, or
  // DeviceErrorCode for an exception); empty after a success. Worker thread.
  QString FailureCode() const;
  void ResetStatus() { FStatus = oisReady; }
  // For the device operations' own answer checks (a byte count that does not
  // match its request).
  void SetStatus(TOIStatus Value) { FStatus = Value; }
  bool IsPortOpen() const { return FComPort.IsOpen(); }
  // The serial port: the worker closes it when idle, the main window renames it
  // and changes its baud rate. Its operations are safe from any thread.
  TComPort &GetComPort() { return FComPort; }

  // ms slept before each serial request (com/SleepBefore, default 0).
  void SetSleepBefore(int Value);
  // ms allowed for the rest of a serial answer (com/Timeout, default 50).
  void SetTimeout(int Value);
  // ms allowed for connecting and for each Modbus TCP answer (default 2000).
  void SetTcpTimeout(int Value);
  // prModbusRtu or prModbusTcp; other values act as prModbusRtu.
  void SetProtocol(int Value);
  int GetProtocol() const;
  // Modbus TCP target (modbustcp/host, default "localhost"; modbustcp/port,
  // default 2001). A changed target (or protocol) is connected at the next
  // exchange, afresh: that first connect is no sign of another device.
  void SetHost(const QString &Value);
  void SetPort(int Value);
  // Where the exchanges go now, as one text: "tcp:HOST:PORT" or "rtu:PORT"
  // (the serial port's name). Any thread.
  QString RouteText() const;
  // Kept for the main window's settings (com/loopCount, modbustcp/frameSizeCmd);
  // no exchange uses them.
  void SetLoopCount(int Value);
  void SetFrameSizeCmd(bool Value);

  // Held: trace records wait until FlushTrace (or a crash) instead of being
  // written one by one; for the worker, which writes them out when it goes
  // idle and at least every 200 ms. Set before the first exchange.
  void HoldTrace(bool Held) { FTraceHeld = Held; }
  // Writes the waiting trace records now. Any thread.
  void FlushTrace() { FTrace.Flush(); }

private:
  struct TConfig {
    int SleepBefore = 0;
    int Timeout = 50;
    int TcpTimeout = 2000;
    int Protocol = prModbusRtu;
    QString Host = QStringLiteral("localhost");
    int Port = 2001;
    // Counts the changes of protocol, host and port.
    uint64_t Target = 0;
  };
  TConfig Config() const;

  bool EnsurePortOpen();
  bool RtuTransact(const TConfig &Cfg, bool AnyAddress);
  void SettleLine(const TConfig &Cfg);
  // Reads for Cfg.Timeout ms; false (and the line unsettled) as soon as a byte comes.
  bool LineStaysSilent(const TConfig &Cfg);
  bool SerialExchange(const TConfig &Cfg);
  bool CheckRtuAnswer(bool Complete, bool AnyAddress);
  bool CheckPdu(int Length, int Expected, bool AnyAddress);
  bool TcpTransact(const TConfig &Cfg, bool AnyAddress);
  bool TcpScan(const TConfig &Cfg, uint8_t First, uint8_t Last);
  // Connects unless connected; a new connection made while the target has
  // stayed the same is noted as TForeignSign::Reconnect when NoteReconnect.
  bool ConnectTcp(const TConfig &Cfg, bool NoteReconnect);
  // After a finished exchange: the signs its answer carries.
  void NoteAnswerSigns();
  // The answer failed its check for coming from another unit or function.
  bool IsForeignAnswer() const;
  bool AnswerFromOtherAddress() const;
  bool AnswerWithOtherFunction() const;
  bool CannotConnect(const TConfig &Cfg);
  // Fails with the status and the text of a lost Modbus TCP connection.
  bool ConnectionLost(const TConfig &Cfg, TOIStatus Status);
  // A held exchange fails unsent: Text says why; not tried again.
  bool HeldNotSent(const QString &Text, const char *Trace);
  bool IsRepeatable(TRepeatRule Rule) const;
  void ClearAnswer();
  void Trace(const QString &Tag, const uint8_t *Data = nullptr, int Count = 0);

  TComPort FComPort;
  uint8_t FRequest[OI_BUFFER_SIZE] = {};
  int FRequestLen = 0;
  uint8_t FAnswer[OI_BUFFER_SIZE] = {};
  int FExpected = 0;
  int FReceived = 0;
  int FWritten = 0;
  std::atomic<TOIStatus> FStatus{oisUnknown};
  // A failure text with arguments (port, host); the others follow from the status.
  QString FFailureText;
  bool FCannotConnect = false;
  // The last exchange took an answer from any address (a poll of 255, a scan).
  bool FAnyAddress = false;
  TForeignSigns FSigns = 0;
  bool FHeld = false;     // HoldConnection
  uint32_t FHeldConnection = 0;
  bool FHeldGone = false; // the last connect found the held connection gone
  bool FNotSent = false;  // NotSent
  // The connections made so far (the newest one's number), the number of
  // the one FTcp holds, and the one the last exchange went over.
  uint32_t FConnections = 0;
  uint32_t FOpenConnection = 0;
  uint32_t FExchangeConnection = 0;
  // The target the worker last acted on (TConfig::Target), and whether it
  // has been connected since it was set.
  uint64_t FSeenTarget = UINT64_MAX;
  bool FTargetConnected = false;
  std::atomic<int> FRepeatTries{3};
  std::atomic<int> FRepeatPauseMs{50};
  std::atomic<bool> FRepeatsCancelled{false};
  // The last serial exchange ended without a whole answer, so that answer may
  // still be on its way: the next one waits for the line to fall silent.
  bool FLineUnsettled = false;

  mutable std::mutex FConfigLock;
  TConfig FConfig;
  int FLoopCount = 5;
  bool FFrameSizeCmd = false;

  TLogFile FTrace;
  bool FTraceHeld = false;
  // The record being made, and the stamp's "hh:nn:ss." for FTraceSecond.
  QByteArray FTraceLine;
  time_t FTraceSecond = -1;
  char FTraceHead[16] = {};

  // The blocking client socket of Modbus TCP; connected at the first exchange.
  std::unique_ptr<TTcpClient> FTcp;
  // Modbus TCP scan answers waiting for ReceiveScanAnswer.
  std::deque<QByteArray> FScanAnswers;
  // Transaction identifier of the last scan request: scan requests carry
  // their own, so that the late answer of a silent unit is told apart.
  uint16_t FScanTransaction = 0;
};
