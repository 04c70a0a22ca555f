#pragma once
// Every open and save dialog of the program goes through one replaceable
// sink, beside the message sink: the program installs one that shows the
// dialog, tests install one that answers at once with a path or a cancel, so
// no test waits on a modal dialog.
#include <QString>
#include <functional>

enum class TFileDialogKind { Open, Save };

struct TFileDialogRequest {
  TFileDialogKind Kind = TFileDialogKind::Open;
  QString Caption;
  // Without its point ("xlsx"); added to a typed name that has none.
  QString DefaultExt;
  // Filter lines as the dialog shows them, ";;" between two
  // ("Уставки (*.us);;Все файлы (*.*)").
  QString Filter;
  QString InitialDir;
  // The name proposed in the name field ("" for none).
  QString FileName;
};

// The chosen path, or an empty text when the user cancelled.
using TFileDialogSink = std::function<QString(const TFileDialogRequest &Request)>;

// Installs Sink (an empty one restores the default, which logs the request and
// cancels). Returns the previous sink.
TFileDialogSink SetFileDialogSink(TFileDialogSink Sink);

// Asks for a file; "" when cancelled. A save answer without an extension gets
// DefaultExt.
QString AskFileName(const TFileDialogRequest &Request);
