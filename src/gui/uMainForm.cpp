#include "uMainForm.h"

#include "uAboutBox.h"
#include "uAgentClientForm.h"
#include "uConfigMMSForm.h"
#include "uAppIniFile.h"
#include "uControls.h"
#include "uDashboardFrame.h"
#include "uDashboardSetupForm.h"
#include "uDeviceBoardFrame.h"
#include "uDeviceboardSetup.h"
#include "uDialogSinks.h"
#include "uPropertyFormX.h"
#include "uErrors.h"
#include "uEventPDFReportFrame.h"
#include "uFileDialogSink.h"
#include "uFiles.h"
#include "uFileDialogSink.h"
#include "uPageControlHelper.h"
#include "uEventFrame.h"
#include "uIOChain3.h"
#include "uIdentification.h"
#include "uLogFrame.h"
#include "uLogger.h"
#include "uModbus.h"
#include "uModbusFrame.h"
#include "uModbusPDF.h"
#include "uModbusTools.h"
#include "oi.h"
#include "uDeviceIO.h"
#include "uDateTime.h"
#include "uSimpleDeviceDescriptor.h"
#include "uBitmapForm.h"
#include "uMessageSink.h"
#include "uPreferenceForm.h"
#include "uMultiLingual.h"
#include "uOscHeadFrame.h"
#include "uOscFrame.h"
#include "uParamFrame.h"
#include "uPasswdForm.h"
#include "uPlacement.h"
#include "uPollTimer.h"
#include "uStatusText.h"
#include "uTranslateForms.h"
#include "uUstavConversion.h"
#include "uSchemaEditor.h"
#include "uModbusIderList.h"
#include "uUstavFrame.h"
#include "uUstavLocalFrame.h"
#include "uActionRules.h"
#include "uCustomFrame.h"
#include "uCharMap.h"
#include "uDateTime.h"
#include "uExcelFrame.h"
#include "uVersionInfo.h"
#include "uWindowPlacement.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QListWidget>
#include <QWheelEvent>
#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QScopedValueRollback>
#include <QStatusBar>
#include <QStyle>
#include <QTabBar>
#include <QToolBar>
#include <QVBoxLayout>

namespace {
// The setpoints page as the bound setpoint controls reach it. A child of the
// page, so it goes with the page and is never used after it.
class TUstavFrameConversion : public QObject, public TUstavConversion {
public:
  explicit TUstavFrameConversion(TUstavFrame *Frame) : QObject(Frame), FFrame(Frame) { SetUstavConversion(this); }
  ~TUstavFrameConversion() override {
    if (UstavConversion() == this)
      SetUstavConversion(nullptr);
  }
  QString RegValueText(int Reg, uint16_t Value) const override { return FFrame->RegValueText(Reg, Value); }
  std::optional<uint16_t> TextToRegValue(int Reg, const QString &Text) const override {
    if (!FFrame->FindByReg(Reg))
      return std::nullopt;
    return uint16_t(FFrame->TextToRegValue(Reg, Text));
  }

private:
  TUstavFrame *FFrame;
};
} // namespace

namespace {
const char *const LockerFileName = "locker.txt";
const char *const DashboardChangedQuestion = "Изменения титульной панелм не сохранены, сохранить?";
// Captions of run-time tabs end with six blanks: room for the close button.
const char *const TabCaptionTail = "      ";
constexpr int EventReportTag = -11;

QAction *NewAction(QObject *Owner, const char *Name, const QString &Caption, const QKeySequence &Shortcut = {}) {
  auto *a = new QAction(Caption, Owner);
  a->setObjectName(Name);
  if (!Shortcut.isEmpty())
    a->setShortcut(Shortcut);
  return a;
}

QLabel *NewLabel(QWidget *Parent, const char *Name, const QString &Text) {
  auto *l = new QLabel(Text, Parent);
  l->setObjectName(Name);
  return l;
}

// A file command of a page row: asks for the name through the file-dialog
// sink and hands it to Use; a cancelled dialog does nothing.
std::function<void()> WithFile(TFileDialogKind Kind, const QString &Caption, const QString &Ext, const QString &Filter,
                               std::function<void(const QString &)> Use) {
  return [=] {
    if (const QString path = AskFileName({Kind, Caption, Ext, Filter, {}, {}}); !path.isEmpty())
      Use(path);
  };
}

// The folder, then the system's reason: which folder and why, never only "failed".
QString FolderProblemText(const QString &Folder, const QString &Reason) {
  return MultiLingual().Translate(QStringLiteral("Папка недоступна для записи")) + ": " + QDir::cleanPath(Folder) +
         ": " + Reason;
}

QString ColorName(uint32_t Color) {
  // $BBGGRR, as stored colours are written.
  return QColor(int(Color & 0xFF), int((Color >> 8) & 0xFF), int((Color >> 16) & 0xFF)).name();
}
} // namespace

void PrintLogFailure(const QString &Text) {
  // One line per log that failed, each translated on its own.
  for (const QString &line : Text.split(u'\n', Qt::SkipEmptyParts))
    std::fprintf(stderr, "%s\n", MultiLingual().TranslateMessage(line).toLocal8Bit().constData());
}

TMainForm::TMainForm(const TAppIniFile &Ini, const QString &ProgramFolder, QWidget *Parent)
    : QMainWindow(Parent), FIni(Ini) {
  setObjectName("MainForm");
  setWindowTitle(QStringLiteral("Вартон 2"));
  // Every number text of files and grids uses a point.
  QLocale::setDefault(QLocale::c());

  FProgramFolder = ProgramFolder.endsWith(u'/') ? ProgramFolder : ProgramFolder + u'/';
  FSettings = TMainSettings::Read(Ini, FProgramFolder);

  FDescriptor = std::make_unique<TSimpleDeviceDescriptor>();
  FDescriptor->SetOnLog([](const QString &Line) { Logger().Debug(Line); });

  BuildActions();
  ConnectCustomLogic();
  BuildMenus();
  BuildToolBar();
  BuildPages();
  UnpinOnCommands();
  PageControl->setCurrentIndex(0);

  for (const char *sub : {"cache", "osc"}) {
    const QString folder = FProgramFolder + sub;
    QDir().mkpath(folder);
    ReportFolderProblem(folder);
  }
  PageControlHelper = new TPageControlHelper(PageControl);
  PageControlHelper->SetCloseDelay([this](TTabSheetClosable *Sheet) { return PutOffTabClose(Sheet); });

  for (QBuffer *b : {&FRequest, &FAnswer, &FFlashHead})
    b->open(QIODevice::ReadWrite);

  FIOChain = new TIOChainGen(this);
  FIOChain->setLogger(&Logger());
  FIOChain->setOnMessage([this](const QString &Text) { ShowStatus(Text); });
  // A step's own failure reaches the program's edge, as an uncaught one would;
  // the chain's message has already shown it.
  FIOChain->setOnStepFailure([](const QString &Text) { LogEdgeError(Text); });
  // The bar belongs to the chain that moves it: once no chain runs it goes,
  // whether the last one finished, failed or was aborted.
  FIOChain->setOnChainEnd([this] {
    if (!FIOChain->IsBusy())
      ProgressBar->hide();
    // The commands that wait for an idle link are on as soon as it is.
    if (FStarted)
      UpdateActions();
  });
  FIOChain->setWorkDir(FProgramFolder);
  FIOChain->useSmartDesc(FSettings.SmartDesc);
  FIdentification = std::make_unique<TIdentification>(*this, Ini);
  // The device identified is trusted only while the link has not failed
  // since its identity was checked: every write passes the check's gate.
  FIOChain->setOnLinkFailure([this] { FIdentification->LinkFailed(); });
  FIOChain->setWriteGate([this](TIOChainList3 &Chain) {
    // A write asked is the engineer's next command: the last report has been read.
    UnpinWriteReport();
    FIdentification->GateWrite(Chain);
  });
  // What a page shows is of the relay identified: a read asked is checked first.
  FIOChain->setReadGate([this](TIOChainList3 &Chain) { FIdentification->GateRead(Chain); });
  FIOChain->setOnWriteReport([this](const QString &Text) { ShowWriteReport(Text); });
  FIOChain->setOnWriteBox([this](const QString &What, const QString &Why) { ShowWriteBox(What, Why); });
  FIOChain->setOnWriteEnd([this](const TIOChainList3 &Chain) {
    // Whatever wrote (a board, the title panel, a page, the logic), the
    // setpoints page shows the register image the write read back, and the
    // edit tabs made from this relay follow it in their unedited cells.
    if (UstavFrame)
      UstavFrame->ShowChanged({});
    WriteEnded(Chain);
  });
  connect(aMonitorPoll, &QAction::triggered, this, [this] { FIdentification->aMonitorPollExecute(); });
  connect(cbDevNo, &QComboBox::activated, this, [this] { FIdentification->cbDevNoChange(); });
  connect(nModbusReport, &QAction::triggered, this, [this] { TModbusPDF(*FDescriptor, ReportSetup()).Execute(); });
  connect(aAgent, &QAction::triggered, this, [this] { FIdentification->ConnectToUnit(*FForms.AgentClientForm); });
  connect(aModbusTcp, &QAction::triggered, this, [this] { FIdentification->ConnectToUnit(*FForms.ModbustcpForm); });
  connect(aConfigMMS, &QAction::triggered, this, [this] { FForms.ConfigMMSForm->exec(); });
  connect(NEventReport, &QAction::triggered, this, [this] { OpenEventReport(&EventFrame->Items()); });

  Timer = new QTimer(this);
  Timer->setObjectName("Timer");
  Timer->setInterval(2000);
  connect(Timer, &QTimer::timeout, this, &TMainForm::TimerTimer);
  FSignalGuard = new QTimer(this);
  FSignalGuard->setInterval(20);
  connect(FSignalGuard, &QTimer::timeout, this, &TMainForm::GuardSignalClose);

  FForms = CreateAppForms(this, Ini);
  resize(1000, 680);
  // Log files fail on the thread that writes them: the report comes here.
  SetLogFailureSink([this](const QString &Text) {
    QMetaObject::invokeMethod(this, [this, Text] { ShowLogFailure(Text); }, Qt::QueuedConnection);
  });
}

TMainForm::~TMainForm() {
  SetLogFailureSink(PrintLogFailure);
  Timer->stop();
  // The custom-logic page's edge handler reports to this window.
  SetEdgeErrorHandler({});
  // Pages closed from here on must not reach the window's slots.
  disconnect(PageControl, nullptr, this, nullptr);
  // Chains hold the front, the front holds the thread: free them in that order.
  delete FIOChain;
  FIOChain = nullptr;
  FDeviceTool.reset();
  FDeviceThread.reset();
  FLockFile.Release();
}

