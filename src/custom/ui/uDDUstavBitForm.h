#pragma once
// The bit setpoint dialog: one record of type 53 of the device descriptor,
// 16 named positions, each on or off in setpoint group 1 and group 2.
// TUstavBitState is what the dialog shows, filled and written back without a
// window; the form only mirrors it.
#include "uDeviceDescriptor.h"

#include <QDialog>
#include <array>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

struct TUstavBitState {
  static constexpr int Positions = 16;
  QString Ider, Name, ShortName, Addr;
  bool Read = false, Write = false, Eeprom = false;
  QStringList Names, ShortNames;
  // Entry 0 is "не задано", then the descriptor's setpoint levels.
  QStringList Levels;
  int LevelIndex = 0;
  std::array<std::array<bool, Positions>, 2> Groups{};

  // Throws EKvError "unable get enum ustav" for a numeric setpoint.
  void Fill(const TDDUstav &Ustav, const TDeviceDescriptor &Desc);
  // Line I of the names, "---" past the last one.
  QString PositionLabel(int I) const;
  QString PositionHint(int I) const;
  // Level number := LevelIndex (at most 255); level reference := none below
  // entry 1, else the identifier of the level at LevelIndex - 1.
  void Apply(TDDUstav &Ustav, const TDeviceDescriptor &Desc) const;
};

class TDDUstavBitForm : public QDialog {
  Q_OBJECT
public:
  explicit TDDUstavBitForm(QWidget *Parent = nullptr);
  void SetUstav(TDDUstav &Ustav, const TDeviceDescriptor &Desc);
  void Apply(TDDUstav &Ustav, const TDeviceDescriptor &Desc);
  // The dialog's present state (what Apply writes).
  TUstavBitState State() const;

  QLineEdit *EditName, *EditShortName, *EditAddr;
  QLabel *LabelIder;
  QPlainTextEdit *MemoMain, *MemoShort;
  QComboBox *ComboBoxLevel;
  QCheckBox *CheckBoxRead, *CheckBoxWrite, *CheckBoxEEPROM;
  QPushButton *OKBtn, *CancelBtn, *HelpBtn;
  std::array<QLabel *, TUstavBitState::Positions> PositionLabels{};
  std::array<std::array<QCheckBox *, TUstavBitState::Positions>, 2> PositionBoxes{};

private:
  void MemoMainChange();
  QString FIderText;
};
