// The conversion fed the way the program feeds it: a binary descriptor image
// written by the device-content library, decoded by the run-time descriptor,
// and a record generated for the same channels.
#include "uComtradeStream.h"

#include "uDeviceContent.h"
#include "uOscContent.h"
#include "uSimpleDeviceDescriptor.h"

#include <QBuffer>
#include <gtest/gtest.h>

#include <cmath>

TEST(ComtradeStream, ConvertsARecordDescribedByADecodedDeviceImage) {
  TDeviceContent Dc;
  for (int i = 0; i < 3; ++i) {
    TDcMeasure M;
    M.Reg = 10 + i;
    M.Sram = uint16_t(0x100 + 2 * i);
    M.MvsScale = 2; // divider 100
    M.Short = QString("U%1").arg(i);
    M.Full = QString::fromUtf8("Напряжение, фаза %1").arg(QChar('A' + i));
    Dc.Measures.push_back(M);
  }
  TDcBitGroup G;
  G.Type = 17;
  G.Reg = 100;
  G.Sram = 0x200;
  for (int b = 0; b < 17; ++b) {
    G.Short << QString("D%1").arg(b);
    G.Full << QString::fromUtf8("Вход %1").arg(b + 1);
  }
  G.Full[4] = "-reserve";
  Dc.BitGroups = {G};
  Dc.OscChannels = {{2}, {0}};
  Dc.OscBits = {{17, 0}};
  const TDeviceImage Image = BuildDeviceImage(Dc);

  TSimpleDeviceDescriptor D;
  QByteArray Bytes = Image.Bytes;
  QBuffer Buffer(&Bytes);
  ASSERT_TRUE(Buffer.open(QIODevice::ReadOnly));
  D.LoadFromStream(Buffer);
  ASSERT_TRUE(D.Ready);

  TOscRecordPlan Plan;
  Plan.SampleCount = 3600;
  Plan.Analog = {TOscWave{5000, 50, 0, 0}, TOscWave{2500, 50, 90, 0}};
  TOscBitRegister R{17, std::vector<TOscBit>(17)};
  R.Bits[4].Initial = true;     // excluded
  R.Bits[5].SwitchAt = {1800};  // first bit after the excluded one
  R.Bits[16].SwitchAt = {900};  // second word
  Plan.BitRegisters = {R};

  TComtradeStream S;
  S.LoadFromBytes(BuildOscRecord(Plan));
  S.SetDescriptor(D.Root);
  TComtradeConfig Config;
  S.FillConfig(Config, 0, 2000, 45000.0, 45000.0, 1.0, QLatin1Char('-'), false);
  TComtradeData Data;
  Data.SetConfig(&Config);
  S.FillData(Data, true, QLatin1Char('-'));

  ASSERT_EQ(Config.AnalogCount(), 2);
  EXPECT_EQ(Config.AnalogChannel(0).Id, QString::fromUtf8("Напряжение фаза C"));
  EXPECT_EQ(Config.AnalogChannel(1).Id, QString::fromUtf8("Напряжение фаза A"));
  EXPECT_DOUBLE_EQ(Config.AnalogChannel(0).A, 0.01);
  ASSERT_EQ(Config.DigitalCount(), 16);
  EXPECT_EQ(Config.DigitalChannel(4).Id, QString::fromUtf8("Вход 6"));
  EXPECT_EQ(Config.DigitalChannel(4).Dn, 5);
  EXPECT_EQ(Config.Rate(0).LastSample, 3599);
  EXPECT_NEAR(Data.GetFirstHarmonic(0, 0, 35), 50 / std::sqrt(2.0), 0.25);
  EXPECT_NEAR(Data.GetFirstHarmonic(1, 1800, 1835), 25 / std::sqrt(2.0), 0.125);
  EXPECT_EQ(Data.GetDigitalValue(4, 1799), 0);
  EXPECT_EQ(Data.GetDigitalValue(4, 1800), 1);
  EXPECT_EQ(Data.GetDigitalValue(15, 899), 0);
  EXPECT_EQ(Data.GetDigitalValue(15, 900), 1);
  EXPECT_EQ(Data.GetDigitalValue(3, 0), 0);
}
