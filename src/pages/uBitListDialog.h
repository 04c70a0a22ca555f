#pragma once
// Which bits of a bit group show: a check list with "Все" on top, used by the
// property editor for a group's bit list.
#include <QDialog>

class QListWidget;
class QListWidgetItem;
class TBitList;

class TBitListDialog : public QDialog {
  Q_OBJECT
public:
  explicit TBitListDialog(QWidget *Parent = nullptr);
  // "Все" (translated), then one checked-when-shown item per bit.
  void LoadFrom(const TBitList &List);
  // Bit k is shown exactly when item k + 1 is checked.
  void ApplyTo(TBitList &List) const;
  // Places the dialog at Form's right edge, or left of Form when that would
  // pass the screen's right edge.
  void PlaceBeside(const QWidget *Form);
  QListWidget *CheckListBox;

private:
  void ItemChanged(QListWidgetItem *Item);
  bool FUpdating = false;
};
