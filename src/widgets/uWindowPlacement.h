#pragma once
// Window bounds kept per user (see uPlacement.h), restored within the screen
// that shows the window: bounds saved on a larger or differently scaled
// screen would otherwise put part of the window, its status bar first, off it.
#include <QString>

class QWidget;

// The stored bounds of Window (Key as in RestoreControlBounds), then, for a
// top-level window, the framed window kept inside the available area of the
// screen under its centre (the window's own screen when none is).
void RestoreWindowBounds(const QString &Key, QWidget *Window);
