#include "uSchemaMessages.h"

#include "uLogger.h"
#include "uMessageSink.h"

void SchemaMessage(const QString &Text) {
  Logger().Info(Text);
  ShowMessageBox(TMsgKind::Info, Text);
}
