#pragma once
// The simulated relay terminal: four register areas, numbered files read and
// written by frames, the clock, the special-command log and the fault switch.
// It executes one request PDU (function code and data) at a time and knows
// nothing of framing; the RTU and TCP slaves put the address, CRC or MBAP
// header around it. Every public member locks, so a test thread may change the
// device while a server thread answers from it.
#include "uSimFault.h"

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

// Function codes the device answers. The standard ones keep their Modbus
// names; the others are the device's own.
enum : uint8_t {
  SIM_FN_READ_HOLDING = 0x03,
  SIM_FN_WRITE_HOLDING = 0x06,
  SIM_FN_READ_STATUS = 0x07, // Read Exception Status: the poll
  SIM_FN_WRITE_CLOCK = 0x1A,
  SIM_FN_WRITE_FILE = 0x1B,
  SIM_FN_READ_FILE = 0x1C,
  SIM_FN_READ_CLOCK = 0x1D,
  SIM_FN_SPECIAL = 0x1F,
  SIM_FN_READ_SRAM = 0x53,
  SIM_FN_READ_FLASH = 0x54,
  SIM_FN_READ_AREA4 = 0x55,
  SIM_FN_WRITE_SRAM = 0x56,
};

// Modbus exception codes.
enum : uint8_t {
  SIM_EX_ILLEGAL_FUNCTION = 0x01,
  SIM_EX_ILLEGAL_ADDRESS = 0x02,
  SIM_EX_ILLEGAL_VALUE = 0x03,
  SIM_EX_TARGET_FAILED = 0x0B, // Modbus TCP: the unit named is not here
};

// Register areas, numbered as the master selects them.
enum class TSimArea { Holding = 1, Sram = 2, Flash = 3, Area4 = 4 };

// One device file: its bytes and the frame size the device cuts it into.
// Frames past the end of Bytes read as zeros.
struct TSimFile {
  QByteArray Bytes;
  int FrameBytes = 128;
};

class TSimDevice {
public:
  // The device takes up to 127 registers in one read (standard Modbus stops at 125).
  static constexpr int MaxReadCount = 127;
  static constexpr int AreaWords = 65536;
  // A frame that the MBAP length or the RTU buffers could still carry.
  static constexpr int MaxFrameBytes = 4096;
  // A file grows by writes up to this size; a frame past it is refused.
  static constexpr int MaxFileBytes = 16 * 1024 * 1024;
  // Requests kept by RequestLog (older ones are dropped).
  static constexpr size_t MaxLoggedRequests = 100000;

  TSimDevice();

  // Device (slave) address, 1..247 on a real line; default 1.
  void SetAddress(uint8_t Address);
  uint8_t Address() const;
  // The status byte answered to a poll (function 07); default 0.
  void SetStatusByte(uint8_t Status);
  // Modbus TCP units other than 0, 255 and the device's own: false (default)
  // answers them with exception 0B, as a server that knows it has no such unit;
  // true leaves them unanswered, as a gateway whose serial line has no such device.
  void SetAbsentUnitsSilent(bool Value);
  bool AbsentUnitsSilent() const;

  uint16_t Register(TSimArea Area, uint16_t Reg) const;
  void SetRegister(TSimArea Area, uint16_t Reg, uint16_t Value);
  // Values to Reg, Reg + 1, ...; throws EKvRange when they run past the area.
  void SetRegisters(TSimArea Area, uint16_t Reg, const std::vector<uint16_t> &Values);

  // Adds or replaces file FileNo (0..255) with frames of FrameBytes
  // (1..MaxFrameBytes); throws EKvRange otherwise.
  void SetFile(int FileNo, const QByteArray &Bytes, int FrameBytes);
  void RemoveFile(int FileNo);
  bool HasFile(int FileNo) const;
  // The frame size of FileNo; 0 when absent.
  int FileFrameBytes(int FileNo) const;
  // The bytes of FileNo, grown by any frame written past its end; empty when absent.
  QByteArray FileBytes(int FileNo) const;

  // Sets the clock; a running clock goes on from Time, a stopped one stays there.
  void SetClock(const QDateTime &Time, bool Running = true);
  QDateTime Clock() const;

