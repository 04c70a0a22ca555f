#include "uControlRules.h"

#include "uDescriptorXml.h"
#include "uErrors.h"
#include "uNumberFormat.h"

#include <QtEndian>
#include <algorithm>
#include <cmath>

namespace {
uint16_t WordOf(const IXXMLNode &Item, const char *Path, int Default) {
  return CheckedCast<uint16_t>(Item->GetIntNodeDef(QString::fromLatin1(Path), Default));
}

// Rounding to nearest with ties to the even neighbour, as the layout expects.
int RoundEven(double V) { return int(std::nearbyint(V)); }
} // namespace

TMeasureScale MeasureScaleOf(const IXXMLNode &Item) {
  TMeasureScale s;
  s.PrimVal = WordOf(Item, "prim-val", 1);
  s.MvsMult = WordOf(Item, "mvs-mult", 1);
  s.SecVal = WordOf(Item, "sec-val", 1);
  s.MvsDiv = WordOf(Item, DX_MVS_DIV, 1);
  s.Signed = Item->GetIntNodeDef(DX_BYTE_DOPCODE, 0) == DX_DOPCODE_SIGNED;
  s.MvpReg = WordOf(Item, DX_MVP_MREG, NoReg);
  s.MvsReg = WordOf(Item, DX_MVS_MREG, NoReg);
  s.HasOffset = Item->GetIntNodeDef(DX_BYTE_OFFSET_FLAG, 0) != 0;
  if (s.HasOffset)
    s.Offset = WordOf(Item, DX_WORD_OFFSET, 0);
  return s;
}

QString MeasureText(uint16_t Raw, const TMeasureScale &Scale, bool Primary) {
  if (Raw == 0xFFFF)
    return QString();
  double v = Scale.Signed && Raw >= 32768 ? double(Raw) - 65536.0 : double(Raw);
  if (Scale.HasOffset)
    v -= Scale.Offset;
  double x = v / Scale.MvsDiv;
  if (Primary)
    x = x * Scale.PrimVal / Scale.SecVal * Scale.MvsMult;
  return FormatValue(x);
}

QList<TBitName> BitNamesOf(const IXXMLNode &Root, int Mreg) {
  QList<TBitName> out;
  const IXXMLNodeList names =
      Root->SelectNodes(QString(DXQ_BITREG_BY_MREG).arg(Mreg) + u'/' + DXQ_VALUE_NODES);
  for (int i = 0; i < names->GetCount(); ++i) {
    const QString text = names->GetItem(i)->GetText();
    if (!text.isEmpty() && !text.startsWith('-'))
      out.append({i, text});
  }
  return out;
}

void ApplyBitmap(QList<bool> &Shown, const QString &Bitmap) {
  for (qsizetype k = 0; k < Shown.size() && k < Bitmap.size(); ++k)
    Shown[k] = Bitmap[k] == '1';
}

QString BitmapOf(const QList<bool> &Shown) {
  QString s;
  for (bool b : Shown)
    s += b ? '1' : '0';
  return s;
}

QList<TBitPlace> LayoutBits(const QList<bool> &Shown, int ClientWidth, int ClientHeight, int ColCount,
                            int CircleWidth, int CircleHeight) {
  QList<TBitPlace> out;
  if (ColCount == 0)
    return out;
  int x = 10, y = 20;
  for (bool shown : Shown) {
    TBitPlace p;
    p.Visible = shown;
    if (shown) {
      if (ClientHeight < y + CircleHeight) {
        x += ClientWidth / ColCount;
        y = 20;
      }
      p.X = x;
      p.Y = y;
      p.LabelX = x + RoundEven(1.5 * CircleWidth);
      y += RoundEven(1.5 * CircleHeight);
    }
    out.append(p);
  }
  return out;
}

std::optional<TMaskedWrite> UstavListWrite(bool BitKind, int Bit, int ListIndex) {
  if (!BitKind)
    return TMaskedWrite{uint16_t(ListIndex), 0xFFFF};
  if (!UstavBitChosen(Bit))
    return std::nullopt;
  return TMaskedWrite{uint16_t(ListIndex << Bit), uint16_t(1u << Bit)};
}

