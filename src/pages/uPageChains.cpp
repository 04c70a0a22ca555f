#include "uPageChains.h"

#include "uControls.h"
#include "uIOChain3.h"
#include "uMessageSink.h"
#include "uModbus.h"
#include "uMultiLingual.h"
#include "uSimpleDeviceDescriptor.h"
#include "uWriteGate.h"
#include "uErrors.h"

#include <QFile>
#include <QPointer>
#include <QtEndian>
#include <cstring>
#include <memory>

namespace {
const char *const IncompleteQuestion =
    "Файл %1 загружен не полностью: то, что не загрузилось, при сохранении будет потеряно. Заменить файл?";

// The registers of the image from Reg on, never past its end.
std::span<const uint16_t> ImageFrom(int Reg) {
  if (Reg < 0 || Reg >= TModbus::RegCount)
    return {};
  return std::span<const uint16_t>(Modbus().WordPtr(Reg), size_t(TModbus::RegCount - Reg));
}

// The register of a setpoint panel's group; -1 without setpoint or group.
int SetpointReg(const TSimpleDeviceDescriptor *Desc, const TUstavPanel *Panel, int Group) {
  if (!Desc || Panel->idx() < 0 || Group >= Desc->GetUstavGroupCount())
    return -1;
  const int reg = Desc->GetUstavGroupReg(Group) + Panel->idx();
  return reg < TModbus::RegCount ? reg : -1;
}
} // namespace

void AppendWord(QByteArray &B, uint16_t W) {
  uchar b[2];
  qToLittleEndian(W, b);
  B.append(reinterpret_cast<const char *>(b), 2);
}

QByteArray PolledRegisters(QWidget *Panel, const TSimpleDeviceDescriptor *Desc, bool Setpoints,
                           bool SkipVirtualInputs, bool &Clock) {
  QByteArray regs;
  Clock = false;
  for (QWidget *w : ControlsOf(Panel, true)) {
    auto *g = qobject_cast<TBitregGroupBox *>(w);
    if (SkipVirtualInputs && g && g->rt() == 20)
      continue;
    if (auto *rc = dynamic_cast<TRegControl *>(w)) {
      if (rc->macc() & 1)
        for (int r = rc->mreg(); r < rc->mreg() + rc->wordCount() && r < TModbus::RegCount; ++r)
          AppendWord(regs, uint16_t(r));
    } else if (auto *up = qobject_cast<TUstavPanel *>(w)) {
      if (Setpoints && (up->macc() & 1))
        for (int g = 0; g < 2; ++g)
          if (const int reg = SetpointReg(Desc, up, g); reg >= 0)
            AppendWord(regs, uint16_t(reg));
    } else if (auto *d = qobject_cast<TDateTimeEdit *>(w); d && d->Kind() == kvc::dtCurrent) {
      Clock = true;
    }
  }
  return regs;
}

void ShowControlValues(QWidget *Panel, TSimpleDeviceDescriptor *Desc, int Flags) {
  for (QWidget *w : ControlsOf(Panel, true)) {
    if (auto *rc = dynamic_cast<TRegControl *>(w)) {
      // The relay's value now: no longer one written and not confirmed.
      if (w->toolTip() == UnconfirmedMarkText())
        w->setToolTip(QString());
      if (rc->mreg() != NoReg)
        rc->setValue(ImageFrom(rc->mreg()), Flags);
    } else if (auto *up = qobject_cast<TUstavPanel *>(w)) {
      for (int g = 0; g < 2; ++g)
        if (const int reg = SetpointReg(Desc, up, g); reg >= 0)
          up->setValue(g, ImageFrom(reg));
    }
  }
}

void ShowClockOn(QWidget *Panel, QIODevice *Stream) {
  Stream->seek(0);
  const QByteArray bytes = Stream->read(8);
  if (bytes.size() != 8)
    return;
  double value;
  std::memcpy(&value, bytes.constData(), 8);
  for (QWidget *w : ControlsOf(Panel, true))
    if (auto *d = qobject_cast<TDateTimeEdit *>(w); d && d->Kind() == kvc::dtCurrent)
      d->setValue(value);
}

TIOChainList3 &PanelRefreshChain(TIOChainGen &Gen, QObject *Page, QWidget *Panel, const QByteArray &Regs, bool Clock,
                                 std::function<void()> Shown) {
  TIOChainList3 &chain = Gen.newList().ownedBy(Page);
  QBuffer &list = chain.Buffer(Regs), &data = chain.Buffer();
  chain.readReg(list, data).execStream([](QIODevice *S) { Modbus().LoadRegValues(*S); }, &data).exec(std::move(Shown));
  if (Clock) {
    QBuffer &time = chain.Buffer();
    TIOChainList3 &clockChain = Gen.newList();
    clockChain.readTime(0, time).exec([panel = QPointer<QWidget>(Panel), &time] {
      if (panel)
        ShowClockOn(panel, &time);
    });
    chain.predicatIf(ptIf, 1, &clockChain, nullptr);
  }
  return chain;
}

