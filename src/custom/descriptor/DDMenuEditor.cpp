#include "DDMenuEditor.h"

#include "uAppIniFile.h"
#include "uDeviceDescriptor.h"
#include "uErrors.h"
#include "uFiles.h"
#include "uMainSettings.h"
#include "uMultiLingual.h"
#include "uTextCodec.h"

#include <QRegularExpression>
#include <map>

namespace {

QString U(const char *S) { return QString::fromUtf8(S); }

QList<IXXMLNode> Elements(const IXXMLNode &Node) {
  QList<IXXMLNode> out;
  if (!Node)
    return out;
  const IXXMLNodeList l = Node->SelectNodes("*");
  for (int i = 0; i < l->GetCount(); ++i)
    out << l->GetItem(i);
  return out;
}

bool HasAttr(const IXXMLNode &Node, const QString &Name) { return bool(Node->SelectSingleNode("@" + Name)); }

} // namespace

// ---- attribute routines

QString GetAttrStr(const IXXMLNode &Node, const QString &Name, const QString &Default) {
  return Node->GetStrAttrDef(Name, Default);
}

int GetAttrInt(const IXXMLNode &Node, const QString &Name, int Default) {
  if (!HasAttr(Node, Name))
    return Default;
  const QString text = Node->GetStrAttrDef(Name, QString());
  bool ok = false;
  const int v = text.startsWith('$') ? text.mid(1).toInt(&ok, 16) : text.toInt(&ok, 10);
  return ok ? v : Default;
}

void SetAttr(const IXXMLNode &Node, const QString &Name, const QString &Value) { Node->SetStrAttr(Name, Value); }

void SetExistingAttr(const IXXMLNode &Node, const QString &Name, const QString &Value) {
  if (!HasAttr(Node, Name))
    throw EKvError("attr not found: " + Name + " in\r\n" + Node->GetXml());
  Node->SetStrAttr(Name, Value);
}

void SwapNodes(IXXMLNode &A, IXXMLNode &B) {
  IXXMLNode copyA = A->CloneNode(true), copyB = B->CloneNode(true);
  A->GetParentNode()->ReplaceChild(copyA, B);
  A->GetParentNode()->ReplaceChild(copyB, A);
  A = copyA;
  B = copyB;
}

QString TSetupSurrogate::GetTempFolder() {
  return TMainSettings::Read(AppIni(), ProgramFolder() + '/').TempFolder;
}

IXXMLNode ResolveMenuPath(const IXXMLDocument &Doc, const QString &Path) {
  static const QRegularExpression number(QStringLiteral("(\\d+)\\s*"));
  IXXMLNode node;
  bool atDocument = true;
  for (auto it = number.globalMatch(Path); it.hasNext();) {
    const int index = it.next().captured(1).toInt();
    if (atDocument) {
      if (index != 0 || !Doc->GetDocumentElement())
        return nullptr;
      node = Doc->GetDocumentElement();
      atDocument = false;
      continue;
    }
    const QList<IXXMLNode> kids = Elements(node);
    if (index >= kids.size())
      return nullptr;
    node = kids[index];
  }
  return node;
}

// ---- the menu model

TDeviceMenu::TDeviceMenu(const QString &FileName) : Document(NewXMLDocument()) {
  if (FileName.isEmpty())
    return;
  if (!Document->Load(FileName))
    throw EKvError("error loading " + FileName + ": " + Document->GetParseError());
  if (!Document->GetDocumentElement())
    throw EKvError("error loading " + FileName);
  Root = Document->GetDocumentElement();
  for (auto [list, name] : {std::pair{&Actions, "action"}, std::pair{&Types, "type"}})
    for (const IXXMLNode &n : Elements(Root))
      if (n->GetNodeName() == QLatin1String(name))
        list->append({n->GetText(), GetAttrInt(n, "id", 0)});
  Modified = false;
  Depth = TSetupSurrogate::ReadInteger("menu/depth", 5);
}

IXXMLNode TDeviceMenu::MenuRoot() const { return Root ? Root->SelectSingleNode("item-list") : nullptr; }

