// Feeds arbitrary bytes to the descriptor image decoder as if the device had
// sent them as "DeviceDescriptor.bin"; a decoded image also goes through the
// register image's access map. Any failure must be an exception of our own.
#include "uCharMap.h"
#include "uErrors.h"
#include "uModbus.h"
#include "uSimpleDeviceDescriptor.h"

#include <QBuffer>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  // Names decode through the program's own character map, as at run time.
  static const bool mapped = (SetCharMap(BuiltInCharMap()), true);
  (void)mapped;
  // A fresh object per input: a document keeps the trees of its earlier loads.
  TSimpleDeviceDescriptor desc;
  QByteArray bytes(reinterpret_cast<const char *>(Data), qsizetype(Size));
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::ReadOnly);
  try {
    desc.LoadFromStream(buffer);
    TModbus image;
    image.LoadAccessMap(desc.Root);
  } catch (const EKvError &) {
  }
  return 0;
}
