#include "uCustomUstavForm.h"

#include "uDeviceDescriptor.h"
#include "uStringGrid.h"

#include <QStatusBar>
#include <QVBoxLayout>

TStringGrid *NewCustomNameGrid(QDialog *Owner, const QString &Header, QStatusBar **StatusBar) {
  auto *grid = new TStringGrid(3, 1, 0, 1, Owner);
  const QStringList titles = Header.split(QLatin1Char(','));
  const int widths[] = {94, 152, 365};
  for (int c = 0; c < 3; ++c) {
    grid->SetCells(c, 0, titles.value(c));
    grid->setColumnWidth(c, widths[c]);
  }
  grid->setEditTriggers(QAbstractItemView::AllEditTriggers);
  grid->setSelectionMode(QAbstractItemView::SingleSelection);
  *StatusBar = new QStatusBar(Owner);
  auto *layout = new QVBoxLayout(Owner);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(grid);
  layout->addWidget(*StatusBar);
  Owner->resize(94 + 152 + 365 + 30, 320);
  return grid;
}

void SetCustomNameRow(TStringGrid *Grid, int Row, const QString &Col0, const QString &Short, const QString &Name) {
  const QString texts[] = {Col0, Short, Name};
  for (int c = 0; c < 3; ++c) {
    auto *item = new QTableWidgetItem(texts[c]);
    // Only the name can be selected, so only the name is edited.
    item->setFlags(c == 2 ? Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable : Qt::ItemIsEnabled);
    Grid->setItem(Row, c, item);
  }
}

TCustomUstavForm::TCustomUstavForm(QWidget *Parent) : QDialog(Parent) {
  setObjectName(QStringLiteral("CustomUstavForm"));
  setWindowTitle(QStringLiteral("Редактор наименований уставок"));
  sgUstav = NewCustomNameGrid(this, QStringLiteral("Уровень,Краткое,Полное"), &StatusBar);
  sgUstav->setObjectName(QStringLiteral("sgUstav"));
  connect(sgUstav, &QTableWidget::itemChanged, this, [this](QTableWidgetItem *Item) {
    const int row = Item->row() - 1;
    if (!FFilling && Item->column() == 2 && row >= 0 && row < int(FRows.size()))
      FRows[size_t(row)].Ustav->String = Item->text();
  });
}

void TCustomUstavForm::SetDescriptor(TDeviceDescriptor *Desc) {
  FFilling = true;
  FRows = CustomUstavRows(*Desc);
  sgUstav->setRowCount(1 + int(FRows.size()));
  for (size_t i = 0; i < FRows.size(); ++i)
    SetCustomNameRow(sgUstav, int(i) + 1, FRows[i].Level, FRows[i].Ustav->ShortString, FRows[i].Ustav->String);
  FFilling = false;
}
