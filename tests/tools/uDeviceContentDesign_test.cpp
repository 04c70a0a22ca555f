// The design-time side of the device content against the program: the demo
// terminal's descriptor XML and identifier listing, given addresses and built
// by the program's image builder, decode as the simulator's own file 129.
#include "uDemoDevice.h"
#include "uDeviceContent.h"

#include "crc.h"
#include "uCharMap.h"
#include "uDescriptorDecoder.h"
#include "uDeviceDescriptor.h"
#include "uFiles.h"

#include <QBuffer>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// The run-time XML of an image without the build dates.
QString Decoded(const QByteArray &Image) {
  const IXXMLDocument doc = NewXMLDocument();
  doc->LoadXML("<device-descriptor/>");
  TDescriptorDecoder(doc->GetDocumentElement(), nullptr).Decode(Image);
  for (const char *date : {"internal/core-date", "internal/desc-date"})
    doc->GetDocumentElement()->SelectSingleNode(date)->Remove();
  return doc->GetDocumentElement()->GetXml();
}

} // namespace

TEST(DeviceContentDesign, DemoBuiltByTheProgramDecodesAsTheSimulatorsImage) {
  QTemporaryDir dir;
  const TDeviceContent content = DemoTerminalContent();
  const QString ident = dir.filePath("identification.inc"), xml = dir.filePath("descriptor.xml");
  SaveFileBytes(ident, DesignIdentification(content));
  SaveFileBytes(xml, DesignDescriptorXml(content));
  SetCharMap(BuiltInCharMap());
  ResetModbusIderList();
  EnsureModbusIderList(ident);

  TDeviceDescriptor d;
  d.LoadFromFile(xml);
  EXPECT_EQ(d.FErrors, QStringList());
  d.Validate();
  d.GenerateAddresses(dir.path());
  EXPECT_EQ(d.FErrors, QStringList());
  d.CopyCharMap(CharMapToDevice);
  d.FWorkFolder = dir.path();
  QByteArray image;
  QBuffer b(&image);
  b.open(QIODevice::ReadWrite);
  b.write(QByteArray(2, '\0'));
  EXPECT_EQ(FileCrc32(ident), content.IdentCrc);
  d.BuildBin(b, content.Code, uint16_t(content.Code.size()), PackBcdDate(2024, 5, 14), PackBcdDate(2025, 1, 1),
             FileCrc32(ident));
  ResetModbusIderList();

  const QByteArray simulated = BuildDeviceImage(content).Bytes;
  const QString ours = Decoded(image), theirs = Decoded(simulated);
  qsizetype at = 0;
  while (at < ours.size() && at < theirs.size() && ours[at] == theirs[at])
    ++at;
  EXPECT_EQ(ours.mid(std::max<qsizetype>(0, at - 150), 300).toStdString(),
            theirs.mid(std::max<qsizetype>(0, at - 150), 300).toStdString());
  // Byte for byte from the measures to the oscillogram channels (the areas the decoder reads).
  const int from = 2116, to = ((simulated[4 + 2 * 12] & 0xFF) | (simulated[5 + 2 * 12] & 0xFF) << 8) - content.BaseAddr;
  EXPECT_GT(to, 3000);
  EXPECT_TRUE(image.mid(from, to - from) == simulated.mid(from, to - from));
  // The program's image also carries the menu: its date item is written into the header.
  EXPECT_NE(image.mid(2110, 2), QByteArray("\xFF\xFF", 2));
}
