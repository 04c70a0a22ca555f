#include "uPrintDialog.h"

#include "uLogger.h"

#include <QPrintDialog>
#include <QPrinter>

namespace {
TPrintDialogOpener &Opener() {
  static TPrintDialogOpener s;
  return s;
}
} // namespace

TPrintDialogOpener SetPrintDialogOpener(TPrintDialogOpener NewOpener) {
  TPrintDialogOpener old = std::move(Opener());
  Opener() = std::move(NewOpener);
  return old;
}

bool ExecutePrintDialog(QPrinter &Printer, QWidget *Parent) {
  if (!Opener()) {
    Logger().Info("print dialog: " + Printer.docName());
    return false;
  }
  return Opener()(Printer, Parent);
}

bool ShowPrintDialog(QPrinter &Printer, QWidget *Parent) {
  QPrintDialog dialog(&Printer, Parent);
  return dialog.exec() == QDialog::Accepted;
}

TPrintDialogOpener PdfFileOpener(const QString &FileName) {
  return [FileName](QPrinter &Printer, QWidget *) {
    Printer.setOutputFormat(QPrinter::PdfFormat);
    Printer.setOutputFileName(FileName);
    Printer.setColorMode(QPrinter::Color);
    Printer.setFontEmbeddingEnabled(true);
    return true;
  };
}
