#include "uIdentification.h"

#include "crc.h"
#include "uAppIniFile.h"
#include "uDashboardFrame.h"
#include "uDateTime.h"
#include "uDescriptorXml.h"
#include "uDeviceIO.h"
#include "uErrors.h"
#include "uEventFrame.h"
#include "uFiles.h"
#include "uIOChain3.h"
#include "uIOChainFile.h"
#include "uLinkText.h"
#include "uLogger.h"
#include "uMainForm.h"
#include "uModbus.h"
#include "uModbusTools.h"
#include "uModbustcpForm.h"
#include "oi.h"
#include "uOscHeadFrame.h"
#include "uParamFrame.h"
#include "uPasswdForm.h"
#include "uSimpleDeviceDescriptor.h"
#include "uUstavFrame.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QProgressBar>
#include <QTimer>
#include <chrono>
#include <set>

namespace {
// How the device's files are sent.
constexpr uint8_t FileTypePlain = 0, FileTypeDescriptor = 1, FileTypeZlib = 2;
constexpr int CustomLogicSubFile = 5;
constexpr int FirstTypeReg = 0, TypeWords = 5;

uint16_t Word(const QByteArray &B, qsizetype Offset) {
  return uint16_t(uint8_t(B[Offset]) | (uint8_t(B[Offset + 1]) << 8));
}

void PutWord(QByteArray &B, uint16_t V) {
  B.append(char(V & 0xFF));
  B.append(char(V >> 8));
}

QByteArray ReadAll(QIODevice *Stream) {
  if (!Stream)
    throw EKvAssert("TStream expected");
  Stream->seek(0);
  return Stream->readAll();
}

void Refill(QBuffer &Buffer, const QByteArray &Bytes) {
  Buffer.buffer() = Bytes;
  Buffer.seek(0);
}

// The exception code a failed answer's text names ("Ошибка устройства 02", in
// Russian or in the interface's language), or -1 for any other failure.
int DeviceExceptionOf(const QString &Text) {
  const QString key = QString::fromUtf8(LinkTexts::DeviceError);
  for (const QString &t : {key, LocalLinkText(key)}) {
    const QRegularExpressionMatch m = TextTemplatePattern(t).match(Text);
    bool isHex = false;
    const uint code = m.hasMatch() ? m.captured(1).toUInt(&isHex, 16) : 0;
    if (isHex && code <= 0xFF)
      return int(code);
  }
  return -1;
}

// A continuation of an identification chain: it runs only while the main
// window exists, and with it this object, the descriptor and the pages.
template <class F> std::function<void()> Live(TMainForm &Form, F Fn) {
  return Guarded(&Form, [Fn = std::move(Fn)](TMainForm *) mutable { Fn(); });
}

// A step that works from the relay's descriptor just read: an image that
// does not read as a descriptor (a logic write cut in its frames) is told
// with what to do; the log keeps what failed in it.
template <class F> std::function<void()> FromDescriptor(TMainForm &Form, F Fn) {
  return Live(Form, [Fn = std::move(Fn)]() mutable {
    try {
      Fn();
    } catch (const EKvError &e) {
      Logger().Error(QString::fromUtf8(IdentTexts::DescriptorDamaged) + QStringLiteral(": ") + e.Text());
      throw EKvError(IdentTexts::DescriptorDamaged);
    }
  });
}

QString DateText(TDateTime Value) { return DateTimeToQDateTime(Value).toString(QStringLiteral("yyyy-MM-dd")); }
} // namespace

QByteArray MeasureFactorRequest(const IXXMLNode &Root) {
  QByteArray out;
  std::set<QString> seen;
  const IXXMLNodeList nodes =
      Root->SelectNodes(DXQ_MEASURE_SCALE_REGS);
  for (int i = 0; i < nodes->GetCount(); ++i) {
    const QString text = nodes->GetItem(i)->GetText();
    if (!seen.insert(text).second)
      continue;
    bool ok = false;
    const long long v = text.trimmed().toLongLong(&ok);
    if (!ok || v < 0 || v > 0xFFFF)
      throw EKvRange(QStringLiteral("Range check error: register ") + text);
    PutWord(out, uint16_t(v));
  }
  return out;
}

QByteArray CalibrationSramRequest(const QByteArray &Source) {
  QByteArray out;
  uint16_t last = 0xFFFF;
  for (qsizetype at = 0; at + 16 <= Source.size(); at += 16) {
    const uint16_t w = Word(Source, at + 14);
    if (w != 0xFFFF && w != last) {
      PutWord(out, w);
      last = w;
    }
  }
  return out;
}

int CalibrationItemCount(int Count) {
  if (Count < 0 || Count > TSimpleDeviceDescriptor::MaxCalibration)
    throw EKvError(QString::fromUtf8(IdentTexts::CalibrationCountError) + QString::number(Count));
  return Count * 4;
}

