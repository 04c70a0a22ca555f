#include "uDeviceDescriptor.h"

#include "crc.h"
#include "uCharMap.h"
#include "uDescriptorDecoder.h"
#include "uErrors.h"
#include "uFiles.h"
#include "uMessageSink.h"
#include "uTextCodec.h"

#include "../../../common/uErrorOf.h"

#include <QBuffer>
#include <QTemporaryDir>
#include <gtest/gtest.h>

inline void PrintTo(const QString &S, std::ostream *Os) { *Os << '"' << S.toStdString() << '"'; }

namespace {

QString U(const char *S) { return QString::fromUtf8(S); }

// The firmware listing the descriptors below are bound to.
const char *const IdentLines[] = {
    ".EQU ADR_FLASH_B = $4000", ".EQU DIM_FLASH_B = $00080000", ".EQU ADR_SRAM = $0100",
    ".EQU DIM_SRAM = $1000", ".EQU ADR_EEPROM = $0000", ".EQU DIM_EEPROM = $0060", ".EQU ADR_UST = $0500",
    ".EQU DIM_UST = $0200", ".EQU ADR_DATE = $0710", ".EQU DIM_DATE = $0008", ".EQU ADR_CALIBR = $0720",
    "MODBUSMASS:",
    "M1: .BYTE 2 ; Ток фазы A", "M2: .BYTE 2 ; Мощность", "M3: .BYTE 2 ; Скрытое",
    "DI: .BYTE 4 ; входы", "RL: .BYTE 2 ; реле", "LE: .BYTE 2 ; светодиоды", "VI: .BYTE 2 ; вв", "VO: .BYTE 2 ; вых",
    "DATE: .BYTE 8 ; дата", "STAT: .BYTE 2 ; статус", "UST1: .BYTE 8 ; уставки", "UST2: .BYTE 8 ; уставки",
    "PE: .BYTE 2 ; режим", "PN: .BYTE 2 ; адрес", "PC: .BYTE 40 ; имя",
    "S1A: .BYTE 2 ; a # SPECIAL-EEPROM", "S1B: .BYTE 2 ; b #SPECIAL-EEPROM", "S2A: .BYTE 2 ; c # SPECIAL-EEPROM",
    "XC1: .BYTE 2 ; Первичный ток", "XD1: .BYTE 2 ; Вторичный ток", "XC2: .BYTE 2 ; Первичное напряжение",
    "END_MODBUS:"};

// A descriptor with every element the reader knows.
const char *const FullXml = R"(<?xml version="1.0" encoding="windows-1251"?>
<device-descriptor>
 <version>2</version>
 <measure>
  <measure-item><ider>1</ider><record-type>3</record-type><modbus-reg>0</modbus-reg><modbus-acc>1</modbus-acc>
   <modbus-id>M1</modbus-id><string>Ток фазы A длинное имя</string><short-string>Ia</short-string>
   <word-prim-val-mult>10</word-prim-val-mult><word-sec-val-div>100</word-sec-val-div>
   <mvp-id>XC1</mvp-id><mvs-id>XD1</mvs-id><byte-visible>1</byte-visible></measure-item>
  <measure-item><ider>2</ider><modbus-reg>1</modbus-reg><modbus-acc>1</modbus-acc><modbus-id>M2</modbus-id>
   <string>Мощность активная трехфазная</string><word-prim-val-mult>1000</word-prim-val-mult>
   <word-sec-val-div>7</word-sec-val-div><byte-dopkod>1</byte-dopkod><byte-offset-flag>1</byte-offset-flag>
   <byte-offset>500</byte-offset></measure-item>
  <measure-item><ider>3</ider><modbus-reg>2</modbus-reg><modbus-id>M3</modbus-id><string>Скрытое</string>
   <word-prim-val-mult>1</word-prim-val-mult><word-sec-val-div>1</word-sec-val-div><byte-visible>0</byte-visible></measure-item>
  <other/>
 </measure>
 <param>
  <word-var-addr>4096</word-var-addr><word-var-size>16</word-var-size><word-bin-addr>8192</word-bin-addr>
  <word-bin-size>32</word-bin-size><word-modbus-addr>77</word-modbus-addr>
  <param-ddo-date><ider>1</ider><modbus-reg>50</modbus-reg><modbus-acc>3</modbus-acc><modbus-id>DATE</modbus-id></param-ddo-date>
  <param-ddo-status><ider>2</ider><modbus-reg>54</modbus-reg><modbus-acc>1</modbus-acc><modbus-id>STAT</modbus-id></param-ddo-status>
  <param-ddo-ustav1><ider>3</ider><modbus-reg>100</modbus-reg><modbus-acc>7</modbus-acc><modbus-id>UST1</modbus-id></param-ddo-ustav1>
  <param-ddo-ustav2><ider>4</ider><modbus-reg>200</modbus-reg><modbus-acc>7</modbus-acc><modbus-id>UST2</modbus-id></param-ddo-ustav2>
  <input-output>
   <param-bitreg><ider>1</ider><record-type>17</record-type><modbus-reg>10</modbus-reg><modbus-acc>1</modbus-acc>
    <modbus-id>DI</modbus-id>BITS</param-bitreg>
   <param-bitreg><ider>2</ider><record-type>18</record-type><modbus-reg>12</modbus-reg><modbus-acc>1</modbus-acc>
    <modbus-id>RL</modbus-id><string><ider>0</ider><value>Реле 1</value><value>Р1</value></string></param-bitreg>
   <param-bitreg><ider>3</ider><record-type>19</record-type><modbus-reg>13</modbus-reg><modbus-id>LE</modbus-id></param-bitreg>
   <param-bitreg><ider>4</ider><record-type>20</record-type><modbus-reg>14</modbus-reg><modbus-acc>3</modbus-acc><modbus-id>VI</modbus-id></param-bitreg>
   <param-bitreg><ider>5</ider><record-type>21</record-type><modbus-reg>15</modbus-reg><modbus-id>VO</modbus-id></param-bitreg>
  </input-output>
  <param-enum><ider>1</ider><modbus-reg>20</modbus-reg><modbus-acc>7</modbus-acc><modbus-id>PE</modbus-id>
   <string>Режим</string><short-string>Реж</short-string><word-value>1</word-value>
   <string><ider>0</ider><value>Выведен</value><value>Выв</value></string>
   <string><ider>1</ider><value>Введен</value><value></value></string></param-enum>
  <param-num><ider>2</ider><modbus-reg>21</modbus-reg><modbus-acc>3</modbus-acc><modbus-id>PN</modbus-id>
   <string>Адрес</string><word-value>5</word-value><word-koef>100</word-koef><word-min>1</word-min><word-max>247</word-max></param-num>
  <param-char><ider>3</ider><modbus-reg>22</modbus-reg><modbus-acc>7</modbus-acc><modbus-id>PC</modbus-id>
   <string>Имя</string><string-value>abc</string-value><byte-value>20</byte-value><byte-passwd-char>42</byte-passwd-char></param-char>
  <param-num><ider>4</ider><modbus-reg>40</modbus-reg><modbus-acc>7</modbus-acc><modbus-id>S1A</modbus-id><string>s1a</string><word-koef>1</word-koef></param-num>
  <param-num><ider>5</ider><modbus-reg>41</modbus-reg><modbus-acc>7</modbus-acc><modbus-id>S1B</modbus-id><string>s1b</string><word-koef>1</word-koef></param-num>
  <param-num><ider>6</ider><modbus-reg>45</modbus-reg><modbus-acc>7</modbus-acc><modbus-id>S2A</modbus-id><string>s2a</string><word-koef>1</word-koef></param-num>
  <param-nummvp><ider>1</ider><modbus-reg>42</modbus-reg><modbus-acc>1</modbus-acc><modbus-id>XC1</modbus-id>
   <string>Первичный</string><word-koef>10</word-koef><word-max>5000</word-max></param-nummvp>
  <param-nummvp><ider>2</ider><modbus-id>XC9</modbus-id><string>пропавший</string><word-koef>1</word-koef></param-nummvp>
  <param-nummvs><ider>1</ider><modbus-reg>43</modbus-reg><modbus-acc>1</modbus-acc><modbus-id>XD1</modbus-id>
   <string>Вторичный</string><word-koef>1</word-koef><word-min>1</word-min><word-max>5</word-max></param-nummvs>
 </param>
 <event>
  <byte-code-offset>1</byte-code-offset><byte-front-offset>2</byte-front-offset><byte-time-offset>3</byte-time-offset>
  <event-level><string><ider>1</ider><value>Аварии</value><value>Ав</value></string></event-level>
  <event-measure><word-measure-ider>1</word-measure-ider></event-measure>
  <event-measure><word-measure-ider>2</word-measure-ider></event-measure>
  <event-bitreg><modbus-id>DI</modbus-id></event-bitreg>
  <event-item><failure-flag>0</failure-flag><ider>1</ider><modbus-reg>300</modbus-reg><string>Пуск МТЗ</string>
   <short-string>Пуск</short-string><byte-code>1</byte-code><byte-level-mask>1</byte-level-mask></event-item>
  <event-item><failure-flag>1</failure-flag><ider>2</ider><string>Неисправность</string><byte-code>10</byte-code><byte-level-mask>2</byte-level-mask></event-item>
 </event>
 <osc>
  <osc-item><word-measure-ider>1</word-measure-ider><osc-save-cyclicity>4</osc-save-cyclicity></osc-item>
  <osc-item><word-measure-ider>9</word-measure-ider></osc-item>
  <osc-bitreg><modbus-id>RL</modbus-id></osc-bitreg>
 </osc>
 <ustav>
  <word-ustav-addr>1280</word-ustav-addr><word-ustav-size>64</word-ustav-size><word-ustav-groupc>2</word-ustav-groupc>
  <ustav-level><string><ider>5</ider><value>МТЗ</value><value></value></string>
   <string><ider>7</ider><value>ЗМН</value><value></value></string></ustav-level>
  <ustav-enum custom="1"><record-type>49</record-type><ider>1</ider><modbus-acc>6</modbus-acc><string>Направление</string>
   <byte-level-mask>1</byte-level-mask><level-ider>7</level-ider>
   <string><ider>0</ider><value>нет</value><value></value></string><string><ider>1</ider><value>вперед</value><value>впер</value></string>
   <short-string><ider>0</ider><value>н</value><value></value></short-string>
   <ustav-value1>1</ustav-value1><ustav-value2>0</ustav-value2></ustav-enum>
  <ustav-num><ider>2</ider><modbus-acc>6</modbus-acc><string>Уставка по току</string><short-string>I&gt;</short-string>
   <byte-level-mask>3</byte-level-mask><level-ider>0</level-ider><word-measure-ider>1</word-measure-ider>
   <word-sec-val-min>10</word-sec-val-min><word-sec-val-max>2000</word-sec-val-max><ustav-value1>150</ustav-value1><ustav-value2>250</ustav-value2></ustav-num>
  <ustav-enum><record-type>53</record-type><ider>3</ider><modbus-acc>6</modbus-acc><string>Тип 53</string>
   <byte-level-mask>2</byte-level-mask><string><ider>0</ider><value>x</value><value></value></string></ustav-enum>
 </ustav>
 <indicator-menu>&lt;item-list/&gt;</indicator-menu>
</device-descriptor>
)";

