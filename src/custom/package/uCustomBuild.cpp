#include "uCustomBuild.h"

#include "crc.h"
#include "uCustomNames.h"
#include "uDeviceDescriptor.h"
#include "uErrors.h"
#include "uFiles.h"
#include "uIOChainFile.h"
#include "uLogger.h"
#include "uMessageSink.h"
#include "uModbus.h"
#include "uMultiLingual.h"
#include "uMultipleFileStream.h"
#include "uSchemaCompile.h"
#include "uSchemaDeviceDescriptor.h"
#include "uSchemaModule.h"
#include "uParamCodec.h"
#include "uUstav.h"
#include "uWriteGate.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QTemporaryDir>
#include <QTimer>
#include <QtEndian>
#include <algorithm>
#include <memory>
#include <optional>

namespace CustomFiles {
QStringList ProjectNames() { return {Config, Identification, Logic, CustomLogic0, CustomLogic}; }
} // namespace CustomFiles

namespace {

constexpr int FlashFileNo = 140, DescFileNo = 129;
constexpr int DescFrameBytes = 128, FlashFrameBytes = 2048;
constexpr int DescHeaderBytes = 48;
// The record type of a setpoint whose bits are its items.
constexpr int UstavBitSetType = 53;

QString WorkFile(const QString &WorkDir, const char *Name) {
  return ResolveFileNameCI(WorkDir, QString::fromLatin1(Name));
}

void AppendWord(QByteArray &Out, uint16_t Value) {
  Out.append(char(Value & 0xFF));
  Out.append(char(Value >> 8));
}

uint16_t WordAt(const QByteArray &Bytes, int Offset) {
  return qFromLittleEndian<uint16_t>(Bytes.constData() + Offset);
}

// The register of Record + Offset, refused outside the register map.
uint16_t StreamRegister(const TDDNamedObject &Record, int Offset) {
  const int reg = Record.GetModbusReg() + Offset;
  if (Record.GetModbusReg() == 0xFFFF || reg > 1023)
    throw EKvRange(QStringLiteral("register %1 of \"%2\" outside 0..1023")
                       .arg(Record.GetModbusReg() == 0xFFFF ? -1 : reg)
                       .arg(Record.String.isEmpty() ? Record.FModbusObject.IderName() : Record.String)
                       .toStdString());
  return uint16_t(reg);
}

TDeviceDescriptor &DeviceOfModule(const TModule &Module) {
  TDeviceDescriptor *d = DeviceOf(Module.Descriptor.get());
  if (!d)
    throw EKvError("Не задан дескриптор устройства");
  return *d;
}

void Fail(const char *Text) {
  ShowMessageBox(TMsgKind::Error, QString::fromUtf8(Text));
  throw EKvError(Text);
}

// What a write chain has done so far, for what its end must still do.
struct TStopWatch {
  bool Off = false;  // the device's logic stopped
  bool Done = false; // and started again
  // Its last step reached: a write cut once it began (WriteBegan) and
  // before that left the relay part-written.
  bool Ended = false;
  QString Reason; // the failure that ended it, as its answer told it
  // The registers of the stream, once their writing began, and whether the
  // chain has read them back since.
  std::vector<uint16_t> ParamRegs;
  bool ParamsRead = false;
  TRegWords Back; // what that read found
  // A value of the stream the relay acknowledged and did not keep: the write
  // ends short, and says no "Готово".
  bool NotKept = false;
  // The descriptor image's first frame has gone: the relay holds the new map.
  bool DescWritten = false;
};

// Appends the read of Regs into the register image, then hands them to
// Shown (the pages bound to them show the image).
void AppendReadBack(TIOChainList3 &Chain, const std::vector<uint16_t> &Regs, const std::shared_ptr<TStopWatch> &Watch,
                    const TRegistersShown &Shown) {
  QByteArray request;
  for (uint16_t r : Regs)
    AppendWord(request, r);
  QBuffer &data = Chain.Buffer();
  Chain.readReg(Chain.Buffer(request), data)
      .execStream([](QIODevice *D) { Modbus().LoadRegValues(*D); }, &data)
      .exec([Watch, Regs, Shown, &data] {
        const QByteArray answer = data.data();
        for (qsizetype at = 0; at + 4 <= answer.size(); at += 4)
          Watch->Back[WordAt(answer, int(at))] = WordAt(answer, int(at + 2));
        Watch->ParamsRead = true;
        if (Shown)
          Shown(Regs);
      });
}

// A write cut after it began (a failed answer, an abort, the link) says so
// in the box that stays and in the log: a write that stopped the logic and
// did not start it again leaves the relay without a running logic until a
// rewrite. One cut after its register writes began has read those registers
// back inside itself (RunToLogicOn); the pages show the image even when that
// read failed.
void WatchWriteEnd(TIOChainGen &Gen, TIOChainList3 &Chain, const std::shared_ptr<TStopWatch> &Watch,
                   const TCustomWriteHooks &Hooks) {
  const auto failed = [&Gen, Watch](TIOChain3 *, const QList<int> &) {
    const TDeviceFront *front = Gen.DeviceFront();
    Watch->Reason = front ? front->DeliveryText() : QString();
  };
  Chain.setEvent(1, failed);
  Chain.setEvent(0, [Watch](TIOChain3 *, const QList<int> &) { Watch->Reason = QStringLiteral("Прервано"); });
  Chain.setOnEnd([&Gen, &Chain, Watch, Shown = Hooks.RegistersWritten, Again = Hooks.IdentifyAgain] {
    QString why;
    if (Watch->Off && !Watch->Done)
      why = QString::fromUtf8(CustomTexts::LogicStopped);
    else if (Chain.WriteBegan() && !Watch->Ended)
      why = Watch->Reason.isEmpty() ? QString::fromUtf8(CustomTexts::WriteCut) : Watch->Reason;
    if (!why.isEmpty()) {
      // A close that waits for this write is cancelled: the engineer reads the box.
      Chain.MarkShort(why);
      TellNotWritten(Gen, Chain.Writes(), why);
    }
    if (!Watch->ParamRegs.empty() && !Watch->ParamsRead && Shown)
      Shown(Watch->ParamRegs);
    // The relay holds another map, whole or not: what the pages show and
    // write by comes from it, whatever else of the write went.
    if (Watch->DescWritten && Again)
      Again();
  });
}

QString Text(const char *Utf8) { return QString::fromUtf8(Utf8); }

// Chooses the frames of a file step of the same chain.
using TFramesOf = std::function<void(TIOChain3 *Step)>;

// Frames chooses the frames of the file step appended by Append, in a step
// put before it that holds the step itself: steps the chain puts between
// the two (the identity check before its first write) do not move it.
void AppendFramed(TIOChainList3 &Chain, const TFramesOf &Frames, const std::function<void()> &Append) {
  const auto step = std::make_shared<TIOChain3 *>(nullptr);
  Chain.exec([step, Frames] { Frames(*step); });
  Append();
  *step = Chain.Step(Chain.Count() - 1);
}

// A file's frames written from the chain's own copy Written, then read back
// and compared with Compared; Frames chooses the frames of each of the two.
void AppendWriteAndCheck(TIOChainList3 &Chain, const char *WriteText, const char *CheckText, uint8_t File,
                         uint8_t Type, const QString &Written, const QString &Compared, const TFramesOf &Frames) {
  Chain.msg(Text(WriteText));
  AppendFramed(Chain, Frames, [&] { Chain.writeFile(File, Type, Written); });
  Chain.msg(Text(CheckText));
  AppendFramed(Chain, Frames, [&] { Chain.compareFile(File, Type, Compared); });
}

// The files a write sends and the device's files it decides against, in a
// folder of its own that lives as long as the chain: what is saved into the
// work folder while the write runs goes with the next one.
class TChainFolder {
public:
  explicit TChainFolder(const QString &WorkDir)
      : FDir(QDir(WorkDir.isEmpty() ? QDir::currentPath() : WorkDir).filePath(QStringLiteral("logic-write-XXXXXX"))) {
    if (!FDir.isValid())
      throw EKvError(QStringLiteral("cannot create folder %1: %2").arg(FDir.path(), FDir.errorString()));
  }
  QString Path(const char *Name) const { return FDir.filePath(QString::fromLatin1(Name)); }
  // Saves Bytes as Name; its path.
  QString Put(const char *Name, const QByteArray &Bytes) const {
    const QString path = Path(Name);
    SaveFileBytes(path, Bytes);
    return path;
  }

private:
  QTemporaryDir FDir;
};

// What the write was prepared for and what it writes, on its chain, which
// keeps Folder (made first: a chain is made only once its files are there).
TIOChainList3 &WriteChain(TIOChainGen &Gen, const TCustomWriteHooks &Hooks,
                          const std::shared_ptr<const TChainFolder> &Folder) {
  TIOChainList3 &c = Gen.newList();
  c.Keep<std::shared_ptr<const TChainFolder>>(Folder);
  c.ownedBy(Hooks.Owner);
  if (Hooks.PreparedFor != 0)
    c.preparedFor(Hooks.PreparedFor);
  if (!Hooks.Writes.isEmpty())
    c.writes(Hooks.Writes);
  return c;
}

// The external FLASH header read into the chain's folder and checked: the
// custom logic's first frame comes from this header, the relay's now.
QString AppendFlashHeaderSteps(TIOChainList3 &Chain, const TChainFolder &Folder) {
  const QString head = Folder.Path(CustomFiles::Head);
  Chain.setFrameSize(FlashFrameBytes).readFile(FlashFileNo, 0, head).exec([head] {
    CheckFlashHeaderBytes(LoadFileBytes(head));
  });
  return head;
}

constexpr int CustomLogicSubFile = 5;

// The frames of sub-file 5 from the header read into the chain's folder.
TFramesOf CustomLogicFrames(const QString &Head) {
  return [Head](TIOChain3 *Step) {
    SetFlashFrames(Step, {CustomLogicSubFile}, [Head](TIOChain3 *S, const QList<int> &Args) {
      const uint16_t first = FlashSubFileStart(LoadFileBytes(Head), Args.at(0));
      if (auto *read = dynamic_cast<TIOChain3readFile *>(S))
        read->setFrameFirst(first);
      else
        static_cast<TIOChain3writeFile *>(S)->setFrameFirst(first);
    });
  };
}

// Right after the identity check, before anything is written: the first
// frame of the relay's custom logic, its head compared with the ones the
// write was made for. Two relays of one type and firmware, or one whose
// logic another tool has changed, pass the identity check alike; only the
// logic tells them apart. Only writes of logic read from the relay pay for
// the frame.
void AppendLogicHeadCheck(TIOChainList3 &Chain, const TChainFolder &Folder, const QString &Head,
                          const TCustomWriteHooks &Hooks) {
  if (Hooks.LogicHeads.isEmpty())
    return;
  const QString frame = Folder.Path("logic-head.bin");
  const TFramesOf first = [Head](TIOChain3 *Step) {
    const uint16_t f = FlashSubFileStart(LoadFileBytes(Head), CustomLogicSubFile);
    auto *read = static_cast<TIOChain3readFile *>(Step);
    read->setFrameFirst(f);
    read->setFrameLast(f);
  };
  Chain.setFrameSize(FlashFrameBytes).checkBefore();
  AppendFramed(Chain, first, [&] { Chain.readFile(FlashFileNo, 0, frame); });
  Chain.exec([&Chain, frame, heads = Hooks.LogicHeads, why = Hooks.OtherLogic] {
    if (!heads.contains(SubFileHeadOfFrame(LoadFileBytes(frame))))
      Chain.RefuseWrite(why);
  });
}

// The custom logic (the chain's copy Custom) as sub-file 5, written and compared.
void AppendCustomLogicSteps(TIOChainList3 &Chain, const QString &Head, const QString &Custom,
                            const TCustomWriteHooks &Hooks) {
  const TFramesOf frames = CustomLogicFrames(Head);
  // The write step packs the copy as this does: the head the relay holds
  // once its first frame has gone.
  const QByteArray sent = SubFileHead(DeflateBytes(LoadFileBytes(Custom)));
  const auto written = [Hooks, sent](bool Confirmed) {
    return [Hooks, sent, Confirmed] {
      if (Hooks.LogicWritten)
        Hooks.LogicWritten(sent, Confirmed);
    };
  };
  Chain.setFrameSize(FlashFrameBytes).msg(Text(CustomTexts::FlashWrite)).exec(written(false));
  AppendFramed(Chain, frames, [&] { Chain.writeFile(FlashFileNo, 2, Custom); });
  Chain.msg(Text(CustomTexts::FlashCheck));
  // The write step leaves the sub-file it sent beside the copy.
  AppendFramed(Chain, frames, [&] { Chain.compareFile(FlashFileNo, 2, Custom + QStringLiteral(".z")); });
  Chain.exec(written(true));
}

void StopLogic(TIOChainList3 &Chain, const std::shared_ptr<TStopWatch> &Watch) {
  Chain.msg(Text(CustomTexts::SpecOff)).exec([Watch] { Watch->Off = true; }).specCmd(ctSpecCmdOff);
}

// The registers of a stream of pairs (register, value), each once.
std::vector<uint16_t> StreamRegisters(const QByteArray &Stream) {
  std::vector<uint16_t> regs;
  for (qsizetype at = 0; at + 4 <= Stream.size(); at += 4)
    if (const uint16_t r = WordAt(Stream, int(at)); std::find(regs.begin(), regs.end(), r) == regs.end())
      regs.push_back(r);
  return regs;
}

// The write's end, told as its report that stays: no box opened by a step
// holds the program (a close waits for the write, then goes on). A write
// whose values were not all kept has said so instead.
void ReportReady(TIOChainList3 &Chain, const std::shared_ptr<TStopWatch> &Watch) {
  Chain.exec([&Chain, Watch] {
    if (!Watch->NotKept)
      Chain.Report(Text(CustomTexts::Ready));
  });
}

// The values of Stream (pairs register, value) as the pages write them:
// named as Values name their registers, compared on their bits.
TWriteBatch StreamBatch(const QByteArray &Stream, const std::vector<TParamStreamEntry> &Values) {
  TWriteBatch batch;
  for (qsizetype at = 0; at + 4 <= Stream.size(); at += 4) {
    const uint16_t reg = WordAt(Stream, int(at)), word = WordAt(Stream, int(at + 2));
    TWriteValue v;
    v.Name = QString::number(reg);
    v.Words = {{reg, word}};
    v.Checked = word;
    const auto e = std::find_if(Values.begin(), Values.end(), [reg](const TParamStreamEntry &E) { return E.Reg == reg; });
    if (e != Values.end()) {
      v.Name = e->Group == 0 ? e->Name
                             : MultiLingual().Translate(QString("Группа %1").arg(e->Group)) + ": " + e->Name;
      v.Compared = e->Compared;
      // The value as the engineer reads it; no limit is checked here (the
      // build has checked the stream).
      if (e->Show)
        v.Limit.Show = [Show = e->Show](int W) { return Show(uint16_t(W)); };
    }
    batch.Add(std::move(v));
  }
  return batch;
}

// After the stream's read-back: every value compared with what was sent, a
// value not kept reported as the pages report it, and the write short.
void AppendStreamComparison(TIOChainGen &Gen, TIOChainList3 &Chain, const std::shared_ptr<TStopWatch> &Watch,
                            const TWriteBatch &Batch) {
  Chain.exec([&Gen, &Chain, Watch, Batch] {
    const std::vector<TPlannedWrite> plan = PlanWrites(Batch);
    TWriteTrack track;
    track.Stages.assign(plan.size(), TWriteStage::Answered);
    for (const TPlannedWrite &w : plan)
      track.Sent.push_back(w.Words);
    track.Back = Watch->Back;
    const QString text = NotKeptReport(Batch, plan, track, ValueOutcomes(Batch, plan, track));
    if (text.isEmpty())
      return;
    Watch->NotKept = true;
    Chain.MarkShort(text);
    Gen.WriteReport(text);
    Chain.Log().Error(text);
  });
}

// The end of a write that stopped the logic: Modbus on, the registers when
// given (written from the chain's own copy, then read back for the pages),
// the logic on, then "Готово" as the last step.
void RunToLogicOn(TIOChainList3 &Chain, const std::shared_ptr<TStopWatch> &Watch, const QByteArray *Params,
                  bool SayLogicOn, const TCustomWriteHooks &Hooks) {
  Chain.msg(Text(CustomTexts::Pause)).specCmd(ctSpecCmdModbusOn);
  if (Params) {
    const std::vector<uint16_t> regs = StreamRegisters(*Params);
    // Once the registers begin to go, a write cut reads them back inside
    // itself: a close waits for that read too.
    Chain.msg(Text(CustomTexts::ParamWrite))
        .exec([&Chain, Watch, regs, Shown = Hooks.RegistersWritten] {
          Watch->ParamRegs = regs;
          if (regs.empty())
            return;
          TIOChainList3 &back = Chain.FGen->newList();
          AppendReadBack(back, regs, Watch, Shown);
          Chain.afterFailure(back);
        })
        .writeReg(Chain.Buffer(*Params));
    if (!regs.empty()) {
      AppendReadBack(Chain, regs, Watch, Hooks.RegistersWritten);
      // Read back already: a cut after this point reads nothing more.
      Chain.exec([&Chain] { Chain.afterFailure(Chain.FGen->newList()); });
      AppendStreamComparison(*Chain.FGen, Chain, Watch, StreamBatch(*Params, Hooks.Values));
    }
  }
  if (SayLogicOn)
    Chain.msg(Text(CustomTexts::SpecOn));
  Chain.specCmd(ctSpecCmdOn).exec([Watch] { Watch->Done = Watch->Ended = true; });
  if (Hooks.RenewIdentity)
    Hooks.RenewIdentity(Chain);
  ReportReady(Chain, Watch);
  Chain.run(Hooks.Progress);
}

} // namespace

