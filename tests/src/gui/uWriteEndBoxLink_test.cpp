// A setpoint tab closed (Ctrl+F4) during its write, against the demo
// terminal in devsim, with the program's own message boxes: the wait box is
// made the active window, as a window manager makes it, and the write's end
// opens its box while the close goes on.
#include "uDialogSinks.h"
#include "uLinkKit.h"
#include "uLogger.h"
#include "uSimFault.h"
#include "uStringGrid.h"
#include "uStringGridEditor.h"
#include "uUstavFrame.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

namespace {
// The demo terminal identified, logged in; the program's dialog sinks, each
// box answered by a timer a while after it opened ("Нет" where it asks).
class WriteEndBoxLink : public TShownCapture {
protected:
  void SetUp() override {
    TShownCapture::SetUp();
    ASSERT_TRUE(S.Start("[timer]\ninterval=3600000\n[ustav]\ndirectEdit=0\n"));
    ASSERT_EQ(S.Identify(), "Готово");
    S.Form->show();
    S.Form->SetLoggedIn(true);
    InstallDialogSinks();
    QObject::connect(&FAnswer, &QTimer::timeout, [this] { Answer(); });
    FAnswer.start(20);
  }
  void TearDown() override {
    FAnswer.stop();
    S.Device.SetFault(TSimFault());
    TShownCapture::TearDown();
  }
  // The box in its exec() for 300 ms: closed, "Нет" to a question.
  void Answer() {
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (box != FBox) {
      FBox = box;
      FOpen.start();
      // A box comes back to the top once a box opened over it is answered.
      if (box && !box->property("seen").toBool()) {
        box->setProperty("seen", true);
        Texts << box->text();
      }
      return;
    }
    if (!box || FOpen.elapsed() < 300)
      return;
    FBox = nullptr;
    if (QAbstractButton *no = box->button(QMessageBox::No))
      no->click();
    else
      box->done(QMessageBox::Ok);
  }
  // A write held for its answers (LateAnswer) or refused (exception 04).
  void HoldWrites(bool Refuse) {
    TSimFault f;
    f.Kind = Refuse ? TSimFaultKind::Exception : TSimFaultKind::LateAnswer;
    f.Value = Refuse ? 4 : 400;
    f.Function = SIM_FN_WRITE_HOLDING;
    S.Device.SetFault(f);
  }

  TDemoSession S;
  QStringList Texts; // the boxes that opened, their texts
  QTimer FAnswer;
  QPointer<QMessageBox> FBox;
  QElapsedTimer FOpen;
};

} // namespace

// Ctrl+F4 on the edit tab and on a set file tab while their write runs, the
// wait box the active window: the write ends well, short, or finding the
// relay holds the set, its box opens and the close goes on; the boxes live
// on the main window, nothing is freed under them.
TEST_F(WriteEndBoxLink, ATabClosedDuringItsWriteOutlivesTheWritesEndBox) {
  enum TEnd { Well, Short, Nothing };
  const struct {
    const char *Name;
    bool SetFile;
    TEnd End;
  } rows[] = {
      {"edit tab, the write ends well", false, Well},     {"edit tab, the write ends short", false, Short},
      {"edit tab, nothing to send", false, Nothing},      {"set file tab, the write ends well", true, Well},
      {"set file tab, the write ends short", true, Short}, {"set file tab, nothing to send", true, Nothing},
  };
  for (const auto &r : rows) {
    SCOPED_TRACE(r.Name);
    S.Form->SetLoggedIn(true);
    S.Form->PageControl->setCurrentWidget(S.Form->TabSheetUstav);
    const uint16_t held = S.Device.Register(TSimArea::Holding, 101);
    TkvUstavLocalFrame *set = nullptr;
    if (r.SetFile) {
      // A set of the relay's values, the relay changed since where it is to write.
      const QString file = S.Dir.filePath("set.us");
      S.Form->UstavFrame->SaveToFile(file);
      if (r.End != Nothing)
        S.Device.SetRegister(TSimArea::Holding, 101, uint16_t(held + 10));
      set = S.Form->OpenLocalSet(file, "set.us");
    } else {
      S.Form->EditCommand();
      set = S.Form->ActiveLocalSet();
      ASSERT_TRUE(set);
      int row = -1;
      for (int k = 1; k < set->sgUstav->rowCount(); ++k)
        if (set->RowUstav(k) && set->RowUstav(k)->Reg(0) == 101)
          row = k;
      ASSERT_GT(row, 0);
      set->sgUstav->setCurrentCell(row, 2);
      set->Editor()->StartEdit();
      set->Editor()->Edit->setText(set->RowUstav(row)->ValueToText(r.End == Nothing ? held : held + 10, false));
      QTest::keyClick(set->Editor()->Edit, Qt::Key_Return);
    }
    ASSERT_TRUE(set);
    const QPointer<TkvUstavLocalFrame> tab(set);
    S.Device.ClearLogs();
    Texts.clear();
    // The relay read before the check answers late (a slow line): the close
    // comes during the write, whatever it finds to send.
    TSimFault late;
    late.Kind = TSimFaultKind::LateAnswer;
    late.Value = 3000;
    late.Register = 101;
    S.Device.SetFault(late);
    S.Form->WriteCommand();
    ASSERT_TRUE(S.Form->IOChain()->RunningWrite());
    ASSERT_TRUE(QTest::qWaitFor([this] { return S.Device.RequestLog().size() > 0; }, 10000));
    HoldWrites(r.End == Short);
    // Ctrl+F4 is the main window's shortcut: pressed where it is active.
    S.Form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(S.Form.get()));
    QTest::keyClick(S.Form.get(), Qt::Key_F4, Qt::ControlModifier);
    QMessageBox *wait = S.Form->WriteWaitBox();
    ASSERT_TRUE(wait);
    wait->activateWindow();
    ASSERT_TRUE(QTest::qWaitFor([wait] { return QApplication::activeWindow() == wait; }, 10000));
    ASSERT_TRUE(S.WaitIdle());
    // The end's box opens, its tab's close goes on, every box is answered.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return !QApplication::activeModalWidget() && !S.Form->WriteWaitBox() && (r.End == Short || !tab); },
        30000))
        << Texts.join("|").toStdString();
    const QString end = r.End == Well ? "Готово" : UstavTexts::AlreadyHeld;
    if (r.End != Short)
      EXPECT_EQ(Texts.filter(end).size(), 1) << Texts.join("|").toStdString();
    else
      EXPECT_TRUE(tab);
    S.Device.SetFault(TSimFault());
    if (tab) {
      // A short write keeps its tab with the report: it goes now, unsaved.
      S.Form->PageControl->setCurrentWidget(tab->parentWidget());
      S.Form->activateWindow();
      ASSERT_TRUE(QTest::qWaitForWindowActive(S.Form.get()));
      QTest::keyClick(S.Form.get(), Qt::Key_F4, Qt::ControlModifier);
      ASSERT_TRUE(QTest::qWaitFor([&] { return !tab && !QApplication::activeModalWidget(); }, 30000));
    }
    S.Device.SetRegister(TSimArea::Holding, 101, held);
    S.Form->UnpinWriteReport();
    ASSERT_EQ(S.Identify(), "Готово");
  }
}
