#include "uOscHead.h"

#include "uDevSimFiles.h"
#include "uErrors.h"
#include "uFiles.h"
#include "uLogger.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QDateTime At(int H, int M, int S = 0, int Ms = 0) { return QDateTime(QDate(2024, 3, 5), QTime(H, M, S, Ms), Qt::UTC); }

QString Text(TDateTime T) { return FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz", T); }

std::vector<int> Files(const std::vector<TOscHead> &Heads) {
  std::vector<int> out;
  for (const TOscHead &h : Heads)
    out.push_back(h.FFileNo);
  return out;
}

// Two measures and a register of 20 bits (K = 76), the second measure
// without `ccaddr` and `mvs-div`.
IXXMLDocument Descriptor(int RecordType = 17) {
  QString bits;
  for (int i = 0; i < 20; ++i)
    bits += QStringLiteral("<string><ider>%1</ider><value>b%1</value></string>").arg(i);
  IXXMLDocument d = NewXMLDocument();
  d->LoadXML(QStringLiteral("<device-descriptor><measure>"
                            "<measure-item><ider>1</ider><string>Ia</string><ccaddr>7</ccaddr><mvs-div>10</mvs-div>"
                            "</measure-item><measure-item><ider>2</ider><string>Ib</string></measure-item></measure>"
                            "<param><input-output><param-bitreg><caption>In</caption><record-type>17</record-type>"
                            "<mreg>20</mreg>%1<word-count>2</word-count></param-bitreg></input-output></param><osc>"
                            "<osc-measure><measure-ider>1</measure-ider></osc-measure>"
                            "<osc-measure><measure-ider>2</measure-ider></osc-measure>"
                            "<osc-bitreg><bitreg-record-type>%2</bitreg-record-type></osc-bitreg>"
                            "</osc></device-descriptor>")
                 .arg(bits)
                 .arg(RecordType));
  return d;
}

bool Logged(const QString &Text) {
  const QStringList lines = Logger().Lines();
  return std::any_of(lines.begin(), lines.end(), [&](const QString &L) { return L.endsWith(Text); });
}

} // namespace

TEST(OscDirectory, ListsTheLayoutsEdgeCases) {
  const std::vector<TSimOscEntry> four = {{At(10, 1), 1, 1}, {At(10, 2), 1, 1}, {At(10, 3), 1, 1}, {At(10, 4), 1, 1}};
  const std::vector<TSimOscEntry> back = {{At(10, 56), 1, 1}, {At(12, 36), 1, 1}, {At(11, 56), 1, 1}, {At(12, 56), 1, 1}};
  struct {
    const char *Name;
    std::vector<TSimOscEntry> Entries;
    TSimOscDirectoryPlan Plan;
    TOscDirectoryOptions Options;
    std::vector<int> Files;
  } rows[] = {
      {"ring from slot 2", four, {4, 1, 2, {}}, {true, 4}, {2, 1, 4, 3}},
      {"ring full from slot 0", four, {4, 1, 0, {}}, {true, 4}, {4, 3, 2, 1}},
      // A damaged entry (no date) is passed over; the others are all listed.
      {"invalid slot 0", four, {4, 1, 2, {0}}, {true, 4}, {2, 4, 3}},
      {"invalid slot passed over", four, {6, 1, 0, {1}}, {true, 6}, {4, 3, 1}},
      // The clock stepped back an hour between 12:36 and 11:56: a ring not
      // yet full is written in slot order, so 12:56 is the newest.
      {"backward step, ring not full", back, {32, 1, 0, {}}, {true, 32}, {4, 3, 2, 1}},
      {"backward step across the end", back, {32, 1, 30, {}}, {true, 32}, {2, 1, 32, 31}},
      // A full ring with the step: every entry, newest by the first fall of the stamps.
      {"backward step, full ring", back, {4, 1, 0, {}}, {true, 4}, {2, 1, 4, 3}},
      {"empty ring", {}, {4, 1, 0, {}}, {true, 4}, {}},
      {"linear in order", four, {32, 1, 0, {}}, {false, 32}, {1, 2, 3, 4}},
      {"linear count 0", {}, {32, 1, 0, {}}, {false, 32}, {}},
  };
  for (const auto &r : rows) {
    SCOPED_TRACE(r.Name);
    EXPECT_EQ(Files(ParseOscDirectory(BuildOscDirectory(r.Entries, r.Plan), r.Options)), r.Files);
  }
  // Newest first: the ring from slot 2 lists 10:04, 10:03, 10:02, 10:01.
  const auto ring = ParseOscDirectory(BuildOscDirectory(four, {4, 1, 2, {}}), {true, 4});
  EXPECT_EQ(Text(ring[0].FMoment), "2024-03-05 10:04:00.000");
  EXPECT_EQ(Text(ring[3].FMoment), "2024-03-05 10:01:00.000");
  // Linear from the last index (counted from 1): k = 1 is the newest.
  TOscDirectoryOptions last{false, 32, true};
  EXPECT_EQ(Text(ParseOscDirectory(BuildOscDirectory(four, {32, 1, 0, {}}), last)[0].FMoment),
            "2024-03-05 10:04:00.000");
  // A ring whose unwritten slots read as zeros ends where they begin, as one of 255s does.
  QByteArray zeros = BuildOscDirectory(back, {8, 1, 0, {}});
  for (int slot = 4; slot < 8; ++slot)
    zeros.replace(16 + 12 * slot, 12, QByteArray(12, '\0'));
  EXPECT_EQ(Files(ParseOscDirectory(zeros, {true, 8})), std::vector<int>({4, 3, 2, 1}));
  // An invalid linear entry is listed at 2000-01-01 00:30.
  const auto spoilt = ParseOscDirectory(BuildOscDirectory(four, {32, 1, 0, {2}}), {false, 32});
  EXPECT_EQ(Text(spoilt[2].FMoment), "2000-01-01 00:30:00.000");
}

