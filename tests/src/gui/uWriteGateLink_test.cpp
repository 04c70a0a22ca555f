// Every write path of the program against the demo terminal in devsim with
// its refusing switch on: limits, what a batch holds, a write cut part-way,
// identification that fails half-way, the title panel's refresh after the
// commands that stop automatic identification, and what reaches the relay
// between the identity check and each chain's first write.
#include "../../common/uErrorOf.h"
#include "../../common/uTestLoop.h"
#include "../oscview/oscRecords.h"

#include "uControls.h"
#include "uDashboardFrame.h"
#include "uDeviceBoardFrame.h"
#include "uDeviceIO.h"
#include "uLinkKit.h"
#include "uIdentification.h"
#include "uLogger.h"
#include "uModbus.h"
#include "uSimpleDeviceDescriptor.h"
#include "uParamFrame.h"
#include "uPasswdForm.h"
#include "uStringGrid.h"
#include "uStringGridEditor.h"
#include "uUstavFrame.h"
#include "uUstavLocalFrame.h"
#include "uWriteGate.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <functional>
#include <gtest/gtest.h>

namespace {
QString Line(const QString &Name, const char *Op, const QString &Limit) {
  return QString("\r\nПомилка \"%1\" %2 %3").arg(Name, Op, Limit);
}

// One request as the table reads it.
QString Described(const QByteArray &Pdu) {
  const auto word = [&Pdu](int At) { return uint8_t(Pdu[At]) << 8 | uint8_t(Pdu[At + 1]); };
  switch (uint8_t(Pdu[0])) {
  case SIM_FN_READ_HOLDING:
    return QString("r %1 %2").arg(word(1)).arg(word(3));
  case SIM_FN_WRITE_HOLDING:
    return QString("w %1 %2").arg(word(1)).arg(word(3));
  case SIM_FN_READ_FILE:
    return QString("file %1/%2").arg(uint8_t(Pdu[1])).arg(uint8_t(Pdu[2]) | uint8_t(Pdu[3]) << 8);
  case SIM_FN_WRITE_CLOCK:
    return "clock";
  default:
    return QString(Pdu.toHex(' '));
  }
}

bool IsWrite(const QByteArray &Pdu) {
  switch (uint8_t(Pdu[0])) {
  case SIM_FN_WRITE_HOLDING: case SIM_FN_WRITE_CLOCK: case SIM_FN_WRITE_FILE: case SIM_FN_SPECIAL:
  case SIM_FN_WRITE_SRAM:
    return true;
  default:
    return false;
  }
}

// The requests from the identity check's first read (the FLASH header's
// frame 0) to the first write, that write included.
QStringList CheckToFirstWrite(const std::vector<QByteArray> &Log) {
  const auto write = std::find_if(Log.begin(), Log.end(), [](const QByteArray &P) { return !P.isEmpty() && IsWrite(P); });
  if (write == Log.end())
    return {"no write"};
  QStringList out{Described(*write)};
  for (auto it = std::make_reverse_iterator(write); it != Log.rend() && out.size() < 12; ++it) {
    out.prepend(Described(*it));
    // The check begins with the descriptor's first frame.
    if (uint8_t((*it)[0]) == SIM_FN_READ_FILE && uint8_t((*it)[1]) == FILE_DESCRIPTOR)
      break;
  }
  return out;
}

class WriteGateLink : public TShownCapture {
public: // the write paths of the table reach the fixture through a reference

  // The demo terminal refusing writes outside its descriptor's limits, the
  // title panel and boards beside the program, a window whose timer ticks
  // only when the test says so; identified and logged in.
  void Start(const QString &Extra) {
    for (const char *name : {"dashboard.XML", "deviceFrame.xml"}) {
      QFile::remove(S.Dir.filePath(name));
      ASSERT_TRUE(QFile::copy(QString(KV_SOURCE_DIR "/tools/devsim/") + name, S.Dir.filePath(name)));
    }
    S.Device.SetWriteLimits(DescribedWriteLimits(DemoTerminalContent()));
    S.Serve(false);
    ASSERT_TRUE(S.Open(QString("[setup]\ncustom=0\npasswdExpirationPeriod=600\nprotocol=modbustcp\n"
                               "[modbustcp]\nhost=127.0.0.1\nport=%1\n[device]\npollPause=1000\n[com]\nTimeout=5000\n"
                               "[timer]\ninterval=3600000\n[debug]\npoll=1\n")
                           .arg(S.Server->TcpPort()) +
                       Extra));
    ASSERT_EQ(S.Identify(), "Готово");
    S.Form->show();
    S.Form->SetLoggedIn(true);
    S.Device.ClearLogs();
  }
  static int RowOf(TStringGrid *Grid, int Col, const QString &Text) {
    for (int r = 1; r < Grid->rowCount(); ++r)
      if (Grid->Cells(Col, r) == Text)
        return r;
    return -1;
  }
  void Type(TStringGridEditor *Editor, int Col, int Row, const QString &Text) {
    TypeInto(*S.Form, Editor, Col, Row, Text);
  }
  int ParamRow(int Reg) const {
    for (int r = 1; r < S.Form->ParamFrame->sgParam->rowCount(); ++r)
      if (S.Form->ParamFrame->RowReg(r) == Reg)
        return r;
    return -1;
  }
  TUstavPanel *BoardSetpoint(int Idx) {
    S.Form->NDeviceBoard->trigger();
    auto *boards = S.Form->findChild<TkvDeviceBoardFrame *>();
    if (!boards)
      return nullptr;
    S.WaitIdle();
    boards->ListBox->setCurrentRow(1); // the setpoint board
    S.WaitIdle();
    for (QWidget *w : ControlsOf(boards->Panel, true))
      if (auto *u = qobject_cast<TUstavPanel *>(w); u && u->idx() == Idx)
        return u;
    return nullptr;
  }
  // The error a write path raised: thrown to the command, or shown in a box.
  QString Raised(const std::function<void()> &Write) {
    Errors.clear();
    const QString thrown = ErrorOf(Write);
    EXPECT_TRUE(S.WaitIdle());
    return thrown != "no error" ? thrown : Errors.join("|");
  }

