#pragma once
// COMTRADE (IEEE C37.111) configuration and ASCII data files: the models the
// oscillogram viewer reads and the conversion of device records fills.
// Written files follow the 1999 revision so that other readers open them.
// Files without a revision on line 1 are the program's older ones ("yy/mm/dd",
// samples numbered from 0, the rate line giving the last 0-based index) and
// are read as they always were. In memory a rate's LastSample is always the
// 0-based index of the last sample, whatever the file stored.
#include "uDateTime.h"

#include <QIODevice>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <vector>

// At most this many analog and this many digital channels, and sample rates.
constexpr int ComtradeMaxChannels = 100;
constexpr int ComtradeMaxRates = 100;

struct TComtradeAnalogChannel {
  int An = 0;
  QString Id, Phase, Component, Unit;
  double A = 0.0;    // physical value = A * raw + B
  double B = 0.0;
  double Skew = 0.0; // read and written, not applied
  int Min = 0, Max = 0;
  // Transformer ratio (primary : secondary) and whether A gives primary values.
  double Primary = 1.0, Secondary = 1.0;
  bool IsPrimary = false;
  // The conversion's negated mean raw value (physical units); kept for the
  // spread, never applied nor written.
  double Offset = 0.0;
  // Samples by which the data's calibration pass shifts the channel; neither
  // read from nor written to the file.
  double CalibrationShift = 0.0;
};

struct TComtradeDigitalChannel {
  int Dn = 0;
  QString Id;
  bool Y = false; // normal state
};

struct TComtradeRate {
  double Samples = 0.0; // samples per second; 0 until the data give it when NoRate
  int LastSample = 0;   // 0-based index of the last sample at this rate
};

class TComtradeData;

class TComtradeConfig {
public:
  TComtradeConfig();

  // Reads a ".cfg" (1991 and later revisions, ASCII or ANSI data). Throws
  // EKvFormat with the format's message and " (line N)"; a recording device id
  // that does not decode sets Warning to "invalid Station Id". A later revision
  // with no rates and a rate of 0 is accepted: the data's time stamps then give
  // the rate (TComtradeData::LoadFromFile).
  void LoadFromFile(const QString &FileName, QString &Warning);
  // The same from the bytes of a file (Windows-1251); FileName is only kept.
  void LoadFromBytes(const QByteArray &Bytes, const QString &FileName, QString &Warning);
  // Writes the 1999 layout in Windows-1251 with CR LF: channels numbered from 1,
  // the rate line's last sample number the sample count, "dd/mm/yyyy" dates
  // with microseconds, time multiplier 1. Throws "no filename" for an empty
  // name and EKvError for a factor that is not finite.
  void SaveToFile(const QString &FileName);
  // The bytes SaveToFile writes.
  QByteArray ToBytes() const;
  // Copies the current file to FileName: CodePage "OEM" turns every line into
  // code page 866 (logging the first character it cannot hold and its line),
  // anything else copies the bytes; the file-type line (the one after the
  // trigger time) becomes "ASCII". FileName becomes the current name.
  void SaveCopyAs(const QString &FileName, const QString &CodePage);
  // The bytes SaveCopyAs writes to FileName (named in its log line only).
  QByteArray CopyBytes(const QString &FileName, const QString &CodePage) const;
  // Saves FileName and the ".dat" beside it (Data's lines) as one pair: both
  // are written whole before either is put in place, so a failure leaves
  // neither new file and an existing pair as it was. CodePage empty writes
  // this configuration as SaveToFile does, otherwise a copy as SaveCopyAs.
  // Both become the current names.
  void SavePair(const QString &FileName, TComtradeData &Data, const QString &CodePage = QString());

  // Copies; an index outside 0..99 throws EKvRange.
  void GetAnalogChannel(int Index, TComtradeAnalogChannel &Rec) const;
  void GetDigitalChannel(int Index, TComtradeDigitalChannel &Rec) const;
  void GetRate(int Index, TComtradeRate &Rate) const;
  TComtradeAnalogChannel &AnalogChannel(int Index);
  const TComtradeAnalogChannel &AnalogChannel(int Index) const;
  const TComtradeDigitalChannel &DigitalChannel(int Index) const;
  const TComtradeRate &Rate(int Index) const;

  // Milliseconds from the first sample to the trigger, rounded.
  int GetTriggerOffsetMs() const;

  QString FileName() const { return FFileName; }
  QString StationName() const { return FStationName; }
  QString RecDevId() const { return FRecDevId; }
  int RevYear() const { return FRevYear; }
  // Line 1 names a revision: the file numbers its samples as the standard does.
  bool HasRevision() const { return FHasRevision; }
  double TimeMult() const { return FTimeMult; }
  int TotalCount() const { return FTotalCount; }
  int AnalogCount() const { return FAnalogCount; }
  int DigitalCount() const { return FDigitalCount; }
  double LineFrequency() const { return FLineFrequency; }
  int RateCount() const { return FRateCount; }
  bool NoRate() const { return FNoRate; }
  TDateTime FirstTime() const { return FFirstTime; }
  TDateTime TriggerTime() const { return FTriggerTime; }
  QString FileType() const { return FFileType; }
  // Samples the data hold: last sample index of the first rate + 1 (0 without rates).
  int SampleCount() const;

private:
  friend class TComtradeConfigTool;
  friend class TComtradeDataTool;
  friend class TComtradeData;
  // 0-based index of the file-type line.
  int FileTypeLine() const;

