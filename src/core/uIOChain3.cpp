#include "uIOChain3.h"

#include <QFileInfo>
#include <QMetaMethod>
#include <QMetaObject>
#include <QTimer>
#include <cstring>

#include "ixml.h"
#include "uDateTime.h"
#include "uErrors.h"
#include "uFiles.h"
#include "uLogger.h"
#include "oi.h"
#include "uLinkText.h"

const TDateTime ChainBaseDate = DeviceBaseDate;

namespace {

const char *const ChainTypeNames[ChainTypeCount] = {
    "ctPoll",      "ctScan",      "ctPredicat",      "ctMsg",         "ctInc",          "ctMult",
    "ctExec",      "ctMethod",    "ctReadFile",      "ctWriteFile",   "ctCompareFile",  "ctReadFlash",
    "ctReadReg",   "ctReadSram",  "ctReadTime",      "ctWriteTime",   "ctWriteReg",     "ctSetDeviceAddr",
    "ctSetFrameSize", "ctSpecCmdOn", "ctSpecCmdModbusOn", "ctSpecCmdOff", "ctSleep"};
const char *const PredicatTypeNames[4] = {"ptIf", "ptIfExpr", "ptFileExists", "ptIOError"};

// Commands whose answers move a chain; the answer to an area selection (15),
// sent ahead of a read, is not one of them.
bool IsChainCommand(uint8_t Command) {
  switch (Command) {
  case bcReadRegisters: case bcWriteRegisters: case bcPoll: case bcScan: case bcSetFrameSize:
  case bcReadFileFrame: case bcWriteFileFrame: case bcReadClock: case bcWriteClock: case bcSpecialCommand:
    return true;
  default:
    return false;
  }
}

const char *const AbortedText = "Прервано";

// A register list is whole words; an odd byte left over would be read as no
// register at all, again and again.
void CheckRegisterList(const QIODevice &List) {
  if (List.size() % 2 != 0)
    throw EKvRange(QStringLiteral("register list of odd size: %1 bytes").arg(List.size()));
}

QString ExceptionText(const std::exception &e) { return QString::fromUtf8(e.what()); }

// Steps that change something in the device.
bool IsWriteStep(uint8_t Type) {
  switch (Type) {
  case ctWriteReg: case ctWriteTime: case ctWriteFile: case ctSpecCmdOn: case ctSpecCmdModbusOn: case ctSpecCmdOff:
    return true;
  default:
    return false;
  }
}

} // namespace

bool IsLinkLossText(const QString &Text) {
  for (const char *t : {LinkTexts::NoAnswer, LinkTexts::ConnectionLost, LinkTexts::CannotConnect,
                        LinkTexts::PortNoAccess, LinkTexts::PortUnavailable}) {
    const QString key = QString::fromUtf8(t);
    // LocalLinkText of a template gives the template in the interface's
    // language, its markers kept.
    if (TextTemplatePattern(key).match(Text).hasMatch() ||
        TextTemplatePattern(LocalLinkText(key)).match(Text).hasMatch())
      return true;
  }
  return false;
}

// Keeps a chain from being deleted while one of its calls is on the stack (a
// step may run a nested event loop, for example a modal dialog); the chain is
// handed to the reaper once the outermost call has returned.
class TChainBusy {
public:
  explicit TChainBusy(TIOChainList3 &AChain) : FChain(AChain) { ++FChain.FBusy; }
  ~TChainBusy() {
    if (--FChain.FBusy == 0 && FChain.FEnded)
      FChain.FGen->PostReap();
  }
private:
  TIOChainList3 &FChain;
};

QString ChainTypeName(int Type) {
  return Type >= 0 && Type < ChainTypeCount ? QString::fromLatin1(ChainTypeNames[Type]) : QString();
}

QString PredicatTypeName(int Type) {
  return Type >= 0 && Type < 4 ? QString::fromLatin1(PredicatTypeNames[Type]) : QString();
}

// ---------------------------------------------------------------- steps

TIOChain3::TIOChain3(TIOChainList3 *AOwner, TChainType AType) : FOwner(AOwner), FType(AType) {}

TIOChain3::~TIOChain3() = default;

void TIOChain3::Debug(const QString &Text) const { FOwner->Log().Debug(Text); }

TRequestBuilder &TIOChain3::Start(uint8_t Command, uint8_t Tag, std::initializer_list<uint8_t> Payload) {
  return FOwner->StartRecord(Command, Tag, Payload);
}

void TIOChain3::Send() {
  TRequestBuilder &b = FOwner->Front().Builder();
  FOwner->MarkRecord(b);
  b.Send();
}

bool TIOChain3::Run() {
  switch (FType) {
  case ctSpecCmdOn:
  case ctSpecCmdModbusOn:
  case ctSpecCmdOff: {
    const uint8_t code = FType == ctSpecCmdOn ? 0xFF : FType == ctSpecCmdModbusOn ? 0xF1 : 0xF0;
    Debug(QString::asprintf("-- SpecCmd %2.2x", code));
    Start(bcSpecialCommand, 0, {0x00, 0xFF, 0x00, 0xFF, code});
    Send();
    return false;
  }
  case ctSleep: {
    // A pause of the chain, not of the program: a timer resumes it. The
    // generator is the timer's context, and the chain is looked up by its
    // serial, so a chain deleted meanwhile is not touched.
    Debug(QString::asprintf("-- FTag %d", FTag));
    TIOChainGen *gen = FOwner->FGen;
    const uint64_t serial = FOwner->FSerial;
    QTimer::singleShot(std::max(0, FTag), gen, [gen, serial] {
      if (TIOChainList3 *chain = gen->Find(serial))
        chain->Resume();
    });
    return false;
  }
  default:
    throw EKvError("unexpected chaintype");
  }
}

bool TIOChain3::Reply(TResponseParser &, const TAnswerHead &) {
  switch (FType) {
  case ctWriteTime:
  case ctSetFrameSize:
  case ctSpecCmdOn:
  case ctSpecCmdModbusOn:
  case ctSpecCmdOff:
    return true;
  default:
    throw EKvError("unexpected chaintype");
  }
}

bool TIOChain3poll::Run() {
  FList->clear();
  if (FType == ctPoll) {
    Start(bcPoll, 0, {0x00, 0xFF, 0x00, 0xFF, FAddr});
  } else {
    Start(bcScan, 0, {0x00, 0xFF, 0x00, 0xFF, FFirstAddr, FLastAddr});
  }
  Send();
  return false;
}

