#include "uBitListDialog.h"

#include "uControls.h"
#include "uMultiLingual.h"

#include <QDialogButtonBox>
#include <QListWidget>
#include <QScreen>
#include <QVBoxLayout>

TBitListDialog::TBitListDialog(QWidget *Parent) : QDialog(Parent), CheckListBox(new QListWidget(this)) {
  setObjectName("BitListDialog");
  setWindowTitle(QStringLiteral("BitListDialog"));
  auto *layout = new QVBoxLayout(this);
  layout->addWidget(CheckListBox);
  auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(CheckListBox, &QListWidget::itemChanged, this, &TBitListDialog::ItemChanged);
}

void TBitListDialog::LoadFrom(const TBitList &List) {
  FUpdating = true;
  CheckListBox->clear();
  auto add = [this](const QString &Text, bool Checked) {
    auto *item = new QListWidgetItem(Text, CheckListBox);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(Checked ? Qt::Checked : Qt::Unchecked);
  };
  add(MultiLingual().Translate(QStringLiteral("Все")), false);
  for (int k = 0; k < List.Count(); ++k)
    add(List.Item(k)->Name(), List.Item(k)->Shown);
  FUpdating = false;
}

void TBitListDialog::ApplyTo(TBitList &List) const {
  QString bitmap;
  for (int k = 0; k < List.Count(); ++k) {
    const QListWidgetItem *item = CheckListBox->item(k + 1);
    bitmap += item && item->checkState() == Qt::Checked ? '1' : '0';
  }
  List.setBitmap(bitmap);
}

void TBitListDialog::ItemChanged(QListWidgetItem *Item) {
  if (FUpdating)
    return;
  FUpdating = true;
  if (CheckListBox->row(Item) == 0) {
    for (int i = 1; i < CheckListBox->count(); ++i)
      CheckListBox->item(i)->setCheckState(Item->checkState());
  } else if (CheckListBox->count() > 0) {
    CheckListBox->item(0)->setCheckState(Qt::Unchecked);
  }
  FUpdating = false;
}

void TBitListDialog::PlaceBeside(const QWidget *Form) {
  const QRect f = Form->frameGeometry();
  const QScreen *screen = Form->screen();
  const int screenRight = screen ? screen->geometry().right() : f.right() + width();
  move(f.right() + width() > screenRight ? f.left() - width() : f.right() + 1, f.top());
}
