// Any bytes as an answer record reaching the front's delivery, and as the
// payload a parser walks with dates: never a crash, and a parser that runs
// dry stops at most two bytes past what it was given.
#include "uErrors.h"
#include "uModbusTools.h"

#include <QByteArray>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {
class TDropFront : public TDeviceFront {
public:
  void SetDeviceAddr(uint8_t) override {}

protected:
  void Queue(const uint8_t *, int) override {}
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  static TDropFront front;
  static const TReplyId id = front.RegisterReply([](TResponseParser &p, const TAnswerHead &, std::span<const uint8_t>) {
    const int n = p.ReadByte();
    for (int i = 0; i < n; ++i) {
      p.ReadWord();
      p.ReadWord();
    }
  });
  QByteArray a(reinterpret_cast<const char *>(Data), qsizetype(Size));
  // The first four bytes name the registered reply, so the payload reaches it.
  if (a.size() >= 4) {
    a[0] = char(id);
    a[1] = char(id >> 8);
    a[2] = char(id >> 16);
    a[3] = char(id >> 24);
  }
  front.Deliver(a);
  TResponseParser p;
  p.Fill(a);
  try {
    while (true)
      p.ReadDate();
  } catch (const EKvProtocol &) {
  }
  if (p.Index() > a.size() + 2)
    std::abort();
  return 0;
}
