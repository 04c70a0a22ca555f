#pragma once
// The device's oscillogram directory ("osch.bin", file 132) and what the
// oscillogram list derives from it and from the descriptor's `osc` section:
// the entries, the frames of a record, the names and durations of saved
// copies, the limit window, the events of an oscillogram and the channel
// description. GUI-free: the list page runs it, tests and fuzzing feed it bytes.
//
// Directory: a 16-byte head (count, entry size, time unit in seconds, -,
// index of the last entry written counted from 1), then 12-byte entries (3
// unused bytes, the 7-byte trigger stamp, time units before and after).
#include "ixml.h"
#include "uDateTime.h"
#include "uEventLogItem.h"
#include "uOscSideFile.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <vector>

inline constexpr int OscDirectoryFileNo = 132;
inline constexpr int OscFrameBytes = 128;
inline constexpr int OscSamplesPerSecond = 1800;
inline constexpr int OscBlocksPerSecond = 100;

// One directory entry.
struct TOscHead {
  uint8_t FFileNo = 0;
  TDateTime FStart = 0;  // trigger - before x unit
  TDateTime FMoment = 0; // trigger
  QString FFileName;     // saved copy relative to the program folder, without extension
  uint8_t FBefore = 0, FAfter = 0;
  int FMultiplier = 1;     // seconds per time unit of the directory
  uint16_t FFrameCount = 0; // last frame of the record file
  bool FLimited = false;

  int TotalSeconds() const { return (FBefore + FAfter) * FMultiplier; }
  // The same record of the directory: the same start to the millisecond and
  // the same lengths before and after the trigger.
  bool SameEntry(const TOscHead &Other) const;
  // End of the record: start + (before + after) x unit.
  TDateTime End() const;
};

struct TOscDirectoryHead {
  uint8_t Count = 0, EntrySize = 12, TimeUnit = 1, LastIndex = 0;
};

struct TOscDirectoryOptions {
  bool Cyclic = true;
  int SlotCount = 32;      // cyclic ring size
  bool MaxOscFlag = false; // linear entries placed back from the last index
  int BlockBytes = 0;
  QString NamePrefix = QStringLiteral("1");
};

// The entries of "osch.bin", newest first in the cyclic layout. The ring has
// no write pointer: while it holds empty slots (year byte 255, or a stamp of
// zeros) it is written in slot order whatever the relay's clock says, and the
// newest is the slot before an empty one (of several, the one of the latest
// stamp); a full ring's newest is the entry after which the stamps fall. Every
// valid cyclic entry is listed, one after a backward step of the clock too;
// damaged ones (no date) are passed over. Invalid linear entries are listed
// at 2000-01-01 00:30. A linear offset outside the file ends the listing
// (logged). Each entry's FFileName is the name of its second; the name a copy
// is saved under is the folder's (OscCopyName). Throws EKvRange when a frame
// count exceeds 65535.
std::vector<TOscHead> ParseOscDirectory(const QByteArray &Bytes, const TOscDirectoryOptions &Options,
                                        TOscDirectoryHead *Head = nullptr);

// Bytes of one 10 ms block: 36 per `osc/osc-measure`, 2 per started 16 bits
// of each `osc/osc-bitreg` register (its `string` children). Throws EKvError
// "no bitreg found for record-type %d" for a missing register.
int CalcBlockBytes(const IXXMLNode &Root);
// Last frame of a whole record: Round(BlockBytes x seconds x 100) div 128.
uint16_t OscFrameCount(int BlockBytes, int Seconds);
// "osc/" + Prefix + "_" + Start as yyyy-mm-dd_hhnnss.
QString OscFileName(const QString &Prefix, TDateTime Start);

// A row's saved copy in the program folder: one read from the relay
// identified now of this very entry (Own), else one that names no relay
// (Unrecorded: saved before copies named their relay), else none. A copy of
// another relay, or of another entry of the same second, is no row's.
struct TOscSavedCopy {
  enum TKind { None, Own, Unrecorded };
  TKind Kind = None;
  QString Name; // relative to the program folder, without extension
};
// What a copy of Head read from Unit records.
TOscSource OscSourceOf(const TOscHead &Head, const TUnitIdentity &Unit);
// The copy of Head in ProgramFolder: among the names of its second (Head's
// FFileName, then that name with "_N"), those whose ".dat" is there.
TOscSavedCopy FindOscCopy(const QString &ProgramFolder, const TOscHead &Head, const TUnitIdentity &Unit);
// The name a read of Head from Unit is saved under: the name of the copy
// already read from the same unit of the same entry (its files are replaced
// by the read's), else the first name of the second that no file takes
// (".cfg", ".dat" or ".xml"): Head's FFileName, then with "_2", "_3", ... No
// read replaces a copy of another relay, of another entry, or one naming no
// relay. Throws EKvError past 999 names.
QString OscCopyName(const QString &ProgramFolder, const TOscHead &Head, const TUnitIdentity &Unit);
// The duration of a saved copy from its ".cfg": "%.2f сек." of
// (samples - 1) / rate; empty when the file cannot be read.
QString OscSavedDuration(const QString &CfgFileName);

// The limit window of one read.
class TOscLimit {
public:
  uint16_t FFrameFirst = 0, FFrameLast = 0;
  int FFirstOffset = 0, FLastOffset = 0;
  int FDurationMs = 0;
  TDateTime FStart = 0, FTrigger = 0;

  // Texts are seconds ("," or "."), cut to two decimals; a negative number
  // counts as 0; a before text that is no number keeps the whole before
  // time, an after text that is no number runs to the record's end. Throws
  // EKvError "Пустое окно" for a window of no length and EKvRange past 65535 frames.
  void Setup(const TOscHead &Head, int BlockBytes, const QString &BeforeText, const QString &AfterText);
};

// The side file of an oscillogram: an `event` element (moment
// "yy/mm/dd,hh:nn:ss.zzz", caption) per record of Records from the start to
// the end of the record, both included. Elements `event` already in Doc are
// replaced; everything else the viewer stored stays. Doc without a root gets `root`.
void OscEventsToXml(const IXXMLDocument &Doc, const TOscHead &Head, const TEventLogItems &Records);

// The channel description document (root `Osci`). Throws EKvError "no bitreg
// found for record-type %d".
IXXMLDocument OscDescription(const IXXMLNode &Root);
