#include "uEventPDFReportFrame.h"
#include "../../../common/uErrorOf.h"

#include "../event_test_util.h"
#include "../report_test_util.h"
#include "uErrors.h"
#include "uFiles.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTabWidget>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <algorithm>

namespace {
const TReportSetup TestSetup{QStringLiteral("kv"), QStringLiteral("/opt/kv/kv")};

// Items of a list as "caption" or "caption*" when ticked.
QStringList Items(QListWidget *List) {
  QStringList out;
  for (int i = 0; i < List->count(); ++i)
    out << List->item(i)->text() + (List->item(i)->checkState() == Qt::Checked ? "*" : "");
  return out;
}

const char *const Template = R"(<?xml version="1.0" encoding="UTF-8"?>
<report title="Период">
<filter-period caption="Интервал"/>
<filter-level caption="Уровни"><item id="0" pin="-1" caption="Аварии" checked="1"/></filter-level>
<filter-measure caption="Величины"><item id="1" caption="Ia" checked="1"/><item id="2" pin="-1" caption="Ib" checked="0"/></filter-measure>
<filter-discret caption="Всегда" compare="0"><item id="17" pin="3" caption="Вход 4" checked="1"/></filter-discret>
<filter-discret caption="При изменении" compare="1"/>
<alarm-report title="Авария">
<filter-period caption="Окно"/>
<filter-level1 caption="Пуск"><item level="1" caption="Аварии" checked="1"/><item level="2" checked="0"/></filter-level1>
<filter-level2 caption="Возврат"><item level="1" caption="Аварии" checked="1"/></filter-level2>
<filter-event1 caption=""><item code="1" level="1" caption="Пуск МТЗ-1" checked="1"/></filter-event1>
<filter-event2 caption=""><item code="1" level="1" checked="1"/></filter-event2>
<filter-measure caption="Токи"/>
<filter-discret caption="Реле" compare="0"/>
<filter-discret caption="Входы" compare="1"/>
</alarm-report></report>
)";

QStringList State(TEventPDFReportFrame &F) {
  return {F.EditTitle->text(),
          F.LabelPeriod->text(),
          F.LabelLevel->text(),
          F.LabelMeasure->text(),
          F.LabelPermanent->text(),
          F.LabelVariable->text(),
          Items(F.CheckListBoxLevel).join('|'),
          Items(F.CheckListBoxMeasure).join('|'),
          Items(F.CheckListBoxPermanent).join('|'),
          Items(F.CheckListBoxVariable).join('|'),
          F.EditAlarmTitle->text(),
          F.LabelAlarmPeriod->text(),
          F.LabelAlarmLevel1->text(),
          F.LabelAlarmLevel2->text(),
          Items(F.clbStartLevel).join('|'),
          Items(F.clbStopLevel).join('|'),
          Items(F.clbStartEvent).join('|'),
          Items(F.clbStopEvent).join('|'),
          F.LabelAlarmMeasure->text(),
          F.LabelAlarmPermanent->text(),
          F.LabelAlarmVariable->text()};
}
} // namespace

TEST(EventPDFReportFrame, TemplateSavedAndLoadedAgainKeepsEverything) {
  QTemporaryDir dir;
  const QString path = dir.filePath("EventReportTemplate.xml");
  SaveFileBytes(path, Template);
  TEventPDFReportFrame first(nullptr, TestSetup);
  first.Open(path);
  const QStringList loaded = State(first);
  EXPECT_EQ(loaded, QStringList({"Период",  "Интервал", "Уровни",      "Величины", "Всегда",      "При изменении",
                                 "Аварии*", "Ia*|Ib",   "Вход 4*",     "",         "Авария",      "Окно",
                                 "Пуск",    "Возврат",  "Аварии*|N/D", "Аварии*",  "Пуск МТЗ-1*", "N/D*",
                                 "Токи",    "Реле",     "Входы"}));
  first.SaveAs(dir.filePath("copy.xml"));
  EXPECT_EQ(first.LabelFileName->text(), "copy.xml");
  TEventPDFReportFrame second(nullptr, TestSetup);
  second.Open(dir.filePath("copy.xml"));
  EXPECT_EQ(State(second), loaded);
  // The empty signal list keeps its compare, so its caption came back.
  EXPECT_TRUE(LoadFileBytes(dir.filePath("copy.xml")).contains(R"(caption="При изменении" compare="1")"));
}

