#include "uPageControlHelper.h"

#include <QAbstractButton>
#include <QPointer>
#include <QTest>
#include <gtest/gtest.h>

namespace {
struct TPages {
  TPages() {
    Control.resize(600, 300);
    for (int i = 0; i < 2; ++i)
      Control.addTab(new TTabSheet, QString("Fixed %1").arg(i));
    Helper = new TPageControlHelper(&Control);
    Closable = new TTabSheetClosable;
    Closable->SetTag(-2);
    Control.addTab(Closable, "Log      ");
    Control.show();
  }
  TPageControl Control;
  TPageControlHelper *Helper = nullptr;
  QPointer<TTabSheetClosable> Closable;
};
} // namespace

TEST(PageControlHelper, OnlyRunTimeSheetsHaveACloseButton) {
  TPages p;
  EXPECT_EQ(p.Helper->CloseButton(p.Control.widget(0)), nullptr);
  EXPECT_EQ(p.Helper->CloseButton(p.Control.widget(1)), nullptr);
  EXPECT_NE(p.Helper->CloseButton(p.Closable), nullptr);
  // Sheets made before the helper was attached get theirs too.
  TPageControl control;
  auto *early = new TTabSheetClosable;
  control.addTab(early, "early");
  TPageControlHelper helper(&control);
  EXPECT_NE(helper.CloseButton(early), nullptr);
}

TEST(PageControlHelper, OnlyAReleaseOverTheButtonClosesTheTab) {
  // Pressed inside, moved out, then released outside or after moving back in.
  for (const bool backIn : {false, true}) {
    TPages p;
    QAbstractButton *b = p.Helper->CloseButton(p.Closable);
    ASSERT_NE(b, nullptr);
    const QPoint inside = b->rect().center(), outside = inside + QPoint(200, 0);
    QTest::mousePress(b, Qt::LeftButton, {}, inside);
    QTest::mouseMove(b, outside);
    if (backIn)
      QTest::mouseMove(b, inside);
    QTest::mouseRelease(b, Qt::LeftButton, {}, backIn ? inside : outside);
    EXPECT_EQ(p.Closable.isNull(), backIn);
    EXPECT_EQ(p.Control.count(), backIn ? 2 : 3);
  }
}

TEST(PageControlHelper, CloseCallsOnCloseWithTheSheetThenWithout) {
  TPages p;
  QList<QObject *> senders;
  QList<int> countsSeen;
  TTabSheetClosable *sheet = p.Closable;
  sheet->SetOnClose([&](QObject *Sender) {
    senders << Sender;
    countsSeen << p.Control.count();
  });
  QAbstractButton *b = p.Helper->CloseButton(sheet);
  QTest::mouseClick(b, Qt::LeftButton);
  ASSERT_EQ(senders.size(), 2);
  EXPECT_EQ(senders[0], sheet);
  EXPECT_EQ(senders[1], nullptr);
  // The first call sees the sheet still in place, the second sees it gone.
  EXPECT_EQ(countsSeen, (QList<int>{3, 2}));
}
