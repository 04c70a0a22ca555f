#pragma once
// The run-time descriptor of the connected device: an XML document (root
// `device-descriptor`) decoded from the device's binary image or loaded from a
// saved file, plus a few values of the image header, the setpoint group
// registers and the calibration table read later from the device. Every page
// queries it by XPath through Root. Main thread only.
#include "ixml.h"
#include "uDateTime.h"

#include <QIODevice>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <span>

struct TCalibrationRecord {
  uint16_t mdir = 0, cdir = 0, mang = 0, cang = 0, val = 0;
};

class TSimpleDeviceDescriptor {
public:
  using TLogProc = std::function<void(const QString &Line)>;
  static constexpr int MaxCalibration = 32;

  // Loads the character map from "charmap.bin" (built-in table when absent)
  // and starts with an empty `device-descriptor` root, not Ready.
  TSimpleDeviceDescriptor();

  // Where decoder trace lines go (the application log's writer); empty: nowhere
  // unless the console trace is on, then to standard error.
  void SetOnLog(TLogProc Handler) { FOnLog = std::move(Handler); }
  void SetConsoleTrace(bool Value) { FConsoleTrace = Value; }

  // The device character map from FileName or the built-in table.
  void LoadCharMap(const QString &FileName);

  // Decodes the image file. Throws EKvError "Cannot open file ..." when it
  // cannot be opened, and the decoder's errors; Ready stays False on failure.
  void LoadFromBinFile(const QString &FileName);
  // Decodes the whole stream (from position 0) into a fresh document. Ready is
  // False on entry and True only at the end of a successful decoding; on
  // failure the document keeps what was built so far.
  void LoadFromStream(QIODevice &Stream);
  // Loads a saved run-time descriptor XML. False (Ready False) when the file
  // cannot be read or parsed. Throws EKvRange for more than 8 setpoint groups
  // or a register or address above 65535.
  bool LoadFromFile(const QString &FileName);
  // Saves the document as it stands. Throws EKvError "not ready" when not Ready.
  void SaveToFile(const QString &FileName) const;
  void SetReady(bool Value) { Ready = Value; }

  // Modbus register of the first setpoint of group 0..7; EKvRange otherwise.
  uint16_t GetUstavGroupReg(int Group) const;
  int GetUstavGroupCount() const { return FUstavGroupCount; }

  // Calibration table as read from device memory: 16-byte records of four
  // 4-byte fields, of each the second little-endian word (mdir, cdir, mang,
  // cang); a trailing partial record is ignored; more than 32 is EKvRange.
  // Gives every measure with an SRAM address its `ccaddr`.
  void LoadCalibration(QIODevice &Stream);
  // (key, value) pairs of little-endian words: the first record whose cang is
  // the key takes the value.
  void LoadCalibrationValues(QIODevice &Stream);
  // val of the first record whose cang is Key; 0 when none.
  uint16_t FindCalibrationValue(uint16_t Key) const;
  // Fills Table (exactly 128 words: EKvAssert "calibr count" otherwise) with
  // mdir, cdir, mang, cang of each record; returns the record count.
  int GetCalibrationTable(std::span<uint16_t> Table) const;
  int GetCalibrationCount() const { return FCalibrationCount; }
  const TCalibrationRecord &GetCalibration(int Index) const { return FCalibration.at(size_t(Index)); }

  // The plain-text report ("desc.txt"): registers, enumerated setpoint texts,
  // bit registers, calibration and measures with their current scale values
  // from the global register image. Nothing when not Ready. The caller shows
  // the notice and saves "desc.xml".
  void WriteReport(const QString &FileName) const;
  // The event description document ("event.xml"): categories, event codes,
  // event measures with their scale and event bits. Throws EKvAssert "cannot
  // find measure by id N" / "cannot find bitreg by rt N" before anything is saved.
  void SaveEventDescription(const QString &FileName);

  const std::array<uint16_t, 1024> &ModbusTable() const { return FModbusTable; }

  IXXMLDocument Document;
  IXXMLNode Root;
  bool Ready = false;
  TDateTime CoreDate = 0;
  TDateTime DescDate = 0;
  uint16_t CalibrAddr = 0;
  QString IdentHex;
  // CRC-32 of the identifier file the image was built with; compared unsigned.
  uint32_t IdentCache = 0;

private:
  void Trace(const QString &Line) const;
  void ResetDocument();

  TLogProc FOnLog;
  bool FConsoleTrace = false;
  std::array<uint16_t, 1024> FModbusTable{};
  std::array<uint16_t, 8> FUstavGroupRegs{};
  int FUstavGroupCount = 0;
  std::array<TCalibrationRecord, MaxCalibration> FCalibration{};
  int FCalibrationCount = 0;
  IXXMLNode FEventGroup;
};
