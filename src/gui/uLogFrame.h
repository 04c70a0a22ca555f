#pragma once
// The log pane: the application log's lines as they come, a button that
// clears the view, Ctrl + wheel to change the font size.
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
  struct TRelay;
  std::shared_ptr<TRelay> FRelay;
};
