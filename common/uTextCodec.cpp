#include "uTextCodec.h"

#include "uErrors.h"

#include <QHash>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QStringEncoder>
#include <algorithm>
#include <array>

namespace {

// ICU (behind QStringConverter) knows both code pages by these names. Missing
// support is a broken installation, not bad input, so it stops at first use.
QStringDecoder MakeDecoder(const char *Name) {
  QStringDecoder d(Name, QStringConverter::Flag::Stateless);
  if (!d.isValid())
    throw EKvError(QString("text codec not available: %1").arg(Name));
  return d;
}

QStringEncoder MakeEncoder(const char *Name) {
  QStringEncoder e(Name, QStringConverter::Flag::Stateless);
  if (!e.isValid())
    throw EKvError(QString("text codec not available: %1").arg(Name));
  return e;
}

// Upper half of a code page as code points (0 where the byte is unassigned).
// Built from the codec itself so the two views can never disagree.
struct THighTable {
  std::array<char32_t, 128> Points{};
  QHash<char32_t, uint8_t> Bytes; // code point -> byte, upper half only
  bool Has(char32_t Cp) const { return Cp < 0x80 || Bytes.contains(Cp); }
};

THighTable BuildHighTable(const char *Name) {
  THighTable t;
  QStringDecoder d = MakeDecoder(Name);
  for (int b = 0x80; b <= 0xFF; ++b) {
    const char c = char(b);
    const QString s = d.decode(QByteArrayView(&c, 1));
    t.Points[size_t(b - 0x80)] = (s.size() == 1 && s[0] != QChar(0xFFFD) && s[0] != QChar(0x1A)) ? s[0].unicode() : 0;
    if (t.Points[size_t(b - 0x80)])
      t.Bytes.insert(t.Points[size_t(b - 0x80)], uint8_t(b));
  }
  return t;
}

const THighTable &Win1251Table() {
  static const THighTable t = BuildHighTable("windows-1251");
  return t;
}

const THighTable &Cp866Table() {
  static const THighTable t = BuildHighTable("IBM866");
  return t;
}

bool IsAscii(QByteArrayView Bytes) {
  for (char c : Bytes)
    if (uchar(c) >= 0x80)
      return false;
  return true;
}

// Both code pages keep ASCII as it is; plain-ASCII texts (listings, generated
// code) skip the converter, which costs more than the text. A single-byte page
// decodes byte by byte, so the table made from the converter answers for it,
// but for the bytes the table leaves unassigned.
QString Decode(const char *Name, QByteArrayView Bytes, const THighTable &Table) {
  if (IsAscii(Bytes))
    return QString::fromLatin1(Bytes);
  QString out(Bytes.size(), Qt::Uninitialized);
  char16_t *o = reinterpret_cast<char16_t *>(out.data());
  for (char c : Bytes) {
    const uchar b = uchar(c);
    const char32_t cp = b < 0x80 ? b : Table.Points[b - 0x80];
    if (cp == 0 && b != 0)
      return MakeDecoder(Name).decode(Bytes);
    *o++ = char16_t(cp);
  }
  return out;
}

// Each character the code page lacks is replaced by "?" before encoding, so the
// result never depends on the converter's own substitution byte.
QByteArray Encode(const char *Name, const QString &Text, const THighTable &Table) {
  if (std::all_of(Text.cbegin(), Text.cend(), [](QChar c) { return c.unicode() < 0x80; }))
    return Text.toLatin1();
  QString clean;
  clean.reserve(Text.size());
  const qsizetype n = Text.size();
  for (qsizetype i = 0; i < n; ++i) {
    const QChar c = Text[i];
    if (c.unicode() < 0x80 || (!c.isSurrogate() && Table.Has(c.unicode()))) {
      clean += c;
      continue;
    }
    // A pair stands for one character outside the code page: one "?".
    if (c.isHighSurrogate() && i + 1 < n && Text[i + 1].isLowSurrogate())
      ++i;
    clean += QLatin1Char('?');
  }
  QStringEncoder e = MakeEncoder(Name);
  return e.encode(clean);
}

// Well-formed UTF-8 as the standard has it: no overlong forms, no surrogates,
// nothing above U+10FFFF, no sequence cut short.
qsizetype FirstBadUtf8(QByteArrayView B) {
  const qsizetype n = B.size();
  for (qsizetype i = 0; i < n;) {
    const uchar c = uchar(B[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    int len;
    char32_t cp, least;
    if ((c & 0xE0) == 0xC0) {
      len = 2, cp = c & 0x1F, least = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
      len = 3, cp = c & 0x0F, least = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
      len = 4, cp = c & 0x07, least = 0x10000;
    } else {
      return i;
    }
    if (i + len > n)
      return i;
    for (int k = 1; k < len; ++k) {
      const uchar t = uchar(B[i + k]);
      if ((t & 0xC0) != 0x80)
        return i;
      cp = (cp << 6) | (t & 0x3F);
    }
    if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
      return i;
    i += len;
  }
  return -1;
}

qsizetype FirstBadUtf16(QByteArrayView B, bool IsLittleEndian) {
  const qsizetype n = B.size() & ~qsizetype(1);
  auto unit = [&](qsizetype i) {
    return IsLittleEndian ? char16_t(uchar(B[i]) | uchar(B[i + 1]) << 8) : char16_t(uchar(B[i]) << 8 | uchar(B[i + 1]));
  };
  for (qsizetype i = 0; i < n; i += 2) {
    const char16_t u = unit(i);
    if (QChar::isHighSurrogate(u)) {
      if (i + 2 >= n || !QChar::isLowSurrogate(unit(i + 2)))
        return i;
      i += 2;
    } else if (QChar::isLowSurrogate(u)) {
      return i;
    }
  }
  return n == B.size() ? -1 : n;
}

// Any other code page: the converter tells whether something failed, not
// where, and only when it decodes without state. The place is found by
// decoding one character at a time (no code page needs more than 4 bytes for
// one); this runs only for a file already known to be bad.
qsizetype FirstBadOther(QByteArrayView B, const QByteArray &Name) {
  if (!QStringDecoder(Name.constData()).isValid())
    return -2;
  const auto isClean = [&Name](QByteArrayView Part) {
    QStringDecoder d(Name.constData(), QStringConverter::Flag::Stateless);
    const QString s = d.decode(Part);
    return !d.hasError();
  };
  if (isClean(B))
    return -1;
  const qsizetype n = B.size();
  for (qsizetype start = 0; start < n;) {
    qsizetype len = 1;
    while (len <= 4 && start + len <= n && !isClean(B.sliced(start, len)))
      ++len;
    if (len > 4 || start + len > n)
      return start;
    start += len;
  }
  return n - 1; // clean piece by piece but not whole: the end cuts a sequence
}

} // namespace

qsizetype FirstInvalidByte(QByteArrayView Bytes, const QString &Encoding, qsizetype Offset) {
  const QString enc = Encoding.toLower();
  qsizetype at;
  if (enc == "utf-8" || enc == "utf8") {
    at = FirstBadUtf8(Bytes);
  } else if (enc == "windows-1251" || enc == "cp1251") {
    at = Bytes.indexOf('\x98'); // the one byte the code page leaves unassigned
  } else if (enc == "utf-16le" || enc == "utf-16be") {
    at = FirstBadUtf16(Bytes, enc.endsWith("le"));
  } else {
    at = FirstBadOther(Bytes, enc.toLatin1());
    if (at == -2)
      return -2;
  }
  return at < 0 ? -1 : at + Offset;
}

QString InvalidByteText(const QString &Encoding, qsizetype At) {
  return QString("invalid %1 byte at offset %2").arg(Encoding).arg(At);
}

QString DecodeFileText(QByteArrayView Bytes, const QString &FileName) {
  const bool isUtf8 = Bytes.startsWith("\xEF\xBB\xBF");
  const QString enc = isUtf8 ? "UTF-8" : "windows-1251";
  const QByteArrayView body = isUtf8 ? Bytes.sliced(3) : Bytes;
  const qsizetype at = FirstInvalidByte(body, enc, isUtf8 ? 3 : 0);
  if (at >= 0)
    throw EKvFormat(FileName + ": " + InvalidByteText(enc, at));
  return isUtf8 ? QString::fromUtf8(body) : FromWin1251(body);
}

qsizetype FirstMixedWord(const QString &Text) {
  qsizetype start = 0;
  bool latin = false, cyrillic = false;
  for (qsizetype i = 0; i < Text.size(); ++i) {
    const QChar c = Text[i];
    // A combining mark belongs to the letter before it.
    if (!c.isLetter() && !c.isMark()) {
      latin = cyrillic = false;
      start = i + 1;
      continue;
    }
    latin = latin || c.script() == QChar::Script_Latin;
    cyrillic = cyrillic || c.script() == QChar::Script_Cyrillic;
    if (latin && cyrillic)
      return start;
  }
  return -1;
}

QString FromWin1251(QByteArrayView Bytes) { return Decode("windows-1251", Bytes, Win1251Table()); }

QByteArray ToWin1251(const QString &Text) { return Encode("windows-1251", Text, Win1251Table()); }

bool IsWin1251Char(char32_t CodePoint) {
  return Win1251Table().Has(CodePoint);
}

QString FromCp866(QByteArrayView Bytes) { return Decode("IBM866", Bytes, Cp866Table()); }

QByteArray ToCp866(const QString &Text) { return Encode("IBM866", Text, Cp866Table()); }

bool ReadIntText(const QString &Text, bool IsLenient, TIntText &Out) {
  qsizetype i = 0;
  const qsizetype n = Text.size();
  while (IsLenient && i < n && (Text[i] == ' ' || Text[i] == '\t'))
    ++i;
  TIntText parts;
  if (i < n && (Text[i] == '-' || Text[i] == '+'))
    parts.IsNegative = Text[i++] == '-';
  if (i < n && Text[i] == '$') {
    parts.IsHex = true;
    ++i;
  } else if (IsLenient && i + 1 < n && Text[i] == '0' && (Text[i + 1] == 'x' || Text[i + 1] == 'X')) {
    parts.IsHex = true;
    i += 2;
  }
  if (i >= n)
    return false;
  const quint64 base = parts.IsHex ? 16 : 10;
  for (; i < n; ++i) {
    const char16_t c = Text[i].unicode();
    int digit;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (parts.IsHex && c >= 'a' && c <= 'f')
      digit = c - 'a' + 10;
    else if (parts.IsHex && c >= 'A' && c <= 'F')
      digit = c - 'A' + 10;
    else
      return false;
    parts.Magnitude = parts.Magnitude * base + quint64(digit);
    if (parts.Magnitude > 0xFFFFFFFFull)
      return false;
  }
  Out = parts;
  return true;
}

bool TryStrToInt(const QString &Text, int &Out) {
  TIntText parts;
  if (!ReadIntText(Text, true, parts))
    return false;
  const quint64 mag = parts.Magnitude;
  if (parts.IsHex && !parts.IsNegative) {
    Out = int(uint32_t(mag));
    return true;
  }
  if (parts.IsNegative ? mag > 2147483648ull : mag > 2147483647ull)
    return false;
  Out = parts.IsNegative ? int(-qint64(mag)) : int(mag);
  return true;
}

bool TryStrToFloat(const QString &Text, double &Out) {
  static const QRegularExpression number(R"(^\s*[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?$)");
  if (!number.match(Text).hasMatch())
    return false;
  bool ok = false;
  const double d = Text.trimmed().toDouble(&ok);
  if (!ok)
    return false;
  Out = d;
  return true;
}
