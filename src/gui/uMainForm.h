#pragma once
// The main window: start-up, the poll timer, the status and progress shown
// for every IO chain, the pages and the orderly shutdown. Main thread only.
#include "uAppForms.h"
#include "uCloseRules.h"
#include "uLocker.h"
#include "uMainSettings.h"
#include "uNumberFormat.h"
#include "uPageControlHelper.h"
#include "uReportDocument.h"
#include "uEventLogItem.h"

#include <QBuffer>
#include <QDateTime>
#include <QList>
#include <QMainWindow>
#include <QPointer>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>

class QAction;
class QActionGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QMenu;
class QMessageBox;
class QProgressBar;
class QStatusBar;
class QToolBar;
class TAppIniFile;
class TIOChainGen;
class TIOChainList3;
class TDeviceThread;
class TDeviceTool;
class TSimpleDeviceDescriptor;
class TkvDashboardFrame;
class TkvParamFrame;
class TUstavFrame;
class TkvUstavLocalFrame;
class Tkv2EventFrame;
class TOscHeadFrame;
class TIdentification;

// Colours of the tool bar, the program's whole link-state display ($BBGGRR).
enum : uint32_t {
  clLinkError = 0x8080FF, // an error text was reported or no device answered
  clLinkDone = 0x80FF80,  // a chain finished
  clLinkBusy = 0x80FFFF,  // a transfer runs
};

class TMainForm : public QMainWindow {
  Q_OBJECT
public:
  // Creates the window, its pages and the forms that follow it (the first
  // creation step). Ini and ProgramFolder (ending with "/") stand for the
  // program's settings file and folder; tests pass their own.
  TMainForm(const TAppIniFile &Ini, const QString &ProgramFolder, QWidget *Parent = nullptr);
  ~TMainForm() override;

  // The start-up steps before the window is first shown: settings, work folder
  // and its lock, pages, language, menus, link settings. False when the work
  // folder is held by another copy: the message has been shown, nothing was
  // written there, and the program must end.
  bool FormShow();
  // The application log's file; it is opened once the work folder is taken,
  // so a copy that must end writes nothing (the log may lie in the work folder).
  void SetLogFile(const QString &FileName) { FLogFile = FileName; }

