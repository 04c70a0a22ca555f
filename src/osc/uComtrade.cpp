#include "uComtrade.h"

#include "uErrors.h"
#include "uFiles.h"
#include "uLogger.h"
#include "uTextCodec.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <algorithm>
#include <barrier>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <exception>
#include <limits>
#include <mutex>
#include <sched.h>
#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif
#include <thread>
#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif
#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

constexpr double Pi = 3.141592653589793;
// A corrupt last-sample number must not make us allocate gigabytes: no array
// holds more cells than this.
constexpr int64_t MaxCells = int64_t(1) << 28;
constexpr int32_t MissingValue = 99999;
// The DOS end-of-file mark some recorders leave after the last line.
constexpr char DosEof = 0x1A;
// Guards the marks of missing values: lines are parsed on several threads at once.
std::mutex MissingLock;
// Missing values marked by this thread: a row sink is told only of rows
// without one.
thread_local unsigned MissingMarks = 0;
// Rows a row sink is told of at once: a strip cache's block.
constexpr int SinkRows = 512;

[[noreturn]] void FormatError(const QString &Text, int LineNo) {
  throw EKvFormat(QStringLiteral("%1 (line %2)").arg(Text).arg(LineNo));
}

void CheckIndex(int Index, int Limit) {
  if (Index < 0 || Index >= Limit)
    throw EKvRange("range check error: " + std::to_string(Index));
}

// Lines as a text editor sees them: CR LF, LF or CR end a line, and a break
// at the very end opens no further line.
template <typename TText> QList<TText> SplitLines(const TText &Text) {
  QList<TText> Lines;
  qsizetype Start = 0;
  const qsizetype Size = Text.size();
  for (qsizetype i = 0; i < Size; ++i) {
    const auto C = Text.at(i);
    if (C == '\r' || C == '\n') {
      Lines.append(Text.mid(Start, i - Start));
      if (C == '\r' && i + 1 < Size && Text.at(i + 1) == '\n')
        ++i;
      Start = i + 1;
    }
  }
  if (Start < Size)
    Lines.append(Text.mid(Start));
  return Lines;
}

// The configuration's lines, consumed one at a time and split at every ",".
class TCfgReader {
public:
  explicit TCfgReader(const QStringList &Lines) : FLines(Lines) {}

  QStringList Next() {
    if (FNext >= FLines.size())
      FormatError(QStringLiteral("недопустимый индекс"), FNext + 1);
    return FLines[FNext++].split(QLatin1Char(','));
  }
  int LineNo() const { return FNext; }
  bool HasNext() const { return FNext < FLines.size() && !FLines[FNext].trimmed().isEmpty(); }

  QString Field(const QStringList &F, int i) const { return i < F.size() ? F[i] : QString(); }

  // An empty or missing field is 0.
  int Int(const QStringList &F, int i) const {
    const QString S = Field(F, i).trimmed();
    if (S.isEmpty())
      return 0;
    bool Ok = false;
    const int V = S.toInt(&Ok);
    if (!Ok)
      FormatError(QStringLiteral("'%1' is not a valid integer value").arg(S), FNext);
    return V;
  }
  double Float(const QStringList &F, int i) const {
    const QString S = Field(F, i).trimmed();
    if (S.isEmpty())
      return 0.0;
    bool Ok = false;
    const double V = QLocale::c().toDouble(S, &Ok);
    if (!Ok || !std::isfinite(V))
      FormatError(QStringLiteral("'%1' is not a valid floating point value").arg(S), FNext);
    return V;
  }

private:
  const QStringList &FLines;
  int FNext = 0;
};

// "nA" / "nD" of line 2.
int TaggedCount(const TCfgReader &R, const QStringList &F, int i, QChar Tag) {
  const QString S = R.Field(F, i).trimmed();
  if (S.isEmpty() || S.back().toUpper() != Tag)
    FormatError(QStringLiteral("недопустимая метка"), R.LineNo());
  QStringList One{S.left(S.size() - 1)};
  return R.Int(One, 0);
}

QString FloatText(double V) { return QString::number(V, 'g', QLocale::FloatingPointShortest); }

int ExpandYear(int Year) {
  // A two-digit year follows the POSIX rule: 69..99 are 19xx, 00..68 are 20xx.
  if (Year < 100)
    return Year < 69 ? 2000 + Year : 1900 + Year;
  return Year;
}

// Date "yy/mm/dd" (1991) or "dd/mm/yyyy" (later revisions), then time
// "hh:mm:ss.ffffff" cut to milliseconds.
TDateTime ParseTime(const TCfgReader &R, const QStringList &F, bool Rev1991) {
  const QString DateText = R.Field(F, 0).trimmed();
  const QString TimeText = R.Field(F, 1).trimmed();
  auto Bad = [&]() {
    FormatError(QStringLiteral("'%1' is not a valid date and time").arg(F.join(QLatin1Char(','))),
                R.LineNo());
  };
  auto Number = [&](const QString &S) {
    bool Ok = false;
    const int V = S.toInt(&Ok);
    if (!Ok || S.isEmpty() || V < 0)
      Bad();
    return V;
  };
  const QStringList D = DateText.split(QLatin1Char('/'));
  if (D.size() != 3)
    Bad();
  int Year, Month, Day;
  if (Rev1991) {
    Year = Number(D[0]);
    Month = Number(D[1]);
    Day = Number(D[2]);
  } else {
    Day = Number(D[0]);
    Month = Number(D[1]);
    Year = Number(D[2]);
  }
  Year = ExpandYear(Year);
  int Hour = 0, Minute = 0, Second = 0, MSec = 0;
  if (!TimeText.isEmpty()) {
    const QStringList T = TimeText.split(QLatin1Char(':'));
    if (T.size() < 2 || T.size() > 3)
      Bad();
    Hour = Number(T[0]);
    Minute = Number(T[1]);
    if (T.size() == 3) {
      const QString S = T[2];
      const qsizetype Dot = S.indexOf(QLatin1Char('.'));
      Second = Number(Dot < 0 ? S : S.left(Dot));
      if (Dot >= 0) {
        QString Frac = S.mid(Dot + 1).left(3);
        if (Frac.isEmpty())
          Bad();
        while (Frac.size() < 3)
          Frac.append(QLatin1Char('0'));
        MSec = Number(Frac);
      }
    }
  }
  TDateTime Out = 0.0;
  if (!TryEncodeDateTime(Year, Month, Day, Hour, Minute, Second, MSec, Out))
    Bad();
  return Out;
}

// "dd/mm/yyyy,hh:mm:ss.ffffff": the model keeps milliseconds.
QString TimeText(TDateTime V) {
  int Y, Mo, D, H, Mi, S, Ms;
  DecodeDateTime(V, Y, Mo, D, H, Mi, S, Ms);
  return QString::asprintf("%02d/%02d/%04d,%02d:%02d:%02d.%03d000", D, Mo, Y, H, Mi, S, Ms);
}

} // namespace

// ---------------------------------------------------------------------------
// TComtradeConfig

TComtradeConfig::TComtradeConfig()
    : FAnalog(ComtradeMaxChannels), FDigital(ComtradeMaxChannels), FRates(ComtradeMaxRates) {}

void TComtradeConfig::LoadFromFile(const QString &FileName, QString &Warning) {
  LoadFromBytes(LoadFileBytes(FileName), FileName, Warning);
}

