#include "uOscPrint.h"

#include "uErrors.h"
#include "uOscFrame.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPrinter>
#include <QToolBar>
#include <cmath>

namespace {
// Puts the frame back as it was, also when painting throws.
class TFrameRestore {
public:
  explicit TFrameRestore(TkvOscFrame &Frame) : FFrame(Frame), FView(Frame.View()), FCommon(Frame.Common()) {}
  ~TFrameRestore() {
    FFrame.SetPrinting(false);
    FFrame.SetPrintScaleX(1.0);
    FFrame.View() = FView;
    FFrame.Common() = FCommon;
    FFrame.PaintBoxPaint();
    FFrame.PaintBox->update();
  }
  TFrameRestore(const TFrameRestore &) = delete;
  TFrameRestore &operator=(const TFrameRestore &) = delete;

private:
  TkvOscFrame &FFrame;
  const TOscView FView;
  const TOscCommon FCommon;
};
} // namespace

TOscPrint::TOscPrint(QWidget *Frame) : FFrame(qobject_cast<TkvOscFrame *>(Frame)) {
  if (!FFrame)
    throw EKvError("TkvOscFrame expected");
}

int TOscPrint::Scale(double V) const { return int(std::nearbyint(V * ScaleX)); }

QRect TOscPrint::ScaleRect(int Dx, int Dy, const QRect &R) const {
  // All four corners move: a rectangle shifted by the header keeps its size.
  return QRect(QPoint(Scale(R.left()) + Dx, Scale(R.top()) + Dy), QPoint(Scale(R.right()) + Dx, Scale(R.bottom()) + Dy));
}

QFont TOscPrint::Scaled(const QFont &Font) const {
  // Point sizes follow the printer's resolution already; only the page fit
  // remains. Pixel sizes take the whole factor.
  QFont F(Font);
  if (F.pixelSize() > 0)
    F.setPixelSize(std::max(1, Scale(F.pixelSize())));
  else
    F.setPointSizeF(F.pointSizeF() * FFit);
  return F;
}

void TOscPrint::Print(QPrinter &Printer) {
  const double Screen = FFrame->logicalDpiX();
  const double DpiX = Printer.logicalDpiX(), DpiY = Printer.logicalDpiY();
  // The screen's size on paper, or less when the page is narrower.
  const double Base = std::min(DpiX / Screen, double(Printer.width()) / std::max(1, FFrame->width()));
  FFit = Base * Screen / DpiX;
  ScaleX = Base;
  ScaleY = Base * DpiY / DpiX;
  const int L = FFrame->PanelLeft->width(), T = FFrame->ToolBar1->height();

  QPainter P;
  if (!P.begin(&Printer))
    throw EKvError(QStringLiteral("cannot print: ") +
                   (Printer.outputFileName().isEmpty() ? Printer.printerName() : Printer.outputFileName()));
  const TFrameRestore Restore(*FFrame);
  FFrame->SetPrinting(true);
  TOscCommon &C = FFrame->Common();
  TOscView &V = FFrame->View();
  const QRect Plot = C.PlotRect;
  C.AnalogStrip = ScaleRect(0, 0, QRect(0, 0, Plot.width(), V.AnalogHeight));
  C.DiscreteStrip = ScaleRect(0, 0, QRect(0, 0, Plot.width(), V.DiscreteHeight));
  C.PlotRect = ScaleRect(0, 0, QRect(0, 0, Plot.width(), Plot.height()));
  V.PlotWidth = C.PlotRect.width();
  V.PlotHeight = C.PlotRect.height();
  V.AnalogHeight = int(std::nearbyint(V.AnalogHeight * ScaleY));
  V.DiscreteHeight = int(std::nearbyint(V.DiscreteHeight * ScaleY));
  C.Canvas = &P;
  C.Image = nullptr;
  FFrame->SetPrintScaleX(ScaleX);
  FFrame->SetPrintScaleY(ScaleY);
  C.BackColor = Qt::white;
  // The grid keeps the screen's step: the printer's scale must not choose another.
  FFrame->SetAutoGrid(false);
  FFrame->SetTimeScale(V.TimeScale * ScaleX);

  P.setFont(Scaled(FFrame->PaintBox->font()));
  P.save();
  P.translate(Scale(L), Scale(T));
  P.setClipRect(C.PlotRect);
  FFrame->PaintAll();
  P.restore();

  P.setBackground(Qt::white);
  P.setBrush(Qt::white);
  PrintHeader(P);
  if (FFrame->cbVectorDiagram->isChecked()) {
    P.setFont(Scaled(FFrame->PaintBoxCircleDiagram->font()));
    FFrame->PaintPhasors();
    P.setPen(Qt::black);
    FFrame->PrintValueGrid();
  }
  if (!P.end())
    throw EKvError(QStringLiteral("cannot print: ") + Printer.outputFileName());
}

void TOscPrint::PrintHeader(QPainter &P) {
  PrintControls(P, FFrame->ToolBar1);
  for (TOscDrawer *D : FFrame->Drawers())
    if (D->Panel && D->Panel->isVisibleTo(FFrame))
      PrintControls(P, D->Panel);
}

void TOscPrint::PrintControls(QPainter &P, QWidget *Container) {
  for (QObject *Child : Container->children()) {
    auto *W = qobject_cast<QWidget *>(Child);
    if (!W || !W->isVisibleTo(FFrame))
      continue;
    QString Text;
    if (auto *Label = qobject_cast<QLabel *>(W))
      Text = Label->text();
    else if (auto *Box = qobject_cast<QCheckBox *>(W))
      Text = Box->text();
    else if (auto *Edit = qobject_cast<QLineEdit *>(W))
      Text = Edit->text();
    else
      continue;
    const QRect Place = ScaleRect(0, 0, QRect(W->mapTo(FFrame, QPoint(0, 0)), W->size()));
    P.setFont(Scaled(W->font()));
    P.setPen(Qt::black);
    P.drawText(Place, Qt::AlignLeft | Qt::AlignVCenter, Text);
  }
}
