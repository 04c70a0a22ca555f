// The title panel against the demo terminal in the simulator: the demo's own
// page file, its refresh chain, the event ring and the writes a user makes.
#include "../../common/uTcpGateway.h"
#include "../../common/uTestLoop.h"
#include "../oscview/oscRecords.h"

#include "uControls.h"
#include "uDashboardFrame.h"
#include "uDashboardSetupForm.h"
#include "uDeviceBoardFrame.h"
#include "uDeviceboardSetup.h"
#include "uDemoDevice.h"
#include "uDevSimFiles.h"
#include "uDevSimServer.h"
#include "uDialogSinks.h"
#include "uFiles.h"
#include "uIOChain3.h"
#include "uMainForm.h"
#include "uLinkKit.h"
#include "uLogger.h"
#include "uModbus.h"
#include "uMultiLingual.h"
#include "uPageControlHelper.h"
#include "uPasswdForm.h"
#include "uPlacement.h"
#include "uPrintDialog.h"
#include "uSimDevice.h"
#include "uSimFault.h"
#include "uSimpleDeviceDescriptor.h"
#include "uTextCodec.h"
#include "uUstavConversion.h"
#include "uUstavFrame.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <functional>
#include <memory>

namespace {
const char *const PanelQuestion = "Изменения титульной панелм не сохранены, сохранить?";

int LabelCount(QWidget *Panel);

class DashboardLink : public TShownCapture {
protected:
  // The demo terminal and a main window that does not poll; with Panel the
  // demo's title panel and boards lie beside the program.
  void Start(bool Panel) {
    if (Panel)
      for (const char *name : {"dashboard.XML", "deviceFrame.xml"})
        ASSERT_TRUE(QFile::copy(QString(KV_SOURCE_DIR "/tools/devsim/") + name, S.Dir.filePath(name)));
    ASSERT_TRUE(S.Start());
    Form = S.Form.get();
  }

  template <typename T> QList<T *> Controls() const {
    QList<T *> out;
    for (QWidget *w : ControlsOf(Form->DashboardFrame->Panel, true))
      if (auto *c = qobject_cast<T *>(w))
        out.append(c);
    return out;
  }

  // The window with the settings text Ini (%1: the Modbus TCP port), the
  // demo terminal identified and the title panel shown and refreshed at
  // each tick.
  void OpenAndIdentify(const QString &Ini, uint16_t Port) {
    ASSERT_TRUE(S.Open(Ini.arg(Port)));
    Form = S.Form.get();
    ASSERT_EQ(S.Identify(), "Готово");
    Form->PageControl->setCurrentWidget(Form->TabSheetDashboard);
    Form->cbAuto->setChecked(true);
  }
  // Questions are recorded and answered with Reply; other boxes go to Shown.
  void AnswerQuestions() {
    SetMessageSink([this](TMsgKind Kind, const QString &Text) {
      if (Kind != TMsgKind::Question)
        return Shown << Text, TMsgResult::Ok;
      Questions << Text;
      return Reply;
    });
  }
  // A page command, once the action list has it on (the link idle).
  void Run(QAction *Action) {
    ASSERT_TRUE(QTest::qWaitFor([Action] { return Action->isEnabled(); }, 30000))
        << Action->objectName().toStdString();
    Action->trigger();
  }
  // "Настройка панели" on the title panel: a label placed and OK pressed.
  void PlaceLabel() {
    Form->PageControl->setCurrentWidget(Form->TabSheetDashboard);
    const int was = LabelCount(Form->DashboardFrame->Panel);
    WhenModal<TDashboardSetupForm>([](TDashboardSetupForm &Designer) {
      Designer.ChooseTool("apLabel");
      Designer.PlaceNew(Designer.PanelContainer, QPoint(700, 20));
      Designer.accept();
    });
    Run(Form->adSetup);
    ASSERT_EQ(LabelCount(Form->DashboardFrame->Panel), was + 1);
    ASSERT_TRUE(Form->DashboardFrame->IsModified());
  }
  bool Idle() const { return Form->IOChain()->ChainCount() == 0 && !Form->IsLinkBusy(); }

  TDemoSession S;
  TSimDevice &Device = S.Device;
  TMainForm *Form = nullptr;
  QStringList Questions;
  TMsgResult Reply = TMsgResult::Cancel;
};

// The setpoints page as the controls see it: every setpoint a plain number.
class TPlainConversion : public TUstavConversion {
public:
  QString RegValueText(int, uint16_t Value) const override { return QString::number(Value); }
  std::optional<uint16_t> TextToRegValue(int, const QString &Text) const override { return uint16_t(Text.toUInt()); }
};

int LabelCount(QWidget *Panel) {
  int n = 0;
  for (QWidget *w : ControlsOf(Panel, true))
    n += qobject_cast<TLabelA *>(w) != nullptr;
  return n;
}

QDateTime At(int Minute) { return QDateTime(QDate(2026, 4, 1), QTime(9, Minute, 0), Qt::UTC); }
} // namespace

