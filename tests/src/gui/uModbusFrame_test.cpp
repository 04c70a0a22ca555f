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
  EXPECT_EQ(g->Cells(1, 0), "00");
  EXPECT_EQ(g->Cells(16, 0), "0F");
  EXPECT_EQ(g->Cells(0, 1), "0000");
  EXPECT_EQ(g->Cells(0, 2), "0010");
  EXPECT_EQ(g->Cells(0, 64), "03F0");
  EXPECT_EQ(g->Cells(2, 2), "BEEF");   // register 17 = column 2, row 2
  EXPECT_EQ(g->Cells(3, 2), "keep");   // 18: not readable, cell unchanged
  EXPECT_EQ(g->Cells(4, 2), "");       // 19: no access
  EXPECT_EQ(g->Cells(16, 64), "000A"); // register 1023
  EXPECT_EQ(g->Cells(1, 1), "");
}
