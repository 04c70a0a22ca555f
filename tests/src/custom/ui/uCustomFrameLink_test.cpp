// The custom-logic page against the demo terminal in devsim, over loopback
// TCP and a pseudo-terminal: reading the logic package, the unit list and
// the editor, the names, and the faults that must leave the loaded logic.
#include "uCustomFrame.h"

#include "crc.h"
#include "uAppIniFile.h"
#include "uCloseRules.h"
#include "uCustomNames.h"
#include "uCustomParamIOForm.h"
#include "uControls.h"
#include "uDashboardFrame.h"
#include "uDeviceDescriptor.h"
#include "uCustomUstavForm.h"
#include "uDemoDevice.h"
#include "uDevSimFiles.h"
#include "uDevSimServer.h"
#include "uFiles.h"
#include "uFileDialogSink.h"
#include "uIOChain3.h"
#include "uIOChainFile.h"
#include "uIdentification.h"
#include "uLogger.h"
#include "uMainForm.h"
#include "uMessageSink.h"
#include "uModbusIderList.h"
#include "uMultiLingual.h"
#include "uPlacement.h"
#include "uPrintDialog.h"
#include "uSchemaEditorPanel.h"
#include "uSchemaEditorState.h"
#include "uUnitPropertyForm.h"
#include "uGraphic.h"
#include "uSchemaModule.h"
#include "uSimDevice.h"
#include "uSimFault.h"
#include "uMultipleFileStream.h"
#include "uPasswdForm.h"
#include "uSimpleDeviceDescriptor.h"
#include "uStringGrid.h"
#include "uStringGridEditor.h"
#include "uUstavFrame.h"
#include "uTextCodec.h"

#include <QAction>
#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QKeyEvent>
#include <QTimer>
#include <QLabel>
#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QToolBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#include <QToolButton>
#include <csignal>
#include <gtest/gtest.h>

inline void PrintTo(const QString &S, std::ostream *Os) { *Os << '"' << S.toStdString() << '"'; }

namespace {
enum class TLink { Tcp, Pty };

// Each request devsim received: "R140:0" a frame of file 140 read, "W129:48"
// written, "r100" / "w100" a register, "F0" a special command, "fn53" any
// other function; frames of one transfer in a row as "R140:0-64".
QStringList RequestOrder(const TSimDevice &Device) {
  QStringList out;
  QString kind;
  int first = 0, last = -2;
  for (const QByteArray &p : Device.RequestLog()) {
    const uint8_t fn = uint8_t(p[0]);
    const bool file = fn == SIM_FN_READ_FILE || fn == SIM_FN_WRITE_FILE;
    const QByteArray b = p + QByteArray(4, '\0');
    const int at = file ? uint8_t(b[2]) << 8 | uint8_t(b[3]) : uint8_t(b[1]) << 8 | uint8_t(b[2]);
    const QString k = file ? QString("%1%2:").arg(fn == SIM_FN_READ_FILE ? 'R' : 'W').arg(uint8_t(b[1]))
                      : fn == SIM_FN_SPECIAL       ? QString("F%1").arg(uint8_t(b[1]) & 0xF, 1, 16).toUpper()
                      : fn == SIM_FN_READ_HOLDING  ? QString("r%1").arg(at)
                      : fn == SIM_FN_WRITE_HOLDING ? QString("w%1").arg(at)
                                                   : QString("fn%1").arg(fn, 0, 16);
    if (file && k == kind && at == last + 1) {
      out.last() = QString("%1%2-%3").arg(k).arg(first).arg(last = at);
      continue;
    }
    kind = k;
    first = last = at;
    out << (file ? k + QString::number(at) : k);
  }
  return out;
}

// How many of the requests (runs of frames taken as one) change the device.
int Writes(const TSimDevice &Device) { return int(RequestOrder(Device).filter(QRegularExpression("^[WwF]")).size()); }

// The text of the window's box of writes refused for the device, "" when none is shown.
QString WriteBoxText(QWidget *Window) {
  for (QMessageBox *box : Window->findChildren<QMessageBox *>())
    if (box->isVisible())
      return box->text();
  return {};
}

class CustomFrameLink : public ::testing::TestWithParam<TLink> {
protected:
  void SetUp() override {
    FOldCurrent = QDir::currentPath();
    RegUseStoreFile(FDir.filePath("user.conf"));
    MultiLingual() = TMultiLingual();
    FOldSink = SetMessageSink([this](TMsgKind, const QString &Text) {
      Shown << Text;
      return TMsgResult::Ok;
    });
    LoadDemoDevice(Device);
  }
  void TearDown() override {
    Form.reset();
    Server.reset();
    SetMessageSink(FOldSink);
    QDir::setCurrent(FOldCurrent);
  }

  // Setup holds the [setup] lines beyond custom=1, Sections whole sections
  // more; with Dashboard the demo's title panel lies beside the program.
  void Start(const QString &Setup = QString(), const QString &Sections = QString(), bool Dashboard = false) {
    if (Dashboard)
      ASSERT_TRUE(QFile::copy(KV_SOURCE_DIR "/tools/devsim/dashboard.XML", FDir.filePath("dashboard.XML")));
    Server = std::make_unique<TDevSimServer>(Device);
    TDevSimOptions o;
    o.UsePty = GetParam() == TLink::Pty;
    o.UseTcp = GetParam() == TLink::Tcp;
    Server->Start(o);
    QString ini = "[setup]\ncustom=1\n" + Setup;
    if (GetParam() == TLink::Tcp) {
      ini += QString("protocol=modbustcp\n[modbustcp]\nhost=127.0.0.1\nport=%1\n").arg(Server->TcpPort());
    } else {
      ini += "protocol=modbus\n";
      RegWriteString("", KV_REG_COM_PORT, Server->PtyPath());
    }
    ini += "[device]\npollPause=1000\n[com]\nTimeout=5000\n[debug]\npoll=0\n";
    ini += Sections;
    SaveFileBytes(FDir.filePath("kv.ini"), ToWin1251(ini));
    FIni = std::make_unique<TAppIniFile>(FDir.filePath("kv.ini"));
    Form = std::make_unique<TMainForm>(*FIni, FDir.path() + "/");
    ASSERT_TRUE(Form->FormShow());
    QObject::connect(Form->StatusBar_, &QStatusBar::messageChanged, [this](const QString &T) {
      if (!T.isEmpty())
        Statuses << T;
    });
    Form->aMonitorPoll->trigger();
    ASSERT_TRUE(WaitIdle());
    ASSERT_EQ(Form->StatusBar_->currentMessage(), "Готово");
    Form->NCustomLogic->trigger();
    Page = Form->ActiveCustomFrame();
    ASSERT_TRUE(Page);
  }
  // No chain runs, and no identification waits to (after another relay
  // found, or a write that replaced the descriptor).
  bool WaitIdle() const {
    return QTest::qWaitFor(
        [this] {
          return Form->IOChain()->ChainCount() == 0 && !Form->IsLinkBusy() &&
                 !Form->Identification()->IsIdentifyAgainPending();
        },
        30000);
  }
  // Refresh on the page; the last status text.
  QString Refresh() {
    Statuses.clear();
    Form->aMonitorRefresh->trigger();
    WaitIdle();
    return Form->StatusBar_->currentMessage();
  }
  QStringList UnitCaptions() const {
    QStringList l;
    for (int i = 0; i < Page->ListViewUnit->count(); ++i)
      l << Page->ListViewUnit->item(i)->text();
    return l;
  }
  // The demo package with sub-file K replaced (or its image changed by Spoil).
  void ServePackage(int K, const QByteArray &Content) {
    std::array<QByteArray, 6> p = DemoLogicPackage(DemoTerminalContent());
    p[size_t(K)] = Content;
    Device.SetFile(DemoDevice::FlashFileNo, BuildExtFlash(p), DemoDevice::FlashFrameBytes);
  }
  // "Сформировать" clicked and answered "Да" throughout, the password typed
  // into its dialog once that shows; the boxes' texts into Shown. OnBox and
  // OnPassword run as a box or the password dialog opens, before the answer.
  // Values answers the setpoints question ("Нет": the logic alone).
  void BuildWritingSetpoints(const std::function<void(TMsgKind Kind)> &OnBox = {},
                             const std::function<void()> &OnPassword = {}, TMsgResult Values = TMsgResult::Yes) {
    Form->SetLoggedIn(false);
    const TMessageSink fixture = SetMessageSink([&](TMsgKind Kind, const QString &Text) {
      Shown << Text;
      if (OnBox)
        OnBox(Kind);
      return Kind == TMsgKind::Question ? Values : Kind == TMsgKind::YesNoQuestion ? TMsgResult::Yes : TMsgResult::Ok;
    });
    TPasswdForm *dlg = Form->Forms().PasswdForm;
    QTimer answerer;
    bool told = false;
    QObject::connect(&answerer, &QTimer::timeout, dlg, [&] {
      if (!dlg->isVisible() || dlg->IsOkPending())
        return;
      if (OnPassword && !std::exchange(told, true))
        OnPassword();
      if (dlg->isVisible()) {
        dlg->Edit->setText(DemoDevice::Password);
        dlg->BitBtn1->click();
      }
    });
    answerer.start(20);
    Form->UpdateActions();
    QTest::mouseClick(Page->ToolButtonCompile, Qt::LeftButton);
    EXPECT_TRUE(WaitIdle());
    answerer.stop();
    SetMessageSink(fixture);
  }
  // The logic read before is still there and a unit can be shown.
  void ExpectLogicKept() {
    EXPECT_TRUE(Page->IsLogicLoaded());
    EXPECT_EQ(Page->Source(), lsDevice);
    EXPECT_EQ(UnitCaptions(), QStringList({"Блок 1", "Блок 2"}));
    Page->ListViewUnit->setCurrentRow(1);
    EXPECT_EQ(Page->CurrentUnit(), 1);
    EXPECT_EQ(Page->SchemaEditor()->Module().AbstractList.Count(), 3);
  }

