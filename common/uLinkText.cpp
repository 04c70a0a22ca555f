#include "uLinkText.h"

#include "oi.h"

#include <QRegularExpression>
#include <array>

namespace {

// The more particular of two templates that match the same text comes first.
constexpr std::array<const char *, 9> Templates = {
    LinkTexts::NoAnswer,       LinkTexts::ShortAnswer,   LinkTexts::BadCrc,       LinkTexts::BadAnswer,
    LinkTexts::ConnectionLost, LinkTexts::CannotConnect, LinkTexts::PortNoAccess, LinkTexts::PortUnavailable,
    LinkTexts::DeviceError,
};

std::function<QString(const QString &)> &Translator() {
  static std::function<QString(const QString &)> t;
  return t;
}

QString Translate(const QString &Text) {
  const auto &t = Translator();
  if (!t)
    return Text;
  const QString out = t(Text);
  return out.isEmpty() ? Text : out;
}

// The template with each "%N" standing for any text; captures in the order of N.
QRegularExpression PatternOf(const QString &Template) {
  static const QRegularExpression marker(QStringLiteral("%\\d"));
  QStringList pieces;
  for (const QString &p : Template.split(marker))
    pieces << QRegularExpression::escape(p);
  return QRegularExpression(QStringLiteral("\\A") + pieces.join(QStringLiteral("(.*)")) + QStringLiteral("\\z"),
                            QRegularExpression::DotMatchesEverythingOption);
}

// Fills a (translated) template with its arguments at once, so that an
// argument holding "%2" (a system's reason) is not filled in itself.
QString Fill(const QString &Template, const QStringList &Args) {
  switch (Args.size()) {
  case 0:
    return Template;
  case 1:
    return Template.arg(Args[0]);
  default:
    return Template.arg(Args[0], Args[1]);
  }
}

} // namespace

QString DeviceErrorText(uint8_t Code) {
  return QString::fromUtf8(LinkTexts::DeviceError).arg(Code, 2, 16, QLatin1Char('0'));
}

QString LinkFailureText(uint8_t Status, const QString &Cause) {
  if (!Cause.isEmpty())
    return Cause;
  if (Status == oisUnknown || Status == oisBadCI)
    return QString::fromUtf8(LinkTexts::NoAnswer);
  return DeviceErrorText(Status);
}

QString LocalLinkText(const QString &RussianText) {
  for (const char *t : Templates) {
    const QString key = QString::fromUtf8(t);
    const QRegularExpressionMatch m = PatternOf(key).match(RussianText);
    if (!m.hasMatch())
      continue;
    QStringList args = m.capturedTexts();
    args.removeFirst();
    return Fill(Translate(key), args);
  }
  return Translate(RussianText);
}

bool IsLinkFailureText(const QString &Text) {
  for (const char *t : Templates) {
    const QString key = QString::fromUtf8(t);
    if (PatternOf(key).match(Text).hasMatch() || PatternOf(Translate(key)).match(Text).hasMatch())
      return true;
  }
  return false;
}

void SetLinkTextTranslator(std::function<QString(const QString &)> Translator_) {
  Translator() = std::move(Translator_);
}
