#include "uControlRules.h"
#include "../../common/uErrorOf.h"

#include "uErrors.h"

#include <QBuffer>
#include <QtEndian>
#include <gtest/gtest.h>

namespace {
IXXMLNode Parse(const QString &Xml) {
  IXXMLDocument doc = NewXMLDocument();
  EXPECT_TRUE(doc->LoadXML(Xml));
  return doc->GetDocumentElement();
}

// A 9-byte record head: year - 2000 .. hundredths, code, flags, then Extra zero bytes.
QByteArray Record(int Year, int Minute, uint8_t Code, uint8_t Flags, int Extra = 0) {
  QByteArray r;
  for (int v : {Year - 2000, 3, 5, 14, Minute, 7, 25})
    r.append(char(v));
  r.append(char(Code)).append(char(Flags));
  return r + QByteArray(Extra, '\0');
}
} // namespace

TEST(ControlRules, MeasureTextScalesSignedOffsetAndPrimaryValues) {
  TMeasureScale signedDiv10;
  signedDiv10.Signed = true, signedDiv10.MvsDiv = 10;
  TMeasureScale offset;
  offset.HasOffset = true, offset.Offset = 1000;
  TMeasureScale primary;
  primary.MvsDiv = 1000, primary.PrimVal = 600, primary.SecVal = 5, primary.MvsMult = 1;
  const struct {
    uint16_t Raw;
    TMeasureScale Scale;
    bool Primary;
    const char *Text;
  } cases[] = {
      {65526, signedDiv10, false, "-1.00"}, {65535, signedDiv10, false, ""}, // no value, even when signed
      {1000, signedDiv10, false, "100.0"},  {1017, offset, false, "17.0"},
      {3200, primary, false, "3.20"},       {3200, primary, true, "384"},
  };
  for (const auto &c : cases)
    EXPECT_EQ(MeasureText(c.Raw, c.Scale, c.Primary), QString(c.Text)) << c.Raw;
}

TEST(ControlRules, MeasureScaleComesFromTheItemAndChecksWordRange) {
  const IXXMLNode item = Parse("<m><mvs-div>100</mvs-div><byte-dopcode>4</byte-dopcode><mvp-mreg>32</mvp-mreg>"
                               "<byte-offset-flag>1</byte-offset-flag><word-offset>7</word-offset></m>");
  const TMeasureScale s = MeasureScaleOf(item);
  EXPECT_EQ(s.MvsDiv, 100);
  EXPECT_TRUE(s.Signed);
  EXPECT_EQ(s.MvpReg, 32);
  EXPECT_EQ(s.MvsReg, 65535);
  EXPECT_EQ(s.Offset, 7);
  EXPECT_THROW(MeasureScaleOf(Parse("<m><prim-val>65536</prim-val></m>")), EKvRange);
}

TEST(ControlRules, BitNamesSkipDashesAndKeepPositions) {
  const IXXMLNode root =
      Parse("<d><param><input-output><param-bitreg><mreg>20</mreg>"
            "<string><ider>0</ider><value>A</value></string><string><ider>1</ider><value>-x</value></string>"
            "<string><ider>2</ider><value>C</value></string><string><ider>3</ider><value/></string>"
            "</param-bitreg></input-output></param></d>");
  EXPECT_EQ(BitNamesOf(root, 20), (QList<TBitName>{{0, "A"}, {2, "C"}}));
  EXPECT_TRUE(BitNamesOf(root, 21).isEmpty());
}

TEST(ControlRules, BitmapSetsOnlyTheFlagsItCovers) {
  QList<bool> shown{true, true, true, false, true};
  ApplyBitmap(shown, "101");
  EXPECT_EQ(shown, (QList<bool>{true, false, true, false, true}));
  EXPECT_EQ(BitmapOf(shown), "10101");
}