void ApplyCustomLogicNames(const IXXMLNode &Root, const IXXMLNode &Logic) {
  const struct {
    const char *List;
    int RecordType;
  } groups[] = {{"dd-di/item", RT_BITREG_INPUTS}, {"dd-do/item", RT_BITREG_RELAYS}, {"dd-le/item", RT_BITREG_LEDS}};
  for (const auto &g : groups) {
    const IXXMLNodeList items = Logic->SelectNodes(QString::fromLatin1(g.List));
    for (int k = 0; k < items->GetCount(); ++k) {
      const IXXMLNode target = Root->SelectSingleNode(
          QString(DXQ_BIT_BY_TYPE_AND_IDER).arg(g.RecordType).arg(k));
      if (target)
        target->SetStrNode(DX_VALUE, items->GetItem(k)->GetStrAttr(QStringLiteral("caption"), {}));
    }
  }
  const IXXMLNodeList ustav = Logic->SelectNodes(QStringLiteral("dd-ustav/item"));
  for (int i = 0; i < ustav->GetCount(); ++i) {
    const IXXMLNode item = ustav->GetItem(i);
    const IXXMLNode target = Root->SelectSingleNode(
        QString(DXQ_USTAV_NAME_BY_IDER).arg(item->GetIntAttr(QStringLiteral("ider"), -1)));
    if (target)
      target->SetText(item->GetStrAttr(QStringLiteral("caption"), {}));
  }
}

bool NamesAnotherDevice(const QString &FailureText, std::optional<TForeignSign> Sign) {
  // A refusal of the files every relay of the family has (unknown function,
  // address or value), or an answer from another unit or with another
  // function. Busy, a device failure, a garbled or missing answer and a
  // gateway's own exceptions say nothing of which relay it is.
  const int exception = DeviceExceptionOf(FailureText);
  return Sign == TForeignSign::WrongAnswer || (exception >= 1 && exception <= 3);
}

bool IsPasswdRangeValid(int Reg, int Count) {
  return Reg >= 0 && Count > 0 && Reg + Count - 1 <= TModbus::RegCount - 1;
}

// ---------------------------------------------------------------- script

TIdentification::TIdentification(TMainForm &Form, const TAppIniFile &Ini)
    : FForm(Form), FIni(Ini), FClock([] {
        return qint64(std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now().time_since_epoch())
                          .count());
      }) {}

TIdentification::~TIdentification() = default;

void TIdentification::Prepare() {
  FScriptDone = false;
  FIdentifyAgain = false;
  FFlashHead.clear();
  Unidentify();
  FForm.EnterTempFolder();
  for (const char *name : {IdentFiles::DescriptorBin, IdentFiles::DescriptorXml, IdentFiles::CustomLogic})
    QFile::remove(QString::fromLatin1(name));
}

void TIdentification::Unidentify() {
  // Whatever was prepared for the device identified until now is not
  // written to whichever answers next.
  if (!FUnit.IsEmpty() || FForm.Descriptor()->Ready)
    FForm.IOChain()->NextIdentEpoch();
  FUnit = {};
  FDatumRequest.clear();
  FUnconfirmed = false;
  ForgetSigns();
  FForm.Descriptor()->SetReady(false);
  // Nothing of the previous device stays shown while this one is not known.
  FForm.ClearDeviceStrip();
  FForm.ParamFrame->Clear();
  FForm.UstavFrame->Clear();
  FForm.EventFrame->Clear();
  FForm.OscHeadFrame->Clear();
  Modbus().Clear();
}

void TIdentification::RunScript(TIOChainList3 &Chain) {
  // Identified means whole: a script that ends before its last step (a
  // failed answer, a failing local step, an abort) leaves no device, so the
  // timer identifies again as for a device not found. The failure's own text
  // follows in the status line.
  Chain.setOnEnd(Live(FForm, [this] {
    if (FScriptDone)
      return;
    Unidentify();
    FForm.UpdateActions();
  }));
  Run(Chain);
}

void TIdentification::Run(TIOChainList3 &Chain) {
  // The first steps run here; a local step that fails ends the script like
  // any other step: in the status line and the log.
  // The main window owns every identification chain: when it goes, they end
  // without a word.
  Chain.ownedBy(&FForm);
  try {
    Chain.run([this](int Position, int Max, uint32_t Color) { FForm.ShowProgress(Position, Max, Color); });
  } catch (const std::exception &e) {
    const QString text = QString::fromUtf8(e.what());
    FForm.ShowStatus(text);
    Logger().Error(text);
  }
}

