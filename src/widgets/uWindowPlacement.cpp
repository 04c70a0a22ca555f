#include "uWindowPlacement.h"

#include "uPlacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QStyle>
#include <QWidget>

void RestoreWindowBounds(const QString &Key, QWidget *Window) {
  RestoreControlBounds(Key, Window);
  if (!Window->isWindow())
    return;
  const QRect bounds = Window->geometry();
  QScreen *screen = QGuiApplication::screenAt(bounds.center());
  if (!screen)
    screen = Window->screen();
  if (!screen)
    return;
  // Before the window is first shown it has no frame yet: the title bar the
  // window system will add is counted above it.
  QMargins frame(Window->geometry().left() - Window->frameGeometry().left(),
                 Window->geometry().top() - Window->frameGeometry().top(),
                 Window->frameGeometry().right() - Window->geometry().right(),
                 Window->frameGeometry().bottom() - Window->geometry().bottom());
  if (frame.isNull())
    frame.setTop(Window->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, Window));
  Window->setGeometry(FitIntoArea(bounds, screen->availableGeometry(), frame));
}
