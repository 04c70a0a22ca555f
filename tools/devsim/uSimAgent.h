#pragma once
// A minimal gateway agent for tests: an HTTP server on 127.0.0.1 (any free
// port), on a thread of its own, answering the two data queries of the agent
// dialog from the channel and unit table given, in the agent's notation
// (keys without quotes). Other paths get 404. It can instead send a given raw
// body, or never answer at all.
#include <QByteArray>
#include <QList>
#include <QString>
#include <memory>

class QThread;

struct TSimAgentChannel {
  int Id = 0;
  int Port = 0; // the COM number; 0: the channel is not in service
  QString Comment;
};

struct TSimAgentUnit {
  int ChannelId = 0;
  QString Name;
  int ComAddress = 0;
};

class TSimAgent {
public:
  TSimAgent();
  ~TSimAgent();
  TSimAgent(const TSimAgent &) = delete;
  TSimAgent &operator=(const TSimAgent &) = delete;

  // What the agent serves; set before Start.
  QList<TSimAgentChannel> Channels;
  QList<TSimAgentUnit> Units;
  // Not empty: every data query gets this body (with ContentType) instead.
  QByteArray RawBody, ContentType = "application/json; charset=utf-8";
  // Requests are read and never answered.
  bool Silent = false;

  // Listens on 127.0.0.1 and serves. Throws EKvError when it cannot listen.
  void Start();
  void Stop();
  // "http://127.0.0.1:PORT/"
  QString BaseUrl() const;
  // The body of a data query as the agent writes it; empty for another path.
  QByteArray Answer(const QString &Path) const;

private:
  class TWorker;
  std::unique_ptr<QThread> FThread;
  TWorker *FWorker = nullptr; // lives on FThread
  quint16 FPort = 0;
};
