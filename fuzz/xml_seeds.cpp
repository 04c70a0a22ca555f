// Seed documents for the XML fuzz target, written by our own writers: a
// document built node by node and saved by the XML wrapper (Windows-1251 and
// UTF-8), a run-time descriptor as the decoder saves it, and the logic
// command table the program carries.
#include "ixml.h"
#include "uCharMap.h"
#include "uDeviceContent.h"
#include "uFiles.h"
#include "uSchemaCode.h"
#include "uSimpleDeviceDescriptor.h"

#include <QBuffer>
#include <QDir>
#include <cstdio>

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: xml_seeds FOLDER\n");
    return 2;
  }
  const QDir dir(QString::fromLocal8Bit(argv[1]));
  QDir().mkpath(dir.path());
  int n = 0;
  for (const char *decl : {"<?xml version=\"1.0\" encoding=\"windows-1251\"?>", "<?xml version=\"1.0\"?>"}) {
    IXXMLDocument doc = NewXMLDocument();
    doc->LoadXML(QString::fromLatin1(decl) + "<device-descriptor/>");
    IXXMLNode root = doc->GetDocumentElement();
    IXXMLNode internal = root->AddChild("internal");
    internal->SetStrNode("core-date", "45000.5");
    internal->SetIntNode("calibr-addr", 4660);
    IXXMLNode p = root->AddChild("param");
    p->SetStrAttr("name", QStringLiteral("Ток фазы А"));
    p->SetIntAttr("id", 7);
    p->SetText("a < b & c");
    root->AddChild("ustav")->SetIntNode("group-mreg", 512);
    SaveXMLDocument(doc, dir.filePath(QStringLiteral("built%1.xml").arg(++n)));
  }
  SetCharMap(BuiltInCharMap());
  QByteArray image = BuildDeviceImage(DemoDeviceContent()).Bytes;
  QBuffer b(&image);
  b.open(QIODevice::ReadOnly);
  TSimpleDeviceDescriptor desc;
  desc.LoadFromStream(b);
  desc.SaveToFile(dir.filePath("descriptor.xml"));
  SaveFileBytes(dir.filePath("SchemaCode.xml"), TSchemaCode::DefaultText().toUtf8());
  return 0;
}
