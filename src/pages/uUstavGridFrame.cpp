#include "uUstavGridFrame.h"
#include "uTranslateForms.h"
#include "uMultiLingual.h"

#include "crc.h"
#include "uAppIniFile.h"
#include "uDescriptorXml.h"
#include "uErrors.h"
#include "uExcelFrame.h"
#include "uParamCodec.h"
#include "uStringGrid.h"
#include "uStringGridEditor.h"
#include "uTextCodec.h"

#include <QHeaderView>
#include <QHelpEvent>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPointer>
#include <QSplitter>
#include <QStyledItemDelegate>
#include <QToolTip>
#include <QVBoxLayout>

namespace {
// Value cells: yellow where the own image differs from the device's value,
// orange where that value was written and not confirmed.
class TUstavDelegate : public QStyledItemDelegate {
public:
  TUstavDelegate(TUstavGridFrame *Frame, std::function<QColor()> Base)
      : QStyledItemDelegate(Frame), FFrame(Frame), FBase(std::move(Base)) {}
  void paint(QPainter *P, const QStyleOptionViewItem &Option, const QModelIndex &Index) const override {
    if (Index.row() == 0 || (Index.column() >= 2 && !FFrame->RowUstav(Index.row()))) {
      QStyledItemDelegate::paint(P, Option, Index);
      return;
    }
    const bool changed = Index.column() >= 2 && FFrame->CellChanged(Index.column(), Index.row());
    const bool unconfirmed = changed && FFrame->CellUnconfirmed(Index.column(), Index.row());
    P->fillRect(Option.rect, unconfirmed ? QColor(0xFF, 0xC0, 0x60) : changed ? QColor(0xFF, 0xFF, 0x00) : FBase());
    if (Option.state & QStyle::State_Selected)
      P->fillRect(Option.rect, QColor(0, 0, 0x80, 40));
    P->setPen(Qt::black);
    P->drawText(Option.rect.adjusted(2, 2, 0, 0), Qt::AlignLeft | Qt::AlignTop, Index.data().toString());
  }
  bool helpEvent(QHelpEvent *Event, QAbstractItemView *View, const QStyleOptionViewItem &Option,
                 const QModelIndex &Index) override {
    if (Event->type() == QEvent::ToolTip && Index.column() >= 2 && FFrame->RowUstav(Index.row()) &&
        FFrame->CellUnconfirmed(Index.column(), Index.row())) {
      QToolTip::showText(Event->globalPos(), UnconfirmedMarkText(), View);
      return true;
    }
    return QStyledItemDelegate::helpEvent(Event, View, Option, Index);
  }

private:
  TUstavGridFrame *FFrame;
  std::function<QColor()> FBase;
};
} // namespace

TUstavGridFrame::TUstavGridFrame(const QString &FrameName, QWidget *Parent)
    : TDescriptorGridFrame(FrameName, "sgUstav", Parent), sgUstav(FGrid) {
  // The level list left of the grid, a splitter between them.
  auto *split = new QSplitter(this);
  auto *panel = new QWidget(split);
  panel->setObjectName("PanelUstav");
  auto *pl = new QVBoxLayout(panel);
  pl->setContentsMargins(2, 2, 2, 2);
  Label28 = new QLabel(QStringLiteral("Уровни"), panel);
  Label28->setObjectName("Label28");
  pl->addWidget(Label28);
  clbUstavLevel = new QListWidget(panel);
  clbUstavLevel->setObjectName("clbUstavLevel");
  pl->addWidget(clbUstavLevel);
  split->addWidget(panel);
  layout()->removeWidget(sgUstav);
  split->addWidget(sgUstav);
  split->setStretchFactor(1, 1);
  split->setSizes({220, 800});
  layout()->addWidget(split);

  sgUstav->setColumnCount(4);
  sgUstav->setRowCount(2);
  const int widths[] = {200, 300, 122, 108};
  for (int c = 0; c < 4; ++c)
    sgUstav->setColumnWidth(c, widths[c]);
  sgUstav->verticalHeader()->setDefaultSectionSize(20);
  sgUstav->SetCells(0, 0, QStringLiteral("Уровень"));
  sgUstav->SetCells(1, 0, QStringLiteral("Наименование"));
  sgUstav->setItemDelegate(new TUstavDelegate(this, [this] { return BaseColor(); }));
  FEditor = new TStringGridEditor(sgUstav);
  FEditor->SetOnGetCellEditor([this](int Col, int Row, TCellEditorRequest &R) { GetCellEditor(Col, Row, R); });
  FEditor->SetOnCellEdited([this](int Col, int Row, const QString &Text) { CellEdited(Col, Row, Text); });
  FLevelEditor = new TCheckListBoxEditor(clbUstavLevel);
  FLevelEditor->SetOnItemEdited([this](int Index, const QString &Text) { LevelEdited(Index, Text); });
  connect(clbUstavLevel, &QListWidget::itemChanged, this, &TUstavGridFrame::LevelClickCheck);
  FillLevels(IXXMLNode(), false);
}

