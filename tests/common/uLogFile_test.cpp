#include "uLogFile.h"

#include "uFiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <climits>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
QByteArray Line(const QByteArray &Text) { return Text + "\n"; }

// What the sink is told while a test runs.
struct TToldFailures {
  QStringList Texts;
  TToldFailures() {
    SetLogFailureSink([this](const QString &Text) { Texts << Text; });
  }
  ~TToldFailures() { SetLogFailureSink(nullptr); }
};

// Numbered lines written past the bound: kv.log and three earlier generations of 200 bytes.
class LogGenerations : public ::testing::Test {
protected:
  void SetUp() override {
    SaveFileBytes(Path + ".1", "an older run\n");
    SaveFileBytes(Path, "the previous run\n");
    ASSERT_EQ(File.Open(Path, true, {200, 3}), "");
    EXPECT_EQ(LoadFileBytes(Path + ".1"), "the previous run\n");
    EXPECT_EQ(LoadFileBytes(Path + ".2"), "an older run\n");
  }
  // Each line is 9 bytes: "line NNN\n"; Flush after every few, as the owners do.
  void Write(int From, int To) {
    for (int i = From; i < To; ++i) {
      File.Append(Line("line " + QByteArray::number(i).rightJustified(3, '0')));
      if (i % 7 == 0)
        File.Flush();
    }
    File.Flush();
  }
  QByteArray Generation(int N) const { return LoadFileBytes(N == 0 ? Path : Path + "." + QByteArray::number(N)); }

  QTemporaryDir Dir;
  const QString Path = Dir.filePath("kv.log");
  TLogFile File{[](const QByteArray &Text) { return Line("*** " + Text); }};
};
} // namespace

TEST_F(LogGenerations, RunPastTheBoundKeepsTheLatestLinesInOrderAndRewritesNone) {
  Write(0, 100);
  const QStringList kept = QDir(Dir.path()).entryList(QDir::Files, QDir::Name);
  EXPECT_EQ(kept, (QStringList{"kv.log", "kv.log.1", "kv.log.2", "kv.log.3"})) << "the oldest beyond 3 removed";
  QList<QByteArray> before;
  for (int n = 0; n <= 3; ++n)
    before << Generation(n);

  // One more generation: each earlier file moves up whole, the last is removed.
  Write(100, 100 + (200 - before[0].size()) / 9 + 1);
  for (int n = 1; n <= 3; ++n)
    EXPECT_EQ(Generation(n), before[n - 1]) << n;

  // Oldest to newest, every line of the run from the first kept one on, in
  // order; each generation but the first of the run begins with the session.
  const QRegularExpression continued(R"(^\*\*\* continues the session of process \d+ started )"
                                     R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d, part (\d+)$)");
  QList<QByteArray> lines;
  int part = 0;
  for (int n = 3; n >= 0; --n) {
    const QByteArray g = Generation(n);
    EXPECT_LE(g.size(), 200) << n;
    QList<QByteArray> own = g.split('\n');
    own.removeLast();
    const auto m = continued.match(QString::fromLatin1(own.first()));
    ASSERT_TRUE(m.hasMatch()) << own.first().constData();
    if (part) {
      EXPECT_EQ(m.captured(1).toInt(), part + 1);
    }
    part = m.captured(1).toInt();
    lines += own.mid(1);
  }
  const int first = lines.first().mid(5).toInt();
  EXPECT_GT(first, 0);
  for (int i = 0; i < lines.size(); ++i)
    ASSERT_EQ(lines[i], "line " + QByteArray::number(first + i).rightJustified(3, '0'));
  EXPECT_EQ(File.Close(), "");
}

TEST_F(LogGenerations, AGenerationThatCannotBeginIsToldAndTheLinesGoOn) {
  TToldFailures told;
  ASSERT_TRUE(QDir(Dir.path()).mkdir("kv.log.3"));
  Write(0, 40);
  const QString why = "Не удалось записать " + Dir.filePath("kv.log.3") + ": Is a directory";
  EXPECT_EQ(told.Texts, QStringList{why}) << "told once";
  EXPECT_TRUE(Generation(0).endsWith("line 039\n"));
  EXPECT_EQ(File.Close(), why);
}

