#include "uDeviceBoardFrame.h"

#include "uMultiLingual.h"

#include "uControls.h"
#include "uErrors.h"
#include "uIOChain3.h"
#include "uMessageSink.h"
#include "uModbus.h"
#include "uModuleProtertyForm.h"
#include "uSimpleDeviceDescriptor.h"

#include <QAction>
#include <QFile>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPointer>
#include <QScrollArea>
#include <QSplitter>
#include <QTimer>

namespace {
const char *const NewBoardCaption = "Новый";
const char *const BoardsChangedQuestion = "Изменения функциональных панелей не сохранены, сохранить?";

IXXMLDocument EmptyDocument() {
  IXXMLDocument doc = NewXMLDocument();
  doc->LoadXML(QStringLiteral("<document/>"));
  return doc;
}
} // namespace

TkvDeviceBoardFrame::TkvDeviceBoardFrame(QWidget *Parent)
    : QWidget(Parent), ListBox(new QListWidget), Splitter1(new QSplitter(this)), ScrollBox(new QScrollArea),
      Panel(new QWidget), PopupMenu(new QMenu(this)) {
  setObjectName("DeviceBoardFrame");
  ListBox->setObjectName("ListBox");
  Panel->setObjectName("Panel");
  Splitter1->setObjectName("Splitter1");
  auto *layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(Splitter1);
  ScrollBox->setWidget(Panel);
  ScrollBox->setWidgetResizable(true);
  Splitter1->addWidget(ListBox);
  Splitter1->addWidget(ScrollBox);
  Splitter1->setStretchFactor(1, 1);
  Splitter1->setSizes({160, 800});

  auto action = [this](const char *Name, const char *Text, void (TkvDeviceBoardFrame::*Slot)()) {
    auto *a = new QAction(QString::fromUtf8(Text), this);
    a->setObjectName(Name);
    connect(a, &QAction::triggered, this, Slot);
    PopupMenu->addAction(a);
    return a;
  };
  ActionRename = action("ActionRename", "Переименовать", &TkvDeviceBoardFrame::ActionRenameExecute);
  ActionAdd = action("ActionAdd", "Добавить", &TkvDeviceBoardFrame::ActionAddExecute);
  ActionDelete = action("ActionDelete", "Удалить", &TkvDeviceBoardFrame::ActionDeleteExecute);
  ActionDuplicate = action("ActionDuplicate", "Дублировать", &TkvDeviceBoardFrame::ActionDuplicateExecute);
  ListBox->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(ListBox, &QWidget::customContextMenuRequested, this,
          [this](const QPoint &P) { PopupMenu->popup(ListBox->mapToGlobal(P)); });
  connect(ListBox, &QListWidget::currentRowChanged, this, [this] { ListBoxClick(); });
  ListBox->installEventFilter(this);

  AskName = [this](QString &Caption) {
    // The page's own dialog goes with the page: never on the stack, where
    // the page's end would free it under its exec().
    const QPointer<TModuleProtertyForm> form(new TModuleProtertyForm(this));
    form->Label2->setText(QStringLiteral("Панель"));
    form->eCaption->setText(Caption);
    const bool accepted = form->exec() == QDialog::Accepted;
    if (!form)
      return false;
    if (accepted)
      Caption = form->eCaption->text();
    delete form.data();
    return accepted;
  };
  FDoc = EmptyDocument();
  FRoot = FDoc->GetDocumentElement();
}

TkvDeviceBoardFrame::~TkvDeviceBoardFrame() = default;

void TkvDeviceBoardFrame::SetHost(const TPageHost &Host) {
  FHost = Host;
  // Looked at once the step that changed the epoch has finished.
  FIdent.Follow(Host.Chains, [this] { QTimer::singleShot(0, this, [this] { IdentChanged(); }); });
}

uint64_t TkvDeviceBoardFrame::BindingEpoch() const { return FHost.Epoch(); }

void TkvDeviceBoardFrame::IdentChanged() {
  const uint64_t epoch = BindingEpoch();
  if (epoch != BindingPending && epoch != FBuiltFor)
    Rebuild();
}

