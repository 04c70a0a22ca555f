#include "uComtradeStream.h"

#include "uErrors.h"
#include "uLogger.h"
#include "uModbus.h"
#include "uOscContent.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>
#include <optional>

namespace {

struct TMeasureDesc {
  TMeasureDesc(int AIder, const QString &AName, std::optional<int> AMult = {},
               std::optional<int> ADiv = {}, std::optional<int> APReg = {},
               std::optional<int> ASReg = {}, std::optional<int> ACcValue = {})
      : Ider(AIder), Name(AName), Mult(AMult), Div(ADiv), PReg(APReg), SReg(ASReg), CcValue(ACcValue) {}
  int Ider;
  QString Name;
  std::optional<int> Mult, Div, PReg, SReg, CcValue;
};

struct TBitRegDesc {
  int Type = 17;
  QStringList Names;
};

// A run-time descriptor with the measures and bit registers given; the osc
// section records OscMeasures (measure iders) and OscBitRegs (record types).
IXXMLNode Descriptor(const std::vector<TMeasureDesc> &Measures, const std::vector<TBitRegDesc> &BitRegs,
                     const std::vector<int> &OscMeasures, const std::vector<int> &OscBitRegs) {
  QString X = "<device-descriptor><measure>";
  auto Opt = [](const char *Tag, const std::optional<int> &V) {
    return V ? QString("<%1>%2</%1>").arg(Tag).arg(*V) : QString();
  };
  for (const TMeasureDesc &M : Measures)
    X += QString("<measure-item><record-type>1</record-type>%1%2<short-string>x</short-string>"
                 "<string>%3</string><ider>%4</ider><word-count>1</word-count><mreg>%5</mreg>%6%7%8"
                 "</measure-item>")
             .arg(Opt("mvp-mult", M.Mult), Opt("mvs-div", M.Div), M.Name.toHtmlEscaped())
             .arg(M.Ider)
             .arg(10 + M.Ider)
             .arg(Opt("mvp-mreg", M.PReg), Opt("mvs-mreg", M.SReg), Opt("ccvalue", M.CcValue));
  X += "</measure><param><input-output>";
  for (const TBitRegDesc &B : BitRegs) {
    X += QString("<param-bitreg><caption>Входы</caption><record-type>%1</record-type>").arg(B.Type);
    for (int i = 0; i < B.Names.size(); ++i)
      X += B.Names[i].isNull() ? QString("<string><ider>%1</ider></string>").arg(i + 1)
                               : QString("<string><ider>%1</ider><value>%2</value></string>")
                                     .arg(i + 1)
                                     .arg(B.Names[i].toHtmlEscaped());
    X += "<word-count>1</word-count><mreg>100</mreg></param-bitreg>";
  }
  X += "</input-output></param><osc>";
  for (int Ider : OscMeasures)
    X += QString("<osc-measure><record-type>81</record-type><measure-ider>%1</measure-ider>"
                 "<word-count>1</word-count></osc-measure>")
             .arg(Ider);
  for (int Type : OscBitRegs)
    X += QString("<osc-bitreg><record-type>82</record-type><bitreg-record-type>%1</bitreg-record-type>"
                 "<word-count>1</word-count></osc-bitreg>")
             .arg(Type);
  X += "</osc></device-descriptor>";
  IXXMLDocument Doc = NewXMLDocument();
  EXPECT_TRUE(Doc->LoadXML(X)) << Doc->GetParseError().toStdString();
  return Doc->GetDocumentElement();
}

const TDateTime First = EncodeDateTime(2024, 3, 15, 10, 20, 29, 500);
const TDateTime Trigger = EncodeDateTime(2024, 3, 15, 10, 20, 30, 0);

// Converts Record with the descriptor: DurationMs of samples planned.
struct TConverted {
  TComtradeConfig Config;
  TComtradeData Data;
};

void Convert(TConverted &Out, const IXXMLNode &Root, const QByteArray &Record, int DurationMs,
             const TModbus *Image = nullptr, bool Primary = false, double Factor = 1.0) {
  TComtradeStream S;
  S.LoadFromBytes(Record);
  S.SetDescriptor(Root);
  S.SetRegisterImage(Image);
  S.FillConfig(Out.Config, 0, DurationMs, First, Trigger, Factor, QLatin1Char('-'), Primary);
  Out.Data.SetConfig(&Out.Config);
  S.FillData(Out.Data, false, QLatin1Char('-'));
}

QString ConvertError(const IXXMLNode &Root) {
  TConverted C;
  try {
    Convert(C, Root, QByteArray(100, 0), 10);
  } catch (const EKvError &E) {
    return E.Text();
  }
  return QString("converted, %1 channels").arg(C.Config.TotalCount());
}

} // namespace

