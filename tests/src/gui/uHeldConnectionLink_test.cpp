// A title-panel write whose connection drops while the panel's refresh waits
// behind it: the refresh connects anew and the gateway puts relay B on that
// connection. Against two devsim relays of different images behind the test
// gateway; the gateway holds an answer back so that the refresh is queued
// exactly where the test wants it, and nothing waits on the clock.
#include "uIdentification.h"

#include "uControls.h"
#include "uDashboardFrame.h"
#include "uLinkKit.h"
#include "uLogger.h"
#include "uWriteGate.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QMessageBox>
#include <QRegularExpression>

namespace {
using TUp = TTcpGateway::TUpstream;
constexpr uint16_t ModeReg = 30; // a list on the title panel of dashboard.XML
constexpr uint16_t OtherValue = 200;
constexpr int Runs = 20;

class HeldConnectionLink : public TTwoRelayCapture {
protected:
  void SetUp() override {
    TShownCapture::SetUp();
    LoadDemoDevice(Other, 2);
    Other.SetRegister(TSimArea::Holding, ModeReg, OtherValue);
    ServeBoth();
    ASSERT_TRUE(QFile::copy(QString(KV_SOURCE_DIR "/tools/devsim/dashboard.XML"), S.Dir.filePath("dashboard.XML")));
    ASSERT_TRUE(S.Open(QString("[setup]\ncustom=0\npasswdExpirationPeriod=600\nprotocol=modbustcp\n"
                               "[modbustcp]\nhost=127.0.0.1\nport=%1\n[device]\npollPause=1000\n"
                               "[com]\nTimeout=2000\n[timer]\ninterval=3600000\n[debug]\npoll=1\n")
                           .arg(Gateway->Port())));
    // An answer held back by the gateway waits for the test, however slow
    // the machine; nothing here goes silent.
    S.Form->DeviceThread()->DeviceIO().GetOI().SetTcpTimeout(60000);
    // The refresh needs no check of its own: the write's has just passed.
    S.Form->Identification()->SetClock([] { return qint64(0); });
    S.Form->show();
    ASSERT_NO_FATAL_FAILURE(OnA());
  }
  // Relay A identified on the gateway, logged in, the title panel shown.
  void OnA() {
    for (QMessageBox *b : S.Form->findChildren<QMessageBox *>())
      b->close();
    QApplication::processEvents();
    Gateway->Target(TUp::A);
    ASSERT_EQ(S.Identify(), "Готово");
    S.Form->SetLoggedIn(true);
    S.Form->PageControl->setCurrentWidget(S.Form->TabSheetDashboard);
    Mode = nullptr;
    for (QWidget *w : ControlsOf(S.Form->DashboardFrame->Panel, true))
      if (auto *e = qobject_cast<TParamEnum *>(w); e && e->mreg() == ModeReg)
        Mode = e;
    ASSERT_TRUE(Mode);
    Shown.clear();
    S.Device.ClearLogs();
    Other.ClearLogs();
    LogMark = Logger().Lines().size();
  }
  // Chooses on the panel the value A does not hold: the write starts.
  void Choose() {
    const int held = S.Device.Register(TSimArea::Holding, ModeReg);
    emit Mode->List()->activated(held == 0 ? 1 : 0);
  }
  // With the gateway holding an answer back: the panel's refresh queued
  // behind it, then the connection dropped at the refresh's first read and
  // B put on the next one.
  void RefreshAndReconnectToB() {
    ASSERT_TRUE(QTest::qWaitFor([this] { return Gateway->Holding(); }, 60000));
    S.Form->DashboardFrame->Refresh();
    Gateway->CloseAt({SIM_FN_READ_HOLDING, 1, 0}, TUp::B);
    Gateway->Release();
    ASSERT_TRUE(S.WaitIdle());
    QApplication::processEvents();
    ASSERT_EQ(Gateway->Armed(), 0) << "the refresh did not reconnect";
  }
  QStringList Said() const {
    const QStringList lines = Logger().Lines();
    return lines.size() >= LogMark ? lines.mid(LogMark) : lines;
  }
  // The write's reports: the log's errors but the link's own lines.
  QStringList Reports() const { return Said().filter(QRegularExpression("^(?!.*device error).*ERROR")); }
  QString Boxes() const { return BoxesOf(S.Form.get()); }
  // Devsim's register requests, as one text.
  static std::string Requests(const TSimDevice &Device, bool Reads = false) {
    return RegisterRequests(Device, Reads).join(",").toStdString();
  }

