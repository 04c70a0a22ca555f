// Any bytes as a logic project: the five files or an error, never a crash
// nor an allocation of a size the bytes do not hold; what is accepted packs
// back to the bytes it came from.
#include "uErrors.h"
#include "uMultipleFileStream.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  const QByteArray bytes(reinterpret_cast<const char *>(Data), qsizetype(Size));
  const QStringList names = {"config.xml", "identification.inc", "logic.xml", "custom-logic0.xml", "custom-logic.xml"};
  try {
    const QList<QByteArray> files = UnpackRecords(bytes, names);
    QList<std::pair<QString, QByteArray>> records;
    for (int i = 0; i < names.size(); ++i)
      records.append({names[i], files[i]});
    if (!bytes.startsWith(PackRecords(records)))
      std::abort();
  } catch (const EKvError &) {
  }
  return 0;
}
