#include "uOscFrame.h"

#include "oscRecords.h"
#include "uErrors.h"
#include "uFiles.h"
#include "uLogger.h"
#include "uMessageSink.h"
#include "uNumberFormat.h"
#include "uOscNoteForm.h"
#include "uOscSetupForm.h"
#include "uOscValueForm.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QPlainTextEdit>
#include <QToolButton>
#include <QLabel>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QPainter>
#include <QLineEdit>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <cmath>

TEST(OscFrame, LoadsOnceAsksForChannelsAndKeepsThemInTheSideFile) {
  QTemporaryDir Dir;
  WritePair(Dir.filePath("r"), std::vector<int>(200, 5));
  TFrameOf Of(Dir.filePath("r.dat"), 800, 500, false);
  TkvOscFrame &F = Of.F;
  EXPECT_EQ(Of.Opener.Calls, 1); // no side file: the set-up dialog opens
  EXPECT_TRUE(QFile::exists(Dir.filePath("r.xml")));
  EXPECT_EQ(F.LabelFileName->text(), "r.dat");
  EXPECT_TRUE(F.cbSelectedOnly->isChecked());
  ASSERT_EQ(F.Drawers().size(), 2u);
  try {
    F.LoadComtradeFile(Dir.filePath("r.dat"));
    FAIL();
  } catch (const EKvError &E) {
    EXPECT_EQ(E.Text(), "cannot read more then 1 comtrade file");
  }
  // A second frame finds the side file and asks nothing.
  TkvOscFrame G;
  G.Initialize();
  G.LoadComtradeFile(Dir.filePath("r.dat"));
  EXPECT_EQ(Of.Opener.Calls, 1);
  EXPECT_TRUE(G.Drawers()[1]->Checked());

  WritePair(Dir.filePath("one"), {7});
  TkvOscFrame H;
  H.Initialize();
  EXPECT_THROW(H.LoadComtradeFile(Dir.filePath("one.dat")), EKvFormat);
  EXPECT_FALSE(H.IsLoaded());
}

// A record whose ".dat" lost its tail and whose side file is empty or cut:
// both open, the short data with both counts in the note and the log.
TEST(OscFrame, ShortDataAndABrokenSideFileStillOpen) {
  QTemporaryDir Dir;
  WritePair(Dir.filePath("r"), std::vector<int>(200, 5));
  const QByteArray Dat = LoadFileBytes(Dir.filePath("r.dat"));
  qsizetype Cut = 0;
  for (int Line = 0; Line < 120; ++Line)
    Cut = Dat.indexOf('\n', Cut) + 1;
  const struct {
    const char *Name;
    QByteArray Dat, Side;
    QString Note;
  } Cases[] = {
      {"whole, empty side file", Dat, "", ""},
      {"cut, cut side file", Dat.left(Cut), "<root><common analog-he",
       Dir.filePath("r.dat") + ": строк данных 120, объявлено 200"},
  };
  for (const auto &C : Cases) {
    SaveFileBytes(Dir.filePath("r.dat"), C.Dat);
    SaveFileBytes(Dir.filePath("r.xml"), C.Side);
    const qsizetype Ignored = Logger().Lines().filter("side file ignored").size();
    TFrameOf Of(Dir.filePath("r.dat"), 800, 500, false);
    EXPECT_TRUE(Of.F.IsLoaded()) << C.Name;
    EXPECT_EQ(Of.Opener.Calls, 1) << C.Name << ": the defaults, as without a side file";
    // The side file's note says why it was not read and where it is kept.
    const QString Side = Dir.filePath("r.xml");
    const QString Skipped = (C.Note.isEmpty() ? "" : C.Note + "; ") + Side + ": файл настроек не прочитан (";
    EXPECT_TRUE(Of.F.LoadNote().startsWith(Skipped)) << Of.F.LoadNote().toStdString();
    EXPECT_TRUE(Of.F.LoadNote().endsWith("), взяты настройки по умолчанию; Поврежденный файл сохранен как " + Side +
                                         ".bad" + (C.Note.isEmpty() ? "" : ".1")))
        << Of.F.LoadNote().toStdString();
    EXPECT_EQ(Of.F.Data().SampleCount(), C.Note.isEmpty() ? 200 : 120) << C.Name;
    EXPECT_EQ(Logger().Lines().filter("side file ignored").size() - Ignored, 1) << C.Name;
    if (!C.Note.isEmpty())
      EXPECT_FALSE(Logger().Lines().filter("ERROR " + C.Note).isEmpty()) << C.Name;
  }
}

