#pragma once
// IO chains: scripts of steps that a page builds in one fluent expression and
// then runs. Local steps run at once on the main thread; a device step sends
// request records through the device front and the chain waits until the
// answer comes back (onReceive). Main thread only.
//
// Ownership: the generator owns every chain it made until the chain has ended
// and been deleted from the event loop, so a chain never frees itself on its
// own stack and none is left behind when the generator goes. Variables,
// streams and lists given to builders belong to the caller and must outlive
// the chain: a page's chain takes them from the chain's own storage (Buffer,
// Keep), names the page (ownedBy) and reaches the page only through a
// guarded continuation (Guarded), so that a page closed meanwhile leaves the
// chain nothing freed.
#include "uUnitIdentity.h"

#include <QBuffer>
#include <QFile>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "uModbusTools.h"

class TLogger;
class TIOChain3;
class TIOChainList3;
class TIOChainGen;

// The step kind; its ordinal is the step's FType.
enum TChainType : uint8_t {
  ctPoll, ctScan, ctPredicat, ctMsg, ctInc, ctMult, ctExec, ctMethod, ctReadFile, ctWriteFile,
  ctCompareFile, ctReadFlash, ctReadReg, ctReadSram, ctReadTime, ctWriteTime, ctWriteReg,
  ctSetDeviceAddr, ctSetFrameSize, ctSpecCmdOn, ctSpecCmdModbusOn, ctSpecCmdOff, ctSleep,
};
constexpr int ChainTypeCount = 23;

// The condition of a ctPredicat step.
enum TPredicatType : uint8_t { ptIf, ptIfExpr, ptFileExists, ptIOError };

// "ctReadReg", "ptIfExpr", ...; "" outside the enumeration.
QString ChainTypeName(int Type);
QString PredicatTypeName(int Type);

// 2000-01-01 00:00:00: the oldest valid stamp of device files.
extern const TDateTime ChainBaseDate;

using TChainMessageEvent = std::function<void(const QString &Text)>;
// Colour 0 means the receiver's default; chains always pass 0.
using TChainProgressEvent = std::function<void(int Position, int Max, uint32_t Color)>;
using TChainStepEvent = std::function<void(TIOChain3 *AStep, const QList<int> &Args)>;
// Device addresses found by poll and scan.
using TAddrList = QList<int>;

// The base of every step. Bare steps serve the kinds that carry no data
// (ctSpecCmdOn, ctSpecCmdModbusOn, ctSpecCmdOff, ctSleep).
class TIOChain3 {
public:
  TIOChain3(TIOChainList3 *AOwner, TChainType AType);
  virtual ~TIOChain3();
  TIOChain3(const TIOChain3 &) = delete;
  TIOChain3 &operator=(const TIOChain3 &) = delete;

  TIOChainList3 *FOwner;
  uint8_t FType;
  int FTag = 0;
  // The identity check of a writing chain goes right before this step
  // (TIOChainList3::checkBefore).
  bool FCheckBefore = false;

protected:
  friend class TIOChainList3;
  // Runs the step when the chain reaches it: true when done, false when it
  // waits (it has sent a record, or started a timer).
  virtual bool Run();
  // Digests one answer of this step: true when done, false when it has sent
  // the next record of the same step.
  virtual bool Reply(TResponseParser &Parser, const TAnswerHead &Head);
  // Helpers of device steps: a record of this chain, sent through the front.
  TRequestBuilder &Start(uint8_t Command, uint8_t Tag, std::initializer_list<uint8_t> Payload);
  void Send();
  void Debug(const QString &Text) const;
};

class TIOChain3poll : public TIOChain3 {
public:
  using TIOChain3::TIOChain3;
  uint8_t FAddr = 0;
  uint8_t FFirstAddr = 0;
  uint8_t FLastAddr = 0;
  TAddrList *FList = nullptr; // not owned

protected:
  bool Run() override;
  bool Reply(TResponseParser &Parser, const TAnswerHead &Head) override;
};

class TIOChain3predicat : public TIOChain3 {
public:
  using TIOChain3::TIOChain3;
  uint8_t FPredicatType = ptIf;
  std::unique_ptr<TIOChainList3> FThen; // branch lists, moved into the chain when chosen
  std::unique_ptr<TIOChainList3> FElse;
  int FVal = 0;
  const TAddrList *FList = nullptr; // not owned
  QString FFileName;
  QString FOp;
  int FA = 0;
  int FB = 0;

protected:
  bool Run() override;
};