  TDemoSession S;
};

const QString Delay = "Выдержка времени МТЗ-1"; // setpoint 2: 0..6000, registers 101 and 151
// How the setpoint pages name it in group 1 (2) in their reports.
const QString Delay1 = "Группа 1: " + Delay, Delay2 = "Группа 2: " + Delay;

// Exception 04 to one request of Function, after After of them went through.
TSimFault OneException(uint8_t Function, int After) {
  TSimFault f;
  f.Kind = TSimFaultKind::Exception;
  f.Value = 4;
  f.Function = Function;
  f.After = After;
  f.Count = 1;
  return f;
}

// The requests since the log was cleared as the road of a write reads:
// "r FIRST COUNT" and "w REG VALUE" for registers, "check" for the file
// frames of an identity check (a run of them as one).
QStringList Road(const TSimDevice &Device) {
  QStringList out;
  for (const QByteArray &p : Device.RequestLog()) {
    const uint8_t fn = uint8_t(p[0]);
    if (fn == 0x1C) {
      if (out.isEmpty() || out.last() != "check")
        out << "check";
      continue;
    }
    if (p.size() != 5)
      continue;
    const int a = uint8_t(p[1]) << 8 | uint8_t(p[2]), b = uint8_t(p[3]) << 8 | uint8_t(p[4]);
    if (fn == SIM_FN_WRITE_HOLDING)
      out << QString("w %1 %2").arg(a).arg(b);
    else if (fn == SIM_FN_READ_HOLDING)
      out << QString("r %1 %2").arg(a).arg(b);
  }
  return out;
}

// Kind (with Value) to the first register write only.
TSimFault OneWriteFault(TSimFaultKind Kind, int Value) {
  TSimFault f;
  f.Kind = Kind;
  f.Value = Value;
  f.Function = SIM_FN_WRITE_HOLDING;
  f.Count = 1;
  return f;
}
} // namespace

TEST_F(WriteGateLink, EveryWritePathRefusesAValueOutsideItsLimitsAndWritesExactlyAnInsideOne) {
  struct TPath {
    const char *Name, *Settings;
    // Writes Text on the path; what it raised comes back through Raised.
    std::function<void(WriteGateLink &, const QString &Text)> Write;
    const char *Outside, *Inside;
    QString Report, Written;
  };
  const auto param = [](WriteGateLink &T, const QString &Text, bool All) {
    TkvParamFrame *p = T.S.Form->ParamFrame;
    T.Type(p->Editor(), 2, T.ParamRow(31), Text);
    if (All)
      p->WriteAll();
  };
  const auto setpoint = [](WriteGateLink &T, TUstavGridFrame *F, const QString &Text) {
    T.Type(F->Editor(), 2, RowOf(F->sgUstav, 1, Delay), Text);
  };
  const TPath paths[] = {
      {"parameters, direct edit", "[param]\ndirectEdit=1\n",
       [param](WriteGateLink &T, const QString &Text) { param(T, Text, false); }, "300", "17",
       Line("Адрес Modbus", ">", "247"), "w 31 17"},
      {"parameters, Write", "[param]\ndirectEdit=0\n",
       [param](WriteGateLink &T, const QString &Text) { param(T, Text, true); }, "0", "18",
       Line("Адрес Modbus", "<", "1"), "w 31 18"},
      {"setpoints, mode 0 (the device's set)", "[ustav]\ndirectEdit=0\n",
       [setpoint](WriteGateLink &T, const QString &Text) {
         T.S.Form->EditCommand();
         TkvUstavLocalFrame *set = T.S.Form->ActiveLocalSet();
         ASSERT_TRUE(set);
         setpoint(T, set, Text);
         T.S.Form->WriteCommand();
       },
       "7000", "450", Line(Delay1, ">", "6000"), "w 101 450"},
      {"setpoints, mode 1", "[ustav]\ndirectEdit=1\n",
       [setpoint](WriteGateLink &T, const QString &Text) { setpoint(T, T.S.Form->UstavFrame, Text); }, "6001", "0",
       Line(Delay1, ">", "6000"), "w 101 0"},
      {"setpoints, mode 2", "[ustav]\ndirectEdit=2\n",
       [setpoint](WriteGateLink &T, const QString &Text) {
         T.S.Form->UstavFrame->SetEditMode(true);
         setpoint(T, T.S.Form->UstavFrame, Text);
         T.S.Form->PageControl->setCurrentWidget(T.S.Form->TabSheetUstav);
         T.S.Form->WriteCommand();
       },
       "9999", "6000", Line(Delay1, ">", "6000"), "w 101 6000"},
      {"a stored local set", "[ustav]\ndirectEdit=0\n",
       [setpoint](WriteGateLink &T, const QString &Text) {
         const QString file = T.S.Dir.filePath("stored.us");
         T.S.Form->UstavFrame->SaveToFile(file);
         TkvUstavLocalFrame *set = T.S.Form->OpenLocalSet(file, "stored");
         setpoint(T, set, Text);
         T.S.Form->WriteCommand();
       },
       "6500", "1", Line(Delay1, ">", "6000"), "w 101 1"},
      {"title panel control", "",
       [](WriteGateLink &T, const QString &Text) { T.S.Form->DashboardFrame->ParamEnumChange(30, int16_t(Text.toInt())); },
       "2", "0", Line("Режим работы терминала", ">", "Введен"), "w 30 0"},
      {"board control", "",
       [](WriteGateLink &T, const QString &Text) {
         TUstavPanel *panel = T.BoardSetpoint(1);
         ASSERT_TRUE(panel);
         panel->Edit(0)->setText(Text);
         QTest::keyClick(panel->Edit(0), Qt::Key_Return);
       },
       "7000", "5999", Line(Delay, ">", "6000"), "w 101 5999"},
  };
  for (const TPath &p : paths) {
    SCOPED_TRACE(p.Name);
    WriteGateLink &t = *this;
    S.Form.reset();
    S.Server.reset();
    S.Device.ClearLogs();
    ASSERT_NO_FATAL_FAILURE(Start(QString::fromUtf8(p.Settings)));
    EXPECT_EQ(Raised([&] { p.Write(t, p.Outside); }), p.Report);
    EXPECT_TRUE(RegisterRequests(S.Device).isEmpty()) << RegisterRequests(S.Device).join(",").toStdString();
    S.Device.ClearLogs();
    EXPECT_EQ(Raised([&] { p.Write(t, p.Inside); }), "");
    EXPECT_EQ(RegisterRequests(S.Device), QStringList{p.Written});
  }
}

