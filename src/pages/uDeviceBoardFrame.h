#pragma once
// The device boards page ("Функциональные панели"): user-designed boards of
// device-bound controls kept together in one XML file. A list names the
// boards; only the board on show is built as live controls, the others live
// in the document, which every switch brings up to date. Main thread only.
#include "ixml.h"
#include "uPageChains.h"

#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>

class QAction;
class TIOChainGen;
class QListWidget;
class QMenu;
class QScrollArea;
class QSplitter;
class TSimpleDeviceDescriptor;
class TUstavPanel;

class TkvDeviceBoardFrame : public QWidget {
  Q_OBJECT
public:
  explicit TkvDeviceBoardFrame(QWidget *Parent = nullptr);
  ~TkvDeviceBoardFrame() override;

  // At every identification the board on show is built again from its
  // document for the relay identified (stored first) and read.
  void SetHost(const TPageHost &Host);
  // Keeps the run-time descriptor (owned by the main window); before Init.
  void SetDescriptor(TSimpleDeviceDescriptor *Descriptor) { FDescriptor = Descriptor; }
  TSimpleDeviceDescriptor *Descriptor() const { return FDescriptor; }
  // Loads the boards, shows the first and refreshes it. A missing or broken
  // file is reported through the host; the page then starts empty.
  void Init(const QString &FileName);
  // Loads the boards of FileName. Throws EKvError "cannot open " + path, or
  // the parser's reason + CR + "Ъ" + the source line.
  void LoadFile(const QString &FileName);
  // Stores the board on show and writes the file (empty: the current one).
  // A current file that did not load whole (refused, or an element of a board
  // shown dropped or half-read) is replaced only when the user answers yes;
  // false when not saved.
  bool Save(const QString &FileName);
  bool IsIncomplete() const { return FIncomplete; }
  // Before the tab closes: boards changed and not saved ask Да / Нет /
  // Отмена; Да saves them as Save(QString()) does. True when the tab may go;
  // false when cancelled or the save failed or was refused (nothing is lost).
  bool QueryClose();
  // Reads the values of the board on show.
  void Refresh();
  Q_INVOKABLE void ShowValues();
  // Builds board Index on the panel / stores the panel into board CurrentIndex.
  void ShowPage(int Index);
  void StorePage();
  // Binds every control on show to the descriptor as a build of the board
  // does, with the page's write handler on each setpoint panel the relay
  // describes as writable (after a build and after the designer's Apply).
  // A setpoint panel then shows the relay's value read last, or none.
  void BindControls();
  // Moves the selected board one place (-1 up, +1 down); nothing at an end.
  void MovePage(int Direction);
  // The list's selection changed: the board on show is stored, the chosen one built.
  void ListBoxClick();
  void WriteSetpoint(uint16_t Reg, uint16_t Value, uint16_t Mask);
  bool IsModified() const { return FModified; }
  void SetModified(bool Value) { FModified = Value; }
  int CurrentIndex() const { return FCurrentIndex; }
  QString FileName() const { return FFileName; }
  IXXMLNode Root() const { return FRoot; }
  // Asks for a board's new name (Caption holds the old one); false on Cancel.
  // Tests replace it.
  std::function<bool(QString &Caption)> AskName;

  QListWidget *ListBox;
  QSplitter *Splitter1;
  QScrollArea *ScrollBox;
  QWidget *Panel;
  QMenu *PopupMenu;
  QAction *ActionAdd, *ActionDelete, *ActionDuplicate, *ActionRename;

protected:
  bool eventFilter(QObject *Watched, QEvent *E) override;

private:
  void ActionAddExecute();
  void ActionDeleteExecute();
  void ActionDuplicateExecute();
  void ActionRenameExecute();
  IXXMLNode FrameNode(int Index) const;
  void SetList(int Row);
  void Problem(const QString &Text);
  void ShowImageValue(TUstavPanel *Panel) const;

  uint64_t BindingEpoch() const;
  void IdentChanged();
  // Stores the board on show and builds it again for the relay identified
  // now, then reads it; put off while a control's write handler runs.
  void Rebuild();

  TPageHost FHost;
  TIdentFollower FIdent;
  // The epoch the board on show was built for; a write handler running (its
  // password box open) puts a rebuild off.
  uint64_t FBuiltFor = 0;
  int FHandlers = 0;
  bool FRebuildPending = false;
  QPointer<QWidget> FWriting; // the setpoint panel whose handler runs
  QString FFileName;
  IXXMLDocument FDoc;
  IXXMLNode FRoot;
  TSimpleDeviceDescriptor *FDescriptor = nullptr;
  bool FUpdating = false;
  bool FModified = false;
  bool FIncomplete = false;
  int FCurrentIndex = -1;
};
