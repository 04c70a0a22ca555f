#include "uOscDrawer.h"

#include "uComtrade.h"
#include "uMultiLingual.h"
#include "uOscView.h"

#include <QApplication>
#include <QCheckBox>
#include <QEvent>
#include <QLabel>
#include <QStyle>
#include <algorithm>
#include <climits>
#include <cmath>

namespace {
const QColor SelectedPanel(0xA6, 0xCA, 0xF0); // stored $F0CAA6

// Polyline pieces: a gap (missing sample) ends one piece. Long lines go out
// in short runs that share their end points: a wide pen strokes a polyline as
// one outline, whose cost grows much faster than its length.
class TPolyline {
public:
  static constexpr int RunPoints = 32;
  explicit TPolyline(QPainter *P) : FP(P) {}
  ~TPolyline() { Flush(); }
  void Add(int X, int Y) {
    FPoints.append(QPoint(X, Y));
    if (FPoints.size() >= RunPoints) {
      const QPoint Last = FPoints.back();
      Flush();
      FPoints.append(Last);
    }
  }
  void Flush() {
    if (FPoints.size() == 1)
      FP->drawPoint(FPoints[0]);
    else if (FPoints.size() > 1)
      FP->drawPolyline(FPoints.constData(), int(FPoints.size()));
    FPoints.clear();
  }

private:
  QPainter *FP;
  QVector<QPoint> FPoints;
};

// One line of a curve in the pen's colour and width. On the screen's image (or
// a strip's coverage mask, 8 bits a pixel) the pixels are written directly (a
// paint of 48 strips must stay within a frame); on any other canvas it goes
// through the painter.
class TStroke {
public:
  TStroke(const TOscTarget &T, const QColor &Color, int Width)
      : FImage(T.Image), FOriginY(T.OriginY), FPainter(T.Canvas), FLine(T.Canvas), FColor(Color.rgb()),
        FWidth(std::max(Width, 1)) {
    if (!FImage) {
      QPen Pen(Color);
      Pen.setWidth(std::max(Width, 0));
      FPainter->setPen(Pen);
    } else {
      // bits() once: scanLine() checks for a shared copy on every call.
      FBits = FImage->bits();
      FLineBytes = FImage->bytesPerLine();
      FW = FImage->width();
      FH = FImage->height();
      FMask = FImage->depth() == 8;
    }
  }
  // Continues the line to (X, Y).
  void Point(int X, int Y) {
    if (!FImage)
      FLine.Add(X, Y);
    else if (FHas)
      RasterLine(FX, FY, X, Y);
    else
      Square(X, Y);
    FX = X, FY = Y, FHas = true;
  }
  // The next point starts a new line.
  void Break() {
    FHas = false;
    if (!FImage)
      FLine.Flush();
  }
  // A vertical bar of the pen's width from Y0 to Y1.
  void Span(int X, int Y0, int Y1) {
    if (Y0 > Y1)
      std::swap(Y0, Y1);
    if (!FImage) {
      FPainter->fillRect(X - (FWidth - 1) / 2, Y0, FWidth, Y1 - Y0 + 1, QColor::fromRgb(FColor));
      return;
    }
    Fill(X - (FWidth - 1) / 2, Y0, FWidth, Y1 - Y0 + 1);
  }

private:
  void Fill(int X, int Y, int W, int H) {
    Y -= FOriginY;
    const int X0 = std::max(X, 0), X1 = std::min(X + W, FW);
    const int Y0 = std::max(Y, 0), Y1 = std::min(Y + H, FH);
    for (int y = Y0; y < Y1; ++y) {
      uchar *Line = FBits + qsizetype(y) * FLineBytes;
      if (FMask) {
        std::fill(Line + X0, Line + std::max(X0, X1), uchar(0xFF));
        continue;
      }
      auto *Row = reinterpret_cast<QRgb *>(Line);
      for (int x = X0; x < X1; ++x)
        Row[x] = FColor;
    }
  }
  void Square(int X, int Y) { Fill(X - (FWidth - 1) / 2, Y - (FWidth - 1) / 2, FWidth, FWidth); }
  void RasterLine(int X0, int Y0, int X1, int Y1) {
    // Column by column: each column of the line is one vertical bar from
    // where the line enters it to where it leaves, widened by the pen. A curve
    // is mostly short steps between neighbouring columns, so this writes each
    // pixel about once where a walk along the line would stamp the pen's square
    // at every step.
    if (X0 > X1) {
      std::swap(X0, X1);
      std::swap(Y0, Y1);
    }
    const int DX = X1 - X0, DY = Y1 - Y0;
    const int Lo = std::min(Y0, Y1), Hi = std::max(Y0, Y1);
    const int Half = (FWidth - 1) / 2;
    // y where the line crosses x = X0 + i - 0.5 (i = 0 .. DX + 1), clamped
    // to the line's ends.
    auto Edge = [&](int i) {
      if (DX == 0)
        return i == 0 ? Y0 : Y1;
      const int64_t Num = int64_t(DY) * (2 * i - 1);
      const int64_t Den = 2 * int64_t(DX);
      const int64_t Q = Num >= 0 ? (Num + DX) / Den : -((-Num + DX) / Den);
      return std::clamp(int(Y0 + Q), Lo, Hi);
    };
    int Enter = Edge(0);
    for (int i = 0; i <= DX; ++i) {
      const int Leave = Edge(i + 1);
      const int A = std::min(Enter, Leave), B = std::max(Enter, Leave);
      Fill(X0 + i - Half, A - Half, FWidth, B - A + FWidth);
      Enter = Leave;
    }
  }

