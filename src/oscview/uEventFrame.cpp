#include "uEventFrame.h"
#include "uTranslateForms.h"

#include "uAppIniFile.h"
#include "uDescriptorXml.h"
#include "uErrors.h"
#include "uExcelFrame.h"
#include "uIOChain3.h"
#include "uIOChainFile.h"
#include "uLogger.h"
#include "uModbus.h"
#include "uMultiLingual.h"
#include "uPlacement.h"

#include <QDir>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QSplitter>
#include <QTabWidget>
#include <QTableView>
#include <QToolBar>
#include <QVBoxLayout>

namespace {

const QString RegKey = QStringLiteral("eventlog");
const QString EventLogFile = QStringLiteral("EventLog.bin");
constexpr int EventLogFileNo = 128;
constexpr int RowHeight = 24;
const QColor BtnFace(0xF0, 0xF0, 0xF0);

QString Tr(const char *Text) { return MultiLingual().Translate(QString::fromUtf8(Text)); }

int ColumnWidth(int Column, const TDrawableDesc &D) {
  static const int fixed[] = {100, 100, 150, 25};
  if (Column < TEventLayout::FixedColumns)
    return fixed[Column];
  return D.FKind == ekMeasure ? 60 : 25;
}

} // namespace

// ------------------------------------------------------------ model

void TEventTableModel::Reset(std::shared_ptr<const TEventLayout> Layout, std::vector<int> ColumnMap,
                             TEventLogItems Shown) {
  beginResetModel();
  FLayout = std::move(Layout);
  FColumnMap = std::move(ColumnMap);
  FShown = std::move(Shown);
  endResetModel();
}

int TEventTableModel::rowCount(const QModelIndex &Parent) const {
  return Parent.isValid() ? 0 : std::max(1, int(FShown.size()));
}

int TEventTableModel::columnCount(const QModelIndex &Parent) const {
  return Parent.isValid() ? 0 : int(FColumnMap.size());
}

const TDrawableDesc &TEventTableModel::Column(int Column) const {
  return FLayout->GetColumn(FColumnMap.at(size_t(Column)));
}

QVariant TEventTableModel::data(const QModelIndex &Index, int Role) const {
  if (!FLayout || !Index.isValid() || Index.row() >= int(FShown.size()))
    return {};
  const int cellIndex = FColumnMap.at(size_t(Index.column()));
  const TEventLogItem &item = *FShown[size_t(Index.row())];
  // A record of an earlier descriptor may have fewer cells.
  if (cellIndex >= int(item.FCells.size()))
    return {};
  const TEventCell &cell = item.FCells[size_t(cellIndex)];
  const int kind = Column(Index.column()).FKind;
  switch (Role) {
  case Qt::DisplayRole: return kind == ekText || kind == ekMeasure ? QVariant(cell.Text) : QVariant();
  case KindRole: return kind;
  case FlagRole: return cell.Flag;
  default: return {};
  }
}

QVariant TEventTableModel::headerData(int Section, Qt::Orientation Orientation, int Role) const {
  if (Orientation != Qt::Horizontal || !FLayout || Section < 0 || Section >= columnCount())
    return {};
  switch (Role) {
  // Group captions and the state column's caption are the program's texts;
  // the other captions are the descriptor's names.
  case GroupCaptionRole: return MultiLingual().Translate(Column(Section).FGroupCaption);
  case CaptionRole:
    return Column(Section).FKind == ekState ? MultiLingual().Translate(Column(Section).FCaption)
                                            : Column(Section).FCaption;
  case KindRole: return Column(Section).FKind;
  default: return {};
  }
}

// ------------------------------------------------------------ header

TEventHeader::TEventHeader(QWidget *Parent) : QHeaderView(Qt::Horizontal, Parent) {
  setSectionsClickable(false);
  setHighlightSections(false);
  setSectionResizeMode(QHeaderView::Interactive);
  setMinimumSectionSize(8);
}

QSize TEventHeader::sizeHint() const {
  QSize s = QHeaderView::sizeHint();
  s.setHeight(GroupRowHeight + FCaptionRowHeight);
  return s;
}

