// The build's pieces worked out by hand: packed dates, the register stream,
// the frames of the descriptor image and of the device's code area.
#include <gtest/gtest.h>

#include "../custom_logic_test_util.h"
#include "crc.h"
#include "uCustomBuild.h"
#include "uDeviceDescriptor.h"
#include "uFiles.h"

#include <QCoreApplication>
#include <QtEndian>

namespace {

QByteArray Words(std::initializer_list<int> List) {
  QByteArray out;
  for (int w : List) {
    out.append(char(w & 0xFF));
    out.append(char((w >> 8) & 0xFF));
  }
  return out;
}

// The first bytes of a device image: length in words, version, area starts
// (the first at Base + 48, the code's at Code), as the image builder writes them.
QByteArray Desc0(int LengthWords, int Base, int Code) {
  QByteArray b = Words({LengthWords, 2, Base + 48});
  b += QByteArray(36 - b.size(), '\0');
  b += Words({Code});
  b += QByteArray(128 - b.size(), '\0');
  return b;
}

} // namespace

TEST(CustomBuild, DatesPackAsBcdDayMonthCenturyYear) {
  const struct {
    QDate Date;
    QByteArray Bytes;
  } cases[] = {{QDate(2026, 12, 5), QByteArray("\x05\x12\x20\x26", 4)},
               {QDate(1999, 1, 31), QByteArray("\x31\x01\x19\x99", 4)}};
  for (const auto &c : cases) {
    char b[4];
    qToLittleEndian(DateToBcd(c.Date), b);
    EXPECT_EQ(QByteArray(b, 4), c.Bytes) << c.Date.toString().toStdString();
  }
}

TEST(CustomBuild, ParamStreamHoldsCustomSetpointsOrEverything) {
  TDeviceDescriptor d;
  d.FParamCommon.Ustav1.FModbusObject.Reg = 100;
  d.FParamCommon.Ustav2.FModbusObject.Reg = 150;
  for (int i = 0; i < 3; ++i) {
    TDDUstav *u = d.FUstavs.Add(std::make_unique<TDDUstav>(&d, TDDUstav::ukNumeric));
    u->Custom = i == 1;
    u->Values = {uint16_t(0x1110 + i), uint16_t(0x2220 + i)};
  }
  const struct {
    int Kind, Reg, Value;
  } params[] = {{TDDParam::pkNumeric, 50, 7}, {TDDParam::pkChar, 34, 9}, {TDDParam::pkEnum, 40, 2}};
  for (const auto &p : params) {
    TDDParam *r = d.FParams.Add(std::make_unique<TDDParam>(&d, p.Kind));
    r->FModbusObject.Reg = uint16_t(p.Reg);
    r->Value = uint16_t(p.Value);
  }
  EXPECT_EQ(BuildParamStream(d, false), Words({101, 0x1111, 151, 0x2221}));
  EXPECT_EQ(BuildParamStream(d, true), Words({100, 0x1110, 150, 0x2220, 101, 0x1111, 151, 0x2221, 102, 0x1112, 152,
                                              0x2222, 50, 7, 40, 2}));
  d.FParamCommon.Ustav2.FModbusObject.Reg = 1022; // the third setpoint's lands on 1024
  d.FParamCommon.Ustav2.String = "Уставки 2";
  EXPECT_EQ(ErrorOf([&] { BuildParamStream(d, false); }), "no error");
  EXPECT_EQ(ErrorOf([&] { BuildParamStream(d, true); }), "register 1024 of \"Уставки 2\" outside 0..1023");
  d.FParamCommon.Ustav2.FModbusObject.Reg = 0xFFFF;
  EXPECT_EQ(ErrorOf([&] { BuildParamStream(d, false); }), "register -1 of \"Уставки 2\" outside 0..1023");
}

