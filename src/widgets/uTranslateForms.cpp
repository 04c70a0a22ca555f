#include "uTranslateForms.h"

#include "uMultiLingual.h"
#include "uStringGrid.h"

#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTabWidget>
#include <QToolButton>

namespace {
void TranslateOne(const TMultiLingual &T, QObject *C) {
  if (auto *a = qobject_cast<QAction *>(C)) {
    // A menu's own action mirrors the menu's title, translated with the menu.
    if (auto *owner = qobject_cast<QMenu *>(a->parent()); owner && owner->menuAction() == a)
      return;
    if (!a->isSeparator())
      a->setText(T.Translate(a->text()));
    return;
  }
  if (auto *m = qobject_cast<QMenu *>(C)) {
    m->setTitle(T.Translate(m->title()));
    return;
  }
  auto *w = qobject_cast<QWidget *>(C);
  if (!w)
    return;
  if (w->isWindow() && !w->windowTitle().isEmpty())
    w->setWindowTitle(T.Translate(w->windowTitle()));
  if (auto *l = qobject_cast<QLabel *>(w)) {
    l->setText(T.Translate(l->text()));
  } else if (auto *g = qobject_cast<QGroupBox *>(w)) {
    g->setTitle(T.Translate(g->title()));
  } else if (auto *tabs = qobject_cast<QTabWidget *>(w)) {
    for (int i = 0; i < tabs->count(); ++i)
      tabs->setTabText(i, T.Translate(tabs->tabText(i)));
  } else if (auto *tb = qobject_cast<QToolButton *>(w)) {
    // Tool buttons show pictures; their hint is the text. A button made for an
    // action takes its hint from the action, translated there.
    if (!tb->defaultAction())
      tb->setToolTip(T.Translate(tb->toolTip()));
  } else if (qobject_cast<QPushButton *>(w) || qobject_cast<QCheckBox *>(w)) {
    auto *b = static_cast<QAbstractButton *>(w);
    b->setText(T.Translate(b->text()));
  } else if (auto *grid = qobject_cast<TStringGrid *>(w)) {
    for (int r = 0; r < grid->rowCount(); ++r)
      for (int c = 0; c < grid->columnCount(); ++c)
        if (!grid->Cells(c, r).isEmpty())
          grid->SetCells(c, r, T.Translate(grid->Cells(c, r)));
  }
}

void Walk(const TMultiLingual &T, QObject *C) {
  TranslateOne(T, C);
  for (QObject *child : C->children()) {
    // Dialogs parented to a window are forms of their own, translated on their own.
    if (qobject_cast<QDialog *>(child))
      continue;
    Walk(T, child);
  }
}
} // namespace

void TranslateComponent(const TMultiLingual &Translator, QObject *Component) {
  if (Component)
    Walk(Translator, Component);
}
