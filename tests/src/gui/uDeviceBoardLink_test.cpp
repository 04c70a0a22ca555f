// The boards tab against devsim: what its setpoint panels write and what they
// show across the board designer's OK.
#include "../oscview/oscRecords.h"

#include "uControls.h"
#include "uDeviceBoardFrame.h"
#include "uDeviceboardSetup.h"
#include "uFiles.h"
#include "uLinkKit.h"

#include <QComboBox>
#include <QFile>
#include <QListWidget>
#include <gtest/gtest.h>

namespace {
const int SetpointsBoard = 1; // the demo file's second board: setpoint panels at idx 0..3

// The demo relay with its fourth setpoint (idx 3) a bit set of two
// blockings, both set: a relay where a panel of the demo boards file at idx 3
// stands on a bit set.
void MakeFourthSetpointABitSet(TSimDevice &Device) {
  TDeviceContent c = DemoTerminalContent();
  c.Setpoints[3].Type = 53, c.Setpoints[3].Measure = -1, c.Setpoints[3].Min = 0, c.Setpoints[3].Max = 0xFFFF;
  c.Setpoints[3].Full = QStringLiteral("Блокировки ЗМН");
  c.Setpoints[3].ValueFull = {QStringLiteral("Блокировка 1"), QStringLiteral("Блокировка 2")};
  c.IdentCrc = DesignIdentificationCrc(c);
  Device.SetFile(DemoDevice::DescriptorFileNo, BuildDeviceImage(c).Bytes, DemoDevice::DescriptorFrameBytes);
  Device.SetRegister(TSimArea::Holding, DemoDevice::UstavReg1 + 3, 5);
  Device.SetRegister(TSimArea::Holding, DemoDevice::UstavReg2 + 3, 5);
}

class DeviceBoardLink : public TShownCapture {
protected:
  // The window on the demo relay (Prepare changes it first), logged in, the
  // boards tab open on BoardsFile (the demo's when empty) at its setpoints board.
  void Open(const std::function<void(TSimDevice &)> &Prepare = nullptr, const QByteArray &BoardsFile = {}) {
    if (Prepare)
      Prepare(S.Device);
    const QString file = S.Dir.filePath("deviceFrame.xml");
    if (BoardsFile.isEmpty())
      ASSERT_TRUE(QFile::copy(KV_SOURCE_DIR "/tools/devsim/deviceFrame.xml", file));
    else
      SaveFileBytes(file, BoardsFile);
    ASSERT_TRUE(S.Start("[device]\npollPause=300\n"));
    ASSERT_EQ(S.Identify(), "Готово");
    S.Form->SetLoggedIn(true);
    S.Form->NDeviceBoard->trigger();
    Boards = S.Form->findChild<TkvDeviceBoardFrame *>();
    ASSERT_TRUE(Boards);
    ASSERT_TRUE(S.WaitIdle());
    Boards->ListBox->setCurrentRow(SetpointsBoard);
    ASSERT_TRUE(S.WaitIdle());
  }
  TUstavPanel *PanelAt(int Idx, int Bit = -1) const {
    for (QWidget *w : ControlsOf(Boards->Panel, true))
      if (auto *u = qobject_cast<TUstavPanel *>(w); u && u->idx() == Idx && u->bit() == Bit)
        return u;
    return nullptr;
  }
  // The designer opened on the board on show; Act runs in it, then OK.
  void Design(const std::function<void()> &Act = nullptr) {
    WhenModal<TDeviceboardSetupForm>([Act](TDeviceboardSetupForm &Designer) {
      if (Act)
        Act();
      Designer.accept();
    });
    ASSERT_TRUE(QTest::qWaitFor([this] { return S.Form->adSetup->isEnabled(); }, 30000));
    S.Form->adSetup->trigger();
    ASSERT_TRUE(Boards->IsModified());
  }
  // A choice in group 1's list of Panel; the writes devsim received for it.
  QString Choose(TUstavPanel *Panel, int Index) {
    const size_t mark = S.Device.RequestLog().size();
    emit Panel->List(0)->activated(Index);
    EXPECT_TRUE(S.WaitIdle());
    return RegisterRequests(S.Device, false, mark).join(",");
  }

