// devsim: one simulated relay terminal on a pseudo-terminal (Modbus RTU) and on
// 127.0.0.1 (Modbus TCP), until SIGTERM or SIGINT.
#include "uDemoDevice.h"
#include "uDevSimFiles.h"
#include "uDevSimServer.h"
#include "uErrors.h"
#include "uFiles.h"
#include "uOscContent.h"
#include "uSimDevice.h"
#include "uSimFault.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QStringList>
#include <csignal>
#include <cstdio>
#include <memory>

namespace {

const char *const HelpText =
    "Simulates one protection-relay terminal as a Modbus slave. It prints\n"
    "\"pty PATH\" (the serial port to open) and \"tcp 127.0.0.1:PORT\", one line\n"
    "each, once it answers, and runs until SIGTERM or SIGINT. Each special\n"
    "command received prints \"special XX\" (its value in hexadecimal).\n"
    "\n"
    "On the serial line the device answers its own address and, from it, a poll\n"
    "(function 07) of address 255; it executes broadcasts (address 0) without\n"
    "answering. On TCP it answers the units 0, 255 and its own, echoing the unit\n"
    "(a poll of 255 is answered from its own address, as on the serial line),\n"
    "and any other unit with exception 0B, or not at all with --gateway.\n"
    "Functions: 03/06 holding registers, 53/56 SRAM, 54 FLASH, 55 area 4 (reads\n"
    "of 1..127 registers), 07 poll, 1C/1B file frames, 1D/1A clock, 1F special\n"
    "command.\n"
    "\n"
    "Files: --demo-files serves the demo device's files, each in the frames the\n"
    "program reads it with: 128 the event ring (256 records of 9 + 2 x 6 bytes,\n"
    "the newest written across the ring's end), 129 the descriptor image (128),\n"
    "132 the oscillogram directory (128; 32 cyclic slots) and 1..3 its records\n"
    "(128), 140 the external FLASH (2048; block 0 is \"head.bin\"). --file adds\n"
    "or replaces files. Frames written to a file are kept in memory and read\n"
    "back; with --save-files DIR the file's whole bytes are also saved to\n"
    "DIR/fileNNN.bin (NNN its number in decimal) after every frame written.\n"
    "\n"
    "Fault kinds for --fault:\n"
    "  exception=CODE        answer with this exception code (request not executed)\n"
    "  silence               no answer (request not executed)\n"
    "  bad-crc               both CRC bytes inverted (RTU only; TCP has no CRC)\n"
    "  other-address=ADDR    answer from this address (TCP: unit)\n"
    "  other-function=CODE   answer with this function code\n"
    "  short=BYTES           the last BYTES bytes of the answer are not sent\n"
    "  late=MS               the answer leaves MS milliseconds late\n"
    "  lost-answer           no answer (request executed)\n"
    "  unkept                a register write is echoed but not done\n"
    "  held-bits=MASK        a register write is done but the bits of MASK keep their value\n"
    "--lossy KIND/N spoils every Nth answer besides: silence or bad-crc (the\n"
    "request is executed, its answer lost or garbled) or exception=CODE.\n"
    "Numbers may be decimal or 0x-hexadecimal.\n"
    "\n"
    "Oscillograms: with --demo-image 2 or 3 the records hold that relay's own\n"
    "samples (another amplitude and phase for one disturbance). SIGUSR2 makes\n"
    "the relay record a new oscillogram now into the slot after the last one\n"
    "written (the oldest of a full ring) and prints \"oscillogram FILE\".";

[[noreturn]] void Fail(const QString &Text) {
  std::fprintf(stderr, "devsim: %s\n", qPrintable(Text));
  std::exit(2);
}

long Number(const QString &Text, long Min, long Max, const QString &What) {
  const long v = ParseSimNumber(Text);
  if (v < Min || v > Max)
    throw EKvError(QStringLiteral("%1 out of range %2..%3: %4").arg(What).arg(Min).arg(Max).arg(Text));
  return v;
}

TSimArea AreaOf(const QString &Text) {
  static const QStringList names{QStringLiteral("holding"), QStringLiteral("sram"), QStringLiteral("flash"),
                                 QStringLiteral("area4")};
  const qsizetype i = names.indexOf(Text.toLower());
  return TSimArea(i >= 0 ? int(i + 1) : int(Number(Text, 1, 4, QStringLiteral("area"))));
}

// AREA:REG=V[,V...]
void ApplySet(TSimDevice &Device, const QString &Text) {
  const qsizetype colon = Text.indexOf(QLatin1Char(':'));
  const qsizetype eq = Text.indexOf(QLatin1Char('='));
  if (colon < 0 || eq < colon)
    throw EKvError(QStringLiteral("invalid --set: ") + Text);
  std::vector<uint16_t> values;
  for (const QString &v : Text.mid(eq + 1).split(QLatin1Char(',')))
    values.push_back(uint16_t(Number(v, 0, 65535, QStringLiteral("value"))));
  Device.SetRegisters(AreaOf(Text.left(colon)),
                      uint16_t(Number(Text.mid(colon + 1, eq - colon - 1), 0, 65535, QStringLiteral("register"))),
                      values);
}

// NO:FRAME[:PATH]
void ApplyFile(TSimDevice &Device, const QString &Text) {
  const QStringList parts = Text.split(QLatin1Char(':'));
  if (parts.size() < 2)
    throw EKvError(QStringLiteral("invalid --file: ") + Text);
  QByteArray bytes;
  if (parts.size() > 2) {
    const QString path = parts.mid(2).join(QLatin1Char(':'));
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
      throw EKvError(QStringLiteral("cannot read %1: %2").arg(path, f.errorString()));
    bytes = f.readAll();
  }
  Device.SetFile(int(Number(parts[0], 0, 255, QStringLiteral("file number"))), bytes,
                 int(Number(parts[1], 1, TSimDevice::MaxFrameBytes, QStringLiteral("frame size"))));
}

// The oscillogram switches: the relay's unit (its samples), a directory of
// fewer slots, a clock stepped back between two records, a record rewritten
// while it is read.
struct TOscSwitches {
  int Image = 1;
  int Slots = 0;          // 0: the demo's 32
  bool ClockStep = false;
  int RewriteAt = -1;     // the frame of the oldest slot's record whose read makes the relay record anew
  int SlotCount() const { return Slots > 0 ? Slots : 32; }
};

// Gives the demo's directory and records as the switches make them; nothing
// without the demo's directory or with no switch (image 1 keeps its files).
void ApplyOscSwitches(TSimDevice &Device, const TOscSwitches &S) {
  if (!Device.HasFile(SimFileOscDirectory) || (S.Image == 1 && S.Slots == 0 && !S.ClockStep))
    return;
  std::vector<TSimOscEntry> entries = DemoOscEntries();
  TSimOscDirectoryPlan dir;
  dir.FirstSlot = DemoOscFirstSlot;
  if (S.ClockStep) {
    // An hour back between 12:36 and 11:56 (summer time ending on a relay kept in local time).
    const QDate day = entries.front().Trigger.date();
    entries.clear();
    for (const QTime t : {QTime(10, 56, 0, 250), QTime(12, 36, 0, 250), QTime(11, 56, 0, 250), QTime(12, 56, 0, 250)})
      entries.push_back({QDateTime(day, t, Qt::UTC), 1, 1});
    dir.FirstSlot = 0;
  }
  if (S.Slots > 0) {
    dir.SlotCount = S.Slots;
    dir.FirstSlot = 0;
    if (int(entries.size()) > S.Slots)
      entries.erase(entries.begin(), entries.end() - S.Slots);
  }
  for (int file = 1; file <= 32; ++file)
    Device.RemoveFile(file);
  const QByteArray record = BuildOscRecord(OscPlanOfUnit(DemoOscPlan(), S.Image));
  for (size_t i = 0; i < entries.size(); ++i)
    Device.SetFile((dir.FirstSlot + int(i)) % dir.SlotCount + 1, record, SimOscFrameBytes);
  Device.SetFile(SimFileOscDirectory, BuildOscDirectory(entries, dir), SimOscFrameBytes);
}

// The relay records a trip now, as it does: into the slot after the last one
// written (the oldest of a full ring), the record first, then its entry of
// one second before the trigger and two after. Returns its file number.
int RecordOscNow(TSimDevice &Device, const TOscSwitches &S) {
  const TOscRecordedAnew anew =
      RecordOscAnew(Device.FileBytes(SimFileOscDirectory), S.SlotCount(), Device.Clock(), 1, 2);
  TOscRecordPlan plan = OscPlanOfUnit(DemoOscPlan(), S.Image + 2);
  plan.SampleCount = 3 * int(plan.SampleRate);
  Device.SetFile(anew.FileNo, BuildOscRecord(plan), SimOscFrameBytes);
  Device.SetFile(SimFileOscDirectory, anew.Directory, SimOscFrameBytes);
  return anew.FileNo;
}

} // namespace

