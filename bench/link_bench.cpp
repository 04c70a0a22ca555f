// Cost of one register read (10 registers) on each link against a responder
// that answers at once: Modbus RTU over a pseudo-terminal at 38400 baud (the
// transport's own pacing included) and Modbus TCP over 127.0.0.1. Prints the
// mean milliseconds per exchange.
#include "linkResponder.h"
#include "uDeviceIO.h"

#include <QElapsedTimer>
#include <cstdio>

using namespace linktest;

namespace {

QByteArray ReadAnswer() {
  QByteArray pdu = Hex("01 03 14");
  for (int i = 0; i < 10; ++i)
    pdu.append(char(0)).append(char(i));
  return pdu;
}

} // namespace

int main() {
  constexpr int RtuCount = 200, TcpCount = 2000;
  uint16_t regs[10];
  {
    TPtyResponder peer;
    TDeviceIO io(QString{});
    io.GetOI().GetComPort().SetPortName(peer.SlavePath());
    io.GetOI().SetTimeout(1000);
    io.SetDeviceAddr(1);
    for (int i = 0; i < RtuCount; ++i)
      peer.Add({8, WithCrc(ReadAnswer())});
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < RtuCount; ++i)
      if (!io.ReadRegisters(0, regs, 10))
        return 1;
    std::printf("RTU 38400 baud, read of 10 registers: %.2f ms per exchange (line pacing %d ms)\n",
                double(t.nsecsElapsed()) / 1e6 / RtuCount, RtuLineTimeMs(8 + 25, 38400));
  }
  {
    TTcpResponder peer;
    TDeviceIO io(QString{});
    io.GetOI().SetProtocol(TOI::prModbusTcp);
    io.GetOI().SetHost(QStringLiteral("127.0.0.1"));
    io.GetOI().SetPort(peer.Port());
    io.SetDeviceAddr(1);
    for (int i = 0; i < TcpCount; ++i)
      peer.Add({0, Mbap(ReadAnswer())});
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < TcpCount; ++i)
      if (!io.ReadRegisters(0, regs, 10))
        return 1;
    if (!peer.WaitAnswered(TcpCount))
      return 1;
    std::printf("TCP 127.0.0.1, read of 10 registers: %.3f ms per exchange\n",
                double(t.nsecsElapsed()) / 1e6 / TcpCount);
  }
  return 0;
}
