#include "uLogger.h"

#include "uErrors.h"
#include "uFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <csignal>
#include <fcntl.h>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

QByteArray JoinCrLf(const QStringList &Lines) {
  QByteArray out;
  for (const QString &l : Lines)
    out += l.toUtf8() + "\r\n";
  return out;
}

// Runs the body with Dir as the current folder.
struct TCurrentDir {
  QString Old = QDir::currentPath();
  explicit TCurrentDir(const QString &Dir) { QDir::setCurrent(Dir); }
  ~TCurrentDir() { QDir::setCurrent(Old); }
};

QCoreApplication &App() {
  static int argc = 1;
  static char name[] = "uLogger_test";
  static char *argv[] = {name, nullptr};
  static QCoreApplication app(argc, argv);
  return app;
}

// Runs an event loop until it has waited for events at least once.
void WaitInEventLoop() {
  QEventLoop loop;
  QTimer::singleShot(20, &loop, &QEventLoop::quit);
  loop.exec();
}

} // namespace

TEST(Logger, LinesCarryTimeLevelAndText) {
  TLogger log;
  log.Debug("text one");
  log.Info(QString::fromUtf8("Привет"));
  log.Error("bad");
  log.InfoFmt("%s has %d items at %04X", QString::fromUtf8("Ω"), 5, 0x1F);
  const QStringList lines = log.Lines();
  ASSERT_EQ(lines.size(), 4);
  const QRegularExpression stamp(R"(^\d\d\.\d\d\.\d\d\.\d\d\d (.*)$)");
  const QStringList rest{"DEBUG text one", QString::fromUtf8("INFO Привет"), "ERROR bad",
                         QString::fromUtf8("INFO Ω has 5 items at 001F")};
  for (int i = 0; i < 4; ++i) {
    const auto m = stamp.match(lines[i]);
    ASSERT_TRUE(m.hasMatch()) << lines[i].toStdString();
    EXPECT_EQ(m.captured(1), rest[i]);
  }
}

TEST(Logger, The10001stLineEmptiesTheListAndThePaneLeavingItself) {
  TLogger log;
  QStringList pane;
  log.SetSink([&](const QString &Line, int) { pane << Line; }, [&] { pane.clear(); });
  for (int i = 1; i <= 10000; ++i)
    log.Info(QString::number(i));
  EXPECT_EQ(log.Lines().size(), 10000);
  log.Info("10001");
  ASSERT_EQ(log.Lines().size(), 1);
  EXPECT_TRUE(log.Lines()[0].endsWith("INFO 10001"));
  EXPECT_EQ(pane, log.Lines());
  log.Clear();
  EXPECT_TRUE(log.Lines().isEmpty());
  EXPECT_TRUE(pane.isEmpty());
}

TEST(Logger, PaneReceivesKeptLinesWithTheirLevels) {
  TLogger log;
  log.Info("i");
  log.Error("e");
  log.Debug("d");
  QList<int> levels;
  log.SetSink([&](const QString &, int Level) { levels << Level; });
  log.Error("e2");
  EXPECT_EQ(levels, (QList<int>{TLogger::lvInfo, TLogger::lvError, TLogger::lvDebug, TLogger::lvError}));
}