namespace {
// The bit groups of FBitRegs an item may name by kind, with their record types.
const std::map<QString, int> &BitGroups() {
  static const std::map<QString, int> groups = {{"paramDI", 17}, {"paramDO", 18}, {"paramVI", 20}, {"paramVO", 21}};
  return groups;
}

// Kinds whose items point at a record of the descriptor in the image.
bool HasRecord(const QString &Type) {
  static const QStringList kinds = {"param", "param-mvp", "param-mvs", "ustav", "measure", "event", "paramdate",
                                    "paramstatus"};
  return kinds.contains(Type) || BitGroups().count(Type) != 0;
}

// Kinds whose items name no record by desc-id in the image.
bool NeedsNoId(const QString &Type) {
  return Type == "alarm" || Type == "eventlevel" || Type == "paramdate" || Type == "paramstatus" ||
         BitGroups().count(Type) != 0;
}
} // namespace

QString TDeviceMenu::ItemType(const IXXMLNode &Item) {
  IXXMLNode typed = Item;
  while (typed && typed->GetNodeName() != "#document" && !HasAttr(typed, "desc-type"))
    typed = typed->GetParentNode();
  if (!typed || typed->GetNodeName() == "#document")
    return QString();
  return GetAttrStr(typed, "desc-type", QString());
}

TDDNamedObject *TDeviceMenu::FindRecord(const IXXMLNode &Item) const {
  if (!Descriptor)
    return nullptr;
  TDeviceDescriptor &d = *Descriptor;
  const QString type = ItemType(Item);
  const int id = GetAttrInt(Item, "desc-id", 0);
  if (const auto g = BitGroups().find(type); g != BitGroups().end())
    return d.GetBitReg(g->second);
  if (type == "param")
    return d.FParams.FindById(id);
  if (type == "param-mvp")
    return d.FParamsMvp.FindById(id);
  if (type == "param-mvs")
    return d.FParamsMvs.FindById(id);
  if (type == "ustav")
    return d.FUstavs.FindById(id);
  if (type == "measure")
    return d.FMeasures.FindById(id);
  if (type == "event")
    return d.FEvents.FindById(id);
  if (type == "paramdate")
    return &d.FParamCommon.Date;
  if (type == "paramstatus")
    return &d.FParamCommon.Status;
  return nullptr;
}

QString TDeviceMenu::DisplayCaption(const IXXMLNode &Item) const {
  const QString type = ItemType(Item);
  // The event list entry and alarms carry their own text; an event inserted
  // from the descriptor names its record.
  if ((type == "event" && !HasAttr(Item, "desc-id")) || type == "alarm")
    return GetAttrStr(Item, "caption", "***");
  if (type == "eventlevel") {
    const int id = GetAttrInt(Item, "desc-id", 0);
    if (id == -1)
      return GetAttrStr(Item, "caption", QString());
    if (id >= 0 && Descriptor && size_t(id) < Descriptor->FEventLevels.size())
      return Descriptor->FEventLevels[size_t(id)].Value2;
  } else if (const TDDNamedObject *r = FindRecord(Item)) {
    return r->ShortString.isEmpty() ? r->String : r->ShortString;
  }
  // Shown in the editor's tree only; the image build never takes it.
  return MultiLingual().FromRussian(U("*** Не найден ***")) + u' ' + type;
}

QString TDeviceMenu::CheckReferences() const {
  QString out;
  if (!Root)
    return out;
  const IXXMLNodeList items = Root->SelectNodes("//item");
  for (int i = 0; i < items->GetCount(); ++i) {
    const IXXMLNode n = items->GetItem(i);
    // The kind as the image build takes it: the item's own or inherited.
    const QString type = ItemType(n);
    if (type.isEmpty())
      out += "no desc-type in" + n->GetXml() + "\r\n";
    else if (type == "event" && !HasAttr(n, "desc-id"))
      continue; // the editor's own event list entry: it opens the list of all events
    else if (!HasAttr(n, "desc-id") && !NeedsNoId(type))
      out += "no desc-id in" + n->GetXml() + "\r\n";
    else if (type != "eventlevel" && type != "alarm" && !FindRecord(n))
      out += "invalid reference in" + n->GetXml() + "\r\n";
  }
  return out;
}

// ---- the build

struct TDeviceMenu::TBuild {
  TDeviceMenu &M;
  TDeviceDescriptor &D;
  QIODevice &S;
  qint64 Addr = 0;    // running address (may pass $FFFF: checked before anything is written)
  qint64 MaxAddr = 0; // highest record address
  std::vector<qint64> EventAddr, MeasureAddr;