void TkvDeviceBoardFrame::Rebuild() {
  if (FHandlers > 0) {
    FRebuildPending = true;
    return;
  }
  FRebuildPending = false;
  if (FCurrentIndex < 0) {
    FBuiltFor = BindingEpoch();
    return;
  }
  StorePage();
  Panel->setUpdatesEnabled(false);
  RemoveAllControls(Panel);
  ShowPage(FCurrentIndex);
  Panel->setUpdatesEnabled(true);
  Refresh();
}

void TkvDeviceBoardFrame::Problem(const QString &Text) {
  if (FHost.Report)
    FHost.Report(Text);
  else
    ShowErrorText(Text);
}

void TkvDeviceBoardFrame::Init(const QString &FileName) {
  FUpdating = true;
  try {
    LoadFile(FileName);
  } catch (const EKvError &e) {
    // The page starts from an empty document, so boards can be added and saved.
    FDoc = EmptyDocument();
    FRoot = FDoc->GetDocumentElement();
    FFileName = FileName;
    // A file not made yet holds nothing a save could lose, and is said once.
    FIncomplete = QFile::exists(FileName);
    if (FIncomplete)
      Problem(e.Text());
    else if (const QString text = MissingPageFileText(FileName); !text.isEmpty())
      Problem(text);
  }
  FCurrentIndex = -1;
  ListBox->setFocus();
  if (ListBox->count() > 0) {
    SetList(0);
    ListBoxClick();
  }
  FUpdating = false;
  Refresh();
}

void TkvDeviceBoardFrame::LoadFile(const QString &FileName) {
  // A file that fails to load leaves the page on the file it shows.
  IXXMLDocument doc = LoadPageDocument(FileName);
  FFileName = FileName;
  FDoc = doc;
  FRoot = FDoc->GetDocumentElement();
  FIncomplete = false;
  RemoveAllControls(Panel);
  FCurrentIndex = -1;
  const QSignalBlocker block(ListBox);
  ListBox->clear();
  const IXXMLNodeList frames = FRoot->SelectNodes(QStringLiteral("frame"));
  for (int i = 0; i < frames->GetCount(); ++i)
    ListBox->addItem(frames->GetItem(i)->GetStrAttr(QStringLiteral("caption"), QString()));
  FModified = false;
}

IXXMLNode TkvDeviceBoardFrame::FrameNode(int Index) const {
  return FRoot->SelectSingleNode(QStringLiteral("frame[%1]").arg(Index + 1));
}

void TkvDeviceBoardFrame::SetList(int Row) {
  const QSignalBlocker block(ListBox);
  ListBox->setCurrentRow(Row);
}

void TkvDeviceBoardFrame::ListBoxClick() {
  if (FCurrentIndex >= 0)
    StorePage();
  Panel->setUpdatesEnabled(false);
  RemoveAllControls(Panel);
  const int row = ListBox->currentRow();
  if (row >= 0)
    ShowPage(row);
  FCurrentIndex = row;
  Panel->setUpdatesEnabled(true);
  if (!FUpdating)
    Refresh();
}

void TkvDeviceBoardFrame::ShowPage(int Index) {
  const IXXMLNode frame = FrameNode(Index);
  if (!frame)
    return;
  QStringList problems;
  for (const TPageElement &e : ReadPageElements(frame))
    CreateElement(
        e, Panel, [&problems](const QString &Text) { problems << Text; },
        [this](QWidget *Control) {
          // The descriptor first, so that the addresses read next find their items.
          if (auto *c = dynamic_cast<TKvControl *>(Control))
            c->SetDeviceDescriptor(FDescriptor);
        });
  if (!problems.isEmpty()) {
    // The board is stored back from its controls at the next switch, so what
    // was left out is gone from the document too: the file is whole no more.
    FIncomplete = true;
    Problem(FFileName + '\n' + problems.join('\n'));
  }
  BindControls();
  QRect r;
  for (QWidget *w : ControlsOf(Panel, false))
    r |= w->geometry();
  Panel->setMinimumSize(r.right() + 8, r.bottom() + 8);
}

