#include "../../common/uErrorOf.h"
#include "descriptor_test_util.h"
#include "uCharMap.h"
#include "uErrors.h"
#include "uFiles.h"
#include "uModbus.h"
#include "uTextCodec.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <tuple>

namespace {

class DescriptorTest : public ::testing::Test {
protected:
  void SetUp() override {
    SetCharMap(BuiltInCharMap());
    Modbus().Clear();
  }
  void TearDown() override { Modbus().Clear(); }
  QString Path(const char *Name) const { return QDir(FDir.path()).filePath(QString::fromLatin1(Name)); }
  QStringList Lines(const char *Name) const {
    const QString text = FromWin1251(LoadFileBytes(Path(Name)));
    EXPECT_TRUE(text.endsWith("\r\n"));
    return text.chopped(2).split("\r\n");
  }
  QTemporaryDir FDir;
};

QByteArray Calibration(std::initializer_list<std::array<uint16_t, 4>> Records) {
  QByteArray b;
  for (const auto &r : Records)
    for (uint16_t w : r) {
      b.append("\xEE\xEE", 2); // first word of each field is not used
      b.append(char(w & 0xFF));
      b.append(char(w >> 8));
    }
  return b;
}

void Feed(TSimpleDeviceDescriptor &D, QByteArray Bytes, bool Values = false) {
  QBuffer b(&Bytes);
  b.open(QIODevice::ReadOnly);
  if (Values)
    D.LoadCalibrationValues(b);
  else
    D.LoadCalibration(b);
}

} // namespace

TEST_F(DescriptorTest, RightAfterCreationItIsNotReadyToSaveOrReport) {
  TSimpleDeviceDescriptor d;
  EXPECT_FALSE(d.Ready);
  EXPECT_EQ(d.Root->GetNodeName(), "device-descriptor");
  EXPECT_EQ(ErrorOf([&] { d.SaveToFile(Path("x.xml")); }), "not ready");
  EXPECT_FALSE(QFile::exists(Path("x.xml")));
  d.WriteReport(Path("desc.txt"));
  EXPECT_FALSE(QFile::exists(Path("desc.txt")));
  // Group registers: eight, all 0 before any decoding.
  EXPECT_EQ(d.GetUstavGroupReg(7), 0);
  EXPECT_THROW(d.GetUstavGroupReg(8), EKvRange);
  EXPECT_THROW(d.GetUstavGroupReg(-1), EKvRange);
}

TEST_F(DescriptorTest, SavedDescriptorLoadsBackWithItsHeaderValues) {
  TDeviceContent c = DemoDeviceContent();
  c.IdentCrc = 0xFEDCBA98;
  const auto r = DecodeContent(c);
  r->D->SaveToFile(Path("cache.XML"));
  TSimpleDeviceDescriptor d;
  ASSERT_TRUE(d.LoadFromFile(Path("cache.XML")));
  EXPECT_TRUE(d.Ready);
  EXPECT_EQ(d.Root->GetXml(), r->D->Root->GetXml());
  EXPECT_EQ(std::tuple(d.CoreDate, d.DescDate, d.CalibrAddr),
            std::tuple(r->D->CoreDate, r->D->DescDate, r->D->CalibrAddr));
  EXPECT_EQ(d.IdentCache, 0xFEDCBA98u);
  EXPECT_EQ(std::tuple(d.GetUstavGroupCount(), d.GetUstavGroupReg(0), d.GetUstavGroupReg(1)), std::tuple(2, 100, 150));
  // Saving the loaded document gives the same file again.
  d.SaveToFile(Path("again.XML"));
  EXPECT_EQ(LoadFileBytes(Path("again.XML")), LoadFileBytes(Path("cache.XML")));
}

TEST_F(DescriptorTest, UnreadableOrBrokenFileIsAFailureAndNotReady) {
  const auto r = DecodeContent(TDeviceContent());
  ASSERT_TRUE(r->D->Ready);
  SaveFileBytes(Path("broken.xml"), "<device-descriptor><measure>");
  EXPECT_FALSE(r->D->LoadFromFile(Path("broken.xml")));
  EXPECT_FALSE(r->D->Ready);
  EXPECT_FALSE(r->D->LoadFromFile(Path("missing.xml")));
  EXPECT_FALSE(r->D->Ready);
}

