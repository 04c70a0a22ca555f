#include "uUstavSetFile.h"
#include "../../common/uErrorOf.h"

#include <gtest/gtest.h>

namespace {
// A set of two readable setpoints (registers 100/101 and 110/111 in groups 1
// and 2, a third group at 102) and a write-only one at 120; Items go into
// `modbus` on line 4, Extra into the descriptor's `ustav` (on line 2).
QByteArray Set(const QByteArray &Items, const QByteArray &Extra = {}) {
  return "<stored-ustav><device-descriptor><ustav><group-mreg>300</group-mreg><group-mreg>400</group-mreg>"
         "<group-mreg>500</group-mreg>\n"
         "<ustav-num><mreg>100</mreg><mreg>101</mreg><mreg>102</mreg><modbus-acc>3</modbus-acc></ustav-num>"
         "<ustav-enum><mreg>110</mreg><mreg>111</mreg><modbus-acc>1</modbus-acc></ustav-enum>"
         "<ustav-num><mreg>120</mreg><modbus-acc>2</modbus-acc></ustav-num>" +
         Extra + "</ustav></device-descriptor>\n<modbus>\n" + Items + "</modbus></stored-ustav>\n";
}

QByteArray Items(int Count) {
  QByteArray b;
  for (int i = 0; i < Count; ++i)
    b += "<item mreg=\"500\" val=\"1\"/>";
  return b;
}

QString Values(const QByteArray &Bytes) {
  QStringList out;
  for (const auto &[reg, value] : ReadUstavSetBytes(Bytes, "set.us").Values)
    out << QString("%1=%2").arg(reg).arg(value);
  return out.join(' ');
}
} // namespace

TEST(UstavSetFile, ReadsTheFirstValueOfEachReadableSetpointOfTheStoredGroups) {
  EXPECT_EQ(Values(Set("<item mreg=\"101\" val=\"65535\"/><item mreg=\"100\" val=\"7\"/><item mreg=\"100\" val=\"8\"/>"
                       "<item mreg=\"102\" val=\"9\"/><item mreg=\"120\" val=\"4\"/><item mreg=\"110.0\" val=\"3\"/>")),
            "100=7 101=65535 110=3");
  EXPECT_EQ(ReadUstavSetBytes(Set({}), "set.us").Groups, 2);
}

TEST(UstavSetFile, RefusesSetsPastTheirLimitsAndSaysWhy) {
  const struct {
    QByteArray Bytes;
    QString Error;
  } cases[] = {
      {Set("<item mreg=\"100\" val=\"65536\"/>"), "set.us, line 4: val = 65536 lies outside 0..65535"},
      {Set("<item mreg=\"999\" val=\"-1\"/>"), "set.us, line 4: val = -1 lies outside 0..65535"},
      {Set("<item mreg=\"70000\" val=\"1\"/>"), "set.us, line 4: mreg = 70000 lies outside 0..65535"},
      {Set("<item mreg=\"100\" val=\"x\"/>"), "'x' is not a valid integer value"},
      {Set(Items(20000)), "no error"},
      {Set(Items(20001)), "set.us, line 4: more than 20000 stored values"},
      {Set({}, "<x>" + QByteArray("<x>").repeated(60) + QByteArray("</x>").repeated(61)), "no error"},
      {Set({}, "\n" + QByteArray("<x>").repeated(62) + QByteArray("</x>").repeated(62)),
       "set.us, line 3: nesting deeper than 64 levels"},
      {"<stored-ustav><modbus/></stored-ustav>", "invalid format"},
  };
  for (const auto &c : cases)
    EXPECT_EQ(ErrorOf([&] { ReadUstavSetBytes(c.Bytes, "set.us"); }), c.Error) << c.Bytes.right(80).toStdString();
  EXPECT_EQ(ErrorOf([] { ReadUstavSetFile("/nonexistent/set.us"); }), "invalid format");
  EXPECT_TRUE(ErrorOf([] { ReadUstavSetBytes("<stored-ustav>", "set.us"); }).startsWith("invalid format\r\nset.us: "));
}
