// The identity of the device behind the link, checked again after a link
// failure and before a write on a link left idle, against devsim over Modbus
// TCP and a pseudo-terminal: another relay behind the same port or line, the
// same one back, a noisy line. The window's timer ticks when the test says so.
#include "uIdentification.h"

#include "uCharMap.h"
#include "uDashboardFrame.h"
#include "uLinkKit.h"
#include "uLogger.h"
#include "uParamFrame.h"
#include "uStringGrid.h"
#include "uSimFault.h"

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <functional>

namespace {
enum class TLink { Tcp, Pty };

QString DeviceText(const char *Text) {
  return DeviceToProgram(EncodeDisplayString(QString::fromLatin1(Text), BuiltInCharMap()));
}

// Functions of devsim's request log that change the device.
bool IsWrite(const QByteArray &Pdu) {
  static const QList<uint8_t> writes{SIM_FN_WRITE_HOLDING, SIM_FN_WRITE_SRAM, SIM_FN_WRITE_FILE, SIM_FN_WRITE_CLOCK,
                                     SIM_FN_SPECIAL};
  return !Pdu.isEmpty() && writes.contains(uint8_t(Pdu[0]));
}

// "fn" or, for a file frame read, "fn file:frame", of each request in Log.
QStringList Requests(const std::vector<QByteArray> &Log) {
  QStringList out;
  for (const QByteArray &p : Log) {
    QString r = QString::number(uint8_t(p[0]), 16);
    if (uint8_t(p[0]) == SIM_FN_READ_FILE && p.size() >= 4)
      r += QString(" %1:%2").arg(uint8_t(p[1])).arg(uint8_t(p[2]) << 8 | uint8_t(p[3]));
    out << r;
  }
  return out;
}

class IdentityCheckLink : public TShownCapture, public ::testing::WithParamInterface<TLink> {
protected:
  // Devsim and the window, the demo terminal identified, the title panel
  // refreshed at each tick when Panel is set.
  void Start(bool Panel, const QString &Extra = {}) {
    QFile::remove(S.Dir.filePath("dashboard.XML"));
    ASSERT_TRUE(QFile::copy(KV_SOURCE_DIR "/tools/devsim/dashboard.XML", S.Dir.filePath("dashboard.XML")));
    S.Serve(GetParam() == TLink::Pty);
    QString ini = "[setup]\ncustom=0\npasswdExpirationPeriod=600\n";
    if (GetParam() == TLink::Tcp) {
      Port = S.Server->TcpPort();
      ini += QString("protocol=modbustcp\n[modbustcp]\nhost=127.0.0.1\nport=%1\n").arg(Port);
    } else {
      ini += "protocol=modbus\n";
      RegWriteString("", KV_REG_COM_PORT, S.Server->PtyPath());
    }
    ini += "[device]\npollPause=1000\n[com]\nTimeout=500\n[timer]\ninterval=3600000\n[debug]\npoll=1\n" + Extra;
    ASSERT_TRUE(S.Open(ini));
    ASSERT_EQ(S.Identify(), "Готово");
    S.Form->PageControl->setCurrentWidget(Panel ? S.Form->TabSheetDashboard : S.Form->TabSheetParam);
    S.Form->cbAuto->setChecked(Panel);
    Identity = S.Form->Identification()->Identity();
    ASSERT_FALSE(Identity.isEmpty());
  }

  // The device stops answering: its server goes (TCP) or it falls silent (a line).
  void LoseDevice() {
    if (GetParam() == TLink::Tcp) {
      S.Server.reset();
    } else {
      TSimFault silence;
      silence.Kind = TSimFaultKind::Silence;
      S.Device.SetFault(silence);
    }
  }
  // The device stops answering and a write's answer does not come (a write
  // is never repeated, so one lost answer is enough on any line).
  void FailLink() {
    LoseDevice();
    S.Form->SetTimeCommand();
    ASSERT_TRUE(S.WaitIdle());
    ASSERT_EQ(S.Form->ToolBarColor(), uint32_t(clLinkError)) << S.Status().toStdString();
    ASSERT_TRUE(S.Form->Identification()->IsIdentityUnconfirmed());
  }
  // Device (S.Device or Other) answers again, on the same port or line.
  void Answer(TSimDevice &Device) {
    if (GetParam() == TLink::Tcp) {
      Server = std::make_unique<TDevSimServer>(Device);
      TDevSimOptions o;
      o.UsePty = false;
      o.TcpPort = Port;
      Server->Start(o);
    } else {
      S.Device.SetFault({});
    }
  }

  bool Idle() const { return S.Form->IOChain()->ChainCount() == 0 && !S.Form->IsLinkBusy(); }
  // Up to Ticks ticks until Done; each tick's chains, and an identification
  // a check starts, run to their end.
  bool TickUntil(int Ticks, const std::function<bool()> &Done) {
    for (int i = 0; i < Ticks && !Done(); ++i) {
      S.Form->TimerTimer();
      QTest::qWaitFor(
          [&] { return Done() || (Idle() && !S.Form->Identification()->IsIdentifyAgainPending()); }, 60000);
    }
    return Done();
  }
  bool OtherIdentified() const {
    return S.Form->IsDeviceReady() && S.Form->LabelDescID->text() == "2025-02-17" && Idle();
  }
  int PagesRows() const { return S.Form->ParamFrame->sgParam->rowCount(); }

  TSimDevice Other; // the second terminal, behind the same TCP port
  std::unique_ptr<TDevSimServer> Server;
  uint16_t Port = 0;
  QByteArray Identity;
  TDemoSession S; // the window goes before the servers above
};

const QString WriteUnchecked = IdentTexts::WriteUnchecked;
} // namespace

