#pragma once
// The title panel page ("Текущие значения"): a user-designed page of
// device-bound controls kept in an XML file. On refresh it reads its
// controls' registers, the device clock when a control shows it and the
// newest records of the device's event ring; a press on a writable virtual
// input, a choice in a writable enumeration or a setpoint entered writes to
// the device after the password step. Main thread only.
#include "ixml.h"
#include "uControlRules.h"
#include "uIOChain3.h"
#include "uPageChains.h"

#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>

class TSimpleDeviceDescriptor;
class TShape;
class TEventView;
class QScrollArea;

using TDashboardHost = TPageHost;

class TkvDashboardFrame : public QWidget {
  Q_OBJECT
public:
  explicit TkvDashboardFrame(QWidget *Parent = nullptr);
  ~TkvDashboardFrame() override;

  // The host's chains tell the panel when the identification changes or the
  // link fails: an open drop-down list closes without a choice.
  void SetHost(const TDashboardHost &Host);
  const TPageHost &Host() const { return FHost; }
  // Loads the panel from FileName (kept as the panel's current file) and
  // restarts the event ring. A missing or broken file is reported through the
  // host and leaves the panel empty. A panel changed and not saved is kept
  // (bound to the descriptor) with the file it came from, and stays marked
  // changed. Asked while a
  // control's change handler runs (its password box open), the load, as a
  // binding, waits until the handler has returned: no control is deleted
  // under its own signal.
  void Init(const QString &FileName);
  // Loads the page. Throws EKvError "cannot open " + path + the reason, or
  // path + the parser's reason + CR + "Ъ" + the source line, or EKvFormat for
  // a file past its limits (LoadPageDocument); the bad elements and values of
  // a file are reported through the host once, together, and loading goes
  // on. Init's reloads at each identification do not report again what was
  // reported since the last LoadFromFile or Save.
  void LoadFromFile(const QString &FileName);
  // Writes the page to FileName, or to its current file when empty. A current
  // file that did not load whole (refused, or elements dropped or half-read)
  // is replaced only when the user answers yes; false when not saved.
  bool Save(const QString &FileName);
  // A panel holding unsaved changes asks before they go (Да / Нет / Отмена):
  // Да saves them to the current file. True when the panel may be replaced.
  bool QueryClose();
  // The last load of the current file refused it or left something out.
  bool IsIncomplete() const { return FIncomplete; }
  // Binds every control to Descriptor (owned by the main window).
  void SetDescriptor(TSimpleDeviceDescriptor *Descriptor);
  // A load or binding waits for a control's change handler to return.
  bool IsRebuildPending() const { return FLoadPending || FBindPending; }
  TSimpleDeviceDescriptor *Descriptor() const { return FDescriptor; }
  // Every control shows its value from the register image.
  Q_INVOKABLE void ShowValues();
  // After a language switch: the texts made of values (the dates' month
  // names) in the new language; the captions are translated with the window.
  void FollowLanguage();
  // Starts the refresh chain.
  void Refresh();
  void SetPrimaryValues(bool Value);
  void UpdateMeasureFactors();
  void UpdateBitNames();
  // Attaches the press handler to every writable virtual-input group.
  void SetBitHandlers();
  // One tick of the virtual-input pulse.
  void PulseTick();
  bool IsModified() const { return FModified; }
  void SetModified(bool Value) { FModified = Value; }
  // While the designer is open on the panel, the panel counts as changed:
  // an identification binds it again but never reloads it under the designer.
  void SetDesignerOpen(bool Value) { FDesignerOpen = Value; }
  QString FileName() const { return FFileName; }
  // Controls bound by an identification not yet ready take its epoch once
  // it is (called from the event loop after every epoch change).
  void ConfirmBindings();
  // Tests: the controls it names are left out of the binding, as a binding
  // that forgets a control would.
  std::function<bool(QWidget *Control)> SkipBinding;

  // Chain callbacks and change handlers (public for the designers and tests).
  void SetEventFrameSize(TIOChain3 *Next);
  void SetEventRange(TIOChain3 *Next);
  void ReadEvents();
  void BitClick(TShape *Circle);
  void ParamEnumChange(uint16_t Reg, int16_t Value);
  void UstavChange(uint16_t Reg, uint16_t Value, uint16_t Mask);
  void MergeBits(QIODevice *Stream);

  // The container of every control.
  QWidget *Panel = nullptr;
  QScrollArea *ScrollBox = nullptr;

private:
  // Held while the change handler of Control runs.
  class THandling {
  public:
    THandling(TkvDashboardFrame &Frame, QWidget *Control);
    ~THandling();

  private:
    TkvDashboardFrame &FFrame;
    QPointer<QWidget> FOuter;
  };
  void Bind(QWidget *Control);
  // A control's write through the write gate; a refused value is shown and
  // the panel reads the device again. True when the write was started.
  bool WriteControl(uint16_t Reg, uint16_t Value, uint16_t Mask, bool ReadAfter);
  // The load or binding asked while a handler ran, once none runs.
  void ApplyPending();
  void CloseDropDowns();
  void Load(const QString &FileName);
  void ReportProblem(const QString &Text);
  // The problems of one load or binding, in one report naming the file.
  void ReportProblems(const QStringList &Problems);
  TEventView *FirstEventView() const;
  // The event ring is read from its start at the next refresh.
  void ResetEventCursor();
  void FitPanel();

  // The epoch a control bound now is bound for.
  uint64_t BindingEpoch() const;
  TDashboardHost FHost;
  QString FFileName;
  IXXMLDocument FDoc;
  IXXMLNode FRoot;
  TSimpleDeviceDescriptor *FDescriptor = nullptr;
  bool FModified = false;
  bool FDesignerOpen = false;
  bool FIncomplete = false;
  // Reports given to the host since the last load the user asked for or
  // save: the same file reloaded at identification says nothing new.
  QStringList FReported;
  bool FPrimaryValues = false;
  uint16_t FWriteMask = 0xFFFF, FWriteValue = 0;
  TEventCursor FEvents;
  // Counts the cursor's resets; the range read was asked at FEventsAsked.
  uint64_t FEventsEpoch = 0, FEventsAsked = 0;
  int FRecordSize = 9;
  // The event list a refresh reads into; it goes with a panel reloaded meanwhile.
  QPointer<TEventView> FView;
  // The control whose change handler runs (null once it has gone), and how
  // many handlers are on the stack.
  QPointer<QWidget> FHandled;
  int FHandlers = 0;
  bool FLoadPending = false, FBindPending = false;
  QString FPendingFileName; // the file of the load put off
  TIdentFollower FIdent;
};
