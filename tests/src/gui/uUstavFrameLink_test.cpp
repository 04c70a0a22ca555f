// The setpoints page and a local setpoint set against the in-process demo
// terminal: edit mode, limits, bit rows, set files and local writes; a set
// written against what the relay holds at the write, and the edit tab bound
// to the relay it was made from, through a gateway to a second relay.
#include "uUstavFrame.h"
#include "../../common/uErrorOf.h"
#include "../../common/uTcpGateway.h"

#include "uErrors.h"
#include "uFiles.h"
#include "uLinkKit.h"
#include "uModbus.h"
#include "uDashboardFrame.h"
#include "uPageChains.h"
#include "uSimpleDeviceDescriptor.h"
#include "uPageControlHelper.h"
#include "uStringGrid.h"
#include "uStringGridEditor.h"
#include "uUstavLocalFrame.h"
#include "uUstavSetFile.h"
#include "uSimFault.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <gtest/gtest.h>

namespace {
class UstavFrameLink : public TShownCapture {
protected:
  void Start(const QString &Ustav) {
    ASSERT_TRUE(S.Start("[ustav]\n" + Ustav));
    ASSERT_EQ(S.Identify(), "Готово");
    Page = S.Form->UstavFrame;
    S.Form->show();
    S.Form->PageControl->setCurrentWidget(S.Form->TabSheetUstav);
    S.Device.ClearLogs();
  }
  static int RowOf(TUstavGridFrame *F, const QString &Name) {
    for (int r = 1; r < F->sgUstav->rowCount(); ++r)
      if (F->sgUstav->Cells(1, r) == Name)
        return r;
    return -1;
  }
  // Types Text into group 1 of the row named Name; false when no editor opened.
  static bool Type(TUstavGridFrame *F, const QString &Name, const QString &Text) {
    F->sgUstav->setCurrentCell(RowOf(F, Name), 2);
    F->Editor()->StartEdit();
    if (!F->Editor()->Edit->isVisible())
      return false;
    F->Editor()->Edit->setText(Text);
    QTest::keyClick(F->Editor()->Edit, Qt::Key_Return);
    return true;
  }

  TDemoSession S;
  TUstavFrame *Page = nullptr;
};
} // namespace

TEST(UstavDigest, IsTheMd5OfTheSetpointTextsInWindows1251) {
  const struct {
    const char *Xml, *Digest;
  } cases[] = {
      {"<device-descriptor><ustav><a>1</a><b>Защиты</b><c>200</c></ustav></device-descriptor>",
       "83A3A271FE7D6B478D3947D5ADD830B6"},
      {"<device-descriptor/>", "D41D8CD98F00B204E9800998ECF8427E"},
  };
  for (const auto &c : cases) {
    IXXMLDocument d = NewXMLDocument();
    ASSERT_TRUE(d->LoadXML(QString::fromUtf8(c.Xml)));
    EXPECT_EQ(TUstavGridFrame::DescriptorDigest(d->GetDocumentElement()).toHex().toUpper(), c.Digest);
  }
}

TEST_F(UstavFrameLink, EditModeWritesOnlyTheChangedRegisterAfterTheLimitCheck) {
  Start("directEdit=2\n");
  const QString time = "Выдержка времени МТЗ-1", voltage = "Уставка ЗМН по напряжению";
  EXPECT_FALSE(Type(Page, time, "600")); // outside edit mode no editor opens
  Page->SetEditMode(true);
  ASSERT_TRUE(Type(Page, time, "600"));
  EXPECT_TRUE(Page->CellChanged(2, RowOf(Page, time)));
  EXPECT_FALSE(Page->CellChanged(3, RowOf(Page, time)));
  EXPECT_TRUE(RegisterRequests(S.Device).isEmpty());
  ASSERT_EQ(Page->CheckLimits(), "");
  Page->WriteImage(Page->BuildImage());
  ASSERT_TRUE(S.WaitIdle());
  EXPECT_EQ(RegisterRequests(S.Device), QStringList{"w 101 600"});
  EXPECT_TRUE(QTest::qWaitFor([this] { return Shown.contains("Уставки успешно записаны"); }, 5000));
  EXPECT_FALSE(Page->GetEditMode());
  EXPECT_FALSE(Page->CellChanged(2, RowOf(Page, time)));

  // A value below word-min gives the limit line in the current unit.
  Page->SetEditMode(true);
  ASSERT_TRUE(Type(Page, voltage, "5"));
  EXPECT_EQ(Page->CheckLimits(), "\r\nПомилка \"Уставка ЗМН по напряжению\" < 10.0");
}

