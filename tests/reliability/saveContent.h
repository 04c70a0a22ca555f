#pragma once
// Content of one generation of a saved file that tells by itself whether it
// is whole: generation and size in front, a pattern that depends on both.
#include <QByteArray>
#include <cstdint>
#include <cstring>

inline uint8_t SaveContentByte(uint32_t Gen, int I) { return uint8_t((Gen * 131u + uint32_t(I) * 7u + (uint32_t(I) >> 12)) & 0xFF); }

inline QByteArray SaveContent(uint32_t Gen, int Size) {
  QByteArray b(Size, '\0');
  for (int i = 8; i < Size; ++i)
    b[i] = char(SaveContentByte(Gen, i));
  std::memcpy(b.data(), &Gen, 4);
  const uint32_t s = uint32_t(Size);
  std::memcpy(b.data() + 4, &s, 4);
  return b;
}

// The generation of a whole file; 0 when the file is partial or foreign.
inline uint32_t SaveContentGeneration(const QByteArray &B) {
  if (B.size() < 8)
    return 0;
  uint32_t gen = 0, size = 0;
  std::memcpy(&gen, B.constData(), 4);
  std::memcpy(&size, B.constData() + 4, 4);
  if (gen == 0 || size != uint32_t(B.size()))
    return 0;
  for (int i = 8; i < B.size(); ++i)
    if (uint8_t(B[i]) != SaveContentByte(gen, i))
      return 0;
  return gen;
}
