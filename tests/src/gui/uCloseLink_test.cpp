// A signal to end (SIGTERM, SIGINT) against the program and devsim: what
// holds it (a write, a box a write's step opens) and what it tells.
#include "uCloseRules.h"
#include "uDashboardFrame.h"
#include "uDeviceBoardFrame.h"
#include "uLinkKit.h"
#include "uLogger.h"
#include "uModbusTools.h"
#include "uSimFault.h"
#include "uStringGrid.h"
#include "uStringGridEditor.h"
#include "uUstavLocalFrame.h"

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <gtest/gtest.h>

namespace {
class CloseLink : public TShownCapture {
protected:
  void SetUp() override {
    TShownCapture::SetUp();
    ASSERT_TRUE(QFile::copy(QStringLiteral(KV_SOURCE_DIR "/tools/devsim/deviceFrame.xml"),
                            S.Dir.filePath("deviceFrame.xml")));
    ASSERT_NO_FATAL_FAILURE(Open());
    S.Form->SetLoggedIn(true);
    S.Device.ClearLogs();
    // The program's own catcher: the signal reaches the window as it does in kv.
    FSignals = std::make_unique<TEndSignals>([this] { S.Form->CloseQuietly(); });
    ASSERT_TRUE(FSignals->IsInstalled());
    FMark = Logger().Lines().size();
  }
  void TearDown() override {
    FSignals.reset();
    TShownCapture::TearDown();
  }
  // The window against devsim, identified and shown; the log read from here.
  void Open() {
    ASSERT_TRUE(S.Start("[timer]\ninterval=60000\n[tools]\ndeviceBoard=1\n"));
    ASSERT_EQ(S.Identify(), "Готово");
    S.Form->show();
    FMark = Logger().Lines().size();
  }
  // The log's lines since the test's start, without their time and level.
  QStringList Log() const {
    QStringList out;
    for (const QString &line : Logger().Lines().mid(FMark))
      out << line.section(u' ', 2);
    return out;
  }
  // Visible windows left (the main window's included).
  static QStringList WindowsLeft() {
    QStringList left;
    for (QWidget *w : QApplication::topLevelWidgets())
      if (w->isVisible())
        left << w->metaObject()->className() + QStringLiteral(" ") + w->windowTitle();
    return left;
  }

  TDemoSession S;
  std::unique_ptr<TEndSignals> FSignals;
  qsizetype FMark = 0;
};
} // namespace

// SIGTERM during a write whose own steps open a modal box at its end (as the
// logic write's "Готово" does, or a report of a write cut short): the write
// runs to its end, the box goes as the close proceeds, and the program ends
// with no window left; the log says how the write ended.
TEST_F(CloseLink, ASignalDuringAWriteEndsAfterItWithNoBoxLeft) {
  const struct {
    const char *Name;
    bool Short;
  } rows[] = {{"the write ends whole, its last step opens a box", false},
              {"the write ends short, its error handler opens a box", true}};
  for (const auto &r : rows) {
    SCOPED_TRACE(r.Name);
    if (!S.Form)
      ASSERT_NO_FATAL_FAILURE(Open());
    TSimFault fault;
    fault.Kind = r.Short ? TSimFaultKind::Silence : TSimFaultKind::LateAnswer;
    fault.Value = 300;
    fault.Function = SIM_FN_WRITE_HOLDING;
    fault.After = r.Short ? 2 : 0;
    S.Device.ClearLogs();
    S.Device.SetFault(fault);
    QPointer<QMessageBox> box;
    const auto openBox = [&box, this] {
      QMessageBox shown(QMessageBox::Information, "kv", "Готово", QMessageBox::Ok, S.Form.get());
      box = &shown;
      // Should nothing close it, it goes on its own, late: the test then
      // fails on what the log says instead of hanging.
      QTimer::singleShot(10000, &shown, [&shown] { shown.done(QMessageBox::Ok); });
      shown.exec();
    };
    TIOChainList3 &write = S.Form->IOChain()->newList();
    QBuffer &pairs = write.Buffer();
    StreamWritePairs(pairs, {{101, 401}, {102, 402}, {103, 403}, {104, 404}});
    pairs.seek(0);
    write.writes("набор уставок").writeReg(pairs);
    if (r.Short)
      write.setEvent(1, [openBox](TIOChain3 *, const QList<int> &) { openBox(); });
    else
      write.exec(openBox);
    write.run();
    ASSERT_TRUE(QTest::qWaitFor([this] { return !RegisterRequests(S.Device).isEmpty(); }, 10000));
    ::raise(SIGTERM);
    ASSERT_TRUE(QTest::qWaitFor([this] { return S.Form->WriteWaitBox(); }, 10000));
    EXPECT_TRUE(QTest::qWaitFor([this] { return !S.Form->isVisible(); }, 20000));
    S.Device.SetFault(TSimFault());
    EXPECT_TRUE(box.isNull() || !box->isVisible());
    EXPECT_EQ(WindowsLeft(), QStringList());
    EXPECT_EQ(RegisterRequests(S.Device).size(), r.Short ? 3 : 4);
    const QStringList log = Log();
    EXPECT_EQ(log.filter(r.Short ? "Запись не завершена: набор уставок: " : "Запись завершена: набор уставок").size(), 1)
        << log.join("\n").toStdString();
    EXPECT_EQ(log.filter("Закрытие программы закрыло окно как «Отмена»: Готово").size(), 1);
    EXPECT_TRUE(Shown.isEmpty()) << Shown.join("|").toStdString();
    S.Form.reset();
    S.Server.reset();
  }
}

