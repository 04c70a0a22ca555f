#pragma once
// 8-bit code pages of the program's files and devices. Files, XML and the
// settings hold Windows-1251; the device's own display texts pass through CP866
// where a device character map asks for it.
#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// Windows-1251 bytes to text. The one unassigned byte (0x98) becomes U+FFFD.
QString FromWin1251(QByteArrayView Bytes);
// Text to Windows-1251 bytes; a character the code page cannot hold becomes "?".
// Use IsWin1251Char first where such characters must be kept another way.
QByteArray ToWin1251(const QString &Text);
// True when the code point has a Windows-1251 byte (every ASCII character has one).
bool IsWin1251Char(char32_t CodePoint);

// Strict decoding of a file's bytes, for every file the program reads: a text
// whose bytes do not decode must not come back with U+FFFD in place of them,
// or the next save would write the loss for good. Encoding is a codec name as
// a file declares it ("windows-1251", "UTF-8", "UTF-16LE", "KOI8-R", ...);
// Offset is added to the offsets reported (bytes in front, a byte-order mark).
// Returns -1 when every byte decodes, else the offset of the first byte of
// the first sequence that does not; -2 when no codec has that name.
qsizetype FirstInvalidByte(QByteArrayView Bytes, const QString &Encoding, qsizetype Offset = 0);
// The reason FirstInvalidByte found: "invalid <Encoding> byte at offset N".
QString InvalidByteText(const QString &Encoding, qsizetype At);
// The text of a whole file (UTF-8 after a byte-order mark, else Windows-1251).
// Throws EKvFormat "<FileName>: invalid <encoding> byte at offset N".
QString DecodeFileText(QByteArrayView Bytes, const QString &FileName);

// Where Text has its first word (a run of letters) that holds both Latin and
// Cyrillic letters, or -1. No Russian, Ukrainian or English word mixes them,
// but a text read in the wrong one of two 8-bit encodings does ("jГјrgen").
qsizetype FirstMixedWord(const QString &Text);

// CP866 (DOS Cyrillic) bytes to text and back; unmappable characters become "?".
QString FromCp866(QByteArrayView Bytes);
QByteArray ToCp866(const QString &Text);

// The parts of an integer text [+|-][$]digits, before any range rule: the
// digits are hexadecimal after "$" (and after "0x" when IsLenient, which also
// skips blanks in front). False when there is no digit, a character is out of
// place, or the magnitude exceeds 0xFFFFFFFF.
struct TIntText {
  bool IsNegative = false;
  bool IsHex = false;
  quint64 Magnitude = 0;
};
bool ReadIntText(const QString &Text, bool IsLenient, TIntText &Out);

// Integer text as stored files write it: optional blanks before, optional sign,
// decimal digits or hexadecimal after "$" or "0x" (a hexadecimal text may give
// the full 32-bit pattern: "$FFFFFFFF" is -1). False on anything else or on
// overflow; Out is then untouched.
bool TryStrToInt(const QString &Text, int &Out);
// A number with "." as decimal separator and an optional exponent; no "inf"
// or "nan". False on anything else.
bool TryStrToFloat(const QString &Text, double &Out);
