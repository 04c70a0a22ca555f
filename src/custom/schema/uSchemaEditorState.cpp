#include "uSchemaEditorState.h"

#include "uConfigurator.h"
#include "uErrors.h"
#include "uGraphic.h"
#include "uLinkNode.h"

#include <QFileInfo>
#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QPen>
#include <algorithm>
#include <cmath>

namespace {
int Nearest(double V) { return int(std::nearbyint(V)); }

bool IsInterface(const TAbstract *A) { return A->Type == atInint || A->Type == atOutint; }

} // namespace

TSchemaEditorState::TSchemaEditorState(int PixelsPerInch)
    : FPixelsPerInch(PixelsPerInch > 0 ? PixelsPerInch : 96), FGridStep(FPixelsPerInch / 4) {}

TSchemaEditorState::~TSchemaEditorState() {
  // Bundles name blocks of the module: they go first.
  FSelection.Clear();
  ClearUndo();
}

void TSchemaEditorState::ClearUndo() {
  FUndo.ClearUndo();
  FUndo.ClearRedo();
}

void TSchemaEditorState::SetModule(TModule *Module) {
  FSelection.Clear();
  SelectLink(nullptr, -1);
  FLinkFrom = nullptr;
  FMouseState = msIdle;
  ClearUndo();
  FModule = Module;
}

void TSchemaEditorState::LoadFromFile(const QString &FileName, TConfigurator *Configurator) {
  SetModule(nullptr);
  FOwnedModule = std::make_unique<TModule>(nullptr, 1);
  FOwnedModule->Root = true;
  FOwnedModule->SetConfigurator(Configurator);
  FModule = FOwnedModule.get();
  FModule->LoadFromFile(FileName);
  ZoomBy(0);
}

TModule &TSchemaEditorState::RequireModule() const {
  if (!FModule)
    throw EKvError("FModule is nil");
  return *FModule;
}

int TSchemaEditorState::Scale() const {
  return std::max(1, Nearest(FPixelsPerInch * std::exp(FZoom / 20.0)));
}

void TSchemaEditorState::Changed() {
  if (OnChanged)
    OnChanged();
}

void TSchemaEditorState::MarkModified() {
  if (FModule)
    FModule->RootModule()->Changed = true;
}

void TSchemaEditorState::ZoomBy(int Delta) {
  FFrameRect = QRect();
  FZoom = std::clamp(FZoom + Delta, MinZoom, MaxZoom);
  if (FModule)
    FModule->SetScale(Scale());
  FTool = tlPointer;
  UpdateScrollRange();
  Changed();
}

void TSchemaEditorState::UpdateScrollRange() {
  int right = 0, bottom = 0;
  if (FModule)
    for (const TAbstract *a : FModule->AbstractList.Items()) {
      right = std::max(right, a->Rect.Right);
      bottom = std::max(bottom, a->Rect.Bottom);
    }
  const double s = Scale() * 1.5;
  FScrollRange = QSize(Nearest(right * s), Nearest(bottom * s));
}

void TSchemaEditorState::SetScrollPos(QPoint P) {
  ScrollPos = QPoint(std::max(0, P.x()), std::max(0, P.y()));
}

void TSchemaEditorState::ScrollByKey(int Key) {
  switch (Key) {
  case Qt::Key_Left: SetScrollPos(ScrollPos - QPoint(FGridStep, 0)); break;
  case Qt::Key_Right: SetScrollPos(ScrollPos + QPoint(FGridStep, 0)); break;
  case Qt::Key_Up: SetScrollPos(ScrollPos - QPoint(0, FGridStep)); break;
  case Qt::Key_Down: SetScrollPos(ScrollPos + QPoint(0, FGridStep)); break;
  default: return;
  }
  Changed();
}

void TSchemaEditorState::Wheel(bool Down, bool Ctrl, bool Shift) {
  if (Ctrl)
    ZoomBy(Down ? 10 : -10);
  else if (Shift)
    ScrollByKey(Down ? Qt::Key_Right : Qt::Key_Left);
  else
    ScrollByKey(Down ? Qt::Key_Down : Qt::Key_Up);
}

void TSchemaEditorState::SetTool(uint8_t Tool) {
  FTool = Tool;
  switch (Tool) {
  case tlItem: FMouseState = msInsertItem; break;
  case tlLink: FMouseState = msLinkFrom; break;
  case tlPointer: FMouseState = msIdle; break;
  default: FMouseState = msInsertBlock;
  }
  FDragCursor = Tool != tlPointer && Tool != tlLink;
}

