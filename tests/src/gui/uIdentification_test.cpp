#include "uIdentification.h"

#include "../../common/uErrorOf.h"
#include "crc.h"
#include "uErrors.h"

#include <gtest/gtest.h>
#include <ostream>

void PrintTo(const QString &S, std::ostream *Os) { *Os << '"' << S.toStdString() << '"'; }

namespace {
QByteArray Words(std::initializer_list<uint16_t> W) {
  QByteArray b;
  for (uint16_t w : W) {
    b.append(char(w & 0xFF));
    b.append(char(w >> 8));
  }
  return b;
}

// One calibration record as the FLASH read gives it: four (register, value)
// pairs; only the values count, the last is the SRAM of the current value.
QByteArray CalibrationRecord(uint16_t Mdir, uint16_t Cang) {
  return Words({0x1F11, Mdir, 0x1F12, 0x0800, 0x1F13, 0x0810, 0x1F14, Cang});
}

QByteArray FlashHead(uint8_t Format, uint8_t Count, std::initializer_list<uint16_t> Blocks) {
  QByteArray h(16, '\0');
  h[0] = char(Format);
  h[1] = char(Count);
  int at = 2;
  for (uint16_t b : Blocks) {
    h[at] = char(b & 0xFF), h[at + 1] = char(b >> 8);
    at += 2;
  }
  const uint16_t crc = Crc16(h.constData(), 14);
  h[14] = char(crc & 0xFF), h[15] = char(crc >> 8);
  return h;
}
} // namespace

// ---------------------------------------------------------------- rules

TEST(Identification, MeasureFactorRequestTakesEachRegisterOnce) {
  IXXMLDocument doc = NewXMLDocument();
  ASSERT_TRUE(doc->LoadXML("<device-descriptor><measure>"
                           "<measure-item><mvp-mreg>32</mvp-mreg><mvs-mreg>33</mvs-mreg></measure-item>"
                           "<measure-item><mvp-mreg>32</mvp-mreg><mvs-mreg>33</mvs-mreg></measure-item>"
                           "<measure-item><mvs-mreg>300</mvs-mreg></measure-item>"
                           "<measure-item/></measure></device-descriptor>"));
  EXPECT_EQ(MeasureFactorRequest(doc->GetDocumentElement()), Words({32, 33, 300}));
  ASSERT_TRUE(doc->LoadXML("<device-descriptor><measure><measure-item><mvp-mreg>65536</mvp-mreg>"
                           "</measure-item></measure></device-descriptor>"));
  EXPECT_THROW(MeasureFactorRequest(doc->GetDocumentElement()), EKvRange);
}

TEST(Identification, CalibrationSramRequestSkipsRepeatsAndNone) {
  const struct {
    QByteArray Source;
    QByteArray Request;
  } cases[] = {
      {{}, {}},
      {CalibrationRecord(0x100, 0x700) + CalibrationRecord(0x102, 0x701), Words({0x700, 0x701})},
      // Two consecutive records with one SRAM address: asked once.
      {CalibrationRecord(0x100, 0x700) + CalibrationRecord(0x102, 0x700), Words({0x700})},
      // $FFFF asks for nothing; a repeat after another address is asked again.
      {CalibrationRecord(0x100, 0xFFFF) + CalibrationRecord(0x100, 0x700) + CalibrationRecord(0x100, 0x701) +
           CalibrationRecord(0x100, 0x700),
       Words({0x700, 0x701, 0x700})},
      // A trailing partial record is not read.
      {CalibrationRecord(0x100, 0x700) + Words({1, 2, 3}), Words({0x700})},
  };
  for (const auto &c : cases)
    EXPECT_EQ(CalibrationSramRequest(c.Source), c.Request) << c.Source.toHex().toStdString();
}

TEST(Identification, FlashHeaderCrcIsCheckedOverItsFirstFourteenBytes) {
  const QByteArray good = FlashHead(1, 6, {1, 2, 3, 4, 5, 64});
  EXPECT_NO_THROW(CheckFlashHeaderBytes(good));
  EXPECT_NO_THROW(CheckFlashHeaderBytes(good + QByteArray(2032, '\0')));
  for (int at : {0, 13, 14, 15}) {
    QByteArray bad = good;
    bad[at] = char(bad[at] ^ 0x01);
    EXPECT_EQ(ErrorOf([&] { CheckFlashHeaderBytes(bad); }), "Ошибка контрольной суммы FLASH") << at;
  }
  EXPECT_THROW(CheckFlashHeaderBytes(good.left(15)), EKvError);
}

