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
  // Level 0 entry by entry: the extremes of every channel over the entry's
  // rows, each row read once and whole (the loops over a row vectorise), then
  // handed to the channels asked for.
  std::vector<int32_t> ALo(static_cast<size_t>(A)), AHi(ALo), DLo(static_cast<size_t>(D)), DHi(DLo);
  for (int s0 = 0; s0 < N; s0 += BaseSamples) {
    const int s1 = std::min(N, s0 + BaseSamples);
    std::fill(ALo.begin(), ALo.end(), NoMin);
    std::fill(AHi.begin(), AHi.end(), NoMax);
    std::fill(DLo.begin(), DLo.end(), NoMin);
    std::fill(DHi.begin(), DHi.end(), NoMax);
    for (int s = s0; s < s1 && !As.empty(); ++s) {
      const int32_t *Row = Raw + size_t(s) * size_t(A);
      if (!Missing) {
        for (int c = 0; c < A; ++c) {
          ALo[size_t(c)] = std::min(ALo[size_t(c)], Row[c]);
          AHi[size_t(c)] = std::max(AHi[size_t(c)], Row[c]);
        }
        continue;
      }
      const uint8_t *Gap = Missing + size_t(s) * size_t(A);
      for (int c = 0; c < A; ++c) {
        ALo[size_t(c)] = std::min(ALo[size_t(c)], Gap[c] ? NoMin : Row[c]);
        AHi[size_t(c)] = std::max(AHi[size_t(c)], Gap[c] ? NoMax : Row[c]);
      }
    }
    for (int s = s0; s < s1 && !Ds.empty(); ++s) {
      const uint8_t *Row = Bits + size_t(s) * size_t(D);
      for (int c = 0; c < D; ++c) {
        DLo[size_t(c)] = std::min<int32_t>(DLo[size_t(c)], Row[c]);
        DHi[size_t(c)] = std::max<int32_t>(DHi[size_t(c)], Row[c]);
      }
    }
    const size_t Entry = size_t(s0) / BaseSamples;
    for (const auto &[C, Channel] : As)
      C->FLevels[0][Entry] = TEntry{ALo[size_t(Channel)], AHi[size_t(Channel)]};
    for (const auto &[C, Channel] : Ds)
      C->FLevels[0][Entry] = TEntry{DLo[size_t(Channel)], DHi[size_t(Channel)]};
  }
  for (const auto &[C, Channel] : As)
    C->Fold();
  for (const auto &[C, Channel] : Ds)
    C->Fold();
}

void TOscStripCache::Split(int64_t First, int64_t Last, int64_t &HeadEnd, std::vector<TPiece> &Pieces,
                           int64_t &TailBegin) const {
  // The ragged start up to the first whole entry, the whole entries (each as
  // large as alignment and range allow), then the ragged end.
  int64_t s = First;
  const int64_t Head = std::min(Last + 1, (s + BaseSamples - 1) / BaseSamples * BaseSamples);
  s = Head + BaseSamples - 1 > Last ? Last + 1 : Head;
  HeadEnd = s;
  while (s + BaseSamples - 1 <= Last) {
    int Level = 0;
    int64_t Span = BaseSamples;
    while (Level + 1 < int(FLevels.size()) && s % (Span * 2) == 0 && s + Span * 2 - 1 <= Last) {
      ++Level;
      Span *= 2;
    }
    Pieces.push_back({Level, s / Span});
    s += Span;
  }
  TailBegin = s;
}