TEST(OscFrame, BitmapStripsPaintWhatTheCurveDrawsDirectly) {
  // A wave with spikes and a gap-free edge at each strip seam, at a dense, a
  // middle and two sparse scales, scrolled so that two strips share the plot,
  // then a little back and forth, so that strips rendered in part grow on
  // either side.
  QTemporaryDir Dir;
  std::vector<int> Raw;
  for (int s = 0; s < 5000; ++s)
    Raw.push_back(s % 701 == 0   ? 100
                  : s % 503 == 0 ? -100 // the pen reaches past the strip's bottom
                                 : int(std::lround(60 * std::sin(s * 0.05) + (s * 7919 % 11) - 5)));
  WritePair(Dir.filePath("r"), Raw);
  TFrameOf Of(Dir.filePath("r.dat"));
  TkvOscFrame &F = Of.F;
  F.Drawers()[0]->Settings.Color = 0x00FF00; // green
  TOscView &V = F.View();
  for (const double Scale : {0.05, 0.37, 8.0, 1000.0})
    for (const double Where : {0.0, 0.43, 0.41, 0.45, 1.0, 0.02}) {
      V.TimeScale = Scale;
      F.Rebuild();
      V.SetScroll(int(V.MaxScroll() * Where));
      // Directly in one band of rows, then with both settings in bands that
      // cut strips (and the curve's spikes) anywhere.
      QImage Images[3];
      for (const int Way : {0, 1, 2}) {
        TkvOscFrame::PaintBands = Way == 0 ? 1 : 7;
        F.SetBitmapFrames(Way == 2);
        F.PaintBoxPaint();
        Images[Way] = F.PlotImage();
      }
      TkvOscFrame::PaintBands = 0;
      // Above 0.1 px per sample the line joins the points x = round(i x
      // scale), y = -round(raw x F): at a vertex it covers the pixel, or at a
      // sharp turn of a one-pixel pen the one beside it.
      const TOscDrawer &A = *F.Drawers()[0];
      for (int s = V.ScrollSample; Scale == 8.0 && s < V.ScrollSample + V.VisibleSamples; ++s) {
        const int X = V.PlotX(s), Y = A.CenterY - int(std::nearbyint(Raw[size_t(s)] * V.ChannelFactor(-100, 100)));
        const int TriggerX = V.PlotX(V.MsToSample(V.TriggerOffsetMs()));
        if (std::abs(Y - A.CenterY) >= 20 && Y > 0 && X != TriggerX) // not on the axis, the trigger line, nor above the plot
          EXPECT_TRUE(Images[0].pixelColor(X, Y) == Qt::green || Images[0].pixelColor(X, Y + 1) == Qt::green ||
                      Images[0].pixelColor(X, Y - 1) == Qt::green)
              << "sample " << s << " at " << X << "," << Y;
      }
      for (const int Way : {1, 2}) {
        int Differ = 0;
        for (int y = 0; y < Images[0].height(); ++y)
          for (int x = 0; x < Images[0].width(); ++x)
            Differ += Images[0].pixel(x, y) != Images[Way].pixel(x, y);
        EXPECT_EQ(Differ, 0) << "way " << Way << " scale " << Scale << " scroll " << V.ScrollSample;
      }
      EXPECT_LE(F.Drawers()[0]->Frames().size(), 4u);
    }
}

TEST(OscSetupForm, BaseVectorIsOnlyOnOneChannelAndWidthWraps) {
  QTemporaryDir Dir;
  WritePair(Dir.filePath("r"), std::vector<int>(50, 1));
  TFrameOf Of(Dir.filePath("r.dat"), 800, 500, false);
  TkvOscFrame &F = Of.F;
  F.Drawers()[1]->Settings.BaseVector = true;
  TOscSetupForm S;
  S.LoadChannels(F.Drawers(), F.Events());
  EXPECT_EQ(S.clbChannels->item(1)->text(), " > Trip");
  S.SetBaseVector(true); // on the first, selected, channel
  S.Selected()->Settings.PenWidth = 3;
  S.NextPenWidth();
  S.clbChannels->item(1)->setCheckState(Qt::Unchecked);
  EXPECT_FALSE(S.cbAll->isChecked());
  S.ApplyChannels(F.Drawers());
  EXPECT_TRUE(F.Drawers()[0]->Settings.BaseVector);
  EXPECT_FALSE(F.Drawers()[1]->Settings.BaseVector);
  EXPECT_EQ(F.Drawers()[0]->Settings.PenWidth, 0);
  EXPECT_FALSE(F.Drawers()[1]->Checked());
}

namespace {
// A flat record of 2000 samples (1000 per second), or the three-phase one.
QString FlatRecord(const QTemporaryDir &Dir) {
  WritePair(Dir.filePath("r"), std::vector<int>(2000, 50));
  return Dir.filePath("r.dat");
}
QString ThreePhaseRecord(const QTemporaryDir &Dir) {
  WriteThreePhase(Dir.filePath("p"));
  return Dir.filePath("p.dat");
}

// A record in a frame of Width x Height at one pixel per sample from its
// start, painted.
struct TPixelFrame {
  TPixelFrame(QString (*Record)(const QTemporaryDir &), int Width, int Height) : Of(Record(Dir), Width, Height) {
    Of.F.View().TimeScale = 1;
    Of.F.Rebuild();
    Of.F.View().SetScroll(0);
    Of.F.PaintBoxPaint();
  }
  QTemporaryDir Dir;
  TFrameOf Of;
};
} // namespace

