// Modbus RTU answers from the fuzz input, over a pseudo-terminal, to every
// device operation; the answers arrive whole or in pieces. Whatever comes,
// an operation reports success only for a complete answer with the right CRC,
// address and function, and then hands out exactly the answer's data.
#include "harness_link.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  static kvfuzz::TPtyPeer peer;
  static TDeviceIO *io = [] {
    auto *d = new TDeviceIO(QString());
    d->GetOI().GetComPort().SetPortName(peer.SlavePath());
    d->GetOI().GetComPort().SetBaudRate(921600);
    d->GetOI().SetProtocol(TOI::prModbusRtu);
    // Short, so that silence costs little; a late answer is purged by the
    // transport before its next request, which the checks rely on.
    d->GetOI().SetTimeout(3);
    // One try per exchange: the peer answers each planned exchange once.
    d->GetOI().SetRepeats(1, 0);
    return d;
  }();
  kvfuzz::TReader r(Data, Size);
  const bool chunked = r.Byte() & 1;
  for (int i = 0; i < 8 && !r.Empty(); ++i)
    kvfuzz::RunExchange(*io, peer, kvfuzz::NextExchange(r, false, chunked), false);
  return 0;
}
