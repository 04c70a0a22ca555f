#pragma once
// A local setpoint set file (root `stored-ustav`: a copy of the descriptor,
// its digest and the stored register values) read without widgets, within
// the limits of the page files: nesting, a count of stored values, and
// register numbers and values that are words.
#include "ixml.h"

#include <QList>
#include <QPair>
#include <QString>
#include <cstdint>

namespace UstavSetLimits {
// `modbus/item`s in one set; a device has 1024 registers.
constexpr int MaxItems = 20000;
} // namespace UstavSetLimits

struct TUstavSetFile {
  IXXMLDocument Doc;
  IXXMLNode Descriptor; // the embedded `device-descriptor`
  int Groups = 0;       // setpoint groups stored: at most 2
  // The set's own register words (register, value) for readable setpoints of
  // the stored groups; registers without a stored value are 0.
  QList<QPair<int, uint16_t>> Values;
};

// Reads a set. Throws EKvFormat "invalid format" CR LF path ": " reason for
// a file that is there and does not load; EKvError "invalid format" without
// a `device-descriptor` (also for a missing file); EKvFormat
// "<path>, line N: <limit>" past a limit; EKvError for a stored value of a
// used register that is no number.
TUstavSetFile ReadUstavSetFile(const QString &FileName);
// As ReadUstavSetFile from bytes; Bytes empty and Exists false stand for a
// missing file.
TUstavSetFile ReadUstavSetBytes(const QByteArray &Bytes, const QString &FileName, bool Exists = true);