  QTemporaryDir FDir;
  TSimDevice Device;
  std::unique_ptr<TDevSimServer> Server;
  std::unique_ptr<TMainForm> Form;
  TkvCustomFrame *Page = nullptr;
  QStringList Shown, Statuses;

private:
  QString FOldCurrent;
  TMessageSink FOldSink;
  std::unique_ptr<TAppIniFile> FIni;
};

TEST_P(CustomFrameLink, ReadsThePackageListsTheUnitsAndStoresTheShownOne) {
  Start();
  Form->UpdateActions();
  EXPECT_FALSE(Page->ToolButtonCompile->isEnabled()) << "nothing loaded";
  ASSERT_EQ(Refresh(), "Готово") << Logger().Lines().filter("rror").join("\n").toStdString();
  EXPECT_EQ(Statuses.filter(QRegularExpression("^Чтение")),
            QStringList({"Чтение заголовка", "Чтение schemacode.xml", "Чтение конфигуратора", "Чтение идентификаторов",
                         "Чтение базовой логики", "Чтение начальной логики", "Чтение внешней логики"}));
  // The six files, byte for byte; the device's instruction table took the
  // place of the copy written at set-up (one file, whatever the case).
  const std::array<QByteArray, 6> package = DemoLogicPackage(DemoTerminalContent());
  const char *names[] = {"SchemaCode.xml", "config.xml", "identification.inc", "logic.xml", "custom-logic0.xml",
                         "custom-logic.xml"};
  for (int k = 0; k < 6; ++k)
    EXPECT_EQ(LoadFileBytes(FDir.filePath(names[k])), package[size_t(k)]) << names[k];
  EXPECT_EQ(QDir(FDir.path()).entryList({"schemacode.xml"}, QDir::Files).size(), 1);
  EXPECT_EQ(UnitCaptions(), QStringList({"Блок 1", "Блок 2"}));
  EXPECT_EQ(Page->Source(), lsDevice);
  Form->UpdateActions();
  EXPECT_TRUE(Page->ToolButtonCompile->isEnabled());
  EXPECT_FALSE(Page->ToolButtonLoad->isEnabled());

  // The first unit in the editor; its first input dropped, then the second unit chosen.
  Page->ListViewUnit->setCurrentRow(0);
  TModule &shown = Page->SchemaEditor()->Module();
  ASSERT_EQ(shown.AbstractList.Count(), 5);
  shown.AbstractList.Remove(shown.AbstractList.FindById(1));
  Page->ListViewUnit->setCurrentRow(1);
  EXPECT_EQ(shown.AbstractList.Count(), 3);
  const IXXMLNode stored = Page->Units()[0].Node;
  EXPECT_EQ(stored->GetStrAttr("rect", {}), "22,2,4,4");
  EXPECT_EQ(stored->GetStrAttr("caption", {}), "Блок 1");
  EXPECT_EQ(stored->GetIntAttr("orgid", 0), 7);
  EXPECT_EQ(stored->SelectNodes("implementation/element")->GetCount(), 4);
  const IXXMLNode input = stored->SelectSingleNode("implementation/element[@type='inint']");
  ASSERT_TRUE(input);
  EXPECT_EQ(input->GetIntAttr("gid", -1), 1) << "was 2";
  EXPECT_EQ(input->GetIntAttr("orgid", -1), 3);

  // The command again: the same tab and logic, the program's files written anew.
  const int tabs = Form->PageControl->count();
  SaveFileBytes(FDir.filePath("dummy.xml"), "spoilt");
  Form->NCustomLogic->trigger();
  EXPECT_EQ(Form->ActiveCustomFrame(), Page);
  EXPECT_EQ(Form->PageControl->count(), tabs);
  EXPECT_EQ(LoadFileBytes(FDir.filePath("dummy.xml")), LoadFileBytes(":/custom/dummy.xml"));
  EXPECT_EQ(UnitCaptions(), QStringList({"Блок 1", "Блок 2"}));

  EXPECT_TRUE(Shown.isEmpty()) << Shown.join("|").toStdString();
}

INSTANTIATE_TEST_SUITE_P(Links, CustomFrameLink, ::testing::Values(TLink::Tcp, TLink::Pty));

// Faults of the package over TCP: each leaves the logic loaded before.
class CustomFrameFaults : public CustomFrameLink {};

TEST_P(CustomFrameFaults, SpoiledPackageKeepsTheLogicLoadedBefore) {
  Start();
  ASSERT_EQ(Refresh(), "Готово");
  const TModbusIderList *listBefore = ModbusIderList();
  ASSERT_TRUE(listBefore);
  const uint32_t crcBefore = listBefore->FSourceCrc;

  struct TCase {
    const char *Name;
    std::function<void()> Spoil;
    QString Expected;
  };
  const std::vector<TCase> cases = {
      {"header CRC",
       [this] {
         QByteArray img = BuildExtFlash(DemoLogicPackage(DemoTerminalContent()));
         img[14] = char(img[14] ^ 0x5A);
         Device.SetFile(DemoDevice::FlashFileNo, img, DemoDevice::FlashFrameBytes);
       },
       "Ошибка контрольной суммы FLASH"},
      {"sub-file digest",
       [this] {
         QByteArray img = BuildExtFlash(DemoLogicPackage(DemoTerminalContent()));
         const int at = (uint8_t(img[8]) | uint8_t(img[9]) << 8) * 2048; // sub-file 3
         img[at + 4] = char(img[at + 4] ^ 0x01);
         Device.SetFile(DemoDevice::FlashFileNo, img, DemoDevice::FlashFrameBytes);
       },
       "Ошибка контрольной суммы файла " + QDir(FDir.path()).filePath("logic-read/logic.xml")},
      {"base logic that does not parse",
       [this] {
         // With another identifier listing: the one in place must come back.
         std::array<QByteArray, 6> p = DemoLogicPackage(DemoTerminalContent());
         p[2] += "; another build\r\n";
         p[3] = "<module><implementation>";
         Device.SetFile(DemoDevice::FlashFileNo, BuildExtFlash(p), DemoDevice::FlashFrameBytes);
       },
       "invalid logic"},
      {"custom logic that does not parse", [this] { ServePackage(5, "<custom-logic"); }, "invalid custom logic"},
  };
  for (const TCase &c : cases) {
    SCOPED_TRACE(c.Name);
    c.Spoil();
    EXPECT_EQ(Refresh(), c.Expected);
    ExpectLogicKept();
    ASSERT_TRUE(ModbusIderList());
    EXPECT_EQ(ModbusIderList()->FSourceCrc, crcBefore);
    Page->ListViewUnit->setCurrentRow(0);
  }
}

// Names edited in the two dialogs, stored into the custom logic and applied
// by the main window, read back from the run-time descriptor as shown.
TEST_P(CustomFrameFaults, NamesAppliedToTheRunTimeDescriptorEqualTheDialogs) {
  Start();
  ASSERT_EQ(Refresh(), "Готово");
  TDeviceDescriptor *desc = Page->Descriptor();
  ASSERT_TRUE(desc);
  TCustomUstavForm *ustav = Form->Forms().CustomUstavForm;
  TCustomParamIOForm *io = Form->Forms().CustomParamIOForm;
  ustav->SetDescriptor(desc);
  io->SetDescriptor(desc);
  ASSERT_EQ(ustav->sgUstav->rowCount(), 3) << "two custom setpoints";
  ustav->sgUstav->SetCells(2, 2, "Выдержка МТЗ-1 изм.");
  io->sgParam->SetCells(2, 4, "Вход четыре");
  io->sgParam->SetCells(2, 17, "Реле один");
  StoreNameTables(*desc, Page->CustomRoot());
  SaveXMLDocument(Page->CustomDoc(), FDir.filePath("custom-logic.xml"));
  Form->Identification()->ApplyCustomLogicNames();

  const IXXMLNode run = Form->Descriptor()->Root;
  const std::vector<TCustomUstavRow> ustavRows = CustomUstavRows(*desc);
  for (int r = 1; r < ustav->sgUstav->rowCount(); ++r) {
    int position = 0;
    while (desc->GetUstav(position) != ustavRows[size_t(r - 1)].Ustav)
      ++position;
    EXPECT_EQ(run->GetStrNode(QString("ustav/*[ider=%1]/string[not(ider)]").arg(position + 1)),
              ustav->sgUstav->Cells(2, r)) << "setpoint row " << r;
  }
  const std::vector<TCustomParamIORow> ioRows = CustomParamIORows(*desc);
  for (int r = 1; r < io->sgParam->rowCount(); ++r) {
    const TCustomParamIORow &row = ioRows[size_t(r - 1)];
    EXPECT_EQ(run->GetStrNode(QString("param/input-output/param-bitreg[record-type=%1]/string[ider=%2]/value")
                                  .arg(row.RecordType)
                                  .arg(row.Index)),
              io->sgParam->Cells(2, r)) << "circuit row " << r;
  }
  EXPECT_EQ(io->sgParam->Cells(2, 17), "Реле один");
}


// The demo's logic built and written by the page (logic only), restored
// without a word to the device, saved as a project through the main
// window's file commands; a spoiled project leaves the page as it was.
TEST_P(CustomFrameFaults, DemoLogicIsBuiltWrittenRestoredAndSaved) {
  Start();
  // The identification's register reads, to be repeated on the descriptor written in full.
  const auto registerReads = [this] {
    std::vector<QByteArray> reads;
    for (const QByteArray &pdu : Device.RequestLog())
      if (uint8_t(pdu[0]) == SIM_FN_READ_HOLDING)
        reads.push_back(pdu);
    return reads;
  };
  const std::vector<QByteArray> demoReads = registerReads();
  ASSERT_FALSE(demoReads.empty());
  ASSERT_EQ(Refresh(), "Готово");
  QList<TMsgKind> kinds;
  const TMessageSink fixture = SetMessageSink([this, &kinds](TMsgKind Kind, const QString &Text) {
    Shown << Text;
    kinds << Kind;
    // The device's setpoints differ from the logic's: kept ("Нет").
    return Kind == TMsgKind::YesNoQuestion ? TMsgResult::Yes
           : Kind == TMsgKind::Question    ? TMsgResult::No
                                           : TMsgResult::Ok;
  });
  Device.ClearLogs();
  Shown.clear();
  QList<uint32_t> colours; // of the tool bar at each status text
  QObject::connect(Form->StatusBar_, &QStatusBar::messageChanged, Page, [&] { colours << Form->ToolBarColor(); });
  Page->Build();
  ASSERT_TRUE(WaitIdle());
  ASSERT_EQ(Shown.size(), 2) << Shown.join("|").toStdString();
  EXPECT_TRUE(Shown[1].startsWith("Значения уставок и параметров в логике отличаются")) << Shown[1].toStdString();
  EXPECT_EQ(Shown[0], "Внимание! Запись СКЛ изменит логическую схему прибора. Продолжить?");
  // The write's end is its report in the status line, not a box.
  EXPECT_EQ(Form->StatusBar_->currentMessage(), "Готово") << Statuses.join("|").toStdString();
  EXPECT_EQ(colours.value(0), 0xFFFFFFu) << "white from the build's start";
  EXPECT_EQ(kinds.value(0), TMsgKind::YesNoQuestion) << "the build asks with Yes and No";
  EXPECT_EQ(Page->LabelStatus->text(), "") << "reset once the write has ended";
  QObject::disconnect(Form->StatusBar_, &QStatusBar::messageChanged, Page, nullptr);
  EXPECT_EQ(Device.SpecialLog(), std::vector<uint8_t>({0xF0, 0xF1, 0xFF}));
  const QByteArray code = LoadFileBytes(FDir.filePath("generated.bin"));
  const QByteArray image = Device.FileBytes(DemoDevice::DescriptorFileNo);
  EXPECT_EQ(image.mid(CodeFirstFrame(image, code.size()) * 128, code.size()), code);

  Device.ClearLogs();
  Page->Undo();
  EXPECT_TRUE(Device.RequestLog().empty()) << "a restore sends nothing";
  EXPECT_EQ(LoadFileBytes(FDir.filePath("custom-logic.xml")), LoadFileBytes(FDir.filePath("custom-logic0.xml")));
  EXPECT_EQ(Page->Source(), lsDevice);

  const QString project = FDir.filePath("demo.pack");
  const TFileDialogSink oldDialogs = SetFileDialogSink([project](const TFileDialogRequest &) { return project; });
  Form->apFileSave->trigger(); // no project yet: asks for the name
  EXPECT_TRUE(QFile::exists(project));
  EXPECT_EQ(Page->LabelFileName->toolTip(), "demo.pack");
  const QByteArray saved = LoadFileBytes(project);
  EXPECT_TRUE(FromWin1251(UnpackRecords(saved, CustomFiles::ProjectNames()).value(2)).contains("Логика терминала"))
      << "the base logic keeps its root caption after a build";
  QByteArray spoiled = saved;
  spoiled[spoiled.size() - 20] = char(spoiled[spoiled.size() - 20] ^ 1);
  SaveFileBytes(project, spoiled);
  const QByteArray custom = LoadFileBytes(FDir.filePath("custom-logic.xml"));
  // The engineer's next command: the write's report has been read.
  QTest::mouseClick(Form->StatusBar_, Qt::LeftButton);
  Form->apFileLoad->trigger();
  EXPECT_EQ(Form->StatusBar_->currentMessage(), "invalid HashValue");
  EXPECT_EQ(LoadFileBytes(FDir.filePath("custom-logic.xml")), custom);
  ExpectLogicKept();

  // The project as saved, loaded into an emptied work folder and written in
  // full (no register write: setup/customParamUstavWrite is 0); identification
  // then decodes the new descriptor image and reads the demo's registers again.
  SaveFileBytes(project, saved);
  for (const QString &n : CustomFiles::ProjectNames())
    QFile::remove(FDir.filePath(n));
  Form->apFileLoad->trigger();
  ASSERT_EQ(Page->Source(), lsProject);
  // A restore keeps where the logic came from: the build below still writes in full.
  Page->Undo();
  ASSERT_EQ(Page->Source(), lsProject);
  Shown.clear();
  Device.ClearLogs();
  Page->Build();
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(Shown.size(), 1) << Shown.join("|").toStdString();
  EXPECT_EQ(Form->StatusBar_->currentMessage(), "Готово") << Statuses.join("|").toStdString();
  for (const QByteArray &pdu : Device.RequestLog())
    EXPECT_NE(uint8_t(pdu[0]), SIM_FN_WRITE_HOLDING);
  EXPECT_EQ(Device.SpecialLog(), std::vector<uint8_t>({0xF0, 0xF1, 0xFF}));
  EXPECT_EQ(Device.FileBytes(DemoDevice::FlashFileNo), LoadFileBytes(FDir.filePath("extflash.bin")));
  const QByteArray written = Device.FileBytes(DemoDevice::DescriptorFileNo);
  EXPECT_EQ(written, LoadFileBytes(FDir.filePath("desc.bin")));
  // The write changed what the identity check compares, and kept it afresh:
  // the next write passes the check.
  Device.ClearLogs();
  Form->UpdateActions();
  QTest::mouseClick(Page->ToolButtonCustomLogicWrite, Qt::LeftButton);
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(Form->StatusBar_->currentMessage(), "Готово");
  EXPECT_EQ(Writes(Device), 1) << RequestOrder(Device).join("|").toStdString();
  Device.ClearLogs();
  Form->aMonitorPoll->trigger();
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(Form->StatusBar_->currentMessage(), "Готово");
  EXPECT_EQ(LoadFileBytes(FDir.filePath(IdentFiles::DescriptorBin)).left(written.size()), written)
      << "read in whole frames";
  EXPECT_EQ(Form->LabelDescID->text(), QDate::currentDate().toString("yyyy-MM-dd")) << "the build's date";
  EXPECT_EQ(registerReads(), demoReads);
  SetFileDialogSink(oldDialogs);
  SetMessageSink(fixture);
}

// The logic-only write reads the device's values of the custom setpoints
// first: the ones the engineer changed since the logic was written (on
// "Уставки", here in the device itself) are listed in one question whose
// answer decides what is written, and the password comes before any write.
TEST_P(CustomFrameFaults, LogicWriteAsksBeforeChangingTheDevicesSetpoints) {
  Start();
  ASSERT_EQ(Refresh(), "Готово");
  // The custom setpoints (pickup and delay of МТЗ-1) hold the logic's values in
  // both groups, as after a write; then the group 1 pickup and the group 2
  // delay are changed on the device.
  const std::map<uint16_t, uint16_t> logic{{100, 10}, {101, 0}, {150, 10}, {151, 0}};
  const std::map<uint16_t, uint16_t> changed{{100, 4800}, {151, 300}};
  const auto setDevice = [this](const std::map<uint16_t, uint16_t> &Values) {
    for (const auto &[reg, value] : Values)
      Device.SetRegister(TSimArea::Holding, reg, value);
  };
  const auto held = [this] {
    std::map<uint16_t, uint16_t> out;
    for (uint16_t reg : {100, 101, 150, 151})
      out[reg] = Device.Register(TSimArea::Holding, reg);
    return out;
  };
  const auto writes = [this] {
    QStringList out;
    for (const QByteArray &pdu : Device.RequestLog())
      if (const uint8_t fn = uint8_t(pdu[0]);
          fn == SIM_FN_WRITE_HOLDING || fn == SIM_FN_WRITE_FILE || fn == SIM_FN_SPECIAL || fn == SIM_FN_WRITE_SRAM)
        out << QString("%1:%2").arg(fn, 2, 16, QChar('0')).arg(uint8_t(pdu[1]));
    out.removeDuplicates();
    return out;
  };
  const QString question = "Значения уставок и параметров в логике отличаются от значений в приборе:\r\n"
                           "Ток срабатывания МТЗ-1, группа 1: 4800 -> 10\r\n"
                           "Выдержка времени МТЗ-1, группа 2: 300 -> 0\r\n"
                           "Да - записать значения логики; Нет - оставить значения прибора и записать только логику; "
                           "Отмена - ничего не записывать";
  TPasswdForm *dlg = Form->Forms().PasswdForm;
  const struct {
    const char *Name;
    std::map<uint16_t, uint16_t> Device; // set before the build
    TMsgResult Answer;                  // to the question
    int Password;                       // -1 not to be asked, 0 cancelled, 1 entered
    std::map<uint16_t, uint16_t> After;
    bool LogicWritten;
  } cases[] = {
      {"Отмена", changed, TMsgResult::Cancel, -1, {{100, 4800}, {101, 0}, {150, 10}, {151, 300}}, false},
      {"Нет", changed, TMsgResult::No, -1, {{100, 4800}, {101, 0}, {150, 10}, {151, 300}}, true},
      {"Да, the password cancelled", changed, TMsgResult::Yes, 0, {{100, 4800}, {101, 0}, {150, 10}, {151, 300}},
       false},
      {"Да", changed, TMsgResult::Yes, 1, logic, true},
      {"the device's values equal the logic's", {}, TMsgResult::Cancel, -1, logic, true},
  };
  setDevice(logic);
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Name);
    setDevice(c.Device);
    Form->SetLoggedIn(false);
    QStringList questions, boxes;
    const TMessageSink fixture = SetMessageSink([&](TMsgKind Kind, const QString &Text) {
      if (Kind == TMsgKind::Question)
        questions << Text;
      else if (Kind != TMsgKind::YesNoQuestion)
        boxes << Text;
      return Kind == TMsgKind::Question ? c.Answer : Kind == TMsgKind::YesNoQuestion ? TMsgResult::Yes : TMsgResult::Ok;
    });
    // The password dialog answered through its own buttons once it shows.
    int asked = 0;
    QStringList writesBeforePassword;
    QTimer answerer;
    QObject::connect(&answerer, &QTimer::timeout, dlg, [&] {
      if (!dlg->isVisible() || dlg->IsOkPending())
        return;
      if (asked++ == 0)
        writesBeforePassword = writes();
      if (c.Password > 0) {
        dlg->Edit->setText(DemoDevice::Password);
        dlg->BitBtn1->click();
      } else {
        dlg->BitBtn2->click();
      }
    });
    answerer.start(20);
    Device.ClearLogs();
    Page->Build();
    ASSERT_TRUE(WaitIdle());
    answerer.stop();
    SetMessageSink(fixture);
    EXPECT_EQ(questions, c.Device.empty() ? QStringList() : QStringList{question});
    EXPECT_EQ(asked > 0, c.Password >= 0) << "the password asked";
    EXPECT_TRUE(writesBeforePassword.isEmpty()) << writesBeforePassword.join(" ").toStdString();
    EXPECT_EQ(held(), c.After);
    const QStringList sent = writes();
    EXPECT_EQ(Device.SpecialLog(), c.LogicWritten ? std::vector<uint8_t>({0xF0, 0xF1, 0xFF}) : std::vector<uint8_t>())
        << sent.join(" ").toStdString();
    EXPECT_EQ(!sent.filter(QRegularExpression("^06:")).isEmpty(), c.Answer == TMsgResult::Yes && c.Password > 0)
        << "a register written: " << sent.join(" ").toStdString();
    EXPECT_TRUE(boxes.isEmpty()) << boxes.join("|").toStdString();
    if (c.LogicWritten)
      EXPECT_EQ(Form->StatusBar_->currentMessage(), "Готово") << Statuses.join("|").toStdString();
  }
}