void TEventHeader::SetCaptionRowHeight(int Height) {
  if (Height == FCaptionRowHeight)
    return;
  FCaptionRowHeight = Height;
  updateGeometry();
  viewport()->update();
}

std::pair<int, int> TEventHeader::GroupSpan(const QAbstractItemModel &Model, int Column) {
  auto caption = [&](int C) { return Model.headerData(C, Qt::Horizontal, TEventTableModel::GroupCaptionRole).toString(); };
  const int fixed = TEventLayout::FixedColumns;
  if (Column < fixed)
    return {Column, Column};
  int first = Column;
  while (first > fixed && caption(first).isEmpty())
    --first;
  int last = Column;
  while (last + 1 < Model.columnCount() && caption(last + 1).isEmpty())
    ++last;
  return {first, last};
}

void TEventHeader::paintSection(QPainter *Painter, const QRect &Rect, int Section) const {
  // Row 1 only: the group row is painted across groups in paintEvent.
  const QRect cell(Rect.left(), GroupRowHeight, Rect.width(), FCaptionRowHeight);
  Painter->save();
  Painter->fillRect(cell, BtnFace);
  const QString caption = model()->headerData(Section, Qt::Horizontal, TEventTableModel::CaptionRole).toString();
  if (!caption.isEmpty()) {
    Painter->setClipRect(cell);
    Painter->translate(cell.left(), cell.bottom() - 2);
    Painter->rotate(-90);
    Painter->setPen(Qt::black);
    Painter->drawText(QRect(0, 0, cell.height() - 2, cell.width()), Qt::AlignLeft | Qt::AlignVCenter, caption);
  }
  Painter->restore();
  Painter->setPen(Qt::black);
  Painter->drawRect(cell.adjusted(0, 0, 0, -1));
}

void TEventHeader::paintEvent(QPaintEvent *Event) {
  QHeaderView::paintEvent(Event);
  if (!model() || count() == 0)
    return;
  QPainter p(viewport());
  QFont f(QStringLiteral("Arial"));
  f.setPixelSize(16);
  p.setFont(f);
  const int firstVisible = logicalIndexAt(0);
  int c = firstVisible < 0 ? 0 : firstVisible;
  const int width = viewport()->width();
  while (c < count() && sectionViewportPosition(c) < width) {
    const auto [first, last] = GroupSpan(*model(), c);
    // The rectangle starts no further left than the first column in view; the
    // text starts over the whole group and is clipped.
    const int textLeft = sectionViewportPosition(first);
    const int left = std::max(textLeft, sectionViewportPosition(c));
    const int right = sectionViewportPosition(last) + sectionSize(last);
    const QRect rect(left, 0, right - left, GroupRowHeight);
    p.fillRect(rect, BtnFace);
    p.setPen(Qt::black);
    p.save();
    p.setClipRect(rect);
    p.drawText(QRect(textLeft + 2, 2, right - textLeft, GroupRowHeight - 2), Qt::AlignLeft | Qt::AlignTop,
               model()->headerData(first, Qt::Horizontal, TEventTableModel::GroupCaptionRole).toString());
    p.restore();
    p.drawRect(rect.adjusted(0, 0, 0, -1));
    c = last + 1;
  }
}

// ------------------------------------------------------------ cells

void TEventCellDelegate::paint(QPainter *Painter, const QStyleOptionViewItem &Option, const QModelIndex &Index) const {
  const QRect r = Option.rect;
  const QVariant kind = Index.data(TEventTableModel::KindRole);
  Painter->save();
  if (kind.isValid()) {
    if (kind.toInt() == ekBit || kind.toInt() == ekState) {
      Painter->fillRect(r, Index.data(TEventTableModel::FlagRole).toBool() ? QColor(Qt::red) : QColor(0, 128, 0));
    } else {
      Painter->fillRect(r, BtnFace);
      Painter->setPen(Qt::black);
      Painter->drawText(r.adjusted(2, 2, -1, -1), Qt::AlignLeft | Qt::AlignTop, Index.data(Qt::DisplayRole).toString());
    }
  }
  Painter->setPen(Qt::black);
  Painter->drawRect(r);
  Painter->restore();
}

