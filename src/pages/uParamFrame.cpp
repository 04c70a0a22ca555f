#include "uParamFrame.h"

#include "uAppIniFile.h"
#include "uDescriptorXml.h"
#include "uErrors.h"
#include "uExcelFrame.h"
#include "uModbus.h"
#include "uMultiLingual.h"
#include "uPageChains.h"
#include "uStringGrid.h"
#include "uStringGridEditor.h"

#include <QBuffer>
#include <QHelpEvent>
#include <QHeaderView>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QToolTip>
#include <memory>

namespace {
const char *const ReadingText = "Чтение параметров";
const char *const WritingText = "Запись параметров";
const char *const DoneText = "Готово";
const char *const NotReadText = "Значения не прочитаны из устройства";
const char *const ParamXPath = DXQ_PARAM_PAGE_ITEMS;

// The value column: masked texts and the change colours (yellow: the user
// changed the cell since the page read it, orange: written and not
// confirmed, white: not, or back to the device's value).
class TParamDelegate : public QStyledItemDelegate {
public:
  TParamDelegate(TkvParamFrame *Frame) : QStyledItemDelegate(Frame), FFrame(Frame) {}
  void paint(QPainter *P, const QStyleOptionViewItem &Option, const QModelIndex &Index) const override {
    if (Index.column() != 2 || Index.row() == 0 || !FFrame->Descriptor() || FFrame->RowReg(Index.row()) < 0) {
      QStyledItemDelegate::paint(P, Option, Index);
      return;
    }
    const QColor fill = FFrame->RowUnconfirmed(Index.row())   ? QColor(0xFF, 0xC0, 0x60)
                        : FFrame->RowHighlighted(Index.row()) ? QColor(0xFF, 0xFF, 0x00)
                                                              : QColor(0xFF, 0xFF, 0xFF);
    P->fillRect(Option.rect, fill);
    const QString shown = FFrame->sgParam->ShownText(2, Index.row());
    const QString text = shown.isEmpty() ? Index.data().toString() : shown;
    P->drawText(Option.rect.adjusted(2, 2, 0, 0), Qt::AlignLeft | Qt::AlignTop, text);
  }
  bool helpEvent(QHelpEvent *Event, QAbstractItemView *View, const QStyleOptionViewItem &Option,
                 const QModelIndex &Index) override {
    if (Event->type() == QEvent::ToolTip && Index.column() == 2 && FFrame->RowUnconfirmed(Index.row())) {
      QToolTip::showText(Event->globalPos(), UnconfirmedMarkText(), View);
      return true;
    }
    return QStyledItemDelegate::helpEvent(Event, View, Option, Index);
  }

private:
  TkvParamFrame *FFrame;
};
} // namespace

TkvParamFrame::TkvParamFrame(QWidget *Parent)
    : TDescriptorGridFrame("ParamFrame", "sgParam", Parent), sgParam(FGrid) {}

TkvParamFrame::~TkvParamFrame() = default;

void TkvParamFrame::Init() {
  sgParam->setColumnCount(3);
  sgParam->setRowCount(2);
  sgParam->setColumnWidth(0, 10);
  // Wide enough for the names in the program's font (the names run longer
  // than the designed 202 pixels).
  sgParam->setColumnWidth(1, 300);
  sgParam->setColumnWidth(2, 140);
  sgParam->verticalHeader()->setDefaultSectionSize(20);
  sgParam->SetCells(0, 0, QString());
  sgParam->SetCells(1, 0, QStringLiteral("Наименование"));
  sgParam->SetCells(2, 0, QStringLiteral("Значение"));
  // A password is masked for the screen and for accessibility alike.
  sgParam->SetShownText([this](int Col, int Row) { return Col == 2 && RowMasked(Row) ? QStringLiteral("****") : QString(); });
  sgParam->setItemDelegate(new TParamDelegate(this));
  FEditor = new TStringGridEditor(sgParam);
  FEditor->SetOnGetCellEditor([this](int Col, int Row, TCellEditorRequest &R) { GetCellEditor(Col, Row, R); });
  FEditor->SetOnCellEdited([this](int Col, int Row, const QString &Text) { CellEdited(Col, Row, Text); });
  Clear();
}

void TkvParamFrame::Clear() {
  TDescriptorGridFrame::Clear();
  FRows.clear();
  FEdited.clear();
  FUnconfirmed.clear();
  sgParam->setRowCount(2);
  for (int c = 0; c < 3; ++c)
    sgParam->SetCells(c, 1, QString());
}

