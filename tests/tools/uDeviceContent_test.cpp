#include "crc.h"
#include "uCharMap.h"
#include "uDeviceContent.h"
#include "uErrors.h"

#include "../common/uErrorOf.h"

#include <gtest/gtest.h>

namespace {

int U16(const QByteArray &B, int Off) { return uint8_t(B[Off]) | (uint8_t(B[Off + 1]) << 8); }
QByteArray Hex(const char *H) { return QByteArray::fromHex(H); }

} // namespace

TEST(DeviceContent, EmptyDescriptionYieldsEveryAreaWithItsEndBytes) {
  TDeviceContent c;
  c.BaseAddr = 0x2000;
  const TDeviceImage img = BuildDeviceImage(c);
  const QByteArray &b = img.Bytes;
  // 48 header + 2048 map + 20 info = 2116; measures $AA + 6 words; five bit
  // areas $AA; parameters $AA + level count; setpoints $AA + level count;
  // event measures, events, oscillograms, menu, two empty areas $AA each,
  // $AA $AA, special table count 0, one $AA to an even position, $FF to 2560.
  ASSERT_EQ(b.size(), 2560);
  EXPECT_EQ(b.mid(2116, 13), Hex("aa" "0000000000000000" "ffffffff"));
  EXPECT_EQ(b.mid(2129, 19), Hex("aaaaaaaaaa" "aa00" "aa00" "aaaaaaaaaaaaaaaa" "00" "aa"));
  EXPECT_EQ(b.mid(2148), QByteArray(2560 - 2148, char(0xFF)));
  const int areas[] = {48, 2116, 2129, 2130, 2131, 2132, 2133, 2134, 2136, 2138, 2139, 2140, 2141, 2142, 2143, 2144, 2560};
  for (int i = 0; i <= 16; ++i)
    EXPECT_EQ(U16(b, 4 + 2 * i), 0x2000 + areas[i]) << i;
  EXPECT_EQ(U16(b, 38), 0x2000 + 2146);
  EXPECT_EQ(U16(b, 40), 0x2000);
  EXPECT_EQ(U16(b, 42), 0x1F00);
  EXPECT_EQ(U16(b, 2), 2);
  EXPECT_EQ(U16(b, 0), 1280);
  for (int r = 0; r < 1024; ++r)
    ASSERT_EQ(U16(b, 48 + 2 * r), 0xFFFF) << r;
  EXPECT_EQ(b.mid(2096, 20), Hex("0000" "05032021" "06032021" "78563412" "ffff" "00000000"));
  // The CRC covers the file but its last byte, with the length word and the CRC bytes zero.
  QByteArray z = b;
  z[0] = z[1] = 0;
  z.replace(44, 4, QByteArray(4, '\0'));
  EXPECT_EQ(uint32_t(U16(b, 44) | (U16(b, 46) << 16)), Crc32(z.first(z.size() - 1)));
}

TEST(DeviceContent, MeasureRecordFollowsTheLayout) {
  TDeviceContent c;
  c.BaseAddr = 0x1000;
  TDcMeasure m;
  m.Reg = 5, m.Type = 0x0B, m.Access = 0x21, m.Sram = 0x1234, m.MvpSram = 0x0400, m.MvpScale = 2;
  m.MvsSram = 0xFFFF, m.MvsScale = 12, m.Offset = 0xBEEF;
  m.Short = QStringLiteral("Ia|1"), m.Full = QString::fromUtf8("Ток");
  c.Measures = {m};
  const TDeviceImage img = BuildDeviceImage(c);
  ASSERT_EQ(img.MeasureOffsets.size(), 1u);
  EXPECT_EQ(img.MeasureOffsets[0], 2116);
  EXPECT_EQ(img.Bytes.mid(2116, 22), Hex("0b" "21" "3412" "0004" "02" "ffff" "0c" "efbe" "4961" "01" "31" "00" "d2eeea" "00" "aa"));
  EXPECT_EQ(U16(img.Bytes, 48 + 2 * 5), 0x1000 + 2116);
  EXPECT_EQ(U16(img.Bytes, 48 + 2 * 4), 0xFFFF);
}