// ------------------------------------------------------------ page

Tkv2EventFrame::Tkv2EventFrame(QWidget *Parent) : QWidget(Parent) {
  setObjectName("EventFrame");
  auto *layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  auto *splitter = new QSplitter(this);
  layout->addWidget(splitter);

  PageControl = new QTabWidget(splitter);
  PageControl->setObjectName("PageControl");
  clbEventLevel = new QListWidget;
  clbEventLevel->setObjectName("clbEventLevel");
  PageControl->addTab(clbEventLevel, QStringLiteral("Уровни"));
  auto *signals_ = new QWidget;
  auto *signalsLayout = new QVBoxLayout(signals_);
  signalsLayout->setContentsMargins(0, 0, 0, 0);
  clbSignalFilter = new QListWidget(signals_);
  clbSignalFilter->setObjectName("clbSignalFilter");
  auto *bar = new QToolBar(signals_);
  BitBtnApply = new QPushButton(QStringLiteral("Применить"), bar);
  BitBtnApply->setObjectName("BitBtnApply");
  bar->addWidget(BitBtnApply);
  signalsLayout->addWidget(clbSignalFilter);
  signalsLayout->addWidget(bar);
  PageControl->addTab(signals_, QStringLiteral("Сигналы"));

  dgEvent = new QTableView(splitter);
  dgEvent->setObjectName("dgEvent");
  FModel = new TEventTableModel(this);
  dgEvent->setHorizontalHeader(new TEventHeader(dgEvent));
  dgEvent->setModel(FModel);
  dgEvent->setItemDelegate(new TEventCellDelegate(dgEvent));
  dgEvent->setShowGrid(false);
  dgEvent->setSelectionMode(QAbstractItemView::NoSelection);
  dgEvent->setEditTriggers(QAbstractItemView::NoEditTriggers);
  dgEvent->verticalHeader()->hide();
  dgEvent->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  dgEvent->verticalHeader()->setDefaultSectionSize(RowHeight);
  splitter->addWidget(PageControl);
  splitter->addWidget(dgEvent);
  splitter->setStretchFactor(1, 4);
  splitter->setSizes({180, 800});

  for (QListWidget *list : {clbEventLevel, clbSignalFilter}) {
    AddFixedItem(list, QStringLiteral("Все"));
    list->item(0)->setFlags(list->item(0)->flags() | Qt::ItemIsUserCheckable);
    list->item(0)->setCheckState(Qt::Checked);
    connect(list, &QListWidget::itemChanged, this, [this, list](QListWidgetItem *Item) { OnItemChanged(list, Item); });
  }
  connect(BitBtnApply, &QPushButton::clicked, this, [this] { BitBtnApplyClick(); });
}

Tkv2EventFrame::~Tkv2EventFrame() {
  // A screen reader's cells of the grid each hold a persistent index of the
  // model. Freed with the grid while the model lives, each would be looked up
  // in the model's hash of indexes, where Qt's hash of an index puts a table's
  // cells in one run: minutes for a journal of 256 rows. The model goes first
  // and drops them all in one pass.
  delete FModel;
  FModel = nullptr;
}

void Tkv2EventFrame::Init() {
  const TAppIniFile &ini = AppIni();
  FCaptions.Level = ini.ReadString("event", "levelCaption", FCaptions.Level);
  FCaptions.Event = ini.ReadString("event", "eventCaption", FCaptions.Event);
  FCaptions.Time = ini.ReadString("event", "timeCaption", FCaptions.Time);
  FCaptions.Value = ini.ReadString("event", "valueCaption", FCaptions.Value);
  FLayout = std::make_shared<TEventLayout>(FCaptions);
  FColumnMap = {0, 1, 2, 3};
  FFixedCols = 3;
  FModel->Reset(FLayout, FColumnMap, {});
  FitColumns();
  PageControl->setCurrentIndex(0);
}

