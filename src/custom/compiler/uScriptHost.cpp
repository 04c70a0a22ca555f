#include "uScriptHost.h"

#include "uErrors.h"
#include "uFiles.h"
#include "uLogger.h"
#include "uTextCodec.h"

#include <QDir>
#include <QFileInfo>
#include <QJSEngine>
#include <QJSValue>
#include <QVariant>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

// What the generator scripts expect of the platform's script engine beyond
// the language: ActiveXObject, and `description`/`number` on errors.
const char *const Prelude = R"(
function ActiveXObject(progId) { return __host.CreateObject(progId); }
Object.defineProperty(Error.prototype, "description", {
  get: function () { return this.__description !== undefined ? this.__description : this.message; },
  set: function (v) { this.__description = v; }, configurable: true });
Object.defineProperty(Error.prototype, "number", {
  get: function () { return this.__number !== undefined ? this.__number : 0; },
  set: function (v) { this.__number = v; }, configurable: true });
)";

// Interrupts the engine when a call outlives the time-out.
class TWatchdog {
public:
  TWatchdog(QJSEngine &Engine, int TimeoutMs) : FEngine(Engine) {
    FThread = std::thread([this, TimeoutMs] {
      std::unique_lock lock(FLock);
      if (!FDone.wait_for(lock, std::chrono::milliseconds(TimeoutMs), [this] { return FStop; })) {
        FFired = true;
        FEngine.setInterrupted(true);
      }
    });
  }
  ~TWatchdog() {
    {
      std::lock_guard lock(FLock);
      FStop = true;
    }
    FDone.notify_all();
    FThread.join();
  }
  bool Fired() const { return FFired; }

private:
  QJSEngine &FEngine;
  std::mutex FLock;
  std::condition_variable FDone;
  bool FStop = false;
  std::atomic<bool> FFired{false};
  std::thread FThread;
};

} // namespace

QString RewriteMultiLineStrings(const QString &Text) {
  QString s = Text;
  static const QString insert = QStringLiteral("\\n\"+\n\"");
  bool inside = false;
  qsizetype i = 0;
  while (i < s.size() - 1) {
    const QChar c = s[i];
    if (!inside) {
      inside = c == '"';
    } else if (c == '\r' && s[i + 1] == '\n') {
      s.insert(i, insert);
      i += insert.size();
      while (i < s.size() && (s[i] == '\r' || s[i] == '\n'))
        s.remove(i, 1);
    } else if (c == '\n') {
      s.insert(i, insert);
      i += insert.size();
      while (i < s.size() && s[i] == '\n')
        s.remove(i, 1);
    } else if (c == '"') {
      inside = false;
    }
    ++i;
  }
  return s;
}

TScriptHost::TScriptHost(const QString &WorkFolder, int TimeoutMs)
    : FWorkFolder(QDir(WorkFolder).absolutePath()), FTimeoutMs(TimeoutMs), FEngine(std::make_unique<QJSEngine>()) {
  FEngine->globalObject().setProperty("__host", FEngine->newQObject(this));
  QJSEngine::setObjectOwnership(this, QJSEngine::CppOwnership);
  const QJSValue r = FEngine->evaluate(Prelude, "prelude");
  Q_ASSERT(!r.isError());
}

TScriptHost::~TScriptHost() {
  // Streams left open are written now, while the engine still exists.
  for (TScriptTextStream *s : findChildren<TScriptTextStream *>())
    delete s;
}

void TScriptHost::Fail(const QJSValue &Error, const QString &Source, const QString &Code, bool TimedOut) {
  const int line = Error.property("lineNumber").toInt();
  const QString description =
      TimedOut ? QStringLiteral("script time-out %1 ms").arg(FTimeoutMs) : Error.property("message").toString();
  const QString source = Error.property("name").toString() + " in " + Source;
  const QString text = line > 0 ? Code.split('\n').value(line - 1).trimmed() : QString();
  for (const QString &l : {QStringLiteral("Script error"), "Source: " + source, "Description: " + description,
                           "Text: " + text, "Line: " + QString::number(line), QStringLiteral("Column: 0")})
    Logger().Error(l);
  throw EKvError(description);
}

QJSValue TScriptHost::Call(const std::function<QJSValue()> &Body, const QString &Source, const QString &Code) {
  FEngine->setInterrupted(false);
  QJSValue result;
  bool fired = false;
  {
    TWatchdog dog(*FEngine, FTimeoutMs);
    result = Body();
    fired = dog.Fired();
  }
  if (fired || result.isError())
    Fail(result, Source, Code, fired);
  return result;
}

void TScriptHost::AddCode(const QString &Text, const QString &Source) {
  Call([&] { return FEngine->evaluate(Text, Source); }, Source, Text);
}

QString TScriptHost::Eval(const QString &Expression) {
  return Call([&] { return FEngine->evaluate(Expression, "eval"); }, "eval", Expression).toString();
}

void TScriptHost::Run(const QString &Procedure, const QString &Argument) {
  Call(
      [&] {
        QJSValue f = FEngine->globalObject().property(Procedure);
        if (!f.isCallable())
          return FEngine->evaluate("throw new TypeError('" + Procedure + " is not a function')", "run");
        return f.call({QJSValue(Argument)});
      },
      Procedure, QString());
}

