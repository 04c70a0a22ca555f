#pragma once
// The register image: the program's picture of the device's first 1024 Modbus
// registers. Values are held in host order (the wire's big-endian order is
// undone by the device operations). IO chains write answers into it, pages and
// reports read from it. Main thread only: the worker never touches it.
#include "ixml.h"

#include <QByteArray>
#include <QIODevice>
#include <QString>
#include <array>
#include <cstdint>

class TModbus {
public:
  static constexpr int RegCount = 1024;

  TModbus();

  // Every value 0xFFFF, every valid flag and access byte 0.
  void Clear();

  // Value of register Reg (0..1023); throws EKvRange above.
  uint16_t GetWord(int Reg) const;
  // Stores the value and marks it valid; throws EKvRange for Reg outside 0..1023.
  void SetWord(int Reg, uint16_t Value);
  // True when the value came from the device since the last Clear; False outside 0..1023.
  bool IsValid(int Reg) const;
  void SetValid(int Reg, bool Value);
  // The register's access bits from the run-time descriptor; throws EKvRange outside 0..1023.
  uint8_t GetAccess(int Reg) const;
  // The value's storage, for decoding in place; throws EKvRange outside 0..1023.
  uint16_t *WordPtr(int Reg);

  // Copies values, valid flags and access bytes.
  void Assign(const TModbus &Source);

  // Access bytes from the run-time descriptor rooted at Root: every element
  // with an `mreg` child gives its `modbus-acc` to registers mreg ..
  // mreg + word-count - 1, and to its second `mreg` when it has one. A missing
  // `modbus-acc` raises the XML wrapper's error; a register above 1023 EKvRange.
  void LoadAccessMap(const IXXMLNode &Root);

  // Empties the stream, then writes the number (16-bit little-endian) of every
  // register whose access byte has bit 0 set, in ascending order.
  void SaveRegList(QIODevice &AStream) const;
  // Reads (register, value) pairs of little-endian words from position 0 to
  // the end and stores each into the global image, whichever instance it is
  // called on; stops with EKvRange at a register above 1023. A trailing odd
  // part of a pair is ignored.
  void LoadRegValues(QIODevice &AStream) const;

  // Text of Count registers from Reg of the global image: high byte, then low
  // byte, up to the first zero byte, translated through the device character map.
  QString GetString(int Reg, int Count) const;
  // Program text to the device's display codes, byte for byte through the
  // character map (the codes the device stores for a typed text).
  static QByteArray DecodeChars(const QString &S);

private:
  std::array<uint16_t, RegCount> FValues;
  std::array<uint8_t, RegCount> FValid;
  std::array<uint8_t, RegCount> FAccess;
};

// The process-wide image, made before first use and kept for the whole run.
TModbus &Modbus();