// A folder where no file can be made while renames still work (out of inodes;
// a descriptor limit stands in): the log stays under its name and grows on,
// no line goes into a file taken from the folder, and each cause is told once.
TEST_F(LogGenerations, AGenerationThatCannotBeMadeLeavesTheLogUnderItsName) {
  TToldFailures told;
  Write(0, 15);
  rlimit old;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &old), 0);
  const int lowestFree = dup(0);
  close(lowestFree);
  rlimit none = old;
  none.rlim_cur = rlim_t(lowestFree);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &none), 0);
  Write(15, 80); // three generations' worth
  setrlimit(RLIMIT_NOFILE, &old);

  // Every descriptor open on the folder is the log's own name, present.
  QDir fds("/proc/self/fd");
  int onFolder = 0;
  for (const QString &fd : fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
    const QString target = QFile::symLinkTarget(fds.filePath(fd));
    if (target.startsWith(Dir.path())) {
      EXPECT_EQ(target.toStdString(), Path.toStdString());
      ++onFolder;
    }
  }
  EXPECT_EQ(onFolder, 1);
  QByteArray kept;
  for (const QString &name : QDir(Dir.path()).entryList(QDir::Files))
    kept += LoadFileBytes(Dir.filePath(name));
  for (int i = 0; i < 80; ++i)
    ASSERT_TRUE(kept.contains("line " + QByteArray::number(i).rightJustified(3, '0'))) << i;
  // The file that could not be made is named, not the log written on.
  const QString noFile = "Не удалось записать " + Path + ".new: Too many open files";
  EXPECT_EQ(told.Texts, QStringList{noFile});

  // Another cause is told as the first was.
  ASSERT_TRUE(QDir(Dir.path()).mkdir("kv.log.3"));
  Write(80, 110);
  EXPECT_EQ(told.Texts, (QStringList{noFile, "Не удалось записать " + Dir.filePath("kv.log.3") + ": Is a directory"}));
  EXPECT_EQ(File.Close(), noFile);
}

// A file moved away from the log's name while written (by hand, or a rename
// back that failed) is left where it is: a new file takes the name.
TEST_F(LogGenerations, AFileMovedAwayIsFollowedUnderTheNameNeverShifted) {
  Write(0, 10);
  ASSERT_TRUE(QFile::rename(Path, Path + ".3"));
  Write(10, 30);
  // Written on until the name is next checked (at a flush, at most once a
  // second) or until the bound, whichever comes first; every line once, in order.
  QList<QByteArray> lines = (Generation(3) + Generation(0)).split('\n');
  lines.removeLast();
  lines.removeIf([](const QByteArray &L) { return L.startsWith("*** continues"); });
  ASSERT_EQ(lines.size(), 30);
  for (int i = 0; i < 30; ++i)
    EXPECT_EQ(lines[i], "line " + QByteArray::number(i).rightJustified(3, '0'));
  EXPECT_TRUE(Generation(0).startsWith("*** continues the session"));
  EXPECT_EQ(Generation(1), "the previous run\n");
  EXPECT_EQ(File.Close(), "");
}

namespace {
// Descriptors of this process open on a file that is no longer in its folder.
QStringList DeletedFilesHeld(const QString &Folder) {
  QStringList held;
  QDir fds("/proc/self/fd");
  for (const QString &fd : fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
    const QString target = QFile::symLinkTarget(fds.filePath(fd));
    if (target.startsWith(Folder) && target.endsWith(" (deleted)"))
      held << target;
  }
  return held;
}
} // namespace

