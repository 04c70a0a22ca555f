// Modbus TCP answer streams from the fuzz input: several exchanges on one
// connection, each answered with the next piece of the input (MBAP header
// and all), sometimes followed by a reset. A success needs an answer with
// transaction and protocol 0, the length it announces, the unit and function
// of the request; bytes left over from an earlier answer never count.
#include "harness_link.h"

#ifndef KV_FUZZ_CHUNKED
#define KV_FUZZ_CHUNKED false
#endif

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  static kvfuzz::TTcpPeer peer;
  static TDeviceIO *io = [] {
    auto *d = new TDeviceIO(QString());
    d->GetOI().SetProtocol(TOI::prModbusTcp);
    d->GetOI().SetHost(QStringLiteral("127.0.0.1"));
    d->GetOI().SetPort(peer.Port());
    d->GetOI().SetTcpTimeout(4);
    // One try per exchange: the peer answers each planned exchange once.
    d->GetOI().SetRepeats(1, 0);
    return d;
  }();
  kvfuzz::TReader r(Data, Size);
  for (int i = 0; i < 8 && !r.Empty(); ++i)
    kvfuzz::RunExchange(*io, peer, kvfuzz::NextExchange(r, true, KV_FUZZ_CHUNKED), true);
  return 0;
}
