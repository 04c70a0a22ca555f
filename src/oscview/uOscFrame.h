#pragma once
// The oscillogram viewer page: one COMTRADE pair as stacked channel strips
// with a time axis, notes and events, zoomed and scrolled through its view
// state (TOscView) and painted from each channel's strip cache.
#include "uComtrade.h"
#include "uOscDrawer.h"
#include "uOscRuler.h"
#include "uOscView.h"

#include <QFrame>
#include <QImage>
#include <QLine>
#include <functional>
#include <memory>
#include <vector>

class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QScrollBar;
class QSplitter;
class QTableWidget;
class QToolBar;
class TkvOscFrame;

// The plot: shows the image the frame paints and passes the mouse and the
// wheel to the frame.
class TOscPaintBox : public QWidget {
  Q_OBJECT
public:
  explicit TOscPaintBox(TkvOscFrame *Frame, QWidget *Parent);

protected:
  void paintEvent(QPaintEvent *) override;
  void resizeEvent(QResizeEvent *) override;
  void wheelEvent(QWheelEvent *Event) override;
  void mousePressEvent(QMouseEvent *Event) override;
  void mouseMoveEvent(QMouseEvent *Event) override;
  void mouseReleaseEvent(QMouseEvent *Event) override;

private:
  TkvOscFrame *FFrame;
};

class TkvOscFrame : public QFrame {
  Q_OBJECT
public:
  explicit TkvOscFrame(QWidget *Parent = nullptr);
  ~TkvOscFrame() override;

  // Second stage of construction, before a file is loaded.
  void Initialize();
  // Stores an index nothing reads (callers pass -1).
  void SetIndex(int Index) { FIndex = Index; }

  // Loads the pair of FileName (".dat" or ".cfg"). Throws EKvError "cannot
  // read more then 1 comtrade file" when one is loaded, the reader's errors,
  // and "too few samples" for a record under two samples.
  void LoadComtradeFile(const QString &FileName);
  QString GetFileName() const { return FFileName; }
  bool IsLoaded() const { return FLoaded; }

  // The side file; when the record has none, LoadViewSettings takes only the
  // look (pens, checks, heights) of the last one saved in this run, never its
  // notes or events. Save reports the name through LastSavedHook; the
  // first save over a side file that could not be read keeps that file as
  // "<name>.xml.bad" first (KeepDamagedSideFile) and says so. Throws EKvError
  // when the file or its copy cannot be written.
  bool LoadViewSettings();
  void SaveViewSettings();
  // Notes added, moved, edited or deleted since the side file was last written.
  bool HasUnsavedNotes() const { return FNotesChanged; }
  // Before the page goes: with unsaved notes asks "Да / Нет / Отмена"; yes
  // writes the side file. False when the page is to stay (cancelled, or the
  // file could not be written: the error is shown).
  bool QueryClose();
  // Where the frame's notices go once it is loaded (the status line); those of
  // the load itself are in LoadNote.
  void SetStatusHook(std::function<void(const QString &Text)> Hook) { FStatusHook = std::move(Hook); }
  // The configuration as FileName (Encoding "OEM" or "ANSI") and the data
  // beside it with ".dat".
  void SaveComtradeAs(const QString &FileName, const QString &Encoding);

  void Rebuild();
  void ZoomHeights(int Step);
  void FitChannelHeights();
  // The row of the time axis numbers at the plot's bottom.
  int TimeLabelHeight() const;
  // The wheel: Ctrl+Shift heights, Ctrl time zoom, Shift channels, else samples.
  void ScrollBy(int Step, Qt::KeyboardModifiers Shift);
  // Esc clears the cursors; other keys do nothing.
  void KeyDown(int Key, Qt::KeyboardModifiers Shift);
  TOscDrawer *SelectedDrawer() const;

  // The mouse on the plot: a click places a time cursor (a third replaces both),
  // Shift a value cursor, Ctrl a note on the channel; a cursor under the mouse
  // is dragged.
  void PaintBoxMouseDown(Qt::MouseButton Button, Qt::KeyboardModifiers Shift, QPoint Point);
  void PaintBoxMouseMove(Qt::MouseButtons Buttons, QPoint Point);
  // Ends a note's drag: its moments move with the mouse (a span keeps its
  // length) and its offset from the strip's top follows the mouse.
  void PaintBoxMouseUp(QPoint Point);
  // The duration action is enabled with two time cursors and a selected channel.
  void ActionListUpdate();
  // A two-moment note "<t1 - t0> ms" on the selected channel; clears the time cursors.
  void ActionDurationExecute();

