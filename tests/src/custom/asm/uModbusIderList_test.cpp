#include "uModbusIderList.h"

#include "uErrors.h"
#include "uFiles.h"
#include "uTextCodec.h"

#include "../../../common/uErrorOf.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

// Readable failure output.
inline void PrintTo(const QString &S, std::ostream *Os) { *Os << '"' << S.toStdString() << '"'; }

namespace {

// Every memory-map constant, each with its own value.
const QStringList MemoryMap = {
    ".EQU ADR_FLASH_B = $1000", ".EQU DIM_FLASH_B = $00080000", ".EQU ADR_SRAM = $0100",
    ".EQU DIM_SRAM = $1000",    ".EQU ADR_EEPROM = $0000",       ".EQU DIM_EEPROM = $0400",
    ".EQU ADR_UST = $0500",     ".EQU DIM_UST = $0200",          ".EQU ADR_DATE = $0710",
    ".EQU DIM_DATE = $0008",    ".EQU ADR_CALIBR = $0720"};

} // namespace

TEST(ModbusIderList, ReadsTheMemoryMap) {
  const TModbusIderList l(MemoryMap);
  EXPECT_EQ((std::vector<int64_t>{l.FFlashAddr, l.FFlashSize, l.FSRAMAddr, l.FSRAMSize, l.FEEPROMAddr,
                                  l.FEEPROMSize, l.FWorkingUstavAddr, l.FWorkingUstavSize, l.FCoreDateAddr,
                                  l.FCoreDateSize, l.FCalibrAddr}),
            (std::vector<int64_t>{0x1000, 0x80000, 0x100, 0x1000, 0, 0x400, 0x500, 0x200, 0x710, 8, 0x720}));
  EXPECT_EQ(l.Count(), 0); // no MODBUSMASS: no identifiers
}

TEST(ModbusIderList, NamesEveryUnsetField) {
  const QString all = QString::fromUtf8("Не задан адрес") +
                      "\r\nFFlashAddr\r\nFFlashSize\r\nFSRAMAddr\r\nFSRAMSize\r\nFEEPROMAddr\r\nFEEPROMSize"
                      "\r\nFWorkingUstavAddr\r\nFWorkingUstavSize\r\nFCoreDateAddr\r\nFCoreDateSize\r\nFCalibrAddr";
  EXPECT_EQ(ErrorOf([] { TModbusIderList l(QStringList{}); }), all);

  struct TCase {
    QString Replace, With, Missing;
  };
  const TCase cases[] = {
      {".EQU ADR_SRAM = $0100", ".EQU ADR_SRAM = 256", "FSRAMAddr"},          // decimal is not a constant
      {".EQU ADR_SRAM = $0100", "; .EQU ADR_SRAM = $0100", "FSRAMAddr"},      // commented out
      {".EQU ADR_CALIBR = $0720", ".EQU ADR_CALIBR = $FFFF", "FCalibrAddr"},  // the unset value itself
      {".EQU DIM_FLASH_B = $00080000", ".EQU dim_flash_b = $1", "FFlashSize"}, // names are case-sensitive
  };
  for (const TCase &c : cases) {
    QStringList lines = MemoryMap;
    lines.replace(lines.indexOf(c.Replace), c.With);
    EXPECT_EQ(ErrorOf([&] { TModbusIderList l(lines); }), QString::fromUtf8("Не задан адрес") + "\r\n" + c.Missing)
        << c.With.toStdString();
  }
}

TEST(ModbusIderList, RejectsConstantsOutOfRange) {
  struct TCase {
    const char *Line;
    bool Fails;
  };
  const TCase cases[] = {
      {".EQU DIM_SRAM = $FFFE", false},        {".EQU DIM_SRAM = $10000", true},
      {".EQU DIM_FLASH_B = $7FFFFFFF", false}, {".EQU DIM_FLASH_B = $80000000", true},
      {".EQU DIM_FLASH_B = $123456789", true}, {".EQU OTHER = $123456789", false},
  };
  for (const TCase &c : cases) {
    QStringList lines = MemoryMap;
    lines << c.Line;
    if (c.Fails)
      EXPECT_THROW(TModbusIderList l(lines), EKvRange) << c.Line;
    else
      EXPECT_NO_THROW(TModbusIderList l(lines)) << c.Line;
  }
}

