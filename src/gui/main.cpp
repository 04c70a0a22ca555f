// The program: the application object, the message boxes, the translation
// table and the main window; the message loop runs until the window closes.
#include "uAppIniFile.h"
#include "uErrors.h"
#include "uFileDialogSink.h"
#include "uFiles.h"
#include "uLogger.h"
#include "uMainForm.h"
#include "uMessageSink.h"
#include "uMultiLingual.h"
#include "uPrintDialog.h"
#include "uReportPreviewForm.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QTimer>

namespace {
// Failures of a command end at the edge: the error box shows the text and the
// log keeps it; the program goes on.
class TKvApplication : public QApplication {
public:
  using QApplication::QApplication;
  bool notify(QObject *Receiver, QEvent *Event) override {
    try {
      return QApplication::notify(Receiver, Event);
    } catch (const EKvError &e) {
      ShowEdgeError(e.Text());
    } catch (const std::exception &e) {
      ShowEdgeError(QString::fromLocal8Bit(e.what()));
    }
    return false;
  }
};

TMsgResult DialogSink(TMsgKind Kind, const QString &Text) {
  QWidget *parent = QApplication::activeWindow();
  const QString title = QApplication::applicationDisplayName();
  switch (Kind) {
  case TMsgKind::Question:
    switch (QMessageBox::question(parent, title, Text, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel)) {
    case QMessageBox::Yes: return TMsgResult::Yes;
    case QMessageBox::No: return TMsgResult::No;
    default: return TMsgResult::Cancel;
    }
  case TMsgKind::YesNoQuestion:
    return QMessageBox::question(parent, title, Text, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes
               ? TMsgResult::Yes
               : TMsgResult::No;
  case TMsgKind::Error:
    QMessageBox::critical(parent, title, Text);
    return TMsgResult::Ok;
  case TMsgKind::Info:
    QMessageBox::information(parent, title, Text);
    return TMsgResult::Ok;
  }
  return TMsgResult::Ok;
}

QString FileDialog(const TFileDialogRequest &R) {
  QFileDialog d(QApplication::activeWindow(), R.Caption, R.InitialDir, R.Filter);
  d.setAcceptMode(R.Kind == TFileDialogKind::Save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  d.setFileMode(R.Kind == TFileDialogKind::Save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  d.setDefaultSuffix(R.DefaultExt);
  if (!R.FileName.isEmpty())
    d.selectFile(R.FileName);
  if (d.exec() != QDialog::Accepted || d.selectedFiles().isEmpty())
    return QString();
  return d.selectedFiles().first();
}

// "--quit-after=MS" closes the main window after MS milliseconds, as a user
// would: scripts and tests use it to see the program start and end cleanly.
int QuitAfterMs(const QStringList &Args) {
  for (const QString &a : Args)
    if (a.startsWith("--quit-after="))
      return a.mid(13).toInt();
  return -1;
}
} // namespace

int main(int argc, char **argv) {
  TKvApplication app(argc, argv);
  QApplication::setOrganizationName("vnk");
  QApplication::setApplicationName("kv");
  SetMessageSink(DialogSink);
  SetFileDialogSink(FileDialog);
  SetPrintDialogOpener(ShowPrintDialog);
  InstallReportPreviewForm();

  const QString folder = ProgramFolder() + u'/';
  try {
    AppIni(); // a settings file that does not decode stops here, with its name
    MultiLingual().Load(folder);
  } catch (const EKvError &e) {
    ShowErrorText(e.Text());
    Logger().Close();
    return 1;
  }

  TMainForm form(AppIni(), folder);
  form.SetLogFile(folder + QFileInfo(ProgramFilePath()).baseName() + ".log");
  if (!form.FormShow()) {
    Logger().Close();
    return 1;
  }
  form.show();
  if (const int ms = QuitAfterMs(QApplication::arguments()); ms >= 0)
    QTimer::singleShot(ms, &form, &QWidget::close);
  return app.exec();
}
