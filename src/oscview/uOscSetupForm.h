#pragma once
// "Настройка диаграммы": which channels and events the oscillogram shows, the
// pen of each channel and the phasor diagram's base channel. The dialog edits
// copies of the frame's drawers and assigns them back on OK.
#include "uOscNote.h"

#include <QDialog>
#include <vector>

class QCheckBox;
class QLabel;
class QListWidget;
class QListWidgetItem;
class TOscDrawer;

class TOscSetupForm : public QDialog {
  Q_OBJECT
public:
  explicit TOscSetupForm(QWidget *Parent = nullptr);
  ~TOscSetupForm() override;

  // Copies of Drawers as the list's items; Events are the record's events.
  void LoadChannels(const std::vector<TOscDrawer *> &Drawers, const TOscEventList &Events);
  // Each copy, with its item's check, assigned back to Drawers[i].
  void ApplyChannels(const std::vector<TOscDrawer *> &Drawers);

  // The copy of the first selected item, or null.
  TOscDrawer *Selected() const;
  // Pen width steps 0, 1, 2, 3, 0, ...
  void NextPenWidth();
  void SetBaseVector(bool On);
  void SetAllEvents(bool On);

  QListWidget *clbChannels = nullptr, *clbEvent = nullptr;
  QCheckBox *cbAll = nullptr, *cbAllEvent = nullptr, *cbBaseVector = nullptr;
  QLabel *Image = nullptr;

private:
  void ChannelClicked();
  void EventChanged(QListWidgetItem *Item);
  void DrawPreview();
  void ClearCopies();
  QString ItemText(const TOscDrawer &D) const;

  std::vector<TOscDrawer *> FCopies;
  bool FFilling = false;
};
