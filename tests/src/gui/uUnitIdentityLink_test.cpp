// A relay is one unit: relay A (demo unit 1) and relay B (demo unit 2: the
// same type, firmware and descriptor, its own calibration values and logic)
// behind one test gateway, at two addresses of one line or swapped behind
// one address with no sign. Work made for one unit (the edit tab, the
// setpoints page in edit mode, the parameters page, the title panel) never
// reaches the other; the same unit identified again keeps its work; the
// unit datum stays put under the program's own commands.
#include "../../common/uTcpGateway.h"

#include "uControls.h"
#include "uDashboardFrame.h"
#include "uIdentification.h"
#include "uLinkKit.h"
#include "uLogger.h"
#include "uParamFrame.h"
#include "uSimFault.h"
#include "uStringGrid.h"
#include "uStringGridEditor.h"
#include "uUstavFrame.h"
#include "uUstavLocalFrame.h"

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <gtest/gtest.h>

namespace {
using TUp = TTcpGateway::TUpstream;

// What changes between the work being made and its write.
enum class TChange {
  Address,  // another address picked in "Адрес"
  Poll,     // "Опрос" finds another address (A silent to the poll)
  Swap,     // B put in A's place behind the gateway, no sign
  SwapBack, // B in A's place, a read on B (B identified), then A back with no sign
};
// The work made on A before the change.
enum class TWork { EditTab, UstavEditMode, Params };

const char *Name(TChange C) {
  switch (C) {
  case TChange::Address: return "Address";
  case TChange::Poll: return "Poll";
  case TChange::Swap: return "Swap";
  case TChange::SwapBack: return "SwapBack";
  }
  return "?";
}
const char *Name(TWork W) {
  switch (W) {
  case TWork::EditTab: return "EditTab";
  case TWork::UstavEditMode: return "UstavEditMode";
  case TWork::Params: return "Params";
  }
  return "?";
}

constexpr int TimeReg = 101; // "Выдержка времени МТЗ-1"

class TUnitLink : public TTwoRelayCapture {
protected:
  // A at address 1 and B behind one gateway: B at address 2 of one line
  // (Line), or at address 1 in A's place once the gateway is switched.
  void Start(bool Line, const QString &Extra) {
    LoadDemoDevice(Other, 1, 2);
    Other.SetAddress(Line ? 2 : 1);
    ServeBoth();
    if (Line)
      Gateway->Line(1, 2);
    // The demo title panel, with its "Режим работы терминала" list.
    QFile::remove(S.Dir.filePath("dashboard.XML"));
    ASSERT_TRUE(QFile::copy(KV_SOURCE_DIR "/tools/devsim/dashboard.XML", S.Dir.filePath("dashboard.XML")));
    ASSERT_TRUE(S.Open(QString("[setup]\ncustom=-1\npasswdExpirationPeriod=600\nprotocol=modbustcp\n"
                               "[modbustcp]\nhost=127.0.0.1\nport=%1\n[device]\npollPause=1000\n[com]\n"
                               "Timeout=2000\n[timer]\ninterval=3600000\n[debug]\npoll=1\n")
                           .arg(Gateway->Port()) +
                       Extra));
    ASSERT_EQ(S.Identify(), "Готово");
    UnitA = S.Form->Identification()->Unit();
    ASSERT_FALSE(UnitA.UnitDatum.isEmpty());
    S.Form->show();
    S.Form->SetLoggedIn(true);
  }
  const TUnitIdentity &Unit() const { return S.Form->Identification()->Unit(); }
  // The unit identified now is B: its datum, at Address.
  bool BIdentified(int Address) const {
    return S.Form->IsDeviceReady() && !Unit().IsEmpty() && Unit().UnitDatum != UnitA.UnitDatum &&
           Unit().Address == Address;
  }
  // A number typed and chosen in "Адрес".
  void PickAddress(const QString &Text) {
    S.Form->cbDevNo->addItem(Text);
    S.Form->cbDevNo->setCurrentIndex(S.Form->cbDevNo->count() - 1);
    emit S.Form->cbDevNo->activated(S.Form->cbDevNo->currentIndex());
    ASSERT_TRUE(S.WaitIdle());
  }
  // Until identification has ended and the link is idle.
  void WaitIdentified() {
    ASSERT_TRUE(QTest::qWaitFor(
        [this] {
          return S.Form->IOChain()->ChainCount() == 0 && !S.Form->IsLinkBusy() &&
                 !S.Form->Identification()->IsIdentifyAgainPending();
        },
        30000));
  }
  int Row(TUstavGridFrame *F, int Reg) const {
    for (int r = 1; r < F->sgUstav->rowCount(); ++r)
      if (F->RowUstav(r) && F->RowUstav(r)->Reg(0) == Reg)
        return r;
    return -1;
  }
  int ParamRow(int Reg) const {
    for (int r = 1; r < S.Form->ParamFrame->sgParam->rowCount(); ++r)
      if (S.Form->ParamFrame->RowReg(r) == Reg)
        return r;
    return -1;
  }
  QString TimeText(int Word) const { return S.Form->UstavFrame->RegValueText(TimeReg, Word); }

