#include "uDescriptorGridFrame.h"

#include "uStringGrid.h"

#include <QVBoxLayout>

TDescriptorGridFrame::TDescriptorGridFrame(const QString &FrameName, const QString &GridName, QWidget *Parent)
    : QWidget(Parent), FGrid(new TStringGrid(4, 1, 0, 1, this)) {
  setObjectName(FrameName);
  auto *layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  FGrid->setObjectName(GridName);
  layout->addWidget(FGrid);
}

void TDescriptorGridFrame::Clear() {
  FRoot.reset();
  FGrid->setRowCount(1);
}

void TDescriptorGridFrame::SetDescriptor(const IXXMLNode &Root) { FRoot = Root; }
