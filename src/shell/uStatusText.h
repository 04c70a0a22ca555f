#pragma once
// Which status-line texts report a failure: those turn the tool bar red.
#include <QString>

// Texts holding "Ошибка", and the link failures of uLinkText.h in Russian or
// in the interface's language.
bool IsErrorStatusText(const QString &Text);

// Text as the status line and the message boxes show it: in the interface's
// language, a link failure with its names and numbers kept, a fixed beginning
// translated before what it names (TMultiLingual::TranslateMessage).
QString ShownText(const QString &Text);