class DeviceDescriptorTest : public ::testing::Test {
protected:
  QTemporaryDir Dir;
  QStringList Shown;
  TMessageSink OldSink;

  void SetUp() override {
    QStringList lines;
    for (const char *l : IdentLines)
      lines << U(l);
    SaveFileBytes(Dir.filePath("identification.inc"), ToWin1251(lines.join("\r\n")));
    ResetModbusIderList();
    EnsureModbusIderList(Dir.filePath("identification.inc"));
    SetCharMap(BuiltInCharMap());
    OldSink = SetMessageSink([this](TMsgKind, const QString &Text) {
      Shown << Text;
      return TMsgResult::Ok;
    });
  }
  void TearDown() override {
    SetMessageSink(OldSink);
    ResetModbusIderList();
  }

  static QString Bits17() {
    QString s;
    for (int i = 0; i < 17; ++i)
      s += QStringLiteral("<string><ider>%1</ider><value>Вход %2</value><value></value></string>").arg(i).arg(i + 1);
    return s;
  }
  std::unique_ptr<TDeviceDescriptor> Load(QString Xml = U(FullXml)) {
    Xml.replace("BITS", Bits17());
    const QString path = Dir.filePath("desc.xml");
    SaveFileBytes(path, ToWin1251(Xml));
    auto d = std::make_unique<TDeviceDescriptor>();
    d->LoadFromFile(path);
    d->CopyCharMap(CharMapToDevice);
    return d;
  }
  QByteArray Build(TDeviceDescriptor &D, const QByteArray &Code = QByteArray::fromHex("0c94"),
                   uint32_t IdentCrc = 0x11223344) {
    D.FWorkFolder = Dir.path();
    QByteArray bytes;
    QBuffer b(&bytes);
    b.open(QIODevice::ReadWrite);
    b.write(QByteArray(2, '\0'));
    D.BuildBin(b, Code, uint16_t(Code.size()), PackBcdDate(2021, 3, 5), PackBcdDate(2024, 12, 31), IdentCrc);
    return bytes;
  }
  static QByteArray SaveText(const TDeviceDescriptor &D) {
    const IXXMLDocument doc = NewXMLDocument();
    doc->LoadXML("<device-descriptor/>");
    D.SaveToXML(doc->GetDocumentElement());
    return FormatXMLDocument(doc);
  }
};

