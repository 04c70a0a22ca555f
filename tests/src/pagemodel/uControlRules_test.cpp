#include "uControlRules.h"
#include "../../common/uErrorOf.h"

#include "uErrors.h"

#include <QBuffer>
#include <QDateTime>
#include <QtEndian>
#include <algorithm>
#include <functional>
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
                          empty + Record(2026, 9, 2, 1, 3); // the last record is cut short
  TEventCursor cursor;
  const QList<TEventRow> rows = TakeEvents(ring, size, 256, 5, cursor);
  // The record older than the one before it is written after it: the empty
  // slot, not the stamp, ends the ring.
  ASSERT_EQ(rows.size(), 3);
  EXPECT_EQ(rows[0].Code, 1);
  EXPECT_TRUE(rows[0].State);
  EXPECT_EQ(rows[1].Code, 17);
  EXPECT_EQ(rows[2].Code, 2);
  EXPECT_LT(rows[2].Time, rows[1].Time);
  EXPECT_EQ(cursor.LastIndex, 3); // the empty record counted as index 0
  EXPECT_EQ(cursor.LastTime, rows[2].Time);

  // The slot after the newest is told by its bytes, not by its stamp: as it
  // was read it ends the walk; written anew with an older stamp (the clock
  // set back) it is new.
  EXPECT_TRUE(TakeEvents(empty, size, 256, 5, cursor).isEmpty());
  EXPECT_EQ(cursor.LastIndex, 3);
  const QList<TEventRow> stepped = TakeEvents(Record(2025, 0, 3, 0, 6) + empty, size, 256, 5, cursor);
  ASSERT_EQ(stepped.size(), 1);
  EXPECT_EQ(stepped[0].Code, 3);
  EXPECT_EQ(cursor.LastIndex, 4);

  // Until the end is found the reads go on from slot 0 in steps of 32
  // frames; after it, MaxCount frames after the newest. None is given a last time.
  const TEventRange first = NextEventRange(TEventCursor(), 5, 256);
  EXPECT_EQ(first.First, 0);
  EXPECT_EQ(first.Last, EventScanFrames);
  EXPECT_EQ(first.LastTime, 0.0);
  TEventCursor at254;
  at254.LastIndex = 254;
  at254.LastTime = rows[1].Time;
  const TEventRange later = NextEventRange(at254, 5, 256);
  EXPECT_EQ(later.First, 255);
  EXPECT_EQ(later.Last, 4);
  EXPECT_EQ(later.LastTime, 0.0);

  // A full ring is read whole before its end is known: 256 slots of records,
  // a minute apart from slot 200 on, the oldest in slot 200.
  QByteArray full;
  for (int s = 0; s < 256; ++s)
    full += Record(2026, 0, uint8_t(s), 0, 6);
  for (int s = 0; s < 256; ++s)
    full[qsizetype(s) * size + 4] = char(((s + 56) % 256) / 5); // minutes, slot 199 the newest
  TEventCursor scan;
  for (int read = 0; read < 256 / EventScanFrames; ++read) {
    const TEventRange r = NextEventRange(scan, 5, 256);
    ASSERT_EQ(r.First, read * EventScanFrames) << read;
    const QList<TEventRow> got = TakeEvents(full.mid(qsizetype(r.First) * size, EventScanFrames * size), size, 256, 5, scan);
    EXPECT_EQ(got.isEmpty(), read + 1 < 256 / EventScanFrames) << read;
    if (!got.isEmpty()) {
      EXPECT_EQ(got.last().Code, 199);
    }
  }
}

namespace {

// A device ring of 8 slots of 9-byte records: Log writes the next slot, as
// the relay does, wrapping; each record's code is its serial number.
struct TRing {
  static constexpr int Slots = 8, Size = 9;
  QByteArray Bytes = QByteArray(Slots * Size, char(0xFF));
  int Next = 0, Serial = 0;
  QDateTime Clock{QDate(2026, 3, 5), QTime(10, 0), Qt::UTC};

  void Log(int Count = 1) {
    for (int i = 0; i < Count; ++i) {
      QByteArray r;
      const QDate d = Clock.date();
      const QTime t = Clock.time();
      for (int v : {d.year() - 2000, d.month(), d.day(), t.hour(), t.minute(), t.second(), 0})
        r.append(char(v));
      r.append(char(++Serial)).append(char(1));
      Bytes.replace(Next * Size, Size, r);
      Next = (Next + 1) % Slots;
      Clock = Clock.addSecs(60);
    }
  }
  // The frames of the range asked for, as the ring step reads them without a last time.
  QByteArray Read(const TEventRange &R) const {
    QByteArray out;
    int f = R.First;
    do {
      out += Bytes.mid(f * Size, Size);
      f = (f + 1) % Slots;
    } while (f != R.Last && f != R.First);
    return out;
  }
};

// One refresh of a panel of MaxCount rows: the serials it takes, oldest first.
QList<int> Refresh(const TRing &Ring, TEventCursor &Cursor, int MaxCount = 3) {
  QList<int> out;
  const QByteArray file = Ring.Read(NextEventRange(Cursor, MaxCount, TRing::Slots));
  for (const TEventRow &row : TakeEvents(file, TRing::Size, TRing::Slots, MaxCount, Cursor))
    out << row.Code;
  return out;
}

} // namespace

