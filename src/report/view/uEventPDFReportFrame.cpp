#include "uEventPDFReportFrame.h"

#include "uDescriptorXml.h"
#include "uErrors.h"
#include "uFiles.h"
#include "uLogger.h"
#include "uSimpleDeviceDescriptor.h"
#include "uTranslateForms.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {
constexpr int DataRole = Qt::UserRole;

QListWidget *NewList(QWidget *Parent, const char *Name) {
  auto *l = new QListWidget(Parent);
  l->setObjectName(Name);
  return l;
}

QLabel *NewLabel(QWidget *Parent, const char *Name, const QString &Text) {
  auto *l = new QLabel(Text, Parent);
  l->setObjectName(Name);
  return l;
}

QCheckBox *NewCheck(QWidget *Parent, const char *Name, const QString &Text) {
  auto *c = new QCheckBox(Text, Parent);
  c->setObjectName(Name);
  return c;
}

QComboBox *NewEdgeBox(QWidget *Parent, const char *Name) {
  auto *c = new QComboBox(Parent);
  c->setObjectName(Name);
  AddFixedItems(c, {QStringLiteral("Передний"), QStringLiteral("Задний"), QStringLiteral("Любой")});
  c->setCurrentIndex(edAny);
  return c;
}

QListWidgetItem *AddItem(QListWidget *List, const QString &Caption, const QVariant &Data, bool Checked) {
  auto *item = new QListWidgetItem(Caption, List);
  item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
  item->setCheckState(Checked ? Qt::Checked : Qt::Unchecked);
  item->setData(DataRole, Data);
  return item;
}

bool IsChecked(const QListWidgetItem *Item) { return Item->checkState() == Qt::Checked; }

// The list keeps its items by position: surplus items go from the end,
// missing ones are added, captions and data are overwritten, ticks stay.
void SetByPosition(QListWidget *List, const QList<QPair<QString, QVariant>> &Entries) {
  while (List->count() > Entries.size())
    delete List->takeItem(List->count() - 1);
  for (qsizetype i = 0; i < Entries.size(); ++i) {
    QListWidgetItem *item = i < List->count() ? List->item(int(i)) : AddItem(List, QString(), QVariant(), false);
    item->setText(Entries[i].first);
    item->setData(DataRole, Entries[i].second);
  }
}

void CheckAll(QListWidget *List, bool Checked) {
  for (int i = 0; i < List->count(); ++i)
    List->item(i)->setCheckState(Checked ? Qt::Checked : Qt::Unchecked);
}

QList<int> TickedCodes(QListWidget *List) {
  QList<int> out;
  for (int i = 0; i < List->count(); ++i)
    if (IsChecked(List->item(i)))
      out << List->item(i)->data(DataRole).value<TEventDesc>().code;
  return out;
}

QList<TEventReportSignal> TickedSignals(QListWidget *List) {
  QList<TEventReportSignal> out;
  for (int i = 0; i < List->count(); ++i)
    if (IsChecked(List->item(i)))
      out.append({i, List->item(i)->text()});
  return out;
}

QList<int> TickedPositions(QListWidget *List) {
  QList<int> out;
  for (int i = 0; i < List->count(); ++i)
    if (IsChecked(List->item(i)))
      out << i;
  return out;
}

} // namespace

TEventPDFReportFrame::TEventPDFReportFrame(QWidget *Parent, const TReportSetup &Setup)
    : QWidget(Parent), FSetup(Setup) {
  setObjectName("EventPDFReportFrame");
  auto *layout = new QHBoxLayout(this);
  auto *left = new QVBoxLayout;
  LabelFileName = NewLabel(this, "LabelFileName", QString());
  Button1 = new QPushButton(QStringLiteral("Выполнить"), this);
  Button1->setObjectName("Button1");
  CheckBoxColor = NewCheck(this, "CheckBoxColor", QStringLiteral("Цветной"));
  CheckBoxColor->setChecked(true);
  left->addWidget(LabelFileName);
  left->addWidget(Button1);
  left->addWidget(CheckBoxColor);
  left->addStretch();
  layout->addLayout(left);
  PageControl = new QTabWidget(this);
  PageControl->setObjectName("PageControl");
  auto *alarm = new QWidget(PageControl);
  auto *period = new QWidget(PageControl);
  PageControl->addTab(alarm, QStringLiteral("Последняя авария"));
  PageControl->addTab(period, QStringLiteral("За период"));
  BuildAlarmTab(alarm);
  BuildPeriodTab(period);
  layout->addWidget(PageControl, 1);
  connect(Button1, &QPushButton::clicked, this, &TEventPDFReportFrame::Button1Click);
}

