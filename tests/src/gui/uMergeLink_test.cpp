// Writes of part of a word against devsim over Modbus TCP: another master
// changes another bit of the word while the identity check runs, and every
// path that writes bits leaves the relay's word holding both; a word written
// whole on a relay that keeps a bit of its own is kept on its named bits.
#include "uControls.h"
#include "uDashboardFrame.h"
#include "uDeviceBoardFrame.h"
#include "uLinkKit.h"
#include "uModbus.h"
#include "uSimFault.h"
#include "uUstav.h"
#include "uUstavFrame.h"

#include <QComboBox>
#include <QFile>
#include <QMessageBox>
#include <atomic>
#include <gtest/gtest.h>
#include <memory>

namespace {
// Another master's write that lands while the identity check reads the
// relay's files: once armed, the first read of the FLASH header or the
// descriptor sets Bits in Reg before devsim answers it.
class TOtherMaster {
public:
  explicit TOtherMaster(TSimDevice &Device) : FDevice(Device) {
    FDevice.SetRequestHook([this](const QByteArray &Pdu) {
      const bool checkRead = Pdu.size() >= 2 && uint8_t(Pdu[0]) == SIM_FN_READ_FILE &&
                             (uint8_t(Pdu[1]) == DemoDevice::FlashFileNo ||
                              uint8_t(Pdu[1]) == DemoDevice::DescriptorFileNo);
      if (checkRead && FArmed.exchange(false)) {
        const uint16_t was = FDevice.Register(TSimArea::Holding, FReg);
        FDevice.SetRegister(TSimArea::Holding, FReg, uint16_t(was | FBits));
        FDone = true;
      }
    });
  }
  ~TOtherMaster() { FDevice.SetRequestHook({}); }
  void Arm(uint16_t Reg, uint16_t Bits) {
    FReg = Reg;
    FBits = Bits;
    FDone = false;
    FArmed = true;
  }
  bool Done() const { return FDone; }

private:
  TSimDevice &FDevice;
  std::atomic<bool> FArmed{false}, FDone{false};
  std::atomic<uint16_t> FReg{0}, FBits{0};
};

// The row of bit Bit of the bit set at Reg (group 1).
int BitRow(TUstavGridFrame *F, int Reg, int Bit) {
  for (int r = 1; r < F->sgUstav->rowCount(); ++r)
    if (const auto *b = dynamic_cast<const TUstavBit *>(F->RowUstav(r)); b && b->Reg(0) == Reg && b->Bit == Bit)
      return r;
  return -1;
}
// Chooses "Да" for bit Bit of the bit set at Reg through the row's list.
void ChooseBit(TUstavGridFrame *F, int Reg, int Bit) {
  const int row = BitRow(F, Reg, Bit);
  ASSERT_GT(row, 0) << Reg << "/" << Bit;
  F->sgUstav->setCurrentCell(row, 2);
  F->Editor()->StartEdit();
  ASSERT_TRUE(F->Editor()->ComboBox->isVisible()) << row;
  F->Editor()->ComboBox->setCurrentIndex(1);
  emit F->Editor()->ComboBox->activated(1);
}

// The demo terminal, its title panel and boards beside the program, a window
// that polls nothing on its own, logged in.
class MergeLink : public TShownCapture {
public:
  void Start(const QString &Extra) {
    Master.reset(); // it holds the device of the session before
    S = std::make_unique<TDemoSession>();
    for (const char *name : {"dashboard.XML", "deviceFrame.xml"})
      ASSERT_TRUE(QFile::copy(QString(KV_SOURCE_DIR "/tools/devsim/") + name, S->Dir.filePath(name)));
    ASSERT_TRUE(S->Start("[timer]\ninterval=3600000\n" + Extra));
    ASSERT_EQ(S->Identify(), "Готово");
    S->Form->show();
    S->Form->SetLoggedIn(true);
    Master = std::make_unique<TOtherMaster>(S->Device);
    Shown.clear();
  }
  void TearDown() override {
    Master.reset();
    S.reset();
    TShownCapture::TearDown();
  }
  // The title panel's virtual inputs, read once.
  TBitregGroupBox *VirtualInputs() {
    S->Form->PageControl->setCurrentWidget(S->Form->TabSheetDashboard);
    S->Form->DashboardFrame->Refresh();
    EXPECT_TRUE(S->WaitIdle());
    for (QWidget *w : ControlsOf(S->Form->DashboardFrame->Panel, true))
      if (auto *g = qobject_cast<TBitregGroupBox *>(w); g && g->mreg() == VirtInReg)
        return g;
    return nullptr;
  }
  QString Boxes() const { return BoxesOf(S->Form.get()); }
  int Held(int Reg) const { return S->Device.Register(TSimArea::Holding, Reg); }