TEST_F(DashboardLink, DemoPagesNameOnlyRegistersAndSetpointsOfTheDemoDescriptor) {
  Start(true);
  ASSERT_EQ(S.Identify(), "Готово");
  const IXXMLNode root = Form->Descriptor()->Root;
  const int setpoints = root->SelectNodes("ustav/*[mreg]")->GetCount();
  for (const char *name : {"dashboard.XML", "deviceFrame.xml"}) {
    IXXMLDocument page = NewXMLDocument();
    ASSERT_TRUE(page->Load(S.Dir.filePath(name))) << name;
    const IXXMLNodeList regs = page->GetDocumentElement()->SelectNodes("//mreg");
    ASSERT_GT(regs->GetCount(), 5) << name;
    for (int i = 0; i < regs->GetCount(); ++i)
      EXPECT_TRUE(root->SelectSingleNode(QString("//*[mreg=%1]").arg(regs->GetItem(i)->GetText())))
          << name << " " << regs->GetItem(i)->GetText().toStdString();
    const IXXMLNodeList idx = page->GetDocumentElement()->SelectNodes("//idx");
    ASSERT_GT(idx->GetCount(), 0) << name;
    for (int i = 0; i < idx->GetCount(); ++i)
      EXPECT_LT(idx->GetItem(i)->GetText().toInt(), setpoints) << name;
  }
  EXPECT_TRUE(Shown.isEmpty()) << Shown.join("|").toStdString();
}

TEST_F(DashboardLink, RefreshShowsMeasuresClockAndNewestEventsAndWritesNothing) {
  Start(true);
  ASSERT_EQ(S.Identify(), "Готово");
  const int recordBytes = 9 + 2 * 6; // four event measures and two bit words
  Device.SetFile(SimFileEventRing,
                 BuildEventRing({{At(1), 1, 1, {}}, {At(2), 17, 0, {}}, {At(3), 2, 1, {}}}, recordBytes, 256, 0),
                 recordBytes);
  Device.SetClock(QDateTime(QDate(2026, 4, 1), QTime(10, 20, 30)), false);
  const size_t mark = Device.RequestLog().size();
  TkvDashboardFrame *page = Form->DashboardFrame;
  page->Refresh();
  S.WaitIdle();

  // The demo's first tick: Ia raw 3200 (divisor 1), F 5000 / 100, temperature 31 (signed).
  const QMap<int, QString> expected{{200, "3200"}, {208, "50.0"}, {209, "31.0"}};
  int checked = 0;
  for (TMeasureLabeledEdit *m : Controls<TMeasureLabeledEdit>()) {
    if (expected.contains(m->mreg())) {
      EXPECT_EQ(m->text(), expected[m->mreg()]) << m->mreg();
      ++checked;
    }
    EXPECT_FALSE(m->text().isEmpty()) << m->mreg();
  }
  EXPECT_EQ(checked, 3);
  QStringList clocks;
  for (TDateTimeEdit *d : Controls<TDateTimeEdit>())
    clocks << d->text();
  EXPECT_EQ(clocks, (QStringList{"14 май 2024", "2024-06-03", "2026.04.01 10:20:30"}));
  // The setpoint panel shows the setpoints page's text of its register.
  TUstavPanel *setpoint = Controls<TUstavPanel>().value(0);
  ASSERT_TRUE(setpoint);
  EXPECT_EQ(setpoint->Edit(0)->text(), Form->UstavFrame->RegValueText(100, 4800));
  EXPECT_NE(setpoint->Edit(0)->text(), "?");
  TEventView *view = Controls<TEventView>().value(0);
  ASSERT_TRUE(view);
  ASSERT_EQ(view->topLevelItemCount(), 3);
  EXPECT_EQ(view->topLevelItem(0)->text(0), "26-04-01 09:03:00.000");
  EXPECT_EQ(view->topLevelItem(1)->text(1), "<17>");
  EXPECT_EQ(view->topLevelItem(2)->text(2), "1");

  // Two newer records, then an older one (the clock set back): the next
  // refresh takes all three, told new by their slots.
  Device.SetFile(SimFileEventRing,
                 BuildEventRing({{At(1), 1, 1, {}},
                                 {At(2), 17, 0, {}},
                                 {At(3), 2, 1, {}},
                                 {At(4), 3, 0, {}},
                                 {At(5), 1, 0, {}},
                                 {At(0), 2, 0, {}}},
                                recordBytes, 256, 0),
                 recordBytes);
  page->Refresh();
  S.WaitIdle();
  ASSERT_EQ(view->topLevelItemCount(), 5);
  EXPECT_EQ(view->topLevelItem(0)->text(0), "26-04-01 09:00:00.000");
  EXPECT_EQ(view->topLevelItem(1)->text(0), "26-04-01 09:05:00.000");
  EXPECT_EQ(view->topLevelItem(4)->text(0), "26-04-01 09:02:00.000");
  page->ShowValues();
  EXPECT_TRUE(RegisterRequests(Device, false, mark).isEmpty());
  EXPECT_TRUE(Shown.isEmpty()) << Shown.join("|").toStdString();
}

TEST_F(DashboardLink, UserPressesWriteOneRegister) {
  Start(true);
  ASSERT_EQ(S.Identify(), "Готово");
  Form->DashboardFrame->Refresh();
  S.WaitIdle();
  Form->SetLoggedIn(true);
  TBitregGroupBox *virt = nullptr;
  for (TBitregGroupBox *g : Controls<TBitregGroupBox>())
    if (g->mreg() == 23)
      virt = g;
  ASSERT_TRUE(virt);
  ASSERT_GE(virt->BitList()->Count(), 2);
  size_t mark = Device.RequestLog().size();
  QTest::mouseClick(virt->BitList()->Item(1)->Circle(), Qt::LeftButton);
  S.WaitIdle();
  EXPECT_EQ(RegisterRequests(Device, false, mark), QStringList{"w 23 2"});

  TParamEnum *mode = Controls<TParamEnum>().value(0);
  ASSERT_TRUE(mode);
  EXPECT_TRUE(mode->isEnabled());
  EXPECT_EQ(mode->List()->currentText(), "Введен");
  mark = Device.RequestLog().size();
  emit mode->List()->activated(0);
  S.WaitIdle();
  EXPECT_EQ(RegisterRequests(Device, false, mark), QStringList{"w 30 0"});
  EXPECT_EQ(mode->List()->currentText(), "Выведен");
}

