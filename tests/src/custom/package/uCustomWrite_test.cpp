// The write chains end to end against the simulated device (in this process,
// so that its request and special-command logs can be read): the order of
// what is sent, the device's files afterwards, and a write cut at every
// request, over Modbus TCP and a pseudo-terminal.
#include <gtest/gtest.h>
#include "../custom_logic_test_util.h"

#include "crc.h"
#include "uDevSimServer.h"
#include "uDeviceIO.h"
#include "uModbusTools.h"
#include "oi.h"
#include "uIOChainFile.h"
#include "uLinkText.h"
#include "uLogger.h"
#include "uModbus.h"
#include "uSimDevice.h"
#include "uSimFault.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QTimer>
#include <QtEndian>
#include <zlib.h>

namespace {

QByteArray Inflate(const QByteArray &Z) {
  QByteArray out(1 << 20, '\0');
  uLongf size = uLongf(out.size());
  if (uncompress(reinterpret_cast<Bytef *>(out.data()), &size, reinterpret_cast<const Bytef *>(Z.constData()),
                 uLong(Z.size())) != Z_OK)
    return "<not zlib>";
  out.resize(qsizetype(size));
  return out;
}

// The content of sub-file K of an external FLASH image, from its header.
QByteArray SubFile(const QByteArray &Image, int K) {
  const qsizetype at = qsizetype(qFromLittleEndian<uint16_t>(Image.constData() + 2 + 2 * K)) * 2048;
  const uint32_t n = qFromLittleEndian<uint32_t>(Image.constData() + at);
  return Inflate(Image.mid(at + 20, n));
}

// The requests as "R140" (file read), "W129", "S240" (special command),
// "REG" (register write), a repeated token once.
QStringList Requests(const std::vector<QByteArray> &Log) {
  QStringList out;
  for (const QByteArray &pdu : Log) {
    const uint8_t fn = uint8_t(pdu[0]);
    QString t = fn == SIM_FN_READ_FILE    ? QString("R%1").arg(uint8_t(pdu[1]))
                : fn == SIM_FN_WRITE_FILE ? QString("W%1").arg(uint8_t(pdu[1]))
                : fn == SIM_FN_SPECIAL    ? QString("S%1").arg(uint8_t(pdu[1]))
                                          : QString("REG");
    if (out.isEmpty() || out.last() != t)
      out << t;
  }
  return out;
}

// The cut table: over loopback TCP every request of a write is cut, over a
// pseudo-terminal every tenth. Each link's full write is cut in parts, run as
// ctest cases of their own, so that ctest runs them side by side: a part
// spends most of its time waiting, for the pseudo-terminal's line time or for
// the round trips of its requests.
struct TCutRun {
  bool Tcp;
  bool Full; // the full write, else the logic-only one
  int Part, Parts;
};

std::string CutRunName(const TCutRun &R) {
  return std::string(R.Tcp ? "Tcp" : "Pty") + (R.Full ? "Full" : "LogicOnly") +
         (R.Parts > 1 ? std::to_string(R.Part + 1) + "of" + std::to_string(R.Parts) : "");
}
void PrintTo(const TCutRun &R, std::ostream *Out) { *Out << CutRunName(R); }

bool IsCutPoint(int K, const TCutRun &Run) {
  const int step = Run.Tcp ? 1 : 10;
  return K % step == 0 && K / step % Run.Parts == Run.Part;
}

// On a loaded machine an answer may come late, and a frame write is sent
// once: requests that devsim answers get seconds. A request that it spoils,
// and the settling of the serial line that follows a spoiled answer, run on
// the short time-out, so that a cut costs little time.
constexpr int AnswerTimeoutMs = 5000;
constexpr int CutTimeoutMs = 250;

// Runs the event loop until Done holds or Ms pass, sleeping until events come
// (the worker's answers): a loop that spins would take a core from the worker
// and devsim on a small machine.
template <typename F> bool WaitIdle(F Done, int Ms) {
  QDeadlineTimer deadline(Ms);
  QTimer tick;
  tick.start(10);
  while (!Done()) {
    if (deadline.hasExpired())
      return false;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  return true;
}

// The device front, letting the test set the link's time-out before each
// record goes to the worker.
class TCutFront : public TDeviceTool {
public:
  using TDeviceTool::TDeviceTool;
  std::function<void()> BeforeQueue;

protected:
  void Queue(const uint8_t *Data, int Count) override {
    if (BeforeQueue)
      BeforeQueue();
    TDeviceTool::Queue(Data, Count);
  }
};

struct TSimLink {
  const bool Tcp;
  TSimDevice Device;
  TDevSimServer Server{Device};
  QTemporaryDir Dir;
  TDeviceThread Thread{Dir.filePath("debug.log"), QString()};
  TCutFront Tool{Thread};
  TIOChainGen Gen;
  QStringList Messages, Reports;
  QStringList WriteBoxes; // why, as the box that stays would say
  QStringList Failures;   // of each write that ended, as the close that waits reads it
  QList<std::vector<uint16_t>> Shown; // the registers handed to the pages, each time
  QList<std::vector<uint16_t>> ShownAtWriteEnd; // those of them handed over before the write had ended

  explicit TSimLink(bool ATcp) : Tcp(ATcp) {
    TDevSimOptions opt;
    opt.UsePty = !Tcp;
    opt.UseTcp = Tcp;
    Server.Start(opt);
    TOI &oi = Thread.DeviceIO().GetOI();
    if (Tcp) {
      oi.SetProtocol(TOI::prModbusTcp);
      oi.SetHost("127.0.0.1");
      oi.SetPort(Server.TcpPort());
      oi.SetTcpTimeout(AnswerTimeoutMs);
    } else {
      oi.SetProtocol(TOI::prModbusRtu);
      oi.GetComPort().SetPortName(Server.PtyPath());
      // A pseudo-terminal has no line speed: the fastest rate keeps the
      // master's waits for the line short.
      oi.GetComPort().SetBaudRate(921600);
      oi.SetTimeout(AnswerTimeoutMs);
    }
    Tool.SetDeviceAddr(1);
    Gen.setDeviceFront(&Tool);
    Gen.setOnMessage([this](const QString &T) { Messages << T; });
    Gen.setOnWriteBox([this](const QString &, const QString &Why) { WriteBoxes << Why; });
    Gen.setOnWriteReport([this](const QString &T) { Reports << T; });
    Gen.setOnWriteEnd([this](const TIOChainList3 &Chain) {
      Failures << Chain.Failure();
      ShownAtWriteEnd = Shown;
    });
  }
  ~TSimLink() { Server.Stop(); }

  // Takes effect at the worker's next exchange.
  void SetTimeout(int Ms) {
    TOI &oi = Thread.DeviceIO().GetOI();
    if (Tcp)
      oi.SetTcpTimeout(Ms);
    else
      oi.SetTimeout(Ms);
  }
  int Seen() const { return int(Device.RequestLog().size()); }

  // The window's parts.
  TCustomWriteHooks Hooks() {
    TCustomWriteHooks h;
    h.RegistersWritten = [this](const std::vector<uint16_t> &Regs) { Shown << Regs; };
    return h;
  }
  // Runs Start and waits until its chain has ended.
  template <typename F> bool Run(F Start) {
    Messages.clear();
    Reports.clear();
    WriteBoxes.clear();
    Failures.clear();
    Shown.clear();
    ShownAtWriteEnd.clear();
    Start();
    // Until the ended chains have gone: a write's end is told then.
    return WaitIdle([&] { return !Gen.IsBusy() && Gen.ChainCount() == 0; }, 120000);
  }
};

// The package built by the page from a device holding the old one.
struct TPage {
  TLogicPackage P;
  // The page works in the work folder (a zlib write leaves "temp.z" there).
  QString Saved = QDir::currentPath();
  TPage() { QDir::setCurrent(Dir()); }
  ~TPage() { QDir::setCurrent(Saved); }
  TSchemaCompile Compiler;
  QStringList Errors;
  QBuffer Params;
  std::vector<TParamStreamEntry> Entries; // the stream's registers, as the page names them
  TCustomWrite Build() {
    TCustomBuildEnv env;
    env.RelayDescriptor = P.RelayRoot();
    return BuildCustomLogic(P.State, env, Compiler, Errors, Params, &Entries);
  }
  QString Dir() const { return P.D.Dir.path(); }
  QByteArray File(const char *Name) const { return P.File(Name); }
};

// The device holding the package of Page as it stands: the external FLASH
// image and a descriptor image around the code just compiled.
void LoadDevice(TSimDevice &Device, TPage &Page) {
  Page.Build();
  Device.SetFile(140, BuildExtFlashBytes(Page.Dir()), 2048);
  Device.SetFile(129, BuildDescBin(*DeviceOf(Page.P.Module->Descriptor.get()), Page.File("generated.bin"), 0, 0, 0,
                                   QDir(Page.Dir()).filePath("header.lst")),
                 128);
}

} // namespace

// A code the device's image refuses (too long for its code area, or an area
// off a frame) stops the logic-only write before anything is written: the
// custom logic in the external FLASH stays byte for byte what it was.
TEST(CustomWriteLogic, RefusedCodeLeavesTheDeviceAsItWas) {
  TSimLink link(true);
  TPage page;
  LoadDevice(link.Device, page);
  const QByteArray image = link.Device.FileBytes(129);
  const int area = CodeFirstFrame(image, 0) * 128;
  page.P.Unit(page.P.State.CustomDoc, {0, page.P.Z->Id, 0}, {1, page.P.M->Id, 0}, 0, 2);
  ASSERT_EQ(page.Build(), TCustomWrite::Logic);
  const QString dir = page.Dir();
  const TLogicWriteFiles files = BuiltWriteFiles(page.P.State, TCustomWrite::Logic, {}, {});
  const qint64 code = page.File("generated.bin").size();
  const auto withWord = [&image](int Offset, uint16_t Value) {
    QByteArray b = image;
    qToLittleEndian<uint16_t>(Value, b.data() + Offset);
    return b;
  };
  const uint16_t codeAddr = qFromLittleEndian<uint16_t>(image.constData() + 36);
  const struct {
    const char *Name;
    QByteArray Image;
    QString Error;
  } cases[] = {
      {"code longer than the area", withWord(0, uint16_t((area + 2) / 2)),
       QString("Код логики (%1 байт) не помещается в область кода прибора (2 байт)").arg(code)},
      {"code area off a frame", withWord(36, uint16_t(codeAddr + 2)),
       QString("Недопустимый адрес исполняемого кода %1").arg(codeAddr + 2, 4, 16, QChar('0'))},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Name);
    link.Device.SetFile(129, c.Image, 128);
    const QByteArray flash = link.Device.FileBytes(140);
    link.Device.ClearLogs();
    ASSERT_TRUE(link.Run([&] { WriteLogic(link.Gen, dir, files, page.Params.data(), link.Hooks()); }));
    EXPECT_TRUE(link.Messages.contains(c.Error)) << link.Messages.join("|").toStdString();
    EXPECT_EQ(Requests(link.Device.RequestLog()), QStringList({"R140", "R129"}));
    EXPECT_EQ(link.Device.FileBytes(140), flash);
    EXPECT_EQ(link.Device.FileBytes(129), c.Image);
    EXPECT_TRUE(link.Reports.isEmpty());
    EXPECT_EQ(link.Failures, QStringList{c.Error});
  }
}

