#include "uComtrade.h"

#include "uErrors.h"
#include "uTextCodec.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>

namespace {

QByteArray Cp1251(const char *Utf8) { return ToWin1251(QString::fromUtf8(Utf8)); }

void WriteFile(const QString &Path, const QByteArray &Bytes) {
  QFile F(Path);
  ASSERT_TRUE(F.open(QIODevice::WriteOnly | QIODevice::Truncate));
  ASSERT_EQ(F.write(Bytes), Bytes.size());
}

QByteArray ReadFile(const QString &Path) {
  QFile F(Path);
  EXPECT_TRUE(F.open(QIODevice::ReadOnly));
  return F.readAll();
}

// Two analog channels and one digital, 18000 samples, as the conversion makes them.
void FillSample(TComtradeConfig &C) {
  TComtradeConfigTool T;
  T.SetConfig(&C);
  TComtradeAnalogChannel A;
  A.An = 0, A.Id = "Ia", A.Unit = "A", A.A = 0.01, A.Min = -100, A.Max = 200;
  T.AddAnalogChannel(A);
  A = {};
  A.An = 1, A.Id = "Ub", A.Unit = "V", A.A = 2.5, A.Min = -5, A.Max = 5;
  T.AddAnalogChannel(A);
  TComtradeDigitalChannel D;
  D.Dn = 0, D.Id = QString::fromUtf8("Пуск");
  T.AddDigitalChannel(D);
  T.SetRateCount(1);
  T.SetRateSamples(0, 1800);
  T.SetRateEndSample(0, 17999);
  T.SetFirstTime(EncodeDateTime(2024, 3, 15, 10, 20, 30, 123));
  T.SetTriggerTime(EncodeDateTime(2024, 3, 15, 10, 20, 30, 223));
}

QString LoadError(const QByteArray &Text) {
  TComtradeConfig C;
  QString Warning;
  try {
    C.LoadFromBytes(Text, "x.cfg", Warning);
  } catch (const EKvFormat &E) {
    return E.Text();
  }
  return "loaded";
}

// A valid 1991 file with one analog and one digital channel; Replace swaps one line.
QByteArray Cfg1991(int Line = -1, const char *Text = nullptr) {
  QList<QByteArray> L = {"Station,Dev", "2,1A,1D", "0,Ia,,,A,0.5,0,0,-10,10", "0,Start,0", "50",
                         "1", "1800,35", "24/03/15,10:20:30.000", "24/03/15,10:20:30.100", "ASCII"};
  if (Line >= 0)
    L[Line] = Cp1251(Text);
  return L.join("\r\n") + "\r\n";
}

} // namespace

TEST(ComtradeConfig, WritesTheOldLayoutWithZeroOffsetsAndShortDates) {
  TComtradeConfig C;
  FillSample(C);
  C.AnalogChannel(0).B = -7; // an offset never reaches the file
  const QByteArray Expected = Cp1251("StationName,StationId\r\n"
                                     "3,2A,1D\r\n"
                                     "0,Ia,,,A,0.01,0,0,-100,200\r\n"
                                     "1,Ub,,,V,2.5,0,0,-5,5\r\n"
                                     "0,Пуск,0\r\n"
                                     "50\r\n"
                                     "1\r\n"
                                     "1800,17999\r\n"
                                     "24/03/15,10:20:30.123\r\n"
                                     "24/03/15,10:20:30.223\r\n"
                                     "ASCII\r\n");
  EXPECT_EQ(C.ToBytes(), Expected);
  EXPECT_EQ(C.GetTriggerOffsetMs(), 100);
}

