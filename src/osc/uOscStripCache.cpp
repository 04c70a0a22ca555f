#include "uOscStripCache.h"

#include "uComtrade.h"
#include "uErrors.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <thread>

namespace {
void Prefetch(const void *Address) {
#if defined(__GNUC__)
  __builtin_prefetch(Address);
#else
  (void)Address;
#endif
}

// Job(First, End) over 0..Count - 1 in pieces of at least MinPiece, one per
// core, each on its own thread; on this one when a single piece does.
template <class TJob> void InPieces(size_t Count, size_t MinPiece, TJob &&Job) {
  const size_t Cores = std::max(1u, std::thread::hardware_concurrency());
  const size_t Pieces = std::clamp<size_t>(Count / std::max<size_t>(MinPiece, 1), 1, Cores);
  if (Pieces == 1) {
    Job(size_t(0), Count);
    return;
  }
  std::vector<std::thread> Threads;
  for (size_t i = 0; i < Pieces; ++i)
    Threads.emplace_back([&Job, i, Pieces, Count] { Job(Count * i / Pieces, Count * (i + 1) / Pieces); });
  for (std::thread &T : Threads)
    T.join();
}

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
  FLevels.clear(); // BuildAll makes them
  static std::atomic<uint64_t> Builds{0};
  FStamp = ++Builds;
}

void TOscStripCache::Fold() {
  while (FLevels.back().size() > 1) {
    const std::vector<TEntry> &Below = FLevels.back();
    std::vector<TEntry> Up((Below.size() + 1) / 2);
    const size_t Pairs = Below.size() / 2;
    for (size_t i = 0; i < Pairs; ++i) {
      const TEntry &A = Below[2 * i], &B = Below[2 * i + 1];
      Up[i] = TEntry{std::min(A.Min, B.Min), std::max(A.Max, B.Max)};
    }
    if (Below.size() % 2)
      Up.back() = Below.back();
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
  std::vector<TOscStripCache *> All;
  for (const auto &List : {As, Ds})
    for (const auto &[C, Channel] : List)
      All.push_back(C);
  // Level 0 is allocated on the cores too: the first touch of its pages costs
  // as much as filling it.
  InPieces(All.size(), 1, [&All](size_t First, size_t End) {
    for (size_t i = First; i < End; ++i)
      All[i]->FLevels.assign(1, std::vector<TEntry>((size_t(All[i]->FCount) + BaseSamples - 1) / BaseSamples));
  });
  const int N = Data.SampleCount();
  const int32_t *Raw = Data.RawCells();
  const uint8_t *Bits = Data.DigitalCells();
  const uint8_t *Missing = Data.MissingCells();
  // Level 0 entry by entry: the extremes of every channel over the entry's
  // rows, each row read once and whole (the loops over a row vectorise), then
  // handed to the channels asked for. Pieces of entries go to the cores.
  auto Level0 = [&](size_t First, size_t End) {
    std::vector<int32_t> ALo(static_cast<size_t>(A)), AHi(ALo), DLo(static_cast<size_t>(D)), DHi(DLo);
    int32_t *__restrict Lo = ALo.data(), *__restrict Hi = AHi.data();
    int32_t *__restrict DL = DLo.data(), *__restrict DH = DHi.data();
    for (size_t Entry = First; Entry < End; ++Entry) {
      const int s0 = int(Entry) * BaseSamples, s1 = std::min(N, s0 + BaseSamples);
      std::fill(Lo, Lo + A, NoMin);
      std::fill(Hi, Hi + A, NoMax);
      std::fill(DL, DL + D, NoMin);
      std::fill(DH, DH + D, NoMax);
      for (int s = s0; s < s1 && !As.empty(); ++s) {
        const int32_t *__restrict Row = Raw + size_t(s) * size_t(A);
        if (!Missing) {
          for (int c = 0; c < A; ++c) {
            Lo[c] = std::min(Lo[c], Row[c]);
            Hi[c] = std::max(Hi[c], Row[c]);
          }
          continue;
        }
        const uint8_t *__restrict Gap = Missing + size_t(s) * size_t(A);
        for (int c = 0; c < A; ++c) {
          Lo[c] = std::min(Lo[c], Gap[c] ? NoMin : Row[c]);
          Hi[c] = std::max(Hi[c], Gap[c] ? NoMax : Row[c]);
        }
      }
      for (int s = s0; s < s1 && !Ds.empty(); ++s) {
        const uint8_t *__restrict Row = Bits + size_t(s) * size_t(D);
        for (int c = 0; c < D; ++c) {
          DL[c] = std::min<int32_t>(DL[c], Row[c]);
          DH[c] = std::max<int32_t>(DH[c], Row[c]);
        }
      }
      for (const auto &[C, Channel] : As)
        C->FLevels[0][Entry] = TEntry{Lo[Channel], Hi[Channel]};
      for (const auto &[C, Channel] : Ds)
        C->FLevels[0][Entry] = TEntry{DL[Channel], DH[Channel]};
    }
  };
  InPieces((size_t(N) + BaseSamples - 1) / BaseSamples, 256, Level0);
  // The upper levels, channel by channel, the channels shared among the cores.
  InPieces(All.size(), 1, [&All](size_t First, size_t End) {
    for (size_t i = First; i < End; ++i)
      All[i]->Fold();
  });
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
  // The rows and entries a column needs are known ahead: asking the memory
  // for them a few columns early hides most of its latency (without it a
  // dense paint spends most of its time waiting on these reads).
  constexpr size_t Ahead = 4;
  auto PrefetchRows = [&](const TEdge &E) {
    for (const TOscStripCache *C : Caches)
      if (C == Caches.front() || C->FDigital != Caches.front()->FDigital) {
        const size_t Bytes = C->FDigital ? C->FStride : C->FStride * sizeof(int32_t);
        const char *Base = C->FDigital ? reinterpret_cast<const char *>(C->FBits) : reinterpret_cast<const char *>(C->FRaw);
        for (const auto &[From, To] : {std::pair{E.First, E.HeadEnd + 1}, std::pair{E.TailBegin, E.Last + 1}})
          for (int64_t r = From; r < To; ++r)
            for (size_t b = 0; b < Bytes; b += 64)
              Prefetch(Base + size_t(r) * Bytes + b);
      }
  };
  for (size_t j = 0; j < Edges.size(); ++j) {
    const TEdge &E = Edges[j];
    if (j + Ahead < Edges.size())
      PrefetchRows(Edges[j + Ahead]);
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
      if (j + Ahead < Edges.size()) {
        const size_t End = j + Ahead + 1 < Edges.size() ? Edges[j + Ahead + 1].Piece : Pieces.size();
        for (size_t p = Edges[j + Ahead].Piece; p < End; ++p)
          Prefetch(&Levels[size_t(Pieces[p].Level)][size_t(Pieces[p].Index)]);
      }
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

const std::vector<std::vector<TOscColumn>> &TOscColumnsMemo::Columns(const std::vector<const TOscStripCache *> &Caches,
                                                                      int First, int Last, double TimeScale) {
  std::vector<uint64_t> Stamps;
  for (const TOscStripCache *C : Caches)
    Stamps.push_back(C->Stamp());
  if (Caches != FCaches || Stamps != FStamps || First != FFirst || Last != FLast || TimeScale != FScale) {
    TOscStripCache::ColumnsOf(Caches, First, Last, TimeScale, FColumns);
    FCaches = Caches;
    FStamps = std::move(Stamps);
    FFirst = First, FLast = Last, FScale = TimeScale;
  }
  return FColumns;
}
