// The main window's Write, Edit, Excel, Refresh and tab commands on the
// parameters and setpoints pages against the in-process demo terminal.
#include "uMainForm.h"
#include "../../common/uErrorOf.h"

#include "../pages/xlsxDump.h"
#include "uDashboardFrame.h"
#include "uLinkKit.h"
#include "uErrors.h"
#include "uFiles.h"
#include "ixml.h"
#include "uLogger.h"
#include "uMultiLingual.h"
#include "uReportDocument.h"
#include "uSimFault.h"
#include "uModbusTools.h"
#include "uPageControlHelper.h"
#include "uParamFrame.h"
#include "uParamCodec.h"
#include "uCustomFrame.h"
#include "uDevSimServer.h"
#include "uIOChain3.h"
#include "uDemoDevice.h"
#include <QMessageBox>
#include <QPushButton>
#include "uStringGrid.h"
#include "uStringGridEditor.h"
#include "uUstavFrame.h"
#include "uUstavLocalFrame.h"

#include <QAbstractButton>
#include <QAction>
#include <QJsonArray>
#include <QLineEdit>
#include <QListWidget>
#include <QComboBox>
#include <QMenu>
#include <QMenuBar>
#include <QApplication>
#include <QDialog>
#include <QTest>
#include <QToolButton>
#include <QTimer>
#include <gtest/gtest.h>

namespace {
class MainCommandsLink : public TShownCapture {
protected:
  void SetUp() override {
    TShownCapture::SetUp();
    FOldPreview = SetReportPreviewHook([](const TReportDocument &) {});
    // The program folder as installed: title panel, device boards, report template.
    for (const char *f :
         {"tools/devsim/dashboard.XML", "tools/devsim/deviceFrame.xml", "src/resources/EventReportTemplate.xml"})
      ASSERT_TRUE(QFile::copy(QStringLiteral(KV_SOURCE_DIR "/") + f, S.Dir.filePath(QFileInfo(f).fileName())));
    StartProgram();
  }
  // The program started against devsim, identified, shown and logged in.
  void StartProgram() {
    ASSERT_TRUE(S.Start("[ustav]\ndirectEdit=0\n[timer]\ninterval=60000\n[tools]\ndeviceBoard=1\nlog=1\nmodbus=1\n"
                        "eventReport=1\neventExport=1\n"));
    ASSERT_EQ(S.Identify(), "Готово");
    S.Form->show();
    S.Form->SetLoggedIn(true);
    S.Device.ClearLogs();
  }
  void TearDown() override {
    SetReportPreviewHook(FOldPreview);
    TShownCapture::TearDown();
  }
  void Show(QWidget *Page) { S.Form->PageControl->setCurrentWidget(Page); }

  QString PortName() const { return S.Form->DeviceThread()->DeviceIO().GetOI().GetComPort().GetPortName(); }
  // A chain held up by its register reads' answers, held back until the test
  // lets them go (LateAnswer) or missing once (Silence); busy when this returns.
  void StartSlowChain(TSimFaultKind Kind = TSimFaultKind::LateAnswer) {
    if (Kind == TSimFaultKind::LateAnswer) {
      S.Server->HoldAnswers(true, SIM_FN_READ_HOLDING);
    } else {
      TSimFault missing;
      missing.Kind = Kind;
      missing.Function = SIM_FN_READ_HOLDING;
      missing.Count = 1;
      S.Device.SetFault(missing);
    }
    Show(S.Form->TabSheetParam);
    S.Form->aMonitorRefresh->trigger();
  }

  TDemoSession S;

private:
  TReportPreviewHook FOldPreview;
};
} // namespace

