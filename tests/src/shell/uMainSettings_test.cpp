#include "uMainSettings.h"

#include "uAppIniFile.h"
#include "uTextCodec.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {
class MainSettingsTest : public ::testing::Test {
protected:
  TMainSettings ReadIni(const QString &Text) {
    const QString path = FDir.filePath("kv.ini");
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(ToWin1251(Text));
    f.close();
    return TMainSettings::Read(TAppIniFile(path), "/opt/kv/");
  }
  QTemporaryDir FDir;
};
} // namespace

TEST_F(MainSettingsTest, EmptyFileGivesEveryDefault) {
  const TMainSettings s = ReadIni("");
  EXPECT_FALSE(s.SmartDesc);
  EXPECT_EQ(s.TempFolder, "/opt/kv/");
  EXPECT_EQ(s.DashboardFile, "/opt/kv/dashboard.XML");
  EXPECT_EQ(s.TimerIntervalMs, 2000);
  EXPECT_EQ(s.Lang, "RU");
  EXPECT_EQ(s.Custom, -1);
  const TMenuVisibility &v = s.Visible;
  for (bool b : {v.CustomLogic, v.Control, v.DeviceBoard, v.DeviceType, v.CoreDate, v.DescDate, v.Modbus, v.Log,
                 v.EventReport, v.EventExport, v.MMSConfig, v.ModbusTcp, v.AgentClient})
    EXPECT_FALSE(b);
  EXPECT_EQ(s.BaudRates, QStringList{"38400"});
  EXPECT_EQ(s.LoopCount, 5);
  EXPECT_EQ(s.SleepBeforeMs, 0);
  EXPECT_EQ(s.TimeoutMs, 50);
  EXPECT_EQ(s.PasswdExpirationPeriod, 300);
  EXPECT_EQ(s.LoadDesc, "");
  EXPECT_EQ(s.Protocol, TLinkProtocol::ModbusRtu);
  EXPECT_TRUE(s.PortMenusEnabled);
  EXPECT_EQ(s.PollPause, 4);
  EXPECT_EQ(s.ErrorLimit, 3);
  EXPECT_EQ(s.ErrorSleep, 50);
  EXPECT_EQ(s.Logo, "ВАРНОК");
  EXPECT_EQ(s.LogoDevice, "TMV31");
  EXPECT_FALSE(s.VirtualInputPulse);
  EXPECT_TRUE(s.Poll);
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
  EXPECT_EQ(s.Custom, 5);
  EXPECT_TRUE(s.VirtualInputPulse);
  EXPECT_EQ(s.TimerIntervalMs, 2000);
  EXPECT_EQ(s.BaudRates, (QStringList{"9600", "19200", "38400", "115200"}));
  EXPECT_EQ(s.LoopCount, 2);
  EXPECT_EQ(s.SleepBeforeMs, 10);
  EXPECT_EQ(s.TimeoutMs, 200);
  EXPECT_EQ(s.Logo, "ТЕСТ");
  EXPECT_EQ(s.LogoDevice, "TMV99");
  EXPECT_EQ(s.PasswdExpirationPeriod, 60);
  EXPECT_EQ(s.Lang, "EN");
  EXPECT_EQ(s.PollPause, 7);
  EXPECT_EQ(s.ErrorLimit, 1);
  EXPECT_EQ(s.ErrorSleep, 5);
  EXPECT_FALSE(s.Poll);
}
