#pragma once
// The name dialog of a module; the device boards page uses it to rename a
// board (its second label then names what is renamed, e.g. "Панель").
#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

class TModuleProtertyForm : public QDialog {
  Q_OBJECT
public:
  explicit TModuleProtertyForm(QWidget *Parent = nullptr);
  QLabel *Label2;
  QLineEdit *eCaption;
  QPushButton *OKBtn, *CancelBtn;
};
