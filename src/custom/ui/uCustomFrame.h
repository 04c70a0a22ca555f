#pragma once
// The custom-logic page: reads the device's logic package (external FLASH
// file 140) into the work folder, keeps the base logic and the custom logic,
// lists the custom units and shows the chosen one in the embedded schema
// editor. Main thread only.
#include "ixml.h"
#include "uCustomBuild.h"
#include "uCustomLogic.h"
#include "uUnitIdentity.h"

#include <QBuffer>
#include <QDateTime>
#include <QList>
#include <QStringList>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>

class QCheckBox;
class QKeyEvent;
class QLabel;
class QListWidget;
class QListWidgetItem;
class QSplitter;
class QToolBar;
class QToolButton;
class QWheelEvent;
class TConfigurator;
class TCustomParamIOForm;
class TCustomUstavForm;
class TDeviceDescriptor;
class TIOChain3;
class TIOChainGen;
class TModule;
class TSchemaCompile;
class TSchemaEditorPanel;
class TUnitPropertyForm;

// What the page needs of the main window.
struct TCustomFrameHost {
  std::function<TIOChainGen *()> ChainGen;
  std::function<void(int Position, int Max, uint32_t Color)> Progress;
  std::function<void(const QString &Text)> Status;
  // The link is not busy (the one answer the main window gives).
  std::function<bool()> IsLinkIdle;
  std::function<void()> EnterTempFolder;
  std::function<QString()> TempFolder;
  // The identification's header check of "head.bin" and the first frame of a
  // sub-file from the header kept in memory.
  std::function<void()> CheckFlashHeader;
  std::function<void(TIOChain3 *Step, const QList<int> &Args)> SetFlashSubFileStart;
  // Copies the names of "custom-logic.xml" into the run-time descriptor.
  std::function<void()> ApplyCustomLogicNames;
  TCustomUstavForm *UstavNamesForm = nullptr;
  TCustomParamIOForm *ParamIONamesForm = nullptr;
  // The build's view of the connected device and of the settings.
  std::function<TCustomBuildEnv()> BuildEnv;
  std::function<void(uint8_t Value)> SetAutoPoll;
  // The device password, as for every setpoint write; false: refused.
  std::function<bool()> RequestUserRights;
  TUnitPropertyForm *UnitPropertyForm = nullptr;
  // The main window's tool bar colour (0xBBGGRR): white while a build runs.
  std::function<void(uint32_t Color)> ToolBarColor;
  // The unit identified last (empty while none): logic read from a relay is
  // built and written only while the unit identified is the one it was read
  // from (TUnitIdentity::SameUnit).
  std::function<TUnitIdentity()> DeviceIdentity;
  // The page's write has put the custom logic of this container head into
  // the relay: the unit identified keeps its identity with it.
  std::function<void(const QByteArray &Head)> LogicWritten;
  // The page's write has replaced the relay's descriptor: the same unit is
  // identified anew, its map read again.
  std::function<void()> IdentifyAgain;
  // Registers a logic write changed, read back into the register image: the
  // pages and title-panel controls bound to them show it (an edit not yet
  // written stays an edit).
  TRegistersShown RegistersWritten;  // The write gate's identity check put at the start of Chain (the reads of
  // a logic write's question), and the reads that keep the identity afresh
  // after a write that changed what the check compares.
  std::function<void(TIOChainList3 &Chain)> CheckIdentity;
  std::function<void(TIOChainList3 &Chain)> RenewIdentity;
};


// Where the loaded logic came from.
enum TLogicSource : uint8_t { lsNone = 0, lsDevice = 1, lsProject = 2 };

class TkvCustomFrame : public QWidget {
  Q_OBJECT
public:
  explicit TkvCustomFrame(QWidget *Parent = nullptr);
  ~TkvCustomFrame() override;

  void SetHost(const TCustomFrameHost &Host) { FHost = Host; }
  // Set-up. The first call builds the page; every call writes the program's
  // instruction table, empty schema and generator framework to the work
  // folder again. From the first call on, failures reaching the program's
  // edge go to the log and the status line.
  void Initialize();
  void SetCoreDate(const QDateTime &Value) { FCoreDate = Value; }
  QDateTime CoreDate() const { return FCoreDate; }