  void MakeWork(TWork W) {
    switch (W) {
    case TWork::EditTab:
      Tab = EditedTab(S, TimeText(510));
      ASSERT_TRUE(Tab);
      ASSERT_EQ(Tab->sgUstav->Cells(2, Row(Tab, TimeReg)), TimeText(510));
      break;
    case TWork::UstavEditMode:
      S.Form->EditCommand();
      ASSERT_TRUE(S.Form->UstavFrame->GetEditMode());
      ASSERT_NO_FATAL_FAILURE(
          TypeInto(*S.Form, S.Form->UstavFrame->Editor(), 2, Row(S.Form->UstavFrame, TimeReg), TimeText(510)));
      break;
    case TWork::Params:
      ASSERT_NO_FATAL_FAILURE(
          TypeInto(*S.Form, S.Form->ParamFrame->Editor(), 2, ParamRow(DemoDevice::ScaledReg), "15.5"));
      break;
    }
    ASSERT_TRUE(S.WaitIdle());
  }
  void Change(TChange C) {
    switch (C) {
    case TChange::Address:
      ASSERT_NO_FATAL_FAILURE(PickAddress("02"));
      ASSERT_TRUE(BIdentified(2)) << S.Status().toStdString();
      break;
    case TChange::Poll:
      // A has gone silent: the poll of the line is answered by B alone.
      Gateway->Target(TUp::B);
      ASSERT_EQ(S.Identify(), "Готово");
      ASSERT_TRUE(BIdentified(2)) << S.Status().toStdString();
      break;
    case TChange::Swap:
      Gateway->Target(TUp::B);
      break;
    case TChange::SwapBack:
      Gateway->Target(TUp::B);
      S.Form->UstavFrame->Refresh();
      ASSERT_NO_FATAL_FAILURE(WaitIdentified());
      ASSERT_TRUE(BIdentified(1)) << S.Status().toStdString();
      Gateway->Target(TUp::A);
      break;
    }
  }
  // "Записать в устройство" on the work's tab or page.
  void Send(TWork W) {
    S.Form->SetLoggedIn(true);
    S.Form->UnpinWriteReport();
    if (W == TWork::EditTab)
      S.Form->PageControl->setCurrentWidget(Tab->parentWidget());
    else
      S.Form->PageControl->setCurrentWidget(W == TWork::Params ? S.Form->TabSheetParam : S.Form->TabSheetUstav);
    try {
      S.Form->WriteCommand();
    } catch (const EKvError &e) {
      Refused = e.Text(); // refused before anything was sent
    }
    ASSERT_NO_FATAL_FAILURE(WaitIdentified());
  }
  QString Said() const { return BoxesOf(S.Form.get()) + "|" + Refused + "|" + S.Status(); }
  // The title panel's "Режим работы терминала" asked to take its other value.
  void PanelWrite() { ChooseOtherPanelMode(S); }

  TUnitIdentity UnitA;
  TkvUstavLocalFrame *Tab = nullptr;
  QString Refused;
};

class UnitWorkLink : public TUnitLink, public ::testing::WithParamInterface<std::tuple<TChange, TWork>> {};

} // namespace

