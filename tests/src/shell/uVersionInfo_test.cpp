#include "uVersionInfo.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(VersionInfo, BuildTimeIsTheStampNotTheProgramFileTime) {
  EXPECT_FALSE(GetBuildTime().isValid()); // no stamp handed over yet
  // A program copied elsewhere gets a new file time; the stamp stays.
  QTemporaryDir dir;
  const QString path = dir.filePath("kv");
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  const QDateTime stamp(QDate(2024, 2, 29), QTime(23, 59, 58));
  ASSERT_TRUE(f.setFileTime(stamp.addDays(3), QFileDevice::FileModificationTime));
  f.close();
  SetBuildTime(stamp);
  EXPECT_EQ(GetBuildTime(), stamp);
  SetBuildTime({});
}
