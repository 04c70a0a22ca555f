#pragma once
// "Параметры": the oscillograms to open again at the next start. Only one
// name is kept (the value "osc" under "Preferences"): the last checked one
// when the window closes.
#include <QDialog>
#include <functional>

class QLineEdit;
class QListWidget;

class TPreferenceForm : public QDialog {
  Q_OBJECT
public:
  // Lists the stored name, checked.
  explicit TPreferenceForm(QWidget *Parent = nullptr);

  // Opens every listed file through Open, in list order. A file that no
  // longer exists is logged and skipped; a file that cannot be read is shown
  // as an error and the others still open.
  void ReopenAll(const std::function<void(const QString &FileName)> &Open);
  // Adds each name not listed yet, unchecked.
  void AddFiles(const QStringList &FileNames);
  // Deletes the stored name, then stores each checked name in turn.
  void StoreChecked();

  // The files of the open oscillogram pages, listed when the window shows.
  std::function<QStringList()> OpenFiles;

  QListWidget *clbOsc = nullptr;
  // The link fields are kept for the window's layout; nothing reads them.
  QLineEdit *EditHost = nullptr, *EditPort = nullptr;

protected:
  void showEvent(QShowEvent *Event) override;
  void hideEvent(QHideEvent *Event) override;
};