TEST(OscDirectory, TimeUnitFrameCountNamesAndLinearOffsets) {
  // Unit 2, before 3, after 5: 16 s, 6 s before, 10 s after, start 6 s early;
  // K = 76 gives Round(76 x 16 x 100) div 128 = 950 frames (seconds, not units).
  TOscDirectoryOptions o{true, 4};
  o.BlockBytes = 76;
  const auto h = ParseOscDirectory(BuildOscDirectory({{At(14, 15, 8, 250), 3, 5}}, {4, 2, 0, {}}), o);
  ASSERT_EQ(h.size(), 1u);
  EXPECT_EQ(h[0].TotalSeconds(), 16);
  EXPECT_EQ(h[0].FBefore * h[0].FMultiplier, 6);
  EXPECT_EQ(h[0].FAfter * h[0].FMultiplier, 10);
  EXPECT_EQ(Text(h[0].FStart), "2024-03-05 14:15:02.250");
  EXPECT_EQ(h[0].FFrameCount, 950);
  EXPECT_EQ(h[0].FFileName, "osc/1_2024-03-05_141502");
  EXPECT_THROW(OscFrameCount(76, 1200), EKvRange);

  // Two starts in one second share the name of the second; the folder gives
  // their copies names of their own (OscSavedCopy below).
  const auto same = ParseOscDirectory(
      BuildOscDirectory({{At(14, 15, 3, 100), 1, 1}, {At(14, 15, 3, 900), 1, 1}}, {4, 1, 0, {}}), o);
  EXPECT_EQ(same[0].FFileName, "osc/1_2024-03-05_141502");
  EXPECT_EQ(same[1].FFileName, "osc/1_2024-03-05_141502");

  // A linear offset before the entries ends the listing.
  QByteArray dir = BuildOscDirectory({{At(10, 1), 1, 1}, {At(10, 2), 1, 1}}, {32, 1, 0, {}});
  dir[4] = 1; // last index 1: k = 2 would read at offset 4
  EXPECT_EQ(Files(ParseOscDirectory(dir, {false, 32, true})), std::vector<int>({1}));
  EXPECT_TRUE(Logged("osch.bin: entry 2 at offset 4 lies outside the file of 512 bytes"));
}

namespace {

TUnitIdentity UnitOf(char Type, uint8_t Address = 1, const char *Route = "tcp:127.0.0.1:502") {
  return {Route, Address, QByteArray(128, Type), QByteArray(), QByteArray()};
}

TOscHead Entry(int Ms, int Before = 1, int After = 1) {
  TOscHead h;
  h.FFileNo = 3;
  h.FBefore = uint8_t(Before);
  h.FAfter = uint8_t(After);
  h.FStart = QDateTimeToDateTime(At(16, 15, 1, Ms));
  h.FFileName = OscFileName("1", h.FStart);
  return h;
}

// A copy of Head read from Unit under Name: its pair, and a side file naming
// the unit unless Unit is empty (a copy saved before copies named their relay).
void SaveCopy(const QString &Folder, const QString &Name, const TOscHead &Head, const TUnitIdentity &Unit,
              bool WithDat = true) {
  const QString base = QDir(Folder).filePath(Name);
  QDir().mkpath(QFileInfo(base).path());
  if (WithDat) {
    SaveFileBytes(base + ".cfg", "cfg of " + Name.toUtf8());
    SaveFileBytes(base + ".dat", "dat of " + Name.toUtf8());
  }
  IXXMLDocument side = NewXMLDocument();
  side->LoadXML("<root><channel id=\"0\"/></root>");
  if (!Unit.IsEmpty())
    SetOscSource(side, OscSourceOf(Head, Unit));
  SaveXMLDocument(side, base + ".xml");
}

} // namespace

