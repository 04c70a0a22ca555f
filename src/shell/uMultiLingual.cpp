#include "uMultiLingual.h"

#include "uLinkText.h"

#include "uErrors.h"
#include "uTextCodec.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <algorithm>
#include <cstring>
#include <memory>

namespace {
const char *const TableFileName = "MultiLingual.txt";

int CompareText(const QString &A, const QString &B) { return QString::compare(A, B, Qt::CaseInsensitive); }
} // namespace

int TMultiLingual::LanguageIndex(const QString &Code) {
  if (Code == QLatin1String("UA"))
    return lnUkrainian;
  if (Code == QLatin1String("RU"))
    return lnRussian;
  return lnEnglish;
}

void TMultiLingual::SetTargetLanguage(int Index) {
  KvCheck(Index >= 0 && Index <= 2, "src/uMultiLingual: language index out of range");
  FTarget = Index;
}

void TMultiLingual::Load(const QString &Folder) {
  FFolder = Folder;
  const QString path = QDir(Folder).filePath(TableFileName);
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly))
    throw EKvError("cannot open " + path + ": " + f.errorString());
  const QString text = DecodeFileText(f.readAll(), path);
  // Lines end in CR LF, LF or CR alone, as a string list reads them.
  QStringList lines;
  qsizetype start = 0;
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text.at(i);
    if (c == u'\r' || c == u'\n') {
      lines << text.mid(start, i - start);
      if (c == u'\r' && i + 1 < text.size() && text.at(i + 1) == u'\n')
        ++i;
      start = i + 1;
    }
  }
  if (start < text.size())
    lines << text.mid(start);
  LoadLines(lines);
}

void TMultiLingual::LoadLines(const QStringList &Lines) {
  FLines = Lines;
  SortRows();
}

void TMultiLingual::SortRows() {
  FRows.clear();
  FRows.reserve(size_t(FLines.size()));
  for (const QString &line : std::as_const(FLines)) {
    // Split at the first two "#" only: the English column keeps any further ones.
    TRow row;
    const qsizetype first = line.indexOf(u'#');
    if (first < 0) {
      row.Text[lnRussian] = line;
    } else {
      row.Text[lnRussian] = line.left(first);
      const qsizetype second = line.indexOf(u'#', first + 1);
      if (second < 0) {
        row.Text[lnUkrainian] = line.mid(first + 1);
      } else {
        row.Text[lnUkrainian] = line.mid(first + 1, second - first - 1);
        row.Text[lnEnglish] = line.mid(second + 1);
      }
    }
    FRows.push_back(row);
  }
  const int key = FCurrent;
  std::stable_sort(FRows.begin(), FRows.end(),
                   [key](const TRow &A, const TRow &B) { return CompareText(A.Text[key], B.Text[key]) < 0; });
  FByRussian.resize(FRows.size());
  for (size_t i = 0; i < FRows.size(); ++i)
    FByRussian[i] = int(i);
  std::stable_sort(FByRussian.begin(), FByRussian.end(), [this](int A, int B) {
    return CompareText(FRows[size_t(A)].Text[lnRussian], FRows[size_t(B)].Text[lnRussian]) < 0;
  });
}

void TMultiLingual::Reload() {
  FCurrent = FTarget;
  if (FFolder.isEmpty())
    SortRows();
  else
    Load(FFolder);
}

QString TMultiLingual::Translate(const QString &Text) const {
  if (Text.isEmpty())
    return Text;
  const int key = FCurrent;
  auto it = std::lower_bound(FRows.begin(), FRows.end(), Text,
                             [key](const TRow &Row, const QString &T) { return CompareText(Row.Text[key], T) < 0; });
  if (it != FRows.end() && CompareText(it->Text[key], Text) == 0)
    return it->Text[FTarget];
  if (key == lnRussian)
    return Text;
  auto ru = std::lower_bound(FByRussian.begin(), FByRussian.end(), Text, [this](int Row, const QString &T) {
    return CompareText(FRows[size_t(Row)].Text[lnRussian], T) < 0;
  });
  if (ru == FByRussian.end() || CompareText(FRows[size_t(*ru)].Text[lnRussian], Text) != 0)
    return Text;
  return FRows[size_t(*ru)].Text[FTarget];
}

QString TMultiLingual::FromRussian(const QString &Text) const {
  for (const TRow &row : FRows)
    if (CompareText(row.Text[lnRussian], Text) == 0)
      return row.Text[FTarget].isEmpty() ? Text : row.Text[FTarget];
  return Text;
}

QString TMultiLingual::TranslateMessage(const QString &Text) const {
  const QString whole = TranslateBeginning(Text);
  if (whole != Text || FTarget == lnRussian)
    return whole;
  // The names a message is about come first, each followed by ": ".
  for (qsizetype at = Text.indexOf(QStringLiteral(": ")); at > 0; at = Text.indexOf(QStringLiteral(": "), at + 2)) {
    const QString tail = Text.mid(at + 2);
    if (const QString shown = TranslateBeginning(tail); shown != tail)
      return Text.left(at + 2) + shown;
  }
  return Text;
}

