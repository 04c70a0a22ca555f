#include "uFiles.h"

#include "uErrorOf.h"
#include "uErrors.h"
#include "uSyncLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

QByteArray Read(const QString &Path) {
  QFile f(Path);
  if (!f.open(QIODevice::ReadOnly))
    return "<missing>";
  return f.readAll();
}

void Write(const QString &Path, const QByteArray &Bytes) {
  QFile f(Path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(Bytes);
}

QString SaveError(const QString &Path, const QByteArray &Bytes) {
  return ErrorOf([&] { SaveFileBytes(Path, Bytes); });
}

} // namespace

TEST(Files, SaveReplacesTheWholeContent) {
  QTemporaryDir dir;
  const QString path = dir.filePath("a.bin");
  SaveFileBytes(path, QByteArray("first version, longer"));
  SaveFileBytes(path, QByteArray("\x00\x01short", 7));
  EXPECT_EQ(Read(path), QByteArray("\x00\x01short", 7));
  SaveFileBytes(path, QByteArray());
  EXPECT_EQ(Read(path), QByteArray());
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"a.bin"});
}

TEST(Files, FailedSaveNamesPathAndReasonAndKeepsOldFile) {
  QTemporaryDir dir;
  // A folder path that runs through a plain file cannot hold anything.
  Write(dir.filePath("plain"), "x");
  const QString under = dir.filePath("plain/a.xml");
  EXPECT_TRUE(SaveError(under, "data").startsWith("Не удалось сохранить " + under + ": ")) << SaveError(under, "data").toStdString();

  // A file without write permission is kept as it is (even for root).
  const QString ro = dir.filePath("ro.log");
  Write(ro, "old content");
  QFile::setPermissions(ro, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
  EXPECT_EQ(SaveError(ro, "new"), "Не удалось сохранить " + ro + ": Permission denied");
  EXPECT_EQ(Read(ro), QByteArray("old content"));

  EXPECT_EQ(SaveError("", "x"), "file name is empty");
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), (QStringList{"plain", "ro.log"}));
}

// The folder's permissions stop an ordinary user only, so the save runs in a
// child process that has given up root where the test runs as root.
TEST(Files, SaveIntoReadOnlyFolderFailsAndLeavesNoTemporaryFile) {
  QTemporaryDir dir;
  QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup |
                                        QFile::ReadOther | QFile::ExeOther);
  const QString path = dir.filePath("DeviceDescriptor.xml");
  // Made before the folder lost its write permission bit for everyone but root.
  Write(path, "<old/>");
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    close(fds[0]);
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
      _exit(2);
    const QByteArray text = SaveError(path, "<new/>").toUtf8();
    [[maybe_unused]] ssize_t n = write(fds[1], text.constData(), size_t(text.size()));
    _exit(0);
  }
  close(fds[1]);
  QByteArray text;
  char buf[512];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0)
    text.append(buf, n);
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_TRUE(text.startsWith(("Не удалось сохранить " + path + ": ").toUtf8())) << text.toStdString();
  EXPECT_EQ(Read(path), QByteArray("<old/>"));
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"DeviceDescriptor.xml"});
  QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

TEST(Files, LoadReportsMissingFile) {
  QTemporaryDir dir;
  const QString path = dir.filePath("none.bin");
  const QString error = ErrorOf([&] { LoadFileBytes(path); });
  EXPECT_TRUE(error.startsWith("cannot open " + path + ": ")) << error.toStdString();
}

TEST(Files, ResolvesNamesWithoutRegardToCase) {
  QTemporaryDir dir;
  QDir(dir.path()).mkpath("Osc/Sub");
  Write(dir.filePath("SchemaCode.xml"), "1");
  Write(dir.filePath("Osc/Sub/A.CFG"), "2");
  Write(dir.filePath("exact.txt"), "3");
  Write(dir.filePath("EXACT.txt"), "4");
  const struct {
    const char *Name, *Expect;
  } cases[] = {
      {"schemacode.xml", "SchemaCode.xml"},
      {"SCHEMACODE.XML", "SchemaCode.xml"},
      {"osc/sub/a.cfg", "Osc/Sub/A.CFG"},
      {"osc/new.cfg", "Osc/new.cfg"},      // a new file in an existing folder
      {"missing/x.y", "missing/x.y"},       // nothing to match: kept as given
      {"EXACT.txt", "EXACT.txt"},           // an exact match wins
      {"Exact.TXT", "EXACT.txt"},           // else the first in sorted order
  };
  for (const auto &c : cases)
    EXPECT_EQ(ResolveFileNameCI(dir.path(), c.Name), QDir(dir.path()).filePath(c.Expect)) << c.Name;
}

