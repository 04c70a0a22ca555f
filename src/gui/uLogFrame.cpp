#include "uLogFrame.h"

#include "uLogger.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>
#include <QStyle>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <mutex>

// The log calls its sink from whichever thread writes; the relay outlives the
// pane, and the pane pointer inside it is cleared under its lock on detach, so
// a late line never reaches a pane that is gone.
struct TkvLogFrame::TRelay {
  std::mutex Lock;
  TkvLogFrame *Frame = nullptr;
};

TkvLogFrame::TkvLogFrame(QWidget *Parent) : QWidget(Parent), FRelay(std::make_shared<TRelay>()) {
  auto *layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  auto *bar = new QToolBar(this);
  ToolButton16 = new QToolButton(bar);
  ToolButton16->setObjectName("ToolButton16");
  ToolButton16->setIcon(style()->standardIcon(QStyle::SP_DialogResetButton));
  ToolButton16->setToolTip(QStringLiteral("Очистить"));
  bar->addWidget(ToolButton16);
  layout->addWidget(bar);
  reLog = new QPlainTextEdit(this);
  reLog->setObjectName("reLog");
  reLog->setReadOnly(true);
  reLog->setLineWrapMode(QPlainTextEdit::NoWrap);
  reLog->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  reLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  reLog->viewport()->installEventFilter(this);
  layout->addWidget(reLog);
  // Attached, the button empties the log itself, which empties the view
  // through the clear callback after the lines already on their way.
  connect(ToolButton16, &QToolButton::clicked, this, [this] {
    bool isAttached;
    {
      std::lock_guard g(FRelay->Lock);
      isAttached = FRelay->Frame != nullptr;
    }
    if (isAttached)
      Logger().Clear();
    else
      reLog->clear();
  });
}

TkvLogFrame::~TkvLogFrame() { DetachLog(); }

void TkvLogFrame::AttachLog() {
  {
    std::lock_guard g(FRelay->Lock);
    FRelay->Frame = this;
  }
  std::weak_ptr<TRelay> weak = FRelay;
  // Both callbacks queue to the pane, so a clear keeps its place among the lines.
  const auto post = [weak](auto Job) {
    const auto relay = weak.lock();
    if (!relay)
      return;
    std::lock_guard g(relay->Lock);
    if (TkvLogFrame *frame = relay->Frame)
      QMetaObject::invokeMethod(frame, [frame, Job] { Job(frame); }, Qt::QueuedConnection);
  };
  Logger().SetSink(
      [post](const QString &Line, int Level) { post([Line, Level](TkvLogFrame *F) { F->AppendLine(Line, Level); }); },
      [post] { post([](TkvLogFrame *F) { F->reLog->clear(); }); });
}

void TkvLogFrame::AppendLine(const QString &Line, int Level) {
  QScrollBar *bar = reLog->verticalScrollBar();
  const bool isAtEnd = bar->value() == bar->maximum();
  QTextCharFormat format;
  format.setForeground(QColor(QRgb(TLogger::LevelColor(Level))));
  QTextCursor c(reLog->document());
  c.movePosition(QTextCursor::End);
  if (!reLog->document()->isEmpty())
    c.insertBlock();
  c.insertText(Line, format);
  if (isAtEnd)
    bar->setValue(bar->maximum());
}

void TkvLogFrame::DetachLog() {
  bool wasAttached;
  {
    std::lock_guard g(FRelay->Lock);
    wasAttached = FRelay->Frame != nullptr;
    FRelay->Frame = nullptr;
  }
  if (wasAttached)
    Logger().SetSink({});
}

bool TkvLogFrame::eventFilter(QObject *Watched, QEvent *Event) {
  if (Event->type() == QEvent::Wheel) {
    auto *wheel = static_cast<QWheelEvent *>(Event);
    if (wheel->modifiers() & Qt::ControlModifier) {
      const int notches = wheel->angleDelta().y() / 120;
      if (notches != 0) {
        QFont f = reLog->font();
        f.setPointSizeF(qMax(1.0, f.pointSizeF() + notches));
        reLog->setFont(f);
      }
      return true;
    }
  }
  return QWidget::eventFilter(Watched, Event);
}
