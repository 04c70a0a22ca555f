#pragma once
// The spreadsheet tab's workbook without a spreadsheet program: sheets of text
// cells with their names and column widths, kept in memory and saved as an
// Office Open XML workbook (".xlsx"). Rows and columns count from 1, as the
// pages address cells (row r + 1, column c + 1 for grid cell (c, r)).
#include <QList>
#include <QString>
#include <QStringList>
#include <map>

class TWorksheet {
public:
  explicit TWorksheet(const QString &Name) : FName(Name) {}

  QString Name() const { return FName; }
  void SetName(const QString &Name) { FName = Name; }
  // Empties every cell and forgets the column widths.
  void Clear();
  // Row and Col from 1; throws EKvRange below 1 or past the format's limits
  // (1048576 rows, 16384 columns).
  void SetCell(int Row, int Col, const QString &Text);
  QString Cell(int Row, int Col) const;
  // A date-time cell: Value is a day count (the sheet's own serial dates),
  // shown with NumberFormat (the sheet's format codes); Cell gives Text. A
  // later SetCell of the same cell makes it a text cell again.
  void SetDateCell(int Row, int Col, double Value, const QString &Text, const QString &NumberFormat);
  struct TDateCell {
    double Value = 0;
    QString NumberFormat;
  };
  // The date of a date-time cell; nullptr for a text cell.
  const TDateCell *DateCell(int Row, int Col) const;
  // The rows and columns written so far (0 when none; empty texts past
  // the end are not kept).
  int RowCount() const { return FRows.size(); }
  int ColCount() const;
  // The width of column Col from its longest text, in characters of the
  // default font (the writer has no autofit of its own).
  void AutoFit(int Col);
  // The fitted width, or 0 for the default width. A fit is not redone when
  // texts change afterwards.
  double ColumnWidth(int Col) const;

private:
  QString FName;
  QList<QStringList> FRows; // FRows[r - 1][c - 1]; a row is as long as its last text
  std::map<int, double> FWidths;
  std::map<std::pair<int, int>, TDateCell> FDates;
};

class TWorkbook {
public:
  static constexpr int SheetCount = 3;
  // Three sheets, named "Лист1" to "Лист3" until a page names them.
  TWorkbook();

  // Sheet Index from 1; throws EKvRange outside 1..SheetCount.
  TWorksheet &Sheet(int Index);
  const TWorksheet &Sheet(int Index) const;

  // The ".xlsx" bytes, written by libxlsxwriter in a temporary folder.
  // Throws EKvError "cannot write workbook: " + the writer's reason (two
  // sheets of one name, a name the format refuses).
  QByteArray XlsxBytes() const;
  // Saves the workbook through the save helper: a failed save keeps the old file.
  void SaveAs(const QString &FileName) const;

private:
  QList<TWorksheet> FSheets;
};
