#include "uTextCodec.h"

#include "ixml.h"
#include "uAppIniFile.h"
#include "uErrorOf.h"
#include "uErrors.h"
#include "uFiles.h"

#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>

namespace {

struct TCodecCase {
  const char16_t *Text;
  const char *Bytes; // hex, worked out from the code page charts
};

QByteArray Hex(const char *H) { return QByteArray::fromHex(H); }

} // namespace

TEST(TextCodec, Win1251MapsCyrillicAndPunctuationBothWays) {
  const TCodecCase cases[] = {
      {u"Привет", "cff0e8e2e5f2"},
      {u"ЁёЪъ", "a8b8dafa"},
      {u"№ €", "b92088"},
      {u"ЂЃ‚ѓ„…†", "80818283848586"},
      {u"«»—–", "abbb9796"},
      {u"abc 123", "61626320313233"},
      {u"Яя", "dfff"},
      {u"", ""},
  };
  for (const auto &c : cases) {
    const QString text = QString::fromUtf16(c.Text);
    EXPECT_EQ(ToWin1251(text).toHex(), QByteArray(c.Bytes)) << text.toStdString();
    EXPECT_EQ(FromWin1251(Hex(c.Bytes)), text) << c.Bytes;
  }
}

TEST(TextCodec, Win1251DecodesEveryByteButTheUnassignedOne) {
  for (int b = 0; b < 256; ++b) {
    const char c = char(b);
    const QString s = FromWin1251(QByteArrayView(&c, 1));
    ASSERT_EQ(s.size(), 1) << b;
    if (b == 0x98)
      continue;
    EXPECT_TRUE(IsWin1251Char(s[0].unicode())) << b;
    EXPECT_EQ(ToWin1251(s), QByteArray(1, c)) << b;
  }
}

TEST(TextCodec, CharactersOutsideWin1251BecomeQuestionMarks) {
  EXPECT_FALSE(IsWin1251Char(U'Ω'));
  EXPECT_FALSE(IsWin1251Char(U'😀'));
  EXPECT_FALSE(IsWin1251Char(U'ä'));
  EXPECT_TRUE(IsWin1251Char(U'ї')); // Ukrainian letters are in the code page
  EXPECT_EQ(ToWin1251(QString::fromUtf16(u"aΩb😀ї")), QByteArray("a?b?\xbf"));
}

TEST(TextCodec, Cp866MapsCyrillicBothWays) {
  const TCodecCase cases[] = {
      {u"АБВ", "808182"},
      {u"абв", "a0a1a2"},
      {u"рсЯя", "e0e19fef"},
      {u"Ёё", "f0f1"},
      {u"Test", "54657374"},
  };
  for (const auto &c : cases) {
    const QString text = QString::fromUtf16(c.Text);
    EXPECT_EQ(ToCp866(text).toHex(), QByteArray(c.Bytes)) << text.toStdString();
    EXPECT_EQ(FromCp866(Hex(c.Bytes)), text) << c.Bytes;
  }
  EXPECT_EQ(ToCp866(QString::fromUtf16(u"€")), QByteArray("?"));
}

TEST(TextCodec, TextFilesThatDoNotDecodeAreRefusedWithNameAndOffset) {
  QTemporaryDir dir;
  const QString path = dir.filePath("f.txt");
  const auto stringList = [&] { TXStringList().LoadFromFile(path); };
  const auto ini = [&] { TAppIniFile{path}; };
  const struct {
    const char *Name;
    std::function<void()> Read;
    QByteArray Bytes;
    const char *Error; // after "<path>: "
  } cases[] = {
      {"list, unassigned byte", stringList, "a\r\n\x98", "invalid windows-1251 byte at offset 3"},
      {"list, bad byte after the mark", stringList, "\xEF\xBB\xBF" "a\xC3", "invalid UTF-8 byte at offset 4"},
      {"ini, cut sequence after the mark", ini, "\xEF\xBB\xBF[com]\xD0", "invalid UTF-8 byte at offset 8"},
  };
  for (const auto &c : cases) {
    SaveFileBytes(path, c.Bytes);
    EXPECT_THROW(c.Read(), EKvFormat) << c.Name;
    EXPECT_EQ(ErrorOf(c.Read), path + ": " + c.Error) << c.Name;
  }
  // Without a mark a settings file may be in either encoding: both are named.
  SaveFileBytes(path, "[com]\r\nport=\x98");
  EXPECT_THROW(ini(), EKvFormat);
  EXPECT_EQ(ErrorOf(ini), "Файл настроек " + path + " не в кодировке UTF-8 (байт 12) и не в windows-1251 (байт 12)");
  // Every other byte still reads, and the mark still means UTF-8.
  SaveFileBytes(path, "\xEF\xBB\xBF" "[com]\r\nport=\xD0\xAF\r\n");
  EXPECT_EQ(TAppIniFile(path).ReadString("com", "port", ""), QString::fromUtf16(u"Я"));
}