void Tkv2EventFrame::Clear() {
  // The records are the relay's that answered when they were read: neither
  // the level filter nor another relay's captions may bring them back.
  FItems.clear();
  FShown.clear();
  FModel->Reset(FLayout, FColumnMap, {});
  emit RecordsDropped();
}

void Tkv2EventFrame::SetDescriptor(const IXXMLNode &Root) {
  Clear();
  FRoot = Root;
  // A new layout: a record decoded before keeps its own.
  FLayout = std::make_shared<TEventLayout>(FCaptions);
  QString exclude = AppIni().ReadString("osc", "excludeChar", "-");
  FLayout->SetDescriptor(Root, exclude);
  BuildLevelList();
  BuildSignalList();
  LoadFilters();
  ApplySignalColumns();
  ApplyLevelFilter();
}

void Tkv2EventFrame::BuildLevelList() {
  FChecking = true;
  clbEventLevel->clear();
  AddFixedItem(clbEventLevel, QStringLiteral("Все"));
  if (FRoot) {
    const IXXMLNodeList levels = FRoot->SelectNodes(DxPath({DX_EVENT, DX_EVENT_LEVEL, DX_STRING}));
    for (int i = 0; i < levels->GetCount(); ++i) {
      const IXXMLNode s = levels->GetItem(i);
      auto *item = new QListWidgetItem(s->GetStrNode(DX_VALUE), clbEventLevel);
      item->setData(Qt::UserRole, s->GetIntNodeDef(DX_IDER, -1));
    }
  }
  for (int i = 0; i < clbEventLevel->count(); ++i) {
    clbEventLevel->item(i)->setFlags(clbEventLevel->item(i)->flags() | Qt::ItemIsUserCheckable);
    clbEventLevel->item(i)->setCheckState(Qt::Checked);
  }
  clbEventLevel->setCurrentRow(0);
  FChecking = false;
}

void Tkv2EventFrame::BuildSignalList() {
  FChecking = true;
  clbSignalFilter->clear();
  AddFixedItem(clbSignalFilter, QStringLiteral("Все"));
  // Entry i >= 1 stands for bit column FirstBitColumn + i - 1: the list is
  // the bit columns' own captions, so the two never disagree.
  for (int c = FLayout->FirstBitColumn(); c < FLayout->ColumnCount(); ++c)
    clbSignalFilter->addItem(FLayout->GetColumn(c).FCaption);
  for (int i = 0; i < clbSignalFilter->count(); ++i) {
    clbSignalFilter->item(i)->setFlags(clbSignalFilter->item(i)->flags() | Qt::ItemIsUserCheckable);
    clbSignalFilter->item(i)->setCheckState(Qt::Checked);
  }
  clbSignalFilter->setCurrentRow(0);
  FChecking = false;
}

void Tkv2EventFrame::LoadFilters() {
  FChecking = true;
  for (auto [list, name] : {std::pair{clbSignalFilter, "SignalFilter"}, std::pair{clbEventLevel, "EventLevel"}}) {
    const QString stored = RegReadString(RegKey, QString::fromLatin1(name), QString());
    for (int i = 0; i < std::min(int(stored.size()), list->count()); ++i)
      list->item(i)->setCheckState(stored[i] == QLatin1Char('1') ? Qt::Checked : Qt::Unchecked);
  }
  FChecking = false;
}

void Tkv2EventFrame::SaveFilters() {
  for (auto [list, name] : {std::pair{clbSignalFilter, "SignalFilter"}, std::pair{clbEventLevel, "EventLevel"}}) {
    QString text;
    for (int i = 0; i < list->count(); ++i)
      text += list->item(i)->checkState() == Qt::Checked ? QLatin1Char('1') : QLatin1Char('0');
    RegWriteString(RegKey, QString::fromLatin1(name), text);
  }
}

