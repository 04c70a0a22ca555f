#include "uModbusFrame.h"

#include "uModbus.h"
#include "uStringGrid.h"

#include <gtest/gtest.h>

TEST(ModbusFrame, FillShowsHeadersAndReadableRegistersOnly) {
  TModbus image;
  image.Clear();
  const IXXMLDocument doc = NewXMLDocument();
  // Register 17 readable, 18 write-only, 1023 readable; 19 has no access entry.
  ASSERT_TRUE(doc->LoadXML("<d><a><mreg>17</mreg><modbus-acc>1</modbus-acc></a>"
                           "<b><mreg>18</mreg><modbus-acc>2</modbus-acc></b>"
                           "<c><mreg>1023</mreg><modbus-acc>3</modbus-acc></c></d>"));
  image.LoadAccessMap(doc->GetDocumentElement());
  image.SetWord(17, 0xBEEF);
  image.SetWord(18, 0x1234);
  image.SetWord(19, 0x5678);
  image.SetWord(1023, 0x000A);

  TkvModbusFrame frame;
  TStringGrid *g = frame.sgModbus;
  ASSERT_EQ(g->columnCount(), 17);
  ASSERT_EQ(g->rowCount(), 65);
  g->SetCells(3, 2, "keep");
  frame.Fill(image);
  // Headers; register 17 at column 2, row 2; 18 not readable (the cell
  // unchanged), 19 without access; register 1023.
  EXPECT_EQ(QStringList({g->Cells(1, 0), g->Cells(16, 0), g->Cells(0, 1), g->Cells(0, 2), g->Cells(0, 64),
                         g->Cells(2, 2), g->Cells(3, 2), g->Cells(4, 2), g->Cells(16, 64), g->Cells(1, 1)}),
            QStringList({"00", "0F", "0000", "0010", "03F0", "BEEF", "keep", "", "000A", ""}));
}