TUstavGridFrame::~TUstavGridFrame() = default;

void TUstavGridFrame::Clear() {
  TDescriptorGridFrame::Clear();
  FRows.clear();
  FUstavs.clear();
  FUnconfirmed.clear();
  // The levels are the relay's too: none of them stays past it.
  FillLevels(IXXMLNode(), false);
  sgUstav->setRowCount(2);
  for (int c = 0; c < sgUstav->columnCount(); ++c)
    sgUstav->SetCells(c, 1, QString());
}

TUstav *TUstavGridFrame::RowUstav(int Row) const {
  return Row >= 1 && Row <= int(FRows.size()) ? FRows[size_t(Row - 1)] : nullptr;
}

bool TUstavGridFrame::CellChanged(int Col, int Row) const {
  const TUstav *u = RowUstav(Row);
  const int reg = u ? u->Reg(Col - 2) : -1;
  return reg >= 0 && (EditedBits(reg) & u->EditMask()) && u->Differs(Modbus().GetWord(reg), FOwnImage.GetWord(reg));
}

bool TUstavGridFrame::CellUnconfirmed(int Col, int Row) const {
  const TUstav *u = RowUstav(Row);
  const int reg = u ? u->Reg(Col - 2) : -1;
  const auto it = reg >= 0 ? FUnconfirmed.find(reg) : FUnconfirmed.end();
  return it != FUnconfirmed.end() && (it->second & u->EditMask()) && CellChanged(Col, Row);
}

void TUstavGridFrame::MarkUnconfirmed(const TWriteValue &Value, bool Unconfirmed) {
  const uint16_t bits = Value.Words.size() == 1 ? Value.Mask : 0xFFFF;
  for (const TRegWrite &w : Value.Words) {
    uint16_t &marked = FUnconfirmed[w.first];
    marked = Unconfirmed ? uint16_t(marked | bits) : uint16_t(marked & ~bits);
    if (!marked)
      FUnconfirmed.erase(w.first);
  }
}

TUstav *TUstavGridFrame::FindByReg(int Reg) const {
  for (const auto &u : FUstavs)
    for (int g = 0; g < FGroupCount; ++g)
      if (u->Reg(g) == Reg)
        return u.get();
  return nullptr;
}

bool TUstavGridFrame::LimitCheckOn() const { return !FHost.Ini || FHost.Ini->ReadBool("ustav", "limitCheck", true); }

void TUstavGridFrame::FillLevels(const IXXMLNode &Root, bool DropUnreadable) {
  const QSignalBlocker block(clbUstavLevel);
  clbUstavLevel->clear();
  auto add = [](QListWidgetItem *item, int Ider) {
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Unchecked);
    item->setData(Qt::UserRole, Ider);
  };
  add(AddFixedItem(clbUstavLevel, QStringLiteral("Все")), -1);
  if (!Root)
    return;
  const IXXMLNodeList levels = Root->SelectNodes(DxPath({DX_USTAV, DX_USTAV_LEVEL, DX_STRING}));
  for (int i = 0; i < levels->GetCount(); ++i)
    add(new QListWidgetItem(levels->GetItem(i)->GetStrNodeDef(DX_VALUE, QString()), clbUstavLevel),
        levels->GetItem(i)->GetIntNodeDef(DX_IDER, 0));
  if (!DropUnreadable)
    return;
  for (int i = clbUstavLevel->count() - 1; i >= 1; --i) {
    const IXXMLNode first =
        Root->SelectSingleNode(QString(DXQ_USTAV_BY_LEVEL).arg(clbUstavLevel->item(i)->data(Qt::UserRole).toInt()));
    if (!first || !(first->GetIntNodeDef(DX_MODBUS_ACC, 0) & 1))
      delete clbUstavLevel->takeItem(i);
  }
}