  TDemoSession S;
  TkvDeviceBoardFrame *Boards = nullptr;
};

// A setpoint panel on a bit set whose bit is not 0..15 stands for no bit: it
// is disabled, shows its file's caption and sends nothing; the panels of the
// same board on list setpoints still write, and one with its bit writes that
// bit alone.
TEST_F(DeviceBoardLink, APanelOnABitSetWithoutItsBitIsBoundToNothingWritable) {
  QByteArray withBitSet = LoadFileBytes(KV_SOURCE_DIR "/tools/devsim/deviceFrame.xml");
  withBitSet.replace("<idx>3</idx>", "<idx>4</idx>");
  withBitSet.replace("<idx>0</idx>\r\n      <bit>-1</bit>", "<idx>4</idx>\r\n      <bit>0</bit>");
  const struct {
    const char *Name;
    std::function<void(TSimDevice &)> Prepare;
    QByteArray File;
    int Idx, Reg;
    QList<int> Writes; // the panel with a bit: what it writes
  } cases[] = {
      {"the demo boards file on a relay with a bit set at idx 3", MakeFourthSetpointABitSet, {}, 3, 103, {}},
      {"a panel at the demo relay's idx 4", nullptr, withBitSet, 4, 104, {4, 0}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Name);
    S.Form.reset();
    S.Server.reset();
    QFile::remove(S.Dir.filePath("deviceFrame.xml"));
    LoadDemoDevice(S.Device);
    ASSERT_NO_FATAL_FAILURE(Open(c.Prepare, c.File));
    TUstavPanel *noBit = PanelAt(c.Idx);
    ASSERT_TRUE(noBit);
    const uint16_t was = S.Device.Register(TSimArea::Holding, uint16_t(c.Reg));
    EXPECT_FALSE(noBit->isEnabled());
    EXPECT_FALSE(noBit->IsBound());
    EXPECT_EQ(noBit->Label()->text().toStdString(), "Уставка");
    EXPECT_EQ(Choose(noBit, 0).toStdString(), "");
    EXPECT_EQ(Choose(noBit, 1).toStdString(), "");
    EXPECT_EQ(S.Device.Register(TSimArea::Holding, uint16_t(c.Reg)), was);

    TUstavPanel *direction = PanelAt(2);
    ASSERT_TRUE(direction);
    EXPECT_TRUE(direction->isEnabled());
    EXPECT_EQ(Choose(direction, 2).toStdString(), "w 102 2");
    if (!c.Writes.isEmpty()) {
      TUstavPanel *first = PanelAt(c.Idx, 0);
      ASSERT_TRUE(first);
      EXPECT_TRUE(first->isEnabled());
      EXPECT_EQ(Choose(first, 0).toStdString(), QString("w %1 %2").arg(c.Reg).arg(was & ~1).toStdString());
    }
    EXPECT_TRUE(BoxesOf(S.Form.get()).isEmpty()) << BoxesOf(S.Form.get()).toStdString();
  }
}

// "Настройка панели" -> OK keeps the relay's value on a list setpoint; with
// another relay identified under the open designer, a numeric setpoint shows
// that relay's value (or none), never the first relay's.
TEST_F(DeviceBoardLink, TheDesignersOkShowsTheRelayIdentifiedNow) {
  ASSERT_NO_FATAL_FAILURE(Open());
  TUstavPanel *direction = PanelAt(2);
  ASSERT_TRUE(direction);
  ASSERT_EQ(direction->List(0)->currentText().toStdString(), "вперед");
  ASSERT_NO_FATAL_FAILURE(Design());
  direction = PanelAt(2);
  ASSERT_TRUE(direction);
  EXPECT_EQ(direction->List(0)->currentText().toStdString(), "вперед");
  EXPECT_EQ(direction->List(1)->currentText().toStdString(), "нет");

  TUstavPanel *current = PanelAt(0);
  ASSERT_TRUE(current);
  const QString first = current->Edit(0)->text();
  ASSERT_FALSE(first.isEmpty());
  ASSERT_NO_FATAL_FAILURE(Design([this] {
    LoadDemoDevice(S.Device, 3);
    S.Device.SetRegister(TSimArea::Holding, DemoDevice::UstavReg1, 9600);
    ASSERT_EQ(S.Identify(), "Готово");
    S.Form->SetLoggedIn(true);
  }));
  current = PanelAt(0);
  ASSERT_TRUE(current);
  const QString shown = current->Edit(0)->text();
  EXPECT_NE(shown.toStdString(), first.toStdString());
  Boards->Refresh();
  ASSERT_TRUE(S.WaitIdle());
  if (!shown.isEmpty()) {
    EXPECT_EQ(shown.toStdString(), current->Edit(0)->text().toStdString());
  }
}
} // namespace