  // Values of the special commands received, oldest first.
  std::vector<uint8_t> SpecialLog() const;
  // Every request PDU addressed to this device (broadcasts included), oldest
  // first, as the slaves log them with LogRequest, spoiled answers included.
  std::vector<QByteArray> RequestLog() const;
  void LogRequest(const QByteArray &Pdu);
  void ClearLogs();
  // Called with the value of each special command as it comes, on the thread
  // that executes it, with the device locked: it must not call back into the device.
  void SetSpecialHook(std::function<void(uint8_t Value)> Hook);
  // Called after each file frame written with the file's number and its whole
  // bytes, on the thread that executes it, with the device locked.
  void SetWriteHook(std::function<void(int FileNo, const QByteArray &Bytes)> Hook);
  // Called with each request PDU as it comes, before the device acts on it,
  // on the thread that serves it, with the device unlocked: it may change the
  // device as another master would between two requests of the program.
  void SetRequestHook(std::function<void(const QByteArray &Pdu)> Hook);

  // Called for each holding register written, before it is stored, on the
  // thread that executes it, with the device locked: returns the value the
  // device keeps (the answer echoes the request as written).
  void SetRegisterWriteHook(std::function<uint16_t(uint16_t Reg, uint16_t Value)> Hook);

  // The refusing switch: holding-register writes outside Limits (per register,
  // the inclusive range its descriptor element allows) are answered with
  // exception 03 and not stored, as a relay that checks its limits does. An
  // empty map (the default) refuses nothing.
  void SetWriteLimits(std::map<uint16_t, std::pair<uint16_t, uint16_t>> Limits);

  // The fault switch that spoils answers (see uSimFault.h). Setting it restarts its counts.
  void SetFault(const TSimFault &Fault);
  TSimFault Fault() const;
  // Decides for one request PDU whether the fault applies and advances the
  // counts; returns a fault of kind None when it does not.
  TSimFault TakeFault(const QByteArray &Pdu);
  TSimFault TakeFault(uint8_t Function) { return TakeFault(QByteArray(1, char(Function))); }

  // The lossy line (see uSimFault.h). Setting it restarts its count.
  void SetLossy(const TSimLossy &Lossy);
  // Counts one request; the lossy spoiling due to its answer, of kind None when none is.
  TSimLossy TakeLossy();

  // Executes a request PDU and returns the answer PDU (bit 7 of its function
  // code set for an exception answer).
  QByteArray Execute(const QByteArray &Pdu);

private:
  QByteArray ReadArea(TSimArea Area, const QByteArray &Pdu);
  QByteArray WriteArea(TSimArea Area, const QByteArray &Pdu);
  QByteArray ReadFileFrame(const QByteArray &Pdu);
  QByteArray WriteFileFrame(const QByteArray &Pdu);
  QByteArray ReadClock(const QByteArray &Pdu);
  QByteArray WriteClock(const QByteArray &Pdu);
  QDateTime ClockLocked() const;
  std::vector<uint16_t> &AreaWordsOf(TSimArea Area);

  mutable std::mutex FLock;
  uint8_t FAddress = 1;
  uint8_t FStatusByte = 0;
  bool FAbsentUnitsSilent = false;
  std::array<std::vector<uint16_t>, 4> FAreas;
  std::map<int, TSimFile> FFiles;
  QDateTime FClockBase;
  bool FClockRunning = true;
  QElapsedTimer FClockTimer;
  std::vector<uint8_t> FSpecialLog;
  std::function<void(uint8_t)> FSpecialHook;
  std::function<void(int, const QByteArray &)> FWriteHook;
  std::function<void(const QByteArray &)> FRequestHook;
  std::function<uint16_t(uint16_t, uint16_t)> FRegisterWriteHook;
  std::map<uint16_t, std::pair<uint16_t, uint16_t>> FWriteLimits;
  std::vector<QByteArray> FRequestLog;
  TSimFault FFault;
  int FFaultSeen = 0;    // matching requests since the fault was set
  TSimLossy FLossy;
  int FLossySeen = 0;    // requests since the lossy line was set
};

// An exception answer PDU for Function.
QByteArray SimExceptionPdu(uint8_t Function, uint8_t Code);