  // "Обновить": unsaved unit edits asked for first (QueryClose), then the
  // device's logic files read into the work folder and shown.
  void ReRead();
  void ReadLogicFiles();
  // Unit edits not saved in the project: the editor changed the logic since
  // it was loaded or saved.
  bool IsModified() const;
  // Before the edits would go (the tab's close, the program's, "Обновить",
  // another project): Yes saves the project (asking its name when it has
  // none; a cancelled name is Cancel), No drops the edits. True when the
  // page may go on; false keeps the page and its edits.
  bool QueryClose();
  // A command of the page is under way: it holds the loaded logic and may
  // run the event loop (the build's status, a question, a dialog). The page
  // must not go meanwhile; CommandEnded tells when the last one returned.
  bool IsRunningCommand() const { return FCommandDepth > 0; }
  // Enables the page's own buttons: a logic is loaded and the link is idle.
  void UpdateActions();
  // Keys and wheel turns forwarded by the main window; true when used.
  bool KeyDown(QKeyEvent *Event);
  bool MouseWheel(QWheelEvent *Event);

  // Reads library, base logic, identifier list and custom logic from Folder
  // (the work folder or the staging folder of a device read) and takes them
  // over only when all have loaded (LoadLogicFiles); throws its ELogicMember
  // and keeps the logic loaded before.
  void LoadLogic(const QString &Folder);
  // The unit list from Folder's "custom-logic.xml" against the base logic;
  // throws "invalid custom logic" and keeps the list as it was.
  void MergeCustomLogic(const QString &Folder);
  // Writes the unit shown in the editor back into the custom logic.
  void StoreUnit();
  // Shows unit Index of the list in the editor, storing the one shown.
  void SelectUnit(int Index);

  // What the builds and the writer work on.
  TModule *Module() const { return FModule.get(); }
  TConfigurator *Configurator() const { return FConfigurator.get(); }
  TSchemaCompile *SchemaCompile() const { return FSchemaCompile.get(); }
  TSchemaEditorPanel *SchemaEditor() const { return FSchemaEditor; }
  // The design-time descriptor of the base logic, or null.
  TDeviceDescriptor *Descriptor() const;
  IXXMLNode LogicNode() const { return FLogicNode; }
  IXXMLDocument CustomDoc() const { return FCustomDoc; }
  IXXMLNode CustomRoot() const { return FCustomRoot; }
  const QList<TCustomUnit> &Units() const { return FUnits; }
  int CurrentUnit() const { return FCurrentItem; }
  bool IsLogicLoaded() const { return FLogicLoaded != 0; }
  uint8_t Source() const { return FSource; }
  void SetSource(uint8_t Value) { FSource = Value; }
  QStringList &Errors() { return FErrors; }
  QBuffer &ParamStream() { return FParamStream; }
  QString FileName() const { return FFileName; }
  void SetFileName(const QString &Value);
  const TCustomFrameHost &Host() const { return FHost; }
  // The status text on the page and in the main window.
  void ShowStatus(const QString &Text);
  // A work-folder file (its name matched without regard to case).
  QString WorkFile(const QString &Name) const;

  QToolBar *ToolBar1 = nullptr;
  QToolButton *ToolButton2 = nullptr, *ToolButton1 = nullptr, *ToolButtonCompile = nullptr,
              *ToolButtonCustomLogicWrite = nullptr, *ToolButtonUndo = nullptr, *ToolButtonUnload = nullptr,
              *ToolButtonLoad = nullptr, *ToolButtonUstavNames = nullptr, *ToolButtonParamIONames = nullptr,
              *ToolButton9 = nullptr;
  QLabel *LabelStatus = nullptr, *LabelFileName = nullptr;
  QCheckBox *cbGrid = nullptr;
  QWidget *PanelLeft = nullptr, *PanelSchema = nullptr;
  QLabel *PanelUnitsCaption = nullptr;
  QListWidget *ListViewUnit = nullptr;
  QSplitter *Splitter1 = nullptr;

