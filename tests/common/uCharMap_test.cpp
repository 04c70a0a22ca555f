#include "uCharMap.h"
#include "uFiles.h"
#include "uTextCodec.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

uint8_t W(const char *Utf8) { return uint8_t(ToWin1251(QString::fromUtf8(Utf8)).at(0)); }

class CharMapTest : public ::testing::Test {
protected:
  void SetUp() override { SetCharMap(BuiltInCharMap()); }
  void TearDown() override { SetCharMap(BuiltInCharMap()); }
};

} // namespace

TEST_F(CharMapTest, EveryRussianLetterHasItsOwnCodeOrALatinLookAlike) {
  const QString letters = QString::fromUtf8("АБВГДЕЁЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯабвгдеёжзийклмнопрстуфхцчшщъыьэюя");
  for (QChar ch : letters) {
    const uint8_t d = CharMapToDevice[uint8_t(ToWin1251(QString(ch)).at(0))];
    EXPECT_TRUE(d >= 0x80 || (d >= 'A' && d <= 'Z') || (d >= 'a' && d <= 'z')) << QString(ch).toStdString();
    // The display shows it and the text comes back as the same letter; the
    // upper-case soft sign shares the lower-case glyph.
    const QString back = DeviceToProgram(QByteArray(1, char(d)));
    EXPECT_EQ(back, ch == QChar(0x042C) ? QString(QChar(0x044C)) : QString(ch)) << QString(ch).toStdString();
  }
}

TEST_F(CharMapTest, LatinCodesOfLookAlikesDecodeToCyrillic) {
  EXPECT_EQ(DeviceToProgram(QByteArray("\x41\x42")), QString::fromUtf8("АВ"));
  EXPECT_EQ(DeviceToProgram(QByteArray("Ia 1")), QString::fromUtf8("Іа 1"));
  EXPECT_EQ(DeviceToProgram(QByteArray("\xA0\xA1\xE9")), QString::fromUtf8("БГ~"));
  // Ukrainian letters borrow codes without taking them over.
  EXPECT_EQ(DeviceToProgram(ProgramToDevice(ToWin1251(QString::fromUtf8("ЄєЇїҐґ")))), QString::fromUtf8("ЕеІйГг"));
}

TEST_F(CharMapTest, LineBreakIsABlankAndCodesThatNoCharacterMapsToAreDropped) {
  // 0x01 is the display's line break ("A|B"), 0x7B is nobody's code.
  EXPECT_EQ(DeviceToProgramBytes(QByteArray("A\x01\x7B" "B", 4)), ToWin1251(QString::fromUtf8("А В")));
  EXPECT_EQ(DeviceToProgramBytes(QByteArray("\x00\x00", 2)).size(), 0);
}

TEST_F(CharMapTest, ShortFileReplacesOnlyItsFirstEntries) {
  QTemporaryDir dir;
  const QString name = QDir(dir.path()).filePath("charmap.bin");
  SaveFileBytes(name, "\x30\x31\x32");
  LoadCharMap(name);
  EXPECT_EQ(QByteArray(reinterpret_cast<const char *>(CharMapToDevice), 256),
            QByteArray("\x30\x31\x32") + BuiltInCharMap().mid(3));
  // '0' (0x30) is still the highest character with code 0x30.
  EXPECT_EQ(CharMapFromDevice[0x30], 0x30);
}

TEST_F(CharMapTest, MissingFileGivesTheBuiltInTable) {
  SetCharMap(QByteArray(256, '\x20'));
  LoadCharMap(QStringLiteral("/nonexistent/charmap.bin"));
  EXPECT_EQ(QByteArray(reinterpret_cast<const char *>(CharMapToDevice), 256), BuiltInCharMap());
}

TEST_F(CharMapTest, ReverseTableIsClearedBeforeEachLoad) {
  ASSERT_EQ(CharMapFromDevice[0xA0], W("Б"));
  QByteArray other(256, '\0');
  for (int c = 0x20; c < 0x7F; ++c)
    other[c] = char(c);
  SetCharMap(other);
  EXPECT_EQ(CharMapFromDevice[0xA0], 0);
  EXPECT_EQ(CharMapFromDevice[0x41], 0x41);
}

TEST_F(CharMapTest, ProgramTextIsTranslatedByteForByte) {
  EXPECT_EQ(ProgramToDevice(ToWin1251(QString::fromUtf8("Ба{~"))), QByteArray("\xA0\x61\x00\xE9", 4));
}
