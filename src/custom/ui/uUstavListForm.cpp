#include "uUstavListForm.h"

#include "uDeviceDescriptor.h"
#include "uSchemaModule.h"
#include "uTranslateTexts.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

void AddDialogButtons(QDialog *D, QBoxLayout *Main, QPushButton *&Ok, QPushButton *&Cancel, QPushButton **Help) {
  auto *row = new QHBoxLayout;
  Ok = new QPushButton(QStringLiteral("OK"));
  Cancel = new QPushButton(QStringLiteral("Отмена"));
  Ok->setDefault(true);
  row->addStretch();
  row->addWidget(Ok);
  row->addWidget(Cancel);
  if (Help) {
    *Help = new QPushButton(QStringLiteral("Справка"));
    (*Help)->setVisible(false);
    row->addWidget(*Help);
  }
  Main->addLayout(row);
  QObject::connect(Ok, &QPushButton::clicked, D, &QDialog::accept);
  QObject::connect(Cancel, &QPushButton::clicked, D, &QDialog::reject);
}

TOKBottomDlg::TOKBottomDlg(QWidget *Parent) : QDialog(Parent) {
  setObjectName("OKBottomDlg");
  setWindowTitle(QStringLiteral("Диалог"));
  auto *main = new QVBoxLayout(this);
  FClient = new QWidget;
  main->addWidget(FClient, 1);
  Bevel1 = new QFrame;
  Bevel1->setObjectName("Bevel1");
  Bevel1->setFrameShape(QFrame::HLine);
  Bevel1->setFrameShadow(QFrame::Sunken);
  main->addWidget(Bevel1);
  AddDialogButtons(this, main, OKBtn, CancelBtn, &HelpBtn);
  OKBtn->setObjectName("OKBtn");
  CancelBtn->setObjectName("CancelBtn");
  HelpBtn->setObjectName("HelpBtn");
  TranslateWhenShown(this);
}

void TChooserList::FillUstavs(const TDeviceDescriptor &Desc) {
  Entries.clear();
  for (const auto &u : Desc.FUstavs)
    if (u->Custom)
      Entries.append({u->String, u.get(), false});
}

void TChooserList::FillParams(const TDeviceDescriptor &Desc) {
  Entries.clear();
  for (const auto &p : Desc.FParams)
    Entries.append({p->String, p.get(), false});
}

void TChooserList::MarkUsed(const TModule &Module) {
  QList<const TDDUstav *> used;
  for (const TAbstract *a : Module.AbstractList.Items())
    if (const auto *e = dynamic_cast<const TElement *>(a); e && e->Func)
      for (const TElementRef &r : e->Refs)
        if (r.Ustav)
          used << r.Ustav;
  for (TChooserEntry &entry : Entries)
    entry.Used = used.contains(static_cast<const TDDUstav *>(entry.Object));
}

TDDObject *TChooserList::Chosen(int Index) const {
  return Index >= 0 && Index < Entries.size() ? Entries[Index].Object : nullptr;
}

TChooserForm::TChooserForm(QWidget *Parent) : TOKBottomDlg(Parent) {
  auto *l = new QVBoxLayout(FClient);
  l->setContentsMargins(0, 0, 0, 0);
  ListView = new QTreeWidget;
  ListView->setObjectName("ListView");
  ListView->setRootIsDecorated(false);
  ListView->setHeaderLabels({QStringLiteral("Наименование уставки")});
  ListView->header()->setSectionResizeMode(QHeaderView::Stretch);
  l->addWidget(ListView);
  connect(ListView, &QTreeWidget::itemDoubleClicked, this, &QDialog::accept);
}

void TChooserForm::ShowList() {
  ListView->clear();
  for (const TChooserEntry &e : List.Entries) {
    auto *item = new QTreeWidgetItem(ListView, {e.Caption});
    // A used setpoint stays choosable; the colour only tells it is bound already.
    if (e.Used)
      item->setBackground(0, QColor(0xCC, 0xFF, 0xCC));
  }
}

TDDObject *TChooserForm::Selected() const {
  QTreeWidgetItem *item = ListView->currentItem();
  return item && item->isSelected() ? List.Chosen(ListView->indexOfTopLevelItem(item)) : nullptr;
}

TUstavListForm::TUstavListForm(QWidget *Parent) : TChooserForm(Parent) {
  setObjectName("UstavListForm");
  setWindowTitle(QStringLiteral("Выбор"));
}

void TUstavListForm::SetDescriptor(const TDeviceDescriptor &Desc) {
  List.FillUstavs(Desc);
  ShowList();
}

TParamListForm::TParamListForm(QWidget *Parent) : TChooserForm(Parent) { setObjectName("ParamListForm"); }

void TParamListForm::SetDescriptor(const TDeviceDescriptor &Desc) {
  List.FillParams(Desc);
  ShowList();
}
