// A tab closed while its write runs waits for the write, against devsim:
// meanwhile it takes no command of its own, and its close, once the write
// has ended, waits for any dialog still open. Nothing is freed under a dialog.
#include "uLinkKit.h"

#include "uCustomFrame.h"
#include "uDeviceBoardFrame.h"
#include "uDialogSinks.h"
#include "uIOChain3.h"
#include "uModbusTools.h"
#include "uParamCodec.h"
#include "uSchemaEditor.h"
#include "uSchemaModule.h"
#include "uGraphic.h"
#include "uSchemaEditorPanel.h"
#include "uUstavFrame.h"
#include "uUstavLocalFrame.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QMenu>
#include <QProgressBar>
#include <QScrollArea>
#include <QStatusBar>
#include <QToolButton>
#include <QTimer>
#include <gtest/gtest.h>

namespace {
const char *const SetQuestion = "Изменения набора уставок";
const char *const Refusal = "Вкладка закроется после записи: её команды не выполняются";

// The demo relay with its boards and logic beside the program; questions are
// answered "Нет" (the close drops what was not saved), a file question is
// a dialog the engineer stays in while the write ends, and so is every
// modal dialog that opens (then closed by its OK or Cancel).
class DeferredCloseLink : public TShownCapture {
protected:
  void SetUp() override {
    TShownCapture::SetUp();
    SetMessageSink([this](TMsgKind Kind, const QString &Text) {
      Shown << Text;
      // Asked while no dialog is open: the close came after it had returned.
      if (Text.contains(SetQuestion))
        AskedUnderDialog << (QApplication::activeModalWidget() != nullptr);
      return Kind == TMsgKind::Question || Kind == TMsgKind::YesNoQuestion ? TMsgResult::No : TMsgResult::Ok;
    });
    SetFileDialogSink([this](const TFileDialogRequest &R) {
      Asked << R.Caption;
      StayInDialog();
      return S.Dir.filePath("saved.file");
    });
    ASSERT_TRUE(QFile::copy(QStringLiteral(KV_SOURCE_DIR "/tools/devsim/deviceFrame.xml"),
                            S.Dir.filePath("deviceFrame.xml")));
    ASSERT_TRUE(S.Start("[timer]\ninterval=60000\n[tools]\ndeviceBoard=1\ncustomLogic=1\n"));
    S.Form->setGeometry(0, 0, 1400, 800);
    S.Form->show();
    ASSERT_EQ(S.Identify(), "Готово");
    S.Form->SetLoggedIn(true);
    QObject::connect(&FWatch, &QTimer::timeout, [this] {
      QWidget *w = QApplication::activeModalWidget();
      if (!w)
        FSeen = nullptr;
      if (!w || w == FSeen)
        return;
      FSeen = w;
      Opened << w->metaObject()->className();
      StayInDialog();
      if (const QPointer<QWidget> still(w); still)
        QMetaObject::invokeMethod(w, Accept ? "accept" : "reject", Qt::QueuedConnection);
    });
    FWatch.start(20);
  }
  void TearDown() override {
    FWatch.stop();
    TShownCapture::TearDown();
  }

  // The engineer stays in a dialog while the write ends, until the tab has
  // gone or its close waits for the dialog.
  void StayInDialog() {
    S.Server->HoldAnswers(false);
    EXPECT_TRUE(QTest::qWaitFor([this] { return !Tab || S.Form->HasHeldCloses(); }, 20000));
    TabAtDialogEnd << !Tab.isNull();
  }

  // A write of Owner's that runs until the relay's answers are let go.
  void StartHeldWrite(QObject *Owner) {
    S.Device.ClearLogs();
    S.Server->HoldAnswers(true, SIM_FN_WRITE_HOLDING);
    TIOChainList3 &write = S.Form->IOChain()->newList();
    QBuffer &pairs = write.Buffer();
    StreamWritePairs(pairs, {{101, 401}, {102, 402}, {103, 403}, {104, 404}});
    pairs.seek(0);
    write.ownedBy(Owner).writes("набор уставок").writeReg(pairs).run();
    ASSERT_TRUE(QTest::qWaitFor([this] { return !RegisterRequests(S.Device).isEmpty(); }, 10000));
  }

