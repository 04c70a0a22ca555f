#pragma once
// The program's version and build time, shown in the about box and the caption.
#include <QDateTime>
#include <QString>

// Four numbers joined by points: major.minor.release.build.
QString GetVersionString();

// When the program was built, as stamped into it at build time and handed
// over by the program at start (SetBuildTime); invalid until then.
QDateTime GetBuildTime();
void SetBuildTime(const QDateTime &Time);