TEST(ComtradeStream, ReadsAnalogRowsAndDiscreteWordsByHand) {
  // Two analog channels, one register of 3 bits, one block: rows carry
  // (s, -s) little-endian, the discrete word 0x0005 is big-endian.
  QByteArray Record;
  for (int s = 0; s < 18; ++s) {
    const int16_t A = int16_t(s * 257), B = int16_t(-s);
    Record.append(char(A & 0xFF)).append(char((A >> 8) & 0xFF));
    Record.append(char(B & 0xFF)).append(char((B >> 8) & 0xFF));
  }
  Record.append('\x00').append('\x05');
  const IXXMLNode Root = Descriptor({{0, "Ia"}, {1, "Ib"}}, {{17, {"K1", "K2", "K3"}}}, {0, 1}, {17});
  TConverted C;
  Convert(C, Root, Record, 10);
  ASSERT_EQ(C.Config.AnalogCount(), 2);
  ASSERT_EQ(C.Config.DigitalCount(), 3);
  EXPECT_EQ(C.Config.Rate(0).Samples, 1800.0);
  EXPECT_EQ(C.Config.Rate(0).LastSample, 17);
  const TComtradeData &D = C.Data;
  EXPECT_EQ((std::vector<int>{D.GetRaw(0, 17), D.GetRaw(1, 17), C.Config.AnalogChannel(0).Min,
                              C.Config.AnalogChannel(0).Max, C.Config.AnalogChannel(1).Min}),
            (std::vector<int>{17 * 257, -17, 0, 17 * 257, -17}));
  for (int s : {0, 17})
    EXPECT_EQ((std::vector<int>{D.GetDigitalValue(0, s), D.GetDigitalValue(1, s), D.GetDigitalValue(2, s)}),
              (std::vector<int>{1, 0, 1}));
  // Time stamps in microseconds at 1800 samples per second.
  EXPECT_EQ((std::vector<int>{D.GetTimeStamp(0), D.GetTimeStamp(1), D.GetTimeStamp(9), D.GetSampleNumber(17)}),
            (std::vector<int>{0, 556, 5000, 18})); // numbered from 1
  EXPECT_EQ(C.Config.FirstTime(), First);
  EXPECT_EQ(C.Config.TriggerTime(), Trigger);
  EXPECT_EQ(C.Config.StationName(), "StationName");
  EXPECT_EQ(C.Config.RecDevId(), "StationId");
}

