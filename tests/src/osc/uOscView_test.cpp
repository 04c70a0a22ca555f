#include "uOscView.h"

#include "uComtrade.h"

#include <gtest/gtest.h>

namespace {
TOscView View(int Samples, int Width, double Rate = 1800, int TriggerMs = 0) {
  TOscView V;
  V.SetRecord(Samples, Rate, TriggerMs);
  V.PlotWidth = Width;
  V.PlotHeight = 600;
  V.Relayout();
  return V;
}
} // namespace

TEST(OscView, HeightsStepByHalvesWithTiesToEvenAndShowLabelRows) {
  TOscView V;
  std::vector<int> Analog, Discrete, Rows;
  for (int i = 0; i < 7; ++i) {
    V.ZoomHeights(+1);
    Analog.push_back(V.AnalogHeight);
    Discrete.push_back(V.DiscreteHeight);
    Rows.push_back(V.LabelRows());
  }
  EXPECT_EQ(Analog, (std::vector<int>{38, 57, 86, 129, 194, 291, 400}));
  EXPECT_EQ(Discrete, (std::vector<int>{38, 57, 86, 100, 100, 100, 100}));
  EXPECT_EQ(Rows, (std::vector<int>{0, 1, 2, 3, 3, 3, 3}));
  Analog.clear();
  for (int i = 0; i < 7; ++i) {
    V.ZoomHeights(-1);
    Analog.push_back(V.AnalogHeight);
  }
  EXPECT_EQ(Analog, (std::vector<int>{267, 178, 119, 79, 53, 35, 25}));
  V.AnalogHeight = 90;
  EXPECT_EQ(V.LabelRows(), 3);
  V.FitChannelHeights(0); // every channel hidden: nothing changes
  EXPECT_EQ(V.AnalogHeight, 90);
  V.PlotHeight = 600;
  V.FitChannelHeights(7);
  EXPECT_EQ(V.AnalogHeight, 85);
  EXPECT_EQ(V.DiscreteHeight, 85);
}

TEST(OscView, TimeZoomStaysBetweenFitScaleAnd1024) {
  TOscView V = View(18001, 1000); // L = 18000
  EXPECT_DOUBLE_EQ(V.FitScale, 1000.0 / 18000);
  V.TimeScale = 512;
  EXPECT_TRUE(V.TimePlus());
  EXPECT_EQ(V.TimeScale, 1024);
  EXPECT_FALSE(V.TimePlus());
  V.TimeScale = V.FitScale * 1.5;
  EXPECT_TRUE(V.TimeMinus());
  EXPECT_EQ(V.TimeScale, V.FitScale);
  EXPECT_FALSE(V.TimeMinus());
  // Zooming about the centre keeps the scroll inside the record.
  V.TimeScale = 1;
  V.Relayout();
  V.SetScroll(17000);
  EXPECT_EQ(V.ScrollSample, 17000);
  V.TimePlus();
  EXPECT_LE(V.ScrollSample, V.MaxScroll());
  EXPECT_EQ(V.ScrollSample + V.VisibleSamples / 2, 17500);
}

TEST(OscView, FitMoment0AndTheWheel) {
  TOscView V = View(18001, 1000, 1800, 100); // trigger at sample 180
  V.Fit(false);
  EXPECT_EQ(V.ScrollSample, 0);
  EXPECT_DOUBLE_EQ(V.TimeScale, 1000.0 / 17999);
  V.Fit(true, 500, 500); // one sample across the plot
  EXPECT_EQ(V.TimeScale, 1000);
  EXPECT_EQ(V.ScrollSample, 500);
  V.Fit(true, 900, 400);
  EXPECT_EQ(V.ScrollSample, 400);
  EXPECT_EQ(V.TimeScale, 2);
  V.Time0(); // the trigger lies in the first half screen
  EXPECT_EQ(V.TimeScale, 1);
  EXPECT_EQ(V.ScrollSample, 0);
  EXPECT_TRUE(V.ScrollBy(1));
  EXPECT_EQ(V.ScrollSample, 20);
  V.SetScroll(V.MaxScroll());
  EXPECT_FALSE(V.ScrollBy(1));
  EXPECT_EQ(V.ScrollSample, 17000);
  EXPECT_EQ(V.MsToSample(100), 180);
  EXPECT_EQ(V.SampleToMs(1800), 900);
}