bool TOscStripCache::Range(int First, int Last, int &Min, int &Max) const {
  const int64_t s = std::max(First, 0);
  const int64_t End = std::min(Last, FCount - 1);
  if (s > End)
    return false;
  int64_t HeadEnd = 0, TailBegin = 0;
  std::vector<TPiece> Pieces;
  Split(s, End, HeadEnd, Pieces, TailBegin);
  int32_t Lo = NoMin, Hi = NoMax;
  auto Raw = [&](int64_t From, int64_t To) {
    for (int64_t i = From; i < To; ++i) {
      int32_t V;
      if (Sample(int(i), V)) {
        Lo = std::min(Lo, V);
        Hi = std::max(Hi, V);
      }
    }
  };
  Raw(s, HeadEnd);
  for (const TPiece &P : Pieces) {
    const TEntry &E = FLevels[size_t(P.Level)][size_t(P.Index)];
    Lo = std::min(Lo, E.Min);
    Hi = std::max(Hi, E.Max);
  }
  Raw(TailBegin, End + 1);
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
  Out.resize(Caches.size());
  for (auto &O : Out)
    O.clear();
  if (Caches.empty())
    return;
  First = std::max(First, 0);
  Last = std::min(Last, Caches[0]->FCount - 1);
  if (First > Last || !(TimeScale > 0.0))
    return;
  auto XOf = [TimeScale](int64_t i) { return int64_t(std::nearbyint(double(i) * TimeScale)); };
  // Each column's split into raw ends and whole entries is found once for
  // all channels (they share the record's length, hence their levels). The
  // raw samples are then read row by row for every channel at once, since a
  // row holds all channels side by side; the entries channel by channel,
  // each walking its levels forwards as the memory's prefetching likes.
  struct TEdge {
    int64_t X, First, Last, HeadEnd, TailBegin;
    size_t Piece; // first of its pieces
  };
  std::vector<TEdge> Edges;
  std::vector<TPiece> Pieces;
  const TOscStripCache &Shape = *Caches[0];
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
    TEdge E{X, s, e, 0, 0, Pieces.size()};
    Shape.Split(s, e, E.HeadEnd, Pieces, E.TailBegin);
    Edges.push_back(E);
    s = e + 1;
  }
  const size_t K = Caches.size();
  for (size_t k = 0; k < K; ++k) {
    Out[k].resize(Edges.size());
    for (size_t j = 0; j < Edges.size(); ++j) {
      TOscColumn &C = Out[k][j];
      C.X = int(Edges[j].X);
      C.FirstSample = int(Edges[j].First);
      C.Min = NoMin;
      C.Max = NoMax;
    }
  }
  for (size_t j = 0; j < Edges.size(); ++j) {
    const TEdge &E = Edges[j];
    for (size_t k = 0; k < K; ++k) {
      TOscColumn &C = Out[k][j];
      int32_t V = 0;
      C.FirstMissing = !Caches[k]->Sample(int(E.First), V);
      C.FirstValue = C.FirstMissing ? 0 : V;
      C.LastValue = Caches[k]->Sample(int(E.Last), V) ? V : 0;
    }
    auto Rows = [&](int64_t From, int64_t To) {
      for (int64_t r = From; r < To; ++r)
        for (size_t k = 0; k < K; ++k) {
          int32_t V;
          if (Caches[k]->Sample(int(r), V)) {
            TOscColumn &C = Out[k][j];
            C.Min = std::min(C.Min, V);
            C.Max = std::max(C.Max, V);
          }
        }
    };
    Rows(E.First, E.HeadEnd);
    Rows(E.TailBegin, E.Last + 1);
  }
  for (size_t k = 0; k < K; ++k) {
    const auto &Levels = Caches[k]->FLevels;
    for (size_t j = 0; j < Edges.size(); ++j) {
      TOscColumn &C = Out[k][j];
      int32_t Lo = C.Min, Hi = C.Max;
      const size_t End = j + 1 < Edges.size() ? Edges[j + 1].Piece : Pieces.size();
      for (size_t p = Edges[j].Piece; p < End; ++p) {
        const TEntry &Entry = Levels[size_t(Pieces[p].Level)][size_t(Pieces[p].Index)];
        Lo = std::min(Lo, Entry.Min);
        Hi = std::max(Hi, Entry.Max);
      }
      C.HasValue = Lo <= Hi;
      C.Min = C.HasValue ? Lo : 0;
      C.Max = C.HasValue ? Hi : 0;
    }
  }
}

int64_t TOscStripCache::Bytes() const {
  int64_t Sum = 0;
  for (const auto &L : FLevels)
    Sum += int64_t(L.size()) * int64_t(sizeof(TEntry));
  return Sum;
}