void TSchemaEditorState::PaletteClick(TPaletteButton Button, bool Shift) {
  const int step = Shift ? 1 : 10;
  switch (Button) {
  case pbZoomPlus:
  case pbZoomMinus:
    ZoomBy(Button == pbZoomPlus ? step : -step);
    SetTool(tlPointer);
    break;
  case pbPointer: SetTool(tlPointer); break;
  case pbLink: SetTool(tlLink); break;
  case pbComment: SetTool(tlComment); break;
  case pbLabel: SetTool(tlLabel); break;
  case pbLabelRef: SetTool(tlLabelRef); break;
  case pbInint: SetTool(tlInint); break;
  case pbOutint: SetTool(tlOutint); break;
  }
  Changed();
}

void TSchemaEditorState::ResetMouse() {
  FMouseState = msIdle;
  FDragCursor = false;
  FLinkFrom = nullptr;
  FLinkFromPin = -1;
  Changed();
}

void TSchemaEditorState::ArmPlacement(TFunctionDescriptor *Function, TModule *ModuleItem) {
  FLibraryItem = Function;
  FModuleItem = Function ? nullptr : ModuleItem;
  if (FLibraryItem || FModuleItem) {
    FTool = tlItem;
    FMouseState = msInsertItem;
    FDragCursor = true;
  } else {
    FTool = tlPointer;
    FMouseState = msIdle;
    FDragCursor = false;
  }
}

void TSchemaEditorState::SelectLink(TLink *Link, int Segment) {
  if (FSelectedLink)
    FSelectedLink->Graphic->Selected = false;
  FSelectedLink = Link;
  FSelectedSegment = Link ? Segment : -1;
  if (Link)
    Link->Graphic->Selected = true;
}

// ---- mouse ----

void TSchemaEditorState::MouseDown(TButton Button, bool Ctrl, QPoint P) {
  if (FSkipMouseDown > 0) {
    --FSkipMouseDown;
    FMouseState = msIdle;
    return;
  }
  FFrameRect = QRect();
  FDragCursor = false;
  FRubberOrigin = P;
  FRubberRect = QRect(P, QSize(0, 0));
  FLineStart = FLineEnd = P;
  FDownPoint = FLastPoint = P;
  FUpX = P.x();
  FUpY = P.y();
  // Whatever the press does, the palette goes back to the pointer after it.
  struct TResetTool {
    TSchemaEditorState *S;
    ~TResetTool() {
      S->FTool = tlPointer;
      S->Changed();
    }
  } reset{this};
  if (!FModule)
    return;
  TAbstract *block = FModule->AbstractList.HitTest(P, 0);
  TLink *link = nullptr;
  int segment = -1;
  FModule->LinkList.HitTest(P, link, segment);
  switch (FMouseState) {
  case msIdle:
    if (block) {
      SelectLink(nullptr, -1);
      if (Ctrl) {
        block->Selected ? FSelection.Remove(block) : FSelection.Add(block);
        return;
      }
      if (!block->Selected) {
        FSelection.Clear();
        FSelection.Add(block);
      }
      FMouseState = msPressed;
    } else if (link) {
      FSelection.Clear();
      SelectLink(link, segment);
      link->Graphic->SavePoints();
      FMouseState = msPressed;
    } else {
      FSelection.Clear();
      SelectLink(nullptr, -1);
      FMouseState = Button == mbLeft ? msRubberBand : msPan;
    }
    break;
  case msInsertBlock:
    InsertBlock(0, FTool, P.x(), P.y());
    break;
  case msLinkFrom:
    if (TAbstract *from = FModule->AbstractList.HitTest(P, 2)) {
      FLinkFrom = from;
      FLinkFromPin = std::max(0, TGraphicAbstract::PinAt(from->Graphic->OutPins, P));
      FMouseState = msLinkTo;
    }
    break;
  case msLinkTo: {
    TAbstract *to = FModule->AbstractList.HitTest(P, 2);
    if (to && to->InputPins.Count() == 0)
      break; // nothing to link to: keep drawing
    if (to && FLinkFrom)
      CreateLink(FLinkFrom, FLinkFromPin, to, std::max(0, TGraphicAbstract::PinAt(to->Graphic->InPins, P)));
    FinishLinkDrawing();
    break;
  }
  case msInsertItem:
    if (FLibraryItem)
      InsertFunctionElement(P.x(), P.y());
    else if (FModuleItem)
      InsertModuleItem(P.x(), P.y());
    else
      throw EKvError("unknown object to insert");
    break;
  default: break;
  }
}

