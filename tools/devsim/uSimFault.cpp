#include "uSimFault.h"

#include "uErrors.h"

#include <array>
#include <utility>

namespace {

struct TFaultName {
  TSimFaultKind Kind;
  const char *Name;
  bool HasValue;
};

constexpr std::array<TFaultName, 11> FaultNames{{
    {TSimFaultKind::None, "none", false},
    {TSimFaultKind::Exception, "exception", true},
    {TSimFaultKind::Silence, "silence", false},
    {TSimFaultKind::BadCrc, "bad-crc", false},
    {TSimFaultKind::OtherAddress, "other-address", true},
    {TSimFaultKind::OtherFunction, "other-function", true},
    {TSimFaultKind::ShortAnswer, "short", true},
    {TSimFaultKind::LateAnswer, "late", true},
    {TSimFaultKind::LostAnswer, "lost-answer", false},
    {TSimFaultKind::Unkept, "unkept", false},
    {TSimFaultKind::HeldBits, "held-bits", true},
}};

} // namespace

long ParseSimNumber(const QString &Text) {
  bool ok = false;
  const QString t = Text.trimmed();
  long v = t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) ? t.mid(2).toLong(&ok, 16)
                                                                   : t.toLong(&ok, 10);
  if (!ok || t.isEmpty())
    throw EKvError(QStringLiteral("invalid number: ") + Text);
  return v;
}

TSimFault ParseSimFault(const QString &Text) {
  const qsizetype eq = Text.indexOf(QLatin1Char('='));
  const QString name = eq < 0 ? Text : Text.left(eq);
  for (const TFaultName &f : FaultNames) {
    if (name != QLatin1String(f.Name))
      continue;
    if (f.HasValue != (eq >= 0))
      break;
    TSimFault fault;
    fault.Kind = f.Kind;
    if (f.HasValue) {
      long v = 0;
      try {
        v = ParseSimNumber(Text.mid(eq + 1));
      } catch (const EKvError &) {
        break;
      }
      const long max = f.Kind == TSimFaultKind::LateAnswer ? 3600000 : f.Kind == TSimFaultKind::HeldBits ? 0xFFFF : 255;
      if (v < 0 || v > max)
        break;
      fault.Value = int(v);
    }
    return fault;
  }
  throw EKvError(QStringLiteral("invalid fault: ") + Text);
}

TSimLossy ParseSimLossy(const QString &Text) {
  const qsizetype slash = Text.lastIndexOf(QLatin1Char('/'));
  try {
    if (slash > 0) {
      const TSimFault f = ParseSimFault(Text.left(slash));
      const long every = ParseSimNumber(Text.mid(slash + 1));
      const bool kindOk = f.Kind == TSimFaultKind::Silence || f.Kind == TSimFaultKind::BadCrc ||
                          f.Kind == TSimFaultKind::Exception;
      if (kindOk && every >= 1 && every <= 1000000)
        return TSimLossy{f.Kind, f.Value, int(every)};
    }
  } catch (const EKvError &) {
  }
  throw EKvError(QStringLiteral("invalid lossy line: ") + Text);
}

QString SimFaultName(TSimFaultKind Kind) {
  for (const TFaultName &f : FaultNames)
    if (f.Kind == Kind)
      return QLatin1String(f.Name);
  return QStringLiteral("?");
}