QListWidgetItem *TUstavGridFrame::LevelItem(const TUstav &U) const {
  for (int i = 1; i < clbUstavLevel->count(); ++i)
    if (clbUstavLevel->item(i)->data(Qt::UserRole).toInt() == U.LevelMask)
      return clbUstavLevel->item(i);
  return nullptr;
}

void TUstavGridFrame::SetGroupCount(int Count) {
  FGroupCount = std::clamp(Count, 0, TUstav::MaxGroups);
  sgUstav->setColumnCount(FGroupCount + 2);
  for (int g = 0; g < FGroupCount; ++g) {
    sgUstav->SetCells(g + 2, 0, MultiLingual().Translate(QString("Група%1").arg(g + 1)));
    sgUstav->item(0, g + 2)->setBackground(palette().button());
  }
}

void TUstavGridFrame::BuildFrom(const IXXMLNode &Root, int GroupCount, bool DropUnreadableLevels) {
  FillLevels(Root, DropUnreadableLevels);
  const bool expand = FHost.Ini && FHost.Ini->ReadBool("ustav", "expandbit", false);
  FUstavs = BuildUstavList(Root, expand);
  for (auto &u : FUstavs)
    u->UpdateMeasureFactors(Modbus());
  SetGroupCount(GroupCount);
  clbUstavLevel->setCurrentRow(0);
  clbUstavLevel->item(0)->setCheckState(Qt::Checked); // runs LevelClickCheck
}

void TUstavGridFrame::LevelClickCheck(QListWidgetItem *Item) {
  if (FChecking)
    return;
  FChecking = true;
  // "Все" checked or unchecked sets every level; any other change unchecks "Все".
  if (Item == clbUstavLevel->item(0) && clbUstavLevel->currentRow() == 0) {
    for (int i = 1; i < clbUstavLevel->count(); ++i)
      clbUstavLevel->item(i)->setCheckState(Item->checkState());
  } else if (Item != clbUstavLevel->item(0)) {
    clbUstavLevel->item(0)->setCheckState(Qt::Unchecked);
  }
  FChecking = false;
  BuildRows();
  UpdateValues();
}

void TUstavGridFrame::BuildRows() {
  FRows.clear();
  const bool all = clbUstavLevel->count() > 0 && clbUstavLevel->item(0)->checkState() == Qt::Checked;
  for (const auto &u : FUstavs) {
    QListWidgetItem *level = LevelItem(*u);
    if (all || (level && level->checkState() == Qt::Checked))
      FRows.push_back(u.get());
  }
  sgUstav->setRowCount(std::max(2, int(FRows.size()) + 1));
  for (int c = 0; c < sgUstav->columnCount(); ++c)
    sgUstav->SetCells(c, 1, QString());
  for (int r = 1; r <= int(FRows.size()); ++r) {
    QListWidgetItem *level = LevelItem(*FRows[size_t(r - 1)]);
    sgUstav->SetCells(0, r, level ? level->text() : QStringLiteral("N/A"));
    sgUstav->SetCells(1, r, FRows[size_t(r - 1)]->Name);
    for (int c = 2; c < sgUstav->columnCount(); ++c)
      sgUstav->SetCells(c, r, QString());
  }
}

void TUstavGridFrame::LevelEdited(int Index, const QString &Text) {
  // The level's element is found by its ider: the page drops levels, so list
  // positions do not follow the descriptor's.
  const IXXMLNode root = Descriptor();
  if (!root || Index < 1 || Index >= clbUstavLevel->count())
    return;
  const int ider = clbUstavLevel->item(Index)->data(Qt::UserRole).toInt();
  const IXXMLNode level = root->SelectSingleNode(QString(DXQ_USTAV_LEVEL_BY_IDER).arg(ider));
  if (level)
    level->SetStrNode(DX_VALUE, Text);
  BuildRows();
  UpdateValues();
}

void TUstavGridFrame::ChooseEditor(const TUstav &U, TCellEditorRequest &R) const {
  if (U.RecordType == '2') {
    R.Kind = TCellEditorRequest::ekEdit;
  } else if (U.RecordType == '1' || dynamic_cast<const TUstavBit *>(&U)) {
    R.Kind = TCellEditorRequest::ekList;
    R.Items = U.Strings;
  } else if (U.RecordType == '5' && FHost.BitmapForm) {
    R.Kind = TCellEditorRequest::ekDialog;
    R.Items = U.Strings;
    R.Dialog = FHost.BitmapForm;
  }
}

