#include "uOscStripCache.h"

#include "uComtrade.h"
#include "uErrors.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>
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

} // namespace

TEST(OscStripCache, ColumnsEqualBruteForceAtEveryScaleAndEdge) {
  // An odd length, a noisy wave, one spike, and a run of gaps.
  constexpr int N = 10007;
  std::vector<int> Raw(N);
  std::vector<bool> Missing(N);
  for (int s = 0; s < N; ++s)
    Raw[s] = int(1000 * std::sin(s * 0.01) + (s * 7919 % 13) - 6);
  Raw[4321] = 30000;
  for (int s = 7000; s < 7100; ++s)
    Missing[s] = true;
  const TRecord R(Raw, Missing);
  // Both channels in one pass, as a paint asks for them.
  TOscStripCache Caches[2];
  TOscStripCache::BuildAll(R.Data, {&Caches[0]}, {&Caches[1]});
  ASSERT_EQ(Caches[1].SampleCount(), N);
  const std::pair<int, int> Ranges[] = {{0, N - 1}, {3, 4324}, {4321, 4321}, {6990, 7105}, {7003, 7080}, {9999, 20000}};
  std::vector<std::vector<TOscColumn>> Out;
  TOscColumnsMemo Memo;
  for (const auto &[First, Last] : Ranges)
    for (double Scale : {0.0013, 0.01, 0.0999, 0.1, 0.37, 1.0, 2.5, 1024.0}) {
      TOscStripCache::ColumnsOf({&Caches[0], &Caches[1]}, First, Last, Scale, Out);
      for (bool Digital : {false, true}) {
        const auto Brute = Keys(BruteColumns(R.Data, Digital, First, std::min(Last, N - 1), Scale));
        EXPECT_TRUE(Keys(Out[Digital]) == Brute)
            << (Digital ? "discrete" : "analog") << " scale " << Scale << " " << First << ".." << Last;
        // The memo answers anew for every other range or scale, and again alike.
        for (int Twice = 0; Twice < 2; ++Twice)
          EXPECT_TRUE(Keys(Memo.Columns({&Caches[0], &Caches[1]}, First, Last, Scale)[Digital]) == Brute);
      }
    }
}

TEST(OscStripCache, IsSmallerThanTheSamplesAndFoldsToOneEntry) {
  const TRecord R(std::vector<int>(4096, 5));
  TOscStripCache Cache;
  Cache.Build(R.Data, 0, false);
  // 512 + 256 + ... + 1 entries of 8 bytes against 4096 samples of 4 bytes.
  EXPECT_EQ(Cache.LevelCount(), 10);
  EXPECT_EQ(Cache.Bytes(), 1023 * 8);
  int Min = 0, Max = 0;
  EXPECT_TRUE(Cache.Range(0, 4095, Min, Max));
  EXPECT_EQ(Min, 5);
  EXPECT_THROW(Cache.Build(R.Data, 1, false), EKvRange);
}

TEST(OscStripCache, TheLevelMadeWhileLoadingEqualsOneBuiltAfter) {
  // A record wide and long enough to be parsed in pieces on several cores,
  // whose seams fall inside entries; with a missing value the level made
  // while loading is left aside. Read from memory and from a file.
  constexpr int A = 19, D = 21, N = 60013;
  TComtradeConfig Config;
  TComtradeConfigTool T;
  T.SetConfig(&Config);
  for (int c = 0; c < A; ++c)
    T.AddAnalogChannel(TComtradeAnalogChannel{});
  for (int c = 0; c < D; ++c)
    T.AddDigitalChannel(TComtradeDigitalChannel{});
  T.SetRateCount(1);
  T.SetRateSamples(0, 1800);
  T.SetRateEndSample(0, N - 1);
  QByteArray Dat;
  for (int s = 0; s < N; ++s) {
    Dat += QByteArray::number(s) + "," + QByteArray::number(s * 555);
    for (int c = 0; c < A; ++c)
      Dat += "," + QByteArray::number(int(20000 * std::sin(s * 0.003 * (c + 1))) + (s * 7919 + c) % 301 - 150);
    for (int c = 0; c < D; ++c)
      Dat += (s / (c + 3)) % 7 == 0 ? ",1" : ",0";
    Dat += "\r\n";
  }
  QByteArray Gap = Dat;
  // The first analog value of a line a third of the way in.
  const qsizetype Line = Gap.indexOf('\n', Gap.size() / 3) + 1;
  const qsizetype Field = Gap.indexOf(',', Gap.indexOf(',', Line) + 1) + 1;
  Gap.replace(Field, Gap.indexOf(',', Field) - Field, "99999");
  for (const QByteArray *Text : {&Dat, &Gap})
    for (const bool FromFile : {false, true}) {
      TComtradeData Data;
      TOscStripGather Gather;
      Data.SetRowSink(&Gather);
      QTemporaryDir Dir;
      if (FromFile) {
        QFile F(Dir.filePath("x.dat"));
        ASSERT_TRUE(F.open(QIODevice::WriteOnly));
        F.write(*Text);
        F.close();
        Data.LoadFromFile(Dir.filePath("x.dat"), &Config);
      } else {
        Data.LoadFromBytes(*Text, "x.dat", &Config);
      }
      ASSERT_EQ(Data.SampleCount(), N);
      ASSERT_EQ(Data.MissingCells() != nullptr, Text == &Gap);
      std::vector<TOscStripCache> Made(A + D), Built(A + D);
      std::vector<TOscStripCache *> MadeA, MadeD, BuiltA, BuiltD;
      for (int c = 0; c < A + D; ++c) {
        (c < A ? MadeA : MadeD).push_back(&Made[size_t(c)]);
        (c < A ? BuiltA : BuiltD).push_back(&Built[size_t(c)]);
      }
      TOscStripCache::BuildAll(Data, MadeA, MadeD, &Gather);
      TOscStripCache::BuildAll(Data, BuiltA, BuiltD);
      std::vector<const TOscStripCache *> M, B;
      for (int c = 0; c < A + D; ++c) {
        M.push_back(&Made[size_t(c)]);
        B.push_back(&Built[size_t(c)]);
      }
      for (const double Scale : {0.0007, 0.013, 0.1, 1.0}) {
        std::vector<std::vector<TOscColumn>> Mo, Bo;
        TOscStripCache::ColumnsOf(M, 0, N - 1, Scale, Mo);
        TOscStripCache::ColumnsOf(B, 0, N - 1, Scale, Bo);
        int Differ = 0;
        for (int c = 0; c < A + D; ++c)
          Differ += Keys(Mo[size_t(c)]) != Keys(Bo[size_t(c)]);
        EXPECT_EQ(Differ, 0) << "scale " << Scale << (FromFile ? " from a file" : " from memory")
                             << (Text == &Gap ? " with a gap" : "");
      }
      // Every entry of every level, through ranges aligned to them.
      int Differ = 0;
      for (int Span = 8; Span < N; Span *= 2)
        for (int s = 0; s < N; s += Span)
          for (const int c : {0, A - 1, A, A + D - 1}) {
            int Lo1 = 0, Hi1 = 0, Lo2 = 0, Hi2 = 0;
            const bool H1 = Made[size_t(c)].Range(s, s + Span - 1, Lo1, Hi1),
                       H2 = Built[size_t(c)].Range(s, s + Span - 1, Lo2, Hi2);
            Differ += H1 != H2 || (H1 && (Lo1 != Lo2 || Hi1 != Hi2));
          }
      EXPECT_EQ(Differ, 0);
    }
}
