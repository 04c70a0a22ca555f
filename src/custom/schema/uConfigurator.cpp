#include "uConfigurator.h"

#include "uErrors.h"
#include "uSchemaMessages.h"
#include "uSchemaModule.h"

#include <QRegularExpression>
#include <map>

const char *const ElementKindNames[10] = {"generic", "discret-input", "rele", "led", "virtual-input",
                                          "virtual-output", "interface-input", "interface-output", "label",
                                          "label-ref"};

namespace {

const char *const ModuleItemTypeNames[2] = {"node", "module"};

// Keywords compare exactly: "LED" is not "led".
template <size_t N> uint8_t KeywordIndex(const char *const (&Names)[N], const QString &Attr, const QString &Value) {
  for (size_t i = 0; i < N; ++i)
    if (Value == QLatin1String(Names[i]))
      return uint8_t(i);
  throw EKvError("invalid attr " + Attr + " value: " + Value);
}

bool Flag(const IXXMLNode &Node, const char *Name, int Default) { return Node->GetIntAttr(Name, Default) != 0; }

QStringList TextLines(const IXXMLNode &Node, const char *Child) {
  const IXXMLNode n = Node->SelectSingleNode(Child);
  if (!n)
    return {};
  QString text = n->GetText();
  text.replace("\r\n", "\n");
  QStringList lines = text.split('\n');
  // A text ending in a line end has no empty last line.
  if (!lines.isEmpty() && lines.last().isEmpty())
    lines.removeLast();
  return lines;
}

IXXMLNode Required(const IXXMLNode &Node, const QString &Name) {
  IXXMLNode n = Node->SelectSingleNode(Name);
  if (!n)
    throw EKvError(QStringLiteral("нет элемента ") + Name);
  return n;
}

QString CodeText(const IXXMLNode &Node, const QString &Name) { return Required(Node, Name)->GetFirstChildText(); }

// Runs Load on every child called Name; a failure is reported with the child's
// name and goes on, so loading stops at the first bad item.
template <typename T, typename Load>
void LoadItems(std::vector<std::unique_ptr<T>> &Items, const IXXMLNode &Node, const QString &Name, Load LoadOne) {
  Items.clear();
  const IXXMLNodeList list = Node->SelectNodes(Name);
  for (int i = 0; i < list->GetCount(); ++i) {
    const IXXMLNode child = list->GetItem(i);
    Items.push_back(std::make_unique<T>());
    try {
      LoadOne(*Items.back(), child);
    } catch (...) {
      SchemaMessage("Exception caught on node: " + child->GetNodeName());
      throw;
    }
  }
}

} // namespace

void TFunctionImage::LoadFromNode(const IXXMLNode &Node) {
  Text = Node->GetText();
  Text.remove(' ').remove('\n').remove('\r');
  Bytes = QByteArray::fromHex(Text.toLatin1());
}

void TFunctionImage::SaveToNode(const IXXMLNode &Node) const { Node->SetText(QString::fromLatin1(Bytes.toHex().toUpper()) + "\r\n"); }

void TFunctionDescriptor::LoadFromNode(const IXXMLNode &Node) {
  Id = Node->GetStrAttr("id", "");
  Caption = Node->GetStrAttr("caption", Id);
  IMin = Node->GetIntAttr("imin", 0);
  IMax = Node->GetIntAttr("imax", 0);
  IDef = Node->GetIntAttr("idef", 0);
  if (IDef == 0)
    IDef = IMin;
  OMin = Node->GetIntAttr("omin", 1);
  OMax = Node->GetIntAttr("omax", 1);
  ODef = Node->GetIntAttr("odef", 1);
  if (ODef == 0)
    ODef = OMin;
  VarCount = Node->GetIntAttr("var-count", 0);
  const QString reserved = Node->GetStrAttr("reserved", ElementKindNames[0]);
  Kind = KeywordIndex(ElementKindNames, "reserved", reserved);
  Enabled = Flag(Node, "enabled", 0);
  Custom = Flag(Node, "custom", 0);
  CaptionShow = Flag(Node, "caption-show", 0);
  Shape = Node->GetIntAttr("shape", 0);
  Text1 = Node->GetStrAttr("text1", "");
  Text2 = Node->GetStrAttr("text2", "");
  Align1 = Node->GetIntAttr("align1", 0);
  Align2 = Node->GetIntAttr("align2", 0);
  InputArr = Flag(Node, "input-arr", 0);
  UstavLimit = Node->GetIntAttr("ustav-limit", 0);
  if (const IXXMLNode image = Node->SelectSingleNode("TFunctionImage"))
    Image.LoadFromNode(image);
  if (const IXXMLNode code = Node->SelectSingleNode("TFunctionCode"))
    Code.Text = code->GetFirstChildText();
  Params = TextLines(Node, "TStringList_param");
  Switches = TextLines(Node, "TStringList_switch");
  Ustavs = TextLines(Node, "TStringList_ustav");
  ModbusIders.clear();
  if (const IXXMLNode iders = Node->SelectSingleNode("modbus-ider"))
    ModbusIders = SplitCommaText(iders->GetText());
}

namespace {
const QRegularExpression &UstavGroupPattern() {
  static const QRegularExpression re(R"((.+?)\(\s*(\d+)\s*\))");
  return re;
}
} // namespace

int TFunctionDescriptor::UstavGroup(int I) const {
  const QRegularExpressionMatch m = UstavGroupPattern().match(Ustavs.value(I));
  return m.hasMatch() ? m.captured(2).toInt() : 0;
}

