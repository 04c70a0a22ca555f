#include "uPageFile.h"
#include "../../common/uErrorOf.h"

#include "uErrors.h"

#include <gtest/gtest.h>

namespace {
// A panel file with one `element` per line: line 1 holds the document
// element, element k (from 1) begins on line k + 1.
QByteArray Nested(int Levels) {
  QByteArray b = "<document>\n";
  for (int i = 0; i < Levels; ++i)
    b += "<element><class>TGroupBoxA</class>\n";
  for (int i = 0; i < Levels; ++i)
    b += "</element>";
  return b + "\n</document>\n";
}

QByteArray Flat(int Count) {
  QByteArray b = "<document>\n";
  for (int i = 0; i < Count; ++i)
    b += "<element><class>TLabelA</class><Left>" + QByteArray::number(i) + "</Left></element>\n";
  return b + "</document>\n";
}

QByteArray WithValue(const QByteArray &Name, const QByteArray &Text) {
  return "<document>\n<element><class>TLabelA</class>\n<Font><Name>Arial</Name>\n<" + Name + ">" + Text + "</" + Name +
         ">\n</Font></element>\n</document>\n";
}

QString Outcome(const QByteArray &Bytes) {
  return ErrorOf([&] { LoadPageBytes(Bytes, "p.xml"); });
}
} // namespace

TEST(PageFile, NestingAndElementCountStopAtTheirLimits) {
  const struct {
    QByteArray Bytes;
    QString Outcome;
  } cases[] = {
      // The document element, 62 elements within each other and the last one's
      // `class`: 64 levels.
      {Nested(62), "no error"},
      {Nested(63), "p.xml, line 64: nesting deeper than 64 levels"},
      {Nested(20000), "p.xml, line 64: nesting deeper than 64 levels"},
      {Flat(20000), "no error"},
      {Flat(20001), "p.xml, line 20002: more than 20000 elements"},
      {Flat(100000), "p.xml, line 20002: more than 20000 elements"},
  };
  for (const auto &c : cases)
    EXPECT_EQ(Outcome(c.Bytes), c.Outcome) << c.Bytes.left(60).toStdString();
}

TEST(PageFile, NumbersOutsideTheirPropertysTypeRefuseTheFile) {
  const struct {
    const char *Name, *Text;
    const char *Limit; // empty: accepted
  } cases[] = {
      {"mreg", "0", ""},
      {"mreg", "65535", ""},
      {"mreg", "65536", "mreg = 65536 lies outside 0..65535"},
      {"mreg", "-1", "mreg = -1 lies outside 0..65535"},
      {"idx", "-1", ""},
      {"idx", "-2", "idx = -2 lies outside -1..65535"},
      {"Left", "-16777215", ""},
      {"Left", "16777216", "Left = 16777216 lies outside -16777215..16777215"},
      {"LEFT", "16777216", "LEFT = 16777216 lies outside -16777215..16777215"},
      {"Size", "32768", "Size = 32768 lies outside -32768..32767"},
      {"Color", "-2147483648", ""},
      {"Color", "2147483648", "Color = 2147483648 lies outside -2147483648..2147483647"},
      {"Color", "99999999999999999999999", "Color = 99999999999999999999999 lies outside -2147483648..2147483647"},
      // No number at all is the control's bad value, reported while loading goes on.
      {"mreg", "abc", ""},
      {"mreg", "???", ""},
      {"mreg", " 12 ", ""},
      // Not a number property: any text.
      {"Caption", "99999999999999999999999", ""},
  };
  for (const auto &c : cases) {
    const QString expected = *c.Limit ? QStringLiteral("p.xml, line 4: ") + c.Limit : QStringLiteral("no error");
    EXPECT_EQ(Outcome(WithValue(c.Name, c.Text)), expected) << c.Name << " " << c.Text;
  }
}

TEST(PageFile, BrokenAndMissingFilesSayWhy) {
  EXPECT_EQ(ErrorOf([] { LoadPageDocument("/nonexistent/p.xml"); }),
            "cannot open /nonexistent/p.xml: No such file or directory");
  const QString broken = Outcome("<document>\n<element><class>TLabelA</class>\n<Left>1</Top>\n</document>\n");
  EXPECT_TRUE(broken.startsWith("p.xml: ")) << broken.toStdString();
  EXPECT_TRUE(broken.endsWith("\rЪ<Left>1</Top>")) << broken.toStdString();
  EXPECT_TRUE(broken.contains("line 3")) << broken.toStdString();
}

TEST(PageFile, RecordsKeepClassesPropertiesSubObjectsAndLines) {
  const IXXMLDocument doc = LoadPageBytes("<document>\n"
                                          "<element><class>TGroupBoxA</class><Left>5</Left>\n"
                                          "<Font><Name>Arial</Name><Size>9</Size></Font>\n"
                                          "<element><Left>1</Left><Left>2</Left></element>\n"
                                          "</element>\n"
                                          "<other/><element><class>TLabelA</class><Caption>???</Caption></element>\n"
                                          "</document>\n",
                                          "p.xml");
  const QList<TPageElement> records = ReadPageElements(doc->GetDocumentElement());
  ASSERT_EQ(records.size(), 2);
  const TPageElement &box = records[0];
  EXPECT_EQ(box.ClassName, "TGroupBoxA");
  EXPECT_EQ(box.Line, 2);
  ASSERT_EQ(box.Properties.size(), 2);
  const TPageProperty *font = FindPageProperty(box.Properties, "Font");
  ASSERT_TRUE(font && font->IsObject);
  EXPECT_EQ(font->Line, 3);
  EXPECT_EQ(FindPageProperty(font->Sub, "Size")->Text, "9");
  EXPECT_EQ(FindPageProperty(box.Properties, "font"), nullptr); // the file's letter case
  ASSERT_EQ(box.Children.size(), 1);
  EXPECT_EQ(box.Children[0].ClassName, ""); // no `class`: the reader reports the empty name
  EXPECT_EQ(box.Children[0].Line, 4);
  EXPECT_EQ(FindPageProperty(box.Children[0].Properties, "Left")->Text, "1"); // the first of a name
  EXPECT_EQ(records[1].Line, 6);
  EXPECT_EQ(FindPageProperty(records[1].Properties, "Caption")->Text, "???");
}