  QString FFileName;
  QString FStationName, FRecDevId;
  int FRevYear = 1991;
  bool FHasRevision = false;
  double FTimeMult = 1.0;
  int FTotalCount = 0, FAnalogCount = 0, FDigitalCount = 0;
  std::vector<TComtradeAnalogChannel> FAnalog;
  std::vector<TComtradeDigitalChannel> FDigital;
  double FLineFrequency = 50.0;
  int FRateCount = 0;
  std::vector<TComtradeRate> FRates;
  bool FNoRate = false;
  TDateTime FFirstTime = 0.0, FTriggerTime = 0.0;
  QString FFileType;
};

// The filler the conversion of device records builds a configuration with.
class TComtradeConfigTool {
public:
  // Binds the tool: station "StationName", id "StationId", type "ASCII".
  void SetConfig(TComtradeConfig *AConfig);
  void Clear();
  // Stores the record at the next index; the 101st channel of a kind throws EKvRange.
  void AddAnalogChannel(const TComtradeAnalogChannel &Rec);
  void AddDigitalChannel(const TComtradeDigitalChannel &Rec);
  void SetFirstTime(TDateTime Value);
  void SetTriggerTime(TDateTime Value);
  // Rate count 0..100 and rate fields at indexes 0..99 (EKvRange otherwise).
  void SetRateCount(int Value);
  void SetRateSamples(int Index, double Value);
  void SetRateEndSample(int Index, int Value);

private:
  TComtradeConfig *FConfig = nullptr;
};

// An allocator whose resize leaves new cells unset: the loader writes every
// cell it keeps, on the core that parses it, so the pages are touched there
// once instead of being zeroed first by one core.
template <class T> struct TComtradeCellAllocator : std::allocator<T> {
  template <class U> struct rebind {
    using other = TComtradeCellAllocator<U>;
  };
  TComtradeCellAllocator() = default;
  template <class U> TComtradeCellAllocator(const TComtradeCellAllocator<U> &) noexcept {}
  template <class U> void construct(U *P) noexcept { ::new (static_cast<void *>(P)) U; }
  template <class U, class... A> void construct(U *P, A &&...Args) {
    ::new (static_cast<void *>(P)) U(std::forward<A>(Args)...);
  }
};

class TComtradeData;

// What is to be made from the samples while they are read, when their rows
// are still in the core's caches: a pass after the load would read them all
// from memory again.
class TComtradeRowSink {
public:
  virtual ~TComtradeRowSink() = default;
  // The arrays are sized (Data.SampleCount() is the most the file can give);
  // before any Rows.
  virtual void Sized(const TComtradeData &Data) = 0;
  // Samples First..End - 1 are read and none of them is missing. Called from
  // the threads that read them, each with its own samples (ranges never
  // overlap), in order within a thread; a range ends at a multiple of 512
  // unless it ends where a thread's share of the file does. Samples never
  // reported (those with a missing value, those of a failed load) are the
  // receiver's to make after the load.
  virtual void Rows(int First, int End) = 0;
};

class TComtradeData {
public:
  TComtradeData() = default;

  // The configuration the samples belong to; not owned.
  void SetConfig(TComtradeConfig *AConfig) { FConfig = AConfig; }
  TComtradeConfig *Config() const { return FConfig; }

  // Binds AConfig and reads the ASCII ".dat": one sample per non-empty line,
  // at most the configuration's sample count; a DOS end-of-file byte (1A)
  // ends the data. The arrays are sized from what the file can hold, never
  // from the declared count alone. An analog value 99999 or -99999 is a
  // missing value. When the configuration gives no rate, the mean step of
  // the time stamps sets it. Throws EKvAssert "FComtradeConfig.FRateCount=1"
  // unless the configuration has exactly one rate; EKvFormat naming the line
  // for a malformed number, a short line or a digital value other than 0 and
  // 1, and naming the field when the time stamps give no rate.
  // Sink, when given, is told of the samples as they are read.
  void LoadFromFile(const QString &FileName, TComtradeConfig *AConfig, TComtradeRowSink *Sink = nullptr);
  // The same from the bytes of a ".dat"; FileName is only kept.
  void LoadFromBytes(const QByteArray &Bytes, const QString &FileName, TComtradeConfig *AConfig,
                     TComtradeRowSink *Sink = nullptr);
  // Writes one line per sample (CR LF). FileName empty uses the last name;
  // with none known throws "no filename".
  void SaveToFile(const QString &FileName);
  QByteArray ToBytes() const;

