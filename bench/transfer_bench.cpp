// Transfer throughput against the devsim program, through the program's own
// road (IO chain, device front, worker thread, transport):
//  (a) 4096 holding registers over Modbus TCP on 127.0.0.1, and the same
//      registers read by libmodbus (125 a request) on the same devsim as the
//      reference;
//  (b) a 256 KiB device file read in frames of 2048 and of 128 bytes, over
//      Modbus TCP and over a pseudo-terminal whose answers devsim paces at
//      115200 baud (10 bit times a byte).
// Prints bytes per second (payload bytes: register values, file data); (a)
// as min / median / max of alternating rounds, free and then with the bench,
// libmodbus and devsim all on one core, where wake-ups on other cores cost
// nothing and the figure is the work a record takes; each with the
// application log closed and then with its file open, as the program has it.
// The worker's "debug.log" and the transport's trace are always written, as
// in the program.
// "transfer_bench registers" runs (a) alone.
#include "uBenchKit.h"
#include "uBenchRoad.h"
#include "uDevSimProcess.h"
#include "uFiles.h"
#include "uLogger.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QEventLoop>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>
#include <QFile>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <modbus.h>

namespace {

constexpr int RegisterCount = 4096;
constexpr int FileBytes = 256 * 1024;
constexpr int PacedBaud = 115200;

using bench::TRoad;

// Seconds of one chain read of the 4096 registers (records of 127).
double ChainRegisterRead(TRoad &Road) {
  QByteArray regs;
  for (int i = 0; i < RegisterCount; ++i)
    regs.append(char(i & 0xFF)).append(char(i >> 8));
  QBuffer request(&regs);
  request.open(QIODevice::ReadOnly);
  QBuffer result;
  result.open(QIODevice::ReadWrite);
  const double s = Road.Run(Road.New().readReg(request, result));
  return result.size() == 4 * RegisterCount ? s : -1.0;
}

// Seconds of one libmodbus read of the 4096 registers (125 a request).
double LibmodbusRegisterRead(modbus_t *Ctx) {
  uint16_t values[125];
  QElapsedTimer t;
  t.start();
  for (int start = 0; start < RegisterCount; start += 125) {
    const int n = std::min(125, RegisterCount - start);
    if (modbus_read_registers(Ctx, start, n, values) != n)
      return -1.0;
  }
  return double(t.nsecsElapsed()) / 1e9;
}

double FileRead(TRoad &Road, int FileNo, int FrameBytes, const QString &Local, const QByteArray &Expected) {
  const uint16_t last = uint16_t(FileBytes / FrameBytes - 1);
  const double s = Road.Run(Road.New()
                                .setFrameSize(uint16_t(FrameBytes))
                                .execNext([last](TIOChain3 *Next, const QList<int> &) {
                                  CastIOChain3readFile(Next)->setFrameLast(last);
                                }, {})
                                .readFile(uint8_t(FileNo), 0, Local));
  return s >= 0 && LoadFileBytes(Local) == Expected ? s : -1.0;
}

} // namespace

