#pragma once
// The modal preview of a report: page navigation, zoom, print, save as PDF
// and close. Main thread only.
#include "uReportDocument.h"

#include <QDialog>

class QLabel;
class QScrollArea;
class QToolButton;

class TReportPreviewForm : public QDialog {
  Q_OBJECT
public:
  // Doc is copied; the dialog is titled with its caption.
  explicit TReportPreviewForm(const TReportDocument &Doc, QWidget *Parent = nullptr);

  void ShowPage(int Index);
  int PageIndex() const { return FPage; }
  void SetZoomDpi(double Dpi);
  double ZoomDpi() const { return FDpi; }
  // Saves the PDF under the name the file dialog gives; a failed save shows
  // its error.
  void SavePdf();
  void Print();

  QToolButton *btnFirst = nullptr, *btnPrior = nullptr, *btnNext = nullptr, *btnLast = nullptr;
  QToolButton *btnZoomIn = nullptr, *btnZoomOut = nullptr, *btnPrint = nullptr, *btnPdf = nullptr,
              *btnClose = nullptr;
  QLabel *LabelPage = nullptr;

private:
  void Render();

  TReportDocument FDoc;
  QScrollArea *FScroll = nullptr;
  QLabel *FImage = nullptr;
  int FPage = 0;
  double FDpi = 96;
};

// The preview's size on a screen whose free area is Available: 900 x 1000
// where that fits, else as much as the area leaves for the window with its
// frame and title.
QSize ReportPreviewSize(const QSize &Available);

// Makes the dialog the program's report preview (see SetReportPreviewHook).
void InstallReportPreviewForm();
