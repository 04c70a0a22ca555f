#include "descriptor_test_util.h"
#include "uCharMap.h"
#include "uDescriptorDecoder.h"
#include "uDescriptorXml.h"
#include "uErrors.h"

#include <QSet>
#include <gtest/gtest.h>

namespace {

class DecoderTest : public ::testing::Test {
protected:
  void SetUp() override { SetCharMap(BuiltInCharMap()); }
};

QString H(int V, int Digits) { return QString::number(V, 16).rightJustified(Digits, '0').toUpper(); }

QString ErrorText(const TDeviceContent &C, const std::function<void(QByteArray &)> &Patch = nullptr) {
  TDecodedImage r;
  QByteArray b = BuildDeviceImage(C).Bytes;
  if (Patch)
    Patch(b);
  try {
    DecodeBytes(r, b);
  } catch (const EKvError &e) {
    EXPECT_FALSE(r.D->Ready);
    return e.Text();
  }
  return QStringLiteral("<no error>");
}

QString DecodeError(const QString &Reason, int Position, int Value) {
  return U("Ошибка при расшифровке \r\n") + Reason + QStringLiteral("\r\nPosition %1\r\nValue %2").arg(H(Position, 4), H(Value, 2));
}

} // namespace

TEST_F(DecoderTest, MinimalImageGivesTheZoneElementsAndTraceLines) {
  const auto r = DecodeContent(TDeviceContent());
  EXPECT_TRUE(r->D->Ready);
  EXPECT_EQ(Leaves(r->D->Root), QStringLiteral("measure= param{input-output=} ustav{ustav-level=} "
                                               "event{event-level=} osc= internal{core-date=44260 "
                                               "desc-date=44261 calibr-addr=7936 ident-cache=305419896}"));
  EXPECT_EQ(r->Trace, QStringList({"0844 Zone 1", "0851 Zone 2", "0852 Zone 3", "0853 Zone 4", "0854 Zone 5",
                                   "0855 Zone 6", "0856 Zone 7", "0858 Zone 8", "085A Zone 9", "085B Zone 10",
                                   "085C Zone 11"}));
  EXPECT_EQ(r->D->GetUstavGroupCount(), 0);
}

TEST_F(DecoderTest, MeasureRecordsGiveEveryFieldAndTheirRegisters) {
  const auto r = DecodeContent(FullContent());
  const auto &off = r->Img.MeasureOffsets;
  const int base = 0x2000;
  EXPECT_EQ(r->Node("measure/measure-item[1]"),
            U("modbus-flash=%1 record-type=1 modbus-acc=1 modbus-sram=256 mvp-addr=1024 mvp-mult=100 "
              "mvs-addr=1026 mvs-div=1 byte-visible=2 byte-dopcode=0 byte-offset-flag=0 short-string=Ток "
              "string=Ток фазы A ider=0 word-count=1 mreg=0 mvp-mreg=32 mvs-mreg=33")
                .arg(base + off[0]));
  // Type 0x0B: visible, with an offset word.
  EXPECT_EQ(r->Node("measure/measure-item[2]"),
            U("modbus-flash=%1 record-type=1 modbus-acc=17 modbus-sram=258 mvp-addr=65535 mvp-mult=1 "
              "mvs-addr=65535 mvs-div=1 byte-visible=2 byte-dopcode=0 byte-offset-flag=8 word-offset=4660 "
              "short-string=Счетчик string=Счетчик ider=1 word-count=1 mreg=1")
                .arg(base + off[1]));
  // Exponent 12 gives 1; an address no parameter has gives no mvp-mreg.
  EXPECT_EQ(r->Node("measure/measure-item[3]"),
            U("modbus-flash=%1 record-type=1 modbus-acc=0 modbus-sram=260 mvp-addr=2457 mvp-mult=1 "
              "mvs-addr=65535 mvs-div=1000 byte-visible=0 byte-dopcode=4 byte-offset-flag=0 short-string=Угол "
              "string=Угол ider=2 word-count=1 mreg=65535")
                .arg(base + off[2]));
}

