#include "uIdentification.h"

#include "crc.h"
#include "uCharMap.h"
#include "uDashboardFrame.h"
#include "uDemoDevice.h"
#include "uErrors.h"
#include "uEventFrame.h"
#include "uFiles.h"
#include "uLogger.h"
#include "uLinkKit.h"
#include "uModbus.h"
#include "uOscHeadFrame.h"
#include "uParamFrame.h"
#include "uPasswdForm.h"
#include "uSimFault.h"
#include "uSimpleDeviceDescriptor.h"
#include "uStringGrid.h"
#include "uStringGridEditor.h"
#include "uUstavFrame.h"

#include <QAction>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <iostream>
#include <ostream>

// Readable QString values in failure messages.
void PrintTo(const QString &S, std::ostream *Os) { *Os << '"' << S.toStdString() << '"'; }

namespace {
enum class TLink { Tcp, Pty };

class IdentificationLink : public TShownCapture, public ::testing::WithParamInterface<TLink> {
protected:
  // Starts devsim and a main window whose settings file holds Extra after the link.
  void Start(const QString &Extra = "[debug]\npoll=0\n", int Custom = 0) {
    S.Serve(GetParam() == TLink::Pty);
    QString ini = QString("[setup]\ncustom=%1\npasswdExpirationPeriod=60\n").arg(Custom);
    if (GetParam() == TLink::Tcp) {
      ini += QString("protocol=modbustcp\n[modbustcp]\nhost=127.0.0.1\nport=%1\n").arg(Server->TcpPort());
    } else {
      ini += "protocol=modbus\n";
      RegWriteString("", KV_REG_COM_PORT, Server->PtyPath());
    }
    // A scan reads its answers without waiting: each must be in before the
    // poll pause after its request has passed. A device on a line answers in
    // a few milliseconds whatever our load; the simulator shares our CPUs and
    // on a loaded machine may not run for much longer, so its pause is generous.
    ini += "[device]\npollPause=1000\n";
    ini += "[com]\nTimeout=5000\n[dashboard]\ndeviceType=1\ncoreDate=1\ndescDate=1\n" + Extra;
    ASSERT_TRUE(S.Open(ini));
  }

  // Runs "Опрос" to its end; the last status text.
  QString Identify() {
    const QString status = S.Identify();
    if (status != "Готово")
      std::cerr << "log tail:\n"
                << Logger().Lines().mid(std::max<qsizetype>(0, Logger().Lines().size() - 400)).join("\n").toStdString()
                << "\n";
    return status;
  }

  int FrameReads(int FileNo) const {
    int n = 0;
    for (const QByteArray &pdu : Device.RequestLog())
      if (pdu.size() >= 2 && uint8_t(pdu[0]) == 0x1C && uint8_t(pdu[1]) == FileNo)
        ++n;
    return n;
  }

  void SpoilFlashHead(int Offset, uint8_t Value, bool FixCrc) {
    QByteArray img = Device.FileBytes(DemoDevice::FlashFileNo);
    img[Offset] = char(Value);
    if (FixCrc) {
      const uint16_t crc = Crc16(img.constData(), 14);
      img[14] = char(crc & 0xFF), img[15] = char(crc >> 8);
    }
    Device.SetFile(DemoDevice::FlashFileNo, img, DemoDevice::FlashFrameBytes);
  }

  TDemoSession S;
  const QTemporaryDir &FDir = S.Dir;
  TSimDevice &Device = S.Device;
  std::unique_ptr<TDevSimServer> &Server = S.Server;
  std::unique_ptr<TMainForm> &Form = S.Form;
};

QString DeviceText(const char *Text) {
  return DeviceToProgram(EncodeDisplayString(QString::fromLatin1(Text), BuiltInCharMap()));
}
} // namespace

