#include "uMainForm.h"
#include "uDialogSinks.h"
#include "uFileDialogSink.h"
#include "uPrintDialog.h"
#include "uReportDocument.h"

#include "uAppIniFile.h"
#include "uAboutBox.h"
#include "uDashboardFrame.h"
#include "uEventFrame.h"
#include "uSimpleDeviceDescriptor.h"
#include "uLogFrame.h"
#include "uLogger.h"
#include "uMessageSink.h"
#include "uModbusFrame.h"
#include "uModbusTools.h"
#include "uDeviceIO.h"
#include "uIOChain3.h"
#include "uStringGrid.h"
#include "oi.h"
#include "uMultiLingual.h"
#include "uPasswdForm.h"
#include "uPlacement.h"
#include "uFiles.h"
#include "uTextCodec.h"
#include "../oscview/oscRecords.h"
#include "uVersionInfo.h"

#include <QCoreApplication>
#include <QTest>
#include <QMessageBox>
#include <QApplication>
#include <cstdio>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>
#include <QAction>
#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAccessible>
#include <QPersistentModelIndex>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <gtest/gtest.h>

namespace {
struct TShownMessage {
  TMsgKind Kind;
  QString Text;
};

class MainFormTest : public ::testing::Test {
protected:
  void SetUp() override {
    FOldCurrent = QDir::currentPath();
    RegUseStoreFile(FDir.filePath("user.conf"));
    MultiLingual() = TMultiLingual();
    MultiLingual().Load(QString(KV_SOURCE_DIR) + "/src/resources");
    FOldSink = SetMessageSink([this](TMsgKind Kind, const QString &Text) {
      Shown.push_back({Kind, Text});
      return Answer;
    });
  }
  void TearDown() override {
    SetMessageSink(FOldSink);
    QDir::setCurrent(FOldCurrent);
  }

  // A main window of a program lying in the temporary folder, with Ini as its settings file.
  std::unique_ptr<TMainForm> Make(const QString &Ini, const QString &IniName = "kv.ini") {
    const QString path = FDir.filePath(IniName);
    SaveFileBytes(path, ToWin1251(Ini));
    FInis.push_back(std::make_unique<TAppIniFile>(path));
    return std::make_unique<TMainForm>(*FInis.back(), FDir.path() + "/");
  }

  QTemporaryDir FDir;
  std::vector<TShownMessage> Shown;
  TMsgResult Answer = TMsgResult::Ok;

private:
  QString FOldCurrent;
  TMessageSink FOldSink;
  std::vector<std::unique_ptr<TAppIniFile>> FInis;
};

QStringList TabTexts(const TMainForm &W) {
  QStringList t;
  for (int i = 0; i < W.PageControl->count(); ++i)
    t << W.PageControl->tabText(i);
  return t;
}

bool HasCyrillic(const QString &S) {
  for (QChar c : S)
    if (c.unicode() >= 0x400 && c.unicode() <= 0x4FF)
      return true;
  return false;
}
} // namespace

TEST_F(MainFormTest, StartsWithTheFixedPagesCaptionsAndDefaults) {
  auto w = Make("");
  ASSERT_TRUE(w->FormShow());
  EXPECT_EQ(w->windowTitle(), "Вартон 2.2.0.0");
  EXPECT_EQ(TabTexts(*w), (QStringList{"Текущие значения", "Параметры", "Уставки", "Журнал событий", "Осциллограммы"}));
  EXPECT_EQ(w->PageControl->currentIndex(), 0);
  EXPECT_TRUE(w->Forms().PasswdForm->HasValidator());
  EXPECT_TRUE(w->Timer->isActive());
  EXPECT_EQ(w->Timer->interval(), 2000);
  EXPECT_EQ(w->ToolBarColor(), uint32_t(clLinkError));
  EXPECT_EQ(w->AutoPoll(), 2);
  EXPECT_EQ(w->GetTempFolder(), FDir.path() + "/");
  EXPECT_EQ(QDir::currentPath(), FDir.path());
  for (const char *made : {"locker.txt", "cache", "osc"})
    EXPECT_TRUE(QFileInfo::exists(FDir.filePath(made))) << made;

  // Items hidden by design.
  for (QAction *a : {w->N6, w->miParam, w->N3, w->aoGetList})
    EXPECT_FALSE(a->isVisible()) << a->objectName().toStdString();
  const QList<QAction *> rates = w->NBaudrate->actions();
  ASSERT_EQ(rates.size(), 1);
  EXPECT_EQ(rates[0]->text(), "38400");
  EXPECT_TRUE(rates[0]->isChecked());
  EXPECT_TRUE(w->NPort->isEnabled() && w->NBaudrate->isEnabled());
}

