#include "uDateTime.h"

#include "uErrorOf.h"
#include "uErrors.h"
#include "uLinkText.h"

#include <gtest/gtest.h>

namespace {

struct TFields {
  int Y, Mo, D, H, Mi, S, Ms;
};

TFields Decode(TDateTime V) {
  TFields f{};
  DecodeDateTime(V, f.Y, f.Mo, f.D, f.H, f.Mi, f.S, f.Ms);
  return f;
}

bool operator==(const TFields &A, const TFields &B) {
  return A.Y == B.Y && A.Mo == B.Mo && A.D == B.D && A.H == B.H && A.Mi == B.Mi && A.S == B.S && A.Ms == B.Ms;
}

} // namespace

TEST(DateTime, DayCountsMatchTheBaseDay) {
  const struct {
    TFields F;
    double Days;
  } cases[] = {
      {{1899, 12, 30, 0, 0, 0, 0}, 0.0},
      {{1900, 1, 1, 0, 0, 0, 0}, 2.0},
      {{1970, 1, 1, 0, 0, 0, 0}, 25569.0},
      {{2000, 1, 1, 0, 0, 0, 0}, 36526.0},
      {{2000, 1, 1, 18, 0, 0, 0}, 36526.75},
      {{1899, 12, 29, 6, 0, 0, 0}, -1.25}, // before the base day the fraction still counts forward
      {{2024, 3, 15, 12, 34, 56, 990}, 45366.52427071759},
  };
  for (const auto &c : cases) {
    const TDateTime v = EncodeDateTime(c.F.Y, c.F.Mo, c.F.D, c.F.H, c.F.Mi, c.F.S, c.F.Ms);
    EXPECT_NEAR(v, c.Days, 1e-9) << c.Days;
    EXPECT_TRUE(Decode(c.Days) == c.F) << c.Days;
  }
}

TEST(DateTime, DecodeRoundsToTheMillisecondAcrossMidnight) {
  EXPECT_TRUE(Decode(36526.0 - 0.4 / 86400000.0) == (TFields{2000, 1, 1, 0, 0, 0, 0}));
  EXPECT_TRUE(Decode(36526.0 + 1.4 / 86400000.0) == (TFields{2000, 1, 1, 0, 0, 0, 1}));
  EXPECT_THROW(Decode(std::numeric_limits<double>::quiet_NaN()), EKvRange);
  EXPECT_THROW(Decode(3e6), EKvRange);
}

TEST(DateTime, EncodeRejectsFieldsThatAreNoMoment) {
  const TFields bad[] = {{2023, 2, 29, 0, 0, 0, 0}, {2024, 13, 1, 0, 0, 0, 0}, {2024, 1, 0, 0, 0, 0, 0},
                         {2024, 1, 1, 24, 0, 0, 0}, {2024, 1, 1, 0, 60, 0, 0}, {2024, 1, 1, 0, 0, 60, 0},
                         {2024, 1, 1, 0, 0, 0, 1000}, {0, 1, 1, 0, 0, 0, 0}};
  for (const auto &f : bad) {
    TDateTime v = 7.0;
    EXPECT_FALSE(TryEncodeDateTime(f.Y, f.Mo, f.D, f.H, f.Mi, f.S, f.Ms, v));
    EXPECT_EQ(v, 7.0);
  }
  EXPECT_THROW(EncodeDateTime(2023, 2, 29), EKvRange);
  EXPECT_EQ(ErrorOf([] { EncodeDateTime(2023, 2, 29); }), "invalid date or time");
}