// A session longer than the kept lines: the file holds what it held before,
// the start line, the first error and every line after them, whatever the
// 10000-line rule and the pane's clear button emptied meanwhile.
TEST(Logger, FileKeepsTheWholeSessionAfterClose) {
  QTemporaryDir dir;
  const QString path = dir.filePath("prog.log");
  SaveFileBytes(path, "an earlier run\r\n");
  TCurrentDir cwd(dir.path()); // where the pane's rich copy goes
  TLogger log;
  QStringList pane;
  log.Info("before open");
  log.SetSink([&](const QString &Line, int) { pane << Line; }, [&] { pane.clear(); });
  log.Open(path);
  log.Error("first");
  // Already on disk, before any close: a crash would keep it.
  EXPECT_TRUE(LoadFileBytes(path).endsWith(" ERROR first\r\n"));
  for (int i = 0; i < 12000; ++i)
    log.Info(QString::number(i));
  log.Clear();
  EXPECT_TRUE(pane.isEmpty());
  log.Info("after clear");
  const QByteArray beforeClose = LoadFileBytes(path);
  EXPECT_EQ(log.Close(), "");
  const QByteArray file = LoadFileBytes(path);
  EXPECT_TRUE(file.startsWith(beforeClose));
  const QList<QByteArray> lines = file.split('\n');
  ASSERT_EQ(lines.size(), 1 + 1 + 1 + 12000 + 1 + 1 + 1) << "earlier, start, error, numbers, after, stop, end";
  EXPECT_EQ(lines[0], "an earlier run\r");
  EXPECT_TRUE(lines[1].endsWith(" INFO Application started\r"));
  EXPECT_TRUE(lines[2].endsWith(" ERROR first\r"));
  EXPECT_TRUE(lines[12002].endsWith(" INFO 11999\r"));
  EXPECT_TRUE(lines[12003].endsWith(" INFO after clear\r"));
  EXPECT_TRUE(lines[12004].endsWith(" INFO Application stopped\r"));
  EXPECT_EQ(log.Close(), ""); // a second close changes nothing
  EXPECT_EQ(LoadFileBytes(path), file);
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), (QStringList{"prog.log", "prog.log.rtf"}));
}

TEST(Logger, ListenedWhileAFileIsOpenOrAPaneAttached) {
  QTemporaryDir dir;
  TLogger log;
  EXPECT_FALSE(log.Listened());
  log.SetSink([](const QString &, int) {});
  EXPECT_TRUE(log.Listened());
  log.Open(dir.filePath("prog.log"));
  log.SetSink({});
  EXPECT_TRUE(log.Listened());
  log.Close();
  EXPECT_FALSE(log.Listened());
  log.Debug("kept all the same");
  EXPECT_TRUE(log.Lines().last().endsWith(" DEBUG kept all the same"));
}

TEST(Logger, CloseWithPaneAlsoWritesColouredRichText) {
  QTemporaryDir dir;
  QDir(dir.path()).mkdir("bin");
  QDir(dir.path()).mkdir("work");
  const QString path = dir.filePath("bin/prog.log");
  TCurrentDir cwd(dir.filePath("work"));
  TLogger log;
  log.Open(path);
  log.SetSink([](const QString &, int) {});
  log.Error(QString::fromUtf8("Ошибка {x}\\"));
  log.Close();
  const QStringList lines = log.Lines();
  EXPECT_TRUE(LoadFileBytes(path).endsWith(JoinCrLf(lines.mid(1))));
  const QByteArray rtf = LoadFileBytes(dir.filePath("work/prog.log.rtf"));
  EXPECT_TRUE(rtf.startsWith("{\\rtf1\\ansi\\ansicpg1251")) << rtf.constData();
  EXPECT_TRUE(rtf.contains("{\\colortbl ;\\red0\\green0\\blue128;\\red255\\green0\\blue0;\\red0\\green128\\blue0;}"));
  // "Ошибка" is U+041E U+0448 U+0438 U+0431 U+043A U+0430.
  const QByteArray err = "\\cf2 " + lines[1].left(12).toLatin1() +
                         " ERROR \\u1054?\\u1096?\\u1080?\\u1073?\\u1082?\\u1072? \\{x\\}\\\\\\par\r\n";
  EXPECT_TRUE(rtf.contains(err)) << rtf.constData();
  EXPECT_TRUE(rtf.contains("\\cf1 " + lines[2].left(12).toLatin1() + " INFO Application stopped\\par\r\n"));
  EXPECT_TRUE(rtf.endsWith("}\r\n"));
}