bool TIOChain3poll::Reply(TResponseParser &Parser, const TAnswerHead &) {
  for (int i = 0; i < 2; ++i)
    if (Parser.ReadWord() != RecordGuardWord)
      throw EKvProtocol("invalid data");
  const int count = FType == ctPoll ? 1 : Parser.ReadByte();
  for (int i = 0; i < count; ++i) {
    const uint8_t addr = Parser.ReadByte();
    Parser.ReadByte(); // the device's status byte: no step uses it
    FList->append(addr);
  }
  return true;
}

bool TIOChain3predicat::Run() {
  if (FPredicatType == ptIfExpr) {
    if (FOp == "lt")
      FVal = FA < FB;
    else if (FOp == "le")
      FVal = FA <= FB;
    else if (FOp == "eq")
      FVal = FA == FB;
    else
      throw EKvError("unsupported op " + FOp);
  }
  Debug("-- FPredicatType " + PredicatTypeName(FPredicatType));
  if (FPredicatType == ptIOError)
    FVal = FOwner->FGen->DeviceFront() && FOwner->FGen->DeviceFront()->IOError() != 0;
  bool takeThen;
  if (FPredicatType == ptFileExists) {
    Debug("-- FFileName " + FFileName);
    takeThen = QFileInfo::exists(FFileName);
  } else {
    Debug(QString::asprintf("-- FVal %d", FVal));
    takeThen = FList ? !FList->isEmpty() : FVal != 0;
  }
  // The chosen branch's steps move into the running chain right after this
  // step; the other branch goes with this step.
  std::unique_ptr<TIOChainList3> &branch = takeThen ? FThen : FElse;
  if (branch) {
    int position = FOwner->FIndex + 1;
    for (auto &step : branch->FItems)
      FOwner->Insert(position++, std::move(step));
    branch->FItems.clear();
  }
  return true;
}

bool TIOChain3exec::Run() {
  if (FProcNext) {
    const int next = FOwner->FIndex + 1;
    if (next >= FOwner->Count())
      throw EKvRange(QString::asprintf("List index out of bounds (%d)", next).toStdString());
    FProcNext(FOwner->Step(next), FInts);
  } else if (FProc) {
    FProc();
  } else if (FProcInts) {
    FProcInts(FInts);
  } else if (FProcStrings) {
    FProcStrings(FStrings);
  } else if (FProcStream) {
    if (!FStream)
      throw EKvAssert("TStream expected");
    FProcStream(FStream);
  }
  return true;
}

bool TIOChain3execMethod::Run() {
  Debug("-- FMethod " + FMethod);
  if (!FObject)
    throw EKvError("method " + FMethod + ": its object no longer exists");
  const QMetaObject *meta = FObject->metaObject();
  const QByteArray signature = QMetaObject::normalizedSignature((FMethod + "()").toLatin1().constData());
  const int index = meta->indexOfMethod(signature.constData());
  if (index < 0)
    throw EKvError("unknown method " + FMethod + " of " + QString::fromLatin1(meta->className()));
  if (!meta->method(index).invoke(FObject.data(), Qt::DirectConnection))
    throw EKvError("method " + FMethod + " of " + QString::fromLatin1(meta->className()) + " cannot be called");
  return true;
}

bool TIOChain3inc::Run() {
  Debug(QString::asprintf("-- FPval^ %d FDelta %d", *FPval, FDelta));
  int result;
  if (__builtin_add_overflow(*FPval, FDelta, &result))
    throw EKvRange("Integer overflow");
  *FPval = result;
  return true;
}

bool TIOChain3msg::Run() {
  Debug("-- FText " + FText);
  FOwner->Message(FText);
  return true;
}

bool TIOChain3mult::Run() {
  Debug(QString::asprintf("-- FPOp1^ %d FPOp2 %d", *FPOp1, FPOp2));
  int result;
  if (__builtin_mul_overflow(*FPOp1, FPOp2, &result))
    throw EKvRange("Integer overflow");
  *FPResult = result;
  return true;
}

bool TIOChain3readFlash::Run() {
  Start(bcSelectArea, 0, {3});
  Send();
  Debug(QString::asprintf("-- FPAddr^ %4.4X", *FPAddr));
  if (FStream) {
    FStream->buffer().clear();
    FStream->seek(0);
    Debug(QString::asprintf("-- FPCount %d", *FPCount));
    const uint8_t count = CheckedCast<uint8_t>(*FPCount);
    TRequestBuilder &b = Start(bcReadRegisters, 1, {count});
    for (int i = 0; i < count; ++i)
      b.PutWord(uint16_t(*FPAddr + i));
  } else {
    Debug(QString::asprintf("-- FByteCount %d", FByteCount));
    Start(bcReadRegisters, 1, {1}).PutWord(*FPAddr);
  }
  FOwner->Front().Builder().SetMemoryArea(3);
  Send();
  return false;
}

bool TIOChain3readFlash::Reply(TResponseParser &Parser, const TAnswerHead &) {
  const int count = Parser.ReadByte();
  if (FStream) {
    for (int i = 0; i < count * 2; ++i) {
      const uint16_t word = Parser.ReadWord();
      const char bytes[2] = {char(word), char(word >> 8)};
      FStream->write(bytes, 2);
    }
    return true;
  }
  if (count != 1)
    throw EKvAssert("single word expected");
  Parser.ReadWord();
  if (FByteCount == 1)
    *FPResult8 = Parser.ReadByte();
  else
    *FPResult16 = Parser.ReadWord();
  return true;
}

bool TIOChain3readReg::Run() {
  if (FType == ctWriteReg) {
    Debug(QString::asprintf("-- Size %d", int(FResult->size())));
    FResult->seek(0);
    if (FResult->size() == 0)
      return true; // nothing to write: a record without its pair would be read past its end
    // Writes go to the registers, whatever area an earlier read selected.
    Start(bcSelectArea, 0, {1});
    Send();
    SendNext();
    return false;
  }
  Debug(QString::asprintf("-- Size %d Position %d", int(FRequest->size()), int(FRequest->pos())));
  CheckRegisterList(*FRequest);
  Start(bcSelectArea, 0, {uint8_t(FType == ctReadSram ? 2 : 1)});
  Send();
  FRequest->seek(0);
  FResult->buffer().clear();
  FResult->seek(0);
  FInFlight = 0;
  SendReads();
  return false;
}

void TIOChain3readReg::SendReads() {
  // An empty list still goes as one record of no registers, answered as such.
  if (FInFlight == 0) {
    SendNext();
    ++FInFlight;
  }
  while (FInFlight < ReadsInFlight && FRequest->pos() < FRequest->size()) {
    SendNext();
    ++FInFlight;
  }
}