TEST_F(UstavFrameLink, ExpandedBitRowChangesOneBitOfItsRegister) {
  Start("directEdit=1\nexpandbit=1\n");
  S.Form->SetLoggedIn(true);
  const int row = RowOf(Page, "Пуск МТЗ-1 от / ЗМН"); // bit 4
  ASSERT_GT(row, 0);
  EXPECT_EQ(Page->sgUstav->Cells(2, row), "Нет");
  Page->sgUstav->setCurrentCell(row, 2);
  Page->Editor()->StartEdit();
  ASSERT_TRUE(Page->Editor()->ComboBox->isVisible());
  Page->Editor()->ComboBox->setCurrentIndex(1);
  emit Page->Editor()->ComboBox->activated(1);
  ASSERT_TRUE(S.WaitIdle());
  EXPECT_EQ(RegisterRequests(S.Device), QStringList{"w 104 53"});
  EXPECT_EQ(Page->sgUstav->Cells(2, row), "Да");
}

TEST_F(UstavFrameLink, SetFileRoundTripsThroughALocalSetAndItsWrite) {
  Start("directEdit=0\n");
  const QString file = S.Dir.filePath("tempustav.xml");
  Page->SaveToFile(file);
  TkvUstavLocalFrame local(Page);
  local.SetHost(Page->Host());
  local.Init();
  local.LoadFromFile(file);
  local.show();
  EXPECT_EQ(local.GetDescriptorDigest(), Page->GetDescriptorDigest());
  const int words[] = {4800, 500, 1, 7000, 37, 6000, 300, 0, 6500, 5};
  for (int i = 0; i < 10; ++i)
    EXPECT_EQ(local.OwnImage().GetWord((i < 5 ? 100 : 145) + i), words[i]) << i;
  EXPECT_EQ(local.OwnImage().GetWord(DemoDevice::ScaledReg), 0);
  for (int r = 1; r < local.sgUstav->rowCount(); ++r)
    for (int c = 2; c < 4; ++c)
      EXPECT_FALSE(local.CellChanged(c, r)) << r << "," << c;

  ASSERT_TRUE(Type(&local, "Выдержка времени МТЗ-1", "450"));
  EXPECT_TRUE(local.CellChanged(2, RowOf(&local, "Выдержка времени МТЗ-1")));
  local.WriteImage(local.BuildImage());
  ASSERT_TRUE(S.WaitIdle());
  EXPECT_EQ(RegisterRequests(S.Device), QStringList{"w 101 450"});
  EXPECT_TRUE(QTest::qWaitFor([this] { return Shown.contains("Готово"); }, 5000));

  // Saved and loaded again, the set keeps its descriptor; a renamed level changes its digest.
  const QString before = local.Descriptor()->GetXml();
  local.SaveToFile(S.Dir.filePath("a.us"));
  TkvUstavLocalFrame again(Page);
  again.SetHost(Page->Host());
  again.Init();
  again.LoadFromFile(S.Dir.filePath("a.us"));
  EXPECT_EQ(again.Descriptor()->GetXml(), before);
  EXPECT_EQ(again.OwnImage().GetWord(101), 450);
  again.show();
  again.clbUstavLevel->setCurrentRow(1);
  QTest::keyClick(again.clbUstavLevel, Qt::Key_F2);
  again.LevelEditor()->Edit->setText("Защиты");
  QTest::keyClick(again.LevelEditor()->Edit, Qt::Key_Return);
  EXPECT_NE(again.GetDescriptorDigest(), Page->GetDescriptorDigest());

  TkvUstavLocalFrame bad(Page);
  bad.Init();
  EXPECT_EQ(ErrorOf([&] { bad.LoadFromFile(S.Dir.filePath("missing.us")); }), "invalid format");
}