TEST(ComtradeStream, ScalesToPrimaryOrSecondaryValues) {
  TModbus Image;
  Image.SetWord(200, 1000); // primary
  Image.SetWord(201, 100);  // secondary
  Image.SetWord(202, 0);    // a secondary that reads 0
  const IXXMLNode Root = Descriptor(
      {{0, "U", 1000, 10, 200, 201}, {1, "I", 1, 100, std::nullopt, 201}, {2, "N"}, {3, "Z", 1, 0},
       {4, "S", 1, 1, 200, 202}},
      {}, {0, 1, 2, 3, 4}, {});
  const std::tuple<bool, double, std::vector<double>> Cases[] = {
      // (1 / div) × P / S × mult × factor
      {true, 1.0, {0.1 * 10 * 1000, 0.01 * (1.0 / 100), 1.0, 1.0, 1000.0}},
      {true, 2.0, {2 * 0.1 * 10 * 1000, 2 * 0.01 * (1.0 / 100), 2.0, 2.0, 2000.0}},
      // (1 / div) × factor
      {false, 1.0, {0.1, 0.01, 1.0, 1.0, 1.0}},
      {false, 0.5, {0.05, 0.005, 0.5, 0.5, 0.5}},
  };
  for (const auto &[Primary, Factor, A] : Cases) {
    TConverted C;
    Convert(C, Root, QByteArray(), 10, &Image, Primary, Factor);
    for (int i = 0; i < 5; ++i)
      EXPECT_DOUBLE_EQ(C.Config.AnalogChannel(i).A, A[i]) << Primary << " " << Factor << " " << i;
  }
  const QStringList Log = Logger().Lines();
  EXPECT_TRUE(Log.filter("oscillogram channel 3 \"Z\": mvs-div 0 taken as 1").size() > 0);
  EXPECT_TRUE(Log.filter("oscillogram channel 4 \"S\": secondary value 0 taken as 1").size() > 0);
}

TEST(ComtradeStream, CalibrationAnglesBecomeSampleShifts) {
  const IXXMLNode Root = Descriptor({{0, "A", 1, 1, {}, {}, 350}, {1, "B", 1, 1, {}, {}, 400},
                                     {2, "C", 1, 1, {}, {}, 180}, {3, "D", 1, 1, {}, {}, 190},
                                     {4, "E", 1, 1, {}, {}, 360}, {5, "F"}},
                                    {}, {0, 1, 2, 3, 4, 5}, {});
  TConverted C;
  // Channel A carries 0, 10, 20, ...: shifted forward by one sample.
  QByteArray Record;
  for (int s = 0; s < 36; ++s)
    for (int c = 0; c < 6; ++c) {
      const int16_t V = int16_t(c == 0 ? 10 * s : 0);
      Record.append(char(V & 0xFF)).append(char(V >> 8));
    }
  Convert(C, Root, Record, 20);
  const double Expected[] = {1.0, 0.0, -18.0, 17.0, 0.0, 0.0};
  for (int i = 0; i < 6; ++i)
    EXPECT_EQ(C.Config.AnalogChannel(i).CalibrationShift, Expected[i]) << i;
  EXPECT_EQ((std::vector<int>{C.Data.GetRaw(0, 0), C.Data.GetRaw(0, 33)}), (std::vector<int>{10, 340}));
  // What the shift cannot compute is written missing and read back as a gap:
  // the last two samples of A, the first 18 of C, the last 18 of D (an exact
  // sample still needs the one after it).
  TComtradeData Back;
  Back.LoadFromBytes(C.Data.ToBytes(), QStringLiteral("x.dat"), &C.Config);
  const struct {
    int Channel, Sample;
    bool Missing;
  } Samples[] = {{0, 33, false}, {0, 34, true}, {0, 35, true}, {2, 0, true},  {2, 17, true}, {2, 18, false},
                 {3, 17, false}, {3, 18, true}, {3, 35, true}, {1, 0, false}, {1, 35, false}};
  for (const auto &S : Samples) {
    EXPECT_EQ(Back.IsMissing(S.Channel, S.Sample), S.Missing) << S.Channel << " " << S.Sample;
    EXPECT_EQ(std::isnan(Back.GetAnalogValue(S.Channel, S.Sample)), S.Missing) << S.Channel << " " << S.Sample;
  }
}

