#include "uCloseRules.h"

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

TCloseRules::TStep TCloseRules::Close(TWho Who, uint64_t Write, bool ModalOpen) {
  if (Who == TWho::Signal)
    FSignal = true;
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
