// The main window's reports against the demo device: the register map and
// the event report tab, its alarm report saved as PDF from the preview.
#include "uMainForm.h"

#include "../report/event_test_util.h"
#include "uAppIniFile.h"
#include "uDevSimServer.h"
#include "uEventPDFReportFrame.h"
#include "uFileDialogSink.h"
#include "uFiles.h"
#include "uIOChain3.h"
#include "uMessageSink.h"
#include "uMultiLingual.h"
#include "uPlacement.h"
#include "uReportPreviewForm.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {
QString RunTool(const QString &Program, const QStringList &Args) {
  QProcess p;
  p.start(Program, Args);
  p.waitForFinished(60000);
  return QString::fromUtf8(p.readAllStandardOutput());
}

void Tick(QListWidget *List, const QString &Caption) {
  const QList<QListWidgetItem *> found = List->findItems(Caption, Qt::MatchExactly);
  ASSERT_FALSE(found.isEmpty()) << Caption.toStdString();
  found.first()->setCheckState(Qt::Checked);
}

class MainFormReports : public ::testing::Test {
protected:
  void SetUp() override {
    FOldCurrent = QDir::currentPath();
    RegUseStoreFile(FDir.filePath("user.conf"));
    MultiLingual() = TMultiLingual();
    FOldSink = SetMessageSink([this](TMsgKind, const QString &Text) {
      Shown << Text;
      return TMsgResult::Ok;
    });
    FOldDialog = SetFileDialogSink([this](const TFileDialogRequest &R) {
      Asked << R.Caption;
      return Answer;
    });
    FOldHook = SetReportPreviewHook([this](const TReportDocument &Doc) {
      ++Previews;
      TReportPreviewForm preview(Doc);
      preview.SavePdf();
    });
    LoadDemoDevice(Device);
    Server = std::make_unique<TDevSimServer>(Device);
    TDevSimOptions o;
    o.UsePty = false;
    Server->Start(o);
    SaveFileBytes(FDir.filePath("kv.ini"),
                  QStringLiteral("[setup]\ncustom=0\nprotocol=modbustcp\n[modbustcp]\nhost=127.0.0.1\nport=%1\n"
                                 "[device]\npollAddr=1\n[debug]\npoll=0\n[com]\nTimeout=5000\n")
                      .arg(Server->TcpPort())
                      .toUtf8());
    FIni = std::make_unique<TAppIniFile>(FDir.filePath("kv.ini"));
    Form = std::make_unique<TMainForm>(*FIni, FDir.path() + "/");
    ASSERT_TRUE(Form->FormShow());
  }
  void TearDown() override {
    Form.reset();
    Server.reset();
    SetReportPreviewHook(FOldHook);
    SetFileDialogSink(FOldDialog);
    SetMessageSink(FOldSink);
    QDir::setCurrent(FOldCurrent);
  }
  QString Identify() {
    Form->aMonitorPoll->trigger();
    QTest::qWaitFor([this] { return Form->IOChain()->ChainCount() == 0 && !Form->IsLinkBusy(); }, 30000);
    return Form->StatusBar_->currentMessage();
  }
  TEventPDFReportFrame *ReportFrame() const {
    TTabSheet *sheet = Form->FindTabByTag(-11);
    return sheet ? sheet->findChild<TEventPDFReportFrame *>() : nullptr;
  }

  QTemporaryDir FDir;
  TDemoJournal Journal; // the records the journal page reads from the device
  TSimDevice Device;
  std::unique_ptr<TDevSimServer> Server;
  std::unique_ptr<TMainForm> Form;
  QStringList Shown, Asked;
  QString Answer;
  int Previews = 0;

private:
  QString FOldCurrent;
  TMessageSink FOldSink;
  TFileDialogSink FOldDialog;
  TReportPreviewHook FOldHook;
  std::unique_ptr<TAppIniFile> FIni;
};
} // namespace

TEST_F(MainFormReports, EventReportNeedsADeviceAndItsTemplate) {
  Form->NEventReport->trigger();
  EXPECT_EQ(Shown, QStringList{"Нет дескриптора"});
  ASSERT_EQ(Identify(), "Готово");
  Form->NEventReport->trigger();
  EXPECT_EQ(Shown.last(), "cannot open " + FDir.filePath("EventReportTemplate.xml"));
  EXPECT_EQ(ReportFrame(), nullptr);
}

TEST_F(MainFormReports, RegisterMapAndAlarmReportSavedAsPdfFromThePreview) {
  ASSERT_EQ(Identify(), "Готово");
  Answer = FDir.filePath("map.pdf");
  Form->nModbusReport->trigger();
  ASSERT_EQ(Previews, 1);
  EXPECT_TRUE(RunTool("pdftotext", {Answer, "-"}).contains("Адреса, hex"));

  // The shipped template, beside the program.
  ASSERT_TRUE(QFile::copy(KV_SOURCE_DIR "/src/resources/EventReportTemplate.xml",
                          FDir.filePath("EventReportTemplate.xml")));
  Form->OpenEventReport(&Journal.Items);
  TEventPDFReportFrame *frame = ReportFrame();
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(Form->PageControl->tabText(Form->PageControl->currentIndex()), "Отчет по событиям      ");
  Tick(frame->clbStartLevel, "Аварии");
  Tick(frame->clbStopLevel, "Аварии");
  Tick(frame->clbStartEvent, "Пуск МТЗ-1");
  Tick(frame->clbStopEvent, "Пуск МТЗ-1");
  frame->cbStartEdge->setCurrentIndex(edRising);
  frame->cbStopEdge->setCurrentIndex(edFalling);
  Tick(frame->clbAlarmMeasure, frame->clbAlarmMeasure->item(0)->text());
  Answer = FDir.filePath("alarm.pdf");
  frame->Button1->click();
  ASSERT_EQ(Previews, 2);
  const QString text = RunTool("pdftotext", {Answer, "-"});
  for (const char *word : {"Назва", "Значення", "Подія", "За період з", "Пуск МТЗ-1", "Срабатывание МТЗ-1"})
    EXPECT_TRUE(text.contains(QString::fromUtf8(word))) << word;
  const QString fonts = RunTool("pdffonts", {Answer});
  EXPECT_TRUE(fonts.contains("DejaVuSans")) << fonts.toStdString();
  // The "emb" column is the first of the three yes/no columns.
  EXPECT_FALSE(fonts.contains(QRegularExpression(R"(\s+no\s+(yes|no)\s+(yes|no)\s+\d+\s+\d+\s*$)",
                                                 QRegularExpression::MultilineOption)))
      << fonts.toStdString();

  // Save As on this tab writes the template; the next opening reads it back.
  Answer = FDir.filePath("EventReportTemplate.xml");
  Form->apFileSaveAs->trigger();
  EXPECT_EQ(Asked.last(), "Сохранить шаблон как");
  Form->OpenEventReport(&Journal.Items);
  EXPECT_EQ(ReportFrame(), frame); // the tab is reused
  EXPECT_EQ(frame->clbStartEvent->findItems("Пуск МТЗ-1", Qt::MatchExactly).first()->checkState(), Qt::Checked);
  EXPECT_EQ(frame->cbAlarmStart->count(), int(Journal.Items.size()));
}