// A setpoint of each group that the relay does not keep: the question names
// it by the group the report names it by.
TEST_P(CustomFrameFaults, TheSetpointsQuestionAndReportNameOneGroup) {
  Start();
  ASSERT_EQ(Refresh(), "Готово");
  const struct {
    uint16_t Reg;
    const char *Group;
  } cases[] = {{100, "1"}, {151, "2"}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Reg);
    for (const auto &[reg, value] : std::map<uint16_t, uint16_t>{{100, 10}, {101, 0}, {150, 10}, {151, 0}})
      Device.SetRegister(TSimArea::Holding, reg, value);
    Device.SetRegister(TSimArea::Holding, c.Reg, 300);
    TSimFault unkept = ParseSimFault("unkept");
    unkept.Register = c.Reg;
    Device.SetFault(unkept);
    Shown.clear();
    BuildWritingSetpoints();
    Device.SetFault({});
    const QStringList asked = Shown.filter("Значения уставок");
    ASSERT_EQ(asked.size(), 1) << Shown.join("|").toStdString();
    const QRegularExpressionMatch q = QRegularExpression(", группа (\\d)").match(asked[0]);
    const QRegularExpressionMatch r = QRegularExpression("Группа (\\d)").match(Form->StatusBar_->currentMessage());
    ASSERT_TRUE(q.hasMatch() && r.hasMatch()) << asked[0].toStdString() << " / "
                                              << Form->StatusBar_->currentMessage().toStdString();
    EXPECT_EQ(q.captured(1), c.Group);
    EXPECT_EQ(r.captured(1), c.Group);
  }
}

// "Сформировать", "Да - записать значения логики", and the relay keeps its
// own value of a setpoint it acknowledged: the window names it as the pages
// do, kv.log once, no "Готово" follows, and the relay's logic runs again.
TEST_P(CustomFrameFaults, ALogicValueTheRelayDidNotKeepIsNamedWithoutReady) {
  Start();
  ASSERT_EQ(Refresh(), "Готово");
  for (const auto &[reg, value] : std::map<uint16_t, uint16_t>{{100, 4800}, {101, 0}, {150, 10}, {151, 0}})
    Device.SetRegister(TSimArea::Holding, reg, value);
  TSimFault unkept = ParseSimFault("unkept");
  unkept.Register = 100;
  Device.SetFault(unkept);
  Form->SetLoggedIn(true);
  QStringList boxes;
  const TMessageSink fixture = SetMessageSink([&](TMsgKind Kind, const QString &Text) {
    if (Kind != TMsgKind::Question && Kind != TMsgKind::YesNoQuestion)
      boxes << Text;
    return Kind == TMsgKind::Question || Kind == TMsgKind::YesNoQuestion ? TMsgResult::Yes : TMsgResult::Ok;
  });
  Logger().Clear();
  Device.ClearLogs();
  Statuses.clear();
  Page->Build();
  ASSERT_TRUE(WaitIdle());
  SetMessageSink(fixture);
  Device.SetFault({});
  EXPECT_EQ(Device.Register(TSimArea::Holding, 100), 4800);
  EXPECT_EQ(Device.SpecialLog(), std::vector<uint8_t>({0xF0, 0xF1, 0xFF}));
  const QString named = "Не сохранено устройством: Группа 1: Ток срабатывания МТЗ-1: ";
  EXPECT_TRUE(Form->StatusBar_->currentMessage().startsWith(named)) << Statuses.join("|").toStdString();
  EXPECT_FALSE(Statuses.contains("Готово")) << Statuses.join("|").toStdString();
  EXPECT_EQ(Logger().Lines().filter(named).size(), 1) << Logger().Lines().join("\n").toStdString();
  EXPECT_TRUE(boxes.isEmpty()) << boxes.join("|").toStdString();
}

// A project written in full with setup/customParamUstavWrite set asks the
// same question over every setpoint and parameter the device holds otherwise;
// "Отмена" writes nothing.
TEST_P(CustomFrameFaults, FullWriteOfSetpointsAsksTheSameQuestion) {
  Start("customParamUstavWrite=1\n");
  ASSERT_EQ(Refresh(), "Готово");
  const QString project = FDir.filePath("full.pack");
  Page->SaveAs(project);
  Page->LoadFromFile(project);
  ASSERT_EQ(Page->Source(), lsProject);
  // The demo logic keeps address 0, which the limit check refuses: the relay's own.
  const IXXMLNodeList nums = Page->LogicNode()->SelectNodes("//param-num");
  for (int i = 0; i < nums->GetCount(); ++i)
    if (nums->GetItem(i)->GetStrNode("string") == "Адрес Modbus")
      nums->GetItem(i)->SetIntNode("word-value", 1);
  QStringList questions;
  const TMessageSink fixture = SetMessageSink([&](TMsgKind Kind, const QString &Text) {
    if (Kind == TMsgKind::Question)
      questions << Text;
    return Kind == TMsgKind::YesNoQuestion ? TMsgResult::Yes : TMsgResult::Cancel;
  });
  Device.ClearLogs();
  Page->Build();
  ASSERT_TRUE(WaitIdle());
  SetMessageSink(fixture);
  ASSERT_EQ(questions.size(), 1);
  // Both groups of every setpoint, then the parameters, in descriptor order;
  // an item by its name, a bit set by its word and the positions it sets, a
  // number scaled by its measure (the voltage's divider is 10).
  EXPECT_EQ(questions[0], "Значения уставок и параметров в логике отличаются от значений в приборе:\r\n"
                          "Ток срабатывания МТЗ-1, группа 1: 4800 -> 10\r\n"
                          "Ток срабатывания МТЗ-1, группа 2: 6000 -> 10\r\n"
                          "Выдержка времени МТЗ-1, группа 1: 500 -> 0\r\n"
                          "Выдержка времени МТЗ-1, группа 2: 300 -> 0\r\n"
                          "Направленность МТЗ-1, группа 1: вперед -> нет\r\n"
                          "Уставка ЗМН по напряжению, группа 1: 700 -> 10\r\n"
                          "Уставка ЗМН по напряжению, группа 2: 650 -> 10\r\n"
                          "Пуск МТЗ-1 от, группа 1: 37 (Ia, Ic, Внешний) -> 0\r\n"
                          "Пуск МТЗ-1 от, группа 2: 5 (Ia, Ic) -> 0\r\n"
                          "Режим работы терминала: Введен -> Выведен\r\n"
                          "Время возврата, с: 1234 -> 0\r\n"
                          "Да - записать значения логики; Нет - оставить значения прибора и записать только логику; "
                          "Отмена - ничего не записывать");
  // Reads only: the identity check's frame and SRAM words, the registers, the password.
  for (const QByteArray &pdu : Device.RequestLog())
    EXPECT_TRUE(uint8_t(pdu[0]) == SIM_FN_READ_HOLDING || uint8_t(pdu[0]) == SIM_FN_READ_STATUS ||
                uint8_t(pdu[0]) == SIM_FN_READ_FILE || uint8_t(pdu[0]) == SIM_FN_READ_SRAM)
        << int(uint8_t(pdu[0]));
  EXPECT_TRUE(Device.SpecialLog().empty());
}

