#include "uOscSideFile.h"

#include "uComtrade.h"
#include "uDateTime.h"
#include "uFiles.h"
#include "uLogger.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {
// 1000 samples at 1000 per second from 2024-03-15 10:00:00.000.
struct TRecordConfig {
  TRecordConfig() {
    TComtradeConfigTool T;
    T.SetConfig(&Config);
    T.SetRateCount(1);
    T.SetRateSamples(0, 1000);
    T.SetRateEndSample(0, 999);
    T.SetFirstTime(EncodeDateTime(2024, 3, 15, 10, 0, 0, 0));
  }
  TComtradeConfig Config;
};
} // namespace

TEST(OscSideFile, RoundTripKeepsPensChecksEventsAndBothNoteKinds) {
  QTemporaryDir Dir;
  const TRecordConfig R;
  TOscChannelSettings A, B;
  A.Color = 0x0000FF, A.PenWidth = 3, A.Checked = false, A.BaseVector = true, A.Events = "10";
  auto One = std::make_unique<TOscNote>(QString::fromUtf8("Пуск"));
  One->Moment = 250, One->Dy = 12, One->FontColor = 0xFF0000, One->FontHeight = -20, One->CalcValType = 2;
  A.Notes.push_back(std::move(One));
  auto Two = std::make_unique<TOscNote2>(QStringLiteral("25 ms"));
  Two->Moment = 300, Two->Moment2 = 325;
  B.Notes.push_back(std::move(Two));
  B.Events = "01";
  TOscEventList Events;
  for (const char *M : {"24.03.15 10:00:00.100", "24.03.15 10:00:00.500"}) {
    auto E = std::make_unique<TOscEvent>();
    E->MomentText = M, E->Text = QString::fromUtf8("Событие");
    Events.push_back(std::move(E));
  }
  const QString Path = OscSideFileName(Dir.filePath("rec.dat"));
  EXPECT_EQ(Path, Dir.filePath("rec.xml"));
  SaveOscSideFile(Path, {57, 333}, {&A, &B}, Events);

  TOscChannelSettings RA, RB;
  TOscEventList REvents;
  TOscViewSettings View;
  ASSERT_TRUE(LoadOscSideFile(Path, QString(), R.Config, 1000, View, {&RA, &RB}, REvents));
  EXPECT_EQ(View.AnalogHeight, 57);
  EXPECT_EQ(View.PhasorPanelWidth, 333);
  EXPECT_TRUE(std::tie(RA.Color, RA.PenWidth, RA.Checked, RA.BaseVector, RA.Events) ==
              std::tie(A.Color, A.PenWidth, A.Checked, A.BaseVector, A.Events));
  EXPECT_EQ(RB.Events, "01");
  ASSERT_EQ(RA.Notes.size(), 1u);
  const TOscNote &N = *RA.Notes[0];
  EXPECT_FALSE(N.HasMoment2());
  EXPECT_TRUE(std::tie(N.Moment, N.Text, N.Dy, N.FontColor, N.FontHeight, N.FontName, N.CalcValType) ==
              std::tie(A.Notes[0]->Moment, A.Notes[0]->Text, A.Notes[0]->Dy, A.Notes[0]->FontColor,
                       A.Notes[0]->FontHeight, A.Notes[0]->FontName, A.Notes[0]->CalcValType));
  ASSERT_EQ(RB.Notes.size(), 1u);
  ASSERT_TRUE(RB.Notes[0]->HasMoment2());
  EXPECT_EQ(static_cast<const TOscNote2 &>(*RB.Notes[0]).Moment2, 325);
  ASSERT_EQ(REvents.size(), 2u);
  EXPECT_EQ(REvents[0]->Moment, 100);
  EXPECT_EQ(REvents[1]->Moment, 500);
  EXPECT_EQ(REvents[1]->Text, QString::fromUtf8("Событие"));
}

