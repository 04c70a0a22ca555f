#include "uParamCodec.h"

#include "uCharMap.h"
#include "uDescriptorXml.h"
#include "uErrors.h"
#include "uModbus.h"
#include "uMultiLingual.h"
#include "uNumberFormat.h"
#include "uTextCodec.h"

#include <QBuffer>
#include <cmath>

QString NotNumberText(const QString &Text) {
  return MultiLingual().Translate(QStringLiteral("Не число: %1")).arg(Text.trimmed());
}

QString OutOfRangeText(const QString &Text, const QString &Lo, const QString &Hi) {
  return MultiLingual().Translate(QStringLiteral("Значение %1 вне диапазона %2..%3")).arg(Text.trimmed(), Lo, Hi);
}

int KoefFactor(uint8_t K) {
  switch (K) {
  case 1: return 10;
  case 2: return 100;
  case 3: return 1000;
  default: return 1;
  }
}

void RegListFromPairs(QIODevice &Pairs, QIODevice &List) {
  Pairs.seek(0);
  List.seek(0);
  if (auto *b = qobject_cast<QBuffer *>(&List))
    b->buffer().clear();
  const QByteArray data = Pairs.readAll();
  for (qsizetype i = 0; i + 1 < data.size(); i += 4)
    List.write(data.constData() + i, 2);
}

void StreamWriteWord(QIODevice &Stream, int Value) {
  const char b[2] = {char(Value & 0xFF), char((Value >> 8) & 0xFF)};
  Stream.write(b, 2);
}

void StreamWriteByte(QIODevice &Stream, uint8_t B) { Stream.write(reinterpret_cast<const char *>(&B), 1); }

void StreamWriteChar(QIODevice &Stream, const QString &Text, int Pos) {
  const QByteArray codes = TModbus::DecodeChars(Text);
  StreamWriteByte(Stream, Pos >= 1 && Pos <= codes.size() ? uint8_t(codes[Pos - 1]) : 0);
}

void StreamWritePairs(QIODevice &Stream, const TRegWrites &Writes) {
  for (const TRegWrite &w : Writes) {
    StreamWriteWord(Stream, w.first);
    StreamWriteWord(Stream, w.second);
  }
}

TParamCodec::TParamCodec(const IXXMLNode &Node) {
  if (!Node)
    return;
  const QString name = Node->GetNodeName();
  if (name == DX_PARAM_NUM || name == DX_PARAM_NUMMVP || name == DX_PARAM_NUMMVS)
    Kind = TParamKind::Num;
  else if (name == DX_PARAM_ENUM)
    Kind = TParamKind::Enum;
  else if (name == DX_PARAM_CHAR)
    Kind = TParamKind::Char;
  Reg = CheckedCast<uint16_t>(Node->GetIntNodeDef(DX_MREG, -1));
  WordCount = CheckedCast<uint8_t>(Node->GetIntNodeDef(DX_WORD_COUNT, 1));
  Koef = CheckedCast<uint8_t>(Node->GetIntNodeDef(DX_WORD_KOEF, 0));
  PasswdChar = Node->GetIntNodeDef(DX_BYTE_PASSWD_CHAR, 0);
  Access = Node->GetIntNodeDef(DX_MODBUS_ACC, 0);
  Name = Node->GetStrNodeDef(DXQ_NAME, QString());
  Min = Node->GetIntNodeDef(DX_WORD_MIN, 0);
  Max = Node->GetIntNodeDef(DX_WORD_MAX, 65535);
  if (Kind == TParamKind::Enum) {
    const IXXMLNodeList values = Node->SelectNodes(DXQ_VALUE_TEXTS);
    for (int i = 0; i < values->GetCount(); ++i)
      Items << values->GetItem(i)->GetText();
  }
}

