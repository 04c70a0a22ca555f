#include "DDMenuEditorForm.h"

#include "uDemoDevice.h"
#include "uDeviceContent.h"
#include "uDeviceDescriptor.h"
#include "uFileDialogSink.h"
#include "uFiles.h"
#include "uMessageSink.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <gtest/gtest.h>

namespace {

QString U(const char *S) { return QString::fromUtf8(S); }

QStringList Texts(QTreeWidgetItem *Parent) {
  QStringList l;
  for (int i = 0; i < Parent->childCount(); ++i)
    l << Parent->child(i)->text(0);
  return l;
}

class MenuEditorForm : public ::testing::Test {
protected:
  QTemporaryDir Dir;
  TDeviceDescriptor D;
  QStringList Asked;
  TMsgResult Answer = TMsgResult::No;
  TMessageSink OldSink;

  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "test";
    static char *argv[] = {name, nullptr};
    if (!qApp)
      OwnApp = new QApplication(argc, argv);
  }
  // The application goes with the suite: left to the exit, Qt's font caches
  // would stay behind for the leak check.
  static void TearDownTestSuite() {
    delete OwnApp;
    OwnApp = nullptr;
  }
  static inline QApplication *OwnApp = nullptr;
  void SetUp() override {
    const TDeviceContent c = DemoTerminalContent();
    SaveFileBytes(Dir.filePath("identification.inc"), DesignIdentification(c));
    SaveFileBytes(Dir.filePath("descriptor.xml"), DesignDescriptorXml(c));
    ResetModbusIderList();
    EnsureModbusIderList(Dir.filePath("identification.inc"));
    OldSink = SetMessageSink([this](TMsgKind, const QString &Text) {
      Asked << Text;
      return Answer;
    });
    D.LoadFromFile(Dir.filePath("descriptor.xml"));
    D.SaveMenuFile(Dir.filePath("menu.xml"));
  }
  void TearDown() override {
    SetMessageSink(OldSink);
    ResetModbusIderList();
  }
};

} // namespace

TEST_F(MenuEditorForm, ShowsTheDemoMenuAndEditsIt) {
  TMenuEditor w;
  w.LoadFromFile(Dir.filePath("menu.xml"));
  w.SetDescriptor(&D);
  EXPECT_EQ(w.windowTitle(), U("Редактор меню"));
  QTreeWidgetItem *start = w.TreeViewMenu->topLevelItem(0);
  ASSERT_TRUE(start);
  EXPECT_EQ(start->text(0), U("Старт"));
  EXPECT_EQ(Texts(start), QStringList({U("Измерения"), U("Параметры"), U("Уставки"), U("Уставки 2"),
                                       U("Журнал событий"), U("Авария"), U("Дата")}));
  EXPECT_EQ(Texts(start->child(0)), QStringList({"Ia", "Ib", "Ic", "3I0"}));
  EXPECT_EQ(w.TreeViewDescriptor->topLevelItemCount(), 6);
  EXPECT_EQ(w.TreeViewDescriptor->topLevelItem(1)->text(0), U("Уставки"));

  // An edited list caption is kept; a record's item gets its text back.
  EXPECT_FALSE(w.ActionFileSave->isEnabled());
  start->child(0)->setText(0, U("Токи"));
  start->child(0)->child(0)->setText(0, "x");
  QApplication::processEvents();
  start = w.TreeViewMenu->topLevelItem(0);
  EXPECT_EQ(start->child(0)->text(0), U("Токи"));
  EXPECT_EQ(start->child(0)->child(0)->text(0), "Ia");
  EXPECT_EQ(GetAttrStr(w.Core().Menu().MenuRoot()->SelectSingleNode("item-list[1]"), "caption", ""), U("Токи"));
  EXPECT_TRUE(w.ActionFileSave->isEnabled());

  // Saving asks for the file through the file-dialog sink.
  const QString saved = Dir.filePath("saved.xml");
  TFileDialogRequest asked;
  const TFileDialogSink oldFiles = SetFileDialogSink([&](const TFileDialogRequest &R) {
    asked = R;
    return saved;
  });
  w.ActionFileSave->trigger();
  SetFileDialogSink(oldFiles);
  EXPECT_EQ(asked.Caption, U("Сохранить файл меню как"));
  EXPECT_EQ(asked.FileName, "menu.xml");
  EXPECT_TRUE(QFile::exists(saved));
  EXPECT_FALSE(w.ActionFileSave->isEnabled());

  // Closing a changed menu asks; No keeps the window.
  w.TreeViewMenu->clearSelection();
  start->setSelected(true);
  w.ActionInsertAlarm->trigger();
  w.show();
  w.close();
  EXPECT_EQ(Asked, QStringList({U("Изменения будут потеряны, продолжить выход?")}));
  EXPECT_TRUE(w.isVisible());
  if (qEnvironmentVariableIsSet("KV_MENU_EDITOR_SHOT"))
    w.grab().save(qEnvironmentVariable("KV_MENU_EDITOR_SHOT"));
  Answer = TMsgResult::Yes;
  w.close();
  EXPECT_FALSE(w.isVisible());
}

TEST_F(MenuEditorForm, UnreadableMenuIsShownNotThrown) {
  SaveFileBytes(Dir.filePath("menu.xml"), "<document><item-list>");
  TMenuEditor w;
  w.LoadFromFile(Dir.filePath("menu.xml"));
  EXPECT_EQ(Asked, QStringList({"error loading " + Dir.filePath("menu.xml") +
                                ": Start-end tags mismatch at line 1, column 21"}));
  w.SetDescriptor(&D);
  EXPECT_EQ(w.TreeViewMenu->topLevelItemCount(), 0);
}
