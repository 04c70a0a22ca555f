#pragma once
// The report document: A4 pages laid out line by line (titles, text lines,
// columns in percent of the width, filled boxes in millimetres), recorded as
// a display list per page in millimetres. Laying out needs no paint device:
// tests read the list; uReportPainter paints it on a printer or into a PDF.
// Main thread only.
#include <QColor>
#include <QDateTime>
#include <QList>
#include <QRectF>
#include <QString>
#include <QStringList>
#include <functional>

// The fixed text at the right margin of every footer.
inline const char *const ReportFooterText = "Сформовано програмою kv";

// What every report of the program carries: the main window's caption and
// the header line (the program file's full path).
struct TReportSetup {
  QString Caption, Header;
};

enum class TReportItemKind { Text, Rule, Box };

// One thing drawn on a page; Rect in millimetres from the page's top left.
struct TReportItem {
  TReportItemKind Kind = TReportItemKind::Text;
  QRectF Rect;
  QString Text;           // Text
  double FontPt = 10;     // Text
  bool Bold = false, Italic = false;
  Qt::Alignment Align = Qt::AlignLeft;
  QColor Color = Qt::black; // Text and Rule: pen; Box: fill
  bool Border = false;      // Box: a thin black frame
  // Text: broken at words within Rect, the first line where a single line
  // of a row stands; otherwise one line, cut at Rect's right edge.
  bool Wrap = false;
};

struct TReportPage {
  QList<TReportItem> Items;
};

class TReportDocument {
public:
  // A4 portrait and the page frame, in millimetres.
  static constexpr double PageWidthMm = 210, PageHeightMm = 297;
  static constexpr double LeftMm = 15, RightMm = 195;
  static constexpr double BodyTopMm = 20, BodyBottomMm = 280;
  static constexpr double LineMm = 5, TitleMm = 9;
  static constexpr double BodyPt = 9, TitlePt = 14, FrameTextPt = 7;

  // Setup's caption titles the preview; its header stands above every page.
  explicit TReportDocument(const TReportSetup &Setup, const QDateTime &PrintedAt = QDateTime::currentDateTime());

  void NewHalfLine();
  void NewLine();
  // A bold title with a rule below it.
  void DrawTitle(const QString &Text);
  // One line of text from the left margin (plus IndentMm); a text too long
  // for the line goes on in lines below it.
  void DrawText(const QString &Text, double IndentMm = 0);
  // Columns as percentages of the body width (they need not add up to 100).
  void SetColumns(const QList<double> &Percent);
  // Room in millimetres left free at the left of each column (for a box
  // beside its text); missing entries are 0.
  void SetColumnIndents(const QList<double> &Mm) { FIndents = Mm; }
  // The height of Text broken at words within WidthMm, in the body font of
  // Pt points: LineMm for one line, more by the font's line spacing for each
  // further line.
  static double TextHeightMm(const QString &Text, double WidthMm, double Pt = BodyPt, bool Bold = false);
  // Bold column headers and a grey rule below them.
  void DrawColumnHeaders(const QStringList &Cells);
  // One row across the columns; missing cells stay empty, a cell too long
  // for its column is broken into lines and the row grows. A row is never
  // split: it moves whole to the next page.
  void DrawTextAcrossCols(const QStringList &Cells);
  // A filled box from X1 to X2 mm of the page, Y1 to Y2 mm below the top of
  // the line drawn last.
  void DrawBox(double X1, double Y1, double X2, double Y2, const QColor &Fill, bool Border = true);
  // Puts the header and footer (date and time of printing, page N of M) on
  // every page. Nothing can be added afterwards.
  void EndDoc();

  const QList<TReportPage> &Pages() const { return FPages; }
  QString Caption() const { return FCaption; }
  // Top of the line drawn last, in millimetres (the box reference).
  double LastLineTopMm() const { return FLastTop; }

private:
  // Room for Height below the current position, on a new page if need be.
  double Take(double Height);
  void DrawRow(const QStringList &Cells, bool Bold);
  void Add(const TReportItem &Item);

  QString FCaption, FHeader;
  QDateTime FPrintedAt;
  QList<TReportPage> FPages;
  QList<double> FColumns, FIndents;
  double FY = BodyTopMm, FLastTop = BodyTopMm;
  bool FEnded = false;
};

// The preview of a finished report. The program installs the preview dialog;
// tests install a hook that keeps the document, so nothing waits on a dialog.
// Without a hook the preview is skipped. Returns the previous hook.
using TReportPreviewHook = std::function<void(const TReportDocument &Doc)>;
TReportPreviewHook SetReportPreviewHook(TReportPreviewHook Hook);
void ShowReportPreview(const TReportDocument &Doc);
