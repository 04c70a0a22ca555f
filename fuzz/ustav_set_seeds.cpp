// Seed sets for the local setpoint set target: a small set as the setpoints
// page writes it, and sets at and just past the limits (stored values, value
// range, nesting).
#include "uFiles.h"

#include <QByteArray>
#include <QDir>
#include <cstdio>

namespace {
QByteArray Set(const QByteArray &Items, const QByteArray &Extra = {}) {
  return "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\n<stored-ustav><device-descriptor><ustav>"
         "<group-mreg>300</group-mreg><group-mreg>400</group-mreg><group-mreg>500</group-mreg>"
         "<ustav-num><mreg>100</mreg><mreg>101</mreg><mreg>102</mreg><modbus-acc>3</modbus-acc>"
         "<string>\xD3\xF1\xF2\xE0\xE2\xEA\xE0</string></ustav-num>"
         "<ustav-enum><mreg>110</mreg><mreg>111</mreg><modbus-acc>1</modbus-acc></ustav-enum>" +
         Extra + "</ustav></device-descriptor><hash>00112233445566778899AABBCCDDEEFF</hash><modbus>" + Items +
         "</modbus></stored-ustav>\n";
}

// Short items, so the seeds at the count limit stay small.
QByteArray Items(int Count) { return QByteArray("<item/>").repeated(Count); }

QByteArray Deep(int Levels) {
  QByteArray open, close;
  for (int i = 0; i < Levels; ++i)
    open += "<x>", close += "</x>";
  return open + close;
}
} // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: ustav_set_seeds DIR\n");
    return 2;
  }
  const QDir dir(QString::fromLocal8Bit(argv[1]));
  SaveFileBytes(dir.filePath("small.us"), Set("<item mreg=\"100\" val=\"7\"/><item mreg=\"101\" val=\"65535\"/><item mreg=\"110\" val=\"1\"/>"));
  SaveFileBytes(dir.filePath("val-past.us"), Set("<item mreg=\"100\" val=\"65536\"/>"));
  SaveFileBytes(dir.filePath("val-text.us"), Set("<item mreg=\"100\" val=\"x\"/>"));
  SaveFileBytes(dir.filePath("mreg-past.us"), Set("<item mreg=\"1024\" val=\"1\"/><item mreg=\"70000\" val=\"1\"/>"));
  SaveFileBytes(dir.filePath("items-20000.us"), Set(Items(20000)));
  SaveFileBytes(dir.filePath("items-20001.us"), Set(Items(20001)));
  SaveFileBytes(dir.filePath("depth-64.us"), Set({}, Deep(61)));
  SaveFileBytes(dir.filePath("depth-65.us"), Set({}, Deep(62)));
  SaveFileBytes(dir.filePath("no-descriptor.us"), "<stored-ustav><modbus/></stored-ustav>");
  return 0;
}
