#pragma once
// One channel of the oscillogram viewer: its panel of labels left of the plot
// and its drawing (curve or min/max envelope, discrete steps, time axis, notes
// and event labels) from the channel's strip cache; and TOscCommon, the
// drawing state the frame, its drawers and cursors share.
#include "uOscSideFile.h"
#include "uOscStripCache.h"
#include "uOscView.h"

#include <QColor>
#include <QFont>
#include <QFrame>
#include <QPainter>
#include <QRect>
#include <memory>

class TComtradeData;
class TkvOscFrame;
class QCheckBox;
class QLabel;

struct TOscCommon {
  TkvOscFrame *Frame = nullptr;
  QPainter *Canvas = nullptr;
  // While the screen paint draws into an RGB32 image, curves go into its
  // pixels directly; null when Canvas is another device (a printer).
  QImage *Image = nullptr;
  TOscView *View = nullptr;
  QRect AnalogStrip;   // (0, 0, plot width, one analog strip's height)
  QRect DiscreteStrip; // the same for a discrete strip
  QRect PlotRect;      // the plot's client rectangle
  QColor GridColor = Qt::black;
  QColor BackColor = Qt::white;
  double PrintScaleY = 1.0;
  const TOscEventList *Events = nullptr; // the record's events, owned by the frame
  int RmsPeriods = 1;                     // setting osc/rms
};

// Where one drawing goes: Canvas, and Image when curves go into its pixels
// directly (null for another device). A screen paint may give each core a
// band of the plot's rows: Image then holds the rows OriginY.. of the plot
// and Canvas is translated to match.
struct TOscTarget {
  QPainter *Canvas = nullptr;
  QImage *Image = nullptr;
  int OriginY = 0;
};

// A pre-rendered piece of an analog curve: the pixels Bounds.left() ..
// Bounds.right() of the whole record at the scale it was made for, the
// samples FirstSample..FirstSample + SampleCount - 1; vertically from
// Bounds.top() (a few pixels above the strip, as far as a pen reaches) with
// the zero line in the middle. The bitmap is a coverage mask (8 bits, 255
// where the curve is), coloured when it is copied.
//
// A strip is rendered as the plot reaches it: only its columns Done.first ..
// Done.second - 1 (bitmap x) hold the curve, the rest is blank until shown.
struct TBitmapFrame {
  QImage Bitmap;
  int Index = 0; // the strip's number from the record's start
  int FirstSample = 0, SampleCount = 0;
  QRect Bounds;
  std::pair<int, int> Done{0, 0};
};
using TBitmapFrameList = std::vector<std::unique_ptr<TBitmapFrame>>;

// 0x00BBGGRR, as colours are stored, to a QColor and back.
QColor ColorFromStored(uint32_t Value);
uint32_t ColorToStored(const QColor &Color);

class TOscDrawer : public QObject {
  Q_OBJECT
public:
  enum TKind { dkAnalog = 0, dkDiscrete = 1 };

  explicit TOscDrawer(TOscCommon *Common, QObject *Parent = nullptr);
  // A drawer with its channel panel in Parent (the frame's left panel).
  // The channel panel's columns in Font: the captions' and a value's
  // width ("-10000.00", the widest value the read-outs write in practice),
  // and the panel width that holds a caption and two values whole.
  struct TPanelColumns {
    int Caption = 0, Value = 0, Width = 0;
  };
  static TPanelColumns PanelColumns(const QFont &Font);
  static TOscDrawer *CreateWithPanel(QWidget *Parent, TOscCommon *Common, int Kind, const QString &Name,
                                     int Index);
  ~TOscDrawer() override;

  // A copy without panel: kind, pen, checked, font, base vector, name, events.
  TOscDrawer *Clone(QObject *Parent = nullptr) const;
  void Assign(const TOscDrawer &Source);

  int Kind = dkAnalog;
  int Index = 0;
  QString Name;
  TOscChannelSettings Settings;
  QFont Font;
  bool Selected = false;
  double AmplFactor = 1.0;
  int CenterY = 0;

  bool IsAnalog() const { return Kind == dkAnalog; }
  bool Checked() const { return Settings.Checked; }
  void SetChecked(bool Value);
  void SetSelected(bool Value);
  void SetPanelVisible(bool Visible);
  void SetPanelTop(int Top);
  // Shows the label rows an analog strip of this many rows has room for.
  void SetLabelRows(int Rows);
  // The value labels: row 0 the two cursor values, row 1 RMS, row 2 fundamental.
  void SetValueTexts(const QString &Value1, const QString &Value2, const QString &Rms, const QString &Harmonic);

