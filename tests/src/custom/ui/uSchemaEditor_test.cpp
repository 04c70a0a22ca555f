#include "uSchemaEditor.h"

#include "../schema_test_util.h"
#include "uGraphic.h"
#include "uDemoDevice.h"
#include "uDeviceContent.h"
#include "uFileDialogSink.h"
#include "uFiles.h"
#include "uLabelEditForm.h"
#include "uModbusIderList.h"
#include "uSchemaDeviceDescriptor.h"
#include "uLinkNode.h"
#include "uPrintDialog.h"

#include <QApplication>
#include <QFile>
#include <QPrinter>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <gtest/gtest.h>

namespace {
// One application object a test: a static one outlives the input devices
// the mouse events create.
struct TApp {
  int Argc = 0;
  QApplication App{Argc, nullptr};
};

// Answers the next modal dialog: Fill runs on it, then OK.
template <typename T> void AnswerNextDialog(std::function<void(T &)> Fill = {}) {
  QTimer::singleShot(0, [Fill] {
    auto *d = qobject_cast<T *>(QApplication::activeModalWidget());
    ASSERT_NE(d, nullptr);
    if (Fill)
      Fill(*d);
    d->accept();
  });
}

int Editors() {
  int n = 0;
  for (QWidget *w : QApplication::topLevelWidgets())
    n += qobject_cast<TSchemaEditor *>(w) && w->isVisible();
  return n;
}

// A root module with a descriptor in a shown editor, the project's library
// in its tree.
struct TShown {
  std::unique_ptr<TModule> M = NewRoot();
  TSchemaEditor W;
  TMessageRecorder Messages;
  TShown() {
    M->Root = true;
    M->SetDescriptor(std::make_shared<TFakeDescriptor>());
    W.UseConfigurator(&ProjectLibrary());
    W.SetModule(M.get());
    W.show();
  }
  ~TShown() { W.SetModule(nullptr); }
  TSchemaCanvas *Canvas() { return W.PaintBox; }
  QPoint Px(int X, int Y) { return {X * M->Scale, Y * M->Scale}; }
  QTreeWidgetItem *LibraryNode(const QString &Caption) {
    return W.TreeView->findItems(Caption, Qt::MatchExactly | Qt::MatchRecursive).value(0);
  }
  void Place(const char *Id, int X, int Y) {
    W.TreeNodeToScheme(LibraryNode(ProjectLibrary().FindFunction(Id)->Caption));
    QTest::mouseClick(Canvas(), Qt::LeftButton, {}, Px(X, Y));
  }
  void Tool(const char *Button, int X, int Y) {
    W.findChild<QToolButton *>(Button)->click();
    QTest::mouseClick(Canvas(), Qt::LeftButton, {}, Px(X, Y));
  }
  void Link(TAbstract *From, int FromPin, TAbstract *To, int ToPin) {
    W.sbLink->click();
    QTest::mouseClick(Canvas(), Qt::LeftButton, {}, From->Graphic->OutPins.at(size_t(FromPin)).P1);
    QTest::mouseClick(Canvas(), Qt::LeftButton, {}, To->Graphic->InPins.at(size_t(ToPin)).P1);
  }
  TAbstract *Last() { return M->AbstractList.Items().last(); }
};
} // namespace