TEST_F(WriteGateLink, ParametersWriteSendsOnlyTheRowEditedThereAfterTheTitlePanelChangedAnother) {
  Start("[param]\ndirectEdit=0\n");
  TkvParamFrame *page = S.Form->ParamFrame;
  EXPECT_EQ(page->sgParam->Cells(2, ParamRow(30)), "Введен");
  S.Form->DashboardFrame->ParamEnumChange(30, 0); // "Режим": 1 -> 0 on the title panel
  ASSERT_TRUE(S.WaitIdle());
  ASSERT_EQ(RegisterRequests(S.Device), QStringList{"w 30 0"});
  EXPECT_FALSE(page->RowHighlighted(ParamRow(30))); // not changed on this page
  Type(page->Editor(), 2, ParamRow(DemoDevice::ScaledReg), "7.00"); // "Время возврата"
  EXPECT_TRUE(page->RowHighlighted(ParamRow(DemoDevice::ScaledReg)));
  S.Device.ClearLogs();
  page->WriteAll();
  ASSERT_TRUE(S.WaitIdle());
  EXPECT_EQ(RegisterRequests(S.Device), QStringList{"w 50 700"});
  EXPECT_EQ(S.Device.Register(TSimArea::Holding, 30), 0);
  EXPECT_FALSE(page->RowHighlighted(ParamRow(DemoDevice::ScaledReg)));
  EXPECT_EQ(S.Status(), "Готово");
}

TEST_F(WriteGateLink, AWriteCutAfterItsFirstRegisterShowsTheRelaysValuesAndNamesTheRest) {
  Start("[param]\ndirectEdit=0\n");
  TkvParamFrame *page = S.Form->ParamFrame;
  const QString before = page->sgParam->Cells(2, ParamRow(DemoDevice::ScaledReg));
  Type(page->Editor(), 2, ParamRow(31), "17");
  Type(page->Editor(), 2, ParamRow(DemoDevice::ScaledReg), "7.00");
  const TSimFault f = OneException(SIM_FN_WRITE_HOLDING, 1);
  S.Device.SetFault(f);
  page->WriteAll();
  ASSERT_TRUE(S.WaitIdle());
  EXPECT_EQ(RegisterRequests(S.Device), (QStringList{"w 31 17", "w 50 700"}));
  EXPECT_EQ(S.Device.Register(TSimArea::Holding, 31), 17);
  EXPECT_EQ(page->sgParam->Cells(2, ParamRow(31)), "17");
  // The value that did not go stays the engineer's, an edit still.
  EXPECT_NE(page->sgParam->Cells(2, ParamRow(DemoDevice::ScaledReg)), before);
  EXPECT_EQ(page->sgParam->Cells(2, ParamRow(DemoDevice::ScaledReg)), "7.00");
  EXPECT_TRUE(page->RowHighlighted(ParamRow(DemoDevice::ScaledReg)));
  EXPECT_EQ(S.Status(), PartialWriteText(1, 2, {"Время возврата, с"}, "Ошибка устройства 04"));

  // A local set: the setpoints page shows what the relay holds after the cut.
  S.Form->EditCommand();
  TkvUstavLocalFrame *set = S.Form->ActiveLocalSet();
  ASSERT_TRUE(set);
  Type(set->Editor(), 2, RowOf(set->sgUstav, 1, Delay), "450");
  Type(set->Editor(), 3, RowOf(set->sgUstav, 1, Delay), "350");
  S.Device.ClearLogs();
  S.Device.SetFault(f);
  S.Form->WriteCommand();
  ASSERT_TRUE(S.WaitIdle());
  EXPECT_EQ(RegisterRequests(S.Device), (QStringList{"w 101 450", "w 151 350"}));
  TUstavFrame *ustav = S.Form->UstavFrame;
  const int row = RowOf(ustav->sgUstav, 1, Delay);
  EXPECT_EQ(ustav->sgUstav->Cells(2, row), "450");
  EXPECT_EQ(ustav->sgUstav->Cells(3, row), ustav->RegValueText(151, S.Device.Register(TSimArea::Holding, 151)));
  EXPECT_TRUE(set->CellChanged(3, RowOf(set->sgUstav, 1, Delay)));
  EXPECT_FALSE(set->CellChanged(2, RowOf(set->sgUstav, 1, Delay)));
  EXPECT_EQ(S.Status(), PartialWriteText(1, 2, {Delay2}, "Ошибка устройства 04"));
}

