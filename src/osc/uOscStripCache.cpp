#include "uOscStripCache.h"

#include "uComtrade.h"
#include "uErrors.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <cstdlib>
#include <cstring>
#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#endif
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <thread>
#include <tuple>
#include <type_traits>
#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace {
void Prefetch(const void *Address) {
#if defined(__GNUC__)
  __builtin_prefetch(Address);
#else
  (void)Address;
#endif
}

// Count entries from Stage to To: whole lines past the caches where To is
// aligned to lines, else stored as usual.
template <class E> void WriteOut(const E *Stage, E *To, size_t Count) {
  const size_t Bytes = Count * sizeof(E);
#if defined(__SSE2__)
  if (Bytes % 64 == 0 && reinterpret_cast<uintptr_t>(To) % 64 == 0) {
    const __m128i *From = reinterpret_cast<const __m128i *>(Stage);
    __m128i *Out = reinterpret_cast<__m128i *>(To);
    for (size_t i = 0; i < Bytes / 16; ++i)
      _mm_stream_si128(Out + i, _mm_load_si128(From + i));
    return;
  }
#endif
  std::memcpy(To, Stage, Bytes);
}
// Stores past the caches are ordered only by a fence.
void StreamFence() {
#if defined(__SSE2__)
  _mm_sfence();
#endif
}

constexpr int32_t NoMin = std::numeric_limits<int32_t>::max();
constexpr int32_t NoMax = std::numeric_limits<int32_t>::min();
// Memory for the levels of a build, not zeroed (the build writes every
// entry). In pages of 2 MB where the system has them: a build of a long record
// otherwise spends as long in the faults of fresh 4 kB pages as in its work.
std::shared_ptr<void> LevelMemory(size_t Bytes) {
  constexpr size_t Huge = size_t(2) << 20;
  if (Bytes < Huge)
    return std::shared_ptr<void>(::operator new(std::max<size_t>(Bytes, 1), std::align_val_t(64)),
                                 [](void *P) { ::operator delete(P, std::align_val_t(64)); });
  Bytes = (Bytes + Huge - 1) / Huge * Huge;
  void *P = std::aligned_alloc(Huge, Bytes);
  if (!P)
    throw std::bad_alloc();
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  madvise(P, Bytes, MADV_HUGEPAGE);
#endif
  return std::shared_ptr<void>(P, std::free);
}
// Extremes of each column of Count rows (Count >= 1) of Width cells, rows
// Stride cells apart, into Lo and Hi: the rows are read in the order they lie
// and every channel of a row at once, as wide as the processor allows.
template <class T> void ColumnExtremes(const T *Rows, size_t Width, size_t Stride, size_t Count, T *Lo, T *Hi) {
  std::copy(Rows, Rows + Width, Lo);
  std::copy(Rows, Rows + Width, Hi);
  for (size_t r = 1; r < Count; ++r) {
    const T *Row = Rows + r * Stride;
    for (size_t c = 0; c < Width; ++c) {
      Lo[c] = std::min(Lo[c], Row[c]);
      Hi[c] = std::max(Hi[c], Row[c]);
    }
  }
}

#if defined(__GNUC__) && defined(__x86_64__)
#define KV_EXTREMES_AVX2 1
[[gnu::target("avx2")]] void ColumnExtremesAvx2(const int32_t *Rows, size_t Width, size_t Stride, size_t Count,
                                                int32_t *Lo, int32_t *Hi) {
  size_t c = 0;
  for (; c + 8 <= Width; c += 8) {
    __m256i L = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(Rows + c)), H = L;
    for (size_t r = 1; r < Count; ++r) {
      const __m256i V = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(Rows + r * Stride + c));
      L = _mm256_min_epi32(L, V);
      H = _mm256_max_epi32(H, V);
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(Lo + c), L);
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(Hi + c), H);
  }
  if (c < Width)
    ColumnExtremes(Rows + c, Width - c, Stride, Count, Lo + c, Hi + c);
}
[[gnu::target("avx2")]] void ColumnExtremesAvx2(const uint8_t *Rows, size_t Width, size_t Stride, size_t Count,
                                                uint8_t *Lo, uint8_t *Hi) {
  size_t c = 0;
  for (; c + 16 <= Width; c += 16) {
    __m128i L = _mm_loadu_si128(reinterpret_cast<const __m128i *>(Rows + c)), H = L;
    for (size_t r = 1; r < Count; ++r) {
      const __m128i V = _mm_loadu_si128(reinterpret_cast<const __m128i *>(Rows + r * Stride + c));
      L = _mm_min_epu8(L, V);
      H = _mm_max_epu8(H, V);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i *>(Lo + c), L);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(Hi + c), H);
  }
  if (c < Width)
    ColumnExtremes(Rows + c, Width - c, Stride, Count, Lo + c, Hi + c);
}
const bool HasAvx2 = [] {
  __builtin_cpu_init();
  return bool(__builtin_cpu_supports("avx2"));
}();

