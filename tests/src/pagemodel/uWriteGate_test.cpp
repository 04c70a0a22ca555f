#include "uWriteGate.h"

#include "uModbus.h"
#include "uMultiLingual.h"
#include "uUstav.h"
#include "uUstavSetFile.h"

#include <gtest/gtest.h>
#include <optional>

namespace {
// A descriptor root with parameters and setpoints as the run-time descriptor
// writes them: a scaled number limited to 1.00..50.00, a plain number
// limited to 1..247, one without limits, a two-item enumeration, a
// two-register text, a setpoint limited to 10..6000 in hundredths, an
// enumerated setpoint of three items and a bit set.
IXXMLNode Root() {
  static IXXMLDocument d;
  if (!d) {
    d = NewXMLDocument();
    EXPECT_TRUE(d->LoadXML(
        "<device-descriptor><param>"
        "<param-num><mreg>50</mreg><modbus-acc>3</modbus-acc><word-koef>2</word-koef><word-min>100</word-min>"
        "<word-max>5000</word-max><string>Время возврата</string></param-num>"
        "<param-num><mreg>31</mreg><modbus-acc>3</modbus-acc><word-min>1</word-min><word-max>247</word-max>"
        "<string>Адрес</string></param-num>"
        "<param-num><mreg>40</mreg><modbus-acc>3</modbus-acc><word-min>0</word-min><word-max>0</word-max>"
        "<string>Счетчик</string></param-num>"
        "<param-enum><mreg>30</mreg><modbus-acc>3</modbus-acc><string>Режим</string>"
        "<string><ider>0</ider><value>Выведен</value></string>"
        "<string><ider>1</ider><value>Введен</value></string></param-enum>"
        "<param-char><mreg>34</mreg><modbus-acc>3</modbus-acc><word-count>2</word-count>"
        "<string>Имя</string></param-char>"
        "</param><ustav>"
        "<ustav-num><record-type>50</record-type><modbus-acc>3</modbus-acc><string>Выдержка</string>"
        "<word-min>10</word-min><word-max>6000</word-max><mreg>101</mreg><mreg>151</mreg></ustav-num>"
        "<ustav-enum><record-type>49</record-type><modbus-acc>3</modbus-acc><string>Направленность</string>"
        "<string><ider>0</ider><value>нет</value></string><string><ider>1</ider><value>вперед</value></string>"
        "<string><ider>2</ider><value>назад</value></string><mreg>102</mreg><mreg>152</mreg></ustav-enum>"
        "<ustav-enum><record-type>53</record-type><modbus-acc>3</modbus-acc><string>Пуск</string>"
        "<string><ider>0</ider><value>A</value></string><mreg>104</mreg><mreg>154</mreg></ustav-enum>"
        "</ustav></device-descriptor>"));
  }
  return d->GetDocumentElement();
}

QString Line(const char *Name, const char *Op, const char *Limit) {
  return QString("\r\nПомилка \"%1\" %2 %3").arg(QString::fromUtf8(Name), Op, QString::fromUtf8(Limit));
}
} // namespace