// SIGTERM asks nothing: an edited set (the edit tab) and edited boards are
// dropped, and the log names each of them once; nothing unedited is named.
TEST_F(CloseLink, ASignalNamesTheUnsavedWorkItDrops) {
  S.Form->PageControl->setCurrentWidget(S.Form->TabSheetUstav);
  TkvUstavLocalFrame *local = EditedTab(S, "444");
  ASSERT_NE(local, nullptr);
  ASSERT_TRUE(local->IsModified());
  const QString setFile = local->FileName();
  S.Form->NDeviceBoard->trigger();
  auto *boards = S.Form->ActiveFrame<TkvDeviceBoardFrame>();
  ASSERT_NE(boards, nullptr);
  boards->SetModified(true);
  ASSERT_TRUE(S.WaitIdle());

  ::raise(SIGTERM);
  ASSERT_TRUE(QTest::qWaitFor([this] { return !S.Form->isVisible(); }, 10000));
  EXPECT_TRUE(Shown.isEmpty()) << Shown.join("|").toStdString();
  const QStringList dropped = Log().filter("Не сохранено при закрытии: ");
  EXPECT_EQ(dropped, (QStringList{
                         "Не сохранено при закрытии: Редактирование уставок (" + QDir::toNativeSeparators(setFile) + ")",
                         "Не сохранено при закрытии: Функциональные панели (" +
                             QDir::toNativeSeparators(S.Dir.filePath("deviceFrame.xml")) + ")",
                     }))
      << Log().join("\n").toStdString();
}