int W(const QByteArray &B, int Offset) { return uint8_t(B[Offset]) | (uint8_t(B[Offset + 1]) << 8); }

} // namespace

// What the decoded image and the round trip below do not show is checked on
// the loaded descriptor.
TEST_F(DeviceDescriptorTest, HandWrittenFileLoadsAndSaveLoadSaveIsByteEqual) {
  const auto d = Load();
  // XC9 is gone from the listing: its parameter is dropped; XC2 has none: it gets one.
  EXPECT_EQ(d->FErrors, QStringList({U("не найден идентификатор modbus XC9")}));
  EXPECT_EQ(Shown, QStringList({U("Ошибки дескриптора\r\nне найден идентификатор modbus XC9")}));
  ASSERT_EQ(d->FParamsMvp.size(), 2u);
  EXPECT_EQ(d->GetParamMvp(1)->String, U("Первичное напряжение"));
  EXPECT_EQ(d->GetParamMvp(1)->Ider, 2);
  EXPECT_EQ(d->GetParamMvp(1)->FModbusObject.IderName(), "XC2");
  EXPECT_EQ(d->GetBitReg(18)->Bits.at(0).Value2, U("Р1"));
  EXPECT_EQ(d->GetParam(2)->GetChar().StringValue, "abc");
  EXPECT_TRUE(d->GetUstav(0)->Custom);
  EXPECT_EQ(d->FEventCommon.TimeOffset, 3);
  EXPECT_EQ(d->FIndicatorMenu, "<item-list/>");

  const QByteArray first = SaveText(*d);
  SaveFileBytes(Dir.filePath("again.xml"), first);
  TDeviceDescriptor again;
  again.LoadFromFile(Dir.filePath("again.xml"));
  EXPECT_EQ(SaveText(again), first);
  EXPECT_EQ(again.FParamCommon.ModbusAddr, 77);
  EXPECT_EQ(again.GetOscItem(0)->SaveCyclicity, 4);
  EXPECT_EQ(again.GetUstav(0)->GetEnum().ShortStrings.at(0).Value1, U("н"));
  EXPECT_EQ(again.GetEvent(0)->FModbusObject.Reg, 300);
  EXPECT_EQ(again.GetEvent(0)->ShortString, U("Пуск"));
  EXPECT_EQ(again.GetUstav(1)->LevelIder, 0);
  EXPECT_EQ(again.GetUstav(0)->LevelIder, 7);
}