TEST_F(DashboardLink, IdentificationWithoutAPanelFileEndsReady) {
  Start(false);
  EXPECT_EQ(S.Identify(), "Готово");
  EXPECT_TRUE(ControlsOf(Form->DashboardFrame->Panel, false).isEmpty());
}

TEST_F(DashboardLink, DeviceBoardSetpointsWriteTheirRegister) {
  Start(true);
  ASSERT_EQ(S.Identify(), "Готово");
  TPlainConversion conversion;
  SetUstavConversion(&conversion);
  Form->NDeviceBoard->trigger();
  auto *boards = Form->findChild<TkvDeviceBoardFrame *>();
  ASSERT_TRUE(boards);
  S.WaitIdle();
  boards->ListBox->setCurrentRow(1); // the setpoint board
  S.WaitIdle();
  // The panel of the first setpoint on the board shown.
  auto firstSetpoint = [boards] {
    TUstavPanel *found = nullptr;
    for (QWidget *w : ControlsOf(boards->Panel, true))
      if (auto *u = qobject_cast<TUstavPanel *>(w); u && u->idx() == 0)
        found = u;
    return found;
  };
  TUstavPanel *first = firstSetpoint();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->Edit(1)->text(), "6000"); // group 2 of the first setpoint, read by the refresh
  Form->SetLoggedIn(true);
  size_t mark = Device.RequestLog().size();
  first->Edit(1)->setText("6100");
  QTest::keyClick(first->Edit(1), Qt::Key_Return);
  S.WaitIdle();
  EXPECT_EQ(RegisterRequests(Device, false, mark), QStringList{"w 150 6100"});
  EXPECT_EQ(first->Edit(1)->text(), "6100");

  // A bit field: the device's word is read, merged and written.
  Device.SetRegister(TSimArea::Holding, 152, 0x00F0);
  mark = Device.RequestLog().size();
  boards->WriteSetpoint(152, 8, 8);
  S.WaitIdle();
  EXPECT_EQ(RegisterRequests(Device, false, mark), QStringList{"w 152 248"});

  // After the designer's Apply (as the setup command does it) the copies still write.
  TDeviceboardSetupForm *designer = Form->Forms().DeviceboardSetupForm;
  designer->SetDescriptor(Form->Descriptor());
  designer->LoadFrom(boards->Panel);
  designer->ApplyTo(boards->Panel);
  boards->BindControls();
  first = firstSetpoint();
  ASSERT_TRUE(first);
  mark = Device.RequestLog().size();
  first->Edit(0)->setText("4900");
  QTest::keyClick(first->Edit(0), Qt::Key_Return);
  S.WaitIdle();
  EXPECT_EQ(RegisterRequests(Device, false, mark), QStringList{"w 100 4900"});
  SetUstavConversion(nullptr);
  EXPECT_TRUE(Shown.isEmpty()) << Shown.join("|").toStdString();
}