TEST_F(MainFormTest, MenuAndLabelVisibilityFollowTheSettings) {
  struct Row {
    const char *Ini;
    const char *Visible; // names expected visible among the switchable items
  };
  const Row rows[] = {
      {"", ""},
      // The tools keys decide the custom logic and device board items.
      {"[setup]\ncustom=5\ndeviceBoard=1\n", ""},
      {"[setup]\ncustom=-1\n[tools]\ncustomLogic=1\ndeviceBoard=1\n", "NCustomLogic NDeviceBoard"},
      {"[setup]\nextControl=1\n", "miControl"},
      {"[tools]\nmodbus=1\nlog=1\neventReport=1\neventExport=1\n", "miModbus miLog NEventReport nEventExport"},
      {"[tools]\nMMSConfigForm=1\nModbusTcpForm=1\nAgentClientForm=1\n", "nMMSConfig nModbusTcp nAgentClient"},
      {"[dashboard]\ndeviceType=1\ncoreDate=1\n", "LabelDeviceType LabelCore LabelCoreID"},
      {"[dashboard]\ndescDate=1\n", "LabelDesc LabelDescID"},
  };
  for (const Row &r : rows) {
    auto w = Make(QString::fromUtf8(r.Ini));
    ASSERT_TRUE(w->FormShow()) << r.Ini;
    const QStringList expected = QString(r.Visible).split(' ', Qt::SkipEmptyParts);
    const QList<QAction *> actions = {w->NCustomLogic, w->NDeviceBoard, w->miControl,  w->miModbus,   w->miLog,
                                      w->NEventReport, w->nEventExport, w->nMMSConfig, w->nModbusTcp, w->nAgentClient};
    for (QAction *a : actions)
      EXPECT_EQ(a->isVisible(), expected.contains(a->objectName())) << r.Ini << " " << a->objectName().toStdString();
    for (QLabel *l : {w->LabelDeviceType, w->LabelCore, w->LabelCoreID, w->LabelDesc, w->LabelDescID})
      EXPECT_EQ(!l->isHidden(), expected.contains(l->objectName())) << r.Ini << " " << l->objectName().toStdString();
    ASSERT_TRUE(w->close());
  }
}

// A settings file as a Linux editor saves it: UTF-8 without a byte-order mark.
TEST_F(MainFormTest, Utf8SettingsFileWithACyrillicWorkFolderWorksThere) {
  const QString work = FDir.filePath(QString::fromUtf8("Рабочая папка"));
  SaveFileBytes(FDir.filePath("kv.ini"), "[setup]\ntemp=" + work.toUtf8() + "\n");
  const TAppIniFile ini(FDir.filePath("kv.ini"));
  TMainForm w(ini, FDir.path() + "/");
  ASSERT_TRUE(w.FormShow());
  EXPECT_EQ(QDir::currentPath(), work);
  EXPECT_TRUE(QFileInfo::exists(work + "/locker.txt"));
  EXPECT_TRUE(w.close());
}

