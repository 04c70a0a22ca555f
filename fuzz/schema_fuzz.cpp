// The logic schema reader on arbitrary text: whatever it reads (also before
// an error) is written, read into a fresh module and written again, and both
// writings must be the same text. Any failure must be one of our errors.
#include "ixml.h"
#include "uConfigurator.h"
#include "uErrors.h"
#include "uSchemaModule.h"

#include <cstdio>
#include <cstdlib>

namespace {

TConfigurator &Library() {
  static TConfigurator *lib = [] {
    auto *c = new TConfigurator;
    c->LoadFromFile(KV_SOURCE_DIR "/tools/devsim/logic/config.xml");
    return c;
  }();
  return *lib;
}

QString Written(const TModule &M) {
  const IXXMLDocument doc = NewXMLDocument();
  doc->LoadXML("<module/>");
  M.SaveToNode(doc->GetDocumentElement(), true);
  return doc->GetXml();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  const IXXMLDocument doc = NewXMLDocument();
  if (!doc->LoadBytes(QByteArray(reinterpret_cast<const char *>(Data), int(Size))))
    return 0;
  TModule first(nullptr, 1);
  first.Configurator = &Library();
  try {
    first.LoadFromNode(doc->GetDocumentElement());
  } catch (const EKvError &) {
  }
  const QString text = Written(first);
  const IXXMLDocument again = NewXMLDocument();
  if (!again->LoadXML(text)) {
    std::fprintf(stderr, "schema invariant broken: written text does not parse\n");
    std::abort();
  }
  TModule second(nullptr, 1);
  second.Configurator = &Library();
  second.LoadFromNode(again->GetDocumentElement());
  if (const QString again2 = Written(second); again2 != text) {
    std::fprintf(stderr, "schema invariant broken: second writing differs\n%s\n---\n%s\n", qPrintable(text),
                 qPrintable(again2));
    std::abort();
  }
  return 0;
}
