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