TEST_P(IdentityCheckLink, AnotherRelayAfterALinkFailureIsIdentifiedWithinTwoTicksAndNoWriteReachesIt) {
  ASSERT_NO_FATAL_FAILURE(Start(true));
  ASSERT_NO_FATAL_FAILURE(FailLink());
  // Another relay now answers at the same address.
  TSimDevice &next = GetParam() == TLink::Tcp ? Other : S.Device;
  LoadDemoDevice(next, 2);
  next.ClearLogs();
  Answer(next);
  S.Form->SetTimeCommand();
  ASSERT_TRUE(S.WaitIdle());
  EXPECT_EQ(S.Status(), WriteUnchecked);

  EXPECT_TRUE(TickUntil(2, [this] { return OtherIdentified(); })) << S.Status().toStdString();
  EXPECT_EQ(S.Form->LabelDeviceType->text(), DeviceText(DemoDevice::OtherTypeText));
  EXPECT_NE(S.Form->Identification()->Identity(), Identity);
  EXPECT_EQ(S.Form->ToolBarColor(), uint32_t(clLinkDone));
  const std::vector<QByteArray> log = next.RequestLog();
  EXPECT_EQ(std::count_if(log.begin(), log.end(), IsWrite), 0) << Requests(log).join(",").toStdString();
  EXPECT_TRUE(Shown.isEmpty()) << Shown.join("|").toStdString();
}

TEST_P(IdentityCheckLink, TheSameRelayAfterALinkFailureTurnsTheBarGreenWithNothingElseRead) {
  ASSERT_NO_FATAL_FAILURE(Start(true));
  ASSERT_NO_FATAL_FAILURE(FailLink());
  const int rows = PagesRows();
  ASSERT_GT(rows, 0);
  S.Device.ClearLogs();
  Answer(S.Device);
  EXPECT_TRUE(TickUntil(2, [this] { return S.Form->ToolBarColor() == clLinkDone && Idle(); })) << S.Status().toStdString();
  // The header and the descriptor's first frame, and nothing else.
  EXPECT_EQ(Requests(S.Device.RequestLog()), (QStringList{"1c 140:0", "1c 129:0"}));
  EXPECT_EQ(S.Status(), "Готово");
  EXPECT_TRUE(S.Form->IsDeviceReady());
  EXPECT_EQ(PagesRows(), rows);
  EXPECT_EQ(S.Form->Identification()->Identity(), Identity);
  // Writes go again.
  S.Form->SetTimeCommand();
  ASSERT_TRUE(S.WaitIdle());
  EXPECT_EQ(Requests(S.Device.RequestLog()).mid(2), QStringList{"1a"});
}

TEST_P(IdentityCheckLink, ANoisyLineKeepsThePagesAndTheDevice) {
  ASSERT_NO_FATAL_FAILURE(Start(true));
  S.Device.SetLossy(ParseSimLossy("silence/10"));
  S.Device.ClearLogs();
  const int rows = PagesRows();
  for (int i = 0; i < 8; ++i) {
    S.Form->TimerTimer();
    ASSERT_TRUE(S.WaitIdle());
    // A write whose answer is lost is not repeated: the link has failed.
    if (i % 3 == 0)
      S.Form->SetTimeCommand();
    ASSERT_TRUE(S.WaitIdle());
  }
  S.Device.SetLossy({});
  EXPECT_TRUE(TickUntil(2, [this] { return S.Form->ToolBarColor() == clLinkDone && Idle(); })) << S.Status().toStdString();
  EXPECT_FALSE(Requests(S.Device.RequestLog()).contains("7")) << "no identification";
  EXPECT_TRUE(S.Form->IsDeviceReady());
  EXPECT_EQ(PagesRows(), rows);
  EXPECT_EQ(S.Form->Identification()->Identity(), Identity);
}

TEST_P(IdentityCheckLink, AWriteAfterAnIdleIntervalBeginsWithTheCheck) {
  ASSERT_NO_FATAL_FAILURE(Start(false));
  // No chain between two ticks: the link has been idle a whole interval.
  const auto idleInterval = [this] {
    ASSERT_TRUE(S.WaitIdle());
    S.Form->TimerTimer();
    S.Form->TimerTimer();
    S.Device.ClearLogs();
  };
  idleInterval();
  S.Form->SetTimeCommand();
  ASSERT_TRUE(S.WaitIdle());
  EXPECT_EQ(Requests(S.Device.RequestLog()), (QStringList{"1c 140:0", "1c 129:0", "1a"}));
  S.Device.ClearLogs();
  S.Form->SetTimeCommand();
  ASSERT_TRUE(S.WaitIdle());
  EXPECT_EQ(Requests(S.Device.RequestLog()), QStringList{"1a"}) << "checked once";

  // The relay changed while the link was idle: the write goes nowhere and
  // the new relay is identified.
  idleInterval();
  LoadDemoDevice(S.Device, 2);
  S.Form->SetTimeCommand();
  EXPECT_TRUE(QTest::qWaitFor([this] { return OtherIdentified(); }, 60000)) << S.Status().toStdString();
  const std::vector<QByteArray> log = S.Device.RequestLog();
  EXPECT_EQ(std::count_if(log.begin(), log.end(), IsWrite), 0) << Requests(log).join(",").toStdString();
  EXPECT_TRUE(Logger().Lines().filter(IdentTexts::DeviceChanged).size() > 0);
}

INSTANTIATE_TEST_SUITE_P(Links, IdentityCheckLink, ::testing::Values(TLink::Tcp, TLink::Pty),
                         [](const auto &Info) { return Info.param == TLink::Tcp ? "Tcp" : "Pty"; });
