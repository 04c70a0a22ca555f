#include "uControlPlacer.h"

#include <QApplication>
#include <QMouseEvent>
#include <QWidget>

QPoint NodePosition(int Index, const QRect &B) {
  const int l = B.x(), t = B.y(), w = B.width(), h = B.height();
  switch (Index) {
  case 0: return {l - 2, t - 2};
  case 1: return {l + w / 2 - 2, t - 2};
  case 2: return {l + w - 2, t - 2};
  case 3: return {l + w - 2, t + h / 2 - 2};
  case 4: return {l + w - 2, t + h - 2};
  case 5: return {l + w / 2 - 2, t + h - 2};
  case 6: return {l - 2, t + h - 2};
  default: return {l - 2, t + h / 2 - 2};
  }
}

QRect ResizeBounds(int Index, const QRect &B, const QPoint &Q) {
  int left = B.x(), top = B.y(), right = B.x() + B.width(), bottom = B.y() + B.height();
  const bool moveLeft = Index == 0 || Index == 6 || Index == 7;
  const bool moveRight = Index == 2 || Index == 3 || Index == 4;
  const bool moveTop = Index == 0 || Index == 1 || Index == 2;
  const bool moveBottom = Index == 4 || Index == 5 || Index == 6;
  if (moveLeft)
    left = Q.x();
  if (moveRight)
    right = Q.x();
  if (moveTop)
    top = Q.y();
  if (moveBottom)
    bottom = Q.y();
  return QRect(left, top, right - left, bottom - top);
}

TControlPlacer::TControlPlacer(QObject *Parent) : QObject(Parent) {}

void TControlPlacer::SetOwnerForm(QWidget *Form) {
  FOwnerForm = Form;
  static const Qt::CursorShape cursors[] = {Qt::SizeFDiagCursor, Qt::SizeVerCursor, Qt::SizeBDiagCursor,
                                            Qt::SizeHorCursor,   Qt::SizeFDiagCursor, Qt::SizeVerCursor,
                                            Qt::SizeBDiagCursor, Qt::SizeHorCursor};
  for (int i = 0; i < 8; ++i) {
    auto *n = new QWidget(Form);
    n->setObjectName(QStringLiteral("Node%1").arg(i));
    n->setFixedSize(5, 5);
    n->setAutoFillBackground(true);
    QPalette p = n->palette();
    p.setColor(QPalette::Window, Qt::black);
    n->setPalette(p);
    n->setCursor(cursors[i]);
    n->hide();
    n->installEventFilter(this);
    FNodes.append(n);
  }
}

void TControlPlacer::SetEnabled(bool Value) {
  FEnabled = Value;
  ShowNodes(false);
}

void TControlPlacer::Attach(QWidget *Control) {
  Control->installEventFilter(this);
  Control->setProperty("kvPlacerAttached", true);
  for (QWidget *w : Control->findChildren<QWidget *>())
    w->installEventFilter(this);
}

void TControlPlacer::ShowNodes(bool Visible) {
  for (QWidget *n : FNodes) {
    n->setVisible(Visible);
    if (Visible)
      n->raise();
  }
}

void TControlPlacer::PlaceNodes(QWidget *Control) {
  FSelected = nullptr;
  if (!FOwnerForm || !Control->parentWidget())
    return;
  for (int i = 0; i < FNodes.size(); ++i) {
    const QPoint inParent = NodePosition(i, Control->geometry());
    FNodes[i]->move(FOwnerForm->mapFromGlobal(Control->parentWidget()->mapToGlobal(inParent)));
  }
  FSelected = Control;
  ShowNodes(true);
}

QWidget *TControlPlacer::AttachedOf(QObject *Watched) const {
  for (QObject *o = Watched; o; o = o->parent())
    if (o->isWidgetType() && o->property("kvPlacerAttached").toBool())
      return static_cast<QWidget *>(o);
  return nullptr;
}

bool TControlPlacer::eventFilter(QObject *Watched, QEvent *E) {
  const QEvent::Type t = E->type();
  if (t != QEvent::MouseButtonPress && t != QEvent::MouseMove && t != QEvent::MouseButtonRelease)
    return false;
  auto *m = static_cast<QMouseEvent *>(E);
  const QPoint global = m->globalPosition().toPoint();
  const int node = FNodes.indexOf(static_cast<QWidget *>(Watched));
  if (node >= 0) {
    if (t == QEvent::MouseButtonPress && FEnabled) {
      FResizing = true;
      FNodeIndex = node;
      FLastCursor = global;
    } else if (t == QEvent::MouseMove && FResizing && FSelected) {
      const QPoint q = FSelected->parentWidget()->mapFromGlobal(global);
      FSelected->setGeometry(ResizeBounds(FNodeIndex, FSelected->geometry(), q));
      FLastCursor = global;
      PlaceNodes(FSelected);
    } else if (t == QEvent::MouseButtonRelease) {
      FResizing = false;
    }
    return true;
  }
  QWidget *control = AttachedOf(Watched);
  if (!control)
    return false;
  if (t == QEvent::MouseButtonPress) {
    if (FEnabled && m->button() == Qt::LeftButton) {
      FDragging = true;
      FLastCursor = global;
      PlaceNodes(control);
      if (OnSelect)
        OnSelect(control);
    }
    if (OnMouseDown)
      OnMouseDown(control, control->mapFromGlobal(global));
    return true;
  }
  if (t == QEvent::MouseMove && FDragging) {
    const QPoint d = global - FLastCursor;
    control->move(control->pos() + d);
    FLastCursor = global;
    PlaceNodes(control);
    return true;
  }
  if (t == QEvent::MouseButtonRelease && FDragging) {
    FDragging = false;
    return true;
  }
  return false;
}
