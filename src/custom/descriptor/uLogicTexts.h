#pragma once
// Failures of the logic side reach the log in Russian and the engineer in the
// interface's language. Most are fixed texts of the translation table; the
// rest carry a name or a number after a fixed part ("gid занят, модуль Блок
// 1"): those are known here by their templates, "%1" standing for the part
// that is kept.
#include <QString>
#include <QStringList>

// The templates, "%1" and "%2" for names and numbers; each is a line of the
// translation table.
const QStringList &LogicTextTemplates();

// Text in the interface's language, line by line: a line of the table as the
// table gives it, a line made from a template with its names and numbers kept,
// any other line (a name, a piece of a file) as it is.
QString LocalLogicText(const QString &Russian);
