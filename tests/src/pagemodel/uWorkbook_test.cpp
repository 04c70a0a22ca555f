#include "uWorkbook.h"

#include "../pages/xlsxDump.h"
#include "uErrors.h"

#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(Workbook, SavedSheetsReadBackWithTheirNamesTextsAndFittedWidths) {
  TWorkbook book;
  TWorksheet &s = book.Sheet(2);
  s.SetName("Уставки");
  s.SetCell(1, 2, "Наименование");
  s.SetCell(3, 3, "Ток срабатывания");
  s.SetCell(3, 1, "");
  s.AutoFit(1);
  s.AutoFit(3);
  QTemporaryDir dir;
  const QString path = dir.filePath("a.xlsx");
  book.SaveAs(path);
  const QJsonObject d = DumpXlsx(path);
  ASSERT_FALSE(d.contains("error")) << d["error"].toString().toStdString();
  const QJsonArray sheets = d["sheets"].toArray();
  ASSERT_EQ(sheets.size(), 3);
  EXPECT_EQ(sheets[0]["name"].toString(), "Лист1");
  EXPECT_EQ(sheets[1]["name"].toString(), "Уставки");
  const QJsonObject cells = sheets[1]["cells"].toObject();
  EXPECT_EQ(cells.size(), 2);
  EXPECT_EQ(cells["B1"].toString(), "Наименование");
  EXPECT_EQ(cells["C3"].toString(), "Ток срабатывания");
  // The longest text of column C is 16 characters; column A has none and keeps the default.
  const QJsonObject widths = sheets[1]["widths"].toObject();
  EXPECT_FALSE(widths.contains("A"));
  EXPECT_NEAR(widths["C"].toDouble(), 18.0, 1.0);
  EXPECT_TRUE(sheets[0]["cells"].toObject().isEmpty());

  // Cleared sheets leave no stale cells behind.
  s.Clear();
  s.SetCell(1, 1, "x");
  book.SaveAs(path);
  EXPECT_EQ(DumpXlsx(path)["sheets"].toArray()[1].toObject()["cells"].toObject().keys(), QStringList{"A1"});
}

TEST(Workbook, RefusedSheetNamesAndCellsThrowAndKeepTheEarlierFile) {
  QTemporaryDir dir;
  const QString path = dir.filePath("a.xlsx");
  TWorkbook good;
  good.SaveAs(path);
  const QByteArray before = [&] { QFile f(path); f.open(QIODevice::ReadOnly); return f.readAll(); }();

  for (const char *name : {"Лист1", "a:b", ""}) {
    TWorkbook book;
    book.Sheet(3).SetName(QString::fromUtf8(name));
    EXPECT_THROW(book.SaveAs(path), EKvError) << name;
  }
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll(), before);

  TWorkbook book;
  EXPECT_THROW(book.Sheet(4), EKvRange);
  EXPECT_THROW(book.Sheet(1).SetCell(0, 1, "x"), EKvRange);
  EXPECT_THROW(book.Sheet(1).SetCell(1, 16385, "x"), EKvRange);
}
