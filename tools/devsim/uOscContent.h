#pragma once
// Device oscillogram records as the device writes them: blocks of 18 samples
// (10 ms at 1800 samples per second), each 18 rows of one signed 16-bit
// little-endian value per analog channel, then the block's discrete words:
// per bit register ceil(bits / 16) big-endian words, bit 0 of the first word
// being the register's first bit. Waves and bit switches are chosen per channel.
#include <QByteArray>
#include <QDateTime>
#include <cstdint>
#include <vector>

// value(s) = Offset + Amplitude * sin(2π Frequency s / rate + Phase), rounded
// and clamped to 16 bits.
struct TOscWave {
  double Amplitude = 0.0;
  double Frequency = 50.0;
  double PhaseDeg = 0.0;
  double Offset = 0.0;
};

// A discrete bit: Initial, toggled at every sample listed in SwitchAt
// (ascending). The device samples its bits once per block, so a block carries
// the value at its first sample.
struct TOscBit {
  bool Initial = false;
  std::vector<int> SwitchAt;
};

// One recorded bit register of BitCount bits; Bits beyond Bits.size() stay 0.
struct TOscBitRegister {
  int BitCount = 0;
  std::vector<TOscBit> Bits;
};

struct TOscRecordPlan {
  int SampleCount = 0; // a last partial block gets its analog rows, no discrete words
  double SampleRate = 1800.0;
  std::vector<TOscWave> Analog;
  std::vector<TOscBitRegister> BitRegisters;
};

constexpr int OscBlockSamples = 18;

// Bytes of one 10 ms block: 36 per analog channel, 2 per started 16 bits of
// each bit register.
int OscBlockBytes(const TOscRecordPlan &Plan);
// The value written for Wave at sample Sample.
int16_t OscWaveSample(const TOscWave &Wave, int Sample, double SampleRate);
// The bit's value at sample Sample (before block sampling).
bool OscBitAt(const TOscBit &Bit, int Sample);
// The record's bytes.
QByteArray BuildOscRecord(const TOscRecordPlan &Plan);

// The same plan as another unit records it: unit 1 as Plan is, unit N with
// its amplitudes 1 + (N - 1) / 2 times and its phases (N - 1) x 30 degrees
// later, so that two relays' records of one disturbance differ in every
// analog sample.
TOscRecordPlan OscPlanOfUnit(const TOscRecordPlan &Plan, int Unit);

// A relay recording anew (a trip, a test injection): where it writes.
struct TOscRecordedAnew {
  QByteArray Directory; // the directory with the new entry
  int Slot = 0;         // the slot written: after the last one written, the oldest of a full ring
  int FileNo = 0;       // its record file: slot + 1
};
// Directory ("osch.bin" as the relay serves it: a 16-byte head whose byte 4
// is the index of the last entry written counted from 1, then SlotCount
// entries of 12 bytes) after an oscillogram triggered at Trigger with Before
// and After time units is written into the next slot; the head's count grows
// up to SlotCount. Throws EKvRange for a directory shorter than its slots or
// a year outside 2000..2254.
TOscRecordedAnew RecordOscAnew(const QByteArray &Directory, int SlotCount, const QDateTime &Trigger, uint8_t Before,
                               uint8_t After);
