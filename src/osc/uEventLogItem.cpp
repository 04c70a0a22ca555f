#include "uEventLogItem.h"

#include "uDescriptorXml.h"
#include "uErrors.h"
#include "uFiles.h"
#include "uLogger.h"
#include "uModbus.h"

#include <algorithm>

namespace {

// Word at Offset of a record of Length bytes; a word past the record reads 0.
uint16_t WordAt(const QByteArray &Record, int Length, int Offset) {
  if (Offset < 0 || Offset + 2 > Length || Offset + 2 > Record.size())
    return 0;
  return uint16_t((uint8_t(Record[Offset]) << 8) | uint8_t(Record[Offset + 1]));
}

bool IsExcluded(const QString &Name, const QString &ExcludeChar) {
  return (Name + QLatin1Char('-')).left(1) == ExcludeChar;
}

} // namespace

TEventLayout::TEventLayout(const TEventCaptions &Captions) {
  FColumns.resize(FixedColumns);
  FColumns[0].FGroupCaption = Captions.Level;
  FColumns[1].FGroupCaption = Captions.Event;
  FColumns[2].FGroupCaption = Captions.Time;
  FColumns[3].FKind = ekState;
  FColumns[3].FCaption = Captions.Value;
}

uint16_t CalcRecordLength(const IXXMLNode &Root) {
  if (!Root)
    return 0;
  const IXXMLNodeList words =
      Root->SelectNodes(DXQ_EVENT_WORD_COUNTS);
  const int sum = words->ForEach(QStringLiteral("#sum"))->GetProcedureData().Sum;
  return CheckedCast<uint16_t>(9 + 2 * qint64(sum));
}

void TEventLayout::SetDescriptor(const IXXMLNode &Root, const QString &ExcludeChar) {
  const QString exclude = ExcludeChar.isEmpty() ? QStringLiteral("-") : ExcludeChar;
  FRoot = Root;
  FColumns.resize(FixedColumns);
  FFirstBitColumn = FixedColumns;
  FRecordLength = 0;
  FEvents.clear();
  FLevels.clear();
  if (!Root)
    return;
  AddEventTexts();
  AddMeasures(exclude);
  FRecordLength = CalcRecordLength(Root);
}

void TEventLayout::AddEventTexts() {
  // The first node of a code or level wins, as a path query would find it.
  const IXXMLNodeList items = FRoot->SelectNodes(DxPath({DX_EVENT, DX_EVENT_ITEM}));
  for (int i = 0; i < items->GetCount(); ++i) {
    const IXXMLNode item = items->GetItem(i);
    const IXXMLNode code = item->SelectSingleNode(DX_BYTE_CODE);
    bool ok = false;
    const int value = code ? code->GetText().trimmed().toInt(&ok) : 0;
    if (!ok || FEvents.count(value))
      continue;
    const IXXMLNode name = item->SelectSingleNode(DX_STRING);
    FEvents[value] = {item->GetIntNodeDef(DX_BYTE_LEVEL_MASK, 0),
                      name ? name->GetText() : QStringLiteral("<%1>").arg(value)};
  }
  const IXXMLNodeList levels = FRoot->SelectNodes(DXQ_EVENT_LEVELS_NAMED);
  for (int i = 0; i < levels->GetCount(); ++i) {
    const IXXMLNode level = levels->GetItem(i);
    bool ok = false;
    const int ider = level->GetStrNode(DX_IDER).trimmed().toInt(&ok);
    if (ok && !FLevels.count(ider))
      FLevels[ider] = level->GetStrNode(DX_VALUE);
  }
}

int TEventLayout::EventLevel(int Code) const {
  const auto e = FEvents.find(Code);
  return e == FEvents.end() ? 0 : e->second.Level;
}

QString TEventLayout::EventName(int Code) const {
  const auto e = FEvents.find(Code);
  return e == FEvents.end() ? QStringLiteral("<%1>").arg(Code) : e->second.Name;
}

QString TEventLayout::LevelText(int Level) const {
  const auto l = FLevels.find(Level);
  return l == FLevels.end() ? QStringLiteral("<%1>").arg(Level) : l->second;
}