TEST(OscSideFile, DroppedEventsLeaveTheEventStrings) {
  QTemporaryDir Dir;
  const TRecordConfig R;
  // Events before the record, at sample 0, inside, at the end, unreadable.
  SaveFileBytes(Dir.filePath("last.xml"),
        "<root><common analog-height=\"44\" phasor-panel-width=\"-5\"/>"
        "<channel events=\"10101\"/><channel/>"
        "<event moment=\"24.03.15 09:59:59.000\" caption=\"before\"/>"
        "<event moment=\"24.03.15 10:00:00.000\" caption=\"zero\"/>"
        "<event moment=\"24.03.15 10:00:00.999\" caption=\"last\"/>"
        "<event moment=\"24.03.15 10:00:01.000\" caption=\"after\"/>"
        "<event moment=\"junk\" caption=\"junk\"/></root>");
  TOscChannelSettings A, B, C;
  C.Events = "1";
  TOscEventList Events;
  TOscViewSettings View;
  EXPECT_FALSE(LoadOscSideFile(Dir.filePath("none.xml"), QString(), R.Config, 1000, View, {&A}, Events));
  ASSERT_TRUE(LoadOscSideFile(Dir.filePath("last.xml"), QString(), R.Config, 1000, View, {&A, &B, &C}, Events));
  EXPECT_EQ(View.AnalogHeight, 44);
  EXPECT_EQ(View.PhasorPanelWidth, 200); // a negative width is not kept
  ASSERT_EQ(Events.size(), 2u);
  EXPECT_EQ(Events[0]->Text, "zero");
  EXPECT_EQ(Events[0]->Moment, 0);
  EXPECT_EQ(Events[1]->Moment, 999);
  EXPECT_EQ(A.Events, "01"); // the characters of the kept events only
  EXPECT_EQ(B.Events, "00"); // a present element: missing attributes read as 0
  EXPECT_FALSE(B.Checked);
  EXPECT_EQ(C.Events, "10"); // no element: kept, padded to the events
  EXPECT_TRUE(C.Checked);
  EXPECT_EQ(OscEventMoment("junk"), EncodeDateTime(2000, 1, 1, 0, 0, 30, 0));
}

// A record without a side file borrows the look of the one saved last, never
// its notes or events: they belong to the other record's samples.
TEST(OscSideFile, FallbackLendsItsLookButNotItsNotesOrEvents) {
  QTemporaryDir Dir;
  const TRecordConfig R;
  TOscChannelSettings Last;
  Last.Color = 0x0000FF, Last.PenWidth = 3, Last.Checked = false, Last.BaseVector = true, Last.Events = "1";
  Last.Notes.push_back(std::make_unique<TOscNote>(QStringLiteral("пуск")));
  TOscEventList LastEvents;
  LastEvents.push_back(std::make_unique<TOscEvent>());
  LastEvents[0]->MomentText = "24.03.15 10:00:00.100";
  SaveOscSideFile(Dir.filePath("last.xml"), {57, 333}, {&Last}, LastEvents);

  TOscChannelSettings C;
  TOscEventList Events;
  TOscViewSettings View;
  ASSERT_TRUE(LoadOscSideFile(Dir.filePath("rec.xml"), Dir.filePath("last.xml"), R.Config, 1000, View, {&C}, Events));
  EXPECT_EQ(View.AnalogHeight, 57);
  EXPECT_EQ(View.PhasorPanelWidth, 333);
  EXPECT_TRUE(std::tie(C.Color, C.PenWidth, C.Checked, C.BaseVector) ==
              std::tie(Last.Color, Last.PenWidth, Last.Checked, Last.BaseVector));
  EXPECT_TRUE(C.Notes.empty());
  EXPECT_TRUE(Events.empty());
  EXPECT_EQ(C.Events, "");

  // A fresh copy's side file names its relay and holds its own events, no
  // look: the look is lent all the same, the events are the copy's.
  IXXMLDocument Fresh = NewXMLDocument();
  Fresh->LoadXML("<root><event moment=\"24/03/15,10:00:00.200\" caption=\"Пуск\"/>"
                 "<event moment=\"24/03/15,10:00:00.300\" caption=\"Откл\"/></root>");
  SetOscSource(Fresh, {});
  SaveXMLDocument(Fresh, Dir.filePath("fresh.xml"));
  TOscChannelSettings F;
  ASSERT_TRUE(LoadOscSideFile(Dir.filePath("fresh.xml"), Dir.filePath("last.xml"), R.Config, 1000, View, {&F}, Events));
  EXPECT_EQ(View.AnalogHeight, 57);
  EXPECT_EQ(F.Color, Last.Color);
  ASSERT_EQ(Events.size(), 2u);
  EXPECT_EQ(Events[0]->Text, QString::fromUtf8("Пуск"));
  EXPECT_EQ(F.Events, "00");
  EXPECT_TRUE(F.Notes.empty());
  EXPECT_TRUE(View.HasLook);
  // With no record's look saved yet, only the events are read: the set-up is offered.
  ASSERT_TRUE(LoadOscSideFile(Dir.filePath("fresh.xml"), QString(), R.Config, 1000, View, {&F}, Events));
  EXPECT_FALSE(View.HasLook);
  EXPECT_EQ(Events.size(), 2u);
}

