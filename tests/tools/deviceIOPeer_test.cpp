// Our device operations against Modbus servers that are not ours (libmodbus in
// a thread, Debian's pymodbus in a process), over Modbus TCP and over a
// pseudo-terminal: standard functions 03 and 06, at most 125 registers. Where
// the protocol is standard our framing, CRC and MBAP must be too.
#include "uDevSimProcess.h"
#include "uDeviceIO.h"
#include "uPtyBridge.h"

#include <QTemporaryDir>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <modbus.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <memory>
#include <thread>

namespace {

QString Q(const char *Text) { return QString::fromLatin1(Text); }

constexpr uint8_t Unit = 1;
constexpr int TimeoutMs = 20000;

// A libmodbus server on a thread of its own: Modbus TCP on 127.0.0.1 (any
// port) or Modbus RTU on a serial port path. Holding registers 0..299 start
// as 5 * i + 2.
class TLibmodbusServer {
public:
  explicit TLibmodbusServer(const QString &SerialPath = QString()) {
    FMap = modbus_mapping_new(0, 0, 300, 0);
    for (int i = 0; i < 300; ++i)
      FMap->tab_registers[i] = uint16_t(5 * i + 2);
    if (SerialPath.isEmpty()) {
      FCtx = modbus_new_tcp("127.0.0.1", 0);
      FListen = modbus_tcp_listen(FCtx, 1);
      sockaddr_in addr{};
      socklen_t len = sizeof addr;
      if (FListen < 0 || getsockname(FListen, reinterpret_cast<sockaddr *>(&addr), &len) != 0)
        throw std::runtime_error("libmodbus cannot listen");
      FPort = ntohs(addr.sin_port);
    } else {
      FCtx = modbus_new_rtu(SerialPath.toLocal8Bit().constData(), 38400, 'N', 8, 1);
      modbus_set_slave(FCtx, Unit);
      if (modbus_connect(FCtx) != 0)
        throw std::runtime_error(std::string("libmodbus cannot open the port: ") + modbus_strerror(errno));
    }
    // Short waits for requests, so that the thread sees the stop flag.
    modbus_set_indication_timeout(FCtx, 0, 50000);
    FThread = std::thread([this] { Run(); });
  }
  ~TLibmodbusServer() {
    FStop = true;
    FThread.join();
    modbus_close(FCtx);
    if (FListen >= 0)
      ::close(FListen);
    modbus_free(FCtx);
    modbus_mapping_free(FMap);
  }
  uint16_t Port() const { return FPort; }
  // Read only after the client's exchange has completed (the server wrote it before answering).
  uint16_t Register(int Index) const { return FMap->tab_registers[Index]; }

private:
  void Run() {
    uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH];
    bool connected = FListen < 0;
    while (!FStop) {
      if (!connected) {
        pollfd p{FListen, POLLIN, 0};
        if (::poll(&p, 1, 50) == 1)
          connected = modbus_tcp_accept(FCtx, &FListen) >= 0;
        continue;
      }
      const int rc = modbus_receive(FCtx, query);
      if (rc > 0)
        modbus_reply(FCtx, query, rc, FMap);
      else if (rc < 0 && errno != ETIMEDOUT && FListen >= 0) {
        // The client hung up: wait for the next one.
        modbus_close(FCtx);
        connected = false;
      }
    }
  }

  modbus_t *FCtx = nullptr;
  modbus_mapping_t *FMap = nullptr;
  int FListen = -1;
  uint16_t FPort = 0;
  std::atomic<bool> FStop{false};
  std::thread FThread;
};

std::unique_ptr<TDeviceIO> NewIO(const QTemporaryDir &Dir, bool Tcp, const QString &Where, uint16_t Port) {
  auto io = std::make_unique<TDeviceIO>(Dir.filePath(Q("peer.trc")));
  TOI &oi = io->GetOI();
  oi.SetProtocol(Tcp ? TOI::prModbusTcp : TOI::prModbusRtu);
  oi.GetComPort().SetPortName(Where);
  oi.SetHost(Q("127.0.0.1"));
  oi.SetPort(Port);
  oi.SetTimeout(TimeoutMs);
  oi.SetTcpTimeout(TimeoutMs);
  io->SetDeviceAddr(Unit);
  io->SetMemoryArea(1);
  return io;
}

// Reads 125 registers with Value(i) in them, writes one, reads it back, and
// reads past the server's registers (exception 02).
template <typename TValue> void ReadWriteAndFail(TDeviceIO &IO, TValue Value) {
  uint16_t regs[125] = {};
  ASSERT_TRUE(IO.ReadRegisters(10, regs, 125)) << OIStatusName(IO.GetOI().GetStatus()).toStdString();
  for (int i = 0; i < 125; ++i)
    ASSERT_EQ(regs[i], Value(10 + i)) << i;
  ASSERT_TRUE(IO.WriteRegister(7, 0xC0DE)) << OIStatusName(IO.GetOI().GetStatus()).toStdString();
  ASSERT_TRUE(IO.ReadRegisters(7, regs, 1));
  EXPECT_EQ(regs[0], 0xC0DE);
  EXPECT_FALSE(IO.ReadRegisters(290, regs, 20));
  EXPECT_EQ(IO.GetOI().GetStatus(), oisErrorFlag);
  EXPECT_EQ(IO.GetStatus(), 2);
}

uint16_t LibmodbusValue(int I) { return uint16_t(5 * I + 2); }
uint16_t PymodbusValue(int I) { return uint16_t(3 * I + 1); }

QString PeerScript() { return Q(KV_SOURCE_DIR "/tests/tools/pymodbusPeer.py"); }

} // namespace

TEST(DeviceIOPeer, WorksWithALibmodbusServerOverTcpAndAPty) {
  for (const bool tcp : {true, false}) {
    SCOPED_TRACE(tcp ? "tcp" : "pty");
    QTemporaryDir dir;
    TPtyBridge cable;
    TLibmodbusServer server(tcp ? QString() : cable.PathA());
    auto io = NewIO(dir, tcp, cable.PathB(), server.Port());
    ReadWriteAndFail(*io, LibmodbusValue);
    EXPECT_EQ(server.Register(7), 0xC0DE);
  }
}

TEST(DeviceIOPeer, WorksWithAPymodbusServerOverTcpAndAPty) {
  for (const bool tcp : {true, false}) {
    SCOPED_TRACE(tcp ? "tcp" : "pty");
    QTemporaryDir dir;
    TPtyBridge cable;
    TDevSimProcess python;
    uint16_t port = 0;
    if (tcp) {
      python.Start(Q("/usr/bin/python3"), {PeerScript(), Q("tcp"), QString::number(Unit)});
      port = uint16_t(python.WaitFor(Q("tcp 127.0.0.1:"), 60000).toUInt());
    } else {
      python.Start(Q("/usr/bin/python3"), {PeerScript(), Q("rtu"), QString::number(Unit), cable.PathA()});
      python.WaitFor(Q("rtu ready"), 60000);
    }
    auto io = NewIO(dir, tcp, cable.PathB(), port);
    ReadWriteAndFail(*io, PymodbusValue);
  }
}