void TMainForm::BuildActions() {
  aMonitorPoll = NewAction(this, "aMonitorPoll", QStringLiteral("Опрос"));
  aMonitorPoll->setIcon(style()->standardIcon(QStyle::SP_MediaPlay));
  aMonitorRefresh = NewAction(this, "aMonitorRefresh", QStringLiteral("Обновить"), QKeySequence("Ctrl+R"));
  aMonitorRefresh->setIcon(style()->standardIcon(QStyle::SP_BrowserReload));
  aMonitorBreak = NewAction(this, "aMonitorBreak", QStringLiteral("Прервать"));
  aMonitorBreak->setIcon(style()->standardIcon(QStyle::SP_BrowserStop));
  daSetTime = NewAction(this, "daSetTime", QStringLiteral("Установить время"));
  nModbusReport = NewAction(this, "nModbusReport", QStringLiteral("Отчет MODBUS"));
  nReport = NewAction(this, "nReport", QStringLiteral("Отчет"));
  N6 = NewAction(this, "N6", QStringLiteral("Настройка порта "));
  N6->setVisible(false);
  miControl = NewAction(this, "miControl", QStringLiteral("Управление"));
  miParam = NewAction(this, "miParam", QStringLiteral("Параметры"));
  miParam->setVisible(false);
  N15 = NewAction(this, "N15", QStringLiteral("Автоповтор"));
  adSetup = NewAction(this, "adSetup", QStringLiteral("Настройка панели"));
  apFileLoad = NewAction(this, "apFileLoad", QStringLiteral("Открыть"), QKeySequence("Ctrl+O"));
  apFileLoad->setIcon(style()->standardIcon(QStyle::SP_DialogOpenButton));
  apFileSave = NewAction(this, "apFileSave", QStringLiteral("Сохранить"), QKeySequence("Ctrl+S"));
  apFileSave->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
  apFileSaveAs = NewAction(this, "apFileSaveAs", QStringLiteral("Сохранить как"));
  auWrite = NewAction(this, "auWrite", QStringLiteral("Записать в устройство"));
  auEdit = NewAction(this, "auEdit", QStringLiteral("Редактировать уставки"));
  nExcel = NewAction(this, "nExcel", QStringLiteral("Excel"));
  nExit = NewAction(this, "nExit", QStringLiteral("Выход"));
  aoSetup = NewAction(this, "aoSetup", QStringLiteral("Настройка"), QKeySequence("F4"));
  aoGetList = NewAction(this, "aoGetList", QStringLiteral("Список"));
  aoGetList->setVisible(false);
  aoOpen = NewAction(this, "aoOpen", QStringLiteral("Открыть"), QKeySequence("Ctrl+Shift+O"));
  aoClose = NewAction(this, "aoClose", QStringLiteral("Закрыть"));
  aoPrint = NewAction(this, "aoPrint", QStringLiteral("Печать"), QKeySequence("Ctrl+P"));
  aoExportOsci = NewAction(this, "aoExportOsci", QStringLiteral("Экспорт осциллограмм"));
  NEnglish = NewAction(this, "NEnglish", QStringLiteral("English"));
  NRussian = NewAction(this, "NRussian", QStringLiteral("Русский"));
  NUkrainian = NewAction(this, "NUkrainian", QStringLiteral("Український"));
  auto *languages = new QActionGroup(this);
  for (QAction *a : {NEnglish, NRussian, NUkrainian}) {
    a->setCheckable(true);
    languages->addAction(a);
  }
  miLog = NewAction(this, "miLog", QStringLiteral("Журнал"));
  miModbus = NewAction(this, "miModbus", QStringLiteral("Modbus"));
  NCustomLogic = NewAction(this, "NCustomLogic", QStringLiteral("Внешняя логика"), QKeySequence("Ctrl+L"));
  N3 = NewAction(this, "N3", QStringLiteral("Схема"));
  N3->setVisible(false);
  NDeviceBoard = NewAction(this, "NDeviceBoard", QStringLiteral("Функциональные панели"));
  NEventReport = NewAction(this, "NEventReport", QStringLiteral("Отчет по событиям"));
  nEventExport = NewAction(this, "nEventExport", QStringLiteral("Экспорт"));
  N13 = NewAction(this, "N13", QStringLiteral("О программе"));
  aAgent = NewAction(this, "aAgent", QStringLiteral("Агент"));
  aModbusTcp = NewAction(this, "aModbusTcp", QStringLiteral("ModbusTcp"));
  aConfigMMS = NewAction(this, "aConfigMMS", QStringLiteral("MMS Config"));
  // The menu items of the network actions are shown or hidden by settings on
  // their own; they run their action.
  nAgentClient = NewAction(this, "nAgentClient", QStringLiteral("Агент"));
  nModbusTcp = NewAction(this, "nModbusTcp", QStringLiteral("ModbusTcp"));
  nMMSConfig = NewAction(this, "nMMSConfig", QStringLiteral("MMS Config"));
  connect(nAgentClient, &QAction::triggered, aAgent, &QAction::trigger);
  connect(nModbusTcp, &QAction::triggered, aModbusTcp, &QAction::trigger);
  connect(nMMSConfig, &QAction::triggered, aConfigMMS, &QAction::trigger);
  atabClose = NewAction(this, "atabClose", QStringLiteral("Закрыть вкладку"), QKeySequence("Ctrl+F4"));
  NClose = NewAction(this, "NClose", QStringLiteral("Закрыть вкладку"));
  addAction(atabClose);
  UnpinOnCommands();

  connect(nExit, &QAction::triggered, this, &QWidget::close);
  connect(atabClose, &QAction::triggered, this, &TMainForm::CloseActiveTab);
  connect(NClose, &QAction::triggered, this, &TMainForm::CloseActiveTab);
  connect(miLog, &QAction::triggered, this, &TMainForm::OpenLogTab);
  connect(miModbus, &QAction::triggered, this, &TMainForm::OpenModbusTab);
  // The oscillogram viewer's rows.
  auto Guarded = [](const std::function<void()> &Command) {
    return [Command] {
      try {
        Command();
      } catch (const EKvError &e) {
        ShowEdgeError(e.Text());
      }
    };
  };
  connect(aoOpen, &QAction::triggered, this, Guarded([this] {
            const QString Name = TkvOscFrame::OpenDialog(this, QString::fromUtf8("Открыть осциллограмму"),
                                                         FProgramFolder + QStringLiteral("osc"), QStringLiteral("*.dat"));
            if (!Name.isEmpty())
              OpenOscTab(Name);
          }));
  connect(aoClose, &QAction::triggered, this, &TMainForm::CloseActiveTab);
  connect(aoSetup, &QAction::triggered, this, Guarded([this] {
            TTabSheet *sheet = PageControl->ActiveSheet();
            if (!sheet || sheet->Tag() == 0)
              throw EKvError("no osc");
            if (TkvOscFrame *frame = ActiveOscFrame())
              frame->RunSetup();
          }));
  connect(aoPrint, &QAction::triggered, this, Guarded([this] {
            if (TkvOscFrame *frame = ActiveOscFrame())
              frame->Print();
          }));
  connect(N13, &QAction::triggered, this, [this] { FForms.AboutBox->exec(); });
  connect(adSetup, &QAction::triggered, this, [this] {
    // Without an identified device the designers take the descriptor of "desc.xml".
    if (!FDescriptor->Ready)
      FDescriptor->LoadFromFile(QStringLiteral("desc.xml"));
    QWidget *page = PageControl->currentWidget();
    auto *boards = page ? page->findChild<TkvDeviceBoardFrame *>() : nullptr;
    if (page == TabSheetDashboard) {
      TDashboardSetupForm *form = FForms.DashboardSetupForm;
      form->SetDescriptor(FDescriptor.get());
      form->SetPropertyForm(FForms.PropertyForm);
      const int index = PageControl->indexOf(TabSheetDashboard);
      form->Prepare(DashboardFrame->Panel, PageControl->tabText(index));
      // An identification while the designer is open binds the panel again
      // but keeps it and its file: the designer's result goes there.
      DashboardFrame->SetDesignerOpen(true);
      const bool accepted = form->exec() == QDialog::Accepted;
      DashboardFrame->SetDesignerOpen(false);
      if (!accepted)
        return;
      setUpdatesEnabled(false);
      QString caption;
      form->Apply(DashboardFrame->Panel, caption);
      PageControl->setTabText(index, caption);
      // Handlers, descriptor and disabled setpoint panels as after a load,
      // for the relay identified now.
      DashboardFrame->SetDescriptor(FDescriptor.get());
      DashboardFrame->SetModified(true);
      setUpdatesEnabled(true);
    } else if (boards) {
      TDeviceboardSetupForm *form = FForms.DeviceboardSetupForm;
      form->SetDescriptor(FDescriptor.get());
      form->SetPropertyForm(FForms.PropertyForm);
      form->LoadFrom(boards->Panel);
      if (form->exec() != QDialog::Accepted)
        return;
      setUpdatesEnabled(false);
      form->ApplyTo(boards->Panel);
      boards->BindControls();
      boards->SetModified(true);
      setUpdatesEnabled(true);
    }
  });
  connect(NDeviceBoard, &QAction::triggered, this, [this] {
    if (!FDescriptor->Ready) {
      ShowErrorText(QStringLiteral("Нет дескриптора"));
      return;
    }
    TTabSheet *sheet = OpenTab([](QWidget *Parent) { return new TkvDeviceBoardFrame(Parent); }, -8, true);
    PageControl->setTabText(PageControl->indexOf(sheet),
                            MultiLingual().Translate(QStringLiteral("Функциональные панели")) + TabCaptionTail);
    auto *frame = sheet->findChild<TkvDeviceBoardFrame *>();
    // A tab already open keeps its boards (and changes not yet saved).
    if (!frame->FileName().isEmpty())
      return;
    if (auto *closable = qobject_cast<TTabSheetClosable *>(sheet))
      closable->SetCloseQuery([frame] { return frame->QueryClose(); });
    frame->SetHost(DashboardFrame->Host());
    frame->SetDescriptor(FDescriptor.get());
    frame->Init(QDir(FProgramFolder).filePath(QStringLiteral("deviceFrame.xml")));
  });
  connect(N3, &QAction::triggered, this, [this] {
    auto *editor = new TSchemaEditor(this);
    editor->setWindowFlag(Qt::Window);
    editor->setAttribute(Qt::WA_DeleteOnClose);
    try {
      EnsureModbusIderList(QStringLiteral("identification.inc"));
      editor->LoadFromFile(QStringLiteral("temp.xml"));
    } catch (const EKvError &e) {
      ShowErrorText(e.Text());
      delete editor;
      return;
    }
    TranslateComponent(MultiLingual(), editor);
    editor->show();
  });
  connect(NEnglish, &QAction::triggered, this, [this] { SetLanguage(lnEnglish); });
  connect(NRussian, &QAction::triggered, this, [this] { SetLanguage(lnRussian); });
  connect(NUkrainian, &QAction::triggered, this, [this] { SetLanguage(lnUkrainian); });
}

void TMainForm::BuildMenus() {
  QMenuBar *bar = menuBar();
  NFile = bar->addMenu(QStringLiteral("Файл"));
  NFile->setObjectName("NFile");
  NFile->addActions({apFileLoad, apFileSave, apFileSaveAs});
  NFile->addSeparator();
  NFile->addAction(nExcel);
  NFile->addSeparator();
  NFile->addAction(nExit);

  NDevice = bar->addMenu(QStringLiteral("Устройство"));
  NDevice->setObjectName("NDevice");
  NDevice->addActions({aMonitorPoll, aMonitorRefresh, aMonitorBreak, N15});
  NDevice->addSeparator();
  NPort = NDevice->addMenu(QStringLiteral("Порт"));
  NPort->setObjectName("NPort");
  NBaudrate = NDevice->addMenu(QStringLiteral("Скорость"));
  NBaudrate->setObjectName("NBaudrate");
  NDevice->addAction(N6);
  NDevice->addSeparator();
  NDevice->addActions({daSetTime, miControl, miParam, auWrite, auEdit});
  NDevice->addSeparator();
  NDevice->addActions({nReport, nModbusReport, nEventExport, NEventReport});

  NOsc = bar->addMenu(QStringLiteral("Осциллограммы"));
  NOsc->setObjectName("NOsc");
  NOsc->addActions({aoOpen, aoClose, aoPrint, aoSetup, aoGetList, aoExportOsci});

  NTools = bar->addMenu(QStringLiteral("Сервис"));
  NTools->setObjectName("NTools");
  NTools->addActions({adSetup, NDeviceBoard, NCustomLogic, N3});
  NTools->addSeparator();
  NTools->addActions({miLog, miModbus});
  NTools->addSeparator();
  NTools->addActions({nModbusTcp, nAgentClient, nMMSConfig});

  NLanguage = bar->addMenu(QStringLiteral("Язык"));
  NLanguage->setObjectName("NLanguage");
  NLanguage->addActions({NRussian, NUkrainian, NEnglish});

  NHelp = bar->addMenu(QStringLiteral("Помощь"));
  NHelp->setObjectName("NHelp");
  NHelp->addAction(N13);

  PopupMenu = new QMenu(this);
  PopupMenu->setObjectName("PopupMenu");
  PopupMenu->addAction(NClose);
}

