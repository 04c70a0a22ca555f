#include "uOscFrame.h"

#include "uErrors.h"
#include "uNumberFormat.h"
#include "uOscSetupForm.h"
#include "uOscValueForm.h"

#include <QCheckBox>
#include <QLabel>
#include <QFile>
#include <QListWidget>
#include <QLineEdit>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <cmath>

namespace {

// A pair of one analog and one discrete channel, Raw the analog samples.
void WritePair(const QString &Base, const std::vector<int> &Raw) {
  TComtradeConfig C;
  TComtradeConfigTool T;
  T.SetConfig(&C);
  TComtradeAnalogChannel A;
  A.Id = "Ia", A.A = 1, A.Min = -100, A.Max = 100;
  T.AddAnalogChannel(A);
  TComtradeDigitalChannel D;
  D.Id = "Trip";
  T.AddDigitalChannel(D);
  T.SetRateCount(1);
  T.SetRateSamples(0, 1000);
  T.SetRateEndSample(0, int(Raw.size()) - 1);
  TComtradeData Data;
  Data.SetConfig(&C);
  TComtradeDataTool DT;
  DT.SetData(&Data);
  for (size_t s = 0; s < Raw.size(); ++s) {
    DT.AddSampleNumber(int(s) + 1);
    DT.AddTimeStamp(int(s) * 1000);
    DT.AddRaw(Raw[s]);
    DT.AddDigital(s >= Raw.size() / 2);
  }
  C.SaveToFile(Base + ".cfg");
  Data.SaveToFile(Base + ".dat");
}

struct TOpener {
  TOpener() {
    Saved = TkvOscFrame::SetupOpener;
    TkvOscFrame::SetupOpener = [this](TkvOscFrame &F) {
      ++Calls;
      for (TOscDrawer *D : F.Drawers())
        D->SetChecked(true);
      return true;
    };
  }
  ~TOpener() { TkvOscFrame::SetupOpener = Saved; }
  std::function<bool(TkvOscFrame &)> Saved;
  int Calls = 0;
};

} // namespace

TEST(OscFrame, LoadsOnceAsksForChannelsAndKeepsThemInTheSideFile) {
  QTemporaryDir Dir;
  WritePair(Dir.filePath("r"), std::vector<int>(200, 5));
  TOpener Opener;
  TkvOscFrame F;
  F.resize(800, 500);
  F.Initialize();
  F.LoadComtradeFile(Dir.filePath("r.dat"));
  EXPECT_EQ(Opener.Calls, 1); // no side file: the set-up dialog opens
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
  EXPECT_EQ(Opener.Calls, 1);
  EXPECT_TRUE(G.Drawers()[1]->Checked());

  WritePair(Dir.filePath("one"), {7});
  TkvOscFrame H;
  H.Initialize();
  EXPECT_THROW(H.LoadComtradeFile(Dir.filePath("one.dat")), EKvFormat);
  EXPECT_FALSE(H.IsLoaded());
}

TEST(OscFrame, PaintsOnePointPerSampleAtItsCoordinates) {
  QTemporaryDir Dir;
  std::vector<int> Raw;
  for (int s = 0; s < 40; ++s)
    Raw.push_back(int(std::lround(80 * std::sin(s * 0.4))));
  WritePair(Dir.filePath("r"), Raw);
  TOpener Opener;
  TkvOscFrame F;
  F.resize(800, 500);
  F.show();
  F.Initialize();
  F.LoadComtradeFile(Dir.filePath("r.dat"));
  TOscView &V = F.View();
  V.TimeScale = 8;
  V.ScrollSample = 0;
  F.Rebuild();
  TOscDrawer &A = *F.Drawers()[0];
  A.Settings.Color = 0x0000FF; // red, stored as 0x00BBGGRR
  A.Settings.PenWidth = 1;
  F.PaintBoxPaint();
  const QImage &Img = F.PlotImage();
  const double Factor = V.AnalogHeight / 200.0;
  int Checked = 0;
  for (int s = 0; s < V.VisibleSamples; ++s) {
    const int X = int(std::nearbyint(s * 8.0)), Y = A.CenterY - int(std::nearbyint(Raw[s] * Factor));
    if (std::abs(Y - A.CenterY) < 20)
      continue; // the time axis and its labels lie there
    ++Checked;
    // A one-pixel line may leave out the vertex of a sharp turn: the pixel or
    // the one next to it towards the line.
    const bool Hit = Img.pixelColor(X, Y) == QColor(Qt::red) || Img.pixelColor(X, Y + 1) == QColor(Qt::red) ||
                     Img.pixelColor(X, Y - 1) == QColor(Qt::red);
    EXPECT_TRUE(Hit) << "sample " << s << " at " << X << "," << Y;
  }
  EXPECT_GT(Checked, 20);
}

