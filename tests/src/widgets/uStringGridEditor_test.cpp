#include "uStringGridEditor.h"

#include "uBitmapForm.h"
#include "uErrors.h"
#include "uMessageSink.h"

#include <QApplication>
#include <QComboBox>
#include <QSplitter>
#include <QVBoxLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QTableWidget>
#include <QTest>
#include <gtest/gtest.h>

namespace {
struct TEditedGrid {
  QWidget Window;
  QTableWidget *Grid = new QTableWidget(2, 2, &Window);
  TStringGridEditor *Editor;
  TCellEditorRequest Answer;
  QStringList Edited;
  QStringList Shown;
  TMessageSink OldSink;

  TEditedGrid() {
    Grid->setObjectName("sgParam");
    Editor = new TStringGridEditor(Grid);
    Editor->SetOnGetCellEditor([this](int, int, TCellEditorRequest &R) {
      R.Kind = Answer.Kind;
      R.Items = Answer.Items;
      R.PasswordChar = Answer.PasswordChar;
    });
    Editor->SetOnCellEdited([this](int Col, int Row, const QString &Text) {
      if (Text == "bad")
        throw EKvRange("range check error: bad");
      Edited << QString("%1,%2:%3").arg(Col).arg(Row).arg(Text);
    });
    Grid->setItem(1, 1, new QTableWidgetItem("old"));
    Grid->setCurrentCell(1, 1);
    Window.show();
    OldSink = SetMessageSink([this](TMsgKind, const QString &Text) {
      Shown << Text;
      return TMsgResult::Ok;
    });
  }
  ~TEditedGrid() { SetMessageSink(OldSink); }
  QString Cell() const { return Grid->item(1, 1)->text(); }
};
} // namespace

TEST(StringGridEditor, ListOpensWithoutAChoiceAndGivesTheOwnerTheIndex) {
  TEditedGrid g;
  g.Answer.Kind = TCellEditorRequest::ekList;
  g.Answer.Items = QStringList{"Выведен", "Введен"};
  QTest::keyClick(g.Grid, Qt::Key_F2);
  ASSERT_TRUE(g.Editor->ComboBox->isVisible());
  EXPECT_EQ(g.Editor->ComboBox->currentIndex(), -1);
  g.Editor->ComboBox->setCurrentIndex(1);
  emit g.Editor->ComboBox->activated(1);
  EXPECT_EQ(g.Edited, QStringList{"1,1:1"});
  EXPECT_EQ(g.Cell(), "Введен");
  EXPECT_FALSE(g.Editor->ComboBox->isVisible());

  // Closing the list without a choice changes nothing.
  QTest::keyClick(g.Grid, Qt::Key_F2);
  g.Editor->ComboBox->hidePopup();
  EXPECT_TRUE(QTest::qWaitFor([&] { return !g.Editor->ComboBox->isVisible(); }, 5000));
  EXPECT_EQ(g.Edited.size(), 1);
  EXPECT_EQ(g.Cell(), "Введен");
}

TEST(StringGridEditor, ListFloatsOverItsCellWhateverTheGridsParent) {
  // A splitter takes every widget child in as a pane; a layout lays it out.
  for (const bool inSplitter : {true, false}) {
    QWidget window;
    window.resize(600, 400);
    auto *layout = new QVBoxLayout(&window);
    QTableWidget *grid = nullptr;
    if (inSplitter) {
      auto *split = new QSplitter(&window);
      new QListWidget(split);
      grid = new QTableWidget(20, 3, split);
      layout->addWidget(split);
    } else {
      grid = new QTableWidget(20, 3, &window);
      layout->addWidget(grid);
    }
    auto *editor = new TStringGridEditor(grid);
    editor->SetOnGetCellEditor([](int, int, TCellEditorRequest &R) {
      R.Kind = TCellEditorRequest::ekList;
      R.Items = QStringList{"Нет", "Да"};
    });
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const QRect before = grid->geometry();
    grid->setCurrentCell(3, 2);
    editor->StartEdit();
    ASSERT_TRUE(editor->ComboBox->isVisible());
    QApplication::processEvents();
    EXPECT_EQ(grid->geometry(), before) << inSplitter;
    const QRect cell = grid->visualRect(grid->model()->index(3, 2));
    const QPoint at = editor->ComboBox->mapTo(grid->viewport(), QPoint(0, 0));
    EXPECT_EQ(at, cell.topLeft()) << inSplitter;
    editor->ComboBox->hidePopup();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !editor->ComboBox->isVisible(); }, 5000));
    EXPECT_EQ(grid->geometry(), before) << inSplitter;
  }
}

