// The command-line assembler: a developer tool, checked end to end.
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {
struct TRun {
  int ExitCode;
  QString Err;
};

TRun RunAsm(const QStringList &Args) {
  QProcess p;
  p.start(KV_BUILD_DIR "/tools/asm/kvasm", Args);
  EXPECT_TRUE(p.waitForFinished(30000));
  return {p.exitCode(), QString::fromLocal8Bit(p.readAllStandardError())};
}
} // namespace

TEST(Kvasm, AssemblesSourceIntoFolder) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  QFile f(dir.filePath("prog.asm"));
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(";;a\nhere: rjmp here\n");
  f.close();
  const TRun r = RunAsm({"-a", "8", "-o", dir.path(), dir.filePath("prog.asm")});
  EXPECT_EQ(r.ExitCode, 0) << r.Err.toStdString();
  QFile bin(dir.filePath("generated.bin"));
  ASSERT_TRUE(bin.open(QIODevice::ReadOnly));
  EXPECT_EQ(bin.readAll(), QByteArray("\xFF\xCF\xFF\xFF\xFF\xFF\xFF\xFF", 8));
  EXPECT_TRUE(QFile::exists(dir.filePath("generated.lst")));
}

TEST(Kvasm, ReportsFailuresByExitCode) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  QFile f(dir.filePath("bad.asm"));
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(";;a\nnop\n");
  f.close();
  TRun r = RunAsm({dir.filePath("bad.asm")});
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_TRUE(r.Err.contains("unknown oper nop, line 2")) << r.Err.toStdString();
  EXPECT_EQ(RunAsm({"-a", "0", dir.filePath("bad.asm")}).ExitCode, 1);
  EXPECT_EQ(RunAsm({}).ExitCode, 2);
  EXPECT_EQ(RunAsm({"-a", "x", "a.asm"}).ExitCode, 2);
}

TEST(Kvasm, ShowsTheLogsWarnings) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  QFile f(dir.filePath("cut.asm"));
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(";;a\nldi 16, 300\n");
  f.close();
  const TRun r = RunAsm({dir.filePath("cut.asm")});
  EXPECT_EQ(r.ExitCode, 0);
  EXPECT_TRUE(r.Err.contains("warning: operand 300 does not fit its 8-bit field: ldi 16, 300")) << r.Err.toStdString();
}
