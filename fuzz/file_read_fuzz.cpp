// Device files read through the IO chains' read-file step, with the device's
// file taken from the fuzz input and served frame by frame by a fake device
// front: plain frames, a descriptor image, the zlib container (length, MD5,
// zlib stream) and the frame ring of the event records. A read that ends well
// must have saved exactly what the device holds (the container checked here
// with its own MD5 and inflated with zlib itself); a read that fails must
// leave the earlier local files as they were, and nothing unchecked in the
// cache.
#include "uErrors.h"
#include "uIOChain3.h"
#include "uIOChainFile.h"
#include "uModbusTools.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <unistd.h>
#include <zlib.h>

namespace {
[[noreturn]] void Fail(const char *What) {
  std::fprintf(stderr, "file read invariant broken: %s\n", What);
  std::abort();
}

class TFakeFront : public TDeviceFront {
public:
  void SetDeviceAddr(uint8_t) override {}
  std::deque<QByteArray> Pending;

protected:
  void Queue(const uint8_t *Data, int Count) override {
    Pending.emplace_back(reinterpret_cast<const char *>(Data), Count);
  }
};

QByteArray ReadAll(const QString &Path) {
  QFile f(Path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<none>");
}

void Put(const QString &Path, const QByteArray &Bytes) {
  QFile f(Path);
  if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(Bytes) != Bytes.size())
    Fail("cannot prepare a local file");
}

QByteArray Md5(const QByteArray &B) { return QCryptographicHash::hash(B, QCryptographicHash::Md5); }

// zlib's own one-shot inflate; empty optional on failure.
bool Inflate(const QByteArray &Stream, QByteArray &Out) {
  for (uLongf cap = 1024; cap <= (64u << 20); cap *= 4) {
    QByteArray buf(qsizetype(cap), '\0');
    uLongf size = cap;
    const int rc = uncompress(reinterpret_cast<Bytef *>(buf.data()), &size,
                              reinterpret_cast<const Bytef *>(Stream.constData()), uLong(Stream.size()));
    if (rc == Z_OK) {
      buf.resize(qsizetype(size));
      Out = buf;
      return true;
    }
    if (rc != Z_BUF_ERROR)
      return false;
  }
  return false;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  static int argc = 1;
  static char name[] = "file_read_fuzz";
  static char *argv[] = {name, nullptr};
  static QCoreApplication *app = new QCoreApplication(argc, argv);
  (void)app;
  static const QString work = QStringLiteral("%1/kv_file_read_fuzz_%2").arg(QDir("/dev/shm").exists() ? "/dev/shm" : QDir::tempPath()).arg(::getpid());
  if (Size < 3)
    return 0;
  const int type = Data[0] % 4;
  const int frameSize = type == 2 ? 21 + Data[1] % 64 : 1 + Data[1] % 64;
  const int ringFrames = 1 + Data[2] % 16;
  const QByteArray device(reinterpret_cast<const char *>(Data + 3), qsizetype(Size - 3));
  auto frame = [&](int F) {
    QByteArray out = device.mid(qsizetype(F) * frameSize, frameSize);
    out.append(QByteArray(frameSize - out.size(), '\0'));
    return out;
  };

  QDir(work).removeRecursively();
  QDir().mkpath(work);
  const QString path = work + "/out.bin";
  Put(path, "OLD");
  Put(path + ".z", "OLDZ");

  TFakeFront front;
  bool done = false, failed = false;
  {
    TIOChainGen gen;
    gen.setWorkDir(work);
    gen.setDeviceFront(&front);
    TIOChainList3 &chain = gen.newList();
    chain.setFrameSize(uint16_t(frameSize)).readFile(5, uint8_t(type), path);
    if (type == 3)
      CastIOChain3readFile(chain.Step(1))->setFrameLimit(uint16_t(ringFrames));
    chain.exec([&] { done = true; }).setEvent(1, [&](TIOChain3 *, const QList<int> &) { failed = true; });
    gen.setOnMessage([&](const QString &) { failed = true; });
    try {
      chain.run();
    } catch (const EKvError &) {
      failed = true;
    }
    for (int answered = 0; !front.Pending.empty() && answered < 300; ++answered) {
      const QByteArray r = front.Pending.front();
      front.Pending.pop_front();
      QByteArray a = r.mid(2, 18);
      a.append(char(0)).append(char(0));
      if (uint8_t(r[18]) == bcReadFileFrame) {
        const int f = uint8_t(r[21]) | (uint8_t(r[22]) << 8);
        a += r.mid(20, 3) + frame(f);
      }
      front.Deliver(a);
    }
    if (!front.Pending.empty())
      failed = true; // a read that goes on for ever would be a hang; ended here
  }
  const QByteArray out = ReadAll(path);
  const QByteArray outZ = ReadAll(path + ".z");
  for (const QFileInfo &c : QDir(work + "/cache").entryInfoList(QDir::Files))
    if (type == 2 && Md5(ReadAll(c.filePath())).toHex().toUpper() != c.fileName().toLatin1())
      Fail("a cache entry does not match its key");
  if (!done) {
    if (out != "OLD" || outZ != "OLDZ")
      Fail("a failed read changed the local file");
    return 0;
  }
  switch (type) {
  case 0:
    if (out != frame(0))
      Fail("a plain read saved other bytes than the device's frame");
    break;
  case 2: {
    const QByteArray head = frame(0);
    const qint64 payload = qint64(uint8_t(head[0])) | (qint64(uint8_t(head[1])) << 8) |
                           (qint64(uint8_t(head[2])) << 16) | (qint64(uint8_t(head[3])) << 24);
    QByteArray whole;
    for (int f = 0; whole.size() < ZContainerHeadBytes + payload; ++f)
      whole += frame(f);
    const QByteArray body = whole.mid(ZContainerHeadBytes, payload);
    QByteArray inflated;
    if (Md5(body) != head.mid(4, 16))
      Fail("a container whose MD5 does not match was taken");
    if (!Inflate(body, inflated) || inflated != out)
      Fail("the saved file is not the container's payload inflated");
    if (outZ != body)
      Fail("the saved .z file is not the container's payload");
    break;
  }
  case 3:
    if (out.size() % frameSize != 0)
      Fail("a ring read saved a partial frame");
    for (qsizetype at = 0; at < out.size(); at += frameSize) {
      bool found = false;
      for (int f = 0; f < ringFrames && !found; ++f)
        found = out.mid(at, frameSize) == frame(f);
      if (!found)
        Fail("a ring read saved a frame the device does not hold");
    }
    break;
  default:
    if (out != "OLD" && !device.leftJustified(out.size(), '\0', true).startsWith(out))
      Fail("a descriptor read saved other bytes than the device's image");
    break;
  }
  return 0;
}
