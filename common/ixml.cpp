#include "ixml.h"

#include "uErrors.h"
#include "uFiles.h"
#include "uLogger.h"
#include "uTextCodec.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringDecoder>
#include <algorithm>
#include <atomic>
#include <charconv>
#include <mutex>
#include <unordered_map>
#include <pugixml.hpp>

namespace {

const QString CrLf = QStringLiteral("\r\n");
// Name of the top-level holder of detached nodes. It follows the root element
// and can never come from a parsed file ("#" cannot start an element name).
const char *const DetachedName = "#detached";
constexpr unsigned ParseFlags = pugi::parse_default | pugi::parse_declaration | pugi::parse_comments |
                                pugi::parse_pi | pugi::parse_doctype | pugi::parse_ws_pcdata_single;

std::mutex SinkLock;
TXmlMessageSink &Sink() {
  static TXmlMessageSink s = [](const QString &Text) { Logger().Error(Text); };
  return s;
}

std::string Utf8(const QString &S) { return S.toStdString(); }
QString FromUtf8(const char *S) { return QString::fromUtf8(S); }

struct TStringWriter : pugi::xml_writer {
  std::string Out;
  void write(const void *Data, size_t Size) override { Out.append(static_cast<const char *>(Data), Size); }
};

bool IsNameStart(char32_t C) {
  return (C >= 'A' && C <= 'Z') || (C >= 'a' && C <= 'z') || C == '_' || C == ':' || C >= 0xC0;
}

bool IsLimboNode(const pugi::xml_node &N) {
  return N.type() == pugi::node_element && strcmp(N.name(), DetachedName) == 0 &&
         N.parent().type() == pugi::node_document;
}

bool IsXmlName(const QString &Name) {
  const QList<uint> cps = Name.toUcs4();
  if (cps.isEmpty() || !IsNameStart(cps[0]))
    return false;
  for (uint c : cps)
    if (!(IsNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == 0xB7))
      return false;
  return true;
}

// Characters XML 1.0 can carry: no control characters except tab, CR, LF,
// no lone surrogates, no U+FFFE/U+FFFF.
bool IsXmlText(const QString &Text) {
  const qsizetype n = Text.size();
  for (qsizetype i = 0; i < n; ++i) {
    const char16_t c = Text[i].unicode();
    if (c < 0x20 && c != '\t' && c != '\n' && c != '\r')
      return false;
    if (c == 0xFFFE || c == 0xFFFF)
      return false;
    if (QChar::isHighSurrogate(c)) {
      if (i + 1 >= n || !QChar::isLowSurrogate(Text[i + 1].unicode()))
        return false;
      ++i;
    } else if (QChar::isLowSurrogate(c)) {
      return false;
    }
  }
  return true;
}

QString NodeText(const pugi::xml_node &N) {
  switch (N.type()) {
  case pugi::node_pcdata:
  case pugi::node_cdata:
  case pugi::node_comment:
  case pugi::node_pi:
    return FromUtf8(N.value());
  case pugi::node_element:
  case pugi::node_document: {
    std::string s;
    for (pugi::xml_node c = N.first_child(); c;) {
      if (c.type() == pugi::node_pcdata || c.type() == pugi::node_cdata)
        s += c.value();
      // Depth-first walk without recursion: deep files cannot overflow the stack.
      if (c.first_child() && c.type() == pugi::node_element) {
        c = c.first_child();
        continue;
      }
      while (c && c != N && !c.next_sibling())
        c = c.parent();
      if (!c || c == N)
        break;
      c = c.next_sibling();
    }
    return QString::fromStdString(s);
  }
  default:
    return QString();
  }
}

QString ParseErrorText(const pugi::xml_parse_result &R, const QByteArray &Utf8) {
  const qsizetype end = std::min<qsizetype>(qsizetype(R.offset), Utf8.size());
  int line = 1, column = 1;
  for (qsizetype i = 0; i < end; ++i) {
    const uchar c = uchar(Utf8[i]);
    if (c == '\n') {
      ++line;
      column = 1;
    } else if ((c & 0xC0) != 0x80) {
      ++column;
    }
  }
  return QString("%1 at line %2, column %3").arg(QString::fromUtf8(R.description())).arg(line).arg(column);
}

// Text to the bytes of an XML file (Windows-1251 or UTF-8), LF line ends
// written as CR LF.
// A character the code page lacks
// becomes a character reference where XML allows one (text, attribute values),
// CDATA is split around the reference, and comments and processing
// instructions (which cannot carry one) get "?". A name cannot carry either:
// "?" there would give a file that no longer loads, so such a document is
// refused (EKvFormat) and the old file stays.
QByteArray EncodeXmlFile(const QString &Xml, bool Win1251) {
  enum { sText, sTag, sQuote, sComment, sCData, sPI, sDoctype } state = sText;
  QChar quote;
  QString out;
  out.reserve(Xml.size() + 64);
  const qsizetype n = Xml.size();
  auto at = [&](qsizetype i, const char *s) { return QStringView(Xml).mid(i).startsWith(QLatin1String(s)); };
  for (qsizetype i = 0; i < n;) {
    char32_t cp = Xml[i].unicode();
    qsizetype width = 1;
    if (QChar::isHighSurrogate(cp) && i + 1 < n && Xml[i + 1].isLowSurrogate()) {
      cp = QChar::surrogateToUcs4(Xml[i], Xml[i + 1]);
      width = 2;
    }
    if (Win1251 && !IsWin1251Char(cp)) {
      const QString ref = QString("&#%1;").arg(uint(cp));
      if (state == sText || state == sQuote)
        out += ref;
      else if (state == sCData)
        out += "]]>" + ref + "<![CDATA[";
      else if (state == sTag)
        throw EKvFormat(QString("character U+%1 of a name has no windows-1251 code")
                            .arg(QString::number(uint(cp), 16).toUpper().rightJustified(4, '0')));
      else
        out += '?';
      i += width;
      continue;
    }
    const QChar c = Xml[i];
    // Line ends become CR LF; a CR of the data itself would turn into a line
    // end on reading, so it is written as a reference where XML allows one.
    if (c == '\n') {
      out += CrLf;
      ++i;
      continue;
    }
    if (c == '\r' && (state == sText || state == sQuote || state == sCData)) {
      out += state == sCData ? "]]>&#13;<![CDATA[" : "&#13;";
      ++i;
      continue;
    }
    switch (state) {
    case sText:
      if (c == '<') {
        if (at(i, "<!--")) {
          out += "<!--";
          i += 4;
          state = sComment;
          continue;
        }
        if (at(i, "<![CDATA[")) {
          out += "<![CDATA[";
          i += 9;
          state = sCData;
          continue;
        }
        state = at(i, "<?") ? sPI : at(i, "<!") ? sDoctype : sTag;
      }
      break;
    case sTag:
      if (c == '"' || c == '\'') {
        quote = c;
        state = sQuote;
      } else if (c == '>') {
        state = sText;
      }
      break;
    case sQuote:
      if (c == quote)
        state = sTag;
      break;
    case sComment:
      if (at(i, "-->")) {
        out += "-->";
        i += 3;
        state = sText;
        continue;
      }
      break;
    case sCData:
      if (at(i, "]]>")) {
        out += "]]>";
        i += 3;
        state = sText;
        continue;
      }
      break;
    case sPI:
      if (at(i, "?>")) {
        out += "?>";
        i += 2;
        state = sText;
        continue;
      }
      break;
    case sDoctype:
      if (c == '>')
        state = sText;
      break;
    }
    out += QStringView(Xml).mid(i, width);
    i += width;
  }
  return Win1251 ? ToWin1251(out) : out.toUtf8();
}

// The declared encoding of an XML file's first line, lower case; "" when none.
QString DeclaredEncoding(const QByteArray &Bytes) {
  if (!Bytes.startsWith("<?xml"))
    return QString();
  const qsizetype end = Bytes.indexOf("?>");
  if (end < 0)
    return QString();
  static const QRegularExpression re(R"(encoding\s*=\s*["']([A-Za-z0-9._:-]+)["'])");
  const auto m = re.match(QString::fromLatin1(Bytes.left(end)));
  return m.hasMatch() ? m.captured(1).toLower() : QString();
}

} // namespace

