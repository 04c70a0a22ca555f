// Any bytes as an event journal file: byte 0 picks the layout (the demo
// device's descriptor, or one whose event section names a missing measure and
// a missing bit register), the rest is the ring. Records or an error, never a
// crash or a read outside a record.
#include "uDeviceContent.h"
#include "uErrors.h"
#include "uEventLogItem.h"
#include "uSimpleDeviceDescriptor.h"

#include <QBuffer>
#include <cstddef>
#include <cstdint>

namespace {

std::shared_ptr<TEventLayout> DemoLayout() {
  static TSimpleDeviceDescriptor desc;
  QByteArray image = BuildDeviceImage(DemoDeviceContent()).Bytes;
  QBuffer b(&image);
  b.open(QIODevice::ReadOnly);
  desc.LoadFromStream(b);
  auto layout = std::make_shared<TEventLayout>();
  layout->SetDescriptor(desc.Root, QStringLiteral("-"));
  return layout;
}

std::shared_ptr<TEventLayout> MendedLayout() {
  static IXXMLDocument doc = NewXMLDocument();
  doc->LoadXML(QStringLiteral(
      "<device-descriptor><measure><measure-item><ider>1</ider></measure-item></measure><param><input-output>"
      "<param-bitreg><record-type>17</record-type><string><ider>0</ider><value>a</value></string>"
      "<word-count>3</word-count></param-bitreg></input-output></param><event>"
      "<event-measure><measure-ider>5</measure-ider><word-count>1</word-count></event-measure>"
      "<event-measure><measure-ider>1</measure-ider><word-count>1</word-count></event-measure>"
      "<event-bitreg><bitreg-record-type>18</bitreg-record-type><word-count>2</word-count></event-bitreg>"
      "<event-bitreg><bitreg-record-type>17</bitreg-record-type><word-count>1</word-count></event-bitreg>"
      "<event-item><byte-code>4</byte-code><byte-level-mask>300</byte-level-mask></event-item>"
      "</event></device-descriptor>"));
  auto layout = std::make_shared<TEventLayout>();
  layout->SetDescriptor(doc->GetDocumentElement(), QStringLiteral("-"));
  return layout;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  static const std::shared_ptr<TEventLayout> layouts[] = {DemoLayout(), MendedLayout()};
  if (Size < 1)
    return 0;
  const auto &layout = layouts[Data[0] % 2];
  try {
    TEventLogItems items =
        DecodeEventRecords(QByteArray(reinterpret_cast<const char *>(Data + 1), qsizetype(Size - 1)), layout);
    OrderEventRing(items);
    for (const TEventLogItemPtr &i : items)
      i->MakeMeasureTexts(true);
  } catch (const EKvError &) {
  }
  return 0;
}