TEST_F(MainCommandsLink, EditOpensALocalSetWhoseWriteSendsOneRegister) {
  Show(S.Form->TabSheetUstav);
  S.Form->EditCommand();
  TkvUstavLocalFrame *local = S.Form->ActiveLocalSet();
  ASSERT_NE(local, nullptr);
  EXPECT_EQ(S.Form->PageControl->ActiveSheet()->Tag(), -7);
  local->sgUstav->setCurrentCell(2, 2);
  local->Editor()->StartEdit();
  ASSERT_TRUE(local->Editor()->Edit->isVisible());
  local->Editor()->Edit->setText("444");
  QTest::keyClick(local->Editor()->Edit, Qt::Key_Return);
  S.Form->WriteCommand();
  ASSERT_TRUE(S.WaitIdle());
  EXPECT_EQ(RegisterRequests(S.Device), QStringList{"w 101 444"});

  // Refresh on the local set reads the fixed setpoints page again.
  S.Device.ClearLogs();
  S.Form->aMonitorRefresh->trigger();
  ASSERT_TRUE(S.WaitIdle());
  EXPECT_FALSE(RegisterRequests(S.Device, true).filter(QRegularExpression("^r 10\\d ")).isEmpty());

  // A renamed level: the set no longer matches the device's descriptor.
  local->clbUstavLevel->setCurrentRow(1);
  QTest::keyClick(local->clbUstavLevel, Qt::Key_F2);
  local->LevelEditor()->Edit->setText("Защиты");
  QTest::keyClick(local->LevelEditor()->Edit, Qt::Key_Return);
  S.Device.ClearLogs();
  EXPECT_EQ(ErrorOf([&] { S.Form->WriteCommand(); }), "Ошибка сравнения дескрипторов");
  EXPECT_TRUE(S.Device.RequestLog().empty());

  // Saved (under a name of the engineer's), the set asks nothing; Ctrl+F4
  // closes the tab through its own close path: the setpoints page is active again.
  Answer = S.Dir.filePath("edited.us");
  S.Form->apFileSave->trigger();
  S.Form->CloseActiveTab();
  EXPECT_EQ(S.Form->PageControl->currentWidget(), S.Form->TabSheetUstav);
}

// A set that differs from what was loaded or saved asks before it goes, as
// notes and the title panel do: at "Выход", the window's close box and its own
// tab. "Отмена" keeps the program and the edits, "Нет" drops them, "Да" saves.
TEST_F(MainCommandsLink, LocalSetEditsAskBeforeTheyGo) {
  QStringList asked;
  std::vector<TMsgResult> replies;
  SetMessageSink([&](TMsgKind, const QString &Text) {
    asked << Text;
    return size_t(asked.size()) <= replies.size() ? replies[size_t(asked.size() - 1)] : TMsgResult::Cancel;
  });
  Show(S.Form->TabSheetUstav);
  S.Form->aMonitorRefresh->trigger();
  ASSERT_TRUE(S.WaitIdle());
  // "Редактировать уставки", then group 1 of "Выдержка времени МТЗ-1" (register 101, 500) typed.
  const auto edit = [&](const QStringList &Texts) {
    S.Form->auEdit->trigger();
    TkvUstavLocalFrame *local = S.Form->ActiveLocalSet();
    for (const QString &text : Texts) {
      local->sgUstav->setCurrentCell(2, 2);
      local->Editor()->StartEdit();
      local->Editor()->Edit->setText(text);
      QTest::keyClick(local->Editor()->Edit, Qt::Key_Return);
    }
    return local;
  };
  const QString file = QDir(S.Form->GetTempFolder()).filePath("tempustav.xml");
  const QString question = "Изменения набора уставок " + file + " не сохранены, сохранить?";

  TkvUstavLocalFrame *local = edit({"888"});
  ASSERT_TRUE(local->CellChanged(2, 2));
  QWidget *sheet = S.Form->PageControl->currentWidget();
  replies = {TMsgResult::Cancel, TMsgResult::Cancel, TMsgResult::Cancel, TMsgResult::No, TMsgResult::Yes};
  S.Form->nExit->trigger();
  EXPECT_FALSE(S.Form->close());
  QTest::mouseClick(S.Form->PageControlHelper->CloseButton(sheet), Qt::LeftButton);
  EXPECT_EQ(asked, QStringList(3, question));
  EXPECT_TRUE(S.Form->isVisible());
  EXPECT_TRUE(S.Form->Timer->isActive());
  EXPECT_EQ(S.Form->PageControl->currentWidget(), sheet);
  EXPECT_EQ(local->OwnImage().GetWord(101), 888);

  const QByteArray written = LoadFileBytes(file);
  S.Form->CloseActiveTab(); // "Нет"
  EXPECT_EQ(S.Form->PageControl->indexOf(sheet), -1);
  EXPECT_EQ(LoadFileBytes(file), written);

  // Typed back to the value loaded, the set asks nothing; a level given a new
  // name asks, and "Да" saves it under the name the engineer gives.
  edit({"888", "500"});
  S.Form->CloseActiveTab();
  EXPECT_EQ(asked.size(), 4);
  local = edit({});
  local->clbUstavLevel->setCurrentRow(1);
  QTest::keyClick(local->clbUstavLevel, Qt::Key_F2);
  local->LevelEditor()->Edit->setText("Защиты");
  QTest::keyClick(local->LevelEditor()->Edit, Qt::Key_Return);
  Answer = S.Dir.filePath("levels.us");
  S.Form->nExit->trigger();
  EXPECT_EQ(asked.size(), 5);
  EXPECT_FALSE(S.Form->isVisible());
  const IXXMLDocument saved = NewXMLDocument();
  ASSERT_TRUE(saved->Load(Answer));
  EXPECT_TRUE(saved->GetDocumentElement()->GetXml().contains("Защиты"));
}

