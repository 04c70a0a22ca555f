#include "uMainSettings.h"

#include "uAppIniFile.h"
#include "uPollTimer.h"

#include <QDir>
#include <QRegularExpression>
#include <algorithm>

QString LoopbackHostName() { return QStringLiteral("localhost"); }

namespace {
// A number of the logs' bound: decimal digits only, for a count or a size has
// no use for a sign, a fraction or a hexadecimal pattern ("$FFFFFFFF" would be
// -1). A larger value is taken as Max, one below 1 as Below, anything else not
// understood as Default; each of those is noted for the log to say.
int ReadLogNumber(const TAppIniFile &Ini, const QString &Key, int Default, int Below, int Max, QStringList &Notes) {
  if (!Ini.ValueExists("log", Key))
    return Default;
  const QString text = Ini.ReadString("log", Key, "");
  const QString head = QStringLiteral("[log] %1=%2: ").arg(Key, text);
  static const QRegularExpression decimal(QStringLiteral("^[+-]?[0-9]+$"));
  if (!decimal.match(text).hasMatch()) {
    Notes << head + QStringLiteral("значение не понято, взято по умолчанию %1").arg(Default);
    return Default;
  }
  const QString digits = text.mid(text.front().isDigit() ? 0 : 1);
  const bool negative = text.startsWith(u'-');
  bool small = false;
  const int value = digits.size() <= 9 ? digits.toInt(&small) : 0;
  if (!negative && (!small || value > Max)) {
    Notes << head + QStringLiteral("больше предела, взято %1").arg(Max);
    return Max;
  }
  if (negative || value < 1) {
    Notes << head + QStringLiteral("меньше 1, взято %1").arg(Below);
    return Below;
  }
  return value;
}
} // namespace

TMainSettings TMainSettings::Read(const TAppIniFile &Ini, const QString &ProgramFolder) {
  TMainSettings s;
  s.SmartDesc = Ini.ReadBool("setup", "smartDesc", false);

  QString temp = Ini.ReadString("setup", "temp", ProgramFolder);
  if (temp.isEmpty())
    temp = ProgramFolder;
  temp = QDir(ProgramFolder).absoluteFilePath(temp);
  if (!temp.endsWith(u'/'))
    temp += u'/';
  s.TempFolder = temp;

  s.DashboardFile = ProgramFolder + Ini.ReadString("dashboard", "fileName", "dashboard.XML");
  s.TimerIntervalMs = EffectiveTimerIntervalMs(Ini.ReadInteger("timer", "interval", 2000));
  s.Lang = Ini.ReadString("setup", "lang", "RU");

  // Later assignments to the same item win: the tools keys decide the custom
  // logic and device board items in the end.
  TMenuVisibility &v = s.Visible;
  s.Custom = Ini.ReadInteger("setup", "custom", -1);
  v.CustomLogic = s.Custom >= 0;
  v.Control = Ini.ReadBool("setup", "extControl", false);
  v.DeviceBoard = Ini.ReadBool("setup", "deviceBoard", false);
  v.DeviceType = Ini.ReadBool("dashboard", "deviceType", false);
  v.CoreDate = Ini.ReadBool("dashboard", "coreDate", false);
  v.DescDate = Ini.ReadBool("dashboard", "descDate", false);
  v.Modbus = Ini.ReadBool("tools", "modbus", false);
  v.Log = Ini.ReadBool("tools", "log", false);
  v.CustomLogic = Ini.ReadBool("tools", "customLogic", false);
  v.DeviceBoard = Ini.ReadBool("tools", "deviceBoard", false);
  v.EventReport = Ini.ReadBool("tools", "eventReport", false);
  v.EventExport = Ini.ReadBool("tools", "eventExport", false);
  v.MMSConfig = Ini.ReadBool("tools", "MMSConfigForm", false);
  v.ModbusTcp = Ini.ReadBool("tools", "ModbusTcpForm", false);
  v.AgentClient = Ini.ReadBool("tools", "AgentClientForm", false);

  s.BaudRates = Ini.ReadString("com", "baudratelist", "38400").split(u',');
  s.LoopCount = Ini.ReadInteger("com", "loopCount", 5);
  s.SleepBeforeMs = Ini.ReadInteger("com", "SleepBefore", 0);
  s.TimeoutMs = Ini.ReadInteger("com", "Timeout", 50);
  s.PasswdExpirationPeriod = Ini.ReadInteger("setup", "passwdExpirationPeriod", 300);
  s.LoadDesc = Ini.ReadString("debug", "loadDesc", "");

  s.ProtocolText = Ini.ReadString("setup", "protocol", "modbus");
  if (s.ProtocolText == QLatin1String("modbustcp")) {
    s.Protocol = TLinkProtocol::ModbusTcp;
    s.PortMenusEnabled = false;
    s.TcpHost = Ini.ReadString("modbustcp", "host", LoopbackHostName());
    s.TcpPort = Ini.ReadInteger("modbustcp", "port", 2001);
    s.TcpFrameSizeCmd = Ini.ReadBool("modbustcp", "frameSizeCmd", false);
  } else {
    s.Protocol = TLinkProtocol::ModbusRtu;
  }

  s.PollPause = Ini.ReadInteger("device", "pollPause", 4);
  s.ErrorLimit = Ini.ReadInteger("device", "errorLimit", 3);
  s.ErrorSleep = Ini.ReadInteger("device", "errorSleep", 50);
  s.Logo = Ini.ReadString("setup", "logo", "ВАРНОК");
  s.LogoDevice = Ini.ReadString("setup", "logoDevice", "TMV31");
  s.VirtualInputPulse = Ini.ReadBool("dashboard", "virtualInputPulse", false);
  s.Poll = Ini.ReadBool("debug", "poll", true);
  s.TeleCount = Ini.ReadInteger("dashboard", "teleCount", 2);
  s.EventLogCount = Ini.ReadInteger("event", "eventLogCount", 256);
  TLogBound &bound = s.LogBound;
  const int defaultMB = int(TLogBound::DefaultGenerationBytes / TLogBound::MB);
  bound.GenerationBytes =
      ReadLogNumber(Ini, "generationMB", defaultMB, defaultMB, TLogBound::MaxGenerationMB, bound.Notes) *
      TLogBound::MB;
  bound.Generations = ReadLogNumber(Ini, "generations", TLogBound::DefaultGenerations, 1,
                                    TLogBound::MaxGenerations, bound.Notes);
  return s;
}

QString ChooseComPortName(const QString &IniPort, const QString &StoredPort) {
  return IniPort.trimmed().isEmpty() ? StoredPort.trimmed() : IniPort.trimmed();
}
