#pragma once
// The dialog "Редактор наименований уставок": the custom setpoints of the
// base logic's descriptor with their level, short name and name; the name
// column is edited in place and written to the setpoint at once.
#include "uCustomNames.h"

#include <QDialog>

class QStatusBar;
class TStringGrid;

// What both name dialogs share: a grid of 3 columns (94, 152, 365) with a
// header row from Header (comma text), only the last column selectable and
// editable, each edit handed to SetName at once; a status bar below.
class TCustomNameForm : public QDialog {
  Q_OBJECT
public:
  TCustomNameForm(QWidget *Parent, const char *Name, const QString &Caption, const QString &Header);
  TStringGrid *Grid = nullptr;
  QStatusBar *StatusBar = nullptr;

protected:
  // Rows after the header; Texts[Row] is (column 0, short name, name).
  void Fill(const QList<QStringList> &Texts);
  virtual void SetName(int Row, const QString &Name) = 0;

private:
  int FRows = 0;
  bool FFilling = false;
  // The header row's titles as made (Russian).
  QStringList FTitles;
};

class TCustomUstavForm : public TCustomNameForm {
  Q_OBJECT
public:
  explicit TCustomUstavForm(QWidget *Parent = nullptr);
  void SetDescriptor(TDeviceDescriptor *Desc);

  TStringGrid *sgUstav = nullptr;

protected:
  void SetName(int Row, const QString &Name) override;

private:
  std::vector<TCustomUstavRow> FRows;
};
