#pragma once
// One of the program's log files (the application log, the worker's
// "debug.log", the transport's trace): only ever appended to, and kept within
// a bound by whole generations. When the next lines would take the file past
// the generation size it is renamed Path + ".1", the earlier generations move
// up one (".1" to ".2", ...), those past the count are removed, and a new
// file begins with a line saying which session it continues. Nothing is
// rewritten or cut.
//
// Lines wait in a buffer until Flush, until the buffer fills, or until a
// crash signal (abort, segmentation fault, bus error, illegal instruction,
// arithmetic fault), whose handler writes every log file's buffer before the
// process dies; only a kill that cannot be caught loses the waiting lines.
//
// A file that cannot be opened, that refuses a line or whose next generation
// cannot begin (a read-only folder, a full disk, a folder out of inodes, a
// name taken by a folder) is told to the failure sink once per cause, as
// "Не удалось записать <path>: <reason>" with the path made absolute; the
// lines go on being kept in the buffer's place and nothing stops. The file
// written is always the one under the log's name: a generation that cannot
// begin leaves it there and it grows on, and a file removed or moved away
// from the name is followed by a new one under it (at the next Flush a second
// or more after the name was last checked, or at the next generation), never
// shifted or removed.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

struct TLogBound {
  // The settings' megabyte.
  static constexpr int64_t MB = 1000 * 1000;
  // A working day at a 2 s refresh and the last hour at 100 ms, for the
  // three logs together within 500 MB: each log keeps 19 earlier generations
  // of 8 MB besides the one being written, 160 MB at most and 152 MB at
  // least, past the 139 MB an hour the application log grows at 100 ms with
  // the title panel shown (the worker's 93 MB, the trace's 39 MB).
  static constexpr int64_t DefaultGenerationBytes = 8 * MB;
  static constexpr int DefaultGenerations = 19;
  // The most the settings may ask for: a larger value is taken as these.
  static constexpr int MaxGenerationMB = 1024;
  static constexpr int MaxGenerations = 999;

  TLogBound() = default;
  TLogBound(int64_t Bytes, int Count) : GenerationBytes(Bytes), Generations(Count) {}

  // A file passes to the next generation before it would grow past this.
  int64_t GenerationBytes = DefaultGenerationBytes;
  // Earlier generations kept besides the file being written; 1 to MaxGenerations.
  int Generations = DefaultGenerations;
  // What the settings of the bound held that was not taken as written, for
  // the application log to say once when it opens (TakeLogBoundNotes).
  QStringList Notes;
};

// The bound files opened from now on take: the settings' one, set at start,
// brought within 1 byte .. MaxGenerationMB and 1 .. MaxGenerations.
TLogBound LogBound();
void SetLogBound(TLogBound Bound);
// The notes of the bound set, once: the next call gives none.
QStringList TakeLogBoundNotes();

// Told of a log file's first failure since its Open: the text, in Russian.
// Called from the thread that met the failure (never from a signal handler),
// possibly while the application log's lock is held: the sink hands the text
// over and does not log. Without a sink the text goes to stderr.
using TLogFailureSink = std::function<void(const QString &Text)>;
void SetLogFailureSink(TLogFailureSink Sink);
// Gives Text to the sink (or stderr); an empty Text is nothing to tell.
void TellLogFailure(const QString &Text);
// The first failure of every log file of the process that failed since its
// Open and whose failure no caller of TLogFile::Close has taken (a log closed
// by its destructor, or still open: the worker's, the trace), in the order
// they failed, one text each; the next call gives only later ones. For the
// report when the program ends.
QStringList TakeLogFailures();

// Writes each of Count bytes as a blank and two uppercase hexadecimal digits
// (" 0A FF") from Out on, and returns the end; Out holds one byte more than
// the 3 * Count written (a pad the next character overwrites).
char *PutBlankHex(char *Out, const uint8_t *Bytes, size_t Count);

// "Не удалось записать <path>: <the system's reason for Error>".
QString CannotWriteText(const QString &Path, int Error);

// Moves the generations of Path up one: Path + ".N" for N >= Generations is
// removed, ".N" becomes ".N+1" from the top down, and Path becomes ".1".
// Only the generations there are touched: the folder is listed once.
// Generations is taken within 1 .. TLogBound::MaxGenerations. Stops at the
// first step that fails, so no generation is renamed over another. "" when
// done, else why not ("Не удалось записать <name>: <reason>").
QString ShiftLogGenerations(const QString &Path, int Generations);

class TLogFile {
public:
  // Makes Text one whole line in the file's own form (stamp, line end); for
  // the line that begins a new generation.
  using TLineFormat = std::function<QByteArray(const QByteArray &Text)>;

  explicit TLogFile(TLineFormat Format);
  // Writes the waiting lines and closes.
  ~TLogFile();
  TLogFile(const TLogFile &) = delete;
  TLogFile &operator=(const TLogFile &) = delete;

  // Opens Path for appending within the bound; an open file is closed first.
  // NewGeneration: a file already there (with something in it) becomes
  // generation 1 first, so the file starts empty and the previous run's
  // lines are kept. "" or "Не удалось записать <path>: <reason>".
  QString Open(const QString &Path, bool NewGeneration, TLogBound Bound = LogBound());
  bool IsOpen() const { return FOpen.load(std::memory_order_relaxed); }
  QString Path() const;
  // Adds whole lines (Bytes end with their line end). They are written at
  // Flush, or at once when they do not fit the buffer. Nothing when closed.
  void Append(const char *Bytes, size_t Size);
  void Append(const QByteArray &Bytes) { Append(Bytes.constData(), size_t(Bytes.size())); }
  // Writes the waiting lines now.
  void Flush();
  // Writes the waiting lines and closes. "" or the text of the first failure
  // since Open: the open itself, a line not taken, a generation not begun.
  // The caller reports it: TakeLogFailures no longer gives it.
  QString Close();

  // The buffer as the crash handler sees it.
  struct TPending;

private:
  // All under FLock.
  void FlushLocked();
  void BeginGenerationLocked();
  // At most once a second: when the file written is no longer the one under
  // the log's name (removed or moved away by hand), a new one takes the name.
  void FollowNameLocked();
  // Writes on in Fd, a new file under the name, from the session's line.
  void ContinueInLocked(int Fd);
  // Keeps the first failure for Close and the report, and each cause not
  // told since Open (or since the last generation begun) for the sink.
  void NoteFailureLocked(const QString &Text);
  // Close; Taken: the caller reports the failure returned.
  QString CloseFile(bool Taken);

  mutable std::mutex FLock;
  TLineFormat FFormat;
  std::unique_ptr<TPending> FPending;
  std::atomic<bool> FOpen{false};
  QString FPath;
  TLogBound FBound;
  // Regular files have generations; a device (/dev/full) is only written.
  bool FRotates = false;
  // Bytes the current file holds, as this object wrote them.
  int64_t FFileBytes = 0;
  // Files of this session so far, the one being written included.
  int FPart = 1;
  // When the name was last checked against the file written (FollowNameLocked).
  std::chrono::steady_clock::time_point FNameChecked;
  QString FFailure;        // the first failure since Open, for Close
  QStringList FUntold;     // failures the sink has not heard of yet
  QStringList FToldCauses; // the texts the sink has heard since Open
};
