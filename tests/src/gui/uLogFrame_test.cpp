#include "uLogFrame.h"

#include "uLogger.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTest>
#include <QToolButton>
#include <QWheelEvent>
#include <gtest/gtest.h>
#include <thread>

namespace {
// Polls with a deadline no loaded machine reaches.
bool WaitFor(const std::function<bool()> &Cond) { return QTest::qWaitFor(Cond, 20000); }

void Wheel(QWidget *Target, int Delta, Qt::KeyboardModifiers Mods) {
  const QPointF pos(10, 10);
  QWheelEvent e(pos, Target->mapToGlobal(pos), QPoint(), QPoint(0, Delta), Qt::NoButton, Mods, Qt::NoScrollPhase,
                false);
  QApplication::sendEvent(Target, &e);
}
} // namespace

TEST(LogFrame, ShowsKeptLinesAndNewOnesFromAnyThread) {
  // The log keeps its lines for the whole process: texts of this run are unique.
  static int run = 0;
  const QString tag = QString::number(++run);
  Logger().Info("before the pane " + tag);
  TkvLogFrame frame;
  frame.AttachLog();
  EXPECT_TRUE(WaitFor([&] { return frame.reLog->toPlainText().contains("before the pane " + tag); }));
  std::thread writer([tag] { Logger().Info("from the worker " + tag); });
  writer.join();
  EXPECT_TRUE(WaitFor([&] { return frame.reLog->toPlainText().contains("INFO from the worker " + tag); }));
  frame.DetachLog();
  Logger().Info("after detaching " + tag);
  QCoreApplication::processEvents();
  EXPECT_FALSE(frame.reLog->toPlainText().contains("after detaching " + tag));
}

TEST(LogFrame, LinesWrittenWhileThePaneGoesAwayAreDropped) {
  auto *frame = new TkvLogFrame;
  frame->AttachLog();
  std::thread writer([] {
    for (int i = 0; i < 200; ++i)
      Logger().Debug("busy");
  });
  delete frame;
  writer.join();
  QCoreApplication::processEvents();
  SUCCEED();
}

TEST(LogFrame, MirrorsTheLogInLevelColoursAndEmptiesWithIt) {
  Logger().Clear();
  TkvLogFrame frame;
  frame.AttachLog();
  const struct {
    int Level;
    QRgb Colour;
  } levels[] = {{TLogger::lvInfo, 0x000080}, {TLogger::lvError, 0xFF0000}, {TLogger::lvDebug, 0x008000}};
  for (const auto &l : levels)
    Logger().Write(l.Level, "coloured");
  ASSERT_TRUE(WaitFor([&] { return frame.reLog->document()->blockCount() == 3; }));
  for (int i = 0; i < 3; ++i) {
    const QTextBlock b = frame.reLog->document()->findBlockByNumber(i);
    EXPECT_EQ(b.begin().fragment().charFormat().foreground().color().rgb() & 0xFFFFFF, levels[i].Colour) << i;
  }
  // The pane follows the log's own 10000-line rule, through its clear callback.
  for (int i = 3; i < 10000; ++i)
    Logger().Debug("filler");
  Logger().Info("after the rule");
  ASSERT_TRUE(WaitFor([&] { return frame.reLog->toPlainText() == Logger().Lines().join('\n'); }));
  EXPECT_EQ(frame.reLog->document()->blockCount(), 1);
  // The button empties the log, so the saved ".rtf" holds what the pane shows.
  frame.ToolButton16->click();
  EXPECT_TRUE(Logger().Lines().isEmpty());
  EXPECT_TRUE(WaitFor([&] { return frame.reLog->toPlainText().isEmpty(); }));
  frame.DetachLog();
  frame.reLog->appendPlainText("line");
  frame.ToolButton16->click();
  EXPECT_TRUE(frame.reLog->toPlainText().isEmpty());
}

TEST(LogFrame, CtrlWheelChangesTheFontByOnePointPerNotch) {
  TkvLogFrame frame;
  QFont f = frame.reLog->font();
  f.setPointSizeF(10);
  frame.reLog->setFont(f);
  Wheel(frame.reLog->viewport(), 240, Qt::ControlModifier);
  EXPECT_DOUBLE_EQ(frame.reLog->font().pointSizeF(), 12);
  Wheel(frame.reLog->viewport(), -120, Qt::ControlModifier);
  EXPECT_DOUBLE_EQ(frame.reLog->font().pointSizeF(), 11);
  Wheel(frame.reLog->viewport(), 120, Qt::NoModifier);
  EXPECT_DOUBLE_EQ(frame.reLog->font().pointSizeF(), 11);
}
