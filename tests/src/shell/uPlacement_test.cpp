#include "uPlacement.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {
// A window as the store sees it: a name and a geometry.
struct TFakeControl {
  QString Name;
  QRect Rect;
  QString objectName() const { return Name; }
  QRect geometry() const { return Rect; }
  void setGeometry(const QRect &R) { Rect = R; }
};

class PlacementTest : public ::testing::Test {
protected:
  void SetUp() override { RegUseStoreFile(FDir.filePath("kv.conf")); }
  QTemporaryDir FDir;
};
} // namespace

TEST_F(PlacementTest, BoundsRoundTripPerControlName) {
  TFakeControl main{"MainForm", QRect(10, 20, 800, 600)};
  TFakeControl prop{"PropertyForm", QRect(-5, 7, 300, 400)};
  SaveControlBounds("", &main);
  SaveControlBounds("", &prop);

  TFakeControl main2{"MainForm", QRect(0, 0, 1, 1)};
  TFakeControl prop2{"PropertyForm", QRect(0, 0, 1, 1)};
  RestoreControlBounds("", &main2);
  RestoreControlBounds("", &prop2);
  EXPECT_EQ(main2.Rect, QRect(10, 20, 800, 600));
  EXPECT_EQ(prop2.Rect, QRect(-5, 7, 300, 400));
}

TEST_F(PlacementTest, OnlyStoredNumericValuesAreApplied) {
  RegWriteString("MainForm", "left", "42");
  RegWriteString("MainForm", "width", "wide");
  TFakeControl c{"MainForm", QRect(1, 2, 300, 200)};
  RestoreControlBounds("", &c);
  EXPECT_EQ(c.Rect, QRect(42, 2, 300, 200));

  TFakeControl other{"OtherForm", QRect(1, 2, 300, 200)};
  RestoreControlBounds("", &other);
  EXPECT_EQ(other.Rect, QRect(1, 2, 300, 200));
}

TEST_F(PlacementTest, KeyPathsWithBackslashesAreSubkeys) {
  TFakeControl c{"OscValueForm", QRect(3, 4, 50, 60)};
  SaveControlBounds("\\osc\\", &c);
  const TStoredBounds b = RegReadBounds("osc", "OscValueForm");
  ASSERT_TRUE(b.Left && b.Top && b.Width && b.Height);
  EXPECT_EQ(QRect(*b.Left, *b.Top, *b.Width, *b.Height), QRect(3, 4, 50, 60));
  EXPECT_FALSE(RegReadBounds("", "OscValueForm").Left.has_value());
}

TEST_F(PlacementTest, StringsReadWriteAndDelete) {
  EXPECT_EQ(RegReadString("", KV_REG_COM_PORT, ""), "");
  RegWriteString("", KV_REG_COM_PORT, "ttyUSB0");
  EXPECT_EQ(RegReadString("", KV_REG_COM_PORT, "x"), "ttyUSB0");
  // The store is a file: a second reader of the same file sees the value.
  RegUseStoreFile(FDir.filePath("kv.conf"));
  EXPECT_EQ(RegReadString("", KV_REG_COM_PORT, "x"), "ttyUSB0");
  RegDeleteValue("", KV_REG_COM_PORT);
  EXPECT_EQ(RegReadString("", KV_REG_COM_PORT, "none"), "none");
}

TEST(Placement, BoundsAreFittedIntoTheScreenArea) {
  const QRect screen(0, 0, 1024, 640); // 1280 x 800 at scale 1.25
  const QMargins frame(4, 30, 4, 4);
  const struct {
    QRect Stored, Expected;
  } cases[] = {
      {{100, 50, 800, 500}, {100, 50, 800, 500}},   // fits: unchanged
      {{0, 0, 1400, 1000}, {4, 30, 1016, 606}},     // saved on a larger screen
      {{600, 400, 800, 500}, {220, 136, 800, 500}}, // moved back in, bottom right
      {{-300, -50, 400, 300}, {4, 30, 400, 300}},   // and top left
      {{2000, 100, 300, 200}, {720, 100, 300, 200}}, // on a screen no longer there
  };
  for (const auto &c : cases)
    EXPECT_EQ(FitIntoArea(c.Stored, screen, frame), c.Expected) << c.Stored.x() << "," << c.Stored.y();
  // A second screen right of the first: its own area counts.
  EXPECT_EQ(FitIntoArea({1900, 10, 500, 500}, {1024, 0, 1280, 1024}), QRect(1804, 10, 500, 500));
}