TEST(StringGridEditor, EditBoxEscapePasswordEchoAndOwnerErrors) {
  TEditedGrid g;
  g.Answer.Kind = TCellEditorRequest::ekEdit;
  g.Answer.PasswordChar = u'*';
  QTest::keyClick(g.Grid, Qt::Key_Return);
  ASSERT_TRUE(g.Editor->Edit->isVisible());
  EXPECT_EQ(g.Editor->Edit->text(), "old");
  EXPECT_EQ(g.Editor->Edit->displayText(), "***");
  QTest::keyClick(g.Editor->Edit, Qt::Key_Escape);
  EXPECT_FALSE(g.Editor->Edit->isVisible());
  EXPECT_TRUE(g.Edited.isEmpty());
  EXPECT_EQ(g.Cell(), "old");

  g.Answer.PasswordChar = QChar();
  const struct {
    const char *Typed, *Cell, *Error;
  } cases[] = {{"new", "new", nullptr}, {"bad", "new", "range check error: bad"}};
  for (const auto &c : cases) {
    g.Editor->StartEdit();
    EXPECT_EQ(g.Editor->Edit->displayText(), g.Cell());
    g.Editor->Edit->setText(c.Typed);
    QTest::keyClick(g.Editor->Edit, Qt::Key_Return);
    EXPECT_FALSE(g.Editor->Edit->isVisible());
    EXPECT_EQ(g.Cell(), c.Cell);
    EXPECT_EQ(g.Shown, c.Error ? QStringList{c.Error} : QStringList());
  }

  // Controls made for a second grid of the window have names of their own.
  auto *other = new QTableWidget(1, 1, &g.Window);
  other->setObjectName("sgParam");
  auto *e2 = new TStringGridEditor(other);
  EXPECT_NE(e2->Edit->objectName(), g.Editor->Edit->objectName());
  EXPECT_NE(e2->ComboBox->objectName(), g.Editor->ComboBox->objectName());
}

TEST(StringGridEditor, BitmapFormChecksThePatternsPositions) {
  TBitmapForm f;
  f.setProperty("strings", QStringList{"A", "B", "C"});
  f.setProperty("value", "101");
  EXPECT_EQ(f.CheckListBox->item(0)->checkState(), Qt::Checked);
  EXPECT_EQ(f.CheckListBox->item(1)->checkState(), Qt::Unchecked);
  EXPECT_EQ(f.CheckListBox->item(2)->checkState(), Qt::Checked);
  f.CheckListBox->item(1)->setCheckState(Qt::Checked);
  EXPECT_EQ(f.property("value").toString(), "111");

  QStringList seventeen;
  for (int i = 0; i < 17; ++i)
    seventeen << QString::number(i);
  f.SetStrings(seventeen);
  f.CheckListBox->item(16)->setCheckState(Qt::Checked);
  EXPECT_THROW(f.Value(), EKvRange);
}

TEST(CheckListBoxEditor, RenamesAnyItemButTheFirst) {
  QListWidget list;
  list.addItems({"Все", "Защиты"});
  TCheckListBoxEditor e(&list);
  QList<int> edited;
  e.SetOnItemEdited([&](int Index, const QString &) { edited << Index; });
  list.show();
  list.setCurrentRow(0);
  QTest::keyClick(&list, Qt::Key_F2);
  EXPECT_FALSE(e.Edit->isVisible());
  list.setCurrentRow(1);
  QTest::keyClick(&list, Qt::Key_F2);
  ASSERT_TRUE(e.Edit->isVisible());
  e.Edit->setText("Автоматика");
  QTest::keyClick(e.Edit, Qt::Key_Return);
  EXPECT_EQ(list.item(1)->text(), "Автоматика");
  EXPECT_EQ(edited, QList<int>{1});
}
