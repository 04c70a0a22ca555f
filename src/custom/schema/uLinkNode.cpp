#include "uLinkNode.h"

#include "uGraphic.h"
#include "uSchemaModule.h"

#include <QPainter>
#include <bit>

void TGraphicLink::Layout(int Scale) {
  const int s = Scale, q = s / 4;
  PointCount = FLink->PointCount;
  const TPin *from = FLink->SourcePin();
  const TAbstract *to = FLink->To;
  const TPin *target = to && FLink->ToPin >= 0 && FLink->ToPin < to->InputPins.Count() ? to->InputPins[FLink->ToPin]
                                                                                          : nullptr;
  for (int i = 0; i < PointCount; ++i) {
    const QPoint p = FLink->Points[size_t(i)];
    int x = p.x() * s;
    if (i == 0 && from && from->Inverted)
      x += q;
    if (i == PointCount - 1 && target && target->Inverted)
      x -= q;
    Points[size_t(i)] = {x, p.y() * s};
  }
}

void TGraphicLink::Paint(QPainter &Canvas) const {
  if (!FLink->HasRoute || PointCount < 2)
    return;
  const QColor color = QColor::fromRgb(QRgb(SchemaColorToRgb(FLink->From->PenColor)));
  const int width = Selected ? 3 : 1;
  Canvas.setPen(QPen(color, width, Qt::SolidLine));
  Canvas.drawPolyline(Points.data(), PointCount);
  Canvas.setBrush(color);
  for (int i = 0; i < PointCount; ++i)
    if (Nodes[size_t(i)])
      Canvas.drawEllipse(Points[size_t(i)], 2 * width, 2 * width);
  Canvas.setBrush(Qt::NoBrush);
}

int TGraphicLink::SegmentAt(QPoint P) const {
  auto overlap = [](int A1, int A2, int B1, int B2) { return std::min(A1, A2) <= B2 && B1 <= std::max(A1, A2); };
  for (int i = 1; i < PointCount; ++i) {
    const QPoint a = Points[size_t(i - 1)], b = Points[size_t(i)];
    if (overlap(a.x(), b.x(), P.x() - 5, P.x() + 5) && overlap(a.y(), b.y(), P.y() - 5, P.y() + 5))
      return i;
  }
  return 0;
}

void TGraphicLink::MoveSegment(int I, int X, int Y) {
  if (I <= 1 || I >= PointCount - 1)
    return;
  QPoint &a = Points[size_t(I - 1)], &b = Points[size_t(I)];
  if (a.x() == b.x()) {
    a.setX(X);
    b.setX(X);
  } else if (a.y() == b.y()) {
    a.setY(Y);
    b.setY(Y);
  }
}

void TGraphicLink::SetNode(int I) {
  if (I >= 0 && I < 10)
    Nodes[size_t(I)] = true;
}

void TOutputPinLinks::Add(TLink *Link) {
  FItems.append(Link);
  UpdateNodes();
}

void TOutputPinLinks::Remove(TLink *Link) {
  // The link itself first, so no entry outlives the link it names.
  if (!FItems.removeOne(Link)) {
    for (int i = 0; i < FItems.size(); ++i) {
      const TLink *l = FItems[i];
      if (l->From == Link->From && l->FromPin == Link->FromPin && l->To == Link->To && l->ToPin == Link->ToPin) {
        FItems.removeAt(i);
        break;
      }
    }
  }
  UpdateNodes();
}

namespace {
// Directions (4 up, 2 down, 8 left, 1 right) in which segment A-B extends from P,
// when P lies on it.
int Directions(QPoint A, QPoint B, QPoint P) {
  int mask = 0;
  if (A.x() == B.x() && P.x() == A.x() && P.y() >= std::min(A.y(), B.y()) && P.y() <= std::max(A.y(), B.y())) {
    if (std::min(A.y(), B.y()) < P.y())
      mask |= 4;
    if (std::max(A.y(), B.y()) > P.y())
      mask |= 2;
  }
  if (A.y() == B.y() && P.y() == A.y() && P.x() >= std::min(A.x(), B.x()) && P.x() <= std::max(A.x(), B.x())) {
    if (std::min(A.x(), B.x()) < P.x())
      mask |= 8;
    if (std::max(A.x(), B.x()) > P.x())
      mask |= 1;
  }
  return mask;
}
} // namespace

void TOutputPinLinks::UpdateNodes() {
  for (TLink *l : FItems)
    l->Graphic->ClearNodes();
  if (FItems.size() < 2)
    return;
  for (int k = 1; k <= 5; ++k)
    for (TLink *a : FItems) {
      if (k >= a->PointCount)
        continue;
      const QPoint pa = a->Points[size_t(k)];
      int mask = 0;
      for (const TLink *b : FItems) {
        const int n = b->PointCount;
        if (k >= n)
          continue;
        const auto &p = b->Points;
        const QPoint pk = p[size_t(k)];
        const QPoint before = k >= 2 && p[size_t(k - 1)] == pk ? p[size_t(k - 2)] : p[size_t(k - 1)];
        mask |= Directions(before, pk, pa);
        if (k + 1 < n) {
          const QPoint after = p[size_t(k + 1)] == pk && k + 2 < n ? p[size_t(k + 2)] : p[size_t(k + 1)];
          mask |= Directions(pk, after, pa);
        }
      }
      if (std::popcount(unsigned(mask)) > 2)
        a->Graphic->SetNode(k);
    }
}
