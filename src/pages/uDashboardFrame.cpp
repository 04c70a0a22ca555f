#include "uDashboardFrame.h"

#include "uControls.h"
#include "uDescriptorXml.h"
#include "uErrors.h"
#include "uFiles.h"
#include "uIOChain3.h"
#include "uLogger.h"
#include "uMessageSink.h"
#include "uModbus.h"
#include "uMultiLingual.h"
#include "uSimpleDeviceDescriptor.h"
#include "uTranslateForms.h"

#include <QComboBox>
#include <QFile>
#include <QScrollArea>
#include <QTimer>
#include <QVBoxLayout>
#include <memory>
#include <utility>

namespace {
const char *const EventLogFile = "eventlog.bin";
// The main window's close asks the same.
const char *const ChangedQuestion = "Изменения титульной панелм не сохранены, сохранить?";
constexpr int EventRingFileNo = 128, FrameRingType = 3;
} // namespace

TkvDashboardFrame::TkvDashboardFrame(QWidget *Parent) : QWidget(Parent) {
  setObjectName("DashboardFrame");
  auto *layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  ScrollBox = new QScrollArea(this);
  ScrollBox->setObjectName("ScrollBox");
  Panel = new QWidget;
  Panel->setObjectName("Panel");
  Panel->setBackgroundRole(QPalette::Window);
  ScrollBox->setWidget(Panel);
  ScrollBox->setWidgetResizable(true);
  layout->addWidget(ScrollBox);
  FDoc = NewXMLDocument();
  FDoc->LoadXML(QStringLiteral("<document/>"));
  FRoot = FDoc->GetDocumentElement();
}

TkvDashboardFrame::~TkvDashboardFrame() = default;

void TkvDashboardFrame::SetHost(const TDashboardHost &Host) {
  FHost = Host;
  FIdent.Follow(Host.Chains, [this] {
    CloseDropDowns();
    // The identification that makes the epoch change has not always
    // finished its step yet: the bindings are confirmed once it has.
    QTimer::singleShot(0, this, [this] { ConfirmBindings(); });
  });
}

uint64_t TkvDashboardFrame::BindingEpoch() const { return FHost.Epoch(); }

void TkvDashboardFrame::ConfirmBindings() {
  const uint64_t epoch = BindingEpoch();
  if (epoch == BindingPending)
    return;
  for (QWidget *w : ControlsOf(Panel, true))
    if (auto *c = dynamic_cast<TKvControl *>(w); c && c->BoundFor() == BindingPending)
      c->SetBoundFor(epoch);
}

void TkvDashboardFrame::CloseDropDowns() {
  // A choice in a list opened for one device would be written to the next.
  for (QComboBox *c : Panel->findChildren<QComboBox *>())
    c->hidePopup();
}

void TkvDashboardFrame::ReportProblem(const QString &Text) {
  if (FReported.contains(Text))
    return;
  FReported << Text;
  if (FHost.Report)
    FHost.Report(Text);
}

void TkvDashboardFrame::ReportProblems(const QStringList &Problems) {
  if (Problems.isEmpty())
    return;
  FIncomplete = true;
  ReportProblem(FFileName + '\n' + Problems.join('\n'));
}

TkvDashboardFrame::THandling::THandling(TkvDashboardFrame &Frame, QWidget *Control)
    : FFrame(Frame), FOuter(Frame.FHandled) {
  if (Control)
    FFrame.FHandled = Control;
  ++FFrame.FHandlers;
}

TkvDashboardFrame::THandling::~THandling() {
  FFrame.FHandled = FOuter;
  // The control's signal is still being emitted when its handler returns: the
  // panel is rebuilt from the event loop.
  if (--FFrame.FHandlers == 0 && FFrame.IsRebuildPending())
    QTimer::singleShot(0, &FFrame, [Frame = &FFrame] { Frame->ApplyPending(); });
}

void TkvDashboardFrame::ApplyPending() {
  if (FHandlers > 0)
    return;
  const bool load = std::exchange(FLoadPending, false), bind = std::exchange(FBindPending, false);
  if (load)
    Init(FPendingFileName);
  else if (bind)
    SetDescriptor(FDescriptor);
  else
    return;
  // What the identification gave the old controls meanwhile.
  UpdateMeasureFactors();
  UpdateBitNames();
  ShowValues();
}

