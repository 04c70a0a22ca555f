// Any bytes as "head.bin": the CRC check accepts a header exactly when its
// bytes 14..15 hold the CRC of bytes 0..13, most significant byte first
// (computed here, bit by bit), and the sub-file lookup answers exactly for
// format 1 with six files; every refusal carries its text, and nothing reads
// past the bytes.
#include "uErrors.h"
#include "uExtFlash.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

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

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  const QByteArray head(reinterpret_cast<const char *>(Data), qsizetype(Size));
  const bool crcOk = head.size() >= 16 && uint8_t(head[14]) == (ModbusCrc(head, 14) >> 8) &&
                     uint8_t(head[15]) == (ModbusCrc(head, 14) & 0xFF);
  try {
    CheckFlashHeaderBytes(head);
    if (!crcOk)
      std::abort();
  } catch (const EKvError &e) {
    if (crcOk || e.Text() != QStringLiteral("Ошибка контрольной суммы FLASH"))
      std::abort();
  }
  const bool formatOk = head.size() >= 14 && uint8_t(head[0]) == 1 && uint8_t(head[1]) == 6;
  for (int k = 0; k < 6; ++k) {
    try {
      const uint16_t first = FlashSubFileStart(head, k);
      if (!formatOk || first != uint16_t(uint8_t(head[2 + 2 * k]) | (uint8_t(head[3 + 2 * k]) << 8)))
        std::abort();
    } catch (const EKvError &e) {
      if (formatOk || e.Text() != QStringLiteral("Ошибка формата FLASH"))
        std::abort();
    }
  }
  return 0;
}
