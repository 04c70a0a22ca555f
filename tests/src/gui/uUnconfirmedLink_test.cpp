// A write answered and then not read back, against devsim behind the test
// gateway: the gateway refuses every request after the last write's answer
// with 0B, or hangs up right after it. The pages keep what was typed as the
// engineer's, marked unconfirmed, and the write's one report says so.
#include "uControls.h"
#include "uDashboardFrame.h"
#include "uLinkKit.h"
#include "uLogger.h"
#include "uModbus.h"
#include "uParamFrame.h"
#include "uStringGrid.h"
#include "uStringGridEditor.h"
#include "uUstavFrame.h"
#include "uUstavLocalFrame.h"
#include "uUstavSetFile.h"
#include "uWriteGate.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <functional>
#include <gtest/gtest.h>

namespace {
using TAfter = TTcpGateway::TAfter;

// Relay A behind the gateway, identified and logged in; its timer ticks
// only when the test says so.
class UnconfirmedLink : public TShownCapture {
protected:
  void SetUp() override {
    TShownCapture::SetUp();
    LoadDemoDevice(Other, 2);
    ServeTwoRelays(S, Other, OtherServer, Gateway);
  }
  // The window anew, its setpoints edited as ustav/directEdit says (2: the
  // page's edit mode, 0: the edit tab, 1: a cell written as typed), its
  // parameters as param/directEdit says (0: Write, 1: a row written as typed).
  void Open(int UstavDirectEdit, int ParamDirectEdit = 0) {
    S.Form.reset();
    ASSERT_TRUE(S.Open(QString("[setup]\ncustom=0\npasswdExpirationPeriod=600\nprotocol=modbustcp\n"
                               "[modbustcp]\nhost=127.0.0.1\nport=%1\n[device]\npollPause=1000\n[com]\nTimeout=2000\n"
                               "[timer]\ninterval=3600000\n[debug]\npoll=1\n[ustav]\ndirectEdit=%2\n"
                               "[param]\ndirectEdit=%3\n")
                           .arg(Gateway->Port())
                           .arg(UstavDirectEdit)
                           .arg(ParamDirectEdit)));
    ASSERT_EQ(S.Identify(), "Готово");
    S.Form->show();
    S.Form->SetLoggedIn(true);
  }
  void TearDown() override {
    S.Form.reset(); // before the gateway it is connected to
    TShownCapture::TearDown();
  }
  void Type(TStringGridEditor *Editor, int Col, int Row, const QString &Text) {
    TypeInto(*S.Form, Editor, Col, Row, Text);
  }
  // The log's lines from Mark on (all it keeps, had it emptied itself when full meanwhile).
  static QStringList LinesSince(qsizetype Mark) {
    const QStringList lines = Logger().Lines();
    return lines.size() >= Mark ? lines.mid(Mark) : lines;
  }
  static int UstavRow(TUstavGridFrame *F, int Reg) {
    for (int r = 1; r < F->sgUstav->rowCount(); ++r)
      if (F->RowUstav(r) && F->RowUstav(r)->Reg(0) == Reg)
        return r;
    return -1;
  }
  QString Boxes() const { return BoxesOf(S.Form.get()); }

  TDemoSession S;
  TSimDevice Other;
  std::unique_ptr<TDevSimServer> OtherServer;
  std::unique_ptr<TTcpGateway> Gateway;
};

const QString Delay = "Выдержка времени МТЗ-1"; // registers 101 and 151

} // namespace

