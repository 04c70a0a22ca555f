#include "uCustomParamIOForm.h"

#include "uDeviceDescriptor.h"
#include "uMultiLingual.h"
#include "uStringGrid.h"

namespace {
// A circuit's direction in the interface's language. "Выход" alone is the
// table's "Exit" of the File menu: the two pin words come from the numbered
// pin titles of the function dialog, the number left out.
QString DirectionText(const QString &Direction) {
  const QString numbered = Direction + QStringLiteral(" %1");
  const QString local = MultiLingual().FromRussian(numbered);
  return local != numbered ? local.arg(QString()).trimmed() : MultiLingual().FromRussian(Direction);
}
} // namespace

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
    texts.append({DirectionText(r.Direction), r.Entry->Value2, r.Entry->Value1});
  Fill(texts);
}

void TCustomParamIOForm::SetName(int Row, const QString &Name) { FRows[size_t(Row)].Entry->Value1 = Name; }