// {another address, "Опрос" at another address, a silent swap, the swap
// back after a read on B} x {the edit tab, "Уставки" in edit mode,
// "Параметры"}: nothing made on A is written to B, and the refusal is named.
TEST_P(UnitWorkLink, WorkMadeForOneUnitIsNeverWrittenToAnother) {
  const auto [change, work] = GetParam();
  const bool line = change == TChange::Address || change == TChange::Poll;
  ASSERT_NO_FATAL_FAILURE(Start(line, "[ustav]\ndirectEdit=" + QString(work == TWork::UstavEditMode ? "2" : "0") +
                                          "\n[param]\ndirectEdit=0\n"));
  ASSERT_NO_FATAL_FAILURE(MakeWork(work));
  ASSERT_NO_FATAL_FAILURE(Change(change));
  Other.ClearLogs();
  ASSERT_NO_FATAL_FAILURE(Send(work));
  EXPECT_EQ(RegisterRequests(Other), QStringList()) << Said().toStdString();
  EXPECT_EQ(Other.Register(TSimArea::Holding, TimeReg), 500);
  EXPECT_EQ(Other.Register(TSimArea::Holding, DemoDevice::ScaledReg), 1234);
  // Work that survived the change is refused by name; the parameters page
  // drops its edits at an identification, so only the silent swap leaves
  // it anything to refuse.
  if (work != TWork::Params || change == TChange::Swap)
    EXPECT_TRUE(Said().contains("Не записано")) << Said().toStdString();
  if (work == TWork::EditTab && change != TChange::Swap) {
    EXPECT_TRUE(Said().contains(UstavTexts::OtherRelay)) << Said().toStdString();
    EXPECT_TRUE(Tab->findChild<QLabel *>("LabelOtherRelay")->isVisible());
  }
  // A silent swap is found by the write's check: B is identified.
  if (change == TChange::Swap) {
    EXPECT_TRUE(Said().contains(IdentTexts::DeviceChanged)) << Said().toStdString();
    EXPECT_TRUE(BIdentified(1));
  }
}

INSTANTIATE_TEST_SUITE_P(Table, UnitWorkLink,
                         ::testing::Combine(::testing::Values(TChange::Address, TChange::Poll, TChange::Swap,
                                                              TChange::SwapBack),
                                            ::testing::Values(TWork::EditTab, TWork::UstavEditMode,
                                                              TWork::Params)),
                         [](const auto &Info) {
                           return std::string(Name(std::get<0>(Info.param))) + "_" + Name(std::get<1>(Info.param));
                         });

// The same unit identified again ("Опрос", "Адрес" at its own address), and
// the same unit after the program's own write of its address parameter
// (answering at the new address), keeps the edit tab made on it working.
TEST_F(TUnitLink, TheSameUnitIdentifiedAgainKeepsItsEditTab) {
  ASSERT_NO_FATAL_FAILURE(Start(false, "[ustav]\ndirectEdit=0\n[param]\ndirectEdit=0\n"));
  ASSERT_NO_FATAL_FAILURE(MakeWork(TWork::EditTab));
  const struct {
    const char *Case;
    std::function<void()> Again;
    int Value;
  } cases[] = {
      {"Опрос", [this] { ASSERT_EQ(S.Identify(), "Готово"); }, 510},
      {"Адрес 01", [this] { PickAddress("01"); }, 520},
      {"its address written, then Адрес 02",
       [this] {
         // The relay takes its new address once the write has been read back.
         S.Form->PageControl->setCurrentWidget(S.Form->TabSheetParam);
         TypeInto(*S.Form, S.Form->ParamFrame->Editor(), 2, ParamRow(31), "2");
         S.Form->ParamFrame->WriteAll();
         ASSERT_TRUE(S.WaitIdle());
         ASSERT_EQ(S.Device.Register(TSimArea::Holding, 31), 2);
         S.Device.SetAddress(2);
         PickAddress("02");
         ASSERT_EQ(Unit().Address, 2);
       },
       530},
  };
  for (const auto &c : cases) {
    ASSERT_NO_FATAL_FAILURE(c.Again()) << c.Case;
    EXPECT_TRUE(S.Form->IsDeviceReady()) << c.Case;
    EXPECT_FALSE(Tab->findChild<QLabel *>("LabelOtherRelay")->isVisible()) << c.Case;
    // The value typed for this write.
    S.Form->PageControl->setCurrentWidget(Tab->parentWidget());
    Tab->sgUstav->setCurrentCell(Row(Tab, TimeReg), 2);
    Tab->Editor()->StartEdit();
    Tab->Editor()->Edit->setText(TimeText(c.Value));
    QTest::keyClick(Tab->Editor()->Edit, Qt::Key_Return);
    S.Device.ClearLogs();
    ASSERT_NO_FATAL_FAILURE(Send(TWork::EditTab));
    EXPECT_EQ(RegisterRequests(S.Device), QStringList{QString("w %1 %2").arg(TimeReg).arg(c.Value)})
        << c.Case << " " << Said().toStdString();
    EXPECT_EQ(Gateway->Writes(TUp::B), 0) << c.Case;
  }
}

