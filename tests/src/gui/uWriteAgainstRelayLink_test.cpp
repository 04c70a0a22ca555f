// A write decided against the relay that answers while it reads, and a read
// of a tab that has closed: against devsim over Modbus TCP, slow register
// reads and a gateway moved to another relay in the middle.
#include "../../common/uTcpGateway.h"

#include "uDashboardFrame.h"
#include "uDeviceBoardFrame.h"
#include "uLinkKit.h"
#include "uModbus.h"
#include "uPageChains.h"
#include "uSimFault.h"
#include "uStringGrid.h"
#include "uStringGridEditor.h"
#include "uUstavFrame.h"
#include "uUstavLocalFrame.h"

#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QSet>
#include <gtest/gtest.h>

namespace {
// The answers to register reads leave Ms late.
TSimFault SlowReads(int Ms) {
  TSimFault f;
  f.Kind = TSimFaultKind::LateAnswer;
  f.Value = Ms;
  f.Function = SIM_FN_READ_HOLDING;
  return f;
}
// Register reads devsim received from Mark on: the first register and the count of each.
std::vector<std::pair<int, int>> Reads(const TSimDevice &Device, size_t Mark = 0) {
  std::vector<std::pair<int, int>> out;
  const std::vector<QByteArray> log = Device.RequestLog();
  for (size_t i = Mark; i < log.size(); ++i)
    if (log[i].size() == 5 && uint8_t(log[i][0]) == SIM_FN_READ_HOLDING)
      out.emplace_back(uint8_t(log[i][1]) << 8 | uint8_t(log[i][2]), uint8_t(log[i][3]) << 8 | uint8_t(log[i][4]));
  return out;
}
// The register reads a list of registers (16-bit little-endian, as a page
// polls them) makes on the wire: runs of consecutive numbers in list order.
QSet<std::pair<int, int>> Runs(const QByteArray &List) {
  QSet<std::pair<int, int>> out;
  int first = -1, count = 0;
  for (qsizetype i = 0; i + 1 < List.size(); i += 2) {
    const int reg = uint8_t(List[i]) | uint8_t(List[i + 1]) << 8;
    if (first >= 0 && reg == first + count && count < 255) {
      ++count;
      continue;
    }
    if (first >= 0)
      out.insert({first, count});
    first = reg;
    count = 1;
  }
  if (first >= 0)
    out.insert({first, count});
  return out;
}

// Relay A (the demo terminal) and relay B (the second demo image, another
// descriptor) behind one gateway; the window connected to it, identified on
// A and logged in, its timer ticking only when the test says so.
class WriteAgainstRelayLink : public TShownCapture {
protected:
  void SetUp() override {
    TShownCapture::SetUp();
    LoadDemoDevice(Other, 2);
    ServeTwoRelays(S, Other, OtherServer, Gateway);
    ASSERT_TRUE(S.Open(QString("[setup]\ncustom=0\npasswdExpirationPeriod=600\nprotocol=modbustcp\n"
                               "[modbustcp]\nhost=127.0.0.1\nport=%1\n[device]\npollPause=1000\n[com]\nTimeout=2000\n"
                               "[timer]\ninterval=3600000\n[debug]\npoll=1\n[ustav]\ndirectEdit=0\n")
                           .arg(Gateway->Port())));
    ASSERT_EQ(S.Identify(), "Готово");
    S.Form->show();
    S.Form->SetLoggedIn(true);
    S.Form->PageControl->setCurrentWidget(S.Form->TabSheetUstav);
  }
  void TearDown() override {
    S.Form.reset(); // before the gateway it is connected to
    TShownCapture::TearDown();
  }
  // Types Text into group 1 of the setpoint of Reg through the editor.
  static void Type(TUstavGridFrame *F, int Reg, const QString &Text) {
    int row = -1;
    for (int r = 1; r < F->sgUstav->rowCount() && row < 0; ++r)
      if (F->RowUstav(r) && F->RowUstav(r)->Reg(0) == Reg)
        row = r;
    ASSERT_GT(row, 0) << Reg;
    F->sgUstav->setCurrentCell(row, 2);
    F->Editor()->StartEdit();
    ASSERT_TRUE(F->Editor()->Edit->isVisible()) << Reg;
    F->Editor()->Edit->setText(Text);
    QTest::keyClick(F->Editor()->Edit, Qt::Key_Return);
  }
  QString Boxes() const { return BoxesOf(S.Form.get()); }

  TDemoSession S;
  TSimDevice Other;
  std::unique_ptr<TDevSimServer> OtherServer;
  std::unique_ptr<TTcpGateway> Gateway;
};
} // namespace