void TkvParamFrame::SetDescriptor(const IXXMLNode &Root) {
  Clear();
  TDescriptorGridFrame::SetDescriptor(Root);
  if (!Root)
    return;
  const IXXMLNodeList nodes = Root->SelectNodes(ParamXPath);
  for (int i = 0; i < nodes->GetCount(); ++i) {
    TParamCodec codec(nodes->GetItem(i));
    if (codec.CanRead())
      FRows.push_back(std::move(codec));
  }
  if (FRows.empty())
    return;
  sgParam->setRowCount(int(FRows.size()) + 1);
  for (int r = 1; r <= int(FRows.size()); ++r) {
    sgParam->SetCells(0, r, QString());
    sgParam->SetCells(1, r, FRows[size_t(r - 1)].Name);
    sgParam->SetCells(2, r, QString());
  }
}

const TParamCodec *TkvParamFrame::RowCodec(int Row) const {
  return Row >= 1 && Row <= int(FRows.size()) ? &FRows[size_t(Row - 1)] : nullptr;
}

int TkvParamFrame::RowReg(int Row) const {
  const TParamCodec *c = RowCodec(Row);
  return c ? c->Reg : -1;
}

bool TkvParamFrame::RowMasked(int Row) const {
  const TParamCodec *c = RowCodec(Row);
  return c && c->PasswdChar > 0;
}

bool TkvParamFrame::RowMatchesDevice(int Row) const {
  const TParamCodec *c = RowCodec(Row);
  return c && c->MatchesDevice(sgParam->Cells(2, Row), Modbus());
}

bool TkvParamFrame::RowHighlighted(int Row) const { return FEdited.count(Row) && !RowMatchesDevice(Row); }

void TkvParamFrame::Refresh() {
  QByteArray request;
  for (const TParamCodec &c : FRows)
    for (int i = 0; i < c.WordCount; ++i)
      AppendWord(request, uint16_t(c.Reg + i));
  if (request.isEmpty() || !FHost.Chains)
    return;
  TIOChainList3 &chain = FHost.Chains->newList().ownedBy(this).checkedRead();
  QBuffer &list = chain.Buffer(request), &data = chain.Buffer();
  const TIOChainList3 &seen = chain;
  chain.msg(ReadingText)
      .readReg(list, data)
      .execStream([](QIODevice *D) { Modbus().LoadRegValues(*D); }, &data)
      .exec(Guarded(this,
                    [&seen](TkvParamFrame *Page) {
                      // Of the unit the read's check saw.
                      if (!seen.SeenUnit().IsEmpty())
                        Page->FReadUnit = seen.SeenUnit();
                      Page->ShowValues();
                    }))
      .msg(DoneText)
      .run(FHost.Progress);
}

void TkvParamFrame::ShowValues() {
  FEdited.clear();
  FUnconfirmed.clear();
  for (int r = 1; r <= int(FRows.size()); ++r)
    sgParam->SetCells(2, r, FRows[size_t(r - 1)].Show(Modbus()));
  sgParam->viewport()->update();
}

void TkvParamFrame::ShowRow(int Reg) {
  for (int r = 1; r <= int(FRows.size()); ++r)
    if (FRows[size_t(r - 1)].Reg == Reg) {
      ShowRowAt(r);
      sgParam->viewport()->update();
      return;
    }
}

void TkvParamFrame::ShowRowAt(int Row) {
  FEdited.erase(Row);
  FUnconfirmed.erase(Row);
  sgParam->SetCells(2, Row, FRows[size_t(Row - 1)].Show(Modbus()));
}

namespace {
// ustav/limitCheck (default on) holds for parameters as for setpoints.
bool LimitCheckOn(const TAppIniFile *Ini) { return !Ini || Ini->ReadBool("ustav", "limitCheck", true); }
} // namespace

void TkvParamFrame::RunWrite(const TWriteBatch &Batch, std::optional<uint64_t> PreparedFor,
                             const TUnitIdentity &MadeFor) {
  if (!FHost.Chains)
    return;
  TWriteRun run;
  run.CheckLimits = LimitCheckOn(FHost.Ini);
  run.WritingText = WritingText;
  run.ReadingText = ReadingText;
  run.DoneText = DoneText;
  run.Progress = FHost.Progress;
  run.PreparedFor = PreparedFor;
  run.MadeFor = MadeFor;
  run.Shown = [this] { sgParam->viewport()->update(); };
  // A row the relay took and keeps shows what it holds; a value it did not
  // keep, that did not go or whose answer never came stays the engineer's,
  // marked as an edit (the report names what the relay holds), and so does
  // one written and not read back, marked as unconfirmed. Another row keeps
  // whatever it had.
  run.Outcome = [this, PreparedFor, MadeFor](const std::vector<TValueOutcome> &Values) {
    for (const TValueOutcome &o : Values) {
      if (!RowCodec(o.Tag))
        continue;
      if (o.Fate == TWriteFate::Kept || o.Fate == TWriteFate::Held) {
        // A command is not read back: the cell keeps what went, no longer an edit.
        if (o.Held.empty()) {
          FEdited.erase(o.Tag);
          FUnconfirmed.erase(o.Tag);
        } else {
          ShowRowAt(o.Tag);
        }
        continue;
      }
      if (o.Fate == TWriteFate::Unconfirmed)
        FUnconfirmed.insert(o.Tag);
      else
        FUnconfirmed.erase(o.Tag);
      const uint64_t epoch = PreparedFor.value_or(IdentEpoch());
      if (FEdited.empty() || epoch < FEditedEpoch) {
        FEditedEpoch = epoch;
        FEditedUnit = MadeFor;
      }
      FEdited.insert(o.Tag);
    }
    sgParam->viewport()->update();
  };
  OwnWriteRun(run, this);
  RunWriteBatch(*FHost.Chains, Batch, run);
}