TEST(OscFrame, CursorsByMouseReadOutsAndDuration) {
  TPixelFrame Flat(FlatRecord, 1200, 600);
  TFrameOf &Of = Flat.Of;
  TkvOscFrame &F = Of.F;
  TOscView &V = F.View();
  QWidget *Plot = F.PaintBox;
  // Two time cursors at 10 and 35 ms (1000 samples per second), then the duration.
  QTest::mouseClick(Plot, Qt::LeftButton, {}, QPoint(35, 5));
  QTest::mouseClick(Plot, Qt::LeftButton, {}, QPoint(10, 5));
  ASSERT_EQ(F.TimeCursors.size(), 2u);
  const auto &A = static_cast<const TVertRuler &>(*F.TimeCursors[0]);
  const auto &B = static_cast<const TVertRuler &>(*F.TimeCursors[1]);
  EXPECT_EQ(F.DeltaText(A, B), F.DeltaText(B, A));
  EXPECT_EQ(F.DeltaText(A, B), "0.025");
  EXPECT_FALSE(F.ActionDuration->isEnabled());
  F.Drawers()[0]->SetSelected(true);
  F.ActionListUpdate();
  ASSERT_TRUE(F.ActionDuration->isEnabled());
  F.ActionDuration->trigger();
  EXPECT_TRUE(F.TimeCursors.empty());
  ASSERT_EQ(F.Drawers()[0]->Settings.Notes.size(), 1u);
  EXPECT_EQ(F.Drawers()[0]->Settings.Notes[0]->Text, "-25 ms"); // placed the other way round

  // A third time cursor replaces both.
  for (int X : {100, 200, 300})
    QTest::mouseClick(Plot, Qt::LeftButton, {}, QPoint(X, 5));
  ASSERT_EQ(F.TimeCursors.size(), 1u);
  EXPECT_EQ(static_cast<const TVertRuler &>(*F.TimeCursors[0]).Sample, V.ScrollSample + 300);
  F.KeyDown(Qt::Key_Escape, {});

  // Value cursors with Shift: on the curve's band a value (with b), outside none.
  const TOscDrawer &D = *F.Drawers()[0];
  QTest::mouseClick(Plot, Qt::LeftButton, Qt::ShiftModifier, QPoint(50, D.CenterY - 10));
  QTest::mouseClick(Plot, Qt::LeftButton, Qt::ShiftModifier, QPoint(50, D.CenterY + 10));
  ASSERT_EQ(F.LevelCursors.size(), 2u);
  const double Up = F.ValueAtOffset(0, -10);
  EXPECT_EQ(F.EditAmplInterval->text(), FormatValue(Up - F.ValueAtOffset(0, 10)));
  const_cast<TComtradeConfig &>(F.Config()).AnalogChannel(0).B = 0.5;
  EXPECT_DOUBLE_EQ(F.ValueAtOffset(0, -10), Up + 0.5);
  double Value = 0;
  EXPECT_FALSE(F.ValueAtY(QPoint(50, 10000), Value));
  EXPECT_EQ(F.DrawerIndexAtY(QPoint(50, 10000)), -1);
  // Scrolling removes the value cursors only.
  QTest::mouseClick(Plot, Qt::LeftButton, {}, QPoint(400, 5));
  F.ScrollBy(1, {});
  EXPECT_TRUE(F.LevelCursors.empty());
  EXPECT_EQ(F.TimeCursors.size(), 1u);
  F.KeyDown(Qt::Key_Escape, {});
  EXPECT_TRUE(F.TimeCursors.empty());

  // Ctrl makes a note named after the channel, at the sample under the mouse.
  const int Scroll = F.View().ScrollSample;
  QTest::mouseClick(Plot, Qt::LeftButton, Qt::ControlModifier, QPoint(70, D.CenterY));
  ASSERT_EQ(D.Settings.Notes.size(), 2u);
  const TOscNote &N = *D.Settings.Notes.back();
  EXPECT_EQ(N.Text, D.Name);
  EXPECT_EQ(N.Moment, Scroll + 70);
}

