#pragma once
// Device content: binary descriptor images ("DeviceDescriptor.bin") written
// from a compact description, in the layout the device firmware interprets.
// Tests, the simulator and the demo device describe a device here and get the
// bytes. Nothing is validated beyond what the layout needs to be written at
// all, so broken images are made on purpose: raw bytes can be put at the end
// of every area (before its end byte), types and counts are taken as given,
// and the result can be patched afterwards.
#include <QByteArray>
#include <QDate>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <map>
#include <vector>

// One measurement record (area 1). Type carries the flag bits: 1, plus 2
// visible, 4 two's-complement value, 8 value with offset (the offset word is
// written only with bit 8 set).
struct TDcMeasure {
  int Reg = -1; // register it is served at; -1: not in the register map
  uint8_t Type = 1 | 2;
  uint8_t Access = 1;
  uint16_t Sram = 0;
  uint16_t MvpSram = 0xFFFF; // SRAM of the primary-value parameter
  uint8_t MvpScale = 0;      // exponent byte as stored: 1 = 10, 2 = 100, 3 = 1000
  uint16_t MvsSram = 0xFFFF;
  uint8_t MvsScale = 0;
  uint16_t Offset = 0;
  QString Short, Full;
};

// A discrete bit group (areas 2..6, record types 17..21): one text pair per bit.
struct TDcBitGroup {
  uint8_t Type = 17;
  int Reg = -1;
  uint8_t Access = 1;
  uint16_t Sram = 0;
  uint16_t Eeprom = 0xFFFF;
  QStringList Short, Full; // Full decides the bit count
  int ExtraRegs = -1;       // extra-register records; -1: one per further 16 bits
};

// A parameter record (area 7): 33 enumerated, 34/38/39 numeric, 36 text,
// 29 date, 30 status.
struct TDcParam {
  uint8_t Type = 34;
  int Reg = -1;
  uint8_t Access = 3;
  uint16_t Sram = 0;
  uint16_t Eeprom = 0xFFFF;
  uint8_t Koef = 0; // numeric: scale code byte
  uint16_t Min = 0, Max = 0xFFFF;
  uint8_t Length = 0, PasswdChar = 0; // text: length in registers, password character
  QString Short, Full;
  QStringList ValueShort, ValueFull; // enumerated: ValueFull decides the count
  int ExtraRegs = 0; // text, date and status: extra-register records that follow
};

// A setpoint (area 8): 49/53 enumerated, 50 numeric. Group g of setpoint i is
// served at Groups[g].Reg + i with SRAM/EEPROM Groups[g].Sram/Eeprom + 2*i.
struct TDcSetpoint {
  uint8_t Type = 50;
  uint8_t Access = 3;
  int Measure = -1; // numeric: index of the measure whose record it references
  uint16_t Min = 0, Max = 0xFFFF;
  QString Short, Full;
  QStringList ValueShort, ValueFull;
  uint8_t Level = 1;
};

struct TDcSetpointGroup {
  int Reg = -1;
  uint16_t Sram = 0, Eeprom = 0;
};

struct TDcEvent {
  bool Failure = false;
  uint8_t Code = 0;
  uint8_t Level = 1;
  QString Text;
};

// A reference to a bit group in the event and oscillogram areas: one bit word
// record per 16 bits of the group of that type (17..21), or, when Type is 0,
// one record with the raw SRAM word.
struct TDcBitRef {
  uint8_t Type = 17;
  uint16_t RawSram = 0;
};

// An oscillogram channel: the measure it records (-1: none, written $FF $FFFF).
struct TDcOscChannel {
  int Measure = -1;
};

// Raw bytes put at the end of an area, before its end byte.
enum TDcArea {
  daMeasures, daInputs, daRelays, daLeds, daVirtIn, daVirtOut, daParams, daSetpoints,
  daEventMeasures, daEvents, daOsc, daMenu, daAreaCount
};

