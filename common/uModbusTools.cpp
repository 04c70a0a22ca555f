#include "uModbusTools.h"

#include <cstring>

#include "uDateTime.h"
#include "uErrors.h"
#include "uLogger.h"

// ---------------------------------------------------------------- builder

TRequestBuilder::TRequestBuilder(TDeviceFront &AOwner) : FOwner(AOwner) {}

void TRequestBuilder::StartRecord(TReplyId Reply, uint8_t Command, uint8_t Tag,
                                  std::span<const uint8_t> Payload) {
  // The length field is one byte wide in the records the chains build first;
  // Put may extend a record past it afterwards.
  const size_t afterLength = RequestHeadSize - 2 + Payload.size();
  if (afterLength > 255)
    throw EKvRange("range check error: record of " + std::to_string(afterLength) + " bytes");
  std::memset(FBuffer, 0, RequestHeadSize);
  FBuffer[2] = uint8_t(Reply);
  FBuffer[3] = uint8_t(Reply >> 8);
  FBuffer[4] = uint8_t(Reply >> 16);
  FBuffer[5] = uint8_t(Reply >> 24);
  FBuffer[18] = Command;
  FBuffer[19] = Tag;
  if (!Payload.empty())
    std::memcpy(FBuffer + RequestHeadSize, Payload.data(), Payload.size());
  FIndex = RequestHeadSize + int(Payload.size());
}

void TRequestBuilder::StartRecord(TReplyId Reply, uint8_t Command, uint8_t Tag,
                                  std::initializer_list<uint8_t> Payload) {
  StartRecord(Reply, Command, Tag, std::span<const uint8_t>(Payload.begin(), Payload.size()));
}

void TRequestBuilder::Need(int Count) {
  if (FIndex + Count > RequestRecordSize)
    throw EKvRange("range check error: record index " + std::to_string(FIndex + Count - 1));
}

void TRequestBuilder::PutByte(uint8_t Value) {
  Need(1);
  FBuffer[FIndex++] = Value;
}

void TRequestBuilder::PutWord(uint16_t Value) {
  Need(2);
  FBuffer[FIndex++] = uint8_t(Value);
  FBuffer[FIndex++] = uint8_t(Value >> 8);
}

void TRequestBuilder::PutDword(uint32_t Value) {
  Need(4);
  for (int i = 0; i < 4; ++i)
    FBuffer[FIndex++] = uint8_t(Value >> (8 * i));
}

void TRequestBuilder::PutByteAt(uint8_t Value, int Index) {
  if (Index < 0 || Index >= FIndex)
    throw EKvRange("range check error: record index " + std::to_string(Index));
  FBuffer[Index] = Value;
}

void TRequestBuilder::PutStream(QIODevice &AStream, qint64 Count) {
  if (Count > AStream.size())
    Count = AStream.size();
  if (Count <= 0)
    return;
  Need(int(std::min<qint64>(Count, RequestRecordSize + 1)));
  const qint64 got = AStream.read(reinterpret_cast<char *>(FBuffer + FIndex), Count);
  if (got != Count)
    throw EKvError("Stream read error");
  FIndex += int(Count);
}

void TRequestBuilder::Send() {
  const int length = FIndex - 2;
  FBuffer[0] = uint8_t(length);
  FBuffer[1] = uint8_t(length >> 8);
  FOwner.SendArray(FBuffer, FIndex);
}

QByteArray TRequestBuilder::Record() const {
  return QByteArray(reinterpret_cast<const char *>(FBuffer), FIndex);
}

// ---------------------------------------------------------------- parser

TResponseParser::TResponseParser() : FBuffer(ResponseBufferSize, 0) {}

void TResponseParser::Fill(const QByteArray &Answer) {
  const size_t need = std::max<size_t>(ResponseBufferSize, size_t(Answer.size()) + 8);
  FBuffer.assign(need, 0);
  std::memcpy(FBuffer.data(), Answer.constData(), size_t(Answer.size()));
  FCount = int(Answer.size());
  FIndex = 0;
}

const uint8_t *TResponseParser::Take(int Size) {
  // Up to two bytes past the answer are tolerated: the reply code of old read
  // a trailing word that way. The buffer is zeroed there.
  if (FIndex < 0 || Size < 0 || qint64(FIndex) + Size > qint64(FCount) + 2 ||
      size_t(FIndex) + size_t(Size) > FBuffer.size())
    throw EKvProtocol("TResponseParser overflow");
  const uint8_t *p = FBuffer.data() + FIndex;
  FIndex += Size;
  return p;
}

uint8_t TResponseParser::ReadByte() { return *Take(1); }

uint16_t TResponseParser::ReadWord() {
  const uint8_t *p = Take(2);
  return uint16_t(p[0] | (p[1] << 8));
}