TEST(OscFrame, PhasorsOfAThreePhaseRecordLie120DegreesApart) {
  QTemporaryDir Dir;
  WriteThreePhase(Dir.filePath("p"));
  TFrameOf Of(Dir.filePath("p.dat"), 1000, 500, false);
  TkvOscFrame &F = Of.F;
  F.View().ScrollSample = 400; // the whole record fits: set, not scrolled
  F.Drawers()[1]->Settings.BaseVector = true;
  std::vector<TkvOscFrame::TPhasor> Rows = F.Phasors();
  ASSERT_EQ(Rows.size(), 3u);
  for (const auto &R : Rows)
    ASSERT_TRUE(R.HasVector) << R.Drawer->Name.toStdString();
  auto Wrap = [](int A) { return ((A % 360) + 360) % 360; };
  EXPECT_EQ(Rows[1].Angle, 0); // the base channel's angle is subtracted
  // The angle is the delay to the next rising crossing: a lagging phase has more.
  EXPECT_NEAR(Wrap(Rows[1].Angle - Rows[0].Angle), 120, 10);
  EXPECT_NEAR(Wrap(Rows[0].Angle - Rows[2].Angle), 120, 10);
  EXPECT_DOUBLE_EQ(Rows[0].Length, 1.0);
  EXPECT_NEAR(Rows[1].Length, 0.5, 0.02);
  F.cbEqualValue->setChecked(true);
  for (const auto &R : F.Phasors())
    EXPECT_DOUBLE_EQ(R.Length, 1.0);
  // Near the record's end the window leaves it: no vectors, empty cells.
  F.View().ScrollSample = F.View().LastSample() - 5;
  for (const auto &R : F.Phasors())
    EXPECT_FALSE(R.HasVector);
}

TEST(OscFrame, PhasorsTurnClockwiseByTheirLagFromTheBaseVector) {
  // U0 is the base at 180 (left). Positive sequence: U1 lags by 120 and lies
  // 120 clockwise (upper right), U2 leads by 120 (lower right); negative
  // sequence the other way round. The table keeps the delays less the base's.
  const struct {
    std::array<double, 3> Phases;
    bool U1Up;
  } Sets[] = {{{0, -120, 120}, true}, {{0, 120, -120}, false}};
  for (const auto &Set : Sets) {
    QTemporaryDir Dir;
    WriteThreePhase(Dir.filePath("p"), Set.Phases);
    TFrameOf Of(Dir.filePath("p.dat"), 1000, 500, false);
    TkvOscFrame &F = Of.F;
    F.View().ScrollSample = 400;
    F.Drawers()[0]->Settings.BaseVector = true;
    const QRgb Colors[3] = {qRgb(255, 0, 0), qRgb(0, 160, 0), qRgb(0, 0, 255)};
    for (int i = 0; i < 3; ++i) // stored 0x00BBGGRR
      F.Drawers()[size_t(i)]->Settings.Color = qRed(Colors[i]) | qGreen(Colors[i]) << 8 | qBlue(Colors[i]) << 16;
    F.cbVectorDiagram->setChecked(true);
    F.cbEqualValue->setChecked(true);
    constexpr int Side = 200;
    QImage Image(Side, Side, QImage::Format_RGB32);
    Image.fill(Qt::white);
    {
      QPainter P(&Image);
      F.PaintBoxCircleDiagramPaint(P, Side);
    }
    // Each arrow's tip: its colour's pixel farthest from the centre.
    QPoint Tips[3];
    for (int i = 0; i < 3; ++i) {
      int Far = -1;
      for (int y = 0; y < Side; ++y)
        for (int x = 0; x < Side; ++x) {
          const int D = (x - Side / 2) * (x - Side / 2) + (y - Side / 2) * (y - Side / 2);
          if (Image.pixel(x, y) == Colors[i] && D > Far)
            Far = D, Tips[i] = QPoint(x, y);
        }
      ASSERT_GT(Far, 40 * 40) << "no arrow of U" << i;
    }
    const int C = Side / 2;
    EXPECT_LT(Tips[0].x(), C - 40);
    EXPECT_NEAR(Tips[0].y(), C, 3);
    EXPECT_GT(Tips[1].x(), C + 20);
    EXPECT_GT(Tips[2].x(), C + 20);
    EXPECT_EQ(Tips[1].y() < C - 40, Set.U1Up) << Tips[1].y();
    EXPECT_EQ(Tips[2].y() > C + 40, Set.U1Up) << Tips[2].y();
    auto Wrap = [](int A) { return ((A % 360) + 360) % 360; };
    ASSERT_EQ(F.sgDiagram->rowCount(), 3);
    EXPECT_EQ(F.sgDiagram->item(0, 1)->text(), "0");
    EXPECT_NEAR(Wrap(F.sgDiagram->item(1, 1)->text().toInt()), Set.U1Up ? 120 : 240, 10);
    EXPECT_NEAR(Wrap(F.sgDiagram->item(2, 1)->text().toInt()), Set.U1Up ? 240 : 120, 10);
  }
}

TEST(OscValueForm, FollowsTheLastFrameForgetsAClosedOneAndUnchecksItsBox) {
  QTemporaryDir Dir;
  WritePair(Dir.filePath("r"), std::vector<int>(2000, 50));
  TOpener Opener;
  TOscValueForm Values;
  auto A = std::make_unique<TkvOscFrame>();
  A->Initialize();
  TkvOscFrame B;
  B.resize(1200, 600);
  B.show();
  B.Initialize();
  B.LoadComtradeFile(Dir.filePath("r.dat"));
  EXPECT_EQ(Values.OscFrame(), &B); // the one set up last
  B.cbOscValueForm->click();
  EXPECT_TRUE(Values.isVisible());
  B.View().TimeScale = 1;
  B.Rebuild();
  B.PaintBoxPaint();
  QTest::mouseClick(B.PaintBox, Qt::LeftButton, {}, QPoint(30, 5));
  ASSERT_NE(Values.StringGrid->item(0, 0), nullptr);
  EXPECT_EQ(Values.StringGrid->item(0, 0)->text(), "Ia");
  EXPECT_EQ(Values.StringGrid->item(0, 1)->text(), FormatValue(50));
  Values.close();
  EXPECT_FALSE(B.cbOscValueForm->isChecked());
  Values.SetOscFrame(A.get());
  A.reset();
  EXPECT_EQ(Values.OscFrame(), nullptr);
}

