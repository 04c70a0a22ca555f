#include "uPageFile.h"

#include "uErrors.h"
#include "uTextCodec.h"

#include <QFile>
#include <QRegularExpression>
#include <QSet>

namespace {
QString CannotOpenText(const QFile &File) { return "cannot open " + File.fileName() + ": " + File.errorString(); }

const QString ElementName = QStringLiteral("element");
const QString ClassName = QStringLiteral("class");

// What a widget's position and size can hold (Qt's QWIDGETSIZE_MAX): sums of
// two stay within an int.
constexpr qint64 WidgetExtent = 16777215;

struct TRange {
  const char *Name;
  qint64 Min, Max;
};
constexpr TRange Ranges[] = {
    {"mreg", 0, 65535},
    {"idx", -1, 65535},
    {"Left", -WidgetExtent, WidgetExtent},
    {"Top", -WidgetExtent, WidgetExtent},
    {"Width", -WidgetExtent, WidgetExtent},
    {"Height", -WidgetExtent, WidgetExtent},
    {"LabelSpacing", -WidgetExtent, WidgetExtent},
    {"width1", -WidgetExtent, WidgetExtent},
    {"width2", -WidgetExtent, WidgetExtent},
    {"level", -32768, 32767},
    {"bit", -32768, 32767},
    {"Size", -32768, 32767},
    {"ColCount", -32768, 32767},
    {"RowHeight", -32768, 32767},
    {"maxcount", -32768, 32767},
    {"Color", INT32_MIN, INT32_MAX},
    {"onColor", INT32_MIN, INT32_MAX},
    {"offColor", INT32_MIN, INT32_MAX},
    {"ukColor", INT32_MIN, INT32_MAX},
};

[[noreturn]] void Refuse(const QString &FileName, const IXXMLNode &Node, const QString &Limit) {
  throw EKvFormat(QStringLiteral("%1, line %2: %3").arg(FileName).arg(Node->GetLine()).arg(Limit));
}

// A number past its property's range refuses the file; a text that is no
// number is a bad value for the control's reader to report.
void CheckNumber(const QString &FileName, const IXXMLNode &Node, const QString &Name) {
  qint64 min = 0, max = 0;
  if (!PagePropertyRange(Name, min, max))
    return;
  const QString text = Node->GetText().trimmed();
  static const QRegularExpression integer(QStringLiteral("^[+-]?[0-9]+$"));
  if (!integer.match(text).hasMatch())
    return;
  bool ok = false;
  const qint64 v = text.toLongLong(&ok);
  if (!ok || v < min || v > max)
    Refuse(FileName, Node,
           QStringLiteral("%1 = %2 lies outside %3..%4").arg(Name, text.left(40)).arg(min).arg(max));
}
} // namespace

const TPageProperty *FindPageProperty(const QList<TPageProperty> &List, const QString &Name) {
  for (const TPageProperty &p : List)
    if (p.Name == Name)
      return &p;
  return nullptr;
}

bool PagePropertyRange(const QString &Name, qint64 &Min, qint64 &Max) {
  for (const TRange &r : Ranges) {
    if (Name.compare(QLatin1String(r.Name), Qt::CaseInsensitive) == 0) {
      Min = r.Min, Max = r.Max;
      return true;
    }
  }
  return false;
}

IXXMLDocument LoadPageBytes(const QByteArray &Bytes, const QString &FileName) {
  IXXMLDocument doc = NewXMLDocument();
  if (doc->LoadBytes(Bytes)) {
    CheckPageLimits(doc, FileName);
    return doc;
  }
  const QString reason = doc->GetParseError();
  // The parser's reason names the line; the line itself follows.
  const int line = reason.section(QStringLiteral("line "), 1).section(' ', 0, 0).section(',', 0, 0).toInt();
  if (line <= 0)
    throw EKvFormat(FileName + ": " + reason); // bytes that do not decode have no line yet
  QString source;
  qsizetype at = 0;
  for (int n = 1; n < line && at >= 0; ++n)
    at = Bytes.indexOf('\n', at) < 0 ? -1 : Bytes.indexOf('\n', at) + 1;
  if (at >= 0) {
    const qsizetype end = Bytes.indexOf('\n', at);
    source = FromWin1251(Bytes.mid(at, end < 0 ? -1 : end - at)).trimmed();
  }
  throw EKvError(FileName + ": " + reason + QChar('\r') + QStringLiteral("Ъ") + source);
}

