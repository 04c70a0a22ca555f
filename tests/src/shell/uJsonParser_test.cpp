#include "uJsonParser.h"

#include "uAgentClient.h"
#include "uErrors.h"
#include "uTextCodec.h"

#include <gtest/gtest.h>

TEST(JsonParser, ReadsTheAgentNotationAndRefusesWithItsTexts) {
  const struct {
    const char *Text, *Xml, *Error;
  } cases[] = {
      {R"({data:[{id:1,port:3,comment:"Left bus"}]})",
       R"(<document><object><array name="data"><object><value name="id">1</value><value name="port">3</value>)"
       R"(<value name="comment">Left bus</value></object></array></object></document>)",
       nullptr},
      {R"([1,"x",{on:true}])",
       R"(<document><array><value>1</value><value>x</value><object><value name="on">true</value></object></array>)"
       R"(</document>)",
       nullptr},
      {"{n:-7,h:$1F}", R"(<document><object><value name="n">-7</value><value name="h">31</value></object></document>)",
       nullptr},
      {"{:1}", nullptr, "unexpected token : at position 1"},
      {"{a:b}", nullptr, "unexpected token \"b\" at position 3"},
      {"{a:1 b:2}", nullptr, "unexpected token \"b\" at position 5"},
      {R"({"x"})", nullptr, "unexpected token \" at position 1"},
      {"{5}", nullptr, "unexpected token 5 at position 1"},
      {"{a:'x'}", nullptr, "unexpected"},
      {"{a:1.5}", nullptr, "unsuported token \"1.5\" at position 3"},
      {"{a:@}", nullptr, "unsuported token \"@\" at position 3"},
      {"{a:1}}", nullptr, "unbalanced brackets or brases token \"}\" at position 5"},
      {"{a:\"abc", nullptr, "unfinished string const"},
  };
  for (const auto &c : cases) {
    try {
      const IXXMLDocument doc = TJsonParser::Parse(QString::fromUtf8(c.Text));
      EXPECT_EQ(c.Error, nullptr) << c.Text;
      if (c.Xml)
        EXPECT_EQ(doc->GetDocumentElement()->GetXml().toStdString(), c.Xml) << c.Text;
    } catch (const EKvFormat &e) {
      ASSERT_NE(c.Error, nullptr) << c.Text << ": " << e.what();
      EXPECT_EQ(e.Text(), QString::fromUtf8(c.Error)) << c.Text;
    }
  }
}

TEST(AgentAnswer, DecodedByCharsetElseUtf8ElseWindows1251) {
  const QString text = QStringLiteral("Ввод 1");
  EXPECT_EQ(DecodeAgentAnswer(text.toUtf8(), "application/json; charset=utf-8"), text);
  EXPECT_EQ(DecodeAgentAnswer(ToWin1251(text), "application/json; charset=windows-1251"), text);
  EXPECT_EQ(DecodeAgentAnswer(text.toUtf8(), "application/json"), text);
  EXPECT_EQ(DecodeAgentAnswer(ToWin1251(text), QByteArray()), text);
}