TEST_P(IdentificationLink, FirstIdentificationDecodesCachesAndReachesEveryPage) {
  Start();
  ASSERT_EQ(Identify(), "Готово");
  TSimpleDeviceDescriptor *desc = Form->Descriptor();
  ASSERT_TRUE(desc->Ready);
  EXPECT_EQ(Form->DashboardFrame->Descriptor(), desc);
  EXPECT_EQ(Form->OscHeadFrame->Descriptor(), desc);
  for (const IXXMLNode &root :
       {Form->ParamFrame->Descriptor(), Form->UstavFrame->Descriptor(), Form->EventFrame->Descriptor()}) {
    ASSERT_TRUE(root);
    EXPECT_EQ(root->GetNodeName(), "device-descriptor");
  }
  EXPECT_EQ(Form->LabelCoreID->text(), "2024-05-14");
  EXPECT_EQ(Form->LabelDescID->text(), "2024-06-03");
  EXPECT_EQ(Form->LabelDeviceType->text(), DeviceText(DemoDevice::TypeText));
  EXPECT_EQ(Form->cbDevNo->currentText(), Form->cbDevNo->count() ? Form->cbDevNo->itemText(0) : "");
  EXPECT_EQ(Form->ToolBarColor(), uint32_t(clLinkDone));
  EXPECT_TRUE(Shown.isEmpty()) << Shown.join("|").toStdString();

  // The decoded descriptor lies in the work folder and as the cache pair
  // (beside it the custom logic's payload, cached under its digest).
  const QStringList pair = QDir(FDir.filePath("cache")).entryList({"*.bin", "*.xml"}, QDir::Files, QDir::Name);
  ASSERT_EQ(pair.size(), 2) << pair.join(",").toStdString();
  EXPECT_EQ(pair[0].toUpper(), desc->IdentHex + ".BIN");
  EXPECT_EQ(pair[1], desc->IdentHex + ".xml");
  EXPECT_TRUE(QFile::exists(FDir.filePath("DeviceDescriptor.xml")));
  // Measure factors, calibration and the register image came from the device.
  EXPECT_EQ(Modbus().GetWord(DemoDevice::PrimaryCtReg), 600);
  EXPECT_EQ(desc->GetCalibrationCount(), DemoDevice::CalibrRecords);
  EXPECT_EQ(desc->FindCalibrationValue(DemoDevice::CalibrValueSram + 1), 1007);
  EXPECT_EQ(desc->Root->GetIntNodeDef("measure/measure-item[ider=1]/ccvalue", -1), 1007);
  // The custom-logic names reached the descriptor.
  EXPECT_EQ(desc->Root->GetStrNode("param/input-output/param-bitreg[record-type=17]/string[ider=0]/value"),
            "Положение ВВ включен");
  EXPECT_EQ(desc->Root->GetStrNode("ustav/*[ider=1]/string[not(ider)]"), "Ток срабатывания МТЗ-1");
  EXPECT_EQ(Form->Identification()->PasswdReg(), DemoDevice::PasswdReg);
  EXPECT_EQ(Form->Forms().PasswdForm->ExpectedPassword(), DemoDevice::Password);
}

TEST_P(IdentificationLink, CacheThatCannotBeWrittenIsLoggedAndTheDeviceIsIdentified) {
  Start();
  // A file where the cache folder should be: nothing can be written in it.
  ASSERT_TRUE(QDir(FDir.filePath("cache")).removeRecursively());
  SaveFileBytes(FDir.filePath("cache"), {});
  const qsizetype before = Logger().Lines().filter("cache not written").size();
  ASSERT_EQ(Identify(), "Готово");
  EXPECT_TRUE(Form->Descriptor()->Ready);
  EXPECT_EQ(Form->LabelDescID->text(), "2024-06-03");
  EXPECT_EQ(Logger().Lines().filter("cache not written").size() - before, 2) << "descriptor and custom logic";
}

TEST_P(IdentificationLink, SecondIdentificationStopsAfterTheFirstDescriptorFrame) {
  Start();
  ASSERT_EQ(Identify(), "Готово");
  const int first = FrameReads(DemoDevice::DescriptorFileNo);
  EXPECT_GT(first, 2);
  ASSERT_EQ(Identify(), "Готово");
  EXPECT_EQ(FrameReads(DemoDevice::DescriptorFileNo) - first, 1);
  EXPECT_TRUE(Form->Descriptor()->Ready);
  EXPECT_EQ(Form->LabelDescID->text(), "2024-06-03");
}

