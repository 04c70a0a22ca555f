#pragma once
// The XML wrapper every document of the program goes through (descriptor,
// page files, side files, templates). Objects are shared: a node or list keeps
// its document alive. Paths are XPath 1.0 evaluated from the node; a path
// beginning with "@" names an attribute. Tree changes set the document's
// Modified flag. Single-threaded: a document and its nodes belong to one thread.
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class TXXMLDocument;
struct TKeyedLookups;
class TXXMLNode;
class TXXMLNodeList;
class TXStringList;
class TXList;
using IXXMLDocument = std::shared_ptr<TXXMLDocument>;
using IXXMLNode = std::shared_ptr<TXXMLNode>;
using IXXMLNodeList = std::shared_ptr<TXXMLNodeList>;
using IXStringList = std::shared_ptr<TXStringList>;
using IXList = std::shared_ptr<TXList>;

// One entry of an iteration's values list: a text and its associated number.
struct TXValue {
  QString Text;
  qint64 Number = 0;
  bool operator==(const TXValue &) const = default;
};
using TXValueList = QList<TXValue>;

// Handed to iteration callbacks and returned by GetProcedureData.
struct RXXMLNodeProcedureData {
  QString Param;      // the mode argument of the iteration
  int Index = 0;      // current item
  int Count = 0;      // items
  TXValueList Values; // the values list
  int Sum = 0;        // running sum of "#sum"
};

using TXXMLNodeProcedure = std::function<void(const IXXMLNode &Node, RXXMLNodeProcedureData &Data)>;
using TXXMLTextProcedure = std::function<void(const QString &Text, const QVariant &Data)>;

// Where "bad string" notices of SetStrNode go (default: the application log).
// Returns the previous sink; tests and the GUI replace it.
using TXmlMessageSink = std::function<void(const QString &Text)>;
TXmlMessageSink SetXmlMessageSink(TXmlMessageSink Sink);

namespace pugi {
class xml_document;
class xml_node;
class xml_attribute;
struct xml_node_struct;
} // namespace pugi

IXXMLDocument NewXMLDocument();

// Queries of the form "path[key=N]" are answered from an index (the answer
// XPath gives, kept up to date with every change). Off: plain XPath evaluation,
// which tests compare it with.
void SetXPathKeyIndex(bool On);

class TXXMLDocument : public std::enable_shared_from_this<TXXMLDocument> {
public:
  // Use NewXMLDocument(): nodes need the document to be held by a shared_ptr.
  TXXMLDocument();
  ~TXXMLDocument();
  TXXMLDocument(const TXXMLDocument &) = delete;
  TXXMLDocument &operator=(const TXXMLDocument &) = delete;

  // Blank text between elements (indentation) is dropped at load, so moves and
  // positions see elements only; a blank text that is an element's whole
  // content is kept.
  // Loads a file, honouring its byte-order mark or declared encoding (UTF-8,
  // UTF-16, windows-1251 and what the text codecs know; without a declaration
  // UTF-8, and Windows-1251 when the bytes are not UTF-8). False on failure
  // (GetParseError tells why) and the previous root stays. Modified := false.
  // Bytes invalid in the encoding are a failure, "invalid <encoding> byte at
  // offset N", never replaced.
  bool Load(const QString &FileName);
  // As Load, from bytes (a file read from the device).
  bool LoadBytes(const QByteArray &Bytes);
  // Loads from text (its declared encoding is ignored: the text is Unicode).
  // On failure the previous root is released. Modified := false.
  bool LoadXML(const QString &Text);
  // Writes the document as it stands (declaration kept, no re-indenting):
  // Windows-1251 when the declaration says so, else UTF-8. Throws EKvError.
  void Save(const QString &FileName);

