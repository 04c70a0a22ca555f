#include "uOscHeadFrame.h"

#include "uSimpleDeviceDescriptor.h"

#include <QBuffer>
#include <gtest/gtest.h>

namespace {
void Feed(const char *Hex, const std::function<void(QIODevice &)> &Load) {
  QByteArray bytes = QByteArray::fromHex(Hex);
  QBuffer b(&bytes);
  b.open(QIODevice::ReadOnly);
  Load(b);
}
} // namespace

TEST(OscHeadFrame, UpdateCcValuesPutsTheCalibrationValueOfEachAddress) {
  TOscHeadFrame none; // without a descriptor nothing happens
  none.UpdateCcValues();
  TSimpleDeviceDescriptor d;
  d.Document = NewXMLDocument();
  ASSERT_TRUE(d.Document->LoadXML("<device-descriptor><measure>"
                                  "<measure-item><ider>1</ider><modbus-sram>256</modbus-sram></measure-item>"
                                  "<measure-item><ider>2</ider><modbus-sram>512</modbus-sram></measure-item>"
                                  "<measure-item><ider>3</ider></measure-item>"
                                  "<measure-item><ider>4</ider><modbus-sram>768</modbus-sram>"
                                  "<ccvalue>9</ccvalue></measure-item>"
                                  "</measure></device-descriptor>"));
  d.Root = d.Document->GetDocumentElement();
  // Two 16-byte records; of each 4-byte field the second little-endian word:
  // mdir 0x0100 / cang 0x000A, mdir 0x0300 / cang 0x000B.
  Feed("00000001000000000000000000000a00"
       "00000003000000000000000000000b00",
       [&](QIODevice &S) { d.LoadCalibration(S); });
  // (key, value) pairs: 0x000A -> 1234, 0x000B -> 77.
  Feed("0a00d2040b004d00", [&](QIODevice &S) { d.LoadCalibrationValues(S); });

  TOscHeadFrame frame;
  frame.SetDescriptor(&d);
  frame.UpdateCcValues();
  auto item = [&](int Ider) { return d.Root->SelectSingleNode(QString("measure/measure-item[ider=%1]").arg(Ider)); };
  EXPECT_EQ(item(1)->GetStrNode("ccvalue"), "1234");
  EXPECT_EQ(item(2)->GetStrNode("ccvalue"), "0"); // its address has no record
  EXPECT_EQ(item(3)->SelectSingleNode("ccvalue"), nullptr);
  EXPECT_EQ(item(4)->GetStrNode("ccvalue"), "77"); // replaced, not added
  EXPECT_EQ(item(4)->SelectNodes("ccvalue")->GetCount(), 1);
}
