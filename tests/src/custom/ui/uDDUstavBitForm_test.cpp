#include "uDDUstavBitForm.h"

#include "../schema_test_util.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <gtest/gtest.h>

namespace {
struct TBitDesc {
  TDeviceDescriptor D;
  TDDUstav *U;
  TBitDesc() {
    D.FUstavLevels.Add(7, "Наладчик", "Н");
    D.FUstavLevels.Add(9, "Инженер", "И");
    U = D.FUstavs.Add(std::make_unique<TDDUstav>(&D, TDDUstav::ukEnum));
    U->RecordType = 53;
    U->String = "Режимы";
    U->GetEnum().Strings.Assign({"Пуск", "Стоп", "Тест"}, {"П", "С", "Т"});
    U->LevelIder = 9;
    U->SetModbusAcc(1 | 4);
    U->SetValue(0, 0x0005);
    U->SetValue(1, 0x0002);
  }
};
} // namespace

TEST(DDUstavBitForm, FillShowsNamesLevelAccessAndBits) {
  TBitDesc b;
  TUstavBitState s;
  s.Fill(*b.U, b.D);
  EXPECT_EQ(s.PositionLabel(0), "Пуск");
  EXPECT_EQ(s.PositionLabel(2), "Тест");
  EXPECT_EQ(s.PositionHint(1), "1 - Стоп");
  for (int i = 3; i < 16; ++i)
    EXPECT_EQ(s.PositionLabel(i), "---") << i;
  EXPECT_EQ(s.Levels, (QStringList{"не задано", "Наладчик", "Инженер"}));
  EXPECT_EQ(s.LevelIndex, 2);
  EXPECT_TRUE(s.Read && s.Eeprom && !s.Write);
  EXPECT_TRUE(s.Groups[0][0] && !s.Groups[0][1] && s.Groups[0][2] && s.Groups[1][1] && !s.Groups[1][0]);
  // Without a level reference the level number picks the entry.
  b.U->LevelIder = -1;
  b.U->LevelMask = 1;
  s.Fill(*b.U, b.D);
  EXPECT_EQ(s.LevelIndex, 1);
}

TEST(DDUstavBitForm, ApplyStoresPositionsLevelAndNames) {
  TBitDesc b;
  TUstavBitState s;
  s.Fill(*b.U, b.D);
  s.Groups[0] = {};
  s.Groups[0][0] = s.Groups[0][15] = true;
  s.Names << "Блок";
  s.ShortNames << "Б";
  s.LevelIndex = 1;
  s.Apply(*b.U, b.D);
  EXPECT_EQ(b.U->GetValue(0), 0x8001);
  EXPECT_EQ(b.U->GetValue(1), 0x0002);
  EXPECT_EQ(b.U->LevelIder, 7);
  EXPECT_EQ(b.U->LevelMask, 1);
  ASSERT_EQ(b.U->GetEnum().Strings.size(), 4u);
  EXPECT_EQ(b.U->GetEnum().Strings[3].Value1, "Блок");
  EXPECT_EQ(b.U->GetEnum().Strings[3].Value2, "Б");
  s.LevelIndex = 0; // "не задано"
  s.Apply(*b.U, b.D);
  EXPECT_EQ(b.U->LevelIder, -1);
  EXPECT_EQ(b.U->LevelMask, 0);
}

TEST(DDUstavBitForm, FormRoundTripsAndFollowsTheNameMemo) {
  int argc = 0;
  QApplication app(argc, nullptr);
  TBitDesc b;
  TDDUstavBitForm f;
  f.SetUstav(*b.U, b.D);
  EXPECT_EQ(f.PositionLabels[1]->text(), "Стоп");
  EXPECT_EQ(f.PositionLabels[3]->text(), "---");
  EXPECT_EQ(f.ComboBoxLevel->currentText(), "Инженер");
  EXPECT_TRUE(f.HelpBtn->isHidden());
  f.PositionBoxes[0][15]->setChecked(true);
  f.Apply(*b.U, b.D);
  EXPECT_EQ(b.U->GetValue(0), 0x8005);
  EXPECT_EQ(b.U->GetEnum().Strings.size(), 3u);
  EXPECT_EQ(b.U->LevelIder, 9);
  EXPECT_EQ(b.U->GetModbusAcc(), 1 | 4);
  // A numeric setpoint is no bit setpoint.
  TDDUstav numeric(&b.D, TDDUstav::ukNumeric);
  EXPECT_EQ(ErrorOf([&] { f.SetUstav(numeric, b.D); }), "unable get enum ustav");
}
