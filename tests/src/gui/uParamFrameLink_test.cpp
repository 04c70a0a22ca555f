// The parameters page against the in-process demo terminal: edits, writes,
// read-back and the spreadsheet export.
#include "uParamFrame.h"

#include "../pages/xlsxDump.h"
#include "uExcelFrame.h"
#include "uLinkKit.h"
#include "uModbus.h"
#include "uPageControlHelper.h"
#include "uStringGrid.h"
#include "uStringGridEditor.h"

#include <QJsonArray>
#include <QLineEdit>
#include <gtest/gtest.h>

namespace {
class ParamFrameLink : public TShownCapture {
protected:
  // Starts with param/directEdit DirectEdit, identifies and clears devsim's log.
  void Start(int DirectEdit) {
    ASSERT_TRUE(S.Start(QString("[param]\ndirectEdit=%1\n").arg(DirectEdit)));
    ASSERT_EQ(S.Identify(), "Готово");
    Page = S.Form->ParamFrame;
    S.Form->show();
    S.Form->PageControl->setCurrentWidget(S.Form->TabSheetParam);
    S.Device.ClearLogs();
  }
  int RowOf(int Reg) const {
    for (int r = 1; r < Page->sgParam->rowCount(); ++r)
      if (Page->RowReg(r) == Reg)
        return r;
    return -1;
  }
  void Type(int Reg, const QString &Text) {
    Page->sgParam->setCurrentCell(RowOf(Reg), 2);
    Page->Editor()->StartEdit();
    ASSERT_TRUE(Page->Editor()->Edit->isVisible());
    Page->Editor()->Edit->setText(Text);
    QTest::keyClick(Page->Editor()->Edit, Qt::Key_Return);
    ASSERT_TRUE(S.WaitIdle());
  }
  QString Cell(int Reg) const { return Page->sgParam->Cells(2, RowOf(Reg)); }

  TDemoSession S;
  TkvParamFrame *Page = nullptr;
};
} // namespace

TEST_F(ParamFrameLink, DirectEditWritesOnceReadsBackAndTheCellTurnsWhite) {
  Start(1);
  S.Form->SetLoggedIn(true);
  Type(DemoDevice::ScaledReg, "15.5");
  EXPECT_EQ(RegisterRequests(S.Device, true), (QStringList{"w 50 1550", "r 50 1"}));
  EXPECT_EQ(Modbus().GetWord(DemoDevice::ScaledReg), 1550);
  EXPECT_TRUE(Page->RowMatchesDevice(RowOf(DemoDevice::ScaledReg)));
  EXPECT_EQ(S.Status(), "Готово");

  // A Cyrillic name comes back from the device as it was typed.
  S.Device.ClearLogs();
  Type(DemoDevice::NameReg, "ПС Южная");
  EXPECT_EQ(RegisterRequests(S.Device, true).filter("w ").size(), DemoDevice::NameWords);
  Page->ShowValues();
  EXPECT_EQ(Cell(DemoDevice::NameReg), "ПС Южная");
  EXPECT_TRUE(Page->RowMatchesDevice(RowOf(DemoDevice::NameReg)));

  // A value out of range is refused before anything is sent; the cell keeps its text.
  S.Device.ClearLogs();
  Type(DemoDevice::ScaledReg, "700");
  EXPECT_TRUE(RegisterRequests(S.Device, true).isEmpty());
  EXPECT_EQ(Cell(DemoDevice::ScaledReg), "15.50");
  EXPECT_EQ(Shown, QStringList{"Значение 700 вне диапазона 0.00..655.35"});
}

TEST_F(ParamFrameLink, WriteAllWritesExactlyTheEditedRows) {
  Start(0);
  Page->WriteAll();
  ASSERT_TRUE(S.WaitIdle());
  EXPECT_TRUE(RegisterRequests(S.Device, true).isEmpty());
  EXPECT_EQ(S.Status(), "Готово");

  Type(DemoDevice::ScaledReg, "0.07");
  Type(31, "17");
  EXPECT_TRUE(RegisterRequests(S.Device, true).isEmpty()); // directEdit 0: only the cells changed
  EXPECT_FALSE(Page->RowMatchesDevice(RowOf(31)));
  Page->WriteAll();
  ASSERT_TRUE(S.WaitIdle());
  EXPECT_EQ(RegisterRequests(S.Device, true).filter("w "), (QStringList{"w 31 17", "w 50 7"}));
  EXPECT_TRUE(Page->RowMatchesDevice(RowOf(31)));
  EXPECT_TRUE(Shown.isEmpty()) << Shown.join("|").toStdString();
}

TEST_F(ParamFrameLink, ExportedWorkbookHoldsTheGridWithRealTexts) {
  Start(0);
  TExcelFrame excel;
  excel.PrepareSheet(1, "Параметры");
  excel.SetCell(40, 2, "stale");
  Page->ExportToExcel(&excel, 1);
  excel.SaveAs(); // cancelled
  EXPECT_FALSE(QFile::exists(S.Dir.filePath("params.xlsx")));
  Answer = S.Dir.filePath("params.xlsx");
  excel.SaveAs();

  const QJsonObject d = DumpXlsx(Answer);
  ASSERT_FALSE(d.contains("error")) << d["error"].toString().toStdString();
  const QJsonObject sheet = d["sheets"].toArray()[0].toObject();
  EXPECT_EQ(sheet["name"].toString(), "Параметры");
  const QJsonObject cells = sheet["cells"].toObject();
  EXPECT_EQ(cells["B1"].toString(), "Наименование");
  EXPECT_EQ(cells["C1"].toString(), "Значение");
  // A text that is a number as the program writes it is a number cell.
  auto same = [&](const QString &Ref, const QString &Text) {
    const QJsonValue v = cells[Ref];
    return v.isDouble() ? v.toDouble() == Text.toDouble() : v.toString() == Text;
  };
  const int rows = Page->sgParam->rowCount();
  for (int r = 1; r < rows; ++r) {
    EXPECT_TRUE(same(QString("B%1").arg(r + 1), Page->sgParam->Cells(1, r))) << r;
    EXPECT_TRUE(same(QString("C%1").arg(r + 1), Page->sgParam->Cells(2, r))) << r;
  }
  EXPECT_EQ(cells.size(), 2 * rows);
  EXPECT_TRUE(same(QString("C%1").arg(RowOf(DemoDevice::PasswdReg) + 1), DemoDevice::Password));
}