uint32_t DateToBcd(const QDate &Date) { return PackBcdDate(Date.year(), Date.month(), Date.day()); }

QByteArray BuildDescBin(TDeviceDescriptor &Desc, const QByteArray &Code, uint32_t CoreDate, uint32_t Today,
                        uint32_t IdentCrc, const QString &HeaderList) {
  const uint16_t codeSize = CheckedCast<uint16_t>(Code.size());
  QByteArray bytes;
  QBuffer stream(&bytes);
  stream.open(QIODevice::ReadWrite);
  AppendWord(bytes, 0);
  stream.seek(2);
  Desc.BuildBin(stream, Code, codeSize, CoreDate, Today, IdentCrc);
  Desc.WriteHeaderListing(stream, HeaderList);
  const uint16_t words = CheckedCast<uint16_t>(bytes.size() / 2);
  bytes[0] = char(words & 0xFF);
  bytes[1] = char(words >> 8);
  return bytes;
}

namespace {

QString RecordName(const TDDNamedObject &Record) {
  return Record.String.isEmpty() ? Record.FModbusObject.IderName() : Record.String;
}

std::function<QString(uint16_t)> EnumShow(const TDDStringList &Strings) {
  QStringList items;
  for (const TDDString &s : Strings)
    items << s.Value1;
  return [items](uint16_t W) { return W < items.size() ? items[W] : QString::number(W); };
}

// A bit set: the word, then the named positions it sets ("37 (Ia, Ic, Внешний)").
std::function<QString(uint16_t)> BitSetShow(const TDDStringList &Strings) {
  QStringList items;
  for (const TDDString &s : Strings)
    items << s.Value1;
  return [items](uint16_t W) {
    QStringList set;
    for (int bit = 0; bit < std::min<qsizetype>(items.size(), 16); ++bit)
      if (W & (1u << bit))
        set << items[bit];
    return set.isEmpty() ? QString::number(W) : QStringLiteral("%1 (%2)").arg(W).arg(set.join(QStringLiteral(", ")));
  };
}

// A setpoint's word as the engineer reads it: an item, a bit set, a scaled number.
std::function<QString(uint16_t)> UstavShow(const TDDUstav &Ustav) {
  if (Ustav.Kind == TDDUstav::ukEnum)
    return Ustav.RecordType == UstavBitSetType ? BitSetShow(Ustav.GetEnum().Strings)
                                               : EnumShow(Ustav.GetEnum().Strings);
  TDDUstavNumeric n = Ustav.GetNumeric();
  if (n.Measure && n.Measure->Dopkod)
    return [](uint16_t W) { return QString::number(int16_t(W)); };
  // The scaling goes along as a copy of the measure.
  const auto measure = n.Measure ? std::make_shared<TDDMeasure>(*n.Measure) : nullptr;
  n.Measure = measure.get();
  return [n, measure](uint16_t W) { return n.ValueToStr(W); };
}

// The bits of a setpoint's word the descriptor names: a bit set's positions
// with a name (an empty one or one beginning with "-" keeps its place free,
// as on the pages), every bit of any other setpoint.
uint16_t NamedPositions(const TDDUstav &Ustav) {
  if (Ustav.Kind != TDDUstav::ukEnum || Ustav.RecordType != UstavBitSetType)
    return 0xFFFF;
  const TDDStringList &names = Ustav.GetEnum().Strings;
  uint16_t bits = 0;
  for (size_t b = 0; b < std::min<size_t>(names.size(), 16); ++b)
    if (!names[b].Value1.isEmpty() && !names[b].Value1.startsWith('-'))
      bits = uint16_t(bits | (1u << b));
  return bits;
}

std::function<QString(uint16_t)> ParamShow(const TDDParam &Param) {
  if (Param.Kind == TDDParam::pkEnum)
    return EnumShow(Param.GetEnum().Strings);
  return [](uint16_t W) { return QString::number(W); };
}

} // namespace

