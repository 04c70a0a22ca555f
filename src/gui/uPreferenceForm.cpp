#include "uPreferenceForm.h"

#include "uErrors.h"
#include "uLogger.h"
#include "uMessageSink.h"
#include "uPlacement.h"

#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QVBoxLayout>

namespace {
const QString PreferencesKey = QStringLiteral("Preferences");
const QString OscValue = QStringLiteral("osc");
} // namespace

TPreferenceForm::TPreferenceForm(QWidget *Parent) : QDialog(Parent) {
  setObjectName(QStringLiteral("PreferenceForm"));
  setWindowTitle(QString::fromUtf8("Параметры"));
  auto *L = new QVBoxLayout(this);
  auto *Osc = new QGroupBox(QString::fromUtf8("Открывать осциллограммы"), this);
  auto *OscLayout = new QVBoxLayout(Osc);
  clbOsc = new QListWidget(Osc);
  clbOsc->setObjectName(QStringLiteral("clbOsc"));
  OscLayout->addWidget(clbOsc);
  L->addWidget(Osc, 1);
  auto *Link = new QGroupBox(QString::fromUtf8("Параметры поддючения"), this);
  auto *LinkLayout = new QFormLayout(Link);
  EditHost = new QLineEdit(QStringLiteral("localhost"), Link);
  EditHost->setObjectName(QStringLiteral("EditHost"));
  EditPort = new QLineEdit(QStringLiteral("502"), Link);
  EditPort->setObjectName(QStringLiteral("EditPort"));
  LinkLayout->addRow(QStringLiteral("Адрес"), EditHost);
  LinkLayout->addRow(QStringLiteral("Порт"), EditPort);
  L->addWidget(Link);
  resize(420, 300);

  const QString Stored = RegReadString(PreferencesKey, OscValue, QString());
  if (!Stored.isEmpty()) {
    AddFiles({Stored});
    clbOsc->item(0)->setCheckState(Qt::Checked);
  }
}

void TPreferenceForm::ReopenAll(const std::function<void(const QString &)> &Open) {
  for (int i = 0; i < clbOsc->count(); ++i) {
    const QString Name = clbOsc->item(i)->text();
    // The file may have been moved or deleted since the last run.
    if (!QFileInfo::exists(Name)) {
      Logger().Error(Name + QStringLiteral(": no such file, not opened again"));
      continue;
    }
    try {
      Open(Name);
    } catch (const EKvError &E) {
      ShowErrorText(E.Text());
    }
  }
}

void TPreferenceForm::AddFiles(const QStringList &FileNames) {
  for (const QString &Name : FileNames) {
    if (!clbOsc->findItems(Name, Qt::MatchExactly).isEmpty())
      continue;
    auto *Item = new QListWidgetItem(Name, clbOsc);
    Item->setFlags(Item->flags() | Qt::ItemIsUserCheckable);
    Item->setCheckState(Qt::Unchecked);
  }
}

void TPreferenceForm::StoreChecked() {
  RegDeleteValue(PreferencesKey, OscValue);
  for (int i = 0; i < clbOsc->count(); ++i)
    if (clbOsc->item(i)->checkState() == Qt::Checked)
      RegWriteString(PreferencesKey, OscValue, clbOsc->item(i)->text());
}

void TPreferenceForm::showEvent(QShowEvent *Event) {
  if (OpenFiles)
    AddFiles(OpenFiles());
  QDialog::showEvent(Event);
}

void TPreferenceForm::hideEvent(QHideEvent *Event) {
  StoreChecked();
  QDialog::hideEvent(Event);
}