// A bit set's word is compared on the positions it names, as the pages
// compare it: the relay's own bits beside them are not the logic's.
TEST(CustomBuild, StreamEntriesCompareABitSetOnItsNamedPositionsOnly) {
  TDeviceDescriptor d;
  d.FParamCommon.Ustav1.FModbusObject.Reg = 100;
  d.FParamCommon.Ustav2.FModbusObject.Reg = 150;
  const struct {
    int Kind, RecordType;
    QStringList Names;
    uint16_t Compared;
  } cases[] = {
      {TDDUstav::ukNumeric, 0, {}, 0xFFFF},
      {TDDUstav::ukEnum, 0, {"a", "b", "c"}, 0xFFFF},
      {TDDUstav::ukEnum, 53, {"a", "", "c", "-d", "e"}, 0b10101},
      {TDDUstav::ukEnum, 53, QStringList(17, "x"), 0xFFFF},
  };
  for (const auto &c : cases) {
    TDDUstav *u = d.FUstavs.Add(std::make_unique<TDDUstav>(&d, c.Kind));
    if (c.Kind == TDDUstav::ukEnum)
      u->GetEnum().Strings.Assign(c.Names, {});
    if (c.RecordType)
      u->RecordType = c.RecordType;
    u->Custom = true;
  }
  const std::vector<TParamStreamEntry> entries = ParamStreamEntries(d, false);
  ASSERT_EQ(entries.size(), 2 * std::size(cases));
  for (size_t i = 0; i < entries.size(); ++i)
    EXPECT_EQ(entries[i].Compared, cases[i / 2].Compared) << i;
}

// One rule with the pages: each value against the limits the pages give its
// register, in its own type; inverted limits are a fault of the descriptor
// and refuse every value.
TEST(CustomBuild, StreamValuesOutsideTheirLimitsAreReportedBeforeAnythingIsWritten) {
  TDeviceDescriptor d;
  const auto numeric = [&d](const char *Name, uint16_t Min, uint16_t Max, std::array<uint16_t, 2> Values) {
    TDDUstav *u = d.FUstavs.Add(std::make_unique<TDDUstav>(&d, TDDUstav::ukNumeric));
    u->String = QString::fromUtf8(Name);
    u->GetNumeric().SecValMin = Min;
    u->GetNumeric().SecValMax = Max;
    u->Values = Values;
    u->Custom = true;
    return u;
  };
  numeric("inside", 10, 20000, {10, 20000});
  numeric("below", 10, 20000, {9, 100});
  numeric("inverted", 30000, 10, {20, 65000});
  TDDMeasure signedMeasure(&d);
  signedMeasure.Dopkod = true;
  numeric("signed", uint16_t(-100), 100, {uint16_t(-50), uint16_t(-101)})->GetNumeric().Measure = &signedMeasure;
  // Inverted as signed words only: -5..-10.
  numeric("signed inverted", uint16_t(-5), uint16_t(-10), {uint16_t(-7), 0})->GetNumeric().Measure = &signedMeasure;
  TDDUstav *e = d.FUstavs.Add(std::make_unique<TDDUstav>(&d, TDDUstav::ukEnum));
  e->String = "enum";
  e->GetEnum().Strings.Assign({"a", "b", "c"}, {});
  e->Values = {2, 3};
  e->Custom = true;
  TDDUstav *bits = d.FUstavs.Add(std::make_unique<TDDUstav>(&d, TDDUstav::ukEnum));
  bits->RecordType = 53; // a bit set: any word is a set of its positions
  bits->GetEnum().Strings.Assign({"a", "b"}, {});
  bits->Values = {37, 65535};
  bits->Custom = true;
  TDDUstav *plain = numeric("not custom", 10, 20, {0, 0});
  plain->Custom = false;
  const auto param = [&d](const char *Name, uint16_t Min, uint16_t Max, uint16_t Value) {
    TDDParam *p = d.FParams.Add(std::make_unique<TDDParam>(&d, TDDParam::pkNumeric));
    p->String = Name;
    p->GetNumeric().Min = Min, p->GetNumeric().Max = Max, p->Value = Value;
  };
  param("param", 1, 5, 6);
  param("param inverted", 3500, 1, 5);
  param("param unlimited", 0, 0, 65535);

  const QString inverted = "ошибка дескриптора: нижний предел %1 больше верхнего %2";
  const QString custom = "\r\nПомилка \"below\" < 10"
                         "\r\nПомилка \"inverted\" " + inverted.arg(30000).arg(10) +
                         "\r\nПомилка \"inverted\" " + inverted.arg(30000).arg(10) +
                         "\r\nПомилка \"signed\" < -100"
                         "\r\nПомилка \"signed inverted\" " + inverted.arg(-5).arg(-10) +
                         "\r\nПомилка \"signed inverted\" " + inverted.arg(-5).arg(-10) +
                         "\r\nПомилка \"enum\" > c";
  EXPECT_EQ(ParamStreamLimitReport(d, false), custom);
  EXPECT_EQ(ParamStreamLimitReport(d, true), custom + "\r\nПомилка \"not custom\" < 10"
                                                      "\r\nПомилка \"not custom\" < 10"
                                                      "\r\nПомилка \"param\" > 5"
                                                      "\r\nПомилка \"param inverted\" " +
                                                      inverted.arg(3500).arg(1));
}

