// Any bytes as an agent's answer: decoded (charset, UTF-8 or Windows-1251)
// and read into a document, or an error; never a crash. The document's root
// stays `document` and every element below it is an object, array or value.
#include "uAgentClient.h"
#include "uErrors.h"
#include "uJsonParser.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  const QByteArray bytes(reinterpret_cast<const char *>(Data), qsizetype(Size));
  try {
    const IXXMLDocument doc = TJsonParser::Parse(DecodeAgentAnswer(bytes, QByteArray()));
    const IXXMLNode root = doc->GetDocumentElement();
    if (root->GetNodeName() != QLatin1String("document") ||
        root->SelectSingleNode(QStringLiteral("//*[not(self::document or self::object or self::array or self::value)]")))
      std::abort();
  } catch (const EKvError &) {
  }
  return 0;
}