TEST_F(DecoderTest, ScaleExponentsAreTenToTheZeroToNinthPowerElseOne) {
  TDeviceContent c;
  const int exps[] = {0, 1, 2, 3, 9, 10, 12, 255};
  const char *mults[] = {"1", "10", "100", "1000", "1000000000", "1", "1", "1"};
  for (int e : exps) {
    TDcMeasure m;
    m.MvpScale = uint8_t(e), m.MvsScale = uint8_t(e), m.Full = QStringLiteral("m");
    c.Measures.push_back(m);
  }
  const auto r = DecodeContent(c);
  for (int i = 0; i < 8; ++i) {
    const IXXMLNode m = r->D->Root->SelectSingleNode(QStringLiteral("measure/measure-item[%1]").arg(i + 1));
    EXPECT_EQ(m->GetStrNode("mvp-mult"), mults[i]) << exps[i];
    EXPECT_EQ(m->GetStrNode("mvs-div"), mults[i]) << exps[i];
  }
}

TEST_F(DecoderTest, ParameterRecordsOfEveryKind) {
  const auto r = DecodeContent(FullContent());
  const auto flash = [&](uint8_t Type) { return 0x2000 + r->Img.FindRecord(Type); };
  const struct { const char *Path; QString Want; } cases[] = {
      {"param/param-enum",
       U("modbus-flash=%1 record-type=33 modbus-acc=3 modbus-sram=768 modbus-eeprom=16 short-string=Реж "
         "string{ider=1 value=Выведен value=Выведен} string{ider=2 value=Введен value=Введен} string=Режим "
         "word-count=1 mreg=30").arg(flash(33))},
      {"param/param-num",
       U("modbus-flash=%1 record-type=34 modbus-acc=3 modbus-sram=770 modbus-eeprom=18 word-koef=1 word-min=1 "
         "word-max=247 short-string=Адрес string=Адрес word-count=1 mreg=31").arg(flash(34))},
      {"param/param-nummvp",
       U("modbus-flash=%1 record-type=38 modbus-acc=3 modbus-sram=1024 modbus-eeprom=20 word-koef=0 word-min=0 "
         "word-max=65535 short-string=Іперв string=Iперв word-count=1 mreg=32").arg(flash(38))},
      {"param/param-char",
       U("modbus-flash=%1 record-type=36 modbus-acc=3 modbus-sram=784 modbus-eeprom=32 byte-value=2 "
         "byte-passwd-char=42 short-string=Имя string=Имя word-count=2 mreg=34").arg(flash(36))},
      {"param/param-ddo-date",
       U("modbus-flash=%1 record-type=29 modbus-acc=3 modbus-sram=816 word-count=1 mreg=40").arg(flash(29))},
      {"param/param-ddo-status",
       U("modbus-flash=%1 record-type=30 modbus-acc=1 modbus-sram=824 word-count=1 mreg=41").arg(flash(30))},
  };
  for (const auto &c : cases)
    EXPECT_EQ(r->Node(c.Path), c.Want) << c.Path;
  EXPECT_EQ(r->D->Root->SelectNodes("param/*")->GetCount(), 8);
}

TEST_F(DecoderTest, BitRegistersOverSixteenBitsKeepThePlainTexts) {
  const auto r = DecodeContent(FullContent());
  QString want = U("modbus-flash=%1 caption=Дискретные входы record-type=17 modbus-acc=1 modbus-sram=512")
                     .arg(0x2000 + r->Img.FindRecord(17));
  for (int i = 0; i < 17; ++i)
    want += U(" string{ider=%1 value=Вход %2}").arg(i).arg(i + 1);
  want += QStringLiteral(" word-count=2 mreg=20");
  EXPECT_EQ(r->Node("param/input-output/param-bitreg[1]"), want);
  const char *captions[] = {"Дискретные входы", "Реле", "Светодиоды", "Виртуальные входы", "Виртуальные выходы"};
  const IXXMLNodeList all = r->D->Root->SelectNodes("param/input-output/param-bitreg");
  ASSERT_EQ(all->GetCount(), 5);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(all->GetItem(i)->GetStrNode("caption"), U(captions[i]));
    EXPECT_EQ(all->GetItem(i)->GetIntNode("record-type"), 17 + i);
  }
}

