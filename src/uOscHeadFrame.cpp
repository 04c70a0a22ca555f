#include "uOscHeadFrame.h"

#include "uStringGrid.h"

#include <QVBoxLayout>

TOscHeadFrame::TOscHeadFrame(QWidget *Parent) : QWidget(Parent) {
  setObjectName("OscHeadFrame");
  auto *layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  sgOsc = new TStringGrid(4, 1, 0, 1, this);
  sgOsc->setObjectName("sgOsc");
  layout->addWidget(sgOsc);
}

void TOscHeadFrame::Init() {}

void TOscHeadFrame::Clear() { sgOsc->setRowCount(1); }

void TOscHeadFrame::SetDescriptor(TSimpleDeviceDescriptor *Descriptor) { FDescriptor = Descriptor; }

void TOscHeadFrame::UpdateCcValues() {}

void TOscHeadFrame::ReRead() {}
