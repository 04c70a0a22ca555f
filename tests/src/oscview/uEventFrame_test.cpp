#include "uEventFrame.h"

#include "../pages/xlsxDump.h"
#include "demoLink.h"

#include "uDevSimFiles.h"
#include "uDeviceContent.h"
#include "uExcelFrame.h"
#include "uAppIniFile.h"
#include "uFiles.h"
#include "uPlacement.h"
#include "uModbus.h"
#include "uSimFault.h"

#include <QAccessible>
#include <QJsonArray>
#include <QTableView>
#include <QListWidget>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <functional>

namespace {

// Three levels, two codes, two measures and a register of three signals.
const char *PageXml =
    "<device-descriptor><measure><measure-item><ider>1</ider><string>Ia</string></measure-item></measure>"
    "<param><input-output><param-bitreg><caption>In</caption><record-type>17</record-type>"
    "<string><ider>0</ider><value>A</value></string><string><ider>1</ider><value>B</value></string>"
    "<string><ider>2</ider><value>C</value></string><word-count>1</word-count></param-bitreg></input-output></param>"
    "<event><event-level><string><ider>1</ider><value>L1</value></string><string><ider>2</ider><value>L2</value>"
    "</string><string><ider>3</ider><value>L3</value></string></event-level>"
    "<event-measure><measure-ider>1</measure-ider><word-count>1</word-count></event-measure>"
    "<event-bitreg><bitreg-record-type>17</bitreg-record-type><word-count>1</word-count></event-bitreg>"
    "<event-item><byte-code>1</byte-code><byte-level-mask>1</byte-level-mask><string>E1</string></event-item>"
    "<event-item><byte-code>2</byte-code><byte-level-mask>2</byte-level-mask><string>E2</string></event-item>"
    "</event></device-descriptor>";

class EventFrame : public ::testing::Test {
protected:
  void SetUp() override {
    RegUseStoreFile(FDir.filePath("user.conf"));
    AppIni() = TAppIniFile(FDir.filePath("kv.ini"));
    FDoc = NewXMLDocument();
    ASSERT_TRUE(FDoc->LoadXML(QString::fromUtf8(PageXml)));
  }
  void TearDown() override { AppIni() = TAppIniFile(FDir.filePath("none.ini")); }
  // Records of code 1, 2, 1 (levels 1, 2, 1), input words 1, 2, 4.
  void ReadThree(Tkv2EventFrame &F) {
    const QDateTime t(QDate(2024, 5, 6), QTime(10, 0), Qt::UTC);
    const QString file = FDir.filePath("EventLog.bin");
    SaveFileBytes(file, BuildEventRing({{t, 1, 1, {10, 1}}, {t.addSecs(1), 2, 0, {20, 2}}, {t.addSecs(2), 1, 1, {30, 4}}},
                                       13, 8, 6));
    F.ParseEventLog(file);
  }
  static void Check(QListWidget *List, int Row, bool On) {
    List->item(Row)->setCheckState(On ? Qt::Checked : Qt::Unchecked);
  }
  static std::vector<bool> Checks(QListWidget *List) {
    std::vector<bool> out;
    for (int i = 0; i < List->count(); ++i)
      out.push_back(List->item(i)->checkState() == Qt::Checked);
    return out;
  }
  QTemporaryDir FDir;
  IXXMLDocument FDoc;
};

} // namespace

TEST_F(EventFrame, AllUncheckedEmptiesTheGridAndRecheckedRestoresIt) {
  Tkv2EventFrame f;
  f.Init();
  f.SetDescriptor(FDoc->GetDocumentElement());
  ReadThree(f);
  ASSERT_EQ(f.Model().ShownCount(), 3);
  EXPECT_EQ(f.Model().data(f.Model().index(0, 2), Qt::DisplayRole).toString(), "2024-05-06 10:00:02.000");
  EXPECT_EQ(f.Model().data(f.Model().index(1, 0), Qt::DisplayRole).toString(), "L2");

  Check(f.clbEventLevel, 0, false);
  EXPECT_EQ(Checks(f.clbEventLevel), std::vector<bool>({false, false, false, false}));
  EXPECT_EQ(f.Model().ShownCount(), 0);
  EXPECT_EQ(f.Model().rowCount(), 1) << "two header rows and one empty row";
  EXPECT_EQ(f.FixedColumnCount(), 0);
  Check(f.clbEventLevel, 0, true);
  EXPECT_EQ(Checks(f.clbEventLevel), std::vector<bool>({true, true, true, true}));
  EXPECT_EQ(f.Model().ShownCount(), 3);
  EXPECT_EQ(f.FixedColumnCount(), 3);

  // One level while "Все" is checked: "Все" goes and only that level shows.
  Check(f.clbEventLevel, 0, false);
  Check(f.clbEventLevel, 2, true);
  EXPECT_EQ(Checks(f.clbEventLevel), std::vector<bool>({false, false, true, false}));
  ASSERT_EQ(f.Model().ShownCount(), 1);
  EXPECT_EQ(f.Model().data(f.Model().index(0, 1), Qt::DisplayRole).toString(), "E2");
}

