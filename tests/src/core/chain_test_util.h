#pragma once
// Shared by the chain tests: a fake device front that captures records and
// answers them in the answer format, request and result streams, error texts.
#include "../../common/uErrorOf.h"
#include "../../common/uTestLoop.h"

#include <QBuffer>
#include <QCoreApplication>
#include <functional>
#include <vector>

#include "uErrors.h"
#include "uIOChain3.h"

inline QCoreApplication &App() {
  // With TZ unset glibc sets its time zone up again at every local-time
  // conversion (the log's clock on this thread, the clock records on the
  // worker's), under a lock of its own that ThreadSanitizer cannot see; a
  // fixed zone makes those conversions read the set-up only.
  static const bool zone = qputenv("TZ", "UTC");
  (void)zone;
  static int argc = 1;
  static char name[] = "chain_test";
  static char *argv[] = {name, nullptr};
  static QCoreApplication app(argc, argv);
  return app;
}

inline void Pump() {
  App();
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

class TFakeFront : public TDeviceFront {
public:
  void SetDeviceAddr(uint8_t Addr) override { DeviceAddr = Addr; }
  std::vector<QByteArray> Sent;
  std::vector<TReplyId> Forgotten; // ids whose unsent records the worker would drop
  int DeviceAddr = -1;

  // The answer to record Index: its bytes 2..19, flag, status, payload.
  void Answer(size_t Index, const QByteArray &Payload, uint8_t Status = 0, uint8_t Flag = 0) {
    QByteArray a = Sent.at(Index).mid(2, 18);
    a.append(char(Flag)).append(char(Status));
    Deliver(a + Payload);
  }
  // The answer to the last record.
  void Answer(const QByteArray &Payload) { Answer(Sent.size() - 1, Payload); }
  uint8_t Command(size_t Index) const { return uint8_t(Sent.at(Index).at(18)); }
  QByteArray Payload(size_t Index) const { return Sent.at(Index).mid(20); }
  // Frame number of the last frame record.
  int LastFrame() const {
    const QByteArray p = Payload(Sent.size() - 1);
    return uint8_t(p[1]) | (uint8_t(p[2]) << 8);
  }
  // Answers every read-frame record from Device (frames of FrameSize, zeros
  // past its end) until the chain stops asking; returns the frames asked for.
  std::vector<int> Serve(uint8_t FileNo, const QByteArray &Device, int FrameSize) {
    std::vector<int> frames;
    // Capped: a step that never stops asking fails the test instead of hanging it.
    while (!Sent.empty() && Command(Sent.size() - 1) == bcReadFileFrame && frames.size() < 1000) {
      const size_t before = Sent.size();
      const int f = LastFrame();
      frames.push_back(f);
      QByteArray data = Device.mid(qsizetype(f) * FrameSize, FrameSize);
      data.resize(FrameSize, '\0');
      Answer(Bytes({FileNo, f & 0xFF, f >> 8}) + data);
      if (Sent.size() == before)
        break; // the step is done, or the chain has ended
    }
    return frames;
  }

protected:
  void Queue(const uint8_t *Data, int Count) override {
    Sent.emplace_back(reinterpret_cast<const char *>(Data), Count);
  }
  void Forget(TReplyId Id) override { Forgotten.push_back(Id); }
};

// Little-endian words, as register lists and answers hold them.
inline QByteArray Words(std::initializer_list<int> List) {
  QByteArray out;
  for (int w : List)
    out.append(char(w & 0xFF)).append(char(w >> 8));
  return out;
}

// A request stream over Bytes and an empty result stream, both open.
struct TIo {
  explicit TIo(const QByteArray &Bytes = {}) : Data(Bytes) {
    In.setBuffer(&Data);
    In.open(QIODevice::ReadOnly);
    Out.open(QIODevice::ReadWrite);
  }
  QByteArray Data;
  QBuffer In, Out;
};