void TComtradeConfig::LoadFromBytes(const QByteArray &Bytes, const QString &FileName,
                                    QString &Warning) {
  // Parsed into a fresh object first, so a refused file leaves this one as it was.
  TComtradeConfig C;
  const QStringList Lines = SplitLines(DecodeFileText(Bytes, FileName));
  TCfgReader R(Lines);

  QStringList F = R.Next();
  C.FStationName = R.Field(F, 0);
  C.FRecDevId = R.Field(F, 1);
  // An id holding a control code or a replacement character is not text:
  // warn and go on without it. (Bytes the code page lacks never get here:
  // the file is refused as a whole.)
  if (std::any_of(C.FRecDevId.cbegin(), C.FRecDevId.cend(), [](QChar Ch) {
        return Ch.unicode() == 0xFFFD || Ch.category() == QChar::Other_Control;
      })) {
    Warning = QStringLiteral("invalid Station Id");
    C.FRecDevId.clear();
  }
  C.FRevYear = R.Int(F, 2);
  C.FHasRevision = C.FRevYear != 0;
  if (C.FRevYear == 0)
    C.FRevYear = 1991;
  // The date order and the digital line of 1991 are kept for every file that
  // says 1991 or nothing: the program's older files are of that kind.
  const bool Rev1991 = C.FRevYear == 1991;

  F = R.Next();
  C.FTotalCount = R.Int(F, 0);
  C.FAnalogCount = TaggedCount(R, F, 1, QLatin1Char('A'));
  C.FDigitalCount = TaggedCount(R, F, 2, QLatin1Char('D'));
  if (C.FAnalogCount < 0 || C.FDigitalCount < 0 ||
      int64_t(C.FAnalogCount) + C.FDigitalCount != C.FTotalCount)
    FormatError(QStringLiteral("недопустимое количество каналов"), R.LineNo());
  if (C.FAnalogCount > ComtradeMaxChannels)
    FormatError(QStringLiteral("too many analog channels: %1 (at most %2)")
                    .arg(C.FAnalogCount).arg(ComtradeMaxChannels), R.LineNo());
  if (C.FDigitalCount > ComtradeMaxChannels)
    FormatError(QStringLiteral("too many digital channels: %1 (at most %2)")
                    .arg(C.FDigitalCount).arg(ComtradeMaxChannels), R.LineNo());

  for (int i = 0; i < C.FAnalogCount; ++i) {
    F = R.Next();
    TComtradeAnalogChannel &A = C.FAnalog[i];
    A.An = R.Int(F, 0);
    A.Id = R.Field(F, 1);
    A.Phase = R.Field(F, 2);
    A.Component = R.Field(F, 3);
    A.Unit = R.Field(F, 4);
    A.A = R.Float(F, 5);
    A.B = R.Float(F, 6);
    A.Skew = R.Float(F, 7);
    A.Min = R.Int(F, 8);
    A.Max = R.Int(F, 9);
    if (!Rev1991) {
      A.Primary = F.size() > 10 ? R.Float(F, 10) : 1.0;
      A.Secondary = F.size() > 11 ? R.Float(F, 11) : 1.0;
      A.IsPrimary = R.Field(F, 12).trimmed().toUpper() == QLatin1String("P");
    }
  }
  for (int i = 0; i < C.FDigitalCount; ++i) {
    F = R.Next();
    TComtradeDigitalChannel &D = C.FDigital[i];
    D.Dn = R.Int(F, 0);
    D.Id = R.Field(F, 1);
    // Later revisions put phase and monitored component before the normal state.
    const QString Y = R.Field(F, Rev1991 ? 2 : 4).trimmed();
    if (Y == QLatin1String("1"))
      D.Y = true;
    else if (Y.isEmpty() || Y == QLatin1String("0"))
      D.Y = false;
    else
      FormatError(QStringLiteral("недопустимое логическое"), R.LineNo());
  }

  F = R.Next();
  C.FLineFrequency = R.Float(F, 0);
  if (C.FLineFrequency <= 0.0)
    FormatError(QStringLiteral("invalid lf %1").arg(FloatText(C.FLineFrequency)), R.LineNo());

  F = R.Next();
  C.FRateCount = R.Int(F, 0);
  if (C.FRateCount == 0) {
    if (Rev1991)
      FormatError(QStringLiteral("invalid nrates"), R.LineNo());
    C.FRateCount = 1;
    C.FNoRate = true;
  }
  if (C.FRateCount < 0 || C.FRateCount > ComtradeMaxRates)
    FormatError(QStringLiteral("invalid nrates %1").arg(C.FRateCount), R.LineNo());
  for (int i = 0; i < C.FRateCount; ++i) {
    F = R.Next();
    C.FRates[i].Samples = R.Float(F, 0);
    // Standard files give the last sample's number, counted from 1; ours the
    // last 0-based index.
    const int64_t EndSamp = int64_t(R.Int(F, 1)) - (C.FHasRevision ? 1 : 0);
    if (EndSamp < -1)
      FormatError(QStringLiteral("invalid endsamp %1").arg(R.Field(F, 1).trimmed()), R.LineNo());
    C.FRates[i].LastSample = int(EndSamp);
    // A record with time stamps only: the data give the rate.
    const bool FromStamps = C.FNoRate && C.FRates[i].Samples == 0.0;
    if (C.FRates[i].Samples <= 0.0 && !FromStamps)
      FormatError(QStringLiteral("invalid samp %1").arg(FloatText(C.FRates[i].Samples)), R.LineNo());
  }

  F = R.Next();
  C.FFirstTime = ParseTime(R, F, Rev1991);
  F = R.Next();
  C.FTriggerTime = ParseTime(R, F, Rev1991);

  F = R.Next();
  const QString Type = R.Field(F, 0).trimmed();
  const QString Upper = Type.toUpper();
  if (Upper == QLatin1String("BINARY"))
    FormatError(QStringLiteral("unsupported binary data file"), R.LineNo());
  if (Upper != QLatin1String("ASCII") && Upper != QLatin1String("ANSI"))
    FormatError(QStringLiteral("недопустимый формат данных %1").arg(Type), R.LineNo());
  C.FFileType = Upper;
  // Later revisions scale the time stamps by the next line's multiplier.
  if (C.FHasRevision && !Rev1991 && R.HasNext()) {
    F = R.Next();
    const double Mult = R.Float(F, 0);
    if (Mult < 0.0)
      FormatError(QStringLiteral("invalid timemult %1").arg(FloatText(Mult)), R.LineNo());
    C.FTimeMult = Mult == 0.0 ? 1.0 : Mult;
  }

  C.FFileName = FileName;
  *this = std::move(C);
}

