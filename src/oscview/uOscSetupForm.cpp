#include "uOscSetupForm.h"

#include "uErrors.h"
#include "uOscDrawer.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QDialogButtonBox>
#include <QFontDialog>
#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QToolButton>
#include <cmath>

TOscSetupForm::TOscSetupForm(QWidget *Parent) : QDialog(Parent) {
  setObjectName(QStringLiteral("OscSetupForm"));
  setWindowTitle(QString::fromUtf8("Настройка диаграммы"));
  auto *L = new QGridLayout(this);
  cbAll = new QCheckBox(QString::fromUtf8("Все каналы"), this);
  cbAllEvent = new QCheckBox(QString::fromUtf8("Все события"), this);
  clbChannels = new QListWidget(this);
  clbEvent = new QListWidget(this);
  Image = new QLabel(this);
  Image->setFixedSize(280, 80);
  Image->setFrameShape(QFrame::Box);
  auto *Colour = new QToolButton(this), *Font = new QToolButton(this), *Width = new QToolButton(this);
  Colour->setText(QString::fromUtf8("Цвет"));
  Font->setText(QString::fromUtf8("Шрифт"));
  Width->setText(QString::fromUtf8("Толщина"));
  cbBaseVector = new QCheckBox(QString::fromUtf8("база"), this);
  auto *Buttons = new QDialogButtonBox(this);
  Buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
  Buttons->addButton(QString::fromUtf8("Отмена"), QDialogButtonBox::RejectRole);
  auto *Tools = new QHBoxLayout;
  Tools->addWidget(Colour);
  Tools->addWidget(Font);
  Tools->addWidget(Width);
  Tools->addWidget(cbBaseVector);
  Tools->addStretch();
  L->addWidget(cbAll, 0, 0);
  L->addWidget(cbAllEvent, 0, 1);
  L->addWidget(clbChannels, 1, 0);
  L->addWidget(clbEvent, 1, 1);
  L->addLayout(Tools, 2, 0, 1, 2);
  L->addWidget(Image, 3, 0, 1, 2);
  L->addWidget(Buttons, 4, 0, 1, 2);

  connect(Buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(clbChannels, &QListWidget::itemSelectionChanged, this, [this] {
    if (!FFilling)
      ChannelClicked();
  });
  connect(clbChannels, &QListWidget::itemChanged, this, [this](QListWidgetItem *Item) {
    if (!FFilling && Item->checkState() != Qt::Checked) {
      const QSignalBlocker B(cbAll);
      cbAll->setChecked(false);
    }
  });
  connect(cbAll, &QCheckBox::clicked, this, [this](bool On) {
    for (int i = 0; i < clbChannels->count(); ++i)
      clbChannels->item(i)->setCheckState(On ? Qt::Checked : Qt::Unchecked);
  });
  connect(clbEvent, &QListWidget::itemChanged, this, &TOscSetupForm::EventChanged);
  connect(cbAllEvent, &QCheckBox::clicked, this, &TOscSetupForm::SetAllEvents);
  connect(cbBaseVector, &QCheckBox::clicked, this, &TOscSetupForm::SetBaseVector);
  connect(Colour, &QToolButton::clicked, this, [this] {
    TOscDrawer *D = Selected();
    if (!D)
      return;
    const QColor C = QColorDialog::getColor(ColorFromStored(D->Settings.Color), this);
    if (C.isValid())
      D->Settings.Color = ColorToStored(C);
    DrawPreview();
  });
  connect(Font, &QToolButton::clicked, this, [this] {
    TOscDrawer *D = Selected();
    bool Ok = false;
    const QFont F = QFontDialog::getFont(&Ok, D ? D->Font : font(), this);
    if (Ok && D)
      D->Font = F;
    DrawPreview();
  });
  connect(Width, &QToolButton::clicked, this, &TOscSetupForm::NextPenWidth);
}

TOscSetupForm::~TOscSetupForm() { ClearCopies(); }

void TOscSetupForm::ClearCopies() {
  for (TOscDrawer *D : FCopies)
    delete D;
  FCopies.clear();
}

QString TOscSetupForm::ItemText(const TOscDrawer &D) const {
  return (D.Settings.BaseVector ? QStringLiteral(" > ") : QStringLiteral("    ")) + D.Name;
}

void TOscSetupForm::LoadChannels(const std::vector<TOscDrawer *> &Drawers, const TOscEventList &Events) {
  FFilling = true;
  clbChannels->clear();
  ClearCopies();
  cbAll->setChecked(true);
  for (const TOscDrawer *D : Drawers) {
    FCopies.push_back(D->Clone());
    auto *Item = new QListWidgetItem(ItemText(*D), clbChannels);
    Item->setFlags(Item->flags() | Qt::ItemIsUserCheckable);
    Item->setCheckState(D->Checked() ? Qt::Checked : Qt::Unchecked);
    if (!D->Checked())
      cbAll->setChecked(false);
  }
  clbEvent->clear();
  for (const auto &E : Events) {
    auto *Item = new QListWidgetItem(E->Text, clbEvent);
    Item->setFlags(Item->flags() | Qt::ItemIsUserCheckable);
    Item->setCheckState(Qt::Unchecked);
  }
  cbBaseVector->setChecked(false);
  FFilling = false;
  if (clbChannels->count() > 0) {
    clbChannels->setCurrentRow(0);
    ChannelClicked();
  }
}

void TOscSetupForm::ApplyChannels(const std::vector<TOscDrawer *> &Drawers) {
  for (size_t i = 0; i < FCopies.size() && i < Drawers.size(); ++i) {
    FCopies[i]->Settings.Checked = clbChannels->item(int(i))->checkState() == Qt::Checked;
    Drawers[i]->Assign(*FCopies[i]);
  }
}

TOscDrawer *TOscSetupForm::Selected() const {
  const int Row = clbChannels->currentRow();
  return Row >= 0 && Row < int(FCopies.size()) ? FCopies[size_t(Row)] : nullptr;
}

void TOscSetupForm::ChannelClicked() {
  TOscDrawer *D = Selected();
  if (!D)
    return;
  FFilling = true;
  DrawPreview();
  cbBaseVector->setChecked(D->Settings.BaseVector);
  if (D->Settings.Events.size() != clbEvent->count())
    throw EKvAssert("invalid Event Count");
  const QSignalBlocker B(clbEvent);
  for (int i = 0; i < clbEvent->count(); ++i)
    clbEvent->item(i)->setCheckState(D->Settings.Events[i] == QLatin1Char('1') ? Qt::Checked : Qt::Unchecked);
  FFilling = false;
}

void TOscSetupForm::NextPenWidth() {
  if (TOscDrawer *D = Selected())
    D->Settings.PenWidth = (D->Settings.PenWidth + 1) % 4;
  DrawPreview();
}

void TOscSetupForm::SetBaseVector(bool On) {
  TOscDrawer *Sel = Selected();
  for (size_t i = 0; i < FCopies.size(); ++i) {
    FCopies[i]->Settings.BaseVector = On && FCopies[i] == Sel;
    clbChannels->item(int(i))->setText(ItemText(*FCopies[i]));
  }
}

void TOscSetupForm::SetAllEvents(bool On) {
  {
    const QSignalBlocker B(clbEvent);
    for (int i = 0; i < clbEvent->count(); ++i)
      clbEvent->item(i)->setCheckState(On ? Qt::Checked : Qt::Unchecked);
  }
  if (TOscDrawer *D = Selected())
    D->Settings.Events = QString(clbEvent->count(), On ? QLatin1Char('1') : QLatin1Char('0'));
}

void TOscSetupForm::EventChanged(QListWidgetItem *Item) {
  if (FFilling)
    return;
  if (Item->checkState() != Qt::Checked) {
    const QSignalBlocker B(cbAllEvent);
    cbAllEvent->setChecked(false);
  }
  if (TOscDrawer *D = Selected()) {
    QString Events;
    for (int i = 0; i < clbEvent->count(); ++i)
      Events += clbEvent->item(i)->checkState() == Qt::Checked ? QLatin1Char('1') : QLatin1Char('0');
    D->Settings.Events = Events;
  }
}

void TOscSetupForm::DrawPreview() {
  QPixmap Pix(Image->size());
  Pix.fill(Qt::white);
  if (TOscDrawer *D = Selected()) {
    QPainter P(&Pix);
    QPen Pen(ColorFromStored(D->Settings.Color));
    Pen.setWidth(D->Settings.PenWidth);
    P.setPen(Pen);
    const int H = Pix.height(), C = H / 2;
    const double A = 0.8 * H / 2;
    QPolygon Curve;
    if (D->IsAnalog()) {
      for (int k = 0; k < 360; ++k)
        Curve << QPoint(k, C - int(std::lround(std::sin(k * M_PI / 90) * A)));
    } else {
      const int Low = C + int(A) / 2, High = C - int(A) / 2;
      Curve << QPoint(0, Low) << QPoint(20, Low) << QPoint(20, High) << QPoint(50, High) << QPoint(50, Low)
            << QPoint(150, Low) << QPoint(150, High) << QPoint(250, High);
    }
    P.drawPolyline(Curve);
  }
  Image->setPixmap(Pix);
}