  // Ctrl+F4 on the active tab during its write: the close is put off.
  void CloseDuringWrite() {
    Tab = S.Form->PageControl->currentWidget();
    S.Form->atabClose->trigger();
    ASSERT_TRUE(Tab);
    ASSERT_TRUE(S.Form->WriteWaitBox());
  }

  // The write let go and ended, the tab gone: every register of it sent.
  void WriteEndsAndTabCloses() {
    S.Server->HoldAnswers(false);
    ASSERT_TRUE(S.WaitIdle());
    EXPECT_TRUE(QTest::qWaitFor([this] { return !Tab && !QApplication::activeModalWidget(); }, 20000));
    EXPECT_EQ(RegisterRequests(S.Device), (QStringList{"w 101 401", "w 102 402", "w 103 403", "w 104 404"}));
  }

  // The session's pages, made as the engineer makes them.
  TkvUstavLocalFrame *SetFileTab() {
    S.Form->PageControl->setCurrentWidget(S.Form->TabSheetUstav);
    const QString file = S.Dir.filePath("set.us");
    S.Form->UstavFrame->SaveToFile(file);
    return S.Form->OpenLocalSet(file, "set.us");
  }
  TkvDeviceBoardFrame *BoardsTab() {
    S.Form->NDeviceBoard->trigger();
    auto *boards = S.Form->ActiveFrame<TkvDeviceBoardFrame>();
    if (boards)
      boards->ListBox->setCurrentRow(0);
    return boards;
  }
  TkvCustomFrame *LogicTab() {
    S.Form->NCustomLogic->trigger();
    TkvCustomFrame *page = S.Form->ActiveCustomFrame();
    if (!page)
      return nullptr;
    S.Form->aMonitorRefresh->trigger();
    EXPECT_TRUE(S.WaitIdle());
    EXPECT_TRUE(page->IsLogicLoaded()) << S.Status().toStdString();
    page->ListViewUnit->setCurrentRow(0);
    return page;
  }

  // The engineer's own gestures on a page.
  // The cell of a bit set taken as the current one, the grid with the focus.
  static void ChooseBitSet(TkvUstavLocalFrame *Set) {
    for (int r = 1; r < Set->sgUstav->rowCount(); ++r)
      if (const TUstav *u = Set->RowUstav(r); u && u->RecordType == '5' && u->CanWrite()) {
        Set->sgUstav->setCurrentCell(r, 2);
        Set->sgUstav->setFocus();
        return;
      }
    ADD_FAILURE() << "no bit set on the page";
  }
  // F2, the grid's key for its cell editor, where the keyboard is now.
  void PressF2() {
    S.Form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(S.Form.get()));
    QWidget *focus = QApplication::focusWidget();
    QTest::keyClick(focus ? focus : S.Form.get(), Qt::Key_F2);
  }
  static void RenameFromList(TkvDeviceBoardFrame *Boards) {
    const QPoint at = Boards->ListBox->visualItemRect(Boards->ListBox->item(0)).center();
    QContextMenuEvent menu(QContextMenuEvent::Mouse, at, Boards->ListBox->viewport()->mapToGlobal(at));
    QApplication::sendEvent(Boards->ListBox->viewport(), &menu);
    // Chosen from the menu, when one came.
    if (Boards->PopupMenu->isVisible()) {
      Boards->PopupMenu->hide();
      Boards->ActionRename->trigger();
    }
  }
  static void DoubleClickFunction(TkvCustomFrame *Page) {
    TSchemaEditor *editor = Page->SchemaEditor()->Editor();
    for (TAbstract *a : editor->Module()->AbstractList.Items())
      if (auto *e = dynamic_cast<TElement *>(a); e && e->Func) {
        const TPixelRect &b = e->Graphic->Bounds;
        const QPoint at((b.Left + b.Right) / 2, (b.Top + b.Bottom) / 2);
        editor->ScrollBox->ensureVisible(at.x(), at.y());
        QTest::mouseDClick(editor->PaintBox, Qt::LeftButton, {}, at);
        return;
      }
    ADD_FAILURE() << "no function block in the unit";
  }

  TDemoSession S;
  QPointer<QWidget> Tab;
  QStringList Opened;          // class names of the modal dialogs that opened
  QList<bool> TabAtDialogEnd;  // the tab still there when its dialog ended
  QList<bool> AskedUnderDialog;
  bool Accept = true;

private:
  QTimer FWatch;
  QPointer<QWidget> FSeen;
};
} // namespace

