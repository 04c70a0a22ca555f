#include "uCharMap.h"
#include "uErrors.h"
#include "uFiles.h"
#include "uTextCodec.h"

#include <QFile>
#include <cstring>

uint8_t CharMapToDevice[256];
uint8_t CharMapFromDevice[256];

namespace {

struct TCharCode {
  uint8_t Char;   // Windows-1251
  uint8_t Device; // display code
};

// The display's Cyrillic character generator holds only the letters that have
// no Latin twin; the others are shown with the Latin glyph. Upper-case soft
// sign has no glyph of its own and borrows the lower-case one (the Latin "b"
// would come back as the soft sign in every decoded text). Ukrainian and other
// letters borrow the code of the Russian letter they look like, never one that
// would then decode to them instead of a more common letter.
constexpr TCharCode CyrillicCodes[] = {
    {0xC0, 0x41}, {0xC1, 0xA0}, {0xC2, 0x42}, {0xC3, 0xA1}, {0xC4, 0xE0}, {0xC5, 0x45},
    {0xA8, 0xA2}, {0xC6, 0xA3}, {0xC7, 0xA4}, {0xC8, 0xA5}, {0xC9, 0xA6}, {0xCA, 0x4B},
    {0xCB, 0xA7}, {0xCC, 0x4D}, {0xCD, 0x48}, {0xCE, 0x4F}, {0xCF, 0xA8}, {0xD0, 0x50},
    {0xD1, 0x43}, {0xD2, 0x54}, {0xD3, 0xA9}, {0xD4, 0xAA}, {0xD5, 0x58}, {0xD6, 0xE1},
    {0xD7, 0xAB}, {0xD8, 0xAC}, {0xD9, 0xE2}, {0xDA, 0xAD}, {0xDB, 0xAE}, {0xDC, 0xC4},
    {0xDD, 0xAF}, {0xDE, 0xB0}, {0xDF, 0xB1},
    {0xE0, 0x61}, {0xE1, 0xB2}, {0xE2, 0xB3}, {0xE3, 0xB4}, {0xE4, 0xE3}, {0xE5, 0x65},
    {0xB8, 0xB5}, {0xE6, 0xB6}, {0xE7, 0xB7}, {0xE8, 0xB8}, {0xE9, 0xB9}, {0xEA, 0xBA},
    {0xEB, 0xBB}, {0xEC, 0xBC}, {0xED, 0xBD}, {0xEE, 0x6F}, {0xEF, 0xBE}, {0xF0, 0x70},
    {0xF1, 0x63}, {0xF2, 0xBF}, {0xF3, 0x79}, {0xF4, 0xE4}, {0xF5, 0x78}, {0xF6, 0xE5},
    {0xF7, 0xC0}, {0xF8, 0xC1}, {0xF9, 0xE6}, {0xFA, 0xC2}, {0xFB, 0xC3}, {0xFC, 0xC4},
    {0xFD, 0xC5}, {0xFE, 0xC6}, {0xFF, 0xC7},
    // Ukrainian
    {0xAA, 0x45}, {0xBA, 0x65}, {0xB2, 0x49}, {0xB3, 0x69}, {0xAF, 0x49}, {0xBF, 0xB9},
    {0xA5, 0xA1}, {0xB4, 0xB4},
    // Belarusian and Macedonian letters with a Russian twin
    {0xA1, 0xA9}, {0xA2, 0x79}, {0x81, 0xA1}, {0x83, 0xB4}, {0x8D, 0x4B}, {0x9D, 0xBA},
};

QByteArray MakeBuiltIn() {
  QByteArray t(256, '\0');
  for (int c = 0x20; c <= 0x7A; ++c)
    t[c] = char(c);
  t[0x7E] = char(0xE9);
  t[0x14] = char(0xFE);
  t[0x18] = char(0xD9);
  for (const auto &p : CyrillicCodes)
    t[p.Char] = char(p.Device);
  return t;
}

} // namespace

QByteArray BuiltInCharMap() {
  static const QByteArray t = MakeBuiltIn();
  return t;
}

void SetCharMap(QByteArrayView Bytes) {
  const qsizetype n = std::min<qsizetype>(Bytes.size(), 256);
  std::memcpy(CharMapToDevice, Bytes.data(), size_t(n));
  std::memset(CharMapFromDevice, 0, sizeof CharMapFromDevice);
  // Code 0 stands for "no display code" (and ends a device text), so it never
  // becomes a character.
  for (int c = 0; c < 256; ++c)
    if (CharMapToDevice[c] != 0)
      CharMapFromDevice[CharMapToDevice[c]] = uint8_t(c);
}

void LoadCharMap(const QString &FileName) {
  if (!FileName.isEmpty() && QFile::exists(FileName)) {
    SetCharMap(LoadFileBytes(FileName).left(256));
    return;
  }
  SetCharMap(BuiltInCharMap());
}

QByteArray DeviceToProgramBytes(QByteArrayView DeviceCodes) {
  QByteArray r;
  r.reserve(DeviceCodes.size());
  for (char b : DeviceCodes) {
    // The display's line break: on one line of the program the two parts
    // stay two words.
    if (uint8_t(b) == DisplayLineBreak && CharMapFromDevice[DisplayLineBreak] == 0) {
      r.append(' ');
      continue;
    }
    const uint8_t c = CharMapFromDevice[uint8_t(b)];
    if (c != 0)
      r.append(char(c));
  }
  return r;
}

QString DeviceToProgram(QByteArrayView DeviceCodes) { return FromWin1251(DeviceToProgramBytes(DeviceCodes)); }

QByteArray ProgramToDevice(QByteArrayView Win1251) {
  QByteArray r(Win1251.size(), '\0');
  for (qsizetype i = 0; i < Win1251.size(); ++i)
    r[i] = char(CharMapToDevice[uint8_t(Win1251[i])]);
  return r;
}