TEST(OscFrame, NotesAreFoundDraggedWithTheirSpanAndDeletedFromTheirWindow) {
  TPixelFrame Three(ThreePhaseRecord, 1000, 500);
  TFrameOf &Of = Three.Of;
  TkvOscFrame &F = Of.F;
  const int H = F.View().AnalogHeight;
  TOscDrawer *U0 = F.Drawers()[0], *U1 = F.Drawers()[1];
  const struct {
    int Y;
    bool HideU0;
    TOscDrawer *Expected;
  } Strips[] = {{0, false, nullptr}, {H / 2, false, U0}, {H, false, nullptr}, {H + 1, false, U1},
                {H / 2, true, U1}, {3 * H + 1, false, nullptr}};
  for (const auto &S : Strips) {
    U0->SetChecked(!S.HideU0);
    EXPECT_EQ(F.DrawerAtY(S.Y), S.Expected) << S.Y << (S.HideU0 ? " with U0 hidden" : "");
  }
  U0->SetChecked(true);

  auto Span = std::make_unique<TOscNote2>(QStringLiteral("span"));
  Span->Moment = 100, Span->Moment2 = 150, Span->Dy = 10;
  TOscNote2 *N = Span.get();
  U1->Settings.Notes.push_back(std::move(Span));
  const int Top1 = U1->CenterY - H / 2;
  EXPECT_EQ(F.NoteAt(QPoint(103, U1->CenterY)), N);
  EXPECT_EQ(F.NoteAt(QPoint(104, U1->CenterY)), nullptr);
  EXPECT_EQ(F.NoteAt(QPoint(103, U0->CenterY)), nullptr); // another channel's strip
  EXPECT_EQ(F.NoteAt(QPoint(110, Top1 + 14)), N);          // on its text

  // Dragged by 50 px: the band is drawn not-XOR, the span kept, dy from the drop.
  QTest::mousePress(F.PaintBox, Qt::LeftButton, {}, QPoint(102, U1->CenterY));
  ASSERT_EQ(F.DraggedNote(), N);
  const QImage Before = F.PlotImage();
  F.PaintBoxMouseMove(Qt::LeftButton, QPoint(152, Top1 + 30));
  EXPECT_NE(F.PlotImage(), Before);
  QTest::mouseRelease(F.PaintBox, Qt::LeftButton, {}, QPoint(152, Top1 + 30));
  EXPECT_EQ(N->Moment, 150);
  EXPECT_EQ(N->Moment2, 200);
  EXPECT_EQ(N->Dy, 30);
  EXPECT_EQ(F.DraggedNote(), nullptr);

  // The right button: on a note its window (here asking to delete), elsewhere the set-up.
  const auto SavedOpener = TkvOscFrame::NoteOpener;
  TOscNote *Opened = nullptr;
  TkvOscFrame::NoteOpener = [&](TkvOscFrame &, TOscNote &Note) { return Opened = &Note, true; };
  F.PaintBoxPaint();
  QTest::mouseClick(F.PaintBox, Qt::RightButton, {}, QPoint(151, U1->CenterY));
  TkvOscFrame::NoteOpener = SavedOpener;
  EXPECT_EQ(Opened, N);
  EXPECT_TRUE(U1->Settings.Notes.empty());
  const int Calls = Of.Opener.Calls;
  QTest::mouseClick(F.PaintBox, Qt::RightButton, {}, QPoint(300, U1->CenterY));
  EXPECT_EQ(Of.Opener.Calls, Calls + 1);
  EXPECT_TRUE(F.TimeCursors.empty());
}

TEST(OscFrame, TimeFitShowsTheSpanOfTwoCursorsOrTheWholeRecord) {
  TPixelFrame Flat(FlatRecord, 1200, 600);
  TkvOscFrame &F = Flat.Of.F;
  TOscView &V = F.View();
  const struct {
    std::vector<int> Clicks; // x of the time cursors placed first
    int Scroll, Span;
  } Cases[] = {{{600, 200}, 200, 400}, {{300}, 0, 1998}, {{}, 0, 1998}};
  for (const auto &C : Cases) {
    V.TimeScale = 1;
    F.Rebuild();
    V.SetScroll(0);
    F.PaintBoxPaint();
    for (int X : C.Clicks)
      QTest::mouseClick(F.PaintBox, Qt::LeftButton, {}, QPoint(X, 5));
    F.ActionTimeFit->trigger();
    EXPECT_EQ(V.ScrollSample, C.Scroll) << C.Clicks.size();
    EXPECT_DOUBLE_EQ(V.TimeScale, F.PaintBox->width() * 1.0 / C.Span) << C.Clicks.size();
    // Cursors still shown sit on their samples at the new scale.
    for (const auto &R : F.TimeCursors) {
      const auto &T = static_cast<const TVertRuler &>(*R);
      EXPECT_NEAR(T.P1.x() - V.SampleX(V.ScrollSample), V.PlotX(T.Sample), 1);
    }
    F.KeyDown(Qt::Key_Escape, {});
  }
}