  // Level read-outs: the first shown analog drawer whose band holds Point.y,
  // -1 when none; its value there (with the channel's b).
  int DrawerIndexAtY(QPoint Point) const;
  bool ValueAtY(QPoint Point, double &Value) const;
  double ValueAtOffset(int DrawerIndex, int DY) const;
  // Seconds from the trigger of a time cursor; between two ("%5.3f", never negative).
  QString TimeText(const TVertRuler &Cursor) const;
  QString DeltaText(const TVertRuler &A, const TVertRuler &B) const;
  // The labels, the value fields and the tool bar's read-outs for the cursors.
  void TimeReadout();
  void AmplReadout();

  TOscRulerList TimeCursors, LevelCursors;

  // The phasor diagram at the reference sample (the one time cursor's, else
  // the first shown): one row per checked analog channel, its angle less the
  // base channel's and its vector's length relative to the circle; empty
  // angle and value where the RMS window leaves the record or meets a gap.
  struct TPhasor {
    TOscDrawer *Drawer = nullptr;
    bool HasVector = false;
    int Angle = 0;         // degrees, the base angle subtracted
    double Length = 0.0;   // 1 = the circle
    QString Value;
  };
  std::vector<TPhasor> Phasors() const;
  // Fills sgDiagram and draws the circle and vectors on P (a square of Side).
  void PaintBoxCircleDiagramPaint(QPainter &P, int Side);

  // Hit tests of the mouse. DrawerAtY: the analog channel whose strip holds
  // Y, the shown strips walked from the top (a discrete one ends the walk).
  TOscDrawer *DrawerAtY(int Y) const;
  // The first note of Drawer within 4 px of X, or whose text holds Point.
  TOscNote *NoteAtX(const TOscDrawer *Drawer, int X) const;
  TOscNote *NoteTextAt(const TOscDrawer *Drawer, QPoint Point) const;
  // The note under Point: by its moment on the strip holding Point, or by its
  // text on any strip; null when none.
  TOscNote *NoteAt(QPoint Point) const;
  // Removes Note from its channel and frees it.
  void DeleteNote(TOscNote *Note);
  TOscNote *DraggedNote() const { return FDragNote; }

  // Printing: the print dialog, then the page (TOscPrint) on the printer chosen.
  void Print();
  // What TOscPrint drives. In print mode the strips are painted on
  // Common().Canvas, all of them, and the screen image is left alone;
  // PrintScaleX/Y turn screen pixels into the printer's. Print mode is
  // switched on before the view is scaled for the printer.
  void SetPrinting(bool Value);
  bool IsPrinting() const { return FPrinting; }
  void SetPrintScaleX(double Value) { FPrintScaleX = Value; }
  void SetPrintScaleY(double Value) { FCommon.PrintScaleY = Value; }
  double PrintScaleX() const { return FPrintScaleX; }
  int PrintScaled(double V) const;
  QRect ScaleRect(const QRect &R) const;
  void SetTimeScale(double Value);
  void SetAmplitudeScale(double Value);
  void SetAutoGrid(bool Value) { FView.AutoGrid = Value; }
  // The strips with their cursors, the phasor diagram (at its panel's place
  // times the print scale) and, below it, its table, on Common().Canvas.
  void PaintAll();
  void PaintPhasors();
  void PrintValueGrid();

  // Channel set-up: the dialog through SetupOpener; on OK the side file is
  // saved and the view rebuilt. False when cancelled.
  bool RunSetup();

  void ActionTimePlusExecute();
  void ActionTimeMinusExecute();
  void ActionAmplPlusExecute();
  void ActionAmplMinusExecute();
  void ActionRefreshExecute();
  void ActionTimeFitExecute();
  void ActionTime0Execute();

  // What the last load found wrong but could show (a ".dat" shorter than its
  // ".cfg" declares, a side file not read), for the status line; "" when nothing.
  const QString &LoadNote() const { return FLoadNote; }
  const TComtradeConfig &Config() const { return FConfig; }
  const TComtradeData &Data() const { return FData; }
  TOscView &View() { return FView; }
  const std::vector<TOscDrawer *> &Drawers() const { return FDrawers; }
  TOscEventList &Events() { return FEvents; }
  TOscCommon &Common() { return FCommon; }
  // The plot as last painted.
  const QImage &PlotImage() const { return FImage; }
  // Paints the strips and cursors into the plot image (the paint box calls it
  // when the view changed since the last paint).
  void PaintBoxPaint();
  bool IsDirty() const { return FDirty; }
  // Setting osc/bitmapFrames (read by Initialize).
  void SetBitmapFrames(bool On) { FBitmapFrames = On, FDirty = true; }
  // Bands of rows a screen paint is split into, each painted on its own core
  // (every band draws all strips in order, clipped to its rows); 0: one per
  // core.
  static int PaintBands;