// A discrete entry's flags (TOscStripCache::HasOne, HasZero).
constexpr uint8_t HasOneFlag = 1, HasZeroFlag = 2;

// Rows and columns of a square of 8 x 8 words or 16 x 16 bytes swapped.
[[gnu::target("avx2")]] inline void Transpose(__m256i (&R)[8]) {
  __m256i T[8], U[8];
  for (int i = 0; i < 4; ++i) {
    T[2 * i] = _mm256_unpacklo_epi32(R[2 * i], R[2 * i + 1]);
    T[2 * i + 1] = _mm256_unpackhi_epi32(R[2 * i], R[2 * i + 1]);
  }
  for (int i = 0; i < 2; ++i) {
    U[4 * i] = _mm256_unpacklo_epi64(T[4 * i], T[4 * i + 2]);
    U[4 * i + 1] = _mm256_unpackhi_epi64(T[4 * i], T[4 * i + 2]);
    U[4 * i + 2] = _mm256_unpacklo_epi64(T[4 * i + 1], T[4 * i + 3]);
    U[4 * i + 3] = _mm256_unpackhi_epi64(T[4 * i + 1], T[4 * i + 3]);
  }
  for (int i = 0; i < 4; ++i) {
    R[i] = _mm256_permute2x128_si256(U[i], U[i + 4], 0x20);
    R[i + 4] = _mm256_permute2x128_si256(U[i], U[i + 4], 0x31);
  }
}
[[gnu::target("avx2")]] inline void Transpose(__m128i (&R)[16]) {
  // Four rounds of interleaving row i with row i + 8.
  __m128i T[16];
  for (int Round = 0; Round < 4; ++Round) {
    for (int i = 0; i < 8; ++i) {
      T[2 * i] = _mm_unpacklo_epi8(R[i], R[i + 8]);
      T[2 * i + 1] = _mm_unpackhi_epi8(R[i], R[i + 8]);
    }
    std::copy(T, T + 16, R);
  }
}

// Sixteen level 0 entries of a block at once, from the 128 rows at Raw (A
// analog channels) and Dig (D discrete ones), none missing: those of analog
// channel c as 16-bit pairs (minimum first) at Narrow + c * Stride, those of
// discrete channel d at Bits + d * Stride. Each channel's entries are made
// side by side with seven others' and turned into rows of its own, so that
// nothing is stored a channel at a time. Channels past the last whole group
// of 8 analog or 16 discrete ones are left out. Bad[g] gets bit k set where
// analog channel 8g + k leaves 16 bits.
[[gnu::target("avx2")]] void StageSixteen(const int32_t *Raw, size_t A, const uint8_t *Dig, size_t D, uint32_t *Narrow,
                                          uint8_t *Bits, size_t Stride, uint8_t *Bad) {
  constexpr size_t Rows = 8; // samples of an entry
  const __m256i Low = _mm256_set1_epi32(INT16_MIN), High = _mm256_set1_epi32(INT16_MAX);
  // A lane's words L0 L1 L2 L3 H0 H1 H2 H3 as L0 H0 L1 H1 L2 H2 L3 H3.
  const __m256i Pairs = _mm256_setr_epi8(0, 1, 8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15, 0, 1, 8, 9, 2, 3, 10,
                                         11, 4, 5, 12, 13, 6, 7, 14, 15);
  for (size_t g = 0; g < A / 8; ++g)
    for (size_t Half = 0; Half < 2; ++Half) {
      __m256i P[8];
      int Over = 0;
      for (size_t j = 0; j < 8; ++j) {
        const int32_t *R = Raw + (Half * 8 + j) * Rows * A + g * 8;
        __m256i L = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(R)), H = L;
        for (size_t r = 1; r < Rows; ++r) {
          const __m256i V = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(R + r * A));
          L = _mm256_min_epi32(L, V);
          H = _mm256_max_epi32(H, V);
        }
        Over |= _mm256_movemask_ps(
            _mm256_castsi256_ps(_mm256_or_si256(_mm256_cmpgt_epi32(Low, L), _mm256_cmpgt_epi32(H, High))));
        P[j] = _mm256_shuffle_epi8(_mm256_packs_epi32(L, H), Pairs);
      }
      Bad[g] |= uint8_t(Over);
      Transpose(P);
      for (size_t k = 0; k < 8; ++k)
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(Narrow + (g * 8 + k) * Stride + Half * 8), P[k]);
    }
  const __m128i Zero = _mm_setzero_si128(), One = _mm_set1_epi8(HasOneFlag), NoOne = _mm_set1_epi8(HasZeroFlag);
  for (size_t h = 0; h < D / 16; ++h) {
    __m128i F[16];
    for (size_t j = 0; j < 16; ++j) {
      const uint8_t *R = Dig + j * Rows * D + h * 16;
      __m128i L = _mm_loadu_si128(reinterpret_cast<const __m128i *>(R)), H = L;
      for (size_t r = 1; r < Rows; ++r) {
        const __m128i V = _mm_loadu_si128(reinterpret_cast<const __m128i *>(R + r * D));
        L = _mm_min_epu8(L, V);
        H = _mm_max_epu8(H, V);
      }
      F[j] = _mm_or_si128(_mm_andnot_si128(_mm_cmpeq_epi8(H, Zero), One),
                          _mm_and_si128(_mm_cmpeq_epi8(L, Zero), NoOne));
    }
    Transpose(F);
    for (size_t k = 0; k < 16; ++k)
      _mm_storeu_si128(reinterpret_cast<__m128i *>(Bits + (h * 16 + k) * Stride), F[k]);
  }
}