TEST_P(IdentificationLink, DamagedCachePairIsRemovedAndTheDescriptorReadFromTheDevice) {
  Start();
  ASSERT_EQ(Identify(), "Готово");
  TSimpleDeviceDescriptor *desc = Form->Descriptor();
  const QString bin = FDir.filePath("cache/" + desc->IdentHex + ".bin");
  const QString xml = FDir.filePath("cache/" + desc->IdentHex + ".xml");
  const QByteArray goodBin = LoadFileBytes(bin), goodXml = LoadFileBytes(xml);
  QByteArray flipped = goodBin;
  flipped[60] = char(flipped[60] ^ 0x40);
  QByteArray otherXml = goodXml;
  otherXml.replace("<ident-cache>", "<ident-cache>9");
  const struct {
    const char *Name;
    QByteArray Bin, Xml;
  } cases[] = {
      {"cut XML", goodBin, goodXml.left(goodXml.size() / 2)},
      {"flipped image byte", flipped, goodXml},
      {"another image's pair", flipped.left(goodBin.size() - 128), otherXml},
  };
  for (const auto &t : cases) {
    SaveFileBytes(bin, t.Bin);
    SaveFileBytes(xml, t.Xml);
    const int before = FrameReads(DemoDevice::DescriptorFileNo);
    const qsizetype logged = Logger().Lines().filter("descriptor cache " + bin + " not used").size();
    ASSERT_EQ(Identify(), "Готово") << t.Name;
    EXPECT_GT(FrameReads(DemoDevice::DescriptorFileNo) - before, 2) << t.Name;
    EXPECT_TRUE(desc->Ready) << t.Name;
    EXPECT_EQ(Form->LabelDescID->text(), "2024-06-03") << t.Name;
    EXPECT_EQ(Logger().Lines().filter("descriptor cache " + bin + " not used").size() - logged, 1) << t.Name;
    // The pair written again is the device's.
    EXPECT_EQ(LoadFileBytes(bin), goodBin) << t.Name;
    EXPECT_EQ(LoadFileBytes(xml), goodXml) << t.Name;
  }
  EXPECT_TRUE(Shown.isEmpty()) << Shown.join("|").toStdString();
}

TEST_P(IdentificationLink, CorruptFlashHeaderEndsWithItsError) {
  const struct {
    int Offset;
    uint8_t Value;
    bool FixCrc;
    const char *Status;
  } cases[] = {
      {14, 0x00, false, "Ошибка контрольной суммы FLASH"},
      {1, 5, true, "Ошибка формата FLASH"},
  };
  Start();
  for (const auto &c : cases) {
    SpoilFlashHead(c.Offset, c.Value, c.FixCrc);
    EXPECT_EQ(Identify(), c.Status);
    EXPECT_EQ(Form->ToolBarColor(), uint32_t(clLinkError));
    LoadDemoDevice(Device);
  }
  EXPECT_TRUE(Shown.isEmpty()) << Shown.join("|").toStdString();
}

TEST_P(IdentificationLink, TooManyCalibrationRecordsEndTheScript) {
  Device.SetRegister(TSimArea::Flash, DemoDevice::CalibrPtr, 40);
  const QString text = "Ошибка калибровки: недопустимое число записей 40";
  const qsizetype before = Logger().Lines().filter(text).size();
  Start();
  EXPECT_EQ(Identify(), "Ошибка калибровки: недопустимое число записей 40");
  const QStringList logged = Logger().Lines().filter(text);
  ASSERT_EQ(logged.size(), before + 1);
  EXPECT_TRUE(logged.last().contains("ERROR")) << logged.last().toStdString();
  EXPECT_FALSE(Form->Descriptor()->GetCalibrationCount() > TSimpleDeviceDescriptor::MaxCalibration);
}