// A label placed with the board designer and accepted with OK: every close
// path asks, Отмена (and a save that fails) keeps the tab and the label, Нет
// leaves the file, Да writes it.
TEST_F(DashboardLink, BoardDesignerChangeIsAskedForOnEveryClose) {
  Start(true);
  ASSERT_EQ(S.Identify(), "Готово");
  QStringList asked;
  std::vector<TMsgResult> replies;
  SetMessageSink([&](TMsgKind Kind, const QString &Text) {
    if (Kind != TMsgKind::Question)
      return Shown << Text, TMsgResult::Ok;
    asked << Text;
    return size_t(asked.size()) <= replies.size() ? replies[size_t(asked.size() - 1)] : TMsgResult::Cancel;
  });
  const QString file = S.Dir.filePath("deviceFrame.xml");
  const QByteArray before = LoadFileBytes(file);
  const QString question = "Изменения функциональных панелей не сохранены, сохранить?";
  QWidget *sheet = nullptr;
  TkvDeviceBoardFrame *boards = nullptr;
  const auto labels = [&] { return LabelCount(boards->Panel); };
  Form->show();
  // The boards tab, then "Настройка панели" with a label placed and OK pressed.
  const auto placeLabel = [&] {
    Form->NDeviceBoard->trigger();
    ASSERT_TRUE(S.WaitIdle());
    sheet = Form->PageControl->currentWidget();
    boards = sheet->findChild<TkvDeviceBoardFrame *>();
    ASSERT_TRUE(boards);
    const int was = labels();
    QTimer designer;
    designer.setInterval(10);
    QObject::connect(&designer, &QTimer::timeout, [&] {
      auto *form = qobject_cast<TDeviceboardSetupForm *>(QApplication::activeModalWidget());
      if (!form || !form->isVisible())
        return;
      designer.stop();
      form->ChooseTool("apLabel");
      form->PlaceNew(form->PanelContainer, QPoint(420, 420));
      form->accept();
    });
    designer.start();
    Form->adSetup->trigger();
    ASSERT_EQ(labels(), was + 1);
  };
  ASSERT_NO_FATAL_FAILURE(placeLabel());
  const int placed = labels();

  // Отмена on the tab's close button, Ctrl+F4, "Выход" and the window's close box.
  replies.assign(4, TMsgResult::Cancel);
  QTest::mouseClick(Form->PageControlHelper->CloseButton(sheet), Qt::LeftButton);
  Form->atabClose->trigger();
  Form->nExit->trigger();
  EXPECT_FALSE(Form->close());
  EXPECT_EQ(asked, QStringList(4, question)) << asked.join("|").toStdString();
  EXPECT_TRUE(Form->isVisible());
  EXPECT_EQ(Form->PageControl->indexOf(sheet), Form->PageControl->currentIndex());

  // Да with a save that fails: the box says why, the tab and the label stay.
  ASSERT_TRUE(QFile::rename(file, file + ".kept"));
  ASSERT_TRUE(QDir().mkdir(file));
  replies.push_back(TMsgResult::Yes);
  Shown.clear();
  Form->atabClose->trigger();
  EXPECT_EQ(asked.size(), 5);
  EXPECT_EQ(Shown.size(), 1);
  EXPECT_NE(Form->PageControl->indexOf(sheet), -1);
  EXPECT_EQ(labels(), placed);
  ASSERT_TRUE(QDir().rmdir(file));
  ASSERT_TRUE(QFile::rename(file + ".kept", file));

  // Нет: the tab goes and the file stays.
  replies.push_back(TMsgResult::No);
  Form->atabClose->trigger();
  EXPECT_EQ(asked.size(), 6);
  EXPECT_EQ(Form->PageControl->indexOf(sheet), -1);
  EXPECT_EQ(LoadFileBytes(file), before);

  // Да on "Выход": the file holds the label, and the program ends.
  ASSERT_NO_FATAL_FAILURE(placeLabel());
  replies.push_back(TMsgResult::Yes);
  Form->nExit->trigger();
  EXPECT_EQ(asked.size(), 7);
  EXPECT_FALSE(Form->isVisible());
  TkvDeviceBoardFrame again;
  again.Init(file);
  EXPECT_EQ(LabelCount(again.Panel), placed);
}

// Over the line at 38400 baud, with answers to register reads late as a busy
// relay's: the boards tab opened and closed again 20 to 200 ms into its
// refresh, ten times; the program runs on and the title panel still reads.
TEST_F(DashboardLink, BoardsTabClosedDuringItsRefreshOverTheLine) {
  for (const char *name : {"dashboard.XML", "deviceFrame.xml"})
    ASSERT_TRUE(QFile::copy(QString(KV_SOURCE_DIR "/tools/devsim/") + name, S.Dir.filePath(name)));
  S.Serve(true);
  S.Server->SetBaud(38400);
  RegWriteString("", KV_REG_COM_PORT, S.Server->PtyPath());
  ASSERT_TRUE(S.Open("[setup]\ncustom=0\npasswdExpirationPeriod=60\nprotocol=modbus\n[device]\npollPause=1000\n"
                     "[com]\nTimeout=1000\nbaudratelist=38400\n[timer]\ninterval=3600000\n[debug]\npoll=0\n"));
  Form = S.Form.get();
  ASSERT_EQ(S.Identify(), "Готово");
  TSimFault late;
  late.Kind = TSimFaultKind::LateAnswer;
  late.Value = 60;
  late.Function = SIM_FN_READ_HOLDING;
  Device.SetFault(late);
  for (int ms = 20; ms <= 200; ms += 20) {
    SCOPED_TRACE(ms);
    Form->NDeviceBoard->trigger();
    ASSERT_TRUE(Form->PageControl->currentWidget()->findChild<TkvDeviceBoardFrame *>());
    QTest::qWait(ms);
    Form->atabClose->trigger();
    EXPECT_FALSE(Form->findChild<TkvDeviceBoardFrame *>());
  }
  ASSERT_TRUE(S.WaitIdle());
  Device.SetFault({});
  const size_t mark = Device.RequestLog().size();
  Form->DashboardFrame->Refresh();
  ASSERT_TRUE(S.WaitIdle());
  EXPECT_FALSE(RegisterRequests(Device, true, mark).isEmpty());
  EXPECT_EQ(S.Identify(), "Готово");
}

TEST_F(DashboardLink, DeeplyNestedPanelFileIsRefusedAndTheDeviceIsIdentified) {
  QByteArray deep = "<document>\n", close;
  for (int i = 0; i < 20000; ++i)
    deep += "<element><class>TGroupBoxA</class>\n", close += "</element>";
  SaveFileBytes(S.Dir.filePath("dashboard.XML"), deep + close + "</document>\n");
  Start(false);
  // Start-up goes on with an empty panel and one box naming file, line and limit.
  ASSERT_TRUE(WaitFor([this] { return !Errors.isEmpty(); }));
  ASSERT_EQ(Errors.size(), 1);
  EXPECT_TRUE(Errors[0].contains("dashboard.XML, line 64: nesting deeper than 64 levels")) << Errors[0].toStdString();
  EXPECT_TRUE(ControlsOf(Form->DashboardFrame->Panel, false).isEmpty());
  EXPECT_EQ(S.Identify(), "Готово");
  EXPECT_TRUE(Form->Descriptor()->Ready);
}

