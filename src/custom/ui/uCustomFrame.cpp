#include "uCustomFrame.h"

#include "uConfigurator.h"
#include "uCustomNames.h"
#include "uCustomParamIOForm.h"
#include "uCustomUstavForm.h"
#include "uDeviceIO.h"
#include "uErrors.h"
#include "uExtFlash.h"
#include "uFileDialogSink.h"
#include "uFiles.h"
#include "uIOChain3.h"
#include "uLogger.h"
#include "uLogicFiles.h"
#include "uLogicTexts.h"
#include "uMessageSink.h"
#include "uModbusIderList.h"
#include "uMultiLingual.h"
#include "uSchemaCode.h"
#include "uSchemaCompile.h"
#include "uSchemaEditorState.h"
#include "uSchemaDeviceDescriptor.h"
#include "uSchemaEditorPanel.h"
#include "uSchemaModule.h"
#include "uStatusText.h"
#include "uTranslateTexts.h"
#include "uUnitPropertyForm.h"

#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QSplitter>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace {
constexpr uint8_t FileTypePlain = 0, FileTypeZlib = 2;
// The main window's colour of a reported error.
constexpr uint32_t ErrorColor = 0x8080FF;

// The sub-files of file 140 the page reads, with their status texts.
struct TSubFileRead {
  const char *Message;
  const char *File;
};
const TSubFileRead SubFileReads[ExtFlash::SubFileCount] = {
    {"Чтение schemacode.xml", "schemacode.xml"},   {"Чтение конфигуратора", CustomFiles::Config},
    {"Чтение идентификаторов", CustomFiles::Identification}, {"Чтение базовой логики", CustomFiles::Logic},
    {"Чтение начальной логики", CustomFiles::CustomLogic0},  {"Чтение внешней логики", CustomFiles::CustomLogic},
};

const char *const NoSchemaCaption = "Не загружена схема";
constexpr int LabelStatusWidth = 80, LabelFileNameWidth = 60;
const char *const NoUnitCaption = "Не выбран блок";
const char *const OtherDevice =
    "Логика прочитана не из подключённого прибора: прочитайте логику из прибора или откройте проект";
const char *const ChangedQuestion = "Изменения внешней логики не сохранены, сохранить?";

QToolButton *NewButton(QToolBar *Bar, const char *Name, const QString &Text) {
  auto *b = new QToolButton(Bar);
  b->setObjectName(QString::fromLatin1(Name));
  b->setText(Text);
  b->setToolButtonStyle(Qt::ToolButtonTextOnly);
  Bar->addWidget(b);
  return b;
}

// Flag stays true for as long as the chain that keeps this lives.
struct TWhileAlive {
  explicit TWhileAlive(std::shared_ptr<bool> Value) : Flag(std::move(Value)) {}
  ~TWhileAlive() { *Flag = false; }
  TWhileAlive(const TWhileAlive &) = delete;
  TWhileAlive &operator=(const TWhileAlive &) = delete;
  std::shared_ptr<bool> Flag;
};

QByteArray ResourceBytes(const QString &Name) {
  QFile f(QStringLiteral(":/custom/") + Name);
  if (!f.open(QIODevice::ReadOnly))
    throw EKvError(QStringLiteral("resource not found: ") + Name);
  return f.readAll();
}
} // namespace

// A command of the page under way; the last one to return says so.
class TCommandScope {
public:
  explicit TCommandScope(TkvCustomFrame &Frame) : FFrame(Frame) { ++FFrame.FCommandDepth; }
  ~TCommandScope() {
    if (--FFrame.FCommandDepth == 0)
      emit FFrame.CommandEnded();
  }
  TCommandScope(const TCommandScope &) = delete;
  TCommandScope &operator=(const TCommandScope &) = delete;

private:
  TkvCustomFrame &FFrame;
};

TkvCustomFrame::TkvCustomFrame(QWidget *Parent) : QWidget(Parent) {
  setObjectName(QStringLiteral("kvCustomFrame"));
  BuildComponents();
}

TkvCustomFrame::~TkvCustomFrame() {
  // The editor's module may name the root module as its parent: it goes first.
  delete FSchemaEditor;
  FSchemaEditor = nullptr;
  FModule.reset();
}

