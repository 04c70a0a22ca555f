#include "uLinkText.h"

#include "oi.h"

#include <QHash>
#include <gtest/gtest.h>

namespace {
// An English table, as the program's translation table gives it.
class EnglishLinkTexts : public ::testing::Test {
protected:
  void SetUp() override {
    SetLinkTextTranslator([](const QString &Text) {
      static const QHash<QString, QString> table = {
          {"Нет ответа от устройства", "No answer from the device"},
          {"Связь с %1:%2 разорвана", "Connection to %1:%2 lost"},
          {"Порт %1 недоступен: %2", "Port %1 unavailable: %2"},
          {"Ошибка устройства %1", "Device error %1"},
          {"Ошибка устройства 06: устройство занято", "Device error 06: device busy"},
      };
      return table.value(Text, Text);
    });
  }
  void TearDown() override { SetLinkTextTranslator(nullptr); }
};
} // namespace

TEST_F(EnglishLinkTexts, ATextIsShownInTheInterfaceLanguageWithItsArguments) {
  struct TCase {
    const char *Russian, *Local;
  } cases[] = {
      {"Нет ответа от устройства", "No answer from the device"},
      {"Связь с 10.0.0.7:502 разорвана", "Connection to 10.0.0.7:502 lost"},
      // The system's reason may hold anything, a "%2" included.
      {"Порт /dev/ttyS0 недоступен: нет доступа %2", "Port /dev/ttyS0 unavailable: нет доступа %2"},
      {"Ошибка устройства 06", "Device error 06"},
      {"Ошибка устройства 06: устройство занято", "Device error 06: device busy"},
      // Not in the table: as it is.
      {"Неполный ответ устройства", "Неполный ответ устройства"},
      {"Готово", "Готово"},
  };
  for (const TCase &c : cases)
    EXPECT_EQ(LocalLinkText(QString::fromUtf8(c.Russian)), QString::fromUtf8(c.Local)) << c.Russian;
}

TEST_F(EnglishLinkTexts, LinkFailuresAreKnownInBothLanguagesAndNothingElseIs) {
  for (const char *t : {"Нет ответа от устройства", "No answer from the device", "Связь с h:1 разорвана",
                        "Connection to h:1 lost", "Неверный ответ устройства", "Device error 0b",
                        "Нет соединения с 127.0.0.1:2001"})
    EXPECT_TRUE(IsLinkFailureText(QString::fromUtf8(t))) << t;
  for (const char *t : {"Готово", "Прервано", "No answer", "Connection to h:1 lost later"})
    EXPECT_FALSE(IsLinkFailureText(QString::fromUtf8(t))) << t;
}

TEST(LinkFailureText, TheWorkersCauseWinsAndTheStatusAloneNamesNoAnswerOrTheDeviceError) {
  EXPECT_EQ(LinkFailureText(oisBadCRC, "Ошибка контрольной суммы ответа"), "Ошибка контрольной суммы ответа");
  EXPECT_EQ(LinkFailureText(oisUnknown, {}), "Нет ответа от устройства");
  EXPECT_EQ(LinkFailureText(oisBadCI, {}), "Нет ответа от устройства");
  EXPECT_EQ(LinkFailureText(0x0B, {}), "Ошибка устройства 0b");
  EXPECT_EQ(DeviceErrorText(0x40), "Ошибка устройства 40");
  // Busy names its reason, and is logged as the exception it is.
  EXPECT_EQ(DeviceErrorText(MB_EXCEPTION_BUSY), "Ошибка устройства 06: устройство занято");
  EXPECT_EQ(LinkFailureCode(MB_EXCEPTION_BUSY, DeviceErrorText(MB_EXCEPTION_BUSY)), "exception-06");
}
