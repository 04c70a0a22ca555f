// The custom-logic page and its dialogs after the language menu: in English no
// text a person reads there is Russian, in Ukrainian none is Russian either,
// and back in Russian the page reads as it was made. Names the logic files
// and the device hold stay as they are. Also the failures of the logic side:
// the log keeps them in Russian, the engineer reads them in his language.
#include "uCustomFrame.h"

#include "uConfigurator.h"
#include "uCustomBuild.h"
#include "uCustomParamIOForm.h"
#include "uCustomUstavForm.h"
#include "uDemoSession.h"
#include "DDMenuEditorForm.h"
#include "uFunctionEditForm.h"
#include "uLogger.h"
#include "uLogicTexts.h"
#include "uMessageSink.h"
#include "uSchemaEditor.h"
#include "uSchemaEditorPanel.h"
#include "uSchemaModule.h"
#include "uStringGrid.h"
#include "uUnitPropertyForm.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QDirIterator>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <gtest/gtest.h>

inline void PrintTo(const QString &S, std::ostream *Os) { *Os << '"' << S.toStdString() << '"'; }

namespace {
const QRegularExpression Cyrillic(QStringLiteral("[\\x{0400}-\\x{04FF}]"));
// Letters Russian has and Ukrainian has not.
const QRegularExpression RussianOnly(QStringLiteral("[ыэъёЫЭЪЁ]"));

// Every text a person reads on Root: titles, labels, buttons and their hints,
// group boxes, tabs, column headers, combo items, menus and the top nodes of
// the trees, with where it stands. Cells and list items are the logic's own
// names and are left out, as are the texts a user types.
QStringList ShownTexts(QWidget *Root) {
  QStringList out;
  auto add = [&out](const QObject *Where, const QString &Text) {
    if (!Text.isEmpty())
      out << Where->objectName() + "|" + Where->metaObject()->className() + ": " + Text;
  };
  QList<QWidget *> widgets = Root->findChildren<QWidget *>();
  widgets.prepend(Root);
  for (QWidget *w : widgets) {
    if (!w->isVisibleTo(Root) && w != Root)
      continue;
    if (w->isWindow())
      add(w, w->windowTitle());
    add(w, w->toolTip());
    if (auto *l = qobject_cast<QLabel *>(w))
      add(l, l->text());
    else if (auto *b = qobject_cast<QAbstractButton *>(w))
      add(b, b->text());
    else if (auto *g = qobject_cast<QGroupBox *>(w))
      add(g, g->title());
    else if (auto *tabs = qobject_cast<QTabWidget *>(w))
      for (int i = 0; i < tabs->count(); ++i)
        add(tabs, tabs->tabText(i));
    else if (auto *c = qobject_cast<QComboBox *>(w))
      for (int i = 0; i < c->count(); ++i)
        add(c, c->itemText(i));
    else if (auto *t = qobject_cast<QTableWidget *>(w)) {
      for (int i = 0; i < t->columnCount(); ++i)
        if (t->horizontalHeaderItem(i) && !t->horizontalHeader()->isHidden())
          add(t, t->horizontalHeaderItem(i)->text());
    } else if (auto *tree = qobject_cast<QTreeWidget *>(w)) {
      if (!tree->isHeaderHidden())
        add(tree, tree->headerItem()->text(0));
    } else if (auto *bar = qobject_cast<QMenuBar *>(w)) {
      for (QAction *a : bar->actions())
        if (a->isVisible())
          add(bar, a->text());
    }
    for (QAction *a : w->actions())
      if (!a->isSeparator()) {
        add(a, a->text());
        add(a, a->toolTip());
        if (a->menu())
          for (QAction *sub : a->menu()->actions())
            add(sub, sub->text());
      }
  }
  return out;
}

class CustomFrameLanguage : public ::testing::Test {
protected:
  void SetUp() override {
    MultiLingual().Load(KV_SOURCE_DIR "/src/resources");
    FOldSink = SetMessageSink([this](TMsgKind, const QString &Text) {
      Shown << Text;
      return TMsgResult::Ok;
    });
    ASSERT_TRUE(S.Start("[tools]\ncustomLogic=1\n"));
    // On screen, wide enough for the page's whole tool bar.
    S.Form->setGeometry(0, 0, 1400, 800);
    S.Form->show();
    S.Form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(S.Form.get()));
    ASSERT_EQ(S.Identify(), "Готово");
    S.Form->NCustomLogic->trigger();
    Page = S.Form->ActiveCustomFrame();
    ASSERT_TRUE(Page);
    S.Form->aMonitorRefresh->trigger();
    ASSERT_TRUE(S.WaitIdle());
    ASSERT_TRUE(Page->IsLogicLoaded()) << S.Status().toStdString();
    Page->ListViewUnit->setCurrentRow(0);
    ASSERT_EQ(Page->CurrentUnit(), 0);
    // What the device gave: the logic files of the work folder, as read.
    QDirIterator it(S.Dir.path(), {"*.xml", "*.inc"}, QDir::Files);
    while (it.hasNext())
      FData += FromWin1251(LoadFileBytes(it.next()));
  }
  void TearDown() override { SetMessageSink(FOldSink); }