TEST_P(IdentificationLink, DeviceWithoutCalibrationRecordsIsIdentified) {
  Start();
  ASSERT_EQ(Identify(), "Готово");
  ASSERT_EQ(Form->Descriptor()->GetCalibrationCount(), DemoDevice::CalibrRecords);
  // No records, then records without a value address: nothing to read, the table empties.
  Device.SetRegister(TSimArea::Flash, DemoDevice::CalibrPtr, 0);
  EXPECT_EQ(Identify(), "Готово");
  EXPECT_EQ(Form->Descriptor()->GetCalibrationCount(), 0);
  Device.SetRegister(TSimArea::Flash, DemoDevice::CalibrPtr, 1);
  Device.SetRegister(TSimArea::Flash, DemoDevice::CalibrPtr + 4, 0xFFFF);
  EXPECT_EQ(Identify(), "Готово");
  EXPECT_EQ(Form->Descriptor()->GetCalibrationCount(), 1);
  EXPECT_TRUE(Shown.isEmpty()) << Shown.join("|").toStdString();
}

// A setpoint of a signed measurement limited to -10..0 has a range like any
// other: the relay is identified and the setpoint written within it.
TEST_P(IdentificationLink, ASignedSetpointUpToZeroIsIdentifiedAndWrittenWithinItsLimits) {
  if (GetParam() == TLink::Pty)
    GTEST_SKIP() << "the descriptor matters here, not the link";
  TDeviceContent c = DemoTerminalContent();
  TDcSetpoint cold;
  cold.Type = 50, cold.Measure = 9, cold.Min = uint16_t(-10), cold.Max = 0, cold.Level = 2;
  cold.Full = QStringLiteral("Уставка по температуре");
  c.Setpoints.push_back(cold);
  c.SetpointGroups[1].Eeprom = uint16_t(c.SetpointGroups[0].Eeprom + 2 * c.Setpoints.size());
  c.IdentCrc = DesignIdentificationCrc(c);
  Device.SetFile(DemoDevice::DescriptorFileNo, BuildDeviceImage(c).Bytes, DemoDevice::DescriptorFrameBytes);
  const int reg = DemoDevice::UstavReg1 + int(c.Setpoints.size()) - 1;
  Device.SetRegister(TSimArea::Holding, uint16_t(reg), uint16_t(-5));
  Start("[debug]\npoll=0\n[ustav]\ndirectEdit=2\n");
  ASSERT_EQ(Identify(), "Готово");
  TUstavFrame *page = Form->UstavFrame;
  int row = -1;
  for (int r = 1; r < page->sgUstav->rowCount(); ++r)
    if (page->sgUstav->Cells(1, r) == cold.Full)
      row = r;
  ASSERT_GT(row, 0);
  EXPECT_EQ(page->sgUstav->Cells(2, row), "-5");
  Form->show();
  Form->PageControl->setCurrentWidget(Form->TabSheetUstav);
  Form->SetLoggedIn(true);
  page->SetEditMode(true);
  const auto type = [&](const QString &Text) {
    page->sgUstav->setCurrentCell(row, 2);
    page->Editor()->StartEdit();
    ASSERT_TRUE(page->Editor()->Edit->isVisible());
    page->Editor()->Edit->setText(Text);
    QTest::keyClick(page->Editor()->Edit, Qt::Key_Return);
  };
  ASSERT_NO_FATAL_FAILURE(type("1"));
  EXPECT_EQ(page->CheckLimits(), "\r\nПомилка \"Уставка по температуре\" > 0");
  ASSERT_NO_FATAL_FAILURE(type("-8"));
  ASSERT_EQ(page->CheckLimits(), "");
  Device.ClearLogs();
  page->WriteImage(page->BuildImage());
  ASSERT_TRUE(S.WaitIdle());
  EXPECT_EQ(RegisterRequests(Device).filter("w "), QStringList{QString("w %1 %2").arg(reg).arg(uint16_t(-8))});
}