void TSchemaEditorState::FinishLinkDrawing() {
  FLinkFrom = nullptr;
  FLinkFromPin = -1;
  FMouseState = msIdle;
}

void TSchemaEditorState::MouseMove(QPoint P) {
  FRubberRect = QRect(FRubberOrigin, P).normalized();
  FLineEnd = P;
  switch (FMouseState) {
  case msPan:
    SetScrollPos(ScrollPos + FDownPoint - P);
    break;
  case msPressed:
    if (P == FLastPoint)
      return;
    FMouseState = msDragging;
    [[fallthrough]];
  case msDragging:
    FLastPoint = P;
    break;
  case msRubberBand:
  case msLinkTo:
    break;
  default: return;
  }
  Changed();
}

void TSchemaEditorState::MouseUp(QPoint P) {
  FFrameRect = QRect();
  switch (FMouseState) {
  case msDragging:
    // The model moves only here, by the whole way from the press.
    FMouseState = msIdle;
    ExecuteCommand(FSelectedLink ? cmMoveSegment : cmMove, P.x(), P.y());
    break;
  case msRubberBand:
    if (FModule)
      FSelection.SelectInRect(FModule->AbstractList, FRubberRect);
    break;
  default: break;
  }
  if (FMouseState != msLinkTo)
    FMouseState = msIdle;
  FRubberRect = QRect();
  Changed();
}

void TSchemaEditorState::DblClick(QPoint P) {
  if (!FModule)
    return;
  // The press the system delivers with the second click is swallowed, also
  // when the dialog fails.
  FSkipMouseDown = 1;
  FMouseState = msIdle;
  TAbstract *block = FModule->AbstractList.HitTest(P, 0);
  if (!block) {
    if (FSelectedLink)
      FSelectedLink->UpdateRoute();
  } else if (auto *m = dynamic_cast<TModule *>(block)) {
    EditObject(ekModule, m);
  } else {
    EditObject(ekBlock, block);
  }
  ZoomBy(0);
}

// ---- placing ----

void TSchemaEditorState::InsertBlock(int CommandType, uint8_t BlockType, int X, int Y) {
  if (CommandType == 2)
    return;
  if (CommandType != 0)
    throw EKvError("incompatible CommandType");
  TModule &m = RequireModule();
  FUndo.BeginStep();
  TComment *comment = nullptr;
  if (BlockType == atComment) {
    auto c = std::make_unique<TComment>(&m, atComment, 0);
    c->SetRect({0, 0, 10, 10});
    comment = c.get();
    m.AbstractList.Add(c.get());
    FUndo.PushInsert(c.release(), TBundle::bkInsert);
  } else {
    auto e = std::make_unique<TElement>(&m, BlockType, 0, 0, nullptr, m.Descriptor.get(), nullptr);
    if (BlockType == atLabel)
      e->Caption = QStringLiteral("Новая метка");
    m.AbstractList.Add(e.get());
    FUndo.PushInsert(e.release(), TBundle::bkInsert);
  }
  TAbstract *placed = m.AbstractList.Items().last();
  placed->MoveTo(X, Y);
  placed->UpdateGraphic();
  if (comment && FHost && FHost->EditComment(*comment))
    comment->SetRect(CommentRectForText(*comment, m.Scale));
  ZoomBy(0);
  MarkModified();
  FUndo.EndStep();
}

void TSchemaEditorState::InsertFunctionElement(int X, int Y) {
  TModule &m = RequireModule();
  if (!m.Descriptor)
    throw EKvError("Не задан дескриптор");
  FUndo.BeginStep();
  auto e = std::make_unique<TElement>(&m, atDescriptor, 0, 0, m.Configurator, m.Descriptor.get(), FLibraryItem);
  TElement *placed = e.get();
  m.AbstractList.Add(placed);
  FUndo.PushInsert(e.release(), TBundle::bkInsert);
  placed->MoveTo(X, Y);
  FLibraryItem = nullptr;
  ZoomBy(0);
  MarkModified();
  FUndo.EndStep();
}