TEST(ModbusIderList, ParsesIdentifiersAndGroups) {
  const QStringList lines = MemoryMap + QStringList{
      "before: .BYTE 2 ; not inside",
      "MODBUSMASS:",
      "STATE: .BYTE 2 ; state word",
      "IABC: ; currents (3) ; measurements",
      "IA: .BYTE 2 ; phase A",
      "IB: .BYTE 2 ; phase B",
      "IC: .BYTE 2 ; phase C",
      "    .BYTE 8 ; no label: ignored",
      "PAIR : .BYTE 4 ; A ; B",
      "\tTAB: .BYTE 3 ; odd",
      "NOSEMI: .BYTE 2",
      "END_MODBUS:",
      "AFTER: .BYTE 2 ; after the end",
  };
  const TModbusIderList l(lines);
  struct TExpected {
    QString Name;
    int Address, Size;
    QString Comment, GroupComment;
  };
  const TExpected expected[] = {
      {"STATE", 0, 1, "state word", "state word"},
      {"IABC", 2, 3, "currents (3)", "measurements"},
      {"PAIR", 8, 2, "A", "B"},
      {"\tTAB", 12, 1, "odd", "odd"}, // only blanks are trimmed from the name; 3 bytes make 1 word
      {"NOSEMI", 15, 0, "", ""},        // no ";": the byte field is not read
  };
  ASSERT_EQ(l.Count(), int(std::size(expected)));
  for (int i = 0; i < l.Count(); ++i) {
    const TModbusIder &d = l.Item(i);
    EXPECT_EQ(d.Name, expected[i].Name) << i;
    EXPECT_EQ(d.Address, expected[i].Address) << i;
    EXPECT_EQ(d.GetSize(), expected[i].Size) << i;
    EXPECT_EQ(d.GetByteSize(), 2 * expected[i].Size) << i;
    EXPECT_EQ(d.Comment, expected[i].Comment) << i;
    EXPECT_EQ(d.GroupComment, expected[i].GroupComment) << i;
  }
  EXPECT_EQ(l.GetAddress("PAIR"), 8);
  EXPECT_EQ(l.GetAddress("IA"), 0xFFFF); // a group member is no identifier
  EXPECT_EQ(l.GetAddress("pair"), 0xFFFF);
  EXPECT_EQ(l.FindByName("AFTER"), nullptr);
  ASSERT_NE(l.FindByName("IABC"), nullptr);
}

TEST(ModbusIderList, SizesNear2To31AreRangeErrorsNotOverflows) {
  const std::pair<QStringList, QString> cases[] = {
      {{"A: .BYTE 2147483647 ;", "B: .BYTE 1 ;"}, "range check error: address 2147483648 of B: .BYTE 1 ;"},
      {{"G: ; group (1073741824)"}, "range check error: address 2147483648 of G: ; group (1073741824)"},
      {{"A: .BYTE 2147483648 ;"}, "'2147483648' is not a valid integer value"},
      {{"A: .BYTE 2147483646 ;", "B: .BYTE 1 ;"}, "no error"},
  };
  for (const auto &[lines, error] : cases)
    EXPECT_EQ(ErrorOf([&] { TModbusIderList l(MemoryMap + QStringList{"MODBUSMASS:"} + lines); }), error);
}

TEST(ModbusIderList, EndStopsReadingConstants) {
  QStringList lines = MemoryMap;
  lines.removeAll(".EQU ADR_CALIBR = $0720");
  lines << "END_MODBUS:" << ".EQU ADR_CALIBR = $0720";
  EXPECT_EQ(ErrorOf([&] { TModbusIderList l(lines); }), QString::fromUtf8("Не задан адрес") + "\r\nFCalibrAddr");
}

TEST(ModbusIderList, CountsMeasurementsEvenCommentedOutWithOffsetsBelow256) {
  QStringList lines = MemoryMap;
  lines << "  OSC Ia" << "; OSC Ib" << "\tOSC  Ic ; third";
  for (int i = 3; i < 257; ++i)
    lines << QString("OSC M%1").arg(i);
  const TModbusIderList l(lines);
  EXPECT_EQ(l.FMeasures.mid(0, 3), (QStringList{"Ia", "Ib", "Ic"}));
  EXPECT_EQ(l.IndexOfMeasure("Ib"), 1);
  EXPECT_EQ(l.GetMeasureOffset("Ic"), 4);
  EXPECT_EQ(ErrorOf([&] { l.IndexOfMeasure("ia"); }), QString::fromUtf8("Недопустимый идентификатор измерения ia"));
  EXPECT_EQ(l.GetMeasureOffset("M127"), 254);
  EXPECT_THROW(l.GetMeasureOffset("M128"), EKvRange);
  EXPECT_EQ(l.IndexOfMeasure("M255"), 255);
  EXPECT_THROW(l.IndexOfMeasure("M256"), EKvRange);
}

TEST(ModbusIderList, WritesListing) {
  QTemporaryDir dir;
  const QString path = dir.filePath("identification.inc");
  const QStringList lines = MemoryMap + QStringList{"MODBUSMASS:", "STATE: .BYTE 2 ; Состояние",
                                                    "LONGNAME_X: .BYTE 40 ; text ; group", "END_MODBUS:"};
  SaveFileBytes(path, ToWin1251(lines.join("\r\n")));
  const TModbusIderList l(path);
  l.WriteListing(dir.path());
  EXPECT_EQ(LoadFileBytes(dir.filePath("ModbusIderList.lst")),
            ToWin1251(QString::fromUtf8("TModbusIderList\r\n"
                                        "0000   1 STATE    Состояние\r\n"
                                        "0002  20 LONGNAME_X text\r\n")));
}

TEST(ModbusIderList, ProcessWideListIsCreatedOnce) {
  QTemporaryDir dir;
  const QString path = dir.filePath("identification.inc");
  SaveFileBytes(path, ToWin1251(MemoryMap.join("\n")));
  ResetModbusIderList();
  EXPECT_EQ(ModbusIderList(), nullptr);
  TModbusIderList &first = EnsureModbusIderList(path);
  EXPECT_EQ(&EnsureModbusIderList(dir.filePath("missing.inc")), &first);
  ResetModbusIderList();
  EXPECT_THROW(EnsureModbusIderList(dir.filePath("missing.inc")), EKvError);
  EXPECT_EQ(ModbusIderList(), nullptr);
}