void TIdentification::aMonitorPollExecute() {
  // One identification at a time, and none on top of a page's chain: the
  // running one keeps the link until its last answer is in.
  if (FForm.IsLinkBusy()) {
    Logger().Debug("poll skipped: the link is busy");
    return;
  }
  FForm.cbDevNo->clear();
  FUnitChosen = false;
  FDeviceAddr = 0;
  FForm.SetToolBarColor(clLinkError);
  Prepare();
  const int pollAddr = FIni.ReadInteger("device", "pollAddr", -1);
  const int pollAddr1 = FIni.ReadInteger("device", "pollAddr1", -1);
  const int pollAddr2 = FIni.ReadInteger("device", "pollAddr2", -1);

  TIOChainGen &gen = *FForm.IOChain();
  TIOChainList3 &chain = gen.newList();
  // The addresses go to the device as bytes: the default -1 is sent as 255.
  if (pollAddr < 0)
    chain.scan(uint8_t(pollAddr1), uint8_t(pollAddr2), FFoundAddrs);
  else
    chain.poll(uint8_t(pollAddr), FFoundAddrs);
  TIOChainList3 &found = gen.newList();
  BuildDescriptorScript(found, chain, FFoundAddrs, true, true);
  TIOChainList3 &none = gen.newList();
  none.exec(Live(FForm, [this] {
    FForm.ShowStatus(IdentTexts::NoAnswer);
    Logger().Error(IdentTexts::NoAnswer);
  }));
  chain.predicatIfList(ptIf, FFoundAddrs, &found, &none);
  if (FForm.AutoPoll() == 1)
    FForm.SetAutoPoll(0);
  RunScript(chain);
}

void TIdentification::cbDevNoChange() {
  if (FForm.IsLinkBusy()) {
    Logger().Debug("device number change skipped: the link is busy");
    return;
  }
  bool ok = false;
  const int addr = FForm.cbDevNo->currentText().trimmed().toInt(&ok, 16);
  if (!ok || addr < 0 || addr > 255) {
    FForm.ShowStatus(QStringLiteral("Неверный адрес устройства ") + FForm.cbDevNo->currentText());
    return;
  }
  FDeviceAddr = uint8_t(addr);
  FChosenAddr[0] = addr;
  Prepare();
  TIOChainList3 &chain = FForm.IOChain()->newList();
  BuildDescriptorScript(chain, chain, chain.Keep<QList<int>>(FChosenAddr), true, false);
  RunScript(chain);
}

void TIdentification::ConnectToUnit(TUnitPickerForm &Form) {
  if (Form.exec() != QDialog::Accepted)
    return;
  const TNetworkTarget target = Form.Target();
  if (target.Unit < 0 || target.Unit > 255) {
    FForm.ShowStatus(QStringLiteral("Неверный адрес устройства %1").arg(target.Unit));
    return;
  }
  // A poll the timer started while the dialog was open must not run beside
  // the new script on the new link.
  FForm.IOChain()->abort();
  FForm.cbDevNo->setCurrentIndex(-1);
  FForm.cbDevNo->setEnabled(false);
  FUnitChosen = true;
  Logger().Info(QStringLiteral("agent host %1").arg(target.Host));
  Logger().Info(QStringLiteral("agent port %1").arg(target.Port));
  Logger().Info(QStringLiteral("agent unit %1").arg(target.Unit));
  FForm.NPort->setEnabled(false);
  FForm.NBaudrate->setEnabled(false);
  if (TDeviceThread *thread = FForm.DeviceThread()) {
    TOI &oi = thread->DeviceIO().GetOI();
    oi.SetProtocol(TOI::prModbusTcp);
    oi.SetHost(target.Host);
    oi.SetPort(target.Port);
  }
  // The dialog's unit is the device: the script's address step takes it.
  FDeviceAddr = uint8_t(target.Unit);
  FChosenAddr[0] = target.Unit;
  Prepare();
  TIOChainList3 &chain = FForm.IOChain()->newList();
  BuildDescriptorScript(chain, chain, chain.Keep<QList<int>>(FChosenAddr), false, false);
  RunScript(chain);
}