  const uint8_t *Map() const { return D.FDeviceDescriptorBin.FCharMap.data(); }
  int CaptionBytes(const QString &Caption) const { return int(EncodeDisplayString(Caption, Map()).size()); }
  void Bytes(const QByteArray &B) {
    if (S.write(B) != B.size())
      throw EKvError("stream write error");
  }
  void Byte(int V) { Bytes(QByteArray(1, char(CheckedCast<uint8_t>(V)))); }
  void Word(qint64 V) {
    const uint16_t w = CheckedCast<uint16_t>(V);
    Bytes(QByteArray(1, char(w & 0xFF)) + QByteArray(1, char(w >> 8)));
  }
  void Caption(const QString &Text) {
    Bytes(EncodeDisplayString(Text, Map()));
    Byte(0);
  }
  [[noreturn]] static void NoRecords(const IXXMLNode &Node) {
    throw EKvError(U("Нет записей для пункта меню ") + Node->GetXml());
  }
  void Place(const IXXMLNode &Node, int Size) {
    SetAttr(Node, "offset", QString::number(Addr));
    MaxAddr = std::max(MaxAddr, Addr);
    Addr += Size;
  }
  static qint64 Offset(const IXXMLNode &Node) { return GetAttrInt(Node, "offset", 0); }

  // The caption with a trailing type suffix "(N)" taken off; N or -1.
  static QString Stripped(const QString &Caption, int *Type) {
    // A "$" number is hexadecimal: "($1F)" types the list $1F.
    static const QRegularExpression suffix(QStringLiteral("(.+?)\\((\\$[0-9A-Fa-f]+|\\d+)\\)"));
    QRegularExpressionMatch last;
    for (auto it = suffix.globalMatch(Caption); it.hasNext();)
      last = it.next();
    if (!last.hasMatch()) {
      *Type = -1;
      return Caption;
    }
    const QString n = last.captured(2);
    bool ok = false;
    const qint64 v = n.startsWith('$') ? n.mid(1).toLongLong(&ok, 16) : n.toLongLong(&ok, 10);
    *Type = ok && v <= 255 ? int(v) : 256;
    return last.captured(1);
  }

  void Layout(const IXXMLNode &List) {
    for (const IXXMLNode &n : Elements(List)) {
      const QString name = n->GetNodeName();
      const QString type = GetAttrStr(n, "desc-type", QString());
      const QString caption = GetAttrStr(n, "caption", QString());
      if (type == "event") {
        if (D.FEvents.empty() || D.FEventMeasures.empty())
          NoRecords(n);
        Place(n, 8 + CaptionBytes(caption));
        EventAddr.clear();
        for (const auto &e : D.FEvents) {
          EventAddr.push_back(Addr);
          MaxAddr = std::max(MaxAddr, Addr);
          Addr += 9 + CaptionBytes(e->String);
        }
        continue;
      }
      int suffix = 0;
      const QString text = Stripped(caption, &suffix);
      if (name == "item-list") {
        if (GetAttrInt(n, "ustav-group", 0) == 2 && !Elements(n).isEmpty()) {
          const IXXMLNode group1 = GroupOneList();
          if (!group1 || Elements(group1).isEmpty())
            NoRecords(n);
        }
        Place(n, 8 + CaptionBytes(text));
        Layout(n);
      } else if (name == "item") {
        if (type == "alarm" && D.FEventMeasures.empty())
          NoRecords(n);
        if (type == "paramdate")
          M.DateItemAddr = uint16_t(std::min<qint64>(Addr, 0xFFFF));
        Place(n, type == "alarm" ? 8 + CaptionBytes(text) : 7);
      } else {
        throw EKvError("invalid node " + name);
      }
    }
  }

  IXXMLNode GroupOneList() const {
    const IXXMLNodeList l = M.Root->SelectNodes("//item-list[@ustav-group]");
    for (int i = 0; i < l->GetCount(); ++i)
      if (GetAttrInt(l->GetItem(i), "ustav-group", 0) == 1)
        return l->GetItem(i);
    return nullptr;
  }