// The register stream of a logic write is read back and compared as the
// pages compare: a value the relay acknowledged and did not keep is named in
// the write's report and once in the log, and the write ends short, without
// "Готово", its logic running again; a bit set is compared on the positions
// it names, so a relay that sets another bit of the word has kept it.
TEST(CustomWriteParams, AValueTheRelayDidNotKeepIsNamedAndNoReadyFollows) {
  TSimLink link(true);
  TPage page;
  LoadDevice(link.Device, page);
  ASSERT_EQ(page.Build(), TCustomWrite::Logic);
  const TLogicWriteFiles files = BuiltWriteFiles(page.P.State, TCustomWrite::Logic, {}, {});
  ASSERT_EQ(page.Params.data().left(4), QByteArray("\x65\x00\x34\x12", 4)); // 0x1234 to register 101 first
  const struct {
    const char *Name, *Fault;
    uint16_t Compared; // as the stream's entry of register 101 gives it
    uint16_t Held;     // what register 101 holds after the write
  } cases[] = {
      {"not kept", "unkept", 0xFFFF, 0x0040},
      {"a bit set whose unnamed bit the relay sets", "held-bits=0x40", 0x003F, 0x1274},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Name);
    link.Device.SetRegister(TSimArea::Holding, 101, 0x0040);
    TSimFault fault = ParseSimFault(QString::fromLatin1(c.Fault));
    fault.Register = 101;
    link.Device.SetFault(fault);
    link.Device.ClearLogs();
    TCustomWriteHooks hooks = link.Hooks();
    hooks.Values = page.Entries;
    for (TParamStreamEntry &e : hooks.Values)
      if (e.Reg == 101)
        e.Compared = c.Compared;
    Logger().Clear();
    ASSERT_TRUE(link.Run([&] { WriteLogic(link.Gen, page.Dir(), files, page.Params.data(), hooks); }));
    link.Device.SetFault({});
    EXPECT_EQ(link.Device.Register(TSimArea::Holding, 101), c.Held);
    EXPECT_EQ(link.Device.SpecialLog(), std::vector<uint8_t>({0xF0, 0xF1, 0xFF}));
    EXPECT_TRUE(link.WriteBoxes.isEmpty()) << link.WriteBoxes.join("|").toStdString();
    if (c.Held != 0x0040) {
      EXPECT_EQ(link.Reports, QStringList{"Готово"}) << link.Messages.join("|").toStdString();
      EXPECT_EQ(link.Failures, QStringList{QString()});
      continue;
    }
    const QString named = "Не сохранено устройством: Группа 1: U2: ";
    EXPECT_EQ(link.Reports.size(), 1) << link.Reports.join("|").toStdString();
    EXPECT_TRUE(link.Reports.value(0).startsWith(named)) << link.Reports.join("|").toStdString();
    ASSERT_EQ(link.Failures.size(), 1);
    EXPECT_TRUE(link.Failures[0].startsWith(named)) << link.Failures[0].toStdString();
    EXPECT_EQ(Logger().Lines().filter(named).size(), 1) << Logger().Lines().join("\n").toStdString();
  }
}