TEST(ComtradeStream, ExcludedBitsKeepTheirSlotAndTwoWordsHoldSeventeenBits) {
  // Register 17 of 17 bits: bit 1 is excluded, bit 2 has no name, bit 16 lies
  // in the second word. Register 18 of 2 bits starts on a word of its own.
  QStringList Names;
  for (int i = 0; i < 17; ++i)
    Names << QString("In %1").arg(i + 1);
  Names[1] = "-spare";
  Names[2] = QString();
  Names[5] = "a,b";
  const IXXMLNode Root = Descriptor({}, {{17, Names}, {18, {"R1", "R2"}}}, {}, {17, 18});
  TOscRecordPlan Plan;
  Plan.SampleCount = 54;
  TOscBitRegister R17{17, std::vector<TOscBit>(17)}, R18{2, std::vector<TOscBit>(2)};
  R17.Bits[1].Initial = true;      // excluded, must not leak into a neighbour
  R17.Bits[3].SwitchAt = {18, 36}; // on in block 1 only
  R17.Bits[16].Initial = true;     // second word
  R18.Bits[1].SwitchAt = {36};     // on in block 2
  Plan.BitRegisters = {R17, R18};
  TConverted C;
  Convert(C, Root, BuildOscRecord(Plan), 30);

  // The unnamed bit takes the default name "DC <number>", which does not begin
  // with "-": only "-spare" is excluded.
  ASSERT_EQ(C.Config.DigitalCount(), 16 + 2);
  QStringList Ids;
  for (int i = 0; i < C.Config.DigitalCount(); ++i) {
    EXPECT_EQ(C.Config.DigitalChannel(i).Dn, i + 1);
    Ids << C.Config.DigitalChannel(i).Id;
  }
  EXPECT_EQ(QStringList({Ids[0], Ids[1], Ids[2], Ids[4], Ids[15], Ids[16], Ids[17]}),
            QStringList({"In 1", "DC 1", "In 4", "ab", "In 17", "R1", "R2"}));
  for (int b = 0; b < 3; ++b) {
    const TComtradeData &D = C.Data;
    const int s = 18 * b;
    EXPECT_EQ((std::vector<int>{D.GetDigitalValue(0, s), D.GetDigitalValue(1, s), D.GetDigitalValue(2, s),
                                D.GetDigitalValue(15, s), D.GetDigitalValue(16, s), D.GetDigitalValue(17, s)}),
              (std::vector<int>{0, 0, b == 1, 1, 0, b == 2}))
        << s;
  }
}

TEST(ComtradeStream, ExcludeFlagsPadEachRegisterToWholeWords) {
  const IXXMLNode Root = Descriptor({}, {{17, {"a", "-b", "c"}}, {19, {"-x"}}}, {}, {17, 19});
  TComtradeStream S;
  S.SetDescriptor(Root);
  TComtradeConfig Config;
  S.FillConfig(Config, 0, 10, First, Trigger, 1.0, QLatin1Char('-'), false);
  std::vector<uint8_t> Expected(32, 1);
  Expected[0] = 0;
  Expected[2] = 0;
  EXPECT_EQ(S.ExcludeFlags(), Expected);
  EXPECT_EQ(Config.DigitalCount(), 2);
  // Another exclusion character keeps the "-" bits.
  S.FillConfig(Config, 0, 10, First, Trigger, 1.0, QLatin1Char('#'), false);
  EXPECT_EQ(Config.DigitalCount(), 4);
}

TEST(ComtradeStream, ShortRecordEndsAtTheLastSampleRead) {
  // Planned 100 ms (180 samples); the record holds 2 blocks, 5 rows of a
  // third and half a row.
  TOscRecordPlan Plan;
  Plan.SampleCount = 41;
  Plan.Analog = {TOscWave{0, 0, 0, 7}, TOscWave{0, 0, 0, -7}};
  TOscBitRegister R{1, {TOscBit{true, {}}}};
  Plan.BitRegisters = {R};
  QByteArray Record = BuildOscRecord(Plan);
  Record.chop(2); // the last row loses its second value
  const IXXMLNode Root = Descriptor({{0, "A"}, {1, "B"}}, {{17, {"K"}}}, {0, 1}, {17});
  TConverted C;
  Convert(C, Root, Record, 100);
  EXPECT_EQ(C.Config.Rate(0).LastSample, 39);
  EXPECT_EQ(C.Data.SampleCount(), 40);
  EXPECT_EQ(C.Data.GetRaw(1, 39), -7);
  EXPECT_EQ(C.Data.GetRaw(0, 40), 0);
  EXPECT_EQ(C.Data.GetDigitalValue(0, 35), 1);
  // The partial block's rows have no discrete words.
  EXPECT_EQ(C.Data.GetDigitalValue(0, 36), 0);
}