QString TFunctionDescriptor::UstavName(int I) const {
  const QRegularExpressionMatch m = UstavGroupPattern().match(Ustavs.value(I));
  return m.hasMatch() ? m.captured(1) : Ustavs.value(I);
}

void TFunctionGroup::LoadFromNode(const IXXMLNode &Node) {
  Id = Node->GetStrAttr("id", "");
  Caption = Node->GetStrAttr("caption", Id);
  Enabled = Flag(Node, "enabled", 1);
  Custom = Flag(Node, "custom", 0);
  LoadItems(Functions, Node, "TFunctionDescriptor",
            [](TFunctionDescriptor &F, const IXXMLNode &N) { F.LoadFromNode(N); });
}

TModuleItem::TModuleItem() = default;
TModuleItem::~TModuleItem() = default;

void TModuleItem::SetModule(std::unique_ptr<TModule> Value) { Module = std::move(Value); }

void TModuleItem::LoadFromNode(const IXXMLNode &Node, TConfigurator *Configurator) {
  Type = KeywordIndex(ModuleItemTypeNames, "type", Node->GetStrAttr("type", ModuleItemTypeNames[0]));
  Caption = Node->GetStrAttr("caption", "Noname");
  Path = Node->GetStrAttr("path", "");
  Enabled = Flag(Node, "enabled", 1);
  Items.clear();
  Module.reset();
  if (Type == mtNode) {
    LoadModuleItems(Items, Node, Configurator);
  } else if (const IXXMLNode m = Node->SelectSingleNode("TModule")) {
    Module = std::make_unique<TModule>(nullptr, 1);
    Module->Configurator = Configurator;
    Module->LoadFromNode(m);
  }
}

void TModuleItem::SaveToNode(const IXXMLNode &Node) const {
  Node->SetStrAttr("type", ModuleItemTypeNames[Type]);
  Node->SetStrAttr("caption", Caption);
  Node->SetStrAttr("path", Path);
  Node->SetIntAttr("enabled", Enabled ? 1 : 0);
  if (Type == mtNode)
    SaveModuleItems(Items, Node);
  else if (Module)
    Module->SaveToNode(Node->AddChild("TModule"), true);
}

void LoadModuleItems(TModuleItems &Items, const IXXMLNode &Node, TConfigurator *Configurator) {
  LoadItems(Items, Node, "TModuleItem",
            [Configurator](TModuleItem &M, const IXXMLNode &N) { M.LoadFromNode(N, Configurator); });
}

void SaveModuleItems(const TModuleItems &Items, const IXXMLNode &Node) {
  for (const auto &item : Items)
    item->SaveToNode(Node->AddChild("TModuleItem"));
}

TConfigurator::TConfigurator() = default;
TConfigurator::~TConfigurator() = default;

void TConfigurator::LoadFromFile(const QString &AFileName) {
  FileName = AFileName;
  Document = NewXMLDocument();
  if (!Document->Load(AFileName))
    throw EKvFormat(AFileName + ": " + Document->GetParseError());
  const IXXMLNode root = Document->GetDocumentElement();
  LoadItems(Groups, Required(root, "group"), "TFunctionGroup",
            [](TFunctionGroup &G, const IXXMLNode &N) { G.LoadFromNode(N); });
  LoadModuleItems(Modules, Required(root, "module"), this);
  const IXXMLNode sample = Required(root, "sample");
  SampleCode.Text = CodeText(sample, "TFunctionCodeSample");
  PrepareCode.Text = CodeText(sample, "TFunctionCodePrepare");
  InternalCode.Text = CodeText(sample, "TFunctionCodeInternal");
  if (const IXXMLNode image = sample->SelectSingleNode("TFunctionImage"))
    Image.LoadFromNode(image);
  PenWidth = sample->GetIntNodeDef("pen-width", 1);
  PenWidthBold = sample->GetIntNodeDef("pen-width-bold", 3);
  ContPenWidth = sample->GetIntNodeDef("cont-pen-width", 1);
  ContPenWidthBold = sample->GetIntNodeDef("cont-pen-width-bold", 3);
  BrushColor = uint32_t(sample->GetIntNodeDef("brush-color", int(0xFF000005u)));
  FontName = sample->GetStrNodeDef("font-name", "MS Sans Serif");
  FontSize = sample->GetIntNodeDef("font-size", 8);
  FontAsmName = sample->GetStrNodeDef("font-asm-name", "MS Sans Serif");
  FontAsmSize = sample->GetIntNodeDef("font-asm-size", 8);
  for (const QString &message : DuplicateMessages())
    SchemaMessage(message);
}

TFunctionDescriptor *TConfigurator::FindFunction(const QString &Id) const {
  TFunctionDescriptor *found = nullptr;
  for (const auto &group : Groups)
    for (const auto &function : group->Functions)
      if (function->Id == Id)
        found = function.get();
  return found;
}

QStringList TConfigurator::DuplicateMessages() const {
  // Keyed by the exact id, ordered as the distinct-id list is (case ignored).
  std::map<std::pair<QString, QString>, QList<const TFunctionDescriptor *>> byId;
  for (const auto &group : Groups)
    for (const auto &function : group->Functions)
      byId[{function->Id.toLower(), function->Id}].append(function.get());
  QStringList messages;
  for (const auto &[key, functions] : byId) {
    if (functions.size() < 2)
      continue;
    QString text = QStringLiteral("Duplicate function");
    for (const TFunctionDescriptor *f : functions)
      text += "\r\n" + f->Id + " " + f->Caption;
    messages.append(text);
  }
  return messages;
}
