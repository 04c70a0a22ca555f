#pragma once
// Rules of the main window's commands that need no window: which actions are
// enabled in a given state, and the serial-port and baud-rate menu texts.
#include <QString>

struct TActionInputs {
  bool Idle = true;      // the link has no request queued or running
  bool Ready = false;    // a device is identified
  int PageIndex = -1;    // index of the active sheet; -1: none
  int Tag = 0;           // Tag of the active sheet (0 for the fixed pages)
  bool Poll = true;      // debug/poll
  int UstavDirectEdit = 0; // ustav/directEdit
};

struct TActionStates {
  bool aMonitorRefresh = false, aMonitorBreak = false;
  bool aMonitorPoll = false, aoOpen = false, apFileLoad = false, cbDevNo = false, daSetTime = false;
  bool cbPrimVal = false, cbAuto = false;
  bool aoSetup = false, aoClose = false, aoPrint = false;
  bool aoExportOsci = false, miModbus = false;
  bool adSetup = false, auEdit = false, auWrite = false, nExcel = false;
  bool EventFilters = false; // the journal page's level list and signal filter
};

// The enabled flag of every action for the state In. Fixed pages: 0 title
// panel, 1 parameters, 2 setpoints, 3 events, 4 oscillograms.
TActionStates ActionListUpdate(const TActionInputs &In);

// The rate of a baud-rate item ("19&200" gives 19200). Throws EKvError
// "invalid baud rate: " + the caption for 0 or a text that is no number.
int BaudRateFromCaption(const QString &Caption);
// The worker's poll pause for Rate: round(230400 / Rate + 1) (19200 gives 13).
int PollPauseForBaud(int Rate);
// The port of a port item: the text inside the caption's last parentheses
// ("USB Serial (ttyUSB0)" gives "ttyUSB0"), else the whole caption; "&" dropped.
QString PortNameFromCaption(const QString &Caption);
