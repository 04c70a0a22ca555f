#include "uDDUstavBitForm.h"

#include "uMultiLingual.h"
#include "uTranslateTexts.h"
#include "uUstavListForm.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
QString Tr(const char *Text) { return MultiLingual().Translate(QString::fromUtf8(Text)); }

constexpr uint8_t AccRead = 1, AccWrite = 2, AccEeprom = 4;

QStringList LinesOf(const QString &Text) {
  if (Text.isEmpty())
    return {};
  QStringList lines = Text.split('\n');
  // A final line break leaves no position behind it.
  if (lines.last().isEmpty())
    lines.removeLast();
  return lines;
}
} // namespace

void TUstavBitState::Fill(const TDDUstav &Ustav, const TDeviceDescriptor &Desc) {
  const TDDUstavEnum &e = Ustav.GetEnum();
  Ider = Ustav.FModbusObject.IderName();
  Name = Ustav.String;
  ShortName = Ustav.ShortString;
  const uint8_t acc = Ustav.GetModbusAcc();
  Read = acc & AccRead;
  Write = acc & AccWrite;
  Eeprom = acc & AccEeprom;
  Addr = QString::number(Ustav.GetModbusReg(), 16).toUpper();
  e.Strings.FillStrings(Names);
  e.Strings.FillShortStrings(ShortNames);
  Levels = {Tr("не задано")};
  LevelIndex = -1;
  for (size_t i = 0; i < Desc.FUstavLevels.size(); ++i) {
    Levels << Desc.FUstavLevels[i].Value1;
    if (Ustav.LevelIder >= 0 && Desc.FUstavLevels[i].Ider == Ustav.LevelIder)
      LevelIndex = int(i) + 1;
  }
  if (Ustav.LevelIder < 0 && Ustav.LevelMask < Levels.size())
    LevelIndex = Ustav.LevelMask;
  if (LevelIndex < 0)
    LevelIndex = 0;
  for (int g = 0; g < 2; ++g)
    for (int i = 0; i < Positions; ++i)
      Groups[g][i] = (Ustav.GetValue(g) >> i) & 1;
}

QString TUstavBitState::PositionLabel(int I) const {
  return I < Names.size() ? Names[I] : QStringLiteral("---");
}

QString TUstavBitState::PositionHint(int I) const {
  return I < Names.size() ? QString::number(I) + " - " + Names[I] : QString();
}

void TUstavBitState::Apply(TDDUstav &Ustav, const TDeviceDescriptor &Desc) const {
  TDDUstavEnum &e = Ustav.GetEnum();
  Ustav.SetString(Name);
  Ustav.SetShortString(ShortName);
  Ustav.SetModbusAcc(uint8_t((Read ? AccRead : 0) | (Write ? AccWrite : 0) | (Eeprom ? AccEeprom : 0)));
  e.Strings.Assign(Names, ShortNames);
  Ustav.SetLevelMask(uint8_t(qBound(0, LevelIndex, 255)));
  const bool hasLevel = LevelIndex >= 1 && size_t(LevelIndex - 1) < Desc.FUstavLevels.size();
  Ustav.SetLevelIder(hasLevel ? Desc.FUstavLevels[size_t(LevelIndex - 1)].Ider : -1);
  for (int g = 0; g < 2; ++g) {
    uint16_t v = 0;
    for (int i = 0; i < Positions; ++i)
      if (Groups[g][i])
        v |= uint16_t(1u << i);
    Ustav.SetValue(g, v);
  }
}