  static constexpr int VirtInReg = 23, BitsReg = DemoDevice::UstavReg1 + DemoDevice::BitsUstav;
  std::unique_ptr<TDemoSession> S;
  std::unique_ptr<TOtherMaster> Master;
};
} // namespace

// Each path that writes one bit: the word it merges into is the one the
// relay holds right before the write, so a bit another master set during
// the identity check stays set, and nothing is reported not kept.
TEST_F(MergeLink, AnotherMastersBitSetDuringTheCheckStaysInTheWord) {
  const struct {
    const char *Name;
    const char *Ini;
    int Reg;
    uint16_t Was, Other, Written; // the word before, the other master's bit, the bit pressed
    std::function<void(MergeLink &)> Press;
  } cases[] = {
      {"a bit row of the edit tab", "[ustav]\ndirectEdit=0\nexpandbit=1\n", BitsReg, 37, 8, 2,
       [](MergeLink &T) {
         T.S->Form->PageControl->setCurrentWidget(T.S->Form->TabSheetUstav);
         T.S->Form->EditCommand();
         TkvUstavLocalFrame *set = T.S->Form->ActiveLocalSet();
         ASSERT_TRUE(set);
         ASSERT_NO_FATAL_FAILURE(ChooseBit(set, BitsReg, 1));
         T.Master->Arm(BitsReg, 8);
         T.S->Form->WriteCommand();
       }},
      {"a bit row in the page's edit mode", "[ustav]\ndirectEdit=2\nexpandbit=1\n", BitsReg, 37, 8, 2,
       [](MergeLink &T) {
         T.S->Form->PageControl->setCurrentWidget(T.S->Form->TabSheetUstav);
         T.S->Form->UstavFrame->SetEditMode(true);
         ASSERT_NO_FATAL_FAILURE(ChooseBit(T.S->Form->UstavFrame, BitsReg, 1));
         T.Master->Arm(BitsReg, 8);
         T.S->Form->WriteCommand();
       }},
      {"a virtual input of the title panel", "[dashboard]\nvirtualInputPulse=0\n", VirtInReg, 0, 2, 1,
       [](MergeLink &T) {
         TBitregGroupBox *inputs = T.VirtualInputs();
         ASSERT_TRUE(inputs);
         T.Master->Arm(VirtInReg, 2);
         QTest::mouseClick(inputs->BitList()->Item(0)->Circle(), Qt::LeftButton);
       }},
      {"a virtual input of the title panel, pulsed", "[dashboard]\nvirtualInputPulse=1\n", VirtInReg, 0, 2, 1,
       [](MergeLink &T) {
         TBitregGroupBox *inputs = T.VirtualInputs();
         ASSERT_TRUE(inputs);
         ASSERT_TRUE(Modbus().IsValid(VirtInReg));
         T.Master->Arm(VirtInReg, 2);
         QTest::mouseClick(inputs->BitList()->Item(0)->Circle(), Qt::LeftButton);
       }},
      {"a bit control of a board", "", BitsReg, 37, 8, 2,
       [](MergeLink &T) {
         T.S->Form->NDeviceBoard->trigger();
         auto *boards = T.S->Form->ActiveFrame<TkvDeviceBoardFrame>();
         ASSERT_TRUE(boards);
         ASSERT_TRUE(T.S->WaitIdle());
         auto *bit = qobject_cast<TUstavPanel *>(CreateControl(boards->Panel, "TUstavPanel"));
         ASSERT_TRUE(bit);
         // As a board's file gives it, then bound for the relay identified.
         bit->setIdx(DemoDevice::BitsUstav);
         bit->setBit(1);
         boards->BindControls();
         ASSERT_EQ(bit->List(0)->count(), 2);
         T.Master->Arm(BitsReg, 8);
         emit bit->List(0)->activated(1);
       }},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Name);
    ASSERT_NO_FATAL_FAILURE(Start(QString::fromUtf8(c.Ini)));
    ASSERT_EQ(Held(c.Reg), c.Was);
    ASSERT_NO_FATAL_FAILURE(c.Press(*this));
    ASSERT_TRUE(S->WaitIdle());
    EXPECT_TRUE(Master->Done());
    EXPECT_EQ(Held(c.Reg), c.Was | c.Other | c.Written);
    EXPECT_EQ(RegisterRequests(S->Device).filter(QString("w %1 ").arg(c.Reg)),
              QStringList{QString("w %1 %2").arg(c.Reg).arg(c.Was | c.Other | c.Written)});
    EXPECT_FALSE(Boxes().contains("Не сохранено")) << Boxes().toStdString();
  }
}