TEST_F(DashboardLink, PanelFileWithTooManyElementsIsRefusedAndTheDeviceIsIdentified) {
  QByteArray flat = "<document>\n";
  for (int i = 0; i < 100000; ++i)
    flat += "<element><class>TLabelA</class><Caption>x</Caption></element>\n";
  SaveFileBytes(S.Dir.filePath("dashboard.XML"), flat + "</document>\n");
  Start(false);
  ASSERT_TRUE(WaitFor([this] { return !Errors.isEmpty(); }));
  ASSERT_EQ(Errors.size(), 1);
  EXPECT_TRUE(Errors[0].contains("dashboard.XML, line 20002: more than 20000 elements")) << Errors[0].toStdString();
  EXPECT_TRUE(ControlsOf(Form->DashboardFrame->Panel, false).isEmpty());
  EXPECT_EQ(S.Identify(), "Готово");
  EXPECT_TRUE(Form->Descriptor()->Ready);
}

// The demo panel with a set of font styles and a label position it does not
// know: one box, after start-up has gone on, and none again when the
// identification loads the panel anew; Ctrl+S then asks before replacing it.
TEST_F(DashboardLink, APanelValueNotUnderstoodIsShownOnceWithoutHoldingUpStartUp) {
  QByteArray bytes = LoadFileBytes(QString(KV_SOURCE_DIR "/tools/devsim/dashboard.XML"));
  const qsizetype style = bytes.indexOf("<Style>fsBold</Style>");
  ASSERT_GT(style, 0);
  bytes.replace(style, 21, "<Style>fsBold,fsBogus</Style>");
  const qsizetype position = bytes.indexOf("<LabelPosition>lpLeft</LabelPosition>");
  ASSERT_GT(position, 0);
  bytes.replace(position, 37, "<LabelPosition>lpBogus</LabelPosition>");
  const QString file = S.Dir.filePath("dashboard.XML");
  SaveFileBytes(file, bytes);
  Start(false);
  EXPECT_TRUE(Errors.isEmpty()); // start-up has not waited on a box
  ASSERT_TRUE(WaitFor([this] { return !Errors.isEmpty(); }));
  EXPECT_TRUE(Errors[0].endsWith("\nline 13: 'fsBold,fsBogus' is not a valid Style value"
                                 "\nline 38: 'lpBogus' is not a valid LabelPosition value"))
      << Errors[0].toStdString();
  EXPECT_EQ(S.Identify(), "Готово");
  EXPECT_EQ(Errors.size(), 1);
  Shown.clear();
  EXPECT_FALSE(Form->DashboardFrame->Save(QString()));
  EXPECT_EQ(Shown.size(), 1); // the question, answered other than yes
  EXPECT_EQ(LoadFileBytes(file), bytes);
}

// The question before a panel that did not load whole is replaced: the
// program's own box, where Enter alone answers no and the file stays.
TEST(DashboardReplaceQuestion, EnterKeepsTheFile) {
  QTemporaryDir dir;
  const QString file = dir.filePath("dashboard.XML");
  const QByteArray bytes = "<?xml version=\"1.0\"?>\n<document><element><class>TNoSuch</class></element></document>\n";
  SaveFileBytes(file, bytes);
  TkvDashboardFrame frame;
  TDashboardHost host;
  host.Report = [](const QString &) {};
  frame.SetHost(host);
  frame.Init(file);
  ASSERT_TRUE(frame.IsIncomplete());
  const TMessageSink oldMessages = SetMessageSink(nullptr);
  const TFileDialogSink oldFiles = SetFileDialogSink(nullptr);
  const TPrintDialogOpener oldPrint = SetPrintDialogOpener(nullptr);
  InstallDialogSinks();
  QString asked, pressed;
  // The box's own event loop runs the timer; it waits for the box to show.
  QTimer answer;
  answer.setInterval(10);
  QObject::connect(&answer, &QTimer::timeout, [&] {
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box || !box->isVisible())
      return;
    answer.stop();
    asked = box->text();
    pressed = box->defaultButton() ? box->defaultButton()->text() : QString();
    QTest::keyClick(box, Qt::Key_Return);
  });
  answer.start();
  const bool saved = frame.Save(QString());
  SetMessageSink(oldMessages);
  SetFileDialogSink(oldFiles);
  SetPrintDialogOpener(oldPrint);
  EXPECT_TRUE(asked.contains(file)) << asked.toStdString();
  EXPECT_EQ(pressed, QMessageBox(QMessageBox::Question, "", "", QMessageBox::No).button(QMessageBox::No)->text());
  EXPECT_FALSE(saved);
  EXPECT_EQ(LoadFileBytes(file), bytes);
}

