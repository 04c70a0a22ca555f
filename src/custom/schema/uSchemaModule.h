#pragma once
// The logic schema: blocks (function blocks, labels, interface points,
// comments, nested sub-modules) on a grid of schema units, joined by links
// from output pins to input pins; its file form, clipboard, and the tree walks
// the compiler runs.
//
// Ownership follows the `Owner` rule: a module frees a block or link removed
// from its lists only when it is the object's Owner; the undo tool clears
// Owner of what it keeps, and then frees it itself. Blocks, links and modules
// are used on one thread.
#include "ixml.h"
#include "uSchemaDescriptor.h"

#include <QList>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class TConfigurator;
class TFunctionDescriptor;
class TModuleItem;
class TGraphicAbstract;
class TGraphicLink;
class TAbstract;
class TElement;
class TModule;
class TLink;
class TPin;
class TPinList;

// Common base of blocks, links and pins (the undo tool tells them apart).
class TSchemaObject {
public:
  virtual ~TSchemaObject() = default;
};

// Block type codes (keywords in uSchemaCode).
enum TAbstractType : uint8_t {
  atModule = 0, atComment = 1, atLabel = 2, atLabelRef = 3, atDescriptor = 4,
  atInint = 8, atOutint = 9, atUnknown = 11
};

struct TUnitRect {
  int Left = 0, Top = 0, Right = 0, Bottom = 0;
  bool operator==(const TUnitRect &) const = default;
};

// Links leaving one output pin (not owning). Adding or removing recomputes the
// junction dots of all of them.
class TOutputPinLinks {
public:
  void Add(TLink *Link);
  // Removes the first link with the same ends; nothing when none matches.
  void Remove(TLink *Link);
  int Count() const { return int(FItems.size()); }
  TLink *Get(int I) const { return FItems.at(I); }
  const QList<TLink *> &Items() const { return FItems; }
  // Flags the points where routes of these links part (three directions meet).
  void UpdateNodes();

private:
  QList<TLink *> FItems;
};

class TPin : public TSchemaObject {
public:
  TPin(TPinList *List, int Index, int Direction, bool Inverted);

  TPinList *List;
  TAbstract *Owner;
  int Index;
  int SrcIndex = -1;
  int SrcPin = 0;
  bool Inverted;
  QString Caption;
  int Direction; // -1 input, 1 output
  int Y;         // row centre below the block's top, in units
  uint16_t Address = 0;
  TOutputPinLinks Links;

  bool IsInput() const { return Direction < 0; }
  // Event binding of an output pin; an input pin throws "invalid event pin".
  TDDEvent *GetEvent() const;
  // Also sets EventCode (0 for nullptr) through the owner's descriptor.
  void SetEvent(TDDEvent *Event);
  uint8_t GetEventEdge() const;
  void SetEventEdge(uint8_t Edge);
  int GetEventCode() const;
  void SetEventCode(int Code);

private:
  friend class TAbstract;
  friend class TElement;
  TDDEvent *FEvent = nullptr;
  uint8_t FEventEdge = 0;
  int FEventCode = 0;
  void CheckOutput() const;
};

class TPinList {
public:
  TPinList(TAbstract *Owner, int Direction) : FOwner(Owner), FDirection(Direction) {}
  ~TPinList();
  TPinList(const TPinList &) = delete;
  TPinList &operator=(const TPinList &) = delete;

  int Count() const { return int(FItems.size()); }
  TPin *operator[](int I) const { return FItems.at(size_t(I)).get(); }
  TAbstract *Owner() const { return FOwner; }
  // Trims from the end or appends plain pins.
  void SetCount(int N);
  // Pin 0 is the highest of Count bits; with more than 32 pins the first
  // pins are shifted out (the file keeps 32 bits).
  uint32_t GetInversionMask() const;
  // From the last pin back: lowest bit, then shift.
  void SetInversionMask(uint32_t Mask);

private:
  TAbstract *FOwner;
  int FDirection;
  std::vector<std::unique_ptr<TPin>> FItems;
};