// A log removed or moved away by hand well within a generation: a flush a
// second later at most makes it anew under its name, and the process holds
// no removed file open.
TEST(LogFile, ALogTakenAwayByHandIsMadeAnewAtAFlush) {
  const struct {
    const char *Case;
    const char *MovedTo; // nullptr: removed
  } rows[] = {{"removed", nullptr}, {"moved away", "kv.trc.old"}};
  for (const auto &r : rows) {
    SCOPED_TRACE(r.Case);
    QTemporaryDir dir;
    const QString path = dir.filePath("kv.trc");
    TLogFile file([](const QByteArray &Text) { return "*** " + Text + "\n"; });
    ASSERT_EQ(file.Open(path, true, {TLogBound::MB, 3}), "");
    file.Append(Line("before"));
    file.Flush();
    if (r.MovedTo)
      ASSERT_TRUE(QFile::rename(path, dir.filePath(r.MovedTo)));
    else
      ASSERT_TRUE(QFile::remove(path));
    QElapsedTimer waited;
    waited.start();
    int n = 0;
    while (!QFileInfo::exists(path) && waited.elapsed() < 30000) {
      file.Append(Line("after " + QByteArray::number(n++)));
      file.Flush();
      QThread::msleep(20);
    }
    ASSERT_TRUE(QFileInfo::exists(path));
    file.Append(Line("last"));
    file.Flush();
    EXPECT_EQ(DeletedFilesHeld(dir.path()), QStringList());
    const QByteArray fresh = LoadFileBytes(path);
    EXPECT_TRUE(fresh.startsWith("*** continues the session")) << fresh.constData();
    EXPECT_TRUE(fresh.endsWith("last\n"));
    if (r.MovedTo) {
      const QByteArray moved = LoadFileBytes(dir.filePath(r.MovedTo));
      EXPECT_TRUE(moved.startsWith("before\n"));
      EXPECT_FALSE(moved.contains("last"));
      EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files, QDir::Name), (QStringList{"kv.trc", r.MovedTo}));
    }
    EXPECT_EQ(file.Close(), "");
  }
}

// Only the generations there are moved, whatever count is asked: the count is
// taken within its bound, and a name the shift never makes is left alone.
TEST(LogFile, ShiftTouchesOnlyTheGenerationsThereWithinTheBound) {
  QTemporaryDir dir;
  const QString path = dir.filePath("kv.log");
  for (const char *n : {"", ".1", ".5", ".998", ".999", ".1000", ".007", ".new1"})
    SaveFileBytes(path + n, n);
  EXPECT_EQ(ShiftLogGenerations(path, INT_MAX), "");
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files, QDir::Name),
            (QStringList{"kv.log.007", "kv.log.1", "kv.log.2", "kv.log.6", "kv.log.999", "kv.log.new1"}));
  EXPECT_EQ(LoadFileBytes(path + ".999"), ".998");
  SetLogBound({int64_t(1) << 40, INT_MAX});
  EXPECT_EQ(LogBound().Generations, 999);
  EXPECT_EQ(LogBound().GenerationBytes, 1024 * TLogBound::MB);
  SetLogBound({});
}

// A log that cannot be opened (its name taken by a folder) or that refuses
// its lines (a full disk): told once, with the file and the reason; the
// writer goes on and Close reports the same.
TEST(LogFile, FailureIsToldOnceAndReportedAtClose) {
  QTemporaryDir dir;
  ASSERT_TRUE(QDir(dir.path()).mkdir("kv.log"));
  const struct {
    QString Path, Reason;
  } rows[] = {{dir.filePath("kv.log"), "Is a directory"}, {"/dev/full", "No space left on device"}};
  for (const auto &r : rows) {
    SCOPED_TRACE(r.Path.toStdString());
    TToldFailures told;
    TLogFile file([](const QByteArray &Text) { return Text; });
    const QString why = "Не удалось записать " + r.Path + ": " + r.Reason;
    const QString opened = file.Open(r.Path, true);
    for (int i = 0; i < 3; ++i) {
      file.Append(Line("refused"));
      file.Flush();
    }
    EXPECT_EQ(told.Texts, QStringList{why});
    EXPECT_EQ(file.Close(), why);
    EXPECT_EQ(opened.isEmpty(), r.Path == "/dev/full");
  }
  EXPECT_TRUE(QFileInfo::exists("/dev/full")) << "a device never passes to a generation";
}

TEST(LogFile, WaitingLinesSurviveACrash) {
  QTemporaryDir dir;
  const QString path = dir.filePath("debug.log");
  std::fflush(nullptr);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    dup2(open("/dev/null", O_WRONLY), STDERR_FILENO);
    TLogFile file([](const QByteArray &Text) { return Text; });
    file.Open(path, true);
    file.Append(Line("waiting one"));
    file.Append(Line("waiting two"));
    std::abort();
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(LoadFileBytes(path), "waiting one\nwaiting two\n");
}
