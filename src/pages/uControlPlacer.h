#pragma once
// Moving and resizing of the controls on a designer's surface: a press on an
// attached control selects it and starts a move; eight handles around the
// selected control ("Node0".."Node7", children of the owner form) resize it.
// Main thread only.
#include <QList>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <functional>

class QWidget;

// Where handle Index (0..7) goes around the bounds L, T, W, H (in the
// control's parent's coordinates): corners and edge middles clockwise from
// the top left, each 2 pixels before its point.
QPoint NodePosition(int Index, const QRect &Bounds);
// The bounds after handle Index was dragged to Q (parent coordinates): the
// handle's edges take Q (left/right its x, top/bottom its y), the others stay.
QRect ResizeBounds(int Index, const QRect &Bounds, const QPoint &Q);

class TControlPlacer : public QObject {
  Q_OBJECT
public:
  explicit TControlPlacer(QObject *Parent = nullptr);
  // The form the handles live on (made here).
  void SetOwnerForm(QWidget *Form);
  void SetEnabled(bool Value);
  bool IsEnabled() const { return FEnabled; }
  // Presses, moves and releases on Control (and its inner widgets) go to the placer.
  void Attach(QWidget *Control);
  void SetDragging(bool Value) { FDragging = Value; }
  void ShowNodes(bool Visible);
  // Surrounds Control with the handles and makes it the selected one.
  void PlaceNodes(QWidget *Control);
  QWidget *Selected() const { return FSelected; }
  QWidget *Node(int Index) const { return FNodes.value(Index); }
  // A control was pressed (after the handles moved to it).
  std::function<void(QWidget *Control)> OnSelect;
  // Every press on an attached control: the control and the position in it.
  std::function<void(QWidget *Sender, const QPoint &Pos)> OnMouseDown;

protected:
  bool eventFilter(QObject *Watched, QEvent *E) override;

private:
  QWidget *AttachedOf(QObject *Watched) const;
  QPointer<QWidget> FOwnerForm;
  QList<QWidget *> FNodes;
  QPointer<QWidget> FSelected;
  bool FEnabled = false, FDragging = false, FResizing = false;
  int FNodeIndex = -1;
  QPoint FLastCursor;
};