void TEventLayout::AddMeasures(const QString &ExcludeChar) {
  const IXXMLNodeList measures = FRoot->SelectNodes(DxPath({DX_EVENT, DX_EVENT_MEASURE}));
  int offset = 9;
  bool first = true;
  for (int i = 0; i < measures->GetCount(); ++i, offset += 2) {
    // Each measure reads its own word, so a missing one shifts nothing after it.
    const int ider = measures->GetItem(i)->GetIntNodeDef(DX_MEASURE_IDER, -1);
    const IXXMLNode item = FRoot->SelectSingleNode(QString(DXQ_MEASURE_BY_IDER).arg(ider));
    if (!item) {
      Logger().ErrorFmt("cannot find measure id %d", ider);
      continue;
    }
    TDrawableDesc d;
    d.FKind = ekMeasure;
    d.FOffset = offset;
    if (first)
      d.FGroupCaption = QStringLiteral("Измерения");
    first = false;
    d.FCaption = item->GetStrNodeDef(DX_STRING, QString());
    d.FMult = CheckedCast<uint16_t>(item->GetIntNodeDef(DX_MVP_MULT, 1));
    d.FDivider = CheckedCast<uint16_t>(item->GetIntNodeDef(DX_MVS_DIV, 1));
    d.FPrimaryReg = CheckedCast<uint16_t>(item->GetIntNodeDef(QString::fromLatin1(DX_MVP_MREG), DX_NONE));
    d.FSecondaryReg = CheckedCast<uint16_t>(item->GetIntNodeDef(QString::fromLatin1(DX_MVS_MREG), DX_NONE));
    FColumns.push_back(d);
  }
  FFirstBitColumn = int(FColumns.size());
  AddBitGroups(ExcludeChar, offset);
}

void TEventLayout::AddBitGroups(const QString &ExcludeChar, int Offset) {
  const IXXMLNodeList refs = FRoot->SelectNodes(DxPath({DX_EVENT, DX_EVENT_BITREG}));
  for (int i = 0; i < refs->GetCount(); ++i) {
    const IXXMLNode ref = refs->GetItem(i);
    const int type = ref->GetIntNodeDef(DX_BITREG_RECORD_TYPE, -1);
    const IXXMLNode reg = FRoot->SelectSingleNode(QString(DXQ_BITREG_BY_TYPE).arg(type));
    if (!reg) {
      // The group's words stay in the record: later groups keep their places.
      Logger().ErrorFmt("cannot find bitreg record-type %d", type);
      Offset += 2 * ref->GetIntNodeDef(DX_WORD_COUNT, 1);
      continue;
    }
    const IXXMLNodeList names = reg->SelectNodes(DXQ_VALUE_NODES);
    int bit = 0;
    int word = Offset;
    for (int n = 0; n < names->GetCount(); ++n) {
      const QString name = names->GetItem(n)->GetText();
      if (!IsExcluded(name, ExcludeChar)) {
        TDrawableDesc d;
        d.FKind = ekBit;
        d.FBit = bit;
        d.FOffset = word;
        d.FCaption = name;
        if (n == 0)
          d.FGroupCaption = reg->GetStrNodeDef(DX_CAPTION, QString());
        FColumns.push_back(d);
      }
      bit = (bit + 1) % 16;
      if (bit == 0)
        word += 2;
    }
    Offset += 2 * reg->GetIntNodeDef(DX_WORD_COUNT, 1);
  }
}

const TDrawableDesc &TEventLayout::GetColumn(int Index) const {
  if (Index < 0 || Index >= ColumnCount())
    throw EKvRange(QStringLiteral("column index out of range: %1").arg(Index));
  return FColumns[size_t(Index)];
}

int TEventLayout::FindColumnOfKind(int Kind, int N) const {
  for (int i = 0; i < ColumnCount(); ++i)
    if (FColumns[size_t(i)].FKind == Kind && N-- == 0)
      return i;
  return -1;
}

void TEventLayout::RefreshMeasureFactors(const TModbus &Image) {
  for (TDrawableDesc &d : FColumns) {
    if (d.FKind != ekMeasure)
      continue;
    if (d.FPrimaryReg != DX_NONE && Image.IsValid(d.FPrimaryReg))
      d.FPrimaryRatio = Image.GetWord(d.FPrimaryReg);
    if (d.FSecondaryReg != DX_NONE && Image.IsValid(d.FSecondaryReg))
      d.FSecondaryRatio = Image.GetWord(d.FSecondaryReg);
    if (d.FDivider == 0)
      d.FDivider = 1;
    if (d.FSecondaryRatio == 0)
      d.FSecondaryRatio = 1;
    d.FPrimaryFactor = double(d.FMult) / d.FDivider * d.FPrimaryRatio / d.FSecondaryRatio;
    d.FSecondaryFactor = 1.0 / d.FDivider;
  }
}

QString TEventLayout::MeasureText(int Column, uint16_t Value, bool Primary) const {
  const TDrawableDesc &d = GetColumn(Column);
  return QString::number(Value * (Primary ? d.FPrimaryFactor : d.FSecondaryFactor), 'g', 15);
}