// Entries Up[0..Count - 1] of a level from Below[0..2 * Count - 1], entries
// of two 16-bit halves (minimum low): eight at a time; the number done.
[[gnu::target("avx2")]] size_t FoldNarrowAvx2(const void *Below, void *Up, size_t Count) {
  const __m256i *B = static_cast<const __m256i *>(Below);
  __m256i *U = static_cast<__m256i *>(Up);
  size_t i = 0;
  for (; i + 8 <= Count; i += 8) {
    __m256i R[2];
    for (int h = 0; h < 2; ++h) {
      // Each even entry beside the odd one after it; the result in the even.
      const __m256i V = _mm256_loadu_si256(B + i / 4 + size_t(h)), S = _mm256_srli_epi64(V, 32);
      R[h] = _mm256_blend_epi16(_mm256_min_epi16(V, S), _mm256_max_epi16(V, S), 0xAA);
    }
    const __m256i Even = _mm256_castps_si256(
        _mm256_shuffle_ps(_mm256_castsi256_ps(R[0]), _mm256_castsi256_ps(R[1]), _MM_SHUFFLE(2, 0, 2, 0)));
    _mm256_storeu_si256(U + i / 8, _mm256_permute4x64_epi64(Even, _MM_SHUFFLE(3, 1, 2, 0)));
  }
  return i;
}
// The same for discrete entries (one byte, folded by "or"), 32 at a time.
[[gnu::target("avx2")]] size_t FoldBitsAvx2(const void *Below, void *Up, size_t Count) {
  const __m256i *B = static_cast<const __m256i *>(Below);
  __m256i *U = static_cast<__m256i *>(Up);
  const __m256i Low = _mm256_set1_epi16(0xFF);
  size_t i = 0;
  for (; i + 32 <= Count; i += 32) {
    __m256i R[2];
    for (int h = 0; h < 2; ++h) {
      const __m256i V = _mm256_loadu_si256(B + i / 16 + size_t(h));
      R[h] = _mm256_and_si256(_mm256_or_si256(V, _mm256_srli_epi16(V, 8)), Low);
    }
    _mm256_storeu_si256(U + i / 32, _mm256_permute4x64_epi64(_mm256_packus_epi16(R[0], R[1]), _MM_SHUFFLE(3, 1, 2, 0)));
  }
  return i;
}
#endif

template <class T> void RowExtremes(const T *Rows, size_t Width, size_t Count, T *Lo, T *Hi) {
#ifdef KV_EXTREMES_AVX2
  if (HasAvx2) {
    ColumnExtremesAvx2(Rows, Width, Width, Count, Lo, Hi);
    return;
  }
#endif
  ColumnExtremes(Rows, Width, Width, Count, Lo, Hi);
}
} // namespace

void OscInPieces(size_t Count, size_t MinPiece, const std::function<void(size_t, size_t)> &Job) {
  const size_t Cores = std::max(1u, std::thread::hardware_concurrency());
  const size_t Pieces = std::clamp<size_t>(Count / std::max<size_t>(MinPiece, 1), 1, Cores);
  if (Pieces == 1) {
    if (Count)
      Job(size_t(0), Count);
    return;
  }
  std::vector<std::thread> Threads;
  for (size_t i = 1; i < Pieces; ++i)
    Threads.emplace_back([&Job, i, Pieces, Count] { Job(Count * i / Pieces, Count * (i + 1) / Pieces); });
  Job(0, Count / Pieces);
  for (std::thread &T : Threads)
    T.join();
}

