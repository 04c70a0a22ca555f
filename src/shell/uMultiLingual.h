#pragma once
// Translation by the texts themselves: "MultiLingual.txt" beside the program
// holds one entry per line, "Russian#Ukrainian#English". A text is looked up
// in the column of the language the interface is shown in now and replaced by
// the same line's text in the target language; unknown texts stay as they are.
// The file is Windows-1251, like every text file of the program.
#include <QString>
#include <QStringList>
#include <vector>

// Language indices, as stored in menus and settings.
enum : int { lnUkrainian = 0, lnEnglish = 1, lnRussian = 2 };

class TMultiLingual {
public:
  TMultiLingual() = default;

  // "UA" 0, "RU" 2, "EN" and any other text 1.
  static int LanguageIndex(const QString &Code);

  // Loads the table from Folder/"MultiLingual.txt"; throws EKvError naming
  // the file when it cannot be read. The folder is kept for Reload.
  void Load(const QString &Folder);
  // The table from lines already read (one entry per line).
  void LoadLines(const QStringList &Lines);

  void SetLanguageCode(const QString &Code) { FTarget = LanguageIndex(Code); }
  void SetTargetLanguage(int Index);
  // The interface is now in the target language; the table is read again.
  void Reload();

  int CurrentLanguage() const { return FCurrent; }
  int TargetLanguage() const { return FTarget; }
  int Count() const { return int(FRows.size()); }

  // Text in the target language; Text itself when empty or not in the table.
  // The lookup ignores letter case, like the table's sort. A text not in the
  // current language's column is looked up in the Russian one: windows and
  // captions made after a switch are written in Russian, whatever the
  // interface showed before.
  QString Translate(const QString &Text) const;
  // A Russian text of the table in the target language; Text itself when
  // not in the table or not translated there. For texts the program makes
  // in Russian whatever the interface shows (the link's failure texts).
  QString FromRussian(const QString &Text) const;
  // A message for the status line or a box: the whole text when the table
  // holds it; else a fixed Russian beginning that ends in a blank ("Файл не
  // найден ") or is followed by a detail in parentheses ("недопустимый индекс
  // (line 5)") translated, and the rest (a name, a number) kept as made.
  // A message behind the names of the files it is about ("p.pack:
  // config.xml: нет элемента group") is translated after those names.
  QString TranslateMessage(const QString &Text) const;

private:
  // The whole text or its fixed beginning, as TranslateMessage says; Text itself when none.
  QString TranslateBeginning(const QString &Text) const;
  struct TRow {
    QString Text[3]; // by language index
  };
  void SortRows();

  QString FFolder;
  QStringList FLines;
  std::vector<TRow> FRows;
  std::vector<int> FByRussian; // row indices in the Russian column's order
  int FCurrent = lnRussian;
  int FTarget = lnRussian;
};

// The program-wide translator: Russian, empty until the program loads the
// table. It also translates the link's failure texts (SetLinkTextTranslator).
TMultiLingual &MultiLingual();

// Qt's own texts (standard buttons, file and print dialogs) follow the
// interface: the catalogue Qt ships for Russian or Ukrainian is installed,
// English needs none. Returns false when the catalogue is not on the machine.
bool InstallQtTranslation(int Language);