std::vector<TParamStreamEntry> ParamStreamEntries(const TDeviceDescriptor &Desc, bool All) {
  std::vector<TParamStreamEntry> out;
  const TDDParamCommon &c = Desc.FParamCommon;
  for (size_t i = 0; i < Desc.FUstavs.size(); ++i) {
    const TDDUstav &u = *Desc.FUstavs[i];
    if (!u.Custom && !All)
      continue;
    const auto show = UstavShow(u);
    const uint16_t compared = NamedPositions(u);
    out.push_back({StreamRegister(c.Ustav1, int(i)), u.GetValue(0), RecordName(u), 1, show, compared});
    out.push_back({StreamRegister(c.Ustav2, int(i)), u.GetValue(1), RecordName(u), 2, show, compared});
  }
  if (All)
    for (const auto &p : Desc.FParams)
      if (p->Kind != TDDParam::pkChar)
        out.push_back({StreamRegister(*p, 0), p->Value, RecordName(*p), 0, ParamShow(*p)});
  return out;
}

QByteArray BuildParamStream(const TDeviceDescriptor &Desc, bool All) {
  QByteArray out;
  for (const TParamStreamEntry &e : ParamStreamEntries(Desc, All)) {
    AppendWord(out, e.Reg);
    AppendWord(out, e.Value);
  }
  return out;
}