TEST_F(MainCommandsLink, ParametersAndSetpointsGoToOneSpreadsheetTab) {
  Show(S.Form->TabSheetParam);
  S.Form->ExcelCommand();
  Show(S.Form->TabSheetUstav);
  S.Form->ExcelCommand();
  TTabSheet *excel = S.Form->FindTabByTag(-9);
  ASSERT_NE(excel, nullptr);
  EXPECT_EQ(S.Form->PageControl->currentWidget(), excel);
  Answer = S.Dir.filePath("both.xlsx");
  S.Form->apFileSaveAs->trigger();
  const QJsonObject d = DumpXlsx(Answer);
  ASSERT_FALSE(d.contains("error")) << d["error"].toString().toStdString();
  const QJsonArray sheets = d["sheets"].toArray();
  EXPECT_EQ(sheets[0].toObject()["name"].toString(), "Параметры");
  EXPECT_EQ(sheets[1].toObject()["name"].toString(), "Уставки");
  EXPECT_EQ(sheets[1].toObject()["cells"].toObject()["C1"].toString(), "Група1");

  EXPECT_TRUE(Shown.isEmpty()) << Shown.join("|").toStdString();
}

TEST_F(MainCommandsLink, BaudRateItemSetsThePollPauseAndRefusesNonNumbers) {
  ASSERT_FALSE(S.Form->NBaudrate->actions().isEmpty());
  QAction *item = S.Form->NBaudrate->actions().first();
  item->setText("19&200");
  S.Form->cbDevNo->addItem("01");
  item->trigger();
  EXPECT_EQ(S.Form->DeviceThread()->PollPause(), 13);
  EXPECT_TRUE(item->isChecked());
  // The serial port is absent here: the chosen rate waits for its next open.
  EXPECT_EQ(S.Form->DeviceThread()->DeviceIO().GetOI().GetComPort().GetBaudRate(), 19200);
  EXPECT_EQ(S.Form->cbDevNo->count(), 0);
  EXPECT_FALSE(S.Form->IsDeviceReady());
  EXPECT_TRUE(Shown.isEmpty()) << Shown.join("|").toStdString();

  for (const char *bad : {"0", "abc"}) {
    item->setText(bad);
    item->trigger();
    EXPECT_EQ(S.Form->DeviceThread()->PollPause(), 13) << bad;
  }
  EXPECT_EQ(Shown, (QStringList{"invalid baud rate: 0", "invalid baud rate: abc"}));
}

