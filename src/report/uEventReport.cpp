#include "uEventReport.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {
// Moments to the millisecond: a moment parsed back from its text equals the
// record's own, whatever the rounding of the day fraction.
qint64 MomentMs(TDateTime Value) { return std::llround(Value * 86400000.0); }

struct TSignalState {
  QString Caption;
  bool State = false;
};

bool BitState(const TEventLogItem &Item, int Index, bool &State) {
  const int col = Item.FindColumnOfKind(ekBit, Index);
  if (col < 0)
    return false;
  State = Item.GetCell(col).Flag;
  return true;
}

void WriteEvent(TReportDocument &Doc, const TEventReportJob &Job, const TEventLogItem &Item,
                const TEventLogItem *Prev) {
  using namespace EventReportBoxes;
  Doc.NewHalfLine();
  Doc.DrawText(MomentText(Item.FMoment) + QStringLiteral(" - ") + Item.GetEventName(), Indent);
  Doc.DrawBox(EventX1, Y1, EventX2, Y2, StateColor(Item.FState, Job.Color));

  QStringList names, values;
  for (int m : Job.Measures) {
    const int col = Item.FindColumnOfKind(ekMeasure, m);
    if (col < 0)
      continue;
    names << Item.Layout().GetColumn(col).FCaption;
    values << Item.GetCell(col).Text;
  }
  QList<TSignalState> signalList;
  for (const TEventReportSignal &s : Job.Permanent)
    if (bool state = false; BitState(Item, s.Index, state))
      signalList.append({s.Caption, state});
  for (const TEventReportSignal &s : Job.Variable) {
    bool state = false, before = false;
    if (!BitState(Item, s.Index, state))
      continue;
    if (!Prev || !BitState(*Prev, s.Index, before) || before != state)
      signalList.append({s.Caption, state});
  }
  const qsizetype rows = std::max(names.size(), signalList.size());
  for (qsizetype i = 0; i < rows; ++i) {
    Doc.DrawTextAcrossCols({names.value(i), values.value(i), i < signalList.size() ? signalList[i].Caption : QString()});
    if (i < signalList.size())
      Doc.DrawBox(SignalX1, Y1, SignalX2, Y2, StateColor(signalList[i].State, Job.Color));
  }
}
} // namespace

QString MomentText(TDateTime Value) { return FormatDateTime(QStringLiteral("yyyy-mm-dd hh:nn:ss.zzz"), Value); }

TDateTime ParseMoment(const QString &Text) {
  auto field = [&](int From, int Length) { return Text.mid(From - 1, Length).toInt(); };
  TDateTime out = 0;
  if (!TryEncodeDateTime(field(1, 4), field(6, 2), field(9, 2), field(12, 2), field(15, 2), field(18, 2),
                         field(21, 3), out))
    return EncodeDateTime(2000, 1, 1, 0, 30);
  return out;
}

bool EventMatches(const QList<int> &Codes, int Code, int Edge, bool State) {
  if (!Codes.contains(Code))
    return false;
  return Edge == edAny || (Edge == edRising && State) || (Edge == edFalling && !State);
}

QColor StateColor(bool State, bool Color) {
  if (Color)
    return State ? QColor(0, 128, 0) : QColor(255, 0, 0);
  return State ? QColor(Qt::white) : QColor(Qt::black);
}

TReportDocument WriteEventReport(const TEventReportJob &Job, const TEventLogItems &Records,
                                 const TReportSetup &Setup) {
  TReportDocument doc(Setup);
  doc.NewHalfLine();
  doc.DrawTitle(Job.Title);
  doc.DrawText(QStringLiteral("За період з ") + Job.FromText + QStringLiteral(" по ") + Job.ToText);
  doc.NewLine();
  doc.SetColumns({40, 20, 40});
  doc.SetColumnIndents({0, 0, EventReportBoxes::Indent});
  doc.DrawColumnHeaders({QStringLiteral("Назва"), QStringLiteral("Значення"), QStringLiteral("Подія")});

  const qint64 from = MomentMs(ParseMoment(Job.FromText)), to = MomentMs(ParseMoment(Job.ToText));
  // The period's records oldest first: the journal's list is newest first.
  std::vector<const TEventLogItem *> period;
  for (auto it = Records.rbegin(); it != Records.rend(); ++it) {
    const qint64 at = MomentMs((*it)->FMoment);
    if (at < from)
      continue;
    if (at > to)
      break;
    period.push_back(it->get());
  }
  size_t first = 0;
  if (Job.Alarm) {
    // The last alarm begins at the first start event after the stop event
    // before the period's last start event: walked oldest first, an alarm
    // opens at a start event and closes at the next stop event.
    first = period.size();
    bool open = false;
    for (size_t i = 0; i < period.size(); ++i) {
      const TEventLogItem &item = *period[i];
      if (!open && EventMatches(Job.StartCodes, item.FByteCode, Job.StartEdge, item.FState)) {
        open = true;
        first = i;
      } else if (open && EventMatches(Job.StopCodes, item.FByteCode, Job.StopEdge, item.FState)) {
        open = false;
      }
    }
  }
  const TEventLogItem *prev = nullptr;
  for (size_t i = first; i < period.size(); ++i) {
    const TEventLogItem &item = *period[i];
    if (Job.Alarm && i > first && EventMatches(Job.StopCodes, item.FByteCode, Job.StopEdge, item.FState))
      break;
    WriteEvent(doc, Job, item, prev);
    prev = &item;
  }
  doc.EndDoc();
  return doc;
}