  // The language as a user picks it from the menu, and the page after it.
  void Switch(QAction *Language) {
    Language->trigger();
    // The page follows the walk once the walk is over.
    ASSERT_TRUE(QTest::qWaitFor(
        [this] { return Page->ToolButtonCompile->text() == MultiLingual().FromRussian("Сформировать"); }, 10000));
  }

  // The Cyrillic of Text is names the device's files hold: in each part
  // between separators, the run from its first Cyrillic letter to its last
  // is found there.
  bool IsDeviceData(const QString &Shown) const {
    for (const QString &part : Shown.split(QRegularExpression(QStringLiteral(": |, |\\("))))
      if (const qsizetype first = part.indexOf(Cyrillic); first >= 0) {
        const qsizetype last = part.lastIndexOf(Cyrillic);
        if (!FData.contains(part.mid(first, last - first + 1)))
          return false;
      }
    return true;
  }
  QStringList Offending(const QStringList &Texts, const QRegularExpression &Foreign) const {
    QStringList bad;
    for (const QString &t : Texts)
      if (const QString shown = t.section(QStringLiteral(": "), 1, -1); shown.contains(Foreign) && !IsDeviceData(shown))
        bad << t;
    return bad;
  }

  // Each dialog the page opens through its own buttons, with its texts.
  QMap<QString, QStringList> OpenDialogs() {
    QMap<QString, QStringList> texts;
    QList<QWidget *> closing;
    // Each modal window: read, then closed as Cancel closes it; the setpoint
    // chooser of the function dialog is opened from there by its own button.
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
      QWidget *w = QApplication::activeModalWidget();
      if (!w || closing.contains(w))
        return;
      if (!texts.contains(w->objectName())) {
        texts[w->objectName()] = ShownTexts(w);
        if (auto *f = qobject_cast<TFunctionEditForm *>(w))
          for (QToolButton *b : f->findChildren<QToolButton *>())
            if (b->isVisible() && b->isEnabled() && b->toolTip() == MultiLingual().FromRussian("Выбрать уставку")) {
              QTimer::singleShot(0, b, &QToolButton::click);
              return;
            }
      }
      closing << w;
      QMetaObject::invokeMethod(w, "reject", Qt::QueuedConnection);
    });
    watch.start(20);
    Page->ToolButtonUstavNames->click();
    Page->ToolButtonParamIONames->click();
    // The unit dialog, as a double click on the unit opens it.
    emit Page->ListViewUnit->itemDoubleClicked(Page->ListViewUnit->item(0));
    TSchemaEditor *editor = Page->SchemaEditor()->Editor();
    // The timer, whose setpoint rows open the chooser (as a double-click on it does).
    for (TAbstract *a : editor->Module()->AbstractList.Items())
      if (auto *e = dynamic_cast<TElement *>(a); e && e->Func && !e->Func->Ustavs.isEmpty())
        editor->EditFunction(*e);
    watch.stop();
    // The menu editor, empty, as the program has it.
    TMenuEditor *menuEditor = S.Form->Forms().MenuEditor;
    menuEditor->show();
    texts["MenuEditor"] = ShownTexts(menuEditor);
    menuEditor->hide();
    // The tree's pop-up menu on its library node, as the right button opens it.
    const std::unique_ptr<QMenu> menu = editor->TreeMenu(editor->findChild<QTreeWidget *>("TreeView")->topLevelItem(1));
    for (QAction *a : menu->actions())
      texts["tree menu"] << "menu: " + a->text();
    return texts;
  }

  TDemoSession S;
  TkvCustomFrame *Page = nullptr;
  QStringList Shown;
  QString FData;

