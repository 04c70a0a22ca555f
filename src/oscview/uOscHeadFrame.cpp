#include "uOscHeadFrame.h"

#include "uDescriptorXml.h"
#include "uSimpleDeviceDescriptor.h"
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

void TOscHeadFrame::UpdateCcValues() {
  if (!FDescriptor || !FDescriptor->Root)
    return;
  const IXXMLNodeList items = FDescriptor->Root->SelectNodes(QString("%1/%2[%3]").arg(DX_MEASURE, DX_MEASURE_ITEM, DX_CCADDR));
  for (int i = 0; i < items->GetCount(); ++i) {
    const IXXMLNode item = items->GetItem(i);
    bool ok = false;
    const uint addr = item->GetStrNode(DX_CCADDR).trimmed().toUInt(&ok);
    // An address that is no 16-bit number finds no calibration record.
    const uint16_t value = ok && addr <= 0xFFFF ? FDescriptor->FindCalibrationValue(uint16_t(addr)) : 0;
    item->SetIntNode(DX_CCVALUE, value);
  }
}

void TOscHeadFrame::ReRead() {}
