#include "uSchemaModule.h"

#include "uConfigurator.h"
#include "uErrors.h"
#include "uFiles.h"
#include "uGraphic.h"
#include "uLinkNode.h"
#include "uLogger.h"
#include "uSchemaCode.h"
#include "uSchemaMessages.h"
#include "uTextCodec.h"

#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QFileInfo>
#include <QDir>
#include <algorithm>
#include <cmath>
#include <map>
#include <set>

namespace {

// Pins per side the file form allows; more only come from broken input.
constexpr int MaxPins = 128;

int HalfEven(double V) { return int(std::nearbyint(V)); }

int ParseInt(const QString &Text) {
  int v = 0;
  if (!TryStrToInt(Text, v))
    throw EKvFormat("'" + Text + "' is not a valid integer value");
  return v;
}

TSchemaDescriptor *DescriptorOf(const TAbstract *A) {
  if (A->IsElement())
    return static_cast<const TElement *>(A)->Descriptor;
  const TModule *m = A->Module ? A->Module : dynamic_cast<const TModule *>(A);
  return m ? m->Descriptor.get() : nullptr;
}

// Per-pin list: entries in pin order, trailing empty entries dropped.
QString JoinPinList(const QStringList &Entries) {
  QStringList list = Entries;
  while (!list.isEmpty() && list.last().isEmpty())
    list.removeLast();
  return list.join(',');
}

void SetListAttr(const IXXMLNode &Node, const char *Name, const QStringList &Entries) {
  const QString text = JoinPinList(Entries);
  if (!text.isEmpty())
    Node->SetStrAttr(Name, text);
}

void CheckPinCount(int N) {
  if (N < 0 || N > MaxPins)
    throw EKvFormat("invalid pin count: " + QString::number(N));
}

// The lowest value >= 1 the sorted list does not hold, walking as ids are given.
int NextFree(QList<int> Values) {
  std::sort(Values.begin(), Values.end());
  Values.erase(std::unique(Values.begin(), Values.end()), Values.end());
  int candidate = 1;
  for (int v : Values) {
    if (v > candidate)
      break;
    ++candidate;
  }
  return candidate;
}

// A block of type 0 read as `abstract` is a comment: only a real module nests.
TModule *AsModule(const TAbstract *A) { return dynamic_cast<TModule *>(const_cast<TAbstract *>(A)); }

void ForEachBlock(const TModule *M, const std::function<void(TAbstract *)> &F) {
  for (TAbstract *a : M->AbstractList.Items()) {
    F(a);
    if (const TModule *m = AsModule(a))
      ForEachBlock(m, F);
  }
}

} // namespace

// ---- pins ----

TPin::TPin(TPinList *AList, int AIndex, int ADirection, bool AInverted)
    : List(AList), Owner(AList->Owner()), Index(AIndex), Inverted(AInverted), Direction(ADirection),
      Y(2 * AIndex + 1) {}

void TPin::CheckOutput() const {
  if (IsInput())
    throw EKvError("invalid event pin");
}
TDDEvent *TPin::GetEvent() const {
  CheckOutput();
  return FEvent;
}
void TPin::SetEvent(TDDEvent *Event) {
  CheckOutput();
  FEvent = Event;
  const TSchemaDescriptor *d = DescriptorOf(Owner);
  FEventCode = Event && d ? d->EventNumber(Event) : 0;
}
uint8_t TPin::GetEventEdge() const {
  CheckOutput();
  return FEventEdge;
}
void TPin::SetEventEdge(uint8_t Edge) {
  CheckOutput();
  FEventEdge = Edge;
}
int TPin::GetEventCode() const {
  CheckOutput();
  return FEventCode;
}
void TPin::SetEventCode(int Code) {
  CheckOutput();
  FEventCode = Code;
}

TPinList::~TPinList() = default;

void TPinList::SetCount(int N) {
  while (int(FItems.size()) > N)
    FItems.pop_back();
  while (int(FItems.size()) < N)
    FItems.push_back(std::make_unique<TPin>(this, int(FItems.size()), FDirection, false));
}

uint32_t TPinList::GetInversionMask() const {
  uint32_t mask = 0;
  for (const auto &pin : FItems)
    mask = (mask << 1) | (pin->Inverted ? 1u : 0u);
  return mask;
}

void TPinList::SetInversionMask(uint32_t Mask) {
  for (int i = Count() - 1; i >= 0; --i) {
    FItems[size_t(i)]->Inverted = (Mask & 1u) != 0;
    Mask >>= 1;
  }
}

// ---- blocks ----

TAbstract::TAbstract(TModule *AModule, uint8_t AType, int AId, int AReserved)
    : Owner(AModule), Type(AType), Module(AModule), Id(AId != 0 ? AId : (AModule ? AModule->NewId() : 1)),
      Reserved(AReserved), InputPins(this, -1), OutputPins(this, 1),
      Graphic(std::make_unique<TGraphicAbstract>(this)) {
  Rect = {0, 0, 2, 2};
}

TAbstract::~TAbstract() {
  // A detached block (kept by an undo record) is no longer in its module and
  // may outlive it: it must not look there.
  if (!Module || !Owner)
    return;
  TLinkList &links = Module->LinkList;
  for (int i = links.Count() - 1; i >= 0; --i) {
    TLink *l = links[i];
    if (l->From == this || l->To == this)
      links.Remove(l);
  }
}

int TAbstract::PixelScale() const {
  const TModule *m = Module ? Module : dynamic_cast<const TModule *>(this);
  return m && m->Scale > 0 ? m->Scale : 1;
}

void TAbstract::UpdateGraphic() {
  Graphic->BuildPins();
  Graphic->Layout(PixelScale());
}

void TAbstract::SetPinCount(int In, int Out) {
  InputPins.SetCount(In);
  OutputPins.SetCount(Out);
  const int rows = std::max(In, Out);
  Rect = {0, 0, 2, rows > 0 ? 2 * rows : 2};
  UpdateGraphic();
}

void TAbstract::SetPinCounts(int In, int Out) {
  InputPins.SetCount(In);
  OutputPins.SetCount(Out);
  const int rows = std::max(In, Out);
  if (rows > 0)
    Rect.Bottom = Rect.Top + 2 * rows;
  UpdateGraphic();
}

void TAbstract::SetRect(const TUnitRect &R) {
  Rect = R;
  Graphic->Layout(PixelScale());
}

void TAbstract::MoveBy(int Dx, int Dy) {
  const int s = PixelScale();
  const int du = HalfEven(double(Dx) / s), dv = HalfEven(double(Dy) / s);
  SetRect({Rect.Left + du, Rect.Top + dv, Rect.Right + du, Rect.Bottom + dv});
}

void TAbstract::MoveTo(int X, int Y) {
  const int s = PixelScale();
  const int l = HalfEven(double(X) / s), t = HalfEven(double(Y) / s);
  SetRect({l, t, l + Rect.Right - Rect.Left, t + Rect.Bottom - Rect.Top});
}