TEST_F(UstavFrameLink, SetThatFailsToLoadLeavesTheSetpointsPageInFront) {
  Start("directEdit=0\n");
  const struct {
    const char *File, *Bytes;
  } cases[] = {{"missing.us", nullptr}, {"broken.us", "not a setpoint set"}};
  for (const auto &c : cases) {
    Answer = S.Dir.filePath(c.File);
    if (c.Bytes)
      SaveFileBytes(Answer, c.Bytes);
    Errors.clear();
    S.Form->apFileLoad->trigger();
    ASSERT_EQ(Errors.size(), 1) << c.File;
    EXPECT_TRUE(Errors[0].startsWith("invalid format")) << Errors[0].toStdString();
    EXPECT_EQ(S.Form->PageControl->count(), 5) << c.File;
    EXPECT_EQ(S.Form->PageControl->currentWidget(), S.Form->TabSheetUstav) << c.File;
  }
}

TEST_F(UstavFrameLink, SingleGroupDeviceNeverTouchesRegisterZeroOr65535) {
  TDeviceContent content = DemoTerminalContent();
  content.SetpointGroups.resize(1);
  S.Device.SetFile(DemoDevice::DescriptorFileNo, BuildDeviceImage(content).Bytes, DemoDevice::DescriptorFrameBytes);
  Start("directEdit=2\n");
  EXPECT_EQ(Page->GroupCount(), 1);
  EXPECT_EQ(Page->sgUstav->columnCount(), 3);
  Page->SaveToFile(S.Dir.filePath("one.us"));
  Page->SetEditMode(true);
  ASSERT_TRUE(Type(Page, "Выдержка времени МТЗ-1", "600"));
  ASSERT_EQ(Page->CheckLimits(), "");
  Page->WriteImage(Page->BuildImage());
  ASSERT_TRUE(S.WaitIdle());
  EXPECT_EQ(RegisterRequests(S.Device), QStringList{"w 101 600"});
  int reads = 0;
  for (const QByteArray &p : S.Device.RequestLog()) {
    if (p.size() != 5 || (uint8_t(p[0]) != SIM_FN_READ_HOLDING && uint8_t(p[0]) != SIM_FN_WRITE_HOLDING))
      continue;
    const int first = uint8_t(p[1]) << 8 | uint8_t(p[2]);
    const int count = uint8_t(p[0]) == SIM_FN_READ_HOLDING ? (uint8_t(p[3]) << 8 | uint8_t(p[4])) : 1;
    reads += uint8_t(p[0]) == SIM_FN_READ_HOLDING;
    EXPECT_GT(first, 0);
    EXPECT_LE(first + count, 1024);
  }
  EXPECT_GT(reads, 0);
}

namespace {
// The window against devsim over Modbus TCP (through a gateway when given),
// its timer ticking only when the test says so; identified and logged in,
// the setpoints page in front.
class SetWriteLink : public TShownCapture {
protected:
  // "Редактировать уставки": the edit tab it opens.
  TkvUstavLocalFrame *EditTab() {
    S.Form->EditCommand();
    return S.Form->ActiveLocalSet();
  }
  void Start(const QString &Ustav, TTcpGateway *Gateway = nullptr) {
    if (!Gateway)
      S.Serve(false);
    Port = Gateway ? Gateway->Port() : S.Server->TcpPort();
    ASSERT_TRUE(S.Open(QString("[setup]\ncustom=0\npasswdExpirationPeriod=600\nprotocol=modbustcp\n"
                               "[modbustcp]\nhost=127.0.0.1\nport=%1\n[device]\npollPause=1000\n[com]\nTimeout=1000\n"
                               "[timer]\ninterval=3600000\n[debug]\npoll=1\n[ustav]\n")
                           .arg(Port) +
                       Ustav));
    ASSERT_EQ(S.Identify(), "Готово");
    S.Form->show();
    S.Form->SetLoggedIn(true);
    S.Form->PageControl->setCurrentWidget(S.Form->TabSheetUstav);
    S.Device.ClearLogs();
  }
  // Up to Ticks ticks until Done, each tick's chains run to their end.
  bool TickUntil(int Ticks, const std::function<bool()> &Done) {
    for (int i = 0; i < Ticks && !Done(); ++i) {
      S.Form->TimerTimer();
      S.WaitIdle();
    }
    return Done();
  }
  // Types Text into the cell of register Reg (group 1 or 2) through the editor.
  static void Type(TUstavGridFrame *F, int Reg, const QString &Text) {
    const auto [col, row] = Cell(F, Reg);
    ASSERT_GT(row, 0) << Reg;
    F->sgUstav->setCurrentCell(row, col);
    F->Editor()->StartEdit();
    ASSERT_TRUE(F->Editor()->Edit->isVisible()) << Reg;
    F->Editor()->Edit->setText(Text);
    QTest::keyClick(F->Editor()->Edit, Qt::Key_Return);
  }
  static std::pair<int, int> Cell(TUstavGridFrame *F, int Reg) {
    for (int r = 1; r < F->sgUstav->rowCount(); ++r)
      for (int g = 0; g < 2; ++g)
        if (F->RowUstav(r) && F->RowUstav(r)->Reg(g) == Reg)
          return {g + 2, r};
    return {0, -1};
  }
  static QString CellText(TUstavGridFrame *F, int Reg) {
    const auto [col, row] = Cell(F, Reg);
    return F->sgUstav->Cells(col, row);
  }
  int Held(int Reg) const { return S.Device.Register(TSimArea::Holding, Reg); }
  TUstavFrame *UstavPage() const { return S.Form->UstavFrame; }
  QString Value(int Reg, int Word) const { return S.Form->UstavFrame->RegValueText(Reg, Word); }
  // The texts of the write boxes the window shows.
  QString Boxes() const {
    QString text;
    for (QMessageBox *b : S.Form->findChildren<QMessageBox *>())
      text += b->text();
    return text;
  }
  // The identity checks devsim saw: each reads the descriptor's first frame.
  int Checks() const {
    int n = 0;
    for (const QByteArray &p : S.Device.RequestLog())
      n += p.size() >= 4 && uint8_t(p[0]) == 0x1C && uint8_t(p[1]) == DemoDevice::DescriptorFileNo && p[3] == 0;
    return n;
  }
  // The tab's word that it was made for another relay, when shown.
  static bool SaysOtherRelay(TkvUstavLocalFrame *Set) {
    auto *label = Set->findChild<QLabel *>("LabelOtherRelay");
    return label && label->isVisible();
  }
  void Write() {
    S.Form->WriteCommand();
    ASSERT_TRUE(S.WaitIdle());
  }