private:
  TMessageSink FOldSink;
};

TEST_F(CustomFrameLanguage, PageAndDialogsSpeakTheLanguageChosenInTheMenu) {
  const QStringList russian = ShownTexts(Page);
  ASSERT_TRUE(russian.contains("ToolButtonCompile|QToolButton: Сформировать")) << russian.join("\n").toStdString();
  const QMap<QString, QStringList> russianDialogs = OpenDialogs();
  for (const char *name : {"CustomUstavForm", "CustomParamIOForm", "UnitPropertyForm", "FunctionEditForm",
                           "UstavListForm", "MenuEditor", "tree menu"})
    EXPECT_TRUE(russianDialogs.contains(name)) << name << " was not opened";

  Switch(S.Form->NEnglish);
  const QStringList page = ShownTexts(Page);
  EXPECT_TRUE(page.contains("ToolButtonCompile|QToolButton: Build")) << page.join("\n").toStdString();
  EXPECT_TRUE(Offending(page, Cyrillic).isEmpty()) << Offending(page, Cyrillic).join("\n").toStdString();
  const QMap<QString, QStringList> english = OpenDialogs();
  EXPECT_EQ(english.keys(), russianDialogs.keys());
  for (auto it = english.begin(); it != english.end(); ++it)
    EXPECT_TRUE(Offending(*it, Cyrillic).isEmpty()) << Offending(*it, Cyrillic).join("\n").toStdString() << it.key().toStdString();
  // The names dialogs' header rows and directions are rows of their grids.
  TCustomParamIOForm *io = S.Form->Forms().CustomParamIOForm;
  EXPECT_EQ(io->sgParam->Cells(0, 0), "Direction");
  EXPECT_EQ(io->sgParam->Cells(0, 1), "Input");

  // Ukrainian after English: neither language stays behind.
  const QRegularExpression english2(QStringLiteral(": .*[A-Za-z]{4,} [a-z]{3,}"));
  Switch(S.Form->NUkrainian);
  EXPECT_TRUE(Offending(ShownTexts(Page), RussianOnly).isEmpty()) << Offending(ShownTexts(Page), RussianOnly).join("\n").toStdString();
  EXPECT_EQ(ShownTexts(Page).filter(english2), QStringList());
  const QMap<QString, QStringList> ukrainian = OpenDialogs();
  for (auto it = ukrainian.begin(); it != ukrainian.end(); ++it) {
    EXPECT_TRUE(Offending(*it, RussianOnly).isEmpty()) << Offending(*it, RussianOnly).join("\n").toStdString() << it.key().toStdString();
    EXPECT_EQ(it->filter(english2), QStringList()) << it.key().toStdString();
  }

  // Back to Russian: the page and every dialog read as they were made.
  Switch(S.Form->NRussian);
  EXPECT_EQ(ShownTexts(Page), russian);
  const QMap<QString, QStringList> again = OpenDialogs();
  for (auto it = again.begin(); it != again.end(); ++it)
    EXPECT_EQ(*it, russianDialogs[it.key()]) << it.key().toStdString();
  EXPECT_TRUE(Shown.isEmpty()) << Shown.join("\n").toStdString();
}

