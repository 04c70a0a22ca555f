#pragma once
// What the schema editor does with the mouse, the keys and its commands, kept
// apart from its window: the mouse states, selection, zoom and scroll
// position, placing blocks and links, the move and delete commands and their
// undo. The window forwards its events here (pixel coordinates of the canvas,
// which is the whole schema at the present scale) and paints what this holds.
//
// The module is not owned unless LoadFromFile made it. The undo history is
// cleared before any module it refers to goes away.
#include "uSchemaModule.h"
#include "uUndoRedoTool.h"

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QString>
#include <functional>
#include <memory>

class QPainter;
class TConfigurator;
class TFunctionDescriptor;

// What only the window can do: the block dialogs and other editor windows.
// Each dialog fills itself from the block, runs modally and, on OK, writes
// back; it returns true on OK.
class TSchemaEditorHost {
public:
  virtual ~TSchemaEditorHost() = default;
  virtual bool EditComment(TComment &Comment) = 0;
  // Labels and interface points.
  virtual bool EditLabel(TElement &Element) = 0;
  virtual bool EditLabelRef(TElement &Element) = 0;
  virtual bool EditFunction(TElement &Element) = 0;
  // Brings an editor already showing Module forward, or opens one.
  virtual void OpenModule(TModule &Module) = 0;
};

class TSchemaEditorState {
public:
  enum TMouseState : uint8_t {
    msIdle = 0, msInsertBlock = 1, msPan = 2, msPressed = 3, msDragging = 4, msRubberBand = 5,
    msLinkFrom = 6, msLinkTo = 7, msInsertItem = 8
  };
  // Palette tools; 1, 2, 3, 8 and 9 are block types.
  enum TTool : uint8_t {
    tlComment = 1, tlLabel = 2, tlLabelRef = 3, tlItem = 4, tlInint = 8, tlOutint = 9, tlLink = 10, tlPointer = 11
  };
  enum TCommand : int { cmDelete = 5, cmMove = 6, cmDeleteLink = 9, cmMoveSegment = 10 };
  enum TEditKind : int { ekBlock = 1, ekModule = 3, ekProperties = 4 };
  enum TButton : uint8_t { mbLeft, mbRight, mbMiddle };
  // Palette buttons in the order of the panel.
  enum TPaletteButton : uint8_t {
    pbZoomPlus, pbZoomMinus, pbPointer, pbLink, pbComment, pbLabel, pbLabelRef, pbInint, pbOutint
  };
  static constexpr int MinZoom = -100, MaxZoom = 100, DefaultZoom = -30;

  explicit TSchemaEditorState(int PixelsPerInch = 96);
  ~TSchemaEditorState();
  TSchemaEditorState(const TSchemaEditorState &) = delete;
  TSchemaEditorState &operator=(const TSchemaEditorState &) = delete;

  void SetHost(TSchemaEditorHost *Host) { FHost = Host; }
  // Not owned; the history is dropped.
  void SetModule(TModule *Module);
  TModule *Module() const { return FModule; }
  // A new root module with the configurator, loaded from the schema file;
  // the history is dropped. Throws what the schema file reader throws (the
  // previous module is then gone and an empty one is shown).
  void LoadFromFile(const QString &FileName, TConfigurator *Configurator);
  void SetClipboard(TSchemaClipboard *Clipboard) { FClipboard = Clipboard; }
  // Size of the visible part of the canvas in pixels.
  void SetViewSize(int Width, int Height) { FViewWidth = Width, FViewHeight = Height; }
  // Called whenever the view should be redrawn and the scroll bars follow.
  std::function<void()> OnChanged;
  // Ctrl+F asks the window for the find dialog.
  std::function<void()> OnFind;

  // ---- mouse (pixel coordinates of the canvas) ----
  void MouseDown(TButton Button, bool Ctrl, QPoint P);
  void MouseMove(QPoint P);
  void MouseUp(QPoint P);
  // The window calls it in place of the second press of a double-click.
  void DblClick(QPoint P);
  void PaletteClick(TPaletteButton Button, bool Shift = false);
  // A press on the palette panel, or the window activated.
  void ResetMouse();
  // Arms placing a library function or a module of the tree; both null disarm.
  void ArmPlacement(TFunctionDescriptor *Function, TModule *ModuleItem);