// A read spoiled at each of its requests in turn, from a device holding
// another build of the logic: the work folder stays byte for byte as it was
// and the page keeps its logic; Save then packs the files of that logic even
// where the folder was changed behind the page's back.
TEST_P(CustomFrameFaults, SpoiledReadLeavesTheWorkFolderAndSaveTakesTheLoadedFiles) {
  Start();
  ASSERT_EQ(Refresh(), "Готово");
  const std::array<QByteArray, 6> loaded = DemoLogicPackage(DemoTerminalContent());
  Device.ClearLogs();
  ASSERT_EQ(Refresh(), "Готово");
  const int requests = int(Device.RequestLog().size());
  ASSERT_GT(requests, 6);
  const auto folder = [this] {
    std::map<QString, QByteArray> files;
    for (const QString &n : QDir(FDir.path()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot))
      if (n != "user.conf" && !n.endsWith(".log") && !n.contains(".trc")) // the program's own logs
        files[n] = QFileInfo(FDir.filePath(n)).isDir() ? "folder" : LoadFileBytes(FDir.filePath(n));
    return files;
  };
  const std::map<QString, QByteArray> before = folder();
  std::array<QByteArray, 6> other = loaded;
  other[1] += "<!-- another build -->";
  other[2] += "; another build\r\n";
  other[3].replace(ToWin1251("Логика терминала"), ToWin1251("Другая логика"));
  Device.SetFile(DemoDevice::FlashFileNo, BuildExtFlash(other), DemoDevice::FlashFrameBytes);
  for (int k = 0; k < requests; ++k) {
    SCOPED_TRACE(k);
    TSimFault f;
    f.Kind = TSimFaultKind::Exception;
    f.Value = 4;
    f.After = k;
    f.Count = 1;
    Device.SetFault(f);
    EXPECT_NE(Refresh(), "Готово");
    const std::map<QString, QByteArray> now = folder();
    QStringList changed;
    for (const auto &[name, bytes] : now)
      if (!before.count(name) || before.at(name) != bytes)
        changed << name;
    for (const auto &[name, bytes] : before)
      if (!now.count(name))
        changed << name;
    EXPECT_EQ(changed, QStringList());
    ExpectLogicKept();
    Page->ListViewUnit->setCurrentRow(0);
  }
  Device.SetFault({});

  SaveFileBytes(FDir.filePath("config.xml"), other[1]);
  SaveFileBytes(FDir.filePath("identification.inc"), other[2]);
  const QString project = FDir.filePath("kept.pack");
  Page->SaveAs(project);
  const QList<QByteArray> packed = UnpackRecords(LoadFileBytes(project), CustomFiles::ProjectNames());
  ASSERT_EQ(packed.size(), 5);
  EXPECT_EQ(packed[0], loaded[1]) << "config.xml";
  EXPECT_EQ(packed[1], loaded[2]) << "identification.inc";
  EXPECT_EQ(packed[3], loaded[4]) << "custom-logic0.xml";
  EXPECT_TRUE(FromWin1251(packed[2]).contains("Логика терминала")) << "logic.xml with its root caption";
}

// Logic read from one relay and a project made on it, the cable then on
// devsim's second relay (another identifier listing, another descriptor
// image) identified by "Опрос": neither build nor write sends anything to it,
// each refused with its text; once read from that relay, its own logic builds.
TEST_P(CustomFrameFaults, LogicReadFromOneDeviceIsNotWrittenIntoAnother) {
  Start();
  ASSERT_EQ(Refresh(), "Готово");
  const QString project = FDir.filePath("first.pack");
  Page->SaveAs(project);
  const TUnitIdentity identityA = Form->Identification()->Unit();
  LoadDemoDevice(Device, 2);
  Form->aMonitorPoll->trigger();
  ASSERT_TRUE(WaitIdle());
  ASSERT_EQ(Form->StatusBar_->currentMessage(), "Готово");
  ASSERT_FALSE(Form->Identification()->Unit().SameUnit(identityA));

  const TMessageSink fixture = SetMessageSink([this](TMsgKind Kind, const QString &Text) {
    Shown << Text;
    // The relay's setpoints differ from the logic's: kept ("Нет").
    return Kind == TMsgKind::YesNoQuestion ? TMsgResult::Yes
           : Kind == TMsgKind::Question    ? TMsgResult::No
                                           : TMsgResult::Ok;
  });
  for (const QString refused : {"Логика прочитана не из подключённого прибора: прочитайте логику из прибора или "
                                "откройте проект",
                                "Недопустимый файл идентификаторов"}) {
    if (refused.startsWith("Недопустимый"))
      Page->LoadFromFile(project);
    for (QToolButton *button : {Page->ToolButtonCompile, Page->ToolButtonCustomLogicWrite}) {
      SCOPED_TRACE((refused + " " + button->objectName()).toStdString());
      Device.ClearLogs();
      Shown.clear();
      Form->UpdateActions();
      ASSERT_TRUE(button->isEnabled());
      QTest::mouseClick(button, Qt::LeftButton);
      ASSERT_TRUE(WaitIdle());
      EXPECT_EQ(Shown.count(refused), 1) << Shown.join("|").toStdString();
      EXPECT_EQ(Shown.last(), refused);
      EXPECT_EQ(Form->StatusBar_->currentMessage(), refused);
      EXPECT_EQ(Device.RequestLog().size(), 0u);
    }
  }

  ASSERT_EQ(Refresh(), "Готово");
  Shown.clear();
  Page->Build();
  ASSERT_TRUE(WaitIdle());
  ASSERT_EQ(Shown.size(), 2) << Shown.join("|").toStdString();
  EXPECT_EQ(Shown.front(), "Внимание! Запись СКЛ изменит логическую схему прибора. Продолжить?");
  EXPECT_EQ(Form->StatusBar_->currentMessage(), "Готово");
  EXPECT_EQ(Device.SpecialLog(), std::vector<uint8_t>({0xF0, 0xF1, 0xFF}));
  SetMessageSink(fixture);
}

// "Сформировать" → "Да" → "Да" → password: the setpoints the logic write
// changed show on "Уставки" and on the title panel at once, read back from
// the relay; a cell edited on "Уставки" and not yet written keeps the edit.
TEST_P(CustomFrameFaults, PagesShowTheSetpointsALogicWriteChanged) {
  Start("", "[ustav]\ndirectEdit=2\n", true);
  ASSERT_EQ(Refresh(), "Готово");
  TUstavFrame *ustav = Form->UstavFrame;
  const auto rowOf = [ustav](const QString &Name) {
    for (int r = 1; r < ustav->sgUstav->rowCount(); ++r)
      if (ustav->sgUstav->Cells(1, r) == Name)
        return r;
    return -1;
  };
  const int pickup = rowOf("Ток срабатывания МТЗ-1"), delay = rowOf("Выдержка времени МТЗ-1");
  ASSERT_GT(pickup, 0);
  ASSERT_GT(delay, 0);
  TUstavPanel *panel = nullptr;
  for (QWidget *w : ControlsOf(Form->DashboardFrame->Panel, true))
    if (auto *u = qobject_cast<TUstavPanel *>(w); u && u->idx() == 0)
      panel = u;
  ASSERT_TRUE(panel);
  // One after the other, as the refresh command (on an idle link) and the
  // panel's timer start them: the setpoints' identity check reads files.
  ustav->Refresh();
  ASSERT_TRUE(WaitIdle());
  Form->DashboardFrame->Refresh();
  ASSERT_TRUE(WaitIdle());
  const auto shown = [&] {
    return QStringList{ustav->sgUstav->Cells(2, pickup), ustav->sgUstav->Cells(3, pickup),
                       ustav->sgUstav->Cells(2, delay),  ustav->sgUstav->Cells(3, delay),
                       panel->Edit(0)->text(),          panel->Edit(1)->text()};
  };
  ASSERT_EQ(shown(), QStringList({"4800", "6000", "500", "300", "4800", "6000"}));
  Form->show();
  Form->PageControl->setCurrentWidget(Form->TabSheetUstav);
  ustav->SetEditMode(true);
  ustav->sgUstav->setCurrentCell(delay, 2);
  ustav->Editor()->StartEdit();
  ASSERT_TRUE(ustav->Editor()->Edit->isVisible());
  ustav->Editor()->Edit->setText("600");
  QTest::keyClick(ustav->Editor()->Edit, Qt::Key_Return);

  Device.ClearLogs();
  BuildWritingSetpoints();
  for (const auto &[reg, value] : std::map<uint16_t, uint16_t>{{100, 10}, {150, 10}, {101, 0}, {151, 0}})
    ASSERT_EQ(Device.Register(TSimArea::Holding, reg), value) << reg;
  EXPECT_EQ(shown(), QStringList({"10", "10", "600", "0", "10", "10"}));
  EXPECT_TRUE(ustav->CellChanged(2, delay)) << "the edit stays an edit";
  EXPECT_FALSE(ustav->CellChanged(3, delay));
}

// The requests of each button of the tab, in the order the README gives
// them: "Обновить", "Сформировать" on logic read from the relay (its
// setpoints written: "Да", password), "Сохранить FLASH", "Сформировать" on a
// project (written in full, no register written).
TEST_P(CustomFrameFaults, EachButtonSendsItsRequestsInTheReadmeOrder) {
  Start();
  // The identity check: the descriptor's first frame and the calibration values in SRAM.
  const QStringList check{"R129:0", "fn53"}, regs{"100", "150", "101", "151"};
  const auto each = [&regs](const char *Prefix) {
    QStringList out;
    for (const QString &r : regs)
      out << Prefix + r;
    return out;
  };
  const struct {
    const char *Button;
    std::function<void()> Press;
    QStringList Order;
  } buttons[] = {
      // The relay checked before its logic is read.
      {"Обновить", [this] { ASSERT_EQ(Refresh(), "Готово"); }, check + QStringList{"R140:0-7", "R140:64"}},
      // The custom logic's first frame read again right after the check.
      {"Сформировать", [this] { BuildWritingSetpoints(); },
       check + each("r") + QStringList{"r60", "R140:0", "R129:0"} + check +
           QStringList{"R140:64", "F0", "W129:48-51", "R129:48-51", "W140:64", "R140:64", "F1"} + each("w") +
           each("r") + QStringList{"FF"} + check},
      {"Сохранить FLASH",
       [this] {
         QTest::mouseClick(Page->ToolButtonCustomLogicWrite, Qt::LeftButton);
         ASSERT_TRUE(WaitIdle());
       },
       QStringList{"R140:0"} + check + QStringList{"R140:64", "W140:64", "R140:64"}},
      {"Сформировать, project",
       [this] {
         Page->SaveAs(FDir.filePath("p.pack"));
         Page->LoadFromFile(FDir.filePath("p.pack"));
         BuildWritingSetpoints();
       },
       // The descriptor's first frame last; then the relay identified anew,
       // its new descriptor read whole.
       check + QStringList{"F0", "W140:0-64", "R140:0-64", "W129:1-55", "W129:0", "R129:0-55", "F1", "FF"}},
  };
  for (const auto &b : buttons) {
    SCOPED_TRACE(b.Button);
    Device.ClearLogs();
    b.Press();
    const QStringList order = RequestOrder(Device);
    EXPECT_EQ(order.mid(0, b.Order.size()), b.Order);
    if (QString(b.Button).endsWith("project"))
      EXPECT_TRUE(order.value(b.Order.size()).startsWith("R129:0-")) << order.join(" ").toStdString();
    else
      EXPECT_EQ(order.size(), b.Order.size()) << order.join(" ").toStdString();
  }
}