TEST(ControlRules, BitLayoutFillsColumnsWithTiesToEven) {
  // Circle 15: label 1.5 x 15 = 22.5 -> 22, rows 22 apart; a client 70 high holds
  // rows at 20 and 42, the third starts the next column (width 200 / 2 = 100).
  const QList<TBitPlace> p = LayoutBits({true, false, true, true}, 200, 70, 2, 15, 15);
  ASSERT_EQ(p.size(), 4);
  EXPECT_EQ(p[0], (TBitPlace{true, 10, 20, 32}));
  EXPECT_FALSE(p[1].Visible);
  EXPECT_EQ(p[2], (TBitPlace{true, 10, 42, 32}));
  EXPECT_EQ(p[3], (TBitPlace{true, 110, 20, 132}));
  EXPECT_TRUE(LayoutBits({true}, 200, 70, 0, 15, 15).isEmpty());
}

TEST(ControlRules, SetpointWritesAndBitMerge) {
  EXPECT_EQ(UstavListWrite(true, 3, 1), (TMaskedWrite{8, 8}));
  EXPECT_EQ(UstavListWrite(true, 3, 0), (TMaskedWrite{0, 8}));
  EXPECT_EQ(UstavListWrite(false, 3, 2), (TMaskedWrite{2, 0xFFFF}));
  EXPECT_EQ(UstavListWrite(true, 15, 1), (TMaskedWrite{0x8000, 0x8000}));
  // A bit set with no bit chosen writes no word at all; a list keeps its word.
  for (const int bit : {-1, 16, 65535})
    EXPECT_EQ(UstavListWrite(true, bit, 1), std::nullopt) << bit;
  EXPECT_EQ(UstavListWrite(false, -1, 1), (TMaskedWrite{1, 0xFFFF}));
  QBuffer b;
  b.open(QIODevice::ReadWrite);
  b.write(QByteArray::fromHex("6400F000")); // register 100, value $00F0
  MergeBitsStream(b, 8, 8);
  EXPECT_EQ(b.buffer().toHex(), "6400f800");
  QBuffer odd;
  odd.open(QIODevice::ReadWrite);
  odd.write(QByteArray::fromHex("640000F000"));
  EXPECT_THROW(MergeBitsStream(odd, 8, 8), EKvAssert);
  EXPECT_EQ(ErrorOf([&] { MergeBitsStream(odd, 8, 8); }), "invalid stream size");
}

TEST(ControlRules, EventRingReadTakesNewRecordsAndStopsAtOlderOnes) {
  const IXXMLNode root = Parse("<d><event><event-measure><word-count>2</word-count></event-measure>"
                               "<event-bitreg><word-count>1</word-count></event-bitreg></event></d>");
  const int size = EventRecordSize(root);
  ASSERT_EQ(size, 15);
  const QByteArray empty(size, char(0xFF));
  const QByteArray ring = empty + Record(2026, 1, 1, 1, 6) + Record(2026, 2, 17, 0, 6) + Record(2026, 0, 2, 1, 6) +
                          Record(2026, 9, 2, 1, 3); // the last record is cut short
  TEventCursor cursor;
  const QList<TEventRow> rows = TakeEvents(ring, size, 256, cursor);
  ASSERT_EQ(rows.size(), 2);
  EXPECT_EQ(rows[0].Code, 1);
  EXPECT_TRUE(rows[0].State);
  EXPECT_EQ(rows[1].Code, 17);
  EXPECT_EQ(cursor.LastIndex, 2); // the empty record counted as index 0
  EXPECT_EQ(cursor.LastTime, rows[1].Time);

  const TEventRange first = NextEventRange(TEventCursor(), 5, 256);
  EXPECT_EQ(first.First, 0);
  EXPECT_EQ(first.Last, 5);
  EXPECT_EQ(first.LastTime, DeviceBaseDate);
  const TEventRange later = NextEventRange({254, rows[1].Time}, 5, 256);
  EXPECT_EQ(later.First, 255);
  EXPECT_EQ(later.Last, 4);
  EXPECT_EQ(later.LastTime, rows[1].Time);
}