void TkvCustomFrame::BuildComponents() {
  auto *layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  ToolBar1 = new QToolBar(this);
  ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
  layout->addWidget(ToolBar1);
  ToolButton2 = NewButton(ToolBar1, "ToolButton2", QStringLiteral("Добавить"));
  ToolButton1 = NewButton(ToolBar1, "ToolButton1", QStringLiteral("Удалить"));
  for (QAction *a : ToolBar1->actions())
    if (ToolBar1->widgetForAction(a) == ToolButton2 || ToolBar1->widgetForAction(a) == ToolButton1)
      a->setVisible(false);
  ToolButtonCompile = NewButton(ToolBar1, "ToolButtonCompile", QStringLiteral("Сформировать"));
  ToolButtonCustomLogicWrite = NewButton(ToolBar1, "ToolButtonCustomLogicWrite", QStringLiteral("Сохранить FLASH"));
  ToolButtonUndo = NewButton(ToolBar1, "ToolButtonUndo", QStringLiteral("Восстановить логику"));
  ToolButtonUnload = NewButton(ToolBar1, "ToolButtonUnload", QStringLiteral("Выгрузить"));
  ToolButtonLoad = NewButton(ToolBar1, "ToolButtonLoad", QStringLiteral("Загрузить"));
  ToolBar1->addSeparator();
  // The two labels stay narrow so that every tool after them is on the bar
  // at the main window's default size: the bar has no room to fold into.
  LabelStatus = new QLabel(ToolBar1);
  LabelStatus->setObjectName(QStringLiteral("LabelStatus"));
  LabelStatus->setMaximumWidth(LabelStatusWidth);
  ToolBar1->addWidget(LabelStatus);
  LabelFileName = new QLabel(ToolBar1);
  LabelFileName->setObjectName(QStringLiteral("LabelFileName"));
  LabelFileName->setMaximumWidth(LabelFileNameWidth);
  ToolBar1->addWidget(LabelFileName);
  ToolButtonUstavNames = NewButton(ToolBar1, "ToolButtonUstavNames", QStringLiteral("Уставки"));
  ToolButtonParamIONames = NewButton(ToolBar1, "ToolButtonParamIONames", QStringLiteral("Параметры"));
  cbGrid = new QCheckBox(QStringLiteral("Сетка"), ToolBar1);
  cbGrid->setObjectName(QStringLiteral("cbGrid"));
  ToolBar1->addWidget(cbGrid);
  ToolButton9 = NewButton(ToolBar1, "ToolButton9", QStringLiteral("Печать"));
  for (QToolButton *b : {ToolButtonCompile, ToolButtonCustomLogicWrite, ToolButtonUndo, ToolButtonUnload,
                         ToolButtonLoad, ToolButtonUstavNames, ToolButtonParamIONames})
    b->setEnabled(false);
  // The tool buttons show texts, which the main window's walk leaves as they
  // are: the page follows a switch of language on its own.
  OnLanguageSwitch(ToolButtonCompile, [this] { RetranslatePage(); });

  Splitter1 = new QSplitter(Qt::Horizontal, this);
  Splitter1->setObjectName(QStringLiteral("Splitter1"));
  layout->addWidget(Splitter1, 1);
  PanelLeft = new QWidget(Splitter1);
  PanelLeft->setObjectName(QStringLiteral("PanelLeft"));
  PanelLeft->setMinimumWidth(40);
  auto *left = new QVBoxLayout(PanelLeft);
  left->setContentsMargins(0, 0, 0, 0);
  left->setSpacing(0);
  PanelUnitsCaption = new QLabel(QStringLiteral("Блоки"), PanelLeft);
  PanelUnitsCaption->setObjectName(QStringLiteral("Panel1"));
  PanelUnitsCaption->setAlignment(Qt::AlignCenter);
  PanelUnitsCaption->setFrameShape(QFrame::Panel);
  PanelUnitsCaption->setFrameShadow(QFrame::Raised);
  left->addWidget(PanelUnitsCaption);
  ListViewUnit = new QListWidget(PanelLeft);
  ListViewUnit->setObjectName(QStringLiteral("ListViewUnit"));
  ListViewUnit->setEditTriggers(QAbstractItemView::NoEditTriggers);
  ListViewUnit->setSelectionMode(QAbstractItemView::SingleSelection);
  left->addWidget(ListViewUnit, 1);
  PanelSchema = new QWidget(Splitter1);
  PanelSchema->setObjectName(QStringLiteral("PanelSchema"));
  auto *schema = new QVBoxLayout(PanelSchema);
  schema->setContentsMargins(0, 0, 0, 0);
  Splitter1->addWidget(PanelLeft);
  Splitter1->addWidget(PanelSchema);
  Splitter1->setStretchFactor(1, 1);
  Splitter1->setSizes({180, 800});

  connect(ListViewUnit, &QListWidget::itemSelectionChanged, this, [this] {
    const QList<QListWidgetItem *> selected = ListViewUnit->selectedItems();
    if (selected.isEmpty())
      return;
    const int index = ListViewUnit->row(selected.first());
    if (index != FCurrentItem)
      Guard([this, index] { SelectUnit(index); });
  });
  connect(cbGrid, &QCheckBox::toggled, this, [this](bool On) {
    if (FSchemaEditor)
      FSchemaEditor->SetShowGrid(On);
  });
  connect(ToolButton9, &QToolButton::clicked, this, [this] {
    if (FSchemaEditor)
      Guard([this] { FSchemaEditor->Print(); });
  });
  connect(ToolButtonUstavNames, &QToolButton::clicked, this, [this] {
    Guard([this] {
      TDeviceDescriptor *desc = Descriptor();
      if (!desc || !FHost.UstavNamesForm)
        return;
      FHost.UstavNamesForm->SetDescriptor(desc);
      if (FHost.UstavNamesForm->exec() == QDialog::Accepted)
        FEdited = true;
    });
  });
  connect(ToolButtonParamIONames, &QToolButton::clicked, this, [this] {
    Guard([this] {
      TDeviceDescriptor *desc = Descriptor();
      if (!desc || !FHost.ParamIONamesForm)
        return;
      FHost.ParamIONamesForm->SetDescriptor(desc);
      if (FHost.ParamIONamesForm->exec() == QDialog::Accepted)
        FEdited = true;
    });
  });
  ConnectBuildCommands();
  TranslateTexts(this);
}