void TIOChain3readReg::SendNext() {
  // The area travels with each record: an area another chain selects
  // meanwhile cannot turn a register write into an SRAM write.
  if (FType == ctWriteReg) {
    Start(bcWriteRegisters, 0, {1}).PutStream(*FResult, 4);
    FOwner->Front().Builder().SetMemoryArea(1);
    Send();
    return;
  }
  const qint64 n = std::min<qint64>(127, (FRequest->size() - FRequest->pos()) / 2);
  Start(bcReadRegisters, 0, {uint8_t(n)}).PutStream(*FRequest, 2 * n);
  FOwner->Front().Builder().SetMemoryArea(FType == ctReadSram ? 2 : 1);
  Send();
}

bool TIOChain3readReg::Reply(TResponseParser &Parser, const TAnswerHead &) {
  if (FType == ctWriteReg) {
    if (FResult->pos() < FResult->size()) {
      SendNext();
      return false;
    }
    return true;
  }
  // (register, value) pairs of little-endian words, as the result holds them.
  const int count = Parser.ReadByte();
  Parser.ReadToStream(*FResult, 4 * count);
  --FInFlight;
  if (FInFlight == 0 && FRequest->pos() >= FRequest->size())
    return true;
  if (FRequest->pos() < FRequest->size())
    SendReads();
  return false;
}

bool TIOChain3readTime::Run() {
  if (FType == ctReadTime) {
    Debug("-- ReadTime");
    Start(bcReadClock, 0, {});
  } else {
    Debug("-- WriteTime");
    FStream->seek(0);
    Start(bcWriteClock, 0, {}).PutStream(*FStream, 8);
  }
  Send();
  return false;
}

bool TIOChain3readTime::Reply(TResponseParser &Parser, const TAnswerHead &) {
  if (FType == ctWriteTime)
    return true;
  const double value = Parser.ReadDouble();
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  char bytes[8];
  for (int i = 0; i < 8; ++i)
    bytes[i] = char(bits >> (8 * i));
  FStream->buffer().clear();
  FStream->seek(0);
  FStream->write(bytes, 8);
  return true;
}

bool TIOChain3setDeviceAddr::Run() {
  const uint8_t addr = FList->isEmpty() ? 0 : CheckedCast<uint8_t>(FList->first());
  FOwner->FDeviceAddr = addr;
  FOwner->FDeviceAddrFixed = true;
  FOwner->Front().SetDeviceAddr(addr);
  return true;
}

bool TIOChain3setFrameSize::Run() {
  Debug(QString::asprintf("-- FFrameSize %d", FFrameSize));
  FOwner->FFrameSizeSet = FFrameSize;
  Start(bcSetFrameSize, 0, {uint8_t(FFrameSize), uint8_t(FFrameSize >> 8)});
  Send();
  return false;
}

TIOChain3readFile *CastIOChain3readFile(TIOChain3 *AObject) {
  auto *step = dynamic_cast<TIOChain3readFile *>(AObject);
  if (!step)
    throw EKvError("TIOChain3readFile expected");
  return step;
}

// ---------------------------------------------------------------- chain

TIOChainList3::TIOChainList3(TIOChainGen *AGen, uint64_t ASerial)
    : FGen(AGen), FSerial(ASerial), FOnMessage(AGen->FOnMessage), FLogger(AGen->FLogger),
      FPreparedFor(AGen->FIdentEpoch) {}

TIOChainList3::~TIOChainList3() {
  QObject::disconnect(FOwnerTie);
  if (FFront && FReplyId && !FFrontAlive.expired())
    FFront->UnregisterReply(FReplyId);
}

TIOChain3 *TIOChainList3::Step(int Index) const {
  if (Index < 0 || Index >= Count())
    throw EKvRange(QString::asprintf("List index out of bounds (%d)", Index).toStdString());
  return FItems[size_t(Index)].get();
}

void TIOChainList3::Clear() { FItems.clear(); }

QBuffer &TIOChainList3::Buffer(const QByteArray &Bytes) {
  QBuffer &buffer = Keep<QBuffer>();
  buffer.open(QIODevice::ReadWrite);
  buffer.buffer() = Bytes;
  buffer.seek(0);
  return buffer;
}

TIOChainList3 &TIOChainList3::ownedBy(QObject *Page) {
  QObject::disconnect(FOwnerTie);
  FOwnerPage = Page;
  // Cut as the chain ends: a page that polls makes a chain at every tick.
  if (Page && !FEnded)
    FOwnerTie = QObject::connect(Page, &QObject::destroyed, FGen, [gen = FGen, serial = FSerial] {
      if (TIOChainList3 *chain = gen->Find(serial))
        chain->Cancel();
    });
  return *this;
}

bool TIOChainList3::Cancel() {
  if (FEnded)
    return true;
  if (FGated && !FRefused && FStarted)
    return false;
  FLogger->Debug(QStringLiteral("TIOChainList3 cancelled: its page has gone"));
  FPrecedeOnError = nullptr;
  FOnProgress = nullptr;
  EndWithoutHandlers();
  return true;
}

void TIOChainList3::EndWithoutHandlers() {
  FOnEnd = nullptr;
  FOnAbort = nullptr;
  FOnError = nullptr;
  // A step that ends it so returns to the run loop, which then finds no step left.
  FIndex = Count();
  FWait = wtNone;
  End();
}

TDeviceFront &TIOChainList3::Front() {
  if (!FFront) {
    TDeviceFront *front = FGen->DeviceFront();
    if (!front)
      throw EKvError("no device link");
    FFrontAlive = front->AliveToken();
    // The id is taken when the chain first sends: its records carry it.
    FFront = front;
    FReplyId = front->RegisterReply(
        [this](TResponseParser &Parser, const TAnswerHead &Head, std::span<const uint8_t> Data) {
          onReceive(Parser, Head, Data);
        });
  }
  return *FFront;
}

TRequestBuilder &TIOChainList3::StartRecord(uint8_t Command, uint8_t Tag, std::initializer_list<uint8_t> Payload) {
  TDeviceFront &front = Front();
  // A chain made for one device keeps talking to it when an identification
  // chooses another meanwhile.
  if (!FDeviceAddrFixed) {
    FDeviceAddr = front.DeviceAddr();
    FDeviceAddrFixed = true;
  }
  TRequestBuilder &b = front.Builder();
  b.StartRecord(FReplyId, Command, Tag, Payload);
  b.SetDeviceAddr(FDeviceAddr);
  return b;
}

void TIOChainList3::Message(const QString &Text) const {
  if (FOnMessage)
    FOnMessage(Text);
}

