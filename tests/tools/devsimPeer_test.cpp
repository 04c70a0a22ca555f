// devsim against a Modbus master that is not ours (libmodbus): where the
// protocol is standard, its answers must be standard.
#include "uDevSimProcess.h"
#include "uDevSimServer.h"
#include "uSimDevice.h"

#include <gtest/gtest.h>
#include <modbus.h>

#include <memory>

namespace {

using TModbusPtr = std::unique_ptr<modbus_t, void (*)(modbus_t *)>;

void FreeModbus(modbus_t *Ctx) {
  modbus_close(Ctx);
  modbus_free(Ctx);
}

TModbusPtr Connect(modbus_t *Ctx, int Slave, int TimeoutMs = 20000) {
  TModbusPtr ctx(Ctx, FreeModbus);
  if (!Ctx)
    throw std::runtime_error("libmodbus context failed");
  modbus_set_slave(Ctx, Slave);
  modbus_set_response_timeout(Ctx, uint32_t(TimeoutMs / 1000), uint32_t(TimeoutMs % 1000) * 1000);
  if (modbus_connect(Ctx) != 0)
    throw std::runtime_error(std::string("libmodbus connect: ") + modbus_strerror(errno));
  return ctx;
}

TModbusPtr ConnectTcp(uint16_t Port, int Slave) { return Connect(modbus_new_tcp("127.0.0.1", Port), Slave); }

TModbusPtr ConnectRtu(const QString &Path, int Slave) {
  return Connect(modbus_new_rtu(Path.toLocal8Bit().constData(), 38400, 'N', 8, 1), Slave);
}

// Reads 125 registers (the standard's most) and writes one, then reads it back.
void ReadAndWriteHolding(modbus_t *Ctx, TSimDevice &Device) {
  uint16_t regs[125] = {};
  ASSERT_EQ(modbus_read_registers(Ctx, 100, 125, regs), 125) << modbus_strerror(errno);
  for (int i = 0; i < 125; ++i)
    ASSERT_EQ(regs[i], uint16_t(0xA000 + i)) << i;
  ASSERT_EQ(modbus_write_register(Ctx, 7, 0x1234), 1) << modbus_strerror(errno);
  EXPECT_EQ(Device.Register(TSimArea::Holding, 7), 0x1234);
  uint16_t one = 0;
  ASSERT_EQ(modbus_read_registers(Ctx, 7, 1, &one), 1) << modbus_strerror(errno);
  EXPECT_EQ(one, 0x1234);
  // Past the last register: the standard exception answer.
  EXPECT_EQ(modbus_read_registers(Ctx, 65535, 2, regs), -1);
  EXPECT_EQ(errno, EMBXILADD);
  // Function 16 is not the device's.
  EXPECT_EQ(modbus_write_registers(Ctx, 7, 1, &one), -1);
  EXPECT_EQ(errno, EMBXILFUN);
}

class DevSimPeer : public ::testing::Test {
protected:
  void SetUp() override {
    FDevice.SetAddress(17);
    std::vector<uint16_t> values;
    for (int i = 0; i < 125; ++i)
      values.push_back(uint16_t(0xA000 + i));
    FDevice.SetRegisters(TSimArea::Holding, 100, values);
    FServer.Start(TDevSimOptions());
  }
  TSimDevice FDevice;
  TDevSimServer FServer{FDevice};
};

} // namespace

// Over the pty the answers are streamed at the line rate, as from a real device.
TEST_F(DevSimPeer, LibmodbusReadsAndWritesHoldingRegistersOverTcpAndAPty) {
  FServer.SetBaud(38400);
  for (const bool tcp : {true, false}) {
    SCOPED_TRACE(tcp ? "tcp" : "pty");
    auto ctx = tcp ? ConnectTcp(FServer.TcpPort(), 17) : ConnectRtu(FServer.PtyPath(), 17);
    ReadAndWriteHolding(ctx.get(), FDevice);
  }
}

TEST(DevSimProgram, AppliesTheFaultSwitchFromTheCommandLineAndEndsCleanlyWhenStopped) {
  TDevSimProcess devsim;
  devsim.Start(TDevSimProcess::DevSimPath(),
               {QStringLiteral("--no-pty"), QStringLiteral("--fault"), QStringLiteral("exception=3"),
                QStringLiteral("--fault-function"), QStringLiteral("0x03"), QStringLiteral("--fault-after"),
                QStringLiteral("1"), QStringLiteral("--fault-count"), QStringLiteral("1")});
  auto ctx = ConnectTcp(uint16_t(devsim.WaitFor(QStringLiteral("tcp 127.0.0.1:")).toUInt()), 1);
  uint16_t reg = 0;
  EXPECT_EQ(modbus_read_registers(ctx.get(), 0, 1, &reg), 1);
  EXPECT_EQ(modbus_write_register(ctx.get(), 0, 5), 1); // another function: not counted
  EXPECT_EQ(modbus_read_registers(ctx.get(), 0, 1, &reg), -1);
  EXPECT_EQ(errno, EMBXILVAL);
  EXPECT_EQ(modbus_read_registers(ctx.get(), 0, 1, &reg), 1);
  EXPECT_EQ(reg, 5);
  const int status = devsim.Stop();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST(DevSimProgram, RefusesABadOptionWithItsReason) {
  TDevSimProcess devsim;
  devsim.Start(TDevSimProcess::DevSimPath(), {QStringLiteral("--fault"), QStringLiteral("loud")});
  EXPECT_THROW(devsim.WaitLine(), std::runtime_error);
  const int status = devsim.Stop();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << status;
}
