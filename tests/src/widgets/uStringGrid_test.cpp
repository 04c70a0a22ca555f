#include "uStringGrid.h"

#include <QAccessible>
#include <QPersistentModelIndex>
#include <gtest/gtest.h>

// A screen reader's cells of a grid each hold a persistent index of its
// model, which the grid owns and frees after itself. Let go one by one while
// the model lives, each costs a search as long as the table (Qt's hash of
// model indexes): the model drops them all at once before the grid goes.
TEST(StringGrid, CellsLetGoOfTheScreenReadersIndexesBeforeTheGridGoes) {
  auto *grid = new TStringGrid(17, 65, 1, 1);
  grid->SetCells(1, 1, "0");
  QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(grid);
  ASSERT_NE(iface, nullptr);
  for (int i = 0; i < iface->childCount(); ++i)
    iface->child(i);
  const QPersistentModelIndex cell(grid->model()->index(1, 1));
  bool heldAtTheEnd = false;
  QObject::connect(grid, &QObject::destroyed, [&] { heldAtTheEnd = cell.isValid(); });
  delete grid;
  EXPECT_FALSE(heldAtTheEnd);
}