// Logic read from the first demo relay; the second one answers instead
// before the build (the logic write's reads for its question begin with the
// identity check, which finds it: no question is built from its registers),
// or is identified while a box of the write is open (the build's question,
// the setpoints question, the password: the answer given then applies to
// nothing). Nothing reaches the new relay, which is identified, and the box
// says what was not written.
TEST_P(CustomFrameFaults, LogicPreparedForOneRelayNeverReachesTheNext) {
  enum TWhen { BeforeBuild, InBuildQuestion, InSetpointsQuestion, InPassword };
  for (const TWhen when : {BeforeBuild, InBuildQuestion, InSetpointsQuestion, InPassword}) {
    SCOPED_TRACE(int(when));
    Form.reset();
    Server.reset();
    LoadDemoDevice(Device);
    Start();
    ASSERT_EQ(Refresh(), "Готово");
    const auto otherRelay = [this](bool Identify) {
      LoadDemoDevice(Device, 2);
      Device.ClearLogs();
      if (Identify) {
        Form->aMonitorPoll->trigger();
        WaitIdle();
      }
    };
    if (when == BeforeBuild)
      otherRelay(false);
    BuildWritingSetpoints(
        [&](TMsgKind Kind) {
          if ((Kind == TMsgKind::YesNoQuestion && when == InBuildQuestion) ||
              (Kind == TMsgKind::Question && when == InSetpointsQuestion))
            otherRelay(true);
        },
        [&] {
          if (when == InPassword)
            otherRelay(true);
        });
    EXPECT_EQ(Form->LabelDescID->text(), DemoTerminalContent(2).DescDate.toString("yyyy-MM-dd"));
    EXPECT_FALSE(Form->IsLoggedIn());
    EXPECT_EQ(Writes(Device), 0);
    // The new relay's own map has no group 2 at 150.
    EXPECT_FALSE(RequestOrder(Device).contains("r150"));
    EXPECT_TRUE(WriteBoxText(Form.get()).startsWith("Не записано: Внешняя логика"))
        << WriteBoxText(Form.get()).toStdString();
  }
}

// A project whose container is sound but one of whose members is not what
// it must be (a logic that does not load, a document of another kind): the
// page keeps its logic, its project and the work files, and nothing is
// sent; a Save then writes the project it had, and a project that loads
// clears the error.
TEST_P(CustomFrameFaults, ProjectThatFailsToLoadLeavesThePageAsItWas) {
  Start();
  ASSERT_EQ(Refresh(), "Готово");
  const QString kept = FDir.filePath("kept.pack"), failing = FDir.filePath("failing.pack");
  Page->ListViewUnit->setCurrentRow(1); // a unit shown, as ExpectLogicKept leaves it
  Page->SaveAs(kept);
  std::array<QByteArray, 6> package = DemoLogicPackage(DemoTerminalContent());
  package[1] += "<!-- another build -->";
  package[2] += "; another build\r\n";
  const auto workFiles = [this] {
    QStringList md5;
    for (const QString &n : CustomFiles::ProjectNames())
      md5 << n + " " + BytesMD5(LoadFileBytes(FDir.filePath(n))).toHex();
    return md5;
  };
  const QStringList before = workFiles();
  const QByteArray keptBytes = LoadFileBytes(kept);
  QString asked = failing;
  const TFileDialogSink oldDialogs = SetFileDialogSink([&asked](const TFileDialogRequest &) { return asked; });
  const struct {
    int SubFile; // of the package, replaced
    QByteArray Content;
    QString Expected;
  } cases[] = {
      {3, QByteArray(package[3]).replace("<implementation>", "<implementation><x/>"),
       "failing.pack: logic.xml: invalid NodeName: x"},
      {3, "<x/>", "failing.pack: logic.xml: invalid root element: x"},
      {5, "<x/>", "failing.pack: custom-logic.xml: invalid root element: x"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Expected.toStdString());
    std::array<QByteArray, 6> p = package;
    p[size_t(c.SubFile)] = c.Content;
    SaveFileBytes(failing, PackRecords({{"config.xml", p[1]},
                                        {"identification.inc", p[2]},
                                        {"logic.xml", p[3]},
                                        {"custom-logic0.xml", p[4]},
                                        {"custom-logic.xml", p[5] + "<!-- edited -->"}}));
    const QByteArray failingBytes = LoadFileBytes(failing);
    Device.ClearLogs();
    Form->apFileLoad->trigger();
    EXPECT_EQ(Form->StatusBar_->currentMessage(), c.Expected);
    EXPECT_EQ(Page->LabelFileName->toolTip(), "kept.pack");
    EXPECT_EQ(workFiles(), before);
    EXPECT_FALSE(QFileInfo::exists(FDir.filePath("project-load")));
    ExpectLogicKept();
    EXPECT_EQ(Device.RequestLog().size(), 0u);

    Form->apFileSave->trigger();
    EXPECT_TRUE(LoadFileBytes(failing) == failingBytes) << "the project that failed to open";
    EXPECT_TRUE(LoadFileBytes(kept) == keptBytes) << "saved again as it was";
    EXPECT_EQ(workFiles(), before);
    EXPECT_EQ(Page->LabelFileName->toolTip(), "kept.pack");
  }

  asked = kept;
  Form->apFileLoad->trigger();
  EXPECT_EQ(Page->Source(), lsProject);
  EXPECT_EQ(Form->StatusBar_->currentMessage(), "");
  SetFileDialogSink(oldDialogs);
}

// At the main window's default size every tool of the page is on its bar:
// "Сетка" and "Печать" clicked there show the grid and print the unit
// (KV_CUSTOM_PAGE_SHOT names a folder for the pictures).
TEST_P(CustomFrameFaults, GridAndPrintAreOnTheBarAtTheDefaultSize) {
  Start();
  ASSERT_EQ(Refresh(), "Готово");
  Page->ListViewUnit->setCurrentRow(0);
  Form->resize(1000, 680);
  Form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(Form.get()));
  const QString shots = qEnvironmentVariable("KV_CUSTOM_PAGE_SHOT", FDir.path());
  Form->grab().save(QDir(shots).filePath("custom-page.png"));
  for (QWidget *tool : std::initializer_list<QWidget *>{Page->ToolButtonCompile, Page->ToolButtonCustomLogicWrite,
                                                        Page->ToolButtonUndo, Page->ToolButtonUstavNames,
                                                        Page->ToolButtonParamIONames, Page->cbGrid, Page->ToolButton9}) {
    EXPECT_TRUE(tool->isVisible()) << tool->objectName().toStdString();
    EXPECT_LE(tool->geometry().right(), Page->ToolBar1->contentsRect().right()) << tool->objectName().toStdString();
  }
  QTest::mouseClick(Page->cbGrid, Qt::LeftButton, {}, QPoint(6, Page->cbGrid->height() / 2));
  EXPECT_TRUE(Page->cbGrid->isChecked());
  EXPECT_TRUE(Page->SchemaEditor()->State().ShowGrid);
  Form->grab().save(QDir(shots).filePath("custom-page-grid.png"));

  const QString pdf = QDir(shots).filePath("custom-page-print.pdf");
  QFile::remove(pdf);
  const TPrintDialogOpener old = SetPrintDialogOpener(PdfFileOpener(pdf));
  QTest::mouseClick(Page->ToolButton9, Qt::LeftButton);
  SetPrintDialogOpener(old);
  EXPECT_GT(QFileInfo(pdf).size(), 0);
}

// The unit dialog's changes are steps of the editor's history: with a
// selection and older steps held, inputs unchecked and checked again, then
// Ctrl+Z back to the unit as shown; each undo gives the schema before its step.
TEST_P(CustomFrameFaults, UnitDialogChangesUndoToEachEarlierSchema) {
  Start();
  ASSERT_EQ(Refresh(), "Готово");
  Page->ListViewUnit->setCurrentRow(0);
  TModule &m = Page->SchemaEditor()->Module();
  TSchemaEditorState &st = Page->SchemaEditor()->State();
  const auto schema = [&m] {
    IXXMLDocument doc = NewXMLDocument();
    doc->LoadXML("<module/>");
    m.SaveToNode(doc->GetDocumentElement(), true);
    // Blocks and links in any order: an undone delete puts its blocks last.
    const IXXMLNodeList parts = doc->GetDocumentElement()->SelectNodes("implementation/*");
    QStringList out;
    for (int i = 0; i < parts->GetCount(); ++i)
      out << parts->GetItem(i)->GetXml();
    out.sort();
    return out.join("\n");
  };
  const auto inside = [](const TAbstract *A) {
    const TPixelRect &b = A->Graphic->Bounds;
    return QPoint((b.Left + b.Right) / 2, (b.Top + b.Bottom) / 2);
  };
  const auto click = [&](QPoint P) {
    st.MouseDown(TSchemaEditorState::mbLeft, false, P);
    st.MouseUp(P);
  };
  const auto ctrlZ = [this] {
    QKeyEvent key(QEvent::KeyPress, Qt::Key_Z, Qt::ControlModifier);
    return Page->KeyDown(&key);
  };
  TUnitPropertyForm *form = Form->Forms().UnitPropertyForm;
  // Runs the dialog through its own OK button with input Row set to Checked.
  const auto dialog = [&](int Row, bool Checked) {
    QTimer::singleShot(0, form, [form, Row, Checked] {
      form->CheckListBoxInput->item(Row)->setCheckState(Checked ? Qt::Checked : Qt::Unchecked);
      form->OKBtn->click();
    });
    Page->UnitDialog();
  };
  ASSERT_EQ(Page->InputChoices().value(0).Org.OrgId, m.AbstractList.FindById(1)->OrgId);
  QStringList before{schema()};

  const QPoint timer = inside(m.AbstractList.FindById(4));
  st.MouseDown(TSchemaEditorState::mbLeft, false, timer);
  st.MouseMove(timer + QPoint(0, 2 * st.Scale()));
  st.MouseUp(timer + QPoint(0, 2 * st.Scale()));
  before << schema();
  click(inside(m.AbstractList.FindById(3)));
  ASSERT_EQ(st.Selection().Count(), 1);
  st.KeyDown(Qt::Key_Delete, false, false); // the "and" block, id 3, with three links
  before << schema();
  click(inside(m.AbstractList.FindById(1)));
  ASSERT_EQ(st.Selection().Count(), 1) << "the input stays selected while the dialog runs";
  ASSERT_EQ(st.UndoTool().UndoCount(), 2);

  dialog(0, false); // input 1 goes, with its link into nothing
  EXPECT_FALSE(m.AbstractList.FindById(1));
  EXPECT_EQ(st.Selection().Count(), 0);
  EXPECT_EQ(st.UndoTool().UndoCount(), 3);
  before << schema();
  dialog(0, true); // back as a new element: neither id 1 nor 3 while the history may restore them
  EXPECT_EQ(st.UndoTool().UndoCount(), 4);
  const TAbstract *fresh = m.AbstractList.Items().last();
  EXPECT_EQ(fresh->Type, atInint);
  EXPECT_NE(fresh->Id, 1);
  EXPECT_NE(fresh->Id, 3);

  while (!before.isEmpty()) {
    ASSERT_TRUE(ctrlZ());
    EXPECT_EQ(schema(), before.takeLast()) << before.size() << " steps left";
  }
  EXPECT_EQ(st.UndoTool().UndoCount(), 0);
  // The unit stored from the editor is the demo's again.
  Page->ListViewUnit->setCurrentRow(1);
  EXPECT_EQ(Page->Units()[0].Node->SelectNodes("implementation/element")->GetCount(), 5);
}

INSTANTIATE_TEST_SUITE_P(Tcp, CustomFrameFaults, ::testing::Values(TLink::Tcp));

