#include "uExcelFrame.h"
#include "../../common/uErrorOf.h"

#include "uErrors.h"
#include "uFileDialogSink.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
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

TEST(ExcelFrame, TextsThatAreNumbersAsTheProgramWritesThemAreNumbersInTheWorkbook) {
  const struct {
    const char *Text;
    bool Number;
    const char *Format;
  } Cells[] = {
      {"12.34", true, "0.00"}, {"-5", true, "0"},      {"0.5", true, "0.0"},   {"100", true, "0"},
      {"-0.250", true, "0.000"}, {"007", false, ""},   {"1.2.3", false, ""},   {"-", false, ""},
      {"1e5", false, ""},      {".5", false, ""},      {"12.", false, ""},     {" 12", false, ""},
      {"1234567890123456", false, ""}, {"Ток", false, ""}, {"00.5", false, ""},
  };
  TExcelFrame frame;
  frame.PrepareSheet(1, "Параметры");
  for (int r = 0; r < int(std::size(Cells)); ++r)
    frame.SetCell(r + 1, 2, QString::fromUtf8(Cells[r].Text));
  QTemporaryDir dir;
  frame.Workbook()->SaveAs(dir.filePath("book.xlsx"));

  // Read back by another program's reader: each cell's kind, value and format.
  QProcess p;
  p.start("/usr/bin/python3", {"-c", "import json, sys, openpyxl\n"
                                     "s = openpyxl.load_workbook(sys.argv[1]).active\n"
                                     "print(json.dumps([[type(c.value).__name__, str(c.value), c.number_format]"
                                     " for c in s['B']]))",
                               dir.filePath("book.xlsx")});
  ASSERT_TRUE(p.waitForFinished(60000));
  ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
  const QJsonArray got = QJsonDocument::fromJson(p.readAllStandardOutput()).array();
  ASSERT_EQ(got.size(), qsizetype(std::size(Cells)));
  double sum = 0;
  for (int r = 0; r < int(std::size(Cells)); ++r) {
    const QJsonArray c = got[r].toArray();
    const bool number = c[0].toString() == "float" || c[0].toString() == "int";
    EXPECT_EQ(number, Cells[r].Number) << Cells[r].Text;
    if (!number) {
      EXPECT_EQ(c[1].toString(), QString::fromUtf8(Cells[r].Text)) << Cells[r].Text;
      continue;
    }
    EXPECT_EQ(c[2].toString(), Cells[r].Format) << Cells[r].Text;
    sum += c[1].toString().toDouble();
  }
  EXPECT_DOUBLE_EQ(sum, 12.34 - 5 + 0.5 + 100 - 0.25);
  // The grid shows the texts as they were given.
  EXPECT_EQ(static_cast<QTableWidget *>(frame.Sheets->widget(0))->item(4, 1)->text(), "-0.250");
}