void TkvCustomFrame::RetranslatePage() {
  TranslateTexts(this);
  if (FPlaceholderShown && FSchemaEditor && FSchemaEditor->Module().AbstractList.Count() > 0) {
    FSchemaEditor->Module().AbstractList[0]->Caption = MultiLingual().FromRussian(FPlaceholder);
    FSchemaEditor->ZoomBy(0);
  }
}

void TkvCustomFrame::Guard(const std::function<void()> &Command) {
  const TCommandScope scope(*this);
  try {
    Command();
  } catch (const std::exception &e) {
    ShowEdgeError(QString::fromUtf8(e.what()));
  }
}

QString TkvCustomFrame::WorkFile(const QString &Name) const {
  return ResolveFileNameCI(FHost.TempFolder ? FHost.TempFolder() : QDir::currentPath(), Name);
}

void TkvCustomFrame::ShowStatus(const QString &Text) {
  // The log keeps the text as made; the page shows it in the interface's language.
  const QString shown = LocalLogicText(Text);
  LabelStatus->setText(LabelStatus->fontMetrics().elidedText(shown, Qt::ElideRight, LabelStatusWidth));
  LabelStatus->setToolTip(shown);
  if (FHost.Status)
    FHost.Status(Text);
}

void TkvCustomFrame::SetFileName(const QString &Value) {
  FFileName = Value;
  const QString name = QFileInfo(Value).fileName();
  LabelFileName->setText(LabelFileName->fontMetrics().elidedText(name, Qt::ElideMiddle, LabelFileNameWidth));
  LabelFileName->setToolTip(name);
}

TDeviceDescriptor *TkvCustomFrame::Descriptor() const {
  return FModule ? DeviceOf(FModule->Descriptor.get()) : nullptr;
}

void TkvCustomFrame::WriteResources() {
  for (const char *name : {CustomFiles::SchemaCode, CustomFiles::Dummy, CustomFiles::Internal})
    SaveFileBytes(WorkFile(QString::fromLatin1(name)), ResourceBytes(QString::fromLatin1(name)));
}

void TkvCustomFrame::Initialize() {
  if (!FInitialized) {
    // The whole program from now on: a failure nobody caught is logged (in
    // Russian) and shown in the status line (in the interface's language, an
    // error turning the tool bar red), never in a box over the schema.
    auto status = FHost.Status;
    auto color = FHost.ToolBarColor;
    SetEdgeErrorHandler([status, color](const QString &Text) {
      LogEdgeError(Text);
      if (status)
        status(LocalLogicText(Text));
      if (color && IsErrorStatusText(Text))
        color(ErrorColor);
    });
  }
  if (FHost.EnterTempFolder)
    FHost.EnterTempFolder();
  WriteResources();
  if (FInitialized)
    return;
  InstallDeviceDescriptorReader();
  FSchemaCompile = std::make_unique<TSchemaCompile>();
  SchemaCode() = TSchemaCode();
  SchemaCode().LoadCommands(WorkFile(CustomFiles::SchemaCode));
  FConfigurator = std::make_unique<TConfigurator>();
  FModule = std::make_unique<TModule>(nullptr, 1);
  FModule->Root = true;
  FModule->SetConfigurator(FConfigurator.get());
  FSchemaEditor = new TSchemaEditorPanel(PanelSchema);
  FSchemaEditor->setObjectName(QStringLiteral("SchemaEditor"));
  PanelSchema->layout()->addWidget(FSchemaEditor);
  FSchemaEditor->SetInterfaceButtonsVisible(false);
  ShowPlaceholder(QString::fromUtf8(NoSchemaCaption));
  FSchemaEditor->show();
  FErrors.clear();
  FSource = lsNone;
  FParamStream.setData(QByteArray());
  FInitialized = true;
}

void TkvCustomFrame::ShowPlaceholder(const QString &Caption) {
  FSchemaEditor->LoadFromFile(WorkFile(CustomFiles::Dummy));
  FPlaceholder = Caption;
  FPlaceholderShown = true;
  TModule &m = FSchemaEditor->Module();
  if (m.AbstractList.Count() > 0)
    m.AbstractList[0]->Caption = MultiLingual().FromRussian(Caption);
  FSchemaEditor->ZoomBy(0);
}

QString TkvCustomFrame::StageFolder() const {
  return QDir(FHost.TempFolder ? FHost.TempFolder() : QDir::currentPath()).filePath(QStringLiteral("logic-read"));
}