// A write the relay did whose answer never reached the program is not "not
// written": the status asks the user to look (unless the read-back after
// "Прервать" found it done), and the write is sent once.
TEST_F(WriteGateLink, AWriteWhoseAnswerNeverCameIsReportedAsSuchAndSentOnce) {
  const std::pair<const char *, TSimFault> endings[] = {
      {"answer lost", OneWriteFault(TSimFaultKind::LostAnswer, 0)},
      {"Прервать while the answer is on its way", OneWriteFault(TSimFaultKind::LateAnswer, 1500)},
  };
  for (const auto &[name, fault] : endings) {
    SCOPED_TRACE(name);
    S.Form.reset();
    S.Server.reset();
    S.Device.SetRegister(TSimArea::Holding, 31, 1);
    S.Device.SetRegister(TSimArea::Holding, DemoDevice::ScaledReg, 500);
    ASSERT_NO_FATAL_FAILURE(Start("[param]\ndirectEdit=0\n"));
    TkvParamFrame *page = S.Form->ParamFrame;
    Type(page->Editor(), 2, ParamRow(31), "17");
    Type(page->Editor(), 2, ParamRow(DemoDevice::ScaledReg), "7.00");
    S.Device.SetFault(fault);
    page->WriteAll();
    if (fault.Kind == TSimFaultKind::LateAnswer) {
      ASSERT_TRUE(WaitFor([this] { return !RegisterRequests(S.Device).isEmpty(); }));
      S.Form->aMonitorBreak->setEnabled(true);
      S.Form->aMonitorBreak->trigger();
    }
    ASSERT_TRUE(S.WaitIdle());
    EXPECT_EQ(RegisterRequests(S.Device), QStringList{"w 31 17"});
    EXPECT_EQ(S.Device.Register(TSimArea::Holding, 31), 17);
    // "Прервать" drops an answer the relay gave; the read-back after it finds
    // the value held: only what was not sent is named.
    const QString report = fault.Kind == TSimFaultKind::LateAnswer
                               ? PartialWriteText(1, 2, {"Время возврата, с"}, "Прервано")
                               : UnansweredWriteText("Адрес Modbus") + "; " + PartialWriteText(0, 2, {"Время возврата, с"});
    EXPECT_EQ(S.Status(), report) << S.Status().toStdString();
    // The report stays over the check and the ticks that follow it.
    for (int tick = 0; tick < 2; ++tick) {
      S.Form->TimerTimer();
      ASSERT_TRUE(S.WaitIdle());
    }
    EXPECT_EQ(S.Status(), report) << S.Status().toStdString();
    EXPECT_FALSE(Logger().Lines().filter(report).isEmpty());
    // The value that may have gone stays the engineer's, to be looked at.
    EXPECT_EQ(page->sgParam->Cells(2, ParamRow(31)), "17");
    EXPECT_TRUE(page->RowHighlighted(ParamRow(31)) || fault.Kind == TSimFaultKind::LateAnswer);
  }
}

// A write's box (a logic left stopped, a write cut by a reconnect) stays
// over the identity check and the refresh that follow: the box on screen,
// its text in the status line and the log.
TEST_F(WriteGateLink, AWriteBoxStaysOverTheChecksThatFollow) {
  Start("");
  const QString what = "Внешняя логика", why = "Запись не завершена: логика прибора остановлена, повторите запись";
  S.Form->IOChain()->WriteBox(what, why);
  S.Form->Identification()->CheckIdentity();
  ASSERT_TRUE(S.WaitIdle());
  S.Form->DashboardFrame->Refresh();
  ASSERT_TRUE(S.WaitIdle());
  QStringList boxes;
  for (QMessageBox *b : S.Form->findChildren<QMessageBox *>())
    if (b->isVisible())
      boxes << b->text();
  EXPECT_EQ(boxes, QStringList{"Не записано: " + what + "\n" + why});
  EXPECT_EQ(S.Status(), "Не записано: " + what + ": " + why);
  EXPECT_EQ(Logger().Lines().filter("Не записано: " + what + ": " + why).size(), 1);
}

TEST_F(WriteGateLink, AFailureAfterTheReadyStepLeavesNoDeviceAndTheNextTickIdentifies) {
  Start("");
  // The first register read after the descriptor is loaded: the measure factors.
  S.Device.SetFault(OneException(SIM_FN_READ_HOLDING, 0));
  EXPECT_EQ(S.Identify(), "Ошибка устройства 04");
  EXPECT_FALSE(S.Form->IsDeviceReady());
  EXPECT_EQ(S.Form->ParamFrame->RowReg(1), -1);
  EXPECT_EQ(ErrorOf([this] { S.Form->ParamFrame->WriteAll(); }), "Значения не прочитаны из устройства");
  S.Form->TimerTimer();
  ASSERT_TRUE(S.WaitIdle());
  EXPECT_TRUE(S.Form->IsDeviceReady());
  EXPECT_EQ(S.Status(), "Готово");
  EXPECT_GT(ParamRow(31), 0);
}

