#include "uSchemaEditorState.h"

#include "../schema_test_util.h"
#include "uGraphic.h"
#include "uLinkNode.h"

#include <QImage>
#include <QPainter>
#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <random>

namespace {
using S = TSchemaEditorState;

// A root module with a descriptor, edited at 96 dpi and the default zoom
// (21 pixels a unit).
struct TEditor : TSchemaEditorHost {
  std::unique_ptr<TModule> M = NewRoot();
  S E{96};
  QList<TModule *> Opened;
  TEditor() {
    M->Root = true;
    M->SetDescriptor(std::make_shared<TFakeDescriptor>());
    E.SetModule(M.get());
    E.SetHost(this);
    E.SetViewSize(800, 600);
    E.ZoomBy(0);
  }
  ~TEditor() override { E.SetModule(nullptr); }
  bool EditComment(TComment &C) override {
    C.Caption = "note";
    return true;
  }
  bool EditLabel(TElement &) override { return true; }
  bool EditLabelRef(TElement &) override { return true; }
  bool EditFunction(TElement &) override { return true; }
  void OpenModule(TModule &Module) override { Opened << &Module; }

  int Px(int Units) const { return Units * E.Scale(); }
  // A point inside the block, clear of its pins.
  QPoint Inside(const TAbstract *A) const {
    const TPixelRect &b = A->Graphic->Bounds;
    return {(b.Left + b.Right) / 2, (b.Top + b.Bottom) / 2};
  }
  QPoint OutPin(const TAbstract *A, int Pin) const { return A->Graphic->OutPins.at(size_t(Pin)).P1; }
  QPoint InPin(const TAbstract *A, int Pin) const { return A->Graphic->InPins.at(size_t(Pin)).P1; }
  void Click(QPoint P, bool Ctrl = false) {
    E.MouseDown(S::mbLeft, Ctrl, P);
    E.MouseUp(P);
  }
  void Drag(QPoint From, QPoint To) {
    E.MouseDown(S::mbLeft, false, From);
    E.MouseMove(To);
    E.MouseUp(To);
  }
  void Link(TAbstract *From, int FromPin, TAbstract *To, int ToPin) {
    E.PaletteClick(S::pbLink);
    Click(OutPin(From, FromPin));
    Click(InPin(To, ToPin));
  }
  TAbstract *Last() const { return M->AbstractList.Items().last(); }
  TElement *Function(const char *Id, int Left, int Top) {
    E.ArmPlacement(ProjectLibrary().FindFunction(Id), nullptr);
    Click({Px(Left), Px(Top)});
    return static_cast<TElement *>(M->AbstractList.Items().last());
  }
  TAbstract *Block(S::TPaletteButton Button, int Left, int Top) {
    E.PaletteClick(Button);
    Click({Px(Left), Px(Top)});
    return M->AbstractList.Items().last();
  }
};

// The schema in a canonical order: blocks by id, links by their ends.
QString Canonical(const TModule &M) {
  QList<const TAbstract *> blocks(M.AbstractList.Items().begin(), M.AbstractList.Items().end());
  std::sort(blocks.begin(), blocks.end(), [](auto *a, auto *b) { return a->Id < b->Id; });
  QStringList out;
  for (const TAbstract *a : blocks) {
    const auto *e = dynamic_cast<const TElement *>(a);
    out << QString("b %1 t%2 %3,%4,%5,%6 %7 g%8 in%9 out%10")
               .arg(a->Id)
               .arg(a->Type)
               .arg(a->Rect.Left)
               .arg(a->Rect.Top)
               .arg(a->Rect.Right)
               .arg(a->Rect.Bottom)
               .arg(a->Caption)
               .arg(e ? e->Gid : -1)
               .arg(a->InputPins.Count())
               .arg(a->OutputPins.Count());
  }
  QStringList links;
  for (const TLink *l : M.LinkList.Items())
    links << QString("l %1.%2 %3.%4 %5").arg(l->From->Id).arg(l->FromPin).arg(l->To->Id).arg(l->ToPin).arg(l->GetLine());
  links.sort();
  return (out + links).join('\n');
}

// Ids unique, every link in its source pin's list and every listed link in
// the module, nothing detached reachable from the schema.
QString Broken(const TModule &M) {
  QList<int> ids;
  for (const TAbstract *a : M.AbstractList.Items()) {
    if (ids.contains(a->Id))
      return "duplicate id " + QString::number(a->Id);
    ids << a->Id;
    if (a->Owner != &M)
      return "detached block " + QString::number(a->Id);
    for (int i = 0; i < a->OutputPins.Count(); ++i)
      for (const TLink *l : a->OutputPins[i]->Links.Items())
        if (!M.LinkList.Items().contains(l) || l->From != a || l->FromPin != i)
          return "stray link in a pin list of " + QString::number(a->Id);
  }
  for (const TLink *l : M.LinkList.Items()) {
    if (l->Owner != &M)
      return "detached link";
    if (!M.AbstractList.Items().contains(l->From) || !M.AbstractList.Items().contains(l->To))
      return "link to a block outside the schema";
    if (!l->SourcePin() || !l->SourcePin()->Links.Items().contains(l))
      return "link missing from its pin list";
  }
  return {};
}
} // namespace

