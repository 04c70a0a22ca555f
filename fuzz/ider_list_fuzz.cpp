// Any bytes as the firmware's identifier listing (Windows-1251 lines): a
// parsed list or an error, never a crash nor an overflowing address.
#include "uErrors.h"
#include "uModbusIderList.h"
#include "uTextCodec.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  const QString Text = FromWin1251(QByteArrayView(reinterpret_cast<const char *>(Data), qsizetype(Size)));
  try {
    const TModbusIderList List(Text.split(QLatin1Char('\n')));
    for (int i = 0; i < List.Count(); ++i) {
      // A listing that would put an identifier before the map's start must be refused, not wrapped.
      if (List.Item(i).Address < 0)
        std::abort();
      (void)List.Item(i).GetByteSize();
    }
  } catch (const EKvError &) {
  }
  return 0;
}
