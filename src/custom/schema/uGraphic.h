#pragma once
// Drawing of schema blocks: geometry at the module's scale (outline, pin stubs
// and their hit boxes) kept as plain numbers for hit tests, and painting with
// QPainter on any paint device. Drag feedback is drawn by the editor on an
// overlay it clears, so nothing here paints in XOR.
#include <QPoint>
#include <QRect>
#include <QString>
#include <array>
#include <cstdint>
#include <vector>

class QPainter;
class TAbstract;
class TComment;
class TLink;
class TPin;

// Fixed drawing constants.
inline constexpr uint32_t clWindowColor = 0xFFFFFF;
inline constexpr uint32_t clSilverColor = 0xC0C0C0;
inline const char *const BlockFontName = "MS Sans Serif";

// Block rectangle in pixels: right and bottom are exclusive edges, as the
// unit rectangle times the scale.
struct TPixelRect {
  int Left = 0, Top = 0, Right = 0, Bottom = 0;
  bool Contains(QPoint P) const { return P.x() > Left && P.x() < Right && P.y() > Top && P.y() < Bottom; }
};

struct TGraphicPin {
  TPin *Pin = nullptr;
  QPoint P1, P2; // stub, P1 at the block's edge
  TPixelRect HitRect;
};

class TGraphicAbstract {
public:
  enum TShapeKind : uint8_t { skComment = 0, skPolygon = 1, skEllipse = 2, skSpecial = 3 };
  // Paint flags.
  enum : int { pfShowId = 1, pfShowGid = 4 };

  explicit TGraphicAbstract(TAbstract *Owner) : FOwner(Owner) {}

  QString Text;
  TPixelRect Bounds;
  std::array<QPoint, 10> Shape{};
  int ShapeCount = 0;
  uint8_t PenStyle = 0; // 0 solid
  uint8_t ShapeKind = skPolygon;
  std::vector<TGraphicPin> InPins, OutPins;

  TAbstract *Owner() const { return FOwner; }
  void BuildPins();
  void RebuildPins() { BuildPins(); }
  void Layout(int Scale);
  void Paint(QPainter &Canvas, int Flags) const;
  // The owner must be a module ("TModule expected"): its blocks, links, then
  // the junction dots for the next paint. A non-empty Visible (pixels) skips
  // blocks and links that cannot reach it.
  void PaintModule(QPainter &Canvas, int Flags, const QRect &Visible = QRect()) const;
  bool HitTest(QPoint Point, int Tolerance) const;
  bool InsideRect(const QRect &R) const;
  // Index of the first pin whose hit box strictly contains Point, -1 when none.
  static int PinAt(const std::vector<TGraphicPin> &List, QPoint Point);
  void OffsetShape(int Dx, int Dy);

  // Drag feedback on the editor's overlay: dashed outlines.
  static void DrawDragRect(QPainter &Canvas, const QRect &R);
  static void DrawDragLine(QPainter &Canvas, QPoint A, QPoint B);
  // HAlign 0 left, 1 right, 2 centre; VAlign 0 top, 1 bottom, 2 centre.
  static void DrawTextIn(const QString &Text, QPainter &Canvas, const QRect &R, bool WordBreak, int VAlign,
                         int HAlign);

private:
  TAbstract *FOwner;
  int FScale = 1;
  void LayoutPins(std::vector<TGraphicPin> &Pins, bool Input, int Scale);
};

// Pixel height of a comment's font at a scale (its height is given for scale 21).
int CommentFontPixels(const TComment &Comment, int Scale);
// A colour value of the file (0x00BBGGRR, or a system colour 0xFF0000nn) as RGB.
uint32_t SchemaColorToRgb(uint32_t Color);
