#include "uPrintDialog.h"

#include <QPrinter>
#include <gtest/gtest.h>

// Without an opener nothing may wait on a dialog: the request is cancelled.
// (The PDF opener is exercised by the printing windows' tests.)
TEST(PrintDialog, WithoutAnOpenerNothingIsPrinted) {
  const TPrintDialogOpener old = SetPrintDialogOpener({});
  QPrinter printer;
  EXPECT_FALSE(ExecutePrintDialog(printer));
  SetPrintDialogOpener(old);
}
