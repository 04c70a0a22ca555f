// What the engineer prepared for one relay (a password typed, a value chosen
// on the title panel, an edit begun on a page) against devsim whose image is
// swapped for another relay's while it is pending, and the oscillogram's
// channel dialog left open while its page changes: nothing reaches the other
// relay and nothing acts on a page that has gone.
#include "../oscview/oscRecords.h"

#include "uControls.h"
#include "uDashboardFrame.h"
#include "uIdentification.h"
#include "uLinkKit.h"
#include "uPasswdForm.h"
#include "uSimFault.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <functional>

namespace {
// Requests that change the device: registers, SRAM, a file, the clock, a special command.
QStringList Writes(const TSimDevice &Device) {
  QStringList out;
  for (const QByteArray &p : Device.RequestLog())
    if (QString fn = QString::number(uint8_t(p[0]), 16); QRegularExpression("^(6|10|56|1b|1a|1f)$").match(fn).hasMatch())
      out << fn;
  return out;
}

class PreparedWriteLink : public TShownCapture {
protected:
  // Devsim over TCP and the window, the demo terminal identified and the
  // title panel shown; the timer ticks when the test says so.
  void Start(const QString &Extra = {}) {
    ASSERT_TRUE(QFile::copy(KV_SOURCE_DIR "/tools/devsim/dashboard.XML", S.Dir.filePath("dashboard.XML")));
    S.Serve(false);
    ASSERT_TRUE(S.Open(QString("[setup]\ncustom=0\npasswdExpirationPeriod=600\nprotocol=modbustcp\n"
                               "[modbustcp]\nhost=127.0.0.1\nport=%1\n[device]\npollPause=300\nerrorLimit=1\n[com]\nTimeout=300\n"
                               "[timer]\ninterval=3600000\n[debug]\npoll=1\n")
                           .arg(S.Server->TcpPort()) +
                       Extra));
    ASSERT_EQ(S.Identify(), "Готово");
    S.Form->PageControl->setCurrentWidget(S.Form->TabSheetDashboard);
    S.Form->cbAuto->setChecked(true);
  }
  bool Idle() const { return S.Form->IOChain()->ChainCount() == 0 && !S.Form->IsLinkBusy(); }
  // Up to Ticks ticks until Done; each tick's chains, and an identification
  // a check starts, run to their end.
  bool TickUntil(int Ticks, const std::function<bool()> &Done) {
    for (int i = 0; i < Ticks && !Done(); ++i) {
      S.Form->TimerTimer();
      (void)QTest::qWaitFor(
          [&] { return Done() || (Idle() && !S.Form->Identification()->IsIdentifyAgainPending()); }, 60000);
    }
    return Done();
  }
  void Silence(bool On) {
    TSimFault f;
    f.Kind = On ? TSimFaultKind::Silence : TSimFaultKind::None;
    S.Device.SetFault(f);
  }
  // Relay A falls silent for a tick, then relay B answers in its place and
  // is identified.
  void SwapToOtherRelay() {
    Silence(true);
    S.Form->TimerTimer();
    ASSERT_TRUE(S.WaitIdle());
    LoadDemoDevice(S.Device, 2);
    S.Device.ClearLogs();
    Silence(false);
    ASSERT_TRUE(TickUntil(3, [this] { return S.Form->LabelDescID->text() == "2025-02-17" && Idle(); }))
        << S.Status().toStdString();
  }
  TPasswdForm *Box() const { return S.Form->Forms().PasswdForm; }
  void TypePassword() {
    Box()->Edit->setText(QString::fromLatin1(DemoDevice::Password));
    Box()->BitBtn1->click();
  }
  TParamEnum *ModeCombo() const {
    for (QWidget *w : ControlsOf(S.Form->DashboardFrame->Panel, true))
      if (auto *e = qobject_cast<TParamEnum *>(w); e && e->isEnabled())
        return e;
    return nullptr;
  }

  TDemoSession S;
};
} // namespace

// A title-panel choice asks for the password; relay A goes silent and relay B
// is identified while the box is open, the password typed during the silence
// or only once B answers.
class TitlePanelBoxLink : public PreparedWriteLink, public ::testing::WithParamInterface<bool> {};

TEST_P(TitlePanelBoxLink, AChoiceWhosePasswordBoxSawAnotherRelayWritesNothing) {
  const bool typedInSilence = GetParam();
  ASSERT_NO_FATAL_FAILURE(Start());
  S.Form->SetLoggedIn(false);
  TParamEnum *mode = ModeCombo();
  ASSERT_TRUE(mode);
  bool boxSeen = false;
  WhenModal<TPasswdForm>([&](TPasswdForm &) {
    boxSeen = true;
    // Whatever fails below, the box is closed: the test goes on.
    struct TClose {
      TPasswdForm *Box;
      ~TClose() {
        if (Box->isVisible())
          Box->BitBtn2->click();
      }
    } close{Box()};
    if (typedInSilence) {
      Silence(true);
      TypePassword();
      ASSERT_TRUE(S.WaitIdle());
      Silence(false);
    }
    ASSERT_NO_FATAL_FAILURE(SwapToOtherRelay());
    // Closed as cancelled when the link failed: the engineer's password applies to nothing.
    EXPECT_FALSE(Box()->isVisible());
    if (Box()->isVisible())
      TypePassword();
    (void)QTest::qWaitFor([&] { return !Box()->isVisible() && Idle(); }, 30000);
    if (Box()->isVisible())
      Box()->BitBtn2->click();
  });
  // The panel is rebuilt for B: never under the list whose signal is on the stack.
  bool choosing = true, goneWhileChoosing = false;
  const QObject listening;
  QObject::connect(mode->List(), &QObject::destroyed, &listening, [&] { goneWhileChoosing = choosing; });
  mode->List()->setFocus();
  QTest::keyClick(mode->List(), Qt::Key_Down);
  choosing = false;
  ASSERT_TRUE(S.WaitIdle());
  EXPECT_TRUE(boxSeen);
  EXPECT_FALSE(goneWhileChoosing);
  EXPECT_EQ(Writes(S.Device), QStringList());
  // The panel is rebuilt for relay B once the choice's handler has returned.
  EXPECT_TRUE(QTest::qWaitFor([this] { return !S.Form->DashboardFrame->IsRebuildPending(); }, 5000));
}

INSTANTIATE_TEST_SUITE_P(Typed, TitlePanelBoxLink, ::testing::Bool(),
                         [](const auto &Info) { return Info.param ? "InTheSilence" : "AfterB"; });
