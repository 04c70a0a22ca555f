#pragma once
// The viewer's side file: the data file's name with ".xml", holding the strip
// height, each channel's pen, visibility, phasor base, events shown and notes,
// and the record's events. Colours are stored as the program always stored
// them: 0x00BBGGRR. The file also names where the record was read: the relay
// and its directory entry (the element `source`), so that a copy is known as
// that relay's and never taken for another's.
#include "ixml.h"
#include "uOscNote.h"
#include "uUnitIdentity.h"

#include <QString>
#include <vector>

class TComtradeConfig;

struct TOscChannelSettings {
  uint32_t Color = 0; // 0x00BBGGRR
  int PenWidth = 2;
  bool Checked = true;
  bool BaseVector = false;
  QString Events;     // one "0"/"1" per event of the record
  TOscNoteList Notes;
};

// The view as a whole: the analog strip height and the phasor panel's last
// width (the panel itself always opens collapsed).
struct TOscViewSettings {
  int AnalogHeight = 38;
  int PhasorPanelWidth = 200;
  // Read from a side file that holds the viewer's look (the record's own or
  // one lent): false for defaults, so that the channels are chosen anew.
  bool HasLook = false;
};

// The side file of a data file.
QString OscSideFileName(const QString &DataFile);

// Where a saved copy was read: the relay identified then and the directory
// entry it listed (its start to the millisecond, its lengths and its file).
struct TOscSource {
  TUnitIdentity Unit;
  QString Start; // "yyyy-mm-dd hh:nn:ss.zzz"
  int BeforeSeconds = 0, AfterSeconds = 0;
  int FileNo = 0;

  // No relay recorded: a copy saved before copies named their relay.
  bool IsEmpty() const { return Unit.IsEmpty(); }
  // Read from the same unit (TUnitIdentity::SameUnit) and of the same entry:
  // the same start and both lengths (the file number is the slot, not the record).
  bool SameRecord(const TOscSource &Other) const;
};
// The source the side file document records; empty when it records none.
TOscSource OscSourceOf(const IXXMLDocument &Doc);
// Records Source in Doc (a root `root` is made when Doc has none), replacing
// what it recorded.
void SetOscSource(const IXXMLDocument &Doc, const TOscSource &Source);
// The source recorded in the side file FileName; empty when the file is not
// there, does not parse or records none.
TOscSource ReadOscSource(const QString &FileName);

// A side file that is there but could not be read: its path and why.
struct TOscSideFileSkip {
  QString Path;
  QString Reason;
};

// Reads FileName; when it does not exist or holds no look of the viewer's
// (a fresh copy's names only its relay and maybe its events), only the look of
// Fallback (the side file of another record: strip height, phasor panel, each
// channel's pen, check and phasor base), never its notes or events: Events
// holds FileName's own events, if any, and no channel's notes change.
// View.HasLook tells whether a look was read. False (nothing changed) when
// neither exists.
// Channels are matched by position; a channel without an element keeps its
// settings. Events outside the record are dropped; afterwards every channel's
// events string has exactly one character per kept event. A missing or
// non-positive width reads as 200. A document that does not parse (an empty
// one too) is logged and read as no file: false, and Skipped (when given)
// names it and says why.
bool LoadOscSideFile(const QString &FileName, const QString &Fallback, const TComtradeConfig &Config,
                     int SampleCount, TOscViewSettings &View, const std::vector<TOscChannelSettings *> &Channels,
                     TOscEventList &Events, TOscSideFileSkip *Skipped = nullptr);
// Keeps a side file that could not be read byte for byte beside it before it
// is replaced: FileName + ".bad", or the first free FileName + ".bad.N" when
// that name holds other bytes. Returns the copy's name. Throws EKvError as
// LoadFileBytes and SaveFileBytes do (the side file is then not to be replaced).
QString KeepDamagedSideFile(const QString &FileName);
// What the engineer is told of the copy (%1 its name), before translation.
inline const char *const DamagedSideFileKeptText = "Поврежденный файл сохранен как %1";
// Writes the side file (Windows-1251 XML) through the save helper. The
// source the file it replaces records is kept: the view's settings are saved
// over a copy, never over where it came from.
void SaveOscSideFile(const QString &FileName, const TOscViewSettings &View,
                     const std::vector<const TOscChannelSettings *> &Channels, const TOscEventList &Events);
// The moment of an event text "yy.mm.dd hh:nn:ss.zzz" (fixed positions;
// separators not read); 2000-01-01 00:00:30.000 when it is no valid moment.
double OscEventMoment(const QString &Text);
