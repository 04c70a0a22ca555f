#include "uDemoLogic.h"

#include "ixml.h"
#include "uDeviceContent.h"
#include "uErrors.h"
#include "uTextCodec.h"

#include <QFile>
#include <QStringList>
#include <initializer_list>
#include <utility>

using namespace DemoLogic;

namespace {

using TAttrs = std::initializer_list<std::pair<const char *, QString>>;

IXXMLNode Add(const IXXMLNode &Parent, const char *Name, TAttrs Attrs) {
  IXXMLNode n = Parent->AddChild(QString::fromLatin1(Name));
  for (const auto &[key, value] : Attrs)
    n->SetStrAttr(QString::fromLatin1(key), value);
  return n;
}

QString Rect(int Left, int Top, int Width, int Height) {
  return QStringLiteral("%1,%2,%3,%4").arg(Left).arg(Top).arg(Width).arg(Height);
}

// A function block of the library by its id.
IXXMLNode Function(const IXXMLNode &Impl, int Id, const char *FunctionId, const QString &Rect, TAttrs Extra = {}) {
  IXXMLNode e = Add(Impl, "element", {{"id", QString::number(Id)}, {"type", "descriptor"}, {"rect", Rect}});
  e->SetStrAttr("FunctionId", QString::fromLatin1(FunctionId));
  for (const auto &[key, value] : Extra)
    e->SetStrAttr(QString::fromLatin1(key), value);
  return e;
}

IXXMLNode Element(const IXXMLNode &Impl, int Id, const char *Type, const QString &Rect, const QString &Caption,
                  TAttrs Extra = {}) {
  IXXMLNode e = Add(Impl, "element", {{"id", QString::number(Id)}, {"type", QString::fromLatin1(Type)}, {"rect", Rect}});
  if (!Caption.isEmpty())
    e->SetStrAttr("caption", Caption);
  for (const auto &[key, value] : Extra)
    e->SetStrAttr(QString::fromLatin1(key), value);
  return e;
}

// Left, top, right of block Id in Impl (from its `rect`).
std::array<int, 3> Edges(const IXXMLNode &Impl, int Id) {
  const IXXMLNode b = Impl->SelectSingleNode(QStringLiteral("*[@id=%1]").arg(Id));
  if (!b)
    throw EKvError(QStringLiteral("demo logic: no block %1").arg(Id));
  const QStringList r = b->GetStrAttr("rect", {}).split(',');
  return {r[0].toInt(), r[1].toInt(), r[0].toInt() + r[2].toInt()};
}

// A link with the route an editor gives a new one: from the source's right
// edge at its pin row to the target's left edge at its pin row (a pin's row
// is 2 x index + 1 below the top), through the middle column, or around
// when the target is not far enough to the right.
void Link(const IXXMLNode &Impl, int From, int FromPin, int To, int ToPin) {
  const auto from = Edges(Impl, From), to = Edges(Impl, To);
  const int x1 = from[2], y1 = from[1] + 2 * FromPin + 1, x2 = to[0], y2 = to[1] + 2 * ToPin + 1;
  const QString line = x1 >= x2 - 4 ? QStringLiteral("%1,%2,%3,%4,%5,%6,%7")
                                          .arg(x1).arg(y1).arg(x1 + 2).arg((y1 + y2) / 2).arg(x2 - 2).arg(y2).arg(x2)
                                    : QStringLiteral("%1,%2,%3,%4,%5").arg(x1).arg(y1).arg((x1 + x2) / 2).arg(y2).arg(x2);
  Add(Impl, "link",
      {{"fr", QString::number(From)}, {"frp", QString::number(FromPin)}, {"to", QString::number(To)},
       {"top", QString::number(ToPin)}, {"line", line}});
}

IXXMLNode Module(const IXXMLNode &Impl, int Id, const QString &Caption, const QString &Rect, TAttrs Extra = {}) {
  IXXMLNode m = Add(Impl, "module", {{"id", QString::number(Id)}, {"type", "module"}, {"rect", Rect}});
  for (const auto &[key, value] : Extra)
    m->SetStrAttr(QString::fromLatin1(key), value);
  m->SetStrAttr("caption", Caption);
  return m;
}

QByteArray Bytes(const IXXMLDocument &Doc) { return FormatXMLDocument(Doc); }

IXXMLDocument NewDoc(const char *Root) {
  IXXMLDocument doc = NewXMLDocument();
  doc->LoadXML(QStringLiteral("<%1/>").arg(QString::fromLatin1(Root)));
  return doc;
}

// A unit's `module` element: inputs from labels at x 4, outputs into the
// module fed by constants at x 30, as the page's unit dialog places them.
void Units(const IXXMLNode &Root, const QString &FirstCaption = QStringLiteral("Блок 1")) {
  IXXMLNode u1 = Add(Root, "module", {{"orgid", QString::number(Unit1)}, {"caption", FirstCaption},
                                      {"rect", Rect(22, 2, 4, 4)}});
  IXXMLNode i1 = u1->AddChild("implementation");
  const QString in1 = QStringLiteral("Входы / Вход 1"), in2 = QStringLiteral("Входы / Вход 2");
  Element(i1, 1, "inint", Rect(4, 4, 2, 2), in1,
          {{"gid", "1"}, {"orgid", QString::number(LabelIn1)}});
  Element(i1, 2, "inint", Rect(4, 8, 2, 2), in2,
          {{"gid", "2"}, {"orgid", QString::number(LabelIn2)}});
  Function(i1, 3, "and", Rect(12, 4, 2, 4), {{"ipin", "2"}, {"opin", "1"}});
  // The timer's alternative rows: the delay on pick-up is the demo's time setpoint.
  Function(i1, 4, "timer", Rect(18, 4, 2, 2),
           {{"ipin", "1"}, {"opin", "1"}, {"ustavref", QStringLiteral("%1,-1").arg(CustomUstav2)}, {"paramref", "-1,-1"}});
  Element(i1, 5, "outint", Rect(30, 4, 2, 2), QStringLiteral("Выходы / Реле 1"),
          {{"gid", "1"}, {"orgid", QString::number(OutputsModule)}});
  Link(i1, 1, 0, 3, 0);
  Link(i1, 2, 0, 3, 1);
  Link(i1, 3, 0, 4, 0);
  Link(i1, 4, 0, 5, 0);

  IXXMLNode u2 = Add(Root, "module", {{"orgid", QString::number(Unit2)}, {"caption", QStringLiteral("Блок 2")},
                                      {"rect", Rect(22, 12, 4, 4)}});
  IXXMLNode i2 = u2->AddChild("implementation");
  Element(i2, 1, "inint", Rect(4, 4, 2, 2), in1, {{"gid", "1"}, {"orgid", QString::number(LabelIn1)}});
  Function(i2, 2, "not", Rect(12, 4, 2, 2), {{"ipin", "1"}, {"opin", "1"}});
  Element(i2, 3, "outint", Rect(30, 4, 2, 2), QStringLiteral("Выходы / Реле 2"),
          {{"gid", "1"}, {"orgid", QString::number(OutputsModule)}, {"orgpin", "1"}});
  Link(i2, 1, 0, 2, 0);
  Link(i2, 2, 0, 3, 0);
}

} // namespace

