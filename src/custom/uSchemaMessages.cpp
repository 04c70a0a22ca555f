#include "uSchemaMessages.h"

#include "uLogger.h"

#include <utility>

namespace {
TSchemaMessageSink &Sink() {
  static TSchemaMessageSink sink;
  return sink;
}
} // namespace

TSchemaMessageSink SetSchemaMessageSink(TSchemaMessageSink Sink_) { return std::exchange(Sink(), std::move(Sink_)); }

void SchemaMessage(const QString &Text) {
  Logger().Info(Text);
  if (Sink())
    Sink()(Text);
}
