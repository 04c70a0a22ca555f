// Any bytes as an oscillogram directory: byte 0 picks the layout (bit 0
// cyclic, bit 1 linear from the last index) and byte 1 the ring size, the
// rest is "osch.bin". Rows or an error, never a crash.
#include "uErrors.h"
#include "uOscHead.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  if (Size < 2)
    return 0;
  TOscDirectoryOptions o;
  o.Cyclic = Data[0] & 1;
  o.MaxOscFlag = Data[0] & 2;
  o.SlotCount = Data[1];
  o.BlockBytes = 36 * 8 + 2;
  try {
    ParseOscDirectory(QByteArray(reinterpret_cast<const char *>(Data + 2), qsizetype(Size - 2)), o);
  } catch (const EKvError &) {
  }
  return 0;
}