TEST(ComtradeStream, LongRecordStopsAtThePlannedLength) {
  TOscRecordPlan Plan;
  Plan.SampleCount = 90;
  Plan.Analog = {TOscWave{0, 0, 0, 3}};
  Plan.BitRegisters = {TOscBitRegister{1, {TOscBit{true, {}}}}};
  const IXXMLNode Root = Descriptor({{0, "A"}}, {{17, {"K"}}}, {0}, {17});
  for (const auto &[DurationMs, Last] : {std::pair{20, 35}, std::pair{15, 26}}) {
    TConverted C;
    Convert(C, Root, BuildOscRecord(Plan), DurationMs);
    EXPECT_EQ(C.Config.Rate(0).LastSample, Last);
    EXPECT_EQ(C.Data.SampleCount(), Last + 1);
    // Samples of a block cut by the planned length keep the block's bits.
    EXPECT_EQ(C.Data.GetDigitalValue(0, Last), 1) << DurationMs;
    EXPECT_EQ(C.Data.GetRaw(0, Last), 3);
  }
}

TEST(ComtradeStream, RefusesDescriptorsItCannotFollow) {
  struct TCase {
    IXXMLNode Root;
    const char *Error;
  };
  std::vector<TBitRegDesc> TooMany;
  std::vector<TMeasureDesc> Many;
  std::vector<int> ManyIders;
  for (int i = 0; i < 101; ++i) {
    Many.push_back({i, QString("M%1").arg(i)});
    ManyIders.push_back(i);
  }
  const TCase Cases[] = {
      {Descriptor({{0, "A"}}, {}, {7}, {}), "invalid measure-ider 7"},
      {Descriptor({{0, "A"}}, {}, {65535}, {}), "invalid measure-ider 65535"},
      {Descriptor({{0, "A"}}, {{17, {"K"}}}, {0}, {19}), "no bitreg found for record-type 19"},
      {Descriptor(Many, {}, ManyIders, {}), "too many analog channels (at most 100)"},
      // Without an osc section there are no channels, and nothing to refuse.
      {Descriptor({{0, "A"}}, {{17, {"K"}}}, {}, {}), "converted, 0 channels"},
  };
  for (const TCase &K : Cases)
    EXPECT_EQ(ConvertError(K.Root), QString::fromUtf8(K.Error));

  TComtradeStream S;
  TComtradeConfig Config;
  EXPECT_THROW(S.FillConfig(Config, 0, 10, First, Trigger, 1.0, QLatin1Char('-'), false), EKvAssert);
}

TEST(ComtradeStream, KnownSinesGiveTheirRmsAndFundamental) {
  // Three phases of a 10-second record, 50 Hz, with raw amplitudes 1000, 2000
  // and 3000 scaled by 1/100.
  TOscRecordPlan Plan;
  Plan.SampleCount = 18000;
  Plan.Analog = {TOscWave{1000, 50, 0, 0}, TOscWave{2000, 50, -120, 0}, TOscWave{3000, 50, 120, 40}};
  const IXXMLNode Root = Descriptor({{0, "Ua", 1, 100}, {1, "Ub", 1, 100}, {2, "Uc", 1, 100}}, {}, {0, 1, 2}, {});
  TConverted C;
  Convert(C, Root, BuildOscRecord(Plan), 10000);
  ASSERT_EQ(C.Data.SampleCount(), 18000);
  const double Peak[] = {10.0, 20.0, 30.0};
  for (int c = 0; c < 3; ++c) {
    const double Expected = Peak[c] / std::sqrt(2.0);
    // One period, a later period, and the whole record.
    EXPECT_NEAR(C.Data.GetFirstHarmonic(c, 0, 35), Expected, Expected * 0.005) << c;
    EXPECT_NEAR(C.Data.GetFirstHarmonic(c, 9000, 9035), Expected, Expected * 0.005) << c;
    EXPECT_NEAR(C.Data.GetFirstHarmonic(c, 0, 17999), Expected, Expected * 0.005) << c;
    if (c < 2) {
      EXPECT_NEAR(C.Data.GetRms(c, 0, 17999), Expected, Expected * 0.005) << c;
    }
  }
  // The offset of channel c shows in its RMS but not in its fundamental.
  EXPECT_NEAR(C.Data.GetRms(2, 0, 17999), std::sqrt(0.4 * 0.4 + 450.0), 0.01);
  EXPECT_EQ(C.Config.AnalogChannel(2).Offset, -4000.0);
}