// A write refused part-way (an exception to its third register) reads back
// what it wrote inside itself: a close pressed during that read-back waits
// for it. "Выход" is then given up, the window stays with the report, and
// the next "Выход" closes as usual; a signal's close goes on.
TEST_F(CloseLink, ACloseDuringTheReadBackAfterAFailedWriteWaitsForIt) {
  const struct {
    const char *Name;
    bool Signal;
  } rows[] = {{"Выход", false}, {"signal", true}};
  for (const auto &r : rows) {
    SCOPED_TRACE(r.Name);
    if (!S.Form)
      ASSERT_NO_FATAL_FAILURE(Open());
    TSimFault refused;
    refused.Kind = TSimFaultKind::Exception;
    refused.Value = 2;
    refused.Function = SIM_FN_WRITE_HOLDING;
    refused.After = 2;
    S.Device.ClearLogs();
    S.Device.SetFault(refused);
    TIOChainList3 &write = S.Form->IOChain()->newList();
    QBuffer &pairs = write.Buffer();
    StreamWritePairs(pairs, {{101, 401}, {102, 402}, {103, 403}, {104, 404}});
    pairs.seek(0);
    bool readBackBegan = false, readBackEnded = false;
    TIOChainList3 &readBack = S.Form->IOChain()->newList();
    QByteArray regs;
    for (uint16_t reg : {101, 102, 103, 104})
      regs.append(char(reg & 0xFF)).append(char(reg >> 8));
    TSimFault slowReads;
    slowReads.Kind = TSimFaultKind::LateAnswer;
    slowReads.Value = 1000;
    slowReads.Function = SIM_FN_READ_HOLDING;
    readBack
        .exec([&] {
          S.Device.SetFault(slowReads);
          readBackBegan = true;
        })
        .readReg(readBack.Buffer(regs), readBack.Buffer())
        .exec([&] { readBackEnded = true; });
    write.writes("набор уставок").writeReg(pairs).afterFailure(readBack);
    write.run();
    ASSERT_TRUE(QTest::qWaitFor([&] { return readBackBegan; }, 10000));
    if (r.Signal)
      ::raise(SIGTERM);
    else
      S.Form->nExit->trigger();
    ASSERT_TRUE(QTest::qWaitFor([this] { return S.Form->WriteWaitBox(); }, 10000));
    EXPECT_FALSE(readBackEnded);
    if (r.Signal) {
      EXPECT_TRUE(QTest::qWaitFor([this] { return !S.Form->isVisible(); }, 20000));
      EXPECT_TRUE(readBackEnded);
      EXPECT_EQ(WindowsLeft(), QStringList());
    } else {
      EXPECT_TRUE(QTest::qWaitFor([this] { return !S.Form->WriteWaitBox(); }, 20000));
      EXPECT_TRUE(readBackEnded);
      EXPECT_TRUE(S.Form->isVisible());
      S.Form->nExit->trigger();
      EXPECT_FALSE(S.Form->isVisible());
    }
    S.Device.SetFault(TSimFault());
    // The third reached the relay and was refused; the fourth never went.
    EXPECT_EQ(RegisterRequests(S.Device), (QStringList{"w 101 401", "w 102 402", "w 103 403"}));
    const QStringList log = Log();
    EXPECT_EQ(log.filter("Запись не завершена: набор уставок: ").size(), 1) << log.join("\n").toStdString();
    EXPECT_EQ(log.filter("Закрытие отменено: запись не завершена: набор уставок").size(), r.Signal ? 0 : 1);
    EXPECT_TRUE(Shown.isEmpty()) << Shown.join("|").toStdString();
    S.Form.reset();
    S.Server.reset();
  }
}

// A signal while "Выход" asks about the changed title panel: the question
// goes as "Отмена" (nothing saved), and the signal's close ends the program
// without asking again, naming the panel in the log.
TEST_F(CloseLink, ASignalDuringTheQuestionsOfVykhodEndsWithoutThem) {
  S.Form->DashboardFrame->SetModified(true);
  QStringList asked;
  const TMessageSink fixture = SetMessageSink([&](TMsgKind, const QString &Text) {
    asked << Text;
    QMessageBox box(QMessageBox::Question, "kv", Text, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel,
                    S.Form.get());
    QTimer::singleShot(0, [] { ::raise(SIGTERM); });
    // Should nothing close it, "Да" comes late: the test then fails on what
    // the log says instead of hanging.
    QTimer::singleShot(10000, &box, [&box] { box.done(QMessageBox::Yes); });
    const int answer = box.exec();
    return answer == QMessageBox::Yes ? TMsgResult::Yes : answer == QMessageBox::No ? TMsgResult::No : TMsgResult::Cancel;
  });
  S.Form->nExit->trigger();
  EXPECT_TRUE(QTest::qWaitFor([this] { return !S.Form->isVisible(); }, 20000));
  SetMessageSink(fixture);
  EXPECT_EQ(asked.size(), 1) << asked.join("|").toStdString();
  const QStringList log = Log();
  EXPECT_EQ(log.filter("Закрытие программы закрыло окно как «Отмена»: Изменения титульной панел").size(), 1)
      << log.join("\n").toStdString();
  EXPECT_EQ(log.filter(QRegularExpression("^Не сохранено при закрытии: Текущие значения")).size(), 1);
  EXPECT_EQ(WindowsLeft(), QStringList());
}
