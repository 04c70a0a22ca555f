#include "uPlacement.h"

#include <QSettings>
#include <algorithm>
#include <memory>

namespace {
QString GroupOf(const QString &Key) {
  QString g = Key;
  g.replace(u'\\', u'/');
  while (g.startsWith(u'/'))
    g.remove(0, 1);
  while (g.endsWith(u'/'))
    g.chop(1);
  return g;
}

std::unique_ptr<QSettings> &StoreObject() {
  static std::unique_ptr<QSettings> s;
  return s;
}

QSettings &Store() {
  // One object for the process (main thread only); sync() after each write
  // makes the value reach the file at once.
  auto &s = StoreObject();
  if (!s)
    s = std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, KV_REG_ORGANIZATION,
                                    KV_REG_APPLICATION);
  return *s;
}

QString Path(const QString &Key, const QString &Name) {
  const QString g = GroupOf(Key);
  return g.isEmpty() ? Name : g + u'/' + Name;
}

std::optional<int> ReadInt(const QString &Path) {
  const QVariant v = Store().value(Path);
  if (!v.isValid())
    return std::nullopt;
  bool ok = false;
  const int n = v.toInt(&ok);
  return ok ? std::optional<int>(n) : std::nullopt;
}
} // namespace

void RegUseStoreFile(const QString &FileName) {
  StoreObject() = std::make_unique<QSettings>(FileName, QSettings::IniFormat);
}

QString RegReadString(const QString &Key, const QString &Name, const QString &Default) {
  const QVariant v = Store().value(Path(Key, Name));
  return v.isValid() ? v.toString() : Default;
}

void RegWriteString(const QString &Key, const QString &Name, const QString &Value) {
  Store().setValue(Path(Key, Name), Value);
  Store().sync();
}

void RegDeleteValue(const QString &Key, const QString &Name) {
  Store().remove(Path(Key, Name));
  Store().sync();
}

TStoredBounds RegReadBounds(const QString &Key, const QString &Name) {
  const QString base = Path(Key, Name) + u'/';
  TStoredBounds b;
  b.Left = ReadInt(base + "left");
  b.Top = ReadInt(base + "top");
  b.Width = ReadInt(base + "width");
  b.Height = ReadInt(base + "height");
  return b;
}

void RegWriteBounds(const QString &Key, const QString &Name, const QRect &Bounds) {
  const QString base = Path(Key, Name) + u'/';
  Store().setValue(base + "left", Bounds.left());
  Store().setValue(base + "top", Bounds.top());
  Store().setValue(base + "width", Bounds.width());
  Store().setValue(base + "height", Bounds.height());
  Store().sync();
}

QRect FitIntoArea(const QRect &Bounds, const QRect &Area, const QMargins &Frame) {
  const QRect inner = Area.marginsRemoved(Frame);
  if (inner.isEmpty())
    return Bounds;
  QRect r = Bounds;
  r.setWidth(std::min(r.width(), inner.width()));
  r.setHeight(std::min(r.height(), inner.height()));
  r.moveLeft(std::clamp(r.left(), inner.left(), inner.right() - r.width() + 1));
  r.moveTop(std::clamp(r.top(), inner.top(), inner.bottom() - r.height() + 1));
  return r;
}

QRect ApplyStoredBounds(const QRect &Current, const TStoredBounds &Stored) {
  QRect r = Current;
  if (Stored.Left)
    r.moveLeft(*Stored.Left);
  if (Stored.Top)
    r.moveTop(*Stored.Top);
  if (Stored.Width)
    r.setWidth(*Stored.Width);
  if (Stored.Height)
    r.setHeight(*Stored.Height);
  return r;
}
