#include "uReportDocument.h"

#include "uErrors.h"
#include "uLogger.h"
#include "uReportPainter.h"

#include <QFontMetricsF>
#include <QImage>

namespace {
constexpr double HeaderTopMm = 8, HeaderRuleMm = 13, FooterRuleMm = 283, FooterTopMm = 284;
constexpr double RuleGapMm = 0.5;
const QColor HeaderRuleGrey(160, 160, 160);

TReportPreviewHook &Hook() {
  static TReportPreviewHook h;
  return h;
}
} // namespace

TReportDocument::TReportDocument(const TReportSetup &Setup, const QDateTime &PrintedAt)
    : FCaption(Setup.Caption), FHeader(Setup.Header), FPrintedAt(PrintedAt) {
  FPages.append(TReportPage{});
}

double TReportDocument::Take(double Height) {
  if (FEnded)
    throw EKvAssert("report already ended");
  if (FY + Height > BodyBottomMm && FY > BodyTopMm) {
    FPages.append(TReportPage{});
    FY = BodyTopMm;
  }
  const double top = FY;
  FY += Height;
  FLastTop = top;
  return top;
}

void TReportDocument::Add(const TReportItem &Item) { FPages.last().Items.append(Item); }

void TReportDocument::NewHalfLine() {
  // A gap at the bottom of a page is not carried over to the next one.
  FY = std::min(FY + LineMm / 2, BodyBottomMm);
}

void TReportDocument::NewLine() { FY = std::min(FY + LineMm, BodyBottomMm); }

void TReportDocument::DrawTitle(const QString &Text) {
  const double top = Take(TitleMm);
  TReportItem t;
  t.Rect = QRectF(LeftMm, top, RightMm - LeftMm, TitleMm - 2);
  t.Text = Text;
  t.FontPt = TitlePt;
  t.Bold = true;
  Add(t);
  TReportItem r;
  r.Kind = TReportItemKind::Rule;
  r.Rect = QRectF(LeftMm, top + TitleMm - 1, RightMm - LeftMm, 0);
  Add(r);
}

double TReportDocument::TextHeightMm(const QString &Text, double WidthMm, double Pt, bool Bold) {
  // Measured on an image of the PDF's resolution, a little narrower than
  // the text will have, so that no painting breaks it into more lines.
  constexpr double Dpi = 300, DotsPerMm = Dpi / 25.4;
  static QImage Device = [] {
    QImage i(1, 1, QImage::Format_RGB32);
    i.setDotsPerMeterX(int(Dpi / 0.0254 + 0.5));
    i.setDotsPerMeterY(int(Dpi / 0.0254 + 0.5));
    return i;
  }();
  QFont f(QString::fromLatin1(ReportFontFamily));
  f.setPointSizeF(Pt);
  f.setBold(Bold);
  const QFontMetricsF m(f, &Device);
  const QRectF r = m.boundingRect(QRectF(0, 0, WidthMm * 0.97 * DotsPerMm, 1e7),
                                  int(Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap), Text);
  const int lines = std::max(1, int(std::lround(r.height() / m.lineSpacing())));
  return LineMm + (lines - 1) * m.lineSpacing() / DotsPerMm;
}

void TReportDocument::DrawText(const QString &Text, double IndentMm) {
  const double width = RightMm - LeftMm - IndentMm;
  const double height = TextHeightMm(Text, width);
  const double top = Take(height);
  TReportItem t;
  t.Rect = QRectF(LeftMm + IndentMm, top, width, height);
  t.Text = Text;
  t.FontPt = BodyPt;
  t.Wrap = height > LineMm;
  Add(t);
}

void TReportDocument::SetColumns(const QList<double> &Percent) { FColumns = Percent; }

