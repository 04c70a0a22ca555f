#include "uOscRuler.h"

#include "uOscDrawer.h"

#include <QPainter>
#include <QRandomGenerator>
#include <gtest/gtest.h>

TEST(OscRuler, TimeCursorSnapsToSamplesAndHitsWithinFourPixels) {
  TOscCommon Common;
  Common.PlotRect = QRect(0, 0, 400, 300);
  TVertRuler R(&Common);
  R.SetPosition(QPoint(10, 50), 100, 0.4);
  EXPECT_EQ(R.Sample, 125);
  EXPECT_EQ(R.SampleBefore, 125);
  EXPECT_EQ(R.SampleAfter, 126);
  EXPECT_EQ(R.XBefore, 50);
  EXPECT_EQ(R.P1.x(), 50);

  QImage Img(400, 300, QImage::Format_RGB32);
  Img.fill(Qt::white);
  TOscRulerList List;
  List.push_back(std::make_unique<TVertRuler>(&Common));
  List[0]->SetPosition(QPoint(100, 0));
  List.push_back(std::make_unique<THorzRuler>(&Common));
  List[1]->SetPosition(QPoint(0, 200));
  QPainter P(&Img);
  for (auto &C : List)
    C->Draw(P, 0, 0);
  EXPECT_EQ(TOscRuler::HitTest(List, QPoint(103, 10)), List[0].get());
  EXPECT_EQ(TOscRuler::HitTest(List, QPoint(96, 10)), nullptr);
  EXPECT_EQ(TOscRuler::HitTest(List, QPoint(10, 197)), List[1].get());
  EXPECT_EQ(TOscRuler::HitTest(List, QPoint(10, 204)), nullptr);
}

TEST(OscRuler, DrawingTwiceRestoresTheImage) {
  TOscCommon Common;
  Common.PlotRect = QRect(0, 0, 200, 100);
  QImage Img(200, 100, QImage::Format_RGB32);
  QRandomGenerator Rng(7);
  for (int y = 0; y < 100; ++y)
    for (int x = 0; x < 200; ++x)
      Img.setPixel(x, y, Rng.generate() | 0xFF000000u);
  const QImage Before = Img.copy();
  TVertRuler V(&Common);
  V.SetPosition(QPoint(70, 0));
  THorzRuler H(&Common);
  H.SetPosition(QPoint(0, 40));
  {
    QPainter P(&Img);
    V.Draw(P, 0, 0);
    H.Draw(P, 0, 0);
    H.DrawLabel(P, 1.2345);
  }
  EXPECT_NE(Img, Before);
  {
    QPainter P(&Img);
    H.Erase(P);
    V.Erase(P);
  }
  EXPECT_EQ(Img, Before);
}
