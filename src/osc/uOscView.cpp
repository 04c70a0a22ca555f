#include "uOscView.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace {
int RoundEven(double V) { return int(std::nearbyint(V)); }
} // namespace

void TOscView::SetRecord(int SampleCount, double Rate, int TriggerOffsetMs) {
  FSampleCount = std::max(SampleCount, 0);
  FRate = Rate > 0.0 ? Rate : 1.0;
  FTriggerOffsetMs = TriggerOffsetMs;
}

bool TOscView::Relayout() {
  if (AutoGrid) {
    const double S = TimeScale;
    GridStepMs = S > 20 ? 1 : S > 10 ? 5 : S > 5 ? 10 : S > 1 ? 50 : 100;
  }
  VisibleSamples = std::min(RoundEven(PlotWidth / TimeScale), LastSample());
  FitScale = LastSample() > 0 ? PlotWidth * 1.0 / LastSample() : 1.0;
  return AutoGrid;
}

int TOscView::MaxScroll() const { return std::max(0, LastSample() - VisibleSamples); }

void TOscView::SetScroll(int Sample) { ScrollSample = std::clamp(Sample, 0, MaxScroll()); }

void TOscView::ZoomHeights(int Step) {
  auto Zoom = [Step](int H, int Max) {
    const double V = Step > 0 ? H * 1.5 : Step < 0 ? H / 1.5 : H;
    return std::clamp(RoundEven(V), MinHeight, Max);
  };
  AnalogHeight = Zoom(AnalogHeight, MaxAnalogHeight);
  DiscreteHeight = Zoom(DiscreteHeight, MaxDiscreteHeight);
}

void TOscView::FitChannelHeights(int Shown) {
  if (Shown <= 0)
    return;
  AnalogHeight = DiscreteHeight = std::clamp(PlotHeight / Shown, MinHeight, MaxAnalogHeight);
}

int TOscView::LabelRows() const { return AnalogHeight >= 90 ? 3 : AnalogHeight >= 70 ? 2 : AnalogHeight >= 45 ? 1 : 0; }

bool TOscView::TimePlus() {
  if (TimeScale > MaxZoomScale)
    return false;
  const int Centre = ScrollSample + RoundEven(PlotWidth / 2.0 / TimeScale);
  TimeScale *= 2;
  Relayout();
  SetScroll(Centre - RoundEven(PlotWidth / 2.0 / TimeScale));
  return true;
}

bool TOscView::TimeMinus() {
  if (TimeScale <= FitScale)
    return false;
  const int Centre = ScrollSample + RoundEven(PlotWidth / 2.0 / TimeScale);
  TimeScale = std::max(TimeScale / 2, FitScale);
  Relayout();
  SetScroll(Centre - RoundEven(PlotWidth / 2.0 / TimeScale));
  return true;
}

void TOscView::Fit(bool HasCursors, int A, int B) {
  int N;
  if (!HasCursors) {
    ScrollSample = 0;
    N = LastSample() - 1;
  } else {
    ScrollSample = std::min(A, B);
    N = std::abs(B - A);
  }
  if (N <= 0)
    N = 1;
  TimeScale = PlotWidth * 1.0 / N;
  Relayout();
  SetScroll(ScrollSample);
}

void TOscView::Time0() {
  TimeScale = 1.0;
  Relayout();
  SetScroll(MsToSample(FTriggerOffsetMs) - PlotWidth / 2);
}

bool TOscView::ScrollBy(int Step) {
  const int Target = ScrollSample + Step;
  if (Step == 0 || Target < 0 || Target > MaxScroll())
    return false;
  SetScroll(ScrollSample + WheelSamples * Step);
  return true;
}

int TOscView::SampleX(int Sample) const { return RoundEven(double(Sample) * TimeScale); }

int TOscView::FirstSampleAtX(int64_t X) const {
  if (X <= 0 || FSampleCount == 0)
    return 0;
  // An estimate from the scale, then steps to the exact edge of the rounding.
  int64_t i = std::clamp<int64_t>(int64_t(std::ceil((double(X) - 0.5) / TimeScale)), 0, FSampleCount);
  while (i > 0 && SampleX(int(i - 1)) >= X)
    --i;
  while (i < FSampleCount && SampleX(int(i)) < X)
    ++i;
  return int(i);
}

void TOscView::ColumnRange(int64_t X0, int64_t X1, int &From, int &To) const {
  const int Start = FirstSampleAtX(X0);
  From = Start > 0 ? FirstSampleAtX(SampleX(Start - 1)) : 0;
  const int After = FirstSampleAtX(X1 + 1);
  To = After < FSampleCount ? FirstSampleAtX(int64_t(SampleX(After)) + 1) - 1 : FSampleCount - 1;
}

TOscStripSpan TOscView::StripSpan(int Index) const {
  TOscStripSpan S;
  S.Index = Index;
  S.Left = int(std::min<int64_t>(int64_t(Index) * PlotWidth, INT_MAX));
  if (PlotWidth <= 0)
    return S;
  S.FirstSample = FirstSampleAtX(int64_t(Index) * PlotWidth);
  S.SampleCount = FirstSampleAtX(int64_t(Index + 1) * PlotWidth) - S.FirstSample;
  return S;
}

int TOscView::FirstVisibleStrip() const { return PlotWidth > 0 ? SampleX(ScrollSample) / PlotWidth : 0; }

int TOscView::MsToSample(double Ms) const { return RoundEven(FRate * (Ms / 1000.0)); }

int TOscView::SampleToMs(int Sample) const { return RoundEven(Sample * 1000.0 / FRate) - FTriggerOffsetMs; }

QString TOscView::TickLabel(const TOscGridTick &Tick) const {
  const double Seconds = (Tick.K * double(GridStepMs) - FTriggerOffsetMs) / 1000.0;
  return QString::asprintf(GridStepMs < 100 ? "%5.3f" : "%5.2f", Seconds);
}

std::vector<TOscGridTick> TOscView::TimeGrid(int First, int Count, bool WithLabels) const {
  std::vector<TOscGridTick> Out;
  const double S = GridStepMs;
  const int Records = RoundEven((LastSample() + 1) * 1000.0 / (FRate * S)) + 1;
  const double SamplesPerTick = S * FRate / 1000.0;
  // Only the ticks of the asked range: a long record at 1 ms has a million.
  const int K0 = std::max(0, int(std::floor(First / SamplesPerTick)) - 1);
  for (int k = K0; k < Records; ++k) {
    const int Sample = RoundEven(S * k * FRate / 1000.0);
    if (Sample > First + Count)
      break;
    if (Sample < First)
      continue;
    Out.push_back({RoundEven(S * k * FRate * TimeScale / 1000.0), Sample, k, QString()});
    if (WithLabels)
      Out.back().Label = TickLabel(Out.back());
  }
  return Out;
}

double TOscView::ChannelFactor(int Min, int Max) const {
  // Two pixels stay free at each edge of the strip, so that the curves of
  // neighbouring strips never run into each other.
  return Max == Min ? 1.0 : std::max(AnalogHeight - 2 * StripMargin, 1) / (double(Max) - Min);
}

int TOscView::ValueY(double Raw, double Factor, double AmplFactor) const {
  return -RoundEven(Raw * AmplitudeScale * AmplFactor * Factor);
}
