#include "uUstav.h"
#include "../../common/uErrorOf.h"

#include "uErrors.h"
#include "uModbus.h"

#include <gtest/gtest.h>

namespace {
// A descriptor root with a measurement (mvp-mult 1, mvs-div 100, rated
// values in registers 32 and 33), a signed one (mvp-mult 10) and the setpoints given.
IXXMLNode Root(const QString &Setpoints) {
  static QList<IXXMLDocument> docs;
  IXXMLDocument d = NewXMLDocument();
  EXPECT_TRUE(d->LoadXML("<device-descriptor><measure><measure-item><modbus-flash>7</modbus-flash>"
                         "<mvp-mult>1</mvp-mult><mvs-div>100</mvs-div><mvp-mreg>32</mvp-mreg><mvs-mreg>33</mvs-mreg>"
                         "</measure-item><measure-item><modbus-flash>8</modbus-flash><mvp-mult>10</mvp-mult>"
                         "<byte-dopcode>4</byte-dopcode></measure-item></measure><ustav>" +
                         Setpoints + "</ustav></device-descriptor>"));
  docs << d;
  return d->GetDocumentElement();
}

const QString Num = "<ustav-num><record-type>50</record-type><modbus-acc>3</modbus-acc><ider>1</ider>"
                    "<string>Ток</string><word-measure-ider>7</word-measure-ider><word-min>100</word-min>"
                    "<mreg>100</mreg><mreg>150</mreg></ustav-num>";
const QString Bits = "<ustav-enum><record-type>53</record-type><modbus-acc>3</modbus-acc><string>Пуск</string>"
                     "<string><ider>0</ider><value>A</value></string><string><ider>1</ider><value>B</value></string>"
                     "<string><ider>2</ider><value>C</value></string><string><ider>3</ider><value>D</value></string>"
                     "<string><ider>4</ider><value>E</value></string><string><ider>5</ider><value>F</value></string>"
                     "<mreg>104</mreg><mreg>65535</mreg></ustav-enum>";
} // namespace

TEST(Ustav, ConvertsBetweenRegisterValuesAndTexts) {
  const TUstavList l = BuildUstavList(Root(Num + Bits), false);
  ASSERT_EQ(l.size(), 2u);
  TUstav &num = *l[0];
  TModbus image;
  image.SetWord(32, 600);
  image.SetWord(33, 5);
  num.UpdateMeasureFactors(image);
  const struct {
    const TUstav &U;
    bool Primary;
    int Value;
    const char *Text;  // ValueToText(Value)
    const char *Typed; // TextToValue gives Value back, or Error
    const char *Error;
  } cases[] = {
      {num, false, 1234, "12.34", "12.34", nullptr},
      {num, true, 1234, "1481", "1480,8", nullptr},
      {num, true, 0, "0.00", "0", nullptr},
      {num, false, 0, "0.00", "655.36", "Значение 655.36 вне диапазона 0.00..655.35"},
      {num, false, 0, "0.00", " -5", "Значение -5 вне диапазона 0.00..655.35"},
      {num, false, 0, "0.00", "x", "Не число: x"},
      {*l[1], false, 37, "10 0101", "10 0101", nullptr},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Typed);
    EXPECT_EQ(c.U.ValueToText(c.Value, c.Primary), QString::fromUtf8(c.Text));
    EXPECT_EQ(ErrorOf([&] { EXPECT_EQ(c.U.TextToValue(QString::fromUtf8(c.Typed), c.Primary), c.Value); }),
              QString::fromUtf8(c.Error ? c.Error : "no error"));
  }
  EXPECT_EQ(num.LimitLine(99, false), "\r\nПомилка \"Ток\" < 1.00");
  EXPECT_EQ(num.LimitLine(100, false), "");
  EXPECT_EQ(num.Regs[0], 100);
  EXPECT_EQ(num.Reg(2), -1);   // no third group register
  EXPECT_EQ(l[1]->Reg(1), -1); // 65535: none

  // A rated value of 0 is taken as 1.
  image.SetWord(33, 0);
  num.UpdateMeasureFactors(image);
  EXPECT_EQ(num.MvsValue, 1);
}

