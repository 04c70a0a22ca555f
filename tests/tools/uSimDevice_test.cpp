#include "uErrors.h"
#include "uSimDevice.h"
#include "uSimFault.h"

#include <gtest/gtest.h>

namespace {

QByteArray Hex(const char *Text) { return QByteArray::fromHex(QByteArray(Text).replace(' ', "")); }
std::string ToHex(const QByteArray &Bytes) { return Bytes.toHex(' ').toUpper().toStdString(); }

TSimDevice &Prepared() {
  static TSimDevice device;
  device.SetRegisters(TSimArea::Holding, 10, {1, 2, 255});
  device.SetRegister(TSimArea::Holding, 65535, 0xBEEF);
  device.SetRegister(TSimArea::Sram, 10, 0x5353);
  device.SetRegister(TSimArea::Flash, 10, 0x5454);
  device.SetRegister(TSimArea::Area4, 10, 0x5555);
  device.SetFile(129, Hex("01 02 03 04 05 06"), 4);
  device.SetFile(140, Hex("11 22"), 4);
  return device;
}

struct TPduCase {
  const char *Name;
  const char *Request;
  const char *Answer;
};

} // namespace

TEST(SimDevice, AnswersEachRequestAsTheDeviceDoes) {
  const TPduCase cases[] = {
      {"holding read", "03 00 0A 00 03", "03 06 00 01 00 02 00 FF"},
      {"sram read", "53 00 0A 00 01", "53 02 53 53"},
      {"flash read", "54 00 0A 00 01", "54 02 54 54"},
      {"area 4 read", "55 00 0A 00 01", "55 02 55 55"},
      {"last register", "03 FF FF 00 01", "03 02 BE EF"},
      {"count zero", "03 00 00 00 00", "83 03"},
      {"count 128", "03 00 00 00 80", "83 03"},
      {"past the last register", "03 FF FF 00 02", "83 02"},
      {"read of wrong length", "03 00 00 00", "83 03"},
      {"poll", "07", "07 00"},
      {"special command", "1F F1 00", "1F F1 00"},
      {"unknown function", "10 00 00 00 01 02 00 07", "90 01"},
      {"file missing", "1C 05 00 00", "9C 02"},
      {"file frame", "1C 81 00 00", "1C 81 00 00 01 02 03 04"},
      {"file frame past the end: zeros", "1C 81 00 01", "1C 81 00 01 05 06 00 00"},
      {"last file frame", "1C 81 FF FF", "1C 81 FF FF 00 00 00 00"},
      {"clock of wrong length", "1D 00", "9D 03"},
      {"clock month 13", "1A 00 18 00 0D 00 01 00 00 00 00 00 00", "9A 03"},
      {"clock 30 February", "1A 00 18 00 02 00 1E 00 00 00 00 00 00", "9A 03"},
      {"clock year 100", "1A 00 64 00 01 00 01 00 00 00 00 00 00", "9A 03"},
      // Writes go to the area of their function, file frames at frame times frame size.
      {"holding write", "06 00 05 12 34", "06 00 05 12 34"},
      {"sram write", "56 00 05 56 78", "56 00 05 56 78"},
      {"holding written", "03 00 05 00 01", "03 02 12 34"},
      {"sram written", "53 00 05 00 01", "53 02 56 78"},
      {"flash untouched", "54 00 05 00 01", "54 02 00 00"},
      {"frame written past the end", "1B 8C 00 02 AA BB CC", "1B 8C 00 02"},
      {"first frame written", "1B 8C 00 00 01 02 03 04", "1B 8C 00 00"},
      {"first frame read", "1C 8C 00 00", "1C 8C 00 00 01 02 03 04"},
      {"gap read", "1C 8C 00 01", "1C 8C 00 01 00 00 00 00"},
      {"more than the frame buffer", "1B 8C 00 00 01 02 03 04 05", "9B 03"},
      {"frame write to a missing file", "1B 07 00 00 01", "9B 02"},
  };
  TSimDevice &device = Prepared();
  for (const TPduCase &c : cases)
    EXPECT_EQ(ToHex(device.Execute(Hex(c.Request))), ToHex(Hex(c.Answer))) << c.Name;
  EXPECT_EQ(ToHex(device.FileBytes(140)), "01 02 03 04 00 00 00 00 AA BB CC");
}

