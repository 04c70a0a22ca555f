#include "uOscStripCache.h"

#include "uComtrade.h"
#include "uErrors.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {
constexpr int32_t NoMin = std::numeric_limits<int32_t>::max();
constexpr int32_t NoMax = std::numeric_limits<int32_t>::min();
} // namespace

bool TOscStripCache::Sample(int Index, int32_t &Value) const {
  if (FDigital) {
    Value = FData->GetDigitalValue(FChannel, Index);
    return true;
  }
  if (FData->IsMissing(FChannel, Index))
    return false;
  Value = FData->GetRaw(FChannel, Index);
  return true;
}

void TOscStripCache::Build(const TComtradeData &Data, int Channel, bool Digital) {
  const TComtradeConfig *Config = Data.Config();
  const int Channels = !Config ? 0 : Digital ? Config->DigitalCount() : Config->AnalogCount();
  if (Channel < 0 || Channel >= Channels)
    throw EKvRange("range check error: " + std::to_string(Channel));
  FData = &Data;
  FChannel = Channel;
  FDigital = Digital;
  FCount = Data.SampleCount();
  FLevels.clear();

  std::vector<TEntry> Level((size_t(FCount) + BaseSamples - 1) / BaseSamples, TEntry{NoMin, NoMax});
  for (int s = 0; s < FCount; ++s) {
    int32_t V;
    if (!Sample(s, V))
      continue;
    TEntry &E = Level[size_t(s) / BaseSamples];
    E.Min = std::min(E.Min, V);
    E.Max = std::max(E.Max, V);
  }
  FLevels.push_back(std::move(Level));
  while (FLevels.back().size() > 1) {
    const std::vector<TEntry> &Below = FLevels.back();
    std::vector<TEntry> Up((Below.size() + 1) / 2);
    for (size_t i = 0; i < Up.size(); ++i) {
      const TEntry &A = Below[2 * i];
      const TEntry &B = 2 * i + 1 < Below.size() ? Below[2 * i + 1] : TEntry{NoMin, NoMax};
      Up[i] = TEntry{std::min(A.Min, B.Min), std::max(A.Max, B.Max)};
    }
    FLevels.push_back(std::move(Up));
  }
}

bool TOscStripCache::Range(int First, int Last, int &Min, int &Max) const {
  int32_t Lo = NoMin, Hi = NoMax;
  int64_t s = std::max(First, 0);
  const int64_t End = std::min(Last, FCount - 1);
  while (s <= End) {
    // The largest aligned entry that starts here and ends inside the range.
    int Level = -1;
    int64_t Span = BaseSamples;
    while (s % Span == 0 && s + Span - 1 <= End && Level + 1 < int(FLevels.size())) {
      ++Level;
      Span *= 2;
    }
    if (Level < 0) {
      int32_t V;
      if (Sample(int(s), V)) {
        Lo = std::min(Lo, V);
        Hi = std::max(Hi, V);
      }
      ++s;
      continue;
    }
    Span /= 2;
    const TEntry &E = FLevels[size_t(Level)][size_t(s / Span)];
    Lo = std::min(Lo, E.Min);
    Hi = std::max(Hi, E.Max);
    s += Span;
  }
  if (Lo > Hi)
    return false;
  Min = Lo;
  Max = Hi;
  return true;
}

std::vector<TOscColumn> TOscStripCache::Columns(int First, int Last, double TimeScale) const {
  std::vector<TOscColumn> Out;
  First = std::max(First, 0);
  Last = std::min(Last, FCount - 1);
  if (First > Last || !(TimeScale > 0.0))
    return Out;
  auto XOf = [TimeScale](int64_t i) { return int64_t(std::nearbyint(double(i) * TimeScale)); };
  int64_t s = First;
  while (s <= Last) {
    const int64_t X = XOf(s);
    // The last sample of the column: estimate, then step to the exact edge.
    int64_t e = std::max<int64_t>(s, int64_t(std::floor((double(X) + 0.5) / TimeScale)));
    while (e > s && XOf(e) != X)
      --e;
    while (e + 1 <= Last && XOf(e + 1) == X)
      ++e;
    e = std::min<int64_t>(e, Last);
    TOscColumn C;
    C.X = int(X);
    C.FirstSample = int(s);
    int32_t V;
    C.FirstMissing = !Sample(int(s), V);
    C.HasValue = Range(int(s), int(e), C.Min, C.Max);
    Out.push_back(C);
    s = e + 1;
  }
  return Out;
}

int64_t TOscStripCache::Bytes() const {
  int64_t Sum = 0;
  for (const auto &L : FLevels)
    Sum += int64_t(L.size()) * int64_t(sizeof(TEntry));
  return Sum;
}
