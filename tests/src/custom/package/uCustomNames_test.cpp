// Name tables of the custom logic: stored from a descriptor, applied to
// another, and the rows of the two name dialogs.
#include <gtest/gtest.h>

#include "ixml.h"
#include "uCustomNames.h"
#include "uDeviceDescriptor.h"

namespace {

// Inputs 0 and 1, relay 0, LED 0; setpoints: plain, custom at level 1,
// custom at level 2, custom with a level outside the table.
void Fill(TDeviceDescriptor &D) {
  D.GetBitReg(17)->Bits.Add(0, "DI 1", "d1");
  D.GetBitReg(17)->Bits.Add(1, "DI 2", "d2");
  D.GetBitReg(18)->Bits.Add(0, "DO 1", "o1");
  D.GetBitReg(19)->Bits.Add(0, "LED 1", "l1");
  D.FUstavLevels.Add(0, "Уровень 1", "");
  D.FUstavLevels.Add(1, "Уровень 2", "");
  const struct {
    const char *Name;
    bool Custom;
    uint8_t Mask;
  } ustavs[] = {{"plain", false, 1}, {"first", true, 1}, {"second", true, 2}, {"odd", true, 3}};
  for (const auto &u : ustavs) {
    TDDUstav *s = D.FUstavs.Add(std::make_unique<TDDUstav>(&D, TDDUstav::ukNumeric));
    s->String = QString::fromUtf8(u.Name);
    s->ShortString = s->String.left(3);
    s->Custom = u.Custom;
    s->LevelMask = u.Mask;
  }
}

IXXMLNode NewLogic(IXXMLDocument &Doc, const char *Xml) {
  Doc = NewXMLDocument();
  EXPECT_TRUE(Doc->LoadXML(QString::fromUtf8(Xml)));
  return Doc->GetDocumentElement();
}

} // namespace

TEST(CustomNames, StoreThenApplyRestoresTheNames) {
  TDeviceDescriptor from, to;
  Fill(from);
  Fill(to);
  from.GetBitReg(17)->Bits[1].Value1 = "Тележка";
  from.GetBitReg(19)->Bits[0].Value1 = "Авария";
  from.FUstavs[2]->String = "МТЗ-2";
  IXXMLDocument doc;
  // An old table is emptied, not added to; other content stays.
  const IXXMLNode logic = NewLogic(doc, "<custom-logic><dd-di><item ider='9' caption='old'/>x</dd-di><unit/>"
                                        "</custom-logic>");
  StoreNameTables(from, logic);
  EXPECT_EQ(logic->SelectNodes("dd-di/item")->GetCount(), 2);
  EXPECT_EQ(logic->SelectNodes("dd-di/text()")->GetCount(), 0);
  EXPECT_TRUE(logic->SelectSingleNode("unit"));
  const IXXMLNodeList ustav = logic->SelectNodes("dd-ustav/item");
  ASSERT_EQ(ustav->GetCount(), 3);
  EXPECT_EQ(ustav->GetItem(0)->GetIntAttr("ider", 0), 2);
  EXPECT_EQ(ustav->GetItem(1)->GetStrAttr("caption", {}), "МТЗ-2");

  ApplyNameTables(to, logic);
  EXPECT_EQ(to.GetBitReg(17)->Bits[1].Value1, "Тележка");
  EXPECT_EQ(to.GetBitReg(17)->Bits[1].Value2, "d2");
  EXPECT_EQ(to.GetBitReg(19)->Bits[0].Value1, "Авария");
  EXPECT_EQ(to.FUstavs[2]->String, "МТЗ-2");
  EXPECT_EQ(to.FUstavs[0]->String, "plain");
}

TEST(CustomNames, ItemsNamingNothingAreIgnored) {
  TDeviceDescriptor d;
  Fill(d);
  IXXMLDocument doc;
  const IXXMLNode logic = NewLogic(doc, "<custom-logic><dd-ustav><item ider='0' caption='zero'/>"
                                        "<item ider='5' caption='five'/><item ider='1' caption='one'/></dd-ustav>"
                                        "<dd-do><item ider='7' caption='seven'/></dd-do></custom-logic>");
  ApplyNameTables(d, logic);
  EXPECT_EQ(d.FUstavs[0]->String, "one");
  for (size_t i = 1; i < d.FUstavs.size(); ++i)
    EXPECT_NE(d.FUstavs[i]->String, "zero");
  EXPECT_EQ(d.FUstavs[3]->String, "odd");
  EXPECT_EQ(d.GetBitReg(18)->Bits[0].Value1, "DO 1");
}

TEST(CustomNames, DialogRows) {
  TDeviceDescriptor d;
  Fill(d);
  const std::vector<TCustomUstavRow> ustav = CustomUstavRows(d);
  ASSERT_EQ(ustav.size(), 3u);
  EXPECT_EQ(ustav[0].Ustav, d.FUstavs[1].get());
  // Level masks count from 1: mask 1 is the first level's text.
  EXPECT_EQ(ustav[0].Level, "Уровень 1");
  EXPECT_EQ(ustav[1].Level, "Уровень 2");
  EXPECT_EQ(ustav[2].Level, "-");
  const std::vector<TCustomParamIORow> io = CustomParamIORows(d);
  ASSERT_EQ(io.size(), 4u);
  EXPECT_EQ(io[1].Direction, "Вход");
  EXPECT_EQ(io[1].Entry, &d.GetBitReg(17)->Bits[1]);
  EXPECT_EQ(io[2].Direction, "Выход");
  EXPECT_EQ(io[3].Direction, "Светодиоды");

  // Without custom setpoints: no rows, and an empty setpoint table.
  for (auto &u : d.FUstavs)
    u->Custom = false;
  EXPECT_TRUE(CustomUstavRows(d).empty());
  IXXMLDocument doc;
  const IXXMLNode logic = NewLogic(doc, "<custom-logic/>");
  StoreNameTables(d, logic);
  EXPECT_TRUE(logic->SelectSingleNode("dd-ustav"));
  EXPECT_EQ(logic->SelectNodes("dd-ustav/node()")->GetCount(), 0);
}