TEST(SchemaEditorState, MouseWorkFollowsTheCanvasRules) {
  GuiApp();
  const struct {
    const char *Claim;
    std::function<void(TEditor &)> Run;
  } cases[] = {
      {"zoom levels map to pixels a unit and clamp",
       [](TEditor &T) {
         EXPECT_EQ(T.E.Scale(), 21);
         T.E.ZoomBy(-70);
         EXPECT_EQ(T.E.Scale(), 1);
         T.E.ZoomBy(-50);
         EXPECT_EQ(T.E.Zoom(), -100);
         T.E.ZoomBy(500);
         EXPECT_EQ(T.E.Zoom(), 100);
         EXPECT_EQ(T.M->Scale, 14248);
       }},
      {"a click without moving records nothing",
       [](TEditor &T) {
         TAbstract *a = T.Function("and", 4, 4);
         T.E.ClearUndo();
         T.Click(T.Inside(a));
         EXPECT_EQ(a->Rect, (TUnitRect{4, 4, 6, 8}));
         EXPECT_EQ(T.E.UndoTool().UndoCount(), 0);
         EXPECT_TRUE(a->Selected);
       }},
      {"ctrl+click deselects without a drag",
       [](TEditor &T) {
         TAbstract *a = T.Function("and", 4, 4);
         T.Click(T.Inside(a));
         T.E.MouseDown(S::mbLeft, true, T.Inside(a));
         EXPECT_EQ(T.E.MouseState(), S::msIdle);
         T.E.MouseMove(T.Inside(a) + QPoint(100, 0));
         T.E.MouseUp(T.Inside(a) + QPoint(100, 0));
         EXPECT_FALSE(a->Selected);
         EXPECT_EQ(a->Rect.Left, 4);
       }},
      {"a drag under half a unit snaps back; a longer one moves by whole units",
       [](TEditor &T) {
         TAbstract *a = T.Function("and", 4, 4);
         T.Drag(T.Inside(a), T.Inside(a) + QPoint(10, -10));
         EXPECT_EQ(a->Rect.Left, 4);
         EXPECT_EQ(a->Rect.Top, 4);
         T.Drag(T.Inside(a), T.Inside(a) + QPoint(32, 0));
         EXPECT_EQ(a->Rect.Left, 6);
       }},
      {"link drawing survives a release and a block without inputs; empty space cancels",
       [](TEditor &T) {
         TAbstract *one = T.Function("one", 2, 2);
         TAbstract *src = T.Block(S::pbInint, 2, 10);
         TAbstract *dst = T.Function("not", 12, 2);
         T.E.PaletteClick(S::pbLink);
         T.Click(T.OutPin(one, 0));
         EXPECT_EQ(T.E.MouseState(), S::msLinkTo);
         T.Click(T.Inside(src));
         EXPECT_EQ(T.E.MouseState(), S::msLinkTo);
         T.Click(T.InPin(dst, 0));
         ASSERT_EQ(T.M->LinkList.Count(), 1);
         EXPECT_EQ(T.M->LinkList[0]->From, one);
         T.E.PaletteClick(S::pbLink);
         T.Click(T.OutPin(src, 0));
         T.Click({T.Px(30), T.Px(30)});
         EXPECT_EQ(T.E.MouseState(), S::msIdle);
         EXPECT_EQ(T.M->LinkList.Count(), 1);
         EXPECT_EQ(T.E.LinkFrom(), nullptr);
       }},
      {"the press after a double-click is swallowed",
       [](TEditor &T) {
         TAbstract *c = T.Block(S::pbComment, 3, 3);
         T.E.DblClick(T.Inside(c));
         T.E.MouseDown(S::mbLeft, false, {T.Px(30), T.Px(30)});
         EXPECT_EQ(T.E.MouseState(), S::msIdle);
         T.E.MouseDown(S::mbLeft, false, {T.Px(30), T.Px(30)});
         EXPECT_EQ(T.E.MouseState(), S::msRubberBand);
       }},
      {"every press resets the palette: one block a click",
       [](TEditor &T) {
         T.E.PaletteClick(S::pbLabel);
         EXPECT_TRUE(T.E.DragCursor());
         T.Click({T.Px(2), T.Px(2)});
         T.Click({T.Px(20), T.Px(20)});
         EXPECT_EQ(T.M->AbstractList.Count(), 1);
         EXPECT_EQ(T.M->AbstractList[0]->Caption, "Новая метка");
         EXPECT_EQ(T.E.Tool(), S::tlPointer);
       }},
      {"a comment is sized to its text",
       [](TEditor &T) {
         TAbstract *c = T.Block(S::pbComment, 3, 3);
         EXPECT_EQ(c->Caption, "note");
         EXPECT_LT(c->Rect.Right - c->Rect.Left, 10);
         EXPECT_EQ(c->Rect.Bottom - c->Rect.Top, 2);
       }},
      {"a rubber band selects what lies inside it",
       [](TEditor &T) {
         TAbstract *a = T.Function("and", 4, 4);
         TAbstract *b = T.Function("and", 20, 4);
         T.Drag({T.Px(1), T.Px(1)}, {T.Px(10), T.Px(12)});
         EXPECT_TRUE(a->Selected);
         EXPECT_FALSE(b->Selected);
       }},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Claim);
    TEditor t;
    c.Run(t);
  }
}

