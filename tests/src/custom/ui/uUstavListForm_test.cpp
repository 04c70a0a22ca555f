#include "uUstavListForm.h"

#include "../schema_test_util.h"
#include "uDeviceDescriptor.h"

#include <QApplication>
#include <QPushButton>
#include <QTreeWidget>
#include <gtest/gtest.h>

TEST(UstavListForm, OffersCustomSetpointsAndUsedOnesStayChoosable) {
  int argc = 0;
  QApplication app(argc, nullptr);
  TDeviceDescriptor d;
  for (const char *name : {"Т1", "Т2", "Т3"}) {
    TDDUstav *u = d.FUstavs.Add(std::make_unique<TDDUstav>(&d, TDDUstav::ukNumeric));
    u->String = name;
    u->Custom = QString(name) != "Т2";
  }
  TModule m(nullptr, 1);
  m.Root = true;
  TElement *timer = AddFunction(m, "timer");
  timer->Refs[0].Ustav = d.GetUstav(2);

  TUstavListForm f;
  f.SetDescriptor(d);
  f.List.MarkUsed(m);
  f.ShowList();
  ASSERT_EQ(f.ListView->topLevelItemCount(), 2);
  EXPECT_EQ(f.ListView->topLevelItem(1)->text(0), "Т3");
  EXPECT_EQ(f.ListView->topLevelItem(1)->background(0).color(), QColor(0xCC, 0xFF, 0xCC));
  EXPECT_EQ(f.ListView->topLevelItem(0)->background(0).style(), Qt::NoBrush);
  EXPECT_EQ(f.Selected(), nullptr);
  f.ListView->setCurrentItem(f.ListView->topLevelItem(1));
  EXPECT_EQ(f.Selected(), d.GetUstav(2));
  EXPECT_TRUE(f.HelpBtn->isHidden());
  EXPECT_EQ(f.List.Chosen(2), nullptr);

  TParamListForm p;
  p.SetDescriptor(d);
  EXPECT_EQ(p.ListView->topLevelItemCount(), 0);
}
