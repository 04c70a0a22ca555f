#pragma once
// The dialog "Редактор наименований цепей": discrete inputs, output relays
// and LEDs of the base logic's descriptor; the full name is edited in place
// and written to the entry at once.
#include "uCustomNames.h"

#include <QDialog>

class QStatusBar;
class TStringGrid;

class TCustomParamIOForm : public QDialog {
  Q_OBJECT
public:
  explicit TCustomParamIOForm(QWidget *Parent = nullptr);
  void SetDescriptor(TDeviceDescriptor *Desc);

  TStringGrid *sgParam = nullptr;
  QStatusBar *StatusBar = nullptr;

private:
  std::vector<TCustomParamIORow> FRows;
  bool FFilling = false;
};
