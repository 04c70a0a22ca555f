#pragma once
// The firmware's identifier listing "identification.inc": the device memory map
// and the identifiers of the Modbus-visible data block.
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <vector>

// One identifier of the Modbus data block.
class TModbusIder {
public:
  QString Name;
  int Address = 0;      // byte offset from the label MODBUSMASS
  QString Comment;      // first comment field
  QString GroupComment; // second comment field, or the whole comment when there is one
  int Size = 0;         // 16-bit words

  int GetSize() const { return Size; }
  int GetByteSize() const { return 2 * Size; }
};

class TModbusIderList {
public:
  // Loads and parses the file (Windows-1251 text). Throws EKvError when it
  // cannot be read, and as Load does.
  explicit TModbusIderList(const QString &FileName);
  // Parses the given lines.
  explicit TModbusIderList(const QStringList &Lines);

  QStringList FLines;
  QStringList FMeasures; // names of the "OSC" lines, in file order
  // CRC-32 of the file the list was made from (0 when made from lines).
  uint32_t FSourceCrc = 0;

  // The memory map; each holds its unset value until its constant is read.
  uint16_t FFlashAddr = 0xFFFF;
  int32_t FFlashSize = -1;
  uint16_t FSRAMAddr = 0xFFFF;
  uint16_t FSRAMSize = 0xFFFF;
  uint16_t FEEPROMAddr = 0xFFFF;
  uint16_t FEEPROMSize = 0xFFFF;
  uint16_t FWorkingUstavAddr = 0xFFFF;
  uint16_t FWorkingUstavSize = 0xFFFF;
  uint16_t FCoreDateAddr = 0xFFFF;
  uint16_t FCoreDateSize = 0xFFFF;
  uint16_t FCalibrAddr = 0xFFFF;

  // Parses FLines. Throws EKvError "Не задан адрес" followed by "\r\n" and the
  // name of each memory-map field left unset; EKvRange for a constant that is
  // negative as a 32-bit number or, for the 16-bit fields, above $FFFF.
  void Load();

  int Count() const { return int(FItems.size()); }
  const TModbusIder &Item(int Index) const { return *FItems.at(size_t(Index)); }
  // Exact, case-sensitive; the first match; null when none.
  const TModbusIder *FindByName(const QString &Name) const;
  // The identifier's Address, $FFFF when there is none of that name.
  uint16_t GetAddress(const QString &Name) const;
  // 0-based position in the measurement list. Throws EKvError
  // "Недопустимый идентификатор измерения <name>", EKvRange above 255.
  uint8_t IndexOfMeasure(const QString &Name) const;
  // 2 x IndexOfMeasure; EKvRange when that reaches 256.
  uint8_t GetMeasureOffset(const QString &Name) const;

  // Writes "ModbusIderList.lst" into WorkFolder (overwriting).
  void WriteListing(const QString &WorkFolder) const;

private:
  std::vector<std::unique_ptr<TModbusIder>> FItems;
  void ParseIder(const QString &Line, int &AddressCounter, int &GroupBytesLeft);
};

// The process-wide listing: null until created.
TModbusIderList *ModbusIderList();
// Creates the process-wide listing from FileName when none exists yet; returns it.
TModbusIderList &EnsureModbusIderList(const QString &FileName);
// Drops the process-wide listing (a new logic brings its own file).
void ResetModbusIderList();
// A new listing from FileName, or null when the process-wide one was made
// from a file of the same CRC-32 (it serves on). Nothing is put in place.
// Throws as the constructor does.
std::unique_ptr<TModbusIderList> NewModbusIderListFor(const QString &FileName);
// Puts List in place of the process-wide listing (null drops it); returns the
// one that was there, so that a failed load can put it back.
std::unique_ptr<TModbusIderList> SwapModbusIderList(std::unique_ptr<TModbusIderList> List);