TEST(OscFrame, NoteWindowDeletesOnlyWhenAskedThroughItsOwnButton) {
  const struct {
    bool Delete;
    size_t Left;
  } Cases[] = {{true, 0}, {false, 1}};
  for (const auto &C : Cases) {
    TPixelFrame Three(ThreePhaseRecord, 1000, 500);
    TkvOscFrame &F = Three.Of.F;
    TOscDrawer *U1 = F.Drawers()[1];
    auto Note = std::make_unique<TOscNote>(QStringLiteral("пуск"));
    Note->Moment = 100;
    U1->Settings.Notes.push_back(std::move(Note));
    F.PaintBoxPaint();
    WhenModal<TOscNoteForm>([&](TOscNoteForm &Form) {
      EXPECT_EQ(Form.Memo->toPlainText(), "пуск");
      if (C.Delete)
        Form.SpeedButton2->click();
      else
        Form.reject();
    });
    QTest::mouseClick(F.PaintBox, Qt::RightButton, {}, QPoint(100, U1->CenterY));
    EXPECT_EQ(U1->Settings.Notes.size(), C.Left) << C.Delete;
  }
}

TEST(OscFrame, SetupDialogOkAppliesTheChannelsAndKeepsTheStripHeights) {
  QTemporaryDir Dir;
  WriteThreePhase(Dir.filePath("p"));
  TFrameOf Of(Dir.filePath("p.dat"), 1000, 500);
  TkvOscFrame &F = Of.F;
  F.ZoomHeights(1), F.ZoomHeights(1); // the heights as the user zoomed them
  const int Height = F.View().AnalogHeight;
  ASSERT_GT(Height, F.PaintBox->height() / 3); // not what a fit to the plot gives
  const auto Stub = TkvOscFrame::SetupOpener;
  TkvOscFrame::SetupOpener = Of.Opener.Saved; // the real dialog
  WhenModal<TOscSetupForm>([](TOscSetupForm &Form) {
    Form.clbChannels->item(2)->setCheckState(Qt::Unchecked);
    for (QAbstractButton *B : Form.findChild<QDialogButtonBox *>()->buttons())
      if (B->text() == "OK")
        B->click();
  });
  QTest::mouseClick(F.PaintBox, Qt::RightButton, {}, QPoint(300, 5));
  TkvOscFrame::SetupOpener = Stub;
  EXPECT_FALSE(F.Drawers()[2]->Checked());
  EXPECT_TRUE(F.Drawers()[1]->Checked());
  EXPECT_EQ(F.View().AnalogHeight, Height);
}

// At start-up a record is opened before the window has its size: once shown
// it fits the plot as one opened in a shown window does.
TEST(OscFrame, RecordLoadedHiddenFitsThePlotOnceShown) {
  QTemporaryDir Dir;
  TFrameOf Hidden(FlatRecord(Dir), 1000, 500, false);
  TkvOscFrame &F = Hidden.F;
  const double Squeezed = F.View().TimeScale;
  F.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&F));
  ASSERT_TRUE(QTest::qWaitFor([&F] { return !F.IsDirty(); }, 20000)); // painted
  const double Scale = F.View().TimeScale;
  const int Height = F.View().AnalogHeight;
  ASSERT_GT(F.PaintBox->width(), 500);
  EXPECT_NE(Scale, Squeezed);
  F.FitChannelHeights();
  F.ActionTimeFitExecute(); // "<>"
  EXPECT_EQ(F.View().TimeScale, Scale);
  EXPECT_EQ(F.View().AnalogHeight, Height);
}

