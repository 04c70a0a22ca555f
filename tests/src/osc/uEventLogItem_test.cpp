#include "uEventLogItem.h"

#include "uDevSimFiles.h"
#include "uErrors.h"
#include "uLogger.h"
#include "uModbus.h"

#include <gtest/gtest.h>

namespace {

// Two measures (the first scaled by registers 5 and 6), twenty inputs in two
// words with the fifth excluded, two event codes: L = 9 + 2 x (1 + 1 + 2) = 17.
QString Xml(const QString &EventMeasures = QString(), const QString &BitRefs = QString(),
            const QString &Items = QString()) {
  QString names;
  for (int i = 1; i <= 20; ++i)
    names += QStringLiteral("<string><ider>%1</ider><value>%2</value></string>")
                 .arg(i - 1)
                 .arg(i == 5 ? QStringLiteral("-spare") : QStringLiteral("In %1").arg(i));
  return QStringLiteral(
             "<device-descriptor><measure>"
             "<measure-item><ider>1</ider><string>Ia</string><mvp-mult>10</mvp-mult><mvs-div>100</mvs-div>"
             "<mvp-mreg>5</mvp-mreg><mvs-mreg>6</mvs-mreg></measure-item>"
             "<measure-item><ider>2</ider><string>Ib</string></measure-item></measure>"
             "<param><input-output><param-bitreg><caption>Inputs</caption><record-type>17</record-type>%1"
             "<word-count>2</word-count></param-bitreg></input-output></param>"
             "<event><event-level><string><ider>1</ider><value>Alarm</value><value/></string></event-level>%2%3"
             "<event-item><byte-code>1</byte-code><byte-level-mask>1</byte-level-mask><string>Start</string></event-item>"
             "<event-item><byte-code>2</byte-code><byte-level-mask>3</byte-level-mask><string>Trip</string></event-item>"
             "%4</event></device-descriptor>")
      .arg(names,
           EventMeasures.isNull()
               ? QStringLiteral("<event-measure><measure-ider>1</measure-ider><word-count>1</word-count></event-measure>"
                                "<event-measure><measure-ider>2</measure-ider><word-count>1</word-count></event-measure>")
               : EventMeasures,
           BitRefs.isNull()
               ? QStringLiteral("<event-bitreg><bitreg-record-type>17</bitreg-record-type><word-count>2</word-count>"
                                "</event-bitreg>")
               : BitRefs,
           Items);
}

struct TLoaded {
  IXXMLDocument Doc = NewXMLDocument();
  std::shared_ptr<TEventLayout> Layout = std::make_shared<TEventLayout>();
};

std::unique_ptr<TLoaded> Load(const QString &Text, const QString &Exclude = QStringLiteral("-")) {
  auto r = std::make_unique<TLoaded>();
  EXPECT_TRUE(r->Doc->LoadXML(Text));
  r->Layout->SetDescriptor(r->Doc->GetDocumentElement(), Exclude);
  return r;
}

QByteArray Hex(const char *Text) { return QByteArray::fromHex(Text); }

QDateTime At(int H, int M, int S = 0, int Ms = 0) { return QDateTime(QDate(2024, 5, 6), QTime(H, M, S, Ms), Qt::UTC); }

bool Logged(const QString &Text) {
  const QStringList lines = Logger().Lines();
  return std::any_of(lines.begin(), lines.end(), [&](const QString &L) { return L.endsWith(Text); });
}

QStringList Times(const TEventLogItems &Items) {
  QStringList out;
  for (const auto &i : Items)
    out << i->FCells[2].Text.mid(11, 5);
  return out;
}

} // namespace

TEST(EventLayout, PlacesMeasuresBitsAndExcludedNames) {
  auto d = Load(Xml());
  const TEventLayout &l = *d->Layout;
  EXPECT_EQ(l.RecordLength(), 17);
  ASSERT_EQ(l.ColumnCount(), 4 + 2 + 19);
  EXPECT_EQ(l.FirstBitColumn(), 6);
  struct {
    int Column, Kind, Offset, Bit;
    const char *Caption, *Group;
  } rows[] = {
      {3, ekState, 0, 0, "Значение", ""},
      {4, ekMeasure, 9, 0, "Ia", "Измерения"},
      {5, ekMeasure, 11, 0, "Ib", ""},
      {6, ekBit, 13, 0, "In 1", "Inputs"}, // first bit word at 13
      {9, ekBit, 13, 3, "In 4", ""},
      {10, ekBit, 13, 5, "In 6", ""}, // the fifth is excluded but keeps bit 4
      {21, ekBit, 15, 0, "In 17", ""},
      {24, ekBit, 15, 3, "In 20", ""},
  };
  for (const auto &r : rows) {
    SCOPED_TRACE(r.Column);
    const TDrawableDesc &c = l.GetColumn(r.Column);
    EXPECT_EQ(c.FKind, r.Kind);
    EXPECT_EQ(c.FOffset, r.Offset);
    EXPECT_EQ(c.FBit, r.Bit);
    EXPECT_EQ(c.FCaption, QString::fromUtf8(r.Caption));
    EXPECT_EQ(c.FGroupCaption, QString::fromUtf8(r.Group));
  }
  EXPECT_EQ(l.FindColumnOfKind(ekBit, 1), 7);
  EXPECT_EQ(l.FindColumnOfKind(ekMeasure, 2), -1);
  EXPECT_THROW(l.GetColumn(25), EKvRange);
  // An excluded first bit leaves the group without its caption; "x" excludes nothing here.
  EXPECT_EQ(Load(Xml(), QStringLiteral("I"))->Layout->GetColumn(6).FGroupCaption, QString());
  EXPECT_EQ(Load(Xml(), QStringLiteral("x"))->Layout->ColumnCount(), 4 + 2 + 20);
}

