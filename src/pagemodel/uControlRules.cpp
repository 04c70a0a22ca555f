#include "uControlRules.h"

#include "uDescriptorXml.h"
#include "uErrors.h"
#include "uNumberFormat.h"

#include <QtEndian>
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
  if (Cursor.LastIndex == 0xFFFF || RingCount <= 0) {
    r.First = 0;
    r.Last = CheckedCast<uint16_t>(MaxCount);
    r.LastTime = DeviceBaseDate;
  } else {
    r.First = uint16_t((Cursor.LastIndex + 1) % RingCount);
    r.Last = uint16_t((r.First + MaxCount) % RingCount);
    r.LastTime = Cursor.LastTime;
  }
  return r;
}

QList<TEventRow> TakeEvents(const QByteArray &File, int RecordSize, int RingCount, TEventCursor &Cursor) {
  QList<TEventRow> rows;
  if (RecordSize < 9 || RingCount <= 0)
    return rows;
  for (qsizetype pos = 0; pos + RecordSize <= File.size(); pos += RecordSize) {
    const auto *rec = reinterpret_cast<const uint8_t *>(File.constData() + pos);
    TDateTime time;
    const bool valid = DecodeDeviceTime7(rec, time);
    if (!valid || time == DeviceBaseDate) {
      if (Cursor.LastIndex == 0xFFFF)
        Cursor.LastIndex = 0;
      continue;
    }
    if (time < Cursor.LastTime)
      break;
    rows.append({time, rec[7], (rec[8] & 1) != 0});
    Cursor.LastIndex = Cursor.LastIndex == 0xFFFF ? 0 : uint16_t((Cursor.LastIndex + 1) % RingCount);
    Cursor.LastTime = time;
  }
  return rows;
}
