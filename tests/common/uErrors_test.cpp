#include "uErrors.h"

#include <gtest/gtest.h>

template <typename To, typename From> QString RangeError(From V) {
  try {
    CheckedCast<To>(V);
  } catch (const EKvRange &e) {
    return e.Text();
  }
  return "no error";
}

TEST(CheckedCast, NarrowingKeepsValuesInRangeAndRejectsTheRest) {
  EXPECT_EQ(CheckedCast<uint8_t>(0), 0);
  EXPECT_EQ(CheckedCast<uint8_t>(255), 255);
  EXPECT_EQ(RangeError<uint8_t>(256), "range check error: 256");
  EXPECT_EQ(RangeError<uint8_t>(-1), "range check error: -1");
  EXPECT_EQ(CheckedCast<uint16_t>(65535), 65535);
  EXPECT_EQ(RangeError<uint16_t>(65536), "range check error: 65536");
  EXPECT_EQ(CheckedCast<int8_t>(-128), -128);
  EXPECT_EQ(RangeError<int8_t>(-129), "range check error: -129");
  EXPECT_EQ(RangeError<int8_t>(128), "range check error: 128");
  EXPECT_EQ(CheckedCast<int32_t>(int64_t(-2147483648LL)), INT32_MIN);
  EXPECT_EQ(RangeError<int32_t>(int64_t(2147483648LL)), "range check error: 2147483648");
  EXPECT_EQ(RangeError<int32_t>(uint32_t(0x80000000u)), "range check error: 2147483648");
  EXPECT_EQ(CheckedCast<uint32_t>(uint64_t(0xFFFFFFFFu)), 0xFFFFFFFFu);
  EXPECT_EQ(RangeError<uint32_t>(uint64_t(0x100000000ull)), "range check error: 4294967296");
  EXPECT_EQ(RangeError<uint64_t>(int64_t(-1)), "range check error: -1");
}