TEST(ComtradeStream, AStandardReaderFindsWhatTheConversionWrote) {
  if (!QFile::exists("/usr/bin/python3"))
    GTEST_SKIP() << "no python3";
  TOscRecordPlan Plan;
  Plan.SampleCount = 900;
  Plan.Analog = {TOscWave{12000, 50, 30, 0}, TOscWave{-500, 150, 0, 5}};
  Plan.BitRegisters = {TOscBitRegister{2, {TOscBit{false, {100}}, TOscBit{true, {}}}}};
  TModbus Image;
  Image.SetWord(20, 1000);
  Image.SetWord(21, 5);
  const IXXMLNode Root = Descriptor({{0, "Ток, фаза A", 1, 1000, 20, 21}, {1, "U0", 1, 10}},
                                    {{17, {"Пуск", "Откл"}}}, {0, 1}, {17});
  TConverted C;
  Convert(C, Root, BuildOscRecord(Plan), 500, &Image, true);
  QTemporaryDir Dir;
  C.Config.SaveToFile(Dir.filePath("r.cfg"));
  C.Data.SaveToFile(Dir.filePath("r.dat"));
  QProcess P;
  P.start("/usr/bin/python3", {KV_SOURCE_DIR "/tests/src/osc/comtradeReader.py", Dir.filePath("r.cfg"),
                               Dir.filePath("r.dat")});
  ASSERT_TRUE(P.waitForFinished(60000));
  ASSERT_EQ(P.exitCode(), 0) << P.readAllStandardError().toStdString();
  const QJsonObject J = QJsonDocument::fromJson(P.readAllStandardOutput()).object();

  const int N = C.Data.SampleCount();
  ASSERT_EQ(N, 900);
  EXPECT_EQ(J["names"].toVariant().toStringList(), (QStringList{QString::fromUtf8("Ток фаза A"), "U0"}));
  EXPECT_EQ(J["units"].toVariant().toStringList(), (QStringList{"", ""}));
  EXPECT_EQ(J["ps"].toVariant().toStringList(), (QStringList{"P", "P"}));
  EXPECT_EQ(J["digital"].toVariant().toStringList(), (QStringList{QString::fromUtf8("Пуск"), QString::fromUtf8("Откл")}));
  EXPECT_EQ(J["rate"].toDouble(), 1800.0);
  EXPECT_EQ(J["count"].toInt(), N);
  EXPECT_EQ(J["start"].toString(), "2024-03-15T10:20:29.500000");
  EXPECT_EQ(J["trigger"].toString(), "2024-03-15T10:20:30");
  EXPECT_EQ(J["first_us"].toDouble(), 0.0);
  EXPECT_EQ(J["last_us"].toDouble(), std::round((N - 1) * 1e6 / 1800));
  const QJsonArray Values = J["values"].toArray();
  const int Samples[] = {0, N / 2, N - 1};
  for (int k = 0; k < 3; ++k)
    for (int c = 0; c < 2; ++c)
      EXPECT_NEAR(Values[k].toArray()[c].toDouble(), C.Data.GetAnalogValue(c, Samples[k]),
                  1e-9 * std::abs(C.Data.GetAnalogValue(c, Samples[k])) + 1e-12)
          << k << " " << c;
}