TEST_F(CustomFrameLanguage, FailuresAreLoggedInRussianAndShownInTheLanguageChosen) {
  Switch(S.Form->NEnglish);
  // Fixed texts, texts with names kept, and an error list line by line.
  EXPECT_EQ(LocalLogicText("gid занят, модуль Блок 1"), "gid in use, module Блок 1");
  EXPECT_EQ(LocalLogicText("Код логики (300 байт) не помещается в область кода прибора (256 байт)"),
            "Logic code (300 bytes) does not fit the device's code area (256 bytes)");
  EXPECT_EQ(LocalLogicText("Обнаружены ошибки:\r\nне найден идентификатор modbus IA, функция: MTZ\r\n"
                           "не определена связь: type=function, mod=Блок 1(7)"),
            "Errors found:\r\nmodbus identifier IA not found, function: MTZ\r\nlink not defined: type=function, "
            "mod=Блок 1(7)");
  // Every argument of a template is kept, a name holding "%2" as it is.
  EXPECT_EQ(LocalLogicText("Уставка или параметр I %2 МТЗ: значение 0 вне пределов 10..20000"),
            "Setpoint or parameter I %2 МТЗ: value 0 outside the limits 10..20000");
  EXPECT_EQ(LocalLogicText("Ошибок на найдено"), "No errors found");
  EXPECT_EQ(LocalLogicText("no desc-id in<item/>"), "no desc-id in<item/>");

  // A failure of a command of the page: the log keeps Russian, the status line
  // shows English and the tool bar still turns red for an error.
  ShowEdgeError(QString::fromUtf8(CustomTexts::DescDecodeError));
  EXPECT_EQ(S.Status(), "Error decoding the descriptor");
  EXPECT_TRUE(Logger().Lines().last().endsWith("ApplicationException. Ошибка при расшифровке дескриптора"));
  EXPECT_TRUE(S.Form->ToolBar->styleSheet().contains(QStringLiteral("#ff8080"), Qt::CaseInsensitive))
      << S.Form->ToolBar->styleSheet().toStdString();
}

// The status and box texts of the build and every template of the failures
// have their three languages in the table the program ships.
TEST(LogicTexts, EveryTextOfTheBuildAndEveryTemplateHasItsThreeLanguages) {
  QHash<QString, QStringList> rows;
  const QString table = FromWin1251(LoadFileBytes(KV_SOURCE_DIR "/src/resources/MultiLingual.txt"));
  for (const QString &line : table.split(QRegularExpression("\r\n|\n")))
    if (const QStringList cols = line.split(u'#'); !rows.contains(cols[0].toLower()))
      rows.insert(cols[0].toLower(), cols);
  QStringList texts = LogicTextTemplates();
  // The build's status and box texts, as uCustomBuild.h names them.
  QString header = QString::fromUtf8(LoadFileBytes(KV_SOURCE_DIR "/src/custom/package/uCustomBuild.h"));
  header = header.section(QStringLiteral("namespace CustomTexts {"), 1).section(QStringLiteral("} // namespace"), 0, 0);
  const QRegularExpression constant(QStringLiteral(R"re(inline const char \*const \w+ = "([^"]*)";)re"));
  for (const QRegularExpressionMatch &m : constant.globalMatch(header))
    texts << m.captured(1).remove(QStringLiteral("\\r\\n"));
  ASSERT_GT(texts.size(), 40);
  const QRegularExpression argument(QStringLiteral("%\\d"));
  QStringList missing;
  for (const QString &t : texts) {
    const QStringList cols = rows.value(t.toLower());
    if (cols.size() < 3 || cols[1].isEmpty() || cols[2].isEmpty())
      missing << t;
    // The names and numbers go where the template has them.
    else if (cols[1].count(argument) != t.count(argument) || cols[2].count(argument) != t.count(argument))
      missing << "arguments: " + cols.join(u'#');
  }
  EXPECT_TRUE(missing.isEmpty()) << missing.join("\n").toStdString();
}
} // namespace