  // Makes the work folder the process's current folder.
  void EnterTempFolder();
  QString GetTempFolder() const { return FTempFolder; }
  QString ProgramFolder() const { return FProgramFolder; }
  // Status callback of every IO chain; an error text (IsErrorStatusText)
  // turns the tool bar red. The text stays until the next one, and a write's
  // report stays over every other until the engineer's next command.
  void ShowStatus(const QString &Text);
  // A write's report (refused, not executed, cut, answer lost): shown and
  // kept until the engineer's next key or mouse press in the program or the
  // next write asked; no check, refresh or identification replaces it.
  void ShowWriteReport(const QString &Text);
  void UnpinWriteReport() { FReportPinned = false; }
  // Every command of the window's menus and tool bars (the actions made so
  // far) releases the write's report first.
  void UnpinOnCommands();
  // A write refused for the device it would reach: a box that stays until
  // closed (not modal: it is shown from inside chain processing), naming
  // what was not written and why; another such refusal meanwhile is added to it.
  void ShowWriteBox(const QString &What, const QString &Why);
  // The program's close without its questions (a signal to end): like
  // "Выход" it waits for a running write, but goes on however the write
  // ended (its report in the log and on stderr); a box that would hold it
  // goes as "Отмена", and the log names the unsaved work it drops.
  void CloseQuietly();
  // The box saying that a close waits for a write to end, or null.
  QMessageBox *WriteWaitBox() const;
  // The tab's close is put off (it waits for its write, or for a dialog to
  // return after it): the tab takes no command of its own meanwhile.
  bool IsClosePutOff(const QWidget *Sheet) const;
  // Off (tests only): a tab whose close is put off keeps its commands, so
  // that the hold of its close under an open dialog is seen on its own.
  void SetShutsClosingTabs(bool Value) { FShutsClosingTabs = Value; }
  // A write has ended whose closes wait for a dialog to return.
  bool HasHeldCloses() const { return !FHeldEnds.isEmpty(); }
  // Clears device type and dates: an identification has started.
  void ClearDeviceStrip();
  // Progress callback of chains: Position >= Max ends the transfer (green);
  // otherwise the bar shows Position of Max and the tool bar Color ($80FFFF when 0).
  void ShowProgress(int Position, int Max, uint32_t Color = 0);
  void SetLoggedIn(bool Value);
  // Commands of the parameters and setpoints pages (Write, Edit, Excel); they
  // throw the texts the error box shows.
  void WriteCommand();
  void EditCommand();
  void ExcelCommand();
  // A new local set tab (Tag -7) with FileName; a set that does not load
  // leaves no tab and its error reaches the caller.
  TkvUstavLocalFrame *OpenLocalSet(const QString &FileName, const QString &Caption);
  // The local set of the active tab, or null.
  TkvUstavLocalFrame *ActiveLocalSet() const;
  // The enabled state of every action in the action table, for the state now.
  void UpdateActions();
  // A message box with Text, shown once the chain step calling this has returned.
  void ShowMessageStep(const QString &Text);
  // The one answer to "may the user write now": an entry older than the
  // password expiration period lapses here. With a period of 0 or less an
  // entry answers true once, for the write it was made for, and then lapses.
  bool IsLoggedIn();
  // Commands of the device menu; they throw the texts the error box shows.
  void SetTimeCommand();
  void ReportCommand();
  void EventExportCommand();
  void BreakCommand();
  // "Список": the oscillogram directory page re-reads its list and is shown.
  void GetListCommand();
  // The port menu, one item per caption (the machine's ports each time the
  // device menu opens). A click switches the port once the link is idle.
  void BuildPortMenu(const QStringList &Captions);
  // The name of the last saved oscillogram side file (the viewer keeps it).
  void SetLastSavedFile(const QString &FileName);
  QString LastSavedFile() const;

  // What Refresh, Open, Save and Save As do on one kind of page. The first row
  // whose Serves answers true takes the command; an empty command does nothing
  // there, and a page no row serves ignores the command.
  struct TPageRow {
    std::function<bool()> Serves;
    std::function<void()> Refresh, Load, Save, SaveAs;
  };
  void AddPageRow(TPageRow Row) { FPageRows.push_back(std::move(Row)); }
  // The frame of class T on the active page, or null.
  template <class T> T *ActiveFrame() const {
    QWidget *page = PageControl->currentWidget();
    return page ? page->findChild<T *>() : nullptr;
  }

  void SetAutoPoll(uint8_t Value) { FAutoPoll = Value; }
  uint8_t AutoPoll() const { return FAutoPoll; }

  // Language switch of the menu: the interface is in the last target language
  // now; Index is the next one.
  void SetLanguage(int Index);
  void TranslateForms();

  // Run-time tabs. Factory makes the page's frame for the given parent.
  using TFrameFactory = std::function<QWidget *(QWidget *Parent)>;
  TTabSheet *OpenTab(const TFrameFactory &Factory, int Tag, bool Reuse);
  TTabSheet *FindTabByTag(int Tag) const;
  void CloseActiveTab();
  // Opens (once) the log pane tab and attaches the log to it.
  void OpenLogTab();
  // A new tab showing the oscillogram FileName (".dat"); errors reach the
  // caller. The tab, or null when it was closed while it loaded (a record
  // without a side file asks for its channels first).
  QPointer<TTabSheet> OpenOscTab(const QString &FileName);
  // The oscillograms the preference window keeps, opened again at start.
  void ReopenPreferredOsc();
  // The oscillogram viewer of the active tab, or null.
  class TkvOscFrame *ActiveOscFrame() const;
  // "Внешняя логика": the custom-logic tab (Tag -6), opened once and then
  // activated; set up each time and given the device's core date.
  class TkvCustomFrame *OpenCustomLogicTab();
  // The custom-logic page of the active tab, or null.
  class TkvCustomFrame *ActiveCustomFrame() const;