// The title panel and "Параметры": a value chosen or typed on A before a
// silent swap is refused at its write's check; one chosen after B's
// identification is written to B.
TEST_F(TUnitLink, AChoiceBeforeASilentSwapIsRefusedAndOneAfterTheNewUnitsIdentificationWritesToIt) {
  ASSERT_NO_FATAL_FAILURE(Start(false, "[ustav]\ndirectEdit=0\n[param]\ndirectEdit=0\n"));
  S.Form->PageControl->setCurrentWidget(S.Form->TabSheetDashboard);
  Gateway->Target(TUp::B);
  Other.ClearLogs();
  ASSERT_NO_FATAL_FAILURE(PanelWrite());
  ASSERT_NO_FATAL_FAILURE(WaitIdentified());
  EXPECT_EQ(RegisterRequests(Other), QStringList());
  EXPECT_TRUE(Said().contains(IdentTexts::DeviceChanged)) << Said().toStdString();
  ASSERT_TRUE(BIdentified(1));
  S.Form->PageControl->setCurrentWidget(S.Form->TabSheetDashboard);
  ASSERT_NO_FATAL_FAILURE(PanelWrite());
  ASSERT_TRUE(S.WaitIdle());
  // The mode's other item, whatever its number.
  const QStringList toB = RegisterRequests(Other);
  ASSERT_EQ(toB.size(), 1) << Said().toStdString();
  EXPECT_TRUE(toB[0].startsWith("w 30 ")) << toB[0].toStdString();

  // "Параметры" typed on B, then A back with no sign.
  ASSERT_NO_FATAL_FAILURE(
      TypeInto(*S.Form, S.Form->ParamFrame->Editor(), 2, ParamRow(DemoDevice::ScaledReg), "15.5"));
  Gateway->Target(TUp::A);
  S.Device.ClearLogs();
  ASSERT_NO_FATAL_FAILURE(Send(TWork::Params));
  EXPECT_EQ(RegisterRequests(S.Device), QStringList()) << Said().toStdString();
  EXPECT_TRUE(Said().contains(IdentTexts::DeviceChanged)) << Said().toStdString();
  ASSERT_EQ(Unit().UnitDatum, UnitA.UnitDatum);
  ASSERT_NO_FATAL_FAILURE(
      TypeInto(*S.Form, S.Form->ParamFrame->Editor(), 2, ParamRow(DemoDevice::ScaledReg), "15.5"));
  ASSERT_NO_FATAL_FAILURE(Send(TWork::Params));
  EXPECT_EQ(RegisterRequests(S.Device), QStringList{"w 50 1550"}) << Said().toStdString();
}

