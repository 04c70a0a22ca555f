#include "uAppIniFile.h"

#include "uFiles.h"
#include "uTextCodec.h"

#include <QFile>
#include <QFileInfo>
#include <QDir>
#include <QRegularExpression>

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
  const QString text = DecodeFileText(Bytes, FFileName);
  // Looked up per line: QHash does not keep element addresses across inserts.
  QString current;
  bool inSection = false;
  const QStringList lines = text.split(QRegularExpression("\r\n|\n|\r"));
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