bool TAbstract::IsInputFree(int Pin) const {
  if (!Module)
    return true;
  for (const TLink *l : Module->LinkList.Items())
    if (l->To == this && l->ToPin == Pin)
      return false;
  return true;
}

void TAbstract::DropInputLinksFrom(int K) {
  if (!Module)
    return;
  for (int i = Module->LinkList.Count() - 1; i >= 0; --i) {
    TLink *l = Module->LinkList[i];
    if (l->To == this && l->ToPin >= K)
      Module->LinkList.Remove(l);
  }
}

void TAbstract::DropOutputLinksFrom(int K) {
  if (!Module)
    return;
  for (int i = Module->LinkList.Count() - 1; i >= 0; --i) {
    TLink *l = Module->LinkList[i];
    if (l->From == this && l->FromPin >= K)
      Module->LinkList.Remove(l);
  }
}

void TAbstract::WriteXml(const IXXMLNode &Node) const {
  Node->SetIntAttr("id", Id);
  Node->SetStrAttr("type", AbstractTypeNames[Type < 12 ? Type : 11]);
  Node->SetStrAttr("rect", QStringLiteral("%1,%2,%3,%4")
                               .arg(Rect.Left)
                               .arg(Rect.Top)
                               .arg(Rect.Right - Rect.Left)
                               .arg(Rect.Bottom - Rect.Top));
  if (!Caption.isEmpty())
    Node->SetStrAttr("caption", Caption);
  auto mask = [this](const TPinList &Pins, const char *Name, const IXXMLNode &N) {
    for (int i = 0; i + 32 < Pins.Count(); ++i)
      if (Pins[i]->Inverted) {
        Logger().Info(QStringLiteral("inversion of pin %1 lost: more than 32 pins, block %2 \"%3\"")
                          .arg(i)
                          .arg(Id)
                          .arg(Caption));
        break;
      }
    if (const uint32_t m = Pins.GetInversionMask())
      N->SetIntAttr(Name, int(m));
  };
  auto captions = [](const TPinList &Pins) {
    QStringList l;
    for (int i = 0; i < Pins.Count(); ++i)
      l << Pins[i]->Caption;
    return l;
  };
  mask(InputPins, "iinv", Node);
  SetListAttr(Node, "icap", captions(InputPins));
  // A module's input count is stored as its output count is: inputs without
  // an interface element inside would come back missing, their inversions too.
  if (Type == atModule)
    Node->SetIntAttr("ipin", InputPins.Count());
  if (Type == atModule || Type == atDescriptor)
    Node->SetIntAttr("opin", OutputPins.Count());
  mask(OutputPins, "oinv", Node);
  QStringList edges, codes;
  for (int i = 0; i < OutputPins.Count(); ++i) {
    const TPin *p = OutputPins[i];
    edges << (p->GetEventEdge() ? QString::number(p->GetEventEdge()) : QString());
    codes << (p->GetEventCode() ? QString::number(p->GetEventCode()) : QString());
  }
  SetListAttr(Node, "oeedge", edges);
  SetListAttr(Node, "oecode", codes);
  SetListAttr(Node, "ocap", captions(OutputPins));
  if (PenColor)
    Node->SetIntAttr("penc", int(PenColor));
  if (Custom)
    Node->SetIntAttr("custom", 1);
  if (OrgId)
    Node->SetIntAttr("orgid", OrgId);
  if (OrgPin)
    Node->SetIntAttr("orgpin", OrgPin);
}

void TAbstract::ReadXml(const IXXMLNode &Node) {
  Caption = Node->GetStrAttr("caption", "");
  const QStringList rect = Node->GetStrAttr("rect", "").split(',');
  int r[4] = {0, 0, 0, 0};
  for (int i = 0; i < 4 && i < rect.size(); ++i) {
    const QString piece = rect[i].trimmed();
    r[i] = piece.isEmpty() ? 0 : ParseInt(piece);
  }
  Rect = {r[0], r[1], r[0] + r[2], r[1] + r[3]};
  // Only the blocks whose pin counts the writer stores take them from the
  // file; the others have the pins their type gives.
  if (Type == atModule || Type == atDescriptor) {
    const int in = Node->GetIntAttr("ipin", InputPins.Count());
    const int out = Node->GetIntAttr("opin", OutputPins.Count());
    CheckPinCount(in);
    CheckPinCount(out);
    SetPinCounts(in, out);
  }
  if (InputPins.Count() > 0) {
    InputPins.SetInversionMask(uint32_t(Node->GetIntAttr("iinv", 0)));
    const QStringList caps = Node->GetStrAttr("icap", "").split(',');
    if (Node->SelectSingleNode("@icap"))
      for (int i = 0; i < caps.size() && i < InputPins.Count(); ++i)
        InputPins[i]->Caption = caps[i];
  }
  PenColor = uint32_t(Node->GetIntAttr("penc", 0));
  if (OutputPins.Count() > 0) {
    OutputPins.SetInversionMask(uint32_t(Node->GetIntAttr("oinv", 0)));
    const TSchemaDescriptor *d = DescriptorOf(this);
    const QStringList codes = Node->GetStrAttr("oecode", "").split(',');
    const QStringList edges = Node->GetStrAttr("oeedge", "").split(',');
    for (int i = 0; i < OutputPins.Count(); ++i) {
      TPin *p = OutputPins[i];
      int v = 0;
      if (i < codes.size() && TryStrToInt(codes[i], v)) {
        p->FEventCode = v;
        p->FEvent = d ? d->FindEventByNumber(v) : nullptr;
      }
      if (i < edges.size() && TryStrToInt(edges[i], v))
        p->FEventEdge = uint8_t(v);
    }
    if (Node->SelectSingleNode("@ocap")) {
      const QStringList caps = Node->GetStrAttr("ocap", "").split(',');
      for (int i = 0; i < caps.size() && i < OutputPins.Count(); ++i)
        OutputPins[i]->Caption = caps[i];
    }
  }
  Custom = Node->GetStrAttr("custom", "") == QLatin1String("1");
  OrgId = Node->GetIntAttr("orgid", 0);
  OrgPin = Node->GetIntAttr("orgpin", 0);
}

// ---- elements ----

TElement::TElement(TModule *AModule, uint8_t AType, int AId, int AGid, TConfigurator *, TSchemaDescriptor *ADescriptor,
                   TFunctionDescriptor *AFunc)
    : TAbstract(AModule, AType, AId), Descriptor(ADescriptor) {
  switch (AType) {
  case atDescriptor:
    Func = AFunc;
    Gid = AGid;
    if (Func) {
      Shape = uint8_t(Func->Shape);
      SetPinCount(Func->IDef, Func->ODef);
      if (Gid == 0 && Func->IsModbusKind() && AModule)
        Gid = AModule->NewReservedGid(Func->Kind);
      if (Func->CaptionShow)
        Caption = Func->Caption;
    }
    break;
  case atLabel:
  case atOutint:
  case atLabelRef:
  case atInint:
    if (AType == atLabel || AType == atOutint)
      SetPinCount(1, 0);
    else
      SetPinCount(0, 1);
    Gid = AGid;
    if (Gid == 0 && IsAutoGidAbstractType(AType) && AModule)
      Gid = AModule->NewGid(AType);
    break;
  default:
    throw EKvError(QString("unexpected ") + AbstractTypeNames[AType < 12 ? AType : 11]);
  }
  if (Gid == 0 && (IsAutoGidAbstractType(AType) || IsGidAbstractType(AType)))
    throw EKvError("can't get gid");
  if (Func)
    UpdateGraphic();
}

