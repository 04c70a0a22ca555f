#include "uUstavFrame.h"

#include "uStringGrid.h"

#include <QVBoxLayout>

TUstavFrame::TUstavFrame(QWidget *Parent) : QWidget(Parent) {
  setObjectName("UstavFrame");
  auto *layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  sgUstav = new TStringGrid(4, 1, 0, 1, this);
  sgUstav->setObjectName("sgUstav");
  layout->addWidget(sgUstav);
}

void TUstavFrame::Init() {}

void TUstavFrame::Clear() {
  FRoot.reset();
  sgUstav->setRowCount(1);
}

void TUstavFrame::SetDescriptor(const IXXMLNode &Root) { FRoot = Root; }

void TUstavFrame::ShowValues() {}

void TUstavFrame::Refresh() {}

void TUstavFrame::UpdateMeasureFactors() {}

void TUstavFrame::UpdateNames() {}
