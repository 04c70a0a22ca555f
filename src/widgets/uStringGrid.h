#pragma once
// A grid of text cells with fixed (header) rows and columns that are cells
// like any other: their texts are set, read and translated the same way.
#include <QTableWidget>
#include <functional>

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

  // What the screen shows in a cell in place of its text (a masked password
  // drawn "****"), "" for the text itself. Screen readers and every other
  // accessibility client read this; Cells, the editors and the export keep
  // the real text.
  using TShownText = std::function<QString(int Col, int Row)>;
  void SetShownText(TShownText Shown) { FShownText = std::move(Shown); }
  QString ShownText(int Col, int Row) const;

private:
  TShownText FShownText;
  int FFixedCols;
  int FFixedRows;
};