class TIOChain3exec : public TIOChain3 {
public:
  using TIOChain3::TIOChain3;
  std::function<void()> FProc;
  std::function<void(const QList<int> &Args)> FProcInts;
  std::function<void(const QStringList &Args)> FProcStrings;
  std::function<void(QIODevice *AStream)> FProcStream;
  TChainStepEvent FProcNext;
  QList<int> FInts;
  QStringList FStrings;
  QIODevice *FStream = nullptr; // not owned

protected:
  bool Run() override;
};

class TIOChain3execMethod : public TIOChain3 {
public:
  using TIOChain3::TIOChain3;
  QPointer<QObject> FObject; // a page that closes before the step runs is noticed
  QString FMethod;

protected:
  bool Run() override;
};

class TIOChain3inc : public TIOChain3 {
public:
  using TIOChain3::TIOChain3;
  int *FPval = nullptr;
  int FDelta = 0;

protected:
  bool Run() override;
};

class TIOChain3msg : public TIOChain3 {
public:
  using TIOChain3::TIOChain3;
  QString FText;

protected:
  bool Run() override;
};

class TIOChain3mult : public TIOChain3 {
public:
  using TIOChain3::TIOChain3;
  const int *FPOp1 = nullptr;
  int FPOp2 = 0;
  int *FPResult = nullptr;

protected:
  bool Run() override;
};

// Device file transfer (frames of command 17 and 18). The transfer itself
// lives in uIOChainFile.cpp; here are the fields and setters pages use.
class TIOChain3readFile : public TIOChain3 {
public:
  using TIOChain3::TIOChain3;
  uint8_t FFileNo = 0;
  QString FFileName;
  uint8_t FFileTtype = 0;
  uint16_t FFrameFirst = 0;
  uint16_t FFrameLast = 0;
  uint16_t FFrameLimit = 0;
  TDateTime FLastTime = 0.0;
  std::unique_ptr<QFile> FStream; // owned; closed when the step goes
  int FRemaining = 0;
  uint8_t FDigest[16] = {};
  // The bytes received so far; the local file is saved whole when the step
  // is done, so a broken transfer leaves the previous copy as it was.
  QByteArray FData;
  uint16_t FAsked = 0; // the frame whose answer the step waits for

  void setFrameFirst(uint16_t Value) { FFrameFirst = Value; }
  void setFrameLast(uint16_t Value) { FFrameLast = Value; }
  void setFrameLimit(uint16_t Value) { FFrameLimit = Value; }
  void setLastTime(TDateTime Value) { FLastTime = Value; }

protected:
  bool Run() override;
  bool Reply(TResponseParser &Parser, const TAnswerHead &Head) override;
};

class TIOChain3writeFile : public TIOChain3 {
public:
  using TIOChain3::TIOChain3;
  uint8_t FFileNo = 0;
  QString FFileName;
  uint8_t FFileTtype = 0;
  uint16_t FFrameFirst = 0;
  uint16_t FFrameLast = 0;
  std::unique_ptr<QFile> FStream; // owned
  uint16_t FAsked = 0; // the frame whose answer the step waits for

  void setFrameFirst(uint16_t Value) { FFrameFirst = Value; }
  void setFrameLast(uint16_t Value) { FFrameLast = Value; }

protected:
  bool Run() override;
  bool Reply(TResponseParser &Parser, const TAnswerHead &Head) override;
};

class TIOChain3readFlash : public TIOChain3 {
public:
  using TIOChain3::TIOChain3;
  const uint16_t *FPAddr = nullptr;
  uint8_t FByteCount = 0;
  uint8_t *FPResult8 = nullptr;   // FByteCount 1: the value's low byte
  uint16_t *FPResult16 = nullptr; // FByteCount 2
  const int *FPCount = nullptr;
  QBuffer *FStream = nullptr; // not owned

protected:
  bool Run() override;
  bool Reply(TResponseParser &Parser, const TAnswerHead &Head) override;
};