  // One tick of the poll timer.
  void TimerTimer();
  // "Is the link busy": the question the timer, "Опрос", the device-number box
  // and every page ask before starting a chain (see TIOChainGen::IsBusy).
  bool IsLinkBusy() const;
  // The run-time descriptor holds an identified device.
  bool IsDeviceReady() const;

  // The clock the timer reads; tests set their own.
  void SetClock(std::function<QDateTime()> Now) { FNow = std::move(Now); }
  uint32_t ToolBarColor() const { return FToolBarColor; }
  void SetToolBarColor(uint32_t Color);
  // The identification script and the password re-read (owned by the window).
  TIdentification *Identification() const { return FIdentification.get(); }
  const TMainSettings &Settings() const { return FSettings; }
  const TAppForms &Forms() const { return FForms; }
  bool IsStarted() const { return FStarted; }
  // The factory of every IO chain of the program.
  TIOChainGen *IOChain() const { return FIOChain; }
  // The device worker's front (null before start-up and in a copy that could
  // not take its work folder).
  TDeviceTool *DeviceTool() const { return FDeviceTool.get(); }
  TDeviceThread *DeviceThread() const { return FDeviceThread.get(); }
  // The run-time descriptor of the connected device; owned by the window.
  TSimpleDeviceDescriptor *Descriptor() const { return FDescriptor.get(); }
  // Opens (once) the Modbus pane tab, filled from the register image.
  void OpenModbusTab();
  // Caption and header line of the program's reports.
  TReportSetup ReportSetup() const;
  // The event report tab (reused): its template from the program folder, the
  // descriptor and Records (the journal page's, newest first). Without an
  // identified device, or when the template cannot be read, the error is
  // shown (and no new tab is left).
  void OpenEventReport(const TEventLogItems *Records);
  // Save As on the event report tab: the template under a name asked for;
  // false when another tab is shown.
  bool SaveEventReportAs();

  // Components other parts of the program reach.
  QToolBar *ToolBar = nullptr;
  QToolBar *ToolBar2 = nullptr; // second row: address, device type, dates
  QStatusBar *StatusBar_ = nullptr;
  QProgressBar *ProgressBar = nullptr;
  QLabel *LabelVarnok = nullptr, *Label11 = nullptr, *LabelDeviceType = nullptr;
  QLabel *LabelCore = nullptr, *LabelCoreID = nullptr, *LabelDesc = nullptr, *LabelDescID = nullptr;
  QComboBox *cbDevNo = nullptr;
  QCheckBox *cbAuto = nullptr, *cbPrimVal = nullptr;
  TPageControl *PageControl = nullptr;
  TTabSheet *TabSheetDashboard = nullptr, *TabSheetParam = nullptr, *TabSheetUstav = nullptr,
            *TabSheetEvent = nullptr, *TabSheetOscHeader = nullptr;
  TkvDashboardFrame *DashboardFrame = nullptr;
  TkvParamFrame *ParamFrame = nullptr;
  TUstavFrame *UstavFrame = nullptr;
  Tkv2EventFrame *EventFrame = nullptr;
  TOscHeadFrame *OscHeadFrame = nullptr;
  QTimer *Timer = nullptr;
  TPageControlHelper *PageControlHelper = nullptr;

