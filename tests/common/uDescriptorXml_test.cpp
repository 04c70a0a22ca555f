#include "uDescriptorXml.h"

#include "ixml.h"

#include <gtest/gtest.h>

TEST(DescriptorXml, RecordTypesNameTheirElements) {
  const struct {
    int Type;
    const char *Element;
  } cases[] = {{1, "measure-item"},    {17, "param-bitreg"},     {18, "param-bitreg"},  {19, "param-bitreg"},
               {20, "param-bitreg"},   {21, "param-bitreg"},     {29, "param-ddo-date"}, {30, "param-ddo-status"},
               {33, "param-enum"},     {34, "param-num"},        {36, "param-char"},    {38, "param-nummvp"},
               {39, "param-nummvs"},   {49, "ustav-enum"},       {53, "ustav-enum"},    {50, "ustav-num"},
               {65, "event-measure"},  {66, "event-bitreg"},     {67, "event-item"},    {68, "event-item"},
               {81, "osc-measure"},    {82, "osc-bitreg"},       {0, nullptr},          {2, nullptr},
               {22, nullptr},          {35, nullptr},            {255, nullptr}};
  for (const auto &c : cases) {
    const char *e = DescElementOfRecordType(c.Type);
    if (c.Element)
      EXPECT_STREQ(e, c.Element) << c.Type;
    else
      EXPECT_EQ(e, nullptr) << c.Type;
  }
  EXPECT_EQ(BitRegCaption(18), QString::fromUtf8("Реле"));
  EXPECT_EQ(BitRegCaption(21), QString::fromUtf8("Виртуальные выходы"));
  EXPECT_EQ(BitRegCaption(33), "");
  EXPECT_EQ(DescriptorCacheFileName(0x0012ABCD), "0012ABCD.xml");
}

// A small descriptor written by hand in the decoder's form answers the
// readers' shared queries.
TEST(DescriptorXml, SharedQueriesFindObjectsByRegisterAndValueNumber) {
  IXXMLDocument doc = NewXMLDocument();
  ASSERT_TRUE(doc->LoadXML(QString::fromUtf8(
      "<device-descriptor><measure>"
      "<measure-item><record-type>1</record-type><mvp-addr>65535</mvp-addr><ider>0</ider><word-count>1</word-count><mreg>4</mreg></measure-item>"
      "<measure-item><record-type>1</record-type><ider>1</ider><word-count>2</word-count><mreg>5</mreg><mvp-mreg>40</mvp-mreg></measure-item>"
      "</measure><param><input-output><param-bitreg><caption>Реле</caption><record-type>18</record-type>"
      "<string><ider>1</ider><value>K1</value></string><word-count>1</word-count><mreg>30</mreg></param-bitreg></input-output>"
      "<param-enum><record-type>33</record-type><string><ider>1</ider><value>Вкл</value><value>включено</value></string>"
      "<string>Режим</string><word-count>1</word-count><mreg>40</mreg></param-enum></param>"
      "<ustav><ustav-level><string><ider>1</ider><value>МТЗ</value><value/></string></ustav-level>"
      "<ustav-num><modbus-flash>100</modbus-flash><ider>1</ider><word-count>1</word-count><mreg>60</mreg><mreg>61</mreg></ustav-num>"
      "<group-mreg>60</group-mreg><group-mreg>61</group-mreg></ustav></device-descriptor>")));
  const IXXMLNode root = doc->GetDocumentElement();
  ASSERT_EQ(root->GetNodeName(), DX_ROOT);
  EXPECT_EQ(root->SelectNodes(DXQ_MAPPED)->GetCount(), 5);
  const IXXMLNode m0 = root->SelectSingleNode(QString(DXQ_MEASURE_BY_MREG).arg(4));
  ASSERT_TRUE(m0);
  EXPECT_EQ(m0->GetIntNodeDef(DX_MVP_MREG, DX_NONE), DX_NONE); // absent means none
  EXPECT_EQ(root->SelectSingleNode(QString(DXQ_MEASURE_BY_IDER).arg(1))->GetIntNode(DX_MVP_MREG), 40);
  EXPECT_EQ(root->SelectSingleNode(QString(DXQ_BITREG_BY_TYPE).arg(RT_BITREG_RELAYS))->GetStrNode(DX_CAPTION),
            BitRegCaption(RT_BITREG_RELAYS));
  const IXXMLNode e = root->SelectSingleNode(QString(DX_PARAM) + "/" + DX_PARAM_ENUM);
  EXPECT_EQ(e->GetStrNode(DXQ_NAME), QString::fromUtf8("Режим"));
  EXPECT_EQ(e->GetStrNode(QString(DXQ_VALUE_TEXT).arg(1)), QString::fromUtf8("Вкл"));
  EXPECT_EQ(e->GetStrNode(QString(DXQ_VALUE_PLAIN).arg(1)), QString::fromUtf8("включено"));
  EXPECT_EQ(root->GetStrNode(QString(DXQ_USTAV_LEVEL_TEXT).arg(1)), QString::fromUtf8("МТЗ"));
  const IXXMLNode u = root->SelectSingleNode("ustav/ustav-num");
  EXPECT_EQ(u->SelectNodes(DX_MODBUS_FLASH)->GetCount(), 1);
  EXPECT_EQ(u->GetIntNode(QString(DX_MREG) + "[2]"), 61);
  EXPECT_EQ(root->SelectNodes(DXQ_GROUP_MREG)->GetMaxInt(), 61);
}
