#include "uIdentification.h"

#include "uAgentClientForm.h"
#include "uDemoDevice.h"
#include "uLogger.h"
#include "uLinkKit.h"
#include "uModbustcpForm.h"
#include "uSimAgent.h"
#include "uSimpleDeviceDescriptor.h"

#include <QAction>
#include <QComboBox>
#include <QElapsedTimer>
#include <QMenu>
#include <QTimer>
#include <QTreeWidget>

namespace {
constexpr int Unit = 5;

// The demo device (unit 5) on 127.0.0.1 and a main window whose own link
// points elsewhere: only the chosen target can reach the device.
class NetworkTarget : public TShownCapture {
protected:
  void SetUp() override {
    TShownCapture::SetUp();
    QDir::setCurrent(S.Dir.path());
    Device.SetAddress(Unit);
    S.Serve(false);
    Agent.Channels = {{1, 3, QStringLiteral("Left bus")}};
    Agent.Units = {{1, QStringLiteral("Demo"), Unit}};
    Agent.Start();
    ASSERT_TRUE(S.Open(QStringLiteral("[setup]\ncustom=0\nprotocol=modbustcp\n[modbustcp]\nhost=127.0.0.1\nport=1\n"
                                      "[debug]\npoll=0\n[com]\nTimeout=5000\n[agentd]\nurl=%1\nhost=127.0.0.1\n"
                                      "port=%2\n")
                           .arg(Agent.BaseUrl())
                           .arg(Server->TcpPort() - 2)));
  }
  void TearDown() override {
    S.Form.reset();
    Agent.Stop();
    TShownCapture::TearDown();
  }

  // Triggers Action and clicks the item Caption of Picker once it is listed;
  // the script's end is awaited.
  QString ChooseAndIdentify(QAction *Action, TUnitPickerForm *Picker, const QString &Caption) {
    QTimer clicker;
    QObject::connect(&clicker, &QTimer::timeout, [&] {
      const auto found = Picker->TreeView->findItems(Caption, Qt::MatchExactly | Qt::MatchRecursive);
      if (Picker->isVisible() && !found.isEmpty())
        emit Picker->TreeView->itemClicked(found.first(), 0);
    });
    clicker.start(10);
    Action->trigger();
    clicker.stop();
    S.WaitIdle();
    return S.Status();
  }

  void ExpectIdentifiedOverTheTarget() {
    EXPECT_TRUE(Form->Descriptor()->Ready);
    const QStringList log = Logger().Lines().join('\n').split('\n');
    for (const QString &line :
         {QStringLiteral("agent host 127.0.0.1"), QStringLiteral("agent port %1").arg(Server->TcpPort()),
          QStringLiteral("agent unit %1").arg(Unit)})
      EXPECT_TRUE(std::any_of(log.begin(), log.end(), [&](const QString &L) { return L.endsWith(line); }))
          << line.toStdString();
    EXPECT_FALSE(QFile::exists(QDir(Form->GetTempFolder()).filePath("dump1")));
    EXPECT_FALSE(QFile::exists(QDir(Form->GetTempFolder()).filePath("dump2")));
    EXPECT_FALSE(Form->cbDevNo->isEnabled());
    EXPECT_FALSE(Form->NPort->isEnabled());
    EXPECT_FALSE(Form->NBaudrate->isEnabled());
    EXPECT_TRUE(Shown.isEmpty()) << Shown.join('|').toStdString();
  }

  TDemoSession S;
  TSimDevice &Device = S.Device;
  TSimAgent Agent;
  std::unique_ptr<TDevSimServer> &Server = S.Server;
  std::unique_ptr<TMainForm> &Form = S.Form;
};
} // namespace

TEST_F(NetworkTarget, AgentUnitIsIdentifiedAtPortBasePlusComMinusOne) {
  EXPECT_EQ(ChooseAndIdentify(Form->aAgent, Form->Forms().AgentClientForm, "5 - Demo"), "Готово");
  ExpectIdentifiedOverTheTarget();
}

TEST_F(NetworkTarget, ModbusTcpListUnitIsIdentified) {
  SaveFileBytes(QDir::current().filePath("modbustcp.xml"),
                QStringLiteral("<list><channel host=\"127.0.0.1\" port=\"%1\" comment=\"demo\"><unit addr=\"%2\" "
                               "comment=\"Demo\"/></channel></list>")
                    .arg(Server->TcpPort())
                    .arg(Unit)
                    .toUtf8());
  EXPECT_EQ(ChooseAndIdentify(Form->aModbusTcp, Form->Forms().ModbustcpForm, "5 - Demo"), "Готово");
  ExpectIdentifiedOverTheTarget();
}

TEST_F(NetworkTarget, CancelledPickerChangesNothing) {
  // Cancelled once listed: the dialog's own loop runs by then.
  TUnitPickerForm *picker = Form->Forms().AgentClientForm;
  QTimer canceller;
  QElapsedTimer waited;
  waited.start();
  QObject::connect(&canceller, &QTimer::timeout, [picker, &waited] {
    if (!picker->isVisible())
      return;
    const bool listed = !picker->TreeView->findItems("5 - Demo", Qt::MatchExactly | Qt::MatchRecursive).isEmpty();
    // A generous deadline, so a list that never comes fails the test instead of hanging it.
    if (!listed && waited.elapsed() < 60000)
      return;
    EXPECT_TRUE(listed) << "the agent's list never came";
    picker->reject();
  });
  canceller.start(10);
  Form->aAgent->trigger();
  EXPECT_TRUE(Form->cbDevNo->isEnabled());
  EXPECT_EQ(Form->IOChain()->ChainCount(), 0);
}
