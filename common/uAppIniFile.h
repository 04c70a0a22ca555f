#pragma once
// The settings file: an ini file beside the program, only read. Every reader
// passes section, key and default at its call site; a missing file or key
// gives the default.
#include "uErrors.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <functional>

namespace IniTexts {
// %1 the file, %2 the offset where UTF-8 fails, %3 where Windows-1251 fails.
inline constexpr const char *NotUtf8NorWin1251 =
    "Файл настроек %1 не в кодировке UTF-8 (байт %2) и не в windows-1251 (байт %3)";
} // namespace IniTexts

// A settings file whose bytes fit neither encoding it may be in. The settings
// are read before the translation table, so the text is made by the catcher
// in the interface's language: the language the file asks for in setup/lang
// (read from what does decode) is carried along.
class EKvIniEncoding : public EKvFormat {
public:
  EKvIniEncoding(const QString &AFileName, qsizetype AUtf8At, qsizetype AWin1251At, const QString &ALang);
  // The text with the template given by Translate (the Russian one by default).
  QString TextIn(const std::function<QString(const QString &)> &Translate) const;
  QString FileName;
  qsizetype Utf8At, Win1251At;
  QString Lang; // setup/lang as written, "" when absent
};

class TAppIniFile {
public:
  // The program's own settings file (see IniFileNameFor).
  TAppIniFile();
  // Any ini file, for tests and tools. The file is read once, here. After a
  // byte-order mark it is UTF-8; without one it is UTF-8 when it decodes so
  // into characters that Windows-1251 has (what editors write). Valid UTF-8
  // with other characters is Windows-1251 when that reading has no word
  // mixing Latin and Cyrillic letters (FirstMixedWord) and, where the UTF-8
  // reading has none either, no sign of 0x80-0xBF that is not a letter right
  // after a Cyrillic letter ("Г‰tudes" is "Études"); else UTF-8 when that
  // reading has no mixed word; any other file is Windows-1251. Bytes invalid in the
  // encoding read throw EKvFormat, and EKvIniEncoding when neither fits (its
  // offsets: the bad byte or the first mixed word of each reading).
  explicit TAppIniFile(const QString &FileName);

  // The value as written after "=", blanks around it removed.
  QString ReadString(const QString &Section, const QString &Key, const QString &Default) const;
  // Decimal, "$FF" or "0xFF"; anything else (or out of 32-bit range) gives Default.
  int ReadInteger(const QString &Section, const QString &Key, int Default) const;
  // ReadInteger(...) != 0, so "true" or "yes" give Default, as stored files expect.
  bool ReadBool(const QString &Section, const QString &Key, bool Default) const;
  // A number with "." as decimal separator; anything else gives Default.
  double ReadFloat(const QString &Section, const QString &Key, double Default) const;

  bool SectionExists(const QString &Section) const;
  bool ValueExists(const QString &Section, const QString &Key) const;
  // The keys of a section in file order.
  QStringList ReadSection(const QString &Section) const;

  QString FileName() const { return FFileName; }

  // The folder of the program file, its name up to the first ".", then ".ini":
  // /opt/kv/app.new.bin gives /opt/kv/app.ini.
  static QString IniFileNameFor(const QString &ProgramFile);

private:
  struct TSection {
    QStringList Keys;               // as written, file order, first occurrence
    QHash<QString, QString> Values; // lower-case key -> value
  };
  void Parse(const QByteArray &Bytes);
  void ParseText(const QString &Text);
  const QString *Find(const QString &Section, const QString &Key) const;

  QString FFileName;
  QHash<QString, TSection> FSections; // lower-case section name
};

// The process-wide settings, read on first use.
TAppIniFile &AppIni();
