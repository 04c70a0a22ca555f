#pragma once
// The oscillogram list ("Осциллограммы"): reads the device's directory
// (file 132) into "osch.bin" and lists one row per oscillogram; a double
// click reads one record (optionally with its events and only a time window),
// converts it to a COMTRADE pair under "osc/" in the program folder and opens
// it in a viewer tab, or opens the saved copy. The directory, window and side
// file rules live in kvosc (uOscHead); this unit is the page and its chains.
#include "uEventFrame.h"
#include "uOscHead.h"

#include <QWidget>
#include <functional>
#include <memory>

class QCheckBox;
class QLabel;
class QLineEdit;
class TIOChainGen;
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

// Puts the events of Head found in the event ring file EventFile (decoded
// with Layout) into the side file SideFile, its other content kept. A side
// file that does not parse is first kept beside it (KeepDamagedSideFile):
// the copy's name, else empty. Nothing without EventFile. Throws EKvError
// when the copy or the new file cannot be written.
QString OscEventsToSideFile(const TOscHead &Head, const QString &EventFile, const QString &SideFile,
                            const std::shared_ptr<const TEventLayout> &Layout);

class TOscHeadFrame : public QWidget {
  Q_OBJECT
public:
  explicit TOscHeadFrame(QWidget *Parent = nullptr);

  void SetHost(TOscHeadHost Host) { FHost = std::move(Host); }
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
  // Reads the oscillogram of a row from the device; nothing while the link is busy.
  void ReadOscillogram(const TOscHead &Head);
  // The double click on a data row (from 1).
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
  void AddRow(int Row, const TOscHead &Head);
  // Each column at least as wide as its longest text.
  void FitColumns();
  void OscReadDone(const TOscHead &Head, const TOscLimit &Limit, bool Limited);
  void ConvertToComtrade(const TOscHead &Head, const QByteArray &Record, int DurationMs);
  void OpenTab(const TOscHead &Head);

  TOscHeadHost FHost;
  TSimpleDeviceDescriptor *FDescriptor = nullptr;
  std::vector<TOscHead> FHeads;
  TOscDirectoryHead FDirHead;
  QString FNamePrefix = QStringLiteral("1");
  int FFrameCounter = 0;
};
