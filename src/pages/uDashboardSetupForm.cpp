#include "uDashboardSetupForm.h"

#include <QLineEdit>

TDashboardSetupForm::TDashboardSetupForm(QWidget *Parent)
    : TDesignerForm(Parent, {{"apHome", "", ""},
                             {"apGroupBox", "Группа", "QGroupBox", false},
                             {"apLabel", "Текст", "TLabelA"},
                             {"apBitregGroup", "Дискретные сигналы", "TBitregGroupBox"},
                             {"apMeasure", "Измерение", "TMeasureLabeledEdit"},
                             {"apDateTime", "Дата, время", "TDateTimeEdit"},
                             {"apEventView", "Список событий", "TEventView"},
                             {"apParamEnum", "Параметр перечисляемый", "TParamEnum"},
                             {"apUstav", "Уставка", "TUstavPanel"}}) {
  setObjectName("DashboardSetupForm");
}

void TDashboardSetupForm::Prepare(QWidget *SourcePanel, const QString &Caption) {
  LoadControls(SourcePanel, true);
  EditCaption->setText(Caption);
}

void TDashboardSetupForm::Apply(QWidget *TargetPanel, QString &Caption) {
  StoreControls(TargetPanel);
  Caption = EditCaption->text();
}
