// The custom logic document merged with the base logic's custom blocks, and
// the interface numbering of a unit written back.
#include <gtest/gtest.h>

#include "ixml.h"
#include "uCustomLogic.h"
#include "../schema_test_util.h"
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

namespace {

// Module "M" with three inputs and two outputs. Output 0 feeds label "L";
// input 0 is fed by "zero" through label "Z" and a reference to it, input 1
// by an "and" block, input 2 through a reference into a cycle of two labels.
struct TBase {
  std::unique_ptr<TModule> Root = NewRoot();
  TModule *M = nullptr;
  TElement *L = nullptr, *Z = nullptr;
  TBase() {
    M = new TModule(Root.get(), 0);
    M->Caption = "M";
    M->SetPinCounts(3, 2);
    for (int i = 0; i < 3; ++i)
      M->InputPins[i]->Caption = QString("in%1").arg(i);
    Root->AbstractList.Add(M);
    L = Label("L");
    AddLink(*Root, M, 0, L, 0);
    Z = Label("Z");
    AddLink(*Root, AddFunction(*Root, "zero"), 0, Z, 0);
    AddLink(*Root, Ref(Z), 0, M, 0);
    AddLink(*Root, AddFunction(*Root, "and"), 0, M, 1);
    TElement *a = Label("A"), *b = Label("B");
    AddLink(*Root, Ref(b), 0, a, 0);
    AddLink(*Root, Ref(a), 0, b, 0);
    AddLink(*Root, Ref(a), 0, M, 2);
  }
  TElement *Label(const char *Caption) {
    TElement *l = AddElement(*Root, atLabel);
    l->Caption = Caption;
    return l;
  }
  TElement *Ref(TElement *Label) {
    TElement *r = AddElement(*Root, atLabelRef);
    r->SetLabel(Label);
    return r;
  }
};

} // namespace

TEST(CustomLogic, ChoicesOfferLabelsAndConstantFedInputs) {
  TBase b;
  const QList<TOrgChoice> in = FillInputChoices(*b.Root);
  ASSERT_EQ(in.size(), 1);
  EXPECT_EQ(in[0].Text, "M / L");
  EXPECT_EQ(in[0].Org, (TOrg{0, b.L->Id, 0}));
  const QList<TOrgChoice> out = FillOutputChoices(*b.Root);
  ASSERT_EQ(out.size(), 1) << "the and-fed input and the label cycle are not offered";
  EXPECT_EQ(out[0].Text, "M / in0");
  EXPECT_EQ(out[0].Org, (TOrg{1, b.M->Id, 0}));

  IXXMLDocument doc;
  const IXXMLNode root = Load(doc, "<l><module orgid='2'><implementation><element type='outint' orgid='7' orgpin='1'/>"
                                   "</implementation></module><module orgid='3'><implementation>"
                                   "<element type='outint' orgid='8' orgpin='0'/></implementation></module></l>");
  EXPECT_EQ(OutputsOfOtherUnits(root, 2), QList<TOrg>({{1, 8, 0}}));
}

TEST(CustomLogic, CheckedChoicesAddInterfaceElementsBelowTheirColumn) {
  TBase b;
  auto unit = NewRoot();
  AddElement(*unit, atLabel, 0, 3, 10); // touches the input column
  AddElement(*unit, atLabel, 0, 12, 30); // far from it
  const QList<TOrgChoice> in = {{"M / L", {0, b.L->Id, 0}}, {"M / Z", {0, b.Z->Id, 0}}};
  const auto inints = [&] {
    QList<TAbstract *> out;
    for (TAbstract *a : unit->AbstractList.Items())
      if (a->Type == atInint)
        out << a;
    return out;
  };
  ApplyUnitChoices(*unit, 0, in, {true, false});
  ASSERT_EQ(inints().size(), 1);
  const TAbstract *e = inints()[0];
  EXPECT_EQ(e->Rect.Left, 4);
  EXPECT_EQ(e->Rect.Top, 14);
  EXPECT_EQ(e->Caption, "M / L");
  EXPECT_EQ(e->OrgId, b.L->Id);
  EXPECT_EQ(unit->InputPins.Count(), 1);
  ApplyUnitChoices(*unit, 0, in, {true, false});
  EXPECT_EQ(inints().size(), 1) << "a checked choice with its element adds none";
  ApplyUnitChoices(*unit, 0, in, {false, false});
  EXPECT_TRUE(inints().isEmpty());
  EXPECT_EQ(unit->InputPins.Count(), 0);
}

TEST(CustomLogic, MergedUnitsTakeTheirLabelsAndDriveTheModuleInputs) {
  // The unit: its input from label L, through "not", out to M's input 0.
  const auto unitNode = [](TBase &B, const TOrg &In, const TOrg &Out, IXXMLDocument &Doc) {
    auto unit = NewRoot();
    ApplyUnitChoices(*unit, 0, {{"in", In}}, {true});
    ApplyUnitChoices(*unit, 1, {{"out", Out}}, {true});
    TElement *n = AddFunction(*unit, "not", 14, 4);
    AddLink(*unit, unit->InintList[0], 0, n, 0);
    AddLink(*unit, n, 0, unit->OutintList[0], 0);
    const IXXMLNode node = Load(Doc, "<module orgid='99'/>");
    unit->SaveToNode(node, true);
    node->SetStrAttr("rect", " 40, 4,6,");
    (void)B;
    return node;
  };
  {
    TBase b;
    IXXMLDocument doc;
    const IXXMLNode node = unitNode(b, {0, b.L->Id, 0}, {1, b.M->Id, 0}, doc);
    MergeUnits(*b.Root, {{"U", node}});
    TAbstract *u = nullptr;
    for (TAbstract *a : b.Root->AbstractList.Items())
      if (a->Type == atModule && a != b.M)
        u = a;
    ASSERT_TRUE(u);
    EXPECT_EQ(u->Rect, (TUnitRect{40, 4, 46, 4}));
    const TLink *toM = b.Root->LinkList.FindInput(b.M->Id, 0);
    ASSERT_TRUE(toM);
    EXPECT_EQ(toM->From, u);
    const TLink *toU = b.Root->LinkList.FindInput(u->Id, 0);
    ASSERT_TRUE(toU);
    EXPECT_EQ(toU->From->Type, atLabelRef);
    EXPECT_EQ(static_cast<TElement *>(toU->From)->LabelRef, b.L);
  }
  const struct {
    const char *Name;
    int In, Out, OutPin;
    const char *Gid;
    const char *Error;
  } cases[] = {
      {"input from no label", -1, 0, 0, nullptr, "invalid label"},
      {"output to a pin no link feeds", 0, 0, 3, nullptr, "link not found"},
      {"interface element without gid", 0, 0, 0, "0", "internal error"},
      {"gid past the pins", 0, 0, 0, "999", "internal error"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Name);
    TBase b;
    IXXMLDocument doc;
    const IXXMLNode node =
        unitNode(b, {0, c.In < 0 ? b.M->Id : b.L->Id, 0}, {1, b.M->Id, c.OutPin}, doc);
    if (c.Gid)
      node->SelectSingleNode("implementation/element[@type='outint']")->SetStrAttr("gid", c.Gid);
    const int links = b.Root->LinkList.Count();
    EXPECT_EQ(ErrorOf([&] { MergeUnits(*b.Root, {{"U", node}}); }), c.Error);
    if (QString(c.Error) == "internal error") {
      EXPECT_EQ(b.Root->LinkList.Count(), links) << "no link is made before the check";
    }
  }
}
