// Seed templates for the event report template target: the program's own
// template, one with every filter, and cut and empty ones.
#include "uFiles.h"

#include <QDir>
#include <QFile>
#include <cstdio>

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: event_template_seeds DIR\n");
    return 2;
  }
  const QDir dir(QString::fromLocal8Bit(argv[1]));
  QFile own(QStringLiteral(KV_SOURCE_DIR "/src/resources/EventReportTemplate.xml"));
  QByteArray bytes;
  if (own.open(QIODevice::ReadOnly))
    bytes = own.readAll();
  SaveFileBytes(dir.filePath("program.xml"), bytes);
  SaveFileBytes(dir.filePath("cut.xml"), bytes.left(bytes.size() / 2));
  SaveFileBytes(dir.filePath("every-filter.xml"),
        "<report title=\"T\"><filter-period caption=\"P\"/><filter-level caption=\"L\"><item caption=\"a\" id=\"1\" "
        "pin=\"2\" checked=\"1\"/></filter-level><filter-measure/><filter-discret compare=\"0\"><item/></filter-discret>"
        "<filter-discret compare=\"1\"><item id=\"2147483648\"/></filter-discret><alarm-report title=\"A\">"
        "<filter-level1 caption=\"s\"><item level=\"3\"/></filter-level1><filter-level2/><filter-event1><item "
        "code=\"-1\" checked=\"x\"/></filter-event1><filter-event2/></alarm-report></report>");
  SaveFileBytes(dir.filePath("empty.xml"), "");
  return 0;
}
