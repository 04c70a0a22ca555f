#include "uSchemaModule.h"

#include "../schema_test_util.h"
#include "uErrors.h"
#include "uGraphic.h"
#include "uLogger.h"

#include <gtest/gtest.h>

namespace {


QList<QPoint> RoutePoints(const TLink &L) { return QList<QPoint>(L.Points.begin(), L.Points.begin() + L.PointCount); }

} // namespace

TEST(SchemaModel, IdsAndChannelsTakeTheLowestFreeValue) {
  const struct {
    QList<int> Ids;
    int Next;
  } ids[] = {{{1, 2, 4}, 3}, {{1, 2, 3}, 4}, {{}, 1}};
  for (const auto &c : ids) {
    TModule m(nullptr, 1);
    for (int id : c.Ids)
      m.AbstractList.Add(new TComment(&m, atComment, id));
    EXPECT_EQ(m.NewId(), c.Next);
  }
  const struct {
    QList<int> Used;
    int Next;
  } relays[] = {{{1, 2, 3, 4}, 0}, {{1, 2, 4}, 3}, {{}, 1}};
  for (const auto &c : relays) {
    auto root = NewRoot();
    root->SetDescriptor(std::make_shared<TFakeDescriptor>());
    auto *sub = new TModule(root.get(), 0);
    root->AbstractList.Add(sub);
    for (int g : c.Used) {
      TElement *e = AddFunction(g % 2 ? *root : *sub, "relay");
      e->Gid = g;
    }
    EXPECT_EQ(sub->NewReservedGid(ekRele), c.Next);
    EXPECT_EQ(root->IsGidFree(ekRele, 4), !c.Used.contains(4));
  }
  TModule m(nullptr, 1);
  EXPECT_EQ(ErrorOf([&] { m.NewReservedGid(0); }), "incompatible reserved type");
  EXPECT_EQ(ErrorOf([&] { m.IsGidFree(6, 1); }), "invalid reserved type");
}

TEST(SchemaModel, RefusalsCarryTheirTexts) {
  auto root = NewRoot();
  root->SetDescriptor(std::make_shared<TFakeDescriptor>());
  auto *sub = new TModule(root.get(), 0);
  root->AbstractList.Add(sub);
  TElement *relay = AddFunction(*root, "relay");
  TElement *in1 = AddElement(*root, atInint);
  AddElement(*sub, atInint, 2);
  const auto duplicate = std::make_unique<TComment>(nullptr, atComment, relay->Id);
  EXPECT_EQ(ErrorOf([&] { root->AbstractList.Add(duplicate.get()); }), "nonunique id detected");
  auto *sameId = new TComment(sub, atComment, relay->Id);
  EXPECT_NO_THROW(sub->AbstractList.Add(sameId));
  const QString errors[] = {
      ErrorOf([&] { relay->SetGid(5); }),
      ErrorOf([&] { in1->SetGid(2); }),
      ErrorOf([&] { TElement(nullptr, atInint, 1, 0, nullptr, nullptr, nullptr); }),
      ErrorOf([&] { TElement(root.get(), atComment, 1, 0, nullptr, nullptr, nullptr); }),
      ErrorOf([&] { TElement(root.get(), 6, 1, 1, nullptr, nullptr, nullptr); }),
      ErrorOf([&] { relay->InputPins[0]->SetEventEdge(1); }),
      ErrorOf([&] { in1->SetLabel(relay); }),
      ErrorOf([&] { root->AbstractList.Remove(sub->AbstractList[0]); }),
  };
  const QStringList expected = {"invalid group index", "non-unique group index", "can't get gid",
                                "unexpected comment", "unexpected ", "invalid event pin", "invalid label",
                                "abstract not found"};
  EXPECT_EQ(QStringList(std::begin(errors), std::end(errors)), expected);
  EXPECT_NO_THROW(relay->SetGid(4));
  EXPECT_EQ(relay->Gid, 4);
}