TEST(ControlRules, EventRingTellsNewRecordsBySlotAcrossClockStepsAndAFullRing) {
  struct TCase {
    const char *Name;
    std::function<void(TRing &)> Before;  // the ring at the panel's first read
    QList<int> First;                     // what the first read shows
    std::function<void(TRing &)> Between; // what the relay logs then
    QList<int> Second;                    // the next refresh
  };
  const auto stepBack = [](TRing &R, int Minutes = 60) { R.Clock = R.Clock.addSecs(-60 * Minutes); };
  const std::vector<TCase> cases = {
      {"a ring not full with a step back: its end is the empty slot",
       [&](TRing &R) { R.Log(3), stepBack(R), R.Log(2); }, {3, 4, 5},
       [&](TRing &R) { R.Log(1); }, {6}},
      {"the clock set back while the panel reads: the new records whatever their stamps",
       [](TRing &R) { R.Log(4); }, {2, 3, 4},
       [&](TRing &R) { stepBack(R), R.Log(2); }, {5, 6}},
      {"a full ring: its oldest record is never shown",
       [](TRing &R) { R.Log(11); }, {9, 10, 11},
       [](TRing &R) { R.Log(2); }, {12, 13}},
      {"a full ring with a step after its end in slot order",
       [&](TRing &R) { R.Log(6), stepBack(R, 3), R.Log(5); }, {9, 10, 11},
       [](TRing &R) { R.Log(1); }, {12}},
      {"a full ring with a step before its end in slot order: the ring's span falls more",
       [&](TRing &R) { R.Log(9), stepBack(R, 3), R.Log(3); }, {10, 11, 12},
       [](TRing &R) { R.Log(1); }, {13}},
      {"a full ring set back by more than its span: the step taken for the end",
       [&](TRing &R) { R.Log(9), stepBack(R), R.Log(3); }, {7, 8, 9},
       [](TRing &R) { R.Log(1); }, {}},
      {"an empty ring: the first record is new",
       [](TRing &) {}, {},
       [](TRing &R) { R.Log(1); }, {1}},
  };
  for (const TCase &c : cases) {
    TRing ring;
    c.Before(ring);
    TEventCursor cursor;
    EXPECT_EQ(Refresh(ring, cursor), c.First) << c.Name;
    c.Between(ring);
    EXPECT_EQ(Refresh(ring, cursor), c.Second) << c.Name;
    EXPECT_TRUE(Refresh(ring, cursor).isEmpty()) << c.Name << ": an unchanged slot ends the walk";
  }
}

TEST(ControlRules, EventRingNeverShowsARecordTwiceWhileTheRelayWritesOn) {
  // The relay logs one to four records between refreshes for several turns
  // of the ring. The clock set back while the panel reads: each refresh
  // takes only records newer than every one shown (the ring's oldest never)
  // and ends on the newest logged. A full ring set back by more than its span
  // at the panel's first read: the step is taken for the end and nothing is
  // new until the relay's writing comes round to the slot after it; from
  // then on the same holds as above, none of the records written meanwhile
  // passing for new.
  for (const bool stepBeforeStart : {false, true}) {
    TRing ring;
    ring.Log(9);
    if (stepBeforeStart)
      ring.Clock = ring.Clock.addSecs(-3600);
    ring.Log(4);
    if (!stepBeforeStart)
      ring.Clock = ring.Clock.addSecs(-3600);
    TEventCursor cursor;
    QList<int> taken = Refresh(ring, cursor, 5);
    bool caughtUp = !stepBeforeStart;
    for (int round = 1; round <= 24; ++round) {
      ring.Log(round % 4 + 1);
      const QList<int> fresh = Refresh(ring, cursor, 5);
      if (!caughtUp && fresh.isEmpty())
        continue;
      caughtUp = true;
      for (int serial : fresh) {
        EXPECT_GT(serial, *std::max_element(taken.begin(), taken.end())) << stepBeforeStart << " round " << round;
        taken << serial;
      }
      EXPECT_EQ(taken.last(), ring.Serial) << stepBeforeStart << " round " << round;
    }
    EXPECT_TRUE(caughtUp) << stepBeforeStart;
  }
}