void TIdentification::BuildDescriptorScript(TIOChainList3 &Chain, TIOChainList3 &Store, const QList<int> &Addrs,
                                            bool Dumps, bool FillList) {
  TIOChainGen &gen = *FForm.IOChain();
  // What the steps read into and pass on lives with the chain, not here.
  TScriptScratch &w = Store.Keep<TScriptScratch>();
  QBuffer &request = Store.Buffer(), &answer = Store.Buffer();
  if (FillList)
    Chain.exec(Live(FForm, [this] { FillDeviceList(); }));
  Chain.setDeviceAddr(Addrs)
      .setFrameSize(DESCRIPTOR_FRAME_BYTES)
      .msg(IdentTexts::ReadDescriptor)
      .readFile(FILE_DESCRIPTOR, FileTypeDescriptor, IdentFiles::DescriptorBin);
  TIOChainList3 &decode = gen.newList();
  decode.exec(FromDescriptor(FForm, [this] { DecodeDescriptorStep(); }));
  Chain.predicatFileExists(ptFileExists, IdentFiles::DescriptorXml, nullptr, &decode)
      .exec(FromDescriptor(FForm, [this] { DescriptorReadyStep(); }))
      .exec(FromDescriptor(FForm, [this, &w, &request] {
        // Known once the descriptor just read is loaded.
        w.CalibrAddr = FForm.Descriptor()->CalibrAddr;
        Refill(request, MeasureFactorRequest(FForm.Descriptor()->Root));
      }))
      .readReg(request, answer)
      .exec(FromDescriptor(FForm, [this, &answer] { MeasureRegValues(&answer); }))
      .readFlash(w.CalibrAddr, w.CalibrPtr)
      .readFlash(w.CalibrPtr, w.CalibrCountByte)
      .exec(Live(FForm, [this, &w, &answer] { CalibrationCountStep(w, answer); }));
  // A read of no words is refused by the device: without calibration records
  // (or without a value address in them) the reads are left out.
  TIOChainList3 &records = gen.newList();
  records.readFlashStream(w.CalibrPtr, w.CalibrItems, answer);
  TIOChainList3 &values = gen.newList();
  values.readSram(request, answer);
  Chain.predicatIfList(ptIf, w.CalibrGate, &records, nullptr)
      .exec(Live(FForm, [this, &answer] { CalibrationStep(&answer); }))
      .exec([&w, &request, &answer] {
        Refill(request, CalibrationSramRequest(ReadAll(&answer)));
        Refill(answer, {});
        w.SramGate = request.size() > 0 ? QList<int>{1} : QList<int>{};
      })
      .predicatIfList(ptIf, w.SramGate, &values, nullptr)
      .exec([&w, &request, &answer] {
        // The unit's own datum: its factory calibration values, which no
        // command of the program writes (register writes go to the register
        // area only), read again by every identity check.
        w.DatumRequest = w.SramGate.isEmpty() ? QByteArray() : request.buffer();
        w.Datum = w.SramGate.isEmpty() ? QByteArray() : answer.buffer();
      });
  if (Dumps)
    Chain.exec(Live(FForm, [this, &request] { DumpStream(1, request); }))
        .exec(Live(FForm, [this, &answer] { DumpStream(2, answer); }));
  Chain.exec(Live(FForm, [this, &answer] { CalibrationValuesStep(&answer); }))
      .exec(FromDescriptor(FForm, [this, &request] { RegListStep(&request); }))
      .readReg(request, answer)
      .exec(FromDescriptor(FForm, [this, &answer] { RegValuesStep(&answer); }))
      .execMethod(FForm.ParamFrame, QStringLiteral("ShowValues"))
      .execMethod(FForm.UstavFrame, QStringLiteral("ShowValues"));
  // The head of the custom logic's container, part of the unit's identity.
  QByteArray &logicDigest = Store.Keep<QByteArray>();
  if (FForm.Settings().Custom != -1) {
    TIOChainList3 &flash = gen.newList();
    flash.msg(IdentTexts::ReadFlash)
        .execNext(
            [form = QPointer<TMainForm>(&FForm), this](TIOChain3 *Step, const QList<int> &Args) {
              if (form)
                SetFlashSubFileStart(Step, Args);
            },
            {CustomLogicSubFile})
        .readFile(FILE_EXT_FLASH, FileTypeZlib, IdentFiles::CustomLogic)
        .exec(Live(FForm, [this, &logicDigest] {
          ApplyCustomLogicNames();
          logicDigest = SubFileHead(LoadFileBytes(QString::fromLatin1(IdentFiles::CustomLogic) + ".z"));
        }));
    Chain.setFrameSize(FLASH_FRAME_BYTES)
        .readFile(FILE_EXT_FLASH, FileTypePlain, IdentFiles::FlashHead)
        .exec(Live(FForm, [this] { CheckFlashHeader(); }))
        .predicatIOError(ptIOError, nullptr, &flash);
  }
  Chain
      .exec(Live(FForm, [this, &w, &logicDigest] {
        // The unit identified: where it answers, its type and firmware, and
        // its own datum.
        FUnit = {};
        if (TDeviceThread *thread = FForm.DeviceThread())
          FUnit.Route = thread->DeviceIO().GetOI().RouteText();
        FUnit.Address = FDeviceAddr;
        FUnit.DescFrame = LoadFileBytes(IdentFiles::DescriptorBin).left(DESCRIPTOR_FRAME_BYTES);
        FUnit.LogicDigest = logicDigest;
        FUnit.UnitDatum = w.Datum;
        FDatumRequest = w.DatumRequest;
        // What the pages show was read from this unit.
        FForm.ParamFrame->SetReadUnit(FUnit);
        FForm.UstavFrame->SetReadUnit(FUnit);
        FScriptDone = true;
        FConfirmedAtMs = FClock();
        ForgetSigns();
        FForm.IOChain()->NextIdentEpoch();
      }))
      .msg(IdentTexts::Ready);
}

