#include "uStringGrid.h"

#include <QHeaderView>

namespace {
// A cell whose accessible text is what the grid shows: the accessibility of
// item views reads Qt::AccessibleTextRole first, the text only when that is empty.
class TGridItem : public QTableWidgetItem {
public:
  QVariant data(int Role) const override {
    if (Role == Qt::AccessibleTextRole)
      if (const auto *grid = qobject_cast<const TStringGrid *>(tableWidget()))
        if (const QString shown = grid->ShownText(column(), row()); !shown.isEmpty())
          return shown;
    return QTableWidgetItem::data(Role);
  }
  QTableWidgetItem *clone() const override { return new TGridItem(*this); }
};
} // namespace

TStringGrid::TStringGrid(int ColCount, int RowCount, int FixedCols, int FixedRows, QWidget *Parent)
    : QTableWidget(RowCount, ColCount, Parent), FFixedCols(FixedCols), FFixedRows(FixedRows) {
  horizontalHeader()->hide();
  verticalHeader()->hide();
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  // Cells made by the table itself (an edit of an empty cell) are the grid's kind too.
  setItemPrototype(new TGridItem);
  for (int r = 0; r < RowCount; ++r)
    for (int c = 0; c < ColCount; ++c) {
      auto *item = new TGridItem;
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

QString TStringGrid::ShownText(int Col, int Row) const { return FShownText ? FShownText(Col, Row) : QString(); }

void TStringGrid::SetCells(int Col, int Row, const QString &Text) {
  QTableWidgetItem *i = item(Row, Col);
  if (!i) {
    i = new TGridItem;
    setItem(Row, Col, i);
  }
  i->setText(Text);
}
