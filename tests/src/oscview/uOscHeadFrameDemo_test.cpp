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
#include <QFileInfo>
#include <QLineEdit>
#include <atomic>
#include <gtest/gtest.h>

namespace {

struct TTab {
  QString Dat, Caption, Hint, Frame;
  int Tag = 0;
};

// The demo terminal of Image as the identification names it (one route, address 1).
TUnitIdentity UnitOf(int Image) {
  return {QStringLiteral("tcp:127.0.0.1:502"), 1, BuildDeviceImage(DemoTerminalContent(Image)).Bytes.left(128), {}, {}};
}

QByteArray Bytes(const QString &Path) { return QFileInfo::exists(Path) ? LoadFileBytes(Path) : QByteArray("absent"); }

// The three files of a copy, to be compared byte for byte.
struct TCopyFiles {
  QByteArray Cfg, Dat, Xml;
  bool operator==(const TCopyFiles &) const = default;
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
    Frame.SetUnitSource([this] { return Unit; });
    ASSERT_TRUE(L.Run([this] { Frame.ReRead(); }));
  }
  QString Program() const { return L.Dir.filePath("prog"); }
  QString Saved(const QString &Ext) const { return QDir(Program()).filePath(Frame.Heads()[0].FFileName + Ext); }
  QString Path(const QString &Name) const { return QDir(Program()).filePath(Name); }
  TCopyFiles Files(const QString &Name) const {
    return {Bytes(Path(Name + ".cfg")), Bytes(Path(Name + ".dat")), Bytes(Path(Name + ".xml"))};
  }

  // Another relay answers on the line (or the same one again) and is
  // identified: the list is emptied and read again, as the window does.
  void Identify(int Image) {
    LoadDemoDevice(L.Device, Image);
    const QByteArray record = BuildOscRecord(OscPlanOfUnit(DemoOscPlan(), Image));
    for (int file : {31, 32, 1})
      L.Device.SetFile(file, record, SimOscFrameBytes);
    Unit = UnitOf(Image);
    Frame.Clear();
    ASSERT_TRUE(L.Run([this] { Frame.ReRead(); }));
  }
  // The record frames of FileNo asked of the relay since the logs were cleared.
  int RecordFramesRead(int FileNo) const {
    int n = 0;
    for (const QByteArray &pdu : L.Device.RequestLog())
      n += pdu.size() == 4 && uint8_t(pdu[0]) == FN_READ_FILE_FRAME && uint8_t(pdu[1]) == FileNo;
    return n;
  }
  // Whether the copy Name holds the samples of Plan (analog channels 0 and 7).
  bool HoldsSamples(const QString &Name, const TOscRecordPlan &Plan) const {
    TComtradeConfig cfg;
    QString warning;
    cfg.LoadFromFile(Path(Name + ".cfg"), warning);
    TComtradeData data;
    data.LoadFromFile(Path(Name + ".dat"), &cfg);
    for (int c : {0, 7})
      for (int sample : {0, 17, 1801, data.SampleCount() - 1})
        if (data.GetRaw(c, sample) != OscWaveSample(Plan.Analog[size_t(c)], sample, Plan.SampleRate))
          return false;
    return data.SampleCount() > 0;
  }
  // The engineer's note on channel 0 of the side file Name.
  void AddNote(const QString &Name, const QString &Text) {
    IXXMLDocument doc = NewXMLDocument();
    ASSERT_TRUE(doc->Load(Path(Name + ".xml")));
    doc->GetDocumentElement()->AddChild("channel")->AddChild("note")->SetStrAttr("text", Text);
    SaveXMLDocument(doc, Path(Name + ".xml"));
  }

