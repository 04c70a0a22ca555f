#pragma once
// Messages of the logic models meant for the user ("Duplicate function",
// "Cannot create ..."): always logged, and handed to a replaceable sink that
// the program points at its message boxes. The models never show a dialog
// themselves, and never from inside a paint.
#include <QString>
#include <functional>

using TSchemaMessageSink = std::function<void(const QString &Text)>;

// Installs Sink (empty: log only). Returns the previous one.
TSchemaMessageSink SetSchemaMessageSink(TSchemaMessageSink Sink);
// Logs Text and hands it to the sink.
void SchemaMessage(const QString &Text);