void TIOChainList3::Progress(int Position, int Max) const {
  if (FOnProgress)
    FOnProgress(Position, Max, 0);
}

TIOChainList3 &TIOChainList3::Append(std::unique_ptr<TIOChain3> AStep) {
  if (std::exchange(FCheckNext, false))
    AStep->FCheckBefore = true;
  FItems.push_back(std::move(AStep));
  return *this;
}

void TIOChainList3::Insert(int Position, std::unique_ptr<TIOChain3> AStep) {
  AStep->FOwner = this;
  FItems.insert(FItems.begin() + Position, std::move(AStep));
}

TIOChainList3 &TIOChainList3::exec(std::function<void()> AProc) {
  auto s = std::make_unique<TIOChain3exec>(this, ctExec);
  s->FProc = std::move(AProc);
  return Append(std::move(s));
}

TIOChainList3 &TIOChainList3::execInts(std::function<void(const QList<int> &)> AProc, const QList<int> &Args) {
  auto s = std::make_unique<TIOChain3exec>(this, ctExec);
  s->FProcInts = std::move(AProc);
  s->FInts = Args;
  return Append(std::move(s));
}

TIOChainList3 &TIOChainList3::execStrings(std::function<void(const QStringList &)> AProc, const QString &Args) {
  auto s = std::make_unique<TIOChain3exec>(this, ctExec);
  s->FProcStrings = std::move(AProc);
  s->FStrings = SplitCommaText(Args);
  return Append(std::move(s));
}

TIOChainList3 &TIOChainList3::execStream(std::function<void(QIODevice *)> AProc, QIODevice *AStream) {
  auto s = std::make_unique<TIOChain3exec>(this, ctExec);
  s->FProcStream = std::move(AProc);
  s->FStream = AStream;
  return Append(std::move(s));
}

TIOChainList3 &TIOChainList3::execNext(TChainStepEvent AProc, const QList<int> &Args) {
  auto s = std::make_unique<TIOChain3exec>(this, ctExec);
  s->FProcNext = std::move(AProc);
  s->FInts = Args;
  return Append(std::move(s));
}

TIOChainList3 &TIOChainList3::execMethod(QObject *AObject, const QString &AMethodName) {
  auto s = std::make_unique<TIOChain3execMethod>(this, ctMethod);
  s->FObject = AObject;
  s->FMethod = AMethodName;
  return Append(std::move(s));
}

TIOChainList3 &TIOChainList3::inc(int &Var, int Delta) {
  auto s = std::make_unique<TIOChain3inc>(this, ctInc);
  s->FPval = &Var;
  s->FDelta = Delta;
  return Append(std::move(s));
}

TIOChainList3 &TIOChainList3::mult(const int &Op1, int Op2, int &Result) {
  auto s = std::make_unique<TIOChain3mult>(this, ctMult);
  s->FPOp1 = &Op1;
  s->FPOp2 = Op2;
  s->FPResult = &Result;
  return Append(std::move(s));
}

TIOChainList3 &TIOChainList3::msg(const QString &Text) {
  auto s = std::make_unique<TIOChain3msg>(this, ctMsg);
  s->FText = Text;
  return Append(std::move(s));
}

TIOChainList3 &TIOChainList3::sleep(int Ms) {
  auto s = std::make_unique<TIOChain3>(this, ctSleep);
  s->FTag = Ms;
  return Append(std::move(s));
}

std::unique_ptr<TIOChainList3> TIOChainList3::TakeBranch(TIOChainList3 *AList) {
  if (!AList)
    return nullptr;
  if (AList == this)
    throw EKvAssert("a chain cannot be its own branch");
  return FGen->Adopt(AList);
}

static void CheckKind(TPredicatType Kind, TPredicatType Expected) {
  if (Kind != Expected)
    throw EKvAssert(PredicatTypeName(Expected).toStdString() + " expected");
}

TIOChainList3 &TIOChainList3::predicatIf(TPredicatType Kind, int Val, TIOChainList3 *ThenSteps,
                                         TIOChainList3 *ElseSteps) {
  CheckKind(Kind, ptIf);
  auto s = std::make_unique<TIOChain3predicat>(this, ctPredicat);
  s->FPredicatType = Kind;
  s->FVal = Val;
  s->FThen = TakeBranch(ThenSteps);
  s->FElse = TakeBranch(ElseSteps);
  return Append(std::move(s));
}

TIOChainList3 &TIOChainList3::predicatIfList(TPredicatType Kind, const TAddrList &AList, TIOChainList3 *ThenSteps,
                                             TIOChainList3 *ElseSteps) {
  CheckKind(Kind, ptIf);
  auto s = std::make_unique<TIOChain3predicat>(this, ctPredicat);
  s->FPredicatType = Kind;
  s->FList = &AList;
  s->FThen = TakeBranch(ThenSteps);
  s->FElse = TakeBranch(ElseSteps);
  return Append(std::move(s));
}

TIOChainList3 &TIOChainList3::predicatIfExpr(TPredicatType Kind, const QString &Op, int A, int B,
                                             TIOChainList3 *ThenSteps, TIOChainList3 *ElseSteps) {
  CheckKind(Kind, ptIfExpr);
  auto s = std::make_unique<TIOChain3predicat>(this, ctPredicat);
  s->FPredicatType = Kind;
  s->FOp = Op;
  s->FA = A;
  s->FB = B;
  s->FThen = TakeBranch(ThenSteps);
  s->FElse = TakeBranch(ElseSteps);
  return Append(std::move(s));
}

TIOChainList3 &TIOChainList3::predicatFileExists(TPredicatType Kind, const QString &FileName,
                                                 TIOChainList3 *ThenSteps, TIOChainList3 *ElseSteps) {
  CheckKind(Kind, ptFileExists);
  auto s = std::make_unique<TIOChain3predicat>(this, ctPredicat);
  s->FPredicatType = Kind;
  s->FFileName = FileName;
  s->FThen = TakeBranch(ThenSteps);
  s->FElse = TakeBranch(ElseSteps);
  return Append(std::move(s));
}

TIOChainList3 &TIOChainList3::predicatIOError(TPredicatType Kind, TIOChainList3 *ThenSteps,
                                              TIOChainList3 *ElseSteps) {
  CheckKind(Kind, ptIOError);
  auto s = std::make_unique<TIOChain3predicat>(this, ctPredicat);
  s->FPredicatType = Kind;
  s->FThen = TakeBranch(ThenSteps);
  s->FElse = TakeBranch(ElseSteps);
  return Append(std::move(s));
}