QString TScriptHost::ScriptPath(const QString &Name) const {
  QString n = Name;
  n.replace('\\', '/');
  const bool absolute = QDir::isAbsolutePath(n) || (n.size() > 1 && n[1] == ':');
  if (n.isEmpty() || absolute || n.split('/').contains(".."))
    throw EKvError("path outside the work folder: " + Name);
  const QString path = ResolveFileNameCI(FWorkFolder, n);
  const QString root = QFileInfo(FWorkFolder).canonicalFilePath();
  const QFileInfo fi(path);
  // An existing name (a link included) must end inside; a new one must lie in a folder inside.
  const QString real = fi.exists() || fi.isSymLink() ? fi.canonicalFilePath() : QFileInfo(fi.path()).canonicalFilePath();
  if (real.isEmpty() || !(real == root || real.startsWith(root + '/')))
    throw EKvError("path outside the work folder: " + Name);
  return path;
}

QJSValue TScriptHost::CreateObject(const QString &ProgId) {
  if (ProgId.compare("Scripting.FileSystemObject", Qt::CaseInsensitive) != 0) {
    FEngine->throwError("unsupported ActiveXObject: " + ProgId);
    return {};
  }
  return FEngine->newQObject(new TScriptFileSystem(this));
}

TScriptFileSystem::TScriptFileSystem(TScriptHost *Host) : QObject(Host), FHost(Host) {}

namespace {
// Runs F, turning our errors into script exceptions (never across the engine).
template <typename R, typename F> R Guarded(QObject *Self, F Body) {
  try {
    return Body();
  } catch (const EKvError &e) {
    if (QJSEngine *engine = qjsEngine(Self))
      engine->throwError(e.Text());
    return R();
  }
}
} // namespace

QObject *TScriptFileSystem::CreateTextFile(const QString &Name, bool Overwrite) {
  return Guarded<QObject *>(this, [&]() -> QObject * {
    const QString path = FHost->ScriptPath(Name);
    if (!Overwrite && QFileInfo::exists(path))
      throw EKvError("file exists: " + Name);
    return new TScriptTextStream(FHost, path, QString(), true);
  });
}

QObject *TScriptFileSystem::OpenTextFile(const QString &Name, int Mode, bool Create) {
  return Guarded<QObject *>(this, [&]() -> QObject * {
    const QString path = FHost->ScriptPath(Name);
    const bool exists = QFileInfo::exists(path);
    if (!exists && !(Create && Mode != 1))
      throw EKvError("file not found: " + Name);
    if (Mode != 1 && Mode != 2 && Mode != 8)
      throw EKvError("invalid file mode: " + QString::number(Mode));
    const QString text = exists && Mode != 2 ? DecodeFileText(LoadFileBytes(path), path) : QString();
    auto *s = new TScriptTextStream(FHost, path, text, Mode != 1);
    if (Mode == 8)
      s->ReadAll(); // appending starts at the end
    return s;
  });
}

bool TScriptFileSystem::FileExists(const QString &Name) {
  return Guarded<bool>(this, [&] { return QFileInfo(FHost->ScriptPath(Name)).isFile(); });
}

void TScriptFileSystem::DeleteFile(const QString &Name) {
  Guarded<int>(this, [&] {
    const QString path = FHost->ScriptPath(Name);
    if (!QFile::remove(path))
      throw EKvError("cannot delete " + Name);
    return 0;
  });
}

TScriptTextStream::TScriptTextStream(QObject *Parent, const QString &Path, const QString &Text, bool Writable)
    : QObject(Parent), FPath(Path), FText(Text), FWritable(Writable) {
  QJSEngine::setObjectOwnership(this, QJSEngine::CppOwnership);
}

TScriptTextStream::~TScriptTextStream() {
  try {
    Flush();
  } catch (const EKvError &e) {
    Logger().Error(e.Text());
  }
}

void TScriptTextStream::Write(const QString &Text) {
  if (FOpen && FWritable)
    FText += Text;
}
void TScriptTextStream::WriteLine(const QString &Text) { Write(Text + "\r\n"); }
void TScriptTextStream::WriteBlankLines(int Count) {
  for (int i = 0; i < Count; ++i)
    Write("\r\n");
}

QString TScriptTextStream::ReadLine() {
  qsizetype end = FText.indexOf('\n', FPos);
  if (end < 0)
    end = FText.size();
  QString line = FText.mid(FPos, end - FPos);
  FPos = std::min(end + 1, FText.size());
  if (line.endsWith('\r'))
    line.chop(1);
  return line;
}

QString TScriptTextStream::ReadAll() {
  const QString rest = FText.mid(FPos);
  FPos = FText.size();
  return rest;
}

void TScriptTextStream::Close() {
  Guarded<int>(this, [this] {
    Flush();
    return 0;
  });
}

void TScriptTextStream::Flush() {
  if (!FOpen)
    return;
  FOpen = false;
  if (FWritable)
    SaveFileBytes(FPath, ToWin1251(FText));
}