namespace {
// Answers every message box with the next of Answers, keeping the texts.
struct TAnswers {
  explicit TAnswers(std::vector<TMsgResult> List) : Answers(std::move(List)) {
    Saved = SetMessageSink([this](TMsgKind, const QString &Text) {
      Asked << Text;
      const TMsgResult R = Answers.empty() ? TMsgResult::Cancel : Answers.front();
      if (!Answers.empty())
        Answers.erase(Answers.begin());
      return R;
    });
  }
  ~TAnswers() { SetMessageSink(Saved); }
  std::vector<TMsgResult> Answers;
  QStringList Asked;
  TMessageSink Saved;
};

// The notes of channel Index as its side file holds them: "moment text" each.
QStringList StoredNotes(const TkvOscFrame &F, size_t Index) {
  std::vector<TOscChannelSettings> Copies(F.Drawers().size());
  std::vector<TOscChannelSettings *> Channels;
  for (auto &C : Copies)
    Channels.push_back(&C);
  TOscViewSettings View;
  TOscEventList Events;
  EXPECT_TRUE(LoadOscSideFile(OscSideFileName(F.GetFileName()), QString(), F.Config(), F.Data().SampleCount(), View,
                              Channels, Events));
  QStringList Out;
  for (const auto &N : Copies[Index].Notes)
    Out << QStringLiteral("%1 %2").arg(N->Moment).arg(N->Text);
  return Out;
}

QStringList ShownNotes(const TOscDrawer &D) {
  QStringList Out;
  for (const auto &N : D.Settings.Notes)
    Out << QStringLiteral("%1 %2").arg(N->Moment).arg(N->Text);
  return Out;
}
} // namespace

// Every way a note changes leaves the page with unsaved notes; before the page
// goes they are asked about: "Отмена" keeps the page, "Нет" drops them, "Да"
// writes them.
TEST(OscFrame, ChangedNotesAskBeforeThePageGoes) {
  using TChange = std::function<void(TkvOscFrame &, TOscDrawer &)>;
  const auto Window = [](bool Delete, QString Text) {
    return [Delete, Text](TkvOscFrame &F, TOscDrawer &U1) {
      const auto Saved = TkvOscFrame::NoteOpener;
      TkvOscFrame::NoteOpener = [&](TkvOscFrame &, TOscNote &Note) {
        Note.Text = Text;
        return Delete;
      };
      QTest::mouseClick(F.PaintBox, Qt::RightButton, {}, QPoint(100, U1.CenterY));
      TkvOscFrame::NoteOpener = Saved;
    };
  };
  const struct {
    const char *Name;
    TChange Change;
    bool Unsaved;
  } Cases[] = {
      {"added with Ctrl", [](TkvOscFrame &F, TOscDrawer &U1) {
         QTest::mouseClick(F.PaintBox, Qt::LeftButton, Qt::ControlModifier, QPoint(300, U1.CenterY));
       }, true},
      {"moved", [](TkvOscFrame &F, TOscDrawer &U1) {
         QTest::mousePress(F.PaintBox, Qt::LeftButton, {}, QPoint(100, U1.CenterY));
         QTest::mouseRelease(F.PaintBox, Qt::LeftButton, {}, QPoint(140, U1.CenterY));
       }, true},
      {"edited in its window", Window(false, "пуск 2"), true},
      {"deleted in its window", Window(true, "пуск"), true},
      {"seen in its window", Window(false, "пуск"), false},
  };
  for (const auto &C : Cases) {
    TPixelFrame Three(ThreePhaseRecord, 1000, 500);
    TkvOscFrame &F = Three.Of.F;
    TOscDrawer &U1 = *F.Drawers()[1];
    auto Note = std::make_unique<TOscNote>(QStringLiteral("пуск"));
    Note->Moment = 100;
    U1.Settings.Notes.push_back(std::move(Note));
    F.SaveViewSettings();
    F.PaintBoxPaint();
    const QStringList Before = StoredNotes(F, 1);
    C.Change(F, U1);
    EXPECT_EQ(F.HasUnsavedNotes(), C.Unsaved) << C.Name;
    if (!C.Unsaved) {
      TAnswers None({});
      EXPECT_TRUE(F.QueryClose()) << C.Name;
      EXPECT_TRUE(None.Asked.isEmpty()) << C.Name;
      continue;
    }
    TAnswers Answers({TMsgResult::Cancel, TMsgResult::No, TMsgResult::Yes});
    EXPECT_FALSE(F.QueryClose()) << C.Name;
    ASSERT_EQ(Answers.Asked.size(), 1) << C.Name;
    EXPECT_EQ(Answers.Asked[0], "Заметки осциллограммы " + F.GetFileName() + " не сохранены, сохранить?") << C.Name;
    EXPECT_TRUE(F.QueryClose()) << C.Name;
    EXPECT_EQ(StoredNotes(F, 1), Before) << C.Name << ": no writes nothing";
    EXPECT_TRUE(F.QueryClose()) << C.Name;
    EXPECT_EQ(StoredNotes(F, 1), ShownNotes(U1)) << C.Name;
    EXPECT_NE(StoredNotes(F, 1), Before) << C.Name;
    EXPECT_FALSE(F.HasUnsavedNotes()) << C.Name;
    EXPECT_TRUE(F.QueryClose()) << C.Name;
    EXPECT_EQ(Answers.Asked.size(), 3) << C.Name << ": nothing asked once written";
  }
}