TIOChainList3 &TIOChainList3::poll(uint8_t Addr, TAddrList &AList) {
  auto s = std::make_unique<TIOChain3poll>(this, ctPoll);
  s->FAddr = Addr;
  s->FList = &AList;
  return Append(std::move(s));
}

TIOChainList3 &TIOChainList3::scan(uint8_t FirstAddr, uint8_t LastAddr, TAddrList &AList) {
  auto s = std::make_unique<TIOChain3poll>(this, ctScan);
  s->FFirstAddr = FirstAddr;
  s->FLastAddr = LastAddr;
  s->FList = &AList;
  return Append(std::move(s));
}

TIOChainList3 &TIOChainList3::readFlash(const uint16_t &Addr, uint8_t &Result) {
  auto s = std::make_unique<TIOChain3readFlash>(this, ctReadFlash);
  s->FPAddr = &Addr;
  s->FByteCount = 1;
  s->FPResult8 = &Result;
  return Append(std::move(s));
}

TIOChainList3 &TIOChainList3::readFlash(const uint16_t &Addr, uint16_t &Result) {
  auto s = std::make_unique<TIOChain3readFlash>(this, ctReadFlash);
  s->FPAddr = &Addr;
  s->FByteCount = 2;
  s->FPResult16 = &Result;
  return Append(std::move(s));
}

TIOChainList3 &TIOChainList3::readFlashStream(const uint16_t &Addr, const int &Count, QBuffer &AStream) {
  auto s = std::make_unique<TIOChain3readFlash>(this, ctReadFlash);
  s->FPAddr = &Addr;
  s->FPCount = &Count;
  s->FStream = &AStream;
  return Append(std::move(s));
}

TIOChainList3 &TIOChainList3::readReg(QIODevice &ARequest, QBuffer &AResult) {
  CheckRegisterList(ARequest);
  auto s = std::make_unique<TIOChain3readReg>(this, ctReadReg);
  s->FRequest = &ARequest;
  s->FResult = &AResult;
  return Append(std::move(s));
}

TIOChainList3 &TIOChainList3::writeReg(QBuffer &AData) {
  auto s = std::make_unique<TIOChain3readReg>(this, ctWriteReg);
  s->FResult = &AData;
  return Append(std::move(s));
}

TIOChainList3 &TIOChainList3::readSram(QIODevice &ARequest, QBuffer &AResult) {
  CheckRegisterList(ARequest);
  auto s = std::make_unique<TIOChain3readSram>(this, ctReadSram);
  s->FRequest = &ARequest;
  s->FResult = &AResult;
  return Append(std::move(s));
}

TIOChainList3 &TIOChainList3::readTime(int Value, QBuffer &AResult) {
  auto s = std::make_unique<TIOChain3readTime>(this, ctReadTime);
  s->FValue = Value;
  s->FStream = &AResult;
  return Append(std::move(s));
}

TIOChainList3 &TIOChainList3::writeTime(QBuffer &AData) {
  auto s = std::make_unique<TIOChain3readTime>(this, ctWriteTime);
  s->FStream = &AData;
  return Append(std::move(s));
}

TIOChainList3 &TIOChainList3::specCmd(TChainType Kind) {
  if (Kind != ctSpecCmdOn && Kind != ctSpecCmdModbusOn && Kind != ctSpecCmdOff)
    throw EKvAssert("specCmd kind expected");
  return Append(std::make_unique<TIOChain3>(this, Kind));
}

TIOChainList3 &TIOChainList3::setDeviceAddr(const TAddrList &AList) {
  auto s = std::make_unique<TIOChain3setDeviceAddr>(this, ctSetDeviceAddr);
  s->FList = &AList;
  return Append(std::move(s));
}

TIOChainList3 &TIOChainList3::setFrameSize(uint16_t FrameSize) {
  if (FrameSize == 0)
    throw EKvRange("frame size 0");
  auto s = std::make_unique<TIOChain3setFrameSize>(this, ctSetFrameSize);
  s->FFrameSize = FrameSize;
  return Append(std::move(s));
}

TIOChainList3 &TIOChainList3::readFile(uint8_t FileNo, uint8_t FileType, const QString &FileName) {
  auto s = std::make_unique<TIOChain3readFile>(this, ctReadFile);
  s->FFileNo = FileNo;
  s->FFileTtype = FileType;
  s->FFileName = FileName;
  return Append(std::move(s));
}

TIOChainList3 &TIOChainList3::writeFile(uint8_t FileNo, uint8_t FileType, const QString &FileName) {
  auto s = std::make_unique<TIOChain3writeFile>(this, ctWriteFile);
  s->FFileNo = FileNo;
  s->FFileTtype = FileType;
  s->FFileName = FileName;
  return Append(std::move(s));
}

TIOChainList3 &TIOChainList3::compareFile(uint8_t FileNo, uint8_t FileType, const QString &FileName) {
  auto s = std::make_unique<TIOChain3writeFile>(this, ctCompareFile);
  s->FFileNo = FileNo;
  s->FFileTtype = FileType;
  s->FFileName = FileName;
  return Append(std::move(s));
}

TIOChainList3 &TIOChainList3::checkBefore() {
  FCheckNext = true;
  return *this;
}

TIOChainList3 &TIOChainList3::checkedRead(int MaxAgeMs) {
  FCheckedRead = true;
  FReadCheckMaxAgeMs = std::max(0, MaxAgeMs);
  return *this;
}

bool TIOChainList3::HoldsConnection() const {
  if (FGated)
    return FWriteCheckPut && (FWriteBegan || FInAfterFailure);
  return FReadCheckPut && FIndex >= FPrecedeEnd;
}

void TIOChainList3::MarkRecord(TRequestBuilder &Builder) const {
  if (HoldsConnection())
    Builder.PutByteAt(RecordHoldsConnection, RecordFlagsAt);
}

TIOChainList3 &TIOChainList3::afterFailure(TIOChainList3 &Steps) {
  std::unique_ptr<TIOChainList3> list = TakeBranch(&Steps);
  // What the steps read into goes with them, alive as long as this chain.
  for (auto &kept : list->FKept)
    FKept.push_back(std::move(kept));
  list->FKept.clear();
  FAfterFailure = std::move(list);
  return *this;
}

bool TIOChainList3::HasAfterFailure() const {
  return FWriteBegan && !FInAfterFailure && FAfterFailure && !FEnded;
}

bool TIOChainList3::FailIntoAfterFailure(const QString &Text, const TChainStepEvent &Handler, TIOChain3 *Step) {
  if (!HasAfterFailure())
    return false;
  FailureReport(Text);
  if (Handler)
    Handler(Step, {});
  if (!StartAfterFailure())
    End();
  return true;
}

