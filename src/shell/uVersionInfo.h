#pragma once
// The program's version and build time, shown in the about box and the caption.
#include <QDateTime>
#include <QString>

// Four numbers joined by points: major.minor.release.build.
QString GetVersionString();

// When the program file was built: the modification time of FilePath (the
// running program when empty); an invalid QDateTime when it cannot be read.
QDateTime GetBuildTime(const QString &FilePath = QString());