TEST_F(MainFormTest, SecondCopyOnTheSameWorkFolderStopsBeforeWritingThere) {
  const QString log = FDir.filePath("kv.log");
  auto first = Make("[setup]\ntemp=work\n");
  first->SetLogFile(log);
  ASSERT_TRUE(first->FormShow());
  const QStringList before = QDir(FDir.filePath("work")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
  EXPECT_TRUE(before.contains("locker.txt"));

  auto second = Make("[setup]\ntemp=work\n");
  second->SetLogFile(log);
  EXPECT_FALSE(second->FormShow());
  ASSERT_EQ(Shown.size(), 1u);
  EXPECT_EQ(Shown[0].Text, "файл занят: locker.txt");
  EXPECT_FALSE(second->Timer->isActive());
  EXPECT_EQ(QDir(FDir.filePath("work")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);

  // A copy with another work folder runs.
  auto third = Make("[setup]\ntemp=other\n", "other.ini");
  EXPECT_TRUE(third->FormShow());
  EXPECT_EQ(Shown.size(), 1u);
  // The log keeps the running copy's lines before and after the refusal,
  // and no session of the copy that ended.
  ASSERT_TRUE(first->close());
  const QString text = QString::fromUtf8(LoadFileBytes(log));
  EXPECT_EQ(text.count("Application started"), 1);
  EXPECT_EQ(text.count(" ERROR файл занят: locker.txt"), 1);
  EXPECT_EQ(text.count("Application stopped"), 1);
  EXPECT_TRUE(text.endsWith(" INFO Application stopped\r\n"));
}

TEST_F(MainFormTest, PreviousRunLogsAreKeptAsOneEarlierGeneration) {
  const QString work = FDir.filePath("work");
  ASSERT_TRUE(QDir().mkpath(work));
  // The worker's transport is the next one made in this process, its trace
  // named with the next instance number (the program makes only the one).
  const QString made = TOI::DefaultTraceFileName();
  const int instance = QRegularExpression(R"(\.trc(\d*)$)").match(made).captured(1).toInt();
  const QString trace = QFileInfo(ProgramFilePath()).completeBaseName() + ".trc" + QString::number(instance + 1);
  const struct {
    QString Path;
    QByteArray Previous;
  } logs[] = {{FDir.filePath("kv.log"), "the crashed run's log\r\n"},
              {QDir(work).filePath("debug.log"), "the crashed run's exchanges"},
              {QDir(work).filePath(trace), "the crashed run's frames"}};
  for (const auto &l : logs) {
    SaveFileBytes(l.Path + ".1", "a generation older still");
    SaveFileBytes(l.Path, l.Previous);
  }
  auto w = Make("[setup]\ntemp=work\n");
  w->SetLogFile(FDir.filePath("kv.log"));
  ASSERT_TRUE(w->FormShow());
  // A second copy refused by the lock leaves the running copy's logs alone.
  auto second = Make("[setup]\ntemp=work\n");
  second->SetLogFile(FDir.filePath("kv.log"));
  EXPECT_FALSE(second->FormShow());
  for (const auto &l : logs) {
    EXPECT_EQ(LoadFileBytes(l.Path + ".1"), l.Previous) << l.Path.toStdString();
    EXPECT_EQ(LoadFileBytes(l.Path + ".2"), "a generation older still") << l.Path.toStdString();
  }
  EXPECT_TRUE(w->close());
  const QByteArray log = LoadFileBytes(FDir.filePath("kv.log"));
  EXPECT_TRUE(log.contains("Application stopped") && !log.contains("crashed")) << log.toStdString();
}

// A log that cannot be opened (its name taken by a folder) or that refuses
// its lines (a full disk): one box and the status line in the interface's
// language, the poll timer runs on, and the exit report goes to stderr.
TEST_F(MainFormTest, ALogThatCannotBeWrittenIsShownOnceAndThePollingGoesOn) {
  ASSERT_TRUE(QDir(FDir.path()).mkdir("kv.log"));
  const struct {
    QString Log, Reason;
  } rows[] = {{FDir.filePath("kv.log"), "Is a directory"}, {"/dev/full", "No space left on device"}};
  for (const auto &r : rows) {
    SCOPED_TRACE(r.Log.toStdString());
    Shown.clear();
    auto w = Make("[setup]\nlang=EN\n");
    w->SetLogFile(r.Log);
    ASSERT_TRUE(w->FormShow());
    Logger().Info("more lines");
    const QString text = "Cannot write " + r.Log + ": " + r.Reason;
    EXPECT_TRUE(QTest::qWaitFor([&] { return !Shown.empty(); }, 10000));
    QTest::qWait(50);
    ASSERT_EQ(Shown.size(), 1u);
    EXPECT_EQ(Shown[0].Kind, TMsgKind::Error);
    EXPECT_EQ(Shown[0].Text, text);
    EXPECT_EQ(w->StatusBar_->currentMessage(), text);
    EXPECT_TRUE(w->Timer->isActive());

    const QString err = FDir.filePath("stderr.txt");
    std::fflush(stderr);
    const int saved = dup(STDERR_FILENO);
    const int fd = open(QFile::encodeName(err).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, STDERR_FILENO);
    EXPECT_TRUE(w->close());
    std::fflush(stderr);
    dup2(saved, STDERR_FILENO);
    ::close(fd);
    ::close(saved);
    EXPECT_TRUE(LoadFileBytes(err).contains(text.toUtf8())) << LoadFileBytes(err).constData();
  }
}

TEST_F(MainFormTest, ShortOscillogramOpensWithBothCountsInTheStatusLine) {
  WritePair(FDir.filePath("r"), std::vector<int>(100, 5));
  const QByteArray dat = LoadFileBytes(FDir.filePath("r.dat"));
  SaveFileBytes(FDir.filePath("r.dat"), dat.left(dat.indexOf("\n51,") + 1));
  TOpener opener;
  auto w = Make("");
  ASSERT_TRUE(w->FormShow());
  w->OpenOscTab(FDir.filePath("r.dat"));
  EXPECT_EQ(w->StatusBar_->currentMessage(), FDir.filePath("r.dat") + ": строк данных 50, объявлено 100");
  EXPECT_TRUE(w->close());
}

TEST_F(MainFormTest, StatusAndProgressSetTheToolBarColour) {
  auto w = Make("");
  ASSERT_TRUE(w->FormShow());
  w->ShowProgress(10, 10);
  EXPECT_EQ(w->ToolBarColor(), uint32_t(clLinkDone));
  w->ShowStatus("Чтение дескриптора");
  EXPECT_EQ(w->StatusBar_->currentMessage(), "Чтение дескриптора");
  EXPECT_EQ(w->ToolBarColor(), uint32_t(clLinkDone));
  w->ShowStatus("Ошибка связи с устройством");
  EXPECT_EQ(w->ToolBarColor(), uint32_t(clLinkError));

  w->ShowProgress(1, 10);
  EXPECT_EQ(w->ToolBarColor(), uint32_t(clLinkBusy));
  EXPECT_FALSE(w->ProgressBar->isHidden());
  EXPECT_EQ(w->ProgressBar->maximum(), 10);
  EXPECT_EQ(w->ProgressBar->value(), 1);
  w->ShowProgress(5, 10, 0x123456);
  EXPECT_EQ(w->ToolBarColor(), 0x123456u);
  w->ShowProgress(11, 10);
  EXPECT_EQ(w->ToolBarColor(), uint32_t(clLinkDone));
  EXPECT_TRUE(w->ProgressBar->isHidden());
}

TEST_F(MainFormTest, ProgressMovesTheBarWhenItsPercentMovesAtMostEvery50ms) {
  auto w = Make("");
  ASSERT_TRUE(w->FormShow());
  const QDateTime t0(QDate(2026, 5, 4), QTime(12, 0, 0));
  QDateTime now = t0;
  w->SetClock([&] { return now; });
  // A style sheet set anew shows as this mark being replaced.
  const QString mark = "/* as left */";
  struct Row {
    int Ms, Position, Max;
    uint32_t Color;
    int Value, MaxShown; // the bar afterwards; Value -1: hidden
  };
  const Row rows[] = {
      {0, 1, 1000, 0, 1, 1000},        // a hidden bar shows at once
      {10, 100, 1000, 0, 1, 1000},     // 10 % but within 50 ms
      {60, 101, 1000, 0, 101, 1000},   // 50 ms on: moves
      {200, 109, 1000, 0, 101, 1000},  // still 10 %: stays
      {200, 110, 1000, 0, 110, 1000},  // 11 %
      {201, 3, 20, 0, 3, 20},          // another maximum shows at once
      {202, 20, 20, 0, -1, 20},        // done: hidden
      {203, 1, 20, 0x123456, 1, 20},   // the next transfer shows at once
      {204, 19, 20, 0x123456, 1, 20},  // within 50 ms
      {150, 19, 20, 0x123456, 19, 20}, // the clock went back: moves
  };
  w->ShowProgress(1000, 1000); // the bars have their colour, the bar is hidden
  uint32_t color = w->ToolBarColor();
  for (const Row &r : rows) {
    now = t0.addMSecs(r.Ms);
    for (QToolBar *bar : {w->ToolBar, w->ToolBar2})
      bar->setStyleSheet(mark);
    w->ShowProgress(r.Position, r.Max, r.Color);
    const uint32_t expected = r.Value < 0 ? clLinkDone : r.Color != 0 ? r.Color : clLinkBusy;
    // The style sheets are set only when the colour changes.
    for (QToolBar *bar : {w->ToolBar, w->ToolBar2})
      EXPECT_EQ(bar->styleSheet() == mark, expected == color) << r.Ms;
    color = expected;
    EXPECT_EQ(w->ProgressBar->isHidden(), r.Value < 0) << r.Ms;
    if (r.Value >= 0)
      EXPECT_EQ(w->ProgressBar->value(), r.Value) << r.Ms;
    EXPECT_EQ(w->ProgressBar->maximum(), r.MaxShown) << r.Ms;
    EXPECT_EQ(w->ToolBarColor(), expected) << r.Ms;
  }
}

// A move held back by the 50 ms is shown at their end, though no update
// follows (the link stalls in repeats); one of a transfer that has ended is not.
TEST_F(MainFormTest, AProgressMoveHeldBackIsShownAtTheEndOfItsFiftyMs) {
  auto w = Make("");
  ASSERT_TRUE(w->FormShow());
  const QDateTime t0(QDate(2026, 5, 4), QTime(12, 0, 0));
  QDateTime now = t0;
  w->SetClock([&] { return now; });
  w->ShowProgress(1, 1000);
  now = t0.addMSecs(10);
  w->ShowProgress(380, 1000);
  EXPECT_EQ(w->ProgressBar->value(), 1);
  EXPECT_TRUE(QTest::qWaitFor([&] { return w->ProgressBar->value() == 380; }, 10000));
  now = t0.addMSecs(20);
  w->ShowProgress(500, 1000);
  w->ShowProgress(1000, 1000);
  QTest::qWait(200);
  EXPECT_TRUE(w->ProgressBar->isHidden());
  EXPECT_EQ(w->ProgressBar->value(), 380);
}

// The program's message boxes carry the main window's caption, whichever of
// its windows is active.
TEST_F(MainFormTest, MessageBoxesAreTitledAsTheMainWindow) {
  auto w = Make("");
  ASSERT_TRUE(w->FormShow());
  w->show();
  ASSERT_TRUE(w->windowTitle().startsWith("Вартон"));
  const TMessageSink test = SetMessageSink({});
  const TFileDialogSink files = SetFileDialogSink({});
  const TPrintDialogOpener printer = SetPrintDialogOpener({});
  const TReportPreviewHook preview = SetReportPreviewHook({});
  InstallDialogSinks();
  QStringList titles;
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [&] {
    if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
      titles << box->windowTitle();
      box->done(QMessageBox::No);
    }
  });
  closer.start(10);
  ShowErrorText("Ошибка связи с устройством");
  ShowMessageText("Отчет сохранен");
  QDialog other(w.get());
  other.setWindowTitle("Конфигурация MMS");
  other.show();
  other.activateWindow();
  ShowMessageBox(TMsgKind::Question, "Сохранить?");
  other.hide();
  closer.stop();
  SetMessageSink(test);
  SetFileDialogSink(files);
  SetPrintDialogOpener(printer);
  SetReportPreviewHook(preview);
  EXPECT_EQ(titles, QStringList(3, w->windowTitle()));
}

