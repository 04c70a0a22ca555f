#pragma once
// The Параметры page: the main window's side of it. The page keeps the
// descriptor it is given; its grid, reading and writing belong to the page's
// own unit.
#include "ixml.h"

#include <QWidget>

class TStringGrid;

class TkvParamFrame : public QWidget {
  Q_OBJECT
public:
  explicit TkvParamFrame(QWidget *Parent = nullptr);

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

  TStringGrid *sgParam = nullptr;

private:
  IXXMLNode FRoot;
};
