#pragma once
// The log pane: a view of the application log's kept lines, each in its
// level's colour, emptied when the log empties them (the 10000-line rule, the
// clear button); Ctrl + wheel changes the font size.
#include <QWidget>
#include <memory>

class QPlainTextEdit;
class QToolButton;

class TkvLogFrame : public QWidget {
  Q_OBJECT
public:
  explicit TkvLogFrame(QWidget *Parent = nullptr);
  ~TkvLogFrame() override;

  // Shows every line the log keeps and, from now on, each new line. The log
  // may be written from any thread; lines reach the pane on the main thread.
  void AttachLog();
  // Stops receiving lines (the tab is closing). Safe to call twice.
  void DetachLog();

  QPlainTextEdit *reLog = nullptr;
  QToolButton *ToolButton16 = nullptr;

protected:
  bool eventFilter(QObject *Watched, QEvent *Event) override;

private:
  void AppendLine(const QString &Line, int Level);
  struct TRelay;
  std::shared_ptr<TRelay> FRelay;
};