class TAbstract : public TSchemaObject {
public:
  // Id 0 takes the module's NewId (1 without a module).
  TAbstract(TModule *Module, uint8_t Type, int Id, int Reserved = 0);
  // Takes the block's links out of its module's list and their source pins'
  // lists; frees those its module owns.
  ~TAbstract() override;
  TAbstract(const TAbstract &) = delete;
  TAbstract &operator=(const TAbstract &) = delete;

  // Attributes in the schema-file form.
  virtual void WriteXml(const IXXMLNode &Node) const;
  virtual void ReadXml(const IXXMLNode &Node);

  TModule *Owner;
  uint8_t Type;
  TModule *Module;
  int Id;
  int Reserved;
  QString Caption;
  bool Selected = false;
  bool IsNew = true;
  bool Custom = false;
  int OrgId = 0;
  int OrgPin = 0;
  uint8_t Shape = 0;
  uint32_t PenColor = 0;
  TPinList InputPins;
  TPinList OutputPins;
  TUnitRect Rect;
  std::unique_ptr<TGraphicAbstract> Graphic;

  // Pins and a fresh rectangle (0, 0, 2, 2 * max(In, Out), at least 2).
  void SetPinCount(int In, int Out);
  // Pins only; the bottom follows them when there are any.
  void SetPinCounts(int In, int Out);
  void SetRect(const TUnitRect &R);
  // Pixels, divided by the scale and rounded half to even.
  void MoveBy(int Dx, int Dy);
  void MoveTo(int X, int Y);
  bool IsInputFree(int Pin) const;
  // Deletes the links at input (output) pins K and above.
  void DropInputLinksFrom(int K);
  void DropOutputLinksFrom(int K);
  int PixelScale() const;
  // Relays out the drawing at the module's scale.
  void UpdateGraphic();
  virtual bool IsElement() const { return false; }
};

// Setpoint/parameter reference slot of a function block.
struct TElementRef {
  int UstavId = -1;
  int ParamId = -1;
  TDDParam *Param = nullptr;
  TDDUstav *Ustav = nullptr;
};

class TElement : public TAbstract {
public:
  // Types 2, 3, 4, 8, 9; another type throws "unexpected <keyword>". A type
  // that gets or needs a gid and ends without one throws "can't get gid".
  TElement(TModule *Module, uint8_t Type, int Id, int Gid, TConfigurator *Configurator,
           TSchemaDescriptor *Descriptor, TFunctionDescriptor *Func);
  void WriteXml(const IXXMLNode &Node) const override;
  void ReadXml(const IXXMLNode &Node) override;
  bool IsElement() const override { return true; }

  int Index = 0;
  int Gid = 0;
  int SrcIndex = -1;
  int SrcPin = 0;
  TElement *LabelRef = nullptr;
  int RefId = -1;
  std::array<TElementRef, 16> Refs;
  QStringList Params;
  int Switch = 0;
  TFunctionDescriptor *Func = nullptr;
  TSchemaDescriptor *Descriptor = nullptr;
  uint16_t FirstVarAddr = 0;
  uint16_t InputArrayAddr = 0;

  // Throws "invalid group index" past the channel count of a hardware block,
  // "non-unique group index" for a gid taken by another element of the type.
  void SetGid(int Value);
  // L must be a label (or nullptr): "invalid label".
  void SetLabel(TElement *L);
  TElementRef MakeRef(TDDParam *Param, TDDUstav *Ustav) const;
  TElementRef GetRef(int I) const { return Refs.at(size_t(I)); }
  void SetRef(int I, const TElementRef &Slot);
  // Slots in use: the function's setpoint rows, at most 16.
  int RefCount() const;
  void RelinkRefs();
  void RelinkEventPins();
  bool HasEventPins() const;
  // Hardware kind 1..5 of a function block, else 0.
  int HardwareKind() const;
};

