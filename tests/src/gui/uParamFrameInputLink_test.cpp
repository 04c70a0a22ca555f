// A number typed into a "Параметры" cell is taken or refused as it is typed,
// before any password is asked, by the page's number rule.
#include "uLinkKit.h"
#include "uParamFrame.h"

#include <gtest/gtest.h>

namespace {
class ParamFrameInputLink : public TShownCapture {
protected:
  TDemoSession S;
};
} // namespace

// "Время возврата, с" (two decimals) with the Write command's default: a
// number with a comma is refused at once, the cell keeps the relay's value,
// no password is asked and Write sends nothing; a number with a point is
// taken as an edit for Write.
TEST_F(ParamFrameInputLink, ANumberWithACommaIsRefusedWhenTyped) {
  ASSERT_TRUE(S.Start());
  ASSERT_EQ(S.Identify(), "Готово");
  S.Form->show();
  TkvParamFrame *page = S.Form->ParamFrame;
  int row = -1;
  for (int r = 1; r < page->sgParam->rowCount(); ++r)
    if (page->RowReg(r) == DemoDevice::ScaledReg)
      row = r;
  ASSERT_GT(row, 0);
  const QString held = page->sgParam->Cells(2, row);
  const auto typed = [&](const QString &Text) {
    Shown.clear();
    TypeInto(*S.Form, page->Editor(), 2, row, Text);
  };
  ASSERT_NO_FATAL_FAILURE(typed("15,5"));
  EXPECT_EQ(Shown.join("|").toStdString(), "Не число: 15,5");
  EXPECT_EQ(page->sgParam->Cells(2, row).toStdString(), held.toStdString());
  EXPECT_FALSE(page->RowHighlighted(row));
  const size_t mark = S.Device.RequestLog().size();
  S.Form->SetLoggedIn(true);
  S.Form->WriteCommand();
  ASSERT_TRUE(S.WaitIdle());
  EXPECT_EQ(RegisterRequests(S.Device, false, mark).join(",").toStdString(), "");

  ASSERT_NO_FATAL_FAILURE(typed("15.5"));
  EXPECT_TRUE(Shown.isEmpty()) << Shown.join("|").toStdString();
  EXPECT_EQ(page->sgParam->Cells(2, row).toStdString(), "15.5");
  EXPECT_TRUE(page->RowHighlighted(row));
}
