#include "uEventReport.h"

#include "event_test_util.h"
#include "report_test_util.h"
#include "uReportPainter.h"

#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {
const TReportSetup TestSetup{QStringLiteral("kv"), QStringLiteral("/opt/kv/kv")};
enum : int { Start = 1, Trip = 2 };

// The journal oldest first, as the report visits it.
TEventLogItems OldestFirst(const TEventLogItems &Items) { return TEventLogItems(Items.rbegin(), Items.rend()); }

// The event lines of a report ("moment - name").
QStringList EventLines(const TReportDocument &Doc) {
  QStringList out;
  for (const TReportRow &r : ReportRows(Doc))
    if (r.Cells.size() == 1 && r.Cells[0].contains(QStringLiteral(" - ")) && r.Cells[0].startsWith("20") &&
        r.Cells[0][4] == '-')
      out << r.Cells[0];
  return out;
}

QString Line(const TEventLogItem &Item) { return MomentText(Item.FMoment) + " - " + Item.GetEventName(); }

// The index (oldest first) of the N-th record with Code and State.
int Nth(const TEventLogItems &Oldest, int Code, bool State, int N = 0) {
  for (size_t i = 0; i < Oldest.size(); ++i)
    if (Oldest[i]->FByteCode == Code && Oldest[i]->FState == State && N-- == 0)
      return int(i);
  return -1;
}

TEventReportJob Whole(const TEventLogItems &Items, bool Alarm) {
  TEventReportJob job;
  job.Alarm = Alarm;
  job.Title = QStringLiteral("Авария");
  job.FromText = MomentText(Items.back()->FMoment);
  job.ToText = MomentText(Items.front()->FMoment);
  return job;
}
} // namespace

TEST(EventReport, MomentTextsAndEdges) {
  EXPECT_EQ(MomentText(ParseMoment("2024-05-14 13:07:09.120")), "2024-05-14 13:07:09.120");
  EXPECT_EQ(MomentText(ParseMoment("2024-02-30 13:07:09.120")), "2000-01-01 00:30:00.000");
  EXPECT_EQ(MomentText(ParseMoment("")), "2000-01-01 00:30:00.000");
  const struct {
    int Code, Edge;
    bool State, Match;
  } cases[] = {{1, edRising, true, true},  {1, edRising, false, false}, {1, edFalling, false, true},
               {1, edFalling, true, false}, {1, edAny, false, true},    {3, edAny, true, false}};
  for (const auto &c : cases)
    EXPECT_EQ(EventMatches({1, 2}, c.Code, c.Edge, c.State), c.Match) << c.Code << " " << c.Edge << " " << c.State;
}

TEST(EventReport, NarrowedPeriodPrintsExactlyTheRecordsBetweenOldestFirst) {
  const TDemoJournal j;
  const TEventLogItems oldest = OldestFirst(j.Items);
  ASSERT_GT(oldest.size(), 12u);
  TEventReportJob job = Whole(j.Items, false);
  job.FromText = MomentText(oldest[3]->FMoment);
  job.ToText = MomentText(oldest[9]->FMoment);
  QStringList want;
  for (int i = 3; i <= 9; ++i)
    want << Line(*oldest[size_t(i)]);
  const TReportDocument doc = WriteEventReport(job, j.Items, TestSetup);
  EXPECT_EQ(EventLines(doc), want);
  const QList<TReportRow> rows = ReportRows(doc);
  EXPECT_EQ(rows[1].Cells[0], "За період з " + job.FromText + " по " + job.ToText);
  EXPECT_EQ(rows[2].Cells, QStringList({"Назва", "Значення", "Подія"}));
}

TEST(EventReport, AlarmIsTheLastOneFromItsStartEventToBeforeItsStopEventByEdge) {
  const TDemoJournal j;
  const TEventLogItems oldest = OldestFirst(j.Items);
  const int lastOn = Nth(oldest, Start, true, 2), lastTrip = Nth(oldest, Trip, true, 2);
  const int lastOff = Nth(oldest, Start, false, 2), end = int(oldest.size()) - 1;
  ASSERT_TRUE(lastOn >= 0 && lastTrip == lastOn + 1 && lastOff == lastTrip + 1 && Nth(oldest, Start, true, 3) < 0);
  const struct {
    QList<int> StartCodes;
    int StartEdge, StopCode, StopEdge, ToIndex, First, Last;
  } cases[] = {
      {{Start}, edRising, Start, edFalling, end, lastOn, lastTrip},            // the whole last alarm
      {{Start}, edFalling, Trip, edAny, end, lastOff, end},                    // no stop after it: to the period's end
      {{Trip}, edAny, Start, edAny, end, lastTrip, lastTrip},                  // the stop record is not printed
      {{Start, Trip}, edRising, Start, edFalling, end, lastOn, lastTrip},      // back from the trip to the alarm's start
      {{Start}, edRising, Start, edFalling, lastOn - 1, Nth(oldest, Start, true, 1), Nth(oldest, Trip, true, 1)},
  };
  for (const auto &c : cases) {
    TEventReportJob job = Whole(j.Items, true);
    job.ToText = MomentText(oldest[size_t(c.ToIndex)]->FMoment);
    job.StartCodes = c.StartCodes;
    job.StartEdge = c.StartEdge;
    job.StopCodes = {c.StopCode};
    job.StopEdge = c.StopEdge;
    QStringList want;
    for (int i = c.First; i <= c.Last; ++i)
      want << Line(*oldest[size_t(i)]);
    EXPECT_EQ(EventLines(WriteEventReport(job, j.Items, TestSetup)).join('\n').toStdString(), want.join('\n').toStdString())
        << c.StartEdge << " " << c.StopCode;
  }
  TEventReportJob none = Whole(j.Items, true);
  none.StartCodes = {3};
  const TReportDocument doc = WriteEventReport(none, j.Items, TestSetup);
  ASSERT_EQ(ReportRows(doc).size(), 3); // title, period line, column headers
}

