#pragma once
// The password dialog ("Ввод пароля"): what the main window gives it. The
// expected password is the device's own text, set at identification.
#include <QDialog>
#include <functional>

class TPasswdForm : public QDialog {
  Q_OBJECT
public:
  using TValidator = std::function<void()>;
  explicit TPasswdForm(QWidget *Parent = nullptr);

  // The routine that re-reads the password from the device when OK is pressed.
  void SetValidator(TValidator Validator) { FValidator = std::move(Validator); }
  bool HasValidator() const { return bool(FValidator); }
  void SetExpectedPassword(const QString &Text) { FExpected = Text; }
  QString ExpectedPassword() const { return FExpected; }

private:
  TValidator FValidator;
  QString FExpected;
};