// Ctrl+F4 during a tab's write, then a command of that tab that would open a
// dialog (a file, a name, a bit mask, a designer, a block's function): it
// opens nothing, the write runs to its end, and the tab closes.
TEST_F(DeferredCloseLink, ATabWaitingToCloseTakesNoCommandOfItsOwn) {
  const struct {
    const char *Path;
    std::function<QObject *()> Open;
    std::function<void(QObject *)> Command;
  } paths[] = {
      {"set file tab, Сохранить как", [this] { return SetFileTab(); },
       [this](QObject *) { S.Form->apFileSaveAs->trigger(); }},
      {"edit tab, Ctrl+S", [this] { return EditedTab(S, "444"); },
       [this](QObject *) { S.Form->apFileSave->trigger(); }},
      {"boards tab, Сохранить как", [this] { return BoardsTab(); },
       [this](QObject *) { S.Form->apFileSaveAs->trigger(); }},
      {"boards list, Переименовать", [this] { return BoardsTab(); },
       [](QObject *F) { RenameFromList(static_cast<TkvDeviceBoardFrame *>(F)); }},
      {"set tab, Битовая маска",
       [this] {
         TkvUstavLocalFrame *set = SetFileTab();
         ChooseBitSet(set);
         return set;
       },
       [this](QObject *) { PressF2(); }},
      {"logic tab, Сохранить как", [this] { return LogicTab(); },
       [this](QObject *) { S.Form->apFileSaveAs->trigger(); }},
      {"boards tab, Настройка панели", [this] { return BoardsTab(); },
       [this](QObject *) { S.Form->adSetup->trigger(); }},
      {"logic tab, a block's function", [this] { return LogicTab(); },
       [](QObject *F) { DoubleClickFunction(static_cast<TkvCustomFrame *>(F)); }},
  };
  for (const auto &p : paths) {
    SCOPED_TRACE(p.Path);
    QObject *frame = p.Open();
    ASSERT_TRUE(frame);
    ASSERT_NO_FATAL_FAILURE(StartHeldWrite(frame));
    ASSERT_NO_FATAL_FAILURE(CloseDuringWrite());
    Opened.clear();
    Asked.clear();
    S.Form->UpdateActions();
    p.Command(frame);
    EXPECT_TRUE(Opened.isEmpty()) << Opened.join("|").toStdString();
    EXPECT_TRUE(Asked.isEmpty()) << Asked.join("|").toStdString();
    ASSERT_NO_FATAL_FAILURE(WriteEndsAndTabCloses());
    S.Device.SetFault(TSimFault());
  }
}

// The close put off is shut from the tab's commands; a refused one says so
// on the status line.
TEST_F(DeferredCloseLink, ARefusedCommandSaysWhy) {
  TkvUstavLocalFrame *set = SetFileTab();
  ASSERT_TRUE(set);
  ASSERT_NO_FATAL_FAILURE(StartHeldWrite(set));
  ASSERT_NO_FATAL_FAILURE(CloseDuringWrite());
  EXPECT_FALSE(Tab->isEnabled());
  EXPECT_FALSE(S.Form->apFileSaveAs->isEnabled());
  // Keys reach the page's own commands past the enabling of actions.
  S.Form->aMonitorRefresh->setEnabled(true);
  S.Form->aMonitorRefresh->trigger();
  EXPECT_EQ(S.Status(), Refusal);
  ASSERT_NO_FATAL_FAILURE(WriteEndsAndTabCloses());
}

