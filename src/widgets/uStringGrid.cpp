#include "uStringGrid.h"

#include <QHeaderView>

TStringGrid::TStringGrid(int ColCount, int RowCount, int FixedCols, int FixedRows, QWidget *Parent)
    : QTableWidget(RowCount, ColCount, Parent), FFixedCols(FixedCols), FFixedRows(FixedRows) {
  horizontalHeader()->hide();
  verticalHeader()->hide();
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  for (int r = 0; r < RowCount; ++r)
    for (int c = 0; c < ColCount; ++c) {
      auto *item = new QTableWidgetItem;
      if (r < FixedRows || c < FixedCols) {
        item->setBackground(palette().button());
        item->setFlags(Qt::ItemIsEnabled);
      }
      setItem(r, c, item);
    }
}

TStringGrid::~TStringGrid() {
  // A screen reader's cells of the grid each hold a persistent index of the
  // model, which is freed after the grid. Freed while the model lives, each
  // would be looked up in its hash of indexes, where Qt's hash of an index
  // puts a table's cells in one run: a time that grows with the square of the
  // cells. Emptied in one reset, the model drops them all in one pass.
  clearContents();
}

QString TStringGrid::Cells(int Col, int Row) const {
  const QTableWidgetItem *i = item(Row, Col);
  return i ? i->text() : QString();
}

void TStringGrid::SetCells(int Col, int Row, const QString &Text) {
  QTableWidgetItem *i = item(Row, Col);
  if (!i) {
    i = new QTableWidgetItem;
    setItem(Row, Col, i);
  }
  i->setText(Text);
}