TEST_F(EventFrame, StoredSignalFilterPicksTheBitColumnsAndCellsFollowTheMap) {
  RegWriteString("eventlog", "SignalFilter", "0101");
  Tkv2EventFrame f;
  f.Init();
  f.SetDescriptor(FDoc->GetDocumentElement());
  EXPECT_EQ(Checks(f.clbSignalFilter), std::vector<bool>({false, true, false, true}));
  EXPECT_EQ(f.Model().ColumnMap(), std::vector<int>({0, 1, 2, 3, 4, 5, 7}));
  ReadThree(f);
  // Newest first: input words 4, 2, 1; grid column 6 shows signal C (bit 2).
  const auto flag = [&](int Row, int Column) {
    return f.Model().data(f.Model().index(Row, Column), TEventTableModel::FlagRole).toBool();
  };
  EXPECT_TRUE(flag(0, 6));
  EXPECT_FALSE(flag(0, 5));
  EXPECT_TRUE(flag(2, 5));
  EXPECT_EQ(f.Model().headerData(6, Qt::Horizontal, TEventTableModel::CaptionRole).toString(), "C");

  Check(f.clbSignalFilter, 1, false);
  Check(f.clbSignalFilter, 2, true);
  EXPECT_EQ(f.Model().ColumnMap(), std::vector<int>({0, 1, 2, 3, 4, 5, 7})) << "checks alone change nothing";
  f.BitBtnApplyClick();
  EXPECT_EQ(f.Model().ColumnMap(), std::vector<int>({0, 1, 2, 3, 4, 6, 7}));
  EXPECT_TRUE(flag(1, 5));
  EXPECT_EQ(RegReadString("eventlog", "SignalFilter", ""), "0011");
  EXPECT_EQ(RegReadString("eventlog", "EventLevel", ""), "1111");

  // The sheet follows the map too: bits as 1/0, the time as a date-time.
  TExcelFrame excel;
  f.ExportEventsToExcel(excel, 3);
  excel.Workbook()->SaveAs(FDir.filePath("e.xlsx"));
  QJsonObject sheet = DumpXlsx(FDir.filePath("e.xlsx"))["sheets"].toArray()[2].toObject();
  EXPECT_EQ(sheet["name"].toString(), "События");
  const QJsonObject cells = sheet["cells"].toObject();
  EXPECT_EQ(cells["F2"].toString(), "B");
  EXPECT_EQ(cells["C3"].toString(), "2024-05-06 10:00:02.000|yyyy/mm/dd hh:mm:ss.000");
  EXPECT_EQ(cells["B4"].toString(), "E2");
  // Measures and bits are numbers a sum can add.
  EXPECT_TRUE(cells["E5"].isDouble());
  EXPECT_EQ(cells["E5"].toDouble(), 10.0);
  EXPECT_EQ((std::vector<QJsonValue>{cells["F3"], cells["F4"], cells["G3"]}), (std::vector<QJsonValue>{0, 1, 1}));
  EXPECT_FALSE(cells.contains("A6"));
  EXPECT_TRUE(sheet["widths"].toObject().contains("C"));

  // Without records only the header rows.
  Check(f.clbEventLevel, 0, false);
  f.ExportEventsToExcel(excel, 3);
  excel.Workbook()->SaveAs(FDir.filePath("e.xlsx"));
  sheet = DumpXlsx(FDir.filePath("e.xlsx"))["sheets"].toArray()[2].toObject();
  EXPECT_EQ(sheet["cells"].toObject().keys(), QStringList({"A1", "B1", "C1", "D2", "E1", "E2", "F2", "G2"}));

  // Primary and secondary texts of the measure.
  Check(f.clbEventLevel, 0, true);
  f.SetPrimaryValues(true);
  EXPECT_EQ(f.Model().data(f.Model().index(0, 4), Qt::DisplayRole).toString(), "30");
}