  TDemoSession S;
  uint16_t Port = 0;
};
} // namespace

TEST_F(SetWriteLink, ASetIsWrittenAgainstWhatTheRelayHoldsAtTheWrite) {
  Start("directEdit=0\n");
  S.Form->UstavFrame->SaveToFile(S.Dir.filePath("a.us"));
  TkvUstavLocalFrame *set = S.Form->OpenLocalSet(S.Dir.filePath("a.us"), "a");
  // Another master changed the relay after the set was made.
  S.Device.SetRegister(TSimArea::Holding, 100, 3000);
  ASSERT_NO_FATAL_FAILURE(Write());
  EXPECT_EQ(RegisterRequests(S.Device), QStringList{"w 100 4800"});
  EXPECT_EQ(Held(100), 4800);
  ASSERT_NO_FATAL_FAILURE(Type(set, 101, Value(101, 450)));
  S.Device.ClearLogs();
  ASSERT_NO_FATAL_FAILURE(Write());
  EXPECT_EQ(RegisterRequests(S.Device), QStringList{"w 101 450"});

  // The relay restarted with its factory values on the same port: only the
  // identity check has read it since.
  S.Server.reset();
  S.Form->UstavFrame->Refresh();
  ASSERT_TRUE(S.WaitIdle());
  LoadDemoDevice(S.Device);
  S.Server = std::make_unique<TDevSimServer>(S.Device);
  TDevSimOptions o;
  o.UsePty = false;
  o.TcpPort = Port;
  S.Server->Start(o);
  ASSERT_TRUE(TickUntil(3, [this] { return S.Form->ToolBarColor() == clLinkDone; }));
  S.Form->PageControl->setCurrentWidget(S.Form->PageControl->widget(S.Form->PageControl->count() - 1));
  ASSERT_EQ(S.Form->ActiveLocalSet(), set);
  S.Device.ClearLogs();
  ASSERT_NO_FATAL_FAILURE(Write());
  EXPECT_EQ(RegisterRequests(S.Device), QStringList{"w 101 450"});
  EXPECT_EQ(Held(101), 450);

  // The relay holds the whole set: checked and read, nothing written.
  S.Device.ClearLogs();
  Shown.clear();
  ASSERT_NO_FATAL_FAILURE(Write());
  EXPECT_EQ(RegisterRequests(S.Device), QStringList());
  EXPECT_EQ(Checks(), 1);
  EXPECT_FALSE(RegisterRequests(S.Device, true).isEmpty());
  EXPECT_TRUE(QTest::qWaitFor([this] { return Shown.contains("Устройство уже содержит эти уставки"); }, 5000))
      << Shown.join("|").toStdString();
  EXPECT_FALSE(Shown.contains("Готово"));

  // No relay answers: refused as every write is, at the check.
  S.Server.reset();
  Shown.clear();
  ASSERT_NO_FATAL_FAILURE(Write());
  EXPECT_TRUE(S.Status().contains("Нет соединения")) << S.Status().toStdString();
  EXPECT_TRUE(Shown.isEmpty()) << Shown.join("|").toStdString();
}

