// Feeds arbitrary bytes to the descriptor image decoder as if the device had
// sent them as "DeviceDescriptor.bin"; a decoded image also goes through the
// register image's access map. Any failure must be an exception of our own,
// and the keyed lookups answered from the index must give what XPath gives.
#include "uCharMap.h"
#include "uErrors.h"
#include "uModbus.h"
#include "uSimpleDeviceDescriptor.h"

#include <QBuffer>
#include <cstdlib>
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
    return 0;
  }
  for (const char *p : {"//*", "measure/measure-item", "param/*", "ustav/*", "event/*", "osc/*"})
    for (const char *k : {"mreg", "ider", "record-type", "byte-code"})
      for (int v = -1; v <= 300; ++v) {
        const QString q = QStringLiteral("%1[%2=%3]").arg(p, k).arg(v);
        SetXPathKeyIndex(true);
        const IXXMLNode fast = desc.Root->SelectSingleNode(q);
        SetXPathKeyIndex(false);
        const IXXMLNode slow = desc.Root->SelectSingleNode(q);
        SetXPathKeyIndex(true);
        if (bool(fast) != bool(slow) || (fast && fast->GetXml() != slow->GetXml()))
          abort();
      }
  return 0;
}