TEST(SchemaEditor, ChildModulesPrintingPropertiesAndClosing) {
  TApp app;
  TShown s;
  TModule *child = s.W.State().InsertNewModule();
  child->Caption = "sub";
  // A second double-click on an open child module brings its window forward.
  const int before = Editors();
  s.W.State().EditObject(TSchemaEditorState::ekModule, child);
  s.W.State().EditObject(TSchemaEditorState::ekModule, child);
  EXPECT_EQ(Editors(), before + 1);
  TSchemaEditor *sub = TSchemaEditor::FindEditorForModule(child);
  ASSERT_NE(sub, nullptr);
  EXPECT_EQ(sub->windowTitle(), "sub");
  sub->State().Selection().Add(sub->State().InsertNewModule());
  // Deleting the child module closes its editor.
  s.W.State().Selection().Add(child);
  s.W.FormKeyDown(Qt::Key_Delete, {});
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(TSchemaEditor::FindEditorForModule(child), nullptr);

  s.Place("and", 2, 2);
  s.Place("not", 12, 2);
  QTemporaryDir dir;
  {
    // The page's load: the "Журнал" lines, descriptor menus enabled.
    TFakeDescriptorReader reader;
    s.M->SaveToFile(dir.filePath("main.xml"));
    s.M->Changed = true;
    TSchemaEditor loaded;
    loaded.UseConfigurator(&ProjectLibrary());
    loaded.LoadFromFile(dir.filePath("main.xml"));
    EXPECT_EQ(loaded.Memo->toPlainText(), "Module: \nAbstractList: 2\nLinkList: 0");
    EXPECT_TRUE(loaded.mDDFEdit->isEnabled());
  }
  const QString pdf = dir.filePath("schema.pdf");
  const TPrintDialogOpener old = SetPrintDialogOpener(PdfFileOpener(pdf));
  const int scale = s.M->Scale;
  s.W.Print();
  SetPrintDialogOpener(old);
  QFile f(pdf);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QByteArray bytes = f.readAll();
  EXPECT_EQ(bytes.count("/Type /Page") - bytes.count("/Type /Pages"), 1);
  EXPECT_EQ(s.M->Scale, scale);

  AnswerNextDialog<QDialog>();
  s.W.Guard([&] { s.W.ShowProperties(); });
  EXPECT_EQ(s.Messages.Texts, QStringList{"Unsupported"});
  s.Messages.Texts.clear();
  const TMessageSink ask = SetMessageSink([&](TMsgKind, const QString &T) {
    s.Messages.Texts << T;
    return TMsgResult::No;
  });
  s.W.setWindowTitle("Схема");
  s.W.close();
  EXPECT_TRUE(s.W.isVisible());
  EXPECT_EQ(s.Messages.Texts, QStringList{"Изменения для Схема будут потеряны, продолжить выход?"});
  SetMessageSink(ask);
}