void MergeBitsStream(QIODevice &Stream, uint16_t Mask, uint16_t Value) {
  if (Stream.size() != 4)
    throw EKvAssert("invalid stream size");
  Stream.seek(2);
  uchar b[2];
  if (Stream.read(reinterpret_cast<char *>(b), 2) != 2)
    throw EKvAssert("invalid stream size");
  const uint16_t word = qFromLittleEndian<uint16_t>(b);
  qToLittleEndian<uint16_t>(uint16_t((word & ~Mask) | (Value & Mask)), b);
  Stream.seek(2);
  Stream.write(reinterpret_cast<const char *>(b), 2);
  Stream.seek(0);
}

int EventRecordSize(const IXXMLNode &Root) {
  const IXXMLNodeList counts =
      Root->SelectNodes(DXQ_EVENT_WORD_COUNTS);
  counts->ForEach(QStringLiteral("#sum"));
  return 2 * counts->GetProcedureData().Sum + 9;
}

TEventRange NextEventRange(const TEventCursor &Cursor, int MaxCount, int RingCount) {
  TEventRange r;
  if (RingCount <= 0)
    return r;
  int first = 0, frames = 0;
  if (Cursor.LastIndex == 0xFFFF) {
    first = Cursor.Scanned % RingCount;
    frames = std::clamp(std::max(MaxCount + 1, EventScanFrames), 1, RingCount - first);
  } else {
    first = (Cursor.LastIndex + 1) % RingCount;
    frames = std::clamp(MaxCount, 1, RingCount);
  }
  r.First = uint16_t(first);
  r.Last = uint16_t((first + frames) % RingCount);
  return r;
}

namespace {

bool IsEmptySlot(const QByteArray &Record) { return uint8_t(Record[0]) == 0xFF; }

bool StampOf(const QByteArray &Record, TDateTime &Time) {
  return DecodeDeviceTime7(reinterpret_cast<const uint8_t *>(Record.constData()), Time);
}

// Cursor moves to Slot, which holds Record; a record with a stamp is shown.
void Take(QList<TEventRow> &Rows, TEventCursor &Cursor, int Slot, const QByteArray &Record) {
  TDateTime time = 0;
  if (StampOf(Record, time)) {
    Rows.append({time, uint8_t(Record[7]), (uint8_t(Record[8]) & 1) != 0});
    Cursor.LastTime = time;
  }
  Cursor.LastIndex = uint16_t(Slot);
  Cursor.Slots[size_t(Slot)] = Record;
}

// The slot of the newest record of a ring read from slot 0, -1 when it holds none.
int RingEnd(const std::vector<QByteArray> &Records, int RingCount) {
  const int count = int(Records.size());
  // The device fills its slots in order: the first empty slot after a record
  // is the end, whatever the stamps say.
  for (int k = 0; k + 1 < count; ++k)
    if (!IsEmptySlot(Records[size_t(k)]) && IsEmptySlot(Records[size_t(k + 1)]))
      return k;
  if (count == RingCount && count > 0 && IsEmptySlot(Records.front()) && !IsEmptySlot(Records.back()))
    return count - 1;
  // A full ring: nothing but the stamps tells where it was written last. Its
  // end is where they fall back the most from one record to the next: from
  // the newest to the oldest they fall by the ring's whole span, and a clock
  // set back falls by less, unless it was set back by more than that span.
  std::vector<std::pair<int, TDateTime>> stamped;
  for (int k = 0; k < count; ++k) {
    TDateTime time = 0;
    if (!IsEmptySlot(Records[size_t(k)]) && StampOf(Records[size_t(k)], time))
      stamped.push_back({k, time});
  }
  if (stamped.empty())
    return -1;
  int end = stamped.back().first;
  TDateTime largest = 0;
  for (size_t i = count == RingCount ? 0 : 1; i < stamped.size(); ++i) {
    const auto &before = stamped[(i + stamped.size() - 1) % stamped.size()];
    if (before.second - stamped[i].second > largest) {
      largest = before.second - stamped[i].second;
      end = before.first;
    }
  }
  return end;
}

} // namespace

