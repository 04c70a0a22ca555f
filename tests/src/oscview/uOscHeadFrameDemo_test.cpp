#include "uOscHeadFrame.h"

#include "demoLink.h"
#include "uComtrade.h"
#include "uDevSimFiles.h"
#include "uEventFrame.h"
#include "uFiles.h"
#include "uOscContent.h"
#include "uSimFault.h"
#include "uStringGrid.h"

#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <gtest/gtest.h>

namespace {

struct TTab {
  QString Dat, Caption, Hint, Frame;
  int Tag = 0;
};

class OscHeadFrameDemo : public ::testing::Test {
protected:
  void SetUp() override {
    L.SetIni("[osc]\r\nreadEvent=1\r\nlimit=1\r\n");
    QDir().mkpath(Program());
    Events.SetHost({[this] { return L.Gen.get(); }, {}, {}, [] { return true; }, [this] { return L.Dir.path(); }});
    Events.Init();
    Events.SetDescriptor(L.Desc.Root);
    Frame.SetHost({{[this] { return L.Gen.get(); }, {}, [this](const QString &Text) { L.Status << Text; },
                    [this] { return Idle; }, [this] { return L.Dir.path(); }},
                   [this] { return Program(); },
                   [this] { return std::shared_ptr<const TEventLayout>(Events.Layout()); }, [] { return false; },
                   [this](const QString &Dat, const QString &Caption, int Tag, const QString &Hint, const QString &Name) {
                     Tabs.push_back({Dat, Caption, Hint, Name, Tag});
                   },
                   {}});
    Frame.Init();
    Frame.SetDescriptor(&L.Desc);
    ASSERT_TRUE(L.Run([this] { Frame.ReRead(); }));
  }
  QString Program() const { return L.Dir.filePath("prog"); }
  QString Saved(const QString &Ext) const { return QDir(Program()).filePath(Frame.Heads()[0].FFileName + Ext); }

  TDemoLink L;
  Tkv2EventFrame Events;
  TOscHeadFrame Frame;
  std::vector<TTab> Tabs;
  bool Idle = true;
};

} // namespace

TEST_F(OscHeadFrameDemo, ListsNewestFirstAcrossTheWrapAndReadsOneWithItsEventsAndWindow) {
  // Slots 30, 31, 0 hold the three oscillograms: files 1, 32, 31 newest first.
  ASSERT_EQ(Frame.Heads().size(), 3u);
  EXPECT_EQ(Frame.Heads()[0].FFileNo, 1);
  EXPECT_EQ(Frame.Heads()[1].FFileNo, 32);
  EXPECT_EQ(Frame.Heads()[2].FFileNo, 31);
  EXPECT_EQ(Frame.sgOscHead->Cells(1, 1), "2026-03-05 16:15:01.250");
  EXPECT_EQ(Frame.sgOscHead->Cells(2, 1), "2");
  EXPECT_EQ(Frame.sgOscHead->Cells(5, 1), "") << "nothing saved yet";

  // "События" and "Лимит": half a second before the trigger to one after.
  Frame.cbEvents->setChecked(true);
  Frame.cbLimit->setChecked(true);
  Frame.cbLimitClick();
  Frame.EditBefore0->setText("0,5");
  Frame.EditAfter0->setText("1");
  ASSERT_TRUE(L.Run([this] {
    Frame.sgOscHeadDblClick(1);
    EXPECT_FALSE(Frame.cbLimit->isEnabled());
  }));
  EXPECT_EQ(L.Status.last(), "Готово") << L.Status.join("; ").toStdString();
  EXPECT_TRUE(Frame.cbLimit->isEnabled() && Frame.cbEvents->isEnabled());
  ASSERT_EQ(Tabs.size(), 1u);
  EXPECT_EQ(Tabs[0].Caption, "161501      ");
  EXPECT_EQ(Tabs[0].Tag, 1);
  EXPECT_EQ(Tabs[0].Hint, "osc/1_2026-03-05_161501");
  EXPECT_EQ(Tabs[0].Frame, "OscFrame1");
  EXPECT_EQ(Tabs[0].Dat, Saved(".dat"));
  // The side file holds the alarm of that second.
  const QByteArray side = LoadFileBytes(Saved(".xml"));
  EXPECT_EQ(side.count("<event "), 3) << side.toStdString();
  EXPECT_TRUE(side.contains("moment=\"26/03/05,16:15:02.650\"")) << side.toStdString();
  TComtradeConfig cfg;
  QString warning;
  cfg.LoadFromFile(Saved(".cfg"), warning);
  EXPECT_EQ(cfg.Rate(0).LastSample + 1, 2700) << "1.5 s at 1800 samples per second";
  EXPECT_EQ(Frame.sgOscHead->Cells(5, 1), "osc/1_2026-03-05_161501");
  EXPECT_EQ(Frame.sgOscHead->Cells(6, 1), "1.50 сек.");

  // The whole record again: the same pair, the next frame; input 1 is on from
  // the trigger (sample 1800) for 0.8 s, as the journal's alarm says.
  Frame.cbLimit->setChecked(false);
  Frame.cbRead->setChecked(true);
  ASSERT_TRUE(L.Run([this] { Frame.sgOscHeadDblClick(1); }));
  ASSERT_EQ(Tabs.size(), 2u);
  EXPECT_EQ(Tabs[1].Frame, "OscFrame2");
  cfg.LoadFromFile(Saved(".cfg"), warning);
  TComtradeData data;
  data.LoadFromFile(Saved(".dat"), &cfg);
  ASSERT_EQ(cfg.Rate(0).LastSample + 1, 3600);
  for (int sample : {0, 1799, 1800, 3239, 3240, 3599})
    EXPECT_EQ(data.GetDigitalValue(0, sample), sample >= 1800 && sample < 3240 ? 1 : 0) << sample;
  // The analog samples are the generated words.
  const TOscRecordPlan plan = DemoOscPlan();
  ASSERT_EQ(cfg.AnalogCount(), int(plan.Analog.size()));
  for (int c : {0, 7})
    for (int sample : {0, 17, 18, 1801, 3599})
      EXPECT_EQ(data.GetRaw(c, sample), OscWaveSample(plan.Analog[size_t(c)], sample, plan.SampleRate)) << c << " " << sample;
}

