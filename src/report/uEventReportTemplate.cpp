#include "uEventReportTemplate.h"

#include "uErrors.h"
#include "uTextCodec.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace {
std::optional<QString> Attr(const IXXMLNode &Node, const QString &Name) {
  if (!Node || !Node->SelectSingleNode('@' + Name))
    return std::nullopt;
  return Node->GetStrAttr(Name, QString());
}

// A filter and its items: register and level lists give caption, id and
// pin; the alarm's level and event lists give caption ("N/D" when none),
// level and event code.
TTemplateFilter Filter(const IXXMLNode &Node, bool AlarmList) {
  TTemplateFilter f;
  if (!Node)
    return f;
  f.Present = true;
  f.Caption = Attr(Node, QStringLiteral("caption"));
  const IXXMLNodeList items = Node->SelectNodes(QStringLiteral("item"));
  for (int i = 0; i < items->GetCount(); ++i) {
    const IXXMLNode it = items->GetItem(i);
    TTemplateItem t;
    t.Caption = it->GetStrAttr(QStringLiteral("caption"), AlarmList ? QStringLiteral("N/D") : QString());
    if (AlarmList) {
      t.Level = it->GetIntAttr(QStringLiteral("level"), 0);
      t.Code = it->GetIntAttr(QStringLiteral("code"), 0);
    } else {
      t.Id = it->GetIntAttr(QStringLiteral("id"), -1);
      t.Pin = it->GetIntAttr(QStringLiteral("pin"), -1);
    }
    t.Checked = it->GetIntAttr(QStringLiteral("checked"), 0) != 0;
    f.Items.append(t);
  }
  return f;
}

TTemplateFilter Registers(const IXXMLNode &Node) { return Filter(Node, false); }
TTemplateFilter Events(const IXXMLNode &Node) { return Filter(Node, true); }

IXXMLNode Child(const IXXMLNode &Node, const char *Path) { return Node->SelectSingleNode(QString::fromLatin1(Path)); }

// The line the parser names, for the error text.
QString SourceLine(const QByteArray &Bytes, const QString &Error) {
  const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("at line (\\d+)")).match(Error);
  if (!m.hasMatch())
    return {};
  return FromWin1251(Bytes.split('\n').value(m.captured(1).toInt() - 1)).trimmed();
}
} // namespace

TEventReportTemplate ReadEventReportTemplateBytes(const QByteArray &Bytes) {
  TEventReportTemplate t;
  t.Doc = NewXMLDocument();
  if (!t.Doc->LoadBytes(Bytes))
    throw EKvFormat(t.Doc->GetParseError() + QStringLiteral("\rЪ") + SourceLine(Bytes, t.Doc->GetParseError()));
  t.Root = t.Doc->GetDocumentElement();
  t.Title = Attr(t.Root, QStringLiteral("title"));
  t.PeriodCaption = Attr(Child(t.Root, "filter-period"), QStringLiteral("caption"));
  t.Level = Registers(Child(t.Root, "filter-level"));
  t.Measure = Registers(Child(t.Root, "filter-measure"));
  t.Permanent = Registers(Child(t.Root, "filter-discret[@compare=\"0\"]"));
  t.Variable = Registers(Child(t.Root, "filter-discret[@compare=\"1\"]"));
  t.Alarm = Child(t.Root, "alarm-report");
  if (!t.Alarm)
    t.Alarm = t.Root->AddChild(QStringLiteral("alarm-report"));
  t.AlarmTitle = Attr(t.Alarm, QStringLiteral("title"));
  t.AlarmPeriodCaption = Attr(Child(t.Alarm, "filter-period"), QStringLiteral("caption"));
  t.StartLevel = Events(Child(t.Alarm, "filter-level1"));
  t.StopLevel = Events(Child(t.Alarm, "filter-level2"));
  t.StartEvent = Events(Child(t.Alarm, "filter-event1"));
  t.StopEvent = Events(Child(t.Alarm, "filter-event2"));
  t.AlarmMeasure = Registers(Child(t.Alarm, "filter-measure"));
  t.AlarmPermanent = Registers(Child(t.Alarm, "filter-discret[@compare=\"0\"]"));
  t.AlarmVariable = Registers(Child(t.Alarm, "filter-discret[@compare=\"1\"]"));
  return t;
}

TEventReportTemplate ReadEventReportTemplate(const QString &FileName) {
  QFile f(FileName);
  if (!QFileInfo(FileName).isFile() || !f.open(QIODevice::ReadOnly))
    throw EKvError(QStringLiteral("cannot open ") + FileName);
  return ReadEventReportTemplateBytes(f.readAll());
}
