// Assembles a generated 50,000-line program (blocks as the code generator
// writes them: a ";;" line per element, labels, branches, two-word loads) and
// prints the time in milliseconds.
#include "uSchemaCompile.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>

int main() {
  SchemaCode().LoadCommandsXML(TSchemaCode::DefaultText());
  QTemporaryDir dir;
  if (!dir.isValid())
    return 1;
  QByteArray text = "; generated\n";
  int lines = 1, element = 0;
  while (lines < 50000) {
    text += QString(";;element AND gi=%1 i=%1\n").arg(element).toLatin1();
    text += "   lds  16,$0120    ; input\n"
            "   lds  17,$0122\n"
            "L1:  and  16,17\n"
            "   breq  L2\n"
            "   ldi  18,1\n"
            "   rjmp  L3\n"
            "L2:  ldi  18,0\n"
            "L3:  sts  $0130,18\n"
            "   ldil  30,L1\n"
            "   ldih  31,L1\n"
            "   adiw  30,1\n";
    // "$" operands are not in the line form: use decimal ones.
    lines += 12;
    ++element;
  }
  text.replace("$0120", "288").replace("$0122", "290").replace("$0130", "304");
  QFile f(dir.filePath("generated.asm"));
  if (!f.open(QIODevice::WriteOnly))
    return 1;
  f.write(text);
  f.close();

  TSchemaCompile compiler;
  compiler.WorkFolder = dir.path();
  QElapsedTimer t;
  t.start();
  compiler.Assemble(512);
  const qint64 ms = t.elapsed();
  std::printf("assembler: %d lines, %d blocks, %lld bytes of code: %lld ms\n", lines, element,
              static_cast<long long>(compiler.CodeStream.size()), static_cast<long long>(ms));
  return 0;
}