namespace {

QString Tr(const char *Utf8) { return MultiLingual().FromRussian(QString::fromUtf8(Utf8)); }

// Whether the identification is still the one Hooks was prepared for, and
// Watch saw neither another device nor a link failure; if not, the
// generator's box says that the write goes nowhere.
bool StillPrepared(TIOChainGen &Gen, const TParamConfirmHooks &Hooks, const TIdentWatch *Watch = nullptr) {
  if ((!Watch || !Watch->Changed()) && (Hooks.PreparedFor == 0 || Gen.IdentEpoch() == Hooks.PreparedFor))
    return true;
  TellNotWritten(Gen, Hooks.Writes.isEmpty() ? QString::fromUtf8(WriteTexts::WritesDefault) : Hooks.Writes,
                 QString::fromUtf8(WriteTexts::PreparedForOther));
  return false;
}

// After the device's values of Entries have been read (Answer: pairs
// register, value): the question, the password, the write.
void ConfirmReadParams(TIOChainGen &Gen, const std::vector<TParamStreamEntry> &Entries, const QByteArray &Answer,
                       const TParamConfirmHooks &Hooks, const std::function<void(const QByteArray &)> &Write,
                       bool Owned) {
  // The page closed while a box of its own was open: the answers are for nobody.
  const auto gone = [&Hooks, Owned] { return Owned && !Hooks.Owner; };
  if (gone() || !StillPrepared(Gen, Hooks))
    return;
  QHash<uint16_t, uint16_t> device;
  for (qsizetype at = 0; at + 4 <= Answer.size(); at += 4)
    device.insert(WordAt(Answer, int(at)), WordAt(Answer, int(at + 2)));
  QStringList lines{Tr(CustomTexts::ParamChangedHead)};
  QByteArray stream;
  for (const TParamStreamEntry &e : Entries) {
    const auto held = device.constFind(e.Reg);
    if (held != device.constEnd() && *held == e.Value)
      continue;
    const QString was = held != device.constEnd() ? e.Show(*held) : QStringLiteral("?");
    lines << (e.Group != 0 ? Tr(CustomTexts::ParamChangedUstav).arg(e.Name, QString::number(e.Group), was, e.Show(e.Value))
                           : Tr(CustomTexts::ParamChangedParam).arg(e.Name, was, e.Show(e.Value)));
    AppendWord(stream, e.Reg);
    AppendWord(stream, e.Value);
  }
  // An answer given while another device came is an answer to nothing.
  const TIdentWatch watch(Gen);
  if (!stream.isEmpty()) {
    lines << Tr(CustomTexts::ParamChangedChoice);
    const TMsgResult answer = ShowMessageBox(TMsgKind::Question, lines.join(QStringLiteral("\r\n")));
    if (gone() || !StillPrepared(Gen, Hooks, &watch))
      return;
    if (answer == TMsgResult::No)
      stream.clear();
    else if (answer != TMsgResult::Yes)
      return;
  }
  const bool granted = stream.isEmpty() || !Hooks.RequestUserRights || Hooks.RequestUserRights();
  if (gone() || !StillPrepared(Gen, Hooks, &watch) || !granted)
    return;
  Write(stream);
}

} // namespace

