// Replays the inputs the descriptor fuzz target once failed on (kept in
// fuzz/regress/descriptor/): each must decode or end in one of our errors,
// under the sanitizers of the normal build.
#include "uCharMap.h"
#include "uErrors.h"
#include "uFiles.h"
#include "uModbus.h"
#include "uSimpleDeviceDescriptor.h"

#include <QBuffer>
#include <QDir>
#include <gtest/gtest.h>

TEST(DescriptorRegress, KeptFuzzInputsDecodeOrFailCleanly) {
  SetCharMap(BuiltInCharMap());
  const QDir dir(QStringLiteral(KV_SOURCE_DIR "/fuzz/regress/descriptor"));
  ASSERT_TRUE(dir.exists());
  const QStringList names = dir.entryList(QDir::Files | QDir::Hidden);
  for (const QString &name : names) {
    QByteArray bytes = LoadFileBytes(dir.filePath(name));
    QBuffer b(&bytes);
    b.open(QIODevice::ReadOnly);
    TSimpleDeviceDescriptor d;
    try {
      d.LoadFromStream(b);
      TModbus image;
      image.LoadAccessMap(d.Root);
    } catch (const EKvError &) {
      EXPECT_FALSE(d.Ready && bytes.isEmpty()) << name.toStdString();
    }
  }
}
