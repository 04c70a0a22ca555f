// Any bytes as a ".cfg", then what follows the first NUL byte as its ".dat": a
// format error, or models that can be written again and hold no more cells
// than the data bytes could carry.
#include "uComtrade.h"
#include "uErrors.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  const QByteArray Bytes(reinterpret_cast<const char *>(Data), qsizetype(Size));
  const qsizetype Nul = Bytes.indexOf('\0');
  TComtradeConfig Config;
  QString Warning;
  try {
    Config.LoadFromBytes(Nul < 0 ? Bytes : Bytes.left(Nul), "f.cfg", Warning);
  } catch (const EKvError &) {
    return 0;
  }
  try {
    // A read line frequency too large to write as a whole number is refused.
    (void)Config.ToBytes();
  } catch (const EKvError &) {
  }
  try {
    // Times more than 24 days apart do not fit: a range error, as for any integer.
    (void)Config.GetTriggerOffsetMs();
  } catch (const EKvRange &) {
  }
  if (Nul < 0)
    return 0;
  const QByteArray Dat = Bytes.mid(Nul + 1);
  TComtradeData Samples;
  try {
    Samples.LoadFromBytes(Dat, "f.dat", &Config);
  } catch (const EKvError &) {
    return 0;
  }
  // A sample line holds at least one byte per channel.
  const int64_t Channels = std::max(1, std::max(Config.AnalogCount(), Config.DigitalCount()));
  if (Samples.AllocatedCells() > (Dat.size() + 1) * Channels * 2)
    std::abort();
  for (int c = 0; c < Config.AnalogCount(); ++c)
    (void)Samples.GetRms(c, 0, Samples.SampleCount() - 1);
  return 0;
}