  // The root element; nullptr before a successful load.
  IXXMLNode GetDocumentElement();
  // Why the last load failed, with line and column; empty after a success.
  QString GetParseError() const { return FParseError; }
  // A new element of this document, not attached anywhere.
  IXXMLNode CreateElement(const QString &Name);
  void SetModified(bool Value) { FModified = Value; }
  bool GetModified() const { return FModified; }
  // The whole document as text, as Save writes it (LF line ends here).
  QString GetXml() const;
  // The 1-based line of Offset in the text last parsed (its UTF-8 form keeps
  // the line breaks of the file); 0 when unknown.
  int LineOfOffset(qsizetype Offset) const;

private:
  friend class TXXMLNode;
  friend class TXXMLBuilder;
  bool Parse(const QByteArray &Utf8, bool KeepRootOnFailure);
  pugi::xml_node Limbo();
  bool IsDetached(const pugi::xml_node &Node) const;
  // Every change of the tree (text, attributes, children, a load) calls it.
  void Changed();
  // Answers "path[key=N]" from Context through the keyed index: false when the
  // query has another shape (evaluate it as XPath then).
  bool FindKeyed(const pugi::xml_node &Context, const std::string &Query, pugi::xml_node &Found);

  std::unique_ptr<pugi::xml_document> FDoc;
  // Trees of earlier loads stay alive while this document lives, so a node
  // wrapper of an old tree never points into freed memory.
  std::vector<std::unique_ptr<pugi::xml_document>> FRetired;
  bool FHasRoot = false;
  bool FModified = false;
  QString FParseError;
  std::unique_ptr<TKeyedLookups> FKeyed;
  // Where each line of the parsed text begins, for error messages that name
  // the line of a node.
  std::vector<qsizetype> FLineStarts;
};

QByteArray FormatXMLDocument(const IXXMLDocument &Doc);

class TXXMLNode : public std::enable_shared_from_this<TXXMLNode> {
public:
  // Wraps an element, text, attribute or document node of Owner's tree.
  // An empty node fails the assertion "invalid IXMLDOMNode".
  TXXMLNode(IXXMLDocument Owner, const pugi::xml_node &Node, const pugi::xml_attribute &Attr);
  ~TXXMLNode();

  TXXMLNode *GetSelf() { return this; }
  // Element or attribute name; "#text", "#cdata-section", "#comment", "#document" otherwise.
  QString GetNodeName() const;
  // The node as XML text, unindented.
  QString GetXml() const;
  // All text below the node, concatenated (an attribute: its value).
  QString GetText() const;
  // Replaces the node's content by one text (an attribute: its value). Does not set Modified.
  void SetText(const QString &Value);
  IXXMLDocument GetDocument() const { return FOwner; }
  // nullptr for a detached node or the document itself.
  IXXMLNode GetParentNode() const;
  // Text of the first child node ("" without children).
  QString GetFirstChildText() const;
  // Kept for callers: a CDATA section is made and left unattached.
  void CreateCDATASection(const QString &Text);

  // Every match in document order. Throws EKvError on a malformed XPath.
  IXXMLNodeList SelectNodes(const QString &XPath) const;
  // The first match, nullptr when none. Throws EKvError on a malformed XPath.
  IXXMLNode SelectSingleNode(const QString &XPath) const;
  IXXMLNode SelectParentNode() const { return SelectSingleNode(".."); }

  // The text at Path; when nothing matches, Default as text, or with an
  // invalid Default EKvError "invalid StrNode" CR LF "path" CR LF Path CR LF
  // "xml" CR LF this node's XML CR LF.
  QString GetStrNodeDef(const QString &Path, const QVariant &Default = QVariant()) const;
  QString GetStrNode(const QString &Path) const { return GetStrNodeDef(Path, QString()); }
  // As GetStrNodeDef, the text as an integer; "invalid IntNode" when missing
  // without default, "invalid IntNode value" when not an integer (messages cut
  // to 2000 characters).
  int GetIntNodeDef(const QString &Path, const QVariant &Default = QVariant()) const;
  int GetIntNode(const QString &Path) const { return GetIntNodeDef(Path, 0); }
  // Sets the text at Path, creating the child element Path when nothing
  // matches; "@name" sets an attribute. Empty path: EKvError "path error".
  // Text XML cannot carry goes to the message sink as "bad string" and the
  // node keeps its text. Sets Modified.
  void SetStrNode(const QString &Path, const QString &Value);
  void SetIntNode(const QString &Path, int Value) { SetStrNode(Path, QString::number(Value)); }

