#include "uWindowPlacement.h"

#include "uPlacement.h"

#include <QDialog>
#include <QGuiApplication>
#include <QScreen>
#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(WindowPlacement, RestoredWindowStaysWithinItsScreen) {
  QTemporaryDir dir;
  RegUseStoreFile(dir.filePath("kv.conf"));
  const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
  const struct {
    QRect Stored;
    bool Resized;
  } cases[] = {
      {QRect(area.left() + 10, area.top() + 40, 200, 150), false},
      {QRect(area.left(), area.top(), area.width() * 2, area.height() * 2), true},
      {QRect(area.right() - 50, area.bottom() - 50, 300, 200), false},
  };
  for (const auto &c : cases) {
    QDialog w;
    w.setObjectName("PlacedForm");
    RegWriteBounds("", "PlacedForm", c.Stored);
    RestoreWindowBounds("", &w);
    EXPECT_TRUE(area.contains(w.geometry())) << c.Stored.x() << "," << c.Stored.y();
    EXPECT_EQ(w.size() != c.Stored.size(), c.Resized);
    // What fits stays where it was saved.
    if (area.contains(c.Stored.adjusted(0, -40, 0, 0)))
      EXPECT_EQ(w.geometry(), c.Stored);
  }
}
