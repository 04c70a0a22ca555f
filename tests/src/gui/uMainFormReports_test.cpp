// The main window's reports against the demo device: the register map and
// the event report tab, its alarm report saved as PDF from the preview.
#include "uMainForm.h"

#include "uEventFrame.h"
#include "uEventPDFReportFrame.h"
#include "uFiles.h"
#include "uLinkKit.h"
#include "uReportPreviewForm.h"

#include <QAction>
#include <QComboBox>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTabWidget>
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

class MainFormReports : public TShownCapture {
protected:
  void SetUp() override {
    TShownCapture::SetUp();
    FOldHook = SetReportPreviewHook([this](const TReportDocument &Doc) {
      ++Previews;
      TReportPreviewForm preview(Doc);
      preview.SavePdf();
    });
    ASSERT_TRUE(S.Start());
  }
  void TearDown() override {
    SetReportPreviewHook(FOldHook);
    TShownCapture::TearDown();
  }
  TEventPDFReportFrame *ReportFrame() const {
    TTabSheet *sheet = S.Form->FindTabByTag(-11);
    return sheet ? sheet->findChild<TEventPDFReportFrame *>() : nullptr;
  }

  TDemoSession S;
  int Previews = 0;

private:
  TReportPreviewHook FOldHook;
};
} // namespace

TEST_F(MainFormReports, EventReportNeedsADeviceAndItsTemplate) {
  S.Form->NEventReport->trigger();
  EXPECT_EQ(Shown, QStringList{"Нет дескриптора"});
  ASSERT_EQ(S.Identify(), "Готово");
  S.Form->NEventReport->trigger();
  EXPECT_EQ(Shown.last(), "cannot open " + S.Dir.filePath("EventReportTemplate.xml"));
  EXPECT_EQ(ReportFrame(), nullptr);
}

TEST_F(MainFormReports, RegisterMapAndAlarmReportSavedAsPdfFromThePreview) {
  ASSERT_EQ(S.Identify(), "Готово");
  Answer = S.Dir.filePath("map.pdf");
  S.Form->nModbusReport->trigger();
  ASSERT_EQ(Previews, 1);
  EXPECT_TRUE(RunTool("pdftotext", {Answer, "-"}).contains("Адреса, hex"));

  // The shipped template, beside the program.
  ASSERT_TRUE(
      QFile::copy(KV_SOURCE_DIR "/src/resources/EventReportTemplate.xml", S.Dir.filePath("EventReportTemplate.xml")));
  S.Form->EventFrame->ReadEventLog();
  S.WaitIdle();
  const TEventLogItems &records = S.Form->EventFrame->Items();
  ASSERT_GT(records.size(), 10u) << S.Form->StatusBar_->currentMessage().toStdString();
  S.Form->NEventReport->trigger();
  TEventPDFReportFrame *frame = ReportFrame();
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(S.Form->PageControl->tabText(S.Form->PageControl->currentIndex()), "Отчет по событиям      ");
  Tick(frame->clbStartLevel, "Аварии");
  Tick(frame->clbStopLevel, "Аварии");
  Tick(frame->clbStartEvent, "Пуск МТЗ-1");
  Tick(frame->clbStopEvent, "Пуск МТЗ-1");
  frame->cbStartEdge->setCurrentIndex(edRising);
  frame->cbStopEdge->setCurrentIndex(edFalling);
  Tick(frame->clbAlarmMeasure, frame->clbAlarmMeasure->item(0)->text());
  Answer = S.Dir.filePath("alarm.pdf");
  frame->Button1->click();
  ASSERT_EQ(Previews, 2);
  const QString text = RunTool("pdftotext", {Answer, "-"});
  for (const char *word : {"Назва", "Значення", "Подія", "За період з", "Пуск МТЗ-1", "Срабатывание МТЗ-1"})
    EXPECT_TRUE(text.contains(QString::fromUtf8(word))) << word;
  // The journal holds alarms at 14:15, 15:15 and 16:15: the last one is printed.
  EXPECT_TRUE(text.contains("16:15:02.250")) << text.toStdString();
  EXPECT_FALSE(text.contains("14:15:02.250") || text.contains("15:15:02.250")) << text.toStdString();
  const QString fonts = RunTool("pdffonts", {Answer});
  EXPECT_TRUE(fonts.contains("DejaVuSans")) << fonts.toStdString();
  // The "emb" column is the first of the three yes/no columns.
  EXPECT_FALSE(fonts.contains(
      QRegularExpression(R"(\s+no\s+(yes|no)\s+(yes|no)\s+\d+\s+\d+\s*$)", QRegularExpression::MultilineOption)))
      << fonts.toStdString();

  // Save As on this tab writes the template; the next opening reads it back.
  Answer = S.Dir.filePath("EventReportTemplate.xml");
  S.Form->apFileSaveAs->trigger();
  EXPECT_EQ(Asked.last(), "Сохранить шаблон как");
  S.Form->NEventReport->trigger();
  EXPECT_EQ(ReportFrame(), frame); // the tab is reused
  EXPECT_EQ(frame->clbStartEvent->findItems("Пуск МТЗ-1", Qt::MatchExactly).first()->checkState(), Qt::Checked);
  EXPECT_EQ(frame->cbAlarmStart->count(), int(records.size()));
}
