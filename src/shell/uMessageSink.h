#pragma once
// Every message box of the program goes through one replaceable sink: the
// program installs one that shows dialogs, tests install one that records the
// text and answers at once, so nothing ever waits on a modal dialog unseen.
#include <QString>
#include <functional>

// Question offers Yes, No and Cancel; YesNoQuestion only Yes and No.
// NoFirstQuestion offers Yes and No with No the default: its Yes replaces
// something of the user's, which Enter alone must never do.
enum class TMsgKind { Info, Error, Question, YesNoQuestion, NoFirstQuestion };
enum class TMsgResult { Ok, Yes, No, Cancel };

// Text shown, kind; the result is Ok for Info/Error and Yes/No/Cancel for a question.
using TMessageSink = std::function<TMsgResult(TMsgKind Kind, const QString &Text)>;

// Installs Sink (an empty one restores the default, which only logs the text
// and answers Ok, or Cancel to a question). Returns the previous sink.
TMessageSink SetMessageSink(TMessageSink Sink);

TMsgResult ShowMessageBox(TMsgKind Kind, const QString &Text);
// A message box with Text (used for "Отчет сохранен в файле desc.txt" and similar).
void ShowMessageText(const QString &Text);
// The error box of the application: shows the text and logs it as an error.
void ShowErrorText(const QString &Text);
// Unsaved work about to go asks Question (Yes / No / Cancel, Cancel the
// default): Yes runs Save, No drops the work. True when the work may go;
// false when cancelled or when Save returned false or threw EKvError (its
// text is shown): nothing is lost.
bool AskSaveBeforeClose(const QString &Question, const std::function<bool()> &Save);

// What becomes of a failure that reached the program's edge (no command
// caught it): by default the error box. Once the custom-logic page is set up
// it is logged as "ApplicationException. <text>" and shown in the status
// line instead. An empty handler restores the default; the previous one is
// returned.
using TEdgeErrorHandler = std::function<void(const QString &Text)>;
TEdgeErrorHandler SetEdgeErrorHandler(TEdgeErrorHandler Handler);
void ShowEdgeError(const QString &Text);
// The log line of a failure that reached the program's edge and was already
// shown where it arose: "ApplicationException. <text>" once a handler holds
// the edge (the custom-logic page), a plain error line before.
void LogEdgeError(const QString &Text);
