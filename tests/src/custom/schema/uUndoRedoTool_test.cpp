#include "uUndoRedoTool.h"

#include "../schema_test_util.h"
#include "uErrors.h"

#include <gtest/gtest.h>

namespace {

// What the editor does with an undone bundle.
void Apply(void *Editor, TBundle &B) {
  auto *m = static_cast<TModule *>(Editor);
  switch (B.Kind) {
  case TBundle::bkDelete:
    for (TAbstract *a : B.Abstracts) {
      a->Owner = m;
      m->AbstractList.Add(a);
    }
    for (TLink *l : B.Links) {
      l->Owner = m;
      m->LinkList.Add(l);
    }
    break;
  case TBundle::bkMove:
    for (const TAbstractCoord &c : B.AbstractCoords)
      c.Abstract->SetRect(c.Rect);
    for (const TLinkCoord &c : B.LinkCoords)
      c.Link->SetPoints(c.Points, c.PointCount);
    break;
  default:
    for (const TAbstractCoord &c : B.AbstractCoords)
      m->AbstractList.Remove(c.Abstract);
    for (const TLinkCoord &c : B.LinkCoords)
      m->LinkList.Remove(c.Link);
  }
}

// The editor's delete: record, then take out of the schema (not freed: detached).
void Delete(TUndoRedoTool &Tool, TModule &M, TAbstract *Block) {
  QList<TSchemaObject *> links;
  for (TLink *l : M.LinkList.Items())
    if (l->From == Block || l->To == Block)
      links << l;
  Tool.BeginStep();
  Tool.PushDelete({Block}, links);
  for (TSchemaObject *l : links)
    M.LinkList.Remove(static_cast<TLink *>(l));
  M.AbstractList.Remove(Block);
  Tool.EndStep();
}

} // namespace

TEST(UndoRedoTool, MovesComeBackInOrder) {
  TUndoRedoTool tool;
  int applied = 0;
  tool.Undo([&](void *, TBundle &) { ++applied; }, nullptr);
  EXPECT_EQ(applied, 0);
  TModule m(nullptr, 1);
  m.Scale = 10;
  TElement *a = AddElement(m, atLabel, 0, 1, 1);
  TElement *b = AddElement(m, atLabelRef, 0, 9, 1);
  TLink *l = AddLink(m, b, 0, a, 0);
  const TUnitRect first = a->Rect;
  const QString route = l->GetLine();
  for (int step = 0; step < 2; ++step) {
    tool.BeginStep();
    tool.PushMove({a}, {l});
    a->MoveBy(30, 20);
    l->MoveEnd(30, 20);
    tool.EndStep();
  }
  EXPECT_NE(l->GetLine(), route);
  tool.Undo(Apply, &m);
  tool.Undo(Apply, &m);
  EXPECT_EQ(a->Rect, first);
  EXPECT_EQ(l->GetLine(), route);
  EXPECT_EQ(tool.RedoCount(), 2);
  tool.BeginStep(); // a property change: nothing recorded
  tool.EndStep();
  EXPECT_EQ(tool.UndoCount() + tool.RedoCount(), 0);
}

TEST(UndoRedoTool, DeletedBlocksComeBackAsTheSameObjects) {
  TUndoRedoTool tool;
  TModule m(nullptr, 1);
  TElement *a = AddElement(m, atLabelRef);
  TElement *b = AddElement(m, atLabel);
  TElement *c = AddElement(m, atLabel);
  TLink *ab = AddLink(m, a, 0, b, 0);
  TLink *ac = AddLink(m, a, 0, c, 0);
  const int id = b->Id;
  Delete(tool, m, b);
  EXPECT_EQ(m.LinkList.Count(), 1);
  EXPECT_EQ(a->OutputPins[0]->Links.Count(), 1);
  tool.Undo(Apply, &m);
  EXPECT_EQ(m.AbstractList.FindById(id), b);
  EXPECT_EQ(m.LinkList.Items(), (QList<TLink *>{ac, ab}));
  EXPECT_EQ(a->OutputPins[0]->Links.Count(), 2);
  EXPECT_EQ(b->Owner, &m);
  // Deletes never undone are freed when the history goes (ASan checks).
  Delete(tool, m, c);
  Delete(tool, m, a);
  tool.BeginStep();
  tool.EndStep();
  EXPECT_EQ(m.AbstractList.Count(), 1);
  Delete(tool, m, b);
  tool.BeginStep();
  try {
    tool.PushDelete({b, b->InputPins[0]}, {});
    ADD_FAILURE();
  } catch (const EKvError &e) {
    EXPECT_EQ(e.Text(), "TAbstract or TLink expected");
  }
  EXPECT_EQ(tool.UndoCount(), 1); // nothing recorded by the refused push
}