  QImage *FImage;
  int FOriginY;
  uchar *FBits = nullptr;
  qsizetype FLineBytes = 0;
  int FW = 0, FH = 0;
  bool FMask = false;
  QPainter *FPainter;
  TPolyline FLine;
  QRgb FColor;
  int FWidth;
  int FX = 0, FY = 0;
  bool FHas = false;
};

int RoundEven(double V) { return int(std::nearbyint(V)); }
} // namespace

QColor ColorFromStored(uint32_t Value) { return QColor(Value & 0xFF, (Value >> 8) & 0xFF, (Value >> 16) & 0xFF); }

uint32_t ColorToStored(const QColor &Color) {
  return uint32_t(Color.red()) | (uint32_t(Color.green()) << 8) | (uint32_t(Color.blue()) << 16);
}

TOscDrawer::TOscDrawer(TOscCommon *Common, QObject *Parent) : QObject(Parent), FCommon(Common) {}

TOscDrawer::~TOscDrawer() { delete Panel; }

TOscDrawer *TOscDrawer::CreateWithPanel(QWidget *Parent, TOscCommon *Common, int Kind, const QString &Name,
                                        int Index) {
  auto *D = new TOscDrawer(Common, Parent);
  D->Kind = Kind;
  D->Name = Name;
  D->Index = Index;
  D->Settings.Checked = true;
  D->BuildPanel(Parent);
  return D;
}

TOscDrawer::TPanelColumns TOscDrawer::PanelColumns(const QFont &Font) {
  const QFontMetrics M(Font);
  TPanelColumns C;
  for (const char *Caption : {"Значение", "RMS", "Гарм.1"})
    C.Caption = std::max(C.Caption, M.horizontalAdvance(MultiLingual().Translate(QString::fromUtf8(Caption))) + 2);
  C.Value = M.horizontalAdvance(QStringLiteral("-10000.00")) + 2;
  C.Width = std::max(169, 4 + C.Caption + 6 + 2 * C.Value + 6 + 4);
  return C;
}

void TOscDrawer::BuildPanel(QWidget *Parent) {
  Panel = new QFrame(Parent);
  Panel->setObjectName(QStringLiteral("Panel%1%2").arg(IsAnalog() ? "A" : "D").arg(Index));
  Panel->setGeometry(0, 0, Parent->width(), 80);
  Panel->setAutoFillBackground(true);
  Panel->installEventFilter(this);
  NameBox = new QCheckBox(Name, Panel);
  NameBox->setToolTip(Name);
  NameBox->setChecked(Settings.Checked);
  NameBox->move(4, 0);
  NameBox->adjustSize();
  connect(NameBox, &QCheckBox::clicked, this, [this](bool On) {
    Settings.Checked = On;
    emit CheckClicked(this);
  });
  struct TPlace {
    const char *Text;
    int X, Y;
  };
  // The value labels sit right of the widest caption, each as wide as a
  // value, so that neither is cut nor runs into the other.
  const TPanelColumns C = PanelColumns(Panel->font());
  const int X1 = 4 + C.Caption + 6, X2 = X1 + C.Value + 6;
  const TPlace Places[7] = {{"Значение", 4, 20}, {"", X1, 20}, {"", X2, 20}, {"RMS", 4, 40},
                            {"", X1, 40},        {"Гарм.1", 4, 60}, {"", X1, 60}};
  const int Count = IsAnalog() ? 7 : 3;
  for (int i = 0; i < Count; ++i) {
    FLabels[i] = new QLabel(MultiLingual().Translate(QString::fromUtf8(Places[i].Text)), Panel);
    FLabels[i]->move(Places[i].X, Places[i].Y);
    FLabels[i]->setFixedWidth(Places[i].X == 4 ? C.Caption : C.Value);
    FLabels[i]->installEventFilter(this);
    FLabels[i]->hide();
  }
}

