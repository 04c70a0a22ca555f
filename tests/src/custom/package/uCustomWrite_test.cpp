// The write chains end to end against the simulated device (in this process,
// so that its request and special-command logs can be read): the order of
// what is sent, the device's files afterwards, and a write cut at every
// request, over Modbus TCP and a pseudo-terminal.
#include "../../../common/uTestLoop.h"
#include <gtest/gtest.h>
#include "../custom_logic_test_util.h"

#include "crc.h"
#include "uDevSimServer.h"
#include "uDeviceIO.h"
#include "uModbusTools.h"
#include "oi.h"
#include "uSimDevice.h"

#include <QElapsedTimer>
#include <QRegularExpression>
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

// Where a write is cut. Over TCP every request of the logic-only write; of
// the full write's long frame runs the first, the last and every eighth
// (KV_CUT_EVERY=1: every request). Over the pseudo-terminal every tenth
// request, the full write's in two halves run as separate cases.
struct TCutRun {
  bool Tcp;
  int Half; // over the pseudo-terminal: cuts at K % 20 == 10 * Half
};

bool IsCutPoint(const std::vector<QByteArray> &Log, int K, const TCutRun &Run) {
  if (!Run.Tcp)
    return Log.size() < 100 ? Run.Half == 0 && K % 10 == 0 : K % 20 == 10 * Run.Half;
  if (Log.size() < 100 || qEnvironmentVariableIsSet("KV_CUT_EVERY"))
    return true;
  const auto token = [&](int I) { return I < 0 || I >= int(Log.size()) ? QByteArray() : Log[size_t(I)].left(2); };
  return token(K - 1) != token(K) || token(K + 1) != token(K) || K % 8 == 0;
}

struct TSimLink {
  TSimDevice Device;
  TDevSimServer Server{Device};
  QTemporaryDir Dir;
  TDeviceThread Thread{Dir.filePath("debug.log"), QString()};
  TDeviceTool Tool{Thread};
  TIOChainGen Gen;
  QStringList Messages, Boxes;

  explicit TSimLink(bool Tcp, int TimeoutMs) {
    TDevSimOptions opt;
    opt.UsePty = !Tcp;
    opt.UseTcp = Tcp;
    Server.Start(opt);
    TOI &oi = Thread.DeviceIO().GetOI();
    if (Tcp) {
      oi.SetProtocol(TOI::prModbusTcp);
      oi.SetHost("127.0.0.1");
      oi.SetPort(Server.TcpPort());
      oi.SetTcpTimeout(TimeoutMs);
    } else {
      oi.SetProtocol(TOI::prModbusRtu);
      oi.GetComPort().SetPortName(Server.PtyPath());
      // A pseudo-terminal has no line speed: the fastest rate keeps the
      // master's waits for the line short.
      oi.GetComPort().SetBaudRate(921600);
      oi.SetTimeout(TimeoutMs);
    }
    Tool.SetDeviceAddr(1);
    Gen.setDeviceFront(&Tool);
    Gen.setOnMessage([this](const QString &T) { Messages << T; });
  }
  ~TSimLink() { Server.Stop(); }

