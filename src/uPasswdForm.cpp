#include "uPasswdForm.h"

TPasswdForm::TPasswdForm(QWidget *Parent) : QDialog(Parent) {
  setObjectName("PasswdForm");
  setWindowTitle(QStringLiteral("Ввод пароля"));
}
