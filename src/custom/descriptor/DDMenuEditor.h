#pragma once
// The device's front-panel menu: the menu XML (nested item-list and item
// elements naming descriptor records), its compilation into the menu area of
// the descriptor image with the listing "menu.lst", and the editor's commands
// without widgets (the window "Редактор меню" wraps a TMenuEditorCore).
// GUI-free; main thread only.
#include "ixml.h"

#include <QIODevice>
#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

class TDeviceDescriptor;
class TDDNamedObject;

// ---- attribute routines

// The attribute's text, Default when the node has no such attribute.
QString GetAttrStr(const IXXMLNode &Node, const QString &Name, const QString &Default);
// The attribute as a decimal integer ("$" prefix: hexadecimal); Default when
// it is missing or no integer.
int GetAttrInt(const IXXMLNode &Node, const QString &Name, int Default);
// Adds the attribute or replaces its value.
void SetAttr(const IXXMLNode &Node, const QString &Name, const QString &Value);
// Throws EKvError "attr not found: " + Name + " in\r\n" + the node's XML when missing.
void SetExistingAttr(const IXXMLNode &Node, const QString &Name, const QString &Value);
// Exchanges two siblings through deep copies; A and B then designate the copies.
void SwapNodes(IXXMLNode &A, IXXMLNode &B);

// The menu unit's settings: fixed answers, except the work folder.
class TSetupSurrogate {
public:
  static bool ReadBool(const QString &Path, bool Default) { return Default; }
  static int ReadInteger(const QString &Path, int Default) { return Default; }
  // The setting setup/temp (default: the program's folder), with a trailing separator.
  static QString GetTempFolder();
};

// ---- the menu model

class TDeviceMenu {
public:
  // An empty FileName gives an empty, unloaded menu (Depth 0). Otherwise loads
  // the file; throws EKvError "error loading " + FileName when it cannot be parsed.
  explicit TDeviceMenu(const QString &FileName = QString());

  IXXMLDocument Document;
  IXXMLNode Root; // the document element; null when nothing was loaded
  TXValueList Actions, Types; // (text, id) of the "action" and "type" elements
  TDeviceDescriptor *Descriptor = nullptr;
  uint16_t StartAddr = 0xFFFF, DateItemAddr = 0xFFFF;
  bool Modified = false;
  int Depth = 0;

  // The first item-list under the document element; null when none.
  IXXMLNode MenuRoot() const;
  // The record an item names by desc-type and desc-id (its own desc-type only);
  // null when none or for a kind without records.
  TDDNamedObject *FindRecord(const IXXMLNode &Item) const;
  // The text the editor's tree shows for an item.
  QString DisplayCaption(const IXXMLNode &Item) const;
  // The reference check: each problem followed by "\r\n"; empty when none.
  QString CheckReferences() const;

  // Writes at the stream's position with image base BaseAddr. Parts: 1 the menu
  // tree, event and event-measure records; 2 the event table. Sets StartAddr and
  // DateItemAddr. Throws on every fault (the stream then holds a partial area);
  // the temporary offset attributes are removed in every case.
  void Build(QIODevice &Stream, uint16_t BaseAddr, int Parts);
  // Reads the records from StartPos and writes the listing to FileName (a path);
  // the stream position is restored. Throws EKvError "invalid rectype " + XX.
  void WriteListing(QIODevice &Stream, uint16_t BaseAddr, qint64 StartPos, const QString &FileName) const;

private:
  struct TBuild;
};

// ---- the editor without widgets

// A node of the descriptor tree: a heading or a record.
struct TDescTreeNode {
  QString Text;
  TDDNamedObject *Record = nullptr;
  std::vector<TDescTreeNode> Children;
};

// One row of the system-event table (an "event" element of the document).
struct TMenuEventRow {
  IXXMLNode Element;
  QString Type, Code, Action, Target;
};

class TMenuEditorCore {
public:
  TMenuEditorCore();

  QString FFileName;
  TDeviceDescriptor *FDescriptor = nullptr;
  std::unique_ptr<TDeviceMenu> FMenu;
  std::vector<TDescTreeNode> FDescTree;

  TDeviceMenu &Menu() const { return *FMenu; }
  // Replaces the menu by one loaded from FileName (throws as TDeviceMenu does).
  void LoadFromFile(const QString &FileName);
  // Binds the descriptor, creates a missing root item-list and fills the
  // descriptor tree. Throws EKvError "menu error" without a menu.
  void SetDescriptor(TDeviceDescriptor *Descriptor);
  uint16_t GetDateItemAddr() const { return FMenu->DateItemAddr; }
  // The document as a file (Modified := false).
  void Save(const QString &FileName);

  // Tree level of a menu node: the root list is 0.
  int Level(const IXXMLNode &Node) const;
  // Child elements shown under Node (none at level Depth or deeper); throws
  // "invalid node " + name for an element the menu does not know.
  QList<IXXMLNode> TreeChildren(const IXXMLNode &Node) const;
  QString TreeText(const IXXMLNode &Node) const;
  // 0 list, 1 item, 2 setpoint group, 3 event-level list, 4 alarm, 5 unresolved.
  int TreeImage(const IXXMLNode &Node) const;

  // Inserting: each returns the new element (or the existing event item), null
  // when Target takes no insertion (too deep, or an event item).
  bool CanInsert(const IXXMLNode &Target) const;
  IXXMLNode InsertBlank(const IXXMLNode &Target);
  // Selected: descriptor tree nodes in order of selection.
  QList<IXXMLNode> Insert(const IXXMLNode &Target, const std::vector<const TDescTreeNode *> &Selected);
  // Throws "invalid ustav group count" / "invalid ustav group".
  IXXMLNode InsertUstavGroup(const IXXMLNode &Target);
  IXXMLNode InsertEvent(const IXXMLNode &Target);
  IXXMLNode InsertAlarm(const IXXMLNode &Target);
  IXXMLNode InsertRecord(const IXXMLNode &Target, TDDNamedObject &Record);

  bool CanEditText(const IXXMLNode &Node) const;
  // Applies an edited text; false when the element keeps its old text.
  bool EndEdit(const IXXMLNode &Node, const QString &Text);
  void Delete(const QList<IXXMLNode> &Nodes);
  // Exchange with the previous or next sibling; Node then designates the moved entry.
  bool MoveUp(IXXMLNode &Node);
  bool MoveDown(IXXMLNode &Node);
  // "Ошибок на найдено" or the first 2000 characters of the problems.
  QString Check() const;
  // The descriptor tree node of the record an item names; null when none.
  const TDescTreeNode *FindDescNode(const IXXMLNode &Item) const;

  std::vector<TMenuEventRow> EventRows() const;
  void InsertEventRow(int Index);
  void DeleteEventRow(int Index);
  // The row's target := the path of Node (child indexes from the document node).
  void Link(int Row, const IXXMLNode &Node);
  static QString NodePath(const IXXMLNode &Node);

private:
  IXXMLNode AddList(const IXXMLNode &Target, const QString &Caption, const QString &DescType);
  IXXMLNode AddItem(const IXXMLNode &Target, const QString &Caption, const QString &DescType);
};

// Resolves a target path ("0 0 3": child indexes from the document node); null
// when a child does not exist.
IXXMLNode ResolveMenuPath(const IXXMLDocument &Doc, const QString &Path);
