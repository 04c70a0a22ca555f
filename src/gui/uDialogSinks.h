#pragma once
// The program's dialogs behind the replaceable sinks: message boxes, file
// dialogs, the print dialog and the report preview, each in the interface's
// language. The program installs them at start; tools that picture the
// program's dialogs install the same ones.
#include <QString>

class QWidget;

void InstallDialogSinks();
// The parent of the program's boxes and file dialogs: its main window (the
// shown one first), null when there is none.
QWidget *DialogParent();
// The title of the program's message boxes: the main window's caption, else
// the application's name.
QString MessageBoxTitle();