void TkvDashboardFrame::Init(const QString &FileName) {
  ResetEventCursor();
  if (FHandlers > 0) {
    FPendingFileName = FileName;
    FLoadPending = true;
    return;
  }
  if (FModified || FDesignerOpen) {
    // The user's unsaved layout outlives an identification, and so does the
    // file it came from: the save goes where the engineer chose. What the
    // relay before gave it goes, as from a panel loaded afresh.
    for (QWidget *w : ControlsOf(Panel, true)) {
      if (auto *v = qobject_cast<TEventView *>(w))
        v->clear();
      else if (auto *d = qobject_cast<TDateTimeEdit *>(w); d && d->Kind() == kvc::dtCurrent)
        d->setValue(0);
    }
    if (FDescriptor)
      SetDescriptor(FDescriptor);
    return;
  }
  try {
    Load(FileName);
  } catch (const EKvError &e) {
    // The panel is the file's now: empty, and saved there.
    FFileName = FileName;
    RemoveAllControls(Panel);
    FDoc->LoadXML(QStringLiteral("<document/>"));
    FRoot = FDoc->GetDocumentElement();
    FModified = false;
    // A panel not made yet is no damage: the log says so once, no box. The
    // panel is made before the start-up sets the interface's language, which
    // the reason is given in, so it is said when the event loop runs.
    FIncomplete = QFile::exists(FileName);
    if (FIncomplete)
      ReportProblem(e.Text());
    else
      QTimer::singleShot(0, this, [FileName] {
        if (const QString text = MissingPageFileText(FileName); !text.isEmpty())
          Logger().Error(text);
      });
  }
}

void TkvDashboardFrame::LoadFromFile(const QString &FileName) {
  FReported.clear();
  Load(FileName);
}

void TkvDashboardFrame::Load(const QString &FileName) {
  Panel->setUpdatesEnabled(false);
  struct TRelease {
    QWidget *W;
    ~TRelease() { W->setUpdatesEnabled(true); }
  } release{Panel};
  // A file that fails to load leaves the panel on the file it shows.
  IXXMLDocument doc = LoadPageDocument(FileName);
  FFileName = FileName;
  FDoc = doc;
  FRoot = FDoc->GetDocumentElement();
  FIncomplete = false;
  RemoveAllControls(Panel);
  QStringList problems;
  for (const TPageElement &e : ReadPageElements(FRoot))
    CreateElement(e, Panel, [&problems](const QString &Text) { problems << Text; });
  // A panel loaded after start-up (at an identification) speaks the
  // interface's language as one loaded before the switch does.
  TranslateComponent(MultiLingual(), Panel);
  ReportProblems(problems);
  FitPanel();
  ShowValues();
  for (QWidget *w : ControlsOf(Panel, true))
    if (auto *d = qobject_cast<TDateTimeEdit *>(w); d && d->Kind() == kvc::dtCurrent)
      d->setValue(0);
  FModified = false;
  if (FDescriptor)
    SetDescriptor(FDescriptor);
}

void TkvDashboardFrame::FitPanel() {
  QRect r;
  for (QWidget *w : ControlsOf(Panel, false))
    r |= w->geometry();
  Panel->setMinimumSize(r.right() + 8, r.bottom() + 8);
}

bool TkvDashboardFrame::Save(const QString &FileName) {
  // What a load left out exists only in the file: replacing it is the user's call.
  if (FileName.isEmpty() && !ConfirmReplacingIncomplete(FIncomplete, FFileName))
    return false;
  const QString target = FileName.isEmpty() ? FFileName : FileName;
  FRoot->SetText(QString());
  for (QWidget *w : ControlsOf(Panel, false))
    WriteObject(QStringLiteral("element"), w, FRoot);
  // A save that fails leaves the panel on the file it was on.
  SaveXMLDocument(FDoc, target);
  FFileName = target;
  FModified = false;
  FIncomplete = false;
  FReported.clear();
  return true;
}