void TIdentification::LinkFailed() {
  if (FUnit.IsEmpty())
    return;
  FUnconfirmed = true;
  FUnconfirmedWhy.clear();
  // Whatever a check answered before, a link that failed may come back to
  // another device.
  FClearedSigns = 0;
}

bool TIdentification::IsIdentityUnconfirmed() const {
  return FUnconfirmed && !FUnit.IsEmpty() && FForm.IsDeviceReady();
}

void TIdentification::ForgetSigns() {
  FPendingSigns = 0;
  FClearedSigns = 0;
  FCheckedWrite = 0;
}

void TIdentification::ForeignSign(TForeignSign Sign) {
  FLastSign = Sign;
  if (FUnit.IsEmpty())
    return;
  const uint8_t bit = ForeignSignBit(Sign);
  if (Sign == TForeignSign::Reconnect) {
    // Each reconnect is a new connection, perhaps to another device: it is
    // never taken as answered. A write already checked goes no further; its
    // own steps have begun, so it ends through its handlers.
    FPendingSigns |= bit;
    TIOChainList3 *write = FForm.IOChain()->RunningWrite();
    if (write && write->Serial() == FCheckedWrite)
      write->CutWrite(IdentTexts::WriteReconnected);
    return;
  }
  // A device that always answers so to one register costs one check.
  if (FClearedSigns & bit)
    return;
  FPendingSigns |= bit;
}

bool TIdentification::IsIdentitySuspect() const {
  return FPendingSigns != 0 && !FUnit.IsEmpty() && FForm.IsDeviceReady();
}

void TIdentification::AppendIdentityCheck(TIOChainList3 &Steps, TIOChainList3 &Owner, bool Write) {
  // The check compares the address it asked, the descriptor's first frame
  // (the type, the firmware and the descriptor's dates: one frame of 128
  // bytes) and the unit datum (the calibration values in SRAM, a few words)
  // with the unit identified, and with the unit the chain's work was made
  // for. It reads nothing else: the FLASH header says nothing of the unit
  // that these do not, and costs 2 KB on the line.
  const QString desc = QDir(FForm.GetTempFolder()).filePath(IdentFiles::CheckDescriptor);
  QBuffer &datum = Steps.Buffer();
  Steps.setFrameSize(DESCRIPTOR_FRAME_BYTES).readFile(FILE_DESCRIPTOR, FileTypePlain, desc);
  if (!FDatumRequest.isEmpty())
    Steps.readSram(Steps.Buffer(FDatumRequest), datum);
  Steps.exec(Live(FForm, [this, &Owner, &datum, desc, Write] {
    const QByteArray frame = LoadFileBytes(desc).left(DESCRIPTOR_FRAME_BYTES);
    if (!FUnit.SameAnswer(Owner.FDeviceAddr, frame, datum.buffer())) {
      DeviceChanged(Owner, Write);
      return;
    }
    FUnconfirmed = false;
    FConfirmedAtMs = FClock();
    // The signs seen so far are answered; the same ones are not counted again.
    FClearedSigns |= uint8_t(FPendingSigns & ~ForeignSignBit(TForeignSign::Reconnect));
    FPendingSigns = 0;
    Logger().Info("device identity confirmed");
    // The unit identified answers; work made for another one (the tab of the
    // relay at another address) is not written to it.
    if (!Owner.MadeFor().IsEmpty() && !Owner.MadeFor().SameUnit(FUnit)) {
      Logger().Error(QStringLiteral("%1: made for %2, answering %3")
                         .arg(QString::fromUtf8(WriteTexts::MadeForOther), Owner.MadeFor().Describe(),
                              FUnit.Describe()));
      FCheckedWrite = 0;
      if (Write)
        Owner.RefuseWrite(QString::fromUtf8(WriteTexts::MadeForOther));
      else
        Owner.Refuse(QString::fromUtf8(WriteTexts::MadeForOther));
      return;
    }
    FCheckedWrite = Write ? Owner.Serial() : 0;
    Owner.SetSeenUnit(FUnit);
  }));
}

