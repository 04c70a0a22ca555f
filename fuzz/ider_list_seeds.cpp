// Writes seed listings for the identifier listing fuzz target into the folder
// given as the only argument: a whole memory map with identifiers and groups,
// and sizes and group counts near 2^31.
#include "uFiles.h"

#include <QDir>
#include <cstdio>

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: ider_list_seeds FOLDER\n");
    return 2;
  }
  const QDir dir(QString::fromLocal8Bit(argv[1]));
  QDir().mkpath(dir.path());
  const QByteArray Map = ".EQU ADR_FLASH_B = $1000\n.EQU DIM_FLASH_B = $7FFFFFFF\n.EQU ADR_SRAM = $0100\n"
                         ".EQU DIM_SRAM = $FFFF\n.EQU ADR_EEPROM = $0000\n.EQU DIM_EEPROM = $0400\n"
                         ".EQU ADR_UST = $0500\n.EQU DIM_UST = $0200\n.EQU ADR_DATE = $0710\n"
                         ".EQU DIM_DATE = $0008\n.EQU ADR_CALIBR = $0720\n OSC IA\n;OSC IB\nMODBUSMASS:\n";
  const std::pair<const char *, QByteArray> Seeds[] = {
      {"groups.inc", Map + "S: .BYTE 2 ; s\nG: ; g (3) ; gg\nA: .BYTE 2 ;\nB: .BYTE 2 ;\nC: .BYTE 2 ;\n"
                           "P : .BYTE 4 ; a ; b\nEND_MODBUS:\n"},
      {"bytes.inc", Map + "A: .BYTE 2147483647 ;\nB: .BYTE 1 ;\n"},
      {"group.inc", Map + "G: ; (1073741824)\nA: .BYTE 2147483647 ;\n"},
      {"digits.inc", Map + "A: .BYTE 99999999999 ;\nG: ; (2147483647)\n"},
  };
  for (const auto &[Name, Bytes] : Seeds)
    SaveFileBytes(dir.filePath(QString::fromLatin1(Name)), Bytes);
  return 0;
}