// A row shows and replaces only the identified relay's copy of its own entry;
// every other copy of the second keeps its files, a read gets a name beside them.
TEST(OscSavedCopy, ARowOwnsOnlyItsRelaysCopyOfItsEntry) {
  QTemporaryDir dir;
  const TUnitIdentity a = UnitOf('A'), b = UnitOf('B');
  const QString base = "osc/1_2024-03-05_161501";
  const TOscHead e = Entry(250);
  SaveCopy(dir.path(), base, e, a);
  SaveCopy(dir.path(), base + "_2", e, TUnitIdentity()); // an earlier version's copy
  SaveCopy(dir.path(), base + "_3", e, b);
  SaveCopy(dir.path(), base + "_4", Entry(250, 1, 2), a, false); // a side file alone still takes its name
  struct {
    const char *Name;
    TUnitIdentity Unit;
    TOscHead Head;
    TOscSavedCopy::TKind Kind;
    QString Found, SaveAs;
  } rows[] = {
      {"A's own", a, e, TOscSavedCopy::Own, base, base},
      {"B's own", b, e, TOscSavedCopy::Own, base + "_3", base + "_3"},
      {"another unit of A's type at another address", UnitOf('A', 2), e, TOscSavedCopy::Unrecorded, base + "_2", base + "_5"},
      {"A over another route", UnitOf('A', 1, "rtu:/dev/ttyS0"), e, TOscSavedCopy::Unrecorded, base + "_2", base + "_5"},
      {"A's other record of the second", a, Entry(900), TOscSavedCopy::Unrecorded, base + "_2", base + "_5"},
      {"A's entry of another length", a, Entry(250, 1, 2), TOscSavedCopy::Unrecorded, base + "_2", base + "_4"},
      {"no relay identified", TUnitIdentity(), e, TOscSavedCopy::Unrecorded, base + "_2", base + "_5"},
  };
  for (const auto &r : rows) {
    SCOPED_TRACE(r.Name);
    const TOscSavedCopy found = FindOscCopy(dir.path(), r.Head, r.Unit);
    EXPECT_EQ(found.Kind, r.Kind);
    EXPECT_EQ(found.Name, r.Found);
    EXPECT_EQ(OscCopyName(dir.path(), r.Head, r.Unit), r.SaveAs);
  }
  // A second with no copy: the plain name, and no row's copy.
  const TOscHead other = Entry(250);
  TOscHead later = other;
  later.FStart += 1.0 / 86400;
  later.FFileName = OscFileName("1", later.FStart);
  EXPECT_EQ(FindOscCopy(dir.path(), later, a).Kind, TOscSavedCopy::None);
  EXPECT_EQ(OscCopyName(dir.path(), later, a), "osc/1_2024-03-05_161502");
}

TEST(OscDirectory, SavedDurationReadsTheCfgOfEitherRevision) {
  QTemporaryDir dir;
  // 100 samples at 100/s: the last index 99 without revision, the last sample number 100 in 1999.
  const auto cfg = [&](const char *Name, const QByteArray &First, const QByteArray &Channel, int EndSample,
                       const QByteArray &Date) {
    const QString path = dir.filePath(Name);
    SaveFileBytes(path, First + "\r\n1,1A,0D\r\n" + Channel + "\r\n50\r\n1\r\n100," + QByteArray::number(EndSample) +
                            "\r\n" + Date + "\r\n" + Date + "\r\nASCII\r\n");
    return path;
  };
  EXPECT_EQ(OscSavedDuration(cfg("a.cfg", "S,D", "1,Ia,,,A,1,0,0,-10,10", 99, "24/03/05,10:00:00.000")), "0.99 сек.");
  EXPECT_EQ(OscSavedDuration(
                cfg("b.cfg", "S,D,1999", "1,Ia,,,A,1,0,0,-10,10,1,1,P", 100, "05/03/2024,10:00:00.000000")),
            "0.99 сек.");
  SaveFileBytes(dir.filePath("c.cfg"), "S,D\r\nx,1A\r\n");
  EXPECT_EQ(OscSavedDuration(dir.filePath("c.cfg")), "");
  EXPECT_EQ(OscSavedDuration(dir.filePath("none.cfg")), "");
}

