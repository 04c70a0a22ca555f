#pragma once
// The application log: lines "hh.nn.ss.zzz LEVEL text", kept in memory (at most
// 10000 lines), appended to the log file as they come so that a crash loses
// nothing, and shown in the log pane when one is attached.
#include <QString>
#include <QStringList>
#include <functional>
#include <mutex>

class TLogger {
public:
  enum TLevel { lvInfo = 0, lvError = 1, lvDebug = 2 };
  // A pane shows lines as they come: (line, level). It is attached by the main window.
  using TSink = std::function<void(const QString &Line, int Level)>;

  TLogger();
  ~TLogger();

  // Opens FileName for appending (folder + program name + ".log") and logs
  // "Application started". Before Open lines are only kept in memory.
  void Open(const QString &FileName);
  // Logs "Application stopped" and closes the file. Safe to call twice.
  void Close();

  void Info(const QString &Text) { Write(lvInfo, Text); }
  void Error(const QString &Text) { Write(lvError, Text); }
  void Debug(const QString &Text) { Write(lvDebug, Text); }
  void Write(int Level, const QString &Text);

  // Attaches (or with an empty function detaches) the log pane; the pane first
  // receives every line kept so far.
  void SetSink(TSink Sink);

  QStringList Lines() const;
  QString FileName() const;
  static QString LevelName(int Level);

private:
  mutable std::mutex FLock;
  QStringList FLines;
  QString FFileName;
  int FFd = -1;
  TSink FSink;
};

// The process-wide log. Safe to use from any thread.
TLogger &Logger();
