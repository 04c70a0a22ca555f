// Where the identity check runs besides a write: before a read the engineer
// asks for, now and then while the title panel polls, and on the connection a
// write goes on after a reconnect. Against two devsim relays behind the test
// gateway (the demo terminal A and the second terminal B, whose setpoint group
// 2 lies elsewhere), the window's timer ticking when the test says so.
#include "uIdentification.h"

#include "uDeviceBoardFrame.h"
#include "uLinkKit.h"
#include "uLogger.h"
#include "uModbus.h"
#include "uParamFrame.h"
#include "uSimFault.h"
#include "uUstavFrame.h"

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QRegularExpression>
#include <functional>

namespace {
using TUp = TTcpGateway::TUpstream;
const char *const OtherDate = "2025-02-17"; // B's descriptor date

class ReadCheckLink : public TShownCapture {
protected:
  void SetUp() override {
    TShownCapture::SetUp();
    LoadDemoDevice(Other, 2);
    ServeTwoRelays(S, Other, OtherServer, Gateway);
  }
  void TearDown() override {
    S.Form.reset(); // before the gateway it is connected to
    TShownCapture::TearDown();
  }
  // The window on the gateway, A identified, the page Page gives shown; the
  // identification's clock is Now when Clock is set.
  void Start(TTabSheet *TMainForm::*Page, bool Clock = false) {
    for (const char *file : {"dashboard.XML", "deviceFrame.xml"}) {
      QFile::remove(S.Dir.filePath(file));
      ASSERT_TRUE(QFile::copy(QString(KV_SOURCE_DIR "/tools/devsim/") + file, S.Dir.filePath(file)));
    }
    ASSERT_TRUE(S.Open(QString("[setup]\ncustom=0\npasswdExpirationPeriod=600\nprotocol=modbustcp\n"
                               "[modbustcp]\nhost=127.0.0.1\nport=%1\n[device]\npollPause=1000\n"
                               "[com]\nTimeout=500\n[timer]\ninterval=3600000\n[debug]\npoll=1\n"
                               "[param]\ndirectEdit=0\n")
                           .arg(Gateway->Port())));
    if (Clock)
      S.Form->Identification()->SetClock([this] { return Now; });
    ASSERT_EQ(S.Identify(), "Готово");
    OwnDate = S.Form->LabelDescID->text();
    S.Form->show();
    S.Form->PageControl->setCurrentWidget(S.Form.get()->*Page);
  }
  bool Idle() const { return LinkIdle(S); }
  // Up to Ticks ticks until Done, each tick's chains (and an identification
  // they start) run to their end.
  bool TickUntil(int Ticks, const std::function<bool()> &Done) { return ::TickUntil(S, Ticks, Done); }
  bool OtherIdentified() const {
    return S.Form->IsDeviceReady() && S.Form->LabelDescID->text() == OtherDate && Idle();
  }
  static QStringList Column(const TUstavGridFrame *F, int Col) {
    QStringList out;
    for (int r = 1; r < F->sgUstav->rowCount(); ++r)
      out << F->sgUstav->Cells(Col, r);
    return out;
  }
  int ParamRow(int Reg) const {
    for (int r = 1; r < S.Form->ParamFrame->sgParam->rowCount(); ++r)
      if (S.Form->ParamFrame->RowReg(r) == Reg)
        return r;
    return -1;
  }
  // The identity checks relay Which was asked: each reads the descriptor's first frame.
  int Checks(TUp Which) const {
    int n = 0;
    for (const QByteArray &pdu : Gateway->Requests(Which))
      n += uint8_t(pdu[0]) == SIM_FN_READ_FILE && uint8_t(pdu[1]) == FILE_DESCRIPTOR && uint8_t(pdu[3]) == 0;
    return n;
  }
  QStringList Boxes() const { return VisibleBoxTexts(S.Form.get()); }

  TDemoSession S;
  TSimDevice Other;
  std::unique_ptr<TDevSimServer> OtherServer;
  std::unique_ptr<TTcpGateway> Gateway;
  QString OwnDate;
  qint64 Now = 0; // ms, the identification's clock when the test sets it
};

} // namespace

