#pragma once
// The dialog "Редактор наименований уставок": the custom setpoints of the
// base logic's descriptor with their level, short name and name; the name
// column is edited in place and written to the setpoint at once.
#include "uCustomNames.h"

#include <QDialog>

class QStatusBar;
class TStringGrid;

// The grid both name dialogs share: 3 columns (94, 152, 365), a header row
// from Header (comma text), only the last column selectable and editable.
TStringGrid *NewCustomNameGrid(QDialog *Owner, const QString &Header, QStatusBar **StatusBar);
// Row's cells; the name cell is editable.
void SetCustomNameRow(TStringGrid *Grid, int Row, const QString &Col0, const QString &Short, const QString &Name);

class TCustomUstavForm : public QDialog {
  Q_OBJECT
public:
  explicit TCustomUstavForm(QWidget *Parent = nullptr);
  void SetDescriptor(TDeviceDescriptor *Desc);

  TStringGrid *sgUstav = nullptr;
  QStatusBar *StatusBar = nullptr;

private:
  std::vector<TCustomUstavRow> FRows;
  bool FFilling = false;
};
