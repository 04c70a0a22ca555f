#pragma once
// Which status-line texts report a failure: those turn the tool bar red.
#include <QString>

// Texts holding "Ошибка", and the link failures of uLinkText.h in Russian or
// in the interface's language.
bool IsErrorStatusText(const QString &Text);
