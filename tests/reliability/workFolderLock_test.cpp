// One owner per work folder, across processes: while another process holds
// "locker.txt" the program shows "файл занят: locker.txt" through the message
// sink and ends its start-up; once the holder is killed with SIGKILL (no
// chance to clean up) the next start takes the folder.
#include "uAppIniFile.h"
#include "uFiles.h"
#include "uLocker.h"
#include "uLogger.h"
#include "uMainForm.h"
#include "uMessageSink.h"
#include "uMultiLingual.h"
#include "uPlacement.h"
#include "uTextCodec.h"

#include "../tools/uDevSimProcess.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>

TEST(WorkFolderLock, HeldByAnotherProcessStopsTheStartUntilTheHolderIsKilled) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString oldCurrent = QDir::currentPath();
  RegUseStoreFile(dir.filePath("user.conf"));
  MultiLingual() = TMultiLingual();
  MultiLingual().Load(QString(KV_SOURCE_DIR) + "/src/resources");
  std::vector<QString> shown;
  const TMessageSink oldSink = SetMessageSink([&](TMsgKind, const QString &Text) {
    shown.push_back(Text);
    return TMsgResult::Ok;
  });
  const QString iniPath = dir.filePath("kv.ini");
  SaveFileBytes(iniPath, ToWin1251("[setup]\ntemp=work\n"));
  TAppIniFile ini(iniPath);
  const QString work = dir.filePath("work");
  ASSERT_TRUE(QDir().mkpath(work));

  TDevSimProcess holder;
  holder.Start(QStringLiteral(KV_BUILD_DIR "/bin/lockHolder"), {work});
  ASSERT_EQ(holder.WaitLine(), "held");
  // The log of the program folder is the holder's too: it gains the refusal
  // line and nothing else, and it is neither kept aside as an earlier run's
  // nor replaced.
  const QString log = dir.filePath("kv.log");
  SaveFileBytes(log, "the holder's line\r\n");
  {
    TMainForm second(ini, dir.path() + "/");
    second.SetLogFile(log);
    EXPECT_FALSE(second.FormShow());
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], "файл занят: locker.txt");
    Logger().Close();
  }
  const QByteArray logged = LoadFileBytes(log);
  const QList<QByteArray> lines = logged.split('\n');
  ASSERT_EQ(lines.size(), 3) << logged.constData();
  EXPECT_EQ(lines[0], "the holder's line\r");
  EXPECT_TRUE(QRegularExpression(R"(^\d\d\.\d\d\.\d\d\.\d{3} ERROR файл занят: locker\.txt \(.*/work/locker\.txt: )"
                                 R"(held by another copy\)\r$)")
                  .match(QString::fromUtf8(lines[1]))
                  .hasMatch())
      << logged.constData();
  EXPECT_FALSE(QFileInfo::exists(log + ".1"));
  ASSERT_EQ(::kill(holder.Pid(), SIGKILL), 0);
  holder.Stop();
  {
    TMainForm next(ini, dir.path() + "/");
    EXPECT_TRUE(next.FormShow());
    EXPECT_EQ(shown.size(), 1u);
    TLockFile probe;
    EXPECT_FALSE(probe.Take(work + "/locker.txt"));
    EXPECT_TRUE(next.close());
  }
  SetMessageSink(oldSink);
  QDir::setCurrent(oldCurrent);
}