  // Builds the logic and writes it (after the confirmation), the custom
  // logic alone, the restore of the initial custom logic (after its
  // confirmation), the logic project, the unit dialog on the shown unit.
  void Build();
  void WriteCustomLogic();
  void Undo();
  void Save();
  void SaveAs(const QString &FileName);
  void LoadFromFile(const QString &FileName);
  void UnitDialog();
  // The unit dialog filled for the shown unit (not opened), or null.
  TUnitPropertyForm *FillUnitDialog();
  const QList<TOrgChoice> &InputChoices() const { return FInputChoices; }
  const QList<TOrgChoice> &OutputChoices() const { return FOutputChoices; }

signals:
  void CommandEnded();

private:
  friend class TCommandScope;
  void BuildComponents();
  void WriteResources();
  // The editor's first block gets Caption (the empty schema's placeholder).
  void ShowPlaceholder(const QString &Caption);
  // The page's texts in the interface's language after a switch.
  void RetranslatePage();
  // Loads the logic of Folder (the work folder by default), merges the
  // custom part and shows no unit. Files of another folder replace the work
  // files only once all of them have loaded. The package files as loaded are
  // kept: Save and the full write take them, whatever the folder holds.
  void ShowLoadedLogic(TLogicSource Source, const QString &Folder = QString());
  // Puts the kept package files of the loaded logic back into the work folder.
  void PutLoadedFiles();
  // The staging folder of a device read, inside the work folder.
  QString StageFolder() const;
  // The main window's header check on the header read into Stage.
  void CheckStagedHeader(const QString &Stage);
  void FillUnitList();
  void ShowUnit(int Index);
  // A slot's command, as a command of the page (IsRunningCommand); its
  // failure to the program's edge handler.
  void Guard(const std::function<void()> &Command);
  // Yes of QueryClose: the project saved; false when no name was given.
  bool SaveForClose();
  // Logic read from a device goes only to that device: with another one
  // identified since, shows the refusal and throws it. The identification
  // epoch a write of the loaded logic is prepared for: for logic read from
  // the device, the one it was read under (taken afresh once the same device
  // is identified again), else the current one.
  uint64_t CheckLogicDevice();

  TCustomFrameHost FHost;
  bool FInitialized = false;
  // Between the build's question and the start of its write chain.
  bool FBuilding = false;
  int FCommandDepth = 0;
  // Edits made in units no longer shown, or whose module a build has read
  // again since (that clears the editor's mark).
  bool FEdited = false;
  std::unique_ptr<TConfigurator> FConfigurator;
  std::unique_ptr<TModule> FModule;
  TSchemaEditorPanel *FSchemaEditor = nullptr;
  IXXMLDocument FLogicDoc;
  IXXMLNode FLogicNode;
  // Name and bytes of each package file the loaded logic came from.
  QList<QPair<QString, QByteArray>> FLoadedFiles;
  IXXMLDocument FCustomDoc;
  IXXMLNode FCustomRoot;
  QList<TCustomUnit> FUnits;
  int FCurrentItem = -1;
  // The Russian caption of the empty schema, while it is shown.
  QString FPlaceholder;
  bool FPlaceholderShown = false;
  QStringList FErrors;
  std::unique_ptr<TSchemaCompile> FSchemaCompile;
  uint8_t FLogicLoaded = 0;
  QString FFileName;
  uint8_t FSource = lsNone;
  // The unit the logic was read from (logic from a device only), and the
  // identification epoch it was read under.
  TUnitIdentity FLogicIdentity;
  uint64_t FLogicEpoch = 0;
  // The heads of the custom-logic containers the relay holds for this page:
  // the one read (whatever setup/custom says), and one a write of the page
  // has begun to send since. A write of the logic goes only to a relay
  // holding one of them.
  QList<QByteArray> FLogicHeads;
  QBuffer FParamStream;
  QDateTime FCoreDate;
  QList<TOrgChoice> FInputChoices, FOutputChoices;
  TCustomLogicState LogicState() const;
  TCustomWriteHooks WriteHooks(uint64_t PreparedFor);
  TCustomBuildEnv BuildEnv() const;
  void ConnectBuildCommands();
};