void TSchemaEditorState::InsertModuleItem(int X, int Y) {
  TModule &m = RequireModule();
  // The copy goes through the schema file form, as the clipboard does.
  auto child = std::make_unique<TModule>(&m, 0);
  child->Assign(*FModuleItem);
  child->Root = m.Root;
  child->Descriptor = m.Descriptor;
  child->PropagateDescriptor();
  child->Caption = FModuleItem->Caption;
  FUndo.BeginStep();
  TModule *placed = child.get();
  m.AbstractList.Add(child.release());
  placed->MoveTo(X, Y);
  FModuleItem = nullptr;
  MarkModified();
  FUndo.EndStep();
  ZoomBy(0);
}

TModule *TSchemaEditorState::InsertNewModule() {
  TModule &m = RequireModule();
  auto child = std::make_unique<TModule>(&m, 0);
  FUndo.BeginStep();
  TModule *placed = child.get();
  m.AbstractList.Add(child.release());
  MarkModified();
  FUndo.EndStep();
  ZoomBy(0);
  return placed;
}

TModule *TSchemaEditorState::InsertExternalModule(const QString &FileName) {
  TModule &m = RequireModule();
  auto child = std::make_unique<TModule>(&m, 0);
  child->LoadFromFile(FileName);
  child->Descriptor = m.Descriptor;
  child->PropagateDescriptor();
  child->Caption = QFileInfo(FileName).fileName().section('.', 0, 0);
  FUndo.BeginStep();
  TModule *placed = child.get();
  m.AbstractList.Add(child.release());
  MarkModified();
  FUndo.EndStep();
  ZoomBy(0);
  return placed;
}

void TSchemaEditorState::CreateLink(TAbstract *From, int FromPin, TAbstract *To, int ToPin) {
  TModule &m = RequireModule();
  // A refused link changes nothing, so it leaves the history alone.
  if (!To->IsInputFree(ToPin))
    return;
  FUndo.BeginStep();
  auto l = std::make_unique<TLink>(&m, From, FromPin, To, ToPin);
  l->UpdateRoute();
  FUndo.PushLink(l.get(), TBundle::bkInsert);
  m.LinkList.Add(l.release());
  MarkModified();
  FUndo.EndStep();
}

TUnitRect TSchemaEditorState::CommentRectForText(const TComment &Comment, int Scale) {
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(std::max(1, Scale));
  const QFontMetrics fm(font);
  int width = 1, heights = 0;
  for (const QString &line : Comment.Caption.split('\n')) {
    width = std::max(width, fm.horizontalAdvance(line) / Scale + 1);
    heights += fm.height();
  }
  const int height = Nearest(heights + 1.5) / Scale + 1;
  const TUnitRect &r = Comment.Rect;
  return {r.Left, r.Top, r.Left + width, r.Top + height};
}

// ---- commands ----

void TSchemaEditorState::ExecuteCommand(int Command, int X, int Y) {
  TModule &m = RequireModule();
  FUndo.BeginStep();
  FLinksOfBlocks.clear();
  FBlocksToDelete.clear();
  switch (Command) {
  case cmMove: {
    for (TLink *l : m.LinkList.Items())
      if (l->From->Selected || l->To->Selected)
        FLinksOfBlocks << l;
    FUndo.PushMove(FSelection.Items(), FLinksOfBlocks);
    const int dx = X - FUpX, dy = Y - FUpY;
    for (TAbstract *a : FSelection.Items())
      a->MoveBy(dx, dy);
    for (TLink *l : FLinksOfBlocks) {
      if (l->From->Selected && l->To->Selected)
        l->MoveAll(dx, dy);
      else if (l->To->Selected)
        l->MoveEnd(dx, dy);
      else
        l->MoveStart(dx, dy);
    }
    break;
  }
  case cmMoveSegment:
    if (!FSelectedLink)
      break;
    FUndo.PushLink(FSelectedLink, TBundle::bkMove);
    FSelectedLink->MoveSegment(FSelectedSegment, X - FUpX, Y - FUpY);
    break;
  case cmDelete: {
    for (int i = m.LinkList.Count() - 1; i >= 0; --i)
      if (m.LinkList[i]->From->Selected || m.LinkList[i]->To->Selected)
        FLinksOfBlocks << m.LinkList[i];
    for (TAbstract *a : FSelection.Items())
      if (!IsInterface(a))
        FBlocksToDelete << a;
    FUndo.PushDelete({FBlocksToDelete.begin(), FBlocksToDelete.end()}, {FLinksOfBlocks.begin(), FLinksOfBlocks.end()});
    // Taken out, not freed: the undo bundle holds them now.
    for (TLink *l : FLinksOfBlocks) {
      if (l == FSelectedLink)
        SelectLink(nullptr, -1);
      m.LinkList.Remove(l);
    }
    const QList<TAbstract *> selected = FSelection.Items();
    for (auto it = selected.rbegin(); it != selected.rend(); ++it)
      if (!IsInterface(*it)) {
        FSelection.Remove(*it);
        m.AbstractList.Remove(*it);
      }
    // A link being drawn from a deleted block has nowhere to start.
    if (FLinkFrom && !m.AbstractList.Items().contains(FLinkFrom))
      FinishLinkDrawing();
    break;
  }
  case cmDeleteLink: {
    TLink *l = FSelectedLink;
    if (!l)
      break;
    FUndo.PushDelete({}, {l});
    SelectLink(nullptr, -1);
    m.LinkList.Remove(l);
    break;
  }
  default: throw EKvError("incompatible CommandType");
  }
  ZoomBy(0);
  MarkModified();
  FUndo.EndStep();
}