TEST_F(WriteGateLink, TitlePanelValuesGoOnAfterBreakPortPickAndLogicProject) {
  const std::pair<const char *, std::function<void(TMainForm &)>> commands[] = {
      {"Прервать", [](TMainForm &F) { F.aMonitorBreak->setEnabled(true), F.aMonitorBreak->trigger(); }},
      {"a COM port", [](TMainForm &F) {
         F.BuildPortMenu({"COM9 (/dev/kv-no-such-port)"});
         F.NPort->actions().first()->trigger();
       }},
      // What opening a logic project does to the automatic poll.
      {"a logic project", [](TMainForm &F) { F.SetAutoPoll(0); }},
  };
  for (const auto &[name, command] : commands) {
    SCOPED_TRACE(name);
    S.Form.reset();
    S.Server.reset();
    ASSERT_NO_FATAL_FAILURE(Start(""));
    S.Form->PageControl->setCurrentWidget(S.Form->TabSheetDashboard);
    S.Form->cbAuto->setChecked(true);
    command(*S.Form);
    ASSERT_TRUE(S.WaitIdle());
    S.Device.SetRegister(TSimArea::Holding, DemoDevice::MeasureReg, 4321);
    // The panel is built again when the device is identified again.
    const auto ia = [this]() -> QString {
      for (QWidget *w : ControlsOf(S.Form->DashboardFrame->Panel, true))
        if (auto *m = qobject_cast<TMeasureLabeledEdit *>(w); m && m->mreg() == DemoDevice::MeasureReg)
          return m->text();
      return "no control";
    };
    for (int tick = 0; tick < 2 && ia() != "4321"; ++tick) {
      S.Form->TimerTimer();
      ASSERT_TRUE(S.WaitIdle());
    }
    EXPECT_EQ(ia(), "4321");
  }
}

TEST_F(WriteGateLink, TheDropDownEditorFloatsOverItsCellOnTheSetpointsPageAndInALocalSet) {
  Start("[ustav]\ndirectEdit=2\n");
  S.Form->resize(1000, 680);
  S.Form->UstavFrame->SetEditMode(true);
  S.Form->PageControl->setCurrentWidget(S.Form->TabSheetUstav);
  S.Form->UstavFrame->SaveToFile(S.Dir.filePath("tempustav.xml"));
  TUstavGridFrame *set = S.Form->OpenLocalSet(S.Dir.filePath("tempustav.xml"), "set"); // its tab is shown
  for (TUstavGridFrame *f : {static_cast<TUstavGridFrame *>(set), static_cast<TUstavGridFrame *>(S.Form->UstavFrame)}) {
    if (f == S.Form->UstavFrame)
      S.Form->PageControl->setCurrentWidget(S.Form->TabSheetUstav);
    ASSERT_TRUE(f->isVisible());
    QApplication::processEvents();
    const QRect grid = f->sgUstav->geometry();
    const int row = RowOf(f->sgUstav, 1, "Направленность МТЗ-1");
    f->sgUstav->setCurrentCell(row, 2);
    f->Editor()->StartEdit();
    ASSERT_TRUE(f->Editor()->ComboBox->isVisible());
    QApplication::processEvents();
    EXPECT_EQ(f->sgUstav->geometry(), grid);
    EXPECT_EQ(f->Editor()->ComboBox->mapTo(f->sgUstav->viewport(), QPoint()),
              f->sgUstav->visualRect(f->sgUstav->model()->index(row, 2)).topLeft());
    f->Editor()->ComboBox->hidePopup();
    EXPECT_TRUE(QTest::qWaitFor([f] { return !f->Editor()->ComboBox->isVisible(); }, 5000));
    EXPECT_EQ(f->sgUstav->geometry(), grid);
  }
}

TEST_F(WriteGateLink, LimitCheckOffSendsTheSetpointAndTheRelaysRefusalIsReported) {
  Start("[ustav]\ndirectEdit=1\nlimitCheck=0\n[param]\ndirectEdit=1\n");
  TUstavFrame *page = S.Form->UstavFrame;
  const int row = RowOf(page->sgUstav, 1, Delay);
  const QString before = page->sgUstav->Cells(2, row);
  Type(page->Editor(), 2, row, "6500");
  ASSERT_TRUE(S.WaitIdle());
  EXPECT_EQ(RegisterRequests(S.Device), QStringList{"w 101 6500"}); // devsim refuses it with exception 03
  EXPECT_EQ(S.Status(), PartialWriteText(0, 1, {Delay1}, "Ошибка устройства 03"));
  EXPECT_EQ(page->sgUstav->Cells(2, row), before);
  EXPECT_TRUE(Errors.isEmpty()) << Errors.join("|").toStdString();
  // The same setting holds on the parameters page.
  S.Device.ClearLogs();
  Type(S.Form->ParamFrame->Editor(), 2, ParamRow(31), "300");
  ASSERT_TRUE(S.WaitIdle());
  EXPECT_EQ(RegisterRequests(S.Device), QStringList{"w 31 300"});
  EXPECT_EQ(S.Status(), PartialWriteText(0, 1, {"Адрес Modbus"}, "Ошибка устройства 03"));
  EXPECT_TRUE(Errors.isEmpty()) << Errors.join("|").toStdString();
}

