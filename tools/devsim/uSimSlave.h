#pragma once
// The slave side of the two Modbus framings. Both take the bytes that came in,
// cut them into requests, let the device execute each one addressed to it and
// frame the answers, with the fault switch applied. They do no I/O: the server
// reads and writes, and waits where an answer asks for a delay.
#include <QByteArray>
#include <cstddef>
#include <vector>

class TSimDevice;

// One framed answer and how long to hold it back.
struct TSimAnswer {
  QByteArray Bytes;
  int DelayMs = 0;
};

// Modbus RTU: address, PDU, CRC-16 low byte first.
class TSimRtuSlave {
public:
  // Silence on the line that ends a frame whose length the function code does
  // not tell. A pseudo-terminal has no character time, so this is fixed.
  static constexpr int SilenceMs = 10;
  // Silence that ends a frame whose function code says more bytes are due: a
  // pseudo-terminal hands a long write over in parts, and on a loaded machine
  // the next part may come many ms later. A pause between two reads of one
  // write is no silence on a line; only a frame cut short (or noise) waits
  // this long.
  static constexpr int DueSilenceMs = 1000;
  // A buffer this long without a frame in it is noise and is dropped.
  static constexpr int MaxBufferBytes = 8192;

  explicit TSimRtuSlave(TSimDevice &Device);

  // Takes bytes from the line; returns the answers to the requests they completed.
  std::vector<TSimAnswer> Feed(const char *Data, size_t Count);
  // The line has been silent for SilenceMs: what is pending is one frame, or noise.
  std::vector<TSimAnswer> EndOfFrame();
  bool HasPending() const { return !FBuffer.isEmpty(); }
  // The silence after which what is pending is ended: SilenceMs, or
  // DueSilenceMs while the function code says more bytes are due.
  int SilenceToEndMs() const;

private:
  // Length of the frame at the buffer's start when its function code fixes it; 0 when not.
  int KnownLength() const;
  void Handle(const QByteArray &Frame, std::vector<TSimAnswer> &Out);

  TSimDevice &FDevice;
  QByteArray FBuffer;
};

// Modbus TCP: MBAP header (transaction, protocol 0, length, unit) and the PDU.
class TSimTcpSlave {
public:
  explicit TSimTcpSlave(TSimDevice &Device);

  // Takes bytes from the connection; returns the answers to the requests they completed.
  std::vector<TSimAnswer> Feed(const char *Data, size_t Count);
  // A header that no Modbus TCP peer sends (protocol not 0, impossible length):
  // the stream cannot be resynchronised and the connection is to be closed.
  bool IsBroken() const { return FBroken; }

private:
  void Handle(const QByteArray &Adu, std::vector<TSimAnswer> &Out);

  TSimDevice &FDevice;
  QByteArray FBuffer;
  bool FBroken = false;
};