// Two relays of one type: logic read from one goes only into that one, the
// unit identified and the custom logic it holds both checked.
class CustomFrameUnit : public CustomFrameLink {
protected:
  // Terminal Image with its custom logic's second unit captioned Caption.
  void ServeLogic(const QString &Caption, int Image = 1) {
    std::array<QByteArray, 6> p = DemoLogicPackage(DemoTerminalContent(Image));
    p[5].replace(ToWin1251("Блок 2"), ToWin1251(Caption));
    Device.SetFile(DemoDevice::FlashFileNo, BuildExtFlash(p), DemoDevice::FlashFrameBytes);
  }
  // Relay B put in A's place with no sign: another custom logic and another
  // calibration value of its own; A back as it was.
  void SwapTo(bool B) {
    ServeLogic(B ? "Блок Б-2" : "Блок 2");
    Device.SetRegister(TSimArea::Sram, DemoDevice::CalibrValueSram, B ? FCalibrA ^ 0x55 : FCalibrA);
  }
  // The relay found at Address by "Опрос" or chosen in "Адрес".
  void Identify(uint8_t Address, bool Chosen) {
    Device.SetAddress(Address);
    if (Chosen) {
      Form->cbDevNo->clear();
      Form->cbDevNo->addItem(QString("%1").arg(Address, 2, 16, QChar('0')));
      Form->cbDevNo->setCurrentIndex(0);
      emit Form->cbDevNo->activated(0);
    } else {
      Form->aMonitorPoll->trigger();
    }
    ASSERT_TRUE(WaitIdle());
    ASSERT_EQ(Form->Identification()->Unit().Address, Address);
  }
  void StartReadA(const QString &Sections = QString()) {
    Start(QString(), Sections);
    FCalibrA = Device.Register(TSimArea::Sram, DemoDevice::CalibrValueSram);
    ASSERT_EQ(Refresh(), "Готово");
  }
  // The refusal the engineer is shown, in a box or in the status line.
  QString Told() const {
    return Shown.join("|") + "|" + WriteBoxText(Form.get()) + "|" + Form->StatusBar_->currentMessage();
  }
  uint16_t FCalibrA = 0;
};

const char *const OtherLogicText =
    "Логика прочитана не из подключённого прибора: прочитайте логику из прибора или откройте проект";

// {another address chosen in "Адрес", another address found by "Опрос"
// after A fell silent, B put in A's place with no sign, A put back after a
// read of B, A's logic changed by another tool} x {"Сформировать" with the
// logic alone, with the values, "Сохранить FLASH"}: nothing is written, and
// the refusal names the logic read from another relay (or the relay found
// to have changed).
TEST_P(CustomFrameUnit, LogicGoesOnlyToTheUnitItWasReadFrom) {
  enum TChange { AddressChosen, AddressPolled, SwappedBehind, SwappedBack, ChangedByTool };
  enum TWrite { LogicAlone, WithValues, FlashOnly };
  for (const TChange change : {AddressChosen, AddressPolled, SwappedBehind, SwappedBack, ChangedByTool})
    for (const TWrite write : {LogicAlone, WithValues, FlashOnly}) {
      SCOPED_TRACE(testing::Message() << "change " << int(change) << " write " << int(write));
      Form.reset();
      Server.reset();
      LoadDemoDevice(Device);
      Device.SetAddress(1);
      StartReadA();
      switch (change) {
      case AddressChosen:
      case AddressPolled:
        ServeLogic("Блок Б-2");
        Identify(2, change == AddressChosen);
        break;
      case SwappedBehind: SwapTo(true); break;
      case SwappedBack:
        SwapTo(true);
        // B read: where its check tells it from A, it is identified first.
        if (Refresh() != "Готово")
          ASSERT_EQ(Refresh(), "Готово");
        ASSERT_TRUE(Page->CustomRoot()->GetXml().contains("Блок Б-2"));
        SwapTo(false);
        break;
      case ChangedByTool: ServeLogic("Блок 2 другой программы"); break;
      }
      Shown.clear();
      Device.ClearLogs();
      if (write == FlashOnly) {
        Form->UpdateActions();
        QTest::mouseClick(Page->ToolButtonCustomLogicWrite, Qt::LeftButton);
        ASSERT_TRUE(WaitIdle());
      } else {
        BuildWritingSetpoints({}, {}, write == WithValues ? TMsgResult::Yes : TMsgResult::No);
      }
      EXPECT_EQ(Writes(Device), 0) << RequestOrder(Device).join(" ").toStdString();
      EXPECT_TRUE(Told().contains(OtherLogicText) || Told().contains("Устройство сменилось"))
          << Told().toStdString();
      if (change == ChangedByTool)
        EXPECT_TRUE(Told().contains(OtherLogicText)) << Told().toStdString();
    }
}

// The same unit identified again ("Опрос"), and the same unit after the
// page's own writes of its logic: the logic read goes on being written.
TEST_P(CustomFrameUnit, TheSameUnitKeepsItsLogicAcrossPollsAndItsOwnWrites) {
  StartReadA();
  const auto write = [this](bool FlashOnly) {
    Device.ClearLogs();
    Shown.clear();
    if (FlashOnly) {
      Form->UpdateActions();
      QTest::mouseClick(Page->ToolButtonCustomLogicWrite, Qt::LeftButton);
      ASSERT_TRUE(WaitIdle());
    } else {
      BuildWritingSetpoints({}, {}, TMsgResult::No);
    }
    EXPECT_GT(Writes(Device), 0) << Told().toStdString();
    EXPECT_EQ(Form->StatusBar_->currentMessage(), "Готово") << Told().toStdString();
  };
  Form->aMonitorPoll->trigger();
  ASSERT_TRUE(WaitIdle());
  write(false);
  // The page's names changed and written: the relay holds another logic now.
  Page->CustomRoot()->SetStrAttr("edited", "1");
  write(true);
  write(false);
  Form->aMonitorPoll->trigger();
  ASSERT_TRUE(WaitIdle());
  write(true);
}

// "Обновить" once relay B stands in A's place: B is found by the check and
// identified; the page keeps A's logic, shows nothing of B's, and writes it
// nowhere.
TEST_P(CustomFrameUnit, RefreshAfterASwapIdentifiesTheNewRelayAndShowsNothingOfIt) {
  StartReadA();
  LoadDemoDevice(Device, 2);
  ServeLogic("Блок Б-2", 2);
  Statuses.clear();
  Refresh();
  ASSERT_TRUE(WaitIdle());
  EXPECT_TRUE(Statuses.contains("Устройство сменилось: идентификация нового")) << Statuses.join("|").toStdString();
  EXPECT_EQ(Form->LabelDescID->text(), DemoTerminalContent(2).DescDate.toString("yyyy-MM-dd"));
  EXPECT_FALSE(Page->CustomRoot()->GetXml().contains("Блок Б-2"));
  EXPECT_EQ(UnitCaptions(), QStringList({"Блок 1", "Блок 2"}));
  Shown.clear();
  Device.ClearLogs();
  BuildWritingSetpoints();
  EXPECT_EQ(Writes(Device), 0);
  EXPECT_TRUE(Told().contains(OtherLogicText)) << Told().toStdString();
}

// A project opened, then the relay's logic read: the page no longer names
// the project, and Ctrl+S asks for a name instead of packing the relay's
// logic into it.
TEST_P(CustomFrameUnit, ARelaysLogicReadIsNotTheOpenedProject) {
  StartReadA();
  const QString project = FDir.filePath("P.pack");
  Page->SaveAs(project);
  Page->LoadFromFile(project);
  ASSERT_EQ(Page->LabelFileName->toolTip(), "P.pack");
  const QByteArray bytes = LoadFileBytes(project);
  ServeLogic("Блок 2 прибора");
  ASSERT_EQ(Refresh(), "Готово");
  EXPECT_EQ(Page->LabelFileName->text(), "");
  int asked = 0;
  const TFileDialogSink oldDialogs = SetFileDialogSink([&asked](const TFileDialogRequest &) {
    ++asked;
    return QString();
  });
  ASSERT_EQ(Form->apFileSave->shortcut(), QKeySequence("Ctrl+S"));
  Form->apFileSave->trigger();
  SetFileDialogSink(oldDialogs);
  EXPECT_GE(asked, 1);
  EXPECT_TRUE(LoadFileBytes(project) == bytes);
}

// A project whose base logic renames a setpoint, written in full: the relay
// is identified anew and the pages show its new map; a value typed on the
// old map before the write goes nowhere after it.
TEST_P(CustomFrameUnit, AFullWriteOfAChangedBaseLogicIdentifiesTheRelayAgain) {
  StartReadA("[ustav]\ndirectEdit=2\n");
  const QString project = FDir.filePath("P.pack");
  Page->SaveAs(project);
  Page->LoadFromFile(project);
  ASSERT_EQ(Page->Source(), lsProject);
  TUstavFrame *ustav = Form->UstavFrame;
  const auto rowOf = [ustav](const QString &Name) {
    for (int r = 1; r < ustav->sgUstav->rowCount(); ++r)
      if (ustav->sgUstav->Cells(1, r) == Name)
        return r;
    return -1;
  };
  const int delay = rowOf("Выдержка времени МТЗ-1");
  ASSERT_GT(delay, 0);
  ustav->Refresh();
  ASSERT_TRUE(WaitIdle());
  Form->show();
  Form->PageControl->setCurrentWidget(Form->TabSheetUstav);
  ustav->SetEditMode(true);
  ustav->sgUstav->setCurrentCell(delay, 2);
  ustav->Editor()->StartEdit();
  ustav->Editor()->Edit->setText("600");
  QTest::keyClick(ustav->Editor()->Edit, Qt::Key_Return);
  ASSERT_TRUE(ustav->CellChanged(2, delay));
  const QByteArray typed = ustav->BuildImage();
  // A setpoint of the base logic, not one of the units' (their names are the custom logic's).
  const IXXMLNode renamed = Page->LogicNode()->SelectSingleNode("//ustav/*[string='Уставка ЗМН по напряжению']");
  ASSERT_TRUE(renamed);
  renamed->SetStrNode("string", "Новая уставка");
  Device.ClearLogs();
  BuildWritingSetpoints();
  EXPECT_EQ(Device.SpecialLog(), std::vector<uint8_t>({0xF0, 0xF1, 0xFF}));
  EXPECT_EQ(Device.FileBytes(DemoDevice::DescriptorFileNo), LoadFileBytes(FDir.filePath("desc.bin")));
  EXPECT_EQ(Form->StatusBar_->currentMessage(), "Готово") << Statuses.join("|").toStdString();
  EXPECT_TRUE(Form->IsDeviceReady());
  EXPECT_GT(rowOf("Новая уставка"), 0) << "the relay's new map";
  EXPECT_EQ(rowOf("Уставка ЗМН по напряжению"), -1);
  Device.ClearLogs();
  Form->SetLoggedIn(true);
  try {
    ustav->WriteImage(typed);
  } catch (const EKvError &) {
  }
  ASSERT_TRUE(WaitIdle());
  EXPECT_FALSE(RequestOrder(Device).contains("w101")) << RequestOrder(Device).join(" ").toStdString();
  EXPECT_TRUE(Told().contains("Не записано")) << Told().toStdString();
}

// A project's full write refused once among the descriptor's frames (the
// first of the rest, one in the middle, the first frame itself, sent last):
// the box says the logic is stopped and to write again; the relay stays one
// the program identifies (by the image this computer keeps of it; another
// says what to do), and the repeat writes it whole and runs its logic.
TEST_P(CustomFrameUnit, AFullWriteCutInTheDescriptorIsRepeatedOnTheRelayItLeft) {
  const int flashFrames = 65;
  const struct {
    int Cut; // of the descriptor's frame writes: frames 1..55, then frame 0
    bool Cached;
  } cases[] = {{0, true}, {20, true}, {55, false}};
  for (const auto &[cut, cached] : cases) {
    SCOPED_TRACE(testing::Message() << "cut " << cut << (cached ? " cached" : " no descriptor cache"));
    Form.reset();
    Server.reset();
    LoadDemoDevice(Device);
    StartReadA();
    const QString project = FDir.filePath("P.pack");
    Page->SaveAs(project);
    Page->LoadFromFile(project);
    TSimFault refused;
    refused.Kind = TSimFaultKind::Exception;
    refused.Value = 4;
    refused.Function = SIM_FN_WRITE_FILE;
    refused.After = flashFrames + cut;
    refused.Count = 1;
    Device.SetFault(refused);
    Device.ClearLogs();
    Statuses.clear();
    BuildWritingSetpoints();
    Device.SetFault({});
    EXPECT_EQ(Device.SpecialLog(), std::vector<uint8_t>({0xF0}));
    EXPECT_TRUE(WriteBoxText(Form.get()).contains("логика прибора остановлена, повторите запись"))
        << WriteBoxText(Form.get()).toStdString();
    // The computer that began the write identifies the relay by the image
    // it kept; another one (no descriptor cache) says what to do, in Russian.
    const auto poll = [this] {
      Statuses.clear();
      Form->UpdateActions();
      Form->aMonitorPoll->trigger();
      EXPECT_TRUE(WaitIdle());
    };
    const QString cache = FDir.filePath("cache"), elsewhere = FDir.filePath("cache-kept");
    if (!cached) {
      ASSERT_TRUE(QDir().rename(cache, elsewhere));
      poll();
      EXPECT_EQ(Form->StatusBar_->currentMessage(),
                  "Ошибка: дескриптор прибора не читается (запись логики не завершена) - повторите запись "
                  "проекта логики с компьютера, с которого она начиналась")
            << Statuses.join("|").toStdString();
      QDir(cache).removeRecursively();
      ASSERT_TRUE(QDir().rename(elsewhere, cache));
    }
    poll();
    EXPECT_EQ(Form->StatusBar_->currentMessage(), "Готово") << Statuses.join("|").toStdString();
    Shown.clear();
    Device.ClearLogs();
    BuildWritingSetpoints();
    EXPECT_EQ(Device.SpecialLog(), std::vector<uint8_t>({0xF0, 0xF1, 0xFF})) << Shown.join("|").toStdString();
    EXPECT_EQ(Device.FileBytes(DemoDevice::DescriptorFileNo), LoadFileBytes(FDir.filePath("desc.bin")));
    EXPECT_EQ(Form->StatusBar_->currentMessage(), "Готово") << Statuses.join("|").toStdString();
    EXPECT_EQ(Form->LabelDescID->text(), QDate::currentDate().toString("yyyy-MM-dd"));
  }
}