void TkvCustomFrame::ReRead() {
  if (IsRunningCommand() || !QueryClose())
    return;
  ReadLogicFiles();
}

void TkvCustomFrame::ReadLogicFiles() {
  // A build holds the logic this would replace.
  if (!FInitialized || IsRunningCommand())
    return;
  FHost.EnterTempFolder();
  // The unit on screen goes back into the custom logic first: should the read
  // fail, the logic loaded before stays whole, edits included.
  StoreUnit();
  FCurrentItem = -1;
  ListViewUnit->clearSelection();
  ShowPlaceholder(QString::fromUtf8(NoUnitCaption));
  // The sub-files go into a folder of their own: a read that stops part-way
  // leaves the work files as they were.
  const QString stage = StageFolder();
  QDir(stage).removeRecursively();
  if (!QDir().mkpath(stage))
    throw EKvError(QStringLiteral("cannot create folder ") + stage);
  // However the read ends short of the logic, the staging folder goes.
  const auto staged = [stage](const std::function<void()> &Step) {
    try {
      Step();
    } catch (...) {
      QDir(stage).removeRecursively();
      throw;
    }
  };
  const auto dropStage = [stage](TIOChain3 *, const QList<int> &) { QDir(stage).removeRecursively(); };
  // The read reads into the staging folder, and the page takes the logic
  // only while it is there: closed meanwhile, the read ends at its next
  // request.
  TIOChainList3 &chain = FHost.ChainGen()->newList();
  // Cut by the page's close, the read leaves no step of its own on the
  // status line as if it still ran. Tied before the chain's own tie to the
  // page, which cuts it; gone with the generator (and the window).
  const auto reading = std::make_shared<bool>(true);
  chain.Keep<TWhileAlive>(reading);
  connect(this, &QObject::destroyed, FHost.ChainGen(), [reading, status = FHost.Status] {
    if (*reading && status)
      status(QString());
  });
  // A read the engineer asks for: the relay is checked first, and another
  // one found refuses it and is identified; nothing of it is taken as the
  // logic of the relay identified before.
  chain.ownedBy(this).checkedRead().setEvent(0, dropStage).setEvent(1, dropStage);
  chain.setFrameSize(FLASH_FRAME_BYTES)
      .msg(QStringLiteral("Чтение заголовка"))
      .readFile(FILE_EXT_FLASH, FileTypePlain, QDir(stage).filePath(CustomFiles::Head))
      .exec(Guarded(this, [staged, stage](TkvCustomFrame *F) { staged([&] { F->CheckStagedHeader(stage); }); }));
  const TFlashSubFileStart subFileStart = FHost.SetFlashSubFileStart;
  for (int k = 0; k < ExtFlash::SubFileCount; ++k) {
    const auto &read = SubFileReads[k];
    chain.msg(QString::fromUtf8(read.Message))
        .execNext(
            [staged, subFileStart](TIOChain3 *Next, const QList<int> &Args) {
              staged([&] { SetFlashFrames(Next, Args, subFileStart); });
            },
            {k})
        .readFile(FILE_EXT_FLASH, FileTypeZlib, QDir(stage).filePath(QString::fromLatin1(read.File)));
  }
  chain
      .exec(Guarded(this,
                    [stage, staged](TkvCustomFrame *F) {
                      // The head of the container as read, before the staging folder goes.
                      QByteArray head;
                      staged([&] {
                        head = SubFileHead(LoadFileBytes(
                            QDir(stage).filePath(QString::fromLatin1(CustomFiles::CustomLogic) + QStringLiteral(".z"))));
                        F->ShowLoadedLogic(lsDevice, stage);
                      });
                      // The chain has just read this unit, checked: it is the one
                      // identified last, and the logic is bound to it from now on.
                      F->FLogicIdentity = F->FHost.DeviceIdentity ? F->FHost.DeviceIdentity() : TUnitIdentity();
                      F->FLogicEpoch = F->FHost.ChainGen()->IdentEpoch();
                      F->FLogicHeads = {head};
                      // The relay's logic is not the project opened before: a
                      // Save asks for a name, and the project stays as it was.
                      F->SetFileName(QString());
                    }))
      .msg(QStringLiteral("Готово"));
  chain.run(FHost.Progress);
}

void TkvCustomFrame::CheckStagedHeader(const QString &Stage) {
  // The main window checks the header in the work folder and keeps it for
  // the sub-file starts: it is shown the staged one, and the work folder's
  // own goes back at once.
  const QString work = WorkFile(CustomFiles::Head);
  const bool had = QFile::exists(work);
  const QByteArray old = had ? LoadFileBytes(work) : QByteArray();
  const auto putBack = [&] {
    if (had)
      SaveFileBytes(work, old);
    else
      QFile::remove(work);
  };
  SaveFileBytes(work, LoadFileBytes(QDir(Stage).filePath(CustomFiles::Head)));
  try {
    FHost.CheckFlashHeader();
  } catch (...) {
    putBack();
    throw;
  }
  putBack();
}

