#include "uAppIniFile.h"

#include "uErrors.h"
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

// Without a byte-order mark a file is UTF-8 when it decodes as UTF-8 into
// characters Windows-1251 has. Where its UTF-8 reading holds others, the
// reading without a word (a run of letters) that mixes Latin and Cyrillic
// wins, Windows-1251 first, unless a sign (not a letter) follows a Cyrillic
// letter there; a file that fits neither is refused with both offsets (of the
// bad byte or the first mixed word).
TEST_F(AppIniFile, EncodingWithoutAByteOrderMarkIsTheOneThatFits) {
  const struct {
    const char *Name;
    QByteArray Value;   // the bytes after "temp="
    const char *Expect; // UTF-8 of the value read, or nullptr: refused
    int Utf8At, Win1251At;
  } cases[] = {
      {"UTF-8 Cyrillic", "/tmp/\xd0\x9f\xd0\xb0\xd0\xbf\xd0\xba\xd0\xb0", "/tmp/Папка", 0, 0},
      {"windows-1251 that is valid UTF-8", "\xc4\xb2", "ДІ", 0, 0},
      {"windows-1251 that is valid UTF-8, then Latin", "/w/\xc4\xb2-work", "/w/ДІ-work", 0, 0},
      {"UTF-8 Latin outside windows-1251", "/w/j\xc3\xbcrgen-work", "/w/jürgen-work", 0, 0},
      {"UTF-8, an accented capital begins a word", "/w/\xc3\x89tudes-kv", "/w/Études-kv", 0, 0},
      {"UTF-8, an accented small letter begins a word", "/w/\xc3\xa9ric", "/w/éric", 0, 0},
      {"UTF-8, words begun by umlauts", "/w/\xc3\x96l-\xc3\x84rger-work", "/w/Öl-Ärger-work", 0, 0},
      {"windows-1251 with a letter of 0x80-0xBF after a capital", "\xc3\xa8\xc4\x81\xc3\xbe", "ГЁДЃГѕ", 0, 0},
      {"windows-1251", "\xcf\xf0\xe8\xe2\xe5\xf2", "Привет", 0, 0},
      {"UTF-8 outside windows-1251, read there as a capital and a sign", "\xce\xa9", "Ω", 0, 0},
      {"UTF-8 with a BOM", "\xef\xbb\xbf", nullptr, 0, 0}, // placed in front below
      {"neither: broken UTF-8", "\xd0\x98\xff", nullptr, 15, 14},
      {"UTF-8 that windows-1251 cannot read", "\xd0\x98\xce\xa9", "ИΩ", 0, 0},
      {"neither: a mixed word in both readings", "j\xc3\xbcrgen-\xd0\x9fw", nullptr, 21, 13},
  };
  for (const auto &c : cases) {
    const bool isBom = c.Value == "\xef\xbb\xbf";
    const QByteArray bytes = isBom ? QByteArray("\xef\xbb\xbf[setup]\ntemp=\xce\xa9\n")
                                   : "[setup]\ntemp=" + c.Value + "\n";
    SaveFileBytes(Path, bytes);
    if (isBom) {
      EXPECT_EQ(TAppIniFile(Path).ReadString("setup", "temp", ""), QString::fromUtf8("Ω")) << c.Name;
    } else if (c.Expect) {
      EXPECT_EQ(TAppIniFile(Path).ReadString("setup", "temp", ""), QString::fromUtf8(c.Expect)) << c.Name;
    } else {
      try {
        TAppIniFile ini(Path);
        ADD_FAILURE() << c.Name << ": read";
      } catch (const EKvIniEncoding &e) {
        EXPECT_EQ(e.Text(), QStringLiteral("Файл настроек %1 не в кодировке UTF-8 (байт %2) и не в windows-1251 (байт %3)")
                                .arg(Path)
                                .arg(c.Utf8At)
                                .arg(c.Win1251At))
            << c.Name;
        EXPECT_EQ(e.FileName, Path);
      }
    }
  }
}

// The refusal in the interface's language: the table's line, filled in, and
// the language the file itself asks for, read from what does decode.
TEST_F(AppIniFile, RefusalGivesTheTextInTheFilesLanguage) {
  SaveFileBytes(Path, "[setup]\nlang=EN\ntemp=\x98\xff\n");
  try {
    TAppIniFile ini(Path);
    ADD_FAILURE() << "read";
  } catch (const EKvIniEncoding &e) {
    EXPECT_EQ(e.Lang, "EN");
    const auto english = [](const QString &Text) {
      return Text == QString::fromUtf8(IniTexts::NotUtf8NorWin1251)
                 ? QStringLiteral("Settings file %1 is neither UTF-8 (byte %2) nor windows-1251 (byte %3)")
                 : Text;
    };
    EXPECT_EQ(e.TextIn(english), "Settings file " + Path + " is neither UTF-8 (byte 21) nor windows-1251 (byte 21)");
  }
}