TEST_F(DescriptorTest, StoredValuesOutOfRangeAreRangeErrors) {
  const struct {
    const char *Xml;
    bool Ok;
  } cases[] = {
      {"<device-descriptor><internal><calibr-addr>65535</calibr-addr></internal></device-descriptor>", true},
      {"<device-descriptor><internal><calibr-addr>65536</calibr-addr></internal></device-descriptor>", false},
      {"<device-descriptor><ustav><group-mreg>65536</group-mreg></ustav></device-descriptor>", false},
      {"<device-descriptor><ustav><group-mreg>1</group-mreg><group-mreg>2</group-mreg><group-mreg>3</group-mreg>"
       "<group-mreg>4</group-mreg><group-mreg>5</group-mreg><group-mreg>6</group-mreg><group-mreg>7</group-mreg>"
       "<group-mreg>8</group-mreg><group-mreg>9</group-mreg></ustav></device-descriptor>",
       false},
  };
  for (const auto &c : cases) {
    SaveFileBytes(Path("d.xml"), c.Xml);
    TSimpleDeviceDescriptor d;
    if (c.Ok) {
      EXPECT_TRUE(d.LoadFromFile(Path("d.xml"))) << c.Xml;
    } else {
      EXPECT_THROW(d.LoadFromFile(Path("d.xml")), EKvRange) << c.Xml;
      EXPECT_FALSE(d.Ready);
    }
  }
}

TEST_F(DescriptorTest, IdentCacheOfOlderFilesReadsAsUnsigned) {
  SaveFileBytes(Path("d.xml"), "<device-descriptor><internal><core-date>44260</core-date>"
                               "<ident-cache>-19088744</ident-cache></internal></device-descriptor>");
  TSimpleDeviceDescriptor d;
  ASSERT_TRUE(d.LoadFromFile(Path("d.xml")));
  EXPECT_EQ(std::tuple(d.IdentCache, d.CoreDate, d.DescDate, d.GetUstavGroupCount()),
            std::tuple(0xFEDCBA98u, 44260.0, 0.0, 0));
}

TEST_F(DescriptorTest, BinaryFileThatCannotBeOpenedOrDecodedLeavesItNotReady) {
  TSimpleDeviceDescriptor d;
  d.SetReady(true);
  EXPECT_TRUE(ErrorOf([&] { d.LoadFromBinFile(Path("DeviceDescriptor.bin")); }).startsWith("cannot open"));
  EXPECT_FALSE(d.Ready);
  QByteArray good = BuildDeviceImage(DemoDeviceContent()).Bytes;
  SaveFileBytes(Path("DeviceDescriptor.bin"), good);
  d.LoadFromBinFile(Path("DeviceDescriptor.bin"));
  EXPECT_TRUE(d.Ready);
  SaveFileBytes(Path("DeviceDescriptor.bin"), good.left(2200));
  EXPECT_THROW(d.LoadFromBinFile(Path("DeviceDescriptor.bin")), EKvFormat);
  EXPECT_FALSE(d.Ready);
}

TEST_F(DescriptorTest, AccessMapFromADecodedDescriptor) {
  const auto r = DecodeContent(DemoDeviceContent());
  TModbus m;
  m.LoadAccessMap(r->D->Root);
  const struct {
    int Reg, Acc;
  } expect[] = {
      {0, 1},   {10, 1},  {11, 0},           // measures
      {20, 1},  {23, 3},  {24, 1},  {25, 1}, // bit groups, the 20-bit one over two registers
      {30, 3},  {34, 3},  {41, 3},  {42, 0}, // text parameter of 8 registers
      {44, 3},  {45, 0},  {48, 1},           // date (one register in the descriptor), status
      {100, 3}, {103, 3}, {104, 0}, {150, 3}, {153, 3}, {154, 0},
  };
  for (const auto &e : expect)
    EXPECT_EQ(m.GetAccess(e.Reg), e.Acc) << e.Reg;
}