void TkvCustomFrame::ShowLoadedLogic(TLogicSource Source, const QString &Folder) {
  const QString workDir = FHost.TempFolder ? FHost.TempFolder() : QDir::currentPath();
  const QString from = Folder.isEmpty() ? workDir : Folder;
  LoadLogic(from);
  MergeCustomLogic(from);
  FLoadedFiles.clear();
  for (const QString &name : CustomFiles::ProjectNames())
    FLoadedFiles.append({name, LoadFileBytes(ResolveFileNameCI(from, name))});
  if (from != workDir)
    QDir(from).removeRecursively();
  if (FHost.ApplyCustomLogicNames)
    FHost.ApplyCustomLogicNames();
  FSource = Source;
  FEdited = false;
  FCurrentItem = -1;
  ShowPlaceholder(QString::fromUtf8(NoUnitCaption));
}

void TkvCustomFrame::PutLoadedFiles() {
  for (const auto &[name, bytes] : FLoadedFiles)
    SaveFileBytes(WorkFile(name), bytes);
}

void TkvCustomFrame::LoadLogic(const QString &Folder) {
  TLoadedLogic loaded = LoadLogicFiles(Folder, FHost.TempFolder ? FHost.TempFolder() : QDir::currentPath());
  // Everything has loaded: read sub-files replace the work files (the editor
  // reads its library from there), and the page takes the logic over. The
  // editor lets go of the old root module (its unit's parent) before that goes.
  const QString workDir = FHost.TempFolder ? FHost.TempFolder() : QDir::currentPath();
  if (QDir(Folder) != QDir(workDir)) {
    QStringList names{QString::fromLatin1(CustomFiles::Head)};
    for (const TSubFileRead &read : SubFileReads)
      names << QString::fromLatin1(read.File);
    // A device read brings all of them, a project its five.
    for (const QString &name : names)
      if (const QString from = ResolveFileNameCI(Folder, name); QFile::exists(from))
        SaveFileBytes(WorkFile(name), LoadFileBytes(from));
  }
  if (FCurrentItem >= 0) {
    FCurrentItem = -1;
    ShowPlaceholder(QString::fromUtf8(NoUnitCaption));
  }
  FSchemaEditor->Module().Module = nullptr;
  FUnits.clear();
  ListViewUnit->clear();
  FModule = std::move(loaded.Module);
  FConfigurator = std::move(loaded.Configurator);
  FLogicDoc = loaded.LogicDoc;
  FLogicNode = FLogicDoc->GetDocumentElement();
  FCustomDoc = loaded.CustomDoc;
  FCustomRoot = FCustomDoc->GetDocumentElement();
  FSchemaEditor->ClearLibraryTree();
  FSchemaEditor->SetConfigurator(FConfigurator.get());
  FSchemaEditor->ClearUndo();
  FInputChoices = FillInputChoices(*FModule);
  FOutputChoices = FillOutputChoices(*FModule);
}

void TkvCustomFrame::MergeCustomLogic(const QString &Folder) {
  IXXMLDocument doc = NewXMLDocument();
  if (!doc->Load(ResolveFileNameCI(Folder, CustomFiles::CustomLogic)) || !doc->GetDocumentElement())
    throw EKvFormat("invalid custom logic");
  if (FCurrentItem >= 0) {
    FCurrentItem = -1;
    ShowPlaceholder(QString::fromUtf8(NoUnitCaption));
  }
  FCustomDoc = doc;
  FCustomRoot = doc->GetDocumentElement();
  FUnits = MergeCustomUnits(*FModule, FCustomRoot);
  FillUnitList();
  if (TDeviceDescriptor *desc = Descriptor())
    ApplyNameTables(*desc, FCustomRoot);
  FLogicLoaded = 1;
}

void TkvCustomFrame::FillUnitList() {
  const QSignalBlocker block(ListViewUnit);
  ListViewUnit->clear();
  for (const TCustomUnit &u : FUnits)
    ListViewUnit->addItem(u.Caption);
}

void TkvCustomFrame::SelectUnit(int Index) {
  if (Index < 0 || Index >= FUnits.size())
    return;
  StoreUnit();
  FCurrentItem = -1;
  ShowUnit(Index);
  FCurrentItem = Index;
  const QSignalBlocker block(ListViewUnit);
  ListViewUnit->setCurrentRow(Index);
}

void TkvCustomFrame::ShowUnit(int Index) {
  const IXXMLNode node = FUnits[Index].Node;
  FSchemaEditor->ClearUndo();
  TModule &m = FSchemaEditor->Module();
  FPlaceholderShown = false;
  m.Clear();
  m.Module = FModule.get();
  m.SetDescriptor(FModule->Descriptor);
  // The unit keeps its name when stored again.
  m.Caption = node->GetStrAttr(QStringLiteral("caption"), {});
  try {
    m.LoadFromNode(node);
  } catch (...) {
    // A unit that does not read is never shown half: storing it would
    // overwrite the custom logic with what was read so far.
    ShowPlaceholder(QString::fromUtf8(NoUnitCaption));
    throw;
  }
  FSchemaEditor->ClearUndo();
  FSchemaEditor->ZoomBy(0);
}

