#pragma once
// The name dialog of a module; the device boards page uses it to rename a
// board (its second label then names what is renamed, e.g. "Панель"). The
// schema editor shows a module's interface and line colour in it as well.
#include <QDialog>
#include <QStringList>

class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

class TModuleProtertyForm : public QDialog {
  Q_OBJECT
public:
  explicit TModuleProtertyForm(QWidget *Parent = nullptr);
  QLabel *Label2;
  QLineEdit *eCaption;
  QPushButton *OKBtn, *CancelBtn;
  // Hidden until ShowInterface: the rename dialog has no use for them.
  QTreeWidget *lvInput, *lvOutput;
  QPushButton *SpeedButtonColor;
  QLabel *PanelColor;
  // Rows of "Наименование", "Id", "pin" for the input and output interface,
  // and the line colour ($00BBGGRR).
  void ShowInterface(const QList<QStringList> &Inputs, const QList<QStringList> &Outputs, uint32_t Color);
  void SetPanelColor(uint32_t Color);

private:
  QWidget *FInterface;
};
