// The simulated device's Modbus framing under arbitrary input. The first byte
// picks the line (bit 0: TCP) and the rest arrives in pieces whose lengths the
// input gives. A TCP answer always carries a whole header whose length field
// counts its bytes; on the serial line a frame gap after any junk must leave
// the slave ready, so that a good request is answered as on a clean line.
#include "uSimDevice.h"
#include "uSimSlave.h"

#include <cstdint>
#include <cstdlib>

namespace {


void Check(bool Condition) {
  if (!Condition)
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  if (Size == 0)
    return 0;
  const bool tcp = Data[0] & 1;
  TSimDevice device;
  device.SetFile(5, QByteArray(), 16);
  device.SetRegister(TSimArea::Holding, 10, 1);
  TSimRtuSlave rtu(device);
  TSimTcpSlave tcpSlave(device);
  size_t pos = 1;
  while (pos < Size) {
    const size_t take = std::min<size_t>(1 + Data[pos] % 32, Size - pos - 1);
    const char *piece = reinterpret_cast<const char *>(Data + pos + 1);
    pos += 1 + take;
    if (tcp) {
      for (const TSimAnswer &a : tcpSlave.Feed(piece, take)) {
        Check(a.Bytes.size() >= 7);
        Check((uint8_t(a.Bytes[4]) << 8 | uint8_t(a.Bytes[5])) + 6 == a.Bytes.size());
      }
      if (tcpSlave.IsBroken())
        break;
    } else {
      rtu.Feed(piece, take);
      if (take % 4 == 0)
        rtu.EndOfFrame();
    }
  }
  if (!tcp) {
    rtu.EndOfFrame();
    device.SetAddress(1);
    device.SetRegister(TSimArea::Holding, 10, 1);
    const QByteArray good = QByteArray::fromHex("0103000A0001A408");
    const auto answers = rtu.Feed(good.constData(), size_t(good.size()));
    Check(answers.size() == 1 && answers[0].Bytes == QByteArray::fromHex("01030200017984"));
  }
  return 0;
}