TEST(EventRecord, DecodesTheRecordEdgeCases) {
  auto d = Load(Xml());
  struct {
    const char *Name;
    QByteArray Bytes;
    const char *Time;
    const char *Level, *Event;
    bool State;
    uint16_t Ia, Ib;
    std::vector<int> BitsOn; // columns
  } rows[] = {
      {"empty", QByteArray(17, char(0xFF)), "2000-01-01 00:00:00.000", "<0>", "<0>", false, 0, 0, {}},
      {"30 February", Hex("18021E0A00000001018001800180018001"), "2000-01-01 00:00:00.000", "<0>", "<0>", false, 0,
       0, {}},
      {"last hundredth", Hex("180C1F173B3B6302010000000000000000"), "2024-12-31 23:59:59.990", "<3>", "Trip", true,
       0, 0, {}},
      {"80 01", Hex("18050E0A000000010080010002800100FF"), "2024-05-14 10:00:00.000", "Alarm", "Start", false,
       32769, 2, {6, 20, 21, 22, 23, 24}},
      {"unknown code", Hex("18050E0A00000009010000000000000000"), "2024-05-14 10:00:00.000", "<0>", "<9>", true, 0,
       0, {}},
  };
  for (const auto &r : rows) {
    SCOPED_TRACE(r.Name);
    TEventLogItem item(d->Layout);
    DecodeEventRecord(item, r.Bytes);
    EXPECT_EQ(item.FCells[2].Text, QString::fromLatin1(r.Time));
    EXPECT_EQ(item.FCells[0].Text, QString::fromLatin1(r.Level));
    EXPECT_EQ(item.GetEventName(), QString::fromLatin1(r.Event));
    EXPECT_EQ(item.FCells[3].Flag, r.State);
    EXPECT_EQ(item.GetCell(4).Value, r.Ia);
    EXPECT_EQ(item.GetCell(5).Value, r.Ib);
    std::vector<int> on;
    for (int c = 6; c < 25; ++c)
      if (item.GetCell(c).Flag)
        on.push_back(c);
    EXPECT_EQ(on, r.BitsOn);
  }
  TEventLogItem item(d->Layout);
  EXPECT_THROW(item.GetCell(25), EKvRange);
}

TEST(EventRecord, MendsOfTheLayoutAreLoggedAndShiftNothing) {
  // A missing measure and a missing bit register keep their words: Ib still
  // reads offset 11 and the inputs start after the two words of type 18.
  auto d = Load(Xml(QStringLiteral("<event-measure><measure-ider>99</measure-ider><word-count>1</word-count>"
                                   "</event-measure><event-measure><measure-ider>2</measure-ider><word-count>1"
                                   "</word-count></event-measure>"),
                    QStringLiteral("<event-bitreg><bitreg-record-type>18</bitreg-record-type><word-count>2"
                                   "</word-count></event-bitreg><event-bitreg><bitreg-record-type>17"
                                   "</bitreg-record-type><word-count>1</word-count></event-bitreg>")));
  EXPECT_TRUE(Logged(QStringLiteral("cannot find measure id 99")));
  EXPECT_TRUE(Logged(QStringLiteral("cannot find bitreg record-type 18")));
  const TEventLayout &l = *d->Layout;
  EXPECT_EQ(l.RecordLength(), 9 + 2 * (1 + 1 + 2 + 1));
  EXPECT_EQ(l.GetColumn(4).FOffset, 11);
  EXPECT_EQ(l.GetColumn(5).FOffset, 17);
  TEventLogItem item(d->Layout);
  // Inputs 17..20 lie in a word past L: they read 0, not the next record.
  DecodeEventRecord(item, Hex("18050E0A000000" "0101" "0000" "0007" "00000000" "0001" "FFFF"));
  EXPECT_EQ(item.GetCell(4).Value, 7);
  EXPECT_TRUE(item.GetCell(5).Flag);
  EXPECT_FALSE(item.GetCell(l.ColumnCount() - 1).Flag);

  // A trailing part shorter than a record ends the reading.
  const QByteArray ring = BuildEventRing({{At(10, 1), 1, 0, {}}, {At(10, 2), 1, 0, {}}}, 19, 2, 0);
  EXPECT_EQ(DecodeEventRecords(ring + QByteArray(5, '\0'), d->Layout).size(), 2u);
  EXPECT_TRUE(Logged(QStringLiteral("the last 5 bytes are shorter than a record of 19 and are dropped")));
  EXPECT_EQ(DecodeEventRecords(ring.left(18), d->Layout).size(), 0u);
}