TEST(EventReport, SignalsMeasuresAndStateBoxes) {
  const TDemoJournal j;
  const TEventLogItems oldest = OldestFirst(j.Items);
  const int startOn = Nth(oldest, Start, true, 2); // the last alarm
  TEventReportJob job = Whole(j.Items, true);
  job.StartCodes = {Start};
  job.StartEdge = edRising;
  job.StopCodes = {Start};
  job.StopEdge = edFalling;
  job.Measures = {0};
  job.Permanent = {{16, QStringLiteral("Реле 1")}};   // relay 1: clear, then set
  job.Variable = {{0, QStringLiteral("Вход 1")}};     // input 1: set at both records
  for (bool color : {true, false}) {
    job.Color = color;
    const TReportDocument doc = WriteEventReport(job, j.Items, TestSetup);
    const QList<TReportRow> rows = ReportRows(doc);
    ASSERT_EQ(rows.size(), 3 + 3 + 2) << color; // the start with its measure, relay and input; the trip without the input
    EXPECT_EQ(rows[4].Cells[0], oldest[size_t(startOn)]->Layout().GetColumn(oldest[size_t(startOn)]->FindColumnOfKind(ekMeasure, 0)).FCaption);
    const TEventLogItem &first = *oldest[size_t(startOn)];
    EXPECT_EQ(rows[4].Cells[1], first.GetCell(first.FindColumnOfKind(ekMeasure, 0)).Text);
    EXPECT_FALSE(rows[4].Cells[1].isEmpty());
    EXPECT_EQ(rows[4].Cells.last(), "Реле 1");
    EXPECT_EQ(rows[5].Cells, QStringList{"Вход 1"});
    EXPECT_EQ(rows[7].Cells.last(), "Реле 1");
    QList<TReportItem> boxes;
    for (const TReportItem &it : doc.Pages()[0].Items)
      if (it.Kind == TReportItemKind::Box)
        boxes << it;
    ASSERT_EQ(boxes.size(), 5);
    const struct {
      double X;
      bool State;
      double RowTop;
    } want[] = {{15, true, rows[3].Top}, {124, false, rows[4].Top}, {124, true, rows[5].Top},
                {15, true, rows[6].Top}, {124, true, rows[7].Top}};
    for (int i = 0; i < 5; ++i) {
      EXPECT_EQ(boxes[i].Rect, QRectF(QPointF(want[i].X, want[i].RowTop + 1), QPointF(want[i].X + 3, want[i].RowTop + 4))) << i;
      EXPECT_EQ(boxes[i].Color, StateColor(want[i].State, color)) << i;
      EXPECT_TRUE(boxes[i].Border);
    }
  }
  EXPECT_EQ(StateColor(false, true), QColor(255, 0, 0));
  EXPECT_EQ(StateColor(true, true), QColor(0, 128, 0));
  EXPECT_EQ(StateColor(false, false), QColor(Qt::black));
  EXPECT_EQ(StateColor(true, false), QColor(Qt::white));
}

TEST(EventReport, BoxesStandBesideCaptionsThatAreWhole) {
  const TDemoJournal j;
  TEventReportJob job = Whole(j.Items, false);
  job.Measures = {0};
  const QString longCaption = QStringLiteral("Дискретный вход 12 - Входы и выходы терминала защиты присоединения 10 кВ");
  job.Permanent = {{16, longCaption}, {0, QStringLiteral("Вход 1")}};
  const TReportDocument doc = WriteEventReport(job, j.Items, TestSetup);
  int wrapped = 0;
  for (const TReportPage &page : doc.Pages()) {
    QList<QRectF> texts, boxes;
    for (const TReportItem &it : page.Items) {
      if (it.Kind == TReportItemKind::Box)
        boxes << it.Rect;
      if (it.Kind != TReportItemKind::Text || it.FontPt != TReportDocument::BodyPt)
        continue; // the header and the footer are lines of their own
      texts << it.Rect;
      // Whole: the text's lines fit the height it was given.
      EXPECT_LE(TReportDocument::TextHeightMm(it.Text, it.Rect.width(), it.FontPt, it.Bold), it.Rect.height() + 1e-9)
          << it.Text.toStdString();
      wrapped += it.Text == longCaption && it.Wrap && it.Rect.height() > TReportDocument::LineMm;
    }
    for (const QRectF &b : boxes)
      for (const QRectF &t : texts)
        EXPECT_FALSE(b.intersects(t)) << b.left() << " " << b.top() << " / " << t.left() << " " << t.top();
  }
  EXPECT_GT(wrapped, 0);
}