TEST_F(DecoderTest, TwoSetpointGroupsWithCopies) {
  const auto r = DecodeContent(FullContent());
  const int g1 = r->Img.FindRecord(50), g1e = r->Img.FindRecord(49), c1 = r->Img.FindRecord(52),
            c1e = r->Img.FindRecord(51);
  EXPECT_EQ(r->Node("ustav/ustav-level"), U("string{ider=1 value=МТЗ value=} string{ider=2 value=ЗМН value=}"));
  EXPECT_EQ(r->Node("ustav/ustav-num"),
            U("modbus-flash=%1 record-type=50 modbus-acc=3 modbus-sram=1280 modbus-eeprom=256 "
              "word-measure-ider=%2 word-min=10 word-max=2000 short-string=Уставка string=Уставка "
              "byte-level-mask=2 ider=1 word-count=1 modbus-acc=3 modbus-flash=%3 modbus-sram=1536 "
              "modbus-eeprom=512 mreg=100 mreg=150")
                .arg(0x2000 + g1)
                .arg(0x2000 + r->Img.MeasureOffsets[0])
                .arg(0x2000 + c1));
  EXPECT_EQ(r->Node("ustav/ustav-enum[1]"),
            U("modbus-flash=%1 record-type=49 modbus-acc=3 modbus-sram=1282 modbus-eeprom=258 "
              "short-string=Направление string{ider=0 value=нет value=нет} string{ider=1 value=да value=да} "
              "string=Направление byte-level-mask=1 ider=2 word-count=1 modbus-acc=3 modbus-flash=%2 "
              "modbus-sram=1538 modbus-eeprom=514 mreg=101 mreg=151")
                .arg(0x2000 + g1e)
                .arg(0x2000 + c1e));
  EXPECT_EQ(r->D->Root->SelectSingleNode("ustav/ustav-enum[2]")->GetStrNode("record-type"), "53");
  EXPECT_EQ(r->D->Root->SelectNodes("ustav/group-mreg")->GetCount(), 2);
  EXPECT_EQ(r->D->GetUstavGroupCount(), 2);
  EXPECT_EQ(r->D->GetUstavGroupReg(0), 100);
  EXPECT_EQ(r->D->GetUstavGroupReg(1), 150);
  EXPECT_TRUE(r->Trace.contains(H(r->Img.FindRecord(49) - 1, 4) + " rec 32  ustav-num  acc 03 sram 0500 eeprom 0100"))
      << r->Trace.join('\n').toStdString();
  EXPECT_TRUE(r->Trace.contains(H(c1 + 5, 4) + " rec 34  ustav-num  acc2 03 sram2 0600 eeprom2 0200"));
}

TEST_F(DecoderTest, SetpointWithoutCopyGetsNoneAsSecondRegister) {
  TDeviceContent c = FullContent();
  c.SetpointGroups.resize(1);
  const auto r = DecodeContent(c);
  EXPECT_EQ(r->D->Root->SelectSingleNode("ustav/ustav-num")->SelectNodes("mreg")->GetItem(1)->GetText(), "65535");
  EXPECT_EQ(r->D->Root->SelectNodes("ustav/ustav-num/modbus-flash")->GetCount(), 1);
  EXPECT_EQ(r->D->GetUstavGroupCount(), 1);
}