QByteArray DemoBaseLogicXml(const TDeviceContent &Content) {
  // The design-time descriptor, with the two setpoints the units may use
  // flagged custom.
  IXXMLDocument desc = NewXMLDocument();
  if (!desc->LoadBytes(DesignDescriptorXml(Content)))
    throw EKvFormat("demo descriptor: " + desc->GetParseError());
  for (int ider : {CustomUstav1, CustomUstav2})
    if (const IXXMLNode u = desc->GetDocumentElement()->SelectSingleNode(QStringLiteral("ustav/*[ider=%1]").arg(ider)))
      u->SetStrAttr("custom", "1");
  IXXMLDocument doc = NewXMLDocument();
  if (!doc->LoadXML("<module><implementation/><module-list/>" + desc->GetDocumentElement()->GetXml() + "</module>"))
    throw EKvFormat("demo logic: " + doc->GetParseError());
  const IXXMLNode root = doc->GetDocumentElement();
  for (const auto &[key, value] : TAttrs{{"id", "1"}, {"type", "module"}, {"rect", Rect(0, 0, 2, 2)}, {"opin", "0"}})
    root->SetStrAttr(QString::fromLatin1(key), value);
  root->SetStrAttr("caption", QStringLiteral("Логика терминала"));
  const IXXMLNode impl = root->SelectSingleNode("implementation");

  // Discrete inputs 1 and 2 leave the input module towards two labels.
  const IXXMLNode inputs = Module(impl, InputsModule, QStringLiteral("Входы"), Rect(2, 2, 4, 4), {{"opin", "2"}});
  const IXXMLNode inImpl = inputs->AddChild("implementation");
  for (int k = 0; k < 2; ++k) {
    Function(inImpl, 1 + 2 * k, "din", Rect(2, 2 + 4 * k, 2, 2), {{"gid", QString::number(k + 1)}, {"opin", "1"}});
    Element(inImpl, 2 + 2 * k, "outint", Rect(8, 2 + 4 * k, 2, 2), QStringLiteral("Вход %1").arg(k + 1),
            {{"gid", QString::number(k + 1)}});
    Link(inImpl, 1 + 2 * k, 0, 2 + 2 * k, 0);
  }
  Element(impl, LabelIn1, "lab", Rect(12, 2, 3, 2), QStringLiteral("Вход 1"));
  Element(impl, LabelIn2, "lab", Rect(12, 6, 3, 2), QStringLiteral("Вход 2"));
  Link(impl, InputsModule, 0, LabelIn1, 0);
  Link(impl, InputsModule, 1, LabelIn2, 0);

  // Relays 1 and 2 and LED 1 sit in the output module, its inputs tied to
  // "zero" and "one" until a unit drives them.
  Function(impl, Zero, "zero", Rect(2, 12, 2, 2), {{"opin", "1"}});
  Function(impl, One, "one", Rect(2, 16, 2, 2), {{"opin", "1"}});
  const IXXMLNode outputs = Module(impl, OutputsModule, QStringLiteral("Выходы"), Rect(8, 12, 4, 6), {{"opin", "0"}});
  const IXXMLNode outImpl = outputs->AddChild("implementation");
  const struct {
    const char *Caption;
    const char *Function;
    int Gid;
  } outs[] = {{"Реле 1", "relay", 1}, {"Реле 2", "relay", 2}, {"Светодиод 1", "led", 1}};
  for (int k = 0; k < 3; ++k) {
    Element(outImpl, 1 + 2 * k, "inint", Rect(2, 2 + 4 * k, 2, 2), QString::fromUtf8(outs[k].Caption),
            {{"gid", QString::number(k + 1)}});
    Function(outImpl, 2 + 2 * k, outs[k].Function, Rect(8, 2 + 4 * k, 2, 2),
             {{"gid", QString::number(outs[k].Gid)}, {"ipin", "1"}});
    Link(outImpl, 1 + 2 * k, 0, 2 + 2 * k, 0);
  }
  Link(impl, Zero, 0, OutputsModule, 0);
  Link(impl, One, 0, OutputsModule, 1);
  Link(impl, Zero, 0, OutputsModule, 2);

  // The two units: empty module blocks whose content is the custom logic.
  Module(impl, Unit1, QStringLiteral("Блок 1"), Rect(22, 2, 4, 4), {{"opin", "0"}, {"custom", "1"}});
  Module(impl, Unit2, QStringLiteral("Блок 2"), Rect(22, 12, 4, 4), {{"opin", "0"}, {"custom", "1"}});

  return Bytes(doc);
}