// The unit datum is the relay's own: none of the program's writes reach it,
// and it reads the same across 100 checks and a restart of the relay.
TEST_F(TUnitLink, TheUnitDatumStaysPutAcrossTheProgramsWritesManyReadsAndARestart) {
  ASSERT_NO_FATAL_FAILURE(Start(false, "[ustav]\ndirectEdit=1\n[param]\ndirectEdit=1\n"));
  const auto sram = [this] {
    QList<int> values;
    for (int i = 0; i < DemoDevice::CalibrRecords; ++i)
      values << S.Device.Register(TSimArea::Sram, DemoDevice::CalibrValueSram + i);
    return values;
  };
  const QList<int> before = sram();
  S.Device.ClearLogs();
  // A setpoint, a parameter, the address parameter, the clock, the title panel.
  ASSERT_NO_FATAL_FAILURE(TypeInto(*S.Form, S.Form->UstavFrame->Editor(), 2, Row(S.Form->UstavFrame, TimeReg),
                                   TimeText(510)));
  ASSERT_TRUE(S.WaitIdle());
  ASSERT_NO_FATAL_FAILURE(
      TypeInto(*S.Form, S.Form->ParamFrame->Editor(), 2, ParamRow(DemoDevice::ScaledReg), "15.5"));
  ASSERT_TRUE(S.WaitIdle());
  ASSERT_NO_FATAL_FAILURE(TypeInto(*S.Form, S.Form->ParamFrame->Editor(), 2, ParamRow(31), "3"));
  ASSERT_TRUE(S.WaitIdle());
  S.Form->SetTimeCommand();
  ASSERT_TRUE(S.WaitIdle());
  S.Form->PageControl->setCurrentWidget(S.Form->TabSheetDashboard);
  ASSERT_NO_FATAL_FAILURE(PanelWrite());
  ASSERT_TRUE(S.WaitIdle());
  const QStringList writes = RegisterRequests(S.Device);
  EXPECT_EQ(writes.size(), 4) << writes.join("|").toStdString();
  for (const QByteArray &p : S.Device.RequestLog())
    EXPECT_NE(uint8_t(p[0]), uint8_t(SIM_FN_WRITE_SRAM));
  EXPECT_EQ(sram(), before);

  const qsizetype changes = Logger().Lines().filter(IdentTexts::DeviceChanged).size();
  for (int i = 0; i < 100; ++i) {
    S.Form->Identification()->CheckIdentity();
    ASSERT_TRUE(S.WaitIdle()) << i;
  }
  // The relay restarts with its factory content on the same port.
  const uint16_t port = S.Server->TcpPort();
  S.Server.reset();
  LoadDemoDevice(S.Device);
  S.Server = std::make_unique<TDevSimServer>(S.Device);
  TDevSimOptions o;
  o.UsePty = false;
  o.TcpPort = port;
  S.Server->Start(o);
  for (int i = 0; i < 3; ++i) {
    S.Form->Identification()->CheckIdentity();
    ASSERT_NO_FATAL_FAILURE(WaitIdentified());
  }
  EXPECT_EQ(Logger().Lines().filter(IdentTexts::DeviceChanged).size(), changes);
  EXPECT_TRUE(Unit().SameUnit(UnitA));
  EXPECT_EQ(Unit(), UnitA);
}

// "Обновить" on "Уставки" after a silent swap: the read is refused, the new
// relay identified, and "Устройство сменилось" stays the page's word over
// the identification's "Готово" until the engineer's next command.
TEST_F(TUnitLink, AReadRefusedForAnotherRelaySaysSoUntilTheNextCommand) {
  ASSERT_NO_FATAL_FAILURE(Start(false, "[ustav]\ndirectEdit=0\n"));
  S.Form->PageControl->setCurrentWidget(S.Form->TabSheetUstav);
  Gateway->Target(TUp::B);
  ASSERT_TRUE(S.Form->aMonitorRefresh->isEnabled());
  S.Form->aMonitorRefresh->trigger();
  ASSERT_NO_FATAL_FAILURE(WaitIdentified());
  ASSERT_TRUE(BIdentified(1));
  // Well after the identification's last step.
  QTest::qWait(100);
  EXPECT_EQ(S.Status(), IdentTexts::DeviceChanged);
  S.Form->aMonitorRefresh->trigger();
  ASSERT_TRUE(S.WaitIdle());
  EXPECT_EQ(S.Status(), "Готово");
}

// The timer's check that a busy relay fails wrote nothing: the log says the
// check failed, not a write.
TEST_F(TUnitLink, AFailedTimerCheckIsLoggedAsACheck) {
  ASSERT_NO_FATAL_FAILURE(Start(false, ""));
  TSimFault busy;
  busy.Kind = TSimFaultKind::Exception;
  busy.Value = 6;
  busy.Function = SIM_FN_READ_FILE;
  busy.Count = 3;
  S.Device.SetFault(busy);
  const qsizetype checks = Logger().Lines().filter(IdentTexts::CheckUnconfirmed).size();
  const qsizetype writes = Logger().Lines().filter(IdentTexts::WriteUnconfirmed).size();
  S.Form->Identification()->CheckIdentity();
  ASSERT_TRUE(S.WaitIdle());
  EXPECT_EQ(Logger().Lines().filter(IdentTexts::CheckUnconfirmed).size(), checks + 1);
  EXPECT_EQ(Logger().Lines().filter(IdentTexts::WriteUnconfirmed).size(), writes);
  EXPECT_TRUE(S.Form->Identification()->IsIdentityUnconfirmed());
}