TEST_F(DecoderTest, RepeatedTableEntriesGiveTheLastRegisterButTheFirstGroupRegister) {
  TDeviceContent c = FullContent();
  TDeviceImage img = BuildDeviceImage(c);
  Put16(img.Bytes, 48 + 2 * 700, 0x2000 + img.MeasureOffsets[0]);
  Put16(img.Bytes, 48 + 2 * 90, 0x2000 + img.FindRecord(50));   // group 1 also below 100
  Put16(img.Bytes, 48 + 2 * 900, 0x2000 + img.FindRecord(50));  // and above it
  Put16(img.Bytes, 48 + 2 * 140, 0x2000 + img.FindRecord(52));  // group 2 also below 150
  TDecodedImage r;
  DecodeBytes(r, img.Bytes);
  EXPECT_EQ(r.D->Root->SelectSingleNode("measure/measure-item[1]/mreg")->GetText(), "700");
  EXPECT_EQ(r.D->Root->SelectSingleNode("ustav/ustav-num/mreg[1]")->GetText(), "900");
  EXPECT_EQ(r.D->Root->SelectSingleNode("ustav/ustav-num/mreg[2]")->GetText(), "150");
  EXPECT_EQ(r.D->GetUstavGroupReg(0), 90);
  EXPECT_EQ(r.D->GetUstavGroupReg(1), 140);
}

TEST_F(DecoderTest, EventAndOscillogramRecords) {
  const auto r = DecodeContent(FullContent());
  EXPECT_EQ(r->Node("event/event-level"),
            U("string{ider=1 value=Авария value=} string{ider=2 value=Сообщение value=}"));
  const IXXMLNodeList em = r->D->Root->SelectNodes("event/event-measure");
  ASSERT_EQ(em->GetCount(), 3);
  EXPECT_EQ(Leaves(em->GetItem(0)), "record-type=65 measure-ider=0 word-count=1");
  EXPECT_EQ(Leaves(em->GetItem(1)), "record-type=65 measure-ider=2 word-count=1");
  // A reference no measure matches is none, not the first measure.
  EXPECT_EQ(Leaves(em->GetItem(2)), "record-type=65 measure-ider=65535 word-count=1");
  const IXXMLNodeList eb = r->D->Root->SelectNodes("event/event-bitreg");
  // 17 bits: two bit words; the second (SRAM + 2) describes no register of
  // its own and is dropped, the first covers both.
  ASSERT_EQ(eb->GetCount(), 1);
  EXPECT_EQ(Leaves(eb->GetItem(0)), "record-type=66 bitreg-record-type=17 word-count=2");
  const IXXMLNodeList ev = r->D->Root->SelectNodes("event/event-item");
  ASSERT_EQ(ev->GetCount(), 2);
  EXPECT_EQ(Leaves(ev->GetItem(0)), U("record-type=68 failure-flag=1 byte-code=5 byte-level-mask=1 string=Авария"));
  EXPECT_EQ(Leaves(ev->GetItem(1)), U("record-type=67 failure-flag=0 byte-code=6 byte-level-mask=2 string=Пуск"));
  const IXXMLNodeList om = r->D->Root->SelectNodes("osc/osc-measure");
  ASSERT_EQ(om->GetCount(), 2);
  EXPECT_EQ(Leaves(om->GetItem(0)), QStringLiteral("record-type=81 measure-off=2 measure-sram=%1 measure-ider=0 "
                                                   "word-count=1").arg(0x2000 + r->Img.MeasureOffsets[0]));
  EXPECT_EQ(Leaves(om->GetItem(1)), "record-type=81 measure-off=255 measure-sram=65535 measure-ider=65535 word-count=1");
  EXPECT_EQ(r->Node("osc/osc-bitreg"), "record-type=82 bitreg-record-type=18 word-count=1");
}