int TElement::HardwareKind() const { return Type == atDescriptor && Func && Func->IsModbusKind() ? Func->Kind : 0; }

int TElement::RefCount() const { return Func ? std::min<int>(int(Func->Ustavs.size()), 16) : 0; }

void TElement::SetGid(int Value) {
  const int kind = HardwareKind();
  if (kind && Descriptor && Value > Descriptor->ChannelCount(kind))
    throw EKvError("invalid group index");
  if (Type != atDescriptor && Module) {
    bool taken = false;
    ForEachBlock(Module->RootModule(), [&](TAbstract *a) {
      if (a != this && a->Type == Type && a->IsElement() && static_cast<TElement *>(a)->Gid == Value)
        taken = true;
    });
    if (taken)
      throw EKvError("non-unique group index");
  }
  Gid = Value;
  if ((Type == atInint || Type == atOutint) && Module && Module->AbstractList.Items().contains(this))
    Module->RebuildInterface(Type);
}

void TElement::SetLabel(TElement *L) {
  if (L && L->Type != atLabel)
    throw EKvError("invalid label");
  LabelRef = L;
  RefId = L ? L->Id : -1;
}

TElementRef TElement::MakeRef(TDDParam *AParam, TDDUstav *AUstav) const {
  TElementRef r;
  r.Param = AParam;
  r.Ustav = AUstav;
  return r;
}

void TElement::SetRef(int I, const TElementRef &Slot) {
  TElementRef &r = Refs.at(size_t(I));
  r = Slot;
  r.UstavId = Slot.Ustav && Descriptor ? Descriptor->UstavIder(Slot.Ustav) : -1;
  r.ParamId = Slot.Param && Descriptor ? Descriptor->ParamIder(Slot.Param) : -1;
}

void TElement::RelinkRefs() {
  if (Type != atDescriptor)
    return;
  for (int i = 0; i < RefCount(); ++i) {
    Refs[size_t(i)].Ustav = Descriptor ? Descriptor->FindUstavById(Refs[size_t(i)].UstavId) : nullptr;
    Refs[size_t(i)].Param = Descriptor ? Descriptor->FindParamById(Refs[size_t(i)].ParamId) : nullptr;
  }
}

void TElement::RelinkEventPins() {
  if (Type != atDescriptor)
    return;
  for (int i = 0; i < OutputPins.Count(); ++i) {
    TPin *p = OutputPins[i];
    p->FEvent = Descriptor ? Descriptor->FindEventByNumber(p->FEventCode) : nullptr;
  }
}

bool TElement::HasEventPins() const {
  for (int i = 0; i < OutputPins.Count(); ++i)
    if (OutputPins[i]->GetEventEdge())
      return true;
  return false;
}

void TElement::WriteXml(const IXXMLNode &Node) const {
  TAbstract::WriteXml(Node);
  if (IsGidAbstractType(Type) || IsAutoGidAbstractType(Type) || HardwareKind())
    Node->SetIntAttr("gid", Gid);
  if (Type == atLabelRef && RefId > -1)
    Node->SetIntAttr("ref", RefId);
  if (Type != atDescriptor)
    return;
  Node->SetStrAttr("FunctionId", Func ? Func->Id : QString());
  if (InputPins.Count() > 0)
    Node->SetIntAttr("ipin", InputPins.Count());
  if (OutputPins.Count() > 0)
    Node->SetIntAttr("opin", OutputPins.Count());
  if (!Func)
    return;
  if (RefCount() > 0) {
    QStringList ustavs, params;
    for (int i = 0; i < RefCount(); ++i) {
      ustavs << QString::number(Refs[size_t(i)].UstavId);
      params << QString::number(Refs[size_t(i)].ParamId);
    }
    Node->SetStrAttr("ustavref", ustavs.join(','));
    Node->SetStrAttr("paramref", params.join(','));
  }
  if (!Func->Switches.isEmpty())
    Node->SetIntAttr("switch", Switch);
  if (!Func->Params.isEmpty()) {
    TXStringList params;
    params.GetStrings() = Params;
    Node->SetStrAttr("param", params.GetCommaText());
  }
}

void TElement::ReadXml(const IXXMLNode &Node) {
  TFunctionDescriptor *f = nullptr;
  auto pinCounts = [&] {
    const int in = f->IMin == f->IMax ? f->IMin : Node->GetIntAttr("ipin", InputPins.Count());
    const int out = f->OMin == f->OMax ? f->OMin : Node->GetIntAttr("opin", OutputPins.Count());
    CheckPinCount(in);
    CheckPinCount(out);
    SetPinCounts(in, out);
  };
  if (Type == atDescriptor) {
    const QString id = Node->GetStrAttr("FunctionId", "");
    const TConfigurator *conf = Module ? Module->RootModule()->Configurator : nullptr;
    f = conf ? conf->FindFunction(id) : nullptr;
    if (!f)
      throw EKvError("В конфигураторе не найдена функция " + id);
    Func = f;
    Shape = uint8_t(f->Shape);
    // The pins are there before the common attributes, so that their
    // inversions, captions and events find them.
    pinCounts();
  }
  TAbstract::ReadXml(Node);
  if (Type == atLabelRef)
    RefId = Node->GetIntAttr("ref", -1);
  if (Type != atDescriptor)
    return;
  pinCounts();
  const QStringList ustavs = Node->GetStrAttr("ustavref", "").split(',', Qt::SkipEmptyParts);
  const QStringList params = Node->GetStrAttr("paramref", "").split(',', Qt::SkipEmptyParts);
  for (int i = 0; i < RefCount(); ++i) {
    // The ids are kept without a descriptor too, so a save keeps them.
    if (i < ustavs.size()) {
      Refs[size_t(i)].UstavId = ParseInt(ustavs[i]);
      Refs[size_t(i)].Ustav = Descriptor ? Descriptor->FindUstavById(Refs[size_t(i)].UstavId) : nullptr;
    }
    if (i < params.size()) {
      Refs[size_t(i)].ParamId = ParseInt(params[i]);
      Refs[size_t(i)].Param = Descriptor ? Descriptor->FindParamById(Refs[size_t(i)].ParamId) : nullptr;
    }
  }
  if (!f->Switches.isEmpty())
    Switch = Node->GetIntAttr("switch", 0);
  if (!f->Params.isEmpty())
    Params = TXStringList(Node->GetStrAttr("param", "")).GetStrings();
}

// ---- comments ----