TEST(EventPDFReportFrame, TemplateErrorsAndAMissingAlarmReport) {
  QTemporaryDir dir;
  TEventPDFReportFrame frame(nullptr, TestSetup);
  const QString missing = dir.filePath("none.xml");
  EXPECT_EQ(ErrorOf([&] { frame.Open(missing); }), "cannot open " + missing);
  SaveFileBytes(dir.filePath("broken.xml"), "<report>\n<filter-period caption=\"x\">\n</report>\n");
  const QString broken = ErrorOf([&] { frame.Open(dir.filePath("broken.xml")); });
  EXPECT_TRUE(broken.contains("line 3") && broken.endsWith("\rЪ</report>")) << broken.toStdString();
  SaveFileBytes(dir.filePath("plain.xml"), "<report title=\"T\"/>");
  frame.Open(dir.filePath("plain.xml"));
  frame.SaveTemplate();
  EXPECT_TRUE(LoadFileBytes(dir.filePath("plain.xml")).contains("<alarm-report title=\"\">"));
}

TEST(EventPDFReportFrame, DescriptorListsOrderedByLevelThenCodeWithTicksByCode) {
  QTemporaryDir dir;
  SaveFileBytes(dir.filePath("t.xml"), Template);
  const TDemoJournal j;
  TEventPDFReportFrame frame(nullptr, TestSetup);
  frame.Open(dir.filePath("t.xml"));
  frame.clbStartLevel->item(1)->setCheckState(Qt::Checked);
  frame.SetDescriptor(&j.Desc);
  EXPECT_EQ(Items(frame.CheckListBoxLevel), QStringList({"Аварии*", "Предупреждения", "Сообщения"}));
  EXPECT_EQ(Items(frame.clbStartLevel), QStringList({"Аварии*", "Предупреждения*", "Сообщения"}));
  EXPECT_EQ(Items(frame.clbStartEvent),
            QStringList({"Пуск МТЗ-1*", "Срабатывание МТЗ-1", "Срабатывание ЗМН", "Неисправность цепей напряжения"}));
  EXPECT_EQ(Items(frame.clbStopEvent), QStringList({"Пуск МТЗ-1*", "Срабатывание МТЗ-1"}));
  frame.clbStartLevel->item(0)->setCheckState(Qt::Unchecked); // rebuilds the start events
  EXPECT_EQ(Items(frame.clbStartEvent), QStringList({"Срабатывание ЗМН", "Неисправность цепей напряжения"}));
  frame.clbStartLevel->item(2)->setCheckState(Qt::Checked);
  EXPECT_EQ(Items(frame.clbStartEvent).last(), "Изменение уставок");
  EXPECT_EQ(frame.CheckListBoxMeasure->count(), 4);
  EXPECT_EQ(frame.CheckListBoxMeasure->item(0)->checkState(), Qt::Checked); // kept by position
}

