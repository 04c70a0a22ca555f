#include "uGraphic.h"

#include "uConfigurator.h"
#include "uErrors.h"
#include "uLinkNode.h"
#include "uSchemaModule.h"

#include <QPainter>
#include <QPolygon>
#include <cmath>
#include <cstdlib>

uint32_t SchemaColorToRgb(uint32_t Color) {
  if (Color & 0xFF000000u) {
    // System colours: the window is white, texts and frames black.
    switch (Color & 0xFF) {
    case 5: return clWindowColor;
    case 15: return 0xF0F0F0;
    default: return 0x000000;
    }
  }
  return ((Color & 0xFF) << 16) | (Color & 0xFF00) | ((Color >> 16) & 0xFF);
}

namespace {

QColor Rgb(uint32_t Color) { return QColor::fromRgb(QRgb(SchemaColorToRgb(Color))); }

QFont BlockFont(int PixelSize) {
  // Missing families fall back to the system's default font.
  QFont f(QString::fromLatin1(BlockFontName));
  f.setPixelSize(std::max(PixelSize, 1));
  return f;
}

QRect ToQRect(int L, int T, int R, int B) { return QRect(QPoint(L, T), QPoint(R - 1, B - 1)); }

} // namespace

int CommentFontPixels(const TComment &Comment, int Scale) {
  return std::abs(int(std::nearbyint(double(Comment.FontHeight) * Scale / 21.0)));
}

void TGraphicAbstract::BuildPins() {
  InPins.clear();
  OutPins.clear();
  for (int i = 0; i < FOwner->InputPins.Count(); ++i)
    InPins.push_back({FOwner->InputPins[i], {}, {}, {}});
  for (int i = 0; i < FOwner->OutputPins.Count(); ++i)
    OutPins.push_back({FOwner->OutputPins[i], {}, {}, {}});
  const uint8_t type = FOwner->Type;
  if (type == atComment)
    ShapeKind = skComment;
  else if (type == 7)
    ShapeKind = skEllipse;
  else if (type == atInint || type == atOutint)
    ShapeKind = skSpecial;
  else if (type == atDescriptor && FOwner->Shape == 1)
    ShapeKind = skEllipse;
  else if (type == atDescriptor && FOwner->Shape == 2)
    ShapeKind = skSpecial;
  else
    ShapeKind = skPolygon;
}

void TGraphicAbstract::Layout(int Scale) {
  FScale = Scale;
  const int s = Scale;
  const TUnitRect &r = FOwner->Rect;
  const int L = r.Left * s, T = r.Top * s, R = r.Right * s, B = r.Bottom * s;
  const int cx = (L + R) / 2, cy = (T + B) / 2;
  Bounds = {L, T, R, B};
  const uint8_t type = FOwner->Type;
  if (type == atLabel) {
    Shape = {QPoint(L, T), {R - s, T}, {R, cy}, {R - s, B}, {L, B}};
    ShapeCount = 5;
  } else if (type == atLabelRef) {
    Shape = {QPoint(L, T), {R, T}, {R, B}, {L, B}, {L + s, cy}};
    ShapeCount = 5;
  } else if (type == atInint || type == atOutint || (type == atDescriptor && FOwner->Shape == 2)) {
    Shape = {QPoint(cx, T), {R, cy}, {cx, B}, {L, cy}};
    ShapeCount = 4;
  } else {
    Shape = {QPoint(L, T), {R, T}, {R, B}, {L, B}};
    ShapeCount = 4;
  }
  // Pins and shape kind follow the block's current pins, type and shape.
  BuildPins();
  LayoutPins(InPins, true, s);
  LayoutPins(OutPins, false, s);
}

void TGraphicAbstract::LayoutPins(std::vector<TGraphicPin> &Pins, bool Input, int s) {
  const TUnitRect &r = FOwner->Rect;
  for (TGraphicPin &g : Pins) {
    const int y = (r.Top + g.Pin->Y) * s;
    const int edge = Input ? r.Left : r.Right;
    g.P1 = {edge * s, y};
    g.P2 = {(edge + g.Pin->Direction) * s, y};
    g.HitRect = {g.P1.x() - s, y - s, g.P1.x() + s, y + s};
  }
}

bool TGraphicAbstract::HitTest(QPoint P, int T) const {
  return P.x() + T > Bounds.Left && P.x() - T < Bounds.Right && P.y() + T > Bounds.Top && P.y() - T < Bounds.Bottom;
}