void TkvDeviceBoardFrame::BindControls() {
  // The descriptor object is the same across identifications; what it holds
  // is not: every control looks its item up again.
  FBuiltFor = BindingEpoch();
  for (QWidget *w : ControlsOf(Panel, true)) {
    auto *c = dynamic_cast<TKvControl *>(w);
    if (!c)
      continue;
    c->SetBoundFor(FBuiltFor);
    c->SetDeviceDescriptor(FDescriptor);
    if (auto *rc = dynamic_cast<TRegControl *>(w)) {
      rc->setMreg(rc->mreg());
    } else if (auto *up = qobject_cast<TUstavPanel *>(w)) {
      up->setIdx(up->idx());
      up->setBit(up->bit());
      const bool writable = up->IsBound() && (up->macc() & 2);
      up->SetOnChange(nullptr);
      if (writable)
        up->SetOnChange([this, panel = QPointer<QWidget>(up)](uint16_t Reg, uint16_t Value, uint16_t Mask) {
          // The board is not built again under the handler's password box;
          // the tab may close there (and this handler with its panel).
          TkvDeviceBoardFrame *frame = this;
          const QPointer<TkvDeviceBoardFrame> alive(frame);
          ++frame->FHandlers;
          frame->FWriting = panel;
          frame->WriteSetpoint(Reg, Value, Mask);
          if (!alive)
            return;
          frame->FWriting = nullptr;
          if (--frame->FHandlers == 0 && frame->FRebuildPending)
            QTimer::singleShot(0, frame, [frame] { frame->Rebuild(); });
        });
      up->setEnabled(writable);
      ShowImageValue(up);
    }
  }
}

void TkvDeviceBoardFrame::ShowImageValue(TUstavPanel *Panel) const {
  // A panel bound again (the designer's copy among them) shows the relay's
  // value read last, or none: never the first item of a list refilled, nor a
  // value an earlier relay gave the copy.
  for (int g = 0; g < 2; ++g) {
    const int reg = Panel->IsBound() && FDescriptor && g < FDescriptor->GetUstavGroupCount()
                        ? FDescriptor->GetUstavGroupReg(g) + Panel->idx()
                        : -1;
    if (reg >= 0 && reg < TModbus::RegCount && Modbus().IsValid(reg))
      Panel->setValue(g, std::span<const uint16_t>(Modbus().WordPtr(reg), 1));
    else
      Panel->ShowNoValue(g);
  }
}

void TkvDeviceBoardFrame::StorePage() {
  const IXXMLNode frame = FrameNode(FCurrentIndex);
  if (!frame)
    return;
  const QString caption = frame->GetStrAttr(QStringLiteral("caption"), QString());
  frame->SetText(QString());
  if (frame->GetStrAttr(QStringLiteral("caption"), QString()) != caption)
    frame->SetStrAttr(QStringLiteral("caption"), caption);
  for (QWidget *w : ControlsOf(Panel, false))
    WriteObject(QStringLiteral("element"), w, frame);
}

bool TkvDeviceBoardFrame::Save(const QString &FileName) {
  if (FileName.isEmpty() && !ConfirmReplacingIncomplete(FIncomplete, FFileName))
    return false;
  if (FCurrentIndex >= 0)
    StorePage();
  // A save that fails leaves the page on the file it was on.
  const QString target = FileName.isEmpty() ? FFileName : FileName;
  SaveXMLDocument(FDoc, target);
  FFileName = target;
  FModified = false;
  FIncomplete = false;
  return true;
}

bool TkvDeviceBoardFrame::QueryClose() {
  if (!FModified)
    return true;
  return AskSaveBeforeClose(MultiLingual().Translate(QString::fromUtf8(BoardsChangedQuestion)),
                            [this] { return Save(QString()); });
}

void TkvDeviceBoardFrame::Refresh() {
  if (!FHost.Chains)
    return;
  bool clock = false;
  const QByteArray regs = PolledRegisters(Panel, FDescriptor, true, false, clock);
  // The tab may close while the chain runs: the chain reads into streams of
  // its own and reaches the tab only through a guarded pointer.
  PanelRefreshChain(*FHost.Chains, this, Panel, regs, clock,
                    Guarded(this, [](TkvDeviceBoardFrame *Page) { Page->ShowValues(); }))
      .checkedRead()
      .run();
}

void TkvDeviceBoardFrame::ShowValues() { ShowControlValues(Panel, FDescriptor, 0); }