int main(int argc, char **argv) {
  QCoreApplication app(argc, argv);
  QTemporaryDir dir;
  QByteArray file(FileBytes, '\0');
  for (int i = 0; i < FileBytes; ++i)
    file[i] = char((i * 131 + (i >> 11)) & 0xFF);
  SaveFileBytes(dir.filePath("file.bin"), file);

  TDevSimProcess devsim;
  devsim.Start(TDevSimProcess::DevSimPath(),
               {"--baud", QString::number(PacedBaud), "--file", "1:2048:" + dir.filePath("file.bin"), "--file",
                "2:128:" + dir.filePath("file.bin")});
  const QString pty = devsim.WaitFor("pty ");
  const int port = devsim.WaitFor("tcp 127.0.0.1:").toInt();

  const bool oneCore = argc > 1 && QByteArray(argv[1]) == "one-core";
  constexpr int Rounds = 30;
  const double payload = 2.0 * RegisterCount;
  {
    TRoad tcp(dir.path(), true, pty, port);
    modbus_t *ctx = modbus_new_tcp("127.0.0.1", port);
    if (!ctx || modbus_connect(ctx) != 0) {
      std::fprintf(stderr, "libmodbus cannot connect\n");
      return 1;
    }
    modbus_set_slave(ctx, 1);
    std::printf("(a) %d holding registers over Modbus TCP 127.0.0.1, %d alternating reads each, %s\n", RegisterCount,
                Rounds, oneCore ? "all on one core" : "free");
    // Bytes a second of each read: min / median / max.
    auto rates = [payload](const std::vector<double> &Seconds) {
      std::vector<double> out;
      for (double s : Seconds)
        out.push_back(payload / s);
      return bench::Spread(out);
    };
    // Warm-ups, then alternating rounds so that both meet the same machine load.
    auto compare = [&](const char *Log, int WarmUps) {
      std::vector<double> ours, theirs;
      for (int w = 0; w < WarmUps; ++w)
        ChainRegisterRead(tcp);
      LibmodbusRegisterRead(ctx);
      for (int r = 0; r < Rounds; ++r) {
        const double a = ChainRegisterRead(tcp);
        const double b = LibmodbusRegisterRead(ctx);
        if (a < 0 || b < 0) {
          std::fprintf(stderr, "register read failed\n");
          return false;
        }
        ours.push_back(a);
        theirs.push_back(b);
      }
      const bench::TSpread o = rates(ours), t = rates(theirs);
      std::printf("  %s\n", Log);
      std::printf("    chains and worker (127 a record): %s bytes/s (min / median / max)\n",
                  bench::Text(o, 1.0, 0).c_str());
      std::printf("    libmodbus (125 a request):        %s bytes/s\n", bench::Text(t, 1.0, 0).c_str());
      std::printf("    ratio chains / libmodbus, medians: %.2f (target 0.8 or more, aim 1.0; %s)\n",
                  o.Median / t.Median, bench::Machine().c_str());
      return true;
    };
    // With no log file or pane the front makes no text of the records; the
    // program always has its log file open, and then every record writes its
    // lines to it.
    if (!compare("log closed", 1))
      return 1;
    Logger().Open(dir.filePath("kv.log"));
    // Timed once the log has kept 10000 lines and emptied its list, as in a
    // program that has run a while: until then the list's memory grows.
    const int records = (RegisterCount + 126) / 127;
    const bool logged = compare("log file open", 10000 / (3 * records) + 2);
    Logger().Close();
    modbus_close(ctx);
    modbus_free(ctx);
    if (!logged)
      return 1;
    if (oneCore)
      return 0;
    if (const int rc = bench::RunOnOneCore(argv[0], {"one-core"}); rc != 0)
      return rc;

    if (argc > 1 && QByteArray(argv[1]) == "registers") {
      devsim.Stop();
      return 0;
    }
    std::printf("(b) %d KiB file over Modbus TCP 127.0.0.1\n", FileBytes / 1024);
    for (const auto &[no, frame] : {std::pair{1, 2048}, std::pair{2, 128}}) {
      std::vector<double> runs;
      for (int r = 0; r < 5; ++r) {
        const double s = FileRead(tcp, no, frame, dir.filePath("got.bin"), file);
        if (s < 0)
          return 1;
        runs.push_back(s);
      }
      std::printf("    frames of %4d: %10.0f bytes/s  (%.1f ms, median of 5)\n", frame, FileBytes / bench::Median(runs),
                  1e3 * bench::Median(runs));
    }
  }
  {
    TRoad rtu(dir.path(), false, pty, port, PacedBaud);
    std::printf("(b) %d KiB file over a pseudo-terminal paced at %d baud (%d bytes/s on the wire)\n",
                FileBytes / 1024, PacedBaud, PacedBaud / 10);
    for (const auto &[no, frame] : {std::pair{1, 2048}, std::pair{2, 128}}) {
      const double s = FileRead(rtu, no, frame, dir.filePath("got.bin"), file);
      if (s < 0)
        return 1;
      const double rate = FileBytes / s;
      std::printf("    frames of %4d: %10.0f bytes/s  (%.2f s), %.1f %% of the wire's capacity\n", frame, rate, s,
                  100.0 * rate / (PacedBaud / 10.0));
    }
  }
  devsim.Stop();
  return 0;
}
