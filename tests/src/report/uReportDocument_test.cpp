#include "uReportDocument.h"
#include "uReportPainter.h"
#include "report_test_util.h"

#include <gtest/gtest.h>

namespace {
const TReportSetup TestSetup{QStringLiteral("kv"), QStringLiteral("/opt/kv/kv")};

QList<TReportItem> ItemsOf(const TReportPage &Page, TReportItemKind Kind) {
  QList<TReportItem> out;
  for (const TReportItem &it : Page.Items)
    if (it.Kind == Kind)
      out.append(it);
  return out;
}
} // namespace

TEST(ReportDocument, ColumnsAreShareOfBodyWidthWithBoldHeadersAndGreyRule) {
  TReportDocument doc(TestSetup);
  doc.SetColumns({15, 15, 20, 50});
  doc.DrawColumnHeaders({"A", "B", "C", "D"});
  doc.DrawTextAcrossCols({"1", "", "3"});
  const QList<TReportItem> texts = ItemsOf(doc.Pages()[0], TReportItemKind::Text);
  ASSERT_EQ(texts.size(), 6); // an empty cell draws nothing
  const double lefts[] = {15, 42, 69, 105};
  for (int i = 0; i < 4; ++i) {
    EXPECT_DOUBLE_EQ(texts[i].Rect.left(), lefts[i]) << i;
    EXPECT_TRUE(texts[i].Bold);
  }
  EXPECT_FALSE(texts[4].Bold);
  EXPECT_DOUBLE_EQ(texts[5].Rect.left(), 69);
  EXPECT_DOUBLE_EQ(texts[4].Rect.top() - texts[0].Rect.top(), TReportDocument::LineMm);
  const QList<TReportItem> rules = ItemsOf(doc.Pages()[0], TReportItemKind::Rule);
  ASSERT_EQ(rules.size(), 1);
  EXPECT_EQ(rules[0].Color, QColor(Qt::gray));
  EXPECT_LE(rules[0].Rect.top(), texts[4].Rect.top());
}

TEST(ReportDocument, RowsBreakToNewPagesWholeAndEveryPageGetsHeaderAndFooter) {
  TReportDocument doc(TestSetup, QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9)));
  doc.SetColumns({50, 50});
  const int perPage = int((TReportDocument::BodyBottomMm - TReportDocument::BodyTopMm) / TReportDocument::LineMm);
  for (int i = 0; i < perPage * 2 + 1; ++i)
    doc.DrawTextAcrossCols({QString::number(i), "x"});
  doc.EndDoc();
  ASSERT_EQ(doc.Pages().size(), 3);
  const QList<TReportRow> rows = ReportRows(doc);
  ASSERT_EQ(rows.size(), perPage * 2 + 1);
  EXPECT_EQ(rows[perPage].Page, 1);
  EXPECT_DOUBLE_EQ(rows[perPage].Top, TReportDocument::BodyTopMm);
  for (const TReportRow &r : rows)
    EXPECT_EQ(r.Cells.size(), 2) << r.Cells.join('|').toStdString(); // never split
  for (int p = 0; p < 3; ++p) {
    QStringList frame;
    for (const TReportItem &it : ItemsOf(doc.Pages()[p], TReportItemKind::Text))
      if (it.Rect.top() < TReportDocument::BodyTopMm || it.Rect.top() >= TReportDocument::BodyBottomMm)
        frame << it.Text + (it.Italic ? "/i" : "");
    EXPECT_EQ(frame, QStringList({"/opt/kv/kv", "05.03.2024 14:07:09", QStringLiteral("Сторінка %1 з 3").arg(p + 1),
                                  QString::fromUtf8(ReportFooterText) + "/i"}));
  }
}

TEST(ReportDocument, BoxesStandInMillimetresBelowTheLastLineTop) {
  TReportDocument doc(TestSetup);
  doc.NewHalfLine();
  doc.DrawText("line");
  doc.DrawBox(120, 1, 123, 4, Qt::red);
  const QList<TReportItem> boxes = ItemsOf(doc.Pages()[0], TReportItemKind::Box);
  ASSERT_EQ(boxes.size(), 1);
  const double top = TReportDocument::BodyTopMm + TReportDocument::LineMm / 2;
  EXPECT_EQ(boxes[0].Rect, QRectF(QPointF(120, top + 1), QPointF(123, top + 4)));
  EXPECT_EQ(boxes[0].Color, QColor(Qt::red));
  EXPECT_TRUE(boxes[0].Border);
}