QByteArray TComtradeConfig::ToBytes() const {
  QStringList L;
  L << FStationName + QLatin1Char(',') + FRecDevId + QStringLiteral(",1999");
  L << QStringLiteral("%1,%2A,%3D").arg(FAnalogCount + FDigitalCount).arg(FAnalogCount).arg(FDigitalCount);
  for (int i = 0; i < FAnalogCount; ++i) {
    const TComtradeAnalogChannel &A = FAnalog[i];
    for (double V : {A.A, A.B, A.Skew, A.Primary, A.Secondary})
      if (!std::isfinite(V))
        throw EKvError(QStringLiteral("invalid factor of analog channel %1").arg(i));
    L << QStringLiteral("%1,%2,%3,%4,%5,%6,%7,%8,%9,")
             .arg(i + 1)
             .arg(A.Id, A.Phase, A.Component, A.Unit, FloatText(A.A), FloatText(A.B), FloatText(A.Skew))
             .arg(A.Min) +
             QStringLiteral("%1,%2,%3,%4")
                 .arg(A.Max)
                 .arg(FloatText(A.Primary), FloatText(A.Secondary), A.IsPrimary ? "P" : "S");
  }
  for (int i = 0; i < FDigitalCount; ++i) {
    const TComtradeDigitalChannel &D = FDigital[i];
    L << QStringLiteral("%1,%2,,,%3").arg(i + 1).arg(D.Id).arg(D.Y ? 1 : 0);
  }
  // Written as a whole number; a read value of any size must not overflow it.
  if (!std::isfinite(FLineFrequency) || std::abs(FLineFrequency) > 1e9)
    throw EKvError(QStringLiteral("invalid line frequency"));
  L << QString::number(qRound64(FLineFrequency));
  L << QString::number(FRateCount);
  for (int i = 0; i < FRateCount; ++i) {
    if (!std::isfinite(FRates[i].Samples))
      throw EKvError(QStringLiteral("invalid sample rate %1").arg(i));
    L << FloatText(FRates[i].Samples) + QLatin1Char(',') + QString::number(int64_t(FRates[i].LastSample) + 1);
  }
  L << TimeText(FFirstTime);
  L << TimeText(FTriggerTime);
  L << QStringLiteral("ASCII");
  L << QStringLiteral("1");
  return ToWin1251(L.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n"));
}

void TComtradeConfig::SaveToFile(const QString &FileName) {
  if (FileName.isEmpty())
    throw EKvError("no filename");
  SaveFileBytes(FileName, ToBytes());
  FFileName = FileName;
}

QByteArray TComtradeConfig::CopyBytes(const QString &FileName, const QString &CodePage) const {
  QList<QByteArray> Lines = SplitLines(LoadFileBytes(FFileName));
  const bool Oem = CodePage == QLatin1String("OEM");
  bool Reported = false;
  if (Oem)
    for (qsizetype i = 0; i < Lines.size(); ++i) {
      const QString Text = FromWin1251(Lines[i]);
      Lines[i] = ToCp866(Text);
      const QString Back = FromCp866(Lines[i]);
      for (qsizetype k = 0; k < std::min(Text.size(), Back.size()) && !Reported; ++k)
        if (Text[k] != Back[k]) {
          Logger().Error(QStringLiteral("%1: character \"%2\" of line %3 has no OEM code")
                             .arg(FileName, Text[k]).arg(i + 1));
          Reported = true;
        }
    }
  // The type line by its place: later revisions have more lines after it.
  const int TypeLine = FileTypeLine();
  while (Lines.size() <= TypeLine)
    Lines.append(QByteArray());
  Lines[TypeLine] = "ASCII";
  return Lines.join("\r\n") + "\r\n";
}

void TComtradeConfig::SaveCopyAs(const QString &FileName, const QString &CodePage) {
  if (FileName.isEmpty())
    throw EKvError("no filename");
  SaveFileBytes(FileName, CopyBytes(FileName, CodePage));
  FFileName = FileName;
}

void TComtradeConfig::SavePair(const QString &FileName, TComtradeData &Data, const QString &CodePage) {
  if (FileName.isEmpty())
    throw EKvError("no filename");
  const QFileInfo Info(FileName);
  const QString DatName = Info.path() + '/' + Info.completeBaseName() + QStringLiteral(".dat");
  SaveFileSet({{FileName, CodePage.isEmpty() ? ToBytes() : CopyBytes(FileName, CodePage)}, {DatName, Data.ToBytes()}});
  FFileName = FileName;
  Data.FFileName = DatName;
}

void TComtradeConfig::GetAnalogChannel(int Index, TComtradeAnalogChannel &Rec) const {
  Rec = AnalogChannel(Index);
}
void TComtradeConfig::GetDigitalChannel(int Index, TComtradeDigitalChannel &Rec) const {
  Rec = DigitalChannel(Index);
}
void TComtradeConfig::GetRate(int Index, TComtradeRate &Out) const { Out = Rate(Index); }

TComtradeAnalogChannel &TComtradeConfig::AnalogChannel(int Index) {
  CheckIndex(Index, ComtradeMaxChannels);
  return FAnalog[Index];
}
const TComtradeAnalogChannel &TComtradeConfig::AnalogChannel(int Index) const {
  CheckIndex(Index, ComtradeMaxChannels);
  return FAnalog[Index];
}
const TComtradeDigitalChannel &TComtradeConfig::DigitalChannel(int Index) const {
  CheckIndex(Index, ComtradeMaxChannels);
  return FDigital[Index];
}
const TComtradeRate &TComtradeConfig::Rate(int Index) const {
  CheckIndex(Index, ComtradeMaxRates);
  return FRates[Index];
}

int TComtradeConfig::FileTypeLine() const {
  // Lines 1 and 2, the channels, frequency and rate count, the rate lines
  // (one when there are none), then the two times.
  return 2 + FAnalogCount + FDigitalCount + 2 + std::max(FRateCount, 1) + 2;
}

int TComtradeConfig::GetTriggerOffsetMs() const {
  return CheckedCast<int>(qRound64((FTriggerTime - FFirstTime) * 86400000.0));
}

int TComtradeConfig::SampleCount() const {
  if (FRateCount < 1 || FRates[0].LastSample < 0)
    return 0;
  return FRates[0].LastSample == std::numeric_limits<int>::max() ? FRates[0].LastSample
                                                                  : FRates[0].LastSample + 1;
}

// ---------------------------------------------------------------------------
// TComtradeConfigTool

void TComtradeConfigTool::SetConfig(TComtradeConfig *AConfig) {
  FConfig = AConfig;
  FConfig->FStationName = QStringLiteral("StationName");
  FConfig->FRecDevId = QStringLiteral("StationId");
  FConfig->FFileType = QStringLiteral("ASCII");
  Clear();
}

void TComtradeConfigTool::Clear() {
  FConfig->FTotalCount = FConfig->FAnalogCount = FConfig->FDigitalCount = 0;
  FConfig->FRateCount = 0;
}

void TComtradeConfigTool::AddAnalogChannel(const TComtradeAnalogChannel &Rec) {
  if (FConfig->FAnalogCount >= ComtradeMaxChannels)
    throw EKvRange(QStringLiteral("too many analog channels (at most %1)").arg(ComtradeMaxChannels));
  FConfig->FAnalog[FConfig->FAnalogCount++] = Rec;
  ++FConfig->FTotalCount;
}

void TComtradeConfigTool::AddDigitalChannel(const TComtradeDigitalChannel &Rec) {
  if (FConfig->FDigitalCount >= ComtradeMaxChannels)
    throw EKvRange(QStringLiteral("too many digital channels (at most %1)").arg(ComtradeMaxChannels));
  FConfig->FDigital[FConfig->FDigitalCount++] = Rec;
  ++FConfig->FTotalCount;
}

void TComtradeConfigTool::SetFirstTime(TDateTime Value) { FConfig->FFirstTime = Value; }
void TComtradeConfigTool::SetTriggerTime(TDateTime Value) { FConfig->FTriggerTime = Value; }

void TComtradeConfigTool::SetRateCount(int Value) {
  if (Value < 0 || Value > ComtradeMaxRates)
    throw EKvRange("range check error: " + std::to_string(Value));
  FConfig->FRateCount = Value;
}
void TComtradeConfigTool::SetRateSamples(int Index, double Value) {
  CheckIndex(Index, ComtradeMaxRates);
  FConfig->FRates[Index].Samples = Value;
}
void TComtradeConfigTool::SetRateEndSample(int Index, int Value) {
  CheckIndex(Index, ComtradeMaxRates);
  FConfig->FRates[Index].LastSample = Value;
}

// ---------------------------------------------------------------------------
// TComtradeData

void TComtradeData::Size(int Samples, bool Zeroed) {
  KvCheck(FConfig != nullptr, "FComtradeConfig assigned");
  FAnalogCount = FConfig->AnalogCount();
  FDigitalCount = FConfig->DigitalCount();
  if (int64_t(Samples) * std::max(std::max(FAnalogCount, FDigitalCount), 1) > MaxCells)
    throw EKvFormat(QStringLiteral("too many samples: %1").arg(Samples));
  FSamples = Samples;
  auto Fit = [&](auto &Cells, size_t Count) {
    Cells.clear();
    if (Zeroed)
      Cells.resize(Count, 0);
    else
      Cells.resize(Count);
  };
  Fit(FRaw, size_t(Samples) * FAnalogCount);
  Fit(FDigital, size_t(Samples) * FDigitalCount);
  Fit(FNumbers, size_t(Samples));
  Fit(FTimeStamps, size_t(Samples));
  FMissing.clear();
  FRead = -1;
}

int TComtradeData::SampleCount() const {
  if (!FConfig)
    return 0;
  return std::min(FRead >= 0 ? FRead : FConfig->SampleCount(), FSamples);
}

namespace {

bool IsBlank(char C) { return C == ' ' || C == '\t'; }

// Bits of the 64 bytes at P: Commas where a byte is ",", Ends where it is CR
// or LF (bit i for byte i).
inline void SeparatorBits(const char *P, uint64_t &Commas, uint64_t &Ends) {
  uint64_t C = 0, E = 0;
#if defined(__SSE2__) || defined(_M_X64)
  const __m128i Comma = _mm_set1_epi8(','), Cr = _mm_set1_epi8('\r'), Lf = _mm_set1_epi8('\n');
  for (int i = 0; i < 4; ++i) {
    const __m128i V = _mm_loadu_si128(reinterpret_cast<const __m128i *>(P + 16 * i));
    C |= uint64_t(uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(V, Comma)))) << (16 * i);
    E |= uint64_t(uint32_t(_mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(V, Cr), _mm_cmpeq_epi8(V, Lf)))))
         << (16 * i);
  }
#else
  // 0x80 in each byte equal to B's, exactly; the eight flags then gathered
  // into the top byte by one multiplication.
  auto Flags = [](uint64_t W, uint64_t B) {
    constexpr uint64_t Low7 = 0x7F7F7F7F7F7F7F7F;
    const uint64_t X = W ^ B;
    return ~(((X & Low7) + Low7) | X | Low7);
  };
  auto Gather = [](uint64_t F) { return ((F >> 7) * 0x0102040810204080) >> 56; };
  for (int i = 0; i < 8; ++i) {
    uint64_t W;
    std::memcpy(&W, P + 8 * i, 8);
    C |= Gather(Flags(W, 0x2C2C2C2C2C2C2C2C)) << (8 * i);
    E |= Gather(Flags(W, 0x0D0D0D0D0D0D0D0D) | Flags(W, 0x0A0A0A0A0A0A0A0A)) << (8 * i);
  }
#endif
  Commas = C;
  Ends = E;
}

// Set bits of X without a call where the processor has no such instruction.
inline int BitCount(uint64_t X) {
#if defined(__POPCNT__)
  return std::popcount(X);
#else
  X -= (X >> 1) & 0x5555555555555555;
  X = (X & 0x3333333333333333) + ((X >> 2) & 0x3333333333333333);
  X = (X + (X >> 4)) & 0x0F0F0F0F0F0F0F0F;
  return int((X * 0x0101010101010101) >> 56);
#endif
}

