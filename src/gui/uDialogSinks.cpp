#include "uDialogSinks.h"

#include "uFileDialogSink.h"
#include "uMessageSink.h"
#include "uMultiLingual.h"
#include "uPrintDialog.h"
#include "uReportPreviewForm.h"
#include "uStatusText.h"
#include "uTranslateForms.h"

#include <QApplication>
#include <QFileDialog>
#include <QMainWindow>
#include <QMessageBox>

QString MessageBoxTitle() {
  // The boxes speak for the program, whichever of its windows is active: the
  // main window's caption ("Вартон" and the version) is the program's name.
  for (QWidget *w : QApplication::topLevelWidgets())
    if (qobject_cast<QMainWindow *>(w) && !w->windowTitle().isEmpty())
      return w->windowTitle();
  return QApplication::applicationDisplayName();
}

QWidget *DialogParent() {
  // The main window outlives every box; the active window may be a wait box
  // or a dialog that closes, and deletes what it owns, while a box on it is
  // still open.
  QWidget *hidden = nullptr;
  for (QWidget *w : QApplication::topLevelWidgets())
    if (qobject_cast<QMainWindow *>(w)) {
      if (w->isVisible())
        return w;
      if (!hidden)
        hidden = w;
    }
  return hidden;
}

namespace {
TMsgResult DialogSink(TMsgKind Kind, const QString &RawText) {
  QWidget *parent = DialogParent();
  const QString title = MessageBoxTitle();
  // Shown in the interface's language, names and numbers kept as built.
  const QString text = ShownText(RawText);
  switch (Kind) {
  case TMsgKind::Question:
    // Enter takes the answer that changes nothing.
    switch (QMessageBox::question(parent, title, text, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel,
                                  QMessageBox::Cancel)) {
    case QMessageBox::Yes: return TMsgResult::Yes;
    case QMessageBox::No: return TMsgResult::No;
    default: return TMsgResult::Cancel;
    }
  case TMsgKind::YesNoQuestion:
    return QMessageBox::question(parent, title, text, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes
               ? TMsgResult::Yes
               : TMsgResult::No;
  case TMsgKind::NoFirstQuestion:
    return QMessageBox::question(parent, title, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No) ==
                   QMessageBox::Yes
               ? TMsgResult::Yes
               : TMsgResult::No;
  case TMsgKind::Error:
    QMessageBox::critical(parent, title, text);
    return TMsgResult::Ok;
  case TMsgKind::Info:
    QMessageBox::information(parent, title, text);
    return TMsgResult::Ok;
  }
  return TMsgResult::Ok;
}

QString FileDialog(const TFileDialogRequest &R) {
  QFileDialog d(DialogParent(), MultiLingual().Translate(R.Caption), R.InitialDir, R.Filter);
  d.setAcceptMode(R.Kind == TFileDialogKind::Save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  d.setFileMode(R.Kind == TFileDialogKind::Save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  d.setDefaultSuffix(R.DefaultExt);
  LocalizeFileDetails(&d);
  if (!R.FileName.isEmpty())
    d.selectFile(R.FileName);
  if (d.exec() != QDialog::Accepted || d.selectedFiles().isEmpty())
    return QString();
  return d.selectedFiles().first();
}
} // namespace

void InstallDialogSinks() {
  SetMessageSink(DialogSink);
  SetFileDialogSink(FileDialog);
  SetPrintDialogOpener(ShowPrintDialog);
  InstallReportPreviewForm();
}
