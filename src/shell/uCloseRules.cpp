#include "uCloseRules.h"

#include <QDir>
#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

const char *const TCloseRules::WaitLine = "Закрытие %1 ждёт окончания записи: %2";
const char *const TCloseRules::WriteDoneLine = "Запись завершена: %1";
const char *const TCloseRules::WriteShortLine = "Запись не завершена: %1: %2";
const char *const TCloseRules::CancelledLine = "Закрытие отменено, запись продолжается";
const char *const TCloseRules::GivenUpLine = "Закрытие отменено: запись не завершена: %1";
const char *const TCloseRules::NotSavedLine = "Не сохранено при закрытии: %1";

QString TCloseRules::WriteEndText(const QString &What, const QString &Failure) {
  return Failure.isEmpty() ? QString::fromUtf8(WriteDoneLine).arg(What)
                           : QString::fromUtf8(WriteShortLine).arg(What, Failure);
}

QString TCloseRules::UnsavedName(const QString &Caption, const QString &File) {
  return File.isEmpty() ? Caption : QStringLiteral("%1 (%2)").arg(Caption, QDir::toNativeSeparators(File));
}

TCloseRules::TStep TCloseRules::Close(uint64_t Write, bool ModalOpen) {
  // A box open now belongs to code that waits for its answer: it goes first
  // (as "Отмена"), and that code runs on before the close is asked again.
  if (ModalOpen)
    return TStep::RejectModal;
  if (Write != 0) {
    if (FProgramWaits == Write)
      return TStep::WaitMore;
    FProgramWaits = Write;
    return TStep::Wait;
  }
  FProgramWaits = 0;
  return FSignal ? TStep::Close : TStep::Ask;
}

bool TCloseRules::TabClose(const void *Tab, uint64_t Write) {
  if (Write == 0)
    return false;
  for (TTabWait &w : FTabs)
    if (w.Tab == Tab) {
      w.Write = Write;
      return true;
    }
  FTabs.push_back({Tab, Write});
  return true;
}

TCloseRules::TWriteEnd TCloseRules::WriteEnded(uint64_t Serial, bool Short) {
  TWriteEnd end;
  if (Serial == 0)
    return end;
  for (qsizetype i = 0; i < FTabs.size();)
    if (FTabs[i].Write == Serial) {
      (Short ? end.TabsStay : end.TabsGo) << FTabs[i].Tab;
      FTabs.removeAt(i);
    } else {
      ++i;
    }
  // Only the write the close waits for decides it: an earlier write's end,
  // told late, never gives a later close up.
  if (FProgramWaits != Serial)
    return end;
  FProgramWaits = 0;
  end.Program = Short && !FSignal ? TStep::Cancelled : TStep::Resume;
  return end;
}

bool TCloseRules::Cancel() {
  const bool waited = IsWaiting();
  FProgramWaits = 0;
  FSignal = false;
  FTabs.clear();
  return waited;
}

void TCloseRules::Forget(const void *Tab) {
  for (qsizetype i = 0; i < FTabs.size(); ++i)
    if (FTabs[i].Tab == Tab) {
      FTabs.removeAt(i);
      return;
    }
}

namespace {
int SignalPipe[2] = {-1, -1};
struct sigaction OldActions[2];
constexpr int EndSignals[2] = {SIGTERM, SIGINT};

void OnEndSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = ::write(SignalPipe[0], &byte, 1);
}
} // namespace

TEndSignals::TEndSignals(std::function<void()> OnSignal, QObject *Parent)
    : QObject(Parent), FOnSignal(std::move(OnSignal)) {
  if (SignalPipe[0] >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM, 0, SignalPipe) != 0)
    return;
  FNotifier = new QSocketNotifier(SignalPipe[1], QSocketNotifier::Read, this);
  connect(FNotifier, &QSocketNotifier::activated, this, [this] {
    char byte;
    [[maybe_unused]] const ssize_t n = ::read(SignalPipe[1], &byte, 1);
    if (FOnSignal)
      FOnSignal();
  });
  struct sigaction action {};
  action.sa_handler = OnEndSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int i = 0; i < 2; ++i)
    ::sigaction(EndSignals[i], &action, &OldActions[i]);
}

TEndSignals::~TEndSignals() {
  if (!FNotifier)
    return;
  for (int i = 0; i < 2; ++i)
    ::sigaction(EndSignals[i], &OldActions[i], nullptr);
  FNotifier->setEnabled(false);
  for (int &fd : SignalPipe) {
    ::close(fd);
    fd = -1;
  }
}
