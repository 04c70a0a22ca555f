#include "uExcelFrame.h"
#include "../../common/uErrorOf.h"

#include "uErrors.h"
#include "uFileDialogSink.h"

#include <QDir>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(ExcelFrame, SaveAsGoesThroughTheDialogAndAReleasedWorkbookRefusesASheet) {
  QTemporaryDir dir;
  QString answer;
  TFileDialogRequest asked;
  const TFileDialogSink old = SetFileDialogSink([&](const TFileDialogRequest &R) {
    asked = R;
    return answer;
  });
  TExcelFrame frame;
  frame.PrepareSheet(1, "Параметры");
  frame.SetCell(2, 3, "12.34");
  EXPECT_EQ(frame.Sheets->tabText(0), "Параметры");
  EXPECT_EQ(static_cast<QTableWidget *>(frame.Sheets->widget(0))->item(1, 2)->text(), "12.34");

  frame.SaveAs(); // cancelled
  EXPECT_EQ(asked.DefaultExt, "xlsx");
  EXPECT_TRUE(QDir(dir.path()).isEmpty());
  answer = dir.filePath("book");
  frame.SaveAs();
  EXPECT_TRUE(QFile::exists(dir.filePath("book.xlsx")));

  // A second preparation of the sheet starts it empty.
  frame.PrepareSheet(1, "Параметры");
  EXPECT_EQ(frame.Workbook()->Sheet(1).RowCount(), 0);

  frame.QuitExcel();
  EXPECT_EQ(frame.Workbook(), nullptr);
  EXPECT_EQ(ErrorOf([&] { frame.PrepareSheet(1, "Параметры"); }), "Cannot initiate OleContainer");
  frame.QuitExcel();
  SetFileDialogSink(old);
}