  // The record the drawer shows; its strip cache is made by the frame for all
  // channels at once, while the record is read (TOscStripBuild).
  void SetData(const TComtradeData &Data);
  TOscStripCache &Cache() { return FCache; }
  // Strip height over the channel's raw range (analog).
  double Factor() const;

  // Samples First..First + Count - 1 at the view's scale, x shifted left by
  // DX, zero line at y = CenterY: one point or min/max pair per pixel column.
  // Columns, when given, are those of the same samples found beforehand
  // (TOscStripCache::ColumnsOf).
  void DrawCurve(const TOscTarget &T, int First, int Count, int DX, const std::vector<TOscColumn> *Columns = nullptr);
  void DrawEnvelope(const TOscTarget &T, int First, int Count, int DX,
                    const std::vector<TOscColumn> *Columns = nullptr);
  void DrawDiscrete(const TOscTarget &T, int First, int Count, int DX,
                    const std::vector<TOscColumn> *Columns = nullptr);
  // The rows Columns' curve (DrawCurve, DrawEnvelope or DrawDiscrete) may
  // cover, pen included; notes apart. Empty (Top > Bottom) without values.
  void CurveRows(const std::vector<TOscColumn> &Columns, int &Top, int &Bottom) const;
  // Setting osc/bitmapFrames: copies the curve onto the screen image (T with
  // Image) with the strip's top at Top, from the strips that hold the plot
  // (the one at its left edge and the next), made by PrepareFrames. A pixel
  // the curve covers keeps only the bits of the curve's colour, so the curves
  // of one axis combine on the white background. Notes are drawn apart.
  void PaintFromCache(const TOscTarget &T, int Top);
  // The strips a paint of Drawers (analog, of one frame) will copy: the
  // columns of them the plot shows that are missing or were made for other
  // scales, heights or pens are rendered (the channels on the cores), strips
  // far away freed.
  static void PrepareFrames(const std::vector<TOscDrawer *> &Drawers);
  const TBitmapFrameList &Frames() const { return FFrames; }
  // The time axis along y = Y from sample First to First + Count, with the
  // ticks of Grid (TOscView::TimeGrid without labels).
  // The numbers are not written here: they would run through the curves.
  void DrawTimeGrid(const TOscTarget &T, int Y, int DX, int First, int Count, const std::vector<TOscGridTick> &Grid);
  // The numbers of Grid once, in a row whose top is Top (below the strips),
  // each where its tick is, none over the one before.
  static void WriteTimeLabels(QPainter &On, const TOscCommon &Common, int Top, int DX,
                              const std::vector<TOscGridTick> &Grid);
  // Notes and the labels of this channel's events.
  void DrawNotes(const TOscTarget &T, int DX);
  // Samples from From to the next rising zero crossing (previous sample below
  // 0, this one 0 or more) within one period of the line frequency; -1 when
  // there is none, a missing sample is met, or a period is under one sample.
  int NextUpCrossing(int From) const;
  // Degrees of the channel's phase at Sample: round(360 / S x NextUpCrossing),
  // S the samples per period; -1 when there is none.
  int AngleAt(int Sample) const;

  QFrame *Panel = nullptr;
  QCheckBox *NameBox = nullptr;

signals:
  // The panel was clicked: the frame selects this drawer alone.
  void PanelClicked(TOscDrawer *Drawer);
  void CheckClicked(TOscDrawer *Drawer);

protected:
  bool eventFilter(QObject *Watched, QEvent *Event) override;

private:
  void BuildPanel(QWidget *Parent);
  // The curve of Columns (or its min/max envelope) onto Image, or through
  // Painter when Image is null, x shifted left by DX, zero line at Center.
  void RenderCurve(const TOscTarget &T, const std::vector<TOscColumn> &Columns, int DX, int Center,
                   bool Envelope) const;
  const TBitmapFrame *Frame(int Index) const;
  TBitmapFrame *Frame(int Index);
  QString ValueNoteText(int Sample, int Kind) const;

  TOscCommon *FCommon = nullptr;
  const TComtradeData *FData = nullptr;
  TOscStripCache FCache;
  int FMin = 0, FMax = 0;
  QLabel *FLabels[7] = {};
  TBitmapFrameList FFrames;
  // What the strips were rendered for; another value frees them all.
  struct TFramesKey {
    double TimeScale = 0, Amplitude = 0;
    int Width = 0, Height = 0, PenWidth = 0;
    bool operator==(const TFramesKey &) const = default;
  } FFramesKey;
};
