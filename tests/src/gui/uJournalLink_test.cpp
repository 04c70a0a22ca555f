// The event journal, its spreadsheet and report, and the title panel's event
// list against two relays in the simulator: relay A (the demo terminal) and
// relay B (the second demo image, a journal of its own), each on a
// pseudo-terminal and over Modbus TCP behind one test gateway.
#include "../../common/uTcpGateway.h"

#include "uControlRules.h"
#include "uControls.h"
#include "uDashboardFrame.h"
#include "uDemoDevice.h"
#include "uDevSimFiles.h"
#include "uDevSimServer.h"
#include "uEventFrame.h"
#include "uEventPDFReportFrame.h"
#include "uIdentification.h"
#include "uExcelFrame.h"
#include "uLinkKit.h"
#include "uMainForm.h"
#include "uPageControlHelper.h"
#include "uPlacement.h"
#include "uReportDocument.h"
#include "uSimDevice.h"
#include "uWorkbook.h"

#include <QCheckBox>
#include <QComboBox>
#include <QListWidget>
#include <QMenu>
#include <QRegularExpression>
#include <QPointer>
#include <QTabWidget>
#include <QTest>
#include <gtest/gtest.h>
#include <functional>
#include <memory>

namespace {
using TUp = TTcpGateway::TUpstream;

const char *const OtherDate = "2025-02-17"; // B's descriptor date
// The stamps of the journals a test writes into a relay.
const QDateTime Last(QDate(2026, 3, 9), QTime(8, 0), Qt::UTC);

// Every text of a sheet, "row:col=text".
QStringList SheetTexts(const TWorksheet &Sheet) {
  QStringList out;
  for (int r = 1; r <= Sheet.RowCount(); ++r)
    for (int c = 1; c <= Sheet.ColCount(); ++c)
      if (!Sheet.Cell(r, c).isEmpty())
        out << QString("%1:%2=%3").arg(r).arg(c).arg(Sheet.Cell(r, c));
  return out;
}

// The moment texts of a report's event lines ("moment - name").
QStringList ReportMoments(const TReportDocument &Doc) {
  QStringList out;
  for (const TReportPage &page : Doc.Pages())
    for (const TReportItem &item : page.Items)
      if (item.Text.size() > 26 && item.Text.startsWith("20") && item.Text.mid(23, 3) == " - ")
        out << item.Text.left(23);
  return out;
}

enum class TRoute { Port, Gateway, PanelCheck };

class JournalLink : public TTwoRelayCapture, public ::testing::WithParamInterface<TRoute> {
protected:
  void SetUp() override {
    TShownCapture::SetUp();
    FOldHook = SetReportPreviewHook([this](const TReportDocument &Doc) { Reports.push_back(Doc); });
    LoadDemoDevice(Other, 2);
    TSimEventSeries b;
    b.Count = 12;
    const int bytes = 9 + 2 * EventValueWords(DemoTerminalContent(2));
    Other.SetFile(SimFileEventRing, WriteEventRing(SimEventSeries(b, Last), bytes, 256), bytes);
    TDevSimOptions o;
    S.Server = std::make_unique<TDevSimServer>(S.Device);
    S.Server->Start(o);
    OtherServer = std::make_unique<TDevSimServer>(Other);
    OtherServer->Start(o);
    Gateway = std::make_unique<TTcpGateway>(S.Server->TcpPort(), OtherServer->TcpPort());
  }
  void TearDown() override {
    SetReportPreviewHook(FOldHook);
    TTwoRelayCapture::TearDown();
  }
  // The window on A (its pseudo-terminal, or the gateway), A identified.
  void Start(bool Pty) {
    for (const QString &file : {QString(KV_SOURCE_DIR "/tools/devsim/dashboard.XML"),
                                QString(KV_SOURCE_DIR "/src/resources/EventReportTemplate.xml")})
      ASSERT_TRUE(QFile::copy(file, S.Dir.filePath(QFileInfo(file).fileName())));
    QString ini = "[setup]\ncustom=0\npasswdExpirationPeriod=600\n";
    if (Pty) {
      ini += "protocol=modbus\n";
      RegWriteString("", KV_REG_COM_PORT, S.Server->PtyPath());
    } else {
      ini += QString("protocol=modbustcp\n[modbustcp]\nhost=127.0.0.1\nport=%1\n").arg(Gateway->Port());
    }
    ini += "[device]\npollPause=1000\n[com]\nTimeout=500\n[timer]\ninterval=3600000\n[debug]\npoll=1\n";
    ASSERT_TRUE(S.Open(ini));
    S.Form->Identification()->SetClock([this] { return Now; });
    ASSERT_EQ(S.Identify(), "Готово");
  }
  bool Idle() const { return LinkIdle(S); }
  bool TickUntil(int Ticks, const std::function<bool()> &Done) { return ::TickUntil(S, Ticks, Done); }
  bool OtherIdentified() const { return S.Form->IsDeviceReady() && S.Form->LabelDescID->text() == OtherDate && Idle(); }
  // B identified by Route.
  void ToOther(TRoute Route) {
    switch (Route) {
    case TRoute::Port:
      // "Порт": the menu lists B's line, and the engineer picks it.
      S.Form->BuildPortMenu({OtherServer->PtyPath()});
      S.Form->NPort->actions().first()->trigger();
      ASSERT_EQ(S.Identify(), "Готово");
      break;
    case TRoute::Gateway:
      Gateway->Target(TUp::B);
      ASSERT_EQ(S.Identify(), "Готово");
      break;
    case TRoute::PanelCheck:
      S.Form->PageControl->setCurrentWidget(S.Form->TabSheetDashboard);
      S.Form->cbAuto->setChecked(true);
      Gateway->Target(TUp::B);
      // The panel's read checks the relay once 10 s have passed since it was last seen.
      Now += 11000;
      ASSERT_TRUE(TickUntil(3, [this] { return OtherIdentified(); })) << S.Status().toStdString();
      break;
    }
    ASSERT_TRUE(OtherIdentified());
  }
  void ReadJournal() {
    S.Form->PageControl->setCurrentWidget(S.Form->TabSheetEvent);
    S.Form->EventFrame->ReadEventLog();
    ASSERT_TRUE(S.WaitIdle());
  }
  // The moments of the journal's grid, top to bottom.
  QStringList GridMoments() const {
    const TEventTableModel &m = S.Form->EventFrame->Model();
    QStringList out;
    for (int r = 0; r < m.ShownCount(); ++r)
      out << m.data(m.index(r, 2), Qt::DisplayRole).toString();
    return out;
  }
  // "Excel" on the journal: the new tab's frame.
  TExcelFrame *Excel() {
    S.Form->PageControl->setCurrentWidget(S.Form->TabSheetEvent);
    S.Form->ExcelCommand();
    return qobject_cast<TTabSheet *>(S.Form->PageControl->currentWidget())->findChild<TExcelFrame *>();
  }
  TEventPDFReportFrame *Report() {
    S.Form->NEventReport->trigger();
    TTabSheet *sheet = S.Form->FindTabByTag(-11);
    return sheet ? sheet->findChild<TEventPDFReportFrame *>() : nullptr;
  }
  // The title panel refreshed Times times: its event list, top to bottom.
  QStringList PanelRows(int Times) {
    TkvDashboardFrame *page = S.Form->DashboardFrame;
    for (int i = 0; i < Times; ++i) {
      page->Refresh();
      EXPECT_TRUE(S.WaitIdle());
    }
    QStringList out;
    for (QWidget *w : ControlsOf(page->Panel, true))
      if (auto *v = qobject_cast<TEventView *>(w))
        for (int i = 0; i < v->topLevelItemCount(); ++i)
          out << v->topLevelItem(i)->text(0);
    return out;
  }
  static QString PanelText(const QDateTime &At) { return At.toString("yy-MM-dd hh:mm:ss.zzz"); }
  // Refreshes that read a ring of 256 slots whole while its end is looked for.
  static constexpr int ScanRefreshes = 256 / EventScanFrames;

