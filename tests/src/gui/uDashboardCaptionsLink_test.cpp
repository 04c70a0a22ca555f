// The title panel and a board saved in each language of the interface: the
// files hold every control's own captions, as the engineer's file gave them.
#include "uControls.h"
#include "uDashboardFrame.h"
#include "uDeviceBoardFrame.h"
#include "uLinkKit.h"

#include <QFile>
#include <QListWidget>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace {
// The captions a page file holds, in file order.
QStringList CaptionsOf(const QString &File) {
  static const QRegularExpression caption(
      "<(Caption|LabelCaption|EditLabelCaption|caption1|caption2)>([^<]*)</", QRegularExpression::CaseInsensitiveOption);
  QStringList out;
  for (const QRegularExpressionMatch &m : caption.globalMatch(FromWin1251(LoadFileBytes(File))))
    out << m.captured(1) + "=" + m.captured(2);
  return out;
}

class DashboardCaptionsLink : public TShownCapture {
protected:
  TDemoSession S;
};
} // namespace

// Russian, English, Ukrainian and Russian again: the title panel's file and
// the boards file saved in each hold the captions the demo files hold, "Дата
// ядра" and "Время устройства" among them, as they are written there.
TEST_F(DashboardCaptionsLink, APanelFileKeepsItsOwnCaptionsInEveryLanguage) {
  MultiLingual().Load(KV_SOURCE_DIR "/src/resources");
  for (const char *name : {"dashboard.XML", "deviceFrame.xml"})
    ASSERT_TRUE(QFile::copy(QString(KV_SOURCE_DIR "/tools/devsim/") + name, S.Dir.filePath(name)));
  ASSERT_TRUE(S.Start("[setup]\nlang=RU\n"));
  ASSERT_EQ(S.Identify(), "Готово");
  TMainForm &w = *S.Form;
  w.NDeviceBoard->trigger();
  auto *boards = w.findChild<TkvDeviceBoardFrame *>();
  ASSERT_TRUE(boards);
  ASSERT_TRUE(S.WaitIdle());
  const struct {
    QAction *Language;
    const char *Name;
  } steps[] = {{nullptr, "RU"}, {w.NEnglish, "EN"}, {w.NUkrainian, "UA"}, {w.NRussian, "RU again"}};
  for (const bool board : {false, true}) {
    SCOPED_TRACE(board ? "boards" : "title panel");
    const QString source = S.Dir.filePath(board ? "deviceFrame.xml" : "dashboard.XML");
    const QStringList own = CaptionsOf(source);
    ASSERT_TRUE(own.contains("Caption=Дата ядра") || board);
    ASSERT_TRUE(own.contains("Caption=Время устройства") || board);
    for (int row = 0; board && row < boards->ListBox->count(); ++row) {
      // Each board built once, so that each is stored from its controls.
      boards->ListBox->setCurrentRow(row);
      ASSERT_TRUE(S.WaitIdle());
    }
    for (const auto &step : steps) {
      SCOPED_TRACE(step.Name);
      if (step.Language)
        step.Language->trigger();
      const QString saved = S.Dir.filePath(QString("saved-%1-%2.xml").arg(board).arg(step.Name));
      ASSERT_TRUE(board ? boards->Save(saved) : w.DashboardFrame->Save(saved));
      EXPECT_EQ(CaptionsOf(saved).join("\n").toStdString(), own.join("\n").toStdString());
    }
    w.NRussian->trigger();
  }
}
