#include "uReportPreviewForm.h"

#include "uFileDialogSink.h"
#include "uFiles.h"
#include "uMessageSink.h"

#include <QLabel>
#include <QScreen>
#include <QTemporaryDir>
#include <QToolButton>
#include <gtest/gtest.h>

namespace {
TReportDocument ThreePages() {
  TReportDocument doc({QStringLiteral("Вартон"), QStringLiteral("/opt/kv/kv")});
  doc.SetColumns({100});
  for (int i = 0; i < 120; ++i)
    doc.DrawTextAcrossCols({QString::number(i)});
  doc.EndDoc();
  return doc;
}
} // namespace

TEST(ReportPreviewForm, NavigatesZoomsAndSavesThePdfWhereTheDialogSays) {
  TReportPreviewForm form(ThreePages());
  EXPECT_EQ(form.windowTitle(), "Вартон");
  EXPECT_EQ(form.LabelPage->text(), "1 / 3");
  EXPECT_FALSE(form.btnPrior->isEnabled());
  form.btnLast->click();
  EXPECT_EQ(form.LabelPage->text(), "3 / 3");
  EXPECT_FALSE(form.btnNext->isEnabled());
  form.btnPrior->click();
  EXPECT_EQ(form.PageIndex(), 1);
  const double dpi = form.ZoomDpi();
  form.btnZoomIn->click();
  EXPECT_GT(form.ZoomDpi(), dpi);
  for (int i = 0; i < 20; ++i)
    form.btnZoomOut->click();
  EXPECT_FALSE(form.btnZoomOut->isEnabled());

  QTemporaryDir dir;
  QString answer = dir.filePath("map");
  QStringList shown;
  const TFileDialogSink oldDialog = SetFileDialogSink([&](const TFileDialogRequest &R) {
    EXPECT_EQ(R.Kind, TFileDialogKind::Save);
    return answer.endsWith(".pdf") || answer.isEmpty() ? answer : answer + "." + R.DefaultExt;
  });
  const TMessageSink oldMsg = SetMessageSink([&](TMsgKind, const QString &Text) {
    shown << Text;
    return TMsgResult::Ok;
  });
  form.btnPdf->click();
  EXPECT_TRUE(LoadFileBytes(dir.filePath("map.pdf")).startsWith("%PDF"));
  answer = dir.filePath("no/such/folder/x.pdf");
  form.btnPdf->click();
  answer.clear();
  form.btnPdf->click(); // cancelled: nothing
  SetFileDialogSink(oldDialog);
  SetMessageSink(oldMsg);
  ASSERT_EQ(shown.size(), 1);
  EXPECT_TRUE(shown[0].startsWith("Не удалось сохранить")) << shown[0].toStdString();
}

// The preview opens within the screen, its frame and title included.
TEST(ReportPreviewForm, OpensWithinTheScreen) {
  const struct {
    QSize Available, Size;
  } cases[] = {
      {{1920, 1160}, {900, 1000}}, // room enough: the page's own size
      {{1280, 800}, {900, 752}},
      {{800, 600}, {752, 552}},
      {{}, {900, 1000}}, // no screen known
  };
  for (const auto &c : cases)
    EXPECT_EQ(ReportPreviewSize(c.Available), c.Size) << c.Available.width() << "x" << c.Available.height();
  TReportPreviewForm form(ThreePages());
  const QRect screen = form.screen()->availableGeometry();
  EXPECT_LE(form.height(), screen.height() - 48);
  EXPECT_LE(form.width(), screen.width() - 48);
}
