// Our XML readers on arbitrary bytes: the XML wrapper's load from bytes (as a
// file from the device or the disk is read), every node of the result walked
// and its texts and attributes read, the document written and read back (the
// second writing must give the same bytes as the first: nothing is lost or
// made up on the way; a cut of it fails), then the run-time descriptor loader
// and the logic command table on the same bytes. Any failure must be one of
// our errors.
#include "ixml.h"
#include "uTextCodec.h"
#include "uErrors.h"
#include "uSchemaCode.h"
#include "uSimpleDeviceDescriptor.h"

#include <QRegularExpression>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {
[[noreturn]] void Fail(const char *What) {
  std::fprintf(stderr, "xml invariant broken: %s\n", What);
  std::abort();
}

void Walk(const IXXMLNode &Node, int Depth) {
  (void)Node->GetNodeName();
  (void)Node->GetText();
  (void)Node->GetXml();
  (void)Node->GetStrAttr(QStringLiteral("name"), QString());
  try {
    (void)Node->GetIntAttr(QStringLiteral("id"), 0);
  } catch (const EKvError &) {
  }
  if (Depth > 64)
    return;
  const IXXMLNodeList kids = Node->SelectNodes(QStringLiteral("*"));
  for (int i = 0; i < kids->GetCount(); ++i)
    Walk(kids->GetItem(i), Depth + 1);
}

QString ScratchFile() {
  static const QString path = QStringLiteral("/tmp/kv_xml_fuzz_%1.xml").arg(::getpid());
  return path;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  const QByteArray bytes(reinterpret_cast<const char *>(Data), qsizetype(Size));
  {
    IXXMLDocument doc = NewXMLDocument();
    if (doc->LoadBytes(bytes)) {
      IXXMLNode root = doc->GetDocumentElement();
      if (!root)
        Fail("a loaded document without a root element");
      Walk(root, 0);
      // A name the writer cannot store in Windows-1251 refuses the save
      // (kept as fuzz/regress/xml/name-outside-1251); any other document
      // must come back from its own file.
      QByteArray first;
      try {
        first = FormatXMLDocument(doc);
      } catch (const EKvFormat &) {
        const IXXMLNodeList names = root->SelectNodes(QStringLiteral("//* | //@*"));
        for (int i = 0; i < names->GetCount(); ++i) {
          const QString name = names->GetItem(i)->GetNodeName();
          if (FromWin1251(ToWin1251(name)) != name)
            return 0;
        }
        Fail("a document refused although every name fits Windows-1251");
      }
      IXXMLDocument again = NewXMLDocument();
      if (!again->LoadBytes(first)) {
        std::fprintf(stderr, "%s\n", again->GetParseError().toLocal8Bit().constData());
        Fail("a written document does not load again");
      }
      const QByteArray second = FormatXMLDocument(again);
      IXXMLDocument third = NewXMLDocument();
      if (!third->LoadBytes(second) || FormatXMLDocument(third) != second)
        Fail("writing a read document again changes it");
      // A written file cut short of its root's closing '>' (at about 32
      // places) never loads as a whole document; without only its last line
      // end it does.
      const qsizetype close = second.lastIndexOf('>');
      const qsizetype step = std::max<qsizetype>(1, (close + 1) / 32);
      IXXMLDocument cut = NewXMLDocument();
      for (qsizetype n = qsizetype(Size) % step; n <= close; n += step)
        if (cut->LoadBytes(second.left(n)) || cut->GetParseError().isEmpty())
          Fail("a cut written document loads");
      if (!cut->LoadBytes(second.left(close + 1)))
        Fail("a written document without its last line end does not load");
    } else if (doc->GetParseError().isEmpty()) {
      Fail("a failed load without a reason");
    }
  }
  {
    IXXMLDocument doc = NewXMLDocument();
    (void)doc->LoadXML(QString::fromUtf8(bytes));
  }
  {
    FILE *f = std::fopen(ScratchFile().toLocal8Bit().constData(), "wb");
    if (!f)
      Fail("no scratch file");
    std::fwrite(Data, 1, Size, f);
    std::fclose(f);
    TSimpleDeviceDescriptor desc;
    try {
      if (desc.LoadFromFile(ScratchFile()) != desc.Ready)
        Fail("descriptor load result and Ready disagree");
    } catch (const EKvError &) {
      if (desc.Ready)
        Fail("a descriptor that failed to load is Ready");
    }
  }
  {
    TSchemaCode code;
    try {
      code.LoadCommandsXML(QString::fromUtf8(bytes));
    } catch (const EKvError &) {
    }
  }
  return 0;
}