TComment::TComment(TModule *AModule, uint8_t AType, int AId) : TAbstract(AModule, AType, AId) {}

void TComment::WriteXml(const IXXMLNode &Node) const {
  TAbstract::WriteXml(Node);
  Node->SetStrAttr("caption", Caption);
  Node->SetStrAttr("fontName", FontName);
  Node->SetIntAttr("fontHeight", FontHeight);
  Node->SetIntAttr("fontColor", int(FontColor));
  Node->SetIntAttr("fontStyle", FontStyle);
  Node->SetIntAttr("horzAlign", HorzAlign);
}

void TComment::ReadXml(const IXXMLNode &Node) {
  TAbstract::ReadXml(Node);
  FontName = Node->GetStrAttr("fontName", "Arial");
  FontHeight = Node->GetIntAttr("fontHeight", -16);
  FontColor = uint32_t(Node->GetIntAttr("fontColor", 0));
  FontStyle = uint8_t(Node->GetIntAttr("fontStyle", 0));
  HorzAlign = uint8_t(Node->GetIntAttr("horzAlign", 2));
}

// ---- links ----

TLink::TLink(TModule *AModule, TAbstract *AFrom, int AFromPin, TAbstract *ATo, int AToPin, const QString &Line)
    : Owner(AModule), Module(AModule), From(AFrom), FromPin(AFromPin), To(ATo), ToPin(AToPin),
      Graphic(std::make_unique<TGraphicLink>(this)) {
  SetLine(Line);
}

TLink::~TLink() = default;

TPin *TLink::SourcePin() const {
  return From && FromPin >= 0 && FromPin < From->OutputPins.Count() ? From->OutputPins[FromPin] : nullptr;
}

QPoint TLink::SourceAnchor() const { return {From->Rect.Right, From->Rect.Top + 2 * FromPin + 1}; }
QPoint TLink::TargetAnchor() const { return {To->Rect.Left, To->Rect.Top + 2 * ToPin + 1}; }

int TLink::ToUnits(int Pixels) const {
  const int s = Module && Module->Scale > 0 ? Module->Scale : 1;
  return HalfEven(double(Pixels) / s);
}

void TLink::UpdateGraphic() { Graphic->Layout(Module && Module->Scale > 0 ? Module->Scale : 1); }

void TLink::SetLine(const QString &Text) {
  PointCount = 0;
  if (Text.trimmed().isEmpty())
    return;
  const QStringList parts = Text.split(',');
  if (parts.size() > 11)
    throw EKvFormat("invalid link route: " + Text);
  QList<int> a;
  for (const QString &p : parts) {
    int v = 0;
    if (!TryStrToInt(p.trimmed(), v))
      throw EKvFormat("invalid link route: " + Text);
    a << v;
  }
  // Fewer than three numbers make no segment: no route.
  if (a.size() < 3) {
    HasRoute = false;
    return;
  }
  PointCount = int(a.size()) - 1;
  for (int i = 0; i < PointCount; ++i)
    Points[size_t(i)] = i % 2 == 0 ? QPoint(a[i], a[i + 1]) : QPoint(a[i + 1], a[i]);
  UpdateGraphic();
}

QString TLink::GetLine() const {
  if (PointCount < 2)
    return {};
  QStringList out{QString::number(Points[0].x())};
  for (int i = 0; i <= PointCount - 2; ++i)
    out << QString::number(i % 2 == 0 ? Points[size_t(i)].y() : Points[size_t(i)].x());
  out << QString::number(Points[size_t(PointCount - 1)].x());
  return out.join(',');
}

void TLink::UpdateRoute() {
  if (!HasRoute) {
    PointCount = 0;
    UpdateGraphic();
    return;
  }
  const QPoint a = SourceAnchor(), b = TargetAnchor();
  const int x1 = a.x(), y1 = a.y(), x2 = b.x(), y2 = b.y();
  if (From == To) {
    const int t = From->Rect.Top - 1;
    Points = {QPoint(x1, y1), {x1 + 2, y1}, {x1 + 2, t}, {x2 - 2, t}, {x2 - 2, y2}, {x2, y2}};
    PointCount = 6;
  } else if (x1 >= x2 - 4) {
    const int ym = (y1 + y2) / 2;
    Points = {QPoint(x1, y1), {x1 + 2, y1}, {x1 + 2, ym}, {x2 - 2, ym}, {x2 - 2, y2}, {x2, y2}};
    PointCount = 6;
  } else {
    const int xm = (x1 + x2) / 2;
    Points = {QPoint(x1, y1), {xm, y1}, {xm, y2}, {x2, y2}};
    PointCount = 4;
  }
  UpdateGraphic();
}

void TLink::MoveSegment(int I, int Dx, int Dy) {
  if (I < 2 || I > PointCount - 2)
    return;
  QPoint &p = Points[size_t(I)], &q = Points[size_t(I - 1)];
  if (p.x() != q.x() && p.y() == q.y()) {
    const int dv = ToUnits(Dy);
    p.ry() += dv;
    q.ry() += dv;
  } else if (p.x() == q.x()) {
    const int du = ToUnits(Dx);
    p.rx() += du;
    q.rx() += du;
  }
  UpdateGraphic();
}

void TLink::MoveStart(int Dx, int Dy) {
  const int du = ToUnits(Dx), dv = ToUnits(Dy);
  if (PointCount >= 2 && Points[0].x() + du < Points[1].x()) {
    Points[0] += QPoint(du, dv);
    Points[1].ry() += dv;
    UpdateGraphic();
  } else {
    UpdateRoute();
  }
}

void TLink::MoveEnd(int Dx, int Dy) {
  const int du = ToUnits(Dx), dv = ToUnits(Dy);
  const int last = PointCount - 1;
  if (PointCount >= 2 && Points[size_t(last)].x() + du > Points[size_t(last - 1)].x()) {
    Points[size_t(last)] += QPoint(du, dv);
    Points[size_t(last - 1)].ry() += dv;
    UpdateGraphic();
  } else {
    UpdateRoute();
  }
}

void TLink::MoveAll(int Dx, int Dy) {
  const QPoint d(ToUnits(Dx), ToUnits(Dy));
  for (int i = 0; i < PointCount; ++i)
    Points[size_t(i)] += d;
  UpdateGraphic();
}

void TLink::SetPoints(const std::array<QPoint, 10> &APoints, int Count) {
  Points = APoints;
  PointCount = std::clamp(Count, 0, 10);
  UpdateGraphic();
}

// ---- lists ----

TAbstractList::~TAbstractList() { Clear(); }

void TAbstractList::Add(TAbstract *A) {
  if (FindById(A->Id))
    throw EKvError("nonunique id detected");
  FItems.append(A);
  if (A->Type == atInint || A->Type == atOutint)
    FModule->RebuildInterface(A->Type);
}

void TAbstractList::Remove(TAbstract *A) {
  if (!FItems.removeOne(A))
    throw EKvError("abstract not found");
  if (A->Type == atInint || A->Type == atOutint)
    FModule->RebuildInterface(A->Type);
  if (A->Type == atLabel && A->IsElement())
    FModule->UnlinkLabel(static_cast<TElement *>(A));
  if (A->Owner == FModule)
    delete A;
}