bool TkvDashboardFrame::QueryClose() {
  return !FModified || AskSaveBeforeClose(QString::fromUtf8(ChangedQuestion), [this] { return Save(QString()); });
}

void TkvDashboardFrame::Bind(QWidget *Control) {
  // Bound for the identification that gives the descriptor: a control the
  // binding leaves out keeps an older epoch, and the gate refuses its write.
  if (auto *c = dynamic_cast<TKvControl *>(Control))
    c->SetBoundFor(BindingEpoch());
  if (auto *rc = dynamic_cast<TRegControl *>(Control)) {
    rc->SetDeviceDescriptor(FDescriptor);
    rc->setMreg(rc->mreg());
    if (auto *ev = qobject_cast<TParamEnum *>(Control)) {
      ev->SetOnChange(nullptr);
      if (ev->IsBound() && (ev->macc() & 2))
        ev->SetOnChange([this, ev](uint16_t Reg, int16_t Value) {
          const THandling handling(*this, ev);
          ParamEnumChange(Reg, Value);
        });
    }
  } else if (auto *up = qobject_cast<TUstavPanel *>(Control)) {
    up->SetDeviceDescriptor(FDescriptor);
    up->setIdx(up->idx());
    up->setBit(up->bit());
    up->SetOnChange(nullptr);
    if (up->IsBound() && (up->macc() & 2))
      up->SetOnChange([this, up](uint16_t Reg, uint16_t Value, uint16_t Mask) {
        const THandling handling(*this, up);
        UstavChange(Reg, Value, Mask);
      });
    // Setpoints are shown here, not edited.
    up->setEnabled(false);
  } else if (auto *de = qobject_cast<TDateTimeEdit *>(Control)) {
    if (de->Kind() == kvc::dtCore)
      de->setValue(FDescriptor->CoreDate);
    else if (de->Kind() == kvc::dtDesc)
      de->setValue(FDescriptor->DescDate);
  } else if (auto *kv = dynamic_cast<TKvControl *>(Control)) {
    kv->SetDeviceDescriptor(FDescriptor);
  }
}

void TkvDashboardFrame::SetDescriptor(TSimpleDeviceDescriptor *Descriptor) {
  FDescriptor = Descriptor;
  // Whatever relay the descriptor is of, its ring is read from its start.
  ResetEventCursor();
  if (FHandlers > 0) {
    FBindPending = true;
    return;
  }
  if (!Descriptor)
    return;
  Panel->setUpdatesEnabled(false);
  QStringList problems;
  for (QWidget *w : ControlsOf(Panel, true)) {
    if (SkipBinding && SkipBinding(w))
      continue;
    try {
      Bind(w);
    } catch (const EKvError &e) {
      problems << e.Text();
    }
  }
  ReportProblems(problems);
  SetBitHandlers();
  Panel->setUpdatesEnabled(true);
}

void TkvDashboardFrame::SetBitHandlers() {
  for (QWidget *w : ControlsOf(Panel, true))
    if (auto *g = qobject_cast<TBitregGroupBox *>(w); g && g->macc() == 3)
      g->bitMouseDown = [this](TShape *Circle) {
        const THandling handling(*this, Circle);
        BitClick(Circle);
      };
    else if (g)
      g->bitMouseDown = nullptr;
}

void TkvDashboardFrame::ShowValues() { ShowControlValues(Panel, FDescriptor, FPrimaryValues ? 1 : 0); }

void TkvDashboardFrame::FollowLanguage() {
  ShowValues();
  for (QWidget *w : ControlsOf(Panel, true))
    if (auto *d = qobject_cast<TDateTimeEdit *>(w))
      d->setValue(d->Value());
}

void TkvDashboardFrame::SetPrimaryValues(bool Value) {
  FPrimaryValues = Value;
  ShowValues();
}

void TkvDashboardFrame::UpdateMeasureFactors() {
  for (QWidget *w : ControlsOf(Panel, true)) {
    if (auto *m = qobject_cast<TMeasureLabeledEdit *>(w)) {
      if (m->MvpReg() < NoReg && m->MvpReg() < TModbus::RegCount)
        m->SetPrimVal(Modbus().GetWord(m->MvpReg()));
      if (m->MvsReg() < NoReg && m->MvsReg() < TModbus::RegCount)
        m->SetSecVal(Modbus().GetWord(m->MvsReg()));
    }
  }
}