TXmlMessageSink SetXmlMessageSink(TXmlMessageSink NewSink) {
  std::lock_guard g(SinkLock);
  TXmlMessageSink old = Sink();
  Sink() = std::move(NewSink);
  return old;
}

static void ShowXmlMessage(const QString &Text) {
  TXmlMessageSink s;
  {
    std::lock_guard g(SinkLock);
    s = Sink();
  }
  if (s)
    s(Text);
}

// ---------------------------------------------------------------- queries

namespace {

std::atomic<bool> KeyIndexOn{true};

// Queries are compiled once per thread: the pages ask the same few shapes at
// every refresh, and compiling costs more than evaluating them.
const pugi::xpath_query &CompiledQuery(const QString &XPath) {
  thread_local std::unordered_map<std::string, std::unique_ptr<pugi::xpath_query>> cache;
  std::string key = Utf8(XPath);
  auto it = cache.find(key);
  if (it != cache.end())
    return *it->second;
  if (cache.size() >= 1024)
    cache.clear();
  auto q = std::make_unique<pugi::xpath_query>(key.c_str());
  return *cache.emplace(std::move(key), std::move(q)).first->second;
}

bool IsStepChar(char C) {
  return (C >= 'a' && C <= 'z') || (C >= 'A' && C <= 'Z') || (C >= '0' && C <= '9') || C == '-' || C == '_' ||
         C == '.' || C == '*';
}

// Splits "path[key=N]" (path: element names or "*" joined by "/", or "//*";
// N a whole number) into its parts; false for every other query.
bool SplitKeyedQuery(const std::string &Q, std::string &Path, std::string &Key, long long &Value) {
  const size_t open = Q.find('[');
  if (open == std::string::npos || open == 0 || Q.back() != ']' || Q.find('[', open + 1) != std::string::npos)
    return false;
  Path = Q.substr(0, open);
  if (Path != "//*") {
    if (Path.front() == '/' || Path.back() == '/' || Path.find("//") != std::string::npos)
      return false;
    for (size_t i = 0; i < Path.size(); ++i) {
      if (Path[i] == '/')
        continue;
      if (!IsStepChar(Path[i]) || (Path[i] == '.' && (i == 0 || Path[i - 1] == '/')))
        return false;
    }
  }
  const std::string pred = Q.substr(open + 1, Q.size() - open - 2);
  const size_t eq = pred.find('=');
  if (eq == std::string::npos || eq == 0 || eq + 1 >= pred.size())
    return false;
  Key = pred.substr(0, eq);
  if (!((Key[0] >= 'a' && Key[0] <= 'z') || (Key[0] >= 'A' && Key[0] <= 'Z') || Key[0] == '_'))
    return false;
  for (char c : Key)
    if (!IsStepChar(c) || c == '*')
      return false;
  const std::string num = pred.substr(eq + 1);
  size_t i = num[0] == '-' ? 1 : 0;
  if (i >= num.size() || num.size() - i > 15)
    return false;
  for (size_t k = i; k < num.size(); ++k)
    if (num[k] < '0' || num[k] > '9')
      return false;
  Value = std::stoll(num);
  return true;
}

void AppendStringValue(const pugi::xml_node &N, std::string &Out) {
  for (pugi::xml_node c = N.first_child(); c; c = c.next_sibling()) {
    if (c.type() == pugi::node_pcdata || c.type() == pugi::node_cdata)
      Out += c.value();
    else if (c.type() == pugi::node_element)
      AppendStringValue(c, Out);
  }
}

// XPath's number() of a string value: blanks around an optional minus sign,
// digits and one optional point; anything else is NaN (no key).
bool WholeNumberOf(const std::string &S, long long &Out) {
  size_t b = 0, e = S.size();
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (b < e && blank(S[b]))
    ++b;
  while (e > b && blank(S[e - 1]))
    --e;
  if (b == e)
    return false;
  size_t i = b;
  const bool neg = S[i] == '-';
  if (neg)
    ++i;
  long double v = 0;
  bool digits = false, point = false, fraction = false;
  for (; i < e; ++i) {
    const char c = S[i];
    if (c == '.' && !point) {
      point = true;
    } else if (c >= '0' && c <= '9') {
      digits = true;
      if (point)
        fraction = fraction || c != '0';
      else
        v = v * 10 + (c - '0');
    } else {
      return false;
    }
  }
  if (!digits || fraction || v > 1e15L)
    return false;
  Out = neg ? -(long long)v : (long long)v;
  return true;
}

} // namespace

