#pragma once
// The property editor of the designers: the rows of one device-bound control
// as the embedded property table ("property") describes them: free text, a
// pick list from one of the control's selectors, or a colour, font or bit
// list dialog. A stay-on-top window the designers dock and undock.
#include "ixml.h"

#include <QDialog>
#include <QPointer>
#include <functional>

class QTableWidget;
class TFont;
class TBitList;

// How the editor asks the user for a colour, a font or the shown bits;
// tests answer in place of the dialogs.
struct TPropertyDialogs {
  std::function<bool(int &Color)> Color;
  std::function<bool(TFont &Font)> Font;
  std::function<bool(TBitList &Bits)> Bits;
};

class TPropertyForm : public QDialog {
  Q_OBJECT
public:
  // Reads the property table; a dialog other than the three throws EKvError
  // "invalid dialog " + name.
  explicit TPropertyForm(QWidget *Parent = nullptr, const QByteArray &Table = QByteArray());
  // Shows Control's rows; none (an empty editor) for a null Control. Throws
  // EKvAssert "unknown control " + class for a class the table lacks,
  // EKvError "unexpected proptype %d" for a property kind the editor does not handle.
  void SetControl(QWidget *Control);
  QWidget *Control() const { return FControl; }
  // The row of property Name (-1 when none) and its value text.
  int RowOf(const QString &Name) const;
  QString ValueText(int Row) const;
  // Enters Text in Row as the user does (pick-list text or typed text).
  void SetEditText(int Row, const QString &Text);
  // Presses the row's ellipsis button (its dialog).
  void EditButtonClick(int Row);
  void SetDialogs(const TPropertyDialogs &Dialogs) { FDialogs = Dialogs; }
  QTableWidget *vle;
  // The colour a colour row's key cell shows in the square at its right end.
  static constexpr int SwatchRole = Qt::UserRole + 1;

private:
  void AddProperty(const IXXMLNode &Node);
  void FillRow(int Row);
  QString DisplayValue(int Row) const;
  void ApplyValue(int Row, const QString &Text);
  IXXMLNode FRoot;
  QPointer<QWidget> FControl;
  QList<IXXMLNode> FRows;
  TPropertyDialogs FDialogs;
  bool FUpdating = false;
};
