#pragma once
// The OK/Cancel dialog template and the two choosers built on it, which the
// function block dialog opens to bind a setpoint or a parameter row.
// TChooserList is the list the chooser shows (entries carrying records, the
// used flags), kept apart from the widget so it is checked without one.
#include <QDialog>
#include <QList>
#include <QString>

class QBoxLayout;
class QFrame;
class QPushButton;
class QTreeWidget;
class TDeviceDescriptor;
class TDDObject;
class TModule;

// The button row the block dialogs end with: OK (default, accepts), Cancel
// (rejects) and, when Help is asked for, a help button kept hidden: the
// program carries no help file.
void AddDialogButtons(QDialog *D, QBoxLayout *Main, QPushButton *&Ok, QPushButton *&Cancel,
                      QPushButton **Help = nullptr);

class TOKBottomDlg : public QDialog {
  Q_OBJECT
public:
  explicit TOKBottomDlg(QWidget *Parent = nullptr);
  QFrame *Bevel1;
  QPushButton *OKBtn, *CancelBtn, *HelpBtn;

protected:
  // Where the subclasses put their content, above the buttons.
  QWidget *FClient;
};

struct TChooserEntry {
  QString Caption;
  TDDObject *Object = nullptr;
  // Set when the setpoint is already bound by a function block of the module.
  bool Used = false;
};

struct TChooserList {
  QList<TChooserEntry> Entries;
  // Setpoints whose Custom flag is set (the custom logic binds only those), in
  // the descriptor's order.
  void FillUstavs(const TDeviceDescriptor &Desc);
  void FillParams(const TDeviceDescriptor &Desc);
  // Flags the entries whose setpoint a function block of Module binds.
  void MarkUsed(const TModule &Module);
  // The record of entry Index, nullptr for none (-1 or out of range).
  TDDObject *Chosen(int Index) const;
};

class TChooserForm : public TOKBottomDlg {
  Q_OBJECT
public:
  explicit TChooserForm(QWidget *Parent = nullptr);
  // Shows the list again (after filling or marking).
  void ShowList();
  // The record of the selected entry after OK, nullptr when none is selected.
  TDDObject *Selected() const;
  TChooserList List;
  QTreeWidget *ListView;
};

class TUstavListForm : public TChooserForm {
  Q_OBJECT
public:
  explicit TUstavListForm(QWidget *Parent = nullptr);
  void SetDescriptor(const TDeviceDescriptor &Desc);
};

class TParamListForm : public TChooserForm {
  Q_OBJECT
public:
  explicit TParamListForm(QWidget *Parent = nullptr);
  void SetDescriptor(const TDeviceDescriptor &Desc);
};