void TEventPDFReportFrame::BuildPeriodTab(QWidget *Tab) {
  auto *g = new QGridLayout(Tab);
  EditTitle = new QLineEdit(Tab);
  EditTitle->setObjectName("EditTitle");
  LabelPeriod = NewLabel(Tab, "LabelPeriod", QStringLiteral("Период"));
  ComboBox1 = new QComboBox(Tab);
  ComboBox1->setObjectName("ComboBox1");
  ComboBox2 = new QComboBox(Tab);
  ComboBox2->setObjectName("ComboBox2");
  LabelLevel = NewLabel(Tab, "LabelLevel", QStringLiteral("Категории"));
  LabelMeasure = NewLabel(Tab, "LabelMeasure", QStringLiteral("Измерения"));
  LabelPermanent = NewLabel(Tab, "LabelPermanent", QStringLiteral("Постоянные"));
  LabelVariable = NewLabel(Tab, "LabelVariable", QStringLiteral("Переменные"));
  CheckListBoxLevel = NewList(Tab, "CheckListBoxLevel");
  CheckListBoxMeasure = NewList(Tab, "CheckListBoxMeasure");
  CheckListBoxPermanent = NewList(Tab, "CheckListBoxPermanent");
  CheckListBoxVariable = NewList(Tab, "CheckListBoxVariable");
  g->addWidget(EditTitle, 0, 0, 1, 4);
  g->addWidget(LabelPeriod, 1, 0);
  g->addWidget(ComboBox1, 1, 1);
  g->addWidget(ComboBox2, 1, 2);
  int col = 0;
  for (auto [label, list] : {std::pair{LabelLevel, CheckListBoxLevel}, {LabelMeasure, CheckListBoxMeasure},
                             {LabelPermanent, CheckListBoxPermanent}, {LabelVariable, CheckListBoxVariable}}) {
    g->addWidget(label, 2, col);
    g->addWidget(list, 3, col++);
  }
  g->setRowStretch(3, 1);
  connect(ComboBox1, &QComboBox::currentTextChanged, this, [this](const QString &T) { FFrom = ParseMoment(T); });
  connect(ComboBox2, &QComboBox::currentTextChanged, this, [this](const QString &T) { FTo = ParseMoment(T); });
}

