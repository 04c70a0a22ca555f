#include "uDeviceboardSetup.h"

TDeviceboardSetupForm::TDeviceboardSetupForm(QWidget *Parent)
    : TDesignerForm(Parent, {{"apHome", "", ""},
                             {"apGroupBox", "Группа", "TGroupBoxA"},
                             {"apLabel", "Текст", "TLabelA"},
                             {"apBitregGroup", "Дискретные сигналы", "TBitregGroupBox"},
                             {"apMeasure", "Измерение", "TMeasureLabeledEdit"},
                             {"apDateTime", "Дата, время", "TDateTimeEdit"},
                             {"apUstav", "Уставка", "TUstavPanel"}}) {
  setObjectName("DeviceboardSetupForm");
}

void TDeviceboardSetupForm::LoadFrom(QWidget *BoardPanel) { LoadControls(BoardPanel, false); }

void TDeviceboardSetupForm::ApplyTo(QWidget *BoardPanel) { StoreControls(BoardPanel); }