TEST_F(OscHeadFrameDemo, ExceptionInMidReadKeepsThePairAndABusyLinkIgnoresTheClick) {
  Frame.cbRead->setChecked(true);
  ASSERT_TRUE(L.Run([this] { Frame.sgOscHeadDblClick(2); }));
  const QByteArray dat = LoadFileBytes(QDir(Program()).filePath(Frame.Heads()[1].FFileName + ".dat"));
  TSimFault f;
  f.Kind = TSimFaultKind::Exception;
  f.Value = 4;
  f.Function = FN_READ_FILE_FRAME;
  f.After = 50;
  L.Device.SetFault(f);
  Frame.cbEvents->setChecked(true);
  ASSERT_TRUE(L.Run([this] { Frame.sgOscHeadDblClick(2); }));
  EXPECT_TRUE(L.Status.contains("Ошибка устройства 04")) << L.Status.join("; ").toStdString();
  EXPECT_TRUE(Frame.cbLimit->isEnabled() && Frame.cbEvents->isEnabled());
  EXPECT_EQ(LoadFileBytes(QDir(Program()).filePath(Frame.Heads()[1].FFileName + ".dat")), dat);
  EXPECT_EQ(Tabs.size(), 1u);
  L.Device.SetFault(TSimFault());

  Idle = false;
  Frame.sgOscHeadDblClick(2);
  EXPECT_EQ(L.Gen->ChainCount(), 0);
  Idle = true;
  // Without the read box a saved copy opens at once.
  Frame.cbRead->setChecked(false);
  Frame.sgOscHeadDblClick(2);
  EXPECT_EQ(L.Gen->ChainCount(), 0);
  EXPECT_EQ(Tabs.size(), 2u);
}

// The notes and channel settings of a side file that no longer parses are
// the engineer's: the events re-read keeps the file as it was beside the new
// one, and says so.
TEST_F(OscHeadFrameDemo, EventsReReadOverADamagedSideFileKeepsItsCopyAndSaysSo) {
  Frame.cbEvents->setChecked(true);
  Frame.cbRead->setChecked(true);
  ASSERT_TRUE(L.Run([this] { Frame.sgOscHeadDblClick(1); }));
  const QByteArray whole = LoadFileBytes(Saved(".xml"));
  const QByteArray cut = whole.chopped(20);
  SaveFileBytes(Saved(".xml"), cut);
  L.Status.clear();
  ASSERT_TRUE(L.Run([this] { Frame.sgOscHeadDblClick(1); }));
  EXPECT_EQ(LoadFileBytes(Saved(".xml.bad")), cut);
  EXPECT_EQ(LoadFileBytes(Saved(".xml")).count("<event "), 3);
  const QString told = "Поврежденный файл сохранен как " + Saved(".xml.bad");
  EXPECT_EQ(L.Status.last(), told) << L.Status.join("; ").toStdString();
  EXPECT_EQ(Tabs.size(), 2u);
}

TEST_F(OscHeadFrameDemo, ListAndJournalColumnsHoldTheirLongestTextsInTheirFonts) {
  // The list's start times, lengths and file names.
  TStringGrid &grid = *Frame.sgOscHead;
  const QFontMetrics gridFont(grid.font());
  for (int c = 1; c < grid.columnCount(); ++c) {
    int longest = 0;
    for (int r = 0; r < grid.rowCount(); ++r)
      longest = std::max(longest, gridFont.horizontalAdvance(grid.Cells(c, r)));
    EXPECT_GE(grid.columnWidth(c), longest) << "list column " << c;
  }
  // The journal's texts and values, and its rotated captions (the bits' names with their numbers).
  ASSERT_TRUE(L.Run([this] { Events.ReadEventLog(); }));
  const TEventTableModel &m = Events.Model();
  ASSERT_GT(m.ShownCount(), 0);
  const QFontMetrics cellFont(Events.dgEvent->font());
  auto *header = static_cast<TEventHeader *>(Events.dgEvent->horizontalHeader());
  const QFontMetrics captionFont(header->font());
  int bits = 0;
  for (int c = 0; c < m.columnCount(); ++c) {
    for (int r = 0; r < m.ShownCount(); ++r)
      EXPECT_GE(Events.dgEvent->columnWidth(c), cellFont.horizontalAdvance(m.index(r, c).data().toString()) + 2)
          << "journal column " << c << " row " << r;
    const QString caption = m.headerData(c, Qt::Horizontal, TEventTableModel::CaptionRole).toString();
    EXPECT_GE(header->CaptionRowHeight() - 2, captionFont.horizontalAdvance(caption)) << caption.toStdString();
    bits += m.Column(c).FKind == ekBit;
  }
  EXPECT_GT(bits, 0);
}