void TIdentification::CheckFailed(TIOChainList3 &Owner, bool Write) {
  const TDeviceFront *front = FForm.IOChain()->DeviceFront();
  if (!front || IsLinkLossText(front->DeliveryText()))
    return; // told as a link failure already
  if (NamesAnotherDevice(front->DeliveryText(), FLastSign)) {
    DeviceChanged(Owner, Write);
    return;
  }
  // Busy, a device failure, a garbled answer or a gateway's own exception
  // says nothing of which relay answers: what was prepared for it stays,
  // nothing is written until the timer's next check has passed.
  FUnconfirmed = true;
  const QString why = QString::fromUtf8(IdentTexts::WriteUnconfirmed) + ": " + front->DeliveryText();
  // Said once: a refused write says it in its own report, and the timer's
  // checks that keep failing so after it (a relay busy for minutes) add
  // nothing until the reason changes.
  if (!Write && why != FUnconfirmedWhy)
    Logger().Error(QString::fromUtf8(IdentTexts::CheckUnconfirmed) + ": " + front->DeliveryText());
  FUnconfirmedWhy = why;
  if (Write)
    Owner.RefuseWrite(FUnconfirmedWhy);
}

void TIdentification::DeviceChanged(TIOChainList3 &Owner, bool Write) {
  Logger().Error(IdentTexts::DeviceChanged);
  FKeptAddr[0] = FDeviceAddr;
  Unidentify();
  FIdentifyAgain = true;
  FForm.UpdateActions();
  // A read the device refused has already ended the check's chain. A read
  // refused says so until the engineer's next command, as a write's report
  // does: the new relay's identification ends with its own "Готово", and
  // the page left empty would read as "this relay has nothing".
  if (Write && !Owner.IsEnded()) {
    Owner.RefuseWrite(IdentTexts::DeviceChanged);
  } else {
    if (!Owner.IsEnded())
      Owner.Refuse(IdentTexts::DeviceChanged);
    FForm.IOChain()->WriteReport(IdentTexts::DeviceChanged);
  }
  // Once the check's chain has gone; a link busy by then leaves it to the timer.
  QTimer::singleShot(0, &FForm, [this] {
    if (FIdentifyAgain && !FForm.IsLinkBusy())
      IdentifyAgain();
  });
}

void TIdentification::CheckIdentity() {
  if (FForm.IsLinkBusy() || FUnit.IsEmpty())
    return;
  // After a link failure the check is what turns the bar green again; after
  // a sign it only answers the sign, and says nothing over what is shown.
  const bool afterFailure = FUnconfirmed;
  FLastSign.reset();
  TIOChainList3 &chain = FForm.IOChain()->newList();
  chain.setEvent(1, [form = QPointer<TMainForm>(&FForm), this, &chain](TIOChain3 *, const QList<int> &) {
    if (form)
      CheckFailed(chain, false);
  });
  AppendIdentityCheck(chain, chain, false);
  if (afterFailure)
    chain.exec(Live(FForm, [this] { FForm.SetToolBarColor(clLinkDone); })).msg(IdentTexts::Ready);
  Run(chain);
}

void TIdentification::GateWrite(TIOChainList3 &Chain) {
  if (FUnit.IsEmpty() || !FForm.IsDeviceReady()) {
    Logger().Error(IdentTexts::WriteNoDevice);
    Chain.Refuse(IdentTexts::WriteNoDevice);
    return;
  }
  if (FUnconfirmed) {
    // The device may be another one by now: the box says what was not written.
    Chain.RefuseWrite(FUnconfirmedWhy.isEmpty() ? QString::fromUtf8(IdentTexts::WriteUnchecked) : FUnconfirmedWhy);
    return;
  }
  // Whatever page polls and whatever the timer does: the relay the write
  // goes to is the one identified, seen right before the first write.
  PutCheckBefore(Chain, true);
}

void TIdentification::GateRead(TIOChainList3 &Chain) {
  if (FUnit.IsEmpty() || !FForm.IsDeviceReady())
    return;
  const int maxAge = Chain.ReadCheckMaxAgeMs();
  if (maxAge > 0 && !FUnconfirmed && FPendingSigns == 0 && SinceConfirmedMs() < maxAge)
    return;
  // What the read shows is of the relay identified, seen right before it.
  PutCheckBefore(Chain, false);
}

void TIdentification::PutCheckBefore(TIOChainList3 &Chain, bool Write) {
  FLastSign.reset();
  TIOChainList3 &check = FForm.IOChain()->newList();
  check.setEvent(1, [form = QPointer<TMainForm>(&FForm), this, &Chain, Write](TIOChain3 *, const QList<int> &) {
    if (form)
      CheckFailed(Chain, Write);
  });
  AppendIdentityCheck(check, Chain, Write);
  Chain.Precede(check);
}

