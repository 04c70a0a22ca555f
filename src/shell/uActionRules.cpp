#include "uActionRules.h"

#include "uDeviceIO.h"
#include "uErrors.h"

#include <cmath>

TActionStates ActionListUpdate(const TActionInputs &In) {
  TActionStates s;
  const int p = In.PageIndex;
  s.aMonitorRefresh = (In.Idle && In.Ready) || !In.Poll;
  s.aMonitorBreak = !In.Idle;
  s.aMonitorPoll = s.aoOpen = s.apFileLoad = s.cbDevNo = s.daSetTime = In.Idle;
  s.cbPrimVal = p == 0 || p == 2 || p == 3 || p == 4;
  s.cbAuto = p == 0;
  s.aoSetup = s.aoClose = s.aoPrint = p >= 0 && (In.Tag > 0 || In.Tag == -1);
  s.aoExportOsci = s.miModbus = In.Ready;
  s.adSetup = In.Ready && (p == 0 || In.Tag == -8);
  s.auEdit = In.Ready && p == 2;
  s.auWrite = In.Ready && In.Idle && (In.Tag == -7 || p == 1 || (p == 2 && In.UstavDirectEdit == 2));
  s.nExcel = p == 1 || p == 2 || p == 3;
  s.EventFilters = In.Idle;
  return s;
}

int BaudRateFromCaption(const QString &Caption) {
  const QString text = QString(Caption).remove(u'&').trimmed();
  bool ok = false;
  const int rate = text.toInt(&ok);
  // The poll pause divides by the rate.
  if (!ok || rate <= 0)
    throw EKvError("invalid baud rate: " + text);
  return rate;
}

int PollPauseForBaud(int Rate) { return int(std::lround(230400.0 / Rate + 1)); }

QString PortNameFromCaption(const QString &Caption) {
  const QString text = QString(Caption).remove(u'&');
  const QString name = TDeviceIO::PortNameFromCaption(text);
  return name.isEmpty() ? text : name;
}