namespace {
// The labels of the title panel file Path.
int FileLabels(const QString &Path) {
  TkvDashboardFrame page;
  page.LoadFromFile(Path);
  return LabelCount(page.Panel);
}

const char *const GatewayIni = "[setup]\ncustom=0\npasswdExpirationPeriod=600\nprotocol=modbustcp\n"
                               "[modbustcp]\nhost=127.0.0.1\nport=%1\n[device]\npollPause=300\n[com]\nTimeout=500\n"
                               "[timer]\ninterval=3600000\n[debug]\npoll=1\n";

// How the identification comes while the panel holds a change.
enum class TIdent {
  Poll,          // "Опрос"
  Swap,          // the gateway's exception for a tick, then another relay behind it
  PollInHandler, // "Опрос" while a control's password box is open
};
struct TOwnFileCase {
  const char *Name;
  bool SavedAs; // the panel saved as mine.xml, else opened from other.xml
  TIdent Ident;
  bool Exit; // "Выход" -> "Да", else "Сохранить"
};

void PrintTo(const TOwnFileCase &Case, std::ostream *Out) { *Out << Case.Name; }

// The demo terminal (A) and the second demo image (B) behind one gateway.
class PanelOwnFileLink : public DashboardLink, public ::testing::WithParamInterface<TOwnFileCase> {
protected:
  void SetUp() override {
    DashboardLink::SetUp();
    LoadDemoDevice(Other, 2);
    ServeTwoRelays(S, Other, OtherServer, Gateway);
  }
  void TearDown() override {
    S.Form.reset(); // before the gateway it is connected to
    DashboardLink::TearDown();
  }
  bool OtherIdentified() const { return Form->IsDeviceReady() && Form->LabelDescID->text() == "2025-02-17" && Idle(); }
  void Tick() {
    Form->TimerTimer();
    ASSERT_TRUE(QTest::qWaitFor([this] { return Idle(); }, 60000));
  }

  TSimDevice Other;
  std::unique_ptr<TDevSimServer> OtherServer;
  std::unique_ptr<TTcpGateway> Gateway;
};
} // namespace

// A panel from another file or saved under another name, changed in the
// designer: the identification keeps the change and its file, and the save
// goes there; the default file is not touched.
TEST_P(PanelOwnFileLink, AChangedPanelIsSavedToItsOwnFileAfterAnIdentification) {
  const TOwnFileCase &c = GetParam();
  const QString defaultFile = S.Dir.filePath("dashboard.XML");
  ASSERT_TRUE(QFile::copy(KV_SOURCE_DIR "/tools/devsim/dashboard.XML", defaultFile));
  ASSERT_NO_FATAL_FAILURE(OpenAndIdentify(GatewayIni, Gateway->Port()));
  AnswerQuestions();
  const QByteArray defaultBytes = LoadFileBytes(defaultFile);
  const int labels = LabelCount(Form->DashboardFrame->Panel);
  const QString own = S.Dir.filePath(c.SavedAs ? "mine.xml" : "other.xml");
  Answer = own;
  if (c.SavedAs) {
    ASSERT_NO_FATAL_FAILURE(Run(Form->apFileSaveAs));
  } else {
    ASSERT_TRUE(QFile::copy(defaultFile, own));
    ASSERT_NO_FATAL_FAILURE(Run(Form->apFileLoad));
  }
  ASSERT_EQ(Form->DashboardFrame->FileName().toStdString(), own.toStdString());
  ASSERT_NO_FATAL_FAILURE(PlaceLabel());

  switch (c.Ident) {
  case TIdent::Poll:
    ASSERT_EQ(S.Identify(), "Готово");
    break;
  case TIdent::Swap:
    Gateway->Mode(TTcpGateway::TMode::Exception);
    ASSERT_NO_FATAL_FAILURE(Tick());
    Gateway->Target(TTcpGateway::TUpstream::B);
    Gateway->Mode(TTcpGateway::TMode::Forward);
    for (int i = 0; i < 3 && !OtherIdentified(); ++i)
      ASSERT_NO_FATAL_FAILURE(Tick());
    ASSERT_TRUE(OtherIdentified()) << S.Status().toStdString();
    break;
  case TIdent::PollInHandler: {
    Form->SetLoggedIn(false);
    TParamEnum *mode = nullptr;
    for (QWidget *w : ControlsOf(Form->DashboardFrame->Panel, true))
      if (auto *e = qobject_cast<TParamEnum *>(w); e && e->mreg() == 30)
        mode = e;
    ASSERT_TRUE(mode);
    bool pending = false;
    WhenModal<TPasswdForm>([&](TPasswdForm &Box) {
      EXPECT_EQ(S.Identify(), "Готово");
      pending = Form->DashboardFrame->IsRebuildPending();
      if (Box.isVisible())
        Box.BitBtn2->click();
    });
    emit mode->List()->activated(mode->List()->currentIndex() == 0 ? 1 : 0);
    EXPECT_TRUE(pending);
    ASSERT_TRUE(QTest::qWaitFor([this] { return !Form->DashboardFrame->IsRebuildPending() && Idle(); }, 30000));
    break;
  }
  }
  EXPECT_EQ(LabelCount(Form->DashboardFrame->Panel), labels + 1);
  EXPECT_TRUE(Form->DashboardFrame->IsModified());
  EXPECT_EQ(Form->DashboardFrame->FileName().toStdString(), own.toStdString());
  // Bound to the relay identified now.
  QStringList dates;
  for (QWidget *w : ControlsOf(Form->DashboardFrame->Panel, true))
    if (auto *d = qobject_cast<TDateTimeEdit *>(w))
      dates << d->text();
  EXPECT_EQ(dates.contains("2025-02-17"), c.Ident == TIdent::Swap) << dates.join("|").toStdString();

  if (c.Exit) {
    Reply = TMsgResult::Yes;
    ASSERT_NO_FATAL_FAILURE(Run(Form->nExit));
    EXPECT_EQ(Questions.join("|").toStdString(), PanelQuestion);
    EXPECT_FALSE(Form->isVisible());
  } else {
    ASSERT_NO_FATAL_FAILURE(Run(Form->apFileSave));
    EXPECT_FALSE(Form->DashboardFrame->IsModified());
  }
  EXPECT_EQ(FileLabels(own), labels + 1);
  EXPECT_EQ(LoadFileBytes(defaultFile), defaultBytes);
}

