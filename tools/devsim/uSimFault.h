#pragma once
// Fault switches of the simulated device: ways in which it spoils its answers
// so that the master's error paths can be driven on purpose.
#include <QString>
#include <cstdint>

enum class TSimFaultKind {
  None,
  Exception,     // answer with exception code Value; the request is not executed
  Silence,       // no answer; the request is not executed
  BadCrc,        // both CRC bytes inverted (RTU only: Modbus TCP carries no CRC)
  OtherAddress,  // answer from address (TCP: unit) Value
  OtherFunction, // answer with function code Value
  ShortAnswer,   // the last Value bytes of the answer are not sent
  LateAnswer,    // the answer leaves Value ms late
  LostAnswer,    // the request is executed and its answer lost on the way back
  // A register write is answered with its echo and not done: the register
  // keeps its value, as a relay that clamps, protects or overrides a value it
  // acknowledged. Other requests neither count nor are spoiled.
  Unkept,
  // A register write is done and echoed, but the bits of mask Value keep
  // what the register held: a relay that sets (or clears) bits of its own in
  // a word it describes by named bits. Other requests neither count nor are
  // changed.
  HeldBits,
};

struct TSimFault {
  TSimFaultKind Kind = TSimFaultKind::None;
  int Value = 0;
  int Function = -1; // only requests with this function code count; -1: every request
  int After = 0;     // so many matching requests are answered normally first
  int Count = -1;    // so many matching requests are spoiled, then normal again; -1: no end
  // Last, so that the many tests that list the fields before it keep their meaning.
  int Register = -1; // only register reads and writes (any area) that take in this register count; -1: every request
};

// The lossy line: every Every-th request that reaches the device gets its
// answer spoiled, beside what the fault switch does. Silence and BadCrc spoil
// the answer on its way back (the device has executed the request, as on a
// line that loses or garbles the answer); Exception is the device refusing
// it (code Value, not executed). Modbus TCP carries no CRC: BadCrc leaves
// its answers whole.
struct TSimLossy {
  TSimFaultKind Kind = TSimFaultKind::None;
  int Value = 0;
  int Every = 0; // 0: off
};

// Parses "silence/N", "bad-crc/N" or "exception=CODE/N" (N from 1). Throws
// EKvError "invalid lossy line: " + Text.
TSimLossy ParseSimLossy(const QString &Text);

// Parses "exception=CODE", "silence", "bad-crc", "other-address=ADDR",
// "other-function=CODE", "short=BYTES", "late=MS", "lost-answer", "unkept", "held-bits=MASK" (MASK up to
// 0xFFFF) or "none" (numbers decimal or 0x-hexadecimal). Throws EKvError "invalid fault: " + Text.
TSimFault ParseSimFault(const QString &Text);
// The name used by ParseSimFault, for messages.
QString SimFaultName(TSimFaultKind Kind);
// A number in decimal or with the prefix 0x; throws EKvError "invalid number: " + Text.
long ParseSimNumber(const QString &Text);