void TReportDocument::DrawColumnHeaders(const QStringList &Cells) {
  DrawRow(Cells, true);
  TReportItem r;
  r.Kind = TReportItemKind::Rule;
  r.Rect = QRectF(LeftMm, FLastTop + LineMm - RuleGapMm, RightMm - LeftMm, 0);
  r.Color = Qt::gray;
  Add(r);
}

void TReportDocument::DrawTextAcrossCols(const QStringList &Cells) { DrawRow(Cells, false); }

void TReportDocument::DrawRow(const QStringList &Cells, bool Bold) {
  if (FColumns.isEmpty())
    throw EKvAssert("report columns not set");
  auto cellRect = [this](qsizetype i, double &x) {
    const double w = (RightMm - LeftMm) * FColumns[i] / 100, indent = FIndents.value(i);
    const QRectF r(x + indent, 0, w - indent, LineMm);
    x += w;
    return r;
  };
  double height = LineMm, x = LeftMm;
  for (qsizetype i = 0; i < FColumns.size(); ++i) {
    const QRectF r = cellRect(i, x);
    if (i < Cells.size() && !Cells[i].isEmpty())
      height = std::max(height, TextHeightMm(Cells[i], r.width(), BodyPt, Bold));
  }
  const double top = Take(height);
  x = LeftMm;
  for (qsizetype i = 0; i < FColumns.size(); ++i) {
    const QRectF r = cellRect(i, x);
    if (i < Cells.size() && !Cells[i].isEmpty()) {
      TReportItem t;
      t.Rect = QRectF(r.left(), top, r.width(), height);
      t.Text = Cells[i];
      t.FontPt = BodyPt;
      t.Bold = Bold;
      t.Wrap = TextHeightMm(Cells[i], r.width(), BodyPt, Bold) > LineMm;
      Add(t);
    }
  }
}

void TReportDocument::DrawBox(double X1, double Y1, double X2, double Y2, const QColor &Fill, bool Border) {
  TReportItem b;
  b.Kind = TReportItemKind::Box;
  b.Rect = QRectF(QPointF(X1, FLastTop + Y1), QPointF(X2, FLastTop + Y2));
  b.Color = Fill;
  b.Border = Border;
  Add(b);
}

void TReportDocument::EndDoc() {
  if (FEnded)
    return;
  FEnded = true;
  const QString printed = FPrintedAt.toString(QStringLiteral("dd.MM.yyyy hh:mm:ss"));
  for (qsizetype n = 0; n < FPages.size(); ++n) {
    QList<TReportItem> &items = FPages[n].Items;
    TReportItem head;
    head.Rect = QRectF(LeftMm, HeaderTopMm, RightMm - LeftMm, HeaderRuleMm - HeaderTopMm - RuleGapMm);
    head.Text = FHeader;
    head.FontPt = FrameTextPt;
    items.append(head);
    TReportItem rule;
    rule.Kind = TReportItemKind::Rule;
    rule.Color = HeaderRuleGrey;
    rule.Rect = QRectF(LeftMm, HeaderRuleMm, RightMm - LeftMm, 0);
    items.append(rule);
    rule.Rect.moveTop(FooterRuleMm);
    items.append(rule);
    TReportItem foot = head;
    foot.Rect.moveTop(FooterTopMm);
    foot.Text = printed;
    items.append(foot);
    foot.Text = QStringLiteral("Сторінка %1 з %2").arg(n + 1).arg(FPages.size());
    foot.Align = Qt::AlignHCenter;
    items.append(foot);
    foot.Text = QString::fromUtf8(ReportFooterText);
    foot.Align = Qt::AlignRight;
    foot.Italic = true;
    items.append(foot);
  }
}

TReportPreviewHook SetReportPreviewHook(TReportPreviewHook NewHook) {
  TReportPreviewHook old = std::move(Hook());
  Hook() = std::move(NewHook);
  return old;
}

void ShowReportPreview(const TReportDocument &Doc) {
  if (Hook())
    Hook()(Doc);
  else
    Logger().Info("report preview skipped: " + Doc.Caption());
}