TEST(ComtradeConfig, RoundTripKeepsChannelsRatesAndTimes) {
  QTemporaryDir Dir;
  TComtradeConfig C;
  FillSample(C);
  C.AnalogChannel(1).A = 1.0 / 3.0;
  C.AnalogChannel(1).Skew = 1.5e-6;
  C.SaveToFile(Dir.filePath("a.cfg"));

  TComtradeConfig R;
  QString Warning;
  R.LoadFromFile(Dir.filePath("a.cfg"), Warning);
  EXPECT_TRUE(Warning.isEmpty());
  EXPECT_EQ(R.FileName(), Dir.filePath("a.cfg"));
  EXPECT_EQ(R.RevYear(), 1991);
  ASSERT_EQ(R.AnalogCount(), 2);
  ASSERT_EQ(R.DigitalCount(), 1);
  EXPECT_EQ(R.TotalCount(), 3);
  for (int i = 0; i < 2; ++i) {
    TComtradeAnalogChannel A, B;
    C.GetAnalogChannel(i, A);
    R.GetAnalogChannel(i, B);
    EXPECT_EQ(B.An, A.An);
    EXPECT_EQ(B.Id, A.Id);
    EXPECT_EQ(B.Unit, A.Unit);
    EXPECT_EQ(B.A, A.A);
    EXPECT_EQ(B.B, 0.0);
    EXPECT_EQ(B.Skew, A.Skew);
    EXPECT_EQ(B.Min, A.Min);
    EXPECT_EQ(B.Max, A.Max);
  }
  EXPECT_EQ(R.DigitalChannel(0).Id, QString::fromUtf8("Пуск"));
  EXPECT_EQ(R.RateCount(), 1);
  EXPECT_EQ(R.Rate(0).Samples, 1800.0);
  EXPECT_EQ(R.Rate(0).LastSample, 17999);
  EXPECT_EQ(R.SampleCount(), 18000);
  EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz", R.FirstTime()), "2024-03-15 10:20:30.123");
  EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz", R.TriggerTime()), "2024-03-15 10:20:30.223");
  EXPECT_EQ(R.GetTriggerOffsetMs(), 100);
  EXPECT_EQ(R.FileType(), "ASCII");
  // Saving what was read gives the same bytes.
  EXPECT_EQ(R.ToBytes(), ReadFile(Dir.filePath("a.cfg")));
}

TEST(ComtradeConfig, RefusesMalformedFilesWithTheirMessages) {
  struct TCase {
    int Line;
    const char *Text;
    const char *Error;
  };
  const TCase Cases[] = {
      {1, "12,8A,3D", "недопустимое количество каналов (line 2)"},
      {1, "2,1X,1D", "недопустимая метка (line 2)"},
      {1, "2,1A,1", "недопустимая метка (line 2)"},
      {1, "2,1A,", "недопустимая метка (line 2)"},
      {1, "1,-1A,2D", "недопустимое количество каналов (line 2)"},
      {1, "101,101A,0D", "too many analog channels: 101 (at most 100) (line 2)"},
      {1, "101,0A,101D", "too many digital channels: 101 (at most 100) (line 2)"},
      {2, "0,Ia,,,A,0.5x,0,0,-10,10", "'0.5x' is not a valid floating point value (line 3)"},
      {2, "0,Ia,,,A,nan,0,0,-10,10", "'nan' is not a valid floating point value (line 3)"},
      {2, "0,Ia,,,A,0.5,0,0,-10,1.5", "'1.5' is not a valid integer value (line 3)"},
      {3, "0,Start,2", "недопустимое логическое (line 4)"},
      {4, "0", "invalid lf 0 (line 5)"},
      {4, "", "invalid lf 0 (line 5)"},
      {5, "0", "invalid nrates (line 6)"},
      {5, "101", "invalid nrates 101 (line 6)"},
      {6, "0,35", "invalid samp 0 (line 7)"},
      {7, "24/13/15,10:20:30.000", "'24/13/15,10:20:30.000' is not a valid date and time (line 8)"},
      {8, "24-03-15,10:20:30", "'24-03-15,10:20:30' is not a valid date and time (line 9)"},
      {8, "24/03/15,25:00:00", "'24/03/15,25:00:00' is not a valid date and time (line 9)"},
      {9, "BINARY", "unsupported binary data file (line 10)"},
      {9, "FLOAT32", "недопустимый формат данных FLOAT32 (line 10)"},
  };
  for (const TCase &C : Cases)
    EXPECT_EQ(LoadError(Cfg1991(C.Line, C.Text)), QString::fromUtf8(C.Error)) << C.Text;
}

TEST(ComtradeConfig, RunningOutOfLinesNamesTheMissingLine) {
  const QByteArray Full = Cfg1991();
  const QList<QByteArray> Lines = Full.split('\n');
  // Cut after each line in turn: every cut short of the type line is refused.
  for (int Keep = 0; Keep < 10; ++Keep) {
    QByteArray Text;
    for (int i = 0; i < Keep; ++i)
      Text += Lines[i] + "\n";
    EXPECT_EQ(LoadError(Text), QString::fromUtf8("недопустимый индекс (line %1)").arg(Keep + 1));
  }
  EXPECT_EQ(LoadError(Full), "loaded");
}