TAbstract *TAbstractList::FindById(int Id) const {
  for (TAbstract *a : FItems)
    if (a->Id == Id)
      return a;
  return nullptr;
}

TAbstract *TAbstractList::FindByCaption(const QString &Text, int &Start) const {
  for (int i = std::max(Start, 0); i < FItems.size(); ++i)
    if (FItems[i]->Caption.contains(Text)) {
      Start = i + 1;
      return FItems[i];
    }
  return nullptr;
}

TAbstract *TAbstractList::HitTest(QPoint Point, int Tolerance) const {
  for (int i = int(FItems.size()) - 1; i >= 0; --i)
    if (FItems[i]->Graphic->HitTest(Point, FModule->Scale * Tolerance))
      return FItems[i];
  return nullptr;
}

void TAbstractList::Clear() {
  const QList<TAbstract *> items = std::exchange(FItems, {});
  for (TAbstract *a : items)
    if (a->Owner == FModule)
      delete a;
}

TLinkList::~TLinkList() { Clear(); }

void TLinkList::Add(TLink *L) {
  FItems.append(L);
  if (TPin *p = L->SourcePin())
    p->Links.Add(L);
}

void TLinkList::Remove(TLink *L) {
  if (!FItems.contains(L))
    throw EKvError("link not found");
  if (TPin *p = L->SourcePin())
    p->Links.Remove(L);
  FItems.removeOne(L);
  if (L->Owner == FModule)
    delete L;
}

bool TLinkList::HitTest(QPoint Point, TLink *&Link, int &Segment) const {
  for (TLink *l : FItems)
    if (const int s = l->Graphic->SegmentAt(Point)) {
      Link = l;
      Segment = s;
      return true;
    }
  Link = nullptr;
  Segment = -1;
  return false;
}

TLink *TLinkList::FindInput(int BlockId, int Pin) const {
  for (TLink *l : FItems)
    if (l->To->Id == BlockId && l->ToPin == Pin)
      return l;
  return nullptr;
}

void TLinkList::ReadLink(const IXXMLNode &Node) {
  TAbstract *from = FModule->AbstractList.FindById(Node->GetIntAttr("fr", 0));
  TAbstract *to = FModule->AbstractList.FindById(Node->GetIntAttr("to", 0));
  const int frp = Node->GetIntAttr("frp", 0);
  int top = Node->GetIntAttr("top", 0);
  const QString line = Node->GetStrAttr("line", "");
  if (!from || !to)
    return;
  if (frp < 0 || frp >= from->OutputPins.Count())
    throw EKvError("internal error");
  if (top < 0 || top >= to->InputPins.Count()) {
    Logger().Info("inv link forced to 0 from " + from->Caption + " to " + to->Caption);
    top = 0;
  }
  auto link = std::make_unique<TLink>(FModule, from, frp, to, top, line);
  link->HasRoute = link->PointCount > 0;
  Add(link.release());
}

void TLinkList::Clear() {
  const QList<TLink *> items = std::exchange(FItems, {});
  for (TLink *l : items) {
    if (TPin *p = l->SourcePin())
      p->Links.Remove(l);
    if (l->Owner == FModule)
      delete l;
  }
}

void TAbstractRefList::Add(TAbstract *A) {
  A->Selected = true;
  if (!FItems.contains(A))
    FItems.append(A);
}

void TAbstractRefList::Remove(TAbstract *A) {
  A->Selected = false;
  FItems.removeOne(A);
}

void TAbstractRefList::Clear() {
  for (TAbstract *a : FItems)
    a->Selected = false;
  FItems.clear();
}

void TAbstractRefList::SelectInRect(const TAbstractList &Blocks, const QRect &R) {
  Clear();
  for (TAbstract *a : Blocks.Items())
    if (a->Graphic->InsideRect(R))
      Add(a);
}

void TAbstractRefList::SelectAll(const TAbstractList &Blocks) {
  Clear();
  for (TAbstract *a : Blocks.Items())
    Add(a);
}

// ---- modules ----

TModule::TModule(TModule *AModule, int AId)
    : TAbstract(AModule, atModule, AId), AbstractList(this), LinkList(this) {
  if (AModule) {
    Scale = AModule->Scale;
    Configurator = AModule->Configurator;
    Descriptor = AModule->Descriptor;
    Root = AModule->Root;
  }
}

TModule::~TModule() { Clear(); }

int TModule::NewId() const {
  QList<int> ids = HeldIds;
  for (const TAbstract *a : AbstractList.Items())
    ids << a->Id;
  return NextFree(ids);
}

int TModule::NewGid(uint8_t AType) const {
  QList<int> gids;
  for (const TAbstract *a : AbstractList.Items())
    if (a->Type == AType && a->IsElement())
      gids << static_cast<const TElement *>(a)->Gid;
  return NextFree(gids);
}

void TModule::CollectHardware(int Kind, QList<TElement *> &Out) const {
  ForEachBlock(this, [&](TAbstract *a) {
    if (a->IsElement() && static_cast<TElement *>(a)->HardwareKind() == Kind)
      Out << static_cast<TElement *>(a);
  });
}

int TModule::NewReservedGid(int Kind) const {
  if (Kind < 1 || Kind > 5)
    throw EKvError("incompatible reserved type");
  const TModule *root = const_cast<TModule *>(this)->RootModule();
  QList<TElement *> blocks;
  root->CollectHardware(Kind, blocks);
  QList<int> gids;
  for (const TElement *e : blocks)
    gids << e->Gid;
  std::sort(gids.begin(), gids.end());
  int candidate = 1;
  for (int g : gids) {
    if (g > candidate)
      break;
    candidate = std::max(candidate, g + 1);
  }
  const int capacity = root->Descriptor ? root->Descriptor->ChannelCount(Kind) : 0;
  return capacity < candidate ? 0 : candidate;
}

bool TModule::IsGidFree(int Kind, int Gid) const {
  if (Kind < 1 || Kind > 5)
    throw EKvError("invalid reserved type");
  QList<TElement *> blocks;
  const_cast<TModule *>(this)->RootModule()->CollectHardware(Kind, blocks);
  return std::none_of(blocks.begin(), blocks.end(), [Gid](const TElement *e) { return e->Gid == Gid; });
}

TModule *TModule::RootModule() {
  TModule *m = this;
  while (m->Module)
    m = m->Module;
  return m;
}

void TModule::SetScale(int PixelsPerUnit) {
  Scale = PixelsPerUnit;
  for (TAbstract *a : AbstractList.Items())
    a->Graphic->Layout(Scale);
  for (TLink *l : LinkList.Items())
    l->UpdateGraphic();
}

void TModule::SetDescriptor(TSchemaDescriptorPtr D) {
  Descriptor = std::move(D);
  PropagateDescriptor();
}

