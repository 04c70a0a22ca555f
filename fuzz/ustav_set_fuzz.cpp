// Any bytes as a local setpoint set: the reader refuses them with one of our
// errors or gives the embedded descriptor, at most two groups, and values
// only for registers of the image, each a stored word.
#include "uErrors.h"
#include "uModbus.h"
#include "uUstavSetFile.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  const QByteArray bytes(reinterpret_cast<const char *>(Data), qsizetype(Size));
  try {
    const TUstavSetFile set = ReadUstavSetBytes(bytes, QStringLiteral("set.us"));
    bool broken = !set.Descriptor || set.Groups < 0 || set.Groups > 2;
    for (const auto &v : set.Values)
      broken = broken || v.first < 0 || v.first >= TModbus::RegCount;
    if (broken) {
      std::fprintf(stderr, "setpoint set invariant broken\n");
      std::abort();
    }
  } catch (const EKvError &) {
  }
  return 0;
}