TEST_F(DecoderTest, BitWordOfAnUndescribedRegisterIsDropped) {
  TDeviceContent c = FullContent();
  c.EventBits = {{0, 0x0777}, {17, 0}};
  c.OscBits = {{0, 0x0210}, {0, 0x0FFF}};
  const auto r = DecodeContent(c);
  EXPECT_EQ(r->D->Root->SelectNodes("event/event-bitreg")->GetCount(), 1);
  EXPECT_EQ(r->D->Root->SelectNodes("osc/osc-bitreg")->GetCount(), 1);
}

TEST_F(DecoderTest, HeaderValues) {
  TDeviceContent c;
  c.CoreDate = QDate(1999, 12, 31);
  c.DescDate = QDate(); // written FF FF FF FF
  c.CalibrAddr = 0xABCD;
  c.IdentCrc = 0xFEDCBA98;
  const auto r = DecodeContent(c);
  const QByteArray &b = r->Img.Bytes;
  EXPECT_EQ(r->D->IdentHex, b.mid(44, 4).toHex().toUpper());
  EXPECT_EQ(r->D->CoreDate, 36525.0);
  EXPECT_EQ(r->D->DescDate, 36526.0); // not a date: 2000-01-01
  EXPECT_EQ(r->D->CalibrAddr, 0xABCD);
  EXPECT_EQ(r->D->IdentCache, 0xFEDCBA98u);
  EXPECT_EQ(r->Node("internal"), "core-date=36525 desc-date=36526 calibr-addr=43981 ident-cache=4275878552");
}

TEST_F(DecoderTest, BcdDates) {
  const struct { const char *Hex; double Days; } cases[] = {
      {"05032021", 44260}, {"01011900", 2}, {"31022021", 36526}, {"00012021", 36526}, {"ffffffff", 36526},
      {"29022020", 43890}, {"29022100", 36526}, {"0a012021", 44206} /* nibble 10 counts as ten */,
  };
  for (const auto &c : cases) {
    const QByteArray b = QByteArray::fromHex(c.Hex);
    EXPECT_EQ(TDescriptorDecoder::DecodeBcdDate(reinterpret_cast<const uint8_t *>(b.constData())), c.Days) << c.Hex;
  }
}

TEST_F(DecoderTest, ErrorTextsCarryReasonPositionAndValue) {
  TDeviceContent one;
  TDcMeasure m;
  m.Full = QStringLiteral("M");
  one.Measures = {m};
  TDeviceContent badType;
  badType.Tail[daParams] = QByteArray("\x31", 1);
  TDeviceContent evenMeasure;
  evenMeasure.Tail[daMeasures] = QByteArray("\x10", 1);
  const struct { const char *Name; TDeviceContent C; std::function<void(QByteArray &)> Patch; QString Want; } cases[] = {
      {"revision 3", TDeviceContent(), [](QByteArray &b) { Put16(b, 2, 3); }, "Invalid descriptor revision"},
      {"header word 0 below 48", TDeviceContent(), [](QByteArray &b) { Put16(b, 4, 47); },
       U("Ошибка при расшифровке \r\nsec Invalid Modbus Zone")},
      {"setpoint type among parameters", badType, nullptr,
       DecodeError("sec Invalid Record Type", 2134, 0x31)},
      {"even type among measures", evenMeasure, nullptr, DecodeError("sec Invalid Record Type", 2116, 0x10)},
      {"cut inside a measure", one, [](QByteArray &b) { b.truncate(2121); },
       DecodeError("sec Invalid Position", 2120, 0x03)},
      {"cut inside a text", one, [](QByteArray &b) { b.truncate(2127); },
       DecodeError("sec Invalid Position", 2127, 0x03)},
      {"cut where the next record is due", one, [](QByteArray &b) { b.truncate(2130); },
       DecodeError("sec Invalid Position", 2130, 0)},
      {"cut inside the Modbus table", TDeviceContent(), [](QByteArray &b) { b.truncate(1000); },
       DecodeError("sec Invalid Position", 1000, 0)},
      {"cut before the revision", TDeviceContent(), [](QByteArray &b) { b.truncate(3); },
       DecodeError("sec Invalid Position", 2, 0)},
      {"zones beyond the end", TDeviceContent(), [](QByteArray &b) { Put16(b, 6, 0x2000 + 0x3000); },
       DecodeError("sec Invalid Position", 0x3000, 0)},
      {"zones before the start", TDeviceContent(), [](QByteArray &b) { Put16(b, 6, 0x1000); },
       DecodeError("sec Invalid Position", 6, 0)},
  };
  for (const auto &c : cases)
    EXPECT_EQ(ErrorText(c.C, c.Patch), c.Want) << c.Name;
}