TEST_F(DescriptorTest, CalibrationRecordsGiveMeasuresTheirKeys) {
  const auto r = DecodeContent(DemoDeviceContent());
  TSimpleDeviceDescriptor &d = *r->D;
  QByteArray cal = Calibration({{0x0100, 1, 2, 0x0A00}, {0x0102, 3, 4, 0x0A02}, {0x0104, 5, 6, 0x0A00}});
  cal.append(QByteArray(10, '\x55')); // a trailing partial record
  Feed(d, cal);
  EXPECT_EQ(d.GetCalibrationCount(), 3);
  EXPECT_EQ(d.Root->SelectSingleNode("measure/measure-item[1]/ccaddr")->GetText(), "2560");
  EXPECT_EQ(d.Root->SelectSingleNode("measure/measure-item[2]/ccaddr")->GetText(), "2562");
  EXPECT_EQ(d.Root->SelectSingleNode("measure/measure-item[4]/ccaddr")->GetText(), "65535");
  // Loading again replaces the key instead of adding a second one.
  Feed(d, cal);
  EXPECT_EQ(d.Root->SelectNodes("measure/measure-item[1]/ccaddr")->GetCount(), 1);

  Feed(d,
       QByteArray::fromHex("000a3412"
                           "020a7856"
                           "ffff0100"
                           "00"),
       true);
  EXPECT_EQ(d.FindCalibrationValue(0x0A00), 0x1234); // the first of two records with the key
  EXPECT_EQ(d.GetCalibration(2).val, 0);
  EXPECT_EQ(d.FindCalibrationValue(0x0A02), 0x5678);
  EXPECT_EQ(d.FindCalibrationValue(0x0BBB), 0);

  std::vector<uint16_t> table(128, 0xEEEE);
  EXPECT_EQ(d.GetCalibrationTable(table), 3);
  EXPECT_EQ(std::vector<uint16_t>(table.begin(), table.begin() + 13),
            (std::vector<uint16_t>{0x0100, 1, 2, 0x0A00, 0x0102, 3, 4, 0x0A02, 0x0104, 5, 6, 0x0A00, 0xEEEE}));
  std::vector<uint16_t> small(127);
  EXPECT_THROW(d.GetCalibrationTable(small), EKvAssert);
  EXPECT_EQ(ErrorOf([&] { d.GetCalibrationTable(small); }), "calibr count");
  EXPECT_THROW(Feed(d, QByteArray(33 * 16, '\0')), EKvRange);
  EXPECT_NO_THROW(Feed(d, QByteArray(32 * 16 + 15, '\0')));
}

TEST_F(DescriptorTest, ReportWithoutSetpoints) {
  TDeviceContent c;
  TDcMeasure m;
  m.Reg = 2, m.Sram = 0x0100, m.Full = U("Ток");
  TDcParam p;
  p.Type = 34, p.Reg = 5, p.Sram = 0x0302, p.Eeprom = 0x0012, p.Full = U("Адрес");
  c.Measures = {m};
  c.Params = {p};
  const auto r = DecodeContent(c);
  r->D->WriteReport(Path("desc.txt"));
  const QStringList l = Lines("desc.txt");
  const QString flashM = QString::number(0x2000 + r->Img.MeasureOffsets[0], 16).toUpper();
  const QString flashP = QString::number(0x2000 + r->Img.FindRecord(34), 16).toUpper();
  const QStringList head = {"modbus",
                            "",
                            "mreg tp ac sram eprm flash nodeName caption",
                            "-------------------------------------------",
                            "",
                            "0002 01 01 0100 FFFF " + flashM + U(" measure-item 255 Ток"),
                            "",
                            "0005 22 03 0302 0012 " + flashP + U(" param-num 255 Адрес"),
                            "",
                            "",
                            "ustav enum strings",
                            "--",
                            "",
                            "discret param",
                            "-------------",
                            "",
                            U("Калибровка"),
                            "0",
                            "mdir cdir mang cang  val",
                            "------------------------",
                            "",
                            U("Измерения"),
                            ""};
  EXPECT_EQ(l.mid(0, head.size()), head);
  // No scale registers: empty values, padded to four.
  EXPECT_EQ(l.last(), "0002 FFFF FFFF         1 FFFF FFFF         1 FFFF FFFF " + U("Ток"));
}

