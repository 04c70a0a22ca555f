#pragma once
// The cursor lines of the oscillogram viewer: time cursors (vertical, snapping
// to samples), value cursors (horizontal, with a value label) and the red
// trigger line. They are drawn over the plot image in not-XOR mode, so that
// drawing a line a second time removes it; on a printer, which has no raster
// operations, with a plain pen.
#include <QColor>
#include <QImage>
#include <QPoint>
#include <memory>
#include <vector>

class QPainter;
struct TOscCommon;

class TOscRuler {
public:
  static constexpr int HitPixels = 4;
  explicit TOscRuler(TOscCommon *Common);
  virtual ~TOscRuler() = default;
  virtual bool IsVertical() const = 0;
  // Plot coordinates of the line.
  virtual void SetPosition(QPoint Point) = 0;
  // Draws the line shifted left by DX (time cursors) or up by DY (value cursors).
  void Draw(QPainter &P, int DX, int DY);
  // Draws the last drawn line again, which removes it.
  virtual void Erase(QPainter &P);

  // The first cursor whose last drawn line lies strictly within 4 pixels of
  // Point; null when none.
  static TOscRuler *HitTest(const std::vector<std::unique_ptr<TOscRuler>> &List, QPoint Point);
  // Every cursor erased, then the list emptied.
  static void ClearList(std::vector<std::unique_ptr<TOscRuler>> &List, QPainter *P);

  QColor Color = QColor(0x80, 0x00, 0x80); // stored $800080
  int PenWidth = 1;
  QPoint P1, P2, Screen1, Screen2;
  bool Drawn = false;

protected:
  void Line(QPainter &P, QPoint A, QPoint B);
  TOscCommon *FCommon;
};

class TVertRuler : public TOscRuler {
public:
  using TOscRuler::TOscRuler;
  bool IsVertical() const override { return true; }
  void SetPosition(QPoint Point) override;
  // A click at Point with the plot scrolled to ScrollSample: the nearest
  // sample and the two it lies between.
  void SetPosition(QPoint Point, int ScrollSample, double TimeScale);
  void SetSample(int ASample, double TimeScale);

  int Sample = 0, SampleBefore = 0, SampleAfter = 0;
  int XBefore = 0, XAfter = 0;
};

class THorzRuler : public TOscRuler {
public:
  explicit THorzRuler(TOscCommon *Common);
  bool IsVertical() const override { return false; }
  void SetPosition(QPoint Point) override;
  // Keeps what lies under the label, then writes Value ("%4.3g").
  void DrawLabel(QPainter &P, double Value);
  void Erase(QPainter &P) override;

  QImage LabelBack; // 80 x 20
  bool HasLabel = false;
};

using TOscRulerList = std::vector<std::unique_ptr<TOscRuler>>;