TEST(DeviceContent, DisplayStringsFollowTheEscapeRules) {
  const QByteArray map = BuiltInCharMap();
  const struct { const char *In; QByteArray Out; } cases[] = {
      {"A|B", Hex("410142")},
      {"\\176", Hex("b0")},
      {"x\\1y", Hex("780179")},
      {"\\\\", Hex("5c")},
      {"{}", Hex("2020")}, // no display code: the blank's
      {"Бг", Hex("a0b4")},
      {"", QByteArray()},
  };
  for (const auto &t : cases)
    EXPECT_EQ(EncodeDisplayString(QString::fromUtf8(t.In), map), t.Out) << t.In;
  for (const char *bad : {"abc\\", "\\x", "a\\ b"})
    EXPECT_EQ(ErrorOf([&] { EncodeDisplayString(QString::fromUtf8(bad), map); }),
              "invalid special symbol in " + QString::fromUtf8(bad));
}

TEST(DeviceContent, DisplayNameIsTheShortTextOrTwentyCharactersOfTheFullOne) {
  TDeviceContent c;
  TDcMeasure m;
  m.Full = QStringLiteral("abcdefghijklmnopqrstuvwxy");
  c.Measures = {m};
  const QByteArray b = BuildDeviceImage(c).Bytes;
  EXPECT_EQ(b.mid(2116 + 10, 21), QByteArray("abcdefghijklmnopqrst") + '\0');
  EXPECT_EQ(b.mid(2116 + 31, 26), QByteArray("abcdefghijklmnopqrstuvwxy") + '\0');
}

TEST(DeviceContent, BitGroupOfSeventeenBitsClaimsTwoRegistersAndGivesTwoBitWords) {
  TDeviceContent c;
  TDcBitGroup g;
  g.Type = 18, g.Reg = 40, g.Access = 1, g.Sram = 0x0200, g.Eeprom = 0xFFFF;
  for (int i = 0; i < 17; ++i)
    g.Full << QStringLiteral("R%1").arg(i);
  c.BitGroups = {g};
  c.EventBits = {{18, 0}};
  const TDeviceImage img = BuildDeviceImage(c);
  const QByteArray &b = img.Bytes;
  const int at = img.AreaOffset[3];
  ASSERT_EQ(img.FindRecord(18), at);
  EXPECT_EQ(b.mid(at, 5), Hex("12" "01" "0002" "11"));
  const int extra = img.FindRecord(16);
  ASSERT_GT(extra, at);
  EXPECT_EQ(b.mid(extra, 7), Hex("10" "01" "0202" "ffff" "aa"));
  EXPECT_EQ(U16(b, 48 + 80), c.BaseAddr + at);
  EXPECT_EQ(U16(b, 48 + 82), c.BaseAddr + extra);
  EXPECT_EQ(b.mid(img.AreaOffset[9], 7), Hex("420002" "420202" "aa"));
}

TEST(DeviceContent, SetpointGroupsFollowEachOtherWithCopyTypes) {
  TDeviceContent c;
  c.SetpointGroups = {{100, 0x0500, 0x0100}, {150, 0x0600, 0x0200}};
  TDcSetpoint n;
  n.Type = 50, n.Access = 3, n.Min = 1, n.Max = 2, n.Full = QStringLiteral("N"), n.Level = 2;
  TDcSetpoint e;
  e.Type = 53, e.Access = 7, e.Full = QStringLiteral("E"), e.ValueFull = {QStringLiteral("a")}, e.Level = 1;
  c.Setpoints = {n, e};
  c.SetpointLevels = {QStringLiteral("L1"), QStringLiteral("L2")};
  const TDeviceImage img = BuildDeviceImage(c);
  const QByteArray &b = img.Bytes;
  EXPECT_EQ(b.mid(img.AreaOffset[7], 7), Hex("aa" "02" "4c3100" "4c32"));
  const int s = img.AreaOffset[8];
  EXPECT_EQ(b.mid(s, 16), Hex("32" "03" "0005" "0001" "ffff" "0100" "0200" "4e00" "4e00"));
  EXPECT_EQ(b.mid(s + 16, 1), Hex("02"));
  const int e1 = s + 17;
  EXPECT_EQ(b.mid(e1, 15), Hex("35" "07" "0205" "0201" "01" "4500" "6100" "4500" "6100"));
  EXPECT_EQ(b.mid(e1 + 15, 1 + 12 + 2), Hex("01" "34030006" "0002" "36070206" "0202" "aa00"));
  const int regs[][2] = {{100, s}, {101, e1}, {150, e1 + 16}, {151, e1 + 22}};
  for (const auto &r : regs)
    EXPECT_EQ(U16(b, 48 + 2 * r[0]), c.BaseAddr + r[1]) << r[0];
  // The common parameter block names both group registers.
  EXPECT_EQ(b.mid(2117 + 8, 4), Hex("64009600"));
}

