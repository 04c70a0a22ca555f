// Seed settings files for the ini fuzz target, written by our save helper:
// the program's sections with numbers in each accepted form, a UTF-8 file
// with its byte-order mark, CR LF and CR line ends, repeats and broken lines.
#include "uFiles.h"
#include "uTextCodec.h"

#include <QDir>
#include <cstdio>

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: ini_seeds FOLDER\n");
    return 2;
  }
  const QDir dir(QString::fromLocal8Bit(argv[1]));
  QDir().mkpath(dir.path());
  SaveFileBytes(dir.filePath("program.ini"),
                ToWin1251(QStringLiteral("[setup]\r\nprotocol=modbustcp\r\ntemp=work\r\nlang=ru\r\n"
                                         "[com]\r\nport=ttyUSB0\r\nbaudrate=115200\r\nTimeout = 50 \r\n"
                                         "[modbustcp]\r\nhost=127.0.0.1\r\nport=$7D1\r\n"
                                         "[dashboard]\r\ndeviceType=1\r\ncaption=Терминал защиты\r\n")));
  SaveFileBytes(dir.filePath("utf8.ini"),
                "\xEF\xBB\xBF" + QStringLiteral("[Секция]\nключ=значение\nhex=0x7FFFFFFF\nneg=-2147483648\n").toUtf8());
  SaveFileBytes(dir.filePath("odd.ini"),
                QByteArray("; comment\r[a]\rk=1\r[A]\rk=2\r[b\rx=3\r[c]\r=4\r k = 2.5 \rK=9\r[d]e]\rz=99999999999\r"));
  return 0;
}
