#include "uModulePropertyFill.h"

#include "uModuleProtertyForm.h"
#include "uSchemaModule.h"

#include <QLabel>
#include <QLineEdit>

QList<QStringList> ModuleInterfaceRows(const TModule &Module, bool Output) {
  QList<QStringList> rows;
  for (const TElement *e : Output ? Module.OutintList : Module.InintList)
    rows << (e ? QStringList{e->Caption, QString::number(e->Id), QString::number(e->Gid)}
               : QStringList{QStringLiteral("-")});
  return rows;
}

void FillPropertyForm(TModuleProtertyForm &Form, const TModule &Module) {
  Form.Label2->setText(QStringLiteral("Наименование модуля"));
  Form.eCaption->setText(Module.Caption);
  Form.ShowInterface(ModuleInterfaceRows(Module, false), ModuleInterfaceRows(Module, true), Module.PenColor);
}
