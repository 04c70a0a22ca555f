#pragma once
// Undo history of the schema editor. Each editing step pushes one bundle; the
// editor applies an undone bundle in reverse. A deleted block or link lives in
// its bundle, detached from the schema (Owner cleared), until the bundle is
// undone or dropped. The tool must be cleared before the modules it refers to
// are destroyed.
#include <QList>
#include <QPoint>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>

#include "uSchemaModule.h"

struct TAbstractCoord {
  TAbstract *Abstract = nullptr;
  TUnitRect Rect;
};

struct TLinkCoord {
  TLink *Link = nullptr;
  std::array<QPoint, 10> Points{};
  int PointCount = 0;
};

class TBundle {
public:
  enum TKind : uint8_t { bkDelete = 1, bkMove = 2, bkInsert = 3 };
  explicit TBundle(uint8_t AKind) : Kind(AKind) {}
  uint8_t Kind;
  // Kind 1: the detached objects themselves.
  QList<TAbstract *> Abstracts;
  QList<TLink *> Links;
  // Kind 1: label references (first) bound to a deleted label (second). The
  // delete unbinds them; its undo binds them again, else an undone delete
  // would leave the references pointing nowhere.
  QList<QPair<TAbstract *, TAbstract *>> LabelBindings;
  // Kinds 2 and 3: positions before the step.
  QList<TAbstractCoord> AbstractCoords;
  QList<TLinkCoord> LinkCoords;
  // Frees the detached objects of a delete that was never undone.
  void FreeDetached();
};

class TUndoRedoTool {
public:
  using TApply = std::function<void(void *Editor, TBundle &Bundle)>;
  TUndoRedoTool() = default;
  ~TUndoRedoTool();
  TUndoRedoTool(const TUndoRedoTool &) = delete;
  TUndoRedoTool &operator=(const TUndoRedoTool &) = delete;

  void BeginStep() { FRecorded = false; }
  // A step that recorded nothing invalidates the whole history.
  void EndStep();
  // Throws "TAbstract or TLink expected" (nothing recorded) for another object.
  void PushDelete(const QList<TSchemaObject *> &Blocks, const QList<TSchemaObject *> &Links);
  void PushMove(const QList<TAbstract *> &Blocks, const QList<TLink *> &Links);
  void PushInsert(TAbstract *Block, uint8_t Kind);
  void PushLink(TLink *Link, uint8_t Kind);
  // Hands the newest bundle to Apply and moves it to the redo list.
  void Undo(const TApply &Apply, void *Editor);
  void ClearUndo();
  void ClearRedo();
  int UndoCount() const { return int(FUndo.size()); }
  int RedoCount() const { return int(FRedo.size()); }
  bool Recorded() const { return FRecorded; }

private:
  QList<TBundle *> FUndo, FRedo;
  bool FRecorded = false;
  void Push(TBundle *B);
};
