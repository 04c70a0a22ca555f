#pragma once
// The per-user store of user-interface state (window bounds, the COM port, the
// filters of some pages): QSettings of organisation "vnk", application "kv",
// which stands where the program's registry key \Software\vnk\kv\ stood.
// Key is a path below that store, parts separated by "\" (as registry key
// paths are written) or "/"; an empty Key is the program's own key.
#include <QMargins>
#include <QRect>
#include <QString>
#include <optional>

inline constexpr const char *KV_REG_ORGANIZATION = "vnk";
inline constexpr const char *KV_REG_APPLICATION = "kv";
// The value that keeps the serial port name between runs.
inline constexpr const char *KV_REG_COM_PORT = "comPort";

// Uses the ini file FileName as the store instead of the user's own (tests,
// and runs that must not touch the user's settings).
void RegUseStoreFile(const QString &FileName);

QString RegReadString(const QString &Key, const QString &Name, const QString &Default);
void RegWriteString(const QString &Key, const QString &Name, const QString &Value);
void RegDeleteValue(const QString &Key, const QString &Name);

// Stored bounds of a window: only the values present in the store are set.
struct TStoredBounds {
  std::optional<int> Left, Top, Width, Height;
};

// Bounds of the control named Name under Key ("left", "top", "width", "height").
TStoredBounds RegReadBounds(const QString &Key, const QString &Name);
void RegWriteBounds(const QString &Key, const QString &Name, const QRect &Bounds);

// Rect with the present stored values applied over Current.
QRect ApplyStoredBounds(const QRect &Current, const TStoredBounds &Stored);

// Bounds (a window's inside, Frame around it) made to fit Area: first
// narrowed or lowered where the framed window is larger, then moved in.
// Bounds saved on a larger or differently scaled screen open whole.
QRect FitIntoArea(const QRect &Bounds, const QRect &Area, const QMargins &Frame = QMargins());

// A control is anything with a name and a geometry (QWidget and test doubles).
template <class TControl> void RestoreControlBounds(const QString &Key, TControl *Control) {
  const TStoredBounds stored = RegReadBounds(Key, Control->objectName());
  Control->setGeometry(ApplyStoredBounds(Control->geometry(), stored));
}

template <class TControl> void SaveControlBounds(const QString &Key, TControl *Control) {
  RegWriteBounds(Key, Control->objectName(), Control->geometry());
}