// With the tab's commands left open (a test hook), a dialog open when the
// write ends holds the close: the tab goes only once the dialog has
// returned, and asks about its unsaved edits then. Also a dialog the tab
// did not open (the title panel's designer, a settings dialog).
TEST_F(DeferredCloseLink, TheCloseWaitsForTheDialogOpenWhenTheWriteEnds) {
  const struct {
    const char *Dialog;
    std::function<void(TkvUstavLocalFrame *)> Open;
    bool Accept;
  } dialogs[] = {
      {"the tab's file dialog", [this](TkvUstavLocalFrame *) { S.Form->apFileSaveAs->trigger(); }, false},
      {"the tab's bit mask", [this](TkvUstavLocalFrame *) { PressF2(); }, true},
      {"the title panel's designer",
       [this](TkvUstavLocalFrame *) {
         S.Form->PageControl->setCurrentWidget(S.Form->TabSheetDashboard);
         S.Form->adSetup->trigger();
       },
       false},
      {"a settings dialog", [this](TkvUstavLocalFrame *) { S.Form->aConfigMMS->trigger(); }, false},
  };
  S.Form->SetShutsClosingTabs(false);
  // The program's own file dialog, a modal window.
  InstallDialogSinks();
  SetMessageSink([this](TMsgKind Kind, const QString &Text) {
    Shown << Text;
    if (Text.contains(SetQuestion))
      AskedUnderDialog << (QApplication::activeModalWidget() != nullptr);
    return Kind == TMsgKind::Question || Kind == TMsgKind::YesNoQuestion ? TMsgResult::No : TMsgResult::Ok;
  });
  for (const auto &d : dialogs) {
    SCOPED_TRACE(d.Dialog);
    S.Form->PageControl->setCurrentWidget(S.Form->TabSheetUstav);
    TkvUstavLocalFrame *set = EditedTab(S, "444");
    ASSERT_TRUE(set);
    ASSERT_TRUE(set->IsModified());
    ChooseBitSet(set);
    ASSERT_NO_FATAL_FAILURE(StartHeldWrite(set));
    ASSERT_NO_FATAL_FAILURE(CloseDuringWrite());
    Opened.clear();
    TabAtDialogEnd.clear();
    AskedUnderDialog.clear();
    Accept = d.Accept;
    d.Open(set);
    EXPECT_EQ(Opened.size(), 1) << Opened.join("|").toStdString();
    EXPECT_EQ(TabAtDialogEnd, QList<bool>{true});
    ASSERT_NO_FATAL_FAILURE(WriteEndsAndTabCloses());
    // Its unsaved edits asked about once, as a close asks, no dialog open.
    EXPECT_EQ(AskedUnderDialog, QList<bool>{false});
  }
}

// "Выход" while a write runs: the program waits for it, and no command makes
// a new tab meanwhile (the edit tab, a set file); the program then ends.
TEST_F(DeferredCloseLink, NoNewTabWhileTheProgramWaitsToClose) {
  const struct {
    const char *Command;
    std::function<void()> Run;
  } commands[] = {
      {"Редактировать уставки", [this] { S.Form->auEdit->trigger(); }},
      {"Открыть набор уставок", [this] { S.Form->apFileLoad->trigger(); }},
  };
  const QString file = S.Dir.filePath("set.us");
  S.Form->UstavFrame->SaveToFile(file);
  Answer = file;
  SetFileDialogSink([this](const TFileDialogRequest &R) {
    Asked << R.Caption;
    return Answer;
  });
  S.Form->PageControl->setCurrentWidget(S.Form->TabSheetUstav);
  TkvUstavLocalFrame *set = EditedTab(S, "444");
  ASSERT_TRUE(set);
  ASSERT_NO_FATAL_FAILURE(StartHeldWrite(set));
  S.Form->nExit->trigger();
  ASSERT_TRUE(S.Form->WriteWaitBox());
  const int tabs = S.Form->PageControl->count();
  for (const auto &c : commands) {
    SCOPED_TRACE(c.Command);
    S.Form->PageControl->setCurrentWidget(S.Form->TabSheetUstav);
    c.Run();
    EXPECT_EQ(S.Form->PageControl->count(), tabs);
  }
  EXPECT_TRUE(Asked.isEmpty()) << Asked.join("|").toStdString();
  S.Server->HoldAnswers(false);
  EXPECT_TRUE(QTest::qWaitFor([this] { return !S.Form->isVisible(); }, 20000));
}

