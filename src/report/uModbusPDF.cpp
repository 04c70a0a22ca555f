#include "uModbusPDF.h"

#include "uDateTime.h"
#include "uDescriptorXml.h"
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
  if (name == DX_PARAM_NUM || name == DX_PARAM_NUMMVP || name == DX_PARAM_NUMMVS)
    return QStringLiteral("Параметр");
  if (name == DX_PARAM_ENUM)
    return QStringLiteral("Параметр перелік");
  if (name == DX_PARAM_CHAR)
    return QStringLiteral("Параметр текст");
  if (name == DX_PARAM_DDO_DATE)
    return QStringLiteral("Дата");
  if (name == DX_PARAM_DDO_STATUS)
    return QStringLiteral("Статус");
  if (name == DX_PARAM_BITREG)
    return QStringLiteral("Параметри діскрет");
  if (name == DX_USTAV_NUM)
    return QStringLiteral("Уставка");
  if (name == DX_USTAV_ENUM) {
    switch (Node->GetIntNodeDef(DX_RECORD_TYPE, -1)) {
    case RT_USTAV_ENUM2: return QStringLiteral("Уставки діскрет");
    case RT_USTAV_ENUM: return QStringLiteral("Уставка перелік");
    default: return name;
    }
  }
  if (name == DX_MEASURE_ITEM)
    return QStringLiteral("Вимірювання");
  return name;
}

TReportDocument TModbusPDF::Build() const {
  // One pass in document order keeps the first element of every register,
  // as the first match of `//*[mreg=N]` would. A setpoint has one `mreg`
  // per group and stands at each of them.
  std::array<IXXMLNode, RegCount> byReg;
  const IXXMLNodeList regs = FDesc.Root->SelectNodes(DXQ_ALL_MREG);
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
    const int type = node->GetIntNodeDef(DX_RECORD_TYPE, -1);
    const bool bits = !BitRegCaption(type).isEmpty() || type == RT_USTAV_ENUM2;
    QString text;
    if (type == RT_USTAV_ENUM2 || type == RT_PARAM_ENUM || type == RT_USTAV_ENUM)
      text = node->GetStrNodeDef(DXQ_NAME, QString());
    else if (bits)
      text = node->GetStrNodeDef(DX_CAPTION, QString());
    else
      text = node->GetStrNodeDef(DXQ_FIRST_STRING, QString());
    doc.DrawTextAcrossCols({hex, QString(), KindTitle(node), text});
    if (!bits)
      continue;
    const IXXMLNodeList items = node->SelectNodes(DXQ_VALUE_STRINGS);
    for (int j = 0; j < items->GetCount(); ++j)
      doc.DrawTextAcrossCols(
          {QString(), QString::number(j), QString(), items->GetItem(j)->GetStrNodeDef(DX_VALUE, QString())});
  }
  doc.EndDoc();
  return doc;
}

void TModbusPDF::Execute() { ShowReportPreview(Build()); }
