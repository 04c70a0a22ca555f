#include "uTranslateForms.h"

#include "uMultiLingual.h"
#include "uStringGrid.h"

#include <QAction>
#include <QCheckBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QComboBox>
#include <QCoreApplication>
#include <QListWidget>
#include <QTabWidget>
#include <QTableWidget>
#include <QTreeWidget>
#include <QToolButton>
#include <gtest/gtest.h>

namespace {
TMultiLingual EnglishTable() {
  TMultiLingual m;
  m.LoadLines({"Окно#Вікно#Window", "Метка#Мітка#Label", "Флажок#Прапорець#Flag", "Панель#Панель#Panel",
               "Лист#Аркуш#Sheet", "Кнопка#Кнопка#Button", "Подсказка#Підказка#Hint", "Заголовок#Заголовок#Header",
               "Ячейка#Комірка#Cell", "&Файл#&Файл#&File", "Выход#Вихід#Exit", "Диалог#Діалог#Dialog"});
  m.SetTargetLanguage(lnEnglish);
  return m;
}
} // namespace

TEST(TranslateForms, EveryKindOfTextOfAWindowIsTranslated) {
  const TMultiLingual m = EnglishTable();
  QMainWindow w;
  w.setWindowTitle("Окно");
  QMenu *file = w.menuBar()->addMenu("&Файл");
  QAction *exit = file->addAction("Выход");
  auto *central = new QWidget(&w);
  w.setCentralWidget(central);
  auto *label = new QLabel("Метка", central);
  auto *check = new QCheckBox("Флажок", central);
  auto *group = new QGroupBox("Панель", central);
  auto *tabs = new QTabWidget(central);
  tabs->addTab(new QWidget, "Лист");
  tabs->addTab(new QWidget, "  Лист      "); // a run-time tab's caption keeps its blanks
  auto *button = new QPushButton("Кнопка", group);
  auto *tool = new QToolButton(central);
  tool->setToolTip("Подсказка");
  auto *grid = new TStringGrid(2, 2, 1, 1, central);
  grid->SetCells(0, 0, "Заголовок");
  grid->SetCells(1, 0, "Ячейка");
  grid->SetCells(0, 1, "Ячейка");
  grid->SetCells(1, 1, "12.5");
  auto *dialog = new QDialog(&w);
  dialog->setWindowTitle("Диалог");

  TranslateComponent(m, &w);
  // The grid's fixed row and column too.
  EXPECT_EQ(QStringList({w.windowTitle(), file->title(), exit->text(), label->text(), check->text(), group->title(),
                         tabs->tabText(0), tabs->tabText(1), button->text(), tool->toolTip(), grid->Cells(0, 0),
                         grid->Cells(1, 0), grid->Cells(0, 1), grid->Cells(1, 1)}),
            QStringList({"Window", "&File", "Exit", "Label", "Flag", "Panel", "Sheet", "  Sheet      ", "Button", "Hint",
                         "Header", "Cell", "Cell", "12.5"}));
  // A dialog owned by the window is a form of its own, translated on its own.
  EXPECT_EQ(dialog->windowTitle(), "Диалог");
  TranslateComponent(m, dialog);
  EXPECT_EQ(dialog->windowTitle(), "Dialog");
}

TEST(TranslateForms, TranslatingTwiceChangesNothingFurther) {
  TMultiLingual m;
  // "Exit" would turn into something else if looked up a second time.
  m.LoadLines({"Выход#Вихід#Exit", "Exit#x#Wrong"});
  m.SetTargetLanguage(lnEnglish);
  QMainWindow w;
  QMenu *menu = w.menuBar()->addMenu("Выход");
  TranslateComponent(m, &w);
  EXPECT_EQ(menu->title(), "Exit");
  EXPECT_EQ(menu->menuAction()->text(), "Exit");
}