void TMainForm::BuildToolBar() {
  ToolBar = addToolBar(QStringLiteral("ToolBar"));
  ToolBar->setObjectName("ToolBar");
  ToolBar->setMovable(false);
  ToolBar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  ToolBar->addActions({aMonitorPoll, aMonitorRefresh, aMonitorBreak});
  ToolBar->addSeparator();

  // Labels and boxes sit in one strip so that each can be hidden on its own.
  auto *strip = new QWidget(this);
  strip->setObjectName("ToolStrip");
  auto *row = new QHBoxLayout(strip);
  row->setContentsMargins(4, 0, 4, 0);
  row->setSpacing(8);
  Label11 = NewLabel(strip, "Label11", QStringLiteral("Адрес"));
  cbDevNo = new QComboBox(strip);
  cbDevNo->setObjectName("cbDevNo");
  cbDevNo->setFont(QFont("Courier New"));
  cbDevNo->setMinimumContentsLength(3);
  cbAuto = new QCheckBox(QStringLiteral("Авто"), strip);
  cbAuto->setObjectName("cbAuto");
  // The title panel is live from the start: the poll timer refreshes it.
  cbAuto->setChecked(true);
  cbPrimVal = new QCheckBox(QStringLiteral("Первичные значения"), strip);
  cbPrimVal->setObjectName("cbPrimVal");
  LabelDeviceType = NewLabel(strip, "LabelDeviceType", QStringLiteral("Тип устройства"));
  LabelCore = NewLabel(strip, "LabelCore", QStringLiteral("Ядро"));
  LabelCoreID = NewLabel(strip, "LabelCoreID", QStringLiteral("XXXX-XX-XX"));
  LabelDesc = NewLabel(strip, "LabelDesc", QStringLiteral("Дескриптор"));
  LabelDescID = NewLabel(strip, "LabelDescID", QStringLiteral("XXXX-XX-XX"));
  LabelVarnok = NewLabel(strip, "LabelVarnok", QStringLiteral("ВАРНОК"));
  QFont bold = LabelVarnok->font();
  bold.setBold(true);
  bold.setPointSizeF(bold.pointSizeF() * 1.3);
  LabelVarnok->setFont(bold);
  for (QWidget *w : std::initializer_list<QWidget *>{Label11, cbDevNo, cbAuto, cbPrimVal, LabelDeviceType, LabelCore,
                                                     LabelCoreID, LabelDesc, LabelDescID})
    row->addWidget(w);
  row->addStretch(1);
  row->addWidget(LabelVarnok);
  // The strip has a row of its own: beside the commands it would not fit the
  // window's default width, and the tool bar would hide address, device type
  // and dates behind its overflow button.
  addToolBarBreak();
  ToolBar2 = addToolBar(QStringLiteral("ToolBar2"));
  ToolBar2->setObjectName("ToolBar2");
  ToolBar2->setMovable(false);
  ToolBar2->addWidget(strip);
  strip->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);

  connect(N15, &QAction::triggered, cbAuto, &QCheckBox::toggle);
  SetToolBarColor(clLinkError);
}

void TMainForm::BuildPages() {
  PageControl = new TPageControl(this);
  PageControl->setObjectName("PageControl");
  PageControl->tabBar()->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(PageControl->tabBar(), &QWidget::customContextMenuRequested, this, [this](const QPoint &Pos) {
    const TTabSheet *sheet = PageControl->ActiveSheet();
    NClose->setEnabled(sheet && sheet->Tag() != 0);
    PopupMenu->popup(PageControl->tabBar()->mapToGlobal(Pos));
  });
  setCentralWidget(PageControl);

  auto addSheet = [this](const char *Name, const QString &Caption, QWidget *Frame) {
    auto *sheet = new TTabSheet;
    sheet->setObjectName(Name);
    auto *layout = new QVBoxLayout(sheet);
    layout->setContentsMargins(0, 0, 0, 0);
    Frame->setParent(sheet);
    layout->addWidget(Frame);
    PageControl->addTab(sheet, Caption);
    return sheet;
  };
  DashboardFrame = new TkvDashboardFrame;
  TabSheetDashboard = addSheet("TabSheetDashboard", QStringLiteral("Текущие значения"), DashboardFrame);
  ParamFrame = new TkvParamFrame;
  TabSheetParam = addSheet("TabSheetParam", QStringLiteral("Параметры"), ParamFrame);
  UstavFrame = new TUstavFrame;
  TabSheetUstav = addSheet("TabSheetUstav", QStringLiteral("Уставки"), UstavFrame);
  EventFrame = new Tkv2EventFrame;
  TabSheetEvent = addSheet("TabSheetEvent", QStringLiteral("Журнал событий"), EventFrame);
  OscHeadFrame = new TOscHeadFrame;
  TabSheetOscHeader = addSheet("TabSheetOscHeader", QStringLiteral("Осциллограммы"), OscHeadFrame);

  StatusBar_ = statusBar();
  StatusBar_->setObjectName("StatusBar_");
  ProgressBar = new QProgressBar(this);
  ProgressBar->setObjectName("ProgressBar");
  ProgressBar->setMaximumWidth(240);
  ProgressBar->hide();
  StatusBar_->addPermanentWidget(ProgressBar);
}

bool TMainForm::FormShow() {
  FTempFolder = FSettings.TempFolder;
  QDir().mkpath(FTempFolder);
  QDir::setCurrent(FTempFolder);

  // The boxes of the start-up come before the interface is translated; they
  // speak the language it starts in all the same.
  const auto startUpBox = [this](const QString &Text) {
    const int target = MultiLingual().TargetLanguage();
    MultiLingual().SetLanguageCode(FSettings.Lang);
    ShowMessageText(Text);
    MultiLingual().SetTargetLanguage(target);
  };
  // One work folder serves one running copy. When the lock cannot be taken
  // nothing else of the start-up runs, so this copy writes nothing there.
  QString reason;
  if (!FLockFile.Take(FTempFolder + LockerFileName, &reason)) {
    Timer->stop();
    // Only another copy makes the folder busy; a folder that is missing or
    // read-only is named with the system's reason.
    const QString problem = FolderProblem(FTempFolder);
    const bool busy = FLockFile.HeldElsewhere() || problem.isEmpty();
    const QString shown =
        busy ? QStringLiteral("файл занят: ") + LockerFileName : FolderProblemText(FTempFolder, problem);
    if (busy) {
      // The log file may be the running copy's: it gains the refusal and
      // nothing else, no session of this copy's.
      if (!FLogFile.isEmpty())
        TLogger::AppendLine(FLogFile, TLogger::lvError,
                            shown + " (" + FTempFolder + LockerFileName + ": " + reason + ")");
    } else {
      // No copy runs there: this copy's start ends in its own log.
      OpenLog();
      for (const QString &p : std::as_const(FEarlyProblems))
        Logger().Error(p);
      FEarlyProblems.clear();
      Logger().Error(FTempFolder + LockerFileName + ": " + reason);
      Logger().Error(shown);
    }
    startUpBox(shown);
    return false;
  }
  // A full work folder still lets the program show the device; the user is
  // told once why nothing can be saved there. A folder that cannot be written
  // at all (its lock file reachable all the same) would leave an empty window:
  // start-up stops there, as when the lock cannot be taken.
  if (const QString problem = FolderProblem(FTempFolder); !problem.isEmpty()) {
    const QString text = FolderProblemText(FTempFolder, problem);
    if (problem != QString::fromLocal8Bit(std::strerror(ENOSPC))) {
      Timer->stop();
      FLockFile.Release();
      OpenLog();
      for (const QString &p : std::as_const(FEarlyProblems))
        Logger().Error(p);
      FEarlyProblems.clear();
      Logger().Error(text);
      startUpBox(text);
      return false;
    }
    FEarlyProblems << text;
    startUpBox(text);
  }
  // Each log keeps the previous run's file as its generation 1, so that the
  // log of a run that crashed survives this one.
  OpenLog();
  for (const QString &p : std::as_const(FEarlyProblems))
    Logger().Error(p);
  FEarlyProblems.clear();

  // The worker runs from here on and waits for request batches; its debug
  // file and trace lie in the work folder, the current folder now.
  FDeviceThread = std::make_unique<TDeviceThread>();
  FDeviceTool = std::make_unique<TDeviceTool>(*FDeviceThread);
  FIOChain->setDeviceFront(FDeviceTool.get());
  // Answers that say another relay may be answering set off the identity check.
  FDeviceTool->setOnForeignSign([this](TForeignSign Sign) { FIdentification->ForeignSign(Sign); });

  TDashboardHost host;
  host.Chains = FIOChain;
  host.EnterTempFolder = [this] { EnterTempFolder(); };
  host.Login = [this] { return RequestWriteRights(); };
  // A title panel that cannot be loaded leaves the panel empty; start-up and
  // identification go on. The problems of a load are logged at once and shown
  // once in a box (a status line is overwritten by the next chain's "Готово")
  // when the event loop runs, so that start-up never waits on it.
  host.Report = [this](const QString &Text) {
    Logger().Error(Text);
    QTimer::singleShot(0, this, [Text] { ShowMessageBox(TMsgKind::Error, Text); });
  };
  host.VirtualInputPulse = FSettings.VirtualInputPulse;
  host.TeleCount = FSettings.TeleCount;
  host.EventLogCount = FSettings.EventLogCount;
  // A control is bound for an identification once it has reached its end.
  host.BindingEpoch = [this] {
    return FIdentification->Unit().IsEmpty() ? BindingPending : FIOChain->IdentEpoch();
  };
  DashboardFrame->SetHost(host);
  new TUstavFrameConversion(UstavFrame);
  DashboardFrame->Init(FSettings.DashboardFile);
  TGridPageHost gridHost;
  gridHost.Chains = FIOChain;
  gridHost.Progress = [this](int Position, int Max, uint32_t Color) { ShowProgress(Position, Max, Color); };
  gridHost.Ini = &FIni;
  gridHost.BitmapForm = FForms.BitmapForm;
  gridHost.ShowMessageStep = [this](const QString &Text) { ShowMessageStep(Text); };
  gridHost.RequestUserRights = [this] { return RequestWriteRights(); };
  ParamFrame->SetHost(gridHost);
  UstavFrame->SetHost(gridHost);
  ParamFrame->Init();
  UstavFrame->Init();
  const TEventFrameHost linkHost{[this] { return FIOChain; },
                                 [this](int Position, int Max, uint32_t Color) { ShowProgress(Position, Max, Color); },
                                 [this](const QString &Text) { ShowStatus(Text); }, [this] { return !IsLinkBusy(); },
                                 [this] { return QDir(FTempFolder).absolutePath(); }};
  EventFrame->SetHost(linkHost);
  EventFrame->Init();
  ConnectPageCommands();
  connect(cbPrimVal, &QCheckBox::toggled, EventFrame, [this](bool On) { EventFrame->SetPrimaryValues(On); });
  OscHeadFrame->SetHost(
      {linkHost, [this] { return QDir(FProgramFolder).absolutePath(); },
       [this] { return std::shared_ptr<const TEventLayout>(EventFrame->Layout()); },
       [this] { return cbPrimVal->isChecked(); },
       [this](const QString &DatFile, const QString &Caption, int Tag, const QString &Hint, const QString &FrameName) {
         // A read oscillogram's tab is named after its record, not its file.
         // The channel dialog of a first read may have let another tab come
         // to the front, or this one go: the tab is the one opened here.
         const QPointer<TTabSheet> sheet = OpenOscTab(DatFile);
         if (!sheet)
           return;
         sheet->SetTag(Tag);
         if (auto *frame = sheet->findChild<TkvOscFrame *>())
           frame->setObjectName(FrameName);
         const int index = PageControl->indexOf(sheet);
         PageControl->setTabText(index, Caption);
         PageControl->setTabToolTip(index, Hint);
       },
       [this] { apFileSaveAs->trigger(); }});
  OscHeadFrame->Init();
  connect(aoExportOsci, &QAction::triggered, OscHeadFrame, [this] {
    TFileDialogRequest r;
    r.Kind = TFileDialogKind::Save;
    r.Caption = QStringLiteral("Сохранить конфигурацию осциллограмм как");
    r.DefaultExt = QStringLiteral("xml");
    r.Filter = QStringLiteral("*.xml");
    const QString path = AskFileName(r);
    if (path.isEmpty())
      return;
    try {
      OscHeadFrame->ExportOscDescription(path);
    } catch (const EKvError &e) {
      ShowErrorText(e.Text());
    }
  });

  Timer->setInterval(FSettings.TimerIntervalMs);

  MultiLingual().SetLanguageCode(FSettings.Lang);
  TranslateForms();

  ApplyVisibility();

  TComPort &port = FDeviceThread->DeviceIO().GetOI().GetComPort();
  const QString comPort = ChooseComPortName(FIni.ReadString("com", "port", QString()),
                                            RegReadString("", KV_REG_COM_PORT, ""));
  if (!comPort.isEmpty())
    port.SetPortName(comPort);
  RestoreWindowBounds("", this);
  if (FForms.PropertyForm)
    RestoreWindowBounds("", FForms.PropertyForm);

  BuildBaudrateMenu(port.GetBaudRate());
  ApplyLinkSettings();

  // debug/loadDesc: a descriptor from a file, without a device.
  if (!FSettings.LoadDesc.isEmpty()) {
    try {
      FDescriptor->LoadFromFile(FSettings.LoadDesc);
      DashboardFrame->SetDescriptor(FDescriptor.get());
      EventFrame->SetDescriptor(FDescriptor->Root);
    } catch (const EKvError &e) {
      ShowErrorText(e.Text());
    }
  }

  setWindowTitle(MultiLingual().Translate(QStringLiteral("Вартон")) + u' ' + GetVersionString());
  FForms.PasswdForm->SetValidator([this] { FIdentification->PasswordReread(); });
  // The password is typed for the device identified now.
  FForms.PasswdForm->SetChainGen(FIOChain);

  LabelVarnok->setText(FSettings.Logo);
  FForms.AboutBox->ProductName->setText(FSettings.Logo);
  FForms.AboutBox->SupportedDevice->setText(FSettings.LogoDevice);

  ReopenPreferredOsc();
  FStarted = true;
  Timer->start();
  return true;
}