  // The image address of the record an item names; 0 for a kind without records.
  qint64 Reference(const IXXMLNode &Item) {
    const QString type = ItemType(Item);
    if (!HasRecord(type))
      return 0;
    const TDDObject *r = M.FindRecord(Item);
    if (!r)
      throw EKvError(type + U(" не найден id ") + QString::number(GetAttrInt(Item, "desc-id", 0)) + "\r\n" +
                     Item->GetXml());
    return r->ImageAddr;
  }

  void Write(const IXXMLNode &List) {
    const QList<IXXMLNode> kids = Elements(List);
    for (qsizetype i = 0; i < kids.size(); ++i) {
      const IXXMLNode &n = kids[i];
      const qint64 prev = Offset(kids[i > 0 ? i - 1 : kids.size() - 1]);
      const qint64 next = Offset(kids[i + 1 < kids.size() ? i + 1 : 0]);
      const QString caption = GetAttrStr(n, "caption", QString());
      const QString type = GetAttrStr(n, "desc-type", QString());
      if (type == "event") {
        Byte(0x61), Word(prev), Word(next), Word(EventAddr.front()), Caption(caption);
        for (size_t e = 0; e < EventAddr.size(); ++e) {
          Byte(0x63);
          Word(EventAddr[e > 0 ? e - 1 : EventAddr.size() - 1]);
          Word(EventAddr[e + 1 < EventAddr.size() ? e + 1 : 0]);
          Word(MeasureAddr.front());
          Byte(D.FEvents[e]->Code);
          Caption(D.FEvents[e]->String);
        }
        continue;
      }
      int suffix = 0;
      const QString text = Stripped(caption, &suffix);
      if (n->GetNodeName() == "item-list") {
        const int group = GetAttrInt(n, "ustav-group", 0);
        if (group != 1 && group != 2 && suffix > 255)
          throw EKvRange(QStringLiteral("range check error: ") + caption);
        Byte(group == 1 ? 0x68 : group == 2 ? 0x69 : suffix >= 0 ? suffix : 0x61);
        Word(prev), Word(next);
        const QList<IXXMLNode> own = Elements(n);
        if (own.isEmpty())
          Word(Offset(n));
        else if (group == 2)
          Word(Offset(Elements(GroupOneList()).front()));
        else
          Word(Offset(own.front()));
        Caption(text);
        Write(n);
      } else if (type == "alarm") {
        Byte(0x64), Word(prev), Word(next), Word(MeasureAddr.front()), Caption(text);
      } else {
        Byte(0x62), Word(prev), Word(next), Word(Reference(n));
      }
    }
  }

  void Run(uint16_t BaseAddr, int Parts) {
    M.DateItemAddr = 0xFFFF;
    Addr = S.pos() + BaseAddr;
    M.StartAddr = CheckedCast<uint16_t>(Addr);
    MaxAddr = Addr;
    if (Parts & 1) {
      const IXXMLNode root = M.MenuRoot();
      if (!root)
        throw EKvError(U("Нет записей для пункта меню ") + (M.Root ? M.Root->GetXml() : QString()));
      Layout(root);
      for (size_t i = 0; i < D.FEventMeasures.size(); ++i) {
        MeasureAddr.push_back(Addr + 7 * qint64(i));
        MaxAddr = std::max(MaxAddr, MeasureAddr.back());
      }
      if (MaxAddr > 0xFFFF)
        throw EKvRange(QString::asprintf("Недопустимое смещение при формировании меню\r\nадрес начала: %4.4x\r\n"
                                         "адрес окончания: %4.4x",
                                         M.StartAddr, unsigned(Addr + 7 * qint64(D.FEventMeasures.size()))));
      Write(root);
      for (size_t i = 0; i < D.FEventMeasures.size(); ++i) {
        const TDDMeasureRef &em = *D.FEventMeasures[i];
        const TDDMeasure *m = D.FindMeasureById(em.MeasureIder);
        if (!m)
          throw EKvError(U("Не найдено измерение для события ") + QString::number(em.MeasureIder));
        Byte(0x65);
        Word(MeasureAddr[i > 0 ? i - 1 : MeasureAddr.size() - 1]);
        Word(MeasureAddr[i + 1 < MeasureAddr.size() ? i + 1 : 0]);
        Word(m->ImageAddr);
      }
    }
    if (Parts & 2)
      EventTable();
  }

