#pragma once
// The code generator's script engine: JavaScript texts added one by one, a
// procedure run with one text argument, and the objects the generator scripts
// use to write their files (a FileSystemObject with text streams, Windows-1251).
// A new host per run; a watchdog thread interrupts a call that runs longer
// than the time-out. The scripts come from the device, so their files stay
// inside the work folder.
#include <QJSValue>
#include <QObject>
#include <functional>
#include <QString>
#include <QStringList>
#include <memory>

class QJSEngine;

class TScriptHost : public QObject {
  Q_OBJECT
public:
  // WorkFolder: where the scripts' files lie (must exist).
  explicit TScriptHost(const QString &WorkFolder, int TimeoutMs = 100000);
  ~TScriptHost() override;

  // Each throws EKvError after logging the six lines of the script error
  // ("Script error", "Source: ", "Description: ", "Text: ", "Line: ", "Column: 0").
  void AddCode(const QString &Text, const QString &Source);
  QString Eval(const QString &Expression);
  void Run(const QString &Procedure, const QString &Argument);

  QString WorkFolder() const { return FWorkFolder; }
  // The file a script name stands for. Throws "path outside the work folder: "
  // for an absolute name, "..", or a name that resolves outside (links too).
  QString ScriptPath(const QString &Name) const;
  // Called from script: `new ActiveXObject(ProgId)`.
  Q_INVOKABLE QJSValue CreateObject(const QString &ProgId);

private:
  QString FWorkFolder;
  int FTimeoutMs;
  std::unique_ptr<QJSEngine> FEngine;
  QJSValue Call(const std::function<QJSValue()> &Body, const QString &Source, const QString &Code);
  void Fail(const QJSValue &Error, const QString &Source, const QString &Code, bool TimedOut);
};

// The script's text stream: read whole at open, written through the save
// helper at Close (or when the host goes).
class TScriptTextStream : public QObject {
  Q_OBJECT
  Q_PROPERTY(bool AtEndOfStream READ AtEndOfStream)
public:
  TScriptTextStream(QObject *Parent, const QString &Path, const QString &Text, bool Writable);
  ~TScriptTextStream() override;
  bool AtEndOfStream() const { return FPos >= FText.size(); }
  Q_INVOKABLE void Write(const QString &Text);
  Q_INVOKABLE void WriteLine(const QString &Text = QString());
  Q_INVOKABLE void WriteBlankLines(int Count);
  Q_INVOKABLE QString ReadLine();
  Q_INVOKABLE QString ReadAll();
  Q_INVOKABLE void Close();

private:
  QString FPath, FText;
  // Writes the text through the save helper once; throws its error.
  void Flush();
  qsizetype FPos = 0;
  bool FWritable, FOpen = true;
};

class TScriptFileSystem : public QObject {
  Q_OBJECT
public:
  explicit TScriptFileSystem(TScriptHost *Host);
  Q_INVOKABLE QObject *CreateTextFile(const QString &Name, bool Overwrite = true);
  // Mode 1 reading, 2 writing, 8 appending.
  Q_INVOKABLE QObject *OpenTextFile(const QString &Name, int Mode = 1, bool Create = false);
  Q_INVOKABLE bool FileExists(const QString &Name);
  Q_INVOKABLE void DeleteFile(const QString &Name);

private:
  TScriptHost *FHost;
};

// Lets a double-quoted literal span lines: each line break inside one becomes
// "\n" + a new literal (blank lines inside vanish; the character after a
// rewritten break is passed over unexamined, as device scripts expect).
QString RewriteMultiLineStrings(const QString &Text);
