#include "uComtrade.h"

#include "uErrors.h"
#include "uLogger.h"
#include "uTextCodec.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>
#include <random>

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
  A.An = 1, A.Id = "Ia", A.Unit = "A", A.A = 0.01, A.Min = -100, A.Max = 200;
  A.Primary = 1000, A.Secondary = 5, A.IsPrimary = true;
  T.AddAnalogChannel(A);
  A = {};
  A.An = 2, A.Id = "Ub", A.Unit = "V", A.A = 2.5, A.B = -0.5, A.Min = -5, A.Max = 5;
  T.AddAnalogChannel(A);
  TComtradeDigitalChannel D;
  D.Dn = 1, D.Id = QString::fromUtf8("Пуск");
  T.AddDigitalChannel(D);
  T.SetRateCount(1);
  T.SetRateSamples(0, 1800);
  T.SetRateEndSample(0, 17999);
  T.SetFirstTime(EncodeDateTime(2024, 3, 15, 10, 20, 30, 123));
  T.SetTriggerTime(EncodeDateTime(2024, 3, 15, 10, 20, 30, 223));
}

QString ErrorOf(const std::function<void()> &F) {
  try {
    F();
  } catch (const EKvError &E) {
    return E.Text();
  }
  return "loaded";
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

TEST(ComtradeConfig, WritesThe1999Layout) {
  TComtradeConfig C;
  FillSample(C);
  C.AnalogChannel(0).Offset = -7; // the conversion's offset never reaches the file
  C.AnalogChannel(0).An = 0;      // numbered by place, from 1
  const QByteArray Expected = Cp1251("StationName,StationId,1999\r\n"
                                     "3,2A,1D\r\n"
                                     "1,Ia,,,A,0.01,0,0,-100,200,1000,5,P\r\n"
                                     "2,Ub,,,V,2.5,-0.5,0,-5,5,1,1,S\r\n"
                                     "1,Пуск,,,0\r\n"
                                     "50\r\n"
                                     "1\r\n"
                                     "1800,18000\r\n"
                                     "15/03/2024,10:20:30.123000\r\n"
                                     "15/03/2024,10:20:30.223000\r\n"
                                     "ASCII\r\n"
                                     "1\r\n");
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
  EXPECT_EQ(R.RevYear(), 1999);
  ASSERT_EQ(R.AnalogCount(), 2);
  ASSERT_EQ(R.DigitalCount(), 1);
  for (int i = 0; i < 2; ++i) {
    const TComtradeAnalogChannel &A = C.AnalogChannel(i), &B = R.AnalogChannel(i);
    EXPECT_TRUE(std::tie(B.An, B.Id, B.Unit, B.A, B.B, B.Skew, B.Min, B.Max, B.Primary, B.Secondary, B.IsPrimary) ==
                std::tie(A.An, A.Id, A.Unit, A.A, A.B, A.Skew, A.Min, A.Max, A.Primary, A.Secondary, A.IsPrimary))
        << i;
  }
  EXPECT_EQ(R.DigitalChannel(0).Id, QString::fromUtf8("Пуск"));
  EXPECT_EQ(R.RateCount(), 1);
  EXPECT_EQ(R.Rate(0).Samples, 1800.0);
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
      // Counts near 2^31 neither overflow nor allocate.
      {1, "-2,2147483647A,2147483647D", "недопустимое количество каналов (line 2)"},
      {1, "2147483647,2147483647A,0D", "too many analog channels: 2147483647 (at most 100) (line 2)"},
      {1, "4294967294,2147483647A,2147483647D", "'4294967294' is not a valid integer value (line 2)"},
      {6, "1800,-5", "invalid endsamp -5 (line 7)"},
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

TEST(ComtradeConfig, FirstLineWithoutIdReadsAs1991AndAnUndecodableIdWarns) {
  TComtradeConfig C;
  QString Warning;
  C.LoadFromBytes(Cfg1991(0, "Подстанция"), "x.cfg", Warning);
  EXPECT_EQ(C.StationName(), QString::fromUtf8("Подстанция"));
  EXPECT_EQ(C.RecDevId(), "");
  EXPECT_EQ(C.RevYear(), 1991);
  EXPECT_TRUE(Warning.isEmpty());
  C.LoadFromBytes(Cfg1991().replace("Station,Dev", "Station,Dev\x01"), "x.cfg", Warning);
  EXPECT_EQ(Warning, "invalid Station Id");
  EXPECT_EQ(C.RecDevId(), "");
  EXPECT_THROW(C.LoadFromBytes(Cfg1991().replace("Station,Dev", "Station,Dev\x98"), "x.cfg", Warning), EKvFormat);
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
  EXPECT_EQ(C.Rate(0).Samples, 1200.5);
  EXPECT_EQ(C.SampleCount(), 35); // the last sample's number, counted from 1
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
  EXPECT_TRUE(Ansi.startsWith("\xCF\xD1 \xDE\xE3,Dev,1999\r\n")) << Ansi.toHex().toStdString();
  EXPECT_EQ(Ansi, ReadFile(Dir.filePath("mine.cfg")));
}

TEST(ComtradeConfig, SaveCopyAsFindsTheTypeLineByItsPlace) {
  QTemporaryDir Dir;
  // A 2013 file: three lines follow the type; a station the OEM page lacks.
  const QByteArray Src = Cp1251("Ст№ €,Dev,2013\r\n1,1A,0D\r\n1,I,,,A,1,0,0,0,0,1,1,S\r\n50\r\n0\r\n0,3\r\n"
                                "15/03/2024,10:00:00\r\n15/03/2024,10:00:00\r\nANSI\r\n1\r\n+3,+3\r\n0,0\r\n");
  WriteFile(Dir.filePath("src.cfg"), Src);
  TComtradeConfig C;
  QString Warning;
  C.LoadFromFile(Dir.filePath("src.cfg"), Warning);
  const qsizetype Logged = Logger().Lines().size();
  C.SaveCopyAs(Dir.filePath("oem.cfg"), "OEM");
  const QList<QByteArray> Lines = ReadFile(Dir.filePath("oem.cfg")).split('\n');
  EXPECT_EQ(Lines.mid(8), (QList<QByteArray>{"ASCII\r", "1\r", "+3,+3\r", "0,0\r", ""}));
  const QStringList Log = Logger().Lines().mid(Logged);
  ASSERT_EQ(Log.size(), 1);
  EXPECT_TRUE(Log[0].endsWith(QString::fromUtf8("character \"€\" of line 1 has no OEM code"))) << Log[0].toStdString();
}

TEST(ComtradeConfig, SavingNeedsANameAndFiniteFactors) {
  TComtradeConfig C;
  FillSample(C);
  EXPECT_EQ(ErrorOf([&] { C.SaveToFile(""); }), "no filename");
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
    Ch.An = i + 1;
    Ch.A = Factor;
    T.AddAnalogChannel(Ch);
  }
  for (int i = 0; i < D; ++i) {
    TComtradeDigitalChannel Ch;
    Ch.Dn = i + 1;
    T.AddDigitalChannel(Ch);
  }
  T.SetRateCount(1);
  T.SetRateSamples(0, 1800);
  T.SetRateEndSample(0, N - 1);
}

// A configuration and its data, filled through the tool.
struct TRecord {
  TRecord(int A, int D, int N, double Factor = 1.0) {
    MakeConfig(C, A, D, N, Factor);
    Data.SetConfig(&C);
    T.SetData(&Data);
  }
  TComtradeConfig C;
  TComtradeData Data;
  TComtradeDataTool T;
};

QString LoadData(TRecord &R, const QByteArray &Dat) {
  QTemporaryDir Dir;
  WriteFile(Dir.filePath("x.dat"), Dat);
  return ErrorOf([&] { R.Data.LoadFromFile(Dir.filePath("x.dat"), &R.C); });
}

// Loads Dat as the data of A analog and D digital channels of N samples.
QString DataError(const QByteArray &Dat, int A = 2, int D = 1, int N = 3) {
  QTemporaryDir Dir;
  WriteFile(Dir.filePath("x.dat"), Dat);
  TComtradeConfig C;
  MakeConfig(C, A, D, N);
  TComtradeData Data;
  return ErrorOf([&] { Data.LoadFromFile(Dir.filePath("x.dat"), &C); });
}

} // namespace

