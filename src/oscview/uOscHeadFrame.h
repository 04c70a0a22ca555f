#pragma once
// The oscillogram list ("Осциллограммы"): reads the device's directory
// (file 132) into "osch.bin" and lists one row per oscillogram; a double
// click reads one record (optionally with its events and only a time window),
// converts it to a COMTRADE pair under "osc/" in the program folder and opens
// it in a viewer tab, or opens the saved copy. A copy is the relay's it was
// read from: the side file names that relay and the directory entry, a row
// shows and opens only the identified relay's copy of its own entry, and a
// read never replaces another relay's copy or one that names no relay. A read
// reads the directory entry again right before the record and right after
// it, so that a slot the relay recorded into meanwhile is never saved under
// the row's name. The directory, window and side file rules live in kvosc
// (uOscHead); this unit is the page and its chains.
#include "uEventFrame.h"
#include "uOscHead.h"

#include <QWidget>
#include <functional>
#include <memory>

class QCheckBox;
class QLabel;
class QLineEdit;
class TIOChainGen;
class TIOChainList3;
class TSimpleDeviceDescriptor;
class TStringGrid;

// What the page needs of the main window: the journal page's needs, and more.
struct TOscHeadHost : TEventFrameHost {
  std::function<QString()> ProgramFolder; // absolute
  // The journal page's layout: osc_event.bin is decoded with it.
  std::function<std::shared_ptr<const TEventLayout>()> EventLayout;
  std::function<bool()> PrimaryValues;
  // A new closable viewer tab for the ".dat" DatFile: caption, tag, hint and
  // the name of the frame on it ("OscFrame%d").
  std::function<void(const QString &DatFile, const QString &Caption, int Tag, const QString &Hint,
                     const QString &FrameName)>
      OpenOscTab;
  std::function<void()> SaveAs; // the main window's save-as action
};

// Writes the side file SideFile of a copy read from Source: Source recorded,
// and, when EventFile is given and there, the events of Head found in that
// event ring file (decoded with Layout) in place of those it held. The rest
// of a side file already there stays (the engineer's notes, the viewer's
// set-up). One that does not parse is first kept beside it
// (KeepDamagedSideFile): the copy's name, else empty. Throws EKvError when
// the copy or the new file cannot be written.
QString OscWriteSideFile(const TOscHead &Head, const TOscSource &Source, const QString &EventFile,
                         const QString &SideFile, const std::shared_ptr<const TEventLayout> &Layout);

// What the engineer is told when the slot of a row held another record by
// the time it was read (before translation).
namespace OscReadTexts {
// The slot holds another record now: that one is read and saved as itself.
inline const char *const RecordedAnew = "Прибор записал новую осциллограмму на место выбранной: прочитана новая, список перечитан";
// The slot was rewritten while it was read: nothing is saved.
inline const char *const RewrittenDuringRead =
    "Прибор записал новую осциллограмму во время чтения: прочитанное не сохранено, список перечитан";
// The slot holds no record now.
inline const char *const Gone = "Осциллограммы больше нет в приборе: список перечитан";
// The "Сохраненный файл" of a copy that names no relay: it is opened only by a read.
inline const char *const NoRelayRecorded = "прибор не записан";
} // namespace OscReadTexts

class TOscHeadFrame : public QWidget {
  Q_OBJECT
public:
  explicit TOscHeadFrame(QWidget *Parent = nullptr);

  void SetHost(TOscHeadHost Host) { FHost = std::move(Host); }
  // The relay identified now (empty while none is): what a copy read records
  // and a row's copy is matched with.
  void SetUnitSource(std::function<TUnitIdentity()> Source) { FUnitSource = std::move(Source); }
  // One-time set-up at start: header, settings of section osc, debug/testOsc.
  void Init();
  // Frees the directory rows (identification starts again).
  void Clear();
  // Keeps the run-time descriptor (owned by the main window).
  void SetDescriptor(TSimpleDeviceDescriptor *Descriptor);
  TSimpleDeviceDescriptor *Descriptor() const { return FDescriptor; }
  // For every measure item of the descriptor with a `ccaddr` child, sets (adds
  // or replaces) its child `ccvalue` to the calibration value found for that
  // address. Nothing without a descriptor.
  void UpdateCcValues();
  // Reads and lists the directory; "Нет дескриптора" (or the missing bit
  // register) in the status bar sends nothing.
  void ReRead();
  // Lists a read directory file (the last step of ReRead).
  void ParseDirectory(const QString &FileName);
  // Reads the oscillogram of a row from the device; nothing while the link is
  // busy. The slot's entry is read again before the record and after it: a
  // slot holding another record is read as that record and saved under its
  // own name and times; one rewritten during the read (or emptied) is not
  // saved; either way the list is read again and the engineer told.
  void ReadOscillogram(const TOscHead &Head);
  // The double click on a data row (from 1): opens the row's own copy unless
  // "Читать" is ticked; any other row is read from the relay (a copy that
  // names no relay is never opened as this relay's).
  void sgOscHeadDblClick(int Row);
  void cbLimitClick();
  // The channel description document written to FileName.
  void ExportOscDescription(const QString &FileName);

  const std::vector<TOscHead> &Heads() const { return FHeads; }
  int FramesOpened() const { return FFrameCounter; }

  TStringGrid *sgOscHead = nullptr;
  QCheckBox *cbRead = nullptr, *cbLimit = nullptr, *cbEvents = nullptr;
  QLabel *LabelBefore = nullptr, *LabelAfter = nullptr;
  QLineEdit *EditBefore0 = nullptr, *EditAfter0 = nullptr, *EditFrame = nullptr;

private:
  QString ProgramPath(const QString &Name) const;
  QString WorkPath(const QString &Name) const;
  void Show(const QString &Text) const;
  void AddRow(int Row, const TOscHead &Head, const TOscSavedCopy &Copy);
  // Finds each row's copy again and shows it.
  void RefreshCopies();
  TUnitIdentity Unit() const { return FUnitSource ? FUnitSource() : TUnitIdentity(); }
  TOscDirectoryOptions DirectoryOptions() const;
  // The steps that read the directory into File.
  void AppendDirectoryRead(TIOChainList3 &Chain, const QString &File) const;
  // Each column at least as wide as its longest text.
  void FitColumns();
  struct TReadState;
  void OscReadDone(TReadState &State);
  void ConvertToComtrade(const TOscHead &Head, const QByteArray &Record, int DurationMs);
  void OpenTab(const TOscHead &Head);

  TOscHeadHost FHost;
  TSimpleDeviceDescriptor *FDescriptor = nullptr;
  std::function<TUnitIdentity()> FUnitSource;
  std::vector<TOscHead> FHeads;
  std::vector<TOscSavedCopy> FCopies;
  TOscDirectoryHead FDirHead;
  QString FNamePrefix = QStringLiteral("1");
  int FFrameCounter = 0;
};
