#include "uOscRuler.h"

#include "uOscDrawer.h"

#include <QPainter>
#include <cmath>

namespace {
int RoundEven(double V) { return int(std::nearbyint(V)); }
} // namespace

TOscRuler::TOscRuler(TOscCommon *Common) : FCommon(Common) {}

void TOscRuler::Line(QPainter &P, QPoint A, QPoint B) {
  P.save();
  // The screen's image takes not-XOR, so a second stroke removes the first; a
  // printer has no raster operations and gets the plain pen.
  if (P.device() && P.device()->devType() == QInternal::Image)
    P.setCompositionMode(QPainter::RasterOp_NotSourceXorDestination);
  P.setRenderHint(QPainter::Antialiasing, false);
  P.setPen(QPen(Color, PenWidth));
  P.drawLine(A, B);
  P.restore();
}

void TOscRuler::Draw(QPainter &P, int DX, int DY) {
  const QRect &Plot = FCommon->PlotRect;
  if (IsVertical()) {
    Screen1 = QPoint(Plot.left() + P1.x() - DX, 0);
    Screen2 = QPoint(Plot.left() + P2.x() - DX, Plot.bottom());
  } else {
    Screen1 = QPoint(0, P1.y() - DY);
    Screen2 = QPoint(Plot.right(), P2.y() - DY);
  }
  Line(P, Screen1, Screen2);
  Drawn = true;
}

void TOscRuler::Erase(QPainter &P) {
  if (!Drawn)
    return;
  Line(P, Screen1, Screen2);
  Drawn = false;
}

TOscRuler *TOscRuler::HitTest(const std::vector<std::unique_ptr<TOscRuler>> &List, QPoint Point) {
  for (const auto &R : List) {
    const int Line = R->IsVertical() ? R->Screen1.x() : R->Screen1.y();
    const int At = R->IsVertical() ? Point.x() : Point.y();
    if (At > Line - HitPixels && At < Line + HitPixels)
      return R.get();
  }
  return nullptr;
}

void TOscRuler::ClearList(std::vector<std::unique_ptr<TOscRuler>> &List, QPainter *P) {
  if (P)
    for (auto &R : List)
      R->Erase(*P);
  List.clear();
}

void TVertRuler::SetPosition(QPoint Point) {
  P1 = QPoint(Point.x(), 0);
  P2 = QPoint(Point.x(), FCommon->PlotRect.bottom());
}

void TVertRuler::SetPosition(QPoint Point, int ScrollSample, double TimeScale) {
  const int X = Point.x() + RoundEven(ScrollSample * TimeScale);
  SetPosition(QPoint(X, 0));
  Sample = ScrollSample + RoundEven(Point.x() / TimeScale);
  SampleBefore = ScrollSample + int(std::floor(Point.x() / TimeScale));
  SampleAfter = SampleBefore + 1;
  XBefore = RoundEven(SampleBefore * TimeScale);
  XAfter = RoundEven(SampleAfter * TimeScale);
}

void TVertRuler::SetSample(int ASample, double TimeScale) {
  const int X = RoundEven(ASample * TimeScale);
  SetPosition(QPoint(X, 0));
  Sample = ASample;
}

THorzRuler::THorzRuler(TOscCommon *Common) : TOscRuler(Common), LabelBack(80, 20, QImage::Format_RGB32) {}

void THorzRuler::SetPosition(QPoint Point) {
  P1 = QPoint(0, Point.y());
  P2 = QPoint(FCommon->PlotRect.right(), Point.y());
}

void THorzRuler::DrawLabel(QPainter &P, double Value) {
  const QRect Area(Screen1.x(), Screen1.y() + 1, 80, 19);
  if (auto *Image = dynamic_cast<QImage *>(P.device())) {
    LabelBack = Image->copy(Area);
    HasLabel = true;
  }
  P.save();
  P.setPen(Color);
  P.drawText(Area, Qt::AlignLeft | Qt::AlignTop, QString::asprintf("%4.3g", Value));
  P.restore();
}

void THorzRuler::Erase(QPainter &P) {
  if (Drawn && HasLabel) {
    P.drawImage(QPoint(Screen1.x(), Screen1.y() + 1), LabelBack);
    HasLabel = false;
  }
  TOscRuler::Erase(P);
}
