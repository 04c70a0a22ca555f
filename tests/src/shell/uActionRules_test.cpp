#include "uActionRules.h"

#include "uErrors.h"

#include <gtest/gtest.h>

TEST(ActionRules, EnabledFlagsFollowTheStateTable) {
  // Idle, Ready, page, tag, debug/poll, ustav/directEdit -> the flags looked at.
  const struct {
    TActionInputs In;
    bool Refresh, Break, Poll, PrimVal, Auto, OscTools, Setup, Edit, Write, Excel;
  } cases[] = {
      // Nothing identified yet, title panel.
      {{true, false, 0, 0, true, 0}, false, false, true, true, true, false, false, false, false, false},
      // Refresh is on whenever debug/poll is false, even while busy.
      {{false, false, 1, 0, false, 0}, true, true, false, false, false, false, false, false, false, true},
      // Setpoints page: Write off with directEdit 0, on with 2 once Ready and idle.
      {{true, true, 2, 0, true, 0}, true, false, true, true, false, false, false, true, false, true},
      {{true, true, 2, 0, true, 2}, true, false, true, true, false, false, false, true, true, true},
      {{false, true, 2, 0, true, 2}, false, true, false, true, false, false, false, true, false, true},
      // Parameters page writes all once Ready and idle.
      {{true, true, 1, 0, true, 0}, true, false, true, false, false, false, false, false, true, true},
      // A local set tab (page 5, Tag -7).
      {{true, true, 5, -7, true, 0}, true, false, true, false, false, false, false, false, true, false},
      // Device boards (Tag -8): the designer; an oscillogram tab (Tag -1): its tools.
      {{true, true, 6, -8, true, 0}, true, false, true, false, false, false, true, false, false, false},
      {{true, true, 6, -1, true, 0}, true, false, true, false, false, true, false, false, false, false},
      // Title panel with a device: designer on; no page active: nothing page-bound.
      {{true, true, 0, 0, true, 0}, true, false, true, true, true, false, true, false, false, false},
      {{true, true, -1, 0, true, 0}, true, false, true, false, false, false, false, false, false, false},
      {{true, true, 4, 0, true, 0}, true, false, true, true, false, false, false, false, false, false},
  };
  int i = 0;
  for (const auto &c : cases) {
    SCOPED_TRACE(i++);
    const TActionStates s = ActionListUpdate(c.In);
    EXPECT_EQ(s.aMonitorRefresh, c.Refresh);
    EXPECT_EQ(s.aMonitorBreak, c.Break);
    EXPECT_EQ(s.aMonitorPoll, c.Poll);
    EXPECT_EQ(s.apFileLoad, c.Poll);
    EXPECT_EQ(s.cbPrimVal, c.PrimVal);
    EXPECT_EQ(s.cbAuto, c.Auto);
    EXPECT_EQ(s.aoSetup, c.OscTools);
    EXPECT_EQ(s.adSetup, c.Setup);
    EXPECT_EQ(s.auEdit, c.Edit);
    EXPECT_EQ(s.auWrite, c.Write);
    EXPECT_EQ(s.nExcel, c.Excel);
    EXPECT_EQ(s.miModbus, c.In.Ready);
  }
}

TEST(ActionRules, BaudRateAndPortCaptions) {
  EXPECT_EQ(BaudRateFromCaption("19&200"), 19200);
  EXPECT_EQ(PollPauseForBaud(19200), 13);
  EXPECT_EQ(PollPauseForBaud(38400), 7);
  EXPECT_EQ(PollPauseForBaud(115200), 3);
  for (const char *bad : {"0", "abc", "", "-9600"})
    EXPECT_THROW(BaudRateFromCaption(bad), EKvError) << bad;
  EXPECT_EQ(PortNameFromCaption("USB Serial (ttyUSB0)"), "ttyUSB0");
  EXPECT_EQ(PortNameFromCaption("&Communications Port (COM1)"), "COM1");
  EXPECT_EQ(PortNameFromCaption("/dev/ttyS&0"), "/dev/ttyS0");
  EXPECT_EQ(PortNameFromCaption("Port ()"), "Port ()");
}
