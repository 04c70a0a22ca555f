#include "crc.h"
#include "uErrors.h"

#include <QBuffer>
#include <gtest/gtest.h>

TEST(Crc16, ReturnsModbusCrcWithLowByteInHighByte) {
  const struct { QByteArray In; uint16_t Out; } cases[] = {
      {QByteArray::fromHex("010300000001"), 0x840A},
      {QByteArray("123456789"), 0x374B},
      {QByteArray::fromHex("010300640003"), 0x4414}, // CRC 0x1444, sent 44 14
  };
  for (const auto &c : cases)
    EXPECT_EQ(Crc16(c.In), c.Out) << c.In.toHex().constData();
  EXPECT_EQ(Crc16(nullptr, 0), 0xFFFF);
}

TEST(Crc16, StreamFormRestoresPositionAndRefusesLargeCounts) {
  QByteArray data = "xx123456789";
  QBuffer b(&data);
  b.open(QIODevice::ReadOnly);
  b.seek(1);
  EXPECT_EQ(StreamCrc16(b, 2, 9), 0x374B);
  EXPECT_EQ(b.pos(), 1);
  EXPECT_THROW(StreamCrc16(b, 0, 1024), EKvAssert);
  EXPECT_THROW(StreamCrc16(b, 5, 20), EKvError);
}

TEST(Crc32, StreamFormLeavesTheLastByteOut) {
  QByteArray one = "a", abc = "abc";
  QBuffer b1(&one), b3(&abc);
  b1.open(QIODevice::ReadOnly);
  b3.open(QIODevice::ReadOnly);
  EXPECT_EQ(StreamCrc32(b1, -1), 0u);
  EXPECT_EQ(StreamCrc32(b3, 3), Crc32("ab"));
  EXPECT_EQ(StreamCrc32(b3, 4), 0xFFFFFFFFu);
  EXPECT_EQ(Crc32("123456789"), 0xCBF43926u);
}

TEST(Md5, MatchesReferenceVectorsAndRestoresPosition) {
  QByteArray data = "--abc--";
  QBuffer b(&data);
  b.open(QIODevice::ReadOnly);
  EXPECT_EQ(StreamRangeMD5(b, 3, 2).toHex(), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(b.pos(), 0);
  QByteArray empty;
  QBuffer e(&empty);
  e.open(QIODevice::ReadOnly);
  EXPECT_EQ(StreamMD5(e).toHex(), "d41d8cd98f00b204e9800998ecf8427e");
}

TEST(RegExpMatch, KeepsGroupsOfTheLastRealMatch) {
  EXPECT_EQ(RegExpMatch(R"((\d+)-(\d+))", "1-2 and 30-40"), (QStringList{"30", "40"}));
  EXPECT_TRUE(RegExpMatch(R"(A(\d))", "a5").isEmpty());
  EXPECT_TRUE(RegExpMatch(R"(\d+)", "12").isEmpty());
  // "(\d*)" also matches empty at the end: that must not replace "42".
  EXPECT_EQ(RegExpMatch(R"((\d*))", "42"), QStringList{"42"});
  EXPECT_EQ(RegExpMatch(R"((a)|(b))", "a"), (QStringList{"a", ""}));
  EXPECT_THROW(RegExpMatch("(", "x"), EKvError);
}