// Moves, links, deletes and segment drags undone in any order are the seeded
// test's below; here the steps that drop the history.
TEST(SchemaEditorState, UndoSurvivesWhatUsersDo) {
  GuiApp();
  const struct {
    const char *Claim;
    std::function<void(TEditor &)> Run;
  } cases[] = {
      {"a paste records nothing: the history is gone and undo does nothing",
       [](TEditor &T) {
         TMemoryClipboard clip;
         T.E.SetClipboard(&clip);
         TAbstract *a = T.Function("and", 2, 2);
         T.Click(T.Inside(a));
         T.E.KeyDown(Qt::Key_Insert, true, false);
         T.E.KeyDown(Qt::Key_Insert, false, true);
         EXPECT_EQ(T.M->AbstractList.Count(), 2);
         EXPECT_EQ(T.E.Selection().Count(), 1);
         EXPECT_EQ(T.E.UndoTool().UndoCount(), 0);
         T.E.Undo();
         EXPECT_EQ(T.M->AbstractList.Count(), 2);
       }},
      {"a module insertion drops the history: its id is never taken back",
       [](TEditor &T) {
         TAbstract *a = T.Function("and", 2, 2);
         const int id = a->Id;
         T.Click(T.Inside(a));
         T.E.KeyDown(Qt::Key_Delete, false, false);
         EXPECT_EQ(T.E.InsertNewModule()->Id, id);
         EXPECT_EQ(T.E.UndoTool().UndoCount(), 0);
         T.E.Undo();
         EXPECT_EQ(T.M->AbstractList.Count(), 1);
         EXPECT_EQ(Broken(*T.M), "");
       }},
      {"placing a module of the tree copies it and drops the history",
       [](TEditor &T) {
         TModule stored(nullptr, 1);
         stored.Caption = "stored";
         AddLink(stored, AddElement(stored, atInint, 1, 0, 0), 0, AddElement(stored, atOutint, 1, 6, 0), 0);
         T.Function("and", 2, 2);
         T.E.ArmPlacement(nullptr, &stored);
         T.Click({T.Px(10), T.Px(10)});
         auto *copy = dynamic_cast<TModule *>(T.Last());
         ASSERT_NE(copy, nullptr);
         EXPECT_EQ(copy->LinkList.Count(), 1);
         EXPECT_EQ(copy->InputPins.Count(), 1);
         EXPECT_EQ(copy->Rect.Left, 10);
         EXPECT_EQ(T.E.UndoTool().UndoCount(), 0);
       }},
      {"undoing a label's delete binds its references again",
       [](TEditor &T) {
         auto *label = static_cast<TElement *>(T.Block(S::pbLabel, 2, 2));
         auto *ref = static_cast<TElement *>(T.Block(S::pbLabelRef, 12, 2));
         ref->LabelRef = label;
         ref->RefId = label->Id;
         T.Click(T.Inside(label));
         T.E.KeyDown(Qt::Key_Delete, false, false);
         EXPECT_EQ(ref->RefId, -1);
         T.E.Undo();
         EXPECT_EQ(ref->LabelRef, label);
         EXPECT_EQ(ref->RefId, label->Id);
       }},
      {"deleting only interface blocks removes their links and keeps the blocks",
       [](TEditor &T) {
         TAbstract *in = T.Block(S::pbInint, 2, 2);
         TAbstract *out = T.Block(S::pbOutint, 12, 2);
         T.Link(in, 0, out, 0);
         T.E.SelectAll();
         T.E.KeyDown(Qt::Key_Delete, false, false);
         EXPECT_EQ(T.M->AbstractList.Count(), 2);
         EXPECT_EQ(T.M->LinkList.Count(), 0);
         EXPECT_EQ(T.E.Selection().Count(), 2);
         T.E.Undo();
         EXPECT_EQ(T.M->LinkList.Count(), 1);
         EXPECT_EQ(Broken(*T.M), "");
       }},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Claim);
    TEditor t;
    c.Run(t);
  }
}