void TIdentification::RenewIdentity(TIOChainList3 &Chain) {
  const QString desc = QDir(FForm.GetTempFolder()).filePath(IdentFiles::CheckDescriptor);
  QBuffer &datum = Chain.Buffer();
  Chain.setFrameSize(DESCRIPTOR_FRAME_BYTES).readFile(FILE_DESCRIPTOR, FileTypePlain, desc);
  if (!FDatumRequest.isEmpty())
    Chain.readSram(Chain.Buffer(FDatumRequest), datum);
  Chain.exec(Live(FForm, [this, desc, &datum] {
    // Kept only while the unit it was read from is still the one
    // identified: nothing of another is taken as this one's.
    if (FUnit.IsEmpty())
      return;
    FUnit.DescFrame = LoadFileBytes(desc).left(DESCRIPTOR_FRAME_BYTES);
    if (!FDatumRequest.isEmpty())
      FUnit.UnitDatum = datum.buffer();
    Logger().Info("device identity kept afresh");
  }));
}

void TIdentification::KeepLogicDigest(const QByteArray &Head) {
  if (!FUnit.IsEmpty() && !FUnit.LogicDigest.isEmpty())
    FUnit.LogicDigest = Head;
}

void TIdentification::IdentifySameUnit() {
  FKeptAddr[0] = FDeviceAddr;
  FIdentifyAgain = true;
  // Once the write's chain has gone; a link busy by then leaves it to the timer.
  QTimer::singleShot(0, &FForm, [this] {
    if (FIdentifyAgain && !FForm.IsLinkBusy())
      IdentifyAgain();
  });
}

void TIdentification::IdentifyAgain() {
  if (FForm.IsLinkBusy())
    return;
  FIdentifyAgain = false;
  Prepare();
  TIOChainList3 &chain = FForm.IOChain()->newList();
  BuildDescriptorScript(chain, chain, chain.Keep<QList<int>>(FKeptAddr), !FUnitChosen, false);
  RunScript(chain);
}

void TIdentification::FillDeviceList() {
  FForm.cbDevNo->blockSignals(true);
  FForm.cbDevNo->clear();
  for (int addr : FFoundAddrs)
    FForm.cbDevNo->addItem(QStringLiteral("%1").arg(addr & 0xFF, 2, 16, QChar('0')).toUpper());
  if (!FFoundAddrs.isEmpty()) {
    FForm.cbDevNo->setCurrentIndex(0);
    FDeviceAddr = uint8_t(FFoundAddrs.first());
  }
  FForm.cbDevNo->blockSignals(false);
}

void TIdentification::DecodeDescriptorStep() {
  // A freshly decoded descriptor is saved where the ready step loads it and as
  // the cache pair that the next identification's descriptor read finds.
  TSimpleDeviceDescriptor *desc = FForm.Descriptor();
  desc->LoadFromBinFile(IdentFiles::DescriptorBin);
  desc->SaveToFile(IdentFiles::DescriptorXml);
  // The cache only spares the next identification the descriptor read: a
  // folder that cannot be written is logged and this one goes on.
  const QString cache = QDir(FForm.ProgramFolder()).filePath(IdentFiles::CacheFolder);
  try {
    QDir().mkpath(cache);
    // The pair and its digest as one set: the XML just written is copied,
    // not made again, and the cache folder is synced once. The descriptor
    // read takes the pair only while both files match the digest.
    const QByteArray bin = LoadFileBytes(IdentFiles::DescriptorBin);
    const QByteArray xml = LoadFileBytes(IdentFiles::DescriptorXml);
    SaveFileSet({{QDir(cache).filePath(desc->IdentHex + ".bin"), bin},
                 {QDir(cache).filePath(desc->IdentHex + ".xml"), xml},
                 {QDir(cache).filePath(DescriptorCacheDigestName(desc->IdentHex)),
                  DescriptorCacheDigest(desc->IdentHex, bin, xml)}});
  } catch (const EKvError &e) {
    Logger().Error(QStringLiteral("descriptor cache not written: ") + e.Text());
  }
}

void TIdentification::DescriptorReadyStep() {
  TSimpleDeviceDescriptor *desc = FForm.Descriptor();
  if (!desc->LoadFromFile(IdentFiles::DescriptorXml)) {
    const QString why = desc->Document->GetParseError();
    throw EKvError(QString::fromUtf8(IdentTexts::DescriptorLoadError) + IdentFiles::DescriptorXml +
                   (why.isEmpty() ? QString() : ": " + why));
  }
  FForm.SetLoggedIn(false);
  FForm.Forms().PasswdForm->ClearExpectedPassword();
  FPasswdReg = 0xFFFF;
  FPasswdWordCount = 0xFFFF;
  if (desc->Ready) {
    const IXXMLNode pw = desc->Root->SelectSingleNode(DXQ_PARAM_PASSWORD);
    if (pw) {
      FPasswdReg = CheckedCast<uint16_t>(pw->GetIntNodeDef(DX_MREG, 0xFFFF));
      FPasswdWordCount = CheckedCast<uint16_t>(pw->GetIntNodeDef(DX_WORD_COUNT, 0xFFFF));
    }
  }
  FForm.DashboardFrame->SetDescriptor(desc);
  FForm.DashboardFrame->Init(FForm.Settings().DashboardFile);
  FForm.ParamFrame->SetDescriptor(desc->Root);
  FForm.UstavFrame->SetDescriptor(desc->Root);
  FForm.EventFrame->SetDescriptor(desc->Root);
  FForm.OscHeadFrame->SetDescriptor(desc);
  Modbus().LoadAccessMap(desc->Root);
  FForm.LabelCoreID->setText(DateText(desc->CoreDate));
  FForm.LabelDescID->setText(DateText(desc->DescDate));
}

