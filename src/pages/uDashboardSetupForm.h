#pragma once
// The title panel designer ("Настройка"): the page's controls are copied onto
// the design surface, placed, moved, resized and edited there, and copied
// back on OK together with the page caption.
#include "uDesignerForm.h"

class TDashboardSetupForm : public TDesignerForm {
  Q_OBJECT
public:
  explicit TDashboardSetupForm(QWidget *Parent = nullptr);
  // The surface takes copies of SourcePanel's controls (at any depth
  // attached to the placer); the caption field shows Caption.
  void Prepare(QWidget *SourcePanel, const QString &Caption);
  // TargetPanel's controls are replaced by copies of the surface's; Caption
  // takes the caption field.
  void Apply(QWidget *TargetPanel, QString &Caption);
};