void TkvDashboardFrame::UpdateBitNames() {
  if (!FDescriptor)
    return;
  for (QWidget *w : ControlsOf(Panel, true)) {
    auto *g = qobject_cast<TBitregGroupBox *>(w);
    if (!g)
      continue;
    const IXXMLNodeList names = FDescriptor->Root->SelectNodes(
        QString(DXQ_BITREG_BY_MREG).arg(g->mreg()) + u'/' + DX_STRING);
    for (int k = 0; k < names->GetCount() && k < g->BitList()->Count(); ++k)
      g->BitList()->Item(k)->SetName(names->GetItem(k)->GetStrNodeDef(DXQ_FIRST_VALUE, QString()));
  }
}

void TkvDashboardFrame::PulseTick() {
  for (QWidget *w : ControlsOf(Panel, true)) {
    auto *g = qobject_cast<TBitregGroupBox *>(w);
    if (!g || g->rt() != 20)
      continue;
    for (int i = 0; i < g->BitList()->Count(); ++i) {
      TBit *b = g->BitList()->Item(i);
      b->Circle()->SetBrushColor(b->Pulse > 0 ? g->onColor() : g->offColor());
      if (b->Pulse > 0)
        --b->Pulse;
    }
  }
}

TEventView *TkvDashboardFrame::FirstEventView() const {
  for (QWidget *w : ControlsOf(Panel, true))
    if (auto *v = qobject_cast<TEventView *>(w))
      return v;
  return nullptr;
}

void TkvDashboardFrame::Refresh() {
  if (!FHost.Chains)
    return;
  bool clock = false;
  const QByteArray regs = PolledRegisters(Panel, FDescriptor, false, FHost.VirtualInputPulse, clock);
  FView = FirstEventView();
  if (FHost.EnterTempFolder)
    FHost.EnterTempFolder();
  TIOChainGen &gen = *FHost.Chains;
  // The chain reads into streams of its own, so a user's write (with streams
  // of its own too) never sends the refresh's pairs; it reaches the panel
  // only through a guarded pointer.
  TIOChainList3 &chain = PanelRefreshChain(gen, this, Panel, regs, clock,
                                           Guarded(this, [](TkvDashboardFrame *Page) { Page->ShowValues(); }));
  if (FView && FDescriptor) {
    const QPointer<TkvDashboardFrame> page(this);
    TIOChainList3 &events = gen.newList();
    events.msg(QStringLiteral("Чтение событий"))
        .execNext(
            [page](TIOChain3 *Next, const QList<int> &) {
              if (page)
                page->SetEventFrameSize(Next);
            },
            {})
        .setFrameSize(CheckedCast<uint16_t>(EventRecordSize(FDescriptor->Root)))
        .execNext(
            [page](TIOChain3 *Next, const QList<int> &) {
              if (page)
                page->SetEventRange(Next);
            },
            {})
        .readFile(EventRingFileNo, FrameRingType, QString::fromLatin1(EventLogFile))
        .exec(Guarded(this, [](TkvDashboardFrame *Page) { Page->ReadEvents(); }))
        .msg(QStringLiteral("Готово"));
    chain.predicatIf(ptIf, 1, &events, nullptr);
  }
  chain.checkedRead(PollCheckMaxAgeMs).run();
}

void TkvDashboardFrame::SetEventFrameSize(TIOChain3 *Next) {
  auto *step = dynamic_cast<TIOChain3setFrameSize *>(Next);
  if (!step)
    throw EKvAssert("TIOChain3setFrameSize expected");
  FRecordSize = EventRecordSize(FDescriptor->Root);
  step->setFrameSize(CheckedCast<uint16_t>(FRecordSize));
}

