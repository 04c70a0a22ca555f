// Writes seed inputs for the link fuzz targets into the folder given as the
// only argument: each device operation answered as the simulated device
// answers it (a good answer, an exception, another address), so that the
// fuzzer starts from answers that pass and mutates them from there.
#include "uFiles.h"
#include "uSimDevice.h"

#include <QDir>
#include <cstdio>
#include <vector>

#ifndef KV_SEED_TCP
#define KV_SEED_TCP false
#endif
#ifndef KV_SEED_CHUNKED
#define KV_SEED_CHUNKED false
#endif

namespace {
// The request PDU (function onward) the device operations send for Op.
QByteArray RequestPdu(int Op, uint8_t P1, uint8_t P2) {
  static const uint8_t readCodes[] = {0x03, 0x53, 0x54, 0x55};
  QByteArray q;
  auto put = [&](std::initializer_list<int> b) {
    for (int v : b)
      q.append(char(v));
  };
  switch (Op) {
  case 0: put({readCodes[(P2 >> 4) % 4], 0, P1, 0, 1 + P2 % 16}); break;
  case 1: put({0x06, 0, P1, P2, P2}); break;
  case 2: put({0x07}); break;
  case 3: put({0x1C, P1, 0, P2}); break;
  case 4:
    put({0x1B, P1, 0, P2});
    q.append(QByteArray(P2 % 16, char(P1)));
    break;
  case 5: put({0x1D}); break;
  default: put({0x1F, P1, 0}); break;
  }
  return q;
}

// One exchange of the fuzz input format; flags 3: checksum or header made
// right, address and function in place.
void AppendExchange(QByteArray &In, int Op, uint8_t P1, uint8_t P2, const QByteArray &AnswerPdu) {
  QByteArray pdu = char(1) + AnswerPdu;
  pdu = pdu.left(255);
  In.append(char(Op));
  In.append(char(P1));
  In.append(char(P2));
  In.append(char(1));
  In.append(char(pdu.size()));
  In.append(pdu);
  if (KV_SEED_CHUNKED) {
    const int whole = int(pdu.size()) + (KV_SEED_TCP ? 6 : 2);
    for (int left = whole, i = 0; left > 0; ++i) {
      const int c = 1 + (i * 3) % 8;
      In.append(char(c - 1));
      left -= c;
    }
  }
}
} // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: link_seeds FOLDER\n");
    return 2;
  }
  const QDir dir(QString::fromLocal8Bit(argv[1]));
  QDir().mkpath(dir.path());
  TSimDevice device;
  device.SetAddress(1);
  std::vector<uint16_t> values;
  for (int i = 0; i < 64; ++i)
    values.push_back(uint16_t(0x1111 * (i % 16) + i));
  for (TSimArea area : {TSimArea::Holding, TSimArea::Sram, TSimArea::Flash, TSimArea::Area4})
    device.SetRegisters(area, 0, values);
  QByteArray file;
  for (int i = 0; i < 4096; ++i)
    file.append(char(i * 7));
  device.SetFile(3, file, 32);
  device.SetClock(QDateTime(QDate(2026, 5, 4), QTime(12, 34, 56)), false);

  const struct {
    int Op;
    uint8_t P1, P2;
  } cases[] = {{0, 2, 3}, {0, 0, 0x1F}, {0, 5, 0x21}, {1, 7, 9},  {2, 0, 0}, {3, 3, 31},
               {3, 3, 0}, {4, 3, 4},    {5, 0, 0},    {6, 0xF1, 0}, {0, 200, 15}, {3, 9, 1}};
  QByteArray all;
  if (!KV_SEED_TCP)
    all.append(char(KV_SEED_CHUNKED));
  int n = 0;
  for (const auto &c : cases) {
    QByteArray one;
    if (!KV_SEED_TCP)
      one.append(char(KV_SEED_CHUNKED));
    const QByteArray answer = device.Execute(RequestPdu(c.Op, c.P1, c.P2));
    AppendExchange(one, c.Op, c.P1, c.P2, answer);
    AppendExchange(all, c.Op, c.P1, c.P2, answer);
    SaveFileBytes(dir.filePath(QStringLiteral("seed%1.bin").arg(n++)), one);
  }
  SaveFileBytes(dir.filePath(QStringLiteral("sequence.bin")), all);
  return 0;
}
