// The "head.bin" checks of the identification on random and truncated
// headers: the CRC check and the sub-file lookup accept a header exactly when
// the format says so (checksum computed here, most significant byte first at
// offset 14) and otherwise fail with their texts, never read past the bytes.
#include "uErrors.h"
#include "uIdentification.h"

#include <gtest/gtest.h>
#include <random>

namespace {
uint16_t ModbusCrc(const QByteArray &B, int N) {
  uint16_t crc = 0xFFFF;
  for (int i = 0; i < N; ++i) {
    crc ^= uint8_t(B[i]);
    for (int b = 0; b < 8; ++b)
      crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xA001) : uint16_t(crc >> 1);
  }
  return crc;
}
} // namespace

TEST(FlashHeaderUnderRandomInput, AcceptedExactlyWhenTheFormatSaysSo) {
  std::mt19937 rng(140);
  int accepted = 0, refused = 0;
  for (int n = 0; n < 20000; ++n) {
    QByteArray head(int(rng() % 41), '\0');
    for (char &c : head)
      c = char(rng() & 0xFF);
    const int shape = n % 4;
    if (shape >= 1 && head.size() >= 2) {
      head[0] = 1;
      head[1] = 6;
    }
    if (shape >= 2 && head.size() >= 16) {
      const uint16_t crc = ModbusCrc(head, 14);
      head[14] = char(crc >> 8);
      head[15] = char(crc & 0xFF);
    }
    const bool crcOk = head.size() >= 16 && uint8_t(head[14]) == (ModbusCrc(head, 14) >> 8) &&
                       uint8_t(head[15]) == (ModbusCrc(head, 14) & 0xFF);
    try {
      CheckFlashHeaderBytes(head);
      EXPECT_TRUE(crcOk) << n;
      ++accepted;
    } catch (const EKvError &e) {
      EXPECT_FALSE(crcOk) << n;
      EXPECT_EQ(e.Text(), "Ошибка контрольной суммы FLASH");
      ++refused;
    }
    const bool formatOk = head.size() >= 14 && uint8_t(head[0]) == 1 && uint8_t(head[1]) == 6;
    for (int k = 0; k < 6; ++k) {
      try {
        const uint16_t first = FlashSubFileStart(head, k);
        ASSERT_TRUE(formatOk) << n;
        EXPECT_EQ(first, uint16_t(uint8_t(head[2 + 2 * k]) | (uint8_t(head[3 + 2 * k]) << 8)));
      } catch (const EKvError &e) {
        EXPECT_FALSE(formatOk) << n;
        EXPECT_EQ(e.Text(), "Ошибка формата FLASH");
      }
    }
  }
  std::printf("head.bin: %d random headers accepted, %d refused\n", accepted, refused);
  EXPECT_GT(accepted, 1000);
}
