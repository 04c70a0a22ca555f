// Load time and peak memory of COMTRADE pairs as the conversion of device
// records writes them: 32 analog channels and one 16-bit register of discrete
// channels at 1800 samples per second, 10 seconds and 10 minutes long.
//
//   comtrade_bench [folder]          builds the records, converts, saves, then
//                                    loads each pair in a fresh process
//   comtrade_bench load <file.cfg>   (internal) loads one pair and reports
#include "uComtrade.h"
#include "uComtradeStream.h"
#include "uOscContent.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int AnalogCount = 32;
constexpr int BitCount = 16;

// Resident set figures of this process from /proc, in kB.
long StatusKb(const char *Key) {
  QFile F("/proc/self/status");
  if (!F.open(QIODevice::ReadOnly))
    return -1;
  for (const QByteArray &Line : F.readAll().split('\n'))
    if (Line.startsWith(Key))
      return Line.mid(qstrlen(Key)).trimmed().split(' ').first().toLong();
  return -1;
}

IXXMLNode Descriptor() {
  QString X = "<device-descriptor><measure>";
  for (int i = 0; i < AnalogCount; ++i)
    X += QString("<measure-item><string>Channel %1</string><ider>%1</ider><mvs-div>100</mvs-div>"
                 "<ccvalue>%2</ccvalue></measure-item>")
             .arg(i)
             .arg(i % 4 == 0 ? 350 : 0);
  X += "</measure><param><input-output><param-bitreg><record-type>17</record-type>";
  for (int b = 0; b < BitCount; ++b)
    X += QString("<string><ider>%1</ider><value>Input %1</value></string>").arg(b + 1);
  X += "</param-bitreg></input-output></param><osc>";
  for (int i = 0; i < AnalogCount; ++i)
    X += QString("<osc-measure><measure-ider>%1</measure-ider></osc-measure>").arg(i);
  X += "<osc-bitreg><bitreg-record-type>17</bitreg-record-type></osc-bitreg></osc></device-descriptor>";
  static IXXMLDocument Doc = NewXMLDocument();
  Doc->LoadXML(X);
  return Doc->GetDocumentElement();
}

void Make(const QString &Base, int Seconds) {
  TOscRecordPlan Plan;
  Plan.SampleCount = Seconds * 1800;
  for (int i = 0; i < AnalogCount; ++i)
    Plan.Analog.push_back(TOscWave{1000.0 + 500 * i, 50, 120.0 * (i % 3), double(i % 5)});
  TOscBitRegister R{BitCount, std::vector<TOscBit>(BitCount)};
  for (int b = 0; b < BitCount; ++b)
    R.Bits[b].SwitchAt = {900 * (b + 1), 1800 * (b + 2)};
  Plan.BitRegisters = {R};
  const QByteArray Record = BuildOscRecord(Plan);

  TComtradeConfig Config;
  TComtradeData Data;
  QElapsedTimer T;
  T.start();
  TComtradeStream S;
  S.LoadFromBytes(Record);
  S.SetDescriptor(Descriptor());
  S.FillConfig(Config, 0, Seconds * 1000, 45000.0, 45000.0 + 0.1 / 86400, 1.0, QLatin1Char('-'), false);
  Data.SetConfig(&Config);
  S.FillData(Data, false, QLatin1Char('-'));
  const qint64 ConvertMs = T.elapsed();
  T.restart();
  Config.SaveToFile(Base + ".cfg");
  Data.SaveToFile(Base + ".dat");
  const qint64 SaveMs = T.elapsed();
  std::printf("%-8s record %8.1f MB  convert %6lld ms  save %6lld ms  .dat %7.1f MB\n",
              qPrintable(QFileInfo(Base).fileName()), Record.size() / 1048576.0, ConvertMs, SaveMs,
              QFileInfo(Base + ".dat").size() / 1048576.0);
}

int Load(const QString &Cfg) {
  const long Before = StatusKb("VmRSS:");
  QElapsedTimer T;
  T.start();
  TComtradeConfig Config;
  QString Warning;
  Config.LoadFromFile(Cfg, Warning);
  TComtradeData Data;
  Data.LoadFromFile(QFileInfo(Cfg).path() + "/" + QFileInfo(Cfg).completeBaseName() + ".dat", &Config);
  const qint64 Ms = T.elapsed();
  const long Peak = StatusKb("VmHWM:");
  double Check = 0;
  for (int c = 0; c < Config.AnalogCount(); ++c)
    Check += Data.GetFirstHarmonic(c, 0, 35);
  // The samples' own size: raw analog words, digital bytes, numbers and stamps.
  const double SampleMb = double(Data.SampleCount()) *
                          (4.0 * Config.AnalogCount() + Config.DigitalCount() + 8.0) / 1048576.0;
  // The peer: counting the same file's lines with wc -l, the least any reader does.
  QElapsedTimer W;
  W.start();
  QProcess Wc;
  Wc.start("wc", {"-l", QFileInfo(Cfg).path() + "/" + QFileInfo(Cfg).completeBaseName() + ".dat"});
  Wc.waitForFinished(-1);
  const qint64 WcMs = std::max<qint64>(W.elapsed(), 1);
  std::printf("%-8s load %6lld ms  wc -l %5lld ms  ratio %5.1f (target 5)  samples %8d  %7.1f MB of samples, "
              "peak RSS %7.1f MB (%.1f MB before loading), %.2f of the samples (target 1.2)  [%g]\n",
              qPrintable(QFileInfo(Cfg).completeBaseName()), Ms, WcMs, double(Ms) / WcMs, Data.SampleCount(),
              SampleMb, Peak / 1024.0, Before / 1024.0, (Peak - Before) / 1024.0 / SampleMb, Check);
  return 0;
}

} // namespace

int main(int argc, char **argv) {
  QCoreApplication App(argc, argv);
  const QStringList Args = App.arguments();
  try {
    if (Args.size() == 3 && Args[1] == "load")
      return Load(Args[2]);
    QTemporaryDir Temp;
    const QString Folder = Args.size() > 1 ? Args[1] : Temp.path();
    QDir().mkpath(Folder);
    const std::pair<const char *, int> Cases[] = {{"10s", 10}, {"10min", 600}};
    for (const auto &[Name, Seconds] : Cases)
      Make(Folder + "/" + Name, Seconds);
    std::fflush(stdout);
    for (const auto &[Name, Seconds] : Cases) {
      QProcess P;
      P.setProcessChannelMode(QProcess::ForwardedChannels);
      P.start(App.applicationFilePath(), {"load", Folder + "/" + Name + ".cfg"});
      P.waitForFinished(-1);
    }
  } catch (const std::exception &E) {
    std::fprintf(stderr, "%s\n", E.what());
    return 1;
  }
  return 0;
}
