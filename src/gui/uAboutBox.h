#pragma once
// The about box: product, version, build time and the supported devices.
#include <QDialog>

class QLabel;
class QPushButton;

class TAboutBox : public QDialog {
  Q_OBJECT
public:
  explicit TAboutBox(QWidget *Parent = nullptr);

  // Version and build texts, as the box shows them when it opens.
  void UpdateVersionTexts();

  QLabel *ProgramIcon = nullptr;
  QLabel *ProductName = nullptr;
  QLabel *Version = nullptr;
  QLabel *Comments = nullptr;
  QLabel *ProductName2 = nullptr;
  QLabel *Label1 = nullptr;
  QLabel *SupportedDevice = nullptr;
  QLabel *Build = nullptr;
  QPushButton *OKButton = nullptr;

protected:
  void showEvent(QShowEvent *Event) override;
};