uint32_t TResponseParser::ReadDword() {
  const uint8_t *p = Take(4);
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

int32_t TResponseParser::ReadInteger() { return int32_t(ReadDword()); }

double TResponseParser::ReadDouble() {
  const uint8_t *p = Take(8);
  uint64_t bits = 0;
  for (int i = 7; i >= 0; --i)
    bits = (bits << 8) | p[i];
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

TDateTime TResponseParser::ReadDate() {
  const uint8_t *p = Take(7);
  TDateTime value = DeviceBaseDate;
  DecodeDeviceTime7(p, value);
  return value;
}

void TResponseParser::ReadBytes(void *Buffer, int Count) {
  const uint8_t *p = Take(Count);
  if (Count > 0)
    std::memcpy(Buffer, p, size_t(Count));
}

void TResponseParser::ReadToStream(QIODevice &AStream, int Count) {
  const uint8_t *p = Take(Count);
  if (Count > 0 && AStream.write(reinterpret_cast<const char *>(p), Count) != Count)
    throw EKvError("Stream write error");
}

int32_t TResponseParser::ReadIntegerAt(int AIndex) {
  const int saved = FIndex;
  if (AIndex >= 0)
    FIndex = AIndex;
  try {
    const int32_t value = ReadInteger();
    FIndex = saved;
    return value;
  } catch (...) {
    FIndex = saved;
    throw;
  }
}

TDateTime TResponseParser::ReadDateAt(int AIndex) {
  const int saved = FIndex;
  if (AIndex >= 0)
    FIndex = AIndex;
  try {
    const TDateTime value = ReadDate();
    FIndex = saved;
    return value;
  } catch (...) {
    FIndex = saved;
    throw;
  }
}

// ---------------------------------------------------------------- front

QString HexBytes(const uint8_t *Data, int Count) {
  static const char digits[] = "0123456789ABCDEF";
  QString out;
  out.reserve(Count * 3);
  for (int i = 0; i < Count; ++i) {
    out += QChar(digits[Data[i] >> 4]);
    out += QChar(digits[Data[i] & 15]);
    out += QChar(' ');
  }
  return out;
}

// The transport status by name, for an answer delivered without a cause.
static QString StatusName(int Status) {
  static const char *const names[] = {"oisReady",   "oisUnknown",       "oisBadPort", "oisBadCO",
                                      "oisBadCI",   "oisProtocolError", "oisBadCRC",  "oisErrorFlag"};
  if (Status >= 0 && Status < 8)
    return QString::fromLatin1(names[Status]);
  return QStringLiteral("status %1").arg(Status);
}

TDeviceFront::TDeviceFront() : FBuilder(*this) {}

TDeviceFront::~TDeviceFront() = default;

void TDeviceFront::SendArray(const uint8_t *Data, int Count) {
  if (Count < 0 || Count > 65535)
    throw EKvAssert("SendArray invalid count");
  Logger().Debug(QString::asprintf("Send array (%d) ", Count) + HexBytes(Data, Count));
  Queue(Data, Count);
}

TReplyId TDeviceFront::RegisterReply(TReplyMethod Method) {
  // Ids run upwards and wrap; one still in use is skipped, so an answer can
  // never reach a chain other than the one that sent its record.
  while (FNextId == 0 || FReplies.count(FNextId))
    ++FNextId;
  const TReplyId id = FNextId++;
  FReplies.emplace(id, std::move(Method));
  return id;
}

void TDeviceFront::UnregisterReply(TReplyId Id) { FReplies.erase(Id); }

void TDeviceFront::Deliver(const QByteArray &Answer, const QString &Cause) {
  FParser.Fill(Answer);
  const int count = FParser.Count();
  TAnswerHead head;
  TReplyId id = 0;
  try {
    id = FParser.ReadDword();
    FParser.ReadDword();
    FParser.ReadDword();
    FParser.ReadDword();
    head.Command = FParser.ReadByte();
    head.Tag = FParser.ReadByte();
    head.ErrorFlag = FParser.ReadByte();
    head.Status = FParser.ReadByte();
  } catch (const EKvError &e) {
    Logger().Error(QString("answer dropped: ") + e.Text());
    return;
  }
  const QString bytes = HexBytes(Answer);

  auto call = [&] {
    auto it = FReplies.find(id);
    if (it == FReplies.end()) {
      Logger().Debug(QString::asprintf("answer dropped: chain %u has ended", id));
      return;
    }
    // A copy: the reply may end its chain and so unregister itself.
    TReplyMethod method = it->second;
    try {
      method(FParser, head, FParser.Data());
    } catch (const std::exception &e) {
      // Delivery runs from the event loop: nothing above it could catch.
      Logger().Error(QString("reply failed: ") + QString::fromUtf8(e.what()));
    }
  };

  if (head.Command == bcScan) {
    Logger().Debug(QString::asprintf("Executed (%d) ", count) + bytes);
    call();
    Logger().Debug("Executed ready");
  } else if (head.Status != 0) {
    Logger().Error(QString::asprintf("device error %2.2X %2.2X ", head.Status, head.ErrorFlag) +
                   (Cause.isEmpty() ? StatusName(head.Status) : Cause));
    call();
  } else if (head.ErrorFlag != 0) {
    // Delivered all the same, so that the chain ends instead of waiting for ever.
    Logger().Error(QString::asprintf("Executed protocol error (%d) ", count) + bytes);
    call();
  } else {
    Logger().Debug(QString::asprintf("Executed start (%d) ", count) + bytes);
    call();
    Logger().Debug("Executed ready");
  }
}