  // The window's parts, as the program's identification does them, on the
  // header just read into WorkDir.
  TCustomWriteHooks Hooks(const QString &WorkDir) {
    TCustomWriteHooks h;
    h.CheckFlashHeader = [WorkDir] {
      const QByteArray head = LoadFileBytes(QDir(WorkDir).filePath("head.bin"));
      if (head.size() < 16 || Crc16(head.constData(), 14) != qFromLittleEndian<uint16_t>(head.constData() + 14))
        throw EKvError("Ошибка контрольной суммы FLASH");
    };
    h.SubFileStart = [WorkDir](TIOChain3 *Step, const QList<int> &Args) {
      const QByteArray head = LoadFileBytes(QDir(WorkDir).filePath("head.bin"));
      const uint16_t first = qFromLittleEndian<uint16_t>(head.constData() + 2 + 2 * Args.at(0));
      if (auto *r = dynamic_cast<TIOChain3readFile *>(Step))
        r->setFrameFirst(first);
      else
        static_cast<TIOChain3writeFile *>(Step)->setFrameFirst(first);
    };
    h.ShowMessage = [this](const QString &T) { Boxes << T; };
    return h;
  }
  // Runs Start and waits until its chain has ended.
  template <typename F> bool Run(F Start) {
    Messages.clear();
    Boxes.clear();
    Start();
    return WaitFor([&] { return !Gen.IsBusy(); }, 60000);
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
  TCustomWrite Build() {
    TCustomBuildEnv env;
    return BuildCustomLogic(P.State, env, Compiler, Errors, Params);
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

class CustomWriteCut : public ::testing::TestWithParam<TCutRun> {};

TEST_P(CustomWriteCut, AWriteCutAtAnyRequestNeverReportsSuccess) {
  QElapsedTimer watch;
  watch.start();
  QStringList runs;
  // Over loopback TCP a cut answers with an exception (every tenth time
  // silence), over the pseudo-terminal with a bad CRC (every other twentieth
  // request silence); every third cut spoils that one request only, the
  // others every later one too. A link may repeat a spoiled request: success
  // is then right only with the device's files equal to ours.
  const TCutRun run = GetParam();
  const bool tcp = run.Tcp;
  // A frame write is sent once; on a loaded machine an answer over the
  // pseudo-terminal now and then misses even a clean full write's time-out:
  // the full write's cuts there run on demand (KV_CUT_PTY=1), on a quiet machine.
  const bool ptyFull = qEnvironmentVariableIsSet("KV_CUT_PTY");
  if (!tcp && run.Half == 1 && !ptyFull)
    GTEST_SKIP() << "KV_CUT_PTY=1 cuts the full write over a pseudo-terminal";
  TSimLink link(tcp, tcp ? 500 : 1000);
  TPage page;
  LoadDevice(link.Device, page);
  page.P.Unit(page.P.State.CustomDoc, {0, page.P.Z->Id, 0}, {1, page.P.M->Id, 0}, 0, 2);
  ASSERT_EQ(page.Build(), TCustomWrite::Logic);
  const QString dir = page.Dir();
  const auto writeLogic = [&] { WriteLogic(link.Gen, dir, page.Params, link.Hooks(dir)); };
  const auto writeAll = [&] {
    WriteAll(link.Gen, page.P.State, QDate(2024, 3, 5), QDate(2026, 12, 5), page.Params, true, link.Hooks(dir));
  };
  const auto logicWritten = [&] {
    const QByteArray code = page.File("generated.bin");
    const QByteArray image = link.Device.FileBytes(129);
    return image.mid(CodeFirstFrame(image, code.size()) * 128, code.size()) == code &&
           SubFile(link.Device.FileBytes(140), 5) == page.File("custom-logic.xml");
  };
  const auto allWritten = [&] {
    return link.Device.FileBytes(140) == page.File("extflash.bin") && link.Device.FileBytes(129) == page.File("desc.bin");
  };
  const struct {
    const char *Name;
    std::function<void()> Write;
    std::function<bool()> Written;
    QStringList Order; // of a clean write
  } writes[] = {
      {"logic only", writeLogic, logicWritten,
       {"R140", "W140", "R140", "R129", "S240", "W129", "R129", "S241", "REG", "S255"}},
      {"full", writeAll, allWritten, {"S240", "W140", "R140", "W129", "R129", "S241", "REG", "S255"}}};
  for (const auto &w : writes) {
    if (run.Half == 1 && std::string(w.Name) == "logic only")
      continue; // the logic-only write is cut in the first half only
    if (!tcp && !ptyFull && std::string(w.Name) == "full")
      continue;
    SCOPED_TRACE(std::string(w.Name) + (tcp ? " over TCP" : " over a pseudo-terminal"));
    QElapsedTimer part;
    part.start();
    link.Device.ClearLogs();
    ASSERT_TRUE(link.Run(w.Write));
    ASSERT_EQ(link.Boxes, QStringList{"Готово"}) << link.Messages.join("|").toStdString();
    const std::vector<QByteArray> log = link.Device.RequestLog();
    const int requests = int(log.size());
    EXPECT_EQ(Requests(log), w.Order);
    EXPECT_EQ(link.Device.SpecialLog(), std::vector<uint8_t>({0xF0, 0xF1, 0xFF}));
    EXPECT_TRUE(w.Written());
    EXPECT_EQ(link.Device.Register(TSimArea::Holding, 151), 0x5678) << "the custom setpoint's second group";
    int cuts = 0;
    for (int k = 0; k < requests; ++k) {
      if (!IsCutPoint(log, k, run))
        continue;
      ++cuts;
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
      ASSERT_TRUE(link.Run(w.Write));
      link.Device.SetFault({});
      if (f.Count == 1 && link.Boxes == QStringList{"Готово"}) {
        EXPECT_TRUE(w.Written()); // the spoiled request repeated: a whole write, nothing to redo
        continue;
      }
      const std::vector<uint8_t> specials = link.Device.SpecialLog();
      EXPECT_TRUE(link.Boxes.isEmpty()) << link.Messages.join("|").toStdString();
      // A device may act on a request whose answer is lost: the cut 0xFF
      // itself is not "after the cut".
      if (f.Count < 0 && Requests({log[size_t(k)]}) != QStringList{"S255"})
        EXPECT_TRUE(std::find(specials.begin(), specials.end(), 0xFF) == specials.end());
      EXPECT_TRUE(link.Messages.filter(QRegularExpression("^(Ошибка|Нет ответа)")).size() > 0)
          << link.Messages.join("|").toStdString();
      if (std::find(specials.begin(), specials.end(), 0xF0) != specials.end())
        EXPECT_TRUE(WaitFor([&] {
          return link.Messages.last() == "Запись не завершена: логика прибора остановлена, повторите запись";
        })) << link.Messages.join("|").toStdString();
      ASSERT_TRUE(link.Run(w.Write));
      EXPECT_EQ(link.Boxes, QStringList{"Готово"}) << link.Messages.join("|").toStdString();
      EXPECT_TRUE(w.Written());
    }
    runs << QString("%1 over %2: %3 requests, %4 cuts, %5 ms")
                .arg(w.Name, tcp ? "TCP" : "pty")
                .arg(requests)
                .arg(cuts)
                .arg(part.elapsed());
  }
  std::printf("%s; total %lld ms\n", qPrintable(runs.join("; ")), watch.elapsed());
}

INSTANTIATE_TEST_SUITE_P(Links, CustomWriteCut,
                         ::testing::Values(TCutRun{true, 0}, TCutRun{false, 0}, TCutRun{false, 1}),
                         [](const ::testing::TestParamInfo<TCutRun> &I) {
                           return I.param.Tcp ? std::string("Tcp") : "PtyHalf" + std::to_string(I.param.Half);
                         });