IXXMLDocument LoadPageDocument(const QString &FileName) {
  QFile f(FileName);
  if (!f.open(QIODevice::ReadOnly))
    throw EKvError(CannotOpenText(f));
  return LoadPageBytes(f.readAll(), FileName);
}

QString MissingPageFileText(const QString &FileName) {
  // Main thread only, as the pages that ask.
  static QSet<QString> reported;
  if (reported.contains(FileName))
    return QString();
  // Opened again: the reason of the first try was given in the language spoken then.
  QFile f(FileName);
  if (f.open(QIODevice::ReadOnly))
    return QString();
  reported.insert(FileName);
  return CannotOpenText(f);
}

void CheckPageDepth(const IXXMLDocument &Doc, const QString &FileName) {
  // A query rather than a walk: it looks no deeper than one level past the limit.
  const QString tooDeep = QStringLiteral("/*").repeated(PageLimits::MaxDepth + 1);
  if (const IXXMLNode root = Doc->GetDocumentElement())
    if (const IXXMLNode deep = root->SelectSingleNode(tooDeep))
      Refuse(FileName, deep, QStringLiteral("nesting deeper than %1 levels").arg(PageLimits::MaxDepth));
}

void CheckPageLimits(const IXXMLDocument &Doc, const QString &FileName) {
  const IXXMLNode root = Doc->GetDocumentElement();
  if (!root)
    return;
  CheckPageDepth(Doc, FileName);
  const IXXMLNodeList elements = root->SelectNodes(QStringLiteral("//") + ElementName);
  if (elements->GetCount() > PageLimits::MaxElements)
    Refuse(FileName, elements->GetItem(PageLimits::MaxElements),
           QStringLiteral("more than %1 elements").arg(PageLimits::MaxElements));
  // Property values: the texts below an `element` (or a sub-object in it).
  const IXXMLNodeList values = root->SelectNodes(QStringLiteral("//element//*[not(*)]"));
  for (int i = 0; i < values->GetCount(); ++i)
    CheckNumber(FileName, values->GetItem(i), values->GetItem(i)->GetNodeName());
}

QList<TPageProperty> ReadPageProperties(const IXXMLNode &Node) {
  QList<TPageProperty> out;
  const IXXMLNodeList children = Node->SelectNodes(QStringLiteral("*"));
  for (int i = 0; i < children->GetCount(); ++i) {
    const IXXMLNode c = children->GetItem(i);
    const QString name = c->GetNodeName();
    if (name == ElementName || name == ClassName)
      continue;
    TPageProperty p;
    p.Name = name;
    p.Line = c->GetLine();
    p.IsObject = c->SelectSingleNode(QStringLiteral("*")) != nullptr;
    p.Text = c->GetText();
    if (p.IsObject)
      p.Sub = ReadPageProperties(c);
    out.append(p);
  }
  return out;
}

TPageElement ReadPageElement(const IXXMLNode &Node) {
  TPageElement r;
  r.ClassName = Node->GetStrNodeDef(ClassName, QString());
  r.Line = Node->GetLine();
  r.Properties = ReadPageProperties(Node);
  r.Children = ReadPageElements(Node);
  return r;
}

QList<TPageElement> ReadPageElements(const IXXMLNode &Node) {
  QList<TPageElement> out;
  const IXXMLNodeList elements = Node->SelectNodes(ElementName);
  for (int i = 0; i < elements->GetCount(); ++i)
    out.append(ReadPageElement(elements->GetItem(i)));
  return out;
}
