#pragma once
// The Уставки page: the main window's side of it. The page keeps the
// descriptor it is given; its grid, reading and writing belong to the page's
// own unit.
#include "uDescriptorGridFrame.h"

class TUstavFrame : public TDescriptorGridFrame {
  Q_OBJECT
public:
  explicit TUstavFrame(QWidget *Parent = nullptr);

  // One-time set-up at start.
  void Init();
  // Shows the values of the register image (called by name from IO chains).
  Q_INVOKABLE void ShowValues();
  void Refresh();
  void UpdateMeasureFactors();
  void UpdateNames();
  void SetPrimaryValues(bool Value) { FPrimaryValues = Value; }

  TStringGrid *const sgUstav;

private:
  bool FPrimaryValues = false;
};