// Register reads (ctReadReg, ctReadSram share the records) and writes
// (ctWriteReg). A read keeps up to ReadsInFlight records queued, so that the
// worker never waits for the main thread between them; answers come in
// request order. The first failed answer ends the chain, and the answers
// behind it are dropped with it: no value of theirs is stored.
class TIOChain3readReg : public TIOChain3 {
public:
  using TIOChain3::TIOChain3;
  static constexpr int ReadsInFlight = 8;
  QIODevice *FRequest = nullptr; // not owned
  QBuffer *FResult = nullptr;    // not owned; the data stream of a write

protected:
  bool Run() override;
  bool Reply(TResponseParser &Parser, const TAnswerHead &Head) override;
  void SendNext();
  // Sends reads while registers remain and fewer than ReadsInFlight are out.
  void SendReads();
  int FInFlight = 0; // read records sent whose answers have not come
};

class TIOChain3readSram : public TIOChain3readReg {
public:
  using TIOChain3readReg::TIOChain3readReg;
};

// Clock read (ctReadTime) and write (ctWriteTime).
class TIOChain3readTime : public TIOChain3 {
public:
  using TIOChain3::TIOChain3;
  int FValue = 0;               // kept, read by no step
  QBuffer *FStream = nullptr;   // not owned

protected:
  bool Run() override;
  bool Reply(TResponseParser &Parser, const TAnswerHead &Head) override;
};

class TIOChain3setDeviceAddr : public TIOChain3 {
public:
  using TIOChain3::TIOChain3;
  const TAddrList *FList = nullptr; // not owned

protected:
  bool Run() override;
};

class TIOChain3setFrameSize : public TIOChain3 {
public:
  using TIOChain3::TIOChain3;
  uint16_t FFrameSize = 0;
  void setFrameSize(uint16_t Value) { FFrameSize = Value; }

protected:
  bool Run() override;
};

// A poll (the title panel's) checks the relay's identity at least this often.
constexpr int PollCheckMaxAgeMs = 10000;

// Texts of the write gate.
namespace WriteTexts {
// What a chain writes when it does not say.
inline const char *const WritesDefault = "изменения для устройства";
// The box: what was not written, then why.
inline const char *const NotWritten = "Не записано: %1";
inline const char *const PreparedForOther =
    "Идентификация устройства сменилась после того, как запись была подготовлена";
inline const char *const AnotherWriteRuns = "Запись не выполнена: выполняется другая запись";
// The unit answering is not the one the write was made for.
inline const char *const MadeForOther = "Отвечает другое устройство: запись подготовлена не для него";
} // namespace WriteTexts

// The step as a read-file step; throws EKvError "TIOChain3readFile expected".
TIOChain3readFile *CastIOChain3readFile(TIOChain3 *AObject);

// Whether Text (as a failed answer's status shows it, in Russian or in the
// interface's language) says the link itself failed: no connection, a lost
// connection, no answer, or a port that is not available. An answer that
// came spoiled or a device's exception is not such a failure.
bool IsLinkLossText(const QString &Text);

class TIOChainList3 {
public:
  ~TIOChainList3();
  TIOChainList3(const TIOChainList3 &) = delete;
  TIOChainList3 &operator=(const TIOChainList3 &) = delete;

