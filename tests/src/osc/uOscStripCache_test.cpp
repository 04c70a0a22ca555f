#include "uOscStripCache.h"

#include "uComtrade.h"
#include "uErrors.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <climits>
#include <cmath>
#include <functional>
#include <tuple>

namespace {

// One analog channel (with gaps where Missing says) and one discrete channel,
// read from a ".dat" so that missing values are marked as the reader marks them.
struct TRecord {
  TRecord(const std::vector<int> &Raw, const std::vector<bool> &Missing = {}) {
    TComtradeConfigTool T;
    T.SetConfig(&Config);
    TComtradeAnalogChannel A;
    A.A = 1;
    T.AddAnalogChannel(A);
    T.AddDigitalChannel(TComtradeDigitalChannel{});
    T.SetRateCount(1);
    T.SetRateSamples(0, 1800);
    T.SetRateEndSample(0, int(Raw.size()) - 1);
    QByteArray Dat;
    for (size_t s = 0; s < Raw.size(); ++s)
      Dat += QByteArray::number(qulonglong(s + 1)) + ",0," +
             (s < Missing.size() && Missing[s] ? QByteArray("99999") : QByteArray::number(Raw[s])) + "," +
             QByteArray::number(Raw[s] > 0 ? 1 : 0) + "\n";
    Data.LoadFromBytes(Dat, "x.dat", &Config);
  }
  TComtradeConfig Config;
  TComtradeData Data;
};

// The columns by brute force: every sample on its own, the rule x = round(i * scale).
std::vector<TOscColumn> BruteColumns(const TComtradeData &D, bool Digital, int First, int Last, double Scale) {
  std::vector<TOscColumn> Out;
  for (int s = First; s <= Last; ++s) {
    const int X = int(std::nearbyint(s * Scale));
    const bool Gap = !Digital && D.IsMissing(0, s);
    const int V = Gap ? 0 : Digital ? D.GetDigitalValue(0, s) : D.GetRaw(0, s);
    if (Out.empty() || Out.back().X != X)
      Out.push_back({X, s, 0, 0, false, Gap, V, 0});
    TOscColumn &C = Out.back();
    C.LastValue = V;
    if (Gap)
      continue;
    C.Min = C.HasValue ? std::min(C.Min, V) : V;
    C.Max = C.HasValue ? std::max(C.Max, V) : V;
    C.HasValue = true;
  }
  return Out;
}

// A column as the paint reads it: the extremes only where it has values.
using TKey = std::tuple<int, int, bool, bool, int, int, int, int>;
std::vector<TKey> Keys(const std::vector<TOscColumn> &Columns) {
  std::vector<TKey> Out;
  for (const TOscColumn &C : Columns)
    Out.emplace_back(C.X, C.FirstSample, C.HasValue, C.FirstMissing, C.FirstValue, C.LastValue,
                     C.HasValue ? C.Min : 0, C.HasValue ? C.Max : 0);
  return Out;
}

// A record of A analog and D discrete channels declaring Declared samples,
// and the text of N of them: a wave of its own on each analog channel, a
// rhythm of its own on each discrete one; Odd(s, c) may give analog field c
// of sample s instead.
void ManyChannelConfig(TComtradeConfig &Config, int A, int D, int Declared) {
  TComtradeConfigTool T;
  T.SetConfig(&Config);
  for (int c = 0; c < A; ++c)
    T.AddAnalogChannel(TComtradeAnalogChannel{});
  for (int c = 0; c < D; ++c)
    T.AddDigitalChannel(TComtradeDigitalChannel{});
  T.SetRateCount(1);
  T.SetRateSamples(0, 1800);
  T.SetRateEndSample(0, Declared - 1);
}
QByteArray ManyChannelText(int A, int D, int N, const std::function<QByteArray(int, int)> &Odd) {
  QByteArray Dat;
  for (int s = 0; s < N; ++s) {
    Dat += QByteArray::number(s) + "," + QByteArray::number(s * 555);
    for (int c = 0; c < A; ++c) {
      const QByteArray Field = Odd(s, c);
      Dat += "," + (!Field.isEmpty() ? Field
                                     : QByteArray::number(int(20000 * std::sin(s * 0.003 * (c + 1))) +
                                                          (s * 7919 + c) % 301 - 150));
    }
    for (int c = 0; c < D; ++c)
      Dat += (s / (c + 3)) % 7 == 0 ? ",1" : ",0";
    Dat += "\r\n";
  }
  return Dat;
}

} // namespace

