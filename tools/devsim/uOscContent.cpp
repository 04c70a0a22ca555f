#include "uOscContent.h"

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