// Keyed lookups "path[key=N]" are what the pages and identification ask at every
// refresh. They are answered from an index built once per context node, path and
// key, and dropped whenever the document changes, so the answer is always the one
// XPath gives: the first match in document order.
struct TKeyedLookups {
  uint64_t Version = 0;
  uint64_t IndexVersion = ~uint64_t(0);
  std::unordered_map<std::string, std::unordered_map<long long, pugi::xml_node>> Indexes;
};

void SetXPathKeyIndex(bool On) { KeyIndexOn = On; }

void TXXMLDocument::Changed() { ++FKeyed->Version; }

bool TXXMLDocument::FindKeyed(const pugi::xml_node &Context, const std::string &Query, pugi::xml_node &Found) {
  std::string path, key;
  long long value = 0;
  if (!KeyIndexOn || !SplitKeyedQuery(Query, path, key, value) || IsDetached(Context))
    return false;
  TKeyedLookups &k = *FKeyed;
  if (k.IndexVersion != k.Version) {
    k.Indexes.clear();
    k.IndexVersion = k.Version;
  }
  const std::string id = std::to_string(reinterpret_cast<uintptr_t>(Context.internal_object())) + '|' + path + '|' + key;
  auto it = k.Indexes.find(id);
  if (it == k.Indexes.end()) {
    std::unordered_map<long long, pugi::xml_node> index;
    pugi::xpath_node_set set = CompiledQuery(QString::fromStdString(path)).evaluate_node_set(Context);
    set.sort();
    std::string text;
    for (const pugi::xpath_node &x : set) {
      const pugi::xml_node n = x.node();
      if (!n || n.type() != pugi::node_element || (path == "//*" && IsDetached(n)))
        continue;
      for (pugi::xml_node c = n.child(key.c_str()); c; c = c.next_sibling(key.c_str())) {
        text.clear();
        AppendStringValue(c, text);
        long long v = 0;
        if (WholeNumberOf(text, v))
          index.emplace(v, n);
      }
    }
    it = k.Indexes.emplace(id, std::move(index)).first;
  }
  const auto hit = it->second.find(value);
  Found = hit == it->second.end() ? pugi::xml_node() : hit->second;
  return true;
}

// ---------------------------------------------------------------- document

IXXMLDocument NewXMLDocument() { return std::make_shared<TXXMLDocument>(); }

TXXMLDocument::TXXMLDocument()
    : FDoc(std::make_unique<pugi::xml_document>()), FKeyed(std::make_unique<TKeyedLookups>()) {}

TXXMLDocument::~TXXMLDocument() = default;

bool TXXMLDocument::Parse(const QByteArray &Utf8, bool KeepRootOnFailure) {
  FModified = false;
  Changed();
  auto doc = std::make_unique<pugi::xml_document>();
  const pugi::xml_parse_result r = doc->load_buffer(Utf8.constData(), size_t(Utf8.size()), ParseFlags,
                                                    pugi::encoding_utf8);
  if (!r) {
    FParseError = ParseErrorText(r, Utf8);
    if (!KeepRootOnFailure) {
      FRetired.push_back(std::move(FDoc));
      FDoc = std::make_unique<pugi::xml_document>();
    }
    return false;
  }
  FParseError.clear();
  FRetired.push_back(std::move(FDoc));
  FDoc = std::move(doc);
  FLineStarts.assign(1, 0);
  for (qsizetype at = Utf8.indexOf('\n'); at >= 0; at = Utf8.indexOf('\n', at + 1))
    FLineStarts.push_back(at + 1);
  return true;
}

int TXXMLDocument::LineOfOffset(qsizetype Offset) const {
  if (Offset < 0 || FLineStarts.empty())
    return 0;
  return int(std::upper_bound(FLineStarts.begin(), FLineStarts.end(), Offset) - FLineStarts.begin());
}

bool TXXMLDocument::Load(const QString &FileName) {
  QFile f(FileName);
  if (!f.open(QIODevice::ReadOnly)) {
    FModified = false;
    FParseError = QString("cannot open %1: %2").arg(FileName, f.errorString());
    return false;
  }
  return LoadBytes(f.readAll());
}