int TUstavGridFrame::EditOwnImage(int Col, int Row, const QString &Text) {
  const TUstav *u = RowUstav(Row);
  const int reg = u ? u->Reg(Col - 2) : -1;
  if (reg < 0)
    return -1;
  const int w = u->TextToValue(Text, FPrimary);
  FOwnImage.SetWord(reg, uint16_t(u->Apply(FOwnImage.GetWord(reg), w)));
  // Typed anew: no longer what a write left unconfirmed.
  if (const auto it = FUnconfirmed.find(reg); it != FUnconfirmed.end() && !(it->second &= uint16_t(~u->EditMask())))
    FUnconfirmed.erase(it);
  return reg;
}

QString TUstavGridFrame::CheckLimits() const {
  QString errors;
  for (const auto &u : FUstavs)
    for (int g = 0; g < FGroupCount; ++g)
      if (u->Reg(g) >= 0)
        errors += u->LimitLine(FOwnImage.GetWord(u->Reg(g)), FPrimary);
  return errors;
}

namespace {
bool InImage(const TUstav &U) {
  const auto *bit = dynamic_cast<const TUstavBit *>(&U);
  return U.CanRead() && U.CanWrite() && !(bit && bit->Bit > 0);
}
} // namespace

QByteArray TUstavGridFrame::BuildImage() const {
  QBuffer buf;
  buf.open(QIODevice::WriteOnly);
  StreamWriteWord(buf, int(FUstavs.size()));
  for (const auto &u : FUstavs)
    if (InImage(*u))
      for (int g = 0; g < FGroupCount; ++g)
        if (u->Reg(g) >= 0)
          StreamWriteWord(buf, FOwnImage.GetWord(u->Reg(g)));
  return buf.data();
}

TRegWrites TUstavGridFrame::ImageWords(const QByteArray &Image) const {
  const auto word = [&Image](qsizetype &At) {
    if (At + 2 > Image.size())
      throw EKvError("internal error");
    const int w = uint8_t(Image[At]) | uint8_t(Image[At + 1]) << 8;
    At += 2;
    return w;
  };
  qsizetype at = 0;
  if (word(at) != int(FUstavs.size()))
    throw EKvError("internal error");
  TRegWrites words;
  for (const auto &u : FUstavs)
    if (InImage(*u))
      for (int g = 0; g < FGroupCount; ++g)
        if (const int reg = u->Reg(g); reg >= 0)
          words.emplace_back(uint16_t(reg), uint16_t(word(at)));
  return words;
}

TWriteValue TUstavGridFrame::CellValue(const TUstav &U, int Reg, uint16_t Word) const {
  TWriteValue v = UstavWriteValue(U, Reg, Word, FPrimary);
  v.Mask = U.EditMask();
  if (FGroupCount > 1)
    for (int g = 0; g < FGroupCount; ++g)
      if (U.Reg(g) == Reg) {
        v.Name = MultiLingual().Translate(QString("Группа %1").arg(g + 1)) + ": " + v.Name;
        break;
      }
  return v;
}

TWriteBatch TUstavGridFrame::ImageBatch(const QByteArray &Image) const {
  TWriteBatch batch;
  const auto add = [&batch](TWriteValue V) {
    V.Tag = int(batch.Values().size());
    batch.Add(std::move(V));
  };
  for (const TRegWrite &w : ImageWords(Image)) {
    const uint16_t bits = EditedBits(w.first);
    if (!bits)
      continue;
    const TUstav *whole = FindByReg(w.first);
    if (bits == 0xFFFF || !whole || whole->EditMask() == 0xFFFF) {
      // The whole word as the image holds it (a set's word, a whole edit).
      TWriteValue v = whole ? CellValue(*whole, w.first, w.second) : DescribedWriteValue({}, w.first, w.second);
      v.Mask = 0xFFFF;
      if (whole && whole->EditMask() != 0xFFFF)
        v.Limit = {};
      add(std::move(v));
      continue;
    }
    // Only the bits edited through their rows: the others stay as the relay
    // holds them when the write goes.
    for (const auto &u : FUstavs)
      if ((u->EditMask() & bits) && std::find(u->Regs.begin(), u->Regs.end(), w.first) != u->Regs.end())
        add(CellValue(*u, w.first, w.second));
  }
  return batch;
}

std::vector<uint16_t> TUstavGridFrame::ImageRegisters() const {
  std::vector<uint16_t> regs;
  for (const auto &u : FUstavs)
    if (InImage(*u))
      for (int g = 0; g < FGroupCount; ++g)
        if (const int reg = u->Reg(g); reg >= 0 && std::find(regs.begin(), regs.end(), reg) == regs.end())
          regs.push_back(uint16_t(reg));
  return regs;
}