  void EventTable() {
    if (!M.Root)
      return;
    for (const IXXMLNode &e : Elements(M.Root)) {
      if (e->GetNodeName() != "event")
        continue;
      Byte(0x71);
      const int action = GetAttrInt(e, "action-id", 0);
      Byte(GetAttrInt(e, "type-id", 0));
      Byte(GetAttrInt(e, "code", 0));
      Byte(action);
      if (action == 14) {
        const IXXMLNode target = ResolveMenuPath(M.Document, GetAttrStr(e, "target", QString()));
        Word(target ? GetAttrInt(target, "offset", M.StartAddr) : M.StartAddr);
      }
    }
  }
};

void TDeviceMenu::Build(QIODevice &Stream, uint16_t BaseAddr, int Parts) {
  if (!Descriptor)
    throw EKvError("menu error");
  TBuild b{*this, *Descriptor, Stream};
  auto removeOffsets = [this] {
    if (!Root)
      return;
    const IXXMLNodeList marked = Root->SelectNodes("//*[@offset]");
    for (int i = 0; i < marked->GetCount(); ++i)
      marked->GetItem(i)->RemoveAttr("offset");
  };
  try {
    b.Run(BaseAddr, Parts);
  } catch (...) {
    removeOffsets();
    throw;
  }
  removeOffsets();
}

void TDeviceMenu::WriteListing(QIODevice &Stream, uint16_t BaseAddr, qint64 StartPos, const QString &FileName) const {
  const qint64 saved = Stream.pos();
  if (!Stream.seek(StartPos))
    throw EKvError("stream read error");
  const QByteArray bytes = Stream.readAll();
  Stream.seek(saved);
  // Device byte to program character: the inverse of the map the build used.
  uint8_t back[256] = {};
  if (Descriptor)
    for (int c = 1; c <= 255; ++c) // as the run-time map: the highest character wins
      if (const uint8_t code = Descriptor->FDeviceDescriptorBin.FCharMap[size_t(c)])
        back[code] = uint8_t(c);
  QString text = U("Листинг меню\r\n\r\naddr tp parn prrs nxts chld text\r\n--------------------------------\r\n");
  qsizetype p = 0;
  auto byte = [&]() -> int {
    if (p >= bytes.size())
      throw EKvFormat("menu listing: record past the end of the stream");
    return uint8_t(bytes[p++]);
  };
  auto word = [&]() { const int lo = byte(); return lo | (byte() << 8); };
  auto caption = [&]() {
    QString hex;
    QByteArray program;
    int c;
    do {
      c = byte();
      hex += QString::asprintf("%2.2x ", c);
      if (c != 0 && back[c] != 0)
        program += char(back[c]);
    } while (c != 0);
    return " " + hex + "(" + FromWin1251(program) + ")";
  };
  while (p < bytes.size()) {
    const qint64 addr = BaseAddr + StartPos + p;
    const int type = byte();
    if (type == 0xAA)
      break;
    switch (type) {
    case 0x61: case 0x64: case 0x68: case 0x69: case 0x63: {
      const int prev = word(), next = word(), child = word();
      QString line = QString::asprintf("%4.4x %2.2x %4.4x %4.4x %4.4x %4.4x", unsigned(addr), type, 0xFFFF, prev,
                                       next, child);
      if (type == 0x63)
        line += QString::asprintf(" %2.2x", byte());
      text += line + caption() + "\r\n";
      break;
    }
    case 0x62: case 0x65: {
      const int prev = word(), next = word(), ref = word();
      text += QString::asprintf("%4.4x %2.2x %4.4x %4.4x %4.4x %4.4x\r\n", unsigned(addr), type, 0xFFFF, prev, next,
                                ref);
      break;
    }
    default:
      // A list typed by its caption's suffix is in the image as typed; the
      // listing cannot read past a record it does not know and says so.
      text += QString::asprintf("invalid rectype %2.2x\r\n", type);
      SaveFileBytes(FileName, ToWin1251(text));
      return;
    }
  }
  SaveFileBytes(FileName, ToWin1251(text));
}

// ---- the editor without widgets

TMenuEditorCore::TMenuEditorCore() : FMenu(std::make_unique<TDeviceMenu>()) {}

void TMenuEditorCore::LoadFromFile(const QString &FileName) {
  FFileName = FileName;
  FMenu.reset();
  FMenu = std::make_unique<TDeviceMenu>(FileName);
}

