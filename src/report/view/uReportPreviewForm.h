#pragma once
// The modal preview of a report: page navigation, zoom, print, save as PDF
// and close. Main thread only.
#include "uReportDocument.h"

#include <QDialog>
#include <functional>

class QLabel;
class QScrollArea;
class QToolButton;

class TReportPreviewForm : public QDialog {
  Q_OBJECT
public:
  // Doc is copied; the dialog is titled with its caption.
  explicit TReportPreviewForm(const TReportDocument &Doc, QWidget *Parent = nullptr);

  // The name the PDF is saved under (empty: cancelled). The default asks with
  // a file dialog; tests put their own.
  using TAskFileName = std::function<QString(QWidget *Parent)>;
  static TAskFileName SetAskFileName(TAskFileName Ask);

  void ShowPage(int Index);
  int PageIndex() const { return FPage; }
  void SetZoomDpi(double Dpi);
  double ZoomDpi() const { return FDpi; }
  // Saves the PDF under the chosen name; a failed save shows its error.
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

// Makes the dialog the program's report preview (see SetReportPreviewHook).
void InstallReportPreviewForm();