void TSchemaEditorState::EditObject(int Kind, TSchemaObject *Obj) {
  TModule &m = RequireModule();
  FUndo.BeginStep();
  // A dialog may take links away (fewer pins): none stays selected.
  SelectLink(nullptr, -1);
  bool edited = true;
  if (Kind == ekProperties)
    throw EKvError("Unsupported");
  if (Kind == ekModule) {
    if (auto *sub = dynamic_cast<TModule *>(Obj); sub && FHost)
      FHost->OpenModule(*sub);
  } else if (auto *e = dynamic_cast<TElement *>(Obj)) {
    switch (e->Type) {
    case atLabel:
    case atInint:
    case atOutint: edited = FHost && FHost->EditLabel(*e); break;
    case atLabelRef: edited = FHost && FHost->EditLabelRef(*e); break;
    case atDescriptor:
      if (!m.Descriptor)
        throw EKvError("Не задан дескриптор");
      edited = FHost && FHost->EditFunction(*e);
      break;
    default: throw EKvError("inxalid AbstractType");
    }
  } else if (auto *c = dynamic_cast<TComment *>(Obj)) {
    edited = FHost && FHost->EditComment(*c);
    if (edited)
      c->SetRect(CommentRectForText(*c, m.Scale));
  } else {
    throw EKvError("inxalid AbstractType");
  }
  // A cancelled dialog changed nothing: the history stays. A property change
  // is not recorded, so it ends the history (pins and links may be gone).
  if (!edited)
    return;
  MarkModified();
  FUndo.EndStep();
}

void TSchemaEditorState::ApplyUndoBundle(TBundle &Bundle) {
  TModule &m = RequireModule();
  FSelection.Clear();
  SelectLink(nullptr, -1);
  // A block being linked from may be the one going away.
  FinishLinkDrawing();
  switch (Bundle.Kind) {
  case TBundle::bkDelete:
    for (TAbstract *a : Bundle.Abstracts) {
      a->Owner = &m;
      a->Selected = false;
      m.AbstractList.Add(a);
    }
    // Back into the source pins' lists too, so junctions and later removals
    // see them.
    for (TLink *l : Bundle.Links) {
      l->Owner = &m;
      l->Graphic->Selected = false;
      m.LinkList.Add(l);
    }
    for (const auto &[ref, label] : Bundle.LabelBindings) {
      auto *r = static_cast<TElement *>(ref);
      r->LabelRef = static_cast<TElement *>(label);
      r->RefId = label->Id;
    }
    break;
  case TBundle::bkMove:
    for (const TAbstractCoord &c : Bundle.AbstractCoords)
      c.Abstract->SetRect(c.Rect);
    for (const TLinkCoord &c : Bundle.LinkCoords)
      c.Link->SetPoints(c.Points, c.PointCount);
    break;
  case TBundle::bkInsert:
    if (Bundle.AbstractCoords.size() == 1)
      m.AbstractList.Remove(Bundle.AbstractCoords[0].Abstract);
    else if (Bundle.LinkCoords.size() == 1)
      m.LinkList.Remove(Bundle.LinkCoords[0].Link);
    break;
  default: throw EKvAssert("TBundle expected");
  }
}