void ConfirmParamStream(TIOChainGen &Gen, std::vector<TParamStreamEntry> Entries, const TParamConfirmHooks &Hooks,
                        std::function<void(const QByteArray &Stream)> Write) {
  if (!StillPrepared(Gen, Hooks))
    return;
  if (Entries.empty()) {
    Write({});
    return;
  }
  struct TRead {
    std::vector<TParamStreamEntry> Entries;
    QBuffer Request, Answer;
  };
  const auto read = std::make_shared<TRead>();
  read->Entries = std::move(Entries);
  QByteArray regs;
  for (const TParamStreamEntry &e : read->Entries)
    AppendWord(regs, e.Reg);
  read->Request.setData(regs);
  read->Request.open(QIODevice::ReadOnly);
  read->Answer.open(QIODevice::ReadWrite);
  TIOChainList3 &c = Gen.newList();
  c.ownedBy(Hooks.Owner);
  // The last step holds the buffers, so they live as long as the chain. The
  // question and the password wait until the read has ended: they are modal,
  // and the write they start is a chain of its own.
  const bool owned = !Hooks.Owner.isNull();
  c.msg(Text(CustomTexts::ReadingUstavs))
      .readReg(read->Request, read->Answer)
      .exec([&Gen, read, Hooks, Write, owned] {
        QTimer::singleShot(0, &Gen, [&Gen, read, Hooks, Write, owned] {
          try {
            ConfirmReadParams(Gen, read->Entries, read->Answer.data(), Hooks, Write, owned);
          } catch (const std::exception &e) {
            ShowEdgeError(QString::fromUtf8(e.what()));
          }
        });
      });
  if (!Hooks.Writes.isEmpty())
    c.writes(Hooks.Writes);
  // The values read are the identified relay's, or none is read.
  if (Hooks.CheckIdentity)
    Hooks.CheckIdentity(c);
  c.run(Hooks.Progress);
}

namespace {

// The limits the pages give a value of the same register.
TWriteLimit UstavLimit(const TDDUstav &Ustav) {
  if (Ustav.Kind == TDDUstav::ukEnum) {
    // A bit set's word is a set of its positions: every word is one.
    if (Ustav.RecordType == UstavBitSetType)
      return {};
    const auto show = EnumShow(Ustav.GetEnum().Strings);
    return {TWriteLimit::Enum, 0, int(Ustav.GetEnum().Strings.size()) - 1, [show](int I) { return show(uint16_t(I)); }};
  }
  const TDDUstavNumeric &n = Ustav.GetNumeric();
  const bool isSigned = n.Measure && n.Measure->Dopkod;
  const auto show = UstavShow(Ustav);
  return {TWriteLimit::Range, n.SecValMin, n.SecValMax,
          [show, isSigned](int W) { return isSigned ? QString::number(W) : show(uint16_t(W)); }, isSigned};
}

TWriteLimit ParamLimit(const TDDParam &Param) {
  if (Param.Kind == TDDParam::pkEnum) {
    const auto show = EnumShow(Param.GetEnum().Strings);
    return {TWriteLimit::Enum, 0, int(Param.GetEnum().Strings.size()) - 1, [show](int I) { return show(uint16_t(I)); }};
  }
  const TDDParamNumeric &n = Param.GetNumeric();
  // A word-min and word-max both 0 give no limits, on the parameters page as here.
  if (n.Min == 0 && n.Max == 0)
    return {};
  return {TWriteLimit::Range, n.Min, n.Max, nullptr};
}

} // namespace

QString UstavLimitLine(const TDDUstav &Ustav, uint16_t Value) {
  return LimitLine(RecordName(Ustav), UstavLimit(Ustav), Value);
}

