// Whole identifications of the demo device, with an empty cache, on a lossy
// line: devsim leaves every 10th answer out over Modbus TCP, and over a
// pseudo-terminal garbles the CRC of every 10th or answers every 20th with
// exception 06 (busy). Lost reads are tried again by the
// transport, so identification gets through; a lost scan poll (never
// repeated) leaves the device unfound, and the next "Опрос", as the timer's
// next tick would, starts again.
#include "../src/gui/uLinkKit.h"
#include "uLogger.h"
#include "uPlacement.h"
#include "uSimFault.h"
#include "uSimpleDeviceDescriptor.h"

#include <QElapsedTimer>
#include <iostream>

namespace {

// TcpBusy: a relay busy on every 20th answer behind a Modbus TCP gateway.
enum class TLink { Tcp, Pty, PtyBusy, TcpBusy };

const char *LinkName(TLink Link) {
  switch (Link) {
  case TLink::Tcp: return "Tcp";
  case TLink::Pty: return "Pty";
  case TLink::PtyBusy: return "PtyBusy";
  case TLink::TcpBusy: return "TcpBusy";
  }
  return "";
}

class LossyIdentification : public TShownCapture, public ::testing::WithParamInterface<TLink> {};

} // namespace

TEST_P(LossyIdentification, CompletesWithAnEmptyCacheWithinAMinute) {
  TDemoSession s;
  const bool pty = GetParam() == TLink::Pty || GetParam() == TLink::PtyBusy;
  const bool busy = GetParam() == TLink::PtyBusy || GetParam() == TLink::TcpBusy;
  s.Device.SetLossy(ParseSimLossy(busy ? "exception=6/20"
                                  : pty                        ? "bad-crc/10"
                                                               : "silence/10"));
  s.Serve(pty);
  QString ini = "[setup]\ncustom=0\npasswdExpirationPeriod=60\n";
  if (pty) {
    ini += "protocol=modbus\n";
    RegWriteString("", KV_REG_COM_PORT, s.Server->PtyPath());
  } else {
    ini += QString("protocol=modbustcp\n[modbustcp]\nhost=127.0.0.1\nport=%1\n").arg(s.Server->TcpPort());
  }
  // The simulator shares our CPUs: its answers get a generous time, and a
  // scan answer a generous pause.
  ini += "[device]\npollPause=1000\n[com]\nTimeout=300\n[debug]\npoll=0\n";
  ASSERT_TRUE(s.Open(ini));
  ASSERT_TRUE(QDir(s.Dir.filePath("cache")).entryList(QDir::Files).isEmpty());
  const qsizetype repeatsBefore = Logger().Lines().filter("request repeated").size();

  QElapsedTimer clock;
  clock.start();
  QString status;
  int tries = 0;
  while (status != "Готово" && clock.elapsed() < 60000) {
    status = s.Identify();
    ++tries;
  }
  const qint64 ms = clock.elapsed();
  std::printf("lossy identification over %s: %s after %d tries, %lld ms, %zu requests\n", pty ? "a pty" : "TCP",
              qPrintable(status), tries, static_cast<long long>(ms), s.Device.RequestLog().size());
  if (status != "Готово")
    std::cerr << Logger().Lines().mid(std::max<qsizetype>(0, Logger().Lines().size() - 200)).join("\n").toStdString()
              << "\n";
  ASSERT_EQ(status, "Готово");
  EXPECT_LT(ms, 60000);
  EXPECT_TRUE(s.Form->Descriptor()->Ready);
  EXPECT_GE(s.Device.RequestLog().size(), 30u) << "enough requests for several to be spoiled";
  EXPECT_GT(Logger().Lines().filter("request repeated").size(), repeatsBefore);
  EXPECT_FALSE(QDir(s.Dir.filePath("cache")).entryList(QDir::Files).isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Links, LossyIdentification, ::testing::Values(TLink::Tcp, TLink::Pty, TLink::PtyBusy, TLink::TcpBusy),
                         [](const auto &Info) {
                           return std::string(LinkName(Info.param));
                         });
