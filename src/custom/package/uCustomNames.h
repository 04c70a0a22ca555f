#pragma once
// The names the user gives to the device's inputs, relays, LEDs and custom
// setpoints: kept in the design-time descriptor of the base logic, carried
// to the device as four name tables of the custom logic document.
#include "ixml.h"

#include <QString>
#include <vector>

class TDeviceDescriptor;
class TDDUstav;
class TDDString;

// Descriptor -> document: "dd-di", "dd-do", "dd-le", "dd-ustav" under Logic
// (added when missing), each emptied and filled again.
void StoreNameTables(const TDeviceDescriptor &Desc, const IXXMLNode &Logic);
// Document -> descriptor, for the tables present; items naming no entry or
// setpoint are ignored.
void ApplyNameTables(TDeviceDescriptor &Desc, const IXXMLNode &Logic);

// One row of the setpoint name dialog: level text, short name, name.
struct TCustomUstavRow {
  TDDUstav *Ustav = nullptr;
  QString Level;
};
// The custom setpoints in descriptor order.
std::vector<TCustomUstavRow> CustomUstavRows(const TDeviceDescriptor &Desc);

// One row of the circuit name dialog: the entry of group 17, 18 or 19.
struct TCustomParamIORow {
  int RecordType = 0;
  int Index = 0;
  TDDString *Entry = nullptr;
  QString Direction; // "Вход", "Выход", "Светодиоды"
};
std::vector<TCustomParamIORow> CustomParamIORows(const TDeviceDescriptor &Desc);