TEST(ComtradeConfig, ARefusedFileLeavesTheModelAsItWas) {
  TComtradeConfig C;
  FillSample(C);
  QString Warning;
  EXPECT_THROW(C.LoadFromBytes(Cfg1991(9, "BINARY"), "x.cfg", Warning), EKvFormat);
  EXPECT_EQ(C.AnalogCount(), 2);
  EXPECT_EQ(C.StationName(), "StationName");
}

TEST(ComtradeConfig, LineOneWithOnlyAStationNameReadsAs1991) {
  TComtradeConfig C;
  QString Warning;
  C.LoadFromBytes(Cfg1991(0, "Подстанция"), "x.cfg", Warning);
  EXPECT_EQ(C.StationName(), QString::fromUtf8("Подстанция"));
  EXPECT_EQ(C.RecDevId(), "");
  EXPECT_EQ(C.RevYear(), 1991);
  EXPECT_EQ(FormatDateTime("yyyy-mm-dd", C.FirstTime()), "2024-03-15");
}

TEST(ComtradeConfig, UndecodableDeviceIdGivesAWarningAndAnEmptyId) {
  TComtradeConfig C;
  QString Warning;
  QList<QByteArray> L = Cfg1991().split('\n');
  L[0] = "Station,Dev\x98\r";
  C.LoadFromBytes(L.join('\n'), "x.cfg", Warning);
  EXPECT_EQ(Warning, "invalid Station Id");
  EXPECT_EQ(C.RecDevId(), "");
}

TEST(ComtradeConfig, ReadsLaterRevisionLayout) {
  // 1999: day-first dates with microseconds, the normal state in the fifth
  // field, no rate given (the next line still holds one), a real sample rate,
  // LF line ends and the time-factor line after the type.
  const QByteArray Text = "Station,Dev,1999\n"
                          "2,1A,1D\n"
                          "1,Ia,a,,A,0.5,0,0,-10,10,1,1,P\n"
                          "1,Start,,,1\n"
                          "60\n"
                          "0\n"
                          "1200.5,35\n"
                          "15/03/2024,10:20:30.123456\n"
                          "15/03/2024,10:20:31.9\n"
                          "ascii\n"
                          "1\n";
  TComtradeConfig C;
  QString Warning;
  C.LoadFromBytes(Text, "x.cfg", Warning);
  EXPECT_EQ(C.RevYear(), 1999);
  EXPECT_TRUE(C.NoRate());
  EXPECT_EQ(C.RateCount(), 1);
  EXPECT_EQ(C.Rate(0).Samples, 1200.5);
  EXPECT_EQ(C.Rate(0).LastSample, 35);
  EXPECT_TRUE(C.DigitalChannel(0).Y);
  EXPECT_EQ(C.AnalogChannel(0).Phase, "a");
  EXPECT_EQ(C.LineFrequency(), 60.0);
  EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz", C.FirstTime()), "2024-03-15 10:20:30.123");
  EXPECT_EQ(C.GetTriggerOffsetMs(), 1777);
  EXPECT_EQ(C.FileType(), "ASCII");
}

TEST(ComtradeConfig, SaveCopyAsWritesOemOrAnsiBytes) {
  QTemporaryDir Dir;
  // The file as some other writer left it: "ANSI" type and a Cyrillic station.
  QList<QByteArray> L = Cfg1991(0, "ПС Юг,Dev").split('\n');
  L[9] = "ANSI";
  WriteFile(Dir.filePath("src.cfg"), L.join('\n'));
  TComtradeConfig C;
  QString Warning;
  C.LoadFromFile(Dir.filePath("src.cfg"), Warning);

  C.SaveCopyAs(Dir.filePath("oem.cfg"), "OEM");
  EXPECT_EQ(C.FileName(), Dir.filePath("oem.cfg"));
  const QByteArray Oem = ReadFile(Dir.filePath("oem.cfg"));
  EXPECT_TRUE(Oem.startsWith("\x8F\x91 \x9E\xA3,Dev\r\n")) << Oem.toHex().toStdString();
  EXPECT_TRUE(Oem.endsWith("\r\nASCII\r\n"));

  C.SaveToFile(Dir.filePath("mine.cfg"));
  C.SaveCopyAs(Dir.filePath("ansi.cfg"), "ANSI");
  const QByteArray Ansi = ReadFile(Dir.filePath("ansi.cfg"));
  EXPECT_TRUE(Ansi.startsWith("\xCF\xD1 \xDE\xE3,Dev\r\n")) << Ansi.toHex().toStdString();
  EXPECT_EQ(Ansi, ReadFile(Dir.filePath("mine.cfg")));
}

