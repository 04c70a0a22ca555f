#pragma once
// The event report template ("EventReportTemplate.xml") read without
// widgets: the report's and the alarm report's titles, filter captions and
// item lists, as the report page shows them. The document is kept, because
// the page writes its choices back into it.
#include "ixml.h"

#include <QList>
#include <QString>
#include <optional>

// One item of a filter list: a register column (id, pin), a level, or an
// event (code, level); what a list does not use keeps its default.
struct TTemplateItem {
  QString Caption;
  int Id = -1, Pin = -1;
  int Code = 0, Level = 0;
  bool Checked = false;
};

// A filter element: absent, or its caption (when it has one) and its items.
struct TTemplateFilter {
  bool Present = false;
  std::optional<QString> Caption;
  QList<TTemplateItem> Items;
};

struct TEventReportTemplate {
  IXXMLDocument Doc;
  IXXMLNode Root;
  IXXMLNode Alarm; // `alarm-report`, added when the file has none
  std::optional<QString> Title, PeriodCaption;
  TTemplateFilter Level, Measure, Permanent, Variable;
  std::optional<QString> AlarmTitle, AlarmPeriodCaption;
  TTemplateFilter StartLevel, StopLevel, StartEvent, StopEvent, AlarmMeasure, AlarmPermanent, AlarmVariable;
};

// Reads the template. Throws EKvError "cannot open " + path, EKvFormat with
// the parser's reason + CR + "Ъ" + the offending line, EKvError for a number
// attribute that holds no number.
TEventReportTemplate ReadEventReportTemplate(const QString &FileName);
// As ReadEventReportTemplate, from the file's bytes.
TEventReportTemplate ReadEventReportTemplateBytes(const QByteArray &Bytes);