// "Выход" as the edit command's identity check ends, before the command
// goes on: once the program has closed, it goes no further (no set file, no tab).
TEST_F(DeferredCloseLink, TheEditCommandStopsWhenTheProgramClosedDuringItsCheck) {
  S.Form->PageControl->setCurrentWidget(S.Form->TabSheetUstav);
  ASSERT_TRUE(S.Form->aMonitorPoll->isEnabled());
  const QString work = QDir(S.Form->GetTempFolder()).filePath("tempustav.xml");
  QFile::remove(work);
  // The check's answer is held until the window shows the link busy; the
  // check's end enables "Опрос" again, and the close comes right then,
  // while the command still waits.
  S.Server->HoldAnswers(true, SIM_FN_READ_FILE);
  QTimer release;
  QObject::connect(&release, &QTimer::timeout, [&] {
    if (S.Form->aMonitorPoll->isEnabled())
      return;
    release.stop();
    S.Server->HoldAnswers(false);
  });
  release.start(10);
  bool pressed = false;
  QObject::connect(S.Form->aMonitorPoll, &QAction::changed, &release, [&] {
    if (!pressed && !release.isActive() && S.Form->aMonitorPoll->isEnabled()) {
      pressed = true;
      S.Form->nExit->trigger();
    }
  });
  S.Form->auEdit->trigger();
  release.stop();
  S.Server->HoldAnswers(false);
  EXPECT_TRUE(pressed);
  EXPECT_FALSE(S.Form->isVisible());
  EXPECT_FALSE(QFile::exists(work));
  EXPECT_EQ(S.Form->ActiveLocalSet(), nullptr);
}

// The logic tab closed while "Сформировать" writes the relay's logic (its
// file frames answered late): "Сохранить как" and a block's function take
// nothing meanwhile; the write runs to its end (the logic started again)
// and the tab closes.
TEST_F(DeferredCloseLink, TheLogicTabClosedDuringItsLogicWriteTakesNoCommand) {
  const struct {
    const char *Path;
    std::function<void(TkvCustomFrame *)> Command;
  } paths[] = {
      {"Сохранить как", [this](TkvCustomFrame *) { S.Form->apFileSaveAs->trigger(); }},
      {"a block's function", [](TkvCustomFrame *Page) { DoubleClickFunction(Page); }},
  };
  SetMessageSink([this](TMsgKind Kind, const QString &Text) {
    Shown << Text;
    return Kind == TMsgKind::Question || Kind == TMsgKind::YesNoQuestion ? TMsgResult::Yes : TMsgResult::Ok;
  });
  for (const auto &p : paths) {
    SCOPED_TRACE(p.Path);
    S.Form.reset();
    S.Server.reset();
    S.Serve(false);
    ASSERT_TRUE(S.Open(QString("[setup]\ncustom=1\npasswdExpirationPeriod=600\nprotocol=modbustcp\n[modbustcp]\n"
                               "host=127.0.0.1\nport=%1\n[device]\npollPause=1000\n[com]\nTimeout=5000\n[debug]\npoll=0\n"
                               "[timer]\ninterval=60000\n")
                           .arg(S.Server->TcpPort())));
    S.Form->setGeometry(0, 0, 1400, 800);
    S.Form->show();
    ASSERT_EQ(S.Identify(), "Готово");
    S.Form->SetLoggedIn(true);
    TkvCustomFrame *page = LogicTab();
    ASSERT_TRUE(page);
    Tab = S.Form->PageControl->currentWidget();
    S.Device.ClearLogs();
    S.Server->HoldAnswers(true, SIM_FN_WRITE_FILE);
    // Once the relay's logic has been stopped and a frame is being written:
    // Ctrl+F4, the path's command, then the answers let go.
    Opened.clear();
    Asked.clear();
    QTimer during;
    bool closed = false;
    QObject::connect(&during, &QTimer::timeout, [&] {
      const std::vector<QByteArray> log = S.Device.RequestLog();
      const bool writing = std::any_of(log.begin(), log.end(),
                                       [](const QByteArray &P) { return uint8_t(P[0]) == SIM_FN_WRITE_FILE; });
      if (closed || S.Device.SpecialLog().empty() || !writing)
        return;
      closed = true;
      during.stop();
      S.Form->atabClose->trigger();
      EXPECT_TRUE(S.Form->WriteWaitBox());
      S.Form->UpdateActions();
      p.Command(page);
      EXPECT_TRUE(Opened.isEmpty()) << Opened.join("|").toStdString();
      EXPECT_TRUE(Asked.isEmpty()) << Asked.join("|").toStdString();
      S.Server->HoldAnswers(false);
    });
    during.start(20);
    QTest::mouseClick(page->ToolButtonCompile, Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor([&] { return closed; }, 60000)) << Shown.join("|").toStdString();
    S.Server->HoldAnswers(false);
    EXPECT_TRUE(QTest::qWaitFor([this] { return !Tab && !QApplication::activeModalWidget(); }, 60000));
    EXPECT_EQ(S.Device.SpecialLog(), std::vector<uint8_t>({0xF0, 0xF1, 0xFF}));
  }
}
