// Pictures of the dialogs the program shows through Qt (a file dialog, a
// question box, the report preview and its print dialog) in one interface
// language, against the in-process demo terminal, with the program's own
// dialog sinks: `screenshot_dialogs RU|UA|EN OUTDIR` writes
// OUTDIR/dialog-LANG-{file,question,preview,print}.png.
// scripts/screenshot-dialogs.sh runs it under a virtual X server.
#include "uDemoSession.h"
#include "uDialogSinks.h"
#include "uDashboardFrame.h"

#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <QPushButton>
#include <QToolButton>
#include <QFile>
#include <QTranslator>
#include <iostream>

namespace {
// Asked last of all translators: records every text of Qt's that no
// catalogue answered (KV_QT_MISSES=FILE), so that the gaps can be seen.
class TMissLog : public QTranslator {
public:
  explicit TMissLog(QString File) : FFile(std::move(File)) {}
  // Texts asked for before the language is applied are of no account.
  bool Recording = false;
  bool isEmpty() const override { return false; }
  QString translate(const char *Context, const char *Source, const char *Comment, int) const override {
    QFile f(FFile);
    if (Recording && Source && *Source && f.open(QIODevice::Append))
      f.write(QByteArray(Context) + "\t" + QByteArray(Source).replace('\n', "\\n") + "\t" + QByteArray(Comment ? Comment : "") + "\n");
    return QString();
  }

private:
  QString FFile;
};
} // namespace

int main(int argc, char **argv) {
  QApplication app(argc, argv);
  if (argc != 3) {
    std::cerr << "usage: screenshot_dialogs RU|UA|EN OUTDIR\n";
    return 2;
  }
  const QString lang = QString::fromLocal8Bit(argv[1]), outDir = QString::fromLocal8Bit(argv[2]);
  TMissLog misses(qEnvironmentVariable("KV_QT_MISSES"));
  if (qEnvironmentVariableIsSet("KV_QT_MISSES"))
    QCoreApplication::installTranslator(&misses);
  TDemoSession s;
  MultiLingual().Load(KV_SOURCE_DIR "/src/resources");
  if (!s.Start()) {
    std::cerr << "the main window did not start\n";
    return 1;
  }
  s.Form->SetLanguage(TMultiLingual::LanguageIndex(lang)); // as the "Язык" menu does
  misses.Recording = true;
  InstallDialogSinks();
  s.Form->setGeometry(0, 0, 1000, 680);
  s.Form->show();
  s.Identify();

  // Each modal window, once it has been up for half a second, is pictured
  // and then dismissed: the preview by its print button (the print dialog
  // follows), the rest by Cancel.
  const QStringList names = {"file", "question", "preview", "print"};
  int next = 0, ticks = 0;
  QWidget *shot = nullptr, *preview = nullptr;
  int saved = 0;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    QWidget *w = QApplication::activeModalWidget();
    if (!w || w == shot) {
      ticks = 0;
      if (w && w == preview && shot != preview) // back from the print dialog
        QMetaObject::invokeMethod(w, "reject", Qt::QueuedConnection);
      return;
    }
    if (w == preview) {
      QMetaObject::invokeMethod(w, "reject", Qt::QueuedConnection);
      return;
    }
    // The print dialog is pictured with its options open.
    if (ticks == 2 && names.value(next) == "print")
      for (QPushButton *b : w->findChildren<QPushButton *>())
        if (b->text().endsWith(QStringLiteral(">>")))
          b->click();
    if (++ticks < 5 || next >= names.size())
      return;
    const QString file = QStringLiteral("%1/dialog-%2-%3.png").arg(outDir, lang, names[next]);
    if (w->grab().save(file)) {
      ++saved;
      std::cout << "saved " << file.toStdString() << "\n";
    }
    shot = w;
    ticks = 0;
    if (names[next++] == "preview") {
      preview = w;
      if (auto *print = w->findChild<QToolButton *>("btnPrint"))
        QTimer::singleShot(0, print, &QToolButton::click);
    } else {
      QMetaObject::invokeMethod(w, "reject", Qt::QueuedConnection);
    }
  });
  watch.start(100);

  s.Form->PageControl->setCurrentWidget(s.Form->TabSheetDashboard);
  s.Form->apFileLoad->trigger();
  s.Form->DashboardFrame->SetModified(true);
  s.Form->close(); // asks; Cancel keeps the window
  s.Form->DashboardFrame->SetModified(false);
  s.Form->nModbusReport->trigger();
  watch.stop();
  return saved == names.size() ? 0 : 1;
}