void Tkv2EventFrame::ApplySignalColumns() {
  // Grid column k < FirstBitColumn shows column k; then the checked signals in list order.
  const int firstBit = FLayout->FirstBitColumn();
  FColumnMap.clear();
  for (int k = 0; k < firstBit; ++k)
    FColumnMap.push_back(k);
  for (int i = 1; i < clbSignalFilter->count(); ++i)
    if (clbSignalFilter->item(i)->checkState() == Qt::Checked)
      FColumnMap.push_back(firstBit + i - 1);
}

void Tkv2EventFrame::ApplyLevelFilter() {
  FShown.clear();
  const bool all = clbEventLevel->count() > 0 && clbEventLevel->item(0)->checkState() == Qt::Checked;
  for (const TEventLogItemPtr &item : FItems) {
    bool show = all;
    for (int i = 1; !show && i < clbEventLevel->count(); ++i)
      show = clbEventLevel->item(i)->checkState() == Qt::Checked &&
             clbEventLevel->item(i)->data(Qt::UserRole).toInt() == item->FLevel;
    if (show)
      FShown.push_back(item);
  }
  FModel->Reset(FLayout, FColumnMap, FShown);
  FitColumns();
  dgEvent->horizontalHeader()->viewport()->update();
}

void Tkv2EventFrame::FitColumns() {
  // The delegate writes a text 2 px in from the left, within the frame.
  const QFontMetrics cells(dgEvent->font());
  auto *header = static_cast<TEventHeader *>(dgEvent->horizontalHeader());
  const QFontMetrics captions(header->font());
  int captionHeight = TEventHeader::DefaultCaptionRowHeight;
  for (int c = 0; c < FModel->columnCount(); ++c) {
    const TDrawableDesc &d = FModel->Column(c);
    int width = ColumnWidth(c, d);
    if (d.FKind == ekText || d.FKind == ekMeasure)
      for (int r = 0; r < FModel->ShownCount(); ++r)
        width = std::max(width, cells.horizontalAdvance(FModel->index(r, c).data().toString()) + 6);
    dgEvent->setColumnWidth(c, width);
    captionHeight = std::max(captionHeight, captions.horizontalAdvance(d.FCaption) + 8);
  }
  header->SetCaptionRowHeight(captionHeight);
}

void Tkv2EventFrame::ClickCheck(QListWidget *List, int Index) {
  FChecking = true;
  if (Index == 0) {
    const Qt::CheckState state = List->item(0)->checkState();
    for (int i = 1; i < List->count(); ++i)
      List->item(i)->setCheckState(state);
  } else {
    List->item(0)->setCheckState(Qt::Unchecked);
  }
  FChecking = false;
}

void Tkv2EventFrame::OnItemChanged(QListWidget *List, QListWidgetItem *Item) {
  if (FChecking)
    return;
  const int index = List->row(Item);
  if (List == clbEventLevel)
    clbEventLevelClickCheck(index);
  else
    clbSignalFilterClickCheck(index);
}

void Tkv2EventFrame::clbEventLevelClickCheck(int Index) {
  ClickCheck(clbEventLevel, Index);
  setUpdatesEnabled(false);
  if (!FHost.IsLinkIdle || FHost.IsLinkIdle())
    ApplyLevelFilter();
  FFixedCols = Index == 0 && clbEventLevel->item(0)->checkState() != Qt::Checked ? 0 : 3;
  setUpdatesEnabled(true);
}

void Tkv2EventFrame::clbSignalFilterClickCheck(int Index) { ClickCheck(clbSignalFilter, Index); }

void Tkv2EventFrame::BitBtnApplyClick() {
  setUpdatesEnabled(false);
  ApplySignalColumns();
  ApplyLevelFilter();
  setUpdatesEnabled(true);
  SaveFilters();
}

void Tkv2EventFrame::SetPrimaryValues(bool Value) {
  FPrimary = Value;
  for (const TEventLogItemPtr &item : FItems)
    item->MakeMeasureTexts(FPrimary);
  dgEvent->viewport()->update();
}

void Tkv2EventFrame::RefreshMeasureFactors() {
  if (FLayout)
    FLayout->RefreshMeasureFactors(Modbus());
}