TEST_P(IdentificationLink, WithoutCustomLogicTheFlashIsNotRead) {
  Start("[debug]\npoll=0\n", -1);
  ASSERT_EQ(Identify(), "Готово");
  EXPECT_EQ(FrameReads(DemoDevice::FlashFileNo), 0);
  EXPECT_FALSE(QFile::exists(FDir.filePath("head.bin")));
  EXPECT_EQ(
      Form->Descriptor()->Root->GetStrNode("param/input-output/param-bitreg[record-type=17]/string[ider=0]/value"),
      "Дискретный вход 1");
}

TEST_P(IdentificationLink, ChosenDeviceNumberIsReadAsHexadecimal) {
  Device.SetAddress(26);
  Start();
  Form->cbDevNo->addItem("1A");
  Form->cbDevNo->setCurrentIndex(0);
  emit Form->cbDevNo->activated(0);
  S.WaitIdle();
  EXPECT_EQ(S.Status(), "Готово");
  EXPECT_EQ(Form->Identification()->DeviceAddr(), 26);
  EXPECT_TRUE(Form->Descriptor()->Ready);
}

TEST_P(IdentificationLink, PasswordOfAnUnidentifiedDeviceIsRefused) {
  Start();
  TPasswdForm *dlg = Form->Forms().PasswdForm;
  dlg->show();
  dlg->BitBtn1->click();
  EXPECT_FALSE(dlg->IsOkPending());
  EXPECT_TRUE(dlg->isVisible());
  EXPECT_EQ(dlg->ErrorText(), "Ошибка: регистры пароля вне диапазона 0..1023");
  EXPECT_EQ(Form->IOChain()->ChainCount(), 0);
  dlg->hide();
}

TEST_P(IdentificationLink, SilentDeviceLeavesTheProgramPollingWithoutDialogs) {
  TSimFault silence;
  silence.Kind = TSimFaultKind::Silence;
  Device.SetFault(silence);
  Start("[timer]\ninterval=100\n");
  // The timer keeps starting the poll while nothing answers.
  QTest::qWaitFor([this] { return Device.RequestLog().size() >= 3; }, 30000);
  EXPECT_GE(Device.RequestLog().size(), 3u);
  EXPECT_FALSE(Form->Descriptor()->Ready);
  EXPECT_EQ(Form->ToolBarColor(), uint32_t(clLinkError));
  EXPECT_TRUE(Shown.isEmpty()) << Shown.join("|").toStdString();
  // Once the device answers, the timer identifies it.
  Device.SetFault(TSimFault());
  QTest::qWaitFor([this] { return S.Status() == "Готово"; }, 30000);
  EXPECT_TRUE(Form->Descriptor()->Ready);
}

// The default scan (255) names what came back, as a poll of the device's
// own address does, instead of "no answer" for everything.
TEST_P(IdentificationLink, ASpoiledAnswerToTheScanIsNamedAsForAKnownAddress) {
  if (GetParam() == TLink::Tcp)
    GTEST_SKIP() << "a scan over Modbus TCP takes no CRC, and a gateway's exception names no device";
  Start();
  const struct {
    TSimFault Fault;
    const char *Status, *Code;
  } cases[] = {
      {{TSimFaultKind::BadCrc, 0, 0x07}, "Ошибка контрольной суммы ответа", "device error bad-crc "},
      {{TSimFaultKind::Exception, 6, 0x07}, "Ошибка устройства 06: устройство занято", "device error exception-06 "},
      {{TSimFaultKind::ShortAnswer, 2, 0x07}, "Неполный ответ устройства", "device error short-answer "},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Status);
    Device.SetFault(c.Fault);
    const qsizetype before = Logger().Lines().size();
    EXPECT_EQ(S.Identify(), c.Status);
    const QStringList lines = Logger().Lines().mid(before);
    EXPECT_FALSE(lines.filter(c.Code).isEmpty()) << lines.join("\n").toStdString();
    EXPECT_TRUE(lines.filter("Нет ответа от устройства").isEmpty());
    EXPECT_FALSE(Form->Descriptor()->Ready);
  }
  Device.SetFault({});
  EXPECT_EQ(Identify(), "Готово");
}

