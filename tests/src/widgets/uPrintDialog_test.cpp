#include "uPrintDialog.h"

#include <QPainter>
#include <QPrinter>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {
QString ToolOutput(const QString &Program, const QStringList &Args) {
  QProcess p;
  p.start(Program, Args);
  p.waitForFinished(60000);
  return QString::fromUtf8(p.readAllStandardOutput());
}
} // namespace

TEST(PrintDialog, WithoutAnOpenerNothingIsPrinted) {
  const TPrintDialogOpener old = SetPrintDialogOpener({});
  QPrinter printer;
  EXPECT_FALSE(ExecutePrintDialog(printer));
  SetPrintDialogOpener(old);
}

// The PDF opener is what tests of every printing window rely on: the page
// must come out as a PDF whose Cyrillic text can be found and whose fonts are
// embedded.
TEST(PrintDialog, PdfOpenerWritesSearchableTextWithEmbeddedFonts) {
  QTemporaryDir dir;
  const QString path = dir.filePath("page.pdf");
  const TPrintDialogOpener old = SetPrintDialogOpener(PdfFileOpener(path));
  QPrinter printer;
  ASSERT_TRUE(ExecutePrintDialog(printer));
  SetPrintDialogOpener(old);
  {
    QPainter painter(&printer);
    painter.setFont(QFont("Arial", 14));
    painter.drawText(100, 100, "Канал Ia");
  }
  EXPECT_TRUE(ToolOutput("pdftotext", {path, "-"}).contains("Канал Ia"));
  const QStringList fonts = ToolOutput("pdffonts", {path}).split('\n', Qt::SkipEmptyParts).mid(2);
  ASSERT_FALSE(fonts.isEmpty());
  for (const QString &line : fonts)
    EXPECT_TRUE(line.contains(" yes ")) << line.toStdString();
}
