#include "uExcelFrame.h"

#include "uMultiLingual.h"

#include "uErrors.h"
#include "uFileDialogSink.h"

#include <QHeaderView>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {
// Rows and columns a fresh sheet shows before anything is written.
constexpr int EmptyRows = 50, EmptyCols = 12;
} // namespace

TExcelFrame::TExcelFrame(QWidget *Parent) : QWidget(Parent), FBook(std::make_unique<TWorkbook>()) {
  setObjectName("ExcelFrame");
  auto *layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  Sheets = new QTabWidget(this);
  Sheets->setObjectName("OleContainer");
  Sheets->setTabPosition(QTabWidget::South);
  layout->addWidget(Sheets);
  for (int i = 1; i <= TWorkbook::SheetCount; ++i) {
    auto *view = new QTableWidget(EmptyRows, EmptyCols, Sheets);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    Sheets->addTab(view, FBook->Sheet(i).Name());
  }
}

TExcelFrame::~TExcelFrame() {
  // A screen reader's cells of a sheet each hold a persistent index of its
  // model, which goes after the grid; let go one by one, each is a search
  // as long as the sheet. Emptied in one reset, the model drops them all at once.
  for (int i = 1; i <= Sheets->count(); ++i)
    View(i)->clearContents();
}

QTableWidget *TExcelFrame::View(int Index) const { return static_cast<QTableWidget *>(Sheets->widget(Index - 1)); }

TWorksheet &TExcelFrame::Active() {
  if (!FBook)
    throw EKvError("Cannot initiate OleContainer");
  return FBook->Sheet(FActive);
}

void TExcelFrame::PrepareSheet(int Index, const QString &Name) {
  if (!FBook)
    throw EKvError("Cannot initiate OleContainer");
  TWorksheet &sheet = FBook->Sheet(Index);
  FActive = Index;
  sheet.Clear();
  sheet.SetName(Name);
  QTableWidget *view = View(Index);
  view->clearContents();
  view->setRowCount(EmptyRows);
  view->setColumnCount(EmptyCols);
  Sheets->setTabText(Index - 1, Name);
  Sheets->setCurrentIndex(Index - 1);
}

// A number as the program writes one: an optional "-", digits without a
// leading zero (a lone 0 before the point is one), an optional point and
// decimals; at most 15 digits, which a double keeps exactly. Codes such as
// "007" and versions such as "1.2.3" do not match. The number format shows
// as many decimals as the text.
static bool NumberOfText(const QString &Text, double &Value, QString &Format) {
  static const QRegularExpression Number(QStringLiteral("^-?(0|[1-9][0-9]*)(\\.([0-9]+))?$"));
  const QRegularExpressionMatch M = Number.match(Text);
  if (!M.hasMatch() || M.captured(1).size() + M.captured(3).size() > 15)
    return false;
  bool Ok = false;
  Value = Text.toDouble(&Ok);
  const qsizetype Decimals = M.captured(3).size();
  Format = Decimals == 0 ? QStringLiteral("0") : QStringLiteral("0.") + QString(Decimals, QLatin1Char('0'));
  return Ok;
}

void TExcelFrame::SetCell(int Row, int Col, const QString &Text) {
  ShowCell(Row, Col, Text);
  double Value = 0;
  QString Format;
  if (NumberOfText(Text, Value, Format))
    Active().SetDateCell(Row, Col, Value, Text, Format);
}

void TExcelFrame::ShowCell(int Row, int Col, const QString &Text) {
  Active().SetCell(Row, Col, Text);
  QTableWidget *view = View(FActive);
  if (view->rowCount() < Row)
    view->setRowCount(Row);
  if (view->columnCount() < Col)
    view->setColumnCount(Col);
  view->setItem(Row - 1, Col - 1, new QTableWidgetItem(Text));
}

void TExcelFrame::SetDateCell(int Row, int Col, double Value, const QString &Text, const QString &NumberFormat) {
  ShowCell(Row, Col, Text);
  Active().SetDateCell(Row, Col, Value, Text, NumberFormat);
}

void TExcelFrame::AutoFit(int Col) {
  TWorksheet &sheet = Active();
  sheet.AutoFit(Col);
  if (sheet.ColumnWidth(Col) > 0 && Col <= View(FActive)->columnCount())
    View(FActive)->setColumnWidth(Col - 1, int(sheet.ColumnWidth(Col) * fontMetrics().averageCharWidth()));
}

void TExcelFrame::SaveAs() {
  if (!FBook)
    throw EKvError("Cannot initiate OleContainer");
  TFileDialogRequest r;
  r.Kind = TFileDialogKind::Save;
  r.DefaultExt = "xlsx";
  r.Filter = MultiLingual().Translate(QStringLiteral("Книга Excel (*.xlsx)"));
  const QString path = AskFileName(r);
  if (!path.isEmpty())
    FBook->SaveAs(path);
}

void TExcelFrame::QuitExcel() {
  FBook.reset();
  for (int i = 1; i <= Sheets->count(); ++i)
    View(i)->clearContents();
}