TEST_F(SetWriteLink, AnEditTabWritesOnlyItsEditsAndShowsWhatTheProgramWroteMeanwhile) {
  Start("directEdit=1\n");
  TkvUstavLocalFrame *set = EditTab();
  ASSERT_TRUE(set);
  ASSERT_NO_FATAL_FAILURE(Type(set, 101, Value(101, 450)));
  // The setpoints page writes another setpoint at once.
  S.Form->PageControl->setCurrentWidget(S.Form->TabSheetUstav);
  ASSERT_NO_FATAL_FAILURE(Type(S.Form->UstavFrame, 100, Value(100, 3000)));
  ASSERT_TRUE(S.WaitIdle());
  ASSERT_EQ(Held(100), 3000);
  S.Form->PageControl->setCurrentWidget(set->parentWidget());
  ASSERT_EQ(S.Form->ActiveLocalSet(), set);
  EXPECT_EQ(CellText(set, 100), Value(100, 3000));
  EXPECT_EQ(CellText(set, 101), Value(101, 450));
  // A bound control of the title panel writes it again while the tab is on show.
  ASSERT_TRUE(WriteBoundRegister(*S.Form->IOChain(), S.Form->DashboardFrame, S.Form->Descriptor()->Root, 100, 2000,
                                 0xFFFF, [] { return true; }, {}));
  ASSERT_TRUE(S.WaitIdle());
  ASSERT_EQ(Held(100), 2000);
  EXPECT_TRUE(QTest::qWaitFor([&] { return CellText(set, 100) == Value(100, 2000); }, 10000));
  S.Device.ClearLogs();
  ASSERT_NO_FATAL_FAILURE(Write());
  EXPECT_EQ(RegisterRequests(S.Device), QStringList{"w 101 450"});
  EXPECT_EQ(Held(100), 2000);
}

// Relay A (the demo terminal) and relay B (the same setpoint map under
// another descriptor date) behind one gateway.
class SetGatewayLink : public SetWriteLink {
protected:
  void SetUp() override {
    SetWriteLink::SetUp();
    LoadDemoDevice(Other);
    TDeviceContent b = DemoTerminalContent();
    b.DescDate = QDate(2025, 3, 1);
    Other.SetFile(DemoDevice::DescriptorFileNo, BuildDeviceImage(b).Bytes, DemoDevice::DescriptorFrameBytes);
    Other.SetRegister(TSimArea::Holding, 100, 1111);
    ServeTwoRelays(S, Other, OtherServer, Gateway);
  }
  void TearDown() override {
    S.Form.reset(); // before the gateway it is connected to
    SetWriteLink::TearDown();
  }
  TSimDevice Other;
  std::unique_ptr<TDevSimServer> OtherServer;
  std::unique_ptr<TTcpGateway> Gateway;
};

TEST_F(SetGatewayLink, AnEditTabMadeFromOneRelayIsNeverWrittenToAnother) {
  ASSERT_NO_FATAL_FAILURE(Start("directEdit=0\n", Gateway.get()));
  const QString dateA = S.Form->LabelDescID->text();
  TkvUstavLocalFrame *set = EditTab();
  ASSERT_TRUE(set);
  ASSERT_NO_FATAL_FAILURE(Type(set, 101, Value(101, 510)));
  Gateway->Target(TTcpGateway::TUpstream::B);
  ASSERT_EQ(S.Identify(), "Готово");
  ASSERT_NE(S.Form->LabelDescID->text(), dateA);
  S.Form->SetLoggedIn(true);
  S.Form->PageControl->setCurrentWidget(set->parentWidget());
  for (int press = 0; press < 2; ++press) {
    ASSERT_NO_FATAL_FAILURE(Write());
    EXPECT_EQ(Gateway->Writes(TTcpGateway::TUpstream::B), 0);
  }
  EXPECT_TRUE(Boxes().contains("Не записано")) << Boxes().toStdString();
  EXPECT_TRUE(SaysOtherRelay(set));

  // Relay A identified again is the relay the tab was made from. The
  // refusal stays in the status line until the engineer's next press.
  S.Form->UnpinWriteReport();
  Gateway->Target(TTcpGateway::TUpstream::A);
  ASSERT_EQ(S.Identify(), "Готово");
  S.Form->SetLoggedIn(true);
  S.Form->PageControl->setCurrentWidget(set->parentWidget());
  S.Device.ClearLogs();
  ASSERT_NO_FATAL_FAILURE(Write());
  EXPECT_EQ(RegisterRequests(S.Device), QStringList{"w 101 510"});
  EXPECT_FALSE(SaysOtherRelay(set));
}