TDDUstavBitForm::TDDUstavBitForm(QWidget *Parent) : QDialog(Parent) {
  setObjectName("DDUstavBitForm");
  setWindowTitle(QStringLiteral("Ввод уставки битового типа"));
  auto *main = new QVBoxLayout(this);
  auto *head = new QGridLayout;
  LabelIder = new QLabel;
  EditName = new QLineEdit;
  EditShortName = new QLineEdit;
  // Never placed in a layout: only the parent given here deletes it.
  EditAddr = new QLineEdit(this);
  EditAddr->setVisible(false);
  EditAddr->setEnabled(false);
  ComboBoxLevel = new QComboBox;
  CheckBoxRead = new QCheckBox(QStringLiteral("чтение"));
  CheckBoxWrite = new QCheckBox(QStringLiteral("запись"));
  CheckBoxEEPROM = new QCheckBox(QStringLiteral("EEPROM"));
  CheckBoxEEPROM->setEnabled(false);
  head->addWidget(LabelIder, 0, 0, 1, 2);
  head->addWidget(EditName, 1, 0, 1, 2);
  head->addWidget(EditShortName, 2, 0);
  head->addWidget(ComboBoxLevel, 2, 1);
  auto *acc = new QHBoxLayout;
  acc->addWidget(CheckBoxRead);
  acc->addWidget(CheckBoxWrite);
  acc->addWidget(CheckBoxEEPROM);
  acc->addStretch();
  head->addLayout(acc, 3, 0, 1, 2);
  main->addLayout(head);

  auto *body = new QHBoxLayout;
  MemoMain = new QPlainTextEdit;
  MemoShort = new QPlainTextEdit;
  for (QPlainTextEdit *m : {MemoMain, MemoShort}) {
    m->setLineWrapMode(QPlainTextEdit::NoWrap);
    body->addWidget(m, 2);
  }
  auto *panel = new QGridLayout;
  panel->setVerticalSpacing(0);
  auto *labelPosition = new QLabel(QStringLiteral("Позиция"));
  labelPosition->setObjectName("LabelPosition");
  auto *labelGroup1 = new QLabel(QStringLiteral("Группа 1"));
  labelGroup1->setObjectName("LabelGroup1");
  auto *labelGroup2 = new QLabel(QStringLiteral("Группа 2"));
  labelGroup2->setObjectName("LabelGroup2");
  panel->addWidget(labelPosition, 0, 0);
  panel->addWidget(labelGroup1, 0, 1);
  panel->addWidget(labelGroup2, 0, 2);
  for (int i = 0; i < TUstavBitState::Positions; ++i) {
    PositionLabels[i] = new QLabel(QStringLiteral("---"));
    PositionLabels[i]->setFixedHeight(20);
    panel->addWidget(PositionLabels[i], i + 1, 0);
    for (int g = 0; g < 2; ++g) {
      PositionBoxes[g][i] = new QCheckBox;
      panel->addWidget(PositionBoxes[g][i], i + 1, g + 1, Qt::AlignCenter);
    }
  }
  body->addLayout(panel, 3);
  main->addLayout(body);

  AddDialogButtons(this, main, OKBtn, CancelBtn, &HelpBtn);
  connect(MemoMain, &QPlainTextEdit::textChanged, this, &TDDUstavBitForm::MemoMainChange);
  TranslateWhenShown(this);
}

void TDDUstavBitForm::SetUstav(TDDUstav &Ustav, const TDeviceDescriptor &Desc) {
  TUstavBitState s;
  s.Fill(Ustav, Desc);
  FIderText = s.Ider;
  LabelIder->setText(s.Ider);
  EditName->setText(s.Name);
  EditShortName->setText(s.ShortName);
  EditAddr->setText(s.Addr);
  CheckBoxRead->setChecked(s.Read);
  CheckBoxWrite->setChecked(s.Write);
  CheckBoxEEPROM->setChecked(s.Eeprom);
  MemoShort->setPlainText(s.ShortNames.join('\n'));
  MemoMain->setPlainText(s.Names.join('\n'));
  ComboBoxLevel->clear();
  ComboBoxLevel->addItems(s.Levels);
  ComboBoxLevel->setCurrentIndex(s.LevelIndex);
  for (int g = 0; g < 2; ++g)
    for (int i = 0; i < TUstavBitState::Positions; ++i)
      PositionBoxes[g][i]->setChecked(s.Groups[g][i]);
  MemoMainChange();
}

TUstavBitState TDDUstavBitForm::State() const {
  TUstavBitState s;
  s.Ider = FIderText;
  s.Name = EditName->text();
  s.ShortName = EditShortName->text();
  s.Addr = EditAddr->text();
  s.Read = CheckBoxRead->isChecked();
  s.Write = CheckBoxWrite->isChecked();
  s.Eeprom = CheckBoxEEPROM->isChecked();
  s.Names = LinesOf(MemoMain->toPlainText());
  s.ShortNames = LinesOf(MemoShort->toPlainText());
  for (int i = 0; i < ComboBoxLevel->count(); ++i)
    s.Levels << ComboBoxLevel->itemText(i);
  s.LevelIndex = ComboBoxLevel->currentIndex();
  for (int g = 0; g < 2; ++g)
    for (int i = 0; i < TUstavBitState::Positions; ++i)
      s.Groups[g][i] = PositionBoxes[g][i]->isChecked();
  return s;
}

void TDDUstavBitForm::Apply(TDDUstav &Ustav, const TDeviceDescriptor &Desc) { State().Apply(Ustav, Desc); }

void TDDUstavBitForm::MemoMainChange() {
  TUstavBitState s;
  s.Names = LinesOf(MemoMain->toPlainText());
  for (int i = 0; i < TUstavBitState::Positions; ++i) {
    PositionLabels[i]->setText(s.PositionLabel(i));
    PositionLabels[i]->setToolTip(s.PositionHint(i));
  }
}
