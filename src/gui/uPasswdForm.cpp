#include "uPasswdForm.h"

#include "uIOChain3.h"
#include "uLogger.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

TPasswdForm::TPasswdForm(QWidget *Parent) : QDialog(Parent) {
  setObjectName("PasswdForm");
  setWindowTitle(QStringLiteral("Ввод пароля"));
  setModal(true);
  Edit = new QLineEdit(this);
  Edit->setObjectName("Edit");
  Edit->setEchoMode(QLineEdit::Password);
  CheckBox = new QCheckBox(QStringLiteral("Показать"), this);
  CheckBox->setObjectName("CheckBox");
  LabelError = new QLabel(this);
  LabelError->setObjectName("LabelError");
  LabelError->setStyleSheet(QStringLiteral("color: #C00000"));
  BitBtn1 = new QPushButton(QStringLiteral("OK"), this);
  BitBtn1->setObjectName("BitBtn1");
  BitBtn1->setDefault(true);
  BitBtn2 = new QPushButton(QStringLiteral("Отмена"), this);
  BitBtn2->setObjectName("BitBtn2");

  auto *buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(BitBtn1);
  buttons->addWidget(BitBtn2);
  auto *layout = new QVBoxLayout(this);
  layout->addWidget(Edit);
  layout->addWidget(CheckBox);
  layout->addWidget(LabelError);
  layout->addLayout(buttons);

  connect(CheckBox, &QCheckBox::toggled, this, [this](bool Checked) {
    Edit->setEchoMode(Checked ? QLineEdit::Normal : QLineEdit::Password);
  });
  connect(BitBtn1, &QPushButton::clicked, this, &TPasswdForm::OkClick);
  connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
}

void TPasswdForm::showEvent(QShowEvent *Event) {
  FOkPending = false;
  FCancelledForExit = false;
  Edit->clear();
  CheckBox->setChecked(false);
  Edit->setEchoMode(QLineEdit::Password);
  LabelError->clear();
  Edit->setFocus();
  QDialog::showEvent(Event);
}

void TPasswdForm::hideEvent(QHideEvent *Event) {
  // A closed dialog waits for no answer: a late one must not accept it.
  FOkPending = false;
  QDialog::hideEvent(Event);
}

void TPasswdForm::OkClick() {
  Edit->setFocus();
  Edit->selectAll();
  LabelError->clear();
  FOkPending = true;
  FOkEpoch = FGen ? FGen->IdentEpoch() : 0;
  if (FValidator) {
    // The comparison waits for the device's answer (SetExpectedPassword).
    FValidator();
    return;
  }
  FExpected = QString::fromLatin1(DefaultPassword);
  Compare();
}

void TPasswdForm::SetExpectedPassword(const QString &Text) {
  FExpected = Text;
  // Another device's password (its own identification read it) answers no
  // OK pressed for the previous one.
  if (FOkPending && FGen && FGen->IdentEpoch() != FOkEpoch)
    FOkPending = false;
  if (FOkPending && isVisible())
    Compare();
}

void TPasswdForm::ClearExpectedPassword() { FExpected.clear(); }

void TPasswdForm::CancelForExit() {
  FCancelledForExit = true;
  reject();
}

void TPasswdForm::Compare() {
  FOkPending = false;
  if (Edit->text() == FExpected) {
    accept();
    return;
  }
  ShowError(QString::fromUtf8(WrongPasswordText));
}

void TPasswdForm::ShowError(const QString &Text) {
  FOkPending = false;
  LabelError->setText(Text);
  Logger().Error(Text);
}

QString TPasswdForm::ErrorText() const { return LabelError->text(); }

bool RequestUserRights(TPasswdForm &Form, const std::function<bool()> &IsLoggedIn,
                       const std::function<void(bool)> &SetLoggedIn, const QString &What) {
  if (IsLoggedIn())
    return true;
  if (!Form.ChainGen()) {
    SetLoggedIn(Form.exec() == QDialog::Accepted);
    return IsLoggedIn();
  }
  TIOChainGen &gen = *Form.ChainGen();
  const TIdentWatch watch(gen, [&Form] { Form.reject(); });
  const bool accepted = Form.exec() == QDialog::Accepted;
  SetLoggedIn(accepted && !watch.Changed());
  // The engineer's own "Отмена" needs no word; a box closed for him does.
  if (!What.isEmpty() && (watch.Changed() || Form.IsCancelledForExit())) {
    const char *why = Form.IsCancelledForExit()          ? TPasswdForm::ClosedForExitText
                      : gen.IdentEpoch() != watch.Epoch() ? WriteTexts::PreparedForOther
                                                          : TPasswdForm::LinkFailedText;
    gen.WriteBox(What, QString::fromUtf8(why));
  }
  return IsLoggedIn();
}