TEST(WriteGate, EveryWriteOfABoundControlMeetsItsDescriptorLimits) {
  const struct {
    uint16_t Reg, Word, Mask;
    const char *Name;
    QString Report; // "" inside the limits
  } cases[] = {
      {50, 99, 0xFFFF, "Время возврата", Line("Время возврата", "<", "1.00")},
      {50, 100, 0xFFFF, "Время возврата", ""},
      {50, 5000, 0xFFFF, "Время возврата", ""},
      {50, 5001, 0xFFFF, "Время возврата", Line("Время возврата", ">", "50.00")},
      {31, 0, 0xFFFF, "Адрес", Line("Адрес", "<", "1")},
      {31, 300, 0xFFFF, "Адрес", Line("Адрес", ">", "247")},
      {40, 65535, 0xFFFF, "Счетчик", ""}, // 0..0: the descriptor gives no limits
      {30, 1, 0xFFFF, "Режим", ""},
      {30, 2, 0xFFFF, "Режим", Line("Режим", ">", "Введен")}, // a list's limit is its item
      {101, 7000, 0xFFFF, "Выдержка", Line("Выдержка", ">", "6000")},
      {151, 9, 0xFFFF, "Выдержка", Line("Выдержка", "<", "10")},
      {151, 10, 0xFFFF, "Выдержка", ""},
      {102, 3, 0xFFFF, "Направленность", Line("Направленность", ">", "назад")},
      {152, 2, 0xFFFF, "Направленность", ""},
      {104, 0xFFFF, 0xFFFF, "Пуск", ""},       // a bit set takes any word
      {101, 0x0001, 0x0001, "Выдержка", ""},   // a masked bit: the rest is the device's
      {500, 65535, 0xFFFF, "500", ""},         // nothing describes register 500
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(std::to_string(c.Reg) + " " + std::to_string(c.Word));
    TWriteBatch batch;
    const TWriteValue v = DescribedWriteValue(Root(), c.Reg, c.Word, c.Mask);
    EXPECT_EQ(v.Name, QString::fromUtf8(c.Name));
    EXPECT_EQ(v.Words, (TRegWrites{{c.Reg, c.Word}}));
    EXPECT_EQ(v.Mask, c.Mask);
    batch.Add(v);
    EXPECT_EQ(batch.LimitReport(), c.Report);
  }
}

TEST(WriteGate, PageValuesReportOneLinePerValueOutsideInBatchOrder) {
  const IXXMLNodeList params = Root()->SelectNodes("param/*");
  const TParamCodec scaled(params->GetItem(0)), mode(params->GetItem(3)), name(params->GetItem(4));
  TUstavList setpoints = BuildUstavList(Root(), false);
  ASSERT_EQ(setpoints.size(), 3u);
  const TUstav &delay = *setpoints[0];

  TWriteBatch batch;
  batch.Add(ParamWriteValue(scaled, scaled.EditWrites("0.5"), "0.5"));
  batch.Add(ParamWriteValue(name, name.EditWrites("ABCD"), "ABCD")); // four characters fill two registers
  batch.Add(ParamWriteValue(name, name.EditWrites("ABCDE"), "ABCDE"));
  batch.Add(ParamWriteValue(mode, mode.EditWrites("1"), "1"));
  batch.Add(UstavWriteValue(delay, 101, 5, false));
  batch.Add(UstavWriteValue(delay, 151, 600, false));
  EXPECT_EQ(batch.LimitReport(), Line("Время возврата", "<", "1.00") + Line("Имя", ">", "4") + Line("Выдержка", "<", "10"));
  EXPECT_EQ(batch.Registers(), (std::vector<uint16_t>{50, 34, 35, 30, 101, 151}));
}