// After the two writes' answers the read-back does not come (0B from then
// on, or the connection gone): the typed values stay on the page marked
// unconfirmed, the relay holds them, a save of the edit tab stores them,
// nothing calls them not written, and the write reports once. A cell written
// as typed is a write of its own, failing after its one answer; a read of the
// relay afterwards shows what it holds, unmarked.
TEST_F(UnconfirmedLink, AValueWrittenAndNotReadBackStaysTheEngineersMarked) {
  const auto ustavTyped = [](TUstavGridFrame *F, int Row, int Col) {
    // A value beside the one the relay holds, in the page's own units.
    const TUstav *u = F->RowUstav(Row);
    const int reg = u->Reg(Col - 2);
    return u->ValueToText(Modbus().GetWord(reg) + 10, false);
  };
  const struct {
    const char *Name;
    TAfter After;
    int Path; // 0 the edit tab, 1 the setpoints page in edit mode, 2 the parameters page,
              // 3 the setpoints page written as typed, 4 the parameters page written as typed
  } rows[] = {
      {"edit tab, 0B after the writes", TAfter::Exception, 0},
      {"edit tab, the link closed after the writes", TAfter::Close, 0},
      {"page edit mode, 0B after the writes", TAfter::Exception, 1},
      {"page edit mode, the link closed after the writes", TAfter::Close, 1},
      {"parameters, 0B after the writes", TAfter::Exception, 2},
      {"parameters, the link closed after the writes", TAfter::Close, 2},
      // Cells written as typed: after a link lost the next write waits for
      // the relay to be checked, so only 0B lets both go.
      {"setpoints written as typed, 0B after each write", TAfter::Exception, 3},
      {"parameters written as typed, 0B after each write", TAfter::Exception, 4},
  };
  for (const auto &r : rows) {
    SCOPED_TRACE(r.Name);
    const bool typedWrites = r.Path >= 3;
    ASSERT_NO_FATAL_FAILURE(Open(r.Path == 1 ? 2 : r.Path == 3 ? 1 : 0, r.Path == 4 ? 1 : 0));
    Shown.clear();
    const qsizetype logMark = Logger().Lines().size();
    S.Device.ClearLogs();
    // Each cell written as typed fails after its own write's answer.
    const auto arm = [&] {
      if (!typedWrites)
        return;
      Gateway->Mode(TTcpGateway::TMode::Forward);
      Gateway->FailAfter(1, r.After, SIM_FN_WRITE_HOLDING);
    };
    const auto written = [&] {
      if (!typedWrites)
        return true;
      const bool idle = S.WaitIdle();
      QApplication::processEvents();
      return idle;
    };
    // The page, the two cells (or rows) typed, and what they read now.
    std::function<QString(int)> cell;
    std::function<bool(int)> unconfirmed;
    std::function<void()> refresh;
    QStringList typed;
    uint16_t regs[2] = {101, 151};
    uint16_t before[2] = {};
    TkvUstavLocalFrame *local = nullptr;
    if (r.Path == 0 || r.Path == 1 || r.Path == 3) {
      TUstavGridFrame *page = nullptr;
      S.Form->PageControl->setCurrentWidget(S.Form->TabSheetUstav);
      if (r.Path == 0) {
        S.Form->EditCommand();
        page = local = S.Form->ActiveLocalSet();
      } else if (r.Path == 1) {
        S.Form->EditCommand();
        ASSERT_TRUE(S.Form->UstavFrame->GetEditMode());
        page = S.Form->UstavFrame;
      } else {
        ASSERT_FALSE(S.Form->UstavFrame->GetEditMode());
        page = S.Form->UstavFrame;
        refresh = [this] { S.Form->UstavFrame->Refresh(); };
      }
      ASSERT_TRUE(page);
      const int row = UstavRow(page, 101);
      for (int i = 0; i < 2; ++i) {
        before[i] = Modbus().GetWord(regs[i]);
        typed << ustavTyped(page, row, 2 + i);
        arm();
        Type(page->Editor(), 2 + i, row, typed.back());
        ASSERT_TRUE(written());
      }
      cell = [page, row](int I) { return page->sgUstav->Cells(2 + I, row); };
      unconfirmed = [page, row](int I) { return page->CellUnconfirmed(2 + I, row); };
    } else {
      TkvParamFrame *page = S.Form->ParamFrame;
      int rows2[2] = {-1, -1};
      regs[0] = DemoDevice::ScaledReg;
      regs[1] = 31;
      for (int i = 0; i < 2; ++i)
        for (int k = 1; k < page->sgParam->rowCount(); ++k)
          if (page->RowReg(k) == regs[i])
            rows2[i] = k;
      // Beside what the relay holds: a scaled number and an address.
      const uint16_t scaled = Modbus().GetWord(regs[0]), address = Modbus().GetWord(regs[1]);
      typed = QStringList{QString::number((scaled % 4000 + 101) / 100.0, 'f', 2), QString::number(address % 200 + 1)};
      for (int i = 0; i < 2; ++i) {
        before[i] = Modbus().GetWord(regs[i]);
        arm();
        Type(page->Editor(), 2, rows2[i], typed[i]);
        ASSERT_TRUE(written());
      }
      cell = [page, rows2](int I) { return page->sgParam->Cells(2, rows2[I]); };
      unconfirmed = [page, rows2](int I) { return page->RowUnconfirmed(rows2[I]); };
      if (typedWrites)
        refresh = [page] { page->Refresh(); };
    }
    if (!typedWrites) {
      Gateway->FailAfter(2, r.After, SIM_FN_WRITE_HOLDING);
      if (r.Path == 2)
        S.Form->ParamFrame->WriteAll();
      else
        S.Form->WriteCommand();
      ASSERT_TRUE(S.WaitIdle());
      QApplication::processEvents();
    }
    EXPECT_EQ(RegisterRequests(S.Device).size(), 2) << RegisterRequests(S.Device).join(",").toStdString();
    for (int i = 0; i < 2; ++i) {
      SCOPED_TRACE(i);
      EXPECT_NE(S.Device.Register(TSimArea::Holding, regs[i]), before[i]);
      EXPECT_EQ(cell(i), typed[i]);
      EXPECT_TRUE(unconfirmed(i));
    }
    const QString status = S.Status();
    EXPECT_TRUE(status.startsWith("записано, не подтверждено: ")) << status.toStdString();
    EXPECT_FALSE(status.contains("не записаны")) << status.toStdString();
    // Nothing answered is called not written, a hang-up included.
    EXPECT_FALSE(Boxes().contains("Не записано")) << Boxes().toStdString();
    EXPECT_TRUE(Shown.filter("Готово").isEmpty()) << Shown.join("|").toStdString();
    EXPECT_EQ(LinesSince(logMark).filter("записано, не подтверждено").size(), typedWrites ? 2 : 1)
        << LinesSince(logMark).join("\n").toStdString();
    if (local || r.Path == 1) {
      // Saved, the set holds what was typed, not what the image held before.
      Answer = S.Dir.filePath(QString("unconfirmed-%1-%2.us").arg(int(r.After)).arg(r.Path));
      if (local)
        ASSERT_TRUE(local->SaveToFile(QString()));
      else
        S.Form->UstavFrame->SaveToFile(Answer);
      const TUstavSetFile set = ReadUstavSetFile(Answer);
      EXPECT_FALSE(set.Values.empty());
      for (int i = 0; i < 2; ++i)
        for (const auto &[reg, value] : set.Values)
          if (reg == regs[i]) {
            EXPECT_EQ(value, S.Device.Register(TSimArea::Holding, regs[i])) << reg;
          }
    }
    for (QMessageBox *b : S.Form->findChildren<QMessageBox *>())
      b->close();
    Gateway->FailAfter(0, TAfter::Exception);
    Gateway->Mode(TTcpGateway::TMode::Forward);
    ASSERT_TRUE(S.WaitIdle());
    if (refresh) {
      refresh();
      ASSERT_TRUE(S.WaitIdle());
      QApplication::processEvents();
      for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(cell(i), typed[i]);
        EXPECT_FALSE(unconfirmed(i));
      }
    }
  }
}