TEST_P(IdentificationLink, TimerStartsNoIdentificationWhileOneIsUnderWay) {
  // The timer ticks by hand, far more often than its interval would.
  auto polls = [this] {
    int n = 0;
    for (const QByteArray &pdu : Device.RequestLog())
      n += !pdu.isEmpty() && uint8_t(pdu[0]) == 0x07;
    return n;
  };
  auto tickUntil = [this](const std::function<bool()> &Done) {
    QDeadlineTimer deadline(60000);
    while (!Done() && !deadline.hasExpired()) {
      Form->TimerTimer();
      QTest::qWait(5);
    }
    return Done();
  };
  // Two descriptor frames answered 1.5 s late: slow, yet within every timeout.
  TSimFault late;
  late.Kind = TSimFaultKind::LateAnswer;
  late.Value = 1500;
  late.Function = 0x1C;
  late.Count = 2;
  Device.SetFault(late);
  Start("[timer]\ninterval=600000\n");
  EXPECT_TRUE(tickUntil([this] { return S.Status() == "Готово"; })) << S.Status().toStdString();
  EXPECT_EQ(polls(), 1);
  EXPECT_TRUE(Form->Descriptor()->Ready);

  // A device that does not answer the poll: one poll per idle tick.
  Form.reset();
  TSimFault silence;
  silence.Kind = TSimFaultKind::Silence;
  silence.Function = 0x07;
  Device.SetFault(silence);
  const int before = polls();
  Start("[timer]\ninterval=600000\n");
  Form->TimerTimer();
  ASSERT_TRUE(Form->IsLinkBusy());
  EXPECT_TRUE(tickUntil([this] { return !Form->IsLinkBusy(); }));
  EXPECT_EQ(polls() - before, 1);
  Form->TimerTimer();
  EXPECT_TRUE(tickUntil([this] { return !Form->IsLinkBusy(); }));
  EXPECT_EQ(polls() - before, 2);
}

TEST_P(IdentificationLink, PasswordIsReReadAndComparedExactly) {
  Start();
  ASSERT_EQ(Identify(), "Готово");
  TPasswdForm *dlg = Form->Forms().PasswdForm;
  const struct {
    const char *Typed;
    bool Accepted;
  } cases[] = {{"1235", false}, {"123", false}, {"12345", false}, {"1234", true}};
  for (const auto &c : cases) {
    dlg->show();
    dlg->Edit->setText(c.Typed);
    dlg->BitBtn1->click();
    QTest::qWaitFor([dlg] { return !dlg->IsOkPending(); }, 30000);
    EXPECT_EQ(dlg->result() == QDialog::Accepted && !dlg->isVisible(), c.Accepted) << c.Typed;
    EXPECT_EQ(dlg->ErrorText(), c.Accepted ? "" : "Неправильный пароль - повторите ввод") << c.Typed;
    dlg->hide();
  }
  // The rights end with the next identification.
  Form->SetLoggedIn(true);
  ASSERT_EQ(Identify(), "Готово");
  EXPECT_FALSE(Form->IsLoggedIn());
}

TEST_P(IdentificationLink, IdentificationDuringTheDialogAcceptsNoEmptyEntry) {
  Start();
  ASSERT_EQ(Identify(), "Готово");
  TPasswdForm *dlg = Form->Forms().PasswdForm;
  dlg->show();
  dlg->setResult(QDialog::Rejected);
  // Without OK pressed an identification passes by.
  EXPECT_EQ(Identify(), "Готово");
  EXPECT_TRUE(dlg->isVisible());
  // OK pressed with an empty entry while an identification runs.
  dlg->BitBtn1->click();
  EXPECT_EQ(Identify(), "Готово");
  QTest::qWaitFor([dlg] { return !dlg->IsOkPending(); }, 30000);
  EXPECT_TRUE(dlg->isVisible());
  EXPECT_NE(dlg->result(), QDialog::Accepted);
  EXPECT_FALSE(Form->IsLoggedIn());
  dlg->hide();
}

INSTANTIATE_TEST_SUITE_P(Links, IdentificationLink, ::testing::Values(TLink::Tcp, TLink::Pty),
                         [](const auto &Info) { return Info.param == TLink::Tcp ? "Tcp" : "Pty"; });
