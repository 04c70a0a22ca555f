#include "uFileDialogSink.h"

#include <gtest/gtest.h>

TEST(FileDialogSink, DefaultCancelsAndSaveAnswerGetsTheDefaultExtension) {
  const TFileDialogSink old = SetFileDialogSink({});
  TFileDialogRequest r;
  r.Kind = TFileDialogKind::Save;
  r.DefaultExt = "xlsx";
  EXPECT_EQ(AskFileName(r), "");

  QString answer;
  SetFileDialogSink([&answer](const TFileDialogRequest &) { return answer; });
  struct {
    TFileDialogKind Kind;
    QString Answer, Expected;
  } const cases[] = {
      {TFileDialogKind::Save, "/tmp/a", "/tmp/a.xlsx"},
      {TFileDialogKind::Save, "/tmp/a.xls", "/tmp/a.xls"},
      {TFileDialogKind::Save, "", ""},
      {TFileDialogKind::Open, "/tmp/a", "/tmp/a"},
  };
  for (const auto &c : cases) {
    r.Kind = c.Kind;
    answer = c.Answer;
    EXPECT_EQ(AskFileName(r), c.Expected) << c.Answer.toStdString();
  }
  SetFileDialogSink(old);
}