TEST_F(MainFormTest, TimerStartsIdentificationOnlyWhenPollingIsOn) {
  struct Row {
    const char *Ini;
    uint8_t AutoPoll;
    int Expected;
  };
  const Row rows[] = {{"", 2, 1}, {"", 1, 1}, {"", 0, 0}, {"[debug]\npoll=0\n", 2, 0}};
  for (const Row &r : rows) {
    auto w = Make(r.Ini);
    ASSERT_TRUE(w->FormShow());
    int polls = 0;
    QObject::connect(w->aMonitorPoll, &QAction::triggered, [&] { ++polls; });
    w->SetAutoPoll(r.AutoPoll);
    w->TimerTimer();
    EXPECT_EQ(polls, r.Expected) << r.Ini << int(r.AutoPoll);
    ASSERT_TRUE(w->close());
  }
}

TEST_F(MainFormTest, PasswordEntryLapsesAtThePeriodEvenBetweenTwoTicks) {
  auto w = Make("[setup]\npasswdExpirationPeriod=300\n");
  ASSERT_TRUE(w->FormShow());
  const QDateTime t(QDate(2026, 5, 4), QTime(12, 0, 0));
  QDateTime now = t;
  w->SetClock([&] { return now; });
  w->SetLoggedIn(true);
  now = t.addMSecs(299'900);
  w->TimerTimer();
  EXPECT_TRUE(w->IsLoggedIn());
  now = t.addSecs(300);
  EXPECT_FALSE(w->IsLoggedIn());
}

TEST_F(MainFormTest, WithoutAPeriodAnEntryGrantsOneWriteThenLapses) {
  for (const char *period : {"0", "-5"}) {
    SCOPED_TRACE(period);
    auto w = Make(QString("[setup]\npasswdExpirationPeriod=%1\n").arg(period));
    ASSERT_TRUE(w->FormShow());
    EXPECT_FALSE(w->IsLoggedIn());
    w->SetLoggedIn(true);
    w->TimerTimer();
    EXPECT_TRUE(w->IsLoggedIn()) << "the write the password was asked for goes";
    EXPECT_FALSE(w->IsLoggedIn()) << "the next write asks again";
    ASSERT_TRUE(w->close());
  }
}

TEST_F(MainFormTest, CloseAsksAboutAChangedTitlePanelBeforeAnythingStops) {
  {
    auto unchanged = Make("");
    ASSERT_TRUE(unchanged->FormShow());
    EXPECT_TRUE(unchanged->close());
    EXPECT_TRUE(Shown.empty()) << "no question when nothing changed";
  }
  auto w = Make("");
  ASSERT_TRUE(w->FormShow());
  w->DashboardFrame->SetModified(true);

  Answer = TMsgResult::Cancel;
  EXPECT_FALSE(w->close());
  ASSERT_EQ(Shown.size(), 1u);
  EXPECT_EQ(Shown[0].Kind, TMsgKind::Question);
  EXPECT_EQ(Shown[0].Text, "Изменения титульной панелм не сохранены, сохранить?");
  // Cancel leaves the program working: the timer runs and the folder stays locked.
  EXPECT_TRUE(w->Timer->isActive());
  TLockFile probe;
  EXPECT_FALSE(probe.Take(FDir.filePath("locker.txt")));

  Answer = TMsgResult::Yes;
  EXPECT_TRUE(w->close());
  EXPECT_FALSE(w->DashboardFrame->IsModified()); // saved to its current file
  EXPECT_FALSE(w->Timer->isActive());
  EXPECT_TRUE(probe.Take(FDir.filePath("locker.txt")));
}

TEST_F(MainFormTest, WindowBoundsAreStoredAtCloseAndRestoredAtStart) {
  {
    auto w = Make("");
    ASSERT_TRUE(w->FormShow());
    // Bounds the offscreen screen holds whole: they come back as they were.
    w->setGeometry(QRect(30, 40, 700, 500));
    ASSERT_TRUE(w->close());
  }
  EXPECT_EQ(RegReadString("MainForm", "left", ""), "30");
  EXPECT_EQ(RegReadString("MainForm", "height", ""), "500");
  auto w = Make("");
  ASSERT_TRUE(w->FormShow());
  EXPECT_EQ(w->geometry(), QRect(30, 40, 700, 500));
}

TEST_F(MainFormTest, OneLanguageOnMenusQtButtonsAndTheAboutBox) {
  SetBuildTime(QDateTime(QDate(2024, 2, 29), QTime(23, 59, 58)));
  const struct {
    const char *Code;
    int Index;
    const char *Cancel, *Build, *Version;
  } cases[] = {
      {"RU", lnRussian, "Отмена", "Сборка: 2024-02-29 23:59:58", "Версия: 2.2.0.0"},
      {"UA", lnUkrainian, "Скасувати", "Збірка: 2024-02-29 23:59:58", "Версія: 2.2.0.0"},
      {"EN", lnEnglish, "Cancel", "Build: 2024-02-29 23:59:58", "Version: 2.2.0.0"},
  };
  const auto check = [](TMainForm &W, const auto &C) {
    // The menu ticks the language in use, from the start.
    EXPECT_EQ(W.NRussian->isChecked(), C.Index == lnRussian) << C.Code;
    EXPECT_EQ(W.NUkrainian->isChecked(), C.Index == lnUkrainian) << C.Code;
    EXPECT_EQ(W.NEnglish->isChecked(), C.Index == lnEnglish) << C.Code;
    // Qt's own buttons (message boxes, file and print dialogs) follow.
    QDialogButtonBox box(QDialogButtonBox::Cancel);
    EXPECT_EQ(box.button(QDialogButtonBox::Cancel)->text(), QString::fromUtf8(C.Cancel)) << C.Code;
    TAboutBox &about = *W.Forms().AboutBox;
    about.show();
    EXPECT_EQ(about.Build->text(), QString::fromUtf8(C.Build)) << C.Code;
    EXPECT_EQ(about.Version->text(), QString::fromUtf8(C.Version)) << C.Code;
    about.hide();
  };
  for (const auto &c : cases) {
    auto w = Make(QString("[setup]\nlang=%1\n").arg(c.Code));
    ASSERT_TRUE(w->FormShow());
    check(*w, c);
  }
  // Switching by the menu: Russian, Ukrainian, then English.
  auto w = Make("");
  ASSERT_TRUE(w->FormShow());
  for (int i : {0, 1, 2}) {
    w->SetLanguage(cases[i].Index);
    check(*w, cases[i]);
  }
  SetBuildTime({});
}

TEST_F(MainFormTest, LanguageSwitchesTranslateFromTheLastLanguage) {
  auto w = Make("[setup]\nlang=EN\n");
  ASSERT_TRUE(w->FormShow());
  EXPECT_EQ(TabTexts(*w)[0], "Current values");
  EXPECT_EQ(w->aMonitorPoll->text(), "Poll");
  EXPECT_EQ(w->NDevice->title(), "Device");
  w->SetLanguage(lnUkrainian);
  EXPECT_EQ(TabTexts(*w)[0], "Поточні значення");
  EXPECT_EQ(w->aMonitorPoll->text(), "Опитування");
  EXPECT_EQ(w->Forms().AboutBox->windowTitle(), "Про програму");
  w->SetLanguage(lnRussian);
  EXPECT_EQ(TabTexts(*w)[4], "Осциллограммы");
  EXPECT_EQ(w->cbPrimVal->text(), "Первичные значения");
}

TEST_F(MainFormTest, ShippedTableCoversEveryTextOfTheForms) {
  auto w = Make("");
  ASSERT_TRUE(w->FormShow());
  QStringList texts = TabTexts(*w);
  for (QAction *a : w->findChildren<QAction *>())
    texts << a->text();
  for (QMenu *m : w->findChildren<QMenu *>())
    texts << m->title();
  for (QLabel *l : w->findChildren<QLabel *>())
    texts << l->text();
  for (QCheckBox *c : w->findChildren<QCheckBox *>())
    texts << c->text();
  for (QDialog *d : w->Forms().InOrder)
    texts << d->windowTitle();
  texts << "Журнал"
        << "Очистить"
        << "файл занят: locker.txt"
        << "Изменения титульной панелм не сохранены, сохранить?";
  MultiLingual().SetTargetLanguage(lnEnglish);
  // Language names stay in their own language; the logo comes from the
  // settings, version and build texts are made at run time.
  const QStringList own = {"Русский", "Український", "ВАРНОК"};
  QStringList missing;
  for (const QString &t : texts)
    if (HasCyrillic(t) && !own.contains(t) && !t.startsWith("Версия: ") && !t.startsWith("Сборка: ") &&
        MultiLingual().Translate(t) == t)
      missing << t;
  MultiLingual().SetTargetLanguage(lnRussian);
  EXPECT_TRUE(missing.isEmpty()) << missing.join(" | ").toStdString();
}

TEST_F(MainFormTest, LogTabOpensOnceAndFixedPagesDoNotClose) {
  auto w = Make("[tools]\nlog=1\n");
  ASSERT_TRUE(w->FormShow());
  w->PageControl->setCurrentIndex(1);
  w->CloseActiveTab();
  EXPECT_EQ(w->PageControl->count(), 5);

  w->miLog->trigger();
  w->miLog->trigger();
  ASSERT_EQ(w->PageControl->count(), 6);
  EXPECT_EQ(w->PageControl->tabText(5), "Журнал      ");
  TTabSheet *log = w->FindTabByTag(-2);
  ASSERT_NE(log, nullptr);
  EXPECT_EQ(w->PageControl->currentWidget(), log);
  EXPECT_TRUE(log->findChild<TkvLogFrame *>()->objectName().startsWith("Frame"));
  EXPECT_NE(w->PageControlHelper->CloseButton(log), nullptr);
  w->atabClose->trigger();
  EXPECT_EQ(w->PageControl->count(), 5);
  EXPECT_EQ(w->FindTabByTag(-2), nullptr);
}

TEST_F(MainFormTest, UnwritableProgramFolderIsReportedInStatusAndLog) {
  // A file where the folder "cache" should be: the folder cannot be made.
  SaveFileBytes(FDir.filePath("cache"), {});
  auto w = Make("");
  const QString expected = "Папка недоступна для записи: " + FDir.filePath("cache") + ": Not a directory";
  EXPECT_EQ(w->StatusBar_->currentMessage(), expected);
  EXPECT_TRUE(Logger().Lines().last().endsWith("ERROR " + expected));
}

TEST_F(MainFormTest, ModbusTcpReachesTheWorkerAndDisablesThePortMenus) {
  auto w = Make("[setup]\nprotocol=modbustcp\n[modbustcp]\nhost=127.0.0.1\nport=1502\n"
                "[com]\nbaudratelist=9600,38400,115200\n");
  ASSERT_TRUE(w->FormShow());
  ASSERT_NE(w->DeviceThread(), nullptr);
  TOI &oi = w->DeviceThread()->DeviceIO().GetOI();
  EXPECT_FALSE(w->NPort->isEnabled());
  EXPECT_FALSE(w->NBaudrate->isEnabled());
  QStringList checked;
  for (QAction *a : w->NBaudrate->actions())
    if (a->isChecked())
      checked << a->text();
  EXPECT_EQ(w->NBaudrate->actions().size(), 3);
  // The item of the port's own rate (38400 unless the program's settings say otherwise).
  EXPECT_EQ(checked, QStringList{QString::number(oi.GetComPort().GetBaudRate())});
  EXPECT_EQ(oi.GetProtocol(), TOI::prModbusTcp);
  EXPECT_EQ(w->IOChain()->DeviceFront(), w->DeviceTool());
}

// The ini's com/port wins over the port remembered per user, and only a port
// that was opened is remembered.
TEST_F(MainFormTest, SerialPortComesFromTheIniAndIsRememberedOnlyOnceOpened) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  const QString pty = QString::fromLocal8Bit(::ptsname(master));
  const struct {
    const char *Ini;
    const char *Stored;
    bool Open;
    QString Used, StoredAfter;
  } cases[] = {
      {"", "ttyS7", false, "ttyS7", "ttyS7"},
      {"[com]\nport=ttyUSB0\n", "COM1", false, "ttyUSB0", "COM1"},
      {"[com]\nport=ttyUSB0\n", "", false, "ttyUSB0", ""},
      {"", "", true, pty, pty},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Ini + std::string(" / ") + c.Stored);
    RegWriteString("", KV_REG_COM_PORT, c.Stored);
    auto w = Make(c.Ini);
    ASSERT_TRUE(w->FormShow());
    TComPort &port = w->DeviceThread()->DeviceIO().GetOI().GetComPort();
    if (c.Open) {
      port.SetPortName(pty);
      EXPECT_TRUE(port.Open());
    }
    EXPECT_EQ(port.GetPortName(), c.Used);
    ASSERT_TRUE(w->close());
    EXPECT_EQ(RegReadString("", KV_REG_COM_PORT, ""), c.StoredAfter);
  }
  ::close(master);
}

