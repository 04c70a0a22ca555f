#pragma once
// Decoder of the binary descriptor image ("DeviceDescriptor.bin") into the
// run-time descriptor XML. The image is the device's own compiled description:
// a header, the Modbus table (register -> device address of the record that
// describes it) and eleven zones of variable-length records, each zone ended
// by the byte 0xAA. Every read is bounds-checked: an image that ends early or
// holds a record type its zone does not accept is an EKvFormat with the
// position and the type byte.
#include "ixml.h"
#include "uDateTime.h"

#include <QByteArray>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>

// What the decoder takes from the image besides the XML.
struct TDecodedHeader {
  std::array<uint16_t, 1024> ModbusTable{};
  std::array<uint16_t, 8> UstavGroupRegs{};
  int UstavGroupCount = 0;
  TDateTime CoreDate = 0, DescDate = 0;
  uint16_t CalibrAddr = 0;
  QString IdentHex;       // bytes 44..47 as 8 upper-case hex digits, in file order
  uint32_t IdentCache = 0; // CRC-32 of the identifier file the image was built with
};

class TDescriptorDecoder {
public:
  // Receives trace lines: the image position of the byte just read (at least
  // 4 upper-case hex digits), a blank, the text.
  using TTrace = std::function<void(const QString &Line)>;

  TDescriptorDecoder(const IXXMLNode &Root, TTrace Trace) : FRoot(Root), FTrace(std::move(Trace)) {}

  // Decodes Image into children of Root (which should be empty). On failure the
  // elements built so far stay. Throws EKvFormat "Invalid descriptor revision";
  // "Ошибка при расшифровке " CR LF "sec Invalid Modbus Zone" when header word 0
  // is below 48; "Ошибка при расшифровке " CR LF reason CR LF "Position XXXX"
  // CR LF "Value XX" (hex, upper case) with reason "sec Invalid Record Type"
  // (a type its zone does not accept, at that byte) or "sec Invalid Position"
  // (the image ends inside a record or where a record is due; Value is then the
  // record's type byte, 00 outside a record). EKvRange for a setpoint copy whose
  // address is beyond 0xFFFF or a ninth setpoint group.
  TDecodedHeader Decode(const QByteArray &Image);

  // A packed BCD date (day, month, century, year in century) as a day count;
  // a combination that is not a valid date gives 2000-01-01.
  static TDateTime DecodeBcdDate(const uint8_t *Bytes);

private:
  IXXMLNode FRoot;
  TTrace FTrace;
};