TEST(OscFrame, BitmapStripsPaintWhatTheCurveDrawsDirectly) {
  // A wave with spikes and a gap-free edge at each strip seam, at a dense, a
  // middle and a sparse scale, scrolled so that two strips share the plot.
  QTemporaryDir Dir;
  std::vector<int> Raw;
  for (int s = 0; s < 5000; ++s)
    Raw.push_back(s % 701 == 0   ? 100
                  : s % 503 == 0 ? -100 // the pen reaches past the strip's bottom
                                 : int(std::lround(60 * std::sin(s * 0.05) + (s * 7919 % 11) - 5)));
  WritePair(Dir.filePath("r"), Raw);
  TOpener Opener;
  TkvOscFrame F;
  F.resize(800, 500);
  F.show();
  F.Initialize();
  F.LoadComtradeFile(Dir.filePath("r.dat"));
  F.Drawers()[0]->Settings.Color = 0x00FF00; // green
  TOscView &V = F.View();
  for (const double Scale : {0.05, 0.37, 3.0, 1000.0})
    for (const double Where : {0.0, 0.43, 1.0}) {
      V.TimeScale = Scale;
      F.Rebuild();
      V.SetScroll(int(V.MaxScroll() * Where));
      QImage Images[2];
      for (const bool Strips : {false, true}) {
        F.SetBitmapFrames(Strips);
        F.PaintBoxPaint();
        Images[Strips] = F.PlotImage();
      }
      int Differ = 0;
      for (int y = 0; y < Images[0].height(); ++y)
        for (int x = 0; x < Images[0].width(); ++x)
          Differ += Images[0].pixel(x, y) != Images[1].pixel(x, y);
      EXPECT_EQ(Differ, 0) << "scale " << Scale << " scroll " << V.ScrollSample;
      EXPECT_LE(F.Drawers()[0]->Frames().size(), 4u);
    }
}

TEST(OscSetupForm, BaseVectorIsOnlyOnOneChannelAndWidthWraps) {
  QTemporaryDir Dir;
  WritePair(Dir.filePath("r"), std::vector<int>(50, 1));
  TOpener Opener;
  TkvOscFrame F;
  F.Initialize();
  F.LoadComtradeFile(Dir.filePath("r.dat"));
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

TEST(OscFrame, CursorsByMouseReadOutsAndDuration) {
  QTemporaryDir Dir;
  WritePair(Dir.filePath("r"), std::vector<int>(2000, 50));
  TOpener Opener;
  TkvOscFrame F;
  F.resize(1200, 600);
  F.show();
  F.Initialize();
  F.LoadComtradeFile(Dir.filePath("r.dat"));
  TOscView &V = F.View();
  V.TimeScale = 1;
  F.Rebuild();
  F.PaintBoxPaint();
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

  // A third time cursor clears both.
  for (int X : {100, 200, 300})
    QTest::mouseClick(Plot, Qt::LeftButton, {}, QPoint(X, 5));
  EXPECT_TRUE(F.TimeCursors.empty());

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
  EXPECT_TRUE(N.FontName == "Arial" && N.FontHeight == -16 && N.FontColor == 0 && N.CalcValType == 1);
}

TEST(OscFrame, PhasorsOfAThreePhaseRecordLie120DegreesApart) {
  QTemporaryDir Dir;
  // 1800 samples per second at 50 Hz: 36 samples and 10 degrees per sample.
  TComtradeConfig C;
  TComtradeConfigTool T;
  T.SetConfig(&C);
  const double Peaks[3] = {100, 50, 80}, Phases[3] = {0, -120, 120};
  for (int i = 0; i < 3; ++i) {
    TComtradeAnalogChannel A;
    A.Id = QStringLiteral("U%1").arg(i), A.A = 1, A.Min = -100, A.Max = 100;
    T.AddAnalogChannel(A);
  }
  T.SetRateCount(1);
  T.SetRateSamples(0, 1800);
  T.SetRateEndSample(0, 1799);
  TComtradeData Data;
  Data.SetConfig(&C);
  TComtradeDataTool DT;
  DT.SetData(&Data);
  for (int s = 0; s < 1800; ++s) {
    DT.AddSampleNumber(s + 1);
    DT.AddTimeStamp(int(std::lround(s * 1e6 / 1800)));
    for (int i = 0; i < 3; ++i)
      DT.AddRaw(int(std::lround(Peaks[i] * std::sin(2 * M_PI * 50 * s / 1800 + Phases[i] * M_PI / 180 + 0.01))));
  }
  C.SaveToFile(Dir.filePath("p.cfg"));
  Data.SaveToFile(Dir.filePath("p.dat"));

  TOpener Opener;
  TkvOscFrame F;
  F.resize(1000, 500);
  F.Initialize();
  F.LoadComtradeFile(Dir.filePath("p.dat"));
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
