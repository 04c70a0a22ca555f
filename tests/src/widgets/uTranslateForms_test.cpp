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
#include <QTabWidget>
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
                         tabs->tabText(0), button->text(), tool->toolTip(), grid->Cells(0, 0), grid->Cells(1, 0),
                         grid->Cells(0, 1), grid->Cells(1, 1)}),
            QStringList({"Window", "&File", "Exit", "Label", "Flag", "Panel", "Sheet", "Button", "Hint", "Header",
                         "Cell", "Cell", "12.5"}));
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