TEST(Identification, SubFileStartNeedsFormatOneAndSixFiles) {
  EXPECT_EQ(FlashSubFileStart(FlashHead(1, 6, {1, 2, 3, 4, 5, 0x1234}), 5), 0x1234);
  EXPECT_EQ(FlashSubFileStart(FlashHead(1, 6, {1, 2, 3, 4, 5, 64}), 0), 1);
  for (const QByteArray &head :
       {FlashHead(1, 5, {1, 2, 3, 4, 5, 64}), FlashHead(2, 6, {1, 2, 3, 4, 5, 64}), QByteArray()})
    EXPECT_EQ(ErrorOf([&] { FlashSubFileStart(head, 5); }), "Ошибка формата FLASH");
  EXPECT_THROW(FlashSubFileStart(FlashHead(1, 6, {}), 6), EKvRange);
}

TEST(Identification, CalibrationCountAboveThirtyTwoIsRefused) {
  EXPECT_EQ(CalibrationItemCount(0), 0);
  EXPECT_EQ(CalibrationItemCount(32), 128);
  for (int n : {33, 64, 255})
    EXPECT_EQ(ErrorOf([&] { CalibrationItemCount(n); }),
              QString("Ошибка калибровки: недопустимое число записей %1").arg(n));
}

// Only an answer that names another device is another relay; the others
// leave the identity unconfirmed.
TEST(Identification, OnlyExceptionsOneToThreeOrAnotherUnitOrFunctionNameAnotherDevice) {
  const struct {
    QString Text;
    std::optional<TForeignSign> Sign;
    bool Another;
  } cases[] = {
      {"Ошибка устройства 01", {}, true},
      {"Ошибка устройства 02", {}, true},
      {"Ошибка устройства 03", {}, true},
      {"Ошибка устройства 04", {}, false},
      {"Ошибка устройства 06: устройство занято", {}, false},
      {"Ошибка устройства 0b", TForeignSign::GatewayTarget, false},
      {"Ошибка контрольной суммы ответа", {}, false},
      {"Неполный ответ устройства", {}, false},
      {"Неверный ответ устройства", {}, false},
      {"Неверный ответ устройства", TForeignSign::WrongAnswer, true},
      {"Нет ответа от устройства", {}, false},
  };
  for (const auto &c : cases)
    EXPECT_EQ(NamesAnotherDevice(c.Text, c.Sign), c.Another) << c.Text.toStdString();
}

TEST(Identification, PasswordRangeMustLieInTheRegisterImage) {
  const struct {
    int Reg, Count;
    bool Valid;
  } cases[] = {{0, 1, true},   {1022, 2, true}, {1023, 1, true}, {1023, 2, false}, {0xFFFF, 0xFFFF, false},
               {-1, 2, false}, {10, 0, false}};
  for (const auto &c : cases)
    EXPECT_EQ(IsPasswdRangeValid(c.Reg, c.Count), c.Valid) << c.Reg << " " << c.Count;
}

TEST(Identification, CustomLogicNamesReplaceBitAndSetpointNames) {
  IXXMLDocument desc = NewXMLDocument();
  ASSERT_TRUE(desc->LoadXML(
      "<device-descriptor><param><input-output>"
      "<param-bitreg><record-type>17</record-type><string><ider>0</ider><value>In 1</value></string>"
      "<string><ider>1</ider><value>In 2</value></string></param-bitreg>"
      "<param-bitreg><record-type>18</record-type><string><ider>0</ider><value>Out 1</value></string>"
      "</param-bitreg></input-output></param>"
      "<ustav><ustav-num><ider>1</ider><string>S1</string></ustav-num>"
      "<ustav-enum><ider>2</ider><string><ider>0</ider><value>a</value></string><string>S2</string></ustav-enum>"
      "</ustav></device-descriptor>"));
  IXXMLDocument logic = NewXMLDocument();
  ASSERT_TRUE(logic->LoadXML("<x><dd-di><item caption=\"Вход А\"/><item caption=\"Вход Б\"/>"
                             "<item caption=\"нет такого\"/></dd-di>"
                             "<dd-do><item caption=\"Реле А\"/></dd-do>"
                             "<dd-ustav><item ider=\"2\" caption=\"Уставка 2\"/><item ider=\"9\" caption=\"x\"/>"
                             "</dd-ustav></x>"));
  const IXXMLNode root = desc->GetDocumentElement();
  ApplyCustomLogicNames(root, logic->GetDocumentElement());
  const QString bits = "param/input-output/param-bitreg[record-type=%1]/string[ider=%2]/value";
  EXPECT_EQ(root->GetStrNode(bits.arg(17).arg(0)), "Вход А");
  EXPECT_EQ(root->GetStrNode(bits.arg(17).arg(1)), "Вход Б");
  EXPECT_EQ(root->GetStrNode(bits.arg(18).arg(0)), "Реле А");
  EXPECT_EQ(root->GetStrNode("ustav/*[ider=1]/string[not(ider)]"), "S1");
  EXPECT_EQ(root->GetStrNode("ustav/*[ider=2]/string[not(ider)]"), "Уставка 2");
  EXPECT_EQ(root->GetStrNode("ustav/*[ider=2]/string[ider=0]/value"), "a");
}