TEST(CustomBuild, FramesCoverTheImageAndTheDevicesCodeArea) {
  App();
  QTemporaryDir dir;
  TIOChainGen gen;
  TIOChainList3 &c = gen.newList().writeFile(129, 0, dir.filePath("desc.bin")).readFile(129, 0, dir.filePath("r"));
  auto *write = static_cast<TIOChain3writeFile *>(c.Step(0));
  auto *read = static_cast<TIOChain3readFile *>(c.Step(1));
  for (const auto &[size, last] : {std::pair{1000, 7}, {1024, 7}, {1025, 8}}) {
    SaveFileBytes(write->FFileName, QByteArray(size, 'x'));
    SetDescFrames(write);
    EXPECT_EQ(std::pair(int(write->FFrameFirst), int(write->FFrameLast)), std::pair(0, last)) << size;
  }

  const int base = 0x1000;
  const struct {
    const char *Name;
    QByteArray Desc0;
    qint64 Code;
    int First, Last;
    QString Error;
  } cases[] = {
      {"code 1536 bytes after the base", Desc0(2048, base, base + 1536), 512, 12, 15, "no error"},
      {"one byte past a frame", Desc0(2048, base, base + 1536), 513, 12, 16, "no error"},
      {"code filling the old image", Desc0(1024, base, base + 1536), 2048 - 1536, 12, 15, "no error"},
      {"code longer than the old area", Desc0(1024, base, base + 1536), 1024, 0, 0,
       "Код логики (1024 байт) не помещается в область кода прибора (512 байт)"},
      {"first area before the header's end", Desc0(2048, -8, 0x600), 512, 0, 0, "Ошибка при расшифровке дескриптора"},
      {"code before the base", Desc0(2048, base, base - 128), 512, 0, 0, "Ошибка при расшифровке дескриптора"},
      {"code off a frame", Desc0(2048, base, base + 0x601), 512, 0, 0, "Недопустимый адрес исполняемого кода 1601"},
      {"header cut short", Desc0(2048, base, base).left(20), 512, 0, 0, "Ошибка при расшифровке дескриптора"},
  };
  for (const auto &k : cases) {
    SCOPED_TRACE(k.Name);
    EXPECT_EQ(ErrorOf([&] { SetCodeFrames(write, k.Desc0, k.Code); }), k.Error);
    if (k.Error == "no error") {
      SetCodeFrames(read, k.Desc0, k.Code);
      EXPECT_EQ(std::pair(int(write->FFrameFirst), int(write->FFrameLast)), std::pair(k.First, k.Last));
      EXPECT_EQ(std::pair(int(read->FFrameFirst), int(read->FFrameLast)), std::pair(k.First, k.Last));
    }
  }
}