TEST(OscView, GridStepFollowsTheScaleByStrictThresholdsAndCountsFromTheTrigger) {
  const std::pair<double, int> Cases[] = {{20.5, 1}, {20, 5}, {10, 10}, {5.5, 10}, {5, 50}, {1, 100}, {0.05, 100}};
  TOscView V = View(18001, 1000, 1800, 100);
  for (const auto &[Scale, Step] : Cases) {
    V.TimeScale = Scale;
    EXPECT_TRUE(V.Relayout());
    EXPECT_EQ(V.GridStepMs, Step) << Scale;
  }
  V.AutoGrid = false;
  V.TimeScale = 30;
  EXPECT_FALSE(V.Relayout());
  EXPECT_EQ(V.GridStepMs, 100);
  V.TimeScale = 0.5;
  const std::vector<TOscGridTick> T = V.TimeGrid(170, 200);
  ASSERT_EQ(T.size(), 2u);
  EXPECT_EQ(T[0].Sample, 180);
  EXPECT_EQ(T[0].X, 90);
  EXPECT_EQ(T[0].Label, " 0.00");
  EXPECT_EQ(T[1].Label, " 0.10");
  EXPECT_EQ(V.ChannelFactor(5, 5), 1.0);
  V.AnalogHeight = 25; // two pixels free at each edge of the strip
  EXPECT_DOUBLE_EQ(V.ChannelFactor(-100, 100), 21 / 200.0);
  EXPECT_EQ(V.ValueY(10, 0.25, 1.0), -2); // -2.5 to even
}

TEST(OscView, AnOldPairAndIts1999TwinGiveTheSameAxis) {
  const QByteArray Dat0 = "0,0,1\n1,556,2\n2,1111,3\n3,1667,4\n";
  const QByteArray Dat1 = "1,0,1\n2,556,2\n3,1111,3\n4,1667,4\n";
  const QByteArray Cfg0 = "S,D\n1,1A,0D\n0,I,,,A,1,0,0,0,0\n50\n1\n1800,3\n24/03/15,10:00:00.000\n"
                          "24/03/15,10:00:00.001\nASCII\n";
  const QByteArray Cfg1 = "S,D,1999\n1,1A,0D\n1,I,,,A,1,0,0,0,0,1,1,S\n50\n1\n1800,4\n15/03/2024,10:00:00.000\n"
                          "15/03/2024,10:00:00.001\nASCII\n1\n";
  std::vector<TOscView> Views;
  for (const auto &[Cfg, Dat] : {std::pair{Cfg0, Dat0}, std::pair{Cfg1, Dat1}}) {
    TComtradeConfig C;
    TComtradeData D;
    QString Warning;
    C.LoadFromBytes(Cfg, "x.cfg", Warning);
    D.LoadFromBytes(Dat, "x.dat", &C);
    Views.push_back(View(D.SampleCount(), 300, C.Rate(0).Samples, C.GetTriggerOffsetMs()));
    Views.back().TimeScale = 30;
    Views.back().Relayout();
  }
  const TOscView &A = Views[0], &B = Views[1];
  EXPECT_EQ(A.LastSample(), 3);
  EXPECT_EQ(A.LastSample(), B.LastSample());
  EXPECT_EQ(A.FitScale, B.FitScale);
  EXPECT_EQ(A.MaxScroll(), B.MaxScroll());
  const auto TA = A.TimeGrid(0, 3), TB = B.TimeGrid(0, 3);
  ASSERT_EQ(TA.size(), TB.size());
  for (size_t i = 0; i < TA.size(); ++i)
    EXPECT_TRUE(TA[i].X == TB[i].X && TA[i].Label == TB[i].Label) << i;
}

TEST(OscView, BitmapStripsTileTheRecordAndColumnRangesTakeWholeColumns) {
  for (const double Scale : {0.031, 0.37, 1.0, 3.3, 1024.0}) {
    TOscView V = View(10007, 800);
    V.TimeScale = Scale;
    V.Relayout();
    int Next = 0, Index = 0;
    // At 1024 px per sample some strips hold no sample.
    for (TOscStripSpan S = V.StripSpan(0); S.FirstSample < 10007; S = V.StripSpan(++Index)) {
      EXPECT_EQ(S.FirstSample, Next) << Scale << " strip " << Index;
      EXPECT_EQ(S.Left, Index * 800);
      // Its first and last samples lie in it, their neighbours outside.
      EXPECT_TRUE(V.SampleX(S.FirstSample) >= S.Left && (S.FirstSample == 0 || V.SampleX(S.FirstSample - 1) < S.Left));
      const int Last = S.FirstSample + S.SampleCount - 1;
      EXPECT_TRUE(S.SampleCount == 0 ||
                  (V.SampleX(Last) < S.Left + 800 && (Last == 10006 || V.SampleX(Last + 1) >= S.Left + 800)));
      Next += S.SampleCount;
    }
    EXPECT_EQ(Next, 10007) << Scale;
    V.SetScroll(V.MaxScroll());
    EXPECT_EQ(V.FirstVisibleStrip(), V.SampleX(V.ScrollSample) / 800);
    int From = 0, To = 0;
    V.ColumnRange(1000, 1500, From, To);
    EXPECT_LT(V.SampleX(From), 1000);
    EXPECT_TRUE(From == 0 || V.SampleX(From - 1) < V.SampleX(From)) << Scale; // a whole column
    EXPECT_TRUE(To == 10006 || V.SampleX(To) > 1500) << Scale;
    EXPECT_TRUE(To == 10006 || V.SampleX(To + 1) > V.SampleX(To)) << Scale;
  }
}