INSTANTIATE_TEST_SUITE_P(Routes, PanelOwnFileLink,
                         ::testing::Values(TOwnFileCase{"OpenedPolledExit", false, TIdent::Poll, true},
                                           TOwnFileCase{"SavedAsPolledSave", true, TIdent::Poll, false},
                                           TOwnFileCase{"OpenedSwappedExit", false, TIdent::Swap, true},
                                           TOwnFileCase{"SavedAsSwappedExit", true, TIdent::Swap, true},
                                           TOwnFileCase{"OpenedPolledInAHandlerExit", false, TIdent::PollInHandler,
                                                        true}),
                         [](const auto &Info) { return std::string(Info.param.Name); });

// An unchanged panel from another file is the default file's again after an
// identification, and saves there.
TEST_F(DashboardLink, AnUnchangedPanelIsLoadedFromTheDefaultFileAtAnIdentification) {
  Start(true);
  ASSERT_EQ(S.Identify(), "Готово");
  const QString other = S.Dir.filePath("other.xml");
  SaveFileBytes(other, "<document><element><class>TLabelA</class><Caption>A</Caption></element></document>\n");
  Answer = other;
  ASSERT_NO_FATAL_FAILURE(Run(Form->apFileLoad));
  ASSERT_EQ(LabelCount(Form->DashboardFrame->Panel), 1);
  ASSERT_EQ(S.Identify(), "Готово");
  const QString defaultFile = S.Dir.filePath("dashboard.XML");
  EXPECT_EQ(Form->DashboardFrame->FileName().toStdString(), defaultFile.toStdString());
  EXPECT_EQ(LabelCount(Form->DashboardFrame->Panel), FileLabels(defaultFile));
}

// "Открыть" over a change not saved: Отмена keeps the change and opens
// nothing, Нет drops it, Да saves it to the panel's file first.
TEST_F(DashboardLink, OpeningAnotherPanelOverAChangeAsksFirst) {
  Start(true);
  ASSERT_EQ(S.Identify(), "Готово");
  AnswerQuestions();
  const QString defaultFile = S.Dir.filePath("dashboard.XML"), other = S.Dir.filePath("other.xml");
  const QByteArray defaultBytes = LoadFileBytes(defaultFile);
  SaveFileBytes(other, "<document><element><class>TLabelA</class><Caption>A</Caption></element></document>\n");
  TkvDashboardFrame *page = Form->DashboardFrame;
  const int labels = LabelCount(page->Panel);
  ASSERT_NO_FATAL_FAILURE(PlaceLabel());
  Answer = other;

  Reply = TMsgResult::Cancel;
  ASSERT_NO_FATAL_FAILURE(Run(Form->apFileLoad));
  EXPECT_EQ(Questions.join("|").toStdString(), PanelQuestion);
  EXPECT_TRUE(Asked.isEmpty()) << Asked.join("|").toStdString(); // no file was asked for
  EXPECT_EQ(LabelCount(page->Panel), labels + 1);
  EXPECT_TRUE(page->IsModified());
  EXPECT_EQ(page->FileName().toStdString(), defaultFile.toStdString());

  Reply = TMsgResult::No;
  ASSERT_NO_FATAL_FAILURE(Run(Form->apFileLoad));
  EXPECT_EQ(Questions.size(), 2);
  EXPECT_EQ(Asked.join("|").toStdString(), "Открыть титульную панель");
  EXPECT_EQ(LabelCount(page->Panel), 1);
  EXPECT_FALSE(page->IsModified());
  EXPECT_EQ(LoadFileBytes(defaultFile), defaultBytes);

  ASSERT_NO_FATAL_FAILURE(PlaceLabel());
  Reply = TMsgResult::Yes;
  Answer = defaultFile;
  ASSERT_NO_FATAL_FAILURE(Run(Form->apFileLoad));
  EXPECT_EQ(Questions.size(), 3);
  EXPECT_EQ(FileLabels(other), 2);
  EXPECT_EQ(page->FileName().toStdString(), defaultFile.toStdString());
  EXPECT_EQ(LabelCount(page->Panel), labels);
  EXPECT_EQ(LoadFileBytes(defaultFile), defaultBytes);
}

