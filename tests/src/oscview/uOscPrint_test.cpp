#include "uOscPrint.h"

#include "oscRecords.h"
#include "uErrors.h"
#include "uPrintDialog.h"

#include <QCheckBox>
#include <QFile>
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