TEST(EventRecord, RangeErrors) {
  auto d = Load(Xml(QString(), QString(),
                    QStringLiteral("<event-item><byte-code>7</byte-code><byte-level-mask>256</byte-level-mask>"
                                   "</event-item>")));
  TEventLogItem item(d->Layout);
  EXPECT_THROW(DecodeEventRecord(item, Hex("18050E0A0000000701000000000000000F")), EKvRange);
  auto big = NewXMLDocument();
  ASSERT_TRUE(big->LoadXML(QStringLiteral("<d><event><event-measure><word-count>32763</word-count></event-measure>"
                                          "</event></d>")));
  EXPECT_EQ(CalcRecordLength(big->GetDocumentElement()), 65535);
  big->GetDocumentElement()->SetStrNode(QStringLiteral("event/event-measure/word-count"), QStringLiteral("32764"));
  EXPECT_THROW(CalcRecordLength(big->GetDocumentElement()), EKvRange);
  const auto none = std::make_shared<TEventLayout>();
  EXPECT_THROW(DecodeEventRecords(QByteArray(17, '\0'), none), EKvError);
}

TEST(EventRing, DropsEmptyRecordsOrdersNewestFirstAndMergesNewOnes) {
  auto d = Load(Xml());
  const auto read = [&](const std::vector<QDateTime> &Written, int Slots, int FirstSlot) {
    std::vector<TSimEventRecord> recs;
    for (const QDateTime &t : Written)
      recs.push_back({t, 1, 0, {}});
    TEventLogItems items = DecodeEventRecords(BuildEventRing(recs, 17, Slots, FirstSlot), d->Layout);
    EXPECT_EQ(int(items.size()), Slots);
    OrderEventRing(items);
    return items;
  };
  struct {
    std::vector<QDateTime> Written; // in time order from FirstSlot
    int Slots, FirstSlot;
    QStringList Expected;
  } rows[] = {
      {{At(10, 1), At(10, 2), At(10, 5), At(10, 6)}, 4, 2, {"10:06", "10:05", "10:02", "10:01"}},
      {{At(10, 1), At(10, 2), At(10, 5), At(10, 6)}, 6, 4, {"10:06", "10:05", "10:02", "10:01"}},
      {{At(10, 1), At(10, 2), At(10, 3)}, 3, 0, {"10:03", "10:02", "10:01"}},
      {{At(10, 1), At(10, 1), At(10, 2)}, 3, 1, {"10:02", "10:01", "10:01"}},
      {{}, 4, 0, {}},
  };
  for (const auto &r : rows)
    EXPECT_EQ(Times(read(r.Written, r.Slots, r.FirstSlot)), r.Expected);
  // Reading anew keeps the held records once, the new one first.
  TEventLogItems held = read({At(10, 1), At(10, 2)}, 4, 0);
  MergeNewEventRecords(held, read({At(10, 1), At(10, 2), At(10, 3)}, 4, 0));
  EXPECT_EQ(Times(held), QStringList({"10:03", "10:02", "10:01"}));
}

TEST(EventLayout, FactorsFromTheRegisterImage) {
  auto d = Load(Xml());
  TModbus image;
  image.Clear();
  d->Layout->RefreshMeasureFactors(image); // ratios 1 until read
  EXPECT_EQ(d->Layout->MeasureText(4, 32769, true), QStringLiteral("3276.9"));
  image.SetWord(5, 600);
  image.SetWord(6, 5);
  d->Layout->RefreshMeasureFactors(image);
  TEventLogItem item(d->Layout);
  DecodeEventRecord(item, Hex("18050E0A0000000101800100020000000F"));
  item.MakeMeasureTexts(true);
  EXPECT_EQ(item.GetCell(4).Text, QStringLiteral("393228")); // 32769 x 10 / 100 x 600 / 5
  EXPECT_EQ(item.GetCell(5).Text, QStringLiteral("2"));
  item.MakeMeasureTexts(false);
  EXPECT_EQ(item.GetCell(4).Text, QStringLiteral("327.69"));
  image.SetWord(6, 0); // a secondary ratio of 0 counts as 1
  d->Layout->RefreshMeasureFactors(image);
  EXPECT_EQ(d->Layout->GetColumn(4).FPrimaryFactor, 60.0);
}