// A cell written as typed that the relay acknowledged and did not keep
// stays the engineer's as an edit: shown as typed, drawn as changed, not
// marked unconfirmed, and the report names what the relay holds.
TEST_F(UnconfirmedLink, AValueWrittenAsTypedAndNotKeptStaysTheEngineersEdit) {
  for (const bool setpoints : {true, false}) {
    SCOPED_TRACE(setpoints ? "setpoints" : "parameters");
    ASSERT_NO_FATAL_FAILURE(Open(setpoints ? 1 : 0, setpoints ? 0 : 1));
    const uint16_t reg = setpoints ? 101 : 31;
    const uint16_t held = S.Device.Register(TSimArea::Holding, reg);
    TSimFault unkept;
    unkept.Kind = TSimFaultKind::Unkept;
    unkept.Register = reg;
    S.Device.SetFault(unkept);
    std::function<QString()> cell;
    std::function<bool()> changed, unconfirmed;
    QString typed;
    if (setpoints) {
      TUstavFrame *page = S.Form->UstavFrame;
      S.Form->PageControl->setCurrentWidget(S.Form->TabSheetUstav);
      const int row = UstavRow(page, reg);
      typed = page->RowUstav(row)->ValueToText(held + 10, false);
      Type(page->Editor(), 2, row, typed);
      cell = [page, row] { return page->sgUstav->Cells(2, row); };
      changed = [page, row] { return page->CellChanged(2, row); };
      unconfirmed = [page, row] { return page->CellUnconfirmed(2, row); };
    } else {
      TkvParamFrame *page = S.Form->ParamFrame;
      int row = -1;
      for (int k = 1; k < page->sgParam->rowCount(); ++k)
        if (page->RowReg(k) == reg)
          row = k;
      typed = QString::number(held % 200 + 1);
      Type(page->Editor(), 2, row, typed);
      cell = [page, row] { return page->sgParam->Cells(2, row); };
      changed = [page, row] { return page->RowHighlighted(row); };
      unconfirmed = [page, row] { return page->RowUnconfirmed(row); };
    }
    ASSERT_TRUE(S.WaitIdle());
    QApplication::processEvents();
    EXPECT_EQ(S.Device.Register(TSimArea::Holding, reg), held);
    EXPECT_EQ(cell(), typed);
    EXPECT_TRUE(changed());
    EXPECT_FALSE(unconfirmed());
    EXPECT_TRUE(S.Status().startsWith(NotKeptText(QString(), QString(), QString()).section(':', 0, 0)))
        << S.Status().toStdString();
    S.Device.SetFault({});
  }
}

