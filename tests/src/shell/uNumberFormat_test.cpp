#include "uNumberFormat.h"

#include <gtest/gtest.h>

TEST(NumberFormat, FormatValueChoosesFormatByStrictMagnitude) {
  const struct {
    double Value;
    const char *Text;
  } cases[] = {
      {100.4, "100"},      // > 100: "%3.0f"
      {100.0, "100.0"},    // 100 is not > 100: "%4.1f"
      {12.34, "12.3"},     // > 10: "%4.1f"
      {10.0, "10.00"},     // 10 is not > 10: "%4.2f"
      {5.5, "5.50"},       // > 1: "%4.2f"
      {1.0, "1.000"},      // 1 is not > 1: "%5.3f"
      {0.5, "0.500"},      // > 0.001: "%5.3f"
      {0.001, "0.00"},     // 0.001 is not > 0.001: fixed, two decimals
      {0.0005, "0.00"},
      {0.0, "0.00"},
      {-1.0, "-1.00"},     // negative values always fixed
      {-250.0, "-250.00"},
      {123456.7, "123457"},
      {150.5, "151"},      // exact ties round away from zero
  };
  for (const auto &c : cases)
    EXPECT_EQ(FormatValue(c.Value), QString::fromLatin1(c.Text)) << c.Value;
}

TEST(NumberFormat, FormatFixedUsesDigitsPlusTwoAsWidth) {
  const struct {
    int Digits;
    double Value;
    const char *Text;
  } cases[] = {
      {0, 2.6, "3"},      // "%1.0f"
      {0, 1234.2, "1234"},
      {1, 5.0, "5.0"},    // "%3.1f"
      {2, 3.14159, "3.14"},
      {3, 1.5, "1.500"},  // "%5.3f"
      {3, 0.0, "0.000"},
      {2, -1.0, "-1.00"},
      {4, 12.5, "12.5000"},
      {-1, 2.6, "3"},     // a broken digit count reads as 0
      {0, 2.5, "3"},      // exact binary ties round away from zero
      {0, -2.5, "-3"},
      {1, 0.25, "0.3"},
      {2, 0.125, "0.13"},
  };
  for (const auto &c : cases)
    EXPECT_EQ(FormatFixed(c.Digits, c.Value), QString::fromLatin1(c.Text)) << c.Digits << " " << c.Value;
}
