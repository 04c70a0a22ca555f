// Any bytes as the event report template: one of our errors, or a template
// whose alarm part exists (added when the file has none) and whose lists hold
// no more items than the file has `item` elements.
#include "uErrors.h"
#include "uEventReportTemplate.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  const QByteArray bytes(reinterpret_cast<const char *>(Data), qsizetype(Size));
  TEventReportTemplate t;
  try {
    t = ReadEventReportTemplateBytes(bytes);
  } catch (const EKvError &) {
    return 0;
  }
  qsizetype items = 0;
  for (const TTemplateFilter *f : {&t.Level, &t.Measure, &t.Permanent, &t.Variable, &t.StartLevel, &t.StopLevel,
                                   &t.StartEvent, &t.StopEvent, &t.AlarmMeasure, &t.AlarmPermanent, &t.AlarmVariable}) {
    if (!f->Present && (f->Caption || !f->Items.isEmpty()))
      std::abort();
    items += f->Items.size();
  }
  if (!t.Alarm || t.Alarm->GetNodeName() != "alarm-report" ||
      items > t.Root->SelectNodes(QStringLiteral("//item"))->GetCount()) {
    std::fprintf(stderr, "event template invariant broken\n");
    std::abort();
  }
  return 0;
}
