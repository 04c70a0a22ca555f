#include "uParamFrame.h"

TkvParamFrame::TkvParamFrame(QWidget *Parent)
    : TDescriptorGridFrame("ParamFrame", "sgParam", Parent), sgParam(FGrid) {}

void TkvParamFrame::Init() {}

void TkvParamFrame::ShowValues() {}

void TkvParamFrame::Refresh() {}
