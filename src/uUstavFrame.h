#pragma once
// The Уставки page: the main window's side of it. The page keeps the
// descriptor it is given; its grid, reading and writing belong to the page's
// own unit.
#include "ixml.h"

#include <QWidget>

class TStringGrid;

class TUstavFrame : public QWidget {
  Q_OBJECT
public:
  explicit TUstavFrame(QWidget *Parent = nullptr);

  // One-time set-up at start.
  void Init();
  // Forgets the shown values (identification starts again).
  void Clear();
  // Keeps the root of the run-time descriptor and rebuilds the page from it.
  void SetDescriptor(const IXXMLNode &Root);
  const IXXMLNode &Descriptor() const { return FRoot; }
  // Shows the values of the register image (called by name from IO chains).
  Q_INVOKABLE void ShowValues();
  void Refresh();
  void UpdateMeasureFactors();
  void UpdateNames();
  void SetPrimaryValues(bool Value) { FPrimaryValues = Value; }

  TStringGrid *sgUstav = nullptr;

private:
  IXXMLNode FRoot;
  bool FPrimaryValues = false;
};