TEST(ComtradeConfig, SavingNeedsANameAndFiniteFactors) {
  TComtradeConfig C;
  FillSample(C);
  try {
    C.SaveToFile("");
    FAIL();
  } catch (const EKvError &E) {
    EXPECT_EQ(E.Text(), "no filename");
  }
  EXPECT_THROW(C.SaveCopyAs("", "OEM"), EKvError);
  C.AnalogChannel(1).A = std::numeric_limits<double>::infinity();
  QTemporaryDir Dir;
  EXPECT_THROW(C.SaveToFile(Dir.filePath("inf.cfg")), EKvError);
  EXPECT_FALSE(QFile::exists(Dir.filePath("inf.cfg")));
}

TEST(ComtradeConfig, ChannelAndRateIndexesStopAt99) {
  TComtradeConfig C;
  TComtradeAnalogChannel A;
  TComtradeDigitalChannel D;
  TComtradeRate R;
  EXPECT_NO_THROW(C.GetAnalogChannel(99, A));
  EXPECT_THROW(C.GetAnalogChannel(100, A), EKvRange);
  EXPECT_THROW(C.GetDigitalChannel(100, D), EKvRange);
  EXPECT_THROW(C.GetRate(-1, R), EKvRange);
  TComtradeConfigTool T;
  T.SetConfig(&C);
  for (int i = 0; i < ComtradeMaxChannels; ++i)
    T.AddDigitalChannel(D);
  EXPECT_THROW(T.AddDigitalChannel(D), EKvRange);
  EXPECT_EQ(C.DigitalCount(), 100);
}

// ---------------------------------------------------------------------------

namespace {

// A configuration of A analog channels (factor Factor) and D digital ones
// holding N samples at 1800 per second.
void MakeConfig(TComtradeConfig &C, int A, int D, int N, double Factor = 1.0) {
  TComtradeConfigTool T;
  T.SetConfig(&C);
  for (int i = 0; i < A; ++i) {
    TComtradeAnalogChannel Ch;
    Ch.An = i;
    Ch.A = Factor;
    T.AddAnalogChannel(Ch);
  }
  for (int i = 0; i < D; ++i) {
    TComtradeDigitalChannel Ch;
    Ch.Dn = i;
    T.AddDigitalChannel(Ch);
  }
  T.SetRateCount(1);
  T.SetRateSamples(0, 1800);
  T.SetRateEndSample(0, N - 1);
}

QString DataError(const QByteArray &Dat, int A = 2, int D = 1, int N = 3) {
  QTemporaryDir Dir;
  WriteFile(Dir.filePath("x.dat"), Dat);
  TComtradeConfig C;
  MakeConfig(C, A, D, N);
  TComtradeData Data;
  try {
    Data.LoadFromFile(Dir.filePath("x.dat"), &C);
  } catch (const EKvError &E) {
    return E.Text();
  }
  return "loaded";
}

} // namespace

TEST(ComtradeData, ReadsRawAnalogAndDigitalValues) {
  QTemporaryDir Dir;
  WriteFile(Dir.filePath("x.dat"), "0,0,-12,7,1\r\n1,556, 3,-0,0\r\n");
  TComtradeConfig C;
  MakeConfig(C, 2, 1, 4, 0.5);
  TComtradeData D;
  D.LoadFromFile(Dir.filePath("x.dat"), &C);
  EXPECT_EQ(D.SampleCount(), 4);
  EXPECT_EQ(D.GetRaw(0, 0), -12);
  EXPECT_EQ(D.GetRaw(1, 0), 7);
  EXPECT_EQ(D.GetDigitalValue(0, 0), 1);
  EXPECT_EQ(D.GetAnalogValue(0, 0), -6.0);
  EXPECT_EQ(D.GetTimeStamp(1), 556);
  EXPECT_EQ(D.GetSampleNumber(1), 1);
  EXPECT_EQ(D.GetRaw(0, 1), 3);
  // Samples without a line stay 0, and indexes outside the data read 0.
  EXPECT_EQ(D.GetRaw(0, 3), 0);
  EXPECT_EQ(D.GetRaw(2, 0), 0);
  EXPECT_EQ(D.GetRaw(0, 4), 0);
  EXPECT_EQ(D.GetAnalogValue(0, -1), 0.0);
  EXPECT_EQ(D.GetDigitalValue(1, 0), 0);
  EXPECT_EQ(D.GetTimeStamp(4), 0);
}