  void SetStrAttr(const QString &Name, const QString &Value);
  void SetIntAttr(const QString &Name, int Value) { SetStrAttr(Name, QString::number(Value)); }
  // The attribute's value; missing without default: EKvError "invalid StrAttr "
  // + Name CR LF "xml" CR LF this node's XML CR LF.
  QString GetStrAttrDef(const QString &Name, const QVariant &Default = QVariant()) const;
  QString GetStrAttr(const QString &Name, const QString &Default) const { return GetStrAttrDef(Name, Default); }
  // Integer and floating-point forms ("." as decimal separator); a value that
  // is no number throws EKvError "'text' is not a valid integer value" (or
  // "... floating point value").
  int GetIntAttrDef(const QString &Name, const QVariant &Default = QVariant()) const;
  int GetIntAttr(const QString &Name, int Default) const { return GetIntAttrDef(Name, Default); }
  double GetFloatAttrDef(const QString &Name, const QVariant &Default = QVariant()) const;
  double GetFloatAttr(const QString &Name, double Default) const { return GetFloatAttrDef(Name, Default); }
  // Removes the attribute when present (sets Modified). An attribute wrapper
  // selected earlier ("@name") must not be used afterwards.
  void RemoveAttr(const QString &Name);

  // Detaches the node from its parent; the wrapper stays usable (it can be
  // appended again). Sets Modified.
  void Remove();
  // -1: in front of the previous sibling; +1: behind the next one. Throws
  // "TXXMLNode.move: invalid direction N" / "TXXMLNode.move: unable to move".
  void Move(int Direction);
  // Puts the element child at the higher 1-based position in front of the one
  // at the lower. Throws EKvError when a position has no element child.
  void ReorderChildren(int Index1, int Index2);
  IXXMLNode CloneNode(bool Deep) const;
  IXXMLNode ReplaceChild(const IXXMLNode &NewChild, const IXXMLNode &OldChild);
  // Moves the attributes and then the children of this node to Target, then removes this node.
  void MergeInto(const IXXMLNode &Target);
  // Moves Child (detached or elsewhere in the tree) to the end of this node's children.
  IXXMLNode AppendChild(const IXXMLNode &Child);
  // A new element Name appended to this node.
  IXXMLNode AddChild(const QString &Name);
  // RefChild nullptr appends.
  IXXMLNode InsertBefore(const IXXMLNode &NewChild, const IXXMLNode &RefChild);
  // The texts of all matches, each in double quotes, joined by commas.
  QString GetQuotedTextList(const QString &XPath) const;
  // The line of the file where this element began; 0 for a node made or
  // moved since the load.
  int GetLine() const;

private:
  friend class TXXMLDocument;
  friend class TXXMLBuilder;
  friend QByteArray FormatXMLDocument(const IXXMLDocument &Doc);
  void CheckElement(const char *Operation) const;
  void Touch() const;
  [[noreturn]] void Fail(const QString &Message) const;
  IXXMLNode Wrap(const pugi::xml_node &Node) const;
  pugi::xml_node Movable(const IXXMLNode &Child, const char *Operation) const;

  IXXMLDocument FOwner;
  // pugixml handles are two pointers; kept opaque here so the header stays light.
  struct THandles;
  std::unique_ptr<THandles> FH;
};

// Appends elements below an element without a wrapper object per element,
// for decoders that make thousands at once; the tree is the one AddChild and
// SetText would build, and every addition counts as a change. Names are
// ASCII XML names (EKvError "invalid element name" otherwise). An element
// handle stays valid while its document holds the element.
class TXXMLBuilder {
public:
  class TElement {
  public:
    TElement() = default;

  private:
    friend class TXXMLBuilder;
    explicit TElement(pugi::xml_node_struct *Node) : FNode(Node) {}
    pugi::xml_node_struct *FNode = nullptr;
  };

  // Throws EKvError when Parent is not an element.
  explicit TXXMLBuilder(const IXXMLNode &Parent);
  TElement Parent() const { return FParent; }
  // A new last child Name of Parent holding Text (no text node when empty).
  TElement Add(TElement Parent, const char *Name);
  TElement Add(TElement Parent, const char *Name, const QString &Text);
  TElement Add(TElement Parent, const char *Name, qint64 Value);

private:
  TElement AddText(TElement Parent, const char *Name, const char *Utf8);