// A new user's session: place from the tree and the tool buttons, link,
// move, undo. With KV_SCHEMA_EDITOR_SHOT set the window is saved there.
TEST(SchemaEditor, NewUserSessionThroughTheWindow) {
  TApp app;
  TShown s;
  s.W.SetShowGrid(true);
  s.W.resize(1000, 640);
  s.Place("one", 2, 3);
  TAbstract *one = s.Last();
  s.Place("not", 10, 10);
  TAbstract *notBlock = s.Last();
  s.Tool("sbInputInterface", 2, 10);
  TAbstract *in = s.Last();
  s.Tool("sbOutputInterface", 30, 4);
  TAbstract *out = s.Last();
  s.Tool("sbLabelRef", 2, 15);
  s.Link(one, 0, notBlock, 0);
  s.Link(notBlock, 0, out, 0);
  EXPECT_EQ(s.M->AbstractList.Count(), 5);
  EXPECT_EQ(s.M->LinkList.Count(), 2);
  // Drag the not block down two units, then undo the drag and a link.
  const QPoint grab = s.Px(11, 11);
  QTest::mousePress(s.Canvas(), Qt::LeftButton, {}, grab);
  QTest::mouseMove(s.Canvas(), grab + s.Px(0, 2));
  QTest::mouseRelease(s.Canvas(), Qt::LeftButton, {}, grab + s.Px(0, 2));
  EXPECT_EQ(notBlock->Rect.Top, 12);
  s.Link(in, 0, notBlock, 0); // refused: the input has a link
  QTest::keyClick(s.Canvas(), Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(notBlock->Rect.Top, 10);
  AnswerNextDialog<TCommentEditForm>([](TCommentEditForm &D) { D.Memo->setPlainText("Пуск по входу\nи кнопке"); });
  s.Tool("sbComment", 16, 14);
  EXPECT_EQ(s.Last()->Caption, "Пуск по входу\nи кнопке");
  if (const QString shot = qEnvironmentVariable("KV_SCHEMA_EDITOR_SHOT"); !shot.isEmpty()) {
    QTest::qWait(200);
    s.W.grab().save(shot);
  }
}

// The ".ddf" import: a cancelled dialog and a broken file leave the module's
// descriptor; the demo device's descriptor replaces it and reaches the blocks.
TEST(SchemaEditor, DescriptorImport) {
  TApp app;
  TShown s;
  QTemporaryDir dir;
  const TDeviceContent c = DemoTerminalContent();
  SaveFileBytes(dir.filePath("identification.inc"), DesignIdentification(c));
  SaveFileBytes(dir.filePath("demo.ddf"), DesignDescriptorXml(c));
  SaveFileBytes(dir.filePath("broken.ddf"), "<device");
  ResetModbusIderList();
  EnsureModbusIderList(dir.filePath("identification.inc"));
  s.Place("and", 2, 2);
  const auto *block = static_cast<TElement *>(s.Last());
  const TSchemaDescriptor *before = s.M->Descriptor.get();
  QList<bool> kept;
  for (const QString answer : {QString(), dir.filePath("broken.ddf"), dir.filePath("demo.ddf")}) {
    const TFileDialogSink old = SetFileDialogSink([&](const TFileDialogRequest &) { return answer; });
    s.W.Guard([&] { s.W.ImportDDF(); });
    SetFileDialogSink(old);
    kept << (s.M->Descriptor.get() == before);
  }
  EXPECT_EQ(kept, (QList<bool>{true, true, false}));
  EXPECT_EQ(s.Messages.Texts.size(), 1); // the broken file's error
  EXPECT_NE(DeviceOf(s.M->Descriptor.get()), nullptr);
  EXPECT_EQ(block->Descriptor, s.M->Descriptor.get());
  EXPECT_TRUE(s.W.mDDFEdit->isEnabled());
  ResetModbusIderList();
}

// The tree's pop-up menu: what each node allows, and its commands.
TEST(SchemaEditor, ModuleTreeMenu) {
  TApp app;
  TShown s;
  QTemporaryDir dir;
  {
    TFakeDescriptorReader reader;
    s.Place("and", 2, 2);
    s.M->SaveToFile(dir.filePath("part.xml"));
  }
  auto enabled = [&](QTreeWidgetItem *Node) {
    QString out;
    const std::unique_ptr<QMenu> menu = s.W.TreeMenu(Node);
    for (QAction *a : menu->actions())
      out += a->isEnabled() ? '1' : '0';
    return out;
  };
  auto run = [&](QTreeWidgetItem *Node, int Item) {
    const std::unique_ptr<QMenu> menu = s.W.TreeMenu(Node);
    menu->actions().at(Item)->trigger();
  };
  QTreeWidgetItem *functions = s.W.TreeView->topLevelItem(0), *local = s.W.TreeView->topLevelItem(2);
  // to scheme, add node, add module, properties, edit, copy-paste, delete
  EXPECT_EQ(enabled(functions), "0000000");
  EXPECT_EQ(enabled(s.LibraryNode(ProjectLibrary().FindFunction("and")->Caption)), "1000000");
  EXPECT_EQ(enabled(local), "0110000");
  run(local, 1);
  QTreeWidgetItem *folder = local->child(0);
  EXPECT_EQ(folder->text(0), "Новый узел");
  EXPECT_EQ(enabled(folder), "0110001");
  const TFileDialogSink old = SetFileDialogSink([&](const TFileDialogRequest &) { return dir.filePath("part.xml"); });
  run(folder, 2);
  SetFileDialogSink(old);
  QTreeWidgetItem *item = folder->child(0);
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(enabled(item), "1001101");
  // Armed from the tree, then the node goes: nothing is left to place.
  s.W.TreeNodeToScheme(item);
  EXPECT_EQ(s.W.State().MouseState(), TSchemaEditorState::msInsertItem);
  run(folder, 6);
  EXPECT_EQ(local->childCount(), 0);
  EXPECT_EQ(s.W.State().MouseState(), TSchemaEditorState::msIdle);
  EXPECT_EQ(s.Messages.Texts, QStringList{});
}
