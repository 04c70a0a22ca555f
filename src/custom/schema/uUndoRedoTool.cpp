#include "uUndoRedoTool.h"

#include "uErrors.h"

void TBundle::FreeDetached() {
  if (Kind != bkDelete)
    return;
  // Links first: a block's destructor looks at its module's links.
  for (TLink *l : std::exchange(Links, {}))
    if (!l->Owner)
      delete l;
  for (TAbstract *a : std::exchange(Abstracts, {}))
    if (!a->Owner)
      delete a;
}

TUndoRedoTool::~TUndoRedoTool() {
  ClearUndo();
  ClearRedo();
}

void TUndoRedoTool::Push(TBundle *B) {
  FUndo.append(B);
  FRecorded = true;
}

void TUndoRedoTool::EndStep() {
  if (FRecorded)
    return;
  ClearUndo();
  ClearRedo();
}

void TUndoRedoTool::PushDelete(const QList<TSchemaObject *> &Blocks, const QList<TSchemaObject *> &Links) {
  auto b = std::make_unique<TBundle>(TBundle::bkDelete);
  for (const auto *list : {&Blocks, &Links})
    for (TSchemaObject *o : *list) {
      if (auto *a = dynamic_cast<TAbstract *>(o))
        b->Abstracts.append(a);
      else if (auto *l = dynamic_cast<TLink *>(o))
        b->Links.append(l);
      else
        throw EKvError("TAbstract or TLink expected");
    }
  for (TAbstract *label : b->Abstracts)
    if (auto *m = dynamic_cast<TModule *>(label->Owner); m && label->Type == atLabel && label->IsElement())
      for (TAbstract *a : m->AbstractList.Items())
        if (a->Type == atLabelRef && a->IsElement() && static_cast<TElement *>(a)->LabelRef == label)
          b->LabelBindings.append(qMakePair(a, label));
  for (TAbstract *a : b->Abstracts)
    a->Owner = nullptr;
  for (TLink *l : b->Links)
    l->Owner = nullptr;
  Push(b.release());
}

void TUndoRedoTool::PushMove(const QList<TAbstract *> &Blocks, const QList<TLink *> &Links) {
  auto *b = new TBundle(TBundle::bkMove);
  for (TAbstract *a : Blocks)
    b->AbstractCoords.append({a, a->Rect});
  for (TLink *l : Links)
    b->LinkCoords.append({l, l->Points, l->PointCount});
  Push(b);
}

void TUndoRedoTool::PushInsert(TAbstract *Block, uint8_t Kind) {
  auto *b = new TBundle(Kind);
  b->AbstractCoords.append({Block, Block->Rect});
  Push(b);
}

void TUndoRedoTool::PushLink(TLink *Link, uint8_t Kind) {
  auto *b = new TBundle(Kind);
  b->LinkCoords.append({Link, Link->Points, Link->PointCount});
  Push(b);
}

void TUndoRedoTool::Undo(const TApply &Apply, void *Editor) {
  if (FUndo.isEmpty())
    return;
  TBundle *b = FUndo.last();
  Apply(Editor, *b);
  FUndo.removeLast();
  FRedo.append(b);
}

void TUndoRedoTool::ClearUndo() {
  // A delete still here was never undone: its objects are nowhere else.
  for (TBundle *b : std::exchange(FUndo, {})) {
    b->FreeDetached();
    delete b;
  }
}

void TUndoRedoTool::ClearRedo() {
  // Undone bundles name objects that are back in the schema, or were freed
  // when an insert was undone: never free them here.
  qDeleteAll(std::exchange(FRedo, {}));
}
