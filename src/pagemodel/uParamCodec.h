#pragma once
// The rules of one row of the parameters page without the page: how the
// register image's value of a parameter is shown, how a typed text becomes
// register writes, and whether a cell still equals the device's value.
// Also the write-item helpers the parameters and setpoints pages share.
#include "ixml.h"

#include <QIODevice>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <utility>
#include <vector>

class TModbus;

// (register, value) of one register write.
using TRegWrite = std::pair<uint16_t, uint16_t>;
using TRegWrites = std::vector<TRegWrite>;

// The scaling factor of a word-koef code: 1 -> 10, 2 -> 100, 3 -> 1000, any other -> 1.
int KoefFactor(uint8_t K);
// Empties List, then appends the register of every (register, value) pair of
// Pairs, read from its start (16-bit little-endian words).
void RegListFromPairs(QIODevice &Pairs, QIODevice &List);
// The low 16 bits of Value, little-endian.
void StreamWriteWord(QIODevice &Stream, int Value);
void StreamWriteByte(QIODevice &Stream, uint8_t B);
// The device code of character Pos (from 1) of Text, 0 past its end.
void StreamWriteChar(QIODevice &Stream, const QString &Text, int Pos);
// Appends the pairs to Stream (register, then value, as StreamWriteWord).
void StreamWritePairs(QIODevice &Stream, const TRegWrites &Writes);

// What a typed number that cannot be written is refused with, in the user's
// language: "Не число: <text>"; "Значение <text> вне диапазона <lo>..<hi>"
// (the text trimmed, the range as the cell shows it).
QString NotNumberText(const QString &Text);
QString OutOfRangeText(const QString &Text, const QString &Lo, const QString &Hi);

enum class TParamKind { Other, Num, Enum, Char };

class TParamCodec {
public:
  // Node is an element under "param" ("param-num", "param-enum", ...); a null
  // node gives a codec of kind Other that matches nothing.
  explicit TParamCodec(const IXXMLNode &Node);

  TParamKind Kind = TParamKind::Other;
  int Reg = -1;
  int WordCount = 1;
  int Koef = 0;          // word-koef, 0..255 (EKvRange above)
  int PasswdChar = 0;    // byte-passwd-char; non-zero: drawn masked
  int Access = 0;        // modbus-acc: bit 0 read, bit 1 write
  QStringList Items;     // enumeration texts, the k-th for value k
  QString Name;          // string[not(ider)]
  int Min = 0, Max = 65535; // word-min, word-max of a number, raw register units

  // A number's limits hold: both 0 (a descriptor that gives none) leaves
  // every word allowed; an inverted pair is the limit check's to refuse.
  bool HasLimits() const { return Kind == TParamKind::Num && (Min != 0 || Max != 0); }
  // The text of raw word W of a number (k decimals for word-koef k).
  QString ShowWord(uint16_t W) const;

  bool CanRead() const { return Access & 1; }
  bool CanWrite() const { return Access & 2; }

  // The cell text of Image's value: "" while the register was not read;
  // "N/D" for an enumeration value past its texts; k decimals for word-koef k.
  QString Show(const TModbus &Image) const;
  // True when Text needs no write: it equals the device's value in Image.
  // An empty text over an unread register matches.
  bool MatchesDevice(const QString &Text, const TModbus &Image) const;
  // The writes of one accepted edit (an enumeration passes its item index as
  // decimal text). Throws EKvError NotNumberText for a text that is no
  // number, EKvRange OutOfRangeText for a value outside 0..65535.
  TRegWrites EditWrites(const QString &Text) const;
  // The writes that bring the device to the cell text Text: none when it
  // matches, when the register holds no value read from the device, or for an
  // enumeration text that is not in the list. Throws as EditWrites.
  TRegWrites PendingWrites(const QString &Text, const TModbus &Image) const;

  // Count registers from Reg carrying Text: character 2i+1 in the low byte of
  // word i and 2i+2 in the high byte (device codes), zero past the end.
  static TRegWrites PackText(int Reg, int Count, const QString &Text);

private:
  uint16_t ParseNumber(const QString &Text) const;
  QByteArray DeviceCodes(const TModbus &Image) const;
};