TEST(OscSideFile, EmptyOrBrokenFileIsLoggedAndLeavesTheDefaults) {
  QTemporaryDir Dir;
  const TRecordConfig R;
  const struct {
    const char *Name;
    QByteArray Bytes;
  } Cases[] = {
      {"empty", ""},
      {"cut", "<root><common analog-height=\"44\"/><chan"},
      {"not XML", "\x01\x02 binary"},
  };
  for (const auto &C : Cases) {
    const QString Path = Dir.filePath(QString("%1.xml").arg(C.Name));
    SaveFileBytes(Path, C.Bytes);
    TOscChannelSettings A;
    A.Color = 0x123456;
    TOscEventList Events;
    TOscViewSettings View;
    View.AnalogHeight = 77;
    // The fallback is not taken for a file that is there but broken.
    SaveFileBytes(Dir.filePath("last.xml"), "<root><common analog-height=\"44\"/></root>");
    const qsizetype Before = Logger().Lines().filter(Path + ": ").size();
    EXPECT_FALSE(LoadOscSideFile(Path, Dir.filePath("last.xml"), R.Config, 1000, View, {&A}, Events)) << C.Name;
    EXPECT_EQ(View.AnalogHeight, 77) << C.Name;
    EXPECT_EQ(A.Color, 0x123456u) << C.Name;
    const QStringList Lines = Logger().Lines().filter(Path + ": ");
    ASSERT_EQ(Lines.size() - Before, 1) << C.Name;
    EXPECT_TRUE(Lines.last().contains("ERROR ") && Lines.last().endsWith("side file ignored, defaults used")) << C.Name;
  }
}

// An earlier damaged copy is never replaced: a copy of other bytes goes beside
// it, one of the same bytes is the copy already made.
TEST(OscSideFile, DamagedFileIsKeptWithoutReplacingAnEarlierCopy) {
  QTemporaryDir Dir;
  const QString Path = Dir.filePath("r.xml");
  const struct {
    QByteArray Bytes;
    const char *Kept;
  } Steps[] = {{"<root><comm", "r.xml.bad"}, {"<root><common", "r.xml.bad.1"}, {"<root><comm", "r.xml.bad"},
               {"", "r.xml.bad.2"}};
  for (const auto &S : Steps) {
    SaveFileBytes(Path, S.Bytes);
    EXPECT_EQ(KeepDamagedSideFile(Path), Dir.filePath(S.Kept)) << S.Kept;
    EXPECT_EQ(LoadFileBytes(Dir.filePath(S.Kept)), S.Bytes) << S.Kept;
  }
  EXPECT_EQ(LoadFileBytes(Path), ""); // the side file itself is left to its writer
}

// The relay a copy was read from stays in its side file through the viewer's
// saves, every byte of the identity as recorded; only a file that names it
// keeps it.
TEST(OscSideFile, ViewerSaveKeepsTheRelayTheCopyWasReadFrom) {
  QTemporaryDir Dir;
  const QString Path = Dir.filePath("rec.xml");
  TOscSource Source;
  Source.Unit = {QStringLiteral("rtu:/dev/ttyUSB0"), 17, QByteArray("\x00\x01\xFF\x80", 4) + QByteArray(124, 'd'),
                 QByteArray("\x12\x00", 2), QByteArray(20, '\xAB')};
  Source.Start = QStringLiteral("2026-03-05 16:15:01.250");
  Source.BeforeSeconds = 1, Source.AfterSeconds = 2, Source.FileNo = 31;
  IXXMLDocument Doc = NewXMLDocument();
  SetOscSource(Doc, Source);
  SaveXMLDocument(Doc, Path);

  TOscChannelSettings A;
  SaveOscSideFile(Path, {40, 200}, {&A}, {});
  const TOscSource Kept = ReadOscSource(Path);
  EXPECT_TRUE(Kept.Unit == Source.Unit) << Kept.Unit.Describe().toStdString();
  EXPECT_TRUE(std::tie(Kept.Start, Kept.BeforeSeconds, Kept.AfterSeconds, Kept.FileNo) ==
              std::tie(Source.Start, Source.BeforeSeconds, Source.AfterSeconds, Source.FileNo));
  EXPECT_TRUE(Kept.SameRecord(Source));
  EXPECT_EQ(LoadFileBytes(Path).count("<source "), 1);

  // A side file of an earlier version names no relay, and the viewer adds none.
  const QString Old = Dir.filePath("old.xml");
  SaveOscSideFile(Old, {40, 200}, {&A}, {});
  EXPECT_TRUE(ReadOscSource(Old).IsEmpty());
  SaveFileBytes(Dir.filePath("bad.xml"), "<root><source route=");
  EXPECT_TRUE(ReadOscSource(Dir.filePath("bad.xml")).IsEmpty());
}