// A read the engineer asks for, after relay A was swapped for B behind the
// gateway with no gap: B is identified, and nothing of B is shown under A's
// map (the setpoints page's group 2 lies elsewhere on B); no edit tab is made
// from what A's pages show. Reads of a page, a tab, a board and the journal.
TEST_F(ReadCheckLink, AReadAskedAfterASwapWithNoGapIdentifiesTheNewRelayAndShowsNothingOfItUnderTheOldMap) {
  ASSERT_NO_FATAL_FAILURE(Start(&TMainForm::TabSheetUstav));
  TUstavFrame *page = S.Form->UstavFrame;
  const QStringList ownGroup2 = Column(page, 3);
  // Every showing of the setpoints page, with the descriptor it was shown under.
  QList<std::pair<QString, QStringList>> shown;
  QObject::connect(page, &TUstavFrame::ValuesShown, page,
                   [&] { shown.append({S.Form->LabelDescID->text(), Column(page, 3)}); });
  const auto refresh = [this] { S.Form->aMonitorRefresh->trigger(); };
  const auto show = [this](TTabSheet *TMainForm::*Page) {
    return [this, Page] { S.Form->PageControl->setCurrentWidget(S.Form.get()->*Page); };
  };
  // The boards tab, opened (and its board read) while A is identified.
  const auto boards = [this] {
    S.Form->NDeviceBoard->trigger();
    ASSERT_TRUE(S.WaitIdle());
    ASSERT_TRUE(S.Form->ActiveFrame<TkvDeviceBoardFrame>());
  };
  const struct {
    const char *Name;
    std::function<void()> Show, Ask;
  } cases[] = {
      {"Обновить on the setpoints", show(&TMainForm::TabSheetUstav), refresh},
      {"Обновить on the parameters", show(&TMainForm::TabSheetParam), refresh},
      {"the edit tab", show(&TMainForm::TabSheetUstav), [this] { S.Form->EditCommand(); }},
      {"the journal", show(&TMainForm::TabSheetEvent), refresh},
      {"the oscillogram list", show(&TMainForm::TabSheetOscHeader), refresh},
      {"Обновить on a board", boards, refresh},
      {"a board picked in the list", boards, [this] {
         QListWidget *list = S.Form->ActiveFrame<TkvDeviceBoardFrame>()->ListBox;
         list->setCurrentRow(list->currentRow() == 0 ? 1 : 0);
       }},
  };
  for (const auto &t : cases) {
    SCOPED_TRACE(t.Name);
    if (Gateway->Forwarded(TUp::B) > 0) {
      Gateway->Target(TUp::A);
      ASSERT_EQ(S.Identify(), "Готово");
    }
    ASSERT_NO_FATAL_FAILURE(t.Show());
    const qsizetype changes = Logger().Lines().filter(IdentTexts::DeviceChanged).size();
    Gateway->Target(TUp::B);
    t.Ask();
    EXPECT_EQ(S.Form->ActiveLocalSet(), nullptr);
    EXPECT_TRUE(TickUntil(2, [this] { return OtherIdentified(); })) << S.Status().toStdString();
    EXPECT_GT(Logger().Lines().filter(IdentTexts::DeviceChanged).size(), changes);
  }
  for (const auto &[date, group2] : shown)
    if (date == OwnDate)
      EXPECT_EQ(group2.join('|').toStdString(), ownGroup2.join('|').toStdString()) << "B's values under A's map";
  EXPECT_EQ(Gateway->Writes(TUp::B), 0);
}

TEST_F(ReadCheckLink, AWriteWhoseLinkDropsAtItsReadBackSendsNothingMoreAndTheRelayAnsweringAfterIsIdentified) {
  constexpr int reg = 31, otherValue = 99;
  Other.SetRegister(TSimArea::Holding, reg, otherValue);
  ASSERT_NO_FATAL_FAILURE(Start(&TMainForm::TabSheetParam));
  TkvParamFrame *page = S.Form->ParamFrame;
  page->sgParam->setCurrentCell(ParamRow(reg), 2);
  page->Editor()->StartEdit();
  ASSERT_TRUE(page->Editor()->Edit->isVisible());
  page->Editor()->Edit->setText("17");
  QTest::keyClick(page->Editor()->Edit, Qt::Key_Return);
  ASSERT_TRUE(S.WaitIdle());
  // The first read after the write: the read-back. B answers the next connection.
  Gateway->CloseAt({0x03, 1, 0x06}, TUp::B);
  const qsizetype logged = Logger().Lines().size();
  S.Form->SetLoggedIn(true);
  page->WriteAll();
  ASSERT_TRUE(S.WaitIdle());
  EXPECT_EQ(Gateway->Armed(), 0) << "the link was closed at the read-back";
  EXPECT_EQ(RegisterRequests(S.Device).filter("w "), QStringList{"w 31 17"});
  EXPECT_TRUE(Gateway->Requests(TUp::B).empty()) << "a request of the write reached B";
  EXPECT_FALSE(Modbus().IsValid(reg) && Modbus().GetWord(reg) == otherValue) << "B's value taken as the relay's";
  EXPECT_NE(page->sgParam->Cells(2, ParamRow(reg)), QString::number(otherValue));
  // One write, one report (the link's own log line apart): no cut told after its failure.
  const QStringList said =
      Logger().Lines().mid(logged).filter(QRegularExpression("^(?!.*device error).*ERROR"));
  EXPECT_EQ(said.size(), 1) << said.join("\n").toStdString();
  EXPECT_LE(Boxes().size(), 1) << Boxes().join("|").toStdString();

  EXPECT_TRUE(TickUntil(3, [this] { return OtherIdentified(); })) << S.Status().toStdString();
  EXPECT_EQ(Gateway->Writes(TUp::B), 0);
}