namespace {
// Tells Told, while Page exists, each value's fate once the write has ended,
// the value found by its Tag; then Page's cells are drawn again.
std::function<void(const std::vector<TValueOutcome> &)>
ToldOutcome(const TWriteBatch &Batch, TUstavGridFrame *Page,
            const std::function<void(TUstavGridFrame &, const TWriteValue &, TWriteFate)> &Told) {
  return [page = QPointer<TUstavGridFrame>(Page), values = Batch.Values(),
          Told](const std::vector<TValueOutcome> &Outcomes) {
    if (!page)
      return;
    for (const TValueOutcome &o : Outcomes)
      if (o.Tag >= 0 && o.Tag < int(values.size()))
        Told(*page, values[size_t(o.Tag)], o.Fate);
    page->sgUstav->viewport()->update();
  };
}

TWriteRun UstavRun(bool CheckLimits, const std::function<void()> &Shown,
                   const std::function<void(TIOChainList3 &)> &Done, const TChainProgressEvent &Progress,
                   std::optional<uint64_t> PreparedFor, QObject *Owner) {
  TWriteRun run;
  run.CheckLimits = CheckLimits;
  run.WritingText = QStringLiteral("Запись уставок");
  run.ReadingText = QStringLiteral("Чтение уставок");
  run.Shown = Shown;
  run.Done = Done;
  run.Progress = Progress;
  run.PreparedFor = PreparedFor;
  run.Owner = Owner;
  return run;
}
} // namespace

void TUstavGridFrame::RunWrite(const TWriteBatch &Batch, const std::function<void()> &Shown,
                               const std::function<void(TIOChainList3 &)> &Done, std::optional<uint64_t> PreparedFor,
                               std::function<void(const TWriteValue &Value, TWriteFate Fate)> Told) {
  if (!FHost.Chains)
    return;
  TWriteRun run = UstavRun(LimitCheckOn(), Shown, Done, FHost.Progress, PreparedFor, this);
  run.MadeFor = FWriteFor;
  if (Told)
    run.Outcome =
        ToldOutcome(Batch, this, [Told](TUstavGridFrame &, const TWriteValue &V, TWriteFate F) { Told(V, F); });
  RunWriteBatch(*FHost.Chains, Batch, run);
}

void TUstavGridFrame::RunRelayWrite(const TWriteBatch &Candidates, const TRelayWrite &Relay,
                                    const std::function<void()> &Shown,
                                    const std::function<void(TIOChainList3 &)> &Done,
                                    std::optional<uint64_t> PreparedFor,
                                    std::function<void(const TWriteValue &Settled)> Settled) {
  if (!FHost.Chains)
    return;
  TWriteRun run = UstavRun(LimitCheckOn(), Shown, Done, FHost.Progress, PreparedFor, this);
  run.MadeFor = FWriteFor;
  // A value written and not read back stays an edit, marked unconfirmed; any
  // other fate clears that mark. One the relay now holds as meant (written
  // and kept, or held already) is no longer an edit.
  run.Outcome = ToldOutcome(Candidates, this,
                            [Settled](TUstavGridFrame &P, const TWriteValue &V, TWriteFate F) {
                              P.MarkUnconfirmed(V, F == TWriteFate::Unconfirmed);
                              if ((F == TWriteFate::Kept || F == TWriteFate::Held) && Settled)
                                Settled(V);
                            });
  ::RunRelayWrite(*FHost.Chains, Candidates, Relay, run);
}

void TUstavGridFrame::ExportToExcel(TExcelFrame *ExcelFrame, int SheetIndex) {
  ExcelFrame->PrepareSheet(SheetIndex, FSheetName);
  for (int r = 0; r < sgUstav->rowCount(); ++r)
    for (int c = 0; c < sgUstav->columnCount(); ++c)
      ExcelFrame->SetCell(r + 1, c + 1, sgUstav->Cells(c, r));
  for (int c = 0; c < sgUstav->columnCount(); ++c)
    ExcelFrame->AutoFit(c + 1);
}

QByteArray TUstavGridFrame::DescriptorDigest(const IXXMLNode &Root) {
  const IXXMLNode ustav = Root ? Root->SelectSingleNode(DX_USTAV) : IXXMLNode();
  const QByteArray bytes = ToWin1251(ustav ? ustav->GetText() : QString());
  return BytesMD5(bytes);
}
