#pragma once
// Conversion of a device oscillogram record ("osc.bin") into a COMTRADE
// configuration and data pair. The record carries no channel descriptions:
// names, scaling and the recorded bits come from the run-time descriptor and
// the register image. Layout: blocks of 18 samples (10 ms at 1800 samples per
// second); 18 rows of one signed little-endian word per analog channel, then
// the block's discrete words, big-endian, ceil(bits / 16) per bit register.
#include "ixml.h"
#include "uComtrade.h"

#include <QByteArray>
#include <QChar>
#include <QString>
#include <cstdint>
#include <vector>

class TModbus;

class TComtradeStream {
public:
  static constexpr int SampleRate = 1800;
  static constexpr int BlockSamples = 18;

  TComtradeStream() = default;

  // The raw record; the position goes to 0.
  void LoadFromBytes(const QByteArray &Bytes);
  // Throws EKvError "cannot open <path>: <reason>".
  void LoadFromFile(const QString &FileName);
  qint64 Size() const { return FBytes.size(); }
  qint64 Position() const { return FPosition; }
  void SetPosition(qint64 Value);

  // Root (`device-descriptor`) of the run-time descriptor; required by FillConfig.
  void SetDescriptor(const IXXMLNode &Root) { FDescriptor = Root; }
  // The register image primary and secondary values are read from; nullptr
  // (the default) is the program's image.
  void SetRegisterImage(const TModbus *Image) { FImage = Image; }

  // Fills Config from the descriptor: one analog channel per `osc/osc-measure`,
  // one digital channel per bit of each `osc/osc-bitreg` whose name does not
  // begin with ExcludeChar, one rate planning DurationMs of samples. Reserved
  // is not used. Throws EKvFormat "invalid measure-ider <n>" and
  // "no bitreg found for record-type <n>", EKvRange past 100 channels.
  void FillConfig(TComtradeConfig &Config, int Reserved, int DurationMs, TDateTime FirstTime,
                  TDateTime TriggerTime, double Factor, QChar ExcludeChar, bool Primary);
  // Fills Data (bound to the configuration FillConfig filled) from the current
  // position: samples up to the planned count or the end of the record, then
  // offsets, the calibration shift and, with CalcSpread, the spread.
  // ExcludeChar is not used.
  void FillData(TComtradeData &Data, bool CalcSpread, QChar ExcludeChar);

  // One flag per discrete bit position of a block, True where the bit is not a
  // channel (excluded, or padding up to the register's last word).
  const std::vector<uint8_t> &ExcludeFlags() const { return FExclude; }

private:
  bool ReadDiscreteRows(TComtradeDataTool &Tool, int Rows);

  QByteArray FBytes;
  qint64 FPosition = 0;
  IXXMLNode FDescriptor;
  const TModbus *FImage = nullptr;
  std::vector<uint8_t> FExclude;
};
