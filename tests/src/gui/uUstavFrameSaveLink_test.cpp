// The setpoints page saved as a set while a value written to the relay is
// not confirmed: the set holds the word the page shows, a zero before the
// write included.
#include "uLinkKit.h"
#include "uModbus.h"
#include "uUstavFrame.h"
#include "uUstavSetFile.h"

#include <QApplication>
#include <gtest/gtest.h>

namespace {
using TAfter = TTcpGateway::TAfter;

class UstavFrameSaveLink : public TTwoRelayCapture {};
} // namespace

// "Выдержка времени МТЗ-1" held 0 in both groups; the page's edit mode writes
// both, the relay answers and then refuses the read-back: the saved set holds
// both values as written.
TEST_F(UstavFrameSaveLink, AWriteNotConfirmedOverAZeroIsSaved) {
  const uint16_t regs[2] = {101, 151};
  for (const uint16_t reg : regs)
    S.Device.SetRegister(TSimArea::Holding, reg, 0);
  LoadDemoDevice(Other, 2);
  ServeBoth();
  ASSERT_TRUE(S.Open(QString("[setup]\ncustom=0\npasswdExpirationPeriod=600\nprotocol=modbustcp\n"
                             "[modbustcp]\nhost=127.0.0.1\nport=%1\n[device]\npollPause=1000\n[com]\nTimeout=2000\n"
                             "[timer]\ninterval=3600000\n[debug]\npoll=1\n[ustav]\ndirectEdit=2\n")
                         .arg(Gateway->Port())));
  ASSERT_EQ(S.Identify(), "Готово");
  S.Form->show();
  S.Form->SetLoggedIn(true);
  TUstavFrame *page = S.Form->UstavFrame;
  S.Form->PageControl->setCurrentWidget(S.Form->TabSheetUstav);
  S.Form->EditCommand();
  ASSERT_TRUE(page->GetEditMode());
  int row = -1;
  for (int r = 1; r < page->sgUstav->rowCount(); ++r)
    if (page->RowUstav(r) && page->RowUstav(r)->Reg(0) == regs[0])
      row = r;
  ASSERT_GT(row, 0);
  ASSERT_EQ(Modbus().GetWord(regs[0]), 0);
  const QString typed = page->RowUstav(row)->ValueToText(250, false);
  for (int col = 2; col < 4; ++col)
    ASSERT_NO_FATAL_FAILURE(TypeInto(*S.Form, page->Editor(), col, row, typed));
  Gateway->FailAfter(2, TAfter::Exception, SIM_FN_WRITE_HOLDING);
  S.Form->WriteCommand();
  ASSERT_TRUE(S.WaitIdle());
  QApplication::processEvents();
  for (const uint16_t reg : regs)
    ASSERT_EQ(S.Device.Register(TSimArea::Holding, reg), 250);
  ASSERT_TRUE(page->CellUnconfirmed(2, row) && page->CellUnconfirmed(3, row));

  const QString file = S.Dir.filePath("zero.us");
  page->SaveToFile(file);
  const TUstavSetFile set = ReadUstavSetFile(file);
  QStringList saved;
  for (const auto &[reg, value] : set.Values)
    if (reg == regs[0] || reg == regs[1])
      saved << QString("%1=%2").arg(reg).arg(value);
  EXPECT_EQ(saved.join(",").toStdString(), "101=250,151=250");
  Gateway->FailAfter(0, TAfter::Exception);
}