TEST(CustomBuild, AWholeLogicMergesCompilesAndChoosesItsWrite) {
  TLogicPackage p;
  TSchemaCompile compiler;
  QStringList errors, status;
  QBuffer stream;
  TCustomBuildEnv env;
  env.Status = [&](const QString &T) { status << T; };
  env.RelayDescriptor = p.RelayRoot();
  EXPECT_EQ(BuildCustomLogic(p.State, env, compiler, errors, stream), TCustomWrite::Logic);
  EXPECT_TRUE(errors.isEmpty()) << errors.join("\n").toStdString();
  EXPECT_EQ(status, QStringList({"Загрузка", "Слияние", "Компиляция"}));
  EXPECT_GT(p.File("generated.bin").size(), 0);
  EXPECT_EQ(stream.data(), QByteArray("\x65\x00\x34\x12\x97\x00\x78\x56", 8)) << "the custom setpoint only";
  // The build merges into the base logic as loaded: a second one merges once more, not twice.
  const int blocks = p.Module->AbstractList.Count();
  EXPECT_EQ(BuildCustomLogic(p.State, env, compiler, errors, stream), TCustomWrite::Logic);
  EXPECT_EQ(p.Module->AbstractList.Count(), blocks);

  p.State.Source = 2;
  env.DeviceIdentCrc = FileCrc32(p.D.Dir.filePath("identification.inc"));
  env.WriteAllSetting = true;
  EXPECT_EQ(BuildCustomLogic(p.State, env, compiler, errors, stream), TCustomWrite::All);
  EXPECT_EQ(stream.data().size(), 4 * 4 * 2) << "both groups of every setpoint";

  // A setpoint value outside its limits never reaches the relay: the build
  // refuses it whenever the stream is to be written, and only then.
  const IXXMLNode max = p.State.LogicDoc->GetDocumentElement()->SelectSingleNode("//word-sec-val-max[.='24576']");
  ASSERT_TRUE(max);
  max->SetText("4096");
  const QString refused = "\r\nПомилка \"U2\" > 4096\r\nПомилка \"U2\" > 4096";
  env.ParamUstavWrite = true;
  EXPECT_EQ(ErrorOf([&] { BuildCustomLogic(p.State, env, compiler, errors, stream); }), refused);
  env.ParamUstavWrite = false;
  EXPECT_EQ(BuildCustomLogic(p.State, env, compiler, errors, stream), TCustomWrite::All);
  p.State.Source = 1;
  EXPECT_EQ(ErrorOf([&] { BuildCustomLogic(p.State, env, compiler, errors, stream); }), refused);
  // Inverted limits are a fault of the descriptor: no value goes.
  const IXXMLNode root = p.State.LogicDoc->GetDocumentElement();
  root->SelectSingleNode("//word-sec-val-min[../word-sec-val-max='4096']")->SetText("30000");
  max->SetText("10");
  const QString inverted = "\r\nПомилка \"U2\" ошибка дескриптора: нижний предел 30000 больше верхнего 10";
  EXPECT_EQ(ErrorOf([&] { BuildCustomLogic(p.State, env, compiler, errors, stream); }), inverted + inverted);
  // With ustav/limitCheck off the pages write what they are given, and so does the logic.
  env.LimitCheck = false;
  EXPECT_EQ(BuildCustomLogic(p.State, env, compiler, errors, stream), TCustomWrite::Logic);
}

TEST(CustomBuild, AFailingBuildShowsItsTextAndLeavesTheImages) {
  const struct {
    const char *Name;
    int Source;
    bool OtherIdent;
    int In, OutPin, Extra;
    const char *Box;
    const char *Error;
  } cases[] = {
      {"nothing loaded", 0, false, 0, 0, 0, "Логика не загружена", "Логика не загружена"},
      {"project for another device", 2, true, 0, 0, 0, "Недопустимый файл идентификаторов",
       "Недопустимый файл идентификаторов"},
      {"input from no label", 1, false, 1, 0, 0, nullptr, "invalid label"},
      {"output to a pin no link feeds", 1, false, 0, 5, 0, nullptr, "link not found"},
      {"unlinked inputs", 1, false, 0, 0, 60, "Обнаружены ошибки - см. журнал", nullptr},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Name);
    TLogicPackage p;
    if (c.In || c.OutPin || c.Extra) {
      p.Unit(p.State.CustomDoc, {0, c.In ? p.M->Id : p.Z->Id, 0}, {1, p.M->Id, c.OutPin}, c.Extra);
    }
    p.State.Source = uint8_t(c.Source);
    SaveFileBytes(p.D.Dir.filePath("desc.bin"), "old desc");
    SaveFileBytes(p.D.Dir.filePath("extflash.bin"), "old flash");
    TMessageRecorder boxes;
    TSchemaCompile compiler;
    QStringList errors;
    QBuffer stream;
    TCustomBuildEnv env;
    env.DeviceIdentCrc = FileCrc32(p.D.Dir.filePath("identification.inc")) + (c.OtherIdent ? 1 : 0);
    const QString error = ErrorOf([&] { BuildCustomLogic(p.State, env, compiler, errors, stream); });
    if (c.Error) {
      EXPECT_EQ(error, c.Error);
    } else {
      const QString list = errors.join("\r\n") + "\r\n";
      ASSERT_GT(list.size(), 2000);
      EXPECT_EQ(error, "Обнаружены ошибки:\r\n" + list.left(2000));
    }
    EXPECT_EQ(boxes.Texts, c.Box ? QStringList{c.Box} : QStringList());
    EXPECT_EQ(p.File("desc.bin"), "old desc");
    EXPECT_EQ(p.File("extflash.bin"), "old flash");
    if (c.Source == 2)
      EXPECT_FALSE(QFile::exists(p.D.Dir.filePath("generated.bin"))) << "checked before compiling";
  }
}