TEST(Files, FileSetIsSavedWholeOrNotAtAll) {
  const struct {
    const char *Name;
    std::function<void(const QString &Dir)> Spoil;
    QString Dat; // relative to the folder
    const char *Reason;
  } cases[] = {
      {"a new pair", {}, "a.dat", nullptr},
      {"a pair replaced", [](const QString &D) { Write(D + "/a.cfg", "old cfg"), Write(D + "/a.dat", "old dat"); },
       "a.dat", nullptr},
      {"a read-only data file",
       [](const QString &D) {
         Write(D + "/a.cfg", "old cfg"), Write(D + "/a.dat", "old dat");
         QFile::setPermissions(D + "/a.dat", QFile::ReadOwner);
       },
       "a.dat", "Permission denied"},
      {"a folder where the data file goes",
       [](const QString &D) { Write(D + "/a.cfg", "old cfg"), QDir(D).mkdir("a.dat"); }, "a.dat", ""},
      {"a data file in a missing folder", [](const QString &D) { Write(D + "/a.cfg", "old cfg"); }, "no/a.dat",
       "No such file or directory"},
  };
  for (const auto &c : cases) {
    QTemporaryDir dir;
    if (c.Spoil)
      c.Spoil(dir.path());
    const QStringList before = QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    const QByteArray oldCfg = Read(dir.filePath("a.cfg"));
    const QString dat = dir.filePath(c.Dat);
    const QString error = ErrorOf([&] { SaveFileSet({{dir.filePath("a.cfg"), "new cfg"}, {dat, "new dat"}}); });
    const QStringList after = QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    if (!c.Reason) {
      EXPECT_EQ(error, "no error") << c.Name;
      EXPECT_EQ(Read(dir.filePath("a.cfg")), "new cfg") << c.Name;
      EXPECT_EQ(Read(dat), "new dat") << c.Name;
      EXPECT_EQ(after, (QStringList{"a.cfg", "a.dat"})) << c.Name;
      continue;
    }
    EXPECT_TRUE(error.startsWith("Не удалось сохранить " + dat + ": " + c.Reason)) << c.Name << ": " << error.toStdString();
    EXPECT_EQ(Read(dir.filePath("a.cfg")), oldCfg) << c.Name;
    EXPECT_EQ(after, before) << c.Name << ": " << after.join(' ').toStdString();
  }
}

// The data reach the disk before the rename and the folder entry after it:
// one sync each, never an empty file synced first or a folder twice.
TEST(Files, EachSaveSyncsEveryFileOnceAndEachFolderOnce) {
  QTemporaryDir dir;
  QDir(dir.path()).mkdir("sub");
  const QString top = QFileInfo(dir.path()).canonicalFilePath(), sub = top + "/sub";
  Write(top + "/b.lst", "old listing");
  const struct {
    const char *Name;
    std::vector<std::pair<QString, QByteArray>> Files;
    QStringList Synced;
  } cases[] = {
      {"one new file", {{top + "/a.bin", "code"}}, {"file", "folder " + top}},
      {"one file replaced", {{top + "/a.bin", "more code"}}, {"file", "folder " + top}},
      {"an empty file", {{top + "/a.bin", ""}}, {"file", "folder " + top}},
      {"two files in one folder", {{top + "/a.bin", "code"}, {top + "/b.lst", "listing"}},
       {"file", "file", "folder " + top}},
      {"two folders", {{top + "/a.cfg", "cfg"}, {sub + "/a.dat", "dat"}, {top + "/a.xml", "xml"}},
       {"file", "file", "file", "folder " + top, "folder " + sub}},
  };
  for (const auto &c : cases) {
    TSyncLog log;
    ASSERT_EQ(ErrorOf([&] { SaveFileSet(c.Files); }), "no error") << c.Name;
    EXPECT_EQ(log.Synced(), c.Synced) << c.Name;
    for (const auto &[path, bytes] : c.Files)
      EXPECT_EQ(Read(path), bytes) << c.Name << ": " << path.toStdString();
  }
  TSyncLog log;
  SaveFileBytes(top + "/a.bin", "again");
  EXPECT_EQ(log.Synced(), (QStringList{"file", "folder " + top}));
  EXPECT_EQ(QDir(top).entryList(QDir::Files | QDir::Hidden),
            (QStringList{"a.bin", "a.cfg", "a.xml", "b.lst"}));
}

