#pragma once
// Every print dialog of the program goes through one replaceable opener, as
// message boxes do: the program installs the real dialog, tests install one
// that sends the page to a PDF file at once, so no test waits on a modal
// dialog.
#include <QString>
#include <functional>

class QPrinter;
class QWidget;

// Lets the user set Printer up; true to print, false when cancelled.
using TPrintDialogOpener = std::function<bool(QPrinter &Printer, QWidget *Parent)>;

// Installs Opener (an empty one restores the default, which logs the request
// and cancels). Returns the previous opener.
TPrintDialogOpener SetPrintDialogOpener(TPrintDialogOpener Opener);

// The print dialog of the application: true when Printer is set up to print.
bool ExecutePrintDialog(QPrinter &Printer, QWidget *Parent = nullptr);

// The real, modal print dialog; the program installs it at start.
bool ShowPrintDialog(QPrinter &Printer, QWidget *Parent);

// An opener that answers at once: Printer writes a PDF to FileName, in colour,
// with its fonts embedded.
TPrintDialogOpener PdfFileOpener(const QString &FileName);