bool TModule::IsChanged() const {
  KvCheck(Module == nullptr, "IsChanged flag cannot be set in child module (src/custom/schema/uSchemaModule)");
  return Changed || (Descriptor && Descriptor->IsModified());
}

void TModule::Clear() {
  LinkList.Clear();
  AbstractList.Clear();
  InintList.clear();
  OutintList.clear();
}

void TModule::PropagateDescriptor() {
  for (TAbstract *a : AbstractList.Items()) {
    if (a->IsElement()) {
      static_cast<TElement *>(a)->Descriptor = Descriptor.get();
    } else if (TModule *m = AsModule(a)) {
      m->Descriptor = Descriptor;
      m->PropagateDescriptor();
    }
  }
}

void TModule::RelinkRefs() {
  ForEachBlock(this, [](TAbstract *a) {
    if (a->IsElement())
      static_cast<TElement *>(a)->RelinkRefs();
  });
}

void TModule::RelinkEventPins() {
  ForEachBlock(this, [](TAbstract *a) {
    if (a->IsElement())
      static_cast<TElement *>(a)->RelinkEventPins();
  });
}

void TModule::ClearIsNew() {
  IsNew = false;
  ForEachBlock(this, [](TAbstract *a) { a->IsNew = false; });
}

void TModule::RebuildInterface(uint8_t AType) {
  QList<TElement *> &view = AType == atInint ? InintList : OutintList;
  QList<TElement *> blocks;
  for (TAbstract *a : AbstractList.Items())
    if (a->Type == AType && a->IsElement())
      blocks << static_cast<TElement *>(a);
  std::stable_sort(blocks.begin(), blocks.end(), [](const TElement *a, const TElement *b) { return a->Gid < b->Gid; });
  view.clear();
  const int highest = blocks.isEmpty() ? 0 : std::min(blocks.last()->Gid, MaxPins);
  for (int k = 1; k <= highest; ++k) {
    auto it = std::find_if(blocks.begin(), blocks.end(), [k](const TElement *e) { return e->Gid == k; });
    view << (it != blocks.end() ? *it : nullptr);
  }
  SetPinCounts(int(InintList.size()), int(OutintList.size()));
  TPinList &pins = AType == atInint ? InputPins : OutputPins;
  for (int i = 0; i < pins.Count(); ++i)
    pins[i]->Caption = view[i] ? view[i]->Caption : QString();
}

void TModule::UnlinkLabel(TElement *L) {
  if (!L || L->Type != atLabel)
    throw EKvError("invalid label");
  for (TAbstract *a : AbstractList.Items())
    if (a->Type == atLabelRef && a->IsElement() && static_cast<TElement *>(a)->LabelRef == L) {
      static_cast<TElement *>(a)->LabelRef = nullptr;
      static_cast<TElement *>(a)->RefId = -1;
    }
}

// ---- schema file ----

QString DummySchemaText() {
  QFile f(":/custom/dummy.xml");
  if (!f.open(QIODevice::ReadOnly))
    throw EKvError("internal error: dummy.xml");
  return FromWin1251(f.readAll());
}

void TModule::LoadFromFile(const QString &AFileName) {
  FileName = AFileName;
  const IXXMLDocument doc = NewXMLDocument();
  if (!doc->Load(AFileName))
    throw EKvFormat(AFileName + ": " + doc->GetParseError());
  LoadFromNode(doc->GetDocumentElement());
  Changed = false;
  BackupMade = false;
}

void TModule::SaveToFile(const QString &AFileName) {
  if (!AFileName.isEmpty())
    FileName = AFileName;
  if (FileName.isEmpty())
    throw EKvError("file name is empty");
  // The document is built first: a failure here leaves every file as it was.
  const IXXMLDocument doc = NewXMLDocument();
  doc->LoadXML("<module/>");
  SaveToNode(doc->GetDocumentElement(), true);
  const QByteArray bytes = FormatXMLDocument(doc);
  if (!BackupMade) {
    const QFileInfo fi(FileName);
    const QString bak = QDir(fi.path()).filePath(fi.completeBaseName() + ".bak");
    // Copied, not moved: the file stays in place until the new one replaces it.
    if (fi.exists()) {
      const QFileInfo bi(bak);
      // No write permission bit at all is what the save helper refuses (the
      // mode bits: the "user" flags follow access(), which root always passes).
      const auto writable = QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther;
      if (bi.exists() && !(bi.permissions() & writable)) {
        SchemaMessage("Cannot delete " + bak);
      } else {
        try {
          SaveFileBytes(bak, LoadFileBytes(FileName));
        } catch (const EKvError &) {
          SchemaMessage("Cannot create " + bak);
        }
      }
    }
    BackupMade = true;
  }
  SaveFileBytes(FileName, bytes);
  Changed = false;
}

void TModule::WriteBlocks(const IXXMLNode &Impl, bool All, bool Selection) const {
  for (const TAbstract *a : AbstractList.Items()) {
    if (!All && !a->Selected)
      continue;
    if (Selection && (a->Type == atInint || a->Type == atOutint))
      continue;
    if (a->IsElement()) {
      a->WriteXml(Impl->AddChild("element"));
    } else if (const TModule *m = AsModule(a)) {
      m->SaveToNode(Impl->AddChild("module"), true);
    } else {
      a->WriteXml(Impl->AddChild("abstract"));
    }
  }
  for (const TLink *l : LinkList.Items()) {
    if (!All && !(l->From->Selected && l->To->Selected))
      continue;
    if (Selection && (l->From->Type == atInint || l->To->Type == atOutint))
      continue;
    const IXXMLNode n = Impl->AddChild("link");
    n->SetIntAttr("fr", l->From->Id);
    n->SetIntAttr("frp", l->FromPin);
    n->SetIntAttr("to", l->To->Id);
    n->SetIntAttr("top", l->ToPin);
    if (l->HasRoute && l->PointCount > 0)
      n->SetStrAttr("line", l->GetLine());
  }
}

void TModule::SaveToNode(const IXXMLNode &Node, bool All) const {
  if (All && !Module && Root && !Descriptor)
    throw EKvError("Не задан дескриптор устройства");
  WriteXml(Node);
  Node->SetIntAttr("id", Id);
  Node->SetStrAttr("caption", Caption);
  WriteBlocks(Node->AddChild("implementation"), All, false);
  if (All && !Module) {
    SaveModuleItems(ModuleList, Node->AddChild("module-list"));
    const IXXMLNode dd = Node->AddChild("device-descriptor");
    if (Root) {
      Descriptor->SaveToNode(dd);
      Descriptor->SetModified(false);
    }
  }
}

void TModule::Assign(const TModule &Source) {
  const IXXMLDocument doc = NewXMLDocument();
  doc->LoadXML("<module/>");
  Source.SaveToNode(doc->GetDocumentElement(), true);
  Configurator = Source.Configurator;
  Clear();
  LoadFromNode(doc->GetDocumentElement());
}

