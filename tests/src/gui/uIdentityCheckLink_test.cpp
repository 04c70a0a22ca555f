// The identity of the device behind the link, checked again after a link
// failure and before a write on a link left idle, against devsim over Modbus
// TCP and a pseudo-terminal: another relay behind the same port or line, the
// same one back, a noisy line. The window's timer ticks when the test says so.
#include "uIdentification.h"

#include "uDashboardFrame.h"
#include "uLinkKit.h"
#include "uLogger.h"
#include "uParamFrame.h"
#include "uStringGrid.h"
#include "uSimFault.h"

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QRegularExpression>
#include <functional>

namespace {
enum class TLink { Tcp, Pty };

// "fn" or, for a file frame read, "fn file:frame", of each request devsim received.
QStringList Requests(const TSimDevice &Device) {
  QStringList out;
  for (const QByteArray &p : Device.RequestLog())
    out << QString::number(uint8_t(p[0]), 16) +
               (uint8_t(p[0]) == SIM_FN_READ_FILE ? QString(" %1:%2").arg(uint8_t(p[1])).arg(uint8_t(p[3])) : "");
  return out;
}
// Requests that change the device: registers, SRAM, a file, the clock, a special command.
QStringList Writes(const TSimDevice &Device) {
  return Requests(Device).filter(QRegularExpression("^(6|56|1b|1a|1f)$"));
}

class IdentityCheckLink : public TShownCapture, public ::testing::WithParamInterface<TLink> {
protected:
  // Devsim and the window, the demo terminal identified, the title panel
  // refreshed at each tick when Panel is set.
  void Start(bool Panel) {
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
    ini += "[device]\npollPause=1000\n[com]\nTimeout=500\n[timer]\ninterval=3600000\n[debug]\npoll=1\n";
    ASSERT_TRUE(S.Open(ini));
    ASSERT_EQ(S.Identify(), "Готово");
    S.Form->PageControl->setCurrentWidget(Panel ? S.Form->TabSheetDashboard : S.Form->TabSheetParam);
    S.Form->cbAuto->setChecked(Panel);
    Identity = S.Form->Identification()->Identity();
    ASSERT_FALSE(Identity.isEmpty());
  }

