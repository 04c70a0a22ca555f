#include "uDemoDevice.h"
#include "uSimDevice.h"

#include <QCryptographicHash>
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

TEST(DemoDevice, TheSecondTerminalIsAnotherRelayServedAtTheKeptAddress) {
  const QByteArray two = BuildDeviceImage(DemoTerminalContent(2)).Bytes;
  // The identity check compares the first frame; the logic is built against the listing.
  EXPECT_NE(BuildDeviceImage(DemoTerminalContent(1)).Bytes.left(DemoDevice::DescriptorFrameBytes),
            two.left(DemoDevice::DescriptorFrameBytes));
  EXPECT_NE(DesignIdentification(DemoTerminalContent(1)), DesignIdentification(DemoTerminalContent(2)));
  EXPECT_EQ(Le16(two, 48 + 2 * (DemoDevice::UstavReg2 + 1)), 0xFFFF) << "not in its register map";
  TSimDevice device;
  device.SetAddress(7);
  LoadDemoDevice(device, 2);
  EXPECT_EQ(device.Address(), 7);
  EXPECT_EQ(device.FileBytes(DemoDevice::DescriptorFileNo), two);
  EXPECT_EQ(device.Register(TSimArea::Holding, DemoDevice::UstavReg2Other + 1), 300);
}

// Unit 2 of the demo type is another relay of a line-up: the same
// descriptor and firmware, its own calibration values (where the calibration
// records point) and its own custom logic ("Блок Б-2").
TEST(DemoDevice, TheSecondUnitOfTheTypeDiffersOnlyInItsOwnDatumAndLogic) {
  TSimDevice one, two;
  LoadDemoDevice(one, 1, 1);
  LoadDemoDevice(two, 1, 2);
  EXPECT_EQ(one.FileBytes(DemoDevice::DescriptorFileNo), two.FileBytes(DemoDevice::DescriptorFileNo));
  EXPECT_EQ(SubFile(two.FileBytes(DemoDevice::FlashFileNo), 2), SubFile(one.FileBytes(DemoDevice::FlashFileNo), 2));
  const QByteArray logic = SubFile(two.FileBytes(DemoDevice::FlashFileNo), 5);
  EXPECT_EQ(logic, DemoCustomLogicXml(2));
  EXPECT_NE(logic, DemoCustomLogicXml(1));
  for (int i = 0; i < DemoDevice::CalibrRecords; ++i) {
    const uint16_t at = uint16_t(DemoDevice::CalibrValueSram + i);
    EXPECT_EQ(one.Register(TSimArea::Sram, at), 1000 + 7 * i) << i;
    EXPECT_EQ(two.Register(TSimArea::Sram, at), DemoCalibrationValue(2, i)) << i;
    EXPECT_NE(two.Register(TSimArea::Sram, at), one.Register(TSimArea::Sram, at)) << i;
  }
  for (int r = 0; r < 300; ++r)
    EXPECT_EQ(two.Register(TSimArea::Holding, r), one.Register(TSimArea::Holding, r)) << r;
}