TEST(SchemaModel, InterfaceSlotsBecomeModulePins) {
  TModule root(nullptr, 1);
  auto *sub = new TModule(&root, 0);
  root.AbstractList.Add(sub);
  TElement *a = AddElement(*sub, atInint, 1);
  a->Caption = "A";
  TElement *c = new TElement(sub, atInint, 0, 3, nullptr, nullptr, nullptr);
  c->Caption = "C";
  sub->AbstractList.Add(c);
  ASSERT_EQ(sub->InputPins.Count(), 3);
  EXPECT_EQ(sub->InputPins[0]->Caption, "A");
  EXPECT_EQ(sub->InputPins[1]->Caption, "");
  EXPECT_EQ(sub->InputPins[2]->Caption, "C");
  EXPECT_EQ(sub->InintList[1], nullptr);
  EXPECT_EQ(sub->Rect.Bottom - sub->Rect.Top, 6);
  sub->AbstractList.Remove(c);
  EXPECT_EQ(sub->InputPins.Count(), 1);
  EXPECT_EQ(AddElement(*sub, atOutint)->Gid, 1);
}

TEST(SchemaModel, HeightsMasksAndMoves) {
  TModule m(nullptr, 1);
  m.Scale = 2;
  auto *b = new TComment(&m, atComment, 0);
  m.AbstractList.Add(b);
  b->SetPinCount(3, 5);
  EXPECT_EQ(b->Rect.Bottom - b->Rect.Top, 10);
  b->SetPinCount(0, 0);
  EXPECT_EQ(b->Rect.Bottom - b->Rect.Top, 2);
  b->SetPinCount(3, 0);
  b->InputPins[0]->Inverted = true;
  EXPECT_EQ(b->InputPins.GetInversionMask(), 4u);
  b->InputPins.SetInversionMask(1);
  EXPECT_FALSE(b->InputPins[0]->Inverted);
  EXPECT_TRUE(b->InputPins[2]->Inverted);
  b->SetPinCount(0, 0);
  b->SetPinCount(34, 0); // the file keeps 32 bits: pin 0 is lost, with a word in the log
  b->InputPins[0]->Inverted = b->InputPins[33]->Inverted = true;
  const IXXMLDocument doc = NewXMLDocument();
  doc->LoadXML("<abstract/>");
  b->WriteXml(doc->GetDocumentElement());
  EXPECT_EQ(doc->GetDocumentElement()->GetStrAttr("iinv", ""), "1");
  EXPECT_TRUE(Logger().Lines().last().contains(QString("block %1").arg(b->Id)));
  b->SetPinCount(3, 0);
  b->MoveBy(21, -21);
  EXPECT_EQ(b->Rect, (TUnitRect{10, -10, 12, -4}));
  b->MoveBy(3, 0); // 1.5 units: ties go to even
  EXPECT_EQ(b->Rect.Left, 12);
  b->MoveTo(5, 7);
  EXPECT_EQ(b->Rect, (TUnitRect{2, 4, 4, 10}));
}

TEST(SchemaModel, RemovalFollowsLabelsAndOwners) {
  TModule m(nullptr, 1);
  TElement *label = AddElement(m, atLabel);
  TElement *ref = AddElement(m, atLabelRef);
  ref->SetLabel(label);
  EXPECT_EQ(ref->RefId, label->Id);
  m.AbstractList.Remove(label);
  EXPECT_EQ(ref->LabelRef, nullptr);
  EXPECT_EQ(ref->RefId, -1);
  TElement *kept = AddElement(m, atLabel);
  kept->Owner = nullptr;
  m.AbstractList.Remove(kept);
  EXPECT_EQ(kept->Type, atLabel); // still alive: ASan would tell otherwise
  delete kept;
}

TEST(SchemaModel, DestroyingBlocksLeavesNoLinkBehind) {
  for (int round = 0; round < 2000; ++round) {
    TModule root(nullptr, 1);
    auto *sub = new TModule(&root, 0);
    root.AbstractList.Add(sub);
    TElement *in = AddElement(*sub, atInint);
    TElement *out = AddElement(*sub, atOutint);
    AddLink(*sub, in, 0, out, 0);
    auto *a = new TComment(&root, atComment, 0);
    a->SetPinCount(1, 2);
    root.AbstractList.Add(a);
    AddLink(root, a, 0, sub, 0);
    TLink *second = AddLink(root, a, 0, a, 0);
    AddLink(root, sub, 0, a, 0);
    EXPECT_EQ(a->OutputPins[0]->Links.Count(), 2);
    if (round % 2) {
      root.AbstractList.Remove(sub);
      EXPECT_EQ(root.LinkList.Count(), 1);
      EXPECT_EQ(a->OutputPins[0]->Links.Items(), QList<TLink *>{second});
    }
  }
}

