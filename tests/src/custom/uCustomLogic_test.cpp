// The custom logic document merged with the base logic's custom blocks, and
// the interface numbering of a unit written back.
#include <gtest/gtest.h>

#include "ixml.h"
#include "uCustomLogic.h"
#include "uSchemaModule.h"

namespace {
IXXMLNode Load(IXXMLDocument &Doc, const char *Xml) {
  Doc = NewXMLDocument();
  EXPECT_TRUE(Doc->LoadXML(QString::fromUtf8(Xml)));
  return Doc->GetDocumentElement();
}
} // namespace

TEST(CustomLogic, UnitsFollowTheCustomBlocks) {
  TModule base(nullptr, 0);
  // Block 2 and 5 are custom; 2 has its unit, 5 has none; orgid 9 is an orphan.
  for (int id : {1, 2, 5}) {
    auto *m = new TModule(&base, id);
    m->Custom = id != 1;
    m->Caption = QStringLiteral("Блок %1").arg(id);
    m->Rect = {10 * id, 4, 10 * id + 6, 12};
    base.AbstractList.Add(m);
  }
  IXXMLDocument doc;
  const IXXMLNode root = Load(doc, "<custom-logic><dd-di/><module orgid='9'/><module orgid='2' caption='own'>"
                                   "<implementation><element/></implementation></module></custom-logic>");
  const QList<TCustomUnit> units = MergeCustomUnits(base, root);
  ASSERT_EQ(units.size(), 2);
  EXPECT_EQ(units[0].Caption, "Блок 2");
  EXPECT_EQ(units[0].Node->GetStrAttr("caption", {}), "own");
  EXPECT_EQ(units[0].Node->SelectNodes("implementation/element")->GetCount(), 1);
  const IXXMLNode added = units[1].Node;
  EXPECT_EQ(added->GetStrAttr("caption", {}), "Блок 5");
  EXPECT_EQ(added->GetStrAttr("rect", {}), "50,4,6,8");
  EXPECT_EQ(added->GetIntAttr("orgid", 0), 5);
  QStringList children;
  const IXXMLNodeList all = added->SelectNodes("*");
  for (int i = 0; i < all->GetCount(); ++i)
    children << all->GetItem(i)->GetNodeName();
  EXPECT_EQ(children, QStringList({"implementation", "module-list", "input", "output"}));
  EXPECT_FALSE(root->SelectSingleNode("module[@orgid=9]"));
  EXPECT_TRUE(root->SelectSingleNode("dd-di"));

  TModule plain(nullptr, 0);
  plain.AbstractList.Add(new TModule(&plain, 1));
  EXPECT_TRUE(MergeCustomUnits(plain, root).isEmpty());
  EXPECT_EQ(root->SelectNodes("module")->GetCount(), 0);
}

TEST(CustomLogic, InterfaceGidsAreRenumbered) {
  IXXMLDocument doc;
  const IXXMLNode unit = Load(doc, "<module rect='1,2,3,4'><implementation><element type='outint' gid='7'/>"
                                   "<element type='inint' gid='4'/><element type='and' gid='9'/>"
                                   "<element type='inint' gid='2'/><element type='outint' gid='3'/>"
                                   "</implementation></module>");
  RenumberUnitInterface(unit);
  QStringList gids;
  const IXXMLNodeList all = unit->SelectNodes("implementation/element/@gid");
  for (int i = 0; i < all->GetCount(); ++i)
    gids << all->GetItem(i)->GetText();
  EXPECT_EQ(gids, QStringList({"1", "1", "9", "2", "2"}));
}
