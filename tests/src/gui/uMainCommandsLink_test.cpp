// The main window's Write, Edit, Excel, Refresh and tab commands on the
// parameters and setpoints pages against the in-process demo terminal.
#include "uMainForm.h"

#include "../pages/xlsxDump.h"
#include "uDemoSession.h"
#include "uErrors.h"
#include "uFileDialogSink.h"
#include "uMessageSink.h"
#include "uPageControlHelper.h"
#include "uStringGrid.h"
#include "uStringGridEditor.h"
#include "uUstavFrame.h"
#include "uUstavLocalFrame.h"

#include <QAction>
#include <QJsonArray>
#include <QLineEdit>
#include <QListWidget>
#include <gtest/gtest.h>

namespace {
QStringList Requests(const TSimDevice &Device, uint8_t Function) {
  QStringList out;
  for (const QByteArray &p : Device.RequestLog())
    if (p.size() == 5 && uint8_t(p[0]) == Function)
      out << QString("%1 %2").arg(uint8_t(p[1]) << 8 | uint8_t(p[2])).arg(uint8_t(p[3]) << 8 | uint8_t(p[4]));
  return out;
}

class MainCommandsLink : public ::testing::Test {
protected:
  void SetUp() override {
    FOldSink = SetMessageSink([this](TMsgKind, const QString &Text) {
      Shown << Text;
      return TMsgResult::Ok;
    });
    FOldFiles = SetFileDialogSink([this](const TFileDialogRequest &) { return Answer; });
    ASSERT_TRUE(S.Start("[ustav]\ndirectEdit=0\n"));
    ASSERT_EQ(S.Identify(), "Готово");
    S.Form->show();
    S.Form->SetLoggedIn(true);
    S.Device.ClearLogs();
  }
  void TearDown() override {
    SetFileDialogSink(FOldFiles);
    SetMessageSink(FOldSink);
  }
  void Show(QWidget *Page) { S.Form->PageControl->setCurrentWidget(Page); }

  TDemoSession S;
  QStringList Shown;
  QString Answer;

private:
  TMessageSink FOldSink;
  TFileDialogSink FOldFiles;
};
} // namespace

TEST_F(MainCommandsLink, EditOpensALocalSetWhoseWriteSendsOneRegister) {
  Show(S.Form->TabSheetUstav);
  S.Form->EditCommand();
  TkvUstavLocalFrame *local = S.Form->ActiveLocalSet();
  ASSERT_NE(local, nullptr);
  EXPECT_EQ(S.Form->PageControl->ActiveSheet()->Tag(), -7);
  local->sgUstav->setCurrentCell(2, 2);
  local->Editor()->StartEdit();
  ASSERT_TRUE(local->Editor()->Edit->isVisible());
  local->Editor()->Edit->setText("444");
  QTest::keyClick(local->Editor()->Edit, Qt::Key_Return);
  S.Form->WriteCommand();
  ASSERT_TRUE(S.WaitIdle());
  EXPECT_EQ(Requests(S.Device, SIM_FN_WRITE_HOLDING), QStringList{"101 444"});

  // Refresh on the local set reads the fixed setpoints page again.
  S.Device.ClearLogs();
  S.Form->aMonitorRefresh->trigger();
  ASSERT_TRUE(S.WaitIdle());
  EXPECT_FALSE(Requests(S.Device, SIM_FN_READ_HOLDING).filter(QRegularExpression("^10\\d ")).isEmpty());

  // A renamed level: the set no longer matches the device's descriptor.
  local->clbUstavLevel->setCurrentRow(1);
  QTest::keyClick(local->clbUstavLevel, Qt::Key_F2);
  local->LevelEditor()->Edit->setText("Защиты");
  QTest::keyClick(local->LevelEditor()->Edit, Qt::Key_Return);
  S.Device.ClearLogs();
  try {
    S.Form->WriteCommand();
    ADD_FAILURE() << "written";
  } catch (const EKvError &e) {
    EXPECT_EQ(e.Text(), "Ошибка сравнения дескрипторов");
  }
  EXPECT_TRUE(S.Device.RequestLog().empty());

  // Ctrl+F4 closes the tab through its own close path: the setpoints page is active again.
  S.Form->CloseActiveTab();
  EXPECT_EQ(S.Form->PageControl->currentWidget(), S.Form->TabSheetUstav);
}

TEST_F(MainCommandsLink, ParametersAndSetpointsGoToOneSpreadsheetTab) {
  Show(S.Form->TabSheetParam);
  S.Form->ExcelCommand();
  Show(S.Form->TabSheetUstav);
  S.Form->ExcelCommand();
  TTabSheet *excel = S.Form->FindTabByTag(-9);
  ASSERT_NE(excel, nullptr);
  EXPECT_EQ(S.Form->PageControl->currentWidget(), excel);
  Answer = S.Dir.filePath("both.xlsx");
  S.Form->apFileSaveAs->trigger();
  const QJsonObject d = DumpXlsx(Answer);
  ASSERT_FALSE(d.contains("error")) << d["error"].toString().toStdString();
  const QJsonArray sheets = d["sheets"].toArray();
  EXPECT_EQ(sheets[0].toObject()["name"].toString(), "Параметры");
  EXPECT_EQ(sheets[1].toObject()["name"].toString(), "Уставки");
  EXPECT_EQ(sheets[1].toObject()["cells"].toObject()["C1"].toString(), "Група1");

  // The log opened twice gives one tab.
  const int tabs = S.Form->PageControl->count();
  S.Form->OpenLogTab();
  S.Form->OpenLogTab();
  EXPECT_EQ(S.Form->PageControl->count(), tabs + 1);
  EXPECT_TRUE(Shown.isEmpty()) << Shown.join("|").toStdString();
}