// A side file of ours cut by its last 12 bytes does not load and says why; the
// first write over it, by the set-up dialog that opens by itself or by the
// notes saved, keeps it byte-equal as "<name>.xml.bad" and says so.
TEST(OscFrame, DamagedSideFileIsKeptByteEqualBeforeItsFirstWrite) {
  const struct {
    const char *Name;
    int Key;
  } Cases[] = {{"the set-up dialog's Enter", Qt::Key_Return}, {"notes saved", Qt::Key_Escape}};
  for (const auto &C : Cases) {
    QTemporaryDir Dir;
    const QString Dat = Dir.filePath("r.dat"), Xml = Dir.filePath("r.xml"), Bad = Dir.filePath("r.xml.bad");
    {
      TPixelFrame Flat(FlatRecord, 800, 500);
      Flat.Of.F.Drawers()[0]->Settings.Notes.push_back(std::make_unique<TOscNote>(QStringLiteral("пуск")));
      Flat.Of.F.SaveViewSettings();
      QFile::rename(Flat.Dir.filePath("r.xml"), Xml);
      QFile::rename(Flat.Dir.filePath("r.dat"), Dat);
      QFile::rename(Flat.Dir.filePath("r.cfg"), Dir.filePath("r.cfg"));
    }
    const QByteArray Damaged = LoadFileBytes(Xml).chopped(12);
    SaveFileBytes(Xml, Damaged);
    TkvOscFrame::LastSavedSideFile.clear();

    TkvOscFrame F;
    F.resize(800, 500);
    F.show();
    F.Initialize();
    QStringList Status;
    F.SetStatusHook([&Status](const QString &Text) { Status << Text; });
    WhenModal<TOscSetupForm>([&C](TOscSetupForm &Form) { QTest::keyClick(&Form, Qt::Key(C.Key)); });
    F.LoadComtradeFile(Dat);
    const QStringList Notes = F.LoadNote().split("; ");
    ASSERT_GE(Notes.size(), 1) << C.Name;
    EXPECT_TRUE(Notes[0].startsWith(Xml + ": файл настроек не прочитан (")) << Notes[0].toStdString();
    EXPECT_TRUE(Notes[0].endsWith("), взяты настройки по умолчанию")) << Notes[0].toStdString();
    const QString Kept = "Поврежденный файл сохранен как " + Bad;
    if (C.Key == Qt::Key_Return) {
      EXPECT_EQ(Notes.mid(1), QStringList{Kept}) << C.Name;
    } else {
      EXPECT_EQ(Notes.size(), 1) << C.Name;
      EXPECT_FALSE(QFile::exists(Bad)) << C.Name << ": nothing written yet";
      F.cbSelectedOnly->click(); // every channel drawn
      F.PaintBoxPaint();
      QTest::mouseClick(F.PaintBox, Qt::LeftButton, Qt::ControlModifier, QPoint(100, F.Drawers()[0]->CenterY));
      ASSERT_TRUE(F.HasUnsavedNotes()) << C.Name;
      F.SaveViewSettings();
      EXPECT_EQ(Status, QStringList{Kept}) << C.Name;
    }
    EXPECT_EQ(LoadFileBytes(Bad), Damaged) << C.Name;
    EXPECT_NE(LoadFileBytes(Xml), Damaged) << C.Name;
    // Kept once: the next write leaves the copy and says nothing more.
    Status.clear();
    F.SaveViewSettings();
    EXPECT_TRUE(Status.isEmpty()) << C.Name;
    EXPECT_EQ(QDir(Dir.path()).entryList({"r.xml.*"}), QStringList{"r.xml.bad"}) << C.Name;
  }
}

// A record read with no side file of its own after another's notes were saved
// takes that record's look, never its notes: none is drawn or printed (the
// drawers hold none) and none goes into its own side file.
TEST(OscFrame, RecordWithoutSideFileShowsAndSavesNoNoteOfAnother) {
  QTemporaryDir Dir;
  TkvOscFrame::LastSavedSideFile.clear();
  WriteThreePhase(Dir.filePath("a"));
  WriteThreePhase(Dir.filePath("b"), {0, 120, -120}); // another relay's record
  {
    TFrameOf A(Dir.filePath("a.dat"), 1000, 500);
    A.F.Drawers()[1]->Settings.Notes.push_back(std::make_unique<TOscNote>(QStringLiteral("пуск")));
    A.F.Drawers()[0]->Settings.Color = 0x0000FF;
    A.F.Drawers()[2]->SetChecked(false);
    A.F.SaveViewSettings();
  }
  TFrameOf B(Dir.filePath("b.dat"), 1000, 500);
  EXPECT_EQ(B.Opener.Calls, 0); // the look of "a.xml" stands for the set-up
  EXPECT_EQ(B.F.Drawers()[0]->Settings.Color, 0x0000FFu);
  EXPECT_FALSE(B.F.Drawers()[2]->Checked());
  for (const TOscDrawer *D : B.F.Drawers())
    EXPECT_EQ(ShownNotes(*D), QStringList()) << D->Name.toStdString();
  EXPECT_FALSE(B.F.HasUnsavedNotes());
  B.F.SaveViewSettings();
  EXPECT_FALSE(LoadFileBytes(Dir.filePath("b.xml")).contains("<note"));
}
