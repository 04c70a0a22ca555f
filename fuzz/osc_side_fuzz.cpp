// Any bytes as an oscillogram's side file, for a record of three channels:
// an error of ours, no file (settings untouched), or settings in which every
// channel's events string has one character per kept event.
#include "uComtrade.h"
#include "uErrors.h"
#include "uOscSideFile.h"

#include <QFile>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {
[[noreturn]] void Fail(const char *What) {
  std::fprintf(stderr, "side file invariant broken: %s\n", What);
  std::abort();
}

const TComtradeConfig &Config() {
  static TComtradeConfig *config = [] {
    auto *c = new TComtradeConfig;
    QString warning;
    c->LoadFromBytes("S,D,1999\n3,2A,1D\n1,Ia,a,,A,0.01,0,0,-32768,32767,1,1,S\n"
                     "2,Ub,b,,kV,0.01,0,0,-32768,32767,1,1,S\n1,K,,,0\n50\n1\n1800,1799\n"
                     "14/05/2024,10:00:00.000\n14/05/2024,10:00:01.000\nASCII\n1\n",
                     "f.cfg", warning);
    return c;
  }();
  return *config;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  const QString path = QStringLiteral("/tmp/kv_osc_side_fuzz_%1.xml").arg(::getpid());
  {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(reinterpret_cast<const char *>(Data), qint64(Size)) != qint64(Size))
      Fail("no scratch file");
  }
  TOscViewSettings view;
  std::vector<TOscChannelSettings> channels(3);
  std::vector<TOscChannelSettings *> pointers;
  for (TOscChannelSettings &c : channels)
    pointers.push_back(&c);
  TOscEventList events;
  try {
    // A document that does not parse reads as no file: nothing changed.
    if (!LoadOscSideFile(path, QString(), Config(), 1799, view, pointers, events)) {
      if (!events.empty() || view.AnalogHeight != TOscViewSettings().AnalogHeight || !channels[0].Events.isEmpty())
        Fail("a side file read as missing changed the settings");
      return 0;
    }
  } catch (const EKvError &) {
    return 0;
  }
  for (const TOscChannelSettings &c : channels)
    if (c.Events.size() != qsizetype(events.size()))
      Fail("a channel's events string does not match the kept events");
  if (view.PhasorPanelWidth <= 0)
    Fail("a phasor panel width that is not positive");
  return 0;
}
