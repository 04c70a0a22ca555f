#pragma once
// The password dialog ("Ввод пароля"). Writing to the device needs the
// device's own password, the text of the registers the descriptor marks as
// the password parameter: the main window gives the dialog a validator that
// re-reads those registers when OK is pressed, and the answer arrives later
// as the expected password. The password is typed for the device identified
// when the dialog opened: should another be identified or the link fail
// while it is open, the dialog closes as cancelled and no answer completes
// it. Main thread only.
#include "uIOChain3.h"

#include <QDialog>
#include <QPointer>
#include <cstdint>
#include <functional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

class TPasswdForm : public QDialog {
  Q_OBJECT
public:
  using TValidator = std::function<void()>;
  // The password compared without a validator.
  static constexpr const char *DefaultPassword = "4826";
  static constexpr const char *WrongPasswordText = "Неправильный пароль - повторите ввод";
  // Why a write asked for is not done when the dialog was closed for it.
  static constexpr const char *LinkFailedText = "Ввод пароля закрыт: связь с устройством нарушена";
  static constexpr const char *ClosedForExitText = "Ввод пароля закрыт: программа закрывается";

  explicit TPasswdForm(QWidget *Parent = nullptr);

  // The routine that re-reads the password from the device when OK is pressed.
  void SetValidator(TValidator Validator) { FValidator = std::move(Validator); }
  bool HasValidator() const { return bool(FValidator); }
  // The chains whose identification epoch the entry is typed under (none:
  // the dialog is not tied to a device).
  void SetChainGen(TIOChainGen *Gen) { FGen = Gen; }
  TIOChainGen *ChainGen() const { return FGen; }
  // Keeps Text as the expected password. Only while an OK press waits for it
  // is the entry compared (exactly, case-sensitive): equal closes the dialog
  // with OK, different shows the error in the dialog, which stays open. A
  // password read under another identification than the OK press was made
  // in compares nothing and drops the pending OK.
  void SetExpectedPassword(const QString &Text);
  // Forgets the expected password without comparing (a new identification).
  void ClearExpectedPassword();
  QString ExpectedPassword() const { return FExpected; }
  // OK was pressed and the answer of the re-read has not come yet.
  bool IsOkPending() const { return FOkPending; }
  // Closes the dialog as "Отмена" does, because the program closes.
  void CancelForExit();
  // The dialog was last closed by CancelForExit.
  bool IsCancelledForExit() const { return FCancelledForExit; }
  // Shows Text on the dialog's error line and logs it.
  void ShowError(const QString &Text);
  QString ErrorText() const;

  QLineEdit *Edit = nullptr;
  QCheckBox *CheckBox = nullptr;
  QPushButton *BitBtn1 = nullptr, *BitBtn2 = nullptr;
  QLabel *LabelError = nullptr;

protected:
  void showEvent(QShowEvent *Event) override;
  void hideEvent(QHideEvent *Event) override;

private:
  void OkClick();
  void Compare();

  TValidator FValidator;
  QPointer<TIOChainGen> FGen;
  QString FExpected;
  bool FOkPending = false;
  bool FCancelledForExit = false;
  uint64_t FOkEpoch = 0; // the identification epoch of the pending OK press
};

// What a writer does first: when the user has no rights now, the dialog is
// shown modally and SetLoggedIn gets (result == OK). With the form's chains
// set, the dialog is held under their identification: another device
// identified or a link failure while it is open closes it as cancelled. True
// when the user may write. With What (what the write would change, as the
// engineer reads it), a dialog closed by another identification, a link
// failure or the program's close says in the chains' write box that What
// was not written, and why.
bool RequestUserRights(TPasswdForm &Form, const std::function<bool()> &IsLoggedIn,
                       const std::function<void(bool)> &SetLoggedIn, const QString &What = QString());