QByteArray DemoInitialCustomLogicXml() {
  IXXMLDocument doc = NewDoc("custom-logic");
  Units(doc->GetDocumentElement());
  return Bytes(doc);
}

QByteArray DemoCustomLogicXml(int Unit) {
  IXXMLDocument doc = NewDoc("custom-logic");
  const IXXMLNode root = doc->GetDocumentElement();
  Units(root, Unit == 2 ? QStringLiteral("Блок Б-2") : QStringLiteral("Блок 1"));
  const struct {
    const char *Table;
    int Ider;
    const char *Caption;
  } names[] = {{"dd-di", 0, "Положение ВВ включен"}, {"dd-di", 1, "Положение ВВ отключен"},
               {"dd-di", 2, "Тележка в рабочем положении"}, {"dd-do", 0, "Отключить ВВ"},
               {"dd-do", 1, "Включить ВВ"}, {"dd-le", 0, "Авария"}, {"dd-ustav", 1, "Ток срабатывания МТЗ-1"}};
  for (const auto &n : names) {
    const QString table = QString::fromLatin1(n.Table);
    IXXMLNode t = root->SelectSingleNode(table);
    if (!t)
      t = root->AddChild(table);
    Add(t, "item", {{"ider", QString::number(n.Ider)}, {"caption", QString::fromUtf8(n.Caption)}});
  }
  return Bytes(doc);
}

std::array<QByteArray, 6> DemoLogicPackage(const TDeviceContent &Content, int Unit) {
  auto resource = [](const char *Name) {
    QFile f(QStringLiteral(":/demologic/") + QString::fromLatin1(Name));
    if (!f.open(QIODevice::ReadOnly))
      throw EKvError(QStringLiteral("demo logic resource missing: ") + QString::fromLatin1(Name));
    return f.readAll();
  };
  return {resource("SchemaCode.xml"), resource("config.xml"), DesignIdentification(Content),
          DemoBaseLogicXml(Content), DemoInitialCustomLogicXml(), DemoCustomLogicXml(Unit)};
}