void TEventPDFReportFrame::BuildAlarmTab(QWidget *Tab) {
  auto *g = new QGridLayout(Tab);
  EditAlarmTitle = new QLineEdit(Tab);
  EditAlarmTitle->setObjectName("EditAlarmTitle");
  LabelAlarmPeriod = NewLabel(Tab, "LabelAlarmPeriod", QStringLiteral("Период"));
  cbAlarmStart = new QComboBox(Tab);
  cbAlarmStart->setObjectName("cbAlarmStart");
  cbAlarmStop = new QComboBox(Tab);
  cbAlarmStop->setObjectName("cbAlarmStop");
  LabelAlarmLevel1 = NewLabel(Tab, "LabelAlarmLevel1", QStringLiteral("Начало"));
  LabelAlarmLevel2 = NewLabel(Tab, "LabelAlarmLevel2", QStringLiteral("Окончание"));
  clbStartLevel = NewList(Tab, "clbStartLevel");
  clbStartEvent = NewList(Tab, "clbStartEvent");
  clbStopLevel = NewList(Tab, "clbStopLevel");
  clbStopEvent = NewList(Tab, "clbStopEvent");
  clbStartLevelAll = NewCheck(Tab, "clbStartLevelAll", QStringLiteral("Все"));
  clbStartEventAll = NewCheck(Tab, "clbStartEventAll", QStringLiteral("Любое"));
  cbLevelStopAll = NewCheck(Tab, "cbLevelStopAll", QStringLiteral("Все"));
  cbEventStopAll = NewCheck(Tab, "cbEventStopAll", QStringLiteral("Любое"));
  cbStartEdge = NewEdgeBox(Tab, "cbStartEdge");
  cbStopEdge = NewEdgeBox(Tab, "cbStopEdge");
  LabelAlarmMeasure = NewLabel(Tab, "LabelAlarmMeasure", QStringLiteral("Измерения"));
  LabelAlarmPermanent = NewLabel(Tab, "LabelAlarmPermanent", QStringLiteral("Постоянные"));
  LabelAlarmVariable = NewLabel(Tab, "LabelAlarmVariable", QStringLiteral("Переменные"));
  clbAlarmMeasure = NewList(Tab, "clbAlarmMeasure");
  clbAlarmPermanent = NewList(Tab, "clbAlarmPermanent");
  clbAlarmVariable = NewList(Tab, "clbAlarmVariable");
  g->addWidget(EditAlarmTitle, 0, 0, 1, 4);
  g->addWidget(LabelAlarmPeriod, 1, 0);
  g->addWidget(cbAlarmStart, 1, 1);
  g->addWidget(cbAlarmStop, 1, 2);
  g->addWidget(LabelAlarmLevel1, 2, 0);
  g->addWidget(cbStartEdge, 2, 1);
  g->addWidget(clbStartLevelAll, 3, 0);
  g->addWidget(clbStartEventAll, 3, 1);
  g->addWidget(clbStartLevel, 4, 0);
  g->addWidget(clbStartEvent, 4, 1, 1, 3);
  g->addWidget(LabelAlarmLevel2, 5, 0);
  g->addWidget(cbStopEdge, 5, 1);
  g->addWidget(cbLevelStopAll, 6, 0);
  g->addWidget(cbEventStopAll, 6, 1);
  g->addWidget(clbStopLevel, 7, 0);
  g->addWidget(clbStopEvent, 7, 1, 1, 3);
  int col = 0;
  for (auto [label, list] : {std::pair{LabelAlarmMeasure, clbAlarmMeasure}, {LabelAlarmPermanent, clbAlarmPermanent},
                             {LabelAlarmVariable, clbAlarmVariable}}) {
    g->addWidget(label, 8, col);
    g->addWidget(list, 9, col++);
  }
  for (int r : {4, 7, 9})
    g->setRowStretch(r, 1);
  connect(cbAlarmStart, &QComboBox::currentTextChanged, this, [this](const QString &T) { FFrom = ParseMoment(T); });
  connect(cbAlarmStop, &QComboBox::currentTextChanged, this, [this](const QString &T) { FTo = ParseMoment(T); });
  connect(clbStartLevelAll, &QCheckBox::clicked, this, [this](bool On) {
    CheckAll(clbStartLevel, On);
    SyncEvents(clbStartLevel, clbStartEvent);
  });
  connect(cbLevelStopAll, &QCheckBox::clicked, this, [this](bool On) {
    CheckAll(clbStopLevel, On);
    SyncEvents(clbStopLevel, clbStopEvent);
  });
  connect(clbStartEventAll, &QCheckBox::clicked, this, [this](bool On) { CheckAll(clbStartEvent, On); });
  connect(cbEventStopAll, &QCheckBox::clicked, this, [this](bool On) { CheckAll(clbStopEvent, On); });
  // A tick in a level list rebuilds its event list.
  connect(clbStartLevel, &QListWidget::itemChanged, this, [this] { SyncEvents(clbStartLevel, clbStartEvent); });
  connect(clbStopLevel, &QListWidget::itemChanged, this, [this] { SyncEvents(clbStopLevel, clbStopEvent); });
}

void TEventPDFReportFrame::Open(const QString &FileName) {
  FEventDescs.clear();
  LoadTemplate(FileName);
  PageControl->setCurrentIndex(0);
}

// ------------------------------------------------------------- template

void TEventPDFReportFrame::LoadRegList(const TTemplateFilter &Filter, QLabel *Label, QListWidget *List) {
  if (!Filter.Present)
    return;
  if (Label && Filter.Caption)
    Label->setText(*Filter.Caption);
  List->clear();
  for (const TTemplateItem &it : Filter.Items)
    AddItem(List, it.Caption, QVariant::fromValue(TRegRef{it.Id, it.Pin}), it.Checked);
}