TEST_F(DeviceDescriptorTest, LoadErrorsNameTheirCause) {
  struct TCase {
    const char *From, *To, *Error;
  };
  const TCase cases[] = {
      {"<ider>2</ider><record-type>18</record-type>", "<ider>2</ider><record-type>22</record-type>",
       "unexpected record type 22"},
      {"<ider>2</ider><modbus-reg>1</modbus-reg>", "<ider>2</ider><record-type>2</record-type><modbus-reg>1</modbus-reg>",
       "ddo recordtype expected 01,03,05,07,09,0b,0d,0f read 2 in <measure-item>"},
      {"<record-type>53</record-type>", "<record-type>33</record-type>", "ddo recordtype expected 31,32,35 read 21 in "},
      {"<word-prim-val-mult>1000</word-prim-val-mult>", "<word-prim-val-mult>65536</word-prim-val-mult>", "range check error"},
      {"<event>", "<event-x>", "missing element event"},
      {"<ustav>", "<ustav-x>", "missing element ustav"},
      {"<param>", "<param-x>", "missing element param"},
  };
  for (const TCase &c : cases) {
    QString xml = U(FullXml);
    xml.replace(U(c.From), U(c.To));
    if (QString(c.To).endsWith("-x>")) // the whole section renamed
      xml.replace(QString(c.From).insert(1, '/'), QString(c.To).insert(1, '/'));
    EXPECT_TRUE(ErrorOf([&] { Load(xml); }).startsWith(U(c.Error))) << c.Error;
  }
  // A numeric type on an enumeration is corrected and reported.
  QString xml = U(FullXml);
  xml.replace("<record-type>53</record-type>", "<record-type>50</record-type>");
  const auto d = Load(xml);
  EXPECT_EQ(d->GetUstav(2)->RecordType, 49);
  EXPECT_TRUE(d->FErrors.contains("ustav-enum: record type 50 read as 49, ider 3"));
}

