#pragma once
// The event journal page ("Журнал событий"): the main window's side of it.
// The page keeps the descriptor it is given; decoding and showing the
// device's journal belong to the page's own unit.
#include "ixml.h"

#include <QWidget>

class QListWidget;
class TStringGrid;

class Tkv2EventFrame : public QWidget {
  Q_OBJECT
public:
  explicit Tkv2EventFrame(QWidget *Parent = nullptr);

  // One-time set-up at start.
  void Init();
  // Empties the shown grid; the read records stay until the next read.
  void Clear();
  // Keeps the root of the run-time descriptor.
  void SetDescriptor(const IXXMLNode &Root);
  const IXXMLNode &Descriptor() const { return FRoot; }
  void ReadEventLog();
  void SetPrimaryValues(bool Value) { FPrimaryValues = Value; }
  void RefreshMeasureFactors();

  // Level list and signal filter: the main window enables them only while the link is idle.
  QListWidget *clbEventLevel = nullptr;
  QListWidget *clbSignalFilter = nullptr;
  TStringGrid *sgEvents = nullptr;

private:
  IXXMLNode FRoot;
  bool FPrimaryValues = false;
};