void TkvDeviceBoardFrame::WriteSetpoint(uint16_t Reg, uint16_t Value, uint16_t Mask) {
  // The password box runs an event loop: the tab may have gone when it returns.
  const QPointer<TkvDeviceBoardFrame> self(this);
  try {
    if (WriteBoundRegister(*FHost.Chains, this, FDescriptor ? FDescriptor->Root : IXXMLNode(), Reg, Value, Mask,
                           FHost.Login, [this] { ShowValues(); }, true, FWriting,
                           FWriting ? std::optional<uint64_t>(BoundEpochOf(FWriting)) : std::nullopt, FHost.LoginFor))
      return;
  } catch (const EKvError &e) {
    // A value outside its limits: the panel shows the device's value again.
    ShowErrorText(e.Text());
  }
  if (self)
    Refresh();
}

void TkvDeviceBoardFrame::MovePage(int Direction) {
  const int i = ListBox->currentRow();
  const int j = i + Direction;
  if (i < 0 || (Direction != -1 && Direction != 1) || j < 0 || j >= ListBox->count())
    return;
  FRoot->ReorderChildren(std::min(i, j) + 1, std::max(i, j) + 1);
  FModified = true;
  const QString text = ListBox->item(i)->text();
  ListBox->item(i)->setText(ListBox->item(j)->text());
  ListBox->item(j)->setText(text);
  if (FCurrentIndex == i)
    FCurrentIndex = j;
  else if (FCurrentIndex == j)
    FCurrentIndex = i;
  // The selection follows the moved board; it is already on show when it was.
  SetList(j);
  if (FCurrentIndex != j)
    ListBoxClick();
}

bool TkvDeviceBoardFrame::eventFilter(QObject *Watched, QEvent *E) {
  if (Watched == ListBox && E->type() == QEvent::KeyPress) {
    auto *k = static_cast<QKeyEvent *>(E);
    if (k->modifiers() & Qt::ControlModifier && (k->key() == Qt::Key_Up || k->key() == Qt::Key_Down)) {
      MovePage(k->key() == Qt::Key_Up ? -1 : 1);
      return true;
    }
  }
  return QWidget::eventFilter(Watched, E);
}

void TkvDeviceBoardFrame::ActionAddExecute() {
  const QSignalBlocker block(ListBox);
  // A new board is named in the interface's language; the name is the user's from then on.
  const QString caption = MultiLingual().Translate(QString::fromUtf8(NewBoardCaption));
  ListBox->addItem(caption);
  FRoot->AddChild(QStringLiteral("frame"))->SetStrAttr(QStringLiteral("caption"), caption);
  FModified = true;
}

void TkvDeviceBoardFrame::ActionDeleteExecute() {
  const int i = ListBox->currentRow();
  if (i < 0)
    return;
  if (const IXXMLNode frame = FrameNode(i))
    frame->Remove();
  FModified = true;
  {
    const QSignalBlocker block(ListBox);
    delete ListBox->takeItem(i);
  }
  if (i == FCurrentIndex) {
    // The controls on the panel belong to no board now.
    RemoveAllControls(Panel);
    FCurrentIndex = -1;
    SetList(-1);
  } else if (i < FCurrentIndex) {
    --FCurrentIndex;
    SetList(FCurrentIndex);
  }
}

void TkvDeviceBoardFrame::ActionDuplicateExecute() {
  const int i = ListBox->currentRow();
  const IXXMLNode frame = i >= 0 ? FrameNode(i) : nullptr;
  if (!frame)
    return;
  const IXXMLNode copy = frame->CloneNode(true);
  FRoot->AppendChild(copy);
  FModified = true;
  const QSignalBlocker block(ListBox);
  ListBox->addItem(copy->GetStrAttr(QStringLiteral("caption"), QString()));
}

void TkvDeviceBoardFrame::ActionRenameExecute() {
  const int i = ListBox->currentRow();
  const IXXMLNode frame = i >= 0 ? FrameNode(i) : nullptr;
  if (!frame || !AskName)
    return;
  QString caption = ListBox->item(i)->text();
  // The name's dialog runs an event loop: the page may have gone when it returns.
  const QPointer<TkvDeviceBoardFrame> self(this);
  const std::function<bool(QString &)> ask = AskName;
  if (!ask(caption) || !self)
    return;
  frame->SetStrAttr(QStringLiteral("caption"), caption);
  ListBox->item(i)->setText(caption);
  FModified = true;
}
