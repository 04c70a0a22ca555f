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

TEST(SimFault, RegisterSwitchSpoilsOnlyRequestsTakingInItsRegister) {
  TSimDevice device;
  TSimFault f;
  f.Kind = TSimFaultKind::Exception;
  f.Value = SIM_EX_ILLEGAL_ADDRESS;
  f.Register = 100;
  device.SetFault(f);
  const struct {
    const char *Pdu;
    bool Spoiled;
  } seq[] = {
      {"03 0064 0001", true},  {"03 0060 0005", true},  {"03 0060 0004", false}, {"03 0065 0002", false},
      {"53 0063 0002", true},  {"06 0064 1234", true},  {"06 0063 1234", false}, {"56 0064 0001", true},
      {"07", false},           {"1c 64 0000 00", false}, {"03 0064 0001", true},
  };
  for (const auto &s : seq)
    EXPECT_EQ(device.TakeFault(QByteArray::fromHex(QByteArray(s.Pdu).replace(' ', ""))).Kind ==
                  TSimFaultKind::Exception,
              s.Spoiled)
        << s.Pdu;
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
      {"unkept", TSimFaultKind::Unkept, 0},
      {"held-bits=0xFFFF", TSimFaultKind::HeldBits, 0xFFFF},
  };
  for (const auto &g : good) {
    const TSimFault f = ParseSimFault(QString::fromLatin1(g.Text));
    EXPECT_EQ(f.Kind, g.Kind) << g.Text;
    EXPECT_EQ(f.Value, g.Value) << g.Text;
    EXPECT_EQ(f.Count, -1) << g.Text;
  }
  for (const char *bad : {"exception", "silence=1", "exception=256", "late=-1", "short=x", "unkept=1", "held-bits",
                          "held-bits=0x10000", "loud", ""})
    EXPECT_EQ(ErrorOf([&] { ParseSimFault(QString::fromLatin1(bad)); }), "invalid fault: " + QString::fromLatin1(bad));
}