  IXXMLDocument FOwner;
  TElement FParent;
};

class TXXMLNodeList {
public:
  TXXMLNodeList(IXXMLDocument Owner, QList<IXXMLNode> Items);

  int GetCount() const { return int(FItems.size()); }
  RXXMLNodeProcedureData GetProcedureData() const { return FData; }
  // Throws EKvRange for an index outside 0..Count-1.
  IXXMLNode GetItem(int Index) const;
  // Drops the item from the list (not from the document).
  TXXMLNodeList *Delete(int Index);
  TXXMLNodeList *GetSelf() { return this; }
  // The largest item text as an integer; 0 for an empty list. Throws EKvError
  // "'text' is not a valid integer value".
  int GetMaxInt() const;
  // Runs over the items (see RXXMLNodeProcedureData): with Callback it is
  // called per item; otherwise Param "#sum" adds integer texts to Sum
  // (EKvRange "integer overflow" on overflow), "a,b" adds GetStrNode(a) with
  // number GetIntNode(b), another Param adds GetStrNode(Param) with the item's
  // index, an empty Param adds the item's text. Values start as a copy of
  // Initial (or empty). Returns this list.
  TXXMLNodeList *ForEach(const QString &Param, const TXValueList *Initial = nullptr,
                         const TXXMLNodeProcedure &Callback = nullptr);
  TXXMLNodeList *ForEachWith(const TXXMLNodeProcedure &Callback, const QString &Param = QString(),
                             const TXValueList *Initial = nullptr) {
    return ForEach(Param, Initial, Callback);
  }
  // Calls Callback(text, Data) once per distinct item text (letter case
  // ignored), in sorted order; Values holds those texts. Callback is required.
  TXXMLNodeList *ForEachDistinctText(const QVariant &Data, const TXXMLTextProcedure &Callback);

private:
  IXXMLDocument FOwner;
  QList<IXXMLNode> FItems;
  RXXMLNodeProcedureData FData;
};

// Splits comma text the way string lists read it: quoted items may hold
// commas and blanks ("" inside quotes is one quote); an unquoted item ends at
// a comma, a blank or a control character; a trailing comma adds an empty item.
QStringList SplitCommaText(const QString &Text);

// A shared string list with the comma-text form of stored settings: items
// separated by commas (or blanks), an item with blanks, commas or quotes
// written in double quotes with inner quotes doubled.
class TXStringList {
public:
  explicit TXStringList(const QString &CommaText = QString()) { SetCommaText(CommaText); }
  // Lines joined with CR LF, each line ended by it.
  QString GetText() const;
  void SetText(const QString &Text);
  QString GetCommaText() const;
  void SetCommaText(const QString &Text);
  // Windows-1251 text files (UTF-8 after a byte-order mark). LoadFromFile
  // throws EKvError "cannot open ..." and EKvFormat for bytes that do not decode.
  void LoadFromFile(const QString &FileName);
  void SaveToFile(const QString &FileName) const;
  int Add(const QString &S);
  int GetCount() const { return int(FList.size()); }
  void Clear() { FList.clear(); }
  // Every existing line becomes S.
  void Fill(const QString &S);
  QString GetString(int Index) const;
  void PutString(int Index, const QString &S);
  QStringList &GetStrings() { return FList; }

private:
  QStringList FList;
};

// A shared list of pointers it does not own.
class TXList {
public:
  void *Get(int Index) const;
  void Put(int Index, void *Item);
  int Add(void *Item);
  int GetCount() const { return int(FList.size()); }
  void Clear() { FList.clear(); }

private:
  QList<void *> FList;
};

// Writes the root element re-indented, one node per line, under the line
// <?xml version="1.0" encoding="windows-1251"?>, with CR LF line ends and
// Windows-1251 bytes; a character the code page lacks is written as a
// numeric character reference. Throws EKvError naming the file on failure.
void SaveXMLDocument(const IXXMLDocument &Doc, const QString &FileName);
// The bytes SaveXMLDocument writes (for callers that store them elsewhere).
QByteArray FormatXMLDocument(const IXXMLDocument &Doc);
