#include "uPageControlHelper.h"
#include "uMultiLingual.h"

#include <QPointer>
#include <QStyle>
#include <QTabBar>
#include <QToolButton>

bool TTabSheetClosable::CloseTab() {
  if (FCloseDelay && FCloseDelay(this))
    return false;
  if (!QueryClose())
    return false;
  const TCloseEvent onClose = FOnClose; // the sheet and its copy are gone below
  if (onClose)
    onClose(this);
  for (QWidget *w = parentWidget(); w; w = w->parentWidget())
    if (auto *tabs = qobject_cast<QTabWidget *>(w)) {
      const int i = tabs->indexOf(this);
      if (i >= 0)
        tabs->removeTab(i);
      break;
    }
  delete this;
  if (onClose)
    onClose(nullptr);
  return true;
}

void TPageControl::tabInserted(int Index) {
  QTabWidget::tabInserted(Index);
  emit TabInserted(Index);
}

TPageControlHelper::TPageControlHelper(TPageControl *PageControl) : QObject(PageControl), FPageControl(PageControl) {
  for (int i = 0; i < PageControl->count(); ++i)
    AttachButton(i);
  connect(PageControl, &TPageControl::TabInserted, this, &TPageControlHelper::AttachButton);
}

void TPageControlHelper::AttachButton(int Index) {
  auto *sheet = qobject_cast<TTabSheetClosable *>(FPageControl->widget(Index));
  if (!sheet)
    return;
  sheet->SetCloseDelay(FCloseDelay);
  auto *button = new QToolButton;
  button->setObjectName("CloseButton");
  button->setAutoRaise(true);
  button->setIcon(FPageControl->style()->standardIcon(QStyle::SP_TitleBarCloseButton));
  button->setIconSize(QSize(10, 10));
  button->setFixedSize(14, 14);
  button->setToolTip(MultiLingual().Translate(QStringLiteral("Закрыть вкладку")));
  // The tab bar owns the button and disposes of it when the tab goes.
  FPageControl->tabBar()->setTabButton(Index, QTabBar::RightSide, button);
  QPointer<TTabSheetClosable> guarded(sheet);
  connect(button, &QToolButton::clicked, sheet, [guarded] {
    if (guarded)
      guarded->CloseTab();
  });
}

void TPageControlHelper::SetCloseDelay(TTabSheetClosable::TCloseDelay Delay) {
  FCloseDelay = std::move(Delay);
  for (int i = 0; i < FPageControl->count(); ++i)
    if (auto *sheet = qobject_cast<TTabSheetClosable *>(FPageControl->widget(i)))
      sheet->SetCloseDelay(FCloseDelay);
}

QAbstractButton *TPageControlHelper::CloseButton(QWidget *Sheet) const {
  const int i = FPageControl->indexOf(Sheet);
  if (i < 0)
    return nullptr;
  return qobject_cast<QAbstractButton *>(FPageControl->tabBar()->tabButton(i, QTabBar::RightSide));
}
