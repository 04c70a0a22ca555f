// The program: the application object, the message boxes, the translation
// table and the main window; the message loop runs until the window closes.
#include "uAppIniFile.h"
#include "uBuildStamp.h"
#include "uCloseRules.h"
#include "uDialogSinks.h"
#include "uErrors.h"
#include "uFiles.h"
#include "uLogger.h"
#include "uMainForm.h"
#include "uMessageSink.h"
#include "uMultiLingual.h"
#include "uVersionInfo.h"

#include <QApplication>
#include <QFileInfo>
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
  SetBuildTime(QDateTime::fromSecsSinceEpoch(KvBuildEpochSeconds));
  InstallDialogSinks();

  const QString folder = ProgramFolder() + u'/';
  try {
    MultiLingual().Load(folder);
    AppIni(); // a settings file that does not decode stops here, with its name
  } catch (const EKvIniEncoding &e) {
    // The table is there, the settings are not: the language is the one the
    // file asks for, as far as it could be read.
    MultiLingual().SetLanguageCode(e.Lang.isEmpty() ? QStringLiteral("RU") : e.Lang);
    ShowErrorText(e.TextIn([](const QString &Text) { return MultiLingual().Translate(Text); }));
    PrintLogFailure(Logger().Close());
    return 1;
  } catch (const EKvError &e) {
    ShowErrorText(e.Text());
    PrintLogFailure(Logger().Close());
    return 1;
  }

  TMainForm form(AppIni(), folder);
  form.SetLogFile(folder + QFileInfo(ProgramFilePath()).baseName() + ".log");
  if (!form.FormShow()) {
    PrintLogFailure(Logger().Close());
    return 1;
  }
  form.show();
  // SIGTERM and SIGINT close the window as "Выход" does, without its
  // questions: a write under way still runs to its end first.
  TEndSignals endSignals([&form] { form.CloseQuietly(); });
  if (const int ms = QuitAfterMs(QApplication::arguments()); ms >= 0)
    QTimer::singleShot(ms, &form, &QWidget::close);
  return app.exec();
}
