#pragma once
// The oscillogram viewer's state without its window: time and amplitude
// scales, horizontal scroll, the sample <-> pixel mapping, the time grid and
// the strip heights. The frame holds one and paints from it.
//
// L (LastSample) is the last sample index of the loaded data: SampleCount - 1
// whichever numbering the file used.
#include <QString>
#include <cstdint>
#include <vector>

// One tick of the time axis.
struct TOscGridTick {
  int X = 0;      // pixels from the record's start at the current scale
  int Sample = 0;
  int K = 0;      // the tick's number from the record's start
  QString Label;  // seconds from the trigger (when asked for)
};

// One bitmap strip of the whole record at the current scale: strip Index
// holds the pixels Index x plot width .. (Index + 1) x plot width - 1 from the
// record's start, that is the samples First..First + Count - 1.
struct TOscStripSpan {
  int Index = 0;
  int FirstSample = 0;
  int SampleCount = 0; // 0 past the record's end
  int Left = 0;        // pixels from the record's start
};

class TOscView {
public:
  static constexpr int MinHeight = 25, MaxAnalogHeight = 400, MaxDiscreteHeight = 100;
  static constexpr int StripMargin = 2;
  static constexpr double MaxZoomScale = 1000.0;
  static constexpr int WheelSamples = 20;
  // Pixels beyond its column that a curve's pen (width 0..3) may cover.
  static constexpr int PenReach = 4;

  // The record: sample count, samples per second, trigger offset in ms.
  void SetRecord(int SampleCount, double Rate, int TriggerOffsetMs);
  int SampleCount() const { return FSampleCount; }
  int LastSample() const { return FSampleCount > 0 ? FSampleCount - 1 : 0; }
  double Rate() const { return FRate; }
  int TriggerOffsetMs() const { return FTriggerOffsetMs; }

  int PlotWidth = 0, PlotHeight = 0;
  int AnalogHeight = MinHeight, DiscreteHeight = MinHeight;
  double TimeScale = 1.0;      // pixels per sample
  double AmplitudeScale = 1.0; // every analog curve
  double FitScale = 1.0;       // the whole record in the plot width
  int ScrollSample = 0;        // first sample at the plot's left edge
  int VisibleSamples = 0;
  bool AutoGrid = true;        // the grid step follows the time scale (off while printing)
  int GridStepMs = 100;

  // Grid step (when AutoGrid), visible samples and fit scale for the current
  // scales and width. True when the grid followed the scale, so the caller
  // clears its cursors.
  bool Relayout();
  // Largest ScrollSample that still fills the plot.
  int MaxScroll() const;
  void SetScroll(int Sample);

  // Heights times 1.5 (+1), over 1.5 (-1) or kept (0), ties to even, clamped.
  void ZoomHeights(int Step);
  // Both heights = plot height / Shown, clamped to 25..400; nothing for 0.
  void FitChannelHeights(int Shown);
  // Rows of channel labels an analog strip of the current height shows (0..3).
  int LabelRows() const;

  // Time zoom about the plot's centre; Time+ refused above 1000 px per sample,
  // Time- stops at FitScale. False when nothing changed.
  bool TimePlus();
  bool TimeMinus();
  // Samples A..B across the plot (both time cursors), or the whole record
  // when HasCursors is false.
  void Fit(bool HasCursors, int A = 0, int B = 0);
  // One pixel per sample with the trigger in the middle.
  void Time0();
  // The wheel: Step x 20 samples when Step stays inside the scroll range.
  bool ScrollBy(int Step);

  // Pixels from the record's start; ties to even.
  int SampleX(int Sample) const;
  // The first sample whose x is X or more (SampleCount when none is).
  int FirstSampleAtX(int64_t X) const;
  // The samples to draw the pixels X0..X1 from the record's start: whole
  // columns, from the last column before X0 to the first after X1 (the lines
  // to them cross the edges). Empty (From > To) for an empty record.
  void ColumnRange(int64_t X0, int64_t X1, int &From, int &To) const;
  // The bitmap strip Index (0 or more), and the one holding the plot's left
  // edge at the current scroll: a paint shows it and the next.
  TOscStripSpan StripSpan(int Index) const;
  int FirstVisibleStrip() const;
  // x within the plot of a sample at the current scroll.
  int PlotX(int Sample) const { return SampleX(Sample) - SampleX(ScrollSample); }
  int MsToSample(double Ms) const;
  // Milliseconds from the trigger.
  int SampleToMs(int Sample) const;
  // Grid ticks whose sample lies in First..First + Count; with WithLabels
  // false the labels are left for TickLabel (a paint writes few of them).
  std::vector<TOscGridTick> TimeGrid(int First, int Count, bool WithLabels = true) const;
  QString TickLabel(const TOscGridTick &Tick) const;

  // Vertical factor of an analog channel: strip height less StripMargin at
  // each edge over its raw range, 1 when the range is empty.
  double ChannelFactor(int Min, int Max) const;
  // y of a raw value relative to the strip centre (upwards negative).
  int ValueY(double Raw, double Factor, double AmplFactor) const;

private:
  int FSampleCount = 0;
  double FRate = 1.0;
  int FTriggerOffsetMs = 0;
};
