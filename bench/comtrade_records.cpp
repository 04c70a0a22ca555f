#include "comtrade_records.h"

#include "uComtrade.h"
#include "uComtradeStream.h"
#include "uOscContent.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <cstdio>

namespace {

IXXMLNode Descriptor() {
  QString X = "<device-descriptor><measure>";
  for (int i = 0; i < BenchAnalogCount; ++i)
    X += QString("<measure-item><string>Channel %1</string><ider>%1</ider><mvs-div>100</mvs-div>"
                 "<ccvalue>%2</ccvalue></measure-item>")
             .arg(i)
             .arg(i % 4 == 0 ? 350 : 0);
  X += "</measure><param><input-output><param-bitreg><record-type>17</record-type>";
  for (int b = 0; b < BenchBitCount; ++b)
    X += QString("<string><ider>%1</ider><value>Input %1</value></string>").arg(b + 1);
  X += "</param-bitreg></input-output></param><osc>";
  for (int i = 0; i < BenchAnalogCount; ++i)
    X += QString("<osc-measure><measure-ider>%1</measure-ider></osc-measure>").arg(i);
  X += "<osc-bitreg><bitreg-record-type>17</bitreg-record-type></osc-bitreg></osc></device-descriptor>";
  static IXXMLDocument Doc = NewXMLDocument();
  Doc->LoadXML(X);
  return Doc->GetDocumentElement();
}

} // namespace

void MakeBenchPair(const QString &Base, int Seconds) {
  TOscRecordPlan Plan;
  Plan.SampleCount = Seconds * 1800;
  for (int i = 0; i < BenchAnalogCount; ++i)
    Plan.Analog.push_back(TOscWave{1000.0 + 500 * i, 50, 120.0 * (i % 3), double(i % 5)});
  TOscBitRegister R{BenchBitCount, std::vector<TOscBit>(BenchBitCount)};
  for (int b = 0; b < BenchBitCount; ++b)
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


long StatusKb(const char *Key) {
  QFile F("/proc/self/status");
  if (!F.open(QIODevice::ReadOnly))
    return -1;
  for (const QByteArray &Line : F.readAll().split('\n'))
    if (Line.startsWith(Key))
      return Line.mid(qstrlen(Key)).trimmed().split(' ').first().toLong();
  return -1;
}