void TOscStripCache::Bind(const TComtradeData &Data, int Channel, bool Digital) {
  const TComtradeConfig *Config = Data.Config();
  const int Channels = !Config ? 0 : Digital ? Config->DigitalCount() : Config->AnalogCount();
  if (Channel < 0 || Channel >= Channels)
    throw EKvRange("range check error: " + std::to_string(Channel));
  FChannel = Channel;
  FDigital = Digital;
  FWide = false;
  FCount = Data.SampleCount();
  FStride = size_t(Channels);
  FRaw = Data.RawCells();
  FBits = Data.DigitalCells();
  FMissing = Data.MissingCells();
  FStart = LevelStarts(FCount);
  FBlock.reset();
  FEntries = nullptr;
  static std::atomic<uint64_t> Builds{0};
  FStamp = ++Builds;
}

std::vector<size_t> TOscStripCache::LevelStarts(int Count) {
  // Each level half the one below, rounded up, down to one entry. A level of
  // 64 entries or more starts on a line, so that a block's part of it is
  // written out a line at a time.
  std::vector<size_t> Start(1, 0);
  size_t Size = (size_t(std::max(Count, 0)) + BaseSamples - 1) / BaseSamples;
  for (;;) {
    Start.push_back(Start.back() + Size);
    if (Size <= 1)
      break;
    Size = (Size + 1) / 2;
    if (Size >= LineEntries)
      Start.back() = (Start.back() + LineEntries - 1) / LineEntries * LineEntries;
  }
  return Start;
}