// The records read are the relay's that answered then: once the journal is
// cleared (an identification begins) or given a descriptor (one ends), no
// row comes back, neither by the level filter nor under the new captions,
// nor into a sheet made after; whatever was made from them hears of it.
TEST_F(EventFrame, ClearAndANewDescriptorDropTheRecordsForGood) {
  const struct {
    const char *Name;
    std::function<void(Tkv2EventFrame &)> Act;
  } cases[] = {
      {"cleared", [](Tkv2EventFrame &F) { F.Clear(); }},
      {"another descriptor", [this](Tkv2EventFrame &F) { F.SetDescriptor(FDoc->GetDocumentElement()); }},
  };
  for (const auto &c : cases) {
    Tkv2EventFrame f;
    f.Init();
    f.SetDescriptor(FDoc->GetDocumentElement());
    ReadThree(f);
    ASSERT_EQ(f.Model().ShownCount(), 3) << c.Name;
    int dropped = 0;
    QObject::connect(&f, &Tkv2EventFrame::RecordsDropped, [&dropped] { ++dropped; });
    c.Act(f);
    EXPECT_EQ(dropped, 1) << c.Name;
    EXPECT_TRUE(f.Items().empty()) << c.Name;
    EXPECT_EQ(f.Model().ShownCount(), 0) << c.Name;
    Check(f.clbEventLevel, 0, false);
    Check(f.clbEventLevel, 0, true);
    f.BitBtnApplyClick();
    EXPECT_EQ(f.Model().ShownCount(), 0) << c.Name << ": the filters brought rows back";
    TExcelFrame excel;
    f.ExportEventsToExcel(excel, 3);
    EXPECT_EQ(excel.Workbook()->Sheet(3).RowCount(), 2) << c.Name << ": the header rows only";
  }
}

// ------------------------------------------------------------ against the demo terminal over TCP

namespace {

class EventFrameDemo : public ::testing::Test {
protected:
  void SetUp() override {
    Frame.SetHost({[this] { return L.Gen.get(); }, {}, [this](const QString &Text) { L.Status << Text; },
                   [] { return true; }, [this] { return L.Dir.path(); }});
    Frame.Init();
    Frame.SetDescriptor(L.Desc.Root);
  }
  bool Read() {
    return L.Run([this] { Frame.ReadEventLog(); });
  }
  QStringList Moments() const {
    QStringList out;
    for (const TEventLogItemPtr &i : Frame.Items())
      out << i->FCells[2].Text;
    return out;
  }
  static QStringList Expected() {
    QStringList out;
    for (const TSimEventRecord &r : DemoEventRecords())
      out.prepend(r.Moment.toString("yyyy-MM-dd hh:mm:ss.zzz"));
    return out;
  }

  TDemoLink L;
  Tkv2EventFrame Frame;
  QStringList &Status = L.Status;
};

} // namespace

TEST_F(EventFrameDemo, RefreshReadsTheRingNewestFirstAcrossItsWrap) {
  ASSERT_TRUE(Read());
  EXPECT_EQ(Status, QStringList({"Чтение событий", "Готово"}));
  const int length = Frame.RecordLength();
  EXPECT_EQ(length, 9 + 2 * EventValueWords(DemoTerminalContent()));
  EXPECT_EQ(QFile(L.Dir.filePath("EventLog.bin")).size(), 256 * length);
  EXPECT_EQ(Moments(), Expected());
  const TEventLogItem &newest = *Frame.Items().front();
  EXPECT_EQ(newest.GetEventName(), "Изменение уставок");
  EXPECT_EQ(newest.FCells[0].Text, "Сообщения");
  const auto alarm = std::find_if(Frame.Items().begin(), Frame.Items().end(),
                                  [](const TEventLogItemPtr &I) { return I->FByteCode == 2; });
  ASSERT_NE(alarm, Frame.Items().end());
  EXPECT_EQ((*alarm)->GetEventName(), "Срабатывание МТЗ-1");
  EXPECT_EQ((*alarm)->FCells[0].Text, "Аварии");
  // Relay 1 set with the trip; Ia in primary amperes through the CT ratio.
  const int relay1 = Frame.Layout()->FindColumnOfKind(ekBit, 16);
  EXPECT_EQ(Frame.GetColumn(relay1).FCaption, "Реле 1");
  EXPECT_TRUE((*alarm)->GetCell(relay1).Flag);
  const TDrawableDesc &ia = Frame.GetColumn(4);
  ASSERT_NE(ia.FPrimaryReg, 65535);
  Modbus().SetWord(ia.FPrimaryReg, 600);
  Modbus().SetWord(ia.FSecondaryReg, 5);
  Frame.RefreshMeasureFactors();
  Frame.SetPrimaryValues(true);
  const uint16_t raw = (*alarm)->GetCell(4).Value;
  EXPECT_EQ((*alarm)->GetCell(4).Text, QString::number(raw * double(ia.FMult) / ia.FDivider * 600 / 5, 'g', 15));
  Modbus().Clear();
}

