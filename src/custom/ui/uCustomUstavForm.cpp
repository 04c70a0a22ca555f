#include "uCustomUstavForm.h"

#include "uDeviceDescriptor.h"
#include "uMultiLingual.h"
#include "uStringGrid.h"
#include "uTranslateTexts.h"

#include <QStatusBar>
#include <QVBoxLayout>

TCustomNameForm::TCustomNameForm(QWidget *Parent, const char *Name, const QString &Caption, const QString &Header)
    : QDialog(Parent) {
  setObjectName(QString::fromLatin1(Name));
  setWindowTitle(Caption);
  Grid = new TStringGrid(3, 1, 0, 1, this);
  FTitles = Header.split(QLatin1Char(','));
  const int widths[] = {94, 152, 365};
  for (int c = 0; c < 3; ++c) {
    Grid->SetCells(c, 0, FTitles.value(c));
    Grid->setColumnWidth(c, widths[c]);
  }
  Grid->setEditTriggers(QAbstractItemView::AllEditTriggers);
  Grid->setSelectionMode(QAbstractItemView::SingleSelection);
  StatusBar = new QStatusBar(this);
  auto *layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(Grid);
  layout->addWidget(StatusBar);
  resize(94 + 152 + 365 + 30, 320);
  TranslateWhenShown(this);
  connect(Grid, &QTableWidget::itemChanged, this, [this](QTableWidgetItem *Item) {
    const int row = Item->row() - 1;
    if (!FFilling && Item->column() == 2 && row >= 0 && row < FRows)
      SetName(row, Item->text());
  });
}

void TCustomNameForm::Fill(const QList<QStringList> &Texts) {
  FFilling = true;
  // The header row is a row of the grid: its titles follow the interface's language here.
  for (int c = 0; c < 3; ++c)
    Grid->SetCells(c, 0, MultiLingual().FromRussian(FTitles.value(c)));
  FRows = int(Texts.size());
  Grid->setRowCount(1 + FRows);
  for (int r = 0; r < FRows; ++r)
    for (int c = 0; c < 3; ++c) {
      auto *item = new QTableWidgetItem(Texts[r].value(c));
      // Only the name can be selected, so only the name is edited.
      item->setFlags(c == 2 ? Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable : Qt::ItemIsEnabled);
      Grid->setItem(r + 1, c, item);
    }
  FFilling = false;
}

TCustomUstavForm::TCustomUstavForm(QWidget *Parent)
    : TCustomNameForm(Parent, "CustomUstavForm", QStringLiteral("Редактор наименований уставок"),
                      QStringLiteral("Уровень,Краткое,Полное")) {
  sgUstav = Grid;
  sgUstav->setObjectName(QStringLiteral("sgUstav"));
}

void TCustomUstavForm::SetDescriptor(TDeviceDescriptor *Desc) {
  FRows = CustomUstavRows(*Desc);
  QList<QStringList> texts;
  for (const TCustomUstavRow &r : FRows)
    texts.append({r.Level, r.Ustav->ShortString, r.Ustav->String});
  Fill(texts);
}

void TCustomUstavForm::SetName(int Row, const QString &Name) { FRows[size_t(Row)].Ustav->String = Name; }
