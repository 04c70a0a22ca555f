#include "uOscPrint.h"

#include "oscRecords.h"
#include "uErrors.h"
#include "uPrintDialog.h"

#include <QCheckBox>
#include <QFile>
#include <QFontMetrics>
#include <QLineEdit>
#include <QProcess>
#include <QPrinter>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {
QString ToolOutput(const QString &Program, const QStringList &Args) {
  QProcess P;
  P.start(Program, Args);
  P.waitForFinished(60000);
  return QString::fromUtf8(P.readAllStandardOutput());
}

// Everything printing changes and must put back, the plot as painted included.
QString State(TkvOscFrame &F) {
  const TOscView &V = F.View();
  const TOscCommon &C = F.Common();
  auto Rect = [](const QRect &R) { return QString::asprintf("%d,%d,%d,%d ", R.x(), R.y(), R.width(), R.height()); };
  F.PaintBoxPaint();
  const QImage &Plot = F.PlotImage();
  return QString::asprintf("%g %g %d %d %d %d %d %d %g %g %d %zx ", V.TimeScale, V.AmplitudeScale, V.PlotWidth,
                           V.PlotHeight, V.AnalogHeight, V.DiscreteHeight, V.VisibleSamples, int(V.AutoGrid),
                           F.PrintScaleX(), C.PrintScaleY, int(F.IsPrinting()),
                           size_t(qHashBits(Plot.constBits(), size_t(Plot.sizeInBytes())))) +
         Rect(C.AnalogStrip) + Rect(C.DiscreteStrip) + Rect(C.PlotRect) + C.BackColor.name() +
         QString::number(quintptr(C.Canvas)) + QString::number(quintptr(C.Image));
}

class TFailingPrint : public TOscPrint {
public:
  using TOscPrint::TOscPrint;

protected:
  void PrintHeader(QPainter &) override { throw EKvError("paper jam"); }
};
} // namespace

TEST(OscPrint, PrintsTheFrameToPdfAndPutsItBackAsItWas) {
  try {
    QWidget NotAFrame;
    TOscPrint Print(&NotAFrame);
    ADD_FAILURE();
  } catch (const EKvError &E) {
    EXPECT_EQ(E.Text(), "TkvOscFrame expected");
  }

  QTemporaryDir Dir;
  WriteThreePhase(Dir.filePath("p"));
  TFrameOf Of(Dir.filePath("p.dat"), 1400, 500);
  TkvOscFrame &F = Of.F;
  F.Drawers()[2]->SetChecked(false); // hidden with "Отмеченные": prints nothing
  F.Rebuild();
  QString Before;
  const QString Pdf = Dir.filePath("page.pdf");
  const TPrintDialogOpener Saved = SetPrintDialogOpener(PdfFileOpener(Pdf));
  auto Print = [&](bool Diagram) {
    if (F.cbVectorDiagram->isChecked() != Diagram)
      F.cbVectorDiagram->click();
    if (F.TimeCursors.empty()) { // a new plot width starts the cursors again
      QTest::mouseClick(F.PaintBox, Qt::LeftButton, {}, QPoint(300, 5));
      QTest::mouseClick(F.PaintBox, Qt::LeftButton, Qt::ShiftModifier, QPoint(500, F.Drawers()[0]->CenterY - 20));
    }
    Before = State(F);
    F.Print();
    EXPECT_EQ(State(F).toStdString(), Before.toStdString());
    return ToolOutput("pdftotext", {"-layout", Pdf, "-"});
  };
  const QString Plain = Print(false);
  const QString WithDiagram = Print(true);
  SetPrintDialogOpener(Saved);
  // The value cursor's label reads on paper what it reads on screen.
  double Level = 0;
  ASSERT_TRUE(F.ValueAtY(F.LevelCursors.at(0)->Screen1, Level));
  // (Once in the amplitude field, once beside the line.)
  EXPECT_GE(WithDiagram.count(QString::asprintf("%4.3g", Level).trimmed()), 2) << Level;
  ASSERT_FALSE(F.EditTimeInterval->text().isEmpty());
  EXPECT_TRUE(Plain.contains(F.EditTimeInterval->text()));
  for (const char *Text : {"Время", "Амплитуда", "круговая диаграмма", "Отмеченные", "p.dat", "U0", "U1"})
    EXPECT_TRUE(Plain.contains(QString::fromUtf8(Text))) << Text << "\n" << Plain.toStdString();
  EXPECT_FALSE(Plain.contains("U2"));
  // The diagram's table names each shown channel once more.
  EXPECT_EQ(WithDiagram.count("U1"), Plain.count("U1") + 1);
  const QStringList Fonts = ToolOutput("pdffonts", {Pdf}).split('\n', Qt::SkipEmptyParts).mid(2);
  ASSERT_FALSE(Fonts.isEmpty());
  for (const QString &Line : Fonts)
    EXPECT_TRUE(Line.contains(" yes ")) << Line.toStdString();
  QFile::remove(KV_BUILD_DIR "/osc-print.pdf");
  QFile::copy(Pdf, KV_BUILD_DIR "/osc-print.pdf"); // for a look at the page

  // Failing halfway, the frame is restored and the error reaches the caller.
  QPrinter Printer;
  PdfFileOpener(Dir.filePath("jam.pdf"))(Printer, nullptr);
  try {
    TFailingPrint(&F).Print(Printer);
    ADD_FAILURE() << "no error";
  } catch (const EKvError &E) {
    EXPECT_EQ(E.Text(), "paper jam");
  }
  EXPECT_EQ(State(F).toStdString(), Before.toStdString());
}

