#include "uReportPreviewForm.h"

#include "uErrors.h"
#include "uFileDialogSink.h"
#include "uMessageSink.h"
#include "uMultiLingual.h"
#include "uPrintDialog.h"
#include "uReportPainter.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QHBoxLayout>
#include <QLabel>
#include <QPrinter>
#include <QScrollArea>
#include <QToolButton>
#include <QVBoxLayout>

namespace {
constexpr double MinDpi = 24, MaxDpi = 288, ZoomStep = 1.25;
// Room the window manager takes around the client area: title bar and borders.
constexpr int FrameAllowance = 48;

QToolButton *Button(QWidget *Parent, QHBoxLayout *Row, const char *Name, const QString &Text) {
  auto *b = new QToolButton(Parent);
  b->setObjectName(Name);
  b->setText(Text);
  b->setToolButtonStyle(Qt::ToolButtonTextOnly);
  Row->addWidget(b);
  return b;
}
} // namespace

TReportPreviewForm::TReportPreviewForm(const TReportDocument &Doc, QWidget *Parent) : QDialog(Parent), FDoc(Doc) {
  setObjectName("ReportPreviewForm");
  setWindowTitle(Doc.Caption());
  auto *layout = new QVBoxLayout(this);
  auto *row = new QHBoxLayout;
  btnFirst = Button(this, row, "btnFirst", QStringLiteral("|<"));
  btnPrior = Button(this, row, "btnPrior", QStringLiteral("<"));
  LabelPage = new QLabel(this);
  LabelPage->setObjectName("LabelPage");
  row->addWidget(LabelPage);
  btnNext = Button(this, row, "btnNext", QStringLiteral(">"));
  btnLast = Button(this, row, "btnLast", QStringLiteral(">|"));
  row->addSpacing(12);
  btnZoomOut = Button(this, row, "btnZoomOut", QStringLiteral("−"));
  btnZoomIn = Button(this, row, "btnZoomIn", QStringLiteral("+"));
  row->addSpacing(12);
  btnPrint = Button(this, row, "btnPrint", MultiLingual().Translate(QStringLiteral("Печать")));
  btnPdf = Button(this, row, "btnPdf", QStringLiteral("PDF"));
  row->addStretch();
  btnClose = Button(this, row, "btnClose", MultiLingual().Translate(QStringLiteral("Закрыть")));
  layout->addLayout(row);
  FScroll = new QScrollArea(this);
  FScroll->setBackgroundRole(QPalette::Dark);
  FScroll->setAlignment(Qt::AlignHCenter);
  FImage = new QLabel(FScroll);
  FScroll->setWidget(FImage);
  layout->addWidget(FScroll, 1);

  connect(btnFirst, &QToolButton::clicked, this, [this] { ShowPage(0); });
  connect(btnPrior, &QToolButton::clicked, this, [this] { ShowPage(FPage - 1); });
  connect(btnNext, &QToolButton::clicked, this, [this] { ShowPage(FPage + 1); });
  connect(btnLast, &QToolButton::clicked, this, [this] { ShowPage(int(FDoc.Pages().size()) - 1); });
  connect(btnZoomIn, &QToolButton::clicked, this, [this] { SetZoomDpi(FDpi * ZoomStep); });
  connect(btnZoomOut, &QToolButton::clicked, this, [this] { SetZoomDpi(FDpi / ZoomStep); });
  connect(btnPrint, &QToolButton::clicked, this, &TReportPreviewForm::Print);
  connect(btnPdf, &QToolButton::clicked, this, &TReportPreviewForm::SavePdf);
  connect(btnClose, &QToolButton::clicked, this, &QDialog::accept);
  const QScreen *screen = Parent ? Parent->screen() : QGuiApplication::primaryScreen();
  resize(ReportPreviewSize(screen ? screen->availableGeometry().size() : QSize()));
  Render();
}

void TReportPreviewForm::ShowPage(int Index) {
  FPage = std::clamp(Index, 0, int(FDoc.Pages().size()) - 1);
  Render();
}

void TReportPreviewForm::SetZoomDpi(double Dpi) {
  FDpi = std::clamp(Dpi, MinDpi, MaxDpi);
  Render();
}

void TReportPreviewForm::Render() {
  const int count = int(FDoc.Pages().size());
  FImage->setPixmap(QPixmap::fromImage(RenderReportPage(FDoc, FPage, FDpi)));
  FImage->adjustSize();
  LabelPage->setText(QStringLiteral("%1 / %2").arg(FPage + 1).arg(count));
  btnFirst->setEnabled(FPage > 0);
  btnPrior->setEnabled(FPage > 0);
  btnNext->setEnabled(FPage < count - 1);
  btnLast->setEnabled(FPage < count - 1);
  btnZoomIn->setEnabled(FDpi < MaxDpi);
  btnZoomOut->setEnabled(FDpi > MinDpi);
}

void TReportPreviewForm::SavePdf() {
  TFileDialogRequest request;
  request.Kind = TFileDialogKind::Save;
  request.DefaultExt = QStringLiteral("pdf");
  request.Filter = QStringLiteral("PDF (*.pdf)");
  const QString name = AskFileName(request);
  if (name.isEmpty())
    return;
  try {
    SaveReportPdf(FDoc, name);
  } catch (const EKvError &e) {
    ShowErrorText(e.Text());
  }
}

void TReportPreviewForm::Print() {
  QPrinter printer(QPrinter::HighResolution);
  printer.setFullPage(true);
  printer.setDocName(FDoc.Caption());
  if (ExecutePrintDialog(printer, this))
    PaintReport(FDoc, printer);
}

QSize ReportPreviewSize(const QSize &Available) {
  const QSize wanted(900, 1000);
  if (!Available.isValid())
    return wanted;
  return {std::clamp(Available.width() - FrameAllowance, 200, wanted.width()),
          std::clamp(Available.height() - FrameAllowance, 200, wanted.height())};
}

void InstallReportPreviewForm() {
  SetReportPreviewHook([](const TReportDocument &Doc) {
    TReportPreviewForm form(Doc, QApplication::activeWindow());
    form.exec();
  });
}
