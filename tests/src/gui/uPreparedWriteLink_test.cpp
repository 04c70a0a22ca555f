// What the engineer prepared for one relay (a password typed, a value chosen
// on the title panel, an edit begun on a page) against devsim whose image is
// swapped for another relay's while it is pending, and the oscillogram's
// channel dialog left open while its page changes: nothing reaches the other
// relay and nothing acts on a page that has gone.
#include "../oscview/oscRecords.h"

#include "uControls.h"
#include "uDashboardFrame.h"
#include "uIdentification.h"
#include "uOscHeadFrame.h"
#include "uOscSetupForm.h"
#include "uLogger.h"
#include "uParamFrame.h"
#include "uLinkKit.h"
#include "uPasswdForm.h"
#include "uSimFault.h"
#include "uStringGrid.h"
#include "uStringGridEditor.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
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
  bool Idle() const { return LinkIdle(S); }
  // Up to Ticks ticks until Done; each tick's chains, and an identification
  // a check starts, run to their end.
  bool TickUntil(int Ticks, const std::function<bool()> &Done) { return ::TickUntil(S, Ticks, Done); }
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
    if (Box()->isVisible()) {
      TypePassword();
      (void)QTest::qWaitFor([&] { return !Box()->isVisible() && Idle(); }, 30000);
    }
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
  EXPECT_TRUE(QTest::qWaitFor([this] { return !S.Form->DashboardFrame->IsRebuildPending(); }, 5000));
}

INSTANTIATE_TEST_SUITE_P(Typed, TitlePanelBoxLink, ::testing::Bool(),
                         [](const auto &Info) { return Info.param ? "InTheSilence" : "AfterB"; });

// A title-panel list dropped down when the link fails closes without a
// choice: what it offered was the previous relay's.
TEST_F(PreparedWriteLink, ATitlePanelListOpenWhenTheLinkFailsClosesWithoutAChoice) {
  ASSERT_NO_FATAL_FAILURE(Start());
  S.Form->show();
  TParamEnum *mode = ModeCombo();
  ASSERT_TRUE(mode);
  mode->List()->showPopup();
  ASSERT_TRUE(mode->List()->view()->isVisible());
  Silence(true);
  S.Form->TimerTimer();
  ASSERT_TRUE(S.WaitIdle());
  EXPECT_FALSE(mode->List()->view()->isVisible());
}

// The channel dialog of a record read for the first time (no side file yet)
// is left open while another tab comes to the front, or while the record's
// own tab is closed; then OK is pressed.
class OscDialogLink : public PreparedWriteLink, public ::testing::WithParamInterface<bool> {};

TEST_P(OscDialogLink, OkActsOnTheRecordsOwnTabOrOnNothing) {
  const bool closeOwn = GetParam();
  ASSERT_NO_FATAL_FAILURE(Start());
  TMainForm &w = *S.Form;
  w.cbAuto->setChecked(false);
  w.PageControl->setCurrentWidget(w.TabSheetOscHeader);
  w.aMonitorRefresh->trigger();
  ASSERT_TRUE(S.WaitIdle());
  QPointer<QWidget> own;
  WhenModal<TOscSetupForm>([&](TOscSetupForm &Form) {
    own = w.PageControl->currentWidget();
    if (closeOwn)
      w.PageControlHelper->CloseButton(own)->click();
    else
      w.PageControl->setCurrentWidget(w.TabSheetDashboard);
    for (QAbstractButton *b : Form.findChild<QDialogButtonBox *>()->buttons())
      if (b->text() == "OK")
        b->click();
  });
  w.OscHeadFrame->sgOscHeadDblClick(1);
  ASSERT_TRUE(S.WaitIdle());
  if (closeOwn) {
    // The tab goes once the dialog has: nothing was deleted under it.
    EXPECT_TRUE(QTest::qWaitFor([&] { return !own; }, 5000));
    return;
  }
  ASSERT_TRUE(own);
  EXPECT_EQ(static_cast<TTabSheet *>(own.data())->Tag(), 1);
  EXPECT_EQ(w.PageControl->tabText(w.PageControl->indexOf(own)), "161501      ");
  EXPECT_EQ(own->findChild<TkvOscFrame *>()->objectName(), "OscFrame1");
  EXPECT_EQ(w.TabSheetDashboard->Tag(), 0);
  EXPECT_EQ(w.PageControl->currentWidget(), w.TabSheetDashboard);
}

INSTANTIATE_TEST_SUITE_P(Meanwhile, OscDialogLink, ::testing::Bool(),
                         [](const auto &Info) { return Info.param ? "OwnTabClosed" : "AnotherTabInFront"; });

