// Writes seeds for the simulated device's framing fuzz target into the folder
// given as the only argument: whole requests of each kind the device serves,
// on both lines, in one piece and split, behind junk.
#include "uFiles.h"

#include <QDir>
#include <cstdio>

namespace {
// A piece as the target reads it: its length less one, then the bytes.
QByteArray Piece(const QByteArray &Bytes) { return char(Bytes.size() - 1) + Bytes; }
QByteArray Hex(const char *Text) { return QByteArray::fromHex(Text); }
} // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: sim_slave_seeds FOLDER\n");
    return 2;
  }
  const QDir dir(QString::fromLocal8Bit(argv[1]));
  QDir().mkpath(dir.path());
  const QByteArray read = Hex("0103000A0001A408"), poll = Hex("FF070182");
  const QByteArray fileWrite = Hex("011B050000AABBCCDDD67B");
  const QByteArray mbapRead = Hex("123400000006 01 03 000A 0001"), mbapPoll = Hex("000100000002FF07");
  const std::pair<const char *, QByteArray> seeds[] = {
      {"rtu-read", '\0' + Piece(read)},
      {"rtu-split", '\0' + Piece(read.left(3)) + Piece(read.mid(3))},
      {"rtu-junk", '\0' + Piece(Hex("0103FF")) + Piece(poll) + Piece(fileWrite)},
      {"tcp-read", '\1' + Piece(mbapRead)},
      {"tcp-two", '\1' + Piece(mbapPoll + mbapRead.left(5)) + Piece(mbapRead.mid(5))},
      {"tcp-bad-header", '\1' + Piece(Hex("0001000100020107"))},
  };
  for (const auto &[name, bytes] : seeds)
    SaveFileBytes(dir.filePath(QString::fromLatin1(name)), bytes);
  return 0;
}