INSTANTIATE_TEST_SUITE_P(Tcp, CustomFrameUnit, ::testing::Values(TLink::Tcp));

// The tab closed while its chains run, and its unsaved unit edits.
class CustomFrameClose : public CustomFrameLink {
protected:
  // The custom-logic tab, opened again once it has gone.
  TkvCustomFrame *Tab() {
    if (!TabOpen())
      Form->NCustomLogic->trigger();
    for (int i = 0; i < Form->PageControl->count(); ++i)
      if (auto *f = Form->PageControl->widget(i)->findChild<TkvCustomFrame *>())
        Form->PageControl->setCurrentIndex(i);
    return Page = Form->ActiveCustomFrame();
  }
  bool TabOpen() const { return Form->PageControl->findChild<TkvCustomFrame *>() != nullptr; }
  // Ctrl+F4 on the tab.
  void CloseTab() {
    if (TabOpen()) {
      Tab();
      Form->CloseActiveTab();
    }
  }
  // The program runs on: the next identification ends with "Готово", or
  // leaves a write's report that stays in the status line.
  void ExpectRunsOn(const QString &Status = QStringLiteral("Готово")) {
    Form->UpdateActions();
    Form->aMonitorPoll->trigger();
    EXPECT_TRUE(WaitIdle());
    EXPECT_EQ(Form->StatusBar_->currentMessage(), Status);
  }
};

// "Обновить" with the tab closed while request N waits for its answer (the
// only late one): nothing more goes, nothing touches the gone tab.
TEST_P(CustomFrameClose, ReadClosedAtAnyRequestSendsNothingMore) {
  Start();
  for (int n = 1;; ++n) {
    SCOPED_TRACE(n);
    Tab();
    TSimFault late;
    late.Kind = TSimFaultKind::LateAnswer;
    late.Value = 500;
    late.After = n - 1;
    late.Count = 1;
    Device.ClearLogs();
    Device.SetFault(late);
    Form->aMonitorRefresh->trigger();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return Device.RequestLog().size() >= size_t(n) || Form->IOChain()->ChainCount() == 0; }, 30000));
    if (Device.RequestLog().size() < size_t(n)) {
      // The read has ended whole before a request N: every step was met.
      EXPECT_GT(n, 5) << RequestOrder(Device).join("|").toStdString();
      Device.SetFault({});
      break;
    }
    CloseTab();
    EXPECT_FALSE(TabOpen());
    const size_t sent = Device.RequestLog().size();
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(Device.RequestLog().size(), sent) << RequestOrder(Device).join("|").toStdString();
    // The cut read's step has left the status line.
    EXPECT_FALSE(Form->StatusBar_->currentMessage().startsWith("Чтение")) << Form->StatusBar_->currentMessage().toStdString();
    Device.SetFault({});
  }
  ExpectRunsOn();
}

// Over a serial line at 38400 baud (a frame of the package takes half a
// second), the tab closed once the read is a second or two under way.
TEST_P(CustomFrameClose, SerialReadClosedMidwayLeavesTheProgramRunning) {
  if (GetParam() != TLink::Pty)
    GTEST_SKIP() << "a serial line only";
  Start();
  Server->SetBaud(38400);
  Tab();
  Device.ClearLogs();
  Form->aMonitorRefresh->trigger();
  ASSERT_TRUE(QTest::qWaitFor([&] { return Device.RequestLog().size() >= 3; }, 30000));
  CloseTab();
  const size_t sent = Device.RequestLog().size();
  ASSERT_TRUE(WaitIdle());
  EXPECT_LE(Device.RequestLog().size(), sent + 1) << "at most the request on the line";
  ExpectRunsOn();
}

// "Сформировать" with the tab closed at each of its steps: during the build
// (put off until the build has returned), during the read of the relay's
// setpoints, at the setpoints question, at the password: nothing is written;
// once the logic is stopped: the write runs to its end.
TEST_P(CustomFrameClose, BuildAndWriteClosedAtAnyStep) {
  Start();
  enum TWhen { InBuild, InSetpointRead, InQuestion, InPassword, InWrite };
  for (const TWhen when : {InBuild, InSetpointRead, InQuestion, InPassword, InWrite}) {
    SCOPED_TRACE(int(when));
    Tab();
    ASSERT_EQ(Refresh(), "Готово");
    Device.ClearLogs();
    bool keptInBuild = false;
    const QMetaObject::Connection status =
        QObject::connect(Form->StatusBar_, &QStatusBar::messageChanged, Form.get(), [&, when](const QString &T) {
          if ((when == InBuild && T == "Компиляция") || (when == InSetpointRead && T == "Чтение уставок"))
            QTimer::singleShot(0, Form.get(), [&, when] {
              CloseTab();
              keptInBuild = when == InBuild && TabOpen();
            });
        });
    QTimer onWrite;
    QObject::connect(&onWrite, &QTimer::timeout, Form.get(), [&] {
      if (!Device.SpecialLog().empty()) {
        onWrite.stop();
        CloseTab();
      }
    });
    if (when == InWrite)
      onWrite.start(1);
    BuildWritingSetpoints(
        [&](TMsgKind Kind) {
          if (when == InQuestion && Kind == TMsgKind::Question)
            CloseTab();
        },
        [&] {
          if (when == InPassword)
            CloseTab();
        });
    onWrite.stop();
    QObject::disconnect(status);
    EXPECT_TRUE(WaitIdle());
    // A close put off by the write goes on once the write has ended.
    EXPECT_TRUE(QTest::qWaitFor([&] { return !TabOpen(); }, 30000));
    if (when == InBuild)
      EXPECT_TRUE(keptInBuild) << "the build holds the page's logic";
    if (when == InWrite)
      EXPECT_EQ(Device.SpecialLog(), std::vector<uint8_t>({0xF0, 0xF1, 0xFF}))
          << RequestOrder(Device).join("|").toStdString();
    else
      EXPECT_EQ(Writes(Device), 0) << RequestOrder(Device).join("|").toStdString();
  }
  ExpectRunsOn();
}

// A logic write whose frame answer is lost after F0 (writes are not sent
// twice) leaves the relay's logic stopped: the box that stays says so, and
// kv.log; the identification asked after it does not close it.
TEST_P(CustomFrameClose, ALogicWriteCutAfterF0SaysTheLogicIsStoppedInTheBoxThatStays) {
  Start();
  ASSERT_EQ(Refresh(), "Готово");
  TSimFault lost;
  lost.Kind = TSimFaultKind::LostAnswer;
  lost.Function = SIM_FN_WRITE_FILE;
  lost.Count = 1;
  Device.SetFault(lost);
  Device.ClearLogs();
  Logger().Clear();
  BuildWritingSetpoints();
  Device.SetFault({});
  const QString stopped = "Запись не завершена: логика прибора остановлена, повторите запись";
  EXPECT_EQ(Device.SpecialLog(), std::vector<uint8_t>({0xF0}));
  EXPECT_EQ(WriteBoxText(Form.get()), "Не записано: Внешняя логика\n" + stopped);
  EXPECT_EQ(Logger().Lines().filter(stopped).size(), 1) << Logger().Lines().join("\n").toStdString();
  EXPECT_EQ(Logger().Lines().filter("ERROR").filter(stopped).size(), 1);
  // "Опрос" is the engineer's next command: it takes the status line, and
  // the box stays.
  ExpectRunsOn();
  EXPECT_EQ(WriteBoxText(Form.get()), "Не записано: Внешняя логика\n" + stopped);
}

// A logic-only write over slow answers, the unit's caption changed and the
// project saved (the work folder's "custom-logic.xml" with it) once F0 has
// gone: the relay gets the custom logic and code built when the write began,
// its end is said in the status line that stays (no box holds the program),
// and the change saved goes with the next write.
TEST_P(CustomFrameClose, ALogicWriteSendsWhatWasBuiltWhenItBegan) {
  Start();
  ASSERT_EQ(Refresh(), "Готово");
  const QString custom = FDir.filePath("custom-logic.xml");
  const auto subFile5 = [this] {
    const QByteArray flash = Device.FileBytes(DemoDevice::FlashFileNo);
    const qsizetype at = qsizetype(qFromLittleEndian<uint16_t>(flash.constData() + 12)) * 2048;
    return InflateBytes(flash.mid(at + 20, qFromLittleEndian<uint32_t>(flash.constData() + at)), "sub-file 5");
  };
  TSimFault late;
  late.Kind = TSimFaultKind::LateAnswer;
  late.Value = 100;
  Device.SetFault(late);
  Device.ClearLogs();
  QByteArray built, code;
  QTimer onF0;
  QObject::connect(&onF0, &QTimer::timeout, Form.get(), [&] {
    if (Device.SpecialLog().empty())
      return;
    onF0.stop();
    built = LoadFileBytes(custom);
    code = LoadFileBytes(FDir.filePath("generated.bin"));
    Page->Units()[0].Node->SetStrAttr("caption", "Блок 9");
    Page->SaveAs(FDir.filePath("edited.pack"));
  });
  onF0.start(1);
  Shown.clear();
  BuildWritingSetpoints();
  onF0.stop();
  Device.SetFault({});
  ASSERT_FALSE(built.isEmpty());
  const QByteArray saved = LoadFileBytes(custom);
  ASSERT_NE(saved, built);
  EXPECT_EQ(Device.SpecialLog(), std::vector<uint8_t>({0xF0, 0xF1, 0xFF}));
  EXPECT_EQ(subFile5(), built);
  const QByteArray image = Device.FileBytes(DemoDevice::DescriptorFileNo);
  EXPECT_EQ(image.mid(CodeFirstFrame(image, code.size()) * 128, code.size()), code);
  EXPECT_EQ(Form->StatusBar_->currentMessage(), "Готово");
  EXPECT_FALSE(Shown.contains("Готово")) << Shown.join("|").toStdString();

  Form->UpdateActions();
  QTest::mouseClick(Page->ToolButtonCustomLogicWrite, Qt::LeftButton);
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(Form->StatusBar_->currentMessage(), "Готово");
  EXPECT_EQ(subFile5(), LoadFileBytes(custom));
  EXPECT_TRUE(FromWin1251(subFile5()).contains("Блок 9"));
  // The writes' own copies go with their chains.
  EXPECT_TRUE(QTest::qWaitFor([&] { return QDir(FDir.path()).entryList({"logic-write-*"}, QDir::Dirs).isEmpty(); },
                              30000));
}

// A logic-only write leaves the relay's descriptor in place: a value inside
// the logic's limits and outside the relay's is refused by its name, and
// nothing is sent.
TEST_P(CustomFrameClose, ALogicOnlyWriteKeepsTheRelaysLimits) {
  Start();
  ASSERT_EQ(Refresh(), "Готово");
  const IXXMLNode u = Form->Descriptor()->Root->SelectSingleNode("ustav/*[mreg=101]");
  ASSERT_TRUE(u);
  const QString name = u->SelectSingleNode("string")->GetText();
  u->SelectSingleNode("word-min")->SetText("1");
  Device.ClearLogs();
  Logger().Clear();
  BuildWritingSetpoints();
  EXPECT_EQ(Writes(Device), 0) << RequestOrder(Device).join("|").toStdString();
  EXPECT_FALSE(Logger().Lines().filter("\"" + name + "\" <").isEmpty()) << Logger().Lines().join("\n").toStdString();
}

