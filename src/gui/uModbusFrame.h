#pragma once
// The Modbus pane: the register image as a grid, 16 registers a row.
#include <QWidget>

class TModbus;
class TStringGrid;

class TkvModbusFrame : public QWidget {
  Q_OBJECT
public:
  explicit TkvModbusFrame(QWidget *Parent = nullptr);

  // Header row "00".."0F", header column the row base "0000".."03F0"; every
  // register readable by its access byte (bit 0) shows its value as four hex
  // digits, other cells are left as they are.
  void Fill(const TModbus &Image);
  // The pane is filled when it opens; a refresh leaves it as it is.
  void Refresh() {}

  TStringGrid *sgModbus = nullptr;
};
