// The files devsim serves, against bytes worked out by hand from their layouts.
#include "uDevSimFiles.h"
#include "uErrors.h"
#include "uSimDevice.h"

#include <QCryptographicHash>
#include <gtest/gtest.h>

namespace {

QByteArray Hex(const char *Text) { return QByteArray::fromHex(QByteArray(Text).replace(' ', "")); }

const QDateTime Moment(QDate(2026, 3, 5), QTime(14, 15, 2, 250), Qt::UTC);

} // namespace

TEST(DevSimFiles, EventRingPutsRecordsFromTheFirstSlotAndWraps) {
  TSimEventRecord a{Moment, 0x11, 1, {0x1234}};
  TSimEventRecord b{Moment.addSecs(1), 0x22, 0, {0xABCD, 0x0001, 0x0002}}; // the third value does not fit
  const QByteArray ring = BuildEventRing({a, b}, 13, 3, 2);
  ASSERT_EQ(ring.size(), 39);
  // slot 0: b; slot 1: empty; slot 2: a.
  EXPECT_EQ(ring.mid(0, 13), Hex("1A 03 05 0E 0F 03 19 22 00 AB CD 00 01"));
  EXPECT_EQ(ring.mid(13, 13), QByteArray(13, char(0xFF)));
  EXPECT_EQ(ring.mid(26, 13), Hex("1A 03 05 0E 0F 02 19 11 01 12 34 00 00"));
  EXPECT_THROW(BuildEventRing({a, b}, 13, 1, 0), EKvRange);
  EXPECT_THROW(BuildEventRing({a}, 8, 3, 0), EKvRange);
}

TEST(DevSimFiles, JournalWrittenPastTheRingsEndAndLoggedWhileRunning) {
  // Five records a minute apart into 3 slots, the clock set back 2 minutes
  // before the fourth: the ring keeps the last three, the fifth where the
  // relay wrote last but one turn later (slot 1), the fourth in slot 0.
  TSimEventSeries plan;
  plan.Count = 5;
  plan.StepAt = 3;
  plan.StepBackMinutes = 2;
  plan.Codes = {7, 8};
  const std::vector<TSimEventRecord> series = SimEventSeries(plan, Moment);
  ASSERT_EQ(series.size(), 5u);
  EXPECT_EQ(series[0].Moment, Moment.addSecs(-2 * 60)); // 4 minutes back, 2 ahead before the step
  EXPECT_EQ(series[2].Moment, Moment);
  EXPECT_EQ(series[3].Moment, Moment.addSecs(-60));
  EXPECT_EQ(series[4].Moment, Moment);
  EXPECT_EQ(QList<int>({series[0].Code, series[1].Code, series[2].Code, series[3].Code}), QList<int>({7, 7, 8, 8}));
  EXPECT_EQ(QList<int>({series[0].Flags, series[1].Flags}), QList<int>({1, 0}));
  const QByteArray ring = WriteEventRing(series, 9, 3);
  EXPECT_EQ(ring.mid(0, 9), Hex("1A 03 05 0E 0E 02 19 08 00"));
  EXPECT_EQ(ring.mid(9, 9), Hex("1A 03 05 0E 0F 02 19 07 01"));
  EXPECT_EQ(ring.mid(18, 9), Hex("1A 03 05 0E 0F 02 19 08 01"));
  EXPECT_EQ(WriteEventRing({series[0]}, 9, 3).mid(9), QByteArray(18, char(0xFF)));

  TSimDevice device;
  device.SetClock(QDateTime(QDate(2026, 3, 5), QTime(9, 0)), false);
  TSimEventLog log(device, 2);
  EXPECT_THROW(log.Log(1, true), EKvRange);
  device.SetFile(SimFileEventRing, ring, 9);
  log.Log(0x21, true, {0x0102});
  log.Log(0x22, false);
  EXPECT_EQ(log.NextSlot(), 1);
  const QByteArray logged = device.FileBytes(SimFileEventRing);
  EXPECT_EQ(logged.mid(18, 9), Hex("1A 03 05 09 00 00 00 21 01"));
  EXPECT_EQ(logged.mid(0, 9), Hex("1A 03 05 09 00 00 00 22 00"));
  EXPECT_EQ(logged.mid(9, 9), ring.mid(9, 9));
}

