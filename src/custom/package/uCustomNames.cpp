#include "uCustomNames.h"

#include "uDeviceDescriptor.h"

namespace {

struct TNameGroup {
  const char *Table;
  int RecordType;
  const char *Direction;
};
constexpr TNameGroup NameGroups[] = {
    {"dd-di", 17, "Вход"}, {"dd-do", 18, "Выход"}, {"dd-le", 19, "Светодиоды"}};

IXXMLNode EmptyTable(const IXXMLNode &Logic, const QString &Name) {
  IXXMLNode table = Logic->SelectSingleNode(Name);
  if (!table)
    return Logic->AddChild(Name);
  const IXXMLNodeList content = table->SelectNodes(QStringLiteral("node()"));
  for (int i = 0; i < content->GetCount(); ++i)
    content->GetItem(i)->Remove();
  return table;
}

void AddItem(const IXXMLNode &Table, int Ider, const QString &Caption) {
  const IXXMLNode item = Table->AddChild(QStringLiteral("item"));
  item->SetIntAttr(QStringLiteral("ider"), Ider);
  item->SetStrAttr(QStringLiteral("caption"), Caption);
}

} // namespace

void StoreNameTables(const TDeviceDescriptor &Desc, const IXXMLNode &Logic) {
  for (const TNameGroup &g : NameGroups) {
    const IXXMLNode table = EmptyTable(Logic, QString::fromLatin1(g.Table));
    for (const TDDString &s : Desc.GetBitReg(g.RecordType)->Bits)
      AddItem(table, s.Ider, s.Value1);
  }
  const IXXMLNode ustav = EmptyTable(Logic, QStringLiteral("dd-ustav"));
  for (size_t i = 0; i < Desc.FUstavs.size(); ++i)
    if (Desc.FUstavs[i]->Custom)
      AddItem(ustav, int(i) + 1, Desc.FUstavs[i]->String);
}

void ApplyNameTables(TDeviceDescriptor &Desc, const IXXMLNode &Logic) {
  for (const TNameGroup &g : NameGroups) {
    const IXXMLNodeList items = Logic->SelectNodes(QString::fromLatin1(g.Table) + QStringLiteral("/item"));
    TDDStringList &bits = Desc.GetBitReg(g.RecordType)->Bits;
    for (int k = 0; k < items->GetCount(); ++k) {
      const IXXMLNode item = items->GetItem(k);
      const int ider = item->GetIntAttr(QStringLiteral("ider"), -1);
      for (TDDString &s : bits)
        if (s.Ider == ider) {
          s.Value1 = item->GetStrAttr(QStringLiteral("caption"), {});
          break;
        }
    }
  }
  const IXXMLNodeList items = Logic->SelectNodes(QStringLiteral("dd-ustav/item"));
  for (int k = 0; k < items->GetCount(); ++k) {
    const IXXMLNode item = items->GetItem(k);
    const int ider = item->GetIntAttr(QStringLiteral("ider"), 0);
    if (ider >= 1 && ider <= int(Desc.FUstavs.size()))
      Desc.FUstavs[size_t(ider - 1)]->String = item->GetStrAttr(QStringLiteral("caption"), {});
  }
}

std::vector<TCustomUstavRow> CustomUstavRows(const TDeviceDescriptor &Desc) {
  std::vector<TCustomUstavRow> rows;
  for (const auto &u : Desc.FUstavs) {
    if (!u->Custom)
      continue;
    // The level mask counts levels from 1, as the image and the menu editor do.
    const int level = int(u->LevelMask) - 1;
    const bool known = level >= 0 && level < int(Desc.FUstavLevels.size());
    rows.push_back({u.get(), known ? Desc.FUstavLevels[size_t(level)].Value1 : QStringLiteral("-")});
  }
  return rows;
}

std::vector<TCustomParamIORow> CustomParamIORows(const TDeviceDescriptor &Desc) {
  std::vector<TCustomParamIORow> rows;
  for (const TNameGroup &g : NameGroups) {
    TDDStringList &bits = Desc.GetBitReg(g.RecordType)->Bits;
    for (size_t i = 0; i < bits.size(); ++i)
      rows.push_back({g.RecordType, int(i), &bits[i], QString::fromUtf8(g.Direction)});
  }
  return rows;
}