  // Replaceable: the set-up dialog (tests answer without a window).
  static std::function<bool(TkvOscFrame &Frame)> SetupOpener;
  // Replaceable: the note window, modal; true when the note is to be deleted.
  static std::function<bool(TkvOscFrame &Frame, TOscNote &Note)> NoteOpener;
  // Replaceable file dialogs of the viewer's commands: the name chosen, empty
  // when cancelled. The save dialog also gives the encoding, "OEM" or "ANSI".
  static std::function<QString(QWidget *Parent, const QString &Caption, const QString &Folder,
                               const QString &Filter)>
      OpenDialog;
  static std::function<QString(QWidget *Parent, const QString &Caption, const QString &Proposed,
                               const QString &Filter, QString &Encoding)>
      SaveAsDialog;
  // "Сохранить файл comtrade как": asks for the name and writes the pair.
  // False when cancelled.
  bool SaveComtradeAsDialog();
  // Told the side file saved last; the fallback side file of this run.
  static std::function<void(const QString &FileName)> LastSavedHook;
  static QString LastSavedSideFile;

  QToolBar *ToolBar1 = nullptr;
  QLineEdit *EditTimeInterval = nullptr, *EditAmplInterval = nullptr;
  QCheckBox *cbVectorDiagram = nullptr, *cbSingleAxis = nullptr, *cbOscValueForm = nullptr,
            *cbSelectedOnly = nullptr, *cbEqualValue = nullptr;
  QLabel *LabelFileName = nullptr;
  QAction *ActionTimePlus = nullptr, *ActionTimeMinus = nullptr, *ActionAmplPlus = nullptr,
          *ActionAmplMinus = nullptr, *ActionTimeFit = nullptr, *ActionTime0 = nullptr,
          *ActionRefresh = nullptr, *ActionDuration = nullptr;
  QWidget *PanelLeft = nullptr, *PanelEast = nullptr, *PaintBoxCircleDiagram = nullptr;
  TOscPaintBox *PaintBox = nullptr;
  QTableWidget *sgDiagram = nullptr;
  QScrollBar *ScrollBarHorz = nullptr, *ScrollBarVert = nullptr;
  QSplitter *Splitter = nullptr;

  // The plot was resized.
  void PanelPaintResize();
  // The plot is about to be painted: a record loaded while it was hidden (at
  // start-up, before the window had its size) is fitted to it at the first paint.
  void PanelPaintShow();

private:
  void BuildControls();
  void UpdateScrollBars();
  void LayoutLabels();
  void Repaint();
  void ClearCursors(bool Time, bool Level);
  // Draws the cursor (and a value cursor's label) into the plot image.
  void DrawCursor(TOscRuler &R);
  TOscRuler *FUnderMouse = nullptr;
  // The note being dragged, its channel, and its rubber band as last drawn.
  TOscNote *FDragNote = nullptr;
  TOscDrawer *FDragDrawer = nullptr;
  QLine FBand;
  void DrawBand(QPoint Point);
  bool FPrinting = false;
  double FPrintScaleX = 1.0;
  void PaintStrips(QPainter &P, int Bottom);
  // Draw for the rows of the screen image, in bands (PaintBands).
  void PaintInBands(QPainter &P, const std::function<void(const TOscTarget &)> &Draw);
  // A value cursor's channel (-1 for none), its offset from that strip's
  // centre (or the plot's top) and its value, as on screen.
  struct TLevelPlace {
    int Drawer = -1;
    int Offset = 0;
    bool HasValue = false;
    double Value = 0.0;
  };
  std::vector<TLevelPlace> FLevelPlaces;
  void PrintCursor(QPainter &P, const TOscRuler &R, int DX, int Bottom, const TLevelPlace *Level);
  // A press on a note (right: its window; left: its drag) or, with the right
  // button, anywhere else (the set-up). False when the press is left to the cursors.
  bool PaintBoxNoteDown(Qt::MouseButton Button, QPoint Point);
  TOscDrawer *OwnerOf(const TOscNote *Note) const;
  bool FDirty = true;
  bool IsDrawn(const TOscDrawer *D) const;
  void PanelEastResize();
  void FitDiagramColumns();

  bool FLoaded = false;
  QString FFileName;
  int FIndex = -1;
  TComtradeConfig FConfig;
  TComtradeData FData;
  TOscView FView;
  TOscCommon FCommon;
  std::vector<TOscDrawer *> FDrawers;
  TOscEventList FEvents;
  QString FLoadNote;
  // A notice for the user: into LoadNote while loading, else the status hook.
  void Notice(const QString &Text);
  std::function<void(const QString &)> FStatusHook;
  bool FLoading = false;
  // The record's own side file that could not be read, until it is kept.
  QString FDamagedSideFile;
  bool FNotesChanged = false;
  // Loaded while the plot was hidden: fitted once it is shown.
  bool FFitWhenShown = false;
  int FFirstDrawer = 0;
  int FPhasorPanelWidth = 200;
  bool FBitmapFrames = false;
  TOscColumnsMemo FColumns;
  QImage FImage;
};
