// The setpoints page and a local setpoint set against the in-process demo
// terminal: edit mode, limits, bit rows, set files and local writes.
#include "uUstavFrame.h"
#include "../../common/uErrorOf.h"

#include "uErrors.h"
#include "uFiles.h"
#include "uLinkKit.h"
#include "uModbus.h"
#include "uPageControlHelper.h"
#include "uStringGrid.h"
#include "uStringGridEditor.h"
#include "uUstavLocalFrame.h"

#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
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
