#include "uLocker.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(LockFile, SecondHolderOfTheSameFileIsRefusedUntilTheFirstLetsGo) {
  QTemporaryDir dir, other;
  const QString path = dir.filePath("locker.txt");
  TLockFile first, second;
  ASSERT_TRUE(first.Take(path));
  QString reason;
  EXPECT_FALSE(second.Take(path, &reason));
  EXPECT_EQ(reason, "held by another copy");
  EXPECT_FALSE(second.IsHeld());
  EXPECT_TRUE(TLockFile().Take(other.filePath("locker.txt"))) << "another folder has its own lock";

  first.Release();
  EXPECT_TRUE(second.Take(path));
  second.Release();
  {
    TLockFile destroyed;
    ASSERT_TRUE(destroyed.Take(path));
  }
  EXPECT_TRUE(first.Take(path)) << "a destroyed holder releases the lock";
}

TEST(LockFile, KeepsTheContentOfAnExistingFile) {
  QTemporaryDir dir;
  const QString path = dir.filePath("locker.txt");
  {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("previous");
  }
  TLockFile lock;
  ASSERT_TRUE(lock.Take(path));
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll(), QByteArray("previous"));
}

TEST(LockFile, MissingFolderIsRefusedWithTheReason) {
  QTemporaryDir dir;
  TLockFile lock;
  QString reason;
  EXPECT_FALSE(lock.Take(dir.filePath("no/such/folder/locker.txt"), &reason));
  EXPECT_EQ(reason, "No such file or directory");
  EXPECT_FALSE(lock.HeldElsewhere()) << "the folder's fault, not another copy's";
  TLockFile holder;
  ASSERT_TRUE(holder.Take(dir.filePath("locker.txt")));
  EXPECT_FALSE(lock.Take(dir.filePath("locker.txt"), &reason));
  EXPECT_TRUE(lock.HeldElsewhere());
}

// Read-only and full folders need a mount of their own: the folder fault tests.
TEST(FolderProblem, NamesTheSystemsReasonAndLeavesNoProbeBehind) {
  QTemporaryDir dir;
  QFile file(dir.filePath("plain"));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.close();
  const struct {
    QString Folder;
    const char *Reason;
  } cases[] = {{dir.path(), ""}, {dir.filePath("none"), "No such file or directory"}, {dir.filePath("plain"), "Not a directory"}};
  for (const auto &c : cases)
    EXPECT_EQ(FolderProblem(c.Folder), c.Reason) << c.Folder.toStdString();
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{"plain"});
}
