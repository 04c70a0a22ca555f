#include "uAboutBox.h"

#include "uMultiLingual.h"
#include "uVersionInfo.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>

namespace {
QLabel *NewLabel(QWidget *Parent, const char *Name, const QString &Text) {
  auto *l = new QLabel(Text, Parent);
  l->setObjectName(Name);
  return l;
}
} // namespace

TAboutBox::TAboutBox(QWidget *Parent) : QDialog(Parent) {
  setObjectName("AboutBox");
  setWindowTitle(QStringLiteral("О программе"));
  auto *grid = new QGridLayout(this);
  ProgramIcon = NewLabel(this, "ProgramIcon", QString());
  ProgramIcon->setPixmap(style()->standardIcon(QStyle::SP_ComputerIcon).pixmap(48, 48));
  ProductName = NewLabel(this, "ProductName", QStringLiteral("ВАРНОК"));
  QFont bold = ProductName->font();
  bold.setBold(true);
  bold.setPointSizeF(bold.pointSizeF() * 1.5);
  ProductName->setFont(bold);
  Version = NewLabel(this, "Version", QString());
  Comments = NewLabel(this, "Comments", QStringLiteral("Мониторинг состояния и телеуправление"));
  ProductName2 = NewLabel(this, "ProductName2", QStringLiteral("Вартон Устройства защиты"));
  Label1 = NewLabel(this, "Label1", QStringLiteral("Поддерживаются устройства:"));
  SupportedDevice = NewLabel(this, "SupportedDevice", QStringLiteral("TMV31"));
  Build = NewLabel(this, "Build", QString());
  OKButton = new QPushButton(QStringLiteral("OK"), this);
  OKButton->setObjectName("OKButton");
  OKButton->setDefault(true);
  connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);

  grid->addWidget(ProgramIcon, 0, 0, 2, 1, Qt::AlignTop);
  grid->addWidget(ProductName, 0, 1);
  grid->addWidget(ProductName2, 1, 1);
  grid->addWidget(Version, 2, 1);
  grid->addWidget(Build, 3, 1);
  grid->addWidget(Comments, 4, 1);
  grid->addWidget(Label1, 5, 1);
  grid->addWidget(SupportedDevice, 6, 1);
  grid->addWidget(OKButton, 7, 0, 1, 2, Qt::AlignHCenter);
  UpdateVersionTexts();
}

void TAboutBox::UpdateVersionTexts() {
  Version->setText(MultiLingual().Translate(QStringLiteral("Версия:")) + u' ' + GetVersionString());
  const QDateTime built = GetBuildTime();
  // A missing time shows as the zero of the day count (1899-12-30).
  const QDateTime shown = built.isValid() ? built : QDateTime(QDate(1899, 12, 30), QTime(0, 0));
  Build->setText(MultiLingual().Translate(QStringLiteral("Сборка:")) + u' ' + shown.toString("yyyy-MM-dd hh:mm:ss"));
}

void TAboutBox::showEvent(QShowEvent *Event) {
  UpdateVersionTexts();
  QDialog::showEvent(Event);
}