  // Builders: each appends one step and returns the chain.
  TIOChainList3 &exec(std::function<void()> AProc);
  TIOChainList3 &execInts(std::function<void(const QList<int> &)> AProc, const QList<int> &Args);
  // Args is comma-separated text: double quotes quote, an unquoted item also
  // ends at a blank or control character, blanks before an item are skipped.
  TIOChainList3 &execStrings(std::function<void(const QStringList &)> AProc, const QString &Args);
  TIOChainList3 &execStream(std::function<void(QIODevice *)> AProc, QIODevice *AStream);
  // AProc gets the step that follows this one, so that it can adjust it.
  TIOChainList3 &execNext(TChainStepEvent AProc, const QList<int> &Args);
  // Calls AObject's Q_INVOKABLE or slot AMethodName() by name.
  TIOChainList3 &execMethod(QObject *AObject, const QString &AMethodName);
  TIOChainList3 &inc(int &Var, int Delta);
  TIOChainList3 &mult(const int &Op1, int Op2, int &Result);
  TIOChainList3 &msg(const QString &Text);
  // Pauses the chain for Ms milliseconds without blocking the event loop.
  TIOChainList3 &sleep(int Ms);
  // Branch lists come from newList of the same generator and are taken over by
  // the step (nullptr: no branch). Kind is checked: "ptIf expected" etc.
  TIOChainList3 &predicatIf(TPredicatType Kind, int Val, TIOChainList3 *ThenSteps, TIOChainList3 *ElseSteps);
  TIOChainList3 &predicatIfList(TPredicatType Kind, const TAddrList &AList, TIOChainList3 *ThenSteps,
                                TIOChainList3 *ElseSteps);
  TIOChainList3 &predicatIfExpr(TPredicatType Kind, const QString &Op, int A, int B, TIOChainList3 *ThenSteps,
                                TIOChainList3 *ElseSteps);
  TIOChainList3 &predicatFileExists(TPredicatType Kind, const QString &FileName, TIOChainList3 *ThenSteps,
                                    TIOChainList3 *ElseSteps);
  TIOChainList3 &predicatIOError(TPredicatType Kind, TIOChainList3 *ThenSteps, TIOChainList3 *ElseSteps);
  TIOChainList3 &poll(uint8_t Addr, TAddrList &AList);
  TIOChainList3 &scan(uint8_t FirstAddr, uint8_t LastAddr, TAddrList &AList);
  // One FLASH word: its low byte into a byte, or the whole word.
  TIOChainList3 &readFlash(const uint16_t &Addr, uint8_t &Result);
  TIOChainList3 &readFlash(const uint16_t &Addr, uint16_t &Result);
  TIOChainList3 &readFlashStream(const uint16_t &Addr, const int &Count, QBuffer &AStream);
  // ARequest holds little-endian register numbers: a stream of odd size is
  // refused here (EKvRange) and again when the step runs, as it may be
  // filled in between.
  TIOChainList3 &readReg(QIODevice &ARequest, QBuffer &AResult);
  TIOChainList3 &writeReg(QBuffer &AData);
  TIOChainList3 &readSram(QIODevice &ARequest, QBuffer &AResult);
  TIOChainList3 &readTime(int Value, QBuffer &AResult);
  TIOChainList3 &writeTime(QBuffer &AData);
  TIOChainList3 &specCmd(TChainType Kind);
  TIOChainList3 &setDeviceAddr(const TAddrList &AList);
  // Throws EKvRange for 0: no frame of a file could ever be moved.
  TIOChainList3 &setFrameSize(uint16_t FrameSize);
  TIOChainList3 &readFile(uint8_t FileNo, uint8_t FileType, const QString &FileName);
  TIOChainList3 &writeFile(uint8_t FileNo, uint8_t FileType, const QString &FileName);
  TIOChainList3 &compareFile(uint8_t FileNo, uint8_t FileType, const QString &FileName);

  // The identity check of this writing chain goes right before the next
  // step appended, also when that step writes nothing: a write decided
  // against values it read checks after those reads and before they enter
  // the register image, and before the read of a word a masked write merges.
  // Without it, the check goes right before the first write step (register,
  // clock or file write, special command; in a branch once it is taken).
  TIOChainList3 &checkBefore();
  // Steps (a new chain of the same generator, taken over) run as steps of
  // this chain when it ends short once its write has begun (WriteBegan: a
  // failed answer, an abort, an answer's step failing, CutWrite): the
  // read-back of what was written. The failure is told and the error or
  // abort handler runs at the failure, before them; the chain stays the
  // running write until they end, and its end handler runs after them. A
  // failure among them ends them without a word: Failure() tells the first.
  TIOChainList3 &afterFailure(TIOChainList3 &Steps);

  // A read the engineer asks for (or a poll, with MaxAgeMs above 0): the
  // generator's read gate may put the identity check before its first step,
  // as the write gate puts it before a write (for a poll only when the last
  // check passed MaxAgeMs or more ago). A failed answer to the check fails
  // the chain as its own read would, through its handlers; another relay
  // found refuses it, nothing of it shown. A chain that writes ignores it.
  TIOChainList3 &checkedRead(int MaxAgeMs = 0);
  int ReadCheckMaxAgeMs() const { return FReadCheckMaxAgeMs; }
  // Its records from the check on go only over the connection the check
  // passed on: a write's, once the check its gate put has passed (its
  // read-back after a failure too), and a read's after the check put before
  // it. A Modbus TCP connection lost meanwhile fails them unsent; none is
  // made anew for them.
  bool HoldsConnection() const;
  // Marks the record being built for this chain as HoldsConnection says.
  void MarkRecord(TRequestBuilder &Builder) const;

  // Kind 0 sets the abort handler, 1 the error handler; others are ignored.
  TIOChainList3 &setEvent(uint8_t Kind, TChainStepEvent AEvent);
  // Called once when the chain has ended, whatever ended it (its last step,
  // an abort, a device or protocol error, a failing local step), except a
  // refusal (Refuse). It must not throw.
  TIOChainList3 &setOnEnd(std::function<void()> AEvent);

