#pragma once
// The rules of the device-bound controls and the title panel that need no
// window: measure scaling, the bits of a bit register and their layout, the
// setpoint write words and the event ring of the title panel.
#include "ixml.h"
#include "uDateTime.h"

#include <QByteArray>
#include <QIODevice>
#include <QList>
#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

// Register number meaning "no register chosen".
constexpr int NoReg = 65535;

// Scaling of one measure, from its descriptor item.
struct TMeasureScale {
  uint16_t PrimVal = 1, MvsMult = 1, SecVal = 1, MvsDiv = 1;
  bool Signed = false;
  uint16_t MvpReg = NoReg, MvsReg = NoReg;
  bool HasOffset = false;
  uint16_t Offset = 0;
};

// The scaling of a "measure/*" item; word values above 65535 throw EKvRange.
TMeasureScale MeasureScaleOf(const IXXMLNode &Item);
// The text of a raw measure word: "" for 65535; Primary multiplies by the
// nominal values. Division by a zero MvsDiv gives what the floating point
// gives (the descriptor is then broken, the value is still shown).
QString MeasureText(uint16_t Raw, const TMeasureScale &Scale, bool Primary);

// One named bit of a bit register: its number over the block and its name.
struct TBitName {
  int Index = 0;
  QString Name;
  bool operator==(const TBitName &) const = default;
};
// The bits of "param/input-output/param-bitreg[mreg=Mreg]": positions of
// "string[ider]/value" in document order, skipping empty names and names
// beginning with "-" (their positions stay free).
QList<TBitName> BitNamesOf(const IXXMLNode &Root, int Mreg);

// Shown flags from a bitmap text: flag k follows character k ("1" shows);
// flags beyond the text keep their value.
void ApplyBitmap(QList<bool> &Shown, const QString &Bitmap);
QString BitmapOf(const QList<bool> &Shown);

// Where a bit group draws its shown bits: circle at (X, Y), label at LabelX.
struct TBitPlace {
  bool Visible = false;
  int X = 0, Y = 0, LabelX = 0;
  bool operator==(const TBitPlace &) const = default;
};
// Columns of ClientWidth / ColCount from (10, 20), a new column when a circle
// would pass ClientHeight. ColCount 0 gives an empty list (nothing moves).
QList<TBitPlace> LayoutBits(const QList<bool> &Shown, int ClientWidth, int ClientHeight, int ColCount,
                            int CircleWidth, int CircleHeight);

// A panel of a bit set stands for one of its bits, 0..15; with none chosen
// it stands for nothing it could write (a choice would cover every bit).
constexpr bool UstavBitChosen(int Bit) { return Bit >= 0 && Bit < 16; }
// The word and mask a setpoint list sends: a bit setpoint moves the list
// index to its bit under that bit's mask; another setpoint the index itself,
// mask $FFFF. A bit setpoint with no bit chosen sends nothing (nullopt).
struct TMaskedWrite {
  uint16_t Value = 0, Mask = 0xFFFF;
  bool operator==(const TMaskedWrite &) const = default;
};
std::optional<TMaskedWrite> UstavListWrite(bool BitKind, int Bit, int ListIndex);
// A (register, value) pair of 4 bytes whose value takes Value under Mask;
// another size throws EKvAssert "invalid stream size".
void MergeBitsStream(QIODevice &Stream, uint16_t Mask, uint16_t Value);

// Size of an event record of the device's ring: 9 + 2 x the sum of the
// descriptor's event measure and bit register word counts.
int EventRecordSize(const IXXMLNode &Root);

// Where the title panel stands in the device's event ring. The ring has no
// write pointer, and a backward step of the relay's clock looks like its end,
// so a record is told new by its slot: a slot whose bytes changed since the
// panel last accounted for them holds a new record, whatever its stamp.
struct TEventCursor {
  uint16_t LastIndex = 0xFFFF; // ring index of the newest record taken; 65535: the ring's end not found yet
  TDateTime LastTime = 0;      // the stamp of that record (shown only; no read stops at it)
  int Scanned = 0;             // slots read from slot 0 on while the end is looked for
  // Per slot, the bytes last read there and accounted for (shown, or seen to
  // be old); empty while the slot has not been read.
  std::vector<QByteArray> Slots;
  // Per slot, the read (counted in Reads) that last read it.
  std::vector<uint32_t> ReadAt;
  uint32_t Reads = 0;
};
// Frames a read takes while the ring's end is looked for: a bad line costs
// a refresh a few repeats, not a whole ring's.
constexpr int EventScanFrames = 32;
// The frames the next read asks for, and the last time the ring step is
// given: always 0, so that the step reads every frame asked for and the
// slots, not the stamps, decide. Until the ring's end is found the reads go
// on from slot 0, max(MaxCount + 1, EventScanFrames) frames at a time; then
// MaxCount frames after the newest taken.
struct TEventRange {
  uint16_t First = 0, Last = 0;
  TDateTime LastTime = 0;
};
TEventRange NextEventRange(const TEventCursor &Cursor, int MaxCount, int RingCount);
// One record of the ring as the title panel shows it.
struct TEventRow {
  TDateTime Time = 0;
  int Code = 0;
  bool State = false;
};
// The new records of a ring read made by NextEventRange's range, oldest
// first, advancing Cursor; a partial last record is ignored.
// While the end is looked for, the slots read from slot 0 on are kept until
// they hold the ring's end: the record before the first empty slot (year
// byte 255) that follows one; or, the whole ring read without such a slot
// (full), the record before the largest fall of the stamps from one record
// to the next (a backward clock step falls too, by less than the ring's
// span unless it was longer). Then the MaxCount records up to the end are
// given. Later reads walk the slots after the newest taken: a slot read by
// the read before whose bytes changed is new whatever its stamp; an empty or
// unchanged slot ends the walk; a slot the read before did not read (never,
// or only while the end was looked for) is new only when its bytes changed
// and its stamp is not older than the newest taken. The slots read past the
// walk's end are kept as read. A record with an invalid stamp is taken, not shown.
QList<TEventRow> TakeEvents(const QByteArray &File, int RecordSize, int RingCount, int MaxCount,
                            TEventCursor &Cursor);