// A relay busy when the write came (exception 06) did nothing: the report
// says so, and the write went once.
TEST_F(WriteGateLink, AWriteTheRelayWasTooBusyForIsReportedWithTheReason) {
  Start("[param]\ndirectEdit=1\n");
  TSimFault busy = OneException(SIM_FN_WRITE_HOLDING, 0);
  busy.Value = 6;
  S.Device.SetFault(busy);
  Type(S.Form->ParamFrame->Editor(), 2, ParamRow(31), "17");
  ASSERT_TRUE(S.WaitIdle());
  EXPECT_EQ(RegisterRequests(S.Device), QStringList{"w 31 17"});
  EXPECT_TRUE(S.Status().startsWith(PartialWriteText(0, 1, {"Адрес Modbus"}, "Ошибка устройства 06")))
      << S.Status().toStdString();
}

// A cache pair that does not match what was written is read again from the
// device, whatever part of it changed, and the limits the page checks are the
// device's: a damaged limit never lets an out-of-range value through.
TEST_F(WriteGateLink, ADamagedDescriptorCacheIsReadAgainAndTheLimitStillHolds) {
  Start("[param]\ndirectEdit=1\n");
  const QString key = S.Form->Descriptor()->IdentHex;
  const QString bin = S.Dir.filePath("cache/" + key + ".bin"), xml = S.Dir.filePath("cache/" + key + ".xml");
  const QByteArray goodBin = LoadFileBytes(bin), goodXml = LoadFileBytes(xml);
  QByteArray flipped = goodBin;
  flipped[DemoDevice::DescriptorFrameBytes + 900] = char(flipped[DemoDevice::DescriptorFrameBytes + 900] ^ 0x01);
  QByteArray widened = goodXml;
  ASSERT_EQ(widened.count("<word-max>247</word-max>"), 1);
  widened.replace("<word-max>247</word-max>", "<word-max>647</word-max>");
  // Another image of the same identifier listing: the same identifier checksum.
  TDeviceContent other = DemoTerminalContent();
  for (TDcParam &p : other.Params)
    if (p.Reg == 31)
      p.Max = 647;
  const QByteArray otherXml = DesignDescriptorXml(other);
  const struct {
    const char *Name;
    QByteArray Bin, Xml;
  } cases[] = {
      {"image byte past the first frame", flipped, goodXml},
      {"one limit of the XML", goodBin, widened},
      {"another image's XML", goodBin, otherXml},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Name);
    SaveFileBytes(bin, c.Bin);
    SaveFileBytes(xml, c.Xml);
    S.Device.ClearLogs();
    ASSERT_EQ(S.Identify(), "Готово");
    int frames = 0;
    for (const QByteArray &pdu : S.Device.RequestLog())
      frames += pdu.size() >= 2 && uint8_t(pdu[0]) == 0x1C && uint8_t(pdu[1]) == DemoDevice::DescriptorFileNo;
    EXPECT_GT(frames, 2) << "the descriptor read from the device";
    EXPECT_EQ(LoadFileBytes(bin), goodBin);
    EXPECT_EQ(LoadFileBytes(xml), goodXml);
    S.Form->SetLoggedIn(true);
    S.Device.ClearLogs();
    EXPECT_EQ(Raised([&] { Type(S.Form->ParamFrame->Editor(), 2, ParamRow(31), "300"); }),
              Line("Адрес Modbus", ">", "247"));
    EXPECT_TRUE(RegisterRequests(S.Device).isEmpty()) << RegisterRequests(S.Device).join(",").toStdString();
  }
}

// A set is read from the relay before the identity check, in runs of
// consecutive registers, and its first write goes right after the check:
// a relay swapped meanwhile never takes a write decided against another.
TEST_F(WriteGateLink, ASetIsReadBeforeTheCheckAndWrittenRightAfterIt) {
  Start("[ustav]\ndirectEdit=0\n");
  S.Form->EditCommand();
  TkvUstavLocalFrame *set = S.Form->ActiveLocalSet();
  ASSERT_TRUE(set);
  Type(set->Editor(), 2, RowOf(set->sgUstav, 1, Delay), "450");
  S.Device.ClearLogs();
  S.Form->WriteCommand();
  ASSERT_TRUE(S.WaitIdle());
  const QStringList road = Road(S.Device);
  const qsizetype check = road.indexOf("check");
  ASSERT_GT(check, 0) << road.join(",").toStdString();
  ASSERT_LT(check + 1, road.size());
  EXPECT_EQ(road[check + 1], "w 101 450") << road.join(",").toStdString();
  EXPECT_EQ(road.mid(check + 2).filter("w ").size(), 0) << road.join(",").toStdString();
  // Before the check only reads, ascending, each run of registers in one.
  int next = -1;
  for (const QString &r : road.mid(0, check)) {
    SCOPED_TRACE(r.toStdString());
    const QStringList f = r.split(' ');
    ASSERT_EQ(f[0], "r");
    EXPECT_GT(f[1].toInt(), next);
    next = f[1].toInt() + f[2].toInt();
  }
  EXPECT_LE(check, 4) << road.join(",").toStdString();
  EXPECT_EQ(S.Device.Register(TSimArea::Holding, 101), 450);
}

