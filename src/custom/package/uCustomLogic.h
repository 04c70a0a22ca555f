#pragma once
// The custom logic document against the base logic: one `module` element
// per custom block of the base logic, and the interface numbering of a unit
// written back from the editor.
#include "ixml.h"

#include <QList>
#include <QString>
#include <cstdint>

#include "uSchemaModule.h"


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

// One choice of the unit dialog: kind 0 an input taken from a label of the
// base logic (OrgId the label, OrgPin 0), kind 1 a module input of the base
// logic that a constant feeds (OrgId the module, OrgPin the pin).
struct TOrg {
  uint8_t Kind = 0;
  int OrgId = 0;
  int OrgPin = 0;
  bool operator==(const TOrg &) const = default;
};
struct TOrgChoice {
  QString Text; // "<module caption> / <label caption or pin name>"
  TOrg Org;
};

// For every module block of Base and each of its output pins linked to a
// label: that label.
QList<TOrgChoice> FillInputChoices(const TModule &Base);
// For every module block of Base and each of its input pins whose source is
// fed by the functions "zero" or "one", directly or through labels and label
// references (a label cycle feeds nothing).
QList<TOrgChoice> FillOutputChoices(const TModule &Base);
// The outputs driven by the units of CustomRoot other than the one of OrgId:
// a base-logic input may be driven by one unit only.
QList<TOrg> OutputsOfOtherUnits(const IXXMLNode &CustomRoot, int OrgId);

// Applies one list of the dialog (all choices of one kind, Checked beside
// them) to the shown unit: a checked choice without its interface element
// gets one in the kind's column (x 4 inputs, 30 outputs) below the lowest
// block there; an unchecked one loses it.
void ApplyUnitChoices(TModule &Unit, int Kind, const QList<TOrgChoice> &Choices, const QList<bool> &Checked);

// The unit's rectangle from "left,top,width,height" (blanks before a field
// skipped, an empty field 0).
TUnitRect UnitRectFromText(const QString &Text);

// Adds every unit (its `module` element) to Base as a module block and links
// its interface: each inint to a new reference of its label, each outint in
// place of the link that fed its module input. Throws "internal error" for
// an interface element missing from the element or with a gid outside the
// unit's pins (checked before any link is made), "invalid label",
// "link not found", "nonunique id detected".
void MergeUnits(TModule &Base, const QList<TCustomUnit> &Units);
