#pragma once
// A grid of text cells with fixed (header) rows and columns that are cells
// like any other: their texts are set, read and translated the same way.
#include <QTableWidget>

class TStringGrid : public QTableWidget {
  Q_OBJECT
public:
  TStringGrid(int ColCount, int RowCount, int FixedCols, int FixedRows, QWidget *Parent = nullptr);
  ~TStringGrid() override;

  int FixedCols() const { return FFixedCols; }
  int FixedRows() const { return FFixedRows; }
  // Text of the cell at column Col, row Row (both counted with the fixed ones).
  QString Cells(int Col, int Row) const;
  void SetCells(int Col, int Row, const QString &Text);

private:
  int FFixedCols;
  int FFixedRows;
};