void TSchemaEditorState::Undo() {
  FUndo.Undo([](void *Editor, TBundle &B) { static_cast<TSchemaEditorState *>(Editor)->ApplyUndoBundle(B); }, this);
  ZoomBy(0);
}

void TSchemaEditorState::CopySelection() {
  if (FModule && FClipboard)
    FModule->CopyToClipboard(*FClipboard);
}

void TSchemaEditorState::PasteClipboard() {
  TModule &m = RequireModule();
  if (!FClipboard)
    return;
  FUndo.BeginStep();
  const int before = m.AbstractList.Count();
  m.PasteFromClipboard(*FClipboard);
  FSelection.Clear();
  for (int i = before; i < m.AbstractList.Count(); ++i)
    FSelection.Add(m.AbstractList[i]);
  MarkModified();
  FUndo.EndStep();
  ZoomBy(0);
}

void TSchemaEditorState::SelectAll() {
  if (FModule)
    FSelection.SelectAll(FModule->AbstractList);
  ZoomBy(0);
}

bool TSchemaEditorState::KeyDown(int Key, bool Ctrl, bool Shift) {
  const int step = Shift ? 1 : 10;
  if (Key == Qt::Key_Delete) {
    if (FSelection.Count() > 0)
      ExecuteCommand(cmDelete);
    else if (FSelectedLink)
      ExecuteCommand(cmDeleteLink);
    return true;
  }
  if (Key == Qt::Key_Insert && Shift && !Ctrl) {
    PasteClipboard();
    return true;
  }
  if (!Ctrl)
    return false;
  switch (Key) {
  case Qt::Key_Plus:
  case Qt::Key_Equal: ZoomBy(step); break;
  case Qt::Key_Minus: ZoomBy(-step); break;
  case Qt::Key_F:
    if (OnFind)
      OnFind();
    break;
  case Qt::Key_A: SelectAll(); break;
  case Qt::Key_Z: Undo(); break;
  case Qt::Key_Insert: CopySelection(); break;
  case Qt::Key_K: PaletteClick(pbLink); break;
  case Qt::Key_Left:
  case Qt::Key_Right:
  case Qt::Key_Up:
  case Qt::Key_Down: ScrollByKey(Key); break;
  default: return false;
  }
  return true;
}

void TSchemaEditorState::ScaleToFit(bool SelectedOnly) {
  if (!FModule || FModule->AbstractList.Count() == 0 || (SelectedOnly && FSelection.Count() == 0))
    return;
  if (FViewWidth <= 0 || FViewHeight <= 0)
    return;
  const QList<TAbstract *> &blocks = SelectedOnly ? FSelection.Items() : FModule->AbstractList.Items();
  TUnitRect box = blocks.first()->Rect;
  for (const TAbstract *a : blocks) {
    box.Left = std::min(box.Left, a->Rect.Left);
    box.Top = std::min(box.Top, a->Rect.Top);
    box.Right = std::max(box.Right, a->Rect.Right);
    box.Bottom = std::max(box.Bottom, a->Rect.Bottom);
  }
  box = {box.Left - 2, box.Top - 2, box.Right + 2, box.Bottom + 2};
  const double factor = std::min(double(FViewWidth) / (box.Right - box.Left), double(FViewHeight) / (box.Bottom - box.Top));
  FZoom = Nearest(20 * std::log(factor / FPixelsPerInch));
  ZoomBy(0);
  SetScrollPos(QPoint(box.Left * Scale(), box.Top * Scale()));
  Changed();
}

void TSchemaEditorState::Find(const QString &Text) {
  TModule &m = RequireModule();
  bool isNumber = false;
  const int id = Text.trimmed().toInt(&isNumber);
  TAbstract *first = nullptr;
  if (isNumber) {
    first = m.AbstractList.FindById(id);
    if (first)
      FSelection.Add(first);
  } else {
    int start = 0;
    while (TAbstract *a = m.AbstractList.FindByCaption(Text, start))
      FSelection.Add(a);
    first = FSelection.Count() > 0 ? FSelection.Items().first() : nullptr;
  }
  if (first)
    SetScrollPos(QPoint(first->Rect.Left * Scale(), first->Rect.Top * Scale()));
  ZoomBy(0);
}

