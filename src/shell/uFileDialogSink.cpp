#include "uFileDialogSink.h"

#include "uLogger.h"

#include <QFileInfo>

namespace {
TFileDialogSink &Sink() {
  static TFileDialogSink s;
  return s;
}
} // namespace

TFileDialogSink SetFileDialogSink(TFileDialogSink NewSink) {
  TFileDialogSink old = std::move(Sink());
  Sink() = std::move(NewSink);
  return old;
}

QString AskFileName(const TFileDialogRequest &Request) {
  if (!Sink()) {
    Logger().Info("file dialog: " + Request.Caption);
    return QString();
  }
  QString path = Sink()(Request);
  if (!path.isEmpty() && Request.Kind == TFileDialogKind::Save && !Request.DefaultExt.isEmpty() &&
      QFileInfo(path).suffix().isEmpty())
    path += u'.' + Request.DefaultExt;
  return path;
}
