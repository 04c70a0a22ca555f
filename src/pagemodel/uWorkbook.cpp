#include "uWorkbook.h"

#include "uMultiLingual.h"

#include "uErrors.h"
#include "uFiles.h"

#include <QFile>
#include <QTemporaryDir>
#include <xlsxwriter.h>

namespace {
constexpr int MaxRows = 1048576, MaxCols = 16384;

void CheckCell(int Row, int Col) {
  if (Row < 1 || Row > MaxRows)
    throw EKvRange("range check error: " + std::to_string(Row));
  if (Col < 1 || Col > MaxCols)
    throw EKvRange("range check error: " + std::to_string(Col));
}

void Check(lxw_error Error) {
  if (Error != LXW_NO_ERROR)
    throw EKvError(QString("cannot write workbook: ") + lxw_strerror(Error));
}
} // namespace

void TWorksheet::Clear() {
  FRows.clear();
  FWidths.clear();
  FDates.clear();
}

void TWorksheet::SetCell(int Row, int Col, const QString &Text) {
  CheckCell(Row, Col);
  FDates.erase({Row, Col});
  if (Text.isEmpty() && Row > FRows.size())
    return;
  while (FRows.size() < Row)
    FRows.append(QStringList());
  QStringList &row = FRows[Row - 1];
  if (Text.isEmpty() && Col > row.size())
    return;
  while (row.size() < Col)
    row.append(QString());
  row[Col - 1] = Text;
}

void TWorksheet::SetDateCell(int Row, int Col, double Value, const QString &Text, const QString &NumberFormat) {
  SetCell(Row, Col, Text);
  FDates[{Row, Col}] = {Value, NumberFormat};
}

const TWorksheet::TDateCell *TWorksheet::DateCell(int Row, int Col) const {
  const auto d = FDates.find({Row, Col});
  return d == FDates.end() ? nullptr : &d->second;
}

QString TWorksheet::Cell(int Row, int Col) const {
  if (Row < 1 || Row > FRows.size() || Col < 1 || Col > FRows[Row - 1].size())
    return QString();
  return FRows[Row - 1][Col - 1];
}

int TWorksheet::ColCount() const {
  qsizetype n = 0;
  for (const QStringList &row : FRows)
    n = std::max(n, row.size());
  return int(n);
}

void TWorksheet::AutoFit(int Col) {
  CheckCell(1, Col);
  qsizetype longest = 0;
  for (const QStringList &row : FRows)
    if (Col <= row.size())
      longest = std::max(longest, row[Col - 1].size());
  // A character of the default font and a little room on both sides.
  if (longest > 0)
    FWidths[Col] = double(longest) + 2;
  else
    FWidths.erase(Col);
}

double TWorksheet::ColumnWidth(int Col) const {
  const auto i = FWidths.find(Col);
  return i == FWidths.end() ? 0 : i->second;
}

TWorkbook::TWorkbook() {
  for (int i = 1; i <= SheetCount; ++i)
    // A sheet the program names no otherwise is named in the interface's language.
    FSheets.append(TWorksheet(MultiLingual().Translate(QStringLiteral("Лист")) + QString::number(i)));
}

TWorksheet &TWorkbook::Sheet(int Index) {
  if (Index < 1 || Index > FSheets.size())
    throw EKvRange("range check error: " + std::to_string(Index));
  return FSheets[Index - 1];
}

const TWorksheet &TWorkbook::Sheet(int Index) const { return const_cast<TWorkbook *>(this)->Sheet(Index); }

QByteArray TWorkbook::XlsxBytes() const {
  QTemporaryDir dir;
  if (!dir.isValid())
    throw EKvError("cannot write workbook: " + dir.errorString());
  const QByteArray path = QFile::encodeName(dir.filePath("book.xlsx"));
  lxw_workbook *book = workbook_new(path.constData());
  if (!book)
    throw EKvError("cannot write workbook: " + QString::fromLocal8Bit(path));
  // One format object per number format: the writer keeps them with the book.
  std::map<QString, lxw_format *> formats;
  auto dateFormat = [&](const QString &Code) {
    lxw_format *&f = formats[Code];
    if (!f) {
      f = workbook_add_format(book);
      format_set_num_format(f, Code.toUtf8().constData());
    }
    return f;
  };
  try {
    for (const TWorksheet &s : FSheets) {
      const QByteArray name = s.Name().toUtf8();
      // The writer would give an unnamed sheet a name of its own.
      if (name.isEmpty())
        throw EKvError("cannot write workbook: empty sheet name");
      Check(workbook_validate_sheet_name(book, name.constData()));
      lxw_worksheet *sheet = workbook_add_worksheet(book, name.constData());
      if (!sheet)
        throw EKvError("cannot write workbook: " + s.Name());
      const int cols = s.ColCount();
      for (int r = 1; r <= s.RowCount(); ++r)
        for (int c = 1; c <= cols; ++c) {
          const QString text = s.Cell(r, c);
          if (const TWorksheet::TDateCell *d = s.DateCell(r, c))
            Check(worksheet_write_number(sheet, lxw_row_t(r - 1), lxw_col_t(c - 1), d->Value, dateFormat(d->NumberFormat)));
          else if (!text.isEmpty())
            Check(worksheet_write_string(sheet, lxw_row_t(r - 1), lxw_col_t(c - 1), text.toUtf8().constData(), nullptr));
        }
      for (int c = 1; c <= cols; ++c)
        if (s.ColumnWidth(c) > 0)
          Check(worksheet_set_column(sheet, lxw_col_t(c - 1), lxw_col_t(c - 1), s.ColumnWidth(c), nullptr));
    }
  } catch (...) {
    workbook_close(book);
    throw;
  }
  Check(workbook_close(book));
  QFile f(dir.filePath("book.xlsx"));
  if (!f.open(QIODevice::ReadOnly))
    throw EKvError("cannot write workbook: " + f.errorString());
  return f.readAll();
}

void TWorkbook::SaveAs(const QString &FileName) const { SaveFileBytes(FileName, XlsxBytes()); }