TEST_F(DescriptorTest, ReportSections) {
  TDeviceContent c = FullContent();
  TDcSetpoint twin = c.Setpoints[1]; // same value texts as "Направление"
  twin.Full = U("Близнец");
  TDcSetpoint odd = c.Setpoints[1];
  odd.ValueFull = {U("1 2"), U("3\"4")};
  c.Setpoints = {c.Setpoints[0], c.Setpoints[1], odd, twin};
  const auto r = DecodeContent(c);
  Feed(*r->D, Calibration({{0x0100, 1, 2, 3}}));
  Feed(*r->D, QByteArray::fromHex("03000500"), true);
  Modbus().SetWord(32, 12345);
  Modbus().SetWord(33, 5);
  r->D->WriteReport(Path("desc.txt"));
  const QStringList l = Lines("desc.txt");
  const QString flash = QString::number(0x2000 + r->Img.FindRecord(50), 16).toUpper();
  // The second group's register finds the setpoint; the line shows group 1.
  EXPECT_TRUE(l.contains("0096 32 03 0500 0100 " + flash + U(" ustav-num 2 Уставка"))) << l.join('\n').toStdString();
  EXPECT_TRUE(l.contains("0014 11 01 0200 FFFF " + QString::number(0x2000 + r->Img.FindRecord(17), 16).toUpper() +
                         U(" param-bitreg 255 (2)")));
  const int enums = int(l.indexOf("cnt strings"));
  ASSERT_GT(enums, 0);
  EXPECT_EQ(l.mid(enums + 1, 4), QStringList({"-----------", U("  1 \"1 2\",\"3\"\"4\""), U("  2 нет,да"), ""}));
  const int bits = int(l.indexOf("discret param"));
  EXPECT_EQ(l.mid(bits + 19, 4), QStringList({U("  16 Вход 17"), U("Реле"), U("  0 Реле 1"), U("  1 Реле 2")}));
  const int cal = int(l.indexOf(U("Калибровка")));
  EXPECT_EQ(l.mid(cal + 1, 4),
            QStringList({"1", "mdir cdir mang cang  val", "------------------------", "0100 0001 0002 0003 0005"}));
  const int ms = int(l.indexOf(U("Измерения")));
  EXPECT_EQ(l.mid(ms + 2, 4), QStringList({"mreg prim           mult sec             div calibr    caption",
                                           "     addr mreg  val      addr mreg  val      addr  val        ",
                                           "--------------------------------------------------------------",
                                           U("0000 0400 0020 1234  100 0402 0021    5    1 0003 FFFF Ток фазы A")}));
}

TEST_F(DescriptorTest, EventDescriptionGroups) {
  TDeviceContent c = FullContent();
  c.EventMeasures = {0, 2};
  c.BitGroups[0].Full << U("Вход 18");
  const auto r = DecodeContent(c);
  Modbus().SetWord(32, 600);
  Modbus().SetWord(33, 0); // a zero secondary value counts as 1
  r->D->SaveEventDescription(Path("event.xml"));
  const QByteArray bytes = LoadFileBytes(Path("event.xml"));
  EXPECT_TRUE(bytes.startsWith("<?xml version=\"1.0\" encoding=\"windows-1251\"?>"));
  const IXXMLDocument doc = NewXMLDocument();
  ASSERT_TRUE(doc->Load(Path("event.xml")));
  const IXXMLNode top = doc->GetDocumentElement();
  auto items = [&](const char *Group) {
    QStringList out;
    const IXXMLNodeList l = top->SelectNodes(QString::fromLatin1(Group) + "/item");
    for (int i = 0; i < l->GetCount(); ++i)
      out << l->GetItem(i)->GetXml();
    return out;
  };
  EXPECT_EQ(items("catg"), QStringList({U("<item catg-code=\"1\" name=\"Авария\"/>"),
                                        U("<item catg-code=\"2\" name=\"Сообщение\"/>")}));
  EXPECT_EQ(items("type"), QStringList({U("<item code=\"5\" catg-code=\"1\" alarm=\"1\" name=\"Авария\"/>"),
                                        U("<item code=\"6\" catg-code=\"2\" alarm=\"0\" name=\"Пуск\"/>")}));
  // 100 / 1 * 600 / 1; a measure without scale registers: 1 / 1000.
  EXPECT_EQ(items("measure"), QStringList({U("<item addr=\"0\" name=\"Ток фазы A\" a=\"60000\" b=\"0\"/>"),
                                           U("<item addr=\"65535\" name=\"Угол\" a=\"0.001\" b=\"0\"/>")}));
  const QStringList bits = items("bit-reg");
  ASSERT_EQ(bits.size(), 18);
  EXPECT_EQ(bits[0], U("<item addr=\"20\" bit=\"0\" name=\"Вход 1\"/>"));
  EXPECT_EQ(bits[15], U("<item addr=\"20\" bit=\"15\" name=\"Вход 16\"/>"));
  EXPECT_EQ(bits[16], U("<item addr=\"21\" bit=\"0\" name=\"Вход 17\"/>"));
  EXPECT_EQ(bits[17], U("<item addr=\"21\" bit=\"1\" name=\"Вход 18\"/>"));
}