TEST(LinkRoute, AutomaticRoutesAndTheirText) {
  TModule m(nullptr, 1);
  auto *a = new TComment(&m, atComment, 1);
  auto *b = new TComment(&m, atComment, 2);
  m.AbstractList.Add(a);
  m.AbstractList.Add(b);
  a->SetPinCount(0, 3);
  b->SetPinCount(5, 0);
  a->SetRect({8, 0, 10, 6}); // pin 2 row: y 5
  const struct {
    int TargetLeft;
    QList<QPoint> Points;
    QString Line;
  } cases[] = {
      {20, {{10, 5}, {15, 5}, {15, 9}, {20, 9}}, "10,5,15,9,20"},
      {12, {{10, 5}, {12, 5}, {12, 7}, {10, 7}, {10, 9}, {12, 9}}, "10,5,12,7,10,9,12"},
  };
  for (const auto &c : cases) {
    b->SetRect({c.TargetLeft, 4, c.TargetLeft + 2, 14});
    TLink link(&m, a, 2, b, 2);
    link.UpdateRoute();
    EXPECT_EQ(RoutePoints(link), c.Points);
    EXPECT_EQ(link.GetLine(), c.Line);
    TLink read(&m, a, 2, b, 2, c.Line);
    EXPECT_EQ(RoutePoints(read), c.Points);
  }
  a->SetRect({8, 3, 10, 9});
  TLink feedback(&m, a, 0, a, 0);
  feedback.UpdateRoute();
  ASSERT_EQ(feedback.PointCount, 6);
  EXPECT_EQ(feedback.Points[2].y(), 2);
  EXPECT_EQ(feedback.Points[3].y(), 2);
  for (const QString bad : {"1,2,3,4,5,6,7,8,9,10,11,12", "1,x,3"})
    EXPECT_EQ(ErrorOf([&] { TLink(&m, a, 0, b, 0, bad); }), "invalid link route: " + bad);
  TLink single(&m, a, 0, b, 0, "7");
  EXPECT_EQ(single.PointCount, 0);
}

TEST(LinkRoute, EditsKeepTheRouteOrthogonal) {
  TModule m(nullptr, 1);
  m.Scale = 10;
  auto *a = new TComment(&m, atComment, 1);
  auto *b = new TComment(&m, atComment, 2);
  m.AbstractList.Add(a);
  m.AbstractList.Add(b);
  a->SetPinCount(0, 1);
  b->SetPinCount(1, 0);
  TLink l(&m, a, 0, b, 0, "10,5,15,9,20");
  const auto before = RoutePoints(l);
  l.MoveSegment(1, 30, 30);
  l.MoveSegment(3, 30, 30);
  EXPECT_EQ(RoutePoints(l), before);
  l.MoveSegment(2, 30, 0); // the vertical middle segment moves 3 units right
  EXPECT_EQ(RoutePoints(l), (QList<QPoint>{{10, 5}, {18, 5}, {18, 9}, {20, 9}}));
  l.MoveStart(-10, 10);
  EXPECT_EQ(RoutePoints(l), (QList<QPoint>{{9, 6}, {18, 6}, {18, 9}, {20, 9}}));
  l.MoveEnd(10, 20);
  EXPECT_EQ(RoutePoints(l), (QList<QPoint>{{9, 6}, {18, 6}, {18, 11}, {21, 11}}));
  l.MoveAll(10, 10);
  EXPECT_EQ(l.GetLine(), "10,7,19,12,22");
  a->SetRect({8, 0, 10, 2});
  b->SetRect({12, 0, 14, 2});
  l.MoveEnd(-50, 0); // the end would pass the previous point: a new route
  EXPECT_EQ(RoutePoints(l), (QList<QPoint>{{10, 1}, {12, 1}, {12, 1}, {10, 1}, {10, 1}, {12, 1}}));
}