bool TOscDrawer::eventFilter(QObject *Watched, QEvent *Event) {
  if (Event->type() == QEvent::MouseButtonPress && Watched != NameBox)
    emit PanelClicked(this);
  return QObject::eventFilter(Watched, Event);
}

TOscDrawer *TOscDrawer::Clone(QObject *Parent) const {
  auto *D = new TOscDrawer(FCommon, Parent);
  D->Assign(*this);
  D->Index = Index;
  return D;
}

void TOscDrawer::Assign(const TOscDrawer &Source) {
  Kind = Source.Kind;
  Settings.Color = Source.Settings.Color;
  Settings.PenWidth = Source.Settings.PenWidth;
  SetChecked(Source.Settings.Checked);
  Font = Source.Font;
  Settings.BaseVector = Source.Settings.BaseVector;
  Name = Source.Name;
  Settings.Events = Source.Settings.Events;
}

void TOscDrawer::SetChecked(bool Value) {
  Settings.Checked = Value;
  if (NameBox)
    NameBox->setChecked(Value);
}

void TOscDrawer::SetSelected(bool Value) {
  Selected = Value;
  if (!Panel)
    return;
  QPalette Pal = Panel->palette();
  Pal.setColor(QPalette::Window, Value ? SelectedPanel : Panel->parentWidget()->palette().color(QPalette::Window));
  Panel->setPalette(Pal);
}

void TOscDrawer::SetPanelVisible(bool Visible) {
  if (Panel)
    Panel->setVisible(Visible);
}

void TOscDrawer::SetPanelTop(int Top) {
  if (Panel)
    Panel->move(0, Top);
}

void TOscDrawer::SetLabelRows(int Rows) {
  for (int i = 0; i < 7; ++i)
    if (FLabels[i]) {
      const int Row = i < 3 ? 0 : i < 5 ? 1 : 2;
      const bool Show = Row < Rows;
      if (FLabels[i]->isVisible() != Show)
        FLabels[i]->setVisible(Show);
      FLabels[i]->raise();
    }
}

void TOscDrawer::SetValueTexts(const QString &Value1, const QString &Value2, const QString &Rms,
                               const QString &Harmonic) {
  const QString Texts[7] = {QString(), Value1, Value2, QString(), Rms, QString(), Harmonic};
  for (int i : {1, 2, 4, 6})
    if (FLabels[i])
      FLabels[i]->setText(Texts[i]);
}

void TOscDrawer::SetData(const TComtradeData &Data) {
  FData = &Data;
  if (IsAnalog()) {
    const TComtradeAnalogChannel &Ch = Data.Config()->AnalogChannel(Index);
    FMin = Ch.Min;
    FMax = Ch.Max;
  }
}

double TOscDrawer::Factor() const { return FCommon->View->ChannelFactor(FMin, FMax); }

void TOscDrawer::DrawCurve(const TOscTarget &T, int First, int Count, int DX, const std::vector<TOscColumn> *Columns) {
  const std::vector<TOscColumn> Own =
      Columns ? std::vector<TOscColumn>() : FCache.Columns(First, First + Count - 1, FCommon->View->TimeScale);
  RenderCurve(T, Columns ? *Columns : Own, DX, CenterY, false);
  DrawNotes(T, DX);
}

void TOscDrawer::DrawEnvelope(const TOscTarget &T, int First, int Count, int DX,
                              const std::vector<TOscColumn> *Columns) {
  const std::vector<TOscColumn> Own =
      Columns ? std::vector<TOscColumn>() : FCache.Columns(First, First + Count - 1, FCommon->View->TimeScale);
  RenderCurve(T, Columns ? *Columns : Own, DX, CenterY, true);
  DrawNotes(T, DX);
}

