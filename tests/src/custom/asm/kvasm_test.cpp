// The command-line assembler: a developer tool, checked end to end.
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {
struct TRun {
  int ExitCode;
  QString Err, Out;
};

TRun RunAsm(const QStringList &Args) {
  QProcess p;
  p.start(KV_BUILD_DIR "/tools/asm/kvasm", Args);
  EXPECT_TRUE(p.waitForFinished(30000));
  return {p.exitCode(), QString::fromLocal8Bit(p.readAllStandardError()),
          QString::fromLocal8Bit(p.readAllStandardOutput())};
}
} // namespace

TEST(Kvasm, AssemblesAndReportsByExitCode) {
  QTemporaryDir dir;
  const struct {
    const char *Source;
    QStringList Options;
    int ExitCode;
    const char *Err;
  } cases[] = {
      {";;a\nldi 16, 300\n", {}, 0, "warning: operand 300 does not fit its 8-bit field: ldi 16, 300"},
      {";;a\nnop\n", {}, 1, "unknown oper nop, line 2"},
      {";;a\nret\n", {"-a", "0"}, 1, ""},
      {";;a\nret\n", {"-a", "x"}, 2, ""},
      {";;a\nhere: rjmp here\n", {"-a", "8", "-o", dir.path()}, 0, ""}, // the last: its code stays
  };
  for (const auto &c : cases) {
    QFile f(dir.filePath("prog.asm"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(c.Source);
    f.close();
    const TRun r = RunAsm(c.Options + QStringList{f.fileName()});
    EXPECT_EQ(r.ExitCode, c.ExitCode) << c.Source;
    EXPECT_TRUE(r.Err.contains(c.Err)) << r.Err.toStdString();
  }
  EXPECT_EQ(RunAsm({}).ExitCode, 2);
  // Asked for, the help is the answer: on standard output, with success.
  for (const char *option : {"--help", "-h"}) {
    const TRun help = RunAsm({option});
    EXPECT_EQ(help.ExitCode, 0) << option;
    EXPECT_TRUE(help.Out.startsWith("usage: kvasm [-a ALIGNMENT] [-o FOLDER] FILE.asm\n")) << help.Out.toStdString();
    EXPECT_EQ(help.Err, "") << option;
  }
  QFile bin(dir.filePath("generated.bin"));
  ASSERT_TRUE(bin.open(QIODevice::ReadOnly));
  EXPECT_EQ(bin.readAll(), QByteArray("\xFF\xCF\xFF\xFF\xFF\xFF\xFF\xFF", 8));
  EXPECT_TRUE(QFile::exists(dir.filePath("generated.lst")));
}