QString TMultiLingual::TranslateBeginning(const QString &Text) const {
  const QString whole = Translate(Text);
  if (whole != Text || FTarget == lnRussian)
    return whole;
  const TRow *best = nullptr;
  for (const TRow &row : FRows) {
    const QString &key = row.Text[lnRussian];
    // The beginning ends in a blank, or a detail in parentheses follows it.
    if (key.size() > 3 && key.size() < Text.size() && !row.Text[FTarget].isEmpty() &&
        (key.endsWith(u' ') || QStringView(Text).mid(key.size()).startsWith(u" (")) &&
        Text.startsWith(key, Qt::CaseInsensitive) && (!best || key.size() > best->Text[lnRussian].size()))
      best = &row;
  }
  return best ? best->Text[FTarget] + Text.mid(best->Text[lnRussian].size()) : Text;
}

TMultiLingual &MultiLingual() {
  static TMultiLingual m;
  static const bool linked = [] {
    SetLinkTextTranslator([](const QString &Text) { return m.FromRussian(Text); });
    return true;
  }();
  (void)linked;
  return m;
}

namespace {
// Texts of Qt's own dialogs that the catalogues Qt ships leave untranslated
// (the file dialog's kind of a folder, the print dialog's two-sided printing
// in Ukrainian). Installed after Qt's catalogue, so asked first, it answers
// only these and leaves every other text to Qt.
class TQtGapTranslator : public QTranslator {
public:
  explicit TQtGapTranslator(int Language) : FLanguage(Language) {}
  bool isEmpty() const override { return false; }
  QString translate(const char *Context, const char *Source, const char *, int) const override {
    struct TGap {
      const char *Context, *Source, *Russian, *Ukrainian;
    };
    static const TGap Gaps[] = {
        {"QAbstractFileIconProvider", "Folder", "Папка", "Тека"},
        {"QAbstractFileIconProvider", "Drive", "Диск", "Диск"},
        {"QAbstractFileIconProvider", "Shortcut", "Ярлык", "Ярлик"},
        {"QAbstractFileIconProvider", "File", "Файл", "Файл"},
        {"QAbstractFileIconProvider", "%1 File", "Файл %1", "Файл %1"},
        {"QPrintSettingsOutput", "Double Sided Printing", "Двусторонняя печать", "Двосторонній друк"},
        {"QPrintSettingsOutput", "Long side binding", "Переплёт по длинной стороне", "Зшивання по довгій стороні"},
        {"QPrintSettingsOutput", "Short side binding", "Переплёт по короткой стороне", "Зшивання по короткій стороні"},
        {"QPrintSettingsOutput", "Off", "Выключено", "Вимкнено"},
        {"QPrintSettingsOutput", "Pages", "Страницы", "Сторінки"},
        {"QPrintSettingsOutput",
         "Specify pages or ranges separated by commas. Ranges are specified by two numbers separated by a hyphen. "
         "E.g: 3,5-7,9 prints pages 3, 5, 6, 7 and 9.",
         "Укажите страницы или диапазоны через запятую. Диапазон - два числа через дефис. Например, 3,5-7,9 "
         "печатает страницы 3, 5, 6, 7 и 9.",
         "Вкажіть сторінки або діапазони через кому. Діапазон - два числа через дефіс. Наприклад, 3,5-7,9 "
         "друкує сторінки 3, 5, 6, 7 і 9."},
    };
    if (!Context || !Source)
      return QString();
    for (const TGap &g : Gaps)
      if (std::strcmp(Context, g.Context) == 0 && std::strcmp(Source, g.Source) == 0)
        return QString::fromUtf8(FLanguage == lnUkrainian ? g.Ukrainian : g.Russian);
    return QString();
  }

private:
  int FLanguage;
};
} // namespace

bool InstallQtTranslation(int Language) {
  static std::unique_ptr<QTranslator> installed, gaps;
  for (auto *t : {&gaps, &installed})
    if (*t) {
      QCoreApplication::removeTranslator(t->get());
      t->reset();
    }
  // Month names and the file types of the file dialog come with the locale;
  // the program's own numbers are written with a point whatever it is.
  QLocale::setDefault(Language == lnUkrainian ? QLocale(QLocale::Ukrainian, QLocale::Ukraine)
                      : Language == lnRussian ? QLocale(QLocale::Russian, QLocale::Russia)
                                              : QLocale(QLocale::English, QLocale::UnitedStates));
  if (Language == lnEnglish)
    return true;
  auto t = std::make_unique<QTranslator>();
  const QString name = Language == lnUkrainian ? QStringLiteral("qtbase_uk") : QStringLiteral("qtbase_ru");
  if (!t->load(name, QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    return false;
  QCoreApplication::installTranslator(t.get());
  installed = std::move(t);
  gaps = std::make_unique<TQtGapTranslator>(Language);
  QCoreApplication::installTranslator(gaps.get());
  return true;
}
