#pragma once
// Min/max levels of one oscillogram channel, so that a paint costs the plot's
// width and not the record's length. Level k holds one entry per 8 * 2^k
// samples, each folded from two entries of the level below (level 0 from the
// samples). A column of pixels is answered from the aligned entries inside it
// and the samples at its ragged ends, so its minimum and maximum are exact.
// Samples the reader marks missing take no part in any entry.
// An entry is as narrow as its channel allows: a byte for a discrete
// channel, four for an analog one whose values all fit 16 bits, eight for
// the rest: a build's time goes to the memory it reads and writes.
#include "uComtrade.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

// One pixel column: its x, the first sample that falls on it and the extremes
// of its samples. HasValue is false when every sample of the column is missing.
// FirstValue and LastValue are the column's first and last samples (0 where
// missing).
struct TOscColumn {
  int X = 0;
  int FirstSample = 0;
  int Min = 0, Max = 0;
  bool HasValue = false;
  bool FirstMissing = false;
  int FirstValue = 0, LastValue = 0;
};

class TOscStripCache {
public:
  static constexpr int BaseSamples = 8;

  // Builds the levels of an analog (Digital false) or discrete channel of Data,
  // which must outlive the cache. Throws EKvRange for a channel outside the data.
  void Build(const TComtradeData &Data, int Channel, bool Digital);
  // Builds Analog[i] for analog channel i and Digital[i] for discrete channel
  // i (null entries skipped) in one pass over the samples, which the arrays
  // hold sample by sample.
  static void BuildAll(const TComtradeData &Data, const std::vector<TOscStripCache *> &Analog,
                       const std::vector<TOscStripCache *> &Digital);

  int SampleCount() const { return FCount; }
  // Samples First..Last (inclusive, clipped to the record) at TimeScale pixels
  // per sample: one entry per pixel column x = round(i * TimeScale), ties to
  // even, in ascending x.
  std::vector<TOscColumn> Columns(int First, int Last, double TimeScale) const;
  // Columns of several channels of one record at once, Out[i] for Caches[i]:
  // the column edges are found once for all.
  static void ColumnsOf(const std::vector<const TOscStripCache *> &Caches, int First, int Last,
                        double TimeScale, std::vector<std::vector<TOscColumn>> &Out);
  // Extremes of samples First..Last (inclusive, within the record); false when
  // all are missing.
  bool Range(int First, int Last, int &Min, int &Max) const;
  // Bytes held by the levels.
  int64_t Bytes() const;
  // Bytes of one entry: 1 (discrete), 4 (analog within 16 bits) or 8.
  int EntryBytes() const { return FDigital ? 1 : FWide ? 8 : 4; }
  int LevelCount() const { return int(FStart.size()) - 1; }

  // Changes with every build, so that a cache rebuilt in place is told apart.
  uint64_t Stamp() const { return FStamp; }

private:
  friend class TOscStripBuild;
  // Min > Max: no sample of the entry has a value.
  template <class T> struct TPair {
    T Min, Max;
  };
  using TWide = TPair<int32_t>;
  using TNarrow = TPair<int16_t>;
  // A discrete entry: HasOne if a sample of it is 1, HasZero if one is 0
  // (its maximum and the negation of its minimum); two entries fold by "or".
  struct TBits {
    uint8_t Flags;
  };
  static constexpr uint8_t HasOne = 1, HasZero = 2;
  struct TPiece {
    int Level;
    int64_t Index;
  };
  // First..Last (within the record) as the raw samples First..HeadEnd - 1,
  // the whole entries appended to Pieces, and the raw samples TailBegin..Last.
  void Split(int64_t First, int64_t Last, int64_t &HeadEnd, std::vector<TPiece> &Pieces, int64_t &TailBegin) const;
  bool Sample(int Index, int32_t &Value) const;
  void Bind(const TComtradeData &Data, int Channel, bool Digital);
  // Entries of each level's start for Count samples, and their total (with
  // any padding) last.
  static std::vector<size_t> LevelStarts(int Count);
  // Level 0 entries First..End - 1 of every cache of analog channels (Analog[c]
  // for channel c, null ones skipped) and of digital ones from the rows;
  // Missing: the data's marks of missing values, or null while none is. A
  // narrow analog cache whose values leave 16 bits gets Overflow[c] set (its
  // entries are then of no use). A whole block among them gets its levels
  // above level 0 up to LineLevels() as well, and Folded[its number] set.
  static void FillRows(const TComtradeData &Data, const uint8_t *Missing, size_t First, size_t End,
                       TOscStripCache *const *Analog, size_t AnalogCount, TOscStripCache *const *Digital,
                       size_t DigitalCount, std::atomic<bool> *Overflow, uint8_t *Folded);
  // Level 0 entries First..First + Count - 1 from Stage; with Levels (a whole
  // block) the block's entries of the levels up to LineLevels() too.
  template <class E> void WriteBlock(const E *Stage, size_t First, size_t Count, bool Levels);
  // The levels of which a block's part fills whole cache lines: those a
  // block writes out; the smaller parts above would each wait for their line.
  int LineLevels() const {
    int K = 0;
    while (K < BlockLevels && ((BlockEntries >> (K + 1)) * size_t(EntryBytes())) % 64 == 0)
      ++K;
    return K;
  }
  // Up[i] from Below[2i] and Below[2i + 1], i < Count.
  template <class E> static void FoldPairs(const E *Below, E *Up, size_t Count);
  // Blocks of level 0 entries a build makes at once: its rows stay in the
  // core's caches while all its channels and the levels above it are made
  // from them.
  static constexpr size_t BlockEntries = 64;
  static constexpr int BlockLevels = 6; // 2^6 = BlockEntries
  static constexpr size_t LineEntries = 64; // entries of a cache line at most
  size_t BlockCount() const { return (LevelSize(0) + BlockEntries - 1) / BlockEntries; }
  // Memory for the levels of All, one block for them all.
  static void Allocate(const std::vector<TOscStripCache *> &All);
  // Level 0 and the levels above of All (bound and allocated), but the
  // blocks b with Folded[b] set (those up to LineLevels()), and with Done
  // the level 0 entries e with Done[e] set.
  static void Pass(const TComtradeData &Data, const std::vector<TOscStripCache *> &All,
                   const std::vector<TOscStripCache *> &Analog, const std::vector<TOscStripCache *> &Digital,
                   std::atomic<bool> *Overflow, const uint8_t *Done, uint8_t *Folded);
  // The narrow analog caches that overflowed made again, wide.
  static void MakeWide(const TComtradeData &Data, const std::vector<TOscStripCache *> &Analog,
                       const std::vector<std::atomic<bool>> &Overflow);
  // Levels From..Top of the entries above level 0 entries First..End - 1
  // (First a multiple of 2^Top), each from the level below.
  void Fold(size_t First, size_t End, int From, int Top);
  template <class E> void FoldAs(size_t First, size_t End, int From, int Top);
  template <class E> E *Level(int K) const { return static_cast<E *>(FEntries) + FStart[size_t(K)]; }
  // Entries of level K (its start may be padded to a line).
  size_t LevelSize(int K) const {
    const size_t Span = size_t(BaseSamples) << K;
    return (size_t(std::max(FCount, 0)) + Span - 1) / Span;
  }
  // The extremes of entry Cell (its place among all levels) into Lo, Hi.
  template <class E> static void Widen(const void *Entries, size_t Cell, int32_t &Lo, int32_t &Hi) {
    const E &Entry = static_cast<const E *>(Entries)[Cell];
    Lo = std::min<int32_t>(Lo, Entry.Min);
    Hi = std::max<int32_t>(Hi, Entry.Max);
  }
  void Widen(size_t Cell, int32_t &Lo, int32_t &Hi) const {
    if (FDigital) {
      const uint8_t Flags = static_cast<const TBits *>(FEntries)[Cell].Flags;
      Lo = std::min<int32_t>(Lo, (Flags & HasZero) ? 0 : 1);
      Hi = std::max<int32_t>(Hi, Flags & HasOne);
    } else if (FWide)
      Widen<TWide>(FEntries, Cell, Lo, Hi);
    else
      Widen<TNarrow>(FEntries, Cell, Lo, Hi);
  }