  std::vector<TReportDocument> Reports;
  qint64 Now = 0; // ms, the identification's clock

private:
  TReportPreviewHook FOldHook;
};

} // namespace

// A's journal read, then B identified: nothing of A in the grid, whatever
// the level filter does, nor in a spreadsheet or report made after; the
// spreadsheet made before stays as it was, the report tab open has no moment
// left; B's journal read shows B's records only, and the title panel kept
// changed shows B's newest event.
TEST_P(JournalLink, AnIdentificationLeavesNothingOfTheRelayBefore) {
  ASSERT_NO_FATAL_FAILURE(Start(GetParam() == TRoute::Port));
  ASSERT_NO_FATAL_FAILURE(ReadJournal());
  const QStringList ofA = GridMoments();
  ASSERT_EQ(ofA.size(), int(DemoEventRecords().size()));
  const QPointer<TExcelFrame> before = Excel();
  ASSERT_TRUE(before);
  const QStringList beforeTexts = SheetTexts(before->Workbook()->Sheet(3));
  ASSERT_TRUE(beforeTexts.contains("3:3=" + ofA.first()));
  TEventPDFReportFrame *report = Report();
  ASSERT_TRUE(report);
  ASSERT_EQ(report->cbAlarmStart->count(), ofA.size());
  S.Form->DashboardFrame->SetModified(true); // the panel is kept and bound again

  ASSERT_NO_FATAL_FAILURE(ToOther(GetParam()));
  EXPECT_TRUE(GridMoments().isEmpty());
  EXPECT_TRUE(S.Form->EventFrame->Items().empty());
  QListWidget *levels = S.Form->EventFrame->clbEventLevel;
  levels->item(0)->setCheckState(Qt::Unchecked);
  levels->item(0)->setCheckState(Qt::Checked);
  EXPECT_TRUE(GridMoments().isEmpty()) << "the level filter brought rows back";
  ASSERT_TRUE(before);
  EXPECT_EQ(SheetTexts(before->Workbook()->Sheet(3)), beforeTexts);
  EXPECT_EQ(report->cbAlarmStart->count(), 0);
  EXPECT_EQ(report->ComboBox2->count(), 0);
  report->Button1Click();
  EXPECT_TRUE(Reports.empty());
  TExcelFrame *after = Excel();
  ASSERT_TRUE(after);
  const QStringList afterTexts = SheetTexts(after->Workbook()->Sheet(3));
  for (const QString &moment : ofA)
    EXPECT_TRUE(afterTexts.filter(moment).isEmpty()) << moment.toStdString();
  EXPECT_TRUE(afterTexts.filter(QRegularExpression("^[3-9]:|^[1-9][0-9]+:")).isEmpty()) << afterTexts.join('|').toStdString();

  ASSERT_NO_FATAL_FAILURE(ReadJournal());
  const QStringList ofB = GridMoments();
  ASSERT_EQ(ofB.size(), 12);
  EXPECT_EQ(ofB.first(), Last.toString("yyyy-MM-dd hh:mm:ss.zzz"));
  report = Report();
  ASSERT_TRUE(report);
  report->PageControl->setCurrentIndex(1);
  report->Button1Click();
  ASSERT_EQ(Reports.size(), 1u);
  const QStringList printed = ReportMoments(Reports.front());
  EXPECT_EQ(printed.size(), ofB.size());
  for (const QString &moment : printed)
    EXPECT_TRUE(ofB.contains(moment)) << moment.toStdString();

  S.Form->PageControl->setCurrentWidget(S.Form->TabSheetDashboard);
  const QStringList panel = PanelRows(2);
  ASSERT_FALSE(panel.isEmpty());
  EXPECT_EQ(panel.first(), PanelText(Last));
}

