// Random design-time descriptor XML through loading, validation, address
// generation and the image build; every image that builds is decoded by the
// run-time decoder. A build may fail with our exception; an image we wrote
// that the decoder rejects, or any crash, is a finding.
#include "devdesc_ident.h"
#include "uCharMap.h"
#include "uDescriptorDecoder.h"
#include "uDeviceDescriptor.h"
#include "uErrors.h"

#include <QBuffer>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  static QTemporaryDir dir;
  static const bool ready = [] {
    InstallDevDescIdent(dir.path());
    SetCharMap(BuiltInCharMap());
    return true;
  }();
  (void)ready;
  const IXXMLDocument doc = NewXMLDocument();
  if (!doc->LoadBytes(QByteArray(reinterpret_cast<const char *>(Data), qsizetype(Size))))
    return 0;
  QByteArray image;
  try {
    TDeviceDescriptor d;
    d.LoadFromXML(doc->GetDocumentElement());
    d.Validate();
    d.GenerateAddresses(dir.path());
    d.CopyCharMap(CharMapToDevice);
    d.FWorkFolder = dir.path();
    QBuffer b(&image);
    b.open(QIODevice::ReadWrite);
    b.write(QByteArray(2, '\0'));
    d.BuildBin(b, QByteArray(16, '\x11'), 16, PackBcdDate(2021, 3, 5), PackBcdDate(2024, 1, 2), 0x12345678);
  } catch (const EKvError &) {
    return 0;
  }
  try {
    const IXXMLDocument out = NewXMLDocument();
    out->LoadXML("<device-descriptor/>");
    TDescriptorDecoder(out->GetDocumentElement(), nullptr).Decode(image);
  } catch (const EKvError &e) {
    std::fprintf(stderr, "built image rejected: %s\n", e.what());
    std::abort();
  }
  return 0;
}
