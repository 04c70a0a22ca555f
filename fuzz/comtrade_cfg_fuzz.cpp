// Any bytes as a ".cfg": a format error or a model that can be written again.
#include "uComtrade.h"
#include "uErrors.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  TComtradeConfig Config;
  QString Warning;
  try {
    Config.LoadFromBytes(QByteArray(reinterpret_cast<const char *>(Data), qsizetype(Size)), "f.cfg", Warning);
  } catch (const EKvError &) {
    return 0;
  }
  (void)Config.ToBytes();
  try {
    // Times more than 24 days apart do not fit: a range error, as for any integer.
    (void)Config.GetTriggerOffsetMs();
  } catch (const EKvRange &) {
  }
  return 0;
}
