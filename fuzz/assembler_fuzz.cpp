// The assembler on arbitrary source text. Whatever the lines hold, it either
// writes a code image of whole alignment blocks or fails with one of our
// errors and leaves no image behind for the package build to pick up.
#include "uErrors.h"
#include "uSchemaAssembler.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  static TSchemaCode *code = [] {
    auto *c = new TSchemaCode;
    c->LoadCommandsXML(TSchemaCode::DefaultText());
    return c;
  }();
  static QTemporaryDir dir;
  const QString source = dir.filePath(QStringLiteral("generated.asm"));
  const QString image = dir.filePath(QStringLiteral("generated.bin"));
  QFile::remove(image);
  {
    QFile f(source);
    if (!f.open(QIODevice::WriteOnly))
      std::abort();
    f.write(reinterpret_cast<const char *>(Data), qint64(Size));
  }
  TSchemaAssembler compiler(*code);
  compiler.WorkFolder = dir.path();
  bool ok = true;
  try {
    compiler.Assemble(16);
  } catch (const EKvError &) {
    ok = false;
  }
  QFile out(image);
  const qint64 size = out.exists() ? out.size() : 0;
  if (ok ? size % 16 != 0 : size != 0)
    std::abort();
  return 0;
}
