#pragma once
// The device board designer ("Настройка") of the board on show.
#include "uDesignerForm.h"

class TDeviceboardSetupForm : public TDesignerForm {
  Q_OBJECT
public:
  explicit TDeviceboardSetupForm(QWidget *Parent = nullptr);
  // The surface takes copies of the board's controls; those directly on it are attached.
  void LoadFrom(QWidget *BoardPanel);
  // The board's controls are replaced by copies of the surface's.
  void ApplyTo(QWidget *BoardPanel);
};