void TEventPDFReportFrame::LoadEventList(const TTemplateFilter &Filter, QListWidget *List, bool Events) {
  if (!Filter.Present)
    return;
  List->blockSignals(true);
  List->clear();
  for (const TTemplateItem &it : Filter.Items) {
    const QVariant data = Events ? QVariant::fromValue(TEventDesc{it.Code, it.Caption, it.Level})
                                 : QVariant::fromValue(TLevelDesc{it.Level, it.Caption});
    AddItem(List, it.Caption, data, it.Checked);
  }
  List->blockSignals(false);
}

void TEventPDFReportFrame::LoadTemplate(const QString &FileName) {
  FFileName = FileName;
  LabelFileName->setText(QFileInfo(FileName).fileName());
  const TEventReportTemplate t = ReadEventReportTemplate(FileName);
  FTemplate = t.Doc;
  FRoot = t.Root;
  if (t.Title)
    EditTitle->setText(*t.Title);
  if (t.PeriodCaption)
    LabelPeriod->setText(*t.PeriodCaption);
  LoadRegList(t.Level, LabelLevel, CheckListBoxLevel);
  LoadRegList(t.Measure, LabelMeasure, CheckListBoxMeasure);
  LoadRegList(t.Permanent, LabelPermanent, CheckListBoxPermanent);
  LoadRegList(t.Variable, LabelVariable, CheckListBoxVariable);

  FAlarm = t.Alarm;
  if (t.AlarmTitle)
    EditAlarmTitle->setText(*t.AlarmTitle);
  if (t.AlarmPeriodCaption)
    LabelAlarmPeriod->setText(*t.AlarmPeriodCaption);
  if (t.StartLevel.Caption)
    LabelAlarmLevel1->setText(*t.StartLevel.Caption);
  if (t.StopLevel.Caption)
    LabelAlarmLevel2->setText(*t.StopLevel.Caption);
  LoadEventList(t.StartLevel, clbStartLevel, false);
  LoadEventList(t.StopLevel, clbStopLevel, false);
  LoadEventList(t.StartEvent, clbStartEvent, true);
  LoadEventList(t.StopEvent, clbStopEvent, true);
  LoadRegList(t.AlarmMeasure, LabelAlarmMeasure, clbAlarmMeasure);
  LoadRegList(t.AlarmPermanent, LabelAlarmPermanent, clbAlarmPermanent);
  LoadRegList(t.AlarmVariable, LabelAlarmVariable, clbAlarmVariable);
}

IXXMLNode TEventPDFReportFrame::SaveFilter(const IXXMLNode &Parent, const QString &Name, const QString &Caption) {
  IXXMLNode f = Parent->AddChild(Name);
  f->SetStrAttr(QStringLiteral("caption"), Caption);
  return f;
}

void TEventPDFReportFrame::SaveRegList(const IXXMLNode &Parent, const QString &Name, QLabel *Label,
                                       QListWidget *List, int Compare) {
  IXXMLNode f = SaveFilter(Parent, Name, Label->text());
  // Written also for an empty list, so its label comes back on the next load.
  if (Compare >= 0)
    f->SetIntAttr(QStringLiteral("compare"), Compare);
  for (int i = 0; i < List->count(); ++i) {
    const TRegRef ref = List->item(i)->data(DataRole).value<TRegRef>();
    IXXMLNode it = f->AddChild(QStringLiteral("item"));
    it->SetIntAttr(QStringLiteral("id"), ref.id);
    it->SetIntAttr(QStringLiteral("pin"), ref.pin);
    it->SetStrAttr(QStringLiteral("caption"), List->item(i)->text());
    it->SetIntAttr(QStringLiteral("checked"), IsChecked(List->item(i)) ? 1 : 0);
  }
}

