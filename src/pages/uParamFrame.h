#pragma once
// The Параметры page: the main window's side of it. The page keeps the
// descriptor it is given; its grid, reading and writing belong to the page's
// own unit.
#include "uDescriptorGridFrame.h"

class TkvParamFrame : public TDescriptorGridFrame {
  Q_OBJECT
public:
  explicit TkvParamFrame(QWidget *Parent = nullptr);

  // One-time set-up at start.
  void Init();
  // Shows the values of the register image (called by name from IO chains).
  Q_INVOKABLE void ShowValues();
  void Refresh();

  TStringGrid *const sgParam;
};