// A block of "Блок 1" moved, then each way the edits would go: the tab's
// close (Ctrl+F4, its close box), "Обновить", another project, "Выход".
// "Отмена" keeps the page and the edits, "Нет" drops them, "Да" saves the
// project (its name asked when it has none; a cancelled name is "Отмена",
// a save that fails keeps the edits).
TEST_P(CustomFrameClose, UnsavedUnitEditsAskOnEveryWayTheyWouldGo) {
  Start();
  const QString question = "Изменения внешней логики не сохранены, сохранить?";
  const QString project = FDir.filePath("edits.pack");
  TMsgResult answer = TMsgResult::Cancel;
  QStringList asked;
  const TMessageSink fixture = SetMessageSink([&](TMsgKind Kind, const QString &Text) {
    Shown << Text;
    if (Kind != TMsgKind::Question)
      return TMsgResult::Ok;
    asked << Text;
    return answer;
  });
  QString named; // the name the file dialogs give, "" for a cancelled one
  const TFileDialogSink oldDialogs = SetFileDialogSink([&named](const TFileDialogRequest &) { return named; });
  const auto edit = [&](bool Named) {
    Tab();
    if (!Page->IsLogicLoaded())
      ASSERT_EQ(Refresh(), "Готово");
    if (Named)
      Page->SaveAs(project);
    Page->ListViewUnit->setCurrentRow(0);
    TSchemaEditorState &e = Page->SchemaEditor()->State();
    const TPixelRect &b = Page->SchemaEditor()->Module().AbstractList[0]->Graphic->Bounds;
    const QPoint from((b.Left + b.Right) / 2, (b.Top + b.Bottom) / 2), to = from + QPoint(48, 0);
    e.MouseDown(TSchemaEditorState::mbLeft, false, from);
    e.MouseMove(to);
    e.MouseUp(to);
    ASSERT_TRUE(Page->IsModified());
  };
  enum TWay { CtrlF4, CloseBox, ReRead, Open, Exit };
  // Whether the way went on (the tab closed, the logic read again, the
  // project opened, the program closed).
  const auto go = [&](TWay Way) {
    switch (Way) {
    case CtrlF4:
      Form->CloseActiveTab();
      return !TabOpen();
    case CloseBox:
      QTest::mouseClick(Form->PageControlHelper->CloseButton(Form->PageControl->currentWidget()), Qt::LeftButton);
      return !TabOpen();
    case ReRead:
      Device.ClearLogs();
      Form->aMonitorRefresh->trigger();
      EXPECT_TRUE(WaitIdle());
      return !Device.RequestLog().empty() && !Page->IsModified();
    case Open:
      return Form->apFileLoad->trigger(), Page->Source() == lsProject;
    case Exit:
      return Form->close();
    }
    return false;
  };
  const struct {
    const char *Name;
    TWay Way;
    TMsgResult Answer;
    bool Named;    // the page has a project file
    QString Given; // by the file dialogs
    bool WentOn, Saved;
  } cases[] = {
      {"Ctrl+F4, Отмена", CtrlF4, TMsgResult::Cancel, false, project, false, false},
      {"Ctrl+F4, Да, no name given", CtrlF4, TMsgResult::Yes, false, "", false, false},
      {"Ctrl+F4, Да, a save that fails", CtrlF4, TMsgResult::Yes, false, FDir.filePath("no/such/folder/x.pack"), false,
       false},
      {"Ctrl+F4, Да, named", CtrlF4, TMsgResult::Yes, false, project, true, true},
      {"close box, Нет", CloseBox, TMsgResult::No, false, project, true, false},
      {"Обновить, Отмена", ReRead, TMsgResult::Cancel, false, project, false, false},
      {"Обновить, Нет", ReRead, TMsgResult::No, false, project, true, false},
      {"Обновить, Да", ReRead, TMsgResult::Yes, true, project, true, true},
      {"Открыть, Отмена", Open, TMsgResult::Cancel, true, project, false, false},
      {"Открыть, Нет", Open, TMsgResult::No, true, project, true, false},
      {"Выход, Отмена", Exit, TMsgResult::Cancel, true, project, false, false},
      {"Выход, Да", Exit, TMsgResult::Yes, true, project, true, true},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Name);
    answer = TMsgResult::No;
    edit(c.Named);
    const auto bytes = [&project] { return QFile::exists(project) ? LoadFileBytes(project) : QByteArray(); };
    const QByteArray before = bytes();
    asked.clear();
    Shown.clear();
    answer = c.Answer;
    named = c.Given;
    EXPECT_EQ(go(c.Way), c.WentOn);
    EXPECT_EQ(asked, QStringList{question});
    EXPECT_EQ(bytes() != before, c.Saved);
    if (!c.WentOn)
      EXPECT_TRUE(Page->IsModified()) << "the edits are kept";
    if (c.Given.contains("no/such"))
      EXPECT_EQ(Shown.size(), 2) << "the save's failure told: " << Shown.join("|").toStdString();
  }
  SetFileDialogSink(oldDialogs);
  SetMessageSink(fixture);
}

INSTANTIATE_TEST_SUITE_P(Links, CustomFrameClose, ::testing::Values(TLink::Tcp, TLink::Pty));

// The program's close ("Выход", a signal to end) pressed once a logic-only
// write has stopped the relay's logic (F0 gone): the close waits for the
// write, goes on when it ended whole and is given up when it ended short.
class CustomFrameWriteClose : public CustomFrameClose {
protected:
  // "Сформировать" answered "Да" throughout, Close called as the relay gets
  // F0; the work folder's custom logic and code then into Built and Code.
  // Returns when the write has ended.
  void BuildAndCloseAtF0(const std::function<void()> &Close) {
    Form->show();
    Logger().Clear();
    Device.ClearLogs();
    QTimer onF0;
    QObject::connect(&onF0, &QTimer::timeout, Form.get(), [&] {
      if (Device.SpecialLog().empty())
        return;
      onF0.stop();
      Built = LoadFileBytes(FDir.filePath("custom-logic.xml"));
      Code = LoadFileBytes(FDir.filePath("generated.bin"));
      Close();
    });
    onF0.start(1);
    Shown.clear();
    BuildWritingSetpoints();
    onF0.stop();
    Device.SetFault({});
    ASSERT_FALSE(Built.isEmpty()) << "F0 never went: " << RequestOrder(Device).join("|").toStdString();
  }
  // The relay got the whole write: its logic on again, the custom logic and
  // code that were built when it began.
  void ExpectWrittenWhole() {
    EXPECT_EQ(Device.SpecialLog(), std::vector<uint8_t>({0xF0, 0xF1, 0xFF}))
        << RequestOrder(Device).join("|").toStdString();
    const QByteArray flash = Device.FileBytes(DemoDevice::FlashFileNo);
    const qsizetype at = qsizetype(qFromLittleEndian<uint16_t>(flash.constData() + 12)) * 2048;
    EXPECT_EQ(InflateBytes(flash.mid(at + 20, qFromLittleEndian<uint32_t>(flash.constData() + at)), "sub-file 5"),
              Built);
    const QByteArray image = Device.FileBytes(DemoDevice::DescriptorFileNo);
    EXPECT_EQ(image.mid(CodeFirstFrame(image, Code.size()) * 128, Code.size()), Code);
  }
  // The log's lines that hold Text.
  static QStringList Logged(const QString &Text) { return Logger().Lines().filter(Text); }
  // Visible windows left (the main window's included).
  static QStringList WindowsLeft() {
    QStringList left;
    for (QWidget *w : QApplication::topLevelWidgets())
      if (w->isVisible())
        left << w->metaObject()->className() + QStringLiteral(" ") +
                    (qobject_cast<QMessageBox *>(w) ? qobject_cast<QMessageBox *>(w)->text() : w->windowTitle());
    return left;
  }

  QByteArray Built, Code;
};

// "Выход" while the write's frame answer is lost after F0 (writes are not
// sent twice): the write ends short with the relay's logic stopped, the
// close is given up, and the window stays with the box that says so, also
// well after the write's end; the next "Выход" closes as usual.
TEST_P(CustomFrameWriteClose, VykhodDuringALogicWriteCutAfterF0IsGivenUp) {
  Start();
  ASSERT_EQ(Refresh(), "Готово");
  TSimFault lost;
  lost.Kind = TSimFaultKind::LostAnswer;
  lost.Function = SIM_FN_WRITE_FILE;
  lost.Count = 1;
  Device.SetFault(lost);
  BuildAndCloseAtF0([this] { Form->nExit->trigger(); });
  const QString stopped = "Запись не завершена: логика прибора остановлена, повторите запись";
  EXPECT_EQ(Device.SpecialLog(), std::vector<uint8_t>({0xF0}));
  EXPECT_EQ(Logged("Закрытие программы ждёт окончания записи: Внешняя логика").size(), 1)
      << Logger().Lines().join("\n").toStdString();
  // The close's box goes once the write has ended; the write's stays.
  ASSERT_TRUE(QTest::qWaitFor([this] { return !Form->WriteWaitBox(); }, 30000));
  // Until the close has been given up and every chain has gone, the events
  // they posted handled.
  ASSERT_TRUE(QTest::qWaitFor(
      [this] {
        return !Logged("Закрытие отменено").isEmpty() && Form->IOChain()->ChainCount() == 0 && !Form->IsLinkBusy();
      },
      30000));
  QCoreApplication::processEvents();
  EXPECT_TRUE(Form->isVisible()) << Logger().Lines().join("\n").toStdString();
  EXPECT_EQ(WriteBoxText(Form.get()), "Не записано: Внешняя логика\n" + stopped);
  EXPECT_EQ(Logged("Закрытие отменено: запись не завершена: Внешняя логика").size(), 1)
      << Logger().Lines().join("\n").toStdString();
  EXPECT_EQ(Form->StatusBar_->currentMessage(), "Не записано: Внешняя логика: " + stopped);

  QStringList asked;
  const TMessageSink fixture = SetMessageSink([&asked](TMsgKind, const QString &Text) {
    asked << Text;
    return TMsgResult::No;
  });
  Form->nExit->trigger();
  SetMessageSink(fixture);
  EXPECT_FALSE(Form->isVisible()) << asked.join("|").toStdString();
  EXPECT_TRUE(QTest::qWaitFor([] { return WindowsLeft().isEmpty(); }, 10000)) << WindowsLeft().join("|").toStdString();
}

// "Выход" and SIGTERM during a logic write that goes through (slow answers):
// the write runs to its end, the relay gets what was built, and then the
// program ends with no box left; no "Готово" box holds it.
TEST_P(CustomFrameWriteClose, ACloseDuringAWholeLogicWriteEndsTheProgramAfterIt) {
  const struct {
    const char *Name;
    bool Signal;
  } rows[] = {{"Выход", false}, {"SIGTERM", true}};
  for (const auto &r : rows) {
    SCOPED_TRACE(r.Name);
    Form.reset();
    Server.reset();
    Start();
    ASSERT_EQ(Refresh(), "Готово");
    // The program's own catcher: the signal reaches the window as it does in kv.
    std::unique_ptr<TEndSignals> endSignals;
    if (r.Signal) {
      endSignals = std::make_unique<TEndSignals>([this] { Form->CloseQuietly(); });
      ASSERT_TRUE(endSignals->IsInstalled());
    }
    TSimFault late;
    late.Kind = TSimFaultKind::LateAnswer;
    late.Value = 100;
    Device.SetFault(late);
    QStringList asked;
    // From here on no box and no question: a box would hold the close.
    BuildAndCloseAtF0([&] {
      SetMessageSink([&asked](TMsgKind, const QString &Text) {
        asked << Text;
        return TMsgResult::No;
      });
      if (r.Signal)
        ::raise(SIGTERM);
      else
        Form->nExit->trigger();
    });
    EXPECT_TRUE(QTest::qWaitFor([this] { return !Form->isVisible(); }, 30000));
    ExpectWrittenWhole();
    EXPECT_EQ(Logged("Закрытие программы ждёт окончания записи: Внешняя логика").size(), 1)
        << Logger().Lines().join("\n").toStdString();
    EXPECT_EQ(Logged("Запись завершена: Внешняя логика").size(), 1) << Logger().Lines().join("\n").toStdString();
    EXPECT_TRUE(Logged("Закрытие отменено").isEmpty());
    EXPECT_EQ(WindowsLeft(), QStringList()) << Logger().Lines().join("\n").toStdString();
    EXPECT_TRUE(asked.isEmpty()) << asked.join("|").toStdString();
    EXPECT_FALSE(Shown.contains("Готово")) << Shown.join("|").toStdString();
  }
}

INSTANTIATE_TEST_SUITE_P(Links, CustomFrameWriteClose, ::testing::Values(TLink::Tcp, TLink::Pty));

} // namespace
