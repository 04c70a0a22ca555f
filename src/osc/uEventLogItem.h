#pragma once
// Event records of the device's journal ("EventLog.bin", file 128) and of an
// oscillogram's events ("osc_event.bin"): the column layout computed from the
// descriptor's `event` section, the decoding of one record and of a whole
// record file, and the value factors of the measure columns. GUI-free: the
// journal page, the oscillogram reader and the event report share it.
//
// A record: 7 time bytes (year - 2000, 0xFF = empty; month, day, hour,
// minute, second, hundredths), event code, flags (bit 0 = state), then
// 2 x S bytes of big-endian value words; L = 9 + 2 x S.
#include "ixml.h"
#include "uDateTime.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

class TModbus;

enum TEventColumnKind : uint8_t { ekText = 0, ekMeasure = 1, ekBit = 2, ekState = 3 };

// One column description.
class TDrawableDesc {
public:
  uint8_t FKind = ekText;
  QString FGroupCaption; // header row 0; on the first column of a group
  QString FCaption;      // header row 1
  int FBit = 0;          // bit 0..15 within its word (bit columns)
  int FOffset = 0;       // byte offset of its word in the record (measure and bit columns)
  double FPrimaryFactor = 1.0;
  double FSecondaryFactor = 1.0;
  uint16_t FMult = 1;
  uint16_t FDivider = 1;
  uint16_t FPrimaryRatio = 1;
  uint16_t FSecondaryRatio = 1;
  uint16_t FPrimaryReg = 65535; // 65535: none
  uint16_t FSecondaryReg = 65535;
};

// Captions of the four fixed columns (level, name, time, state).
struct TEventCaptions {
  QString Level = QStringLiteral("Категория");
  QString Event = QStringLiteral("Наименование");
  QString Time = QStringLiteral("Момент");
  QString Value = QStringLiteral("Значение");
};

// The columns of one descriptor: four fixed ones (0 level, 1 name, 2 time,
// 3 state), then the measure columns, then the bit columns. Records keep the
// layout they were decoded with, so a later descriptor does not change them.
class TEventLayout {
public:
  static constexpr int FixedColumns = 4;

  explicit TEventLayout(const TEventCaptions &Captions = TEventCaptions());

  // Builds the value columns of Root's `event` section. A name whose first
  // character (of the name with "-" appended) is ExcludeChar makes no column
  // but keeps its bit. A missing measure item or bit register is logged
  // ("cannot find measure id %d", "cannot find bitreg record-type %d") and
  // keeps its words in the layout. Throws EKvRange when L exceeds 65535.
  void SetDescriptor(const IXXMLNode &Root, const QString &ExcludeChar);

  const IXXMLNode &Root() const { return FRoot; }
  int ColumnCount() const { return int(FColumns.size()); }
  // Throws EKvRange outside 0..ColumnCount-1.
  const TDrawableDesc &GetColumn(int Index) const;
  // Index of the N-th (from 0) column of Kind; -1 when none.
  int FindColumnOfKind(int Kind, int N) const;
  int FirstBitColumn() const { return FFirstBitColumn; }
  // L of the descriptor; 0 without one.
  uint16_t RecordLength() const { return FRecordLength; }

  // Ratios from the registers named by mvp-mreg / mvs-mreg that hold valid
  // values in Image, then the factors: primary = mult / div x ratio_p /
  // ratio_s, secondary = 1 / div (a divider or secondary ratio of 0 counts as 1).
  void RefreshMeasureFactors(const TModbus &Image);
  // The shown text of a measure word: value x factor, shortest form, up to
  // 15 significant digits.
  QString MeasureText(int Column, uint16_t Value, bool Primary) const;
  // The level (the event item's byte-level-mask, 0 when the code is not
  // described) and the texts of a code and of a level ("<%d>" when none).
  int EventLevel(int Code) const;
  QString EventName(int Code) const;
  QString LevelText(int Level) const;

private:
  struct TEventText {
    int Level = 0;
    QString Name;
  };
  void AddEventTexts();
  void AddMeasures(const QString &ExcludeChar);
  void AddBitGroups(const QString &ExcludeChar, int Offset);

  IXXMLNode FRoot;
  std::vector<TDrawableDesc> FColumns;
  int FFirstBitColumn = FixedColumns;
  uint16_t FRecordLength = 0;
  // Looked up once per descriptor rather than once per record.
  std::map<int, TEventText> FEvents;
  std::map<int, QString> FLevels;
};

// L = 9 + 2 x the "#sum" of the word counts of every event-measure and
// event-bitreg node. Throws EKvRange above 65535.
uint16_t CalcRecordLength(const IXXMLNode &Root);

// One cell of a decoded record.
struct TEventCell {
  QString Text;
  bool Flag = false;
  uint16_t Value = 0;
};

// One decoded record.
class TEventLogItem {
public:
  explicit TEventLogItem(std::shared_ptr<const TEventLayout> Layout);

  uint8_t FLevel = 0;
  uint8_t FByteCode = 0;
  TDateTime FMoment = DeviceBaseDate;
  bool FState = false;
  std::vector<TEventCell> FCells; // one per column of the layout
  QByteArray FBytes;              // the record as read, to tell repeated reads apart

  // Throws EKvRange outside the columns.
  TEventCell GetCell(int Index) const;
  QString GetEventName() const { return FCells.at(1).Text; }
  int FindColumnOfKind(int Kind, int N) const { return FLayout->FindColumnOfKind(Kind, N); }
  const TEventLayout &Layout() const { return *FLayout; }
  // Empty or invalid time: the record is not shown.
  bool IsEmpty() const { return FMoment == DeviceBaseDate; }
  // Remakes the texts of the measure cells with the layout's factors.
  void MakeMeasureTexts(bool Primary);

private:
  std::shared_ptr<const TEventLayout> FLayout;
};

using TEventLogItemPtr = std::shared_ptr<TEventLogItem>;
using TEventLogItems = std::vector<TEventLogItemPtr>;

// Decodes one record. Record holds the record's bytes; words past the
// layout's record length or past Record read as 0. Throws EKvRange when an
// event item's level exceeds 255.
void DecodeEventRecord(TEventLogItem &Item, const QByteArray &Record);

// Every record of a record file in file order. A trailing part shorter than
// a record ends the reading and is logged. Throws EKvError "Нет дескриптора"
// when the layout has no record length.
TEventLogItems DecodeEventRecords(const QByteArray &Bytes, const std::shared_ptr<const TEventLayout> &Layout);

// Drops the empty records and orders a ring written in time order newest
// first: the first record earlier than record 0 is the oldest; equal moments
// never start the ring.
void OrderEventRing(TEventLogItems &Items);

// Reads a journal file: decode, drop empty records, newest first. Throws
// EKvError "cannot open <path>: <reason>" when it cannot be read.
TEventLogItems ReadEventLogFile(const QString &FileName, const std::shared_ptr<const TEventLayout> &Layout);

// Adds the records of Fresh that Held lacks (same bytes), keeping the list
// newest first.
void MergeNewEventRecords(TEventLogItems &Held, const TEventLogItems &Fresh);