  // The chain writes to the device from its current step on: a register,
  // clock or file write or a special command, in a branch too.
  bool WritesToDevice() const;
  // Ends the chain where it stands with Text in the status line (a write's
  // report when the write gate has seen it); its end, abort and error
  // handlers are not called, as none of its own steps has run when the
  // write gate refuses it (or the steps put before it do).
  void Refuse(const QString &Text);
  // The steps of Steps (a new chain of the same generator, taken over) run
  // before the step this chain stands at; only while it waits for nothing.
  // A failed answer to one of them refuses the chain (RefuseWrite with the
  // failure's text) instead of ending it through its own handlers; Steps'
  // error handler (setEvent 1) is told first, and may refuse it otherwise.
  TIOChainList3 &Precede(TIOChainList3 &Steps);
  bool IsRefused() const { return FRefused; }
  // The identity check has passed and the step it stood before has begun:
  // from here on the chain may have changed the device.
  bool WriteBegan() const { return FWriteBegan; }
  // The write ended short without a failed answer (a value the relay did not
  // keep): Failure() tells Text unless it tells a failure already. A write
  // chain ended short exactly when Failure() is not empty as it ends.
  void MarkShort(const QString &Text);
  // Refuses the chain as Refuse does, and tells the engineer in the
  // generator's box what was not written (writes) and Why.
  void RefuseWrite(const QString &Why);
  // Ends a write chain whose own steps have begun as a failure does: its
  // error and end handlers run, so what they tell (a relay's logic left
  // stopped, the values read back) is not lost; the box says Why.
  void CutWrite(const QString &Why);

  // The identification epoch under which what this chain writes was
  // prepared (an edit, a question answered, a password typed, a set chosen,
  // logic read); by default the epoch when the chain was made. A chain that
  // writes and was prepared under another epoch is refused with the box,
  // nothing sent.
  TIOChainList3 &preparedFor(uint64_t Epoch);
  uint64_t PreparedFor() const { return FPreparedFor; }
  // The unit what this chain writes was made for (an edit, a tab made from
  // a relay's values): the identity check refuses any other unit, nothing
  // sent. Empty (the default): whichever unit identification holds.
  TIOChainList3 &MadeFor(const TUnitIdentity &Unit);
  const TUnitIdentity &MadeFor() const { return FMadeFor; }
  // The unit the identity check put before this chain saw answering (empty
  // while none passed): what its reads are of, for the page to keep with them.
  const TUnitIdentity &SeenUnit() const { return FSeenUnit; }
  void SetSeenUnit(const TUnitIdentity &Unit) { FSeenUnit = Unit; }
  // What the chain writes as the engineer reads it ("Режим работы
  // терминала", "время"), named in the refusal box; default a generic text.
  TIOChainList3 &writes(const QString &What);
  QString Writes() const;
  // Tells the chain's text as a write's report once the write gate has seen
  // it (TIOChainGen::WriteReport), else as a status message. A failure (an
  // answer, an abort, a step's exception) of a write chain with an end,
  // error or abort handler is a status message: the handler reports it.
  void Report(const QString &Text) const;
  void FailureReport(const QString &Text) const;
  // Unique among the chains of its generator.
  uint64_t Serial() const { return FSerial; }
  // How an ended chain failed, as it was told (an answer's failure,
  // "Прервано", a refusal, a cut); empty when it ran to its last step.
  QString Failure() const { return FFailure; }

  // Starts (or continues) the chain. Throws what a local step throws, and
  // EKvError "Прервано" after an abort; the chain has then ended.
  TIOChainList3 &run(TChainProgressEvent AProgress = {});

  // The reply method of every record of this chain.
  void onReceive(TResponseParser &Parser, const TAnswerHead &Head, std::span<const uint8_t> Data);

  // Frees every step.
  void Clear();

