#include "uDialogSinks.h"
#include "uMessageSink.h"

#include <QApplication>
#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

// The program's box for a question with Yes, No and Cancel: Enter takes
// Cancel, the answer that changes nothing; each button gives its own answer.
TEST(DialogSinks, QuestionBoxAnswersCancelOnEnter) {
  const TMessageSink old = SetMessageSink({});
  InstallDialogSinks();
  const struct {
    int Key; // pressed on the box, or 0 to click Button
    QMessageBox::StandardButton Button;
    TMsgResult Result;
  } cases[] = {{Qt::Key_Return, QMessageBox::NoButton, TMsgResult::Cancel},
               {0, QMessageBox::Yes, TMsgResult::Yes},
               {0, QMessageBox::No, TMsgResult::No},
               {Qt::Key_Escape, QMessageBox::NoButton, TMsgResult::Cancel}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Key);
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
      auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
      if (!box)
        return;
      answer.stop();
      if (c.Key)
        QTest::keyClick(box, Qt::Key(c.Key));
      else
        box->button(c.Button)->click();
    });
    answer.start(10);
    EXPECT_EQ(ShowMessageBox(TMsgKind::Question, "Записать?"), c.Result);
  }
  SetMessageSink(old);
}

// Every box of the sink, question or not, lives on the main window, never on
// the active window (a wait box that a close deletes while the box is open).
TEST(DialogSinks, BoxesLiveOnTheMainWindowNotOnTheActiveOne) {
  const TMessageSink old = SetMessageSink({});
  InstallDialogSinks();
  QMainWindow main;
  main.show();
  auto *wait = new QMessageBox(QMessageBox::Information, "kv", "Выполняется запись", QMessageBox::NoButton, &main);
  wait->setWindowModality(Qt::NonModal);
  wait->show();
  wait->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(wait));
  for (const TMsgKind kind : {TMsgKind::Info, TMsgKind::Error, TMsgKind::Question, TMsgKind::YesNoQuestion}) {
    QWidget *parent = wait;
    QTimer close;
    QObject::connect(&close, &QTimer::timeout, [&] {
      auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
      if (!box)
        return;
      close.stop();
      parent = box->parentWidget();
      box->done(QMessageBox::Cancel);
    });
    close.start(10);
    ShowMessageBox(kind, "Готово");
    EXPECT_EQ(parent, &main) << int(kind);
  }
  delete wait;
  SetMessageSink(old);
}
