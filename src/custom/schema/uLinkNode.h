#pragma once
// Drawing of one link: its route in pixels, the segment under the mouse, and
// the junction dots where links leaving one pin part.
#include <QPoint>
#include <array>

class QPainter;
class TLink;

class TGraphicLink {
public:
  explicit TGraphicLink(TLink *Link) : FLink(Link) {}

  std::array<QPoint, 10> Points{};
  std::array<QPoint, 10> PrevPoints{};
  int PointCount = 0;
  std::array<bool, 10> Nodes{};
  bool Selected = false; // view state of the editor

  TLink *Link() const { return FLink; }
  // Stops a quarter unit short at inverted pins, where the circle is.
  void Layout(int Scale);
  void Paint(QPainter &Canvas) const;
  // The first segment i (from point i - 1 to i) within 5 pixels; 0 when none.
  int SegmentAt(QPoint Point) const;
  // Only inner segments (1 < I < PointCount - 1) move, in pixels.
  void MoveSegment(int I, int X, int Y);
  void SavePoints() { PrevPoints = Points; }
  void ClearNodes() { Nodes.fill(false); }
  void SetNode(int I);

private:
  TLink *FLink;
};