// The title panel polls every 2 s here: the check goes with a refresh once 10 s
// have passed since the relay was last seen to be the one identified, so a
// relay swapped with no sign is found within 10 s and costs no check at
// every refresh.
TEST_F(ReadCheckLink, WhileThePanelPollsTheRelayIsCheckedEveryTenSeconds) {
  ASSERT_NO_FATAL_FAILURE(Start(&TMainForm::TabSheetDashboard, true));
  S.Form->cbAuto->setChecked(true);
  const int before = Checks(TUp::A);
  for (int i = 0; i < 15; ++i) {
    Now += 2000;
    S.Form->TimerTimer();
    ASSERT_TRUE(QTest::qWaitFor([this] { return Idle(); }, 60000));
  }
  EXPECT_EQ(Checks(TUp::A) - before, 3) << "30 s of polling";

  Gateway->Target(TUp::B);
  int ticks = 0;
  while (ticks < 8 && !OtherIdentified()) {
    Now += 2000;
    ++ticks;
    TickUntil(1, [this] { return OtherIdentified(); });
  }
  EXPECT_TRUE(OtherIdentified()) << S.Status().toStdString();
  EXPECT_LE(ticks, 5) << "found within 10 s";
  EXPECT_EQ(Gateway->Writes(TUp::B), 0);
}

// A check that fails with no sign of another relay (busy, no answer) fails
// the read asked, with the failure's report, as its own read would: nothing
// read, the relay still the one identified, and the next tick's check
// confirms it.
TEST_F(ReadCheckLink, ARefreshWhoseCheckFailsWithNoSignOfAnotherRelayFailsAsItsReadWould) {
  ASSERT_NO_FATAL_FAILURE(Start(&TMainForm::TabSheetUstav));
  const struct {
    const char *Name;
    std::function<void()> Fail, Mend;
    std::function<bool(const QString &)> Report;
  } cases[] = {
      {"busy",
       [this] {
         TSimFault busy;
         busy.Kind = TSimFaultKind::Exception;
         busy.Value = 6;
         busy.Function = SIM_FN_READ_FILE;
         S.Device.SetFault(busy);
       },
       [this] { S.Device.SetFault({}); }, [](const QString &T) { return T.contains("06") && !IsLinkLossText(T); }},
      {"no answer", [this] { Gateway->Mode(TTcpGateway::TMode::Silent); },
       [this] { Gateway->Mode(TTcpGateway::TMode::Forward); }, [](const QString &T) { return IsLinkLossText(T); }},
  };
  for (const auto &t : cases) {
    SCOPED_TRACE(t.Name);
    const size_t mark = Gateway->Requests(TUp::A).size();
    const qsizetype changes = Logger().Lines().filter(IdentTexts::DeviceChanged).size();
    t.Fail();
    S.Form->aMonitorRefresh->trigger();
    ASSERT_TRUE(S.WaitIdle());
    EXPECT_TRUE(t.Report(S.Status())) << S.Status().toStdString();
    const std::vector<QByteArray> asked = Gateway->Requests(TUp::A);
    for (size_t i = mark; i < asked.size(); ++i)
      EXPECT_NE(uint8_t(asked[i][0]), SIM_FN_READ_HOLDING) << "the page's read went";
    EXPECT_TRUE(S.Form->IsDeviceReady() && S.Form->LabelDescID->text() == OwnDate);
    EXPECT_EQ(Logger().Lines().filter(IdentTexts::DeviceChanged).size(), changes);
    t.Mend();
    EXPECT_TRUE(TickUntil(2, [this] { return S.Form->ToolBarColor() == clLinkDone && Idle(); }))
        << S.Status().toStdString();
    S.Form->aMonitorRefresh->trigger();
    ASSERT_TRUE(S.WaitIdle());
    EXPECT_EQ(S.Status(), "Готово");
  }
}