TEST(DevSimFiles, OscDirectoryHasItsHeadEntriesAndEmptySlots) {
  const QByteArray dir = BuildOscDirectory({{Moment, 3, 5}, {Moment.addSecs(60), 1, 2}}, 4, 2);
  ASSERT_EQ(dir.size(), 128) << "16 + 4 x 12 bytes padded to one frame";
  EXPECT_EQ(dir.left(16), Hex("02 0C 02 00 02 00 00 00 00 00 00 00 00 00 00 00")) << "last index counted from 1";
  EXPECT_EQ(dir.mid(16, 12), Hex("00 00 00 1A 03 05 0E 0F 02 19 03 05"));
  EXPECT_EQ(dir.mid(28, 12), Hex("00 00 00 1A 03 05 0E 10 02 19 01 02"));
  EXPECT_EQ(dir.mid(40, 24), QByteArray(24, char(0xFF)));
  EXPECT_EQ(dir.mid(64), QByteArray(64, '\0'));

  // Written from slot 3 across the end, slot 1 spoilt.
  TSimOscDirectoryPlan plan;
  plan.SlotCount = 4;
  plan.FirstSlot = 3;
  plan.InvalidSlots = {1};
  const QByteArray ring = BuildOscDirectory({{Moment, 3, 5}, {Moment.addSecs(60), 1, 2}}, plan);
  EXPECT_EQ(ring.mid(4, 1), Hex("01")) << "the newest is in slot 0";
  EXPECT_EQ(ring.mid(16 + 36, 12), Hex("00 00 00 1A 03 05 0E 0F 02 19 03 05"));
  EXPECT_EQ(ring.mid(16, 12), Hex("00 00 00 1A 03 05 0E 10 02 19 01 02"));
  EXPECT_EQ(ring.mid(28, 12), Hex("FF FF FF 18 02 1E 0A 00 00 00 FF FF"));
  plan.FirstSlot = 4;
  EXPECT_THROW(BuildOscDirectory({}, plan), EKvRange);
}

TEST(DevSimFiles, FlashImageKeepsTheLastSubFileOnA128KiBBoundary) {
  const QByteArray image = BuildExtFlash({"a", "b", "c", "d", "e", "f"});
  // Six small sub-files: blocks 1..5, then the last at block 64.
  EXPECT_EQ(image.left(14), Hex("01 06 01 00 02 00 03 00 04 00 05 00 40 00"));
  // CRC-16/MODBUS of the 14 bytes is 0x928E (worked out bit by bit), high byte first.
  EXPECT_EQ(image.mid(14, 2), Hex("92 8E"));
  EXPECT_EQ(image.size(), 65 * 2048);
  EXPECT_EQ(image.mid(6 * 2048, 58 * 2048), QByteArray(58 * 2048, char(0xFF)));
  const QByteArray sub = image.mid(64 * 2048);
  const int n = uint8_t(sub[0]) | (uint8_t(sub[1]) << 8);
  EXPECT_EQ(sub.mid(4, 16), QCryptographicHash::hash(sub.mid(20, n), QCryptographicHash::Md5));
  EXPECT_EQ(qUncompress(QByteArray(4, '\0').replace(3, 1, "\x01") + sub.mid(20, n)), "f");
  EXPECT_EQ(sub.mid(20 + n), QByteArray(2048 - 20 - n, '\0'));
}

TEST(DevSimFiles, StampsOutsideTheDevicesYearsAreRefused) {
  EXPECT_EQ(SimStamp(Moment), Hex("1A 03 05 0E 0F 02 19"));
  EXPECT_THROW(SimStamp(QDateTime(QDate(1999, 12, 31), QTime(0, 0), Qt::UTC)), EKvRange);
}