TEST_F(MainCommandsLink, EveryEnabledMenuCommandRunsOnEveryPageWithoutAnErrorBox) {
  // Modal dialogs (about box, designers) are closed as soon as they show.
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [] {
    if (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget()))
      dialog->reject();
  });
  closer.start(20);
  std::function<QList<QAction *>(QMenu *)> commands = [&](QMenu *Menu) {
    QList<QAction *> out;
    for (QAction *a : Menu->actions())
      if (a->menu() && a->menu()->isEnabled())
        out << commands(a->menu());
      else if (!a->menu() && !a->isSeparator() && a->isVisible() && a != S.Form->nExit)
        out << a;
    return out;
  };
  QList<QAction *> all;
  for (QAction *m : S.Form->menuBar()->actions())
    all << commands(m->menu());
  QSet<QString> ran;
  const QDateTime before = QDateTime::currentDateTime();
  S.Device.SetClock(QDateTime(QDate(2020, 1, 1), QTime(0, 0)), false);
  for (QWidget *page : {S.Form->TabSheetDashboard, S.Form->TabSheetParam, S.Form->TabSheetUstav, S.Form->TabSheetEvent,
                        S.Form->TabSheetOscHeader})
    for (QAction *a : all) {
      Show(page);
      S.Form->UpdateActions();
      if (!a->isEnabled())
        continue;
      a->trigger();
      ASSERT_TRUE(S.WaitIdle()) << a->text().toStdString();
      ran << a->text();
      if (a == S.Form->NEnglish || a == S.Form->NUkrainian)
        S.Form->SetLanguage(lnRussian);
    }
  EXPECT_TRUE(Errors.isEmpty()) << Errors.join("|").toStdString();
  for (const char *c : {"Опрос", "Обновить", "Установить время", "Записать в устройство", "Редактировать уставки",
                        "Отчет", "Отчет MODBUS", "Экспорт", "Отчет по событиям", "Excel", "Настройка панели",
                        "Функциональные панели", "Журнал", "Modbus", "О программе", "English"})
    EXPECT_TRUE(ran.contains(QString::fromUtf8(c))) << c;

  // The device clock was set to the PC's time.
  EXPECT_LE(std::abs(before.secsTo(S.Device.Clock())), 120);
  // Report and export: text report, descriptor and event description.
  const QDir work(S.Form->GetTempFolder());
  EXPECT_TRUE(QFileInfo(work.filePath("desc.txt")).size() > 0);
  QFile xml(work.filePath("desc.xml"));
  EXPECT_TRUE(xml.open(QIODevice::ReadOnly) &&
              xml.readLine().startsWith(R"(<?xml version="1.0" encoding="windows-1251"?>)"));
  EXPECT_TRUE(QFile::exists(S.Dir.filePath("event.xml")));
  EXPECT_TRUE(Shown.contains("Отчет сохранен в файле desc.txt"));
  EXPECT_TRUE(Shown.contains("Сохранено в файле " + S.Dir.filePath("event.xml")));

  // The title panel saved under another name and opened again.
  Show(S.Form->TabSheetDashboard);
  Answer = S.Dir.filePath("panel2.xml");
  S.Form->apFileSaveAs->trigger();
  S.Form->apFileLoad->trigger();
  EXPECT_EQ(S.Form->DashboardFrame->FileName(), Answer);
  // "Список" re-reads the oscillogram directory and shows its page.
  S.Form->aoGetList->trigger();
  EXPECT_EQ(S.Form->PageControl->currentWidget(), S.Form->TabSheetOscHeader);
  ASSERT_TRUE(S.WaitIdle());
  EXPECT_TRUE(Errors.isEmpty()) << Errors.join("|").toStdString();
}

