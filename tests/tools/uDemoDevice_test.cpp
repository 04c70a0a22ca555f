#include "uDemoDevice.h"

#include "uErrors.h"
#include "uFiles.h"
#include "uSimDevice.h"
#include "uSimpleDeviceDescriptor.h"

#include <QCryptographicHash>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {
uint16_t Le16(const QByteArray &B, int Offset) { return uint16_t(uint8_t(B[Offset]) | uint8_t(B[Offset + 1]) << 8); }
uint32_t Le32(const QByteArray &B, int Offset) {
  return uint32_t(Le16(B, Offset)) | uint32_t(Le16(B, Offset + 2)) << 16;
}

// The payload of sub-file K, checked against its length and digest.
QByteArray SubFile(const QByteArray &Image, int K) {
  const int at = Le16(Image, 2 + 2 * K) * 2048;
  const uint32_t n = Le32(Image, at);
  const QByteArray z = Image.mid(at + 20, int(n));
  EXPECT_EQ(Image.mid(at + 4, 16), QCryptographicHash::hash(z, QCryptographicHash::Md5)) << "sub-file " << K;
  QByteArray withLength(4, '\0'); // qUncompress wants the length high byte first
  const uint32_t big = 1u << 20;
  withLength[0] = char(big >> 24), withLength[1] = char(big >> 16), withLength[2] = char(big >> 8);
  return qUncompress(withLength + z);
}
} // namespace

TEST(DemoDevice, SubFilesInflateToTheirSources) {
  const QByteArray img = DemoExtFlashImage();
  EXPECT_EQ(SubFile(img, 5), DemoCustomLogicXml());
  EXPECT_EQ(SubFile(img, 4), DemoInitialCustomLogicXml());
  EXPECT_EQ(SubFile(img, 2), DesignIdentification(DemoTerminalContent()));
}

TEST(DemoDevice, DescriptorDecodesWithTypeAndPasswordParameters) {
  QTemporaryDir dir;
  TSimDevice device;
  LoadDemoDevice(device);
  const QString bin = dir.filePath("d.bin");
  SaveFileBytes(bin, device.FileBytes(DemoDevice::DescriptorFileNo));
  TSimpleDeviceDescriptor desc;
  desc.LoadFromBinFile(bin);
  ASSERT_TRUE(desc.Ready);
  const IXXMLNode pw = desc.Root->SelectSingleNode("param/param-char[byte-passwd-char!=0]");
  ASSERT_TRUE(pw);
  EXPECT_EQ(pw->GetIntNode("mreg"), DemoDevice::PasswdReg);
  EXPECT_EQ(pw->GetIntNode("word-count"), DemoDevice::PasswdWords);
  EXPECT_EQ(desc.Root->SelectNodes("measure/measure-item")->GetCount(), 11);
  EXPECT_EQ(desc.Root->SelectNodes("ustav/group-mreg")->GetCount(), 2);
  EXPECT_EQ(desc.Root->GetIntNodeDef("measure/measure-item[ider=0]/mreg", -1), DemoDevice::MeasureReg);
  EXPECT_EQ(desc.Root->GetIntNodeDef("measure/measure-item[ider=0]/mvp-mreg", -1), DemoDevice::PrimaryCtReg);
  EXPECT_EQ(desc.Root->GetIntNodeDef("measure/measure-item[ider=0]/mvs-mreg", -1), DemoDevice::SecondaryCtReg);
  EXPECT_EQ(desc.CalibrAddr, 0x1F00);
}

TEST(DemoDevice, MeasurementsMoveAndStayPlausible) {
  TSimDevice device;
  LoadDemoDevice(device);
  const uint16_t ia0 = device.Register(TSimArea::Holding, DemoDevice::MeasureReg);
  bool moved = false;
  for (int tick = 1; tick < 50; ++tick) {
    UpdateDemoValues(device, tick);
    const uint16_t ia = device.Register(TSimArea::Holding, DemoDevice::MeasureReg);
    moved |= ia != ia0;
    EXPECT_GT(ia, 2800);
    EXPECT_LT(ia, 3600);
    const uint16_t f = device.Register(TSimArea::Holding, DemoDevice::MeasureReg + 8);
    EXPECT_GE(f, 4990);
    EXPECT_LE(f, 5010);
  }
  EXPECT_TRUE(moved);
}

TEST(DemoDevice, CalibrationTableSitsBehindThePointer) {
  TSimDevice device;
  LoadDemoDevice(device);
  EXPECT_EQ(device.Register(TSimArea::Flash, 0x1F00), DemoDevice::CalibrPtr);
  EXPECT_EQ(device.Register(TSimArea::Flash, DemoDevice::CalibrPtr), DemoDevice::CalibrRecords);
  // The last word of record 0 is the SRAM of its value.
  EXPECT_EQ(device.Register(TSimArea::Flash, DemoDevice::CalibrPtr + 4), DemoDevice::CalibrValueSram);
  EXPECT_EQ(device.Register(TSimArea::Sram, DemoDevice::CalibrValueSram), 1000);
}