void TOscDrawer::RenderCurve(const TOscTarget &T, const std::vector<TOscColumn> &Columns, int DX, int Center,
                             bool Envelope) const {
  const TOscView &V = *FCommon->View;
  const double F = Factor();
  const QColor Color = ColorFromStored(Settings.Color);
  if (!Envelope) {
    TStroke Line(T, Color, Settings.PenWidth);
    for (const TOscColumn &C : Columns) {
      if (C.FirstMissing) {
        Line.Break();
        continue;
      }
      Line.Point(C.X - DX, Center + V.ValueY(C.FirstValue, F, AmplFactor));
    }
    return;
  }
  // The minima and the maxima, each one line, with each column's bar between
  // them so that steep edges leave no gap. Columns are neighbours here (ten
  // samples or more to a pixel), so the two lines and the bar of a column are
  // one vertical span: from the highest of the column's maximum and the upper
  // line's crossings of the column's edges to the lowest of the same below.
  // A column without values breaks both lines.
  auto Mid = [](int A, int B) { return int(std::floor((A + B) / 2.0 + 0.5)); };
  TStroke Bars(T, Color, Settings.PenWidth);
  const size_t N = Columns.size();
  std::vector<int> Top(N), Bottom(N);
  for (size_t j = 0; j < N; ++j) {
    Top[j] = Center + V.ValueY(Columns[j].Max, F, AmplFactor);
    Bottom[j] = Center + V.ValueY(Columns[j].Min, F, AmplFactor);
  }
  auto Joined = [&](size_t j, size_t k) {
    return k < N && Columns[k].HasValue && std::abs(Columns[k].X - Columns[j].X) == 1;
  };
  for (size_t j = 0; j < N; ++j) {
    if (!Columns[j].HasValue)
      continue;
    int Hi = Top[j], Lo = Bottom[j];
    const int Y0 = Hi, Y1 = Lo;
    for (const size_t k : {j - 1, j + 1})
      if (Joined(j, k))
        for (const int Y : {Mid(Y0, Top[k]), Mid(Y1, Bottom[k])}) {
          Hi = std::min(Hi, Y);
          Lo = std::max(Lo, Y);
        }
    // The lines' pen reaches as far above and below.
    const int W = std::max(Settings.PenWidth, 1);
    Bars.Span(Columns[j].X - DX, Hi - (W - 1) / 2, Lo + W / 2);
  }
}

void TOscDrawer::CurveRows(const std::vector<TOscColumn> &Columns, int &Top, int &Bottom) const {
  int Lo = INT_MAX, Hi = INT_MIN;
  for (const TOscColumn &C : Columns)
    if (C.HasValue || !C.FirstMissing) {
      Lo = std::min({Lo, C.Min, C.FirstValue});
      Hi = std::max({Hi, C.Max, C.FirstValue});
    }
  Top = 0, Bottom = -1;
  if (Lo > Hi)
    return;
  const int Reach = std::max(Settings.PenWidth, 1);
  if (!IsAnalog()) {
    const int Half = FCommon->DiscreteStrip.height() / 2;
    Top = CenterY - Half - Reach;
    Bottom = CenterY + Half + Reach;
    return;
  }
  const TOscView &V = *FCommon->View;
  const int A = CenterY + V.ValueY(Lo, Factor(), AmplFactor), B = CenterY + V.ValueY(Hi, Factor(), AmplFactor);
  Top = std::min(A, B) - Reach;
  Bottom = std::max(A, B) + Reach;
}

