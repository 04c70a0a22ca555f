// The program: the application object, the message boxes, the translation
// table and the main window; the message loop runs until the window closes.
#include "uAppIniFile.h"
#include "uBuildStamp.h"
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
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

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

// SIGTERM and SIGINT close the window as "Выход" does, without its
// questions: a write under way still runs to its end first. A handler may
// only write to a descriptor; the main thread reads it through a notifier.
int SignalPipe[2] = {-1, -1};

void OnEndSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = ::write(SignalPipe[0], &byte, 1);
}

void CloseOnEndSignals(TMainForm &Form) {
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, SignalPipe) != 0)
    return;
  auto *notifier = new QSocketNotifier(SignalPipe[1], QSocketNotifier::Read, &Form);
  QObject::connect(notifier, &QSocketNotifier::activated, &Form, [&Form] {
    char byte;
    [[maybe_unused]] const ssize_t n = ::read(SignalPipe[1], &byte, 1);
    Form.CloseQuietly();
  });
  struct sigaction action {};
  action.sa_handler = OnEndSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int sig : {SIGTERM, SIGINT})
    ::sigaction(sig, &action, nullptr);
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
  CloseOnEndSignals(form);
  if (const int ms = QuitAfterMs(QApplication::arguments()); ms >= 0)
    QTimer::singleShot(ms, &form, &QWidget::close);
  return app.exec();
}