void TOscStripCache::FillRows(const TComtradeData &Data, const uint8_t *Missing, size_t First, size_t End,
                              TOscStripCache *const *Analog, size_t AnalogCount, TOscStripCache *const *Digital,
                              size_t DigitalCount, std::atomic<bool> *Overflow, uint8_t *Folded) {
  const size_t N = size_t(Data.SampleCount());
  const size_t AnalogWidth = size_t(Data.Config()->AnalogCount()), DigitalWidth = size_t(Data.Config()->DigitalCount());
  int32_t Lo[ComtradeMaxChannels], Hi[ComtradeMaxChannels];
  uint8_t BitLo[ComtradeMaxChannels], BitHi[ComtradeMaxChannels];
  // The caches by kind, so that an entry's stores take no branch.
  struct TOut {
    size_t Channel;
    TOscStripCache *Cache;
  };
  TOut Narrow[ComtradeMaxChannels], Wide[ComtradeMaxChannels], Bits[ComtradeMaxChannels];
  size_t NarrowCount = 0, WideCount = 0, BitCount = 0;
  for (size_t c = 0; c < AnalogCount; ++c)
    if (Analog[c])
      (Analog[c]->FWide ? Wide[WideCount++] : Narrow[NarrowCount++]) = TOut{c, Analog[c]};
  for (size_t c = 0; c < DigitalCount; ++c)
    if (Digital[c])
      Bits[BitCount++] = TOut{c, Digital[c]};
  bool Bad[ComtradeMaxChannels] = {}; // by narrow cache
  // The level 0 entries of a block are gathered channel by channel, the
  // block's levels above them made there, and all written out a line at a
  // time past the caches (fresh memory that nothing reads soon): stored one
  // by one into as many lines as channels, each store would first wait for
  // its line to come from memory.
  thread_local std::vector<TNarrow> NarrowStage;
  thread_local std::vector<TBits> BitStage;
  NarrowStage.resize(NarrowCount * BlockEntries);
  BitStage.resize(BitCount * BlockEntries);
  // A record whose analog channels all have narrow caches and whose
  // discrete ones all have theirs is made sixteen entries at a time where
  // no sample is missing; what no whole group of channels holds, and every
  // other record, entry by entry.
  static_assert(HasOne == HasOneFlag && HasZero == HasZeroFlag && sizeof(TNarrow) == 4 && sizeof(TBits) == 1);
  bool Sixteen = false;
#ifdef KV_EXTREMES_AVX2
  Sixteen = HasAvx2 && NarrowCount == AnalogCount && !WideCount && BitCount == DigitalCount;
#endif
  const size_t NarrowRest = Sixteen ? AnalogCount / 8 * 8 : 0, BitRest = Sixteen ? DigitalCount / 16 * 16 : 0;
  uint8_t BadGroups[ComtradeMaxChannels / 8 + 1] = {};
  // Entry e at At of the stage, its narrow caches from From, its discrete
  // ones from BitFrom.
  auto Entry = [&](size_t e, size_t At, size_t From, size_t BitFrom) {
    const size_t s0 = e * BaseSamples, Rows = std::min(N, s0 + BaseSamples) - s0;
    if (AnalogCount && Missing && std::memchr(Missing + s0 * AnalogWidth, 1, Rows * AnalogWidth)) {
      // An entry with a missing sample leaves it out, channel by channel;
      // one with none marked as Min > Max in 16 bits, which every width takes.
      for (size_t c = 0; c < AnalogCount; ++c) {
        int32_t L = NoMin, H = NoMax;
        for (size_t r = s0; r < s0 + Rows; ++r)
          if (!Missing[r * AnalogWidth + c]) {
            L = std::min(L, Data.RawCells()[r * AnalogWidth + c]);
            H = std::max(H, Data.RawCells()[r * AnalogWidth + c]);
          }
        Lo[c] = L <= H ? L : INT16_MAX;
        Hi[c] = L <= H ? H : INT16_MIN;
      }
    } else if (AnalogCount > From) {
      RowExtremes(Data.RawCells() + s0 * AnalogWidth, AnalogWidth, Rows, Lo, Hi);
    }
    for (size_t n = From; n < NarrowCount; ++n) {
      const int32_t L = Lo[Narrow[n].Channel], H = Hi[Narrow[n].Channel];
      Bad[n] |= (L < INT16_MIN) | (H > INT16_MAX);
      NarrowStage[n * BlockEntries + At] = TNarrow{int16_t(L), int16_t(H)};
    }
    for (size_t w = 0; w < WideCount; ++w)
      Wide[w].Cache->Level<TWide>(0)[e] = TWide{Lo[Wide[w].Channel], Hi[Wide[w].Channel]};
    if (DigitalCount > BitFrom) {
      RowExtremes(Data.DigitalCells() + s0 * DigitalWidth, DigitalWidth, Rows, BitLo, BitHi);
      for (size_t d = BitFrom; d < BitCount; ++d)
        BitStage[d * BlockEntries + At] =
            TBits{uint8_t((BitHi[Bits[d].Channel] ? HasOne : 0) | (BitLo[Bits[d].Channel] ? 0 : HasZero))};
    }
  };
  for (size_t e = First; e < End;) {
    const size_t c0 = e, c1 = std::min(End, (e / BlockEntries + 1) * BlockEntries);
    while (e < c1) {
      const size_t s0 = e * BaseSamples, Span = 16 * BaseSamples;
#ifdef KV_EXTREMES_AVX2
      if (Sixteen && e + 16 <= c1 && s0 + Span <= N &&
          !(Missing && std::memchr(Missing + s0 * AnalogWidth, 1, Span * AnalogWidth))) {
        StageSixteen(Data.RawCells() + s0 * AnalogWidth, AnalogWidth, Data.DigitalCells() + s0 * DigitalWidth,
                     DigitalWidth, reinterpret_cast<uint32_t *>(NarrowStage.data()) + (e - c0),
                     reinterpret_cast<uint8_t *>(BitStage.data()) + (e - c0), BlockEntries, BadGroups);
        if (NarrowRest < AnalogCount || BitRest < DigitalCount)
          for (size_t i = e; i < e + 16; ++i)
            Entry(i, i - c0, NarrowRest, BitRest);
        e += 16;
        continue;
      }
#endif
      Entry(e, e - c0, 0, 0);
      ++e;
    }
    // A whole block gets its levels above too; the record's short last
    // block and the pieces of one are folded in place once complete.
    const bool Whole = Folded && c1 - c0 == BlockEntries;
    for (size_t n = 0; n < NarrowCount; ++n)
      Narrow[n].Cache->WriteBlock(&NarrowStage[n * BlockEntries], c0, c1 - c0, Whole);
    for (size_t d = 0; d < BitCount; ++d)
      Bits[d].Cache->WriteBlock(&BitStage[d * BlockEntries], c0, c1 - c0, Whole);
    if (Whole) {
      for (size_t w = 0; w < WideCount; ++w)
        Wide[w].Cache->Fold(c0, c1, 1, Wide[w].Cache->LineLevels());
      Folded[c0 / BlockEntries] = 1;
    }
  }
  StreamFence();
  for (size_t n = 0; n < NarrowRest; ++n)
    Bad[n] |= (BadGroups[n / 8] >> (n % 8)) & 1;
  for (size_t n = 0; n < NarrowCount; ++n)
    if (Bad[n])
      Overflow[Narrow[n].Channel].store(true, std::memory_order_relaxed);
}

template <class E> void TOscStripCache::WriteBlock(const E *Stage, size_t First, size_t Count, bool Levels) {
  WriteOut(Stage, Level<E>(0) + First, Count);
  if (!Levels)
    return;
  E Up[BlockEntries];
  for (int K = 1; K <= LineLevels() && K < LevelCount(); ++K) {
    Count /= 2;
    FoldPairs(Stage, Up, Count);
    WriteOut(Up, Level<E>(K) + (First >> K), Count);
    Stage = Up;
  }
}

