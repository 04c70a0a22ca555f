#include "uModbusPDF.h"
#include "uDemoDevice.h"
#include "uReportPainter.h"
#include "uSimpleDeviceDescriptor.h"
#include "report_test_util.h"

#include <QBuffer>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {
const TReportSetup TestSetup{QStringLiteral("kv"), QStringLiteral("/opt/kv/kv")};

QList<TReportRow> MapRows(const QString &Body) {
  TSimpleDeviceDescriptor d;
  EXPECT_TRUE(d.Document->LoadXML("<device-descriptor>" + Body + "</device-descriptor>"));
  d.Root = d.Document->GetDocumentElement();
  QList<TReportRow> rows = ReportRows(TModbusPDF(d, TestSetup).Build());
  return rows.mid(3); // title, date line, column headers; the empty row draws nothing
}

QString RunTool(const QString &Program, const QStringList &Args) {
  QProcess p;
  p.start(Program, Args);
  p.waitForFinished(60000);
  return QString::fromUtf8(p.readAllStandardOutput());
}
} // namespace

TEST(ModbusPDF, KindTitleByElementAndRecordType) {
  const struct {
    const char *Xml, *Title;
  } cases[] = {
      {"<param-num/>", "Параметр"}, {"<param-nummvs/>", "Параметр"}, {"<param-enum/>", "Параметр перелік"},
      {"<param-char/>", "Параметр текст"}, {"<param-ddo-date/>", "Дата"}, {"<param-ddo-status/>", "Статус"},
      {"<param-bitreg/>", "Параметри діскрет"}, {"<ustav-num/>", "Уставка"},
      {"<ustav-enum><record-type>53</record-type></ustav-enum>", "Уставки діскрет"},
      {"<ustav-enum><record-type>49</record-type></ustav-enum>", "Уставка перелік"},
      {"<ustav-enum><record-type>50</record-type></ustav-enum>", "ustav-enum"},
      {"<measure-item/>", "Вимірювання"}, {"<other/>", "other"}};
  for (const auto &c : cases) {
    IXXMLDocument doc = NewXMLDocument();
    ASSERT_TRUE(doc->LoadXML(QString::fromUtf8(c.Xml)));
    EXPECT_EQ(TModbusPDF::KindTitle(doc->GetDocumentElement()), QString::fromUtf8(c.Title)) << c.Xml;
  }
}

TEST(ModbusPDF, EmptyDescriptorGivesTitleDateLineAndHeadersOnly) {
  TSimpleDeviceDescriptor d;
  const QList<TReportRow> rows = ReportRows(TModbusPDF(d, TestSetup).Build());
  ASSERT_EQ(rows.size(), 3);
  EXPECT_EQ(rows[0].Cells, QStringList{"MODBUS"});
  EXPECT_TRUE(rows[1].Cells.first().startsWith(QStringLiteral("Дата ядра ")));
  EXPECT_TRUE(rows[1].Cells.first().contains(QStringLiteral(" Дата дескриптора  ")));
  EXPECT_EQ(rows[2].Cells, QStringList({"Адреса, hex", "Позиція", "Тип", "Назва"}));
}

TEST(ModbusPDF, RowsOfBitsDuplicatesGapsAndTheRegisterLimit) {
  const QList<TReportRow> rows = MapRows(
      "<param><param-num><mreg>1</mreg><string>Uном</string></param-num>"
      "<input-output><param-bitreg><mreg>2</mreg><record-type>17</record-type><caption>Входи</caption>"
      "<string><ider>7</ider><value>ДВ1</value></string><string><ider>3</ider><value>ДВ2</value></string>"
      "</param-bitreg></input-output>"
      "<param-num><mreg>2</mreg><string>двійник</string></param-num>"
      "<param-enum><mreg>5</mreg><record-type>33</record-type><string><ider>0</ider><value>ні</value></string>"
      "<string>Режим</string></param-enum>"
      "<param-num><mreg>1024</mreg><string>поза</string></param-num></param>");
  const QList<QStringList> want = {{"0001", "Параметр", "Uном"},
                                   {"0002", "Параметри діскрет", "Входи"},
                                   {"0", "ДВ1"},
                                   {"1", "ДВ2"},
                                   {"0005", "Параметр перелік", "Режим"}};
  ASSERT_EQ(rows.size(), want.size());
  for (qsizetype i = 0; i < rows.size(); ++i)
    EXPECT_EQ(rows[i].Cells, want[i]) << i;
  const double line = TReportDocument::LineMm;
  EXPECT_DOUBLE_EQ(rows[1].Top - rows[0].Top, line);
  EXPECT_DOUBLE_EQ(rows[4].Top - rows[3].Top, line * 1.5); // registers 3 and 4 missing: one half line
}

TEST(ModbusPDF, DemoDeviceMapAsPdfHasEmbeddedDejaVuAndEveryRegister) {
  TSimpleDeviceDescriptor d;
  QByteArray bytes = BuildDeviceImage(DemoTerminalContent()).Bytes;
  QBuffer b(&bytes);
  b.open(QIODevice::ReadOnly);
  d.LoadFromStream(b);
  QTemporaryDir dir;
  const QString pdf = dir.filePath("map.pdf");
  SaveReportPdf(TModbusPDF(d, TestSetup).Build(), pdf);

  const QString fonts = RunTool("pdffonts", {pdf});
  ASSERT_TRUE(fonts.contains("DejaVuSans")) << fonts.toStdString();
  for (const QString &line : fonts.split('\n').mid(2)) {
    if (!line.trimmed().isEmpty())
      EXPECT_TRUE(QRegularExpression(R"(\s+yes\s+(yes|no)\s+(yes|no)\s+\d+\s+\d+\s*$)").match(line).hasMatch())
          << "not embedded: " << line.toStdString();
  }
  const QString text = RunTool("pdftotext", {"-layout", pdf, "-"});
  for (const char *word : {"MODBUS", "Адреса, hex", "Позиція", "Тип", "Назва"})
    EXPECT_TRUE(text.contains(QString::fromUtf8(word))) << word;
  // Every register an element of the descriptor names (a multi-word value
  // names only its first register; a setpoint names one per group).
  QSet<int> mapped;
  const IXXMLNodeList regs = d.Root->SelectNodes("//mreg");
  for (int i = 0; i < regs->GetCount(); ++i)
    if (const int reg = regs->GetItem(i)->GetText().toInt(); reg < 1024)
      mapped.insert(reg);
  for (int reg : mapped) {
    const QString hex = QStringLiteral("%1").arg(reg, 4, 16, QChar('0')).toUpper();
    EXPECT_TRUE(QRegularExpression("(^|\\s)" + hex + "\\s").match(text).hasMatch()) << hex.toStdString();
  }
  EXPECT_GT(mapped.size(), 30);
}
