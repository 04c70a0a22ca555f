#include "uAgentClient.h"

#include "uErrors.h"
#include "uJsonParser.h"
#include "uTextCodec.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QTimer>

QString DecodeAgentAnswer(const QByteArray &Body, const QByteArray &ContentType) {
  const QRegularExpressionMatch m =
      QRegularExpression(QStringLiteral(R"(charset\s*=\s*"?([^";\s]+))"), QRegularExpression::CaseInsensitiveOption)
          .match(QString::fromLatin1(ContentType));
  if (m.hasMatch()) {
    const QString charset = m.captured(1).toLower();
    if (charset == "windows-1251" || charset == "cp1251")
      return FromWin1251(Body);
    QStringDecoder decoder(charset.toLatin1().constData());
    if (decoder.isValid())
      return decoder.decode(Body);
  }
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  const QString text = utf8.decode(Body);
  return utf8.hasError() ? FromWin1251(Body) : text;
}

TAgentClient::TAgentClient(const QString &BaseURL, int TimeoutMs)
    : FBaseURL(BaseURL), FTimeoutMs(TimeoutMs), FHttp(std::make_unique<QNetworkAccessManager>()) {}

TAgentClient::~TAgentClient() = default;

IXXMLDocument TAgentClient::Get(const QString &Path) {
  const QString url = FBaseURL + Path;
  QNetworkRequest request{QUrl(url)};
  request.setRawHeader("Connection", "close");
  std::unique_ptr<QNetworkReply> reply(FHttp->get(request));
  QEventLoop loop;
  QTimer timer;
  timer.setSingleShot(true);
  bool timedOut = false;
  QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
  QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
    timedOut = true;
    loop.quit();
  });
  timer.start(FTimeoutMs);
  if (!reply->isFinished())
    loop.exec(QEventLoop::ExcludeUserInputEvents);
  if (timedOut) {
    reply->abort();
    throw EKvTimeout(QStringLiteral("%1: no answer within %2 ms").arg(url).arg(FTimeoutMs));
  }
  if (reply->error() != QNetworkReply::NoError)
    throw EKvError(QStringLiteral("%1: %2").arg(url, reply->errorString()));
  return TJsonParser::Parse(DecodeAgentAnswer(reply->readAll(), reply->header(QNetworkRequest::ContentTypeHeader)
                                                                     .toString()
                                                                     .toLatin1()));
}