void TOscDrawer::PrepareFrames(const std::vector<TOscDrawer *> &Drawers) {
  if (Drawers.empty())
    return;
  const TOscCommon &Common = *Drawers.front()->FCommon;
  const TOscView &V = *Common.View;
  if (V.PlotWidth <= 0)
    return;
  const int K = V.FirstVisibleStrip();
  for (TOscDrawer *D : Drawers) {
    const TFramesKey Key{V.TimeScale, V.AmplitudeScale * D->AmplFactor, V.PlotWidth, Common.AnalogStrip.height(),
                         D->Settings.PenWidth};
    if (!(Key == D->FFramesKey))
      D->FFrames.clear();
    D->FFramesKey = Key;
    // A strip either side of the two shown is kept, for scrolling back and forth.
    std::erase_if(D->FFrames, [K](const auto &F) { return F->Index < K - 1 || F->Index > K + 2; });
  }
  // The pixels of the record the plot shows.
  const int64_t ShownLeft = V.SampleX(V.ScrollSample), ShownRight = ShownLeft + V.PlotWidth;
  for (const int Index : {K, K + 1}) {
    const TOscStripSpan Span = V.StripSpan(Index);
    // As far above, below and beyond the strip's ends as a pen reaches, so
    // that strips meet as one curve.
    const QRect Bounds(Span.Left, -TOscView::PenReach, V.PlotWidth,
                       Common.AnalogStrip.height() + 2 * TOscView::PenReach);
    // The strip's columns (bitmap x) the plot shows.
    const int Need0 = int(std::clamp<int64_t>(ShownLeft - Bounds.left(), 0, Bounds.width()));
    const int Need1 = int(std::clamp<int64_t>(ShownRight - Bounds.left(), 0, Bounds.width()));
    if (Need0 >= Need1)
      continue;
    // Each drawer's missing columns as at most two pieces that keep its done
    // columns one run; drawers missing the same piece are rendered together.
    struct TPiece {
      int X0, X1;
      std::vector<TOscDrawer *> Drawers;
    };
    std::vector<TPiece> Pieces;
    auto Add = [&Pieces](int X0, int X1, TOscDrawer *D) {
      if (X0 >= X1)
        return;
      for (TPiece &P : Pieces)
        if (P.X0 == X0 && P.X1 == X1) {
          P.Drawers.push_back(D);
          return;
        }
      Pieces.push_back({X0, X1, {D}});
    };
    for (TOscDrawer *D : Drawers) {
      if (!D->Frame(Index)) {
        auto F = std::make_unique<TBitmapFrame>();
        F->Index = Index;
        F->FirstSample = Span.FirstSample;
        F->SampleCount = Span.SampleCount;
        F->Bounds = Bounds;
        F->Bitmap = QImage(Bounds.size(), QImage::Format_Alpha8);
        F->Bitmap.fill(0);
        D->FFrames.push_back(std::move(F));
      }
      const auto [Done0, Done1] = D->Frame(Index)->Done;
      if (Done0 >= Done1) {
        Add(Need0, Need1, D);
      } else {
        Add(std::min(Need0, Done0), Done0, D);
        Add(Done1, std::max(Need1, Done1), D);
      }
    }
    for (const TPiece &P : Pieces) {
      int From = 0, To = -1;
      V.ColumnRange(int64_t(Bounds.left()) + P.X0 - TOscView::PenReach,
                    int64_t(Bounds.left()) + P.X1 + TOscView::PenReach, From, To);
      std::vector<const TOscStripCache *> Caches;
      for (TOscDrawer *D : P.Drawers)
        Caches.push_back(&D->FCache);
      std::vector<std::vector<TOscColumn>> Columns;
      TOscStripCache::ColumnsOf(Caches, From, To, V.TimeScale, Columns);
      // Each channel's strip is its own image: the cores render them apart,
      // each into a view of the piece's columns, which clips the curve there.
      OscInPieces(P.Drawers.size(), 1, [&](size_t First, size_t Last) {
        for (size_t i = First; i < Last; ++i) {
          TBitmapFrame &F = *P.Drawers[i]->Frame(Index);
          QImage Piece(F.Bitmap.bits() + P.X0, P.X1 - P.X0, F.Bitmap.height(), F.Bitmap.bytesPerLine(),
                       QImage::Format_Alpha8);
          const TOscTarget Target{nullptr, &Piece, 0};
          P.Drawers[i]->RenderCurve(Target, Columns[i], Bounds.left() + P.X0, Bounds.height() / 2,
                                    V.TimeScale <= 0.1);
        }
      });
      for (TOscDrawer *D : P.Drawers) {
        auto &Done = D->Frame(Index)->Done;
        Done = Done.first >= Done.second ? std::pair{P.X0, P.X1}
                                         : std::pair{std::min(Done.first, P.X0), std::max(Done.second, P.X1)};
      }
    }
  }
}

TBitmapFrame *TOscDrawer::Frame(int Index) {
  return const_cast<TBitmapFrame *>(std::as_const(*this).Frame(Index));
}

const TBitmapFrame *TOscDrawer::Frame(int Index) const {
  for (const auto &F : FFrames)
    if (F->Index == Index)
      return F.get();
  return nullptr;
}