TEST(DeviceContent, EventAndOscillogramRecordsReferenceMeasureRecords) {
  TDeviceContent c;
  TDcMeasure m;
  m.Sram = 0x0110;
  m.Full = QStringLiteral("M");
  c.Measures = {m};
  c.EventMeasures = {0, -1};
  c.Events = {{true, 9, 3, QStringLiteral("F|x")}, {false, 1, 1, QString()}};
  c.OscChannels = {{0}, {-1}};
  const TDeviceImage img = BuildDeviceImage(c);
  const QByteArray &b = img.Bytes;
  const uint16_t rec = img.Addr(2116);
  QByteArray ev = Hex("41" "1001") + QByteArray(1, char((rec + 10) & 0xFF)) + char((rec + 10) >> 8) + Hex("41ffffffff" "aa");
  EXPECT_EQ(b.mid(img.AreaOffset[9], ev.size()), ev);
  EXPECT_EQ(b.mid(img.AreaOffset[10], 11), Hex("44" "09" "03" "460178" "00" "430101" "00" "aa").left(11));
  QByteArray osc = Hex("51" "02") + QByteArray(1, char(rec & 0xFF)) + char(rec >> 8) + Hex("51ffffff" "aa");
  EXPECT_EQ(b.mid(img.AreaOffset[11], osc.size()), osc);
}

TEST(DeviceContent, CodeStartsAndFileEndsOnA512ByteBoundary) {
  TDeviceContent c = DemoDeviceContent();
  c.Code = QByteArray(700, '\x11');
  const TDeviceImage img = BuildDeviceImage(c);
  EXPECT_EQ(img.Bytes.size() % 512, 0);
  EXPECT_EQ(img.AreaOffset[16] % 512, 0);
  EXPECT_EQ(img.Bytes.mid(img.AreaOffset[16], 700), c.Code);
  EXPECT_EQ(U16(img.Bytes, 36), c.BaseAddr + img.AreaOffset[16]);
  EXPECT_EQ(U16(img.Bytes, 0), img.Bytes.size() / 2);
}

TEST(DeviceContent, PackedDatesAndRefusals) {
  EXPECT_EQ(PackBcdDate(QDate(2021, 3, 5)), Hex("05032021"));
  EXPECT_EQ(PackBcdDate(QDate(1999, 12, 31)), Hex("31121999"));
  EXPECT_EQ(PackBcdDate(QDate()), Hex("ffffffff"));
  TDeviceContent c;
  TDcMeasure m;
  m.Reg = 1024;
  c.Measures = {m};
  EXPECT_THROW(BuildDeviceImage(c), EKvRange);
  c.Measures[0].Reg = 1023; // the device refuses it, a test image may carry it
  EXPECT_NO_THROW(BuildDeviceImage(c));
  c.Measures.clear();
  c.BaseAddr = 0xF800;
  EXPECT_THROW(BuildDeviceImage(c), EKvRange); // areas would lie beyond 0xFFFF
}

TEST(DeviceContent, TailBytesGoBeforeTheEndByteOfTheirArea) {
  TDeviceContent c;
  c.Tail[daParams] = Hex("3101");
  const TDeviceImage img = BuildDeviceImage(c);
  EXPECT_EQ(img.Bytes.mid(img.AreaOffset[7], 4), Hex("3101aa00"));
}
