#pragma once
// When the program's close and a tab's close go, wait or are given up. A
// write, once begun, runs to its end (its read-back and report included):
// a close that meets it waits, and goes on when that very write (matched by
// its chain's serial) has ended whole. A write that ended short (its
// report says what went and what did not) gives the engineer's close up, so
// the report is read first; a signal to end (SIGTERM, SIGINT) asks nothing
// and goes on whatever the write's end. Main thread only; no window here:
// the main window asks these rules and shows what they decide.
#include <QList>
#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>

class QSocketNotifier;

class TCloseRules {
public:
  // What the window does now.
  enum class TStep : uint8_t {
    None,        // nothing: the close did not wait for this
    Wait,        // a write runs: the close waits for it and the box says so
    WaitMore,    // the close already waits for that write: its box comes forward
    RejectModal, // another box is modal: it goes as "Отмена", the close comes again after it
    Ask,         // nothing runs: the unsaved-work questions, then the window closes
    Close,       // a signal's close: no question; what it drops is logged; the window closes
    Resume,      // the write waited for has ended: the close comes again
    Cancelled,   // the close is given up: the box goes, the write's report stays
  };

  // A signal to end came: the program's close asks no question from now on
  // and stays a signal's until it is given up ("Отменить закрытие").
  void SignalCame() { FSignal = true; }
  // The program's close ("Выход", the window's close box, or the one a
  // signal asks). Write is the serial of the write running now (0: none);
  // ModalOpen: a box other than the close's own is modal.
  TStep Close(uint64_t Write, bool ModalOpen);
  // A tab's close while Write (0: none) of its own runs: true when it is put
  // off until that write has ended.
  bool TabClose(const void *Tab, uint64_t Write);

  // The write Serial has ended; Short: its chain's failure says something
  // (refused, failed, cut, aborted, part-way, a value not kept, the logic
  // left stopped). Program: None when the program's close did not wait for
  // it, else Resume or Cancelled. The tabs that waited for it go (TabsGo)
  // or stay open (TabsStay).
  struct TWriteEnd {
    TStep Program = TStep::None;
    QList<const void *> TabsGo, TabsStay;
  };
  TWriteEnd WriteEnded(uint64_t Serial, bool Short);

  // "Отменить закрытие": every close that waits is given up (the write goes
  // on); false when none waited.
  bool Cancel();
  // A tab that went another way (closed, destroyed) waits no longer.
  void Forget(const void *Tab);

  // The program's close waits for this write (0: none).
  uint64_t ProgramWaitsFor() const { return FProgramWaits; }
  bool IsWaiting() const { return FProgramWaits != 0 || !FTabs.isEmpty(); }
  // A signal's close is under way: no question is asked, and a box that
  // would hold it (a write's own "Готово", any question) goes as "Отмена".
  bool IsSignalClose() const { return FSignal; }

  // Texts of the log, in Russian as the log keeps them; the three languages
  // are in the translation table.
  static const char *const WaitLine;         // "Закрытие %1 ждёт ..."; %1 program or tab, %2 the write
  static const char *const WriteDoneLine;    // %1 what the write wrote
  static const char *const WriteShortLine;   // %1 what, %2 how it ended
  static const char *const CancelledLine;    // "Отменить закрытие"
  static const char *const GivenUpLine;      // the write ended short: %1 what
  static const char *const NotSavedLine;     // a signal's close dropped %1
  // The line of a write's end: done, or not finished and why.
  static QString WriteEndText(const QString &What, const QString &Failure);
  // What NotSavedLine names: a page's caption, with its file when it has one.
  static QString UnsavedName(const QString &Caption, const QString &File);

private:
  struct TTabWait {
    const void *Tab;
    uint64_t Write;
  };
  uint64_t FProgramWaits = 0;
  bool FSignal = false;
  QList<TTabWait> FTabs;
};

// SIGTERM and SIGINT reach the program as a call of OnSignal on the main
// thread, from its event loop: a handler may only write to a descriptor, and
// the notifier reads it there. One at a time; the handlers that were there
// come back when it goes.
class TEndSignals : public QObject {
public:
  explicit TEndSignals(std::function<void()> OnSignal, QObject *Parent = nullptr);
  ~TEndSignals() override;
  // False when the descriptors could not be made: the signals keep their
  // default action (the program ends at once).
  bool IsInstalled() const { return FNotifier != nullptr; }

private:
  std::function<void()> FOnSignal;
  QSocketNotifier *FNotifier = nullptr;
};