bool TGraphicAbstract::InsideRect(const QRect &R) const {
  return R.left() < Bounds.Left && R.top() < Bounds.Top && R.x() + R.width() > Bounds.Right &&
         R.y() + R.height() > Bounds.Bottom;
}

int TGraphicAbstract::PinAt(const std::vector<TGraphicPin> &List, QPoint Point) {
  for (size_t i = 0; i < List.size(); ++i)
    if (List[i].HitRect.Contains(Point))
      return int(i);
  return -1;
}

void TGraphicAbstract::OffsetShape(int Dx, int Dy) {
  for (int i = 0; i < ShapeCount; ++i)
    Shape[size_t(i)] += QPoint(Dx, Dy);
}

void TGraphicAbstract::DrawTextIn(const QString &Text, QPainter &Canvas, const QRect &R, bool WordBreak, int VAlign,
                                  int HAlign) {
  static const int horz[3] = {Qt::AlignLeft, Qt::AlignRight, Qt::AlignHCenter};
  const int flags = horz[std::clamp(HAlign, 0, 2)] | Qt::TextExpandTabs | (WordBreak ? Qt::TextWordWrap : 0);
  const int h = Canvas.boundingRect(R, flags | Qt::AlignTop, Text).height();
  QRect r = R;
  if (VAlign == 1)
    r.setTop(R.bottom() + 1 - h - 1);
  else if (VAlign == 2)
    r.setTop((R.top() + R.bottom() + 1 - h) / 2);
  r.setHeight(h);
  Canvas.drawText(r, flags | Qt::AlignTop, Text);
}

void TGraphicAbstract::Paint(QPainter &Canvas, int Flags) const {
  const TAbstract *a = FOwner;
  const int s = FScale, h = s / 2, q = s / 4;
  const int L = Bounds.Left, T = Bounds.Top, R = Bounds.Right, B = Bounds.Bottom;
  const auto *e = a->IsElement() ? static_cast<const TElement *>(a) : nullptr;
  const QColor penColor = Rgb(a->PenColor);
  const QColor fill = a->Selected ? Rgb(0xC0C0C0) : QColor::fromRgb(clWindowColor);
  QPen pen(penColor, a->Selected ? 3 : 1);
  pen.setStyle((a->Type == atLabelRef && e && !e->LabelRef) || PenStyle ? Qt::DashLine : Qt::SolidLine);
  Canvas.setPen(pen);
  Canvas.setBrush(fill);

  switch (ShapeKind) {
  case skPolygon:
  case skSpecial:
    Canvas.drawPolygon(Shape.data(), ShapeCount);
    break;
  case skEllipse:
    Canvas.drawEllipse(QRect(L, T, R - L, B - T));
    break;
  default:
    if (a->Type == atComment) {
      if (a->Caption.isEmpty() || a->Selected)
        Canvas.fillRect(ToQRect(L, T, R, B), fill);
    } else {
      Canvas.drawRect(QRect(L, T, R - L, B - T));
    }
  }

  Canvas.setFont(BlockFont(s));
  for (const auto *pins : {&InPins, &OutPins})
    for (const TGraphicPin &g : *pins) {
      Canvas.setPen(pen);
      Canvas.drawLine(g.P1, g.P2);
      if (g.Pin->Inverted)
        Canvas.drawEllipse(g.P1, q, q);
      if (g.Pin->Caption.isEmpty())
        continue;
      const int x1 = g.P1.x(), y1 = g.P1.y();
      if (g.Pin->IsInput())
        DrawTextIn(g.Pin->Caption, Canvas, ToQRect(x1 - 10 * s, y1 - s, x1 - q, y1), false, 2, 1);
      else
        DrawTextIn(g.Pin->Caption, Canvas, ToQRect(x1 + q, y1 - s, x1 + 10 * s, y1), false, 2, 0);
    }

  if (e && e->Type == atDescriptor && e->HasEventPins()) {
    const QPoint corner[3] = {{R - h, T}, {R, T}, {R, T + h}};
    Canvas.setPen(QPen(Qt::red, 1));
    Canvas.setBrush(QColor(Qt::red));
    Canvas.drawPolygon(corner, 3);
    Canvas.setPen(pen);
    Canvas.setBrush(fill);
  }
  Canvas.setPen(penColor);
  Canvas.setBrush(Qt::NoBrush);
  if (Flags & pfShowId) {
    Canvas.setFont(BlockFont(h));
    DrawTextIn(QString::number(a->Id), Canvas, ToQRect(L, T, R, B), false, 1, 1);
  }
  if ((Flags & pfShowGid) && e && e->Type == atDescriptor) {
    Canvas.setFont(BlockFont(h));
    DrawTextIn(QString::number(e->Gid) + (a->IsNew ? " N" : ""), Canvas, ToQRect(L + 1, T + 1, R - 2, B - 2), false,
               1, 0);
  }
  Canvas.setFont(BlockFont(s));
  if (e && e->HardwareKind()) {
    DrawTextIn(QString::number(e->Gid), Canvas, ToQRect(L, T, R, B), false, 2, 2);
  } else if (a->Type < 5 || a->Type > 7) {
    if (!Text.isEmpty())
      DrawTextIn(Text, Canvas, ToQRect(L + q, T + h, R, B), false, 0, 0);
    else if (e && e->Func) {
      DrawTextIn(e->Func->Text1, Canvas, ToQRect(L + q, T + h, R - 1, B - q - 1), false, 0, e->Func->Align1);
      DrawTextIn(e->Func->Text2, Canvas, ToQRect(L + q, T + h, R - 1, B - q - 1), false, 1, e->Func->Align2);
    }
  }
  if (const auto *c = dynamic_cast<const TComment *>(a)) {
    QFont f(c->FontName);
    f.setPixelSize(std::max(CommentFontPixels(*c, s), 1));
    f.setBold(c->FontStyle & 1);
    f.setItalic(c->FontStyle & 2);
    f.setUnderline(c->FontStyle & 4);
    f.setStrikeOut(c->FontStyle & 8);
    Canvas.setFont(f);
    Canvas.setPen(Rgb(c->FontColor));
    DrawTextIn(c->Caption, Canvas, ToQRect(L + 2, T + 2, R - 2, B - 2), true, 2, c->HorzAlign);
  } else if (!a->Caption.isEmpty()) {
    const QRect r = ToQRect(L, T - s, L + 20 * s, T);
    Canvas.setFont(BlockFont(s));
    const QRect used = Canvas.boundingRect(r, Qt::AlignLeft | Qt::AlignTop, a->Caption);
    Canvas.fillRect(used, QColor::fromRgb(clWindowColor));
    Canvas.drawText(r, Qt::AlignLeft | Qt::AlignTop, a->Caption);
  }
}