  // Storage the chain owns, alive until the chain itself is deleted: what its
  // steps read into and write from. The buffer comes open for reading and
  // writing, holding Bytes, positioned at its start.
  QBuffer &Buffer(const QByteArray &Bytes = QByteArray());
  template <class T, class... A> T &Keep(A &&...Args) {
    auto kept = std::make_shared<T>(std::forward<A>(Args)...);
    T &ref = *kept;
    FKept.push_back(std::move(kept));
    return ref;
  }
  // The page (tab, frame) the chain works for. When the page is destroyed,
  // the chain is cancelled (Cancel), unless its write has begun: a write
  // runs to its end, and the page's close waits for it (RunningWriteFor).
  TIOChainList3 &ownedBy(QObject *Page);
  QObject *OwnerPage() const { return FOwnerPage; }
  // Ends the chain where it stands without a word: none of its handlers run,
  // and its records not yet sent are dropped by the worker. A write that the
  // gate has let go is not cancelled (false); true when the chain has ended.
  bool Cancel();

  int Count() const { return int(FItems.size()); }
  TIOChain3 *Step(int Index) const;
  int FIndex = 0;
  // The device this chain's records go to: the front's when its first
  // record is started, or what its ctSetDeviceAddr step set.
  uint8_t FDeviceAddr = 0;
  bool FDeviceAddrFixed = false;
  TIOChainGen *FGen;
  TReplyId ReplyId() const { return FReplyId; }
  bool IsEnded() const { return FEnded; }
  // run has been called and the chain has not ended yet.
  bool IsRunning() const { return FStarted && !FEnded; }

  // For steps: the device front (throws when the generator has none), the log
  // and the status sink.
  TDeviceFront &Front();
  // Starts a record of this chain in the front's builder, addressed to the
  // chain's device.
  TRequestBuilder &StartRecord(uint8_t Command, uint8_t Tag, std::initializer_list<uint8_t> Payload);
  TLogger &Log() const { return *FLogger; }
  void Message(const QString &Text) const;
  void Progress(int Position, int Max) const;

private:
  friend class TIOChainGen;
  friend class TIOChain3;
  explicit TIOChainList3(TIOChainGen *AGen, uint64_t ASerial);
  TIOChainList3 &Append(std::unique_ptr<TIOChain3> AStep);
  void RunSteps();
  void End();
  // Ends the chain where it stands; none of its handlers is told.
  void EndWithoutHandlers();
  void Resume(); // after a sleep
  // Ends the chain as aborted: message "Прервано", the abort handler, progress done.
  void Aborted();
  // Logs the text of a step's own failure where the generator says.
  void StepFailed(const QString &Text);
  // The status text of a failed answer.
  QString FailureText(uint8_t Status) const;
  // At a writing chain's check point (the first write step or the step
  // marked checkBefore): the epoch checked again and the write gate asked.
  // False when the chain was refused there.
  bool PassCheckPoint();
  // Whether a failure now is followed by the afterFailure steps.
  bool HasAfterFailure() const;
  // After a failure once the write began (told, its handler run): the
  // afterFailure steps take the chain's place. False when there are none or
  // the chain has ended meanwhile: the caller ends it.
  bool StartAfterFailure();
  // A failure once the write began, with the afterFailure steps left: told,
  // Handler (the error or abort handler) run, then the steps; false (nothing
  // done) when there are none.
  bool FailIntoAfterFailure(const QString &Text, const TChainStepEvent &Handler, TIOChain3 *Step);
  void Insert(int Position, std::unique_ptr<TIOChain3> AStep);
  std::unique_ptr<TIOChainList3> TakeBranch(TIOChainList3 *AList);

  enum TWait : uint8_t { wtNone, wtAnswer, wtTimer };
  // Declared before the steps, so that it goes after them.
  std::vector<std::shared_ptr<void>> FKept;
  QPointer<QObject> FOwnerPage;
  // The tie to the owner page's destruction; cut as the chain ends.
  QMetaObject::Connection FOwnerTie;
  std::vector<std::unique_ptr<TIOChain3>> FItems;
  uint64_t FSerial;
  TReplyId FReplyId = 0;
  TDeviceFront *FFront = nullptr;
  std::weak_ptr<const int> FFrontAlive;
  TChainProgressEvent FOnProgress;
  TChainMessageEvent FOnMessage;
  TLogger *FLogger;
  TChainStepEvent FOnAbort;
  TChainStepEvent FOnError;
  std::function<void()> FOnEnd;
  TWait FWait = wtNone;
  bool FAbort = false;
  bool FStarted = false;
  bool FEnded = false;
  bool FRefused = false;
  bool FGated = false; // the write gate has seen this chain's writes
  bool FReportsItself = false; // it had its own handlers when gated
  uint64_t FPreparedFor;
  TUnitIdentity FMadeFor, FSeenUnit;
  QString FWrites;
  mutable QString FFailure; // the first failure told
  int FPrecedeEnd = 0; // steps before this index were put there by Precede
  bool FCheckedRead = false;
  int FReadCheckMaxAgeMs = 0;
  bool FReadGated = false;    // the read gate has been asked
  bool FReadCheckPut = false; // it put the check before the chain's steps
  bool FWriteCheckPut = false; // the write gate put the check before the first write
  bool FCheckNext = false;    // the next step appended gets FCheckBefore
  bool FCheckPassed = false;  // the check point has been reached
  bool FWriteBegan = false;
  int FCheckAt = -1;          // the step the check stands before, once put there
  uint16_t FFrameSizeSet = 0; // the frame size the chain set last (0: none)
  std::unique_ptr<TIOChainList3> FAfterFailure;
  bool FInAfterFailure = false;
  TChainStepEvent FPrecedeOnError;
  int FBusy = 0; // calls of this chain on the stack; it is not deleted meanwhile
  friend class TIOChain3predicat;
  friend class TIOChain3setFrameSize;
  friend class TChainBusy;
};