void TModule::RenumberIncoming(const IXXMLNode &Node) const {
  // Every incoming block gets a fresh id, whatever the signs of those present,
  // and the links, label references and routes among them follow.
  std::set<int> used;
  for (const TAbstract *a : AbstractList.Items())
    used.insert(a->Id);
  const IXXMLNodeList children = Node->SelectNodes("implementation/*");
  std::map<int, int> newIds;
  int candidate = 1;
  auto shifted = [](const IXXMLNode &N, const char *Name, int By) {
    QStringList parts = N->GetStrAttr(Name, "").split(',');
    for (QString &p : parts)
      p = QString::number(ParseInt(p.trimmed()) + By);
    N->SetStrAttr(Name, parts.join(','));
  };
  for (int i = 0; i < children->GetCount(); ++i) {
    const IXXMLNode n = children->GetItem(i);
    const QString name = n->GetNodeName();
    if (name != QLatin1String("element") && name != QLatin1String("module") && name != QLatin1String("abstract"))
      continue;
    while (used.count(candidate))
      ++candidate;
    const int old = n->GetIntAttr("id", 0);
    newIds.emplace(old, candidate);
    n->SetIntAttr("id", candidate++);
    if (n->SelectSingleNode("@rect")) {
      QStringList r = n->GetStrAttr("rect", "").split(',');
      for (int k = 0; k < 2 && k < r.size(); ++k)
        r[k] = QString::number((r[k].trimmed().isEmpty() ? 0 : ParseInt(r[k].trimmed())) + 1);
      n->SetStrAttr("rect", r.join(','));
    }
  }
  for (int i = 0; i < children->GetCount(); ++i) {
    const IXXMLNode n = children->GetItem(i);
    const QString name = n->GetNodeName();
    if (name == QLatin1String("element") && n->SelectSingleNode("@ref")) {
      const auto it = newIds.find(n->GetIntAttr("ref", -1));
      n->SetIntAttr("ref", it != newIds.end() ? it->second : -1);
    }
    if (name != QLatin1String("link"))
      continue;
    const auto fr = newIds.find(n->GetIntAttr("fr", 0));
    const auto to = newIds.find(n->GetIntAttr("to", 0));
    if (fr == newIds.end() || to == newIds.end()) {
      // A link to a block outside the fragment would join a block already here.
      n->Remove();
      continue;
    }
    n->SetIntAttr("fr", fr->second);
    n->SetIntAttr("to", to->second);
    if (!n->GetStrAttr("line", "").isEmpty())
      shifted(n, "line", 1);
  }
}

void TModule::ReconcileGid(TElement *E) {
  const int kind = E->HardwareKind();
  const TSchemaDescriptor *d = RootModule()->Descriptor.get();
  if (!kind || !d)
    return;
  if (!d->HasChannel(kind, E->Gid))
    E->Gid = 0;
  else if (IsGidFree(kind, E->Gid))
    E->SetGid(E->Gid);
  else
    E->Gid = NewReservedGid(kind);
}

void TModule::ReadBlocks(const IXXMLNode &Node) {
  const IXXMLNodeList children = Node->SelectNodes("implementation/*");
  for (int i = 0; i < children->GetCount(); ++i) {
    const IXXMLNode n = children->GetItem(i);
    const QString name = n->GetNodeName();
    const uint8_t type = StrToAbstractType(n->GetStrAttr("type", ""));
    if (name == QLatin1String("abstract")) {
      auto c = std::make_unique<TComment>(this, type, n->GetIntAttr("id", 0));
      c->ReadXml(n);
      AbstractList.Add(c.get());
      c.release();
    } else if (name == QLatin1String("element")) {
      const int gid = n->GetIntAttr("gid", 0);
      if (IsGidAbstractType(type) && gid == 0)
        continue;
      auto e = std::make_unique<TElement>(this, type, n->GetIntAttr("id", 0), gid, Configurator, Descriptor.get(),
                                          nullptr);
      e->ReadXml(n);
      if (e->HardwareKind())
        ReconcileGid(e.get());
      e->UpdateGraphic();
      AbstractList.Add(e.get());
      e.release();
    } else if (name == QLatin1String("module")) {
      auto m = std::make_unique<TModule>(this, n->GetIntAttr("id", 0));
      m->Root = Root;
      m->Descriptor = Descriptor;
      m->Caption = n->GetStrAttr("caption", "");
      m->ReadXml(n);
      m->LoadFromNode(n);
      // The pins follow the interface elements as they are read: the
      // inversions are applied once all of them are there.
      m->InputPins.SetInversionMask(uint32_t(n->GetIntAttr("iinv", 0)));
      m->OutputPins.SetInversionMask(uint32_t(n->GetIntAttr("oinv", 0)));
      AbstractList.Add(m.get());
      m.release();
    } else if (name == QLatin1String("link")) {
      LinkList.ReadLink(n);
    } else {
      throw EKvFormat("invalid NodeName: " + name);
    }
  }
}

void TModule::LoadFromNode(const IXXMLNode &Node, bool Fragment) {
  if (!Module && !Fragment) {
    const IXXMLNode dd = Node->SelectSingleNode("device-descriptor");
    if (dd && Root && SchemaDescriptorReader()) {
      SetDescriptor(SchemaDescriptorReader()(dd));
      if (Descriptor)
        Descriptor->SetHost(this);
    }
    if (const IXXMLNode ml = Node->SelectSingleNode("module-list"))
      LoadModuleItems(ModuleList, ml, Configurator);
  }
  if (AbstractList.Count() > 0)
    RenumberIncoming(Node);
  ReadBlocks(Node);
  if (Root)
    for (TAbstract *a : AbstractList.Items())
      if (a->Type == atLabelRef && a->IsElement()) {
        auto *r = static_cast<TElement *>(a);
        if (r->RefId > -1) {
          TAbstract *l = AbstractList.FindById(r->RefId);
          r->LabelRef = l && l->Type == atLabel && l->IsElement() ? static_cast<TElement *>(l) : nullptr;
        }
      }
}

// ---- clipboard ----

void TModule::SaveSelectionToNode(const IXXMLNode &Node) const {
  WriteXml(Node);
  Node->SetIntAttr("id", Id);
  Node->SetStrAttr("caption", Caption);
  WriteBlocks(Node->AddChild("implementation"), false, true);
}

QString TSystemClipboard::Text() const { return QGuiApplication::clipboard()->text(); }
void TSystemClipboard::SetText(const QString &Text) { QGuiApplication::clipboard()->setText(Text); }

void TModule::CopyToClipboard(TSchemaClipboard &Clipboard) const {
  const IXXMLDocument doc = NewXMLDocument();
  doc->LoadXML("<module/>");
  SaveSelectionToNode(doc->GetDocumentElement());
  Clipboard.SetText(doc->GetDocumentElement()->GetXml());
}