void TEventPDFReportFrame::SaveTemplate() {
  if (!FTemplate)
    throw EKvAssert("no template");
  const IXXMLNodeList old = FRoot->SelectNodes(QStringLiteral("node()"));
  for (int i = 0; i < old->GetCount(); ++i)
    old->GetItem(i)->Remove();
  FRoot->SetStrAttr(QStringLiteral("title"), EditTitle->text());
  SaveFilter(FRoot, QStringLiteral("filter-period"), LabelPeriod->text());
  SaveRegList(FRoot, QStringLiteral("filter-level"), LabelLevel, CheckListBoxLevel);
  SaveRegList(FRoot, QStringLiteral("filter-measure"), LabelMeasure, CheckListBoxMeasure);
  SaveRegList(FRoot, QStringLiteral("filter-discret"), LabelPermanent, CheckListBoxPermanent, 0);
  SaveRegList(FRoot, QStringLiteral("filter-discret"), LabelVariable, CheckListBoxVariable, 1);

  FAlarm = FRoot->AddChild(QStringLiteral("alarm-report"));
  FAlarm->SetStrAttr(QStringLiteral("title"), EditAlarmTitle->text());
  SaveFilter(FAlarm, QStringLiteral("filter-period"), LabelAlarmPeriod->text());
  for (auto [name, label, list] : {std::tuple{"filter-level1", LabelAlarmLevel1->text(), clbStartLevel},
                                   {"filter-level2", LabelAlarmLevel2->text(), clbStopLevel},
                                   {"filter-event1", QString(), clbStartEvent},
                                   {"filter-event2", QString(), clbStopEvent}}) {
    IXXMLNode f = SaveFilter(FAlarm, QString::fromLatin1(name), label);
    const bool events = list == clbStartEvent || list == clbStopEvent;
    for (int i = 0; i < list->count(); ++i) {
      IXXMLNode it = f->AddChild(QStringLiteral("item"));
      if (events) {
        const TEventDesc ed = list->item(i)->data(DataRole).value<TEventDesc>();
        it->SetIntAttr(QStringLiteral("code"), ed.code);
        it->SetIntAttr(QStringLiteral("level"), ed.level);
      } else {
        it->SetIntAttr(QStringLiteral("level"), list->item(i)->data(DataRole).value<TLevelDesc>().level);
      }
      it->SetStrAttr(QStringLiteral("caption"), list->item(i)->text());
      it->SetIntAttr(QStringLiteral("checked"), IsChecked(list->item(i)) ? 1 : 0);
    }
  }
  SaveRegList(FAlarm, QStringLiteral("filter-measure"), LabelAlarmMeasure, clbAlarmMeasure);
  SaveRegList(FAlarm, QStringLiteral("filter-discret"), LabelAlarmPermanent, clbAlarmPermanent, 0);
  SaveRegList(FAlarm, QStringLiteral("filter-discret"), LabelAlarmVariable, clbAlarmVariable, 1);
  FTemplate->Save(FFileName);
}

void TEventPDFReportFrame::SaveAs(const QString &FileName) {
  FFileName = FileName;
  LabelFileName->setText(QFileInfo(FileName).fileName());
  SaveTemplate();
}

// ----------------------------------------------------------- descriptor

void TEventPDFReportFrame::FillRegLists(QListWidget *Measure, QListWidget *Permanent, QListWidget *Variable) {
  const IXXMLNode root = FDescriptor->Root;
  QList<QPair<QString, QVariant>> measures;
  const IXXMLNodeList em = root->SelectNodes(DxPath({DX_EVENT, DX_EVENT_MEASURE}));
  for (int i = 0; i < em->GetCount(); ++i) {
    const int id = em->GetItem(i)->GetIntNodeDef(DX_MEASURE_IDER, -1);
    const IXXMLNode m = root->SelectSingleNode(QString(DXQ_MEASURE_BY_IDER).arg(id));
    measures.append({m ? m->GetStrNodeDef(DX_STRING, QString()) : QStringLiteral("unknown"),
                     QVariant::fromValue(TRegRef{id, -1})});
  }
  SetByPosition(Measure, measures);
  QList<QPair<QString, QVariant>> bits;
  const IXXMLNodeList eb = root->SelectNodes(DxPath({DX_EVENT, DX_EVENT_BITREG}));
  for (int i = 0; i < eb->GetCount(); ++i) {
    const int rt = eb->GetItem(i)->GetIntNodeDef(DX_BITREG_RECORD_TYPE, -1);
    const IXXMLNode reg =
        root->SelectSingleNode(QString(DXQ_BITREG_BY_TYPE).arg(rt));
    if (!reg)
      continue;
    const QString regCaption = reg->GetStrNodeDef(DX_CAPTION, QString());
    const IXXMLNodeList strings = reg->SelectNodes(DX_STRING);
    for (int j = 0; j < strings->GetCount(); ++j)
      bits.append({strings->GetItem(j)->GetStrNodeDef(DX_VALUE, QString()) + QStringLiteral(" - ") +
                       regCaption,
                   QVariant::fromValue(TRegRef{rt, j})});
  }
  SetByPosition(Permanent, bits);
  SetByPosition(Variable, bits);
}