void TMenuEditorCore::SetDescriptor(TDeviceDescriptor *Descriptor) {
  if (!FMenu)
    throw EKvError("menu error");
  FDescriptor = Descriptor;
  FMenu->Descriptor = Descriptor;
  if (FMenu->Root && !FMenu->MenuRoot())
    FMenu->Root->AddChild("item-list");
  FDescTree.clear();
  if (!Descriptor)
    return;
  TDeviceDescriptor &d = *Descriptor;
  auto recordNode = [](TDDNamedObject &R) {
    return TDescTreeNode{R.ShortString.isEmpty() ? R.String : R.ShortString, &R, {}};
  };
  auto heading = [&](const char *Text, auto... Lists) {
    TDescTreeNode h{U(Text), nullptr, {}};
    (
        [&] {
          for (const auto &r : *Lists)
            h.Children.push_back(recordNode(*r));
        }(),
        ...);
    FDescTree.push_back(std::move(h));
  };
  heading("Параметры", &d.FParams, &d.FParamsMvp, &d.FParamsMvs);
  heading("Уставки", &d.FUstavs);
  heading("Измерения", &d.FMeasures);
  heading("События", &d.FEvents);
  FDescTree.push_back(recordNode(d.FParamCommon.Date));
  FDescTree.push_back(recordNode(d.FParamCommon.Status));
}

void TMenuEditorCore::Save(const QString &FileName) {
  SaveXMLDocument(FMenu->Document, FileName);
  FMenu->Modified = false;
}

int TMenuEditorCore::Level(const IXXMLNode &Node) const {
  // The root list's parent is the document element, whose parent is the document.
  int up = 0;
  for (IXXMLNode n = Node->GetParentNode(); n && n->GetNodeName() != "#document"; n = n->GetParentNode())
    ++up;
  return up - 1;
}

QList<IXXMLNode> TMenuEditorCore::TreeChildren(const IXXMLNode &Node) const {
  if (Level(Node) >= FMenu->Depth)
    return {};
  const QList<IXXMLNode> kids = Elements(Node);
  for (const IXXMLNode &k : kids)
    if (k->GetNodeName() != "item-list" && k->GetNodeName() != "item")
      throw EKvError("invalid node " + k->GetNodeName());
  return kids;
}

QString TMenuEditorCore::TreeText(const IXXMLNode &Node) const {
  if (Level(Node) == 0)
    return U("Старт");
  return Node->GetNodeName() == "item-list" ? GetAttrStr(Node, "caption", QString()) : FMenu->DisplayCaption(Node);
}

int TMenuEditorCore::TreeImage(const IXXMLNode &Node) const {
  if (Node->GetNodeName() == "item-list") {
    if (GetAttrInt(Node, "ustav-group", 0) != 0)
      return 2;
    return GetAttrStr(Node, "desc-type", QString()) == "eventlevel" ? 3 : 0;
  }
  if (GetAttrStr(Node, "desc-type", QString()) == "alarm")
    return 4;
  return FMenu->DisplayCaption(Node).startsWith("***") ? 5 : 1;
}

bool TMenuEditorCore::CanInsert(const IXXMLNode &Target) const {
  return Target && Level(Target) < FMenu->Depth &&
         !(Target->GetNodeName() == "item" && GetAttrStr(Target, "desc-type", QString()) == "event");
}

IXXMLNode TMenuEditorCore::AddList(const IXXMLNode &Target, const QString &Caption, const QString &DescType) {
  IXXMLNode n = Target->AddChild("item-list");
  SetAttr(n, "caption", Caption);
  if (!DescType.isEmpty())
    SetAttr(n, "desc-type", DescType);
  FMenu->Modified = true;
  return n;
}

IXXMLNode TMenuEditorCore::AddItem(const IXXMLNode &Target, const QString &Caption, const QString &DescType) {
  IXXMLNode n = Target->AddChild("item");
  SetAttr(n, "caption", Caption);
  SetAttr(n, "desc-type", DescType);
  FMenu->Modified = true;
  return n;
}

IXXMLNode TMenuEditorCore::InsertBlank(const IXXMLNode &Target) {
  return CanInsert(Target) ? AddList(Target, U("новый"), QString()) : nullptr;
}

