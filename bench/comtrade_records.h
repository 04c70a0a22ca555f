#pragma once
// COMTRADE pairs as the conversion of device records writes them, for the
// benchmarks: 32 analog channels and one 16-bit register of discrete channels
// at 1800 samples per second.
#include <QString>

constexpr int BenchAnalogCount = 32;
constexpr int BenchBitCount = 16;

// Builds a record of Seconds, converts it and saves Base + ".cfg"/".dat";
// prints the record's size and the conversion and save times.
void MakeBenchPair(const QString &Base, int Seconds);

// A figure of this process's memory from /proc ("VmRSS:", "VmHWM:"), in kB;
// -1 when it cannot be read.
long StatusKb(const char *Key);
