#pragma once
// What the title panel and the device boards share: the main window's side
// they need, the registers their controls poll, how controls are given their
// values and the clock, and the chain of a user's register write.
#include "ixml.h"

#include <QByteArray>
#include <QIODevice>
#include <QPointer>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>

class QObject;
class QWidget;
class TIOChainGen;
class TIOChainList3;
class TSimpleDeviceDescriptor;
struct TWriteRun;

// What a page of bound controls needs from the main window.
struct TPageHost {
  TIOChainGen *Chains = nullptr;
  // Makes the work folder the current folder (the event ring is read there).
  std::function<void()> EnterTempFolder;
  // True when the user may write: asks for the password when not logged in.
  std::function<bool()> Login;
  // Login for a write of What: a password box closed for the engineer names
  // What as not written (unset: Login).
  std::function<bool(const QString &What)> LoginFor;
  // Shows the load problems of a page file (all of one load in one text) and logs them.
  std::function<void(const QString &Text)> Report;
  // The epoch a control bound now is bound for: the identification's once it
  // is ready, BindingPending while none is (none: the chains' epoch).
  std::function<uint64_t()> BindingEpoch;
  // BindingEpoch's answer, or the chains' epoch without it (0 with neither).
  uint64_t Epoch() const;
  bool VirtualInputPulse = false; // dashboard/virtualInputPulse
  int TeleCount = 2;              // dashboard/teleCount
  int EventLogCount = 256;        // event/eventLogCount
};

// A page's tie to the identification epoch of one generator: Fn runs at
// each change (TIOChainGen::AddIdentListener). Following another generator,
// or the follower's end, cuts the tie before.
class TIdentFollower {
public:
  TIdentFollower() = default;
  TIdentFollower(const TIdentFollower &) = delete;
  TIdentFollower &operator=(const TIdentFollower &) = delete;
  ~TIdentFollower() { Stop(); }
  void Follow(TIOChainGen *Gen, std::function<void()> Fn);
  void Stop();

private:
  QPointer<TIOChainGen> FGen;
  int FToken = 0;
};

// True when the page file FileName may be replaced by a save: it loaded
// whole, it is not there, or the user answers yes to the question.
bool ConfirmReplacingIncomplete(bool Incomplete, const QString &FileName);

// Appends W as a 16-bit little-endian word (register lists and pairs).
void AppendWord(QByteArray &B, uint16_t W);

// The registers Panel's readable controls poll (16-bit little-endian numbers,
// in control order, duplicates kept). With Setpoints, the setpoint panels'
// registers of both groups too (panels without setpoint or a group the device
// lacks are skipped). SkipVirtualInputs leaves out groups of record type 20.
// Clock tells whether a field shows the device clock.
QByteArray PolledRegisters(QWidget *Panel, const TSimpleDeviceDescriptor *Desc, bool Setpoints,
                           bool SkipVirtualInputs, bool &Clock);
// Every control of Panel shows its value from the register image (Flags bit
// 0: primary values); setpoint panels show both groups.
void ShowControlValues(QWidget *Panel, TSimpleDeviceDescriptor *Desc, int Flags);
// The device clock (8 bytes of a clock read) into every clock field of Panel.
void ShowClockOn(QWidget *Panel, QIODevice *Stream);
// The refresh of a page of bound controls, not yet run: Regs (as
// PolledRegisters gives them) read into the register image, then Shown;
// with Clock, the device clock read into Panel's clock fields. The chain
// owns its streams and belongs to Page; Shown must be guarded by the caller
// (Guarded), the clock is shown only while Panel exists.
TIOChainList3 &PanelRefreshChain(TIOChainGen &Gen, QObject *Page, QWidget *Panel, const QByteArray &Regs, bool Clock,
                                 std::function<void()> Shown);
// A bound control's write of Value to Reg (under Mask: read, merge, write)
// through the write gate, with the limits Root's descriptor gives Reg; then
// reads it back and calls Shown while Page exists. Page owns the write chain
// (TIOChainList3::ownedBy): its close waits for the write. Throws EKvError
// with the limit report for a value outside them: nothing is sent and no
// password is asked. False when Login refuses. ReadAfter false leaves out the
// read-back (a pulse the device clears itself). With Control given, nothing
// is written and false returned when Control has gone while Login asked for
// the password; so too when Page has gone. BoundFor: the epoch the control
// was bound for (the write is prepared for it); none: the epoch now.
// LoginFor, when given, is asked instead of Login with the name of what is
// written, which a password box closed for the engineer names.
bool WriteBoundRegister(TIOChainGen &Gen, QObject *Page, const IXXMLNode &Root, uint16_t Reg, uint16_t Value,
                        uint16_t Mask, const std::function<bool()> &Login, const std::function<void()> &Shown,
                        bool ReadAfter = true, const QObject *Control = nullptr,
                        std::optional<uint64_t> BoundFor = {},
                        const std::function<bool(const QString &What)> &LoginFor = {});
// Makes Page the owner of the chain Run starts (RunWriteBatch) and lets
// Run.Shown and Run.Outcome act only while Page exists.
void OwnWriteRun(TWriteRun &Run, QObject *Page);
