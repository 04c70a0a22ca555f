#pragma once
// Reading a laid-out report back: its text rows, as the eye reads them.
#include "uReportDocument.h"

#include <QMap>
#include <QStringList>

struct TReportRow {
  int Page = 0;
  double Top = 0;
  QStringList Cells; // texts of the row from left to right
};

// Body text rows of every page (header and footer left out), top to bottom.
inline QList<TReportRow> ReportRows(const TReportDocument &Doc) {
  QList<TReportRow> rows;
  for (qsizetype p = 0; p < Doc.Pages().size(); ++p) {
    QMap<double, QMap<double, QString>> byTop;
    for (const TReportItem &it : Doc.Pages()[p].Items)
      if (it.Kind == TReportItemKind::Text && it.Rect.top() >= TReportDocument::BodyTopMm &&
          it.Rect.bottom() <= TReportDocument::BodyBottomMm)
        byTop[it.Rect.top()][it.Rect.left()] = it.Text;
    for (auto r = byTop.cbegin(); r != byTop.cend(); ++r)
      rows.append({int(p), r.key(), r.value().values()});
  }
  return rows;
}

// The row whose first cell is Text, or null.
inline const TReportRow *FindRow(const QList<TReportRow> &Rows, const QString &Text) {
  for (const TReportRow &r : Rows)
    if (!r.Cells.isEmpty() && r.Cells.first() == Text)
      return &r;
  return nullptr;
}