TEST(OscLimit, WindowOfTheTexts) {
  TOscHead h;
  h.FBefore = 2;
  h.FAfter = 2;
  h.FStart = QDateTimeToDateTime(At(10, 0));
  h.FMoment = QDateTimeToDateTime(At(10, 0, 2));
  struct {
    const char *Before, *After;
    int First, Last, FirstOffset, DurationMs;
    const char *Start;
  } rows[] = {
      {"0,5", "0", 89, 119, 8, 500, "10:00:01.500"},        // K = 76, Skip 1.5 s, Len 0.5 s: 11400 .. 15200
      {"0,25", "0", 103, 119, 116, 250, "10:00:01.750"},
      {"0.257", "0", 103, 119, 116, 250, "10:00:01.750"},  // cut to two decimals
      {"-3", "x", 118, 238, 96, 2000, "10:00:02.000"},     // negative counts as 0; no number: to the end
      {"x", "9", 0, 238, 0, 4000, "10:00:00.000"},         // whole before time; after cut to the record
  };
  for (const auto &r : rows) {
    SCOPED_TRACE(r.Before);
    TOscLimit l;
    l.Setup(h, 76, r.Before, r.After);
    EXPECT_EQ(l.FFrameFirst, r.First);
    EXPECT_EQ(l.FFrameLast, r.Last);
    EXPECT_EQ(l.FFirstOffset, r.FirstOffset);
    EXPECT_EQ(l.FDurationMs, r.DurationMs);
    EXPECT_EQ(FormatDateTime("hh:nn:ss.zzz", l.FStart), r.Start);
  }
  TOscLimit l;
  EXPECT_THROW(l.Setup(h, 76, "0", "0"), EKvError);
}

TEST(OscEvents, SideFileHoldsTheRecordsWindowAndKeepsTheViewersSettings) {
  IXXMLDocument events = NewXMLDocument();
  events->LoadXML(QStringLiteral("<device-descriptor><event><event-item><byte-code>1</byte-code><string>Start</string>"
                                 "</event-item></event></device-descriptor>"));
  auto layout = std::make_shared<TEventLayout>();
  layout->SetDescriptor(events->GetDocumentElement(), "-");
  TOscHead h;
  h.FBefore = 1;
  h.FAfter = 1;
  h.FStart = QDateTimeToDateTime(At(10, 0));
  const QDateTime t = At(10, 0);
  TEventLogItems records = DecodeEventRecords(
      BuildEventRing({{t.addMSecs(-10), 1, 1, {}}, {t, 1, 1, {}}, {t.addSecs(2), 9, 0, {}}, {t.addMSecs(2010), 1, 0, {}}},
                     9, 5, 0),
      layout);
  IXXMLDocument side = NewXMLDocument();
  side->LoadXML(QStringLiteral("<root><event moment=\"old\"/><channel name=\"Ia\"/></root>"));
  OscEventsToXml(side, h, records);
  EXPECT_EQ(side->GetXml().simplified().remove(' '),
            "<root><channelname=\"Ia\"/><eventmoment=\"24/03/05,10:00:00.000\"caption=\"Start\"/>"
            "<eventmoment=\"24/03/05,10:00:02.000\"caption=\"&lt;9>\"/></root>")
      << side->GetXml().toStdString();
}

TEST(OscDescription, BlockBytesAndTheChannelDocument) {
  const IXXMLDocument d = Descriptor();
  EXPECT_EQ(CalcBlockBytes(d->GetDocumentElement()), 76);
  const IXXMLDocument doc = OscDescription(d->GetDocumentElement());
  QString xml = doc->GetXml().simplified();
  EXPECT_TRUE(xml.startsWith("<?xml version=\"1.0\" encoding=\"windows-1251\"?>")) << xml.toStdString();
  EXPECT_TRUE(xml.contains("<analog name=\"Ia\" reg=\"7\" divider=\"10\"/><analog name=\"Ib\" reg=\"65535\" "
                           "divider=\"1\"/><discrete name=\"In\" reg=\"20\"><item bit=\"0\" name=\"b0\"/>"))
      << xml.toStdString();
  EXPECT_TRUE(xml.contains("<item bit=\"15\" name=\"b15\"/></discrete><discrete name=\"In\" reg=\"21\"><item bit=\"0\" "
                           "name=\"b16\"/>"));
  EXPECT_TRUE(xml.contains("<item bit=\"3\" name=\"b19\"/></discrete></Osci>"));
  const IXXMLDocument missing = Descriptor(18);
  try {
    CalcBlockBytes(missing->GetDocumentElement());
    ADD_FAILURE();
  } catch (const EKvError &e) {
    EXPECT_EQ(e.Text(), "no bitreg found for record-type 18");
  }
  EXPECT_THROW(OscDescription(missing->GetDocumentElement()), EKvError);
}