void TkvCustomFrame::StoreUnit() {
  if (FCurrentItem < 0 || FCurrentItem >= FUnits.size())
    return;
  const IXXMLNode node = FUnits[FCurrentItem].Node;
  const QString rect = node->GetStrAttr(QStringLiteral("rect"), {});
  node->SetText(QString());
  FSchemaEditor->Module().SaveToNode(node, true);
  node->SetStrAttr(QStringLiteral("rect"), rect);
  RenumberUnitInterface(node);
}

void TkvCustomFrame::UpdateActions() {
  const bool on = FLogicLoaded != 0 && FHost.IsLinkIdle && FHost.IsLinkIdle();
  for (QToolButton *b :
       {ToolButtonCompile, ToolButtonCustomLogicWrite, ToolButtonUndo, ToolButtonUstavNames, ToolButtonParamIONames})
    b->setEnabled(on);
  ToolButtonUnload->setEnabled(false);
  ToolButtonLoad->setEnabled(false);
  // A chain has ended and no build is under way: the last step's text goes.
  if (FHost.IsLinkIdle && FHost.IsLinkIdle() && !FBuilding)
    LabelStatus->clear();
}

bool TkvCustomFrame::KeyDown(QKeyEvent *Event) { return FSchemaEditor && FSchemaEditor->FormKeyDown(Event); }

bool TkvCustomFrame::MouseWheel(QWheelEvent *Event) { return FSchemaEditor && FSchemaEditor->FormMouseWheel(Event); }

// ---- build, writes, restore, project file, unit dialog

void TkvCustomFrame::ConnectBuildCommands() {
  connect(ToolButtonCompile, &QToolButton::clicked, this, [this] { Guard([this] { Build(); }); });
  connect(ToolButtonCustomLogicWrite, &QToolButton::clicked, this, [this] { Guard([this] { WriteCustomLogic(); }); });
  connect(ToolButtonUndo, &QToolButton::clicked, this, [this] { Guard([this] { Undo(); }); });
  connect(ListViewUnit, &QListWidget::itemDoubleClicked, this, [this] { Guard([this] { UnitDialog(); }); });
}

TCustomLogicState TkvCustomFrame::LogicState() const {
  TCustomLogicState s;
  s.WorkDir = FHost.TempFolder ? FHost.TempFolder() : QDir::currentPath();
  s.Configurator = FConfigurator.get();
  s.Module = FModule.get();
  s.LogicDoc = FLogicDoc;
  s.CustomDoc = FCustomDoc;
  s.Units = FUnits;
  s.Source = FSource;
  return s;
}

TCustomWriteHooks TkvCustomFrame::WriteHooks(uint64_t PreparedFor) {
  TCustomWriteHooks h;
  h.Progress = FHost.Progress;
  h.RegistersWritten = FHost.RegistersWritten;
  h.PreparedFor = PreparedFor;
  h.Writes = QString::fromUtf8(CustomTexts::WritesLogic);
  h.Owner = this;
  if (FSource == lsDevice) {
    h.LogicHeads = FLogicHeads;
    h.OtherLogic = QString::fromUtf8(OtherDevice);
  }
  h.LogicWritten = [self = QPointer<TkvCustomFrame>(this)](const QByteArray &Head, bool Confirmed) {
    if (!self)
      return;
    // Sent, the relay may hold either logic until the read-back says which.
    if (!Confirmed) {
      if (!self->FLogicHeads.contains(Head))
        self->FLogicHeads.append(Head);
      return;
    }
    self->FLogicHeads = {Head};
    // The unit is the one it was, with the logic just written.
    if (!self->FLogicIdentity.LogicDigest.isEmpty())
      self->FLogicIdentity.LogicDigest = Head;
    if (self->FHost.LogicWritten)
      self->FHost.LogicWritten(Head);
  };
  h.IdentifyAgain = FHost.IdentifyAgain;
  if (FHost.RenewIdentity)
    h.RenewIdentity = [self = QPointer<TkvCustomFrame>(this), renew = FHost.RenewIdentity](TIOChainList3 &Chain) {
      renew(Chain);
      // The logic in the relay is now the one written: it stays bound to it.
      Chain.exec([self] {
        if (self && self->FSource == lsDevice && self->FHost.DeviceIdentity) {
          self->FLogicIdentity = self->FHost.DeviceIdentity();
          self->FLogicEpoch = self->FHost.ChainGen()->IdentEpoch();
        }
      });
    };
  return h;
}