TEST_F(DecoderTest, DecodingStopsAfterTheEleventhSeparator) {
  TDeviceContent c;
  c.Tail[daMenu] = QByteArray("\x01\x02\x03", 3); // no record type the decoder knows there
  const auto r = DecodeContent(c);
  EXPECT_TRUE(r->D->Ready);
}

TEST_F(DecoderTest, SetpointCopyWithoutFirstGroupOnlyTraces) {
  TDeviceContent c;
  c.Tail[daSetpoints] = QByteArray::fromHex("340300050001");
  const auto r = DecodeContent(c);
  const int at = r->Img.AreaOffset[8];
  EXPECT_TRUE(r->Trace.contains(H(at + 5, 4) + " cannot find ustav1 for flash " + H(0x2000 + at, 4)))
      << r->Trace.join('\n').toStdString();
  EXPECT_EQ(r->D->GetUstavGroupCount(), 0);
  EXPECT_EQ(r->D->Root->SelectNodes("ustav/group-mreg")->GetCount(), 0);
}

TEST_F(DecoderTest, EightGroupsAreTheLimit) {
  TDeviceContent c;
  TDcSetpoint s;
  s.Full = QStringLiteral("S");
  c.Setpoints = {s, s};
  for (int g = 0; g < 8; ++g)
    c.SetpointGroups.push_back({200 + 10 * g, uint16_t(0x0500 + 0x20 * g), 0});
  const auto r = DecodeContent(c);
  EXPECT_EQ(r->D->GetUstavGroupCount(), 8);
  EXPECT_EQ(r->D->GetUstavGroupReg(7), 270);
  EXPECT_THROW(r->D->GetUstavGroupReg(8), EKvRange);
  c.SetpointGroups.push_back({300, 0x0700, 0});
  TDecodedImage nine;
  EXPECT_THROW(DecodeBytes(nine, BuildDeviceImage(c).Bytes), EKvRange);
  EXPECT_FALSE(nine.D->Ready);
}

TEST_F(DecoderTest, CopyRecordBeyondTheAddressRangeIsARangeError) {
  TDeviceContent c;
  c.BaseAddr = 0x1000;
  TDcMeasure m;
  m.Full = QString(3000, QChar('x')); // pushes the setpoints past offset 0x1000
  c.Measures = {m};
  TDcSetpoint s;
  s.Full = QStringLiteral("S");
  c.Setpoints = {s};
  c.SetpointGroups = {{100, 0, 0}, {101, 0, 0}};
  QByteArray b = BuildDeviceImage(c).Bytes;
  // The same image told to lie at 0xF000: its later records lie beyond 0xFFFF.
  Put16(b, 4, 0xF000 + 48);
  Put16(b, 6, 0xF000 + 2116);
  TDecodedImage r;
  EXPECT_THROW(DecodeBytes(r, b), EKvRange);
}