TEST_F(MainCommandsLink, PortClickWaitsForTheIdleLinkWithoutBlocking) {
  S.Form->BuildPortMenu({"USB Serial (ttyKV0)", "kv-no-such-port"});
  const QList<QAction *> items = S.Form->NPort->actions();
  ASSERT_EQ(items.size(), 2);
  S.Form->cbDevNo->addItem("01");
  StartSlowChain();
  ASSERT_TRUE(S.Form->IsLinkBusy());
  items[0]->trigger();
  // Back in the event loop while the link is still busy: nothing switched yet.
  EXPECT_TRUE(S.Form->IsLinkBusy());
  EXPECT_NE(PortName(), "ttyKV0");
  S.Server->HoldAnswers(false);
  ASSERT_TRUE(QTest::qWaitFor([&] { return PortName() == "ttyKV0"; }, 30000));
  EXPECT_EQ(S.Form->AutoPoll(), 1);
  EXPECT_TRUE(items[0]->isChecked());
  EXPECT_EQ(S.Form->cbDevNo->count(), 0);
  EXPECT_FALSE(S.Form->IsDeviceReady());
  const QString log = Logger().Lines().join('\n');
  EXPECT_TRUE(log.contains("doMenuComClick before open ttyKV0"));
  EXPECT_TRUE(log.contains("doMenuComClick after open ttyKV0 0"));

  // Still busy when the timer interval has passed: the port stays.
  ASSERT_TRUE(S.WaitIdle());
  StartSlowChain(TSimFaultKind::Silence);
  items[1]->trigger();
  S.Form->SetClock([] { return QDateTime::currentDateTime().addSecs(3600); });
  EXPECT_TRUE(QTest::qWaitFor([&] { return S.Status() == "Порт не переключен: связь занята"; }, 30000));
  S.Form->SetClock({});
  EXPECT_EQ(PortName(), "ttyKV0");
  EXPECT_TRUE(items[0]->isChecked());
  // Break while the poll's addresses are known: no poll of its own any more.
  S.Form->UpdateActions();
  ASSERT_TRUE(S.Form->aMonitorBreak->isEnabled());
  S.Form->aMonitorBreak->trigger();
  EXPECT_EQ(S.Form->AutoPoll(), 0);

  // Without a device the boards have nothing to show.
  ASSERT_TRUE(S.WaitIdle());
  S.Form->NDeviceBoard->trigger();
  EXPECT_EQ(Errors, QStringList{"Нет дескриптора"});
}

namespace {
// The answers to register writes come Ms late from now on.
TSimFault SlowWrites(int Ms) {
  TSimFault f;
  f.Kind = TSimFaultKind::LateAnswer;
  f.Value = Ms;
  f.Function = SIM_FN_WRITE_HOLDING;
  return f;
}
QStringList LogSince(qsizetype Mark) { return Logger().Lines().mid(Mark); }
} // namespace