QByteArray TParamCodec::DeviceCodes(const TModbus &Image) const {
  // High byte first, up to the first zero byte, as the page shows texts.
  QByteArray codes;
  for (int i = 0; i < WordCount; ++i) {
    const uint16_t w = Image.GetWord(Reg + i);
    if ((w >> 8) == 0)
      break;
    codes.append(char(w >> 8));
    if ((w & 0xFF) == 0)
      break;
    codes.append(char(w & 0xFF));
  }
  return codes;
}

QString TParamCodec::Show(const TModbus &Image) const {
  if (Kind == TParamKind::Other || !Image.IsValid(Reg))
    return QString();
  const uint16_t w = Image.GetWord(Reg);
  switch (Kind) {
  case TParamKind::Enum:
    return w < Items.size() ? Items[w] : QStringLiteral("N/D");
  case TParamKind::Num:
    return ShowWord(w);
  case TParamKind::Char:
    return DeviceToProgram(DeviceCodes(Image));
  default:
    return QString();
  }
}

QString TParamCodec::ShowWord(uint16_t W) const {
  return Koef == 0 ? QString::number(W) : FormatFixed(Koef, double(W) / KoefFactor(uint8_t(Koef)));
}

uint16_t TParamCodec::ParseNumber(const QString &Text) const {
  double w = 0;
  if (Koef == 0) {
    int v = 0;
    if (!TryStrToInt(Text, v))
      throw EKvError(NotNumberText(Text));
    w = v;
  } else {
    double v = 0;
    if (!TryStrToFloat(Text, v))
      throw EKvError(NotNumberText(Text));
    // Half to the even neighbour: 0.125 with two decimals is 12.
    w = std::nearbyint(v * KoefFactor(uint8_t(Koef)));
  }
  if (!(w >= 0 && w <= 65535))
    throw EKvRange(OutOfRangeText(Text, ShowWord(0), ShowWord(65535)));
  return uint16_t(w);
}

bool TParamCodec::MatchesDevice(const QString &Text, const TModbus &Image) const {
  if (Kind == TParamKind::Other)
    return false;
  if (!Image.IsValid(Reg))
    return Text.isEmpty();
  const uint16_t w = Image.GetWord(Reg);
  switch (Kind) {
  case TParamKind::Enum:
    return Items.indexOf(Text) == w;
  case TParamKind::Num:
    try {
      return ParseNumber(Text) == w;
    } catch (const EKvError &) {
      return false;
    }
  case TParamKind::Char:
    return TModbus::DecodeChars(Text).left(2 * WordCount) == DeviceCodes(Image);
  default:
    return false;
  }
}

TRegWrites TParamCodec::PackText(int Reg, int Count, const QString &Text) {
  const QByteArray codes = TModbus::DecodeChars(Text);
  const auto code = [&codes](int i) { return i < codes.size() ? uint8_t(codes[i]) : uint8_t(0); };
  TRegWrites out;
  for (int i = 0; i < Count; ++i)
    out.emplace_back(CheckedCast<uint16_t>(Reg + i), uint16_t(code(2 * i) | code(2 * i + 1) << 8));
  return out;
}

TRegWrites TParamCodec::EditWrites(const QString &Text) const {
  switch (Kind) {
  case TParamKind::Char:
    return PackText(Reg, WordCount, Text);
  case TParamKind::Enum: {
    int v = 0;
    if (!TryStrToInt(Text, v))
      throw EKvError(NotNumberText(Text));
    return {{uint16_t(Reg), CheckedCast<uint16_t>(v)}};
  }
  case TParamKind::Num:
    return {{uint16_t(Reg), ParseNumber(Text)}};
  default:
    return {};
  }
}

TRegWrites TParamCodec::PendingWrites(const QString &Text, const TModbus &Image) const {
  if (Kind == TParamKind::Other || !Image.IsValid(Reg) || MatchesDevice(Text, Image))
    return {};
  if (Kind == TParamKind::Enum) {
    const qsizetype i = Items.indexOf(Text);
    return i < 0 ? TRegWrites() : TRegWrites{{uint16_t(Reg), uint16_t(i)}};
  }
  return EditWrites(Text);
}