TEST(TranslateForms, ListItemsFollowASwitchOnlyWhenTheyAreTheProgramsTexts) {
  // Fixed items are added through the program-wide table, as the pages add them.
  TMultiLingual &m = MultiLingual();
  m = TMultiLingual();
  m.LoadLines({"Все#Усі#All", "Передний#Передній#Rising", "Реле#Реле#Relays", "Время#Час#Time",
               "Шрифт#Шрифт#Font", "Уменьшить#Зменшити#Zoom out"});
  QWidget w;
  auto *list = new QListWidget(&w);
  AddFixedItem(list, "Все");
  list->addItem("Реле"); // a name read from the device: it stays, even when the table holds it
  auto *combo = new QComboBox(&w);
  AddFixedItems(combo, {"Передний"});
  combo->addItem("Реле");
  auto *table = new QTableWidget(1, 1, &w);
  table->setHorizontalHeaderLabels({"Время"});
  auto *tree = new QTreeWidget(&w);
  tree->setHeaderLabels({"Время"});
  auto *button = new QToolButton(&w);
  button->setText("Шрифт");
  QAction *zoom = new QAction("-", &w);
  zoom->setToolTip("Уменьшить"); // a hint of its own beside a sign
  QAction *plain = new QAction("Время", &w);

  m.SetTargetLanguage(lnEnglish);
  TranslateComponent(m, &w);
  EXPECT_EQ(list->item(0)->text(), "All");
  EXPECT_EQ(list->item(1)->text(), "Реле");
  EXPECT_EQ(combo->itemText(0), "Rising");
  EXPECT_EQ(combo->itemText(1), "Реле");
  EXPECT_EQ(table->horizontalHeaderItem(0)->text(), "Time");
  EXPECT_EQ(tree->headerItem()->text(0), "Time");
  EXPECT_EQ(button->text(), "Font");
  EXPECT_EQ(zoom->text(), "-");
  EXPECT_EQ(zoom->toolTip(), "Zoom out");
  EXPECT_EQ(plain->toolTip(), "Time"); // a hint that was the text follows the text

  // Then to Ukrainian, from English; an item added now comes translated.
  m.Reload();
  m.SetTargetLanguage(lnUkrainian);
  TranslateComponent(m, &w);
  AddFixedItem(list, "Все");
  EXPECT_EQ(list->item(0)->text(), "Усі");
  EXPECT_EQ(list->item(2)->text(), "Усі");
  EXPECT_EQ(combo->itemText(0), "Передній");
  EXPECT_EQ(zoom->toolTip(), "Зменшити");
  m = TMultiLingual();
}

TEST(TranslateForms, QtDialogTextsMissingFromQtsCataloguesAreSupplied) {
  // Texts Qt's Russian and Ukrainian catalogues lack, and one they hold,
  // which must still come from Qt.
  const struct {
    int Language;
    const char *Context, *Source, *Comment, *Expected;
  } cases[] = {
      {lnRussian, "QAbstractFileIconProvider", "Folder", "All other platforms", "Папка"},
      {lnUkrainian, "QAbstractFileIconProvider", "Folder", "All other platforms", "Тека"},
      {lnUkrainian, "QAbstractFileIconProvider", "Drive", nullptr, "Диск"},
      {lnUkrainian, "QPrintSettingsOutput", "Double Sided Printing", nullptr, "Двосторонній друк"},
      {lnRussian, "QPrintSettingsOutput", "Off", nullptr, "Выключено"},
      {lnRussian, "QPlatformTheme", "Cancel", nullptr, "Отмена"},
      {lnUkrainian, "QPlatformTheme", "Cancel", nullptr, "Скасувати"},
      {lnEnglish, "QAbstractFileIconProvider", "Folder", "All other platforms", "Folder"},
      {lnEnglish, "QPlatformTheme", "Cancel", nullptr, "Cancel"},
  };
  for (const auto &c : cases) {
    ASSERT_TRUE(InstallQtTranslation(c.Language)) << "Qt's catalogue is not installed";
    EXPECT_EQ(QCoreApplication::translate(c.Context, c.Source, c.Comment), QString::fromUtf8(c.Expected))
        << c.Language << " " << c.Source;
  }
  InstallQtTranslation(lnEnglish);
}