TEST(ComtradeData, LineBreaksOfEveryKindAndEmptyLinesKeepSamplesInPlace) {
  // Line s is sample s: an empty line leaves its sample at 0; lines past the
  // configured count are ignored.
  QTemporaryDir Dir;
  WriteFile(Dir.filePath("x.dat"), "0,0,1,1,1\n\r1,1,2,2,0\r2,2,3,3,1\r\n3,3,9,9,1");
  TComtradeConfig C;
  MakeConfig(C, 2, 1, 4);
  TComtradeData D;
  D.LoadFromFile(Dir.filePath("x.dat"), &C);
  EXPECT_EQ(D.GetRaw(0, 0), 1);
  EXPECT_EQ(D.GetRaw(0, 1), 0);
  EXPECT_EQ(D.GetRaw(0, 2), 2);
  EXPECT_EQ(D.GetRaw(0, 3), 3);
  EXPECT_EQ(D.GetDigitalValue(0, 3), 1);
}

TEST(ComtradeData, RefusesMalformedLinesNamingTheLine) {
  struct TCase {
    const char *Dat;
    const char *Error;
  };
  const TCase Cases[] = {
      {"0,0,1x,7,1", "invalid number \"1x\" (line 1)"},
      {"0,0,1,7,1\n1,0,1.5,7,1", "invalid number \"1.5\" (line 2)"},
      {"0,0,-,7,1", "invalid number \"-\" (line 1)"},
      {"0,0,1 2,7,1", "invalid number \"1 2\" (line 1)"},
      {"0,0,2147483648,7,1", "invalid number \"2147483648\" (line 1)"},
      {"0,0,99999999999999999999,7,1", "invalid number \"99999999999999999999\" (line 1)"},
      {"0,0,1,7", "too few values (line 1)"},
      {"0,0,1,7,2", "invalid digital value 2 (line 1)"},
      // Edge values and blanks are fine.
      {"0,0,-2147483648, 2147483647 ,1,extra,fields", "loaded"},
      {"0,0,,7,", "loaded"},
  };
  for (const TCase &C : Cases)
    EXPECT_EQ(DataError(C.Dat), QString::fromUtf8(C.Error)) << C.Dat;
}

TEST(ComtradeData, NeedsExactlyOneRate) {
  QTemporaryDir Dir;
  WriteFile(Dir.filePath("x.dat"), "0,0,1\n");
  TComtradeConfig C;
  MakeConfig(C, 1, 0, 1);
  TComtradeConfigTool T;
  T.SetConfig(&C);
  T.SetRateCount(2);
  TComtradeData D;
  try {
    D.LoadFromFile(Dir.filePath("x.dat"), &C);
    FAIL();
  } catch (const EKvAssert &E) {
    EXPECT_EQ(E.Text(), "FComtradeConfig.FRateCount=1");
  }
}

TEST(ComtradeData, AnImpossibleSampleCountIsRefusedBeforeAllocating) {
  EXPECT_EQ(DataError("0,0,1,1,1", 100, 0, 2000000000), "too many samples: 2000000000");
}