template <class E> void TOscStripCache::FoldPairs(const E *Below, E *Up, size_t Count) {
  size_t i = 0;
#ifdef KV_EXTREMES_AVX2
  if (HasAvx2) {
    if constexpr (std::is_same_v<E, TNarrow>)
      i = FoldNarrowAvx2(Below, Up, Count);
    else if constexpr (std::is_same_v<E, TBits>)
      i = FoldBitsAvx2(Below, Up, Count);
  }
#endif
  for (; i < Count; ++i)
    if constexpr (std::is_same_v<E, TBits>)
      Up[i] = TBits{uint8_t(Below[2 * i].Flags | Below[2 * i + 1].Flags)};
    else
      Up[i] = E{std::min(Below[2 * i].Min, Below[2 * i + 1].Min), std::max(Below[2 * i].Max, Below[2 * i + 1].Max)};
}

template <class E> void TOscStripCache::FoldAs(size_t First, size_t End, int From, int Top) {
  for (int K = From; K <= Top && K < LevelCount(); ++K) {
    const E *Below = Level<E>(K - 1);
    const size_t BelowSize = LevelSize(K - 1);
    E *Up = Level<E>(K);
    const size_t To = (End + (size_t(1) << K) - 1) >> K;
    // Whole pairs in a loop of their own, which the compiler can widen; an
    // odd last entry is carried up alone.
    const size_t Pairs = std::min(To, BelowSize / 2);
    const size_t i = First >> K;
    if (i < Pairs)
      FoldPairs(Below + 2 * i, Up + i, Pairs - i);
    if (Pairs < To)
      Up[Pairs] = Below[2 * Pairs];
  }
}