void TMainForm::ReopenPreferredOsc() {
  TPreferenceForm *form = FForms.PreferenceForm;
  form->OpenFiles = [this] {
    QStringList files;
    for (int i = 0; i < PageControl->count(); ++i) {
      const QWidget *page = PageControl->widget(i);
      if (auto *frame = page->findChild<TkvOscFrame *>(); frame && frame->IsLoaded())
        files << frame->GetFileName();
    }
    return files;
  };
  form->ReopenAll([this](const QString &FileName) {
    const QPointer<TTabSheet> sheet = OpenOscTab(FileName);
    if (!sheet)
      return;
    // The caption is the part of a device's record name that tells records apart.
    PageControl->setTabText(PageControl->indexOf(sheet), QFileInfo(FileName).fileName().mid(13, 6));
    if (auto *frame = sheet->findChild<TkvOscFrame *>())
      frame->setObjectName(QStringLiteral("OscFrame%1").arg(++FOscFrameCounter));
  });
}

void TMainForm::ApplyVisibility() {
  const TMenuVisibility &v = FSettings.Visible;
  NCustomLogic->setVisible(v.CustomLogic);
  miControl->setVisible(v.Control);
  NDeviceBoard->setVisible(v.DeviceBoard);
  LabelDeviceType->setVisible(v.DeviceType);
  LabelCore->setVisible(v.CoreDate);
  LabelCoreID->setVisible(v.CoreDate);
  LabelDesc->setVisible(v.DescDate);
  LabelDescID->setVisible(v.DescDate);
  miModbus->setVisible(v.Modbus);
  miLog->setVisible(v.Log);
  NEventReport->setVisible(v.EventReport);
  nEventExport->setVisible(v.EventExport);
  nMMSConfig->setVisible(v.MMSConfig);
  nModbusTcp->setVisible(v.ModbusTcp);
  nAgentClient->setVisible(v.AgentClient);
}

void TMainForm::BuildBaudrateMenu(int CurrentRate) {
  NBaudrate->clear();
  delete BaudrateGroup;
  BaudrateGroup = new QActionGroup(this);
  const QString current = QString::number(CurrentRate);
  for (const QString &rate : FSettings.BaudRates) {
    QAction *a = NBaudrate->addAction(rate);
    a->setCheckable(true);
    a->setChecked(rate == current);
    BaudrateGroup->addAction(a);
    connect(a, &QAction::triggered, this, [this, a] { BaudrateClick(a); });
  }
}

void TMainForm::BaudrateClick(QAction *Item) {
  TComPort &port = FDeviceThread->DeviceIO().GetOI().GetComPort();
  const QString current = QString::number(port.GetBaudRate());
  // A refused item changes nothing: the check goes back to the rate in use.
  const auto restore = [this, &current] {
    for (QAction *a : BaudrateGroup->actions())
      a->setChecked(QString(a->text()).remove(u'&') == current);
  };
  try {
    const int rate = BaudRateFromCaption(Item->text());
    port.SetBaudRate(rate);
    FDeviceThread->SetPollPause(PollPauseForBaud(rate));
  } catch (const EKvError &e) {
    restore();
    ShowErrorText(e.Text());
    return;
  }
  Item->setChecked(true);
  cbDevNo->clear();
  FDescriptor->Ready = false;
}

void TMainForm::EnterTempFolder() {
  if (!QDir::setCurrent(FTempFolder))
    ReportFolderProblem(FTempFolder);
}

void TMainForm::OpenLog() {
  if (FLogFile.isEmpty() || FLogOpened)
    return;
  SetLogBound(FSettings.LogBound);
  if (const QString why = Logger().Open(FLogFile, true); !why.isEmpty())
    FEarlyProblems << why;
  FLogOpened = true;
}

void TMainForm::ShowLogFailure(const QString &Text) {
  const QString shown = MultiLingual().TranslateMessage(Text);
  Logger().Error(Text);
  if (StatusBar_)
    StatusBar_->showMessage(shown);
  // Failures that come while the box is open (the other logs on a full
  // disk) are shown together in one more.
  FLogFailures << shown;
  if (FLogFailureBox)
    return;
  FLogFailureBox = true;
  while (!FLogFailures.isEmpty())
    ShowMessageBox(TMsgKind::Error, std::exchange(FLogFailures, {}).join(u'\n'));
  FLogFailureBox = false;
}

void TMainForm::ReportFolderProblem(const QString &Folder) {
  const QString problem = FolderProblem(Folder);
  if (problem.isEmpty())
    return;
  const QString text = FolderProblemText(Folder, problem);
  if (FLogFile.isEmpty() || FLogOpened)
    Logger().Error(text);
  else
    FEarlyProblems << text;
  if (StatusBar_)
    StatusBar_->showMessage(text);
}

void TMainForm::SetToolBarColor(uint32_t Color) {
  // A style sheet re-polishes each bar and all its buttons; progress comes
  // with every frame, mostly in the colour already shown.
  if (FToolBarColored && Color == FToolBarColor)
    return;
  FToolBarColored = true;
  FToolBarColor = Color;
  for (QToolBar *bar : {ToolBar, ToolBar2})
    bar->setStyleSheet(QStringLiteral("QToolBar { background: %1; }").arg(ColorName(Color)));
}

void TMainForm::ShowStatus(const QString &Text) {
  // The status line speaks the interface's language; the log keeps the text as made.
  if (!FReportPinned)
    StatusBar_->showMessage(ShownText(Text));
  if (IsErrorStatusText(Text))
    SetToolBarColor(clLinkError);
}

void TMainForm::ShowWriteReport(const QString &Text) {
  FReportPinned = false;
  ShowStatus(Text);
  FReportPinned = true;
}