TEST_F(DeviceDescriptorTest, BuiltImageDecodesToEveryRegisterAddressAndReference) {
  const auto d = Load();
  d->FErrors.clear();
  d->Validate();
  EXPECT_EQ(d->FErrors, QStringList({U("не найдено измерение для осциллограммы 2")}));
  d->FErrors.clear();
  d->GenerateAddresses(Dir.path());
  EXPECT_EQ(d->FErrors, QStringList());
  const uint16_t calibration[] = {0x0100, 0, 0x0F00, 0x0F10, 0x0999, 0, 0x0102, 0};
  d->SetCalibrationTable(calibration, 2); // M2's angle is M1's SRAM: no angle record
  const QByteArray image = Build(*d);

  const IXXMLDocument doc = NewXMLDocument();
  doc->LoadXML("<device-descriptor/>");
  const TDecodedHeader h = TDescriptorDecoder(doc->GetDocumentElement(), nullptr).Decode(image);
  const IXXMLNode root = doc->GetDocumentElement();
  auto text = [&](const QString &Path) {
    const IXXMLNode n = root->SelectSingleNode(Path);
    return n ? n->GetText() : QStringLiteral("<none>");
  };
  auto shown = [](const QString &S) { return DeviceToProgram(ProgramToDevice(ToWin1251(S))); };
  const QString m1 = QString::number(d->GetMeasure(0)->ImageAddr);
  const struct {
    const char *Path;
    QString Expected;
  } checks[] = {
      {"measure/measure-item[1]/modbus-flash", m1},
      {"measure/measure-item[1]/mreg", "0"},
      {"measure/measure-item[1]/modbus-sram", "256"},
      {"measure/measure-item[1]/mvp-mreg", "42"},
      {"measure/measure-item[1]/mvs-mreg", "43"},
      {"measure/measure-item[1]/mvp-mult", "10"},
      {"measure/measure-item[1]/mvs-div", "100"},
      {"measure/measure-item[1]/byte-visible", "2"},
      {"measure/measure-item[1]/short-string", shown("Ia")},
      {"measure/measure-item[1]/string", U("Ток фазы A длинное имя")},
      {"measure/measure-item[2]/mreg", "1"},
      {"measure/measure-item[2]/byte-dopcode", "4"},
      {"measure/measure-item[2]/word-offset", "500"},
      {"measure/measure-item[2]/mvp-mult", "1000"},
      {"measure/measure-item[2]/mvs-div", "1"},
      {"measure/measure-item[2]/short-string", shown(U("Мощность активная тр"))},
      {"measure/measure-item[2]/string", U("Мощность активная трехфазная")},
      {"measure/measure-item[3]/byte-visible", "0"},
      {"measure/measure-item[4]/modbus-sram", QString::number(0x0F00)},
      {"measure/measure-item[4]/string", U("Ток фазы A длинное имя - угол")},
      {"measure/measure-item[4]/mreg", "65535"},
      {"measure/measure-item[5]/string", "<none>"},
      {"param/input-output/param-bitreg[1]/mreg", "10"},
      {"param/input-output/param-bitreg[1]/word-count", "2"},
      {"param/input-output/param-bitreg[1]/modbus-sram", QString::number(0x106)},
      {"param/input-output/param-bitreg[4]/modbus-acc", "3"},
      {"param/input-output/param-bitreg[5]/mreg", "15"},
      {"param/param-enum/mreg", "20"},
      {"param/param-enum/modbus-eeprom", "16"},
      {"param/param-enum/string[2]/value[1]", shown(U("Введен"))},
      {"param/param-num[1]/word-koef", "2"},
      {"param/param-num[1]/word-min", "1"},
      {"param/param-num[1]/word-max", "247"},
      {"param/param-num[1]/modbus-eeprom", "65535"},
      {"param/param-char/mreg", "22"},
      {"param/param-char/modbus-eeprom", "18"},
      {"param/param-char/byte-passwd-char", "42"},
      {"param/param-nummvp[1]/mreg", "42"},
      {"param/param-nummvp[2]/record-type", "38"},
      {"param/param-nummvs/mreg", "43"},
      {"param/param-ddo-date/mreg", "50"},
      {"param/param-ddo-date/record-type", "29"},
      {"param/param-ddo-status/mreg", "54"},
      {"ustav/ustav-level/string[2]/value", U("ЗМН")},
      {"ustav/ustav-enum[1]/mreg[1]", "100"},
      {"ustav/ustav-enum[1]/mreg[2]", "200"},
      {"ustav/ustav-enum[1]/byte-level-mask", "2"},
      {"ustav/ustav-enum[1]/modbus-acc[1]", "6"},
      {"ustav/ustav-enum[1]/modbus-sram[1]", QString::number(0x100 + 28)},
      {"ustav/ustav-enum[1]/modbus-sram[2]", QString::number(0x100 + 36)},
      {"ustav/ustav-num/mreg[1]", "101"},
      {"ustav/ustav-num/mreg[2]", "201"},
      {"ustav/ustav-num/word-measure-ider", m1},
      {"ustav/ustav-num/word-min", "10"},
      {"ustav/ustav-num/word-max", "2000"},
      {"ustav/ustav-num/byte-level-mask", "3"},
      {"ustav/ustav-num/modbus-eeprom[1]", "2"},
      {"ustav/ustav-num/modbus-eeprom[2]", "10"},
      {"ustav/ustav-enum[2]/record-type", "53"},
      {"ustav/ustav-enum[2]/mreg[2]", "202"},
      {"ustav/group-mreg[1]", "100"},
      {"ustav/group-mreg[2]", "200"},
      {"event/event-level/string/value", U("Аварии")},
      {"event/event-measure[1]/measure-ider", "0"},
      {"event/event-measure[2]/measure-ider", "1"},
      {"event/event-bitreg[1]/bitreg-record-type", "17"},
      {"event/event-bitreg[1]/word-count", "2"},
      {"event/event-item[2]/record-type", "68"},
      {"event/event-item[2]/byte-code", "10"},
      {"event/event-item[1]/string", shown(U("Пуск МТЗ"))},
      {"osc/osc-measure[1]/measure-off", "2"},
      {"osc/osc-measure[1]/measure-sram", m1},
      {"osc/osc-measure[2]/measure-off", "255"},
      {"osc/osc-measure[2]/measure-ider", "65535"},
      {"osc/osc-bitreg/bitreg-record-type", "18"},
      {"internal/ident-cache", QString::number(0x11223344)},
  };
  for (const auto &c : checks)
    EXPECT_EQ(text(c.Path), c.Expected) << c.Path;
  // The character parameter's 20 words take registers 22..37, the date's four 50..53.
  for (int r : {11, 23, 37, 51, 53})
    EXPECT_NE(h.ModbusTable[size_t(r)], 0xFFFF) << r;
  for (int r : {3, 38, 1022, 1023})
    EXPECT_EQ(h.ModbusTable[size_t(r)], 0xFFFF) << r;
  EXPECT_EQ(h.UstavGroupCount, 2);
  EXPECT_EQ(h.CalibrAddr, 0x0720);
  EXPECT_EQ(QDate(1899, 12, 30).addDays(qint64(h.CoreDate)), QDate(2021, 3, 5));
  EXPECT_EQ(QDate(1899, 12, 30).addDays(qint64(h.DescDate)), QDate(2024, 12, 31));
  EXPECT_EQ(d->GetMeasure(0)->RecordType, 1); // it got an angle record

  // 17 bits: two bit words (the decoder keeps the group's first only), after the two measures.
  const int area9 = W(image, 4 + 2 * 9) - 0x4000;
  EXPECT_EQ(image.mid(area9 + 10, 7).toHex(), QByteArray("420601" "420801" "aa"));

  // SPECIAL-EEPROM: runs S1A+S1B (4 bytes) and S2A (2 bytes), after the area 17 start.
  const int special = W(image, 38) - 0x4000;
  EXPECT_EQ(image.mid(special, 11).toHex(), QByteArray("02" "043a005801" "023e005c01"));
}