bool TIOChainList3::StartAfterFailure() {
  if (!HasAfterFailure())
    return false;
  std::unique_ptr<TIOChainList3> steps = std::move(FAfterFailure);
  FInAfterFailure = true;
  FAbort = false;
  FWait = wtNone;
  // Answers still due to the step that failed are not the read-back's: they
  // go with the old reply id, and the worker drops its records not yet sent.
  if (FFront && FReplyId && !FFrontAlive.expired())
    FFront->UnregisterReply(FReplyId);
  FReplyId = 0;
  FFront = nullptr;
  FIndex = Count();
  for (auto &step : steps->FItems)
    Insert(Count(), std::move(step));
  steps->FItems.clear();
  try {
    RunSteps();
  } catch (const std::exception &e) {
    FLogger->Debug(QStringLiteral("TIOChainList3 read after a failure: ") + ExceptionText(e));
    FIndex = Count();
    End();
  }
  return true;
}

void TIOChainList3::MarkShort(const QString &Text) {
  if (FFailure.isEmpty())
    FFailure = Text;
}

TIOChainList3 &TIOChainList3::setEvent(uint8_t Kind, TChainStepEvent AEvent) {
  if (Kind == 0)
    FOnAbort = std::move(AEvent);
  else if (Kind == 1)
    FOnError = std::move(AEvent);
  return *this;
}

void TIOChainList3::End() {
  if (FEnded)
    return;
  FEnded = true;
  FWait = wtNone;
  FInAfterFailure = false;
  QObject::disconnect(FOwnerTie);
  // From now on answers to this chain's records are dropped by the front.
  if (FFront && FReplyId && !FFrontAlive.expired())
    FFront->UnregisterReply(FReplyId);
  FReplyId = 0;
  FFront = nullptr;
  FGen->Retire(this);
  if (FOnEnd)
    std::exchange(FOnEnd, nullptr)();
}

TIOChainList3 &TIOChainList3::setOnEnd(std::function<void()> AEvent) {
  FOnEnd = std::move(AEvent);
  return *this;
}

bool TIOChainList3::WritesToDevice() const {
  for (int i = FIndex; i < Count(); ++i) {
    const TIOChain3 *step = FItems[size_t(i)].get();
    if (IsWriteStep(step->FType))
      return true;
    if (step->FType == ctPredicat) {
      const auto *p = static_cast<const TIOChain3predicat *>(step);
      if ((p->FThen && p->FThen->WritesToDevice()) || (p->FElse && p->FElse->WritesToDevice()))
        return true;
    }
  }
  return false;
}

void TIOChainList3::Refuse(const QString &Text) {
  if (FEnded)
    return;
  FRefused = true;
  EndWithoutHandlers();
  if (FFailure.isEmpty())
    FFailure = Text;
  Report(Text);
}

void TIOChainList3::Report(const QString &Text) const {
  if (FGated)
    FGen->WriteReport(Text);
  else
    Message(Text);
}

void TIOChainList3::FailureReport(const QString &Text) const {
  if (FFailure.isEmpty())
    FFailure = Text;
  if (FReportsItself)
    Message(Text);
  else
    Report(Text);
}

void TIOChainList3::RefuseWrite(const QString &Why) {
  if (FEnded)
    return;
  Refuse(Why);
  FGen->WriteBox(Writes(), Why);
}

void TIOChainList3::CutWrite(const QString &Why) {
  if (FEnded)
    return;
  if (FInAfterFailure) {
    // Its failure has been told: the read-back just ends.
    FLogger->Debug(QStringLiteral("TIOChainList3 read after a failure cut: ") + Why);
    FIndex = Count();
    End();
    return;
  }
  TChainBusy busy(*this);
  TIOChain3 *step = FIndex < Count() ? FItems[size_t(FIndex)].get() : nullptr;
  FIndex = Count();
  const auto boxThenError = [this, &Why](TIOChain3 *Step, const QList<int> &Args) {
    FGen->WriteBox(Writes(), Why);
    if (FOnError)
      FOnError(Step, Args);
  };
  if (FailIntoAfterFailure(Why, boxThenError, step))
    return;
  End();
  FailureReport(Why);
  FGen->WriteBox(Writes(), Why);
  if (FOnError)
    FOnError(step, {});
}

TIOChainList3 &TIOChainList3::preparedFor(uint64_t Epoch) {
  FPreparedFor = Epoch;
  return *this;
}

TIOChainList3 &TIOChainList3::MadeFor(const TUnitIdentity &Unit) {
  FMadeFor = Unit;
  return *this;
}

TIOChainList3 &TIOChainList3::writes(const QString &What) {
  FWrites = What;
  return *this;
}

QString TIOChainList3::Writes() const {
  return FWrites.isEmpty() ? QString::fromUtf8(WriteTexts::WritesDefault) : FWrites;
}

TIOChainList3 &TIOChainList3::Precede(TIOChainList3 &Steps) {
  if (FEnded || FWait != wtNone)
    throw EKvAssert("steps can only precede a chain that waits for nothing");
  std::unique_ptr<TIOChainList3> list = TakeBranch(&Steps);
  int position = FIndex;
  for (auto &step : list->FItems)
    Insert(position++, std::move(step));
  list->FItems.clear();
  // What the steps read into goes with them.
  for (auto &kept : list->FKept)
    FKept.push_back(std::move(kept));
  list->FKept.clear();
  FPrecedeEnd = position;
  FPrecedeOnError = std::move(list->FOnError);
  return *this;
}

void TIOChainList3::RunSteps() {
  // Local steps run one after another in this loop; a device step or a sleep
  // leaves it to wait.
  while (FIndex < Count()) {
    TIOChain3 *step = FItems[size_t(FIndex)].get();
    if (FAbort && FInAfterFailure)
      FAbort = false; // the read-back of a write cut short ends on its own
    if (FAbort) {
      FAbort = false;
      if (FailIntoAfterFailure(AbortedText, FOnAbort, step))
        return;
      if (FOnAbort)
        FOnAbort(step, {});
      throw EKvError(AbortedText);
    }
    if (step->FType >= ChainTypeCount)
      throw EKvError("unexpected chaintype");
    if (FGated && !FCheckPassed && (IsWriteStep(step->FType) || step->FCheckBefore)) {
      if (!PassCheckPoint())
        return;
      continue; // the check's steps stand at FIndex now
    }
    if (FIndex == FCheckAt)
      FWriteBegan = true;
    FLogger->Debug("TIOChainList3.run " + ChainTypeName(step->FType));
    if (!step->Run()) {
      FWait = step->FType == ctSleep ? wtTimer : wtAnswer;
      return;
    }
    ++FIndex;
  }
  End();
}