void TOscDrawer::PaintFromCache(const TOscTarget &T, int Top) {
  QImage *Image = T.Image;
  const TOscView &V = *FCommon->View;
  if (!Image || Image->depth() != 32 || V.PlotWidth <= 0)
    return;
  Top -= T.OriginY;
  const int K = V.FirstVisibleStrip();
  const int DX = V.SampleX(V.ScrollSample);
  const QRgb Color = ColorFromStored(Settings.Color).rgb();
  for (const int Index : {K, K + 1}) {
    if (!Frame(Index))
      continue; // not prepared
    const TBitmapFrame &F = *Frame(Index);
    // The visible part: the strip shifted left by DX, clipped to the plot.
    const int Shift = F.Bounds.left() - DX;
    const int X0 = std::max(0, Shift), X1 = std::min({V.PlotWidth, Image->width(), Shift + F.Bitmap.width()});
    const int BitmapTop = Top + F.Bounds.top();
    const int Y0 = std::max(0, BitmapTop), Y1 = std::min(Image->height(), BitmapTop + F.Bitmap.height());
    for (int y = Y0; y < Y1; ++y) {
      const uchar *Mask = F.Bitmap.constScanLine(y - BitmapTop);
      auto *Row = reinterpret_cast<QRgb *>(Image->scanLine(y));
      for (int x = X0; x < X1; ++x)
        Row[x] &= Mask[x - Shift] ? Color : ~QRgb(0);
    }
  }
}

void TOscDrawer::DrawDiscrete(const TOscTarget &T, int First, int Count, int DX,
                              const std::vector<TOscColumn> *Columns) {
  const TOscView &V = *FCommon->View;
  const int Half = FCommon->DiscreteStrip.height() / 2;
  auto Y = [&](int Bit) { return CenterY - RoundEven(Bit * Half * 1.0); };
  TStroke Line(T, ColorFromStored(Settings.Color), Settings.PenWidth);
  int PrevY = 0;
  bool Started = false;
  const std::vector<TOscColumn> Own = Columns ? std::vector<TOscColumn>() : FCache.Columns(First, First + Count - 1, V.TimeScale);
  for (const TOscColumn &C : Columns ? *Columns : Own) {
    const int X = C.X - DX;
    const int YFirst = Y(C.FirstValue);
    if (Started)
      Line.Point(X, PrevY);
    Line.Point(X, YFirst);
    Started = true;
    PrevY = YFirst;
    if (C.Min != C.Max) {
      // The bit changes inside the column: one vertical stroke, then on at the
      // value the column ends with.
      Line.Point(X, Y(C.Min));
      Line.Point(X, Y(C.Max));
      PrevY = Y(C.LastValue);
      Line.Point(X, PrevY);
    }
  }
}

void TOscDrawer::WriteTimeLabels(QPainter &On, const TOscCommon &Common, int Top, int DX,
                                 const std::vector<TOscGridTick> &Grid) {
  const QFontMetrics M(On.font());
  On.setPen(QPen(Common.GridColor, 1));
  int RightEnd = -10;
  for (const TOscGridTick &T : Grid) {
    const int X = T.X - DX;
    if (X > RightEnd) {
      const QString Label = Common.View->TickLabel(T);
      On.drawText(X, Top + M.ascent(), Label);
      RightEnd = X + M.horizontalAdvance(Label) + 5;
    }
  }
}

void TOscDrawer::DrawTimeGrid(const TOscTarget &T, int Y, int DX, int First, int Count,
                              const std::vector<TOscGridTick> &Grid) {
  if (Grid.empty())
    return;
  const TOscView &V = *FCommon->View;
  TStroke Axis(T, FCommon->GridColor, 1);
  Axis.Point(V.SampleX(First) - DX, Y);
  Axis.Point(V.SampleX(First + Count) - DX, Y);
  int LastX = INT_MIN;
  for (const TOscGridTick &Tick : Grid) {
    const int X = Tick.X - DX;
    if (X != LastX)
      Axis.Span(X, Y - 2, Y + 2);
    LastX = X;
  }
}

