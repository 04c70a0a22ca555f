// The register map report of the full-size descriptor (every register
// 0..1022 mapped): layout, then PDF writing. Prints milliseconds per run.
#include "full_size_content.h"
#include "uModbusPDF.h"
#include "uReportPainter.h"
#include "uSimpleDeviceDescriptor.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <cstdio>

int main(int argc, char **argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv); // fonts
  QByteArray bytes = BuildDeviceImage(FullSize()).Bytes;
  QBuffer b(&bytes);
  b.open(QIODevice::ReadOnly);
  TSimpleDeviceDescriptor d;
  d.LoadFromStream(b);
  const TModbusPDF report(d, {QStringLiteral("kv"), QStringLiteral("/opt/kv/kv")});

  const int runs = 5;
  QElapsedTimer t;
  t.start();
  int pages = 0;
  for (int i = 0; i < runs; ++i)
    pages = int(report.Build().Pages().size());
  const double layoutMs = double(t.nsecsElapsed()) / 1e6 / runs;

  const TReportDocument doc = report.Build();
  t.restart();
  qsizetype pdfBytes = 0;
  for (int i = 0; i < runs; ++i)
    pdfBytes = ReportToPdf(doc).size();
  const double pdfMs = double(t.nsecsElapsed()) / 1e6 / runs;

  std::printf("register map: %d pages, PDF %lld bytes\n", pages, static_cast<long long>(pdfBytes));
  std::printf("layout: %.1f ms, PDF: %.1f ms, together %.1f ms (mean of %d)\n", layoutMs, pdfMs, layoutMs + pdfMs,
              runs);
  return 0;
}
