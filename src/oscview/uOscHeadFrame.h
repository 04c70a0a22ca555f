#pragma once
// The oscillogram directory page ("Осциллограммы"): the main window's side of
// it, and the calibration values it puts into the run-time descriptor.
#include <QWidget>

class TSimpleDeviceDescriptor;
class TStringGrid;

class TOscHeadFrame : public QWidget {
  Q_OBJECT
public:
  explicit TOscHeadFrame(QWidget *Parent = nullptr);

  // One-time set-up at start.
  void Init();
  // Frees the directory rows (identification starts again).
  void Clear();
  // Keeps the run-time descriptor (owned by the main window).
  void SetDescriptor(TSimpleDeviceDescriptor *Descriptor);
  TSimpleDeviceDescriptor *Descriptor() const { return FDescriptor; }
  // For every measure item of the descriptor with a `ccaddr` child, sets (adds
  // or replaces) its child `ccvalue` to the calibration value found for that
  // address. Nothing without a descriptor.
  void UpdateCcValues();
  void ReRead();

  TStringGrid *sgOsc = nullptr;

private:
  TSimpleDeviceDescriptor *FDescriptor = nullptr;
};
