#pragma once
// Checksums and the one pattern-matching routine of the program.
#include <QByteArray>
#include <QByteArrayView>
#include <QIODevice>
#include <QString>
#include <QStringList>
#include <cstdint>

using TStringArray = QStringList;

// CRC-16/MODBUS of Count bytes (Count <= 0 gives 0xFFFF). The result carries the
// CRC's low byte in its high byte, so storing it high byte first gives the wire
// order: bytes 01 03 00 00 00 01 have the CRC 0x0A84, sent 84 0A, returned 0x840A.
uint16_t Crc16(const void *Buf, int Count);
inline uint16_t Crc16(const QByteArray &Data) { return Crc16(Data.constData(), int(Data.size())); }

// CRC-16 of Count bytes at Position; the stream's position is restored.
// Throws EKvAssert "crc16 buffer overflow" for Count >= 1024, EKvError on a short stream.
uint16_t StreamCrc16(QIODevice &AStream, qint64 Position, int Count);

// Plain IEEE CRC-32 of every byte given (no skipped byte).
uint32_t Crc32Update(uint32_t Crc, const void *Buf, size_t Count);
uint32_t Crc32(const QByteArray &Data);

// CRC-32 of the first Count - 1 bytes read from position 0: the byte at index
// Count - 1 is read but not covered. Checksums stored in device images were made
// this way, so the rule stays. Count < 0 means the stream size; Count above the
// size gives 0xFFFFFFFF.
uint32_t StreamCrc32(QIODevice &AStream, qint64 Count);
// StreamCrc32 of the whole file (its last byte not covered). Throws EKvError when unreadable.
uint32_t FileCrc32(const QString &FileName);

// MD5 of the stream from its current position to its end (16 bytes).
QByteArray StreamMD5(QIODevice &AStream);
// MD5 of the bytes in memory (16 bytes).
QByteArray BytesMD5(QByteArrayView Bytes);
// MD5 of Count bytes from Position; the stream's position is restored.
QByteArray StreamRangeMD5(QIODevice &AStream, qint64 Count, qint64 Position);

// Runs Pattern globally over Text (case-sensitive, single line) and returns the
// capture groups of the last non-empty-text match; an unmatched group is "".
// Empty when nothing matches or the pattern has no groups. Throws EKvError on a bad pattern.
TStringArray RegExpMatch(const QString &Pattern, const QString &Text);
// The menu editor's copy of the same routine.
inline TStringArray MenuRegExpMatch(const QString &Pattern, const QString &Text) {
  return RegExpMatch(Pattern, Text);
}
