#pragma once
// The event journal report laid out on the report layer: the records of a
// period, or of one alarm from its start event to its stop event, each with
// the chosen measurements and signals and boxes showing states. GUI-free.
#include "uDateTime.h"
#include "uEventLogItem.h"
#include "uReportDocument.h"

#include <QList>
#include <QString>

// Moment text: "yyyy-mm-dd hh:nn:ss.zzz".
QString MomentText(TDateTime Value);
// Reads the fields of a moment text by position; an impossible moment gives
// 2000-01-01 00:30:00.000, as stored templates expect.
TDateTime ParseMoment(const QString &Text);

// Edges of the start and stop events: rising (state set), falling (state
// clear), either.
enum TEventEdge { edRising = 0, edFalling = 1, edAny = 2 };

// True when Codes (the ticked events) holds Code and the state fits Edge.
bool EventMatches(const QList<int> &Codes, int Code, int Edge, bool State);

// A chosen signal: the N-th bit column of the records and its caption.
struct TEventReportSignal {
  int Index = 0;
  QString Caption;
};

// Everything one run of the report needs, taken from the report page.
struct TEventReportJob {
  bool Alarm = false;
  QString Title, FromText, ToText;
  QList<int> Measures; // N-th measure columns
  QList<TEventReportSignal> Permanent, Variable;
  QList<int> StartCodes, StopCodes;
  int StartEdge = edAny, StopEdge = edAny;
  bool Color = true;
};

// Positions of the boxes, millimetres from the page's left edge and from the
// top of their line: each box stands in front of its text, the event's at the
// left margin, a signal's at the left of the "Подія" column (from 123 mm),
// and the texts start Indent after the box's column.
namespace EventReportBoxes {
constexpr double EventX1 = 15, EventX2 = 18, SignalX1 = 124, SignalX2 = 127, Y1 = 1, Y2 = 4, Indent = 5;
} // namespace EventReportBoxes

// The box colour of a state: green and red in colour, white and black otherwise.
QColor StateColor(bool State, bool Color);

// Lays the report out. Records is the journal, newest first; the report
// visits it oldest first (equal moments keep the device's order). Records
// before From are skipped, the first after To ends the report (moments are
// compared to the millisecond). An alarm report prints the period's last
// alarm: from the first start event after the stop event that precedes the
// period's last start event, oldest first, ending before its stop event.
TReportDocument WriteEventReport(const TEventReportJob &Job, const TEventLogItems &Records, const TReportSetup &Setup);