// The first CR or LF of [P, End), or End.
inline const char *FindLineEnd(const char *P, const char *End) {
#if defined(__SSE2__) || defined(_M_X64)
  const __m128i Cr = _mm_set1_epi8('\r'), Lf = _mm_set1_epi8('\n');
  for (; End - P >= 16; P += 16) {
    const __m128i V = _mm_loadu_si128(reinterpret_cast<const __m128i *>(P));
    if (const int M = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(V, Cr), _mm_cmpeq_epi8(V, Lf))))
      return P + std::countr_zero(unsigned(M));
  }
#endif
  while (P < End && *P != '\r' && *P != '\n')
    ++P;
  return P;
}

// The field of N bytes at P (eight may be read there): an optional "-" and
// 1 to 8 digits. Anything else leaves a bit set in Bad; no branch is taken on
// the bytes, so that fields of every length cost the same.
inline int32_t QuickNumber(const char *P, ptrdiff_t N, uint64_t &Bad) {
  uint64_t W;
  std::memcpy(&W, P, 8);
  const uint64_t Negative = (W & 0xFF) == '-';
  const uint64_t BadLength = uint64_t(N < 1 + ptrdiff_t(Negative)) | uint64_t(N > 8);
  // The field's bytes to the top of the word behind zero bytes, the sign
  // turned into a leading "0".
  const int Shift = int((8 - N) & 7) * 8;
  W = (W << Shift) ^ ((Negative * uint64_t('-' ^ '0')) << Shift);
  // A byte is a digit when it and it + 6 both have 3 as their high nibble;
  // a carry out of a byte only reaches the bytes above a non-digit.
  constexpr uint64_t High = 0xF0F0F0F0F0F0F0F0, Threes = 0x3030303030303030;
  Bad |= BadLength | ((((W & High) ^ Threes) | (((W + 0x0606060606060606) & High) ^ Threes)) >> Shift);
  // Digits combined in pairs, fours and eights.
  uint64_t X = W & 0x0F0F0F0F0F0F0F0F;
  X = (X * 2561) >> 8;
  X = ((X & 0x00FF00FF00FF00FF) * 6553601) >> 16;
  const auto V = int32_t(((X & 0x0000FFFF0000FFFF) * 42949672960001) >> 32);
  const int32_t Sign = -int32_t(Negative);
  return (V ^ Sign) - Sign;
}

// The same for up to 11 bytes (the sample number and the time stamp), within
// the 32-bit range.
inline int32_t QuickLongNumber(const char *P, ptrdiff_t N, uint64_t &Bad) {
  if (N <= 8)
    return QuickNumber(P, N, Bad);
  const ptrdiff_t Head = N - 8;
  Bad |= uint64_t(Head > 3) | uint64_t(P[Head] == '-');
  const int64_t High = QuickNumber(P, std::min<ptrdiff_t>(Head, 3), Bad);
  const int64_t Low = QuickNumber(P + Head, 8, Bad);
  const int64_t V = *P == '-' ? -(-High * 100000000 + Low) : High * 100000000 + Low;
  Bad |= uint64_t(V < std::numeric_limits<int32_t>::min()) | uint64_t(V > std::numeric_limits<int32_t>::max());
  return int32_t(V);
}

// Fields 0..Count - 1 of a line at Begin into Out, field c running from
// Seps[c] + 1 to Seps[c + 1] (offsets from Begin; eight bytes may be read at
// each field's start), each as QuickNumber reads it. Missing is set when a
// value is 99999 or -99999.
void QuickFields(const char *Begin, const int32_t *Seps, int Count, int32_t *Out, uint64_t &Bad, bool &Missing) {
  for (int c = 0; c < Count; ++c) {
    const int32_t From = Seps[c] + 1;
    Out[c] = QuickNumber(Begin + From, Seps[c + 1] - From, Bad);
    Missing |= (Out[c] == MissingValue) | (Out[c] == -MissingValue);
  }
}

#if defined(__GNUC__) && defined(__x86_64__)
#define KV_QUICK_AVX2 1
// The same four fields at a time in the lanes of one register, where the
// processor has them: the digits are checked and combined for all four at
// once, which takes a third of the instructions.
[[gnu::target("avx2")]] void QuickFieldsAvx2(const char *Begin, const int32_t *Seps, int Count, int32_t *Out,
                                             uint64_t &Bad, bool &Missing) {
  auto Word = [Begin](int32_t Sep) {
    int64_t W;
    std::memcpy(&W, Begin + Sep + 1, 8);
    return W;
  };
  const __m256i One = _mm256_set1_epi64x(1), Eight = _mm256_set1_epi64x(8), Seven = _mm256_set1_epi64x(7);
  const __m256i LowByte = _mm256_set1_epi64x(0xFF), Minus = _mm256_set1_epi64x('-');
  const __m256i Zeros = _mm256_set1_epi8('0'), Nine = _mm256_set1_epi8(9), AllOnes = _mm256_set1_epi8(-1);
  const __m256i Tens = _mm256_set1_epi16(0x010A), Hundreds = _mm256_set1_epi32(0x00010064);
  const __m256i TenThousand = _mm256_set1_epi64x(10000), Pick = _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7);
  const __m256i Gap = _mm256_set1_epi64x(MissingValue), NegativeGap = _mm256_set1_epi64x(-MissingValue);
  __m256i Wrong = _mm256_setzero_si256(), Gaps = _mm256_setzero_si256();
  int c = 0;
  for (; c + 4 <= Count; c += 4) {
    const __m128i From = _mm_add_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(Seps + c)), _mm_set1_epi32(1));
    const __m128i To = _mm_loadu_si128(reinterpret_cast<const __m128i *>(Seps + c + 1));
    const __m256i Length = _mm256_cvtepi32_epi64(_mm_sub_epi32(To, From));
    __m256i W = _mm256_setr_epi64x(Word(Seps[c]), Word(Seps[c + 1]), Word(Seps[c + 2]), Word(Seps[c + 3]));
    const __m256i Negative = _mm256_cmpeq_epi64(_mm256_and_si256(W, LowByte), Minus);
    // 1 to 8 bytes, a sign and a digit at least.
    const __m256i Shortest = _mm256_sub_epi64(One, Negative);
    Wrong = _mm256_or_si256(Wrong, _mm256_or_si256(_mm256_cmpgt_epi64(Shortest, Length), _mm256_cmpgt_epi64(Length, Eight)));
    // The field to the top of the word behind "0"s, the sign made a "0" too.
    const __m256i Shift = _mm256_slli_epi64(_mm256_and_si256(_mm256_sub_epi64(Eight, Length), Seven), 3);
    W = _mm256_sllv_epi64(_mm256_xor_si256(W, _mm256_and_si256(Negative, _mm256_set1_epi64x('-' ^ '0'))), Shift);
    W = _mm256_or_si256(W, _mm256_andnot_si256(_mm256_sllv_epi64(AllOnes, Shift), Zeros));
    const __m256i Digits = _mm256_sub_epi8(W, Zeros);
    Wrong = _mm256_or_si256(Wrong, _mm256_xor_si256(_mm256_cmpeq_epi8(_mm256_min_epu8(Digits, Nine), Digits), AllOnes));
    // Pairs, fours, then the eight digits of each lane.
    const __m256i Fours = _mm256_madd_epi16(_mm256_maddubs_epi16(Digits, Tens), Hundreds);
    __m256i V = _mm256_add_epi64(_mm256_mul_epu32(Fours, TenThousand), _mm256_srli_epi64(Fours, 32));
    V = _mm256_sub_epi64(_mm256_xor_si256(V, Negative), Negative);
    Gaps = _mm256_or_si256(Gaps, _mm256_or_si256(_mm256_cmpeq_epi64(V, Gap), _mm256_cmpeq_epi64(V, NegativeGap)));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(Out + c),
                     _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(V, Pick)));
  }
  Bad |= uint64_t(!_mm256_testz_si256(Wrong, Wrong));
  Missing |= !_mm256_testz_si256(Gaps, Gaps);
  QuickFields(Begin, Seps + c, Count - c, Out + c, Bad, Missing);
}
#endif

using TQuickFields = void (*)(const char *, const int32_t *, int, int32_t *, uint64_t &, bool &);
const TQuickFields QuickFieldsHere = [] {
#ifdef KV_QUICK_AVX2
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2"))
    return TQuickFields(QuickFieldsAvx2);
#endif
  return TQuickFields(QuickFields);
}();