TEST_F(EventFrameDemo, ExceptionInMidReadKeepsTheJournalAndPlainReadGivesTheSame) {
  ASSERT_TRUE(Read());
  const QStringList before = Moments();
  TSimFault f;
  f.Kind = TSimFaultKind::Exception;
  f.Value = 4;
  f.Function = FN_READ_FILE_FRAME;
  f.After = 100;
  L.Device.SetFault(f);
  ASSERT_TRUE(Read());
  EXPECT_TRUE(Status.contains("Ошибка устройства 04")) << Status.join("; ").toStdString();
  EXPECT_EQ(Moments(), before);
  L.Device.SetFault(TSimFault());

  L.SetIni("[event]\r\ncyclic=0\r\n");
  QFile::remove(L.Dir.filePath("EventLog.bin"));
  ASSERT_TRUE(Read());
  EXPECT_EQ(Status.last(), "Готово");
  EXPECT_EQ(Moments(), Expected());

  // Without a descriptor nothing is sent.
  Frame.SetDescriptor(nullptr);
  Frame.ReadEventLog();
  EXPECT_EQ(Status.last(), "Нет дескриптора");
  EXPECT_EQ(L.Gen->ChainCount(), 0);
}

// The journal gone in the middle of its read: the read ends at its next
// request and nothing acts on the gone page.
TEST_F(EventFrameDemo, JournalGoneInMidReadSendsNothingMore) {
  ASSERT_TRUE(Read());
  const size_t whole = L.Device.RequestLog().size();
  ASSERT_GT(whole, 100u);
  L.Device.ClearLogs();
  auto *gone = new Tkv2EventFrame;
  gone->SetHost({[this] { return L.Gen.get(); }, {}, {}, [] { return true; }, [this] { return L.Dir.path(); }});
  gone->Init();
  gone->SetDescriptor(L.Desc.Root);
  gone->ReadEventLog();
  ASSERT_TRUE(WaitFor([this] { return L.Device.RequestLog().size() >= 3; }));
  const size_t atClose = L.Device.RequestLog().size();
  delete gone;
  ASSERT_TRUE(WaitFor([this] { return L.Gen->ChainCount() == 0; }));
  // The one under way when the page went may still reach the device.
  EXPECT_LE(L.Device.RequestLog().size(), atClose + 1);
}

// A screen reader's cells of the journal each hold a persistent index of its
// rows. Let go one by one while the rows live, each costs a search as long as
// the table (Qt's hash of model indexes), and a journal of 256 rows kept the
// program from ending for minutes: by the time the grid goes, the rows have
// let go of every such index at once.
TEST_F(EventFrame, RowsLetGoOfTheScreenReadersCellsBeforeTheGridGoes) {
  auto f = std::make_unique<Tkv2EventFrame>();
  f->Init();
  f->SetDescriptor(FDoc->GetDocumentElement());
  ReadThree(*f);
  QAccessibleInterface *grid = QAccessible::queryAccessibleInterface(f->dgEvent);
  ASSERT_NE(grid, nullptr);
  for (int i = 0; i < grid->childCount(); ++i)
    grid->child(i);
  const QPersistentModelIndex cell(f->Model().index(0, 0));
  bool heldAtTheEnd = false;
  QObject::connect(f->dgEvent, &QObject::destroyed, [&] { heldAtTheEnd = cell.isValid(); });
  f.reset();
  EXPECT_FALSE(heldAtTheEnd);
}
