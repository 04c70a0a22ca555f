#pragma once
// The event journal page ("Журнал событий"): reads the device's journal
// (file 128, a ring of records) into "EventLog.bin", decodes it with the
// layout of the current descriptor and shows it one row per event, with
// filters by event level and by signal. The records and their layout live in
// kvosc (uEventLogItem); this unit is the table, its header and the filters.
#include "ixml.h"
#include "uEventLogItem.h"

#include <QAbstractTableModel>
#include <QHeaderView>
#include <QStyledItemDelegate>
#include <QWidget>
#include <functional>

class QListWidget;
class QListWidgetItem;
class QPushButton;
class QTabWidget;
class QTableView;
class TExcelFrame;
class TIOChainGen;

// What the page needs of the main window.
struct TEventFrameHost {
  std::function<TIOChainGen *()> ChainGen;
  std::function<void(int Position, int Max, uint32_t Color)> Progress;
  std::function<void(const QString &Text)> Status;
  std::function<bool()> IsLinkIdle;
  std::function<QString()> WorkFolder; // absolute
};

// The shown records as a table: grid column c shows the record's cell
// ColumnMap[c]; at least one (empty) row.
class TEventTableModel : public QAbstractTableModel {
  Q_OBJECT
public:
  enum TRole { KindRole = Qt::UserRole + 1, FlagRole, GroupCaptionRole, CaptionRole };
  using QAbstractTableModel::QAbstractTableModel;

  void Reset(std::shared_ptr<const TEventLayout> Layout, std::vector<int> ColumnMap, TEventLogItems Shown);
  int rowCount(const QModelIndex &Parent = QModelIndex()) const override;
  int columnCount(const QModelIndex &Parent = QModelIndex()) const override;
  QVariant data(const QModelIndex &Index, int Role) const override;
  QVariant headerData(int Section, Qt::Orientation Orientation, int Role) const override;

  int ShownCount() const { return int(FShown.size()); }
  // The column description of grid column Column.
  const TDrawableDesc &Column(int Column) const;
  const std::vector<int> &ColumnMap() const { return FColumnMap; }

private:
  std::shared_ptr<const TEventLayout> FLayout;
  std::vector<int> FColumnMap;
  TEventLogItems FShown;
};

// Two header rows: group captions (24 px), drawn once across their group
// whatever is scrolled, and the captions rotated by 90 degrees (117 px, or
// as high as the longest caption needs).
class TEventHeader : public QHeaderView {
  Q_OBJECT
public:
  static constexpr int GroupRowHeight = 24, DefaultCaptionRowHeight = 117;
  explicit TEventHeader(QWidget *Parent = nullptr);
  QSize sizeHint() const override;
  int CaptionRowHeight() const { return FCaptionRowHeight; }
  void SetCaptionRowHeight(int Height);
  // The grid columns [First, Last] that the group caption of Column spans.
  static std::pair<int, int> GroupSpan(const QAbstractItemModel &Model, int Column);

protected:
  void paintSection(QPainter *Painter, const QRect &Rect, int Section) const override;
  void paintEvent(QPaintEvent *Event) override;

private:
  int FCaptionRowHeight = DefaultCaptionRowHeight;
};

// Data cells: texts on the button face, bits and the state red when set and
// green when not, each cell in a black frame.
class TEventCellDelegate : public QStyledItemDelegate {
public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter *Painter, const QStyleOptionViewItem &Option, const QModelIndex &Index) const override;
};

class Tkv2EventFrame : public QWidget {
  Q_OBJECT
public:
  explicit Tkv2EventFrame(QWidget *Parent = nullptr);
  ~Tkv2EventFrame() override;

  void SetHost(TEventFrameHost Host) { FHost = std::move(Host); }
  // One-time set-up: fixed columns with captions of section event.
  void Init();
  // Drops the records read and empties the grid: at an identification they
  // are of no relay until the journal is read again.
  void Clear();
  // Keeps the descriptor and builds the columns, the filters (restored from
  // the user's store) and the record length; the records read under the
  // descriptor before go (Clear).
  void SetDescriptor(const IXXMLNode &Root);
  const IXXMLNode &Descriptor() const { return FRoot; }
  // Reads the journal from the device and shows it; "Нет дескриптора" without one.
  void ReadEventLog();
  // Decodes a read journal file and shows it (the last step of the reading).
  void ParseEventLog(const QString &FileName);
  void SetPrimaryValues(bool Value);
  // Sheet SheetIndex ("События") gets the header rows and the shown records
  // as the grid shows them: texts, bits as "1"/"0", the time as date-time
  // cells. Only the empty, named sheet without a descriptor.
  void ExportEventsToExcel(TExcelFrame &Excel, int SheetIndex);
  // Factors from the registers of the register image.
  void RefreshMeasureFactors();
  // The column description at Index.
  const TDrawableDesc &GetColumn(int Index) const { return FLayout->GetColumn(Index); }
  const std::shared_ptr<TEventLayout> &Layout() const { return FLayout; }
  // Every decoded record, newest first.
  const TEventLogItems &Items() const { return FItems; }
  uint16_t RecordLength() const { return FLayout ? FLayout->RecordLength() : 0; }
  int FixedColumnCount() const { return FFixedCols; }
  const TEventTableModel &Model() const { return *FModel; }

  // Level list and signal filter: the main window enables them only while the link is idle.
  QTabWidget *PageControl = nullptr;
  QListWidget *clbEventLevel = nullptr;
  QListWidget *clbSignalFilter = nullptr;
  QPushButton *BitBtnApply = nullptr;
  QTableView *dgEvent = nullptr;

  void clbEventLevelClickCheck(int Index);
  void clbSignalFilterClickCheck(int Index);
  void BitBtnApplyClick();

signals:
  // The records went (Clear): whatever was made ready from them (an open
  // report's moments) is to be made again.
  void RecordsDropped();

private:
  // Columns as wide as their longest text in the grid's font (never below
  // their default widths) and the caption row as high as the longest caption.
  void FitColumns();
  void BuildLevelList();
  void BuildSignalList();
  void LoadFilters();
  void SaveFilters();
  void ApplySignalColumns();
  void ApplyLevelFilter();
  void ClickCheck(QListWidget *List, int Index);
  void OnItemChanged(QListWidget *List, QListWidgetItem *Item);

  TEventFrameHost FHost;
  TEventCaptions FCaptions;
  IXXMLNode FRoot;
  std::shared_ptr<TEventLayout> FLayout;
  std::vector<int> FColumnMap;
  TEventLogItems FItems;
  TEventLogItems FShown;
  TEventTableModel *FModel = nullptr;
  bool FPrimary = false;
  bool FChecking = false; // set while checks are changed by the page itself
  int FFixedCols = 3;
};