class TComment : public TAbstract {
public:
  TComment(TModule *Module, uint8_t Type, int Id);
  void WriteXml(const IXXMLNode &Node) const override;
  void ReadXml(const IXXMLNode &Node) override;

  QString FontName = QStringLiteral("MS Sans Serif");
  int FontHeight = -11;
  uint32_t FontColor = uint32_t(-16777208);
  uint8_t HorzAlign = 0;
  uint8_t FontStyle = 0;
};

class TLink : public TSchemaObject {
public:
  // Line: the route text; an empty one gives no points.
  TLink(TModule *Module, TAbstract *From, int FromPin, TAbstract *To, int ToPin, const QString &Line = QString());
  ~TLink() override;

  TModule *Owner;
  TModule *Module;
  TAbstract *From;
  int FromPin;
  TAbstract *To;
  int ToPin;
  bool HasRoute = true;
  std::array<QPoint, 10> Points{};
  int PointCount = 0;
  std::unique_ptr<TGraphicLink> Graphic;

  // "x0,y0,x1,y2,x3..."; more than 11 numbers or a non-integer throws
  // "invalid link route: <text>"; fewer than two numbers is no route.
  void SetLine(const QString &Text);
  QString GetLine() const;
  // Automatic route between the pin anchors (no points without a route).
  void UpdateRoute();
  // Pixel deltas; only inner segments (2 <= I <= PointCount - 2) move.
  void MoveSegment(int I, int Dx, int Dy);
  void MoveStart(int Dx, int Dy);
  void MoveEnd(int Dx, int Dy);
  void MoveAll(int Dx, int Dy);
  void SetPoints(const std::array<QPoint, 10> &APoints, int Count);
  QPoint SourceAnchor() const;
  QPoint TargetAnchor() const;
  TPin *SourcePin() const;
  void UpdateGraphic();

private:
  int ToUnits(int Pixels) const;
};

class TAbstractList {
public:
  explicit TAbstractList(TModule *Module) : FModule(Module) {}
  ~TAbstractList();
  int Count() const { return int(FItems.size()); }
  TAbstract *operator[](int I) const { return FItems.at(I); }
  const QList<TAbstract *> &Items() const { return FItems; }
  QList<TAbstract *> &Items() { return FItems; }
  // "nonunique id detected" when the id is listed.
  void Add(TAbstract *A);
  // "abstract not found" when absent; frees A when its module owns it.
  void Remove(TAbstract *A);
  TAbstract *FindById(int Id) const;
  TAbstract *FindByCaption(const QString &Text, int &Start) const;
  // Last to first; Tolerance in units.
  TAbstract *HitTest(QPoint Point, int Tolerance) const;
  // Frees the blocks the module owns.
  void Clear();

private:
  TModule *FModule;
  QList<TAbstract *> FItems;
};

class TLinkList {
public:
  explicit TLinkList(TModule *Module) : FModule(Module) {}
  ~TLinkList();
  int Count() const { return int(FItems.size()); }
  TLink *operator[](int I) const { return FItems.at(I); }
  const QList<TLink *> &Items() const { return FItems; }
  // Also into the source pin's list.
  void Add(TLink *L);
  // Out of the source pin's list and this one; frees it when owned.
  // "link not found" when absent.
  void Remove(TLink *L);
  bool HitTest(QPoint Point, TLink *&Link, int &Segment) const;
  TLink *FindInput(int BlockId, int Pin) const;
  // Reads one `link`; dropped when a block is missing.
  void ReadLink(const IXXMLNode &Node);
  void Clear();

private:
  TModule *FModule;
  QList<TLink *> FItems;
};

// The editor's selection; mirrored in each block's Selected flag.
class TAbstractRefList {
public:
  ~TAbstractRefList() { Clear(); }
  void Add(TAbstract *A);
  void Remove(TAbstract *A);
  void Clear();
  void SelectInRect(const TAbstractList &Blocks, const QRect &R);
  void SelectAll(const TAbstractList &Blocks);
  int Count() const { return int(FItems.size()); }
  const QList<TAbstract *> &Items() const { return FItems; }

private:
  QList<TAbstract *> FItems;
};

