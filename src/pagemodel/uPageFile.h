#pragma once
// The page file of the title panel and of the device boards, read without
// widgets: the file is loaded, checked against its limits and turned into
// records of elements and their property texts, which the pages then give to
// their controls. A file past a limit is refused whole, before any control
// is made from it.
#include "ixml.h"

#include <QList>
#include <QString>

namespace PageLimits {
// XML nesting, the document element being level 1: a panel of group boxes
// within group boxes never comes near it.
constexpr int MaxDepth = 64;
// `element`s in one file (every board of a boards file counted).
constexpr int MaxElements = 20000;
} // namespace PageLimits

// One stored property of a control: its element's name and text, or for a
// class-typed property (Font, BitList) the properties of the sub-object.
struct TPageProperty {
  QString Name;
  QString Text;
  int Line = 0;
  bool IsObject = false; // the element holds elements (a sub-object)
  QList<TPageProperty> Sub;
};

// One `element` of a page: the class named by its `class` child (empty when
// missing), its properties in file order, and the elements inside it.
struct TPageElement {
  QString ClassName;
  int Line = 0;
  QList<TPageProperty> Properties;
  QList<TPageElement> Children;
};

// The first property of List named Name (letter case as in the file, as the
// reader of stored files always looked them up); nullptr when none.
const TPageProperty *FindPageProperty(const QList<TPageProperty> &List, const QString &Name);

// The range of a numeric stored property, by name (letter case ignored):
// register numbers are words, positions, sizes, counts and spacings are kept
// within what a widget can hold, colours are any 32-bit value. False for a
// property that is not a number.
bool PagePropertyRange(const QString &Name, qint64 &Min, qint64 &Max);

// Loads a page file. Throws EKvError "cannot open " + path + ": " + the
// system's reason; for broken XML path + ": " + the parser's reason + CR +
// "Ъ" + the offending line; EKvFormat
// "<path>, line N: <limit>" for a file past a limit (CheckPageLimits).
IXXMLDocument LoadPageDocument(const QString &FileName);
// A page file that is not there is no fault (a fresh install has none): the
// text it is reported with, "cannot open <path>: <reason>" with the reason in
// the language the program speaks now, the first time this is asked for the
// path in the process; "" after that, and "" when the file opens now.
QString MissingPageFileText(const QString &FileName);
// As LoadPageDocument, from the file's bytes; FileName only names it.
IXXMLDocument LoadPageBytes(const QByteArray &Bytes, const QString &FileName);
// Checks Doc without recursion: nesting deeper than MaxDepth, more than
// MaxElements `element`s, or a numeric property whose number lies outside
// its range throws EKvFormat naming FileName, the line and the limit. A
// property text that is no number at all is left to the control's reader
// (a bad value, reported while loading goes on).
void CheckPageLimits(const IXXMLDocument &Doc, const QString &FileName);
// Only the nesting limit, for other files of the pages (setpoint sets).
void CheckPageDepth(const IXXMLDocument &Doc, const QString &FileName);
// The records of the `element` children of Node (a page's document element
// or a board's `frame`). Node must lie in a document CheckPageLimits passed.
QList<TPageElement> ReadPageElements(const IXXMLNode &Node);
// The record of one `element` node and of the elements inside it.
TPageElement ReadPageElement(const IXXMLNode &Node);
// The properties of one element or sub-object node (every child element but
// `class` and nested `element`s).
QList<TPageProperty> ReadPageProperties(const IXXMLNode &Node);
