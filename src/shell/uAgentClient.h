#pragma once
// The agent's HTTP interface: a GET of the base URL plus a query, its answer
// decoded and read into an XML document. Synchronous on the main thread: the
// wait runs the event loop without user input. Main thread only.
#include "ixml.h"

#include <QByteArray>
#include <QString>
#include <memory>

class QNetworkAccessManager;

// Settings of the agent (section agentd) and the two queries of the dialog.
namespace AgentKeys {
inline const char *const Section = "agentd";
inline const char *const Url = "url", *const Host = "host", *const Port = "port";
inline const char *const DefaultUrl = "http://localhost:3030/";
inline const char *const DefaultHost = "localhost";
constexpr int DefaultPort = 2010;
inline const char *const ChannelQuery = "data?model=channel&fld=id,port,comment&flt=iu=1";
inline const char *const UnitQuery = "data?model=unit&fld=channelID,name,com_address,tcp_address,tcp_port&flt=iu=1";
} // namespace AgentKeys

// The answer's text: by the charset of ContentType when it names a known one,
// else UTF-8 when the bytes are valid UTF-8, else Windows-1251.
QString DecodeAgentAnswer(const QByteArray &Body, const QByteArray &ContentType);

class TAgentClient {
public:
  static constexpr int DefaultTimeoutMs = 5000;

  explicit TAgentClient(const QString &BaseURL, int TimeoutMs = DefaultTimeoutMs);
  ~TAgentClient();

  // The answer to GET BaseURL + Path. Throws EKvTimeout when no whole answer
  // came within the time-out, EKvError for an HTTP or network failure, and
  // the reader's EKvFormat errors.
  IXXMLDocument Get(const QString &Path);
  void SetTimeoutMs(int Value) { FTimeoutMs = Value; }

private:
  QString FBaseURL;
  int FTimeoutMs;
  std::unique_ptr<QNetworkAccessManager> FHttp;
};