// "Выход", the window's close box and a signal to end, met by a
// "Параметры" write of the station name (eight registers, slow answers, or
// its read-back slow): the write runs to its end, its read-back included,
// and then the program ends; the log says what ran and how it ended.
// "Отменить закрытие" keeps the program. The unsaved title panel asks only
// after the write, and a signal asks nothing but names it in the log.
// A write that ends short (the third register unanswered) gives the
// engineer's close up: the window stays with the write's report, and the
// next "Выход" closes as usual; a signal's close goes on, leaving no box.
TEST_F(MainCommandsLink, ACloseWaitsForTheParametersWriteThenEnds) {
  enum TFault { fSlowWrites, fSlowReadBack, fThirdUnanswered };
  const struct {
    const char *Close;
    std::function<void()> Press;
    TFault Fault;
    bool Cancel, Ends, Asks;
  } closes[] = {
      {"Выход", [this] { S.Form->nExit->trigger(); }, fSlowWrites, false, true, true},
      {"close box", [this] { S.Form->close(); }, fSlowWrites, false, true, true},
      {"signal", [this] { S.Form->CloseQuietly(); }, fSlowWrites, false, true, false},
      {"Выход cancelled", [this] { S.Form->nExit->trigger(); }, fSlowWrites, true, false, false},
      {"Выход during the read-back", [this] { S.Form->nExit->trigger(); }, fSlowReadBack, false, true, true},
      {"Выход, the third write unanswered", [this] { S.Form->nExit->trigger(); }, fThirdUnanswered, false, false,
       false},
      {"signal, the third write unanswered", [this] { S.Form->CloseQuietly(); }, fThirdUnanswered, false, true,
       false},
  };
  // "Нет" to the title panel's question: the program ends unsaved.
  const TMessageSink fixture = SetMessageSink([this](TMsgKind, const QString &Text) {
    Shown << Text;
    return TMsgResult::No;
  });
  QString name = "ВОД 6 0 КВ";
  for (const auto &c : closes) {
    SCOPED_TRACE(c.Close);
    const bool failing = c.Fault == fThirdUnanswered;
    TkvParamFrame *page = S.Form->ParamFrame;
    int row = 1;
    while (page->RowReg(row) >= 0 && page->RowReg(row) != DemoDevice::NameReg)
      ++row;
    ASSERT_EQ(page->RowReg(row), DemoDevice::NameReg);
    Show(S.Form->TabSheetParam);
    page->sgParam->setCurrentCell(row, 2);
    page->Editor()->StartEdit();
    ASSERT_TRUE(page->Editor()->Edit->isVisible());
    name = name == "ВОД 6 0 КВ" ? "ПОДСТАНЦИЯ 35" : "ВОД 6 0 КВ";
    page->Editor()->Edit->setText(name);
    QTest::keyClick(page->Editor()->Edit, Qt::Key_Return);
    S.Form->DashboardFrame->SetModified(true);
    S.Device.ClearLogs();
    // The answers to the writes (or to the read-back) are held back until
    // the close has been seen.
    S.Server->HoldAnswers(true, c.Fault == fSlowReadBack ? SIM_FN_READ_HOLDING : SIM_FN_WRITE_HOLDING);
    if (failing) {
      TSimFault fault;
      fault.Kind = TSimFaultKind::Silence;
      fault.Function = SIM_FN_WRITE_HOLDING;
      fault.After = 2;
      fault.Count = 1;
      S.Device.SetFault(fault);
    }
    Shown.clear();
    const qsizetype mark = Logger().Lines().size();
    S.Form->auWrite->setEnabled(true);
    S.Form->auWrite->trigger();
    // The press comes during the writes, or once the last has gone and the
    // read-back asked.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
          const QStringList sent = RegisterRequests(S.Device, true);
          return c.Fault == fSlowReadBack ? sent.filter("w ").size() == DemoDevice::NameWords && sent.last().startsWith("r ")
                                          : !sent.filter("w ").isEmpty();
        },
        10000));
    c.Press();
    EXPECT_TRUE(S.Form->isVisible());
    ASSERT_TRUE(S.Form->WriteWaitBox());
    EXPECT_TRUE(S.Form->WriteWaitBox()->isVisible());
    EXPECT_TRUE(Shown.isEmpty()) << "the questions come after the write";
    if (c.Cancel)
      S.Form->WriteWaitBox()->buttons().value(0)->click();
    S.Server->HoldAnswers(false);
    ASSERT_TRUE(S.WaitIdle());
    S.Device.SetFault(TSimFault());
    // A write with no answer ends through its own failure.
    QStringList regs;
    for (int r = DemoDevice::NameReg; r < DemoDevice::NameReg + (failing ? 3 : DemoDevice::NameWords); ++r)
      regs << QString::number(r);
    EXPECT_EQ(RegisterRequests(S.Device).replaceInStrings(QRegularExpression("^w (\\d+) .*"), "\\1"), regs);
    // (A signal's close does not wait for the page's refresh after a failure.)
    // Read back whole, or, its answer lost, the engineer's value still, an edit.
    if (!failing || !c.Ends) {
      EXPECT_EQ(page->sgParam->Cells(2, row), name);
      EXPECT_EQ(page->RowHighlighted(row), failing);
    }
    if (c.Ends) {
      EXPECT_TRUE(QTest::qWaitFor([this] { return !S.Form->isVisible(); }, 10000));
      QStringList left;
      for (QWidget *w : QApplication::topLevelWidgets())
        if (w->isVisible())
          left << w->objectName() + ": " + w->windowTitle();
      EXPECT_TRUE(left.isEmpty()) << left.join("|").toStdString();
    } else {
      // Given up or cancelled: the box has gone, the window stays.
      EXPECT_TRUE(QTest::qWaitFor([this] { return !S.Form->WriteWaitBox(); }, 10000));
      EXPECT_TRUE(S.Form->isVisible());
    }
    EXPECT_EQ(Shown.filter("Изменения титульной панел").size(), c.Asks ? 1 : 0) << Shown.join("|").toStdString();
    const QStringList log = LogSince(mark);
    EXPECT_EQ(log.filter("Закрытие программы ждёт окончания записи: Наименование присоединения").size(), 1)
        << log.join("\n").toStdString();
    EXPECT_EQ(log.filter(c.Cancel ? "Закрытие отменено, запись продолжается"
                         : failing ? "Запись не завершена: Наименование присоединения: "
                                   : "Запись завершена: Наименование присоединения")
                  .size(),
              1);
    EXPECT_EQ(log.filter("Закрытие отменено: запись не завершена: Наименование присоединения").size(),
              failing && !c.Ends ? 1 : 0);
    EXPECT_EQ(log.filter(QRegularExpression("Не сохранено при закрытии: Текущие значения \\(.*dashboard.XML\\)$")).size(),
              c.Press && c.Ends && !c.Asks ? 1 : 0);
    if (failing && !c.Ends) {
      // The report stays where the engineer reads it; the next close is an
      // ordinary one.
      EXPECT_TRUE(S.Status().contains("Наименование присоединения")) << S.Status().toStdString();
      S.Form->nExit->trigger();
      EXPECT_FALSE(S.Form->isVisible());
      EXPECT_EQ(Shown.filter("Изменения титульной панел").size(), 1);
    }
    // The next row starts a new program.
    S.Form.reset();
    S.Server.reset();
    ASSERT_NO_FATAL_FAILURE(StartProgram());
  }
  SetMessageSink(fixture);
}

