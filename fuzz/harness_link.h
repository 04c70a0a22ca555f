#pragma once
// Shared part of the link fuzz targets: a peer that answers the device
// operations with bytes taken from the fuzz input, over a pseudo-terminal
// (Modbus RTU) or a socket on 127.0.0.1 (Modbus TCP), and the check that an
// operation reported as successful really got an answer that belongs to its
// request. The checksum and the MBAP header are computed here, independently
// of the transport's own code, so that the input can get past them without
// the transport's checks being weakened.
//
// Input: one exchange after another until the input runs out, each
//   op, p1, p2, flags, answer length, answer bytes[, chunk sizes]
// flags bit 0: append a correct CRC (RTU) / put a correct MBAP header in front (TCP)
//       bit 1: the answer starts with the request's address and function
//       bit 2: close the connection after the answer (TCP)
#include "uDeviceIO.h"
#include "uErrors.h"

#include <QBuffer>
#include <QDateTime>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace kvfuzz {

// A failed invariant: the input is a finding. abort() so that libFuzzer keeps
// the input and the replay test fails.
[[noreturn]] inline void Fail(const char *What) {
  std::fprintf(stderr, "link invariant broken: %s\n", What);
  std::abort();
}
#define KV_FUZZ_CHECK(cond)                                                                                           \
  do {                                                                                                                \
    if (!(cond))                                                                                                      \
      ::kvfuzz::Fail(#cond);                                                                                          \
  } while (0)

// CRC-16/MODBUS, bitwise: polynomial 0xA001 reflected, start 0xFFFF.
inline uint16_t ModbusCrc(const uint8_t *P, size_t N) {
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < N; ++i) {
    crc ^= P[i];
    for (int b = 0; b < 8; ++b)
      crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xA001) : uint16_t(crc >> 1);
  }
  return crc;
}

class TReader {
public:
  TReader(const uint8_t *D, size_t N) : FData(D), FSize(N) {}
  bool Empty() const { return FPos >= FSize; }
  uint8_t Byte() { return FPos < FSize ? FData[FPos++] : 0; }
  std::vector<uint8_t> Bytes(size_t N) {
    const size_t take = std::min(N, FSize - std::min(FPos, FSize));
    std::vector<uint8_t> out(FData + FPos, FData + FPos + take);
    FPos += take;
    return out;
  }

private:
  const uint8_t *FData;
  size_t FSize;
  size_t FPos = 0;
};

constexpr uint8_t DeviceAddr = 1;

// One planned exchange: the operation and what the peer sends back.
struct TExchange {
  uint8_t Op = 0, P1 = 0, P2 = 0, Flags = 0;
  std::vector<uint8_t> Answer;       // as sent, checksum or header included
  std::vector<size_t> Chunks;        // sizes of the writes; empty: one write
  int RequestBytes = 0;              // what the peer waits for before answering
  uint8_t Function = 0;              // of the request
  int Expected = 0;                  // answer length the transport expects (RTU, CRC included)
};

inline uint8_t ReadCodeOfArea(int Area) {
  static const uint8_t codes[] = {0x03, 0x53, 0x54, 0x55};
  return codes[Area - 1];
}

// Decodes the next exchange; Tcp decides the framing of the answer.
inline TExchange NextExchange(TReader &R, bool Tcp, bool Chunked) {
  TExchange x;
  x.Op = R.Byte() % 7;
  x.P1 = R.Byte();
  x.P2 = R.Byte();
  x.Flags = R.Byte();
  std::vector<uint8_t> pdu = R.Bytes(R.Byte());
  int reqLen = 0;
  switch (x.Op) {
  case 0: { // read registers
    const int count = 1 + x.P2 % 16;
    x.Function = ReadCodeOfArea(1 + (x.P2 >> 4) % 4);
    reqLen = 6;
    x.Expected = count * 2 + 5;
    break;
  }
  case 1: x.Function = 0x06; reqLen = 6; x.Expected = 8; break;
  case 2: x.Function = FN_READ_EXCEPTION_STATUS; reqLen = 2; x.Expected = 5; break;
  case 3: x.Function = FN_READ_FILE_FRAME; reqLen = 5; x.Expected = 1 + x.P2 % 32 + 7; break;
  case 4: x.Function = FN_WRITE_FILE_FRAME; reqLen = 5 + x.P2 % 16; x.Expected = 7; break;
  case 5: x.Function = FN_READ_CLOCK; reqLen = 2; x.Expected = 16; break;
  default: x.Function = FN_SPECIAL_COMMAND; reqLen = 4; x.Expected = 6; break;
  }
  if ((x.Flags & 2) && pdu.size() >= 2) {
    pdu[0] = DeviceAddr;
    pdu[1] = x.Function;
  }
  if (Tcp) {
    x.RequestBytes = 6 + reqLen;
    if (x.Flags & 1)
      x.Answer = {0, 0, 0, 0, uint8_t(pdu.size() >> 8), uint8_t(pdu.size())};
    x.Answer.insert(x.Answer.end(), pdu.begin(), pdu.end());
  } else {
    x.RequestBytes = reqLen + 2;
    x.Answer = pdu;
    if (x.Flags & 1) {
      const uint16_t crc = ModbusCrc(pdu.data(), pdu.size());
      x.Answer.push_back(uint8_t(crc));
      x.Answer.push_back(uint8_t(crc >> 8));
    }
  }
  if (Chunked) {
    size_t left = x.Answer.size();
    while (left > 0) {
      const size_t c = std::min<size_t>(left, 1 + R.Byte() % 8);
      x.Chunks.push_back(c);
      left -= c;
    }
  }
  return x;
}

