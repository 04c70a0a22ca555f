#include "uParamFrame.h"

#include "uStringGrid.h"

#include <QVBoxLayout>

TkvParamFrame::TkvParamFrame(QWidget *Parent) : QWidget(Parent) {
  setObjectName("ParamFrame");
  auto *layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  sgParam = new TStringGrid(4, 1, 0, 1, this);
  sgParam->setObjectName("sgParam");
  layout->addWidget(sgParam);
}

void TkvParamFrame::Init() {}

void TkvParamFrame::Clear() {
  FRoot.reset();
  sgParam->setRowCount(1);
}

void TkvParamFrame::SetDescriptor(const IXXMLNode &Root) { FRoot = Root; }

void TkvParamFrame::ShowValues() {}

void TkvParamFrame::Refresh() {}