  // Menus and actions.
  QMenu *NFile = nullptr, *NDevice = nullptr, *NOsc = nullptr, *NTools = nullptr, *NLanguage = nullptr,
        *NHelp = nullptr, *NPort = nullptr, *NBaudrate = nullptr, *PopupMenu = nullptr;
  QAction *aMonitorPoll = nullptr, *aMonitorRefresh = nullptr, *aMonitorBreak = nullptr, *daSetTime = nullptr;
  QAction *nModbusReport = nullptr, *nReport = nullptr, *N6 = nullptr, *miControl = nullptr, *miParam = nullptr,
          *N15 = nullptr;
  QAction *adSetup = nullptr, *apFileLoad = nullptr, *apFileSave = nullptr, *apFileSaveAs = nullptr;
  QAction *auWrite = nullptr, *auEdit = nullptr, *nExcel = nullptr, *nExit = nullptr;
  QAction *aoSetup = nullptr, *aoGetList = nullptr, *aoOpen = nullptr, *aoClose = nullptr, *aoPrint = nullptr,
          *aoExportOsci = nullptr;
  QAction *NEnglish = nullptr, *NRussian = nullptr, *NUkrainian = nullptr;
  QAction *miLog = nullptr, *miModbus = nullptr, *NCustomLogic = nullptr, *N3 = nullptr, *NDeviceBoard = nullptr,
          *NEventReport = nullptr, *nEventExport = nullptr, *N13 = nullptr;
  QAction *aAgent = nullptr, *aModbusTcp = nullptr, *aConfigMMS = nullptr;
  QAction *nAgentClient = nullptr, *nModbusTcp = nullptr, *nMMSConfig = nullptr;
  QAction *atabClose = nullptr, *NClose = nullptr;
  QActionGroup *BaudrateGroup = nullptr;

protected:
  void closeEvent(QCloseEvent *Event) override;
  // Esc and the wheel reach the oscillogram viewer of the active tab.
  void keyPressEvent(QKeyEvent *Event) override;
  void wheelEvent(QWheelEvent *Event) override;
  // Status tips of menus and actions are not shown: the status line keeps
  // the last status or error text until the next one.
  bool event(QEvent *Event) override;

private:
  // The identity check a read the engineer asks for runs first, for a
  // command that takes what the pages show (the edit tab): waits for it,
  // the window's events going on. False when it did not pass (another relay
  // found and identified, or the check failed, told as a read's failure).
  bool RelayCheckedFirst();
  bool FRelayChecking = false;
  void BuildActions();
  void ConnectCustomLogic();
  void ConnectPageCommands();
  void BuildMenus();
  void BuildToolBar();
  void BuildPages();
  void ApplyVisibility();
  void BuildBaudrateMenu(int CurrentRate);
  // A baud-rate item: the port's new rate, the worker's poll pause, the item
  // checked, the device number list emptied and the device no longer ready.
  void BaudrateClick(QAction *Item);
  // A port item: waits, without blocking, for the link to be idle (at most
  // the timer interval), then reopens the port under the caption's name.
  void PortClick(const QString &Caption);
  void SwitchPort(const QString &Caption);
  // Checks the item Caption, or with "" the item naming the port in use.
  void CheckPortItem(const QString &Caption);
  void RunPageCommand(std::function<void()> TPageRow::*Command);
  void ReportFolderProblem(const QString &Folder);
  // Opens the log file for appending, once, as a new generation within the
  // settings' bound; a file that cannot be opened is an early problem.
  void OpenLog();
  // A log file that cannot be written: told once in the status line and a
  // box, in the interface's language; the program goes on. Main thread.
  void ShowLogFailure(const QString &Text);
  // Asks about a changed title panel and every page's unsaved work; false
  // when the user cancels.
  bool FormCloseQuery();
  // The password for a write of the active page (named in the box when the
  // dialog is closed for the engineer).
  bool RequestWriteRights(const QString &What = QString());
  // A close that meets a running write waits for it (TCloseRules): the
  // tab's close (true: put off) and the program's. WriteEnded tells the
  // rules how a write ended, ResumeCloses goes on with the closes they let
  // go; the box's button gives them up.
  bool PutOffTabClose(TTabSheetClosable *Sheet);
  void WaitForWrite(TIOChainList3 &Write, const QString &Closing);
  void WriteEnded(const TIOChainList3 &Chain);
  void ResumeCloses(const TCloseRules::TWriteEnd &End);
  // Nothing is deleted under an open dialog: a close the write's end lets
  // go waits while a modal dialog is open, whatever opened it, or while an
  // event loop runs deeper than the one the close was asked from (a dialog's
  // exec() not yet returned); it comes once the last has gone.
  bool IsCloseHeld() const;
  void ResumeHeldCloses();
  // A tab whose close is put off is shut (disabled: its menus, keys, cell
  // dialogs and designers take nothing) until it goes or the close is given up.
  void ShutClosingTab(TTabSheetClosable *Sheet);
  void ReopenTab(QWidget *Sheet);
  // A command of the active tab while its close is put off, or one that
  // would make a new tab while the program's close waits: refused with the
  // word on the status line (true).
  bool RefusedForClosingTab();
  bool RefusedForClosingProgram();
  void CancelCloses();
  void CloseWaitBox();
  // The modal box open now, other than the close's own, or null.
  QWidget *OpenModal() const;
  // A box of a write not yet sent (its question, its password) or of a
  // write's own step is closed as "Отмена" by the program's close.
  void RejectModal(QWidget *Modal);
  // While a signal's close is under way, every box that opens goes so, and
  // the close comes again after it.
  void GuardSignalClose();
  // Pages and files with unsaved work, named as the log names them.
  QStringList UnsavedWork() const;
  void FormClose();

