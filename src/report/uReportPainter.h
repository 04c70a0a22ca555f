#pragma once
// Paints a laid-out report in DejaVu Sans (it holds Cyrillic; the PDF embeds
// it) on any paged device: a printer, a PDF writer, or a page image for the
// preview. Main thread only (fonts).
#include "uReportDocument.h"

#include <QByteArray>
#include <QImage>

class QPainter;
class QPagedPaintDevice;

inline const char *const ReportFontFamily = "DejaVu Sans";

// Paints Page with DotsPerMm device pixels per millimetre, the page's corner
// at the painter's origin; font sizes follow the device's logical resolution.
void PaintReportPage(QPainter &Painter, const TReportPage &Page, double DotsPerMm);
// Every page on Device (A4, no margins), one device page per report page.
void PaintReport(const TReportDocument &Doc, QPagedPaintDevice &Device);
// The whole report as PDF bytes.
QByteArray ReportToPdf(const TReportDocument &Doc);
// The PDF written through the save helper; throws as SaveFileBytes does.
void SaveReportPdf(const TReportDocument &Doc, const QString &FileName);
// Page Index drawn on white at Dpi dots per inch.
QImage RenderReportPage(const TReportDocument &Doc, int Index, double Dpi);
