// Seed page files for the page file target: a small panel of every shape the
// reader knows, a boards file, and files at and just past each limit.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <cstdio>

namespace {
void Write(const QDir &Dir, const char *Name, const QByteArray &Bytes) {
  QFile f(Dir.filePath(QString::fromLatin1(Name)));
  if (!f.open(QIODevice::WriteOnly) || f.write(Bytes) != Bytes.size())
    std::fprintf(stderr, "cannot write %s\n", Name);
}

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
  Write(dir, "panel.xml",
        "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\n<document>\n"
        "  <element><class>TGroupBoxA</class><Left>8</Left><Top>8</Top><Width>300</Width><Height>200</Height>\n"
        "    <Font><Name>Arial</Name><Color>0</Color><Size>9</Size><Style>fsBold,fsItalic</Style></Font>\n"
        "    <element><class>TMeasureLabeledEdit</class><mreg>200</mreg><LabelPosition>lpAbove</LabelPosition>"
        "<EditLabelCaption>\xC8\xE0</EditLabelCaption></element>\n"
        "  </element>\n"
        "  <element><class>TBitregGroupBox</class><mreg>20</mreg><BitList><bitmap>101</bitmap></BitList></element>\n"
        "  <element><class>TUstavPanel</class><idx>-1</idx><bit>3</bit><level>???</level></element>\n"
        "</document>\n");
  Write(dir, "boards.xml",
        "<document><frame caption=\"A\"><element><class>TLabelA</class><Caption>a</Caption></element></frame>"
        "<frame/></document>");
  Write(dir, "depth-64.xml", Nested(63));
  Write(dir, "depth-65.xml", Nested(64));
  Write(dir, "count-20000.xml", Flat(20000));
  Write(dir, "count-20001.xml", Flat(20001));
  Write(dir, "mreg-max.xml", Number("mreg", "65535"));
  Write(dir, "mreg-past.xml", Number("mreg", "65536"));
  Write(dir, "color-past.xml", Number("Color", "2147483648"));
  Write(dir, "left-huge.xml", Number("Left", "99999999999999999999"));
  Write(dir, "empty.xml", "");
  return 0;
}
