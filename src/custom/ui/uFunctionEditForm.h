#pragma once
// What the function block dialog edits, kept without widgets: counts, pin
// rows, setpoint and parameter rows, switch mask and line colour of one
// function block, filled from it, checked and written back in one step.
#include <QDialog>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <functional>

class QCheckBox;
class QComboBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTableWidget;
class QToolButton;
class TStringGridEditor;
class TUstavListForm;
class TParamListForm;
class TDDUstavBitForm;

class TDeviceDescriptor;
class TDDParam;
class TDDUstav;
class TElement;
class TFunctionDescriptor;

// Edge names by edge index 0..3, in the interface's language.
QStringList FunctionEdgeNames();

struct TFunctionPinRow {
  QString Title; // "Вход 1", "Выход 2"
  bool Inverted = false;
  QString Edge, Event, Name;
};

// A setpoint or parameter row. Values are the two group editors: the item
// index of an enumeration, the 16-digit text of a bit setpoint, the number
// text of a numeric one; a parameter uses group 0 only.
struct TFunctionRefRow {
  TDDUstav *Ustav = nullptr;
  TDDParam *Param = nullptr;
  std::array<QString, 2> Values;
};

struct TFunctionEditState {
  TElement *Element = nullptr;
  const TFunctionDescriptor *Func = nullptr;
  QString Caption, Gid, InCount, OutCount;
  bool GidReadOnly = false, InReadOnly = false, OutReadOnly = false;
  QList<TFunctionPinRow> Inputs, Outputs;
  std::array<TFunctionRefRow, 16> Rows;
  QStringList EventNames;
  int Switch = 0;
  uint32_t PenColor = 0;
  // Parameter grid: the function's parameter names and the block's values;
  // only the first ParamCount rows are in use.
  QStringList ParamNames, ParamValues;
  int ParamCount = 0;
  // ustav/limitCheck: the setpoint values are checked against their limits
  // (the rule of the pages: inverted limits refuse every value).
  bool LimitCheck = true;

  // Desc may be null (no events offered). Throws "invalid RecordType %2.2x"
  // for a bound enumeration setpoint of another record type.
  void Fill(TElement &E, const TDeviceDescriptor *Desc);
  // The count texts as typed: an empty one is ignored; rows are cut from the
  // end or appended as "Вход n" / "Выход n".
  void SetInputCount(const QString &Text);
  void SetOutputCount(const QString &Text);
  // Emptying the edge empties the event and the other way round.
  void SetEdge(int OutRow, const QString &Text);
  void SetEvent(int OutRow, const QString &Text);
  // Row in use by the function's limit rule.
  bool RowInUse(int Row) const;
  // Binds a setpoint; in an alternative group the other rows lose theirs.
  void ChooseUstav(int Row, TDDUstav *Ustav);
  void ChooseParam(int Row, TDDParam *Param);
  // Drops the last parameter row in use and empties its value; nothing when
  // none is left.
  void RemoveParamRow();
  // "invalid input pin count" / "invalid output pin count" outside the limits.
  void Check() const;
  // Checks, then writes everything back. "gid занят, модуль " + the holder's
  // module caption, "invalid group index" and "non-unique group index" leave
  // the element unchanged.
  void Apply(const TDeviceDescriptor *Desc);
};

// How a dialog asks for a line colour ($00BBGGRR): false when cancelled.
// Tests answer in place of the colour dialog.
using TColorOpener = std::function<bool(uint32_t &Color)>;
bool OpenColorDialog(uint32_t &Color);

// The dialog over TFunctionEditState. Choosers and the bit setpoint dialog
// are the caller's (made once at start-up); without them the row buttons do
// nothing.
class TFunctionEditForm : public QDialog {
  Q_OBJECT
public:
  explicit TFunctionEditForm(QWidget *Parent = nullptr);
  void SetDescriptor(TDeviceDescriptor *Desc) { FDesc = Desc; }
  void SetChoosers(TUstavListForm *Ustavs, TParamListForm *Params, TDDUstavBitForm *Bits);
  void SetElement(TElement *E);
  void SetColorOpener(TColorOpener Opener) { FColorOpener = std::move(Opener); }
  void SpeedButtonColorClick();
  void SpeedButtonMinusClick();
  // The state as the widgets show it.
  TFunctionEditState State();
  void Apply();
  void done(int Result) override;

  QLineEdit *EditId, *EId, *eCaption, *eGId, *eIpin, *eOpin;
  QPushButton *SpeedButtonColor, *bbOk, *bbCancel;
  QLabel *PanelColor, *LabelSwitch, *LabelParam;
  QTableWidget *StringGrid, *StringGridParam;
  QToolButton *SpeedButtonPlus, *SpeedButtonMinus;
  QListWidget *CheckListBox;
  struct TRowWidgets {
    QLabel *Name;
    QToolButton *ChooseUstav, *ChooseParam, *Edit;
    std::array<QWidget *, 2> Editors{};
  };
  std::array<TRowWidgets, 16> UstavRows{};

private:
  void ShowPins();
  void ShowColor();
  void ShowParams();
  void ShowRow(int Row);
  void ReadPins();
  void CountChanged();
  void ChooseUstav(int Row);
  void ChooseParam(int Row);
  void EditBits(int Row);
  TFunctionEditState FState;
  TDeviceDescriptor *FDesc = nullptr;
  TUstavListForm *FUstavs = nullptr;
  TParamListForm *FParams = nullptr;
  TDDUstavBitForm *FBits = nullptr;
  TStringGridEditor *FCellEditor;
  QGridLayout *FRowGrid;
  bool FFilling = false;
  TColorOpener FColorOpener = OpenColorDialog;
};