void TEventPDFReportFrame::FillLevelDescs(QListWidget *List) {
  const IXXMLNodeList levels = FDescriptor->Root->SelectNodes(DxPath({DX_EVENT, DX_EVENT_LEVEL, DX_STRING}));
  QList<QPair<QString, QVariant>> entries;
  for (int i = 0; i < levels->GetCount(); ++i) {
    const QString caption = levels->GetItem(i)->GetStrNodeDef(DXQ_FIRST_VALUE, QString());
    entries.append({caption, QVariant::fromValue(TLevelDesc{i + 1, caption})});
  }
  List->blockSignals(true);
  SetByPosition(List, entries);
  List->blockSignals(false);
}

void TEventPDFReportFrame::SetDescriptor(const TSimpleDeviceDescriptor *Desc) {
  FDescriptor = Desc;
  if (!Desc)
    return;
  const IXXMLNode root = Desc->Root;
  const IXXMLNodeList levels = root->SelectNodes(DxPath({DX_EVENT, DX_EVENT_LEVEL, DX_STRING}));
  QList<QPair<QString, QVariant>> levelRefs;
  for (int i = 0; i < levels->GetCount(); ++i)
    levelRefs.append({levels->GetItem(i)->GetStrNodeDef(DXQ_FIRST_VALUE, QString()),
                      QVariant::fromValue(TRegRef{i, -1})});
  SetByPosition(CheckListBoxLevel, levelRefs);
  FillRegLists(CheckListBoxMeasure, CheckListBoxPermanent, CheckListBoxVariable);
  FillLevelDescs(clbStartLevel);
  FillLevelDescs(clbStopLevel);

  const QList<int> startTicks = TickedCodes(clbStartEvent), stopTicks = TickedCodes(clbStopEvent);
  clbStartEvent->clear();
  clbStopEvent->clear();
  FEventDescs.clear();
  const IXXMLNodeList events = root->SelectNodes(DxPath({DX_EVENT, DX_EVENT_ITEM}));
  for (int i = 0; i < events->GetCount(); ++i) {
    const IXXMLNode e = events->GetItem(i);
    const TEventDesc ed{e->GetIntNodeDef(DX_BYTE_CODE, 0), e->GetStrNodeDef(DX_STRING, QString()),
                        e->GetIntNodeDef(DX_BYTE_LEVEL_MASK, 0)};
    // An event of a level the descriptor does not list cannot be chosen by
    // its level: it is left out rather than ending the rebuild.
    if (ed.level < 1 || ed.level > levels->GetCount()) {
      Logger().Error(QStringLiteral("event report: event %1 has no level %2").arg(ed.code).arg(ed.level));
      continue;
    }
    FEventDescs.append(ed);
  }
  SyncEvents(clbStartLevel, clbStartEvent);
  SyncEvents(clbStopLevel, clbStopEvent);
  for (auto [list, ticks] : {std::pair{clbStartEvent, startTicks}, {clbStopEvent, stopTicks}})
    for (int i = 0; i < list->count(); ++i)
      list->item(i)->setCheckState(ticks.contains(list->item(i)->data(DataRole).value<TEventDesc>().code)
                                       ? Qt::Checked
                                       : Qt::Unchecked);
  FillRegLists(clbAlarmMeasure, clbAlarmPermanent, clbAlarmVariable);
}

