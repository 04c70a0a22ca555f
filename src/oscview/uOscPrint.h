#pragma once
// Prints one oscillogram page as it looks on screen: the strips with their
// cursors, the tool bar's texts, the channel labels and, when shown, the
// phasor diagram with its table. The frame is switched into print mode and
// back; whatever happens while printing, it is restored exactly as it was.
#include <QFont>
#include <QRect>

class QPainter;
class QPrinter;
class QWidget;
class TkvOscFrame;

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
