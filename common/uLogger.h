#pragma once
// The application log: lines "hh.nn.ss.zzz LEVEL text", kept in memory (the
// list is emptied when it holds 10000 lines and another comes), appended to
// the log file as they come so that a crash loses nothing, and shown in the
// log pane when one is attached. The kept lines are the one model behind the
// pane and the ".rtf": the pane only mirrors them. The file is only ever
// appended to and passes to generations within the bound (TLogFile), so its
// generations hold the whole session whatever the kept lines lost.
//
// A line reaches the file in the write() that ends its Write, or, inside a
// TBatch, in the one write() that ends the batch; a crash signal writes the
// pending lines before the process dies (TLogFile), so only a kill that
// cannot be caught loses lines, and only those of a batch in progress.
// Any line written outside a batch writes every pending line before it.
#include "uLogFile.h"

#include <QString>
#include <QStringList>
#include <QList>
#include <QByteArrayView>
#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <tuple>
#include <type_traits>
#include <vector>

class TLogger {
public:
  enum TLevel { lvInfo = 0, lvError = 1, lvDebug = 2 };
  // A pane shows lines as they come: (line, level). It is attached by the main window.
  using TSink = std::function<void(const QString &Line, int Level)>;
  // Told to empty the pane when the kept lines are emptied.
  using TClearSink = std::function<void()>;

  TLogger();
  ~TLogger();

  // Opens FileName for appending (folder + program name + ".log") within
  // the logs' bound and logs "Application started", then the bound's notes
  // (TakeLogBoundNotes) at the error level; NewGeneration first
  // keeps the file already there as generation 1 (a run's start). Before
  // Open lines are only kept in memory. Returns "" or "Не удалось записать
  // <path>: <reason>" when the file cannot be opened (the lines are then kept
  // in memory only); the failure sink is told as well.
  QString Open(const QString &FileName, bool NewGeneration = false);
  // Logs "Application stopped" and closes the file, which keeps every line
  // written since Open after what it held before; with a pane attached also
  // writes the kept lines as coloured rich text to the log file's name +
  // ".rtf" in the current folder. Does nothing when not opened. Returns "" or
  // the failures for the close handler to show, one line each: this log's
  // first ("Не удалось записать <path>: <reason>": the file could not be
  // opened, did not take a line or could not begin a generation), the rich
  // copy's save error, then the first of every other log file of the process
  // that failed (TakeLogFailures: the worker's "debug.log", the trace). It
  // never throws, so it is safe on every exit path.
  QString Close();
  // Appends one line to FileName without opening the log: for a copy of the
  // program that stops at start, whose log file is the running copy's.
  // "" or "Не удалось записать <path>: <reason>".
  static QString AppendLine(const QString &FileName, int Level, const QString &Text);

  void Info(const QString &Text) { Write(lvInfo, Text); }
  void Error(const QString &Text) { Write(lvError, Text); }
  void Debug(const QString &Text) { Write(lvDebug, Text); }
  void Write(int Level, const QString &Text);
  // Text already in UTF-8: a hot caller builds its bytes without a QString.
  void WriteUtf8(int Level, QByteArrayView Text);
  // Empties the kept lines and tells the pane (its clear button); the file keeps them.
  void Clear();

  // printf-style forms; QString arguments are passed as text ("%s").
  template <typename... A> void InfoFmt(const char *Fmt, const A &...Args) { Write(lvInfo, Format(Fmt, Args...)); }
  template <typename... A> void ErrorFmt(const char *Fmt, const A &...Args) { Write(lvError, Format(Fmt, Args...)); }
  template <typename... A> void DebugFmt(const char *Fmt, const A &...Args) { Write(lvDebug, Format(Fmt, Args...)); }

