#include "uMultipleFileStream.h"

#include "crc.h"
#include "uErrors.h"
#include "uFiles.h"
#include "uTextCodec.h"

#include <QtEndian>

namespace {

template <typename T> void AppendLe(QByteArray &Out, T Value) {
  char b[sizeof(T)];
  qToLittleEndian(Value, b);
  Out.append(b, sizeof(T));
}

// Reads forward through the project bytes; every shortfall is "pack error".
class TRecordReader {
public:
  explicit TRecordReader(const QByteArray &Bytes) : FBytes(Bytes) {}
  QByteArray Take(qint64 Count) {
    if (Count < 0 || Count > FBytes.size() - FPos)
      throw EKvFormat("pack error");
    const QByteArray out = FBytes.mid(FPos, Count);
    FPos += Count;
    return out;
  }
  template <typename T> T TakeLe() { return qFromLittleEndian<T>(Take(sizeof(T)).constData()); }

private:
  const QByteArray &FBytes;
  qint64 FPos = 0;
};

} // namespace

QByteArray PackRecords(const QList<std::pair<QString, QByteArray>> &Files) {
  QByteArray out;
  for (const auto &[name, data] : Files) {
    const QByteArray n = ToWin1251(name);
    AppendLe(out, CheckedCast<uint16_t>(n.size()));
    out += n;
    AppendLe(out, CheckedCast<uint32_t>(data.size()));
    out += data;
    out += BytesMD5(data);
  }
  return out;
}

QList<QByteArray> UnpackRecords(const QByteArray &Bytes, const QStringList &Names) {
  TRecordReader r(Bytes);
  QList<QByteArray> out;
  for (const QString &expected : Names) {
    const QByteArray name = r.Take(r.TakeLe<uint16_t>());
    if (name != ToWin1251(expected))
      throw EKvFormat("pack error");
    QByteArray data = r.Take(r.TakeLe<uint32_t>());
    if (r.Take(16) != BytesMD5(data))
      throw EKvFormat("invalid HashValue");
    out.append(std::move(data));
  }
  return out;
}

void TMultipleFileStream::Pack(const QStringList &Names) const {
  QList<std::pair<QString, QByteArray>> files;
  for (const QString &name : Names)
    files.append({name, LoadFileBytes(ResolveFileNameCI(FBaseDir, name))});
  SaveFileBytes(FFileName, PackRecords(files));
}

void TMultipleFileStream::Unpack(const QStringList &Names) const {
  const QList<QByteArray> data = UnpackRecords(LoadFileBytes(FFileName), Names);
  for (int i = 0; i < Names.size(); ++i)
    SaveFileBytes(ResolveFileNameCI(FBaseDir, Names[i]), data[i]);
}