bool TIOChainList3::PassCheckPoint() {
  FCheckPassed = true;
  // An identification between the chain's start and here (a link failure
  // during its reads) makes what it prepared another device's.
  if (FPreparedFor != FGen->FIdentEpoch) {
    RefuseWrite(QString::fromUtf8(WriteTexts::PreparedForOther));
    return false;
  }
  const int before = Count();
  if (FGen->FWriteGate)
    FGen->FWriteGate(*this);
  if (FEnded)
    return false;
  // The check reads files in frames of its own: the frames the chain chose
  // for what it writes next are set again after it.
  if (FFrameSizeSet != 0 && Count() > before) {
    auto restore = std::make_unique<TIOChain3setFrameSize>(this, ctSetFrameSize);
    restore->FFrameSize = FFrameSizeSet;
    Insert(FIndex + (Count() - before), std::move(restore));
  }
  FCheckAt = FIndex + (Count() - before);
  FWriteCheckPut = Count() > before;
  return true;
}

TIOChainList3 &TIOChainList3::run(TChainProgressEvent AProgress) {
  if (AProgress)
    FOnProgress = std::move(AProgress);
  if (FEnded || FWait != wtNone)
    return *this;
  FStarted = true;
  TChainBusy busy(*this);
  try {
    if (!FGated && WritesToDevice()) {
      const bool another = FGen->RunningWrite() != nullptr;
      FGated = true;
      FReportsItself = FOnEnd || FOnError || FOnAbort;
      // One write at a time: a second press of a write button starts
      // nothing. What was prepared for one device never goes to the next one.
      if (another) {
        FLogger->Error(Writes() + ": " + QString::fromUtf8(WriteTexts::AnotherWriteRuns));
        Refuse(QString::fromUtf8(WriteTexts::AnotherWriteRuns));
      }
      else if (FPreparedFor != FGen->FIdentEpoch)
        RefuseWrite(QString::fromUtf8(WriteTexts::PreparedForOther));
      // The identity check itself goes where the chain's writing begins
      // (PassCheckPoint): what it reads to decide comes before it.
    }
    if (FCheckedRead && !FGated && !FReadGated) {
      FReadGated = true;
      const int before = Count();
      if (FGen->FReadGate)
        FGen->FReadGate(*this);
      if (FEnded)
        return *this;
      FReadCheckPut = Count() > before;
    }
    RunSteps();
  } catch (const std::exception &e) {
    FIndex = Count();
    if (FFailure.isEmpty())
      FFailure = ExceptionText(e);
    End();
    throw;
  } catch (...) {
    FIndex = Count();
    End();
    throw;
  }
  return *this;
}

QString TIOChainList3::FailureText(uint8_t Status) const {
  // The front has put the failure into words as it logged it.
  const TDeviceFront *front = FGen->DeviceFront();
  if (front && !front->DeliveryText().isEmpty())
    return front->DeliveryText();
  return LocalLinkText(LinkFailureText(Status, QString()));
}

void TIOChainList3::Aborted() {
  if (FEnded)
    return;
  TChainBusy busy(*this);
  TIOChain3 *step = FIndex < Count() ? FItems[size_t(FIndex)].get() : nullptr;
  FAbort = false;
  if (FailIntoAfterFailure(AbortedText, FOnAbort, step))
    return;
  End();
  FailureReport(AbortedText);
  if (FOnAbort)
    FOnAbort(step, {});
  Progress(100, 100);
}

void TIOChainList3::StepFailed(const QString &Text) {
  // A file the poll cannot save fails alike at every tick: the status line
  // shows it each time, the log once.
  if (!IsNewSaveFailure(Text))
    return;
  if (FGen->FOnStepFailure)
    FGen->FOnStepFailure(Text);
  else
    FLogger->Error(Text);
}

void TIOChainList3::Resume() {
  if (FEnded || FWait != wtTimer)
    return;
  TChainBusy busy(*this);
  FWait = wtNone;
  try {
    ++FIndex;
    RunSteps();
  } catch (const std::exception &e) {
    // The timer started this run, so the failure ends here.
    FailureReport(ExceptionText(e));
    StepFailed(ExceptionText(e));
    FIndex = Count();
    End();
  }
}

void TIOChainList3::onReceive(TResponseParser &Parser, const TAnswerHead &Head, std::span<const uint8_t>) {
  if (FEnded)
    return;
  TChainBusy busy(*this);
  TIOChain3 *step = FIndex < Count() ? FItems[size_t(FIndex)].get() : nullptr;
  if (FAbort && !FInAfterFailure) {
    Aborted();
    return;
  }
  // Checked before the command filter: an unknown command would otherwise
  // leave the chain waiting for ever.
  if (Head.ErrorFlag != 0) {
    if (FInAfterFailure) {
      End();
      return;
    }
    const QString text = QString::asprintf("Ошибка протокола %2.2x", Head.ErrorFlag);
    if (FailIntoAfterFailure(text, nullptr, step))
      return;
    End();
    FailureReport(text);
    return;
  }
  if (!IsChainCommand(Head.Command))
    return;
  if (Head.Status != 0) {
    const QString text = FailureText(Head.Status);
    // Told before the chain's own end handler runs, so that nothing it
    // starts writes to a device not yet checked again.
    if (IsLinkLossText(text)) {
      if (FGen->FOnLinkFailure)
        FGen->FOnLinkFailure();
      FGen->TellIdentListeners();
    }
    if (FIndex < FPrecedeEnd) {
      // The check before the chain's own steps failed: none of them has
      // run, so none of its handlers is told; the write is refused.
      if (FPrecedeOnError)
        std::exchange(FPrecedeOnError, nullptr)(step, {});
      if (FEnded)
        return; // another relay answered the check: refused
      if (FGated) {
        // No answer is told in the status line, as any link failure.
        if (IsLinkLossText(text))
          Refuse(text);
        else
          RefuseWrite(text);
        return;
      }
      // A read fails at its check as at its own read, reported alike.
    }
    if (FInAfterFailure) {
      FLogger->Debug(QStringLiteral("TIOChainList3 read after a failure: ") + text);
      End();
      return;
    }
    if (FailIntoAfterFailure(text, FOnError, step))
      return;
    End();
    FailureReport(text);
    if (FOnError)
      FOnError(step, {});
    return;
  }
  if (FWait != wtAnswer || !step)
    return;
  try {
    FWait = wtNone;
    if (step->Reply(Parser, Head)) {
      ++FIndex;
      RunSteps();
    } else {
      FWait = wtAnswer;
    }
  } catch (const std::exception &e) {
    FIndex = Count();
    if (FInAfterFailure) {
      FLogger->Debug(QStringLiteral("TIOChainList3 read after a failure: ") + ExceptionText(e));
      End();
      return;
    }
    const QString text = ExceptionText(e);
    if (FailIntoAfterFailure(text, [this, &text](TIOChain3 *, const QList<int> &) { StepFailed(text); }, step))
      return;
    End();
    FailureReport(ExceptionText(e));
    StepFailed(ExceptionText(e));
  }
}