inline int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Writes the planned answer, whole or chunk by chunk with a short gap so that
// the transport sees the pieces in separate reads.
inline void WriteAnswer(int Fd, const TExchange &X) {
  size_t at = 0;
  std::vector<size_t> chunks = X.Chunks;
  if (chunks.empty())
    chunks.push_back(X.Answer.size());
  for (size_t c : chunks) {
    size_t done = 0;
    while (done < c) {
      const ssize_t n = ::send(Fd, X.Answer.data() + at + done, c - done, MSG_NOSIGNAL);
      if (n < 0 && errno == ENOTSOCK) {
        const ssize_t w = ::write(Fd, X.Answer.data() + at + done, c - done);
        if (w <= 0)
          return;
        done += size_t(w);
        continue;
      }
      if (n <= 0)
        return;
      done += size_t(n);
    }
    at += c;
    if (X.Chunks.size() > 1)
      std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
}

// The serial peer: the master side of a pseudo-terminal whose slave the
// transport opens as its port.
class TPtyPeer {
public:
  TPtyPeer() {
    FMaster = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (FMaster < 0 || ::grantpt(FMaster) != 0 || ::unlockpt(FMaster) != 0)
      Fail("cannot open a pseudo-terminal");
    FSlave = QString::fromLocal8Bit(::ptsname(FMaster));
  }
  QString SlavePath() const { return FSlave; }
  // Reads the request (with a deadline), then answers.
  void Serve(const TExchange &X) {
    std::vector<uint8_t> got;
    const int64_t deadline = NowMs() + 1000;
    while (int(got.size()) < X.RequestBytes && NowMs() < deadline) {
      pollfd p{FMaster, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0)
        continue;
      uint8_t buf[512];
      const ssize_t n = ::read(FMaster, buf, sizeof buf);
      if (n > 0)
        got.insert(got.end(), buf, buf + n);
    }
    if (int(got.size()) >= X.RequestBytes)
      WriteAnswer(FMaster, X);
  }

private:
  int FMaster = -1;
  QString FSlave;
};

// The Modbus TCP peer: listens on 127.0.0.1 and keeps the latest connection.
class TTcpPeer {
public:
  TTcpPeer() {
    FListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (FListen < 0 || ::bind(FListen, reinterpret_cast<sockaddr *>(&a), len) != 0 || ::listen(FListen, 8) != 0 ||
        ::getsockname(FListen, reinterpret_cast<sockaddr *>(&a), &len) != 0)
      Fail("cannot listen on 127.0.0.1");
    FPort = ntohs(a.sin_port);
  }
  int Port() const { return FPort; }
  void Serve(const TExchange &X) {
    std::vector<uint8_t> got;
    const int64_t deadline = NowMs() + 1000;
    while (int(got.size()) < X.RequestBytes && NowMs() < deadline) {
      pollfd p[2] = {{FListen, POLLIN, 0}, {FConn, POLLIN, 0}};
      if (::poll(p, FConn >= 0 ? 2 : 1, 50) <= 0)
        continue;
      if (p[0].revents) {
        const int c = ::accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
        if (c >= 0) {
          CloseConn();
          FConn = c;
          got.clear();
          int one = 1;
          ::setsockopt(FConn, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        }
        continue;
      }
      if (FConn >= 0 && p[1].revents) {
        uint8_t buf[512];
        const ssize_t n = ::recv(FConn, buf, sizeof buf, 0);
        if (n <= 0)
          CloseConn();
        else
          got.insert(got.end(), buf, buf + n);
      }
    }
    if (int(got.size()) < X.RequestBytes)
      return;
    WriteAnswer(FConn, X);
    if (X.Flags & 4) {
      // A reset rather than an orderly end: what a device that drops the link does.
      linger l{1, 0};
      ::setsockopt(FConn, SOL_SOCKET, SO_LINGER, &l, sizeof l);
      CloseConn();
    }
  }

private:
  void CloseConn() {
    if (FConn >= 0)
      ::close(FConn);
    FConn = -1;
  }
  int FListen = -1;
  int FConn = -1;
  int FPort = 0;
};

// Runs one operation of X on Io while Serve answers from another thread, then
// checks the outcome against the bytes that were sent.
template <class TPeer> void RunExchange(TDeviceIO &Io, TPeer &Peer, const TExchange &X, bool Tcp) {
  Io.SetDeviceAddr(DeviceAddr);
  std::thread peer([&] { Peer.Serve(X); });
  const std::vector<uint8_t> &a = X.Answer;
  const size_t off = Tcp ? 6 : 0; // the PDU (with its address or unit) in the answer
  uint16_t regs[16];
  for (uint16_t &r : regs)
    r = 0xA5A5;
  QByteArray fileBytes;
  QBuffer fileBuf(&fileBytes);
  fileBuf.open(QIODevice::WriteOnly);
  uint8_t answered = 0x5A, devStatus = 0x5A;
  QDateTime clock(QDate(1990, 1, 1), QTime(0, 0));
  const QDateTime clockBefore = clock;
  int count = 0;
  bool ok = false;
  switch (X.Op) {
  case 0:
    count = 1 + X.P2 % 16;
    Io.SetMemoryArea(uint8_t(1 + (X.P2 >> 4) % 4));
    ok = Io.ReadRegisters(X.P1, regs, uint16_t(count));
    break;
  case 1:
    Io.SetMemoryArea(1);
    ok = Io.WriteRegister(X.P1, uint16_t(X.P2 * 257));
    break;
  case 2: ok = Io.Poll(DeviceAddr, answered, devStatus); break;
  case 3: count = 1 + X.P2 % 32; ok = Io.ReadFileFrame(X.P1, X.P2, count, fileBuf); break;
  case 4: {
    QByteArray data(X.P2 % 16, char(X.P1));
    QBuffer src(&data);
    src.open(QIODevice::ReadOnly);
    ok = Io.WriteFileFrame(X.P1, X.P2, src, int(data.size()));
    break;
  }
  case 5: ok = Io.ReadClock(clock); break;
  default: ok = Io.SpecialCommand(FN_SPECIAL_COMMAND, X.P1); break;
  }
  peer.join();
  const TOIStatus status = Io.GetOI().GetStatus();
  if (!ok) {
    // Nothing of a failed exchange may reach the caller.
    KV_FUZZ_CHECK(status != oisReady);
    for (uint16_t r : regs)
      KV_FUZZ_CHECK(r == 0xA5A5);
    KV_FUZZ_CHECK(fileBytes.isEmpty());
    KV_FUZZ_CHECK(answered == 0x5A && devStatus == 0x5A);
    KV_FUZZ_CHECK(clock == clockBefore);
    if (status == oisErrorFlag) {
      KV_FUZZ_CHECK(a.size() >= off + 3);
      KV_FUZZ_CHECK(a[off + 1] == (X.Function | 0x80));
      KV_FUZZ_CHECK(Io.GetStatus() == a[off + 2]);
    }
    return;
  }
  KV_FUZZ_CHECK(status == oisReady);
  // Success: the answer sent must be complete and belong to the request.
  const size_t pduLen = size_t(X.Expected - 2);
  if (Tcp) {
    KV_FUZZ_CHECK(a.size() >= 6 + pduLen);
    KV_FUZZ_CHECK(a[0] == 0 && a[1] == 0 && a[2] == 0 && a[3] == 0);
    KV_FUZZ_CHECK(size_t((a[4] << 8) | a[5]) == pduLen);
  } else {
    KV_FUZZ_CHECK(a.size() >= size_t(X.Expected));
    const uint16_t crc = ModbusCrc(a.data(), pduLen);
    KV_FUZZ_CHECK(a[pduLen] == uint8_t(crc) && a[pduLen + 1] == uint8_t(crc >> 8));
  }
  // A poll takes whichever unit answers (the unit it reports is checked below).
  KV_FUZZ_CHECK(X.Op == 2 || a[off] == DeviceAddr);
  KV_FUZZ_CHECK(a[off + 1] == X.Function);
  switch (X.Op) {
  case 0:
    if (X.Function == 0x03)
      KV_FUZZ_CHECK(a[off + 2] == count * 2);
    for (int i = 0; i < count; ++i)
      KV_FUZZ_CHECK(regs[i] == uint16_t((a[off + 3 + 2 * i] << 8) | a[off + 4 + 2 * i]));
    for (int i = count; i < 16; ++i)
      KV_FUZZ_CHECK(regs[i] == 0xA5A5);
    break;
  case 1: {
    const uint16_t v = uint16_t(X.P2 * 257);
    const uint8_t echo[4] = {0, X.P1, uint8_t(v >> 8), uint8_t(v)};
    KV_FUZZ_CHECK(std::memcmp(a.data() + off + 2, echo, 4) == 0);
    break;
  }
  case 2: KV_FUZZ_CHECK(answered == a[off] && devStatus == a[off + 2]); break;
  case 3:
    KV_FUZZ_CHECK(fileBytes.size() == count);
    KV_FUZZ_CHECK(std::memcmp(fileBytes.constData(), a.data() + off + 5, size_t(count)) == 0);
    break;
  case 5: KV_FUZZ_CHECK(clock.isValid() && clock != clockBefore); break;
  default: break;
  }
}

} // namespace kvfuzz