  TParamEnum *Mode = nullptr;
  qsizetype LogMark = 0;
};

} // namespace

// What the write's check asks of the relay, learnt from a write that runs
// whole: the function of its last request and how many of that function it
// sends. Then the panel's refresh alone, for the reads it sends.
TEST_F(HeldConnectionLink, AWriteHeldToItsChecksConnectionSendsNothingOverOneMadeAnewByTheRefresh) {
  size_t mark = Gateway->Requests(TUp::A).size();
  Choose();
  ASSERT_TRUE(S.WaitIdle());
  std::vector<uint8_t> check;
  const std::vector<QByteArray> seen = Gateway->Requests(TUp::A);
  for (size_t i = mark; i < seen.size() && uint8_t(seen[i][0]) != SIM_FN_WRITE_HOLDING; ++i)
    check.push_back(uint8_t(seen[i][0]));
  ASSERT_FALSE(check.empty()) << "no check before the write";
  const TTcpGateway::TTrigger checkEnd{check.back(), int(std::count(check.begin(), check.end(), check.back())), 0};
  S.Device.ClearLogs();
  S.Form->DashboardFrame->Refresh();
  ASSERT_TRUE(S.WaitIdle());
  const std::string refreshReads = Requests(S.Device, true);
  ASSERT_FALSE(refreshReads.empty());

  for (int run = 0; run < Runs; ++run) {
    SCOPED_TRACE(run);
    {
      SCOPED_TRACE("cut after the check");
      ASSERT_NO_FATAL_FAILURE(OnA());
      Gateway->HoldAt(checkEnd);
      Choose();
      ASSERT_NO_FATAL_FAILURE(RefreshAndReconnectToB());
      EXPECT_EQ(Requests(Other), "") << "the write reached B";
      EXPECT_EQ(Requests(S.Device), "");
      EXPECT_EQ(Requests(Other, true), refreshReads) << "B got more than the refresh's reads";
      const QStringList reports = Reports();
      EXPECT_EQ(reports.size(), 1) << reports.join("\n").toStdString();
      const QString report = reports.value(0);
      EXPECT_TRUE(report.contains("Не записано: ")) << report.toStdString();
      EXPECT_TRUE(report.contains("соединение установлено заново, устройство не проверено"))
          << report.toStdString();
      EXPECT_TRUE(S.Status().startsWith("Не записано: ")) << S.Status().toStdString();
      for (const QString &said : {Said().join("\n"), S.Status(), Boxes()})
        EXPECT_FALSE(said.contains("ответ не получен")) << said.toStdString();
    }
    {
      SCOPED_TRACE("cut after the write's answer");
      ASSERT_NO_FATAL_FAILURE(OnA());
      const int typed = S.Device.Register(TSimArea::Holding, ModeReg) == 0 ? 1 : 0;
      Gateway->HoldAt({SIM_FN_WRITE_HOLDING, 1, 0});
      Choose();
      ASSERT_NO_FATAL_FAILURE(RefreshAndReconnectToB());
      EXPECT_EQ(Requests(S.Device), QString("w %1 %2").arg(ModeReg).arg(typed).toStdString());
      EXPECT_EQ(Requests(Other, true), refreshReads) << "the read-back reached B";
      const QStringList reports = Reports();
      EXPECT_EQ(reports.size(), 1) << reports.join("\n").toStdString();
      const QString report = reports.value(0);
      EXPECT_TRUE(report.contains("записано, не подтверждено: ")) << report.toStdString();
      EXPECT_TRUE(S.Status().startsWith("записано, не подтверждено: ")) << S.Status().toStdString();
      for (const QString &said : {report, S.Status(), Boxes()}) {
        EXPECT_FALSE(said.contains("Не записано")) << said.toStdString();
        EXPECT_FALSE(said.contains("в устройстве")) << said.toStdString();
        EXPECT_FALSE(said.contains(QString::number(OtherValue))) << said.toStdString();
      }
    }
  }
}
