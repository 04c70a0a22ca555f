#pragma once
// The firmware identifier listing shared by the design-time descriptor fuzz
// target and its seeds: the seeds bind their records to these names.
#include "uFiles.h"
#include "uModbusIderList.h"
#include "uTextCodec.h"

#include <QDir>
#include <QStringList>

inline QStringList DevDescIdentLines() {
  QStringList l = {".EQU ADR_FLASH_B = $2000", ".EQU DIM_FLASH_B = $00080000", ".EQU ADR_SRAM = $0100",
                   ".EQU DIM_SRAM = $1000", ".EQU ADR_EEPROM = $0000", ".EQU DIM_EEPROM = $0400",
                   ".EQU ADR_UST = $0500", ".EQU DIM_UST = $0200", ".EQU ADR_DATE = $0710",
                   ".EQU DIM_DATE = $0008", ".EQU ADR_CALIBR = $0720", "MODBUSMASS:"};
  const char *const names[] = {"M1", "M2", "DI", "RL", "LE", "VI", "VO", "DATE", "STAT", "UST1", "UST2", "PE", "PN"};
  for (const char *n : names)
    l << QString::fromLatin1(n) + ": .BYTE 4 ; " + n;
  l << "PC: .BYTE 40 ; text" << "SP: .BYTE 2 ; s # SPECIAL-EEPROM" << "XC1: .BYTE 2 ; primary"
    << "XD1: .BYTE 2 ; secondary" << "END_MODBUS:";
  return l;
}

// Installs the listing as the process-wide one (written into Folder first).
inline void InstallDevDescIdent(const QString &Folder) {
  const QString path = QDir(Folder).filePath("identification.inc");
  SaveFileBytes(path, ToWin1251(DevDescIdentLines().join("\r\n")));
  ResetModbusIderList();
  EnsureModbusIderList(path);
}
