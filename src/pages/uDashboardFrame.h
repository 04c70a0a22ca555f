#pragma once
// The title panel page ("Текущие значения"): the main window's side of it.
// The page keeps its file name, the descriptor it is given and whether its
// layout has unsaved changes; drawing and reading of its controls belong to
// the page's own unit.
#include <QString>
#include <QWidget>

class TSimpleDeviceDescriptor;
class QScrollArea;

class TkvDashboardFrame : public QWidget {
  Q_OBJECT
public:
  explicit TkvDashboardFrame(QWidget *Parent = nullptr);

  // Loads the panel from FileName (kept as the panel's current file).
  void Init(const QString &FileName);
  // Keeps the run-time descriptor (owned by the main window).
  void SetDescriptor(TSimpleDeviceDescriptor *Descriptor);
  TSimpleDeviceDescriptor *Descriptor() const { return FDescriptor; }
  // Pulses the virtual inputs when asked (one poll timer tick).
  void PulseTick();
  // Reads the panel's values from the device.
  void Refresh();
  // Saves the panel to FileName, or to its current file when empty.
  void Save(const QString &FileName);
  bool IsModified() const { return FModified; }
  void SetModified(bool Value) { FModified = Value; }
  QString FileName() const { return FFileName; }
  void UpdateMeasureFactors();
  void UpdateBitNames();
  void SetPrimaryValues(bool Value) { FPrimaryValues = Value; }

  QScrollArea *Panel = nullptr;

private:
  QString FFileName;
  TSimpleDeviceDescriptor *FDescriptor = nullptr;
  bool FModified = false;
  bool FPrimaryValues = false;
};
