#include "uMultiLingual.h"
#include "../../common/uErrorOf.h"

#include "uErrors.h"
#include "uTextCodec.h"

#include <QDirIterator>
#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {
// Russian#Ukrainian#English, deliberately out of order.
const QStringList Table = {
    "Уставки#Уставки#Setpoints", "Опрос#Опитування#Poll", "Журнал событий#Журнал подій#Event log",
    "Выход#Вихід#Exit",          "&Файл#&Файл#&File",
};

TMultiLingual Loaded(const QStringList &Lines = Table) {
  TMultiLingual m;
  m.LoadLines(Lines);
  return m;
}

void WriteFile(const QString &Path, const QByteArray &Bytes) {
  QFile f(Path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(Bytes);
}
} // namespace

TEST(MultiLingual, LanguageCodesMapToIndices) {
  // Codes are upper case; anything else is English.
  const std::pair<const char *, int> cases[] = {{"UA", lnUkrainian}, {"RU", lnRussian}, {"EN", lnEnglish},
                                                {"DE", lnEnglish},   {"ru", lnEnglish}, {"", lnEnglish}};
  for (const auto &[code, index] : cases)
    EXPECT_EQ(TMultiLingual::LanguageIndex(code), index) << code;
}

TEST(MultiLingual, LookupFromRussian) {
  const struct {
    const char *Code, *Text, *Expected;
  } cases[] = {
      {"RU", "Опрос", "Опрос"}, // a Russian target keeps every text
      {"RU", "Нет в таблице", "Нет в таблице"},
      {"EN", "Опрос", "Poll"},
      {"EN", "", ""},
      {"EN", "Параметры", "Параметры"}, // unknown texts stay
      {"EN", "Опрос ", "Опрос "},       // blanks are part of the text
      {"EN", "ОПРОС", "Poll"},          // letter case is ignored
      {"EN", "выход", "Exit"},
      {"EN", "&Файл", "&File"}, // the accelerator must match the table
      {"EN", "Файл", "Файл"},
      {"EN", "&Опрос", "&Опрос"},
  };
  for (const auto &c : cases) {
    TMultiLingual m = Loaded();
    m.SetLanguageCode(c.Code);
    EXPECT_EQ(m.Translate(QString::fromUtf8(c.Text)), QString::fromUtf8(c.Expected)) << c.Code << " " << c.Text;
  }
}

TEST(MultiLingual, SecondSwitchTranslatesFromTheLastTarget) {
  TMultiLingual m = Loaded();
  m.SetTargetLanguage(lnEnglish);
  EXPECT_EQ(m.Translate("Журнал событий"), "Event log");
  // As the main window does: the interface is now English, then Ukrainian.
  m.Reload();
  m.SetTargetLanguage(lnUkrainian);
  EXPECT_EQ(m.CurrentLanguage(), lnEnglish);
  EXPECT_EQ(m.Translate("Event log"), "Журнал подій");
  EXPECT_EQ(m.Translate("Poll"), "Опитування");
  // A window made after the switch is written in Russian: its texts are
  // still found, through the Russian column.
  EXPECT_EQ(m.Translate("Опрос"), "Опитування");
  EXPECT_EQ(m.Translate("Нет в таблице"), "Нет в таблице");
}

TEST(MultiLingual, ColumnsSplitAtTheFirstTwoHashes) {
  TMultiLingual m = Loaded({"Один", "Два#Два-ua", "Три#Три-ua#Three#extra", " Четыре #Чотири#Four"});
  m.SetTargetLanguage(lnEnglish);
  EXPECT_EQ(m.Translate("Один"), ""); // missing columns are empty
  EXPECT_EQ(m.Translate("Два"), "");
  EXPECT_EQ(m.Translate("Три"), "Three#extra");
  EXPECT_EQ(m.Translate(" Четыре "), "Four"); // no trimming
  EXPECT_EQ(m.Translate("Четыре"), "Четыре");
  m.SetTargetLanguage(lnUkrainian);
  EXPECT_EQ(m.Translate("Два"), "Два-ua");
}

TEST(MultiLingual, ManyEntriesAreAllFound) {
  QStringList lines;
  for (int i = 999; i >= 0; --i)
    lines << QString("Текст %1#Текст-ua %1#Text %1").arg(i);
  TMultiLingual m = Loaded(lines);
  m.SetTargetLanguage(lnEnglish);
  for (int i = 0; i < 1000; ++i)
    ASSERT_EQ(m.Translate(QString("Текст %1").arg(i)), QString("Text %1").arg(i));
}

TEST(MultiLingual, LoadsTheWindows1251FileWithAnyLineEnds) {
  QTemporaryDir dir;
  // "Опрос#Опитування#Poll" CR LF "Выход#Вихід#Exit" LF "Уставки##Setpoints" CR, in Windows-1251.
  const QByteArray bytes = QByteArray::fromHex("ceeff0eef123ceefe8f2f3e2e0ededff23506f6c6c0d0a"
                                               "c2fbf5eee423c2e8f5b3e42345786974"
                                               "0a"
                                               "d3f1f2e0e2eae8232353657470"
                                               "6f696e74730d");
  WriteFile(dir.filePath("MultiLingual.txt"), bytes);
  TMultiLingual m;
  m.Load(dir.path());
  EXPECT_EQ(m.Count(), 3);
  m.SetTargetLanguage(lnEnglish);
  EXPECT_EQ(m.Translate("Выход"), "Exit");
  EXPECT_EQ(m.Translate("Уставки"), "Setpoints");
  m.SetTargetLanguage(lnUkrainian);
  EXPECT_EQ(m.Translate("Выход"), "Вихід");
  EXPECT_EQ(m.Translate("Уставки"), "");
  // Reload reads the file again.
  WriteFile(dir.filePath("MultiLingual.txt"), "A#B#C\r\n");
  m.SetTargetLanguage(lnRussian);
  m.Reload();
  EXPECT_EQ(m.Count(), 1);
}

