#pragma once
// Prints one oscillogram page as it looks on screen: the strips with their
// cursors, the tool bar's texts, the channel labels and, when shown, the
// phasor diagram with its table. The frame is switched into print mode and
// back; whatever happens while printing, it is restored exactly as it was.
#include <QFont>
#include <QRect>
#include <QSize>
#include <vector>

class QPainter;
class QPrinter;
class QWidget;
class TkvOscFrame;

// What the page needs, in screen pixels.
struct TOscPrintSizes {
  QSize Frame;          // the frame as shown
  int Left = 0;         // the channel labels' panel, left of the plot
  int Top = 0;          // the tool bar, above it
  int PlotWidth = 0;
  std::vector<int> Strips; // the height of every strip printed, top down
  int LabelsHeight = 0; // the row of the time axis's numbers below the strips
  double ScreenDpi = 96;
};

// Where the page puts the frame: one scale for all of it, so that labels stay
// beside their strips, as large as the screen's size on paper at most and
// small enough that the frame's width and the strips with the time numbers
// below them fit the page.
struct TOscPrintLayout {
  double ScaleX = 1.0, ScaleY = 1.0; // screen pixels to the printer's
  double Fit = 1.0;                  // the page's share of the printer's resolution, for fonts
  QRect Plot;                        // the strips and the time numbers, in the printer's pixels
};
TOscPrintLayout LayOutOscPrint(const TOscPrintSizes &Sizes, QSize Page, double DpiX, double DpiY);

class TOscPrint {
public:
  // Frame must be a TkvOscFrame; throws EKvError "TkvOscFrame expected".
  explicit TOscPrint(QWidget *Frame);
  virtual ~TOscPrint() = default;

  // One page on Printer, which is set up already (the print dialog). The
  // frame, as wide as the page at most, keeps the screen's proportions.
  // Throws EKvError when the printer cannot start; errors while painting pass
  // to the caller after the frame is restored.
  void Print(QPrinter &Printer);

  // The sizes Print lays out: the frame's, with the strips it would print.
  TOscPrintSizes Sizes() const;

  // Screen pixels to the printer's: round(V x ScaleX).
  int Scale(double V) const;
  // Each corner through Scale, then moved by (Dx, Dy).
  QRect ScaleRect(int Dx, int Dy, const QRect &R) const;

  double ScaleX = 1.0, ScaleY = 1.0;

protected:
  // The texts of the tool bar and of the shown channel labels.
  virtual void PrintHeader(QPainter &P);

private:
  // Labels, check boxes and edit fields shown inside Container, at their
  // places on the frame times the print scale.
  void PrintControls(QPainter &P, QWidget *Container);
  QFont Scaled(const QFont &Font) const;

  TkvOscFrame *FFrame;
  double FFit = 1.0; // the page's share of the printer's resolution
};