// A setpoint of a signed measurement is a two's-complement word wherever it
// is shown, typed or checked; the word written is the same.
TEST(Ustav, SignedSetpointIsShownTypedAndCheckedSigned) {
  const TUstavList l = BuildUstavList(
      Root("<ustav-num><record-type>50</record-type><modbus-acc>3</modbus-acc><string>Угол</string>"
           "<word-measure-ider>8</word-measure-ider><word-min>65531</word-min><word-max>5</word-max>"
           "<mreg>100</mreg></ustav-num>"),
      false);
  ASSERT_EQ(l.size(), 1u);
  const TUstav &u = *l[0];
  const struct {
    bool Primary;
    int Word;
    const char *Text;  // ValueToText(Word)
    const char *Typed; // TextToValue gives Word back, or Error
    const char *Error;
    const char *Limit; // LimitLine(Word)
  } cases[] = {
      {false, 65531, "-5", "-5", nullptr, ""},
      {false, 5, "5", "5", nullptr, ""},
      {false, 65530, "-6", "-6", nullptr, "\r\nПомилка \"Угол\" < -5"},
      {false, 6, "6", "6", nullptr, "\r\nПомилка \"Угол\" > 5"},
      {true, 65531, "-50.00", "-50", nullptr, ""},
      {false, 0, "0", "-32769", "Значение -32769 вне диапазона -32768..32767", ""},
      {false, 0, "0", "32768", "Значение 32768 вне диапазона -32768..32767", ""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Typed);
    EXPECT_EQ(u.ValueToText(c.Word, c.Primary), QString::fromUtf8(c.Text));
    EXPECT_EQ(ErrorOf([&] { EXPECT_EQ(u.TextToValue(QString::fromUtf8(c.Typed), c.Primary), c.Word); }),
              QString::fromUtf8(c.Error ? c.Error : "no error"));
    EXPECT_EQ(u.LimitLine(c.Word, c.Primary), QString::fromUtf8(c.Limit));
  }
}

// A word-max of 0 is no range only where nothing lies below it.
TEST(Ustav, WordMaxZeroIsRefusedUnlessASignedMinimumLiesBelowIt) {
  const struct {
    int Measure; // 7 unsigned, 8 signed
    int Min;
    const char *Error;
  } cases[] = {{8, 65526, "no error"}, {8, 0, "invalid FMaxVal"}, {7, 65526, "invalid FMaxVal"}, {7, 0, "invalid FMaxVal"}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Measure * 100000 + c.Min);
    const QString xml = QString("<ustav-num><record-type>50</record-type><modbus-acc>3</modbus-acc><string>Т</string>"
                                "<word-measure-ider>%1</word-measure-ider><word-min>%2</word-min><word-max>0</word-max>"
                                "<mreg>100</mreg></ustav-num>")
                            .arg(c.Measure)
                            .arg(c.Min);
    EXPECT_EQ(ErrorOf([&] { BuildUstavList(Root(xml), false); }), c.Error);
  }
}

TEST(Ustav, ExpandedBitSetGivesOneYesNoRowPerPosition) {
  const TUstavList l = BuildUstavList(Root(Bits), true);
  ASSERT_EQ(l.size(), 6u);
  const auto &b2 = static_cast<const TUstavBit &>(*l[2]);
  EXPECT_EQ(b2.Name, "Пуск / C");
  EXPECT_EQ(b2.ValueToText(37, false), "Да");
  EXPECT_EQ(l[1]->ValueToText(37, false), "Нет");
  EXPECT_EQ(b2.Apply(0x0001, 1), 0x0005);
  EXPECT_EQ(b2.Apply(0x0005, 0), 0x0001);
  EXPECT_FALSE(b2.Differs(0x0005, 0x0004 | 0x0002));
  EXPECT_TRUE(b2.Differs(0x0005, 0x0001));

  EXPECT_THROW(BuildUstavList(Root("<ustav-num><modbus-acc>1</modbus-acc><word-max>0</word-max></ustav-num>"), false),
               EKvError);
  EXPECT_THROW(
      BuildUstavList(Root("<ustav-num><modbus-acc>1</modbus-acc><word-measure-ider>9</word-measure-ider></ustav-num>"),
                     false),
      EKvError);
}