QString ParamStreamLimitReport(const TDeviceDescriptor &Desc, bool All) {
  QString report;
  for (const auto &record : Desc.FUstavs) {
    const TDDUstav &u = *record;
    if (!u.Custom && !All)
      continue;
    for (int group = 0; group < 2; ++group)
      report += UstavLimitLine(u, u.GetValue(group));
  }
  if (All)
    for (const auto &p : Desc.FParams)
      if (p->Kind != TDDParam::pkChar)
        report += LimitLine(RecordName(*p), ParamLimit(*p), p->Value);
  return report;
}

QString RelayLimitReport(const IXXMLNode &Root, const std::vector<TParamStreamEntry> &Entries) {
  QString report;
  for (const TParamStreamEntry &e : Entries) {
    const auto refuse = [&e](const char *Why) {
      return QStringLiteral("\r\nПомилка \"%1\" ").arg(e.Name) +
             MultiLingual().FromRussian(QString::fromUtf8(Why)).arg(e.Reg);
    };
    // The relay's record of the register: a parameter by its register, a
    // setpoint by the register of any of its groups.
    const IXXMLNode param = Root ? Root->SelectSingleNode(QStringLiteral("param/*[mreg=%1]").arg(e.Reg)) : IXXMLNode();
    std::optional<TWriteValue> value;
    bool described = bool(param);
    if (param) {
      // A parameter of the logic is a one-register number or item of the
      // relay: else the word would mean another thing there.
      const TParamCodec codec(param);
      if (e.Group == 0 && codec.WordCount == 1 && (codec.Kind == TParamKind::Num || codec.Kind == TParamKind::Enum))
        value = ParamWriteValue(codec, {{e.Reg, e.Value}});
    } else if (Root) {
      const IXXMLNodeList all = Root->SelectNodes(QStringLiteral("ustav/*"));
      for (int i = 0; all && i < all->GetCount() && !value; ++i) {
        try {
          const TUstav u(all->GetItem(i));
          if (std::find(u.Regs.begin(), u.Regs.end(), int(e.Reg)) == u.Regs.end())
            continue;
          described = true;
          if (e.Group == 0)
            break;
          value = UstavWriteValue(u, e.Reg, e.Value, false);
          // A bit set's word is a set of its positions, as on the pages.
          if (u.RecordType == '5')
            value->Limit = {};
        } catch (const EKvError &) {
          // A record the pages cannot read describes nothing they write.
        }
      }
    }
    if (!value) {
      report += refuse(described ? CustomTexts::OtherInRelay : CustomTexts::NotInRelay);
      continue;
    }
    report += LimitLine(value->Name, value->Limit, value->Checked);
  }
  return report;
}

void TellNotWritten(TIOChainGen &Gen, const QString &What, const QString &Why) {
  // The box's text goes to the log with it.
  Gen.WriteBox(What, Why);
}

void SetDescFrames(TIOChain3 *Next) {
  auto *write = dynamic_cast<TIOChain3writeFile *>(Next);
  KvCheck(write, "TIOChain3writeFile expected");
  const qint64 frames = (QFileInfo(write->FFileName).size() + DescFrameBytes - 1) / DescFrameBytes;
  write->setFrameFirst(0);
  write->setFrameLast(CheckedCast<uint16_t>(frames > 0 ? frames - 1 : 0));
}

int CodeFirstFrame(const QByteArray &Desc0, qint64 CodeBytes) {
  if (Desc0.size() < 38)
    throw EKvFormat(CustomTexts::DescDecodeError);
  const int b = WordAt(Desc0, 4) - DescHeaderBytes;
  if (b < 0)
    throw EKvFormat(CustomTexts::DescDecodeError);
  // The image builder stores byte addresses: the code area's offset is c - b.
  const int c = WordAt(Desc0, 36);
  if (c - b < 0)
    throw EKvFormat(CustomTexts::DescDecodeError);
  if ((c - b) % DescFrameBytes != 0)
    throw EKvFormat(Text(CustomTexts::CodeAddrError).arg(c, 4, 16, QLatin1Char('0')));
  // The device keeps the old image's length and CRC: code past its end would
  // leave it a corrupt image.
  const qint64 area = qint64(WordAt(Desc0, 0)) * 2 - (c - b);
  if (CodeBytes > area)
    throw EKvRange(Text(CustomTexts::CodeTooLong).arg(CodeBytes).arg(std::max<qint64>(area, 0)));
  return (c - b) / DescFrameBytes;
}

void SetCodeFrames(TIOChain3 *Next, const QByteArray &Desc0, qint64 CodeBytes) {
  auto *read = dynamic_cast<TIOChain3readFile *>(Next);
  auto *write = dynamic_cast<TIOChain3writeFile *>(Next);
  if (!read && !write)
    throw EKvError("TIOChain3readFile or TIOChain3writeFile expected");
  const int first = CodeFirstFrame(Desc0, CodeBytes);
  const qint64 frames = (CodeBytes + DescFrameBytes - 1) / DescFrameBytes;
  const uint16_t f = CheckedCast<uint16_t>(first);
  const uint16_t l = CheckedCast<uint16_t>(first + std::max<qint64>(frames, 1) - 1);
  if (read) {
    read->setFrameFirst(f);
    read->setFrameLast(l);
  } else {
    write->setFrameFirst(f);
    write->setFrameLast(l);
  }
}

void StoreCustomLogic(const TCustomLogicState &State, const QString &Name) {
  const IXXMLNode root = State.CustomDoc ? State.CustomDoc->GetDocumentElement() : IXXMLNode();
  if (!root)
    throw EKvError(CustomTexts::NotLoaded);
  if (State.Module)
    if (TDeviceDescriptor *d = DeviceOf(State.Module->Descriptor.get()))
      StoreNameTables(*d, root);
  SaveXMLDocument(State.CustomDoc, ResolveFileNameCI(State.WorkDir, Name));
}