// One field of a line, P left past its ",": an optional "-" and digits up to
// "," or the line's end by std::from_chars; else the full reading below,
// which agrees with it on every field from_chars takes.
const char *ReadFullField(const char *P, const char *End, int LineNo, int32_t &Value);
[[gnu::noinline]] const char *ReadOtherField(const char *P, const char *End, int LineNo, int32_t &Value) {
  if (P <= End) {
    const auto [Stop, Error] = std::from_chars(P, End, Value);
    if (Error == std::errc() && (Stop == End || *Stop == ',') && Stop - P <= 11)
      return Stop + 1;
  }
  return ReadFullField(P, End, LineNo, Value);
}

// Any field: an optional run of blanks, an optional "-", decimal digits; an
// empty field is 0. Returns the position past its ",".
const char *ReadFullField(const char *P, const char *End, int LineNo, int32_t &Value) {
  if (P > End)
    FormatError(QStringLiteral("too few values"), LineNo);
  const char *FieldStart = P;
  while (P < End && IsBlank(*P))
    ++P;
  const bool Negative = P < End && *P == '-';
  P += Negative;
  const char *Digits = P;
  int64_t V = 0;
  // Eleven digits cannot overflow the 64-bit sum; more are refused below.
  const char *Stop = std::min(End, P + 11);
  while (P < Stop && unsigned(*P - '0') <= 9)
    V = V * 10 + (*P++ - '0');
  while (P < End && IsBlank(*P))
    ++P;
  if (!(P == End || *P == ',') || (Negative && Digits == P) ||
      V > int64_t(std::numeric_limits<int32_t>::max()) + (Negative ? 1 : 0)) {
    const char *Comma = static_cast<const char *>(std::memchr(FieldStart, ',', End - FieldStart));
    const QString Text = QString::fromLatin1(FieldStart, (Comma ? Comma : End) - FieldStart);
    FormatError(QStringLiteral("invalid number \"%1\"").arg(Text), LineNo);
  }
  Value = int32_t(Negative ? -V : V);
  return P + 1;
}

} // namespace

// Each array's cells in large pages where the system gives them on request:
// a fault and a page-table entry per 2 MB rather than per page. On one core
// they are then set up in one call rather than by a fault at the first write;
// several cores each take the faults of their own rows, at once.
void TComtradeData::Populate(bool SetUp) {
#if defined(__linux__)
  const uintptr_t Page = uintptr_t(sysconf(_SC_PAGESIZE));
  auto Pages = [&](void *P, size_t Bytes) {
    const uintptr_t A = (uintptr_t(P) + Page - 1) & ~(Page - 1), E = (uintptr_t(P) + Bytes) & ~(Page - 1);
    if (E <= A)
      return;
    // A failure of either only costs the faults.
#if defined(MADV_HUGEPAGE)
    madvise(reinterpret_cast<void *>(A), E - A, MADV_HUGEPAGE);
#endif
#if defined(MADV_POPULATE_WRITE)
    if (SetUp)
      madvise(reinterpret_cast<void *>(A), E - A, MADV_POPULATE_WRITE);
#endif
  };
  Pages(FRaw.data(), FRaw.size() * sizeof(int32_t));
  Pages(FDigital.data(), FDigital.size());
  Pages(FNumbers.data(), FNumbers.size() * sizeof(int32_t));
  Pages(FTimeStamps.data(), FTimeStamps.size() * sizeof(int32_t));
#else
  (void)SetUp;
#endif
}

void TComtradeData::MarkMissing(int Sample, int Channel) {
  ++MissingMarks;
  const std::lock_guard<std::mutex> Guard(MissingLock);
  if (FMissing.empty())
    FMissing.assign(FRaw.size(), 0);
  FMissing[size_t(Sample) * FAnalogCount + Channel] = 1;
}

// The usual line, parsed without a branch on its bytes: the separators of 64
// bytes at a time, then each field as one word. False for anything else
// (blanks, an empty or long field, too few fields, a digital value other than
// 0 and 1, no line end before End), which ParseDatLine then judges; both agree
// on every line this one takes. Limit is the end of the bytes that may be
// read, at least 72 past any block the line touches. LineEnd is set to the
// line's CR or LF. The clones are chosen by a resolver that runs while the
// program is still being loaded, before a thread sanitizer's run time is up:
// its build takes the default alone.
#if defined(__GNUC__) && defined(__x86_64__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__)
[[gnu::target_clones("arch=x86-64-v3", "default")]]
#endif
bool TComtradeData::ParseQuickLine(const char *Begin, const char *End, const char *Limit, int Sample,
                                   const char *&LineEnd) {
  if constexpr (std::endian::native != std::endian::little)
    return false;
  // First the separators that close the walked fields (and perhaps more),
  // as offsets, 64 bytes at a time, stopping at the block with the line end;
  // then the fields, none waiting for the one before.
  const int Walked = 2 + FAnalogCount;
  int32_t Seps[2 + ComtradeMaxChannels + 64];
  int Found = 0;
  uint64_t Ends = 0;
  int32_t Offset = 0;
  for (;; Offset += 64) {
    const char *Block = Begin + Offset;
    if (Limit - Block < 72 || Block >= End)
      return false;
    uint64_t Commas = 0;
    SeparatorBits(Block, Commas, Ends);
    uint64_t Any = Commas | Ends;
    const int Count = BitCount(Any);
    int32_t *Out = Seps + Found;
    for (int i = 0; i < 8; ++i) {
      Out[i] = Offset + std::countr_zero(Any);
      Any &= Any - 1;
    }
    if (Count > 8) [[unlikely]]
      for (int i = 8; i < Count; ++i) {
        Out[i] = Offset + std::countr_zero(Any);
        Any &= Any - 1;
      }
    Found += Count;
    if (Found >= Walked || Ends)
      break;
  }
  // The line end, when the last block read holds it.
  const int32_t FirstEnd = Ends ? Offset + std::countr_zero(Ends) : std::numeric_limits<int32_t>::max();
  // All but a last field close with a comma.
  if (Found < Walked || Seps[Walked - 1] > FirstEnd || (Seps[Walked - 1] == FirstEnd && FDigitalCount > 0))
    return false;
  bool IsEnd = Seps[Walked - 1] == FirstEnd;
  uint64_t Bad = 0;
  int32_t Head[2];
  Head[0] = QuickLongNumber(Begin, Seps[0], Bad);
  Head[1] = QuickLongNumber(Begin + Seps[0] + 1, Seps[1] - Seps[0] - 1, Bad);
  int32_t *Raw = FRaw.data() + size_t(Sample) * FAnalogCount;
  bool Missing = false;
  QuickFieldsHere(Begin, Seps + 1, FAnalogCount, Raw, Bad, Missing);
  const char *FieldStart = Begin + Seps[Walked - 1] + 1;
  const char *Stop = FieldStart - 1; // the last separator read
  if (FDigitalCount > 0) {
    // "b,b,...,b" of 0s and 1s, 16 bytes (8 fields) at a time.
    const ptrdiff_t Bytes = 2 * ptrdiff_t(FDigitalCount) - 1;
    Stop = FieldStart + Bytes;
    if (Stop >= End || Limit - FieldStart < (Bytes + 16) / 16 * 16)
      return false;
    uint8_t *Dig = FDigital.data() + size_t(Sample) * FDigitalCount;
#if defined(__SSE2__) || defined(_M_X64)
    // Care bytes: 0xFE under a digit ("0" and "1" alike), 0xFF under a comma.
    const __m128i Care = _mm_set1_epi16(int16_t(0xFFFE)), Want = _mm_set1_epi16(int16_t(',' << 8 | '0'));
    alignas(16) static constexpr uint8_t Window[32] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                                       0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    __m128i Wrong = _mm_setzero_si128();
    alignas(16) uint8_t Bits[8];
    for (ptrdiff_t At = 0; At < Bytes; At += 16) {
      const __m128i V = _mm_loadu_si128(reinterpret_cast<const __m128i *>(FieldStart + At));
      const __m128i In =
          _mm_loadu_si128(reinterpret_cast<const __m128i *>(Window + 16 - std::min<ptrdiff_t>(16, Bytes - At)));
      Wrong = _mm_or_si128(Wrong, _mm_and_si128(_mm_xor_si128(_mm_and_si128(V, Care), Want), In));
      const __m128i Digits = _mm_and_si128(_mm_sub_epi8(V, _mm_set1_epi8('0')), _mm_set1_epi16(0x00FF));
      _mm_storel_epi64(reinterpret_cast<__m128i *>(Bits), _mm_packus_epi16(Digits, _mm_setzero_si128()));
      std::memcpy(Dig + At / 2, Bits, size_t(std::min<ptrdiff_t>(8, FDigitalCount - At / 2)));
    }
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(Wrong, _mm_setzero_si128())) != 0xFFFF)
      return false;