struct TDeviceContent {
  uint16_t BaseAddr = 0x2000; // device address of image byte 0
  uint16_t CalibrAddr = 0x1F00;
  uint16_t FillWord = 0xFFFF; // register-map entry of unclaimed registers
  QByteArray CharMap;         // 256 bytes; empty: the built-in map
  QDate CoreDate = QDate(2021, 3, 5), DescDate = QDate(2021, 3, 6);
  uint32_t IdentCrc = 0x12345678; // CRC-32 of the identifier file
  uint16_t VarAddr = 0, VarSize = 0, BinAddr = 0, BinSize = 0;

  std::vector<TDcMeasure> Measures;
  std::vector<TDcBitGroup> BitGroups; // written in areas 2..6 by their type
  std::vector<TDcParam> Params;
  QStringList SetpointLevels;
  std::vector<TDcSetpointGroup> SetpointGroups;
  std::vector<TDcSetpoint> Setpoints;
  QStringList EventLevels;
  std::vector<int> EventMeasures; // measure indexes; -1 gives $FFFF references
  std::vector<TDcBitRef> EventBits;
  std::vector<TDcEvent> Events;
  std::vector<TDcOscChannel> OscChannels;
  std::vector<TDcBitRef> OscBits;
  QByteArray Code; // user logic code, at a 512-byte boundary
  QByteArray Tail[daAreaCount];
  // Memory map of the identifier listing written beside the design-time
  // descriptor: identifiers sit at their SRAM minus SramBase; EEPROM is
  // handed out from EepromBase in the address generator's order.
  uint16_t SramBase = 0x0100, EepromBase = 0x0100, EepromSize = 0x0400;
};

// Where things landed in a written image (file offsets).
struct TDcRecordPos {
  uint8_t Type;
  int Offset;
};

struct TDeviceImage {
  QByteArray Bytes;
  int AreaOffset[18] = {}; // file offset of areas 0..17
  std::vector<TDcRecordPos> Records; // every record in write order
  std::vector<int> MeasureOffsets;   // record offset of each measure
  // Offset of the first record of Type at or after From; -1 when none.
  int FindRecord(uint8_t Type, int From = 0) const;
  // Device address of a file offset.
  uint16_t Addr(int Offset) const { return uint16_t(Base + Offset); }
  uint16_t Base = 0;
};

// Writes the image. Throws EKvError "invalid special symbol in " + text for a
// bad display-string escape and EKvRange for a register above 1023, a count
// above 255 or an address beyond 0xFFFF.
TDeviceImage BuildDeviceImage(const TDeviceContent &Content);

// A display string (without its end byte) through the character map Map:
// "|" is the byte 1, "\" + decimal digits the byte of that value, "\\" the
// map's code of "\", a character whose code is 0 the code of the blank.
QByteArray EncodeDisplayString(const QString &Text, const QByteArray &Map);

// Packed BCD date: day, month, century, year in century.
QByteArray PackBcdDate(const QDate &Date);

// The design-time side of a description, written independently of the
// program's descriptor model: the firmware identifier listing
// "identification.inc" (Windows-1251, CR LF lines), whose memory map and
// identifiers give the SRAM addresses of the records, and the design-time
// descriptor document (root "device-descriptor", with a front-panel menu)
// bound to those identifiers. The program's address generator and image
// builder, fed with both, give the image BuildDeviceImage writes, as far as
// the run-time decoder reads it (areas 1 to 11). Throws EKvError when two
// identifiers would overlap.
QByteArray DesignIdentification(const TDeviceContent &Content);
QByteArray DesignDescriptorXml(const TDeviceContent &Content);
// The checksum the program compares with the image: CRC-32 of the listing's
// bytes but the last.
uint32_t DesignIdentificationCrc(const TDeviceContent &Content);

// A plausible relay: a dozen measures, five bit groups, parameters of every
// kind, two setpoint groups, events and oscillogram channels.
TDeviceContent DemoDeviceContent();

// The registers Content's descriptor limits, for TSimDevice::SetWriteLimits:
// numeric parameters and setpoints word-min..word-max (a parameter giving
// 0..0 has none), enumerations 0..count-1, in every setpoint group.
std::map<uint16_t, std::pair<uint16_t, uint16_t>> DescribedWriteLimits(const TDeviceContent &Content);