// A tab closed while a write of its own runs (its button, Ctrl+F4) stays
// until the write has ended, then asks about its unsaved edits and goes;
// "Отменить закрытие" keeps it. Every register of the write reaches the
// relay; a write the relay refuses part-way keeps the tab open with its report.
TEST_F(MainCommandsLink, ATabClosedDuringItsWriteWaitsThenAsksAndCloses) {
  const struct {
    const char *Close;
    bool ByButton, Cancel, Refused;
  } closes[] = {{"tab button", true, false, false},
                {"Ctrl+F4", false, false, false},
                {"cancelled", true, true, false},
                {"the third register refused", true, false, true}};
  const TMessageSink fixture = SetMessageSink([this](TMsgKind, const QString &Text) {
    Shown << Text;
    return TMsgResult::No;
  });
  for (const auto &c : closes) {
    SCOPED_TRACE(c.Close);
    Show(S.Form->TabSheetUstav);
    TkvUstavLocalFrame *local = EditedTab(S, "444");
    ASSERT_NE(local, nullptr);
    QPointer<QWidget> sheet = S.Form->PageControl->currentWidget();
    S.Device.ClearLogs();
    // The relay's answers to the writes are held back until the close has been seen.
    S.Server->HoldAnswers(true, SIM_FN_WRITE_HOLDING);
    if (c.Refused) {
      TSimFault fault;
      fault.Kind = TSimFaultKind::Exception;
      fault.Value = 2;
      fault.Function = SIM_FN_WRITE_HOLDING;
      fault.After = 2;
      S.Device.SetFault(fault);
    }
    TIOChainList3 &write = S.Form->IOChain()->newList();
    QBuffer &pairs = write.Buffer();
    StreamWritePairs(pairs, {{101, 401}, {102, 402}, {103, 403}, {104, 404}});
    pairs.seek(0);
    write.ownedBy(local).writes("набор уставок").writeReg(pairs).run();
    ASSERT_TRUE(QTest::qWaitFor([this] { return !RegisterRequests(S.Device).isEmpty(); }, 10000));
    Shown.clear();
    if (c.ByButton)
      QTest::mouseClick(S.Form->PageControlHelper->CloseButton(sheet), Qt::LeftButton);
    else
      S.Form->atabClose->trigger();
    EXPECT_TRUE(sheet);
    ASSERT_TRUE(S.Form->WriteWaitBox());
    EXPECT_TRUE(S.Form->WriteWaitBox()->isVisible());
    if (c.Cancel)
      S.Form->WriteWaitBox()->buttons().value(0)->click();
    EXPECT_TRUE(Shown.isEmpty()) << "its question comes after the write";
    S.Server->HoldAnswers(false);
    ASSERT_TRUE(S.WaitIdle());
    S.Device.SetFault(TSimFault());
    EXPECT_EQ(RegisterRequests(S.Device),
              (c.Refused ? QStringList{"w 101 401", "w 102 402", "w 103 403"}
                         : QStringList{"w 101 401", "w 102 402", "w 103 403", "w 104 404"}));
    // The close went on, or was given up: the box has gone either way.
    EXPECT_TRUE(QTest::qWaitFor([this] { return !S.Form->WriteWaitBox(); }, 10000));
    EXPECT_EQ(sheet.isNull(), !c.Cancel && !c.Refused);
    EXPECT_EQ(Shown.size(), c.Cancel || c.Refused ? 0 : 1) << Shown.join("|").toStdString();
    if (sheet) {
      S.Form->PageControl->setCurrentWidget(sheet);
      S.Form->CloseActiveTab();
    }
  }
  SetMessageSink(fixture);
}

