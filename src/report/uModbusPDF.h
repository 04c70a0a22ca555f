#pragma once
// The Modbus register map of the connected device as a report: every
// register 0..1023 the run-time descriptor maps, with the bits or states of
// bit and enumeration registers. Main thread only.
#include "ixml.h"
#include "uReportDocument.h"

class TSimpleDeviceDescriptor;

class TModbusPDF {
public:
  // Desc is not owned and must outlive the object.
  TModbusPDF(const TSimpleDeviceDescriptor &Desc, const TReportSetup &Setup);

  // Lays the report out and shows its preview (returns when it is closed).
  void Execute();
  // The laid-out, ended report.
  TReportDocument Build() const;

  // The "Тип" text of a descriptor element: by element name (and record type
  // for `ustav-enum`); any other element gives its own name.
  static QString KindTitle(const IXXMLNode &Node);

private:
  const TSimpleDeviceDescriptor &FDesc;
  TReportSetup FSetup;
};