// An edit begun on "Параметры" for relay A and finished after relay B was
// identified: nothing is sent, and the box names the value.
TEST_F(PreparedWriteLink, APageEditBegunForAnotherRelayIsDroppedWithTheBox) {
  ASSERT_NO_FATAL_FAILURE(Start("[param]\ndirectEdit=1\n"));
  TMainForm &w = *S.Form;
  w.show();
  w.cbAuto->setChecked(false);
  w.SetLoggedIn(true);
  w.PageControl->setCurrentWidget(w.TabSheetParam);
  TkvParamFrame *page = w.ParamFrame;
  int row = -1;
  for (int r = 1; r < page->sgParam->rowCount(); ++r)
    if (page->RowReg(r) == 31)
      row = r;
  ASSERT_GT(row, 0);
  page->sgParam->setCurrentCell(row, 2);
  page->Editor()->StartEdit();
  ASSERT_TRUE(page->Editor()->Edit->isVisible());
  page->Editor()->Edit->setText("17");
  LoadDemoDevice(S.Device, 2);
  ASSERT_EQ(S.Identify(), "Готово");
  ASSERT_EQ(w.LabelDescID->text(), "2025-02-17");
  S.Device.ClearLogs();
  // Should the password be asked, it is given: the write itself must not go.
  QTimer answer;
  QObject::connect(&answer, &QTimer::timeout, [this] {
    if (QApplication::activeModalWidget() == Box())
      TypePassword();
  });
  answer.start(20);
  QTest::keyClick(page->Editor()->Edit, Qt::Key_Return);
  ASSERT_TRUE(S.WaitIdle());
  answer.stop();
  EXPECT_EQ(Writes(S.Device), QStringList());
  QStringList boxes;
  for (QMessageBox *b : w.findChildren<QMessageBox *>())
    boxes << b->text();
  EXPECT_TRUE(boxes.join("|").contains("Не записано: Адрес Modbus")) << boxes.join("|").toStdString();
}

// The password box of a title-panel choice and of a "Параметры" write,
// closed for the engineer by a link failure or by the program's close:
// what was not written stays in the write box and in the log; nothing is sent.
TEST_F(PreparedWriteLink, APasswordBoxClosedForTheEngineerSaysWhatWasNotWritten) {
  const struct {
    const char *Write, *Page, *Why;
    bool Exit;
  } rows[] = {
      // A bound control names what it writes, not the page it is on.
      {"title panel", "Режим работы терминала", TPasswdForm::LinkFailedText, false},
      {"Параметры", "Параметры", TPasswdForm::LinkFailedText, false},
      {"Параметры at a signal to end", "Параметры", TPasswdForm::ClosedForExitText, true},
  };
  for (const auto &r : rows) {
    SCOPED_TRACE(r.Write);
    S.Form.reset();
    S.Server.reset();
    QFile::remove(S.Dir.filePath("dashboard.XML"));
    ASSERT_NO_FATAL_FAILURE(Start());
    S.Form->show();
    S.Form->SetLoggedIn(false);
    const qsizetype mark = Logger().Lines().size();
    WhenModal<TPasswdForm>([&](TPasswdForm &) {
      if (r.Exit) {
        S.Form->CloseQuietly();
        return;
      }
      Silence(true);
      S.Form->DashboardFrame->Refresh();
    });
    if (r.Page == QString("Параметры")) {
      S.Form->PageControl->setCurrentWidget(S.Form->TabSheetParam);
      S.Form->WriteCommand();
    } else {
      TParamEnum *mode = ModeCombo();
      ASSERT_TRUE(mode);
      mode->List()->setFocus();
      QTest::keyClick(mode->List(), Qt::Key_Down);
    }
    ASSERT_TRUE(S.WaitIdle());
    Silence(false);
    EXPECT_FALSE(Box()->isVisible());
    EXPECT_EQ(Writes(S.Device), QStringList());
    const QString line = QString("Не записано: %1: %2").arg(r.Page, QString::fromUtf8(r.Why));
    EXPECT_EQ(Logger().Lines().mid(mark).filter(line).size(), 1) << Logger().Lines().mid(mark).join("\n").toStdString();
    if (r.Exit) {
      EXPECT_TRUE(QTest::qWaitFor([this] { return !S.Form->isVisible(); }, 5000));
      continue;
    }
    QStringList boxes;
    for (QMessageBox *b : S.Form->findChildren<QMessageBox *>())
      if (b->isVisible())
        boxes << b->text();
    EXPECT_EQ(boxes, QStringList{QString("Не записано: %1\n%2").arg(r.Page, QString::fromUtf8(r.Why))});
  }
}
