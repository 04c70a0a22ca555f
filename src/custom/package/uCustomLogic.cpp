#include "uCustomLogic.h"

#include "uSchemaModule.h"

#include "uConfigurator.h"
#include "uErrors.h"

#include <algorithm>
#include <memory>
#include <set>

QList<TCustomUnit> MergeCustomUnits(const TModule &Base, const IXXMLNode &CustomRoot) {
  QList<TCustomUnit> units;
  std::set<int> ids;
  for (const TAbstract *block : Base.AbstractList.Items()) {
    ids.insert(block->Id);
    if (!block->Custom)
      continue;
    IXXMLNode unit = CustomRoot->SelectSingleNode(QStringLiteral("module[@orgid=%1]").arg(block->Id));
    if (!unit) {
      unit = CustomRoot->AddChild(QStringLiteral("module"));
      unit->SetStrAttr(QStringLiteral("caption"), block->Caption);
      const TUnitRect &r = block->Rect;
      unit->SetStrAttr(QStringLiteral("rect"), QStringLiteral("%1,%2,%3,%4")
                                                    .arg(r.Left)
                                                    .arg(r.Top)
                                                    .arg(r.Right - r.Left)
                                                    .arg(r.Bottom - r.Top));
      unit->SetIntAttr(QStringLiteral("orgid"), block->Id);
      for (const char *child : {"implementation", "module-list", "input", "output"})
        unit->AddChild(QString::fromLatin1(child));
    }
    units.append({block->Caption, unit});
  }
  const IXXMLNodeList modules = CustomRoot->SelectNodes(QStringLiteral("module"));
  for (int i = 0; i < modules->GetCount(); ++i) {
    const IXXMLNode m = modules->GetItem(i);
    // An orgid that is no number names no block either.
    bool ok = false;
    const int orgid = m->GetStrAttr(QStringLiteral("orgid"), {}).toInt(&ok);
    if (!ok || !ids.count(orgid))
      m->Remove();
  }
  return units;
}

void RenumberUnitInterface(const IXXMLNode &Unit) {
  for (const char *type : {"inint", "outint"}) {
    const IXXMLNodeList items =
        Unit->SelectNodes(QStringLiteral("implementation/element[@type='%1']").arg(QString::fromLatin1(type)));
    for (int i = 0; i < items->GetCount(); ++i)
      items->GetItem(i)->SetIntAttr(QStringLiteral("gid"), i + 1);
  }
}

// ---- unit interface choices

namespace {

QString ChoiceText(const TAbstract &Module, const QString &Name) { return Module.Caption + QStringLiteral(" / ") + Name; }

// Whether Block is a constant, or a label (reference) that one feeds.
// Visited breaks label cycles: a label met again feeds nothing.
bool FedByConstant(const TModule &Base, const TAbstract *Block, std::set<const TAbstract *> &Visited) {
  if (!Block || !Visited.insert(Block).second)
    return false;
  if (Block->Type == atDescriptor && Block->IsElement()) {
    const TFunctionDescriptor *f = static_cast<const TElement *>(Block)->Func;
    return f && (f->Id == QLatin1String("zero") || f->Id == QLatin1String("one"));
  }
  if (Block->Type == atLabel) {
    const TLink *in = Base.LinkList.FindInput(Block->Id, 0);
    return in && FedByConstant(Base, in->From, Visited);
  }
  if (Block->Type == atLabelRef && Block->IsElement()) {
    const auto *ref = static_cast<const TElement *>(Block);
    return FedByConstant(Base, ref->LabelRef ? ref->LabelRef : Base.AbstractList.FindById(ref->RefId), Visited);
  }
  return false;
}

} // namespace

QList<TOrgChoice> FillInputChoices(const TModule &Base) {
  QList<TOrgChoice> out;
  for (const TAbstract *m : Base.AbstractList.Items()) {
    if (m->Type != atModule)
      continue;
    for (int i = 0; i < m->OutputPins.Count(); ++i)
      for (const TLink *l : Base.LinkList.Items())
        if (l->From == m && l->FromPin == i && l->To && l->To->Type == atLabel) {
          out.append({ChoiceText(*m, l->To->Caption), {0, l->To->Id, 0}});
          break;
        }
  }
  return out;
}

QList<TOrgChoice> FillOutputChoices(const TModule &Base) {
  QList<TOrgChoice> out;
  for (const TAbstract *m : Base.AbstractList.Items()) {
    if (m->Type != atModule)
      continue;
    for (int i = 0; i < m->InputPins.Count(); ++i) {
      const TLink *in = Base.LinkList.FindInput(m->Id, i);
      std::set<const TAbstract *> visited;
      if (in && FedByConstant(Base, in->From, visited))
        out.append({ChoiceText(*m, m->InputPins[i]->Caption), {1, m->Id, i}});
    }
  }
  return out;
}

QList<TOrg> OutputsOfOtherUnits(const IXXMLNode &CustomRoot, int OrgId) {
  QList<TOrg> out;
  const IXXMLNodeList units = CustomRoot->SelectNodes(QStringLiteral("module"));
  for (int u = 0; u < units->GetCount(); ++u) {
    const IXXMLNode unit = units->GetItem(u);
    if (unit->GetIntAttr(QStringLiteral("orgid"), 0) == OrgId)
      continue;
    const IXXMLNodeList outs = unit->SelectNodes(QStringLiteral("implementation/element[@type='outint']"));
    for (int i = 0; i < outs->GetCount(); ++i)
      out.append({1, outs->GetItem(i)->GetIntAttr(QStringLiteral("orgid"), 0),
                  outs->GetItem(i)->GetIntAttr(QStringLiteral("orgpin"), 0)});
  }
  return out;
}