namespace {

// One measure at register 3 and one enumerated setpoint in groups at 100 and 200.
struct TSmall {
  TDeviceDescriptor D;
  TDDMeasure *M;
  TDDUstav *S;
  TSmall() {
    D.CopyCharMap(CharMapToDevice);
    M = D.FMeasures.Add(std::make_unique<TDDMeasure>(&D));
    M->FModbusObject.Reg = 3;
    M->FModbusObject.Acc = 1;
    M->FModbusObject.Sram = 0x0102;
    M->Visible = true;
    M->String = QString::fromUtf8("Ток");
    M->ShortString = "Ia";
    TDDParamCommon &c = D.FParamCommon;
    c.Ustav1.FModbusObject.Reg = 100, c.Ustav1.FModbusObject.Sram = 0x0500, c.Ustav1.FModbusObject.Eeprom = 0x0010;
    c.Ustav2.FModbusObject.Reg = 200, c.Ustav2.FModbusObject.Sram = 0x0600, c.Ustav2.FModbusObject.Eeprom = 0x0020;
    S = D.FUstavs.Add(std::make_unique<TDDUstav>(&D, TDDUstav::ukEnum));
    S->String = "U";
    S->GetEnum().Strings.Assign({"a", "b"}, {});
  }
};

QByteArray Mapped(const char *Text) { return ProgramToDevice(QByteArray(Text)).toHex(); }

} // namespace

TEST_F(DeviceDescriptorTest, SmallImageMatchesTheLayoutByHand) {
  for (int codeSize : {0, 600}) {
    TSmall s;
    const QByteArray b = Build(s.D, QByteArray(codeSize, '\x5A'));
    const struct {
      int Offset;
      QByteArray Hex;
    } fields[] = {
        {2, "0200"},
        // area starts 0..15 as addresses, code at 2560, SPECIAL-EEPROM at 2226, base, calibration
        {4, "3040" "4448" "6248" "6848" "6e48" "7448" "7a48" "8048" "8e48" "aa48" "ab48" "ac48" "ad48" "ae48" "af48"
            "b048" "004a" "b248" "0040" "2007"},
        {48 + 2 * 3, "4448"}, {48 + 2 * 100, "8e48"}, {48 + 2 * 200, "a248"}, {48 + 2 * 1023, "ffff"},
        {2096, "0000" "05032021" "31122024" "44332211" "ffff" "00000000"},
        {2116, "03" "01" "0201" "ffff" "00" "ffff" "00" + Mapped("Ia") + "00" + ToWin1251(U("Ток")).toHex() + "00" "aa"},
        {2146, "1100ffff00aa" "12"},
        {2176, "1d00ffffffff" "1e00ffffffff" "aa00"},
        {2190, "31" "04" "0005" "1000" "02" + Mapped("U") + "00" + Mapped("a") + "00" + Mapped("b") +
                   "00" "5500" "6100" "6200" "01" "33" "04" "0006" "2000" "aa00"},
        {2218, "aaaaaaaaaaaaaaaa" "00" "aa" "ffff"},
    };
    for (const auto &f : fields)
      EXPECT_EQ(b.mid(f.Offset, f.Hex.size() / 2).toHex(), f.Hex) << f.Offset;
    EXPECT_EQ(b.count(QByteArray(2, '\xFF')) >= 1020, true);
    EXPECT_EQ(b.size(), codeSize == 0 ? 2560 : 3584);
    EXPECT_EQ(b.mid(2560, codeSize), QByteArray(codeSize, '\x5A'));
    EXPECT_EQ(b.mid(2560 + codeSize), QByteArray(b.size() - 2560 - codeSize, '\xFF'));
    QByteArray z = b;
    z.replace(44, 4, QByteArray(4, '\0'));
    EXPECT_EQ(uint32_t(W(b, 44) | (W(b, 46) << 16)), Crc32(z.first(z.size() - 1)));
    EXPECT_EQ(s.M->ImageAddr, 0x4844);
  }
}

