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

// A masked cell reads to an accessibility client as it shows on the screen;
// the grid's own text stays the real one (the export's).
TEST(StringGrid, AccessibleTextOfACellIsWhatTheScreenShows) {
  TStringGrid grid(3, 2, 1, 1);
  grid.setRowCount(3);
  grid.SetShownText([](int Col, int Row) { return Col == 2 && Row >= 1 ? QStringLiteral("****") : QString(); });
  grid.SetCells(1, 1, "Пароль доступа");
  grid.SetCells(2, 1, "secret");
  grid.SetCells(2, 2, "added"); // a row the constructor did not fill
  QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(&grid);
  ASSERT_NE(iface, nullptr);
  ASSERT_NE(iface->tableInterface(), nullptr);
  const auto read = [&](int Row, int Col) { return iface->tableInterface()->cellAt(Row, Col)->text(QAccessible::Name); };
  EXPECT_EQ(read(1, 1), "Пароль доступа");
  EXPECT_EQ(read(1, 2), "****");
  EXPECT_EQ(read(2, 2), "****");
  EXPECT_EQ(grid.Cells(2, 1), "secret");
}
