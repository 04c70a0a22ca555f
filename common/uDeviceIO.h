#pragma once
// Device operations: each turns into one Modbus request frame with its expected
// answer length, runs through the transport and decodes the answer. Besides the
// standard register functions the device speaks function codes of its own
// (file frames, clock, special commands, register reads of other memory areas).
// All numbers inside frames are big-endian; the transport adds the CRC.
//
// Thread affinity: owned by the device worker and used on its thread only,
// except GetComPortList (a class function for the port menu) and the port's
// own thread-safe operations reached through GetOI().GetComPort().
#include "oi.h"

#include <QDateTime>
#include <QIODevice>
#include <QStringList>
#include <cstdint>

// Function codes of the device's own operations.
constexpr uint8_t FN_READ_EXCEPTION_STATUS = 0x07;
constexpr uint8_t FN_WRITE_CLOCK = 0x1A;
constexpr uint8_t FN_WRITE_FILE_FRAME = 0x1B;
constexpr uint8_t FN_READ_FILE_FRAME = 0x1C;
constexpr uint8_t FN_READ_CLOCK = 0x1D;
// Special command function; the IO chains send the values 0xFF, 0xF1 and 0xF0.
constexpr uint8_t FN_SPECIAL_COMMAND = 0x1F;
// The highest address a device may have on a Modbus line (0 is the broadcast).
constexpr uint8_t MaxDeviceAddr = 247;

// Numbers of the device's files, and the frame sizes the program reads them
// with; the simulator lays out its files for the same frames.
constexpr uint8_t FILE_EVENT_RING = 128;
constexpr uint8_t FILE_DESCRIPTOR = 129;
constexpr uint8_t FILE_OSC_DIRECTORY = 132;
constexpr uint8_t FILE_EXT_FLASH = 140;
constexpr uint16_t DESCRIPTOR_FRAME_BYTES = 128;
constexpr uint16_t OSC_FRAME_BYTES = 128;
constexpr uint16_t FLASH_FRAME_BYTES = 2048;

class TDeviceIO {
public:
  // Device address 0, memory area 0, codes 0x03 (read) and 0x06 (write).
  explicit TDeviceIO(const QString &TraceFileName = TOI::DefaultTraceFileName());
  TOI &GetOI() { return FOI; }

  // Every operation returns true on success. On false the destination is left
  // as it was, and the cause is GetOI().GetStatus() with, for a device
  // exception, GetStatus(). Throws EKvRange only for a frame or answer that
  // would not fit the transport's buffers (a caller's error, not the line's).
  // Register reads, file-frame reads and polls of an address 1..247 lost on
  // the line are tried again (TOI::TransactRepeatable); a register read of
  // an address 1..247 and a file-frame read also after the device's "busy"
  // (exception 06), on both links, and on the serial line a file-frame read
  // after any failed try. Writes never are. A register read or write
  // answered with exception 02 notes TForeignSign::IllegalAddress in the
  // transport.

  // address, read code, Start, Count; expects Count * 2 + 5 bytes whose byte
  // count (answer byte 2) is Count * 2 where that fits a byte, else
  // oisProtocolError. Dest[i] := the word at answer byte 3 + 2i.
  bool ReadRegisters(uint16_t Start, uint16_t *Dest, uint16_t Count);
  // address, write code, Reg, Value; expects 8 bytes echoing register and
  // value (else oisProtocolError).
  bool WriteRegister(uint16_t Reg, uint16_t Value);
  // Addr, 0x07; expects 5 bytes. A device address (1..247) must answer from
  // itself; a poll of any other address takes an answer from any device
  // address (a poll of 255 finds the device at its own). On success the
  // device address becomes the answering address; Answered and DevStatus
  // are answer bytes 0 and 2.
  bool Poll(uint8_t Addr, uint8_t &Answered, uint8_t &DevStatus);
  // Sends the scan requests to First .. Last (see TOI::SendScan).
  bool ScanStart(uint8_t First, uint8_t Last, int PauseMs);
  // The next scan answer: Addr and DevStatus are answer bytes 0 and 2.
  bool ScanNext(uint8_t &Addr, uint8_t &DevStatus);
  // address, 0x1C, FileNo, FrameNo; expects Count + 7 bytes echoing FileNo and
  // FrameNo (else oisProtocolError); answer bytes 5 .. 5 + Count - 1 are
  // written to ADest at its position.
  bool ReadFileFrame(uint8_t FileNo, uint16_t FrameNo, int Count, QIODevice &ADest);
  // address, 0x1B, FileNo, FrameNo, then Count bytes from AData's position
  // (zero bytes where AData runs out); expects 7 bytes echoing FileNo and FrameNo.
  bool WriteFileFrame(uint8_t FileNo, uint16_t FrameNo, QIODevice &AData, int Count);
  // address, 0x1D; expects 16 bytes: six words (year in the century, month,
  // day, hour, minute, second) at answer bytes 2 .. 13. A record that is no
  // valid date and time gives 2000-01-01 12:30:00.000. Local time, no ms.
  bool ReadClock(QDateTime &DT);
  // address, 0x1A, the six words of DT (seconds; ms dropped); expects 16 bytes
  // echoing the six words.
  // Throws EKvRange when DT is not in the current century.
  bool WriteClock(const QDateTime &DT);
  // address, Code, Value, 0; expects 6 bytes echoing Value and 0.
  bool SpecialCommand(uint8_t Code, uint8_t Value);

  // The device's Modbus exception code when the last exchange ended with
  // oisErrorFlag, else 0.
  uint8_t GetStatus() const;
  void SetDeviceAddr(uint8_t Addr) { FDeviceAddr = Addr; }
  uint8_t GetDeviceAddr() const { return FDeviceAddr; }
  // Area 1: 0x03/0x06 (registers); 2: 0x53/0x56 (SRAM); 3: read 0x54 (FLASH);
  // 4: read 0x55. Areas 3 and 4 keep the write code; any other area is stored
  // and changes no code.
  void SetMemoryArea(uint8_t Area);
  // The codes of Area as if no area had been selected before (area 0: 0x03
  // and 0x06): the worker's choice for each record.
  void SetMemoryAreaAlone(uint8_t Area);

  // The machine's serial ports, each "description (port)" with the port's
  // system name, sorted by SortComPortList. AList is cleared first.
  static void GetComPortList(QStringList &AList);
  // Orders captions by the text after the "(" that opens the port name (the
  // first "(COM" when there is one, else the last "("), compared ordinally, so
  // "(COM10)" sorts before "(COM2)" and "(ttyS10)" before "(ttyS2)".
  static void SortComPortList(QStringList &AList);
  // The port name inside a caption's last parentheses ("" when there are none).
  static QString PortNameFromCaption(const QString &Caption);

private:
  void NoteRegisterSigns();
  TOI FOI;
  uint8_t FDeviceAddr = 0;
  uint8_t FReadCode = 0x03;
  uint8_t FWriteCode = 0x06;
  uint8_t FMemoryArea = 0;
};