#else
    for (int c = 0; c < FDigitalCount; ++c) {
      const char D = FieldStart[2 * c], Sep = c + 1 < FDigitalCount ? FieldStart[2 * c + 1] : ',';
      Bad |= uint64_t((D & 0xFE) != '0') | uint64_t(Sep != ',');
      Dig[c] = uint8_t(D - '0');
    }
#endif
    IsEnd = *Stop == '\r' || *Stop == '\n';
    if (!IsEnd && *Stop != ',')
      return false;
  }
  if (Bad)
    return false;
  // Fields past the channels are ignored.
  LineEnd = IsEnd ? Stop : FindLineEnd(Stop + 1, End);
  if (LineEnd >= End)
    return false;
  FNumbers[Sample] = Head[0];
  FTimeStamps[Sample] = Head[1];
  if (Missing) [[unlikely]]
    for (int c = 0; c < FAnalogCount; ++c)
      if (Raw[c] == MissingValue || Raw[c] == -MissingValue) {
        MarkMissing(Sample, c);
        Raw[c] = 0;
      }
  return true;
}

// Fields past the channels are ignored.
void TComtradeData::ParseDatLine(const char *Begin, const char *End, int Sample, int LineNo) {
  int32_t *Raw = FRaw.data() + size_t(Sample) * FAnalogCount;
  uint8_t *Dig = FDigital.data() + size_t(Sample) * FDigitalCount;
  // Field by field, stopping at the first fault as the message must.
  const char *P = Begin;
  auto Field = [&](int32_t &Value) { P = ReadOtherField(P, End, LineNo, Value); };
  Field(FNumbers[Sample]);
  Field(FTimeStamps[Sample]);
  for (int c = 0; c < FAnalogCount; ++c) {
    int32_t Value;
    Field(Value);
    if (Value == MissingValue || Value == -MissingValue) {
      MarkMissing(Sample, c);
      Value = 0;
    }
    Raw[c] = Value;
  }
  for (int c = 0; c < FDigitalCount; ++c) {
    int32_t Value;
    Field(Value);
    if (Value != 0 && Value != 1)
      FormatError(QStringLiteral("invalid digital value %1").arg(Value), LineNo);
    Dig[c] = uint8_t(Value);
  }
}

namespace {

// Past the line end at LineEnd: CR LF is one.
inline const char *NextLineStart(const char *LineEnd, const char *End) {
  if (LineEnd >= End)
    return End;
  return LineEnd + 1 + (*LineEnd == '\r' && LineEnd + 1 < End && LineEnd[1] == '\n');
}

// Calls Line(begin, end) for each line of [Begin, End): a line ends at CR, LF
// or CR LF; text after the last line end is a line too. Line returns false to stop.
template <class F> bool ForEachLine(const char *Begin, const char *End, F &&Line) {
  for (const char *Start = Begin; Start < End;) {
    const char *LineEnd = FindLineEnd(Start, End);
    if (!Line(Start, LineEnd))
      return false;
    Start = NextLineStart(LineEnd, End);
  }
  return true;
}

// A line that opens with the DOS end-of-file byte ends the data; one that
// closes with it loses the byte. Empty lines hold no sample.
enum class TDatLine { Sample, Empty, Eof };
TDatLine ClassifyLine(const char *Begin, const char *&End) {
  if (Begin < End && *Begin == DosEof)
    return TDatLine::Eof;
  if (End > Begin && End[-1] == DosEof)
    --End;
  return Begin < End ? TDatLine::Sample : TDatLine::Empty;
}

// One core's view of the ".dat" text: the bytes themselves when they are in
// memory, else windows of whole lines read through a handle of its own, so
// that every core reads at its own place and the text never takes more than a
// window per core.
class TDatReader {
public:
  TDatReader(const char *Bytes, qint64 Length, const QString &FileName)
      : FBytes(Bytes), FLength(Length), FFile(FileName) {}

  // Calls Lines(begin, end, limit) with whole lines of [From, To), a window at
  // a time; To is a line boundary or the end of the text, and bytes up to
  // limit may be read. Lines returns false to stop.
  template <class F> void Lines(qint64 From, qint64 To, F &&Fn) {
    if (FBytes) {
      Fn(FBytes + From, FBytes + To, FBytes + FLength);
      return;
    }
    Seek(From);
    qsizetype Held = 0;
    for (qint64 Pos = From; Pos < To;) {
      const qint64 Got = Read(Held, std::min(WindowBytes, To - Pos));
      Pos += Got;
      // A file cut short since its size was taken ends where it ends.
      const bool Last = Got == 0 || Pos >= To;
      const qsizetype Size = Held + qsizetype(Got);
      const char *Data = FBuffer.constData();
      qsizetype Cut = Size;
      if (!Last) {
        // Whole lines only; a CR at the very end may be the first half of CR LF.
        Cut = 0;
        for (qsizetype i = Size - 1; i >= 0; --i)
          if (Data[i] == '\n' || (Data[i] == '\r' && i + 1 < Size)) {
            Cut = i + 1;
            break;
          }
      }
      // The padding past the bytes read may be read too (never trusted).
      if (Cut > 0 && !Fn(Data, Data + Cut, Data + Size + Padding))
        return;
      if (Last)
        return;
      Held = Size - Cut;
      std::memmove(FBuffer.data(), Data + Cut, size_t(Held));
    }
  }

  // The offset just past the first line end at or after At (CR LF taken
  // together), or Size when no line ends there.
  qint64 NextLineStart(qint64 At, qint64 Size) {
    bool AfterCr = false;
    while (At < Size) {
      const char *Data = nullptr;
      qint64 Got = std::min<qint64>(4096, Size - At);
      if (FBytes) {
        Data = FBytes + At;
      } else {
        Seek(At);
        Got = Read(0, Got);
        Data = FBuffer.constData();
        if (Got == 0)
          return Size;
      }
      if (AfterCr)
        return At + (Data[0] == '\n');
      for (qint64 i = 0; i < Got; ++i) {
        if (Data[i] == '\n')
          return At + i + 1;
        if (Data[i] == '\r') {
          if (i + 1 < Got)
            return At + i + 1 + (Data[i + 1] == '\n');
          AfterCr = true;
        }
      }
      At += Got;
    }
    return Size;
  }

private:
  static constexpr qint64 WindowBytes = 64 << 10;
  // Readable bytes after a window, so that its lines are parsed a word at a time to the end.
  static constexpr qsizetype Padding = 128;