  void ApplyLinkSettings();
  void StopDeviceWorker();
  // Drops an entry older than a positive expiration period.
  void ExpireLogin();

  const TAppIniFile &FIni;
  std::unique_ptr<TSimpleDeviceDescriptor> FDescriptor;
  TIOChainGen *FIOChain = nullptr;
  // The worker thread owns the serial port or socket; the front queues its
  // records and hands answers back on this thread.
  std::unique_ptr<TDeviceThread> FDeviceThread;
  std::unique_ptr<TDeviceTool> FDeviceTool;
  TMainSettings FSettings;
  TAppForms FForms;
  QString FProgramFolder;
  QString FTempFolder;
  TLockFile FLockFile;
  QString FLogFile;
  bool FLogOpened = false;
  QStringList FEarlyProblems; // reported before the log file was open
  QStringList FLogFailures;   // come while a box of them is open
  bool FLogFailureBox = false;
  // Identification state, filled by the identification script's steps.
  uint8_t FDeviceAddr = 0;
  QList<int> FFoundAddrs;     // addresses that answered a poll or scan
  QList<int> FChosenAddr{0};  // exactly one entry: the number chosen in cbDevNo
  QBuffer FRequest, FAnswer;  // request and answer of register, SRAM and FLASH reads
  QBuffer FFlashHead;         // copy of "head.bin"
  uint16_t FCalibrPtr = 0;
  int FCalibrCount = 0, FCalibrItems = 0;
  uint16_t FPasswdReg = 0xFFFF, FPasswdWordCount = 0xFFFF;
  bool FLoggedIn = false;
  QDateTime FLoginTime;
  uint8_t FAutoPoll = 2;
  bool FReportPinned = false; // a write's report holds the status line
  QString FWriteReportText;    // that report, as the write gave it
  QPointer<QMessageBox> FWriteBox;
  QPointer<QMessageBox> FWriteWaitBox;
  TCloseRules FCloseRules;
  QList<QPointer<TTabSheetClosable>> FShutTabs;
  bool FShutsClosingTabs = true;
  QList<TCloseRules::TWriteEnd> FHeldEnds;
  QTimer *FCloseHold = nullptr;
  int FCloseLoopLevel = -1; // the event loop a close was asked from; -1: none
  QTimer *FSignalGuard = nullptr; // rejects boxes during a signal's close
  bool FStarted = false;
  bool FClosed = false;
  uint32_t FToolBarColor = clLinkError;
  bool FToolBarColored = false; // no style sheet set yet
  int FProgressPercent = -1;
  qint64 FProgressMs = 0; // when the bar last moved
  int FProgressPending = -1; // a position held back by the 50 ms; -1: none
  QTimer *FProgressTimer = nullptr; // shows it at their end
  int FFrameCounter = 0;
  int FOscFrameCounter = 0;
  std::function<QDateTime()> FNow;
  std::unique_ptr<TIdentification> FIdentification;
  QList<TPageRow> FPageRows;
  QActionGroup *PortGroup = nullptr;
  QPointer<QTimer> FPortWait; // a port click waiting for the link
};

// A log failure where no window shows it (at exit, after the window): on
// stderr, in the interface's language. An empty Text prints nothing.
void PrintLogFailure(const QString &Text);
