#pragma once
// What names one relay: not only its type and firmware, which every unit of a
// line-up shares, but the route and address it answers at and a datum of the
// unit itself. Whatever is made from a relay (an edit, a tab made from its
// values, a logic read, a saved record, the journal's rows) keeps the
// identity it was made under and is compared with the unit answering now.
#include <QByteArray>
#include <QString>
#include <cstdint>

struct TUnitIdentity {
  // Where the unit answers: "tcp:HOST:PORT" or "rtu:PORT"; the address is apart.
  QString Route;
  uint8_t Address = 0;
  // The descriptor image's first frame: the type, the firmware and the
  // descriptor's dates, as identification read it.
  QByteArray DescFrame;
  // The unit's own datum: the calibration values read from SRAM at
  // identification (factory values of this unit, which nothing the program
  // does writes). Empty where the descriptor has no calibration values.
  QByteArray UnitDatum;
  // The head of the custom-logic container (its length and digest), where
  // identification reads the logic; empty where it does not.
  QByteArray LogicDigest;

  // No relay identified.
  bool IsEmpty() const { return DescFrame.isEmpty(); }
  // Two identities name one unit: the same route, descriptor frame and unit
  // datum, and the same logic where both hold its digest; the same address
  // too where the unit has no datum (with one, the datum names the unit
  // whatever address it was moved to). Two empty identities name no unit:
  // never the same.
  bool SameUnit(const TUnitIdentity &Other) const;
  // What the identity check compares on the line: the address, the
  // descriptor's first frame and the unit datum (the route is the link's own).
  bool SameAnswer(uint8_t OtherAddress, const QByteArray &OtherDescFrame, const QByteArray &OtherDatum) const;
  // Of one type and firmware: the same descriptor frame.
  bool SameType(const TUnitIdentity &Other) const { return !IsEmpty() && DescFrame == Other.DescFrame; }
  // A line for the log: the route, the address and short digests of the rest.
  QString Describe() const;

  bool operator==(const TUnitIdentity &Other) const = default;
};