  QString FileName() const { return FFileName; }
  // Samples held: the lines read (or, filled by the tool, the configuration's
  // sample count), bounded by the arrays.
  int SampleCount() const;
  // Cells the arrays were sized for (samples x channels, both kinds).
  int64_t AllocatedCells() const { return int64_t(FRaw.size()) + int64_t(FDigital.size()); }

  // The arrays themselves, sample-major (index = sample x channels + channel),
  // for passes over every sample; MissingCells is null while none is missing.
  const int32_t *RawCells() const { return FRaw.data(); }
  const uint8_t *DigitalCells() const { return FDigital.data(); }
  const uint8_t *MissingCells() const { return FMissing.empty() ? nullptr : FMissing.data(); }

  // 0 for an index outside the data or a missing value.
  int GetRaw(int Channel, int Sample) const;
  // The file had no value for this sample (99999 or -99999).
  bool IsMissing(int Channel, int Sample) const;
  // Throws EKvRange for an index outside the data.
  void SetRaw(int Channel, int Sample, int Value);
  // A x raw + B; 0 outside the data, NaN for a missing value.
  double GetAnalogValue(int Channel, int Sample) const;
  int GetDigitalValue(int Channel, int Sample) const;
  int GetTimeStamp(int Sample) const;
  int GetSampleNumber(int Sample) const;

  // RMS of the physical values of samples First..Last; 0 when Last < First,
  // NaN when a value of the window is missing.
  double GetRms(int Channel, int First, int Last) const;
  // RMS of the line-frequency component over First..Last by a single-bin
  // Fourier sum in whole degrees per sample; 0 when Last < First.
  double GetFirstHarmonic(int Channel, int First, int Last) const;

private:
  friend class TComtradeDataTool;
  friend class TComtradeConfig; // SavePair names the saved data file
  // The differential fuzz target, which reads each text both ways.
  friend struct TComtradeDataReaders;
  template <class T> using TCells = std::vector<T, TComtradeCellAllocator<T>>;
  // Zeroed cells for the tool, unset ones for the loader.
  void Size(int Samples, bool Zeroed = true);
  // Bytes holds the whole text, or is null to read the file FileName of Length bytes.
  void Load(const char *Bytes, qint64 Length, const QString &FileName, TComtradeConfig *AConfig,
            TComtradeRowSink *Sink = nullptr);
  // One sample from a usual line (see the definition); false leaves the line
  // to ParseDatLine.
  bool ParseQuickLine(const char *Begin, const char *End, const char *Limit, int Sample, const char *&LineEnd);
  // One sample from any line [Begin, End), or the error it holds.
  void ParseDatLine(const char *Begin, const char *End, int Sample, int LineNo);
  void MarkMissing(int Sample, int Channel);
  // Large pages for the arrays; SetUp also faults them in at once.
  void Populate(bool SetUp);
  void ParseDat(const char *Bytes, qint64 Length, const QString &FileName, TComtradeRowSink *Sink);
  void RateFromTimeStamps();

  TComtradeConfig *FConfig = nullptr;
  QString FFileName;
  int FSamples = 0; // allocated samples
  int FRead = -1;   // samples read from a file; -1 when filled by the tool
  int FAnalogCount = 0, FDigitalCount = 0;
  TCells<int32_t> FRaw;     // sample * analog count + channel
  TCells<uint8_t> FDigital; // sample * digital count + channel
  TCells<int32_t> FNumbers;
  TCells<int32_t> FTimeStamps; // microseconds
  std::vector<uint8_t> FMissing;    // per analog cell; empty while none is missing
  bool FFieldByField = false;       // every line by ParseDatLine
};

// Sums of the negative and of the positive samples of one analog channel.
struct TComtradeSpread {
  double Negative = 0.0, Positive = 0.0;
};

// The filler the conversion of device records builds the samples with.
class TComtradeDataTool {
public:
  // Binds the tool and sizes the data for the configuration's sample count.
  void SetData(TComtradeData *AData);
  // Appends in sample-major order. Past the sized arrays AddSampleNumber
  // throws "invalid NumberCount <index>", the others EKvRange.
  void AddSampleNumber(int Value);
  void AddTimeStamp(int Value);
  void AddRaw(int Value);
  void AddDigital(int Value);
  void SetAnalogMin(int Channel, int Value);
  void SetAnalogMax(int Channel, int Value);
  void SetRate(int Index, const TComtradeRate &Rate);
  // Moves every analog channel with a calibration shift by that many samples,
  // interpolating linearly; samples taken from outside the record (or from
  // a missing one) are marked missing and written as 99999.
  void ApplyCalibration();
  // Stores in each analog channel's Offset the negated mean raw value in
  // physical units, missing samples left out; skipped for a record of one
  // sample and for a factor of 0.
  void CalculateAnalogOffsets();
  // Sums of negative and positive samples per analog channel; changes nothing.
  std::vector<TComtradeSpread> CalculateSpread() const;

private:
  TComtradeData *FData = nullptr;
  size_t FNumberCount = 0, FTimeCount = 0, FRawCount = 0, FDigitalCount = 0;
};
