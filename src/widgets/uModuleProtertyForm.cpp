#include "uModuleProtertyForm.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

TModuleProtertyForm::TModuleProtertyForm(QWidget *Parent)
    : QDialog(Parent), Label2(new QLabel(QStringLiteral("Модуль"), this)), eCaption(new QLineEdit(this)),
      OKBtn(new QPushButton(QStringLiteral("OK"), this)), CancelBtn(new QPushButton(QStringLiteral("Отмена"), this)) {
  setObjectName("ModuleProtertyForm");
  setWindowTitle(QStringLiteral("Свойства"));
  Label2->setObjectName("Label2");
  eCaption->setObjectName("eCaption");
  OKBtn->setObjectName("OKBtn");
  CancelBtn->setObjectName("CancelBtn");
  OKBtn->setDefault(true);
  auto *grid = new QGridLayout(this);
  grid->addWidget(Label2, 0, 0);
  grid->addWidget(eCaption, 0, 1, 1, 2);
  grid->addWidget(OKBtn, 1, 1);
  grid->addWidget(CancelBtn, 1, 2);
  connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
  connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
}
