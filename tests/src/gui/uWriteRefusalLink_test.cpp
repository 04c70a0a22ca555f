// A bound control's write whose password box an identification closed: the
// refusal names what the control writes, not the page it is on.
#include "../oscview/oscRecords.h"

#include "uControls.h"
#include "uDashboardFrame.h"
#include "uLinkKit.h"
#include "uPasswdForm.h"

#include <QComboBox>
#include <QFile>
#include <gtest/gtest.h>

namespace {
class WriteRefusalLink : public TShownCapture {
protected:
  TDemoSession S;
};
} // namespace

// "Режим" on the title panel chosen while not logged in; the relay is
// identified again under the password box: nothing is sent, and the box
// names "Режим работы терминала".
TEST_F(WriteRefusalLink, APasswordBoxClosedByAnIdentificationNamesTheControlsValue) {
  ASSERT_TRUE(QFile::copy(KV_SOURCE_DIR "/tools/devsim/dashboard.XML", S.Dir.filePath("dashboard.XML")));
  ASSERT_TRUE(S.Start());
  ASSERT_EQ(S.Identify(), "Готово");
  S.Form->show();
  S.Form->PageControl->setCurrentWidget(S.Form->TabSheetDashboard);
  TParamEnum *mode = nullptr;
  for (QWidget *w : ControlsOf(S.Form->DashboardFrame->Panel, true))
    if (auto *e = qobject_cast<TParamEnum *>(w); e && e->mreg() == 30)
      mode = e;
  ASSERT_TRUE(mode);
  ASSERT_TRUE(mode->isEnabled());
  const uint16_t was = S.Device.Register(TSimArea::Holding, 30);
  S.Device.ClearLogs();
  WhenModal<TPasswdForm>([this](TPasswdForm &) { S.Form->aMonitorPoll->trigger(); });
  emit mode->List()->activated(was == 1 ? 0 : 1);
  ASSERT_TRUE(S.WaitIdle());
  EXPECT_EQ(RegisterRequests(S.Device).join(",").toStdString(), "");
  const QString boxes = BoxesOf(S.Form.get());
  EXPECT_TRUE(boxes.contains("Не записано: Режим работы терминала")) << boxes.toStdString();
  EXPECT_FALSE(boxes.contains("Текущие значения")) << boxes.toStdString();
}
