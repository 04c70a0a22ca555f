// Any bytes as a title panel or boards file: the reader either refuses them
// with one of our errors or gives records within the limits: no deeper than
// the nesting limit, no more elements than the count limit, and every number
// of a numeric property within its range. No widget is made.
#include "uErrors.h"
#include "uPageFile.h"

#include <QRegularExpression>
#include <cstdio>
#include <cstdlib>

namespace {
[[noreturn]] void Fail(const char *What) {
  std::fprintf(stderr, "page file invariant broken: %s\n", What);
  std::abort();
}

void CheckProperties(const QList<TPageProperty> &List, int Depth) {
  static const QRegularExpression integer(QStringLiteral("^[+-]?[0-9]+$"));
  for (const TPageProperty &p : List) {
    if (Depth > PageLimits::MaxDepth)
      Fail("a property deeper than the limit");
    if (p.IsObject) {
      CheckProperties(p.Sub, Depth + 1);
      continue;
    }
    qint64 min = 0, max = 0;
    const QString text = p.Text.trimmed();
    if (PagePropertyRange(p.Name, min, max) && integer.match(text).hasMatch()) {
      bool ok = false;
      const qint64 v = text.toLongLong(&ok);
      if (!ok || v < min || v > max)
        Fail("a number outside its property's range");
    }
  }
}

int CheckElements(const QList<TPageElement> &List, int Depth) {
  int count = 0;
  for (const TPageElement &e : List) {
    if (Depth > PageLimits::MaxDepth)
      Fail("an element deeper than the limit");
    if (e.Line < 1)
      Fail("an element without its line");
    CheckProperties(e.Properties, Depth + 1);
    count += 1 + CheckElements(e.Children, Depth + 1);
  }
  return count;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  const QByteArray bytes(reinterpret_cast<const char *>(Data), qsizetype(Size));
  IXXMLDocument doc;
  try {
    doc = LoadPageBytes(bytes, QStringLiteral("dashboard.XML"));
  } catch (const EKvError &) {
    return 0;
  }
  const IXXMLNode root = doc->GetDocumentElement();
  if (!root)
    Fail("a loaded page without a document element");
  // A boards file keeps its elements in `frame`s; the limit covers the file.
  int count = CheckElements(ReadPageElements(root), 2);
  const IXXMLNodeList frames = root->SelectNodes(QStringLiteral("frame"));
  for (int i = 0; i < frames->GetCount(); ++i)
    count += CheckElements(ReadPageElements(frames->GetItem(i)), 3);
  if (count > PageLimits::MaxElements)
    Fail("more elements than the limit");
  return 0;
}