TEST_F(DeviceDescriptorTest, DisplayStringsAndBuildErrorsCarryTheirTexts) {
  const uint8_t *map = CharMapToDevice;
  auto enc = [&](const char *T) { return EncodeDisplayString(U(T), map).toHex(); };
  EXPECT_EQ(enc("A|B"), Mapped("A") + "01" + Mapped("B"));
  EXPECT_EQ(enc("\\176"), "b0");
  EXPECT_EQ(enc("\\\\"), Mapped("\\"));
  for (const char *bad : {"ab\\", "\\0", "\\00", "\\q"})
    EXPECT_EQ(ErrorOf([&] { enc(bad); }), U("invalid special symbol in ") + U(bad)) << bad;
  EXPECT_THROW(enc("\\256"), EKvRange);
  EXPECT_EQ(EncodePlainString(QString("a") + QChar(0) + "b"), QByteArray("a b"));

  struct TCase {
    std::function<void(TSmall &)> Change;
    QString Error;
  };
  const TCase cases[] = {
      {[](TSmall &s) { s.M->FModbusObject.Reg = 1022; }, "no error"},
      {[](TSmall &s) { s.M->FModbusObject.Reg = 1023; }, U("Invalid Modbus register $03FF Ток")},
      {[](TSmall &s) { s.D.FParamCommon.Status.FModbusObject.Reg = 3; }, U("Duplicate Modbus register $0003 Статус")},
      {[](TSmall &s) { s.D.FParamCommon.Ustav2.FModbusObject.Reg = 3; }, U("Duplicate Modbus register $0003")},
      {[](TSmall &s) { s.D.FParamCommon.Ustav1.FModbusObject.Reg = 1023; }, U("Invalid Modbus register $03FF")},
      {[](TSmall &s) { s.D.FDeviceDescriptorBin.FBaseAddr = 0xF703; },
       "header 16 overflow: offset  a00 base addr f703"},
      {[](TSmall &s) { s.D.FDeviceDescriptorBin.FBaseAddr = 0xFFFF; }, U("начало дескриптора не определено")},
      {[](TSmall &s) { s.D.FDeviceDescriptorBin.FCalibrAddr = 0xFFFF; }, "no FCalibrAddr"},
      {[](TSmall &s) { s.S->RecordType = 33; }, "invalid ustav record type"},
      {[](TSmall &s) { s.M->ShortString = "x\\"; }, U("invalid special symbol in x\\")},
      {[](TSmall &s) {
         s.D.FEventBitRegs.Add(std::make_unique<TModbusObjectRef>(&s.D, 66))->ModbusId = "DI";
       },
       "Event Bitreg error"},
  };
  for (const TCase &c : cases) {
    TSmall s;
    c.Change(s);
    EXPECT_EQ(ErrorOf([&] { Build(s.D); }), c.Error);
  }
}

TEST_F(DeviceDescriptorTest, HeaderListingReadsTheImageBack) {
  TSmall s;
  QByteArray bytes = Build(s.D, {});
  QBuffer b(&bytes);
  b.open(QIODevice::ReadOnly);
  s.D.WriteHeaderListing(b, Dir.filePath("header.lst"));
  const char *expected = "Заголовок дескриптора\r\n\r\n     4000 базовый адрес\r\n\r\n"
                         "0000 0000           длина\r\n0002 0002           версия\r\n"
                         "offs addr offs leng area\r\n------------------------\r\n"
                         "0004 4030 0030 0814 MODBUS\r\n0006 4844 0844 001e измерения\r\n"
                         "0008 4862 0862 0006 Дискретный вход\r\n000a 4868 0868 0006 Реле\r\n"
                         "000c 486e 086e 0006 Светодиод\r\n000e 4874 0874 0006 Виртульный вход\r\n"
                         "0010 487a 087a 0006 Виртульный выход\r\n0012 4880 0880 000e параметры\r\n"
                         "0014 488e 088e 001c уставки\r\n0016 48aa 08aa 0001 измерение событий\r\n"
                         "0018 48ab 08ab 0001 события\r\n001a 48ac 08ac 0001 осциллограммы\r\n"
                         "001c 48ad 08ad 0001 меню\r\n001e 48ae 08ae 0001 системные события\r\n"
                         "0020 48af 08af 0001 активный modbus (прием)\r\n"
                         "0022 48b0 08b0 0150 активный modbus (передача)\r\n0024 4a00 0a00 0000 исполняемый код\r\n";
  EXPECT_EQ(FromWin1251(LoadFileBytes(Dir.filePath("header.lst"))), U(expected));
}

