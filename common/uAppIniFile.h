#pragma once
// The settings file: an ini file beside the program, only read. Every reader
// passes section, key and default at its call site; a missing file or key
// gives the default.
#include <QHash>
#include <QString>
#include <QStringList>

class TAppIniFile {
public:
  // The program's own settings file (see IniFileNameFor).
  TAppIniFile();
  // Any ini file, for tests and tools. The file is read once, here; bytes that
  // are not Windows-1251 (or UTF-8 after a byte-order mark) throw EKvFormat.
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
  const QString *Find(const QString &Section, const QString &Key) const;

  QString FFileName;
  QHash<QString, TSection> FSections; // lower-case section name
};

// The process-wide settings, read on first use.
TAppIniFile &AppIni();
