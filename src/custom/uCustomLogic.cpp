#include "uCustomLogic.h"

#include "uSchemaModule.h"

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
