#include "uLocker.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(LockFile, SecondHolderOfTheSameFileIsRefused) {
  QTemporaryDir dir;
  const QString path = dir.filePath("locker.txt");
  TLockFile first, second;
  ASSERT_TRUE(first.Take(path));
  QString reason;
  EXPECT_FALSE(second.Take(path, &reason));
  EXPECT_EQ(reason, "held by another copy");
  EXPECT_FALSE(second.IsHeld());

  first.Release();
  EXPECT_TRUE(second.Take(path));
}

TEST(LockFile, AnotherFolderHasItsOwnLock) {
  QTemporaryDir a, b;
  TLockFile first, second;
  ASSERT_TRUE(first.Take(a.filePath("locker.txt")));
  EXPECT_TRUE(second.Take(b.filePath("locker.txt")));
}

TEST(LockFile, DestroyedHolderReleasesTheLock) {
  QTemporaryDir dir;
  const QString path = dir.filePath("locker.txt");
  {
    TLockFile first;
    ASSERT_TRUE(first.Take(path));
  }
  TLockFile second;
  EXPECT_TRUE(second.Take(path));
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
}
