// What names one relay: two units of one type and firmware on one line are
// two units; the same unit moved to another address by its own address
// parameter is still itself where it has a datum of its own.
#include "uUnitIdentity.h"

#include <gtest/gtest.h>

namespace {
TUnitIdentity Unit(const char *Route, uint8_t Address, const char *Desc, const char *Datum, const char *Logic = "") {
  TUnitIdentity u;
  u.Route = QString::fromLatin1(Route);
  u.Address = Address;
  u.DescFrame = QByteArray(Desc);
  u.UnitDatum = QByteArray(Datum);
  u.LogicDigest = QByteArray(Logic);
  return u;
}
} // namespace

TEST(UnitIdentity, NamesTheUnitNotOnlyItsType) {
  const TUnitIdentity a = Unit("tcp:127.0.0.1:502", 1, "desc", "cal-1", "logic-1");
  const struct {
    const char *Case;
    TUnitIdentity Other;
    bool Same, Type;
  } cases[] = {
      {"itself", a, true, true},
      {"the same unit, its logic not read", Unit("tcp:127.0.0.1:502", 1, "desc", "cal-1"), true, true},
      {"the same unit moved to address 2", Unit("tcp:127.0.0.1:502", 2, "desc", "cal-1", "logic-1"), true, true},
      {"another unit of the type at address 2", Unit("tcp:127.0.0.1:502", 2, "desc", "cal-2", "logic-1"), false,
       true},
      {"another unit swapped in at address 1", Unit("tcp:127.0.0.1:502", 1, "desc", "cal-2", "logic-1"), false,
       true},
      {"the same datum, other logic", Unit("tcp:127.0.0.1:502", 1, "desc", "cal-1", "logic-2"), false, true},
      {"another firmware", Unit("tcp:127.0.0.1:502", 1, "desc-2", "cal-1", "logic-1"), false, false},
      {"another route", Unit("rtu:/dev/ttyS0", 1, "desc", "cal-1", "logic-1"), false, true},
      {"no unit", TUnitIdentity(), false, false},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(a.SameUnit(c.Other), c.Same) << c.Case;
    EXPECT_EQ(c.Other.SameUnit(a), c.Same) << c.Case;
    EXPECT_EQ(a.SameType(c.Other), c.Type) << c.Case;
  }
}

TEST(UnitIdentity, WithoutADatumTheAddressTellsUnitsApart) {
  const TUnitIdentity a = Unit("rtu:/dev/ttyS0", 1, "desc", "");
  EXPECT_TRUE(a.SameUnit(Unit("rtu:/dev/ttyS0", 1, "desc", "")));
  EXPECT_FALSE(a.SameUnit(Unit("rtu:/dev/ttyS0", 2, "desc", "")));
  EXPECT_FALSE(TUnitIdentity().SameUnit(TUnitIdentity()));
}

TEST(UnitIdentity, TheCheckComparesTheAddressAskedTheFrameAndTheDatum) {
  const TUnitIdentity a = Unit("tcp:127.0.0.1:502", 1, "desc", "cal-1");
  EXPECT_TRUE(a.SameAnswer(1, "desc", "cal-1"));
  EXPECT_FALSE(a.SameAnswer(2, "desc", "cal-1"));
  EXPECT_FALSE(a.SameAnswer(1, "desc-2", "cal-1"));
  EXPECT_FALSE(a.SameAnswer(1, "desc", "cal-2"));
  EXPECT_FALSE(a.SameAnswer(1, "desc", ""));
  EXPECT_FALSE(TUnitIdentity().SameAnswer(0, "", ""));
}
