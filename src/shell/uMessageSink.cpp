#include "uMessageSink.h"

#include "uErrors.h"
#include "uLogger.h"

namespace {
TMessageSink &Sink() {
  static TMessageSink s;
  return s;
}
TEdgeErrorHandler &EdgeHandler() {
  static TEdgeErrorHandler h;
  return h;
}
} // namespace

TMessageSink SetMessageSink(TMessageSink NewSink) {
  TMessageSink old = std::move(Sink());
  Sink() = std::move(NewSink);
  return old;
}

TMsgResult ShowMessageBox(TMsgKind Kind, const QString &Text) {
  if (Sink())
    return Sink()(Kind, Text);
  Logger().Info("message: " + Text);
  if (Kind == TMsgKind::Question)
    return TMsgResult::Cancel;
  return Kind == TMsgKind::YesNoQuestion || Kind == TMsgKind::NoFirstQuestion ? TMsgResult::No : TMsgResult::Ok;
}

void ShowMessageText(const QString &Text) { ShowMessageBox(TMsgKind::Info, Text); }

void ShowErrorText(const QString &Text) {
  Logger().Error(Text);
  ShowMessageBox(TMsgKind::Error, Text);
}

bool AskSaveBeforeClose(const QString &Question, const std::function<bool()> &Save) {
  switch (ShowMessageBox(TMsgKind::Question, Question)) {
  case TMsgResult::Yes:
    try {
      return Save();
    } catch (const EKvError &e) {
      ShowErrorText(e.Text());
      return false;
    }
  case TMsgResult::No:
    return true;
  default:
    return false;
  }
}

TEdgeErrorHandler SetEdgeErrorHandler(TEdgeErrorHandler Handler) {
  TEdgeErrorHandler old = std::move(EdgeHandler());
  EdgeHandler() = std::move(Handler);
  return old;
}

void LogEdgeError(const QString &Text) {
  Logger().Error(EdgeHandler() ? QStringLiteral("ApplicationException. ") + Text : Text);
}

void ShowEdgeError(const QString &Text) {
  if (EdgeHandler())
    EdgeHandler()(Text);
  else
    ShowErrorText(Text);
}