int main(int argc, char **argv) {
  QStringList args;
  for (int i = 0; i < argc; ++i)
    args << QString::fromLocal8Bit(argv[i]);

  QCommandLineParser p;
  p.setApplicationDescription(QString::fromLatin1(HelpText));
  const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Shows this help."));
  const QCommandLineOption address(QStringLiteral("address"), QStringLiteral("Device address 1..247 (default 1)."),
                                   QStringLiteral("N"), QStringLiteral("1"));
  const QCommandLineOption status(QStringLiteral("status"),
                                  QStringLiteral("Status byte answered to a poll (default 0)."), QStringLiteral("N"),
                                  QStringLiteral("0"));
  const QCommandLineOption noPty(QStringLiteral("no-pty"), QStringLiteral("No pseudo-terminal."));
  const QCommandLineOption noTcp(QStringLiteral("no-tcp"), QStringLiteral("No Modbus TCP."));
  const QCommandLineOption port(QStringLiteral("port"),
                                QStringLiteral("TCP port on 127.0.0.1; 0 takes any free one (default 0)."),
                                QStringLiteral("N"), QStringLiteral("0"));
  const QCommandLineOption baud(QStringLiteral("baud"),
                                QStringLiteral("Stream RTU answers at N baud, 10 bit times per byte; "
                                               "0 writes them at once (default 0)."),
                                QStringLiteral("N"), QStringLiteral("0"));
  const QCommandLineOption fault(QStringLiteral("fault"), QStringLiteral("Spoil answers; kinds above."),
                                 QStringLiteral("KIND[=VALUE]"));
  const QCommandLineOption faultFunction(QStringLiteral("fault-function"),
                                         QStringLiteral("Spoil only answers to function F (default every one)."),
                                         QStringLiteral("F"));
  const QCommandLineOption faultAfter(QStringLiteral("fault-after"),
                                      QStringLiteral("Answer the first N matching requests normally (default 0)."),
                                      QStringLiteral("N"), QStringLiteral("0"));
  const QCommandLineOption lossy(QStringLiteral("lossy"),
                                 QStringLiteral("Spoil every Nth answer: silence/N, bad-crc/N or exception=CODE/N."),
                                 QStringLiteral("KIND/N"));
  const QCommandLineOption faultCount(QStringLiteral("fault-count"),
                                      QStringLiteral("Spoil N answers, then answer normally (default: no end)."),
                                      QStringLiteral("N"));
  const QCommandLineOption faultRegister(QStringLiteral("fault-register"),
                                         QStringLiteral("Spoil only register reads and writes that take in register R."),
                                         QStringLiteral("R"));
  const QCommandLineOption file(QStringLiteral("file"),
                                QStringLiteral("Device file NO (0..255) cut into frames of FRAME bytes, holding "
                                               "the bytes of PATH (none without PATH). Repeatable."),
                                QStringLiteral("NO:FRAME[:PATH]"));
  const QCommandLineOption set(QStringLiteral("set"),
                               QStringLiteral("Registers REG, REG+1, ... of AREA (holding, sram, flash, area4 "
                                              "or 1..4) get the values. Repeatable."),
                               QStringLiteral("AREA:REG=V[,V...]"));
  const QCommandLineOption clock(QStringLiteral("clock"),
                                 QStringLiteral("Device clock start (default the local time)."),
                                 QStringLiteral("yyyy-MM-dd hh:mm:ss"));
  const QCommandLineOption demoFiles(QStringLiteral("demo-files"),
                                     QStringLiteral("Serve the demo device's files 1..3, 128, 129, 132 and 140."));
  const QCommandLineOption saveFiles(QStringLiteral("save-files"),
                                     QStringLiteral("Save every file written to DIR/fileNNN.bin."),
                                     QStringLiteral("DIR"));
  const QCommandLineOption clockStopped(QStringLiteral("clock-stopped"),
                                        QStringLiteral("The clock stays where it is set."));
  const QCommandLineOption gateway(QStringLiteral("gateway"),
                                   QStringLiteral("On TCP, leave units other than 0, 255 and the own one "
                                                  "unanswered, as a gateway without such a device does."));
  const QCommandLineOption demo(QStringLiteral("demo"),
                                QStringLiteral("Serve the demo terminal: descriptor, external FLASH, calibration, "
                                               "moving measurements; --file, --set and --clock apply on top."));
  const QCommandLineOption demoImage(QStringLiteral("demo-image"),
                                     QStringLiteral("With --demo, serve terminal N: 1 the demo terminal (default), "
                                                    "2 another relay of its family (other register map and "
                                                    "identifier listing), 3 a relay of another type (register 30 "
                                                    "a rated current, other setpoint items, one setpoint less). "
                                                    "SIGUSR1 changes between terminal 1 and the one chosen behind "
                                                    "the kept links and address, and prints \"image N\"."),
                                     QStringLiteral("N"), QStringLiteral("1"));
  const QCommandLineOption demoUnit(QStringLiteral("demo-unit"),
                                    QStringLiteral("With --demo, serve unit N of the terminal's type: 1 (default) or "
                                                   "2, another relay of the same type and firmware with its own "
                                                   "calibration values in SRAM and its own custom logic (its first "
                                                   "unit captioned \"Блок Б-2\"); give it its own --address."),
                                    QStringLiteral("N"), QStringLiteral("1"));
  const QCommandLineOption refuseLimits(QStringLiteral("refuse-out-of-limits"),
                                        QStringLiteral("With --demo, refuse (exception 03) a register write outside "
                                                       "the limits the descriptor gives that register."));
  // The oscillogram switches (the demo's directory and records).
  const QCommandLineOption oscSlots(QStringLiteral("osc-slots"),
                                    QStringLiteral("With the demo's files, a cyclic directory of N slots (1..32) "
                                                   "holding the demo's newest records from slot 0."),
                                    QStringLiteral("N"));
  const QCommandLineOption oscClockStep(QStringLiteral("osc-clock-step"),
                                        QStringLiteral("With the demo's files, a directory whose clock stepped back "
                                                       "an hour between two records: 10:56, 12:36, 11:56, 12:56."));
  const QCommandLineOption oscRewriteAt(QStringLiteral("osc-rewrite-at"),
                                        QStringLiteral("Once frame N of the record in the slot written next is read, "
                                                       "the relay records a new oscillogram into that slot (once)."),
                                        QStringLiteral("N"));
  // The relay's journal as it wrote it: a ring filled past its end, a clock set back.
  const QCommandLineOption eventRing(
      QStringLiteral("event-ring"),
      QStringLiteral("The event ring (file 128, 256 records of its frame size, the demo's without one) "
                     "holds COUNT records a minute apart, the last a minute before the clock, written from "
                     "slot 0 on (past 256 it wraps: a full ring); with STEP_AT and MINUTES the relay's "
                     "clock was set back MINUTES before record STEP_AT (from 0)."),
      QStringLiteral("COUNT[:STEP_AT:MINUTES]"));
  p.addOption(eventRing);
  p.addOptions({help, address, status, noPty, noTcp, port, baud, fault, faultFunction, faultAfter, faultCount, faultRegister, lossy,
                file, set, clock, clockStopped, demoFiles, saveFiles, gateway, demo, demoImage, demoUnit, refuseLimits,
                oscSlots, oscClockStep, oscRewriteAt});
  if (!p.parse(args))
    Fail(p.errorText());
  if (p.isSet(help)) {
    // Without an application object the parser cannot know the program's name.
    std::fputs(qPrintable(p.helpText().replace(QStringLiteral("<executable_name>"), QStringLiteral("devsim"))),
               stdout);
    return 0;
  }
  if (!p.positionalArguments().isEmpty())
    Fail(QStringLiteral("unexpected argument: ") + p.positionalArguments().first());

  TSimDevice device;
  TDevSimOptions options;
  TOscSwitches osc;
  int image = 1, swapped = 2, unit = 1;
  try {
    image = int(Number(p.value(demoImage), 1, 3, QStringLiteral("demo image")));
    // A swap goes from terminal 1 to the one chosen (2 when it is 1) and back.
    swapped = image == 1 ? 2 : image;
    unit = int(Number(p.value(demoUnit), 1, DemoUnits, QStringLiteral("demo unit")));
    if (p.isSet(demo))
      LoadDemoDevice(device, image, unit);
    if (p.isSet(demo) && p.isSet(refuseLimits))
      device.SetWriteLimits(DescribedWriteLimits(DemoTerminalContent(image)));
    device.SetAddress(uint8_t(Number(p.value(address), 1, 247, QStringLiteral("address"))));
    device.SetStatusByte(uint8_t(Number(p.value(status), 0, 255, QStringLiteral("status"))));
    device.SetAbsentUnitsSilent(p.isSet(gateway));
    options.UsePty = !p.isSet(noPty);
    options.UseTcp = !p.isSet(noTcp);
    options.TcpPort = uint16_t(Number(p.value(port), 0, 65535, QStringLiteral("port")));
    options.Baud = int(Number(p.value(baud), 0, 10000000, QStringLiteral("baud")));
    if (p.isSet(fault)) {
      TSimFault f = ParseSimFault(p.value(fault));
      if (p.isSet(faultFunction))
        f.Function = int(Number(p.value(faultFunction), 0, 255, QStringLiteral("fault function")));
      f.After = int(Number(p.value(faultAfter), 0, 1000000000, QStringLiteral("fault after")));
      if (p.isSet(faultCount))
        f.Count = int(Number(p.value(faultCount), 0, 1000000000, QStringLiteral("fault count")));
      if (p.isSet(faultRegister))
        f.Register = int(Number(p.value(faultRegister), 0, 65535, QStringLiteral("fault register")));
      device.SetFault(f);
    }
    if (p.isSet(lossy))
      device.SetLossy(ParseSimLossy(p.value(lossy)));
    if (p.isSet(demoFiles))
      AddDemoFiles(device);
    osc.Image = image;
    if (p.isSet(oscSlots))
      osc.Slots = int(Number(p.value(oscSlots), 1, 32, QStringLiteral("oscillogram slots")));
    osc.ClockStep = p.isSet(oscClockStep);
    if (p.isSet(oscRewriteAt))
      osc.RewriteAt = int(Number(p.value(oscRewriteAt), 0, 65535, QStringLiteral("oscillogram frame")));
    ApplyOscSwitches(device, osc);
    for (const QString &f : p.values(file))
      ApplyFile(device, f);
    if (p.isSet(saveFiles)) {
      const QString dir = p.value(saveFiles);
      if (!QDir().mkpath(dir))
        throw EKvError(QStringLiteral("cannot make folder ") + dir);
      device.SetWriteHook([dir](int FileNo, const QByteArray &Bytes) {
        const QString path = QDir(dir).filePath(QStringLiteral("file%1.bin").arg(FileNo, 3, 10, QLatin1Char('0')));
        try {
          SaveFileBytes(path, Bytes);
        } catch (const EKvError &e) {
          // The write itself has been taken; a folder that fails is only reported.
          std::fprintf(stderr, "devsim: %s\n", qPrintable(e.Text()));
        }
      });
    }
    for (const QString &s : p.values(set))
      ApplySet(device, s);
    if (p.isSet(clock) || p.isSet(clockStopped)) {
      QDateTime start = device.Clock();
      if (p.isSet(clock)) {
        start = QDateTime::fromString(p.value(clock), QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        if (!start.isValid())
          throw EKvError(QStringLiteral("invalid --clock: ") + p.value(clock));
      }
      device.SetClock(start, !p.isSet(clockStopped));
    }
    if (p.isSet(eventRing)) {
      const QStringList parts = p.value(eventRing).split(QLatin1Char(':'));
      if (parts.size() != 1 && parts.size() != 3)
        throw EKvError(QStringLiteral("invalid --event-ring: ") + p.value(eventRing));
      TSimEventSeries plan;
      plan.Count = int(Number(parts[0], 0, 1000000, QStringLiteral("event count")));
      if (parts.size() == 3) {
        plan.StepAt = int(Number(parts[1], 0, plan.Count, QStringLiteral("step record")));
        plan.StepBackMinutes = int(Number(parts[2], 0, 1000000, QStringLiteral("step minutes")));
      }
      plan.Codes = {20, 10};
      const int frame = device.FileFrameBytes(SimFileEventRing);
      const int recordBytes = frame > 0 ? frame : 9 + 2 * EventValueWords(DemoTerminalContent(image));
      device.SetFile(SimFileEventRing,
                     WriteEventRing(SimEventSeries(plan, device.Clock().addSecs(-60)), recordBytes, 256),
                     recordBytes);
    }
  } catch (const EKvError &e) {
    Fail(e.Text());
  }

  // Block the stop signals before the server thread starts, so that it
  // inherits the mask and only sigwait below takes them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGHUP);
  sigaddset(&stopSignals, SIGUSR1);
  sigaddset(&stopSignals, SIGUSR2);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  // A reader that went away must not end the device: the lines are only news.
  std::signal(SIGPIPE, SIG_IGN);

  device.SetSpecialHook([](uint8_t Value) {
    std::printf("special %02X\n", unsigned(Value));
    std::fflush(stdout);
  });
  if (osc.RewriteAt >= 0)
    device.SetRequestHook([&device, &osc, done = false](const QByteArray &Pdu) mutable {
      const QByteArray dir = device.FileBytes(SimFileOscDirectory);
      if (done || Pdu.size() != 4 || uint8_t(Pdu[0]) != SIM_FN_READ_FILE || dir.size() < 5)
        return;
      const int next = uint8_t(dir[4]) % osc.SlotCount() + 1;
      if (uint8_t(Pdu[1]) == next && (uint8_t(Pdu[2]) << 8 | uint8_t(Pdu[3])) == osc.RewriteAt) {
        done = true;
        std::printf("oscillogram %d rewritten\n", RecordOscNow(device, osc));
        std::fflush(stdout);
      }
    });
  std::unique_ptr<TDemoLiveValues> live;
  if (p.isSet(demo))
    live = std::make_unique<TDemoLiveValues>(device);
  TDevSimServer server(device);
  try {
    server.Start(options);
  } catch (const EKvError &e) {
    Fail(e.Text());
  }
  if (!server.PtyPath().isEmpty())
    std::printf("pty %s\n", qPrintable(server.PtyPath()));
  if (server.TcpPort() != 0)
    std::printf("tcp 127.0.0.1:%u\n", unsigned(server.TcpPort()));
  std::fflush(stdout);

  int sig = 0;
  while (sigwait(&stopSignals, &sig) == 0 && (sig == SIGUSR1 || sig == SIGUSR2)) {
    if (sig == SIGUSR2) {
      // A trip: the relay records a new oscillogram.
      if (device.HasFile(SimFileOscDirectory)) {
        std::printf("oscillogram %d\n", RecordOscNow(device, osc));
        std::fflush(stdout);
      }
      continue;
    }
    if (!p.isSet(demo))
      continue;
    // The relay behind the line is swapped: silent while its content changes,
    // so that no answer mixes the two.
    const TSimFault kept = device.Fault();
    TSimFault silent;
    silent.Kind = TSimFaultKind::Silence;
    device.SetFault(silent);
    image = image == 1 ? swapped : 1;
    LoadDemoDevice(device, image, unit);
    if (p.isSet(refuseLimits))
      device.SetWriteLimits(DescribedWriteLimits(DemoTerminalContent(image)));
    osc.Image = image;
    ApplyOscSwitches(device, osc);
    device.SetFault(kept);
    std::printf("image %d\n", image);
    std::fflush(stdout);
  }
  server.Stop();
  live.reset();
  return 0;
}