IXXMLNode TMenuEditorCore::InsertRecord(const IXXMLNode &Target, TDDNamedObject &Record) {
  QString type;
  if (auto *p = dynamic_cast<TDDParam *>(&Record))
    type = p->RecordType == 38 ? "param-mvp" : p->RecordType == 39 ? "param-mvs" : "param";
  else if (dynamic_cast<TDDUstav *>(&Record))
    type = "ustav";
  else if (dynamic_cast<TDDMeasure *>(&Record))
    type = "measure";
  else if (dynamic_cast<TDDEvent *>(&Record))
    type = "event";
  else if (Record.RecordType == 29)
    type = "paramdate";
  else if (Record.RecordType == 30)
    type = "paramstatus";
  else
    throw EKvError(QStringLiteral("invalid ddo ") + typeid(Record).name());
  IXXMLNode n = Target->AddChild("item");
  SetAttr(n, "desc-id", QString::number(Record.Ider));
  SetAttr(n, "desc-type", type);
  FMenu->Modified = true;
  return n;
}

QList<IXXMLNode> TMenuEditorCore::Insert(const IXXMLNode &Target, const std::vector<const TDescTreeNode *> &Selected) {
  QList<IXXMLNode> made;
  if (!CanInsert(Target) || !FDescriptor)
    return made;
  TDeviceDescriptor &d = *FDescriptor;
  const bool single = Selected.size() == 1;
  const bool top = single && !Selected[0]->Record &&
                   std::any_of(FDescTree.begin(), FDescTree.end(), [&](const TDescTreeNode &n) { return &n == Selected[0]; });
  if (top && Selected[0]->Text == U("Уставки")) {
    for (size_t i = 0; i < d.FUstavLevels.size(); ++i) {
      const IXXMLNode list = AddList(Target, d.FUstavLevels[i].Value1, "ustav");
      for (const auto &u : d.FUstavs)
        if (u->ImageLevel() == i + 1 && u->FModbusObject.Acc != 0)
          InsertRecord(list, *u);
      made << list;
    }
  } else if (top && Selected[0]->Text == U("События")) {
    for (size_t i = 0; i < d.FEventLevels.size(); ++i) {
      const IXXMLNode list = AddList(Target, d.FEventLevels[i].Value1, "eventlevel");
      for (const auto &e : d.FEvents)
        if (e->LevelMask == i + 1)
          InsertRecord(list, *e);
      made << list;
    }
  } else {
    for (auto it = Selected.rbegin(); it != Selected.rend(); ++it)
      if ((*it)->Record)
        made << InsertRecord(Target, *(*it)->Record);
  }
  return made;
}

IXXMLNode TMenuEditorCore::InsertUstavGroup(const IXXMLNode &Target) {
  if (!CanInsert(Target))
    return nullptr;
  const IXXMLNodeList groups = FMenu->Root->SelectNodes("//item-list[@ustav-group]");
  int group = 1;
  if (groups->GetCount() >= 2)
    throw EKvError("invalid ustav group count");
  if (groups->GetCount() == 1) {
    const int other = GetAttrInt(groups->GetItem(0), "ustav-group", 0);
    if (other != 1 && other != 2)
      throw EKvError("invalid ustav group");
    group = other == 1 ? 2 : 1;
  }
  IXXMLNode n = AddList(Target, group == 1 ? U("Уставки") : U("Уставки 2"), QString());
  SetAttr(n, "ustav-group", QString::number(group));
  return n;
}

IXXMLNode TMenuEditorCore::InsertEvent(const IXXMLNode &Target) {
  if (const IXXMLNode existing = FMenu->Root->SelectSingleNode("//item[@desc-type='event']"))
    return existing;
  return CanInsert(Target) ? AddItem(Target, U("Список событий"), "event") : nullptr;
}

IXXMLNode TMenuEditorCore::InsertAlarm(const IXXMLNode &Target) {
  return CanInsert(Target) ? AddItem(Target, U("Авария"), "alarm") : nullptr;
}

bool TMenuEditorCore::CanEditText(const IXXMLNode &Node) const {
  if (Node->GetNodeName() == "item-list")
    return true;
  const QString type = GetAttrStr(Node, "desc-type", QString());
  return type == "alarm" || (type == "eventlevel" && GetAttrInt(Node, "desc-id", 0) == -1);
}

