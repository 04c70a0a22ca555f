#include "uModbusPDF.h"

#include "uDateTime.h"
#include "uSimpleDeviceDescriptor.h"

#include <array>
#include <cmath>

namespace {
constexpr int RegCount = 1024;

QString DateText(TDateTime Value) { return DateTimeToQDateTime(Value).toString(QStringLiteral("yyyy-MM-dd")); }

// The register an `mreg` element names, as the query `*[mreg=N]` compares
// it: by number; -1 when it is no whole number in 0..1023.
int RegOf(const IXXMLNode &Mreg) {
  bool ok = false;
  const double v = Mreg->GetText().trimmed().toDouble(&ok);
  return ok && v == std::floor(v) && v >= 0 && v < RegCount ? int(v) : -1;
}
} // namespace

TModbusPDF::TModbusPDF(const TSimpleDeviceDescriptor &Desc, const TReportSetup &Setup) : FDesc(Desc), FSetup(Setup) {}

QString TModbusPDF::KindTitle(const IXXMLNode &Node) {
  const QString name = Node->GetNodeName();
  if (name == "param-num" || name == "param-nummvp" || name == "param-nummvs")
    return QStringLiteral("Параметр");
  if (name == "param-enum")
    return QStringLiteral("Параметр перелік");
  if (name == "param-char")
    return QStringLiteral("Параметр текст");
  if (name == "param-ddo-date")
    return QStringLiteral("Дата");
  if (name == "param-ddo-status")
    return QStringLiteral("Статус");
  if (name == "param-bitreg")
    return QStringLiteral("Параметри діскрет");
  if (name == "ustav-num")
    return QStringLiteral("Уставка");
  if (name == "ustav-enum") {
    switch (Node->GetIntNodeDef(QStringLiteral("record-type"), -1)) {
    case 53: return QStringLiteral("Уставки діскрет");
    case 49: return QStringLiteral("Уставка перелік");
    default: return name;
    }
  }
  if (name == "measure-item")
    return QStringLiteral("Вимірювання");
  return name;
}

TReportDocument TModbusPDF::Build() const {
  // One pass in document order keeps the first element of every register,
  // as the first match of `//*[mreg=N]` would. A setpoint has one `mreg`
  // per group and stands at each of them.
  std::array<IXXMLNode, RegCount> byReg;
  const IXXMLNodeList regs = FDesc.Root->SelectNodes(QStringLiteral("//*/mreg"));
  for (int i = 0; i < regs->GetCount(); ++i) {
    const IXXMLNode mreg = regs->GetItem(i);
    const int reg = RegOf(mreg);
    if (reg >= 0 && !byReg[size_t(reg)])
      byReg[size_t(reg)] = mreg->GetParentNode();
  }

  TReportDocument doc(FSetup);
  doc.NewHalfLine();
  doc.DrawTitle(QStringLiteral("MODBUS"));
  doc.DrawText(QStringLiteral("Дата ядра ") + DateText(FDesc.CoreDate) + QStringLiteral(" Дата дескриптора  ") +
               DateText(FDesc.DescDate));
  doc.NewLine();
  doc.SetColumns({15, 15, 20, 50});
  doc.DrawColumnHeaders({QStringLiteral("Адреса, hex"), QStringLiteral("Позиція"), QStringLiteral("Тип"),
                         QStringLiteral("Назва")});
  doc.DrawTextAcrossCols({});
  for (int reg = 0; reg < RegCount; ++reg) {
    const IXXMLNode node = byReg[size_t(reg)];
    if (!node) {
      if (reg > 0 && byReg[size_t(reg - 1)])
        doc.NewHalfLine();
      continue;
    }
    const QString hex = QStringLiteral("%1").arg(reg, 4, 16, QChar('0')).toUpper();
    const int type = node->GetIntNodeDef(QStringLiteral("record-type"), -1);
    const bool bits = (type >= 17 && type <= 21) || type == 53;
    QString text;
    if (type == 53 || type == 33 || type == 49)
      text = node->GetStrNodeDef(QStringLiteral("string[not(ider)]"), QString());
    else if (bits)
      text = node->GetStrNodeDef(QStringLiteral("caption"), QString());
    else
      text = node->GetStrNodeDef(QStringLiteral("string[1]"), QString());
    doc.DrawTextAcrossCols({hex, QString(), KindTitle(node), text});
    if (!bits)
      continue;
    const IXXMLNodeList items = node->SelectNodes(QStringLiteral("string[ider]"));
    for (int j = 0; j < items->GetCount(); ++j)
      doc.DrawTextAcrossCols(
          {QString(), QString::number(j), QString(), items->GetItem(j)->GetStrNodeDef(QStringLiteral("value"), QString())});
  }
  doc.EndDoc();
  return doc;
}

void TModbusPDF::Execute() { ShowReportPreview(Build()); }
