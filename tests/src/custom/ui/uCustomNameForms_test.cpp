// The two name dialogs: rows from the descriptor, and an edit of the name
// cell written to the setpoint or the entry at once.
#include "uCustomParamIOForm.h"
#include "uCustomUstavForm.h"
#include "uDeviceDescriptor.h"
#include "uStringGrid.h"

#include <gtest/gtest.h>

TEST(CustomNameForms, EditsReachTheDescriptor) {
  TDeviceDescriptor d;
  d.GetBitReg(18)->Bits.Add(0, "DO 1", "o1");
  d.FUstavLevels.Add(0, "Уровень 1", "");
  TDDUstav *plain = d.FUstavs.Add(std::make_unique<TDDUstav>(&d, TDDUstav::ukNumeric));
  TDDUstav *custom = d.FUstavs.Add(std::make_unique<TDDUstav>(&d, TDDUstav::ukNumeric));
  plain->String = "plain";
  custom->String = "Ток";
  custom->ShortString = "I>";
  custom->Custom = true;

  TCustomUstavForm ustav;
  ustav.SetDescriptor(&d);
  ASSERT_EQ(ustav.sgUstav->rowCount(), 2);
  EXPECT_EQ(ustav.sgUstav->Cells(0, 0), "Уровень");
  EXPECT_EQ(ustav.sgUstav->Cells(0, 1), "Уровень 1");
  EXPECT_EQ(ustav.sgUstav->Cells(1, 1), "I>");
  EXPECT_FALSE(ustav.sgUstav->item(1, 1)->flags() & Qt::ItemIsEditable);
  ustav.sgUstav->item(1, 2)->setText("Ток МТЗ");
  EXPECT_EQ(custom->String, "Ток МТЗ");
  EXPECT_EQ(plain->String, "plain");

  TCustomParamIOForm io;
  io.SetDescriptor(&d);
  ASSERT_EQ(io.sgParam->rowCount(), 2);
  EXPECT_EQ(io.sgParam->Cells(0, 1), "Выход");
  EXPECT_EQ(io.sgParam->Cells(1, 1), "o1");
  io.sgParam->item(1, 2)->setText("Отключить");
  EXPECT_EQ(d.GetBitReg(18)->Bits[0].Value1, "Отключить");

  // Without custom setpoints only the header row stays.
  custom->Custom = false;
  ustav.SetDescriptor(&d);
  EXPECT_EQ(ustav.sgUstav->rowCount(), 1);
}