bool WriteBoundRegister(TIOChainGen &Gen, QObject *Page, const IXXMLNode &Root, uint16_t Reg, uint16_t Value,
                        uint16_t Mask, const std::function<bool()> &Login, const std::function<void()> &Shown,
                        bool ReadAfter, const QObject *Control, std::optional<uint64_t> BoundFor,
                        const std::function<bool(const QString &What)> &LoginFor) {
  // The value is chosen for the device identified now; the password box may
  // see another identified before the write goes. A control bound for
  // another identification is refused by the gate, not by this relay's limits.
  const uint64_t chosen = BoundFor.value_or(Gen.IdentEpoch());
  TWriteBatch batch;
  batch.Add(DescribedWriteValue(Root, Reg, Value, Mask));
  if (const QString report = batch.LimitReport(); !report.isEmpty() && chosen == Gen.IdentEpoch())
    throw EKvError(report);
  const QPointer<const QObject> control(Control), page(Page);
  // A password box closed for the engineer names what the control writes.
  if (LoginFor ? !LoginFor(batch.Values().front().Name) : !Login || !Login())
    return false;
  // The value was chosen on a control (a page) since taken away.
  if ((Control && !control) || (Page && !page))
    return false;
  TWriteRun run;
  run.DoneText.clear();
  run.Shown = Shown;
  // Written and not read back: the page shows the engineer's value, as the
  // register would hold it, and its controls of the register say it is not
  // confirmed. The image stays the relay's as last read; the next refresh
  // that reads the relay shows what it holds.
  run.Outcome = [page = QPointer<QObject>(Page), Shown, Reg, Value, Mask](const std::vector<TValueOutcome> &Outcomes) {
    if (!page || Outcomes.empty() || Outcomes.front().Fate != TWriteFate::Unconfirmed || Reg >= TModbus::RegCount)
      return;
    if (Shown) {
      TModbus &image = Modbus();
      const bool valid = image.IsValid(Reg);
      const uint16_t held = image.GetWord(Reg);
      image.SetWord(Reg, uint16_t((held & ~Mask) | (Value & Mask)));
      Shown();
      image.SetWord(Reg, held);
      image.SetValid(Reg, valid);
    }
    // Shown afresh from the image, the mark goes (ShowControlValues).
    for (QWidget *w : page->findChildren<QWidget *>())
      if (auto *rc = dynamic_cast<TRegControl *>(w); rc && rc->mreg() == Reg)
        w->setToolTip(UnconfirmedMarkText());
  };
  run.ReadAfter = ReadAfter;
  // A pulse is a command the relay clears itself: nothing to compare.
  run.Compare = ReadAfter;
  run.PreparedFor = chosen;
  OwnWriteRun(run, Page);
  RunWriteBatch(Gen, batch, run);
  return true;
}

void OwnWriteRun(TWriteRun &Run, QObject *Page) {
  if (!Page)
    return;
  if (Run.Shown)
    Run.Shown = [page = QPointer<QObject>(Page), Shown = std::move(Run.Shown)] {
      if (page)
        Shown();
    };
  if (Run.Outcome)
    Run.Outcome = [page = QPointer<QObject>(Page), Outcome = std::move(Run.Outcome)](
                      const std::vector<TValueOutcome> &Values) {
      if (page)
        Outcome(Values);
    };
  Run.Owner = Page;
}

bool ConfirmReplacingIncomplete(bool Incomplete, const QString &FileName) {
  if (!Incomplete || !QFile::exists(FileName))
    return true;
  const QString text = MultiLingual().Translate(QString::fromUtf8(IncompleteQuestion)).arg(FileName);
  return ShowMessageBox(TMsgKind::NoFirstQuestion, text) == TMsgResult::Yes;
}

uint64_t TPageHost::Epoch() const {
  if (BindingEpoch)
    return BindingEpoch();
  return Chains ? Chains->IdentEpoch() : 0;
}

void TIdentFollower::Follow(TIOChainGen *Gen, std::function<void()> Fn) {
  Stop();
  FGen = Gen;
  if (FGen)
    FToken = FGen->AddIdentListener(std::move(Fn));
}

void TIdentFollower::Stop() {
  if (FGen)
    FGen->RemoveIdentListener(FToken);
  FGen = nullptr;
}
