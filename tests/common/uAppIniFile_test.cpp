#include "uAppIniFile.h"

#include "uFiles.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// An ini as users edit them: Windows-1251, CR LF, odd case, stray lines.
const QByteArray IniBytes = "; settings\r\n"
                            "orphan=before any section\r\n"
                            "[COM]\r\n"
                            "Port = COM3 \r\n"
                            "baudratelist=9600,19200,38400,115200\r\n"
                            "port=COM9\r\n"
                            "this line is garbage\r\n"
                            "=no key\r\n"
                            "[setup\r\n"
                            "lost=1\r\n"
                            "[Setup]\r\n"
                            "temp=C:\\work\\%TEMP%\r\n"
                            "caption=\xcf\xf0\xe8\xe2\xe5\xf2\r\n"
                            "quoted=\"a;b\"\r\n"
                            "empty=\r\n"
                            "[timer]\n"
                            "interval=2000\n"
                            "neg=-15\n"
                            "hex1=$FF\n"
                            "hex2=0x10\n"
                            "allbits=$FFFFFFFF\n"
                            "big=2147483648\n"
                            "min=-2147483648\n"
                            "text=12abc\n"
                            "blank=\n"
                            "[comtrade]\n"
                            "factor=1.5\n"
                            "exp=2.5e3\n"
                            "comma=1,5\n"
                            "word=inf\n"
                            "[debug]\n"
                            "poll=0\n"
                            "on=5\n"
                            "word=true\n"
                            "[setup]\n"
                            "temp=second section is never read\n";

struct AppIniFile : ::testing::Test {
  QTemporaryDir Dir;
  QString Path;
  void SetUp() override {
    Path = Dir.filePath("kv.ini");
    SaveFileBytes(Path, IniBytes);
  }
};

} // namespace

TEST_F(AppIniFile, StringsAreVerbatimFirstMatchWinsAndCaseIsIgnored) {
  const TAppIniFile ini(Path);
  const struct {
    const char *Section, *Key;
    QString Expect;
  } cases[] = {
      {"com", "port", "COM3"},
      {"Com", "PORT", "COM3"},
      {"com", "baudratelist", "9600,19200,38400,115200"},
      {"setup", "temp", "C:\\work\\%TEMP%"},
      {"setup", "caption", QString::fromUtf16(u"Привет")},
      {"setup", "quoted", "\"a;b\""},
      {"setup", "empty", ""},
      {"setup", "lost", "dflt"},
      {"com", "orphan", "dflt"},
      {"com", "this line is garbage", "dflt"},
      {"nosection", "port", "dflt"},
      {"com", "nokey", "dflt"},
  };
  for (const auto &c : cases)
    EXPECT_EQ(ini.ReadString(c.Section, c.Key, "dflt"), c.Expect) << c.Section << "/" << c.Key;
  EXPECT_EQ(ini.ReadSection("COM"), (QStringList{"Port", "baudratelist"}));
  EXPECT_TRUE(ini.ValueExists("SETUP", "Empty"));
  EXPECT_FALSE(ini.SectionExists("osc"));
}

TEST_F(AppIniFile, NumbersFallBackToTheDefaultWhenNotNumbers) {
  const TAppIniFile ini(Path);
  const struct {
    const char *Key;
    int Expect;
  } ints[] = {{"interval", 2000}, {"neg", -15},  {"hex1", 255},          {"hex2", 16},       {"allbits", -1},
              {"big", 77},        {"text", 77}, {"min", -2147483647 - 1}, {"blank", 77},      {"missing", 77}};
  for (const auto &c : ints)
    EXPECT_EQ(ini.ReadInteger("timer", c.Key, 77), c.Expect) << c.Key;

  EXPECT_DOUBLE_EQ(ini.ReadFloat("comtrade", "factor", 9), 1.5);
  EXPECT_DOUBLE_EQ(ini.ReadFloat("comtrade", "exp", 9), 2500);
  EXPECT_DOUBLE_EQ(ini.ReadFloat("comtrade", "comma", 9), 9);
  EXPECT_DOUBLE_EQ(ini.ReadFloat("comtrade", "word", 9), 9);
  EXPECT_DOUBLE_EQ(ini.ReadFloat("comtrade", "missing", 0.25), 0.25);

  EXPECT_FALSE(ini.ReadBool("debug", "poll", true));
  EXPECT_TRUE(ini.ReadBool("debug", "on", false));
  EXPECT_TRUE(ini.ReadBool("debug", "word", true));   // not an integer: the default
  EXPECT_FALSE(ini.ReadBool("debug", "word", false));
}

TEST_F(AppIniFile, MissingFileGivesEveryDefault) {
  QTemporaryDir dir;
  const TAppIniFile ini(dir.filePath("none.ini"));
  EXPECT_EQ(ini.ReadString("com", "port", "COM1"), "COM1");
  EXPECT_EQ(ini.ReadInteger("timer", "interval", 2000), 2000);
  EXPECT_TRUE(ini.ReadBool("debug", "poll", true));
  EXPECT_DOUBLE_EQ(ini.ReadFloat("comtrade", "factor", 1.0), 1.0);
}

TEST_F(AppIniFile, FileNameIsProgramNameUpToFirstDot) {
  EXPECT_EQ(TAppIniFile::IniFileNameFor("/opt/kv/app.new.bin"), "/opt/kv/app.ini");
  EXPECT_EQ(TAppIniFile::IniFileNameFor("/opt/kv/kv"), "/opt/kv/kv.ini");
  EXPECT_EQ(TAppIniFile::IniFileNameFor("/opt/k.v/prog.exe"), "/opt/k.v/prog.ini");
}