// A title-panel value written, its read-back refused: the control shows the
// value the relay was sent, marked unconfirmed, not the one read before.
TEST_F(UnconfirmedLink, ATitlePanelValueWrittenAndNotReadBackStaysOnItsControl) {
  ASSERT_TRUE(QFile::copy(QString(KV_SOURCE_DIR "/tools/devsim/dashboard.XML"), S.Dir.filePath("dashboard.XML")));
  ASSERT_NO_FATAL_FAILURE(Open(0));
  S.Form->PageControl->setCurrentWidget(S.Form->TabSheetDashboard);
  S.Form->DashboardFrame->Refresh();
  ASSERT_TRUE(S.WaitIdle());
  TParamEnum *mode = nullptr;
  for (QWidget *w : ControlsOf(S.Form->DashboardFrame->Panel, true))
    if (auto *e = qobject_cast<TParamEnum *>(w); e && e->mreg() == 30)
      mode = e;
  ASSERT_TRUE(mode);
  const int held = S.Device.Register(TSimArea::Holding, 30), typed = held == 0 ? 1 : 0;
  ASSERT_EQ(mode->List()->currentIndex(), held);
  Gateway->FailAfter(1, TAfter::Exception, SIM_FN_WRITE_HOLDING);
  emit mode->List()->activated(typed);
  ASSERT_TRUE(S.WaitIdle());
  QApplication::processEvents();
  EXPECT_EQ(S.Device.Register(TSimArea::Holding, 30), typed);
  EXPECT_EQ(mode->List()->currentIndex(), typed);
  EXPECT_EQ(mode->toolTip(), UnconfirmedMarkText());
  EXPECT_TRUE(S.Status().startsWith("записано, не подтверждено: ")) << S.Status().toStdString();
  // A refresh that reads the relay shows what it holds, unmarked.
  Gateway->Mode(TTcpGateway::TMode::Forward);
  S.Form->DashboardFrame->Refresh();
  ASSERT_TRUE(S.WaitIdle());
  EXPECT_EQ(mode->List()->currentIndex(), typed);
  EXPECT_EQ(mode->toolTip(), QString());
}