// Random edits through the mouse and keys, each undone now and then: after
// every undo the schema equals the one saved before the undone step.
TEST(SchemaEditorState, SeededEditsUndoToTheSavedSchemas) {
  GuiApp();
  TEditor t;
  std::mt19937 rnd(20261207);
  auto pick = [&](int N) { return int(rnd() % unsigned(N)); };
  const char *functions[] = {"one", "and", "not", "rs", "or"};
  const S::TPaletteButton blocks[] = {S::pbLabel, S::pbLabelRef, S::pbInint, S::pbOutint};
  QStringList saved; // the schema before each step still in the history
  int undone = 0;
  for (int step = 0; step < 2000; ++step) {
    const QList<TAbstract *> &all = t.M->AbstractList.Items();
    const int before = t.E.UndoTool().UndoCount();
    const QString schema = Canonical(*t.M);
    // Few blocks: place more; many: take some away.
    const int action = all.size() < 6 ? pick(2) : all.size() > 30 ? 5 + pick(3) : pick(8);
    if (action == 7 && before > 0) {
      t.E.KeyDown(Qt::Key_Z, true, false);
      ASSERT_EQ(t.E.UndoTool().UndoCount(), before - 1);
      ASSERT_EQ(Canonical(*t.M), saved.takeLast()) << "step " << step;
      ASSERT_EQ(Broken(*t.M), "") << "step " << step;
      ++undone;
      continue;
    }
    switch (action) {
    case 0: t.Function(functions[pick(5)], pick(60), pick(40)); break;
    case 1: t.Block(blocks[pick(4)], pick(60), pick(40)); break;
    case 2: case 3: { // link an output to an input
      TAbstract *from = all[pick(int(all.size()))], *to = all[pick(int(all.size()))];
      if (from->OutputPins.Count() > 0 && to->InputPins.Count() > 0)
        t.E.CreateLink(from, pick(from->OutputPins.Count()), to, pick(to->InputPins.Count()));
      break;
    }
    case 4: { // select a few blocks and drag one of them
      t.E.Selection().Clear();
      TAbstract *grab = all[pick(int(all.size()))];
      t.E.Selection().Add(grab);
      for (int k = pick(3); k > 0; --k)
        t.E.Selection().Add(all[pick(int(all.size()))]);
      const QPoint p = t.Inside(grab);
      if (t.M->AbstractList.HitTest(p, 0) == grab)
        t.Drag(p, p + QPoint(pick(200) - 100, pick(200) - 100));
      break;
    }
    case 5: { // delete a selection
      t.E.Selection().Clear();
      t.E.SelectLink(nullptr, -1);
      for (int k = 1 + pick(3); k > 0; --k)
        t.E.Selection().Add(all[pick(int(all.size()))]);
      t.E.KeyDown(Qt::Key_Delete, false, false);
      break;
    }
    default: { // delete a link or drag one of its segments
      if (t.M->LinkList.Count() == 0)
        break;
      TLink *l = t.M->LinkList[pick(t.M->LinkList.Count())];
      t.E.Selection().Clear();
      if (pick(2)) {
        t.E.SelectLink(l, 1);
        t.E.KeyDown(Qt::Key_Delete, false, false);
        break;
      }
      const QPoint mid = (l->Graphic->Points[1] + l->Graphic->Points[2]) / 2;
      TLink *hit = nullptr;
      int segment = 0;
      if (!t.M->AbstractList.HitTest(mid, 0) && t.M->LinkList.HitTest(mid, hit, segment) && hit == l)
        t.Drag(mid, mid + QPoint(pick(100) - 50, pick(100) - 50));
    }
    }
    const int after = t.E.UndoTool().UndoCount();
    if (after == before + 1)
      saved << schema;
    else
      ASSERT_EQ(after, before) << "step " << step;
  }
  EXPECT_GT(undone, 300);
  while (!saved.isEmpty()) {
    t.E.Undo();
    ASSERT_EQ(Canonical(*t.M), saved.takeLast());
  }
  EXPECT_EQ(t.M->AbstractList.Count(), 0);
}