TEST_F(MainFormTest, ModbusPaneOpensOnceFilledFromTheRegisterImage) {
  auto w = Make("[tools]\nmodbus=1\n");
  ASSERT_TRUE(w->FormShow());
  // Without a device the command is off; the pane itself opens once.
  EXPECT_FALSE(w->miModbus->isEnabled());
  w->OpenModbusTab();
  w->OpenModbusTab();
  ASSERT_EQ(w->PageControl->count(), 6);
  EXPECT_EQ(w->PageControl->tabText(5), "Modbus      ");
  TTabSheet *sheet = w->FindTabByTag(-5);
  ASSERT_NE(sheet, nullptr);
  auto *frame = sheet->findChild<TkvModbusFrame *>();
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(frame->sgModbus->Cells(0, 64), "03F0");
}

TEST_F(MainFormTest, DebugDescriptorIsLoadedWithoutADevice) {
  SaveFileBytes(FDir.filePath("desc.xml"),
                "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\r\n"
                "<device-descriptor><internal><calibr-addr>100</calibr-addr></internal></device-descriptor>\r\n");
  // A relative name is found in the work folder, the current folder at that point.
  auto w = Make("[debug]\nloadDesc=desc.xml\n");
  ASSERT_TRUE(w->FormShow());
  EXPECT_TRUE(w->IsDeviceReady());
  EXPECT_EQ(w->DashboardFrame->Descriptor(), w->Descriptor());
  EXPECT_EQ(w->EventFrame->Descriptor(), w->Descriptor()->Root);
  int polls = 0;
  QObject::connect(w->aMonitorPoll, &QAction::triggered, [&] { ++polls; });
  w->TimerTimer();
  EXPECT_EQ(polls, 0); // a device is there: the timer does not identify
}