TEST(ComtradeData, ReadsRawAnalogAndDigitalValues) {
  TRecord R(2, 1, 4, 0.5);
  ASSERT_EQ(LoadData(R, "0,0,-12,7,1\r\n1,556, 3,-0,0\r\n"), "loaded");
  const TComtradeData &D = R.Data;
  EXPECT_EQ(D.SampleCount(), 2); // the lines present: no sample is made up
  EXPECT_EQ((std::vector<int>{D.GetRaw(0, 0), D.GetRaw(1, 0), D.GetDigitalValue(0, 0), D.GetTimeStamp(1),
                              D.GetSampleNumber(1), D.GetRaw(0, 1)}),
            (std::vector<int>{-12, 7, 1, 556, 1, 3}));
  EXPECT_EQ(D.GetAnalogValue(0, 0), -6.0);
  // Indexes outside the data read 0.
  EXPECT_EQ((std::vector<int>{D.GetRaw(0, 2), D.GetRaw(2, 0), D.GetRaw(0, 4), D.GetDigitalValue(1, 0),
                              D.GetTimeStamp(2)}),
            (std::vector<int>(5, 0)));
  EXPECT_EQ(D.GetAnalogValue(0, -1), 0.0);
}

TEST(ComtradeData, LineBreaksOfEveryKindAndEmptyLinesHoldNoSample) {
  // Lines past the configured count are ignored.
  TRecord R(2, 1, 4);
  ASSERT_EQ(LoadData(R, "0,0,1,1,1\n\r1,1,2,2,0\r2,2,3,3,1\r\n3,3,9,9,1\n4,4,7,7,0"), "loaded");
  const TComtradeData &D = R.Data;
  EXPECT_EQ(D.SampleCount(), 4);
  EXPECT_EQ((std::vector<int>{D.GetRaw(0, 0), D.GetRaw(0, 1), D.GetRaw(0, 2), D.GetRaw(0, 3)}),
            (std::vector<int>{1, 2, 3, 9}));
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

namespace {

// A standard pair written by hand: the configuration's and the data's lines
// joined by Eol, plus what the standard says the data hold.
struct TStandardPair {
  const char *Name;
  QStringList Cfg, Dat;
  QString Eol;
  int Count;
  double Rate;
  std::vector<double> Values; // channel 1, NaN for a missing value
};

} // namespace

TEST(ComtradeData, ReadsStandardFilesOfEveryRevision) {
  const double Gap = std::numeric_limits<double>::quiet_NaN();
  const TStandardPair Cases[] = {
      // Revision 1991 named on line 1: dates as the program always read them,
      // the last sample's number is the count, b applies, 99999 is a gap.
      {"1991 CR LF",
       {"S,D,1991", "2,1A,1D", "1,Ia,,,A,0.5,1.5,0,-10,10", "1,Trip,0", "50", "1", "1000,3",
        "24/03/15,10:00:00.000", "24/03/15,10:00:00.001", "ASCII"},
       {"1,0,10,0", "2,1000,-20,1", "3,2000,99999,0"},
       "\r\n", 3, 1000, {6.5, -8.5, Gap}},
      // 1999 with LF, a negative gap, fewer lines than declared and a DOS
      // end-of-file byte after the last line.
      {"1999 LF",
       {"S,D,1999", "2,1A,1D", "1,Ia,a,,A,2,-2,0,-10,10,100,1,P", "1,Trip,,,0", "50", "1", "2000,5",
        "15/03/2024,10:00:00.000000", "15/03/2024,10:00:00.001000", "ascii", "1"},
       {"1,0,1,0", "2,500,-99999,1", "3,1000,3,0", ""},
       "\n", 3, 2000, {0, Gap, 4}},
      // 2013 with CR ends, no rate (time stamps in units of 2 us) and the
      // lines after the time multiplier.
      {"2013 CR",
       {"S,D,2013", "2,1A,1D", "1,Ia,,,A,1,0.25,0,-10,10,1,1,S", "1,Trip,,,0", "50", "0", "0,3",
        "15/03/2024,10:00:00.000000", "15/03/2024,10:00:00.001000", "ASCII", "2", "+3,+3", "0,0"},
       {"1,0,4,0", "2,250,5,1", "3,500,6,0"},
       "\n", 3, 2000, {4.25, 5.25, 6.25}},
  };
  for (const TStandardPair &P : Cases) {
    QTemporaryDir Dir;
    WriteFile(Dir.filePath("x.cfg"), P.Cfg.join(P.Eol).toLatin1() + P.Eol.toLatin1());
    WriteFile(Dir.filePath("x.dat"), P.Dat.join(P.Eol).toLatin1());
    TComtradeConfig C;
    TComtradeData D;
    QString Warning;
    ASSERT_EQ(ErrorOf([&] {
                C.LoadFromFile(Dir.filePath("x.cfg"), Warning);
                D.LoadFromFile(Dir.filePath("x.dat"), &C);
              }),
              "loaded")
        << P.Name;
    EXPECT_EQ(D.SampleCount(), P.Count) << P.Name;
    EXPECT_DOUBLE_EQ(C.Rate(0).Samples, P.Rate) << P.Name;
    for (int s = 0; s < P.Count; ++s) {
      const double V = D.GetAnalogValue(0, s);
      EXPECT_TRUE(std::isnan(P.Values[s]) ? std::isnan(V) && D.IsMissing(0, s) : V == P.Values[s])
          << P.Name << " sample " << s << ": " << V;
    }
    EXPECT_EQ(D.GetDigitalValue(0, 1), 1) << P.Name;
  }
}

TEST(ComtradeData, TimeStampsGiveTheRateOnlyWhenTheyCan) {
  const QByteArray Cfg = "S,D,1999\n1,1A,0D\n1,I,,,A,1,0,0,0,0,1,1,S\n50\n0\n0,3\n"
                         "15/03/2024,10:00:00\n15/03/2024,10:00:00\nASCII\n1\n";
  const std::pair<QByteArray, QString> Cases[] = {
      {"1,0,1\n", "invalid samp 0: 1 sample(s) give no time step"},
      {"1,0,1\n2,100,1\n3,100,1\n", "invalid timestamp 100 (line 3): time stamps must increase"},
      {"1,0,1\n2,100,1\n3,400,1\n", "loaded"},
  };
  for (const auto &[Dat, Error] : Cases) {
    QTemporaryDir Dir;
    WriteFile(Dir.filePath("x.dat"), Dat);
    TComtradeConfig C;
    QString Warning;
    C.LoadFromBytes(Cfg, "x.cfg", Warning);
    TComtradeData D;
    EXPECT_EQ(ErrorOf([&] { D.LoadFromFile(Dir.filePath("x.dat"), &C); }), Error);
  }
}

TEST(ComtradeData, ArraysAreSizedFromTheDataFileNotTheDeclaredCount) {
  // 2^31 - 1 samples declared (both numberings), 9 bytes of data.
  for (const char *Head : {"S,D\n", "S,D,1999\n"}) {
    TComtradeConfig C;
    QString Warning;
    C.LoadFromBytes(QByteArray(Head) + "1,1A,0D\n1,I,,,A,1,0,0,0,0\n50\n1\n1800,2147483647\n"
                                       "24/03/15,10:00:00\n24/03/15,10:00:00\nASCII\n",
                    "x.cfg", Warning);
    QTemporaryDir Dir;
    WriteFile(Dir.filePath("x.dat"), "1,0,5\r\n\x1A\r\n");
    TComtradeData D;
    D.LoadFromFile(Dir.filePath("x.dat"), &C);
    EXPECT_EQ(D.SampleCount(), 1) << Head;
    EXPECT_LE(D.AllocatedCells(), 4) << Head;
  }
}

TEST(ComtradeData, NeedsExactlyOneRateAndAPossibleSampleCount) {
  TRecord R(1, 0, 1);
  TComtradeConfigTool T;
  T.SetConfig(&R.C);
  T.SetRateCount(2);
  EXPECT_EQ(LoadData(R, "0,0,1\n"), "FComtradeConfig.FRateCount=1");
}

TEST(ComtradeData, SaveAndLoadGiveTheSameBytesAcrossReadChunks) {
  // More than one 4 MiB read, with a CR LF split exactly between two reads.
  constexpr int A = 8, N = 80000;
  TRecord W(A, 2, N, 0.25);
  for (int s = 0; s < N; ++s) {
    W.T.AddSampleNumber(s);
    W.T.AddTimeStamp(int(std::lround(s * 1e6 / 1800)));
    for (int c = 0; c < A; ++c)
      W.T.AddRaw(int(std::lround(30000 * std::sin(s * 0.1 + c))) - (c == 0 ? 3 : 0));
    W.T.AddDigital(s / 100 % 2);
    W.T.AddDigital(s % 7 == 0);
  }
  QByteArray Bytes = W.Data.ToBytes();
  ASSERT_GT(Bytes.size(), 4 << 20);
  // Pad the first line with blanks so that its line ends straddle byte 4 MiB
  // of another line: the CR is the last byte of the first read.
  const qsizetype Pad = (4 << 20) - 1 - Bytes.indexOf('\r', (4 << 20) - 200);
  ASSERT_GE(Pad, 0);
  QByteArray Padded = Bytes;
  Padded.insert(Padded.indexOf(',') + 1, QByteArray(Pad, ' '));
  ASSERT_EQ(Padded.mid((4 << 20) - 1, 2), "\r\n");
  TRecord R(A, 2, N, 0.25);
  ASSERT_EQ(LoadData(R, Padded), "loaded");
  EXPECT_EQ(R.Data.ToBytes(), Bytes);

  // Lines are parsed by several threads at once: the error named is the one on
  // the earliest bad line, however far apart the bad lines lie, and a missing
  // value far into the file is marked.
  auto LineStart = [&](int Line) {
    qsizetype At = 0;
    for (int l = 1; l < Line; ++l)
      At = Bytes.indexOf('\n', At) + 1;
    return At;
  };
  QByteArray Bad = Bytes;
  Bad.replace(LineStart(N - 3), 1, "x");
  Bad.replace(LineStart(N / 4 + 7), 1, "y");
  Bad.replace(LineStart(N / 2 + 5000), 1, "z");
  TRecord B(A, 2, N, 0.25);
  EXPECT_EQ(LoadData(B, Bad), QString("invalid number \"y%1\" (line %2)").arg(QString::number(N / 4 + 6).mid(1)).arg(N / 4 + 7));
  QByteArray Gap = Bytes;
  const qsizetype Third = Gap.indexOf(',', Gap.indexOf(',', LineStart(N - 2)) + 1) + 1;
  Gap.replace(Third, Gap.indexOf(',', Third) - Third, "99999");
  TRecord G(A, 2, N, 0.25);
  ASSERT_EQ(LoadData(G, Gap), "loaded");
  EXPECT_TRUE(G.Data.IsMissing(0, N - 3));
  EXPECT_FALSE(G.Data.IsMissing(0, N - 4));

  QTemporaryDir Dir;
  W.Data.SaveToFile(Dir.filePath("d.dat"));
  EXPECT_EQ(ReadFile(Dir.filePath("d.dat")), Bytes);
  W.Data.SaveToFile(""); // saves again under the name it has
  EXPECT_EQ(ReadFile(Dir.filePath("d.dat")), Bytes);
  TComtradeData Unnamed;
  EXPECT_EQ(ErrorOf([&] { Unnamed.SaveToFile(""); }), "no filename");
}

namespace {

// A text of every kind of line the format allows, with the values each line
// holds: usual lines mixed with blanks, empty and long fields, leading zeros,
// missing values, extra fields, each kind of line end and empty lines.
struct TMixedText {
  QByteArray Text;
  std::vector<int> Numbers, Stamps, Raw, Digital; // Raw: 0 where missing
  std::vector<bool> Missing;
  std::vector<int> SampleLines; // the line number of each sample
  int Lines = 0;
};

TMixedText MixedText(int A, int D, int N, unsigned Seed) {
  std::mt19937 Rng(Seed);
  auto Pick = [&](int Count) { return int(Rng() % unsigned(Count)); };
  TMixedText T;
  auto Field = [&](int V, bool Long) {
    QByteArray F = QByteArray::number(V);
    switch (Pick(Long ? 12 : 16)) {
    case 0: F = " " + F + "\t"; break;
    case 1: if (V >= 0) F = QByteArray(std::min<int>(Pick(4) + 1, 11 - int(F.size())), '0') + F; break;
    case 2: if (V == 0) F = Pick(2) ? "" : "-0"; break;
    default: break;
    }
    return F;
  };
  const char *Ends[] = {"\r\n", "\n", "\r"};
  for (int s = 0; s < N; ++s) {
    while (Pick(40) == 0) {
      const char *End = Ends[Pick(2)];
      // An LF after a line that ended in CR only makes that end CR LF.
      T.Lines += !(T.Text.endsWith('\r') && End[0] == '\n');
      T.Text += End;
    }
    const int Number = s + 1, Stamp = Pick(3) == 0 ? 1000000000 + Pick(1000000) : Pick(100000000);
    QByteArray Line = Field(Number, true) + "," + Field(Stamp, true);
    T.Numbers.push_back(Number);
    T.Stamps.push_back(Stamp);
    for (int c = 0; c < A; ++c) {
      const int Kind = Pick(50);
      int V = Kind == 0 ? 0 : Kind == 1 ? -2147483647 - 1 : Kind == 2 ? 123456789 : int(Rng() % 200001) - 100000;
      if (Kind == 3 || (V == 99999 || V == -99999))
        V = Pick(2) ? 99999 : -99999;
      const bool Missing = V == 99999 || V == -99999;
      Line += "," + Field(V, false);
      T.Raw.push_back(Missing ? 0 : V);
      T.Missing.push_back(Missing);
    }
    for (int c = 0; c < D; ++c) {
      const int Bit = Pick(2);
      Line += "," + (Pick(30) == 0 ? QByteArray(" ") + char('0' + Bit) : QByteArray(1, char('0' + Bit)));
      T.Digital.push_back(Bit);
    }
    if (Pick(25) == 0)
      Line += ",7,-3,x";
    T.Text += Line + Ends[Pick(3)];
    T.SampleLines.push_back(++T.Lines);
  }
  return T;
}

} // namespace

TEST(ComtradeData, LinesOfEveryFormReadTheSameWhereverTheyLie) {
  // Narrow and wide records (more fields than one pass takes at a time), from
  // a file (read in windows) and from memory; then one bad field anywhere
  // gives the message it gives alone, with its line.
  const struct {
    int A, D;
  } Shapes[] = {{5, 3}, {41, 19}, {0, 4}, {3, 0}, {100, 100}};
  for (const auto &Shape : Shapes) {
    const int N = 3000;
    const TMixedText T = MixedText(Shape.A, Shape.D, N, unsigned(Shape.A * 131 + Shape.D));
    for (const bool FromFile : {true, false}) {
      TRecord R(Shape.A, Shape.D, N);
      const QString Result =
          FromFile ? LoadData(R, T.Text) : ErrorOf([&] { R.Data.LoadFromBytes(T.Text, "x.dat", &R.C); });
      ASSERT_EQ(Result.toStdString(), "loaded") << Shape.A << "," << Shape.D;
      ASSERT_EQ(R.Data.SampleCount(), N);
      int Wrong = 0;
      for (int s = 0; s < N; ++s) {
        Wrong += R.Data.GetSampleNumber(s) != T.Numbers[size_t(s)] || R.Data.GetTimeStamp(s) != T.Stamps[size_t(s)];
        for (int c = 0; c < Shape.A; ++c) {
          const size_t Cell = size_t(s) * Shape.A + c;
          Wrong += R.Data.GetRaw(c, s) != T.Raw[Cell] || R.Data.IsMissing(c, s) != T.Missing[Cell];
        }
        for (int c = 0; c < Shape.D; ++c)
          Wrong += R.Data.GetDigitalValue(c, s) != T.Digital[size_t(s) * Shape.D + c];
      }
      EXPECT_EQ(Wrong, 0) << Shape.A << "," << Shape.D << (FromFile ? " from a file" : " from memory");
    }
    std::mt19937 Rng(7);
    for (const char *Bad : {"12a", "1 2", "-", "2147483648", "2", "--1"}) {
      const int s = int(Rng() % N);
      QList<QByteArray> Lines = T.Text.split('\n');
      // The sample's line among the pieces split at LF alone (CR alone ends lines too).
      QByteArray Copy = T.Text;
      qsizetype At = 0;
      for (int Line = 1; Line < T.SampleLines[size_t(s)];) {
        const qsizetype Cr = Copy.indexOf('\r', At), Lf = Copy.indexOf('\n', At);
        const qsizetype E = Cr >= 0 && (Lf < 0 || Cr < Lf) ? Cr : Lf;
        At = E + 1 + (Copy[E] == '\r' && Copy[E + 1] == '\n');
        ++Line;
      }
      // The last digital field for "2", else the last field before the digital ones.
      const int Field = QByteArray(Bad) == "2" ? 2 + Shape.A + Shape.D - 1 : 1 + Shape.A;
      if (QByteArray(Bad) == "2" && Shape.D == 0)
        continue;
      qsizetype From = At;
      for (int f = 0; f < Field; ++f)
        From = Copy.indexOf(',', From) + 1;
      const qsizetype To = std::min(Copy.indexOf(',', From) < 0 ? Copy.size() : Copy.indexOf(',', From),
                                    std::min(Copy.indexOf('\r', From) < 0 ? Copy.size() : Copy.indexOf('\r', From),
                                             Copy.indexOf('\n', From) < 0 ? Copy.size() : Copy.indexOf('\n', From)));
      Copy.replace(From, To - From, Bad);
      qsizetype LineEnd = At;
      while (LineEnd < Copy.size() && Copy[LineEnd] != '\r' && Copy[LineEnd] != '\n')
        ++LineEnd;
      const QString Alone = DataError(Copy.mid(At, LineEnd - At), Shape.A, Shape.D, 1);
      ASSERT_TRUE(Alone.endsWith("(line 1)")) << Bad << ": " << Alone.toStdString();
      TRecord R(Shape.A, Shape.D, N);
      EXPECT_EQ(LoadData(R, Copy).toStdString(),
                (Alone.chopped(2) + QString::number(T.SampleLines[size_t(s)]) + ")").toStdString())
          << Shape.A << "," << Shape.D << " " << Bad;
      (void)Lines;
    }
  }
}

TEST(ComtradeData, ALargeFileReadInWindowsReadsAsInMemory) {
  // A file of many windows on every core: every value and missing flag as
  // written, and a bad field late in the file named by its line.
  constexpr int A = 32, D = 16, N = 64000;
  const TMixedText T = MixedText(A, D, N, 50);
  ASSERT_GT(T.Text.size(), 16 << 20);
  TRecord R(A, D, N);
  ASSERT_EQ(LoadData(R, T.Text).toStdString(), "loaded");
  ASSERT_EQ(R.Data.SampleCount(), N);
  int Wrong = 0;
  for (int s = 0; s < N; ++s) {
    Wrong += R.Data.GetSampleNumber(s) != T.Numbers[size_t(s)] || R.Data.GetTimeStamp(s) != T.Stamps[size_t(s)];
    for (int c = 0; c < A; ++c) {
      const size_t Cell = size_t(s) * A + c;
      Wrong += R.Data.GetRaw(c, s) != T.Raw[Cell] || R.Data.IsMissing(c, s) != T.Missing[Cell];
    }
    for (int c = 0; c < D; ++c)
      Wrong += R.Data.GetDigitalValue(c, s) != T.Digital[size_t(s) * D + c];
  }
  EXPECT_EQ(Wrong, 0);

  // The sample number of a line about three quarters in (one written plainly
  // after an LF) made "x" + its digits.
  int s = N * 3 / 4;
  QByteArray Bad = T.Text;
  qsizetype At = -1;
  for (; At < 0 && s < N; ++s)
    At = Bad.indexOf("\n" + QByteArray::number(s + 1) + ",");
  --s;
  ASSERT_GT(At, 0);
  Bad[At + 1] = 'x';
  TRecord B(A, D, N);
  EXPECT_EQ(LoadData(B, Bad).toStdString(),
            QString("invalid number \"x%1\" (line %2)")
                .arg(QString::number(s + 1).mid(1))
                .arg(T.SampleLines[size_t(s)])
                .toStdString());
}

TEST(ComtradeData, RmsAndFundamentalOfKnownSignals) {
  constexpr int N = 36;
  TRecord R(2, 0, N, 0.5);
  TComtradeData &D = R.Data;
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

TEST(ComtradeData, CalibrationShiftInterpolatesAndMarksWhatItCannotCompute) {
  constexpr int M = 99999; // missing: written as such and read back as a gap
  const std::pair<double, std::vector<int>> Cases[] = {
      {0.5, {5, 15, M}}, {-0.5, {M, 5, 15}}, {1.0, {10, M, M}}, {-1.0, {M, 0, 10}},
      {-1.25, {M, M, 8}}, {0.0, {0, 10, 20}}, {5.0, {M, M, M}},
  };
  for (const auto &[Shift, Expected] : Cases) {
    TRecord R(1, 0, 3);
    R.C.AnalogChannel(0).CalibrationShift = Shift;
    for (int v : {0, 10, 20})
      R.T.AddRaw(v);
    R.T.ApplyCalibration();
    std::vector<int> Got;
    for (int s = 0; s < 3; ++s)
      Got.push_back(R.Data.IsMissing(0, s) ? M : R.Data.GetRaw(0, s));
    EXPECT_EQ(Got, Expected) << Shift;
    const QByteArray Line = R.Data.ToBytes().trimmed().split('\n').last().trimmed(); // the last sample
    EXPECT_TRUE(Line.endsWith("," + QByteArray::number(Expected[2]))) << Line.toStdString();
  }
}

TEST(ComtradeData, OffsetsAreTheNegatedMeanAndSkipOneSampleRecords) {
  TRecord R(2, 0, 5, 0.5);
  R.C.AnalogChannel(1).A = 0.0;
  for (int v : {10, 0, 20, 0, 30, 0, 40, 0, 50, 0})
    R.T.AddRaw(v);
  R.T.CalculateAnalogOffsets();
  // Σ = 150 over E = 4 with a = 0.5: 150 / 2 = 75.
  EXPECT_EQ(R.C.AnalogChannel(0).Offset, -75.0);
  EXPECT_EQ(R.C.AnalogChannel(1).Offset, 0.0);
  EXPECT_EQ(R.Data.GetAnalogValue(0, 0), 5.0); // not applied

  // A marked sample counts for nothing: 5 + 20 over the two present (E = 1).
  TRecord Gap(1, 0, 3, 0.5);
  Gap.C.AnalogChannel(0).CalibrationShift = 0.5;
  for (int v : {0, 10, 30})
    Gap.T.AddRaw(v);
  Gap.T.ApplyCalibration(); // 5, 20, missing
  Gap.T.CalculateAnalogOffsets();
  EXPECT_EQ(Gap.C.AnalogChannel(0).Offset, -50.0);

  TRecord One(1, 0, 1, 0.5);
  One.T.AddRaw(7);
  One.T.CalculateAnalogOffsets();
  EXPECT_EQ(One.C.AnalogChannel(0).Offset, 0.0);
}

TEST(ComtradeData, SpreadSumsSignsAndChangesNothing) {
  TRecord R(1, 0, 4);
  for (int v : {-3, 5, -4, 6})
    R.T.AddRaw(v);
  const QByteArray Before = R.Data.ToBytes();
  const auto S = R.T.CalculateSpread();
  ASSERT_EQ(S.size(), 1u);
  EXPECT_EQ(S[0].Negative, -7.0);
  EXPECT_EQ(S[0].Positive, 11.0);
  EXPECT_EQ(R.Data.ToBytes(), Before);
  EXPECT_EQ(R.C.AnalogChannel(0).Offset, 0.0);
}

TEST(ComtradeData, AppendsPastTheSizedArraysAreRefused) {
  TRecord R(1, 1, 2);
  for (int i = 0; i < 2; ++i) {
    R.T.AddSampleNumber(i);
    R.T.AddRaw(i);
    R.T.AddDigital(1);
    R.T.AddTimeStamp(i);
  }
  EXPECT_EQ(ErrorOf([&] { R.T.AddSampleNumber(2); }), "invalid NumberCount 2");
  EXPECT_THROW(R.T.AddRaw(3), EKvRange);
  EXPECT_THROW(R.T.AddDigital(1), EKvRange);
  EXPECT_THROW(R.T.AddTimeStamp(2), EKvRange);
  EXPECT_THROW(R.Data.SetRaw(0, 2, 1), EKvRange);
}