TEST_F(DecoderTest, TextsKeepLineBreaksAsBlanksAndDropCodesWithoutCharacter) {
  TDeviceContent c;
  TDcEvent e;
  e.Text = QStringLiteral("A|B\\123\\1");
  c.Events = {e};
  TDcMeasure m;
  m.Short = QStringLiteral("s");
  m.Full = QString::fromUtf8("a\tb\x01" "c");
  c.Measures = {m};
  const auto r = DecodeContent(c);
  // Display texts: 0x01 is the line break, 0x7B nobody's code.
  EXPECT_EQ(r->D->Root->SelectSingleNode("event/event-item/string")->GetText(), U("А В "));
  EXPECT_EQ(r->D->Root->SelectSingleNode("measure/measure-item/string")->GetText(), "abc");
}

// Readers take every name and query from the vocabulary: a decoded image must
// hold nothing else, each record type must sit in the element its type names,
// and every shared query must find what a reader looks for.
TEST_F(DecoderTest, DecodedImageSpeaksTheReadersVocabulary) {
  const auto r = DecodeContent(FullContent());
  const IXXMLNode root = r->D->Root;
  ASSERT_EQ(root->GetNodeName(), DX_ROOT);
  QSet<QString> known;
  for (const char *n : DX_ELEMENT_NAMES)
    known.insert(QString::fromLatin1(n));
  QSet<QString> written;
  const IXXMLNodeList all = root->SelectNodes(QStringLiteral("//*"));
  for (int i = 0; i < all->GetCount(); ++i) {
    const IXXMLNode n = all->GetItem(i);
    written.insert(n->GetNodeName());
    EXPECT_TRUE(known.contains(n->GetNodeName())) << n->GetNodeName().toStdString();
    if (const IXXMLNode t = n->SelectSingleNode(DX_RECORD_TYPE))
      EXPECT_STREQ(DescElementOfRecordType(t->GetText().toInt()), n->GetNodeName().toLatin1().constData());
  }
  // A name no decoded image holds is a name no reader can ever find; only the
  // calibration read adds its two afterwards.
  EXPECT_EQ(known.subtract(written), QSet<QString>({DX_CCADDR, DX_CCVALUE}));

  const auto first = [&](const QString &Path) { return root->GetStrNode(Path); };
  const QString measureMreg = first(DxPath({DX_MEASURE, DX_MEASURE_ITEM, DX_MREG}));
  const QString measureIder = first(DxPath({DX_MEASURE, DX_MEASURE_ITEM, DX_IDER}));
  const QString numMreg = first(DxPath({DX_PARAM, DX_PARAM_NUM, DX_MREG}));
  const QString enumMreg = first(DxPath({DX_PARAM, DX_PARAM_ENUM, DX_MREG}));
  const QString bitMreg = first(DxPath({DX_PARAM, DX_INPUT_OUTPUT, DX_PARAM_BITREG, DX_MREG}));
  const QString eventCode = first(DxPath({DX_EVENT, DX_EVENT_ITEM, DX_BYTE_CODE}));
  const QString setIder = first(DxPath({DX_USTAV, DX_USTAV_NUM, DX_IDER}));
  const QString setLevel = first(DxPath({DX_USTAV, DX_USTAV_NUM, DX_BYTE_LEVEL_MASK}));
  const QString levelIder = first(DxPath({DX_USTAV, DX_USTAV_LEVEL, DX_STRING, DX_IDER}));
  const IXXMLNode setpoint = root->SelectSingleNode(DxPath({DX_USTAV, DX_USTAV_NUM}));
  const IXXMLNode enumNode = root->SelectSingleNode(DxPath({DX_PARAM, DX_PARAM_ENUM}));
  const struct {
    IXXMLNode From;
    QString Query;
  } queries[] = {
      {root, DXQ_MAPPED},
      {root, QString(DXQ_MAPPED_BY_MREG).arg(numMreg)},
      {root, DXQ_ALL_MREG},
      {root, QString(DXQ_MEASURE_BY_IDER).arg(measureIder)},
      {root, QString(DXQ_MEASURE_BY_MREG).arg(measureMreg)},
      {root, DXQ_MEASURE_READABLE},
      {root, QString(DXQ_MEASURE_NAME_BY_MREG).arg(measureMreg)},
      {root, QString(DXQ_MEASURE_ANY_BY_MREG).arg(measureMreg)},
      {setpoint, QString(DXQ_MEASURE_BY_FLASH_FROM_SETPOINT).arg(setpoint->GetStrNode(DX_WORD_MEASURE_IDER))},
      {root, DXQ_MEASURE_SCALE_REGS},
      {root, QString(DXQ_PARAM_ANY_BY_MREG).arg(numMreg)},
      {root, QString(DXQ_PARAM_NUM_NAME_BY_MREG).arg(numMreg)},
      {root, QString(DXQ_PARAM_ENUM_BY_MREG).arg(enumMreg)},
      {root, DXQ_PARAM_ENUMS_MAPPED},
      {root, DXQ_PARAM_PAGE_ITEMS},
      {root, DXQ_PARAM_PASSWORD},
      {root, QString(DXQ_BITREG_BY_TYPE).arg(RT_BITREG_RELAYS)},
      {root, QString(DXQ_BITREG_BY_MREG).arg(bitMreg)},
      {root, QString(DXQ_BIT_BY_TYPE_AND_IDER).arg(RT_BITREG_INPUTS).arg(0)},
      {root, QString(DXQ_EVENT_BY_CODE).arg(eventCode)},
      {root, DXQ_EVENT_LEVELS_NAMED},
      {root, QString(DXQ_EVENT_LEVEL_TEXT).arg(first(DxPath({DX_EVENT, DX_EVENT_LEVEL, DX_STRING, DX_IDER})))},
      {root, DXQ_EVENT_WORD_COUNTS},
      {root, QString(DXQ_USTAV_BY_IDER).arg(setIder)},
      {root, QString(DXQ_USTAV_NAME_BY_IDER).arg(setIder)},
      {root, DXQ_USTAV_MAPPED},
      {root, QString(DXQ_USTAV_BY_LEVEL).arg(setLevel)},
      {root, DXQ_USTAV_SETPOINTS},
      {root, QString(DXQ_USTAV_LEVEL_BY_IDER).arg(levelIder)},
      {root, QString(DXQ_USTAV_LEVEL_TEXT).arg(levelIder)},
      {root, DXQ_GROUP_MREG},
      {root, QString(DXQ_GROUP_MREG_N).arg(2)},
      {setpoint, QString(DXQ_MREG_N).arg(2)},
      {enumNode, DXQ_NAME},
      {enumNode, DXQ_NAME_FIRST},
      {enumNode, DXQ_FIRST_STRING},
      {enumNode, DXQ_VALUE_STRINGS},
      {enumNode, DXQ_VALUE_NODES},
      {enumNode, DXQ_VALUE_TEXTS},
      {enumNode, DXQ_FIRST_VALUE_TEXTS},
      {enumNode, QString(DXQ_VALUE_TEXT_AT).arg(2)},
      {enumNode, QString(DXQ_VALUE_TEXT).arg(1)},
      {enumNode, QString(DXQ_VALUE_PLAIN).arg(1)},
      {enumNode->SelectSingleNode(DXQ_VALUE_STRINGS), DXQ_FIRST_VALUE},
  };
  for (const auto &q : queries) {
    ASSERT_TRUE(q.From) << q.Query.toStdString();
    EXPECT_GT(q.From->SelectNodes(q.Query)->GetCount(), 0) << q.Query.toStdString();
  }
  EXPECT_EQ(root->SelectNodes(DXQ_GROUP_MREG)->GetCount(), 2);
  EXPECT_EQ(root->GetStrNode(QString(DXQ_BITREG_BY_TYPE).arg(RT_BITREG_RELAYS) + '/' + DX_CAPTION),
            BitRegCaption(RT_BITREG_RELAYS));
  EXPECT_EQ(DescriptorCacheFileName(0x0012ABCD), "0012ABCD.xml"); // as the identification writes it
}
