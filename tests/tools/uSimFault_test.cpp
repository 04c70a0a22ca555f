#include "../common/uErrorOf.h"
#include "uErrors.h"
#include "uSimDevice.h"
#include "uSimFault.h"

#include <gtest/gtest.h>

TEST(SimFault, CountsOnlyMatchingRequests) {
  TSimDevice device;
  TSimFault f;
  f.Kind = TSimFaultKind::Silence;
  f.Function = 0x1C;
  f.After = 1;
  f.Count = 2;
  device.SetFault(f);
  // A poll does not count; of the file reads, the first passes, two are spoiled, then normal.
  const std::pair<uint8_t, bool> seq[] = {{0x07, false}, {0x1C, false}, {0x1C, true},
                                          {0x03, false}, {0x1C, true},  {0x1C, false}};
  for (const auto &[fn, spoiled] : seq)
    EXPECT_EQ(device.TakeFault(fn).Kind == TSimFaultKind::Silence, spoiled) << int(fn);
}

TEST(SimFault, ParsesEveryKindAndRefusesTheRest) {
  struct {
    const char *Text;
    TSimFaultKind Kind;
    int Value;
  } good[] = {
      {"none", TSimFaultKind::None, 0},
      {"exception=2", TSimFaultKind::Exception, 2},
      {"silence", TSimFaultKind::Silence, 0},
      {"bad-crc", TSimFaultKind::BadCrc, 0},
      {"other-address=0x10", TSimFaultKind::OtherAddress, 16},
      {"other-function=4", TSimFaultKind::OtherFunction, 4},
      {"short=3", TSimFaultKind::ShortAnswer, 3},
      {"late=1500", TSimFaultKind::LateAnswer, 1500},
      {"lost-answer", TSimFaultKind::LostAnswer, 0},
  };
  for (const auto &g : good) {
    const TSimFault f = ParseSimFault(QString::fromLatin1(g.Text));
    EXPECT_EQ(f.Kind, g.Kind) << g.Text;
    EXPECT_EQ(f.Value, g.Value) << g.Text;
    EXPECT_EQ(f.Count, -1) << g.Text;
  }
  for (const char *bad : {"exception", "silence=1", "exception=256", "late=-1", "short=x", "loud", ""})
    EXPECT_EQ(ErrorOf([&] { ParseSimFault(QString::fromLatin1(bad)); }), "invalid fault: " + QString::fromLatin1(bad));
}
