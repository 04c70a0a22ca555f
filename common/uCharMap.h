#pragma once
// The device character map: the relay's character display has its own code
// table, so texts travel between the program (Windows-1251) and the device
// through two 256-byte tables. The run-time descriptor loads the map when it is
// created; the descriptor decoder and the register image read it. Main thread only.
#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <cstdint>

// Program character (Windows-1251 code) to device display code.
extern uint8_t CharMapToDevice[256];
// Device display code to program character; 0 where no character maps to the code.
extern uint8_t CharMapFromDevice[256];

// The program's own table, used when no "charmap.bin" is present (256 bytes).
QByteArray BuiltInCharMap();

// Takes the first 256 bytes of Bytes (fewer: the remaining entries of
// CharMapToDevice keep their previous values) and rebuilds CharMapFromDevice
// from scratch. Where several characters share a device code the highest
// character code wins, so Cyrillic look-alikes come back as Cyrillic letters;
// characters whose code is 0 have no display code and are left out.
void SetCharMap(QByteArrayView Bytes);

// Loads FileName when it exists (relative names resolve against the current
// folder), else the built-in table. Throws EKvError when the file exists but
// cannot be read.
void LoadCharMap(const QString &FileName);

// The display code that breaks a display text into its second line ("A|B"
// in the device's texts).
constexpr uint8_t DisplayLineBreak = 1;

// Device display codes to program characters (Windows-1251 bytes); the line
// break becomes a blank (unless the map gives the code a character), any
// other code that maps to no character is dropped, so no NUL reaches the text.
QByteArray DeviceToProgramBytes(QByteArrayView DeviceCodes);
// The same, decoded to text.
QString DeviceToProgram(QByteArrayView DeviceCodes);
// Program characters (Windows-1251 bytes) to device display codes, byte for byte.
QByteArray ProgramToDevice(QByteArrayView Win1251);
