#include "uPasswdForm.h"

#include "uIOChain3.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

TEST(PasswdForm, ShowingEmptiesTheEntryAndHidesTheText) {
  TPasswdForm f;
  EXPECT_EQ(f.windowTitle(), "Ввод пароля");
  f.Edit->setText("old");
  f.CheckBox->setChecked(true);
  f.show();
  EXPECT_EQ(f.Edit->text(), "");
  EXPECT_FALSE(f.CheckBox->isChecked());
  EXPECT_EQ(f.Edit->echoMode(), QLineEdit::Password);
  f.CheckBox->click();
  EXPECT_EQ(f.Edit->echoMode(), QLineEdit::Normal);
  f.CheckBox->click();
  EXPECT_EQ(f.Edit->echoMode(), QLineEdit::Password);
  f.hide();
}

TEST(PasswdForm, WithoutValidatorTheBuiltInPasswordIsCompared) {
  const struct {
    const char *Typed;
    bool Accepted;
  } cases[] = {{"4826", true}, {"4827", false}, {"", false}, {" 4826", false}};
  for (const auto &c : cases) {
    TPasswdForm f;
    f.show();
    f.Edit->setText(c.Typed);
    f.BitBtn1->click();
    EXPECT_EQ(f.result() == QDialog::Accepted, c.Accepted) << c.Typed;
    EXPECT_EQ(f.isVisible(), !c.Accepted) << c.Typed;
    EXPECT_EQ(f.ErrorText(), c.Accepted ? "" : "Неправильный пароль - повторите ввод") << c.Typed;
  }
}

TEST(PasswdForm, ComparesOnlyTheAnswerToAPendingOkPress) {
  TPasswdForm f;
  int rereads = 0;
  f.SetValidator([&] { ++rereads; });
  f.show();
  // An expected password arriving without OK pressed compares nothing.
  f.SetExpectedPassword("");
  EXPECT_TRUE(f.isVisible());
  f.Edit->setText("AbCd");
  f.BitBtn1->click();
  EXPECT_EQ(rereads, 1);
  EXPECT_TRUE(f.IsOkPending());
  EXPECT_TRUE(f.isVisible());
  f.SetExpectedPassword("abcd"); // letter case counts
  EXPECT_FALSE(f.IsOkPending());
  EXPECT_TRUE(f.isVisible());
  EXPECT_EQ(f.ErrorText(), "Неправильный пароль - повторите ввод");
  // A later answer, with no OK pending, does not close the dialog.
  f.SetExpectedPassword("AbCd");
  EXPECT_TRUE(f.isVisible());
  f.BitBtn1->click();
  EXPECT_EQ(f.ErrorText(), "");
  f.SetExpectedPassword("AbCd");
  EXPECT_FALSE(f.isVisible());
  EXPECT_EQ(f.result(), QDialog::Accepted);
}

TEST(PasswdForm, ForgettingThePasswordNeverAcceptsAnEmptyEntry) {
  TPasswdForm f;
  f.SetValidator([] {});
  f.show();
  f.BitBtn1->click(); // empty entry, waiting for the device
  f.ClearExpectedPassword();
  EXPECT_TRUE(f.isVisible());
  EXPECT_TRUE(f.IsOkPending());
  f.hide();
  EXPECT_FALSE(f.IsOkPending());
}

TEST(PasswdForm, RightsAreAskedOnlyWhenMissing) {
  const struct {
    bool LoggedIn;
    bool Press; // OK with the right password, or Cancel
    bool Expected;
    int Shown;
  } cases[] = {{true, false, true, 0}, {false, true, true, 1}, {false, false, false, 1}};
  for (const auto &c : cases) {
    TPasswdForm f;
    bool loggedIn = c.LoggedIn;
    int shown = 0;
    QTimer::singleShot(0, &f, [&] {
      if (!f.isVisible())
        return;
      ++shown;
      if (c.Press) {
        f.Edit->setText("4826");
        f.BitBtn1->click();
      } else {
        f.BitBtn2->click();
      }
    });
    const bool may = RequestUserRights(f, [&] { return loggedIn; }, [&](bool V) { loggedIn = V; });
    EXPECT_EQ(may, c.Expected);
    EXPECT_EQ(loggedIn, c.Expected);
    EXPECT_EQ(shown, c.Shown);
  }
}

// The password is typed for the device identified when the box opened.
TEST(PasswdForm, AnotherIdentificationCancelsTheBoxAndAnswersNoPendingOk) {
  TIOChainGen gen;
  TPasswdForm f;
  f.SetChainGen(&gen);
  f.SetValidator([] {});
  // An OK press waiting for the re-read: the next device's password, read by
  // its own identification, compares nothing.
  f.show();
  f.Edit->setText("1234");
  f.BitBtn1->click();
  gen.NextIdentEpoch();
  f.SetExpectedPassword("1234");
  EXPECT_FALSE(f.IsOkPending());
  EXPECT_TRUE(f.isVisible());
  f.hide();

  // Held by the writer's request: the box closes as cancelled, no rights.
  bool loggedIn = false;
  QTimer::singleShot(0, &f, [&] {
    f.Edit->setText("1234");
    f.BitBtn1->click();
    gen.NextIdentEpoch();
  });
  EXPECT_FALSE(RequestUserRights(f, [&] { return loggedIn; }, [&](bool V) { loggedIn = V; }));
  EXPECT_FALSE(f.isVisible());
  EXPECT_EQ(f.result(), QDialog::Rejected);
}
