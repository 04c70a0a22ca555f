#pragma once
// Translation of the visible texts of a window and of everything it owns:
// menu and action captions, window titles, labels, group boxes (panels), tab
// captions, buttons, check boxes, tool-button hints and texts, the column headers
// of tables and trees, and every cell of a string grid.
#include <QString>
#include <QStringList>
#include <Qt>

class QComboBox;
class QFileDialog;
class QListWidget;
class QListWidgetItem;
class QObject;
class TMultiLingual;

void TranslateComponent(const TMultiLingual &Translator, QObject *Component);

// The items of lists and drop-down lists are the user's or the device's data
// and keep their text; an item added through these is a text of the program
// ("Все"): it is shown translated now and follows every later switch. Text is
// the Russian text.
QListWidgetItem *AddFixedItem(QListWidget *List, const QString &Text);
QListWidgetItem *InsertFixedItem(QListWidget *List, int Row, const QString &Text);
void AddFixedItems(QComboBox *Combo, const QStringList &Texts);

// The file dialog's dates and sizes in the interface's language (Qt writes
// them in the system's); its texts come from Qt's catalogue.
void LocalizeFileDetails(QFileDialog *Dialog);
