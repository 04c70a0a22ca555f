#pragma once
// The program's dialogs behind the replaceable sinks: message boxes, file
// dialogs, the print dialog and the report preview, each in the interface's
// language. The program installs them at start; tools that picture the
// program's dialogs install the same ones.
#include <QString>

void InstallDialogSinks();
// The title of the program's message boxes: the main window's caption, else
// the application's name.
QString MessageBoxTitle();