// A relay that acknowledges a write and keeps its old value: the report names
// what was written and what the relay holds, and no "Готово" follows; the
// parameters page keeps the engineer's value as an edit.
TEST_F(WriteGateLink, AValueTheRelayDidNotKeepIsNamedAndNotDone) {
  Start("[param]\ndirectEdit=0\n[ustav]\ndirectEdit=0\n");
  TSimFault unkept;
  unkept.Kind = TSimFaultKind::Unkept;
  TkvParamFrame *page = S.Form->ParamFrame;
  const int row = ParamRow(DemoDevice::ScaledReg);
  const uint16_t held = S.Device.Register(TSimArea::Holding, DemoDevice::ScaledReg);
  Type(page->Editor(), 2, row, "7.00");
  Type(page->Editor(), 2, ParamRow(31), "17");
  unkept.Register = DemoDevice::ScaledReg;
  S.Device.SetFault(unkept);
  page->WriteAll();
  ASSERT_TRUE(S.WaitIdle());
  EXPECT_EQ(RegisterRequests(S.Device), (QStringList{"w 31 17", "w 50 700"}));
  // In the page's units, as the cell shows them.
  const QString report = NotKeptText("Время возврата, с", "7.00", QString::number(held / 100.0, 'f', 2));
  EXPECT_EQ(S.Status(), report);
  EXPECT_EQ(Logger().Lines().filter(report).size(), 1);
  EXPECT_EQ(page->sgParam->Cells(2, row), "7.00");
  EXPECT_TRUE(page->RowHighlighted(row));
  EXPECT_EQ(page->sgParam->Cells(2, ParamRow(31)), "17");
  EXPECT_FALSE(page->RowHighlighted(ParamRow(31)));

  // A set: no "Готово" box, and the edit tab keeps the value as an edit.
  S.Form->EditCommand();
  TkvUstavLocalFrame *set = S.Form->ActiveLocalSet();
  ASSERT_TRUE(set);
  const uint16_t delay = S.Device.Register(TSimArea::Holding, 101);
  Type(set->Editor(), 2, RowOf(set->sgUstav, 1, Delay), "450");
  unkept.Register = 101;
  S.Device.SetFault(unkept);
  S.Device.ClearLogs();
  Shown.clear();
  S.Form->WriteCommand();
  ASSERT_TRUE(S.WaitIdle());
  QApplication::processEvents();
  EXPECT_EQ(RegisterRequests(S.Device), QStringList{"w 101 450"});
  EXPECT_EQ(S.Status(), NotKeptText(Delay1, S.Form->UstavFrame->RegValueText(101, 450),
                                     S.Form->UstavFrame->RegValueText(101, delay)));
  EXPECT_TRUE(Shown.filter("Готово").isEmpty()) << Shown.join("|").toStdString();
  EXPECT_TRUE(set->CellChanged(2, RowOf(set->sgUstav, 1, Delay)));
}

// A set the relay refuses to be read for (exception 02, busy 06) was never
// written: the box says so, and the log once.
TEST_F(WriteGateLink, ASetRefusedAtItsRelayReadGivesTheBoxAndOneLogLine) {
  Start("[ustav]\ndirectEdit=0\n");
  S.Form->EditCommand();
  TkvUstavLocalFrame *set = S.Form->ActiveLocalSet();
  ASSERT_TRUE(set);
  Type(set->Editor(), 2, RowOf(set->sgUstav, 1, Delay), "450");
  TSimFault refused = OneException(SIM_FN_READ_HOLDING, 0);
  refused.Value = 2;
  S.Device.SetFault(refused);
  S.Device.ClearLogs();
  S.Form->WriteCommand();
  ASSERT_TRUE(S.WaitIdle());
  EXPECT_TRUE(RegisterRequests(S.Device).isEmpty()) << RegisterRequests(S.Device).join(",").toStdString();
  QStringList boxes;
  for (QMessageBox *b : S.Form->findChildren<QMessageBox *>())
    if (b->isVisible())
      boxes << b->text();
  EXPECT_EQ(boxes, QStringList{"Не записано: " + Delay1 + "\nОшибка устройства 02"});
  EXPECT_EQ(Logger().Lines().filter("Не записано: " + Delay1).size(), 1);
  EXPECT_TRUE(set->CellChanged(2, RowOf(set->sgUstav, 1, Delay)));
}

// Two bits of one word edited against an old copy of it, another master
// changing a third bit before the write: one masked write of the word read
// right after the check, and the relay's word holds all three. The outcome
// is told once, a refused write's too.
TEST_F(WriteGateLink, BitsOfOneWordGoAsOneMaskedWriteOverAnotherMastersChange) {
  Start("");
  const uint16_t reg = DemoDevice::UstavReg1 + DemoDevice::BitsUstav;
  S.Device.SetRegister(TSimArea::Holding, reg, 0x0002);
  TWriteBatch batch;
  for (uint16_t bit : {0x0001, 0x0004}) {
    TWriteValue v = DescribedWriteValue(S.Form->Descriptor()->Root, reg, bit, bit);
    v.Tag = bit;
    batch.Add(v);
  }
  S.Device.SetRegister(TSimArea::Holding, reg, 0x0022); // another master's change
  std::vector<std::vector<TValueOutcome>> told;
  TWriteRun run;
  run.Outcome = [&told](const std::vector<TValueOutcome> &O) { told.push_back(O); };
  RunWriteBatch(*S.Form->IOChain(), batch, run);
  ASSERT_TRUE(S.WaitIdle());
  EXPECT_EQ(S.Device.Register(TSimArea::Holding, reg), 0x0027);
  EXPECT_EQ(Road(S.Device), (QStringList{"check", QString("r %1 1").arg(reg), QString("w %1 39").arg(reg),
                                         QString("r %1 1").arg(reg)}));
  ASSERT_EQ(told.size(), 1u);
  ASSERT_EQ(told[0].size(), 2u);
  for (const TValueOutcome &o : told[0])
    EXPECT_EQ(o.Fate, TWriteFate::Kept) << o.Tag;
  EXPECT_EQ(told[0][1].Held, (TRegWrites{{reg, 0x0027}}));

  // Prepared for another identification: refused, every value not sent.
  told.clear();
  S.Device.ClearLogs();
  run.PreparedFor = S.Form->IOChain()->IdentEpoch() - 1;
  RunWriteBatch(*S.Form->IOChain(), batch, run);
  ASSERT_TRUE(S.WaitIdle());
  ASSERT_TRUE(WaitFor([&told] { return !told.empty(); }));
  QApplication::processEvents();
  EXPECT_TRUE(RegisterRequests(S.Device).isEmpty());
  ASSERT_EQ(told.size(), 1u);
  ASSERT_EQ(told[0].size(), 2u);
  EXPECT_EQ(told[0][0].Fate, TWriteFate::NotSent);
  EXPECT_EQ(told[0][1].Fate, TWriteFate::NotSent);
}

