#pragma once
// The event report page: the choices of the two report kinds ("Последняя
// авария": from a start event to a stop event; "За период": every event of
// a period), kept in a template file, and "Run", which lays the report out
// from the journal's records and shows its preview. Main thread only.
#include "ixml.h"
#include "uDateTime.h"
#include "uEventLogItem.h"
#include "uEventReport.h"
#include "uEventReportTemplate.h"
#include "uReportDocument.h"

#include <QList>
#include <QMetaType>
#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QTabWidget;
class TSimpleDeviceDescriptor;

// A level, measurement or signal of a check list: id = level index, measure
// identifier or bit-register record type; pin = bit number (-1: none).
struct TRegRef {
  int id = -1, pin = -1;
};
// An entry of the start and stop level lists: the level's 1-based position.
struct TLevelDesc {
  int level = 0;
  QString caption;
};
// An entry of the start and stop event lists.
struct TEventDesc {
  int code = 0;
  QString caption;
  int level = 0;
};
Q_DECLARE_METATYPE(TRegRef)
Q_DECLARE_METATYPE(TLevelDesc)
Q_DECLARE_METATYPE(TEventDesc)

class TEventPDFReportFrame : public QWidget {
  Q_OBJECT
public:
  // Setup titles the preview and heads the report's pages.
  TEventPDFReportFrame(QWidget *Parent, const TReportSetup &Setup);

  // Loads the template and shows the alarm tab. Throws as LoadTemplate.
  void Open(const QString &FileName);
  // Refills every list from Desc (not owned), keeping ticks by position, and
  // the start and stop events by code.
  void SetDescriptor(const TSimpleDeviceDescriptor *Desc);
  // The journal's records, newest first (not owned: they must outlive the
  // page's use of them); fills the four moment lists anew, the period from
  // the earliest stamp to the latest whatever the records' order.
  void SetEventList(const TEventLogItems *Items);
  // Throws EKvError "cannot open " + FileName, or the parser's reason, CR,
  // "Ъ" and the failing line.
  void LoadTemplate(const QString &FileName);
  // Writes the choices into the template file (as the document stands, not
  // re-indented). Throws as SaveFileBytes.
  void SaveTemplate();
  void SaveAs(const QString &FileName);
  // Removes the events whose level is not ticked in LevelList and inserts
  // the missing ones, ordered by level, then code.
  void SyncEvents(QListWidget *LevelList, QListWidget *EventList);
  static bool IsLevelChecked(QListWidget *LevelList, int Level);
  // "Run": the report of the shown tab, laid out and previewed; nothing
  // without records or moments.
  void Button1Click();
  // The job of the shown tab (what "Run" lays out).
  TEventReportJob Job() const;

  QTabWidget *PageControl = nullptr;
  QLabel *LabelFileName = nullptr;
  QPushButton *Button1 = nullptr;
  QCheckBox *CheckBoxColor = nullptr;
  // "За период"
  QLineEdit *EditTitle = nullptr;
  QComboBox *ComboBox1 = nullptr, *ComboBox2 = nullptr;
  QListWidget *CheckListBoxLevel = nullptr, *CheckListBoxMeasure = nullptr, *CheckListBoxPermanent = nullptr,
              *CheckListBoxVariable = nullptr;
  QLabel *LabelPeriod = nullptr, *LabelLevel = nullptr, *LabelMeasure = nullptr, *LabelPermanent = nullptr,
         *LabelVariable = nullptr;
  // "Последняя авария"
  QLineEdit *EditAlarmTitle = nullptr;
  QComboBox *cbAlarmStart = nullptr, *cbAlarmStop = nullptr, *cbStartEdge = nullptr, *cbStopEdge = nullptr;
  QListWidget *clbStartLevel = nullptr, *clbStartEvent = nullptr, *clbStopLevel = nullptr, *clbStopEvent = nullptr,
              *clbAlarmMeasure = nullptr, *clbAlarmPermanent = nullptr, *clbAlarmVariable = nullptr;
  QCheckBox *clbStartLevelAll = nullptr, *clbStartEventAll = nullptr, *cbLevelStopAll = nullptr,
            *cbEventStopAll = nullptr;
  QLabel *LabelAlarmPeriod = nullptr, *LabelAlarmLevel1 = nullptr, *LabelAlarmLevel2 = nullptr,
         *LabelAlarmMeasure = nullptr, *LabelAlarmPermanent = nullptr, *LabelAlarmVariable = nullptr;

  TDateTime From() const { return FFrom; }
  TDateTime To() const { return FTo; }
  QString FileName() const { return FFileName; }

private:
  void BuildPeriodTab(QWidget *Tab);
  void BuildAlarmTab(QWidget *Tab);
  void FillRegLists(QListWidget *Measure, QListWidget *Permanent, QListWidget *Variable);
  void FillLevelDescs(QListWidget *List);
  void LoadRegList(const TTemplateFilter &Filter, QLabel *Label, QListWidget *List);
  void LoadEventList(const TTemplateFilter &Filter, QListWidget *List, bool Events);
  IXXMLNode SaveFilter(const IXXMLNode &Parent, const QString &Name, const QString &Caption);
  void SaveRegList(const IXXMLNode &Parent, const QString &Name, QLabel *Label, QListWidget *List, int Compare = -1);

  TReportSetup FSetup;
  QString FFileName;
  IXXMLDocument FTemplate;
  IXXMLNode FRoot, FAlarm;
  const TSimpleDeviceDescriptor *FDescriptor = nullptr;
  const TEventLogItems *FEvents = nullptr;
  QList<TEventDesc> FEventDescs;
  TDateTime FFrom = 0, FTo = 0;
};