TWriteBatch TkvParamFrame::EditedBatch() const {
  bool anyRead = false;
  for (const TParamCodec &c : FRows)
    anyRead = anyRead || Modbus().IsValid(c.Reg);
  if (!anyRead)
    throw EKvError(MultiLingual().Translate(QString::fromUtf8(NotReadText)));
  TWriteBatch batch;
  for (int r : FEdited) {
    const TParamCodec &c = FRows[size_t(r - 1)];
    const QString text = sgParam->Cells(2, r);
    if (const TRegWrites w = c.PendingWrites(text, Modbus()); !w.empty()) {
      TWriteValue v = ParamWriteValue(c, w, text);
      v.Tag = r;
      batch.Add(std::move(v));
    }
  }
  return batch;
}

void TkvParamFrame::WriteAll() {
  const bool edited = !FEdited.empty();
  RunWrite(EditedBatch(), edited ? std::optional<uint64_t>(FEditedEpoch) : std::nullopt,
           edited ? FEditedUnit : TUnitIdentity());
}

void TkvParamFrame::GetCellEditor(int Col, int Row, TCellEditorRequest &R) {
  R.Kind = TCellEditorRequest::ekNone;
  R.PasswordChar = QChar();
  const TParamCodec *c = RowCodec(Row);
  if (!Descriptor() || !c || Col != 2 || !Modbus().IsValid(c->Reg) || !c->CanWrite())
    return;
  if (c->Kind == TParamKind::Enum) {
    R.Kind = TCellEditorRequest::ekList;
    R.Items = c->Items;
  } else if (c->Kind != TParamKind::Other) {
    R.Kind = TCellEditorRequest::ekEdit;
  }
  if (c->PasswdChar & 0xFF)
    R.PasswordChar = QChar(char16_t(c->PasswdChar & 0xFF));
  if (R.Kind != TCellEditorRequest::ekNone) {
    FEditEpoch = IdentEpoch();
    FEditUnit = FReadUnit;
  }
}

void TkvParamFrame::CellEdited(int Col, int Row, const QString &Text) {
  const TParamCodec *c = RowCodec(Row);
  if (!c)
    return;
  if (!FHost.Ini || FHost.Ini->ReadInteger("param", "directEdit", 0) == 0) {
    // Kept for Write, which sends the rows changed here and no other.
    if (FEdited.empty() || FEditEpoch < FEditedEpoch) {
      FEditedEpoch = FEditEpoch;
      FEditedUnit = FEditUnit;
    }
    FEdited.insert(Row);
    FUnconfirmed.erase(Row);
    return;
  }
  TWriteBatch batch;
  TWriteValue value = ParamWriteValue(*c, c->EditWrites(Text), Text);
  value.Tag = Row;
  batch.Add(std::move(value));
  // Refused before the password is asked: nothing would be sent anyway.
  if (LimitCheckOn(FHost.Ini))
    if (const QString report = batch.LimitReport(); !report.isEmpty())
      throw EKvError(report);
  // An edit begun for another device goes to the write gate, which drops
  // it with its box: no password is asked for it.
  const bool stale = FEditEpoch != IdentEpoch();
  if (!stale && FHost.RequestUserRights && !FHost.RequestUserRights())
    return;
  RunWrite(batch, FEditEpoch, FEditUnit);
}

void TkvParamFrame::ExportToExcel(TExcelFrame *ExcelFrame, int SheetIndex) {
  ExcelFrame->PrepareSheet(SheetIndex, QStringLiteral("Параметры"));
  for (int r = 0; r < sgParam->rowCount(); ++r)
    for (int c = 0; c < sgParam->columnCount(); ++c)
      ExcelFrame->SetCell(r + 1, c + 1, sgParam->Cells(c, r));
  for (int c = 0; c < sgParam->columnCount(); ++c)
    ExcelFrame->AutoFit(c + 1);
}