TEST(ComtradeData, SaveAndLoadGiveTheSameBytesAcrossReadChunks) {
  // More than one 4 MiB read, with a CR LF split exactly between two reads.
  constexpr int A = 8, N = 80000;
  TComtradeConfig C;
  MakeConfig(C, A, 2, N, 0.25);
  TComtradeData D;
  D.SetConfig(&C);
  TComtradeDataTool T;
  T.SetData(&D);
  for (int s = 0; s < N; ++s) {
    T.AddSampleNumber(s);
    T.AddTimeStamp(int(std::lround(s * 1e6 / 1800)));
    for (int c = 0; c < A; ++c)
      T.AddRaw(int(std::lround(30000 * std::sin(s * 0.1 + c))) - (c == 0 ? 3 : 0));
    T.AddDigital(s / 100 % 2);
    T.AddDigital(s % 7 == 0);
  }
  QByteArray Bytes = D.ToBytes();
  ASSERT_GT(Bytes.size(), 4 << 20);
  // Pad the first line with blanks so that its line ends straddle byte 4 MiB
  // of another line: the CR is the last byte of the first read.
  const qsizetype Cr = Bytes.indexOf('\r', (4 << 20) - 200);
  const qsizetype Pad = (4 << 20) - 1 - Cr;
  ASSERT_GE(Pad, 0);
  QByteArray Padded = Bytes;
  Padded.insert(Padded.indexOf(',') + 1, QByteArray(Pad, ' '));
  ASSERT_EQ(Padded.at((4 << 20) - 1), '\r');
  ASSERT_EQ(Padded.at(4 << 20), '\n');

  QTemporaryDir Dir;
  WriteFile(Dir.filePath("p.dat"), Padded);
  TComtradeData R;
  R.LoadFromFile(Dir.filePath("p.dat"), &C);
  EXPECT_EQ(R.ToBytes(), Bytes);
  EXPECT_EQ(R.GetRaw(0, 0), D.GetRaw(0, 0));

  D.SaveToFile(Dir.filePath("d.dat"));
  EXPECT_EQ(ReadFile(Dir.filePath("d.dat")), Bytes);
  EXPECT_EQ(D.FileName(), Dir.filePath("d.dat"));
  D.SaveToFile("");
  EXPECT_EQ(ReadFile(Dir.filePath("d.dat")), Bytes);
  TComtradeData Unnamed;
  try {
    Unnamed.SaveToFile("");
    FAIL();
  } catch (const EKvError &E) {
    EXPECT_EQ(E.Text(), "no filename");
  }
}

TEST(ComtradeData, RmsAndFundamentalOfKnownSignals) {
  constexpr int N = 36;
  TComtradeConfig C;
  MakeConfig(C, 2, 0, N, 0.5);
  TComtradeData D;
  D.SetConfig(&C);
  TComtradeDataTool T;
  T.SetData(&D);
  for (int s = 0; s < N; ++s) {
    D.SetRaw(0, s, s == 0 ? 10 : 0);
    D.SetRaw(1, s, int(std::lround(200 * std::sin(2 * 3.141592653589793 * s / 36 + 0.3))));
  }
  EXPECT_DOUBLE_EQ(D.GetRms(0, 0, 0), 5.0);
  EXPECT_EQ(D.GetRms(0, 1, 0), 0.0);
  EXPECT_NEAR(D.GetRms(1, 0, N - 1), 70.71, 0.1);
  // Peak 100 (raw 200 × 0.5) over one period: 100 / 2 × 1.414.
  EXPECT_NEAR(D.GetFirstHarmonic(1, 0, N - 1), 70.7, 0.1);
  EXPECT_EQ(D.GetFirstHarmonic(1, 5, 4), 0.0);
}

TEST(ComtradeData, CalibrationShiftInterpolatesWithoutReadingReplacedSamples) {
  struct TCase {
    double Shift;
    std::vector<int> Expected;
  };
  const TCase Cases[] = {
      {0.5, {5, 15, 0}},
      {-0.5, {0, 5, 15}},
      {1.0, {10, 0, 0}},
      {-1.0, {0, 0, 10}},
      {-1.25, {0, 0, 8}},
      {0.0, {0, 10, 20}},
      {5.0, {0, 0, 0}},
  };
  for (const TCase &K : Cases) {
    TComtradeConfig C;
    MakeConfig(C, 1, 0, 3);
    C.AnalogChannel(0).CalibrationShift = K.Shift;
    TComtradeData D;
    D.SetConfig(&C);
    TComtradeDataTool T;
    T.SetData(&D);
    for (int v : {0, 10, 20})
      T.AddRaw(v);
    T.ApplyCalibration();
    EXPECT_EQ((std::vector<int>{D.GetRaw(0, 0), D.GetRaw(0, 1), D.GetRaw(0, 2)}), K.Expected)
        << K.Shift;
  }
}