TEST(OscStripCache, ColumnsEqualBruteForceAtEveryScaleAndEdge) {
  // An odd length, a noisy wave, one spike, and a run of gaps; the spike at
  // either end of 16 bits and past them, where the entries must widen.
  constexpr int N = 10007;
  for (const int Spike : {30000, 32767, -32768, 32768, -32769, 2000000000}) {
    std::vector<int> Raw(N);
    std::vector<bool> Missing(N);
    for (int s = 0; s < N; ++s)
      Raw[s] = int(1000 * std::sin(s * 0.01) + (s * 7919 % 13) - 6);
    Raw[4321] = Spike;
    for (int s = 7000; s < 7100; ++s)
      Missing[s] = true;
    const TRecord R(Raw, Missing);
    // Both channels in one pass, as a paint asks for them.
    TOscStripCache Caches[2];
    TOscStripCache::BuildAll(R.Data, {&Caches[0]}, {&Caches[1]});
    ASSERT_EQ(Caches[1].SampleCount(), N);
    EXPECT_EQ(Caches[0].EntryBytes(), Spike >= -32768 && Spike <= 32767 ? 4 : 8) << Spike;
    EXPECT_EQ(Caches[1].EntryBytes(), 1);
    const std::pair<int, int> Ranges[] = {{0, N - 1}, {3, 4324}, {4321, 4321}, {6990, 7105}, {7003, 7080}, {9999, 20000}};
    std::vector<std::vector<TOscColumn>> Out;
    TOscColumnsMemo Memo;
    for (const auto &[First, Last] : Ranges)
      for (double Scale : {0.0013, 0.01, 0.0999, 0.1, 0.37, 1.0, 2.5, 1024.0}) {
        TOscStripCache::ColumnsOf({&Caches[0], &Caches[1]}, First, Last, Scale, Out);
        for (bool Digital : {false, true}) {
          const auto Brute = Keys(BruteColumns(R.Data, Digital, First, std::min(Last, N - 1), Scale));
          EXPECT_TRUE(Keys(Out[Digital]) == Brute)
              << (Digital ? "discrete" : "analog") << " scale " << Scale << " " << First << ".." << Last << " spike "
              << Spike;
          // The memo answers anew for every other range or scale, and again alike.
          for (int Twice = 0; Twice < 2; ++Twice)
            EXPECT_TRUE(Keys(Memo.Columns({&Caches[0], &Caches[1]}, First, Last, Scale)[Digital]) == Brute);
        }
      }
  }
}

TEST(OscStripCache, IsSmallerThanTheSamplesAndFoldsToOneEntry) {
  const TRecord R(std::vector<int>(4096, 5));
  TOscStripCache Cache;
  Cache.Build(R.Data, 0, false);
  // 512 + 256 + ... + 1 entries against 4096 samples of 4 bytes: 16-bit
  // extremes for values that fit them, 1-byte ones for a discrete channel.
  EXPECT_EQ(Cache.LevelCount(), 10);
  EXPECT_EQ(Cache.Bytes(), 1023 * 4);
  int Min = 0, Max = 0;
  EXPECT_TRUE(Cache.Range(0, 4095, Min, Max));
  EXPECT_EQ(Min, 5);
  EXPECT_THROW(Cache.Build(R.Data, 1, false), EKvRange);
  Cache.Build(R.Data, 0, true);
  EXPECT_EQ(Cache.Bytes(), 1023);
  // A value past 16 bits anywhere widens the whole channel.
  std::vector<int> Wide(4096, -7);
  Wide[4095] = -40000;
  const TRecord W(Wide);
  Cache.Build(W.Data, 0, false);
  EXPECT_EQ(Cache.Bytes(), 1023 * 8);
  EXPECT_TRUE(Cache.Range(0, 4095, Min, Max));
  EXPECT_EQ(std::pair(Min, Max), std::pair(-40000, -7));
}