void TGraphicAbstract::PaintModule(QPainter &Canvas, int Flags, const QRect &Visible) const {
  const auto *m = dynamic_cast<const TModule *>(FOwner);
  if (!m)
    throw EKvError("TModule expected");
  // Captions stand up to 20 units beside or above a block.
  const int reach = 20 * m->Scale;
  const QRect near = Visible.isEmpty() ? QRect() : Visible.adjusted(-reach, -reach, reach, reach);
  Canvas.save();
  for (const TAbstract *a : m->AbstractList.Items()) {
    const TPixelRect &b = a->Graphic->Bounds;
    if (near.isEmpty() || QRect(QPoint(b.Left, b.Top), QPoint(b.Right, b.Bottom)).intersects(near))
      a->Graphic->Paint(Canvas, Flags);
  }
  for (const TLink *l : m->LinkList.Items()) {
    const TGraphicLink &g = *l->Graphic;
    if (!near.isEmpty() && g.PointCount > 0) {
      QRect box(g.Points[0], g.Points[0]);
      for (int i = 1; i < g.PointCount; ++i)
        box |= QRect(g.Points[size_t(i)], g.Points[size_t(i)]);
      if (!box.adjusted(-4, -4, 4, 4).intersects(Visible))
        continue;
    }
    g.Paint(Canvas);
  }
  Canvas.restore();
  for (const TAbstract *a : m->AbstractList.Items())
    for (int i = 0; i < a->OutputPins.Count(); ++i)
      a->OutputPins[i]->Links.UpdateNodes();
}

void TGraphicAbstract::DrawDragRect(QPainter &Canvas, const QRect &R) {
  Canvas.setPen(QPen(Qt::black, 1, Qt::DashLine));
  Canvas.setBrush(Qt::NoBrush);
  Canvas.drawRect(R);
}

void TGraphicAbstract::DrawDragLine(QPainter &Canvas, QPoint A, QPoint B) {
  Canvas.setPen(QPen(Qt::black, 1, Qt::DashLine));
  Canvas.drawLine(A, B);
}