bool TMenuEditorCore::EndEdit(const IXXMLNode &Node, const QString &Text) {
  if (GetAttrInt(Node, "desc-id", 0) > 0)
    return false;
  SetExistingAttr(Node, "caption", Text);
  FMenu->Modified = true;
  return true;
}

void TMenuEditorCore::Delete(const QList<IXXMLNode> &Nodes) {
  for (const IXXMLNode &n : Nodes)
    if (Level(n) > 0) {
      n->Remove();
      FMenu->Modified = true;
    }
}

bool TMenuEditorCore::MoveUp(IXXMLNode &Node) {
  IXXMLNode prev = Node->SelectSingleNode("preceding-sibling::*[1]");
  if (!prev || Level(Node) == 0)
    return false;
  SwapNodes(Node, prev);
  FMenu->Modified = true;
  return true;
}

bool TMenuEditorCore::MoveDown(IXXMLNode &Node) {
  IXXMLNode next = Node->SelectSingleNode("following-sibling::*[1]");
  if (!next || Level(Node) == 0)
    return false;
  SwapNodes(Node, next);
  FMenu->Modified = true;
  return true;
}

QString TMenuEditorCore::Check() const {
  const QString problems = FMenu->CheckReferences();
  return problems.isEmpty() ? U("Ошибок на найдено") : problems.left(2000);
}

const TDescTreeNode *TMenuEditorCore::FindDescNode(const IXXMLNode &Item) const {
  const TDDNamedObject *r = FMenu->FindRecord(Item);
  if (!r)
    return nullptr;
  for (const TDescTreeNode &top : FDescTree) {
    if (top.Record == r)
      return &top;
    for (const TDescTreeNode &c : top.Children)
      if (c.Record == r)
        return &c;
  }
  return nullptr;
}

QString TMenuEditorCore::NodePath(const IXXMLNode &Node) {
  QStringList parts;
  for (IXXMLNode n = Node; n && n->GetNodeName() != "#document"; n = n->GetParentNode())
    parts.prepend(QString::number(n->SelectNodes("preceding-sibling::*")->GetCount()));
  return parts.join(' ');
}

std::vector<TMenuEventRow> TMenuEditorCore::EventRows() const {
  std::vector<TMenuEventRow> rows;
  if (!FMenu->Root)
    return rows;
  auto name = [](const TXValueList &List, int Id) {
    for (const TXValue &v : List)
      if (v.Number == Id)
        return v.Text;
    return QString();
  };
  for (const IXXMLNode &e : Elements(FMenu->Root)) {
    if (e->GetNodeName() != "event")
      continue;
    TMenuEventRow r{e, name(FMenu->Types, GetAttrInt(e, "type-id", 0)), GetAttrStr(e, "code", QString()),
                    name(FMenu->Actions, GetAttrInt(e, "action-id", 0)), QString()};
    if (const IXXMLNode t = ResolveMenuPath(FMenu->Document, GetAttrStr(e, "target", QString())))
      r.Target = HasAttr(t, "caption") ? GetAttrStr(t, "caption", QString()) : FMenu->DisplayCaption(t);
    rows.push_back(r);
  }
  return rows;
}

void TMenuEditorCore::InsertEventRow(int Index) {
  const std::vector<TMenuEventRow> rows = EventRows();
  IXXMLNode e = FMenu->Document->CreateElement("event");
  for (const char *a : {"type-id", "code", "action-id"})
    SetAttr(e, a, "1");
  FMenu->Root->InsertBefore(e, Index >= 0 && size_t(Index) < rows.size() ? rows[size_t(Index)].Element : nullptr);
  FMenu->Modified = true;
}

void TMenuEditorCore::DeleteEventRow(int Index) {
  const std::vector<TMenuEventRow> rows = EventRows();
  if (Index < 0 || size_t(Index) >= rows.size())
    return;
  rows[size_t(Index)].Element->Remove();
  FMenu->Modified = true;
}

void TMenuEditorCore::Link(int Row, const IXXMLNode &Node) {
  const std::vector<TMenuEventRow> rows = EventRows();
  if (Row < 0 || size_t(Row) >= rows.size() || !Node)
    return;
  SetAttr(rows[size_t(Row)].Element, "target", NodePath(Node));
  FMenu->Modified = true;
}
