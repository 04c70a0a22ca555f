#include "uLinkText.h"

#include "oi.h"

#include <QRegularExpression>
#include <array>

namespace {

// The more particular of two templates that match the same text comes first.
constexpr std::array<const char *, 11> Templates = {
    LinkTexts::NoAnswer,       LinkTexts::ShortAnswer,   LinkTexts::BadCrc,       LinkTexts::BadAnswer,
    LinkTexts::ConnectionLost, LinkTexts::CannotConnect, LinkTexts::PortNoAccess, LinkTexts::PortUnavailable,
    LinkTexts::DeviceBusy,     LinkTexts::DeviceError,   LinkTexts::NotSentReconnected,
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

} // namespace

QRegularExpression TextTemplatePattern(const QString &Template) {
  static const QRegularExpression marker(QStringLiteral("%\\d"));
  QStringList pieces;
  for (const QString &p : Template.split(marker))
    pieces << QRegularExpression::escape(p);
  return QRegularExpression(QStringLiteral("\\A") + pieces.join(QStringLiteral("(.*)")) + QStringLiteral("\\z"),
                            QRegularExpression::DotMatchesEverythingOption);
}

QString FillTextTemplate(const QString &Template, const QStringList &Args) {
  // One pass over the template, so that an argument holding "%2" (a system's
  // reason, a name) is not filled in itself.
  QString out;
  out.reserve(Template.size());
  for (qsizetype i = 0; i < Template.size(); ++i) {
    if (Template[i] == u'%' && i + 1 < Template.size()) {
      const int n = Template[i + 1].digitValue();
      if (n >= 1 && n <= Args.size()) {
        out += Args[n - 1];
        ++i;
        continue;
      }
    }
    out += Template[i];
  }
  return out;
}

QString DeviceErrorText(uint8_t Code) {
  // Busy is named: the engineer can wait, or ask the relay less often.
  if (Code == MB_EXCEPTION_BUSY)
    return QString::fromUtf8(LinkTexts::DeviceBusy);
  return QString::fromUtf8(LinkTexts::DeviceError).arg(Code, 2, 16, QLatin1Char('0'));
}

QString DeviceErrorCode(uint8_t Code) {
  return QStringLiteral("exception-%1").arg(Code, 2, 16, QLatin1Char('0'));
}

QString LinkFailureCode(uint8_t Status, const QString &Cause) {
  static const std::array<std::pair<const char *, const char *>, 9> byText = {{
      {LinkTexts::NoAnswer, LinkCodes::Timeout},
      {LinkTexts::ShortAnswer, LinkCodes::ShortAnswer},
      {LinkTexts::BadCrc, LinkCodes::BadCrc},
      {LinkTexts::BadAnswer, LinkCodes::WrongAnswer},
      {LinkTexts::ConnectionLost, LinkCodes::ConnectionLost},
      {LinkTexts::CannotConnect, LinkCodes::NoConnection},
      {LinkTexts::PortNoAccess, LinkCodes::PortUnavailable},
      {LinkTexts::PortUnavailable, LinkCodes::PortUnavailable},
      {LinkTexts::NotSentReconnected, LinkCodes::NotSent},
  }};
  for (const auto &[text, code] : byText)
    if (TextTemplatePattern(QString::fromUtf8(text)).match(Cause).hasMatch())
      return QString::fromLatin1(code);
  if (Cause == QString::fromUtf8(LinkTexts::DeviceBusy))
    return DeviceErrorCode(MB_EXCEPTION_BUSY);
  const QRegularExpressionMatch m = TextTemplatePattern(QString::fromUtf8(LinkTexts::DeviceError)).match(Cause);
  bool isHex = false;
  const uint code = m.hasMatch() ? m.captured(1).toUInt(&isHex, 16) : 0;
  if (isHex && code <= 0xFF)
    return DeviceErrorCode(uint8_t(code));
  if (!Cause.isEmpty())
    return QString::fromLatin1(LinkCodes::Failed);
  if (Status == oisUnknown || Status == oisBadCI)
    return QString::fromLatin1(LinkCodes::Timeout);
  return DeviceErrorCode(Status);
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
    const QRegularExpressionMatch m = TextTemplatePattern(key).match(RussianText);
    if (!m.hasMatch())
      continue;
    QStringList args = m.capturedTexts();
    args.removeFirst();
    return FillTextTemplate(Translate(key), args);
  }
  return Translate(RussianText);
}

bool IsLinkFailureText(const QString &Text) {
  for (const char *t : Templates) {
    const QString key = QString::fromUtf8(t);
    if (TextTemplatePattern(key).match(Text).hasMatch() || TextTemplatePattern(Translate(key)).match(Text).hasMatch())
      return true;
  }
  return false;
}

void SetLinkTextTranslator(std::function<QString(const QString &)> Translator_) {
  Translator() = std::move(Translator_);
}
