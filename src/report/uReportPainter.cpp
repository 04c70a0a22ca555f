#include "uReportPainter.h"

#include "uFiles.h"

#include <QBuffer>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>

namespace {
constexpr double MmPerInch = 25.4;
constexpr int PdfDpi = 300;

QRectF ToDevice(const QRectF &Mm, double DotsPerMm) {
  return QRectF(Mm.left() * DotsPerMm, Mm.top() * DotsPerMm, Mm.width() * DotsPerMm, Mm.height() * DotsPerMm);
}
} // namespace

void PaintReportPage(QPainter &Painter, const TReportPage &Page, double DotsPerMm) {
  Painter.save();
  const double thin = std::max(1.0, 0.2 * DotsPerMm);
  for (const TReportItem &it : Page.Items) {
    const QRectF r = ToDevice(it.Rect, DotsPerMm);
    switch (it.Kind) {
    case TReportItemKind::Text: {
      QFont f(QString::fromLatin1(ReportFontFamily));
      f.setPointSizeF(it.FontPt);
      f.setBold(it.Bold);
      f.setItalic(it.Italic);
      Painter.setFont(f);
      Painter.setPen(it.Color);
      const QFontMetricsF m(f, Painter.device());
      if (it.Wrap) {
        // The first line where a one-line row centres its text.
        const double pad = std::max(0.0, (TReportDocument::LineMm * DotsPerMm - m.height()) / 2);
        Painter.drawText(r.adjusted(0, pad, 0, 0), int(it.Align | Qt::AlignTop) | Qt::TextWordWrap, it.Text);
        break;
      }
      // A line too narrow for its text is cut at its right edge.
      Painter.drawText(r, int(it.Align | Qt::AlignVCenter) | Qt::TextSingleLine,
                       m.elidedText(it.Text, Qt::ElideRight, r.width()));
      break;
    }
    case TReportItemKind::Rule:
      Painter.setPen(QPen(it.Color, thin));
      Painter.drawLine(r.topLeft(), r.topRight());
      break;
    case TReportItemKind::Box:
      Painter.setPen(it.Border ? QPen(Qt::black, thin) : QPen(Qt::NoPen));
      Painter.setBrush(it.Color);
      Painter.drawRect(r);
      Painter.setBrush(Qt::NoBrush);
      break;
    }
  }
  Painter.restore();
}

void PaintReport(const TReportDocument &Doc, QPagedPaintDevice &Device) {
  Device.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(0, 0, 0, 0)));
  QPainter painter(&Device);
  const double dotsPerMm = Device.logicalDpiX() / MmPerInch;
  for (qsizetype i = 0; i < Doc.Pages().size(); ++i) {
    if (i > 0)
      Device.newPage();
    PaintReportPage(painter, Doc.Pages()[i], dotsPerMm);
  }
}

QByteArray ReportToPdf(const TReportDocument &Doc) {
  QByteArray bytes;
  {
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter pdf(&buffer);
    pdf.setResolution(PdfDpi);
    pdf.setTitle(Doc.Caption());
    pdf.setCreator(QStringLiteral("kv"));
    PaintReport(Doc, pdf);
  }
  return bytes;
}

void SaveReportPdf(const TReportDocument &Doc, const QString &FileName) { SaveFileBytes(FileName, ReportToPdf(Doc)); }

QImage RenderReportPage(const TReportDocument &Doc, int Index, double Dpi) {
  const double dotsPerMm = Dpi / MmPerInch;
  QImage img(int(TReportDocument::PageWidthMm * dotsPerMm + 0.5), int(TReportDocument::PageHeightMm * dotsPerMm + 0.5),
             QImage::Format_RGB32);
  const int dpm = int(Dpi / MmPerInch * 1000 + 0.5);
  img.setDotsPerMeterX(dpm);
  img.setDotsPerMeterY(dpm);
  img.fill(Qt::white);
  QPainter painter(&img);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::TextAntialiasing);
  PaintReportPage(painter, Doc.Pages().at(Index), dotsPerMm);
  return img;
}