uint64_t TkvCustomFrame::CheckLogicDevice() {
  const uint64_t now = FHost.ChainGen()->IdentEpoch();
  // A project is checked by the build against the device's identifier file.
  if (FSource != lsDevice || !FHost.DeviceIdentity)
    return now;
  // No identity on either side is no proof of the same unit. The same unit
  // identified again (a poll, a reconnect) keeps its logic; another of the
  // same type at another address or route does not.
  if (FHost.DeviceIdentity().SameUnit(FLogicIdentity)) {
    FLogicEpoch = now;
    return FLogicEpoch;
  }
  const QString text = QString::fromUtf8(OtherDevice);
  ShowMessageBox(TMsgKind::Error, text);
  throw EKvError(text);
}

TCustomBuildEnv TkvCustomFrame::BuildEnv() const { return FHost.BuildEnv ? FHost.BuildEnv() : TCustomBuildEnv(); }

void TkvCustomFrame::Build() {
  // The build holds the page's module and compiler, and its question and
  // status run the event loop: the page's close waits for it.
  const TCommandScope scope(*this);
  const uint64_t epoch = CheckLogicDevice();
  {
    // Answered while another device came (or the link failed), the question
    // is answered for nothing.
    const TIdentWatch watch(*FHost.ChainGen());
    if (ShowMessageBox(TMsgKind::YesNoQuestion, QString::fromUtf8(CustomTexts::BuildQuestion)) != TMsgResult::Yes)
      return;
    if (watch.Changed()) {
      TellNotWritten(*FHost.ChainGen(), QString::fromUtf8(CustomTexts::WritesLogic),
                     QString::fromUtf8(WriteTexts::PreparedForOther));
      return;
    }
  }
  if (FHost.ToolBarColor)
    FHost.ToolBarColor(0xFFFFFF);
  if (FHost.EnterTempFolder)
    FHost.EnterTempFolder();
  StoreUnit();
  PutLoadedFiles();
  // The build reads the base logic again, which clears the editor's mark.
  FEdited = IsModified();
  FBuilding = true;
  const std::unique_ptr<bool, void (*)(bool *)> building(&FBuilding, [](bool *B) { *B = false; });
  TCustomBuildEnv env = BuildEnv();
  env.Status = [this](const QString &Text) {
    ShowStatus(Text);
    QCoreApplication::processEvents();
  };
  TCustomLogicState state = LogicState();
  std::vector<TParamStreamEntry> entries;
  const TCustomWrite write = BuildCustomLogic(state, env, *FSchemaCompile, FErrors, FParamStream, &entries);
  const bool params = write == TCustomWrite::Logic || env.ParamUstavWrite;
  // What the write sends is the build's, whatever is saved while the
  // setpoints are asked about or the write runs.
  const TLogicWriteFiles files = BuiltWriteFiles(state, write, FCoreDate.date(), QDate::currentDate());
  // The write starts once the engineer has seen what it would change in the
  // device's setpoints; the page may have loaded other logic meanwhile, or
  // gone. The chain takes its own copy of the stream.
  const auto start = [self = QPointer<TkvCustomFrame>(this), state, write, params, epoch, files,
                      values = entries](const QByteArray &Stream) {
    if (!self || self->FModule.get() != state.Module)
      return;
    self->FParamStream.close();
    self->FParamStream.setData(Stream);
    self->FParamStream.open(QIODevice::ReadOnly);
    // The values written are compared with the relay's read-back by name.
    TCustomWriteHooks hooks = self->WriteHooks(epoch);
    hooks.Values = values;
    if (write == TCustomWrite::All)
      ::WriteAll(*self->FHost.ChainGen(), state.WorkDir, files, Stream, params, hooks);
    else
      ::WriteLogic(*self->FHost.ChainGen(), state.WorkDir, files, Stream, hooks);
  };
  if (!params)
    start(QByteArray());
  else
    ConfirmParamStream(*FHost.ChainGen(), std::move(entries),
                       {FHost.RequestUserRights, FHost.Progress, FHost.CheckIdentity, epoch,
                        QString::fromUtf8(CustomTexts::WritesLogic), this},
                       start);
}

void TkvCustomFrame::WriteCustomLogic() {
  const uint64_t epoch = CheckLogicDevice();
  if (FHost.EnterTempFolder)
    FHost.EnterTempFolder();
  StoreUnit();
  // The identifier file checked is the loaded logic's, whatever the folder holds.
  PutLoadedFiles();
  ::WriteCustomLogic(*FHost.ChainGen(), LogicState(), BuildEnv(), WriteHooks(epoch));
  if (FHost.ApplyCustomLogicNames)
    FHost.ApplyCustomLogicNames();
}

void TkvCustomFrame::Undo() {
  if (ShowMessageBox(TMsgKind::YesNoQuestion, QString::fromUtf8(CustomTexts::UndoQuestion)) != TMsgResult::Yes)
    return;
  if (FHost.EnterTempFolder)
    FHost.EnterTempFolder();
  PutLoadedFiles();
  RestoreCustomLogic(LogicState().WorkDir);
  // A restore changes the units only: the logic still came from where it
  // came from, and the next build checks and writes accordingly.
  ShowLoadedLogic(TLogicSource(FSource));
  // The relay's initial logic is not a project's: a Save asks for a name.
  if (FSource == lsDevice)
    SetFileName(QString());
}

