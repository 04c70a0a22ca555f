#pragma once
// Messages of the logic models meant for the user ("Duplicate function",
// "Cannot create ..."): logged, and shown through the program's message sink.
// The models never show a dialog themselves, and never from inside a paint.
#include <QString>

void SchemaMessage(const QString &Text);