  TDemoLink L;
  Tkv2EventFrame Events;
  TOscHeadFrame Frame;
  std::vector<TTab> Tabs;
  bool Idle = true;
  TUnitIdentity Unit = UnitOf(1);
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
// the engineer's, and it no longer says whose record it holds: the events
// re-read saves a copy beside it and leaves it as it was.
TEST_F(OscHeadFrameDemo, EventsReReadBesideADamagedSideFileLeavesItWhole) {
  Frame.cbEvents->setChecked(true);
  Frame.cbRead->setChecked(true);
  ASSERT_TRUE(L.Run([this] { Frame.sgOscHeadDblClick(1); }));
  const QString base = Frame.Heads()[0].FFileName;
  const QByteArray whole = LoadFileBytes(Path(base + ".xml"));
  const QByteArray cut = whole.chopped(20);
  SaveFileBytes(Path(base + ".xml"), cut);
  const TCopyFiles damaged = Files(base);
  ASSERT_TRUE(L.Run([this] { Frame.sgOscHeadDblClick(1); }));
  EXPECT_EQ(Files(base), damaged);
  EXPECT_FALSE(QFileInfo::exists(Path(base + ".xml.bad")));
  EXPECT_EQ(LoadFileBytes(Path(base + "_2.xml")).count("<event "), 3);
  EXPECT_EQ(L.Status.last(), "Готово") << L.Status.join("; ").toStdString();
  EXPECT_EQ(Frame.sgOscHead->Cells(5, 1), base + "_2");
  EXPECT_EQ(Tabs.size(), 2u);
}

// Every relay that sees one disturbance records it in the same second: the
// engineer collects the records relay after relay, and each relay's copy
// stays its own.
TEST_F(OscHeadFrameDemo, TwoRelaysRecordsOfOneSecondAreKeptApart) {
  const QString base = "osc/1_2026-03-05_161501";
  ASSERT_TRUE(L.Run([this] { Frame.sgOscHeadDblClick(1); }));
  ASSERT_EQ(Frame.sgOscHead->Cells(5, 1), base);
  AddNote(base, "A's note");
  const TCopyFiles a = Files(base);

  // B, another relay, lists its record of the same second with no copy, and
  // a double click reads it from B.
  Identify(2);
  EXPECT_EQ(Frame.sgOscHead->Cells(1, 1), "2026-03-05 16:15:01.250");
  EXPECT_EQ(Frame.sgOscHead->Cells(5, 1), "") << "A's copy is no copy of B's";
  L.Device.ClearLogs();
  ASSERT_TRUE(L.Run([this] { Frame.sgOscHeadDblClick(1); }));
  EXPECT_GT(RecordFramesRead(1), 0);
  EXPECT_EQ(L.Status.last(), "Готово") << L.Status.join("; ").toStdString();
  EXPECT_EQ(Files(base), a);
  EXPECT_TRUE(HoldsSamples(base + "_2", OscPlanOfUnit(DemoOscPlan(), 2)));
  ASSERT_EQ(Tabs.size(), 2u);
  EXPECT_EQ(Tabs[1].Dat, Path(base + "_2.dat"));
  EXPECT_EQ(Tabs[1].Caption, "161501      ");
  EXPECT_EQ(Frame.sgOscHead->Cells(5, 1), base + "_2");
  // With "Читать" B reads again over its own copy only.
  Frame.cbRead->setChecked(true);
  ASSERT_TRUE(L.Run([this] { Frame.sgOscHeadDblClick(1); }));
  EXPECT_EQ(Files(base), a);
  EXPECT_FALSE(QFileInfo::exists(Path(base + "_3.dat")));
  EXPECT_TRUE(HoldsSamples(base + "_2", OscPlanOfUnit(DemoOscPlan(), 2)));

  // A again: its copy, opened as it is, with no request.
  Identify(1);
  EXPECT_EQ(Frame.sgOscHead->Cells(5, 1), base);
  EXPECT_EQ(Frame.sgOscHead->Cells(6, 1), "2.00 сек.");
  Frame.cbRead->setChecked(false);
  L.Device.ClearLogs();
  Frame.sgOscHeadDblClick(1);
  EXPECT_EQ(L.Gen->ChainCount(), 0);
  EXPECT_TRUE(L.Device.RequestLog().empty());
  ASSERT_EQ(Tabs.size(), 4u);
  EXPECT_EQ(Tabs[3].Dat, Path(base + ".dat"));
  EXPECT_TRUE(HoldsSamples(base, DemoOscPlan()));
  // A's re-read of the same entry replaces its pair and keeps its notes.
  Frame.cbRead->setChecked(true);
  ASSERT_TRUE(L.Run([this] { Frame.sgOscHeadDblClick(1); }));
  EXPECT_EQ(Files(base).Dat, a.Dat);
  EXPECT_TRUE(LoadFileBytes(Path(base + ".xml")).contains("text=\"A's note\"")) << LoadFileBytes(Path(base + ".xml")).toStdString();
  EXPECT_FALSE(QFileInfo::exists(Path(base + "_3.dat")));
}

// A copy saved before copies named their relay may be any relay's: it is
// listed with the word that says so, opened only by a read, never replaced.
TEST_F(OscHeadFrameDemo, ACopyThatNamesNoRelayIsReadBesideNeverOpenedOrReplaced) {
  const QString base = "osc/1_2026-03-05_161501";
  ASSERT_TRUE(L.Run([this] { Frame.sgOscHeadDblClick(1); }));
  SaveFileBytes(Path(base + ".xml"), "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\r\n<root><channel id=\"0\"/></root>\r\n");
  const TCopyFiles old = Files(base);
  ASSERT_TRUE(L.Run([this] { Frame.ReRead(); }));
  EXPECT_EQ(Frame.sgOscHead->Cells(5, 1), base + " (прибор не записан)");
  L.Device.ClearLogs();
  ASSERT_TRUE(L.Run([this] { Frame.sgOscHeadDblClick(1); }));
  EXPECT_GT(RecordFramesRead(1), 0) << "read from the relay, not opened";
  ASSERT_EQ(Tabs.size(), 2u);
  EXPECT_EQ(Tabs[1].Dat, Path(base + "_2.dat"));
  EXPECT_EQ(Files(base), old);
  EXPECT_EQ(Frame.sgOscHead->Cells(5, 1), base + "_2");
  Frame.cbRead->setChecked(true);
  Frame.cbEvents->setChecked(true);
  ASSERT_TRUE(L.Run([this] { Frame.sgOscHeadDblClick(1); }));
  EXPECT_EQ(Files(base), old);
  EXPECT_FALSE(QFileInfo::exists(Path(base + "_3.dat")));
}

// A relay of a cyclic directory of two slots: files 1 and 2 hold 10:00 and 11:00.
class OscHeadFrameTwoSlots : public OscHeadFrameDemo {
protected:
  void SetUp() override {
    OscHeadFrameDemo::SetUp();
    L.SetIni("[osc]\r\ncyclicBufferCount=2\r\n");
    TSimOscDirectoryPlan plan;
    plan.SlotCount = 2;
    L.Device.SetFile(SimFileOscDirectory, BuildOscDirectory({{At(10), 1, 1}, {At(11), 1, 1}}, plan), SimOscFrameBytes);
    for (int file : {1, 2})
      L.Device.SetFile(file, BuildOscRecord(DemoOscPlan()), SimOscFrameBytes);
    ASSERT_TRUE(L.Run([this] { Frame.ReRead(); }));
    ASSERT_EQ(Frame.Heads().size(), 2u);
    ASSERT_EQ(Frame.Heads()[1].FFileNo, 1) << "the oldest row";
    Old = Frame.Heads()[1].FFileName;
    ASSERT_TRUE(L.Run([this] { Frame.sgOscHeadDblClick(2); }));
    OldFiles = Files(Old);
    Frame.cbRead->setChecked(true);
  }
  static QDateTime At(int H, int S = 1) { return QDateTime(QDate(2026, 3, 5), QTime(H, 0, S, 500), Qt::UTC); }
  // The relay records a trip into the oldest slot: the record file, then the entry.
  void RecordAnew(const QDateTime &Trigger) {
    const TOscRecordedAnew anew = RecordOscAnew(L.Device.FileBytes(SimFileOscDirectory), 2, Trigger, 1, 2);
    ASSERT_EQ(anew.FileNo, 1);
    TOscRecordPlan plan = OscPlanOfUnit(DemoOscPlan(), 3);
    plan.SampleCount = 3 * 1800;
    L.Device.SetFile(anew.FileNo, BuildOscRecord(plan), SimOscFrameBytes);
    L.Device.SetFile(SimFileOscDirectory, anew.Directory, SimOscFrameBytes);
  }
  QString Old;
  TCopyFiles OldFiles;
};

TEST_F(OscHeadFrameTwoSlots, ARowWhoseSlotHoldsANewRecordSavesThatRecordUnderItsOwnName) {
  RecordAnew(At(12));
  ASSERT_TRUE(L.Run([this] { Frame.sgOscHeadDblClick(2); }));
  // The list is read again once the read has ended.
  ASSERT_TRUE(WaitFor([this] { return Frame.Heads().size() == 2 && Frame.Heads()[0].FFileNo == 1; }));
  EXPECT_EQ(L.Status.last(), "Прибор записал новую осциллограмму на место выбранной: прочитана новая, список перечитан")
      << L.Status.join("; ").toStdString();
  EXPECT_EQ(Files(Old), OldFiles);
  const QString anew = "osc/1_2026-03-05_120000";
  EXPECT_TRUE(HoldsSamples(anew, [] {
    TOscRecordPlan p = OscPlanOfUnit(DemoOscPlan(), 3);
    p.SampleCount = 3 * 1800;
    return p;
  }()));
  EXPECT_EQ(OscSavedDuration(Path(anew + ".cfg")), "3.00 сек.");
  EXPECT_TRUE(LoadFileBytes(Path(anew + ".xml")).contains("start=\"2026-03-05 12:00:00.500\"")) << "its own times";
  ASSERT_EQ(Tabs.size(), 2u);
  EXPECT_EQ(Tabs[1].Dat, Path(anew + ".dat"));
  EXPECT_EQ(Frame.sgOscHead->Cells(1, 1), "2026-03-05 12:00:00.500");
  EXPECT_EQ(Frame.sgOscHead->Cells(5, 1), anew);
}

TEST_F(OscHeadFrameTwoSlots, ARecordRewrittenDuringItsReadIsNotSaved) {
  // The relay records into the slot once the program has read ten frames of it.
  std::atomic<bool> done = false;
  L.Device.SetRequestHook([this, &done](const QByteArray &Pdu) {
    if (!done && Pdu.size() == 4 && uint8_t(Pdu[0]) == FN_READ_FILE_FRAME && Pdu[1] == 1 && uint8_t(Pdu[3]) == 10) {
      done = true;
      RecordAnew(At(12));
    }
  });
  ASSERT_TRUE(L.Run([this] { Frame.sgOscHeadDblClick(2); }));
  ASSERT_TRUE(done);
  ASSERT_TRUE(WaitFor([this] { return Frame.Heads().size() == 2 && Frame.Heads()[0].FFileNo == 1; }));
  L.Device.SetRequestHook({});
  EXPECT_TRUE(L.Status.contains("Прибор записал новую осциллограмму во время чтения: прочитанное не сохранено, список перечитан"))
      << L.Status.join("; ").toStdString();
  EXPECT_FALSE(L.Status.contains("Готово")) << L.Status.join("; ").toStdString();
  EXPECT_EQ(Files(Old), OldFiles);
  EXPECT_EQ(Files("osc/1_2026-03-05_120000"), TCopyFiles({"absent", "absent", "absent"}));
  EXPECT_EQ(QDir(Path("osc")).entryList(QDir::Files).size(), 3) << QDir(Path("osc")).entryList().join(' ').toStdString();
  EXPECT_EQ(Tabs.size(), 1u);
}

TEST_F(OscHeadFrameTwoSlots, ARowWhoseSlotWasEmptiedReadsNoRecord) {
  QByteArray dir = L.Device.FileBytes(SimFileOscDirectory);
  dir.replace(16, 12, QByteArray(12, char(0xFF)));
  L.Device.SetFile(SimFileOscDirectory, dir, SimOscFrameBytes);
  L.Device.ClearLogs();
  ASSERT_TRUE(L.Run([this] { Frame.sgOscHeadDblClick(2); }));
  ASSERT_TRUE(WaitFor([this] { return Frame.Heads().size() == 1; }));
  EXPECT_TRUE(L.Status.contains("Осциллограммы больше нет в приборе: список перечитан")) << L.Status.join("; ").toStdString();
  EXPECT_EQ(RecordFramesRead(1), 0);
  EXPECT_EQ(Files(Old), OldFiles);
  EXPECT_EQ(Tabs.size(), 1u);
}

// A relay whose clock stepped back an hour between two records: the list
// holds every entry, the newest first.
TEST_F(OscHeadFrameDemo, ADirectoryWithABackwardClockStepListsEveryEntry) {
  const QDate day(2026, 3, 5);
  std::vector<TSimOscEntry> entries;
  for (QTime t : {QTime(10, 56), QTime(12, 36), QTime(11, 56), QTime(12, 56)})
    entries.push_back({QDateTime(day, t, Qt::UTC), 1, 1});
  L.Device.SetFile(SimFileOscDirectory, BuildOscDirectory(entries, TSimOscDirectoryPlan()), SimOscFrameBytes);
  ASSERT_TRUE(L.Run([this] { Frame.ReRead(); }));
  ASSERT_EQ(Frame.sgOscHead->rowCount(), 5);
  const char *starts[] = {"12:55:59", "11:55:59", "12:35:59", "10:55:59"};
  for (int r = 1; r <= 4; ++r)
    EXPECT_EQ(Frame.sgOscHead->Cells(1, r), QStringLiteral("2026-03-05 %1.000").arg(starts[r - 1])) << r;
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
