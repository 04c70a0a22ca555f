#include "ixml.h"
#include "uCharMap.h"
#include "uErrorOf.h"
#include "uErrors.h"
#include "uModbus.h"
#include "uTextCodec.h"

#include <QBuffer>
#include <gtest/gtest.h>
#include <memory>

namespace {

IXXMLNode Parse(const QString &Xml) {
  static std::vector<IXXMLDocument> keep;
  IXXMLDocument d = NewXMLDocument();
  EXPECT_TRUE(d->LoadXML(Xml));
  keep.push_back(d);
  return d->GetDocumentElement();
}

class ModbusTest : public ::testing::Test {
protected:
  void SetUp() override {
    SetCharMap(BuiltInCharMap());
    Modbus().Clear();
  }
  void TearDown() override { Modbus().Clear(); }
};

} // namespace

TEST_F(ModbusTest, ClearedImageHoldsInvalidAllOnes) {
  TModbus m;
  m.SetWord(7, 0);
  EXPECT_TRUE(m.IsValid(7));
  m.Clear();
  EXPECT_EQ(m.GetWord(7), 65535);
  EXPECT_FALSE(m.IsValid(7));
  EXPECT_EQ(m.GetAccess(7), 0);
  m.SetWord(7, 0);
  m.SetValid(7, false);
  EXPECT_FALSE(m.IsValid(7));
  *m.WordPtr(1023) = 0x1234;
  EXPECT_EQ(m.GetWord(1023), 0x1234);
}

TEST_F(ModbusTest, RegistersOutsideTheImageAreRangeErrorsExceptForIsValid) {
  TModbus m;
  for (int reg : {1024, -1, 65535}) {
    EXPECT_FALSE(m.IsValid(reg));
    EXPECT_THROW(m.GetWord(reg), EKvRange);
    EXPECT_THROW(m.SetWord(reg, 1), EKvRange);
    EXPECT_THROW(m.SetValid(reg, true), EKvRange);
    EXPECT_THROW(m.GetAccess(reg), EKvRange);
    EXPECT_THROW(m.WordPtr(reg), EKvRange);
  }
}

TEST_F(ModbusTest, AccessMapCoversWordCountAndTheSecondRegister) {
  TModbus m;
  m.LoadAccessMap(Parse(QStringLiteral(
      "<device-descriptor><param>"
      "<param-char><modbus-acc>5</modbus-acc><word-count>3</word-count><mreg>100</mreg></param-char>"
      "<param-num><modbus-acc>7</modbus-acc><mreg>65535</mreg></param-num>"
      "</param><ustav><ustav-num><modbus-acc>3</modbus-acc><modbus-acc>9</modbus-acc><word-count>1</word-count>"
      "<mreg>200</mreg><mreg>250</mreg></ustav-num>"
      "<ustav-enum><modbus-acc>1</modbus-acc><mreg>300</mreg><mreg>65535</mreg></ustav-enum></ustav>"
      "</device-descriptor>")));
  const struct { int Reg, Acc; } expect[] = {{99, 0}, {100, 5}, {101, 5}, {102, 5}, {103, 0},
                                             {200, 3}, {201, 0}, {250, 3}, {300, 1}, {301, 0}};
  for (const auto &e : expect)
    EXPECT_EQ(m.GetAccess(e.Reg), e.Acc) << e.Reg;
}

TEST_F(ModbusTest, AccessMapRefusesMissingAccessAndRegistersBeyondTheImage) {
  TModbus m;
  const QString error = ErrorOf([&] { m.LoadAccessMap(Parse(QStringLiteral("<d><x><mreg>4</mreg></x></d>"))); });
  EXPECT_TRUE(error.startsWith(QStringLiteral("invalid IntNode\r\npath\r\nmodbus-acc"))) << error.toStdString();
  EXPECT_THROW(m.LoadAccessMap(Parse(QStringLiteral(
                   "<d><x><modbus-acc>1</modbus-acc><word-count>2</word-count><mreg>1023</mreg></x></d>"))),
               EKvRange);
  EXPECT_EQ(m.GetAccess(1023), 1); // set before the range error ended the load
}

TEST_F(ModbusTest, RegisterListHoldsOddAccessRegistersLittleEndian) {
  TModbus m;
  QByteArray data("old content");
  QBuffer b(&data);
  b.open(QIODevice::ReadWrite);
  m.SaveRegList(b);
  EXPECT_TRUE(data.isEmpty()); // every access byte even: nothing at all

  m.LoadAccessMap(Parse(QStringLiteral(
      "<d><a><modbus-acc>2</modbus-acc><mreg>1</mreg></a><b><modbus-acc>3</modbus-acc><word-count>2</word-count>"
      "<mreg>255</mreg></b></d>")));
  m.SaveRegList(b);
  EXPECT_EQ(data, QByteArray::fromHex("ff000001"));
}

TEST_F(ModbusTest, RegisterValuesGoIntoTheGlobalImageUntilARegisterIsOutOfRange) {
  TModbus local;
  QByteArray data = QByteArray::fromHex("0500" "3412" "ff03" "0100" "0004" "0000" "0600");
  QBuffer b(&data);
  b.open(QIODevice::ReadOnly);
  b.seek(6);
  EXPECT_THROW(local.LoadRegValues(b), EKvRange);
  EXPECT_FALSE(local.IsValid(5));
  EXPECT_EQ(Modbus().GetWord(5), 0x1234);
  EXPECT_EQ(Modbus().GetWord(1023), 0x0001);
  EXPECT_FALSE(Modbus().IsValid(6));
}

TEST_F(ModbusTest, TextEndsAtTheFirstZeroAndPassesTheCharacterMap) {
  const struct { std::vector<uint16_t> Regs; int Count; const char *Text; } cases[] = {
      {{0x3132, 0x3300, 0x4142, 0x4344}, 4, "123"},
      {{0x4142, 0x4300}, 2, "АВС"},
      {{0x0041, 0x4242}, 2, ""},
      {{0xA0A1, 0xE97E}, 2, "БГ~"}, // 0x7E is nobody's display code
      {{0x3132, 0x3334}, 1, "12"},
  };
  for (const auto &c : cases) {
    Modbus().Clear();
    for (size_t i = 0; i < c.Regs.size(); ++i)
      Modbus().SetWord(10 + int(i), c.Regs[i]);
    TModbus other; // reads the global image whichever instance it is
    EXPECT_EQ(other.GetString(10, c.Count), QString::fromUtf8(c.Text)) << c.Text;
  }
}

TEST_F(ModbusTest, TypedTextBecomesDisplayCodes) {
  EXPECT_EQ(TModbus::DecodeChars(QString::fromUtf8("Ба1")), QByteArray("\xA0\x61\x31"));
}

TEST_F(ModbusTest, AssignCopiesValuesFlagsAndAccess) {
  TModbus a, b;
  a.SetWord(3, 42);
  a.LoadAccessMap(Parse(QStringLiteral("<d><x><modbus-acc>6</modbus-acc><mreg>4</mreg></x></d>")));
  b.Assign(a);
  EXPECT_EQ(b.GetWord(3), 42);
  EXPECT_TRUE(b.IsValid(3));
  EXPECT_EQ(b.GetAccess(4), 6);
}
