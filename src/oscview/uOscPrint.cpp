#include "uOscPrint.h"

#include "uErrors.h"
#include "uOscFrame.h"

#include <QCheckBox>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPrinter>
#include <QScrollBar>
#include <QToolBar>
#include <algorithm>
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

TOscPrintLayout LayOutOscPrint(const TOscPrintSizes &S, QSize Page, double DpiX, double DpiY) {
  TOscPrintLayout L;
  const double Aspect = DpiY / DpiX;
  // A strip printed is its height scaled and rounded, in two even halves:
  // a pixel more on screen bounds it.
  int Strips = 0;
  for (const int H : S.Strips)
    Strips += H + 1;
  // Below the frame's own height the strips run on when they fill the view.
  const int Height = std::max(S.Frame.height(), S.Top + Strips + S.LabelsHeight);
  const double Base = std::min({DpiX / S.ScreenDpi, double(Page.width()) / std::max(1, S.Frame.width()),
                                double(Page.height()) / (std::max(1, Height) * Aspect)});
  L.Fit = Base * S.ScreenDpi / DpiX;
  L.ScaleX = Base;
  L.ScaleY = Base * Aspect;
  const auto X = [&](double V) { return int(std::nearbyint(V * L.ScaleX)); };
  int Printed = int(std::ceil(S.LabelsHeight * L.ScaleY));
  for (const int H : S.Strips)
    Printed += int(std::nearbyint(H * L.ScaleY)) / 2 * 2;
  // The plot's top follows the header as the labels do (through ScaleX).
  L.Plot = QRect(X(S.Left), X(S.Top), X(S.PlotWidth), std::min(Printed, Page.height() - X(S.Top)));
  return L;
}

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

TOscPrintSizes TOscPrint::Sizes() const {
  TOscPrintSizes S;
  S.Frame = FFrame->size();
  S.Left = FFrame->PanelLeft->width();
  S.Top = FFrame->ToolBar1->height();
  S.PlotWidth = FFrame->Common().PlotRect.width();
  S.ScreenDpi = FFrame->logicalDpiX();
  // Print mode draws every strip from the first in view down; with one axis
  // the analog curves share one strip.
  const TOscView &V = FFrame->View();
  const bool Single = FFrame->cbSingleAxis->isChecked(), SelectedOnly = FFrame->cbSelectedOnly->isChecked();
  const std::vector<TOscDrawer *> &Drawers = FFrame->Drawers();
  if (Single)
    S.Strips.push_back(V.AnalogHeight);
  for (size_t i = size_t(std::max(FFrame->ScrollBarVert->value(), 0)); i < Drawers.size(); ++i) {
    const TOscDrawer *D = Drawers[i];
    if (Single ? !D->IsAnalog() && D->Checked() : !SelectedOnly || D->Checked())
      S.Strips.push_back(D->IsAnalog() && !Single ? V.AnalogHeight : V.DiscreteHeight);
  }
  // The numbers begin 3 px below the last strip, one line of the plot's font.
  S.LabelsHeight = 3 + QFontMetrics(FFrame->PaintBox->font()).height() + 2;
  return S;
}

void TOscPrint::Print(QPrinter &Printer) {
  const TOscPrintLayout Layout =
      LayOutOscPrint(Sizes(), QSize(Printer.width(), Printer.height()), Printer.logicalDpiX(), Printer.logicalDpiY());
  FFit = Layout.Fit;
  ScaleX = Layout.ScaleX;
  ScaleY = Layout.ScaleY;
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
  // Every strip and the time numbers, not only what the screen's plot holds.
  P.setClipRect(QRect(0, 0, C.PlotRect.width(), Layout.Plot.height()));
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
