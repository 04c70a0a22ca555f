#include "uUnitPropertyForm.h"

#include "uSchemaModule.h"
#include "uTranslateTexts.h"
#include "uUstavListForm.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QResizeEvent>
#include <QVBoxLayout>

namespace {

QWidget *ListPanel(const QString &Caption, const char *Name, QListWidget *&List) {
  auto *panel = new QWidget;
  auto *l = new QVBoxLayout(panel);
  l->setContentsMargins(0, 0, 0, 0);
  auto *title = new QLabel(Caption);
  title->setAlignment(Qt::AlignCenter);
  title->setFrameShape(QFrame::Panel);
  title->setFrameShadow(QFrame::Raised);
  l->addWidget(title);
  List = new QListWidget;
  List->setObjectName(QString::fromLatin1(Name));
  l->addWidget(List, 1);
  return panel;
}

void Fill(QListWidget *List, const QList<TOrgChoice> &Choices, const QList<bool> &Checked, const QList<TOrg> &Taken) {
  List->clear();
  for (int i = 0; i < Choices.size(); ++i) {
    auto *item = new QListWidgetItem(Choices[i].Text, List);
    Qt::ItemFlags flags = Qt::ItemIsUserCheckable | Qt::ItemIsEnabled;
    if (Taken.contains(Choices[i].Org))
      flags &= ~Qt::ItemIsEnabled;
    item->setFlags(flags);
    item->setCheckState(i < Checked.size() && Checked[i] ? Qt::Checked : Qt::Unchecked);
  }
}

QList<bool> CheckedOf(const QListWidget *List) {
  QList<bool> out;
  for (int i = 0; i < List->count(); ++i)
    out << (List->item(i)->checkState() == Qt::Checked);
  return out;
}

} // namespace

TUnitPropertyForm::TUnitPropertyForm(QWidget *Parent) : QDialog(Parent) {
  setObjectName(QStringLiteral("UnitPropertyForm"));
  setWindowTitle(QStringLiteral("Блок"));
  resize(520, 380);
  auto *main = new QVBoxLayout(this);
  auto *name = new QHBoxLayout;
  name->addWidget(new QLabel(QStringLiteral("Наименование")));
  EditCaption = new QLineEdit;
  EditCaption->setObjectName(QStringLiteral("EditCaption"));
  name->addWidget(EditCaption, 1);
  main->addLayout(name);
  auto *lists = new QHBoxLayout;
  lists->setSpacing(0);
  PanelInput = ListPanel(QStringLiteral("Входы"), "CheckListBoxInput", CheckListBoxInput);
  PanelOutput = ListPanel(QStringLiteral("Выходы"), "CheckListBoxOutput", CheckListBoxOutput);
  lists->addWidget(PanelInput);
  lists->addWidget(PanelOutput, 1);
  main->addLayout(lists, 1);
  AddDialogButtons(this, main, OKBtn, CancelBtn, nullptr);
  TranslateWhenShown(this);
}

void TUnitPropertyForm::resizeEvent(QResizeEvent *Event) {
  QDialog::resizeEvent(Event);
  PanelInput->setFixedWidth(Event->size().width() / 2);
}

QString TUnitPropertyForm::GetCaption() const { return EditCaption->text(); }
void TUnitPropertyForm::SetCaption(const QString &Value) { EditCaption->setText(Value); }

void TUnitPropertyForm::SetChoices(const QList<TOrgChoice> &Inputs, const QList<bool> &InputChecked,
                                   const QList<TOrgChoice> &Outputs, const QList<bool> &OutputChecked,
                                   const QList<TOrg> &Taken) {
  Fill(CheckListBoxInput, Inputs, InputChecked, {});
  Fill(CheckListBoxOutput, Outputs, OutputChecked, Taken);
}

QList<bool> TUnitPropertyForm::InputChecked() const { return CheckedOf(CheckListBoxInput); }
QList<bool> TUnitPropertyForm::OutputChecked() const { return CheckedOf(CheckListBoxOutput); }

QList<bool> UnitChoicesChecked(const TModule &Unit, int Kind, const QList<TOrgChoice> &Choices) {
  const uint8_t type = Kind == 0 ? atInint : atOutint;
  QList<bool> out;
  for (const TOrgChoice &c : Choices) {
    bool found = false;
    for (const TAbstract *a : Unit.AbstractList.Items())
      found = found || (a->Type == type && a->OrgId == c.Org.OrgId && a->OrgPin == c.Org.OrgPin);
    out << found;
  }
  return out;
}