QList<TEventRow> TakeEvents(const QByteArray &File, int RecordSize, int RingCount, int MaxCount,
                            TEventCursor &Cursor) {
  QList<TEventRow> rows;
  if (RecordSize < 9 || RingCount <= 0)
    return rows;
  if (Cursor.Slots.size() != size_t(RingCount) || Cursor.ReadAt.size() != size_t(RingCount)) {
    Cursor.Slots.assign(size_t(RingCount), QByteArray());
    Cursor.ReadAt.assign(size_t(RingCount), 0);
  }
  const uint32_t before = Cursor.Reads++;
  std::vector<QByteArray> records;
  for (qsizetype pos = 0; pos + RecordSize <= File.size() && int(records.size()) < RingCount; pos += RecordSize)
    records.push_back(File.mid(pos, RecordSize));
  int count = int(records.size());

  if (Cursor.LastIndex != 0xFFFF) {
    const int first = (Cursor.LastIndex + 1) % RingCount;
    bool ended = false;
    for (int k = 0; k < count; ++k) {
      const int slot = (first + k) % RingCount;
      const QByteArray &record = records[size_t(k)];
      QByteArray &known = Cursor.Slots[size_t(slot)];
      // A slot the read before did not read may have changed long ago (the
      // relay writing elsewhere than the panel took for the ring's end): its
      // stamp says whether it follows the newest taken.
      const bool unread = before == 0 || Cursor.ReadAt[size_t(slot)] != before;
      Cursor.ReadAt[size_t(slot)] = Cursor.Reads;
      TDateTime time = 0;
      const bool older = unread && StampOf(record, time) && time < Cursor.LastTime;
      // The slots read past the walk's end are old as they stand: the relay
      // writes in order and has not written the end yet.
      if (ended || IsEmptySlot(record) || record == known || older) {
        known = record;
        ended = true;
        continue;
      }
      Take(rows, Cursor, slot, record);
    }
    return rows;
  }

  // Looking for the end: the slots from slot 0 on are kept until they hold it.
  const int from = Cursor.Scanned % RingCount;
  for (int k = 0; k < count && from + k < RingCount; ++k) {
    Cursor.Slots[size_t(from + k)] = records[size_t(k)];
    Cursor.ReadAt[size_t(from + k)] = Cursor.Reads;
  }
  Cursor.Scanned = std::min(RingCount, from + count);
  records.assign(Cursor.Slots.begin(), Cursor.Slots.begin() + Cursor.Scanned);
  bool found = Cursor.Scanned == RingCount;
  for (int k = 0; !found && k + 1 < Cursor.Scanned; ++k)
    found = !IsEmptySlot(records[size_t(k)]) && IsEmptySlot(records[size_t(k + 1)]);
  if (!found)
    return rows;
  count = Cursor.Scanned;
  const int end = RingEnd(records, RingCount);
  if (end < 0) {
    // No record yet: the next read starts at slot 0.
    Cursor.LastIndex = uint16_t(RingCount - 1);
    return rows;
  }
  // Back from the end, as far as MaxCount records, an empty slot or (the ring
  // read whole) the slot after the end, which holds the oldest record.
  std::vector<int> shown;
  int stamped = 0;
  for (int step = 0, slot = end; step < count && stamped < MaxCount; ++step) {
    if (IsEmptySlot(records[size_t(slot)]) || (step > 0 && slot == (end + 1) % count))
      break;
    shown.push_back(slot);
    TDateTime time = 0;
    if (StampOf(records[size_t(slot)], time))
      ++stamped;
    if (slot == 0 && count < RingCount)
      break;
    slot = (slot + count - 1) % count;
  }
  for (auto it = shown.rbegin(); it != shown.rend(); ++it)
    Take(rows, Cursor, *it, records[size_t(*it)]);
  Cursor.LastIndex = uint16_t(end);
  return rows;
}
