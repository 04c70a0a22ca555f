#include "uVersionInfo.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(VersionInfo, BuildTimeIsTheProgramFileTime) {
  QTemporaryDir dir;
  const QString path = dir.filePath("kv");
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  const QDateTime stamp(QDate(2024, 2, 29), QTime(23, 59, 58));
  ASSERT_TRUE(f.setFileTime(stamp, QFileDevice::FileModificationTime));
  f.close();
  EXPECT_EQ(GetBuildTime(path), stamp);
  EXPECT_FALSE(GetBuildTime(dir.filePath("missing")).isValid());
}