TEST(EventPDFReportFrame, RunLaysOutTheShownTabAndDoesNothingWithoutRecords) {
  QTemporaryDir dir;
  SaveFileBytes(dir.filePath("t.xml"), Template);
  const TDemoJournal j;
  TEventPDFReportFrame frame(nullptr, TestSetup);
  frame.Open(dir.filePath("t.xml"));
  frame.SetDescriptor(&j.Desc);
  int previews = 0;
  QStringList titles;
  const TReportPreviewHook old = SetReportPreviewHook([&](const TReportDocument &D) {
    ++previews;
    for (const TReportItem &it : D.Pages()[0].Items)
      if (it.FontPt == TReportDocument::TitlePt)
        titles << it.Text;
  });
  frame.Button1Click();
  const TEventLogItems none;
  frame.SetEventList(&none);
  frame.Button1Click();
  EXPECT_EQ(previews, 0);
  frame.SetEventList(&j.Items);
  frame.SetEventList(&j.Items); // a second opening fills the lists anew
  EXPECT_EQ(frame.cbAlarmStart->count(), int(j.Items.size()));
  EXPECT_EQ(frame.cbAlarmStart->currentText(), MomentText(j.Items.back()->FMoment));
  EXPECT_EQ(frame.cbAlarmStop->currentText(), MomentText(j.Items.front()->FMoment));
  frame.Button1Click();
  frame.PageControl->setCurrentIndex(1);
  frame.Button1Click();
  SetReportPreviewHook(old);
  EXPECT_EQ(previews, 2);
  EXPECT_EQ(titles, QStringList({"Авария", "Период"}));
}

// The relay's clock set back two hours before its 40 newest events, in a
// ring written past its end: the journal's order puts them at rows 217..256,
// below the oldest, and neither end of the list is the earliest stamp. The
// default period still runs from the earliest stamp to the latest, so the
// period report prints every record.
TEST(EventPDFReportFrame, DefaultPeriodRunsFromTheEarliestStampToTheLatestWhateverTheOrder) {
  QTemporaryDir dir;
  SaveFileBytes(dir.filePath("t.xml"), Template);
  const TDemoJournal demo;
  TSimEventSeries plan;
  plan.Count = 300;
  plan.StepAt = 260;
  plan.StepBackMinutes = 120;
  const QDateTime last(QDate(2026, 3, 9), QTime(8, 0), Qt::UTC);
  const std::vector<TSimEventRecord> written = SimEventSeries(plan, last);
  auto layout = std::make_shared<TEventLayout>();
  layout->SetDescriptor(demo.Desc.Root, QStringLiteral("-"));
  TEventLogItems items = DecodeEventRecords(WriteEventRing(written, layout->RecordLength(), 256), layout);
  OrderEventRing(items);
  ASSERT_EQ(items.size(), 256u);
  for (int row = 217; row <= 256; ++row)
    EXPECT_EQ(MomentText(items[size_t(row - 1)]->FMoment),
              MomentText(QDateTimeToDateTime(written[size_t(299 - (row - 217))].Moment)))
        << row;
  const auto [earliest, latest] =
      std::minmax_element(items.begin(), items.end(),
                          [](const TEventLogItemPtr &A, const TEventLogItemPtr &B) { return A->FMoment < B->FMoment; });
  ASSERT_NE(earliest, items.end() - 1) << "the list's end is the earliest stamp: no step shown";

  TEventPDFReportFrame frame(nullptr, TestSetup);
  frame.Open(dir.filePath("t.xml"));
  frame.SetDescriptor(&demo.Desc);
  frame.SetEventList(&items);
  EXPECT_EQ(frame.ComboBox1->currentText().toStdString(), MomentText((*earliest)->FMoment).toStdString());
  EXPECT_EQ(frame.ComboBox2->currentText().toStdString(), MomentText((*latest)->FMoment).toStdString());
  EXPECT_EQ(frame.cbAlarmStart->currentText(), frame.ComboBox1->currentText());
  EXPECT_EQ(frame.cbAlarmStop->currentText(), frame.ComboBox2->currentText());
  QStringList lines;
  const TReportPreviewHook old = SetReportPreviewHook([&](const TReportDocument &D) {
    for (const TReportRow &r : ReportRows(D))
      if (r.Cells.size() == 1 && r.Cells[0].startsWith("20") && r.Cells[0].contains(" - "))
        lines << r.Cells[0];
  });
  frame.PageControl->setCurrentIndex(1);
  frame.Button1Click();
  SetReportPreviewHook(old);
  EXPECT_EQ(lines.size(), 256);
}
