// Writes seed pairs for the ".cfg" fuzz target (configuration, a NUL byte,
// data) into the folder given as the only argument: every revision, no rates,
// missing values, and counts at the edges of what the reader accepts.
#include "uFiles.h"

#include <QDir>
#include <cstdio>

namespace {
QByteArray Pair(const QByteArray &Head, const QByteArray &Counts, const QByteArray &Rate, const QByteArray &Dat,
                const QByteArray &Tail = "ASCII\n1\n") {
  return Head + "\n" + Counts + "\n1,I,a,,A,0.5,1,0,-10,10,1,1,S\n1,T,,,0\n50\n" + Rate +
         "\n15/03/2024,10:00:00.000001\n15/03/2024,10:00:00.5\n" + Tail + '\0' + Dat;
}
} // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: comtrade_cfg_seeds FOLDER\n");
    return 2;
  }
  const QDir dir(QString::fromLocal8Bit(argv[1]));
  QDir().mkpath(dir.path());
  const QByteArray Dat = "1,0,5,1\r\n2,556,99999,0\r\n3,1111,-99999,1\r\n\x1A";
  const std::pair<const char *, QByteArray> Seeds[] = {
      {"old.bin", Pair("S,D", "2,1A,1D", "1\n1800,2", "0,0,5,1\n1,556,6,0\n", "ASCII\n")},
      {"1999.bin", Pair("S,D,1999", "2,1A,1D", "1\n1800,3", Dat)},
      {"2013.bin", Pair("S,D,2013", "2,1A,1D", "1\n1800,3", Dat, "ASCII\n2\n+3,+3\n0,0\n")},
      {"norate.bin", Pair("S,D,1999", "2,1A,1D", "0\n0,3", Dat)},
      {"endsamp.bin", Pair("S,D,1999", "2,1A,1D", "1\n1800,2147483647", "1,0,5\r\n\x1A\r\n")},
      {"channels.bin", Pair("S,D,1999", "2147483647,2147483647A,0D", "1\n1800,3", Dat)},
      {"sum.bin", Pair("S,D,1999", "-2,2147483647A,2147483647D", "1\n1800,3", Dat)},
      {"hundred.bin", Pair("S,D,1999", "200,100A,100D", "100\n1800,2147483647", Dat)},
  };
  for (const auto &[Name, Bytes] : Seeds)
    SaveFileBytes(dir.filePath(QString::fromLatin1(Name)), Bytes);
  return 0;
}
