#include "uMultiLingual.h"

#include "uLinkText.h"

#include "uErrors.h"
#include "uTextCodec.h"

#include <QDir>
#include <QFile>
#include <algorithm>

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
  if (it == FRows.end() || CompareText(it->Text[key], Text) != 0)
    return Text;
  return it->Text[FTarget];
}

QString TMultiLingual::FromRussian(const QString &Text) const {
  for (const TRow &row : FRows)
    if (CompareText(row.Text[lnRussian], Text) == 0)
      return row.Text[FTarget].isEmpty() ? Text : row.Text[FTarget];
  return Text;
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