TEST(SimDevice, ReadsUpTo127RegistersInOneAnswer) {
  TSimDevice device;
  std::vector<uint16_t> values;
  for (int i = 0; i < 127; ++i)
    values.push_back(uint16_t(0x0100 + i));
  device.SetRegisters(TSimArea::Holding, 200, values);
  const QByteArray answer = device.Execute(Hex("03 00 C8 00 7F"));
  ASSERT_EQ(answer.size(), 2 + 254);
  EXPECT_EQ(uint8_t(answer[1]), 254);
  EXPECT_EQ(ToHex(answer.mid(2, 4)), "01 00 01 01");
  EXPECT_EQ(ToHex(answer.right(2)), "01 7E");
}

TEST(SimDevice, RefusesAFrameWritePastTheLargestFile) {
  TSimDevice device;
  device.SetFile(140, QByteArray(), TSimDevice::MaxFrameBytes);
  // Frame 4095 of 4096 bytes ends exactly at 16 MiB; frame 4096 would start past it.
  const QByteArray last = Hex("1B 8C 0F FF") + QByteArray(TSimDevice::MaxFrameBytes, 'x');
  EXPECT_EQ(ToHex(device.Execute(last)), "1B 8C 0F FF");
  EXPECT_EQ(device.FileBytes(140).size(), TSimDevice::MaxFileBytes);
  EXPECT_EQ(ToHex(device.Execute(Hex("1B 8C 10 00 01"))), "9B 02");
}

TEST(SimDevice, RefusesFilesItCannotServe) {
  TSimDevice device;
  EXPECT_THROW(device.SetFile(256, QByteArray(), 128), EKvRange);
  EXPECT_THROW(device.SetFile(1, QByteArray(), 0), EKvRange);
  EXPECT_THROW(device.SetFile(1, QByteArray(), TSimDevice::MaxFrameBytes + 1), EKvRange);
  EXPECT_THROW(device.SetRegisters(TSimArea::Holding, 65535, {1, 2}), EKvRange);
}

TEST(SimDevice, ClockTravelsAsSixWordsOfTwoDigitYear) {
  TSimDevice device;
  device.SetClock(QDateTime(QDate(2024, 2, 29), QTime(23, 59, 58)), false);
  EXPECT_EQ(ToHex(device.Execute(Hex("1D"))), "1D 00 18 00 02 00 1D 00 17 00 3B 00 3A");
  const QByteArray write = Hex("1A 00 07 00 0C 00 1F 00 01 00 02 00 03");
  EXPECT_EQ(ToHex(device.Execute(write)), ToHex(write));
  EXPECT_EQ(device.Clock(), QDateTime(QDate(2007, 12, 31), QTime(1, 2, 3), Qt::UTC));
}

TEST(SimDevice, RefusingSwitchKeepsHoldingWritesWithinTheirLimits) {
  TSimDevice device;
  device.SetRegister(TSimArea::Holding, 31, 5);
  device.SetWriteLimits({{31, {1, 247}}});
  const TPduCase cases[] = {
      {"below", "06 00 1F 00 00", "86 03"},
      {"lowest", "06 00 1F 00 01", "06 00 1F 00 01"},
      {"highest", "06 00 1F 00 F7", "06 00 1F 00 F7"},
      {"above", "06 00 1F 00 F8", "86 03"},
      {"a register without limits", "06 00 20 FF FF", "06 00 20 FF FF"},
      {"another area", "56 00 1F 01 00", "56 00 1F 01 00"},
  };
  for (const auto &c : cases)
    EXPECT_EQ(ToHex(device.Execute(Hex(c.Request))), ToHex(Hex(c.Answer))) << c.Name;
  EXPECT_EQ(device.Register(TSimArea::Holding, 31), 0xF7); // refused values are not stored
  device.SetWriteLimits({});
  EXPECT_EQ(ToHex(device.Execute(Hex("06 00 1F 00 00"))), "06 00 1F 00 00");
}