TEST(Logger, CloseReportsLinesTheFileDidNotTake) {
  QTemporaryDir dir;
  const QString path = dir.filePath("prog.log");
  TLogger log;
  log.Open(path);
  // A file size limit stands in for a full disk: the next line does not fit.
  const qint64 size = QFileInfo(path).size();
  rlimit old;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  const auto oldSignal = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = old;
  small.rlim_cur = rlim_t(size);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  log.Error("lost");
  const QString closed = log.Close();
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldSignal);
  EXPECT_EQ(closed, QString::fromUtf8("Не удалось записать ") + path + ": File too large");
}

TEST(Logger, CloseReportsALogThatCouldNotBeOpened) {
  QTemporaryDir dir;
  const QString path = dir.filePath("prog.log");
  ASSERT_TRUE(QDir(dir.path()).mkdir("prog.log"));
  TLogger log;
  const QString why = QString::fromUtf8("Не удалось записать ") + path + ": Is a directory";
  EXPECT_EQ(log.Open(path), why);
  log.Error("kept in memory");
  EXPECT_EQ(log.Close(), why);
}

// The report at the program's end names every log that failed, the worker's
// and the trace's (opened by a relative name in the work folder) as well,
// each with its folder.
TEST(Logger, CloseReportsEveryLogThatFailedWithItsFolder) {
  QTemporaryDir dir;
  ASSERT_TRUE(QDir(dir.path()).mkpath("work/debug.log"));
  TLogger log;
  log.Open(dir.filePath("prog.log"));
  TCurrentDir cwd(dir.filePath("work"));
  TLogFile debug([](const QByteArray &Text) { return Text; }), trace([](const QByteArray &Text) { return Text; });
  debug.Open("debug.log", true);
  trace.Open("/dev/full", true);
  trace.Append(QByteArray("refused\n"));
  trace.Flush();
  EXPECT_EQ(log.Close(), QString::fromUtf8("Не удалось записать ") + dir.filePath("work/debug.log") +
                             ": Is a directory\n" + QString::fromUtf8("Не удалось записать ") +
                             "/dev/full: No space left on device");
  EXPECT_EQ(TakeLogFailures(), QStringList()) << "reported once";
}

// Past the bound the log goes on in a new generation, which says in the
// log's own form which session it continues.
TEST(Logger, ARunPastTheBoundContinuesInANewGeneration) {
  QTemporaryDir dir;
  const QString path = dir.filePath("prog.log");
  const TLogBound old = LogBound();
  SetLogBound({2000, 2});
  TLogger log;
  log.Open(path, true);
  for (int i = 0; i < 100; ++i)
    log.Info(QString("line %1").arg(i));
  EXPECT_EQ(log.Close(), "");
  SetLogBound(old);
  const QList<QByteArray> lines = LoadFileBytes(path).split('\n');
  EXPECT_TRUE(QRegularExpression(R"(^\d\d\.\d\d\.\d\d\.\d{3} INFO continues the session of process \d+ started .*, part 2\r$)")
                  .match(QString::fromLatin1(lines.first()))
                  .hasMatch())
      << lines.first().constData();
  EXPECT_TRUE(lines[lines.size() - 2].endsWith(" INFO Application stopped\r"));
  EXPECT_TRUE(LoadFileBytes(path + ".1").contains(" INFO Application started\r\n"));
}

TEST(Logger, LogFileIsNamedAfterTheProgram) {
  EXPECT_EQ(TLogger::LogFileNameFor("/opt/kv/prog.exe"), "/opt/kv/prog.log");
  EXPECT_EQ(TLogger::LogFileNameFor("/opt/kv/app.new.exe"), "/opt/kv/app.new.log");
  EXPECT_EQ(TLogger::LogFileNameFor("/opt/kv/kv"), "/opt/kv/kv.log");
}

TEST(Logger, LinesFromManyThreadsStayWhole) {
  QTemporaryDir dir;
  const QString path = dir.filePath("t.log");
  TLogger log;
  log.Open(path);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&log, t] {
      for (int i = 0; i < 500; ++i)
        log.Debug(QString("thread %1 line %2").arg(t).arg(i));
    });
  for (auto &th : threads)
    th.join();
  EXPECT_EQ(log.Lines().size(), 2001);
  const QList<QByteArray> fileLines = LoadFileBytes(path).split('\n');
  EXPECT_EQ(fileLines.size(), 2002); // the last split part is empty
  for (qsizetype i = 1; i + 1 < fileLines.size(); ++i)
    ASSERT_TRUE(fileLines[i].contains(" DEBUG thread ") && fileLines[i].endsWith('\r')) << fileLines[i].constData();
}