  const int32_t *FRaw = nullptr;
  const uint8_t *FBits = nullptr, *FMissing = nullptr;
  size_t FStride = 0;
  int FChannel = 0;
  bool FDigital = false;
  bool FWide = false;
  int FCount = 0;
  uint64_t FStamp = 0;
  // All levels one after another: level k at FStart[k], FStart.back() entries,
  // within the block the caches of one build share.
  std::shared_ptr<void> FBlock;
  void *FEntries = nullptr;
  std::vector<size_t> FStart;
};

// The caches of every channel of a record, made while its samples are read:
// given to the loader as its row sink, each core makes the level 0 entries
// of the rows it has just read, while they are at hand; Finish makes the rest
// (entries split between two reports or holding a missing value) and the
// levels above. Then the caches are as BuildAll makes them.
class TOscStripBuild : public TComtradeRowSink {
public:
  void Sized(const TComtradeData &Data) override;
  void Rows(int First, int End) override;
  // After the load returned; Data is the data loaded.
  void Finish(const TComtradeData &Data);
  // The caches, to be moved to their owners after Finish.
  TOscStripCache &Analog(int Channel) { return FAnalog[size_t(Channel)]; }
  TOscStripCache &Digital(int Channel) { return FDigital[size_t(Channel)]; }

private:
  std::vector<TOscStripCache> FAnalog, FDigital;
  std::vector<TOscStripCache *> FAnalogPtr, FDigitalPtr, FAll;
  const TComtradeData *FData = nullptr;
  int FCount = -1; // samples the caches were laid out for
  // By level 0 entry: made as the rows came. Each byte is written by the one
  // thread whose rows hold the entry.
  std::vector<uint8_t> FDone;
  // By block: made whole, its levels above level 0 too.
  std::vector<uint8_t> FFolded;
  std::vector<std::atomic<bool>> FOverflow;
};

// Job(First, End) over 0..Count - 1 in pieces of at least MinPiece, one per
// core, each on its own thread; on the calling thread when a single piece does.
void OscInPieces(size_t Count, size_t MinPiece, const std::function<void(size_t, size_t)> &Job);

// The columns last asked for, kept for the next paint of the same samples at
// the same scale: a change of amplitude, heights or cursors repaints the same
// columns, and finding them is most of a dense paint.
class TOscColumnsMemo {
public:
  // TOscStripCache::ColumnsOf, or its last answer when nothing differs.
  const std::vector<std::vector<TOscColumn>> &Columns(const std::vector<const TOscStripCache *> &Caches, int First,
                                                      int Last, double TimeScale);

private:
  std::vector<const TOscStripCache *> FCaches;
  std::vector<uint64_t> FStamps;
  int FFirst = 0, FLast = -1;
  double FScale = 0.0;
  std::vector<std::vector<TOscColumn>> FColumns;
};

// Index lies within the record (callers clip to it). Inline: a paint reads
// the ragged ends of every column of every channel through it.
inline bool TOscStripCache::Sample(int Index, int32_t &Value) const {
  const size_t Cell = size_t(Index) * FStride + size_t(FChannel);
  if (FDigital) {
    Value = FBits[Cell];
    return true;
  }
  if (FMissing && FMissing[Cell])
    return false;
  Value = FRaw[Cell];
  return true;
}
