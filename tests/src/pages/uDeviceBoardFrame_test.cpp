#include "uDeviceBoardFrame.h"

#include "uControls.h"
#include "uFiles.h"
#include "uTextCodec.h"

#include <QKeyEvent>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {
class DeviceBoard : public ::testing::Test {
protected:
  void SetUp() override {
    FFile = FDir.filePath("deviceFrame.xml");
    SaveFileBytes(FFile, ToWin1251("<?xml version=\"1.0\" encoding=\"windows-1251\"?><document>"
                                   "<frame caption=\"Первая\"><element><class>TGroupBoxA</class>"
                                   "<element><class>TLabelA</class><Caption>внутри</Caption></element></element></frame>"
                                   "<frame caption=\"Вторая\"><element><class>TLabelA</class><Caption>два</Caption></element></frame>"
                                   "<frame caption=\"Третья\"/></document>"));
    Frame.Init(FFile);
  }
  // Board captions of the file as saved now.
  QStringList SavedCaptions() {
    Frame.Save(QString());
    IXXMLDocument doc = NewXMLDocument();
    EXPECT_TRUE(doc->Load(FFile));
    QStringList out;
    const IXXMLNodeList frames = doc->GetDocumentElement()->SelectNodes("frame");
    for (int i = 0; i < frames->GetCount(); ++i)
      out << frames->GetItem(i)->GetStrAttr("caption", "?");
    return out;
  }
  QStringList Listed() const {
    QStringList out;
    for (int i = 0; i < Frame.ListBox->count(); ++i)
      out << Frame.ListBox->item(i)->text();
    return out;
  }
  void Select(int Row) { Frame.ListBox->setCurrentRow(Row); }
  void CtrlKey(int Key) {
    QKeyEvent e(QEvent::KeyPress, Key, Qt::ControlModifier);
    QCoreApplication::sendEvent(Frame.ListBox, &e);
  }
  QStringList Labels() const { return Labels(Frame); }
  static QStringList Labels(const TkvDeviceBoardFrame &F) {
    QStringList out;
    for (QWidget *w : ControlsOf(F.Panel, true))
      if (auto *l = qobject_cast<TLabelA *>(w))
        out << l->text();
    return out;
  }

  QTemporaryDir FDir;
  QString FFile;
  TkvDeviceBoardFrame Frame;
};
} // namespace

TEST_F(DeviceBoard, ListActionsKeepListAndFileInStep) {
  EXPECT_EQ(Frame.CurrentIndex(), 0);
  Frame.ActionAdd->trigger();
  EXPECT_EQ(SavedCaptions(), (QStringList{"Первая", "Вторая", "Третья", "Новый"}));

  Select(3);
  for (const QString &name : {QString("Четвёртая"), QString()}) {
    Frame.AskName = [&](QString &Caption) {
      Caption = name;
      return true;
    };
    Frame.ActionRename->trigger();
    EXPECT_EQ(SavedCaptions().value(3), name);
    EXPECT_EQ(Listed().value(3), name);
  }

  // Ctrl+Up on the first board moves nothing; Ctrl+Down swaps it with the second.
  Select(0);
  CtrlKey(Qt::Key_Up);
  EXPECT_EQ(SavedCaptions().mid(0, 2), (QStringList{"Первая", "Вторая"}));
  CtrlKey(Qt::Key_Down);
  EXPECT_EQ(SavedCaptions().mid(0, 2), (QStringList{"Вторая", "Первая"}));
  EXPECT_EQ(Frame.CurrentIndex(), 1);
  EXPECT_EQ(Labels(), QStringList{"внутри"}); // still the first board on show

  // Deleting a board before the one on show keeps that board current.
  Select(0);
  EXPECT_EQ(Labels(), QStringList{"два"});
  Select(2);
  Frame.ActionDelete->trigger(); // "Третья", on show
  EXPECT_EQ(Frame.CurrentIndex(), -1);
  EXPECT_TRUE(Labels().isEmpty());
  Select(1);
  Select(0);
  Frame.ActionDelete->trigger();
  Select(0);
  EXPECT_EQ(Frame.CurrentIndex(), 0);
  EXPECT_EQ(Labels(), QStringList{"внутри"});
  EXPECT_EQ(SavedCaptions(), (QStringList{"Первая", ""}));
}

TEST_F(DeviceBoard, ControlsInAGroupBoxSurviveASwitchSaveAndDuplicate) {
  EXPECT_EQ(Labels(), QStringList{"внутри"});
  auto *box = qobject_cast<TGroupBoxA *>(ControlsOf(Frame.Panel, false).value(0));
  ASSERT_TRUE(box);
  static_cast<TLabelA *>(CreateControl(box, "TLabelA"))->setText("добавлен");
  Select(1);
  Select(0);
  EXPECT_EQ(Labels(), (QStringList{"внутри", "добавлен"}));
  Frame.ActionDuplicate->trigger(); // of the stored board, with the new label
  Frame.Save(QString());

  TkvDeviceBoardFrame again;
  again.Init(FFile);
  ASSERT_EQ(again.ListBox->count(), 4);
  again.ListBox->setCurrentRow(3);
  EXPECT_EQ(Labels(again), (QStringList{"внутри", "добавлен"}));
}

TEST_F(DeviceBoard, MissingFileIsReportedAndTheNewPageStillSaves) {
  TkvDeviceBoardFrame page;
  QStringList reported;
  TPageHost host;
  host.Report = [&](const QString &T) { reported << T; };
  page.SetHost(host);
  const QString missing = FDir.filePath("none.xml");
  page.Init(missing);
  EXPECT_EQ(reported, QStringList{"cannot open " + missing + ": No such file or directory"});
  page.ActionAdd->trigger();
  page.Save(QString());
  EXPECT_TRUE(QFile::exists(missing));
}
