#include "uModbusFrame.h"

#include "uModbus.h"
#include "uStringGrid.h"

#include <QFontDatabase>
#include <QHeaderView>
#include <QVBoxLayout>

namespace {
QString Hex(int Value, int Digits) { return QString::number(Value, 16).toUpper().rightJustified(Digits, u'0'); }
} // namespace

TkvModbusFrame::TkvModbusFrame(QWidget *Parent) : QWidget(Parent) {
  auto *layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  sgModbus = new TStringGrid(17, 65, 1, 1, this);
  sgModbus->setObjectName("sgModbus");
  sgModbus->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  sgModbus->horizontalHeader()->setDefaultSectionSize(sgModbus->fontMetrics().horizontalAdvance("0000") + 16);
  layout->addWidget(sgModbus);
}

void TkvModbusFrame::Fill(const TModbus &Image) {
  for (int c = 1; c <= 16; ++c)
    sgModbus->SetCells(c, 0, Hex(c - 1, 2));
  for (int r = 1; r <= 64; ++r)
    sgModbus->SetCells(0, r, Hex(16 * (r - 1), 4));
  for (int r = 1; r <= 64; ++r)
    for (int c = 1; c <= 16; ++c) {
      const int reg = (c - 1) + 16 * (r - 1);
      if (Image.GetAccess(reg) & 1)
        sgModbus->SetCells(c, r, Hex(Image.GetWord(reg), 4));
    }
}