  // The device stops answering (its server goes, or it falls silent on the
  // line) and a write's answer does not come: a write is never repeated.
  void FailLink() {
    if (GetParam() == TLink::Tcp) {
      S.Server.reset();
      Server.reset();
    } else {
      TSimFault silence;
      silence.Kind = TSimFaultKind::Silence;
      S.Device.SetFault(silence);
    }
    S.Form->SetTimeCommand();
    ASSERT_TRUE(S.WaitIdle());
    ASSERT_EQ(S.Form->ToolBarColor(), uint32_t(clLinkError)) << S.Status().toStdString();
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

  // With KV_IDENTITY_SHOT naming a folder, the window as the user sees it there.
  void Shot(const char *Name) {
    const QString dir = qEnvironmentVariable("KV_IDENTITY_SHOT");
    if (dir.isEmpty())
      return;
    S.Form->show();
    QTest::qWait(50); // laid out and painted
    S.Form->grab().save(QDir(dir).filePath(QString("%1-%2.png").arg(Name, GetParam() == TLink::Tcp ? "tcp" : "pty")));
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
  bool Green() const { return S.Form->ToolBarColor() == clLinkDone && Idle(); }
  // The requests of one identity check: the header frame too where it is
  // cheap (Modbus TCP), the descriptor's first frame alone at 38400 baud.
  QStringList Check() const {
    return GetParam() == TLink::Tcp ? QStringList{"1c 140:0", "1c 129:0"} : QStringList{"1c 129:0"};
  }
  int PagesRows() const { return S.Form->ParamFrame->sgParam->rowCount(); }

  TSimDevice Other; // the second terminal, behind the same TCP port
  std::unique_ptr<TDevSimServer> Server;
  uint16_t Port = 0;
  QByteArray Identity;
  TDemoSession S; // the window goes before the servers above
};

} // namespace

TEST_P(IdentityCheckLink, AfterALinkFailureTheSameRelayKeepsAllAndAnotherIsIdentifiedBeforeAnyWrite) {
  ASSERT_NO_FATAL_FAILURE(Start(true));
  ASSERT_NO_FATAL_FAILURE(FailLink());
  const int rows = PagesRows();
  const QString report = S.Status();
  S.Device.ClearLogs();
  Answer(S.Device);
  EXPECT_TRUE(TickUntil(2, [this] { return Green(); })) << S.Status().toStdString();
  // The header and the descriptor's first frame, and nothing else.
  EXPECT_EQ(Requests(S.Device), Check());
  EXPECT_EQ(S.Status(), report) << "the write's report stays over the check";
  EXPECT_TRUE(S.Form->IsDeviceReady());
  EXPECT_EQ(PagesRows(), rows);
  EXPECT_EQ(S.Form->Identification()->Identity(), Identity);

  // Again, and another relay answers at the same address: a write asked
  // before the check is refused.
  ASSERT_NO_FATAL_FAILURE(FailLink());
  TSimDevice &next = GetParam() == TLink::Tcp ? Other : S.Device;
  LoadDemoDevice(next, 2);
  next.ClearLogs();
  Answer(next);
  S.Form->SetTimeCommand();
  ASSERT_TRUE(S.WaitIdle());
  EXPECT_EQ(S.Status(), IdentTexts::WriteUnchecked);
  Shot("refused");
  EXPECT_TRUE(TickUntil(2, [this] { return OtherIdentified(); })) << S.Status().toStdString();
  Shot("identified");
  EXPECT_NE(S.Form->Identification()->Identity(), Identity);
  EXPECT_EQ(Writes(next), QStringList());
  EXPECT_TRUE(Shown.isEmpty()) << Shown.join("|").toStdString();
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
    S.Form->SetTimeCommand();
    ASSERT_TRUE(S.WaitIdle());
  }
  S.Device.SetLossy({});
  EXPECT_TRUE(TickUntil(2, [this] { return Green(); })) << S.Status().toStdString();
  EXPECT_FALSE(Requests(S.Device).contains("7")) << "no identification";
  EXPECT_TRUE(S.Form->IsDeviceReady());
  EXPECT_EQ(PagesRows(), rows);
  EXPECT_EQ(S.Form->Identification()->Identity(), Identity);
}

TEST_P(IdentityCheckLink, EveryWriteBeginsWithTheCheck) {
  ASSERT_NO_FATAL_FAILURE(Start(false));
  const auto idleInterval = [this] {
    ASSERT_TRUE(S.WaitIdle());
    S.Form->TimerTimer();
    S.Form->TimerTimer();
    S.Device.ClearLogs();
  };
  idleInterval();
  // Right before the write, on a link left idle or busy alike.
  for (int i = 0; i < 2; ++i) {
    S.Form->SetTimeCommand();
    ASSERT_TRUE(S.WaitIdle());
    EXPECT_EQ(Requests(S.Device), Check() + QStringList{"1a"}) << i;
    S.Device.ClearLogs();
  }

  // The relay changed while the link was idle: the write goes nowhere and
  // the new relay is identified.
  idleInterval();
  LoadDemoDevice(S.Device, 2);
  S.Form->SetTimeCommand();
  EXPECT_TRUE(QTest::qWaitFor([this] { return OtherIdentified(); }, 60000)) << S.Status().toStdString();
  EXPECT_EQ(Writes(S.Device), QStringList());
  EXPECT_FALSE(Logger().Lines().filter(IdentTexts::DeviceChanged).isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Links, IdentityCheckLink, ::testing::Values(TLink::Tcp, TLink::Pty),
                         [](const auto &Info) { return Info.param == TLink::Tcp ? "Tcp" : "Pty"; });
