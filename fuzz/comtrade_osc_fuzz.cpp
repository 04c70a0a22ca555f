// Any bytes as a device oscillogram record of two analog channels and a
// 20-bit register: a COMTRADE pair or an error, never a crash.
#include "uComtradeStream.h"
#include "uErrors.h"

#include <cstddef>
#include <cstdint>

namespace {
IXXMLNode Root() {
  static IXXMLDocument Doc = [] {
    IXXMLDocument D = NewXMLDocument();
    QString X = "<device-descriptor><measure>"
                "<measure-item><string>A</string><ider>0</ider><mvs-div>10</mvs-div><ccvalue>350</ccvalue></measure-item>"
                "<measure-item><string>B</string><ider>1</ider><ccvalue>185</ccvalue></measure-item>"
                "</measure><param><input-output><param-bitreg><record-type>17</record-type>";
    for (int b = 0; b < 20; ++b)
      X += QString("<string><ider>%1</ider><value>%2</value></string>").arg(b + 1).arg(b % 3 ? "x" : "-y");
    X += "</param-bitreg></input-output></param><osc>"
         "<osc-measure><measure-ider>0</measure-ider></osc-measure>"
         "<osc-measure><measure-ider>1</measure-ider></osc-measure>"
         "<osc-bitreg><bitreg-record-type>17</bitreg-record-type></osc-bitreg></osc></device-descriptor>";
    D->LoadXML(X);
    return D;
  }();
  return Doc->GetDocumentElement();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  if (Size < 1)
    return 0;
  try {
    TComtradeStream S;
    // The first byte plans the length: 10 ms steps up to 2.55 s.
    S.LoadFromBytes(QByteArray(reinterpret_cast<const char *>(Data + 1), qsizetype(Size - 1)));
    S.SetDescriptor(Root());
    TComtradeConfig Config;
    S.FillConfig(Config, 0, 10 * Data[0], 45000.0, 45000.0, 1.0, QLatin1Char('-'), false);
    TComtradeData D;
    D.SetConfig(&Config);
    S.FillData(D, true, QLatin1Char('-'));
    (void)Config.ToBytes();
    (void)D.ToBytes();
  } catch (const EKvError &) {
  }
  return 0;
}