INSTANTIATE_TEST_SUITE_P(Routes, JournalLink,
                         ::testing::Values(TRoute::Port, TRoute::Gateway, TRoute::PanelCheck),
                         [](const ::testing::TestParamInfo<TRoute> &I) {
                           return I.param == TRoute::Port      ? std::string("PortChange")
                                  : I.param == TRoute::Gateway ? std::string("GatewayAndPoll")
                                                               : std::string("PanelCheck");
                         });

namespace {

// Relay A alone behind the gateway, its ring as a test writes it.
class PanelRingLink : public JournalLink {
protected:
  // A's ring holds Plan, written up to a minute before its clock (stopped at Clock).
  void Ring(const TSimEventSeries &Plan, const QDateTime &Clock) {
    Bytes = S.Device.FileFrameBytes(SimFileEventRing);
    Records = SimEventSeries(Plan, Clock.addSecs(-60));
    S.Device.SetFile(SimFileEventRing, WriteEventRing(Records, Bytes, 256), Bytes);
    S.Device.SetClock(Clock, false);
    Log = std::make_unique<TSimEventLog>(S.Device, Plan.Count % 256);
  }
  // The relay logs N events a minute apart from its clock on; their panel texts.
  QStringList LogEvents(int N) {
    QStringList out;
    for (int i = 0; i < N; ++i) {
      S.Device.SetClock(S.Device.Clock().addSecs(60), false);
      Log->Log(20, i % 2 == 0);
      out << PanelText(S.Device.Clock());
    }
    return out;
  }
  void ShowPanel() {
    ASSERT_NO_FATAL_FAILURE(Start(false));
    S.Form->PageControl->setCurrentWidget(S.Form->TabSheetDashboard);
  }
  int Bytes = 0;
  std::vector<TSimEventRecord> Records;
  std::unique_ptr<TSimEventLog> Log;
};

} // namespace

