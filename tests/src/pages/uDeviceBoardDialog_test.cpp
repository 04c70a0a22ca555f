// The boards page's own dialog (a board's name) goes with the page: the page
// freed while the dialog is open (its tab closed under it) ends the dialog,
// and the command that opened it goes no further.
#include "uDeviceBoardFrame.h"

#include "uFiles.h"
#include "uTextCodec.h"

#include <QApplication>
#include <QListWidget>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

TEST(DeviceBoardDialog, APageFreedUnderItsNameDialogEndsTheDialog) {
  QTemporaryDir dir;
  const QString file = dir.filePath("deviceFrame.xml");
  SaveFileBytes(file, ToWin1251("<?xml version=\"1.0\" encoding=\"windows-1251\"?><document>"
                                "<frame caption=\"Первая\"/><frame caption=\"Вторая\"/></document>"));
  QPointer<TkvDeviceBoardFrame> frame(new TkvDeviceBoardFrame);
  frame->Init(file);
  frame->show();
  frame->ListBox->setCurrentRow(1);
  QString opened;
  QTimer free;
  QObject::connect(&free, &QTimer::timeout, [&] {
    if (QWidget *w = QApplication::activeModalWidget()) {
      free.stop();
      opened = w->metaObject()->className();
      delete frame.data();
    }
  });
  free.start(10);
  frame->ActionRename->trigger();
  free.stop();
  EXPECT_EQ(opened, "TModuleProtertyForm");
  EXPECT_TRUE(frame.isNull());
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}
