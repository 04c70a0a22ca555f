#include "uOscContent.h"

#include "uErrors.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr double Pi = 3.141592653589793;
}

int OscBlockBytes(const TOscRecordPlan &Plan) {
  int Bytes = 2 * OscBlockSamples * int(Plan.Analog.size());
  for (const TOscBitRegister &R : Plan.BitRegisters)
    Bytes += 2 * ((R.BitCount + 15) / 16);
  return Bytes;
}

int16_t OscWaveSample(const TOscWave &Wave, int Sample, double SampleRate) {
  const double V = Wave.Offset + Wave.Amplitude * std::sin(2 * Pi * Wave.Frequency * Sample / SampleRate +
                                                           Wave.PhaseDeg * Pi / 180.0);
  return int16_t(std::clamp(std::nearbyint(V), -32768.0, 32767.0));
}

bool OscBitAt(const TOscBit &Bit, int Sample) {
  const auto Passed = std::upper_bound(Bit.SwitchAt.begin(), Bit.SwitchAt.end(), Sample) - Bit.SwitchAt.begin();
  return Bit.Initial != (Passed % 2 == 1);
}

QByteArray BuildOscRecord(const TOscRecordPlan &Plan) {
  QByteArray Out;
  const int Blocks = (Plan.SampleCount + OscBlockSamples - 1) / OscBlockSamples;
  Out.reserve(qsizetype(Blocks) * OscBlockBytes(Plan));
  for (int First = 0; First < Plan.SampleCount; First += OscBlockSamples) {
    const int Rows = std::min(OscBlockSamples, Plan.SampleCount - First);
    for (int s = First; s < First + Rows; ++s)
      for (const TOscWave &W : Plan.Analog) {
        const uint16_t V = uint16_t(OscWaveSample(W, s, Plan.SampleRate));
        Out.append(char(V & 0xFF));
        Out.append(char(V >> 8));
      }
    if (Rows < OscBlockSamples)
      break;
    for (const TOscBitRegister &R : Plan.BitRegisters)
      for (int w = 0; w < (R.BitCount + 15) / 16; ++w) {
        uint16_t Word = 0;
        for (int b = 0; b < 16; ++b) {
          const int Bit = 16 * w + b;
          if (Bit < R.BitCount && Bit < int(R.Bits.size()) && OscBitAt(R.Bits[Bit], First))
            Word |= uint16_t(1u << b);
        }
        Out.append(char(Word >> 8));
        Out.append(char(Word & 0xFF));
      }
  }
  return Out;
}

TOscRecordPlan OscPlanOfUnit(const TOscRecordPlan &Plan, int Unit) {
  TOscRecordPlan out = Plan;
  for (TOscWave &w : out.Analog) {
    w.Amplitude *= 1.0 + (Unit - 1) / 2.0;
    w.PhaseDeg -= 30.0 * (Unit - 1);
  }
  return out;
}

TOscRecordedAnew RecordOscAnew(const QByteArray &Directory, int SlotCount, const QDateTime &Trigger, uint8_t Before,
                               uint8_t After) {
  if (SlotCount < 1 || SlotCount > 255 || Directory.size() < 16 + 12 * qsizetype(SlotCount))
    throw EKvRange(QStringLiteral("directory of %1 bytes has no %2 slots").arg(Directory.size()).arg(SlotCount));
  const QDate d = Trigger.date();
  const QTime t = Trigger.time();
  if (d.year() < 2000 || d.year() > 2254)
    throw EKvRange(QStringLiteral("year outside the device's stamps: %1").arg(d.year()));
  TOscRecordedAnew out;
  out.Directory = Directory;
  out.Slot = uint8_t(Directory[4]) % SlotCount;
  out.FileNo = out.Slot + 1;
  QByteArray entry(3, '\0');
  for (int v : {d.year() - 2000, d.month(), d.day(), t.hour(), t.minute(), t.second(), t.msec() / 10})
    entry.append(char(v));
  entry.append(char(Before)).append(char(After));
  out.Directory.replace(16 + 12 * out.Slot, 12, entry);
  out.Directory[0] = char(std::min(SlotCount, uint8_t(Directory[0]) + 1));
  out.Directory[4] = char(out.Slot + 1);
  return out;
}