void TModule::PasteFromClipboard(const TSchemaClipboard &Clipboard) {
  const IXXMLDocument doc = NewXMLDocument();
  if (!doc->LoadXML(Clipboard.Text().left(1048575)))
    throw EKvFormat(doc->GetParseError());
  ClearIsNew();
  const QList<TAbstract *> blocks = AbstractList.Items();
  const QList<TLink *> links = LinkList.Items();
  try {
    LoadFromNode(doc->GetDocumentElement(), true);
  } catch (...) {
    for (int i = LinkList.Count() - 1; i >= 0; --i)
      if (!links.contains(LinkList[i]))
        LinkList.Remove(LinkList[i]);
    for (int i = AbstractList.Count() - 1; i >= 0; --i)
      if (!blocks.contains(AbstractList[i]))
        AbstractList.Remove(AbstractList[i]);
    throw;
  }
}

// ---- compile walks ----

void TModule::SortByPosition() {
  std::stable_sort(AbstractList.Items().begin(), AbstractList.Items().end(), [](const TAbstract *a, const TAbstract *b) {
    return a->Rect.Left != b->Rect.Left ? a->Rect.Left < b->Rect.Left : a->Rect.Top < b->Rect.Top;
  });
  for (TAbstract *a : AbstractList.Items())
    if (TModule *m = AsModule(a))
      m->SortByPosition();
}

void TModule::ResetSources() {
  ForEachBlock(this, [](TAbstract *a) {
    if (!a->IsElement())
      return;
    auto *e = static_cast<TElement *>(a);
    e->SrcIndex = -1;
    e->SrcPin = 0;
    for (int i = 0; i < e->InputPins.Count(); ++i)
      e->InputPins[i]->SrcIndex = -1;
  });
}

int TModule::NumberElements(int Start) {
  int n = 0;
  for (TAbstract *a : AbstractList.Items()) {
    if (a->IsElement()) {
      auto *e = static_cast<TElement *>(a);
      const bool unnumbered = e->Type == atLabel || e->Type == atLabelRef || e->Type == atInint || e->Type == atOutint;
      e->Index = unnumbered ? -1 : Start + n++;
    } else if (TModule *m = AsModule(a)) {
      n += m->NumberElements(Start + n);
    }
  }
  return n;
}

void TModule::ForEachElement(const TElementCallback &Callback, void *Arg, void *Data) {
  if (!Callback)
    return;
  ForEachBlock(this, [&](TAbstract *a) {
    if (a->IsElement())
      Callback(Data, static_cast<TElement *>(a), Arg);
  });
}

int TModule::ResolveSources() {
  int budget = 256, total = 0, pass = 0;
  do {
    pass = PropagateLinks();
    for (TAbstract *a : AbstractList.Items()) {
      if (TModule *m = AsModule(a)) {
        pass += m->ResolveSources();
      } else if (a->Type == atLabelRef && a->IsElement()) {
        auto *r = static_cast<TElement *>(a);
        if (r->Index >= 0)
          continue;
        if (!r->LabelRef)
          throw EKvError("invalid label reference");
        r->Index = r->LabelRef->Index;
        r->SrcIndex = r->LabelRef->SrcIndex;
        r->SrcPin = r->LabelRef->SrcPin;
        // Only a label that already knows its source is progress.
        if (r->Index >= 0)
          ++pass;
      }
    }
    pass += PropagateLinks();
    total += pass;
    --budget;
  } while (budget >= 0 && pass > 0);
  return total;
}

int TModule::PropagateLinks() {
  auto slot = [](const QList<TElement *> &View, int I) { return I >= 0 && I < View.size() ? View[I] : nullptr; };
  int resolved = 0;
  for (TLink *l : LinkList.Items()) {
    int s = -1, p = l->FromPin, t = 0;
    TElement *targetInint = nullptr;
    if (l->From->IsElement()) {
      auto *e = static_cast<TElement *>(l->From);
      s = e->Index;
      if (e->Type == atInint || e->Type == atLabelRef)
        p = e->SrcPin;
    } else if (const TModule *m = AsModule(l->From)) {
      const TElement *o = slot(m->OutintList, l->FromPin);
      if (!o)
        continue;
      s = o->Index;
      p = o->SrcPin;
    } else {
      throw EKvError("invalid from abstract");
    }
    if (l->To->IsElement()) {
      auto *e = static_cast<TElement *>(l->To);
      if (e->Type == atOutint || e->Type == atLabel)
        t = e->Index;
      else if (l->ToPin < e->InputPins.Count())
        t = e->InputPins[l->ToPin]->SrcIndex;
    } else if (const TModule *m = AsModule(l->To)) {
      targetInint = slot(m->InintList, l->ToPin);
      if (!targetInint)
        continue;
      t = targetInint->Index;
    } else {
      throw EKvError("invalid from abstract");
    }
    if (t >= 0 || s < 0)
      continue;
    if (targetInint) {
      targetInint->SrcIndex = s;
      targetInint->SrcPin = p;
      targetInint->Index = s;
    } else {
      auto *e = static_cast<TElement *>(l->To);
      if (e->Type == atOutint || e->Type == atLabel) {
        e->SrcIndex = s;
        e->SrcPin = p;
        e->Index = s;
      } else {
        e->InputPins[l->ToPin]->SrcIndex = s;
        e->InputPins[l->ToPin]->SrcPin = p;
      }
    }
    ++resolved;
  }
  return resolved;
}

QString TModule::PathOf(const std::function<bool(const TAbstract *)> &Match) const {
  for (const TAbstract *a : AbstractList.Items())
    if (Match(a))
      return Caption.isEmpty() ? QStringLiteral("<>") : Caption;
  for (const TAbstract *a : AbstractList.Items())
    if (const TModule *m = AsModule(a)) {
      const QString r = m->PathOf(Match);
      if (!r.isEmpty())
        return (Caption.isEmpty() ? QStringLiteral("<>") : Caption) + "." + r;
    }
  return {};
}

QString TModule::FunctionPath(int Kind, int Gid) const {
  return PathOf([Kind, Gid](const TAbstract *a) {
    return a->IsElement() && static_cast<const TElement *>(a)->HardwareKind() == Kind &&
           static_cast<const TElement *>(a)->Gid == Gid;
  });
}

QString TModule::ElementPath(uint8_t Type, int Gid) const {
  return PathOf([Type, Gid](const TAbstract *a) {
    return a->Type == Type && a->IsElement() && static_cast<const TElement *>(a)->Gid == Gid;
  });
}

bool TModule::HasFreeInputs() const {
  for (const TAbstract *a : AbstractList.Items()) {
    int free = a->InputPins.Count();
    for (const TLink *l : LinkList.Items())
      if (l->To == a)
        --free;
    if (free > 0)
      return true;
    if (const TModule *m = AsModule(a); m && m->HasFreeInputs())
      return true;
  }
  return false;
}

// ---- descriptor reader ----

namespace {
TSchemaDescriptorReader &ReaderSlot() {
  static TSchemaDescriptorReader reader;
  return reader;
}
} // namespace

TSchemaDescriptorReader SetSchemaDescriptorReader(TSchemaDescriptorReader Reader) {
  return std::exchange(ReaderSlot(), std::move(Reader));
}
const TSchemaDescriptorReader &SchemaDescriptorReader() { return ReaderSlot(); }
