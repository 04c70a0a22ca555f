// Replays the inputs a fuzz target once failed on (kept in fuzz/regress/NAME/)
// through the target's own entry point, in the normal sanitizer build: each
// must pass the target's checks, which abort on a broken invariant. Every
// target keeps a few seeds from its seed writer there, so none goes untried.
// One object serves every target: the executable's name, fuzz_regress_NAME,
// says which.
#include <QDir>
#include <QFile>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <gtest/gtest.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size);

namespace {
QString TargetName() {
  return QString::fromLocal8Bit(program_invocation_short_name).remove(QStringLiteral("fuzz_regress_"));
}
} // namespace

TEST(FuzzRegress, KeptInputsPassTheTargetsChecks) {
  const QString target = TargetName();
  const QDir dir(QStringLiteral(KV_SOURCE_DIR "/fuzz/regress/") + target);
  const QStringList names = dir.entryList(QDir::Files | QDir::Hidden, QDir::Name);
  int replayed = 0;
  for (const QString &name : names) {
    QFile f(dir.filePath(name));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << name.toStdString();
    const QByteArray bytes = f.readAll();
    SCOPED_TRACE(name.toStdString());
    EXPECT_EQ(LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size())), 0);
    ++replayed;
  }
  EXPECT_GT(replayed, 0) << "no inputs kept for " << target.toStdString();
  std::printf("%s: %d kept inputs replayed\n", qPrintable(target), replayed);
}
