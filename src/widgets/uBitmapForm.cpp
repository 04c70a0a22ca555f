#include "uBitmapForm.h"

#include "uBitText.h"
#include "uErrors.h"

#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

TBitmapForm::TBitmapForm(QWidget *Parent) : QDialog(Parent) {
  setObjectName("BitmapForm");
  setWindowTitle(QStringLiteral("Битовая маска"));
  resize(261, 158);
  auto *layout = new QVBoxLayout(this);
  CheckListBox = new QListWidget(this);
  CheckListBox->setObjectName("CheckListBox");
  CheckListBox->setFlow(QListView::TopToBottom);
  CheckListBox->setWrapping(true);
  CheckListBox->setResizeMode(QListView::Adjust);
  layout->addWidget(CheckListBox);
  auto *buttons = new QHBoxLayout;
  BitBtn1 = new QPushButton(QStringLiteral("OK"), this);
  BitBtn1->setObjectName("BitBtn1");
  BitBtn1->setDefault(true);
  BitBtn2 = new QPushButton(QStringLiteral("Отмена"), this);
  BitBtn2->setObjectName("BitBtn2");
  buttons->addStretch();
  buttons->addWidget(BitBtn1);
  buttons->addWidget(BitBtn2);
  layout->addLayout(buttons);
  connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
  connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
}

QStringList TBitmapForm::Strings() const {
  QStringList s;
  for (int i = 0; i < CheckListBox->count(); ++i)
    s << CheckListBox->item(i)->text();
  return s;
}

void TBitmapForm::SetStrings(const QStringList &Items) {
  CheckListBox->clear();
  for (const QString &t : Items) {
    auto *item = new QListWidgetItem(t, CheckListBox);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Unchecked);
  }
}

QString TBitmapForm::Value() const {
  int bits = 0;
  for (int i = 0; i < CheckListBox->count(); ++i)
    if (CheckListBox->item(i)->checkState() == Qt::Checked) {
      if (i >= 16)
        throw EKvRange("range check error: " + std::to_string(i));
      bits |= 1 << i;
    }
  return BitsToText(bits, CheckListBox->count());
}

void TBitmapForm::SetValue(const QString &Text) {
  const int bits = TextToBits(Text) & 0xFFFF;
  for (int i = 0; i < CheckListBox->count(); ++i)
    CheckListBox->item(i)->setCheckState(i < 16 && (bits >> i) & 1 ? Qt::Checked : Qt::Unchecked);
}

void TBitmapForm::resizeEvent(QResizeEvent *Event) {
  QDialog::resizeEvent(Event);
  // One column of check boxes per 100 pixels of width.
  const int columns = std::max(1, width() / 100);
  CheckListBox->setGridSize(QSize(CheckListBox->viewport()->width() / columns, CheckListBox->fontMetrics().height() + 6));
}