void CheckLogicTarget(const TCustomLogicState &State, const TCustomBuildEnv &Env) {
  if (State.Source == 0)
    Fail(CustomTexts::NotLoaded);
  if (State.Source != 2)
    return;
  if (Env.Status)
    Env.Status(Text(CustomTexts::CheckIdent));
  if (FileCrc32(WorkFile(State.WorkDir, CustomFiles::Identification)) != Env.DeviceIdentCrc)
    Fail(CustomTexts::BadIdentFile);
}

TCustomWrite BuildCustomLogic(TCustomLogicState &State, const TCustomBuildEnv &Env, TSchemaCompile &Compiler,
                              QStringList &Errors, QBuffer &ParamStream, std::vector<TParamStreamEntry> *Entries) {
  const auto status = [&](const char *T) {
    if (Env.Status)
      Env.Status(Text(T));
  };
  // Nothing loaded leaves nothing to merge into.
  if (State.Source == 0 || !State.Module || !State.LogicDoc || !State.LogicDoc->GetDocumentElement())
    Fail(CustomTexts::NotLoaded);
  const QString dir = State.WorkDir;
  QFile::remove(WorkFile(dir, CustomFiles::Generated));
  StoreCustomLogic(State, QString::fromLatin1(CustomFiles::CustomLogic));

  status(CustomTexts::Loading);
  TModule &module = *State.Module;
  module.Clear();
  module.SetConfigurator(State.Configurator);
  module.LoadFromNode(State.LogicDoc->GetDocumentElement());
  TDeviceDescriptor &desc = DeviceOfModule(module);
  // The base logic read again carries the base names: the user's go into
  // the image as well.
  ApplyNameTables(desc, State.CustomDoc->GetDocumentElement());
  if (!Env.CharMap.isEmpty()) {
    if (Env.CharMap.size() != 256)
      throw EKvRange("character map of 256 bytes expected");
    desc.CopyCharMap(reinterpret_cast<const uint8_t *>(Env.CharMap.constData()));
  }
  desc.SetCalibrationTable(Env.Calibration.data(), int(Env.Calibration.size() / 4));
  desc.FWorkFolder = dir;

  status(CustomTexts::Merging);
  MergeUnits(module, State.Units);
  if (Env.SaveSchema)
    module.SaveToFile(WorkFile(dir, CustomFiles::TempSchema));

  CheckLogicTarget(State, Env);

  status(CustomTexts::Compiling);
  Errors.clear();
  Compiler.WorkFolder = dir;
  if (!State.Configurator)
    throw EKvError("invalid configurator");
  Compiler.Compile(*State.Configurator, module, Errors, Env.BlockSize);
  if (!Errors.isEmpty()) {
    ShowMessageBox(TMsgKind::Error, Text(CustomTexts::ErrorsSeeLog));
    QString list;
    for (const QString &e : Errors)
      list += e + QStringLiteral("\r\n");
    throw EKvError(Text(CustomTexts::ErrorsFound) + list.left(2000));
  }

  // The stream goes to the relay's registers on every logic-only write, and
  // on a full write when the setting asks: no value outside its limits may.
  const TCustomWrite write = State.Source == 2 && Env.WriteAllSetting ? TCustomWrite::All : TCustomWrite::Logic;
  // A logic-only write leaves the relay's descriptor in place: its limits,
  // the ones the pages keep, hold as well.
  std::vector<TParamStreamEntry> entries = ParamStreamEntries(desc, State.Source == 2);
  if (Env.LimitCheck && (write == TCustomWrite::Logic || Env.ParamUstavWrite)) {
    QString report = ParamStreamLimitReport(desc, State.Source == 2);
    if (write == TCustomWrite::Logic)
      report += RelayLimitReport(Env.RelayDescriptor, entries);
    if (!report.isEmpty())
      throw EKvRange(report);
  }
  const QByteArray stream = BuildParamStream(desc, State.Source == 2);
  if (Entries)
    *Entries = std::move(entries);
  ParamStream.close();
  ParamStream.setData(stream);
  ParamStream.open(QIODevice::ReadOnly);
  return write;
}

TLogicWriteFiles BuiltWriteFiles(TCustomLogicState &State, TCustomWrite Write, const QDate &CoreDate,
                                 const QDate &Today) {
  const QString dir = State.WorkDir;
  TLogicWriteFiles files;
  files.Code = LoadFileBytes(WorkFile(dir, CustomFiles::Generated));
  if (Write == TCustomWrite::Logic) {
    files.CustomLogic = LoadFileBytes(WorkFile(dir, CustomFiles::CustomLogic));
    return files;
  }
  TDeviceDescriptor &desc = DeviceOfModule(*State.Module);
  files.DescBin = BuildDescBin(desc, files.Code, DateToBcd(CoreDate), DateToBcd(Today),
                               FileCrc32(WorkFile(dir, CustomFiles::Identification)),
                               WorkFile(dir, CustomFiles::HeaderList));
  files.ExtFlash = BuildExtFlashBytes(dir);
  SaveFileBytes(WorkFile(dir, CustomFiles::Desc), files.DescBin);
  SaveFileBytes(WorkFile(dir, CustomFiles::ExtFlash), files.ExtFlash);
  return files;
}

