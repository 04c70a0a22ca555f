#include "uCustomParamIOForm.h"

#include "uDeviceDescriptor.h"
#include "uStringGrid.h"

TCustomParamIOForm::TCustomParamIOForm(QWidget *Parent)
    : TCustomNameForm(Parent, "CustomParamIOForm", QStringLiteral("Редактор наименований цепей"),
                      QStringLiteral("Направление,Краткое,Полное")) {
  sgParam = Grid;
  sgParam->setObjectName(QStringLiteral("sgParam"));
}

void TCustomParamIOForm::SetDescriptor(TDeviceDescriptor *Desc) {
  FRows = CustomParamIORows(*Desc);
  QList<QStringList> texts;
  for (const TCustomParamIORow &r : FRows)
    texts.append({r.Direction, r.Entry->Value2, r.Entry->Value1});
  Fill(texts);
}

void TCustomParamIOForm::SetName(int Row, const QString &Name) { FRows[size_t(Row)].Entry->Value1 = Name; }
