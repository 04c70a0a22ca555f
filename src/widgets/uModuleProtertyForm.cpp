#include "uModuleProtertyForm.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

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
  FInterface = new QWidget(this);
  auto *lists = new QGridLayout(FInterface);
  lists->setContentsMargins(0, 0, 0, 0);
  int col = 0;
  for (QTreeWidget **lv : {&lvInput, &lvOutput}) {
    *lv = new QTreeWidget;
    (*lv)->setRootIsDecorated(false);
    (*lv)->setHeaderLabels({QStringLiteral("Наименование"), QStringLiteral("Id"), QStringLiteral("pin")});
    (*lv)->setColumnWidth(0, 200);
    lists->addWidget(new QLabel(col ? QStringLiteral("Выходной интерфейс") : QStringLiteral("Входной интерфейс")), 0,
                     col);
    lists->addWidget(*lv, 1, col++);
  }
  lvInput->setObjectName("lvInput");
  lvOutput->setObjectName("lvOutput");
  SpeedButtonColor = new QPushButton(QStringLiteral("Цвет линий"));
  SpeedButtonColor->setObjectName("SpeedButtonColor");
  PanelColor = new QLabel;
  PanelColor->setObjectName("PanelColor");
  PanelColor->setFixedSize(40, 20);
  PanelColor->setAutoFillBackground(true);
  lists->addWidget(SpeedButtonColor, 2, 0, Qt::AlignLeft);
  lists->addWidget(PanelColor, 2, 1, Qt::AlignLeft);
  FInterface->setVisible(false);
  grid->addWidget(FInterface, 1, 0, 1, 3);
  grid->addWidget(OKBtn, 2, 1);
  grid->addWidget(CancelBtn, 2, 2);
  connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
  connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
}

void TModuleProtertyForm::ShowInterface(const QList<QStringList> &Inputs, const QList<QStringList> &Outputs,
                                        uint32_t Color) {
  for (auto [lv, rows] : {std::pair{lvInput, &Inputs}, std::pair{lvOutput, &Outputs}}) {
    lv->clear();
    for (const QStringList &r : *rows)
      new QTreeWidgetItem(lv, r);
  }
  SetPanelColor(Color);
  FInterface->setVisible(true);
}

void TModuleProtertyForm::SetPanelColor(uint32_t Color) {
  QPalette p = PanelColor->palette();
  p.setColor(QPalette::Window, QColor(Color & 0xFF, (Color >> 8) & 0xFF, (Color >> 16) & 0xFF));
  PanelColor->setPalette(p);
}