void TkvCustomFrame::Save() {
  if (!FCustomDoc || FFileName.isEmpty() || IsRunningCommand())
    return;
  if (FHost.EnterTempFolder)
    FHost.EnterTempFolder();
  StoreUnit();
  PutLoadedFiles();
  SaveProject(LogicState(), FFileName, BuildEnv().CustomSetting);
  FSchemaEditor->ClearUndo();
  FEdited = false;
  if (FModule)
    FModule->Changed = false;
}

void TkvCustomFrame::SaveAs(const QString &FileName) {
  // A failed save keeps the name the project had.
  const QString was = FFileName;
  FFileName = FileName;
  try {
    Save();
  } catch (...) {
    FFileName = was;
    throw;
  }
  SetFileName(FileName);
}

bool TkvCustomFrame::IsModified() const { return FEdited || (FModule && FModule->Changed); }

bool TkvCustomFrame::QueryClose() {
  if (!IsModified())
    return true;
  return AskSaveBeforeClose(MultiLingual().Translate(QString::fromUtf8(ChangedQuestion)),
                            [this] { return SaveForClose(); });
}

bool TkvCustomFrame::SaveForClose() {
  try {
    if (FFileName.isEmpty()) {
      const QString path = AskFileName({TFileDialogKind::Save, QStringLiteral("Сохранить файл Внешней логики как"),
                                        QStringLiteral("pack"), QStringLiteral("*.pack"), {}, {}});
      if (path.isEmpty())
        return false;
      SaveAs(path);
    } else {
      Save();
    }
  } catch (const EKvError &) {
    throw;
  } catch (const std::exception &e) {
    throw EKvError(QString::fromUtf8(e.what()));
  }
  return !IsModified();
}

void TkvCustomFrame::LoadFromFile(const QString &FileName) {
  if (!FInitialized || IsRunningCommand())
    return;
  if (FHost.EnterTempFolder)
    FHost.EnterTempFolder();
  StoreUnit();
  // The project is unpacked into a folder of its own and loaded from there:
  // the work files, the logic and the project's name are taken over only
  // once all of it has loaded, so a project that does not load leaves the
  // page, and what a later Save writes where, as they were.
  const QString stage = QDir(LogicState().WorkDir).filePath(QStringLiteral("project-load"));
  QDir(stage).removeRecursively();
  if (!QDir().mkpath(stage))
    throw EKvError(QStringLiteral("cannot create folder ") + stage);
  try {
    LoadProject(stage, FileName);
    ShowLoadedLogic(lsProject, stage);
  } catch (const ELogicMember &e) {
    QDir(stage).removeRecursively();
    throw EKvFormat(e.InProject(QFileInfo(FileName).fileName()));
  } catch (...) {
    QDir(stage).removeRecursively();
    throw;
  }
  FLogicIdentity = {};
  FLogicHeads.clear();
  SetFileName(FileName);
  // The project has loaded: an error of an earlier attempt no longer stands.
  ShowStatus(QString());
  if (FHost.SetAutoPoll)
    FHost.SetAutoPoll(0);
}

TUnitPropertyForm *TkvCustomFrame::FillUnitDialog() {
  TUnitPropertyForm *form = FHost.UnitPropertyForm;
  if (!form || FCurrentItem < 0 || FCurrentItem >= FUnits.size())
    return nullptr;
  const TModule &shown = FSchemaEditor->Module();
  form->SetCaption(ListViewUnit->item(FCurrentItem)->text());
  form->SetChoices(FInputChoices, UnitChoicesChecked(shown, 0, FInputChoices), FOutputChoices,
                   UnitChoicesChecked(shown, 1, FOutputChoices),
                   OutputsOfOtherUnits(FCustomRoot, FUnits[FCurrentItem].Node->GetIntAttr(QStringLiteral("orgid"), 0)));
  return form;
}

void TkvCustomFrame::UnitDialog() {
  const TCommandScope scope(*this);
  TUnitPropertyForm *form = FillUnitDialog();
  if (!form || form->exec() != QDialog::Accepted)
    return;
  FEdited = true;
  TCustomUnit &unit = FUnits[FCurrentItem];
  TModule &shown = FSchemaEditor->Module();
  unit.Caption = form->GetCaption();
  ListViewUnit->item(FCurrentItem)->setText(unit.Caption);
  unit.Node->SetStrAttr(QStringLiteral("caption"), unit.Caption);
  shown.Caption = unit.Caption;
  // The interface changes are one step of the editor's history: Ctrl+Z takes
  // them back, and nothing the selection or an older step holds is freed.
  TSchemaEditorState &editor = FSchemaEditor->State();
  editor.RunAsOneStep([&] {
    ApplyUnitChoices(shown, 0, FInputChoices, form->InputChecked(), &editor);
    ApplyUnitChoices(shown, 1, FOutputChoices, form->OutputChecked(), &editor);
  });
  FSchemaEditor->ZoomBy(0);
}