// A set's bit-set word written whole on a relay that keeps an unnamed bit of
// that word set: every named bit was kept, and the write says so.
TEST_F(MergeLink, ABitSetWordIsKeptWhenOnlyAnUnnamedBitDiffers) {
  ASSERT_NO_FATAL_FAILURE(Start("[ustav]\ndirectEdit=0\n"));
  S->Device.SetRegister(TSimArea::Holding, BitsReg, 5);
  S->Form->UstavFrame->Refresh();
  ASSERT_TRUE(S->WaitIdle());
  S->Form->UstavFrame->SaveToFile(S->Dir.filePath("a.us"));
  // The relay sets bit 6, which the descriptor does not name, and keeps it.
  S->Device.SetRegister(TSimArea::Holding, BitsReg, 37 | 0x40);
  TSimFault held = ParseSimFault("held-bits=0x40");
  held.Register = BitsReg;
  S->Device.SetFault(held);
  ASSERT_TRUE(S->Form->OpenLocalSet(S->Dir.filePath("a.us"), "a"));
  S->Device.ClearLogs();
  S->Form->WriteCommand();
  ASSERT_TRUE(S->WaitIdle());
  EXPECT_EQ(RegisterRequests(S->Device), QStringList{QString("w %1 5").arg(BitsReg)});
  EXPECT_EQ(Held(BitsReg), 5 | 0x40);
  EXPECT_FALSE(Boxes().contains("Не сохранено")) << Boxes().toStdString();
  EXPECT_FALSE(S->Status().contains("Не сохранено")) << S->Status().toStdString();
}

// A virtual-input press is a value the relay is to keep, compared on its
// bit; a pulse is a command the relay clears itself, never compared.
TEST_F(MergeLink, AVirtualInputPressIsComparedAndAPulseIsNot) {
  const struct {
    const char *Ini;
    bool Compared;
  } cases[] = {{"[dashboard]\nvirtualInputPulse=0\n", true}, {"[dashboard]\nvirtualInputPulse=1\n", false}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Ini);
    ASSERT_NO_FATAL_FAILURE(Start(QString::fromUtf8(c.Ini)));
    TBitregGroupBox *inputs = VirtualInputs();
    ASSERT_TRUE(inputs);
    TSimFault unkept = ParseSimFault("unkept");
    unkept.Register = VirtInReg;
    S->Device.SetFault(unkept);
    QTest::mouseClick(inputs->BitList()->Item(0)->Circle(), Qt::LeftButton);
    ASSERT_TRUE(S->WaitIdle());
    EXPECT_EQ(RegisterRequests(S->Device), QStringList{QString("w %1 1").arg(VirtInReg)});
    const QString said = Boxes() + "|" + S->Status();
    EXPECT_EQ(said.contains(QString("Не сохранено устройством: %1: ").arg(VirtInReg)), c.Compared)
        << said.toStdString();
  }
}