TEST(OscStripCache, EveryChannelOfAWideRecordEqualsBruteForce) {
  // More channels of each kind than the row-wide pass takes at a time, an
  // odd length, a missing value, and one channel past 16 bits among narrow
  // ones: ranges of every channel against the samples themselves.
  constexpr int A = 19, D = 21, N = 20011, WideChannel = 7;
  TComtradeConfig Config;
  ManyChannelConfig(Config, A, D, N);
  const QByteArray Dat = ManyChannelText(A, D, N, [](int s, int c) {
    return s == 777 && c == 18 ? QByteArray("99999") : s == 15000 && c == WideChannel ? QByteArray("70000") : "";
  });
  TComtradeData Data;
  Data.LoadFromBytes(Dat, "x.dat", &Config);
  ASSERT_TRUE(Data.IsMissing(18, 777));
  std::vector<TOscStripCache> Caches(A + D);
  std::vector<TOscStripCache *> Analog, Digital;
  for (int c = 0; c < A + D; ++c)
    (c < A ? Analog : Digital).push_back(&Caches[size_t(c)]);
  TOscStripCache::BuildAll(Data, Analog, Digital);
  for (int c = 0; c < A + D; ++c)
    EXPECT_EQ(Caches[size_t(c)].EntryBytes(), c >= A ? 1 : c == WideChannel ? 8 : 4) << c;
  int Differ = 0;
  for (const int Span : {1, 8, 13, 64, 1000, 16384})
    for (int s = 0; s < N; s += Span * 3 + 5)
      for (int c = 0; c < A + D; ++c) {
        int Lo = INT_MAX, Hi = INT_MIN;
        for (int i = s; i < std::min(N, s + Span); ++i)
          if (c >= A || !Data.IsMissing(c, i)) {
            const int V = c < A ? Data.GetRaw(c, i) : Data.GetDigitalValue(c - A, i);
            Lo = std::min(Lo, V);
            Hi = std::max(Hi, V);
          }
        int Min = 0, Max = 0;
        const bool Has = Caches[size_t(c)].Range(s, s + Span - 1, Min, Max);
        Differ += Has != (Lo <= Hi) || (Has && (Min != Lo || Max != Hi));
      }
  EXPECT_EQ(Differ, 0);
}

TEST(OscStripCache, CachesMadeWhileTheRecordIsReadEqualThoseMadeAfter) {
  // Channel counts on and off the groups the row-wide pass takes, missing
  // values here and there (the reader then leaves rows to the end), a value
  // past 16 bits, a text long enough for several cores, read from memory and
  // from a file, and a file cut short of the samples it declares.
  constexpr int N = 20011;
  for (const auto &[A, D] : {std::pair{32, 16}, {19, 21}, {3, 0}, {0, 5}})
    for (const bool Cut : {false, true}) {
      TComtradeConfig Config;
      ManyChannelConfig(Config, A, D, N + (Cut ? 500 : 0));
      const QByteArray Dat = ManyChannelText(A, D, N, [A = A](int s, int c) {
        const bool Missing = (s == 777 && c == A - 1) || (s == 9000 && c == 0) || s == N - 1;
        return Missing ? QByteArray("-99999") : s == 15000 && c == A / 2 ? QByteArray("70000") : "";
      });
      QTemporaryDir Dir;
      const QString Path = Dir.filePath("x.dat");
      QFile F(Path);
      ASSERT_TRUE(F.open(QIODevice::WriteOnly) && F.write(Dat) == Dat.size());
      F.close();
      TComtradeData After;
      After.LoadFromBytes(Dat, "x.dat", &Config);
      ASSERT_EQ(After.SampleCount(), N);
      std::vector<TOscStripCache> Made(size_t(A + D));
      std::vector<TOscStripCache *> Analog, Digital;
      for (int c = 0; c < A + D; ++c)
        (c < A ? Analog : Digital).push_back(&Made[size_t(c)]);
      TOscStripCache::BuildAll(After, Analog, Digital);
      for (const bool FromFile : {false, true}) {
        TComtradeData While;
        TOscStripBuild Build;
        if (FromFile)
          While.LoadFromFile(Path, &Config, &Build);
        else
          While.LoadFromBytes(Dat, "x.dat", &Config, &Build);
        Build.Finish(While);
        const QString Case = QStringLiteral("%1+%2%3%4").arg(A).arg(D).arg(Cut ? " cut" : "", FromFile ? " file" : "");
        int Differ = 0;
        for (int c = 0; c < A + D; ++c) {
          TOscStripCache &Cache = c < A ? Build.Analog(c) : Build.Digital(c - A);
          ASSERT_EQ(Cache.SampleCount(), N) << Case.toStdString();
          EXPECT_EQ(Cache.EntryBytes(), Made[size_t(c)].EntryBytes()) << Case.toStdString() << " channel " << c;
          EXPECT_EQ(Cache.Bytes(), Made[size_t(c)].Bytes()) << Case.toStdString() << " channel " << c;
          // Every entry of the levels a block makes, and ranges across them.
          for (const auto &[Span, Step] : {std::pair{8, 8}, {16, 16}, {64, 64}, {2048, 2048}, {1, 8}, {13, 44},
                                           {2063, 6194}, {16384, 49157}, {N, N}})
            for (int s = 0; s < N; s += Step) {
              int Min[2] = {}, Max[2] = {};
              const bool Has = Cache.Range(s, s + Span - 1, Min[0], Max[0]);
              Differ += Has != Made[size_t(c)].Range(s, s + Span - 1, Min[1], Max[1]) || Min[0] != Min[1] ||
                        Max[0] != Max[1];
            }
        }
        EXPECT_EQ(Differ, 0) << Case.toStdString();
      }
    }
}
