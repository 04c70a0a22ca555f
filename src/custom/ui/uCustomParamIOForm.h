#pragma once
// The dialog "Редактор наименований цепей": discrete inputs, output relays
// and LEDs of the base logic's descriptor; the full name is edited in place
// and written to the entry at once.
#include "uCustomUstavForm.h"

class TCustomParamIOForm : public TCustomNameForm {
  Q_OBJECT
public:
  explicit TCustomParamIOForm(QWidget *Parent = nullptr);
  void SetDescriptor(TDeviceDescriptor *Desc);

  TStringGrid *sgParam = nullptr;

protected:
  void SetName(int Row, const QString &Name) override;

private:
  std::vector<TCustomParamIORow> FRows;
};