TEST_F(MainFormTest, ProgressReportRunsNoQueuedEvent) {
  auto w = Make("");
  ASSERT_TRUE(w->FormShow());
  int polls = 0;
  QObject::connect(w->aMonitorPoll, &QAction::triggered, [&] { ++polls; });
  // A tick (or a device answer) waiting in the queue must not run inside the
  // report: the report comes from within another answer of a running chain.
  bool ran = false;
  QMetaObject::invokeMethod(
      w.get(),
      [&] {
        ran = true;
        w->TimerTimer();
      },
      Qt::QueuedConnection);
  w->ShowProgress(1, 10);
  EXPECT_FALSE(ran);
  EXPECT_TRUE(w->ProgressBar->isVisibleTo(w.get()));
  QCoreApplication::processEvents();
  EXPECT_TRUE(ran);
  EXPECT_EQ(polls, 1);
}

// Notes added on an oscillogram are asked about when its tab closes (its button
// or the menu) and on "Выход": "Отмена" keeps the tab and the program, "Да"
// writes them.
TEST_F(MainFormTest, UnsavedNotesAskOnTabCloseAndOnExit) {
  WritePair(FDir.filePath("r"), std::vector<int>(200, 5));
  TOpener opener;
  auto w = Make("");
  ASSERT_TRUE(w->FormShow());
  w->resize(1000, 700);
  w->show();
  const QString dat = FDir.filePath("r.dat");
  const auto addNote = [&](int X) {
    w->OpenOscTab(dat);
    TkvOscFrame *f = w->ActiveOscFrame();
    f->PaintBoxPaint();
    QTest::mouseClick(f->PaintBox, Qt::LeftButton, Qt::ControlModifier, QPoint(X, f->Drawers()[0]->CenterY));
    EXPECT_TRUE(f->HasUnsavedNotes());
    return w->PageControl->currentWidget();
  };
  const auto storedNotes = [&] {
    const QByteArray side = LoadFileBytes(FDir.filePath("r.xml"));
    return side.count("<note ");
  };
  const QString question = "Заметки осциллограммы " + dat + " не сохранены, сохранить?";

  QWidget *sheet = addNote(50);
  Answer = TMsgResult::Cancel;
  QTest::mouseClick(w->PageControlHelper->CloseButton(sheet), Qt::LeftButton);
  ASSERT_EQ(Shown.size(), 1u);
  EXPECT_EQ(Shown[0].Text, question);
  EXPECT_GE(w->PageControl->indexOf(sheet), 0);
  Answer = TMsgResult::Yes;
  w->CloseActiveTab();
  EXPECT_EQ(Shown.size(), 2u);
  EXPECT_EQ(w->PageControl->indexOf(sheet), -1);
  EXPECT_EQ(storedNotes(), 1);

  sheet = addNote(300);
  Answer = TMsgResult::Cancel;
  w->nExit->trigger();
  EXPECT_EQ(Shown.size(), 3u);
  EXPECT_TRUE(w->isVisible());
  EXPECT_TRUE(w->Timer->isActive());
  EXPECT_GE(w->PageControl->indexOf(sheet), 0);
  EXPECT_EQ(storedNotes(), 1);
  Answer = TMsgResult::Yes;
  w->nExit->trigger();
  ASSERT_EQ(Shown.size(), 4u);
  EXPECT_EQ(Shown[3].Text, question);
  EXPECT_FALSE(w->isVisible());
  EXPECT_EQ(storedNotes(), 2);
}