// One rule on every path that checks limits: word-min and word-max in the
// register's own type (a setpoint of a signed measurement is signed), and a
// pair still inverted refused as the descriptor's fault.
TEST(WriteGate, EveryPathReadsInvertedLimitsByOneRule) {
  MultiLingual() = TMultiLingual();
  const QString descriptor =
      "<device-descriptor><measure>"
      "<measure-item><modbus-flash>7</modbus-flash><byte-dopcode>4</byte-dopcode></measure-item>"
      "<measure-item><modbus-flash>8</modbus-flash><byte-dopcode>0</byte-dopcode></measure-item>"
      "</measure><param>"
      "<param-num><mreg>60</mreg><modbus-acc>3</modbus-acc><word-min>500</word-min><word-max>100</word-max>"
      "<string>Порог</string></param-num>"
      "<param-num><mreg>61</mreg><modbus-acc>3</modbus-acc><word-min>65036</word-min><word-max>100</word-max>"
      "<string>Сдвиг</string></param-num>"
      "</param><ustav><group-mreg>110</group-mreg><group-mreg>160</group-mreg>"
      "<ustav-num><record-type>50</record-type><modbus-acc>3</modbus-acc><word-measure-ider>8</word-measure-ider>"
      "<word-min>500</word-min><word-max>100</word-max><string>Уставка</string><mreg>110</mreg><mreg>160</mreg></ustav-num>"
      "<ustav-num><record-type>50</record-type><modbus-acc>3</modbus-acc><word-measure-ider>7</word-measure-ider>"
      "<word-min>65036</word-min><word-max>100</word-max><string>Угол</string><mreg>111</mreg><mreg>161</mreg></ustav-num>"
      "<ustav-num><record-type>50</record-type><modbus-acc>3</modbus-acc><word-measure-ider>7</word-measure-ider>"
      "<word-min>100</word-min><word-max>65036</word-max><string>Наклон</string><mreg>112</mreg><mreg>162</mreg></ustav-num>"
      "</ustav></device-descriptor>";
  IXXMLDocument doc = NewXMLDocument();
  ASSERT_TRUE(doc->LoadXML(descriptor));
  const IXXMLNode root = doc->GetDocumentElement();
  const TUstavSetFile set = ReadUstavSetBytes(("<stored-ustav>" + descriptor + "<modbus/></stored-ustav>").toUtf8(), "s.us");
  // Each path gives the report of one value it writes; nullopt for a register it does not write.
  using TReport = std::optional<QString>;
  const auto report = [](const TWriteValue &V) {
    TWriteBatch batch;
    batch.Add(V);
    return TReport(batch.LimitReport());
  };
  const auto setpoint = [&](const IXXMLNode &Root, uint16_t Reg, uint16_t Word, bool EditMode) -> TReport {
    for (const auto &u : BuildUstavList(Root, false))
      if (u->Reg(0) == Reg)
        return EditMode ? TReport(u->LimitLine(Word, false)) : report(UstavWriteValue(*u, Reg, Word, false));
    return std::nullopt;
  };
  const std::pair<const char *, std::function<TReport(uint16_t Reg, uint16_t Word)>> paths[] = {
      {"parameters page",
       [&](uint16_t Reg, uint16_t Word) -> TReport {
         const IXXMLNode n = root->SelectSingleNode(QString("param/*[mreg=%1]").arg(Reg));
         return n ? report(ParamWriteValue(TParamCodec(n), {{Reg, Word}})) : std::nullopt;
       }},
      {"setpoints page", [&](uint16_t Reg, uint16_t Word) { return setpoint(root, Reg, Word, false); }},
      {"setpoints edit mode", [&](uint16_t Reg, uint16_t Word) { return setpoint(root, Reg, Word, true); }},
      {"set file", [&](uint16_t Reg, uint16_t Word) { return setpoint(set.Descriptor, Reg, Word, false); }},
      {"bound control", [&](uint16_t Reg, uint16_t Word) { return report(DescribedWriteValue(root, Reg, Word)); }},
  };
  const auto fault = [](const char *Name, const char *Min, const char *Max) {
    return QString("\r\nПомилка \"%1\" ошибка дескриптора: нижний предел %2 больше верхнего %3")
        .arg(QString::fromUtf8(Name), Min, Max);
  };
  const struct {
    uint16_t Reg, Word;
    QString Report;
  } cases[] = {
      {60, 300, fault("Порог", "500", "100")},
      {60, 50, fault("Порог", "500", "100")},
      {61, 65500, fault("Сдвиг", "65036", "100")}, // a parameter's word is unsigned
      {110, 300, fault("Уставка", "500", "100")},
      {111, 65500, ""},                            // -36 within -500..100
      {111, 200, Line("Угол", ">", "100")},
      {111, 65000, Line("Угол", "<", "-500")},
      {112, 0, fault("Наклон", "100", "-500")},    // inverted in its own type as well
  };
  for (const auto &[name, path] : paths)
    for (const auto &c : cases) {
      SCOPED_TRACE(std::string(name) + " " + std::to_string(c.Reg) + " " + std::to_string(c.Word));
      if (const TReport r = path(c.Reg, c.Word))
        EXPECT_EQ(*r, c.Report);
    }
}

TEST(WriteGate, ThePartialWriteTextNamesWhatDidNotGo) {
  MultiLingual() = TMultiLingual();
  EXPECT_EQ(PartialWriteText(1, 3, {"Выдержка", "Направленность"}),
            "Ошибка записи: записано 1 из 3, не записаны: Выдержка, Направленность");
  // The failure's reason follows, as the relay's answer told it.
  EXPECT_EQ(PartialWriteText(0, 1, {"Выдержка"}, "Ошибка устройства 06"),
            "Ошибка записи: записано 0 из 1, не записаны: Выдержка; Ошибка устройства 06");
}
