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

// Index lies within the record (callers clip to it).
bool TOscStripCache::Sample(int Index, int32_t &Value) const {
  const size_t Cell = size_t(Index) * FStride + FChannel;
  if (FDigital) {
    Value = FBits[Cell];
    return true;
  }
  if (FMissing && FMissing[Cell])
    return false;
  Value = FRaw[Cell];
  return true;
}

void TOscStripCache::Bind(const TComtradeData &Data, int Channel, bool Digital) {
  const TComtradeConfig *Config = Data.Config();
  const int Channels = !Config ? 0 : Digital ? Config->DigitalCount() : Config->AnalogCount();
  if (Channel < 0 || Channel >= Channels)
    throw EKvRange("range check error: " + std::to_string(Channel));
  FChannel = Channel;
  FDigital = Digital;
  FCount = Data.SampleCount();
  FStride = size_t(Channels);
  FRaw = Data.RawCells();
  FBits = Data.DigitalCells();
  FMissing = Data.MissingCells();
  FLevels.assign(1, std::vector<TEntry>((size_t(FCount) + BaseSamples - 1) / BaseSamples, TEntry{NoMin, NoMax}));
}

void TOscStripCache::Fold() {
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

void TOscStripCache::Build(const TComtradeData &Data, int Channel, bool Digital) {
  // The others of the pass are left out.
  std::vector<TOscStripCache *> Caches(size_t(std::max(Channel + 1, 1)), nullptr);
  if (Channel >= 0)
    Caches[size_t(Channel)] = this;
  else
    Bind(Data, Channel, Digital); // throws
  BuildAll(Data, Digital ? std::vector<TOscStripCache *>{} : Caches, Digital ? Caches : std::vector<TOscStripCache *>{});
}

void TOscStripCache::BuildAll(const TComtradeData &Data, const std::vector<TOscStripCache *> &Analog,
                              const std::vector<TOscStripCache *> &Digital) {
  const TComtradeConfig *Config = Data.Config();
  const int A = Config ? Config->AnalogCount() : 0, D = Config ? Config->DigitalCount() : 0;
  std::vector<std::pair<TOscStripCache *, int>> As, Ds;
  for (size_t i = 0; i < Analog.size(); ++i)
    if (Analog[i]) {
      Analog[i]->Bind(Data, int(i), false);
      As.push_back({Analog[i], int(i)});
    }
  for (size_t i = 0; i < Digital.size(); ++i)
    if (Digital[i]) {
      Digital[i]->Bind(Data, int(i), true);
      Ds.push_back({Digital[i], int(i)});
    }
  const int N = Data.SampleCount();
  const int32_t *Raw = Data.RawCells();
  const uint8_t *Bits = Data.DigitalCells();
  const uint8_t *Missing = Data.MissingCells();
  for (int s = 0; s < N; ++s) {
    const size_t Entry = size_t(s) / BaseSamples;
    for (const auto &[C, Channel] : As) {
      const size_t Cell = size_t(s) * A + Channel;
      if (Missing && Missing[Cell])
        continue;
      TEntry &E = C->FLevels[0][Entry];
      E.Min = std::min(E.Min, Raw[Cell]);
      E.Max = std::max(E.Max, Raw[Cell]);
    }
    for (const auto &[C, Channel] : Ds) {
      const int32_t V = Bits[size_t(s) * D + Channel];
      TEntry &E = C->FLevels[0][Entry];
      E.Min = std::min(E.Min, V);
      E.Max = std::max(E.Max, V);
    }
  }
  for (const auto &[C, Channel] : As)
    C->Fold();
  for (const auto &[C, Channel] : Ds)
    C->Fold();
}

bool TOscStripCache::Range(int First, int Last, int &Min, int &Max) const {
  int32_t Lo = NoMin, Hi = NoMax;
  int64_t s = std::max(First, 0);
  const int64_t End = std::min(Last, FCount - 1);
  // Samples one by one, in a tight loop over the sample-major array.
  auto Raw = [&](int64_t From, int64_t To) {
    const size_t Cell0 = size_t(From) * FStride + FChannel;
    if (FDigital) {
      const uint8_t *P = FBits + Cell0;
      for (int64_t i = From; i < To; ++i, P += FStride) {
        Lo = std::min<int32_t>(Lo, *P);
        Hi = std::max<int32_t>(Hi, *P);
      }
      return;
    }
    const int32_t *P = FRaw + Cell0;
    const uint8_t *M = FMissing ? FMissing + Cell0 : nullptr;
    for (int64_t i = From; i < To; ++i, P += FStride) {
      if (M) {
        const bool Gap = *M;
        M += FStride;
        if (Gap)
          continue;
      }
      Lo = std::min(Lo, *P);
      Hi = std::max(Hi, *P);
    }
  };
  if (s > End)
    return false;
  // The ragged start up to the first whole entry, the whole entries (each as
  // large as alignment and range allow), then the ragged end.
  const int64_t Head = std::min(End + 1, (s + BaseSamples - 1) / BaseSamples * BaseSamples);
  if (Head + BaseSamples - 1 > End) {
    Raw(s, End + 1);
    s = End + 1;
  } else {
    Raw(s, Head);
    s = Head;
  }
  while (s + BaseSamples - 1 <= End) {
    int Level = 0;
    int64_t Span = BaseSamples;
    while (Level + 1 < int(FLevels.size()) && s % (Span * 2) == 0 && s + Span * 2 - 1 <= End) {
      ++Level;
      Span *= 2;
    }
    const TEntry &E = FLevels[size_t(Level)][size_t(s / Span)];
    Lo = std::min(Lo, E.Min);
    Hi = std::max(Hi, E.Max);
    s += Span;
  }
  Raw(s, End + 1);
  if (Lo > Hi)
    return false;
  Min = Lo;
  Max = Hi;
  return true;
}

std::vector<TOscColumn> TOscStripCache::Columns(int First, int Last, double TimeScale) const {
  std::vector<std::vector<TOscColumn>> Out;
  ColumnsOf({this}, First, Last, TimeScale, Out);
  return std::move(Out[0]);
}

void TOscStripCache::ColumnsOf(const std::vector<const TOscStripCache *> &Caches, int First, int Last,
                               double TimeScale, std::vector<std::vector<TOscColumn>> &Out) {
  Out.assign(Caches.size(), {});
  if (Caches.empty())
    return;
  First = std::max(First, 0);
  Last = std::min(Last, Caches[0]->FCount - 1);
  if (First > Last || !(TimeScale > 0.0))
    return;
  auto XOf = [TimeScale](int64_t i) { return int64_t(std::nearbyint(double(i) * TimeScale)); };
  // The column edges once for all channels, then channel by channel: each
  // walks its levels forwards, which the memory's prefetching follows.
  struct TEdge {
    int64_t X, First, Last;
  };
  std::vector<TEdge> Edges;
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
    Edges.push_back({X, s, e});
    s = e + 1;
  }
  for (size_t k = 0; k < Caches.size(); ++k) {
    const TOscStripCache &Cache = *Caches[k];
    Out[k].reserve(Edges.size());
    for (const TEdge &E : Edges) {
      TOscColumn C;
      C.X = int(E.X);
      C.FirstSample = int(E.First);
      int32_t V;
      C.FirstMissing = !Cache.Sample(C.FirstSample, V);
      C.HasValue = Cache.Range(C.FirstSample, int(E.Last), C.Min, C.Max);
      Out[k].push_back(C);
    }
  }
}

int64_t TOscStripCache::Bytes() const {
  int64_t Sum = 0;
  for (const auto &L : FLevels)
    Sum += int64_t(L.size()) * int64_t(sizeof(TEntry));
  return Sum;
}