bool TXXMLDocument::LoadBytes(const QByteArray &Bytes) {
  // Bytes that do not decode refuse the load: a replacement character taken
  // in silently would be written back by the next save.
  const auto refuse = [this](const QString &Why) {
    FModified = false;
    FParseError = Why;
    return false;
  };
  const auto strict = [&](QByteArrayView Body, const QString &Enc, qsizetype Offset) {
    const qsizetype at = FirstInvalidByte(Body, Enc, Offset);
    if (at == -2)
      return refuse("unsupported encoding " + Enc);
    return at >= 0 ? refuse(InvalidByteText(Enc, at)) : true;
  };
  if (Bytes.startsWith("\xEF\xBB\xBF"))
    return strict(QByteArrayView(Bytes).sliced(3), "UTF-8", 3) && Parse(Bytes.mid(3), true);
  if (Bytes.startsWith("\xFF\xFE") || Bytes.startsWith("\xFE\xFF")) {
    const bool isLe = Bytes.startsWith("\xFF\xFE");
    if (!strict(QByteArrayView(Bytes).sliced(2), isLe ? "UTF-16LE" : "UTF-16BE", 2))
      return false;
    QStringDecoder d(isLe ? QStringConverter::Utf16LE : QStringConverter::Utf16BE);
    return Parse(QString(d.decode(Bytes.mid(2))).toUtf8(), true);
  }
  const QString enc = DeclaredEncoding(Bytes);
  if (enc == "utf-8" || enc == "utf8")
    return strict(Bytes, "UTF-8", 0) && Parse(Bytes, true);
  if (enc.isEmpty()) {
    // Without a declaration XML means UTF-8; files written by hand in the
    // system code page are read as such rather than refused.
    if (FirstInvalidByte(Bytes, "UTF-8") < 0)
      return Parse(Bytes, true);
    return strict(Bytes, "windows-1251", 0) && Parse(FromWin1251(Bytes).toUtf8(), true);
  }
  if (!strict(Bytes, enc, 0))
    return false;
  if (enc == "windows-1251" || enc == "cp1251")
    return Parse(FromWin1251(Bytes).toUtf8(), true);
  QStringDecoder d(enc.toLatin1().constData());
  return Parse(QString(d.decode(Bytes)).toUtf8(), true);
}

bool TXXMLDocument::LoadXML(const QString &Text) {
  return Parse((Text.startsWith(QChar(0xFEFF)) ? Text.mid(1) : Text).toUtf8(), false);
}

pugi::xml_node TXXMLDocument::Limbo() {
  pugi::xml_node last = FDoc->last_child();
  if (last.type() == pugi::node_element && strcmp(last.name(), DetachedName) == 0)
    return last;
  return FDoc->append_child(DetachedName);
}

bool TXXMLDocument::IsDetached(const pugi::xml_node &Node) const {
  pugi::xml_node n = Node;
  while (n && n.parent() && n.parent().type() != pugi::node_document)
    n = n.parent();
  return n && IsLimboNode(n);
}

IXXMLNode TXXMLDocument::GetDocumentElement() {
  for (pugi::xml_node c = FDoc->first_child(); c; c = c.next_sibling())
    if (c.type() == pugi::node_element && strcmp(c.name(), DetachedName) != 0)
      return std::make_shared<TXXMLNode>(shared_from_this(), c, pugi::xml_attribute());
  return nullptr;
}

IXXMLNode TXXMLDocument::CreateElement(const QString &Name) {
  if (!IsXmlName(Name))
    throw EKvError("invalid element name " + Name);
  return std::make_shared<TXXMLNode>(shared_from_this(), Limbo().append_child(Utf8(Name).c_str()),
                                     pugi::xml_attribute());
}

QString TXXMLDocument::GetXml() const {
  QString out;
  for (pugi::xml_node c = FDoc->first_child(); c; c = c.next_sibling()) {
    if (c.type() == pugi::node_element && strcmp(c.name(), DetachedName) == 0)
      continue;
    TStringWriter w;
    c.print(w, "", pugi::format_raw, pugi::encoding_utf8);
    out += QString::fromStdString(w.Out) + '\n';
  }
  return out;
}

void TXXMLDocument::Save(const QString &FileName) {
  const QString xml = GetXml();
  pugi::xml_node decl = FDoc->first_child();
  const QString enc = decl.type() == pugi::node_declaration
                          ? FromUtf8(decl.attribute("encoding").value()).toLower()
                          : QString();
  SaveFileBytes(FileName, EncodeXmlFile(xml, enc == "windows-1251" || enc == "cp1251"));
  FModified = false;
}

// ---------------------------------------------------------------- node

struct TXXMLNode::THandles {
  pugi::xml_node Node;      // the node, or the element owning Attr
  pugi::xml_attribute Attr; // set for an attribute node
};

TXXMLNode::TXXMLNode(IXXMLDocument Owner, const pugi::xml_node &Node, const pugi::xml_attribute &Attr)
    : FOwner(std::move(Owner)), FH(std::make_unique<THandles>(THandles{Node, Attr})) {
  KvCheck(FOwner && Node, "invalid IXMLDOMNode");
}

TXXMLNode::~TXXMLNode() = default;

IXXMLNode TXXMLNode::Wrap(const pugi::xml_node &Node) const {
  return Node ? std::make_shared<TXXMLNode>(FOwner, Node, pugi::xml_attribute()) : nullptr;
}

void TXXMLNode::Touch() const {
  FOwner->SetModified(true);
  FOwner->Changed();
}

void TXXMLNode::Fail(const QString &Message) const { throw EKvError(Message); }

void TXXMLNode::CheckElement(const char *Operation) const {
  if (FH->Attr || FH->Node.type() != pugi::node_element)
    Fail(QString("TXXMLNode.%1: not an element").arg(Operation));
}

int TXXMLNode::GetLine() const {
  if (FH->Attr)
    return 0;
  return FOwner->LineOfOffset(qsizetype(FH->Node.offset_debug()));
}

