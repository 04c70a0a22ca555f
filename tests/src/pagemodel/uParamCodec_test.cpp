#include "uParamCodec.h"
#include "../../common/uErrorOf.h"

#include "uBitText.h"
#include "uCharMap.h"
#include "uErrors.h"
#include "uModbus.h"

#include <QBuffer>
#include <gtest/gtest.h>

namespace {
// A parameter element as the run-time descriptor writes it.
IXXMLNode ParamNode(const QString &Xml) {
  static QList<IXXMLDocument> docs; // the nodes need their document
  IXXMLDocument d = NewXMLDocument();
  EXPECT_TRUE(d->LoadXML(Xml));
  docs << d;
  return d->GetDocumentElement();
}

const QString Num2 = "<param-num><mreg>50</mreg><modbus-acc>3</modbus-acc><word-koef>2</word-koef></param-num>";
const QString Num7 = "<param-num><mreg>50</mreg><modbus-acc>3</modbus-acc><word-koef>7</word-koef></param-num>";
const QString Num0 = "<param-num><mreg>50</mreg><modbus-acc>3</modbus-acc></param-num>";
const QString Enum = "<param-enum><mreg>50</mreg><modbus-acc>3</modbus-acc>"
                     "<string><ider>0</ider><value>Выведен</value></string>"
                     "<string><ider>1</ider><value>Введен</value></string></param-enum>";
const QString Char2 = "<param-char><mreg>50</mreg><modbus-acc>3</modbus-acc><word-count>2</word-count></param-char>";
} // namespace

TEST(ParamCodec, ShowsParsesAndPacksAsTheDeviceExpects) {
  SetCharMap(BuiltInCharMap());
  const auto code = [](char C) { return uint16_t(CharMapToDevice[uint8_t(C)]); };
  const struct {
    const QString &Xml;
    int Word;          // register value; -1: never read
    const char *Shown; // cell text
    bool Matches;      // the shown text needs no write
    const char *Typed; // an accepted edit
    TRegWrites Writes; // empty with Error set: the edit is refused
    const char *Error;
  } cases[] = {
      {Num2, 1234, "12.34", true, "12.346", {{50, 1235}}, nullptr},
      {Num2, 0, "0.00", true, "0.125", {{50, 12}}, nullptr},
      {Num2, 0, "0.00", true, "0.135", {{50, 14}}, nullptr},
      {Num7, 1234, "1234.0000000", true, "5", {{50, 5}}, nullptr},
      {Num0, 65535, "65535", true, "70000", {}, "Значение 70000 вне диапазона 0..65535"},
      {Num0, 1, "1", true, "-1", {}, "Значение -1 вне диапазона 0..65535"},
      {Num0, 1, "1", true, "AB", {}, "Не число: AB"},
      {Num2, 1, "0.01", true, "1,5", {}, "Не число: 1,5"},
      {Num2, 1, "0.01", true, "655.36", {}, "Значение 655.36 вне диапазона 0.00..655.35"},
      {Enum, 1, "Введен", true, "0", {{50, 0}}, nullptr},
      {Enum, 2, "N/D", false, "1", {{50, 1}}, nullptr},
      {Enum, -1, "", true, "1", {{50, 1}}, nullptr},
      {Char2, -1, "", true, "AB", {{50, uint16_t(code('A') | code('B') << 8)}, {51, 0}}, nullptr},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Xml.toStdString() + " " + c.Typed);
    const TParamCodec p(ParamNode(c.Xml));
    TModbus image;
    if (c.Word >= 0) {
      image.SetWord(50, uint16_t(c.Word));
      image.SetWord(51, 0);
    }
    EXPECT_EQ(p.Show(image), QString::fromUtf8(c.Shown));
    EXPECT_EQ(p.MatchesDevice(QString::fromUtf8(c.Shown), image), c.Matches);
    EXPECT_EQ(ErrorOf([&] { EXPECT_EQ(p.EditWrites(QString::fromUtf8(c.Typed)), c.Writes); }),
              QString::fromUtf8(c.Error ? c.Error : "no error"));
  }
}

TEST(ParamCodec, PendingWritesSkipUnreadUnlistedAndUnchangedRows) {
  SetCharMap(BuiltInCharMap());
  TModbus image;
  const TParamCodec num(ParamNode(Num2)), en(ParamNode(Enum)), text(ParamNode(Char2));
  EXPECT_TRUE(num.PendingWrites("12.34", image).empty()); // unread
  image.SetWord(50, 1234);
  image.SetWord(51, 0);
  EXPECT_TRUE(num.PendingWrites("12.34", image).empty());
  EXPECT_EQ(num.PendingWrites("12.35", image), (TRegWrites{{50, 1235}}));
  EXPECT_THROW(num.PendingWrites("700", image), EKvRange);
  EXPECT_TRUE(en.PendingWrites("N/D", image).empty());
  EXPECT_EQ(en.PendingWrites("Введен", image), (TRegWrites{{50, 1}}));
  // The device holds "AB" high byte first; a shortened text is written over both registers.
  const QByteArray abc = TModbus::DecodeChars("ЖЗИ");
  image.SetWord(50, uint16_t(uint8_t(abc[0]) << 8 | uint8_t(abc[1])));
  image.SetWord(51, uint16_t(uint8_t(abc[2]) << 8));
  EXPECT_EQ(text.Show(image), "ЖЗИ");
  EXPECT_TRUE(text.PendingWrites("ЖЗИ", image).empty());
  EXPECT_EQ(text.PendingWrites("Ж", image), (TRegWrites{{50, uint8_t(abc[0])}, {51, 0}}));
  EXPECT_EQ(text.PendingWrites("", image), (TRegWrites{{50, 0}, {51, 0}}));
}

TEST(ParamCodec, RegListFromPairsAndBitTexts) {
  QBuffer pairs, list;
  pairs.open(QIODevice::ReadWrite);
  list.open(QIODevice::ReadWrite);
  list.write("stale");
  StreamWritePairs(pairs, {{0x0102, 7}, {0x0304, 8}});
  RegListFromPairs(pairs, list);
  EXPECT_EQ(list.data(), QByteArray("\x02\x01\x04\x03", 4));
  EXPECT_EQ(KoefFactor(0), 1);
  EXPECT_EQ(KoefFactor(3), 1000);
  EXPECT_EQ(KoefFactor(4), 1);

  EXPECT_EQ(BitsToText(37, 6), "10 0101");
  EXPECT_EQ(BitsToText(0, 0), "");
  EXPECT_EQ(TextToBits("10 0101"), 37);
  EXPECT_EQ(TextToBits("1x1"), 3);
  EXPECT_EQ(TextToBits(BitsToText(0xFFFF, 16)), 0xFFFF);
}