// A logic-only write leaves the relay's descriptor in place: each value of
// the stream (U2 in both groups, 0x1234 and 0x5678, inside the logic's
// limits) is checked against the relay's record of its register too, by the
// pages' rule; a register the relay does not describe so is refused by its
// name. A full write brings its own descriptor; limitCheck=0 lets all go.
TEST(CustomBuild, ALogicOnlyWriteKeepsTheRelaysLimits) {
  const QString notHeld = "\r\nПомилка \"U2\" регистр 101 не описан в дескрипторе прибора"
                          "\r\nПомилка \"U2\" регистр 151 не описан в дескрипторе прибора";
  const struct {
    const char *Name;
    std::function<void(const IXXMLNode &Root, const IXXMLNode &U2)> Relay;
    int Source;
    bool LimitCheck;
    QString Error;
  } cases[] = {
      {"the relay as the logic", [](const IXXMLNode &, const IXXMLNode &) {}, 1, true, ""},
      {"relay's upper limit below", [](const IXXMLNode &, const IXXMLNode &U2) { U2->SelectSingleNode("word-max")->SetText("4096"); }, 1,
       true, "\r\nПомилка \"U2\" > 4096\r\nПомилка \"U2\" > 4096"},
      {"relay's lower limit above", [](const IXXMLNode &, const IXXMLNode &U2) { U2->SelectSingleNode("word-min")->SetText("5000"); }, 1,
       true, "\r\nПомилка \"U2\" < 5000"},
      {"register not in the relay", [](const IXXMLNode &, const IXXMLNode &U2) { U2->Remove(); }, 1, true, notHeld},
      {"register a text parameter in the relay",
       [](const IXXMLNode &Root, const IXXMLNode &U2) {
         const IXXMLNode param = Root->SelectSingleNode("param");
         const IXXMLNode text = (param ? param : Root->AddChild("param"))->AddChild("param-char");
         text->AddChild("mreg")->SetText("101");
         text->AddChild("word-count")->SetText("4");
         text->AddChild("string")->SetText("Текст");
         U2->Remove();
       },
       1, true,
       "\r\nПомилка \"U2\" регистр 101 описан в дескрипторе прибора иначе"
       "\r\nПомилка \"U2\" регистр 151 не описан в дескрипторе прибора"},
      {"limit check off", [](const IXXMLNode &, const IXXMLNode &U2) { U2->Remove(); }, 1, false, ""},
      {"a full write", [](const IXXMLNode &, const IXXMLNode &U2) { U2->Remove(); }, 2, true, ""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Name);
    TLogicPackage p;
    TSchemaCompile compiler;
    QStringList errors;
    QBuffer stream;
    TCustomBuildEnv env;
    env.RelayDescriptor = p.RelayRoot();
    c.Relay(env.RelayDescriptor, env.RelayDescriptor->SelectSingleNode("ustav/ustav-num[string='U2']"));
    env.LimitCheck = c.LimitCheck;
    p.State.Source = uint8_t(c.Source);
    env.DeviceIdentCrc = FileCrc32(p.D.Dir.filePath("identification.inc"));
    EXPECT_EQ(ErrorOf([&] { BuildCustomLogic(p.State, env, compiler, errors, stream); }),
              c.Error.isEmpty() ? "no error" : c.Error);
  }
}
