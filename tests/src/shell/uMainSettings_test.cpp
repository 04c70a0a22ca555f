#include "uMainSettings.h"

#include "uAppIniFile.h"
#include "uFiles.h"
#include "uLogger.h"
#include "uTextCodec.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {
class MainSettingsTest : public ::testing::Test {
protected:
  TMainSettings ReadIni(const QString &Text) {
    const QString path = FDir.filePath("kv.ini");
    SaveFileBytes(path, ToWin1251(Text));
    return TMainSettings::Read(TAppIniFile(path), "/opt/kv/");
  }
  QTemporaryDir FDir;
};

// Timer, custom, loops, sleep, timeout, password period, poll pause, error limit and sleep.
std::vector<int> Numbers(const TMainSettings &S) {
  return {S.TimerIntervalMs,        S.Custom,    S.LoopCount,  S.SleepBeforeMs, S.TimeoutMs,
          S.PasswdExpirationPeriod, S.PollPause, S.ErrorLimit, S.ErrorSleep};
}
QStringList Texts(const TMainSettings &S) {
  return {S.TempFolder, S.DashboardFile, S.Lang, S.Logo, S.LogoDevice, S.LoadDesc, S.BaudRates.join(',')};
}
} // namespace

TEST_F(MainSettingsTest, EmptyFileGivesEveryDefault) {
  const TMainSettings s = ReadIni("");
  EXPECT_EQ(Numbers(s), (std::vector<int>{2000, -1, 5, 0, 50, 300, 4, 3, 50}));
  EXPECT_EQ(Texts(s), QStringList({"/opt/kv/", "/opt/kv/dashboard.XML", "RU", "ВАРНОК", "TMV31", "", "38400"}));
  const TMenuVisibility &v = s.Visible;
  for (bool b :
       {v.CustomLogic, v.Control, v.DeviceBoard, v.DeviceType, v.CoreDate, v.DescDate, v.Modbus, v.Log, v.EventReport,
        v.EventExport, v.MMSConfig, v.ModbusTcp, v.AgentClient, s.SmartDesc, s.VirtualInputPulse})
    EXPECT_FALSE(b);
  EXPECT_EQ(s.Protocol, TLinkProtocol::ModbusRtu);
  EXPECT_TRUE(s.PortMenusEnabled && s.Poll);
}

TEST_F(MainSettingsTest, ModbusTcpProtocolReadsTheTargetAndDisablesPortMenus) {
  TMainSettings s = ReadIni("[setup]\nprotocol=modbustcp\n");
  EXPECT_EQ(s.Protocol, TLinkProtocol::ModbusTcp);
  EXPECT_FALSE(s.PortMenusEnabled);
  EXPECT_EQ(s.TcpHost, LoopbackHostName());
  EXPECT_EQ(s.TcpPort, 2001);
  EXPECT_FALSE(s.TcpFrameSizeCmd);

  s = ReadIni("[setup]\nprotocol=modbustcp\n[modbustcp]\nhost=10.0.0.7\nport=502\nframeSizeCmd=1\n");
  EXPECT_EQ(s.TcpHost, "10.0.0.7");
  EXPECT_EQ(s.TcpPort, 502);
  EXPECT_TRUE(s.TcpFrameSizeCmd);

  // Any other text is serial Modbus RTU with the menus as designed.
  s = ReadIni("[setup]\nprotocol=rtu\n[modbustcp]\nhost=10.0.0.7\n");
  EXPECT_EQ(s.Protocol, TLinkProtocol::ModbusRtu);
  EXPECT_TRUE(s.PortMenusEnabled);
  EXPECT_EQ(s.TcpHost, "");
}

TEST_F(MainSettingsTest, WorkFolderIsAbsoluteAndEndsWithSeparator) {
  EXPECT_EQ(ReadIni("[setup]\ntemp=/var/kv/work\n").TempFolder, "/var/kv/work/");
  EXPECT_EQ(ReadIni("[setup]\ntemp=/var/kv/work/\n").TempFolder, "/var/kv/work/");
  EXPECT_EQ(ReadIni("[setup]\ntemp=work\n").TempFolder, "/opt/kv/work/");
  EXPECT_EQ(ReadIni("[setup]\ntemp=\n").TempFolder, "/opt/kv/");
}

// The menu and label rules are checked through the window in the main form's tests.
TEST_F(MainSettingsTest, IntervalBaudRatesAndLogo) {
  const TMainSettings s = ReadIni("[timer]\ninterval=-1\n[com]\nbaudratelist=9600,19200,38400,115200\n"
                                  "loopCount=2\nSleepBefore=10\nTimeout=200\n"
                                  "[setup]\nlogo=ТЕСТ\nlogoDevice=TMV99\npasswdExpirationPeriod=60\nlang=EN\n"
                                  "custom=5\n[dashboard]\nvirtualInputPulse=1\n"
                                  "[device]\npollPause=7\nerrorLimit=1\nerrorSleep=5\n[debug]\npoll=0\n");
  EXPECT_EQ(Numbers(s), (std::vector<int>{2000, 5, 2, 10, 200, 60, 7, 1, 5}));
  EXPECT_EQ(Texts(s).mid(2), QStringList({"EN", "ТЕСТ", "TMV99", "", "9600,19200,38400,115200"}));
  EXPECT_TRUE(s.VirtualInputPulse);
  EXPECT_FALSE(s.Poll);
}

// The bound of the logs: a size below one megabyte and a count below one
// would keep nothing earlier.
TEST_F(MainSettingsTest, LogBoundReadsSizeAndCountWithinTheirLimits) {
  const struct {
    const char *Ini;
    int64_t Bytes;
    int Generations;
  } rows[] = {
      {"", 8000000, 19},
      {"[log]\ngenerationMB=4\ngenerations=30\n", 4000000, 30},
      {"[log]\ngenerationMB=0\ngenerations=0\n", 8000000, 1},
      {"[log]\ngenerationMB=-5\ngenerations=-1\n", 8000000, 1},
      {"[log]\ngenerationMB=1024\ngenerations=999\n", 1024000000, 999},
      {"[log]\ngenerationMB=1025\ngenerations=2147483647\n", 1024000000, 999},
      {"[log]\ngenerationMB=99999999999\ngenerations=1000\n", 1024000000, 999},
      {"[log]\ngenerationMB=1.5\ngenerations=abc\n", 8000000, 19},
      {"[log]\ngenerationMB=$FFFFFFFF\ngenerations=0x10\n", 8000000, 19},
  };
  for (const auto &r : rows) {
    const TLogBound b = ReadIni(r.Ini).LogBound;
    EXPECT_EQ(b.GenerationBytes, r.Bytes) << r.Ini;
    EXPECT_EQ(b.Generations, r.Generations) << r.Ini;
  }
}

// A value of the bound not taken as written is said once, in the log the
// engineer reads, with what was taken instead.
TEST_F(MainSettingsTest, LogBoundValueNotUnderstoodIsSaidOnceInTheLog) {
  const TLogBound old = LogBound();
  SetLogBound(ReadIni("[log]\ngenerations=1.5\ngenerationMB=8\n").LogBound);
  const QString path = FDir.filePath("kv.log");
  for (int run = 0; run < 2; ++run) {
    TLogger log;
    log.Open(path, true);
    log.Close();
  }
  SetLogBound(old);
  QByteArray said = LoadFileBytes(path + ".1") + LoadFileBytes(path);
  EXPECT_EQ(said.count("[log]"), 1) << said.constData();
  EXPECT_TRUE(said.contains(" ERROR [log] generations=1.5: значение не понято, взято по умолчанию 19\r\n"))
      << said.constData();
}