namespace {
// The stored value of Reg in the set file File (0 when none is stored).
int Stored(const QString &File, int Reg) {
  for (const auto &[reg, value] : ReadUstavSetFile(File).Values)
    if (reg == Reg)
      return value;
  return 0;
}
// The first row of bit Bit of the setpoint of Reg (group 1) shown expanded.
int BitRow(TUstavGridFrame *F, int Reg, int Bit) {
  for (int r = 1; r < F->sgUstav->rowCount(); ++r)
    if (const auto *b = dynamic_cast<const TUstavBit *>(F->RowUstav(r)); b && b->Reg(0) == Reg && b->Bit == Bit)
      return r;
  return -1;
}
// Chooses "Да" or "Нет" in group 1 of row Row through its list.
void ChooseBit(TUstavGridFrame *F, int Row, bool On) {
  F->sgUstav->setCurrentCell(Row, 2);
  F->Editor()->StartEdit();
  ASSERT_TRUE(F->Editor()->ComboBox->isVisible()) << Row;
  F->Editor()->ComboBox->setCurrentIndex(On ? 1 : 0);
  emit F->Editor()->ComboBox->activated(On ? 1 : 0);
}
} // namespace

TEST_F(SetWriteLink, AnEditTabSavedUnderANameIsWrittenAsItsFile) {
  Start("directEdit=0\n");
  TkvUstavLocalFrame *set = EditTab();
  ASSERT_TRUE(set);
  Answer = S.Dir.filePath("setC.us");
  S.Form->apFileSaveAs->trigger();
  ASSERT_EQ(Stored(Answer, 100), 4800);
  // Another master changes the relay; the setpoints page shows it.
  S.Device.SetRegister(TSimArea::Holding, 100, 3000);
  S.Form->UstavFrame->Refresh();
  ASSERT_TRUE(S.WaitIdle());
  EXPECT_EQ(CellText(set, 100), Value(100, 4800));
  S.Form->PageControl->setCurrentWidget(set->parentWidget());
  ASSERT_NO_FATAL_FAILURE(Write());
  EXPECT_EQ(RegisterRequests(S.Device), QStringList{"w 100 4800"});
  EXPECT_EQ(Held(100), 4800);
  EXPECT_FALSE(set->IsModified());
}

TEST_F(SetWriteLink, SavingAnEditTabAsksForANameAndTwoTabsInARowLoseNothing) {
  Start("directEdit=0\n");
  TkvUstavLocalFrame *first = EditTab();
  ASSERT_TRUE(first);
  ASSERT_NO_FATAL_FAILURE(Type(first, 101, Value(101, 450)));
  const QString work = first->FileName();
  // Cancelled: nothing saved, the tab still holds an unsaved change.
  Answer.clear();
  S.Form->apFileSave->trigger();
  EXPECT_EQ(Asked, QStringList{"Сохранить набор уставок как"});
  EXPECT_TRUE(first->IsModified());
  EXPECT_EQ(Stored(work, 101), 500);
  Answer = S.Dir.filePath("one.us");
  S.Form->apFileSave->trigger();
  EXPECT_EQ(Stored(Answer, 101), 450);
  EXPECT_EQ(first->FileName(), Answer);
  EXPECT_EQ(S.Form->PageControl->tabText(S.Form->PageControl->currentIndex()).trimmed(), "one.us");

  // The next edit tab takes the work file; the first keeps its own.
  S.Form->PageControl->setCurrentWidget(S.Form->TabSheetUstav);
  TkvUstavLocalFrame *second = EditTab();
  ASSERT_NE(second, first);
  ASSERT_NO_FATAL_FAILURE(Type(second, 103, Value(103, 6500)));
  EXPECT_FALSE(first->IsModified());
  EXPECT_EQ(Stored(Answer, 101), 450);
  // Closing the second tab with its change saved asks for a name too.
  Asked.clear();
  Answer = S.Dir.filePath("two.us");
  const TMessageSink shown = SetMessageSink([](TMsgKind, const QString &) { return TMsgResult::Yes; });
  EXPECT_TRUE(second->QueryClose());
  SetMessageSink(shown);
  EXPECT_EQ(Asked, QStringList{"Сохранить набор уставок как"});
  EXPECT_EQ(Stored(Answer, 103), 6500);
  EXPECT_EQ(Stored(Answer, 101), 500);
  EXPECT_EQ(Stored(work, 103), 7000);
}

