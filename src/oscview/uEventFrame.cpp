#include "uEventFrame.h"

#include "uStringGrid.h"

#include <QHBoxLayout>
#include <QListWidget>
#include <QVBoxLayout>

Tkv2EventFrame::Tkv2EventFrame(QWidget *Parent) : QWidget(Parent) {
  setObjectName("EventFrame");
  auto *layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  auto *side = new QVBoxLayout;
  clbEventLevel = new QListWidget(this);
  clbEventLevel->setObjectName("clbEventLevel");
  clbSignalFilter = new QListWidget(this);
  clbSignalFilter->setObjectName("clbSignalFilter");
  side->addWidget(clbEventLevel);
  side->addWidget(clbSignalFilter);
  sgEvents = new TStringGrid(3, 1, 0, 1, this);
  sgEvents->setObjectName("sgEvents");
  layout->addWidget(sgEvents, 4);
  layout->addLayout(side, 1);
}

void Tkv2EventFrame::Init() {}

void Tkv2EventFrame::Clear() { sgEvents->setRowCount(1); }

void Tkv2EventFrame::SetDescriptor(const IXXMLNode &Root) { FRoot = Root; }

void Tkv2EventFrame::ReadEventLog() {}

void Tkv2EventFrame::RefreshMeasureFactors() {}