// "Выход" while "Сформировать" writes the relay's logic (slow answers to its
// file frames): the write runs on to its end, so the relay's logic runs
// again (F0 ... FF), and then the program ends.
TEST_F(MainCommandsLink, ExitDuringALogicWriteLetsTheLogicRunAgainFirst) {
  S.Form.reset();
  S.Server.reset();
  S.Serve(false);
  ASSERT_TRUE(S.Open(QString("[setup]\ncustom=1\npasswdExpirationPeriod=600\nprotocol=modbustcp\n[modbustcp]\n"
                             "host=127.0.0.1\nport=%1\n[device]\npollPause=1000\n[com]\nTimeout=5000\n[debug]\npoll=0\n")
                         .arg(S.Server->TcpPort())));
  ASSERT_EQ(S.Identify(), "Готово");
  S.Form->show();
  S.Form->NCustomLogic->trigger();
  TkvCustomFrame *page = S.Form->ActiveCustomFrame();
  ASSERT_TRUE(page);
  S.Form->aMonitorRefresh->trigger();
  ASSERT_TRUE(S.WaitIdle());
  ASSERT_EQ(S.Status(), "Готово");
  S.Form->SetLoggedIn(true);
  const TMessageSink fixture = SetMessageSink([this](TMsgKind Kind, const QString &Text) {
    Shown << Text;
    return Kind == TMsgKind::Question || Kind == TMsgKind::YesNoQuestion ? TMsgResult::Yes : TMsgResult::Ok;
  });
  S.Device.ClearLogs();
  // The answers to the file frames are held back until the close has been seen.
  S.Server->HoldAnswers(true, SIM_FN_WRITE_FILE);
  const qsizetype mark = Logger().Lines().size();
  // Once the relay's logic has been stopped and a frame is being written.
  QTimer exit;
  bool pressed = false;
  QObject::connect(&exit, &QTimer::timeout, [&] {
    if (!pressed) {
      const std::vector<QByteArray> log = S.Device.RequestLog();
      const bool writing = std::any_of(log.begin(), log.end(),
                                       [](const QByteArray &P) { return uint8_t(P[0]) == SIM_FN_WRITE_FILE; });
      if (S.Device.SpecialLog().empty() || !writing)
        return;
      pressed = true;
      S.Form->nExit->trigger();
    }
    if (S.Form->WriteWaitBox()) {
      exit.stop();
      S.Server->HoldAnswers(false);
    }
  });
  exit.start(20);
  S.Form->UpdateActions();
  QTest::mouseClick(page->ToolButtonCompile, Qt::LeftButton);
  EXPECT_TRUE(QTest::qWaitFor([this] { return !S.Form->isVisible(); }, 60000));
  SetMessageSink(fixture);
  S.Device.SetFault(TSimFault());
  EXPECT_EQ(S.Device.SpecialLog(), std::vector<uint8_t>({0xF0, 0xF1, 0xFF}));
  const QStringList log = Logger().Lines().mid(mark);
  EXPECT_EQ(log.filter(QRegularExpression("Закрытие программы ждёт окончания записи: .+")).size(), 1)
      << log.filter("Закрытие").join("\n").toStdString();
  EXPECT_EQ(log.filter(QRegularExpression("Запись завершена: .+")).size(), 1);
}