class CustomWriteCut : public ::testing::TestWithParam<TCutRun> {};

TEST_P(CustomWriteCut, AWriteCutAtAnyRequestNeverReportsSuccess) {
  QElapsedTimer watch;
  watch.start();
  // Over loopback TCP a cut answers with an exception (every tenth time
  // silence), over the pseudo-terminal with a bad CRC (every other twentieth
  // request silence); every third cut spoils that one request only, the
  // others every later one too. A link may repeat a spoiled request: success
  // is then right only with the device's files equal to ours.
  const TCutRun run = GetParam();
  const bool tcp = run.Tcp;
  TSimLink link(tcp);
  TPage page;
  LoadDevice(link.Device, page);
  page.P.Unit(page.P.State.CustomDoc, {0, page.P.Z->Id, 0}, {1, page.P.M->Id, 0}, 0, 2);
  ASSERT_EQ(page.Build(), TCustomWrite::Logic);
  const QString dir = page.Dir();
  const TLogicWriteFiles logicFiles = BuiltWriteFiles(page.P.State, TCustomWrite::Logic, {}, {});
  const TLogicWriteFiles allFiles =
      BuiltWriteFiles(page.P.State, TCustomWrite::All, QDate(2024, 3, 5), QDate(2026, 12, 5));
  const auto writeLogic = [&] { WriteLogic(link.Gen, dir, logicFiles, page.Params.data(), link.Hooks()); };
  const auto writeAll = [&] { WriteAll(link.Gen, dir, allFiles, page.Params.data(), true, link.Hooks()); };
  const auto logicWritten = [&] {
    const QByteArray code = page.File("generated.bin");
    const QByteArray image = link.Device.FileBytes(129);
    const QByteArray flash = link.Device.FileBytes(140);
    const QByteArray z = PackBytes(DeflateBytes(page.File("custom-logic.xml")), 2048);
    const qsizetype at = qsizetype(qFromLittleEndian<uint16_t>(flash.constData() + 2 + 2 * 5)) * 2048;
    return image.mid(CodeFirstFrame(image, code.size()) * 128, code.size()) == code && !z.isEmpty() &&
           flash.mid(at, z.size()) == z && SubFile(flash, 5) == page.File("custom-logic.xml");
  };
  const auto allWritten = [&] {
    return link.Device.FileBytes(140) == page.File("extflash.bin") && link.Device.FileBytes(129) == page.File("desc.bin");
  };
  const auto write = run.Full ? std::function<void()>(writeAll) : std::function<void()>(writeLogic);
  const auto written = run.Full ? std::function<bool()>(allWritten) : std::function<bool()>(logicWritten);
  const QStringList order = run.Full ? QStringList{"S240", "W140", "R140", "W129", "R129", "S241", "REG", "S255"}
                                     : QStringList{"R140", "R129", "S240", "W129", "R129", "W140", "R140", "S241", "REG",
                                                   "S255"};
  const QString stopped = "Запись не завершена: логика прибора остановлена, повторите запись";
  const auto sent = [](const std::vector<QByteArray> &Log, qsizetype From, const char *Token) {
    for (size_t i = size_t(From); i < Log.size(); ++i)
      if (Requests({Log[i]}) == QStringList{Token})
        return true;
    return false;
  };

  link.Device.ClearLogs();
  ASSERT_TRUE(link.Run(write));
  ASSERT_EQ(link.Reports, QStringList{"Готово"}) << link.Messages.join("|").toStdString();
  EXPECT_EQ(link.Failures, QStringList{QString()});
  const std::vector<QByteArray> log = link.Device.RequestLog();
  const int requests = int(log.size());
  EXPECT_EQ(Requests(log), order);
  EXPECT_EQ(link.Device.SpecialLog(), std::vector<uint8_t>({0xF0, 0xF1, 0xFF}));
  EXPECT_TRUE(written());
  EXPECT_EQ(link.Device.Register(TSimArea::Holding, 151), 0x5678) << "the custom setpoint's second group";
  // What the registers hold now is read back for the pages.
  const QList<std::vector<uint16_t>> stream{{101, 151}};
  EXPECT_EQ(link.Shown, stream);
  EXPECT_EQ(Modbus().GetWord(151), 0x5678);
  QList<int> cuts;
  for (int k = 0; k < requests; ++k) {
    if (!IsCutPoint(k, run))
      continue;
    cuts << k;
    SCOPED_TRACE(k);
    TSimFault f;
    f.Kind = (tcp ? k % 10 == 5 : k / 20 % 2 == 1) ? TSimFaultKind::Silence
             : tcp                              ? TSimFaultKind::Exception
                                                : TSimFaultKind::BadCrc;
    f.Value = 4;
    f.After = k;
    f.Count = k % 3 == 0 ? 1 : -1;
    link.Device.SetFault(f);
    link.Device.ClearLogs();
    link.Tool.BeforeQueue = [&] {
      const int seen = link.Seen();
      link.SetTimeout(seen >= k && (f.Count < 0 || seen < k + f.Count) ? CutTimeoutMs : AnswerTimeoutMs);
    };
    Logger().Clear();
    ASSERT_TRUE(link.Run(write));
    link.Tool.BeforeQueue = nullptr;
    link.Device.SetFault({});
    const std::vector<QByteArray> cutLog = link.Device.RequestLog();
    // The write reached the cut: a failure before it would be a fault of its own.
    ASSERT_GT(int(cutLog.size()), k);
    if (f.Count == 1 && link.Reports == QStringList{"Готово"}) {
      EXPECT_TRUE(written()); // the spoiled request repeated: a whole write, nothing to redo
      continue;
    }
    EXPECT_TRUE(link.Reports.isEmpty()) << link.Messages.join("|").toStdString();
    // The close that waited for it is cancelled.
    ASSERT_EQ(link.Failures.size(), 1);
    EXPECT_FALSE(link.Failures[0].isEmpty());
    // Cut once the register writes began, the registers are read back all the same.
    const bool regsSent = std::any_of(cutLog.begin(), cutLog.end(),
                                      [](const QByteArray &P) { return uint8_t(P[0]) == SIM_FN_WRITE_HOLDING; });
    EXPECT_EQ(link.Shown, regsSent ? stream : QList<std::vector<uint16_t>>());
    // Read back inside the write: a close that waits for it waits for the read.
    EXPECT_EQ(link.ShownAtWriteEnd, link.Shown);
    // A device may act on a request whose answer is lost: the cut 0xFF
    // itself is not "after the cut".
    EXPECT_FALSE(sent(cutLog, k + 1, "S255"));
    if (Requests({log[size_t(k)]}) != QStringList{"S255"}) {
      EXPECT_FALSE(sent(cutLog, k, "S255"));
      const std::vector<uint8_t> specials = link.Device.SpecialLog();
      EXPECT_TRUE(std::find(specials.begin(), specials.end(), 0xFF) == specials.end());
    }
    const QString failure = f.Kind == TSimFaultKind::Silence ? QString::fromUtf8(LinkTexts::NoAnswer)
                            : f.Kind == TSimFaultKind::BadCrc ? QString::fromUtf8(LinkTexts::BadCrc)
                                                              : DeviceErrorText(4);
    EXPECT_FALSE(Logger().Lines().filter("ERROR").filter(failure).isEmpty())
        << Logger().Lines().join("\n").toStdString();
    EXPECT_FALSE(link.Messages.filter(failure).isEmpty()) << link.Messages.join("|").toStdString();
    // Once 0xF0 has gone out the device's logic may be stopped, and the
    // engineer is told so in the box that stays and in the log; before it,
    // nothing of the kind is said.
    if (sent(cutLog, 0, "S240")) {
      EXPECT_EQ(link.WriteBoxes, QStringList{stopped}) << link.Messages.join("|").toStdString();
      EXPECT_EQ(Logger().Lines().filter(stopped).size(), 1) << Logger().Lines().join("\n").toStdString();
    } else {
      QCoreApplication::processEvents();
      EXPECT_TRUE(link.WriteBoxes.isEmpty()) << link.WriteBoxes.join("|").toStdString();
    }
    // Over the serial line the first request after the cut waits for the
    // line to settle: one whose result does not matter does that, on the
    // short time-out. The rewrite then runs on the normal one.
    if (!tcp) {
      link.SetTimeout(CutTimeoutMs);
      ASSERT_TRUE(link.Run([&] {
        TIOChainList3 &settle = link.Gen.newList();
        settle.readReg(settle.Buffer(QByteArray("\x65\x00", 2)), settle.Buffer()).run();
      }));
      link.SetTimeout(AnswerTimeoutMs);
    }
    link.Device.ClearLogs();
    ASSERT_TRUE(link.Run(write));
    EXPECT_EQ(link.Reports, QStringList{"Готово"}) << link.Messages.join("|").toStdString();
    EXPECT_TRUE(written());
  }
  QStringList points;
  for (int k : cuts)
    points << QString::number(k);
  std::printf("%s write over %s: %d requests, cut at %s; %lld ms\n", run.Full ? "full" : "logic-only",
              tcp ? "TCP" : "pty", requests, qPrintable(points.join(',')), watch.elapsed());
}

// The longest parts first: ctest starts its cases in this order until it has
// timings of its own. The cases are named by the parts (PrintTo).
INSTANTIATE_TEST_SUITE_P(Links, CustomWriteCut,
                         ::testing::Values(TCutRun{false, true, 0, 4}, TCutRun{false, true, 1, 4},
                                           TCutRun{false, true, 2, 4}, TCutRun{false, true, 3, 4},
                                           TCutRun{true, true, 0, 3}, TCutRun{true, true, 1, 3},
                                           TCutRun{true, true, 2, 3}, TCutRun{false, false, 0, 1},
                                           TCutRun{true, false, 0, 1}));
