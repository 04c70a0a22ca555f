#include "uSimAgent.h"

#include "uErrors.h"

#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

namespace {
const char *const ChannelQuery = "data?model=channel&fld=id,port,comment&flt=iu=1";
const char *const UnitQuery = "data?model=unit&fld=channelID,name,com_address,tcp_address,tcp_port&flt=iu=1";

QByteArray Quoted(const QString &Text) { return '"' + Text.toUtf8() + '"'; }
} // namespace

class TSimAgent::TWorker : public QObject {
public:
  explicit TWorker(TSimAgent &Owner) : FOwner(Owner) {}

  quint16 Listen() {
    FServer = new QTcpServer(this);
    if (!FServer->listen(QHostAddress::LocalHost, 0))
      return 0;
    connect(FServer, &QTcpServer::newConnection, this, [this] {
      while (QTcpSocket *s = FServer->nextPendingConnection()) {
        s->setParent(this);
        connect(s, &QTcpSocket::readyRead, this, [this, s] { Serve(s); });
        connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
      }
    });
    return FServer->serverPort();
  }

  void Close() {
    FServer->close();
    for (QTcpSocket *s : findChildren<QTcpSocket *>())
      s->abort();
  }

private:
  void Serve(QTcpSocket *S) {
    QByteArray &in = FPending[S];
    in += S->readAll();
    const qsizetype end = in.indexOf("\r\n\r\n");
    if (end < 0 || FOwner.Silent)
      return;
    const QList<QByteArray> request = in.left(in.indexOf("\r\n")).split(' ');
    FPending.remove(S);
    QByteArray path = request.size() >= 2 ? request[1] : QByteArray();
    if (path.startsWith('/'))
      path.remove(0, 1);
    QByteArray body = FOwner.Answer(QString::fromUtf8(path));
    QByteArray head;
    if (request.value(0) != "GET" || body.isEmpty()) {
      body = "not found";
      head = "HTTP/1.1 404 Not Found\r\nContent-Type: text/plain\r\n";
    } else {
      if (!FOwner.RawBody.isEmpty())
        body = FOwner.RawBody;
      head = "HTTP/1.1 200 OK\r\nContent-Type: " + FOwner.ContentType + "\r\n";
    }
    head += "Content-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n";
    S->write(head + body);
    S->disconnectFromHost();
  }

  TSimAgent &FOwner;
  QTcpServer *FServer = nullptr;
  QHash<QTcpSocket *, QByteArray> FPending;
};

TSimAgent::TSimAgent() = default;

TSimAgent::~TSimAgent() { Stop(); }

void TSimAgent::Start() {
  FThread = std::make_unique<QThread>();
  FWorker = new TWorker(*this);
  FWorker->moveToThread(FThread.get());
  QObject::connect(FThread.get(), &QThread::finished, FWorker, &QObject::deleteLater);
  FThread->start();
  QMetaObject::invokeMethod(FWorker, [this] { FPort = FWorker->Listen(); }, Qt::BlockingQueuedConnection);
  if (FPort == 0) {
    Stop();
    throw EKvError("cannot listen on 127.0.0.1 for the agent");
  }
}

void TSimAgent::Stop() {
  if (!FThread)
    return;
  QMetaObject::invokeMethod(FWorker, [this] { FWorker->Close(); }, Qt::BlockingQueuedConnection);
  FThread->quit();
  FThread->wait();
  FThread.reset();
  FWorker = nullptr;
}

QString TSimAgent::BaseUrl() const { return QStringLiteral("http://127.0.0.1:%1/").arg(FPort); }

QByteArray TSimAgent::Answer(const QString &Path) const {
  QList<QByteArray> objects;
  if (Path == QLatin1String(ChannelQuery)) {
    for (const TSimAgentChannel &c : Channels)
      objects << "{id:" + QByteArray::number(c.Id) + ",port:" + QByteArray::number(c.Port) +
                     ",comment:" + Quoted(c.Comment) + "}";
  } else if (Path == QLatin1String(UnitQuery)) {
    for (const TSimAgentUnit &u : Units)
      objects << "{channelID:" + QByteArray::number(u.ChannelId) + ",name:" + Quoted(u.Name) +
                     ",com_address:" + QByteArray::number(u.ComAddress) + ",tcp_address:\"\",tcp_port:0}";
  } else {
    return {};
  }
  return "{data:[" + objects.join(",\n") + "]}\n";
}