// Makes chains and keeps them until they have ended. Lives on the main thread.
class TIOChainGen : public QObject {
public:
  explicit TIOChainGen(QObject *Parent = nullptr);
  ~TIOChainGen() override;

  // A new empty chain, owned by the generator.
  TIOChainList3 &newList();
  // Stops every chain live now at its next step or answer. Chains made
  // afterwards are not affected.
  void abort();
  // The chain that writes and runs now for Page or a widget inside it
  // (TIOChainList3::ownedBy), or nullptr.
  TIOChainList3 *RunningWriteFor(const QObject *Page) const;

  void setWorkDir(const QString &Dir) { FWorkDir = Dir; }
  void setLogger(TLogger *ALogger) { FLogger = ALogger; }
  void setOnMessage(TChainMessageEvent AEvent) { FOnMessage = std::move(AEvent); }
  // Called whenever a chain has ended, however it ended (done, failed, aborted).
  void setOnChainEnd(std::function<void()> AEvent) { FOnChainEnd = std::move(AEvent); }
  // Called once for every chain the write gate has seen (a write, or one
  // refused before it wrote), after it has ended and all its handlers have
  // run, from the event loop (never inside chain processing), just before
  // the chain is deleted.
  void setOnWriteEnd(std::function<void(const TIOChainList3 &Chain)> AEvent) { FOnWriteEnd = std::move(AEvent); }
  // Told when a failed answer ends a chain and its text says the link itself
  // failed after the worker's repeats (IsLinkLossText); before the chain's
  // own end handler runs.
  void setOnLinkFailure(std::function<void()> AEvent) { FOnLinkFailure = std::move(AEvent); }
  // Asked once, before its first write step could run, for every chain that
  // writes to the device (WritesToDevice); the gate may let it go, refuse it
  // (TIOChainList3::Refuse) or put steps before it (TIOChainList3::Precede).
  void setWriteGate(std::function<void(TIOChainList3 &Chain)> AGate) { FWriteGate = std::move(AGate); }
  // Asked once, as it starts, for every chain marked checkedRead that does
  // not write; the gate may let it go, refuse it or put steps before it.
  void setReadGate(std::function<void(TIOChainList3 &Chain)> AGate) { FReadGate = std::move(AGate); }
  // Where the text of a step's own failure (an exception no step caught) is
  // logged, after the chain's message has shown it: by default the logger's
  // error line; the window hands it to the program's edge, whose wording
  // the custom-logic page sets.
  void setOnStepFailure(TChainMessageEvent AEvent) { FOnStepFailure = std::move(AEvent); }
  void useSmartDesc(bool Value) { FSmartDesc = Value; }

  // The identification epoch: changes whenever the identified device changes
  // (identified, unidentified, another device found). Identification calls
  // NextIdentEpoch.
  uint64_t IdentEpoch() const { return FIdentEpoch; }
  void NextIdentEpoch();
  // Told on the main thread whenever the epoch changes or a chain fails for
  // the link. A listener may add or remove listeners, itself included.
  int AddIdentListener(std::function<void()> Listener);
  void RemoveIdentListener(int Token);
  // A write's report (refused, not executed, cut, answer lost): a text that
  // stays until the engineer's next command; the window sets the sink (falls
  // back to the message sink).
  void setOnWriteReport(TChainMessageEvent AEvent) { FOnWriteReport = std::move(AEvent); }
  void WriteReport(const QString &Text) const;
  // Where a write refused for the device it would reach is told: a box that
  // stays until closed, saying What was not written and Why (texts as made,
  // for the window to translate). It must not run a nested event loop: it
  // is called from inside chain processing. Falls back to WriteReport. The
  // log keeps every such box's text.
  using TWriteBoxEvent = std::function<void(const QString &What, const QString &Why)>;
  void setOnWriteBox(TWriteBoxEvent AEvent) { FOnWriteBox = std::move(AEvent); }
  void WriteBox(const QString &What, const QString &Why) const;

