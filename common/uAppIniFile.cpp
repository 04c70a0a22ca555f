#include "uAppIniFile.h"

#include "uFiles.h"
#include "uTextCodec.h"

#include <QFile>
#include <QFileInfo>
#include <QDir>
#include <QRegularExpression>

namespace {
// Where Bytes stop being UTF-8 of characters Windows-1251 has, or -1.
qsizetype FirstNonWin1251Utf8(QByteArrayView Bytes) {
  if (const qsizetype bad = FirstInvalidByte(Bytes, QStringLiteral("UTF-8")); bad >= 0)
    return bad;
  qsizetype at = 0;
  while (at < Bytes.size()) {
    const uchar lead = uchar(Bytes[at]);
    const qsizetype length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    if (lead >= 0x80) {
      const QString c = QString::fromUtf8(Bytes.sliced(at, length));
      if (!IsWin1251Char(c.toUcs4().value(0)))
        return at;
    }
    at += length;
  }
  return -1;
}

// Whether the Windows-1251 reading Text of Bytes holds, right after a
// Cyrillic letter, a sign of 0x80-0xBF that is not a letter ("Г‰", "Г©"):
// the two bytes of a UTF-8 letter, whose first byte reads as a capital of
// А-Я. Every Cyrillic letter of that range (Ђ, Ї, ѕ, ...) is a letter, so
// "ДІ" is not such a pair.
bool HasSignAfterCyrillic(QByteArrayView Bytes, const QString &Text) {
  for (qsizetype i = 1; i < Text.size(); ++i) {
    const uchar b = uchar(Bytes[i]);
    if (b >= 0x80 && b <= 0xBF && !Text[i].isLetter() && Text[i - 1].isLetter() &&
        Text[i - 1].script() == QChar::Script_Cyrillic)
      return true;
  }
  return false;
}
} // namespace

EKvIniEncoding::EKvIniEncoding(const QString &AFileName, qsizetype AUtf8At, qsizetype AWin1251At, const QString &ALang)
    : EKvFormat(QString::fromUtf8(IniTexts::NotUtf8NorWin1251).arg(AFileName).arg(AUtf8At).arg(AWin1251At)),
      FileName(AFileName), Utf8At(AUtf8At), Win1251At(AWin1251At), Lang(ALang) {}

QString EKvIniEncoding::TextIn(const std::function<QString(const QString &)> &Translate) const {
  const QString format = QString::fromUtf8(IniTexts::NotUtf8NorWin1251);
  return (Translate ? Translate(format) : format).arg(FileName).arg(Utf8At).arg(Win1251At);
}

TAppIniFile::TAppIniFile() : TAppIniFile(IniFileNameFor(ProgramFilePath())) {}

TAppIniFile::TAppIniFile(const QString &FileName) : FFileName(FileName) {
  QFile f(FileName);
  if (f.open(QIODevice::ReadOnly))
    Parse(f.readAll());
}

QString TAppIniFile::IniFileNameFor(const QString &ProgramFile) {
  const QFileInfo fi(ProgramFile);
  const QString name = fi.fileName();
  const qsizetype dot = name.indexOf('.');
  return QDir(fi.absolutePath()).filePath((dot < 0 ? name : name.left(dot)) + ".ini");
}

