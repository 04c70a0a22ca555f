#include "uDashboardFrame.h"

#include <QScrollArea>
#include <QVBoxLayout>

TkvDashboardFrame::TkvDashboardFrame(QWidget *Parent) : QWidget(Parent) {
  setObjectName("DashboardFrame");
  auto *layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  Panel = new QScrollArea(this);
  Panel->setObjectName("Panel");
  Panel->setBackgroundRole(QPalette::Base);
  layout->addWidget(Panel);
}

void TkvDashboardFrame::Init(const QString &FileName) {
  FFileName = FileName;
  FModified = false;
}

void TkvDashboardFrame::SetDescriptor(TSimpleDeviceDescriptor *Descriptor) { FDescriptor = Descriptor; }

void TkvDashboardFrame::PulseTick() {}

void TkvDashboardFrame::Refresh() {}

void TkvDashboardFrame::Save(const QString &FileName) {
  if (!FileName.isEmpty())
    FFileName = FileName;
  FModified = false;
}

void TkvDashboardFrame::UpdateMeasureFactors() {}

void TkvDashboardFrame::UpdateBitNames() {}