TEST_F(DeviceDescriptorTest, AddressGeneratorListsMemoryAndFindsEepromOverflow) {
  TDeviceDescriptor empty;
  empty.Validate();
  EXPECT_EQ(empty.FErrors.join('|'),
            U("не привязан к modbus битовый регистр DI|не привязан к modbus битовый регистр DO|"
              "не привязан к modbus битовый регистр LE|не привязан к modbus битовый регистр VI|"
              "не привязан к modbus битовый регистр VO|не привязана к modbus дата|не привязан к modbus статус|"
              "не привязаны к modbus уставки 1|не привязаны к modbus уставки 2"));

  for (uint16_t size : {0x12, 0x11}) {
    TSmall s;
    const TModbusIderList &ids = *ModbusIderList();
    auto bind = [&](TDDObject &R, const char *Name, int Acc) {
      R.FModbusObject.Ider = *ids.FindByName(Name);
      R.FModbusObject.Acc = uint8_t(Acc);
    };
    bind(*s.D.GetBitReg(17), "DI", 1);
    s.D.GetBitReg(17)->FModbusObject.Reg = 10;
    bind(*s.M, "M1", 1);
    bind(s.D.FParamCommon.Ustav1, "UST1", 7);
    bind(s.D.FParamCommon.Ustav2, "UST2", 7);
    TDDParam *p = s.D.FParams.Add(std::make_unique<TDDParam>(&s.D, TDDParam::pkEnum));
    bind(*p, "PE", 7);
    p->FModbusObject.Reg = 20;
    p->String = U("Режим");
    s.D.FDeviceDescriptorBin.FEEPROMSize = size;
    s.D.GenerateAddresses(Dir.path());
    QString expected = U("Генератор адресов дескриптора\r\n\r\nSRAM   0100 1000\r\nEEPROM 0000 00%1\r\n\r\n"
                         "tp ac modb sram eepr ider  size name\r\n------------------------------------\r\n"
                         "11 01 000A 0106 FFFF DI       4 Дискретные входы\r\n"
                         "01 01 0003 0100 FFFF M1       2 Ток\r\n"
                         "1b 07 0064 011C 0000 UST1     8 Уставки 1\r\n"
                         "1c 07 00C8 0124 0008 UST2     8 Уставки 2\r\n"
                         "21 07 0014 012C 0010 PE       2 Режим\r\n\r\nУставки детально\r\n\r\n"
                         "tp ac modb sram eepr tp ac modb sram eepr effe name\r\n"
                         "---------------------------------------------------\r\n"
                         "31 04 0064 011C 0000 33 04 00C8 0124 0008 0500 U\r\n\r\nEEPROM size 0012 \r\n")
                           .arg(size, 0, 16);
    if (size == 0x11)
      expected += "\r\n*** EEPROM overflow ***\r\n";
    EXPECT_EQ(FromWin1251(LoadFileBytes(Dir.filePath("memory.lst"))), expected);
    QStringList errors = {U("invalid ModbusIder for Реле"), U("invalid ModbusIder for Светодиоды"),
                          U("invalid ModbusIder for Виртуальные входы"), U("invalid ModbusIder for Виртуальные выходы"),
                          U("invalid ModbusIder for Дата"), U("invalid ModbusIder for Статус")};
    if (size == 0x11)
      errors << "EEPROM overflow";
    EXPECT_EQ(s.D.FErrors, errors);
    EXPECT_EQ(s.S->FModbusObject.Sram, 0);
    EXPECT_EQ(s.D.FDeviceDescriptorBin.FSRAMFree, 0x0900);
  }
}

TEST_F(DeviceDescriptorTest, ValueConversions) {
  EXPECT_EQ(IntToBinStr(165, 8), "1010 0101");
  EXPECT_EQ(BinStrToInt("01 01"), 5);
  EXPECT_EQ(PackBcdDate(2021, 3, 5), 0x21200305u);
  TDeviceDescriptor d;
  TDDUstav u(&d, TDDUstav::ukNumeric);
  EXPECT_EQ(u.GetNumeric().ValueToStr(0), "0");
  TDDMeasure m(&d);
  m.SecValDiv = 100;
  u.GetNumeric().Measure = &m;
  EXPECT_EQ(u.GetNumeric().StrToValue("1.5"), 150);
  EXPECT_EQ(u.GetNumeric().ValueToStr(12345), "123.45");
  EXPECT_THROW(u.GetNumeric().StrToValue("700"), EKvRange);
  EXPECT_EQ(ErrorOf([&] { u.GetEnum(); }), "unable get enum ustav");
}