QString TXXMLNode::GetNodeName() const {
  if (FH->Attr)
    return FromUtf8(FH->Attr.name());
  switch (FH->Node.type()) {
  case pugi::node_element:
  case pugi::node_pi:
  case pugi::node_declaration:
    return FromUtf8(FH->Node.name());
  case pugi::node_pcdata:
    return "#text";
  case pugi::node_cdata:
    return "#cdata-section";
  case pugi::node_comment:
    return "#comment";
  case pugi::node_document:
    return "#document";
  default:
    return QString();
  }
}

QString TXXMLNode::GetXml() const {
  if (FH->Attr) {
    QString v = FromUtf8(FH->Attr.value());
    v.replace('&', "&amp;").replace('<', "&lt;").replace('>', "&gt;").replace('"', "&quot;");
    return FromUtf8(FH->Attr.name()) + "=\"" + v + "\"";
  }
  TStringWriter w;
  FH->Node.print(w, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
  return QString::fromStdString(w.Out);
}

QString TXXMLNode::GetText() const {
  if (FH->Attr)
    return FromUtf8(FH->Attr.value());
  return NodeText(FH->Node);
}

void TXXMLNode::SetText(const QString &Value) {
  FOwner->Changed();
  const std::string v = Utf8(Value);
  if (FH->Attr) {
    FH->Attr.set_value(v.c_str());
    return;
  }
  pugi::xml_node n = FH->Node;
  switch (n.type()) {
  case pugi::node_pcdata:
  case pugi::node_cdata:
  case pugi::node_comment:
    n.set_value(v.c_str());
    return;
  case pugi::node_element:
    break;
  default:
    Fail("TXXMLNode.SetText: not an element");
  }
  // The usual case, one text child, is changed in place.
  pugi::xml_node first = n.first_child();
  if (first && !first.next_sibling() && first.type() == pugi::node_pcdata && !Value.isEmpty()) {
    first.set_value(v.c_str());
    return;
  }
  // Old children are detached, not destroyed: wrappers of them stay valid.
  pugi::xml_node limbo = FOwner->Limbo();
  while (pugi::xml_node c = n.first_child())
    limbo.append_move(c);
  if (!Value.isEmpty())
    n.append_child(pugi::node_pcdata).set_value(v.c_str());
}

IXXMLNode TXXMLNode::GetParentNode() const {
  if (FH->Attr)
    return nullptr;
  pugi::xml_node p = FH->Node.parent();
  if (!p || IsLimboNode(p))
    return nullptr;
  return Wrap(p);
}

QString TXXMLNode::GetFirstChildText() const {
  if (FH->Attr)
    return FromUtf8(FH->Attr.value());
  pugi::xml_node c = FH->Node.first_child();
  return c ? NodeText(c) : QString();
}

void TXXMLNode::CreateCDATASection(const QString &Text) {
  FOwner->Limbo().append_child(pugi::node_cdata).set_value(Utf8(Text).c_str());
}

IXXMLNodeList TXXMLNode::SelectNodes(const QString &XPath) const {
  pugi::xpath_node_set set;
  try {
    const pugi::xpath_query &q = CompiledQuery(XPath);
    const pugi::xpath_node ctx = FH->Attr ? pugi::xpath_node(FH->Attr, FH->Node) : pugi::xpath_node(FH->Node);
    set = q.evaluate_node_set(ctx);
  } catch (const pugi::xpath_exception &e) {
    throw EKvError(QString("invalid XPath %1: %2").arg(XPath, FromUtf8(e.what())));
  }
  set.sort();
  QList<IXXMLNode> items;
  items.reserve(qsizetype(set.size()));
  const bool fromDetached = FOwner->IsDetached(FH->Node);
  for (const pugi::xpath_node &x : set) {
    pugi::xml_node n = x.attribute() ? x.parent() : x.node();
    // Detached nodes are invisible to queries from the attached tree.
    if (!fromDetached && n.type() != pugi::node_document && FOwner->IsDetached(n))
      continue;
    items << std::make_shared<TXXMLNode>(FOwner, n, x.attribute());
  }
  return std::make_shared<TXXMLNodeList>(FOwner, std::move(items));
}

IXXMLNode TXXMLNode::SelectSingleNode(const QString &XPath) const {
  if (!FH->Attr && FH->Node.type() == pugi::node_element) {
    pugi::xml_node found;
    if (FOwner->FindKeyed(FH->Node, Utf8(XPath), found))
      return Wrap(found);
  }
  pugi::xpath_node x;
  try {
    const pugi::xpath_query &q = CompiledQuery(XPath);
    const pugi::xpath_node ctx = FH->Attr ? pugi::xpath_node(FH->Attr, FH->Node) : pugi::xpath_node(FH->Node);
    x = q.evaluate_node(ctx);
  } catch (const pugi::xpath_exception &e) {
    throw EKvError(QString("invalid XPath %1: %2").arg(XPath, FromUtf8(e.what())));
  }
  if (!x)
    return nullptr;
  // The first match in document order: detached nodes follow the whole tree,
  // so when the first is detached every match is.
  const pugi::xml_node n = x.attribute() ? x.parent() : x.node();
  if (n.type() != pugi::node_document && FOwner->IsDetached(n) && !FOwner->IsDetached(FH->Node))
    return nullptr;
  return std::make_shared<TXXMLNode>(FOwner, n, x.attribute());
}

QString TXXMLNode::GetStrNodeDef(const QString &Path, const QVariant &Default) const {
  if (const IXXMLNode n = SelectSingleNode(Path))
    return n->GetText();
  if (!Default.isValid())
    Fail("invalid StrNode" + CrLf + "path" + CrLf + Path + CrLf + "xml" + CrLf + GetXml() + CrLf);
  return Default.toString();
}

int TXXMLNode::GetIntNodeDef(const QString &Path, const QVariant &Default) const {
  if (const IXXMLNode n = SelectSingleNode(Path)) {
    int v = 0;
    if (!TryStrToInt(n->GetText(), v))
      Fail(("invalid IntNode value" + CrLf + "path" + CrLf + Path + CrLf + "xml" + CrLf + GetXml() + CrLf).left(2000));
    return v;
  }
  if (!Default.isValid())
    Fail(("invalid IntNode" + CrLf + "path" + CrLf + Path + CrLf + "xml" + CrLf + GetXml() + CrLf).left(2000));
  int v = 0;
  if (!TryStrToInt(Default.toString(), v))
    Fail("'" + Default.toString() + "' is not a valid integer value");
  return v;
}

void TXXMLNode::SetStrNode(const QString &Path, const QString &Value) {
  if (Path.isEmpty())
    Fail("path error");
  if (Path.startsWith('@')) {
    SetStrAttr(Path.mid(1), Value);
    return;
  }
  IXXMLNode n = SelectSingleNode(Path);
  if (!n)
    n = AddChild(Path);
  if (IsXmlText(Value))
    n->SetText(Value);
  else
    ShowXmlMessage("bad string" + CrLf + Value);
  Touch();
}

void TXXMLNode::SetStrAttr(const QString &Name, const QString &Value) {
  CheckElement("SetStrAttr");
  if (!IsXmlName(Name))
    Fail("invalid attribute name " + Name);
  const std::string name = Utf8(Name);
  pugi::xml_attribute a = FH->Node.attribute(name.c_str());
  if (!a)
    a = FH->Node.append_attribute(name.c_str());
  a.set_value(Utf8(Value).c_str());
  Touch();
}

QString TXXMLNode::GetStrAttrDef(const QString &Name, const QVariant &Default) const {
  const pugi::xml_attribute a = FH->Attr ? pugi::xml_attribute() : FH->Node.attribute(Utf8(Name).c_str());
  if (a)
    return FromUtf8(a.value());
  if (!Default.isValid())
    Fail("invalid StrAttr " + Name + CrLf + "xml" + CrLf + GetXml() + CrLf);
  return Default.toString();
}

int TXXMLNode::GetIntAttrDef(const QString &Name, const QVariant &Default) const {
  const QString s = GetStrAttrDef(Name, Default);
  int v = 0;
  if (!TryStrToInt(s, v))
    Fail("'" + s + "' is not a valid integer value");
  return v;
}

double TXXMLNode::GetFloatAttrDef(const QString &Name, const QVariant &Default) const {
  // A double default stays exact instead of passing through its text.
  if (Default.isValid() && Default.typeId() == QMetaType::Double &&
      !(FH->Attr ? pugi::xml_attribute() : FH->Node.attribute(Utf8(Name).c_str())))
    return Default.toDouble();
  const QString s = GetStrAttrDef(Name, Default);
  double v = 0;
  if (!TryStrToFloat(s, v))
    Fail("'" + s + "' is not a valid floating point value");
  return v;
}

void TXXMLNode::RemoveAttr(const QString &Name) {
  if (FH->Attr)
    return;
  if (FH->Node.remove_attribute(Utf8(Name).c_str()))
    Touch();
}

void TXXMLNode::Remove() {
  if (FH->Attr)
    Fail("TXXMLNode.Remove: an attribute is removed with RemoveAttr");
  pugi::xml_node p = FH->Node.parent();
  if (!p || FH->Node.type() == pugi::node_document)
    return;
  pugi::xml_node limbo = FOwner->Limbo();
  if (p != limbo)
    limbo.append_move(FH->Node);
  Touch();
}

void TXXMLNode::Move(int Direction) {
  if (Direction != -1 && Direction != 1)
    Fail("TXXMLNode.move: invalid direction " + QString::number(Direction));
  pugi::xml_node n = FH->Node;
  pugi::xml_node p = n.parent();
  const pugi::xml_node sibling = Direction < 0 ? n.previous_sibling() : n.next_sibling();
  if (FH->Attr || !p || !sibling || IsLimboNode(p))
    Fail("TXXMLNode.move: unable to move");
  if (Direction < 0)
    p.insert_move_before(n, sibling);
  else
    p.insert_move_after(n, sibling);
  Touch();
}

void TXXMLNode::ReorderChildren(int Index1, int Index2) {
  const IXXMLNode a = SelectSingleNode(QString("*[%1]").arg(Index1));
  const IXXMLNode b = SelectSingleNode(QString("*[%1]").arg(Index2));
  if (!a || !b)
    Fail(QString("TXXMLNode.ReorderChildren: no child %1").arg(!a ? Index1 : Index2));
  if (Index1 == Index2)
    return;
  FOwner->Changed();
  if (Index1 < Index2)
    FH->Node.insert_move_before(b->FH->Node, a->FH->Node);
  else
    FH->Node.insert_move_before(a->FH->Node, b->FH->Node);
}

IXXMLNode TXXMLNode::CloneNode(bool Deep) const {
  if (FH->Attr)
    Fail("TXXMLNode.CloneNode: not an element");
  pugi::xml_node limbo = FOwner->Limbo();
  if (Deep || FH->Node.type() != pugi::node_element)
    return Wrap(limbo.append_copy(FH->Node));
  pugi::xml_node c = limbo.append_child(FH->Node.name());
  for (pugi::xml_attribute a : FH->Node.attributes())
    c.append_copy(a);
  return Wrap(c);
}

// The DOM node of Child ready to be moved under this node: a node of another
// document (or of a tree an earlier load replaced) is copied in first.
pugi::xml_node TXXMLNode::Movable(const IXXMLNode &Child, const char *Operation) const {
  CheckElement(Operation);
  if (!Child || Child->FH->Attr || Child->FH->Node.type() == pugi::node_document)
    Fail(QString("TXXMLNode.%1: invalid child").arg(Operation));
  pugi::xml_node c = Child->FH->Node;
  if (c.root() != FOwner->FDoc->root())
    c = FOwner->Limbo().append_copy(c);
  return c;
}

IXXMLNode TXXMLNode::AppendChild(const IXXMLNode &Child) {
  const pugi::xml_node moved = FH->Node.append_move(Movable(Child, "AppendChild"));
  if (!moved)
    Fail("TXXMLNode.AppendChild: the node cannot be moved here");
  Touch();
  return moved == Child->FH->Node ? Child : Wrap(moved);
}

IXXMLNode TXXMLNode::AddChild(const QString &Name) {
  CheckElement("AddChild");
  return AppendChild(FOwner->CreateElement(Name));
}

// ---------------------------------------------------------------- builder

TXXMLBuilder::TXXMLBuilder(const IXXMLNode &Parent) : FOwner(Parent->FOwner) {
  Parent->CheckElement("AddChild");
  FParent = TElement(Parent->FH->Node.internal_object());
  // The holder of detached nodes exists after any AddChild: so it does here.
  FOwner->Limbo();
}

TXXMLBuilder::TElement TXXMLBuilder::Add(TElement Parent, const char *Name) {
  bool valid = IsNameStart(uchar(*Name));
  for (const char *p = Name; valid && *p; ++p) {
    const uchar c = uchar(*p);
    valid = c < 0x80 && (IsNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.');
  }
  if (!valid)
    throw EKvError("invalid element name " + QString::fromLatin1(Name));
  FOwner->SetModified(true);
  FOwner->Changed();
  return TElement(pugi::xml_node(Parent.FNode).append_child(Name).internal_object());
}

TXXMLBuilder::TElement TXXMLBuilder::AddText(TElement Parent, const char *Name, const char *Utf8) {
  const TElement e = Add(Parent, Name);
  if (*Utf8)
    pugi::xml_node(e.FNode).append_child(pugi::node_pcdata).set_value(Utf8);
  return e;
}

TXXMLBuilder::TElement TXXMLBuilder::Add(TElement Parent, const char *Name, const QString &Text) {
  return AddText(Parent, Name, Text.toUtf8().constData());
}

TXXMLBuilder::TElement TXXMLBuilder::Add(TElement Parent, const char *Name, qint64 Value) {
  char digits[24];
  *std::to_chars(digits, digits + sizeof digits - 1, Value).ptr = 0;
  return AddText(Parent, Name, digits);
}

IXXMLNode TXXMLNode::InsertBefore(const IXXMLNode &NewChild, const IXXMLNode &RefChild) {
  if (!RefChild)
    return AppendChild(NewChild);
  const pugi::xml_node c = Movable(NewChild, "InsertBefore");
  if (RefChild->FH->Attr || RefChild->FH->Node.parent() != FH->Node)
    Fail("TXXMLNode.InsertBefore: the reference is not a child");
  const pugi::xml_node moved = FH->Node.insert_move_before(c, RefChild->FH->Node);
  if (!moved)
    Fail("TXXMLNode.InsertBefore: the node cannot be moved here");
  Touch();
  return moved == NewChild->FH->Node ? NewChild : Wrap(moved);
}

IXXMLNode TXXMLNode::ReplaceChild(const IXXMLNode &NewChild, const IXXMLNode &OldChild) {
  if (!OldChild || OldChild->FH->Attr || OldChild->FH->Node.parent() != FH->Node)
    Fail("TXXMLNode.ReplaceChild: the old node is not a child");
  InsertBefore(NewChild, OldChild);
  OldChild->Remove();
  return OldChild;
}

void TXXMLNode::MergeInto(const IXXMLNode &Target) {
  CheckElement("MergeInto");
  Target->CheckElement("MergeInto");
  FOwner->Changed();
  while (pugi::xml_attribute a = FH->Node.first_attribute()) {
    Target->SetStrAttr(FromUtf8(a.name()), FromUtf8(a.value()));
    FH->Node.remove_attribute(a);
  }
  while (pugi::xml_node c = FH->Node.first_child())
    Target->FH->Node.append_move(c);
  Remove();
}

QString TXXMLNode::GetQuotedTextList(const QString &XPath) const {
  const IXXMLNodeList l = SelectNodes(XPath);
  QStringList parts;
  for (int i = 0; i < l->GetCount(); ++i)
    parts << '"' + l->GetItem(i)->GetText() + '"';
  return parts.join(',');
}

// ---------------------------------------------------------------- node list

TXXMLNodeList::TXXMLNodeList(IXXMLDocument Owner, QList<IXXMLNode> Items)
    : FOwner(std::move(Owner)), FItems(std::move(Items)) {}

IXXMLNode TXXMLNodeList::GetItem(int Index) const {
  if (Index < 0 || Index >= FItems.size())
    throw EKvRange(QString("list index out of bounds (%1)").arg(Index));
  return FItems[Index];
}

TXXMLNodeList *TXXMLNodeList::Delete(int Index) {
  GetItem(Index);
  FItems.removeAt(Index);
  return this;
}

int TXXMLNodeList::GetMaxInt() const {
  int best = 0;
  for (int i = 0; i < FItems.size(); ++i) {
    const QString s = FItems[i]->GetText();
    int v = 0;
    if (!TryStrToInt(s, v))
      throw EKvError("'" + s + "' is not a valid integer value");
    best = i == 0 ? v : std::max(best, v);
  }
  return best;
}

TXXMLNodeList *TXXMLNodeList::ForEach(const QString &Param, const TXValueList *Initial,
                                      const TXXMLNodeProcedure &Callback) {
  FData.Values = Initial ? *Initial : TXValueList();
  FData.Sum = 0;
  FData.Count = int(FItems.size());
  FData.Param = Param;
  const qsizetype comma = Param.indexOf(',');
  for (int i = 0; i < FItems.size(); ++i) {
    FData.Index = i;
    const IXXMLNode &item = FItems[i];
    if (Callback) {
      Callback(item, FData);
    } else if (Param == "#sum") {
      int v = 0;
      if (TryStrToInt(item->GetText(), v) && __builtin_add_overflow(FData.Sum, v, &FData.Sum))
        throw EKvRange("integer overflow");
    } else if (comma >= 0) {
      FData.Values << TXValue{item->GetStrNode(Param.left(comma)), item->GetIntNode(Param.mid(comma + 1))};
    } else if (!Param.isEmpty()) {
      FData.Values << TXValue{item->GetStrNode(Param), i};
    } else {
      FData.Values << TXValue{item->GetText(), 0};
    }
  }
  return this;
}

TXXMLNodeList *TXXMLNodeList::ForEachDistinctText(const QVariant &Data, const TXXMLTextProcedure &Callback) {
  KvCheck(bool(Callback), "TXXMLNodeList.ForEachDistinctText: callback is required");
  FData.Values.clear();
  auto less = [](const TXValue &A, const QString &B) { return A.Text.compare(B, Qt::CaseInsensitive) < 0; };
  for (const IXXMLNode &item : FItems) {
    const QString t = item->GetText();
    const auto pos = std::lower_bound(FData.Values.begin(), FData.Values.end(), t, less);
    if (pos != FData.Values.end() && pos->Text.compare(t, Qt::CaseInsensitive) == 0)
      continue;
    FData.Values.insert(pos, TXValue{t, 0});
  }
  for (const TXValue &v : FData.Values)
    Callback(v.Text, Data);
  return this;
}

// ---------------------------------------------------------------- string list, list

QString TXStringList::GetText() const {
  QString s;
  for (const QString &l : FList)
    s += l + CrLf;
  return s;
}

void TXStringList::SetText(const QString &Text) {
  FList = Text.split(QRegularExpression("\r\n|\n|\r"));
  if (!FList.isEmpty() && FList.last().isEmpty())
    FList.removeLast();
}

QString TXStringList::GetCommaText() const {
  if (FList.size() == 1 && FList[0].isEmpty())
    return "\"\"";
  QStringList parts;
  for (const QString &s : FList) {
    bool quote = false;
    for (QChar c : s)
      quote = quote || c.unicode() <= ' ' || c == ',' || c == '"';
    parts << (quote ? '"' + QString(s).replace("\"", "\"\"") + '"' : s);
  }
  return parts.join(',');
}

QStringList SplitCommaText(const QString &Text) {
  QStringList out;
  const qsizetype n = Text.size();
  auto blank = [&](qsizetype i) { return i < n && Text[i].unicode() >= 1 && Text[i].unicode() <= ' '; };
  qsizetype i = 0;
  while (blank(i))
    ++i;
  while (i < n) {
    QString item;
    if (Text[i] == '"') {
      ++i;
      while (i < n) {
        if (Text[i] == '"') {
          if (i + 1 < n && Text[i + 1] == '"') {
            item += '"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        item += Text[i++];
      }
    } else {
      const qsizetype start = i;
      while (i < n && Text[i].unicode() > ' ' && Text[i] != ',')
        ++i;
      item = Text.mid(start, i - start);
    }
    out << item;
    while (blank(i))
      ++i;
    if (i < n && Text[i] == ',') {
      if (i + 1 == n)
        out << QString();
      do
        ++i;
      while (blank(i));
    }
  }
  return out;
}

void TXStringList::SetCommaText(const QString &Text) { FList = SplitCommaText(Text); }

void TXStringList::LoadFromFile(const QString &FileName) {
  const QByteArray bytes = LoadFileBytes(FileName);
  SetText(DecodeFileText(bytes, FileName));
}

void TXStringList::SaveToFile(const QString &FileName) const { SaveFileBytes(FileName, ToWin1251(GetText())); }

int TXStringList::Add(const QString &S) {
  FList << S;
  return int(FList.size()) - 1;
}

void TXStringList::Fill(const QString &S) {
  for (QString &l : FList)
    l = S;
}

QString TXStringList::GetString(int Index) const {
  if (Index < 0 || Index >= FList.size())
    throw EKvRange(QString("list index out of bounds (%1)").arg(Index));
  return FList[Index];
}

void TXStringList::PutString(int Index, const QString &S) {
  GetString(Index);
  FList[Index] = S;
}

void *TXList::Get(int Index) const {
  if (Index < 0 || Index >= FList.size())
    throw EKvRange(QString("list index out of bounds (%1)").arg(Index));
  return FList[Index];
}

void TXList::Put(int Index, void *Item) {
  Get(Index);
  FList[Index] = Item;
}

int TXList::Add(void *Item) {
  FList << Item;
  return int(FList.size()) - 1;
}

// ---------------------------------------------------------------- saving

QByteArray FormatXMLDocument(const IXXMLDocument &Doc) {
  const IXXMLNode root = Doc ? Doc->GetDocumentElement() : nullptr;
  if (!root)
    throw EKvError("no document element");
  // Only the root element is written: declaration, comments and processing
  // instructions outside it are dropped, and the header below replaces them.
  TStringWriter w;
  root->FH->Node.print(w, "\t", pugi::format_indent | pugi::format_no_declaration, pugi::encoding_utf8);
  QString text = "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\n" + QString::fromStdString(w.Out);
  if (!text.endsWith('\n'))
    text += '\n';
  return EncodeXmlFile(text, true);
}

void SaveXMLDocument(const IXXMLDocument &Doc, const QString &FileName) {
  QByteArray bytes;
  try {
    bytes = FormatXMLDocument(Doc);
  } catch (const EKvError &e) {
    throw EKvError(QString("cannot save %1: %2").arg(FileName, e.Text()));
  }
  SaveFileBytes(FileName, bytes);
}