// The clipboard the schema copies to: the system's as text in the program,
// an in-memory one in tests.
class TSchemaClipboard {
public:
  virtual ~TSchemaClipboard() = default;
  virtual QString Text() const = 0;
  virtual void SetText(const QString &Text) = 0;
};

// The system clipboard as plain text (needs the GUI application object).
class TSystemClipboard : public TSchemaClipboard {
public:
  QString Text() const override;
  void SetText(const QString &Text) override;
};

class TMemoryClipboard : public TSchemaClipboard {
public:
  QString Text() const override { return FText; }
  void SetText(const QString &Text) override { FText = Text; }

private:
  QString FText;
};

class TModule : public TAbstract {
public:
  TModule(TModule *Module, int Id);
  ~TModule() override;

  QString FileName;
  // Slot k - 1 holds the inint (outint) whose gid is k, nullptr in a gap.
  QList<TElement *> InintList, OutintList;
  TAbstractList AbstractList;
  TLinkList LinkList;
  int Scale = 20; // pixels per unit
  TSchemaDescriptorPtr Descriptor;
  std::vector<std::unique_ptr<TModuleItem>> ModuleList;
  bool Root = false;
  bool Changed = false;
  bool BackupMade = false;
  TConfigurator *Configurator = nullptr;

  int NewId() const;
  int NewGid(uint8_t AType) const;
  // Lowest free channel of a hardware kind over the tree; 0 when none is free.
  int NewReservedGid(int Kind) const;
  bool IsGidFree(int Kind, int Gid) const;
  TModule *RootModule();
  void SetScale(int PixelsPerUnit);
  void SetDescriptor(TSchemaDescriptorPtr D);
  void SetConfigurator(TConfigurator *C) { Configurator = C; }
  // Only on a root module.
  bool IsChanged() const;
  void Clear();
  void PropagateDescriptor();
  void RelinkRefs();
  void RelinkEventPins();
  void ClearIsNew();
  void RebuildInterface(uint8_t AType);
  void UnlinkLabel(TElement *L);
  // Every function block of a hardware kind in the tree below this module.
  void CollectHardware(int Kind, QList<TElement *> &Out) const;

  // Schema file. A load adds to the module; a save makes the ".bak" copy once
  // after each load. Throws "file name is empty", "Не задан дескриптор
  // устройства" (nothing written) and the save helper's error.
  void LoadFromFile(const QString &AFileName);
  void SaveToFile(const QString &AFileName = QString());
  // Fragment: read blocks and links only (paste), never the descriptor or library.
  void LoadFromNode(const IXXMLNode &Node, bool Fragment = false);
  void SaveToNode(const IXXMLNode &Node, bool All) const;
  void Assign(const TModule &Source);

  // Clipboard: the selection as one `module` element; a paste is all or nothing.
  void SaveSelectionToNode(const IXXMLNode &Node) const;
  void CopyToClipboard(TSchemaClipboard &Clipboard) const;
  void PasteFromClipboard(const TSchemaClipboard &Clipboard);

  // Compile walks.
  void SortByPosition();
  void ResetSources();
  int NumberElements(int Start);
  using TElementCallback = std::function<void(void *Data, TElement *Element, void *Arg)>;
  void ForEachElement(const TElementCallback &Callback, void *Arg, void *Data);
  int ResolveSources();
  int PropagateLinks();
  QString FunctionPath(int Kind, int Gid) const;
  QString ElementPath(uint8_t Type, int Gid) const;
  bool HasFreeInputs() const;

private:
  void RenumberIncoming(const IXXMLNode &Node) const;
  void ReadBlocks(const IXXMLNode &Node);
  void ReconcileGid(TElement *E);
  void WriteBlocks(const IXXMLNode &Impl, bool All, bool Selection) const;
  QString PathOf(const std::function<bool(const TAbstract *)> &Match) const;
};

// The empty schema ("dummy.xml"), as the program carries it.
QString DummySchemaText();