void Tkv2EventFrame::ReadEventLog() {
  auto status = [this](const QString &Text) {
    if (FHost.Status)
      FHost.Status(Text);
  };
  const uint16_t length = RecordLength();
  if (length == 0 || !FHost.ChainGen || !FHost.ChainGen()) {
    status(Tr("Нет дескриптора"));
    return;
  }
  const TAppIniFile &ini = AppIni();
  const bool cyclic = ini.ReadBool("event", "cyclic", true);
  const int count = std::clamp(ini.ReadInteger("event", "eventLogCount", 256), 1, 65535);
  const QString folder = FHost.WorkFolder ? FHost.WorkFolder() : QDir::currentPath();
  const QString file = QDir(folder).absoluteFilePath(EventLogFile);
  // The journal may go while the chain runs: the chain reaches it only
  // through a guarded pointer, and is cancelled with it.
  TIOChainList3 &chain = FHost.ChainGen()->newList().ownedBy(this).checkedRead();
  chain.msg(Tr("Чтение событий")).setFrameSize(length);
  chain.execNext(
      [cyclic, count](TIOChain3 *Next, const QList<int> &) {
        TIOChain3readFile *read = CastIOChain3readFile(Next);
        if (cyclic)
          read->setFrameLimit(uint16_t(count));
        else
          read->setFrameLast(uint16_t(count - 1));
      },
      {});
  // Without a ring the journal is a plain file of its frames 0 .. count - 1.
  chain.readFile(EventLogFileNo, cyclic ? 3 : 0, file)
      .exec(Guarded(this, [file](Tkv2EventFrame *Page) { Page->ParseEventLog(file); }))
      .msg(Tr("Готово"));
  try {
    chain.run(FHost.Progress);
  } catch (const EKvError &e) {
    Logger().Error(e.Text());
    status(e.Text());
  }
}

void Tkv2EventFrame::ParseEventLog(const QString &FileName) {
  TEventLogItems fresh = ReadEventLogFile(FileName, FLayout);
  // The earlier journal goes only now that the new one has been read.
  if (AppIni().ReadBool("event", "newOnly", false))
    MergeNewEventRecords(FItems, fresh);
  else
    FItems = std::move(fresh);
  SetPrimaryValues(FPrimary);
  setUpdatesEnabled(false);
  ApplyLevelFilter();
  setUpdatesEnabled(true);
}

void Tkv2EventFrame::ExportEventsToExcel(TExcelFrame &Excel, int SheetIndex) {
  Excel.PrepareSheet(SheetIndex, Tr("События"));
  if (!FRoot)
    return;
  const int columns = FModel->columnCount();
  for (int c = 0; c < columns; ++c) {
    const TDrawableDesc &d = FModel->Column(c);
    Excel.SetCell(1, c + 1, d.FGroupCaption);
    if (!d.FCaption.isEmpty())
      Excel.SetCell(2, c + 1, d.FCaption);
  }
  const int timeColumn = 2;
  for (int r = 0; r < FModel->ShownCount(); ++r) {
    const TEventLogItem &item = *FShown[size_t(r)];
    for (int c = 0; c < columns; ++c) {
      const int cell = FModel->ColumnMap()[size_t(c)];
      if (cell >= int(item.FCells.size()))
        continue;
      const int kind = FModel->Column(c).FKind;
      const TEventCell &value = item.FCells[size_t(cell)];
      if (kind == ekBit || kind == ekState)
        Excel.SetCell(r + 3, c + 1, value.Flag ? QStringLiteral("1") : QStringLiteral("0"));
      else if (cell == timeColumn && !item.IsEmpty())
        Excel.SetDateCell(r + 3, c + 1, item.FMoment, value.Text, QStringLiteral("yyyy/mm/dd hh:mm:ss.000"));
      else
        Excel.SetCell(r + 3, c + 1, value.Text);
    }
  }
  // Widths from the texts written, so they come last.
  for (int c = 1; c <= columns; ++c)
    Excel.AutoFit(c);
}
