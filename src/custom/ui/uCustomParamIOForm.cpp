#include "uCustomParamIOForm.h"

#include "uCustomUstavForm.h"
#include "uDeviceDescriptor.h"
#include "uStringGrid.h"

TCustomParamIOForm::TCustomParamIOForm(QWidget *Parent) : QDialog(Parent) {
  setObjectName(QStringLiteral("CustomParamIOForm"));
  setWindowTitle(QStringLiteral("Редактор наименований цепей"));
  sgParam = NewCustomNameGrid(this, QStringLiteral("Направление,Краткое,Полное"), &StatusBar);
  sgParam->setObjectName(QStringLiteral("sgParam"));
  connect(sgParam, &QTableWidget::itemChanged, this, [this](QTableWidgetItem *Item) {
    const int row = Item->row() - 1;
    if (!FFilling && Item->column() == 2 && row >= 0 && row < int(FRows.size()))
      FRows[size_t(row)].Entry->Value1 = Item->text();
  });
}

void TCustomParamIOForm::SetDescriptor(TDeviceDescriptor *Desc) {
  FFilling = true;
  FRows = CustomParamIORows(*Desc);
  sgParam->setRowCount(1 + int(FRows.size()));
  for (size_t i = 0; i < FRows.size(); ++i)
    SetCustomNameRow(sgParam, int(i) + 1, FRows[i].Direction, FRows[i].Entry->Value2, FRows[i].Entry->Value1);
  FFilling = false;
}
