// Writes seed sources for the assembler fuzz target into the folder given as
// the only argument: blocks as the code generator writes them, labels and
// branches at the ends of their ranges, two-word loads and data words.
#include "uFiles.h"

#include <QDir>
#include <cstdio>

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: assembler_seeds FOLDER\n");
    return 2;
  }
  const QDir dir(QString::fromLocal8Bit(argv[1]));
  QDir().mkpath(dir.path());
  const std::pair<const char *, QByteArray> seeds[] = {
      {"block.asm", ";;element AND gi=1 i=1\nldi r16,1\nlds r17,$0100\nand r16,r17\nsts $0102,r16\nret\n"},
      {"labels.asm", ";;a\nx: rjmp y\nbreq x\ny: ldil r30,x\nldih r31,x\nrcall x\nret\n"},
      {"data.asm", ";;d\ndw 65535\ndw $1234\nmovw r24,r26\nadiw r24,63\nend1:\n"},
      {"crlf.asm", ";;c\r\nldi r16,255\r\nrjmp end\r\nend:\r\n"},
  };
  for (const auto &[name, bytes] : seeds)
    SaveFileBytes(dir.filePath(QString::fromLatin1(name)), bytes);
  return 0;
}
