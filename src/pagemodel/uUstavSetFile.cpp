#include "uUstavSetFile.h"

#include "uDescriptorXml.h"
#include "uErrors.h"
#include "uModbus.h"
#include "uPageFile.h"

#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <algorithm>

namespace {
constexpr int SetGroups = 2;

[[noreturn]] void Refuse(const QString &FileName, const IXXMLNode &Node, const QString &Limit) {
  throw EKvFormat(QStringLiteral("%1, line %2: %3").arg(FileName).arg(Node->GetLine()).arg(Limit));
}

// An attribute that holds an integer must hold a word.
void CheckWord(const QString &FileName, const IXXMLNode &Item, const char *Name) {
  static const QRegularExpression integer(QStringLiteral("^[+-]?[0-9]+$"));
  const QString text = Item->GetStrAttr(QString::fromLatin1(Name), QString()).trimmed();
  if (!integer.match(text).hasMatch())
    return;
  bool ok = false;
  const qint64 v = text.toLongLong(&ok);
  if (!ok || v < 0 || v > 65535)
    Refuse(FileName, Item, QStringLiteral("%1 = %2 lies outside 0..65535").arg(QLatin1String(Name), text.left(40)));
}

// The register of group G (from 1) of a setpoint element; -1 when none.
int GroupReg(const IXXMLNode &Node, int G) {
  const int r = Node->GetIntNodeDef(QString(DXQ_MREG_N).arg(G), -1);
  return r >= 0 && r < TModbus::RegCount ? r : -1;
}
} // namespace

TUstavSetFile ReadUstavSetBytes(const QByteArray &Bytes, const QString &FileName, bool Exists) {
  TUstavSetFile set;
  set.Doc = NewXMLDocument();
  // A file that is there but does not load says why (bytes that do not
  // decode name their offset); a missing one is simply not a setpoint set.
  if (Exists && !set.Doc->LoadBytes(Bytes))
    throw EKvFormat("invalid format\r\n" + FileName + ": " + set.Doc->GetParseError());
  CheckPageDepth(set.Doc, FileName);
  const IXXMLNode root = set.Doc->GetDocumentElement();
  set.Descriptor = root ? root->SelectSingleNode(DX_ROOT) : IXXMLNode();
  if (!set.Descriptor)
    throw EKvError("invalid format");
  // Each register's first stored item counts, as a lookup by register finds it.
  const IXXMLNodeList items = root->SelectNodes(QStringLiteral("modbus/item"));
  if (items->GetCount() > UstavSetLimits::MaxItems)
    Refuse(FileName, items->GetItem(UstavSetLimits::MaxItems),
           QStringLiteral("more than %1 stored values").arg(UstavSetLimits::MaxItems));
  QHash<int, IXXMLNode> byReg;
  for (int i = 0; i < items->GetCount(); ++i) {
    const IXXMLNode item = items->GetItem(i);
    CheckWord(FileName, item, "mreg");
    CheckWord(FileName, item, "val");
    bool ok = false;
    const double reg = item->GetStrAttr(QStringLiteral("mreg"), QString()).trimmed().toDouble(&ok);
    if (ok && reg >= 0 && reg < TModbus::RegCount && reg == double(int(reg)) && !byReg.contains(int(reg)))
      byReg.insert(int(reg), item);
  }
  set.Groups = std::min(SetGroups, int(set.Descriptor->SelectNodes(DXQ_GROUP_MREG)->GetCount()));
  const IXXMLNodeList nodes = set.Descriptor->SelectNodes(DXQ_USTAV_SETPOINTS);
  for (int i = 0; i < nodes->GetCount(); ++i) {
    const IXXMLNode n = nodes->GetItem(i);
    if (!(n->GetIntNodeDef(DX_MODBUS_ACC, 0) & 1))
      continue;
    for (int g = 1; g <= set.Groups; ++g) {
      const int reg = GroupReg(n, g);
      if (const IXXMLNode item = byReg.value(reg))
        set.Values.append({reg, CheckedCast<uint16_t>(item->GetIntAttr(QStringLiteral("val"), 0))});
    }
  }
  return set;
}

TUstavSetFile ReadUstavSetFile(const QString &FileName) {
  QFile f(FileName);
  if (!f.exists())
    return ReadUstavSetBytes(QByteArray(), FileName, false);
  if (!f.open(QIODevice::ReadOnly))
    throw EKvFormat("invalid format\r\n" + FileName + ": " + f.errorString());
  return ReadUstavSetBytes(f.readAll(), FileName);
}