TEST(DateTime, DeviceTimeRecordDecodesOrFallsBackToTheBaseDate) {
  const struct {
    uint8_t B[7];
    bool Valid;
    TFields F;
  } cases[] = {
      {{0x18, 0x03, 0x0F, 0x0C, 0x22, 0x38, 0x63}, true, {2024, 3, 15, 12, 34, 56, 990}},
      {{0x00, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00}, true, {2000, 1, 1, 0, 0, 0, 0}},
      {{0x18, 0x02, 0x1D, 0x17, 0x3B, 0x3B, 0x00}, true, {2024, 2, 29, 23, 59, 59, 0}},
      {{0xFE, 0x0C, 0x1F, 0x00, 0x00, 0x00, 0x01}, true, {2254, 12, 31, 0, 0, 0, 10}},
      {{0xFF, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00}, false, {2000, 1, 1, 0, 0, 0, 0}}, // empty record
      {{0x18, 0x02, 0x1E, 0x00, 0x00, 0x00, 0x00}, false, {2000, 1, 1, 0, 0, 0, 0}}, // 30 February
      {{0x17, 0x02, 0x1D, 0x00, 0x00, 0x00, 0x00}, false, {2000, 1, 1, 0, 0, 0, 0}}, // 29 Feb 2023
      {{0x18, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00}, false, {2000, 1, 1, 0, 0, 0, 0}}, // month 0
      {{0x18, 0x01, 0x01, 0x18, 0x00, 0x00, 0x00}, false, {2000, 1, 1, 0, 0, 0, 0}}, // hour 24
      {{0x18, 0x01, 0x01, 0x00, 0x00, 0x3C, 0x00}, false, {2000, 1, 1, 0, 0, 0, 0}}, // second 60
      {{0x18, 0x01, 0x01, 0x00, 0x00, 0x00, 0x64}, false, {2000, 1, 1, 0, 0, 0, 0}}, // 100 hundredths
  };
  for (const auto &c : cases) {
    TDateTime v = -5;
    EXPECT_EQ(DecodeDeviceTime7(c.B, v), c.Valid) << int(c.B[0]) << " " << int(c.B[1]) << " " << int(c.B[2]);
    EXPECT_TRUE(Decode(v) == c.F) << v;
  }
}

TEST(DateTime, DeviceTimeRecordRoundTrips) {
  const uint8_t rec[7] = {0x18, 0x03, 0x0F, 0x0C, 0x22, 0x38, 0x63};
  TDateTime v;
  ASSERT_TRUE(DecodeDeviceTime7(rec, v));
  uint8_t out[7] = {};
  EncodeDeviceTime7(v, out);
  EXPECT_EQ(QByteArray(reinterpret_cast<const char *>(out), 7), QByteArray(reinterpret_cast<const char *>(rec), 7));
  EXPECT_THROW(EncodeDeviceTime7(EncodeDateTime(1999, 12, 31), out), EKvRange);
  EXPECT_THROW(EncodeDeviceTime7(EncodeDateTime(2255, 1, 1), out), EKvRange);
}

TEST(DateTime, QDateTimeConversionKeepsWallClockFields) {
  const QDateTime q(QDate(2024, 3, 15), QTime(12, 34, 56, 990));
  const TDateTime v = QDateTimeToDateTime(q);
  EXPECT_NEAR(v, 45366.52427071759, 1e-9);
  EXPECT_EQ(DateTimeToQDateTime(v), q);
  EXPECT_EQ(DateTimeToQDateTime(v, Qt::UTC).time(), QTime(12, 34, 56, 990));
}

TEST(DateTime, FormatUsesDayCountPatternLetters) {
  const TDateTime v = EncodeDateTime(2024, 3, 5, 14, 3, 7, 123);
  const struct {
    const char *Fmt;
    const char *Out;
  } cases[] = {
      {"hh.nn.ss.zzz", "14.03.07.123"},
      {"yyyy-mm-dd hh:nn:ss.zzz", "2024-03-05 14:03:07.123"},
      {"dd.mm.yyyy hh:mm", "05.03.2024 14:03"}, // mm after hh is minutes
      {"d/m/yy", "5/3/24"},
      {"h:n:s.z", "14:3:7.123"},
      {"\"day\" d 'of' m", "day 5 of 3"},
      {"dd mmm yyyy", "05 мар 2024"},
      {"dd mmmm yy", "05 март 24"},
  };
  for (const auto &c : cases)
    EXPECT_EQ(FormatDateTime(c.Fmt, v), QString(c.Out)) << c.Fmt;
}

TEST(DateTime, MonthNamesFollowTheInterfacesLanguage) {
  // The translator the program installs with its table, here for two months.
  SetLinkTextTranslator([](const QString &Russian) {
    return Russian == QString::fromUtf8("мар") ? QStringLiteral("Mar")
           : Russian == QString::fromUtf8("март") ? QStringLiteral("March")
                                                 : QString();
  });
  const TDateTime v = EncodeDateTime(2024, 3, 5, 14, 3, 7, 123);
  EXPECT_EQ(FormatDateTime("dd mmm yyyy", v), "05 Mar 2024");
  EXPECT_EQ(FormatDateTime("dd mmmm yy hh:mm", v), "05 March 24 14:03");
  EXPECT_EQ(FormatDateTime("dd mmm", EncodeDateTime(2024, 4, 5, 0, 0, 0, 0)), QString::fromUtf8("05 апр"));
  SetLinkTextTranslator({});
}