void TSchemaEditorState::SelectUnbound() {
  TModule &m = RequireModule();
  for (TAbstract *a : m.AbstractList.Items()) {
    int free = a->InputPins.Count();
    for (const TLink *l : m.LinkList.Items())
      if (l->To == a)
        --free;
    const auto *sub = dynamic_cast<const TModule *>(a);
    if (free > 0 || (sub && sub->HasFreeInputs()))
      FSelection.Add(a);
  }
  Changed();
}

// ---- painting ----

bool TSchemaEditorState::Feedback() const {
  return FMouseState == msDragging || FMouseState == msRubberBand || FMouseState == msLinkTo;
}

void TSchemaEditorState::Paint(QPainter &Canvas, int Width, int Height, const QRect &Visible) const {
  if (!Feedback() || Visible.isEmpty()) {
    FFrameRect = QRect();
    PaintSchema(Canvas, Width, Height, Visible);
    PaintFeedback(Canvas);
    return;
  }
  if (FFrameRect != Visible) {
    FFrame = QImage(Visible.size(), QImage::Format_RGB32);
    QPainter p(&FFrame);
    p.translate(-Visible.topLeft());
    PaintSchema(p, Width, Height, Visible);
    FFrameRect = Visible;
  }
  Canvas.drawImage(Visible.topLeft(), FFrame);
  PaintFeedback(Canvas);
}

void TSchemaEditorState::PaintSchema(QPainter &Canvas, int Width, int Height, const QRect &Visible) const {
  Canvas.fillRect(QRect(0, 0, Width, Height), Qt::white);
  Canvas.setPen(Qt::black);
  Canvas.drawText(QRect(0, 0, 200, 20), Qt::AlignLeft | Qt::AlignTop, QString::number(FUndo.UndoCount()));
  if (!FModule)
    return;
  if (ShowGrid) {
    const int w = Nearest(Width * 1.5), h = Nearest(Height * 1.5), step = 2 * FModule->Scale;
    Canvas.setPen(QPen(QColor(0xC0, 0xC0, 0xC0), 1, Qt::DashDotLine));
    for (int y = 0; y < h; y += step)
      Canvas.drawLine(0, y, w, y);
    for (int x = 0; x < w; x += step)
      Canvas.drawLine(x, 0, x, h);
  }
  const int flags = (ShowIds ? TGraphicAbstract::pfShowId : 0) | (ShowGroupIndex ? TGraphicAbstract::pfShowGid : 0);
  FModule->Graphic->PaintModule(Canvas, flags, Visible);
}

// Feedback of the mouse work, drawn over the schema and gone on the next paint.
void TSchemaEditorState::PaintFeedback(QPainter &Canvas) const {
  if (!FModule)
    return;
  switch (FMouseState) {
  case msRubberBand: TGraphicAbstract::DrawDragRect(Canvas, FRubberRect); break;
  case msLinkTo: TGraphicAbstract::DrawDragLine(Canvas, FLineStart, FLineEnd); break;
  case msDragging: {
    const QPoint d = FLastPoint - FDownPoint;
    if (FSelectedLink) {
      TGraphicLink moved = *FSelectedLink->Graphic;
      moved.MoveSegment(FSelectedSegment, FLastPoint.x(), FLastPoint.y());
      for (int i = 1; i < moved.PointCount; ++i)
        TGraphicAbstract::DrawDragLine(Canvas, moved.Points[size_t(i - 1)], moved.Points[size_t(i)]);
      break;
    }
    for (const TAbstract *a : FSelection.Items()) {
      const TPixelRect &b = a->Graphic->Bounds;
      TGraphicAbstract::DrawDragRect(Canvas, QRect(QPoint(b.Left, b.Top) + d, QPoint(b.Right, b.Bottom) + d));
    }
    break;
  }
  default: break;
  }
}

int TSchemaEditorState::PrintScale(int PageWidth) const {
  return std::max(1, Nearest(double(PageWidth) * Scale() / std::max(1, FViewWidth)));
}

void TSchemaEditorState::PaintPage(QPainter &Canvas, int PageWidth) {
  TModule &m = RequireModule();
  const int previous = m.Scale;
  m.SetScale(PrintScale(PageWidth));
  try {
    m.Graphic->PaintModule(Canvas, 0);
  } catch (...) {
    m.SetScale(previous);
    throw;
  }
  m.SetScale(previous);
}