void TOscStripCache::Fold(size_t First, size_t End, int From, int Top) {
  if (FDigital)
    FoldAs<TBits>(First, End, From, Top);
  else if (FWide)
    FoldAs<TWide>(First, End, From, Top);
  else
    FoldAs<TNarrow>(First, End, From, Top);
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

void TOscStripCache::Allocate(const std::vector<TOscStripCache *> &All) {
  // Each cache from a line of its own, so that its level 0 is written out a
  // line at a time.
  auto Span = [](const TOscStripCache *C) { return (C->FStart.back() * size_t(C->EntryBytes()) + 63) / 64 * 64; };
  size_t Total = 0;
  for (const TOscStripCache *C : All)
    Total += Span(C);
  std::shared_ptr<void> Block = LevelMemory(Total);
  Total = 0;
  for (TOscStripCache *C : All) {
    C->FBlock = Block;
    C->FEntries = static_cast<char *>(Block.get()) + Total;
    Total += Span(C);
  }
}

void TOscStripCache::Pass(const TComtradeData &Data, const std::vector<TOscStripCache *> &All,
                          const std::vector<TOscStripCache *> &Analog, const std::vector<TOscStripCache *> &Digital,
                          std::atomic<bool> *Overflow, const uint8_t *Done, uint8_t *Folded) {
  // Blocks of rows go to the cores; within a block every channel of the
  // rows at once while they are at hand (FillRows), then the levels above
  // the block's entries while those are.
  const uint8_t *Missing = Data.MissingCells();
  const size_t Entries = All.front()->LevelSize(0);
  const size_t Blocks = (Entries + BlockEntries - 1) / BlockEntries;
  auto Rows = [&](size_t e0, size_t e1) {
    FillRows(Data, Missing, e0, e1, Analog.data(), Analog.size(), Digital.data(), Digital.size(), Overflow, Folded);
  };
  // Taken a few at a time by whichever thread is free: on a shared machine a
  // thread may wait long for its core, and a fixed share would make the
  // whole pass wait for it.
  constexpr size_t Take = 16;
  std::atomic<size_t> Next{0};
  const size_t Threads = std::max<size_t>(1, std::min<size_t>(std::thread::hardware_concurrency(), Blocks / Take));
  OscInPieces(Threads, 1, [&](size_t, size_t) {
    for (size_t First; (First = Next.fetch_add(Take)) < Blocks;)
      for (size_t b = First; b < std::min(Blocks, First + Take); ++b) {
        const size_t e0 = b * BlockEntries, e1 = std::min(Entries, e0 + BlockEntries);
        if (Folded[b])
          continue;
        if (!Done)
          Rows(e0, e1);
        else
          for (size_t e = e0; e < e1;) {
            const size_t From = size_t(std::find(Done + e, Done + e1, 0) - Done);
            const size_t To = size_t(std::find(Done + From, Done + e1, 1) - Done);
            if (From < To)
              Rows(From, To);
            e = To;
          }
        if (!Folded[b])
          for (TOscStripCache *C : All)
            C->Fold(e0, e1, 1, C->LineLevels());
      }
  });
  // The levels above those a block writes out whole lines of, each a
  // quarter or less of level 0, each from the one below as it lies in
  // memory; the caches to the cores where there is enough of them.
  const size_t PerCore = std::max<size_t>(1, 65536 / std::max<size_t>(Entries, 1));
  OscInPieces(All.size(), PerCore, [&All, Entries](size_t From, size_t To) {
    for (size_t i = From; i < To; ++i)
      All[i]->Fold(0, Entries, All[i]->LineLevels() + 1, All[i]->LevelCount() - 1);
  });
}

void TOscStripCache::MakeWide(const TComtradeData &Data, const std::vector<TOscStripCache *> &Analog,
                              const std::vector<std::atomic<bool>> &Overflow) {
  // Their narrow entries stay unused in the first block: a rare case, not
  // worth a copy.
  std::vector<TOscStripCache *> Wide, WideAnalog(Analog.size(), nullptr);
  for (size_t c = 0; c < Analog.size(); ++c)
    if (Overflow[c]) {
      Analog[c]->FWide = true;
      Wide.push_back(WideAnalog[c] = Analog[c]);
    }
  if (Wide.empty())
    return;
  std::vector<std::atomic<bool>> Unused(Analog.size());
  std::vector<uint8_t> Folded(Wide.front()->BlockCount());
  Allocate(Wide);
  Pass(Data, Wide, WideAnalog, {}, Unused.data(), nullptr, Folded.data());
}

void TOscStripCache::BuildAll(const TComtradeData &Data, const std::vector<TOscStripCache *> &Analog,
                              const std::vector<TOscStripCache *> &Digital) {
  std::vector<TOscStripCache *> All;
  for (const auto *List : {&Analog, &Digital})
    for (size_t i = 0; i < List->size(); ++i)
      if (TOscStripCache *C = (*List)[i]) {
        C->Bind(Data, int(i), List == &Digital);
        All.push_back(C);
      }
  if (All.empty())
    return;
  // Narrow first, as most records' values are (a binary file's are); the
  // channels found wider are made again on their own, wide.
  std::vector<std::atomic<bool>> Overflow(Analog.size());
  std::vector<uint8_t> Folded(All.front()->BlockCount());
  Allocate(All);
  Pass(Data, All, Analog, Digital, Overflow.data(), nullptr, Folded.data());
  MakeWide(Data, Analog, Overflow);
}

void TOscStripBuild::Sized(const TComtradeData &Data) {
  const TComtradeConfig &Config = *Data.Config();
  FData = &Data;
  FCount = Data.SampleCount();
  FAnalog = std::vector<TOscStripCache>(size_t(Config.AnalogCount()));
  FDigital = std::vector<TOscStripCache>(size_t(Config.DigitalCount()));
  FAnalogPtr.clear();
  FDigitalPtr.clear();
  FAll.clear();
  for (auto [List, Ptrs, Digital] :
       {std::tuple{&FAnalog, &FAnalogPtr, false}, std::tuple{&FDigital, &FDigitalPtr, true}})
    for (size_t i = 0; i < List->size(); ++i) {
      TOscStripCache &C = (*List)[i];
      C.Bind(Data, int(i), Digital);
      Ptrs->push_back(&C);
      FAll.push_back(&C);
    }
  FOverflow = std::vector<std::atomic<bool>>(FAnalog.size());
  FDone.clear();
  FFolded.clear();
  if (FAll.empty())
    return;
  FDone.assign(FAll.front()->LevelSize(0), 0);
  FFolded.assign(FAll.front()->BlockCount(), 0);
  TOscStripCache::Allocate(FAll);
}

void TOscStripBuild::Rows(int First, int End) {
  if (FAll.empty())
    return;
  // The entries wholly within the rows; the record's last one however short.
  const size_t B = TOscStripCache::BaseSamples;
  const size_t e0 = (size_t(First) + B - 1) / B;
  const size_t e1 = End >= FCount ? FDone.size() : size_t(End) / B;
  if (e0 >= e1)
    return;
  TOscStripCache::FillRows(*FData, nullptr, e0, e1, FAnalogPtr.data(), FAnalogPtr.size(), FDigitalPtr.data(),
                           FDigitalPtr.size(), FOverflow.data(), FFolded.data());
  std::fill(FDone.begin() + ptrdiff_t(e0), FDone.begin() + ptrdiff_t(e1), uint8_t(1));
}

void TOscStripBuild::Finish(const TComtradeData &Data) {
  if (FAll.empty())
    return;
  // Fewer samples than the layout was made for (a file cut short): made
  // again for what there is.
  if (&Data != FData || Data.SampleCount() != FCount) {
    TOscStripCache::BuildAll(Data, FAnalogPtr, FDigitalPtr);
    return;
  }
  for (TOscStripCache *C : FAll)
    C->FMissing = Data.MissingCells();
  TOscStripCache::Pass(Data, FAll, FAnalogPtr, FDigitalPtr, FOverflow.data(), FDone.data(), FFolded.data());
  TOscStripCache::MakeWide(Data, FAnalogPtr, FOverflow);
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
    while (Level + 1 < LevelCount() && s % (Span * 2) == 0 && s + Span * 2 - 1 <= Last) {
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
  for (const TPiece &P : Pieces)
    Widen(FStart[size_t(P.Level)] + size_t(P.Index), Lo, Hi);
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
  // all channels (they share the record's length, hence their levels); then
  // the channels go to the cores, each walking its levels forwards as the
  // memory's prefetching likes.
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
  // Entries by their place among all levels (the same for every channel).
  std::vector<size_t> Cells(Pieces.size());
  for (size_t p = 0; p < Pieces.size(); ++p)
    Cells[p] = Shape.FStart[size_t(Pieces[p].Level)] + size_t(Pieces[p].Index);
  const size_t K = Caches.size();
  // The rows and entries a column needs are known ahead: asking the memory
  // for them a few columns early hides most of its latency (without it a
  // dense paint spends most of its time waiting on these reads).
  constexpr size_t Ahead = 4;
  auto Channel = [&](size_t k) {
    const TOscStripCache &Cache = *Caches[k];
    const char *Entries = static_cast<const char *>(Cache.FEntries);
    const size_t EntryBytes = size_t(Cache.EntryBytes());
    const size_t Cell = Cache.FDigital ? sizeof(uint8_t) : sizeof(int32_t);
    const char *Base = Cache.FDigital ? reinterpret_cast<const char *>(Cache.FBits) + Cache.FChannel
                                      : reinterpret_cast<const char *>(Cache.FRaw + Cache.FChannel);
    const size_t Row = Cache.FStride * Cell;
    std::vector<TOscColumn> &O = Out[k];
    O.resize(Edges.size());
    for (size_t j = 0; j < Edges.size(); ++j) {
      if (j + Ahead < Edges.size()) {
        const TEdge &A = Edges[j + Ahead];
        for (const auto &[From, To] : {std::pair{A.First, A.HeadEnd + 1}, std::pair{A.TailBegin, A.Last + 1}})
          for (int64_t r = From; r < To; ++r)
            Prefetch(Base + size_t(r) * Row);
        const size_t End = j + Ahead + 1 < Edges.size() ? Edges[j + Ahead + 1].Piece : Pieces.size();
        for (size_t p = A.Piece; p < End; ++p)
          Prefetch(Entries + Cells[p] * EntryBytes);
      }
      const TEdge &E = Edges[j];
      TOscColumn &C = O[j];
      C.X = int(E.X);
      C.FirstSample = int(E.First);
      int32_t V = 0;
      C.FirstMissing = !Cache.Sample(int(E.First), V);
      C.FirstValue = C.FirstMissing ? 0 : V;
      C.LastValue = Cache.Sample(int(E.Last), V) ? V : 0;
      int32_t Lo = NoMin, Hi = NoMax;
      for (const auto &[From, To] : {std::pair{E.First, E.HeadEnd}, std::pair{E.TailBegin, E.Last + 1}})
        for (int64_t r = From; r < To; ++r)
          if (Cache.Sample(int(r), V)) {
            Lo = std::min(Lo, V);
            Hi = std::max(Hi, V);
          }
      const size_t End = j + 1 < Edges.size() ? Edges[j + 1].Piece : Pieces.size();
      for (size_t p = E.Piece; p < End; ++p)
        Cache.Widen(Cells[p], Lo, Hi);
      C.HasValue = Lo <= Hi;
      C.Min = C.HasValue ? Lo : 0;
      C.Max = C.HasValue ? Hi : 0;
    }
  };
  // A few columns are not worth the threads.
  const size_t Work = Edges.size() * K + Pieces.size() * K;
  OscInPieces(K, Work < 32768 ? K : 1, [&Channel](size_t From, size_t To) {
    for (size_t k = From; k < To; ++k)
      Channel(k);
  });
}

int64_t TOscStripCache::Bytes() const {
  return FStart.empty() ? 0 : int64_t(FStart.back()) * EntryBytes();
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