// Sections and keys compare without regard to case and the first occurrence
// wins, as with the platform's ini reader the files were written for. Lines
// that are neither a section header nor "key=value" are ignored.
void TAppIniFile::Parse(const QByteArray &Bytes) {
  // A file saved by a Linux editor is UTF-8 without a mark. A Windows-1251
  // file may happen to be valid UTF-8 too ("ДІ" is C4 B2, U+0132), but then
  // decodes into characters Windows-1251 does not have; so does a UTF-8 file
  // with a letter Windows-1251 lacks ("ü"). Of two readings, the one whose
  // words do not mix Latin and Cyrillic letters is the file's. An accented
  // letter that begins a word mixes nothing in either ("Études" reads
  // "Г‰tudes"): there a sign after a Cyrillic capital tells UTF-8.
  if (!Bytes.startsWith("\xEF\xBB\xBF")) {
    const qsizetype utf8At = FirstNonWin1251Utf8(Bytes);
    if (utf8At < 0)
      return ParseText(QString::fromUtf8(Bytes));
    const auto lang = [this] { return ReadString(QStringLiteral("setup"), QStringLiteral("lang"), {}); };
    const qsizetype win1251Bad = FirstInvalidByte(Bytes, QStringLiteral("windows-1251"));
    if (FirstInvalidByte(Bytes, QStringLiteral("UTF-8")) < 0) {
      const QString win1251 = FromWin1251(Bytes);
      // Windows-1251 decodes one byte to one character: an index is an offset.
      const qsizetype win1251At = win1251Bad >= 0 ? win1251Bad : FirstMixedWord(win1251);
      const QString utf8 = QString::fromUtf8(Bytes);
      const qsizetype mixedAt = FirstMixedWord(utf8);
      if (win1251At < 0 && (mixedAt >= 0 || !HasSignAfterCyrillic(Bytes, win1251)))
        return ParseText(win1251);
      if (mixedAt < 0)
        return ParseText(utf8);
      ParseText(win1251);
      throw EKvIniEncoding(FFileName, utf8.left(mixedAt).toUtf8().size(), win1251At, lang());
    }
    if (win1251Bad >= 0) {
      ParseText(FromWin1251(Bytes));
      throw EKvIniEncoding(FFileName, utf8At, win1251Bad, lang());
    }
  }
  ParseText(DecodeFileText(Bytes, FFileName));
}

void TAppIniFile::ParseText(const QString &Text) {
  // Looked up per line: QHash does not keep element addresses across inserts.
  QString current;
  bool inSection = false;
  const QStringList lines = Text.split(QRegularExpression("\r\n|\n|\r"));
  for (const QString &raw : lines) {
    const QString line = raw.trimmed();
    if (line.isEmpty() || line.startsWith(';'))
      continue;
    if (line.startsWith('[')) {
      const qsizetype close = line.indexOf(']');
      if (close < 0) {
        inSection = false; // a broken header: its lines belong to no section
        continue;
      }
      // A repeated section is never searched: the first one with the name wins.
      current = line.mid(1, close - 1).trimmed().toLower();
      inSection = !FSections.contains(current);
      if (inSection)
        FSections.insert(current, TSection());
      continue;
    }
    const qsizetype eq = line.indexOf('=');
    if (!inSection || eq <= 0)
      continue;
    const QString key = line.left(eq).trimmed();
    if (key.isEmpty())
      continue;
    const QString lkey = key.toLower();
    TSection &sec = FSections[current];
    if (sec.Values.contains(lkey))
      continue;
    sec.Keys << key;
    sec.Values.insert(lkey, line.mid(eq + 1).trimmed());
  }
}

const QString *TAppIniFile::Find(const QString &Section, const QString &Key) const {
  const auto s = FSections.constFind(Section.toLower());
  if (s == FSections.cend())
    return nullptr;
  const auto v = s->Values.constFind(Key.toLower());
  return v == s->Values.cend() ? nullptr : &*v;
}

QString TAppIniFile::ReadString(const QString &Section, const QString &Key, const QString &Default) const {
  const QString *v = Find(Section, Key);
  return v ? *v : Default;
}

int TAppIniFile::ReadInteger(const QString &Section, const QString &Key, int Default) const {
  const QString *v = Find(Section, Key);
  int out = Default;
  return v && TryStrToInt(*v, out) ? out : Default;
}

bool TAppIniFile::ReadBool(const QString &Section, const QString &Key, bool Default) const {
  return ReadInteger(Section, Key, Default ? 1 : 0) != 0;
}

double TAppIniFile::ReadFloat(const QString &Section, const QString &Key, double Default) const {
  const QString *v = Find(Section, Key);
  double out = Default;
  return v && TryStrToFloat(*v, out) ? out : Default;
}

bool TAppIniFile::SectionExists(const QString &Section) const { return FSections.contains(Section.toLower()); }

bool TAppIniFile::ValueExists(const QString &Section, const QString &Key) const { return Find(Section, Key); }

QStringList TAppIniFile::ReadSection(const QString &Section) const {
  const auto s = FSections.constFind(Section.toLower());
  return s == FSections.cend() ? QStringList() : s->Keys;
}

TAppIniFile &AppIni() {
  static TAppIniFile ini;
  return ini;
}