TEventLogItem::TEventLogItem(std::shared_ptr<const TEventLayout> Layout) : FLayout(std::move(Layout)) {
  Q_ASSERT(FLayout);
  FCells.resize(size_t(FLayout->ColumnCount()));
}

TEventCell TEventLogItem::GetCell(int Index) const {
  if (Index < 0 || Index >= int(FCells.size()))
    throw EKvRange(QStringLiteral("cell index out of range: %1").arg(Index));
  return FCells[size_t(Index)];
}

void TEventLogItem::MakeMeasureTexts(bool Primary) {
  for (int c = TEventLayout::FixedColumns; c < int(FCells.size()); ++c)
    if (FLayout->GetColumn(c).FKind == ekMeasure)
      FCells[size_t(c)].Text = FLayout->MeasureText(c, FCells[size_t(c)].Value, Primary);
}

void DecodeEventRecord(TEventLogItem &Item, const QByteArray &Record) {
  const TEventLayout &layout = Item.Layout();
  const int length = layout.RecordLength();
  Item.FBytes = Record.left(length);
  QByteArray head = Record.left(9);
  head.resize(9, char(0xFF));
  const auto *b = reinterpret_cast<const uint8_t *>(head.constData());

  TDateTime moment = DeviceBaseDate;
  const bool valid = DecodeDeviceTime7(b, moment);
  Item.FMoment = valid ? moment : DeviceBaseDate;
  Item.FByteCode = valid ? b[7] : 0;
  Item.FLevel = CheckedCast<uint8_t>(layout.EventLevel(Item.FByteCode));
  Item.FState = valid && (b[8] & 1);

  Item.FCells.assign(size_t(layout.ColumnCount()), TEventCell());
  Item.FCells[0].Text = layout.LevelText(Item.FLevel);
  Item.FCells[1].Text = layout.EventName(Item.FByteCode);
  Item.FCells[2].Text = FormatDateTime(QStringLiteral("yyyy-mm-dd hh:nn:ss.zzz"), Item.FMoment);
  Item.FCells[3].Flag = Item.FState;

  for (int c = TEventLayout::FixedColumns; c < layout.ColumnCount(); ++c) {
    const TDrawableDesc &d = layout.GetColumn(c);
    const uint16_t word = valid ? WordAt(Record, length, d.FOffset) : 0;
    TEventCell &cell = Item.FCells[size_t(c)];
    if (d.FKind == ekMeasure)
      cell.Value = word;
    else if (d.FKind == ekBit)
      cell.Flag = (word >> d.FBit) & 1;
  }
}

TEventLogItems DecodeEventRecords(const QByteArray &Bytes, const std::shared_ptr<const TEventLayout> &Layout) {
  const int length = Layout->RecordLength();
  if (length < 9)
    throw EKvError(QStringLiteral("Нет дескриптора"));
  TEventLogItems items;
  qsizetype pos = 0;
  for (; pos + length <= Bytes.size(); pos += length) {
    auto item = std::make_shared<TEventLogItem>(Layout);
    DecodeEventRecord(*item, Bytes.mid(pos, length));
    items.push_back(item);
  }
  if (pos < Bytes.size())
    Logger().ErrorFmt("event file: the last %d bytes are shorter than a record of %d and are dropped",
                      int(Bytes.size() - pos), length);
  return items;
}

void OrderEventRing(TEventLogItems &Items) {
  Items.erase(std::remove_if(Items.begin(), Items.end(), [](const TEventLogItemPtr &I) { return I->IsEmpty(); }),
              Items.end());
  const size_t count = Items.size();
  if (count == 0)
    return;
  size_t start = 0;
  for (size_t i = 1; i < count; ++i)
    if (Items[i]->FMoment < Items[0]->FMoment) {
      start = i;
      break;
    }
  const TEventLogItems copy = Items;
  for (size_t j = 0; j < count; ++j)
    Items[count - 1 - j] = copy[(start + j) % count];
}

TEventLogItems ReadEventLogFile(const QString &FileName, const std::shared_ptr<const TEventLayout> &Layout) {
  TEventLogItems items = DecodeEventRecords(LoadFileBytes(FileName), Layout);
  OrderEventRing(items);
  return items;
}

void MergeNewEventRecords(TEventLogItems &Held, const TEventLogItems &Fresh) {
  for (const TEventLogItemPtr &item : Fresh) {
    const bool known = std::any_of(Held.begin(), Held.end(),
                                   [&](const TEventLogItemPtr &H) { return H->FBytes == item->FBytes; });
    if (!known)
      Held.push_back(item);
  }
  std::stable_sort(Held.begin(), Held.end(),
                   [](const TEventLogItemPtr &A, const TEventLogItemPtr &B) { return A->FMoment > B->FMoment; });
}
