#pragma once
// Bit patterns as the setpoint pages and the bit-mask dialog show them: bit 0
// is the rightmost character, a blank separates groups of four counted from
// bit 0 (37 in six positions: "10 0101").
#include <QString>

// The text of the lowest Count bits of Bits.
QString BitsToText(int Bits, int Count);
// From the last character to the first: "1" sets the next bit and moves on,
// "0" moves on, any other character is skipped. Bits past 30 are dropped.
int TextToBits(const QString &Text);