  // ---- commands ----
  // Delta 0 applies the scale again; every command ends with it.
  void ZoomBy(int Delta);
  void ScrollByKey(int Key);
  // Ctrl: zoom by 10; Shift: scroll sideways.
  void Wheel(bool Down, bool Ctrl, bool Shift);
  // True when the key was one of the editor's.
  bool KeyDown(int Key, bool Ctrl, bool Shift);
  void ExecuteCommand(int Command, int X = 0, int Y = 0);
  void EditObject(int Kind, TSchemaObject *Obj);
  void ApplyUndoBundle(TBundle &Bundle);
  void Undo();
  void InsertBlock(int CommandType, uint8_t BlockType, int X, int Y);
  void InsertFunctionElement(int X, int Y);
  void InsertModuleItem(int X, int Y);
  void CreateLink(TAbstract *From, int FromPin, TAbstract *To, int ToPin);
  // Empty child modules, or one read from a schema file (caption: the file
  // name up to its first point). Neither is recorded: the history goes.
  TModule *InsertNewModule();
  TModule *InsertExternalModule(const QString &FileName);
  void CopySelection();
  void PasteClipboard();
  void SelectAll();
  // Nothing for an empty module, an empty selection (SelectedOnly) or a view
  // of no size.
  void ScaleToFit(bool SelectedOnly);
  void Find(const QString &Text);
  // Blocks with an input without a link, and the child modules holding one.
  void SelectUnbound();
  void SelectLink(TLink *Link, int Segment);
  void ClearUndo();
  // Arial at one unit high; at least one unit each way.
  static TUnitRect CommentRectForText(const TComment &Comment, int Scale);

  // ---- painting ----
  // Undo count, grid, module, then the overlay of the mouse state. Width and
  // Height are the canvas size, Visible the part to paint. While the mouse
  // drags, bands or draws a link the schema does not change: it is painted
  // once into a frame and each move only draws the overlay over the frame.
  void Paint(QPainter &Canvas, int Width, int Height, const QRect &Visible) const;
  // The module alone (flags 0) at the scale that spreads what the view shows
  // across PageWidth pixels; the present scale is kept.
  void PaintPage(QPainter &Canvas, int PageWidth);
  int PrintScale(int PageWidth) const;
  bool ShowGrid = false, ShowIds = false, ShowGroupIndex = false;

  // ---- view state ----
  uint8_t MouseState() const { return FMouseState; }
  uint8_t Tool() const { return FTool; }
  bool DragCursor() const { return FDragCursor; }
  int Zoom() const { return FZoom; }
  void SetZoom(int Zoom) { FZoom = Zoom; }
  int Scale() const;
  QPoint ScrollPos;
  void SetScrollPos(QPoint P);
  QSize ScrollRange() const { return FScrollRange; }
  int GridStep() const { return FGridStep; }
  const TAbstractRefList &Selection() const { return FSelection; }
  TAbstractRefList &Selection() { return FSelection; }
  TLink *SelectedLink() const { return FSelectedLink; }
  TUndoRedoTool &UndoTool() { return FUndo; }
  TAbstract *LinkFrom() const { return FLinkFrom; }
  QRect RubberRect() const { return FRubberRect; }

private:
  TSchemaEditorHost *FHost = nullptr;
  TSchemaClipboard *FClipboard = nullptr;
  std::unique_ptr<TModule> FOwnedModule;
  TModule *FModule = nullptr;
  int FPixelsPerInch;
  uint8_t FMouseState = msIdle;
  int FSkipMouseDown = 0;
  QPoint FRubberOrigin;
  QRect FRubberRect;
  QPoint FLineStart, FLineEnd;
  int FGridStep;
  QPoint FDownPoint, FLastPoint;
  TAbstractRefList FSelection;
  TFunctionDescriptor *FLibraryItem = nullptr;
  TModule *FModuleItem = nullptr;
  uint8_t FTool = tlPointer;
  bool FDragCursor = false;
  TAbstract *FLinkFrom = nullptr;
  int FLinkFromPin = -1;
  int FUpX = 0, FUpY = 0;
  TUndoRedoTool FUndo;
  QList<TLink *> FLinksOfBlocks;
  QList<TAbstract *> FBlocksToDelete;
  TLink *FSelectedLink = nullptr;
  int FSelectedSegment = -1;
  int FZoom = DefaultZoom;
  int FViewWidth = 0, FViewHeight = 0;
  QSize FScrollRange;
  mutable QImage FFrame;
  mutable QRect FFrameRect;

  void PaintSchema(QPainter &Canvas, int Width, int Height, const QRect &Visible) const;
  void PaintFeedback(QPainter &Canvas) const;
  bool Feedback() const;

  void Changed();
  void MarkModified();
  void UpdateScrollRange();
  TModule &RequireModule() const;
  void SetTool(uint8_t Tool);
  void FinishLinkDrawing();
};