  // Attaches (or with an empty function detaches) the log pane; the pane first
  // receives every line kept so far with its level. Clear, when given, is
  // called whenever the kept lines are emptied. Calls to both come in the
  // order of the changes they report, whichever threads write.
  void SetSink(TSink Sink, TClearSink Clear = nullptr);
  bool HasSink() const;
  // Whether a line written now reaches a file or a pane. Lines are kept all
  // the same; callers that log every device record skip the formatting of
  // their debug text while nobody listens (the program opens its log before
  // it talks to a device). Any thread; no lock.
  bool Listened() const { return FListened.load(std::memory_order_relaxed); }

  // Holds the file writes of the lines this thread logs to Log until the
  // outermost batch ends, and writes them then in one write(). For the lines
  // of device records, so that records cost few system calls. A thread that
  // waits in its event loop inside a batch (a reply's dialog) writes the held
  // lines first. Lines of other threads meanwhile are written at once, with
  // the held ones before them.
  class TBatch {
  public:
    // UntilIdle: an outermost batch that ends leaves its lines held until
    // the thread next waits in its event loop, or another line or batch
    // writes them; for the line of a record sent to the worker, which is in
    // progress until its answer's lines come. Without an event loop on the
    // thread it ends as the other kind does.
    enum TUntil { UntilEnd, UntilIdle };
    explicit TBatch(TLogger &Log, TUntil Until = UntilEnd);
    ~TBatch();
    TBatch(const TBatch &) = delete;
    TBatch &operator=(const TBatch &) = delete;

  private:
    TLogger &FLog;
    TLogger *FOuter;
    bool FHeldToIdle;
  };

  // Writes the lines batches hold, now.
  void Flush();

  QStringList Lines() const;
  QString FileName() const;
  static QString LevelName(int Level);
  // The pane colour of a level as 0xRRGGBB: navy, red, green.
  static uint32_t LevelColor(int Level);
  // The log file of a program: its folder, its file name with the extension
  // replaced by ".log" (/opt/kv/prog.exe gives /opt/kv/prog.log).
  static QString LogFileNameFor(const QString &ProgramFile);
  // The kept lines as rich text, each line in its level's colour.
  QByteArray RichText() const;

private:
  template <typename T> static auto Hold(const T &V) {
    if constexpr (std::is_convertible_v<T, QString> && !std::is_pointer_v<std::decay_t<T>>)
      return QString(V).toUtf8();
    else
      return V;
  }
  template <typename T> static auto Raw(const T &V) {
    if constexpr (std::is_same_v<T, QByteArray>)
      return V.constData();
    else
      return V;
  }
  template <typename... A> static QString Format(const char *Fmt, const A &...Args) {
    const auto held = std::make_tuple(Hold(Args)...);
    return std::apply([Fmt](const auto &...H) { return QString::asprintf(Fmt, Raw(H)...); }, held);
  }

  // One whole line at the time it is made, CR LF included.
  static QByteArray LineBytes(int Level, QByteArrayView Text);

  mutable std::mutex FLock;
  // Held while a change is made and passed to the sinks, so a clear and the
  // lines around it reach the pane in order; recursive for a sink that logs.
  std::recursive_mutex FOrder;
  // The kept lines one after another in UTF-8, each with its CR LF, as the
  // file gets them; emptied without giving its memory back, so that a full
  // list costs no allocation per line.
  struct TLineAt {
    size_t At;
    size_t Size; // without CR LF
    int Level;
  };
  QByteArray FText;
  std::vector<TLineAt> FLines;
  QStringList Texts() const;
  void ClearLines();
  QString FFileName;
  TLogFile FFile;
  bool FOpened = false; // Open was called since the last Close
  // The stamp's "hh.nn.ss." for FStampSecond: the calendar is worked out once a second.
  time_t FStampSecond = -1;
  char FStampHead[16] = {};
  std::atomic<bool> FListened{false}; // FFile open or FSink set
  TSink FSink;
  TClearSink FClear;
};

// The process-wide log. Safe to use from any thread.
TLogger &Logger();
