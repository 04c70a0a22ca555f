#include "uDialogSinks.h"
#include "uMessageSink.h"

#include <QApplication>
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
