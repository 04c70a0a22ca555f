// How long a write's report stays, against the demo terminal in devsim: the
// title panel polling, the password typed with its Return, clicks on the
// panel; and a clock write the relay refuses.
#include "../oscview/oscRecords.h"

#include "uControls.h"
#include "uDashboardFrame.h"
#include "uLinkKit.h"
#include "uLogger.h"
#include "uPasswdForm.h"
#include "uSimFault.h"
#include "uWriteGate.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>
#include <gtest/gtest.h>

namespace {
// The demo terminal with its title panel, identified; the window not
// logged in, its timer ticking every 100 ms.
class WriteReportLink : public TShownCapture {
protected:
  void SetUp() override {
    TShownCapture::SetUp();
    for (const char *name : {"dashboard.XML", "deviceFrame.xml"})
      ASSERT_TRUE(QFile::copy(QString(KV_SOURCE_DIR "/tools/devsim/") + name, S.Dir.filePath(name)));
    S.Serve(false);
    ASSERT_TRUE(S.Open(QString("[setup]\ncustom=0\npasswdExpirationPeriod=600\nprotocol=modbustcp\n"
                               "[modbustcp]\nhost=127.0.0.1\nport=%1\n[device]\npollPause=1000\n[com]\nTimeout=5000\n"
                               "[timer]\ninterval=100\n[debug]\npoll=1\n")
                           .arg(S.Server->TcpPort())));
    ASSERT_EQ(S.Identify(), "Готово");
    S.Form->show();
    Mark = Logger().Lines().size();
  }
  // The log's lines since the mark (all it keeps, had it emptied itself when full meanwhile).
  QStringList Log() const {
    const QStringList lines = Logger().Lines();
    return lines.size() >= Mark ? lines.mid(Mark) : lines;
  }
  QString Boxes() const { return BoxesOf(S.Form.get()); }

  TDemoSession S;
  qsizetype Mark = 0;
};
} // namespace

// A value the relay did not keep, written from the title panel after the
// password (typed, then Return): its report stays over the panel's polling
// refreshes and a click on the panel, until the engineer's next command.
TEST_F(WriteReportLink, TheTitlePanelsNotKeptReportStaysUntilTheNextCommand) {
  S.Form->PageControl->setCurrentWidget(S.Form->TabSheetDashboard);
  S.Form->cbAuto->setChecked(true);
  TParamEnum *mode = nullptr;
  for (QWidget *w : ControlsOf(S.Form->DashboardFrame->Panel, true))
    if (auto *e = qobject_cast<TParamEnum *>(w); e && e->mreg() == 30)
      mode = e;
  ASSERT_TRUE(mode);
  S.Form->DashboardFrame->Refresh();
  ASSERT_TRUE(S.WaitIdle());
  const uint16_t held = S.Device.Register(TSimArea::Holding, 30);
  ASSERT_EQ(mode->List()->currentIndex(), held);
  TSimFault unkept;
  unkept.Kind = TSimFaultKind::Unkept;
  unkept.Register = 30;
  S.Device.SetFault(unkept);
  WhenModal<TPasswdForm>([](TPasswdForm &Box) {
    Box.Edit->setText(DemoDevice::Password);
    QTest::keyClick(Box.Edit, Qt::Key_Return);
  });
  emit mode->List()->activated(held == 0 ? 1 : 0);
  ASSERT_TRUE(QTest::qWaitFor([this] { return S.Status().startsWith("Не сохранено устройством: "); }, 30000))
      << S.Status().toStdString();
  const QString report = S.Status();
  EXPECT_EQ(Log().filter(report).size(), 1);
  int refreshes = 0;
  const QMetaObject::Connection counting =
      QObject::connect(S.Form->Timer, &QTimer::timeout, [&refreshes] { ++refreshes; });
  // A Return and a click that start nothing.
  QTest::keyClick(S.Form.get(), Qt::Key_Return);
  QTest::mouseClick(S.Form->DashboardFrame->Panel, Qt::LeftButton);
  // The panel's polling refreshes come and end: their "Готово" says nothing over the report.
  ASSERT_TRUE(QTest::qWaitFor([&] { return refreshes >= 20 && S.Form->IOChain()->ChainCount() == 0; }, 60000));
  QObject::disconnect(counting);
  EXPECT_EQ(S.Status(), report);
  // The engineer's next command releases it.
  S.Device.SetFault(TSimFault());
  S.Form->cbAuto->setChecked(false);
  ASSERT_TRUE(S.WaitIdle());
  S.Form->aMonitorRefresh->trigger();
  ASSERT_TRUE(S.WaitIdle());
  EXPECT_EQ(S.Status(), "Готово");
}

// The relay refuses the clock: the box and the log's line say what was not
// written, as for any refused write.
TEST_F(WriteReportLink, ARefusedClockWriteSaysNotWritten) {
  S.Form->SetLoggedIn(true);
  TSimFault refused;
  refused.Kind = TSimFaultKind::Exception;
  refused.Value = 4;
  refused.Function = SIM_FN_WRITE_CLOCK;
  S.Device.SetFault(refused);
  S.Form->daSetTime->trigger();
  ASSERT_TRUE(S.WaitIdle());
  QApplication::processEvents();
  EXPECT_TRUE(Boxes().contains("Не записано: время устройства")) << Boxes().toStdString();
  EXPECT_EQ(Log().filter("Не записано: время устройства").size(), 1) << Log().join("\n").toStdString();
  EXPECT_TRUE(S.Status().startsWith("Не записано: время устройства")) << S.Status().toStdString();
}