void TMainForm::ShowWriteBox(const QString &What, const QString &Why) {
  const QString text = MultiLingual().Translate(QString::fromUtf8(WriteTexts::NotWritten)).arg(ShownText(What)) +
                       QStringLiteral("\n") + ShownText(Why);
  // The status line says it too, and keeps it over a later "Готово", unless
  // the write's own report of the same cause is there already.
  if (!FReportPinned || !StatusBar_->currentMessage().contains(ShownText(Why)))
    ShowWriteReport(QString::fromUtf8(WriteTexts::NotWritten).arg(What) + QStringLiteral(": ") + Why);
  SetToolBarColor(clLinkError);
  if (FWriteBox) {
    FWriteBox->setText(FWriteBox->text() + QStringLiteral("\n\n") + text);
    FWriteBox->raise();
    return;
  }
  auto *box = new QMessageBox(QMessageBox::Warning, MessageBoxTitle(), text, QMessageBox::Ok, this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setModal(false);
  box->setWindowModality(Qt::NonModal);
  FWriteBox = box;
  box->show();
}

void TMainForm::UnpinOnCommands() {
  // Before the command's own handlers: a report the command itself gives
  // (a refusal) is pinned after this. A key or a click that starts no
  // command leaves the report where it is.
  for (QAction *a : findChildren<QAction *>())
    connect(a, &QAction::triggered, this, &TMainForm::UnpinWriteReport, Qt::UniqueConnection);
}

bool TMainForm::event(QEvent *Event) {
  if (Event->type() == QEvent::StatusTip)
    return true;
  return QMainWindow::event(Event);
}

void TMainForm::ClearDeviceStrip() {
  LabelDeviceType->setText(QString());
  LabelCoreID->setText(QString());
  LabelDescID->setText(QString());
}

void TMainForm::ShowProgress(int Position, int Max, uint32_t Color) {
  // Progress is reported from inside a step's answer, after the step has sent
  // its next request. Running pending events here would hand that request's
  // answer to the chain while it still digests this one (the answer would be
  // lost) and could start a chain from the timer; the bar is painted when the
  // event loop next runs, between two answers.
  const auto now = [this] { return FNow ? FNow().toMSecsSinceEpoch() : QDateTime::currentMSecsSinceEpoch(); };
  const auto move = [this](int APosition, int AMax, qint64 Ms) {
    FProgressPercent = AMax > 0 ? int(int64_t(APosition) * 100 / AMax) : 0;
    FProgressMs = Ms;
    FProgressPending = -1;
    if (FProgressTimer)
      FProgressTimer->stop();
    ProgressBar->setUpdatesEnabled(false);
    ProgressBar->setMaximum(AMax);
    ProgressBar->setValue(APosition);
    ProgressBar->setUpdatesEnabled(true);
  };
  if (Position >= Max) {
    FProgressPending = -1;
    if (FProgressTimer)
      FProgressTimer->stop();
    SetToolBarColor(clLinkDone);
    ProgressBar->hide();
    return;
  }
  SetToolBarColor(Color != 0 ? Color : uint32_t(clLinkBusy));
  // A file read reports every frame, faster than anyone reads a bar: it moves
  // when its percentage does, at most every 50 ms, and is painted with the
  // next event loop pass (setValue alone would repaint it on the spot).
  const int percent = Max > 0 ? int(int64_t(Position) * 100 / Max) : 0;
  const qint64 ms = now();
  if (!ProgressBar->isHidden() && ProgressBar->maximum() == Max &&
      (percent == FProgressPercent || (ms >= FProgressMs && ms - FProgressMs < 50))) {
    // A move held back by the 50 ms is shown at their end, unless a later one
    // comes first: while the link stalls in repeats no later one may come.
    if (percent != FProgressPercent) {
      FProgressPending = Position;
      if (!FProgressTimer) {
        FProgressTimer = new QTimer(this);
        FProgressTimer->setSingleShot(true);
        connect(FProgressTimer, &QTimer::timeout, this, [this, move, now] {
          if (FProgressPending >= 0 && !ProgressBar->isHidden())
            move(FProgressPending, ProgressBar->maximum(), now());
        });
      }
      if (!FProgressTimer->isActive())
        FProgressTimer->start(int(qBound(qint64(0), 50 - (ms - FProgressMs), qint64(50))));
    }
    return;
  }
  move(Position, Max, ms);
  ProgressBar->show();
}

void TMainForm::SetLoggedIn(bool Value) {
  FLoggedIn = Value;
  if (Value)
    FLoginTime = FNow ? FNow() : QDateTime::currentDateTime();
}

bool TMainForm::RequestWriteRights() {
  // The write asked for is the active page's: a password box closed for the
  // engineer names it as not written.
  const QString page = PageControl->tabText(PageControl->currentIndex()).trimmed();
  return RequestUserRights(
      *FForms.PasswdForm, [this] { return IsLoggedIn(); }, [this](bool V) { SetLoggedIn(V); }, page);
}

void TMainForm::ExpireLogin() {
  if (FLoggedIn && FSettings.PasswdExpirationPeriod > 0)
    FLoggedIn = IsLoginStillValid(FSettings.PasswdExpirationPeriod, FLoginTime,
                                  FNow ? FNow() : QDateTime::currentDateTime());
}

bool TMainForm::IsLoggedIn() {
  ExpireLogin();
  if (!FLoggedIn)
    return false;
  // Without a period an entry grants the one write it was asked for: the
  // answer that lets that write go is the last one.
  if (FSettings.PasswdExpirationPeriod <= 0)
    FLoggedIn = false;
  return true;
}

void TMainForm::ApplyLinkSettings() {
  TOI &oi = FDeviceThread->DeviceIO().GetOI();
  oi.SetLoopCount(FSettings.LoopCount);
  oi.SetSleepBefore(FSettings.SleepBeforeMs);
  oi.SetTimeout(FSettings.TimeoutMs);

  NPort->setEnabled(FSettings.PortMenusEnabled);
  NBaudrate->setEnabled(FSettings.PortMenusEnabled);
  if (FSettings.Protocol == TLinkProtocol::ModbusTcp) {
    oi.SetProtocol(TOI::prModbusTcp);
    oi.SetHost(FSettings.TcpHost);
    oi.SetPort(FSettings.TcpPort);
    oi.SetFrameSizeCmd(FSettings.TcpFrameSizeCmd);
  } else {
    oi.SetProtocol(TOI::prModbusRtu);
  }

  FDeviceThread->SetPollPause(FSettings.PollPause);
  FDeviceThread->SetErrorLimit(FSettings.ErrorLimit);
  FDeviceThread->SetErrorSleep(FSettings.ErrorSleep);
}

void TMainForm::ShowMessageStep(const QString &Text) {
  // After the step has returned: no answer is delivered inside a step while
  // the box is open.
  QTimer::singleShot(0, this, [Text] { ShowMessageText(Text); });
}

bool TMainForm::IsLinkBusy() const { return FIOChain && FIOChain->IsBusy(); }

bool TMainForm::IsDeviceReady() const { return FDescriptor->Ready; }

void TMainForm::StopDeviceWorker() {
  if (FIOChain)
    FIOChain->abort();
  if (FDeviceThread)
    FDeviceThread->Terminate();
}

void TMainForm::TimerTimer() {
  if (FClosed)
    return;
  ExpireLogin();
  if (FSettings.VirtualInputPulse)
    DashboardFrame->PulseTick();
  TTimerInputs in;
  in.Poll = FSettings.Poll;
  in.AutoPoll = FAutoPoll;
  in.LinkBusy = IsLinkBusy();
  in.IsReady = IsDeviceReady();
  in.DashboardActive = PageControl->currentWidget() == TabSheetDashboard;
  in.AutoChecked = cbAuto->isChecked();
  in.IdentityUnconfirmed = FIdentification->IsIdentityUnconfirmed();
  in.IdentitySuspect = FIdentification->IsIdentitySuspect();
  in.IdentifyAgain = FIdentification->IsIdentifyAgainPending();
  switch (DecideTimerAction(in)) {
  case TTimerAction::Identify:
    // The timer has seen the link idle itself; the action's state may lag.
    UpdateActions();
    if (in.IdentifyAgain) {
      FIdentification->IdentifyAgain();
    } else {
      // The timer's own, not the engineer's command: a write's report stays.
      const bool pinned = FReportPinned;
      aMonitorPoll->trigger();
      FReportPinned = pinned;
    }
    break;
  case TTimerAction::CheckIdentity:
    FIdentification->CheckIdentity();
    break;
  case TTimerAction::RefreshDashboard:
    DashboardFrame->Refresh();
    break;
  case TTimerAction::None:
    break;
  }
}

void TMainForm::SetLanguage(int Index) {
  try {
    MultiLingual().Reload();
    MultiLingual().SetTargetLanguage(Index);
    TranslateForms();
  } catch (const EKvError &e) {
    ShowErrorText(e.Text());
  }
}

void TMainForm::TranslateForms() {
  const TMultiLingual &ml = MultiLingual();
  InstallQtTranslation(ml.TargetLanguage());
  NEnglish->setChecked(ml.TargetLanguage() == lnEnglish);
  NRussian->setChecked(ml.TargetLanguage() == lnRussian);
  NUkrainian->setChecked(ml.TargetLanguage() == lnUkrainian);
  TranslateComponent(ml, this);
  DashboardFrame->FollowLanguage();
  // Texts made at run time in the language shown until now.
  StatusBar_->showMessage(ml.Translate(StatusBar_->currentMessage()));
  if (const QString v = GetVersionString(); windowTitle().endsWith(u' ' + v))
    setWindowTitle(ml.Translate(windowTitle().chopped(v.size() + 1)) + u' ' + v);
  QList<QDialog *> done;
  for (const char *name : {"OscValueForm", "OscSetupForm", "DashboardSetupForm", "BitmapForm", "OKBottomDlg",
                           "UstavListForm", "ParamListForm", "UnitPropertyForm", "AboutBox", "DeviceboardSetupForm"})
    if (QDialog *form = FForms.Form(name)) {
      TranslateComponent(ml, form);
      done << form;
    }
  // The other forms speak the interface's language too.
  for (QDialog *form : std::as_const(FForms.InOrder))
    if (!done.contains(form))
      TranslateComponent(ml, form);
  // Qt says so to every widget only when its own catalogue changed; the parts
  // that translate themselves must hear of every switch.
  QEvent changed(QEvent::LanguageChange);
  QCoreApplication::sendEvent(qApp, &changed);
}

TTabSheet *TMainForm::FindTabByTag(int Tag) const {
  for (int i = PageControl->count() - 1; i >= 0; --i)
    if (TTabSheet *s = PageControl->Sheet(i); s && s->Tag() == Tag)
      return s;
  return nullptr;
}

TTabSheet *TMainForm::OpenTab(const TFrameFactory &Factory, int Tag, bool Reuse) {
  if (Reuse)
    if (TTabSheet *found = FindTabByTag(Tag)) {
      PageControl->setCurrentWidget(found);
      return found;
    }
  auto *sheet = new TTabSheetClosable;
  sheet->SetTag(Tag);
  auto *layout = new QVBoxLayout(sheet);
  layout->setContentsMargins(0, 0, 0, 0);
  QWidget *frame = Factory(sheet);
  frame->setObjectName(QStringLiteral("Frame%1").arg(++FFrameCounter));
  layout->addWidget(frame);
  PageControl->addTab(sheet, QString());
  PageControl->setCurrentWidget(sheet);
  return sheet;
}

void TMainForm::OpenLogTab() {
  TTabSheet *sheet = OpenTab([](QWidget *Parent) { return new TkvLogFrame(Parent); }, -2, true);
  auto *frame = sheet->findChild<TkvLogFrame *>();
  PageControl->setTabText(PageControl->indexOf(sheet), MultiLingual().Translate(QStringLiteral("Журнал")) + TabCaptionTail);
  if (auto *closable = qobject_cast<TTabSheetClosable *>(sheet))
    closable->SetOnClose([frame](QObject *Sender) {
      if (Sender)
        frame->DetachLog();
    });
  TranslateComponent(MultiLingual(), frame);
  frame->AttachLog();
}

void TMainForm::OpenModbusTab() {
  TTabSheet *sheet = OpenTab([](QWidget *Parent) { return new TkvModbusFrame(Parent); }, -5, true);
  PageControl->setTabText(PageControl->indexOf(sheet), QStringLiteral("Modbus") + TabCaptionTail);
  sheet->findChild<TkvModbusFrame *>()->Fill(Modbus());
}

QPointer<TTabSheet> TMainForm::OpenOscTab(const QString &FileName) {
  TTabSheet *opened = OpenTab([](QWidget *Parent) { return new TkvOscFrame(Parent); }, -1, false);
  const QPointer<TTabSheet> sheet(opened);
  const QPointer<TkvOscFrame> frame(opened->findChild<TkvOscFrame *>());
  const int index = PageControl->indexOf(opened);
  PageControl->setTabText(index, QFileInfo(FileName).fileName() + TabCaptionTail);
  PageControl->setTabToolTip(index, FileName);
  TranslateComponent(MultiLingual(), frame);
  // Loading a record without a side file opens the channel dialog: the tab
  // may be closed meanwhile, and is asked before it loads.
  if (auto *closable = qobject_cast<TTabSheetClosable *>(opened))
    closable->SetCloseQuery([closable = QPointer<TTabSheetClosable>(closable), frame] {
      // A modal dialog of the page is open (the channel set-up of a record
      // being loaded, a note): the page's own code waits on it. The tab
      // closes once the dialog has gone and that code has returned.
      for (QDialog *d : frame->findChildren<QDialog *>()) {
        if (!d->isVisible() || !d->isModal())
          continue;
        QObject::connect(d, &QObject::destroyed, closable, [closable] {
          QTimer::singleShot(0, closable, [closable] {
            if (closable)
              closable->CloseTab();
          });
        });
        return false;
      }
      return frame->QueryClose();
    });
  frame->Initialize();
  try {
    frame->LoadComtradeFile(FileName);
  } catch (const EKvError &) {
    delete sheet.data();
    throw;
  }
  if (!frame)
    return nullptr;
  if (!frame->LoadNote().isEmpty())
    ShowStatus(frame->LoadNote());
  frame->SetStatusHook([this](const QString &Text) { ShowStatus(Text); });
  frame->SetIndex(-1);
  return sheet;
}

TkvOscFrame *TMainForm::ActiveOscFrame() const {
  TTabSheet *sheet = PageControl->ActiveSheet();
  return sheet ? sheet->findChild<TkvOscFrame *>() : nullptr;
}

void TMainForm::keyPressEvent(QKeyEvent *Event) {
  if (TkvCustomFrame *custom = ActiveCustomFrame(); custom && custom->KeyDown(Event))
    return;
  if (TkvOscFrame *frame = ActiveOscFrame(); frame && Event->key() == Qt::Key_Escape) {
    frame->KeyDown(Event->key(), Event->modifiers());
    return;
  }
  QMainWindow::keyPressEvent(Event);
}

void TMainForm::wheelEvent(QWheelEvent *Event) {
  if (TkvCustomFrame *custom = ActiveCustomFrame(); custom && custom->MouseWheel(Event)) {
    Event->accept();
    return;
  }
  if (TkvOscFrame *frame = ActiveOscFrame()) {
    const int y = Event->angleDelta().y();
    frame->ScrollBy(y < 0 ? 1 : y > 0 ? -1 : 0, Event->modifiers());
    Event->accept();
    return;
  }
  QMainWindow::wheelEvent(Event);
}

void TMainForm::CloseActiveTab() {
  TTabSheet *sheet = PageControl->ActiveSheet();
  if (!sheet || sheet->Tag() == 0)
    return;
  if (auto *log = sheet->findChild<TkvLogFrame *>())
    log->DetachLog();
  // The tab's own close path asks about unsaved work, then runs its close
  // event (workbook released, the setpoints page made active after a local set).
  if (auto *closable = qobject_cast<TTabSheetClosable *>(sheet)) {
    if (!closable->CloseTab())
      return;
  } else {
    delete sheet;
  }
  if (QDialog *values = FForms.Form("OscValueForm"))
    values->hide();
}

bool TMainForm::PutOffTabClose(TTabSheetClosable *Sheet) {
  TIOChainList3 *write = FIOChain ? FIOChain->RunningWriteFor(Sheet) : nullptr;
  if (!FCloseRules.TabClose(Sheet, write ? write->Serial() : 0))
    return false;
  // A tab that goes another way meanwhile waits no longer.
  connect(Sheet, &QObject::destroyed, this, [this, Sheet] { FCloseRules.Forget(Sheet); });
  WaitForWrite(*write, QStringLiteral("вкладки ") + PageControl->tabText(PageControl->indexOf(Sheet)).trimmed());
  return true;
}

void TMainForm::WaitForWrite(TIOChainList3 &Write, const QString &Closing) {
  Logger().Info(QString::fromUtf8(TCloseRules::WaitLine).arg(Closing, Write.Writes()));
  const char *text = FCloseRules.ProgramWaitsFor() != 0
                         ? "Выполняется запись: %1. Программа закроется, когда запись закончится"
                         : "Выполняется запись: %1. Вкладка закроется, когда запись закончится";
  const QString shown = MultiLingual().Translate(QString::fromUtf8(text)).arg(ShownText(Write.Writes()));
  if (!FWriteWaitBox) {
    // Not modal: the write's own handlers and boxes still run meanwhile.
    auto *box = new QMessageBox(QMessageBox::Information, MessageBoxTitle(), shown, QMessageBox::NoButton, this);
    box->setObjectName("WriteWaitBox");
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->addButton(MultiLingual().Translate(QStringLiteral("Отменить закрытие")), QMessageBox::RejectRole);
    connect(box, &QMessageBox::finished, this, [this] { CancelCloses(); });
    FWriteWaitBox = box;
  }
  FWriteWaitBox->setText(shown);
  FWriteWaitBox->show();
  FWriteWaitBox->raise();
}

// What a signal's close did, where whoever sent the signal reads it.
static void PrintCloseLine(const QString &Text) { std::fprintf(stderr, "%s\n", Text.toLocal8Bit().constData()); }

void TMainForm::WriteEnded(const TIOChainList3 &Chain) {
  const bool signal = FCloseRules.IsSignalClose();
  const QString failure = Chain.Failure();
  const TCloseRules::TWriteEnd end = FCloseRules.WriteEnded(Chain.Serial(), !failure.isEmpty());
  if (end.Program == TCloseRules::TStep::None && end.TabsGo.isEmpty() && end.TabsStay.isEmpty())
    return;
  const QString line = TCloseRules::WriteEndText(Chain.Writes(), failure);
  Logger().Info(line);
  // A signal's close ends the program whatever the write did: whoever sent
  // it reads how the write ended there.
  if (signal && end.Program != TCloseRules::TStep::None)
    PrintCloseLine(failure.isEmpty() ? MultiLingual()
                                           .Translate(QString::fromUtf8(TCloseRules::WriteDoneLine))
                                           .arg(ShownText(Chain.Writes()))
                                     : MultiLingual()
                                           .Translate(QString::fromUtf8(TCloseRules::WriteShortLine))
                                           .arg(ShownText(Chain.Writes()), ShownText(failure)));
  // The write ended short: the engineer reads its report before closing again.
  if (end.Program == TCloseRules::TStep::Cancelled || !end.TabsStay.isEmpty())
    Logger().Info(QString::fromUtf8(TCloseRules::GivenUpLine).arg(Chain.Writes()));
  QTimer::singleShot(0, this, [this, end] { ResumeCloses(end); });
}

void TMainForm::CancelCloses() {
  if (FCloseRules.Cancel())
    Logger().Info(QString::fromUtf8(TCloseRules::CancelledLine));
}

void TMainForm::CloseWaitBox() {
  // The box goes without giving up what it waited for.
  if (FWriteWaitBox) {
    disconnect(FWriteWaitBox, &QMessageBox::finished, this, nullptr);
    FWriteWaitBox->close();
  }
}

void TMainForm::ResumeCloses(const TCloseRules::TWriteEnd &End) {
  if (!FIOChain || FClosed)
    return;
  if (!FCloseRules.IsWaiting())
    CloseWaitBox();
  // Each tab's own questions come now that its write has ended. Only tabs
  // still shown are closed: the rules hold addresses, never dereferenced.
  for (const void *tab : End.TabsGo)
    for (int i = 0; i < PageControl->count(); ++i)
      if (auto *sheet = qobject_cast<TTabSheetClosable *>(PageControl->widget(i)); sheet == tab) {
        sheet->CloseTab();
        break;
      }
  if (End.Program == TCloseRules::TStep::Resume)
    close();
}

QWidget *TMainForm::OpenModal() const {
  QWidget *modal = QApplication::activeModalWidget();
  return modal == FWriteWaitBox ? nullptr : modal;
}

void TMainForm::RejectModal(QWidget *Modal) {
  const auto *box = qobject_cast<QMessageBox *>(Modal);
  Logger().Info(QStringLiteral("Закрытие программы закрыло окно как «Отмена»: %1")
                    .arg(box ? box->text() : Modal->windowTitle()));
  if (auto *password = qobject_cast<TPasswdForm *>(Modal))
    password->CancelForExit();
  else if (auto *dialog = qobject_cast<QDialog *>(Modal))
    dialog->reject();
  else
    Modal->close();
}

void TMainForm::GuardSignalClose() {
  if (FClosed || !FCloseRules.IsSignalClose()) {
    FSignalGuard->stop();
    return;
  }
  // The box may be a question of a close already under way (a nested close
  // does not reach closeEvent): that close then stops, and this one comes.
  if (QWidget *modal = OpenModal()) {
    RejectModal(modal);
    QTimer::singleShot(10, this, [this] { close(); });
  }
}

QMessageBox *TMainForm::WriteWaitBox() const { return FWriteWaitBox; }

void TMainForm::CloseQuietly() {
  FCloseRules.SignalCame();
  FSignalGuard->start();
  close();
}

QStringList TMainForm::UnsavedWork() const {
  QStringList out;
  const auto name = &TCloseRules::UnsavedName;
  // The same questions the close asks, without asking.
  if (FStarted && DashboardFrame->IsModified())
    out << name(PageControl->tabText(PageControl->indexOf(TabSheetDashboard)).trimmed(), DashboardFrame->FileName());
  for (int i = 0; i < PageControl->count(); ++i) {
    QWidget *page = PageControl->widget(i);
    if (!qobject_cast<TTabSheetClosable *>(page))
      continue;
    const QString caption = PageControl->tabText(i).trimmed();
    if (auto *set = page->findChild<TkvUstavLocalFrame *>(); set && set->IsModified())
      out << name(caption, set->FileName());
    else if (auto *boards = page->findChild<TkvDeviceBoardFrame *>(); boards && boards->IsModified())
      out << name(caption, boards->FileName());
    else if (auto *logic = page->findChild<TkvCustomFrame *>(); logic && logic->IsModified())
      out << name(caption, logic->FileName());
    else if (auto *osc = page->findChild<TkvOscFrame *>(); osc && osc->HasUnsavedNotes())
      out << name(caption, osc->GetFileName());
  }
  return out;
}

bool TMainForm::FormCloseQuery() {
  // Not replacing a panel file that did not load whole, or one that could not
  // be saved, keeps the window open: nothing is lost.
  const auto savePanel = [this] { return DashboardFrame->Save(QString()); };
  if (FStarted && DashboardFrame->IsModified() &&
      !AskSaveBeforeClose(QString::fromUtf8(DashboardChangedQuestion), savePanel))
    return false;
  // Every page with unsaved work asks, as its own close would.
  for (int i = 0; i < PageControl->count(); ++i)
    if (auto *closable = qobject_cast<TTabSheetClosable *>(PageControl->widget(i)); closable && !closable->QueryClose())
      return false;
  return true;
}

void TMainForm::FormClose() {
  Timer->stop();
  if (FStarted) {
    // Only a port that was actually opened is worth remembering: a default
    // name written back would later hide the ini's com/port.
    const TComPort &port = FDeviceThread->DeviceIO().GetOI().GetComPort();
    if (port.WasOpened())
      RegWriteString("", KV_REG_COM_PORT, port.GetPortName());
    SaveControlBounds("", this);
    if (FForms.PropertyForm)
      SaveControlBounds("", FForms.PropertyForm);
  }
  // The window is going: what the log could not write is told on stderr.
  SetLogFailureSink(PrintLogFailure);
  PrintLogFailure(Logger().Close());
  FLockFile.Release();
}

void TMainForm::closeEvent(QCloseEvent *Event) {
  if (FClosed) {
    Event->accept();
    return;
  }
  using TStep = TCloseRules::TStep;
  QWidget *modal = OpenModal();
  TIOChainList3 *write = FIOChain->RunningWrite();
  const TStep step = FCloseRules.Close(write ? write->Serial() : 0, modal != nullptr);
  switch (step) {
  case TStep::RejectModal:
    RejectModal(modal);
    // The code that opened the box goes on as after "Отмена" once its own
    // event loop has returned; the close comes again after it.
    QTimer::singleShot(10, this, [this] { close(); });
    Event->ignore();
    return;
  case TStep::Wait:
    WaitForWrite(*write, QStringLiteral("программы"));
    Event->ignore();
    return;
  case TStep::WaitMore:
    if (FWriteWaitBox)
      FWriteWaitBox->raise();
    Event->ignore();
    return;
  case TStep::Ask:
    if (!FormCloseQuery()) {
      Event->ignore();
      return;
    }
    break;
  default:
    break;
  }
  // Nothing the questions let run may be cut either.
  if (FIOChain->RunningWrite()) {
    Event->ignore();
    QTimer::singleShot(0, this, [this] { close(); });
    return;
  }
  // A signal asks nothing: the log says what it did not save.
  if (step == TStep::Close)
    for (const QString &name : UnsavedWork()) {
      Logger().Info(QString::fromUtf8(TCloseRules::NotSavedLine).arg(name));
      PrintCloseLine(MultiLingual().Translate(QString::fromUtf8(TCloseRules::NotSavedLine)).arg(name));
    }
  CloseWaitBox();
  // A write's report box goes with the window: nothing holds the program.
  if (FWriteBox)
    FWriteBox->close();
  StopDeviceWorker();
  FClosed = true;
  FSignalGuard->stop();
  FormClose();
  Event->accept();
}

TReportSetup TMainForm::ReportSetup() const { return {windowTitle(), ProgramFilePath()}; }

void TMainForm::OpenEventReport(const TEventLogItems *Records) {
  if (!IsDeviceReady()) {
    ShowErrorText(QStringLiteral("Нет дескриптора"));
    return;
  }
  const QString name = FProgramFolder + QStringLiteral("EventReportTemplate.xml");
  TTabSheet *sheet = FindTabByTag(EventReportTag);
  TEventPDFReportFrame *frame = sheet ? sheet->findChild<TEventPDFReportFrame *>() : nullptr;
  // A template that cannot be read leaves no tab behind.
  std::unique_ptr<TEventPDFReportFrame> fresh;
  if (!frame) {
    fresh = std::make_unique<TEventPDFReportFrame>(nullptr, ReportSetup());
    TranslateComponent(MultiLingual(), fresh.get());
    frame = fresh.get();
  }
  try {
    frame->Open(name);
  } catch (const EKvError &e) {
    ShowErrorText(e.Text());
    return;
  }
  if (fresh) {
    sheet = OpenTab(
        [&fresh](QWidget *Parent) {
          fresh->setParent(Parent);
          return fresh.release();
        },
        EventReportTag, false);
    PageControl->setTabText(PageControl->indexOf(sheet),
                            MultiLingual().Translate(QStringLiteral("Отчет по событиям")) + TabCaptionTail);
  }
  PageControl->setCurrentWidget(sheet);
  frame->SetDescriptor(FDescriptor.get());
  frame->SetEventList(Records);
}

bool TMainForm::SaveEventReportAs() {
  auto *sheet = qobject_cast<TTabSheet *>(PageControl->currentWidget());
  auto *frame = sheet && sheet->Tag() == EventReportTag ? sheet->findChild<TEventPDFReportFrame *>() : nullptr;
  if (!frame)
    return false;
  TFileDialogRequest request;
  request.Kind = TFileDialogKind::Save;
  request.Caption = QStringLiteral("Сохранить шаблон как");
  request.DefaultExt = QStringLiteral("xml");
  const QString file = AskFileName(request);
  if (file.isEmpty())
    return true;
  try {
    frame->SaveAs(file);
  } catch (const EKvError &e) {
    ShowErrorText(e.Text());
  }
  return true;
}

// ---- Commands of the parameters and setpoints pages, local sets and the spreadsheet tab

TkvUstavLocalFrame *TMainForm::ActiveLocalSet() const {
  TTabSheet *sheet = PageControl->ActiveSheet();
  return sheet && sheet->Tag() == -7 ? sheet->findChild<TkvUstavLocalFrame *>() : nullptr;
}

TkvUstavLocalFrame *TMainForm::OpenLocalSet(const QString &FileName, const QString &Caption) {
  QWidget *wasActive = PageControl->currentWidget();
  TkvUstavLocalFrame *frame = nullptr;
  TTabSheet *sheet = OpenTab(
      [this, &frame](QWidget *Parent) {
        frame = new TkvUstavLocalFrame(UstavFrame, Parent);
        return frame;
      },
      -7, false);
  PageControl->setTabText(PageControl->indexOf(sheet), Caption);
  frame->SetHost(UstavFrame->Host());
  frame->Init();
  TranslateComponent(MultiLingual(), sheet);
  // A set that does not load leaves no tab: Write never meets a set without a
  // descriptor. The page the user was on stays in front, not the tab beside.
  try {
    frame->LoadFromFile(FileName);
  } catch (...) {
    delete sheet;
    PageControl->setCurrentWidget(wasActive);
    throw;
  }
  if (auto *closable = qobject_cast<TTabSheetClosable *>(sheet))
    closable->SetCloseQuery([frame] { return frame->QueryClose(); });
  connect(frame, &TkvUstavLocalFrame::FileNamed, sheet, [this, sheet](const QString &F) {
    PageControl->setTabText(PageControl->indexOf(sheet), QFileInfo(F).fileName() + TabCaptionTail);
  });
  return frame;
}

void TMainForm::WriteCommand() {
  const auto rights = [this] { return UstavFrame->Host().RequestUserRights(); };
  QWidget *page = PageControl->currentWidget();
  if (TkvUstavLocalFrame *local = ActiveLocalSet()) {
    // The set is matched with the device identified now, and written to it only.
    const uint64_t matched = FIOChain->IdentEpoch();
    if (!local->CheckRelay())
      return;
    if (UstavFrame->GetDescriptorDigest() != local->GetDescriptorDigest())
      throw EKvError("Ошибка сравнения дескрипторов");
    if (rights())
      local->WriteImage(local->BuildImage(), matched);
  } else if (page == TabSheetUstav) {
    if (!rights())
      return;
    // The page checks the limits of what it sends (ustav/limitCheck).
    UstavFrame->WriteImage(UstavFrame->BuildImage());
  } else if (page == TabSheetParam) {
    if (rights())
      ParamFrame->WriteAll();
  }
}

void TMainForm::EditCommand() {
  if (FIni.ReadInteger("ustav", "directEdit", 0) == 2) {
    UstavFrame->SetEditMode(!UstavFrame->GetEditMode());
    return;
  }
  if (!RelayCheckedFirst())
    return;
  EnterTempFolder();
  const QString file = QDir::current().filePath("tempustav.xml");
  UstavFrame->SaveToFile(file);
  TkvUstavLocalFrame *frame =
      OpenLocalSet(file, MultiLingual().Translate(QStringLiteral("Редактирование уставок")) + TabCaptionTail);
  if (auto *closable = qobject_cast<TTabSheetClosable *>(PageControl->currentWidget()))
    closable->SetOnClose([this](QObject *Sender) {
      if (!Sender)
        PageControl->setCurrentWidget(TabSheetUstav);
    });
  frame->CopyLevelChecks(UstavFrame->clbUstavLevel);
  // The tab belongs to the relay its values were read from.
  // The check before the read has just passed: the unit identified is the
  // unit it saw answering.
  frame->MadeFrom(FIdentification->Unit(), FIOChain->IdentEpoch(), [this] {
    return FIdentification->IsIdentityUnconfirmed() ? TUnitIdentity() : FIdentification->Unit();
  });
}

bool TMainForm::RelayCheckedFirst() {
  // The window's events go on meanwhile: a second command that would check
  // too is not taken until this check has ended.
  if (FRelayChecking)
    return false;
  const QScopedValueRollback<bool> checking(FRelayChecking, true);
  const QPointer<TMainForm> self(this);
  // Until Done, the window's events going on.
  const auto waitFor = [&self](const std::function<bool()> &Done) {
    if (Done())
      return;
    QEventLoop loop;
    QTimer poll;
    connect(&poll, &QTimer::timeout, &loop, [&] {
      if (!self || Done())
        loop.quit();
    });
    poll.start(5);
    loop.exec();
  };
  // The check reads files in frames of its own: it waits for a chain that
  // runs now (a title-panel poll) to end.
  waitFor([this, &self] { return !self || !IsLinkBusy(); });
  if (!self)
    return false;
  TIOChainList3 &chain = FIOChain->newList().checkedRead();
  const auto passed = std::make_shared<bool>(false);
  // Expires when the chain is gone, however it ended.
  auto alive = std::make_shared<int>(0);
  chain.Keep<std::shared_ptr<int>>(alive);
  const std::weak_ptr<int> live = alive;
  alive.reset();
  chain.exec([passed] { *passed = true; });
  chain.run([this](int P, int M, uint32_t C) { ShowProgress(P, M, C); });
  waitFor([&] { return *passed || live.expired(); });
  return self && *passed;
}

void TMainForm::ExcelCommand() {
  QWidget *before = PageControl->currentWidget();
  TTabSheet *sheet = OpenTab([](QWidget *Parent) { return new TExcelFrame(Parent); }, -9, true);
  PageControl->setTabText(PageControl->indexOf(sheet), QStringLiteral("Excel") + TabCaptionTail);
  auto *excel = sheet->findChild<TExcelFrame *>();
  // Closing the tab releases this frame's workbook only.
  if (auto *closable = qobject_cast<TTabSheetClosable *>(sheet))
    closable->SetOnClose([excel](QObject *Sender) {
      if (Sender)
        excel->QuitExcel();
    });
  if (before == TabSheetParam)
    ParamFrame->ExportToExcel(excel, 1);
  else if (before == TabSheetUstav)
    UstavFrame->ExportToExcel(excel, 2);
  else if (before == TabSheetEvent)
    EventFrame->ExportEventsToExcel(*excel, 3);
}

void TMainForm::UpdateActions() {
  TActionInputs in;
  in.Idle = !IsLinkBusy();
  in.Ready = IsDeviceReady();
  in.PageIndex = PageControl->currentIndex();
  in.Tag = PageControl->ActiveSheet() ? PageControl->ActiveSheet()->Tag() : 0;
  in.Poll = FSettings.Poll;
  in.UstavDirectEdit = FIni.ReadInteger("ustav", "directEdit", 0);
  const TActionStates st = ActionListUpdate(in);
  const std::pair<QAction *, bool> actions[] = {
      {aMonitorRefresh, st.aMonitorRefresh}, {aMonitorBreak, st.aMonitorBreak}, {aMonitorPoll, st.aMonitorPoll},
      {aoOpen, st.aoOpen},   {apFileLoad, st.apFileLoad}, {daSetTime, st.daSetTime},
      {aoSetup, st.aoSetup}, {aoClose, st.aoClose},       {aoPrint, st.aoPrint},
      {aoExportOsci, st.aoExportOsci}, {miModbus, st.miModbus}, {adSetup, st.adSetup},
      {auEdit, st.auEdit},   {auWrite, st.auWrite},       {nExcel, st.nExcel}};
  for (const auto &[action, enabled] : actions)
    action->setEnabled(enabled);
  // After a network picker the box lists numbers of another link.
  cbDevNo->setEnabled(st.cbDevNo && !FIdentification->IsUnitChosen());
  cbPrimVal->setEnabled(st.cbPrimVal);
  cbAuto->setEnabled(st.cbAuto);
  EventFrame->clbEventLevel->setEnabled(st.EventFilters);
  EventFrame->clbSignalFilter->setEnabled(st.EventFilters);
  if (TkvCustomFrame *custom = ActiveCustomFrame())
    custom->UpdateActions();
}

void TMainForm::RunPageCommand(std::function<void()> TPageRow::*Command) {
  for (const TPageRow &row : std::as_const(FPageRows))
    if (row.Serves()) {
      if (row.*Command)
        (row.*Command)();
      return;
    }
}

void TMainForm::BreakCommand() {
  FIOChain->abort();
  // Addresses known: the timer must not start a new poll on its own.
  if (!FIdentification->FoundAddrs().isEmpty())
    FAutoPoll = 0;
}

void TMainForm::SetTimeCommand() {
  const TDateTime now = QDateTimeToDateTime(FNow ? FNow() : QDateTime::currentDateTime());
  // The clock written is the chain's own copy.
  TIOChainList3 &chain = FIOChain->newList();
  QBuffer &clock = chain.Buffer(QByteArray(reinterpret_cast<const char *>(&now), sizeof now));
  // Named in the box of a write refused because another relay answers.
  chain.writes(QStringLiteral("время устройства")).writeTime(clock);
  // Refused by the relay, it says so as every refused write does: the box
  // and the log's line. A lost link is the status line's.
  chain.setOnEnd([this, &chain] {
    // The failed answer is told after the chain's end: the front has it now.
    const TDeviceFront *front = FIOChain->DeviceFront();
    const QString failure = !chain.Failure().isEmpty() ? chain.Failure() : front ? front->DeliveryText() : QString();
    if (failure.isEmpty())
      return;
    if (chain.WriteBegan() && !IsLinkLossText(failure))
      FIOChain->WriteBox(chain.Writes(), failure);
    else
      FIOChain->WriteReport(failure);
  });
  chain.run(
      [this](int Position, int Max, uint32_t Color) { ShowProgress(Position, Max, Color); });
}

void TMainForm::ReportCommand() {
  if (!IsDeviceReady())
    return;
  const QDir work(FTempFolder);
  FDescriptor->WriteReport(work.filePath(QStringLiteral("desc.txt")));
  ShowMessageText(QStringLiteral("Отчет сохранен в файле desc.txt"));
  SaveXMLDocument(FDescriptor->Document, work.filePath(QStringLiteral("desc.xml")));
}

void TMainForm::EventExportCommand() {
  // The description is read from the descriptor's document: none, nothing to export.
  if (!FDescriptor->Root)
    throw EKvError("Нет дескриптора");
  const QString name = FProgramFolder + QStringLiteral("event.xml");
  FDescriptor->SaveEventDescription(name);
  ShowMessageText(MultiLingual().Translate(QStringLiteral("Сохранено в файле")) + u' ' + name);
}

void TMainForm::SetLastSavedFile(const QString &FileName) { TkvOscFrame::LastSavedSideFile = FileName; }

QString TMainForm::LastSavedFile() const { return TkvOscFrame::LastSavedSideFile; }

void TMainForm::GetListCommand() {
  OscHeadFrame->ReRead();
  PageControl->setCurrentWidget(TabSheetOscHeader);
}

void TMainForm::BuildPortMenu(const QStringList &Captions) {
  NPort->clear();
  delete PortGroup;
  PortGroup = new QActionGroup(this);
  for (const QString &caption : Captions) {
    QAction *a = NPort->addAction(caption);
    a->setCheckable(true);
    PortGroup->addAction(a);
    connect(a, &QAction::triggered, this, [this, caption] { PortClick(caption); });
  }
  CheckPortItem({});
}

void TMainForm::CheckPortItem(const QString &Caption) {
  const QString current = QLatin1Char('(') + FDeviceThread->DeviceIO().GetOI().GetComPort().GetPortName() + u')';
  for (QAction *a : NPort->actions())
    a->setChecked(Caption.isEmpty() ? a->text().contains(current) : a->text() == Caption);
}

void TMainForm::PortClick(const QString &Caption) {
  FAutoPoll = 1;
  // A later click replaces one still waiting.
  delete FPortWait;
  if (!IsLinkBusy()) {
    SwitchPort(Caption);
    return;
  }
  // The exchange under way ends on the worker; the window goes on meanwhile
  // and asks again until the timer interval has passed.
  const auto now = [this] { return FNow ? FNow() : QDateTime::currentDateTime(); };
  const QDateTime deadline = now().addMSecs(FSettings.TimerIntervalMs);
  auto *wait = new QTimer(this);
  FPortWait = wait;
  connect(wait, &QTimer::timeout, this, [this, wait, Caption, deadline, now] {
    if (!IsLinkBusy()) {
      wait->deleteLater();
      SwitchPort(Caption);
    } else if (now() >= deadline) {
      wait->deleteLater();
      CheckPortItem({});
      ShowStatus(MultiLingual().Translate(QStringLiteral("Порт не переключен: связь занята")));
    }
  });
  wait->start(50);
}

void TMainForm::SwitchPort(const QString &Caption) {
  TComPort &port = FDeviceThread->DeviceIO().GetOI().GetComPort();
  port.Close();
  const QString name = PortNameFromCaption(Caption);
  Logger().Info(QStringLiteral("doMenuComClick before open %1").arg(name));
  port.SetPortName(name);
  const bool open = port.Open(false);
  Logger().Info(QStringLiteral("doMenuComClick after open %1 %2").arg(name).arg(int(open)));
  CheckPortItem(Caption);
  cbDevNo->clear();
  FDescriptor->Ready = false;
}

void TMainForm::ConnectPageCommands() {
  // A command's failure ends at the program's edge (a box, or the status
  // line once the custom-logic page is set up).
  const auto guarded = [](std::function<void()> Command) {
    return [Command] {
      try {
        Command();
      } catch (const EKvError &e) {
        ShowEdgeError(e.Text());
      }
    };
  };
  connect(auWrite, &QAction::triggered, this, guarded([this] { WriteCommand(); }));
  connect(auEdit, &QAction::triggered, this, guarded([this] { EditCommand(); }));
  connect(nExcel, &QAction::triggered, this, guarded([this] { ExcelCommand(); }));
  connect(daSetTime, &QAction::triggered, this, guarded([this] { SetTimeCommand(); }));
  connect(nReport, &QAction::triggered, this, guarded([this] { ReportCommand(); }));
  connect(nEventExport, &QAction::triggered, this, guarded([this] { EventExportCommand(); }));
  connect(aMonitorBreak, &QAction::triggered, this, &TMainForm::BreakCommand);
  connect(aoGetList, &QAction::triggered, this, &TMainForm::GetListCommand);
  connect(NDevice, &QMenu::aboutToShow, this, [this] {
    QStringList ports;
    TDeviceIO::GetComPortList(ports);
    BuildPortMenu(ports);
  });
  connect(cbPrimVal, &QCheckBox::toggled, this, [this](bool On) {
    if (PageControl->currentWidget() == TabSheetDashboard)
      DashboardFrame->SetPrimaryValues(On);
    else if (PageControl->currentWidget() == TabSheetUstav)
      UstavFrame->SetPrimaryValues(On);
  });
  for (auto [action, command] : {std::pair{aMonitorRefresh, &TPageRow::Refresh}, std::pair{apFileLoad, &TPageRow::Load},
                                 std::pair{apFileSave, &TPageRow::Save}, std::pair{apFileSaveAs, &TPageRow::SaveAs}})
    connect(action, &QAction::triggered, this, guarded([this, command = command] { RunPageCommand(command); }));

  // The pages' rows.
  const auto on = [this](QWidget *Page) { return [this, Page] { return PageControl->currentWidget() == Page; }; };
  const auto tagged = [this](int Tag) {
    return [this, Tag] { return PageControl->ActiveSheet() && PageControl->ActiveSheet()->Tag() == Tag; };
  };
  using K = TFileDialogKind;
  AddPageRow({on(TabSheetDashboard), [this] { DashboardFrame->Refresh(); },
              [this, open = WithFile(K::Open, QStringLiteral("Открыть титульную панель"), "xml", "*.xml",
                                     [this](const QString &F) { DashboardFrame->LoadFromFile(F); })] {
                // Another panel over unsaved designer changes asks first.
                if (DashboardFrame->QueryClose())
                  open();
              },
              [this] { DashboardFrame->Save(QString()); },
              WithFile(K::Save, QStringLiteral("Сохранить титульную панель как"), "xml", {},
                       [this](const QString &F) { DashboardFrame->Save(F); })});
  AddPageRow({on(TabSheetParam), [this] { ParamFrame->Refresh(); }, {}, {}, {}});
  AddPageRow({on(TabSheetUstav), [this] { UstavFrame->Refresh(); },
              WithFile(K::Open, QStringLiteral("Открыть набор уставок"), "us", "*.us",
                       [this](const QString &F) {
                         OpenLocalSet(F, QFileInfo(F).fileName().section(u'.', 0, 0) + TabCaptionTail);
                       }),
              {},
              WithFile(K::Save, QStringLiteral("Сохранить набор уставок как"), "us", "*.us",
                       [this](const QString &F) { UstavFrame->SaveToFile(F); })});
  AddPageRow({on(TabSheetEvent), [this] { EventFrame->ReadEventLog(); }, {}, {}, {}});
  AddPageRow({on(TabSheetOscHeader), [this] { OscHeadFrame->ReRead(); }, {}, {}, {}});
  // A local set: Refresh reads the fixed setpoints page again.
  AddPageRow({[this] { return ActiveLocalSet() != nullptr; }, [this] { UstavFrame->Refresh(); }, {},
              [this] { ActiveLocalSet()->SaveToFile(QString()); },
              WithFile(K::Save, QStringLiteral("Сохранить набор уставок как"), "us", "*.us", [this](const QString &F) {
                ActiveLocalSet()->SaveToFile(F);
                PageControl->setTabText(PageControl->currentIndex(), QFileInfo(F).fileName() + TabCaptionTail);
              })});
  AddPageRow({[this] { return ActiveFrame<TkvDeviceBoardFrame>() != nullptr; },
              [this] { ActiveFrame<TkvDeviceBoardFrame>()->Refresh(); }, {},
              [this] { ActiveFrame<TkvDeviceBoardFrame>()->Save(QString()); },
              WithFile(K::Save, QStringLiteral("Сохранить функциональные панели как"), "xml", {},
                       [this](const QString &F) { ActiveFrame<TkvDeviceBoardFrame>()->Save(F); })});
  AddPageRow({tagged(-9), {}, {}, {}, [this] { ActiveFrame<TExcelFrame>()->SaveAs(); }});
  AddPageRow({[this] { return ActiveOscFrame() != nullptr; }, {}, {}, [this] { ActiveOscFrame()->SaveViewSettings(); },
              [this] { ActiveOscFrame()->SaveComtradeAsDialog(); }});
  AddPageRow({tagged(EventReportTag), {}, {}, {}, [this] { SaveEventReportAs(); }});

  // The action list's update: every enabled flag follows the state while the
  // window is idle, and at once when another page is shown.
  auto *actions = new QTimer(this);
  actions->setObjectName("ActionTimer");
  actions->setInterval(100);
  connect(actions, &QTimer::timeout, this, &TMainForm::UpdateActions);
  connect(PageControl, &QTabWidget::currentChanged, this, &TMainForm::UpdateActions);
  actions->start();
  UpdateActions();
}

void TMainForm::ConnectCustomLogic() {
  connect(NCustomLogic, &QAction::triggered, this, [this] {
    try {
      OpenCustomLogicTab();
    } catch (const EKvError &e) {
      ShowEdgeError(e.Text());
    }
  });
  const auto askPack = [](TFileDialogKind Kind, const QString &Caption) {
    return AskFileName({Kind, Caption, QStringLiteral("pack"), QStringLiteral("*.pack"), {}, {}});
  };
  const auto packSaveAs = [this, askPack] {
    const QString path = askPack(TFileDialogKind::Save, QStringLiteral("Сохранить файл Внешней логики как"));
    if (!path.isEmpty())
      ActiveCustomFrame()->SaveAs(path);
  };
  AddPageRow({[this] { return ActiveCustomFrame() != nullptr; }, [this] { ActiveCustomFrame()->ReRead(); },
              [this, askPack] {
                // Another project over unsaved unit edits asks first.
                if (!ActiveCustomFrame()->QueryClose())
                  return;
                const QString path = askPack(TFileDialogKind::Open, QStringLiteral("Открыть файл Внешней логики"));
                if (!path.isEmpty())
                  ActiveCustomFrame()->LoadFromFile(path);
              },
              [this, packSaveAs] {
                if (ActiveCustomFrame()->FileName().isEmpty())
                  packSaveAs();
                else
                  ActiveCustomFrame()->Save();
              },
              packSaveAs});
}

TkvCustomFrame *TMainForm::OpenCustomLogicTab() {
  TTabSheet *sheet = OpenTab([](QWidget *Parent) { return new TkvCustomFrame(Parent); }, -6, true);
  PageControl->setTabText(PageControl->indexOf(sheet),
                          MultiLingual().Translate(QStringLiteral("Внешняя логика")) + TabCaptionTail);
  auto *frame = sheet->findChild<TkvCustomFrame *>();
  TCustomFrameHost host;
  host.ChainGen = [this] { return FIOChain; };
  host.Progress = [this](int Position, int Max, uint32_t Color) { ShowProgress(Position, Max, Color); };
  host.Status = [this](const QString &Text) { ShowStatus(Text); };
  host.IsLinkIdle = [this] { return !IsLinkBusy(); };
  host.EnterTempFolder = [this] { EnterTempFolder(); };
  host.TempFolder = [this] { return QDir(FTempFolder).absolutePath(); };
  host.CheckFlashHeader = [this] { FIdentification->CheckFlashHeader(); };
  host.SetFlashSubFileStart = [this](TIOChain3 *Step, const QList<int> &Args) {
    FIdentification->SetFlashSubFileStart(Step, Args);
  };
  host.ApplyCustomLogicNames = [this] { FIdentification->ApplyCustomLogicNames(); };
  host.UstavNamesForm = FForms.CustomUstavForm;
  host.ParamIONamesForm = FForms.CustomParamIOForm;
  host.UnitPropertyForm = FForms.UnitPropertyForm;
  host.RequestUserRights = [this] {
    // A password typed while another device came (or the link failed) is for nothing.
    TPasswdForm *dialog = FForms.PasswdForm;
    const TIdentWatch watch(*FIOChain, [dialog] { dialog->reject(); });
    const bool granted =
        RequestUserRights(*dialog, [this] { return IsLoggedIn(); }, [this](bool V) { SetLoggedIn(V); });
    return granted && !watch.Changed();
  };
  host.CheckIdentity = [this](TIOChainList3 &Chain) { FIdentification->GateWrite(Chain); };
  host.RenewIdentity = [this](TIOChainList3 &Chain) { FIdentification->RenewIdentity(Chain); };
  host.SetAutoPoll = [this](uint8_t Value) { SetAutoPoll(Value); };
  host.ToolBarColor = [this](uint32_t Color) { SetToolBarColor(Color); };
  host.DeviceIdentity = [this] { return FIdentification->Identity(); };
  // What a logic write changed in the relay, read back into the register
  // image, shows on every page bound to it; a row or cell the engineer edited
  // and has not written keeps the edit.
  host.RegistersWritten = [this](const std::vector<uint16_t> &Regs) {
    const auto written = [&Regs](int Reg) { return std::find(Regs.begin(), Regs.end(), Reg) != Regs.end(); };
    if (UstavFrame)
      UstavFrame->ShowChanged(Regs);
    // Every data row of the parameters page has its register.
    for (int r = 1, reg; ParamFrame && (reg = ParamFrame->RowReg(r)) >= 0; ++r)
      if (written(reg) && !ParamFrame->RowHighlighted(r))
        ParamFrame->ShowRow(reg);
    if (DashboardFrame)
      DashboardFrame->ShowValues();
    for (TkvDeviceBoardFrame *board : PageControl->findChildren<TkvDeviceBoardFrame *>())
      board->ShowValues();
  };
  host.BuildEnv = [this] {
    TCustomBuildEnv env;
    env.DeviceIdentCrc = FDescriptor->IdentCache;
    env.CharMap = QByteArray(reinterpret_cast<const char *>(CharMapToDevice), 256);
    std::vector<uint16_t> table(128);
    const int records = FDescriptor->GetCalibrationTable(table);
    env.Calibration.assign(table.begin(), table.begin() + records * 4);
    env.SaveSchema = FIni.ReadBool("debug", "SaveSchema", false);
    env.BlockSize = FIni.ReadInteger("device", "block", 512);
    env.WriteAllSetting = FIni.ReadBool("setup", "customWriteAll", true);
    env.ParamUstavWrite = FIni.ReadInteger("setup", "customParamUstavWrite", 0) != 0;
    env.CustomSetting = FIni.ReadInteger("setup", "custom", 1);
    env.LimitCheck = FIni.ReadBool("ustav", "limitCheck", true);
    env.RelayDescriptor = FDescriptor->Root;
    return env;
  };
  frame->SetHost(host);
  // The page's command (the build, a dialog) holds its logic and runs the
  // event loop: the tab closes once it has returned. Unsaved unit edits ask.
  if (auto *closable = qobject_cast<TTabSheetClosable *>(sheet))
    closable->SetCloseQuery([closable = QPointer<TTabSheetClosable>(closable), page = QPointer<TkvCustomFrame>(frame)] {
      if (!page)
        return true;
      if (page->IsRunningCommand()) {
        QObject::connect(
            page, &TkvCustomFrame::CommandEnded, closable,
            [closable] {
              QTimer::singleShot(0, closable, [closable] {
                if (closable)
                  closable->CloseTab();
              });
            },
            Qt::SingleShotConnection);
        return false;
      }
      return page->QueryClose();
    });
  TranslateComponent(MultiLingual(), frame);
  frame->Initialize();
  frame->SetCoreDate(DateTimeToQDateTime(FDescriptor->CoreDate));
  return frame;
}

TkvCustomFrame *TMainForm::ActiveCustomFrame() const {
  TTabSheet *sheet = PageControl->ActiveSheet();
  return sheet && sheet->Tag() == -6 ? sheet->findChild<TkvCustomFrame *>() : nullptr;
}
