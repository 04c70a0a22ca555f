#pragma once
// The numbered files a relay terminal serves, written here in the device's
// own layouts so that the simulator can serve them: the event ring (file 128),
// the oscillogram directory (file 132) and its records (files 1..N), the
// external FLASH (file 140) with its header block "head.bin", and the binary
// descriptor image (file 129, from the device-content library).
#include "uDeviceIO.h"

#include <QByteArray>
#include <QDateTime>
#include <array>
#include <cstdint>
#include <vector>

class TSimDevice;
struct TOscRecordPlan;
struct TDeviceContent;

// The device's file numbers and frame sizes, under the simulator's names.
constexpr int SimFileEventRing = FILE_EVENT_RING;
constexpr int SimFileDescriptor = FILE_DESCRIPTOR;
constexpr int SimFileOscDirectory = FILE_OSC_DIRECTORY;
constexpr int SimFileExtFlash = FILE_EXT_FLASH;
constexpr int SimDescriptorFrameBytes = DESCRIPTOR_FRAME_BYTES;
constexpr int SimOscFrameBytes = OSC_FRAME_BYTES;
constexpr int SimFlashFrameBytes = FLASH_FRAME_BYTES;

// The 7-byte device stamp: year - 2000, month, day, hour, minute, second,
// hundredths. Throws EKvRange for a year outside 2000..2254.
QByteArray SimStamp(const QDateTime &Moment);

// One event record: stamp, code, flags (bit 0 the event's state), then its
// values as big-endian words.
struct TSimEventRecord {
  QDateTime Moment;
  uint8_t Code = 0;
  uint8_t Flags = 0;
  std::vector<uint16_t> Values;
};

// A ring of SlotCount records of RecordBytes each (9 + 2 * S), Records in
// time order from slot FirstSlot on, wrapping after the last slot; the other
// slots are empty (every byte 255). Values beyond the record are cut and
// missing ones are 0. Throws EKvRange when RecordBytes < 9 or the records do
// not fit the ring.
QByteArray BuildEventRing(const std::vector<TSimEventRecord> &Records, int RecordBytes, int SlotCount, int FirstSlot);

// The bytes of one record of RecordBytes (>= 9): values beyond it are cut,
// missing ones are 0.
QByteArray SimEventRecordBytes(const TSimEventRecord &Record, int RecordBytes);

// A journal as the relay writes it with its own clock: Count records a minute
// apart, the last at Last; with StepAt >= 0 the clock was set back by
// StepBackMinutes before record StepAt (counted from 0), so the records before
// it are that much later than they would be. Codes go round Codes (the
// state on, then off); no values.
struct TSimEventSeries {
  int Count = 0;
  int StepAt = -1;
  int StepBackMinutes = 0;
  std::vector<uint8_t> Codes{20};
};
std::vector<TSimEventRecord> SimEventSeries(const TSimEventSeries &Plan, const QDateTime &Last);
// The ring as the relay leaves it after writing Records (time order) from
// slot 0 on: past SlotCount records it wraps and the later replace the
// earlier (a full ring), the other slots empty. Throws as BuildEventRing.
QByteArray WriteEventRing(const std::vector<TSimEventRecord> &Records, int RecordBytes, int SlotCount);

// The relay logging events while it runs: each Log writes the ring's next
// slot of Device's event ring (file 128, records of its frame size) at the
// device's clock, wrapping. NextSlot is where the relay writes next (after
// WriteEventRing of N records, N mod the slot count).
class TSimEventLog {
public:
  TSimEventLog(TSimDevice &Device, int NextSlot) : FDevice(Device), FNext(NextSlot) {}
  // Throws EKvRange when the device has no event ring.
  void Log(uint8_t Code, bool On, const std::vector<uint16_t> &Values = {});
  int NextSlot() const { return FNext; }

private:
  TSimDevice &FDevice;
  int FNext = 0;
};

// One oscillogram directory entry: trigger moment and time units before and after it.
struct TSimOscEntry {
  QDateTime Trigger;
  uint8_t Before = 0;
  uint8_t After = 0;
};

// How the directory is written.
struct TSimOscDirectoryPlan {
  int SlotCount = 32;
  uint8_t TimeUnit = 1;  // seconds per unit of before and after
  int FirstSlot = 0;     // slot of the oldest entry; later ones follow, wrapping
  std::vector<int> InvalidSlots; // slots whose stamp is no date (30 February)
};

// The directory: a 16-byte head (count, entry size 12, time unit, 0, index of
// the last entry written counted from 1) and SlotCount entries of 12 bytes (3
// zero bytes, stamp, before, after). Entries, oldest first, go from FirstSlot
// on and wrap after the last slot; empty slots are all 255; padded with zeros
// to whole frames of 128. A linear directory is the plan with FirstSlot 0.
// Throws EKvRange when the entries do not fit.
QByteArray BuildOscDirectory(const std::vector<TSimOscEntry> &Entries, const TSimOscDirectoryPlan &Plan);
QByteArray BuildOscDirectory(const std::vector<TSimOscEntry> &Entries, int SlotCount, uint8_t TimeUnit);

// A sub-file of the external FLASH: payload length (u32 LE), MD5 of the
// payload, the zlib stream of Content, zeros up to the next 2048 bytes.
QByteArray BuildFlashSubFile(const QByteArray &Content);
// The 2048-byte header block: 01 06, the first block of each sub-file (u16
// LE), the CRC-16/MODBUS of bytes 0..13 stored high byte first, zeros.
QByteArray BuildFlashHead(const std::array<uint16_t, 6> &FirstBlocks);
// The whole image of six sub-files; sub-file 5 starts at a multiple of
// 128 KiB, the gap before it filled with 0xFF.
QByteArray BuildExtFlash(const std::array<QByteArray, 6> &Contents);

// Words of one event record's values for Content: one per event measure, one
// per 16 bits of the bit groups each event bit reference names (one for a raw one).
int EventValueWords(const TDeviceContent &Content);

// The demo device's oscillogram triggers, oldest first: the journal's alarms
// follow them.
std::vector<QDateTime> DemoOscTriggers();
// The demo's journal in time order: in the second after each trigger an
// alarm ("Пуск МТЗ-1" on with input 1, "Срабатывание МТЗ-1" with relays 1
// and 2, "Пуск МТЗ-1" off), messages between; values in the demo's layout
// (Ia, Ib, Ic, Ua, the input word, the relay word).
std::vector<TSimEventRecord> DemoEventRecords();
// The slot the demo's ring starts at, so that it wraps.
constexpr int DemoEventFirstSlot = 250;

// The demo's directory: 32 slots, the three oscillograms written from slot 30
// across the end (files 31, 32 and 1).
constexpr int DemoOscFirstSlot = 30;
std::vector<TSimOscEntry> DemoOscEntries();
// The plan of each demo record: two seconds of the eight channels; input 1
// (bit 0) on from the trigger (sample 1800) for 0.8 s, as the journal's alarm.
TOscRecordPlan DemoOscPlan();

// Serves the demo device's files on Device: the descriptor image (129), an
// event ring of 256 records that wraps (128), a cyclic directory of 32 slots
// with three oscillograms written across its end (132) and their records
// (files 31, 32, 1: slot + 1), and the external FLASH (140).
void AddDemoFiles(TSimDevice &Device);
