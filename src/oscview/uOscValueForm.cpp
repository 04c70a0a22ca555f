#include "uOscValueForm.h"

#include "uOscFrame.h"
#include "uPlacement.h"
#include "uWindowPlacement.h"

#include <QCheckBox>
#include <QHeaderView>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {
TOscValueForm *GInstance = nullptr;
const QString BoundsKey = QStringLiteral("oscvalue");
} // namespace

TOscValueForm::TOscValueForm(QWidget *Parent) : QDialog(Parent, Qt::Tool | Qt::WindowStaysOnTopHint) {
  setObjectName(QStringLiteral("OscValueForm"));
  setWindowTitle(QString::fromUtf8("Значения"));
  setModal(false);
  auto *L = new QVBoxLayout(this);
  StringGrid = new QTableWidget(1, 4, this);
  StringGrid->setObjectName(QStringLiteral("StringGrid"));
  StringGrid->setHorizontalHeaderLabels(QString::fromUtf8("Канал \\ Время,Значение1,Значение2,RMS").split(','));
  StringGrid->verticalHeader()->hide();
  StringGrid->setWordWrap(false);
  L->addWidget(StringGrid);
  resize(360, 240);
  GInstance = this;
}

TOscValueForm::~TOscValueForm() {
  if (GInstance == this)
    GInstance = nullptr;
}

TOscValueForm *TOscValueForm::Instance() { return GInstance; }

void TOscValueForm::SetOscFrame(TkvOscFrame *Frame) { FFrame = Frame; }

TkvOscFrame *TOscValueForm::OscFrame() const { return FFrame.data(); }

void TOscValueForm::SetRowCount(int Rows) { StringGrid->setRowCount(std::max(Rows - 1, 1)); }

void TOscValueForm::SetRow(int Row, const QString &Name, const QString &Value1, const QString &Value2,
                           const QString &Rms) {
  // Row 0 of the design is the header; the table's own header holds it here.
  const int R = Row - 1;
  if (R < 0)
    return;
  if (StringGrid->rowCount() <= R)
    StringGrid->setRowCount(R + 1);
  const QString Texts[4] = {Name, Value1, Value2, Rms};
  for (int c = 0; c < 4; ++c) {
    if (!StringGrid->item(R, c))
      StringGrid->setItem(R, c, new QTableWidgetItem);
    StringGrid->item(R, c)->setText(Texts[c]);
    // Names and values whole: a column widens to its longest text.
    const int Need = StringGrid->fontMetrics().horizontalAdvance(Texts[c]) + 12;
    if (StringGrid->columnWidth(c) < Need)
      StringGrid->setColumnWidth(c, Need);
  }
}

void TOscValueForm::showEvent(QShowEvent *Event) {
  RestoreWindowBounds(BoundsKey, this);
  QDialog::showEvent(Event);
}

void TOscValueForm::hideEvent(QHideEvent *Event) {
  if (FFrame && FFrame->cbOscValueForm->isChecked()) {
    const QSignalBlocker B(FFrame->cbOscValueForm);
    FFrame->cbOscValueForm->setChecked(false);
  }
  SaveControlBounds(BoundsKey, this);
  QDialog::hideEvent(Event);
}