QString TOscDrawer::ValueNoteText(int Sample, int ValueKind) const {
  const TOscView &V = *FCommon->View;
  const QString T = QString::number(V.SampleToMs(Sample));
  if (ValueKind == TOscNote::vkInstant && IsAnalog()) {
    const double Value = FData->GetAnalogValue(Index, Sample);
    return std::isnan(Value) ? QString() : T + QStringLiteral(" ms ") + QString::number(Value, 'g', 6);
  }
  if (ValueKind == TOscNote::vkRms && IsAnalog()) {
    const TComtradeConfig &C = *FData->Config();
    const int H = RoundEven(V.Rate() * FCommon->RmsPeriods * 1.0 / C.LineFrequency() / 2.0);
    if (Sample - H + 1 < 0 || Sample + H >= V.LastSample())
      return QString();
    const double Rms = FData->GetRms(Index, Sample - H + 1, Sample + H);
    return std::isnan(Rms) ? QString() : T + QStringLiteral(" ms ") + QString::asprintf("%4.3g", Rms) + " RMS";
  }
  return QString();
}

void TOscDrawer::DrawNotes(const TOscTarget &T, int DX) {
  QPainter &P = *T.Canvas;
  const TOscView &V = *FCommon->View;
  const int Top = CenterY - FCommon->AnalogStrip.height() / 2;
  const QFont Saved = P.font();
  auto DrawText = [&](const TOscNote &N, int X, int Y, const QString &Text) {
    QFont F(N.FontName);
    F.setPixelSize(std::max(1, std::abs(RoundEven(N.FontHeight * FCommon->PrintScaleY))));
    P.setFont(F);
    P.setPen(ColorFromStored(N.FontColor));
    const QFontMetrics M(F);
    P.drawText(X, Y + M.ascent(), Text);
    return M.height();
  };
  for (const auto &N : Settings.Notes) {
    const int X = V.SampleX(N->Moment) - DX;
    const int Height = DrawText(*N, X, Top + N->Dy, N->Text);
    if (N->HasMoment2()) {
      const int X2 = V.SampleX(static_cast<const TOscNote2 &>(*N).Moment2) - DX;
      const int Y = Top + N->Dy - 2;
      const int Head = 10;
      P.drawLine(X, Y, X2, Y);
      P.drawPolyline(QPolygon({QPoint(X + Head, Y - Head), QPoint(X, Y), QPoint(X + Head, Y + Head)}));
      P.drawPolyline(QPolygon({QPoint(X2 - Head, Y - Head), QPoint(X2, Y), QPoint(X2 - Head, Y + Head)}));
    }
    const QString Value = ValueNoteText(N->Moment, N->CalcValType);
    if (!Value.isEmpty())
      DrawText(*N, X, Top + N->Dy + Height, Value);
  }
  if (FCommon->Events) {
    int PrevSample = -1, Shift = 0, Stacked = 0;
    for (size_t i = 0; i < FCommon->Events->size(); ++i) {
      if (qsizetype(i) >= Settings.Events.size() || Settings.Events[qsizetype(i)] != QLatin1Char('1'))
        continue;
      const TOscEvent &E = *(*FCommon->Events)[i];
      const int Line = 2 - RoundEven(E.FontHeight * FCommon->PrintScaleY);
      if (E.Moment == PrevSample) {
        ++Stacked;
        Shift += Stacked == 1 ? Line / 2 : Line;
      } else {
        Shift = Stacked = 0;
      }
      PrevSample = E.Moment;
      const int X = V.SampleX(E.Moment) - DX;
      const int Height = DrawText(E, X, Top + E.Dy + Shift, QString::number(V.SampleToMs(E.Moment)) + " ms " + E.Text);
      if (Shift == 0) {
        const QString Value = ValueNoteText(E.Moment, TOscNote::vkInstant);
        if (!Value.isEmpty())
          DrawText(E, X, Top + E.Dy + Height, Value);
      }
    }
  }
  P.setFont(Saved);
}

int TOscDrawer::NextUpCrossing(int From) const {
  const TOscView &V = *FCommon->View;
  const TComtradeConfig &C = *FData->Config();
  const int S = int(V.Rate()) / std::max(1, RoundEven(C.LineFrequency()));
  if (S < 1)
    return -1;
  for (int k = From + 1; k <= V.LastSample() - 1 && k - From <= S; ++k) {
    if (FData->IsMissing(Index, k) || FData->IsMissing(Index, k - 1))
      return -1;
    if (FData->GetRaw(Index, k - 1) < 0 && FData->GetRaw(Index, k) >= 0)
      return k - From;
  }
  return -1;
}

int TOscDrawer::AngleAt(int Sample) const {
  const int Up = NextUpCrossing(Sample);
  if (Up < 0)
    return -1;
  const int S = int(FCommon->View->Rate()) / std::max(1, RoundEven(FData->Config()->LineFrequency()));
  return RoundEven(360.0 / S * Up);
}
