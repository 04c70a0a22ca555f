#pragma once
// The dialog "Блок" of a custom unit: its name and its interface, chosen
// from the base logic's labels (inputs) and constant-fed module inputs
// (outputs). Outputs another unit drives are shown disabled.
#include "uCustomLogic.h"

#include <QDialog>
#include <QList>
#include <QString>

class QLineEdit;
class QListWidget;
class QPushButton;
class QWidget;

class TUnitPropertyForm : public QDialog {
  Q_OBJECT
public:
  explicit TUnitPropertyForm(QWidget *Parent = nullptr);

  QString GetCaption() const;
  void SetCaption(const QString &Value);
  // Fills both lists; an output in Taken is disabled.
  void SetChoices(const QList<TOrgChoice> &Inputs, const QList<bool> &InputChecked, const QList<TOrgChoice> &Outputs,
                  const QList<bool> &OutputChecked, const QList<TOrg> &Taken);
  QList<bool> InputChecked() const;
  QList<bool> OutputChecked() const;

  QLineEdit *EditCaption = nullptr;
  QWidget *PanelInput = nullptr, *PanelOutput = nullptr;
  QListWidget *CheckListBoxInput = nullptr, *CheckListBoxOutput = nullptr;
  QPushButton *OKBtn = nullptr, *CancelBtn = nullptr;

protected:
  void resizeEvent(QResizeEvent *Event) override;
};

// Which of Choices the unit already has an interface element for.
QList<bool> UnitChoicesChecked(const TModule &Unit, int Kind, const QList<TOrgChoice> &Choices);
