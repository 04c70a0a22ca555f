#pragma once
// The spreadsheet tab: a frame that owns one in-memory workbook of three
// sheets, shows each as a grid, and saves it as ".xlsx". Pages prepare a
// sheet, then write its cells and fit its columns; the main window saves
// the workbook and releases it when the tab closes. Main thread only.
#include "uWorkbook.h"

#include <QWidget>
#include <memory>

class QTabWidget;
class QTableWidget;

class TExcelFrame : public QWidget {
  Q_OBJECT
public:
  explicit TExcelFrame(QWidget *Parent = nullptr);
  ~TExcelFrame() override;

  // Makes sheet Index (1..3) the active one, empties it and names it. Throws
  // EKvError "Cannot initiate OleContainer" once the workbook was released,
  // EKvRange for another index.
  void PrepareSheet(int Index, const QString &Name);
  // Cell (Row, Col) of the active sheet, from 1, as in the sheet. A text
  // that is exactly a number as the program writes it ("-12", "0.50") is a
  // number in the saved workbook, shown with as many decimals; other texts
  // (codes "007", versions "1.2.3") stay texts.
  void SetCell(int Row, int Col, const QString &Text);
  // A date-time cell (Value a day count) shown as Text here and with
  // NumberFormat in the saved workbook.
  void SetDateCell(int Row, int Col, double Value, const QString &Text, const QString &NumberFormat);
  // Column Col of the active sheet as wide as its longest text.
  void AutoFit(int Col);
  // The save dialog (default extension ".xlsx"), then the workbook saved
  // there; a cancelled dialog writes nothing. Throws the save's error.
  void SaveAs();
  // Releases this frame's workbook (the tab closes); never throws.
  void QuitExcel();

  // Null after QuitExcel.
  const TWorkbook *Workbook() const { return FBook.get(); }
  int ActiveSheet() const { return FActive; }

  QTabWidget *Sheets = nullptr;

private:
  // The text in the sheet and its grid, as a text cell.
  void ShowCell(int Row, int Col, const QString &Text);
  TWorksheet &Active();
  QTableWidget *View(int Index) const;

  std::unique_ptr<TWorkbook> FBook;
  int FActive = 1;
};