  void Seek(qint64 At) {
    if (!FFile.isOpen() && !FFile.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
      throw EKvError(QStringLiteral("cannot open %1: %2").arg(FFile.fileName(), FFile.errorString()));
    if (!FFile.seek(At))
      Failed();
  }
  // Reads up to Bytes more bytes after the first Held of the buffer.
  qint64 Read(qsizetype Held, qint64 Bytes) {
    FBuffer.resize(Held + qsizetype(Bytes) + Padding);
    const qint64 Got = FFile.read(FBuffer.data() + Held, Bytes);
    if (Got < 0)
      Failed();
    return Got;
  }
  [[noreturn]] void Failed() {
    throw EKvError(QStringLiteral("cannot read %1: %2").arg(FFile.fileName(), FFile.errorString()));
  }

  const char *FBytes;
  const qint64 FLength;
  QFile FFile;
  QByteArray FBuffer;
};

} // namespace

// Parses the text in pieces of whole lines, one per core: a first pass counts
// each piece's lines and samples, so that every piece knows its first sample
// and line number and parses straight into the arrays. The error reported is
// the one on the earliest line, as a reading line by line would report it.
void TComtradeData::ParseDat(const char *Bytes, qint64 Length, const QString &FileName, TComtradeRowSink *Sink) {
  struct TPiece {
    qint64 Begin = 0, End = 0;
    int Lines = 0, Samples = 0, FirstSample = 0, FirstLine = 0;
    bool Eof = false, Used = false;
    std::exception_ptr Failure;
  };
  // The cores this process may run on: pinned to one, a single piece is read
  // once, without the counting pass.
  int Cores = int(std::max(1u, std::thread::hardware_concurrency()));
  cpu_set_t Allowed;
  CPU_ZERO(&Allowed);
  if (sched_getaffinity(0, sizeof Allowed, &Allowed) == 0)
    Cores = std::clamp(CPU_COUNT(&Allowed), 1, Cores);
  const int Count = Length < (1 << 20) ? 1 : int(std::min<qint64>(Cores, Length >> 18));
  std::vector<TPiece> Pieces(size_t(std::max(Count, 1)));
  if (Length >= (1 << 20))
    Populate(Pieces.size() == 1);
  {
    TDatReader Cuts(Bytes, Length, FileName);
    qint64 P = 0;
    for (int i = 0; i < int(Pieces.size()); ++i) {
      Pieces[i].Begin = P;
      P = i + 1 == int(Pieces.size()) ? Length : Cuts.NextLineStart(std::max(P, Length * (i + 1) / Count), Length);
      Pieces[i].End = P;
    }
  }
  // Between the passes: each piece's first sample and line. Pieces after an
  // end-of-file line, or wholly past the samples the rate line allows, are not
  // parsed; nothing is when a piece could not be read.
  int Sample = 0, LineNo = 0;
  auto Place = [&]() noexcept {
    bool Eof = false;
    for (const TPiece &Piece : Pieces)
      if (Piece.Failure)
        return;
    for (TPiece &Piece : Pieces) {
      if (Eof || Sample >= FSamples)
        break;
      Piece.Used = true;
      Piece.FirstSample = Sample;
      Piece.FirstLine = LineNo;
      Sample = int(std::min<int64_t>(int64_t(Sample) + Piece.Samples, FSamples));
      LineNo += Piece.Lines;
      Eof = Piece.Eof;
    }
  };
  std::barrier Placed(std::ptrdiff_t(Pieces.size()), Place);
  // One piece starts at the first sample and line: it needs no counting pass.
  const bool Single = Pieces.size() == 1;
  auto CountLines = [&](TDatReader &Reader, TPiece &Piece) {
    try {
      Reader.Lines(Piece.Begin, Piece.End, [&](const char *B, const char *E, const char *) {
        return ForEachLine(B, E, [&](const char *LB, const char *LE) {
          ++Piece.Lines;
          const TDatLine Kind = ClassifyLine(LB, LE);
          Piece.Eof = Kind == TDatLine::Eof;
          Piece.Samples += Kind == TDatLine::Sample;
          return !Piece.Eof;
        });
      });
    } catch (...) {
      Piece.Failure = std::current_exception();
    }
    Placed.arrive_and_wait();
  };
  auto Work = [&](TPiece &Piece) {
    TDatReader Reader(Bytes, Length, FileName);
    if (Single)
      Piece.Used = true;
    else
      CountLines(Reader, Piece);
    if (!Piece.Used)
      return;
    int S = Piece.FirstSample, L = Piece.FirstLine;
    // The sink hears of the rows a few hundred at a time, while they are at
    // hand, in reports that end at multiples of SinkRows but at the piece's
    // end. Rows among which a value was missing are not reported at all.
    int Reported = S;
    unsigned Marks = MissingMarks;
    auto Report = [&](bool Whole) {
      const int To = Whole ? S : S - S % SinkRows;
      if (Marks != MissingMarks) {
        Marks = MissingMarks;
        Reported = S;
      } else if (To > Reported) {
        Sink->Rows(Reported, To);
        Reported = To;
      }
    };
    try {
      Reader.Lines(Piece.Begin, Piece.End, [&](const char *B, const char *E, const char *Limit) {
        for (const char *Start = B; Start < E;) {
          ++L;
          if (S >= FSamples)
            return false;
          const char *LineEnd = nullptr;
          if (!FFieldByField && ParseQuickLine(Start, E, Limit, S, LineEnd)) {
            if (++S % SinkRows == 0 && Sink)
              Report(false);
          } else {
            LineEnd = FindLineEnd(Start, E);
            const char *Last = LineEnd;
            const TDatLine Kind = ClassifyLine(Start, Last);
            if (Kind == TDatLine::Eof)
              return false;
            if (Kind == TDatLine::Sample)
              ParseDatLine(Start, Last, S++, L);
          }
          Start = NextLineStart(LineEnd, E);
        }
        if (Sink)
          Report(false);
        return true;
      });
      if (Sink)
        Report(true);
    } catch (...) {
      Piece.Failure = std::current_exception();
    }
    if (Single)
      Sample = S;
  };
  std::vector<std::thread> Threads;
  Threads.reserve(Pieces.size() - 1);
  for (size_t i = 1; i < Pieces.size(); ++i)
    Threads.emplace_back([&Work, &Piece = Pieces[i]] { Work(Piece); });
  Work(Pieces[0]);
  for (std::thread &T : Threads)
    T.join();
  for (const TPiece &Piece : Pieces)
    if (Piece.Failure)
      std::rethrow_exception(Piece.Failure);
  FRead = Sample;
}

void TComtradeData::LoadFromFile(const QString &FileName, TComtradeConfig *AConfig, TComtradeRowSink *Sink) {
  QFile File(FileName);
  if (!File.open(QIODevice::ReadOnly))
    throw EKvError(QStringLiteral("cannot open %1: %2").arg(FileName, File.errorString()));
  if (File.isSequential()) {
    // A pipe or device has no size to split by: its text is taken whole.
    const QByteArray Bytes = File.readAll();
    if (File.error() != QFileDevice::NoError)
      throw EKvError(QStringLiteral("cannot read %1: %2").arg(FileName, File.errorString()));
    Load(Bytes.constData(), Bytes.size(), FileName, AConfig, Sink);
    return;
  }
  Load(nullptr, File.size(), FileName, AConfig, Sink);
}

void TComtradeData::LoadFromBytes(const QByteArray &Bytes, const QString &FileName, TComtradeConfig *AConfig,
                                  TComtradeRowSink *Sink) {
  Load(Bytes.constData(), Bytes.size(), FileName, AConfig, Sink);
}

void TComtradeData::Load(const char *Bytes, qint64 Length, const QString &FileName, TComtradeConfig *AConfig,
                         TComtradeRowSink *Sink) {
  FConfig = AConfig;
  KvCheck(FConfig != nullptr, "FComtradeConfig assigned");
  if (FConfig->RateCount() != 1)
    throw EKvAssert("FComtradeConfig.FRateCount=1");
  // A sample line holds at least one "," between fields and a line end, so
  // the file's size bounds the samples whatever the configuration declares.
  const int64_t Fields = 2 + int64_t(FConfig->AnalogCount()) + FConfig->DigitalCount();
  const int64_t Fit = Length / Fields + 1;
  Size(int(std::min<int64_t>(FConfig->SampleCount(), Fit)), false);
  FFileName = FileName;
  // Cells past the samples read (all of them after a failure) hold no stale memory.
  auto Clear = [&](int From) {
    auto Fill = [From](auto &Cells, size_t PerSample) {
      std::fill(Cells.begin() + ptrdiff_t(size_t(From) * PerSample), Cells.end(), 0);
    };
    Fill(FRaw, size_t(FAnalogCount));
    Fill(FDigital, size_t(FDigitalCount));
    Fill(FNumbers, 1);
    Fill(FTimeStamps, 1);
  };
  if (Sink)
    Sink->Sized(*this);
  try {
    ParseDat(Bytes, Length, FileName, Sink);
  } catch (...) {
    Clear(0);
    throw;
  }
  Clear(FRead);
  if (FConfig->NoRate() && FConfig->Rate(0).Samples == 0.0)
    RateFromTimeStamps();
}

// A record with time stamps only: the mean step over the record.
void TComtradeData::RateFromTimeStamps() {
  const int N = SampleCount();
  if (N < 2)
    throw EKvFormat(QStringLiteral("invalid samp 0: %1 sample(s) give no time step").arg(N));
  for (int s = 1; s < N; ++s)
    if (FTimeStamps[s] <= FTimeStamps[s - 1])
      throw EKvFormat(QStringLiteral("invalid timestamp %1 (line %2): time stamps must increase")
                          .arg(FTimeStamps[s]).arg(s + 1));
  const double Seconds = (double(FTimeStamps[N - 1]) - FTimeStamps[0]) * FConfig->TimeMult() * 1e-6;
  FConfig->FRates[0].Samples = (N - 1) / Seconds;
}

QByteArray TComtradeData::ToBytes() const {
  const int N = SampleCount();
  QByteArray Out;
  Out.reserve(qsizetype(N) * (16 + 7 * FAnalogCount + 2 * FDigitalCount));
  char Line[32];
  auto Put = [&](int32_t V, char Sep) {
    auto R = std::to_chars(Line, Line + sizeof Line - 1, V);
    *R.ptr++ = Sep;
    Out.append(Line, R.ptr - Line);
  };
  for (int s = 0; s < N; ++s) {
    Put(FNumbers[s], ',');
    const int Last = FAnalogCount + FDigitalCount;
    Put(FTimeStamps[s], Last == 0 ? '\r' : ',');
    for (int c = 0; c < FAnalogCount; ++c) {
      const size_t Cell = size_t(s) * FAnalogCount + c;
      Put(!FMissing.empty() && FMissing[Cell] ? MissingValue : FRaw[Cell], c + 1 == Last ? '\r' : ',');
    }
    for (int c = 0; c < FDigitalCount; ++c)
      Put(FDigital[size_t(s) * FDigitalCount + c], FAnalogCount + c + 1 == Last ? '\r' : ',');
    Out.append('\n');
  }
  return Out;
}

void TComtradeData::SaveToFile(const QString &FileName) {
  const QString Name = FileName.isEmpty() ? FFileName : FileName;
  if (Name.isEmpty())
    throw EKvError("no filename");
  SaveFileBytes(Name, ToBytes());
  FFileName = Name;
}

int TComtradeData::GetRaw(int Channel, int Sample) const {
  if (Channel < 0 || Channel >= FAnalogCount || Sample < 0 || Sample >= SampleCount())
    return 0;
  return FRaw[size_t(Sample) * FAnalogCount + Channel];
}

bool TComtradeData::IsMissing(int Channel, int Sample) const {
  if (FMissing.empty() || Channel < 0 || Channel >= FAnalogCount || Sample < 0 || Sample >= SampleCount())
    return false;
  return FMissing[size_t(Sample) * FAnalogCount + Channel] != 0;
}

void TComtradeData::SetRaw(int Channel, int Sample, int Value) {
  CheckIndex(Channel, FAnalogCount);
  CheckIndex(Sample, FSamples);
  FRaw[size_t(Sample) * FAnalogCount + Channel] = Value;
}

double TComtradeData::GetAnalogValue(int Channel, int Sample) const {
  if (Channel < 0 || Channel >= FAnalogCount || Sample < 0 || Sample >= SampleCount())
    return 0.0;
  if (IsMissing(Channel, Sample))
    return std::numeric_limits<double>::quiet_NaN();
  const TComtradeAnalogChannel &Ch = FConfig->AnalogChannel(Channel);
  return FRaw[size_t(Sample) * FAnalogCount + Channel] * Ch.A + Ch.B;
}

int TComtradeData::GetDigitalValue(int Channel, int Sample) const {
  if (Channel < 0 || Channel >= FDigitalCount || Sample < 0 || Sample >= SampleCount())
    return 0;
  return FDigital[size_t(Sample) * FDigitalCount + Channel];
}

int TComtradeData::GetTimeStamp(int Sample) const {
  return Sample < 0 || Sample >= SampleCount() ? 0 : FTimeStamps[Sample];
}

int TComtradeData::GetSampleNumber(int Sample) const {
  return Sample < 0 || Sample >= SampleCount() ? 0 : FNumbers[Sample];
}

double TComtradeData::GetRms(int Channel, int First, int Last) const {
  if (Last < First)
    return 0.0;
  double Sum = 0.0;
  for (int s = First; s <= Last; ++s) {
    const double V = GetAnalogValue(Channel, s);
    Sum += V * V;
  }
  return std::sqrt(Sum / (double(Last) - First + 1));
}

double TComtradeData::GetFirstHarmonic(int Channel, int First, int Last) const {
  if (Last < First || !FConfig || FConfig->RateCount() < 1)
    return 0.0;
  const double Rate = FConfig->Rate(0).Samples;
  if (!(Rate > 0.0))
    return 0.0;
  // Whole degrees per sample: 10 at 1800 samples per second and 50 Hz.
  const double Step = std::nearbyint(360.0 / Rate * FConfig->LineFrequency());
  double S = 0.0, C = 0.0;
  const double N = double(Last) - First + 1;
  for (int k = 0; First + k <= Last; ++k) {
    const double V = GetAnalogValue(Channel, First + k);
    const double Angle = k * Step * Pi / 180.0;
    S += V * std::sin(Angle);
    C += V * std::cos(Angle);
  }
  // 1.414 rather than the square root of 2: the figures users compare with
  // were made with it.
  return std::sqrt((S / N) * (S / N) + (C / N) * (C / N)) * 1.414;
}

// ---------------------------------------------------------------------------
// TComtradeDataTool

void TComtradeDataTool::SetData(TComtradeData *AData) {
  FData = AData;
  KvCheck(FData->FConfig != nullptr, "FComtradeConfig assigned");
  FData->Size(FData->FConfig->SampleCount());
  FNumberCount = FTimeCount = FRawCount = FDigitalCount = 0;
}

void TComtradeDataTool::AddSampleNumber(int Value) {
  if (FNumberCount >= FData->FNumbers.size())
    throw EKvRange("invalid NumberCount " + std::to_string(FNumberCount));
  FData->FNumbers[FNumberCount++] = Value;
}

void TComtradeDataTool::AddTimeStamp(int Value) {
  CheckIndex(int(FTimeCount), int(FData->FTimeStamps.size()));
  FData->FTimeStamps[FTimeCount++] = Value;
}

void TComtradeDataTool::AddRaw(int Value) {
  if (FRawCount >= FData->FRaw.size())
    throw EKvRange("range check error: " + std::to_string(FRawCount));
  FData->FRaw[FRawCount++] = Value;
}

void TComtradeDataTool::AddDigital(int Value) {
  if (FDigitalCount >= FData->FDigital.size())
    throw EKvRange("range check error: " + std::to_string(FDigitalCount));
  FData->FDigital[FDigitalCount++] = uint8_t(Value != 0);
}

void TComtradeDataTool::SetAnalogMin(int Channel, int Value) {
  FData->FConfig->AnalogChannel(Channel).Min = Value;
}
void TComtradeDataTool::SetAnalogMax(int Channel, int Value) {
  FData->FConfig->AnalogChannel(Channel).Max = Value;
}

void TComtradeDataTool::SetRate(int Index, const TComtradeRate &Rate) {
  CheckIndex(Index, ComtradeMaxRates);
  FData->FConfig->FRates[Index] = Rate;
}

void TComtradeDataTool::ApplyCalibration() {
  TComtradeData &D = *FData;
  const int E = D.SampleCount() - 1;
  const int A = D.FAnalogCount;
  for (int c = 0; c < A; ++c) {
    const double Shift = D.FConfig->AnalogChannel(c).CalibrationShift;
    if (Shift == 0.0 || !std::isfinite(Shift))
      continue;
    // Ascending for a forward shift, descending for a backward one, so each
    // interpolation reads samples not replaced yet; floor (not truncation)
    // keeps that true for the first samples of a backward shift.
    // A sample taken from outside the record, or from a missing one, is
    // marked missing rather than made up.
    auto One = [&](int s) {
      const double X = s + Shift;
      const double I0 = std::floor(X);
      const int i0 = int(I0);
      if (I0 < 0.0 || I0 + 1.0 > E || D.IsMissing(c, i0) || D.IsMissing(c, i0 + 1)) {
        D.FRaw[size_t(s) * A + c] = 0;
        D.MarkMissing(s, c);
        return;
      }
      const double R0 = D.FRaw[size_t(i0) * A + c];
      const double R1 = D.FRaw[size_t(i0 + 1) * A + c];
      D.FRaw[size_t(s) * A + c] = int32_t(std::nearbyint((X - I0) * (R1 - R0) + R0));
      if (D.IsMissing(c, s))
        D.FMissing[size_t(s) * A + c] = 0;
    };
    if (Shift > 0)
      for (int s = 0; s <= E; ++s)
        One(s);
    else
      for (int s = E; s >= 0; --s)
        One(s);
  }
}

void TComtradeDataTool::CalculateAnalogOffsets() {
  TComtradeData &D = *FData;
  const int E = D.SampleCount() - 1;
  if (E < 1)
    return;
  for (int c = 0; c < D.FAnalogCount; ++c) {
    TComtradeAnalogChannel &Ch = D.FConfig->AnalogChannel(c);
    if (Ch.A == 0.0)
      continue;
    // Missing samples count for nothing; with none missing the divisor is E.
    double Sum = 0.0;
    int Present = 0;
    for (int s = 0; s <= E; ++s)
      if (!D.IsMissing(c, s))
        Sum += D.FRaw[size_t(s) * D.FAnalogCount + c], ++Present;
    if (Present > 1)
      Ch.Offset = -std::nearbyint(Sum / ((Present - 1) * Ch.A));
  }
}

std::vector<TComtradeSpread> TComtradeDataTool::CalculateSpread() const {
  const TComtradeData &D = *FData;
  std::vector<TComtradeSpread> Out(D.FAnalogCount);
  const int N = D.SampleCount();
  for (int c = 0; c < D.FAnalogCount; ++c)
    for (int s = 0; s < N; ++s) {
      const int32_t V = D.FRaw[size_t(s) * D.FAnalogCount + c];
      (V < 0 ? Out[c].Negative : Out[c].Positive) += V;
    }
  return Out;
}
