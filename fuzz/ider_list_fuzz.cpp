// Any bytes as the firmware's identifier listing (Windows-1251 lines): a
// parsed list or an error, never a crash nor an overflowing address.
#include "uErrors.h"
#include "uModbusIderList.h"
#include "uTextCodec.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  const QString Text = FromWin1251(QByteArrayView(reinterpret_cast<const char *>(Data), qsizetype(Size)));
  try {
    const TModbusIderList List(Text.split(QLatin1Char('\n')));
    for (int i = 0; i < List.Count(); ++i)
      (void)List.Item(i).GetByteSize();
  } catch (const EKvError &) {
  }
  return 0;
}
