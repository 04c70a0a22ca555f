// Any ".dat" text for a small configuration is read twice, once as the loader
// reads it (usual lines by the quick reader) and once field by field: both
// must give the same samples, missing flags, error text and line, or the
// target stops. A text the loader accepts is read twice more, once with
// strip caches made as it arrives and once with caches made after: they
// must be equal.
//
// Input: analog count, digital count, a mode byte, then either the text itself
// or bytes from which lines are made (mostly well-formed, with the faults and
// oddities a reader must judge, so that both readers see lines worth comparing).
#include "comtrade_dat_config.h"
#include "uComtrade.h"
#include "uErrors.h"
#include "uOscStripCache.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

struct TComtradeDataReaders {
  static void FieldByField(TComtradeData &Data) { Data.FFieldByField = true; }
};

namespace {

// Bytes taken in turn; zero once they run out.
class TBytes {
public:
  TBytes(const uint8_t *Data, size_t Size) : FData(Data), FSize(Size) {}
  bool Empty() const { return FAt >= FSize; }
  uint8_t Next() { return FAt < FSize ? FData[FAt++] : 0; }

private:
  const uint8_t *FData;
  size_t FSize, FAt = 0;
};

void Digits(TBytes &In, QByteArray &Out, int Count) {
  for (int i = 0; i < Count; ++i)
    Out += char('0' + In.Next() % 10);
}

// One field: a number of 1 to 8 digits mostly, else one of the shapes the
// quick reader leaves to the other one.
void Field(TBytes &In, QByteArray &Out, bool Digital) {
  const uint8_t F = In.Next();
  const bool Negative = F & 0x80;
  switch (F & 15) {
  case 10:
    Out += Negative ? "-99999" : "99999";
    return;
  case 11: // empty
    return;
  case 12: // blanks around
    Out += F & 0x10 ? " " : "\t";
    Out += Negative ? "-" : "";
    Digits(In, Out, 1 + (F >> 5 & 3));
    Out += F & 0x40 ? " " : "";
    return;
  case 13: // 9 to 12 digits, at and past the 32-bit range
    if (Negative)
      Out += '-';
    Out += F & 0x10 ? "214748364" : "";
    Digits(In, Out, F & 0x10 ? 1 + (F >> 5 & 3) : 9 + (F >> 5 & 3));
    return;
  case 14: // a stray byte
    Out += char(In.Next());
    return;
  default:
    if (Digital && !(F & 0x40)) {
      Out += char('0' + (F >> 4 & 1));
      return;
    }
    if (Negative)
      Out += '-';
    Digits(In, Out, 1 + (F >> 4 & 7));
  }
}

QByteArray MakeText(TBytes &In, int Analog, int Digital) {
  static const char *const Ends[] = {"\r\n", "\n", "\r", "\r\n"};
  QByteArray Text;
  while (!In.Empty()) {
    const uint8_t C = In.Next();
    switch (C & 31) {
    case 0:
      Text += "\r\n";
      continue;
    case 1:
      Text += "\x1A\r\n";
      continue;
    default:
      break;
    }
    // Mostly the channels' fields; some lines one short or with more.
    const int Fields = 2 + Analog + Digital + (C & 32 ? (C & 64 ? -1 : 1 + (C >> 7)) : 0);
    for (int f = 0; f < Fields; ++f) {
      if (f > 0)
        Text += ',';
      Field(In, Text, f >= 2 + Analog && f < 2 + Analog + Digital);
    }
    if ((C & 31) == 2)
      Text += '\x1A';
    Text += Ends[(C >> 3) & 3];
  }
  return Text;
}

struct TResult {
  QString Error;
  int Samples = 0;
  std::vector<int> Cells;
};

TResult Read(TComtradeConfig &Config, const QByteArray &Text, bool FieldByField) {
  TResult R;
  TComtradeData Data;
  if (FieldByField)
    TComtradeDataReaders::FieldByField(Data);
  try {
    Data.LoadFromBytes(Text, QStringLiteral("f.dat"), &Config);
  } catch (const EKvError &E) {
    R.Error = E.Text();
  }
  R.Samples = Data.SampleCount();
  for (int s = 0; s < R.Samples; ++s) {
    R.Cells.push_back(Data.GetSampleNumber(s));
    R.Cells.push_back(Data.GetTimeStamp(s));
    for (int c = 0; c < Config.AnalogCount(); ++c) {
      R.Cells.push_back(Data.GetRaw(c, s));
      R.Cells.push_back(Data.IsMissing(c, s));
    }
    for (int c = 0; c < Config.DigitalCount(); ++c)
      R.Cells.push_back(Data.GetDigitalValue(c, s));
  }
  return R;
}

// The caches made while Text is read against those made after, over every
// entry of the first levels and the whole record.
bool CachesAgree(TComtradeConfig &Config, const QByteArray &Text) {
  TComtradeData While, After;
  TOscStripBuild Build;
  While.LoadFromBytes(Text, QStringLiteral("f.dat"), &Config, &Build);
  Build.Finish(While);
  After.LoadFromBytes(Text, QStringLiteral("f.dat"), &Config);
  std::vector<TOscStripCache> Made(size_t(Config.AnalogCount() + Config.DigitalCount()));
  std::vector<TOscStripCache *> Analog, Digital;
  for (size_t c = 0; c < Made.size(); ++c)
    (c < size_t(Config.AnalogCount()) ? Analog : Digital).push_back(&Made[c]);
  TOscStripCache::BuildAll(After, Analog, Digital);
  const int N = After.SampleCount(), A = Config.AnalogCount();
  for (size_t c = 0; c < Made.size(); ++c) {
    TOscStripCache &Cache = int(c) < A ? Build.Analog(int(c)) : Build.Digital(int(c) - A);
    if (Cache.SampleCount() != N || Cache.EntryBytes() != Made[c].EntryBytes())
      return false;
    for (int Span = 8; Span <= 64; Span *= 2)
      for (int s = 0; s < N; s += Span) {
        int Min[2] = {}, Max[2] = {};
        if (Cache.Range(s, s + Span - 1, Min[0], Max[0]) != Made[c].Range(s, s + Span - 1, Min[1], Max[1]) ||
            Min[0] != Min[1] || Max[0] != Max[1])
          return false;
      }
  }
  return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  if (Size < 3)
    return 0;
  const int Analog = Data[0] % 11, Digital = Data[1] % 20;
  const uint8_t Mode = Data[2];
  TComtradeConfig Config;
  // Sometimes fewer samples than the text holds.
  SmallDatConfig(Config, Analog, Digital, Mode & 4 ? (Mode >> 3) : 100000);

  TBytes In(Data + 3, Size - 3);
  QByteArray Text = Mode & 1 ? QByteArray(reinterpret_cast<const char *>(Data + 3), qsizetype(Size - 3))
                             : MakeText(In, Analog, Digital);
  // Bytes after an end-of-file line, so that the quick reader may read ahead
  // of the last lines too.
  if (Mode & 2)
    Text += "\n\x1A" + QByteArray(128, '7');

  const TResult Quick = Read(Config, Text, false), Exact = Read(Config, Text, true);
  if (Quick.Error != Exact.Error || Quick.Samples != Exact.Samples || Quick.Cells != Exact.Cells) {
    std::fprintf(stderr, "readers differ: \"%s\" against \"%s\", %d against %d samples\n",
                 qPrintable(Quick.Error), qPrintable(Exact.Error), Quick.Samples, Exact.Samples);
    std::abort();
  }
  if (Quick.Error.isEmpty() && !CachesAgree(Config, Text)) {
    std::fprintf(stderr, "caches made while reading differ from those made after\n");
    std::abort();
  }
  return 0;
}