void TIdentification::MeasureRegValues(QIODevice *Stream) {
  ReadAll(Stream);
  Modbus().LoadRegValues(*Stream);
  FForm.DashboardFrame->UpdateMeasureFactors();
  FForm.UstavFrame->UpdateMeasureFactors();
  FForm.EventFrame->RefreshMeasureFactors();
}

void TIdentification::CalibrationCountStep(TScriptScratch &Scratch, QBuffer &Answer) {
  FCalibrCount = Scratch.CalibrCountByte;
  Scratch.CalibrItems = CalibrationItemCount(FCalibrCount);
  Scratch.CalibrPtr = uint16_t(Scratch.CalibrPtr + 1);
  Scratch.CalibrGate = Scratch.CalibrItems > 0 ? QList<int>{1} : QList<int>{};
  Refill(Answer, {});
}

void TIdentification::CalibrationStep(QIODevice *Stream) {
  ReadAll(Stream);
  FForm.Descriptor()->LoadCalibration(*Stream);
}

void TIdentification::CalibrationValuesStep(QIODevice *Stream) {
  ReadAll(Stream);
  FForm.Descriptor()->LoadCalibrationValues(*Stream);
  FForm.OscHeadFrame->UpdateCcValues();
}

void TIdentification::DumpStream(int N, QBuffer &Stream) {
  SaveFileBytes(QStringLiteral("dump%1").arg(N), Stream.buffer());
  Stream.seek(0);
}

void TIdentification::RegListStep(QIODevice *Stream) {
  if (!Stream)
    throw EKvAssert("TStream expected");
  Modbus().SaveRegList(*Stream);
  Stream->seek(0);
}

void TIdentification::RegValuesStep(QIODevice *Stream) {
  ReadAll(Stream);
  Modbus().LoadRegValues(*Stream);
  if (Modbus().IsValid(FirstTypeReg))
    FForm.LabelDeviceType->setText(Modbus().GetString(FirstTypeReg, TypeWords));
  if (IsPasswdRangeValid(FPasswdReg, FPasswdWordCount))
    FForm.Forms().PasswdForm->SetExpectedPassword(Modbus().GetString(FPasswdReg, FPasswdWordCount));
}

void TIdentification::CheckFlashHeader() {
  const QByteArray head = LoadFileBytes(IdentFiles::FlashHead);
  FFlashHead = head;
  CheckFlashHeaderBytes(head);
}

void TIdentification::SetFlashSubFileStart(TIOChain3 *Step, const QList<int> &Args) {
  if (Args.size() != 1)
    throw EKvAssert("sub-file expected");
  const uint16_t first = FlashSubFileStart(FFlashHead, Args[0]);
  if (auto *read = dynamic_cast<TIOChain3readFile *>(Step))
    read->setFrameFirst(first);
  else if (auto *write = dynamic_cast<TIOChain3writeFile *>(Step))
    write->setFrameFirst(first);
  else
    throw EKvError("TIOChain3readFile or TIOChain3writeFile expected");
}

void TIdentification::ApplyCustomLogicNames() {
  IXXMLDocument doc = NewXMLDocument();
  if (!doc->Load(IdentFiles::CustomLogic))
    throw EKvFormat(QStringLiteral("%1: %2").arg(IdentFiles::CustomLogic, doc->GetParseError()));
  ::ApplyCustomLogicNames(FForm.Descriptor()->Root, doc->GetDocumentElement());
  FForm.DashboardFrame->UpdateBitNames();
  FForm.UstavFrame->UpdateNames();
}

void TIdentification::PasswordReread() {
  TPasswdForm *form = FForm.Forms().PasswdForm;
  if (!IsPasswdRangeValid(FPasswdReg, FPasswdWordCount)) {
    form->ShowError(IdentTexts::PasswdRangeError);
    Logger().Error(IdentTexts::PasswdRangeError);
    return;
  }
  QByteArray regs;
  for (int r = FPasswdReg; r < FPasswdReg + FPasswdWordCount; ++r)
    PutWord(regs, uint16_t(r));
  TIOChainList3 &chain = FForm.IOChain()->newList();
  QBuffer &answer = chain.Buffer();
  chain.readReg(chain.Buffer(regs), answer).exec(Live(FForm, [this, &answer] { RegValuesStep(&answer); }));
  Run(chain);
}