bool TEventPDFReportFrame::IsLevelChecked(QListWidget *LevelList, int Level) {
  for (int i = 0; i < LevelList->count(); ++i) {
    const QVariant data = LevelList->item(i)->data(DataRole);
    if (!data.canConvert<TLevelDesc>())
      throw EKvAssert("ld ClassNameIs TLevelDesc");
    if (data.value<TLevelDesc>().level == Level && IsChecked(LevelList->item(i)))
      return true;
  }
  return false;
}

void TEventPDFReportFrame::SyncEvents(QListWidget *LevelList, QListWidget *EventList) {
  for (int i = EventList->count() - 1; i >= 0; --i)
    if (!IsLevelChecked(LevelList, EventList->item(i)->data(DataRole).value<TEventDesc>().level))
      delete EventList->takeItem(i);
  auto before = [](const TEventDesc &A, const TEventDesc &B) {
    return A.level != B.level ? A.level < B.level : A.code < B.code;
  };
  for (const TEventDesc &ed : FEventDescs) {
    if (!IsLevelChecked(LevelList, ed.level))
      continue;
    int at = 0;
    bool present = false;
    for (; at < EventList->count(); ++at) {
      const TEventDesc other = EventList->item(at)->data(DataRole).value<TEventDesc>();
      if (other.code == ed.code && other.level == ed.level)
        present = true;
      if (present || before(ed, other))
        break;
    }
    if (present)
      continue;
    auto *item = new QListWidgetItem(ed.caption);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Unchecked);
    item->setData(DataRole, QVariant::fromValue(ed));
    EventList->insertItem(at, item);
  }
}

// ---------------------------------------------------------------- report

void TEventPDFReportFrame::SetEventList(const TEventLogItems *Items) {
  FEvents = Items;
  QStringList moments;
  // The default period runs from the earliest stamp to the latest: after the
  // relay's clock was set back the journal's ends are neither. Of equal
  // stamps the one nearest the list's end opens it, the one nearest its
  // start closes it, as the ends did.
  int earliest = -1, latest = -1;
  if (Items)
    for (size_t i = 0; i < Items->size(); ++i) {
      const TDateTime at = (*Items)[i]->FMoment;
      moments << MomentText(at);
      if (earliest < 0 || at <= (*Items)[size_t(earliest)]->FMoment)
        earliest = int(i);
      if (latest < 0 || at > (*Items)[size_t(latest)]->FMoment)
        latest = int(i);
    }
  for (QComboBox *box : {ComboBox1, ComboBox2, cbAlarmStart, cbAlarmStop}) {
    box->clear();
    box->addItems(moments);
  }
  for (QComboBox *box : {ComboBox1, cbAlarmStart})
    box->setCurrentIndex(earliest);
  for (QComboBox *box : {ComboBox2, cbAlarmStop})
    box->setCurrentIndex(latest);
}

TEventReportJob TEventPDFReportFrame::Job() const {
  TEventReportJob job;
  job.Alarm = PageControl->currentIndex() == 0;
  job.Color = CheckBoxColor->isChecked();
  if (job.Alarm) {
    job.Title = EditAlarmTitle->text();
    job.FromText = cbAlarmStart->currentText();
    job.ToText = cbAlarmStop->currentText();
    job.Measures = TickedPositions(clbAlarmMeasure);
    job.Permanent = TickedSignals(clbAlarmPermanent);
    job.Variable = TickedSignals(clbAlarmVariable);
    job.StartCodes = TickedCodes(clbStartEvent);
    job.StopCodes = TickedCodes(clbStopEvent);
    job.StartEdge = cbStartEdge->currentIndex();
    job.StopEdge = cbStopEdge->currentIndex();
  } else {
    job.Title = EditTitle->text();
    job.FromText = ComboBox1->currentText();
    job.ToText = ComboBox2->currentText();
    job.Measures = TickedPositions(CheckListBoxMeasure);
    job.Permanent = TickedSignals(CheckListBoxPermanent);
    job.Variable = TickedSignals(CheckListBoxVariable);
  }
  return job;
}

void TEventPDFReportFrame::Button1Click() {
  // The moment lists of the alarm tab gate both kinds, as they always did.
  if (!FEvents || cbAlarmStart->currentText().isEmpty() || cbAlarmStop->currentText().isEmpty())
    return;
  ShowReportPreview(WriteEventReport(Job(), *FEvents, FSetup));
}