void TkvDashboardFrame::SetEventRange(TIOChain3 *Next) {
  auto *step = dynamic_cast<TIOChain3readFile *>(Next);
  if (!step)
    throw EKvAssert("TIOChain3readFile expected");
  step->setFrameLimit(CheckedCast<uint16_t>(FHost.EventLogCount));
  if (!FView)
    return;
  // No last time: the step reads every frame asked for, and the slots, not
  // the stamps, tell the new records (a backward clock step looks like the
  // ring's end).
  const TEventRange r = NextEventRange(FEvents, FView->MaxCount(), FHost.EventLogCount);
  step->setFrameFirst(r.First);
  step->setFrameLast(r.Last);
  step->setLastTime(r.LastTime);
  FEventsAsked = FEventsEpoch;
}

void TkvDashboardFrame::ResetEventCursor() {
  FEvents = TEventCursor();
  ++FEventsEpoch;
}

void TkvDashboardFrame::ReadEvents() {
  // A range asked for before the cursor was reset is of the ring as it stood then.
  if (!FView || !FDescriptor || FEventsAsked != FEventsEpoch)
    return;
  const QByteArray file = LoadFileBytes(QString::fromLatin1(EventLogFile));
  for (const TEventRow &row : TakeEvents(file, FRecordSize, FHost.EventLogCount, FView->MaxCount(), FEvents)) {
    const QString item = QString(DXQ_EVENT_BY_CODE).arg(row.Code) + u'/';
    const int level = FDescriptor->Root->GetIntNodeDef(item + DX_BYTE_LEVEL_MASK, 0);
    if (FView->level() != 0 && FView->level() != level)
      continue;
    FView->InsertEvent(FormatDateTime(QStringLiteral("yy-mm-dd hh:nn:ss.zzz"), row.Time),
                       FDescriptor->Root->GetStrNodeDef(item + DX_STRING, QStringLiteral("<%1>").arg(row.Code)),
                       row.State ? QStringLiteral("1") : QStringLiteral("0"));
  }
}


void TkvDashboardFrame::BitClick(TShape *Circle) {
  TBit *bit = Circle->Bit();
  TBitregGroupBox *group = bit->Owner();
  const int reg = group->mreg() + bit->Index() / 16;
  if (!Modbus().IsValid(reg))
    return;
  // One bit of the word: the others go as the relay holds them right before
  // the write (another master may have changed them since they were read).
  const uint16_t mask = uint16_t(1u << (bit->Index() % 16));
  // A pulse sets its bit, which the device clears itself: a command, not read
  // back; a press turns the bit shown over.
  const bool pulse = FHost.VirtualInputPulse;
  const uint16_t value = pulse ? mask : uint16_t(~Modbus().GetWord(reg) & mask);
  const QPointer<TShape> circle(Circle); // the bit goes with its circle
  if (WriteControl(uint16_t(reg), value, mask, !pulse) && pulse && circle)
    bit->SetPulse(FHost.TeleCount);
}

bool TkvDashboardFrame::WriteControl(uint16_t Reg, uint16_t Value, uint16_t Mask, bool ReadAfter) {
  const THandling handling(*this, nullptr);
  try {
    if (WriteBoundRegister(*FHost.Chains, this, FDescriptor ? FDescriptor->Root : IXXMLNode(), Reg, Value, Mask,
                           FHost.Login, [this] { ShowValues(); }, ReadAfter, FHandled,
                           FHandled ? std::optional<uint64_t>(BoundEpochOf(FHandled)) : std::nullopt, FHost.LoginFor))
      return true;
  } catch (const EKvError &e) {
    // A value outside its limits: the control shows the device's value again.
    ShowErrorText(e.Text());
  }
  Refresh();
  return false;
}

void TkvDashboardFrame::ParamEnumChange(uint16_t Reg, int16_t Value) {
  if (!Modbus().IsValid(Reg))
    return;
  WriteControl(Reg, uint16_t(Value), 0xFFFF, true);
}

void TkvDashboardFrame::UstavChange(uint16_t Reg, uint16_t Value, uint16_t Mask) {
  FWriteMask = Mask;
  FWriteValue = Value;
  WriteControl(Reg, Value, Mask, true);
}

void TkvDashboardFrame::MergeBits(QIODevice *Stream) { MergeBitsStream(*Stream, FWriteMask, FWriteValue); }