  // The device front that records go through. Should it go first, chains
  // still waiting simply end with the generator.
  void setDeviceFront(TDeviceFront *AFront) {
    FFront = AFront;
    FFrontAlive = AFront ? AFront->AliveToken() : std::weak_ptr<const int>();
  }

  const QString &WorkDir() const { return FWorkDir; }
  bool SmartDesc() const { return FSmartDesc; }
  // The front, or nullptr when none is set or it has been destroyed.
  TDeviceFront *DeviceFront() const { return FFrontAlive.expired() ? nullptr : FFront; }
  // The one answer to "is the link busy", asked before any poll, identification
  // or page chain starts: a chain has been run and has not ended (it waits for
  // an answer or a pause), or a record is queued, under way or its answer not
  // yet delivered. Chains built but never run do not count.
  bool IsBusy() const;
  // The chain that writes and runs now (the write gate has let it go), or
  // nullptr: one such chain at a time.
  TIOChainList3 *RunningWrite() const;
  // Chains made and not yet deleted (live or ended).
  int ChainCount() const { return int(FLive.size() + FEnded.size()); }

private:
  friend class TIOChainList3;
  friend class TIOChain3;
  friend class TChainBusy;
  void Retire(TIOChainList3 *AChain);
  void PostReap();
  void Reap();
  std::unique_ptr<TIOChainList3> Adopt(TIOChainList3 *AChain);
  TIOChainList3 *Find(uint64_t Serial) const;

  TLogger *FLogger;
  TChainMessageEvent FOnMessage;
  std::function<void()> FOnChainEnd;
  std::function<void(const TIOChainList3 &)> FOnWriteEnd;
  std::function<void()> FOnLinkFailure;
  std::function<void(TIOChainList3 &)> FWriteGate;
  std::function<void(TIOChainList3 &)> FReadGate;
  TChainMessageEvent FOnStepFailure;
  TChainMessageEvent FOnWriteReport;
  TWriteBoxEvent FOnWriteBox;
  uint64_t FIdentEpoch = 1;
  int FNextListener = 1;
  std::map<int, std::function<void()>> FIdentListeners;
  void TellIdentListeners();
  QString FWorkDir;
  bool FSmartDesc = false;
  TDeviceFront *FFront = nullptr;
  std::weak_ptr<const int> FFrontAlive;
  uint64_t FNextSerial = 1;
  std::map<uint64_t, std::unique_ptr<TIOChainList3>> FLive;
  std::vector<std::unique_ptr<TIOChainList3>> FEnded;
  bool FReapPosted = false;
};

// A chain's continuation for Page: runs Fn(Page) only while Page exists, so
// that a page closed while its chain ran is never touched.
template <class P, class F> std::function<void()> Guarded(P *Page, F Fn) {
  return [page = QPointer<P>(Page), Fn = std::move(Fn)]() mutable {
    if (page)
      Fn(page.data());
  };
}

// Held while a box, question or dialog prepared for the device is open
// (RAII): OnChange runs (once) when the epoch changes or the link fails
// meanwhile - pass e.g. [&dlg]{ dlg.reject(); }. Changed() tells afterwards
// whether that happened. A generator destroyed first leaves the watch
// harmless.
class TIdentWatch {
public:
  TIdentWatch(TIOChainGen &Gen, std::function<void()> OnChange = {});
  ~TIdentWatch();
  TIdentWatch(const TIdentWatch &) = delete;
  TIdentWatch &operator=(const TIdentWatch &) = delete;
  bool Changed() const;
  uint64_t Epoch() const { return FEpoch; } // the epoch when the watch was made

private:
  QPointer<TIOChainGen> FGen;
  std::function<void()> FOnChange;
  uint64_t FEpoch;
  int FToken = 0;
  bool FChanged = false;
};