// The relay's clock was set back an hour 46 events ago (a ring not full), and
// it logs on: the panel's newest row is the relay's newest event once the
// ring is read to its end (at the start, after "Опрос"), and within two
// refreshes of each new event.
TEST_F(PanelRingLink, ABackwardClockStepInTheRingKeepsThePanelOnTheNewestEvent) {
  TSimEventSeries plan;
  plan.Count = 146;
  plan.StepAt = 100;
  plan.StepBackMinutes = 60;
  Ring(plan, Last);
  ASSERT_NO_FATAL_FAILURE(ShowPanel());
  QStringList rows = PanelRows(ScanRefreshes);
  ASSERT_FALSE(rows.isEmpty());
  EXPECT_EQ(rows.first(), PanelText(Records.back().Moment));
  for (int round = 0; round < 3; ++round) {
    const QStringList logged = LogEvents(round + 1);
    rows = PanelRows(2);
    ASSERT_FALSE(rows.isEmpty());
    EXPECT_EQ(rows.first(), logged.last()) << round;
    EXPECT_EQ(rows.filter(logged.last()).size(), 1) << round;
  }
  ASSERT_EQ(S.Identify(), "Готово");
  S.Form->PageControl->setCurrentWidget(S.Form->TabSheetDashboard);
  const QStringList logged = LogEvents(1);
  rows = PanelRows(ScanRefreshes);
  ASSERT_FALSE(rows.isEmpty());
  EXPECT_EQ(rows.first(), logged.last());
}

// A relay running an hour ahead of the computer: "Установить время" sets it
// back, and the events it logs after are older by their stamps than those
// before: the panel shows each as it comes, within two refreshes.
TEST_F(PanelRingLink, SetTimeOnARelayAnHourAheadKeepsThePanelOnTheNewestEvent) {
  const QDateTime pc = Last;
  TSimEventSeries plan;
  plan.Count = 20;
  Ring(plan, pc.addSecs(3600));
  ASSERT_NO_FATAL_FAILURE(ShowPanel());
  QStringList rows = PanelRows(2);
  ASSERT_FALSE(rows.isEmpty());
  ASSERT_EQ(rows.first(), PanelText(Records.back().Moment));
  S.Form->SetClock([pc] { return pc; });
  S.Form->daSetTime->trigger();
  ASSERT_TRUE(S.WaitIdle());
  ASSERT_EQ(S.Device.Clock(), pc);
  for (int round = 0; round < 3; ++round) {
    const QStringList logged = LogEvents(2);
    rows = PanelRows(2);
    ASSERT_GE(rows.size(), 2);
    EXPECT_EQ(rows.mid(0, 2), (QStringList{logged[1], logged[0]})) << round;
  }
}

// A full ring (300 events into 256 slots, the oldest in slot 44): once read
// whole the panel shows the newest, then each new event once, never the
// ring's oldest.
TEST_F(PanelRingLink, AFullRingShowsNoRecordTwiceAndNeverItsOldestAsNew) {
  TSimEventSeries plan;
  plan.Count = 300;
  Ring(plan, Last);
  ASSERT_NO_FATAL_FAILURE(ShowPanel());
  QStringList seen = PanelRows(ScanRefreshes - 1);
  EXPECT_TRUE(seen.isEmpty()) << "the ring's end is known only once it is read whole";
  seen = PanelRows(1);
  ASSERT_EQ(seen.size(), 5);
  EXPECT_EQ(seen.first(), PanelText(Records.back().Moment));
  const QString oldest = PanelText(Records[300 - 256].Moment);
  QStringList shown = seen;
  for (int round = 0; round < 4; ++round) {
    const QStringList logged = LogEvents(3);
    const QStringList rows = PanelRows(1);
    ASSERT_GE(rows.size(), 3);
    EXPECT_EQ(rows.mid(0, 3), (QStringList{logged[2], logged[1], logged[0]})) << round;
    EXPECT_FALSE(rows.contains(oldest)) << round;
    for (const QString &row : rows.mid(0, 3)) {
      EXPECT_FALSE(shown.contains(row)) << row.toStdString();
      shown << row;
    }
  }
}