// ---------------------------------------------------------------- generator

TIOChainGen::TIOChainGen(QObject *Parent) : QObject(Parent), FLogger(&Logger()) {}

TIOChainGen::~TIOChainGen() {
  // Chains unregister from the front as they go, when it still exists.
  FEnded.clear();
  FLive.clear();
}

TIOChainList3 &TIOChainGen::newList() {
  const uint64_t serial = FNextSerial++;
  std::unique_ptr<TIOChainList3> chain(new TIOChainList3(this, serial));
  TIOChainList3 &ref = *chain;
  FLive.emplace(serial, std::move(chain));
  return ref;
}

void TIOChainGen::NextIdentEpoch() {
  ++FIdentEpoch;
  TellIdentListeners();
}

int TIOChainGen::AddIdentListener(std::function<void()> Listener) {
  const int token = FNextListener++;
  FIdentListeners.emplace(token, std::move(Listener));
  return token;
}

void TIOChainGen::RemoveIdentListener(int Token) { FIdentListeners.erase(Token); }

void TIOChainGen::TellIdentListeners() {
  // A listener may close a dialog whose watch removes itself, or add one:
  // each is looked up again and called through a copy.
  std::vector<int> tokens;
  for (const auto &[token, listener] : FIdentListeners)
    tokens.push_back(token);
  for (int token : tokens) {
    auto it = FIdentListeners.find(token);
    if (it == FIdentListeners.end())
      continue;
    const std::function<void()> listener = it->second;
    if (listener)
      listener();
  }
}

void TIOChainGen::WriteReport(const QString &Text) const {
  if (FOnWriteReport)
    FOnWriteReport(Text);
  else if (FOnMessage)
    FOnMessage(Text);
}

void TIOChainGen::WriteBox(const QString &What, const QString &Why) const {
  FLogger->Error(QString::fromUtf8(WriteTexts::NotWritten).arg(What) + ": " + Why);
  if (FOnWriteBox)
    FOnWriteBox(What, Why);
  else
    WriteReport(QString::fromUtf8(WriteTexts::NotWritten).arg(What) + ". " + Why);
}

TIOChainList3 *TIOChainGen::RunningWrite() const {
  for (const auto &[serial, chain] : FLive)
    if (chain->FGated && !chain->FRefused && chain->IsRunning())
      return chain.get();
  return nullptr;
}

TIOChainList3 *TIOChainGen::RunningWriteFor(const QObject *Page) const {
  TIOChainList3 *write = RunningWrite();
  if (!write || !Page)
    return nullptr;
  for (const QObject *o = write->FOwnerPage; o; o = o->parent())
    if (o == Page)
      return write;
  return nullptr;
}

bool TIOChainGen::IsBusy() const {
  for (const auto &[serial, chain] : FLive)
    if (chain->IsRunning())
      return true;
  const TDeviceFront *front = DeviceFront();
  return front && front->HasOutstanding();
}

void TIOChainGen::abort() {
  // A chain in a pause has nothing to wait for but its timer: it ends now,
  // so that an abort during a chain's last pause is not lost.
  std::vector<uint64_t> pausing;
  for (auto &[serial, chain] : FLive) {
    chain->FAbort = true;
    if (chain->FWait == TIOChainList3::wtTimer)
      pausing.push_back(serial);
  }
  for (uint64_t serial : pausing)
    if (TIOChainList3 *chain = Find(serial))
      chain->Aborted();
}

TIOChainList3 *TIOChainGen::Find(uint64_t Serial) const {
  auto it = FLive.find(Serial);
  return it == FLive.end() ? nullptr : it->second.get();
}

std::unique_ptr<TIOChainList3> TIOChainGen::Adopt(TIOChainList3 *AChain) {
  auto it = FLive.find(AChain->FSerial);
  if (it == FLive.end() || it->second.get() != AChain || AChain->FIndex != 0 || AChain->FWait != TIOChainList3::wtNone)
    throw EKvAssert("a branch must be a new chain of the same generator");
  std::unique_ptr<TIOChainList3> chain = std::move(it->second);
  FLive.erase(it);
  return chain;
}

void TIOChainGen::Retire(TIOChainList3 *AChain) {
  auto it = FLive.find(AChain->FSerial);
  if (it == FLive.end())
    return;
  FEnded.push_back(std::move(it->second));
  FLive.erase(it);
  PostReap();
  if (FOnChainEnd)
    FOnChainEnd();
}

void TIOChainGen::PostReap() {
  if (FReapPosted)
    return;
  FReapPosted = true;
  QMetaObject::invokeMethod(this, [this] { Reap(); }, Qt::QueuedConnection);
}

void TIOChainGen::Reap() {
  FReapPosted = false;
  std::vector<std::unique_ptr<TIOChainList3>> busy;
  std::vector<std::unique_ptr<TIOChainList3>> ended;
  ended.swap(FEnded);
  for (auto &chain : ended)
    if (chain->FBusy > 0)
      busy.push_back(std::move(chain));
    else if (chain->FGated && FOnWriteEnd)
      FOnWriteEnd(*chain);
  ended.clear();
  // A busy chain posts the next reap itself when its last call returns.
  for (auto &chain : busy)
    FEnded.push_back(std::move(chain));
}

// ---------------------------------------------------------------- watch

TIdentWatch::TIdentWatch(TIOChainGen &Gen, std::function<void()> OnChange)
    : FGen(&Gen), FOnChange(std::move(OnChange)), FEpoch(Gen.IdentEpoch()) {
  FToken = Gen.AddIdentListener([this] {
    if (FChanged)
      return;
    FChanged = true;
    if (FOnChange)
      FOnChange();
  });
}

TIdentWatch::~TIdentWatch() {
  if (FGen)
    FGen->RemoveIdentListener(FToken);
}

bool TIdentWatch::Changed() const { return FChanged || (FGen && FGen->IdentEpoch() != FEpoch); }