void WriteAll(TIOChainGen &Gen, const QString &WorkDir, const TLogicWriteFiles &Files, const QByteArray &ParamStream,
              bool WriteParams, const TCustomWriteHooks &Hooks) {
  const auto folder = std::make_shared<const TChainFolder>(WorkDir);
  const QString flash = folder->Put(CustomFiles::ExtFlash, Files.ExtFlash);
  const QString desc = folder->Put(CustomFiles::Desc, Files.DescBin);
  // A write step sends its file from the file's start at its first frame.
  const QString descFirst = folder->Put("desc-first.bin", Files.DescBin.left(DescFrameBytes));
  const QString descRest = folder->Put("desc-rest.bin", Files.DescBin.mid(DescFrameBytes));
  TIOChainList3 &c = WriteChain(Gen, Hooks, folder);
  const auto watch = std::make_shared<TStopWatch>();
  const auto wholeFlash = [](TIOChain3 *Step) { SetFlashFrames(Step, {}, {}); };
  const auto wholeDesc = [](TIOChain3 *Step) { SetDescFrames(Step); };
  const int descFrames = int((Files.DescBin.size() + DescFrameBytes - 1) / DescFrameBytes);
  const auto frames = [](int First, int Last) {
    return [First, Last](TIOChain3 *Step) {
      auto *write = static_cast<TIOChain3writeFile *>(Step);
      write->setFrameFirst(CheckedCast<uint16_t>(First));
      write->setFrameLast(CheckedCast<uint16_t>(Last));
    };
  };
  WatchWriteEnd(Gen, c, watch, Hooks);
  StopLogic(c, watch);
  c.setFrameSize(FlashFrameBytes);
  AppendWriteAndCheck(c, CustomTexts::FlashWrite, CustomTexts::FlashCheck, FlashFileNo, 0, flash, flash, wholeFlash);
  c.setFrameSize(DescFrameBytes).msg(Text(CustomTexts::LogicWrite));
  if (descFrames > 1)
    AppendFramed(c, frames(1, descFrames - 1), [&] { c.writeFile(DescFileNo, 0, descRest); });
  AppendFramed(c, frames(0, 0), [&] { c.writeFile(DescFileNo, 0, descFirst); });
  c.exec([watch] { watch->DescWritten = true; }).msg(Text(CustomTexts::LogicCheck));
  AppendFramed(c, wholeDesc, [&] { c.compareFile(DescFileNo, 0, desc); });
  TCustomWriteHooks hooks = Hooks;
  // The identification that follows reads the new map whole.
  if (Hooks.IdentifyAgain)
    hooks.RenewIdentity = nullptr;
  RunToLogicOn(c, watch, WriteParams ? &ParamStream : nullptr, true, hooks);
}

void WriteLogic(TIOChainGen &Gen, const QString &WorkDir, const TLogicWriteFiles &Files, const QByteArray &ParamStream,
                const TCustomWriteHooks &Hooks) {
  const auto folder = std::make_shared<const TChainFolder>(WorkDir);
  const QString code = folder->Put(CustomFiles::Generated, Files.Code);
  const QString custom = folder->Put(CustomFiles::CustomLogic, Files.CustomLogic);
  const QString desc0 = folder->Path(CustomFiles::Desc0);
  TIOChainList3 &c = WriteChain(Gen, Hooks, folder);
  const qint64 codeBytes = Files.Code.size();
  const auto watch = std::make_shared<TStopWatch>();
  const auto codeFrames = [desc0, codeBytes](TIOChain3 *Step) {
    SetCodeFrames(Step, LoadFileBytes(desc0), codeBytes);
  };
  WatchWriteEnd(Gen, c, watch, Hooks);
  const QString head = AppendFlashHeaderSteps(c, *folder);
  // The device's code area is checked before anything is written, and the
  // custom logic goes after the code: a failure before the code leaves the
  // device's custom logic and code as they were.
  c.setFrameSize(DescFrameBytes).readFile(DescFileNo, 0, desc0).exec([desc0, codeBytes] {
    CodeFirstFrame(LoadFileBytes(desc0), codeBytes);
  });
  AppendLogicHeadCheck(c, *folder, head, Hooks);
  c.setFrameSize(DescFrameBytes);
  StopLogic(c, watch);
  AppendWriteAndCheck(c, CustomTexts::LogicWrite, CustomTexts::LogicCheck, DescFileNo, 0, code, code, codeFrames);
  AppendCustomLogicSteps(c, head, custom, Hooks);
  RunToLogicOn(c, watch, &ParamStream, false, Hooks);
}

void WriteCustomLogic(TIOChainGen &Gen, const TCustomLogicState &State, const TCustomBuildEnv &Env,
                      const TCustomWriteHooks &Hooks) {
  CheckLogicTarget(State, Env);
  StoreCustomLogic(State, QString::fromLatin1(CustomFiles::CustomLogic));
  const auto folder = std::make_shared<const TChainFolder>(State.WorkDir);
  const QString custom =
      folder->Put(CustomFiles::CustomLogic, LoadFileBytes(WorkFile(State.WorkDir, CustomFiles::CustomLogic)));
  TIOChainList3 &c = WriteChain(Gen, Hooks, folder);
  const auto watch = std::make_shared<TStopWatch>();
  WatchWriteEnd(Gen, c, watch, Hooks);
  const QString head = AppendFlashHeaderSteps(c, *folder);
  AppendLogicHeadCheck(c, *folder, head, Hooks);
  AppendCustomLogicSteps(c, head, custom, Hooks);
  c.exec([watch] { watch->Ended = true; });
  ReportReady(c, watch);
  c.run(Hooks.Progress);
}

void RestoreCustomLogic(const QString &WorkDir) {
  SaveFileBytes(WorkFile(WorkDir, CustomFiles::CustomLogic), LoadFileBytes(WorkFile(WorkDir, CustomFiles::CustomLogic0)));
}

void SaveProject(const TCustomLogicState &State, const QString &FileName, int CustomSetting) {
  if (!State.CustomDoc || !State.CustomDoc->GetDocumentElement())
    return;
  StoreCustomLogic(State, QString::fromLatin1(CustomSetting != 0 ? CustomFiles::CustomLogic : CustomFiles::CustomLogic0));
  // The base logic as loaded: a build's merge must not be saved, or the next
  // build of the project would merge its units a second time.
  if (!State.LogicDoc || !State.LogicDoc->GetDocumentElement())
    throw EKvError(CustomTexts::NotLoaded);
  SaveXMLDocument(State.LogicDoc, WorkFile(State.WorkDir, CustomFiles::Logic));
  TMultipleFileStream project(FileName);
  project.SetBaseDir(State.WorkDir);
  project.Pack(CustomFiles::ProjectNames());
}

void LoadProject(const QString &Folder, const QString &FileName) {
  TMultipleFileStream project(FileName);
  project.SetBaseDir(Folder);
  project.Unpack(CustomFiles::ProjectNames());
}
