#pragma once
// The dialog "Битовая маска": a bit pattern edited as a list of check boxes,
// one per named position (at most 16). The grid editor reaches it by its
// properties "strings" (the positions' names) and "value" (the pattern as
// text, bit 0 rightmost).
#include <QDialog>
#include <QStringList>

class QListWidget;
class QPushButton;

class TBitmapForm : public QDialog {
  Q_OBJECT
  Q_PROPERTY(QStringList strings READ Strings WRITE SetStrings)
  Q_PROPERTY(QString value READ Value WRITE SetValue)
public:
  explicit TBitmapForm(QWidget *Parent = nullptr);

  QStringList Strings() const;
  // New positions, none checked.
  void SetStrings(const QStringList &Items);
  // Throws EKvRange when a position from 16 on is checked.
  QString Value() const;
  // Checks exactly the positions whose bit is set in the text's pattern.
  void SetValue(const QString &Text);

  QListWidget *CheckListBox = nullptr;
  QPushButton *BitBtn1 = nullptr, *BitBtn2 = nullptr;

protected:
  void resizeEvent(QResizeEvent *Event) override;
};