TEST(Logger, ABatchWritesItsLinesAtItsEndOrWhenItsThreadWaits) {
  App();
  QTemporaryDir dir;
  const QString path = dir.filePath("prog.log");
  TLogger log;
  log.Open(path);
  {
    TLogger::TBatch batch(log);
    log.Debug("held");
    log.WriteUtf8(TLogger::lvDebug, "held too");
    EXPECT_TRUE(LoadFileBytes(path).endsWith(" INFO Application started\r\n"));
    // A reply's dialog: the thread waits inside the batch.
    WaitInEventLoop();
    EXPECT_TRUE(LoadFileBytes(path).contains(" DEBUG held\r\n"));
    EXPECT_TRUE(LoadFileBytes(path).endsWith(" DEBUG held too\r\n"));
    log.Error("after the wait");
    EXPECT_FALSE(LoadFileBytes(path).endsWith(" ERROR after the wait\r\n"));
  }
  EXPECT_TRUE(LoadFileBytes(path).endsWith(" ERROR after the wait\r\n"));

  // Held past its end until the thread waits, or another line comes.
  {
    TLogger::TBatch sent(log, TLogger::TBatch::UntilIdle);
    log.Debug("sent one");
  }
  EXPECT_TRUE(LoadFileBytes(path).endsWith(" ERROR after the wait\r\n"));
  WaitInEventLoop();
  EXPECT_TRUE(LoadFileBytes(path).endsWith(" DEBUG sent one\r\n"));
  {
    TLogger::TBatch sent(log, TLogger::TBatch::UntilIdle);
    log.Debug("sent two");
  }
  std::thread([&log] { log.Info("from another thread"); }).join();
  const QList<QByteArray> fileLines = LoadFileBytes(path).split('\n');
  ASSERT_GE(fileLines.size(), 3);
  EXPECT_TRUE(fileLines[fileLines.size() - 3].endsWith(" DEBUG sent two\r"));
  EXPECT_TRUE(fileLines[fileLines.size() - 2].endsWith(" INFO from another thread\r"));
  EXPECT_EQ(log.Close(), "");
  EXPECT_EQ(LoadFileBytes(path), JoinCrLf(log.Lines()));
}

// The lines a batch holds when the process dies of a crash signal are in the
// file all the same, whole, in order and in CR LF form.
TEST(Logger, LinesHeldInABatchSurviveACrash) {
  for (const int sig : {SIGABRT, SIGSEGV}) {
    SCOPED_TRACE(sig);
    QTemporaryDir dir;
    const QString path = dir.filePath("prog.log");
    std::fflush(nullptr);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      // The sanitizers' reports of the crash are no news here.
      dup2(open("/dev/null", O_WRONLY), STDERR_FILENO);
      TLogger log;
      log.Open(path);
      TLogger::TBatch batch(log);
      log.Info("held one");
      log.WriteUtf8(TLogger::lvError, "held two");
      if (sig == SIGABRT)
        std::abort();
      // A real fault, at an address no sanitizer takes for a null pointer.
      *reinterpret_cast<volatile int *>(uintptr_t(64)) = 1;
      _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_FALSE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    const QList<QByteArray> lines = LoadFileBytes(path).split('\n');
    ASSERT_EQ(lines.size(), 4) << LoadFileBytes(path).constData();
    EXPECT_TRUE(lines[0].endsWith(" INFO Application started\r"));
    EXPECT_TRUE(lines[1].endsWith(" INFO held one\r"));
    EXPECT_TRUE(lines[2].endsWith(" ERROR held two\r"));
    EXPECT_EQ(lines[3], "");
  }
}
