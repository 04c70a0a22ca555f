// Saving under faults through the save helper: a full disk (a small tmpfs
// mounted in a private mount namespace of a child process) and a process
// killed in the middle of a large save. Neither may leave a partial file or
// a temporary file, and a failed save names the path and the reason.
#include "uErrors.h"
#include "uFiles.h"

#include "../common/uErrorOf.h"
#include "../tools/uDevSimProcess.h"
#include "privateMounts.h"
#include "saveContent.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

QStringList Entries(const QString &Folder) {
  return QDir(Folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

// In a child: a mount namespace of its own (a user namespace too when not
// privileged), so that the tmpfs goes away with the child whatever happens.
// Returns "" or why mounting is not possible.
std::string MountSmallTmpfs(const QString &Where, const char *Size) {
  if (const std::string why = EnterPrivateMounts(); !why.empty())
    return why;
  const std::string opts = std::string("size=") + Size;
  if (::mount("tmpfs", QFile::encodeName(Where).constData(), "tmpfs", 0, opts.c_str()) != 0)
    return std::string("mount tmpfs: ") + std::strerror(errno);
  return std::string();
}

// Runs Body in a child with a small tmpfs at Where; the child's findings come
// back through a pipe, one per line. Exit 77: mounting is not permitted.
struct TChildResult {
  int Exit = -1;
  std::string Text;
};
template <class F> TChildResult InTmpfsChild(const QString &Where, const char *Size, F Body) {
  int fds[2];
  EXPECT_EQ(::pipe(fds), 0);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    const std::string why = MountSmallTmpfs(Where, Size);
    if (!why.empty()) {
      [[maybe_unused]] auto n = ::write(fds[1], why.data(), why.size());
      ::_exit(77);
    }
    const std::string out = Body();
    [[maybe_unused]] auto n = ::write(fds[1], out.data(), out.size());
    ::_exit(out.empty() ? 0 : 1);
  }
  ::close(fds[1]);
  TChildResult r;
  char buf[4096];
  for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;)
    r.Text.append(buf, size_t(n));
  ::close(fds[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  r.Exit = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return r;
}

} // namespace

// Round 0: a new content too large for the space left. Round 1: a disk
// filled to the last byte, and a content small enough to sit in the file's
// write buffer until the commit.
void FullDiskSave(int Round) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString mountPoint = dir.filePath("small");
  ASSERT_TRUE(QDir().mkpath(mountPoint));
  const TChildResult r = InTmpfsChild(mountPoint, "256k", [&]() -> std::string {
    std::string out;
    auto expect = [&](bool Cond, const std::string &What) {
      if (!Cond)
        out += What + "\n";
    };
    const QString path = mountPoint + "/settings.xml";
    const QByteArray old = SaveContent(7, 100 * 1024);
    const QString first = ErrorOf([&] { SaveFileBytes(path, old); });
    if (first != "no error")
      return "the first save failed: " + first.toStdString() + "\n";
    for (int round = 0; round <= Round; ++round) {
      const std::string tag = "round " + std::to_string(round) + ": ";
      if (round == 1) {
        // Unbuffered, down to single bytes, so that no block is left free.
        const int fd = ::open(QFile::encodeName(mountPoint + "/filler").constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        const char block[4096] = {};
        for (size_t chunk = sizeof block; chunk > 0; chunk /= 2)
          while (::write(fd, block, chunk) == ssize_t(chunk)) {
          }
        ::close(fd);
        struct statvfs vfs {};
        ::statvfs(QFile::encodeName(mountPoint).constData(), &vfs);
        expect(vfs.f_bavail == 0, "the filler left " + std::to_string(vfs.f_bavail) + " blocks free");
      }
      const QByteArray big = SaveContent(8, round == 0 ? 200 * 1024 : 8 * 1024);
      const QString text = ErrorOf([&] { SaveFileBytes(path, big); });
      const QString prefix = "Не удалось сохранить " + path + ": ";
      expect(text != "no error", tag + "the save on a full disk reported success");
      expect(text.startsWith(prefix) && text.size() > prefix.size(),
             tag + "no path or reason in " + text.toStdString());
      std::printf("full disk, round %d: \"%s\"\n", round, text.toStdString().c_str());
      std::fflush(stdout);
      QFile f(path);
      const QByteArray now = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
      expect(now == old, tag + "the old file changed (now " + std::to_string(now.size()) + " bytes, generation " +
                             std::to_string(SaveContentGeneration(now)) + ")");
      QStringList expected{"settings.xml"};
      if (round == 1)
        expected.prepend("filler");
      expect(Entries(mountPoint) == expected,
             tag + "left in the folder: " + Entries(mountPoint).join(' ').toStdString());
    }
    return out;
  });
  if (r.Exit == 77)
    GTEST_SKIP() << "mounting a tmpfs is not permitted here (" << r.Text << "): full-disk save not tested";
  EXPECT_EQ(r.Exit, 0) << r.Text;
  EXPECT_EQ(r.Text, "");
}

TEST(SaveUnderFaults, FullDiskFailsWithPathAndReasonAndKeepsTheOldFile) { FullDiskSave(0); }

// QSaveFile::commit() returns true when the flush of its own write buffer
// fails (ENOSPC) and replaces the old file by an empty one: content small
// enough to sit in that buffer must still fail the save.
TEST(SaveUnderFaults, FullDiskFailsEvenForContentThatFitsTheWriteBuffer) { FullDiskSave(1); }

TEST(SaveUnderFaults, KillDuringALargeSaveLeavesTheOldOrTheNewFileOnly) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString folder = dir.path();
  const QString path = folder + "/big.bin";
  const int size = 8 * 1024 * 1024;
  int midSave = 0;
  uint32_t lastSeen = 0;
  for (int kill = 0; kill < 10; ++kill) {
    TDevSimProcess saver;
    saver.Start(QStringLiteral(KV_BUILD_DIR "/bin/saveLoop"), {folder, QString::number(size)});
    // A generation saved whole by this run, so that the kill below falls into a later save.
    saver.WaitFor("saved ");
    // Kill while a file in the folder is open for writing: the save is under way.
    const QString fdDir = QStringLiteral("/proc/%1/fd").arg(saver.Pid());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    bool writing = false;
    while (!writing && std::chrono::steady_clock::now() < deadline) {
      for (const QFileInfo &fd : QDir(fdDir).entryInfoList(QDir::Files | QDir::System | QDir::NoDotAndDotDot)) {
        const QString target = fd.symLinkTarget();
        if (target.startsWith(folder + "/") && fd.isWritable()) {
          writing = true;
          break;
        }
      }
    }
    ASSERT_EQ(::kill(saver.Pid(), SIGKILL), 0);
    saver.Stop();
    midSave += writing;

    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const uint32_t gen = SaveContentGeneration(f.readAll());
    EXPECT_NE(gen, 0u) << "kill " << kill << ": the file is partial";
    lastSeen = gen;
    EXPECT_EQ(Entries(folder), QStringList{"big.bin"}) << "kill " << kill << ": a temporary file is left behind";
  }
  std::printf("kill during save: %d of 10 kills fell inside a save; last whole generation %u\n", midSave, lastSeen);
  EXPECT_GT(midSave, 0);
}