TEST(MultiLingual, MissingFileNamesThePath) {
  QTemporaryDir dir;
  TMultiLingual m;
  EXPECT_TRUE(
      ErrorOf([&] { m.Load(dir.path()); }).startsWith("cannot open " + dir.filePath("MultiLingual.txt") + ": "));
}

TEST(MultiLingual, EveryTextTheSourcesTranslateHasItsThreeLanguages) {
  // The shipped table, column by column, keyed by its Russian text.
  QFile table(KV_SOURCE_DIR "/src/resources/MultiLingual.txt");
  ASSERT_TRUE(table.open(QIODevice::ReadOnly));
  QHash<QString, QStringList> rows;
  for (const QString &line : DecodeFileText(table.readAll(), table.fileName()).split(QRegularExpression("\r\n|\n|\r")))
    if (const QStringList cols = line.split(u'#'); !rows.contains(cols[0].toLower()))
      rows.insert(cols[0].toLower(), cols);

  // Texts handed to the translator as literals: Translate("…") in its
  // spellings, the pages' own Tr("…") where it translates, and the captions
  // of the file dialogs the pages open (the dialog translates them).
  const QString text = QStringLiteral(R"re("((?:[^"\\]|\\.)*)")re");
  const QRegularExpression calls[] = {
      QRegularExpression(R"(\bTranslate\(\s*(?:QStringLiteral|QString::fromUtf8|Tr)?\(?\s*)" + text),
      QRegularExpression(R"(\bWithFile\(K::\w+,\s*QStringLiteral\()" + text),
  };
  const QRegularExpression ownTr(R"((?<![\w.>:])Tr\()" + text + R"(\))");
  const QRegularExpression translatingTr(R"(QString Tr\(const char \*\w+\) \{ return MultiLingual\(\)\.Translate)");
  int found = 0;
  QStringList missing;
  QDirIterator it(KV_SOURCE_DIR "/src", {"*.cpp", "*.h"}, QDir::Files, QDirIterator::Subdirectories);
  while (it.hasNext()) {
    QFile f(it.next());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QString source = QString::fromUtf8(f.readAll());
    QList<QRegularExpressionMatch> matches;
    for (const QRegularExpression &re : calls)
      for (const QRegularExpressionMatch &m : re.globalMatch(source))
        matches << m;
    if (source.contains(translatingTr))
      for (const QRegularExpressionMatch &m : ownTr.globalMatch(source))
        matches << m;
    for (const QRegularExpressionMatch &m : matches) {
      ++found;
      const QString t = m.captured(1).replace("\\\"", "\"").replace("\\\\", "\\");
      const QStringList cols = rows.value(t.toLower());
      if (cols.size() < 3 || cols[1].isEmpty() || cols[2].isEmpty())
        missing << QDir(KV_SOURCE_DIR).relativeFilePath(f.fileName()) + ": " + t;
    }
  }
  EXPECT_GT(found, 20); // the scan itself still finds the calls
  EXPECT_TRUE(missing.isEmpty()) << missing.join("\n").toStdString();
}

TEST(MultiLingual, MessagesTranslateTheirFixedBeginningAndKeepTheRest) {
  TMultiLingual m = Loaded({"Файл не найден #Файл не знайдено #File not found ",
                            "Файл не найден в папке #Файл не знайдено в теці #File not found in folder ",
                            "Сохранено в файле#Збережено у файлі#Saved in the file", "Готово#Готово#Done",
                            "Порт#Порт#Port", "недопустимый индекс#неприпустимий індекс#invalid index",
                            "нет элемента #немає елемента #missing element "});
  const struct {
    int Target;
    const char *Text, *Expected;
  } cases[] = {
      {lnEnglish, "Готово", "Done"},                                   // a whole text
      {lnEnglish, "Файл не найден head.bin", "File not found head.bin"}, // the name kept
      {lnUkrainian, "Файл не найден head.bin", "Файл не знайдено head.bin"},
      {lnEnglish, "Файл не найден в папке osc", "File not found in folder osc"}, // the longest beginning
      {lnEnglish, "Сохранено в файлеx", "Сохранено в файлеx"}, // a beginning must end in a blank
      {lnEnglish, "Порт COM1", "Порт COM1"},
      {lnEnglish, "недопустимый индекс (line 5)", "invalid index (line 5)"}, // a detail in parentheses
      {lnEnglish, "недопустимый индексы", "недопустимый индексы"},
      {lnEnglish, "Файл не найден ", "File not found "},
      {lnRussian, "Файл не найден head.bin", "Файл не найден head.bin"},
      // A message behind the names of the files it is about.
      {lnEnglish, "p.pack: config.xml: нет элемента group", "p.pack: config.xml: missing element group"},
      {lnUkrainian, "p.pack: config.xml: нет элемента group", "p.pack: config.xml: немає елемента group"},
      {lnEnglish, "p.pack: config.xml: Порт", "p.pack: config.xml: Port"},
      {lnEnglish, "p.pack: config.xml: x", "p.pack: config.xml: x"},
      {lnRussian, "p.pack: config.xml: нет элемента group", "p.pack: config.xml: нет элемента group"},
  };
  for (const auto &c : cases) {
    m.SetTargetLanguage(c.Target);
    EXPECT_EQ(m.TranslateMessage(QString::fromUtf8(c.Text)), QString::fromUtf8(c.Expected)) << c.Text;
  }
}