TEST_F(DescriptorTest, EventDescriptionStopsOnAMissingMeasureOrBitRegister) {
  const auto r = DecodeContent(FullContent()); // its third event measure matches no measure
  EXPECT_THROW(r->D->SaveEventDescription(Path("event.xml")), EKvAssert);
  EXPECT_EQ(ErrorOf([&] { r->D->SaveEventDescription(Path("event.xml")); }),
            "cannot find measure by id 65535 (src/uSimpleDeviceDescriptor)");
  EXPECT_FALSE(QFile::exists(Path("event.xml")));
  SaveFileBytes(Path("d.xml"),
                "<device-descriptor><event><event-bitreg><record-type>66</record-type>"
                "<bitreg-record-type>19</bitreg-record-type></event-bitreg></event></device-descriptor>");
  TSimpleDeviceDescriptor d;
  ASSERT_TRUE(d.LoadFromFile(Path("d.xml")));
  EXPECT_THROW(d.SaveEventDescription(Path("event.xml")), EKvAssert);
  EXPECT_EQ(ErrorOf([&] { d.SaveEventDescription(Path("event.xml")); }),
            "cannot find bitreg by rt 19 (src/uSimpleDeviceDescriptor)");
  EXPECT_FALSE(QFile::exists(Path("event.xml")));
}

// The pages' keyed lookups are answered from an index; it must give exactly
// what the XPath gives (the first match in document order, numbers compared as
// numbers), and follow a change of the document. Damaged images that still
// decode are compared in the descriptor fuzz target.
TEST_F(DescriptorTest, KeyedLookupsAnswerAsXPathDoes) {
  const auto r = DecodeContent(DemoDeviceContent());
  const IXXMLNode root = r->D->Root;
  auto compare = [&](const char *Where) {
    for (const char *p : {"//*", "measure/measure-item", "param/*", "param/input-output/param-bitreg", "ustav/*",
                          "event/event-item", "event/*", "osc/*"})
      for (const char *k : {"mreg", "ider", "record-type", "byte-code", "word-count"})
        for (int v = -1; v <= 1100; v += v < 300 ? 1 : 7) {
          const QString q = QStringLiteral("%1[%2=%3]").arg(p, k).arg(v);
          SetXPathKeyIndex(true);
          const IXXMLNode fast = root->SelectSingleNode(q);
          SetXPathKeyIndex(false);
          const IXXMLNode slow = root->SelectSingleNode(q);
          SetXPathKeyIndex(true);
          ASSERT_EQ(fast ? fast->GetXml() : "none", slow ? slow->GetXml() : "none") << Where << " " << q.toStdString();
        }
  };
  compare("demo");
  // A changed register number is seen by the next lookup.
  const IXXMLNode m = root->SelectSingleNode("measure/measure-item[mreg=10]");
  ASSERT_TRUE(m);
  m->SetStrNode("mreg", " 1010.0 ");
  EXPECT_FALSE(root->SelectSingleNode("measure/measure-item[mreg=10]"));
  EXPECT_EQ(root->SelectSingleNode("measure/measure-item[mreg=1010]")->GetXml(), m->GetXml());
  compare("changed demo");
}
