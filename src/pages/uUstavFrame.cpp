#include "uUstavFrame.h"

TUstavFrame::TUstavFrame(QWidget *Parent)
    : TDescriptorGridFrame("UstavFrame", "sgUstav", Parent), sgUstav(FGrid) {}

void TUstavFrame::Init() {}

void TUstavFrame::ShowValues() {}

void TUstavFrame::Refresh() {}

void TUstavFrame::UpdateMeasureFactors() {}

void TUstavFrame::UpdateNames() {}
