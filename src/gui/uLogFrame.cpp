#include "uLogFrame.h"

#include "uLogger.h"

#include <QPlainTextEdit>
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
  connect(ToolButton16, &QToolButton::clicked, reLog, &QPlainTextEdit::clear);
}

TkvLogFrame::~TkvLogFrame() { DetachLog(); }

void TkvLogFrame::AttachLog() {
  {
    std::lock_guard g(FRelay->Lock);
    FRelay->Frame = this;
  }
  std::weak_ptr<TRelay> weak = FRelay;
  Logger().SetSink([weak](const QString &Line, int) {
    const auto relay = weak.lock();
    if (!relay)
      return;
    std::lock_guard g(relay->Lock);
    if (TkvLogFrame *frame = relay->Frame)
      QMetaObject::invokeMethod(frame, [frame, Line] { frame->reLog->appendPlainText(Line); }, Qt::QueuedConnection);
  });
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