TEST(ComtradeData, OffsetsAreTheNegatedMeanAndSkipOneSampleRecords) {
  TComtradeConfig C;
  MakeConfig(C, 2, 0, 5, 0.5);
  C.AnalogChannel(1).A = 0.0;
  TComtradeData D;
  D.SetConfig(&C);
  TComtradeDataTool T;
  T.SetData(&D);
  for (int v : {10, 0, 20, 0, 30, 0, 40, 0, 50, 0})
    T.AddRaw(v);
  T.CalculateAnalogOffsets();
  // Σ = 150 over E = 4 with a = 0.5: 150 / 2 = 75.
  EXPECT_EQ(C.AnalogChannel(0).B, -75.0);
  EXPECT_EQ(C.AnalogChannel(1).B, 0.0);

  TComtradeConfig One;
  MakeConfig(One, 1, 0, 1, 0.5);
  TComtradeData D1;
  D1.SetConfig(&One);
  TComtradeDataTool T1;
  T1.SetData(&D1);
  T1.AddRaw(7);
  T1.CalculateAnalogOffsets();
  EXPECT_EQ(One.AnalogChannel(0).B, 0.0);
  EXPECT_TRUE(std::isfinite(One.AnalogChannel(0).B));
}

TEST(ComtradeData, SpreadSumsSignsAndChangesNothing) {
  TComtradeConfig C;
  MakeConfig(C, 1, 0, 4);
  TComtradeData D;
  D.SetConfig(&C);
  TComtradeDataTool T;
  T.SetData(&D);
  for (int v : {-3, 5, -4, 6})
    T.AddRaw(v);
  const QByteArray Before = D.ToBytes();
  const auto S = T.CalculateSpread();
  ASSERT_EQ(S.size(), 1u);
  EXPECT_EQ(S[0].Negative, -7.0);
  EXPECT_EQ(S[0].Positive, 11.0);
  EXPECT_EQ(D.ToBytes(), Before);
  EXPECT_EQ(C.AnalogChannel(0).B, 0.0);
}

TEST(ComtradeData, AppendsPastTheSizedArraysAreRefused) {
  TComtradeConfig C;
  MakeConfig(C, 1, 1, 2);
  TComtradeData D;
  D.SetConfig(&C);
  TComtradeDataTool T;
  T.SetData(&D);
  T.AddSampleNumber(0);
  T.AddSampleNumber(1);
  try {
    T.AddSampleNumber(2);
    FAIL();
  } catch (const EKvRange &E) {
    EXPECT_EQ(E.Text(), "invalid NumberCount 2");
  }
  T.AddRaw(1);
  T.AddRaw(2);
  EXPECT_THROW(T.AddRaw(3), EKvRange);
  T.AddDigital(1);
  T.AddDigital(0);
  EXPECT_THROW(T.AddDigital(1), EKvRange);
  T.AddTimeStamp(0);
  T.AddTimeStamp(1);
  EXPECT_THROW(T.AddTimeStamp(2), EKvRange);
  EXPECT_THROW(D.SetRaw(0, 2, 1), EKvRange);
}

TEST(ComtradeConfig, DamagedFilesAreRefusedOrReadNeverCrash) {
  const QByteArray Good = Cfg1991();
  QRandomGenerator Rng(1991);
  for (int i = 0; i < 2000; ++i) {
    QByteArray Bytes = Good.left(Rng.bounded(Good.size() + 1));
    for (int k = Rng.bounded(4); k > 0 && !Bytes.isEmpty(); --k)
      Bytes[Rng.bounded(Bytes.size())] = char(Rng.bounded(256));
    const QString Result = LoadError(Bytes);
    EXPECT_FALSE(Result.isEmpty());
  }
}

TEST(ComtradeData, DamagedLinesAreRefusedOrReadNeverCrash) {
  const QByteArray Good = "0,0,-12,7,1\r\n1,556,3,4,0\r\n2,1111,-5,6,1\r\n";
  QRandomGenerator Rng(1999);
  for (int i = 0; i < 300; ++i) {
    QByteArray Bytes = Good.left(Rng.bounded(Good.size() + 1));
    for (int k = Rng.bounded(4); k > 0 && !Bytes.isEmpty(); --k)
      Bytes[Rng.bounded(Bytes.size())] = char(Rng.bounded(256));
    EXPECT_FALSE(DataError(Bytes).isEmpty());
  }
}
