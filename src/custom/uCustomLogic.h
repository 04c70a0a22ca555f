#pragma once
// The custom logic document against the base logic: one `module` element
// per custom block of the base logic, and the interface numbering of a unit
// written back from the editor.
#include "ixml.h"

#include <QList>
#include <QString>

class TModule;

struct TCustomUnit {
  QString Caption;
  IXXMLNode Node; // the unit's `module` element in the custom logic
};

// For each custom block of Base, in list order, the element
// "module[@orgid=<id>]" of CustomRoot, appended empty when missing; then
// every `module` child naming no block of Base is removed.
QList<TCustomUnit> MergeCustomUnits(const TModule &Base, const IXXMLNode &CustomRoot);

// The unit's inint elements, then its outint elements (children of
// `implementation`), get gid 1, 2, 3 ... in document order.
void RenumberUnitInterface(const IXXMLNode &Unit);