TEST_F(SetWriteLink, WhatAnEditTabWroteFollowsTheRelayAfterwards) {
  Start("directEdit=0\n");
  TkvUstavLocalFrame *set = EditTab();
  ASSERT_TRUE(set);
  ASSERT_NO_FATAL_FAILURE(Type(set, 101, Value(101, 450)));
  ASSERT_NO_FATAL_FAILURE(Write());
  ASSERT_EQ(RegisterRequests(S.Device), QStringList{"w 101 450"});
  // Another master changes the written setpoint: the tab shows it and
  // writes nothing back.
  S.Device.SetRegister(TSimArea::Holding, 101, 600);
  S.Form->UstavFrame->Refresh();
  ASSERT_TRUE(S.WaitIdle());
  EXPECT_EQ(CellText(set, 101), Value(101, 600));
  EXPECT_FALSE(set->CellChanged(Cell(set, 101).first, Cell(set, 101).second));
  S.Device.ClearLogs();
  ASSERT_NO_FATAL_FAILURE(Write());
  EXPECT_EQ(RegisterRequests(S.Device), QStringList());
  EXPECT_EQ(Held(101), 600);
}

// What the relay did not take stays an edit in the page's edit mode, named
// with its group in the report: a write that stopped part-way, a value the
// relay acknowledged and did not keep.
TEST_F(SetWriteLink, AValueTheRelayDidNotTakeStaysAnEditOnThePage) {
  const struct {
    const char *Name;
    TSimFaultKind Kind;
  } endings[] = {{"stopped part-way", TSimFaultKind::Exception}, {"not kept", TSimFaultKind::Unkept}};
  for (const auto &e : endings) {
    SCOPED_TRACE(e.Name);
    S.Form.reset();
    S.Server.reset();
    LoadDemoDevice(S.Device);
    ASSERT_NO_FATAL_FAILURE(Start("directEdit=2\n"));
    UstavPage()->SetEditMode(true);
    ASSERT_NO_FATAL_FAILURE(Type(UstavPage(), 100, Value(100, 4000)));
    ASSERT_NO_FATAL_FAILURE(Type(UstavPage(), 101, Value(101, 320)));
    TSimFault fault;
    fault.Kind = e.Kind;
    fault.Value = 4;
    fault.Function = SIM_FN_WRITE_HOLDING;
    fault.Register = 101;
    S.Device.SetFault(fault);
    ASSERT_NO_FATAL_FAILURE(Write());
    ASSERT_EQ(Held(100), 4000);
    ASSERT_EQ(Held(101), 500);
    EXPECT_TRUE(UstavPage()->GetEditMode());
    EXPECT_EQ(CellText(UstavPage(), 101), Value(101, 320));
    EXPECT_TRUE(UstavPage()->CellChanged(Cell(UstavPage(), 101).first, Cell(UstavPage(), 101).second));
    EXPECT_FALSE(UstavPage()->CellChanged(Cell(UstavPage(), 100).first, Cell(UstavPage(), 100).second));
    EXPECT_TRUE(S.Status().contains("Группа 1: Выдержка времени МТЗ-1")) << S.Status().toStdString();
    S.Device.SetFault({});
    S.Device.ClearLogs();
    ASSERT_NO_FATAL_FAILURE(Write());
    EXPECT_EQ(RegisterRequests(S.Device), QStringList{"w 101 320"});
  }
}