void ApplyUnitChoices(TModule &Unit, int Kind, const QList<TOrgChoice> &Choices, const QList<bool> &Checked) {
  const uint8_t type = Kind == 0 ? atInint : atOutint;
  const int x = Kind == 0 ? 4 : 30;
  int lowest = 0;
  for (const TAbstract *a : Unit.AbstractList.Items())
    if (a->Rect.Left <= x + 4 && a->Rect.Right >= x - 4)
      lowest = std::max(lowest, a->Rect.Top);
  int y = 4 + lowest;
  for (int i = 0; i < Choices.size(); ++i) {
    const TOrg &org = Choices[i].Org;
    TAbstract *e = nullptr;
    for (TAbstract *a : Unit.AbstractList.Items())
      if (a->Type == type && a->OrgId == org.OrgId && a->OrgPin == org.OrgPin)
        e = a;
    const bool checked = i < Checked.size() && Checked[i];
    if (checked && e) {
      y = std::max(y, e->Rect.Top);
    } else if (checked) {
      auto n = std::make_unique<TElement>(&Unit, type, 0, 0, Unit.Configurator, Unit.Descriptor.get(), nullptr);
      n->Caption = Choices[i].Text;
      n->OrgId = org.OrgId;
      n->OrgPin = org.OrgPin;
      n->SetRect({x, y, x + n->Rect.Right - n->Rect.Left, y + n->Rect.Bottom - n->Rect.Top});
      Unit.AbstractList.Add(n.get());
      n.release();
      y += 4;
    } else if (e) {
      Unit.AbstractList.Remove(e);
    }
  }
}

// ---- merging the units into the base logic

TUnitRect UnitRectFromText(const QString &Text) {
  const QStringList f = Text.split(u',');
  auto field = [&](int I) { return I < f.size() ? f[I].trimmed().toInt() : 0; };
  const int left = field(0), top = field(1);
  return {left, top, left + field(2), top + field(3)};
}

namespace {

struct TUnitPort {
  TElement *Block;
  int OrgId, OrgPin, Gid;
};

} // namespace

void MergeUnits(TModule &Base, const QList<TCustomUnit> &Units) {
  for (const TCustomUnit &unit : Units) {
    auto owned = std::make_unique<TModule>(&Base, 0);
    TModule *u = owned.get();
    u->Configurator = Base.Configurator;
    u->Descriptor = Base.Descriptor;
    u->Root = true;
    u->Caption = unit.Node->GetStrAttr(QStringLiteral("caption"), unit.Caption);
    // An interface element without a pin number is dropped when the unit
    // is read: it is caught here, before the unit joins the base logic.
    const IXXMLNodeList ends =
        unit.Node->SelectNodes(QStringLiteral("implementation/element[@type='inint' or @type='outint']"));
    for (int i = 0; i < ends->GetCount(); ++i)
      if (ends->GetItem(i)->GetIntAttr(QStringLiteral("gid"), 0) < 1)
        throw EKvError("internal error");
    u->LoadFromNode(unit.Node);
    u->SetRect(UnitRectFromText(unit.Node->GetStrAttr(QStringLiteral("rect"), {})));
    Base.AbstractList.Add(u);
    owned.release();
    // Every port is checked before the first link changes.
    QList<TUnitPort> ports;
    for (TAbstract *b : u->AbstractList.Items()) {
      if ((b->Type != atInint && b->Type != atOutint) || !b->IsElement())
        continue;
      const IXXMLNode n = unit.Node->SelectSingleNode(QStringLiteral("implementation/element[@id=%1]").arg(b->Id));
      if (!n)
        throw EKvError("internal error");
      const TUnitPort p{static_cast<TElement *>(b), n->GetIntAttr(QStringLiteral("orgid"), 0),
                        n->GetIntAttr(QStringLiteral("orgpin"), 0), n->GetIntAttr(QStringLiteral("gid"), 0)};
      const int pins = b->Type == atInint ? u->InputPins.Count() : u->OutputPins.Count();
      if (p.Gid < 1 || p.Gid > pins)
        throw EKvError("internal error");
      ports.append(p);
    }
    for (const TUnitPort &p : ports) {
      if (p.Block->Type == atInint) {
        TAbstract *label = Base.AbstractList.FindById(p.OrgId);
        if (!label || label->Type != atLabel || !label->IsElement())
          throw EKvError("invalid label");
        auto ref = std::make_unique<TElement>(&Base, atLabelRef, 0, 0, Base.Configurator, Base.Descriptor.get(),
                                              nullptr);
        ref->SetLabel(static_cast<TElement *>(label));
        TElement *r = ref.get();
        Base.AbstractList.Add(r);
        ref.release();
        Base.LinkList.Add(new TLink(&Base, r, 0, u, p.Gid - 1));
      } else {
        TLink *old = Base.LinkList.FindInput(p.OrgId, p.OrgPin);
        if (!old)
          throw EKvError("link not found");
        TAbstract *target = old->To;
        Base.LinkList.Remove(old);
        Base.LinkList.Add(new TLink(&Base, u, p.Gid - 1, target, p.OrgPin));
      }
    }
  }
}