namespace {
// Count sine channels at 1800 samples per second, each 50 Hz, peak 100.
void WriteChannels(const QString &Base, int Count) {
  TComtradeConfig C;
  TComtradeConfigTool T;
  T.SetConfig(&C);
  for (int i = 0; i < Count; ++i) {
    TComtradeAnalogChannel A;
    A.Id = QStringLiteral("U%1").arg(i), A.A = 1, A.Min = -100, A.Max = 100;
    T.AddAnalogChannel(A);
  }
  T.SetRateCount(1);
  T.SetRateSamples(0, 1800);
  T.SetRateEndSample(0, 359);
  TComtradeData Data;
  Data.SetConfig(&C);
  TComtradeDataTool DT;
  DT.SetData(&Data);
  for (int s = 0; s < 360; ++s) {
    DT.AddSampleNumber(s + 1);
    DT.AddTimeStamp(int(std::lround(s * 1e6 / 1800)));
    for (int i = 0; i < Count; ++i)
      DT.AddRaw(int(std::lround(100 * std::sin(2 * M_PI * 50 * s / 1800 + i))));
  }
  C.SaveToFile(Base + ".cfg");
  Data.SaveToFile(Base + ".dat");
}

// Whether the rows From..To (printer pixels of the page's printable area) of
// the page rendered as Png hold anything drawn in the plot's columns.
bool Inked(const QImage &Png, const QPrinter &Printer, const QRect &Plot, int From, int To) {
  const QRectF Area = Printer.pageLayout().paintRect(QPageLayout::Point);
  const double PerPx = 72.0 / Printer.resolution(), Dpi = 50;
  const auto At = [&](double Px, double Offset) { return int((Offset + Px * PerPx) * Dpi / 72); };
  for (int y = At(From, Area.top()); y <= At(To, Area.top()); ++y)
    for (int x = At(Plot.left(), Area.left()); x < At(Plot.right(), Area.left()); ++x)
      if (y >= 0 && y < Png.height() && x >= 0 && x < Png.width() && qGray(Png.pixel(x, y)) < 235)
        return true;
  return false;
}
} // namespace

// With more channels than the view holds, the page holds every strip, the
// last one's trace, and the time axis's numbers below it.
TEST(OscPrint, APageFullOfChannelsHoldsEveryStripAndTheTimeNumbers) {
  QTemporaryDir Dir;
  WriteChannels(Dir.filePath("many"), 48);
  TFrameOf Of(Dir.filePath("many.dat"), 1400, 500);
  TkvOscFrame &F = Of.F;
  const int Strip = F.View().AnalogHeight;
  ASSERT_GT(48 * Strip, F.PaintBox->height()) << "the view is full";

  QPrinter Printer(QPrinter::HighResolution);
  Printer.setPageOrientation(QPageLayout::Landscape);
  const QString Pdf = Dir.filePath("many.pdf");
  PdfFileOpener(Pdf)(Printer, nullptr);
  TOscPrint Print(&F);
  const TOscPrintLayout Layout =
      LayOutOscPrint(Print.Sizes(), QSize(Printer.width(), Printer.height()), Printer.logicalDpiX(), Printer.logicalDpiY());
  const int Printed = int(std::nearbyint(Strip * Layout.ScaleY)) / 2 * 2;
  const int Numbers = Layout.Plot.top() + 48 * Printed;
  EXPECT_LE(Numbers + QFontMetrics(F.PaintBox->font()).height() * Layout.ScaleY, Printer.height());
  EXPECT_LE(Layout.Plot.bottom(), Printer.height());
  Print.Print(Printer);

  ASSERT_EQ(QProcess::execute("pdftoppm", {"-r", "50", "-png", "-singlefile", Pdf, Dir.filePath("many")}), 0);
  const QImage Png(Dir.filePath("many.png"));
  ASSERT_FALSE(Png.isNull());
  EXPECT_TRUE(Inked(Png, Printer, Layout.Plot, Numbers - Printed + 2, Numbers - 2)) << "the last channel's trace";
  EXPECT_TRUE(Inked(Png, Printer, Layout.Plot, Numbers + 3, Numbers + 3 + int(QFontMetrics(F.PaintBox->font()).height() * Layout.ScaleY)))
      << "the time numbers";
  QFile::remove(KV_BUILD_DIR "/osc-print-many.png");
  QFile::copy(Dir.filePath("many.png"), KV_BUILD_DIR "/osc-print-many.png"); // for a look at the page
}
