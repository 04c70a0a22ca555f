// Seed page files for the page file target: a small panel of every shape the
// reader knows, a boards file, and files at and just past each limit.
#include "uFiles.h"

#include <QByteArray>
#include <QDir>
#include <cstdio>

namespace {
QByteArray Nested(int Levels) {
  QByteArray b = "<document>";
  for (int i = 0; i < Levels; ++i)
    b += "<element><class>TGroupBoxA</class>";
  for (int i = 0; i < Levels; ++i)
    b += "</element>";
  return b + "</document>";
}

QByteArray Flat(int Count) {
  QByteArray b = "<document>";
  for (int i = 0; i < Count; ++i)
    b += "<element/>";
  return b + "</document>";
}

QByteArray Number(const char *Name, const char *Text) {
  return QByteArray("<document><element><class>TMeasureLabeledEdit</class><") + Name + ">" + Text + "</" + Name +
         "></element></document>";
}
} // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: page_file_seeds DIR\n");
    return 2;
  }
  const QDir dir(QString::fromLocal8Bit(argv[1]));
  SaveFileBytes(dir.filePath("panel.xml"),
        "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\n<document>\n"
        "  <element><class>TGroupBoxA</class><Left>8</Left><Top>8</Top><Width>300</Width><Height>200</Height>\n"
        "    <Font><Name>Arial</Name><Color>0</Color><Size>9</Size><Style>fsBold,fsItalic</Style></Font>\n"
        "    <element><class>TMeasureLabeledEdit</class><mreg>200</mreg><LabelPosition>lpAbove</LabelPosition>"
        "<EditLabelCaption>\xC8\xE0</EditLabelCaption></element>\n"
        "  </element>\n"
        "  <element><class>TBitregGroupBox</class><mreg>20</mreg><BitList><bitmap>101</bitmap></BitList></element>\n"
        "  <element><class>TUstavPanel</class><idx>-1</idx><bit>3</bit><level>???</level></element>\n"
        "</document>\n");
  SaveFileBytes(dir.filePath("boards.xml"),
        "<document><frame caption=\"A\"><element><class>TLabelA</class><Caption>a</Caption></element></frame>"
        "<frame/></document>");
  SaveFileBytes(dir.filePath("depth-64.xml"), Nested(63));
  SaveFileBytes(dir.filePath("depth-65.xml"), Nested(64));
  SaveFileBytes(dir.filePath("count-20000.xml"), Flat(20000));
  SaveFileBytes(dir.filePath("count-20001.xml"), Flat(20001));
  SaveFileBytes(dir.filePath("mreg-max.xml"), Number("mreg", "65535"));
  SaveFileBytes(dir.filePath("mreg-past.xml"), Number("mreg", "65536"));
  SaveFileBytes(dir.filePath("color-past.xml"), Number("Color", "2147483648"));
  SaveFileBytes(dir.filePath("left-huge.xml"), Number("Left", "99999999999999999999"));
  SaveFileBytes(dir.filePath("empty.xml"), "");
  return 0;
}