TEST_F(SetWriteLink, ABitRowEditedOnThePageLeavesTheOtherBitsAsTheRelayHoldsThem) {
  Start("directEdit=2\nexpandbit=1\n");
  UstavPage()->SetEditMode(true);
  ASSERT_NO_FATAL_FAILURE(ChooseBit(UstavPage(), BitRow(UstavPage(), 104, 4), true));
  // Another master sets bit 1 of the same word before the write.
  S.Device.SetRegister(TSimArea::Holding, 104, 37 | 2);
  ASSERT_NO_FATAL_FAILURE(Write());
  EXPECT_EQ(Held(104), 37 | 2 | 16);
  EXPECT_EQ(RegisterRequests(S.Device), QStringList{"w 104 55"});
}

TEST_F(SetWriteLink, ABitRowEditedInAnEditTabLeavesTheOtherBitsAsTheRelayHoldsThem) {
  Start("directEdit=0\nexpandbit=1\n");
  TkvUstavLocalFrame *set = EditTab();
  ASSERT_TRUE(set);
  ASSERT_NO_FATAL_FAILURE(ChooseBit(set, BitRow(set, 104, 4), true));
  S.Device.SetRegister(TSimArea::Holding, 104, 37 | 2);
  // The unedited bit of the edited word follows the relay as it is shown.
  S.Form->UstavFrame->Refresh();
  ASSERT_TRUE(S.WaitIdle());
  EXPECT_EQ(set->sgUstav->Cells(2, BitRow(set, 104, 1)), "Да");
  EXPECT_FALSE(set->CellChanged(2, BitRow(set, 104, 1)));
  EXPECT_TRUE(set->CellChanged(2, BitRow(set, 104, 4)));
  // Changed again after that: the write still leaves it as the relay holds it.
  S.Device.SetRegister(TSimArea::Holding, 104, 37 | 2 | 8);
  S.Device.ClearLogs();
  ASSERT_NO_FATAL_FAILURE(Write());
  EXPECT_EQ(Held(104), 37 | 2 | 8 | 16);
  EXPECT_EQ(RegisterRequests(S.Device), QStringList{"w 104 63"});
}

TEST_F(SetGatewayLink, AnEditTabKeepsItsCellsWhileAnotherRelayIsIdentified) {
  ASSERT_NO_FATAL_FAILURE(Start("directEdit=0\n", Gateway.get()));
  TkvUstavLocalFrame *set = EditTab();
  ASSERT_TRUE(set);
  ASSERT_NO_FATAL_FAILURE(Type(set, 101, Value(101, 510)));
  Gateway->Target(TTcpGateway::TUpstream::B);
  ASSERT_EQ(S.Identify(), "Готово");
  QTest::qWait(50);
  EXPECT_EQ(CellText(set, 100), Value(100, 4800));
  EXPECT_EQ(CellText(set, 101), Value(101, 510));
  EXPECT_TRUE(SaysOtherRelay(set));
  Answer = S.Dir.filePath("b.us");
  S.Form->PageControl->setCurrentWidget(set->parentWidget());
  S.Form->apFileSaveAs->trigger();
  EXPECT_EQ(Stored(Answer, 100), 4800);
  EXPECT_EQ(Stored(Answer, 101), 510);
  // Saved under a name, it is still the set of relay A.
  S.Form->SetLoggedIn(true);
  ASSERT_NO_FATAL_FAILURE(Write());
  EXPECT_EQ(Gateway->Writes(TTcpGateway::TUpstream::B), 0);
  EXPECT_TRUE(SaysOtherRelay(set));
}

TEST_F(SetGatewayLink, AnEditTabFollowsItsOwnRelayAgainOnceItIsIdentified) {
  ASSERT_NO_FATAL_FAILURE(Start("directEdit=0\n", Gateway.get()));
  TkvUstavLocalFrame *set = EditTab();
  ASSERT_TRUE(set);
  Gateway->Target(TTcpGateway::TUpstream::B);
  ASSERT_EQ(S.Identify(), "Готово");
  S.Device.SetRegister(TSimArea::Holding, 100, 2000);
  Gateway->Target(TTcpGateway::TUpstream::A);
  ASSERT_EQ(S.Identify(), "Готово");
  EXPECT_TRUE(QTest::qWaitFor([&] { return CellText(set, 100) == Value(100, 2000); }, 5000))
      << CellText(set, 100).toStdString();
  EXPECT_FALSE(SaysOtherRelay(set));
}