// The event ring's file cannot be replaced at a 20 ms poll: the log says so
// once, and once more only after it has been saved meanwhile.
TEST_F(DashboardLink, AnEventRingThatCannotBeSavedIsLoggedOncePerFailure) {
  ASSERT_TRUE(QFile::copy(KV_SOURCE_DIR "/tools/devsim/dashboard.XML", S.Dir.filePath("dashboard.XML")));
  const int recordBytes = 9 + 2 * 6;
  Device.SetFile(SimFileEventRing, BuildEventRing({{At(1), 1, 1, {}}}, recordBytes, 256, 0), recordBytes);
  S.Serve(false);
  // The timer identifies the terminal and then refreshes the panel shown.
  ASSERT_TRUE(S.Open(QString(GatewayIni).replace("interval=3600000", "interval=20").arg(S.Server->TcpPort())));
  Form = S.Form.get();
  Form->PageControl->setCurrentWidget(Form->TabSheetDashboard);
  Form->cbAuto->setChecked(true);
  const QString ring = S.Dir.filePath("eventlog.bin");
  const auto ringReads = [this] {
    int n = 0;
    for (const QByteArray &p : Device.RequestLog())
      n += uint8_t(p[0]) == SIM_FN_READ_FILE && uint8_t(p[1]) == 128;
    return n;
  };
  const auto logged = [&ring] { return Logger().Lines().filter(ring).size(); };
  // Refreshes at the timer's pace until Count more of them have read the ring.
  const auto refreshes = [&](int Count) {
    const int from = ringReads();
    return QTest::qWaitFor([&] { return ringReads() >= from + Count; }, 60000);
  };
  const int before = logged();
  ASSERT_TRUE(QTest::qWaitFor([&ring] { return QFile::exists(ring); }, 60000));
  const QFileDevice::Permissions writable = QFile::permissions(ring);
  const QFileDevice::Permissions readOnly = QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther;
  const struct {
    const char *Step;
    bool ReadOnly;
    int Lines; // logged since the start
  } steps[] = {{"read-only", true, 1}, {"saved again", false, 1}, {"read-only again", true, 2}};
  for (const auto &step : steps) {
    SCOPED_TRACE(step.Step);
    ASSERT_TRUE(QFile::setPermissions(ring, step.ReadOnly ? readOnly : writable));
    ASSERT_TRUE(refreshes(100));
    EXPECT_EQ(logged() - before, step.Lines) << Logger().Lines().filter(ring).join("\n").toStdString();
  }
  QFile::setPermissions(ring, writable);
}

// A title-panel write pressed again and again while the timer refreshes the
// panel at its shortest tick, over Modbus TCP and a 9600-baud line: the
// write's identity check reads the descriptor's 128-byte frames while the
// refresh reads the event ring's frames and registers, their records
// interleaved in the worker. Every press is written, none is refused, and no
// answer is taken for a wrong or a short one.
class PanelWriteDuringRefresh : public DashboardLink, public ::testing::WithParamInterface<bool> {};

TEST_P(PanelWriteDuringRefresh, EveryPressIsWrittenAndNoAnswerIsWrong) {
  const bool pty = GetParam();
  ASSERT_TRUE(QFile::copy(KV_SOURCE_DIR "/tools/devsim/dashboard.XML", S.Dir.filePath("dashboard.XML")));
  S.Serve(pty);
  QString ini = "[setup]\ncustom=0\npasswdExpirationPeriod=600\n";
  if (pty) {
    S.Server->SetBaud(9600);
    RegWriteString("", KV_REG_COM_PORT, S.Server->PtyPath());
    ini += "protocol=modbus\n";
  } else {
    ini += QString("protocol=modbustcp\n[modbustcp]\nhost=127.0.0.1\nport=%1\n").arg(S.Server->TcpPort());
  }
  ini += "[device]\npollPause=1000\n[com]\nTimeout=5000\nbaudratelist=9600\n[timer]\ninterval=1\n[debug]\npoll=1\n";
  ASSERT_TRUE(S.Open(ini));
  Form = S.Form.get();
  ASSERT_TRUE(QTest::qWaitFor([this] { return Form->IsDeviceReady(); }, 60000)) << S.Status().toStdString();
  Form->PageControl->setCurrentWidget(Form->TabSheetDashboard);
  Form->cbAuto->setChecked(true);
  Form->SetLoggedIn(true);
  TParamEnum *mode = nullptr;
  for (TParamEnum *e : Controls<TParamEnum>())
    if (e->mreg() == 30)
      mode = e;
  ASSERT_TRUE(mode);
  const auto ringReads = [this] {
    int n = 0;
    for (const QByteArray &p : Device.RequestLog())
      n += uint8_t(p[0]) == SIM_FN_READ_FILE && uint8_t(p[1]) == SimFileEventRing;
    return n;
  };
  const qsizetype mark = Logger().Lines().size();
  Device.ClearLogs();
  constexpr int Presses = 30;
  for (int i = 0; i < Presses; ++i) {
    SCOPED_TRACE(i);
    // Pressed while a refresh is reading the event ring.
    const int from = ringReads();
    ASSERT_TRUE(QTest::qWaitFor([&] { return ringReads() > from && Form->IsLinkBusy(); }, 60000))
        << S.Status().toStdString();
    emit mode->List()->activated(i % 2);
    ASSERT_TRUE(QTest::qWaitFor([this] { return !Form->IOChain()->RunningWrite(); }, 60000));
  }
  Form->cbAuto->setChecked(false);
  ASSERT_TRUE(S.WaitIdle());
  const QStringList log = Logger().Lines().mid(mark);
  EXPECT_EQ(log.filter("Неверный ответ").size(), 0) << log.filter("ERROR").join("\n").toStdString();
  EXPECT_EQ(log.filter("Неполный ответ").size(), 0) << log.filter("ERROR").join("\n").toStdString();
  EXPECT_EQ(log.filter("устройство не подтверждено").size(), 0) << log.filter("ERROR").join("\n").toStdString();
  EXPECT_EQ(RegisterRequests(Device, false).filter(QRegularExpression("^w 30 ")).size(), Presses);
}

INSTANTIATE_TEST_SUITE_P(Links, PanelWriteDuringRefresh, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool> &Info) { return Info.param ? "Pty9600" : "Tcp"; });