// A screen reader's cells of a grid each hold a persistent index of its
// model. Let go one by one as the window goes, each costs a search as long as
// the table, and "Выход" took a minute with a spreadsheet tab open: every
// grid of every tab kind empties its model in one reset before it goes.
TEST_F(MainFormTest, EveryTabsGridsLetGoOfTheScreenReadersCellsAtExit) {
  WritePair(FDir.filePath("r"), std::vector<int>(100, 5));
  TOpener opener;
  auto w = Make("[tools]\nmodbus=1\n");
  ASSERT_TRUE(w->FormShow());
  const struct {
    const char *Tab;
    std::function<void()> Open;
  } tabs[] = {
      {"Excel of the journal",
       [&] {
         w->PageControl->setCurrentWidget(w->TabSheetEvent);
         w->ExcelCommand();
       }},
      {"Excel of the parameters",
       [&] {
         w->PageControl->setCurrentWidget(w->TabSheetParam);
         w->ExcelCommand();
       }},
      {"Modbus", [&] { w->OpenModbusTab(); }},
      {"oscillogram", [&] { w->OpenOscTab(FDir.filePath("r.dat")); }},
  };
  std::vector<std::pair<std::string, std::shared_ptr<bool>>> held;
  for (const auto &t : tabs) {
    t.Open();
    for (QAbstractItemView *view : w->PageControl->currentWidget()->findChildren<QAbstractItemView *>()) {
      QAbstractItemModel *model = view->model();
      if (!model || model->rowCount() == 0 || model->columnCount() == 0)
        continue;
      QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(view);
      ASSERT_NE(iface, nullptr);
      for (int i = 0; i < iface->childCount(); ++i)
        iface->child(i);
      auto cell = std::make_shared<QPersistentModelIndex>(model->index(0, 0));
      auto atTheEnd = std::make_shared<bool>(false);
      QObject::connect(view, &QObject::destroyed, [cell, atTheEnd] { *atTheEnd = cell->isValid(); });
      held.emplace_back(std::string(t.Tab) + " " + view->metaObject()->className(), atTheEnd);
    }
  }
  ASSERT_GE(held.size(), 6u);
  EXPECT_TRUE(w->close());
  w.reset();
  for (const auto &[view, atTheEnd] : held)
    EXPECT_FALSE(*atTheEnd) << view;
}