// A work-folder file may be a link to a shared one: saving keeps the link
// and replaces the file it leads to, whose folder is the one synced.
TEST(Files, SaveThroughASymbolicLinkReplacesTheFileItLeadsTo) {
  QTemporaryDir dir;
  QDir(dir.path()).mkdir("shared");
  const QString top = QFileInfo(dir.path()).canonicalFilePath();
  Write(top + "/shared/config.xml", "old");
  ASSERT_TRUE(QFile::link(top + "/shared/config.xml", top + "/config.xml"));
  TSyncLog log;
  SaveFileBytes(top + "/config.xml", "new");
  EXPECT_TRUE(QFileInfo(top + "/config.xml").isSymLink());
  EXPECT_EQ(Read(top + "/shared/config.xml"), "new");
  EXPECT_EQ(log.Synced(), (QStringList{"file", "folder " + top + "/shared"}));
  EXPECT_EQ(QDir(top + "/shared").entryList(QDir::Files | QDir::Hidden), QStringList{"config.xml"});
}

TEST(Files, PreviousGenerationReplacesTheOlderOne) {
  QTemporaryDir dir;
  const QString log = dir.filePath("kv.log");
  EXPECT_EQ(KeepPreviousGeneration(log), "") << "no file, nothing kept";
  EXPECT_EQ(KeepPreviousGeneration(""), "");
  Write(log + ".1", "older");
  Write(log, "previous");
  EXPECT_EQ(KeepPreviousGeneration(log), "");
  EXPECT_EQ(Read(log + ".1"), "previous");
  EXPECT_FALSE(QFile::exists(log));
  QDir(dir.path()).mkdir("busy.log.1");
  Write(dir.filePath("busy.log"), "x");
  EXPECT_TRUE(KeepPreviousGeneration(dir.filePath("busy.log")).startsWith("cannot keep " + dir.filePath("busy.log")));
}

// A file that fails alike at every poll is news once; again only after it
// has been saved meanwhile, or when it fails for another reason.
TEST(Files, ASaveFailureIsNewsOnceUntilItsFileIsSavedOrFailsOtherwise) {
  QTemporaryDir dir;
  const QString ring = dir.filePath("ring.bin"), other = dir.filePath("other.bin");
  Write(ring, "old");
  Write(other, "old");
  const QFileDevice::Permissions readOnly = QFileDevice::ReadOwner, writable = readOnly | QFileDevice::WriteOwner;
  const auto protect = [&](const QString &Path, bool On) { return QFile::setPermissions(Path, On ? readOnly : writable); };
  const struct {
    const char *Step;
    std::function<bool()> Before;
    QString Path;
    bool Fails, News;
  } steps[] = {
      {"read-only", [&] { return protect(ring, true); }, ring, true, true},
      {"the same again", [] { return true; }, ring, true, false},
      {"and again", [] { return true; }, ring, true, false},
      {"another file", [&] { return protect(other, true); }, other, true, true},
      {"writable, saved", [&] { return protect(ring, false); }, ring, false, false},
      {"read-only after the save", [&] { return protect(ring, true); }, ring, true, true},
      {"a folder in its place",
       [&] { return QFile::remove(ring) && QDir().mkpath(QDir(ring).filePath("x")); }, ring, true, true},
      {"the folder again", [] { return true; }, ring, true, false},
  };
  for (const auto &s : steps) {
    SCOPED_TRACE(s.Step);
    ASSERT_TRUE(s.Before());
    const QString error = SaveError(s.Path, "new");
    ASSERT_EQ(error != "no error", s.Fails) << error.toStdString();
    if (s.Fails)
      EXPECT_EQ(IsNewSaveFailure(error), s.News) << error.toStdString();
  }
  EXPECT_TRUE(IsNewSaveFailure("cannot open " + ring));
  EXPECT_TRUE(IsNewSaveFailure("cannot open " + ring));
  protect(other, false);
}
