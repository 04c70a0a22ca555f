#pragma once
// Every setting the main window reads at start, with its default, in one
// plain value read from the settings file; the window only applies it.
#include "uLogFile.h"

#include <QString>
#include <QStringList>

class TAppIniFile;

enum class TLinkProtocol { ModbusRtu, ModbusTcp };

struct TMenuVisibility {
  bool CustomLogic = false; // NCustomLogic
  bool Control = false;     // miControl
  bool DeviceBoard = false; // NDeviceBoard
  bool DeviceType = false;  // LabelDeviceType
  bool CoreDate = false;    // LabelCore, LabelCoreID
  bool DescDate = false;    // LabelDesc, LabelDescID
  bool Modbus = false;      // miModbus
  bool Log = false;         // miLog
  bool EventReport = false; // NEventReport
  bool EventExport = false; // nEventExport
  bool MMSConfig = false;   // nMMSConfig
  bool ModbusTcp = false;   // nModbusTcp
  bool AgentClient = false; // nAgentClient
};

struct TMainSettings {
  bool SmartDesc = false;             // setup/smartDesc
  QString TempFolder;                 // setup/temp, absolute, ends with "/"
  QString DashboardFile;              // program folder + dashboard/fileName
  int TimerIntervalMs = 2000;         // timer/interval (<= 0 gives 2000)
  QString Lang = "RU";                // setup/lang
  int Custom = -1;                    // setup/custom
  TMenuVisibility Visible;
  QStringList BaudRates;              // com/baudratelist, split at ","
  int LoopCount = 5;                  // com/loopCount
  int SleepBeforeMs = 0;              // com/SleepBefore
  int TimeoutMs = 50;                 // com/Timeout
  int PasswdExpirationPeriod = 300;   // setup/passwdExpirationPeriod, seconds
  QString LoadDesc;                   // debug/loadDesc
  QString ProtocolText = "modbus";    // setup/protocol as written
  TLinkProtocol Protocol = TLinkProtocol::ModbusRtu;
  bool PortMenusEnabled = true;       // NPort and NBaudrate
  QString TcpHost;                    // modbustcp/host
  int TcpPort = 2001;                 // modbustcp/port
  bool TcpFrameSizeCmd = false;       // modbustcp/frameSizeCmd
  int PollPause = 4;                  // device/pollPause
  int ErrorLimit = 3;                 // device/errorLimit
  int ErrorSleep = 50;                // device/errorSleep
  QString Logo = "ВАРНОК";            // setup/logo
  QString LogoDevice = "TMV31";       // setup/logoDevice
  bool VirtualInputPulse = false;     // dashboard/virtualInputPulse
  bool Poll = true;                   // debug/poll
  int TeleCount = 2;                  // dashboard/teleCount: poll ticks a pressed virtual input shows
  int EventLogCount = 256;            // event/eventLogCount: records of the device's event ring
  // log/generationMB (MB, 1 .. 1024, below 1 gives the default) and
  // log/generations (1 .. 999, below 1 gives 1): the bound of kv.log,
  // debug.log and the trace, each. A larger value is taken as the bound, one
  // not understood (not a decimal number) as the default; each such value is
  // in the bound's notes, for kv.log to say.
  TLogBound LogBound;

  // ProgramFolder ends with "/"; a relative setup/temp is taken from it.
  static TMainSettings Read(const TAppIniFile &Ini, const QString &ProgramFolder);
};

// The host name of the loopback interface, the default of modbustcp/host.
QString LoopbackHostName();

// The serial port to open: the ini's com/port when it names one (the file the
// engineer edits wins), else the port remembered per user from a run that
// opened it; empty when neither names one (the port keeps its default).
QString ChooseComPortName(const QString &IniPort, const QString &StoredPort);