TEST(SchemaEditorState, CommandsMoveFitFindAndMarkUnbound) {
  GuiApp();
  TEditor t;
  TAbstract *a = t.Function("one", 2, 2);
  TAbstract *b = t.Function("and", 12, 2);
  TAbstract *c = t.Function("not", 22, 2);
  t.Link(a, 0, b, 0);
  t.Link(b, 0, c, 0);
  TLink *ab = t.M->LinkList[0], *bc = t.M->LinkList[1];
  // a and b move together: their link is shifted whole; b's link to c keeps
  // its far end.
  t.Click(t.Inside(a));
  t.Click(t.Inside(b), true);
  t.Drag(t.Inside(b), t.Inside(b) + QPoint(0, t.Px(1)));
  EXPECT_EQ(ab->GetLine(), "4,4,8,4,12");
  EXPECT_EQ(bc->Points[size_t(bc->PointCount - 1)], QPoint(22, 3));
  EXPECT_EQ(bc->Points[0], QPoint(14, 4));

  t.E.SelectLink(nullptr, -1);
  t.Click({t.Px(40), t.Px(40)});
  t.Click(t.Inside(c));
  t.E.ScaleToFit(true); // 6 x 6 units in 800 x 600
  EXPECT_EQ(t.E.Zoom(), 1); // 100 pixels a unit fit
  EXPECT_EQ(t.E.ScrollPos, QPoint(20 * t.E.Scale(), 0));
  t.E.SetViewSize(0, 0);
  t.E.ScaleToFit(false);
  EXPECT_EQ(t.E.Zoom(), 1);

  for (int i = 0; i < 9; ++i)
    t.Block(S::pbLabel, 4 * i, 30);
  t.E.Selection().Clear();
  t.E.Find("12");
  t.E.Find("999");
  ASSERT_EQ(t.E.Selection().Count(), 1);
  EXPECT_EQ(t.E.Selection().Items()[0]->Id, 12);
  t.E.Find("метка"); // a text adds every match to the selection
  EXPECT_EQ(t.E.Selection().Count(), 9);
  t.E.Selection().Clear();

  // b has a free second input; the child module holds a block with a free input.
  TModule *child = t.E.InsertNewModule();
  t.E.SetModule(child);
  t.E.ArmPlacement(ProjectLibrary().FindFunction("not"), nullptr);
  t.Click({t.Px(2), t.Px(2)});
  ASSERT_EQ(child->AbstractList.Count(), 1);
  t.E.SetModule(t.M.get());
  t.E.Selection().Clear();
  t.E.SelectUnbound();
  // b, the nine unlinked labels and the child; a and c have every input linked.
  EXPECT_EQ(t.E.Selection().Count(), 11);
  EXPECT_TRUE(b->Selected && child->Selected);
  EXPECT_FALSE(a->Selected || c->Selected);
}

// Painting only what reaches the view gives the picture of a full paint.
TEST(SchemaEditorState, PaintingTheViewMatchesTheWholePicture) {
  GuiApp();
  TEditor t;
  for (int i = 0; i < 30; ++i) {
    TElement *e = t.Function(i % 2 ? "and" : "rs", 3 * (i % 6) + 1, 5 * (i / 6) + 1);
    e->InputPins[0]->Caption = "вход с длинным именем";
    e->OutputPins[0]->Caption = "выход";
    if (i > 0)
      t.E.CreateLink(t.M->AbstractList[i - 1], 0, e, 1);
  }
  t.E.Selection().Clear();
  const QRect view(150, 100, 160, 120);
  QImage whole(800, 600, QImage::Format_RGB32), part(800, 600, QImage::Format_RGB32);
  part.fill(Qt::white);
  {
    QPainter p(&whole);
    t.E.Paint(p, 800, 600, QRect());
  }
  {
    QPainter p(&part);
    p.setClipRect(view);
    t.E.Paint(p, 800, 600, view);
  }
  EXPECT_EQ(whole.copy(view), part.copy(view));
}