// The identity check: the descriptor's first frame and the demo's four
// calibration values in SRAM (from 0x0700).
const QString Check[] = {"file 129/0", "53 07 00 00 04"};

// What reaches the relay from the identity check to the first write, for
// every chain of the program that writes: the check is the last exchange
// before it (the only request allowed between them is the read of the word a
// masked write merges).
TEST_F(WriteGateLink, NothingButTheIdentityCheckStandsBeforeTheFirstWriteOfEveryWriteChain) {
  struct TChain {
    const char *Name, *Settings;
    std::function<void(WriteGateLink &)> Write;
    QStringList Expected; // after the check
  };
  const auto setpoint = [](WriteGateLink &T, TUstavGridFrame *F, const QString &Text) {
    T.Type(F->Editor(), 2, RowOf(F->sgUstav, 1, Delay), Text);
  };
  const TChain chains[] = {
      {"Параметры", "[param]\ndirectEdit=0\n",
       [](WriteGateLink &T) {
         T.Type(T.S.Form->ParamFrame->Editor(), 2, T.ParamRow(31), "17");
         T.S.Form->ParamFrame->WriteAll();
       },
       {"w 31 17"}},
      {"Параметры after the password", "[param]\ndirectEdit=0\n",
       [](WriteGateLink &T) {
         T.S.Form->SetLoggedIn(false);
         WhenModal<TPasswdForm>([](TPasswdForm &Box) {
           Box.Edit->setText(QString::fromLatin1(DemoDevice::Password));
           Box.BitBtn1->click();
         });
         T.Type(T.S.Form->ParamFrame->Editor(), 2, T.ParamRow(31), "18");
         T.S.Form->PageControl->setCurrentWidget(T.S.Form->TabSheetParam);
         T.S.Form->WriteCommand();
       },
       {"w 31 18"}},
      {"Уставки, a cell written as typed", "[ustav]\ndirectEdit=1\n",
       [setpoint](WriteGateLink &T) { setpoint(T, T.S.Form->UstavFrame, "0"); }, {"w 101 0"}},
      {"Уставки, edit mode", "[ustav]\ndirectEdit=2\n",
       [setpoint](WriteGateLink &T) {
         T.S.Form->UstavFrame->SetEditMode(true);
         setpoint(T, T.S.Form->UstavFrame, "450");
         T.S.Form->PageControl->setCurrentWidget(T.S.Form->TabSheetUstav);
         T.S.Form->WriteCommand();
       },
       {"w 101 450"}},
      {"the edit tab", "[ustav]\ndirectEdit=0\n",
       [setpoint](WriteGateLink &T) {
         T.S.Form->EditCommand();
         TkvUstavLocalFrame *set = T.S.Form->ActiveLocalSet();
         ASSERT_TRUE(set);
         setpoint(T, set, "460");
         T.S.Form->WriteCommand();
       },
       {"w 101 460"}},
      {"a set file", "[ustav]\ndirectEdit=0\n",
       [setpoint](WriteGateLink &T) {
         const QString file = T.S.Dir.filePath("stored.us");
         T.S.Form->UstavFrame->SaveToFile(file);
         TkvUstavLocalFrame *set = T.S.Form->OpenLocalSet(file, "stored");
         setpoint(T, set, "1");
         T.S.Form->WriteCommand();
       },
       {"w 101 1"}},
      {"a title panel control", "",
       [](WriteGateLink &T) { T.S.Form->DashboardFrame->ParamEnumChange(30, 0); }, {"w 30 0"}},
      {"a board control", "",
       [](WriteGateLink &T) {
         TUstavPanel *panel = T.BoardSetpoint(1);
         ASSERT_TRUE(panel);
         panel->Edit(0)->setText("5999");
         QTest::keyClick(panel->Edit(0), Qt::Key_Return);
       },
       {"w 101 5999"}},
      {"the clock", "", [](WriteGateLink &T) { T.S.Form->daSetTime->trigger(); }, {"clock"}},
  };
  for (const TChain &c : chains) {
    SCOPED_TRACE(c.Name);
    S.Form.reset();
    S.Server.reset();
    S.Device.ClearLogs();
    ASSERT_NO_FATAL_FAILURE(Start(QString::fromUtf8(c.Settings)));
    c.Write(*this);
    ASSERT_TRUE(S.WaitIdle());
    EXPECT_EQ(CheckToFirstWrite(S.Device.RequestLog()).join(", ").toStdString(),
              (QStringList(std::begin(Check), std::end(Check)) + c.Expected).join(", ").toStdString())
        << Shown.join("|").toStdString();
  }
}