// The edit tab's write reads the set from the relay before the identity
// check: the gateway moved to relay B during that read leaves B unwritten
// and a box names what was not written; unmoved, the write reaches A.
TEST_F(WriteAgainstRelayLink, AnEditTabWriteWhoseSetReadSeesTheGatewayMovedWritesNothingThere) {
  const struct {
    const char *Name;
    bool Moved;
  } cases[] = {{"moved to B during the read", true}, {"left on A", false}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Name);
    Gateway->Target(TTcpGateway::TUpstream::A);
    S.Form->UnpinWriteReport();
    ASSERT_EQ(S.Identify(), "Готово") << S.Status().toStdString();
    S.Form->SetLoggedIn(true);
    S.Form->PageControl->setCurrentWidget(S.Form->TabSheetUstav);
    S.Form->EditCommand();
    TkvUstavLocalFrame *set = S.Form->ActiveLocalSet();
    ASSERT_TRUE(set);
    const int value = S.Device.Register(TSimArea::Holding, 101) == 450 ? 460 : 450;
    ASSERT_NO_FATAL_FAILURE(Type(set, 101, S.Form->UstavFrame->RegValueText(101, value)));
    Shown.clear();
    S.Device.ClearLogs();
    Other.ClearLogs();
    S.Device.SetFault(SlowReads(300));
    S.Form->WriteCommand();
    if (c.Moved) {
      ASSERT_TRUE(QTest::qWaitFor([this] { return !Reads(S.Device).empty(); }, 30000));
      Gateway->Target(TTcpGateway::TUpstream::B);
    }
    ASSERT_TRUE(S.WaitIdle());
    S.Device.SetFault({});
    const QStringList toB = RegisterRequests(Other).filter("w ");
    if (c.Moved) {
      EXPECT_EQ(toB, QStringList()) << toB.join(",").toStdString();
      EXPECT_EQ(Gateway->Writes(TTcpGateway::TUpstream::B), 0);
      EXPECT_TRUE(Boxes().contains("Не записано: ") && Boxes().contains("Выдержка времени МТЗ-1"))
          << Boxes().toStdString();
      EXPECT_EQ(RegisterRequests(S.Device), QStringList());
    } else {
      EXPECT_EQ(RegisterRequests(S.Device), QStringList{QString("w 101 %1").arg(value)});
      EXPECT_EQ(S.Device.Register(TSimArea::Holding, 101), value);
    }
    // The tab goes unsaved, as the engineer may leave it.
    const TMessageSink shown = SetMessageSink([](TMsgKind, const QString &) { return TMsgResult::No; });
    S.Form->PageControl->setCurrentWidget(set->parentWidget());
    S.Form->atabClose->trigger();
    SetMessageSink(shown);
  }
}

namespace {
// The demo title panel and boards beside the program, devsim reached
// directly, the title panel polled by the window's own timer.
class BoardsCloseLink : public TShownCapture {
protected:
  void SetUp() override {
    TShownCapture::SetUp();
    for (const char *name : {"dashboard.XML", "deviceFrame.xml"})
      ASSERT_TRUE(QFile::copy(QString(KV_SOURCE_DIR "/tools/devsim/") + name, S.Dir.filePath(name)));
    S.Serve(false);
    ASSERT_TRUE(S.Open(QString("[setup]\ncustom=0\npasswdExpirationPeriod=600\nprotocol=modbustcp\n"
                               "[modbustcp]\nhost=127.0.0.1\nport=%1\n[device]\npollPause=1000\n[com]\nTimeout=5000\n"
                               "[timer]\ninterval=100\n[debug]\npoll=1\n[tools]\ndeviceBoard=1\n")
                           .arg(S.Server->TcpPort())));
    S.Form->cbAuto->setChecked(false);
    ASSERT_EQ(S.Identify(), "Готово");
    S.Form->show();
  }
  void Poll(bool On) {
    S.Form->PageControl->setCurrentWidget(S.Form->TabSheetDashboard);
    S.Form->cbAuto->setChecked(On);
  }
  TDemoSession S;
};
} // namespace

// The boards tab closed during its refresh, over slow register reads (while
// its read waits behind the title panel's, or once one is on the wire),
// while the title panel polls: nothing of the boards' read reaches
// the relay after the close, whether it waited behind the title panel's
// read or was under way.
TEST_F(BoardsCloseLink, NoReadOfTheBoardsReachesTheRelayAfterTheirTabCloses) {
  const struct {
    const char *Name;
    bool BehindPanel; // opened while the title panel's read is under way
    bool OtherBoard;  // the second board chosen before the close: two refreshes end at it
  } cases[] = {{"behind the title panel's read", true, false},
               {"behind the title panel's read, another board chosen", true, true},
               {"under way", false, false}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Name);
    Poll(c.BehindPanel);
    ASSERT_TRUE(S.WaitIdle());
    S.Device.ClearLogs();
    S.Device.SetFault(SlowReads(300));
    if (c.BehindPanel) {
      ASSERT_TRUE(QTest::qWaitFor([this] { return !Reads(S.Device).empty(); }, 30000));
    }
    S.Form->NDeviceBoard->trigger();
    auto *boards = S.Form->ActiveFrame<TkvDeviceBoardFrame>();
    ASSERT_TRUE(boards);
    bool clock = false;
    // The demo boards read no register the title panel does not; one of their
    // reads on the wire (register 21 alone) is theirs all the same.
    const QSet<std::pair<int, int>> boardsOnly =
        Runs(PolledRegisters(boards->Panel, S.Form->Descriptor(), true, false, clock)) -
        Runs(PolledRegisters(S.Form->DashboardFrame->Panel, S.Form->Descriptor(), false, false, clock));
    ASSERT_FALSE(boardsOnly.isEmpty());
    if (c.OtherBoard)
      boards->ListBox->setCurrentRow(1);
    if (!c.BehindPanel) {
      ASSERT_TRUE(QTest::qWaitFor(
          [&] {
            for (const auto &read : Reads(S.Device))
              if (boardsOnly.contains(read))
                return true;
            return false;
          },
          30000));
    }
    const size_t mark = S.Device.RequestLog().size();
    S.Form->atabClose->trigger();
    ASSERT_FALSE(S.Form->findChild<TkvDeviceBoardFrame *>());
    Poll(true);
    // Two title panel reads after the close: register 30 is the title panel's alone.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
          int panel = 0;
          for (const auto &[first, count] : Reads(S.Device, mark))
            panel += first <= 30 && 30 < first + count;
          return panel >= 2;
        },
        60000));
    for (const auto &read : Reads(S.Device, mark))
      EXPECT_FALSE(boardsOnly.contains(read)) << read.first << "+" << read.second << " read after the close";
    S.Device.SetFault({});
    Poll(false);
    ASSERT_TRUE(S.WaitIdle());
  }
}
