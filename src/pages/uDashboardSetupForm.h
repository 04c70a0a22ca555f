#pragma once
// The title panel designer: what the main window gives it.
#include <QDialog>

class TSimpleDeviceDescriptor;

class TDashboardSetupForm : public QDialog {
  Q_OBJECT
public:
  explicit TDashboardSetupForm(QWidget *Parent = nullptr);
  // Keeps the run-time descriptor (owned by the main window).
  void SetDescriptor(TSimpleDeviceDescriptor *Descriptor) { FDescriptor = Descriptor; }
  TSimpleDeviceDescriptor *Descriptor() const { return FDescriptor; }

private:
  TSimpleDeviceDescriptor *FDescriptor = nullptr;
};
