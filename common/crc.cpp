#include "crc.h"
#include "uErrors.h"

#include <QCryptographicHash>
#include <QFile>
#include <QRegularExpression>
#include <array>

namespace {

// Table-driven reflected CRC-16 (polynomial 0xA001), built once.
std::array<uint16_t, 256> MakeCrc16Table() {
  std::array<uint16_t, 256> t{};
  for (int i = 0; i < 256; ++i) {
    uint16_t c = uint16_t(i);
    for (int k = 0; k < 8; ++k)
      c = (c & 1) ? uint16_t((c >> 1) ^ 0xA001) : uint16_t(c >> 1);
    t[size_t(i)] = c;
  }
  return t;
}

std::array<uint32_t, 256> MakeCrc32Table() {
  std::array<uint32_t, 256> t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k)
      c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : (c >> 1);
    t[i] = c;
  }
  return t;
}

const std::array<uint16_t, 256> &Crc16Table() {
  static const auto t = MakeCrc16Table();
  return t;
}
const std::array<uint32_t, 256> &Crc32Table() {
  static const auto t = MakeCrc32Table();
  return t;
}

} // namespace

uint16_t Crc16(const void *Buf, int Count) {
  uint16_t crc = 0xFFFF;
  const auto *p = static_cast<const uint8_t *>(Buf);
  const auto &t = Crc16Table();
  for (int i = 0; i < Count; ++i)
    crc = uint16_t((crc >> 8) ^ t[(crc ^ p[i]) & 0xFF]);
  // Swap so that a high-byte-first store puts the CRC's low byte on the wire first.
  return uint16_t((crc << 8) | (crc >> 8));
}

uint16_t StreamCrc16(QIODevice &AStream, qint64 Position, int Count) {
  if (Count >= 1024)
    throw EKvAssert("crc16 buffer overflow");
  const qint64 saved = AStream.pos();
  if (!AStream.seek(Position))
    throw EKvError("stream read error");
  const QByteArray data = AStream.read(Count);
  AStream.seek(saved);
  if (data.size() != Count)
    throw EKvError("stream read error");
  return Crc16(data);
}

uint32_t Crc32Update(uint32_t Crc, const void *Buf, size_t Count) {
  const auto *p = static_cast<const uint8_t *>(Buf);
  const auto &t = Crc32Table();
  uint32_t c = ~Crc;
  for (size_t i = 0; i < Count; ++i)
    c = t[(c ^ p[i]) & 0xFF] ^ (c >> 8);
  return ~c;
}

uint32_t Crc32(const QByteArray &Data) { return Crc32Update(0, Data.constData(), size_t(Data.size())); }

uint32_t StreamCrc32(QIODevice &AStream, qint64 Count) {
  const qint64 size = AStream.size();
  if (Count < 0)
    Count = size;
  if (Count > size)
    return 0xFFFFFFFFu;
  if (!AStream.seek(0))
    throw EKvError("stream read error");
  uint32_t crc = 0;
  qint64 left = Count - 1; // the last byte is deliberately not covered
  char buf[65536];
  while (left > 0) {
    const qint64 n = AStream.read(buf, std::min<qint64>(left, sizeof buf));
    if (n <= 0)
      throw EKvError("stream read error");
    crc = Crc32Update(crc, buf, size_t(n));
    left -= n;
  }
  if (Count > 0)
    AStream.read(buf, 1);
  return crc;
}

uint32_t FileCrc32(const QString &FileName) {
  QFile f(FileName);
  if (!f.open(QIODevice::ReadOnly))
    throw EKvError(QString("cannot open %1: %2").arg(FileName, f.errorString()));
  return StreamCrc32(f, -1);
}

QByteArray StreamMD5(QIODevice &AStream) {
  QCryptographicHash h(QCryptographicHash::Md5);
  h.addData(&AStream);
  return h.result();
}

QByteArray BytesMD5(QByteArrayView Bytes) { return QCryptographicHash::hash(Bytes, QCryptographicHash::Md5); }

QByteArray StreamRangeMD5(QIODevice &AStream, qint64 Count, qint64 Position) {
  const qint64 saved = AStream.pos();
  QCryptographicHash h(QCryptographicHash::Md5);
  if (AStream.seek(Position)) {
    char buf[65536];
    qint64 left = Count;
    while (left > 0) {
      const qint64 n = AStream.read(buf, std::min<qint64>(left, sizeof buf));
      if (n <= 0)
        break;
      h.addData(QByteArrayView(buf, n));
      left -= n;
    }
  }
  AStream.seek(saved);
  return h.result();
}

TStringArray RegExpMatch(const QString &Pattern, const QString &Text) {
  const QRegularExpression re(Pattern);
  if (!re.isValid())
    throw EKvError(QString("invalid regular expression %1: %2").arg(Pattern, re.errorString()));
  TStringArray groups;
  auto it = re.globalMatch(Text);
  while (it.hasNext()) {
    const auto m = it.next();
    // A pattern that can match nothing also matches at the end of the text;
    // such an empty match must not wipe the groups of a real one before it.
    if (m.capturedLength(0) == 0 && !groups.isEmpty())
      continue;
    groups.clear();
    for (int i = 1; i <= re.captureCount(); ++i)
      groups << m.captured(i);
  }
  return groups;
}
